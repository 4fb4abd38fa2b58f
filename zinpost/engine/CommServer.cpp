#include "zinpost/engine/CommServer.h"

#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/resource.h"

namespace {

int ThreadId() { return static_cast<int>(GetCurrentThreadId()); }
int ProcessId() { return static_cast<int>(GetCurrentProcessId()); }

// Facades alive in the process; it only feeds a trace line.
std::atomic<long long> g_facadeCount{0};

}  // namespace

// --- The session ---

CCommServerSingleton& CCommServerSingleton::GetInstance() {
    static CCommServerSingleton instance;
    return instance;
}

CCommServerSingleton::CCommServerSingleton(DWORD lockTimeout)
    : m_lock(CreateMutexW(nullptr, FALSE, nullptr)), m_lockTimeout(lockTimeout) {
    if (!m_lock) LOG_WRITE(4, "CreateMutex Error[%d]", static_cast<int>(GetLastError()));
}

CCommServerSingleton::~CCommServerSingleton() {
    if (!WaitForIdle()) {
        // A request still holds the lock and uses the connection: freeing it
        // under that request could crash it, so the process's end takes both.
        (void)m_connection.release();
        (void)m_session.release();
        (void)m_lock.release();
        return;
    }
    // A connection goes before the session it was made on.
    m_connection.reset();
    m_session.reset();
    m_lock.reset();
}

bool CCommServerSingleton::Lock(DWORD& wait) {
    wait = WaitForSingleObject(m_lock.get(), m_lockTimeout);
    if (wait == WAIT_ABANDONED) {
        // Its holder ended without releasing it; the lock is ours now.
        LOG_WRITE(4, "session lock abandoned by its holder TID:%d", ThreadId());
    }
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

void CCommServerSingleton::Unlock() {
    if (!ReleaseMutex(m_lock.get())) LOG_WRITE(4, "ReleaseMutex Error[%d]", static_cast<int>(GetLastError()));
}

int CCommServerSingleton::LoginAndLock(std::string* message) {
    LOG_WRITE(1, "start LoginAndLock[%d]", ThreadId());
    // Counted before the wait: a holder that leaves meanwhile sees this
    // caller and keeps the session open for it.
    ++m_userCount;

    DWORD wait = 0;
    if (!Lock(wait)) {
        LOG_WRITE(4, "WebAPIの通信処理：取得NG TID:%d, PID:%d, ErrNo:%d", ThreadId(), ProcessId(),
                  static_cast<int>(GetLastError()));
        if (message) *message = LoadMessageById(IDS_LOCK_FAILED);
        --m_userCount;
        return 0;
    }
    LOG_WRITE(1, "WebAPIの通信処理中：Lock取得OK TID:%d, PID:%d,", ThreadId(), ProcessId());
    if (m_session && m_connection) return 1;  // shared with the users before

    std::string local;
    std::string* text = message ? message : &local;
    const int result = ServerLogin(text);
    LOG_WRITE(1, "ServerLogin  ---[ret:%d,%s][%d]", result, text->c_str(), ThreadId());
    if (result) return result;

    Unlock();
    --m_userCount;
    return 0;
}

int CCommServerSingleton::LogoutAndUnlocked(std::string* message) {
    const int remaining = --m_userCount;
    if (remaining > 0) {
        LOG_WRITE(1, "does not logout [%d]", remaining);
        Unlock();
        return 1;
    }
    // Without a text of its own the logout would refuse and leave the
    // session open with nobody counted.
    std::string local;
    std::string* text = message ? message : &local;
    const int result = ServerLogout(text);
    LOG_WRITE(1, "do logout [%d] err:%s", remaining, text->c_str());
    Unlock();
    return result;
}

bool CCommServerSingleton::WaitForIdle() {
    DWORD wait = 0;
    if (!Lock(wait)) {
        LOG_WRITE(4, "Locked failed to timeout error [%d]  [%d]", static_cast<int>(wait), ThreadId());
        return false;
    }
    LOG_WRITE(1, "セッションセマフォ、アンロック[%d]", ThreadId());
    Unlock();
    return true;
}

void CCommServerSingleton::UnlockToAbort() { WaitForIdle(); }

int CCommServerSingleton::LogoutIfIdle(std::string* message) {
    // Freeing the connection under a request (a folder refresh inside its
    // login, an upload) would crash it: that user logs out itself.
    const DWORD wait = m_userCount.load() > 0 ? WAIT_TIMEOUT : WaitForSingleObject(m_lock.get(), 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        LOG_WRITE(1, "session in use [%d]: no logout", m_userCount.load());
        return 0;
    }
    std::string local;
    const int result = ServerLogout(message ? message : &local);
    Unlock();
    return result;
}

CCommServerSingleton::State CCommServerSingleton::CurrentState() {
    DWORD wait = 0;
    if (!Lock(wait)) return State::Busy;
    const State state = m_session && m_connection ? State::LoggedIn : State::LoggedOut;
    Unlock();
    return state;
}

int CCommServerSingleton::ServerLogin(std::string* message) {
    try {
        return CTessalyWebAPI().AuthUserLogin(m_session, message, m_connection);
    } catch (...) {
        // Nothing may leave a half-made session behind.
        return DropSession("ServerLogin", message);
    }
}

int CCommServerSingleton::ServerLogout(std::string* message) {
    try {
        return CTessalyWebAPI().AuthUserLogout(m_session, m_connection, message);
    } catch (...) {
        return DropSession("ServerLogout", message);
    }
}

int CCommServerSingleton::DropSession(const char* call, std::string* message) {
    LOG_WRITE(4, "%s : unexpected exception", call);
    m_connection.reset();
    m_session.reset();
    if (message) *message = kUnknownErrorText;
    return 0;
}

int CCommServerSingleton::GetManageContentGroups(ContentGroupList* roots, ContentGroupList* children,
                                                 std::string* message) {
    std::string response;
    std::string local;
    std::string* text = message ? message : &local;
    if (!LoginAndLock(text)) return 0;

    int result = 0;
    try {
        result = CTessalyWebAPI().ManageContentGroups(m_connection.get(), m_session.get(), &response, text);
        LOG_WRITE(0, "ManageContentGroups  :[%d][%s]", result, response.c_str());
        if (result == 1) result = CControlJSON_For_Tessaly::SetContentGroups(roots, children, response, text);
    } catch (...) {
        // The lock and the user count must be given back whatever happened.
        LOG_WRITE(4, "ManageContentGroups : unexpected exception");
        result = 0;
        *text = kUnknownErrorText;
    }
    LogoutAndUnlocked(text);
    return result;
}

std::string CCommServerSingleton::UploadContentFile(const UploadParams& params,
                                                    const UploadProgressContext& progress, std::string* message) {
    std::string result;
    std::string local;
    std::string* text = message ? message : &local;
    // Every file has a login and a logout of its own (unless another request
    // holds the session open): the server counts and limits its sessions
    // per login, and a user who waits long between two files keeps none
    // open. Not one login for the whole run, though it would be quicker.
    if (LoginAndLock(text)) {
        try {
            result = CTessalyWebAPI().UploadContentFile(m_connection.get(), m_session.get(), params, progress, text);
        } catch (...) {
            LOG_WRITE(4, "UploadContentFile : unexpected exception");
            result = kUnknownErrorText;
        }
        LogoutAndUnlocked(text);
    } else {
        result = *text;
    }
    return result;
}

// --- The facade ---

CCommServer::CCommServer() {
    const long long count = ++g_facadeCount;
    // Spelled as the log's readers search for it (see Log.h).
    LOG_WRITE(1, "CCommServer Constractor[count:%d]", static_cast<int>(count));
}

CCommServer::~CCommServer() {
    LOG_WRITE(1, "CCommServer destractor");
    CCommServerSingleton::GetInstance().UnlockToAbort();
    --g_facadeCount;
}

int CCommServer::GetManageContentGroups(std::string* message, ContentGroupList* roots, ContentGroupList* children) {
    LOG_WRITE(1, "CCommServer :: GetManageContentGroups[%s]", message ? message->c_str() : "");
    return CCommServerSingleton::GetInstance().GetManageContentGroups(roots, children, message);
}

std::string CCommServer::UploadContentFile(const UploadParams& params, const UploadProgressContext& progress,
                                           std::string* message) {
    return CCommServerSingleton::GetInstance().UploadContentFile(params, progress, message);
}

int CCommServer::Logout(std::string* message) { return CCommServerSingleton::GetInstance().LogoutIfIdle(message); }
