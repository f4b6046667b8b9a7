#pragma once

#include <string>
#include <vector>

#include "files/FileTree.h"
#include "files/ImageFiles.h"

// A PARTITION/PATH of the file commands, resolved: the volume it names and
// the parts of the path below its root.
struct VolumePath {
  ImageFiles::Volume* volume = nullptr;
  FileTree* tree = nullptr;
  std::vector<std::string> parts;
};

// Resolves `path` ('/' or '\' between parts; the partition matched as
// Windows matches names).
// Returns: 0; otherwise non-zero after the error line that says why.
int ResolveVolumePath(ImageFiles& files, const std::wstring& path, VolumePath& resolved);

// One entry as --ls prints it: kind, size, time, attributes, name (cleaned
// of control characters) and a link's target.
std::wstring EntryLine(const FileNode& node);
// A FILE_ATTRIBUTE_* set as letters: R H S A C E P (reparse point), '-' for each one not set.
std::wstring AttributeLetters(uint32_t attributes);
