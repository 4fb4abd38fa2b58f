// The default settings dialog against the stand-in server: what it shows on
// opening, the period controls and their warnings, the server, proxy and
// folder buttons, OK in its order and Cancel reloading the registry.
#include "zinpost/ui/DefaultSettingDialog.h"
#include "zinpost/engine/ThreadAgent.h"
#include "zinpost/ui/FolderSelectDialog.h"
#include "zinpost/resource.h"

#include "zinpost/engine/ControlCalendar.h"

#include "tests/dialogs/ModalRun.h"
#include "tests/support/StandinFixture.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tools/driver/WindowDriver.h"

#include "framework/Text.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>

using namespace testing_support;

namespace {

const wchar_t kServerCaption[] = L"Tessaly センドレット：サーバー設定";
const wchar_t kNoticeCaption[] = L"Tessaly センドレット";

// Clicks a radio button or check box as the mouse would: it changes its
// check and tells the dialog.
void ClickCheck(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

SYSTEMTIME DaysAhead(int days) {
    SYSTEMTIME today{};
    GetLocalTime(&today);
    const __time64_t midnight = *CControlCalendar::LocalMidnight(today.wYear, today.wMonth, today.wDay);
    SYSTEMTIME local{};
    CControlCalendar::ToLocalTime(midnight + static_cast<__time64_t>(days) * 86400 + 7200, local);
    local.wHour = local.wMinute = local.wSecond = local.wMilliseconds = 0;
    return local;
}

std::string DateText(const SYSTEMTIME& t) { return fw::Format("%d-%d-%d", t.wYear, t.wMonth, t.wDay); }

// The popups are windows of the dialog's thread owned by the dialog.
struct PopupSearch {
    HWND owner;
    std::vector<HWND> visible;
};
BOOL CALLBACK CollectPopup(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<PopupSearch*>(param);
    if (GetWindow(hwnd, GW_OWNER) == search->owner && IsWindowVisible(hwnd) &&
        (GetWindowLongW(hwnd, GWL_STYLE) & WS_CAPTION) != WS_CAPTION)
        search->visible.push_back(hwnd);
    return TRUE;
}
// The texts of the dialog's visible popups.
std::vector<std::wstring> VisiblePopups(HWND dialog) {
    PopupSearch search{dialog, {}};
    EnumWindows(CollectPopup, reinterpret_cast<LPARAM>(&search));
    std::vector<std::wstring> texts;
    for (HWND popup : search.visible) texts.push_back(ControlText(popup, 1));
    return texts;
}

class DefaultSettingDialogTest : public StandinTest {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        TakeMessageBoxes();
        CContentGroupCache::GetInstance().SetLoaded(0);
        SetGroups(u8R"([{"content_group_id": "1", "parent_content_group_id": null, "title_ja": "全社共有"},
                      {"content_group_id": "3", "parent_content_group_id": "1", "title_ja": "開発部"}])");
        settings.IsConfigured = 1;
        settings.Folder = 3;
        settings.FolderName = "開発部";
        settings.SelectFileDelete = 2;
        settings.FileDelete = 30;
        settings.FileDeleteDate = "";
        settings.Save();
    }
    void TearDown() override {
        CThreadAgent* agent = CThreadAgent::GetInstance();
        if (agent->m_pUpdateFolderTreeThread)
            WaitForSingleObject(agent->m_pUpdateFolderTreeThread->handle.get(), 60000);
    }
    // What the registry holds now.
    CAppSettings Stored() {
        CAppSettings stored(&profile);
        stored.Load();
        return stored;
    }
    std::wstring Label() const { return fw::AnsiToWide(settings.Server) + L"(認証済)"; }
};

TEST_F(DefaultSettingDialogTest, OpeningConfirmsTheAccountAndShowsTheStoredFolder) {
    settings.ProxySelect = 0;
    settings.FileEncrypt = 0;
    settings.DisplayResult = 1;
    CDefaultSettingDialog dialog(settings);
    ModalRun run(dialog);
    ASSERT_FALSE(run.Ended());
    HWND hwnd = run.Hwnd();
    EXPECT_EQ(WindowText(hwnd), L"Tessaly センドレット：デフォルト設定変更");
    EXPECT_EQ(run.Text(IDC_SERVER_NAME), Label());
    EXPECT_EQ(run.Text(IDC_FOLDER_TITLE), L"開発部");
    EXPECT_EQ(run.Text(IDC_PROXY_SUMMARY), L"プロキシを使用しない");
    EXPECT_EQ(run.Text(IDC_DELETE_DAYS), L"30");
    EXPECT_EQ(IsDlgButtonChecked(hwnd, IDC_PERIOD_DAYS), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(hwnd, IDC_FILE_ENCRYPT), BST_UNCHECKED);
    EXPECT_EQ(IsDlgButtonChecked(hwnd, IDC_DISPLAY_RESULT), BST_CHECKED);
    EXPECT_FALSE(ControlEnabled(hwnd, IDC_DELETE_DATE));
    EXPECT_TRUE(ControlEnabled(hwnd, IDC_DELETE_DAYS));
    EXPECT_EQ(dialog.m_bServerConfirmed, 1);
    EXPECT_TRUE(TakeMessageBoxes().empty());
    for (int id : {IDC_CONNECTION_TITLE, IDC_CONTENT_TITLE, IDC_UPLOAD_TITLE}) {
        EXPECT_EQ(FontWeight(GetDlgItem(hwnd, id)), FW_BOLD) << id;
        EXPECT_EQ(StaticTextColor(hwnd, id), RGB(0x70, 0x70, 0x70)) << id;
    }
    EXPECT_EQ(StaticTextColor(hwnd, IDC_FOLDER_INSTRUCTION), RGB(0x88, 0x88, 0x88));
    // Up-down range: -1..365.
    int low = 0, high = 0;
    SendDlgItemMessageW(hwnd, IDC_DELETE_DAYS_SPIN, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
                        reinterpret_cast<LPARAM>(&high));
    EXPECT_EQ(low, -1);
    EXPECT_EQ(high, 365);
}

TEST_F(DefaultSettingDialogTest, TabWalksTheControlsInReadingOrder) {
    for (int mode : {1, 2}) {
        settings.SelectFileDelete = mode;
        CDefaultSettingDialog dialog(settings);
        ModalRun run(dialog);
        std::string order;
        EXPECT_TRUE(TabOrderFollowsLayout(run.Hwnd(), order)) << order;
    }
    ModalRun folders(*CFolderSelectDialog::GetInstance());
    std::string order;
    EXPECT_TRUE(TabOrderFollowsLayout(folders.Hwnd(), order)) << order;
}

struct DaysCase {
    const wchar_t* typed;
    const wchar_t* shown;
    bool warned;
};

class DayCountBox : public DefaultSettingDialogTest, public ::testing::WithParamInterface<DaysCase> {};

TEST_P(DayCountBox, ClampsWhatIsTypedAndWarns) {
    const DaysCase& c = GetParam();
    CDefaultSettingDialog dialog(settings);
    ModalRun run(dialog);
    run.Type(IDC_DELETE_DAYS, c.typed);
    ASSERT_TRUE(WaitFor([&] { return run.Text(IDC_DELETE_DAYS) == c.shown; }, 5000)) << run.Text(IDC_DELETE_DAYS);
    const auto popups = VisiblePopups(run.Hwnd());
    if (c.warned) {
        ASSERT_EQ(popups.size(), 1u);
        EXPECT_EQ(popups[0], L"範囲外は指定できません。（0-365）");
    } else {
        EXPECT_TRUE(popups.empty());
    }
    // A key press hides the warning.
    run.Key(IDC_DELETE_DAYS, VK_SHIFT);
    ASSERT_TRUE(WaitFor([&] { return VisiblePopups(run.Hwnd()).empty(); }, 5000));
    run.Click(IDOK);
    ASSERT_EQ(run.Wait(), IDOK);
    EXPECT_EQ(Stored().FileDelete, std::stoi(c.shown));
}

INSTANTIATE_TEST_SUITE_P(Typed, DayCountBox,
                         ::testing::Values(DaysCase{L"１２", L"12", false}, DaysCase{L"500", L"365", true},
                                           DaysCase{L"", L"0", false}, DaysCase{L"無期限", L"0", true},
                                           DaysCase{L"365", L"365", false}));

TEST_F(DefaultSettingDialogTest, UpDownStepsThroughTheBox) {
    settings.FileDelete = 365;
    CDefaultSettingDialog dialog(settings);
    ModalRun run(dialog);
    NMUPDOWN step{};
    step.hdr.hwndFrom = GetDlgItem(run.Hwnd(), IDC_DELETE_DAYS_SPIN);
    step.hdr.idFrom = IDC_DELETE_DAYS_SPIN;
    step.hdr.code = UDN_DELTAPOS;
    step.iDelta = -1;
    SendMessageW(run.Hwnd(), WM_NOTIFY, IDC_DELETE_DAYS_SPIN, reinterpret_cast<LPARAM>(&step));
    EXPECT_EQ(run.Text(IDC_DELETE_DAYS), L"364");
    step.iDelta = 5;
    SendMessageW(run.Hwnd(), WM_NOTIFY, IDC_DELETE_DAYS_SPIN, reinterpret_cast<LPARAM>(&step));
    EXPECT_EQ(run.Text(IDC_DELETE_DAYS), L"365");  // clamped, with the warning
    EXPECT_EQ(VisiblePopups(run.Hwnd()).size(), 1u);
}

TEST_F(DefaultSettingDialogTest, EndDatesAreCheckedAndStillSaved) {
    for (int days : {0, 365, 366}) {
        TakeMessageBoxes();
        settings.SelectFileDelete = 0;
        CDefaultSettingDialog dialog(settings);
        ModalRun run(dialog);
        SYSTEMTIME date = DaysAhead(days);
        SendDlgItemMessageW(run.Hwnd(), IDC_DELETE_DATE, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&date));
        ClickCheck(run.Hwnd(), IDC_PERIOD_DATE);
        ASSERT_TRUE(WaitFor([&] { return ControlEnabled(run.Hwnd(), IDC_DELETE_DATE); }, 5000));
        const auto popups = VisiblePopups(run.Hwnd());
        if (days > 365) {
            ASSERT_EQ(popups.size(), 1u);
            EXPECT_EQ(popups[0], L"範囲外は指定できません。（今日から1年以内）");
        } else {
            EXPECT_TRUE(popups.empty()) << days;
        }
        run.Click(IDOK);
        ASSERT_EQ(run.Wait(), IDOK) << days;
        const auto boxes = TakeMessageBoxes();
        if (days > 365) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, Message(IDS_PERIOD_INVALID));
        } else {
            EXPECT_TRUE(boxes.empty()) << days;
        }
        const CAppSettings stored = Stored();
        EXPECT_EQ(stored.SelectFileDelete, 1);
        EXPECT_EQ(stored.FileDeleteDate, DateText(date));
        settings.Load();
    }
}

// The period's three radio buttons are one group in the order 1042, 1040,
// 1043: whatever chooses one (a click on it or on the text beside it, the
// arrow keys) leaves exactly that one checked, and each has a name for
// screen readers.
TEST_F(DefaultSettingDialogTest, ThePeriodIsOneGroupOfThreeNamedRadioButtons) {
    settings.SelectFileDelete = 0;
    CDefaultSettingDialog dialog(settings);
    ModalRun run(dialog);
    HWND hwnd = run.Hwnd();
    const int radios[] = {IDC_PERIOD_UNLIMITED, IDC_PERIOD_DATE, IDC_PERIOD_DAYS};
    for (size_t i = 0; i < 3; ++i) {
        HWND next = GetNextDlgGroupItem(hwnd, GetDlgItem(hwnd, radios[i]), FALSE);
        EXPECT_EQ(GetDlgCtrlID(next), radios[(i + 1) % 3]) << radios[i];
    }
    // A click on a control where a person would click: its middle, on screen.
    const auto mouseClick = [&](int id) {
        RECT rc{};
        HWND control = GetDlgItem(hwnd, id);
        GetWindowRect(control, &rc);
        const POINT middle{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
        SetForegroundWindow(hwnd);
        SetCursorPos(middle.x, middle.y);
        // Only once the pointer is there and nothing covers the control.
        HWND under = nullptr;
        POINT at{};
        const bool ready = WaitFor(
            [&] {
                under = WindowFromPoint(middle);
                return GetCursorPos(&at) && at.x == middle.x && at.y == middle.y && under == control &&
                       GetForegroundWindow() == hwnd;
            },
            5000);
        EXPECT_TRUE(ready) << "control " << id << " under the pointer: " << GetDlgCtrlID(under) << " foreground "
                           << (GetForegroundWindow() == hwnd);
        INPUT input[2] = {};
        input[0].type = input[1].type = INPUT_MOUSE;
        input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        SendInput(2, input, sizeof(INPUT));
    };
    const struct {
        const char* what;
        std::function<void()> act;
        int checked;
        int mode;
    } steps[] = {
        {"click on the days button", [&] { mouseClick(IDC_PERIOD_DAYS); }, IDC_PERIOD_DAYS, 2},
        {"click on the text 無期限", [&] { mouseClick(IDC_UNLIMITED_LABEL); }, IDC_PERIOD_UNLIMITED, 0},
        {"click on the days text", [&] { mouseClick(IDC_DELETE_DAYS_LABEL); }, IDC_PERIOD_DAYS, 2},
        {"click on the date button", [&] { mouseClick(IDC_PERIOD_DATE); }, IDC_PERIOD_DATE, 1},
        {"down arrow", [&] { run.Key(IDC_PERIOD_DATE, VK_DOWN); }, IDC_PERIOD_DAYS, 2},
        {"down arrow again, round to the first", [&] { run.Key(IDC_PERIOD_DAYS, VK_DOWN); }, IDC_PERIOD_UNLIMITED, 0},
        {"up arrow", [&] { run.Key(IDC_PERIOD_UNLIMITED, VK_UP); }, IDC_PERIOD_DAYS, 2},
    };
    for (const auto& step : steps) {
        step.act();
        std::string checked;
        const bool settled = WaitFor(
            [&] {
                checked.clear();
                for (int id : radios)
                    if (IsDlgButtonChecked(hwnd, id) == BST_CHECKED) checked += std::to_string(id) + " ";
                return checked == std::to_string(step.checked) + " " && dialog.m_nPeriodMode == step.mode;
            },
            5000);
        EXPECT_TRUE(settled) << step.what << ": checked " << checked << "mode " << dialog.m_nPeriodMode;
        EXPECT_EQ(ControlEnabled(hwnd, IDC_DELETE_DATE), step.mode == 1) << step.what;
        EXPECT_EQ(ControlEnabled(hwnd, IDC_DELETE_DAYS), step.mode == 2) << step.what;
    }
    // Screen readers name a button by its own text, which these buttons
    // carry without showing it.
    const struct {
        int id;
        const wchar_t* name;
    } names[] = {{IDC_PERIOD_UNLIMITED, L"無期限"},
                 {IDC_PERIOD_DATE, L"日付指定"},
                 {IDC_PERIOD_DAYS, L"日後にファイルを削除する (0-365)"}};
    for (const auto& n : names) {
        EXPECT_EQ(ControlText(hwnd, n.id), n.name) << n.id;
        EXPECT_EQ(GetWindowLongW(GetDlgItem(hwnd, n.id), GWL_STYLE) & BS_BITMAP, BS_BITMAP) << n.id;
    }
}

TEST_F(DefaultSettingDialogTest, AnUnknownProxyModeShowsTheSystemOneAndStoresIt) {
    settings.ProxySelect = 7;
    CDefaultSettingDialog dialog(settings);
    ModalRun run(dialog);
    EXPECT_EQ(run.Text(IDC_PROXY_SUMMARY), L"システムのプロキシを使用する");
    run.Click(IDOK);
    ASSERT_EQ(run.Wait(), IDOK);
    EXPECT_EQ(Stored().ProxySelect, 1);
}

TEST_F(DefaultSettingDialogTest, WithoutAServerNothingIsFetchedAndTheFolderButtonRefuses) {
    settings = CAppSettings(&profile);  // a fresh user
    CDefaultSettingDialog dialog(settings);
    ModalRun run(dialog);
    EXPECT_EQ(run.Text(IDC_SERVER_NAME), L"（ 『 変更 』 ボタンをクリックし、サーバー設定をして下さい。 ）");
    run.Click(IDC_FOLDER_SELECT);
    const auto boxes = WaitForBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, Message(IDS_CONNECTION_NOT_SET));
    EXPECT_EQ(boxes[0].owner, run.Hwnd());
    EXPECT_TRUE(server().Requests("manageContentGroups.json").empty());
    run.Click(IDOK);
    ASSERT_EQ(run.Wait(), IDOK);
    const CAppSettings stored = Stored();
    EXPECT_EQ(stored.FolderName, "");
    EXPECT_EQ(stored.Folder, 0);
}

TEST_F(DefaultSettingDialogTest, HoveringTheServerLabelShowsItWhole) {
    CDefaultSettingDialog dialog(settings);
    ModalRun run(dialog);
    RECT label{};
    GetWindowRect(GetDlgItem(run.Hwnd(), IDC_SERVER_NAME), &label);
    SetCursorPos(label.left + 5, label.top + 3);
    PostMessageW(run.Hwnd(), WM_MOUSEMOVE, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return VisiblePopups(run.Hwnd()) == std::vector<std::wstring>{Label()}; }, 5000));
    SetCursorPos(label.left + 5, label.bottom + 60);
    PostMessageW(run.Hwnd(), WM_MOUSEMOVE, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return VisiblePopups(run.Hwnd()).empty(); }, 5000));
}

TEST_F(DefaultSettingDialogTest, AChangedAccountClearsTheFolderAndCancelRestoresTheRegistry) {
    server().SetAccounts({{"sato", "secret"}, {"suzuki", "other"}});
    CDefaultSettingDialog dialog(settings);
    ModalRun run(dialog);
    ASSERT_EQ(run.Text(IDC_FOLDER_TITLE), L"開発部");
    run.Click(IDC_SERVER_CHANGE);
    HWND server = WaitForDialog(kServerCaption, IDC_SERVER_URL);
    ASSERT_TRUE(server);
    SendDlgItemMessageW(server, IDC_SERVER_USER, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"suzuki"));
    SendDlgItemMessageW(server, IDC_SERVER_PASSWORD, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"other"));
    PressButton(server, IDOK);
    // Confirmed for the new account; the folder was the old account's.
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(server) && run.Text(IDC_FOLDER_TITLE).empty(); }, 20000));
    EXPECT_EQ(run.Text(IDC_SERVER_NAME), Label());
    EXPECT_EQ(settings.User, "suzuki");
    EXPECT_EQ(settings.Folder, 0);
    EXPECT_EQ(settings.FolderName, "");
    run.Click(IDCANCEL);
    ASSERT_EQ(run.Wait(), IDCANCEL);
    EXPECT_EQ(settings.User, "sato");
    EXPECT_EQ(settings.Password, "secret");
    EXPECT_EQ(settings.Folder, 3);
    EXPECT_EQ(settings.FolderName, "開発部");
    EXPECT_EQ(settings.IsConfigured, 1);
}

TEST_F(DefaultSettingDialogTest, AFailedConfirmationIsShownAndClearsTheFolder) {
    settings.Password = "wrong";
    CDefaultSettingDialog dialog(settings);
    ModalRun run(dialog);
    const auto boxes = WaitForBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONSTOP));
    EXPECT_EQ(run.Text(IDC_SERVER_NAME), fw::AnsiToWide(settings.Server) + L"(認証失敗)");
    EXPECT_EQ(run.Text(IDC_FOLDER_TITLE), L"");
    run.Click(IDC_FOLDER_SELECT);
    EXPECT_EQ(WaitForBoxes()[0].text, Message(IDS_CONNECTION_NOT_SET));
    run.Click(IDOK);
    ASSERT_EQ(run.Wait(), IDOK);
    EXPECT_EQ(Stored().FolderName, "");
    EXPECT_EQ(Stored().Folder, 0);
}

TEST_F(DefaultSettingDialogTest, SwitchingPdfOnRunsTheNoticesFirst) {
    // This process has no converter: the notice explains what is missing.
    CDefaultSettingDialog dialog(settings);
    ModalRun run(dialog);
    ClickCheck(run.Hwnd(), IDC_CONVERT_PDF);
    ASSERT_TRUE(WaitFor([&] { return IsDlgButtonChecked(run.Hwnd(), IDC_CONVERT_PDF) == BST_CHECKED; }, 5000));
    for (bool close : {false, true}) {
        run.Click(IDOK);
        HWND notice = nullptr;
        ASSERT_TRUE(WaitFor(
            [&] {
                notice = WaitForDialog(kNoticeCaption, IDC_NOTICE_DETAIL, 100);
                return notice && ControlVisible(notice, IDOK);
            },
            30000));
        EXPECT_EQ(GetWindow(notice, GW_OWNER), run.Hwnd());
        if (close) {
            PressButton(notice, IDOK);
            ASSERT_EQ(run.Wait(), IDOK);
        } else {
            PostMessageW(GetDlgItem(notice, IDOK), WM_KEYDOWN, VK_ESCAPE, 1);
            ASSERT_TRUE(WaitFor([&] { return !IsWindow(notice); }, 10000));
            EXPECT_FALSE(run.Ended());  // Escape: nothing saved, the dialog stays
            EXPECT_EQ(Stored().ConvertPDF, 0);
        }
    }
    EXPECT_EQ(Stored().ConvertPDF, 1);
}

}  // namespace
