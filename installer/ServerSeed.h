#pragma once
// The server URL an administrator hands the installer (SERVERURL=...): it
// becomes the user's `Server` setting, but only for a user who has none yet,
// so reinstalling or upgrading never overrides what a user chose.
#include <windows.h>

#include <string>

namespace installer {

// The URL as the program keeps it: blanks around it dropped, then the server
// dialog's rule (an http or https URL naming a path below its host, "/"
// appended). Empty when the server dialog would refuse it, or when it holds
// control characters or characters the ANSI code page cannot hold.
std::wstring NormaliseServerUrl(const std::wstring& given);

enum class SeedOutcome {
    Written,        // the user had no server; `Server` now holds the URL
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

}  // namespace installer
