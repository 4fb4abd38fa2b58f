#pragma once
// The rules of an upload run that do not need the window: the checks before
// a run, the documents of a command-line start, the per-file path pieces and
// the verdict line of a file. The main window's drop handler and worker body
// apply them.
#include "zinpost/engine/AppSettings.h"

#include <windows.h>
#include <shellapi.h>
#include <string>
#include <vector>

// At most this many files start a run.
constexpr int kMaxFilesPerRun = 100;

// The setting checks before a run, in their order: the message id that
// refuses the run, or 0. Resolves the publication period into DeleteDays.
UINT CheckUploadSettings(CAppSettings& settings);

// The documents of a command-line start: every argument that is not an
// existing folder, without the first when it names this program (its file
// name and extension compared exactly).
std::vector<std::wstring> CommandLineDocuments(const std::wstring& commandLine, const std::wstring& programPath);

// The paths of a drop, folders left out.
std::vector<std::wstring> DroppedDocuments(HDROP drop);

// A path split into drive, folder, base name and extension (with its dot).
struct DocumentPath {
    std::wstring drive, directory, name, extension;
    std::wstring Full() const { return drive + directory + name + extension; }
};
// False when a piece does not fit the run's 259-character buffers.
bool SplitDocumentPath(const std::wstring& path, DocumentPath& parts);

// The result line of a file: its path, and on failure " (" reason ")".
std::wstring VerdictLine(const std::wstring& path, const std::string& error);
