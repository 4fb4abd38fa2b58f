#include "zinpost/ui/ProxySettingDialog.h"

#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/ui/MessageBoxes.h"
#include "zinpost/resource.h"

#include "framework/Font.h"

#include <cstdlib>

namespace {

constexpr int kAddressLimit = 2083;
constexpr int kPortLimit = 5;
constexpr int kExceptionsLimit = 2064;
constexpr long kHighestPort = 65535;

// Any byte of the text that starts a double-byte (full-width) character of
// the system's code page.
bool HasDoubleByte(const std::string& text) {
    for (unsigned char c : text)
        if (IsDBCSLeadByte(c)) return true;
    return false;
}

bool HasBlank(const std::string& text) { return text.find(' ') != std::string::npos; }

bool HasNonDigit(const std::string& text) {
    for (unsigned char c : text)
        if (c < '0' || c > '9') return true;
    return false;
}

}  // namespace

CProxySettingDialog::CProxySettingDialog(CAppSettings& settings)
    : fw::Dialog(IDD_PROXY_SETTING), m_settings(settings) {}

std::string CProxySettingDialog::SummaryText(int mode) {
    switch (mode) {
    case kProxyNone:
        return "プロキシを使用しない";
    case kProxySystem:
        return "システムのプロキシを使用する";
    case kProxyManual:
        return "手動で設定したプロキシを使用する";
    default:
        return "プロキシ設定に失敗しています";
    }
}

BOOL CProxySettingDialog::OnInitDialog() {
    fw::WaitCursor wait;
    m_edtAddress = Item(IDC_PROXY_ADDRESS);
    m_edtPort = Item(IDC_PROXY_PORT);
    m_edtExceptions = Item(IDC_PROXY_EXCEPTIONS);
    SendMessageW(m_edtAddress, EM_LIMITTEXT, kAddressLimit, 0);
    SendMessageW(m_edtPort, EM_LIMITTEXT, kPortLimit, 0);
    SendMessageW(m_edtExceptions, EM_LIMITTEXT, kExceptionsLimit, 0);

    // The fields start from the record; OK reads them back.
    m_nMode = m_settings.ProxySelect;
    SetItemTextAnsi(IDC_PROXY_ADDRESS, m_settings.ProxyAddress);
    SetItemTextAnsi(IDC_PROXY_PORT, m_settings.ProxyPort);
    SetItemTextAnsi(IDC_PROXY_EXCEPTIONS, m_settings.ProxyList);
    // A stored mode outside the three checks none of the buttons.
    CheckRadioButton(Hwnd(), IDC_PROXY_NONE, IDC_PROXY_MANUAL,
                     m_nMode >= kProxyNone && m_nMode <= kProxyManual ? IDC_PROXY_NONE + m_nMode : 0);
    SetEditsReadOnly(m_nMode != kProxyManual);

    m_boldFont = fw::MakeBold(Hwnd(), {Item(IDC_PROXY_HEADER)});
    return TRUE;
}

bool CProxySettingDialog::OnCommand(WORD id, WORD notifyCode, HWND control) {
    switch (id) {
    case IDC_PROXY_NONE:
    case IDC_PROXY_SYSTEM:
    case IDC_PROXY_MANUAL:
        if (notifyCode == BN_CLICKED) SelectMode(id - IDC_PROXY_NONE);
        return true;
    default:
        return fw::Dialog::OnCommand(id, notifyCode, control);
    }
}

void CProxySettingDialog::SelectMode(int mode) {
    m_nMode = mode;
    SetEditsReadOnly(mode != kProxyManual);
}

void CProxySettingDialog::SetEditsReadOnly(bool readOnly) const {
    for (HWND edit : {m_edtAddress, m_edtPort, m_edtExceptions})
        SendMessageW(edit, EM_SETREADONLY, readOnly ? TRUE : FALSE, 0);
}

UINT CProxySettingDialog::CheckMyProxySetting(HWND& focus) const {
    // Every check runs; a later failure replaces an earlier one's message
    // and focus.
    UINT message = 0;
    const auto fail = [&](const char* text, UINT id, HWND control) {
        LOG_WRITE(4, "%s", text);
        message = id;
        focus = control;
    };
    if (m_strAddress.empty()) fail("アドレスが空", IDS_PROXY_ENTER_ADDRESS_PORT, m_edtAddress);
    if (m_strPort.empty()) fail("ポートが空", IDS_PROXY_ENTER_ADDRESS_PORT, m_edtPort);
    const long port = std::strtol(m_strPort.c_str(), nullptr, 10);
    if (port < 0 || port > kHighestPort)
        fail("ポート番号の数値が範囲外（0～65535）", IDS_PROXY_SETTING_WRONG, m_edtPort);
    if (HasDoubleByte(m_strAddress)) fail("アドレスが全角", IDS_PROXY_SETTING_WRONG, m_edtAddress);
    if (HasBlank(m_strAddress)) fail("アドレスに半角空白がある", IDS_PROXY_SETTING_WRONG, m_edtAddress);
    if (HasDoubleByte(m_strPort)) fail("ポートが全角", IDS_PROXY_SETTING_WRONG, m_edtPort);
    if (HasBlank(m_strPort)) fail("ポートに半角空白がある", IDS_PROXY_SETTING_WRONG, m_edtPort);
    if (HasNonDigit(m_strPort)) fail("ポートに半角文字（数字以外）がある", IDS_PROXY_SETTING_WRONG, m_edtPort);
    // The exception list comes last and ends the checking.
    if (HasDoubleByte(m_strExceptions)) fail("例外リストに全角がある", IDS_PROXY_SETTING_WRONG, m_edtExceptions);
    return message;
}

void CProxySettingDialog::OnOK() {
    m_strAddress = ItemTextAnsi(IDC_PROXY_ADDRESS);
    m_strPort = ItemTextAnsi(IDC_PROXY_PORT);
    m_strExceptions = ItemTextAnsi(IDC_PROXY_EXCEPTIONS);
    m_strSummary = SummaryText(m_nMode);

    if (m_nMode == kProxyManual) {
        HWND focus = nullptr;
        if (const UINT message = CheckMyProxySetting(focus)) {
            ShowMessageById(message);
            SendMessageW(Hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
            return;
        }
    }
    {
        const auto lock = LockConnectionSettings();
        m_settings.ProxyPort = m_strPort;
        m_settings.ProxyAddress = m_strAddress;
        m_settings.ProxyList = m_strExceptions;
        m_settings.ProxySelect = m_nMode;
    }
    LOG_WRITE(1, "proxy setting OK[%d]", m_nMode);
    EndDialog(IDOK);
}
