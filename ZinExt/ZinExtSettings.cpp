#include "ZinExt/ZinExtSettings.h"

#include "ZinExt/ZinExtMenu.h"

#include "common/SettingsNames.h"

#include "framework/RegistryValue.h"
#include "framework/WinHandle.h"

namespace zinext {

bool ReadExtensionSettings(ExtensionSettings& settings) {
    fw::UniqueHKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, settings_names::kSettingsKeyW, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    if (!fw::ReadStringValue(key.get(), settings_names::kFolderNameW, fw::kNoLengthLimit, settings.folderName) ||
        settings.folderName.empty())
        return false;
    // Only zinpost, by its absolute path: a relative one would be looked for
    // in Explorer's current folder, anything else is not ours to start. An
    // unusable path gives no entry rather than a dead one.
    return fw::ReadStringValue(key.get(), settings_names::kExeFileW, MAX_PATH, settings.exeFile) && IsProgramPath(settings.exeFile);
}

}  // namespace zinext
