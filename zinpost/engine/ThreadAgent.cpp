#include "zinpost/engine/ThreadAgent.h"

#include "zinpost/engine/ContentGroupCache.h"
#include "zinpost/engine/Log.h"
#include "zinpost/engine/OfficePDF.h"

#include <mutex>

namespace {

constexpr DWORD kCloseWaitStep = 1000;  // ms per attempt
constexpr int kCloseWaitRetries = 31;   // after the first attempt: 32 in all

int ThreadId() { return static_cast<int>(GetCurrentThreadId()); }

}  // namespace

CThreadAgent* CThreadAgent::GetInstance() {
    // Destroyed at process exit, in reverse order of creation with the
    // other process-wide objects.
    static const std::unique_ptr<CThreadAgent> instance(new CThreadAgent());
    return instance->m_uploadLock ? instance.get() : nullptr;
}

CThreadAgent::CThreadAgent() {
    if (m_semUploadFile && m_semPDFCheck) {
        m_uploadLock = std::make_unique<fw::SingleLock>(m_semUploadFile);
        m_pdfCheckLock = std::make_unique<fw::SingleLock>(m_semPDFCheck);
    }
}

CThreadAgent::~CThreadAgent() {
    LOG_WRITE(1, "~~~~CThreadAgent");
    m_uploadLock.reset();
    m_pdfCheckLock.reset();
    LOG_WRITE(1, "~~~~CThreadAgent end");
    // The semaphores go with the members, PDF check first.
}

unsigned CThreadAgent::UploadThread(void* param) {
    LOG_WRITE(1, "start   CThreadAgent::UploadThread[TID:%d]", ThreadId());
    CThreadAgent* agent = GetInstance();
    if (!agent) return 0;
    if (!agent->m_uploadLock->Lock()) LOG_WRITE(1, "Failed Lock UploadFile:[%lu]", GetLastError());
    try {
        static_cast<IUploadWindow*>(param)->UploadFunction();
    } catch (...) {
        LOG_WRITE(4, "Failed UploadThread:[%lu]", GetLastError());
    }
    if (agent->m_uploadLock->IsLocked()) {
        agent->m_uploadLock->Unlock();
    } else {
        agent->m_uploadLock->Unlock();
        LOG_WRITE(1, "Failed IsLocked UploadFile:[%lu]", GetLastError());
    }
    LOG_WRITE(1, "finished   CThreadAgent::UploadThread[TID:%d]", ThreadId());
    return 0;
}

unsigned CThreadAgent::PDFCheckThread(void* param) {
    LOG_WRITE(1, "PDFCheckThread");
    auto* agent = static_cast<CThreadAgent*>(param);
    const bool locked = agent->m_pdfCheckLock->Lock();
    LOG_WRITE(1, " End PDFCheckThread [%d]", locked ? 1 : 0);
    try {
        COfficePDF::GetInstance().checkEnableConverPDF();
    } catch (...) {
        LOG_WRITE(4, "Failed PDFCheckThread:[%lu]", GetLastError());
    }
    if (agent->m_pdfCheckLock->IsLocked()) agent->m_pdfCheckLock->Unlock();
    LOG_WRITE(1, " End PDFCheckThread [%d]", locked ? 1 : 0);
    return 0;
}

unsigned CThreadAgent::FolderTreeThread(void*) {
    LOG_WRITE(1, "        FolderTreeThread");
    try {
        std::string error;
        CContentGroupCache::GetInstance().GetGroupInfoTree(error);
    } catch (...) {
        LOG_WRITE(4, "Failed FolderTreeThread:[%lu]", GetLastError());
    }
    LOG_WRITE(1, "end     FolderTreeThread");
    return 0;
}

unsigned CThreadAgent::UpdateFolderTreeThread(void*) {
    LOG_WRITE(1, "        UpdateFolderTreeThread");
    try {
        CContentGroupCache::GetInstance().BackGroundUpdateInfoTree();
    } catch (...) {
        LOG_WRITE(4, "Failed UpdateFolderTreeThread:[%lu]", GetLastError());
    }
    LOG_WRITE(1, "end     UpdateFolderTreeThread");
    return 0;
}

bool CThreadAgent::StartUploadThread(IUploadWindow* window) {
    m_pUploadThread = fw::BeginWorkerThread(UploadThread, window);
    return m_pUploadThread != nullptr;
}

bool CThreadAgent::UploadRunning() const {
    return m_pUploadThread && WaitForSingleObject(m_pUploadThread->handle.get(), 0) == WAIT_TIMEOUT;
}

void CThreadAgent::StartFolderTreeThread() {
    CContentGroupCache::GetInstance().SetLoaded(0);
    m_pFolderTreeThread = fw::BeginWorkerThread(FolderTreeThread, this);
}

void CThreadAgent::StartUpdateFolderTreeThread() {
    m_pUpdateFolderTreeThread = fw::BeginWorkerThread(UpdateFolderTreeThread, this);
}

bool CThreadAgent::StartPDFCheckThread() {
    m_pPDFCheckThread = fw::BeginWorkerThread(PDFCheckThread, this);
    return m_pPDFCheckThread != nullptr;
}

int CThreadAgent::SignalObjAndWait_UploadFile(IUploadWindow* window) {
    LOG_WRITE(1, "Start Waiting WaitForSingleObject UploadFile[%d]", ThreadId());
    // Called on the user-interface thread: the run's control updates are
    // handled during the wait, so the run can reach its end.
    bool locked = m_uploadLock->LockHandlingSentMessages(kCloseWaitStep);
    LOG_WRITE(1, "while WaitForSingleObject UploadFile[%d]:%d", ThreadId(), locked ? 1 : 0);
    for (int retries = 0; !locked; ++retries) {
        if (window->TransferFlag() == 1 || retries >= kCloseWaitRetries) break;
        locked = m_uploadLock->LockHandlingSentMessages(kCloseWaitStep);
        LOG_WRITE(1, "while WaitForSingleObject UploadFile[%d]:%d", ThreadId(), locked ? 1 : 0);
    }
    if (m_uploadLock->IsLocked()) m_uploadLock->Unlock();
    LOG_WRITE(1, "Finished Waiting WaitForSingleObject UploadFile[%d]", ThreadId());
    return 1;
}

int CThreadAgent::SignalObjAndWait_PDFCheck() {
    LOG_WRITE(1, "Start Waiting WaitForSingleObject PDFCheck[%d]", ThreadId());
    if (m_pPDFCheckThread) fw::WaitHandlingSentMessages(m_pPDFCheckThread->handle.get(), INFINITE);
    const bool locked = m_pdfCheckLock->LockHandlingSentMessages(INFINITE);
    LOG_WRITE(1, "while WaitForSingleObject PDFCheck[%d]:%d", ThreadId(), locked ? 1 : 0);
    if (m_pdfCheckLock->IsLocked()) m_pdfCheckLock->Unlock();
    LOG_WRITE(1, "Finished Waiting WaitForSingleObject PDFCheck[%d]", ThreadId());
    return 1;
}
