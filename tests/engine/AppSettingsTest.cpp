// The settings record against the real registry (in a private hive).
#include "zinpost/engine/AppSettings.h"
#include "common/SettingsNames.h"
#include "zinpost/ui/MessageBoxes.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/JoiningThread.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/RegistrySandbox.h"
#include "tests/support/TempDir.h"

#include "framework/Profile.h"
#include "framework/Text.h"
#include "framework/WinHandle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

using testing_support::RegistrySandbox;
using testing_support::StringValue;
using testing_support::TakeMessageBoxes;

namespace {

const char* const kSettingsPath = settings_names::kSettingsKey;

struct RawValue {
    bool present = false;
    DWORD type = 0;
    std::vector<BYTE> data;
};

RawValue ReadRaw(const char* name, const char* path = kSettingsPath) {
    RawValue value;
    fw::UniqueHKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return value;
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) return value;
    value.data.resize(size);
    if (RegQueryValueExA(key.get(), name, nullptr, &value.type, value.data.data(), &size) != ERROR_SUCCESS)
        return value;
    value.data.resize(size);
    value.present = true;
    return value;
}

void WriteRaw(const char* name, DWORD type, const void* data, DWORD size) {
    fw::UniqueHKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
}

void WriteDword(const char* name, DWORD value) { WriteRaw(name, REG_DWORD, &value, sizeof value); }

class AppSettingsTest : public ::testing::Test {
protected:
    AppSettingsTest() : profile(settings_names::kApplication) { profile.SetRegistryKey(settings_names::kRegistryKey); }
    void SetUp() override {
        InstallMessageBoxReporter();  // as the application does
        TakeMessageBoxes();
    }

    RegistrySandbox sandbox;
    fw::Profile profile;
};

TEST_F(AppSettingsTest, FreshUserGetsEveryDefault) {
    CAppSettings s(&profile);
    EXPECT_EQ(s.Load(), 0);
    EXPECT_EQ(s.IsConfigured, 0);
    EXPECT_EQ(s.Server, "");
    EXPECT_EQ(s.User, "");
    EXPECT_EQ(s.Password, "");
    EXPECT_EQ(s.FolderName, "");
    EXPECT_EQ(s.Folder, 0);
    EXPECT_EQ(s.FileEncrypt, 1);
    EXPECT_EQ(s.FileDelete, -1);
    EXPECT_EQ(s.SelectFileDelete, 0);
    EXPECT_EQ(s.FileDeleteDate, "");
    EXPECT_EQ(s.DisplayResult, 1);
    EXPECT_EQ(s.ConvertPDF, 0);
    EXPECT_EQ(s.ProxySelect, 1);
    EXPECT_EQ(s.ProxyAddress, "");
    EXPECT_EQ(s.ProxyPort, "");
    EXPECT_EQ(s.ProxyList, "");
    EXPECT_TRUE(TakeMessageBoxes().empty());
    // Reading creates nothing.
    EXPECT_FALSE(ReadRaw("Server").present);
}

TEST_F(AppSettingsTest, SaveWritesEveryValueWithItsTypeAndLoadReadsThemBack) {
    CAppSettings s(&profile);
    s.Server = "https://tessaly.example/api/";
    s.User = "yamada";
    s.Password = "secret";
    s.FolderName = "営業部";
    s.Folder = 42;
    s.FileEncrypt = 0;
    s.FileDelete = 30;
    s.SelectFileDelete = 1;
    s.FileDeleteDate = "2030-3-5";
    s.DisplayResult = 0;
    s.ConvertPDF = 1;
    s.ProxySelect = 2;
    s.ProxyAddress = "proxy.local";
    s.ProxyPort = "8080";
    s.ProxyList = "*.local;<local>";
    EXPECT_EQ(s.Save(), 1);

    for (const char* name : {"Server", "User", "FolderName", "ProxyAddress", "ProxyPort", "ProxyList",
                             "FileDeleteDate", "ExeFile"})
        EXPECT_EQ(ReadRaw(name).type, static_cast<DWORD>(REG_SZ)) << name;
    for (const char* name :
         {"Folder", "FileEncrypt", "FileDelete", "SelectFileDelete", "DisplayResult", "ConvertPDF", "ProxySelect"})
        EXPECT_EQ(ReadRaw(name).type, static_cast<DWORD>(REG_DWORD)) << name;
    EXPECT_EQ(ReadRaw("Password").type, static_cast<DWORD>(REG_BINARY));
    // The Japanese folder name is stored in the ANSI code page (Shift_JIS).
    const RawValue folder = ReadRaw("FolderName");
    EXPECT_EQ(std::string(folder.data.begin(), folder.data.end()), std::string("\x89\x63\x8B\xC6\x95\x94", 6) + '\0');

    CAppSettings t(&profile);
    EXPECT_EQ(t.Load(), 1);
    EXPECT_EQ(t.IsConfigured, 1);
    EXPECT_EQ(t.Server, s.Server);
    EXPECT_EQ(t.User, s.User);
    EXPECT_EQ(t.Password, "secret");
    EXPECT_EQ(t.FolderName, "営業部");
    EXPECT_EQ(t.Folder, 42);
    EXPECT_EQ(t.FileEncrypt, 0);
    EXPECT_EQ(t.FileDelete, 30);
    EXPECT_EQ(t.SelectFileDelete, 1);
    EXPECT_EQ(t.FileDeleteDate, "2030-3-5");
    EXPECT_EQ(t.DisplayResult, 0);
    EXPECT_EQ(t.ConvertPDF, 1);
    EXPECT_EQ(t.ProxySelect, 2);
    EXPECT_EQ(t.ProxyAddress, "proxy.local");
    EXPECT_EQ(t.ProxyPort, "8080");
    EXPECT_EQ(t.ProxyList, "*.local;<local>");
    EXPECT_TRUE(TakeMessageBoxes().empty());
}

TEST_F(AppSettingsTest, NegativeDayCountIsStoredAsSignedDword) {
    CAppSettings s(&profile);
    s.FileDelete = -1;
    s.Save();
    const RawValue raw = ReadRaw("FileDelete");
    ASSERT_EQ(raw.data.size(), 4u);
    EXPECT_EQ(raw.data, (std::vector<BYTE>{0xFF, 0xFF, 0xFF, 0xFF}));
}

// Saves the settings under Software\<args[0]>\zinpost of the real registry,
// as the program saves them, from wherever this copy of the tests runs.
int SaveFromHere(const std::vector<std::wstring>& args) {
    if (args.size() != 1) return 2;
    fw::Profile profile(settings_names::kApplication);
    profile.SetRegistryKey(fw::WideToAnsi(args[0]));
    CAppSettings settings(&profile);
    return settings.Save() == 1 ? 0 : 1;
}
TEST_CHILD(save_from_here, SaveFromHere);

// ExeFile names the running program exactly, wherever it runs: also from a
// folder whose name the ANSI code page cannot hold (a profile of Zoë or
// 김민준), which an ANSI value would store with substitutes.
TEST_F(AppSettingsTest, SaveAlwaysWritesTheRunningProgramPath) {
    WriteRaw("ExeFile", REG_SZ, "C:\\old\\zinpost.exe", 19);
    CAppSettings s(&profile);
    s.Save();
    EXPECT_EQ(testing_support::StringValue(HKEY_CURRENT_USER, settings_names::kSettingsKeyW, L"ExeFile"),
              fw::ProgramPath());

    testing_support::TempDir dir;
    const std::wstring folder = dir.File(L"Zoë 김민준");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring copy = folder + L"\\settings_tests.exe";
    ASSERT_TRUE(CopyFileW(fw::ProgramPath().c_str(), copy.c_str(), FALSE));
    // The child writes below the real key that stands in for this process's
    // HKEY_CURRENT_USER, so its settings land where the test reads them.
    const std::wstring keyWord = sandbox.RealPath().substr(wcslen(L"Software\\")) + L"\\Software\\" + settings_names::kRegistryKeyW;
    EXPECT_EQ(testing_support::WaitChild(testing_support::StartChild("save_from_here", {keyWord}, copy)), 0u);
    EXPECT_EQ(testing_support::StringValue(HKEY_CURRENT_USER, settings_names::kSettingsKeyW, L"ExeFile"),
              copy);
}

TEST_F(AppSettingsTest, PeriodModeIsDerivedFromTheDayCountWhenAbsent) {
    CAppSettings s(&profile);
    WriteDword("FileDelete", 30);
    s.Load();
    EXPECT_EQ(s.SelectFileDelete, 2);
    WriteDword("FileDelete", 0);
    s.Load();
    EXPECT_EQ(s.SelectFileDelete, 2);
    WriteDword("FileDelete", static_cast<DWORD>(-1));
    s.Load();
    EXPECT_EQ(s.SelectFileDelete, 0);
    // A stored mode wins over the derivation.
    WriteDword("SelectFileDelete", 1);
    s.Load();
    EXPECT_EQ(s.SelectFileDelete, 1);
}

TEST_F(AppSettingsTest, ConfiguredOnlyWithServerUserAndPassword) {
    CAppSettings s(&profile);
    s.Server = "http://127.0.0.1/api/";
    s.User = "u";
    s.Password = "";
    s.Save();
    // An empty password is a zero-length binary value.
    const RawValue raw = ReadRaw("Password");
    EXPECT_TRUE(raw.present);
    EXPECT_EQ(raw.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_TRUE(raw.data.empty());

    CAppSettings t(&profile);
    EXPECT_EQ(t.Load(), 0);
    EXPECT_EQ(t.IsConfigured, 0);
    EXPECT_EQ(t.Password, "");

    // A zero-length value leaves the in-memory password alone.
    t.Password = "typed";
    EXPECT_EQ(t.Load(), 1);
    EXPECT_EQ(t.Password, "typed");
    EXPECT_EQ(t.IsConfigured, 1);
}

// The machine's default server (HKEY_LOCAL_MACHINE, in a private hive too)
// serves a user without a server of their own, configures nothing by
// itself, is never copied into the user's settings, and never wins over the
// user's own choice.
TEST_F(AppSettingsTest, MachineDefaultServerServesOnlyUsersWithoutTheirOwn) {
    RegistrySandbox machine(HKEY_LOCAL_MACHINE);
    const auto setDefault = [](const wchar_t* url) {
        if (!url) return RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, settings_names::kMachineDefaultsKeyW, L"Server");
        // Written as a deployment tool would, with the value's text as given.
        return RegSetKeyValueW(HKEY_LOCAL_MACHINE, settings_names::kMachineDefaultsKeyW, L"Server", REG_SZ, url,
                               static_cast<DWORD>((wcslen(url) + 1) * sizeof(wchar_t)));
    };
    const struct {
        const char* what;
        const wchar_t* machine;  // null: none
        const char* own;         // the user's stored Server
        bool account;
        const char* server;      // after Load
        int configured;
        const char* stored;      // the user's Server after Save
    } cases[] = {
        {"a new user", L" https://tessaly.example/api ", "", false, "https://tessaly.example/api/", 0, ""},
        {"with an account", L"https://tessaly.example/api/", "", true, "https://tessaly.example/api/", 1, ""},
        {"the user's own", L"https://tessaly.example/api/", "http://own.example/zin/", true, "http://own.example/zin/", 1,
         "http://own.example/zin/"},
        {"own, same as the default", L"https://tessaly.example/api/", "https://tessaly.example/api/", true,
         "https://tessaly.example/api/", 1, "https://tessaly.example/api/"},
        {"a default the dialog would refuse", L"https://tessaly.example/", "", true, "", 0, ""},
        {"no default", nullptr, "", true, "", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.machine)
            ASSERT_EQ(setDefault(c.machine), ERROR_SUCCESS);
        else
            setDefault(nullptr);
        ASSERT_TRUE(profile.WriteString(settings_names::kSection, settings_names::kServer, c.own));
        ASSERT_TRUE(profile.WriteString(settings_names::kSection, settings_names::kUser, c.account ? "yamada" : ""));
        CAppSettings loaded(&profile);
        // The password in memory (no cipher stored): the machine's crypto
        // provider is out of reach while HKEY_LOCAL_MACHINE is private.
        loaded.Password = c.account ? "pw" : "";
        EXPECT_EQ(loaded.Load(), c.configured);
        EXPECT_EQ(loaded.Server, c.server);
        loaded.Password.clear();  // nothing to encrypt
        loaded.Save();
        EXPECT_EQ(profile.GetString(settings_names::kSection, settings_names::kServer, "?"), c.stored);
        EXPECT_EQ(StringValue(HKEY_LOCAL_MACHINE, settings_names::kMachineDefaultsKeyW, L"Server"),
                  c.machine ? c.machine : L"")
            << "the program wrote into the machine's key";
    }

    // A user who follows the default follows it when it moves, keeps the
    // certificate pinned at the first contact, and leaves it by choosing
    // another server.
    ASSERT_EQ(setDefault(L"https://tessaly.example/api/"), ERROR_SUCCESS);
    ASSERT_TRUE(profile.WriteString(settings_names::kSection, settings_names::kServer, ""));
    CAppSettings s(&profile);
    s.Load();
    EXPECT_TRUE(TakeMessageBoxes().empty());
    EXPECT_TRUE(s.PinServerCertificate("https://tessaly.example/api/", "ab12"));
    EXPECT_EQ(profile.GetString(settings_names::kSection, settings_names::kServerCertificate, ""), "ab12");
    ASSERT_EQ(setDefault(L"https://moved.example/api/"), ERROR_SUCCESS);
    s.Load();
    EXPECT_EQ(s.Server, "https://moved.example/api/");
    s.Server = "https://mine.example/api/";
    s.Save();
    ASSERT_EQ(setDefault(L"https://moved-again.example/api/"), ERROR_SUCCESS);
    s.Load();
    EXPECT_EQ(s.Server, "https://mine.example/api/");
}

TEST_F(AppSettingsTest, CorruptPasswordShowsOneErrorAndKeepsEverythingElse) {
    CAppSettings s(&profile);
    s.Server = "http://127.0.0.1/api/";
    s.User = "u";
    s.Password = "right";
    s.FolderName = "F";
    s.Folder = 7;
    s.Save();

    struct Case {
        const char* what;
        std::vector<BYTE> stored;
    };
    std::vector<BYTE> badPadding(32);
    for (size_t i = 0; i < badPadding.size(); ++i) badPadding[i] = static_cast<BYTE>(i * 37 + 11);
    for (const Case& c : {Case{"wrong length", std::vector<BYTE>(17, 0x5A)}, Case{"bad padding", badPadding}}) {
        SCOPED_TRACE(c.what);
        WriteRaw("Password", REG_BINARY, c.stored.data(), static_cast<DWORD>(c.stored.size()));
        const RawValue before = ReadRaw("Password");

        CAppSettings t(&profile);
        t.Password = "kept";
        EXPECT_EQ(t.Load(), 1);
        EXPECT_EQ(t.Password, "kept");
        EXPECT_EQ(t.Server, "http://127.0.0.1/api/");
        EXPECT_EQ(t.FolderName, "F");
        EXPECT_EQ(t.Folder, 7);

        const auto boxes = TakeMessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONSTOP));
        EXPECT_FALSE(boxes[0].text.empty());
        EXPECT_EQ(ReadRaw("Password").data, before.data);

        // A fresh record has no password to keep: not configured.
        CAppSettings fresh(&profile);
        EXPECT_EQ(fresh.Load(), 0);
        EXPECT_EQ(fresh.Password, "");
        TakeMessageBoxes();
    }
}

TEST_F(AppSettingsTest, AWorkersCopyOfTheConnectionIsNeverHalfChanged) {
    // The user-interface thread switches between two accounts (and Load
    // writes one from the registry) while a worker copies the values.
    CAppSettings s(&profile);
    const std::string serverA = "http://a.example/" + std::string(300, 'a') + "/", serverB = "https://b/api/";
    const std::string userB = "b" + std::string(200, 'b');
    s.Server = serverA;
    s.User = "a";
    s.Password = "pa";
    s.Save();
    std::atomic<bool> done{false};
    testing_support::JoiningThread ui([&] {
        for (int i = 0; i < 3000; ++i) {
            if (i % 100 == 0) {
                s.Load();
                continue;
            }
            const auto lock = LockConnectionSettings();
            const bool b = i % 2;
            s.Server = b ? serverB : serverA;
            s.User = b ? userB : "a";
            s.Password = b ? "pb" : "pa";
        }
        done = true;
    });
    int copies = 0;
    while (!done) {
        const ConnectionSettings copy = s.Connection();
        const bool a = copy.Server == serverA && copy.User == "a" && copy.Password == "pa";
        const bool b = copy.Server == serverB && copy.User == userB && copy.Password == "pb";
        ASSERT_TRUE(a || b) << copy.Server.size() << " " << copy.User.size() << " " << copy.Password;
        ++copies;
    }
    ui.join();
    EXPECT_GT(copies, 0);
}

}  // namespace
