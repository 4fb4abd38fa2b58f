#pragma once
// Drives the windows of another process (or of this one) the way a person
// would: finds them by caption, reads control texts, presses buttons. Every
// wait polls a condition against a deadline; nothing sleeps blindly.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// Polls `condition` every 20 ms until it holds or `timeoutMs` passes.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs);

// Visible top-level windows with exactly this caption; of process `pid`
// unless it is 0.
std::vector<HWND> FindWindowsByCaption(const std::wstring& caption, DWORD pid = 0);
// The first such window appearing within `timeoutMs`; null if none.
HWND WaitForWindow(const std::wstring& caption, DWORD pid, DWORD timeoutMs);

// The text of a window of any process (WM_GETTEXT through SendMessageTimeout).
std::wstring WindowText(HWND hwnd);
std::wstring ControlText(HWND dialog, int id);
bool ControlVisible(HWND dialog, int id);
bool ControlEnabled(HWND dialog, int id);

// Presses a button of a dialog as a click would (BN_CLICKED to the dialog).
bool PressButton(HWND dialog, int id);
// Sets a control's text, as typing would.
void TypeInto(HWND dialog, int id, const std::wstring& text);
// The first item two levels below a root item of a tree view; null if none.
// Walked by handle, which needs no memory of the other process.
HTREEITEM FirstGrandchild(HWND tree);

// A message box of the standard kind: its text (the longest static text).
std::wstring MessageBoxText(HWND box);

// Saves a picture of the whole desktop, as the windows have painted it, to
// a 24-bit BMP file; false when that failed.
bool SaveScreenshot(const std::wstring& bmpPath);

}  // namespace testing_support
