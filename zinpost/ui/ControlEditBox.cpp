#include "zinpost/ui/ControlEditBox.h"

#include "zinpost/engine/TextEncoding.h"

#include "framework/Text.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {
const char kUnlimitedText[] = "無期限";
}

CControlEditBox::CControlEditBox(HWND dialog, int id) : m_hDialog(dialog), m_nId(id) {
    wchar_t wide[kFoldBufferSize] = {};
    GetDlgItemTextW(dialog, id, wide, kFoldBufferSize);
    char text[kFoldBufferSize] = {};
    strncpy(text, fw::WideToAnsi(wide).c_str(), sizeof text - 1);
    if (std::strcmp(text, kUnlimitedText) == 0) {
        m_nValue = kUnlimited;
        m_bUnlimited = true;
    } else if (text[0] == '\0') {
        m_nValue = 0;
        m_nState = Empty;
    } else {
        FoldFullWidthDigits(text, sizeof text);
        m_nValue = std::atoi(text);
    }
}

void CControlEditBox::SetValue(int days) {
    int shown = days;
    if (days < 0) {
        shown = 0;
        m_nState = BelowZero;
    } else if (days > kMaxDays) {
        shown = kMaxDays;
        m_nState = AboveMaximum;
    } else {
        m_nState = InRange;
    }
    m_nValue = shown;
    // Rewritten only when it changes: the box reports every write as a change.
    const std::wstring text = std::to_wstring(shown);
    wchar_t current[kFoldBufferSize] = {};
    GetDlgItemTextW(m_hDialog, m_nId, current, kFoldBufferSize);
    if (text != current) SetDlgItemTextW(m_hDialog, m_nId, text.c_str());
}
