#include "zinpost/engine/TessalyWebAPI.h"

#include "zinpost/engine/AppSettings.h"
#include "zinpost/engine/Json.h"
#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/engine/Reporter.h"
#include "zinpost/engine/ServerCertificate.h"
#include "zinpost/engine/ClientIdentity.h"
#include "zinpost/engine/FormEncoding.h"
#include "zinpost/engine/TextEncoding.h"
#include "zinpost/resource.h"

#include "framework/Text.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kAppName[] = "Tessaly Sendlet";
const char kFormHeader[] = "Content-type: application/x-www-form-urlencoded";
const char kMasked[] = "******";
const char kHttpStatusText[] =
    "正しいURLが入力されているか確認して下さい。管理サーバがダウンしている場合もあります。(StatusCode %d)";
const char kUnknownServerErrorText[] = "サーバーから不明なエラーコード(%d)が返されました。";
constexpr int kServerErrorBaseId = 10000;
// A proxy that keeps asking for credentials gets three chances.
constexpr int kProxyAuthPasses = 3;
// Answer bytes are taken as they come, at most this many at a time.
constexpr DWORD kReadStep = 16384;

// The answer waits; only tests shorten them.
DWORD g_answerWaitMs = CTessalyWebAPI::kAnswerWaitMs;
DWORD g_answerReadLimitMs = CTessalyWebAPI::kAnswerReadLimitMs;

// What the client tells of itself cannot change while the process runs:
// read once, kept in memory only.
const std::string& AppVersion() {
    static const std::string version = GetAppVersionText();
    return version;
}
const std::string& DeviceKey() {
    static const std::string key = MakeDeviceKey();
    return key;
}

// The login form. The traced form masks the password, the device key and the
// device name; the user name shows as sent, URL-encoded.
std::string LoginForm(const ConnectionSettings& settings, const std::string& deviceKey, bool masked) {
    return JoinForm({
        {"username", UrlEncode(settings.User)},
        {"password", masked ? kMasked : UrlEncode(settings.Password)},
        {"app_name", kAppName},
        {"app_ver", AppVersion()},
        {"device_key", masked ? kMasked : deviceKey},
        {"deviceName", masked ? kMasked : kDeviceName},
    });
}


}  // namespace

int CTessalyWebAPI::AuthUserLogin(InternetSessionHolder& session, std::string* message,
                                  HttpConnectionHolder& connection) {
    LOG_WRITE(1, "LOGIN: process start");
    if (!message) {
        LOG_WRITE(4, "ErrorMessage is null");
        return 0;
    }
    // The caller hands empty holders; anything left in them would be lost.
    connection.reset();
    session.reset();

    int result = 0;
    std::string detail;
    std::unique_ptr<fw::HttpRequest> request;
    Target target;
    const ConnectionSettings& settings = target.settings;
    const fw::UrlParts& url = target.url;
    if (!CurrentTarget(target)) {
        detail = LoadMessageById(IDS_SERVER_URL_INVALID);
    } else {
        LOG_WRITE(1, "url:%s", settings.Server.c_str());
        try {
            switch (settings.ProxySelect) {
            case kProxyNone:
                session = std::make_unique<fw::InternetSession>(nullptr, INTERNET_OPEN_TYPE_DIRECT);
                break;
            case kProxySystem:
                session = std::make_unique<fw::InternetSession>(nullptr, INTERNET_OPEN_TYPE_PRECONFIG);
                break;
            case kProxyManual:
                if (settings.ProxyAddress.empty() || settings.ProxyPort.empty()) {
                    detail = LoadMessageById(IDS_PROXY_NOT_SET);
                } else {
                    const std::string proxy =
                        fw::Format("%s:%s", settings.ProxyAddress.c_str(), settings.ProxyPort.c_str());
                    const std::string bypass = fw::Format("%s", settings.ProxyList.c_str());
                    LOG_WRITE(2, "INTERNET_OPEN_TYPE_PROXY,  %s ex[%s]", proxy.c_str(), bypass.c_str());
                    session = std::make_unique<fw::InternetSession>(nullptr, INTERNET_OPEN_TYPE_PROXY,
                                                                    proxy.c_str(), bypass.c_str());
                }
                break;
            default:  // no session; the failure has no detail
                break;
            }
            if (session) {
                connection = std::make_unique<fw::HttpConnection>(*session, url.host, url.port, nullptr, nullptr,
                                                                  url.IsSecure() ? INTERNET_FLAG_SECURE : 0);
                const std::string& deviceKey = DeviceKey();
                // Whatever a trace or the server's answer holds, these never
                // reach the log: the password as typed, as sent and as UTF-8.
                AddLogSecret(settings.Password);
                AddLogSecret(UrlEncode(settings.Password));
                AddLogSecret(fw::WideToUtf8(fw::AnsiToWide(settings.Password)));
                AddLogSecret(deviceKey);
                AddLogSecret(kDeviceName);
                const std::string form = LoginForm(settings, deviceKey, false);
                const auto sendLogin = [&] {
                    request.reset();
                    request = SendRequest(*connection, "POST", target, kLoginEndpoint, kFormHeader, form);
                    return request != nullptr;
                };
                if (sendLogin()) {
                    LOG_WRITE(2, "Login : SendData=%s", LoginForm(settings, deviceKey, true).c_str());
                    DWORD status = request->StatusCode();
                    LOG_WRITE(2, "Login : HTTP StatusCode[%d]", static_cast<int>(status));
                    if (status == HTTP_STATUS_PROXY_AUTH_REQ) {
                        for (int pass = 0; pass < kProxyAuthPasses; ++pass) {
                            // The user is asked for the proxy credentials (the
                            // platform keeps them for the next request).
                            if (!AskProxyCredentials(*request)) break;
                            if (!sendLogin()) break;
                            status = request->StatusCode();
                            LOG_WRITE(2, "Login retry : HTTP StatusCode=%d", static_cast<int>(status));
                            if (status == HTTP_STATUS_OK) break;
                            detail = HttpStatusMessage(status);
                        }
                    }
                    if (request) {
                        std::string body;
                        const Answer answer = ReadReply(*request, status, body);
                        if (status == HTTP_STATUS_OK) LOG_WRITE(2, "Login : ResponseData=%s", body.c_str());
                        result = answer.accepted ? 1 : 0;
                        if (!result) detail = answer.detail;
                    }
                }
                // Not the trusted or pinned server: the form never went out.
                if (!request) detail = LoadMessageById(IDS_SERVER_CERTIFICATE_CHANGED);
            }
        } catch (const fw::InternetException& e) {
            detail = fw::Format("%s : InternetException(%d)", e.Text().c_str(), static_cast<int>(e.Error()));
        }
    }

    request.reset();
    if (!result) {
        const std::string heading = LoadMessageById(IDS_LOGIN_FAILED);
        *message = fw::Format("%s\n%s", heading.c_str(), detail.c_str());
        LOG_WRITE(1, "LOGIN:ログイン失敗%s:%s", heading.c_str(), detail.c_str());
        connection.reset();
        session.reset();
    }
    LOG_WRITE(1, "LOGIN: process end Int[%d], Http[%d]", Identity(session.get()), Identity(connection.get()));
    return result;
}

int CTessalyWebAPI::AuthUserLogout(InternetSessionHolder& session, HttpConnectionHolder& connection,
                                   std::string* message) {
    LOG_WRITE(1, "ServerLogout start ----Int[%d], http[%d]", Identity(session.get()), Identity(connection.get()));
    if (const auto missing = CallerMissing(session && connection, message != nullptr)) {
        LOG_WRITE(missing->level, "%s", missing->trace);
        return 0;
    }

    int result = 0;
    std::string detail;
    Target target;
    try {
        // An unparsable URL sends nothing; the failure has no detail.
        if (CurrentTarget(target)) {
            LOG_WRITE(1, "LOGOUT : SendRequest");
            const auto request = SendRequest(*connection, "GET", target, kLogoutEndpoint);
            if (!request) {
                detail = LoadMessageById(IDS_SERVER_CERTIFICATE_CHANGED);
            } else {
                const DWORD status = request->StatusCode();
                LOG_WRITE(2, "LOGOUT : HTTP StatusCode[%d]", static_cast<int>(status));
                std::string body;
                const Answer answer = ReadReply(*request, status, body);
                if (status == HTTP_STATUS_OK) LOG_WRITE(2, "LOGOUT : ResponseData[%s]", body.c_str());
                if (answer.parsed) LOG_WRITE(0, "LOGOUT:strSuccess[%s]", answer.success.c_str());
                result = answer.accepted ? 1 : 0;
                if (!result) {
                    detail = answer.detail;
                    if (answer.parsed) LOG_WRITE(1, "LOGOUT:strErrno%s", answer.errnoText.c_str());
                }
            }
        }
    } catch (const fw::InternetException& e) {
        LOG_WRITE(4, "LOGOUT:CInternetException");
        detail = fw::Format("InetException:%d", static_cast<int>(e.Error()));
    } catch (const fw::InvalidArgException&) {
        LOG_WRITE(4, "LOGOUT:CInvalidArgException");
    }

    // The session ends here whatever the server said (the request is closed).
    connection.reset();
    session.reset();
    if (!result) {
        const std::string heading = LoadMessageById(IDS_LOGOUT_FAILED);
        *message = fw::Format("%s\n%s", heading.c_str(), detail.c_str());
        LOG_WRITE(2, "%s:%s ", heading.c_str(), detail.c_str());
    }
    LOG_WRITE(1, "LOGOUT:ServerLogout finish ----");
    return result;
}

std::string CTessalyWebAPI::ServerErrorMessage(int code) {
    std::string text;
    // Only the server's range of the string table: a negative or huge code
    // must not reach the program's other strings.
    if (code >= 0 && code <= 0xFFFF - kServerErrorBaseId &&
        TryLoadMessageById(static_cast<UINT>(kServerErrorBaseId + code), text)) {
        for (char& c : text)
            if (c == '\n') c = '/';
        return text;
    }
    return fw::Format(kUnknownServerErrorText, code);
}

std::string CTessalyWebAPI::HttpStatusMessage(DWORD status) {
    return fw::Format(kHttpStatusText, static_cast<int>(status));
}

CTessalyWebAPI::BodyRead CTessalyWebAPI::ReadResponseText(fw::HttpRequest& request, std::string& text,
                                                          const std::atomic<int>* cancel) {
    // Line by line, each without its line feed, joined with nothing between.
    // What has come is read at once (a read of more waits until it is all
    // there), so the limits are looked at whenever a piece arrives; a
    // silent server ends the wait for the next piece (kAnswerWaitMs).
    text.clear();
    const ULONGLONG deadline = GetTickCount64() + g_answerReadLimitMs;
    size_t received = 0;
    char buffer[kReadStep];
    for (;;) {
        if (cancel && *cancel == 1) {
            text.clear();
            return BodyRead::Cancelled;
        }
        const DWORD available = request.DataAvailable();
        if (available == 0) return BodyRead::Whole;
        for (DWORD left = available; left > 0;) {
            const DWORD read = request.Read(buffer, left < kReadStep ? left : kReadStep);
            if (read == 0) return BodyRead::Whole;
            received += read;
            if (received > kMaxAnswerBytes) {
                LOG_WRITE(4, "answer larger than %u bytes: not read further", static_cast<unsigned>(kMaxAnswerBytes));
                text.clear();
                text.shrink_to_fit();
                return BodyRead::TooLarge;
            }
            const char* end = buffer + read;
            for (const char* p = buffer; p < end;) {
                const char* feed = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
                text.append(p, feed ? feed : end);
                p = feed ? feed + 1 : end;
            }
            left -= read;
        }
        if (GetTickCount64() > deadline) {
            LOG_WRITE(4, "answer not whole within %lu ms", g_answerReadLimitMs);
            throw fw::InternetException(ERROR_INTERNET_TIMEOUT);
        }
    }
}

void CTessalyWebAPI::SetAnswerTimeLimitsForTesting(DWORD waitMs, DWORD readLimitMs) {
    g_answerWaitMs = waitMs;
    g_answerReadLimitMs = readLimitMs;
}

std::string CTessalyWebAPI::LastErrorText() { return fw::SystemErrorText(GetLastError()); }

bool CTessalyWebAPI::CurrentTarget(Target& target) {
    const CAppSettings* record = GetAppSettings();
    if (!record) return false;
    target.settings = record->Connection();
    return fw::ParseHttpUrl(target.settings.Server, target.url);
}

std::optional<CTessalyWebAPI::Missing> CTessalyWebAPI::CallerMissing(bool haveSession, bool haveTexts) {
    if (!haveSession) return Missing{1, "NOT Session Instance Error"};
    if (!haveTexts) return Missing{4, "ErrorMessage is null"};
    return std::nullopt;
}

DWORD CTessalyWebAPI::RequestFlagsFor(const fw::UrlParts& url) {
    return url.IsSecure() ? kSecureRequestFlags : kPlainRequestFlags;
}

std::unique_ptr<fw::HttpRequest> CTessalyWebAPI::OpenRequest(const fw::HttpConnection& connection, const char* verb,
                                                             const fw::UrlParts& url, const char* endpoint,
                                                             DWORD flags) {
    // No separator is inserted: the configured URL ends with "/".
    auto request = std::make_unique<fw::HttpRequest>(connection, verb, url.object + endpoint, flags, "HTTP/1.0", 1);
    // The platform may wait for an answer without end; the request takes
    // this bound with it when it is sent (set later, it would not count).
    request->SetOptionDword(INTERNET_OPTION_RECEIVE_TIMEOUT, g_answerWaitMs);
    // A compressing proxy or server answers the upload, which accepts gzip
    // and deflate, compressed: the platform decodes it, and everything read
    // from the answer (and bounded by kMaxAnswerBytes) is the decoded body.
    // The request itself is sent as before: the option adds no header.
    request->SetOptionDword(INTERNET_OPTION_HTTP_DECODING, TRUE);
    return request;
}

void CTessalyWebAPI::ApplyCertificateOptions(fw::HttpRequest& request) {
    const DWORD flags = request.QueryOptionDword(INTERNET_OPTION_SECURITY_FLAGS);
    request.SetOptionDword(INTERNET_OPTION_SECURITY_FLAGS, flags | kIgnoredCertificateProblems);
}

CTessalyWebAPI::Sent CTessalyWebAPI::SendToServer(fw::HttpRequest& request, const Target& target,
                                                  const std::function<void()>& send,
                                                  const std::function<void()>& sendHead) {
    if (!target.url.IsSecure()) {
        send();
        return Sent::Whole;
    }
    // The system's full check first: the request flags ignore wrong names
    // and dates, the security option for this send does not. A server it
    // does not trust fails before a byte of the request is sent.
    const DWORD flags = request.QueryOptionDword(INTERNET_OPTION_SECURITY_FLAGS);
    request.SetOptionDword(INTERNET_OPTION_SECURITY_FLAGS, flags & ~kCheckedCertificateProblems);
    bool trusted = true;
    try {
        send();
    } catch (const fw::InternetException& e) {
        if (!IsCertificateProblem(e.Error())) throw;
        LOG_WRITE(2, "server certificate not trusted by the system[%d]", static_cast<int>(e.Error()));
        trusted = false;
    }
    if (!trusted) {
        ApplyCertificateOptions(request);
        sendHead();
    }
    std::string sha256;
    const fw::UniqueCertChain chain = request.ServerCertificateChain();
    const std::string& pin = target.settings.ServerCertificate;
    ServerIdentity identity = JudgeServer(chain.get(), target.url.host, pin, sha256);
    // What the system's full check let through it trusts, whatever the
    // policy check here makes of a name it matched its own way.
    if (trusted && !sha256.empty()) identity = ServerIdentity::Trusted;
    LOG_WRITE(2, "server certificate[%s] identity[%d] pin[%s]", sha256.c_str(), static_cast<int>(identity),
              pin.c_str());
    if (identity == ServerIdentity::Changed) {
        // Also when no certificate can be read: a head sent without TLS (a
        // platform that opens no tunnel through a proxy for it) must not be
        // followed by a body either.
        request.Abandon();
        return Sent::Refused;
    }
    // The first contact pins what it met, a trusted certificate too: a later
    // impostor whose certificate the system does not trust finds a pin.
    if (pin.empty())
        if (CAppSettings* record = GetAppSettings()) record->PinServerCertificate(target.settings.Server, sha256);
    return trusted ? Sent::Whole : Sent::Head;
}

std::unique_ptr<fw::HttpRequest> CTessalyWebAPI::SendRequest(const fw::HttpConnection& connection, const char* verb,
                                                             const Target& target, const char* endpoint,
                                                             const std::string& headers, const std::string& body) {
    auto request = OpenRequest(connection, verb, target.url, endpoint, RequestFlagsFor(target.url));
    const DWORD length = static_cast<DWORD>(body.size());
    const Sent sent = SendToServer(
        *request, target, [&] { request->Send(headers, body.empty() ? nullptr : body.data(), length); },
        [&] {
            if (body.empty())
                request->Send(headers);
            else
                request->SendStart(length, 1, headers);
        });
    if (sent == Sent::Refused) return nullptr;
    if (sent == Sent::Head && !body.empty()) {
        request->Write(body.data(), length);
        request->End(0, 1);
    }
    return request;
}

CTessalyWebAPI::Answer CTessalyWebAPI::ReadReply(fw::HttpRequest& request, DWORD status, std::string& body) {
    if (status != HTTP_STATUS_OK) {
        Answer answer;
        answer.detail = HttpStatusMessage(status);
        return answer;
    }
    const BodyRead read = ReadResponseText(request, body);
    return ReadAnswer(body, read);
}

CTessalyWebAPI::Answer CTessalyWebAPI::ReadAnswer(const std::string& body, BodyRead read) {
    Answer answer;
    if (read == BodyRead::TooLarge) {
        answer.detail = LoadMessageById(IDS_RESPONSE_PARSE_FAILED);
        return answer;
    }
    if (body.empty()) {
        answer.detail = LoadMessageById(IDS_NO_RESPONSE_DATA);
        return answer;
    }
    picojson::value document;
    std::string error;
    if (!json::Parse(body, document, error)) {
        answer.detail = LoadMessageById(IDS_RESPONSE_PARSE_FAILED);
        return answer;
    }
    return ReadOutcome(document);
}

CTessalyWebAPI::Answer CTessalyWebAPI::ReadOutcome(const picojson::value& document) {
    Answer answer;
    answer.parsed = true;
    const picojson::value& outcome = json::Member(document, "result");
    answer.success = json::MemberText(outcome, "success");
    answer.accepted = answer.success.compare(0, 4, "true") == 0;
    if (!answer.accepted) {
        answer.errnoText = json::MemberText(outcome, "errno");
        // Leading decimal digits: 6, 6.000000 and "6" all read as 6.
        answer.detail = ServerErrorMessage(static_cast<int>(std::strtol(answer.errnoText.c_str(), nullptr, 10)));
    }
    return answer;
}
