// Wide text (wchar_t) to and from the UTF-8 the kernel takes.
#pragma once

#include <cstddef>
#include <string>

std::string ToUtf8(const wchar_t* text);
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// UTF-8 as Windows converts it (code page 65001): a code point that no
// valid text holds (an unpaired surrogate, also one that escapes a raw
// byte) becomes U+FFFD, and so does every byte that starts no valid sequence.
std::string ToUtf8Replacing(const wchar_t* text, size_t length);
std::wstring FromUtf8Replacing(const std::string& text);
