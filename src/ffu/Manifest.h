#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ffu/ManifestCategory.h"

// The image's manifest: the listed categories in the order their names first
// occur, and the "Store" categories in the order they close. "Partition" and
// "Store" categories are never listed.
class Manifest {
 public:
  // Parses the whole text before returning, in time proportional to its
  // length. Only lines that an LF ends are parsed.
  // `oneStore`: the image holds one store, so a second "Store" category
  // draws the store warning.
  explicit Manifest(std::string_view text, bool oneStore = true);
  Manifest(const Manifest&) = delete;
  Manifest& operator=(const Manifest&) = delete;

  // Returns: the new listed category, or the one listed under `name`
  // already, with a warning.
  ManifestCategory* AddCategory(const std::string& name);
  // Returns: the listed category of that name, nullptr when there is none.
  ManifestCategory* FindCategory(const std::string& name) const;
  // Keeps a closed "Store" category; in an image of one store a second one
  // draws the store warning.
  void CloseCategory(const ManifestCategory* category);
  // Prints each warning of the parse once, in the order they first came,
  // with how often it came when that was more than once (a hostile text
  // repeats one millions of times). The parse ends with it.
  void PrintWarnings();

  // Returns: the listed categories, in the order their names first occur.
  const std::vector<std::unique_ptr<ManifestCategory>>& Categories() const { return categories; }
  // Returns: the closed "Store" categories, in the order they closed.
  const std::vector<ManifestCategory>& StoreCategories() const { return storeCategories; }

 private:
  struct Warning {
    const wchar_t* text;  // without its line feed
    size_t count;
  };
  void Parse(std::string_view text);
  void Warn(const wchar_t* text);
  bool oneStore;
  std::vector<Warning> warnings;
  std::vector<std::unique_ptr<ManifestCategory>> categories;
  std::vector<ManifestCategory> storeCategories;
  // The listed categories by name, for lookups that stay fast however many
  // categories a text names. The keys view the categories' own names.
  std::map<std::string_view, ManifestCategory*> byName;
};
