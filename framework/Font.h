#pragma once
// Fonts made from the font a window already uses, so that a bold title or a
// popup's text follows the dialog's face, size and DPI.
#include "WinHandle.h"

#include <initializer_list>

namespace fw {

// The font `window` draws with (WM_GETFONT), else the system's GUI font.
LOGFONTW WindowLogFont(HWND window);
// A new font like the window's; `weight` 0 keeps the window's weight (700
// makes it bold). Empty when the system cannot make it.
UniqueGdiObject CopyWindowFont(HWND window, LONG weight = 0);
// Gives the controls a bold copy of `dialog`'s font and returns it, to be
// kept as long as the dialog; empty (the controls unchanged) when the
// system cannot make it.
UniqueGdiObject MakeBold(HWND dialog, std::initializer_list<HWND> controls);

// Shows the wait cursor until the object goes out of scope, for work done
// on the user-interface thread.
class WaitCursor {
public:
    WaitCursor() : m_previous(SetCursor(LoadCursorA(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(m_previous); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR m_previous;
};

}  // namespace fw
