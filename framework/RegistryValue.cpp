#include "framework/RegistryValue.h"

#include <cwchar>
#include <vector>

namespace fw {

bool ReadStringValue(HKEY key, const wchar_t* name, size_t maxChars, std::wstring& value) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) return false;
    // Room for every stored character (an odd byte count rounds up) and a
    // terminator of our own, which the registry never overwrites.
    const size_t chars = (static_cast<size_t>(size) + 1) / sizeof(wchar_t);
    if (maxChars != kNoLengthLimit && chars > maxChars + 1) return false;
    std::vector<wchar_t> buffer(chars + 1, L'\0');
    DWORD got = static_cast<DWORD>(chars * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got) != ERROR_SUCCESS ||
        type != REG_SZ || got > chars * sizeof(wchar_t))
        return false;
    const size_t length = wcsnlen(buffer.data(), (got + 1) / sizeof(wchar_t));
    if (maxChars != kNoLengthLimit && length > maxChars) return false;
    value.assign(buffer.data(), length);
    return true;
}

}  // namespace fw
