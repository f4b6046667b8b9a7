#include "app/ImageListing.h"

#include <cstring>
#include <cwctype>
#include <string>

#include "common/FormatWide.h"

#include "ffu/DiskGeometry.h"
#include "ffu/FfuImage.h"
#include "ffu/Manifest.h"
#include "ffu/StoreReader.h"
#include "platform.h"

namespace {
std::wstring HashName(uint32_t algorithmId) {
  wchar_t hex[16];
  FormatWide(hex, 16, L"%x", algorithmId);
  std::wstring name = L"0x";
  for (const wchar_t* digit = hex; *digit != L'\0'; ++digit) name += towupper(*digit);
  return name + (algorithmId == kHashAlgorithmSha256 ? L" (SHA-256)" : L" (unknown)");
}

// A description that continues over several manifest lines gets one line
// each, under the first.
void PrintDescription(const std::wstring& description) {
  const wchar_t* label = L"Description     : ";
  size_t start = 0;
  while (start <= description.size()) {
    size_t end = description.find(L'\n', start);
    if (end == std::wstring::npos) end = description.size();
    std::wstring part = description.substr(start, end - start);
    if (!part.empty() && part.back() == L'\r') part.pop_back();
    size_t text = part.find_first_not_of(L' ');
    PrintWide(L"%s%s\n", label, text == std::wstring::npos ? L"" : part.c_str() + text);
    label = L"                  ";
    start = end + 1;
  }
}

std::wstring ManifestValue(const FfuImage& image, const char* key) {
  const ManifestCategory* fullFlash =
      image.manifest ? image.manifest->FindCategory("FullFlash") : nullptr;
  std::string value = fullFlash ? fullFlash->GetValue(key) : std::string();
  if (value.empty()) return L"(none)";
  // Line breaks of a continued value stay, for PrintDescription.
  std::wstring text;
  for (char byte : value)
    text += byte == '\r' || byte == '\n' ? static_cast<wchar_t>(byte) : PrintableText(&byte, 1)[0];
  return text;
}

void ListHeaders(const FfuImage& image) {
  const SecurityHeader& security = image.securityHeader;
  PrintWide(L"Security header : chunk size %u KiB, hash algorithm %s, catalog %u bytes, "
            L"hash table %u bytes\n",
            security.chunkSizeKb, HashName(security.hashAlgorithmId).c_str(), security.catalogSize,
            security.hashTableSize);
  PrintWide(L"Image header    : chunk size %u KiB, manifest %u bytes\n",
            image.imageHeader.chunkSizeKb, image.imageHeader.manifestLength);
  PrintWide(L"Manifest        : version %s, OS version %s\n",
            ManifestValue(image, "Version").c_str(), ManifestValue(image, "OSVersion").c_str());
  PrintDescription(ManifestValue(image, "Description"));
}

std::wstring DevicePath(const StoreReader& reader) {
  std::wstring path;
  for (uint16_t unit : reader.devicePath) path += unit < 0x20 || unit == 0x7F ? L'?' : unit;
  return path;
}

void ListStore(const FfuImage& image, const StoreReader& reader, uint32_t index) {
  const StoreDescription& store = *image.FirstStore();
  uint64_t diskBytes = DiskSectorCount(store) * store.sectorSize;
  uint64_t payload = 0;
  for (const BlockDataEntry& entry : reader.entries)
    payload += uint64_t{entry.blockCount} * reader.BlockSize();
  PrintWide(L"Store %u of %u    : device path '%s', sector size %u bytes, disk %llu bytes "
            L"(%s), payload %llu bytes (%s)\n",
            index + 1, static_cast<uint32_t>(reader.storeCount), DevicePath(reader).c_str(),
            store.sectorSize, static_cast<unsigned long long>(diskBytes),
            ReadableSize(diskBytes).c_str(), static_cast<unsigned long long>(payload),
            ReadableSize(payload).c_str());
  const StoreHeader& header = reader.header;
  PrintWide(L"Store header    : version %u.%u, full flash version %u.%u, platform id '%s', "
            L"block size %u bytes, %u block data entries\n",
            header.majorVersion, header.minorVersion, header.fullFlashMajorVersion,
            header.fullFlashMinorVersion,
            PrintableText(header.platformId, strnlen(header.platformId, sizeof(header.platformId)))
                .c_str(),
            header.blockSize, header.entryCount);
}
}  // namespace

std::wstring ReadableSize(uint64_t bytes) {
  static const wchar_t* const kUnits[] = {L"KiB", L"MiB", L"GiB", L"TiB", L"PiB", L"EiB"};
  if (bytes < 1024) return std::to_wstring(bytes) + L" bytes";
  int unit = 0;
  uint64_t whole = bytes / 1024;
  uint64_t rest = bytes % 1024;  // of the unit below `whole`'s
  while (whole >= 1024 && unit < 5) {
    rest = whole % 1024;
    whole /= 1024;
    ++unit;
  }
  return std::to_wstring(whole) + L"." + std::to_wstring(rest * 10 / 1024) + L" " + kUnits[unit];
}

std::wstring PrintableText(const char* text, size_t length) {
  std::wstring printable;
  for (size_t i = 0; i < length; ++i) {
    unsigned char byte = static_cast<unsigned char>(text[i]);
    printable += byte >= 0x20 && byte < 0x7F ? static_cast<wchar_t>(byte) : L'?';
  }
  return printable;
}

int ListImage(FfuImage& image) {
  ListHeaders(image);
  StoreReader reader;
  if (reader.LoadStore(&image) != 0) return 1;
  ListStore(image, reader, 0);
  return 0;
}
