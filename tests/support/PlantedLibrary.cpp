// Test equipment: a library planted where nothing may be loaded from (the
// current folder, the folder of the files being uploaded). Every load leaves
// a file beside it, "<its own path>.loaded", that the test looks for.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH + 16] = {};
    const DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return TRUE;
    lstrcatW(path, L".loaded");
    HANDLE marker = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    // Loaded: it does nothing else, so a caller fails as with no library.
    return TRUE;
}

// The names the program looks up, so a load of it would go on to a call.
extern "C" __declspec(dllexport) int ExDisplayResult() { return 0; }
extern "C" __declspec(dllexport) void* createQuillmorphInstance() { return nullptr; }
