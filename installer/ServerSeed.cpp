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

std::wstring NormaliseServerUrl(const std::wstring& given) {
    const size_t first = given.find_first_not_of(L" \t\r\n");
    if (first == std::wstring::npos) return std::wstring();
    const std::wstring url = given.substr(first, given.find_last_not_of(L" \t\r\n") - first + 1);
    // What the server dialog's single-line box could never hold.
    for (wchar_t c : url)
        if (c < L' ' || c == 0x7F) return std::wstring();
    // The program keeps the URL in the ANSI code page; the server dialog's
    // rule decides, as for a URL typed there.
    const std::string ansi = fw::WideToAnsi(url);
    if (fw::AnsiToWide(ansi) != url) return std::wstring();  // not representable as the program stores it
    return fw::AnsiToWide(::NormaliseServerUrl(ansi));
}

SeedResult SeedServerUrl(HKEY userHive, const std::wstring& given) {
    SeedResult result;
    const std::wstring url = NormaliseServerUrl(given);
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

}  // namespace installer
