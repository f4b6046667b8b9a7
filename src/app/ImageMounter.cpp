#include "app/ImageMounter.h"

#include <utility>

#include "common/Failure.h"
#include "common/FormatWide.h"
#include "common/PathFunctions.h"
#include "common/ProgramLines.h"
#include "common/StatusLine.h"
#include "ffu/FfuImage.h"
#include "platform.h"
#include "vdisk/MountSession.h"

namespace {
constexpr int kShowDefault = 10;

// The folder verb runs through shell extensions that need COM on this
// thread, in a single-threaded apartment; it is balanced when one was made.
HINSTANCE OpenFolder(const std::wstring& folder) {
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  HINSTANCE result = ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr,
                                   kShowDefault);
  if (SUCCEEDED(com)) CoUninitialize();
  return result;
}

// ShellExecuteW answers with a value above 32 on success.
bool ShellSucceeded(HINSTANCE result) {
  return static_cast<int>(reinterpret_cast<intptr_t>(result)) > 32;
}
}  // namespace

ImageMounter::ImageMounter(bool loadOnly, std::wstring wantedPartition)
    : loadOnly(loadOnly), wantedPartition(std::move(wantedPartition)) {}

ImageMounter::~ImageMounter() = default;

int ImageMounter::Mount(const std::wstring& imagePath) {
  if (LoadImageFile(imagePath) != 0) {
    // A run that failed after the image loaded has said so ("Failed to mount").
    if (session != nullptr) return 1;
    return PrintErrorLine(L"Failed to load the Image : %s\n", PrintableName(imagePath).c_str());
  }
  std::wstring folder = session->FirstMountFolder();
  if (!ShellSucceeded(OpenFolder(folder))) {
    // A machine without a shell (a server's core installation) cannot show
    // the folder; the mount stays, so the user is told where it is.
    PrintWide(L"%s\n", PrintableName(folder).c_str());
    return PrintErrorLine(L"Failed to explorer the virtual hard drive.\n");
  }
  return 0;
}

uint32_t ImageMounter::DamagedChunks() const {
  return image == nullptr ? 0 : image->ChunkCheck().DamagedCount();
}

uint32_t ImageMounter::CheckedChunks() const {
  return image == nullptr ? 0 : image->ChunkCheck().ChunkCount();
}

int ImageMounter::LoadImageFile(const std::wstring& imagePath) {
  DWORD error = 0;
  if (!PathExists(imagePath, &error)) return FailWithError(error, imagePath.c_str());

  std::wstring extension = FileExtension(imagePath);
  CharUpperW(&extension[0]);
  const std::wstring shownExtension = PrintableName(extension);
  wchar_t text[kStatusTextSize];
  FormatWide(text, kStatusTextSize, L"Loading %s image ... processing\n",
             shownExtension.c_str());
  StatusLine status;
  status.Begin(text);

  if (extension == L".FFU") {
    bool failed = LoadFfuImage(imagePath) != 0;
    FormatWide(text, kStatusTextSize,
               failed ? L"Loading %s image ... fault!     \n"
                      : L"Loading %s image ... ok         \n",
               shownExtension.c_str());
    status.Finish(text);
    return failed ? 1 : 0;
  }
  if (extension == L".VHD") return PrintErrorLine(L"VHD files not yet supported.\n");
  if (extension == L".WIM") return PrintErrorLine(L"WIM files not yet supported.\n");
  // A name without an extension leaves the type out, not a second space.
  if (extension.empty()) return PrintErrorLine(L"Unrecognized file type not supported.\n");
  return PrintErrorLine(L"Unrecognized file type %s not supported.\n", shownExtension.c_str());
}

int ImageMounter::LoadFfuImage(const std::wstring& imagePath) {
  // One run at a time, from before the image is opened (another run of the
  // same image holds it unshared) until this run ends.
  int result = loadOnly ? 0 : runLock.Acquire();
  if (result != 0) return result;
  image = std::make_unique<FfuImage>();
  if (image->Load(imagePath) != 0)
    return PrintErrorLine(L"Failed to initialize metadata with '%s'\n",
                          PrintableName(imagePath).c_str());
  if (loadOnly) return 0;
  session = std::make_unique<MountSession>(wantedPartition);
  if (session->MountImage(image.get()) != 0)
    return PrintErrorLine(L"Failed to mount '%s'\n", PrintableName(imagePath).c_str());
  return 0;
}
