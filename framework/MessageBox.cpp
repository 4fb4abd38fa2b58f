#include "MessageBox.h"

#include "Text.h"

#include <atomic>
#include <mutex>

namespace fw {
namespace {

std::atomic<MessageBoxHook> g_hook{nullptr};
std::mutex g_captionMutex;
std::wstring g_caption;

std::wstring DefaultCaption() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name = path;
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return name;
}

std::wstring Caption() {
    std::lock_guard<std::mutex> lock(g_captionMutex);
    return g_caption.empty() ? DefaultCaption() : g_caption;
}

}  // namespace

int ShowMessageBoxCaption(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
    // Without an owner the box belongs to the thread's active window (the
    // open dialog), so it comes up in front of an always-on-top window and
    // keeps the user from working behind it.
    if (!owner) owner = GetActiveWindow();
    if (MessageBoxHook hook = g_hook.load()) return hook(owner, text, caption, type);
    return MessageBoxW(owner, text.c_str(), caption.c_str(), type);
}

int ShowMessageBox(HWND owner, const std::wstring& text, UINT type) {
    return ShowMessageBoxCaption(owner, text, Caption(), type);
}

int ShowMessageBoxAnsi(HWND owner, const std::string& text, UINT type) {
    return ShowMessageBox(owner, AnsiToWide(text), type);
}

void SetMessageBoxCaption(const std::wstring& caption) {
    std::lock_guard<std::mutex> lock(g_captionMutex);
    g_caption = caption;
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) { return g_hook.exchange(hook); }

}  // namespace fw
