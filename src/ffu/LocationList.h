#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

struct TargetLocation {
  uint32_t blockIndex = 0;
  uint32_t origin = 0;  // 2: counted back from the end of the disk
};

// The target locations of one block data entry. Nearly every entry names a
// single place, which is kept inline: a table of many thousands of entries
// then costs no allocation per entry, and memory stays small for large images.
class LocationList {
 public:
  LocationList() = default;
  LocationList(const LocationList& other) { CopyFrom(other); }
  LocationList& operator=(const LocationList& other) {
    if (this != &other) CopyFrom(other);
    return *this;
  }

  void assign(size_t count, const TargetLocation& value) {
    many.reset(count > 1 ? new TargetLocation[count] : nullptr);
    length = count;
    std::fill(begin(), end(), value);
  }
  size_t size() const { return length; }
  bool empty() const { return length == 0; }

  TargetLocation* begin() { return many ? many.get() : &single; }
  TargetLocation* end() { return begin() + length; }
  const TargetLocation* begin() const { return many ? many.get() : &single; }
  const TargetLocation* end() const { return begin() + length; }
  TargetLocation& operator[](size_t index) { return begin()[index]; }
  const TargetLocation& operator[](size_t index) const { return begin()[index]; }

 private:
  void CopyFrom(const LocationList& other) {
    assign(other.length, TargetLocation());
    std::copy(other.begin(), other.end(), begin());
  }

  TargetLocation single;
  std::unique_ptr<TargetLocation[]> many;
  size_t length = 0;
};
