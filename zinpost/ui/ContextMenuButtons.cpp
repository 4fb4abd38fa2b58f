#include "zinpost/ui/ContextMenuButtons.h"

#include <commctrl.h>
#include <windowsx.h>

bool CContextMenuButton::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT&) {
    if (message == WM_RBUTTONUP) {
        POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        HWND parent = GetParent(Hwnd());
        MapWindowPoints(Hwnd(), parent, &point, 1);
        SendMessageW(parent, WM_RBUTTONUP, wParam, MAKELPARAM(point.x, point.y));
    }
    return false;  // then the button's own handling
}
