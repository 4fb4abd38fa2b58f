#include "zinpost/engine/PackageRegistration.h"

#include "zinpost/engine/Log.h"

#include "common/SparsePackage.h"

#include "framework/Profile.h"
#include "framework/RegistryValue.h"
#include "framework/Text.h"
#include "framework/WinHandle.h"

namespace {

// The package's family name as the installer noted it; "" when this is no
// installation with the package. The machine's key through the 64-bit view,
// where the 64-bit package writes it.
std::wstring InstalledFamilyName() {
    const struct {
        HKEY root;
        REGSAM view;
    } places[] = {{HKEY_CURRENT_USER, 0}, {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY}};
    for (const auto& place : places) {
        fw::UniqueHKey key;
        if (RegOpenKeyExW(place.root, sparse_package::kNamesKey, 0, KEY_QUERY_VALUE | place.view,
                          key.put()) != ERROR_SUCCESS)
            continue;
        std::wstring name;
        if (fw::ReadStringValue(key.get(), sparse_package::kFamilyNameValue, fw::kNoLengthLimit, name) &&
            !name.empty())
            return name;
    }
    return std::wstring();
}

}  // namespace

std::wstring PackageRegistrationAtStart(DWORD build, const std::wstring& programFolder) {
    if (!sparse_package::HasExplorerCommandMenu(build)) return std::wstring();
    const std::wstring family = InstalledFamilyName();
    const std::wstring package = programFolder + L"\\" + sparse_package::kFileName;
    if (family.empty() || GetFileAttributesW(package.c_str()) == INVALID_FILE_ATTRIBUTES) return std::wstring();
    return sparse_package::RegistrationCommand(build, sparse_package::Registered(family), package, programFolder);
}

void RegisterPackageForUser() {
    const std::wstring folder = fw::ProgramFolder();
    if (folder.empty()) return;
    const std::wstring command = PackageRegistrationAtStart(sparse_package::SystemBuild(), folder);
    if (command.empty()) return;
    const bool started = sparse_package::StartHidden(command);
    LOG_WRITE(1, "package registration started[%d]: %s", started ? 1 : 0, fw::WideToAnsi(command).c_str());
}
