#pragma once
// Runs one of the program's dialogs modally on a thread of its own, as on the
// program's user-interface thread, while the test drives it from outside the
// way a person would: texts typed into controls, buttons pressed, keys.
#include "tests/support/MessageBoxRecorder.h"

#include "framework/Dialog.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class ModalRun {
public:
    // Starts `dialog` modally with `owner` (may be null) and waits until it is
    // on screen or has ended.
    explicit ModalRun(fw::Dialog& dialog, HWND owner = nullptr);
    // Cancels a dialog still open and waits for its thread.
    ~ModalRun();
    ModalRun(const ModalRun&) = delete;
    ModalRun& operator=(const ModalRun&) = delete;

    HWND Hwnd() const { return m_dialog.Hwnd(); }
    bool Ended() const { return m_ended.load(); }
    // Waits for the end; the dialog's result, or -2 when it is still open.
    INT_PTR Wait(DWORD timeoutMs = 30000);

    // Replaces a control's text (a single-line edit notifies its dialog of
    // the change, as when the user types).
    void Type(int id, const std::wstring& text) const;
    std::wstring Text(int id) const;
    // A button click (posted, so a handler may open further dialogs).
    void Click(int id) const;
    // The key pressed while `id` has the focus (WM_KEYDOWN and WM_KEYUP).
    void Key(int id, WORD key) const;
    // The control that has the keyboard focus on the dialog's thread.
    int FocusId() const;

private:
    fw::Dialog& m_dialog;
    std::atomic<bool> m_ended{false};
    std::atomic<INT_PTR> m_result{-2};
    std::atomic<DWORD> m_threadId{0};
    std::thread m_thread;
};

// The message boxes shown, once at least `count` have been (or the time is up).
std::vector<RecordedBox> WaitForBoxes(size_t count = 1, DWORD timeoutMs = 20000);
// The program's string `id` (wide).
std::wstring Message(UINT id);
// The weight of the font a control draws with.
LONG FontWeight(HWND control);
// The text colour a dialog gives one of its static controls.
COLORREF StaticTextColor(HWND dialog, int id);

// Whether Tab walks the dialog's controls in reading order (top to bottom,
// left to right within a row); the walk is described in `order` for a
// failure message.
bool TabOrderFollowsLayout(HWND dialog, std::string& order);

// The top-level window of this process with `caption` that holds control
// `id`, appearing within `timeoutMs`; null if none.
HWND WaitForDialog(const std::wstring& caption, int id, DWORD timeoutMs = 30000);

}  // namespace testing_support
