#pragma once
// Starts the program's worker threads and owns the two semaphores by which
// other code tells whether an upload run or an Office check is running and
// waits for it. Nobody stops the threads from outside: the work reads the
// cancel flags itself.
#include "framework/Sync.h"

#include <memory>
#include <string>

// The main window's side of an upload run.
class IUploadWindow {
public:
    virtual ~IUploadWindow() = default;
    // The whole run; called on the upload thread.
    virtual void UploadFunction() = 0;
    // 1 while file data is written and from the end of a run until the
    // window is idle again.
    virtual int TransferFlag() const = 0;
};

// The process's kept content-group listing (the folder selection dialog's).
class IFolderTree {
public:
    virtual ~IFolderTree() = default;
    virtual void SetLoaded(int loaded) = 0;
    // Fetches the listing (or, when loaded, refreshes it in the background).
    virtual int GetGroupInfoTree(std::string& error) = 0;
    // The background refresh; called on the folder-refresh thread.
    virtual int BackGroundUpdateInfoTree() = 0;
};

// How the agent reaches the folder tree object; null when there is none.
using FolderTreeAccessor = IFolderTree* (*)();
void SetFolderTreeAccessor(FolderTreeAccessor accessor);
// Set when the folder tree object could not be had.
std::string FolderErrorText();
void SetFolderErrorText(const std::string& text);

class CThreadAgent {
public:
    // The process-wide agent, created on first call; null when its locks
    // could not be made.
    static CThreadAgent* GetInstance();
    ~CThreadAgent();

    static unsigned UploadThread(void* window);  // IUploadWindow*
    static unsigned PDFCheckThread(void* agent);
    static unsigned FolderTreeThread(void* agent);
    static unsigned UpdateFolderTreeThread(void* agent);

    // Starts UploadThread for `window`; false when the thread did not start.
    bool StartUploadThread(IUploadWindow* window);
    // Marks the kept listing as not loaded and starts FolderTreeThread.
    void StartFolderTreeThread();
    // Starts UpdateFolderTreeThread (the folder dialog's background refresh).
    void StartUpdateFolderTreeThread();
    // Starts PDFCheckThread (the Office check notice dialog).
    bool StartPDFCheckThread();

    // True while the last started upload thread has not ended.
    bool UploadRunning() const;

    // Waits, at most 32 attempts of 1000 ms, until the upload run has let go
    // of its semaphore; stops early when the window's transfer flag is 1.
    int SignalObjAndWait_UploadFile(IUploadWindow* window);
    // Waits without limit until the Office check has let go of its
    // semaphore, and until a check thread just started has ended (it may not
    // have taken the semaphore yet). Messages sent by other threads are
    // handled and the caller's windows repaint meanwhile.
    int SignalObjAndWait_PDFCheck();

    std::shared_ptr<fw::WorkerThread> m_pUpdateFolderTreeThread;
    std::shared_ptr<fw::WorkerThread> m_pFolderTreeThread;
    std::shared_ptr<fw::WorkerThread> m_pUploadThread;
    fw::Semaphore m_semUploadFile{1, 1};
    fw::Semaphore m_semPDFCheck{1, 1};

private:
    CThreadAgent();
    // The last started Office check, waited for by SignalObjAndWait_PDFCheck.
    std::shared_ptr<fw::WorkerThread> m_pPDFCheckThread;
    // The two process-wide single-locks, one on each semaphore.
    std::unique_ptr<fw::SingleLock> m_uploadLock;
    std::unique_ptr<fw::SingleLock> m_pdfCheckLock;
};
