#include "zinpost/engine/TextEncoding.h"

#include "zinpost/engine/Log.h"

#include "framework/Text.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr int kWideUnits = 256;  // the converted text keeps at most 255 units
constexpr int kAnsiBytes = 511;  // ... and at most 510 bytes

// The first `limit` bytes of a narrow text or fewer, never half a character.
size_t AnsiPrefixLength(const std::string& text, size_t limit) {
    size_t length = 0;
    while (length < text.size()) {
        const size_t step = IsDBCSLeadByte(static_cast<BYTE>(text[length])) ? 2 : 1;
        if (length + step > limit) break;
        length += step;
    }
    return std::min(length, text.size());
}

}  // namespace

int ConvertUnicode2UTF(const std::wstring& text, std::unique_ptr<char[]>& utf8) {
    const int length = static_cast<int>(text.size());
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    const size_t size = needed > 0 ? static_cast<size_t>(needed) : 0;
    utf8.reset(new char[size + 1]());
    // An empty text fails here too: the platform refuses a length of 0.
    const int written =
        needed > 0 ? WideCharToMultiByte(CP_UTF8, 0, text.data(), length, utf8.get(), needed, nullptr, nullptr) : 0;
    if (written <= 0) {
        LOG_WRITE(4, "Convert Uni to UTF Error[%d]", static_cast<int>(GetLastError()));
        utf8[0] = '\0';
        return 0;
    }
    return written;
}

std::string ConvertUTF2ShiftJIS(const char* utf8) {
    if (!utf8) return std::string();
    wchar_t wide[kWideUnits] = {};
    if (MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, kWideUnits) == 0) {
        LOG_WRITE(4, "Convert UTF to SJIS Error[%d]", static_cast<int>(GetLastError()));
        // Longer than the buffer: keep the first 255 units, without splitting
        // a surrogate pair.
        const std::wstring whole = fw::Utf8ToWide(utf8);
        size_t keep = std::min(whole.size(), static_cast<size_t>(kWideUnits - 1));
        if (keep > 0 && IS_HIGH_SURROGATE(whole[keep - 1])) --keep;
        std::copy(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep), wide);
        wide[keep] = L'\0';
    }
    char ansi[kAnsiBytes] = {};
    if (WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, kAnsiBytes, nullptr, nullptr) == 0) {
        LOG_WRITE(4, "Convert UTF to SJIS Error[%d]", static_cast<int>(GetLastError()));
        const std::string whole = fw::WideToAnsi(wide);
        return whole.substr(0, AnsiPrefixLength(whole, kAnsiBytes - 1));
    }
    return ansi;
}

int FoldFullWidthDigits(char* text, std::size_t size) {
    if (!text || size == 0) return 0;
    // An unterminated buffer ends at its last byte.
    const size_t length = strnlen(text, size - 1);
    std::string out;
    for (size_t i = 0; i < length;) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const unsigned char next = i + 1 < length ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (lead == 0x81 && next == 0x40) {  // full-width space
            out += ' ';
            i += 2;
        } else if (lead == 0x82 && next >= 0x4F && next <= 0x58) {  // ０ to ９
            out += static_cast<char>('0' + (next - 0x4F));
            i += 2;
        } else {
            // No lead/trail tracking: the scan goes on at the very next byte.
            out += static_cast<char>(lead);
            ++i;
        }
    }
    std::memcpy(text, out.c_str(), out.size() + 1);
    return 0;
}
