// zinpost.exe end to end under Wine: started with files on its command line
// as the Explorer extension starts it, uploading to the stand-in server over
// real HTTP, its windows read and driven like a person would.
#include "tests/e2e/ProgramFixture.h"
#include "common/SettingsNames.h"

#include "tests/support/Sha256.h"
#include "tools/driver/WindowDriver.h"

#include "framework/FilePath.h"
#include "framework/WinHandle.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <memory>

using namespace testing_support;

namespace {

TEST_F(ProgramTest, ThreeFilesArriveAndTheResultListsThem) {
    SaveSettings();
    const std::string minutes = "議事録\r\n第3回\r\n";
    std::string data(150000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7919 % 251);
    const std::string pdf = "%PDF-1.4\n%test\n";
    const std::vector<std::wstring> files = {MakeFile(L"議事録.txt", minutes), MakeFile(L"data.bin", data),
                                             MakeFile(L"見積書 2026.pdf", pdf)};
    ZinpostProcess program(files);
    ASSERT_TRUE(program.Started());

    HWND result = program.ResultWindow(kRunTimeoutMs);
    ASSERT_TRUE(result);
    EXPECT_EQ(ControlText(result, kResultDetail), L"登録先：「開発部」\r\n" + ResultLine(true, files[0]) +
                                                      ResultLine(true, files[1]) + ResultLine(true, files[2]));
    EXPECT_EQ(ControlText(result, kResultSummary), L"成功：3  失敗：0");
    PressButton(result, IDOK);
    EXPECT_EQ(program.WaitForExit(30000), 0u);

    const auto stored = Stored();
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored.at(u8"議事録.txt"), Sha256::OfBytes(minutes));
    EXPECT_EQ(stored.at("data.bin"), Sha256::OfBytes(data));
    EXPECT_EQ(stored.at(u8"見積書 2026.pdf"), Sha256::OfBytes(pdf));
    // Every login of the run was followed by its logout.
    const picojson::value counters = server().Counters();
    EXPECT_EQ(counters.get("logins").get<double>(), counters.get("logouts").get<double>());
}

TEST_F(ProgramTest, AllSentWithoutResultDisplayEndsQuietly) {
    settings.DisplayResult = 0;
    SaveSettings();
    ZinpostProcess program({MakeFile(L"a.txt", "alpha"), MakeFile(L"b.txt", "beta")});
    ASSERT_TRUE(program.Started());
    bool resultShown = false;
    ASSERT_TRUE(WaitFor(
        [&] {
            resultShown = resultShown || program.ResultWindow(0);
            return !program.Running();
        },
        kRunTimeoutMs));
    EXPECT_FALSE(resultShown);
    EXPECT_EQ(program.WaitForExit(0), 0u);
    EXPECT_EQ(Stored().size(), 2u);
}

TEST_F(ProgramTest, MissingFileIsListedWithItsReasonAndTheOthersArrive) {
    SaveSettings();
    const std::vector<std::wstring> files = {MakeFile(L"first.txt", "1"), dir.File(L"missing.txt"),
                                             MakeFile(L"third.txt", "3")};
    ZinpostProcess program(files);
    HWND result = program.ResultWindow(kRunTimeoutMs);
    ASSERT_TRUE(result);
    const std::wstring detail = ControlText(result, kResultDetail);
    EXPECT_NE(detail.find(ResultLine(true, files[0])), std::wstring::npos) << Utf8(detail);
    EXPECT_NE(detail.find(L"×：" + files[1] + L" (OpenError "), std::wstring::npos) << Utf8(detail);
    EXPECT_NE(detail.find(ResultLine(true, files[2])), std::wstring::npos) << Utf8(detail);
    EXPECT_EQ(ControlText(result, kResultSummary), L"成功：2  失敗：1");
    PressButton(result, IDOK);
    EXPECT_EQ(program.WaitForExit(30000), 0u);
    const auto stored = Stored();
    EXPECT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored.count("first.txt"), 1u);
    EXPECT_EQ(stored.count("third.txt"), 1u);
}

TEST_F(ProgramTest, ServerRefusalIsListedWithTheServersMessage) {
    settings.DisplayResult = 0;  // a failure shows the result all the same
    SaveSettings();
    server().Script("uploadContentFile.json", R"([{"errno": 14}])");
    const std::wstring file = MakeFile(L"full.txt", "no room");
    ZinpostProcess program({file});
    HWND result = program.ResultWindow(kRunTimeoutMs);
    ASSERT_TRUE(result);
    EXPECT_EQ(ControlText(result, kResultDetail),
              L"登録先：「開発部」\r\n" +
                  ResultLine(false, file +
                                        L" (アップロード先の容量不足が発生しています。不要なファイルを削除して、"
                                        L"空き容量を増やして下さい。)"));
    EXPECT_EQ(ControlText(result, kResultSummary), L"成功：0  失敗：1");
    PressButton(result, IDOK);
    EXPECT_EQ(program.WaitForExit(30000), 0u);
}

TEST_F(ProgramTest, MoreThan100FilesAreRefusedAndNothingIsSent) {
    SaveSettings();
    std::vector<std::wstring> files;
    for (int i = 0; i < 101; ++i) files.push_back(dir.File(L"f" + std::to_wstring(i) + L".txt"));
    ZinpostProcess program(files);
    HWND box = program.WaitForMessageBox(30000);
    ASSERT_TRUE(box);
    EXPECT_EQ(WindowText(box), kMainCaption);
    EXPECT_EQ(MessageBoxText(box), L"一度にアップロードできるファイル数は100ファイルまでです。");
    PressButton(box, IDOK);
    // A command-line start without a run ends the program.
    EXPECT_EQ(program.WaitForExit(30000), 0u);
    EXPECT_EQ(UploadRequests(), 0);
}

// A new user sets the program up entirely through its windows: started with
// no settings (and a file, which is not uploaded), the default settings
// dialog opens by itself; the server dialog, the folder tree and the period
// are filled in; the next start from Explorer uploads with those settings.
TEST_F(ProgramTest, ANewUserSetsTheProgramUpThroughItsWindows) {
    const std::wstring user = L"山田太郎";
    const std::wstring password = L"a&b=c d日本";
    server().SetAccounts({{Utf8(user), Utf8(password)}});
    server().Control("POST", "/groups", u8R"({"content_groups": [
        {"content_group_id": "1", "parent_content_group_id": null, "title_ja": "全社共有", "type": "1"},
        {"content_group_id": "3", "parent_content_group_id": "1", "title_ja": "開発部", "type": "1"},
        {"content_group_id": "4", "parent_content_group_id": "3", "title_ja": "設計資料", "type": "1"},
        {"content_group_id": "5", "parent_content_group_id": null, "title_ja": "個人フォルダー", "type": "1"}]})");

    ZinpostProcess first({MakeFile(L"ignored.txt", "not yet")});
    HWND setup = first.WaitForWindow(L"Tessaly センドレット：デフォルト設定変更", 30000);
    ASSERT_TRUE(setup);
    EXPECT_EQ(ControlText(setup, 1000), L"（ 『 変更 』 ボタンをクリックし、サーバー設定をして下さい。 ）");

    PressButton(setup, 1001);
    HWND serverDialog = first.WaitForWindow(L"Tessaly センドレット：サーバー設定", 30000);
    ASSERT_TRUE(serverDialog);
    std::wstring url = fw::Utf8ToWide(server().Url());
    url.pop_back();  // typed without its final "/"
    TypeInto(serverDialog, 1008, url);
    TypeInto(serverDialog, 1009, user);
    TypeInto(serverDialog, 1010, password);
    PressButton(serverDialog, IDOK);
    // The account is confirmed against the server.
    ASSERT_TRUE(WaitFor([&] { return ControlText(setup, 1000) == url + L"/(認証済)"; }, 30000)) << Utf8(ControlText(setup, 1000));

    ASSERT_TRUE(first.ChooseNestedFolder(setup, 1034));
    ASSERT_TRUE(WaitFor([&] { return ControlText(setup, 1037) == L"設計資料"; }, 30000));

    PostMessageW(GetDlgItem(setup, 1043), BM_CLICK, 0, 0);  // a number of days
    ASSERT_TRUE(WaitFor([&] { return ControlEnabled(setup, 1064); }, 10000));
    TypeInto(setup, 1064, L"30");
    PressButton(setup, IDOK);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(setup); }, 30000));

    // Exactly what was typed and chosen is stored, the password encrypted.
    CAppSettings stored(&profile);
    EXPECT_EQ(stored.Load(), 1);
    EXPECT_EQ(stored.Server, fw::WideToAnsi(url) + "/");
    EXPECT_EQ(stored.User, fw::WideToAnsi(user));
    EXPECT_EQ(stored.Password, fw::WideToAnsi(password));
    EXPECT_EQ(stored.FolderName, "設計資料");
    EXPECT_EQ(stored.Folder, 4);
    EXPECT_EQ(stored.SelectFileDelete, 2);
    EXPECT_EQ(stored.FileDelete, 30);
    fw::UniqueHKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, settings_names::kSettingsKey, 0, KEY_READ, key.put()),
              ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExA(key.get(), "Password", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(size % 16, 0u);
    // The start's own file waited for the settings and was not uploaded.
    EXPECT_EQ(UploadRequests(), 0);
    HWND main = first.MainWindow();
    ASSERT_TRUE(main);
    EXPECT_EQ(ControlText(main, 1076), L"設計資料");
    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(first.WaitForExit(30000), 0u);

    // The next start, as the Explorer extension makes it, uploads there.
    ZinpostProcess second({MakeFile(L"仕様書.txt", "spec"), MakeFile(L"図面.bin", std::string(70000, 'z'))});
    HWND result = second.ResultWindow(kRunTimeoutMs);
    ASSERT_TRUE(result);
    EXPECT_EQ(ControlText(result, kResultSummary), L"成功：2  失敗：0");
    PressButton(result, IDOK);
    EXPECT_EQ(second.WaitForExit(30000), 0u);
    const picojson::value files = server().Files();
    ASSERT_EQ(files.get("files").get<picojson::array>().size(), 2u);
    for (const picojson::value& file : files.get("files").get<picojson::array>()) {
        EXPECT_EQ(RecordString(file, "group_id"), "4");
        EXPECT_EQ(RecordString(file, "file_delete_days"), "30");
        EXPECT_EQ(RecordString(file, "is_encrypt"), "true");
        EXPECT_EQ(RecordString(file, "user"), Utf8(user));
    }

    // Started by hand, "..." picks another folder and saves it at once.
    ZinpostProcess third({}, true);
    main = third.MainWindow();
    ASSERT_TRUE(main);
    PressButton(main, 1075);
    HWND folders = third.WaitForWindow(L"Tessaly センドレット：フォルダー選択画面", 30000);
    ASSERT_TRUE(folders);
    HWND tree = GetDlgItem(folders, 1035);
    DWORD_PTR parent = 0, ignored = 0;
    SendMessageTimeoutW(tree, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(FirstGrandchild(tree)),
                        SMTO_NORMAL, 5000, &parent);
    SendMessageTimeoutW(tree, TVM_SELECTITEM, TVGN_CARET, static_cast<LPARAM>(parent), SMTO_NORMAL, 5000, &ignored);
    PressButton(folders, IDOK);
    ASSERT_TRUE(WaitFor([&] { return ControlText(main, 1076) == L"開発部"; }, 30000));
    EXPECT_EQ(stored.Load(), 1);
    EXPECT_EQ(stored.Folder, 3);
    EXPECT_EQ(stored.FolderName, "開発部");
    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(third.WaitForExit(30000), 0u);
}

TEST_F(ProgramTest, CancelDuringTheSecondTransferStopsTheRun) {
    settings.DisplayResult = 0;
    SaveSettings();
    // The second upload's body is read slowly, so its transfer lasts.
    server().Script("uploadContentFile.json", R"([{"pass": true}, {"read_rate": 1000000}])");
    std::string big(24 * 1024 * 1024, 'x');
    const std::vector<std::wstring> files = {MakeFile(L"one.txt", "1"), MakeFile(L"two.bin", big),
                                             MakeFile(L"three.txt", "3")};
    ZinpostProcess program(files);
    HWND main = program.MainWindow();
    ASSERT_TRUE(main);
    ASSERT_TRUE(WaitFor(
        [&] {
            DWORD_PTR position = 0;
            SendMessageTimeoutW(GetDlgItem(main, 1016), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &position);
            return ControlText(main, 1018) == L"登録中(2/3)" && position > 0;
        },
        kRunTimeoutMs));
    EXPECT_TRUE(ControlVisible(main, 1086));
    EXPECT_FALSE(ControlVisible(main, 1015));
    EXPECT_EQ(ControlText(main, 1022), L"two.bin");
    PressButton(main, 1086);

    HWND result = program.ResultWindow(kRunTimeoutMs);
    ASSERT_TRUE(result);
    EXPECT_EQ(ControlText(result, kResultDetail),
              L"登録先：「開発部」\r\n" + ResultLine(true, files[0]) +
                  ResultLine(false, files[1] + L" (アップロードをキャンセルしました。)") +
                  ResultLine(false, files[2]));
    PressButton(result, IDOK);
    EXPECT_EQ(program.WaitForExit(30000), 0u);
    const auto stored = Stored();
    EXPECT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored.count("one.txt"), 1u);
}

TEST_F(ProgramTest, MissingResultLibraryShowsTheSystemTextAndEndsNormally) {
    SaveSettings();
    // The program alone in a folder: no zinpostresult.dll beside it.
    TempDir alone;
    const std::wstring program = alone.File(L"zinpost.exe");
    ASSERT_TRUE(CopyFileW(ZinpostPath().c_str(), program.c_str(), FALSE));
    ZinpostProcess run({MakeFile(L"a.txt", "alpha")}, false, {}, program);
    HWND box = run.WaitForMessageBox(kRunTimeoutMs);
    ASSERT_TRUE(box);
    EXPECT_EQ(WindowText(box), kMainCaption);
    EXPECT_EQ(WithoutLineBreakAtEnd(MessageBoxText(box)), ModuleNotFoundText());
    PressButton(box, IDOK);
    EXPECT_EQ(run.WaitForExit(30000), 0u);
    EXPECT_EQ(Stored().size(), 1u);
}

TEST_F(ConversionTest, ConvertedPdfIsUploadedAndThenRemoved) {
    SaveSettings();
    const std::wstring document = MakeFile(L"報告書.docx", "a Word document");
    ZinpostProcess program({document}, false, ConverterEnvironment("Word=14.0.7015.1000\r\n"));
    HWND result = program.ResultWindow(kRunTimeoutMs);
    ASSERT_TRUE(result);
    EXPECT_EQ(ControlText(result, kResultDetail),
              L"登録先：「開発部」\r\n" + ResultLine(true, L"PDF変換 - " + document));
    PressButton(result, IDOK);
    EXPECT_EQ(program.WaitForExit(30000), 0u);
    const auto stored = Stored();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored.begin()->first, u8"報告書.pdf");
    EXPECT_FALSE(FileExists(dir.File(L"out\\報告書.pdf")));
    EXPECT_TRUE(FileExists(document));
}

TEST_F(ConversionTest, FailedConversionIsListedAndNotSent) {
    SaveSettings();
    const std::wstring document = MakeFile(L"報告書.docx", "a Word document");
    ZinpostProcess program({document}, false,
                           ConverterEnvironment("Word=14.0.7015.1000\r\nConvertResult=0\r\n"
                                                "ErrorText=変換エラー\r\nErrorCode=7\r\n"));
    HWND result = program.ResultWindow(kRunTimeoutMs);
    ASSERT_TRUE(result);
    EXPECT_EQ(ControlText(result, kResultDetail),
              L"登録先：「開発部」\r\n" +
                  ResultLine(false, document + L" (PDF変換できませんでした。{変換エラー:(7)})"));
    PressButton(result, IDOK);
    EXPECT_EQ(program.WaitForExit(30000), 0u);
    EXPECT_EQ(UploadRequests(), 0);
}

// A folder in the build tree whose files have paths of more than 300
// characters, made and removed through the long path form.
class LongFolder {
public:
    LongFolder() {
        std::wstring path = UnixPathForWindows(EnvironmentVariable("ZINPOST_BINARY_DIR") + "/tests/e2e/long-paths");
        m_root = path;
        CreateDirectoryW(path.c_str(), nullptr);
        for (const wchar_t* part : {L"第一階層の長いフォルダー名", L"second level with a long folder name"})
            for (int i = 0; i < 6; ++i) {
                path += L"\\" + std::wstring(part) + std::to_wstring(i);
                CreateDirectoryW(fw::LongPathForm(path).c_str(), nullptr);
            }
        m_path = path;
    }
    ~LongFolder() { Remove(m_root); }
    std::wstring File(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    static void Remove(const std::wstring& path) {
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW(fw::LongPathForm(path + L"\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = data.cFileName;
                if (name == L"." || name == L"..") continue;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    Remove(path + L"\\" + name);
                else
                    DeleteFileW(fw::LongPathForm(path + L"\\" + name).c_str());
            } while (FindNextFileW(find, &data));
            FindClose(find);
        }
        RemoveDirectoryW(fw::LongPathForm(path).c_str());
    }
    std::wstring m_root, m_path;
};

// Files the run must take exactly as given or refuse with their reason: a
// path of more than 300 characters is uploaded (and not converted); a
// converter that throws fails its conversion and the run ends as usual.
struct FileCase {
    const char* name;
    bool longPath;
    const wchar_t* file;
    const char* answers;
    bool stored;
    std::wstring reason;  // the result line's reason; empty when uploaded
};

class FileCaseTest : public ConversionTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(FileCaseTest, TakenWholeOrRefusedWithItsReason) {
    const FileCase& c = GetParam();
    SaveSettings();
    LongFolder longFolder;
    const std::wstring path = c.longPath ? longFolder.File(c.file) : dir.File(c.file);
    const std::string bytes = "the document's own bytes";
    if (c.longPath) {
        ASSERT_GE(path.size(), 300u);
    }
    {
        fw::UniqueFile file(CreateFileW(fw::LongPathForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    }
    ZinpostProcess program({path}, false, ConverterEnvironment(std::string("Word=14.0.7015.1000\r\n") + c.answers));
    HWND result = program.ResultWindow(kRunTimeoutMs);
    ASSERT_TRUE(result);
    EXPECT_EQ(ControlText(result, kResultDetail),
              L"登録先：「開発部」\r\n" + ResultLine(c.reason.empty(), c.reason.empty() ? path : path + L" (" + c.reason + L")"));
    PressButton(result, IDOK);
    EXPECT_EQ(program.WaitForExit(30000), 0u);
    const auto stored = Stored();
    if (c.stored) {
        ASSERT_EQ(stored.size(), 1u);
        EXPECT_EQ(stored.begin()->first, fw::WideToUtf8(c.file));
        EXPECT_EQ(stored.begin()->second, Sha256::OfBytes(bytes));
    } else {
        EXPECT_EQ(UploadRequests(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileCaseTest,
    ::testing::Values(
        FileCase{"LongPath", true, L"議事録.txt", "", true, L""},
        FileCase{"LongPathNotConverted", true, L"報告書.docx", "", false,
                 L"PDF変換できませんでした。{" + fw::AnsiToWide(fw::SystemErrorLine(ERROR_FILENAME_EXCED_RANGE)) + L"}"},
        FileCase{"ConverterThrows", false, L"報告書.docx", "ConvertThrows=1\r\n", false,
                 L"PDF変換できませんでした。{原因不明のエラーが発生しました。}"}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

// The converter is looked for in the program's folder, the system's, and
// only then on PATH, whose folders must not come before the system's.
TEST_F(ConversionTest, TheConverterInTheSystemFolderComesBeforePath) {
    SaveSettings();
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::wstring installed = std::wstring(system) + L"\\Quillmorph.dll";
    ASSERT_TRUE(CopyFileW((ConverterFolder() + L"\\Quillmorph.dll").c_str(), installed.c_str(), FALSE));
    struct Removal {
        std::wstring path;
        ~Removal() { DeleteFileW(path.c_str()); }
    } removal{installed};
    const std::wstring document = MakeFile(L"報告書.docx", "a Word document");
    // On PATH: a library of that name without the converter's entry point.
    ZinpostProcess program({document}, false,
                           ConverterEnvironment("Word=14.0.7015.1000\r\n", std::wstring(), ConverterFolder() + L"\\noexport"));
    HWND result = program.ResultWindow(kRunTimeoutMs);
    ASSERT_TRUE(result);
    EXPECT_EQ(ControlText(result, kResultDetail), L"登録先：「開発部」\r\n" + ResultLine(true, L"PDF変換 - " + document));
    PressButton(result, IDOK);
    EXPECT_EQ(program.WaitForExit(30000), 0u);
}

// The converted PDF goes after its upload only when the conversion made
// it: not a PDF of the user's own that the converter wrote over beside the
// document, not the document itself handed back as "the PDF".
struct ConvertedPdfCase {
    const char* name;
    const char* answers;   // the converter's, besides its PDF folder
    bool userPdfBefore;    // a report.pdf of the user's own beside the document
    const char* stored;    // the name the server stores
    bool besideAfter;      // report.pdf beside the document after the run
};

class ConvertedPdfTest : public ConversionTest, public ::testing::WithParamInterface<ConvertedPdfCase> {};

TEST_P(ConvertedPdfTest, OnlyTheConversionsOwnPdfIsDeleted) {
    const ConvertedPdfCase& c = GetParam();
    SaveSettings();
    const std::string word = "a Word document";
    const std::wstring document = MakeFile(L"報告書.docx", word);
    const std::wstring beside = dir.File(L"報告書.pdf");
    if (c.userPdfBefore) {
        ASSERT_TRUE(WriteFileBytes(beside, "%PDF-1.4 the user's own"));
    }
    ZinpostProcess program({document}, false,
                           ConverterEnvironment(std::string("Word=14.0.7015.1000\r\n") + c.answers, dir.Path()));
    HWND result = program.ResultWindow(kRunTimeoutMs);
    ASSERT_TRUE(result);
    EXPECT_EQ(ControlText(result, kResultDetail),
              L"登録先：「開発部」\r\n" + ResultLine(true, L"PDF変換 - " + document));
    PressButton(result, IDOK);
    EXPECT_EQ(program.WaitForExit(30000), 0u);
    const auto stored = Stored();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored.begin()->first, c.stored);
    EXPECT_EQ(FileExists(beside), c.besideAfter);
    EXPECT_EQ(ReadFileBytes(document), word);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConvertedPdfTest,
    ::testing::Values(ConvertedPdfCase{"NewPdfBesideTheDocument", "", false, u8"報告書.pdf", false},
                      ConvertedPdfCase{"UsersPdfBesideTheDocument", "", true, u8"報告書.pdf", true},
                      ConvertedPdfCase{"DocumentHandedBack", "ReturnSource=1\r\n", false, u8"報告書.docx", false}),
    [](const ::testing::TestParamInfo<ConvertedPdfCase>& info) { return std::string(info.param.name); });

}  // namespace
