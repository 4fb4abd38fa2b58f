// The server and proxy dialogs and the popup line, driven in this process
// as a person would drive them: texts typed, buttons pressed, the message
// boxes read, the focus looked at, the settings record read back.
#include "zinpost/ui/PopupDialog.h"
#include "common/SettingsNames.h"
#include "zinpost/ui/ProxySettingDialog.h"
#include "zinpost/ui/ServerSettingDialog.h"
#include "zinpost/resource.h"

#include "tests/dialogs/ModalRun.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/RegistrySandbox.h"
#include "tools/driver/WindowDriver.h"

#include "framework/Text.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace testing_support;

namespace {

bool ReadOnly(HWND dialog, int id) { return GetWindowLongW(GetDlgItem(dialog, id), GWL_STYLE) & ES_READONLY; }

class SettingsDialogTest : public ::testing::Test {
protected:
    SettingsDialogTest() : profile(settings_names::kApplication), settings(&profile) { profile.SetRegistryKey(settings_names::kRegistryKey); }
    void SetUp() override { TakeMessageBoxes(); }

    RegistrySandbox sandbox;
    fw::Profile profile;
    CAppSettings settings;
};

// --- Server dialog ---

struct ServerCase {
    const wchar_t* url;
    const wchar_t* user;
    const wchar_t* password;
    const char* stored;  // the Server value after OK; null: refused with string 122
    int changed;
};

class ServerDialogTest : public SettingsDialogTest, public ::testing::WithParamInterface<ServerCase> {};

TEST_P(ServerDialogTest, OkAcceptsABaseUrlOrRefusesItWithTheFocusOnTheUrl) {
    const ServerCase& c = GetParam();
    settings.Server = "http://h/api/";
    settings.User = "u";
    settings.Password = "p";
    settings.ServerChanged = 7;
    CServerSettingDialog dialog(settings);
    ModalRun run(dialog);
    ASSERT_FALSE(run.Ended());
    EXPECT_EQ(run.Text(IDC_SERVER_URL), L"http://h/api/");
    EXPECT_EQ(run.Text(IDC_SERVER_USER), L"u");
    EXPECT_EQ(run.Text(IDC_SERVER_PASSWORD), L"p");

    run.Type(IDC_SERVER_URL, c.url);
    run.Type(IDC_SERVER_USER, c.user);
    run.Type(IDC_SERVER_PASSWORD, c.password);
    run.Click(IDOK);
    if (c.stored) {
        EXPECT_EQ(run.Wait(), IDOK);
        EXPECT_EQ(settings.Server, c.stored);
        EXPECT_EQ(settings.User, fw::WideToAnsi(c.user));
        EXPECT_EQ(settings.Password, fw::WideToAnsi(c.password));
        EXPECT_EQ(settings.ServerChanged, c.changed);
        EXPECT_TRUE(TakeMessageBoxes().empty());
        return;
    }
    const auto boxes = WaitForBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, Message(IDS_SERVER_SETTING_WRONG));
    EXPECT_EQ(boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONSTOP));
    EXPECT_EQ(boxes[0].owner, run.Hwnd());  // in front of the dialog
    ASSERT_TRUE(WaitFor([&] { return run.FocusId() == IDC_SERVER_URL; }, 5000));
    EXPECT_FALSE(run.Ended());
    run.Click(IDCANCEL);
    EXPECT_EQ(run.Wait(), IDCANCEL);
    EXPECT_EQ(settings.Server, "http://h/api/");
    EXPECT_EQ(settings.Password, "p");
    EXPECT_EQ(settings.ServerChanged, 7);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, ServerDialogTest,
    ::testing::Values(
        // The final "/" is appended; the same values leave ServerChanged 0.
        ServerCase{L"http://h/api", L"u", L"p", "http://h/api/", 0},
        // Only the password differs.
        ServerCase{L"http://h/api/", L"u", L"p2", "http://h/api/", 1},
        // Another server; a Japanese user name and an empty password are fine.
        ServerCase{L"https://tessaly.example.jp:8443/tessaly/api/", L"山田", L"", "https://tessaly.example.jp:8443/tessaly/api/", 1},
        // Refused: only a host, no scheme, a scheme the program cannot speak, nothing.
        ServerCase{L"http://h/", L"u", L"p", nullptr, 0}, ServerCase{L"http://h", L"u", L"p", nullptr, 0},
        ServerCase{L"h/api/", L"u", L"p", nullptr, 0}, ServerCase{L"ftp://h/api/", L"u", L"p", nullptr, 0},
        ServerCase{L"", L"u", L"p", nullptr, 0}));

TEST_F(SettingsDialogTest, ServerDialogLooksAsDesigned) {
    CServerSettingDialog dialog(settings);
    ModalRun run(dialog);
    EXPECT_EQ(WindowText(run.Hwnd()), L"Tessaly センドレット：サーバー設定");
    EXPECT_EQ(FontWeight(GetDlgItem(run.Hwnd(), IDC_SERVER_HEADER)), FW_BOLD);
    EXPECT_EQ(FontWeight(GetDlgItem(run.Hwnd(), IDC_USER_HEADER)), FW_BOLD);
    EXPECT_EQ(StaticTextColor(run.Hwnd(), IDC_SERVER_EXAMPLE), RGB(0x80, 0x80, 0x80));
    EXPECT_TRUE(GetWindowLongW(GetDlgItem(run.Hwnd(), IDC_SERVER_PASSWORD), GWL_STYLE) & ES_PASSWORD);
    EXPECT_EQ(SendMessageW(GetDlgItem(run.Hwnd(), IDC_SERVER_URL), EM_GETLIMITTEXT, 0, 0), 2083);
    // Escape is Cancel.
    run.Key(IDC_SERVER_URL, VK_ESCAPE);
    EXPECT_EQ(run.Wait(), IDCANCEL);
}

// --- Proxy dialog ---

struct ProxyCase {
    const wchar_t* address;
    const wchar_t* port;
    const wchar_t* exceptions;
    UINT message;  // 0: accepted
    int focus;
};

class ProxyCheckTest : public SettingsDialogTest, public ::testing::WithParamInterface<ProxyCase> {};

TEST_P(ProxyCheckTest, ManualProxyIsCheckedInOrder) {
    const ProxyCase& c = GetParam();
    settings.ProxySelect = 1;
    settings.ProxyAddress = "old";
    CProxySettingDialog dialog(settings);
    ModalRun run(dialog);
    EXPECT_TRUE(ReadOnly(run.Hwnd(), IDC_PROXY_ADDRESS));
    run.Click(IDC_PROXY_MANUAL);
    // The dialog's thread makes the three editable one after the other.
    ASSERT_TRUE(WaitFor(
        [&] {
            return !ReadOnly(run.Hwnd(), IDC_PROXY_ADDRESS) && !ReadOnly(run.Hwnd(), IDC_PROXY_PORT) &&
                   !ReadOnly(run.Hwnd(), IDC_PROXY_EXCEPTIONS);
        },
        5000));
    run.Type(IDC_PROXY_ADDRESS, c.address);
    run.Type(IDC_PROXY_PORT, c.port);
    run.Type(IDC_PROXY_EXCEPTIONS, c.exceptions);
    run.Click(IDOK);
    if (!c.message) {
        EXPECT_EQ(run.Wait(), IDOK);
        EXPECT_EQ(settings.ProxySelect, 2);
        EXPECT_EQ(settings.ProxyAddress, fw::WideToAnsi(c.address));
        EXPECT_EQ(settings.ProxyPort, fw::WideToAnsi(c.port));
        EXPECT_EQ(settings.ProxyList, fw::WideToAnsi(c.exceptions));
        EXPECT_EQ(dialog.m_strSummary, "手動で設定したプロキシを使用する");
        return;
    }
    const auto boxes = WaitForBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, Message(c.message));
    EXPECT_EQ(boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONSTOP));
    EXPECT_TRUE(WaitFor([&] { return run.FocusId() == c.focus; }, 5000)) << run.FocusId();
    EXPECT_FALSE(run.Ended());
    run.Click(IDCANCEL);
    EXPECT_EQ(run.Wait(), IDCANCEL);
    EXPECT_EQ(settings.ProxySelect, 1);
    EXPECT_EQ(settings.ProxyAddress, "old");
}

INSTANTIATE_TEST_SUITE_P(
    Checks, ProxyCheckTest,
    ::testing::Values(
        ProxyCase{L"proxy.example.jp", L"8080", L"*.example.jp;10.*", 0, 0},
        // Both empty: the port's check comes later and wins.
        ProxyCase{L"", L"", L"", IDS_PROXY_ENTER_ADDRESS_PORT, IDC_PROXY_PORT},
        ProxyCase{L"proxy", L"", L"", IDS_PROXY_ENTER_ADDRESS_PORT, IDC_PROXY_PORT},
        ProxyCase{L"", L"8080", L"", IDS_PROXY_ENTER_ADDRESS_PORT, IDC_PROXY_ADDRESS},
        ProxyCase{L"pro xy", L"8080", L"", IDS_PROXY_SETTING_WRONG, IDC_PROXY_ADDRESS},
        ProxyCase{L"proxy", L"70000", L"", IDS_PROXY_SETTING_WRONG, IDC_PROXY_PORT},
        ProxyCase{L"ｐｒｏｘｙ", L"8080", L"", IDS_PROXY_SETTING_WRONG, IDC_PROXY_ADDRESS},
        ProxyCase{L"proxy", L"80 8", L"", IDS_PROXY_SETTING_WRONG, IDC_PROXY_PORT},
        ProxyCase{L"proxy", L"8o8", L"", IDS_PROXY_SETTING_WRONG, IDC_PROXY_PORT},
        // An empty address is 163, yet the blank in the port is checked later.
        ProxyCase{L"", L"8 0", L"", IDS_PROXY_SETTING_WRONG, IDC_PROXY_PORT},
        // A full-width character in the exception list wins over everything before.
        ProxyCase{L"proxy", L"8080", L"*.例え.jp", IDS_PROXY_SETTING_WRONG, IDC_PROXY_EXCEPTIONS},
        ProxyCase{L"pro xy", L"", L"１０.*", IDS_PROXY_SETTING_WRONG, IDC_PROXY_EXCEPTIONS}));

TEST_F(SettingsDialogTest, ModesBelowManualStoreTheTypedTextsUnchecked) {
    settings.ProxySelect = 2;
    settings.ProxyAddress = "proxy";
    settings.ProxyPort = "8080";
    settings.ProxyList = "*.local";
    CProxySettingDialog dialog(settings);
    ModalRun run(dialog);
    EXPECT_EQ(WindowText(run.Hwnd()), L"Tessalyセンドレット：プロキシ設定");
    EXPECT_EQ(IsDlgButtonChecked(run.Hwnd(), IDC_PROXY_MANUAL), BST_CHECKED);
    EXPECT_EQ(run.Text(IDC_PROXY_ADDRESS), L"proxy");
    EXPECT_FALSE(ReadOnly(run.Hwnd(), IDC_PROXY_PORT));
    EXPECT_EQ(FontWeight(GetDlgItem(run.Hwnd(), IDC_PROXY_HEADER)), FW_BOLD);
    EXPECT_EQ(SendMessageW(GetDlgItem(run.Hwnd(), IDC_PROXY_PORT), EM_GETLIMITTEXT, 0, 0), 5);
    EXPECT_EQ(SendMessageW(GetDlgItem(run.Hwnd(), IDC_PROXY_EXCEPTIONS), EM_GETLIMITTEXT, 0, 0), 2064);

    run.Type(IDC_PROXY_PORT, L"");  // would fail the manual checks
    run.Click(IDC_PROXY_NONE);
    ASSERT_TRUE(WaitFor([&] { return ReadOnly(run.Hwnd(), IDC_PROXY_PORT); }, 5000));
    EXPECT_EQ(run.Text(IDC_PROXY_ADDRESS), L"proxy");  // the typed texts stay
    run.Click(IDOK);
    EXPECT_EQ(run.Wait(), IDOK);
    EXPECT_TRUE(TakeMessageBoxes().empty());
    EXPECT_EQ(settings.ProxySelect, 0);
    EXPECT_EQ(settings.ProxyAddress, "proxy");
    EXPECT_EQ(settings.ProxyPort, "");
    EXPECT_EQ(settings.ProxyList, "*.local");
    EXPECT_EQ(dialog.m_strSummary, "プロキシを使用しない");
    EXPECT_EQ(CProxySettingDialog::SummaryText(1), "システムのプロキシを使用する");
    EXPECT_EQ(CProxySettingDialog::SummaryText(7), "プロキシ設定に失敗しています");
}

TEST_F(SettingsDialogTest, CancelLeavesTheRecordAlone) {
    settings.ProxySelect = 1;
    CProxySettingDialog proxy(settings);
    {
        ModalRun run(proxy);
        run.Click(IDC_PROXY_NONE);
        run.Type(IDC_PROXY_ADDRESS, L"changed");
        run.Click(IDCANCEL);
        EXPECT_EQ(run.Wait(), IDCANCEL);
    }
    EXPECT_EQ(settings.ProxySelect, 1);
    EXPECT_EQ(settings.ProxyAddress, "0.0.0.0");  // the start value, untouched
}

TEST_F(SettingsDialogTest, TabWalksTheControlsInReadingOrder) {
    settings.ProxySelect = 2;
    CServerSettingDialog server(settings);
    CProxySettingDialog proxy(settings);
    for (fw::Dialog* dialog : std::initializer_list<fw::Dialog*>{&server, &proxy}) {
        ModalRun run(*dialog);
        std::string order;
        EXPECT_TRUE(TabOrderFollowsLayout(run.Hwnd(), order)) << order;
    }
}

// --- Popup line ---

// The width `text` takes in the font of `control`.
int MeasuredWidth(HWND control, const std::string& text) {
    const std::wstring wide = fw::AnsiToWide(text);
    HDC dc = GetDC(control);
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return size.cx;
}

TEST(PopupDialog, SitsBelowItsAnchorAndFitsItsText) {
    struct Case {
        const char* text;
        bool icon;
        int textLeft;
        int estimate;  // half the font height per byte, less 2
    };
    const RECT anchor{100, 80, 220, 104};
    for (const Case& c : {Case{"0123456789", false, 3, 58}, Case{"0123456789", true, 26, 58},
                          // Fourteen full-width characters and five ASCII ones: 33 bytes.
                          Case{"範囲外は指定できません。（0-365）", true, 26, 196}}) {
        CPopupDialog popup;
        ASSERT_TRUE(popup.CreateBelow(nullptr, anchor));
        ASSERT_EQ(popup.FontHeight(), -12);
        RECT rc{};
        GetWindowRect(popup.Hwnd(), &rc);
        EXPECT_EQ(rc.left, anchor.left);
        EXPECT_EQ(rc.top, anchor.bottom);
        EXPECT_FALSE(IsWindowVisible(popup.Hwnd()));
        EXPECT_TRUE(GetWindowLongW(popup.Hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST);
        EXPECT_FALSE(IsWindowEnabled(popup.Hwnd()));
        const int height = rc.bottom - rc.top;
        if (c.icon) popup.AddWarningIcon();
        popup.SetMessage(c.text);

        RECT text{};
        GetWindowRect(popup.MessageControl(), &text);
        MapWindowPoints(nullptr, popup.Hwnd(), reinterpret_cast<POINT*>(&text), 2);
        EXPECT_EQ(text.left, c.textLeft) << c.text;
        EXPECT_EQ(text.top, 5);
        // The estimate, widened to what the text needs when it falls short.
        EXPECT_EQ(text.right - text.left, std::max(c.estimate, MeasuredWidth(popup.MessageControl(), c.text)))
            << c.text;
        EXPECT_EQ(fw::WideToAnsi(WindowText(popup.MessageControl())), c.text);
        RECT client{};
        GetClientRect(popup.Hwnd(), &client);
        EXPECT_EQ(client.right, text.right + 3) << c.text;  // nothing of the text is cut
        GetWindowRect(popup.Hwnd(), &rc);
        EXPECT_EQ(rc.bottom - rc.top, height);
        EXPECT_EQ(rc.left, anchor.left);
        EXPECT_FALSE(IsWindowVisible(popup.Hwnd()));  // its creator shows it
        popup.Show(true);
        EXPECT_TRUE(popup.Visible());
    }
}

}  // namespace
