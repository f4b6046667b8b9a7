#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// UTF-16 (as NTFS and FAT keep names) to UTF-8; an unpaired surrogate
// becomes U+FFFD.
std::string Utf16ToUtf8(const uint16_t* text, size_t length);
// UTF-8 to UTF-16; a malformed byte becomes U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text);
// Upper case of a UTF-8 name by simple case mapping, for the file systems
// whose volume carries no table of its own (FAT, exFAT read by the library).
std::u16string FoldName(const std::string& name);
// A name the program keeps as wide text (a GPT name) in UTF-8.
std::string WideToUtf8(const std::wstring& text);
// UTF-8 to wide text, for the program's lines.
std::wstring Utf8ToWide(const std::string& text);
