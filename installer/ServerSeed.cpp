#include "installer/ServerSeed.h"

#include "common/ServerUrl.h"
#include "common/SettingsNames.h"

#include "framework/Text.h"
#include "framework/WinHandle.h"

#include <vector>

namespace installer {
namespace {

// The user's current `Server`; empty when the key or the value is missing.
LONG ReadServer(HKEY settings, std::wstring& server) {
    server.clear();
    DWORD type = 0, size = 0;
    LONG error = RegQueryValueExW(settings, settings_names::kServerW, nullptr, &type, nullptr, &size);
    if (error == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) return error;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_SUCCESS;  // not a setting the program can read
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    error = RegQueryValueExW(settings, settings_names::kServerW, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    if (error != ERROR_SUCCESS) return error;
    server = data.data();
    return ERROR_SUCCESS;
}

}  // namespace

SeedResult SeedServerUrl(HKEY userHive, const std::wstring& given) {
    SeedResult result;
    const std::wstring url = NormaliseGivenServerUrl(given);
    if (url.empty()) {
        result.outcome = SeedOutcome::NotAUrl;
        result.url = given;
        return result;
    }
    fw::UniqueHKey settings;
    result.error = RegCreateKeyExW(userHive, settings_names::kSettingsKeyW, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, settings.put(), nullptr);
    if (result.error != ERROR_SUCCESS) return result;
    result.error = ReadServer(settings.get(), result.url);
    if (result.error != ERROR_SUCCESS) return result;
    if (!result.url.empty()) {
        result.outcome = SeedOutcome::UserHasServer;
        return result;
    }
    result.error = RegSetValueExW(settings.get(), settings_names::kServerW, 0, REG_SZ, reinterpret_cast<const BYTE*>(url.c_str()),
                                  static_cast<DWORD>((url.size() + 1) * sizeof(wchar_t)));
    if (result.error != ERROR_SUCCESS) return result;
    result.outcome = SeedOutcome::Written;
    result.url = url;
    return result;
}

SeedResult SeedMachineServer(const std::wstring& given) {
    SeedResult result;
    result.url = NormaliseGivenServerUrl(given);
    if (result.url.empty()) {
        result.outcome = SeedOutcome::NotAUrl;
        result.url = given;
        return result;
    }
    fw::UniqueHKey key;
    result.error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, settings_names::kMachineDefaultsKeyW, 0, nullptr,
                                   REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.put(), nullptr);
    if (result.error == ERROR_SUCCESS)
        result.error = RegSetValueExW(key.get(), settings_names::kServerW, 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(result.url.c_str()),
                                      static_cast<DWORD>((result.url.size() + 1) * sizeof(wchar_t)));
    if (result.error == ERROR_SUCCESS) result.outcome = SeedOutcome::Written;
    return result;
}

LONG RemoveMachineServer() {
    std::wstring path = settings_names::kMachineDefaultsKeyW;
    {
        fw::UniqueHKey key;
        LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_64KEY, key.put());
        if (error == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
        if (error != ERROR_SUCCESS) return error;
        error = RegDeleteValueW(key.get(), settings_names::kServerW);
        if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) return error;
    }
    // zinpost, then KORVANTA, each only while it holds nothing else; the
    // Policies key itself belongs to Windows.
    for (int level = 0; level < 2; ++level) {
        fw::UniqueHKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) !=
            ERROR_SUCCESS)
            break;
        DWORD subkeys = 0, values = 0;
        if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
            subkeys != 0 || values != 0)
            break;
        key.reset();
        if (RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_64KEY, 0) != ERROR_SUCCESS) break;
        path.erase(path.rfind(L'\\'));
    }
    return ERROR_SUCCESS;
}

}  // namespace installer
