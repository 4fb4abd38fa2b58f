#pragma once
// What the context-menu entry shows and does, without COM: the entry text
// from the folder name, the 100-file decision and the command line that
// starts zinpost with the selected files.
#include <windows.h>

#include <cstddef>
#include <string>

namespace zinext {

// One selected file: at most 259 characters and the terminator, in a slot
// of 261 characters so that a full-length read always stays terminated.
constexpr size_t kMaxPathChars = MAX_PATH - 1;
struct PathSlot {
    wchar_t text[MAX_PATH + 1];
};

// zinpost is started for at most this many files at a time. The bound also
// keeps the command line (262 characters per quoted path at most) below the
// system's limit of 32767 characters.
constexpr size_t kMaxFilesPerStart = 100;
inline bool TooManyFiles(size_t count) { return count > kMaxFilesPerStart; }

extern const wchar_t kTooManyFilesText[];
extern const wchar_t kMessageCaption[];
extern const wchar_t kHelpText[];

// "Tessaly「<folder>」に登録する"
std::wstring MenuText(const std::wstring& folderName);

// Puts the entry between two separators into `menu` at position `index`
// (an index past the end appends), with command id `id` and, when given,
// `bitmap` as its picture. On failure nothing stays behind in the menu.
bool InsertMenuEntry(HMENU menu, UINT index, UINT id, const std::wstring& text, HBITMAP bitmap);

// The command line for zinpost: every path in double quotes followed by one
// blank, in selection order ("a" "b" ). It does not name the program itself:
// the process is started with the program as the application name, so the
// first argument zinpost sees is already a file. Paths cannot contain double
// quotes, so nothing needs escaping.
std::wstring BuildCommandLine(const PathSlot* paths, size_t count);

// Copies `text` into `buffer` of `capacity` characters (terminator
// included), cut to fit. Returns false when nothing can be stored. The ANSI
// form takes text in `codePage` and never keeps half a double-byte character.
bool CopyCutW(const std::wstring& text, wchar_t* buffer, size_t capacity);
bool CopyCutA(const std::string& text, UINT codePage, char* buffer, size_t capacity);

// The ANSI code page of the calling thread's locale.
UINT ThreadAnsiCodePage();

}  // namespace zinext
