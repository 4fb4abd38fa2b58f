#include "tests/support/WindowDriver.h"

#include "framework/WinHandle.h"

#include <cstdlib>

namespace testing_support {

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(20);
    }
}

namespace {
struct FindContext {
    std::wstring caption;
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM param) {
    auto* context = reinterpret_cast<FindContext*>(param);
    if (!IsWindowVisible(hwnd)) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (context->pid && pid != context->pid) return TRUE;
    if (WindowText(hwnd) == context->caption) context->found.push_back(hwnd);
    return TRUE;
}

BOOL CALLBACK LongestStatic(HWND hwnd, LPARAM param) {
    auto* best = reinterpret_cast<std::wstring*>(param);
    wchar_t className[32] = {};
    GetClassNameW(hwnd, className, 32);
    if (_wcsicmp(className, L"Static") == 0) {
        const std::wstring text = WindowText(hwnd);
        if (text.size() > best->size()) *best = text;
    }
    return TRUE;
}
}  // namespace

std::vector<HWND> FindWindowsByCaption(const std::wstring& caption, DWORD pid) {
    FindContext context{caption, pid, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&context));
    return context.found;
}

HWND WaitForWindow(const std::wstring& caption, DWORD pid, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitFor(
        [&] {
            const auto windows = FindWindowsByCaption(caption, pid);
            found = windows.empty() ? nullptr : windows.front();
            return found != nullptr;
        },
        timeoutMs);
    return found;
}

std::wstring WindowText(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return std::wstring();
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                             5000, &copied))
        return std::wstring();
    text.resize(copied);
    return text;
}

std::wstring ControlText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

bool ControlVisible(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control && (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE);
}

bool ControlEnabled(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control && IsWindowEnabled(control);
}

bool PressButton(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    if (!dialog || (!control && id != IDOK && id != IDCANCEL)) return false;
    return PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control)) != FALSE;
}

std::wstring MessageBoxText(HWND box) {
    std::wstring best;
    EnumChildWindows(box, LongestStatic, reinterpret_cast<LPARAM>(&best));
    return best;
}

bool TakeScreenshot(const std::string& pngPath) {
    const char* display = getenv("DISPLAY");
    if (!display) return false;
    // Wine starts Linux programs given by their Unix path.
    std::string command = "/usr/bin/import -display " + std::string(display) + " -window root " + pngPath;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    fw::UniqueKernelHandle process(info.hProcess);
    if (WaitForSingleObject(process.get(), 30000) != WAIT_OBJECT_0) return false;
    DWORD code = 1;
    GetExitCodeProcess(process.get(), &code);
    return code == 0;
}

}  // namespace testing_support
