#pragma once
// Redirects HKEY_CURRENT_USER (or another predefined root, such as
// HKEY_LOCAL_MACHINE) of this process to a fresh private key for the
// lifetime of the object, so tests use the real registry without touching
// the user's settings, the machine's, or each other's.
#include <windows.h>
#include <string>

namespace testing_support {

class RegistrySandbox {
public:
    explicit RegistrySandbox(HKEY root = HKEY_CURRENT_USER);
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    // The real key (below the real HKEY_CURRENT_USER) that stands in for the root.
    const std::wstring& RealPath() const { return m_path; }

private:
    HKEY m_predefined;
    std::wstring m_path;
    HKEY m_root = nullptr;
};

// A REG_SZ value read as UTF-16 (the default value when `name` is null);
// empty when it cannot be read.
std::wstring StringValue(HKEY root, const std::wstring& path, const wchar_t* name = nullptr);

}  // namespace testing_support
