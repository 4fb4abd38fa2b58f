#include "Dialog.h"

#include "Text.h"

#include <cstring>
#include <memory>
#include <vector>

namespace fw {
namespace {
// Carries PostToWindowThread work (a heap std::function the dialog deletes).
constexpr UINT kPostedWork = WM_APP + 0x3F02;
using Work = std::function<void()>;
}  // namespace

Dialog::Dialog(UINT templateId, HINSTANCE module)
    : m_templateId(templateId), m_module(module ? module : GetModuleHandleW(nullptr)) {}

Dialog::~Dialog() {
    if (m_hwnd && !m_modal) DestroyWindow(m_hwnd);
}

INT_PTR Dialog::DoModal(HWND parent) {
    m_modal = true;
    m_ended = false;
    m_result = -1;
    // The owner stays disabled while the dialog runs, as with DialogBox.
    const bool disableParent = parent && IsWindowEnabled(parent);
    HWND hwnd = CreateFromTemplate(parent);
    if (!hwnd) return -1;
    if (disableParent) EnableWindow(parent, FALSE);
    if (!m_ended && !(GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE)) ShowWindow(hwnd, SW_SHOW);

    MSG msg;
    while (!m_ended) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop that owns the quit
            break;
        }
        if (PreTranslateMessage(msg) || IsDialogMessageW(hwnd, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    // Enable the owner before the dialog goes, so that it gets the activation back.
    if (disableParent) EnableWindow(parent, TRUE);
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
    return m_result;
}

HWND Dialog::Create(HWND parent) {
    m_modal = false;
    return CreateFromTemplate(parent);
}

HWND Dialog::CreateFromTemplate(HWND parent) {
    const LPARAM self = reinterpret_cast<LPARAM>(this);
    if (m_exStyleRemoved) {
        const HRSRC found = FindResourceW(m_module, MAKEINTRESOURCEW(m_templateId), MAKEINTRESOURCEW(5) /* RT_DIALOG */);
        const HGLOBAL loaded = found ? LoadResource(m_module, found) : nullptr;
        const auto* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
        const DWORD size = found ? SizeofResource(m_module, found) : 0;
        // An extended template starts with version 1 and 0xFFFF: its
        // extended style follows the help id; a plain one has it after the
        // style.
        if (data && size >= 16) {
            std::vector<BYTE> copy(data, data + size);
            const bool extended = copy[0] == 1 && copy[1] == 0 && copy[2] == 0xFF && copy[3] == 0xFF;
            DWORD exStyle = 0;
            BYTE* field = copy.data() + (extended ? 8 : 4);
            memcpy(&exStyle, field, sizeof exStyle);
            exStyle &= ~m_exStyleRemoved;
            memcpy(field, &exStyle, sizeof exStyle);
            return CreateDialogIndirectParamW(m_module, reinterpret_cast<const DLGTEMPLATE*>(copy.data()), parent,
                                              DialogProc, self);
        }
    }
    return CreateDialogParamW(m_module, MAKEINTRESOURCEW(m_templateId), parent, DialogProc, self);
}

void Dialog::EndDialog(INT_PTR result) {
    if (!m_hwnd) return;
    if (m_modal) {
        m_result = result;
        m_ended = true;
        PostMessageW(m_hwnd, WM_NULL, 0, 0);  // wakes the modal loop
    } else {
        DestroyWindow(m_hwnd);
    }
}

void Dialog::PostToWindowThread(std::function<void()> work) const {
    if (!m_hwnd || GetWindowThreadProcessId(m_hwnd, nullptr) == GetCurrentThreadId()) {
        if (m_hwnd) work();
        return;
    }
    auto* posted = new Work(std::move(work));
    if (!PostMessageW(m_hwnd, kPostedWork, 0, reinterpret_cast<LPARAM>(posted))) delete posted;
}

void Dialog::SetItemText(int id, const std::wstring& text) const { SetDlgItemTextW(m_hwnd, id, text.c_str()); }

void Dialog::SetItemTextAnsi(int id, const std::string& text) const { SetDlgItemTextA(m_hwnd, id, text.c_str()); }

std::wstring Dialog::ItemText(int id) const {
    HWND item = Item(id);
    const int length = GetWindowTextLengthW(item);
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    const int n = GetWindowTextW(item, buffer.data(), length + 1);
    return std::wstring(buffer.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

std::string Dialog::ItemTextAnsi(int id) const { return WideToAnsi(ItemText(id)); }

void Dialog::ShowItem(int id, bool show) const { ShowWindow(Item(id), show ? SW_SHOW : SW_HIDE); }

void Dialog::EnableItem(int id, bool enable) const { EnableWindow(Item(id), enable ? TRUE : FALSE); }

bool Dialog::OnCommand(WORD id, WORD, HWND) {
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

INT_PTR Dialog::OnMessage(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return FALSE;
}

void Dialog::OnUnexpectedException() { EndDialog(-1); }

INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        m_shown = false;
        return OnInitDialog();
    case kPostedWork: {
        const std::unique_ptr<Work> work(reinterpret_cast<Work*>(lParam));
        (*work)();
        return TRUE;
    }
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
    default: {
        if (message == WM_SHOWWINDOW && wParam && m_showMessage && !m_shown) {
            m_shown = true;
            PostMessageW(m_hwnd, m_showMessage, 0, 0);
        }
        if (m_showMessage && message == m_showMessage) {
            OnShown();
            return TRUE;
        }
        bool handled = false;
        const INT_PTR result = OnMessage(message, wParam, lParam, handled);
        return handled ? result : FALSE;
    }
    }
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        self->m_hwnd = hwnd;
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    } else {
        self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;

    INT_PTR result = FALSE;
    try {
        result = self->Dispatch(message, wParam, lParam);
    } catch (...) {
        self->OnUnexpectedException();
    }
    if (message == WM_NCDESTROY) {
        MSG queued;
        while (PeekMessageW(&queued, hwnd, kPostedWork, kPostedWork, PM_REMOVE))
            delete reinterpret_cast<Work*>(queued.lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->m_hwnd = nullptr;
    }
    return result;
}

}  // namespace fw
