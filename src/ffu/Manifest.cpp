#include "ffu/Manifest.h"

#include <regex>

#include "ffu/FfuImage.h"
#include "ffu/ManifestCategory.h"
#include "platform.h"

namespace {
constexpr size_t kReservedCategories = 20;
const char kCategoryPattern[] = "^\\s*\\[([^\\]]+)\\]\\s*\\r$";
const char kEntryPattern[] = "^\\s*([^=\\s]+)\\s*=\\s*(.*)(\\s*\\r$)";
const char kDescriptionKey[] = "Description";
const char kPartitionName[] = "Partition";
const char kStoreName[] = "Store";

// What one parse carries from line to line.
struct ParseState {
  ManifestCategory* current = nullptr;
  // Unlisted categories ("Partition", "Store") belong to the parse until
  // they are closed.
  ManifestCategory* unlisted = nullptr;
  bool continuingDescription = false;
};
}  // namespace

Manifest::Manifest(FfuImage& image, std::istream& text) : owner(image) {
  categories.reserve(kReservedCategories);
  Parse(text);
}

Manifest::~Manifest() {
  for (ManifestCategory* category : categories) delete category;
}

ManifestCategory* Manifest::AddCategory(const std::string& name) {
  ManifestCategory* listed = FindCategory(name);
  if (listed != nullptr) {
    PrintWide(L"(Korvex) !WARNING! Cannot add duplicate categories to a manifest.\n");
    return listed;
  }
  ManifestCategory* category = new ManifestCategory(name);
  categories.push_back(category);
  return category;
}

ManifestCategory* Manifest::FindCategory(const std::string& name) const {
  for (ManifestCategory* category : categories)
    if (category->name == name) return category;
  return nullptr;
}

void Manifest::CloseCategory(ManifestCategory* category) {
  if (category == nullptr) return;
  if (category->name == kStoreName) owner.AddStore(*category);
}

namespace {
void CloseCurrent(Manifest& manifest, ParseState& state) {
  manifest.CloseCategory(state.current);
  state.current = nullptr;
  delete state.unlisted;
  state.unlisted = nullptr;
}

void OpenCategory(Manifest& manifest, ParseState& state,
                  const std::string& name) {
  state.continuingDescription = false;
  CloseCurrent(manifest, state);
  if (name == kPartitionName || name == kStoreName) {
    state.unlisted = new ManifestCategory(name);
    state.current = state.unlisted;
  } else {
    state.current = manifest.AddCategory(name);
  }
}

void ContinueDescription(ParseState& state, const std::string& line) {
  std::string shortened = line.empty() ? line : line.substr(0, line.size() - 1);
  std::string value = state.current->GetValue(kDescriptionKey);
  value += "\r\n";
  value += shortened;
  state.current->SetValue(kDescriptionKey, value);
}
}  // namespace

void Manifest::Parse(std::istream& text) {
  const std::regex categoryPattern(kCategoryPattern, std::regex::ECMAScript);
  const std::regex entryPattern(kEntryPattern, std::regex::ECMAScript);
  ParseState state;
  std::string line;
  std::smatch match;
  // A line counts only when an LF ends it; text after the last LF is dropped.
  while (std::getline(text, line) && !text.eof()) {
    if (line.size() > kLongestManifestLine) continue;
    if (std::regex_match(line, match, categoryPattern)) {
      OpenCategory(*this, state, match[1].str());
    } else if (state.current != nullptr &&
               std::regex_match(line, match, entryPattern)) {
      const std::string key = match[1].str();
      state.current->SetValue(key, match[2].str());
      state.continuingDescription = key == kDescriptionKey;
    } else if (state.continuingDescription) {
      ContinueDescription(state, line);
    }
  }
  CloseCurrent(*this, state);
}
