// The user a shown folder opens for: the calling user, or the user who ran
// sudo, in their own identity and desktop session rather than as root.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "run_owner.h"

class SessionUser {
 public:
  // Looks up, before any fork, what Become and Environment need: the user's
  // groups and session variables. False when the user's groups cannot be read.
  bool Prepare(const RunOwner& owner);
  // In the child about to start the opener: takes on the user's groups and
  // ids. False, with errno set, when the system refuses.
  bool Become() const;
  // The environment for the opener, ending in a null pointer.
  char* const* Environment();

 private:
  void SetVariable(const std::string& name, const std::string& value);
  void RemoveVariable(const std::string& name);
  void SetSessionVariables(const std::string& home, const std::string& name);

  bool switchUser = false;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
  std::vector<std::string> variables;
  std::vector<char*> pointers;
};
