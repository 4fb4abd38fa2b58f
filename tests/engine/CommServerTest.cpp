// The shared server session over real HTTP to the stand-in server, on real
// threads: overlapping users share one login and the last one out logs out,
// users in sequence log in and out each time, a failed login or a lock that
// is not obtained in time leaves nothing held. Each test has a session object
// of its own; the facade's tests use the process-wide one and leave it
// logged out and unlocked.
#include "zinpost/engine/CommServer.h"
#include "zinpost/engine/Messages.h"

#include "tests/support/JoiningThread.h"
#include "tests/support/StandinFixture.h"

#include <gtest/gtest.h>

#include <atomic>

#include <algorithm>
#include <thread>

using namespace testing_support;

namespace {

const char kUntouched[] = "untouched";
const char kLockFailed[] = "原因不明のエラーが発生しました。\nTessaly センドレットを再起動してください。";
const char kWrongAccount[] = "ログインできませんでした。\nURL、ユーザー名、パスワードが正しいか、確認して下さい。";
const char kListingEndpoint[] = "manageContentGroups.json";
const char kUploadEndpoint[] = "uploadContentFile.json";

// A record's sequence number (order of arrival at the server).
int Seq(const picojson::value& record) { return static_cast<int>(record.get("seq").get<double>()); }

// The endpoints of all records in order of arrival.
std::vector<std::string> Endpoints(const std::vector<picojson::value>& records) {
    std::vector<std::string> names;
    for (const picojson::value& r : records) names.push_back(RecordString(r, "endpoint"));
    return names;
}

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class SessionTest : public StandinTest {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        SetGroups(u8R"([{"content_group_id": "1", "parent_content_group_id": null, "title_ja": "営業部", "type": "1"},
                        {"content_group_id": "2", "parent_content_group_id": "1", "title_ja": "見積書", "type": "2"}])");
    }

    // An upload into group 1 of a small file of the scratch folder.
    UploadParams Params(const std::wstring& title) {
        const std::wstring path = dir.File(title + L".txt");
        EXPECT_TRUE(WriteFileBytes(path, "bytes of " + fw::WideToAnsi(title)));
        UploadParams params;
        params.folder = 1;
        params.title = title;
        params.path = path;
        return params;
    }
    UploadProgressContext Progress() {
        UploadProgressContext progress;
        progress.transferFlag = &transferFlag;
        progress.cancelFlag = &cancelFlag;
        return progress;
    }

    // One session with one login and one logout, as the server counted them.
    void ExpectOneSessionLoggedInAndOut() {
        const picojson::value counters = server().Counters();
        EXPECT_EQ(counters.get("logins").get<double>(), 1);
        EXPECT_EQ(counters.get("logouts").get<double>(), 1);
        const picojson::object& sessions = counters.get("sessions").get<picojson::object>();
        ASSERT_EQ(sessions.size(), 1u);
        EXPECT_EQ(sessions.begin()->second.get("logins").get<double>(), 1);
        EXPECT_EQ(sessions.begin()->second.get("logouts").get<double>(), 1);
    }

    // Logged out with nobody counted, and the lock free for another thread.
    void ExpectIdle(CCommServerSingleton& session) {
        EXPECT_EQ(session.UserCount(), 0);
        // From another thread: the lock is recursive for its holder.
        CCommServerSingleton::State state = CCommServerSingleton::State::Busy;
        std::thread other([&] { state = session.CurrentState(); });
        other.join();
        EXPECT_EQ(state, CCommServerSingleton::State::LoggedOut);
    }

    std::atomic<int> transferFlag{0};
    std::atomic<int> cancelFlag{0};
    ContentGroupList roots, children;
    std::string message = kUntouched;
};

}  // namespace

TEST_F(SessionTest, ListingLogsInReadsAndLogsOut) {
    CCommServerSingleton session;
    ASSERT_EQ(session.GetManageContentGroups(&roots, &children, &message), 1) << message;
    EXPECT_EQ(message, kUntouched);
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(roots[0].Name, "営業部");
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(children[0].Id, "2");

    ExpectOneSessionLoggedInAndOut();
    const auto records = server().Requests();
    EXPECT_EQ(Endpoints(records),
              (std::vector<std::string>{CTessalyWebAPI::kLoginEndpoint, kListingEndpoint,
                                        CTessalyWebAPI::kLogoutEndpoint}));
    ExpectIdle(session);

    const std::string trace = Trace();
    EXPECT_NE(trace.find("start LoginAndLock["), std::string::npos);
    EXPECT_NE(trace.find("WebAPIの通信処理中：Lock取得OK TID:"), std::string::npos);
    EXPECT_NE(trace.find("ServerLogin  ---[ret:1,untouched]["), std::string::npos);
    EXPECT_NE(trace.find("ManageContentGroups  :[1]["), std::string::npos);
    EXPECT_NE(trace.find("do logout [0] err:untouched"), std::string::npos);
}

TEST_F(SessionTest, ListingFailuresComeBackAsTheirTexts) {
    CCommServerSingleton session;
    server().Script(kListingEndpoint, R"([{"errno": 4}, {"not_json": true}, {"status": 503}])");
    EXPECT_EQ(session.GetManageContentGroups(&roots, &children, &message), 0);
    EXPECT_EQ(message, "この端末の利用が認められてません。管理者に端末の利用申請をして下さい。");
    EXPECT_EQ(session.GetManageContentGroups(&roots, &children, &message), 0);
    EXPECT_EQ(message, "フォルダー情報が取得できません。");
    EXPECT_EQ(session.GetManageContentGroups(&roots, &children, &message), 0);
    EXPECT_EQ(message, CTessalyWebAPI::HttpStatusMessage(503));

    SetGroups(R"([{"content_group_id": 7, "parent_content_group_id": 3, "title_ja": "orphan"}])");
    EXPECT_EQ(session.GetManageContentGroups(&roots, &children, &message), 0);
    EXPECT_EQ(message, "フォルダー情報がありません。");
    EXPECT_TRUE(roots.empty());
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(children[0].Id, "7.000000");

    // Every one logged in and out again.
    EXPECT_EQ(Counter("logins"), 4);
    EXPECT_EQ(Counter("logouts"), 4);
    ExpectIdle(session);
}

TEST_F(SessionTest, OverlappingUploadAndListingShareOneLogin) {
    CCommServerSingleton session;
    // The upload's answer is held until the listing has joined the session.
    server().Script(kUploadEndpoint, R"([{"hold": "upload"}])");
    const UploadParams params = Params(L"見積書");
    std::string uploadResult = "not run", uploadMessage;
    int listed = -1;
    std::string listMessage;
    const auto release = [&] { server().Release("*"); };
    JoiningThread upload([&] { uploadResult = session.UploadContentFile(params, Progress(), &uploadMessage); },
                         release);
    ASSERT_TRUE(server().WaitAtGate("upload")) << "the upload never reached the server";
    JoiningThread listing([&] { listed = session.GetManageContentGroups(&roots, &children, &listMessage); },
                          release);
    // The listing is counted while the upload still holds the session.
    ASSERT_TRUE(WaitFor([&] { return session.UserCount() == 2; }, 20000))
        << "the listing did not join the running upload";
    server().Release("upload");
    upload.join();
    listing.join();

    EXPECT_EQ(uploadResult, "") << uploadMessage;
    EXPECT_EQ(listed, 1) << listMessage;
    ExpectOneSessionLoggedInAndOut();

    // One login first, the logout after the later of the two requests, all
    // on the login's session.
    const auto records = server().Requests();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(Endpoints(records), (std::vector<std::string>{CTessalyWebAPI::kLoginEndpoint, kUploadEndpoint,
                                                            kListingEndpoint, CTessalyWebAPI::kLogoutEndpoint}));
    const std::string sessionId = RecordString(records[0], "new_session");
    for (size_t i = 1; i < records.size(); ++i) EXPECT_EQ(RecordString(records[i], "session"), sessionId) << i;
    EXPECT_LT(std::max(Seq(records[1]), Seq(records[2])), Seq(records[3]));

    const std::string trace = Trace();
    EXPECT_NE(trace.find("does not logout [1]"), std::string::npos);
    EXPECT_EQ(Count(trace, "do logout [0]"), 1);
    ExpectIdle(session);
}

TEST_F(SessionTest, UploadsInSequenceLogInAndOutEachTime) {
    CCommServerSingleton session;
    for (const wchar_t* title : {L"one", L"two", L"three"}) {
        EXPECT_EQ(session.UploadContentFile(Params(title), Progress(), &message), "") << message;
        EXPECT_EQ(session.UserCount(), 0);
    }
    const picojson::value counters = server().Counters();
    EXPECT_EQ(counters.get("logins").get<double>(), 3);
    EXPECT_EQ(counters.get("logouts").get<double>(), 3);
    EXPECT_EQ(counters.get("uploads_stored").get<double>(), 3);
    const picojson::object& sessions = counters.get("sessions").get<picojson::object>();
    EXPECT_EQ(sessions.size(), 3u);
    for (const auto& s : sessions) {
        EXPECT_EQ(s.second.get("logins").get<double>(), 1) << s.first;
        EXPECT_EQ(s.second.get("logouts").get<double>(), 1) << s.first;
    }
    const std::vector<std::string> round = {CTessalyWebAPI::kLoginEndpoint, kUploadEndpoint,
                                            CTessalyWebAPI::kLogoutEndpoint};
    std::vector<std::string> expected;
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), round.begin(), round.end());
    EXPECT_EQ(Endpoints(server().Requests()), expected);
    ExpectIdle(session);
}

TEST_F(SessionTest, FailedLoginLeavesNoSessionAndTheLockFree) {
    CCommServerSingleton session(500);
    settings.Password = "wrong";
    EXPECT_EQ(session.GetManageContentGroups(&roots, &children, &message), 0);
    EXPECT_EQ(message, kWrongAccount);
    // The upload's result is the login's text: the file is not reported stored.
    std::string uploadMessage;
    EXPECT_EQ(session.UploadContentFile(Params(L"memo"), Progress(), &uploadMessage), kWrongAccount);
    EXPECT_EQ(uploadMessage, kWrongAccount);
    EXPECT_EQ(session.UserCount(), 0);
    EXPECT_EQ(Counter("login_failures"), 2);
    EXPECT_EQ(Endpoints(server().Requests()),
              (std::vector<std::string>{CTessalyWebAPI::kLoginEndpoint, CTessalyWebAPI::kLoginEndpoint}));

    // Another thread gets the lock at once (a held one would time out with 102).
    settings.Password = "secret";
    int listed = -1;
    std::string otherMessage;
    std::thread other([&] { listed = session.GetManageContentGroups(&roots, &children, &otherMessage); });
    other.join();
    EXPECT_EQ(listed, 1) << otherMessage;
    ExpectIdle(session);
}

TEST_F(SessionTest, LockNotObtainedInTimeGives102) {
    CCommServerSingleton session(300);
    ASSERT_EQ(session.LoginAndLock(&message), 1) << message;
    const int sent = server().LastSequence();

    const UploadParams params = Params(L"late");
    int listed = -1;
    std::string listMessage, uploadResult, uploadMessage;
    int countAfter = -1;
    std::thread other([&] {
        listed = session.GetManageContentGroups(&roots, &children, &listMessage);
        uploadResult = session.UploadContentFile(params, Progress(), &uploadMessage);
        countAfter = session.UserCount();
        session.UnlockToAbort();  // times out as well, and returns
    });
    other.join();
    EXPECT_EQ(listed, 0);
    EXPECT_EQ(listMessage, kLockFailed);
    EXPECT_EQ(uploadResult, kLockFailed);
    EXPECT_EQ(uploadMessage, kLockFailed);
    EXPECT_EQ(countAfter, 1) << "the waiters gave their count back";
    EXPECT_EQ(server().LastSequence(), sent) << "nothing was sent";

    // The holder is still the only user: it logs out.
    EXPECT_EQ(session.LogoutAndUnlocked(&message), 1) << message;
    ExpectOneSessionLoggedInAndOut();
    ExpectIdle(session);

    const std::string trace = Trace();
    EXPECT_EQ(Count(trace, "WebAPIの通信処理：取得NG TID:"), 2);
    EXPECT_NE(trace.find(fw::Format("Locked failed to timeout error [%d]  [", static_cast<int>(WAIT_TIMEOUT))),
              std::string::npos);
    EXPECT_EQ(LoadMessageById(102), kLockFailed);
}

TEST_F(SessionTest, TheSameThreadNestsOnTheLock) {
    CCommServerSingleton session;
    ASSERT_EQ(session.LoginAndLock(&message), 1) << message;
    // A listing from inside a held session shares it.
    ASSERT_EQ(session.GetManageContentGroups(&roots, &children, &message), 1) << message;
    EXPECT_EQ(session.UserCount(), 1);
    EXPECT_EQ(Counter("logouts"), 0);
    EXPECT_EQ(session.LogoutAndUnlocked(&message), 1);
    ExpectOneSessionLoggedInAndOut();
    ExpectIdle(session);
}

// --- The facade on the process-wide session ---

TEST_F(SessionTest, FacadeGoesToTheProcessWideSession) {
    CCommServerSingleton& shared = CCommServerSingleton::GetInstance();
    // Held open here, the process-wide session carries the facade's requests.
    ASSERT_EQ(shared.LoginAndLock(&message), 1) << message;
    {
        CCommServer facade;
        ASSERT_EQ(facade.GetManageContentGroups(&message, &roots, &children), 1) << message;
        EXPECT_EQ(roots.size(), 1u);
        EXPECT_EQ(facade.UploadContentFile(Params(L"facade"), Progress(), &message), "") << message;
    }
    EXPECT_EQ(Counter("logins"), 1);
    EXPECT_EQ(Counter("logouts"), 0);
    EXPECT_EQ(shared.LogoutAndUnlocked(&message), 1) << message;
    ExpectOneSessionLoggedInAndOut();
    ExpectIdle(shared);

    const std::string trace = Trace();
    EXPECT_NE(trace.find("CCommServer Constractor[count:1]"), std::string::npos);
    EXPECT_NE(trace.find("CCommServer :: GetManageContentGroups[untouched]"), std::string::npos);
    EXPECT_NE(trace.find("CCommServer destractor"), std::string::npos);
    EXPECT_NE(trace.find("セッションセマフォ、アンロック["), std::string::npos);
}

TEST_F(SessionTest, FacadeLogoutEndsAnOpenSessionDirectly) {
    CCommServerSingleton& shared = CCommServerSingleton::GetInstance();
    // A session open with nobody counted, as a window closing may find it.
    ASSERT_EQ(shared.ServerLogin(&message), 1) << message;
    EXPECT_EQ(shared.CurrentState(), CCommServerSingleton::State::LoggedIn);
    EXPECT_EQ(CCommServer().Logout(&message), 1) << message;
    EXPECT_EQ(Counter("logouts"), 1);
    ExpectIdle(shared);
    // Nothing open: nothing sent, the text untouched.
    const int sent = server().LastSequence();
    EXPECT_EQ(CCommServer().Logout(&message), 0);
    EXPECT_EQ(message, kUntouched);
    EXPECT_EQ(server().LastSequence(), sent);
}

TEST_F(SessionTest, FinalLogoutLeavesASessionInUseAlone) {
    // A login that is still on its way, as one held in the proxy credential
    // dialog.
    server().Script(CTessalyWebAPI::kLoginEndpoint, R"([{"hold": "login"}])");
    CCommServerSingleton session;
    std::string loginMessage;
    int loggedIn = -1;
    JoiningThread user([&] { loggedIn = session.LoginAndLock(&loginMessage); }, [&] { server().Release("*"); });
    ASSERT_TRUE(server().WaitAtGate("login"));
    // The window going away meanwhile neither waits for the login (it is
    // still held) nor ends the session: it sees a user.
    EXPECT_EQ(session.LogoutIfIdle(&message), 0);
    EXPECT_EQ(message, kUntouched);
    EXPECT_EQ(server().Control("GET", "/gates").get("gates").get("login").get("waiting").get<double>(), 1);
    EXPECT_NE(Trace().find("session in use [1]: no logout"), std::string::npos) << Trace();
    server().Release("login");
    user.join();
    ASSERT_EQ(loggedIn, 1) << loginMessage;
    EXPECT_TRUE(server().Requests(CTessalyWebAPI::kLogoutEndpoint).empty());
    // The user still has its session and logs out itself as the last one.
    EXPECT_EQ(session.LogoutAndUnlocked(&message), 1) << message;
    EXPECT_EQ(Counter("logouts"), 1);
    ExpectIdle(session);
}
