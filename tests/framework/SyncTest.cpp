// The single lock shared by several threads, its wait that keeps a window
// thread answering, and the worker threads with their count and wait.
#include "framework/Sync.h"

#include "tests/support/JoiningThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

using testing_support::JoiningThread;

namespace {

TEST(SingleLock, AnotherThreadsFailedWaitLeavesTheHolderItsLock) {
    // A maximum of 2, so that a release too many would show in the count.
    fw::Semaphore semaphore(1, 2);
    fw::SingleLock lock(semaphore);
    ASSERT_TRUE(lock.Lock(0));
    EXPECT_TRUE(lock.IsLocked());
    bool otherLocked = true, otherUnlocked = false, otherHolds = true;
    JoiningThread([&] {
        otherLocked = lock.Lock(50);
        lock.Unlock();  // not the holder: releases nothing
        otherHolds = lock.IsLocked();
    }).join();
    EXPECT_FALSE(otherLocked);
    EXPECT_FALSE(otherHolds);
    EXPECT_TRUE(lock.IsLocked());
    // Still held: the semaphore's count did not go up.
    EXPECT_EQ(WaitForSingleObject(semaphore.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

    EXPECT_TRUE(lock.Unlock());
    EXPECT_FALSE(lock.IsLocked());
    lock.Unlock();  // released once only
    EXPECT_EQ(WaitForSingleObject(semaphore.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(semaphore.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ReleaseSemaphore(semaphore.get(), 1, nullptr);
    JoiningThread([&] {
        otherLocked = lock.Lock(0);
        otherUnlocked = lock.Unlock();
    }).join();
    EXPECT_TRUE(otherLocked);
    EXPECT_TRUE(otherUnlocked);
}

TEST(SingleLock, GoesWithItsObject) {
    fw::Semaphore semaphore(1, 1);
    {
        fw::SingleLock lock(semaphore);
        ASSERT_TRUE(lock.Lock(0));
    }
    EXPECT_EQ(WaitForSingleObject(semaphore.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
}

// While it waits, a thread that owns a window answers what other threads
// send it: here the holder lets go only once its message was answered.
TEST(SingleLock, AWindowThreadAnswersSentMessagesWhileItWaits) {
    HWND window = CreateWindowW(L"STATIC", L"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(window);
    fw::Semaphore semaphore(0, 1);  // held from the start
    fw::SingleLock lock(semaphore);
    std::atomic<bool> answered{false};
    JoiningThread holder(
        [&] {
            SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"answered"));
            answered = true;
            ReleaseSemaphore(semaphore.get(), 1, nullptr);
        },
        [&] { ReleaseSemaphore(semaphore.get(), 1, nullptr); });
    EXPECT_TRUE(lock.LockHandlingSentMessages(20000));
    EXPECT_TRUE(answered.load());
    holder.join();
    wchar_t text[16] = {};
    GetWindowTextW(window, text, 16);
    EXPECT_STREQ(text, L"answered");
    DestroyWindow(window);
}

unsigned WaitForEvent(void* event) {
    WaitForSingleObject(static_cast<HANDLE>(event), 60000);
    return 7;
}

unsigned Throw(void*) { throw std::runtime_error("a worker's failure"); }

TEST(WorkerThreads, AreCountedUntilTheirFunctionReturns) {
    ASSERT_EQ(fw::RunningWorkerThreads(), 0);
    fw::UniqueKernelHandle go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const auto worker = fw::BeginWorkerThread(WaitForEvent, go.get());
    ASSERT_TRUE(worker);
    EXPECT_EQ(fw::RunningWorkerThreads(), 1);
    EXPECT_FALSE(fw::WaitForWorkerThreads(50));
    SetEvent(go.get());
    EXPECT_TRUE(fw::WaitForWorkerThreads(20000));
    EXPECT_EQ(fw::RunningWorkerThreads(), 0);
    ASSERT_EQ(WaitForSingleObject(worker->handle.get(), 20000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 0;
    GetExitCodeThread(worker->handle.get(), &code);
    EXPECT_EQ(code, 7u);
}

// An exception a worker lets out ends that thread, not the process.
TEST(WorkerThreads, AnEscapingExceptionEndsOnlyItsThread) {
    const auto worker = fw::BeginWorkerThread(Throw, nullptr);
    ASSERT_TRUE(worker);
    ASSERT_EQ(WaitForSingleObject(worker->handle.get(), 20000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 0;
    GetExitCodeThread(worker->handle.get(), &code);
    EXPECT_EQ(code, fw::kWorkerEndedByException);
    EXPECT_TRUE(fw::WaitForWorkerThreads(20000));
}

}  // namespace
