#include "wide_format.h"

#include <cstdint>
#include <cstring>
#include <cwchar>

#include "text.h"

namespace {
// Widths and precisions beyond this are clamped, so that a hostile format
// cannot make the output grow without bound.
constexpr int kMaxFieldWidth = 65536;

struct Conversion {
  bool leftAlign = false;
  bool plusSign = false;
  bool spaceSign = false;
  bool alternate = false;
  bool zeroPad = false;
  int width = 0;
  int precision = -1;  // -1: none given
  int bits = 32;       // integer width: 8, 16, 32 or 64
  bool narrow = false;  // strings and characters are narrow ("h", or "S"/"C" in wide formats)
  wchar_t conversion = 0;
};

int Clamp(long value) {
  if (value < 0) return 0;
  return value > kMaxFieldWidth ? kMaxFieldWidth : static_cast<int>(value);
}

// Reads the digits at `at`; -1 when there are none.
long ReadDigits(const wchar_t*& at) {
  if (*at < L'0' || *at > L'9') return -1;
  long value = 0;
  while (*at >= L'0' && *at <= L'9') {
    if (value <= kMaxFieldWidth) value = value * 10 + (*at - L'0');
    ++at;
  }
  return value;
}

// A width or precision given as '*' comes from the values; -1 when absent.
long ReadField(const wchar_t*& at, va_list* arguments) {
  if (*at != L'*') return ReadDigits(at);
  ++at;
  const long value = va_arg(*arguments, int);
  return value;
}

void ReadFlags(const wchar_t*& at, Conversion& conversion) {
  for (;; ++at) {
    switch (*at) {
      case L'-': conversion.leftAlign = true; break;
      case L'+': conversion.plusSign = true; break;
      case L' ': conversion.spaceSign = true; break;
      case L'#': conversion.alternate = true; break;
      case L'0': conversion.zeroPad = true; break;
      default: return;
    }
  }
}

void ReadLength(const wchar_t*& at, Conversion& conversion) {
  if (at[0] == L'h' && at[1] == L'h') {
    conversion.bits = 8, at += 2;
  } else if (at[0] == L'h') {
    conversion.bits = 16, conversion.narrow = true, ++at;
  } else if (at[0] == L'l' && at[1] == L'l') {
    conversion.bits = 64, at += 2;
  } else if (at[0] == L'l' || at[0] == L'w') {
    conversion.narrow = false;  // 32-bit integers, wide strings and characters
    ++at;
  } else if (at[0] == L'I' && at[1] == L'6' && at[2] == L'4') {
    conversion.bits = 64, at += 3;
  } else if (at[0] == L'I' && at[1] == L'3' && at[2] == L'2') {
    at += 3;
  } else if (at[0] == L'I' || at[0] == L'z' || at[0] == L'j' || at[0] == L't' ||
             at[0] == L'L' || at[0] == L'q') {
    conversion.bits = 64, ++at;
  }
}

void PutPadded(WideSink& sink, const Conversion& conversion, const wchar_t* text, size_t length) {
  const size_t width = static_cast<size_t>(conversion.width);
  const size_t padding = width > length ? width - length : 0;
  if (!conversion.leftAlign) sink.Repeat(L' ', padding);
  sink.Put(text, length);
  if (conversion.leftAlign) sink.Repeat(L' ', padding);
}

void PutInteger(WideSink& sink, const Conversion& conversion, uint64_t magnitude, bool negative) {
  const bool upper = conversion.conversion == L'X' || conversion.conversion == L'p';
  const unsigned base = conversion.conversion == L'o' ? 8
                        : (conversion.conversion == L'x' || upper) ? 16 : 10;
  static const wchar_t kUpperDigits[] = L"0123456789ABCDEF";
  static const wchar_t kLowerDigits[] = L"0123456789abcdef";
  const wchar_t* digitSet = upper ? kUpperDigits : kLowerDigits;
  wchar_t digits[24];
  size_t count = 0;
  for (uint64_t value = magnitude; value != 0; value /= base) digits[count++] = digitSet[value % base];
  const size_t precision = conversion.precision < 0 ? 1 : static_cast<size_t>(conversion.precision);
  size_t zeros = precision > count ? precision - count : 0;
  std::wstring prefix;
  if (negative) prefix = L"-";
  else if (conversion.plusSign && base == 10) prefix = L"+";
  else if (conversion.spaceSign && base == 10) prefix = L" ";
  if (conversion.alternate && magnitude != 0 && base == 16) prefix += upper ? L"0X" : L"0x";
  if (conversion.alternate && base == 8 && zeros == 0) zeros = 1;
  const size_t length = prefix.size() + zeros + count;
  const size_t width = static_cast<size_t>(conversion.width);
  size_t padding = width > length ? width - length : 0;
  if (conversion.zeroPad && !conversion.leftAlign && conversion.precision < 0) {
    zeros += padding;
    padding = 0;
  }
  if (!conversion.leftAlign) sink.Repeat(L' ', padding);
  sink.Put(prefix.data(), prefix.size());
  sink.Repeat(L'0', zeros);
  while (count > 0) sink.Put(digits[--count]);
  if (conversion.leftAlign) sink.Repeat(L' ', padding);
}

void PutSigned(WideSink& sink, const Conversion& conversion, va_list* arguments) {
  int64_t value = 0;
  if (conversion.bits == 64) value = va_arg(*arguments, long long);
  else value = va_arg(*arguments, int);
  if (conversion.bits == 16) value = static_cast<int16_t>(value);
  if (conversion.bits == 8) value = static_cast<int8_t>(value);
  const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value)
                                       : static_cast<uint64_t>(value);
  PutInteger(sink, conversion, magnitude, value < 0);
}

void PutUnsigned(WideSink& sink, const Conversion& conversion, va_list* arguments) {
  uint64_t value = 0;
  if (conversion.bits == 64) value = va_arg(*arguments, unsigned long long);
  else value = va_arg(*arguments, unsigned int);
  if (conversion.bits == 16) value = static_cast<uint16_t>(value);
  if (conversion.bits == 8) value = static_cast<uint8_t>(value);
  PutInteger(sink, conversion, value, false);
}

void PutString(WideSink& sink, const Conversion& conversion, va_list* arguments) {
  const size_t limit = conversion.precision < 0 ? SIZE_MAX : static_cast<size_t>(conversion.precision);
  if (conversion.narrow) {
    const char* text = va_arg(*arguments, const char*);
    if (text == nullptr) text = "(null)";
    std::wstring wide = FromUtf8(std::string(text, strnlen(text, limit)));
    PutPadded(sink, conversion, wide.data(), wide.size());
  } else {
    const wchar_t* text = va_arg(*arguments, const wchar_t*);
    if (text == nullptr) text = L"(null)";
    PutPadded(sink, conversion, text, wcsnlen(text, limit));
  }
}

void PutCharacter(WideSink& sink, const Conversion& conversion, va_list* arguments) {
  const int value = va_arg(*arguments, int);
  wchar_t character = static_cast<wchar_t>(value);
  if (conversion.narrow) {
    // A narrow character is one byte; bytes above 0x7F pass through unchanged.
    const unsigned char byte = static_cast<unsigned char>(value);
    character = byte < 0x80 ? byte : static_cast<wchar_t>(0xDC00 + byte);
  }
  PutPadded(sink, conversion, &character, 1);
}

void PutPointer(WideSink& sink, Conversion conversion, va_list* arguments) {
  const void* pointer = va_arg(*arguments, void*);
  conversion.precision = static_cast<int>(2 * sizeof(void*));
  PutInteger(sink, conversion, reinterpret_cast<uintptr_t>(pointer), false);
}

// Formats one conversion starting after its '%'; returns where it ends.
const wchar_t* PutConversion(WideSink& sink, const wchar_t* at, va_list* arguments,
                             bool narrowStrings) {
  const wchar_t* start = at;
  Conversion conversion;
  conversion.narrow = narrowStrings;
  ReadFlags(at, conversion);
  long width = ReadField(at, arguments);
  if (width < 0 && at != start && at[-1] == L'*') {
    conversion.leftAlign = true;  // a negative '*' width aligns to the left
    width = -width;
  }
  conversion.width = Clamp(width);
  if (*at == L'.') {
    ++at;
    const long precision = ReadField(at, arguments);
    // "%.s" means precision 0; a negative '*' precision means none.
    if (precision >= 0) conversion.precision = Clamp(precision);
    else if (at[-1] != L'*') conversion.precision = 0;
  }
  ReadLength(at, conversion);
  conversion.conversion = *at;
  switch (*at) {
    case L'd': case L'i': PutSigned(sink, conversion, arguments); break;
    case L'u': case L'x': case L'X': case L'o': PutUnsigned(sink, conversion, arguments); break;
    case L's': PutString(sink, conversion, arguments); break;
    case L'S': conversion.narrow = !narrowStrings; PutString(sink, conversion, arguments); break;
    case L'c': PutCharacter(sink, conversion, arguments); break;
    case L'C': conversion.narrow = !narrowStrings; PutCharacter(sink, conversion, arguments); break;
    case L'p': PutPointer(sink, conversion, arguments); break;
    case L'%': sink.Put(L'%'); break;
    case L'\0':
      // A lone '%' at the end of the format stands for itself.
      sink.Put(L'%');
      return at;
    default:
      // Not a conversion: the text is printed as it stands.
      sink.Put(L'%');
      sink.Put(start, static_cast<size_t>(at - start) + 1);
      break;
  }
  return at + 1;
}
}  // namespace

WideSink::WideSink(std::wstring* output) : text(output) {}

WideSink::WideSink(wchar_t* output, size_t size) : buffer(output), capacity(size) {
  if (output == nullptr || size == 0) cut = true;
}

void WideSink::Put(wchar_t character) {
  if (text != nullptr) {
    text->push_back(character);
  } else if (length + 1 < capacity) {
    buffer[length] = character;
  } else {
    cut = true;
    return;
  }
  ++length;
}

void WideSink::Put(const wchar_t* characters, size_t count) {
  for (size_t i = 0; i < count && !cut; ++i) Put(characters[i]);
}

void WideSink::Repeat(wchar_t character, size_t count) {
  for (size_t i = 0; i < count && !cut; ++i) Put(character);
}

void WideSink::Terminate() {
  if (buffer != nullptr && capacity > 0) buffer[length] = L'\0';
}

void FormatWideInto(WideSink& sink, const wchar_t* format, va_list* arguments,
                    bool narrowStrings) {
  if (format == nullptr) return;
  const wchar_t* at = format;
  while (*at != L'\0' && !sink.IsCut()) {
    if (*at != L'%') {
      sink.Put(*at++);
      continue;
    }
    at = PutConversion(sink, at + 1, arguments, narrowStrings);
  }
}

std::wstring FormatWideText(const wchar_t* format, va_list arguments, bool narrowStrings) {
  std::wstring text;
  WideSink sink(&text);
  va_list copy;
  va_copy(copy, arguments);
  FormatWideInto(sink, format, &copy, narrowStrings);
  va_end(copy);
  return text;
}
