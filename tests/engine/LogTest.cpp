// The CSV log: threshold, line layout, cuts, and whole lines under
// concurrent writers (threads and processes).
#include "zinpost/engine/Log.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>

using namespace testing_support;

namespace {

std::vector<std::string> ReadLines(const std::wstring& path) {
    // The file is written in text mode: lines end in CR LF.
    const std::string bytes = ReadFileBytes(path);
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        const size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) break;
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_EQ(start, bytes.size()) << "the file ends inside a line";
    return lines;
}

class LogTest : public ::testing::Test {
protected:
    LogTest() : cwd(dir.Path()) {}
    std::wstring LogFile() const { return dir.File(L"log.csv"); }

    TempDir dir;
    CurrentDirectory cwd;
};

ULONGLONG Ticks(const SYSTEMTIME& t) {
    FILETIME f{};
    SystemTimeToFileTime(&t, &f);
    return (static_cast<ULONGLONG>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}

void WriteOneLine() { LOG_WRITE(99, "value=%d name=%s", 42, "abc"); }

TEST_F(LogTest, ThresholdIs99) {
    EXPECT_EQ(LOG_THRESHOLD, 99);
    LOG_WRITE(98, "below");
    LOG_WRITE(1, "trace");
    EXPECT_FALSE(FileExists(LogFile()));
    LOG_WRITE(99, "at");
    LOG_WRITE(150, "above");
    const auto lines = ReadLines(LogFile());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("<LOG_LEVEL:99>, "), std::string::npos);
    EXPECT_NE(lines[1].find("<LOG_LEVEL:150>, "), std::string::npos);
}

TEST_F(LogTest, LineLayout) {
    SYSTEMTIME before, after;
    GetLocalTime(&before);
    WriteOneLine();
    GetLocalTime(&after);
    const auto lines = ReadLines(LogFile());
    ASSERT_EQ(lines.size(), 1u);

    const std::regex layout(
        R"(^(\d{4})/(\d{2})/(\d{2}),(\d{2}):(\d{2}):(\d{2})\.(\d{3}),<LOG_LEVEL:99>, TID\((\d+)\), \[(.*):(\d+)\],(.*), - \((.*)\)$)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, layout)) << lines[0];
    SYSTEMTIME stamp{};
    stamp.wYear = static_cast<WORD>(std::stoi(m[1]));
    stamp.wMonth = static_cast<WORD>(std::stoi(m[2]));
    stamp.wDay = static_cast<WORD>(std::stoi(m[3]));
    stamp.wHour = static_cast<WORD>(std::stoi(m[4]));
    stamp.wMinute = static_cast<WORD>(std::stoi(m[5]));
    stamp.wSecond = static_cast<WORD>(std::stoi(m[6]));
    stamp.wMilliseconds = static_cast<WORD>(std::stoi(m[7]));
    EXPECT_LE(Ticks(before), Ticks(stamp));
    EXPECT_LE(Ticks(stamp), Ticks(after));
    EXPECT_EQ(std::stoul(m[8]), GetCurrentThreadId());
    EXPECT_EQ(m[9].str(), ".\\tests\\engine\\LogTest.cpp");
    EXPECT_EQ(m[11].str(), "value=42 name=abc");
    EXPECT_EQ(m[12].str(), "{anonymous}::WriteOneLine");
    EXPECT_GT(std::stoi(m[10]), 0);
}

TEST_F(LogTest, TimestampIsZeroPadded) {
    SYSTEMTIME t{};
    t.wYear = 2025;
    t.wMonth = 1;
    t.wDay = 3;
    t.wHour = 2;
    t.wMinute = 5;
    t.wSecond = 7;
    t.wMilliseconds = 9;
    EXPECT_EQ(FormatLogTimestamp(t), "2025/01/03,02:05:07.009,");
    t.wMonth = 12;
    t.wDay = 31;
    t.wHour = 23;
    t.wMinute = 59;
    t.wSecond = 58;
    t.wMilliseconds = 999;
    EXPECT_EQ(FormatLogTimestamp(t), "2025/12/31,23:59:58.999,");
}

struct Qualified {
    static void Member() { LOG_WRITE(99, "m"); }
};

TEST_F(LogTest, FunctionNameIsQualified) {
    Qualified::Member();
    const auto lines = ReadLines(LogFile());
    ASSERT_EQ(lines.size(), 1u);
    const std::string suffix = ", - ({anonymous}::Qualified::Member)";
    EXPECT_EQ(lines[0].substr(lines[0].size() - suffix.size()), suffix);
}

TEST_F(LogTest, LongTextsAreCutAt1023) {
    const std::string longText(2000, 'x');
    LOG_WRITE(99, "%s", longText.c_str());
    const auto lines = ReadLines(LogFile());
    ASSERT_EQ(lines.size(), 1u);
    const size_t record = lines[0].find("TID(");
    ASSERT_NE(record, std::string::npos);
    // The whole record text is 1023 characters: the function name is lost.
    EXPECT_EQ(lines[0].size() - record, 1023u);
    EXPECT_EQ(lines[0].find(" - ("), std::string::npos);
    EXPECT_EQ(lines[0].back(), 'x');
}

TEST_F(LogTest, CommasAndLineBreaksAreKept) {
    LOG_WRITE(99, "a,b,,c");
    LOG_WRITE(99, "first\nsecond");
    const std::string bytes = ReadFileBytes(LogFile());
    EXPECT_NE(bytes.find("],a,b,,c, - ("), std::string::npos);
    // Text mode writes the message's line feed as CR LF.
    EXPECT_NE(bytes.find("],first\r\nsecond, - ("), std::string::npos);
}

TEST_F(LogTest, AppendsToAnExistingFile) {
    ASSERT_TRUE(WriteFileBytes(LogFile(), "earlier line\r\n"));
    LOG_WRITE(99, "next");
    const auto lines = ReadLines(LogFile());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "earlier line");
}

TEST_F(LogTest, UnwritableLocationLosesTheLineQuietly) {
    // A folder named log.csv cannot be opened as a file.
    ASSERT_TRUE(CreateDirectoryW(LogFile().c_str(), nullptr));
    LOG_WRITE(99, "lost");
    EXPECT_TRUE(GetFileAttributesW(LogFile().c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(FileExists(dir.File(L"log.csv\\log.csv")));
    // The next writable location works again at once.
    TempDir other;
    CurrentDirectory there(other.Path());
    LOG_WRITE(99, "kept");
    EXPECT_EQ(ReadLines(other.File(L"log.csv")).size(), 1u);
}

const std::regex kWholeLine(
    R"(^\d{4}/\d{2}/\d{2},\d{2}:\d{2}:\d{2}\.\d{3},<LOG_LEVEL:99>, TID\(\d+\), \[[^\]]+\],writer (\d+) line (\d+) [x]{200}, - \(.*WriteLines\)$)");

void WriteLines(int writer, int count) {
    const std::string padding(200, 'x');
    for (int i = 0; i < count; ++i) LOG_WRITE(99, "writer %d line %d %s", writer, i, padding.c_str());
}

// Every line whole, and every writer's lines all there, in order.
void ExpectWholeLines(const std::vector<std::string>& lines, int writers, int perWriter) {
    ASSERT_EQ(lines.size(), static_cast<size_t>(writers * perWriter));
    std::vector<int> next(static_cast<size_t>(writers), 0);
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, kWholeLine)) << line;
        const int writer = std::stoi(m[1]);
        ASSERT_GE(writer, 0);
        ASSERT_LT(writer, writers);
        EXPECT_EQ(std::stoi(m[2]), next[static_cast<size_t>(writer)]++);
    }
}

TEST_F(LogTest, TwoThreadsWriteWholeLines) {
    std::thread a(WriteLines, 0, 300);
    std::thread b(WriteLines, 1, 300);
    a.join();
    b.join();
    ExpectWholeLines(ReadLines(LogFile()), 2, 300);
}

int WriterChild(const std::vector<std::wstring>& args) {
    if (args.size() != 2) return 2;
    if (!SetCurrentDirectoryW(args[0].c_str())) return 3;
    WriteLines(std::stoi(args[1]), 300);
    return 0;
}
TEST_CHILD(log_writer, WriterChild);

TEST_F(LogTest, TwoProcessesWriteWholeLines) {
    auto first = StartChild("log_writer", {dir.Path(), L"0"});
    auto second = StartChild("log_writer", {dir.Path(), L"1"});
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_EQ(WaitChild(first), 0u);
    EXPECT_EQ(WaitChild(second), 0u);
    ExpectWholeLines(ReadLines(LogFile()), 2, 300);
}

}  // namespace

TEST_F(LogTest, SecretsAreMaskedInEveryWrittenLine) {
    AddLogSecret("pass%word");
    AddLogSecret("pass%word");  // once is enough
    AddLogSecret("pass%wordextra");  // a longer one is masked whole, not in part
    AddLogSecret("");
    LOG_WRITE(99, "form=%s, echo=[%s] [%s]", "user=a&password=pass%word", "pass%wordextra", "pass%wordpass%word");
    const auto lines = ReadLines(LogFile());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("form=user=a&password=******, echo=[******] [************]"), std::string::npos)
        << lines[0];
}
