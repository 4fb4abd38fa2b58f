// The Office-to-PDF gate against the test build of "Quillmorph.dll": real
// library loading, the real registry (HKEY_LOCAL_MACHINE redirected to a
// private key), and the real system version.
#include "zinpost/engine/OfficePDF.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/RegistrySandbox.h"
#include "tests/support/TempDir.h"

#include "framework/Profile.h"
#include "framework/Text.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const char kDotNetKey[] = "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v3.5";
const char kNotInstalled[] = "はインストールされていません。\n\r\n";

std::wstring TestFolder() {
    const std::wstring exe = fw::ProgramPath();
    return exe.substr(0, exe.find_last_of(L'\\'));
}
// Where the build puts the two variants of the test converter.
std::wstring ConverterFolder() { return TestFolder() + L"\\quillmorph"; }
std::wstring NoEntryPointFolder() { return TestFolder() + L"\\quillmorph\\noexport"; }

// The system's text for a code as the gate keeps it: without the final line break.
std::string SystemText(DWORD error) {
    std::string text = fw::SystemErrorText(error);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

bool LibraryLoaded() { return GetModuleHandleA("Quillmorph.dll") != nullptr; }

class OfficePdfTest : public ::testing::Test {
protected:
    OfficePdfTest() : machine(HKEY_LOCAL_MACHINE) {
        SetDotNet(1);
        SetEnvironmentVariableW(L"QUILLMORPH_TEST_SETTINGS", SettingsFile().c_str());
        UseConverter(ConverterFolder());
    }
    ~OfficePdfTest() override { SetEnvironmentVariableW(L"QUILLMORPH_TEST_SETTINGS", nullptr); }

    std::wstring SettingsFile() const { return dir.File(L"settings.txt"); }
    std::wstring RecordFile() const { return dir.File(L"record.txt"); }

    // The library is found in `folder`, first on PATH (the program's and the
    // system's folders hold none).
    void UseConverter(const std::wstring& folder) const { converterPath.Set(folder); }
    void NoConverter() const { converterPath.Set(L""); }

    // The test converter's answers ("key=value" lines, see its README);
    // every call it receives from now on is recorded.
    void Answers(const std::string& lines) {
        DeleteFileW(RecordFile().c_str());
        ASSERT_TRUE(WriteFileBytes(SettingsFile(), lines + "\nRecord=" + fw::WideToAnsi(RecordFile()) + "\n"));
    }
    // How many calls of this kind the converter received ("create", "Release", ...).
    int Calls(const std::string& call) const {
        const std::string record = ReadFileBytes(RecordFile());
        int count = 0;
        for (size_t at = 0; (at = record.find(call + "\r\n", at)) != std::string::npos; at += call.size()) {
            if (at == 0 || record[at - 1] == '\n') ++count;
        }
        return count;
    }

    // Install value of .NET 3.5 in the redirected machine hive; no value: no key.
    void SetDotNet(std::optional<DWORD> install) {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kDotNetKey);
        if (!install) return;
        fw::UniqueHKey key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDotNetKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                                  nullptr),
                  ERROR_SUCCESS);
        const DWORD value = *install;
        ASSERT_EQ(RegSetValueExA(key.get(), "Install", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                 sizeof value),
                  ERROR_SUCCESS);
    }

    TempDir dir;
    RegistrySandbox machine;
    PathFront converterPath;
};

TEST_F(OfficePdfTest, WordFourteenAloneConvertsWordDocumentsOnly) {
    Answers("Word=14.0.7015.1000");
    COfficePDF gate;
    EXPECT_EQ(gate.checkEnableConverPDF(), 0);

    EXPECT_EQ(gate.GetResultText(), "変換できないファイルは変換せずにアップロードします。\n結果");
    EXPECT_EQ(gate.GetDetailText(), std::string(" ・Microsoft Excel") + kNotInstalled + " ・Microsoft PowerPoint" +
                                        kNotInstalled);
    EXPECT_EQ(gate.GetErrorText(), "Microsoft PowerPoint is not installed:(1)");
    const OfficeAppInfo word = gate.GetApplication(0);
    EXPECT_EQ(word.m_strVersion, "14.0.7015.1000");
    EXPECT_EQ(word.m_strVersionType, " 2010");
    EXPECT_EQ(word.m_nFlag, 1);
    EXPECT_EQ(gate.GetApplication(1).m_nFlag, 0);
    EXPECT_EQ(gate.GetApplication(2).m_nFlag, 0);
    // Every object released and the library freed after each use.
    EXPECT_EQ(Calls("create"), 3);
    EXPECT_EQ(Calls("Release"), 3);
    EXPECT_FALSE(LibraryLoaded());

    // Extensions match exactly, case included.
    EXPECT_EQ(gate.checkThisExtConvert(L".docx"), 1);
    EXPECT_EQ(gate.checkThisExtConvert(L".doc"), 1);
    EXPECT_EQ(gate.checkThisExtConvert(L".DOC"), 0);
    EXPECT_EQ(gate.checkThisExtConvert(L".Docx"), 0);
    EXPECT_EQ(gate.checkThisExtConvert(L"docx"), 0);
    EXPECT_EQ(gate.checkThisExtConvert(L".xlsx"), 0);
    EXPECT_EQ(gate.checkThisExtConvert(L".ppt"), 0);
    EXPECT_EQ(gate.checkThisExtConvert(L".pdf"), 0);
    EXPECT_EQ(gate.checkThisExtConvert(L""), 0);

    // The second full check answers from the first, without the library.
    Answers("Word=16.0\nExcel=16.0\nPowerPoint=16.0");
    EXPECT_EQ(gate.checkEnableConverPDF(), 0);
    EXPECT_EQ(Calls("create"), 0);
    EXPECT_EQ(gate.GetDetailText(), std::string(" ・Microsoft Excel") + kNotInstalled + " ・Microsoft PowerPoint" +
                                        kNotInstalled);
}

TEST_F(OfficePdfTest, AllApplicationsSupported) {
    Answers("Word=16.0.4266.1001\nExcel=15.0.4420.1017\nPowerPoint=14.0");
    COfficePDF gate;
    EXPECT_EQ(gate.checkEnableConverPDF(), 1);
    EXPECT_EQ(gate.GetResultText(), "PDFに変換してします。\n");
    EXPECT_EQ(gate.GetDetailText(), "");
    EXPECT_EQ(gate.GetApplication(0).m_strVersionType, " 2013以降");
    EXPECT_EQ(gate.GetApplication(1).m_strVersionType, " 2013");
    EXPECT_EQ(gate.GetApplication(2).m_strVersionType, " 2010");
    for (const wchar_t* extension : {L".doc", L".docx", L".xls", L".xlsx", L".ppt", L".pptx"})
        EXPECT_EQ(gate.checkThisExtConvert(extension), 1) << fw::WideToAnsi(extension);
    EXPECT_EQ(gate.checkThisExtConvert(L".txt"), 0);
}

TEST_F(OfficePdfTest, MixedInstallationListsEveryReasonInOrder) {
    Answers("Word=12.0.6425.1000\nPowerPoint=16.0");
    COfficePDF gate;
    EXPECT_EQ(gate.checkEnableConverPDF(), 0);
    EXPECT_EQ(gate.GetDetailText(),
              std::string(" ・Microsoft Word 2007は対応していません。\r\n") + " ・Microsoft Excel" + kNotInstalled);
    EXPECT_EQ(gate.checkThisExtConvert(L".docx"), 0);
    EXPECT_EQ(gate.checkThisExtConvert(L".pptx"), 1);
}

TEST_F(OfficePdfTest, InstalledVersionDecidesFlagAndVersionType) {
    struct Case {
        const char* version;
        int flag;
        const char* type;
        const char* detail;
    };
    const Case cases[] = {
        {"12.0", 0, " 2007", " ・Microsoft Word 2007は対応していません。\r\n"},
        {"16.0", 1, " 2013以降", ""},
        {"15.0.4420.1017", 1, " 2013", ""},
        {"11.0", 0, " 2007以前", " ・Microsoft Word 2007以前は対応していません。\r\n"},
        {"13.5", 0, "", " ・Microsoft Wordは対応していません。\r\n"},
        {"14.1", 1, "", ""},
        {"14..0", 1, " 2010", ""},
        {"16", 1, " 2013以降", ""},
        // Not a version: not supported, and no reason a user could read.
        {"14.x", 0, "", ""},
        {"99999999999.0", 0, "", ""},
    };
    for (const Case& c : cases) {
        Answers(std::string("Word=") + c.version);
        COfficePDF gate;
        EXPECT_EQ(gate.checkThisExtConvert(L".docx"), c.flag) << c.version;
        const OfficeAppInfo word = gate.GetApplication(0);
        EXPECT_EQ(word.m_nFlag, c.flag) << c.version;
        EXPECT_EQ(word.m_strVersion, c.version);
        EXPECT_EQ(word.m_strVersionType, c.type) << c.version;
        EXPECT_EQ(gate.GetDetailText(), c.detail) << c.version;
    }
}

TEST_F(OfficePdfTest, ExtensionCheckBeforeTheFullCheckAsksForOneApplication) {
    Answers("Word=16.0");
    COfficePDF gate;
    EXPECT_EQ(gate.checkThisExtConvert(L".docx"), 1);
    EXPECT_EQ(Calls("CheckWord"), 1);
    EXPECT_EQ(Calls("CheckExcel") + Calls("CheckPowerPoint"), 0);
    // Word is known to convert now: no second load.
    EXPECT_EQ(gate.checkThisExtConvert(L".doc"), 1);
    EXPECT_EQ(Calls("create"), 1);

    // Excel is asked each time; the reasons start afresh with every question.
    EXPECT_EQ(gate.checkThisExtConvert(L".xlsx"), 0);
    EXPECT_EQ(gate.checkThisExtConvert(L".xls"), 0);
    EXPECT_EQ(Calls("CheckExcel"), 2);
    EXPECT_EQ(gate.GetDetailText(), std::string(" ・Microsoft Excel") + kNotInstalled);
    EXPECT_EQ(gate.checkThisExtConvert(L".txt"), 0);
    EXPECT_EQ(gate.GetDetailText(), "");
    EXPECT_EQ(Calls("create"), 3);

    // None of this counts as the full check.
    EXPECT_EQ(gate.checkEnableConverPDF(), 0);
    EXPECT_EQ(Calls("create"), 6);
}

TEST_F(OfficePdfTest, MissingDotNetIsAPrerequisite) {
    // The machine's hive seen by this process is the private key: the
    // prefix's own stays untouched.
    fw::UniqueHKey privateKey;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (machine.RealPath() + L"\\" + fw::AnsiToWide(kDotNetKey)).c_str(), 0,
                            KEY_READ, privateKey.put()),
              ERROR_SUCCESS);

    Answers("Word=16.0\nExcel=16.0\nPowerPoint=16.0");
    const std::string line = " ・Microsoft .NET Framework 3.5がインストールされていません。\r\n";
    for (std::optional<DWORD> install : {std::optional<DWORD>(), std::optional<DWORD>(0), std::optional<DWORD>(2)}) {
        SetDotNet(install);
        COfficePDF gate;
        EXPECT_EQ(gate.checkEnableConverPDF(), -1);
        EXPECT_EQ(gate.GetResultText(), "PDFに変換せずにアップロードします。\n");
        EXPECT_EQ(gate.GetDetailText(), line);
        COfficePDF unchecked;
        EXPECT_EQ(unchecked.checkThisExtConvert(L".docx"), -1);
        EXPECT_EQ(unchecked.GetDetailText(), line);
        // An extension no application converts needs no prerequisite.
        EXPECT_EQ(unchecked.checkThisExtConvert(L".txt"), 0);
    }
    EXPECT_EQ(Calls("create"), 0);
}

TEST_F(OfficePdfTest, NoConverterInstalled) {
    NoConverter();
    Answers("Word=16.0\nExcel=16.0\nPowerPoint=16.0");
    TakeMessageBoxes();
    COfficePDF gate;
    EXPECT_EQ(gate.checkEnableConverPDF(), -1);
    EXPECT_EQ(gate.GetResultText(), "PDFに変換せずにアップロードします。\n");
    EXPECT_EQ(gate.GetDetailText(), "");
    EXPECT_EQ(gate.GetErrorText(), SystemText(ERROR_MOD_NOT_FOUND));
    EXPECT_FALSE(gate.GetErrorText().empty());
    EXPECT_EQ(gate.checkThisExtConvert(L".docx"), 0);

    const std::wstring source = dir.File(L"a.docx");
    ASSERT_TRUE(WriteFileBytes(source, "document"));
    std::wstring pdf = L"unchanged";
    EXPECT_EQ(gate.convertPDF(source, pdf), -1);
    EXPECT_EQ(pdf, L"unchanged");

    COfficePDF unchecked;
    EXPECT_EQ(unchecked.checkThisExtConvert(L".docx"), 0);
    EXPECT_EQ(unchecked.GetDetailText(), "");
    EXPECT_EQ(Calls("create"), 0);
    // The callers decide what the user sees.
    EXPECT_TRUE(TakeMessageBoxes().empty());
}

TEST_F(OfficePdfTest, ConverterWithoutEntryPoint) {
    UseConverter(NoEntryPointFolder());
    Answers("Word=16.0\nExcel=16.0\nPowerPoint=16.0");
    const std::wstring source = dir.File(L"a.docx");
    ASSERT_TRUE(WriteFileBytes(source, "document"));
    COfficePDF gate;
    std::wstring pdf;
    EXPECT_EQ(gate.convertPDF(source, pdf), -2);
    EXPECT_EQ(gate.GetErrorText(), SystemText(ERROR_PROC_NOT_FOUND));
    EXPECT_FALSE(LibraryLoaded());

    EXPECT_EQ(gate.checkEnableConverPDF(), -1);
    EXPECT_EQ(gate.GetDetailText(), "");
    EXPECT_FALSE(LibraryLoaded());
}

TEST_F(OfficePdfTest, DamagedLibraryCountsAsMissing) {
    // A file of that name that is no library at all.
    const std::wstring folder = dir.File(L"damaged");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\Quillmorph.dll", "MZ this is not a library"));
    UseConverter(folder);
    TakeMessageBoxes();
    COfficePDF gate;
    std::wstring pdf;
    EXPECT_EQ(gate.convertPDF(dir.File(L"a.docx"), pdf), -1);
    EXPECT_FALSE(gate.GetErrorText().empty());
    EXPECT_EQ(gate.checkEnableConverPDF(), -1);
    EXPECT_EQ(gate.GetDetailText(), "");
    EXPECT_TRUE(TakeMessageBoxes().empty());
}

TEST_F(OfficePdfTest, LibraryWithoutObjectCountsAsMissingEntryPoint) {
    Answers("NoObject=1\nWord=16.0");
    COfficePDF gate;
    std::wstring pdf;
    EXPECT_EQ(gate.convertPDF(dir.File(L"a.docx"), pdf), -2);
    EXPECT_FALSE(gate.GetErrorText().empty());
    EXPECT_EQ(gate.checkThisExtConvert(L".docx"), 0);
    EXPECT_EQ(gate.GetDetailText(), "");
    EXPECT_FALSE(LibraryLoaded());
}

TEST_F(OfficePdfTest, ConversionWritesThePdf) {
    const std::wstring out = dir.File(L"out");
    ASSERT_TRUE(CreateDirectoryW(out.c_str(), nullptr));
    Answers("ConvertResult=1\nPdfFolder=" + fw::WideToAnsi(out));
    const std::wstring source = dir.File(L"報告書 (案).docx");
    ASSERT_TRUE(WriteFileBytes(source, "document"));

    COfficePDF gate;
    std::wstring pdf;
    EXPECT_EQ(gate.convertPDF(source, pdf), 1);
    EXPECT_EQ(pdf, out + L"\\報告書 (案).pdf");
    EXPECT_EQ(ReadFileBytes(pdf).rfind("%PDF-1.4\n", 0), 0u);
    // The library received the path in the ANSI code page.
    EXPECT_EQ(Calls("Convert " + fw::WideToAnsi(source)), 1);
    EXPECT_EQ(Calls("GetLastErrorInfo"), 0);
    EXPECT_EQ(Calls("Release"), 1);
    EXPECT_FALSE(LibraryLoaded());
}

TEST_F(OfficePdfTest, FailedConversionKeepsTheLibrarysReason) {
    Answers("ConvertResult=0\nErrorText=変換できませんでした。\nErrorCode=-2147467259");
    const std::wstring source = dir.File(L"a.docx");
    ASSERT_TRUE(WriteFileBytes(source, "document"));
    COfficePDF gate;
    std::wstring pdf;
    EXPECT_EQ(gate.convertPDF(source, pdf), -3);
    EXPECT_EQ(gate.GetErrorText(), "変換できませんでした。:(-2147467259)");
    EXPECT_TRUE(pdf.empty());

    // The converter's own reason for a document that is not there.
    Answers("ConvertResult=1");
    EXPECT_EQ(gate.convertPDF(dir.File(L"missing.docx"), pdf), -3);
    EXPECT_EQ(gate.GetErrorText(), "source file not found:(2)");
    EXPECT_EQ(Calls("create"), 1);
    EXPECT_EQ(Calls("Release"), 1);
}

TEST_F(OfficePdfTest, PathTheLibraryCannotTakeIsRefused) {
    Answers("ConvertResult=1");
    COfficePDF gate;
    std::wstring pdf;
    // 259 bytes fit the library's buffer; 260 do not.
    const std::wstring folder = dir.Path() + L"\\";
    const size_t fill = 259 - fw::WideToAnsi(folder).size() - 5;
    EXPECT_EQ(gate.convertPDF(folder + std::wstring(fill + 1, L'a') + L".docx", pdf), -3);
    EXPECT_EQ(gate.GetErrorText(), SystemText(ERROR_FILENAME_EXCED_RANGE));
    // A character outside the ANSI code page would name another file.
    EXPECT_EQ(gate.convertPDF(folder + L"r\u00e9sum\u00e9.docx", pdf), -3);
    EXPECT_EQ(gate.GetErrorText(), SystemText(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(gate.convertPDF(folder + L"\uD55C.docx", pdf), -3);
    EXPECT_EQ(Calls("create"), 0);

    // At 259 bytes the path reaches the library (which finds no such file).
    EXPECT_EQ(gate.convertPDF(folder + std::wstring(fill, L'a') + L".docx", pdf), -3);
    EXPECT_EQ(gate.GetErrorText(), "source file not found:(2)");
    EXPECT_EQ(Calls("create"), 1);
}

TEST_F(OfficePdfTest, ProcessWideGateIsCreatedOnce) {
    NoConverter();
    EXPECT_EQ(COfficePDF::GetInstance().checkEnableConverPDF(), -1);
    // A later call finds the same object, with the check's outcome.
    EXPECT_EQ(COfficePDF::GetInstance().GetResultText(), "PDFに変換せずにアップロードします。\n");
}

TEST(OfficePdf, SupportedOperatingSystems) {
    EXPECT_FALSE(COfficePDF::IsSupportedOsVersion(5, 0));  // Windows 2000
    EXPECT_TRUE(COfficePDF::IsSupportedOsVersion(5, 1));   // XP
    EXPECT_FALSE(COfficePDF::IsSupportedOsVersion(5, 2));
    EXPECT_TRUE(COfficePDF::IsSupportedOsVersion(6, 0));
    EXPECT_TRUE(COfficePDF::IsSupportedOsVersion(6, 1));
    EXPECT_TRUE(COfficePDF::IsSupportedOsVersion(6, 2));
    EXPECT_FALSE(COfficePDF::IsSupportedOsVersion(6, 3));
    EXPECT_TRUE(COfficePDF::IsSupportedOsVersion(7, 0));
    EXPECT_TRUE(COfficePDF::IsSupportedOsVersion(10, 0));
    EXPECT_FALSE(COfficePDF::IsSupportedOsVersion(4, 10));
}

TEST(OfficePdf, VersionPiecesAreSigned32BitNumbers) {
    long value = 7;
    EXPECT_TRUE(COfficePDF::CString2Long("2147483647", value));
    EXPECT_EQ(value, 2147483647L);
    EXPECT_TRUE(COfficePDF::CString2Long("-2147483648", value));
    EXPECT_EQ(value, -2147483647L - 1);
    EXPECT_TRUE(COfficePDF::CString2Long("+15", value));
    EXPECT_EQ(value, 15L);
    value = 7;
    for (const char* text : {"2147483648", "-2147483649", "99999999999999999999", "14a", "", "-", " 14", "1 4"}) {
        EXPECT_FALSE(COfficePDF::CString2Long(text, value)) << text;
        EXPECT_EQ(value, 7L) << text;
    }
}

// ---- The system version as Wine reports it to one program ----

// Child: the full check of a fresh gate; the detail text into args[0].
int FullCheckChild(const std::vector<std::wstring>& args) {
    COfficePDF gate;
    const int result = gate.checkEnableConverPDF();
    WriteFileBytes(args.at(0), gate.GetDetailText());
    return result + 10;
}
TEST_CHILD(full_check, FullCheckChild);

bool RunningUnderWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

// Runs the full check in a copy of this program to which Wine reports the
// Windows version `wineVersion` ("win81"): Wine reads the version of a
// program from HKCU\Software\Wine\AppDefaults\<file name> at its start.
int FullCheckAs(const TempDir& dir, const std::wstring& wineVersion, std::string& detail) {
    const std::wstring name = L"gate-" + std::to_wstring(GetCurrentProcessId()) + L"-" + wineVersion + L".exe";
    const std::wstring copy = dir.File(name);
    if (!CopyFileW(fw::ProgramPath().c_str(), copy.c_str(), FALSE)) return -100;
    const std::wstring appKey = L"Software\\Wine\\AppDefaults\\" + name;
    fw::UniqueHKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, appKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return -101;
    RegSetValueExW(key.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(wineVersion.c_str()),
                   static_cast<DWORD>((wineVersion.size() + 1) * sizeof(wchar_t)));
    key.reset();

    const std::wstring detailFile = dir.File(wineVersion + L".txt");
    std::wstring commandLine = L"\"" + copy + L"\" --child=full_check \"" + detailFile + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    int result = -102;
    if (CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info)) {
        CloseHandle(info.hThread);
        const fw::UniqueKernelHandle process(info.hProcess);
        const DWORD code = WaitChild(process);
        if (code != ~0u) result = static_cast<int>(code) - 10;
    }
    RegDeleteKeyW(HKEY_CURRENT_USER, appKey.c_str());
    detail = ReadFileBytes(detailFile);
    return result;
}

TEST(OfficePdf, UnsupportedSystemEndsTheCheck) {
    if (!RunningUnderWine()) GTEST_SKIP() << "the system version is set through Wine";
    TempDir dir;
    const std::string line = " ・お使いのOSは対応していません。\r\n";
    for (const wchar_t* version : {L"win2k", L"win81"}) {
        std::string detail;
        EXPECT_EQ(FullCheckAs(dir, version, detail), -1) << fw::WideToAnsi(version);
        EXPECT_EQ(detail, line) << fw::WideToAnsi(version);
    }
}

}  // namespace
