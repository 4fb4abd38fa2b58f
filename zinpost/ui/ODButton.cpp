#include "zinpost/ui/ODButton.h"

#include "framework/Font.h"

void CODButton::DrawItem(const DRAWITEMSTRUCT& item) const {
    const RECT& rc = item.rcItem;
    const int width = rc.right - rc.left;
    const int height = rc.bottom - rc.top;
    // Drawn off screen and copied in one piece, so the text never flickers.
    fw::UniqueHdc memory(CreateCompatibleDC(item.hDC));
    if (!memory) return;
    fw::UniqueGdiObject bitmap(CreateCompatibleBitmap(item.hDC, width, height));
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    fw::UniqueGdiObject brush(CreateSolidBrush(face));
    fw::UniqueGdiObject pen(CreatePen(PS_SOLID, 0, face));
    fw::UniqueGdiObject font = fw::CopyWindowFont(item.hwndItem);
    if (!bitmap || !brush || !pen || !font) return;

    const HGDIOBJ oldBitmap = SelectObject(memory.get(), bitmap.get());
    const HGDIOBJ oldBrush = SelectObject(memory.get(), brush.get());
    const HGDIOBJ oldPen = SelectObject(memory.get(), pen.get());
    const HGDIOBJ oldFont = SelectObject(memory.get(), font.get());

    Rectangle(memory.get(), 0, 0, width + 1, height + 1);
    SetBkMode(memory.get(), TRANSPARENT);
    SetTextColor(memory.get(), GetSysColor(COLOR_BTNTEXT));
    RECT text{0, 0, width, height};
    DrawTextW(memory.get(), m_strText.c_str(), static_cast<int>(m_strText.size()), &text, DT_LEFT | DT_TOP | DT_WORDBREAK);
    BitBlt(item.hDC, rc.left, rc.top, width, height, memory.get(), 0, 0, SRCCOPY);

    SelectObject(memory.get(), oldFont);
    SelectObject(memory.get(), oldPen);
    SelectObject(memory.get(), oldBrush);
    SelectObject(memory.get(), oldBitmap);
}

bool CODButton::OnMessage(UINT message, WPARAM, LPARAM lParam, LRESULT&) {
    if (message == WM_SETTEXT) {
        const auto* text = reinterpret_cast<const wchar_t*>(lParam);
        m_strText = text ? text : L"";
        InvalidateRect(Hwnd(), nullptr, FALSE);
    }
    return false;  // the window keeps its text too
}
