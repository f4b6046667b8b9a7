#include "session_user.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace {
constexpr int kMaxGroups = 65536;

// A folder or socket under /run/user/<uid> that belongs to that user.
bool OwnedBy(const std::string& path, uid_t uid, mode_t type) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 && (status.st_mode & S_IFMT) == type &&
         status.st_uid == uid;
}
}  // namespace

bool SessionUser::Prepare(const RunOwner& owner) {
  variables.clear();
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
    variables.emplace_back(*entry);
  switchUser = owner.forSudoUser;
  if (!switchUser) return true;
  uid = owner.uid;
  gid = owner.gid;
  std::vector<char> buffer(16384);
  passwd entry {};
  passwd* found = nullptr;
  getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
  groups.assign(1, gid);
  if (found != nullptr) {
    int count = 64;
    groups.resize(count);
    while (getgrouplist(found->pw_name, gid, groups.data(), &count) < 0) {
      if (count <= static_cast<int>(groups.size()) || count > kMaxGroups) return false;
      groups.resize(count);
    }
    groups.resize(count);
    SetSessionVariables(found->pw_dir, found->pw_name);
  } else {
    SetSessionVariables("/", std::to_string(uid));
  }
  return true;
}

// The variables a desktop opener finds the user's session by; root's own
// values would lead it to root's session or to files it may not read.
void SessionUser::SetSessionVariables(const std::string& home, const std::string& name) {
  SetVariable("HOME", home);
  SetVariable("USER", name);
  SetVariable("LOGNAME", name);
  const std::string runtime = "/run/user/" + std::to_string(uid);
  if (OwnedBy(runtime, uid, S_IFDIR)) SetVariable("XDG_RUNTIME_DIR", runtime);
  else RemoveVariable("XDG_RUNTIME_DIR");
  if (OwnedBy(runtime + "/bus", uid, S_IFSOCK))
    SetVariable("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + runtime + "/bus");
  else RemoveVariable("DBUS_SESSION_BUS_ADDRESS");
}

bool SessionUser::Become() const {
  if (!switchUser) return true;
  if (setgroups(groups.size(), groups.data()) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
    return false;
  // A process that could still regain root is not the user.
  if (setuid(0) == 0) {
    errno = EPERM;
    return false;
  }
  return true;
}

char* const* SessionUser::Environment() {
  pointers.clear();
  for (std::string& variable : variables) pointers.push_back(&variable[0]);
  pointers.push_back(nullptr);
  return pointers.data();
}

void SessionUser::SetVariable(const std::string& name, const std::string& value) {
  RemoveVariable(name);
  variables.push_back(name + "=" + value);
}

void SessionUser::RemoveVariable(const std::string& name) {
  const std::string prefix = name + "=";
  for (size_t i = 0; i < variables.size();) {
    if (variables[i].compare(0, prefix.size(), prefix) == 0) variables.erase(variables.begin() + i);
    else ++i;
  }
}
