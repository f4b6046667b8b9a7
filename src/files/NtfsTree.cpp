#include "files/NtfsTree.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "files/TextCoding.h"
#include "formats/LittleEndian.h"

extern "C" {
#include <ntfs-3g/types.h>
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/device.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}

namespace {
// The device the library reads: the partition's bytes and a position for
// the calls that read where the last one stopped.
struct Device {
  const PartitionBytes* bytes;
  int64_t position;
};

Device* Of(struct ntfs_device* device) { return static_cast<Device*>(device->d_private); }

int DeviceOpen(struct ntfs_device* device, int flags) {
  if ((flags & O_ACCMODE) != O_RDONLY) {
    errno = EROFS;
    return -1;
  }
  Of(device)->position = 0;
  NDevSetOpen(device);
  NDevSetReadOnly(device);
  return 0;
}

int DeviceClose(struct ntfs_device* device) {
  NDevClearOpen(device);
  return 0;
}

s64 DeviceSeek(struct ntfs_device* device, s64 offset, int whence) {
  Device* d = Of(device);
  int64_t base = whence == SEEK_SET ? 0
                 : whence == SEEK_CUR ? d->position
                                      : static_cast<int64_t>(d->bytes->Length());
  if (offset < -base) {
    errno = EINVAL;
    return -1;
  }
  d->position = base + offset;
  return d->position;
}

s64 DevicePread(struct ntfs_device* device, void* buffer, s64 count, s64 offset) {
  if (count < 0 || offset < 0) {
    errno = EINVAL;
    return -1;
  }
  size_t got = 0;
  if (Of(device)->bytes->Read(static_cast<uint64_t>(offset), buffer, static_cast<size_t>(count),
                              got) != 0) {
    errno = EIO;
    return -1;
  }
  return static_cast<s64>(got);
}

s64 DeviceRead(struct ntfs_device* device, void* buffer, s64 count) {
  s64 got = DevicePread(device, buffer, count, Of(device)->position);
  if (got > 0) Of(device)->position += got;
  return got;
}

s64 DeviceWrite(struct ntfs_device*, const void*, s64) {
  errno = EROFS;
  return -1;
}

s64 DevicePwrite(struct ntfs_device*, const void*, s64, s64) {
  errno = EROFS;
  return -1;
}

int DeviceSync(struct ntfs_device*) { return 0; }

int DeviceStat(struct ntfs_device* device, struct stat* status) {
  std::memset(status, 0, sizeof(*status));
  status->st_mode = S_IFBLK;
  status->st_size = static_cast<off_t>(Of(device)->bytes->Length());
  return 0;
}

int DeviceIoctl(struct ntfs_device*, unsigned long, void*) {
  errno = ENOTTY;
  return -1;
}

struct ntfs_device_operations deviceOperations = {
    DeviceOpen, DeviceClose, DeviceSeek, DeviceRead, DeviceWrite,
    DevicePread, DevicePwrite, DeviceSync, DeviceStat, DeviceIoctl};

constexpr int64_t kWindowsEpoch = 116444736000000000LL;  // 1970 in 100 ns since 1601

void SetTime(ntfs_time time, int64_t& seconds, uint32_t* nanos) {
  int64_t ticks = sle64_to_cpu(time) - kWindowsEpoch;
  int64_t rest = ticks % 10000000;
  if (rest < 0) rest += 10000000;
  seconds = (ticks - rest) / 10000000;
  if (nanos != nullptr) *nanos = static_cast<uint32_t>(rest * 100);
}

struct Listing {
  std::vector<std::pair<std::string, uint64_t>> names;
};

int Collect(void* context, const ntfschar* name, const int length, const int type, const s64,
            const MFT_REF reference, const unsigned) {
  // A short (8.3) name only repeats a long one; the volume's own files
  // (below the first user file) are hidden, as Windows hides them.
  if (type == FILE_NAME_DOS || MREF(reference) < FILE_first_user) return 0;
  std::string text = Utf16ToUtf8(reinterpret_cast<const uint16_t*>(name), length);
  if (text == "." || text == "..") return 0;  // the library's own, not the index's
  static_cast<Listing*>(context)->names.emplace_back(text, MREF(reference));
  return 0;
}
}  // namespace

std::unique_ptr<NtfsTree> NtfsTree::Open(const PartitionBytes& bytes, const std::string& label,
                                         std::string& why) {
  std::unique_ptr<NtfsTree> tree(new NtfsTree(label));
  Device* state = new Device{&bytes, 0};
  struct ntfs_device* device = ntfs_device_alloc(label.c_str(), 0, &deviceOperations, state);
  if (device == nullptr) {
    delete state;
    why = std::strerror(errno);
    return nullptr;
  }
  tree->volume = ntfs_device_mount(device, NTFS_MNT_RDONLY);
  if (tree->volume == nullptr) {
    why = std::strerror(errno);
    ntfs_device_free(device);
    delete state;
    return nullptr;
  }
  // Names are matched as Windows matches them: by the upcase table the
  // volume carries, whatever their case (the index is kept in that order).
  NVolClearCaseSensitive(tree->volume);
  return tree;
}

NtfsTree::~NtfsTree() {
  CloseData();
  if (volume == nullptr) return;
  Device* state = Of(volume->dev);
  ntfs_umount(volume, FALSE);  // frees the device too
  delete state;
}

int NtfsTree::OpenInode(const std::vector<std::string>& path, ntfs_inode*& inode) {
  errno = 0;
  inode = path.empty() ? ntfs_inode_open(volume, FILE_root)
                       : ntfs_pathname_to_inode(volume, nullptr, JoinPath(path).c_str());
  if (inode != nullptr) return 0;
  return errno == ENOENT || errno == 0 ? ENOENT : errno == ENOTDIR ? ENOTDIR : EIO;
}

int NtfsTree::FillNode(ntfs_inode* inode, size_t depth, FileNode& node) {
  uint32_t flags = le32_to_cpu(inode->flags);
  bool folder = (inode->mrec->flags & MFT_RECORD_IS_DIRECTORY) != 0;
  node.kind = folder ? NodeKind::kFolder : NodeKind::kFile;
  node.id = inode->mft_no;
  node.attributes = (flags & 0xFFFF) | (folder ? 0x10 : 0);
  node.links = folder ? 1 : le16_to_cpu(inode->mrec->link_count);
  if (node.links == 0) node.links = 1;
  SetTime(inode->last_data_change_time, node.modified, &node.modifiedNanos);
  SetTime(inode->last_access_time, node.accessed, nullptr);
  SetTime(inode->last_mft_change_time, node.changed, nullptr);
  node.size = 0;
  node.reparseTag = 0;
  if (flags & FILE_ATTR_REPARSE_POINT) {
    ReparseData reparse;
    s64 size = 0;
    void* data = ntfs_attr_readall(inode, AT_REPARSE_POINT, AT_UNNAMED, 0, &size);
    if (data != nullptr && size >= 8) {
      reparse.data.assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
      reparse.tag = LoadLittle<uint32_t>(reparse.data.data());
    }
    free(data);
    node.reparseTag = reparse.tag;
    if (reparse.tag == kReparseWof) node.compression = WofMark(reparse);
    std::string target = LinkTarget(reparse, depth);
    if (!target.empty()) {
      node.kind = NodeKind::kLink;
      node.linkTarget = target;
      node.size = target.size();
      return 0;
    }
  }
  if (!folder) {
    ntfs_attr* data = ntfs_attr_open(inode, AT_DATA, AT_UNNAMED, 0);
    if (data != nullptr) {
      node.size = static_cast<uint64_t>(data->data_size);
      ntfs_attr_close(data);
    }
  }
  return 0;
}

int NtfsTree::Find(const std::vector<std::string>& path, FileNode& node) {
  ntfs_inode* inode = nullptr;
  int error = OpenInode(path, inode);
  if (error != 0) return error;
  node.name = path.empty() ? "" : path.back();
  error = FillNode(inode, path.empty() ? 0 : path.size() - 1, node);
  ntfs_inode_close(inode);
  return error;
}

int NtfsTree::ListEntries(const std::vector<std::string>& path, std::vector<FileNode>& entries) {
  entries.clear();
  ntfs_inode* folder = nullptr;
  int error = OpenInode(path, folder);
  if (error != 0) return error;
  if (!(folder->mrec->flags & MFT_RECORD_IS_DIRECTORY)) {
    ntfs_inode_close(folder);
    return ENOTDIR;
  }
  Listing listing;
  s64 position = 0;
  int failed = ntfs_readdir(folder, &position, &listing, Collect);
  ntfs_inode_close(folder);
  if (failed) return EIO;
  for (const auto& entry : listing.names) {
    ntfs_inode* inode = ntfs_inode_open(volume, entry.second);
    if (inode == nullptr) return EIO;
    FileNode node;
    node.name = entry.first;
    FillNode(inode, path.size(), node);
    ntfs_inode_close(inode);
    entries.push_back(node);
  }
  return 0;
}

int NtfsTree::Refuse(const std::vector<std::string>& path, uint64_t id, const char* why) {
  if (refused.insert(id).second) SayUnreadable(path, why);
  return EIO;
}

void NtfsTree::CloseData() {
  openWof.reset();
  if (openData != nullptr) ntfs_attr_close(openData);
  if (openInode != nullptr) ntfs_inode_close(openInode);
  openData = nullptr;
  openInode = nullptr;
  openPath.clear();
}

// Opens the unnamed data of a file whose bytes the library reads right;
// every other file is refused with its line.
int NtfsTree::OpenData(const std::vector<std::string>& path, const FileNode& node) {
  if (node.kind != NodeKind::kFile) return EISDIR;
  if (node.reparseTag == kReparseWof) return OpenWof(path, node);
  if (node.reparseTag != 0) {
    char why[96];
    std::snprintf(why, sizeof why, "it is a reparse point of kind 0x%08X, whose data is elsewhere",
                  node.reparseTag);
    return Refuse(path, node.id, why);
  }
  if (node.attributes & FILE_ATTR_ENCRYPTED)
    return Refuse(path, node.id, "it is encrypted");
  int error = OpenInode(path, openInode);
  if (error != 0) return error;
  openData = ntfs_attr_open(openInode, AT_DATA, AT_UNNAMED, 0);
  if (openData == nullptr) {
    CloseData();
    return EIO;
  }
  openPath = JoinPath(path);
  return 0;
}

int NtfsTree::Read(const std::vector<std::string>& path, uint64_t offset, uint8_t* buffer,
                   size_t length, size_t& got) {
  got = 0;
  if ((openData == nullptr && !openWof) || openPath != JoinPath(path)) {
    CloseData();
    FileNode node;
    int error = Find(path, node);
    if (error == 0) error = OpenData(path, node);
    if (error != 0) return error;
  }
  if (openWof) return ReadWof(path, offset, buffer, length, got);
  while (got < length) {
    s64 piece = ntfs_attr_pread(openData, static_cast<s64>(offset + got),
                                static_cast<s64>(length - got), buffer + got);
    if (piece < 0) {
      int error = errno;
      uint64_t id = openInode->mft_no;
      CloseData();
      if (error == EOPNOTSUPP || error == EACCES)
        return Refuse(path, id, "its data is stored in a way this build does not read");
      return EIO;
    }
    if (piece == 0) break;
    got += static_cast<size_t>(piece);
  }
  return 0;
}

// A file Windows keeps compressed: its reads decompress the chunks of its
// WofCompressedData stream; one it cannot read right is refused.
int NtfsTree::OpenWof(const std::vector<std::string>& path, const FileNode& node) {
  ReparseData reparse;
  int error = Reparse(path, reparse);
  if (error == 0) error = OpenInode(path, openInode);
  if (error != 0) return error;
  WofResult result = WofFile::Open(openInode, reparse, node.size, openWof);
  if (result != kWofOk) {
    CloseData();
    return Refuse(path, node.id, WofFault(result).c_str());
  }
  openPath = JoinPath(path);
  return 0;
}

int NtfsTree::ReadWof(const std::vector<std::string>& path, uint64_t offset, uint8_t* buffer,
                      size_t length, size_t& got) {
  WofResult result = openWof->Read(offset, buffer, length, got);
  if (result == kWofOk) return 0;
  got = 0;
  uint64_t id = openInode->mft_no;
  CloseData();
  return Refuse(path, id, WofFault(result).c_str());
}

int NtfsTree::Reparse(const std::vector<std::string>& path, ReparseData& reparse) {
  reparse = ReparseData();
  ntfs_inode* inode = nullptr;
  int error = OpenInode(path, inode);
  if (error != 0) return error;
  s64 size = 0;
  void* data = (le32_to_cpu(inode->flags) & FILE_ATTR_REPARSE_POINT)
                   ? ntfs_attr_readall(inode, AT_REPARSE_POINT, AT_UNNAMED, 0, &size)
                   : nullptr;
  if (data != nullptr && size >= 4) {
    reparse.data.assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
    std::memcpy(&reparse.tag, data, 4);
  }
  free(data);
  ntfs_inode_close(inode);
  return 0;
}

int NtfsTree::Streams(const std::vector<std::string>& path, std::vector<std::string>& names) {
  names.clear();
  ntfs_inode* inode = nullptr;
  int error = OpenInode(path, inode);
  if (error != 0) return error;
  ntfs_attr_search_ctx* search = ntfs_attr_get_search_ctx(inode, nullptr);
  while (search != nullptr &&
         !ntfs_attr_lookup(AT_DATA, nullptr, 0, CASE_SENSITIVE, 0, nullptr, 0, search)) {
    ATTR_RECORD* record = search->attr;
    // Only the first extent of an attribute names it.
    if (record->name_length == 0 || (record->non_resident && record->lowest_vcn != 0)) continue;
    const ntfschar* name = reinterpret_cast<const ntfschar*>(
        reinterpret_cast<const uint8_t*>(record) + le16_to_cpu(record->name_offset));
    names.push_back(Utf16ToUtf8(reinterpret_cast<const uint16_t*>(name), record->name_length));
  }
  if (search != nullptr) ntfs_attr_put_search_ctx(search);
  ntfs_inode_close(inode);
  return 0;
}

int NtfsTree::ReadStreamAt(const std::vector<std::string>& path, const std::string& stream,
                           uint64_t offset, uint8_t* buffer, size_t length, size_t& got) {
  got = 0;
  ntfs_inode* inode = nullptr;
  int error = OpenInode(path, inode);
  if (error != 0) return error;
  std::u16string name = Utf8ToUtf16(stream);
  ntfs_attr* data = ntfs_attr_open(inode, AT_DATA, reinterpret_cast<ntfschar*>(&name[0]),
                                   static_cast<u32>(name.size()));
  error = data == nullptr ? ENOENT : 0;
  while (error == 0 && got < length) {
    s64 piece = ntfs_attr_pread(data, static_cast<s64>(offset + got),
                                static_cast<s64>(length - got), buffer + got);
    if (piece < 0) error = EIO;
    if (piece <= 0) break;
    got += static_cast<size_t>(piece);
  }
  if (data != nullptr) ntfs_attr_close(data);
  ntfs_inode_close(inode);
  return error;
}

int NtfsTree::ReadStream(const std::vector<std::string>& path, const std::string& stream,
                         std::vector<uint8_t>& bytes) {
  // A stream is read whole here (an extended attribute of the view): keep it bounded.
  constexpr size_t kLargest = 64 << 20;
  constexpr size_t kPiece = 64 << 10;
  bytes.clear();
  size_t got = kPiece;
  while (got == kPiece) {
    if (bytes.size() > kLargest) return EFBIG;
    size_t had = bytes.size();
    bytes.resize(had + kPiece);
    int error = ReadStreamAt(path, stream, had, bytes.data() + had, kPiece, got);
    bytes.resize(had + (error == 0 ? got : 0));
    if (error != 0) return error;
  }
  return 0;
}
