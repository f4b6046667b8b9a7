// The formatter behind the wide prints and the bounded wide formatting. It
// follows the wide formats of the Windows runtime: "%s" takes a wide string,
// "%hs" and "%S" a narrow one, "l" is 32 bits wide, "ll" and "I64" 64 bits.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

// Where formatted characters go: an unbounded string, or a caller's buffer
// of `capacity` characters that always keeps room for the terminator.
class WideSink {
 public:
  explicit WideSink(std::wstring* text);
  WideSink(wchar_t* buffer, size_t capacity);

  void Put(wchar_t character);
  void Put(const wchar_t* text, size_t length);
  void Repeat(wchar_t character, size_t count);
  bool IsCut() const { return cut; }
  size_t Length() const { return length; }
  void Terminate();

 private:
  std::wstring* text = nullptr;
  wchar_t* buffer = nullptr;
  size_t capacity = 0;
  size_t length = 0;
  bool cut = false;
};

// Formats `format` with the values in `arguments` into `sink`; stops early
// once a bounded sink is full. With `narrowStrings` the format is a narrow
// one: "%s" and "%c" take narrow text and "%S", "%ls" wide text.
void FormatWideInto(WideSink& sink, const wchar_t* format, va_list* arguments,
                    bool narrowStrings);

// The whole formatted text.
std::wstring FormatWideText(const wchar_t* format, va_list arguments, bool narrowStrings);
