// SetupActions.dll: the package's custom actions, called by Windows
// Installer. Most run in the installing user's context (immediate actions):
// after the installation has finished (after InstallFinalize), and on
// removal before any file goes (RemoveSparsePackage, after InstallValidate).
// The machine's default server is written and removed in the system's
// context (deferred actions). None ever fails the installation: what they
// could not do goes to the installer's log.
#include "common/ServerUrl.h"
#include "common/SparsePackage.h"
#include "installer/ServerSeed.h"

#include "framework/WinHandle.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace {

struct MsiHandleTraits {
    using pointer = MSIHANDLE;
    static constexpr pointer invalid() noexcept { return 0; }
    static void close(pointer h) noexcept { MsiCloseHandle(h); }
};
using UniqueMsiHandle = fw::UniqueHandle<MsiHandleTraits>;

// One line in the installer's log. The text goes in as a field, never as the
// record's template, so brackets in it are not read as property names.
void Log(MSIHANDLE install, const std::wstring& text) {
    UniqueMsiHandle record(MsiCreateRecord(1));
    if (!record) return;
    MsiRecordSetStringW(record.get(), 0, L"[1]");
    MsiRecordSetStringW(record.get(), 1, text.c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record.get());
}

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
    DWORD length = 0;
    wchar_t empty[1] = L"";
    if (MsiGetPropertyW(install, name, empty, &length) != ERROR_MORE_DATA) return std::wstring();
    std::vector<wchar_t> value(length + 1, L'\0');
    length = static_cast<DWORD>(value.size());
    if (MsiGetPropertyW(install, name, value.data(), &length) != ERROR_SUCCESS) return std::wstring();
    return std::wstring(value.data(), length);
}

// The installer's log takes a line per action; nothing may escape into it.
// How long registering or removing the sparse package may take before the
// installation goes on without it.
constexpr DWORD kSparsePackageTimeoutMs = 120000;

std::wstring WithoutTrailingBackslash(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

// Runs a registration or removal command and logs what came of it.
void RunLogged(MSIHANDLE install, const std::wstring& action, const std::wstring& commandLine) {
    Log(install, action + L": running " + commandLine);
    bool ran = false;
    const DWORD code = sparse_package::RunHidden(commandLine, kSparsePackageTimeoutMs, ran);
    if (!ran)
        Log(install, action + L": the command did not complete (error " + std::to_wstring(code) + L")");
    else
        Log(install, action + L": the command ended with exit code " + std::to_wstring(code) +
                         (code == 0 ? L"" : L"; Windows 11's first context menu stays without the entry, "
                                            L"\"Show more options\" still has it"));
}

template <typename F>
UINT Guarded(MSIHANDLE install, const wchar_t* action, F&& body) {
    try {
        body();
    } catch (...) {
        Log(install, std::wstring(action) + L": stopped by an unexpected failure; the installation goes on");
    }
    return ERROR_SUCCESS;
}

}  // namespace

// Explorer reads context-menu handlers once; this makes it read them again,
// so the new entry (or its removal) shows without a new logon.
extern "C" UINT __stdcall NotifyAssociationsChanged(MSIHANDLE install) {
    return Guarded(install, L"NotifyAssociationsChanged", [&] {
        SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
        Log(install, L"NotifyAssociationsChanged: the shell was told that file associations changed");
    });
}

// SERVERURL=... becomes the installing user's `Server` setting when the user
// has none. A per-machine installation writes no user's settings (it often
// runs under a deployment account whose profile nobody works in): there
// SeedMachineServer makes it the machine's default.
extern "C" UINT __stdcall SeedServerUrl(MSIHANDLE install) {
    return Guarded(install, L"SeedServerUrl", [&] {
        const std::wstring given = Property(install, L"SERVERURL");
        if (given.empty()) return;
        if (Property(install, L"ALLUSERS") == L"1") {
            Log(install, L"SeedServerUrl: a per-machine installation leaves the users' settings alone; "
                         L"SERVERURL becomes the machine's default server");
            return;
        }
        fw::UniqueHKey user;
        const LONG opened = RegOpenCurrentUser(KEY_READ | KEY_WRITE, user.put());
        if (opened != ERROR_SUCCESS) {
            Log(install, L"SeedServerUrl: the user's registry could not be opened (error " +
                             std::to_wstring(opened) + L")");
            return;
        }
        const installer::SeedResult result = installer::SeedServerUrl(user.get(), given);
        switch (result.outcome) {
        case installer::SeedOutcome::Written:
            Log(install, L"SeedServerUrl: Server set to " + result.url);
            break;
        case installer::SeedOutcome::UserHasServer:
            Log(install, L"SeedServerUrl: the user already has Server " + result.url + L"; left alone");
            break;
        case installer::SeedOutcome::NotAUrl:
            Log(install, L"SeedServerUrl: SERVERURL is no http or https URL; nothing written: " + result.url);
            break;
        case installer::SeedOutcome::RegistryFailed:
            Log(install, L"SeedServerUrl: the settings could not be written (error " +
                             std::to_wstring(result.error) + L")");
            break;
        }
    });
}

// What SeedMachineServer writes: SERVERURL as the server dialog takes it;
// else, when this installation replaces an older one, the machine's current
// default, which the older one's removal may take away first (Windows
// keeps it then; Wine's installer does not tell that removal it is part of
// an upgrade). Nothing when neither is there.
extern "C" UINT __stdcall PrepareMachineServer(MSIHANDLE install) {
    return Guarded(install, L"PrepareMachineServer", [&] {
        const std::wstring given = Property(install, L"SERVERURL");
        std::wstring url = NormaliseGivenServerUrl(given);
        if (!given.empty() && url.empty())
            Log(install, L"PrepareMachineServer: SERVERURL is no http or https URL; nothing written: " + given);
        if (url.empty() && !Property(install, L"WIX_UPGRADE_DETECTED").empty()) {
            url = MachineDefaultServer();
            if (!url.empty()) Log(install, L"PrepareMachineServer: the upgrade keeps the machine's default server " + url);
        }
        if (!url.empty()) MsiSetPropertyW(install, L"SeedMachineServer", url.c_str());
    });
}

// A per-machine installation's server (its CustomActionData, from
// PrepareMachineServer) becomes the machine's default server. Deferred, in
// the system's context, since it writes below HKEY_LOCAL_MACHINE.
extern "C" UINT __stdcall SeedMachineServer(MSIHANDLE install) {
    return Guarded(install, L"SeedMachineServer", [&] {
        const installer::SeedResult result = installer::SeedMachineServer(Property(install, L"CustomActionData"));
        switch (result.outcome) {
        case installer::SeedOutcome::Written:
            Log(install, L"SeedMachineServer: the machine's default server set to " + result.url);
            break;
        case installer::SeedOutcome::NotAUrl:
            Log(install, L"SeedMachineServer: SERVERURL is no http or https URL; nothing written: " + result.url);
            break;
        default:
            Log(install, L"SeedMachineServer: the machine's default could not be written (error " +
                             std::to_wstring(result.error) + L")");
            break;
        }
    });
}

// The removal of a per-machine installation takes its default server away
// (an upgrade's removal of the older version keeps it).
extern "C" UINT __stdcall RemoveMachineServer(MSIHANDLE install) {
    return Guarded(install, L"RemoveMachineServer", [&] {
        const LONG error = installer::RemoveMachineServer();
        Log(install, error == ERROR_SUCCESS ? std::wstring(L"RemoveMachineServer: the machine's default server removed")
                                            : L"RemoveMachineServer: the machine's default could not be removed (error " +
                                                  std::to_wstring(error) + L")");
    });
}

// Registers the sparse package (TessalySendlet.msix, installed beside
// ZinExt.dll) for the installing user, with the installation folder as its
// external location, so that Windows 11's first context menu has the entry.
// Nothing happens before Windows 11, or when the user has it registered.
extern "C" UINT __stdcall RegisterSparsePackage(MSIHANDLE install) {
    return Guarded(install, L"RegisterSparsePackage", [&] {
        const std::wstring action = L"RegisterSparsePackage";
        const DWORD build = sparse_package::SystemBuild();
        if (!sparse_package::HasExplorerCommandMenu(build)) {
            Log(install, action + L": Windows build " + std::to_wstring(build) +
                             L": no Explorer command menu, nothing to register");
            return;
        }
        const std::wstring folder = WithoutTrailingBackslash(Property(install, L"INSTALLDIR"));
        const std::wstring family = Property(install, L"SPARSEFAMILYNAME");
        if (folder.empty() || family.empty()) {
            Log(install, action + L": INSTALLDIR or SPARSEFAMILYNAME is empty; nothing registered");
            return;
        }
        const bool registered = sparse_package::Registered(family);
        const std::wstring package = folder + L"\\" + sparse_package::kFileName;
        const std::wstring command = sparse_package::RegistrationCommand(build, registered, package, folder);
        if (command.empty()) {
            Log(install, action + L": Windows build " + std::to_wstring(build) + L": " + family +
                             L" is already registered for this user");
            return;
        }
        RunLogged(install, action, command);
        Log(install, action + L": " + family + L" is " +
                         (sparse_package::Registered(family) ? L"now registered" : L"not registered") +
                         L" for this user");
    });
}

// Removes the installing user's registration of the sparse package before
// its files go (removal, and an older version's removal during an upgrade).
extern "C" UINT __stdcall RemoveSparsePackage(MSIHANDLE install) {
    return Guarded(install, L"RemoveSparsePackage", [&] {
        const std::wstring action = L"RemoveSparsePackage";
        const DWORD build = sparse_package::SystemBuild();
        if (!sparse_package::HasExplorerCommandMenu(build)) {
            Log(install, action + L": Windows build " + std::to_wstring(build) +
                             L": no Explorer command menu, nothing to remove");
            return;
        }
        const std::wstring fullName = Property(install, L"SPARSEFULLNAME");
        const std::wstring family = Property(install, L"SPARSEFAMILYNAME");
        if (fullName.empty() || family.empty()) {
            Log(install, action + L": SPARSEFULLNAME or SPARSEFAMILYNAME is empty; nothing removed");
            return;
        }
        const bool registered = sparse_package::Registered(family);
        const std::wstring command = sparse_package::RemovalCommand(build, registered, fullName);
        if (command.empty()) {
            Log(install, action + L": Windows build " + std::to_wstring(build) + L": " + family +
                             L" is not registered for this user; nothing to remove");
            return;
        }
        RunLogged(install, action, command);
        Log(install, action + L": " + family + L" is " +
                         (sparse_package::Registered(family) ? L"still registered" : L"no longer registered") +
                         L" for this user");
    });
}
