#include "tools/driver/WindowDriver.h"

#include "framework/WinHandle.h"


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

void TypeInto(HWND dialog, int id, const std::wstring& text) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL,
                        10000, &ignored);
}

HTREEITEM FirstGrandchild(HWND tree) {
    const auto next = [tree](HTREEITEM item, WPARAM how) {
        DWORD_PTR found = 0;
        SendMessageTimeoutW(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item), SMTO_NORMAL, 5000, &found);
        return reinterpret_cast<HTREEITEM>(found);
    };
    for (HTREEITEM root = next(nullptr, TVGN_ROOT); root; root = next(root, TVGN_NEXT))
        for (HTREEITEM child = next(root, TVGN_CHILD); child; child = next(child, TVGN_NEXT))
            if (HTREEITEM grandchild = next(child, TVGN_CHILD)) return grandchild;
    return nullptr;
}

std::wstring MessageBoxText(HWND box) {
    std::wstring best;
    EnumChildWindows(box, LongestStatic, reinterpret_cast<LPARAM>(&best));
    return best;
}

namespace {

// The desktop as the windows have painted it, as a 24-bit BMP file. Taken
// from the windows' own painting rather than from the X display: Wine hands
// the painting of windows owned by several threads on to X late.
bool SaveDesktopBitmap(const std::wstring& bmpPath) {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    if (!screen) return false;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as BMP files keep it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    fw::UniqueGdiObject bitmap(CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    fw::UniqueHdc memory(CreateCompatibleDC(screen));
    bool copied = false;
    if (bitmap && memory) {
        const HGDIOBJ old = SelectObject(memory.get(), bitmap.get());
        copied = BitBlt(memory.get(), 0, 0, width, height, screen, 0, 0, SRCCOPY) != FALSE;
        SelectObject(memory.get(), old);
        GdiFlush();
    }
    ReleaseDC(nullptr, screen);
    if (!copied) return false;

    const DWORD imageSize = static_cast<DWORD>(((width * 3 + 3) & ~3) * height);
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof header + sizeof info.bmiHeader;
    header.bfSize = header.bfOffBits + imageSize;
    fw::UniqueFile file(CreateFileW(bmpPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return WriteFile(file.get(), &header, sizeof header, &written, nullptr) &&
           WriteFile(file.get(), &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) &&
           WriteFile(file.get(), bits, imageSize, &written, nullptr);
}

}  // namespace

bool SaveScreenshot(const std::wstring& bmpPath) { return SaveDesktopBitmap(bmpPath); }

}  // namespace testing_support
