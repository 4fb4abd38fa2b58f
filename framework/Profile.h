#pragma once
// The application's profile: values in
// HKEY_CURRENT_USER\Software\<registry key>\<application name>\<section>.
// Strings are in the system's ANSI code page.
#include <windows.h>
#include <string>
#include <vector>

namespace fw {

// The running program file's base name without extension ("zinpost").
std::string ProgramBaseName();
// The full path of the file `module` was loaded from (wide, any length);
// "" when unknown.
std::wstring ModulePath(HMODULE module);
// The running program file's full path (wide), and its folder.
std::wstring ProgramPath();
std::wstring ProgramFolder();

class Profile {
public:
    explicit Profile(std::string applicationName = ProgramBaseName());

    void SetRegistryKey(const std::string& key) { m_registryKey = key; }
    const std::string& RegistryKey() const { return m_registryKey; }
    const std::string& ApplicationName() const { return m_applicationName; }
    // "Software\<key>\<application>\<section>"
    std::string SectionPath(const std::string& section) const;

    // Missing values (or values of another type) give the default.
    std::string GetString(const std::string& section, const std::string& entry, const std::string& def) const;
    int GetInt(const std::string& section, const std::string& entry, int def) const;
    // False when the value is missing or not binary.
    bool GetBinary(const std::string& section, const std::string& entry, std::vector<BYTE>& data) const;

    // True when written.
    bool WriteString(const std::string& section, const std::string& entry, const std::string& value) const;
    // A REG_SZ written as UTF-16, for text the ANSI code page may not hold
    // (a path); readers of either width get it whole.
    bool WriteStringW(const std::string& section, const std::string& entry, const std::wstring& value) const;
    bool WriteInt(const std::string& section, const std::string& entry, int value) const;
    bool WriteBinary(const std::string& section, const std::string& entry, const BYTE* data, DWORD size) const;

private:
    std::string m_registryKey;
    std::string m_applicationName;
};

}  // namespace fw
