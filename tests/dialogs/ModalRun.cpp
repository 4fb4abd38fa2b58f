#include "tests/dialogs/ModalRun.h"

#include "tools/driver/WindowDriver.h"

#include <vector>

namespace testing_support {

ModalRun::ModalRun(fw::Dialog& dialog, HWND owner) : m_dialog(dialog) {
    m_thread = std::thread([this, owner] {
        m_threadId = GetCurrentThreadId();
        m_result = m_dialog.DoModal(owner);
        m_ended = true;
    });
    WaitFor([this] { return m_ended.load() || (Hwnd() && IsWindowVisible(Hwnd())); }, 30000);
}

ModalRun::~ModalRun() {
    for (int attempt = 0; attempt < 50 && !m_ended; ++attempt) {
        // A message box or nested dialog of the run may be in the way: close
        // whatever the thread shows, newest first.
        if (HWND active = GetForegroundWindow(); active && active != Hwnd() &&
                                               GetWindowThreadProcessId(active, nullptr) == m_threadId)
            PostMessageW(active, WM_COMMAND, IDCANCEL, 0);
        if (HWND hwnd = Hwnd()) PostMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
        WaitFor([this] { return m_ended.load(); }, 200);
    }
    if (m_thread.joinable()) {
        if (m_ended)
            m_thread.join();
        else
            m_thread.detach();  // the process ends with the test run
    }
}

INT_PTR ModalRun::Wait(DWORD timeoutMs) {
    WaitFor([this] { return m_ended.load(); }, timeoutMs);
    return m_ended ? m_result.load() : -2;
}

void ModalRun::Type(int id, const std::wstring& text) const {
    SendMessageW(GetDlgItem(Hwnd(), id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring ModalRun::Text(int id) const { return ControlText(Hwnd(), id); }

void ModalRun::Click(int id) const { PressButton(Hwnd(), id); }

void ModalRun::Key(int id, WORD key) const {
    HWND control = GetDlgItem(Hwnd(), id);
    PostMessageW(control, WM_KEYDOWN, key, 1);
    PostMessageW(control, WM_KEYUP, key, 0xC0000001);
}

int ModalRun::FocusId() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(m_threadId, &info) || !info.hwndFocus) return 0;
    return GetDlgCtrlID(info.hwndFocus);
}

std::vector<RecordedBox> WaitForBoxes(size_t count, DWORD timeoutMs) {
    std::vector<RecordedBox> boxes;
    WaitFor(
        [&] {
            for (auto& box : TakeMessageBoxes()) boxes.push_back(box);
            return boxes.size() >= count;
        },
        timeoutMs);
    return boxes;
}

std::wstring Message(UINT id) {
    wchar_t* text = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<wchar_t*>(&text), 0);
    return std::wstring(text, length > 0 ? static_cast<size_t>(length) : 0);
}

LONG FontWeight(HWND control) {
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font.lfWeight;
}

COLORREF StaticTextColor(HWND dialog, int id) {
    HDC dc = CreateCompatibleDC(nullptr);
    SetTextColor(dc, RGB(1, 2, 3));
    SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    const COLORREF color = GetTextColor(dc);
    DeleteDC(dc);
    return color;
}

bool TabOrderFollowsLayout(HWND dialog, std::string& order) {
    HWND first = GetNextDlgTabItem(dialog, nullptr, FALSE);
    RECT previous{};
    bool inOrder = true;
    int count = 0;
    for (HWND control = first; control && count < 100; ++count) {
        RECT rc{};
        GetWindowRect(control, &rc);
        order += std::to_string(GetDlgCtrlID(control)) + "@" + std::to_string(rc.left) + "," + std::to_string(rc.top) + " ";
        if (count > 0) {
            // A row is what shares most of its height with the previous control.
            const bool sameRow = rc.top < previous.bottom - 4 && rc.bottom > previous.top + 4;
            if (sameRow ? rc.left <= previous.left : rc.top < previous.top) inOrder = false;
        }
        previous = rc;
        control = GetNextDlgTabItem(dialog, control, FALSE);
        if (control == first) break;
    }
    return inOrder && count > 1;
}

namespace {
struct DialogSearch {
    std::wstring caption;
    int id;
    HWND found = nullptr;
};

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(hwnd) || !GetDlgItem(hwnd, search->id)) return TRUE;
    if (WindowText(hwnd) != search->caption) return TRUE;
    search->found = hwnd;
    return FALSE;
}
}  // namespace

HWND WaitForDialog(const std::wstring& caption, int id, DWORD timeoutMs) {
    DialogSearch search{caption, id};
    WaitFor(
        [&] {
            search.found = nullptr;
            EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeoutMs);
    return search.found;
}

}  // namespace testing_support
