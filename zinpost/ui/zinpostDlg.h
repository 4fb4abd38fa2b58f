#pragma once
// The main window: a small, by default always-on-top dialog that takes files
// dropped on its picture and uploads them. While a run is active the picture
// and buttons give way to a status label, the file-name display, a progress
// bar and a cancel button.
#include "common/UploadEntry.h"
#include "zinpost/engine/AppSettings.h"
#include "zinpost/engine/ThreadAgent.h"
#include "zinpost/engine/UploadTypes.h"
#include "zinpost/ui/ContextMenuButtons.h"
#include "zinpost/ui/ODButton.h"

#include "framework/Dialog.h"
#include "framework/WinHandle.h"

#include <shellapi.h>

#include <atomic>
#include <string>

class CzinpostDlg : public fw::Dialog, public IUploadWindow {
public:
    // `commandLine`: the process's own, which a start with files carries.
    explicit CzinpostDlg(CAppSettings* settings, std::wstring commandLine = GetCommandLineW());
    ~CzinpostDlg() override;

    // The upload run (drop handler on the user-interface thread, worker body
    // on the upload thread).
    void OnDropFiles(HDROP drop);
    void UploadFunction() override;
    int TransferFlag() const override { return m_bTransferFlag; }

    // The run's state as seen from outside (the tests), read only. The list
    // is the run's own: read it while no run is active.
    const UploadEntryList& FileList() const { return m_FileList; }
    int FileCount() const { return m_nFileCount; }
    bool StartedWithFiles() const { return m_bCommandLine != 0; }
    bool Busy() const { return m_bBusy != 0; }

protected:
    BOOL OnInitDialog() override;
    // Escape never closes the window.
    bool PreTranslateMessage(MSG& msg) override;
    bool OnCommand(WORD id, WORD notifyCode, HWND control) override;
    void OnOK() override;
    void OnCancel() override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    void OnRButtonUp(UINT flags, POINT point);
    void OnBnClickedProgressCancel();
    void OnBnClickedCancel();
    void OnSettings();
    void OnChooseFolder();
    void ToggleTopMost();
    void ShowAbout();
    void RefreshFolderField();
    void StartCommandLineRun();
    void LogoutOnClose();

    // The steps of one file of a run; false ends the run's file loop.
    bool UploadOneFile(UploadEntry& entry, int index, const UploadProgressContext& progress, bool& anyFailure);
    void EndOfRun(bool anyFailure);
    void ShowResultWindow();
    void ReportUnexpectedException(long code);

    // Layouts of the window while idle and while a run is active.
    void ShowRunningLayout();
    void ShowIdleLayout();
    void SetStatus(const std::string& text);

    // Run state. The flags pass between the user-interface thread and the
    // upload thread: atomic, holding the ints (bytes) the run is made of.
    UploadEntryList m_FileList;
    int m_nFileCount = 0;
    int m_bCommandLine = 0;
    std::atomic<int> m_bBusy{0};
    std::atomic<int> m_bCancelRequested{0};
    std::atomic<int> m_bClosing{0};
    std::atomic<int> m_bTransferFlag{0};
    std::atomic<BYTE> m_bWaitCursor{0};
    std::atomic<BYTE> m_bRunningCursor{0};
    std::string m_strStatus;

    const std::wstring m_commandLine;
    CAppSettings* m_settings;
    fw::UniqueHIcon m_hIcon;
    CSettingButton m_settingButton;
    CFolderButton m_folderButton;
    CODButton m_fileNameButton;
    std::string m_strSpare;       // text of the spare label 1020
    std::string m_strFolderName;  // text of the folder field 1076
};
