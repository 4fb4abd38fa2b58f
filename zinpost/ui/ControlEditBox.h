#pragma once
// The day-count box of the default settings dialog (control 1064), read and
// written as a number of days: made on the dialog each time it is needed.
#include <windows.h>

class CControlEditBox {
public:
    enum State { InRange = 0, AboveMaximum = 1, BelowZero = 2, Empty = 3 };
    static constexpr int kMaxDays = 365;  // "MAX_DELETE_DATE"
    static constexpr int kUnlimited = -1;

    // Reads the box: "無期限" is -1, an empty box 0 (state Empty), anything
    // else the leading number after full-width digits were folded.
    explicit CControlEditBox(HWND dialog, int id = 1064);

    // Shows `days` clamped to 0..365, and sets the state by what was clamped.
    void SetValue(int days);

    State m_nState = InRange;
    HWND m_hDialog;
    int m_nValue = 0;
    int m_nId;
    bool m_bUnlimited = false;  // the box read "無期限"
};
