#pragma once
// The proxy dialog: no proxy, the system's proxy settings, or a manual proxy
// with address, port and exception list. Its OK checks a manual proxy and
// writes the values into the live settings record; the opener shows the
// summary line of the chosen mode.
#include "zinpost/engine/AppSettings.h"

#include "framework/Dialog.h"
#include "framework/WinHandle.h"

#include <string>

class CProxySettingDialog : public fw::Dialog {
public:
    explicit CProxySettingDialog(CAppSettings& settings);

    // The summary line of a mode, as the default settings dialog shows it.
    static std::string SummaryText(int mode);
    // Checks the typed manual proxy. 0 when valid, else the message to show
    // with the control to focus in `focus`.
    UINT CheckMyProxySetting(HWND& focus) const;

    std::string m_strAddress;
    std::string m_strPort;
    std::string m_strExceptions;
    int m_nMode = kProxySystem;  // a ProxyMode
    std::string m_strSummary;

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD id, WORD notifyCode, HWND control) override;

private:
    void OnOK() override;
    void SelectMode(int mode);
    // Mode 2 makes the three edits editable, the others read-only; the
    // typed texts stay.
    void SetEditsReadOnly(bool readOnly) const;

    CAppSettings& m_settings;
    HWND m_edtAddress = nullptr;
    HWND m_edtPort = nullptr;
    HWND m_edtExceptions = nullptr;
    fw::UniqueGdiObject m_boldFont;
};
