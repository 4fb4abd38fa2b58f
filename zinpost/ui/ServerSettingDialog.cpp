#include "zinpost/ui/ServerSettingDialog.h"

#include "common/ServerUrl.h"

#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/ui/MessageBoxes.h"
#include "zinpost/ui/DialogColors.h"
#include "zinpost/resource.h"

#include "framework/Font.h"

namespace {
constexpr int kUrlLimit = 2083;  // the longest URL the platform handles
}

CServerSettingDialog::CServerSettingDialog(CAppSettings& settings)
    : fw::Dialog(IDD_SERVER_SETTING), m_settings(settings) {}

BOOL CServerSettingDialog::OnInitDialog() {
    fw::WaitCursor wait;
    m_edtUrl = Item(IDC_SERVER_URL);
    SendMessageW(m_edtUrl, EM_LIMITTEXT, kUrlLimit, 0);

    // The fields start from the record; OK reads them back.
    SetItemTextAnsi(IDC_SERVER_URL, m_settings.Server);
    SetItemTextAnsi(IDC_SERVER_USER, m_settings.User);
    SetItemTextAnsi(IDC_SERVER_PASSWORD, m_settings.Password);

    m_boldFont = fw::MakeBold(Hwnd(), {Item(IDC_SERVER_HEADER), Item(IDC_USER_HEADER)});
    return TRUE;
}

INT_PTR CServerSettingDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    if (message == WM_CTLCOLORSTATIC && reinterpret_cast<HWND>(lParam) == Item(IDC_SERVER_EXAMPLE)) {
        handled = true;
        return ColorGreyText(reinterpret_cast<HDC>(wParam), kExampleTextColor);
    }
    return fw::Dialog::OnMessage(message, wParam, lParam, handled);
}

void CServerSettingDialog::OnOK() {
    fw::WaitCursor wait;
    m_strUrl = ItemTextAnsi(IDC_SERVER_URL);
    m_strUser = ItemTextAnsi(IDC_SERVER_USER);
    m_strPassword = ItemTextAnsi(IDC_SERVER_PASSWORD);

    const std::string url = NormaliseServerUrl(m_strUrl);
    if (m_strUrl.empty() || m_strUrl.back() != '/') m_strUrl += '/';
    if (url.empty()) {
        LOG_WRITE(1, "server URL refused[%s]", m_strUrl.c_str());
        ShowMessageById(IDS_SERVER_SETTING_WRONG);
        SendMessageW(Hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_edtUrl), TRUE);
        return;
    }

    {
        const auto lock = LockConnectionSettings();
        // Confirming the server (changed or not) lets the next contact, the
        // settings dialog's account check, pin its certificate anew: the way
        // to accept a certificate the administrator replaced.
        m_settings.ServerCertificate.clear();
        m_settings.ServerChanged = 0;
        for (auto [typed, stored] : {std::pair{&m_strUrl, &m_settings.Server}, std::pair{&m_strUser, &m_settings.User},
                                     std::pair{&m_strPassword, &m_settings.Password}}) {
            if (*typed != *stored) {
                *stored = *typed;
                m_settings.ServerChanged = 1;
            }
        }
    }
    LOG_WRITE(1, "server setting OK[%s] changed[%d]", m_strUrl.c_str(), m_settings.ServerChanged);
    EndDialog(IDOK);
}
