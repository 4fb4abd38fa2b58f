// The file upload request against the stand-in Tessaly server over real HTTP
// on loopback, after a real login: the request byte for byte, the registered
// name, the progress bar and file-name display (real controls whose messages
// are recorded), the size limit, retries after cut or refused connections,
// cancel, files that change or cannot be opened, and every kind of answer.
#include "zinpost/engine/AppSettings.h"
#include "common/SettingsNames.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/engine/UploadLimits.h"
#include "zinpost/engine/TessalyWebAPI.h"

#include "tests/support/JoiningThread.h"
#include "tests/support/Sha256.h"
#include "tests/support/StandinFixture.h"

#include "framework/Profile.h"
#include "framework/Text.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <wincrypt.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using namespace testing_support;

namespace {

constexpr DWORD kBlock = 10240;
// Short pauses between attempts keep the retry tests fast; one test runs
// with the program's own pause.
constexpr DWORD kTestRetryPauseMs = 20;

const char kCancelledText[] = "アップロードをキャンセルしました。";
const char kTooLargeText[] = "ファイルのサイズが大きすぎます。";
const char kUrlInvalidText[] = "接続先のサーバー設定に誤りがあります。";
const char kNoResponseText[] = "レスポンスデータがありません。";
const char kNotJsonText[] = "レスポンスデータの解析に失敗しました。";
const char kFullSpaceText[] =
    "アップロード先の容量不足が発生しています。不要なファイルを削除して、空き容量を増やして下さい。";

// What the request must carry, written out here rather than taken from the code.
const char kDelimiter[] = "---------------------------265001916915724\r\n";
const char kClosing[] = "\r\n---------------------------265001916915724--\r\n";

std::string SendFailure(int code) {
    return fw::Format(" ファイルの送信に失敗しました。(Exc:%d )", code);
}

std::string Pieces(const std::string& group, const std::string& days, const std::string& encrypt,
                   const std::string& utf8Name) {
    return std::string(kDelimiter) + "Content-Disposition: form-data; name=\"group_id\"\r\n\r\n" + group + "\r\n" +
           kDelimiter + "Content-Disposition: form-data; name=\"file_delete_days\"\r\n\r\n" + days + "\r\n" +
           kDelimiter + "Content-Disposition: form-data; name=\"is_encrypt\"\r\n\r\n" + encrypt + "\r\n" +
           kDelimiter + "Content-Disposition: form-data; name=\"file\"; filename=\"" + utf8Name +
           "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
}

// Binary data full of CR LF, near-delimiters and every byte value.
std::string TrickyData(size_t size) {
    // Delimiters of our boundary but for one character.
    const std::string block = std::string("\r\n---------------------------265001916915725\r\n\r\n") + '\0' +
                              "\xff\r\n---------------------------26500191691572--\r\n" +
                              std::string("\x01\x02\x80\x81\xfe", 5);
    std::string data;
    data.reserve(size);
    for (size_t i = 0; data.size() < size; ++i) {
        data += static_cast<char>(i * 7 + 3);
        if (i % 97 == 0) data += block;
    }
    data.resize(size);
    return data;
}

// A file of `size` bytes that takes no disk space but for a few marks, so its
// content is not all zeros.
void MakeSparseFile(const std::wstring& path, ULONGLONG size) {
    fw::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    ASSERT_TRUE(SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file.get()));
    for (ULONGLONG at : {0ull, size / 3, size / 2 + 12345, size - 9}) {
        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(at);
        ASSERT_TRUE(SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN));
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), "zinpost!", 8, &written, nullptr));
    }
}

// A real progress bar and a file-name display, whose messages are recorded:
// every range and position the bar is given, every text the display gets.
class RecordedControls {
public:
    RecordedControls() {
        INITCOMMONCONTROLSEX init{sizeof init, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&init);
        m_parent = CreateWindowExW(0, L"STATIC", L"uploader", WS_OVERLAPPEDWINDOW, 0, 0, 400, 200, nullptr,
                                   nullptr, nullptr, nullptr);
        bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 10, 10, 300, 20, m_parent, nullptr,
                              nullptr, nullptr);
        display = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 10, 40, 300, 20, m_parent, nullptr,
                                  nullptr, nullptr);
        SetPropW(bar, kProp, this);
        SetPropW(display, kProp, this);
        m_barProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordedControls::BarProc)));
        m_displayProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(display, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordedControls::DisplayProc)));
    }
    ~RecordedControls() {
        if (m_parent) DestroyWindow(m_parent);
    }
    RecordedControls(const RecordedControls&) = delete;
    RecordedControls& operator=(const RecordedControls&) = delete;

    bool Ready() const { return m_parent && bar && display && m_barProc && m_displayProc; }
    void Clear() {
        ranges.clear();
        positions.clear();
        names.clear();
    }
    std::wstring DisplayText() const {
        wchar_t text[512] = {};
        GetWindowTextW(display, text, 512);
        return text;
    }

    HWND bar = nullptr;
    HWND display = nullptr;
    std::vector<std::pair<int, int>> ranges;
    std::vector<int> positions;
    std::vector<std::wstring> names;
    std::function<void(int)> onPosition;  // called with every position set

private:
    static constexpr const wchar_t* kProp = L"zinpost.test.recorder";

    static LRESULT CALLBACK BarProc(HWND window, UINT message, WPARAM w, LPARAM l) {
        auto* self = static_cast<RecordedControls*>(GetPropW(window, kProp));
        if (message == PBM_SETRANGE32) self->ranges.emplace_back(static_cast<int>(w), static_cast<int>(l));
        if (message == PBM_SETPOS) {
            self->positions.push_back(static_cast<int>(w));
            if (self->onPosition) self->onPosition(static_cast<int>(w));
        }
        return CallWindowProcW(self->m_barProc, window, message, w, l);
    }
    static LRESULT CALLBACK DisplayProc(HWND window, UINT message, WPARAM w, LPARAM l) {
        auto* self = static_cast<RecordedControls*>(GetPropW(window, kProp));
        if (message == WM_SETTEXT) self->names.emplace_back(reinterpret_cast<const wchar_t*>(l));
        return CallWindowProcW(self->m_displayProc, window, message, w, l);
    }

    HWND m_parent = nullptr;
    WNDPROC m_barProc = nullptr;
    WNDPROC m_displayProc = nullptr;
};

int CountOf(const std::string& text, const std::string& what) {
    int count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

// How often the bar went back: each new attempt starts counting again.
int Restarts(const std::vector<int>& positions) {
    int restarts = 0;
    for (size_t i = 1; i < positions.size(); ++i)
        if (positions[i] < positions[i - 1]) ++restarts;
    return restarts;
}

class UploadTest : public StandinTest {
protected:
    static void SetUpTestSuite() {
        SetUploadRetryPauseForTesting(kTestRetryPauseMs);
        StandinTest::SetUpTestSuite();
    }
    static void TearDownTestSuite() {
        StandinTest::TearDownTestSuite();
        SetUploadRetryPauseForTesting(kUploadRetryPauseMs);
    }

    void SetUp() override {
        ASSERT_TRUE(controls.Ready());
        StandinTest::SetUp();
        if (!HasFatalFailure()) LogIn();
    }

    // Every upload happens between a login and a logout.
    void UseServer(StandinServer& server, const std::string& door = "http") {
        StandinTest::UseServer(server, door);
        LogIn();
    }
    void LogIn() {
        session.reset();
        connection.reset();
        std::string loginMessage;
        ASSERT_EQ(api.AuthUserLogin(session, &loginMessage, connection), 1) << loginMessage;
    }

    std::wstring WriteFile(const std::wstring& name, const std::string& bytes) {
        const std::wstring path = dir.File(name);
        EXPECT_TRUE(WriteFileBytes(path, bytes));
        return path;
    }

    UploadParams Params(const std::wstring& path, const std::wstring& title = L"report") const {
        UploadParams params;
        params.folder = 7;
        params.encrypt = 0;
        params.deleteDays = 30;
        params.title = title;
        params.path = path;
        return params;
    }

    std::string Upload(const UploadParams& params) {
        UploadProgressContext progress;
        progress.progressBar = controls.bar;
        progress.text = L"unused";
        progress.fileNameDisplay = controls.display;
        progress.transferFlag = &transferFlag;
        progress.cancelFlag = &cancelFlag;
        return api.UploadContentFile(connection.get(), session.get(), params, progress, &message);
    }

    std::vector<picojson::value> Uploads(int since = 0) {
        return server().Requests(kUploadEndpoint, since);
    }
    // Waits until the server has finished `count` upload records after
    // `since` (it notices a dropped request only after the client has gone).
    std::vector<picojson::value> WaitUploads(size_t count, int since = 0) {
        const ULONGLONG deadline = GetTickCount64() + 10000;
        auto records = Uploads(since);
        while (records.size() < count && GetTickCount64() < deadline) {
            Sleep(20);
            records = Uploads(since);
        }
        return records;
    }
    picojson::array StoredFiles() { return server().Files().get("files").get<picojson::array>(); }

    static constexpr const char* kUploadEndpoint = "uploadContentFile.json";

    CTessalyWebAPI api;
    InternetSessionHolder session;
    HttpConnectionHolder connection;
    RecordedControls controls;
    std::string message = "untouched";
    std::atomic<int> transferFlag{0};
    std::atomic<int> cancelFlag{0};
};

// Tests that depend on which connections exist get a server of their own:
// WinINet keeps idle connections per host and port, across sessions.
class OwnServerUploadTest : public UploadTest {
protected:
    static void SetUpTestSuite() { SetUploadRetryPauseForTesting(kTestRetryPauseMs); }
    static void TearDownTestSuite() { SetUploadRetryPauseForTesting(kUploadRetryPauseMs); }
    void SetUp() override {
        ASSERT_TRUE(controls.Ready());
        UseServer(own);
    }

    StandinServer own;
};

// --- What goes over the wire ---

TEST_F(UploadTest, SendsTheExactHeadersAndBody) {
    const std::string data = TrickyData(300);
    const std::wstring path = WriteFile(L"data.bin", data);

    EXPECT_EQ(Upload(Params(path)), "");
    EXPECT_EQ(message, "untouched");

    const auto records = Uploads();
    ASSERT_EQ(records.size(), 1u);
    const picojson::value& record = records[0];
    EXPECT_EQ(RecordString(record, "method"), "POST");
    EXPECT_EQ(RecordString(record, "path"), "/api/uploadContentFile.json");
    EXPECT_EQ(RecordString(record, "version"), "HTTP/1.0");
    const std::string body = Pieces("7", "30", "false", "report.bin") + data + kClosing;
    EXPECT_EQ(RecordBody(record), body);
    EXPECT_EQ(RecordHeader(record, "Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(RecordHeader(record, "Accept"), "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
    EXPECT_EQ(RecordHeader(record, "Accept-Language"), "ja,en-us;q=0.7,en;q=0.3");
    EXPECT_EQ(RecordHeader(record, "Accept-Encoding"), "gzip, deflate");
    EXPECT_EQ(RecordHeader(record, "Accept-Charset"), "Shift_JIS,utf-8;q=0.7,*;q=0.7");
    EXPECT_EQ(RecordHeader(record, "Content-Type"), "multipart/form-data; boundary=-------------------------265001916915724");
    // The session cookie of the login is the only proof of it.
    EXPECT_NE(RecordHeader(record, "Cookie").find("TESSALYSESS="), std::string::npos);

    // The five headers in their order.
    std::vector<std::string> names;
    for (const picojson::value& header : record.get("headers").get<picojson::array>())
        names.push_back(header.get(0).get<std::string>());
    std::vector<std::string> ours;
    for (const std::string& name : names)
        if (name.rfind("Accept", 0) == 0 || name == "Content-Type") ours.push_back(name);
    EXPECT_EQ(ours, (std::vector<std::string>{"Accept", "Accept-Language", "Accept-Encoding", "Accept-Charset",
                                              "Content-Type"}));

    const auto stored = StoredFiles();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(RecordString(stored[0], "group_id"), "7");
    EXPECT_EQ(RecordString(stored[0], "filename"), "report.bin");
    EXPECT_EQ(RecordString(stored[0], "is_encrypt"), "false");
    EXPECT_EQ(RecordString(stored[0], "file_delete_days"), "30");
    EXPECT_EQ(RecordString(stored[0], "sha256"), Sha256::OfBytes(data));

    // The bar: range 0..100, 0 at the start, 100 after the only block.
    EXPECT_EQ(controls.ranges, (std::vector<std::pair<int, int>>{{0, 100}}));
    EXPECT_EQ(controls.positions, (std::vector<int>{0, 100}));
    EXPECT_EQ(controls.names, (std::vector<std::wstring>{L"report.bin", L""}));
    EXPECT_EQ(transferFlag, 0);

    // The file on disk is left as it was.
    EXPECT_EQ(ReadFileBytes(path), data);
}

TEST_F(UploadTest, RegisteredNameIsTheTitleWithThePathsExtension) {
    const std::wstring pdf = WriteFile(L"元の文書.pdf", "%PDF-1.4 test");
    EXPECT_EQ(Upload(Params(pdf, L"見積書")), "");
    // The display gets the name in the ANSI code page.
    EXPECT_EQ(controls.names, (std::vector<std::wstring>{L"見積書.pdf", L""}));

    const std::wstring bare = WriteFile(L"noextension", "plain");
    EXPECT_EQ(Upload(Params(bare, L"メモ")), "");

    const auto records = Uploads();
    ASSERT_EQ(records.size(), 2u);
    const std::string japanese = u8"見積書.pdf";
    EXPECT_EQ(DecodeBase64(RecordString(records[0].get("upload"), "filename_bytes_b64")), japanese);
    EXPECT_EQ(RecordBody(records[0]), Pieces("7", "30", "false", japanese) + "%PDF-1.4 test" + kClosing);
    EXPECT_EQ(RecordString(records[1].get("upload"), "filename"), u8"メモ");

    const auto stored = StoredFiles();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(RecordString(stored[0], "filename"), japanese);
    EXPECT_EQ(RecordString(stored[1], "filename"), u8"メモ");
}

TEST_F(UploadTest, NoExpiryAndAnyNonZeroEncryptFlag) {
    UploadParams params = Params(WriteFile(L"a.txt", "abc"));
    params.folder = -12;
    params.deleteDays = -1;
    params.encrypt = 2;
    EXPECT_EQ(Upload(params), "");
    const auto records = Uploads();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(RecordBody(records[0]), Pieces("-12", "-1", "true", "report.txt") + "abc" + kClosing);
}

TEST_F(UploadTest, EmptyFileSendsThePiecesAlone) {
    EXPECT_EQ(Upload(Params(WriteFile(L"empty.txt", ""))), "");
    const auto records = Uploads();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(RecordBody(records[0]), Pieces("7", "30", "false", "report.txt") + kClosing);
    EXPECT_EQ(controls.positions, (std::vector<int>{0}));

    const auto stored = StoredFiles();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].get("size").get<double>(), 0.0);
    EXPECT_EQ(transferFlag, 0);
}

TEST_F(UploadTest, TwoBlocksMoveTheBarTo99Then100) {
    const std::string data = TrickyData(kBlock + 1);
    EXPECT_EQ(Upload(Params(WriteFile(L"two.bin", data))), "");
    EXPECT_EQ(controls.positions, (std::vector<int>{0, 99, 100}));
    // Only tenths are traced.
    const std::string trace = Trace();
    EXPECT_EQ(trace.find("Upload: Progres[99]"), std::string::npos);
    EXPECT_NE(trace.find("UploadFile Function Start"), std::string::npos);

    const auto records = Uploads();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(RecordBody(records[0]), Pieces("7", "30", "false", "report.bin") + data + kClosing);
}

TEST_F(UploadTest, ManyBlocksStreamIntact) {
    // More than the send buffer holds, and not a whole number of blocks.
    const std::string data = TrickyData(3 * 1024 * 1024 + 4321);
    EXPECT_EQ(Upload(Params(WriteFile(L"big.bin", data))), "");

    const auto stored = StoredFiles();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].get("size").get<double>(), static_cast<double>(data.size()));
    EXPECT_EQ(RecordString(stored[0], "sha256"), Sha256::OfBytes(data));
    // Every block adds less than one percent: the bar is told each
    // percentage once, in order.
    std::vector<int> everyPercent;
    for (int percent = 0; percent <= 100; ++percent) everyPercent.push_back(percent);
    EXPECT_EQ(controls.positions, everyPercent);
    const std::string trace = Trace();
    for (int tenth = 10; tenth < 100; tenth += 10)
        EXPECT_NE(trace.find(fw::Format("Upload: Progres[%d]", tenth)), std::string::npos) << tenth;
}

TEST_F(UploadTest, ControlsOfAWindowThreadGetEveryChangeInOrderWithoutWaiting) {
    // As in the program: the controls belong to another thread that serves
    // its window; the upload does not wait for it.
    std::unique_ptr<RecordedControls> windowControls;
    std::atomic<bool> quit{false};
    JoiningThread window(
        [&] {
            windowControls = std::make_unique<RecordedControls>();
            MSG msg;
            while (!quit) {
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            }
            windowControls.reset();
        },
        [&] { quit = true; });
    ASSERT_TRUE(WaitFor([&] { return windowControls && windowControls->Ready(); }, 10000));
    const std::string data = TrickyData(3 * 1024 * 1024 + 4321);
    UploadProgressContext progress;
    progress.progressBar = windowControls->bar;
    progress.fileNameDisplay = windowControls->display;
    progress.transferFlag = &transferFlag;
    progress.cancelFlag = &cancelFlag;
    EXPECT_EQ(api.UploadContentFile(connection.get(), session.get(), Params(WriteFile(L"big.bin", data)), progress,
                                    &message),
              "");
    // Once the window thread has taken what was handed to it: the name and
    // its clearing, and positions rising from 0 to 100.
    EXPECT_TRUE(WaitFor([&] { return windowControls->names.size() == 2; }, 10000));
    EXPECT_EQ(windowControls->names, (std::vector<std::wstring>{L"report.bin", L""}));
    const std::vector<int> positions = windowControls->positions;
    ASSERT_GE(positions.size(), 2u);
    EXPECT_EQ(positions.front(), 0);
    EXPECT_EQ(positions.back(), 100);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(windowControls->ranges, (std::vector<std::pair<int, int>>{{0, 100}}));
    quit = true;
    window.join();
}

TEST_F(UploadTest, UploadsOverHttpsToo) {
    UseServer(server(), "https_expired");
    EXPECT_EQ(Upload(Params(WriteFile(L"secure.txt", "over TLS"))), "");
    const auto stored = StoredFiles();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(RecordString(stored[0], "door"), "https_expired");
}

// --- The size limit ---

TEST_F(UploadTest, LargestFileIsSentWholeAndOneByteMoreIsRefused) {
    const std::wstring largest = dir.File(L"largest.bin");
    MakeSparseFile(largest, kUploadMaxFileSize);
    EXPECT_EQ(Upload(Params(largest)), "");
    const auto stored = StoredFiles();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].get("size").get<double>(), 419430400.0);
    EXPECT_EQ(RecordString(stored[0], "sha256"), Sha256::OfFile(largest));
    EXPECT_EQ(controls.positions.back(), 100);

    const std::wstring larger = dir.File(L"larger.bin");
    MakeSparseFile(larger, kUploadMaxFileSize + 1);
    const int before = server().LastSequence();
    controls.Clear();
    EXPECT_EQ(Upload(Params(larger)), kTooLargeText);
    EXPECT_EQ(server().LastSequence(), before);
    EXPECT_EQ(controls.names, (std::vector<std::wstring>{L"report.bin", L""}));
}

// --- Retries ---

TEST_F(UploadTest, CutConnectionsAreRetriedFromTheFirstByte) {
    // The first attempt is cut early, the second in the middle of the data;
    // the third goes through.
    server().Script(kUploadEndpoint, R"([{"cut_after": 20000}, {"cut_after": 600000}])");
    const std::string data = TrickyData(100 * kBlock);
    EXPECT_EQ(Upload(Params(WriteFile(L"retry.bin", data))), "");

    const auto records = Uploads();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(RecordString(records[0], "outcome"), "cut");
    EXPECT_EQ(RecordString(records[1], "outcome"), "cut");
    EXPECT_EQ(RecordString(records[2], "outcome"), "answered");
    const std::string body = Pieces("7", "30", "false", "report.bin") + data + kClosing;
    EXPECT_EQ(RecordString(records[2], "body_sha256"), Sha256::OfBytes(body));

    const auto stored = StoredFiles();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(RecordString(stored[0], "sha256"), Sha256::OfBytes(data));

    // The bar starts again with each attempt.
    EXPECT_EQ(Restarts(controls.positions), 2);
    EXPECT_EQ(controls.positions.back(), 100);
    EXPECT_EQ(transferFlag, 0);
    const std::string trace = Trace();
    EXPECT_NE(trace.find("Upload:SendRequestEx[count:3]"), std::string::npos);
    EXPECT_EQ(CountOf(trace, "Upload:CInternetException["), 2);
}

TEST_F(OwnServerUploadTest, RefusedOnEveryAttemptGivesTheSendFailure) {
    // The program's own pause between attempts, once.
    SetUploadRetryPauseForTesting(kUploadRetryPauseMs);
    // No connection of the login is left open to be used again.
    server().Script(CTessalyWebAPI::kLoginEndpoint, R"([{"close": true}])");
    session.reset();
    connection.reset();
    std::string loginMessage;
    ASSERT_EQ(api.AuthUserLogin(session, &loginMessage, connection), 1) << loginMessage;
    server().SetListening("http", false);
    const int before = server().LastSequence();

    const ULONGLONG start = GetTickCount64();
    const std::string result = Upload(Params(WriteFile(L"refused.txt", "never arrives")));
    const ULONGLONG elapsed = GetTickCount64() - start;
    SetUploadRetryPauseForTesting(kTestRetryPauseMs);

    EXPECT_EQ(result, SendFailure(ERROR_INTERNET_CANNOT_CONNECT));
    const std::string trace = Trace();
    EXPECT_EQ(CountOf(trace, "Upload:SendRequestEx[count:"), 4);
    EXPECT_NE(trace.find("Upload: Failed EndRequest [12029-]"), std::string::npos);
    // Four pauses of two seconds.
    EXPECT_GE(elapsed, 4 * kUploadRetryPauseMs - 50);
    EXPECT_LT(elapsed, 4 * kUploadRetryPauseMs + 10000);
    EXPECT_EQ(controls.names.back(), L"");

    // The session is still there for the next file once the server listens.
    server().SetListening("http", true);
    EXPECT_EQ(Upload(Params(WriteFile(L"later.txt", "arrives"))), "");
    EXPECT_EQ(server().Requests(kUploadEndpoint, before).size(), 1u);
}

TEST_F(UploadTest, Status500IsNotRetried) {
    server().Script(kUploadEndpoint, R"([{"status": 500}])");
    EXPECT_EQ(Upload(Params(WriteFile(L"five.txt", "hundred"))), CTessalyWebAPI::HttpStatusMessage(500));
    EXPECT_EQ(Uploads().size(), 1u);
    EXPECT_TRUE(StoredFiles().empty());
    EXPECT_EQ(CountOf(Trace(), "Upload:SendRequestEx[count:"), 1);
}

// --- Cancel ---

TEST_F(UploadTest, CancelStopsWithinOneBlock) {
    // 400 blocks: the bar reaches 50 after block 200, more than the send
    // buffer holds, so part of the file is already on its way.
    const std::string data = TrickyData(400 * kBlock);
    controls.onPosition = [this](int percent) {
        if (percent == 50) cancelFlag = 1;
    };
    EXPECT_EQ(Upload(Params(WriteFile(L"cancel.bin", data))), kCancelledText);
    controls.onPosition = nullptr;

    // The block after the one that saw the cancel is the last one read.
    EXPECT_NE(Trace().find(fw::Format("Upload: Cancel after %lu of %lu bytes", 201 * kBlock, 400 * kBlock)),
              std::string::npos);
    EXPECT_EQ(controls.positions.back(), 50);
    EXPECT_EQ(controls.names, (std::vector<std::wstring>{L"report.bin", L""}));
    EXPECT_EQ(controls.DisplayText(), L"");
    // The caller decides what the transfer flag means after a cancel.
    EXPECT_EQ(transferFlag, 1);

    // The server got part of the body, less than announced, and keeps
    // nothing. It sees the end of the request at once: the connection is
    // closed, not kept for the next request.
    const auto records = WaitUploads(1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(RecordString(records[0], "outcome"), "incomplete");
    const double received = records[0].get("body_received").get<double>();
    EXPECT_GT(received, 0.0);
    EXPECT_LT(received, 201.0 * kBlock);
    EXPECT_TRUE(StoredFiles().empty());

    // The next file goes through on the same session.
    cancelFlag = 0;
    EXPECT_EQ(Upload(Params(WriteFile(L"next.txt", "next"))), "");
    EXPECT_EQ(StoredFiles().size(), 1u);
}

// --- The file ---

TEST_F(UploadTest, FileThatShrinksIsASendFailureWithoutRetry) {
    const std::wstring path = WriteFile(L"shrinks.bin", TrickyData(100 * kBlock));
    controls.onPosition = [&path](int percent) {
        if (percent != 30) return;
        // Another program cuts the file down while it is being sent.
        fw::UniqueFile other(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER at;
        at.QuadPart = 40 * kBlock + 17;
        if (!other || !SetFilePointerEx(other.get(), at, nullptr, FILE_BEGIN) || !SetEndOfFile(other.get()))
            ADD_FAILURE() << "cannot shrink the file";
    };
    EXPECT_EQ(Upload(Params(path)), SendFailure(ERROR_HANDLE_EOF));
    controls.onPosition = nullptr;

    EXPECT_EQ(CountOf(Trace(), "Upload:SendRequestEx[count:"), 1);
    const auto records = WaitUploads(1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(RecordString(records[0], "outcome"), "incomplete");
    EXPECT_TRUE(StoredFiles().empty());
    EXPECT_EQ(controls.names.back(), L"");

    EXPECT_EQ(Upload(Params(WriteFile(L"next.txt", "next"))), "");
}

TEST_F(UploadTest, FilesThatCannotBeOpenedLeaveTheSessionUsable) {
    const int before = server().LastSequence();

    // Missing.
    EXPECT_EQ(Upload(Params(dir.File(L"missing.txt"))), "OpenError " + fw::SystemErrorText(ERROR_FILE_NOT_FOUND));
    // Locked: another program holds it without sharing.
    const std::wstring locked = WriteFile(L"locked.txt", "locked");
    {
        fw::UniqueFile holder(CreateFileW(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          0, nullptr));
        ASSERT_TRUE(holder);
        EXPECT_EQ(Upload(Params(locked)), "OpenError " + fw::SystemErrorText(ERROR_SHARING_VIOLATION));
    }
    // Unreadable as a file: a folder.
    const std::wstring folder = dir.File(L"folder.txt");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_EQ(Upload(Params(folder)), "OpenError " + fw::SystemErrorText(ERROR_ACCESS_DENIED));

    EXPECT_FALSE(fw::SystemErrorText(ERROR_FILE_NOT_FOUND).empty());
    EXPECT_EQ(server().LastSequence(), before);
    EXPECT_EQ(controls.DisplayText(), L"");

    // The run goes on with the next file.
    EXPECT_EQ(Upload(Params(locked)), "");
    EXPECT_EQ(StoredFiles().size(), 1u);
}

// --- Answers ---

// The upload announces gzip and deflate: a compressing server or proxy
// sends its answer so, whole or in chunks, and the file is reported stored
// (once: a misread answer would have it sent again). The request goes out
// byte for byte as without compression. Deflate comes here as the bare
// stream: Wine's WinINet inflates "deflate" only in that form and fails the
// zlib-wrapped one (12175), which Windows' own decoder decides on.
TEST_F(UploadTest, CompressedAnswersAreRead) {
    const UploadParams params = Params(WriteFile(L"compressed.txt", "stored once"));
    ASSERT_EQ(Upload(params), "");
    const std::string plainHead = RecordString(Uploads().back(), "head_text");
    for (const char* encoding : {"gzip", "deflate-raw"}) {
        for (bool chunked : {false, true}) {
            const std::string setting = std::string(R"({"encoding": ")") + encoding + R"(", "chunked": )" +
                                        (chunked ? "true" : "false") + "}";
            server().Control("POST", "/encoding", setting);
            const size_t before = Uploads().size();
            EXPECT_EQ(Upload(params), "") << setting;
            const auto uploads = Uploads();
            ASSERT_EQ(uploads.size(), before + 1) << setting;
            const picojson::value& response = uploads.back().get("response");
            EXPECT_EQ(RecordString(response, "encoding"), encoding) << setting;
            EXPECT_EQ(RecordString(response, "framing"), chunked ? "chunked" : "length") << setting;
            EXPECT_EQ(RecordString(uploads.back(), "head_text"), plainHead) << setting;
        }
    }
    server().Control("POST", "/encoding", "{}");
}

// --- Calls that send nothing ---

TEST_F(UploadTest, CallerErrorsSendNothing) {
    const UploadParams params = Params(WriteFile(L"x.txt", "x"));
    UploadProgressContext progress;
    progress.fileNameDisplay = controls.display;
    const int before = server().LastSequence();

    // The result is a failure's text, never "" (which reads as stored).
    const std::string failed = "ファイルの送信に失敗しました。";
    EXPECT_EQ(api.UploadContentFile(nullptr, session.get(), params, progress, &message), failed);
    EXPECT_EQ(api.UploadContentFile(connection.get(), nullptr, params, progress, &message), failed);
    EXPECT_EQ(api.UploadContentFile(connection.get(), session.get(), params, progress, nullptr), failed);
    EXPECT_EQ(message, "untouched");
    EXPECT_EQ(server().LastSequence(), before);
    EXPECT_TRUE(controls.names.empty());
    const std::string trace = Trace();
    EXPECT_EQ(CountOf(trace, "NOT Session Instance Error"), 2);
    EXPECT_EQ(CountOf(trace, "ErrorMessage is null"), 1);
}

TEST_F(UploadTest, UnparsableServerUrlSendsNothing) {
    const int before = server().LastSequence();
    settings.Server = "not a url";
    EXPECT_EQ(Upload(Params(WriteFile(L"x.txt", "x"))), kUrlInvalidText);
    EXPECT_EQ(server().LastSequence(), before);
    EXPECT_EQ(controls.names, (std::vector<std::wstring>{L"report.txt", L""}));
}

}  // namespace
