#include "Profile.h"

#include "Text.h"
#include "WinHandle.h"

namespace fw {
namespace {

UniqueHKey OpenSection(const std::string& path, bool create) {
    UniqueHKey key;
    if (create) {
        RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                        nullptr, key.put(), nullptr);
    } else {
        RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put());
    }
    return key;
}

bool Query(const std::string& path, const std::string& entry, DWORD expectedType, std::vector<BYTE>& data) {
    UniqueHKey key = OpenSection(path, false);
    if (!key) return false;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key.get(), entry.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    if (type != expectedType) return false;
    data.assign(size, 0);
    if (RegQueryValueExA(key.get(), entry.c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return false;
    data.resize(size);
    return type == expectedType;
}

bool Set(const std::string& path, const std::string& entry, DWORD type, const BYTE* data, DWORD size) {
    UniqueHKey key = OpenSection(path, true);
    if (!key) return false;
    return RegSetValueExA(key.get(), entry.c_str(), 0, type, data, size) == ERROR_SUCCESS;
}

}  // namespace

std::wstring ModulePath(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring ProgramPath() { return ModulePath(nullptr); }

std::wstring ProgramFolder() {
    const std::wstring path = ProgramPath();
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::string ProgramBaseName() {
    std::wstring name = ProgramPath();
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return WideToAnsi(name);
}

Profile::Profile(std::string applicationName) : m_applicationName(std::move(applicationName)) {}

std::string Profile::SectionPath(const std::string& section) const {
    std::string path = "Software\\";
    if (!m_registryKey.empty()) path += m_registryKey + "\\";
    return path + m_applicationName + "\\" + section;
}

std::string Profile::GetString(const std::string& section, const std::string& entry, const std::string& def) const {
    std::vector<BYTE> data;
    if (!Query(SectionPath(section), entry, REG_SZ, data)) return def;
    std::string value(data.begin(), data.end());
    const size_t end = value.find('\0');
    if (end != std::string::npos) value.resize(end);
    return value;
}

int Profile::GetInt(const std::string& section, const std::string& entry, int def) const {
    std::vector<BYTE> data;
    if (!Query(SectionPath(section), entry, REG_DWORD, data) || data.size() != sizeof(DWORD)) return def;
    DWORD value = 0;
    memcpy(&value, data.data(), sizeof value);
    return static_cast<int>(value);
}

bool Profile::GetBinary(const std::string& section, const std::string& entry, std::vector<BYTE>& data) const {
    return Query(SectionPath(section), entry, REG_BINARY, data);
}

bool Profile::WriteString(const std::string& section, const std::string& entry, const std::string& value) const {
    return Set(SectionPath(section), entry, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
               static_cast<DWORD>(value.size() + 1));
}

bool Profile::WriteStringW(const std::string& section, const std::string& entry, const std::wstring& value) const {
    UniqueHKey key = OpenSection(SectionPath(section), true);
    if (!key) return false;
    return RegSetValueExW(key.get(), AnsiToWide(entry).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool Profile::WriteInt(const std::string& section, const std::string& entry, int value) const {
    const DWORD raw = static_cast<DWORD>(value);
    return Set(SectionPath(section), entry, REG_DWORD, reinterpret_cast<const BYTE*>(&raw), sizeof raw);
}

bool Profile::WriteBinary(const std::string& section, const std::string& entry, const BYTE* data, DWORD size) const {
    return Set(SectionPath(section), entry, REG_BINARY, data, size);
}

}  // namespace fw
