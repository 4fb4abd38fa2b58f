#include "common/SparsePackage.h"

#include "framework/Sha256.h"
#include "framework/WinHandle.h"

namespace sparse_package {
namespace {

// PowerShell's single-quoted text: a quote inside is doubled.
std::wstring Quoted(const std::wstring& text) {
    std::wstring quoted = L"'";
    for (wchar_t c : text) {
        quoted += c;
        if (c == L'\'') quoted += c;
    }
    return quoted + L"'";
}

std::wstring PowerShell(const std::wstring& command) {
    return L"powershell.exe -NoLogo -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command \"" + command +
           L"\"";
}

}  // namespace

DWORD SystemBuild() {
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto getVersion =
        ntdll ? reinterpret_cast<RtlGetVersionFunction>(
                    reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
              : nullptr;
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!getVersion || getVersion(&version) != 0) return 0;
    return version.dwBuildNumber;
}

std::wstring PublisherId(const std::wstring& publisher) {
    BYTE digest[32];
    if (!fw::Sha256(publisher.data(), publisher.size() * sizeof(wchar_t), digest)) return std::wstring();
    // 64 bits, five at a time from the top, the last group padded with a 0.
    static const wchar_t kAlphabet[] = L"0123456789abcdefghjkmnpqrstvwxyz";
    unsigned long long bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | digest[i];
    std::wstring id;
    for (int group = 0; group < 13; ++group) {
        const int shift = 59 - group * 5;
        const unsigned value = shift >= 0 ? static_cast<unsigned>((bits >> shift) & 31)
                                          : static_cast<unsigned>((bits << -shift) & 31);
        id += kAlphabet[value];
    }
    return id;
}

std::wstring FamilyName(const std::wstring& publisher) {
    return std::wstring(kName) + L"_" + PublisherId(publisher);
}

std::wstring FullName(const std::wstring& version, const std::wstring& publisher) {
    return std::wstring(kName) + L"_" + version + L"_x64__" + PublisherId(publisher);
}

bool Registered(const std::wstring& familyName) {
    // Windows 10 and later; looked up so that older systems still load us.
    using Function = LONG(WINAPI*)(PCWSTR, UINT32*, PWSTR*, UINT32*, WCHAR*);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto find = kernel ? reinterpret_cast<Function>(reinterpret_cast<void*>(
                                   GetProcAddress(kernel, "GetPackagesByPackageFamily")))
                             : nullptr;
    if (!find) return false;
    UINT32 count = 0, length = 0;
    const LONG result = find(familyName.c_str(), &count, nullptr, &length, nullptr);
    return (result == ERROR_SUCCESS || result == ERROR_INSUFFICIENT_BUFFER) && count > 0;
}

std::wstring RegistrationCommand(DWORD build, bool registered, const std::wstring& package,
                                 const std::wstring& externalLocation) {
    if (!HasExplorerCommandMenu(build) || registered) return std::wstring();
    return PowerShell(L"Add-AppxPackage -Path " + Quoted(package) + L" -ExternalLocation " +
                      Quoted(externalLocation));
}

std::wstring RemovalCommand(DWORD build, bool registered, const std::wstring& fullName) {
    if (!HasExplorerCommandMenu(build) || !registered) return std::wstring();
    return PowerShell(L"Remove-AppxPackage -Package " + Quoted(fullName));
}

namespace {
// Starts `commandLine` without a window; the process's handle, or empty.
fw::UniqueKernelHandle Start(const std::wstring& commandLine) {
    std::wstring line = commandLine;  // CreateProcessW may write into it
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process))
        return {};
    const fw::UniqueKernelHandle thread(process.hThread);
    return fw::UniqueKernelHandle(process.hProcess);
}
}  // namespace

bool StartHidden(const std::wstring& commandLine) { return static_cast<bool>(Start(commandLine)); }

DWORD RunHidden(const std::wstring& commandLine, DWORD timeoutMs, bool& ran) {
    ran = false;
    const fw::UniqueKernelHandle owned = Start(commandLine);
    if (!owned) return GetLastError();
    if (WaitForSingleObject(owned.get(), timeoutMs) != WAIT_OBJECT_0) return ERROR_TIMEOUT;
    DWORD code = 0;
    if (!GetExitCodeProcess(owned.get(), &code)) return GetLastError();
    ran = true;
    return code;
}

}  // namespace sparse_package
