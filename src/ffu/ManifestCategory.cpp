#include "ffu/ManifestCategory.h"

ManifestCategory::ManifestCategory(const std::string& categoryName)
    : name(categoryName) {}

std::string ManifestCategory::GetName() const { return name; }

std::string ManifestCategory::GetValue(const std::string& key) const {
  auto found = values.find(key);
  if (found == values.end()) return std::string();
  return found->second;
}

void ManifestCategory::SetValue(const std::string& key,
                                const std::string& value) {
  values[key] = value;
}
