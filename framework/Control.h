#pragma once
// A control of a dialog bound to a C++ object through window subclassing, so
// that the object sees the control's messages before the control does.
#include <windows.h>

namespace fw {

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
