#include "zinpost/ui/zinpostApp.h"

#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/ui/FolderSelectDialog.h"
#include "zinpost/ui/resource.h"
#include "zinpost/ui/zinpostDlg.h"

#include "framework/MessageBox.h"
#include "framework/Text.h"

#include <commctrl.h>
#include <memory>
#include <winsock2.h>

namespace {
// Constructed before the entry point, so the settings record exists before
// any window; destroyed after every process-wide object created on first use.
CzinpostApp theApp;
}  // namespace

CzinpostApp& TheApp() { return theApp; }

CzinpostApp::CzinpostApp() : m_settings(&m_profile) {
    SetAppSettings(&m_settings);
    // The folder-tree threads fill the folder selection dialog's kept listing.
    SetFolderTreeAccessor([]() -> IFolderTree* { return CFolderSelectDialog::GetInstance(); });
}

int CzinpostApp::InitInstance() {
    // Libraries loaded by name (the result library, the converter) come from
    // the program's folder or the system, never from the current folder.
    SetDllDirectoryW(L"");

    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), 0xFF};  // the Windows 95 classes
    InitCommonControlsEx(&controls);

    // Every message box of the program carries the program's caption.
    fw::SetMessageBoxCaption(fw::AnsiToWide(LoadMessageById(IDS_APP_CAPTION)));

    WSADATA wsa{};
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        fw::ShowMessageBoxAnsi(nullptr, LoadMessageById(IDS_SOCKETS_INIT_FAILED), MB_OK);
        return 0;
    }

    m_profile.SetRegistryKey("KORVANTA");

    auto dlg = std::make_unique<CzinpostDlg>(&m_settings);
    LOG_WRITE(1, "zinpost instant ----");
    LOG_WRITE(1, "zinpost  ----[%d]", static_cast<int>(reinterpret_cast<INT_PTR>(dlg.get())));
    const INT_PTR response = dlg->DoModal(nullptr);
    LOG_WRITE(1, "zinpost nResponse ----[%d]", static_cast<int>(response));
    LOG_WRITE(1, "zinpost endend ----");
    m_hMainWnd = nullptr;
    CThreadAgent* agent = CThreadAgent::GetInstance();
    if (agent && agent->UploadRunning()) {
        // The close gave up waiting for the run: its window object stays for
        // it until the process ends, and the session is not pulled away.
        LOG_WRITE(1, "zinpost: upload still running at exit");
        dlg.release();
    }
    dlg.reset();  // the window's destructor logs the shared session out once more
    WSACleanup();
    return 0;
}
