#include "zinpost/ui/zinpostApp.h"

#include "zinpost/engine/PackageRegistration.h"

#include "common/SettingsNames.h"
#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/resource.h"
#include "zinpost/ui/MessageBoxes.h"
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

namespace {

void RestrictLibrarySearch() {
    // Libraries loaded by name (the result library, what the system loads
    // for us) come from the program's folder and the system's, never from
    // the current folder (Explorer starts the program there, and the dropped
    // files lie there) nor from PATH, whose folders would come before the
    // system's. The converter, the one library looked for on PATH, is loaded
    // by its full path (COfficePDF). An empty DLL directory takes the current
    // folder out of the classic search (Wine does not honour it); the
    // default directories do it everywhere they exist.
    SetDllDirectoryW(L"");
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (!setDefault) return;  // a system without it: the empty DLL directory stands
    if (!setDefault(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32))
        LOG_WRITE(4, "SetDefaultDllDirectories failed[%lu]", GetLastError());
}

}  // namespace

CzinpostApp::CzinpostApp() : m_settings(&m_profile) {
    SetAppSettings(&m_settings);
    // The engine's failures reach the user as the program's message boxes.
    InstallMessageBoxReporter();
}

int CzinpostApp::InitInstance() {
    RestrictLibrarySearch();

    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), 0xFF};  // the Windows 95 classes
    InitCommonControlsEx(&controls);

    // Every message box of the program carries the program's caption.
    fw::SetMessageBoxCaption(fw::AnsiToWide(LoadMessageById(IDS_APP_CAPTION)));

    WSADATA wsa{};
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        fw::ShowMessageBoxAnsi(nullptr, LoadMessageById(IDS_SOCKETS_INIT_FAILED), MB_OK);
        return 0;
    }

    m_profile.SetRegistryKey(settings_names::kRegistryKey);
    RegisterPackageForUser();

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
    if (!fw::WaitForWorkerThreads(kWorkerGraceMs)) {
        const int workers = fw::RunningWorkerThreads();
        LOG_WRITE(1, "zinpost: %d worker(s) still running at exit", workers);
        ExitProcess(0);
    }
    dlg.reset();  // the window's destructor logs the shared session out once more
    WSACleanup();
    return 0;
}
