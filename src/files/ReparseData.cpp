#include "files/ReparseData.h"

#include "files/TextCoding.h"

namespace {
uint32_t Little(const std::vector<uint8_t>& data, size_t at, size_t width) {
  uint32_t value = 0;
  for (size_t i = 0; i < width; ++i) value |= static_cast<uint32_t>(data[at + i]) << (8 * i);
  return value;
}

std::string Slashes(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}
}  // namespace

std::string LinkTarget(const ReparseData& reparse, size_t depth) {
  const std::vector<uint8_t>& data = reparse.data;
  size_t header = reparse.tag == kReparseSymlink ? 20 : 16;
  if ((reparse.tag != kReparseSymlink && reparse.tag != kReparseMountPoint) ||
      data.size() < header)
    return "";
  size_t offset = Little(data, 8, 2);
  size_t length = Little(data, 10, 2);
  if (header + offset + length > data.size() || length % 2 != 0) return "";
  std::string name = Utf16ToUtf8(
      reinterpret_cast<const uint16_t*>(data.data() + header + offset), length / 2);
  bool relative = reparse.tag == kReparseSymlink && (Little(data, 16, 4) & 1) != 0;
  if (relative) return Slashes(name);
  if (name.rfind("\\??\\", 0) == 0) name = name.substr(4);
  if (name.size() >= 2 && name[1] == ':') {
    std::string up;
    for (size_t i = 0; i < depth; ++i) up += "../";
    std::string rest = name.size() > 3 ? Slashes(name.substr(3)) : "";
    if (up.empty()) up = "./";
    return up + rest;
  }
  return Slashes(name);
}
