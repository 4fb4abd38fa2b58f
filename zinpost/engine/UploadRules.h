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

// The items of a drop: how many it holds, and the number alone when that is
// more than a run takes (each path read by index walks the list from its
// start: reading them all costs the square of the count).
UINT DroppedItemCount(HDROP drop);
// The paths of a drop, each whole, folders left out.
std::vector<std::wstring> DroppedDocuments(HDROP drop);

// A path split into drive, folder, base name and extension (with its dot),
// as the platform's path splitter splits it, at any length.
struct DocumentPath {
    std::wstring drive, directory, name, extension;
    std::wstring Full() const { return drive + directory + name + extension; }
};
// False when the base name or the extension is longer than 259 characters,
// which no file system allows.
bool SplitDocumentPath(const std::wstring& path, DocumentPath& parts);

// Whether the PDF a conversion handed back may be deleted after its upload:
// only when the conversion created it. A converter that writes report.pdf
// beside report.docx overwrites a report.pdf of the user's own (which must
// not be deleted as well), and one that hands back the document's own path
// must not have the document deleted.
class ConvertedPdfCheck {
public:
    // Before the conversion: notes whether the PDF beside the document exists.
    explicit ConvertedPdfCheck(const std::wstring& document);
    // After it: false for the document itself and for a PDF beside it that
    // was there before; true otherwise.
    bool CreatedByConversion(const std::wstring& pdf) const;

private:
    std::wstring m_document;
    std::wstring m_besidePdf;  // the document's folder and base name, with ".pdf"
    bool m_besideExisted = false;
};

// The result line of a file: its path, and on failure " (" reason ")".
std::wstring VerdictLine(const std::wstring& path, const std::string& error);
