#include "mountinfo.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string DecodeEscapes(const std::string& field) {
  std::string decoded;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
        field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
      decoded += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                   (field[i + 3] - '0'));
      i += 3;
    } else {
      decoded += field[i];
    }
  }
  return decoded;
}

bool ParseLine(const std::string& line, MountEntry* entry) {
  std::istringstream fields(line);
  std::string id, parent, device, root, mountPoint, field;
  if (!(fields >> id >> parent >> device >> root >> mountPoint)) return false;
  // Optional fields end at a lone "-"; the file system type and source follow.
  while (fields >> field && field != "-") {
  }
  if (field != "-") return false;
  std::string fsType, source;
  if (!(fields >> fsType >> source)) return false;
  const size_t colon = device.find(':');
  if (colon == std::string::npos) return false;
  entry->id = static_cast<unsigned>(strtoul(id.c_str(), nullptr, 10));
  entry->major = static_cast<unsigned>(strtoul(device.c_str(), nullptr, 10));
  entry->minor = static_cast<unsigned>(strtoul(device.c_str() + colon + 1, nullptr, 10));
  entry->mountPoint = DecodeEscapes(mountPoint);
  entry->fsType = fsType;
  entry->source = DecodeEscapes(source);
  return true;
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(const std::string& text) {
  std::vector<MountEntry> entries;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    MountEntry entry;
    if (ParseLine(line, &entry)) entries.push_back(entry);
  }
  return entries;
}

std::vector<MountEntry> ReadMountInfo() {
  std::ifstream stream("/proc/self/mountinfo");
  std::stringstream text;
  text << stream.rdbuf();
  return ParseMountInfo(text.str());
}

std::vector<MountEntry> MountsOfDevice(const std::string& devicePath) {
  std::vector<MountEntry> mounts;
  struct stat status;
  if (stat(devicePath.c_str(), &status) != 0 || !S_ISBLK(status.st_mode)) return mounts;
  for (const MountEntry& entry : ReadMountInfo()) {
    const bool sameDevice =
        entry.major == major(status.st_rdev) && entry.minor == minor(status.st_rdev);
    if (sameDevice || entry.source == devicePath) mounts.push_back(entry);
  }
  return mounts;
}

bool FindMountAt(const std::string& path, MountEntry* entry) {
  const std::string wanted = NormalMountPath(path);
  bool found = false;
  for (const MountEntry& candidate : ReadMountInfo()) {
    if (candidate.mountPoint == wanted) {
      *entry = candidate;  // later lines are mounted on top of earlier ones
      found = true;
    }
  }
  return found;
}

std::string NormalMountPath(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  char* real = realpath(trimmed.c_str(), nullptr);
  if (real == nullptr) return trimmed;
  std::string resolved = real;
  free(real);
  return resolved;
}
