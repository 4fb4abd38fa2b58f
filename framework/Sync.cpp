#include "Sync.h"

#include <process.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace fw {

bool SingleLock::Lock(DWORD timeout) {
    const bool acquired = WaitForSingleObject(m_semaphore, timeout) == WAIT_OBJECT_0;
    if (acquired) m_owner.store(GetCurrentThreadId());
    return acquired;
}

bool SingleLock::LockHandlingSentMessages(DWORD timeout) {
    const bool acquired = WaitHandlingSentMessages(m_semaphore, timeout) == WAIT_OBJECT_0;
    if (acquired) m_owner.store(GetCurrentThreadId());
    return acquired;
}

DWORD WaitHandlingSentMessages(HANDLE handle, DWORD timeout) {
    const ULONGLONG deadline = GetTickCount64() + timeout;
    for (;;) {
        DWORD remaining = INFINITE;
        if (timeout != INFINITE) {
            const ULONGLONG now = GetTickCount64();
            remaining = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        }
        const DWORD wait = MsgWaitForMultipleObjects(1, &handle, FALSE, remaining, QS_SENDMESSAGE | QS_PAINT);
        if (wait == WAIT_OBJECT_0 + 1 && remaining > 0) {
            // Peeking handles the sent messages; only paint messages are
            // taken from the queue, so input waits for the end of the wait.
            MSG msg;
            while (PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) DispatchMessageW(&msg);
            continue;
        }
        if (wait == WAIT_OBJECT_0 + 1) return WAIT_TIMEOUT;
        return wait;
    }
}

bool SingleLock::Unlock() {
    DWORD self = GetCurrentThreadId();
    if (!m_owner.compare_exchange_strong(self, 0)) return true;  // not ours: nothing to release
    return ReleaseSemaphore(m_semaphore, 1, nullptr) != FALSE;
}

namespace {
struct StartRecord {
    ThreadFunction function;
    void* param;
};

std::atomic<int> g_runningWorkers{0};
// Told whenever a worker ends, for WaitForWorkerThreads.
std::mutex g_workersMutex;
std::condition_variable g_workerEnded;

unsigned __stdcall ThreadEntry(void* raw) {
    std::unique_ptr<StartRecord> start(static_cast<StartRecord*>(raw));
    struct Running {
        ~Running() {
            const std::lock_guard<std::mutex> lock(g_workersMutex);
            --g_runningWorkers;
            g_workerEnded.notify_all();
        }
    } running;
    try {
        return start->function(start->param);
    } catch (...) {
        return kWorkerEndedByException;
    }
}
}  // namespace

int RunningWorkerThreads() { return g_runningWorkers.load(); }

bool WaitForWorkerThreads(DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(g_workersMutex);
    return g_workerEnded.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [] { return g_runningWorkers.load() == 0; });
}

std::shared_ptr<WorkerThread> BeginWorkerThread(ThreadFunction function, void* param, int priority) {
    auto start = std::make_unique<StartRecord>(StartRecord{function, param});
    auto thread = std::make_shared<WorkerThread>();
    unsigned id = 0;
    // Counted from here: a thread counts as running until its function returns.
    ++g_runningWorkers;
    const uintptr_t h = _beginthreadex(nullptr, 0, ThreadEntry, start.get(), CREATE_SUSPENDED, &id);
    if (!h) {
        --g_runningWorkers;
        return nullptr;
    }
    start.release();  // now owned by the thread
    thread->handle.reset(reinterpret_cast<HANDLE>(h));
    thread->id = id;
    SetThreadPriority(thread->handle.get(), priority);
    ResumeThread(thread->handle.get());
    return thread;
}

}  // namespace fw
