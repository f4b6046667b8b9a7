#include "files/FilePaths.h"

#include <ctime>

#include "common/FormatWide.h"
#include "common/ProgramLines.h"
#include "files/TextCoding.h"
#include "platform.h"

int ResolveVolumePath(ImageFiles& files, const std::wstring& path, VolumePath& resolved) {
  std::vector<std::string> parts = SplitPath(WideToUtf8(path));
  if (parts.empty()) return PrintErrorLine(L"No partition is named in '%s'.\n", path.c_str());
  resolved.volume = files.FindVolume(parts.front());
  if (resolved.volume == nullptr) {
    std::wstring names;
    for (const ImageFiles::Volume& volume : files.Volumes())
      names += (names.empty() ? L"" : L", ") + PrintableName(Utf8ToWide(volume.name));
    return PrintErrorLine(L"The image has no partition with files named '%s'; it has: %s.\n",
                          PrintableName(Utf8ToWide(parts.front())).c_str(), names.c_str());
  }
  resolved.tree = files.Tree(*resolved.volume);
  if (resolved.tree == nullptr) return 1;
  resolved.parts.assign(parts.begin() + 1, parts.end());
  return 0;
}

std::wstring AttributeLetters(uint32_t attributes) {
  const struct {
    uint32_t bit;
    wchar_t letter;
  } kLetters[] = {{0x1, L'R'},   {0x2, L'H'},    {0x4, L'S'},  {0x20, L'A'},
                  {0x800, L'C'}, {0x4000, L'E'}, {0x400, L'P'}};
  std::wstring letters;
  for (const auto& entry : kLetters) letters += (attributes & entry.bit) ? entry.letter : L'-';
  return letters;
}

std::wstring EntryLine(const FileNode& node) {
  wchar_t kind = node.kind == NodeKind::kFolder ? L'd' : node.kind == NodeKind::kLink ? L'l' : L'-';
  std::time_t seconds = static_cast<std::time_t>(node.modified);
  std::tm parts{};
  if (const std::tm* utc = std::gmtime(&seconds)) parts = *utc;
  wchar_t head[96];
  FormatWide(head, 96, L"%c %14llu %04d-%02d-%02d %02d:%02d:%02d %s ", kind,
             static_cast<unsigned long long>(node.size), parts.tm_year + 1900, parts.tm_mon + 1,
             parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
             AttributeLetters(node.attributes).c_str());
  std::wstring line = head + PrintableName(Utf8ToWide(node.name));
  if (node.kind == NodeKind::kLink) line += L" -> " + PrintableName(Utf8ToWide(node.linkTarget));
  if (!node.compression.empty()) line += L"  [compressed: " + Utf8ToWide(node.compression) + L"]";
  return line;
}
