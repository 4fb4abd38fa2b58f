// The package installed, run, upgraded and removed by the real Windows
// Installer of Wine, silently, as administrators deploy it. Each scenario
// runs in a fresh Wine prefix of its own (tests/install/in-fresh-prefix.sh
// picks one by its gtest filter), so each starts from a machine on which
// nothing was ever installed.
#include "common/Version.h"
#include "tests/install/Installation.h"
#include "common/SettingsNames.h"
#include "common/SparsePackage.h"
#include "tests/zinext/ZinExtHarness.h"

#include "zinpost/engine/AppSettings.h"

#include "tests/support/RegistrySandbox.h"
#include "tests/support/Sha256.h"
#include "tests/support/StandinServer.h"
#include "tests/support/TempDir.h"
#include "tests/e2e/ZinpostProcess.h"
#include "tools/driver/WindowDriver.h"

#include "framework/Profile.h"
#include "framework/Text.h"

#include <gtest/gtest.h>
#include <msi.h>
#include <shlobj.h>

#include <algorithm>

using namespace install_test;
using namespace testing_support;

namespace {

const wchar_t kProductName[] = L"Tessaly センドレット";
const wchar_t kShortcutName[] = L"Tessaly センドレット.lnk";
const wchar_t kUserClasses[] = L"Software\\Classes";
const wchar_t kServerKey[] = L"Software\\Classes\\CLSID\\{5C1E9B47-2A6D-4F83-9E10-7B4D3A6C2F58}\\InprocServer32";
// The keys the extension's registration scripts write below the classes root.
const std::vector<std::wstring> kExtensionKeys = {
    L"AppID\\{A83F2D61-7C94-4B2E-8D05-19E6C4B7F3A2}",
    L"AppID\\ZinExt.DLL",
    L"CLSID\\{5C1E9B47-2A6D-4F83-9E10-7B4D3A6C2F58}",
    L"*\\ShellEx\\ContextMenuHandlers\\SimpleShlExt",
};
const wchar_t* const kShippedFiles[] = {L"zinpost.exe", L"zinpostresult.dll", L"ZinExt.dll"};
// Where the package writes the sparse package's names for the program.
const wchar_t kPackageNamesKey[] = L"Software\\KORVANTA\\zinpost\\Package";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }

    static std::wstring InstallDir(bool machine) {
        return machine ? ShellFolder(CSIDL_PROGRAM_FILES) + L"\\TessalySendlet"
                       : ShellFolder(CSIDL_LOCAL_APPDATA) + L"\\Programs\\TessalySendlet";
    }
    static std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

    // The shipped files, byte for byte as the package carries them (signed),
    // with their version resources; the custom-action library is not installed.
    static void ExpectFilesOf(const Package& package, const std::wstring& dir) {
        for (const wchar_t* name : kShippedFiles) {
            const std::string installed = FileBytes(dir + L"\\" + name);
            EXPECT_FALSE(installed.empty()) << fw::WideToUtf8(name) << " not installed";
            EXPECT_TRUE(installed == FileBytes(package.filesDir + L"\\" + name))
                << fw::WideToUtf8(name) << " differs from the package's";
            const VersionInfo version = ReadVersion(dir + L"\\" + name);
            EXPECT_EQ(version.fileVersion, L"" ZINPOST_FILE_VERSION_TEXT) << fw::WideToUtf8(name);
            EXPECT_EQ(version.String(L"CompanyName"), L"KORVANTA");
            EXPECT_EQ(version.String(L"ProductName"), kProductName);
            EXPECT_FALSE(version.String(L"FileDescription").empty()) << fw::WideToUtf8(name);
        }
        EXPECT_TRUE(FileBytes(dir + L"\\SetupActions.dll").empty());
        // The signed sparse package, beside ZinExt.dll.
        const std::string sparse = FileBytes(dir + L"\\" + sparse_package::kFileName);
        EXPECT_FALSE(sparse.empty()) << "TessalySendlet.msix not installed";
        EXPECT_TRUE(sparse == FileBytes(package.filesDir + L"\\" + sparse_package::kFileName))
            << "TessalySendlet.msix differs from the package's";
    }

    // The sparse package's names as the package writes them for the
    // program: derived here from the Publisher of the package's signer
    // (the shared code the program uses), and the package's own properties
    // that its custom actions read. Nothing in the other scope.
    static void ExpectPackageNames(const Package& package, bool machine) {
        const HKEY root = machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        const std::wstring version = fw::Utf8ToWide(package.version) + L".0";
        const std::wstring fullName = sparse_package::FullName(version, package.publisher);
        const std::wstring familyName = sparse_package::FamilyName(package.publisher);
        ASSERT_EQ(fullName.size(), std::wstring(sparse_package::kName).size() + 1 + version.size() + 6 + 13)
            << fw::WideToUtf8(fullName);
        EXPECT_EQ(StringValue(root, kPackageNamesKey, L"FullName"), fullName);
        EXPECT_EQ(StringValue(root, kPackageNamesKey, L"FamilyName"), familyName);
        EXPECT_EQ(PackageProperty(package.msi, L"SPARSEFULLNAME"), fullName);
        EXPECT_EQ(PackageProperty(package.msi, L"SPARSEFAMILYNAME"), familyName);
        const HKEY other = machine ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        EXPECT_FALSE(KeyExists(other, kPackageNamesKey));
    }

    static void ExpectNoPackageNames(HKEY root) {
        EXPECT_EQ(StringValue(root, kPackageNamesKey, L"FullName"), L"");
        EXPECT_EQ(StringValue(root, kPackageNamesKey, L"FamilyName"), L"");
    }

    // What the sparse package's actions decided on this Windows 10 build.
    static void ExpectNothingToRegister(const std::string& log) {
        const DWORD build = sparse_package::SystemBuild();
        ASSERT_GT(build, 0u);
        ASSERT_FALSE(sparse_package::HasExplorerCommandMenu(build)) << "these scenarios expect a Windows 10 build";
        EXPECT_TRUE(Contains(log, "RegisterSparsePackage: Windows build " + std::to_string(build) +
                                      ": no Explorer command menu, nothing to register"))
            << log;
    }
    static void ExpectNothingToRemove(const std::string& log) {
        const DWORD build = sparse_package::SystemBuild();
        EXPECT_TRUE(Contains(log, "RemoveSparsePackage: Windows build " + std::to_string(build) +
                                      ": no Explorer command menu, nothing to remove"))
            << log;
        EXPECT_FALSE(Contains(log, "RegisterSparsePackage:")) << log;
    }

    // The extension's keys as the package wrote them, checked against what
    // the installed ZinExt.dll's own registration writes (into a private
    // key): the same keys, values, types and bytes.
    static void ExpectExtensionKeys(const std::wstring& dir, bool machine) {
        const HKEY root = machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        const std::wstring dll = dir + L"\\ZinExt.dll";
        EXPECT_TRUE(SameFileName(StringValue(root, kServerKey), dll)) << fw::WideToUtf8(StringValue(root, kServerKey));
        const RegistrySnapshot written = Snapshot(root, kUserClasses, kExtensionKeys);
        EXPECT_EQ(written.count(L"CLSID\\{5C1E9B47-2A6D-4F83-9E10-7B4D3A6C2F58}\\INPROCSERVER32\\|ThreadingModel"), 1u);
        RegistrySnapshot registered;
        if (machine) {
            RegistrySandbox classes(HKEY_CLASSES_ROOT);
            zinext_test::ZinExtLibrary library(dll);
            EXPECT_EQ(library.RegisterServer(), S_OK);
            registered = Snapshot(HKEY_CLASSES_ROOT, L"", kExtensionKeys);
        } else {
            RegistrySandbox user;
            zinext_test::ZinExtLibrary library(dll);
            EXPECT_EQ(library.Install(TRUE, L"user"), S_OK);
            registered = Snapshot(HKEY_CURRENT_USER, kUserClasses, kExtensionKeys);
        }
        EXPECT_EQ(Describe(written), Describe(registered));
        EXPECT_TRUE(written == registered) << "same text, other bytes or types";
        // Nothing in the other scope.
        const HKEY other = machine ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        for (const std::wstring& key : kExtensionKeys)
            EXPECT_FALSE(KeyExists(other, std::wstring(kUserClasses) + L"\\" + key)) << fw::WideToUtf8(key);
    }

    static void ExpectNoExtensionKeys(HKEY root) {
        for (const std::wstring& key : kExtensionKeys)
            EXPECT_FALSE(KeyExists(root, std::wstring(kUserClasses) + L"\\" + key)) << fw::WideToUtf8(key);
    }

    // The one installation of the package's upgrade code, and its
    // installed-programs entry.
    static Product ExpectInstalled(const Package& package, const std::wstring& dir, bool machine) {
        const std::vector<Product> products = RelatedProducts(PackageProperty(package.msi, L"UpgradeCode"));
        EXPECT_EQ(products.size(), 1u);
        if (products.empty()) return Product{};
        const Product& product = products.front();
        EXPECT_EQ(product.code, PackageProperty(package.msi, L"ProductCode"));
        EXPECT_EQ(product.context, machine ? MSIINSTALLCONTEXT_MACHINE : MSIINSTALLCONTEXT_USERUNMANAGED);
        EXPECT_EQ(ProductInfo(product, L"VersionString"), fw::Utf8ToWide(package.version));
        EXPECT_EQ(ProductInfo(product, L"InstalledProductName"), kProductName);
        EXPECT_EQ(ProductInfo(product, L"Publisher"), L"KORVANTA");
        EXPECT_TRUE(SameFileName(ProductInfo(product, L"InstallLocation"), dir + L"\\"));
        const std::wstring icon = ProductInfo(product, L"ProductIcon");
        EXPECT_FALSE(FileBytes(icon).empty()) << "product icon " << fw::WideToUtf8(icon);
        EXPECT_EQ(UninstallEntries(kProductName), 1);
        return product;
    }

    static void ExpectNotInstalled(const Package& package) {
        EXPECT_TRUE(RelatedProducts(PackageProperty(package.msi, L"UpgradeCode")).empty());
        EXPECT_EQ(UninstallEntries(kProductName), 0);
    }

    static void ExpectShortcut(const std::wstring& lnk, const std::wstring& dir) {
        const ShortcutInfo shortcut = ReadShortcut(lnk);
        EXPECT_TRUE(SameFileName(shortcut.target, dir + L"\\zinpost.exe")) << fw::WideToUtf8(shortcut.target);
        const std::wstring& folder = shortcut.workingDirectory;
        EXPECT_TRUE(SameFileName(folder, dir) || SameFileName(folder, dir + L"\\")) << fw::WideToUtf8(folder);
    }

    // A user who has set the program up, as the program saves it.
    static void ConfigureUser(const std::string& server, const std::wstring& exeFile) {
        fw::Profile profile(settings_names::kApplication);
        profile.SetRegistryKey(settings_names::kRegistryKey);
        CAppSettings settings(&profile);
        settings.Load();
        if (!server.empty()) settings.Server = server;
        settings.User = "installer";
        settings.Password = "s3cret word";
        settings.Folder = 2;
        settings.FolderName = "営業部";
        settings.DisplayResult = 1;
        settings.ProxySelect = 0;
        settings.Save();
        ASSERT_TRUE(profile.WriteString(settings_names::kSection, settings_names::kExeFile, fw::WideToAnsi(exeFile)));
    }

    // The machine's default server as the installer left it.
    static std::wstring MachineServer() {
        return StringValue(HKEY_LOCAL_MACHINE, settings_names::kMachineDefaultsKeyW, L"Server");
    }

    static RegistrySnapshot Settings() { return Snapshot(HKEY_CURRENT_USER, L"", {settings_names::kSettingsKeyW}); }
};

TEST_F(InstallTest, PerUserInstallRunsFromExplorerAndUninstallKeepsTheSettings) {
    const Package package = NewPackage();
    StandinServer server;
    server.SetAccounts({{"installer", "s3cret word"}});
    const std::string url = server.Url();  // ".../api/"

    // Silent, per user, no administrator switch; the URL given without its
    // closing slash, as an administrator may type it.
    const MsiexecRun install = Msiexec(L"/i " + Quoted(package.msi) + L" /qn SERVERURL=" +
                                       fw::Utf8ToWide(url.substr(0, url.size() - 1)));
    ASSERT_EQ(install.exitCode, 0u) << install.log;
    EXPECT_TRUE(Contains(install.log, "SeedServerUrl: Server set to " + url)) << install.log;
    EXPECT_TRUE(Contains(install.log, "NotifyAssociationsChanged: the shell was told")) << install.log;
    ExpectNothingToRegister(install.log);
    EXPECT_FALSE(Contains(install.log, "RemoveSparsePackage:")) << "nothing was installed to be removed";

    const std::wstring dir = InstallDir(false);
    ExpectFilesOf(package, dir);
    ExpectExtensionKeys(dir, false);
    ExpectPackageNames(package, false);
    const Product product = ExpectInstalled(package, dir, false);
    const std::wstring shortcut = ShellFolder(CSIDL_PROGRAMS) + L"\\" + kShortcutName;
    ExpectShortcut(shortcut, dir);
    EXPECT_EQ(StringValue(HKEY_CURRENT_USER, settings_names::kSettingsKeyW, L"Server"), fw::Utf8ToWide(url));

    // The installed extension, created through its class factory, starts the
    // installed program for a configured user; the file reaches the server.
    ConfigureUser("", dir + L"\\zinpost.exe");
    TempDir files;
    const std::wstring report = files.File(L"週報 第12週.txt");
    ASSERT_TRUE(WriteFileBytes(report, "weekly report"));
    {
        zinext_test::ZinExtLibrary library(dir + L"\\ZinExt.dll");
        std::wstring menuText;
        ASSERT_EQ(zinext_test::ChooseEntry(library, {report}, &menuText), S_OK);
        EXPECT_EQ(menuText, L"Tessaly「営業部」に登録する");
    }
    HWND result = WaitForWindow(L"Tessaly センドレット：処理結果", 0, 90000);
    ASSERT_TRUE(result);
    EXPECT_EQ(ControlText(result, 1022), L"成功：1  失敗：0");
    DWORD pid = 0;
    GetWindowThreadProcessId(result, &pid);
    // Its manifest asks for common controls 6: the side-by-side copy is loaded.
    const std::vector<std::wstring> modules = ProcessModules(pid);
    EXPECT_TRUE(std::any_of(modules.begin(), modules.end(), [&](const std::wstring& path) {
        return SameFileName(path, dir + L"\\zinpost.exe");
    })) << "the result window belongs to another program";
    EXPECT_TRUE(std::any_of(modules.begin(), modules.end(), [](const std::wstring& path) {
        std::wstring lower = path;
        CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
        return lower.find(L"common-controls") != std::wstring::npos && lower.find(L"_6.0.") != std::wstring::npos &&
               lower.find(L"comctl32.dll") != std::wstring::npos;
    })) << "no comctl32 6 in the program";
    PressButton(result, IDOK);
    EXPECT_TRUE(WaitFor([&] { return FindWindowsByCaption(L"Tessaly センドレット", pid).empty(); }, 30000));
    const picojson::value stored = server.Files();
    const picojson::array& uploaded = stored.get("files").get<picojson::array>();
    ASSERT_EQ(uploaded.size(), 1u);
    EXPECT_EQ(RecordString(uploaded[0], "filename"), u8"週報 第12週.txt");
    EXPECT_EQ(RecordString(uploaded[0], "sha256"), Sha256::OfBytes("weekly report"));

    // Silent uninstallation: files, shortcut, keys and the entry go; the
    // user's settings stay exactly as they were.
    const RegistrySnapshot settings = Settings();
    ASSERT_FALSE(settings.empty());
    const MsiexecRun uninstall = Msiexec(L"/x " + product.code + L" /qn");
    ASSERT_EQ(uninstall.exitCode, 0u) << uninstall.log;
    EXPECT_TRUE(Contains(uninstall.log, "NotifyAssociationsChanged: the shell was told")) << uninstall.log;
    ExpectNothingToRemove(uninstall.log);
    EXPECT_FALSE(DirectoryExists(dir));
    EXPECT_TRUE(FileBytes(shortcut).empty());
    ExpectNoExtensionKeys(HKEY_CURRENT_USER);
    ExpectNoPackageNames(HKEY_CURRENT_USER);
    ExpectNotInstalled(package);
    EXPECT_EQ(Describe(Settings()), Describe(settings));
    EXPECT_TRUE(Settings() == settings);
}

// Per machine, SERVERURL becomes the machine's default server: a new user
// starts the program, finds the URL in the server dialog, types only the
// account and picks a folder; Explorer's entry then uploads. The user's
// settings keep no server of their own; uninstalling takes the default away.
TEST_F(InstallTest, PerMachineInstallByAllUsers) {
    const Package package = NewPackage();
    StandinServer server;
    server.SetAccounts({{"sato", "machine wide"}});
    server.Control("POST", "/groups", u8R"({"content_groups": [
        {"content_group_id": "1", "parent_content_group_id": null, "title_ja": "全社共有", "type": "1"},
        {"content_group_id": "3", "parent_content_group_id": "1", "title_ja": "総務部", "type": "1"},
        {"content_group_id": "4", "parent_content_group_id": "3", "title_ja": "規程集", "type": "1"}]})");
    const std::wstring url = fw::Utf8ToWide(server.Url());
    const MsiexecRun install = Msiexec(L"/i " + Quoted(package.msi) + L" ALLUSERS=1 SERVERURL=" +
                                       url.substr(0, url.size() - 1) + L" /qn");
    ASSERT_EQ(install.exitCode, 0u) << install.log;
    EXPECT_TRUE(Contains(install.log, "SeedMachineServer: the machine's default server set to " + fw::WideToUtf8(url)))
        << install.log;
    EXPECT_EQ(MachineServer(), url);

    const std::wstring dir = InstallDir(true);
    EXPECT_FALSE(DirectoryExists(InstallDir(false))) << "files in the user's folder too";
    ExpectFilesOf(package, dir);
    ExpectExtensionKeys(dir, true);
    ExpectPackageNames(package, true);
    ExpectNothingToRegister(install.log);
    const Product product = ExpectInstalled(package, dir, true);
    // Windows puts the shortcut into the common programs folder; Wine
    // resolves ProgramMenuFolder per user even for a per-machine installation.
    std::wstring shortcut = ShellFolder(CSIDL_COMMON_PROGRAMS) + L"\\" + kShortcutName;
    if (FileBytes(shortcut).empty()) shortcut = ShellFolder(CSIDL_PROGRAMS) + L"\\" + kShortcutName;
    ExpectShortcut(shortcut, dir);
    // No user's settings are written by a per-machine installation.
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, settings_names::kSettingsKeyW));
    EXPECT_TRUE(Contains(install.log, "a per-machine installation leaves the users' settings alone")) << install.log;

    // A new user's first start: only the account is typed.
    {
        ZinpostProcess first({}, true, {}, dir + L"\\zinpost.exe");
        HWND setup = first.WaitForWindow(L"Tessaly センドレット：デフォルト設定変更", 30000);
        ASSERT_TRUE(setup);
        PressButton(setup, 1001);
        HWND serverDialog = first.WaitForWindow(L"Tessaly センドレット：サーバー設定", 30000);
        ASSERT_TRUE(serverDialog);
        EXPECT_EQ(ControlText(serverDialog, 1008), url);
        TypeInto(serverDialog, 1009, L"sato");
        TypeInto(serverDialog, 1010, L"machine wide");
        PressButton(serverDialog, IDOK);
        ASSERT_TRUE(WaitFor([&] { return ControlText(setup, 1000) == url + L"(認証済)"; }, 30000))
            << fw::WideToUtf8(ControlText(setup, 1000));
        ASSERT_TRUE(first.ChooseNestedFolder(setup, 1034));
        ASSERT_TRUE(WaitFor([&] { return ControlText(setup, 1037) == L"規程集"; }, 30000));
        PressButton(setup, IDOK);
        ASSERT_TRUE(WaitFor([&] { return !IsWindow(setup); }, 30000));
        HWND main = first.MainWindow();
        ASSERT_TRUE(main);
        PostMessageW(main, WM_CLOSE, 0, 0);
        EXPECT_EQ(first.WaitForExit(30000), 0u);
    }
    // The user follows the default: no server of their own.
    EXPECT_EQ(StringValue(HKEY_CURRENT_USER, settings_names::kSettingsKeyW, L"Server"), L"");
    EXPECT_EQ(StringValue(HKEY_CURRENT_USER, settings_names::kSettingsKeyW, L"User"), L"sato");

    TempDir files;
    const std::wstring rules = files.File(L"就業規則 改定案.txt");
    ASSERT_TRUE(WriteFileBytes(rules, "rules"));
    {
        zinext_test::ZinExtLibrary library(dir + L"\\ZinExt.dll");
        ASSERT_EQ(zinext_test::ChooseEntry(library, {rules}), S_OK);
    }
    HWND result = WaitForWindow(L"Tessaly センドレット：処理結果", 0, 90000);
    ASSERT_TRUE(result);
    EXPECT_EQ(ControlText(result, 1022), L"成功：1  失敗：0");
    DWORD pid = 0;
    GetWindowThreadProcessId(result, &pid);
    PressButton(result, IDOK);
    EXPECT_TRUE(WaitFor([&] { return FindWindowsByCaption(L"Tessaly センドレット", pid).empty(); }, 30000));
    const picojson::value stored = server.Files();
    const picojson::array& uploaded = stored.get("files").get<picojson::array>();
    ASSERT_EQ(uploaded.size(), 1u);
    EXPECT_EQ(RecordString(uploaded[0], "filename"), u8"就業規則 改定案.txt");
    EXPECT_EQ(RecordString(uploaded[0], "group_id"), "4");
    EXPECT_EQ(RecordString(uploaded[0], "user"), "sato");

    const MsiexecRun uninstall = Msiexec(L"/x " + product.code + L" /qn");
    ASSERT_EQ(uninstall.exitCode, 0u) << uninstall.log;
    EXPECT_TRUE(Contains(uninstall.log, "RemoveMachineServer: the machine's default server removed")) << uninstall.log;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\KORVANTA"));
    EXPECT_FALSE(DirectoryExists(dir));
    EXPECT_TRUE(FileBytes(shortcut).empty());
    ExpectNoExtensionKeys(HKEY_LOCAL_MACHINE);
    ExpectNoPackageNames(HKEY_LOCAL_MACHINE);
    ExpectNothingToRemove(uninstall.log);
    ExpectNotInstalled(package);
}

// A per-machine upgrade keeps the machine's default server; a SERVERURL
// that the server dialog would refuse writes nothing.
TEST_F(InstallTest, PerMachineUpgradeKeepsTheDefaultServer) {
    const Package oldPackage = OldPackage();
    const Package newPackage = NewPackage();
    MsiexecRun run = Msiexec(L"/i " + Quoted(oldPackage.msi) + L" ALLUSERS=1 SERVERURL=https://tessaly.example/api /qn");
    ASSERT_EQ(run.exitCode, 0u) << run.log;
    EXPECT_EQ(MachineServer(), L"https://tessaly.example/api/");

    run = Msiexec(L"/i " + Quoted(newPackage.msi) + L" ALLUSERS=1 SERVERURL=https://other.example/ /qn");
    ASSERT_EQ(run.exitCode, 0u) << run.log;
    ExpectInstalled(newPackage, InstallDir(true), true);
    EXPECT_TRUE(Contains(run.log, "PrepareMachineServer: SERVERURL is no http or https URL; nothing written: "
                                  "https://other.example/"))
        << run.log;
    EXPECT_EQ(MachineServer(), L"https://tessaly.example/api/");
}

TEST_F(InstallTest, NewerPackageUpgradesInPlaceAndOlderOneIsRefused) {
    const Package oldPackage = OldPackage();
    const Package newPackage = NewPackage();
    const std::wstring dir = InstallDir(false);
    // The older package is signed by another identity, so new files show.
    for (const wchar_t* name : kShippedFiles)
        ASSERT_FALSE(FileBytes(oldPackage.filesDir + L"\\" + name) == FileBytes(newPackage.filesDir + L"\\" + name));

    ConfigureUser("http://tessaly.example/api/", dir + L"\\zinpost.exe");
    const RegistrySnapshot settings = Settings();

    MsiexecRun run = Msiexec(L"/i " + Quoted(oldPackage.msi) + L" /qn SERVERURL=http://other.example/api/");
    ASSERT_EQ(run.exitCode, 0u) << run.log;
    EXPECT_TRUE(Contains(run.log, "the user already has Server http://tessaly.example/api/; left alone")) << run.log;
    ExpectFilesOf(oldPackage, dir);
    ExpectInstalled(oldPackage, dir, false);
    ExpectPackageNames(oldPackage, false);

    run = Msiexec(L"/i " + Quoted(newPackage.msi) + L" /qn SERVERURL=http://other.example/api/");
    ASSERT_EQ(run.exitCode, 0u) << run.log;
    ExpectInstalled(newPackage, dir, false);
    ExpectFilesOf(newPackage, dir);
    ExpectExtensionKeys(dir, false);
    // Another signer, so other names: the newer package's replace the older's.
    ASSERT_NE(sparse_package::FamilyName(oldPackage.publisher), sparse_package::FamilyName(newPackage.publisher));
    ExpectPackageNames(newPackage, false);
    ExpectNothingToRegister(run.log);
    ExpectShortcut(ShellFolder(CSIDL_PROGRAMS) + L"\\" + kShortcutName, dir);
    EXPECT_EQ(Describe(Settings()), Describe(settings));
    EXPECT_TRUE(Settings() == settings);

    // An older package never replaces a newer installation.
    run = Msiexec(L"/i " + Quoted(oldPackage.msi) + L" /qn");
    EXPECT_NE(run.exitCode, 0u);
    ExpectInstalled(newPackage, dir, false);
    ExpectFilesOf(newPackage, dir);
}

}  // namespace
