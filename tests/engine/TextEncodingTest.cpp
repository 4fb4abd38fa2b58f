// The text forms and the form encoder: conversions with their limits, the
// percent-encoding of Shift_JIS bytes, the identifiers the client sends, the
// folding of full-width digits, and the "render as text" rule for JSON values.
#include "common/Version.h"
#include "zinpost/engine/Json.h"
#include "zinpost/engine/ClientIdentity.h"
#include "zinpost/engine/FormEncoding.h"
#include "zinpost/engine/TextEncoding.h"

#include "tests/support/TempDir.h"

#include "framework/Text.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <iphlpapi.h>

#include <cstring>
#include <regex>

using namespace testing_support;

namespace {

// Narrow literals of this file are Shift_JIS (the engine's execution charset).
std::string Utf8(const std::string& ansi) { return fw::WideToUtf8(fw::AnsiToWide(ansi)); }

class TracedTest : public ::testing::Test {
protected:
    TracedTest() : cwd(dir.Path()) {}
    std::string Trace() const { return ReadFileBytes(dir.File(L"log.csv")); }

    TempDir dir;
    CurrentDirectory cwd;
};

TEST(UrlEncode, KeepsOnlyAsciiLettersDigitsAndThreeMarks) {
    EXPECT_EQ(UrlEncode("a b&c=d"), "a+b%26c%3Dd");
    EXPECT_EQ(UrlEncode("x-y.z_1"), "x-y.z_1");
    EXPECT_EQ(UrlEncode("~"), "%7E");
    EXPECT_EQ(UrlEncode("*"), "%2A");
    EXPECT_EQ(UrlEncode("+%/?#"), "%2B%25%2F%3F%23");
    EXPECT_EQ(UrlEncode(""), "");
    EXPECT_EQ(UrlEncode(std::string("\x01\x7F\x80\xFF", 4)), "%01%7F%80%FF");
}

TEST(UrlEncode, EncodesEachShiftJisByteOnItsOwn) {
    // パ is 0x83 0x70 and ス is 0x83 0x58: the trail bytes are the letters p and X.
    EXPECT_EQ(UrlEncode("パス"), "%83p%83X");
    EXPECT_EQ(UrlEncode("あ"), "%82%A0");
    // 表 ends in 0x5C, the backslash.
    EXPECT_EQ(UrlEncode("表"), "%95%5C");
}

TEST(JoinForm, JoinsPairsWithoutLeadingOrTrailingAmpersand) {
    EXPECT_EQ(JoinForm({}), "");
    EXPECT_EQ(JoinForm({{"a", "1"}}), "a=1");
    EXPECT_EQ(JoinForm({{"username", UrlEncode("a b")}, {"app_name", "Tessaly Sendlet"}, {"k", ""}}),
              "username=a+b&app_name=Tessaly Sendlet&k=");
}

TEST_F(TracedTest, Utf8ToAnsiConvertsJapaneseAndAscii) {
    EXPECT_EQ(ConvertUTF2ShiftJIS("true"), "true");
    EXPECT_EQ(ConvertUTF2ShiftJIS(""), "");
    EXPECT_EQ(ConvertUTF2ShiftJIS(nullptr), "");
    EXPECT_EQ(ConvertUTF2ShiftJIS(Utf8("営業部の資料")), "営業部の資料");
    // 255 units fit exactly; nothing is traced.
    const std::string kana(255, 'k');
    EXPECT_EQ(ConvertUTF2ShiftJIS(kana), kana);
    EXPECT_EQ(Trace().find("Convert UTF to SJIS Error"), std::string::npos);
}

TEST_F(TracedTest, Utf8ToAnsiKeepsTheFirst255Characters) {
    std::string ascii;
    for (int i = 0; i < 300; ++i) ascii += static_cast<char>('a' + i % 26);
    EXPECT_EQ(ConvertUTF2ShiftJIS(ascii), ascii.substr(0, 255));
    EXPECT_NE(Trace().find("Convert UTF to SJIS Error[122]"), std::string::npos) << Trace();

    // 300 Japanese characters: 255 of them, 510 bytes.
    std::string japanese;
    for (int i = 0; i < 300; ++i) japanese += "日";
    const std::string converted = ConvertUTF2ShiftJIS(Utf8(japanese));
    EXPECT_EQ(converted.size(), 510u);
    EXPECT_EQ(converted, japanese.substr(0, 510));
}

TEST_F(TracedTest, Utf8ToAnsiNeverSplitsASurrogatePair) {
    // 254 letters and one character outside the BMP: the pair would straddle
    // the 255th unit, so it goes whole.
    const std::string text = std::string(254, 'a') + "\xF0\x9F\x98\x80" + "b";
    EXPECT_EQ(ConvertUTF2ShiftJIS(text), std::string(254, 'a'));
}

TEST_F(TracedTest, UnicodeToUtf8GivesAZeroTerminatedBuffer) {
    std::unique_ptr<char[]> utf8;
    const std::wstring name = L"\x8cc7\x6599 2025.pdf";  // 資料 2025.pdf
    ASSERT_EQ(ConvertUnicode2UTF(name, utf8), 15);
    EXPECT_EQ(std::strlen(utf8.get()), 15u);
    EXPECT_EQ(std::string(utf8.get()), "\xE8\xB3\x87\xE6\x96\x99 2025.pdf");
    EXPECT_EQ(Trace().find("Convert Uni to UTF Error"), std::string::npos);
}

TEST_F(TracedTest, UnicodeToUtf8OfAnEmptyTextIsAnEmptyBufferAndATrace) {
    std::unique_ptr<char[]> utf8;
    EXPECT_EQ(ConvertUnicode2UTF(L"", utf8), 0);
    ASSERT_TRUE(utf8);
    EXPECT_EQ(utf8[0], '\0');
    EXPECT_NE(Trace().find("Convert Uni to UTF Error["), std::string::npos);
}

TEST(GetAppVersionText, ReadsTheProgramsFileVersion) { EXPECT_EQ(GetAppVersionText(), ZINPOST_FILE_VERSION_TEXT); }

TEST(MakeDeviceKey, IsTheFirstAdaptersAddressInUpperCaseHex) {
    const std::string key = MakeDeviceKey();
    ULONG size = 0;
    ASSERT_EQ(GetAdaptersInfo(nullptr, &size), static_cast<ULONG>(ERROR_BUFFER_OVERFLOW))
        << "this machine lists no adapter";
    std::vector<BYTE> buffer(size);
    auto* first = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
    ASSERT_EQ(GetAdaptersInfo(first, &size), static_cast<ULONG>(NO_ERROR));
    ASSERT_EQ(key.size(), 2u * first->AddressLength);
    EXPECT_TRUE(std::regex_match(key, std::regex("[0-9A-F]+"))) << key;
    for (UINT i = 0; i < first->AddressLength; ++i)
        EXPECT_EQ(std::stoi(key.substr(2 * i, 2), nullptr, 16), first->Address[i]) << "byte " << i;
    EXPECT_EQ(MakeDeviceKey(), key);
}

std::string Fold(const std::string& text) {
    char buffer[kFoldBufferSize] = {};
    std::strncpy(buffer, text.c_str(), sizeof buffer - 1);
    EXPECT_EQ(FoldFullWidthDigits(buffer), 0);
    return buffer;
}

TEST(FoldFullWidthDigits, TurnsFullWidthDigitsAndSpaceIntoAscii) {
    EXPECT_EQ(Fold("１２３"), "123");
    EXPECT_EQ(Fold("１　２"), "1 2");
    EXPECT_EQ(Fold("０１２３４５６７８９"), "0123456789");
    EXPECT_EQ(Fold("12日"), "12日");
    EXPECT_EQ(Fold("３0日"), "30日");
    EXPECT_EQ(Fold(""), "");
}

TEST(FoldFullWidthDigits, ScansByteByByteWithoutTrackingLeadBytes) {
    // 0x82 0x4F inside "x\x82\x82\x4F": the first 0x82 is copied, then the pair folds.
    EXPECT_EQ(Fold("x\x82\x82\x4F"), "x\x82" "0");
    // A lone lead byte at the end stays.
    EXPECT_EQ(Fold("1\x82"), "1\x82");
}

TEST(FoldFullWidthDigits, StaysInsideAnUnterminatedBuffer) {
    char buffer[kFoldBufferSize + 1];
    std::memset(buffer, 'A', sizeof buffer);
    // Full-width ones over the whole 64 bytes, no terminator; one guard byte behind.
    for (size_t i = 0; i + 1 < kFoldBufferSize; i += 2) {
        buffer[i] = '\x82';
        buffer[i + 1] = '\x50';
    }
    buffer[kFoldBufferSize] = 'G';
    EXPECT_EQ(FoldFullWidthDigits(buffer), 0);
    // 63 bytes are text: 31 pairs fold, the last lead byte stays.
    EXPECT_EQ(std::string(buffer), std::string(31, '1') + "\x82");
    EXPECT_EQ(buffer[kFoldBufferSize], 'G');
}

picojson::value Parsed(const std::string& text) {
    picojson::value value;
    std::string error;
    EXPECT_TRUE(json::Parse(text, value, error)) << error;
    return value;
}

TEST(Json, RendersValuesAsText) {
    const picojson::value v =
        Parsed(R"({"s": "true", "t": true, "f": false, "n": 6, "x": 6.5, "z": null, "a": [1], "o": {}})");
    EXPECT_EQ(json::RenderAsText(json::Member(v, "s")), "true");
    EXPECT_EQ(json::RenderAsText(json::Member(v, "t")), "true");
    EXPECT_EQ(json::RenderAsText(json::Member(v, "f")), "false");
    EXPECT_EQ(json::RenderAsText(json::Member(v, "n")), "6.000000");
    EXPECT_EQ(json::RenderAsText(json::Member(v, "x")), "6.500000");
    EXPECT_EQ(json::RenderAsText(json::Member(v, "z")), "null");
    EXPECT_EQ(json::RenderAsText(json::Member(v, "a")), "array");
    EXPECT_EQ(json::RenderAsText(json::Member(v, "o")), "object");
    EXPECT_EQ(json::RenderAsText(json::Member(v, "absent")), "null");
}

TEST(Json, MemberOfANonObjectIsNull) {
    EXPECT_TRUE(json::Member(Parsed("[1, 2]"), "result").is<picojson::null>());
    EXPECT_TRUE(json::Member(Parsed("\"result\""), "result").is<picojson::null>());
    EXPECT_EQ(json::MemberText(Parsed("42"), "success"), "null");
}

TEST(Json, MemberTextIsAnsi) {
    EXPECT_EQ(json::MemberText(Parsed(R"({"title_ja": "\u55b6\u696d\u90e8"})"), "title_ja"), "営業部");
}

TEST(Json, ParseFailureHasAText) {
    picojson::value value;
    std::string error;
    EXPECT_FALSE(json::Parse("<html>", value, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(json::Parse("", value, error));
}

}  // namespace
