// The program's promises under stress, end to end: a hundred files against
// a server that fails from a fixed seed lose nothing and report every
// failure with its reason; closing the window in every state ends the
// process cleanly without pulling objects from under a worker; libraries
// planted in the current folder or beside the files are not loaded; the
// diagnostic build's log holds no secret.
#include "tests/e2e/ProgramFixture.h"

#include "zinpost/engine/ClientIdentity.h"
#include "zinpost/engine/FormEncoding.h"
#include "zinpost/engine/TextEncoding.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Sha256.h"
#include "tools/driver/WindowDriver.h"

#include <commctrl.h>

#include <cstdio>
#include <random>

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
    for (HWND edit : edits)
        SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"proxy"), SMTO_ABORTIFHUNG, 2000, nullptr);
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
        settings.ProxyPort = std::to_string(server().StartProxy());
        server().Script("authUserLogin", R"([{"proxy_auth": true, "forever": true}])");
        programFirst = true;
        break;
    case CloseDuring::Transfer:
        server().Script("uploadContentFile.json", R"([{"read_rate": 1000000}])");
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
        EXPECT_TRUE(server().Requests("authUserLogout").empty());
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
        EXPECT_EQ(WithoutLineBreakAtEnd(MessageBoxText(box)), ModuleNotFoundText());
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
    server().SetAccounts({{"tester", passwordUtf8}});
    const std::string deviceKey = MakeDeviceKey();
    const std::vector<std::string> secrets = {password, UrlEncode(password), passwordUtf8, deviceKey, kDeviceName};
    // A server that hands every secret back in every answer, the group
    // titles of its listing included.
    std::string echo;
    for (const std::string& secret : {passwordUtf8, UrlEncode(password), deviceKey, std::string(kDeviceName)})
        echo += secret + " ";
    const std::string ok = R"("result": {"success": true, "errno": 0}, "echo": )" + JsonText(echo);
    for (const char* endpoint : {"authUserLogin", "authUserLogout", "uploadContentFile.json"})
        server().Script(endpoint, "[{\"json\": {" + ok + "}, \"forever\": true}]");
    server().Script("manageContentGroups.json",
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

// --- A seeded fault soak ---

// Child: holds a file open without sharing (as another program would) until
// the named event is set.
int HoldLocked(const std::vector<std::wstring>& args) {
    if (args.size() != 2) return 2;
    fw::UniqueFile file(CreateFileW(args[0].c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    fw::UniqueKernelHandle release(OpenEventW(SYNCHRONIZE, FALSE, args[1].c_str()));
    if (!file || !release) return 3;
    return WaitForSingleObject(release.get(), 600000) == WAIT_OBJECT_0 ? 0 : 4;
}
TEST_CHILD(hold_locked, HoldLocked);

constexpr unsigned kSoakSeed = 20240615;
constexpr int kSoakFiles = 100;
constexpr int kDeletedFile = 96;  // deleted once the run is under way, before its turn
constexpr int kLockedFile = 50;   // held open without sharing by another process
constexpr DWORD kSoakTimeoutMs = 600000;
constexpr int kInjectedErrnos[] = {14, 9, 13, 12};

const char kSendFailedText[] = " ファイルの送信に失敗しました。(Exc:";
std::string LoginRefusedText() {
    return "ログインできませんでした。\n"
           "ログイン制限されています。一定時間内のログイン回数が多いため、管理サーバーにより制限されています。"
           "しばらくしてから再度試して下さい。";
}
// The server's messages of the error numbers the soak injects.
std::string ServerMessage(int code) {
    switch (code) {
    case 9: return "コンテンツが見つかりません。更新ボタンを押して最新情報を取得してください。";
    case 12: return "閲覧権限がありません。更新ボタンを押して最新情報を取得してください。";
    case 13: return "権限がありません。サーバー管理者に確認してください。";
    default: return "アップロード先の容量不足が発生しています。不要なファイルを削除して、空き容量を増やして下さい。";
    }
}
std::string StatusMessage(int status) {
    return fw::Format(
        "正しいURLが入力されているか確認して下さい。管理サーバがダウンしている場合もあります。(StatusCode %d)",
        status);
}

// The file an upload request carried, from the multipart head at the start
// of its body (UTF-8); "" when the body did not get that far.
std::string UploadedName(const picojson::value& record) {
    const std::string head = DecodeBase64(RecordString(record, "body_head_b64"));
    const std::string key = "filename=\"";
    const size_t at = head.find(key);
    if (at == std::string::npos) return std::string();
    const size_t end = head.find('"', at + key.size());
    return end == std::string::npos ? std::string() : head.substr(at + key.size(), end - at - key.size());
}

// Whether a record's script step (null when none shaped it) has `key`.
bool Has(const picojson::value& step, const char* key) { return step.is<picojson::object>() && step.contains(key); }

const picojson::value& StepOf(const picojson::value& record) {
    static const picojson::value none;
    const picojson::value& script = record.get("script");
    return script.is<picojson::object>() ? script.get("step") : none;
}

TEST_F(ProgramTest, SeededFaultSoakLosesNothingAndReportsEveryFailure) {
    std::mt19937 random(kSoakSeed);
    const auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };

    // A hundred files of mixed sizes, Japanese names and their digests.
    const int sizes[] = {0, 1, 10239, 10240, 10241};
    std::vector<std::wstring> files;
    std::vector<std::string> digests;
    for (int i = 0; i < kSoakFiles; ++i) {
        const int size = i < 5 ? sizes[i] : uniform(0, 9) < 8 ? uniform(0, 200 * 1024) : uniform(200 * 1024, 3 << 20);
        std::string bytes(static_cast<size_t>(size), '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        const wchar_t* kinds[] = {L"報告書", L"議事録", L"見積書 最終", L"データ"};
        const wchar_t* extensions[] = {L".txt", L".bin", L".csv", L".pdf"};
        const std::wstring name = (i < 10 ? L"0" : L"") + std::to_wstring(i) + L"_" + kinds[i % 4];
        files.push_back(MakeFile(name + extensions[(i / 4) % 4], bytes));
        digests.push_back(Sha256::OfBytes(bytes));
    }

    // Faults from the seed: per upload attempt cuts mid-body, 500s, error
    // numbers and delays among normal answers; one refused login.
    std::string steps = "[";
    for (int i = 0; i < 140; ++i) {
        const int roll = uniform(0, 99);
        std::string step;
        // Somewhere in the middle one file meets a cut on every attempt.
        if (i >= 60 && i < 64) step = fw::Format(R"({"cut_after": %d})", uniform(1024, 8192));
        else if (roll < 62) step = R"({"pass": true})";
        else if (roll < 74)
            step = fw::Format(R"({"cut_after": %d, "cut_mode": "%s"})", uniform(1024, 150000),
                              uniform(0, 1) ? "reset" : "close");
        else if (roll < 80) step = R"({"status": 500})";
        else if (roll < 88) step = fw::Format(R"({"errno": %d})", kInjectedErrnos[uniform(0, 3)]);
        else step = fw::Format(R"({"delay_ms": %d})", uniform(100, 1500));
        steps += (i ? ", " : "") + step;
    }
    server().Script("uploadContentFile.json", steps + "]");
    server().Script("authUserLogin", fw::Format(R"([{"pass": true, "times": %d}, {"errno": 10}])", uniform(15, 40)));

    // Another program holds one file.
    const std::wstring releaseName = L"zinpost-soak-release-" + std::to_wstring(GetCurrentProcessId());
    fw::UniqueKernelHandle release(CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str()));
    fw::UniqueKernelHandle holder = StartChild("hold_locked", {files[kLockedFile], releaseName});
    ASSERT_TRUE(holder);
    ASSERT_TRUE(WaitFor(
        [&] {
            fw::UniqueFile probe(CreateFileW(files[kLockedFile].c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
            return !probe && GetLastError() == ERROR_SHARING_VIOLATION;
        },
        30000));

    settings.DisplayResult = 1;
    SaveSettings();
    const int since = server().LastSequence();
    ZinpostProcess program(files);
    HWND main = program.MainWindow();
    ASSERT_TRUE(main);
    // Under way, and not yet at the file that goes away now.
    ASSERT_TRUE(WaitFor([&] { return ControlText(main, 1018).rfind(L"登録中(", 0) == 0; }, kRunTimeoutMs));
    ASSERT_TRUE(DeleteFileW(files[kDeletedFile].c_str()));
    HWND result = program.ResultWindow(kSoakTimeoutMs);
    ASSERT_TRUE(result);
    const std::wstring detail = ControlText(result, kResultDetail);
    const std::wstring summary = ControlText(result, kResultSummary);
    PressButton(result, IDOK);
    EXPECT_EQ(program.WaitForExit(30000), 0u);
    SetEvent(release.get());
    EXPECT_EQ(WaitChild(holder), 0u);

    // What the server did, attempt by attempt, per file.
    std::map<std::string, std::vector<picojson::value>> attempts;
    std::map<std::string, int> faults;
    int uploadRequests = 0;
    for (const picojson::value& record : server().Requests("", since)) {
        const std::string endpoint = RecordString(record, "endpoint");
        const picojson::value& step = StepOf(record);
        if (endpoint == "authUserLogin" && Has(step, "errno")) ++faults["refused login"];
        if (endpoint != "uploadContentFile.json") continue;
        ++uploadRequests;
        for (const char* kind : {"cut_after", "status", "errno", "delay_ms"})
            if (Has(step, kind)) ++faults[kind];
        const std::string name = UploadedName(record);
        EXPECT_FALSE(name.empty()) << "an upload that names no file";
        attempts[name].push_back(record);
    }
    const auto stored = Stored();
    const int retries = uploadRequests - static_cast<int>(attempts.size());

    // Every file: stored byte for byte and listed as sent, or listed with the
    // reason its last attempt gives, and not stored.
    const std::wstring head = L"登録先：「開発部」\r\n";
    ASSERT_EQ(detail.rfind(head, 0), 0u) << Utf8(detail);
    size_t at = head.size();
    int sent = 0, failed = 0;
    std::map<std::string, int> reasons;
    for (int i = 0; i < kSoakFiles; ++i) {
        SCOPED_TRACE(Utf8(files[i]));
        const std::wstring next = i + 1 < kSoakFiles ? files[i + 1] : std::wstring();
        const std::wstring ok = L"○：" + files[i] + L"\r\n";
        const std::string name = Utf8(files[i].substr(dir.Path().size() + 1));
        static const std::vector<picojson::value> none;
        const std::vector<picojson::value>& tries = attempts.count(name) ? attempts.at(name) : none;
        if (detail.compare(at, ok.size(), ok) == 0) {
            ++sent;
            at += ok.size();
            ASSERT_EQ(stored.count(name), 1u);
            EXPECT_EQ(stored.at(name), digests[i]);
            ASSERT_FALSE(tries.empty());
            const picojson::value& last = StepOf(tries.back());
            EXPECT_FALSE(Has(last, "errno") || Has(last, "status") || Has(last, "cut_after"));
            continue;
        }
        ++failed;
        const std::wstring bad = L"×：" + files[i] + L" (";
        ASSERT_EQ(detail.compare(at, bad.size(), bad), 0) << Utf8(detail.substr(at, 300));
        // The reason runs to the ")" before the next file's line (it may hold line breaks itself).
        const size_t end = next.empty() ? detail.rfind(L")\r\n")
                                        : std::min(detail.find(L")\r\n○：" + next, at), detail.find(L")\r\n×：" + next, at));
        ASSERT_NE(end, std::wstring::npos);
        const std::string reason = fw::WideToAnsi(detail.substr(at + bad.size(), end - at - bad.size()));
        at = end + 3;
        EXPECT_EQ(stored.count(name), 0u) << "stored, but listed as failed";
        if (tries.empty()) {
            // Never sent: the files that could not be read, and the refused login.
            if (i == kDeletedFile || i == kLockedFile) {
                EXPECT_EQ(reason.rfind("OpenError ", 0), 0u) << reason;
                ++reasons[i == kDeletedFile ? "deleted" : "locked"];
            } else {
                EXPECT_EQ(reason, LoginRefusedText());
                ++reasons["login refused"];
            }
            continue;
        }
        const picojson::value& last = StepOf(tries.back());
        if (Has(last, "errno")) {
            EXPECT_EQ(reason, ServerMessage(static_cast<int>(last.get("errno").get<double>())));
            ++reasons["server error"];
        } else if (Has(last, "status")) {
            EXPECT_EQ(reason, StatusMessage(500));
            ++reasons["status 500"];
        } else {
            EXPECT_EQ(tries.size(), 4u);
            EXPECT_TRUE(Has(last, "cut_after"));
            EXPECT_EQ(reason.rfind(kSendFailedText, 0), 0u) << reason;
            ++reasons["four cuts"];
        }
    }
    EXPECT_EQ(at, detail.size());
    EXPECT_EQ(summary, L"成功：" + std::to_wstring(sent) + L"  失敗：" + std::to_wstring(failed));
    EXPECT_EQ(static_cast<int>(stored.size()), sent);
    EXPECT_EQ(reasons["deleted"], 1);
    EXPECT_EQ(reasons["locked"], 1);
    EXPECT_EQ(reasons["login refused"], 1);
    EXPECT_GE(reasons["four cuts"], 1);
    // Every cut was followed by another attempt, but the fourth of a file.
    EXPECT_EQ(retries, faults["cut_after"] - reasons["four cuts"]);

    // No file on disk changed; the deleted one stays deleted.
    for (int i = 0; i < kSoakFiles; ++i) {
        if (i == kDeletedFile)
            EXPECT_FALSE(FileExists(files[i]));
        else
            EXPECT_EQ(Sha256::OfFile(files[i]), digests[i]) << Utf8(files[i]);
    }

    std::printf("soak (seed %u): %d files, %d stored, %d failed (", kSoakSeed, kSoakFiles, sent, failed);
    for (const auto& [reason, count] : reasons) std::printf(" %s %d", reason.c_str(), count);
    std::printf(" ); faults injected: cut %d, status 500 %d, errno %d, delay %d, refused login %d; "
                "%d upload requests, %d retries\n",
                faults["cut_after"], faults["status"], faults["errno"], faults["delay_ms"], faults["refused login"],
                uploadRequests, retries);
}

}  // namespace
