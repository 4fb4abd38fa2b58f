// zinpost.exe end to end under Wine: started with files on its command line
// as the Explorer extension starts it, uploading to the stand-in server over
// real HTTP, its windows read and driven like a person would.
#include "tests/e2e/ProgramFixture.h"

#include "tests/support/Sha256.h"
#include "tests/support/WindowDriver.h"

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
    const picojson::value counters = server->Counters();
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
    server->Script("uploadContentFile.json", R"([{"errno": 14}])");
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

TEST_F(ProgramTest, IncompleteSettingsUploadNothingAndKeepTheWindowOpen) {
    settings.Password.clear();
    SaveSettings();
    ZinpostProcess program({MakeFile(L"a.txt", "alpha")});
    HWND main = program.MainWindow();
    ASSERT_TRUE(main);
    EXPECT_TRUE(ControlVisible(main, 1015));  // the idle drop picture
    EXPECT_FALSE(ControlVisible(main, 1016));
    // The start-up's folder listing tries to log in; no upload follows.
    ASSERT_TRUE(WaitFor([&] { return !server->Requests("authUserLogin").empty(); }, 30000));
    Sleep(1000);
    EXPECT_EQ(UploadRequests(), 0);
    EXPECT_TRUE(program.Running());
    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.WaitForExit(30000), 0u);
}

TEST_F(ProgramTest, CancelDuringTheSecondTransferStopsTheRun) {
    settings.DisplayResult = 0;
    SaveSettings();
    // The second upload's body is read slowly, so its transfer lasts.
    server->Script("uploadContentFile.json", R"([{"pass": true}, {"read_rate": 1000000}])");
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
    EXPECT_EQ(MessageBoxText(box), fw::SystemErrorTextW(ERROR_MOD_NOT_FOUND).substr(0, MessageBoxText(box).size()));
    EXPECT_FALSE(MessageBoxText(box).empty());
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
