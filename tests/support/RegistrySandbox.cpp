#include "tests/support/RegistrySandbox.h"

#include <atomic>
#include <stdexcept>
#include <string>

namespace testing_support {

RegistrySandbox::RegistrySandbox(HKEY redirected) : m_redirected(redirected) {
    static std::atomic<int> counter{0};
    m_name = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    m_path = L"Software\\ZinpostTests\\" + m_name;
    // Open the real hive first: after the override the root means the
    // sandbox. The parent stays open so that the sandbox is removed from
    // where it was made, whatever HKEY_CURRENT_USER means by then.
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\ZinpostTests", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &m_parent, nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("sandbox parent key not created");
    if (RegCreateKeyExW(m_parent, m_name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_root, nullptr) !=
        ERROR_SUCCESS) {
        RegCloseKey(m_parent);
        throw std::runtime_error("sandbox key not created");
    }
    if (RegOverridePredefKey(redirected, m_root) != ERROR_SUCCESS) {
        RegCloseKey(m_root);
        RegDeleteTreeW(m_parent, m_name.c_str());
        RegCloseKey(m_parent);
        throw std::runtime_error("registry root not redirected");
    }
}

RegistrySandbox::~RegistrySandbox() {
    RegOverridePredefKey(m_redirected, nullptr);
    RegCloseKey(m_root);
    RegDeleteTreeW(m_parent, m_name.c_str());
    RegCloseKey(m_parent);
}

}  // namespace testing_support
