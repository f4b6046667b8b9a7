#include "vdisk/VirtualDiskWriter.h"

#include <algorithm>
#include <ctime>
#include <string>

#include "common/Failure.h"
#include "common/ProgramLines.h"
#include "formats/DiskGuid.h"
#include "platform.h"
#include "vdisk/OutputFile.h"

namespace {
DiskGuid NewGuid() {
  GUID guid{};
  CoCreateGuid(&guid);
  return AsDiskGuid(guid);
}

// A VHD's sector bitmap says which sectors of a block hold data; a block
// placed here holds its bytes whole (zeros where nothing was written).
std::vector<uint8_t> FullBitmap(uint32_t size) { return std::vector<uint8_t>(size, 0xFF); }
}  // namespace

VirtualDiskWriter::VirtualDiskWriter(OutputFile& file, ImageContainer container,
                                     uint64_t diskSize, uint32_t sectorSize)
    : file(file),
      container(container),
      diskSize(diskSize),
      // Only the chosen container's layout: CheckFits has found it can hold the disk.
      vhd(container == ImageContainer::kVhd ? VhdDynamicLayout::For(diskSize, kBlockSize)
                                            : VhdDynamicLayout{}),
      vhdx(container == ImageContainer::kVhdx
               ? VhdxLayout::For(diskSize, sectorSize, sectorSize, kBlockSize)
               : VhdxLayout{}),
      places(container == ImageContainer::kRaw ? 0 : (diskSize + kBlockSize - 1) / kBlockSize,
             kAbsent),
      fileEnd(container == ImageContainer::kVhd ? vhd.firstBlock : vhdx.dataOffset) {}

int VirtualDiskWriter::CheckFits(ImageContainer container, uint64_t diskSize,
                                 uint32_t sectorSize) {
  if (container == ImageContainer::kVhd && sectorSize != kVhdSectorSize)
    return PrintErrorLine(L"A VHD file holds disks of 512-byte sectors only, and this disk has "
                          L"%u-byte sectors: extract it to a VHDX file.\n", sectorSize);
  if (container == ImageContainer::kVhd && diskSize > kVhdMaxDiskSize)
    return PrintErrorLine(L"A VHD file holds disks of up to 2040 GiB, and this disk is larger: "
                          L"extract it to a VHDX file.\n");
  if (container == ImageContainer::kVhdx && sectorSize != 512 && sectorSize != 4096)
    return PrintErrorLine(L"A VHDX file holds disks of 512 or 4096-byte sectors only, and this "
                          L"disk has %u-byte sectors.\n", sectorSize);
  if (container == ImageContainer::kVhdx && diskSize > kVhdxMaxDiskSize)
    return PrintErrorLine(L"A VHDX file holds disks of up to 64 TiB, and this disk is larger.\n");
  return 0;
}

int VirtualDiskWriter::PlaceOf(uint64_t block, uint64_t& place) {
  if (places[block] != kAbsent) {
    place = places[block];
    return 0;
  }
  if (container == ImageContainer::kVhd) {
    const std::vector<uint8_t> bitmap = FullBitmap(vhd.bitmapSize);
    int result = file.Write(fileEnd, bitmap.data(), bitmap.size());
    if (result != 0) return result;
    fileEnd += vhd.bitmapSize;
  }
  place = places[block] = fileEnd;
  fileEnd += kBlockSize;
  return 0;
}

int VirtualDiskWriter::Write(uint64_t offset, const uint8_t* data, uint64_t length) {
  while (length > 0) {
    const uint64_t block = offset / kBlockSize;
    const uint64_t within = offset % kBlockSize;
    const uint64_t piece = std::min<uint64_t>(length, kBlockSize - within);
    uint64_t place = 0;
    int result = PlaceOf(block, place);
    if (result == 0) result = file.Write(place + within, data, piece);
    if (result != 0) return result;
    offset += piece;
    data += piece;
    length -= piece;
  }
  return 0;
}

bool VirtualDiskWriter::ReadsZeros(uint64_t offset, uint64_t length) const {
  if (length == 0) return true;
  const uint64_t last = (offset + length - 1) / kBlockSize;
  for (uint64_t block = offset / kBlockSize; block <= last; ++block)
    if (places[block] != kAbsent) return false;
  return true;
}

int VirtualDiskWriter::Finish() {
  int result = container == ImageContainer::kVhd ? FinishVhd() : FinishVhdx();
  if (result == 0) result = file.Name();
  return result;
}

// The footer's copy, the dynamic header, the BAT (each block's sector in the
// file, big-endian), the footer at the end.
int VirtualDiskWriter::FinishVhd() {
  std::vector<uint8_t> table(vhd.tableSize, 0xFF);
  for (size_t block = 0; block < places.size(); ++block) {
    if (places[block] == kAbsent) continue;
    const uint32_t sector = static_cast<uint32_t>((places[block] - vhd.bitmapSize) / 512);
    const uint32_t stored = __builtin_bswap32(sector);
    std::copy_n(reinterpret_cast<const uint8_t*>(&stored), 4, table.data() + block * 4);
  }
  VhdFooterFields footer;
  footer.originalSize = footer.currentSize = diskSize;
  footer.timestamp = VhdTimestamp(static_cast<int64_t>(time(nullptr)));
  const DiskGuid id = NewGuid();
  std::copy_n(reinterpret_cast<const uint8_t*>(&id), sizeof(id), footer.uniqueId);
  footer.geometry = VhdGeometryForSize(diskSize);
  footer.diskType = kVhdDiskTypeDynamic;
  footer.dataOffset = kVhdFooterSize;
  uint8_t footerBytes[kVhdFooterSize];
  uint8_t header[kVhdDynamicHeaderSize];
  EncodeVhdFooter(footer, footerBytes);
  EncodeVhdDynamicHeader(vhd, header);
  int result = file.Write(vhd.tableOffset, table.data(), table.size());
  if (result == 0) result = file.Write(0, footerBytes, sizeof(footerBytes));
  if (result == 0) result = file.Write(kVhdFooterSize, header, sizeof(header));
  if (result == 0) result = file.Write(fileEnd, footerBytes, sizeof(footerBytes));
  return result;
}

// The identifier, both headers and region tables, the metadata, the BAT
// (absent blocks and every sector bitmap entry 0); the log stays empty.
int VirtualDiskWriter::FinishVhdx() {
  std::vector<uint64_t> bat(vhdx.batEntries, 0);
  for (size_t block = 0; block < places.size(); ++block)
    if (places[block] != kAbsent) bat[vhdx.BatIndex(block)] = VhdxPresentBlockEntry(places[block]);
  const DiskGuid fileWriteId = NewGuid();
  const DiskGuid dataWriteId = NewGuid();
  const std::vector<uint8_t> regions = VhdxRegionTableBytes(vhdx);
  int result = file.Write(vhdx.batOffset, bat.data(), bat.size() * sizeof(bat[0]));
  for (int copy = 0; copy < 2 && result == 0; ++copy) {
    const std::vector<uint8_t> header = VhdxHeaderBytes(vhdx, copy + 1, fileWriteId, dataWriteId);
    result = file.Write(kVhdxHeaderOffsets[copy], header.data(), header.size());
    if (result == 0)
      result = file.Write(kVhdxRegionTableOffsets[copy], regions.data(), regions.size());
  }
  if (result == 0) {
    const std::vector<uint8_t> metadata = VhdxMetadataBytes(vhdx, NewGuid(), 0);
    result = file.Write(vhdx.metadataOffset, metadata.data(), metadata.size());
  }
  if (result == 0) {
    const std::vector<uint8_t> identifier = VhdxFileIdentifierBytes();
    result = file.Write(0, identifier.data(), identifier.size());
  }
  if (result == 0) result = file.SetLength(fileEnd);
  return result;
}
