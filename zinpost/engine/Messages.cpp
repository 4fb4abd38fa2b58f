#include "zinpost/engine/Messages.h"

#include "framework/Text.h"

const char kUnknownErrorText[] = "原因不明のエラーが発生しました。";

bool TryLoadMessageById(UINT id, std::string& text) {
    const wchar_t* resource = nullptr;
    // With a zero buffer size the call hands out the resource text itself.
    const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<wchar_t*>(&resource), 0);
    if (length <= 0 || !resource) return false;
    text = fw::WideToAnsi(std::wstring(resource, static_cast<size_t>(length)));
    return true;
}

std::string LoadMessageById(UINT id) {
    std::string text;
    return TryLoadMessageById(id, text) ? text : kUnknownErrorText;
}
