// The program's promises under stress, end to end: closing the window in
// every state ends the process cleanly without pulling objects from under a
// worker.
#include "tests/e2e/ProgramFixture.h"

#include "tests/support/WindowDriver.h"

#include <commctrl.h>

using namespace testing_support;

namespace {

// A dialog box of the program other than its main window (the platform's
// proxy credential dialog, a message box); null when there is none.
HWND OtherDialog(DWORD pid) {
    struct Search {
        DWORD pid;
        HWND found;
    } search{pid, nullptr};
    EnumWindows(
        [](HWND hwnd, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            wchar_t className[16] = {};
            GetClassNameW(hwnd, className, 16);
            if (owner == s->pid && IsWindowVisible(hwnd) && std::wstring(className) == L"#32770" &&
                !GetDlgItem(hwnd, 1015)) {
                s->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Types a user name and password into the credential dialog and confirms it.
void ConfirmCredentials(HWND dialog) {
    std::vector<HWND> edits;
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM param) -> BOOL {
            wchar_t className[16] = {};
            GetClassNameW(child, className, 16);
            if (lstrcmpiW(className, L"Edit") == 0) reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&edits));
    for (HWND edit : edits) SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"proxy"), SMTO_ABORTIFHUNG, 2000, nullptr);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
}

DWORD_PTR ProgressPosition(HWND main) {
    DWORD_PTR position = 0;
    SendMessageTimeoutW(GetDlgItem(main, 1016), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &position);
    return position;
}

// --- Closing in every state ---

enum class CloseDuring { LoginInProxyDialog, Transfer, SlowConversion };

class ClosingTest : public ConversionTest, public ::testing::WithParamInterface<CloseDuring> {};

TEST_P(ClosingTest, EndsTheProcessWithExitCodeZero) {
    const std::wstring record = dir.File(L"converter-calls.txt");
    std::vector<std::wstring> files;
    bool programFirst = false;
    std::map<std::wstring, std::wstring> environment;
    switch (GetParam()) {
    case CloseDuring::LoginInProxyDialog:
        // Started without files: the start-up's folder listing logs in
        // through a proxy that keeps asking for credentials.
        settings.ProxySelect = 2;
        settings.ProxyAddress = "127.0.0.1";
        settings.ProxyPort = std::to_string(server->StartProxy());
        server->Script("authUserLogin", R"([{"proxy_auth": true, "forever": true}])");
        programFirst = true;
        break;
    case CloseDuring::Transfer:
        server->Script("uploadContentFile.json", R"([{"read_rate": 1000000}])");
        files.push_back(MakeFile(L"big.bin", std::string(24 * 1024 * 1024, 'y')));
        break;
    case CloseDuring::SlowConversion:
        files.push_back(MakeFile(L"報告書.docx", "a Word document"));
        environment = ConverterEnvironment("Word=14.0.7015.1000\r\nConvertDelayMs=120000\r\nRecord=" +
                                           fw::WideToAnsi(record) + "\r\n");
        break;
    }
    SaveSettings();
    ZinpostProcess program(files, programFirst, environment);
    ASSERT_TRUE(program.Started());
    HWND main = program.MainWindow();
    ASSERT_TRUE(main);

    HWND dialog = nullptr;
    switch (GetParam()) {
    case CloseDuring::LoginInProxyDialog:
        ASSERT_TRUE(WaitFor([&] { return (dialog = OtherDialog(program.Pid())) != nullptr; }, kRunTimeoutMs));
        break;
    case CloseDuring::Transfer:
        ASSERT_TRUE(WaitFor([&] { return ProgressPosition(main) > 0; }, kRunTimeoutMs));
        break;
    case CloseDuring::SlowConversion:
        ASSERT_TRUE(WaitFor(
            [&] {
                return ControlText(main, 1018) == L"PDF変換中(1/1)" &&
                       ReadFileBytes(record).find("Convert ") != std::string::npos;
            },
            kRunTimeoutMs));
        break;
    }
    PostMessageW(main, WM_CLOSE, 0, 0);

    if (dialog) {
        // The window has gone; a user who now answers the dialog must not
        // find the login's connection freed under it.
        WaitFor([&] { return !IsWindow(main) || !program.Running(); }, kRunTimeoutMs);
        if (program.Running() && IsWindow(dialog)) ConfirmCredentials(dialog);
    }
    bool resultShown = false;
    ASSERT_TRUE(WaitFor(
        [&] {
            resultShown = resultShown || program.ResultWindow(0);
            return !program.Running();
        },
        kRunTimeoutMs));
    EXPECT_EQ(program.WaitForExit(0), 0u);
    EXPECT_FALSE(resultShown);
    EXPECT_TRUE(Stored().empty());
    switch (GetParam()) {
    case CloseDuring::LoginInProxyDialog:
        // The window's last logout left the session to the login that held it.
        EXPECT_TRUE(server->Requests("authUserLogout").empty());
        break;
    case CloseDuring::SlowConversion: {
        // The converter was neither released nor unloaded under its call.
        const std::string calls = ReadFileBytes(record);
        const size_t convert = calls.find("Convert ");
        ASSERT_NE(convert, std::string::npos) << calls;
        EXPECT_EQ(calls.find("Release", convert), std::string::npos) << calls;
        EXPECT_EQ(calls.find("Converted", convert), std::string::npos) << calls;
        break;
    }
    default:
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(States, ClosingTest,
                         ::testing::Values(CloseDuring::LoginInProxyDialog, CloseDuring::Transfer,
                                           CloseDuring::SlowConversion),
                         [](const ::testing::TestParamInfo<CloseDuring>& info) {
                             switch (info.param) {
                             case CloseDuring::LoginInProxyDialog: return std::string("LoginInProxyDialog");
                             case CloseDuring::Transfer: return std::string("Transfer");
                             default: return std::string("SlowConversion");
                             }
                         });

}  // namespace
