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

// Waits on a semaphore and remembers whether the last wait acquired it. One
// lock object may be shared by several threads: its acquired flag is then
// that of the most recent Lock call, whoever made it.
class SingleLock {
public:
    explicit SingleLock(const Semaphore& semaphore) : m_semaphore(semaphore.get()) {}
    ~SingleLock() { Unlock(); }
    SingleLock(const SingleLock&) = delete;
    SingleLock& operator=(const SingleLock&) = delete;

    // Waits at most `timeout` ms; true when the object was acquired.
    bool Lock(DWORD timeout = INFINITE);
    // The same for a thread that owns windows: messages other threads send to
    // them are handled meanwhile, so a worker updating a control cannot be
    // stuck behind the wait. Posted messages and input stay queued.
    bool LockHandlingSentMessages(DWORD timeout);
    // Releases the object only when the lock holds it.
    bool Unlock();
    bool IsLocked() const { return m_acquired.load(); }

private:
    HANDLE m_semaphore;
    std::atomic<bool> m_acquired{false};
};

// A started worker thread. The thread runs on its own; the object only keeps
// its handle and id for whoever wants to know.
struct WorkerThread {
    UniqueKernelHandle handle;
    DWORD id = 0;
};
using ThreadFunction = unsigned (*)(void* param);

// Starts `function(param)` at once with the default stack; null on failure.
std::shared_ptr<WorkerThread> BeginWorkerThread(ThreadFunction function, void* param,
                                                int priority = THREAD_PRIORITY_NORMAL);

}  // namespace fw
