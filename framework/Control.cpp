#include "Control.h"

#include <commctrl.h>

namespace fw {

bool Control::Attach(HWND dialog, int id) {
    Detach();
    HWND hwnd = GetDlgItem(dialog, id);
    if (!hwnd || !SetWindowSubclass(hwnd, SubclassProc, reinterpret_cast<UINT_PTR>(this),
                                    reinterpret_cast<DWORD_PTR>(this)))
        return false;
    m_hwnd = hwnd;
    return true;
}

void Control::Detach() {
    if (!m_hwnd) return;
    RemoveWindowSubclass(m_hwnd, SubclassProc, reinterpret_cast<UINT_PTR>(this));
    m_hwnd = nullptr;
}

bool Control::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

LRESULT CALLBACK Control::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR data) {
    auto* self = reinterpret_cast<Control*>(data);
    if (message == WM_NCDESTROY) {
        self->Detach();
        return DefSubclassProc(hwnd, message, wParam, lParam);
    }
    LRESULT result = 0;
    try {
        if (self->OnMessage(message, wParam, lParam, result)) return result;
    } catch (...) {
        // Nothing may escape into Windows; the control goes on as usual.
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

}  // namespace fw
