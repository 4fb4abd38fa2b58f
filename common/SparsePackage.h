#pragma once
// The sparse package that gives Windows 11's first context menu its entry:
// what it is called, whether this Windows has that menu, whether the
// package is registered for the current user, and the command that
// registers or removes it. The installer and the program share the
// decision; nothing here runs on Windows 10.
#include <windows.h>

#include <string>

namespace sparse_package {

// The package's name in its manifest, and its file beside ZinExt.dll.
inline constexpr wchar_t kName[] = L"KORVANTA.TessalySendlet";
inline constexpr wchar_t kFileName[] = L"TessalySendlet.msix";
// The first build of Windows 11, the first with the menu.
inline constexpr DWORD kFirstBuildWithMenu = 22000;

// The build number of the running Windows as the system has it
// (RtlGetVersion: no compatibility shim changes it); 0 when unknown.
DWORD SystemBuild();
inline bool HasExplorerCommandMenu(DWORD build) { return build >= kFirstBuildWithMenu; }

// The 13-character publisher id Windows derives from a package's Publisher
// (the first 64 bits of the SHA-256 of its UTF-16 text, in base 32).
std::wstring PublisherId(const std::wstring& publisher);
// "<name>_<publisher id>" and "<name>_<version>_x64__<publisher id>".
std::wstring FamilyName(const std::wstring& publisher);
std::wstring FullName(const std::wstring& version, const std::wstring& publisher);

// Whether a package of `familyName` is registered for the current user;
// false where Windows has no packages.
bool Registered(const std::wstring& familyName);

// The command line that registers `package` with `externalLocation` (the
// folder of the installed files) for the current user, or "" when nothing
// is to run: no such menu before Windows 11, or already registered.
std::wstring RegistrationCommand(DWORD build, bool registered, const std::wstring& package,
                                 const std::wstring& externalLocation);
// The command line that removes the registration of `fullName`, or "".
std::wstring RemovalCommand(DWORD build, bool registered, const std::wstring& fullName);

// Runs `commandLine` without a window and waits at most `timeoutMs`; its
// exit code, or a Windows error code (ERROR_TIMEOUT, ...) with `ran` false.
DWORD RunHidden(const std::wstring& commandLine, DWORD timeoutMs, bool& ran);
// Starts `commandLine` without a window and without waiting for it.
bool StartHidden(const std::wstring& commandLine);

// Where the installer notes the package's names for the program:
// Software\KORVANTA\zinpost\Package under the installation's root
// (HKEY_CURRENT_USER per user, HKEY_LOCAL_MACHINE per machine).
inline constexpr wchar_t kNamesKey[] = L"Software\\KORVANTA\\zinpost\\Package";
inline constexpr wchar_t kFamilyNameValue[] = L"FamilyName";
inline constexpr wchar_t kFullNameValue[] = L"FullName";

}  // namespace sparse_package
