#include "zinpost/ui/FinishedProcessingDialog.h"

#include "zinpost/engine/Log.h"
#include "zinpost/ui/DialogAgent.h"
#include "zinpost/engine/OfficePDF.h"
#include "zinpost/resource.h"

namespace {
// Posted by the dialog to itself once it is shown.
constexpr UINT WM_FINISHED_PROCESSING_SHOW = WM_USER + 201;

const char kCheckFinished[] = "確認が完了しました。";
const char kRequirementText[] =
    "PDF 変換機能をお使いになる場合は、以下のソフトウェアが必要です。\n"
    "変換できないOffice形式のファイルは、PDF変換せずにアップロードします。\n";
const char kRequirementList[] =
    "・Microsoft .NET Framework 3.5\n・Microsoft Office 2010 または Microsoft Office 2013\n";
}  // namespace

CFinishedProcessingDialog::CFinishedProcessingDialog() : fw::Dialog(IDD_FINISHED_PROCESSING) {
    PostWhenShown(WM_FINISHED_PROCESSING_SHOW);
}

std::string CFinishedProcessingDialog::EditLines(const std::string& text) {
    std::string lines;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == '\r' || text[i] == '\n') {
            while (i < text.size() && (text[i] == '\r' || text[i] == '\n')) ++i;
            lines += "\r\n";
        } else {
            lines += text[i++];
        }
    }
    return lines;
}

void CFinishedProcessingDialog::SetIcon(LPCSTR icon) const {
    SendMessageW(m_stcIcon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconA(nullptr, icon)), 0);
}

BOOL CFinishedProcessingDialog::OnInitDialog() {
    m_btnOK = Item(IDOK);
    m_stcIcon = Item(IDC_NOTICE_ICON);
    ShowWindow(m_btnOK, SW_HIDE);
    ShowWindow(m_stcIcon, SW_HIDE);
    SetIcon(IDI_INFORMATION);
    ShowWindow(m_stcIcon, SW_SHOW);

    if (CThreadAgent* agent = AgentOrEndDialog(*this)) agent->SignalObjAndWait_PDFCheck();
    return TRUE;
}

void CFinishedProcessingDialog::OnFinishedShowDialog() {
    COfficePDF& gate = COfficePDF::GetInstance();
    m_nResult = gate.checkEnableConverPDF();
    LOG_WRITE(2, "CFinishedProcessingDialog result[%d] detail[%s]", m_nResult, gate.GetDetailText().c_str());
    if (m_nResult == 1) {
        SetItemTextAnsi(IDC_NOTICE_TEXT, kCheckFinished);
        SetItemTextAnsi(IDC_NOTICE_LIST, gate.GetResultText());
        SetItemTextAnsi(IDC_NOTICE_DETAIL_LABEL, gate.GetDetailText());
        EndDialog(IDOK);
        return;
    }
    SetItemTextAnsi(IDC_NOTICE_TEXT, kRequirementText);
    SetItemTextAnsi(IDC_NOTICE_LIST, kRequirementList);
    SetItemTextAnsi(IDC_NOTICE_DETAIL, EditLines(gate.GetDetailText()));
    SetIcon(IDI_EXCLAMATION);
    ShowWindow(m_stcIcon, SW_SHOW);
    ShowWindow(m_btnOK, SW_SHOW);
    SendMessageW(Hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_btnOK), TRUE);
}
