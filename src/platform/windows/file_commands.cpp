// The file commands read file systems through libraries of the Linux
// distribution, which this build does not carry: it says so in one line.
#include "files/FileCommands.h"
#include "platform.h"

int OfferFileCommands() {
  PrintWide(L"(Korvex) !ERROR! The options --ls, --copy and --view are not offered in the "
            L"Windows build; mount the image to browse its files.\n");
  return 1;
}

int RunFileRequest(const FfuImage&, const StoreSet&,
                   const std::vector<std::vector<ImagePartition>>&, const FileRequest&) {
  return OfferFileCommands();
}
