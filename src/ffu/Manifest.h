#pragma once

#include <istream>
#include <string>
#include <vector>

class FfuImage;
class ManifestCategory;

// The image's manifest: the listed categories in the order their names first
// occur. "Partition" and "Store" categories are never listed; closing a
// "Store" category gives the owning image its store description.
class Manifest {
 public:
  // Parses the whole text before returning.
  Manifest(FfuImage& owner, std::istream& text);
  ~Manifest();
  Manifest(const Manifest&) = delete;
  Manifest& operator=(const Manifest&) = delete;

  ManifestCategory* AddCategory(const std::string& name);
  ManifestCategory* FindCategory(const std::string& name) const;
  void CloseCategory(ManifestCategory* category);

  std::vector<ManifestCategory*> categories;
  FfuImage& owner;

 private:
  void Parse(std::istream& text);
};

// Lines longer than this are skipped without being matched: the regular
// expression engine recurses once per character and would exhaust the stack
// on very long lines. Real manifest lines are far shorter.
constexpr size_t kLongestManifestLine = 4096;
