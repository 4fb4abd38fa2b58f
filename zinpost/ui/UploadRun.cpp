// The upload run of the main window: the drop handler (user-interface
// thread) and the worker body (upload thread).
#include "zinpost/ui/zinpostDlg.h"

#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/engine/UploadRun.h"
#include "zinpost/ui/resource.h"

#include "framework/Profile.h"

void CzinpostDlg::OnDropFiles(HDROP drop) {
    struct DropRelease {
        HDROP handle;
        ~DropRelease() {
            if (handle) DragFinish(handle);
        }
    } release{drop};

    if (m_bBusy) return;
    if (const UINT refusal = CheckUploadSettings(*m_settings)) {
        ShowMessageById(refusal);
        return;  // a command-line start keeps its window open here
    }
    m_FileList.clear();
    m_nFileCount = 0;
    const std::vector<std::wstring> documents =
        m_bCommandLine ? CommandLineDocuments(GetCommandLineW(), fw::ProgramPath()) : DroppedDocuments(drop);
    for (const std::wstring& path : documents) m_FileList.push_back(UploadEntry{path, 0});
    m_nFileCount = static_cast<int>(m_FileList.size());
    LOG_WRITE(1, "OnDropFiles: files[%d] commandLine[%d]", m_nFileCount, m_bCommandLine);

    if (m_nFileCount >= 1 && m_nFileCount <= kMaxFilesPerRun) {
        m_bBusy = 1;
        CThreadAgent* agent = CThreadAgent::GetInstance();
        if (!agent || !agent->StartUploadThread(this)) {
            m_bBusy = 0;
            ShowMessageById(IDS_UPLOAD_FAILED);
        }
        return;
    }
    if (m_nFileCount > kMaxFilesPerRun) ShowMessageById(IDS_TOO_MANY_FILES);
    // A command-line start without a run to make ends the program.
    if (m_bCommandLine) PostMessageW(Hwnd(), WM_COMMAND, IDOK, 0);
}
