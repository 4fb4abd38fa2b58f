#pragma once
// The stand-in Tessaly server (tools/standin, Python) run from a test: the
// constructor starts it on free loopback ports and waits until every door
// listens, the destructor shuts it down. Between the two a test reaches its
// doors by URL and drives it through the control API: accounts, scripted
// answers, the requests it recorded byte for byte, counters, stored files,
// doors that refuse connections, and a real tinyproxy.
//
// The control API is spoken over plain Winsock, never through WinINet, so the
// code under test and its proxy settings stay out of the way. All texts here
// are UTF-8, as the server speaks them.
#include "framework/WinHandle.h"

#include <picojson.h>

#include <map>
#include <string>
#include <vector>

namespace testing_support {

class StandinServer {
public:
    // `arguments`: further command-line options of the server ("--sink",
    // "--base-path", "/other/", ...). Throws std::runtime_error (with the
    // server's own error output) when it does not come up.
    explicit StandinServer(const std::vector<std::string>& arguments = {});
    ~StandinServer();
    StandinServer(const StandinServer&) = delete;
    StandinServer& operator=(const StandinServer&) = delete;

    // The port of a door: "http", "https", "https_expired",
    // "https_wronghost" or "control".
    int Port(const std::string& door) const;
    // The endpoints' base URL on a door: "http://127.0.0.1:PORT/api/" (https
    // for the TLS doors).
    std::string Url(const std::string& door = "http") const;
    const std::string& BasePath() const { return m_basePath; }

    // One control request; the parsed JSON answer. Throws std::runtime_error
    // on a transport failure or a status other than 200.
    picojson::value Control(const std::string& method, const std::string& path,
                            const std::string& jsonBody = std::string()) const;

    // Back to the start state: accounts and groups as started, no scripts,
    // records or sessions, counters 0, every door listening, no proxy.
    void Reset() const;
    // Replaces the accounts (user name to password, UTF-8).
    void SetAccounts(const std::map<std::string, std::string>& accounts) const;
    // Queues answer steps for an endpoint ("authUserLogin", ..., or "*");
    // `stepsJson` is a JSON array of step objects, see the server's README.
    void Script(const std::string& endpoint, const std::string& stepsJson) const;
    void ClearScripts() const;
    // The finished request records with a sequence number above `since`, for
    // one endpoint or all ("").
    std::vector<picojson::value> Requests(const std::string& endpoint = std::string(), int since = 0) const;
    // The sequence number of the newest record so far (0 when none).
    int LastSequence() const;
    picojson::value Counters() const;
    picojson::value Files() const;
    // Closes ("all" for the four API doors) or reopens a door's listening socket.
    void SetListening(const std::string& door, bool listening) const;
    // Starts tinyproxy on a free loopback port (with Basic authentication
    // when a user is given) and returns the port; StopProxy ends it.
    int StartProxy(const std::string& user = std::string(), const std::string& password = std::string()) const;
    void StopProxy() const;
    // Waits up to `timeoutMs` (at most a minute) until `count` requests have
    // arrived at gate `gate` (a step's "hold"); whether they have.
    bool WaitAtGate(const std::string& gate, int count = 1, int timeoutMs = 30000) const;
    // Opens a gate ("*": every gate): the requests held there go on.
    void Release(const std::string& gate) const;
    // The running proxy's log (tinyproxy's own lines, one per request it
    // handled among them); "" when no proxy runs.
    std::string ProxyLog() const;

private:
    void Stop();

    std::string m_portFile;       // Unix path of the port file
    std::string m_errorFile;      // Unix path of the server's own output
    std::map<std::string, int> m_ports;
    std::string m_basePath;
    // The server's process; Wine gives no handle for a Linux program, and
    // then the port file tells when it has gone.
    fw::UniqueKernelHandle m_process;
};

// --- Reading what the server recorded ---

// picojson's text form of a string: for building control request bodies.
std::string JsonText(const std::string& utf8);
// A record's member as a string ("" when absent or not a string).
std::string RecordString(const picojson::value& record, const std::string& name);
// The value of the first header `name` (any case) the client sent; "" when none.
std::string RecordHeader(const picojson::value& record, const std::string& name);
bool RecordHasHeader(const picojson::value& record, const std::string& name);
// The request body byte for byte (from body_b64).
std::string RecordBody(const picojson::value& record);
// The login form as the server decoded it: key to value (UTF-8 text).
std::map<std::string, std::string> RecordForm(const picojson::value& record);
std::string DecodeBase64(const std::string& base64);

// The value of an environment variable; "" when unset.
std::string EnvironmentVariable(const char* name);
// A Unix path as Wine shows it to Windows programs ("Z:\tmp\x").
std::wstring UnixPathForWindows(const std::string& unixPath);

}  // namespace testing_support
