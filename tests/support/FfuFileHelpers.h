// Helpers of the tests that build FFU files from the layout records and read
// them back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "win32.h"

// Appends one record of the file layout, as it lies in memory.
template <typename Record>
void Put(std::vector<uint8_t>& bytes, const Record& record) {
  const uint8_t* at = reinterpret_cast<const uint8_t*>(&record);
  bytes.insert(bytes.end(), at, at + sizeof(record));
}

// Where the file pointer of `file` stands.
inline uint64_t FilePosition(HANDLE file) {
  LARGE_INTEGER zero{};
  LARGE_INTEGER now{};
  EXPECT_TRUE(SetFilePointerEx(file, zero, &now, FILE_CURRENT));
  return static_cast<uint64_t>(now.QuadPart);
}
