#include "files/ImageFiles.h"

#include <cerrno>

#include "common/ProgramLines.h"
#include "ffu/FfuImage.h"
#include "ffu/StoreSet.h"
#include "files/FatTree.h"
#include "files/NtfsTree.h"
#include "files/TextCoding.h"
#include "volumes/FileSystemProbe.h"

namespace {
// A GPT name as a file name: no '/', no control characters, never empty.
std::string FileName(const std::wstring& gptName) {
  std::string name = WideToUtf8(PrintableName(gptName));
  for (char& c : name)
    if (c == '/' || c == '\\') c = '_';
  if (name.empty() || name == "." || name == ".." || name == "raw") name = "_" + name;
  return name;
}

bool Repeats(const std::vector<std::vector<ImagePartition>>& tables, size_t store,
             const std::wstring& name) {
  for (size_t other = 0; other < tables.size(); ++other)
    for (const ImagePartition& partition : tables[other])
      if (other != store && partition.name == name) return true;
  return false;
}
}  // namespace

ImageFiles::ImageFiles(const FfuImage& image, const StoreSet& stores,
                       const std::vector<std::vector<ImagePartition>>& tables)
    : reader(image) {
  bool several = stores.Count() > 1;
  for (size_t store = 0; store < stores.Count(); ++store) {
    disks.push_back(std::make_unique<DiskView>(image, stores.Reader(store), &reader));
    const DiskView& disk = *disks.back();
    std::string prefix = several ? std::to_string(store + 1) : "";
    raw.push_back(RawFile{"disk" + prefix + ".img", store, 0, disk.DiskBytes()});
    if (store >= tables.size()) continue;
    for (const ImagePartition& partition : tables[store]) {
      uint64_t start = partition.firstSector * disk.SectorSize();
      uint64_t length = partition.Length(disk.SectorSize());
      if (length == 0 || start > disk.DiskBytes() || length > disk.DiskBytes() - start) continue;
      std::string wanted = FileName(partition.name);
      if (Repeats(tables, store, partition.name)) wanted = prefix + "-" + wanted;
      std::string name = UniqueName(wanted, store, partition.number);
      raw.push_back(RawFile{name + ".img", store, start, length});
      uint8_t first[kProbeBytes] = {};
      size_t probe = length < kProbeBytes ? static_cast<size_t>(length) : kProbeBytes;
      if (disk.Read(start, first, probe) != 0) continue;
      std::string system = WideToUtf8(FileSystemName(first, probe));
      if (system != "NTFS" && system != "FAT" && system != "exFAT") continue;
      Volume volume;
      volume.name = name;
      volume.fileSystem = system;
      volume.bytes = std::make_unique<PartitionBytes>(disk, start, length, disk.SectorSize());
      volumes.push_back(std::move(volume));
    }
  }
}

std::string ImageFiles::UniqueName(const std::string& wanted, size_t, uint32_t number) const {
  std::string name = wanted;
  for (const RawFile& file : raw)
    if (FoldName(file.name) == FoldName(name + ".img"))
      name = wanted + " (" + std::to_string(number) + ")";
  return name;
}

ImageFiles::Volume* ImageFiles::FindVolume(const std::string& name) {
  for (Volume& volume : volumes)
    if (FoldName(volume.name) == FoldName(name)) return &volume;
  return nullptr;
}

FileTree* ImageFiles::Tree(Volume& volume) {
  if (volume.opened) return volume.tree.get();
  volume.opened = true;
  std::string why;
  if (volume.fileSystem == "NTFS")
    volume.tree = NtfsTree::Open(*volume.bytes, volume.name, why);
  else
    volume.tree = FatTree::Open(*volume.bytes, volume.name, why);
  if (volume.tree == nullptr)
    PrintWarningLine(L"The %s file system of %s cannot be read: %s.\n",
                     Utf8ToWide(volume.fileSystem).c_str(), Utf8ToWide(volume.name).c_str(),
                     PrintableName(Utf8ToWide(why)).c_str());
  return volume.tree.get();
}

int ImageFiles::ReadRaw(const RawFile& file, uint64_t offset, uint8_t* buffer, size_t length,
                        size_t& got) {
  PartitionBytes bytes(*disks[file.store], file.start, file.length,
                       disks[file.store]->SectorSize());
  return bytes.Read(offset, buffer, length, got);
}

uint64_t ImageFiles::RawPayload(const RawFile& file) const {
  return disks[file.store]->BytesWritten(file.start, file.length);
}
