#include "common/ServerUrl.h"

#include "common/SettingsNames.h"

#include "framework/Internet.h"
#include "framework/RegistryValue.h"
#include "framework/Text.h"
#include "framework/WinHandle.h"

#include <windows.h>

std::string NormaliseServerUrl(std::string typed) {
    if (typed.empty() || typed.back() != '/') typed += '/';
    fw::UrlParts parts;
    if (!fw::ParseHttpUrl(typed, parts)) return std::string();
    // The path alone, without a query or fragment, must name more than the root.
    const std::string path = parts.object.substr(0, parts.object.find_first_of("?#"));
    return path.empty() || path == "/" ? std::string() : typed;
}

std::wstring NormaliseGivenServerUrl(const std::wstring& given) {
    const size_t first = given.find_first_not_of(L" \t\r\n");
    if (first == std::wstring::npos) return std::wstring();
    const std::wstring url = given.substr(first, given.find_last_not_of(L" \t\r\n") - first + 1);
    for (wchar_t c : url)
        if (c < L' ' || c == 0x7F) return std::wstring();
    const std::string ansi = fw::WideToAnsi(url);
    if (fw::AnsiToWide(ansi) != url) return std::wstring();
    return fw::AnsiToWide(NormaliseServerUrl(ansi));
}

std::wstring MachineDefaultServer() {
    // Through the 64-bit view, where Group Policy and a 64-bit installer
    // write, whatever the reader's or the deployment tool's own view.
    fw::UniqueHKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, settings_names::kMachineDefaultsKeyW, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                      key.put()) != ERROR_SUCCESS)
        return std::wstring();
    std::wstring value;
    if (!fw::ReadStringValue(key.get(), settings_names::kServerW, fw::kNoLengthLimit, value)) return std::wstring();
    return NormaliseGivenServerUrl(value);
}
