// Shell commands the tests run to set things up and to ask the system's own
// tools what they see.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// Exit status of a shell command, its output discarded.
inline int RunCommand(const std::string& command) {
  const int status = system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What the command writes to standard output, and to standard error too
// unless `withErrors` is false.
inline std::string CommandOutput(const std::string& command, bool withErrors = true) {
  std::string output;
  FILE* pipe = popen((withErrors ? command + " 2>&1" : command).c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  size_t count;
  while ((count = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, count);
  pclose(pipe);
  return output;
}
