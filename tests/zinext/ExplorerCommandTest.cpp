// The Explorer command of Windows 11's first menu through the built
// ZinExt.dll, as Explorer drives it: its title, icon and state, then Invoke
// with a shell item array. Wine shows no such menu; the object is made the
// way Explorer's surrogate makes it, through DllGetClassObject.
#include "tests/zinext/ZinExtHarness.h"
#include "common/SettingsNames.h"

#include "ZinExt/ZinExtIds.h"
#include "ZinExt/resource.h"

#include "tests/support/RegistrySandbox.h"
#include "tests/support/TempDir.h"

#include "framework/Profile.h"
#include "framework/Text.h"

#include <gtest/gtest.h>

using namespace zinext_test;
using testing_support::RegistrySandbox;
using testing_support::TempDir;

namespace {

class ExplorerCommandTest : public ::testing::Test {
protected:
    ExplorerCommandTest() : profile(settings_names::kApplication) { profile.SetRegistryKey(settings_names::kRegistryKey); }
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }

    void UseRecorder() {
        ASSERT_TRUE(profile.WriteString(settings_names::kSection, settings_names::kFolderName,
                                        fw::WideToAnsi(L"営業部 資料")));
        ASSERT_TRUE(profile.WriteString(settings_names::kSection, settings_names::kExeFile,
                                        fw::WideToAnsi(StartRecorder::ProgramPath())));
    }
    std::vector<std::wstring> MakeFiles(size_t count) {
        std::vector<std::wstring> paths;
        for (size_t i = 1; i <= count; ++i) {
            paths.push_back(dir.File(L"報告書 " + std::to_wstring(i) + L".txt"));
            testing_support::WriteFileBytes(paths.back(), "x");
        }
        return paths;
    }
    // The state as Explorer asks for it, slowly allowed.
    static EXPCMDSTATE State(IExplorerCommand* command, IShellItemArray* items) {
        EXPCMDSTATE state = ECS_ENABLED;
        EXPECT_EQ(command->GetState(items, TRUE, &state), S_OK);
        return state;
    }

    RegistrySandbox sandbox;
    fw::Profile profile;
    ZinExtLibrary library;
    TempDir dir;
};

std::wstring Taken(LPWSTR text) {
    std::wstring copy = text ? text : L"";
    CoTaskMemFree(text);
    return copy;
}

TEST_F(ExplorerCommandTest, TitleIconAndNameAreTheClassicEntrys) {
    UseRecorder();
    ComPtr<IExplorerCommand> command = library.CreateCommand();
    ASSERT_TRUE(command);
    LPWSTR text = nullptr;
    ASSERT_EQ(command->GetTitle(nullptr, &text), S_OK);
    EXPECT_EQ(Taken(text), L"Tessaly「営業部 資料」に登録する");
    ASSERT_EQ(command->GetIcon(nullptr, &text), S_OK);
    EXPECT_EQ(Taken(text), library.LoadedPath() + L",-" + std::to_wstring(IDI_ZINEXT_MENU));
    GUID name{};
    ASSERT_EQ(command->GetCanonicalName(&name), S_OK);
    EXPECT_TRUE(IsEqualGUID(name, zinext::kClsidZinExplorerCommand));
    EXPCMDFLAGS flags = ECF_HASSUBCOMMANDS;
    ASSERT_EQ(command->GetFlags(&flags), S_OK);
    EXPECT_EQ(flags, static_cast<EXPCMDFLAGS>(ECF_DEFAULT));
}

// Shown exactly where the classic handler adds its entry, and not a second
// time inside a classic menu; a quick question before the settings were
// read is put off.
TEST_F(ExplorerCommandTest, StateFollowsTheSettingsAndTheMenu) {
    const std::vector<std::wstring> files = MakeFiles(1);
    ComPtr<IShellItemArray> items = MakeItemArray(files);
    ASSERT_TRUE(items);
    HWND classicMenu = CreateWindowExW(0, L"#32768", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    HWND otherWindow = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(classicMenu && otherWindow);

    ComPtr<IExplorerCommand> unset = library.CreateCommand();
    EXPECT_EQ(State(unset.Get(), items.Get()), ECS_HIDDEN);  // nothing stored

    UseRecorder();
    const struct {
        const char* what;
        HWND site;  // null: no site
        bool slow;
        HRESULT result;
        EXPCMDSTATE state;
    } cases[] = {
        {"a quick question first", nullptr, false, E_PENDING, ECS_HIDDEN},
        {"no site", nullptr, true, S_OK, ECS_ENABLED},
        {"the first menu's site", otherWindow, true, S_OK, ECS_ENABLED},
        {"inside a classic menu", classicMenu, true, S_OK, ECS_HIDDEN},
    };
    for (const auto& c : cases) {
        ComPtr<IExplorerCommand> command = library.CreateCommand();
        ComPtr<IObjectWithSite> withSite;
        ASSERT_EQ(command.As(&withSite), S_OK);
        if (c.site) {
            ASSERT_EQ(withSite->SetSite(MakeSite(c.site).Get()), S_OK);
        }
        EXPCMDSTATE state = ECS_DISABLED;
        EXPECT_EQ(command->GetState(items.Get(), c.slow, &state), c.result) << c.what;
        EXPECT_EQ(state, c.state) << c.what;
        // Once the settings were read, a quick question is answered.
        EXPECT_EQ(command->GetState(items.Get(), FALSE, &state), c.slow ? S_OK : E_PENDING) << c.what;
    }
    // An unusable program path: no entry, as in the classic menu.
    ASSERT_TRUE(profile.WriteString(settings_names::kSection, settings_names::kExeFile, "zinpost.exe"));
    EXPECT_EQ(State(library.CreateCommand().Get(), items.Get()), ECS_HIDDEN);
    DestroyWindow(classicMenu);
    DestroyWindow(otherWindow);
}

TEST_F(ExplorerCommandTest, AHundredFilesStartTheProgramAndOneMoreIsRefused) {
    UseRecorder();
    const std::vector<std::wstring> files = MakeFiles(101);
    HWND owner = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    for (const size_t count : {size_t{100}, size_t{101}}) {
        const std::vector<std::wstring> selection(files.begin(), files.begin() + static_cast<ptrdiff_t>(count));
        ComPtr<IExplorerCommand> command = library.CreateCommand();
        ComPtr<IObjectWithSite> withSite;
        ASSERT_EQ(command.As(&withSite), S_OK);
        ASSERT_EQ(withSite->SetSite(MakeSite(owner).Get()), S_OK);
        ComPtr<IShellItemArray> items = MakeItemArray(selection);
        ASSERT_TRUE(items);
        StartRecorder recorder;
        MessageBoxAnswerer answerer;
        EXPECT_EQ(command->Invoke(items.Get(), nullptr), S_OK);
        const MessageBoxAnswerer::Seen seen = answerer.Result();
        const std::vector<std::wstring> starts = recorder.Starts();
        if (count == 100) {
            EXPECT_FALSE(seen.found);
            std::wstring expected;
            for (const std::wstring& path : selection) expected += L"\"" + path + L"\" ";
            ASSERT_EQ(starts.size(), 1u);
            EXPECT_EQ(starts[0], expected);
        } else {
            EXPECT_TRUE(starts.empty());
            ASSERT_TRUE(seen.found);
            EXPECT_EQ(seen.owner, owner);
            EXPECT_EQ(seen.caption, L"Tessaly センドレット");
            EXPECT_EQ(seen.text, L"一度にアップロードできるファイルは100ファイルまでです。");
        }
    }
    DestroyWindow(owner);
}

}  // namespace
