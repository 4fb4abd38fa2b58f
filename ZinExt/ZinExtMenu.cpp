#include "ZinExt/ZinExtMenu.h"

#include <cwchar>

namespace zinext {

const wchar_t kTooManyFilesText[] = L"一度にアップロードできるファイルは100ファイルまでです。";
const wchar_t kMessageCaption[] = L"Tessaly センドレット";
const wchar_t kHelpText[] = L"Upload to Tessaly server.";

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

std::wstring BuildCommandLine(const PathSlot* paths, size_t count) {
    std::wstring line;
    line.reserve(count * (kMaxPathChars + 3));
    for (size_t i = 0; i < count; ++i) {
        line += L'"';
        // A slot is terminated by construction; wcsnlen keeps a damaged one
        // from reading past its end all the same.
        line.append(paths[i].text, wcsnlen(paths[i].text, kMaxPathChars));
        line += L"\" ";
    }
    return line;
}

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
