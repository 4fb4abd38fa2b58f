#pragma once
// Every message box of a program goes through here: the program gives all of
// them its caption in one place, and tests can answer them without a window.
#include <windows.h>
#include <string>

namespace fw {

// Replaces the real box; returns the button the box would have returned.
using MessageBoxHook = int (*)(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type);

// Shows a box with the program's caption; a null owner means the calling
// thread's active window. The ANSI form takes text in the
// system's ANSI code page.
int ShowMessageBox(HWND owner, const std::wstring& text, UINT type);
int ShowMessageBoxAnsi(HWND owner, const std::string& text, UINT type);
// Shows a box with a caption of the caller's own.
int ShowMessageBoxCaption(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type);

// The caption of every box; until set, the program file's base name.
void SetMessageBoxCaption(const std::wstring& caption);
// Installs a hook (nullptr restores the real boxes); returns the previous one.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

}  // namespace fw
