#include "tests/support/StandinServer.h"

#include "tests/support/TempDir.h"

#include "framework/Text.h"
#include "framework/WinHandle.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wincrypt.h>

#include <atomic>
#include <stdexcept>

namespace testing_support {
namespace {

constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kStopTimeoutMs = 10000;
constexpr DWORD kPollMs = 20;
// A server left behind by a crashed test ends by itself.
const char kIdleExitSeconds[] = "120";
// Long enough for GET /requests?wait_ms=60000.
constexpr DWORD kControlTimeoutMs = 70000;

std::string Quote(const std::string& arg) { return "\"" + arg + "\""; }

// Winsock for the control client, once per process.
void EnsureWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) throw std::runtime_error("Winsock did not start");
}

class Socket {
public:
    Socket() : m_socket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {}
    ~Socket() {
        if (m_socket != INVALID_SOCKET) closesocket(m_socket);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET get() const { return m_socket; }

private:
    SOCKET m_socket;
};

// One HTTP/1.0 exchange on loopback: the status and the body of the answer.
int HttpExchange(int port, const std::string& method, const std::string& path, const std::string& body,
                 std::string& answer) {
    EnsureWinsock();
    Socket s;
    if (s.get() == INVALID_SOCKET) throw std::runtime_error("no socket");
    const DWORD timeout = kControlTimeoutMs;
    setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("control port " + std::to_string(port) + " refused the connection");

    std::string request = method + " " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
    if (!body.empty()) {
        request += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    }
    request += "\r\n" + body;
    for (size_t sent = 0; sent < request.size();) {
        const int n = send(s.get(), request.data() + sent, static_cast<int>(request.size() - sent), 0);
        if (n <= 0) throw std::runtime_error("control request not sent");
        sent += static_cast<size_t>(n);
    }
    std::string response;
    char buffer[16384];
    for (int n; (n = recv(s.get(), buffer, sizeof buffer, 0)) > 0;) response.append(buffer, static_cast<size_t>(n));

    const size_t headEnd = response.find("\r\n\r\n");
    const size_t space = response.find(' ');
    if (headEnd == std::string::npos || space == std::string::npos || space > headEnd)
        throw std::runtime_error("control answer unreadable: " + response.substr(0, 200));
    answer = response.substr(headEnd + 4);
    return std::atoi(response.c_str() + space + 1);
}

std::string Join(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& part : parts) out += " " + Quote(part);
    return out;
}

}  // namespace

std::string EnvironmentVariable(const char* name) {
    char buffer[32768];
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

std::wstring UnixPathForWindows(const std::string& unixPath) {
    std::wstring path = L"Z:" + fw::Utf8ToWide(unixPath);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

StandinServer::StandinServer(const std::vector<std::string>& arguments) {
    const std::string source = EnvironmentVariable("ZINPOST_SOURCE_DIR");
    if (source.empty()) throw std::runtime_error("ZINPOST_SOURCE_DIR is not set");
    static std::atomic<int> counter{0};
    const std::string stem = "/tmp/zinpost-standin-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(GetTickCount64()) + "-" + std::to_string(++counter);
    m_portFile = stem + ".json";
    m_errorFile = stem + ".log";
    const std::wstring portFile = UnixPathForWindows(m_portFile);
    DeleteFileW(portFile.c_str());

    // The server's own output goes to a file that explains a failed start.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    fw::UniqueFile output(CreateFileW(UnixPathForWindows(m_errorFile).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    fw::UniqueFile input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                     OPEN_EXISTING, 0, nullptr));
    std::string commandLine = "/usr/bin/python3 " + Quote(source + "/tools/standin") + " --port-file " +
                              Quote(m_portFile) + " --idle-exit " + kIdleExitSeconds + Join(arguments);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (output && input) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input.get();
        startup.hStdOutput = output.get();
        startup.hStdError = output.get();
    }
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
        throw std::runtime_error("cannot start the stand-in server: " + fw::SystemErrorText(GetLastError()));
    // Wine starts a Linux program without giving handles for it: the process
    // handle stays null and the thread handle field holds no handle of ours
    // (closing that value would close whatever handle of this process has
    // it, the registry's cached root keys among them).
    if (info.hProcess) {
        CloseHandle(info.hThread);
        m_process.reset(info.hProcess);
    }

    // The port file appears (whole) once every door listens.
    const ULONGLONG deadline = GetTickCount64() + kStartTimeoutMs;
    std::string ports;
    while (ports.empty()) {
        ports = ReadFileBytes(portFile);
        if (!ports.empty()) break;
        const bool exited = m_process && WaitForSingleObject(m_process.get(), 0) == WAIT_OBJECT_0;
        if (exited || GetTickCount64() > deadline) {
            Stop();
            throw std::runtime_error("the stand-in server did not start: " +
                                     ReadFileBytes(UnixPathForWindows(m_errorFile)));
        }
        Sleep(kPollMs);
    }
    picojson::value document;
    const std::string error = picojson::parse(document, ports);
    if (!error.empty() || !document.is<picojson::object>()) {
        Stop();
        throw std::runtime_error("unreadable port file: " + ports);
    }
    for (const auto& [name, value] : document.get<picojson::object>()) {
        if (value.is<double>()) m_ports[name] = static_cast<int>(value.get<double>());
    }
    m_basePath = RecordString(document, "base_path");
}

StandinServer::~StandinServer() { Stop(); }

void StandinServer::Stop() {
    const std::wstring portFile = UnixPathForWindows(m_portFile);
    if (m_ports.count("control")) {
        try {
            Control("POST", "/shutdown");
        } catch (const std::exception&) {
            // Already gone: the port file tells.
        }
    }
    // The server removes its port file on the way out.
    const ULONGLONG deadline = GetTickCount64() + kStopTimeoutMs;
    while (FileExists(portFile) && GetTickCount64() < deadline) Sleep(kPollMs);
    if (m_process) WaitForSingleObject(m_process.get(), kStopTimeoutMs);
    m_process.reset();
    m_ports.clear();
    DeleteFileW(UnixPathForWindows(m_errorFile).c_str());
}

int StandinServer::Port(const std::string& door) const {
    const auto found = m_ports.find(door);
    if (found == m_ports.end()) throw std::runtime_error("no door " + door);
    return found->second;
}

std::string StandinServer::Url(const std::string& door) const {
    const std::string scheme = door.rfind("https", 0) == 0 ? "https" : "http";
    return scheme + "://127.0.0.1:" + std::to_string(Port(door)) + m_basePath;
}

picojson::value StandinServer::Control(const std::string& method, const std::string& path,
                                       const std::string& jsonBody) const {
    std::string answer;
    const int status = HttpExchange(Port("control"), method, path, jsonBody.empty() && method != "GET" ? "{}" : jsonBody,
                                    answer);
    if (status != 200) {
        throw std::runtime_error("control " + method + " " + path + " answered " + std::to_string(status) + ": " +
                                 answer);
    }
    picojson::value document;
    const std::string error = picojson::parse(document, answer);
    if (!error.empty()) throw std::runtime_error("control answer is not JSON: " + answer);
    return document;
}

void StandinServer::Reset() const { Control("POST", "/reset"); }

void StandinServer::SetAccounts(const std::map<std::string, std::string>& accounts) const {
    picojson::object list;
    for (const auto& [user, password] : accounts) list[user] = picojson::value(password);
    picojson::object body;
    body["accounts"] = picojson::value(list);
    body["replace"] = picojson::value(true);
    Control("POST", "/accounts", picojson::value(body).serialize());
}

void StandinServer::Script(const std::string& endpoint, const std::string& stepsJson) const {
    Control("POST", "/script", "{\"endpoint\": " + JsonText(endpoint) + ", \"steps\": " + stepsJson + "}");
}

void StandinServer::ClearScripts() const { Control("DELETE", "/script"); }

std::vector<picojson::value> StandinServer::Requests(const std::string& endpoint, int since) const {
    std::string path = "/requests?since=" + std::to_string(since);
    if (!endpoint.empty()) path += "&endpoint=" + endpoint;
    const picojson::value answer = Control("GET", path);
    const picojson::value& records = answer.get("requests");
    if (!records.is<picojson::array>()) throw std::runtime_error("no request list");
    return records.get<picojson::array>();
}

int StandinServer::LastSequence() const {
    const picojson::value answer = Control("GET", "/requests?since=1000000000");
    const picojson::value& last = answer.get("last_seq");
    return last.is<double>() ? static_cast<int>(last.get<double>()) : 0;
}

picojson::value StandinServer::Counters() const { return Control("GET", "/counters"); }

picojson::value StandinServer::Files() const { return Control("GET", "/files"); }

void StandinServer::SetListening(const std::string& door, bool listening) const {
    Control("POST", "/doors",
            "{\"door\": " + JsonText(door) + ", \"listening\": " + (listening ? "true" : "false") + "}");
}

bool StandinServer::WaitAtGate(const std::string& gate, int count, int timeoutMs) const {
    const picojson::value answer = Control("GET", "/gates?gate=" + gate + "&arrived=" + std::to_string(count) +
                                                      "&wait_ms=" + std::to_string(timeoutMs));
    const picojson::value& state = answer.get("gates").get(gate);
    return state.get("arrived").is<double>() && state.get("arrived").get<double>() >= count;
}

void StandinServer::Release(const std::string& gate) const {
    Control("POST", "/release", "{\"gate\": " + JsonText(gate) + "}");
}

int StandinServer::StartProxy(const std::string& user, const std::string& password) const {
    std::string body = "{}";
    if (!user.empty()) body = "{\"username\": " + JsonText(user) + ", \"password\": " + JsonText(password) + "}";
    const picojson::value answer = Control("POST", "/proxy", body);
    const picojson::value& port = answer.get("port");
    if (!port.is<double>()) throw std::runtime_error("proxy did not start: " + answer.serialize());
    return static_cast<int>(port.get<double>());
}

void StandinServer::StopProxy() const { Control("DELETE", "/proxy"); }

std::string StandinServer::ProxyLog() const {
    const std::string path = RecordString(Control("GET", "/proxy"), "log");
    return path.empty() ? std::string() : ReadFileBytes(UnixPathForWindows(path));
}

std::string JsonText(const std::string& utf8) { return picojson::value(utf8).serialize(); }

std::string RecordString(const picojson::value& record, const std::string& name) {
    if (!record.is<picojson::object>()) return std::string();
    const picojson::value& member = record.get(name);
    return member.is<std::string>() ? member.get<std::string>() : std::string();
}

bool RecordHasHeader(const picojson::value& record, const std::string& name) {
    if (!record.is<picojson::object>()) return false;
    const picojson::value& headers = record.get("headers");
    if (!headers.is<picojson::array>()) return false;
    for (const picojson::value& header : headers.get<picojson::array>()) {
        if (!header.is<picojson::array>() || header.get<picojson::array>().size() != 2) continue;
        const picojson::value& key = header.get(0);
        if (key.is<std::string>() && lstrcmpiA(key.get<std::string>().c_str(), name.c_str()) == 0) return true;
    }
    return false;
}

std::string RecordHeader(const picojson::value& record, const std::string& name) {
    if (!RecordHasHeader(record, name)) return std::string();
    for (const picojson::value& header : record.get("headers").get<picojson::array>()) {
        if (!header.is<picojson::array>() || header.get<picojson::array>().size() != 2) continue;
        const picojson::value& key = header.get(0);
        const picojson::value& value = header.get(1);
        if (key.is<std::string>() && value.is<std::string>() &&
            lstrcmpiA(key.get<std::string>().c_str(), name.c_str()) == 0)
            return value.get<std::string>();
    }
    return std::string();
}

std::string RecordBody(const picojson::value& record) { return DecodeBase64(RecordString(record, "body_b64")); }

std::map<std::string, std::string> RecordForm(const picojson::value& record) {
    std::map<std::string, std::string> form;
    if (!record.is<picojson::object>()) return form;
    const picojson::value& fields = record.get("form");
    if (!fields.is<picojson::array>()) return form;
    for (const picojson::value& field : fields.get<picojson::array>())
        form[RecordString(field, "key")] = RecordString(field, "value");
    return form;
}

std::string DecodeBase64(const std::string& base64) {
    if (base64.empty()) return std::string();
    DWORD size = 0;
    if (!CryptStringToBinaryA(base64.c_str(), static_cast<DWORD>(base64.size()), CRYPT_STRING_BASE64, nullptr, &size,
                              nullptr, nullptr))
        throw std::runtime_error("bad base64");
    std::string bytes(size, '\0');
    if (!CryptStringToBinaryA(base64.c_str(), static_cast<DWORD>(base64.size()), CRYPT_STRING_BASE64,
                              reinterpret_cast<BYTE*>(bytes.data()), &size, nullptr, nullptr))
        throw std::runtime_error("bad base64");
    bytes.resize(size);
    return bytes;
}

}  // namespace testing_support
