#pragma once
// Where zinpost keeps its settings in the current user's registry, and the
// names of the values: written by the program, read by the Explorer
// extension (FolderName, ExeFile), seeded by the installer (Server). The one
// definition every deliverable, test and tool takes them from. The settings
// users have stored rely on every name and type here: a renamed value is a
// lost one (docs/interfaces.md lists them).
//
// Every name comes narrow (the program's profile works in the ANSI code
// page) and wide (the extension's and the installer's registry calls).
#define ZINPOST_SETTINGS_NAME(id, text) \
    inline constexpr char id[] = text;  \
    inline constexpr wchar_t id##W[] = L"" text;

namespace settings_names {

// HKEY_CURRENT_USER\Software\<kRegistryKey>\<kApplication>\<kSection>. The
// extension opened it as "Software\Korvanta\..." for years: registry key
// names are compared without regard to case, so both name this key.
ZINPOST_SETTINGS_NAME(kRegistryKey, "KORVANTA")
ZINPOST_SETTINGS_NAME(kApplication, "zinpost")
ZINPOST_SETTINGS_NAME(kSection, "Settings")
ZINPOST_SETTINGS_NAME(kApplicationKey, "Software\\KORVANTA\\zinpost")
ZINPOST_SETTINGS_NAME(kSettingsKey, "Software\\KORVANTA\\zinpost\\Settings")

ZINPOST_SETTINGS_NAME(kServer, "Server")
ZINPOST_SETTINGS_NAME(kServerCertificate, "ServerCertificate")
ZINPOST_SETTINGS_NAME(kUser, "User")
ZINPOST_SETTINGS_NAME(kPassword, "Password")
ZINPOST_SETTINGS_NAME(kFolderName, "FolderName")
ZINPOST_SETTINGS_NAME(kFolder, "Folder")
ZINPOST_SETTINGS_NAME(kFileEncrypt, "FileEncrypt")
ZINPOST_SETTINGS_NAME(kSelectFileDelete, "SelectFileDelete")
ZINPOST_SETTINGS_NAME(kFileDelete, "FileDelete")
ZINPOST_SETTINGS_NAME(kFileDeleteDate, "FileDeleteDate")
ZINPOST_SETTINGS_NAME(kDisplayResult, "DisplayResult")
ZINPOST_SETTINGS_NAME(kConvertPDF, "ConvertPDF")
ZINPOST_SETTINGS_NAME(kProxySelect, "ProxySelect")
ZINPOST_SETTINGS_NAME(kProxyAddress, "ProxyAddress")
ZINPOST_SETTINGS_NAME(kProxyPort, "ProxyPort")
ZINPOST_SETTINGS_NAME(kProxyList, "ProxyList")
ZINPOST_SETTINGS_NAME(kExeFile, "ExeFile")
ZINPOST_SETTINGS_NAME(kTopMostWindow, "TopMostWindow")

// The machine's defaults, below HKEY_LOCAL_MACHINE in its 64-bit view:
// `Server` there serves every user whose own `Server` is empty. Written by a
// per-machine installation's SERVERURL or by Group Policy
// (installer/policy); the program only reads it.
ZINPOST_SETTINGS_NAME(kMachineDefaultsKey, "SOFTWARE\\Policies\\KORVANTA\\zinpost")

}  // namespace settings_names

#undef ZINPOST_SETTINGS_NAME
