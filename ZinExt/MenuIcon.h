#pragma once
// The picture of the context-menu entry: a 32-bit top-down DIB section made
// from an icon resource through the Windows Imaging Component.
#include <windows.h>

namespace zinext {

// The 16x16 bitmap of icon `iconId` in `module`, owned by the caller; null
// before Windows 6 (which draws menu pictures differently) and on any
// failure: the entry then has no icon. COM must be initialised on the
// calling thread.
HBITMAP CreateMenuIconBitmap(HINSTANCE module, int iconId) noexcept;

}  // namespace zinext
