#include "Font.h"

namespace fw {

LOGFONTW WindowLogFont(HWND window) {
    LOGFONTW logFont{};
    HFONT font = window ? reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)) : nullptr;
    if (!font || !GetObjectW(font, sizeof logFont, &logFont))
        GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof logFont, &logFont);
    return logFont;
}

UniqueGdiObject CopyWindowFont(HWND window, LONG weight) {
    LOGFONTW logFont = WindowLogFont(window);
    if (weight) logFont.lfWeight = weight;
    return UniqueGdiObject(CreateFontIndirectW(&logFont));
}

UniqueGdiObject MakeBold(HWND dialog, std::initializer_list<HWND> controls) {
    UniqueGdiObject font = CopyWindowFont(dialog, FW_BOLD);
    if (font) {
        for (HWND control : controls) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    }
    return font;
}

}  // namespace fw
