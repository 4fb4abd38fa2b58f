#pragma once
// Redirects HKEY_CURRENT_USER of this process to a fresh private key for the
// lifetime of the object, so tests use the real registry without touching
// the user's settings or each other's.
#include <windows.h>
#include <string>

namespace testing_support {

class RegistrySandbox {
public:
    RegistrySandbox();
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    // The real key that stands in for HKEY_CURRENT_USER.
    const std::wstring& RealPath() const { return m_path; }

private:
    std::wstring m_path;
    HKEY m_root = nullptr;
};

}  // namespace testing_support
