#pragma once
// The program's settings record: one per process, read and written live by
// the dialogs and the upload engine, loaded from and saved to the current
// user's registry (section "Settings" of the application profile). A user
// without a server of their own gets the machine's default server, and
// keeps following it until they choose another.
#include "framework/Profile.h"

#include <mutex>
#include <string>

// The stored values of ProxySelect: how requests reach the server.
enum ProxyMode : int { kProxyNone = 0, kProxySystem = 1, kProxyManual = 2 };
// The stored values of SelectFileDelete: the publication period's kind.
enum PeriodMode : int { kPeriodUnlimited = 0, kPeriodUntilDate = 1, kPeriodDays = 2 };

// What a request needs to reach the server: copied in one piece for worker
// threads, which must never read the strings while a dialog changes them.
struct ConnectionSettings {
    std::string Server;
    // The SHA-256 (lower-case hex, of the DER bytes) of the certificate
    // pinned for Server at first contact; empty before.
    std::string ServerCertificate;
    std::string User;
    std::string Password;
    int ProxySelect = kProxySystem;
    std::string ProxyAddress;
    std::string ProxyPort;
    std::string ProxyList;
};

// Held by whoever changes or copies the connection values of a settings
// record (server, user, password, proxy): the user-interface thread while it
// writes them, a worker while it takes its copy.
std::unique_lock<std::mutex> LockConnectionSettings();

class CAppSettings {
public:
    explicit CAppSettings(fw::Profile* application);

    // Reads every value, Server from the machine's default when the user's
    // is empty; 1 (and IsConfigured) when server, user and password are all
    // present, else 0: a default server alone configures nothing.
    int Load();
    // Writes every value and ExeFile; always 1. Server stays empty while it
    // is the machine's default and the user had none.
    int Save();

    // First contact with `server`: the certificate `sha256` becomes its pin,
    // when the record still names that server and has no pin yet. Stored at
    // once when the registry names that server too (a run, or a check of the
    // unchanged URL); a server typed in the dialog gets it stored with the
    // dialog's OK, and loses it with its Cancel. False when nothing was pinned.
    bool PinServerCertificate(const std::string& server, const std::string& sha256);
    // A consistent copy of the connection values, taken under the lock.
    ConnectionSettings Connection() const;

    int IsConfigured = 0;
    fw::Profile* m_pApp;  // the application whose profile holds the values
    std::string Server;
    std::string ServerCertificate;  // the pin of Server (ConnectionSettings)
    std::string User;
    std::string Password;  // plain, in memory only
    int ServerChanged = 0;
    std::string FolderName;
    int Folder = 0;
    int FileEncrypt = 1;
    int FileDelete = -1;
    int SelectFileDelete = kPeriodUnlimited;  // a PeriodMode
    std::string FileDeleteDate = "1990-1-1";
    int DisplayResult = 1;
    int ConvertPDF = 0;
    int DeleteDays = -1;  // the period of the current run in days; never stored
    int ProxySelect = kProxySystem;  // a ProxyMode
    std::string ProxyAddress = "0.0.0.0";
    std::string ProxyPort;
    std::string ProxyList;
    // The key of the stored password's cipher: every password users have
    // stored was made with it, so it never changes.
    std::string PassPhrase = "r8k2mq4x9v3b";

private:
    // The server this user's registry names: their own, else the machine's
    // default as Load found it.
    std::string StoredServer() const;
    std::string MachineServer() const;  // m_machineServer, taken under the lock

    std::string m_machineServer;  // the machine's default at Load; under the connection lock

    // The stored password decrypted; false when there is none or it does
    // not decrypt (after the error box).
    bool LoadPassword(std::string& plain);
    void SavePassword();
};

// The process's settings record. The application object registers the record
// it owns at start-up (a test registers its own); the engine reads it at the
// moment of each call. Null until registered.
CAppSettings* GetAppSettings();
void SetAppSettings(CAppSettings* settings);
