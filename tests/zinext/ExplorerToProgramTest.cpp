// The whole road from Explorer's context menu: the entry of the built
// ZinExt.dll is chosen for three files, the extension starts the real
// zinpost.exe named in the settings, and the files arrive at the stand-in
// server. The program reads the real settings key of the prefix, so this
// test runs alone and removes the key afterwards.
#include "tests/zinext/ZinExtHarness.h"

#include "zinpost/engine/AppSettings.h"

#include "tests/support/Sha256.h"
#include "tests/support/StandinServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/WindowDriver.h"

#include "framework/Profile.h"
#include "framework/Text.h"

#include <gtest/gtest.h>

#include <map>

using namespace zinext_test;
using namespace testing_support;

namespace {

const HRESULT kOneId = MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);

void RemoveSettings() { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\KORVANTA\\zinpost"); }

TEST(ExplorerToProgram, ChosenEntryUploadsTheSelectedFiles) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    StandinServer server;
    server.SetAccounts({{"explorer", "secret"}});
    RemoveSettings();

    // The settings as the program stores them, pointing at the built program.
    fw::Profile profile("zinpost");
    profile.SetRegistryKey("KORVANTA");
    CAppSettings settings(&profile);
    settings.Server = server.Url();
    settings.User = "explorer";
    settings.Password = "secret";
    settings.Folder = 2;
    settings.FolderName = "営業部";
    settings.DisplayResult = 1;
    settings.ProxySelect = 0;
    settings.Save();
    const std::wstring program = UnixPathForWindows(EnvironmentVariable("ZINPOST_BIN_DIR") + "/zinpost.exe");
    ASSERT_TRUE(profile.WriteString("Settings", "ExeFile", fw::WideToAnsi(program)));

    TempDir dir;
    const std::map<std::wstring, std::string> files = {
        {dir.File(L"提案書 最終版.txt"), "proposal"}, {dir.File(L"budget.csv"), "a,b\r\n1,2\r\n"},
        {dir.File(L"photo.jpg"), std::string(70000, '\x7f')}};
    std::vector<std::wstring> paths;
    for (const auto& file : files) {
        ASSERT_TRUE(WriteFileBytes(file.first, file.second));
        paths.push_back(file.first);
    }

    ZinExtLibrary library;
    ASSERT_TRUE(library.Loaded());
    {
        ComPtr<IContextMenu> handler = library.CreateHandler();
        ASSERT_TRUE(handler);
        ComPtr<IShellExtInit> init;
        ASSERT_TRUE(SUCCEEDED(handler.As(&init)));
        ASSERT_EQ(init->Initialize(nullptr, MakeSelection(paths).Get(), nullptr), S_OK);
        HMENU menu = CreatePopupMenu();
        ASSERT_EQ(handler->QueryContextMenu(menu, 0, 100, 110, CMF_NORMAL), kOneId);
        EXPECT_EQ(MenuItemText(menu, 1), L"Tessaly「営業部」に登録する");
        DestroyMenu(menu);
        CMINVOKECOMMANDINFO info{};
        info.cbSize = sizeof info;
        info.lpVerb = MAKEINTRESOURCEA(0);
        info.nShow = SW_SHOWNORMAL;
        ASSERT_EQ(handler->InvokeCommand(&info), S_OK);
    }

    // The program the extension started shows its result and ends on OK.
    HWND result = WaitForWindow(L"Tessaly センドレット：処理結果", 0, 90000);
    ASSERT_TRUE(result);
    EXPECT_EQ(ControlText(result, 1022), L"成功：3  失敗：0");
    DWORD pid = 0;
    GetWindowThreadProcessId(result, &pid);
    PressButton(result, IDOK);
    EXPECT_TRUE(WaitFor([&] { return FindWindowsByCaption(L"Tessaly センドレット", pid).empty(); }, 30000));

    const picojson::value stored = server.Files();
    std::map<std::string, std::string> arrived;
    for (const picojson::value& file : stored.get("files").get<picojson::array>()) {
        EXPECT_EQ(RecordString(file, "group_id"), "2");
        arrived[RecordString(file, "filename")] = RecordString(file, "sha256");
    }
    ASSERT_EQ(arrived.size(), 3u);
    EXPECT_EQ(arrived.at(u8"提案書 最終版.txt"), Sha256::OfBytes("proposal"));
    EXPECT_EQ(arrived.at("budget.csv"), Sha256::OfBytes("a,b\r\n1,2\r\n"));
    EXPECT_EQ(arrived.at("photo.jpg"), Sha256::OfBytes(std::string(70000, '\x7f')));

    RemoveSettings();
    CoUninitialize();
}

}  // namespace
