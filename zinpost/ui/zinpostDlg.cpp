#include "zinpost/ui/zinpostDlg.h"

#include "common/SettingsNames.h"
#include "zinpost/engine/CommServer.h"
#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/ui/DialogAgent.h"
#include "zinpost/ui/MessageBoxes.h"
#include "zinpost/ui/AboutDlg.h"
#include "zinpost/ui/DefaultSettingDialog.h"
#include "zinpost/ui/FolderSelectDialog.h"
#include "zinpost/resource.h"
#include "zinpost/ui/zinpostApp.h"

#include "framework/CommandLine.h"
#include "framework/Font.h"
#include "framework/Profile.h"
#include "framework/Text.h"

#include <commctrl.h>
#include <windowsx.h>

CzinpostDlg::CzinpostDlg(CAppSettings* settings, std::wstring commandLine)
    : fw::Dialog(IDD_ZINPOST_DIALOG),
      m_commandLine(std::move(commandLine)),
      m_settings(settings),
      m_hIcon(static_cast<HICON>(
          LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE))) {
    // Without TopMostWindow the window leaves the template's topmost band:
    // made so at once, a band change of the made window costs Wine a
    // round trip to the X server. The initialisation checks it all the same.
    if (TheApp().m_profile.GetInt(settings_names::kSection, settings_names::kTopMostWindow, 0) == 0)
        RemoveExStyleAtCreation(WS_EX_TOPMOST);
}

CzinpostDlg::~CzinpostDlg() {
    // Logs the shared server session out once more, unless a request uses it.
    LogoutOnClose();
}

BOOL CzinpostDlg::OnInitDialog() {
    // The labels and the folder field start empty.
    SetItemTextAnsi(IDC_STATUS_LABEL, m_strStatus);
    SetItemTextAnsi(IDC_SPARE_LABEL, m_strSpare);
    SetItemTextAnsi(IDC_FOLDER_EDIT, m_strFolderName);
    m_settingButton.Attach(Hwnd(), IDC_SETTING_BUTTON);
    m_folderButton.Attach(Hwnd(), IDC_FOLDER_BUTTON);
    m_fileNameButton.Attach(Hwnd(), IDC_FILE_NAME_BUTTON);
    TheApp().m_hMainWnd = Hwnd();

    m_bWaitCursor = 0;
    m_bRunningCursor = 0;

    const std::string about = LoadMessageById(IDS_ABOUTBOX);
    if (HMENU system = GetSystemMenu(Hwnd(), FALSE); system && !about.empty()) {
        AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(system, MF_STRING, IDM_ABOUTBOX, about.c_str());
    }
    SendMessageW(Hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon.get()));
    SendMessageW(Hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon.get()));

    m_settings->Load();
    LOG_WRITE(1, "---------------------- zinpostDlg start[PID:%d, TID:%d] ---------------------------",
              static_cast<int>(GetCurrentProcessId()), static_cast<int>(GetCurrentThreadId()));

    CThreadAgent* agent = AgentOrEndDialog(*this);
    if (!agent) return TRUE;
    RefreshFolderField();
    agent->StartFolderTreeThread();

    if (m_settings->IsConfigured)
        StartCommandLineRun();
    else
        PostMessageW(Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_SETTING_BUTTON, BN_CLICKED), 0);

    if (TheApp().m_profile.GetInt(settings_names::kSection, settings_names::kTopMostWindow, 0) == 0 &&
        (GetWindowLongW(Hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST))
        SetWindowPos(Hwnd(), HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

    LOG_WRITE(1, "-----** zinpostDlg init end**------");
    return TRUE;
}

// A start with files on the command line posts the window a drop.
void CzinpostDlg::StartCommandLineRun() {
    const std::vector<std::wstring> args = fw::SplitCommandLine(m_commandLine);
    // With one argument only a start "with files" when it is not this
    // program's own full path (a double-click start passes just that path):
    // compared whole and exactly, unlike the drop handler, which compares
    // file names. The extension relies on neither: its line holds files only.
    const bool withFiles = args.size() > 1 || (args.size() == 1 && fw::ProgramPath() != args[0]);
    if (withFiles) {
        m_bCommandLine = 1;
        PostMessageW(Hwnd(), WM_DROPFILES, 0, 0);
    }
}

void CzinpostDlg::RefreshFolderField() {
    m_strFolderName = m_settings->IsConfigured && !m_settings->FolderName.empty() ? m_settings->FolderName : "";
    SetItemTextAnsi(IDC_FOLDER_EDIT, m_strFolderName);
}

bool CzinpostDlg::PreTranslateMessage(MSG& msg) {
    // Escape never closes the window.
    return msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE;
}

bool CzinpostDlg::OnCommand(WORD id, WORD notifyCode, HWND control) {
    switch (id) {
    case IDC_SETTING_BUTTON:
    case ID_MENU_DEFAULT_SETTING:
        OnSettings();
        return true;
    case ID_MENU_TOPMOST:
        ToggleTopMost();
        return true;
    case ID_MENU_ABOUT:
        ShowAbout();
        return true;
    case IDC_FOLDER_BUTTON:
        OnChooseFolder();
        return true;
    case IDC_PROGRESS_CANCEL:
        OnBnClickedProgressCancel();
        return true;
    default:
        return fw::Dialog::OnCommand(id, notifyCode, control);
    }
}

void CzinpostDlg::OnOK() {
    // The run itself closes the window once it has ended; Enter on the
    // hidden default button must not pull the window from under it.
    if (!m_bBusy) EndDialog(IDOK);
}

void CzinpostDlg::OnCancel() { OnBnClickedCancel(); }

INT_PTR CzinpostDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = true;
    switch (message) {
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
            ShowAbout();
            return TRUE;
        }
        handled = false;
        return FALSE;
    case WM_PAINT:
        if (IsIconic(Hwnd())) {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(Hwnd(), &ps);
            SendMessageW(Hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
            RECT rc;
            GetClientRect(Hwnd(), &rc);
            const int x = (rc.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
            const int y = (rc.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
            DrawIcon(dc, x, y, m_hIcon.get());
            EndPaint(Hwnd(), &ps);
            return TRUE;
        }
        handled = false;
        return FALSE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(m_hIcon.get());
    case WM_DROPFILES:
        OnDropFiles(reinterpret_cast<HDROP>(wParam));
        return TRUE;
    case WM_RBUTTONUP:
        OnRButtonUp(static_cast<UINT>(wParam), POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        handled = false;  // then the default handling
        return FALSE;
    case WM_DRAWITEM:
        if (wParam == IDC_FILE_NAME_BUTTON) {
            m_fileNameButton.DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        }
        handled = false;
        return FALSE;
    case WM_SETCURSOR:
        if (m_bWaitCursor || m_bRunningCursor) {
            SetCursor(LoadCursorA(nullptr, m_bWaitCursor ? IDC_WAIT : IDC_APPSTARTING));
            SetMessageResult(TRUE);
            return TRUE;
        }
        handled = false;
        return FALSE;
    default:
        handled = false;
        return FALSE;
    }
}

void CzinpostDlg::OnRButtonUp(UINT, POINT point) {
    if (m_bBusy) return;
    const fw::UniqueHMenu menu(LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_POPUP_MENU)));
    if (!menu) return;
    HMENU popup = GetSubMenu(menu.get(), 0);
    const bool topmost = GetWindowLongW(Hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST;
    CheckMenuItem(popup, ID_MENU_TOPMOST, MF_BYCOMMAND | (topmost ? MF_CHECKED : MF_UNCHECKED));
    ClientToScreen(Hwnd(), &point);
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, point.x, point.y, 0, Hwnd(), nullptr);
}

void CzinpostDlg::ToggleTopMost() {
    const bool topmost = GetWindowLongW(Hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST;
    SetWindowPos(Hwnd(), topmost ? HWND_NOTOPMOST : HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    const bool now = GetWindowLongW(Hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST;
    TheApp().m_profile.WriteInt(settings_names::kSection, settings_names::kTopMostWindow, now ? 1 : 0);
}

void CzinpostDlg::ShowAbout() {
    CAboutDlg about;
    about.DoModal(Hwnd());
}

void CzinpostDlg::OnSettings() {
    if (m_bBusy) return;
    LOG_WRITE(1, "OnSettings");
    CDefaultSettingDialog settings(*m_settings);
    if (settings.DoModal(Hwnd()) == IDOK) RefreshFolderField();
}

void CzinpostDlg::OnChooseFolder() {
    // Not while a run reads the settings, nor under another of the window's dialogs.
    if (m_bBusy || !IsWindowEnabled(Hwnd())) return;
    LOG_WRITE(1, "OnChooseFolder");
    CFolderSelectDialog* folders = CFolderSelectDialog::GetInstance();
    if (!folders) {
        ShowMessageById(IDS_DIALOG_CREATE_FAILED);
        return;
    }
    if (folders->DoModal(Hwnd()) != IDOK) return;
    fw::WaitCursor wait;
    m_strFolderName = m_settings->FolderName;
    if (m_settings->FolderName.empty()) m_settings->Folder = 0;
    SetItemTextAnsi(IDC_FOLDER_EDIT, m_strFolderName);
    m_settings->Save();
}

void CzinpostDlg::OnBnClickedProgressCancel() {
    m_bCancelRequested = 1;
    LOG_WRITE(1, "アップロードキャンセル　スタート");
    m_bWaitCursor = 1;
}

void CzinpostDlg::OnBnClickedCancel() {
    m_bWaitCursor = 1;
    m_bCancelRequested = 1;
    m_bClosing = 1;
    if (CThreadAgent* agent = CThreadAgent::GetInstance()) {
        LOG_WRITE(1, "CancelThreads");
        agent->SignalObjAndWait_UploadFile(this);
    }
    EndDialog(IDCANCEL);
}

void CzinpostDlg::LogoutOnClose() {
    // Never under a request that still uses the session, and without
    // waiting for one (the facade's destructor would).
    std::string error;
    CCommServerSingleton::GetInstance().LogoutIfIdle(&error);
}

void CzinpostDlg::SetStatus(const std::string& text) {
    // The run does not wait while the window paints.
    PostToWindowThread([this, text] {
        m_strStatus = text;
        SetItemTextAnsi(IDC_STATUS_LABEL, m_strStatus);
    });
}

// Both layouts change many controls: on the window's thread in one go,
// drawn once when all are in place, and handed over like every other change
// the run makes, so they keep their order with them.
void CzinpostDlg::ShowRunningLayout() {
    PostToWindowThread([this] {
        SendMessageW(Hwnd(), WM_SETREDRAW, FALSE, 0);
        for (int id : {IDC_PROGRESS_CANCEL, IDC_UPLOAD_PROGRESS, IDC_STATUS_LABEL, IDC_FILE_NAME_BUTTON})
            ShowItem(id, true);
        for (int id : {IDC_DROP_PICTURE, IDC_SETTING_BUTTON, IDC_FOLDER_EDIT, IDC_FOLDER_BUTTON, IDC_SPARE_LABEL,
                       IDC_FOLDER_CAPTION})
            ShowItem(id, false);
        EnableItem(IDC_SETTING_BUTTON, true);
        EnableItem(IDC_PROGRESS_CANCEL, true);
        EnableItem(IDC_FOLDER_BUTTON, false);
        SendMessageW(Hwnd(), WM_SETREDRAW, TRUE, 0);
        RedrawWindow(Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    });
}

void CzinpostDlg::ShowIdleLayout() {
    PostToWindowThread([this] {
        SendMessageW(Hwnd(), WM_SETREDRAW, FALSE, 0);
        EnableItem(IDC_FOLDER_BUTTON, true);
        EnableItem(IDC_SETTING_BUTTON, true);
        EnableItem(IDC_PROGRESS_CANCEL, false);
        SendMessageW(Hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_SETTING_BUTTON)), TRUE);
        for (int id : {IDC_PROGRESS_CANCEL, IDC_UPLOAD_PROGRESS, IDC_STATUS_LABEL, IDC_FILE_NAME_BUTTON})
            ShowItem(id, false);
        for (int id : {IDC_DROP_PICTURE, IDC_SETTING_BUTTON, IDC_FOLDER_EDIT, IDC_FOLDER_BUTTON}) ShowItem(id, true);
        ShowItem(IDC_SPARE_LABEL, false);
        ShowItem(IDC_FOLDER_CAPTION, true);
        SendMessageW(Hwnd(), WM_SETREDRAW, TRUE, 0);
        RedrawWindow(Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    });
}
