#include "zinpost/ui/DefaultSettingDialog.h"

#include "zinpost/engine/ContentGroupCache.h"
#include "zinpost/engine/ControlCalendar.h"
#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/ui/MessageBoxes.h"
#include "zinpost/ui/ControlEditBox.h"
#include "zinpost/ui/DialogColors.h"
#include "zinpost/ui/FolderSelectDialog.h"
#include "zinpost/ui/PdfNotices.h"
#include "zinpost/ui/ProxySettingDialog.h"
#include "zinpost/ui/ServerSettingDialog.h"
#include "zinpost/resource.h"

#include "framework/Font.h"
#include "framework/MessageBox.h"
#include "framework/Text.h"

#include <commctrl.h>
#include <cstdlib>

namespace {

// Posted to itself once the dialog is shown: the date check runs then.
constexpr UINT WM_DEFAULT_SETTING_SHOWN = WM_USER + 100;

const char kNotConfiguredLabel[] = "（ 『 変更 』 ボタンをクリックし、サーバー設定をして下さい。 ）";
const char kDateOutOfRange[] = "範囲外は指定できません。（今日から1年以内）";
const char kDaysOutOfRange[] = "範囲外は指定できません。（0-365）";
constexpr int kMaxDays = CControlEditBox::kMaxDays;

int RadioForMode(int mode) {
    switch (mode) {
    case kPeriodUntilDate:
        return IDC_PERIOD_DATE;
    case kPeriodDays:
        return IDC_PERIOD_DAYS;
    default:
        return IDC_PERIOD_UNLIMITED;
    }
}

bool IsSectionTitle(int id) { return id == IDC_CONNECTION_TITLE || id == IDC_CONTENT_TITLE || id == IDC_UPLOAD_TITLE; }
bool IsHeaderBar(int id) { return id == IDC_CONNECTION_BAR || id == IDC_CONTENT_BAR || id == IDC_UPLOAD_BAR; }

}  // namespace

CDefaultSettingDialog::CDefaultSettingDialog(CAppSettings& settings)
    : fw::Dialog(IDD_DEFAULT_SETTING), m_settings(settings) {
    PostWhenShown(WM_DEFAULT_SETTING_SHOWN);  // the date check, once on screen
}

RECT CDefaultSettingDialog::ItemScreenRect(int id) const {
    RECT rc{};
    GetWindowRect(Item(id), &rc);
    return rc;
}

BOOL CDefaultSettingDialog::OnInitDialog() {
    LOG_WRITE(1, "CDefaultSettingDialog::OnInitDialog");
    m_bInitialising = true;
    if (!m_popupRange.CreateBelow(Hwnd(), ItemScreenRect(IDC_DELETE_DAYS)) ||
        !m_popupServer.CreateBelow(Hwnd(), ItemScreenRect(IDC_SERVER_NAME))) {
        ShowMessageById(IDS_DIALOG_CREATE_FAILED);
        EndDialog(0);
        return TRUE;
    }
    m_popupRange.AddWarningIcon();

    m_bFileEncrypt = m_settings.FileEncrypt ? 1 : 0;
    m_nPeriodMode = m_settings.SelectFileDelete;
    if (m_nPeriodMode < kPeriodUnlimited || m_nPeriodMode > kPeriodDays) {
        LOG_WRITE(4, "SelectFileDelete out of range[%d]", m_nPeriodMode);
        m_nPeriodMode = kPeriodUnlimited;
    }
    m_bDisplayResult = m_settings.DisplayResult ? 1 : 0;
    m_bConvertPDF = m_settings.ConvertPDF ? 1 : 0;
    if (m_settings.ProxySelect < kProxyNone || m_settings.ProxySelect > kProxyManual) {
        const auto lock = LockConnectionSettings();
        m_settings.ProxySelect = kProxySystem;
    }
    m_strProxySummary = CProxySettingDialog::SummaryText(m_settings.ProxySelect);
    CheckDlgButton(Hwnd(), IDC_FILE_ENCRYPT, m_bFileEncrypt ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(Hwnd(), IDC_DISPLAY_RESULT, m_bDisplayResult ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(Hwnd(), IDC_CONVERT_PDF, m_bConvertPDF ? BST_CHECKED : BST_UNCHECKED);
    CheckRadioButton(Hwnd(), IDC_PERIOD_DATE, IDC_PERIOD_DAYS, RadioForMode(m_nPeriodMode));
    SetItemTextAnsi(IDC_PROXY_SUMMARY, m_strProxySummary);

    SendDlgItemMessageW(Hwnd(), IDC_DELETE_DAYS_SPIN, UDM_SETRANGE32, static_cast<WPARAM>(-1), kMaxDays);
    SendDlgItemMessageW(Hwnd(), IDC_DELETE_DAYS_SPIN, UDM_SETPOS32, 0, m_settings.FileDelete);
    CControlEditBox(Hwnd()).SetValue(m_settings.FileDelete);
    const CControlCalendar calendar;
    if (const auto date = calendar.ChangeDateToCTimeClass(m_settings.FileDeleteDate)) {
        SYSTEMTIME local{};
        if (CControlCalendar::ToLocalTime(*date, local))
            SendDlgItemMessageW(Hwnd(), IDC_DELETE_DATE, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&local));
    } else {
        // The picker keeps today's date.
        LOG_WRITE(4, "FileDeleteDate invalid[%s]", m_settings.FileDeleteDate.c_str());
    }

    m_boldFont = fw::MakeBold(Hwnd(), {Item(IDC_CONNECTION_TITLE), Item(IDC_CONTENT_TITLE), Item(IDC_UPLOAD_TITLE)});
    EnablePeriodControls();

    if (m_settings.IsConfigured == 1) {
        FolderSetting();
    } else {
        // Opened by itself at a first start: the user must see it.
        HWND foreground = GetForegroundWindow();
        const DWORD self = GetCurrentThreadId();
        const DWORD other = foreground ? GetWindowThreadProcessId(foreground, nullptr) : 0;
        const bool attached = other && other != self && AttachThreadInput(self, other, TRUE);
        SetForegroundWindow(Hwnd());
        if (attached) AttachThreadInput(self, other, FALSE);
        SetServerLabel(kNotConfiguredLabel);
    }
    LOG_WRITE(1, "IDC_ST_SERVERNAME : %s", m_strServerName.c_str());
    m_bInitialising = false;
    return TRUE;
}

void CDefaultSettingDialog::EnablePeriodControls() const {
    EnableItem(IDC_DELETE_DATE, m_nPeriodMode == kPeriodUntilDate);
    EnableItem(IDC_DELETE_DAYS, m_nPeriodMode == kPeriodDays);
    EnableItem(IDC_DELETE_DAYS_SPIN, m_nPeriodMode == kPeriodDays);
}

void CDefaultSettingDialog::SetServerLabel(const std::string& label) {
    m_strServerName = label;
    SetItemTextAnsi(IDC_SERVER_NAME, label);
}

void CDefaultSettingDialog::SetFolderTitle(const std::string& title) {
    m_strFolderTitle = title;
    SetItemTextAnsi(IDC_FOLDER_TITLE, title);
}

int CDefaultSettingDialog::GetGroupInfo(std::string& error) {
    m_vGroups.clear();
    CContentGroupCache& cache = CContentGroupCache::GetInstance();
    if (!cache.FetchContentGroups(error)) return 0;
    GroupListing kept = cache.Kept();
    m_vGroups = std::move(kept.parents);
    m_vGroups.insert(m_vGroups.end(), kept.children.begin(), kept.children.end());
    if (m_vGroups.empty()) ShowMessageById(IDS_NO_FOLDER_INFO);
    return 1;
}

void CDefaultSettingDialog::FolderSetting() {
    SetFolderTitle("");
    std::string error;
    const int result = GetGroupInfo(error);
    LOG_WRITE(1, "Error[%d:%s]", result, error.c_str());
    if (result) {
        SetServerLabel(fw::Format("%s(認証済)", m_settings.Server.c_str()));
        for (const ContentGroup& group : m_vGroups) {
            if (std::atoi(group.Id.c_str()) == m_settings.Folder) {
                SetFolderTitle(group.Name);
                break;
            }
        }
        m_bServerConfirmed = 1;
        m_settings.IsConfigured = 1;
        return;
    }
    // An account without folders is still a confirmed account.
    m_bServerConfirmed = error == LoadMessageById(IDS_NO_FOLDER_INFO) ? 1 : 0;
    SetServerLabel(fw::Format(m_bServerConfirmed ? "%s(認証済)" : "%s(認証失敗)", m_settings.Server.c_str()));
    LOG_WRITE(1, "FolderSetting : %s", error.c_str());
    fw::ShowMessageBoxAnsi(nullptr, error, MB_OK | MB_ICONSTOP);
}

bool CDefaultSettingDialog::OnCommand(WORD id, WORD notifyCode, HWND control) {
    switch (id) {
    case IDC_SERVER_CHANGE:
        OnServerChange();
        return true;
    case IDC_FOLDER_SELECT:
        OnFolderSelect();
        return true;
    case IDC_PROXY_CHANGE:
        OnProxyChange();
        return true;
    case IDC_FILE_ENCRYPT:
        m_bFileEncrypt = IsDlgButtonChecked(Hwnd(), IDC_FILE_ENCRYPT) == BST_CHECKED;
        return true;
    case IDC_CONVERT_PDF:
        m_bConvertPDF = IsDlgButtonChecked(Hwnd(), IDC_CONVERT_PDF) == BST_CHECKED;
        return true;
    case IDC_DISPLAY_RESULT:
        m_bDisplayResult = IsDlgButtonChecked(Hwnd(), IDC_DISPLAY_RESULT) == BST_CHECKED;
        return true;
    case IDC_PERIOD_UNLIMITED:
    case IDC_PERIOD_DATE:
    case IDC_PERIOD_DAYS:
        if (notifyCode == BN_CLICKED) OnModeChange(id == IDC_PERIOD_DATE ? kPeriodUntilDate : id == IDC_PERIOD_DAYS ? kPeriodDays : kPeriodUnlimited);
        return true;
    case IDC_UNLIMITED_LABEL:
    case IDC_DELETE_DAYS_LABEL:
        // The text beside a radio button chooses it, as a click on the button would.
        if (notifyCode == STN_CLICKED)
            SendMessageW(Item(id == IDC_UNLIMITED_LABEL ? IDC_PERIOD_UNLIMITED : IDC_PERIOD_DAYS), BM_CLICK, 0, 0);
        return true;
    case IDC_DELETE_DAYS:
        if (notifyCode == EN_CHANGE) OnDaysChange();
        return true;
    default:
        return fw::Dialog::OnCommand(id, notifyCode, control);
    }
}

INT_PTR CDefaultSettingDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    switch (message) {
    case WM_NOTIFY:
        handled = true;
        SetMessageResult(OnNotify(*reinterpret_cast<const NMHDR*>(lParam)));
        return TRUE;
    case WM_CTLCOLORSTATIC: {
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
        if (id == IDC_FOLDER_INSTRUCTION) {
            handled = true;
            return ColorGreyText(reinterpret_cast<HDC>(wParam), kInstructionTextColor);
        }
        if (IsSectionTitle(id)) {
            handled = true;
            return ColorSectionTitle(reinterpret_cast<HDC>(wParam));
        }
        break;
    }
    case WM_DRAWITEM:
        if (IsHeaderBar(static_cast<int>(wParam))) {
            DrawHeaderBar(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            handled = true;
            return TRUE;
        }
        break;
    case WM_DEFAULT_SETTING_SHOWN:
        CatchingChangeCalendarDate();
        handled = true;
        return TRUE;
    default:
        break;
    }
    return fw::Dialog::OnMessage(message, wParam, lParam, handled);
}

LRESULT CDefaultSettingDialog::OnNotify(const NMHDR& header) {
    if (header.idFrom == IDC_DELETE_DAYS_SPIN && header.code == UDN_DELTAPOS) {
        // The box takes the step; its change handler clamps it.
        const auto& step = reinterpret_cast<const NMUPDOWN&>(header);
        const CControlEditBox box(Hwnd());
        SetItemText(IDC_DELETE_DAYS, std::to_wstring(box.m_nValue + step.iDelta));
        return 0;  // the control moves too
    }
    if (header.idFrom == IDC_DELETE_DATE) {
        switch (header.code) {
        case DTN_DROPDOWN:
            m_bCalendarDropped = true;
            break;
        case DTN_CLOSEUP:
            m_bCalendarDropped = false;
            CatchingChangeCalendarDate();
            break;
        case DTN_DATETIMECHANGE:
            // While the calendar is open the choice is checked once it closes.
            if (!m_bCalendarDropped) CatchingChangeCalendarDate();
            break;
        case DTN_USERSTRINGW:
        case DTN_USERSTRINGA:
            CatchingChangeCalendarDate();
            break;
        default:
            break;
        }
    }
    return 0;
}

std::optional<__time64_t> CDefaultSettingDialog::PickerTime() const {
    SYSTEMTIME picked{};
    if (SendDlgItemMessageW(Hwnd(), IDC_DELETE_DATE, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&picked)) !=
        GDT_VALID)
        return std::nullopt;
    return CControlCalendar::LocalMidnight(picked.wYear, picked.wMonth, picked.wDay);
}

void CDefaultSettingDialog::ShowRangePopup(int anchorId, const char* text) {
    m_popupRange.PlaceBelow(ItemScreenRect(anchorId));
    m_popupRange.SetMessage(text);
    m_popupRange.Show(true);
}

void CDefaultSettingDialog::HidePopups() {
    m_popupRange.Show(false);
    m_popupServer.Show(false);
}

void CDefaultSettingDialog::CatchingChangeCalendarDate() {
    m_settings.SelectFileDelete = m_nPeriodMode;
    const std::optional<__time64_t> picked = PickerTime();
    // A date the calendar cannot hold counts as out of range.
    const long diff = picked ? static_cast<long>(CControlCalendar().DaysFromToday(*picked)) : -1;
    LOG_WRITE(1, "Calendar diff: %ld", diff);
    if ((diff >= 0 && diff <= kMaxDays) || m_nPeriodMode != kPeriodUntilDate) return;
    ShowRangePopup(IDC_DELETE_DATE, kDateOutOfRange);
    if (diff < 0)
        LOG_WRITE(1, "Calendar 0: %ld", diff);
    else
        LOG_WRITE(1, "Calendar MAX_DELETE_DATE: %ld", diff);
}

void CDefaultSettingDialog::OnModeChange(int mode) {
    m_nPeriodMode = mode;
    EnablePeriodControls();
    if (mode == kPeriodUntilDate) CatchingChangeCalendarDate();
}

void CDefaultSettingDialog::OnDaysChange() {
    if (m_bInitialising) return;
    HWND edit = Item(IDC_DELETE_DAYS);
    DWORD start = 0, end = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    CControlEditBox box(Hwnd());
    box.SetValue(box.m_nValue);
    SendMessageW(edit, EM_SETSEL, start, end);
    SendMessageW(edit, EM_SCROLLCARET, 0, 0);
    SetFocus(edit);
    if (box.m_nState == CControlEditBox::BelowZero || box.m_nState == CControlEditBox::AboveMaximum)
        ShowRangePopup(IDC_DELETE_DAYS, kDaysOutOfRange);
}

bool CDefaultSettingDialog::PreTranslateMessage(MSG& msg) {
    switch (msg.message) {
    case WM_SYSKEYDOWN:
        // Alt alone would move the focus to a menu the dialog does not have.
        return msg.wParam == VK_MENU;
    case WM_MOUSEMOVE: {
        // Over the server label its full text shows below it; elsewhere not.
        const RECT label = ItemScreenRect(IDC_SERVER_NAME);
        if (PtInRect(&label, msg.pt) && !m_strServerName.empty()) {
            if (!m_popupServer.Visible()) {
                m_popupServer.SetMessage(m_strServerName);
                m_popupServer.Show(true);
            }
        } else {
            m_popupServer.Show(false);
        }
        return false;
    }
    case WM_LBUTTONDOWN:
        LOG_WRITE(1, "PreTranslateMessage:WM_LBUTTONDOWN[%d:%d]", static_cast<int>(msg.pt.x),
                  static_cast<int>(msg.pt.y));
        HidePopups();
        return false;
    case WM_NCLBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_KEYDOWN:
        HidePopups();
        return false;
    default:
        return false;
    }
}

void CDefaultSettingDialog::OnServerChange() {
    HidePopups();
    CServerSettingDialog server(m_settings);
    if (server.DoModal(Hwnd()) != IDOK) return;
    fw::WaitCursor wait;
    FolderSetting();
    if (m_settings.ServerChanged == 1) {
        // The folder belonged to the previous account.
        SetFolderTitle("");
        m_settings.FolderName.clear();
        m_settings.Folder = 0;
    }
}

void CDefaultSettingDialog::OnFolderSelect() {
    HidePopups();
    if (!m_bServerConfirmed) {
        ShowMessageById(IDS_CONNECTION_NOT_SET);
        return;
    }
    CFolderSelectDialog* folders = CFolderSelectDialog::GetInstance();
    if (!folders) {
        ShowMessageById(IDS_DIALOG_CREATE_FAILED);
        return;
    }
    if (folders->DoModal(Hwnd()) == IDOK)
        SetFolderTitle(m_settings.FolderName);
    else if (folders->m_strSelectedName.empty())
        SetFolderTitle("");  // the listing could not be loaded
}

void CDefaultSettingDialog::OnProxyChange() {
    HidePopups();
    CProxySettingDialog proxy(m_settings);
    if (proxy.DoModal(Hwnd()) != IDOK) return;
    m_strProxySummary = proxy.m_strSummary;
    SetItemTextAnsi(IDC_PROXY_SUMMARY, m_strProxySummary);
}

void CDefaultSettingDialog::OnOK() {
    HidePopups();
    m_bFileEncrypt = IsDlgButtonChecked(Hwnd(), IDC_FILE_ENCRYPT) == BST_CHECKED;
    m_bDisplayResult = IsDlgButtonChecked(Hwnd(), IDC_DISPLAY_RESULT) == BST_CHECKED;
    m_bConvertPDF = IsDlgButtonChecked(Hwnd(), IDC_CONVERT_PDF) == BST_CHECKED;
    if (m_settings.ConvertPDF == 0 && m_bConvertPDF == 1 && !RunPdfNotices(Hwnd())) return;
    m_settings.ConvertPDF = m_bConvertPDF;
    m_settings.SelectFileDelete = m_nPeriodMode;

    const CControlCalendar calendar;
    const std::optional<__time64_t> picked = PickerTime();
    if (picked) m_settings.FileDeleteDate = calendar.ChangeCTimeToString(*picked);
    const long long diff = picked ? calendar.DaysFromToday(*picked) : -1;
    if (m_nPeriodMode == kPeriodUntilDate && (diff < 0 || diff > kMaxDays)) ShowMessageById(IDS_PERIOD_INVALID);  // saved all the same

    const CControlEditBox box(Hwnd());
    int days = box.m_nValue;
    if (days < 0 && !box.m_bUnlimited) days = 0;  // only "無期限" stands for unlimited
    if (days > kMaxDays) {
        const std::string message = fw::Format("%d%s%d%s", kMaxDays + 1, LoadMessageById(IDS_PERIOD_TOO_LONG).c_str(),
                                               kMaxDays, LoadMessageById(IDS_PERIOD_SET_TO).c_str());
        fw::ShowMessageBoxCaption(Hwnd(), fw::AnsiToWide(message),
                                  fw::AnsiToWide(LoadMessageById(IDS_PERIOD_ERROR_CAPTION)), MB_OK);
        days = kMaxDays;
    }
    LOG_WRITE(1, "OK > date[%d]:data[%d]", m_nPeriodMode, days);

    m_settings.FileDelete = days;
    m_settings.FolderName = m_strFolderTitle;
    if (m_strFolderTitle.empty()) m_settings.Folder = 0;
    m_settings.FileEncrypt = m_bFileEncrypt;
    m_settings.DisplayResult = m_bDisplayResult;
    m_settings.Save();
    EndDialog(IDOK);
}

void CDefaultSettingDialog::OnCancel() {
    HidePopups();
    // Throws away what the other dialogs and the date check wrote into the
    // live record; the record is configured exactly when the registry is.
    m_settings.IsConfigured = m_settings.Load();
    EndDialog(IDCANCEL);
}
