#pragma once
// The client of the Tessaly server's web API, and what its operations share:
// endpoint addresses below the configured server URL, the Internet session
// with its proxy modes, the request flags and certificate options, the JSON
// answer envelope, the HTTP status rule and the server's error messages.
//
// The class keeps no state: every operation takes a copy of the connection
// values of the process's settings record at the moment of the call. The
// logged-in session and connection belong to the caller (the shared server
// session), which hands its holders to login and logout and the connection
// to every request.
#include "zinpost/engine/AppSettings.h"
#include "zinpost/engine/UploadTypes.h"

#include "zinpost/engine/Json.h"

#include "framework/Internet.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

using InternetSessionHolder = std::unique_ptr<fw::InternetSession>;
using HttpConnectionHolder = std::unique_ptr<fw::HttpConnection>;

class CTessalyWebAPI {
public:
    // Request flag sets. Plain: INTERNET_FLAG_NO_CACHE_WRITE and
    // INTERNET_FLAG_KEEP_CONNECTION. Secure adds INTERNET_FLAG_SECURE, the
    // two certificate-ignore flags, INTERNET_FLAG_PRAGMA_NOCACHE and
    // INTERNET_FLAG_CACHE_ASYNC.
    static constexpr DWORD kPlainRequestFlags = 0x04400000;
    static constexpr DWORD kSecureRequestFlags = 0x04C03180;
    // OR-ed into a request's security flags for a server whose certificate
    // the system does not trust: ignore revocation, unknown CA, wrong usage,
    // wrong host name and dates. The certificate is then judged by its pin.
    static constexpr DWORD kIgnoredCertificateProblems = 0x3380;
    // The problems the request flags ignore (wrong host name, dates) that
    // the system's first check of a server's certificate does not.
    static constexpr DWORD kCheckedCertificateProblems = 0x3000;

    static constexpr char kLoginEndpoint[] = "authUserLogin";
    static constexpr char kLogoutEndpoint[] = "authUserLogout";

    // What the program takes from a server, at most. The largest real answer
    // is the group listing at about 150 bytes a group: 8 MiB hold some 50,000
    // groups, far beyond any real tree, and the small answers of login,
    // logout and upload a thousand times over. A larger body (a broken
    // server, a portal page streaming without end) is read no further and
    // counts as an answer that cannot be read.
    static constexpr size_t kMaxAnswerBytes = 8 * 1024 * 1024;
    // How long a request waits for the server's next bytes: its answer head
    // (after a whole upload, too) and every further piece of the body. A
    // server silent for two minutes is taken as gone.
    static constexpr DWORD kAnswerWaitMs = 120000;
    // How long reading one answer body may take in all, so that a body that
    // trickles without end is bounded too.
    static constexpr DWORD kAnswerReadLimitMs = 120000;

    // Logs in with the server, user and password of the settings. 1 when the
    // server accepted: both holders then hold the open session and
    // connection, whose cookies authorise the later requests. 0 otherwise:
    // both holders are empty and *message holds the failure text. Without a
    // message text nothing happens and the result is 0.
    int AuthUserLogin(InternetSessionHolder& session, std::string* message, HttpConnectionHolder& connection);

    // Logs out on the connection of the login. 1 when the server accepted, 0
    // otherwise with the failure text in *message. The session and connection
    // are destroyed and both holders emptied in either case; with an empty
    // holder or no message text nothing is sent and nothing is touched.
    int AuthUserLogout(InternetSessionHolder& session, HttpConnectionHolder& connection, std::string* message);

    // Fetches the content-group listing on the connection of the login. 1
    // with the answer body in *response when the server answered 200 with a
    // body; 0 otherwise, with the detail (if any) in *message.
    int ManageContentGroups(fw::HttpConnection* connection, fw::InternetSession* session, std::string* response,
                            std::string* message);

    // Sends one file into a content group as a multipart POST, in blocks,
    // with progress, cancel and retries. Returns "" when the server stored
    // the file, otherwise the text to show for it. Without connection,
    // session or message text nothing is sent and the text is not empty.
    std::string UploadContentFile(fw::HttpConnection* connection, fw::InternetSession* session, UploadParams params,
                                  UploadProgressContext progress, std::string* message);

    // --- What the operations share ---

    // The message for a server error code: string 10000 + code with every
    // line feed made "/", or the unknown-code text.
    static std::string ServerErrorMessage(int code);
    // "...(StatusCode %d)": every answer whose status is not 200.
    static std::string HttpStatusMessage(DWORD status);
    // How reading an answer body ended.
    enum class BodyRead {
        Whole,      // the text holds the body
        TooLarge,   // longer than kMaxAnswerBytes: the text is empty
        Cancelled,  // the cancel flag became 1 before the body was whole
    };
    // The whole answer body into `text`; the line feeds are dropped (a
    // carriage return before one stays). Empty for an empty body. Reads what
    // has come as it comes, watching `cancel` (when given) between pieces.
    // Throws fw::InternetException when the server stops sending
    // (kAnswerWaitMs) or the body is not whole within kAnswerReadLimitMs
    // (ERROR_INTERNET_TIMEOUT).
    static BodyRead ReadResponseText(fw::HttpRequest& request, std::string& text,
                                     const std::atomic<int>* cancel = nullptr);
    // The system's text for the calling thread's last error; empty when none.
    static std::string LastErrorText();

    // Where a request goes: the connection values of the process's settings
    // record (copied under their lock) and the server URL split.
    struct Target {
        ConnectionSettings settings;
        fw::UrlParts url;
    };
    // False when no record is registered or its URL cannot be parsed.
    static bool CurrentTarget(Target& target);
    // What a request on the login's session lacks before it may send
    // anything: the session or the connection ("NOT Session Instance Error",
    // level 1), or a text for its result ("ErrorMessage is null", level 4).
    // Traced by the caller, under its own name, as the log's readers know it.
    struct Missing {
        int level;
        const char* trace;
    };
    static std::optional<Missing> CallerMissing(bool haveSession, bool haveTexts);
    // The flag set for login, logout and upload: secure for https.
    static DWORD RequestFlagsFor(const fw::UrlParts& url);
    // Opens a request for `endpoint`: its path is the URL path followed
    // directly by the endpoint name, HTTP/1.0, context 1. Its answer is
    // waited for at most kAnswerWaitMs at a time, and read decoded when it
    // comes gzip- or deflate-encoded.
    static std::unique_ptr<fw::HttpRequest> OpenRequest(const fw::HttpConnection& connection, const char* verb,
                                                        const fw::UrlParts& url, const char* endpoint,
                                                        DWORD flags);
    // Reads the request's security flags, ORs kIgnoredCertificateProblems
    // in and writes them back: for a server whose certificate the system
    // does not trust, before the send that is then judged by its pin.
    static void ApplyCertificateOptions(fw::HttpRequest& request);
    // Sends `request` to the target's server only. Over https the system
    // first checks the certificate in full (root, dates, host name), and
    // `send` sends the whole request. When it does not trust the server,
    // `sendHead` sends the request once more with the problems ignored but
    // no body (HttpSendRequestEx), and the certificate must be the one pinned
    // for the server (the first contact pins it) before the body may follow.
    // Plain http: `send` alone.
    enum class Sent {
        Whole,    // `send` went out
        Head,     // `sendHead` went out: the caller writes the body
        Refused,  // not the server: the request is closed, nothing more goes out
    };
    static Sent SendToServer(fw::HttpRequest& request, const Target& target, const std::function<void()>& send,
                             const std::function<void()>& sendHead);
    // Opens the request for `endpoint` with the flags of the URL's scheme and
    // sends it with `headers` and `body` (none for a GET) to the target's
    // server (SendToServer): the body is written only once the server is
    // known. Null when the server is not the trusted or pinned one. Throws
    // fw::InternetException.
    static std::unique_ptr<fw::HttpRequest> SendRequest(const fw::HttpConnection& connection, const char* verb,
                                                        const Target& target, const char* endpoint,
                                                        const std::string& headers = std::string(),
                                                        const std::string& body = std::string());

    // The answer envelope {"result": {"success": ..., "errno": ...}} of
    // login, logout and upload.
    struct Answer {
        bool accepted = false;  // "success" reads as text starting with "true"
        bool parsed = false;    // the body was JSON
        std::string success;    // "success" as text (ANSI), when parsed
        std::string errnoText;  // "errno" as text (ANSI), when parsed and not accepted
        std::string detail;     // for the user when not accepted: message 107, 108 or the server's
    };
    // A body read whole is parsed; one that was too large reads as not JSON.
    static Answer ReadAnswer(const std::string& body, BodyRead read = BodyRead::Whole);
    // The reply to a sent login or logout: with a status other than 200 the
    // status's text, else its body (handed back for the caller's trace)
    // read as the envelope.
    static Answer ReadReply(fw::HttpRequest& request, DWORD status, std::string& body);
    // The envelope of a parsed answer, every endpoint's (the group listing's
    // too): "success" read as text, and when it does not start with "true",
    // "errno" read as text and its leading digits' server message. A
    // "result" that is missing or not an object reads as one without
    // members: a failure with the code 0.
    static Answer ReadOutcome(const picojson::value& document);

    // Tests shorten the answer waits; the program never calls this.
    static void SetAnswerTimeLimitsForTesting(DWORD waitMs, DWORD readLimitMs);

    // How a session or connection is named in traces: its handle value, 0
    // for none.
    template <class Object>
    static int Identity(const Object* object) {
        return object ? static_cast<int>(reinterpret_cast<INT_PTR>(object->Handle())) : 0;
    }
};
