#pragma once
// A control of a dialog bound to a C++ object through window subclassing, so
// that the object sees the control's messages before the control does.
#include <windows.h>

#include <string>

namespace fw {

// Sets the text of a window without waiting for the thread that owns it: a
// control bound to a Control takes the text from a posted message; any other
// window (or one of the calling thread) gets it at once, the usual way.
// Texts set this way arrive in the order they were set.
void SetControlTextAsync(HWND control, const std::wstring& text);
// A message without pointers for a window, without waiting for another
// thread that owns it (posted); on the calling thread's own window it is
// handled at once.
void SendWithoutWaiting(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

class Control {
public:
    Control() = default;
    virtual ~Control() { Detach(); }
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    // Subclasses the dialog item `id` of `dialog`; false on failure.
    bool Attach(HWND dialog, int id);
    void Detach();
    HWND Hwnd() const { return m_hwnd; }

protected:
    // Return true when handled, with `result` as the message's result.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR data);
    HWND m_hwnd = nullptr;
};

}  // namespace fw
