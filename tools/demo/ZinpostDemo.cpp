// Runs zinpost.exe as its users would, for the README's run command: writes
// the settings of a configured user through the program's own settings code,
// starts the program with files on its command line, waits for the result
// window, takes a screenshot of it, closes it and waits for the program to end.
//
//   zinpost_demo.exe <zinpost.exe> <server URL> <user> <password> <folder id>
//                    <folder name> <screenshot.bmp> <file>...
#include "common/SettingsNames.h"
#include "zinpost/engine/AppSettings.h"
#include "tools/driver/WindowDriver.h"

#include "framework/Profile.h"
#include "framework/Text.h"
#include "framework/WinHandle.h"

#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

void Print(const std::wstring& text) {
    const std::string utf8 = fw::WideToUtf8(text) + "\n";
    fwrite(utf8.data(), 1, utf8.size(), stdout);
    fflush(stdout);
}

// The settings of a user who has set everything up, as the program stores them.
void Configure(const std::vector<std::wstring>& args) {
    fw::Profile profile(settings_names::kApplication);
    profile.SetRegistryKey(settings_names::kRegistryKey);
    CAppSettings settings(&profile);
    settings.Load();
    settings.Server = fw::WideToAnsi(args[2]);
    settings.User = fw::WideToAnsi(args[3]);
    settings.Password = fw::WideToAnsi(args[4]);
    settings.Folder = _wtoi(args[5].c_str());
    settings.FolderName = fw::WideToAnsi(args[6]);
    settings.DisplayResult = 1;
    settings.SelectFileDelete = kPeriodUnlimited;
    settings.ConvertPDF = 0;
    settings.ProxySelect = kProxyNone;
    settings.Save();
    // Save names the running program; the Explorer extension must find zinpost.
    profile.WriteStringW(settings_names::kSection, settings_names::kExeFile, args[1]);
}

}  // namespace

int wmain() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> args(argv, argv + argc);
    LocalFree(argv);
    if (args.size() < 9) {
        Print(L"usage: zinpost_demo <zinpost.exe> <server> <user> <password> <folder id> <folder name> <bmp> <file>...");
        return 2;
    }
    Configure(args);

    // As the Explorer extension starts it: the program named apart, only
    // quoted paths on the command line.
    const std::wstring program = args[1];
    std::wstring commandLine;
    for (size_t i = 8; i < args.size(); ++i) commandLine += L"\"" + args[i] + L"\" ";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        Print(L"zinpost.exe did not start: " + fw::SystemErrorTextW(GetLastError()));
        return 1;
    }
    CloseHandle(info.hThread);
    fw::UniqueKernelHandle process(info.hProcess);

    const std::wstring resultCaption = L"Tessaly センドレット：処理結果";
    HWND result = nullptr;
    // Message boxes of the program (errors) are read out and answered.
    const bool shown = WaitFor(
        [&] {
            result = WaitForWindow(resultCaption, info.dwProcessId, 0);
            if (result) return true;
            for (HWND box : FindWindowsByCaption(L"Tessaly センドレット", info.dwProcessId)) {
                wchar_t className[16] = {};
                GetClassNameW(box, className, 16);
                if (std::wstring(className) != L"#32770" || GetDlgItem(box, 1015)) continue;  // not the main window
                Print(L"message: " + MessageBoxText(box));
                PressButton(box, IDOK);
            }
            return WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
        },
        180000);
    if (!shown || !result) {
        Print(L"the result window did not appear");
        return 1;
    }
    Sleep(500);  // let the dialog finish painting before the picture is taken
    if (!SaveScreenshot(args[7])) Print(L"screenshot failed");
    Print(ControlText(result, 1021));
    Print(ControlText(result, 1022));
    PressButton(result, IDOK);
    if (WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0) {
        Print(L"zinpost.exe did not end");
        return 1;
    }
    return 0;
}
