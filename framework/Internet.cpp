#include "Internet.h"

#include "Profile.h"

#include <vector>

namespace fw {
namespace {

[[noreturn]] void ThrowLastError() { throw InternetException(GetLastError()); }

HINTERNET Checked(HINTERNET handle) {
    if (!handle) ThrowLastError();
    return handle;
}

void Check(BOOL ok) {
    if (!ok) ThrowLastError();
}

bool Canonicalize(const std::string& url, std::string& canonical) {
    std::vector<char> buffer(url.size() * 3 + 64);
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD size = static_cast<DWORD>(buffer.size());
        if (InternetCanonicalizeUrlA(url.c_str(), buffer.data(), &size, ICU_BROWSER_MODE)) {
            canonical.assign(buffer.data(), size);
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
        buffer.resize(size + 1);
    }
    return false;
}

}  // namespace

bool ParseHttpUrl(const std::string& url, UrlParts& parts) {
    std::string canonical;
    if (url.empty() || !Canonicalize(url, canonical)) return false;
    // Zero-length fields with null pointers: the parser points into `canonical`.
    URL_COMPONENTSA c{};
    c.dwStructSize = sizeof c;
    c.dwSchemeLength = 1;
    c.dwHostNameLength = 1;
    c.dwUrlPathLength = 1;
    c.dwExtraInfoLength = 1;
    if (!InternetCrackUrlA(canonical.c_str(), static_cast<DWORD>(canonical.size()), 0, &c)) return false;
    if (c.nScheme != INTERNET_SCHEME_HTTP && c.nScheme != INTERNET_SCHEME_HTTPS) return false;
    if (!c.lpszHostName || c.dwHostNameLength == 0) return false;

    UrlParts result;
    result.scheme = c.nScheme;
    result.host.assign(c.lpszHostName, c.dwHostNameLength);
    result.port = c.nPort;
    if (c.lpszUrlPath) result.object.assign(c.lpszUrlPath, c.dwUrlPathLength);
    if (c.lpszExtraInfo) result.object.append(c.lpszExtraInfo, c.dwExtraInfoLength);
    parts = std::move(result);
    return true;
}

InternetSession::InternetSession(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass,
                                 DWORD flags) {
    const std::string programName = ProgramBaseName();
    const bool named = accessType == INTERNET_OPEN_TYPE_PROXY;
    m_handle.reset(Checked(InternetOpenA(agent ? agent : programName.c_str(), accessType, named ? proxy : nullptr,
                                         named ? proxyBypass : nullptr, flags)));
}

HttpConnection::HttpConnection(const InternetSession& session, const std::string& server, INTERNET_PORT port,
                               const char* user, const char* password, DWORD flags, DWORD_PTR context)
    : m_handle(Checked(InternetConnectA(session.Handle(), server.c_str(), port, user, password,
                                        INTERNET_SERVICE_HTTP, flags, context))) {}

HttpRequest::HttpRequest(const HttpConnection& connection, const char* verb, const std::string& object,
                         DWORD flags, const char* version, DWORD_PTR context)
    : m_handle(Checked(HttpOpenRequestA(connection.Handle(), verb, object.c_str(), version, nullptr, nullptr,
                                        flags, context))) {}

DWORD HttpRequest::QueryOptionDword(DWORD option) const {
    DWORD value = 0;
    DWORD size = sizeof value;
    Check(InternetQueryOptionA(m_handle.get(), option, &value, &size));
    return value;
}

void HttpRequest::SetOptionDword(DWORD option, DWORD value) {
    Check(InternetSetOptionA(m_handle.get(), option, &value, sizeof value));
}

void HttpRequest::Send(const std::string& headers, const void* body, DWORD bodyLength) {
    Check(HttpSendRequestA(m_handle.get(), headers.empty() ? nullptr : headers.c_str(),
                           static_cast<DWORD>(headers.size()), const_cast<void*>(body), bodyLength));
}

void HttpRequest::AddHeaders(const std::string& headers, DWORD flags) {
    Check(HttpAddRequestHeadersA(m_handle.get(), headers.c_str(), static_cast<DWORD>(headers.size()), flags));
}

void HttpRequest::SendStart(DWORD totalLength, DWORD_PTR context, const std::string& headers) {
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = totalLength;
    if (!headers.empty()) {
        buffers.lpcszHeader = headers.c_str();
        buffers.dwHeadersLength = static_cast<DWORD>(headers.size());
    }
    Check(HttpSendRequestExA(m_handle.get(), &buffers, nullptr, HSR_INITIATE, context));
}

void HttpRequest::Write(const void* data, DWORD size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        DWORD written = 0;
        Check(InternetWriteFile(m_handle.get(), next, size, &written));
        // Nothing taken and no error: the connection takes no more.
        if (written == 0 || written > size) throw InternetException(ERROR_INTERNET_CONNECTION_ABORTED);
        next += written;
        size -= written;
    }
}

void HttpRequest::End(DWORD flags, DWORD_PTR context) {
    Check(HttpEndRequestA(m_handle.get(), nullptr, flags, context));
}

UniqueCertChain HttpRequest::ServerCertificateChain() const {
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    DWORD size = sizeof chain;
    if (!InternetQueryOptionA(m_handle.get(), INTERNET_OPTION_SERVER_CERT_CHAIN_CONTEXT, &chain, &size)) return {};
    return UniqueCertChain(chain);
}

void HttpRequest::Abandon() noexcept {
    if (!m_handle) return;
    // Closed in the middle of its body, a request may hand its connection
    // back to WinINet's keep-alive pool (Wine's does), and the server would
    // take the next request sent on it for the rest of this body. Ended with
    // an answer that cannot come in time, the connection counts as not
    // reusable, and closing the request then drops it. The server still
    // waits for body bytes, so no answer arrives within the millisecond.
    DWORD timeout = 1;
    if (InternetSetOptionA(m_handle.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout))
        HttpEndRequestA(m_handle.get(), nullptr, 0, 0);
    m_handle.reset();
}

DWORD HttpRequest::StatusCode() const {
    DWORD status = 0;
    DWORD size = sizeof status;
    Check(HttpQueryInfoA(m_handle.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr));
    return status;
}

DWORD HttpRequest::Read(void* buffer, DWORD size) {
    DWORD read = 0;
    Check(InternetReadFile(m_handle.get(), buffer, size, &read));
    return read;
}

DWORD HttpRequest::DataAvailable() {
    DWORD available = 0;
    Check(InternetQueryDataAvailable(m_handle.get(), &available, 0, 0));
    return available;
}

DWORD HttpRequest::ErrorDialog(HWND owner, DWORD error, DWORD flags) {
    return InternetErrorDlg(owner, m_handle.get(), error, flags, nullptr);
}

}  // namespace fw
