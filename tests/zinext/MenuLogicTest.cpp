// The extension's COM-free parts, called directly where the DLL cannot
// reach them: damaged or hostile inputs and the registry script runner.
#include "ZinExt/Registrar.h"
#include "common/SettingsNames.h"
#include "ZinExt/ZinExtMenu.h"
#include "ZinExt/ZinExtSettings.h"

#include "tests/support/RegistrySandbox.h"

#include "framework/RegistryValue.h"
#include "framework/Text.h"
#include "framework/WinHandle.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <cstring>
#include <vector>

using testing_support::RegistrySandbox;

namespace {

// The paths as zinpost finds them again: the command line split the usual
// way gives back every path whole, whatever its length or its last character.
TEST(MenuLogic, CommandLineKeepsEveryPathWhole) {
    const std::vector<std::vector<std::wstring>> selections = {
        {L"C:\\書類 2024\\見積書.xlsx"},
        {L"C:\\", L"D:\\", L"E:\\a.txt"},                   // a drive's root keeps its closing quote, first or not
        {L"\\\\server\\share\\", L"\\\\server\\share\\x y.doc"},  // so does a share's
        {L"C:\\" + std::wstring(297, L'長'), L"C:\\short.txt"}, // 300 characters, not cut
        {L"C:\\dir\\\\", L"C:\\end"},                          // two backslashes at the end
    };
    for (const auto& paths : selections) {
        const std::wstring line = zinext::BuildCommandLine(paths);
        int count = 0;
        wchar_t** args = CommandLineToArgvW(line.c_str(), &count);
        ASSERT_TRUE(args);
        std::vector<std::wstring> split(args, args + count);
        LocalFree(args);
        EXPECT_EQ(split, paths) << fw::WideToUtf8(line);
    }
    // CreateProcessW's limit: 32766 characters and the terminator.
    EXPECT_TRUE(zinext::CommandLineFits(std::wstring(32766, L'x')));
    EXPECT_FALSE(zinext::CommandLineFits(std::wstring(32767, L'x')));
}

TEST(MenuLogic, OnlyAnAbsolutePathToZinpostMayBeStarted) {
    const struct {
        const wchar_t* path;
        bool usable;
    } cases[] = {
        {L"C:\\Users\\Zoë\\AppData\\Local\\Programs\\TessalySendlet\\zinpost.exe", true},
        {L"\\\\server\\tools\\ZINPOST.EXE", true},
        {L"zinpost.exe", false},               // relative: Explorer's current folder
        {L"tools\\zinpost.exe", false},
        {L"C:zinpost.exe", false},             // relative to the drive's current folder
        {L"C:\\Windows\\System32\\cmd.exe", false},
        {L"C:\\tools\\zinpost.exe.bat", false},
        {L"\\\\?\\C:\\tools\\zinpost.exe", false},
        {L"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(zinext::IsProgramPath(c.path), c.usable) << fw::WideToUtf8(c.path);
}

TEST(MenuLogic, AnsiCutsNeverKeepHalfACharacter) {
    char narrow[8];
    memset(narrow, '#', 8);
    // "あい" in code page 932.
    EXPECT_TRUE(zinext::CopyCutA("\x82\xA0\x82\xA2", 932, narrow, 4));
    EXPECT_STREQ(narrow, "\x82\xA0");
    EXPECT_EQ(narrow[4], '#');
    EXPECT_FALSE(zinext::CopyCutA("x", 932, narrow, 0));
}

TEST(MenuLogic, AnIndexPastTheEndAppendsTheEntryWithItsSeparators) {
    HMENU menu = CreatePopupMenu();
    ASSERT_TRUE(menu);
    AppendMenuW(menu, MF_STRING, 1, L"開く");
    ASSERT_TRUE(zinext::InsertMenuEntry(menu, 0xFFFFFFFF, 78, L"entry", nullptr));
    ASSERT_EQ(GetMenuItemCount(menu), 4);
    EXPECT_EQ(GetMenuItemID(menu, 0), 1u);
    EXPECT_EQ(GetMenuState(menu, 1, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
    EXPECT_EQ(GetMenuItemID(menu, 2), 78u);
    EXPECT_EQ(GetMenuState(menu, 3, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
    DestroyMenu(menu);
}

class SettingsValues : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, settings_names::kSettingsKeyW, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  key.put(), nullptr),
                  ERROR_SUCCESS);
    }
    void SetRaw(const wchar_t* name, DWORD type, const void* data, size_t size) {
        ASSERT_EQ(RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)),
                  ERROR_SUCCESS);
    }
    RegistrySandbox sandbox;
    fw::UniqueHKey key;
};

TEST_F(SettingsValues, ValuesWithoutTerminatorTooLongOrOfAnotherTypeAreSafe) {
    const wchar_t unterminated[] = {L'資', L'料'};
    SetRaw(L"NoEnd", REG_SZ, unterminated, sizeof unterminated);
    std::wstring value;
    ASSERT_TRUE(fw::ReadStringValue(key.get(), L"NoEnd", 2, value));
    EXPECT_EQ(value, L"資料");

    const std::wstring longest(MAX_PATH, L'p'), tooLong(MAX_PATH + 1, L'p');
    SetRaw(L"Longest", REG_SZ, longest.c_str(), (longest.size() + 1) * 2);
    SetRaw(L"TooLong", REG_SZ, tooLong.c_str(), (tooLong.size() + 1) * 2);
    EXPECT_TRUE(fw::ReadStringValue(key.get(), L"Longest", MAX_PATH, value));
    EXPECT_EQ(value, longest);
    value = L"kept";
    EXPECT_FALSE(fw::ReadStringValue(key.get(), L"TooLong", MAX_PATH, value));
    // Too long also when stored without terminator.
    SetRaw(L"TooLongNoEnd", REG_SZ, tooLong.c_str(), tooLong.size() * 2);
    EXPECT_FALSE(fw::ReadStringValue(key.get(), L"TooLongNoEnd", MAX_PATH, value));

    const DWORD number = 5;
    SetRaw(L"Number", REG_DWORD, &number, sizeof number);
    EXPECT_FALSE(fw::ReadStringValue(key.get(), L"Number", fw::kNoLengthLimit, value));
    EXPECT_FALSE(fw::ReadStringValue(key.get(), L"Missing", fw::kNoLengthLimit, value));
    EXPECT_EQ(value, L"kept");
}

// ---- registry scripts ----

class RegistryScript : public ::testing::Test {
protected:
    static bool KeyExists(const wchar_t* path) {
        fw::UniqueHKey key;
        return RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
    }
    static std::wstring Value(const wchar_t* path, const wchar_t* name) {
        wchar_t data[512] = {};
        DWORD size = sizeof data - sizeof(wchar_t);
        if (RegGetValueW(HKEY_CLASSES_ROOT, path, name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
            return L"<missing>";
        return data;
    }
    RegistrySandbox classes{HKEY_CLASSES_ROOT};
    const zinext::ScriptReplacements replacements = {{L"MODULE", L"C:\\O'Brien\\100% ZinExt.dll"}};
};

TEST_F(RegistryScript, ReplacementsAndQuotesArriveAsWritten) {
    const std::wstring script = L"HKCR { Test = s 'it''s %MODULE%' { val Percent = s '100%%' } }";
    ASSERT_EQ(zinext::RunRegistryScript(script, replacements, zinext::ScriptAction::Register, false), S_OK);
    EXPECT_EQ(Value(L"Test", nullptr), L"it's C:\\O'Brien\\100% ZinExt.dll");
    EXPECT_EQ(Value(L"Test", L"Percent"), L"100%");
}

TEST_F(RegistryScript, AScriptThatCannotBeReadChangesNothing) {
    const HRESULT bad = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    const wchar_t* scripts[] = {
        L"HKCR { First = s 'x' Second = }",             // assignment without value
        L"HKCR { First = s 'x' Second = s '%OTHER%' }",  // unknown replacement
        L"HKCR { First = s 'x' Second = d '1' }",        // not a string
        L"HKCR { First = s 'x' 'Sub\\Key' }",            // more than one level
        L"HKCR { First = s 'x' Second = s 'open }",      // unterminated quote
        L"HKCR { First = s 'x' Second { }",              // unclosed block
        L"HKXX { First }",
    };
    for (const wchar_t* script : scripts) {
        EXPECT_EQ(zinext::RunRegistryScript(script, replacements, zinext::ScriptAction::Register, false), bad)
            << script;
        EXPECT_FALSE(KeyExists(L"First")) << script;
    }
}

TEST_F(RegistryScript, UnregisteringKeepsWhatOthersPutIntoAPlainKey) {
    const std::wstring script = L"HKCR { Plain = s 'ours' { val Ours = s '1' Child } Gone { val V = s '2' } }";
    ASSERT_EQ(zinext::RunRegistryScript(script, replacements, zinext::ScriptAction::Register, false), S_OK);
    fw::UniqueHKey plain;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Plain", 0, KEY_SET_VALUE, plain.put()), ERROR_SUCCESS);
    const wchar_t theirs[] = L"theirs";
    ASSERT_EQ(RegSetValueExW(plain.get(), L"Theirs", 0, REG_SZ, reinterpret_cast<const BYTE*>(theirs), sizeof theirs),
              ERROR_SUCCESS);
    ASSERT_EQ(zinext::RunRegistryScript(script, replacements, zinext::ScriptAction::Unregister, false), S_OK);
    EXPECT_TRUE(KeyExists(L"Plain"));
    EXPECT_EQ(Value(L"Plain", L"Theirs"), L"theirs");
    EXPECT_EQ(Value(L"Plain", nullptr), L"<missing>");
    EXPECT_EQ(Value(L"Plain", L"Ours"), L"<missing>");
    EXPECT_FALSE(KeyExists(L"Plain\\Child"));
    EXPECT_FALSE(KeyExists(L"Gone"));
}

}  // namespace
