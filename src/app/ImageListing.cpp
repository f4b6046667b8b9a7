#include "app/ImageListing.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <string>

#include "app/ImageStores.h"
#include "common/FormatWide.h"
#include "common/ProgramLines.h"
#include "ffu/CatalogCheck.h"
#include "ffu/DiskGeometry.h"
#include "ffu/DiskView.h"
#include "ffu/FfuImage.h"
#include "ffu/Manifest.h"
#include "ffu/MountChoice.h"
#include "ffu/StoreReader.h"
#include "formats/GptRecords.h"
#include "platform.h"
#include "volumes/FileSystemProbe.h"

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
      image.GetManifest() ? image.GetManifest()->FindCategory("FullFlash") : nullptr;
  std::string value = fullFlash ? fullFlash->GetValue(key) : std::string();
  if (value.empty()) return L"(none)";
  // Line breaks of a continued value stay, for PrintDescription.
  std::wstring text;
  for (char byte : value)
    text += byte == '\r' || byte == '\n' ? static_cast<wchar_t>(byte) : PrintableText(&byte, 1)[0];
  return text;
}

void ListHeaders(const FfuImage& image) {
  const SecurityHeader& security = image.GetSecurityHeader();
  PrintWide(L"Security header : chunk size %u KiB, hash algorithm %s, catalog %u bytes, "
            L"hash table %u bytes\n",
            security.chunkSizeKb, HashName(security.hashAlgorithmId).c_str(), security.catalogSize,
            security.hashTableSize);
  CatalogCheck catalog;
  catalog.Run(image.GetCatalog(), image.GetHashTable());
  catalog.PrintSummary();
  PrintWide(L"Image header    : chunk size %u KiB, manifest %u bytes\n",
            image.GetImageHeader().chunkSizeKb, image.GetImageHeader().manifestLength);
  PrintWide(L"Manifest        : version %s, OS version %s\n",
            ManifestValue(image, "Version").c_str(), ManifestValue(image, "OSVersion").c_str());
  PrintDescription(ManifestValue(image, "Description"));
}

std::wstring DevicePath(const StoreReader& reader) {
  std::wstring path;
  for (uint16_t unit : reader.DevicePath()) path += static_cast<wchar_t>(unit);
  return PrintableName(path);
}

void ListStore(const StoreReader& reader, size_t index, size_t count) {
  const StoreDescription& store = reader.Store();
  uint64_t diskBytes = DiskSectorCount(store) * store.sectorSize;
  uint64_t payload = reader.PayloadBlocks() * reader.BlockSize();
  PrintWide(L"Store %u of %u    : device path '%s', sector size %u bytes, disk %llu bytes "
            L"(%s), payload %llu bytes (%s)\n",
            static_cast<uint32_t>(index + 1), static_cast<uint32_t>(count),
            DevicePath(reader).c_str(), store.sectorSize,
            static_cast<unsigned long long>(diskBytes), ReadableSize(diskBytes).c_str(),
            static_cast<unsigned long long>(payload), ReadableSize(payload).c_str());
  const StoreHeader& header = reader.Header();
  PrintWide(L"Store header    : version %u.%u, full flash version %u.%u, platform id '%s', "
            L"block size %u bytes, %u block data entries\n",
            header.majorVersion, header.minorVersion, header.fullFlashMajorVersion,
            header.fullFlashMinorVersion,
            PrintableText(header.platformId, strnlen(header.platformId, sizeof(header.platformId)))
                .c_str(),
            header.blockSize, header.entryCount);
}

struct KnownType {
  DiskGuid type;
  const wchar_t* name;
};

const KnownType kKnownTypes[] = {
    {kGptBasicDataType, L"basic data"},
    {kGptEfiSystemType, L"EFI system"},
    {kGptReservedType, L"reserved (MSR)"},
    {kGptRecoveryType, L"recovery"},
};

std::wstring Hex(uint64_t value, int digits) {
  std::wstring text(static_cast<size_t>(digits), L'0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) text[i] = L"0123456789ABCDEF"[value & 0xF];
  return text;
}

std::wstring TypeName(const DiskGuid& type) {
  for (const KnownType& known : kKnownTypes)
    if (SameDiskGuid(known.type, type)) return known.name;
  return DiskGuidText(type);
}

std::wstring Padded(std::wstring text, size_t width, bool right = false) {
  if (text.size() >= width) return text;
  std::wstring blanks(width - text.size(), L' ');
  return right ? blanks + text : text + blanks;
}

// The file system in the partition's first sectors, as the disk view reads them.
std::wstring ProbeFileSystem(const DiskView& view, const ImagePartition& partition) {
  uint64_t length = partition.Length(view.SectorSize());
  uint64_t start = partition.firstSector * view.SectorSize();
  if (length == 0 || start >= view.DiskBytes()) return L"none";
  uint8_t first[kProbeBytes] = {};
  size_t wanted = static_cast<size_t>(std::min<uint64_t>(
      {uint64_t{kProbeBytes}, length, view.DiskBytes() - start}));
  if (view.Read(start, first, wanted) != 0) return L"(unreadable)";
  return FileSystemName(first, wanted);
}

void ListPartitions(const DiskView& view, const std::vector<ImagePartition>& table,
                    const ImagePartition* chosen) {
  if (table.empty()) {
    PrintWide(L"Partitions      : none\n");
    return;
  }
  PrintWide(L"Partitions      : %u\n", static_cast<uint32_t>(table.size()));
  size_t nameWidth = 4;
  size_t typeWidth = 4;
  for (const ImagePartition& partition : table) {
    nameWidth = std::max(nameWidth, PrintableName(partition.name).size());
    typeWidth = std::max(typeWidth, TypeName(partition.type).size());
  }
  PrintWide(L"  %s  %s  %s  %s  %s  %s  %s\n", Padded(L"#", 3, true).c_str(),
            Padded(L"Name", nameWidth).c_str(), Padded(L"Type", typeWidth).c_str(),
            Padded(L"First sector", 12, true).c_str(), Padded(L"Last sector", 12, true).c_str(),
            Padded(L"Size", 10).c_str(), L"Attributes          File system");
  for (const ImagePartition& partition : table) {
    std::wstring line = L"  " + Padded(std::to_wstring(partition.number), 3, true) + L"  " +
                        Padded(PrintableName(partition.name), nameWidth) + L"  " +
                        Padded(TypeName(partition.type), typeWidth) + L"  " +
                        Padded(std::to_wstring(partition.firstSector), 12, true) + L"  " +
                        Padded(std::to_wstring(partition.lastSector), 12, true) + L"  " +
                        Padded(ReadableSize(partition.Length(view.SectorSize())), 10) + L"  0x" +
                        Hex(partition.attributes, 16) + L"  " + ProbeFileSystem(view, partition);
    if (&partition == chosen) line += L"  (mounted by default)";
    PrintWide(L"%s\n", line.c_str());
  }
}
}  // namespace

std::wstring PrintableText(const char* text, size_t length) {
  // A byte outside ASCII is no character of its own: DEL stands for it,
  // which the filter shows as '?'.
  std::wstring wide;
  for (size_t i = 0; i < length; ++i) {
    unsigned char byte = static_cast<unsigned char>(text[i]);
    wide += byte < 0x80 ? static_cast<wchar_t>(byte) : L'\x7F';
  }
  return PrintableName(wide);
}

int ListImage(FfuImage& image) {
  ListHeaders(image);
  ImageStores loaded;
  if (loaded.Load(image, false) != 0) return 1;
  // Every table that can be read is listed; one that cannot says why.
  int result = 0;
  for (size_t i = 0; i < loaded.stores.Count(); ++i) {
    DiskView view(image, loaded.stores.Reader(i));
    std::vector<ImagePartition> table;
    if (ReadPartitionTable(view, static_cast<uint32_t>(i + 1), table) != 0) result = 1;
    loaded.tables.push_back(std::move(table));
  }
  // The partition a mount would choose; an image that has none gets the
  // line the mount would print.
  MountChoice choice;
  const ImagePartition* chosen = nullptr;
  if (result == 0) {
    result = ChooseFromTables(loaded.tables, loaded.SectorSizes(), L"", choice);
    for (const ImagePartition& partition : loaded.tables[choice.store])
      if (result == 0 && partition.number == choice.partition.number) chosen = &partition;
  }
  for (size_t i = 0; i < loaded.stores.Count(); ++i) {
    ListStore(loaded.stores.Reader(i), i, loaded.stores.Count());
    ListPartitions(DiskView(image, loaded.stores.Reader(i)), loaded.tables[i], chosen);
  }
  return result;
}
