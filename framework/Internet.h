#pragma once
// The WinINet object layer: an Internet session, HTTP connections made on it
// and the requests opened on a connection. Each object owns its handle; every
// failing WinINet call throws InternetException with the call's error code.
// A request sends its body either at once (Send) or streamed in pieces
// (SendStart, Write, End).
#include "Exceptions.h"
#include "WinHandle.h"

#include <string>

namespace fw {

// An absolute http or https URL split by the platform's parser.
struct UrlParts {
    INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
    std::string host;
    INTERNET_PORT port = 0;  // as written in the URL, else the scheme's default
    std::string object;      // path and extra information (query), as written
    bool IsSecure() const { return scheme == INTERNET_SCHEME_HTTPS; }
};

// Canonicalises the URL in browser mode and splits it. False when it cannot
// be parsed, is not http or https, or names no host.
bool ParseHttpUrl(const std::string& url, UrlParts& parts);

class InternetSession {
public:
    // InternetOpenA. A null agent announces the program's own name (the base
    // name of its file). `proxy` and `proxyBypass` count for
    // INTERNET_OPEN_TYPE_PROXY only.
    InternetSession(const char* agent, DWORD accessType, const char* proxy = nullptr,
                    const char* proxyBypass = nullptr, DWORD flags = 0);
    HINTERNET Handle() const { return m_handle.get(); }

private:
    UniqueHInternet m_handle;
};

class HttpConnection {
public:
    // InternetConnectA for HTTP. WinINet connects only when a request is sent.
    HttpConnection(const InternetSession& session, const std::string& server, INTERNET_PORT port,
                   const char* user = nullptr, const char* password = nullptr, DWORD flags = 0,
                   DWORD_PTR context = 1);
    HINTERNET Handle() const { return m_handle.get(); }

private:
    UniqueHInternet m_handle;
};

class HttpRequest {
public:
    // HttpOpenRequestA without referrer and accept types.
    HttpRequest(const HttpConnection& connection, const char* verb, const std::string& object, DWORD flags,
                const char* version = "HTTP/1.0", DWORD_PTR context = 1);
    HINTERNET Handle() const { return m_handle.get(); }

    DWORD QueryOptionDword(DWORD option) const;
    void SetOptionDword(DWORD option, DWORD value);

    // HttpSendRequestA with the whole body at once. `headers` is handed over
    // as it is (several lines separated by CR LF, or one line without).
    void Send(const std::string& headers = std::string(), const void* body = nullptr, DWORD bodyLength = 0);

    // HttpAddRequestHeadersA: `headers` as it is (one line or several, each
    // may end with CR LF), with HTTP_ADDREQ_FLAG_* `flags`.
    void AddHeaders(const std::string& headers, DWORD flags);

    // A streamed body: SendStart sends the head announcing `totalLength`
    // body bytes (HttpSendRequestExA with HSR_INITIATE), Write hands over the
    // next bytes (InternetWriteFile until all are taken), End finishes the
    // request and reads the answer's head (HttpEndRequestA). A request may be
    // started again after a failure.
    // `headers` go with the head, as Send's do.
    void SendStart(DWORD totalLength, DWORD_PTR context = 1, const std::string& headers = std::string());
    void Write(const void* data, DWORD size);
    void End(DWORD flags = 0, DWORD_PTR context = 1);
    // Closes a request whose body was not sent whole, so that its connection
    // is dropped and never used for another request.
    void Abandon() noexcept;

    // The server's certificate chain once a send over TLS has succeeded
    // (INTERNET_OPTION_SERVER_CERT_CHAIN_CONTEXT); empty before that, and
    // without TLS.
    UniqueCertChain ServerCertificateChain() const;

    // The answer's HTTP status code.
    DWORD StatusCode() const;
    // Reads at most `size` bytes of the answer body; 0 at its end. Waits
    // until `size` bytes have come or the body has ended.
    DWORD Read(void* buffer, DWORD size);
    // Waits until more of the answer body has come (or the body has ended)
    // and tells how many bytes can be read at once; 0 at its end.
    DWORD DataAvailable();

    // InternetErrorDlg for this request (for example the credential dialog
    // after a 407); returns what the dialog returned. Not a failure itself.
    DWORD ErrorDialog(HWND owner, DWORD error, DWORD flags);

private:
    UniqueHInternet m_handle;
};

}  // namespace fw
