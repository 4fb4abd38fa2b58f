// The context-menu handler through the built ZinExt.dll, as Explorer drives
// it: Initialize with a selection, QueryContextMenu, InvokeCommand. The
// settings are written the way zinpost writes them (ANSI, code page 932);
// the recorder program stands in for zinpost.
#include "tests/zinext/ZinExtHarness.h"
#include "common/SettingsNames.h"

#include "zinpost/engine/AppSettings.h"

#include "tests/support/RegistrySandbox.h"
#include "tests/support/StandinServer.h"
#include "tests/support/TempDir.h"

#include "framework/Profile.h"
#include "framework/Text.h"
#include "framework/WinHandle.h"

#include <gtest/gtest.h>

#include <psapi.h>
#include <shellapi.h>

using namespace zinext_test;
using testing_support::RegistrySandbox;
using testing_support::TempDir;

namespace {

const HRESULT kOneId = MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);
const UINT kFirstId = 100;

class ContextMenuTest : public ::testing::Test {
protected:
    ContextMenuTest() : profile(settings_names::kApplication) { profile.SetRegistryKey(settings_names::kRegistryKey); }

    void SetUp() override {
        ASSERT_EQ(GetACP(), 932u) << "the tests run on a Japanese system";
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        menu = CreatePopupMenu();
        ASSERT_TRUE(menu);
        AppendMenuW(menu, MF_STRING, 1, L"開く");
        AppendMenuW(menu, MF_STRING, 2, L"削除");
    }
    void TearDown() override {
        DestroyMenu(menu);
        CoUninitialize();
    }

    // As zinpost's settings store writes them: ANSI strings through the A functions.
    void WriteSetting(const char* name, const std::wstring& value) {
        ASSERT_TRUE(profile.WriteString(settings_names::kSection, name, fw::WideToAnsi(value)));
    }
    void UseRecorder(const std::wstring& folder = L"営業部 資料") {
        WriteSetting("FolderName", folder);
        WriteSetting("ExeFile", StartRecorder::ProgramPath());
    }

    ComPtr<IContextMenu> Handler(const std::vector<std::wstring>& paths) {
        ComPtr<IContextMenu> handler = library.CreateHandler();
        ComPtr<IShellExtInit> init;
        if (!handler || FAILED(handler.As(&init)) || FAILED(init->Initialize(nullptr, MakeSelection(paths).Get(), nullptr)))
            return nullptr;
        return handler;
    }

    static HRESULT Invoke(IContextMenu* handler, HWND owner = nullptr, LPCSTR verb = MAKEINTRESOURCEA(0)) {
        CMINVOKECOMMANDINFO info{};
        info.cbSize = sizeof info;
        info.hwnd = owner;
        info.lpVerb = verb;
        info.nShow = SW_SHOWNORMAL;
        return handler->InvokeCommand(&info);
    }

    // Selects the files, builds the menu and chooses the entry; the command
    // lines of the program's starts.
    std::vector<std::wstring> ChooseEntry(const std::vector<std::wstring>& paths) {
        StartRecorder recorder;
        ComPtr<IContextMenu> handler = Handler(paths);
        EXPECT_TRUE(handler);
        if (!handler) return {};
        EXPECT_EQ(handler->QueryContextMenu(menu, 0, kFirstId, kFirstId + 10, CMF_NORMAL), kOneId);
        MessageBoxAnswerer answerer;  // a box where none belongs fails the test instead of blocking it
        EXPECT_EQ(Invoke(handler.Get()), S_OK);
        EXPECT_FALSE(answerer.Result().found);
        return recorder.Starts();
    }

    RegistrySandbox sandbox;
    fw::Profile profile;
    ZinExtLibrary library;
    HMENU menu = nullptr;
};

std::vector<std::wstring> Numbered(size_t count) {
    std::vector<std::wstring> paths;
    for (size_t i = 1; i <= count; ++i) paths.push_back(L"C:\\共有 文書\\報告書 " + std::to_wstring(i) + L".docx");
    return paths;
}

TEST_F(ContextMenuTest, EntryNamesTheFolderThatTheProgramSaved) {
    CAppSettings settings(&profile);  // zinpost's own settings store
    settings.FolderName = fw::WideToAnsi(L"営業部 資料");
    ASSERT_EQ(settings.Save(), 1);
    // Saved from this test, ExeFile names the test: the entry starts only zinpost.
    ASSERT_EQ(Handler({L"C:\\a.txt"})->QueryContextMenu(menu, 1, kFirstId, kFirstId + 10, CMF_NORMAL), kOneId);
    ASSERT_EQ(GetMenuItemCount(menu), 2);
    WriteSetting("ExeFile", StartRecorder::ProgramPath());
    ComPtr<IContextMenu> handler = Handler({L"C:\\a.txt"});
    ASSERT_TRUE(handler);
    EXPECT_EQ(handler->QueryContextMenu(menu, 1, kFirstId, kFirstId + 10, CMF_NORMAL), kOneId);
    ASSERT_EQ(GetMenuItemCount(menu), 5);
    EXPECT_EQ(MenuItemText(menu, 0), L"開く");
    EXPECT_TRUE(IsSeparator(menu, 1));
    EXPECT_EQ(MenuItemText(menu, 2), L"Tessaly「営業部 資料」に登録する");
    EXPECT_EQ(GetMenuItemID(menu, 2), kFirstId);
    EXPECT_TRUE(IsSeparator(menu, 3));
    EXPECT_EQ(MenuItemText(menu, 4), L"削除");

    // The name is read anew for every menu.
    settings.FolderName = fw::WideToAnsi(L"経理");
    settings.Save();
    WriteSetting("ExeFile", StartRecorder::ProgramPath());
    HMENU second = CreatePopupMenu();
    EXPECT_EQ(handler->QueryContextMenu(second, 0, kFirstId, kFirstId + 10, CMF_NORMAL), kOneId);
    EXPECT_EQ(MenuItemText(second, 1), L"Tessaly「経理」に登録する");
    DestroyMenu(second);
}

TEST_F(ContextMenuTest, EntryCarriesTheSixteenPixelIcon) {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExW(&version));
    ASSERT_GE(version.dwMajorVersion, 6u) << "Wine reports 6.1";
    UseRecorder();
    ComPtr<IContextMenu> handler = Handler({L"C:\\a.txt"});
    ASSERT_TRUE(handler);
    ASSERT_EQ(handler->QueryContextMenu(menu, 0, kFirstId, kFirstId + 10, CMF_NORMAL), kOneId);
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_BITMAP;
    ASSERT_TRUE(GetMenuItemInfoW(menu, 1, TRUE, &info));
    ASSERT_TRUE(info.hbmpItem);
    DIBSECTION section{};
    ASSERT_EQ(GetObjectW(info.hbmpItem, sizeof section, &section), static_cast<int>(sizeof section));
    EXPECT_EQ(section.dsBm.bmWidth, 16);
    EXPECT_EQ(section.dsBm.bmHeight, 16);
    EXPECT_EQ(section.dsBm.bmBitsPixel, 32);
    // The icon's pixels (BGRA): transparent corners, a blue square and a
    // white arrow pointing up. Row 2 holds the arrow's tip and row 13 its
    // shaft: the first row in memory is the top one.
    const auto* pixels = static_cast<const DWORD*>(section.dsBm.bmBits);
    ASSERT_TRUE(pixels);
    const DWORD clear = 0x00000000u, blue = 0xFF1E5FA8u, white = 0xFFFFFFFFu;
    EXPECT_EQ(pixels[0 * 16 + 0], clear);
    EXPECT_EQ(pixels[2 * 16 + 7], white);
    EXPECT_EQ(pixels[2 * 16 + 5], blue);
    EXPECT_EQ(pixels[13 * 16 + 5], white);
    EXPECT_EQ(pixels[15 * 16 + 15], clear);
}

TEST_F(ContextMenuTest, NoEntryAndNoSeparatorsWithoutUsableSettings) {
    auto expectNothingAdded = [&](const char* what) {
        ComPtr<IContextMenu> handler = Handler({L"C:\\a.txt"});
        ASSERT_TRUE(handler) << what;
        EXPECT_EQ(handler->QueryContextMenu(menu, 1, kFirstId, kFirstId + 10, CMF_NORMAL), kOneId) << what;
        EXPECT_EQ(GetMenuItemCount(menu), 2) << what;
    };
    expectNothingAdded("no settings key");
    UseRecorder(L"");
    expectNothingAdded("empty folder name");
    UseRecorder();
    WriteSetting("ExeFile", L"");
    expectNothingAdded("empty program path");
    WriteSetting("ExeFile", L"C:\\" + std::wstring(MAX_PATH - 2, L'p'));  // 261 characters
    expectNothingAdded("program path too long");
    WriteSetting("ExeFile", L"zinpost.exe");
    expectNothingAdded("relative program path");
    WriteSetting("ExeFile", L"C:\\Windows\\notepad.exe");
    expectNothingAdded("another program");
    fw::UniqueHKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, settings_names::kSettingsKeyW, 0, KEY_SET_VALUE, key.put()),
              ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueW(key.get(), L"ExeFile"), ERROR_SUCCESS);
    expectNothingAdded("no program path");
    UseRecorder();
    const DWORD number = 7;
    ASSERT_EQ(RegSetValueExW(key.get(), L"FolderName", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                             sizeof number),
              ERROR_SUCCESS);
    expectNothingAdded("folder name of another type");
}

TEST_F(ContextMenuTest, DefaultOnlyMenusGetNothing) {
    UseRecorder();
    ComPtr<IContextMenu> handler = Handler({L"C:\\a.txt"});
    ASSERT_TRUE(handler);
    EXPECT_EQ(handler->QueryContextMenu(menu, 0, kFirstId, kFirstId + 10, CMF_DEFAULTONLY), S_OK);
    EXPECT_EQ(GetMenuItemCount(menu), 2);
}

TEST_F(ContextMenuTest, HelpTextIsCutToTheBufferAndVerbsAreUnknown) {
    ComPtr<IContextMenu> handler = Handler({L"C:\\a.txt"});
    ASSERT_TRUE(handler);
    wchar_t wide[64];
    ASSERT_EQ(handler->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<LPSTR>(wide), 64), S_OK);
    EXPECT_STREQ(wide, L"Upload to Tessaly server.");
    wmemset(wide, L'#', 64);
    ASSERT_EQ(handler->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<LPSTR>(wide), 7), S_OK);
    EXPECT_STREQ(wide, L"Upload");
    EXPECT_EQ(wide[7], L'#');

    char narrow[64];
    ASSERT_EQ(handler->GetCommandString(0, GCS_HELPTEXTA, nullptr, narrow, 64), S_OK);
    EXPECT_STREQ(narrow, "Upload to Tessaly server.");
    memset(narrow, '#', sizeof narrow);
    ASSERT_EQ(handler->GetCommandString(0, GCS_HELPTEXTA, nullptr, narrow, 10), S_OK);
    EXPECT_STREQ(narrow, "Upload to");
    EXPECT_EQ(narrow[10], '#');

    EXPECT_EQ(handler->GetCommandString(1, GCS_HELPTEXTW, nullptr, reinterpret_cast<LPSTR>(wide), 64), E_INVALIDARG);
    EXPECT_EQ(handler->GetCommandString(1, GCS_HELPTEXTA, nullptr, narrow, 64), E_INVALIDARG);
    for (UINT type : {GCS_VERBA, GCS_VERBW, GCS_VALIDATEA, GCS_VALIDATEW})
        EXPECT_EQ(handler->GetCommandString(0, type, nullptr, narrow, 32), E_INVALIDARG) << type;
}

TEST_F(ContextMenuTest, OneFileStartsTheProgramWithItsQuotedPath) {
    UseRecorder();
    const auto starts = ChooseEntry({L"C:\\書類 2024\\見積書.xlsx"});
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], L"\"C:\\書類 2024\\見積書.xlsx\" ");
}

TEST_F(ContextMenuTest, AHundredFilesStartTheProgramOnceWithEveryPath) {
    UseRecorder();
    const auto paths = Numbered(100);
    const auto starts = ChooseEntry(paths);
    ASSERT_EQ(starts.size(), 1u);
    std::wstring expected;
    for (const auto& path : paths) expected += L"\"" + path + L"\" ";
    EXPECT_EQ(starts[0], expected);
    // What zinpost will find: the paths, in selection order, and nothing else.
    int count = 0;
    wchar_t** args = CommandLineToArgvW(starts[0].c_str(), &count);
    ASSERT_TRUE(args);
    ASSERT_EQ(count, 100);
    for (int i = 0; i < count; ++i) EXPECT_EQ(args[i], paths[i]);
    LocalFree(args);
}

// A selection the program cannot take gets its message, owned by Explorer's
// window, and starts nothing: more than a hundred files (decided by their
// count, however many there are), or paths too long together for one
// command line.
TEST_F(ContextMenuTest, SelectionsTooLargeShowTheirMessageAndStartNothing) {
    std::vector<std::wstring> longPaths;
    for (int i = 0; i < 100; ++i) longPaths.push_back(L"C:\\" + std::wstring(320, L'長') + std::to_wstring(i) + L".txt");
    const struct {
        const char* name;
        std::vector<std::wstring> paths;
        const wchar_t* text;
    } cases[] = {
        {"101 files", Numbered(101), L"一度にアップロードできるファイルは100ファイルまでです。"},
        {"20000 files", Numbered(20000), L"一度にアップロードできるファイルは100ファイルまでです。"},
        {"100 long paths", longPaths,
         L"選択したファイルのパスが長すぎるため、一度にアップロードできません。ファイルの数を減らしてください。"},
    };
    UseRecorder();
    for (const auto& c : cases) {
        StartRecorder recorder;
        ComPtr<IContextMenu> handler = Handler(c.paths);
        ASSERT_TRUE(handler) << c.name;
        ASSERT_EQ(handler->QueryContextMenu(menu, 0, kFirstId, kFirstId + 10, CMF_NORMAL), kOneId) << c.name;
        HWND owner = CreateWindowExW(0, L"STATIC", L"Explorer", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                     nullptr, nullptr);
        ASSERT_TRUE(owner);
        MessageBoxAnswerer answerer;
        EXPECT_EQ(Invoke(handler.Get(), owner), S_OK) << c.name;
        const auto seen = answerer.Result();
        DestroyWindow(owner);
        ASSERT_TRUE(seen.found) << c.name;
        EXPECT_EQ(seen.owner, owner) << c.name;
        EXPECT_EQ(seen.caption, L"Tessaly センドレット") << c.name;
        EXPECT_EQ(seen.text, c.text) << c.name;
        EXPECT_TRUE(seen.errorIcon) << c.name;
        EXPECT_TRUE(recorder.Starts().empty()) << c.name;
    }
}

TEST_F(ContextMenuTest, EveryPathArrivesWhole) {
    UseRecorder();
    // Longer than the system's old limit, a drive's root (its closing quote
    // must survive), and one after it.
    const std::vector<std::wstring> paths = {L"C:\\" + std::wstring(297, L'長'), L"D:\\", L"C:\\short.txt"};
    const auto starts = ChooseEntry(paths);
    ASSERT_EQ(starts.size(), 1u);
    int count = 0;
    wchar_t** args = CommandLineToArgvW(starts[0].c_str(), &count);
    ASSERT_TRUE(args);
    EXPECT_EQ(std::vector<std::wstring>(args, args + count), paths) << fw::WideToUtf8(starts[0]);
    LocalFree(args);
}

TEST_F(ContextMenuTest, ASecondSelectionReplacesTheFirst) {
    UseRecorder();
    StartRecorder recorder;
    ComPtr<IContextMenu> handler = Handler({L"C:\\1.txt", L"C:\\2.txt", L"C:\\3.txt"});
    ASSERT_TRUE(handler);
    ComPtr<IShellExtInit> init;
    ASSERT_EQ(handler.As(&init), S_OK);
    ASSERT_EQ(init->Initialize(nullptr, MakeSelection({L"C:\\4.txt"}).Get(), nullptr), S_OK);
    ASSERT_EQ(handler->QueryContextMenu(menu, 0, kFirstId, kFirstId + 10, CMF_NORMAL), kOneId);
    EXPECT_EQ(Invoke(handler.Get()), S_OK);
    // A selection without files leaves nothing to start.
    EXPECT_EQ(init->Initialize(nullptr, MakeSelection({L"C:\\5.txt"}, false).Get(), nullptr), E_INVALIDARG);
    EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(Invoke(handler.Get()), S_OK);
    const auto starts = recorder.Starts();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], L"\"C:\\4.txt\" ");
}

TEST_F(ContextMenuTest, OnlyCommandZeroGivenByNumberIsCarriedOut) {
    UseRecorder();
    StartRecorder recorder;
    ComPtr<IContextMenu> handler = Handler({L"C:\\a.txt"});
    ASSERT_TRUE(handler);
    ASSERT_EQ(handler->QueryContextMenu(menu, 0, kFirstId, kFirstId + 10, CMF_NORMAL), kOneId);
    EXPECT_EQ(Invoke(handler.Get(), nullptr, "open"), E_INVALIDARG);
    EXPECT_EQ(Invoke(handler.Get(), nullptr, MAKEINTRESOURCEA(1)), E_INVALIDARG);
    // Without a selection there is nothing to do.
    ComPtr<IContextMenu> fresh = library.CreateHandler();
    ASSERT_TRUE(fresh);
    EXPECT_EQ(Invoke(fresh.Get()), S_OK);
    EXPECT_TRUE(recorder.Starts().empty());
}

TEST_F(ContextMenuTest, AProgramThatCannotStartIsNotReported) {
    WriteSetting("FolderName", L"営業部");
    WriteSetting("ExeFile", L"C:\\no such folder\\zinpost.exe");
    ComPtr<IContextMenu> handler = Handler({L"C:\\a.txt"});
    ASSERT_TRUE(handler);
    ASSERT_EQ(handler->QueryContextMenu(menu, 0, kFirstId, kFirstId + 10, CMF_NORMAL), kOneId);
    MessageBoxAnswerer answerer;
    EXPECT_EQ(Invoke(handler.Get()), S_OK);
    EXPECT_FALSE(answerer.Result().found);
}

// Inside Explorer the extension must load nothing by name: a library of a
// system's or the program's name, planted in the current folder or beside
// the chosen files, stays unloaded through the whole menu.
TEST_F(ContextMenuTest, LoadsNoLibraryFromTheCurrentOrTheSelectionsFolder) {
    const std::wstring planted = testing_support::UnixPathForWindows(
        testing_support::EnvironmentVariable("ZINPOST_BINARY_DIR") + "/tests/support/planted_library.dll");
    // Only names Wine has no library of its own for: it never loads a system
    // library's name from a folder, so planting those would prove nothing.
    const wchar_t* const names[] = {L"zinpostresult.dll", L"Quillmorph.dll"};
    TempDir current, selection;
    for (const TempDir* folder : {&current, &selection})
        for (const wchar_t* name : names) ASSERT_TRUE(CopyFileW(planted.c_str(), folder->File(name).c_str(), FALSE));
    const std::vector<std::wstring> files = {selection.File(L"報告書.docx"), selection.File(L"memo.txt")};
    for (const std::wstring& file : files) ASSERT_TRUE(testing_support::WriteFileBytes(file, "x"));
    UseRecorder();
    {
        testing_support::CurrentDirectory here(current.Path());
        EXPECT_EQ(ChooseEntry(files).size(), 1u);
        char verb[64] = {};
        ComPtr<IContextMenu> handler = Handler(files);
        ASSERT_TRUE(handler);
        handler->QueryContextMenu(menu, 0, kFirstId, kFirstId + 10, CMF_NORMAL);
        handler->GetCommandString(0, GCS_HELPTEXTA, nullptr, verb, sizeof verb);
    }
    for (const TempDir* folder : {&current, &selection})
        for (const wchar_t* name : names)
            EXPECT_FALSE(testing_support::FileExists(folder->File(std::wstring(name) + L".loaded")))
                << fw::WideToUtf8(folder->File(name));
    HMODULE modules[1024];
    DWORD size = 0;
    ASSERT_TRUE(EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &size));
    for (DWORD i = 0; i < size / sizeof(HMODULE) && i < 1024; ++i) {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(modules[i], path, MAX_PATH);
        for (const TempDir* folder : {&current, &selection})
            EXPECT_NE(std::wstring(path).rfind(folder->Path(), 0), 0u) << fw::WideToUtf8(path);
    }
}

}  // namespace
