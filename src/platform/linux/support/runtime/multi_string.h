// Lists of strings in the Win32 multi-string form: each string with its
// terminator, then one more terminator that closes the list.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The units the list takes, closing terminator included.
size_t MultiStringSize(const std::vector<std::wstring>& strings);

// Stores the list at `target`, which holds MultiStringSize(strings) units.
// Returns the units stored.
size_t StoreMultiString(const std::vector<std::wstring>& strings, wchar_t* target);
