// Whether the sparse package of Windows 11's first menu is registered, at
// the level of the command that would run: Windows 10 and 11 builds,
// registered or not, installed with the program or not. The registration
// itself runs only on Windows 11.
#include "zinpost/engine/PackageRegistration.h"

#include "common/SparsePackage.h"

#include "tests/support/RegistrySandbox.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const wchar_t kPowerShell[] = L"powershell.exe -NoLogo -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command ";

TEST(SparsePackage, TheDecisionAndItsCommands) {
    const std::wstring package = L"C:\\Users\\o'brien\\AppData\\Local\\Programs\\TessalySendlet\\TessalySendlet.msix";
    const std::wstring folder = L"C:\\Users\\o'brien\\AppData\\Local\\Programs\\TessalySendlet";
    const std::wstring added = std::wstring(kPowerShell) +
                               L"\"Add-AppxPackage -Path 'C:\\Users\\o''brien\\AppData\\Local\\Programs\\TessalySendlet\\"
                               L"TessalySendlet.msix' -ExternalLocation 'C:\\Users\\o''brien\\AppData\\Local\\Programs\\"
                               L"TessalySendlet'\"";
    const std::wstring removed = std::wstring(kPowerShell) + L"\"Remove-AppxPackage -Package 'KORVANTA.TessalySendlet_4.0.2.0_x64__abc'\"";
    const struct {
        DWORD build;
        bool registered;
        std::wstring registration;
        std::wstring removal;
    } cases[] = {
        {19045, false, L"", L""},          // Windows 10 22H2: no such menu
        {19045, true, L"", L""},
        {21999, false, L"", L""},
        {22000, false, added, L""},        // Windows 11's first build
        {22000, true, L"", removed},
        {26100, false, added, L""},
        {26100, true, L"", removed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sparse_package::RegistrationCommand(c.build, c.registered, package, folder), c.registration)
            << c.build << " " << c.registered;
        EXPECT_EQ(sparse_package::RemovalCommand(c.build, c.registered, L"KORVANTA.TessalySendlet_4.0.2.0_x64__abc"),
                  c.removal)
            << c.build << " " << c.registered;
    }
}

// The id Windows gives a publisher (a well-known pair), and the names made of it.
TEST(SparsePackage, PublisherIdAsWindowsDerivesIt) {
    const std::wstring publisher = L"CN=Microsoft Corporation, O=Microsoft Corporation, L=Redmond, S=Washington, C=US";
    EXPECT_EQ(sparse_package::PublisherId(publisher), L"8wekyb3d8bbwe");
    EXPECT_EQ(sparse_package::FamilyName(publisher), L"KORVANTA.TessalySendlet_8wekyb3d8bbwe");
    EXPECT_EQ(sparse_package::FullName(L"4.0.2.0", publisher), L"KORVANTA.TessalySendlet_4.0.2.0_x64__8wekyb3d8bbwe");
}

// At the program's start: only an installation that carries the package
// (its names noted, the file beside the program) on Windows 11 registers it.
TEST(SparsePackage, TheProgramRegistersWhatItsInstallationCarries) {
    RegistrySandbox user;
    TempDir folder;
    const std::wstring package = folder.File(sparse_package::kFileName);
    const auto noteNames = [] {
        const wchar_t family[] = L"KORVANTA.TessalySendlet_0000000000000";
        return RegSetKeyValueW(HKEY_CURRENT_USER, sparse_package::kNamesKey, sparse_package::kFamilyNameValue, REG_SZ,
                               family, sizeof family) == ERROR_SUCCESS;
    };
    EXPECT_EQ(PackageRegistrationAtStart(22631, folder.Path()), L"");  // nothing installed
    ASSERT_TRUE(noteNames());
    EXPECT_EQ(PackageRegistrationAtStart(22631, folder.Path()), L"");  // no package file
    ASSERT_TRUE(WriteFileBytes(package, "PK"));
    EXPECT_EQ(PackageRegistrationAtStart(19045, folder.Path()), L"");  // Windows 10
    EXPECT_EQ(PackageRegistrationAtStart(22631, folder.Path()),
              sparse_package::RegistrationCommand(22631, false, package, folder.Path()));
}

}  // namespace
