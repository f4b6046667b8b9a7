#include "files/FatTree.h"

#include <cerrno>
#include <cstring>

#include "files/TextCoding.h"
#include "files/TskLibrary.h"

namespace {
// The library's calls, had when the first volume is opened.
const TskCalls* tsk = nullptr;

// The image the library reads: its header, then the partition's bytes.
struct External {
  TSK_IMG_INFO info;
  const PartitionBytes* bytes;
};

ssize_t ImageRead(TSK_IMG_INFO* image, TSK_OFF_T offset, char* buffer, size_t length) {
  size_t got = 0;
  if (offset < 0 ||
      reinterpret_cast<External*>(image)->bytes->Read(static_cast<uint64_t>(offset), buffer,
                                                      length, got) != 0)
    return -1;
  return static_cast<ssize_t>(got);
}

void ImageClose(TSK_IMG_INFO* image) { tsk->imgFree(image); }

void ImageStatus(TSK_IMG_INFO*, FILE*) {}

// The library shows a volume label as a file of this name ending.
constexpr char kLabelEnding[] = " (Volume Label Entry)";

bool EndsWith(const char* text, const char* ending) {
  size_t length = std::strlen(text), tail = std::strlen(ending);
  return length >= tail && std::strcmp(text + length - tail, ending) == 0;
}

bool Shown(const TSK_FS_FILE* file) {
  const TSK_FS_NAME* name = file->name;
  if (name == nullptr || file->meta == nullptr || (name->flags & TSK_FS_NAME_FLAG_UNALLOC) ||
      std::strcmp(name->name, ".") == 0 || std::strcmp(name->name, "..") == 0 ||
      EndsWith(name->name, kLabelEnding))
    return false;
  // The library's own entries for the volume's areas ($MBR, $FAT1,
  // $OrphanFiles, exFAT's bitmap and upcase table) are no files.
  TSK_FS_META_TYPE_ENUM type = file->meta->type;
  return type == TSK_FS_META_TYPE_REG || type == TSK_FS_META_TYPE_DIR;
}

void Fill(const TSK_FS_FILE* file, FileNode& node) {
  const TSK_FS_META* meta = file->meta;
  node.name = file->name->name;
  node.kind = meta->type == TSK_FS_META_TYPE_DIR ? NodeKind::kFolder : NodeKind::kFile;
  node.id = meta->addr;
  node.size = node.kind == NodeKind::kFile ? static_cast<uint64_t>(meta->size) : 0;
  node.modified = meta->mtime;
  node.modifiedNanos = meta->mtime_nano;
  node.accessed = meta->atime;
  node.changed = meta->mtime;
  node.attributes = node.kind == NodeKind::kFolder ? 0x10 : 0x20;
  if (!(meta->mode & TSK_FS_META_MODE_IWUSR)) node.attributes |= 0x01;
}
}  // namespace

std::unique_ptr<FatTree> FatTree::Open(const PartitionBytes& bytes, const std::string& label,
                                       std::string& why) {
  if ((tsk = LoadTsk(why)) == nullptr) return nullptr;
  std::unique_ptr<FatTree> tree(new FatTree(label));
  External* external = static_cast<External*>(tsk->imgMalloc(sizeof(External)));
  if (external == nullptr) {
    why = "out of memory";
    return nullptr;
  }
  external->bytes = &bytes;
  tree->image = tsk->imgOpenExternal(external, static_cast<TSK_OFF_T>(bytes.Length()),
                                     bytes.SectorSize(), ImageRead, ImageClose, ImageStatus);
  if (tree->image == nullptr) {
    why = tsk->errorGet() ? tsk->errorGet() : "the library refused the volume";
    tsk->imgFree(external);
    return nullptr;
  }
  tree->volume = tsk->fsOpenImg(tree->image, 0, TSK_FS_TYPE_FAT_DETECT);
  if (tree->volume == nullptr) {
    why = tsk->errorGet() ? tsk->errorGet() : "no FAT or exFAT volume";
    tsk->errorReset();
    return nullptr;
  }
  if (tree->volume->ftype == TSK_FS_TYPE_EXFAT) tree->kind = L"exFAT";
  return tree;
}

FatTree::~FatTree() {
  if (volume != nullptr) tsk->fsClose(volume);
  if (image != nullptr) tsk->imgClose(image);
}

int FatTree::ListFolder(uint64_t folder, std::vector<FileNode>& entries) {
  entries.clear();
  TSK_FS_DIR* dir = tsk->dirOpenMeta(volume, folder);
  if (dir == nullptr) {
    tsk->errorReset();
    return EIO;
  }
  size_t count = tsk->dirGetSize(dir);
  for (size_t i = 0; i < count; ++i) {
    TSK_FS_FILE* file = tsk->dirGet(dir, i);
    if (file == nullptr) continue;
    if (Shown(file)) {
      entries.emplace_back();
      Fill(file, entries.back());
    }
    tsk->fileClose(file);
  }
  tsk->dirClose(dir);
  return 0;
}

int FatTree::Find(const std::vector<std::string>& path, FileNode& node) {
  node = FileNode();
  node.kind = NodeKind::kFolder;
  node.id = volume->root_inum;
  node.attributes = 0x10;
  std::vector<FileNode> entries;
  for (const std::string& part : path) {
    if (node.kind != NodeKind::kFolder) return ENOTDIR;
    int error = ListFolder(node.id, entries);
    if (error != 0) return error;
    std::u16string wanted = FoldName(part);
    bool found = false;
    for (const FileNode& entry : entries)
      if (FoldName(entry.name) == wanted) {
        node = entry;
        found = true;
        break;
      }
    if (!found) return ENOENT;
  }
  return 0;
}

int FatTree::ListEntries(const std::vector<std::string>& path, std::vector<FileNode>& entries) {
  FileNode folder;
  int error = Find(path, folder);
  if (error != 0) return error;
  if (folder.kind != NodeKind::kFolder) return ENOTDIR;
  return ListFolder(folder.id, entries);
}

int FatTree::Read(const std::vector<std::string>& path, uint64_t offset, uint8_t* buffer,
                  size_t length, size_t& got) {
  got = 0;
  FileNode node;
  int error = Find(path, node);
  if (error != 0) return error;
  if (node.kind != NodeKind::kFile) return EISDIR;
  if (offset >= node.size) return 0;
  TSK_FS_FILE* file = tsk->fileOpenMeta(volume, nullptr, node.id);
  if (file == nullptr) {
    tsk->errorReset();
    return EIO;
  }
  if (length > node.size - offset) length = static_cast<size_t>(node.size - offset);
  ssize_t piece =
      tsk->fileRead(file, static_cast<TSK_OFF_T>(offset), reinterpret_cast<char*>(buffer), length,
                    TSK_FS_FILE_READ_FLAG_NONE);
  tsk->fileClose(file);
  if (piece < 0 || static_cast<size_t>(piece) != length) {
    tsk->errorReset();
    return EIO;
  }
  got = length;
  return 0;
}
