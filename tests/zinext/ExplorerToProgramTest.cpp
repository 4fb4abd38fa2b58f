// The whole road from Explorer's context menu: the entry of the built
// ZinExt.dll is chosen for three files, the extension starts the real
// zinpost.exe named in the settings, and the files arrive at the stand-in
// server. The program reads the real settings key of the prefix, so this
// test runs alone and removes the key afterwards.
#include "tests/zinext/ZinExtHarness.h"
#include "common/SettingsNames.h"

#include "zinpost/engine/AppSettings.h"

#include "tests/support/Sha256.h"
#include "tests/support/StandinServer.h"
#include "tests/support/TempDir.h"
#include "tools/driver/WindowDriver.h"

#include "framework/Profile.h"
#include "framework/Text.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <map>
#include <regex>

using namespace zinext_test;
using namespace testing_support;

namespace {

void RemoveSettings() { RegDeleteTreeA(HKEY_CURRENT_USER, settings_names::kApplicationKey); }

// The programs the extension started: processes of zinpost.exe whose parent
// is this test.
std::vector<DWORD> StartedPrograms() {
    std::vector<DWORD> pids;
    const fw::UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID == GetCurrentProcessId() && _wcsicmp(entry.szExeFile, L"zinpost.exe") == 0)
            pids.push_back(entry.th32ProcessID);
    }
    return pids;
}

// The result windows of the started programs.
std::vector<HWND> ResultWindows() {
    std::vector<HWND> windows;
    for (DWORD pid : StartedPrograms()) {
        const auto found = FindWindowsByCaption(L"Tessaly センドレット：処理結果", pid);
        windows.insert(windows.end(), found.begin(), found.end());
    }
    return windows;
}

// The real settings key is the program's: written per test, removed
// afterwards, and no started program outlives its test.
class ExplorerToProgram : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        RemoveSettings();
        server.SetAccounts({{"explorer", "secret"}});
    }
    void TearDown() override {
        for (DWORD pid : StartedPrograms()) {
            const fw::UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
            if (process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
                ADD_FAILURE() << "a started program was still running";
                TerminateProcess(process.get(), 1);
                WaitForSingleObject(process.get(), 10000);
            }
        }
        RemoveSettings();
        CoUninitialize();
    }

    StandinServer server;
};

// The settings as the program stores them for a user of `server`, with the
// program the extension is to start.
void SaveSettings(const StandinServer& server, const std::wstring& program) {
    fw::Profile profile(settings_names::kApplication);
    profile.SetRegistryKey(settings_names::kRegistryKey);
    CAppSettings settings(&profile);
    settings.Server = server.Url();
    settings.User = "explorer";
    settings.Password = "secret";
    settings.Folder = 2;
    settings.FolderName = "営業部";
    settings.DisplayResult = 1;
    settings.ProxySelect = 0;
    settings.Save();
    ASSERT_TRUE(profile.WriteString(settings_names::kSection, settings_names::kExeFile, fw::WideToAnsi(program)));
}

// Either entry, the classic one or Windows 11's first menu's, starts the
// program with the selected files, and they arrive.
TEST_F(ExplorerToProgram, ChosenEntryUploadsTheSelectedFiles) {
    SaveSettings(server, UnixPathForWindows(EnvironmentVariable("ZINPOST_BIN_DIR") + "/zinpost.exe"));

    TempDir dir;
    const std::map<std::wstring, std::string> files = {
        {dir.File(L"提案書 最終版.txt"), "proposal"}, {dir.File(L"budget.csv"), "a,b\r\n1,2\r\n"},
        {dir.File(L"photo.jpg"), std::string(70000, '\x7f')}};
    std::vector<std::wstring> paths;
    for (const auto& file : files) {
        ASSERT_TRUE(WriteFileBytes(file.first, file.second));
        paths.push_back(file.first);
    }

    ZinExtLibrary library;
    ASSERT_TRUE(library.Loaded());
    for (const bool firstMenu : {false, true}) {
        SCOPED_TRACE(firstMenu ? "Windows 11's first menu" : "the classic menu");
        server.Reset();
        server.SetAccounts({{"explorer", "secret"}});
        if (firstMenu) {
            ASSERT_EQ(ChooseCommand(library, paths), S_OK);
        } else {
            std::wstring menuText;
            ASSERT_EQ(ChooseEntry(library, paths, &menuText), S_OK);
            EXPECT_EQ(menuText, L"Tessaly「営業部」に登録する");
        }

        // The program the extension started shows its result and ends on OK.
        std::vector<HWND> results;
        ASSERT_TRUE(WaitFor([&] { return (results = ResultWindows()).size() == 1; }, 90000));
        HWND result = results[0];
        EXPECT_EQ(ControlText(result, 1022), L"成功：3  失敗：0");
        DWORD pid = 0;
        GetWindowThreadProcessId(result, &pid);
        PressButton(result, IDOK);
        EXPECT_TRUE(WaitFor([&] { return FindWindowsByCaption(L"Tessaly センドレット", pid).empty(); }, 30000));

        const picojson::value stored = server.Files();
        std::map<std::string, std::string> arrived;
        for (const picojson::value& file : stored.get("files").get<picojson::array>()) {
            EXPECT_EQ(RecordString(file, "group_id"), "2");
            arrived[RecordString(file, "filename")] = RecordString(file, "sha256");
        }
        ASSERT_EQ(arrived.size(), 3u);
        EXPECT_EQ(arrived.at(u8"提案書 最終版.txt"), Sha256::OfBytes("proposal"));
        EXPECT_EQ(arrived.at("budget.csv"), Sha256::OfBytes("a,b\r\n1,2\r\n"));
        EXPECT_EQ(arrived.at("photo.jpg"), Sha256::OfBytes(std::string(70000, '\x7f')));
    }
}

// Every record of a log file is whole: it begins a line with its date,
// time, level, thread and place, holds no other record's beginning, and
// ends with its function name (unless it was cut at 1023 characters). The
// reason when not; "" when all are whole.
std::string BrokenRecord(const std::string& log) {
    if (log.empty() || log.size() < 2 || log.compare(log.size() - 2, 2, "\r\n") != 0) return "no whole last line";
    const std::regex start(R"(^\d{4}/\d{2}/\d{2},\d{2}:\d{2}:\d{2}\.\d{3},<LOG_LEVEL:-?\d+>, )");
    const std::regex head(R"(^TID\(\d+\), \[\.\\[^\]]+:\d+\],)");
    std::vector<std::string> records;
    for (size_t at = 0; at < log.size();) {
        const size_t end = log.find("\r\n", at);
        const std::string line = log.substr(at, end - at);
        at = end + 2;
        std::smatch m;
        if (std::regex_search(line, m, start)) {
            records.push_back(line.substr(static_cast<size_t>(m.length(0))));
        } else if (records.empty()) {
            return "a first line that begins no record: " + line;
        } else {
            records.back() += "\r\n" + line;  // a message with line breaks
        }
    }
    for (const std::string& record : records) {
        if (!std::regex_search(record, head)) return "a record without its thread and place: " + record;
        if (record.find("<LOG_LEVEL:") != std::string::npos) return "two records in one: " + record;
        if (record.size() > 1023) return "a record longer than 1023: " + record;
        if (record.size() < 1023 && (record.back() != ')' || record.find(", - (") == std::string::npos))
            return "a record without its end: " + record;
    }
    return std::string();
}

// Two starts from Explorer at once: two processes of the diagnostic build
// (every log line written), both uploading into one log file.
TEST_F(ExplorerToProgram, TwoStartsAtOnceBothCompleteAndTheLogHasWholeLines) {
    SaveSettings(server,
                 UnixPathForWindows(EnvironmentVariable("ZINPOST_BINARY_DIR") + "/tests/e2e/diagnostic/zinpost.exe"));

    TempDir dir, current;
    std::vector<std::vector<std::wstring>> selections(2);
    for (int s = 0; s < 2; ++s) {
        for (int i = 0; i < 3; ++i) {
            selections[s].push_back(dir.File(L"資料" + std::to_wstring(s) + L"-" + std::to_wstring(i) + L".txt"));
            ASSERT_TRUE(WriteFileBytes(selections[s].back(), std::string(20000 * (i + 1), static_cast<char>('a' + s))));
        }
    }
    std::vector<fw::UniqueKernelHandle> processes;
    {
        CurrentDirectory here(current.Path());  // the programs inherit it: log.csv lands here
        ZinExtLibrary library;
        ASSERT_TRUE(library.Loaded());
        for (const auto& selection : selections) ASSERT_EQ(ChooseEntry(library, selection), S_OK);
        // Both runs end with their result window.
        std::vector<HWND> results;
        ASSERT_TRUE(WaitFor([&] { return (results = ResultWindows()).size() == 2; }, 90000));
        for (HWND result : results) {
            EXPECT_EQ(ControlText(result, 1022), L"成功：3  失敗：0");
            DWORD pid = 0;
            GetWindowThreadProcessId(result, &pid);
            processes.emplace_back(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
            PressButton(result, IDOK);
        }
        for (const auto& process : processes) {
            ASSERT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
            DWORD code = ~0u;
            GetExitCodeProcess(process.get(), &code);
            EXPECT_EQ(code, 0u);
        }
    }
    EXPECT_EQ(server.Files().get("files").get<picojson::array>().size(), 6u);

    const std::string log = ReadFileBytes(current.File(L"log.csv"));
    EXPECT_EQ(BrokenRecord(log), "");
    size_t starts = 0, ends = 0;
    for (size_t at = 0; (at = log.find("zinpostDlg start[PID:", at)) != std::string::npos; ++at) ++starts;
    for (size_t at = 0; (at = log.find("zinpost endend ----", at)) != std::string::npos; ++at) ++ends;
    EXPECT_EQ(starts, 2u);
    EXPECT_EQ(ends, 2u);
}

}  // namespace
