// The main window in this process: its layouts, and the drop handler fed
// real drop handles.
#include "common/Version.h"
#include "zinpost/ui/zinpostApp.h"
#include "common/SettingsNames.h"
#include "zinpost/ui/zinpostDlg.h"
#include "zinpost/resource.h"

#include "zinpost/engine/TessalyWebAPI.h"

#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/StandinFixture.h"

#include "framework/Profile.h"
#include "framework/Text.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <atomic>
#include <thread>

using namespace testing_support;

namespace {

// A drop handle as Explorer makes it: DROPFILES and the wide paths.
HDROP MakeDrop(const std::vector<std::wstring>& paths) {
    size_t chars = 1;
    for (const auto& path : paths) chars += path.size() + 1;
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    auto* text = reinterpret_cast<wchar_t*>(drop + 1);
    for (const auto& path : paths) {
        wcscpy(text, path.c_str());
        text += path.size() + 1;
    }
    *text = L'\0';
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

// The main window runs modally on a thread of its own, as on the program's
// user-interface thread; the test drives it from outside. It opens
// unconfigured, and the settings a run needs are then set in memory, with a
// server that refuses connections; the stand-in server holds runs that a
// test needs in progress.
class MainWindowTest : public StandinSuiteTest {
protected:
    void SetUp() override {
        StandinSuiteTest::SetUp();
        TakeMessageBoxes();
        CAppSettings& s = TheApp().m_settings;
        s = CAppSettings(&TheApp().m_profile);  // nothing stored: the window opens unconfigured
        Open(L"\"" + fw::ProgramPath() + L"\"");
        // Unconfigured, the window opens the default settings by itself; the
        // tests go on once it has been cancelled.
        HWND settingsDialog = WaitForWindow(L"Tessaly センドレット：デフォルト設定変更", GetCurrentProcessId(), 30000);
        ASSERT_TRUE(settingsDialog);
        EXPECT_EQ(GetWindow(settingsDialog, GW_OWNER), window->Hwnd());  // in front of the topmost window
        PostMessageW(settingsDialog, WM_COMMAND, IDCANCEL, 0);
        ASSERT_TRUE(WaitFor([&] { return !IsWindow(settingsDialog); }, 30000));
        ASSERT_TRUE(IsWindowEnabled(window->Hwnd()));
        s.Server = "http://127.0.0.1:1/api/";
        s.User = "u";
        s.Password = "p";
        s.Folder = 1;
        s.FolderName = "F";
        s.SelectFileDelete = 0;
        s.DisplayResult = 0;
    }
    void TearDown() override {
        server().Release("*");  // a run held by a test that failed goes on
        if (window) Close();
    }

    // Opens the main window with `commandLine` as the program's.
    void Open(const std::wstring& commandLine) {
        window = std::make_unique<CzinpostDlg>(&TheApp().m_settings, commandLine);
        uiDone = false;
        ui = std::thread([this] {
            window->DoModal(nullptr);
            uiDone = true;
        });
        ASSERT_TRUE(WaitFor([this] { return window->Hwnd() && IsWindowVisible(window->Hwnd()); }, 30000));
    }
    void Close() {
        WaitFor([this] { return !window->Busy(); }, 120000);
        for (int attempt = 0; attempt < 5 && !uiDone; ++attempt) {
            CloseOpenMenu();
            PostMessageW(window->Hwnd(), WM_COMMAND, IDOK, 0);
            WaitFor([this] { return uiDone.load(); }, 5000);
        }
        if (!uiDone) {
            // The window object cannot go while its thread still runs it.
            ADD_FAILURE() << "the main window did not close";
            fflush(stdout);
            _exit(3);
        }
        ui.join();
        window.reset();
    }

    // A run of one file in progress: the stand-in server holds its login
    // until EndHeldRun.
    void StartHeldRun() {
        UseServer(server(), TheApp().m_settings);
        server().Script(CTessalyWebAPI::kLoginEndpoint, R"([{"hold": "login"}])");
        Drop(MakeFiles(1, L"held"));
        ASSERT_TRUE(server().WaitAtGate("login"));
        ASSERT_TRUE(window->Busy());
    }
    void EndHeldRun() {
        server().Release("login");
        ASSERT_TRUE(WaitFor([this] { return !window->Busy(); }, 60000));
    }

    // Once a message posted now has been handled, every message posted
    // before it has been (a sent one would overtake them).
    void WaitForPostedMessages() {
        HWND progress = GetDlgItem(window->Hwnd(), IDC_UPLOAD_PROGRESS);
        const LRESULT position = SendMessageW(progress, PBM_GETPOS, 0, 0);
        PostMessageW(progress, PBM_SETPOS, 42, 0);
        ASSERT_TRUE(WaitFor([&] { return SendMessageW(progress, PBM_GETPOS, 0, 0) == 42; }, 10000));
        SendMessageW(progress, PBM_SETPOS, position, 0);
    }

    // Escape ends a popup menu's own message loop; posted until it has.
    static bool CloseOpenMenu() {
        return WaitFor(
            [] {
                HWND menu = FindWindowW(L"#32768", nullptr);
                if (!menu || !IsWindowVisible(menu)) return true;
                PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
                PostMessageW(menu, WM_KEYUP, VK_ESCAPE, 0);
                return false;
            },
            10000);
    }

    void Drop(const std::vector<std::wstring>& paths) {
        SendMessageW(window->Hwnd(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(paths)), 0);
    }
    std::vector<std::wstring> MakeFiles(int count, const std::wstring& stem = L"file") {
        std::vector<std::wstring> paths;
        for (int i = 0; i < count; ++i) {
            paths.push_back(dir.File(stem + std::to_wstring(i) + L".txt"));
            WriteFileBytes(paths.back(), "x");
        }
        return paths;
    }

    RegistrySandbox sandbox;
    TempDir dir;
    std::unique_ptr<CzinpostDlg> window;
    std::thread ui;
    std::atomic<bool> uiDone{false};
};

TEST_F(MainWindowTest, StartsIdleAndUnconfigured) {
    HWND hwnd = window->Hwnd();
    for (int id : {IDC_DROP_PICTURE, IDC_FOLDER_CAPTION, IDC_FOLDER_EDIT, IDC_FOLDER_BUTTON, IDC_SETTING_BUTTON})
        EXPECT_TRUE(ControlVisible(hwnd, id)) << id;
    for (int id : {IDC_STATUS_LABEL, IDC_FILE_NAME_BUTTON, IDC_UPLOAD_PROGRESS, IDC_PROGRESS_CANCEL, IDC_SPARE_LABEL,
                   IDOK, IDCANCEL})
        EXPECT_FALSE(ControlVisible(hwnd, id)) << id;
    EXPECT_EQ(WindowText(hwnd), L"Tessaly センドレット");
    EXPECT_EQ(ControlText(hwnd, IDC_FOLDER_EDIT), L"");
    // Without TopMostWindow the window leaves the topmost band.
    EXPECT_FALSE(GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_TRUE(GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    EXPECT_FALSE(window->StartedWithFiles());
}

TEST_F(MainWindowTest, HundredFilesStartARun) {
    const auto files = MakeFiles(100);
    Drop(files);
    EXPECT_EQ(window->FileCount(), 100);
    ASSERT_TRUE(WaitFor([this] { return !window->Busy(); }, 120000));
    ASSERT_EQ(window->FileList().size(), 100u);
    // Every file failed to log in against the refusing server, in order.
    auto entry = window->FileList().begin();
    for (const auto& file : files) {
        EXPECT_EQ(entry->Succeeded, 0);
        EXPECT_EQ(entry->Path.rfind(file + L" (ログインできませんでした。\n", 0), 0u) << fw::WideToUtf8(entry->Path);
        ++entry;
    }
    // Back to the idle layout.
    EXPECT_TRUE(ControlVisible(window->Hwnd(), IDC_DROP_PICTURE));
    EXPECT_FALSE(ControlVisible(window->Hwnd(), IDC_UPLOAD_PROGRESS));
    EXPECT_FALSE(ControlEnabled(window->Hwnd(), IDC_PROGRESS_CANCEL));
}

// More than a hundred items are refused by their count, before any path is
// read: folders among them count too.
TEST_F(MainWindowTest, MoreThanAHundredItemsAreRefused) {
    CreateDirectoryW(dir.File(L"sub").c_str(), nullptr);
    std::vector<std::wstring> withFolder = MakeFiles(100);
    withFolder.push_back(dir.File(L"sub"));
    for (const auto& items : {MakeFiles(101), withFolder}) {
        Drop(items);
        const auto boxes = TakeMessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, L"一度にアップロードできるファイル数は100ファイルまでです。");
        EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONSTOP));
        EXPECT_FALSE(window->Busy());
        EXPECT_TRUE(window->FileList().empty());
    }
}

// A start with files that the settings refuse leaves a window that takes
// drops: a later drop uploads exactly what was dropped, and its run leaves
// the window open.
TEST_F(MainWindowTest, AfterARefusedStartWithFilesADropUploadsWhatWasDropped) {
    Close();
    // Configured, but without a folder: the start's files are refused.
    CAppSettings& s = TheApp().m_settings;
    s = CAppSettings(&TheApp().m_profile);
    s.Server = "http://127.0.0.1:1/api/";
    s.User = "u";
    s.Password = "p";
    s.Save();
    const auto started = MakeFiles(2, L"started");
    Open(L"\"" + fw::ProgramPath() + L"\" \"" + started[0] + L"\" \"" + started[1] + L"\"");
    WaitForPostedMessages();  // the start's own drop among them
    const auto boxes = TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"アップロード先の設定が完了していません。");
    EXPECT_FALSE(window->StartedWithFiles());
    EXPECT_TRUE(IsWindowVisible(window->Hwnd()));

    s.Folder = 1;
    s.FolderName = "F";
    s.SelectFileDelete = 0;
    s.DisplayResult = 0;
    const auto files = MakeFiles(2);
    Drop(files);
    ASSERT_TRUE(WaitFor([this] { return !window->Busy(); }, 60000));
    ASSERT_EQ(window->FileList().size(), 2u);
    EXPECT_EQ(window->FileList().front().Path.rfind(files[0] + L" (", 0), 0u) << fw::WideToUtf8(window->FileList().front().Path);
    EXPECT_EQ(window->FileList().back().Path.rfind(files[1] + L" (", 0), 0u) << fw::WideToUtf8(window->FileList().back().Path);
    EXPECT_FALSE(window->StartedWithFiles());
    EXPECT_TRUE(IsWindowVisible(window->Hwnd()));
}

// While one of the window's dialogs is open (it may be writing the
// settings), neither a drop nor the folder button does anything.
TEST_F(MainWindowTest, NeitherDropsNorTheFolderButtonActUnderAnOpenDialog) {
    PostMessageW(window->Hwnd(), WM_COMMAND, IDC_SETTING_BUTTON, 0);
    HWND settingsDialog = WaitForWindow(L"Tessaly センドレット：デフォルト設定変更", GetCurrentProcessId(), 30000);
    ASSERT_TRUE(settingsDialog);
    ASSERT_FALSE(IsWindowEnabled(window->Hwnd()));
    Drop(MakeFiles(1));
    EXPECT_EQ(window->FileCount(), 0);
    EXPECT_FALSE(window->Busy());
    PostMessageW(window->Hwnd(), WM_COMMAND, IDC_FOLDER_BUTTON, 0);
    WaitForPostedMessages();
    EXPECT_EQ(WaitForWindow(L"Tessaly センドレット：フォルダー選択画面", GetCurrentProcessId(), 0), nullptr);
    EXPECT_TRUE(TakeMessageBoxes().empty());  // no folder listing was tried either
    PostMessageW(settingsDialog, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(settingsDialog); }, 30000));
}

TEST_F(MainWindowTest, FoldersAloneStartNothing) {
    CreateDirectoryW(dir.File(L"sub1").c_str(), nullptr);
    CreateDirectoryW(dir.File(L"sub2").c_str(), nullptr);
    Drop({dir.File(L"sub1"), dir.File(L"sub2")});
    EXPECT_EQ(window->FileCount(), 0);
    EXPECT_FALSE(window->Busy());
    EXPECT_TRUE(TakeMessageBoxes().empty());
}

TEST_F(MainWindowTest, FoldersAreSkippedAmongFiles) {
    CreateDirectoryW(dir.File(L"sub").c_str(), nullptr);
    const auto files = MakeFiles(2);
    Drop({files[0], dir.File(L"sub"), files[1]});
    EXPECT_EQ(window->FileCount(), 2);
    ASSERT_TRUE(WaitFor([this] { return !window->Busy(); }, 60000));
    EXPECT_EQ(window->FileList().front().Path.rfind(files[0], 0), 0u);
    EXPECT_EQ(window->FileList().back().Path.rfind(files[1], 0), 0u);
}

TEST_F(MainWindowTest, DropDuringARunIsIgnored) {
    StartHeldRun();
    Drop(MakeFiles(3));
    EXPECT_EQ(window->FileCount(), 1);
    EXPECT_TRUE(TakeMessageBoxes().empty());
    EndHeldRun();
    ASSERT_EQ(window->FileList().size(), 1u);
    EXPECT_EQ(window->FileList().front().Path.rfind(dir.File(L"held0.txt"), 0), 0u);
}

TEST_F(MainWindowTest, SettingChecksComeInTheirOrder) {
    CAppSettings& s = TheApp().m_settings;
    s.Folder = 0;
    s.FolderName.clear();
    s.Server.clear();
    Drop(MakeFiles(1));
    auto boxes = TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"アップロード先の設定が完了していません。");

    s.FolderName = "F";
    Drop(MakeFiles(1));
    boxes = TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"サーバーの接続設定が完了していません。");

    s.Server = "http://127.0.0.1:1/api/";
    s.SelectFileDelete = 1;
    s.FileDeleteDate = "1990-1-1";
    Drop(MakeFiles(1));
    boxes = TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"公開期限の設定が間違っています。\n設定画面より期限を設定してください。");
    EXPECT_FALSE(window->Busy());
}

TEST_F(MainWindowTest, TopMostToggleIsStored) {
    SendMessageW(window->Hwnd(), WM_COMMAND, ID_MENU_TOPMOST, 0);
    EXPECT_TRUE(GetWindowLongW(window->Hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(TheApp().m_profile.GetInt(settings_names::kSection, settings_names::kTopMostWindow, -1), 1);
    SendMessageW(window->Hwnd(), WM_COMMAND, ID_MENU_TOPMOST, 0);
    EXPECT_FALSE(GetWindowLongW(window->Hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(TheApp().m_profile.GetInt(settings_names::kSection, settings_names::kTopMostWindow, -1), 0);
}

TEST_F(MainWindowTest, EscapeDoesNotCloseTheWindow) {
    HWND button = GetDlgItem(window->Hwnd(), IDC_SETTING_BUTTON);
    PostMessageW(button, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(button, WM_KEYUP, VK_ESCAPE, 0);
    WaitForPostedMessages();
    EXPECT_TRUE(IsWindow(window->Hwnd()));
    EXPECT_TRUE(IsWindowVisible(window->Hwnd()));
}

// The popup menu's window while it is open, or null.
HWND OpenMenuWindow() {
    HWND menu = FindWindowW(L"#32768", nullptr);
    return menu && IsWindowVisible(menu) ? menu : nullptr;
}

TEST_F(MainWindowTest, RightClickOpensTheMenuWithTheTopMostCheck) {
    PostMessageW(window->Hwnd(), WM_RBUTTONUP, 0, MAKELPARAM(20, 20));
    HWND menuWindow = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (menuWindow = OpenMenuWindow()) != nullptr; }, 10000));
    HMENU menu = reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
    ASSERT_TRUE(menu);
    EXPECT_EQ(GetMenuItemCount(menu), 3);
    EXPECT_EQ(GetMenuItemID(menu, 0), static_cast<UINT>(ID_MENU_TOPMOST));
    EXPECT_EQ(GetMenuItemID(menu, 1), static_cast<UINT>(ID_MENU_DEFAULT_SETTING));
    EXPECT_EQ(GetMenuItemID(menu, 2), static_cast<UINT>(ID_MENU_ABOUT));
    // The window is not topmost at start: no check mark.
    EXPECT_FALSE(GetMenuState(menu, ID_MENU_TOPMOST, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_TRUE(CloseOpenMenu());
}

TEST_F(MainWindowTest, NoMenuDuringARun) {
    StartHeldRun();
    PostMessageW(window->Hwnd(), WM_RBUTTONUP, 0, MAKELPARAM(20, 20));
    // (A menu's own loop would handle the posted message too, with the menu open.)
    WaitForPostedMessages();
    EXPECT_EQ(OpenMenuWindow(), nullptr);
    EXPECT_TRUE(CloseOpenMenu());
    EndHeldRun();
}

TEST_F(MainWindowTest, AboutBoxFromTheSystemMenu) {
    PostMessageW(window->Hwnd(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = WaitForWindow(L"バージョン情報", GetCurrentProcessId(), 10000);
    ASSERT_TRUE(about);
    EXPECT_FALSE(IsWindowEnabled(window->Hwnd()));  // modal over the main window
    bool versionShown = false;
    for (HWND child = GetWindow(about, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        versionShown = versionShown || WindowText(child) == L"Tessaly センドレット Version " ZINPOST_VERSION_TEXT;
    EXPECT_TRUE(versionShown);
    PressButton(about, IDOK);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }, 10000));
    EXPECT_TRUE(IsWindowEnabled(window->Hwnd()));
}

TEST_F(MainWindowTest, SystemMenuHasTheVersionItem) {
    HMENU system = GetSystemMenu(window->Hwnd(), FALSE);
    ASSERT_TRUE(system);
    const int count = GetMenuItemCount(system);
    ASSERT_GE(count, 2);
    EXPECT_EQ(GetMenuItemID(system, count - 1), static_cast<UINT>(IDM_ABOUTBOX));
    wchar_t text[64] = {};
    GetMenuStringW(system, IDM_ABOUTBOX, text, 64, MF_BYCOMMAND);
    EXPECT_STREQ(text, L"バージョン情報(&A)...");
}

}  // namespace
