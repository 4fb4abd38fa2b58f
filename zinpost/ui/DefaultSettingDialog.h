#pragma once
// The default settings: the connection (server URL with its check state,
// proxy summary), the upload folder, the publication period (unlimited,
// until a date, or a number of days), file encryption, PDF conversion and
// the result display. It opens the server, proxy and folder dialogs,
// confirms the account by fetching the folder listing, and on OK checks the
// period and saves everything; Cancel reloads the registry.
#include "zinpost/engine/AppSettings.h"
#include "zinpost/engine/ContentGroupReader.h"
#include "zinpost/ui/PopupDialog.h"

#include "framework/Dialog.h"
#include "framework/WinHandle.h"

#include <ctime>
#include <optional>
#include <string>

class CDefaultSettingDialog : public fw::Dialog {
public:
    explicit CDefaultSettingDialog(CAppSettings& settings);

    // Fetches the listing into the folder dialog's kept lists and copies it
    // into m_vGroups; 1 on success, else 0 with the reason in `error`.
    int GetGroupInfo(std::string& error);
    // Confirms the account against the server and refreshes the folder
    // title and the server label.
    void FolderSetting();

    std::string m_strServerName;   // the server label
    std::string m_strFolderTitle;  // the folder title box
    int m_bFileEncrypt = 0;
    int m_bDisplayResult = 0;
    int m_bConvertPDF = 0;
    int m_nPeriodMode = kPeriodUnlimited;  // a PeriodMode
    std::string m_strProxySummary;
    BYTE m_bServerConfirmed = 0;
    ContentGroupList m_vGroups;  // of the last confirmation
    CPopupDialog m_popupRange;   // below the period controls
    CPopupDialog m_popupServer;  // the full server label
    bool m_bCalendarDropped = false;

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD id, WORD notifyCode, HWND control) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    bool PreTranslateMessage(MSG& msg) override;

private:
    void OnOK() override;
    void OnCancel() override;
    void OnServerChange();
    void OnFolderSelect();
    void OnProxyChange();
    void OnModeChange(int mode);
    void OnDaysChange();
    LRESULT OnNotify(const NMHDR& header);
    // Warns with the range popup below the picker when mode 1 has a date
    // outside today .. a year ahead.
    void CatchingChangeCalendarDate();

    void EnablePeriodControls() const;
    void SetServerLabel(const std::string& label);
    void SetFolderTitle(const std::string& title);
    void ShowRangePopup(int anchorId, const char* text);
    void HidePopups();
    // The picker's date at local midnight; empty when it has none.
    std::optional<__time64_t> PickerTime() const;
    RECT ItemScreenRect(int id) const;

    CAppSettings& m_settings;
    fw::UniqueGdiObject m_boldFont;
    bool m_bInitialising = false;
};
