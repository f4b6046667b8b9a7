#include "files/FileView.h"

#define FUSE_USE_VERSION 35
#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/ProgramLines.h"
#include "files/ImageFiles.h"
#include "files/TextCoding.h"

namespace {
constexpr int kFailed = 73;
constexpr char kRawFolder[] = "raw";
constexpr char kStreamPrefix[] = "user.";
constexpr int kVolumeShift = 48;  // NTFS file numbers have 48 bits  // alternate data streams, as extended attributes

ImageFiles& Files() { return *static_cast<ImageFiles*>(fuse_get_context()->private_data); }

// Where a path of the view leads: the root, raw/ or one of its files, or a
// path in a volume.
struct Place {
  enum Kind { kRoot, kRawFolder, kRawFile, kVolume } kind = kRoot;
  uint64_t number = 1;  // the root's, raw/'s, a raw file's, or the volume's from 1
  const ImageFiles::RawFile* raw = nullptr;
  FileTree* tree = nullptr;
  std::vector<std::string> parts;
};

int Locate(const char* path, Place& place) {
  std::vector<std::string> parts = SplitPath(path);
  if (parts.empty()) return 0;
  ImageFiles& files = Files();
  if (parts.front() == kRawFolder) {
    place.kind = Place::kRawFolder;
    place.number = 2;
    if (parts.size() == 1) return 0;
    if (parts.size() > 2) return -ENOENT;
    for (const ImageFiles::RawFile& raw : files.RawFiles())
      if (raw.name == parts[1]) {
        place.kind = Place::kRawFile;
        place.raw = &raw;
        place.number = 3 + static_cast<uint64_t>(&raw - files.RawFiles().data());
        return 0;
      }
    return -ENOENT;
  }
  ImageFiles::Volume* volume = files.FindVolume(parts.front());
  if (volume == nullptr) return -ENOENT;
  place.kind = Place::kVolume;
  place.number = 1 + static_cast<uint64_t>(volume - files.Volumes().data());
  place.tree = files.Tree(*volume);
  if (place.tree == nullptr) return -EIO;
  place.parts.assign(parts.begin() + 1, parts.end());
  return 0;
}

void SetTimes(struct stat* status, const FileNode& node) {
  status->st_mtim.tv_sec = node.modified;
  status->st_mtim.tv_nsec = node.modifiedNanos;
  status->st_atim.tv_sec = node.accessed;
  status->st_ctim.tv_sec = node.changed;
}

int GetAttributes(const char* path, struct stat* status, struct fuse_file_info*) {
  std::memset(status, 0, sizeof(*status));
  status->st_uid = getuid();
  status->st_gid = getgid();
  status->st_nlink = 1;
  Place place;
  if (int error = Locate(path, place)) return error;
  status->st_ino = place.number;
  if (place.kind == Place::kRoot || place.kind == Place::kRawFolder) {
    status->st_mode = S_IFDIR | 0555;
    return 0;
  }
  if (place.kind == Place::kRawFile) {
    status->st_mode = S_IFREG | 0444;
    status->st_size = static_cast<off_t>(place.raw->length);
    status->st_blocks = static_cast<blkcnt_t>((Files().RawPayload(*place.raw) + 511) / 512);
    return 0;
  }
  FileNode node;
  if (int error = place.tree->Find(place.parts, node)) return -error;
  status->st_mode = node.kind == NodeKind::kFolder ? S_IFDIR | 0555
                    : node.kind == NodeKind::kLink ? S_IFLNK | 0777
                                                   : S_IFREG | 0444;
  status->st_size = static_cast<off_t>(node.size);
  status->st_blocks = static_cast<blkcnt_t>((node.size + 511) / 512);
  status->st_nlink = node.links;
  // Each volume's file numbers in a range of their own, above the view's own.
  status->st_ino = (place.number << kVolumeShift) | (node.id & ((1ull << kVolumeShift) - 1));
  SetTimes(status, node);
  return 0;
}

int ReadFolder(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, struct fuse_file_info*,
               enum fuse_readdir_flags) {
  Place place;
  if (int error = Locate(path, place)) return error;
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  auto add = [&](const std::string& name) {
    fill(buffer, name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  };
  if (place.kind == Place::kRoot) {
    for (ImageFiles::Volume& volume : Files().Volumes()) add(volume.name);
    add(kRawFolder);
  } else if (place.kind == Place::kRawFolder) {
    for (const ImageFiles::RawFile& raw : Files().RawFiles()) add(raw.name);
  } else if (place.kind == Place::kRawFile) {
    return -ENOTDIR;
  } else {
    std::vector<FileNode> entries;
    if (int error = place.tree->List(place.parts, entries)) return -error;
    for (const FileNode& entry : entries) add(entry.name);
  }
  return 0;
}

int ReadLink(const char* path, char* buffer, size_t size) {
  Place place;
  if (int error = Locate(path, place)) return error;
  if (place.kind != Place::kVolume) return -EINVAL;
  FileNode node;
  if (int error = place.tree->Find(place.parts, node)) return -error;
  if (node.kind != NodeKind::kLink || size == 0) return -EINVAL;
  std::strncpy(buffer, node.linkTarget.c_str(), size - 1);
  buffer[size - 1] = '\0';
  return 0;
}

int OpenFile(const char* path, struct fuse_file_info* info) {
  if ((info->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  Place place;
  if (int error = Locate(path, place)) return error;
  return place.kind == Place::kRawFile || place.kind == Place::kVolume ? 0 : -EISDIR;
}

int ReadFile(const char* path, char* buffer, size_t size, off_t offset, struct fuse_file_info*) {
  Place place;
  if (int error = Locate(path, place)) return error;
  size_t got = 0;
  int error = EISDIR;
  uint8_t* bytes = reinterpret_cast<uint8_t*>(buffer);
  if (place.kind == Place::kRawFile)
    error = Files().ReadRaw(*place.raw, static_cast<uint64_t>(offset), bytes, size, got);
  else if (place.kind == Place::kVolume)
    error = place.tree->Read(place.parts, static_cast<uint64_t>(offset), bytes, size, got);
  return error != 0 ? -error : static_cast<int>(got);
}

int ListAttributes(const char* path, char* list, size_t size) {
  Place place;
  if (int error = Locate(path, place)) return error;
  std::vector<std::string> names;
  if (place.kind == Place::kVolume)
    if (int error = place.tree->Streams(place.parts, names)) return -error;
  std::string all;
  for (const std::string& name : names) all += kStreamPrefix + name + '\0';
  if (size == 0) return static_cast<int>(all.size());
  if (size < all.size()) return -ERANGE;
  std::memcpy(list, all.data(), all.size());
  return static_cast<int>(all.size());
}

int GetAttribute(const char* path, const char* name, char* value, size_t size) {
  Place place;
  if (int error = Locate(path, place)) return error;
  if (place.kind != Place::kVolume || std::strncmp(name, kStreamPrefix, 5) != 0) return -ENODATA;
  std::vector<uint8_t> bytes;
  int error = place.tree->ReadStream(place.parts, name + 5, bytes);
  if (error == ENOENT) return -ENODATA;
  if (error != 0) return -error;
  if (bytes.size() > 65536) return -E2BIG;
  if (size == 0) return static_cast<int>(bytes.size());
  if (size < bytes.size()) return -ERANGE;
  std::memcpy(value, bytes.data(), bytes.size());
  return static_cast<int>(bytes.size());
}

// The view gives its own file numbers, so that hard links show as one file.
void* Start(struct fuse_conn_info*, struct fuse_config* config) {
  config->use_ino = 1;
  return fuse_get_context()->private_data;
}

struct fuse_operations Operations() {
  struct fuse_operations operations {};
  operations.init = Start;
  operations.getattr = GetAttributes;
  operations.readdir = ReadFolder;
  operations.readlink = ReadLink;
  operations.open = OpenFile;
  operations.read = ReadFile;
  operations.listxattr = ListAttributes;
  operations.getxattr = GetAttribute;
  return operations;
}

// The folder must be the user's own, and empty.
int CheckFolder(const std::string& folder) {
  std::wstring shown = PrintableName(Utf8ToWide(folder));
  struct stat status {};
  if (stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
    return PrintErrorLine(L"The folder '%s' does not exist.\n", shown.c_str());
  if (status.st_uid != getuid())
    return PrintErrorLine(L"The folder '%s' is not yours; the view goes on a folder of yours.\n",
                          shown.c_str());
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return PrintErrorLine(L"The folder '%s' cannot be read.\n", shown.c_str());
  int entries = 0;
  while (struct dirent* entry = readdir(dir))
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) ++entries;
  closedir(dir);
  if (entries != 0)
    return PrintErrorLine(L"The folder '%s' is not empty; the view goes on an empty folder.\n",
                          shown.c_str());
  return 0;
}

// FUSE needs its device; without it the file commands still read the image.
int CheckFuse() {
  const wchar_t* why = nullptr;
  if (access("/dev/fuse", F_OK) != 0)
    why = L"/dev/fuse is missing";
  else if (access("/dev/fuse", R_OK | W_OK) != 0)
    why = L"/dev/fuse cannot be opened by this user";
  if (why == nullptr) return 0;
  PrintErrorLine(L"The view needs FUSE, and %s here; --ls and --copy read the image's files "
                 L"without it.\n",
                 why);
  return 1;
}
}  // namespace

int ServeView(ImageFiles& files, const std::wstring& folder, bool foreground) {
  std::string path = WideToUtf8(folder);
  if (CheckFolder(path) != 0) return kFailed;
  if (CheckFuse() != 0) return 1;
  const char* arguments[] = {"Brackwen", "-o", "ro,default_permissions,fsname=brackwen,subtype=brackwen"};
  struct fuse_args options = FUSE_ARGS_INIT(3, const_cast<char**>(arguments));
  struct fuse_operations operations = Operations();
  struct fuse* view = fuse_new(&options, &operations, sizeof(operations), &files);
  if (view == nullptr) {
    PrintErrorLine(L"The view cannot be made.\n");
    return kFailed;
  }
  if (fuse_mount(view, path.c_str()) != 0) {
    fuse_destroy(view);
    PrintErrorLine(L"The view cannot be mounted on '%s'.\n", PrintableName(folder).c_str());
    return kFailed;
  }
  PrintProgramLine(L"The image's files are on '%s'; 'fusermount3 -u %s' takes them away.\n",
                   PrintableName(folder).c_str(), PrintableName(folder).c_str());
  // The line must reach the caller before the view goes to the background.
  std::fflush(stdout);
  struct fuse_session* session = fuse_get_session(view);
  int result = fuse_daemonize(foreground ? 1 : 0);
  if (result == 0) result = fuse_set_signal_handlers(session);
  // The loop ends when the view is unmounted or on Ctrl-C, SIGTERM or
  // SIGHUP, all of which end the view cleanly.
  if (result == 0) {
    fuse_loop(view);
    fuse_remove_signal_handlers(session);
  }
  fuse_unmount(view);
  fuse_destroy(view);
  return result == 0 ? 0 : kFailed;
}
