#pragma once
// Windows 11's first context menu gets the program's entry from the sparse
// package installed beside the program. An installation for every user of
// a machine can register it only for the user who installed it, so each
// user's start registers it for that user when it is missing.
#include <windows.h>

#include <string>

// What the start has to do about the package for the current user: the
// command that registers it, or "" (no such menu before Windows 11, no
// package installed with the program, or registered already).
std::wstring PackageRegistrationAtStart(DWORD build, const std::wstring& programFolder);

// Starts that command when there is one, without waiting for it and
// without a window; cheap when there is nothing to do.
void RegisterPackageForUser();
