#pragma once
// Texts of the program's string table and the message boxes that show them.
// All texts are narrow, in the system's ANSI code page.
#include <windows.h>
#include <string>

// Shown when an id has no text.
extern const char kUnknownErrorText[];

// The text of string `id` of the program file, or kUnknownErrorText.
std::string LoadMessageById(UINT id);
// The text of string `id`; false when the string table has none.
bool TryLoadMessageById(UINT id, std::string& text);
// Shows string `id` with the stop icon and OK only; returns the box's result.
int ShowMessageById(UINT id);
// Shows the system's text for the calling thread's last error the same way
// (kUnknownErrorText when the system has none).
void ShowLastErrorBox(HWND owner = nullptr);
