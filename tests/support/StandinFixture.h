#pragma once
// Fixtures for tests that talk to the stand-in Tessaly server.
//
// StandinSuiteTest: one server for the whole suite, reset for every test,
// and the program's settings record pointed at one of its doors with a
// known account. StandinTest adds a private registry and current folder
// (log.csv lands there) for tests that run the engine in this process.
#include "zinpost/engine/AppSettings.h"
#include "common/SettingsNames.h"

#include "tests/support/RegistrySandbox.h"
#include "tests/support/StandinServer.h"
#include "tests/support/TempDir.h"
#include "tools/driver/WindowDriver.h"

#include "framework/Profile.h"
#include "framework/Text.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace testing_support {

class StandinSuiteTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        try {
            SuiteServer() = std::make_unique<StandinServer>();
        } catch (const std::exception& e) {
            SuiteError() = e.what();
        }
    }
    static void TearDownTestSuite() { SuiteServer().reset(); }

    void SetUp() override { ASSERT_TRUE(SuiteServer()) << SuiteError(); }

    // Makes `server` the test's server, back in its start state with one
    // account, and points `settings` at its `door` with that account.
    void UseServer(StandinServer& server, CAppSettings& settings, const std::string& door = "http",
                   const std::string& user = "sato", const std::string& password = "secret") {
        m_server = &server;
        server.Reset();
        server.SetAccounts({{user, password}});
        settings.Server = server.Url(door);
        settings.ServerCertificate.clear();  // a new server has no pin yet
        settings.User = user;
        settings.Password = password;
        settings.ProxySelect = kProxyNone;
    }

    // The test's server: the suite's unless UseServer chose another.
    StandinServer& server() const { return m_server ? *m_server : *SuiteServer(); }
    StandinServer& suiteServer() const { return *SuiteServer(); }

    int Counter(const char* name) const {
        return static_cast<int>(server().Counters().get(name).get<double>());
    }

private:
    static std::unique_ptr<StandinServer>& SuiteServer() {
        static std::unique_ptr<StandinServer> server;
        return server;
    }
    static std::string& SuiteError() {
        static std::string error;
        return error;
    }

    StandinServer* m_server = nullptr;
};

class StandinTest : public StandinSuiteTest {
protected:
    StandinTest() : cwd(dir.Path()), profile(settings_names::kApplication), settings(&profile) {
        profile.SetRegistryKey(settings_names::kRegistryKey);
        SetAppSettings(&settings);
    }
    ~StandinTest() override { SetAppSettings(nullptr); }

    void SetUp() override {
        StandinSuiteTest::SetUp();
        if (!HasFatalFailure()) UseServer(suiteServer());
    }
    // Another server (one of the test's own) or another door.
    void UseServer(StandinServer& server, const std::string& door = "http") {
        StandinSuiteTest::UseServer(server, settings, door);
    }

    // Sets the groups the listing answers with: `groupsJson` is the JSON
    // array (UTF-8).
    void SetGroups(const std::string& groupsJson) {
        server().Control("POST", "/groups", "{\"content_groups\": " + groupsJson + "}");
    }
    // Sets the listing's whole answer body, byte for byte.
    void SetListingBody(const std::string& body) {
        server().Control("POST", "/groups", "{\"body\": " + JsonText(body) + "}");
    }

    std::string Trace() const { return ReadFileBytes(dir.File(L"log.csv")); }

    TempDir dir;
    CurrentDirectory cwd;
    RegistrySandbox registry;
    fw::Profile profile;
    CAppSettings settings;
};

}  // namespace testing_support
