#include "ffu/Manifest.h"

#include <cwchar>

#include "common/ProgramLines.h"
#include "ffu/ManifestLine.h"
#include "platform.h"

namespace {
constexpr size_t kReservedCategories = 20;
const char kDescriptionKey[] = "Description";
const char kPartitionName[] = "Partition";
const char kStoreName[] = "Store";

// What one parse carries from line to line.
struct ParseState {
  ManifestCategory* current = nullptr;
  // Unlisted categories ("Partition", "Store") belong to the parse until
  // they are closed.
  std::unique_ptr<ManifestCategory> unlisted;
  // The "Description" value that the following lines continue; none while
  // the continuation is off. Extended in place, so that a long description
  // costs time in proportion to its length.
  std::string* description = nullptr;
};
}  // namespace

Manifest::Manifest(std::string_view text, bool oneStore) : oneStore(oneStore) {
  categories.reserve(kReservedCategories);
  Parse(text);
}

ManifestCategory* Manifest::AddCategory(const std::string& name) {
  ManifestCategory* listed = FindCategory(name);
  if (listed != nullptr) {
    Warn(L"Cannot add duplicate categories to a manifest.");
    return listed;
  }
  categories.push_back(std::make_unique<ManifestCategory>(name));
  ManifestCategory* category = categories.back().get();
  byName.emplace(category->name, category);
  return category;
}

void Manifest::Warn(const wchar_t* text) {
  for (Warning& warning : warnings) {
    if (wcscmp(warning.text, text) == 0) {
      ++warning.count;
      return;
    }
  }
  warnings.push_back(Warning{text, 1});
}

void Manifest::PrintWarnings() {
  for (const Warning& warning : warnings) {
    if (warning.count == 1) PrintWarningLine(L"%s\n", warning.text);
    else PrintWarningLine(L"%s (%llu times)\n", warning.text,
                          static_cast<unsigned long long>(warning.count));
  }
  warnings.clear();
}

ManifestCategory* Manifest::FindCategory(const std::string& name) const {
  auto found = byName.find(name);
  return found == byName.end() ? nullptr : found->second;
}

void Manifest::CloseCategory(const ManifestCategory* category) {
  if (category == nullptr || category->name != kStoreName) return;
  if (!storeCategories.empty() && oneStore) Warn(L"FFU already contains a store.");
  storeCategories.push_back(*category);
}

namespace {
void CloseCurrent(Manifest& manifest, ParseState& state) {
  manifest.CloseCategory(state.current);
  state.current = nullptr;
  state.unlisted.reset();
}

void OpenCategory(Manifest& manifest, ParseState& state, const std::string& name) {
  state.description = nullptr;
  CloseCurrent(manifest, state);
  if (name == kPartitionName || name == kStoreName) {
    state.unlisted = std::make_unique<ManifestCategory>(name);
    state.current = state.unlisted.get();
  } else {
    state.current = manifest.AddCategory(name);
  }
}

void StoreEntry(ParseState& state, std::string_view key, std::string_view value) {
  std::string& stored = state.current->values[std::string(key)];
  stored.assign(value);
  state.description = key == kDescriptionKey ? &stored : nullptr;
}

// The line goes on the description without its last character (in a CR LF
// text, the CR); an empty line adds an empty line.
void ContinueDescription(ParseState& state, std::string_view line) {
  if (!line.empty()) line.remove_suffix(1);
  state.description->append("\r\n");
  state.description->append(line);
}
}  // namespace

void Manifest::Parse(std::string_view text) {
  ParseState state;
  std::string_view name;
  std::string_view key;
  std::string_view value;
  // A line counts only when an LF ends it; text after the last LF is dropped.
  for (size_t end = text.find('\n'); end != std::string_view::npos; end = text.find('\n')) {
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (MatchCategoryLine(line, &name)) {
      OpenCategory(*this, state, std::string(name));
    } else if (state.current != nullptr && MatchEntryLine(line, &key, &value)) {
      StoreEntry(state, key, value);
    } else if (state.description != nullptr) {
      ContinueDescription(state, line);
    }
  }
  CloseCurrent(*this, state);
  PrintWarnings();
}
