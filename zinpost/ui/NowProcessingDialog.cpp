#include "zinpost/ui/NowProcessingDialog.h"

#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/ui/MessageBoxes.h"
#include "zinpost/engine/OfficePDF.h"
#include "zinpost/resource.h"

#include "framework/Font.h"

CNowProcessingDialog::CNowProcessingDialog() : fw::Dialog(IDD_NOW_PROCESSING) {
    PostWhenShown(WM_NOW_PROCESSING_SHOW);  // the check starts once the dialog is on screen
}

BOOL CNowProcessingDialog::OnInitDialog() {
    m_btnOK = Item(IDOK);
    m_pAgent = CThreadAgent::GetInstance();
    if (!m_pAgent) {
        ShowMessageById(IDS_DIALOG_CREATE_FAILED);
        EndDialog(0);
        return TRUE;
    }
    if (!m_pAgent->StartPDFCheckThread()) LOG_WRITE(4, "PDFCheckThread not started[%lu]", GetLastError());
    return TRUE;
}

INT_PTR CNowProcessingDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    switch (message) {
    case WM_NOW_PROCESSING_SHOW:
        OnFinishedShowDialog();
        handled = true;
        return TRUE;
    default:
        break;
    }
    return fw::Dialog::OnMessage(message, wParam, lParam, handled);
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
