#include "zinpost/engine/Messages.h"

#include "framework/MessageBox.h"
#include "framework/Text.h"

const char kUnknownErrorText[] = "原因不明のエラーが発生しました。";

std::string LoadMessageById(UINT id) {
    const wchar_t* text = nullptr;
    // With a zero buffer size the call hands out the resource text itself.
    const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<wchar_t*>(&text), 0);
    if (length <= 0 || !text) return kUnknownErrorText;
    return fw::WideToAnsi(std::wstring(text, static_cast<size_t>(length)));
}

int ShowMessageById(UINT id) { return fw::ShowMessageBoxAnsi(nullptr, LoadMessageById(id), MB_OK | MB_ICONSTOP); }

void ShowLastErrorBox() {
    const DWORD error = GetLastError();
    std::wstring text = fw::SystemErrorTextW(error);
    // Some codes (CryptoAPI's among them on some systems) have no text: an
    // empty box would tell the user nothing.
    if (text.empty()) text = fw::AnsiToWide(kUnknownErrorText);
    fw::ShowMessageBox(nullptr, text, MB_OK | MB_ICONSTOP);
}
