// The worker-thread agent: the upload thread holds its semaphore for a whole
// run, and the window's close waits for it within its bounds.
#include "zinpost/engine/ThreadAgent.h"

#include "tests/support/JoiningThread.h"
#include "tools/driver/WindowDriver.h"

#include "framework/WinHandle.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

// A window whose run lasts until the test lets it end. The close's wait
// asks for the transfer flag after every attempt that did not get the
// semaphore: the count of those questions tells how often it waited.
class FakeWindow : public IUploadWindow {
public:
    FakeWindow() : m_release(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    // A test that returns early must not leave the agent's thread running on
    // a window that is gone.
    ~FakeWindow() override {
        Release();
        testing_support::WaitFor([] { return !CThreadAgent::GetInstance()->UploadRunning(); }, 60000);
    }
    void UploadFunction() override {
        running = true;
        WaitForSingleObject(m_release.get(), 60000);
        transfer = 1;  // as at the end of a run
        running = false;
    }
    int TransferFlag() const override {
        ++asked;
        return transfer;
    }
    void Release() { SetEvent(m_release.get()); }

    std::atomic<bool> running{false};
    std::atomic<int> transfer{0};
    mutable std::atomic<int> asked{0};

private:
    fw::UniqueKernelHandle m_release;
};

TEST(ThreadAgent, WaitWithoutARunReturnsAtOnce) {
    CThreadAgent* agent = CThreadAgent::GetInstance();
    ASSERT_TRUE(agent);
    FakeWindow window;
    EXPECT_EQ(agent->SignalObjAndWait_UploadFile(&window), 1);
    EXPECT_EQ(window.asked.load(), 0);  // the first attempt got the semaphore
    EXPECT_EQ(agent->SignalObjAndWait_PDFCheck(), 1);
    EXPECT_FALSE(agent->UploadRunning());
}

TEST(ThreadAgent, CloseWaitsForARunThatIsNotTransferring) {
    CThreadAgent* agent = CThreadAgent::GetInstance();
    FakeWindow window;
    ASSERT_TRUE(agent->StartUploadThread(&window));
    ASSERT_TRUE(testing_support::WaitFor([&] { return window.running.load(); }, 10000));
    EXPECT_TRUE(agent->UploadRunning());
    // The run ends only once the wait has given up an attempt and gone on.
    testing_support::JoiningThread release(
        [&] {
            testing_support::WaitFor([&] { return window.asked.load() >= 1; }, 60000);
            window.Release();
        },
        [&] { window.Release(); });
    EXPECT_EQ(agent->SignalObjAndWait_UploadFile(&window), 1);
    release.join();
    // It went on until the run let go, not until it ran out of attempts.
    EXPECT_FALSE(window.running.load());
    EXPECT_GE(window.asked.load(), 1);
    EXPECT_LT(window.asked.load(), 32);
    ASSERT_TRUE(testing_support::WaitFor([&] { return !agent->UploadRunning(); }, 10000));
    // The semaphore is free again: the next wait gets it at once.
    window.asked = 0;
    agent->SignalObjAndWait_UploadFile(&window);
    EXPECT_EQ(window.asked.load(), 0);
}

TEST(ThreadAgent, CloseStopsWaitingWhileDataIsTransferred) {
    CThreadAgent* agent = CThreadAgent::GetInstance();
    FakeWindow window;
    window.transfer = 1;
    ASSERT_TRUE(agent->StartUploadThread(&window));
    ASSERT_TRUE(testing_support::WaitFor([&] { return window.running.load(); }, 10000));
    agent->SignalObjAndWait_UploadFile(&window);
    // One attempt, then the transfer flag ended the wait; the run goes on.
    EXPECT_EQ(window.asked.load(), 1);
    EXPECT_TRUE(window.running.load());
    window.Release();
    ASSERT_TRUE(testing_support::WaitFor([&] { return !agent->UploadRunning(); }, 10000));
    // The waits that gave up did not keep the run from letting go.
    window.transfer = 0;
    window.asked = 0;
    agent->SignalObjAndWait_UploadFile(&window);
    EXPECT_EQ(window.asked.load(), 0);
}

}  // namespace
