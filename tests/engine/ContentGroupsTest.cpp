// The content-group listing: how every shape of answer reads
// (CControlJSON_For_Tessaly::SetContentGroups), and the listing request
// itself over real HTTP and HTTPS against the stand-in server, on a session
// opened by the real login.
#include "zinpost/engine/ContentGroupReader.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/engine/TessalyWebAPI.h"

#include "tests/support/StandinFixture.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const char kUntouched[] = "untouched";
const char kNoFolderInfo[] = "フォルダー情報がありません。";       // 119
const char kFolderInfoUnavailable[] = "フォルダー情報が取得できません。";  // 117
const char kErrno4Text[] = "この端末の利用が認められてません。管理者に端末の利用申請をして下さい。";

ContentGroup Group(const char* parent, const char* id, const char* name, const char* type) {
    return ContentGroup{parent, id, name, type};
}

struct Listing {
    int result = -1;
    ContentGroupList roots;
    ContentGroupList children;
    std::string message = kUntouched;
};

// Reads `response` (UTF-8, as the server sends it) into lists that held
// something before: the reader must clear them.
Listing Read(const std::string& response) {
    Listing listing;
    listing.roots.push_back(Group("stale", "stale", "stale", "stale"));
    listing.children.push_back(Group("stale", "stale", "stale", "stale"));
    listing.result =
        CControlJSON_For_Tessaly::SetContentGroups(&listing.roots, &listing.children, response, &listing.message);
    return listing;
}

std::string Answer(const std::string& groupsJson) {
    return R"({"result": {"success": true, "errno": 0}, "content_groups": )" + groupsJson + "}";
}

}  // namespace

// How gtest shows a group (found beside ContentGroup).
void PrintTo(const ContentGroup& g, std::ostream* os) {
    *os << "{" << g.ParentId << ", " << g.Id << ", " << g.Name << ", " << g.Type << "}";
}

// --- Reading the answer ---

TEST(ContentGroupReader, SplitsRootsAndChildrenInServerOrder) {
    const Listing l = Read(Answer(u8R"([
        {"content_group_id": "3", "parent_content_group_id": "1", "title_ja": "議事録", "type": "2"},
        {"content_group_id": "1", "parent_content_group_id": null, "title_ja": "営業部", "type": "1"},
        {"content_group_id": "4", "parent_content_group_id": "3", "title_ja": "2024年度", "type": "2"},
        {"content_group_id": "2", "parent_content_group_id": null, "title_ja": "総務部", "type": "3"},
        {"content_group_id": "5", "parent_content_group_id": "1", "title_ja": "見積書", "type": "2"}])"));
    EXPECT_EQ(l.result, 1);
    EXPECT_EQ(l.message, kUntouched);
    // Titles arrive as UTF-8 and are kept in the ANSI code page (Shift_JIS).
    const ContentGroupList roots = {Group("null", "1", "営業部", "1"), Group("null", "2", "総務部", "3")};
    const ContentGroupList children = {Group("1", "3", "議事録", "2"), Group("3", "4", "2024年度", "2"),
                                       Group("1", "5", "見積書", "2")};
    EXPECT_EQ(l.roots, roots);
    EXPECT_EQ(l.children, children);
}

TEST(ContentGroupReader, ValuesReadAsTheyRenderAsText) {
    const Listing l = Read(Answer(R"([
        {"content_group_id": 12, "parent_content_group_id": null, "title_ja": "numbers"},
        {"content_group_id": 13, "title_ja": "no parent member", "type": null},
        {"content_group_id": 14.5, "parent_content_group_id": 12, "title_ja": "child", "type": 2},
        {"content_group_id": true, "parent_content_group_id": "null", "title_ja": "odd", "type": [1]},
        {"content_group_id": {"x": 1}, "parent_content_group_id": false, "title_ja": "odder", "type": "null"}])"));
    EXPECT_EQ(l.result, 1);
    // An absent or null type reads as "1", so does the string "null"; the
    // string "null" as parent is a top-level group like a JSON null.
    const ContentGroupList roots = {Group("null", "12.000000", "numbers", "1"),
                                    Group("null", "13.000000", "no parent member", "1"),
                                    Group("null", "true", "odd", "array")};
    const ContentGroupList children = {Group("12.000000", "14.500000", "child", "2.000000"),
                                       Group("false", "object", "odder", "1")};
    EXPECT_EQ(l.roots, roots);
    EXPECT_EQ(l.children, children);
}

TEST(ContentGroupReader, GroupsWithoutTitleAreNotListed) {
    const Listing l = Read(Answer(u8R"([
        {"content_group_id": "1", "parent_content_group_id": null, "title_ja": ""},
        {"content_group_id": "2", "parent_content_group_id": null, "title_ja": "共有"},
        {"content_group_id": "3", "parent_content_group_id": "2", "title_ja": ""}])"));
    EXPECT_EQ(l.result, 1);
    EXPECT_EQ(l.roots, ContentGroupList{Group("null", "2", "共有", "1")});
    EXPECT_TRUE(l.children.empty());
}

TEST(ContentGroupReader, NoTopLevelGroupGives119WithTheChildrenFilled) {
    // Every group hangs below one the listing does not hold.
    const Listing l = Read(Answer(R"([
        {"content_group_id": "7", "parent_content_group_id": "99", "title_ja": "a"},
        {"content_group_id": "8", "parent_content_group_id": "7", "title_ja": "b"}])"));
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(l.message, kNoFolderInfo);
    EXPECT_TRUE(l.roots.empty());
    EXPECT_EQ(l.children, (ContentGroupList{Group("99", "7", "a", "1"), Group("7", "8", "b", "1")}));

    // No group at all, or no array: the same.
    for (const char* body : {R"({"result": {"success": true}, "content_groups": []})", R"({"result": {"success": true}})",
                             R"({"result": {"success": true}, "content_groups": {"1": 2}})",
                             R"({"result": {"success": true}, "content_groups": [1, "x", null]})"}) {
        const Listing empty = Read(body);
        EXPECT_EQ(empty.result, 0) << body;
        EXPECT_EQ(empty.message, kNoFolderInfo) << body;
        EXPECT_TRUE(empty.roots.empty() && empty.children.empty()) << body;
    }
}

// (How each kind of answer reads is in the hostile-answer tables.)
TEST(ContentGroupReader, GroupsBesideARefusalAreNotRead) {
    const Listing refused = Read(
        R"({"result": {"success": false, "errno": 4}, "content_groups": [{"content_group_id": "1", "title_ja": "a"}]})");
    EXPECT_EQ(refused.result, 0);
    EXPECT_EQ(refused.message, kErrno4Text);
    EXPECT_TRUE(refused.roots.empty() && refused.children.empty());
}

// A listing of more groups than any server has is no listing: the limit
// itself is read, one more reads as a listing that cannot be read.
TEST(ContentGroupReader, MoreGroupsThanTheLimitGive117) {
    for (const size_t count : {kMaxContentGroups, kMaxContentGroups + 1}) {
        std::string groups = "[";
        for (size_t i = 1; i <= count; ++i)
            groups += (i > 1 ? "," : "") + std::string(R"({"content_group_id":)") + std::to_string(i) +
                      R"(,"parent_content_group_id":null,"title_ja":"g"})";
        const Listing l = Read(Answer(groups + "]"));
        const bool accepted = count <= kMaxContentGroups;
        EXPECT_EQ(l.result, accepted ? 1 : 0) << count;
        EXPECT_EQ(l.roots.size(), accepted ? count : 0u) << count;
        EXPECT_EQ(l.message, accepted ? kUntouched : kFolderInfoUnavailable) << count;
    }
}

TEST(ContentGroupReader, EmptyResponseLeavesTheMessageAlone) {
    const Listing l = Read("");
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(l.message, kUntouched);
    EXPECT_TRUE(l.roots.empty() && l.children.empty());
}

// --- The request over HTTP ---

class ListingTest : public StandinTest {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        SetGroups(u8R"([{"content_group_id": "1", "parent_content_group_id": null, "title_ja": "営業部", "type": "1"},
                        {"content_group_id": "2", "parent_content_group_id": "1", "title_ja": "見積書", "type": "2"}])");
    }
    void TearDown() override {
        if (session) api.AuthUserLogout(session, connection, &message);
    }

    // Logs in on the door of the settings' URL.
    void Login() { ASSERT_EQ(api.AuthUserLogin(session, &message, connection), 1) << message; }
    int List() { return api.ManageContentGroups(connection.get(), session.get(), &response, &message); }

    CTessalyWebAPI api;
    InternetSessionHolder session;
    HttpConnectionHolder connection;
    std::string response;
    std::string message = kUntouched;
};

TEST_F(ListingTest, ReadsTheListingFromHttpAndHttps) {
    for (const char* door : {"http", "https", "https_expired"}) {
        SCOPED_TRACE(door);
        settings.Server = server().Url(door);
        settings.ServerCertificate.clear();  // as the server dialog leaves a new URL
        Login();
        const std::string sessionId = RecordString(server().Requests(CTessalyWebAPI::kLoginEndpoint).back(), "new_session");
        const int since = server().LastSequence();

        response.clear();
        ASSERT_EQ(List(), 1) << message;
        EXPECT_EQ(message, kUntouched);

        const auto records = server().Requests("manageContentGroups.json", since);
        ASSERT_EQ(records.size(), 1u);
        const picojson::value& record = records[0];
        EXPECT_EQ(RecordString(record, "door"), door);
        EXPECT_EQ(RecordString(record, "method"), "GET");
        EXPECT_EQ(RecordString(record, "target"), "/api/manageContentGroups.json");
        EXPECT_EQ(RecordString(record, "version"), "HTTP/1.0");
        EXPECT_EQ(RecordString(record, "session"), sessionId) << "the login's cookie went with the listing";
        EXPECT_FALSE(RecordHasHeader(record, "Content-type"));
        EXPECT_EQ(RecordBody(record), "");
        // The body as the server sent it (it holds no line feed).
        EXPECT_EQ(response, DecodeBase64(RecordString(record.get("response"), "body_b64")));

        ContentGroupList roots, children;
        ASSERT_EQ(CControlJSON_For_Tessaly::SetContentGroups(&roots, &children, response, &message), 1);
        EXPECT_EQ(roots, ContentGroupList{Group("null", "1", "営業部", "1")});
        EXPECT_EQ(children, ContentGroupList{Group("1", "2", "見積書", "2")});

        ASSERT_EQ(api.AuthUserLogout(session, connection, &message), 1) << message;
    }
}

TEST_F(ListingTest, ExactNumberFormsOfTheServer) {
    // Whatever the server writes for a number, it reads in "%f" form.
    SetListingBody(R"({"result": {"success": true, "errno": 0}, "content_groups": [
        {"content_group_id": 1e1, "parent_content_group_id": null, "title_ja": "ten", "type": 2.50},
        {"content_group_id": -0, "parent_content_group_id": 1E1, "title_ja": "zero"}]})");
    Login();
    ASSERT_EQ(List(), 1) << message;
    ContentGroupList roots, children;
    ASSERT_EQ(CControlJSON_For_Tessaly::SetContentGroups(&roots, &children, response, &message), 1);
    EXPECT_EQ(roots, ContentGroupList{Group("null", "10.000000", "ten", "2.500000")});
    EXPECT_EQ(children, ContentGroupList{Group("10.000000", "-0.000000", "zero", "1")});
}

TEST_F(ListingTest, ServerRefusalIsAnAnswerOfTheRequest) {
    // The request only fetches: the refusal is read by the reader.
    server().Script("manageContentGroups.json", R"([{"errno": 4}])");
    Login();
    ASSERT_EQ(List(), 1) << message;
    ContentGroupList roots, children;
    EXPECT_EQ(CControlJSON_For_Tessaly::SetContentGroups(&roots, &children, response, &message), 0);
    EXPECT_EQ(message, kErrno4Text);
}

// (How statuses and empty answers read is in the hostile-answer tables.)
TEST_F(ListingTest, UnparsableServerUrlSendsNothing) {
    Login();
    const int before = server().LastSequence();
    settings.Server = "not a url";
    EXPECT_EQ(List(), 0);
    EXPECT_EQ(message, "接続先のサーバー設定に誤りがあります。");
    EXPECT_EQ(server().LastSequence(), before);
    settings.Server = server().Url();
}

TEST_F(ListingTest, TransportFailureGivesNoDetail) {
    // A server of its own: WinINet keeps idle connections per host and port
    // across sessions, and one left by another test would carry the request.
    StandinServer own;
    own.SetAccounts({{"sato", "secret"}});
    settings.Server = own.Url();
    // The login's connection is closed after its answer, and the door then
    // refuses: the listing cannot connect.
    own.Script(CTessalyWebAPI::kLoginEndpoint, R"([{"close": true}])");
    Login();
    own.SetListening("http", false);
    EXPECT_EQ(List(), 0);
    EXPECT_EQ(message, kUntouched);
    const std::string trace = Trace();
    EXPECT_NE(trace.find("GetManageContentGroups : InternetException(12029)"), std::string::npos) << trace;
    EXPECT_NE(trace.find("end       GetManageContentGroups"), std::string::npos);
    own.SetListening("http", true);
    EXPECT_EQ(api.AuthUserLogout(session, connection, &message), 1) << message;
}

TEST_F(ListingTest, WithoutSessionOrTextsNothingIsSent) {
    const int before = server().LastSequence();
    EXPECT_EQ(List(), 0);  // not logged in
    EXPECT_EQ(message, kUntouched);
    Login();
    const int afterLogin = server().LastSequence();
    EXPECT_EQ(api.ManageContentGroups(connection.get(), session.get(), nullptr, &message), 0);
    EXPECT_EQ(api.ManageContentGroups(connection.get(), session.get(), &response, nullptr), 0);
    EXPECT_EQ(server().LastSequence(), afterLogin);
    EXPECT_EQ(afterLogin, before + 1);
    const std::string trace = Trace();
    EXPECT_NE(trace.find("NOT Session Instance Error"), std::string::npos);
    EXPECT_NE(trace.find("ErrorMessage is null"), std::string::npos);
    EXPECT_NE(trace.find("start       GetManageContentGroups[0][0]"), std::string::npos);
}
