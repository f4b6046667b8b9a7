#include <signal.h>

#include <string>
#include <vector>

#include "support/runtime/text.h"

// The program's wide entry point.
int wmain(int argc, wchar_t** argv, wchar_t** envp);

// Arguments arrive as UTF-8 and are handed on as wide text, with the null
// entry after the last one that a wide entry point relies on.
int main(int argc, char** argv) {
  // A write to a closed pipe or terminal fails with its error, as WriteFile
  // does on Windows, instead of ending the process in the middle of a
  // clean-up. Programs started from here get the default back.
  signal(SIGPIPE, SIG_IGN);
  std::vector<std::wstring> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(FromUtf8(argv[i]));
  std::vector<wchar_t*> pointers;
  for (std::wstring& argument : arguments) pointers.push_back(&argument[0]);
  pointers.push_back(nullptr);
  return wmain(argc, pointers.data(), nullptr);
}
