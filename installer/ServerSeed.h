#pragma once
// The server URL an administrator hands the installer (SERVERURL=...). Per
// user it becomes the user's `Server` setting, but only for a user who has
// none yet, so reinstalling or upgrading never overrides what a user chose.
// Per machine it becomes the machine's default server, which the program
// uses for every user whose own `Server` is empty.
#include <windows.h>

#include <string>

namespace installer {

enum class SeedOutcome {
    Written,        // `Server` now holds the URL
    UserHasServer,  // left alone
    NotAUrl,        // the given text is no http or https URL; nothing written
    RegistryFailed, // `error` tells why; nothing written
};

struct SeedResult {
    SeedOutcome outcome = SeedOutcome::RegistryFailed;
    std::wstring url;  // what was written, or what the user has
    LONG error = ERROR_SUCCESS;
};

// Seeds `Server` under kSettingsKey of `userHive` (HKEY_CURRENT_USER or the
// handle RegOpenCurrentUser gave). An empty value counts as none.
SeedResult SeedServerUrl(HKEY userHive, const std::wstring& given);

// Writes `given` as the machine's default server (kMachineDefaultsKey in
// the 64-bit view), replacing an earlier one; never UserHasServer.
SeedResult SeedMachineServer(const std::wstring& given);
// Removes the machine's default server, and the keys that then hold
// nothing; ERROR_SUCCESS also when there was none.
LONG RemoveMachineServer();

}  // namespace installer
