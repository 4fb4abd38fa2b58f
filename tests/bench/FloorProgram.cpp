// The floor of scripts/bench-program.sh: the least a Windows program with a
// window does under the same system. Creates one window, shows it, lets it
// paint and ends. With "nowindow" it ends at once.
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    if (commandLine && std::wcsstr(commandLine, L"nowindow")) return 0;
    HWND window = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"floor", WS_POPUP | WS_CAPTION | WS_VISIBLE, 100, 100,
                                  200, 200, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    UpdateWindow(window);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    DestroyWindow(window);
    return 0;
}
