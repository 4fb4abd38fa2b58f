// Which https server gets a password or a document: one the system trusts,
// or the one whose certificate was pinned at first contact. One walk through
// the cases against the stand-in's https door, whose certificate each step
// switches: the settings dialog's confirmation (サーバー変更, then OK), runs
// of two files as the program uploads them (a login, the upload and a logout
// per file), an upgraded user without a pin, an expired pinned certificate,
// and the way through a proxy. Every answer closes its connection, so every
// request meets the certificate of the moment; through the proxy the
// connection is kept for the run (a body waits on a tunnel already made:
// Wine's WinINet makes none for a request whose body follows later) and
// dropped with the proxy afterwards.
#include "zinpost/engine/CommServer.h"
#include "zinpost/engine/ContentGroupCache.h"
#include "zinpost/engine/ThreadAgent.h"
#include "zinpost/ui/DefaultSettingDialog.h"
#include "zinpost/resource.h"

#include "common/SettingsNames.h"

#include "tests/dialogs/ModalRun.h"
#include "tests/support/StandinFixture.h"
#include "tests/support/TrustedRoot.h"
#include "tools/driver/WindowDriver.h"

#include "framework/Text.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace testing_support;

namespace {

const char kChanged[] =
    "サーバーの証明書が前回の接続時から変わっています。安全のため、パスワードもファイルも送信していません。\n"
    "サーバー管理者が証明書を変更した場合は、設定画面の「サーバー変更」でサーバーを確認し直し、「OK」を押してください。";

enum class Contact {
    Confirm,  // the settings dialog: サーバー変更, OK there, then OK
    Run,      // two files uploaded
    Upgrade,  // the stored pin removed (a user from before pins), then a run
};

struct Step {
    const char* what;
    const char* certificate;  // the https door's new certificate: a kind, or "" to keep it
    Contact contact;
    bool viaProxy;
    bool accepted;
    const char* pinnedAfter;  // "presented": the door's certificate; "kept": as before
};

const Step kSteps[] = {
    {"a certificate of a trusted CA, confirmed", "ca-signed", Contact::Confirm, false, true, "presented"},
    {"its renewal by the same CA", "ca-signed", Contact::Run, false, true, "kept"},
    {"a self-signed certificate, confirmed", "self-signed", Contact::Confirm, false, true, "presented"},
    {"the pinned one in a run", "", Contact::Run, false, true, "kept"},
    {"another self-signed certificate at the same address", "self-signed", Contact::Run, false, false, "kept"},
    {"that one confirmed again", "", Contact::Confirm, false, true, "presented"},
    {"a user without a pin meets an expired certificate", "expired-self-signed", Contact::Upgrade, false, true,
     "presented"},
    {"the expired pinned certificate again", "", Contact::Run, false, true, "kept"},
    {"through a proxy, a trusted certificate", "ca-signed", Contact::Run, true, true, "kept"},
    {"through a proxy, an unknown self-signed certificate", "self-signed", Contact::Run, true, false, "kept"},
};

class ServerCertificateTest : public StandinTest {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        TakeMessageBoxes();
        CContentGroupCache::GetInstance().SetLoaded(0);
        SetGroups(u8R"([{"content_group_id": "3", "parent_content_group_id": null, "title_ja": "開発部"}])");
        // By name: the certificates name localhost and 127.0.0.1, and the
        // system's policy matches host names.
        settings.Server = fw::Format("https://localhost:%d%s", server().Port("https"), server().BasePath().c_str());
        settings.IsConfigured = 1;
        settings.Folder = 3;
        settings.FolderName = "開発部";
        settings.SelectFileDelete = kPeriodUnlimited;
        settings.Save();
        const std::string ca = RecordString(server().Control("GET", "/info").get("certificates"), "ca_der");
        const std::string der = ReadFileBytes(UnixPathForWindows(ca));
        root = std::make_unique<TrustedRoot>(std::vector<BYTE>(der.begin(), der.end()));
        ASSERT_TRUE(root->Added());
    }
    void TearDown() override {
        CThreadAgent* agent = CThreadAgent::GetInstance();
        if (agent->m_pUpdateFolderTreeThread)
            WaitForSingleObject(agent->m_pUpdateFolderTreeThread->handle.get(), 60000);
        root.reset();
    }

    std::string Presented() {
        return RecordString(server().Control("GET", "/certificate?door=https"), "sha256");
    }
    std::string StoredPin() const {
        return profile.GetString(settings_names::kSection, settings_names::kServerCertificate, "<none>");
    }

    // サーバー変更, OK in the server dialog, then OK: true when the account
    // was confirmed without a message.
    bool Confirm() {
        CDefaultSettingDialog dialog(settings);
        ModalRun run(dialog);
        TakeMessageBoxes();  // the opening's own check met the certificate of before
        run.Click(IDC_SERVER_CHANGE);
        HWND serverDialog = WaitForDialog(L"Tessaly センドレット：サーバー設定", IDC_SERVER_URL);
        if (!serverDialog) return false;
        PressButton(serverDialog, IDOK);
        WaitFor([&] { return !IsWindow(serverDialog) && run.Text(IDC_FOLDER_TITLE) == L"開発部"; }, 20000);
        const bool confirmed = dialog.m_bServerConfirmed == 1 && TakeMessageBoxes().empty();
        run.Click(IDOK);
        return run.Wait() == IDOK && confirmed;
    }

    // Two files as a run sends them; every file's result ("" when stored).
    std::vector<std::string> Run() {
        std::vector<std::string> results;
        for (const wchar_t* name : {L"見積書.txt", L"議事録.txt"}) {
            UploadParams params;
            params.folder = 3;
            params.title = name;
            params.path = dir.File(name);
            WriteFileBytes(params.path, "document " + fw::WideToUtf8(name));
            std::atomic<int> transfer{0}, cancel{0};
            UploadProgressContext progress;
            progress.transferFlag = &transfer;
            progress.cancelFlag = &cancel;
            std::string message;
            results.push_back(CCommServer().UploadContentFile(params, progress, &message));
        }
        return results;
    }

    std::unique_ptr<TrustedRoot> root;
};

TEST_F(ServerCertificateTest, OnlyTheTrustedOrThePinnedServerGetsAnything) {
    for (const Step& step : kSteps) {
        SCOPED_TRACE(step.what);
        if (*step.certificate)
            server().Control("POST", "/certificate",
                             std::string(R"({"door": "https", "kind": ")") + step.certificate + "\"}");
        const std::string presented = Presented();
        const std::string pinBefore = StoredPin();
        {
            const auto lock = LockConnectionSettings();
            settings.ProxySelect = step.viaProxy ? kProxyManual : kProxyNone;
        }
        if (step.viaProxy) {
            settings.ProxyAddress = "127.0.0.1";
            settings.ProxyPort = std::to_string(server().StartProxy());
        }
        server().ClearScripts();
        if (!step.viaProxy) server().Script("*", R"([{"close": true, "forever": true}])");
        const int since = server().LastSequence();
        const int storedBefore = Counter("uploads_stored");

        if (step.contact == Contact::Confirm) {
            EXPECT_EQ(Confirm(), step.accepted);
        } else {
            if (step.contact == Contact::Upgrade) {
                RegDeleteKeyValueA(HKEY_CURRENT_USER, settings_names::kSettingsKey,
                                   settings_names::kServerCertificate);
                settings.Load();
            }
            for (const std::string& result : Run()) {
                // Every file with the reason, as the result lists it.
                const std::string expected = step.accepted ? "" : std::string("ログインできませんでした。\n") + kChanged;
                EXPECT_EQ(result, expected);
            }
            EXPECT_EQ(Counter("uploads_stored") - storedBefore, step.accepted ? 2 : 0);
        }

        if (!step.accepted) {
            // Neither a login form nor a document reached the server.
            for (const picojson::value& record : server().Requests("", since)) {
                const std::string endpoint = RecordString(record, "endpoint");
                if (endpoint == CTessalyWebAPI::kLoginEndpoint || endpoint == "uploadContentFile.json") {
                    EXPECT_EQ(RecordBody(record), "") << endpoint;
                }
            }
        }
        const std::string expectedPin = std::string(step.pinnedAfter) == "presented" ? presented : pinBefore;
        EXPECT_EQ(StoredPin(), expectedPin);
        EXPECT_EQ(settings.Connection().ServerCertificate, expectedPin);
        if (step.viaProxy) {
            // The server's certificate was the one judged, through the tunnel.
            const std::string connect = fw::Format("CONNECT localhost:%d HTTP/1.", server().Port("https"));
            EXPECT_NE(server().ProxyLog().find(connect), std::string::npos) << server().ProxyLog();
            server().StopProxy();
        }
    }
}

}  // namespace
