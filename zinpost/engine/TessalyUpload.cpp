// CTessalyWebAPI::UploadContentFile: one local file into one content group,
// as a multipart/form-data POST to "uploadContentFile.json" on the
// connection of the login. The file is read in blocks that move the caller's
// progress bar and let the caller cancel; a network failure sends the whole
// request again, from the first byte, a few times.
#include "zinpost/engine/UploadLimits.h"
#include "zinpost/engine/TessalyWebAPI.h"

#include "zinpost/engine/AppSettings.h"
#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/engine/TextEncoding.h"
#include "zinpost/engine/UploadRules.h"
#include "zinpost/resource.h"

#include "framework/Control.h"
#include "framework/FilePath.h"
#include "framework/Text.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <new>

// Every line of the upload is traced under the operation's own name, also
// the lines of its helpers below.
#define UPLOAD_LOG(level, ...) LOG_WRITE_AS("CTessalyWebAPI::UploadContentFile", level, __VA_ARGS__)

// 25 hyphens and 15 digits; every delimiter line in the body has two more
// hyphens in front.
#define UPLOAD_BOUNDARY "-------------------------265001916915724"

namespace {

const char kEndpoint[] = "uploadContentFile.json";

// Added in this order, each only if the request has none of its name yet.
// The line ends belong to the texts, the empty lines too.
const char* const kRequestHeaders[] = {
    "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n",
    "Accept-Language: ja,en-us;q=0.7,en;q=0.3\r\n",
    "Accept-Encoding: gzip, deflate\r\n",
    "Accept-Charset: Shift_JIS,utf-8;q=0.7,*;q=0.7\r\n\r\n",
    "Content-Type: multipart/form-data; boundary=" UPLOAD_BOUNDARY "\r\n\r\n",
};
const char kDelimiterLine[] = "--" UPLOAD_BOUNDARY "\r\n";
const char kClosing[] = "\r\n--" UPLOAD_BOUNDARY "--\r\n";
constexpr DWORD kClosingLength = sizeof kClosing - 1;

// Between attempts; only tests shorten it.
DWORD g_retryPauseMs = kUploadRetryPauseMs;
// The last percentage written to the trace, over all uploads of the process:
// the trace shows each tenth once in a row. Uploads never overlap.
int g_lastTracedPercent = -1;

// The text pieces of the body around the file data: 1 to 4 before it, the
// closing after it.
struct MultipartPieces {
    std::string groupId;
    std::string deleteDays;
    std::string encrypt;
    std::string fileHead;

    // The body's byte count: the pieces, the closing and the file data. The
    // size limit keeps it far below 4 GiB.
    DWORD BodyLength(ULONGLONG fileSize) const {
        return static_cast<DWORD>(groupId.size() + deleteDays.size() + encrypt.size() + fileHead.size() +
                                  kClosingLength + fileSize);
    }
};

MultipartPieces BuildPieces(const UploadParams& params, const char* utf8Name) {
    const std::string delimiter = kDelimiterLine;
    MultipartPieces pieces;
    pieces.groupId = fw::Format("%s%d%s",
                                (delimiter + "Content-Disposition: form-data; name=\"group_id\"\r\n\r\n").c_str(),
                                params.folder, "\r\n");
    pieces.deleteDays =
        fw::Format("%s%d%s",
                   (delimiter + "Content-Disposition: form-data; name=\"file_delete_days\"\r\n\r\n").c_str(),
                   params.deleteDays, "\r\n");
    pieces.encrypt = delimiter + "Content-Disposition: form-data; name=\"is_encrypt\"\r\n\r\n" +
                     (params.encrypt ? "true" : "false") + "\r\n";
    pieces.fileHead = delimiter + "Content-Disposition: form-data; name=\"file\"; filename=\"" + utf8Name +
                      "\"\r\nContent-Type: application/octet-stream\r\n" + "\r\n";
    return pieces;
}

// The extension of a path with its dot ("" when it has none), as the
// platform's path splitter finds it.
std::wstring PathExtension(const std::wstring& path) {
    DocumentPath parts;
    return SplitDocumentPath(path, parts) ? parts.extension : std::wstring();
}

// The system's text for an error code without its line breaks; the unknown
// error text when the system has none (WinINet codes, mostly).
std::string ErrorCodeText(DWORD code) {
    std::string text = fw::SystemErrorText(code);
    if (text.empty()) return kUnknownErrorText;
    text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }),
               text.end());
    return text;
}

// " <message 166>(Exc:<code> <text>)": the file did not get through.
std::string SendFailureText(DWORD code, const std::string& previous) {
    return fw::Format(" %s(Exc:%d %s)", LoadMessageById(IDS_SEND_FAILED).c_str(), static_cast<int>(code),
                      previous.c_str());
}

// The caller's progress bar, file-name display and flags. The controls
// belong to the caller's window: direct messages, no lock.
class ProgressControls {
public:
    explicit ProgressControls(const UploadProgressContext& context)
        : m_context(context),
          m_otherThread(context.progressBar &&
                        GetWindowThreadProcessId(context.progressBar, nullptr) != GetCurrentThreadId()) {}

    void Reset() {
        m_position = 0;
        m_lastTold = 0;
        if (!m_context.progressBar) return;
        fw::SendWithoutWaiting(m_context.progressBar, PBM_SETRANGE32, 0, 100);
        fw::SendWithoutWaiting(m_context.progressBar, PBM_SETPOS, 0, 0);
    }
    // The bar is told only when the percentage changed, and without waiting
    // for the window thread to draw it: a message to that thread costs far
    // more than a block, and a file of 400 MiB has 40,960 blocks but 101
    // percentages. A bar of another thread draws itself anew for every
    // position it gets, so it gets at most one in each interval, and always
    // 100; posted messages keep their order, so it ends where the upload did.
    void SetPosition(int percent) {
        if (percent == m_position) return;
        m_position = percent;
        if (!m_context.progressBar) return;
        const ULONGLONG now = GetTickCount64();
        if (m_otherThread && percent != 100 && m_lastTold != 0 && now - m_lastTold < kBarIntervalMs) return;
        m_lastTold = now;
        fw::SendWithoutWaiting(m_context.progressBar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    }
    // `name` in the ANSI code page; "" clears the display. Handed over
    // without waiting for the window thread, like the bar's position.
    void ShowName(const std::string& name) const {
        if (m_context.fileNameDisplay) fw::SetControlTextAsync(m_context.fileNameDisplay, fw::AnsiToWide(name));
    }
    void SetTransferring(int value) const {
        if (m_context.transferFlag) *m_context.transferFlag = value;
    }
    bool CancelRequested() const { return m_context.cancelFlag && *m_context.cancelFlag == 1; }
    const std::atomic<int>* CancelFlag() const { return m_context.cancelFlag; }

private:
    static constexpr ULONGLONG kBarIntervalMs = 15;  // about a screen refresh

    UploadProgressContext m_context;
    bool m_otherThread;      // the bar belongs to another thread's window
    int m_position = 0;      // the upload's percentage as last seen
    ULONGLONG m_lastTold = 0;  // when the bar of another thread was last told
};

// The file data on its way to the network. Each block is read straight into
// the next free block of one fixed buffer, which is written to the request
// when no further block fits and once more before the closing piece; a
// request closed on cancel takes the buffered blocks with it.
class SendBuffer {
public:
    SendBuffer() : m_data(new char[kCapacity]) {}

    // Room for one block.
    char* NextBlock() const { return m_data.get() + m_used; }
    // Takes `size` bytes read into NextBlock(); writes the buffer when it is full.
    void Commit(fw::HttpRequest& request, DWORD size) {
        m_used += size;
        if (kCapacity - m_used < kUploadBlockSize) Flush(request);
    }
    void Flush(fw::HttpRequest& request) {
        if (m_used) request.Write(m_data.get(), m_used);
        m_used = 0;
    }
    void Drop() { m_used = 0; }

private:
    static constexpr DWORD kCapacity = kUploadSendBufferBlocks * kUploadBlockSize;
    std::unique_ptr<char[]> m_data;
    DWORD m_used = 0;
};

// One call of the upload: the state from preparation to the answer. The
// destructor closes the file and the request and frees the buffers.
class FileUpload {
public:
    FileUpload(const fw::HttpConnection& connection, const UploadParams& params,
               const UploadProgressContext& progress)
        : m_connection(connection), m_params(params), m_progress(progress) {}

    // "" when the server stored the file, otherwise the text for the user.
    std::string Run() {
        std::string error;
        if (Prepare(error)) {
            Transfer();
            error = Outcome(error);
        }
        return error;
    }

private:
    // FileChanged: the file could not be read whole as it was at the start
    // (it shrank, grew or a read failed).
    // ServerRefused: not the trusted or pinned server; no body byte went out.
    enum class Ending { Done, Cancelled, FileChanged, ServerRefused };

    bool Prepare(std::string& error) {
        const std::wstring name = m_params.title + PathExtension(m_params.path);
        ConvertUnicode2UTF(name, m_utf8Name);

        m_progress.Reset();
        const std::string ansiName = fw::WideToAnsi(name);
        UPLOAD_LOG(1, "dialog[%s], File[%s]", fw::WideToAnsi(m_params.path).c_str(), m_utf8Name.get());
        m_progress.ShowName(ansiName);

        CTessalyWebAPI::Target target;
        if (!CTessalyWebAPI::CurrentTarget(target)) {
            error = LoadMessageById(IDS_SERVER_URL_INVALID);
            return false;
        }
        m_target = target;
        try {
            OpenRequest();
        } catch (const fw::InternetException& e) {
            // The code of the failed call, which is the thread's last error.
            error = "OpenRequest Error " + fw::SystemErrorText(e.Error());
            return false;
        }
        m_pieces = BuildPieces(m_params, m_utf8Name.get());

        UPLOAD_LOG(1, "CreateFileW [%s]", fw::WideToAnsi(m_params.path).c_str());
        m_file.reset(CreateFileW(fw::LongPathForm(m_params.path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!m_file) {
            error = "OpenError " + CTessalyWebAPI::LastErrorText();
            return false;
        }
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(m_file.get(), &size)) {
            error = "SizeError " + CTessalyWebAPI::LastErrorText();
            return false;
        }
        m_fileSize = static_cast<ULONGLONG>(size.QuadPart);
        if (m_fileSize > kUploadMaxFileSize) {
            error = LoadMessageById(IDS_FILE_TOO_LARGE);
            return false;
        }
        m_bodyLength = m_pieces.BodyLength(m_fileSize);
        m_buffer = std::make_unique<SendBuffer>();
        return true;
    }

    // The request with its five headers, in their order.
    void OpenRequest() {
        m_request = CTessalyWebAPI::OpenRequest(m_connection, "POST", m_target.url, kEndpoint,
                                                CTessalyWebAPI::RequestFlagsFor(m_target.url));
        for (const char* header : kRequestHeaders) m_request->AddHeaders(header, HTTP_ADDREQ_FLAG_ADD_IF_NEW);
    }

    // Up to four attempts, each sending the whole request from its first byte.
    void Transfer() {
        for (;;) {
            ++m_attempts;
            m_sent = 0;
            try {
                const Ending ending = Attempt();
                m_done = ending == Ending::Done;
                m_cancelled = ending == Ending::Cancelled;
                m_refused = ending == Ending::ServerRefused;
                return;  // a file that changed is not sent again either
            } catch (const fw::InternetException& e) {
                m_lastError = e.Error();
                UPLOAD_LOG(1, "Upload:CInternetException[%d]-%s", static_cast<int>(m_lastError),
                           ErrorCodeText(m_lastError).c_str());
                Rewind();
                // The next attempt goes out as a new request of the same
                // head: the broken one's connection may still carry part of
                // this attempt's body or, after a time-out, its late answer.
                DropRequest();
            }
            Sleep(g_retryPauseMs);
            if (m_attempts >= kUploadAttempts) return;
        }
    }

    // One attempt. Throws fw::InternetException when the network fails.
    Ending Attempt() {
        if (!m_request) OpenRequest();
        UPLOAD_LOG(1, "Upload:SendRequestEx[count:%d]", m_attempts);
        const auto sendHead = [this] { m_request->SendStart(m_bodyLength, 1); };
        if (CTessalyWebAPI::SendToServer(*m_request, m_target, sendHead, sendHead) == CTessalyWebAPI::Sent::Refused) {
            UPLOAD_LOG(4, "Upload: not the server's certificate, nothing of the file sent");
            m_request.reset();
            return Ending::ServerRefused;
        }
        UPLOAD_LOG(1, "SendRequest Success[%d]", 1);

        for (const std::string* piece : {&m_pieces.groupId, &m_pieces.deleteDays, &m_pieces.encrypt,
                                         &m_pieces.fileHead}) {
            m_request->Write(piece->data(), static_cast<DWORD>(piece->size()));
        }
        UPLOAD_LOG(0, "\n%s%s%s%s\n", m_pieces.groupId.c_str(), m_pieces.deleteDays.c_str(),
                   m_pieces.encrypt.c_str(), m_pieces.fileHead.c_str());

        m_progress.SetTransferring(1);
        m_buffer->Drop();
        DWORD readFailure = 0;
        for (;;) {
            DWORD read = 0;
            if (!ReadFile(m_file.get(), m_buffer->NextBlock(), kUploadBlockSize, &read, nullptr)) {
                readFailure = GetLastError();
                break;
            }
            if (read == 0) break;
            if (read > m_fileSize - m_sent) {  // longer than when the upload began
                readFailure = ERROR_FILE_INVALID;
                break;
            }
            m_buffer->Commit(*m_request, read);
            m_sent += read;
            if (m_progress.CancelRequested()) return CloseOnCancel();

            const int percent = static_cast<int>(m_sent * 100 / m_fileSize);
            m_progress.SetPosition(percent);
            if (percent % 10 == 0 && percent != g_lastTracedPercent) {
                UPLOAD_LOG(1, "Upload: Progres[%d]", percent);
                g_lastTracedPercent = percent;
            }
        }
        if (m_progress.CancelRequested()) return CloseOnCancel();

        if (readFailure == 0 && m_sent != m_fileSize) readFailure = ERROR_HANDLE_EOF;  // it shrank
        if (readFailure != 0) {
            // The request ends short of its declared length, so the server
            // never takes what it got for the whole file.
            m_lastError = readFailure;
            UPLOAD_LOG(4, "Upload: File read failed [%d] after %llu of %llu bytes", static_cast<int>(readFailure),
                       m_sent, m_fileSize);
            DropRequest();
            return Ending::FileChanged;
        }

        m_buffer->Flush(*m_request);
        m_progress.SetTransferring(0);
        m_request->Write(kClosing, kClosingLength);
        m_request->End(0, 1);
        // A connection the server reset while the last bytes were still in
        // flight can end "successfully" without any answer (status 0): that
        // attempt failed in the network like any other.
        if (m_request->StatusCode() == 0) throw fw::InternetException(ERROR_INTERNET_CONNECTION_RESET);
        UPLOAD_LOG(1, "Upload:EndRequest success");
        return Ending::Done;
    }

    Ending CloseOnCancel() {
        UPLOAD_LOG(1, "Upload: Cancel after %llu of %llu bytes", m_sent, m_fileSize);
        DropRequest();
        return Ending::Cancelled;
    }

    // Closes the request before its body went out whole, with the blocks
    // still buffered for it.
    void DropRequest() {
        m_buffer->Drop();
        if (m_request) m_request->Abandon();
        m_request.reset();
    }

    void Rewind() {
        LARGE_INTEGER start{};
        if (!SetFilePointerEx(m_file.get(), start, nullptr, FILE_BEGIN))
            UPLOAD_LOG(4, "Upload: SetFilePointerEx Error[%d]", static_cast<int>(GetLastError()));
    }

    std::string Outcome(const std::string& error) {
        if (m_cancelled) return LoadMessageById(IDS_UPLOAD_CANCELLED);
        if (m_refused) return LoadMessageById(IDS_SERVER_CERTIFICATE_CHANGED);
        if (!m_done) {
            UPLOAD_LOG(4, "Upload: Failed EndRequest [%d-%s]", static_cast<int>(m_lastError), error.c_str());
            return SendFailureText(m_lastError, error);
        }
        try {
            const DWORD status = m_request->StatusCode();
            UPLOAD_LOG(2, "Upload: HTTP StatusCode[%d]", static_cast<int>(status));
            if (status != HTTP_STATUS_OK) return CTessalyWebAPI::HttpStatusMessage(status);

            std::string body;
            const CTessalyWebAPI::BodyRead read =
                CTessalyWebAPI::ReadResponseText(*m_request, body, m_progress.CancelFlag());
            if (read == CTessalyWebAPI::BodyRead::Cancelled) {
                UPLOAD_LOG(1, "Upload: Cancel while reading the answer");
                return LoadMessageById(IDS_UPLOAD_CANCELLED);
            }
            UPLOAD_LOG(2, "Upload: Response=%s", body.c_str());
            const CTessalyWebAPI::Answer answer = CTessalyWebAPI::ReadAnswer(body, read);
            return answer.accepted ? std::string() : answer.detail;
        } catch (const fw::InternetException& e) {
            // The body went out whole but the answer broke off.
            UPLOAD_LOG(4, "Upload: CInternetException on the answer[%d]", static_cast<int>(e.Error()));
            return SendFailureText(e.Error(), error);
        }
    }

    const fw::HttpConnection& m_connection;
    const UploadParams& m_params;
    ProgressControls m_progress;
    CTessalyWebAPI::Target m_target;

    std::unique_ptr<char[]> m_utf8Name;
    std::unique_ptr<fw::HttpRequest> m_request;
    MultipartPieces m_pieces;
    fw::UniqueFile m_file;
    ULONGLONG m_fileSize = 0;
    DWORD m_bodyLength = 0;
    std::unique_ptr<SendBuffer> m_buffer;

    ULONGLONG m_sent = 0;  // file bytes of the current attempt
    int m_attempts = 0;
    bool m_done = false;
    bool m_cancelled = false;
    bool m_refused = false;
    DWORD m_lastError = 0;
};

}  // namespace

void SetUploadRetryPauseForTesting(DWORD milliseconds) { g_retryPauseMs = milliseconds; }

std::string CTessalyWebAPI::UploadContentFile(fw::HttpConnection* connection, fw::InternetSession* session,
                                              UploadParams params, UploadProgressContext progress,
                                              std::string* message) {
    UPLOAD_LOG(1, "UploadFile Function Start");
    // Caller errors: nothing is sent, and the text must not read as success.
    if (const auto missing = CTessalyWebAPI::CallerMissing(connection && session, message != nullptr)) {
        UPLOAD_LOG(missing->level, "%s", missing->trace);
        return LoadMessageById(IDS_SEND_FAILED);
    }

    std::string error;
    try {
        FileUpload upload(*connection, params, progress);
        error = upload.Run();
    } catch (const std::bad_alloc&) {
        UPLOAD_LOG(4, "Upload: out of memory");
        error = SendFailureText(ERROR_NOT_ENOUGH_MEMORY, std::string());
    }
    // The file, the buffers and the request are closed by now.
    ProgressControls(progress).ShowName("");
    return error;
}
