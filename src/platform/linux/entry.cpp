#include <string>
#include <vector>

#include "support/runtime/text.h"

// The program's wide entry point.
int wmain(int argc, wchar_t** argv, wchar_t** envp);

// Arguments arrive as UTF-8 and are handed on as wide text, with the null
// entry after the last one that a wide entry point relies on.
int main(int argc, char** argv) {
  std::vector<std::wstring> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(FromUtf8(argv[i]));
  std::vector<wchar_t*> pointers;
  for (std::wstring& argument : arguments) pointers.push_back(&argument[0]);
  pointers.push_back(nullptr);
  return wmain(argc, pointers.data(), nullptr);
}
