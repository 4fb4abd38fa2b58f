// The launcher of scripts/bench-program.sh (not a test): writes the settings
// of a configured user, then starts a program the way the Explorer
// extension starts zinpost.exe (the program named apart, only the quoted
// file paths on its command line) and times each start to its exit.
//
//   program_bench.exe configure <server url> <user> <password> <folder id>
//   program_bench.exe run <runs> <program.exe> [file...]
//
// "run" prints one line per start: "seconds=<s> peak_working_set=<bytes>
// exit=<code>"; its exit code is 0 when every start ended with 0.
#include "zinpost/engine/AppSettings.h"
#include "common/SettingsNames.h"

#include "framework/Profile.h"
#include "framework/Text.h"
#include "framework/WinHandle.h"

#include <windows.h>
#include <psapi.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int Configure(const std::vector<std::wstring>& args) {
    if (args.size() != 4) return 2;
    fw::Profile profile(settings_names::kApplication);
    profile.SetRegistryKey(settings_names::kRegistryKey);
    CAppSettings settings(&profile);
    settings.Load();
    settings.Server = fw::WideToAnsi(args[0]);
    settings.User = fw::WideToAnsi(args[1]);
    settings.Password = fw::WideToAnsi(args[2]);
    settings.Folder = _wtoi(args[3].c_str());
    settings.FolderName = "bench";
    settings.SelectFileDelete = 0;
    settings.FileDelete = -1;
    settings.DisplayResult = 0;  // the window closes at the end of the run
    settings.ConvertPDF = 0;
    settings.ProxySelect = 0;
    settings.Save();
    return 0;
}

int Run(const std::vector<std::wstring>& args) {
    if (args.size() < 2) return 2;
    const int runs = _wtoi(args[0].c_str());
    const std::wstring& program = args[1];
    std::wstring commandLine;
    for (size_t i = 2; i < args.size(); ++i) commandLine += (i > 2 ? L" \"" : L"\"") + args[i] + L"\"";
    int failures = 0;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (int run = 0; run < runs; ++run) {
        std::wstring line = commandLine;  // CreateProcessW may write into it
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &info)) {
            std::fprintf(stderr, "cannot start the program: %lu\n", GetLastError());
            return 2;
        }
        fw::UniqueKernelHandle process(info.hProcess);
        fw::UniqueKernelHandle thread(info.hThread);
        // The peak is read while the program runs: an ended process has no
        // counters left to ask for under every system.
        SIZE_T peak = 0;
        while (WaitForSingleObject(process.get(), 2) == WAIT_TIMEOUT) {
            PROCESS_MEMORY_COUNTERS counters{};
            counters.cb = sizeof counters;
            if (GetProcessMemoryInfo(process.get(), &counters, sizeof counters) && counters.PeakWorkingSetSize > peak)
                peak = counters.PeakWorkingSetSize;
        }
        QueryPerformanceCounter(&end);
        DWORD code = 0;
        GetExitCodeProcess(process.get(), &code);
        std::printf("seconds=%.4f peak_working_set=%llu exit=%lu\n",
                    static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart),
                    static_cast<unsigned long long>(peak), code);
        std::fflush(stdout);
        if (code != 0) ++failures;
    }
    return failures ? 1 : 0;
}

}  // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) {
        std::fprintf(stderr, "usage: program_bench.exe configure|run ...\n");
        return 2;
    }
    const std::wstring verb = argv[1];
    const std::vector<std::wstring> args(argv + 2, argv + argc);
    LocalFree(argv);
    if (verb == L"configure") return Configure(args);
    if (verb == L"run") return Run(args);
    std::fprintf(stderr, "unknown verb\n");
    return 2;
}
