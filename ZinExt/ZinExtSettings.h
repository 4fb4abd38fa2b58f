#pragma once
// The two values the extension reads from the settings that zinpost writes:
// the folder name for the entry's text and the program's path.
#include <windows.h>

#include <cstddef>
#include <string>

namespace zinext {

constexpr size_t kNoLengthLimit = static_cast<size_t>(-1);

// Reads a REG_SZ value of at most `maxChars` characters (terminator not
// counted). A missing value, another type, a longer text or a value that
// changes between the two reads gives false. A value stored without its
// terminator is read up to its end and no further.
bool ReadStringValue(HKEY key, const wchar_t* name, size_t maxChars, std::wstring& value);

struct ExtensionSettings {
    std::wstring folderName;
    std::wstring exeFile;  // at most MAX_PATH characters
};

// Opens the settings key of the current user (creating it empty when it is
// missing) and reads "FolderName" and "ExeFile". False when the entry cannot
// be offered: no key, no or an empty folder name, no usable program path
// (absolute, naming zinpost.exe).
bool ReadExtensionSettings(ExtensionSettings& settings);

}  // namespace zinext
