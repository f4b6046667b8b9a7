// Numbers in the on-disk records (GPT, VHDX, FFU) are little-endian, as on
// every host this program is built for, so records are read and written as
// they lie in memory; these move single values at any alignment.
#pragma once

#include <cstring>
#include <type_traits>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "on-disk records are read and written as they lie in memory");

// Returns: the value of type T stored little-endian at `at`.
template <typename T>
T LoadLittle(const void* at) {
  static_assert(std::is_integral_v<T>, "numbers only");
  T value;
  std::memcpy(&value, at, sizeof(value));
  return value;
}

// Stores `value` little-endian at `at`.
template <typename T>
void StoreLittle(void* at, T value) {
  static_assert(std::is_integral_v<T>, "numbers only");
  std::memcpy(at, &value, sizeof(value));
}
