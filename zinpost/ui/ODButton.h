#pragma once
// An owner-drawn button that only shows a word-wrapped text: the main
// window's file-name display. The owner forwards WM_DRAWITEM to DrawItem.
#include "framework/Control.h"

#include <string>

class CODButton : public fw::Control {
public:
    // The text set on the window (SetWindowText) is the text shown as well.
    void SetText(const wchar_t* text, size_t length) { m_strText.assign(text, length); }
    const std::wstring& Text() const { return m_strText; }
    void DrawItem(const DRAWITEMSTRUCT& item) const;

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    std::wstring m_strText;
};
