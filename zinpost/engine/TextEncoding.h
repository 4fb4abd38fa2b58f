#pragma once
// The program's three text forms and the conversions between them: narrow
// text in the ANSI code page (settings, messages, log lines, form bodies),
// UTF-16 (document paths and names) and UTF-8 (what the server speaks); and
// the folding of full-width digits typed in Japanese input mode.
#include <cstddef>
#include <memory>
#include <string>

// UTF-16 to a new zero-terminated UTF-8 buffer in `utf8`; returns its byte
// count. A text that cannot be converted (an empty one included) gives 0, an
// empty buffer and an error trace.
int ConvertUnicode2UTF(const std::wstring& text, std::unique_ptr<char[]>& utf8);

// Zero-terminated UTF-8 to narrow text in the ANSI code page (Shift_JIS on
// the systems the program is made for). The result holds at most 255 UTF-16
// units and 510 bytes; a longer text is cut and traced.
std::string ConvertUTF2ShiftJIS(const char* utf8);
inline std::string ConvertUTF2ShiftJIS(const std::string& utf8) { return ConvertUTF2ShiftJIS(utf8.c_str()); }

// Rewrites full-width digits (０ to ９) and the full-width space in a
// Shift_JIS text into ASCII, in place; returns 0. `size` is the caller's
// buffer size; the text ends at its terminator or at the buffer's last byte.
constexpr std::size_t kFoldBufferSize = 64;
int FoldFullWidthDigits(char* text, std::size_t size = kFoldBufferSize);
