#pragma once
// The server dialog: the server's base URL, the user name and the password.
// Its OK writes them into the live settings record (they reach the registry
// when the default settings dialog saves) and tells whether any changed.
#include "zinpost/engine/AppSettings.h"

#include "framework/Dialog.h"
#include "framework/WinHandle.h"

#include <string>

class CServerSettingDialog : public fw::Dialog {
public:
    explicit CServerSettingDialog(CAppSettings& settings);

    // The texts as typed (the URL with its final "/" after OK).
    std::string m_strUrl;
    std::string m_strUser;
    std::string m_strPassword;

protected:
    BOOL OnInitDialog() override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    void OnOK() override;

    CAppSettings& m_settings;
    HWND m_edtUrl = nullptr;
    fw::UniqueGdiObject m_boldFont;
};
