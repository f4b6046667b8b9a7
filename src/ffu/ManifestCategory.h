#pragma once

#include <map>
#include <string>

// One bracketed category of the manifest: its name and its key/value pairs,
// narrow text compared byte for byte.
class ManifestCategory {
 public:
  explicit ManifestCategory(const std::string& categoryName);

  // Returns: the value of `key`, or the empty text when the key is absent.
  std::string GetValue(const std::string& key) const;

  std::map<std::string, std::string> values;
  std::string name;
};
