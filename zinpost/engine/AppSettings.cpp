#include "zinpost/engine/AppSettings.h"

#include "zinpost/engine/Log.h"
#include "zinpost/engine/PasswordCipher.h"
#include "zinpost/engine/Reporter.h"

#include "common/ServerUrl.h"
#include "common/SettingsNames.h"

#include "framework/Text.h"

#include <atomic>
#include <vector>

namespace names = settings_names;

namespace {
constexpr int kSelectFileDeleteAbsent = -100;
std::atomic<CAppSettings*> g_appSettings{nullptr};
}  // namespace

std::unique_lock<std::mutex> LockConnectionSettings() {
    static std::mutex mutex;
    return std::unique_lock<std::mutex>(mutex);
}

CAppSettings* GetAppSettings() { return g_appSettings.load(); }
void SetAppSettings(CAppSettings* settings) { g_appSettings.store(settings); }

CAppSettings::CAppSettings(fw::Profile* application) : m_pApp(application) {}

int CAppSettings::Load() {
    const fw::Profile& p = *m_pApp;
    const char* s = names::kSection;
    // The connection values are read first and stored in one step, so a
    // worker copying them meanwhile sees the old ones or the new ones.
    ConnectionSettings connection;
    connection.Server = p.GetString(s, names::kServer, "");
    connection.ServerCertificate = p.GetString(s, names::kServerCertificate, "");
    connection.User = p.GetString(s, names::kUser, "");
    connection.ProxyAddress = p.GetString(s, names::kProxyAddress, "");
    connection.ProxyPort = p.GetString(s, names::kProxyPort, "");
    connection.ProxyList = p.GetString(s, names::kProxyList, "");
    connection.ProxySelect = p.GetInt(s, names::kProxySelect, 1);
    FolderName = p.GetString(s, names::kFolderName, "");
    FileDeleteDate = p.GetString(s, names::kFileDeleteDate, "");

    Folder = p.GetInt(s, names::kFolder, 0);
    FileEncrypt = p.GetInt(s, names::kFileEncrypt, 1);
    FileDelete = p.GetInt(s, names::kFileDelete, -1);
    SelectFileDelete = p.GetInt(s, names::kSelectFileDelete, kSelectFileDeleteAbsent);
    DisplayResult = p.GetInt(s, names::kDisplayResult, 1);
    ConvertPDF = p.GetInt(s, names::kConvertPDF, 0);
    // Settings from before the mode existed: the day count tells the mode.
    if (SelectFileDelete == kSelectFileDeleteAbsent) SelectFileDelete = FileDelete < 0 ? kPeriodUnlimited : kPeriodDays;

    std::string password;
    const bool passwordRead = LoadPassword(password);
    const std::string machineServer = fw::WideToAnsi(MachineDefaultServer());
    if (connection.Server.empty() && !machineServer.empty()) {
        connection.Server = machineServer;
        LOG_WRITE(1, "Load: the machine's default server");
    }
    {
        const auto lock = LockConnectionSettings();
        m_machineServer = machineServer;
        Server = std::move(connection.Server);
        ServerCertificate = std::move(connection.ServerCertificate);
        User = std::move(connection.User);
        ProxyAddress = std::move(connection.ProxyAddress);
        ProxyPort = std::move(connection.ProxyPort);
        ProxyList = std::move(connection.ProxyList);
        ProxySelect = connection.ProxySelect;
        if (passwordRead) Password = std::move(password);
    }

    LOG_WRITE(1, "Load: server[%s] user[%s] folder[%d:%s]", Server.c_str(), User.c_str(), Folder, FolderName.c_str());
    if (Server.empty() || User.empty() || Password.empty()) return 0;
    IsConfigured = 1;
    return 1;
}

bool CAppSettings::LoadPassword(std::string& plain) {
    std::vector<BYTE> cipher;
    // Absent or empty: the in-memory password stays as it is.
    if (!m_pApp->GetBinary(names::kSection, names::kPassword, cipher) || cipher.empty()) return false;
    if (!DecryptPassword(cipher, PassPhrase, plain)) {
        const DWORD error = GetLastError();
        LOG_WRITE(4, "Load: password not decrypted[%lu]", error);
        ReportSystemError(error);
        return false;
    }
    return true;
}

ConnectionSettings CAppSettings::Connection() const {
    const auto lock = LockConnectionSettings();
    return ConnectionSettings{Server, ServerCertificate, User, Password, ProxySelect, ProxyAddress, ProxyPort, ProxyList};
}

bool CAppSettings::PinServerCertificate(const std::string& server, const std::string& sha256) {
    {
        const auto lock = LockConnectionSettings();
        if (Server != server || !ServerCertificate.empty()) return false;
        ServerCertificate = sha256;
    }
    if (StoredServer() == server) m_pApp->WriteString(names::kSection, names::kServerCertificate, sha256);
    LOG_WRITE(1, "server certificate pinned[%s] for [%s]", sha256.c_str(), server.c_str());
    return true;
}

std::string CAppSettings::MachineServer() const {
    const auto lock = LockConnectionSettings();
    return m_machineServer;
}

std::string CAppSettings::StoredServer() const {
    const std::string stored = m_pApp->GetString(names::kSection, names::kServer, "");
    return stored.empty() ? MachineServer() : stored;
}

int CAppSettings::Save() {
    const fw::Profile& p = *m_pApp;
    const char* s = names::kSection;
    // Lets the Explorer extension find the program where it runs now. As
    // UTF-16: a profile folder outside the ANSI code page (Zoë, a Korean
    // name) would be stored with substitutes, naming nothing or another file.
    const std::wstring exe = fw::ProgramPath();
    if (!exe.empty() && exe.size() < MAX_PATH) p.WriteStringW(s, names::kExeFile, exe);

    // Kept empty while the user follows the machine's default, so that a
    // default the administrator moves reaches them too.
    const bool followsDefault = p.GetString(s, names::kServer, "").empty() && Server == MachineServer();
    p.WriteString(s, names::kServer, followsDefault ? std::string() : Server);
    // A worker may pin the server meanwhile.
    p.WriteString(s, names::kServerCertificate, Connection().ServerCertificate);
    p.WriteString(s, names::kUser, User);
    p.WriteString(s, names::kFolderName, FolderName);
    p.WriteString(s, names::kProxyAddress, ProxyAddress);
    p.WriteString(s, names::kProxyPort, ProxyPort);
    p.WriteString(s, names::kProxyList, ProxyList);
    p.WriteString(s, names::kFileDeleteDate, FileDeleteDate);
    p.WriteInt(s, names::kFolder, Folder);
    p.WriteInt(s, names::kFileEncrypt, FileEncrypt);
    p.WriteInt(s, names::kFileDelete, FileDelete);
    p.WriteInt(s, names::kSelectFileDelete, SelectFileDelete);
    p.WriteInt(s, names::kDisplayResult, DisplayResult);
    p.WriteInt(s, names::kConvertPDF, ConvertPDF);
    p.WriteInt(s, names::kProxySelect, ProxySelect);

    SavePassword();
    LOG_WRITE(1, "Save: server[%s] user[%s] folder[%d:%s]", Server.c_str(), User.c_str(), Folder, FolderName.c_str());
    return 1;
}

void CAppSettings::SavePassword() {
    if (Password.empty()) {
        m_pApp->WriteBinary(names::kSection, names::kPassword, nullptr, 0);
        return;
    }
    std::vector<BYTE> cipher;
    if (!EncryptPassword(Password, PassPhrase, cipher)) {
        // The stored cipher text stays as it was.
        const DWORD error = GetLastError();
        LOG_WRITE(4, "Save: password not encrypted[%lu]", error);
        ReportSystemError(error);
        return;
    }
    m_pApp->WriteBinary(names::kSection, names::kPassword, cipher.data(), static_cast<DWORD>(cipher.size()));
}
