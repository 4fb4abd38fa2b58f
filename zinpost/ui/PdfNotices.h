#pragma once
// The notices shown when the user switches PDF conversion on: the wait
// dialog while the Office installation is checked, then, when conversion is
// not fully available, the notice of what it needs.
#include <windows.h>

// True when the new setting may be taken: the wait dialog ended with OK and,
// if the notice was shown, the user closed it with "閉じる". False when the
// user cancelled (or a dialog could not be made): nothing is to be saved.
bool RunPdfNotices(HWND owner);
