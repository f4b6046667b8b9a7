#include "ffu/ManifestCategory.h"

ManifestCategory::ManifestCategory(const std::string& categoryName)
    : name(categoryName) {}

std::string ManifestCategory::GetValue(const std::string& key) const {
  auto found = values.find(key);
  if (found == values.end()) return std::string();
  return found->second;
}
