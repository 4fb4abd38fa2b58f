#include "zinpost/ui/PopupDialog.h"

#include "zinpost/engine/Log.h"
#include "zinpost/resource.h"

#include "framework/Font.h"
#include "framework/Text.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int kMessageId = 1;
constexpr int kIconId = 2;
constexpr int kIconSize = 20;
constexpr int kTextLeft = 3;
constexpr int kTextLeftWithIcon = 26;
constexpr int kTextTop = 5;
constexpr int kTextHeight = 52;
}  // namespace

CPopupDialog::CPopupDialog() : fw::Dialog(IDD_POPUP) {}

bool CPopupDialog::CreateBelow(HWND owner, const RECT& anchor) {
    m_rcAnchor = anchor;
    return Create(owner) != nullptr;
}

BOOL CPopupDialog::OnInitDialog() {
    m_brush = GetSysColorBrush(COLOR_INFOBK);
    SetWindowPos(Hwnd(), HWND_TOPMOST, m_rcAnchor.left, m_rcAnchor.bottom, 0, 0,
                 SWP_NOSIZE | SWP_NOACTIVATE | SWP_HIDEWINDOW);
    m_stcMessage = CreateWindowExW(0, L"STATIC", L"メッセージ", WS_CHILD | WS_VISIBLE | SS_ENDELLIPSIS | SS_NOPREFIX,
                                   kTextLeft, 3, 100 - kTextLeft, 20 - 3, Hwnd(),
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(kMessageId)), Module(), nullptr);
    const LOGFONTW logFont = fw::WindowLogFont(Hwnd());
    m_nFontHeight = logFont.lfHeight;
    m_nFontWidth = logFont.lfWidth;
    m_font = fw::CopyWindowFont(Hwnd());
    if (m_stcMessage && m_font) SendMessageW(m_stcMessage, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
    return FALSE;  // the popup never takes the focus
}

INT_PTR CPopupDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    if (message == WM_CTLCOLORDLG || message == WM_CTLCOLORSTATIC) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
        SetBkColor(dc, GetSysColor(COLOR_INFOBK));
        handled = true;
        return reinterpret_cast<INT_PTR>(m_brush);
    }
    return fw::Dialog::OnMessage(message, wParam, lParam, handled);
}

void CPopupDialog::PlaceBelow(const RECT& anchor) {
    m_rcAnchor = anchor;
    SetWindowPos(Hwnd(), HWND_TOPMOST, anchor.left, anchor.bottom, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
}

void CPopupDialog::AddWarningIcon() {
    m_stcIcon = CreateWindowExW(0, L"STATIC", L"icon", WS_CHILD | WS_VISIBLE | SS_ICON | SS_CENTERIMAGE, 3, 3, 20 - 3,
                                20 - 3, Hwnd(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIconId)), Module(),
                                nullptr);
    m_images.reset(ImageList_Create(kIconSize, kIconSize, ILC_COLOR32 | ILC_MASK, 0, 1));
    m_hWarningIcon = LoadIconA(nullptr, IDI_EXCLAMATION);
    if (m_images && m_hWarningIcon && ImageList_AddIcon(m_images.get(), m_hWarningIcon) >= 0) {
        m_iconCopy.reset(ImageList_GetIcon(m_images.get(), 0, ILD_NORMAL));
        SendMessageW(m_stcIcon, STM_SETICON, reinterpret_cast<WPARAM>(m_iconCopy.get()), 0);
    }
    m_bHasIcon = 1;
}

int CPopupDialog::TextWidth(const std::string& text) const {
    // Half the font height per byte of the ANSI text...
    const int estimate = static_cast<int>(std::fabs(m_nFontHeight * 0.5 * static_cast<double>(text.size()))) - 2;
    // ...and never less than the text really needs: the estimate is a pixel
    // or two short for fonts whose glyphs are exactly half an em per byte,
    // and a cut warning would hide its point.
    SIZE needed{};
    const std::wstring wide = fw::AnsiToWide(text);
    if (const fw::WindowDc dc{m_stcMessage}) {
        const HGDIOBJ old = SelectObject(dc.get(), m_font ? m_font.get() : GetStockObject(DEFAULT_GUI_FONT));
        GetTextExtentPoint32W(dc.get(), wide.c_str(), static_cast<int>(wide.size()), &needed);
        SelectObject(dc.get(), old);
    }
    return std::max(estimate, static_cast<int>(needed.cx));
}

void CPopupDialog::SetMessage(const std::string& text) {
    const int width = TextWidth(text);
    const int left = m_bHasIcon ? kTextLeftWithIcon : kTextLeft;
    MoveWindow(m_stcMessage, left, kTextTop, width, kTextHeight, TRUE);
    SetWindowTextW(m_stcMessage, fw::AnsiToWide(text).c_str());

    // The text with the same margin on its right as on its left, inside the
    // border.
    RECT popup{}, client{};
    GetWindowRect(Hwnd(), &popup);
    GetClientRect(Hwnd(), &client);
    const int border = (popup.right - popup.left) - client.right;
    SetWindowPos(Hwnd(), HWND_TOPMOST, 0, 0, left + width + kTextLeft + border, popup.bottom - popup.top,
                 SWP_NOMOVE | SWP_NOACTIVATE);
}

void CPopupDialog::Show(bool show) const {
    if (Hwnd()) ShowWindow(Hwnd(), show ? SW_SHOWNOACTIVATE : SW_HIDE);
}

bool CPopupDialog::Visible() const { return Hwnd() && IsWindowVisible(Hwnd()); }
