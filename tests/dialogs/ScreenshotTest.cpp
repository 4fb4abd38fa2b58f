// Not a test: pictures of the dialogs as a person sees them, for looking at
// glyphs, bold titles, grey texts and clipping. Run by screenshot.sh, which
// names the folder in ZINPOST_SCREENSHOT_DIR.
#include "zinpost/engine/AppSettings.h"
#include "common/SettingsNames.h"
#include "zinpost/engine/ThreadAgent.h"
#include "zinpost/ui/DefaultSettingDialog.h"
#include "zinpost/ui/FinishedProcessingDialog.h"
#include "zinpost/ui/FolderSelectDialog.h"
#include "zinpost/ui/PopupDialog.h"
#include "zinpost/ui/ProxySettingDialog.h"
#include "zinpost/ui/ServerSettingDialog.h"
#include "zinpost/resource.h"

#include "tests/dialogs/ModalRun.h"
#include "tests/dialogs/Screenshots.h"
#include "tests/support/RegistrySandbox.h"
#include "tests/support/StandinServer.h"
#include "tests/support/TempDir.h"
#include "tools/driver/WindowDriver.h"

#include "framework/Text.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

TEST(Screenshots, DISABLED_SmallDialogs) {
    RegistrySandbox sandbox;
    fw::Profile profile(settings_names::kApplication);
    profile.SetRegistryKey(settings_names::kRegistryKey);
    CAppSettings settings(&profile);
    settings.Server = "https://tessaly.example.jp/tessaly/api/";
    settings.User = "山田太郎";
    settings.Password = "secret";
    settings.ProxySelect = 2;
    settings.ProxyAddress = "proxy.example.jp";
    settings.ProxyPort = "8080";
    settings.ProxyList = "*.example.jp;10.*";
    {
        CServerSettingDialog dialog(settings);
        ModalRun run(dialog);
        Shoot(L"server");
        // The popup line with its icon, as the default settings dialog shows it.
        RECT anchor{};
        GetWindowRect(GetDlgItem(run.Hwnd(), IDC_SERVER_URL), &anchor);
        CPopupDialog popup;
        ASSERT_TRUE(popup.CreateBelow(run.Hwnd(), anchor));
        popup.AddWarningIcon();
        popup.SetMessage("範囲外は指定できません。（0-365）");
        popup.Show(true);
        Shoot(L"popup");
    }
    {
        CProxySettingDialog dialog(settings);
        ModalRun run(dialog);
        Shoot(L"proxy");
    }
    // The requirements notice on a machine with .NET 3.5 and without Office.
    RegistrySandbox machine(HKEY_LOCAL_MACHINE);
    HKEY key = nullptr;
    DWORD one = 1;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v3.5", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, "Install", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    RegCloseKey(key);
    TempDir dir;
    WriteFileBytes(dir.File(L"quillmorph.ini"), "");
    SetEnvironmentVariableW(L"QUILLMORPH_TEST_SETTINGS", dir.File(L"quillmorph.ini").c_str());
    const PathFront converter(UnixPathForWindows(EnvironmentVariable("ZINPOST_BINARY_DIR") + "/tests/pdf/quillmorph"));
    CThreadAgent* agent = CThreadAgent::GetInstance();
    ASSERT_TRUE(agent->StartPDFCheckThread());
    agent->SignalObjAndWait_PDFCheck();
    CFinishedProcessingDialog notice;
    ModalRun run(notice);
    ASSERT_TRUE(WaitFor([&] { return ControlVisible(run.Hwnd(), IDOK); }, 10000));
    Shoot(L"notice");
}

TEST(Screenshots, DISABLED_SettingsAndFolders) {
    RegistrySandbox sandbox;
    StandinServer server({"--demo"});
    fw::Profile profile(settings_names::kApplication);
    profile.SetRegistryKey(settings_names::kRegistryKey);
    CAppSettings settings(&profile);
    SetAppSettings(&settings);
    settings.Server = server.Url();
    settings.User = "demo";
    settings.Password = "demo";
    settings.ProxySelect = 0;
    settings.IsConfigured = 1;
    settings.Folder = 4;
    settings.SelectFileDelete = 2;
    settings.FileDelete = 30;
    CDefaultSettingDialog dialog(settings);
    ModalRun run(dialog);
    Shoot(L"default-settings");
    PressButton(run.Hwnd(), IDC_FOLDER_SELECT);
    HWND folders = WaitForDialog(L"Tessaly センドレット：フォルダー選択画面", IDC_FOLDER_TREE);
    ASSERT_TRUE(folders);
    Shoot(L"folders");
    PressButton(folders, IDOK);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(folders); }, 10000));
    SetAppSettings(nullptr);
}

}  // namespace
