#pragma once
// A small borderless, disabled, tooltip-like popup: one message line below
// an anchor control, optionally behind a warning icon. The creator sets the
// anchor, creates it as a modeless child of itself, sets the message and
// shows or hides it.
#include "framework/Dialog.h"
#include "framework/WinHandle.h"

#include <string>

class CPopupDialog : public fw::Dialog {
public:
    CPopupDialog();

    // Creates the popup below `anchor` (screen coordinates) as a modeless
    // child of `owner`; false when that failed.
    bool CreateBelow(HWND owner, const RECT& anchor);
    // Moves the popup below another anchor (screen coordinates).
    void PlaceBelow(const RECT& anchor);
    // Puts the system's warning icon before the message.
    void AddWarningIcon();
    // Sets the text (ANSI) and sizes the popup to it: half the font height
    // per byte, so a full-width character counts a whole em, less two
    // pixels, yet never narrower than the text.
    void SetMessage(const std::string& text);
    // The width SetMessage gives the text.
    int TextWidth(const std::string& text) const;
    // Shows the popup without taking the focus, or hides it.
    void Show(bool show) const;
    bool Visible() const;

    RECT m_rcAnchor{};
    int m_bHasIcon = 0;
    int FontHeight() const { return m_nFontHeight; }
    HWND MessageControl() const { return m_stcMessage; }

protected:
    BOOL OnInitDialog() override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    int m_nFontHeight = 0;
    int m_nFontWidth = 0;
    HWND m_stcMessage = nullptr;
    HWND m_stcIcon = nullptr;
    fw::UniqueGdiObject m_font;
    HBRUSH m_brush = nullptr;  // the system's tooltip background
    HICON m_hWarningIcon = nullptr;
    fw::UniqueImageList m_images;
    fw::UniqueHIcon m_iconCopy;  // the image list's copy shown in m_stcIcon
};
