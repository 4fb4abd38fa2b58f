#include "DisplayResult.h"

#include "resource.h"

#include "framework/Text.h"

namespace {

// Height of the summary line's font in logical units.
constexpr LONG kSummaryFontHeight = 16;

}  // namespace

CDisplayResult::CDisplayResult(HINSTANCE module) : fw::Dialog(IDD_DISPLAY_RESULT, module) {}

INT_PTR CDisplayResult::ShowResult(HWND owner, std::string target, const UploadEntryList* results, int count) {
    m_strTarget = std::move(target);
    m_pResults = results;
    m_nCount = count;
    return DoModal(owner);
}

BOOL CDisplayResult::OnInitDialog() {
    const int failed = BuildTexts();

    // Shared system icons: loaded, never destroyed.
    HICON icon = LoadIconW(nullptr, failed > 0 ? IDI_EXCLAMATION : IDI_INFORMATION);
    if (icon) SendDlgItemMessageW(Hwnd(), IDC_RESULT_ICON, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);

    SetSummaryFont();
    SetItemText(IDC_RESULT_DETAIL, m_strDetail);
    SetItemText(IDC_RESULT_SUMMARY, m_strSummary);
    return TRUE;
}

int CDisplayResult::BuildTexts() {
    // The program writes the title in the system's ANSI code page.
    m_strDetail = L"登録先：「" + fw::AnsiToWide(m_strTarget) + L"」\r\n";

    int succeeded = 0;
    int failed = 0;
    if (m_pResults) {
        // The count never exceeds the list; stopping at its end costs nothing.
        int shown = 0;
        for (auto it = m_pResults->begin(); it != m_pResults->end() && shown < m_nCount; ++it, ++shown) {
            if (it->Succeeded) {
                ++succeeded;
                m_strDetail += L"○：" + it->Path + L"\r\n";
            } else {
                ++failed;
                m_strDetail += L"×：" + it->Path + L"\r\n";
            }
        }
    }
    m_strSummary = L"成功：" + std::to_wstring(succeeded) + L"  失敗：" + std::to_wstring(failed);
    return failed;
}

void CDisplayResult::SetSummaryFont() {
    if (!m_fontSummary) {
        // The dialog's own face, only taller.
        auto dialogFont = reinterpret_cast<HFONT>(SendMessageW(Hwnd(), WM_GETFONT, 0, 0));
        if (!dialogFont) dialogFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        LOGFONTW logFont{};
        if (!dialogFont || GetObjectW(dialogFont, sizeof logFont, &logFont) != sizeof logFont) return;
        logFont.lfHeight = kSummaryFontHeight;
        m_fontSummary.reset(CreateFontIndirectW(&logFont));
        if (!m_fontSummary) return;
    }
    SendDlgItemMessageW(Hwnd(), IDC_RESULT_SUMMARY, WM_SETFONT, reinterpret_cast<WPARAM>(m_fontSummary.get()), TRUE);
}
