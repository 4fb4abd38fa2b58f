#include "Control.h"

#include <commctrl.h>

#include <memory>

namespace fw {
namespace {

// Marks a window as bound to a Control, so another thread may post it texts.
const wchar_t kBoundProperty[] = L"fw.Control";
// Carries a text (a std::wstring the receiver deletes) to a bound control.
constexpr UINT kPostedText = WM_APP + 0x3F01;

void DropPostedTexts(HWND hwnd) {
    MSG msg;
    while (PeekMessageW(&msg, hwnd, kPostedText, kPostedText, PM_REMOVE))
        delete reinterpret_cast<std::wstring*>(msg.lParam);
}

}  // namespace

void SetControlTextAsync(HWND control, const std::wstring& text) {
    if (!control) return;
    if (GetWindowThreadProcessId(control, nullptr) != GetCurrentThreadId() && GetPropW(control, kBoundProperty)) {
        auto* copy = new std::wstring(text);
        if (PostMessageW(control, kPostedText, 0, reinterpret_cast<LPARAM>(copy))) return;
        delete copy;
    }
    SetWindowTextW(control, text.c_str());
}

void SendWithoutWaiting(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
        SendMessageW(window, message, wParam, lParam);
    else
        PostMessageW(window, message, wParam, lParam);
}

bool Control::Attach(HWND dialog, int id) {
    Detach();
    HWND hwnd = GetDlgItem(dialog, id);
    if (!hwnd || !SetWindowSubclass(hwnd, SubclassProc, reinterpret_cast<UINT_PTR>(this),
                                    reinterpret_cast<DWORD_PTR>(this)))
        return false;
    m_hwnd = hwnd;
    SetPropW(hwnd, kBoundProperty, reinterpret_cast<HANDLE>(this));
    return true;
}

void Control::Detach() {
    if (!m_hwnd) return;
    RemovePropW(m_hwnd, kBoundProperty);
    DropPostedTexts(m_hwnd);
    RemoveWindowSubclass(m_hwnd, SubclassProc, reinterpret_cast<UINT_PTR>(this));
    m_hwnd = nullptr;
}

bool Control::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

LRESULT CALLBACK Control::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR data) {
    auto* self = reinterpret_cast<Control*>(data);
    if (message == kPostedText) {
        const std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lParam));
        // Through the window's own WM_SETTEXT, so the control sees it as any text.
        SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text->c_str()));
        return 0;
    }
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
