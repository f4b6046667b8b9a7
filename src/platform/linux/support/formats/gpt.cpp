#include "gpt.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "formats/GptRecords.h"
#include "support/kernel/loop_device.h"
#include "support/runtime/text.h"

namespace {

// libblkid gives partition starts and sizes in 512-byte units whatever the
// disk's sector size.
const uint64_t kBlkidUnit = 512;
const DWORD kLayoutHeaderSize = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The usable area and entry count from the primary GPT header, when it is there.
void ReadGptHeader(int fd, uint32_t sectorSize, DiskLayout* layout) {
  GptHeader header;
  if (pread(fd, &header, sizeof(header), kGptPrimaryHeaderSector * sectorSize) !=
          static_cast<ssize_t>(sizeof(header)) ||
      !HasGptSignature(header)) {
    return;
  }
  const uint64_t firstUsable = header.firstUsableSector;
  const uint64_t lastUsable = header.lastUsableSector;
  if (lastUsable < firstUsable || lastUsable > UINT64_MAX / sectorSize - 1) return;
  layout->firstUsableBytes = firstUsable * sectorSize;
  layout->usableLengthBytes = (lastUsable - firstUsable + 1) * sectorSize;
  layout->maxPartitionCount = header.entryCount;
}

void ReadPartition(blkid_partition source, bool gpt, DiskPartition* partition) {
  const blkid_loff_t start = blkid_partition_get_start(source);
  const blkid_loff_t size = blkid_partition_get_size(source);
  partition->number = static_cast<uint32_t>(blkid_partition_get_partno(source));
  partition->startBytes = start > 0 ? static_cast<uint64_t>(start) * kBlkidUnit : 0;
  partition->lengthBytes = size > 0 ? static_cast<uint64_t>(size) * kBlkidUnit : 0;
  if (gpt) {
    const char* type = blkid_partition_get_type_string(source);
    const char* uuid = blkid_partition_get_uuid(source);
    const char* name = blkid_partition_get_name(source);
    if (type) ParseGuidText(type, &partition->typeId);
    if (uuid) ParseGuidText(uuid, &partition->partitionId);
    Utf8ToGptName(name ? name : "", partition->name);
    partition->attributes = blkid_partition_get_flags(source);
  } else {
    partition->mbrType = static_cast<uint8_t>(blkid_partition_get_type(source));
    partition->mbrBoot = (blkid_partition_get_flags(source) & 0x80) != 0;
  }
}

DWORD ReadPartitionList(blkid_probe probe, int fd, uint32_t sectorSize, DiskLayout* layout) {
  blkid_partlist list = blkid_probe_get_partitions(probe);
  blkid_parttable table = list ? blkid_partlist_get_table(list) : nullptr;
  if (table == nullptr) return ERROR_SUCCESS;  // no table: a raw disk
  const char* type = blkid_parttable_get_type(table);
  const char* id = blkid_parttable_get_id(table);
  const bool gpt = type && strcmp(type, "gpt") == 0;
  if (gpt) {
    layout->style = PARTITION_STYLE_GPT;
    if (id) ParseGuidText(id, &layout->diskId);
    ReadGptHeader(fd, sectorSize, layout);
  } else if (type && strcmp(type, "dos") == 0) {
    layout->style = PARTITION_STYLE_MBR;
    if (id) layout->mbrSignature = static_cast<uint32_t>(strtoul(id, nullptr, 16));
  } else {
    return ERROR_SUCCESS;  // a table this layer does not describe: raw
  }
  const int count = blkid_partlist_numof_partitions(list);
  for (int i = 0; i < count; ++i) {
    blkid_partition source = blkid_partlist_get_partition(list, i);
    if (source == nullptr) continue;
    DiskPartition partition;
    ReadPartition(source, gpt, &partition);
    layout->partitions.push_back(partition);
  }
  return ERROR_SUCCESS;
}

void EncodeUtf16(wchar_t character, uint16_t* units, size_t* count) {
  const uint32_t code = static_cast<uint32_t>(character);
  if (code < 0x10000) {
    units[(*count)++] = static_cast<uint16_t>(code);
  } else {
    const uint32_t offset = code - 0x10000;
    units[(*count)++] = static_cast<uint16_t>(0xD800 | (offset >> 10));
    units[(*count)++] = static_cast<uint16_t>(0xDC00 | (offset & 0x3FF));
  }
}

}  // namespace

namespace {
// libblkid reads with buffers of its own alignment, which a descriptor
// opened for direct I/O refuses; such a device is read through a buffered
// descriptor of its own.
int BufferedDescriptor(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || (flags & O_DIRECT) == 0) return -1;
  return open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC);
}
}  // namespace

DWORD ReadDiskLayout(int fd, DiskLayout* layout) {
  const int buffered = BufferedDescriptor(fd);
  if (buffered >= 0) {
    const DWORD code = ReadDiskLayout(buffered, layout);
    close(buffered);
    return code;
  }
  *layout = DiskLayout();
  blkid_probe probe = blkid_new_probe();
  if (probe == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  const uint32_t sectorSize = LoopLogicalBlockSize(fd);
  DWORD code = ERROR_SUCCESS;
  if (blkid_probe_set_device(probe, fd, 0, 0) != 0) {
    code = ERROR_READ_FAULT;
  } else {
    blkid_probe_set_sectorsize(probe, sectorSize);
    blkid_probe_enable_superblocks(probe, 0);
    blkid_probe_enable_partitions(probe, 1);
    blkid_probe_set_partitions_flags(probe, BLKID_PARTS_ENTRY_DETAILS | BLKID_PARTS_FORCE_GPT);
    code = ReadPartitionList(probe, fd, sectorSize, layout);
  }
  blkid_free_probe(probe);
  return code;
}

DWORD DriveLayoutSize(const DiskLayout& layout) {
  return kLayoutHeaderSize +
         static_cast<DWORD>(layout.partitions.size() * sizeof(PARTITION_INFORMATION_EX));
}

DWORD FillDriveLayout(const DiskLayout& layout, void* buffer, DWORD bufferSize, DWORD* written) {
  const DWORD size = DriveLayoutSize(layout);
  *written = size;
  if (buffer == nullptr || bufferSize < size) return ERROR_INSUFFICIENT_BUFFER;
  uint8_t* bytes = static_cast<uint8_t*>(buffer);
  memset(bytes, 0, size);
  DRIVE_LAYOUT_INFORMATION_EX header;
  memset(&header, 0, sizeof(header));
  header.PartitionStyle = layout.style;
  header.PartitionCount = static_cast<DWORD>(layout.partitions.size());
  if (layout.style == PARTITION_STYLE_GPT) {
    header.Gpt.DiskId = layout.diskId;
    header.Gpt.StartingUsableOffset.QuadPart = static_cast<LONGLONG>(layout.firstUsableBytes);
    header.Gpt.UsableLength.QuadPart = static_cast<LONGLONG>(layout.usableLengthBytes);
    header.Gpt.MaxPartitionCount = layout.maxPartitionCount;
  } else if (layout.style == PARTITION_STYLE_MBR) {
    header.Mbr.Signature = layout.mbrSignature;
  }
  memcpy(bytes, &header, kLayoutHeaderSize);
  for (size_t i = 0; i < layout.partitions.size(); ++i) {
    const DiskPartition& source = layout.partitions[i];
    PARTITION_INFORMATION_EX entry;
    memset(&entry, 0, sizeof(entry));
    entry.PartitionStyle = layout.style;
    entry.StartingOffset.QuadPart = static_cast<LONGLONG>(source.startBytes);
    entry.PartitionLength.QuadPart = static_cast<LONGLONG>(source.lengthBytes);
    entry.PartitionNumber = source.number;
    if (layout.style == PARTITION_STYLE_GPT) {
      entry.Gpt.PartitionType = source.typeId;
      entry.Gpt.PartitionId = source.partitionId;
      entry.Gpt.Attributes = source.attributes;
      memcpy(entry.Gpt.Name, source.name, sizeof(entry.Gpt.Name));
    } else {
      entry.Mbr.PartitionType = source.mbrType;
      entry.Mbr.BootIndicator = source.mbrBoot;
      entry.Mbr.RecognizedPartition = 1;
      entry.Mbr.HiddenSectors = static_cast<DWORD>(source.startBytes / kBlkidUnit);
    }
    memcpy(bytes + kLayoutHeaderSize + i * sizeof(entry), &entry, sizeof(entry));
  }
  return ERROR_SUCCESS;
}

bool ParseGuidText(const std::string& text, GUID* guid) {
  std::string body = text;
  if (body.size() == 38 && body.front() == '{' && body.back() == '}') {
    body = body.substr(1, 36);
  }
  if (body.size() != 36) return false;
  uint8_t value[16];
  size_t count = 0;
  for (size_t i = 0; i < 36; ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (body[i] != '-') return false;
      continue;
    }
    const int high = HexDigit(body[i]);
    const int low = HexDigit(body[i + 1]);
    if (high < 0 || low < 0) return false;
    value[count++] = static_cast<uint8_t>(high * 16 + low);
    ++i;
  }
  guid->Data1 = (uint32_t(value[0]) << 24) | (uint32_t(value[1]) << 16) |
                (uint32_t(value[2]) << 8) | value[3];
  guid->Data2 = static_cast<uint16_t>((value[4] << 8) | value[5]);
  guid->Data3 = static_cast<uint16_t>((value[6] << 8) | value[7]);
  memcpy(guid->Data4, value + 8, 8);
  return true;
}

void Utf8ToGptName(const std::string& text, uint16_t name[kGptNameUnits]) {
  memset(name, 0, kGptNameUnits * sizeof(uint16_t));
  const std::wstring wide = FromUtf8(text);
  size_t count = 0;
  for (wchar_t character : wide) {
    const size_t needed = static_cast<uint32_t>(character) < 0x10000 ? 1 : 2;
    if (count + needed > kGptNameUnits) break;
    EncodeUtf16(character, name, &count);
  }
}
