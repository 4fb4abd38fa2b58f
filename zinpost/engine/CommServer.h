#pragma once
// The shared server session: every request of the process to the Tessaly
// server goes through one object that owns the logged-in Internet session
// and connection, serialises the requests behind one lock and counts its
// users. Work that overlaps (an upload run and a folder refresh) shares one
// login; the last user out logs out. CCommServer is the thin facade the rest
// of the program calls.
#include "zinpost/engine/ContentGroupReader.h"
#include "zinpost/engine/TessalyWebAPI.h"
#include "zinpost/engine/UploadTypes.h"

#include "framework/WinHandle.h"

#include <atomic>
#include <string>

// What the program asks of a Tessaly server. Failures come back as results
// with the text for the user in *message.
class CICommServer {
public:
    virtual ~CICommServer() = default;
    virtual int ServerLogin(std::string* message) = 0;
    virtual int ServerLogout(std::string* message) = 0;
    virtual int GetManageContentGroups(ContentGroupList* roots, ContentGroupList* children,
                                       std::string* message) = 0;
    virtual std::string UploadContentFile(const UploadParams& params, const UploadProgressContext& progress,
                                          std::string* message) = 0;
};

class CCommServerSingleton : public CICommServer {
public:
    // How long a request waits for the one before it.
    static constexpr DWORD kLockTimeout = 60000;

    // The process-wide session, created on first use and destroyed at exit.
    static CCommServerSingleton& GetInstance();

    // A session of its own (the process uses GetInstance; tests make their
    // own, with a shorter lock time-out when they test the time-out).
    explicit CCommServerSingleton(DWORD lockTimeout = kLockTimeout);
    // Waits for a running request, then frees the session and connection
    // without logging out.
    ~CCommServerSingleton() override;
    CCommServerSingleton(const CCommServerSingleton&) = delete;
    CCommServerSingleton& operator=(const CCommServerSingleton&) = delete;

    // Counts the caller as a user, takes the lock and logs in unless a
    // session is open. Nonzero: the caller holds the lock with a logged-in
    // session and must call LogoutAndUnlocked. 0: the lock is not held and
    // *message says why (102 when the lock was not obtained in time, else the
    // login's text).
    int LoginAndLock(std::string* message);
    // Ends the caller's use and releases the lock. The last user logs out
    // (the logout's result); otherwise the session stays open for the users
    // still counted, those waiting for the lock among them, and the result
    // is 1.
    int LogoutAndUnlocked(std::string* message);
    // Waits until a request that holds the lock has finished.
    void UnlockToAbort();
    // The process's last logout, when the main window goes away: only when
    // no request holds the session or waits for it, and without waiting (a
    // login may sit in the proxy credential dialog for as long as the user
    // likes). 1 when the server accepted a logout; 0 when there was nothing
    // to end, the logout failed (*message says why) or the session is in use.
    int LogoutIfIdle(std::string* message);

    // Login and logout of the session itself, without lock or user count.
    int ServerLogin(std::string* message) override;
    int ServerLogout(std::string* message) override;
    // The content-group listing: 1 when it was read and holds a top-level
    // group (CControlJSON_For_Tessaly::SetContentGroups).
    int GetManageContentGroups(ContentGroupList* roots, ContentGroupList* children,
                               std::string* message) override;
    // Uploads one file: "" when the server stored it, else the text for it.
    std::string UploadContentFile(const UploadParams& params, const UploadProgressContext& progress,
                                  std::string* message) override;

    // The callers between LoginAndLock and LogoutAndUnlocked, waiting ones
    // included.
    int UserCount() const { return m_userCount.load(); }
    // Whether a session is open, looked at under the lock (waited for like a
    // request); Busy when the lock was not obtained in time.
    enum class State { LoggedOut, LoggedIn, Busy };
    State CurrentState();

private:
    // Waits at most the lock time-out; true when this thread holds the lock.
    bool Lock(DWORD& wait);
    void Unlock();
    // UnlockToAbort; true when the lock was free within the time-out.
    bool WaitForIdle();
    // After a login or logout threw: nothing of the session stays, and the
    // text is the unknown error's. Returns 0, the call's failure.
    int DropSession(const char* call, std::string* message);

    fw::UniqueKernelHandle m_lock;  // a mutex: recursive, and waited for with a time-out
    // Changed by several threads at once: only through atomic operations.
    std::atomic<int> m_userCount{0};
    InternetSessionHolder m_session;     // empty when logged out
    HttpConnectionHolder m_connection;   // empty when logged out
    const DWORD m_lockTimeout;
};

// The facade the program calls; every operation goes to the process-wide
// session.
class CCommServer {
public:
    CCommServer();
    // Waits until a running request has finished.
    ~CCommServer();
    CCommServer(const CCommServer&) = delete;
    CCommServer& operator=(const CCommServer&) = delete;

    int GetManageContentGroups(std::string* message, ContentGroupList* roots, ContentGroupList* children);
    std::string UploadContentFile(const UploadParams& params, const UploadProgressContext& progress,
                                  std::string* message);
    // Logs the session out at once, without waiting and without touching
    // the user count, unless a request uses it (LogoutIfIdle): for the main
    // window going away.
    int Logout(std::string* message);
};
