#include "zinpost/ui/zinpostApp.h"

#include "zinpost/engine/FolderListing.h"
#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/ui/resource.h"
#include "zinpost/ui/zinpostDlg.h"

#include "framework/MessageBox.h"
#include "framework/Sync.h"
#include "framework/Text.h"

#include <commctrl.h>
#include <memory>
#include <winsock2.h>

namespace {
// Constructed before the entry point, so the settings record exists before
// any window; destroyed after every process-wide object created on first use.
CzinpostApp theApp;
// How long the exit waits for workers that are about to end by themselves.
constexpr DWORD kWorkerGraceMs = 2000;
}  // namespace

CzinpostApp& TheApp() { return theApp; }

CzinpostApp::CzinpostApp() : m_settings(&m_profile) {
    SetAppSettings(&m_settings);
    // The kept folder listing is the one the folder-tree threads fill.
    SetFolderTreeAccessor([]() -> IFolderTree* { return &CFolderListing::GetInstance(); });
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
    // The close may give up waiting for a worker (a run that converts or
    // logs in, a login held in the proxy credential dialog, a folder
    // refresh). It still uses the window object, the session, the thread
    // agent and the PDF gate, so none of them may be destroyed under it.
    // A worker that is ending anyway (a cancelled transfer logging out) gets
    // a moment; then the process ends at once and takes the others with it.
    const ULONGLONG grace = GetTickCount64() + kWorkerGraceMs;
    while (fw::RunningWorkerThreads() > 0 && GetTickCount64() < grace) Sleep(10);
    if (const int workers = fw::RunningWorkerThreads(); workers > 0) {
        LOG_WRITE(1, "zinpost: %d worker(s) still running at exit", workers);
        ExitProcess(0);
    }
    dlg.reset();  // the window's destructor logs the shared session out once more
    WSACleanup();
    return 0;
}
