#include "zinpost/ui/PdfNotices.h"

#include "zinpost/engine/Log.h"
#include "zinpost/ui/FinishedProcessingDialog.h"
#include "zinpost/ui/NowProcessingDialog.h"

bool RunPdfNotices(HWND owner) {
    CNowProcessingDialog check;
    if (check.DoModal(owner) != IDOK) return false;
    LOG_WRITE(2, "RunPdfNotices PDFUnavailable[%d]", check.m_bPDFUnavailable);
    if (check.m_bPDFUnavailable != 1) return true;
    CFinishedProcessingDialog notice;
    return notice.DoModal(owner) == IDOK;
}
