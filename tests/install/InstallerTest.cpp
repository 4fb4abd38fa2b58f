// The installer's parts that need no installation: the server URL seeding
// (on a private registry key), the custom-action library's shell
// notification, and zinpost.exe's manifest as Windows reads it.
#include "common/Version.h"
#include "installer/ServerSeed.h"
#include "common/ServerUrl.h"
#include "common/SettingsNames.h"
#include "tests/install/Installation.h"

#include "tests/support/RegistrySandbox.h"
#include "tests/support/StandinServer.h"
#include "tools/driver/WindowDriver.h"

#include "framework/Text.h"
#include "framework/WinHandle.h"

#include <gtest/gtest.h>
#include <shlobj.h>

using namespace install_test;
using testing_support::RegistrySandbox;

namespace {

std::wstring BuiltFile(const std::string& unixPath) {
    return testing_support::UnixPathForWindows(unixPath);
}

// The server dialog's rule: an http or https URL naming a path below its
// host, "/" appended; blanks around it dropped. What the dialog refuses (no
// path, no host, another scheme) is refused here too.
TEST(ServerUrl, IsNormalisedOrRefused) {
    const struct {
        const wchar_t* given;
        const wchar_t* expected;
    } cases[] = {
        {L"http://tessaly.example/api/", L"http://tessaly.example/api/"},
        {L"https://tessaly.example/api", L"https://tessaly.example/api/"},
        {L"  HTTPS://Tessaly.example:8443/api \t", L"HTTPS://Tessaly.example:8443/api/"},
        {L"http://tessaly.example/共有/", L"http://tessaly.example/共有/"},
        {L"http://127.0.0.1:8080", L""},             // no path below the host
        {L"https://tessaly.example/", L""},
        {L"https:///api/", L""},                      // no host
        {L"", L""},
        {L"   ", L""},
        {L"http://", L""},
        {L"ftp://tessaly.example/api/", L""},
        {L"tessaly.example/api/", L""},
        {L"http://tessaly.example/\napi/", L""},      // no single-line box holds it
        {L"http://tessaly.example/Zo\x00EB/", L""},  // not in the ANSI code page
    };
    for (const auto& c : cases)
        EXPECT_EQ(NormaliseGivenServerUrl(c.given), c.expected) << fw::WideToUtf8(c.given);
}

class SeedTest : public ::testing::Test {
protected:
    static std::wstring Server() { return StringValue(HKEY_CURRENT_USER, settings_names::kSettingsKeyW, L"Server"); }
    static void Write(const wchar_t* name, const std::wstring& value) {
        fw::UniqueHKey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, settings_names::kSettingsKeyW, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    RegistrySandbox user;
};

TEST_F(SeedTest, NewUserGetsTheUrlAndKeepsTheOtherSettings) {
    installer::SeedResult result = installer::SeedServerUrl(HKEY_CURRENT_USER, L"http://tessaly.example/api");
    EXPECT_EQ(result.outcome, installer::SeedOutcome::Written);
    EXPECT_EQ(result.url, L"http://tessaly.example/api/");
    EXPECT_EQ(Server(), L"http://tessaly.example/api/");

    // An empty Server counts as none; the user's other values stay.
    Write(L"Server", L"");
    Write(L"User", L"yamada");
    result = installer::SeedServerUrl(HKEY_CURRENT_USER, L"https://other.example/tessaly/");
    EXPECT_EQ(result.outcome, installer::SeedOutcome::Written);
    EXPECT_EQ(Server(), L"https://other.example/tessaly/");
    EXPECT_EQ(StringValue(HKEY_CURRENT_USER, settings_names::kSettingsKeyW, L"User"), L"yamada");
}

TEST_F(SeedTest, UsersOwnServerIsNeverReplaced) {
    Write(L"Server", L"http://chosen.example/api/");
    const installer::SeedResult result = installer::SeedServerUrl(HKEY_CURRENT_USER, L"http://admin.example/api/");
    EXPECT_EQ(result.outcome, installer::SeedOutcome::UserHasServer);
    EXPECT_EQ(result.url, L"http://chosen.example/api/");
    EXPECT_EQ(Server(), L"http://chosen.example/api/");
}

TEST_F(SeedTest, TextThatIsNoUrlWritesNothing) {
    const installer::SeedResult result = installer::SeedServerUrl(HKEY_CURRENT_USER, L"tessaly.example");
    EXPECT_EQ(result.outcome, installer::SeedOutcome::NotAUrl);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, settings_names::kSettingsKeyW));
}

// Windows Installer calls the actions with its session; without one they
// still do their part and never fail the installation.
class SetupActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_library.reset(LoadLibraryW(BuiltFile(SETUP_ACTIONS_UNIX_PATH).c_str()));
        ASSERT_TRUE(m_library);
    }
    using Action = UINT(__stdcall*)(MSIHANDLE);
    Action Export(const char* name) const {
        return reinterpret_cast<Action>(reinterpret_cast<void*>(GetProcAddress(m_library.get(), name)));
    }
    fw::UniqueHModule m_library;
};

LRESULT CALLBACK CountAssociationChanges(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
        PIDLIST_ABSOLUTE* items = nullptr;
        LONG event = 0;
        HANDLE lock = SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wParam), static_cast<DWORD>(lParam), &items,
                                                &event);
        if (lock) SHChangeNotification_Unlock(lock);
        if (event & SHCNE_ASSOCCHANGED)
            SetWindowLongPtrW(window, GWLP_USERDATA, GetWindowLongPtrW(window, GWLP_USERDATA) + 1);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(SetupActionsTest, TellsTheShellThatAssociationsChanged) {
    const Action notify = Export("NotifyAssociationsChanged");
    ASSERT_TRUE(notify);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = CountAssociationChanges;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"AssociationWatcher";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(L"AssociationWatcher", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(window);
    SHChangeNotifyEntry everywhere{nullptr, TRUE};
    const ULONG registration = SHChangeNotifyRegister(
        window, SHCNRF_ShellLevel | SHCNRF_InterruptLevel | SHCNRF_NewDelivery, SHCNE_ASSOCCHANGED, WM_APP, 1,
        &everywhere);
    ASSERT_NE(registration, 0u);

    EXPECT_EQ(notify(0), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_TRUE(testing_support::WaitFor(
        [&] {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
            return GetWindowLongPtrW(window, GWLP_USERDATA) > 0;
        },
        10000));
    SHChangeNotifyDeregister(registration);
    DestroyWindow(window);
}

TEST_F(SetupActionsTest, SeedingWithoutASessionWritesNothingAndSucceeds) {
    RegistrySandbox user;
    const Action seed = Export("SeedServerUrl");
    ASSERT_TRUE(seed);
    EXPECT_EQ(seed(0), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, settings_names::kSettingsKeyW));
}

TEST_F(SetupActionsTest, CarriesTheProductsVersionResource) {
    const VersionInfo version = ReadVersion(BuiltFile(SETUP_ACTIONS_UNIX_PATH));
    EXPECT_EQ(version.fileVersion, L"" ZINPOST_FILE_VERSION_TEXT);
    EXPECT_EQ(version.String(L"CompanyName"), L"KORVANTA");
    EXPECT_EQ(version.String(L"ProductName"), L"Tessaly センドレット");
    EXPECT_FALSE(version.String(L"FileDescription").empty());
}

// The manifest as the system reads it: an activation context made from the
// program's resource 1 loads common controls 6 and reports the awareness.
TEST(ProgramManifest, AsksForCommonControls6SystemDpiAwarenessAndTheInvokersRights) {
    const std::wstring program = BuiltFile(ZINPOST_EXE_UNIX_PATH);
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = program.c_str();
    request.lpResourceName = MAKEINTRESOURCEW(1);
    HANDLE context = CreateActCtxW(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << "manifest not accepted: " << GetLastError();
    // Inside the context, comctl32.dll is redirected to the side-by-side
    // version 6 (the e2e install test sees the program load it).
    ULONG_PTR cookie = 0;
    ASSERT_TRUE(ActivateActCtx(context, &cookie));
    ACTCTX_SECTION_KEYED_DATA redirection{};
    redirection.cbSize = sizeof redirection;
    EXPECT_TRUE(FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, L"comctl32.dll",
                                         &redirection));
    DeactivateActCtx(0, cookie);

    wchar_t value[64] = {};
    SIZE_T written = 0;
    ASSERT_TRUE(QueryActCtxSettingsW(0, context, L"http://schemas.microsoft.com/SMI/2016/WindowsSettings",
                                     L"dpiAwareness", value, 64, &written));
    EXPECT_STREQ(value, L"system");
    ASSERT_TRUE(QueryActCtxSettingsW(0, context, L"http://schemas.microsoft.com/SMI/2005/WindowsSettings",
                                     L"dpiAware", value, 64, &written));
    EXPECT_STREQ(value, L"true");
    ReleaseActCtx(context);

    // What the system does not report: the text itself.
    fw::UniqueHModule image(LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(image);
    HRSRC resource = FindResourceW(image.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_TRUE(resource);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(image.get(), resource)));
    const std::string manifest(bytes, SizeofResource(image.get(), resource));
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    for (const char* os : {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
        EXPECT_NE(manifest.find(os), std::string::npos) << os;
    // The program relies on the system's ANSI code page (932).
    EXPECT_EQ(manifest.find("<activeCodePage"), std::string::npos);
}

}  // namespace
