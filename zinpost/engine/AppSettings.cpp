#include "zinpost/engine/AppSettings.h"

#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/engine/PasswordCipher.h"

#include "framework/Text.h"

#include <atomic>
#include <vector>

const char kSettingsSection[] = "Settings";
const char kTopMostWindowEntry[] = "TopMostWindow";

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
    const char* s = kSettingsSection;
    // The connection values are read first and stored in one step, so a
    // worker copying them meanwhile sees the old ones or the new ones.
    ConnectionSettings connection;
    connection.Server = p.GetString(s, "Server", "");
    connection.User = p.GetString(s, "User", "");
    connection.ProxyAddress = p.GetString(s, "ProxyAddress", "");
    connection.ProxyPort = p.GetString(s, "ProxyPort", "");
    connection.ProxyList = p.GetString(s, "ProxyList", "");
    connection.ProxySelect = p.GetInt(s, "ProxySelect", 1);
    FolderName = p.GetString(s, "FolderName", "");
    FileDeleteDate = p.GetString(s, "FileDeleteDate", "");

    Folder = p.GetInt(s, "Folder", 0);
    FileEncrypt = p.GetInt(s, "FileEncrypt", 1);
    FileDelete = p.GetInt(s, "FileDelete", -1);
    SelectFileDelete = p.GetInt(s, "SelectFileDelete", kSelectFileDeleteAbsent);
    DisplayResult = p.GetInt(s, "DisplayResult", 1);
    ConvertPDF = p.GetInt(s, "ConvertPDF", 0);
    // Settings from before the mode existed: the day count tells the mode.
    if (SelectFileDelete == kSelectFileDeleteAbsent) SelectFileDelete = FileDelete < 0 ? 0 : 2;

    std::string password;
    const bool passwordRead = LoadPassword(password);
    {
        const auto lock = LockConnectionSettings();
        Server = std::move(connection.Server);
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
    if (!m_pApp->GetBinary(kSettingsSection, "Password", cipher) || cipher.empty()) return false;
    if (!DecryptPassword(cipher, PassPhrase, plain)) {
        const DWORD error = GetLastError();
        LOG_WRITE(4, "Load: password not decrypted[%lu]", error);
        SetLastError(error);
        ShowLastErrorBox();
        return false;
    }
    return true;
}

ConnectionSettings CAppSettings::Connection() const {
    const auto lock = LockConnectionSettings();
    return ConnectionSettings{Server, User, Password, ProxySelect, ProxyAddress, ProxyPort, ProxyList};
}

int CAppSettings::Save() {
    const fw::Profile& p = *m_pApp;
    const char* s = kSettingsSection;
    // Lets the Explorer extension find the program where it runs now. As
    // UTF-16: a profile folder outside the ANSI code page (Zoë, a Korean
    // name) would be stored with substitutes, naming nothing or another file.
    const std::wstring exe = fw::ProgramPath();
    if (!exe.empty() && exe.size() < MAX_PATH) p.WriteStringW(s, "ExeFile", exe);

    p.WriteString(s, "Server", Server);
    p.WriteString(s, "User", User);
    p.WriteString(s, "FolderName", FolderName);
    p.WriteString(s, "ProxyAddress", ProxyAddress);
    p.WriteString(s, "ProxyPort", ProxyPort);
    p.WriteString(s, "ProxyList", ProxyList);
    p.WriteString(s, "FileDeleteDate", FileDeleteDate);
    p.WriteInt(s, "Folder", Folder);
    p.WriteInt(s, "FileEncrypt", FileEncrypt);
    p.WriteInt(s, "FileDelete", FileDelete);
    p.WriteInt(s, "SelectFileDelete", SelectFileDelete);
    p.WriteInt(s, "DisplayResult", DisplayResult);
    p.WriteInt(s, "ConvertPDF", ConvertPDF);
    p.WriteInt(s, "ProxySelect", ProxySelect);

    SavePassword();
    LOG_WRITE(1, "Save: server[%s] user[%s] folder[%d:%s]", Server.c_str(), User.c_str(), Folder, FolderName.c_str());
    return 1;
}

void CAppSettings::SavePassword() {
    if (Password.empty()) {
        m_pApp->WriteBinary(kSettingsSection, "Password", nullptr, 0);
        return;
    }
    std::vector<BYTE> cipher;
    if (!EncryptPassword(Password, PassPhrase, cipher)) {
        // The stored cipher text stays as it was.
        const DWORD error = GetLastError();
        LOG_WRITE(4, "Save: password not encrypted[%lu]", error);
        SetLastError(error);
        ShowLastErrorBox();
        return;
    }
    m_pApp->WriteBinary(kSettingsSection, "Password", cipher.data(), static_cast<DWORD>(cipher.size()));
}
