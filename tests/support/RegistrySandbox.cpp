#include "tests/support/RegistrySandbox.h"

#include <atomic>
#include <stdexcept>
#include <string>

namespace testing_support {

RegistrySandbox::RegistrySandbox(HKEY root) : m_predefined(root) {
    static std::atomic<int> counter{0};
    m_path = L"Software\\ZinpostTests\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(++counter);
    // Open the real hive first: after the override HKEY_CURRENT_USER means the sandbox.
    if (RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_root,
                        nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("sandbox key not created");
    if (RegOverridePredefKey(m_predefined, m_root) != ERROR_SUCCESS)
        throw std::runtime_error("registry root not redirected");
}

RegistrySandbox::~RegistrySandbox() {
    RegOverridePredefKey(m_predefined, nullptr);
    RegCloseKey(m_root);
    RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
}

std::wstring StringValue(HKEY root, const std::wstring& path, const wchar_t* name) {
    wchar_t data[2048] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS) return L"";
    return data;
}

}  // namespace testing_support
