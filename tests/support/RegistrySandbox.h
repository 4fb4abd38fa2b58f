#pragma once
// Redirects a predefined registry root of this process (HKEY_CURRENT_USER
// unless told otherwise; also HKEY_CLASSES_ROOT or HKEY_LOCAL_MACHINE) to a
// fresh private key for the lifetime of the object, so tests use the real
// registry without touching the user's settings, the machine's classes or
// each other's.
#include <windows.h>
#include <string>

namespace testing_support {

class RegistrySandbox {
public:
    explicit RegistrySandbox(HKEY redirected = HKEY_CURRENT_USER);
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    // The real key that stands in for the root, below HKEY_CURRENT_USER as it
    // was when the sandbox was made.
    const std::wstring& RealPath() const { return m_path; }

private:
    HKEY m_redirected;
    std::wstring m_name;
    std::wstring m_path;
    HKEY m_parent = nullptr;
    HKEY m_root = nullptr;
};

}  // namespace testing_support
