// The program's entry: banners, the name check, one mount, the result line.
#include <cwchar>

#include "app/CommandLine.h"
#include "app/Elevation.h"
#include "app/ImageMounter.h"
#include "app/OptionRuns.h"
#include "common/Failure.h"
#include "common/Interruption.h"
#include "common/PathFunctions.h"
#include "common/ProgramLines.h"
#include "ffu/CatalogCheck.h"
#include "ffu/FfuImage.h"
#include "platform.h"

namespace {
constexpr wchar_t kBannerVersion[] = L"1.0.204";
constexpr wchar_t kToolVersion[] = BRACKWEN_TOOL_VERSION;  // the project's version
constexpr wchar_t kProgramName[] = L"Brackwen";
constexpr DWORD kModulePathSize = 261;

// The executable's name as the name check sees it: the file name up to its
// last dot. Linux executables carry no extension, so there the platform's
// (empty) one is added first and a file named Brackwen.old keeps its whole
// name, as Brackwen.old.exe does on Windows.
std::wstring ProgramBaseName(const wchar_t* modulePath) {
  std::wstring path(modulePath);
  if (kExecutableExtension[0] == L'\0') path += L".";
  return FileBaseName(path);
}

int RunMount(const wchar_t* imagePath, const std::wstring& partitionName) {
  ImageMounter mounter(false, partitionName);
  PrintProgramLine(L"Mounting the image file : '%s'\n", PrintableName(imagePath).c_str());
  // From here on Ctrl-C ends the run at its next safe point, cleanly.
  // The exit code of a failed mount is the same whatever the print returns:
  // output that cannot be written (a full disk, a closed terminal or pipe)
  // changes nothing about the run.
  if (WatchForInterruption() != 0 || mounter.Mount(imagePath) != 0) {
    PrintErrorLine(L"Failed to mount the image file as a virtual hard drive.\n");
    return kJobFailed;
  }
  bool vouched = CheckImageCatalog(*mounter.Image()) != CatalogCheck::kFailed;
  // A damaged image stays mounted for the user to look at, but the run does
  // not call itself a success.
  if (mounter.DamagedChunks() != 0) {
    PrintWarningLine(
        L"Mounted the image file, but the image is damaged: %u of its %u "
        L"chunks do not match its hash table.\n",
        mounter.DamagedChunks(), mounter.CheckedChunks());
    return 0;
  }
  if (!vouched) {
    PrintWarningLine(
        L"Mounted the image file, but its catalog does not vouch for its hash table.\n");
    return 0;
  }
  PrintProgramLine(L"Successfully mounted an image file.\n");
  return 0;
}
}  // namespace

int wmain(int argc, wchar_t** argv, wchar_t** envp) {
  (void)argc;
  (void)envp;
  PrintWide(L"\nFerrolith v.%s\n", kBannerVersion);
  PrintWide(L"Looks inside full flash update images, one partition at a time.\n");

  wchar_t modulePath[kModulePathSize] = {};
  if (GetModuleFileNameW(nullptr, modulePath, kModulePathSize) == 0) return FailWithError(0);

  // The image argument is optional on the command line; without it there is
  // nothing to mount, so the usage text answers as for a wrong name.
  if (ProgramBaseName(modulePath) != kProgramName || argv[1] == nullptr) {
    PrintUsage();
    return 1;
  }
  CommandLine line;
  if (ParseCommandLine(argv + 1, line) != 0) {
    PrintWideText(line.fault.c_str());
    PrintHelp();
    return 1;
  }
  if (line.mode == RunMode::kHelp) {
    PrintHelp();
    return 0;
  }
  PrintWide(L"Brackwen Tool v.%s\n\n", kToolVersion);
  // Jobs that attach or detach disks ask for the rights first; the others
  // only read the image.
  if (line.mode == RunMode::kMount || line.mode == RunMode::kDetach) {
    int refused = RefuseUnlessElevated();
    if (refused != 0) return refused;
  }
  if (line.mode == RunMode::kMount) return RunMount(line.imagePath.c_str(), line.partitionName);
  if (line.mode == RunMode::kDetach) return RunDetach();
  return RunInspection(line);
}
