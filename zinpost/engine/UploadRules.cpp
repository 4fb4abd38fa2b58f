#include "zinpost/engine/UploadRules.h"

#include "zinpost/engine/ControlCalendar.h"
#include "zinpost/engine/Log.h"
#include "zinpost/resource.h"

#include "framework/CommandLine.h"
#include "framework/FilePath.h"
#include "framework/Text.h"
#include "framework/WinHandle.h"

#include <shellapi.h>

namespace {

bool IsDirectory(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(fw::LongPathForm(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring FileNameOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/:");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// The same file, by its identity (volume and file index); by the full path
// when either cannot be opened.
bool SameFile(const std::wstring& a, const std::wstring& b) {
    const auto identity = [](const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
        fw::UniqueFile file(CreateFileW(fw::LongPathForm(path).c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        return file && GetFileInformationByHandle(file.get(), &info);
    };
    BY_HANDLE_FILE_INFORMATION first{}, second{};
    if (identity(a, first) && identity(b, second)) {
        return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
               first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
    }
    const auto full = [](const std::wstring& path) {
        wchar_t buffer[MAX_PATH * 2] = {};
        const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH * 2, buffer, nullptr);
        return n > 0 && n < MAX_PATH * 2 ? std::wstring(buffer, n) : path;
    };
    const std::wstring x = full(a), y = full(b);
    return CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(), static_cast<int>(y.size()), TRUE) ==
           CSTR_EQUAL;
}

}  // namespace

ConvertedPdfCheck::ConvertedPdfCheck(const std::wstring& document) : m_document(document) {
    DocumentPath parts;
    if (SplitDocumentPath(document, parts)) {
        m_besidePdf = parts.drive + parts.directory + parts.name + L".pdf";
        m_besideExisted = GetFileAttributesW(fw::LongPathForm(m_besidePdf).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
}

bool ConvertedPdfCheck::CreatedByConversion(const std::wstring& pdf) const {
    if (pdf.empty() || SameFile(pdf, m_document)) return false;
    if (!m_besidePdf.empty() && SameFile(pdf, m_besidePdf)) return !m_besideExisted;
    return true;
}

UINT CheckUploadSettings(CAppSettings& s) {
    if (s.Folder == 0 && s.FolderName.empty()) return IDS_NO_UPLOAD_TARGET;
    if (s.Server.empty() || s.User.empty() || s.Password.empty()) return IDS_CONNECTION_NOT_SET;
    switch (s.SelectFileDelete) {
    case kPeriodUnlimited:
        s.DeleteDays = -1;
        break;
    case kPeriodUntilDate: {
        // An invalid stored date is refused like a date out of range.
        const std::optional<long long> days = CControlCalendar().DaysFromToday(s.FileDeleteDate);
        LOG_WRITE(1, "DeleteDays[%lld] date[%s]", days ? *days : -9999LL, s.FileDeleteDate.c_str());
        if (!days || *days < 0 || *days > 365) return IDS_PERIOD_INVALID;
        s.DeleteDays = static_cast<int>(*days);
        break;
    }
    case kPeriodDays:
        s.DeleteDays = s.FileDelete;
        break;
    default:
        break;  // any other mode keeps the period as it was
    }
    return 0;
}

std::vector<std::wstring> CommandLineDocuments(const std::wstring& commandLine, const std::wstring& programPath) {
    std::vector<std::wstring> documents;
    const std::vector<std::wstring> args = fw::SplitCommandLine(commandLine);
    // Started the usual way the first argument is the program itself; from
    // the Explorer extension it is already a document. Told apart by the
    // file name and extension alone, compared exactly: a start by a relative
    // name typed with its extension skips it too (the window's own rule,
    // which compares whole paths, decides whether this is a start with files).
    // The two rules differ on purpose and are kept so: scripts that start the
    // program by name with documents rely on this one, and the extension
    // relies on neither (its line holds documents only, each a full path).
    const size_t first = !args.empty() && FileNameOf(args[0]) == FileNameOf(programPath) ? 1 : 0;
    for (size_t i = first; i < args.size(); ++i)
        if (!IsDirectory(args[i])) documents.push_back(args[i]);
    return documents;
}

UINT DroppedItemCount(HDROP drop) { return DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0); }

std::vector<std::wstring> DroppedDocuments(HDROP drop) {
    std::vector<std::wstring> documents;
    const UINT count = DroppedItemCount(drop);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        if (length == 0) continue;
        std::wstring path(length + 1, L'\0');
        path.resize(DragQueryFileW(drop, i, path.data(), length + 1));
        if (!IsDirectory(path)) documents.push_back(path);
    }
    return documents;
}

bool SplitDocumentPath(const std::wstring& path, DocumentPath& parts) {
    // As _wsplitpath splits, without its buffers of MAX_PATH characters: a
    // drive letter and colon, the folder up to the last slash, the name, and
    // the extension from the name's last dot.
    DocumentPath split;
    size_t rest = 0;
    if (path.size() >= 2 && path[1] == L':') {
        split.drive = path.substr(0, 2);
        rest = 2;
    }
    const size_t slash = path.find_last_of(L"\\/");
    const size_t nameStart = slash == std::wstring::npos || slash < rest ? rest : slash + 1;
    split.directory = path.substr(rest, nameStart - rest);
    const std::wstring file = path.substr(nameStart);
    const size_t dot = file.find_last_of(L'.');
    split.name = dot == std::wstring::npos ? file : file.substr(0, dot);
    if (dot != std::wstring::npos) split.extension = file.substr(dot);
    if (split.name.size() >= MAX_PATH || split.extension.size() >= MAX_PATH) return false;
    parts = std::move(split);
    return true;
}

std::wstring VerdictLine(const std::wstring& path, const std::string& error) {
    return error.empty() ? path : path + L" (" + fw::AnsiToWide(error) + L")";
}
