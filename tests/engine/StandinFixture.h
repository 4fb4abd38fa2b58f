#pragma once
// A fixture for tests that talk to the stand-in Tessaly server: one server
// for the whole suite, reset before every test, a private registry and
// current folder (log.csv lands there), and the program's settings record
// pointing at the server's http door with a known account.
#include "zinpost/engine/AppSettings.h"
#include "common/SettingsNames.h"

#include "tests/support/RegistrySandbox.h"
#include "tests/support/StandinServer.h"
#include "tests/support/TempDir.h"

#include "framework/Profile.h"
#include "framework/Text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace testing_support {

class StandinTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        try {
            Server() = std::make_unique<StandinServer>();
        } catch (const std::exception& e) {
            ServerError() = e.what();
        }
    }
    static void TearDownTestSuite() { Server().reset(); }

    StandinTest() : cwd(dir.Path()), profile(settings_names::kApplication), settings(&profile) {
        profile.SetRegistryKey(settings_names::kRegistryKey);
        SetAppSettings(&settings);
    }
    ~StandinTest() override { SetAppSettings(nullptr); }

    void SetUp() override {
        ASSERT_TRUE(Server()) << ServerError();
        server().Reset();
        server().SetAccounts({{"sato", "secret"}});
        settings.Server = server().Url();
        settings.User = "sato";
        settings.Password = "secret";
        settings.ProxySelect = 0;
    }

    StandinServer& server() { return *Server(); }

    // Sets the groups the listing answers with: `groupsJson` is the JSON
    // array (UTF-8).
    void SetGroups(const std::string& groupsJson) {
        server().Control("POST", "/groups", "{\"content_groups\": " + groupsJson + "}");
    }
    // Sets the listing's whole answer body, byte for byte.
    void SetListingBody(const std::string& body) {
        server().Control("POST", "/groups", "{\"body\": " + JsonText(body) + "}");
    }
    int Counter(const char* name) { return static_cast<int>(server().Counters().get(name).get<double>()); }

    std::string Trace() const { return ReadFileBytes(dir.File(L"log.csv")); }

    TempDir dir;
    CurrentDirectory cwd;
    RegistrySandbox registry;
    fw::Profile profile;
    CAppSettings settings;

private:
    static std::unique_ptr<StandinServer>& Server() {
        static std::unique_ptr<StandinServer> server;
        return server;
    }
    static std::string& ServerError() {
        static std::string error;
        return error;
    }
};

// Waits until `condition` holds, looking every few milliseconds; false when
// it still does not after `timeoutMs`.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 20000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace testing_support
