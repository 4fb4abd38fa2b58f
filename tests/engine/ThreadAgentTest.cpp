// The worker-thread agent: the upload thread holds its semaphore for a whole
// run, and the window's close waits for it within its bounds.
#include "zinpost/engine/ThreadAgent.h"

#include "tests/support/WindowDriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// A window whose run lasts until the test lets it end.
class FakeWindow : public IUploadWindow {
public:
    FakeWindow() : m_release(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~FakeWindow() override { CloseHandle(m_release); }
    void UploadFunction() override {
        running = true;
        WaitForSingleObject(m_release, 60000);
        transfer = 1;  // as at the end of a run
        running = false;
    }
    int TransferFlag() const override { return transfer; }
    void Release() { SetEvent(m_release); }

    std::atomic<bool> running{false};
    volatile int transfer = 0;

private:
    HANDLE m_release;
};

ULONGLONG Elapsed(ULONGLONG since) { return GetTickCount64() - since; }

TEST(ThreadAgent, WaitWithoutARunReturnsAtOnce) {
    CThreadAgent* agent = CThreadAgent::GetInstance();
    ASSERT_TRUE(agent);
    FakeWindow window;
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(agent->SignalObjAndWait_UploadFile(&window), 1);
    EXPECT_LT(Elapsed(start), 900u);
    EXPECT_EQ(agent->SignalObjAndWait_PDFCheck(), 1);
    EXPECT_FALSE(agent->UploadRunning());
}

TEST(ThreadAgent, CloseWaitsForARunThatIsNotTransferring) {
    CThreadAgent* agent = CThreadAgent::GetInstance();
    FakeWindow window;
    ASSERT_TRUE(agent->StartUploadThread(&window));
    ASSERT_TRUE(testing_support::WaitFor([&] { return window.running.load(); }, 10000));
    EXPECT_TRUE(agent->UploadRunning());
    // The run ends after about 1.5 s; the wait lasts until it lets go.
    std::thread release([&] {
        Sleep(1500);
        window.Release();
    });
    const ULONGLONG start = GetTickCount64();
    agent->SignalObjAndWait_UploadFile(&window);
    const ULONGLONG waited = Elapsed(start);
    release.join();
    EXPECT_GE(waited, 1400u);
    EXPECT_LT(waited, 10000u);
    ASSERT_TRUE(testing_support::WaitFor([&] { return !agent->UploadRunning(); }, 10000));
    // The semaphore is free again: the next wait returns at once.
    const ULONGLONG again = GetTickCount64();
    agent->SignalObjAndWait_UploadFile(&window);
    EXPECT_LT(Elapsed(again), 900u);
}

TEST(ThreadAgent, CloseStopsWaitingWhileDataIsTransferred) {
    CThreadAgent* agent = CThreadAgent::GetInstance();
    FakeWindow window;
    window.transfer = 1;
    ASSERT_TRUE(agent->StartUploadThread(&window));
    ASSERT_TRUE(testing_support::WaitFor([&] { return window.running.load(); }, 10000));
    const ULONGLONG start = GetTickCount64();
    agent->SignalObjAndWait_UploadFile(&window);
    const ULONGLONG waited = Elapsed(start);
    EXPECT_GE(waited, 900u);   // one attempt of 1000 ms
    EXPECT_LT(waited, 1900u);  // and no second one
    EXPECT_TRUE(window.running.load());
    window.Release();
    ASSERT_TRUE(testing_support::WaitFor([&] { return !agent->UploadRunning(); }, 10000));
    // The waits that gave up did not keep the run from letting go.
    window.transfer = 0;
    const ULONGLONG again = GetTickCount64();
    agent->SignalObjAndWait_UploadFile(&window);
    EXPECT_LT(Elapsed(again), 900u);
}

}  // namespace
