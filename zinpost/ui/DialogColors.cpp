#include "zinpost/ui/DialogColors.h"

namespace {
constexpr int kBarCorner = 3;

HBRUSH HeaderBarBrush() {
    // One brush for the process, like the system's colour brushes.
    static const HBRUSH brush = CreateSolidBrush(kHeaderBarColor);
    return brush;
}
}  // namespace

INT_PTR ColorGreyText(HDC dc, COLORREF color) {
    SetTextColor(dc, color);
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
}

INT_PTR ColorSectionTitle(HDC dc) {
    SetTextColor(dc, kSectionTitleColor);
    SetBkMode(dc, TRANSPARENT);
    // The bar's colour behind the text: the title reads as drawn on the bar.
    return reinterpret_cast<INT_PTR>(HeaderBarBrush());
}

void DrawHeaderBar(const DRAWITEMSTRUCT& item) {
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    const HGDIOBJ oldBrush = SelectObject(item.hDC, HeaderBarBrush());
    const HGDIOBJ oldPen = SelectObject(item.hDC, GetStockObject(NULL_PEN));
    // A null pen leaves out the right and bottom edge: one pixel more.
    RoundRect(item.hDC, item.rcItem.left, item.rcItem.top, item.rcItem.right + 1, item.rcItem.bottom + 1, kBarCorner,
              kBarCorner);
    SelectObject(item.hDC, oldPen);
    SelectObject(item.hDC, oldBrush);
}
