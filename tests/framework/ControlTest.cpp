// Texts set on a bound control from a worker: the worker does not wait for
// the window's thread, and the texts arrive in the order they were set.
#include "framework/Control.h"
#include "framework/WinHandle.h"

#include "tests/support/JoiningThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

using testing_support::JoiningThread;

namespace {

constexpr int kEditId = 100;

// Records every text the control is given.
class RecordingControl : public fw::Control {
public:
    std::vector<std::wstring> texts;

protected:
    bool OnMessage(UINT message, WPARAM, LPARAM lParam, LRESULT&) override {
        if (message == WM_SETTEXT) texts.push_back(reinterpret_cast<const wchar_t*>(lParam));
        return false;
    }
};

TEST(SetControlTextAsync, AWorkerDoesNotWaitAndTheTextsKeepTheirOrder) {
    fw::UniqueKernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    fw::UniqueKernelHandle set(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<HWND> edit{nullptr};
    DWORD waitedForTheWorker = WAIT_FAILED;
    std::wstring ownText, afterPump;
    std::vector<std::wstring> texts;
    JoiningThread ui(
        [&] {
            HWND parent = CreateWindowW(L"STATIC", L"", 0, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
            CreateWindowW(L"EDIT", L"", WS_CHILD, 0, 0, 100, 20, parent, reinterpret_cast<HMENU>(kEditId), nullptr,
                          nullptr);
            RecordingControl control;
            if (control.Attach(parent, kEditId)) edit = control.Hwnd();
            SetEvent(ready.get());
            // Not answering messages: a worker that waited for this thread
            // would not set the event.
            waitedForTheWorker = WaitForSingleObject(set.get(), 20000);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            wchar_t text[32] = {};
            GetWindowTextW(edit, text, 32);
            afterPump = text;
            // The owner's own call sets the text at once.
            fw::SetControlTextAsync(edit, L"own");
            GetWindowTextW(edit, text, 32);
            ownText = text;
            texts = control.texts;
            DestroyWindow(parent);
        },
        [&] { SetEvent(set.get()); });
    ASSERT_EQ(WaitForSingleObject(ready.get(), 20000), static_cast<DWORD>(WAIT_OBJECT_0));
    ASSERT_TRUE(edit.load());
    for (const wchar_t* text : {L"one", L"two", L"three"}) fw::SetControlTextAsync(edit, text);
    SetEvent(set.get());
    ui.join();
    EXPECT_EQ(waitedForTheWorker, static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(afterPump, L"three");
    EXPECT_EQ(ownText, L"own");
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"one", L"two", L"three", L"own"}));
}

}  // namespace
