#pragma once
// Texts of the program's string table. All texts are narrow, in the system's
// ANSI code page. Showing them is the windows' business (MessageBoxes.h).
#include <windows.h>
#include <string>

// Shown when an id has no text.
extern const char kUnknownErrorText[];

// The text of string `id` of the program file, or kUnknownErrorText.
std::string LoadMessageById(UINT id);
// The text of string `id`; false when the string table has none.
bool TryLoadMessageById(UINT id, std::string& text);
