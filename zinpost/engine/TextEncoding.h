#pragma once
// The program's three text forms and the conversions between them: narrow
// text in the ANSI code page (settings, messages, log lines, form bodies),
// UTF-16 (document paths and names) and UTF-8 (what the server speaks). Also
// the login form's encoder and joiner, the identifiers the client sends about
// itself, and the folding of full-width digits typed in Japanese input mode.
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// UTF-16 to a new zero-terminated UTF-8 buffer in `utf8`; returns its byte
// count. A text that cannot be converted (an empty one included) gives 0, an
// empty buffer and an error trace.
int ConvertUnicode2UTF(const std::wstring& text, std::unique_ptr<char[]>& utf8);

// Zero-terminated UTF-8 to narrow text in the ANSI code page (Shift_JIS on
// the systems the program is made for). The result holds at most 255 UTF-16
// units and 510 bytes; a longer text is cut and traced.
std::string ConvertUTF2ShiftJIS(const char* utf8);
inline std::string ConvertUTF2ShiftJIS(const std::string& utf8) { return ConvertUTF2ShiftJIS(utf8.c_str()); }

// Percent-encodes a form value byte by byte: ASCII letters, digits, "-", "."
// and "_" stay, a blank becomes "+", every other byte "%XX".
std::string UrlEncode(const std::string& text);

// "key=value&key=value": keys and values go in as given, so values that need
// it are encoded by the caller first.
using FormField = std::pair<std::string, std::string>;
std::string JoinForm(const std::vector<FormField>& fields);

// The program's file version from its own version resource: "4.0.2.0".
// Empty when the resource cannot be read.
std::string GetAppVersionText();

// The first network adapter's hardware address in upper-case hex without
// separators ("00155D01A2B3"); empty when there is no adapter list.
std::string MakeDeviceKey();

// The device name the login sends: a constant of the program.
extern const char kDeviceName[];

// Rewrites full-width digits (０ to ９) and the full-width space in a
// Shift_JIS text into ASCII, in place; returns 0. `size` is the caller's
// buffer size; the text ends at its terminator or at the buffer's last byte.
constexpr std::size_t kFoldBufferSize = 64;
int FoldFullWidthDigits(char* text, std::size_t size = kFoldBufferSize);
