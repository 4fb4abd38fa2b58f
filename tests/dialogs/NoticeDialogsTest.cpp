// The notices of switching PDF conversion on, each run in a child process of
// its own (the Office check's result is settled once per process) against
// the test converter: the wait dialog alone when Word, Excel and PowerPoint
// are there, the requirements notice when none is.
#include "zinpost/engine/ThreadAgent.h"
#include "zinpost/ui/FinishedProcessingDialog.h"
#include "zinpost/ui/PdfNotices.h"
#include "zinpost/resource.h"

#include "tests/dialogs/ModalRun.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RegistrySandbox.h"
#include "tests/support/StandinServer.h"
#include "tests/support/TempDir.h"
#include "tools/driver/WindowDriver.h"

#include "framework/Text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <sstream>
#include <thread>

using namespace testing_support;

namespace {

const wchar_t kCaption[] = L"Tessaly センドレット";
const char kDotNetKey[] = "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v3.5";

// What a child saw, one "key=value" line each (ANSI, as the program's texts).
using Findings = std::map<std::string, std::string>;

void WriteFindings(const std::wstring& path, const Findings& findings) {
    std::string text;
    for (const auto& [key, value] : findings) text += key + "=" + value + "\n";
    WriteFileBytes(path, text);
}

Findings ReadFindings(const std::wstring& path) {
    Findings findings;
    std::istringstream lines(ReadFileBytes(path));
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos) findings[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return findings;
}

std::string OneLine(const std::wstring& text) {
    std::string line = fw::WideToAnsi(text);
    for (char& c : line)
        if (c == '\n') c = '|';  // one line per finding
    for (size_t i; (i = line.find('\r')) != std::string::npos;) line.erase(i, 1);
    return line;
}

// The machine of the child: .NET 3.5 in a private HKEY_LOCAL_MACHINE, the
// test converter with the given applications, the notices run from the main
// thread while a second thread plays the user.
int NoticeChild(const std::vector<std::wstring>& args) {
    if (args.size() != 2) return 90;
    const bool allInstalled = args[0] == L"all";
    const std::wstring resultFile = args[1];
    RegistrySandbox machine(HKEY_LOCAL_MACHINE);
    HKEY key = nullptr;
    DWORD one = 1;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDotNetKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, "Install", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    RegCloseKey(key);
    TempDir dir;
    const std::wstring converterSettings = dir.File(L"quillmorph.ini");
    // The checks wait until the user has looked at the wait dialog.
    const std::string holdEvent = "QuillmorphCheckHold-" + std::to_string(GetCurrentProcessId());
    const fw::UniqueKernelHandle hold(CreateEventA(nullptr, TRUE, FALSE, holdEvent.c_str()));
    WriteFileBytes(converterSettings,
                   "CheckHoldEvent=" + holdEvent + "\n" +
                       (allInstalled ? "Word=14.0.7015.1000\nExcel=15.0.4420.1017\nPowerPoint=16.0.1\n" : ""));
    SetEnvironmentVariableW(L"QUILLMORPH_TEST_SETTINGS", converterSettings.c_str());
    const PathFront converter(UnixPathForWindows(EnvironmentVariable("ZINPOST_BINARY_DIR") + "/tests/pdf/quillmorph"));
    if (!CThreadAgent::GetInstance()) return 91;

    Findings findings;
    std::atomic<bool> done{false};
    // The user: watches the dialogs come and go, answers the notice with
    // "閉じる" the first time and Escape the second.
    std::thread user([&] {
        int notices = 0;
        bool waitSeen = false;
        while (!done) {
            for (HWND hwnd : FindWindowsByCaption(kCaption, GetCurrentProcessId())) {
                if (!GetDlgItem(hwnd, IDC_NOTICE_DETAIL)) {
                    if (waitSeen) continue;
                    waitSeen = true;
                    // While the check runs (held until this is done) the
                    // dialog answers and repaints.
                    DWORD_PTR ignored = 0;
                    findings["wait.responsive"] =
                        SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &ignored) ? "1" : "0";
                    InvalidateRect(hwnd, nullptr, TRUE);
                    const bool repainted = WaitFor([&] { return !GetUpdateRect(hwnd, nullptr, FALSE); }, 5000);
                    findings["wait.repainted"] = repainted && IsWindowVisible(hwnd) ? "1" : "0";
                    SetEvent(hold.get());
                    continue;
                }
                if (!ControlVisible(hwnd, IDOK)) continue;
                const std::string prefix = "notice" + std::to_string(++notices) + ".";
                findings[prefix + "text"] = OneLine(ControlText(hwnd, IDC_NOTICE_TEXT));
                findings[prefix + "list"] = OneLine(ControlText(hwnd, IDC_NOTICE_LIST));
                findings[prefix + "detail"] = OneLine(ControlText(hwnd, IDC_NOTICE_DETAIL));
                findings[prefix + "icon"] = SendMessageW(GetDlgItem(hwnd, IDC_NOTICE_ICON), STM_GETICON, 0, 0) ==
                                                    reinterpret_cast<LRESULT>(LoadIconA(nullptr, IDI_EXCLAMATION))
                                                ? "exclamation"
                                                : "other";
                if (notices == 1) {
                    PressButton(hwnd, IDOK);
                } else {
                    PostMessageW(GetDlgItem(hwnd, IDOK), WM_KEYDOWN, VK_ESCAPE, 1);
                }
                WaitFor([&] { return !IsWindow(hwnd); }, 10000);
            }
            Sleep(20);
        }
        findings["wait.seen"] = waitSeen ? "1" : "0";
        findings["notices"] = std::to_string(notices);
    });
    findings["run1"] = RunPdfNotices(nullptr) ? "take" : "stop";
    if (!allInstalled) findings["run2"] = RunPdfNotices(nullptr) ? "take" : "stop";
    done = true;
    user.join();
    WriteFindings(resultFile, findings);
    return 0;
}
TEST_CHILD(notice, NoticeChild);

Findings RunNoticeChild(const wchar_t* installed) {
    TempDir dir;
    const std::wstring result = dir.File(L"findings.txt");
    auto child = StartChild("notice", {installed, result});
    EXPECT_TRUE(child);
    EXPECT_EQ(WaitChild(child, 120000), 0u);
    return ReadFindings(result);
}

TEST(PdfNotices, EveryApplicationThereShowsOnlyTheWaitDialog) {
    const Findings f = RunNoticeChild(L"all");
    EXPECT_EQ(f.at("run1"), "take");
    EXPECT_EQ(f.at("wait.seen"), "1");
    EXPECT_EQ(f.at("wait.responsive"), "1");
    EXPECT_EQ(f.at("wait.repainted"), "1");
    EXPECT_EQ(f.at("notices"), "0");
}

TEST(PdfNotices, NoOfficeExplainsTheRequirementsAndEscapeStops) {
    const Findings f = RunNoticeChild(L"none");
    EXPECT_EQ(f.at("run1"), "take");  // 閉じる
    EXPECT_EQ(f.at("run2"), "stop");  // Escape
    ASSERT_EQ(f.at("notices"), "2");
    for (const char* n : {"notice1.", "notice2."}) {
        const std::string p = n;
        EXPECT_EQ(f.at(p + "text"),
                  "PDF 変換機能をお使いになる場合は、以下のソフトウェアが必要です。|"
                  "変換できないOffice形式のファイルは、PDF変換せずにアップロードします。|");
        EXPECT_EQ(f.at(p + "list"), "・Microsoft .NET Framework 3.5|・Microsoft Office 2010 または Microsoft Office 2013|");
        // One reason per line, one line per application.
        EXPECT_EQ(f.at(p + "detail"),
                  " ・Microsoft Wordはインストールされていません。|"
                  " ・Microsoft Excelはインストールされていません。|"
                  " ・Microsoft PowerPointはインストールされていません。|");
        EXPECT_EQ(f.at(p + "icon"), "exclamation");
    }
}

TEST(PdfNotices, DetailLinesForTheEditBox) {
    EXPECT_EQ(CFinishedProcessingDialog::EditLines(" ・a\n\r\n ・b\r\n ・c"), " ・a\r\n ・b\r\n ・c");
    EXPECT_EQ(CFinishedProcessingDialog::EditLines(""), "");
}

}  // namespace
