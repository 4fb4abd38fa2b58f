#pragma once
// The colours of the settings dialogs, and the control-colour answers that
// paint with them.
#include <windows.h>

constexpr COLORREF kExampleTextColor = RGB(0x80, 0x80, 0x80);      // the server dialog's example line
constexpr COLORREF kInstructionTextColor = RGB(0x88, 0x88, 0x88);  // the folder instruction
constexpr COLORREF kSectionTitleColor = RGB(0x70, 0x70, 0x70);     // titles on the header bars
constexpr COLORREF kHeaderBarColor = RGB(0xDA, 0xDA, 0xDA);        // the bars behind them

// WM_CTLCOLORSTATIC for a text in `color` on the dialog's own background;
// returns the brush the dialog procedure hands back.
INT_PTR ColorGreyText(HDC dc, COLORREF color);
// The same for a title standing on a header bar.
INT_PTR ColorSectionTitle(HDC dc);
// Paints an owner-drawn static as a header bar: a rounded rectangle without
// outline on the dialog's background.
void DrawHeaderBar(const DRAWITEMSTRUCT& item);
