#include "tests/support/TempDir.h"

#include "framework/WinHandle.h"

#include <atomic>
#include <stdexcept>

namespace testing_support {
namespace {

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

}  // namespace

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    m_path = std::wstring(base) + L"zinpost-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(++counter);
    RemoveTree(m_path);
    if (!CreateDirectoryW(m_path.c_str(), nullptr)) throw std::runtime_error("temporary folder not created");
}

TempDir::~TempDir() { RemoveTree(m_path); }

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    fw::UniqueFile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::string ReadFileBytes(const std::wstring& path) {
    fw::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::string();
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    return bytes;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

CurrentDirectory::CurrentDirectory(const std::wstring& path) {
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    m_previous = previous;
    if (!SetCurrentDirectoryW(path.c_str())) throw std::runtime_error("current directory not changed");
}

CurrentDirectory::~CurrentDirectory() { SetCurrentDirectoryW(m_previous.c_str()); }

PathFront::PathFront(const std::wstring& folder) {
    std::wstring path(32767, L'\0');
    path.resize(GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size())));
    m_original = path;
    Set(folder);
}

PathFront::~PathFront() { SetEnvironmentVariableW(L"PATH", m_original.c_str()); }

void PathFront::Set(const std::wstring& folder) const {
    SetEnvironmentVariableW(L"PATH", (folder.empty() ? m_original : folder + L";" + m_original).c_str());
}

}  // namespace testing_support
