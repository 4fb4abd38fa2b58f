#include "tests/install/Installation.h"

#include "tests/support/StandinServer.h"
#include "tests/support/TempDir.h"

#include "framework/Text.h"
#include "framework/WinHandle.h"

#include <msi.h>
#include <msiquery.h>
#include <objbase.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <wrl/client.h>

#include <cctype>
#include <cwctype>
#include <sstream>
#include <stdexcept>

namespace install_test {
namespace {

struct MsiHandleTraits {
    using pointer = MSIHANDLE;
    static constexpr pointer invalid() noexcept { return 0; }
    static void close(pointer h) noexcept { MsiCloseHandle(h); }
};
using UniqueMsiHandle = fw::UniqueHandle<MsiHandleTraits>;

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(towupper(c));
    return text;
}

Package PackageIn(const char* folder) {
    const std::string root = testing_support::EnvironmentVariable("ZINPOST_PACKAGE_DIR");
    if (root.empty()) throw std::runtime_error("ZINPOST_PACKAGE_DIR is not set");
    Package package;
    const std::wstring dir = testing_support::UnixPathForWindows(root + "/" + folder);
    package.version = testing_support::ReadFileBytes(dir + L"\\version");
    while (!package.version.empty() && std::isspace(static_cast<unsigned char>(package.version.back())))
        package.version.pop_back();
    if (package.version.empty()) throw std::runtime_error("no package in " + root + "/" + folder);
    package.msi = dir + L"\\TessalySendlet-" + fw::Utf8ToWide(package.version) + L".msi";
    std::string publisher = testing_support::ReadFileBytes(dir + L"\\publisher");
    while (!publisher.empty() && (publisher.back() == '\n' || publisher.back() == '\r')) publisher.pop_back();
    if (publisher.empty()) throw std::runtime_error("no publisher in " + root + "/" + folder);
    package.publisher = fw::Utf8ToWide(publisher);
    package.filesDir = dir + L"\\files";
    return package;
}

void AddTree(HKEY key, const std::wstring& path, RegistrySnapshot& snapshot) {
    snapshot[Upper(path)] = {REG_NONE, {}};
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLength = 16384, type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size);
        nameLength = 16384;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
        data.resize(size);
        snapshot[Upper(path) + L"\\|" + name] = {type, data};
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        fw::UniqueHKey child;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, child.put()) == ERROR_SUCCESS)
            AddTree(child.get(), path + L"\\" + name, snapshot);
    }
}

int CountUninstallEntries(HKEY root, const std::wstring& name) {
    fw::UniqueHKey uninstall;
    if (RegOpenKeyExW(root, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0, KEY_READ,
                      uninstall.put()) != ERROR_SUCCESS)
        return 0;
    int count = 0;
    for (DWORD i = 0;; ++i) {
        wchar_t key[256];
        DWORD length = 256;
        if (RegEnumKeyExW(uninstall.get(), i, key, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (StringValue(uninstall.get(), key, L"DisplayName") == name) ++count;
    }
    return count;
}

}  // namespace

Package NewPackage() { return PackageIn("new"); }
Package OldPackage() { return PackageIn("old"); }

MsiexecRun Msiexec(const std::wstring& arguments) {
    testing_support::TempDir dir;
    const std::wstring log = dir.File(L"msiexec.log");
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring program = std::wstring(system) + L"\\msiexec.exe";
    std::wstring commandLine = L"msiexec " + arguments + L" /l*v \"" + log + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    MsiexecRun run;
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
        return run;
    fw::UniqueKernelHandle process(info.hProcess);
    CloseHandle(info.hThread);
    // An installation that hangs fails the test through ctest's own time-out.
    WaitForSingleObject(process.get(), INFINITE);
    GetExitCodeProcess(process.get(), &run.exitCode);
    run.log = testing_support::ReadFileBytes(log);
    return run;
}

std::wstring PackageProperty(const std::wstring& msi, const wchar_t* name) {
    UniqueMsiHandle database, view, record;
    if (MsiOpenDatabaseW(msi.c_str(), reinterpret_cast<LPCWSTR>(MSIDBOPEN_READONLY), database.put()) != ERROR_SUCCESS)
        return L"";
    const std::wstring query = std::wstring(L"SELECT `Value` FROM `Property` WHERE `Property` = '") + name + L"'";
    if (MsiDatabaseOpenViewW(database.get(), query.c_str(), view.put()) != ERROR_SUCCESS) return L"";
    if (MsiViewExecute(view.get(), 0) != ERROR_SUCCESS) return L"";
    if (MsiViewFetch(view.get(), record.put()) != ERROR_SUCCESS) return L"";
    wchar_t value[512] = {};
    DWORD length = 512;
    if (MsiRecordGetStringW(record.get(), 1, value, &length) != ERROR_SUCCESS) return L"";
    return value;
}

std::vector<Product> RelatedProducts(const std::wstring& upgradeCode) {
    std::vector<Product> products;
    for (DWORD i = 0;; ++i) {
        wchar_t code[39] = {};
        if (MsiEnumRelatedProductsW(upgradeCode.c_str(), 0, i, code) != ERROR_SUCCESS) break;
        Product product{code, MSIINSTALLCONTEXT_NONE};
        for (MSIINSTALLCONTEXT context : {MSIINSTALLCONTEXT_USERUNMANAGED, MSIINSTALLCONTEXT_MACHINE}) {
            wchar_t state[16] = {};
            DWORD length = 16;
            if (MsiGetProductInfoExW(code, nullptr, context,
                                     L"State", state, &length) == ERROR_SUCCESS) {
                product.context = context;
                break;
            }
        }
        products.push_back(product);
    }
    return products;
}

std::wstring ProductInfo(const Product& product, const wchar_t* property) {
    DWORD length = 0;
    if (MsiGetProductInfoW(product.code.c_str(), property, nullptr, &length) != ERROR_SUCCESS) return L"";
    std::wstring value(length + 1, L'\0');
    length = static_cast<DWORD>(value.size());
    if (MsiGetProductInfoW(product.code.c_str(), property, value.data(), &length) != ERROR_SUCCESS) return L"";
    value.resize(length);
    return value;
}

int UninstallEntries(const std::wstring& name) {
    return CountUninstallEntries(HKEY_LOCAL_MACHINE, name) + CountUninstallEntries(HKEY_CURRENT_USER, name);
}

RegistrySnapshot Snapshot(HKEY root, const std::wstring& base, const std::vector<std::wstring>& keys) {
    RegistrySnapshot snapshot;
    for (const std::wstring& path : keys) {
        fw::UniqueHKey key;
        const std::wstring full = base.empty() ? path : base + L"\\" + path;
        if (RegOpenKeyExW(root, full.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS)
            AddTree(key.get(), path, snapshot);
    }
    return snapshot;
}

std::wstring Describe(const RegistrySnapshot& snapshot) {
    std::wostringstream text;
    for (const auto& entry : snapshot) {
        text << entry.first;
        if (entry.second.first == REG_SZ) {
            const auto& data = entry.second.second;
            text << L" = \"" << std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2) << L"\"";
        } else if (entry.second.first != REG_NONE) {
            text << L" (type " << entry.second.first << L", " << entry.second.second.size() << L" bytes)";
        }
        text << L"\n";
    }
    return text.str();
}

bool KeyExists(HKEY root, const std::wstring& path) {
    fw::UniqueHKey key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::wstring ShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return L"";
    std::wstring folder = path;
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder;
}

bool SameFileName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::string FileBytes(const std::wstring& path) { return testing_support::ReadFileBytes(path); }

bool DirectoryExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

ShortcutInfo ReadShortcut(const std::wstring& lnkPath) {
    ShortcutInfo info;
    Microsoft::WRL::ComPtr<IShellLinkW> link;
    Microsoft::WRL::ComPtr<IPersistFile> file;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link))) ||
        FAILED(link.As(&file)) || FAILED(file->Load(lnkPath.c_str(), STGM_READ)))
        return info;
    wchar_t text[MAX_PATH] = {};
    if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, 0))) info.target = text;
    text[0] = L'\0';
    if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) info.workingDirectory = text;
    return info;
}

VersionInfo ReadVersion(const std::wstring& path) {
    VersionInfo info;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return info;
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return info;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed) return info;
    info.present = true;
    info.fileVersion = std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
                       std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
                       std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
                       std::to_wstring(LOWORD(fixed->dwFileVersionLS));
    struct Translation {
        WORD language, codePage;
    }* translation = nullptr;
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                        &length) ||
        length < sizeof(Translation))
        return info;
    wchar_t block[64];
    swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\", translation->language, translation->codePage);
    for (const wchar_t* name :
         {L"CompanyName", L"FileDescription", L"FileVersion", L"ProductName", L"ProductVersion", L"OriginalFilename"}) {
        wchar_t* value = nullptr;
        if (VerQueryValueW(data.data(), (std::wstring(block) + name).c_str(), reinterpret_cast<void**>(&value),
                           &length) &&
            value)
            info.strings[name] = value;
    }
    return info;
}

std::vector<std::wstring> ProcessModules(DWORD pid) {
    std::vector<std::wstring> modules;
    fw::UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) {
        snapshot.release();
        return modules;
    }
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32FirstW(snapshot.get(), &entry); more; more = Module32NextW(snapshot.get(), &entry))
        modules.push_back(entry.szExePath);
    return modules;
}

}  // namespace install_test
