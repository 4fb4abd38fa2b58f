#pragma once
// Reading a string value of the registry safely, whatever was stored there.
#include <windows.h>

#include <cstddef>
#include <string>

namespace fw {

constexpr size_t kNoLengthLimit = static_cast<size_t>(-1);

// Reads a REG_SZ value of at most `maxChars` characters (terminator not
// counted). A missing value, another type, a longer text or a value that
// changes between the two reads gives false. A value stored without its
// terminator is read up to its end and no further.
bool ReadStringValue(HKEY key, const wchar_t* name, size_t maxChars, std::wstring& value);

}  // namespace fw
