#pragma once
// Starts the program's worker threads and owns the two semaphores by which
// other code tells whether an upload run or an Office check is running and
// waits for it. Nobody stops the threads from outside: the work reads the
// cancel flags itself.
#include "zinpost/engine/UploadWindow.h"

#include "framework/Sync.h"

#include <memory>

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
    // Marks the kept listing (CContentGroupCache) as not loaded and starts
    // FolderTreeThread.
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
