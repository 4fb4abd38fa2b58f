#pragma once
// printf-style formatting into std::string and conversions between the ANSI
// code page, UTF-16 and UTF-8.
#include <windows.h>
#include <cstdarg>
#include <string>

namespace fw {

std::string Format(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
std::string FormatV(const char* format, va_list args);
std::wstring FormatW(const wchar_t* format, ...);

// Code page conversions; an empty or unconvertible text gives an empty result.
std::wstring ToWide(const std::string& text, UINT codePage = CP_ACP);
std::string FromWide(const std::wstring& text, UINT codePage = CP_ACP);
inline std::wstring AnsiToWide(const std::string& text) { return ToWide(text, CP_ACP); }
inline std::string WideToAnsi(const std::wstring& text) { return FromWide(text, CP_ACP); }
inline std::wstring Utf8ToWide(const std::string& text) { return ToWide(text, CP_UTF8); }
inline std::string WideToUtf8(const std::wstring& text) { return FromWide(text, CP_UTF8); }

// The system's message text for an error code in the user's default language,
// inserts ignored, ANSI; empty when the system has none. `module` adds a
// message table to search first (for example wininet.dll's).
std::string SystemErrorText(DWORD error, HMODULE module = nullptr);
// The same without the line break (and blanks) the system ends it with: for
// texts shown inside other texts.
std::string SystemErrorLine(DWORD error);
std::wstring SystemErrorTextW(DWORD error);

}  // namespace fw
