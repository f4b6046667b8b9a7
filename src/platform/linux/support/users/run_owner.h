// The user a run is made for. A root run started through sudo is made for the
// user who ran sudo: the mount is theirs to read and the folder opens in their
// session. Every other run is made for the calling user.
#pragma once

#include <sys/types.h>

struct RunOwner {
  uid_t uid = 0;
  gid_t gid = 0;
  bool forSudoUser = false;  // root acting for SUDO_UID/SUDO_GID
};

RunOwner CurrentRunOwner();
