#include "run_owner.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {
// A decimal id from the environment; false when absent or not a plain number.
bool ReadId(const char* name, unsigned long* id) {
  const char* text = getenv(name);
  if (text == nullptr || text[0] < '0' || text[0] > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long value = strtoul(text, &end, 10);
  if (errno != 0 || *end != '\0' || value >= static_cast<unsigned long>(static_cast<uid_t>(-1)))
    return false;
  *id = value;
  return true;
}
}  // namespace

RunOwner CurrentRunOwner() {
  RunOwner owner;
  owner.uid = geteuid();
  owner.gid = getegid();
  // Only root can act for another user, and only root's environment is
  // trusted to name one: a user setting SUDO_UID for themselves gains nothing.
  unsigned long uid = 0;
  unsigned long gid = 0;
  if (owner.uid == 0 && ReadId("SUDO_UID", &uid) && ReadId("SUDO_GID", &gid) && uid != 0) {
    owner.uid = static_cast<uid_t>(uid);
    owner.gid = static_cast<gid_t>(gid);
    owner.forSudoUser = true;
  }
  return owner;
}
