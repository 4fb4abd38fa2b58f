#pragma once
// What the context-menu entry shows and does, without COM: the entry text
// from the folder name, the file limit, the program that may be started and
// the command line that starts zinpost with the selected files. The classic
// handler and the Explorer command (Windows 11's first menu) both use it.
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace zinext {

// zinpost is started for at most this many files at a time. The count alone
// decides: a larger selection is refused without reading one path.
constexpr size_t kMaxFilesPerStart = 100;
inline bool TooManyFiles(size_t count) { return count > kMaxFilesPerStart; }

// CreateProcessW takes a command line of at most this many characters, its
// terminator included.
constexpr size_t kMaxCommandLine = 32767;

extern const wchar_t kTooManyFilesText[];
extern const wchar_t kCommandLineTooLongText[];
extern const wchar_t kMessageCaption[];
extern const wchar_t kHelpText[];
// The only program the entry starts.
extern const wchar_t kProgramFileName[];

// "Tessaly「<folder>」に登録する"
std::wstring MenuText(const std::wstring& folderName);

// Puts the entry between two separators into `menu` at position `index`
// (an index past the end appends), with command id `id` and, when given,
// `bitmap` as its picture. On failure nothing stays behind in the menu.
bool InsertMenuEntry(HMENU menu, UINT index, UINT id, const std::wstring& text, HBITMAP bitmap);

// The command line for zinpost: every path whole, in double quotes followed
// by one blank, in selection order ("a" "b" ). It does not name the program
// itself: the process is started with the program as the application name,
// so the first argument zinpost sees is already a file. Paths cannot contain
// double quotes. The line is split the usual way (CommandLineToArgvW): the
// first argument by the rule for a program's name, which takes everything up
// to the next quote; after it, backslashes in front of a closing quote are
// doubled, so that a path ending in one (a drive's root, "C:\") keeps its
// quote.
std::wstring BuildCommandLine(const std::vector<std::wstring>& paths);
// Whether CreateProcessW takes `commandLine`.
inline bool CommandLineFits(const std::wstring& commandLine) { return commandLine.size() < kMaxCommandLine; }

// Whether `path` may be started as the program: an absolute path (a drive's
// or a share's) whose file name is zinpost.exe. Whether it exists is looked
// at when it is started.
bool IsProgramPath(const std::wstring& path);

// What choosing the entry does for `count` selected items whose paths are
// `paths` (not read when there are too many): a message that refuses it, or
// the command line to start the program with.
struct StartPlan {
    const wchar_t* refusal = nullptr;
    std::wstring commandLine;
};
StartPlan PlanStart(size_t count, const std::vector<std::wstring>& paths);
// Starts `program` with `commandLine` when it (still) exists. zinpost runs on
// its own and shows its own failures; a program that cannot be started is
// not reported. CreateProcessW may write into `commandLine`.
void StartProgram(const std::wstring& program, std::wstring& commandLine);

// Whether a menu whose window has class `className` is a classic popup
// menu. There (Windows 11's "Show more options") the classic handler has
// the entry already, so the Explorer command keeps out of it.
bool IsClassicMenuWindowClass(const std::wstring& className);

// Copies `text` into `buffer` of `capacity` characters (terminator
// included), cut to fit. Returns false when nothing can be stored. The ANSI
// form takes text in `codePage` and never keeps half a double-byte character.
bool CopyCutW(const std::wstring& text, wchar_t* buffer, size_t capacity);
bool CopyCutA(const std::string& text, UINT codePage, char* buffer, size_t capacity);

// The ANSI code page of the calling thread's locale.
UINT ThreadAnsiCodePage();

}  // namespace zinext
