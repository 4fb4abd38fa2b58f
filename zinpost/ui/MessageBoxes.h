#pragma once
// The program's message boxes: texts of the string table, and the system's
// text for an error, with the stop icon and OK only. Once installed they
// report the engine's failures, and the platform's proxy dialog asks for the
// engine's proxy credentials.
#include <windows.h>

// Shows string `id`; returns the box's result.
int ShowMessageById(UINT id);
// Shows the system's text for the calling thread's last error
// (kUnknownErrorText when the system has none).
void ShowLastErrorBox(HWND owner = nullptr);
// Makes these boxes the engine's reporter (the application does at start).
void InstallMessageBoxReporter();
