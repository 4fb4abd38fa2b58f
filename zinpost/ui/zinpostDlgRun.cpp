// The upload run of the main window: the drop handler (user-interface
// thread) and the worker body (upload thread).
#include "zinpost/ui/zinpostDlg.h"

#include "common/DisplayResultApi.h"
#include "zinpost/engine/CommServer.h"
#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/ui/MessageBoxes.h"
#include "zinpost/engine/OfficePDF.h"
#include "zinpost/engine/UploadRules.h"
#include "zinpost/resource.h"

#include "framework/Exceptions.h"
#include "framework/FilePath.h"
#include "framework/MessageBox.h"
#include "framework/Profile.h"
#include "framework/Text.h"
#include "framework/WinHandle.h"

#include <commctrl.h>

namespace {
// The reason given for a file whose path has a piece longer than 259 characters.
std::string PathTooLongText() {
    const std::string text = fw::SystemErrorLine(ERROR_FILENAME_EXCED_RANGE);
    return text.empty() ? kUnknownErrorText : text;
}
}  // namespace

void CzinpostDlg::OnDropFiles(HDROP drop) {
    const fw::UniqueHDrop release(drop);

    // While a run is active, and while one of the window's dialogs (or a
    // message) is open and may be writing the settings, nothing is taken.
    if (m_bBusy || !IsWindowEnabled(Hwnd())) return;
    // The start with files posts itself a drop without a handle; a drop
    // from the desktop always brings its own files.
    const bool commandLine = !drop && m_bCommandLine;
    if (!drop && !commandLine) return;
    if (const UINT refusal = CheckUploadSettings(*m_settings)) {
        ShowMessageById(refusal);
        // The window stays open and takes drops as if started without files.
        m_bCommandLine = 0;
        return;
    }
    m_FileList.clear();
    m_nFileCount = 0;
    if (!commandLine) {
        // Too many to take: the count decides, before any path is read.
        const UINT items = DroppedItemCount(drop);
        if (items > static_cast<UINT>(kMaxFilesPerRun)) {
            LOG_WRITE(1, "OnDropFiles: items[%u]", items);
            m_nFileCount = static_cast<int>(items);
            ShowMessageById(IDS_TOO_MANY_FILES);
            return;
        }
    }
    const std::vector<std::wstring> documents =
        commandLine ? CommandLineDocuments(m_commandLine, fw::ProgramPath()) : DroppedDocuments(drop);
    for (const std::wstring& path : documents) m_FileList.push_back(UploadEntry{path, 0});
    m_nFileCount = static_cast<int>(m_FileList.size());
    LOG_WRITE(1, "OnDropFiles: files[%d] commandLine[%d]", m_nFileCount, commandLine ? 1 : 0);

    if (m_nFileCount >= 1 && m_nFileCount <= kMaxFilesPerRun) {
        m_bBusy = 1;
        CThreadAgent* agent = CThreadAgent::GetInstance();
        if (!agent || !agent->StartUploadThread(this)) {
            m_bBusy = 0;
            ShowMessageById(IDS_UPLOAD_FAILED);
        }
        return;
    }
    if (m_nFileCount > kMaxFilesPerRun) ShowMessageById(IDS_TOO_MANY_FILES);
    // A command-line start without a run to make ends the program.
    if (commandLine) PostMessageW(Hwnd(), WM_COMMAND, IDOK, 0);
}

void CzinpostDlg::UploadFunction() {
    bool anyFailure = false;
    try {
        m_bRunningCursor = 1;
        m_bCancelRequested = 0;
        PostToWindowThread([this] {
            SetStatus("ログイン");
            SendDlgItemMessageW(Hwnd(), IDC_UPLOAD_PROGRESS, PBM_SETRANGE32, 0, 100);
            SendDlgItemMessageW(Hwnd(), IDC_UPLOAD_PROGRESS, PBM_SETPOS, 0, 0);
            ShowRunningLayout();
        });

        UploadProgressContext progress;
        progress.progressBar = Item(IDC_UPLOAD_PROGRESS);
        progress.text = fw::AnsiToWide(m_strSpare);
        progress.fileNameDisplay = Item(IDC_FILE_NAME_BUTTON);
        progress.transferFlag = &m_bTransferFlag;
        progress.cancelFlag = &m_bCancelRequested;

        int index = 0;
        for (UploadEntry& entry : m_FileList) {
            try {
                if (!UploadOneFile(entry, ++index, progress, anyFailure)) break;
            } catch (const fw::Exception&) {
                throw;
            } catch (const std::bad_alloc&) {
                throw;
            } catch (...) {
                // Anything else still ends the run the usual way, with the
                // file's reason: the window must not stay busy for ever.
                LOG_WRITE(4, "Worker: unexpected exception on file %d", index);
                entry.Succeeded = 0;
                entry.Path = VerdictLine(entry.Path, kUnknownErrorText);
                anyFailure = true;
                break;
            }
        }
    } catch (const fw::Exception& e) {
        ReportUnexpectedException(e.Code());
        anyFailure = true;
    } catch (const std::bad_alloc&) {
        ReportUnexpectedException(ERROR_NOT_ENOUGH_MEMORY);
        anyFailure = true;
    } catch (...) {
        LOG_WRITE(4, "Worker: unexpected exception");
        anyFailure = true;
    }
    EndOfRun(anyFailure);
}

bool CzinpostDlg::UploadOneFile(UploadEntry& entry, int index, const UploadProgressContext& progress,
                                bool& anyFailure) {
    const int count = m_nFileCount;
    DocumentPath parts;
    const bool split = SplitDocumentPath(entry.Path, parts);

    // The file's first view, handed to the window's thread without waiting.
    const bool checkConversion = split && m_settings->ConvertPDF == 1;
    const std::string registering = fw::Format("登録中(%d/%d)", index, count);
    std::string status = checkConversion ? fw::Format("PDF変換チェック中(%d/%d)", index, count) : registering;
    PostToWindowThread([this, name = parts.name + parts.extension, status] {
        SendDlgItemMessageW(Hwnd(), IDC_UPLOAD_PROGRESS, PBM_SETRANGE32, 0, 100);
        SendDlgItemMessageW(Hwnd(), IDC_UPLOAD_PROGRESS, PBM_SETPOS, 0, 0);
        SetItemText(IDC_FILE_NAME_BUTTON, name);
        InvalidateRect(Item(IDC_FILE_NAME_BUTTON), nullptr, TRUE);
        SetStatus(status);
    });

    bool send = true;
    bool converted = false;
    bool createdPdf = false;  // the conversion made the PDF: it goes after the upload
    std::string error;
    if (!split) {
        // A piece of the path longer than the run's buffers: refused alone.
        error = PathTooLongText();
        send = false;
    } else if (checkConversion) {
        COfficePDF& gate = COfficePDF::GetInstance();
        if (gate.checkThisExtConvert(parts.extension) == 1) {
            status = fw::Format("PDF変換中(%d/%d)", index, count);
            SetStatus(status);
            converted = true;
            std::wstring pdf;
            const ConvertedPdfCheck check(entry.Path);
            if (gate.convertPDF(entry.Path, pdf) == 1) {
                createdPdf = check.CreatedByConversion(pdf);
                entry.Path = pdf;
            } else {
                error = LoadMessageById(IDS_PDF_CONVERT_FAILED) + "{" + gate.GetErrorText() + "}";
                send = false;
            }
        }
    }

    // The converted PDF goes once it was sent (or is no longer to be sent),
    // unless it is not the conversion's own; the line then names the
    // document as dropped.
    auto removeConvertedPdf = [&] {
        if (!converted || !send) return;
        if (!createdPdf)
            LOG_WRITE(1, "PDF kept: not made by the conversion[%s]", fw::WideToAnsi(entry.Path).c_str());
        else if (!DeleteFileW(fw::LongPathForm(entry.Path).c_str()))
            LOG_WRITE(4, "PDF not deleted[%lu]", GetLastError());
        entry.Path = L"PDF変換 - " + parts.Full();
    };

    if (m_bCancelRequested || m_bClosing) {
        removeConvertedPdf();
        m_bTransferFlag = 1;
        return false;
    }

    if (status != registering) SetStatus(registering);
    if (send) {
        UploadParams params;
        params.folder = m_settings->Folder;
        params.encrypt = m_settings->FileEncrypt;
        params.deleteDays = m_settings->DeleteDays;
        params.title = parts.name;
        params.path = entry.Path;
        CCommServer server;
        error = server.UploadContentFile(params, progress, &error);
    }
    removeConvertedPdf();

    if (!error.empty()) anyFailure = true;
    entry.Succeeded = error.empty() ? 1 : 0;
    entry.Path = VerdictLine(entry.Path, error);
    return !(m_bCancelRequested || m_bClosing);
}

void CzinpostDlg::ReportUnexpectedException(long code) {
    const std::string text = fw::Format("原因不明の例外が発生しました。（コード%d）", static_cast<int>(code));
    LOG_WRITE(4, "Worker:%s", text.c_str());
    fw::ShowMessageBoxAnsi(Hwnd(), text, MB_OK | MB_ICONSTOP);
}

void CzinpostDlg::EndOfRun(bool anyFailure) {
    m_bWaitCursor = 0;
    m_bRunningCursor = 0;
    if (!m_bClosing && (m_settings->DisplayResult != 0 || anyFailure)) ShowResultWindow();
    m_bTransferFlag = 1;
    if (m_bClosing) return;

    if (m_bCommandLine) {
        // A run from the command line closes the window now: nobody would
        // see or use the idle layout.
        m_bBusy = 0;
        m_bTransferFlag = 0;
        PostMessageW(Hwnd(), WM_COMMAND, IDOK, 0);
    } else {
        ShowIdleLayout();
        // The next drop is taken once the window shows the idle layout.
        PostToWindowThread([this] {
            m_bBusy = 0;
            m_bTransferFlag = 0;
        });
    }
    LOG_WRITE(1, "UploadFunction finish");
}

void CzinpostDlg::ShowResultWindow() {
    // A library that is missing or broken shows the system's text for it.
    fw::UniqueHModule library(LoadLibraryA(kDisplayResultLibrary));
    if (!library) {
        ShowLastErrorBox(Hwnd());
        return;
    }
    if (m_bClosing) return;
    // Through a generic function pointer: the export's real type is known only here.
    auto display = reinterpret_cast<ExDisplayResultFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(library.get(), kDisplayResultExport)));
    if (!display) {
        ShowLastErrorBox(Hwnd());
        return;
    }
    display(Hwnd(), m_settings->FolderName, &m_FileList, m_nFileCount);
    LOG_WRITE(1, "ExDisplayResult returned");
}
