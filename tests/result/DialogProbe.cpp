#include "tests/result/DialogProbe.h"

namespace result_test {
namespace {

// How long one message to the dialog's thread may take.
constexpr UINT kSendTimeoutMs = 5000;
// Interval between two looks while waiting for a window to come or go.
constexpr DWORD kPollMs = 10;

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(kPollMs);
    }
}

bool Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR& result) {
    return SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result) != 0;
}

// Through messages: GetWindowText does not ask windows of other threads.
std::wstring WindowText(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!Send(hwnd, WM_GETTEXTLENGTH, 0, 0, length)) return std::wstring();
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!Send(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), copied)) return std::wstring();
    text.resize(copied);
    return text;
}

HFONT WindowFont(HWND hwnd, LOGFONTW& font) {
    DWORD_PTR handle = 0;
    if (!Send(hwnd, WM_GETFONT, 0, 0, handle) || !handle) return nullptr;
    const auto hfont = reinterpret_cast<HFONT>(handle);
    if (GetObjectW(hfont, sizeof font, &font) != sizeof font) font = LOGFONTW{};
    return hfont;
}

ControlSnapshot TakeControl(HWND dialog, HWND control) {
    ControlSnapshot snapshot;
    snapshot.id = GetDlgCtrlID(control);
    wchar_t className[64] = {};
    GetClassNameW(control, className, ARRAYSIZE(className));
    snapshot.className = className;
    snapshot.text = WindowText(control);
    snapshot.style = GetWindowLongW(control, GWL_STYLE);
    GetWindowRect(control, &snapshot.rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&snapshot.rect), 2);
    snapshot.fontHandle = WindowFont(control, snapshot.font);
    if (_wcsicmp(className, L"Static") == 0 && (snapshot.style & SS_TYPEMASK) == SS_ICON) {
        DWORD_PTR icon = 0;
        if (Send(control, STM_GETICON, 0, 0, icon)) snapshot.icon = reinterpret_cast<HICON>(icon);
    }
    return snapshot;
}

DialogSnapshot TakeDialog(HWND dialog) {
    DialogSnapshot snapshot;
    snapshot.hwnd = dialog;
    snapshot.owner = GetWindow(dialog, GW_OWNER);
    snapshot.ownerEnabled = snapshot.owner && IsWindowEnabled(snapshot.owner);
    snapshot.unicode = IsWindowUnicode(dialog) != FALSE;
    GetClientRect(dialog, &snapshot.client);
    RECT units{0, 0, 4, 8};
    if (MapDialogRect(dialog, &units)) snapshot.baseUnits = SIZE{units.right, units.bottom};
    WindowFont(dialog, snapshot.font);
    DWORD_PTR defId = 0;
    if (Send(dialog, DM_GETDEFID, 0, 0, defId) && HIWORD(defId) == DC_HASDEFID) snapshot.defaultId = LOWORD(defId);

    std::vector<HWND> children;
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM list) {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
    for (HWND child : children) snapshot.controls.push_back(TakeControl(dialog, child));
    return snapshot;
}

// Closes every window that `owner` owns: the way out when the expected dialog
// never showed but a modal run may still block its caller.
void CloseOwnedWindows(HWND owner) {
    EnumWindows(
        [](HWND hwnd, LPARAM ownerParam) {
            if (GetWindow(hwnd, GW_OWNER) == reinterpret_cast<HWND>(ownerParam)) PostMessageW(hwnd, WM_CLOSE, 0, 0);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(owner));
}

}  // namespace

const ControlSnapshot* DialogSnapshot::Control(int id) const {
    for (const ControlSnapshot& control : controls)
        if (control.id == id) return &control;
    return nullptr;
}

const ControlSnapshot* DialogSnapshot::ControlWithText(const std::wstring& text) const {
    for (const ControlSnapshot& control : controls)
        if (control.text == text) return &control;
    return nullptr;
}

SIZE DialogSnapshot::Pixels(int cx, int cy) const {
    return SIZE{MulDiv(cx, baseUnits.cx, 4), MulDiv(cy, baseUnits.cy, 8)};
}

DialogProbe::DialogProbe(ProbeOptions options) : m_options(std::move(options)), m_thread([this] { Run(); }) {}

DialogProbe::~DialogProbe() { Join(); }

void DialogProbe::Join() {
    if (m_thread.joinable()) m_thread.join();
}

void DialogProbe::Run() {
    HWND dialog = nullptr;
    // Shown means initialised: the modal run shows the dialog after WM_INITDIALOG.
    m_seen = WaitUntil(
        [&] {
            dialog = FindWindowW(L"#32770", m_options.title.c_str());
            return dialog && IsWindowVisible(dialog);
        },
        m_options.timeoutMs);
    if (!m_seen) {
        if (m_options.owner) CloseOwnedWindows(m_options.owner);
        return;
    }

    m_snapshot = TakeDialog(dialog);
    if (m_options.whileOpen) m_options.whileOpen(dialog);

    DWORD_PTR ignored = 0;
    if (m_options.pressId == 0)
        PostMessageW(dialog, WM_CLOSE, 0, 0);
    else if (HWND button = GetDlgItem(dialog, m_options.pressId))
        Send(button, BM_CLICK, 0, 0, ignored);
    m_closed = WaitUntil([&] { return !IsWindow(dialog); }, m_options.timeoutMs);
    if (!m_closed) PostMessageW(dialog, WM_CLOSE, 0, 0);
}

bool PumpMessagesUntil(HANDLE event, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        const DWORD wait =
            MsgWaitForMultipleObjects(1, &event, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) return true;
        if (wait != WAIT_OBJECT_0 + 1) return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

}  // namespace result_test
