// Wide text (wchar_t) to and from the UTF-8 the kernel takes.
#pragma once

#include <string>

std::string ToUtf8(const wchar_t* text);
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
