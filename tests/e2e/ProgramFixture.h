#pragma once
// What the end-to-end tests of zinpost.exe share: one stand-in server per
// suite, the real settings key of the prefix written per test and removed
// afterwards, scratch files, what the server stored, and the test converter
// on the program's PATH.
#include "tests/e2e/ZinpostProcess.h"
#include "common/SettingsNames.h"

#include "zinpost/engine/AppSettings.h"
#include "tests/support/StandinFixture.h"
#include "tests/support/TempDir.h"

#include "framework/Profile.h"
#include "framework/Text.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

namespace testing_support {

const wchar_t kMainCaption[] = L"Tessaly センドレット";
constexpr int kFolderId = 3;
const char kFolderName[] = "開発部";  // CP932, as stored
constexpr DWORD kRunTimeoutMs = 90000;

inline std::string Utf8(const std::wstring& text) { return fw::WideToUtf8(text); }

// The real settings key of the prefix (the program is another process):
// each test writes what it needs and removes the key afterwards.
class ProgramTest : public StandinSuiteTest {
protected:
    void SetUp() override {
        StandinSuiteTest::SetUp();
        RemoveSettings();
        profile.SetRegistryKey(settings_names::kRegistryKey);
        UseServer(server(), settings, "http", "tester", "p@ss word");
        settings.Folder = kFolderId;
        settings.FolderName = kFolderName;
        settings.SelectFileDelete = 0;
        settings.DisplayResult = 1;
    }
    void TearDown() override { RemoveSettings(); }

    static void RemoveSettings() { RegDeleteTreeA(HKEY_CURRENT_USER, settings_names::kApplicationKey); }
    void SaveSettings() { settings.Save(); }

    std::wstring MakeFile(const std::wstring& name, const std::string& bytes) {
        const std::wstring path = dir.File(name);
        EXPECT_TRUE(WriteFileBytes(path, bytes));
        return path;
    }

    // The files the server stored, name (UTF-8) to SHA-256.
    std::map<std::string, std::string> Stored() const {
        std::map<std::string, std::string> stored;
        const picojson::value files = server().Files();
        for (const picojson::value& file : files.get("files").get<picojson::array>()) {
            if (file.get("replaced").is<bool>() && file.get("replaced").get<bool>()) continue;
            EXPECT_EQ(RecordString(file, "group_id"), std::to_string(kFolderId));
            stored[RecordString(file, "filename")] = RecordString(file, "sha256");
        }
        return stored;
    }

    int UploadRequests() const { return static_cast<int>(server().Requests("uploadContentFile.json").size()); }

    TempDir dir;
    fw::Profile profile{settings_names::kApplication};
    CAppSettings settings{&profile};
};

// A text as a message box shows it: the line break that ends the system's
// texts may or may not be kept.
inline std::wstring WithoutLineBreakAtEnd(std::wstring text) {
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
    return text;
}
// The system's whole text for a library not found, as the program shows it.
inline std::wstring ModuleNotFoundText() {
    const std::wstring text = WithoutLineBreakAtEnd(fw::SystemErrorTextW(ERROR_MOD_NOT_FOUND));
    EXPECT_FALSE(text.empty());
    return text;
}

inline std::wstring ResultLine(bool ok, const std::wstring& text) { return (ok ? L"○：" : L"×：") + text + L"\r\n"; }

// Conversion through the test converter, found on the program's PATH.
class ConversionTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        settings.ConvertPDF = 1;
        // The converter needs .NET 3.5 on the machine: the prefix's own
        // machine key, put back as it was afterwards.
        DWORD size = sizeof previousInstall;
        hadDotNet = RegGetValueA(HKEY_LOCAL_MACHINE, kDotNetKey, "Install", RRF_RT_REG_DWORD, nullptr,
                                 &previousInstall, &size) == ERROR_SUCCESS;
        const DWORD one = 1;
        ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kDotNetKey, "Install", REG_DWORD, &one, sizeof one),
                  ERROR_SUCCESS);
        CreateDirectoryW(dir.File(L"out").c_str(), nullptr);
    }
    void TearDown() override {
        if (hadDotNet)
            RegSetKeyValueA(HKEY_LOCAL_MACHINE, kDotNetKey, "Install", REG_DWORD, &previousInstall,
                            sizeof previousInstall);
        else
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, kDotNetKey);
        ProgramTest::TearDown();
    }

    // The test converter on the program's PATH, answering as `answers` say
    // and writing its PDFs into `pdfFolder` (default: the folder "out").
    // `converter`: the folder put on PATH (default: the test converter's).
    std::map<std::wstring, std::wstring> ConverterEnvironment(const std::string& answers,
                                                              std::wstring pdfFolder = std::wstring(),
                                                              std::wstring converter = ConverterFolder()) {
        if (pdfFolder.empty()) pdfFolder = dir.File(L"out");
        const std::wstring settingsFile = dir.File(L"quillmorph.ini");
        EXPECT_TRUE(WriteFileBytes(settingsFile, answers + "PdfFolder=" + fw::WideToAnsi(pdfFolder) + "\r\n"));
        wchar_t path[32768] = {};
        GetEnvironmentVariableW(L"PATH", path, 32768);
        return {{L"PATH", converter + L";" + path}, {L"QUILLMORPH_TEST_SETTINGS", settingsFile}};
    }

    // The test converter, and a build of it without its entry point.
    static std::wstring ConverterFolder() {
        return UnixPathForWindows(EnvironmentVariable("ZINPOST_BINARY_DIR") + "/tests/pdf/quillmorph");
    }

    static constexpr char kDotNetKey[] = "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v3.5";
    bool hadDotNet = false;
    DWORD previousInstall = 0;
};

}  // namespace testing_support
