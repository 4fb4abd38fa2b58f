// Stands in for zinpost when the extension starts "the program": appends its
// own command line, exactly as the system gives it, and a line break to the
// file named by ZINEXT_RECORD_FILE (UTF-16), one line per start.
#include <windows.h>

#include <string>

int main() {
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD length = GetEnvironmentVariableW(L"ZINEXT_RECORD_FILE", path, MAX_PATH * 2);
    if (length == 0 || length >= MAX_PATH * 2) return 2;
    const std::wstring record = std::wstring(GetCommandLineW()) + L"\n";
    // Several recorders may start at once: each waits for the file in turn.
    for (int attempt = 0; attempt < 500; ++attempt) {
        HANDLE file = CreateFileW(path, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() != ERROR_SHARING_VIOLATION) return 3;
            Sleep(10);
            continue;
        }
        DWORD written = 0;
        const DWORD size = static_cast<DWORD>(record.size() * sizeof(wchar_t));
        const BOOL ok = WriteFile(file, record.data(), size, &written, nullptr) && written == size;
        CloseHandle(file);
        return ok ? 0 : 4;
    }
    return 5;
}
