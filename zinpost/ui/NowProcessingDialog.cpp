#include "zinpost/ui/NowProcessingDialog.h"

#include "zinpost/engine/Log.h"
#include "zinpost/ui/DialogAgent.h"
#include "zinpost/engine/OfficePDF.h"
#include "zinpost/resource.h"

#include "framework/Font.h"

namespace {
// Posted by the dialog to itself once it is shown.
constexpr UINT WM_NOW_PROCESSING_SHOW = WM_USER + 200;
}  // namespace

CNowProcessingDialog::CNowProcessingDialog() : fw::Dialog(IDD_NOW_PROCESSING) {
    PostWhenShown(WM_NOW_PROCESSING_SHOW);  // the check starts once the dialog is on screen
}

BOOL CNowProcessingDialog::OnInitDialog() {
    m_pAgent = AgentOrEndDialog(*this);
    if (m_pAgent && !m_pAgent->StartPDFCheckThread())
        LOG_WRITE(4, "PDFCheckThread not started[%lu]", GetLastError());
    return TRUE;
}

void CNowProcessingDialog::OnFinishedShowDialog() {
    {
        fw::WaitCursor wait;
        Sleep(10);  // lets the check thread take its semaphore
        m_pAgent->SignalObjAndWait_PDFCheck();
    }
    // The result is cached by now.
    m_bPDFUnavailable = COfficePDF::GetInstance().checkEnableConverPDF() == 1 ? 0 : 1;
    LOG_WRITE(2, "CNowProcessingDialog PDFUnavailable[%d]", m_bPDFUnavailable);
    EndDialog(IDOK);
}
