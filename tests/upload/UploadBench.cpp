// The client side of the upload benchmark (scripts/bench-upload.sh; not a
// test): logs in to a server, uploads one file with
// CTessalyWebAPI::UploadContentFile the way the program does (the progress
// bar and the file-name display on a window thread, the upload on a worker
// thread) and prints the upload's time and the process's peak working set.
//
//   upload_bench.exe <server url> <user> <password> <file>
//
// Prints "seconds=<s> peak_working_set=<bytes> result=<text>"; exit code 0
// when the server accepted the file.
#include "zinpost/engine/AppSettings.h"
#include "common/SettingsNames.h"
#include "zinpost/engine/TessalyWebAPI.h"

#include "framework/Profile.h"
#include "framework/Text.h"

#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <shellapi.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>

namespace {

constexpr UINT kUploadFinished = WM_APP + 1;

struct Run {
    std::wstring file;
    HWND window = nullptr;
    HWND bar = nullptr;
    HWND display = nullptr;
    std::atomic<int> transferFlag{0};
    std::atomic<int> cancelFlag{0};
    double seconds = 0;
    std::string result;
    bool accepted = false;
};

void Upload(Run& run) {
    CTessalyWebAPI api;
    InternetSessionHolder session;
    HttpConnectionHolder connection;
    std::string message;
    if (!api.AuthUserLogin(session, &message, connection)) {
        run.result = "login failed: " + message;
    } else {
        UploadParams params;
        params.folder = 1;
        params.encrypt = 0;
        params.deleteDays = -1;
        params.title = L"bench";
        params.path = run.file;
        UploadProgressContext progress;
        progress.progressBar = run.bar;
        progress.fileNameDisplay = run.display;
        progress.transferFlag = &run.transferFlag;
        progress.cancelFlag = &run.cancelFlag;

        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        const std::string error = api.UploadContentFile(connection.get(), session.get(), params, progress, &message);
        QueryPerformanceCounter(&end);
        run.seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
        run.accepted = error.empty();
        run.result = run.accepted ? "accepted" : error;
        api.AuthUserLogout(session, connection, &message);
    }
    PostMessageW(run.window, kUploadFinished, 0, 0);
}

}  // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 5) {
        std::fprintf(stderr, "usage: upload_bench.exe <server url> <user> <password> <file>\n");
        return 2;
    }
    fw::Profile profile(settings_names::kApplication);
    CAppSettings settings(&profile);
    settings.Server = fw::WideToAnsi(argv[1]);
    settings.User = fw::WideToAnsi(argv[2]);
    settings.Password = fw::WideToAnsi(argv[3]);
    settings.ProxySelect = 0;
    SetAppSettings(&settings);

    Run run;
    run.file = argv[4];
    LocalFree(argv);

    INITCOMMONCONTROLSEX init{sizeof init, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&init);
    run.window = CreateWindowExW(0, L"STATIC", L"upload_bench", WS_OVERLAPPEDWINDOW, 0, 0, 400, 120, nullptr,
                                 nullptr, nullptr, nullptr);
    run.bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 10, 10, 300, 20, run.window, nullptr,
                              nullptr, nullptr);
    run.display = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 10, 40, 300, 20, run.window, nullptr,
                                  nullptr, nullptr);
    if (!run.window || !run.bar || !run.display) {
        std::fprintf(stderr, "no window\n");
        return 2;
    }

    // The window thread serves the controls while the worker uploads.
    std::thread worker(Upload, std::ref(run));
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == kUploadFinished) break;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    worker.join();
    DestroyWindow(run.window);
    SetAppSettings(nullptr);

    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    std::printf("seconds=%.3f peak_working_set=%llu result=%s\n", run.seconds,
                static_cast<unsigned long long>(counters.PeakWorkingSetSize),
                fw::WideToUtf8(fw::AnsiToWide(run.result)).c_str());
    return run.accepted ? 0 : 1;
}
