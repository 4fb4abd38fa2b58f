#include "ZinExt/ZinExtMenu.h"

#include "framework/WinHandle.h"

#include <cwchar>
#include <cwctype>

namespace zinext {

const wchar_t kTooManyFilesText[] = L"一度にアップロードできるファイルは100ファイルまでです。";
const wchar_t kCommandLineTooLongText[] =
    L"選択したファイルのパスが長すぎるため、一度にアップロードできません。ファイルの数を減らしてください。";
const wchar_t kMessageCaption[] = L"Tessaly センドレット";
const wchar_t kHelpText[] = L"Upload to Tessaly server.";
const wchar_t kProgramFileName[] = L"zinpost.exe";

std::wstring MenuText(const std::wstring& folderName) {
    return L"Tessaly「" + folderName + L"」に登録する";
}

bool InsertMenuEntry(HMENU menu, UINT index, UINT id, const std::wstring& text, HBITMAP bitmap) {
    const int items = GetMenuItemCount(menu);
    if (items < 0) return false;
    if (index > static_cast<UINT>(items)) index = static_cast<UINT>(items);
    if (!InsertMenuW(menu, index, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr)) return false;
    if (!InsertMenuW(menu, index + 1, MF_BYPOSITION | MF_STRING, id, text.c_str())) {
        DeleteMenu(menu, index, MF_BYPOSITION);
        return false;
    }
    if (!InsertMenuW(menu, index + 2, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr)) {
        DeleteMenu(menu, index + 1, MF_BYPOSITION);
        DeleteMenu(menu, index, MF_BYPOSITION);
        return false;
    }
    if (bitmap) {
        // Only the picture: the text and id stay as inserted. Without it
        // the entry simply has no icon.
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_BITMAP;
        info.hbmpItem = bitmap;
        SetMenuItemInfoW(menu, index + 1, TRUE, &info);
    }
    return true;
}

std::wstring BuildCommandLine(const std::vector<std::wstring>& paths) {
    std::wstring line;
    for (const std::wstring& path : paths) {
        const bool first = line.empty();
        line += L'"';
        line += path;
        // After the first argument, 2n backslashes before a quote stand for
        // n of them and the quote still closes the argument. The first is
        // read as a program's name: up to the next quote, backslashes as
        // they are.
        if (!first)
            for (auto c = path.rbegin(); c != path.rend() && *c == L'\\'; ++c) line += L'\\';
        line += L"\" ";
    }
    return line;
}

bool IsProgramPath(const std::wstring& path) {
    const bool onDrive = path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\';
    const bool onShare = path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\\' &&
                         path[2] != L'?' && path[2] != L'.';
    if (!onDrive && !onShare) return false;
    const size_t slash = path.find_last_of(L'\\');
    const std::wstring name = path.substr(slash + 1);
    return CompareStringOrdinal(name.c_str(), -1, kProgramFileName, -1, TRUE) == CSTR_EQUAL;
}

StartPlan PlanStart(size_t count, const std::vector<std::wstring>& paths) {
    StartPlan plan;
    if (TooManyFiles(count)) {
        plan.refusal = kTooManyFilesText;
        return plan;
    }
    plan.commandLine = BuildCommandLine(paths);
    if (!CommandLineFits(plan.commandLine)) {
        plan.refusal = kCommandLineTooLongText;
        plan.commandLine.clear();
    }
    return plan;
}

void StartProgram(const std::wstring& program, std::wstring& commandLine) {
    if (program.empty() || commandLine.empty()) return;
    const DWORD attributes = GetFileAttributesW(program.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
        const fw::UniqueKernelHandle thread(process.hThread), started(process.hProcess);
    }
}

bool IsClassicMenuWindowClass(const std::wstring& className) { return className == L"#32768"; }

bool CopyCutW(const std::wstring& text, wchar_t* buffer, size_t capacity) {
    if (!buffer || capacity == 0) return false;
    const size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
    text.copy(buffer, n);
    buffer[n] = L'\0';
    return true;
}

bool CopyCutA(const std::string& text, UINT codePage, char* buffer, size_t capacity) {
    if (!buffer || capacity == 0) return false;
    size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
    // Never leave half of a double-byte character at the end.
    if (n < text.size()) {
        size_t i = 0;
        while (i < n) {
            const size_t step = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[i])) ? 2 : 1;
            if (i + step > n) break;
            i += step;
        }
        n = i;
    }
    text.copy(buffer, n);
    buffer[n] = '\0';
    return true;
}

UINT ThreadAnsiCodePage() {
    DWORD codePage = 0;
    if (GetLocaleInfoW(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                       reinterpret_cast<LPWSTR>(&codePage), sizeof codePage / sizeof(wchar_t)) == 0 ||
        codePage == 0)
        return GetACP();
    return codePage;
}

}  // namespace zinext
