// The program's promises under stress, end to end: closing the window in
// every state ends the process cleanly without pulling objects from under a
// worker; libraries planted in the current folder or beside the files are
// not loaded; the diagnostic build's log holds no secret.
#include "tests/e2e/ProgramFixture.h"

#include "zinpost/engine/TextEncoding.h"
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

// --- Libraries planted where nothing may be loaded from ---

const wchar_t* const kPlantedNames[] = {L"zinpostresult.dll", L"Quillmorph.dll"};

// Copies of the announcing library under the names the program loads.
void Plant(const TempDir& folder) {
    const std::wstring planted =
        UnixPathForWindows(EnvironmentVariable("ZINPOST_BINARY_DIR") + "/tests/support/planted_library.dll");
    for (const wchar_t* name : kPlantedNames)
        ASSERT_TRUE(CopyFileW(planted.c_str(), folder.File(name).c_str(), FALSE)) << fw::WideToUtf8(planted);
}

std::vector<std::wstring> LoadedMarkers(const TempDir& folder) {
    std::vector<std::wstring> loaded;
    for (const wchar_t* name : kPlantedNames)
        if (FileExists(folder.File(std::wstring(name) + L".loaded"))) loaded.push_back(folder.File(name));
    return loaded;
}

TEST_F(ConversionTest, PlantedLibrariesAreNotLoaded) {
    SaveSettings();
    // The program alone in its folder: the result library and the converter
    // exist only in the current folder and beside the files.
    TempDir programFolder, current;
    const std::wstring program = programFolder.File(L"zinpost.exe");
    ASSERT_TRUE(CopyFileW(ZinpostPath().c_str(), program.c_str(), FALSE));
    Plant(current);
    Plant(dir);
    const std::wstring document = MakeFile(L"報告書.docx", "a Word document");
    const std::wstring memo = MakeFile(L"memo.txt", "memo");
    {
        CurrentDirectory here(current.Path());  // the program inherits it
        ZinpostProcess run({document, memo}, false, {}, program);
        // No result library: the system's text for a module not found.
        HWND box = nullptr;
        ASSERT_TRUE(WaitFor([&] { return (box = run.WaitForMessageBox(0)) != nullptr || !run.Running(); },
                            kRunTimeoutMs));
        ASSERT_TRUE(box) << "no message box; loaded: " << LoadedMarkers(current).size() << " "
                         << LoadedMarkers(dir).size();
        EXPECT_EQ(MessageBoxText(box), fw::SystemErrorTextW(ERROR_MOD_NOT_FOUND).substr(0, MessageBoxText(box).size()));
        PressButton(box, IDOK);
        EXPECT_EQ(run.WaitForExit(30000), 0u);
    }
    EXPECT_TRUE(LoadedMarkers(current).empty());
    EXPECT_TRUE(LoadedMarkers(dir).empty());
    // No converter: the document went as it is.
    const auto stored = Stored();
    EXPECT_EQ(stored.count(u8"報告書.docx"), 1u);
    EXPECT_EQ(stored.count("memo.txt"), 1u);
}

// --- No secret in the diagnostic build's log ---

std::wstring DiagnosticProgram() {
    return UnixPathForWindows(EnvironmentVariable("ZINPOST_BINARY_DIR") + "/tests/e2e/diagnostic/zinpost.exe");
}

TEST_F(ProgramTest, DiagnosticLogHoldsNoSecret) {
    const std::string password = "Himitsu-パス&4x";  // CP932, as stored
    settings.Password = password;
    SaveSettings();
    const std::string passwordUtf8 = fw::WideToUtf8(fw::AnsiToWide(password));
    server->SetAccounts({{"tester", passwordUtf8}});
    const std::string deviceKey = MakeDeviceKey();
    const std::vector<std::string> secrets = {password, UrlEncode(password), passwordUtf8, deviceKey, kDeviceName};
    // A server that hands every secret back in every answer, the group
    // titles of its listing included.
    std::string echo;
    for (const std::string& secret : {passwordUtf8, UrlEncode(password), deviceKey, std::string(kDeviceName)})
        echo += secret + " ";
    const std::string ok = R"("result": {"success": true, "errno": 0}, "echo": )" + JsonText(echo);
    for (const char* endpoint : {"authUserLogin", "authUserLogout", "uploadContentFile.json"})
        server->Script(endpoint, "[{\"json\": {" + ok + "}, \"forever\": true}]");
    server->Script("manageContentGroups.json",
                   "[{\"json\": {" + ok + R"(, "content_groups": [{"content_group_id": 3, )" +
                       R"("parent_content_group_id": null, "title_ja": )" + JsonText(echo) + "}]}, \"forever\": true}]");

    TempDir current;
    {
        CurrentDirectory here(current.Path());  // log.csv lands here
        ZinpostProcess program({MakeFile(L"a.txt", "alpha"), MakeFile(L"b.txt", "beta")}, false, {},
                               DiagnosticProgram());
        HWND result = program.ResultWindow(kRunTimeoutMs);
        ASSERT_TRUE(result);
        EXPECT_EQ(ControlText(result, kResultSummary), L"成功：2  失敗：0");
        PressButton(result, IDOK);
        EXPECT_EQ(program.WaitForExit(30000), 0u);
    }
    const std::string log = ReadFileBytes(current.File(L"log.csv"));
    // The diagnostic build wrote its lines, the answers' among them.
    ASSERT_NE(log.find("LOGIN: process start"), std::string::npos);
    ASSERT_NE(log.find("Upload: Response="), std::string::npos);
    for (const std::string& secret : secrets) {
        if (!secret.empty()) {
            EXPECT_EQ(log.find(secret), std::string::npos) << secret;
        }
    }
}

}  // namespace
