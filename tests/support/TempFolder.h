// A folder of a test's own under /tmp, removed with everything in it.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/brackwen-unit-XXXXXX";
    char* made = mkdtemp(pattern);
    if (made != nullptr) path = made;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Writes the bytes to a file of the folder; returns its path as wide text.
  std::wstring Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::string file = path + "/" + name;
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return std::wstring(file.begin(), file.end());
  }

  std::string path;
};
