#pragma once
// The two values the extension reads from the settings that zinpost writes:
// the folder name for the entry's text and the program's path.
#include <windows.h>

#include <string>

namespace zinext {

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
