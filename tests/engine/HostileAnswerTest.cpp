// A generated corpus of hostile and broken answers (malformed envelopes,
// wrong types, truncations, deep nesting, huge numbers, NUL bytes and bad
// UTF-8, oversize, gzip bombs, slow, stalled and endless bodies) against
// login, logout, the group listing and the upload, over real HTTP from the
// stand-in server. Every answer must end with the text for its case, within
// the answer limits, and nothing may crash or keep reading without bound.
#include "zinpost/engine/CommServer.h"
#include "zinpost/engine/UploadLimits.h"
#include "zinpost/engine/TessalyWebAPI.h"

#include "tests/support/StandinFixture.h"

#include <psapi.h>
#include <wincrypt.h>

#include <atomic>
#include <cstdio>
#include <thread>

using namespace testing_support;

namespace {

const char kUntouched[] = "untouched";
const char kLoginHeading[] = "ログインできませんでした。\n";
const char kLogoutHeading[] = "ログアウトが失敗しました。\n";
const char kNoResponseData[] = "レスポンスデータがありません。";             // 107
const char kParseFailed[] = "レスポンスデータの解析に失敗しました。";       // 108
const char kFolderInfoUnavailable[] = "フォルダー情報が取得できません。";  // 117
const char kNoFolderInfo[] = "フォルダー情報がありません。";                // 119
const char kCancelled[] = "アップロードをキャンセルしました。";             // 147
const char kSendFailed[] = " ファイルの送信に失敗しました。(Exc:";          // 166, as the upload words it
const char kErrno6Text[] = "URL、ユーザー名、パスワードが正しいか、確認して下さい。";
const char kErrno4Text[] = "この端末の利用が認められてません。管理者に端末の利用申請をして下さい。";
const char kErrno401Text[] =
    "ログインしてください。管理サーバーから要求がありました。管理サーバーから情報を取得するにはログインが必要です。";
const char kErrno14Text[] =
    "アップロード先の容量不足が発生しています。不要なファイルを削除して、空き容量を増やして下さい。";
// The answer waits of these tests: short, but far above a loaded machine's
// answer times of the normal requests around the scripted one.
constexpr DWORD kWaitMs = 2000;
constexpr DWORD kReadLimitMs = 3000;

enum class Endpoint { Login, Logout, Listing, Upload };
const char* EndpointName(Endpoint e) {
    switch (e) {
    case Endpoint::Login: return "authUserLogin";
    case Endpoint::Logout: return "authUserLogout";
    case Endpoint::Listing: return "manageContentGroups.json";
    default: return "uploadContentFile.json";
    }
}

// How an answer must end.
enum class Outcome {
    Accepted,     // the operation succeeds
    ServerError,  // the server's message for `code`
    Unreadable,   // not JSON (108; 117 for the listing)
    Empty,        // 107
    Status,       // the HTTP status message for `code`
    Timeout,      // the read limit: ERROR_INTERNET_TIMEOUT
    Transport,    // a wait ran out or the connection broke: the operation's network text
    Cancelled,    // 147 (upload only)
    NoFolder,     // 119: a listing without a top-level group (listing only)
};

struct HostileAnswer {
    std::string label;
    std::string step;  // the stand-in's script step (JSON object)
    Outcome outcome;
    int code = 0;
};

std::string Base64(const std::string& bytes) {
    DWORD size = 0;
    const auto* data = reinterpret_cast<const BYTE*>(bytes.data());
    CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF, nullptr,
                         &size);
    std::string text(size, '\0');
    CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF,
                         text.data(), &size);
    text.resize(size);
    return text;
}

std::string BodyStep(const std::string& body) { return "{\"body_b64\": \"" + Base64(body) + "\"}"; }

// The whole answer document: the envelope `result`, and for the listing one
// top-level group (so that an accepted listing has something to show).
std::string Document(Endpoint e, const std::string& result, const std::string& extra = std::string()) {
    std::string doc = "{\"result\": " + result;
    if (e == Endpoint::Listing)
        doc += R"(, "content_groups": [{"content_group_id": 1, "parent_content_group_id": null, "title_ja": "A"}])";
    return doc + extra + "}";
}

std::string UnknownCodeText(int code) { return fw::Format("サーバーから不明なエラーコード(%d)が返されました。", code); }
std::string ServerText(int code) {
    switch (code) {
    case 4: return kErrno4Text;
    case 6: return kErrno6Text;
    case 14: return kErrno14Text;
    case 401: return kErrno401Text;
    default: return UnknownCodeText(code);
    }
}
std::string StatusText(int status) {
    return fw::Format(
        "正しいURLが入力されているか確認して下さい。管理サーバがダウンしている場合もあります。(StatusCode %d)",
        status);
}

// "success" values: JSON text and whether it reads as success (its text
// starts with "true").
const std::pair<const char*, bool> kSuccessValues[] = {
    {"true", true},          {"\"true\"", true},     {"\"truest\"", true},  {"\"true\\u0000x\"", true},
    {"false", false},        {"\"TRUE\"", false},    {"\"yes\"", false},    {"1", false},
    {"null", false},         {"[true]", false},      {"{\"a\": true}", false}, {"\"\\u0000true\"", false},
    {"1e308", false},
};
// "errno" values: JSON text and the code it reads as (its leading digits,
// clamped to the 32-bit range).
const std::pair<const char*, int> kErrnoValues[] = {
    {"6", 6},           {"6.0", 6},         {"6.9", 6},           {"\"6\"", 6},
    {"\"6abc\"", 6},    {"\"  6\"", 6},     {"14", 14},           {"-3", -3},
    {"1e18", 2147483647}, {"-1e18", -2147483647 - 1}, {"99999999999", 2147483647}, {"null", 0},
    {"true", 0},        {"[]", 0},          {"{}", 0},            {"\"\"", 0},
    {"\"\\u0000\"", 0}, {"\"\xef\xbc\x96\"", 0},  // a full-width 6
};
// Codes with texts of their own, codes without (a negative one must not
// reach the program's other strings: 10000 - 9899 = 101), and no digits.
const std::pair<const char*, int> kErrnoTexts[] = {
    {"4", 4}, {"401", 401}, {"8", 8}, {"17", 17}, {"99999", 99999}, {"-9899", -9899}, {"\"abc\"", 0},
};

// The corpus for one endpoint. The envelope matrix (every "success" with
// every "errno") runs against the login; the others get each value once.
std::vector<HostileAnswer> Corpus(Endpoint e) {
    std::vector<HostileAnswer> corpus;
    const auto add = [&](std::string label, std::string step, Outcome outcome, int code = 0) {
        corpus.push_back(HostileAnswer{std::move(label), std::move(step), outcome, code});
    };
    const auto envelope = [&](const char* success, const char* errnoValue, bool accepted, int code) {
        const std::string result = fw::Format("{\"success\": %s, \"errno\": %s}", success, errnoValue);
        add("result " + result, BodyStep(Document(e, result)), accepted ? Outcome::Accepted : Outcome::ServerError,
            code);
    };

    // Malformed envelopes and wrong types.
    for (const auto& [success, accepted] : kSuccessValues) {
        if (e == Endpoint::Login) {
            for (const auto& [errnoValue, code] : kErrnoValues) envelope(success, errnoValue, accepted, code);
        } else {
            envelope(success, "6", accepted, 6);
        }
    }
    if (e != Endpoint::Login)
        for (const auto& [errnoValue, code] : kErrnoValues) envelope("false", errnoValue, false, code);
    for (const auto& [errnoValue, code] : kErrnoTexts) envelope("false", errnoValue, false, code);
    for (const char* result : {"\"ok\"", "\"true\"", "[1, 2]", "null", "7", "true", "{}"})
        add(std::string("result ") + result, BodyStep(Document(e, result)), Outcome::ServerError, 0);
    for (const char* top : {"[]", "[{\"result\": {\"success\": true}}]", "\"text\"", "\"true\"", "42", "null",
                            "{\"results\": {\"success\": true}}"})
        add(std::string("top ") + top, BodyStep(top), Outcome::ServerError, 0);
    add("long success", BodyStep(Document(e, "{\"success\": \"true" + std::string(10000, 'x') + "\"}")),
        Outcome::Accepted);
    add("long errno", BodyStep(Document(e, "{\"success\": false, \"errno\": \"6" + std::string(100000, '7') + "\"}")),
        Outcome::ServerError, 2147483647);
    add("invalid UTF-8 success",
        BodyStep(Document(e, "{\"success\": \"\xff\xfe\x80true\", \"errno\": \"6\xff\"}")), Outcome::ServerError,
        6);

    // Truncated: every proper prefix of a whole answer.
    const std::string whole = Document(e, "{\"success\": true, \"errno\": 0}");
    for (size_t n = 1; n < whole.size(); n += e == Endpoint::Login ? 1 : 4)
        add("prefix " + std::to_string(n), BodyStep(whole.substr(0, n)), Outcome::Unreadable);
    add("cut by the server", "{\"cut_answer_after\": 20}", Outcome::Unreadable);
    add("empty", "{\"empty\": true}", Outcome::Empty);
    add("line feeds only", BodyStep("\n\n\n"), Outcome::Empty);
    add("blanks only", BodyStep("   "), Outcome::Unreadable);
    add("not JSON", "{\"not_json\": true}", Outcome::Unreadable);
    add("byte order mark", BodyStep("\xef\xbb\xbf" + whole), Outcome::Unreadable);
    add("NUL before", BodyStep(std::string(1, '\0') + whole), Outcome::Unreadable);
    add("NUL in a string", BodyStep(Document(e, std::string("{\"success\": \"tr\0ue\"}", 20))), Outcome::Unreadable);

    // Numbers the reader cannot hold.
    for (const char* number : {"1e999", "-1e999", "1e400"}) {
        add(std::string("errno ") + number, BodyStep(Document(e, std::string("{\"success\": false, \"errno\": ") + number + "}")),
            Outcome::Unreadable);
        add(std::string("beside ") + number, BodyStep(Document(e, "{\"success\": true}", std::string(", \"x\": ") + number)),
            Outcome::Unreadable);
    }
    // Nesting: the reader takes 100 levels below the top object, no more.
    const auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    add("nested 100", BodyStep(Document(e, "{\"success\": true}", ", \"x\": " + nested(100))), Outcome::Accepted);
    add("nested 101", BodyStep(Document(e, "{\"success\": true}", ", \"x\": " + nested(101))), Outcome::Unreadable);
    add("nested 100000", BodyStep(std::string(100000, '[')), Outcome::Unreadable);

    // Sizes: exactly the limit is read, one byte more is not.
    const std::string accepted = Document(e, "{\"success\": true, \"errno\": 0}");
    const size_t limit = CTessalyWebAPI::kMaxAnswerBytes;
    add("at the size limit", "{\"json\": " + accepted + ", \"pad_to\": " + std::to_string(limit) + "}",
        Outcome::Accepted);
    add("above the size limit", "{\"json\": " + accepted + ", \"pad_to\": " + std::to_string(limit + 1) + "}",
        Outcome::Unreadable);
    // Never decoded, so never inflated: the compressed bytes are no JSON.
    add("gzip bomb", "{\"json\": " + accepted + ", \"pad_to\": " + std::to_string(64 << 20) + ", \"gzip\": true}",
        Outcome::Unreadable);
    add("endless", "{\"endless\": true}", Outcome::Unreadable);

    // Time: a body that trickles or stalls, a head that never comes.
    add("trickle", "{\"answer_rate\": 1}", Outcome::Timeout);
    add("stall", "{\"stall_after\": 10}", Outcome::Transport);
    if (e == Endpoint::Login) add("endless trickle", "{\"endless\": true, \"answer_rate\": 2}", Outcome::Timeout);
    if (e == Endpoint::Login || e == Endpoint::Upload) {
        // An upload whose answer never comes failed in the network: it is
        // sent again, and the next attempt's answer is a normal one. The
        // platform reports a login without any answer as status 0.
        const bool upload = e == Endpoint::Upload;
        add("late head", "{\"delay_ms\": 8000}", upload ? Outcome::Accepted : Outcome::Transport);
        add("no answer", "{\"hangup\": true}", upload ? Outcome::Accepted : Outcome::Status, 0);
    }
    if (e == Endpoint::Upload) add("cancel while the answer trickles", "{\"answer_rate\": 1}", Outcome::Cancelled);

    if (e == Endpoint::Listing) {
        // Group lists and group fields of the wrong types.
        const std::string ok = "{\"result\": {\"success\": true}, \"content_groups\": ";
        for (const char* groups : {"{}", "\"groups\"", "null", "7", "[1, \"a\", null, [], true]"})
            add(std::string("groups ") + groups, BodyStep(ok + groups + "}"), Outcome::NoFolder);
        // A title of any type is listed by its text; one of NUL alone is empty and is not.
        const std::pair<const char*, bool> titles[] = {
            {"{}", true}, {"[]", true}, {"12", true}, {"true", true}, {"\"\\u0000\"", false}};
        for (const auto& [title, listed] : titles)
            add(std::string("title ") + title,
                BodyStep(ok + "[{\"content_group_id\": [], \"parent_content_group_id\": null, \"title_ja\": " + title +
                         ", \"type\": {}}]}"),
                listed ? Outcome::Accepted : Outcome::NoFolder);
        add("parent of a wrong type", BodyStep(ok + "[{\"parent_content_group_id\": {}, \"title_ja\": \"A\"}]}"),
            Outcome::NoFolder);
    }

    for (int status : {500, 404, 503, 201})
        add("status " + std::to_string(status),
            "{\"status\": " + std::to_string(status) + ", \"json\": " + accepted + "}", Outcome::Status, status);
    return corpus;
}

class HostileAnswerTest : public StandinTest, public ::testing::WithParamInterface<Endpoint> {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        CTessalyWebAPI::SetAnswerTimeLimitsForTesting(kWaitMs, kReadLimitMs);
        SetUploadRetryPauseForTesting(0);
        ASSERT_TRUE(WriteFileBytes(dir.File(L"upload.txt"), "hostile answers"));
    }
    void TearDown() override {
        CTessalyWebAPI::SetAnswerTimeLimitsForTesting(CTessalyWebAPI::kAnswerWaitMs,
                                                      CTessalyWebAPI::kAnswerReadLimitMs);
        SetUploadRetryPauseForTesting(kUploadRetryPauseMs);
    }

    struct Result {
        int value = -1;  // the operation's int result (login, logout, listing)
        std::string text = kUntouched;
        size_t sends = 0;  // the requests of the endpoint the server answered
    };

    // One operation against the scripted answer.
    Result Run(Endpoint e, const HostileAnswer& answer) {
        Result r;
        CTessalyWebAPI api;
        InternetSessionHolder session;
        HttpConnectionHolder connection;
        if (e == Endpoint::Logout) {
            std::string message;
            if (!api.AuthUserLogin(session, &message, connection)) {
                ADD_FAILURE() << "login before the logout: " << message;
                return r;
            }
        }
        server().Script(EndpointName(e), "[" + answer.step + "]");
        const int since = server().LastSequence();
        switch (e) {
        case Endpoint::Login:
            r.value = api.AuthUserLogin(session, &r.text, connection);
            break;
        case Endpoint::Logout:
            r.value = api.AuthUserLogout(session, connection, &r.text);
            break;
        case Endpoint::Listing: {
            CCommServerSingleton sessionObject;
            ContentGroupList roots, children;
            r.value = sessionObject.GetManageContentGroups(&roots, &children, &r.text);
            break;
        }
        case Endpoint::Upload: {
            CCommServerSingleton sessionObject;
            UploadParams params;
            params.folder = 3;
            params.title = L"upload";
            params.path = dir.File(L"upload.txt");
            std::atomic<int> transfer{0}, cancel{0};
            UploadProgressContext progress;
            progress.transferFlag = &transfer;
            progress.cancelFlag = &cancel;
            std::thread canceller;
            if (answer.outcome == Outcome::Cancelled) {
                // Once the server has the whole upload, only the answer is left to read.
                canceller = std::thread([&] {
                    WaitFor([&] { return !server().Requests(EndpointName(e), since).empty(); }, 20000);
                    cancel = 1;
                });
            }
            std::string message;
            r.text = sessionObject.UploadContentFile(params, progress, &message);
            if (canceller.joinable()) canceller.join();
            break;
        }
        }
        // The record of an answered request may be finished just after the
        // client has read the answer.
        WaitFor([&] { return (r.sends = server().Requests(EndpointName(e), since).size()) > 0; }, 5000);
        return r;
    }

    // Checks the result against the text for the answer's case.
    void Check(Endpoint e, const HostileAnswer& a, const Result& r) {
        SCOPED_TRACE(a.label + " -> " + fw::WideToUtf8(fw::AnsiToWide(r.text)));
        const bool login = e == Endpoint::Login, logout = e == Endpoint::Logout, upload = e == Endpoint::Upload;
        const std::string heading = login ? kLoginHeading : logout ? kLogoutHeading : "";
        if (a.outcome == Outcome::Accepted) {
            if (upload) {
                EXPECT_EQ(r.text, "");
            } else {
                EXPECT_EQ(r.value, 1);
                EXPECT_EQ(r.text, kUntouched);
            }
            return;
        }
        if (!upload) {
            EXPECT_EQ(r.value, 0);
        }
        // An answer, however bad, is never a reason to send again.
        if (a.outcome == Outcome::ServerError || a.outcome == Outcome::Unreadable || a.outcome == Outcome::Empty ||
            a.outcome == Outcome::Status || a.outcome == Outcome::NoFolder) {
            EXPECT_EQ(r.sends, 1u);
        }
        switch (a.outcome) {
        case Outcome::ServerError:
            EXPECT_EQ(r.text, heading + ServerText(a.code));
            break;
        case Outcome::Unreadable:
            EXPECT_EQ(r.text, heading + (e == Endpoint::Listing ? kFolderInfoUnavailable : kParseFailed));
            break;
        case Outcome::Empty:
            EXPECT_EQ(r.text, heading + kNoResponseData);
            break;
        case Outcome::Status:
            EXPECT_EQ(r.text, heading + StatusText(a.code));
            break;
        case Outcome::Cancelled:
            EXPECT_EQ(r.text, kCancelled);
            break;
        case Outcome::NoFolder:
            EXPECT_EQ(r.text, kNoFolderInfo);
            break;
        case Outcome::Timeout:
        case Outcome::Transport: {
            // The listing tells nothing of a network failure.
            if (e == Endpoint::Listing) {
                EXPECT_EQ(r.text, kUntouched);
                break;
            }
            const std::string code = a.outcome == Outcome::Timeout ? std::to_string(ERROR_INTERNET_TIMEOUT) : "";
            if (login) {
                EXPECT_EQ(r.text.rfind(heading, 0), 0u) << r.text;
                EXPECT_NE(r.text.find(" : InternetException(" + code), std::string::npos) << r.text;
            } else if (logout) {
                EXPECT_EQ(r.text.rfind(heading + "InetException:" + code, 0), 0u) << r.text;
            } else {
                EXPECT_EQ(r.text.rfind(kSendFailed + code, 0), 0u) << r.text;
            }
            break;
        }
        default:
            break;
        }
    }
};

constexpr size_t kPeakWorkingSetBoundMiB = 96;

size_t PeakWorkingSetMiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize >> 20;
}

TEST_P(HostileAnswerTest, EachEndsWithTheTextForItsCase) {
    const Endpoint e = GetParam();
    const std::vector<HostileAnswer> corpus = Corpus(e);
    for (const HostileAnswer& answer : corpus) {
        Check(e, answer, Run(e, answer));
        // Nothing left over for the next answer.
        server().ClearScripts();
    }
    const size_t peak = PeakWorkingSetMiB();
    std::printf("hostile answers against %s: %zu tried, peak working set %zu MiB\n", EndpointName(e),
                corpus.size(), peak);
    // What an answer may take is bounded (8 MiB of body): the process stays
    // within what it needs anyway (about 40 MiB under Wine) and a few copies
    // of that, whatever the server sends.
    EXPECT_LT(peak, kPeakWorkingSetBoundMiB);
}

std::string EndpointLabel(const ::testing::TestParamInfo<Endpoint>& info) {
    static const char* const names[] = {"Login", "Logout", "Listing", "Upload"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Endpoints, HostileAnswerTest,
                         ::testing::Values(Endpoint::Login, Endpoint::Logout, Endpoint::Listing, Endpoint::Upload),
                         EndpointLabel);

}  // namespace
