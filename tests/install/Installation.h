#pragma once
// What the install tests read and run: msiexec with a log, the package's
// own properties, the installed products of its upgrade code, registry
// subtrees as comparable snapshots, shortcuts and version resources. All
// through the real Windows Installer, registry and shell of a Wine prefix.
#include "tests/support/RegistrySandbox.h"

#include <windows.h>
#include <msi.h>

#include <map>
#include <string>
#include <vector>

namespace install_test {

// The packages that tests/install/make-packages.sh built (ZINPOST_PACKAGE_DIR).
struct Package {
    std::wstring msi;       // the package file
    std::wstring filesDir;  // the files as the package carries them
    std::string version;    // "A.B.C"
    std::wstring publisher; // its signer's subject in Windows' form, as the sparse package's Publisher
};
Package NewPackage();  // the build's version, signed as a release is (PKCS#12 from the environment)
Package OldPackage();  // a lower version, signed with the packaging script's test CA

// A run of msiexec.exe with `arguments` (the log switch is added); its exit
// code, and its log as ANSI text.
struct MsiexecRun {
    DWORD exitCode = ~0u;
    std::string log;
};
MsiexecRun Msiexec(const std::wstring& arguments);

// A property of the package's own Property table ("UpgradeCode", ...).
std::wstring PackageProperty(const std::wstring& msi, const wchar_t* name);

// The installed products that share the package's upgrade code.
struct Product {
    std::wstring code;
    MSIINSTALLCONTEXT context;
};
std::vector<Product> RelatedProducts(const std::wstring& upgradeCode);
// An installed product's property ("VersionString", "Publisher", ...), "" when unknown.
std::wstring ProductInfo(const Product& product, const wchar_t* property);
// Installed-programs entries (the Uninstall keys of machine and user)
// whose DisplayName is `name`.
int UninstallEntries(const std::wstring& name);

// A registry subtree, key names upper-cased (the registry ignores their
// case): "KEY" -> present, "KEY\\|name" -> type and bytes of each value.
using RegistrySnapshot = std::map<std::wstring, std::pair<DWORD, std::vector<BYTE>>>;
// The subtrees `keys` below `root`\`base`; missing keys are simply absent.
RegistrySnapshot Snapshot(HKEY root, const std::wstring& base, const std::vector<std::wstring>& keys);
std::wstring Describe(const RegistrySnapshot& snapshot);
bool KeyExists(HKEY root, const std::wstring& path);
using testing_support::StringValue;

// Shell folders (CSIDL_...), without a trailing backslash.
std::wstring ShellFolder(int csidl);
bool SameFileName(const std::wstring& a, const std::wstring& b);
std::string FileBytes(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);

// A shortcut's target and working folder; empty when it does not load.
struct ShortcutInfo {
    std::wstring target;
    std::wstring workingDirectory;
};
ShortcutInfo ReadShortcut(const std::wstring& lnkPath);

// A file's version resource: the fixed version and the strings of its
// first translation.
struct VersionInfo {
    bool present = false;
    std::wstring fileVersion;  // "A.B.C.D", from the fixed part
    std::map<std::wstring, std::wstring> strings;
    std::wstring String(const wchar_t* name) const {
        const auto found = strings.find(name);
        return found == strings.end() ? std::wstring() : found->second;
    }
};
VersionInfo ReadVersion(const std::wstring& path);

// The full paths of the modules loaded in process `pid`.
std::vector<std::wstring> ProcessModules(DWORD pid);

}  // namespace install_test
