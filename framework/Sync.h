#pragma once
// Counting semaphores, a single-lock on a wait object, and worker threads.
#include "WinHandle.h"

#include <atomic>
#include <memory>

namespace fw {

class Semaphore {
public:
    Semaphore(LONG initialCount, LONG maximumCount)
        : m_handle(CreateSemaphoreW(nullptr, initialCount, maximumCount, nullptr)) {}
    HANDLE get() const { return m_handle.get(); }
    explicit operator bool() const { return static_cast<bool>(m_handle); }

private:
    UniqueKernelHandle m_handle;
};

// Waits on a semaphore (of maximum count 1) and remembers which thread holds
// it. One lock object is shared by several threads: a wait of one thread that
// gives up must not make the holder's own unlock forget to release.
class SingleLock {
public:
    explicit SingleLock(const Semaphore& semaphore) : m_semaphore(semaphore.get()) {}
    ~SingleLock() { Unlock(); }
    SingleLock(const SingleLock&) = delete;
    SingleLock& operator=(const SingleLock&) = delete;

    // Waits at most `timeout` ms; true when the object was acquired.
    bool Lock(DWORD timeout = INFINITE);
    // The same for a thread that owns windows: messages other threads send to
    // them are handled and its windows repaint meanwhile, so a worker
    // updating a control cannot be stuck behind the wait and a window waiting
    // for seconds does not freeze on screen. Posted messages and input stay
    // queued. `timeout` may be INFINITE.
    bool LockHandlingSentMessages(DWORD timeout);
    // Releases the semaphore only when the calling thread holds it.
    bool Unlock();
    // Whether the calling thread holds the semaphore.
    bool IsLocked() const { return m_owner.load() == GetCurrentThreadId(); }

private:
    HANDLE m_semaphore;
    std::atomic<DWORD> m_owner{0};  // thread id of the holder, 0 when free
};

// Waits for `handle` like SingleLock::LockHandlingSentMessages: sent messages
// are handled and the calling thread's windows repaint meanwhile. Returns
// WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
DWORD WaitHandlingSentMessages(HANDLE handle, DWORD timeout);

// A started worker thread. The thread runs on its own; the object only keeps
// its handle and id for whoever wants to know.
struct WorkerThread {
    UniqueKernelHandle handle;
    DWORD id = 0;
};
using ThreadFunction = unsigned (*)(void* param);
// A worker's exit code when its function let an exception out: the thread
// ends normally instead of taking the process with it.
constexpr unsigned kWorkerEndedByException = 0xE0000F00u;

// Starts `function(param)` at once with the default stack; null on failure.
std::shared_ptr<WorkerThread> BeginWorkerThread(ThreadFunction function, void* param,
                                                int priority = THREAD_PRIORITY_NORMAL);
// Worker threads started above whose function has not returned yet.
int RunningWorkerThreads();
// Waits at most `timeoutMs` until no worker thread runs; true when none does.
bool WaitForWorkerThreads(DWORD timeoutMs);

}  // namespace fw
