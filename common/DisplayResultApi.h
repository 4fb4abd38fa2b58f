#pragma once
// The one export of zinpostresult.dll, looked up by name by the program.
#include "common/UploadEntry.h"

#include <windows.h>
#include <string>

// owner:   the program's main window, owner of the modal result dialog
// target:  the folder title in the caller's ANSI code page; the callee gets
//          its own copy and releases it before returning
// results: the run's result list, read in place
// count:   how many entries to show from the head of the list
// Returns 1 once the user has closed the dialog.
using ExDisplayResultFunction = int(__stdcall*)(HWND owner, std::string target, UploadEntryList* results, int count);

inline constexpr char kDisplayResultLibrary[] = "zinpostresult.dll";
inline constexpr char kDisplayResultExport[] = "ExDisplayResult";
