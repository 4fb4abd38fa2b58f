#include "zinpost/engine/OfficePDF.h"

#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/resource.h"

#include "framework/Profile.h"
#include "framework/Text.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD kLibraryCallWait = 500;  // the pause after every library call
const char kDotNetKey[] = "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v3.5";
const char kDetailBullet[] = " ・";

enum Application { kWord, kExcel, kPowerPoint };

// A function of a loaded module, cast through the generic function type.
template <typename Function>
Function ProcAddress(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// `source` in the thread's ANSI code page, for the library's narrow
// interface. Fails (with the reason as an error code) when the narrow form
// would not fit the library's buffer or would not name the same file: a
// character without an exact equivalent would be replaced by another one.
bool ToLibraryPath(const std::wstring& source, std::string& narrow, DWORD& error) {
    narrow.clear();
    if (source.empty()) return true;
    BOOL replaced = FALSE;
    const int size = static_cast<int>(source.size());
    const int n = WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, source.data(), size, nullptr, 0,
                                      nullptr, &replaced);
    if (n <= 0 || replaced) {
        error = ERROR_NO_UNICODE_TRANSLATION;
        return false;
    }
    if (n >= kQuillmorphPathSize) {
        error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    narrow.resize(static_cast<size_t>(n));
    WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, source.data(), size, narrow.data(), n, nullptr,
                        nullptr);
    return true;
}

bool IsFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The folders the converter is looked for in, in this order: the program's,
// the system's, then the absolute folders of PATH. The converter is the one
// library the program takes from PATH; relative entries (".") would be the
// current folder, where Explorer starts the program among the user's files.
std::vector<std::wstring> ConverterFolders() {
    std::vector<std::wstring> folders;
    if (std::wstring program = fw::ProgramFolder(); !program.empty()) folders.push_back(std::move(program));
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length > 0 && length < MAX_PATH) folders.emplace_back(system, length);
    std::wstring path(32767, L'\0');
    path.resize(GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size())));
    for (size_t start = 0; start < path.size();) {
        size_t end = path.find(L';', start);
        if (end == std::wstring::npos) end = path.size();
        std::wstring folder = path.substr(start, end - start);
        start = end + 1;
        if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') folder = folder.substr(1, folder.size() - 2);
        const bool absolute = (folder.size() >= 3 && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/')) ||
                              folder.rfind(L"\\\\", 0) == 0;
        if (absolute) folders.push_back(folder);
    }
    return folders;
}

// The converter's full path in the first folder that holds it; empty when none does.
std::wstring FindConverterLibrary() {
    const std::wstring name = fw::AnsiToWide(kQuillmorphLibrary);
    for (std::wstring folder : ConverterFolders()) {
        if (folder.empty()) continue;
        if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
        if (IsFile(folder + name)) return folder + name;
    }
    return std::wstring();
}

// Loads the library at `path`; what it needs in turn comes from its own
// folder and the default ones. A system without the search flags loads it
// the classic way from its full path.
HMODULE LoadLibraryByPath(const std::wstring& path) {
    HMODULE library =
        LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (!library && GetLastError() == ERROR_INVALID_PARAMETER)
        library = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return library;
}

// A call into the library, which is not ours: whatever it throws stays here
// and reads as the call's failure. It is caught while the library is still
// loaded, as the exception's own code lies in it: freed first, the end of a
// catch further up would run code that is gone.
template <typename Call>
bool LibraryCall(const char* what, Call&& call) noexcept {
    try {
        call();
        return true;
    } catch (...) {
        LOG_WRITE(4, "%s: the converter threw", what);
        return false;
    }
}

// "14..0" -> 14, 0: empty pieces are skipped. False when a piece is not a number.
bool SplitVersion(const std::string& text, std::vector<long>& numbers) {
    numbers.clear();
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('.', start);
        if (end == std::string::npos) end = text.size();
        const std::string piece = text.substr(start, end - start);
        if (!piece.empty()) {
            long number = 0;
            if (!COfficePDF::CString2Long(piece, number)) return false;
            numbers.push_back(number);
        }
        start = end + 1;
    }
    return true;
}

}  // namespace

// One use of the library: whatever happens after the load, the converter is
// released and the library freed when the use ends.
class COfficePDF::ConverterUse {
public:
    explicit ConverterUse(COfficePDF& gate) : m_gate(gate) {}
    ~ConverterUse() { m_gate.releaseConverter(); }
    ConverterUse(const ConverterUse&) = delete;
    ConverterUse& operator=(const ConverterUse&) = delete;

private:
    COfficePDF& m_gate;
};

COfficePDF& COfficePDF::GetInstance() {
    static COfficePDF instance;
    return instance;
}

COfficePDF::COfficePDF() { initialize(); }

COfficePDF::~COfficePDF() {
    // Normally nothing is held between calls; only an exit during a library
    // call leaves a converter behind.
    releaseConverter();
}

void COfficePDF::initialize() {
    LOG_WRITE(1, "initialize");
    const char* names[kApplications] = {"Microsoft Word", "Microsoft Excel", "Microsoft PowerPoint"};
    const std::vector<std::wstring> extensions[kApplications] = {
        {L".doc", L".docx"}, {L".xls", L".xlsx"}, {L".ppt", L".pptx"}};
    for (size_t i = 0; i < kApplications; ++i) {
        m_apps[i] = OfficeAppInfo();
        m_apps[i].m_strName = names[i];
        m_requirements[i] = OfficeAppInfo();
        m_requirements[i].m_strName = names[i];
        m_requirements[i].m_strVersion = "14.0";
        m_requirements[i].m_extensions = extensions[i];
    }
    m_strDotNetName = "Microsoft .NET Framework 3.5";
    m_nDotNetFlag = 0;
    m_bChecked = 0;
    m_nEnable = 0;
}

bool COfficePDF::IsSupportedOsVersion(DWORD major, DWORD minor) {
    return (major == 5 && minor == 1) || (major == 6 && minor <= 2) || major >= 7;
}

bool COfficePDF::checkOsVersion() {
    // The system's own version: GetVersionEx reports 6.2 for every later
    // system to programs that do not declare them in a manifest.
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    const auto rtlGetVersion = ProcAddress<RtlGetVersionFunction>(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
    if (!rtlGetVersion || rtlGetVersion(&version) != 0) {
        LOG_WRITE(4, "RtlGetVersion failed");
        return false;
    }
    const bool supported = IsSupportedOsVersion(version.dwMajorVersion, version.dwMinorVersion);
    LOG_WRITE(1, "OS version %lu.%lu supported[%d]", version.dwMajorVersion, version.dwMinorVersion,
              supported ? 1 : 0);
    return supported;
}

bool COfficePDF::checkDotNetFramework() {
    fw::UniqueHKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDotNetKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        LOG_WRITE(1, ".NET 3.5 key absent");
        return false;
    }
    DWORD install = 0, type = 0, size = sizeof install;
    const LONG read = RegQueryValueExA(key.get(), "Install", nullptr, &type, reinterpret_cast<BYTE*>(&install), &size);
    const bool installed = read == ERROR_SUCCESS && type == REG_DWORD && size == sizeof install && install == 1;
    LOG_WRITE(1, ".NET 3.5 Install[%lu] read[%ld]", install, read);
    return installed;
}

int COfficePDF::checkPrerequisites() {
    if (!checkOsVersion()) {
        m_strDetail += kDetailBullet + LoadMessageById(IDS_OS_NOT_SUPPORTED) + "\r\n";
        return -1;
    }
    m_nDotNetFlag = checkDotNetFramework() ? 1 : 0;
    if (!m_nDotNetFlag) {
        m_strDetail += kDetailBullet + m_strDotNetName + LoadMessageById(IDS_NOT_INSTALLED) + "\r\n";
        return -1;
    }
    return 1;
}

int COfficePDF::loadConverter() {
    // A damaged file must fail the call, not stop the thread with a system box.
    DWORD previousMode = 0;
    const BOOL quiet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
    const std::wstring path = FindConverterLibrary();
    const HMODULE library = path.empty() ? nullptr : LoadLibraryByPath(path);
    const DWORD error = path.empty() ? static_cast<DWORD>(ERROR_MOD_NOT_FOUND) : GetLastError();
    if (quiet) SetThreadErrorMode(previousMode, nullptr);
    m_hLibrary.reset(library);
    if (!m_hLibrary) {
        m_strError = fw::SystemErrorLine(error);
        LOG_WRITE(4, "LoadLibrary %s failed[%lu] %s", kQuillmorphLibrary, error, m_strError.c_str());
        return -1;
    }
    m_cPDF = nullptr;
    const auto create = ProcAddress<CreateQuillmorphInstanceFunction>(m_hLibrary.get(), kCreateQuillmorphInstance);
    if (!create) {
        const DWORD lookupError = GetLastError();
        m_strError = fw::SystemErrorLine(lookupError);
        LOG_WRITE(4, "GetProcAddress %s failed[%lu] %s", kCreateQuillmorphInstance, lookupError, m_strError.c_str());
        return -2;
    }
    if (!LibraryCall("create", [&] { m_cPDF = create(); })) {
        m_cPDF = nullptr;
        m_strError = kUnknownErrorText;
        return -2;
    }
    if (!m_cPDF) {
        // The library answers every call through the object: without one
        // there is nothing to ask, which is as good as a missing entry point.
        m_strError = fw::SystemErrorLine(ERROR_INVALID_FUNCTION);
        LOG_WRITE(4, "%s returned no object", kCreateQuillmorphInstance);
        return -2;
    }
    return 1;
}

void COfficePDF::takeLibraryError() {
    std::memset(m_szErrorText, 0, sizeof m_szErrorText);
    m_lErrorCode = 0;
    if (!LibraryCall("GetLastErrorInfo", [&] { m_cPDF->GetLastErrorInfo(m_szErrorText, &m_lErrorCode); })) {
        m_strError = kUnknownErrorText;
        return;
    }
    m_szErrorText[sizeof m_szErrorText - 1] = '\0';
    m_strError = fw::Format("%s:(%ld)", m_szErrorText, m_lErrorCode);
    LOG_WRITE(4, "library error %s", m_strError.c_str());
}

void COfficePDF::releaseConverter() {
    if (m_cPDF) {
        LibraryCall("Release", [&] { m_cPDF->Release(); });
        m_cPDF = nullptr;
    }
    if (m_hLibrary) {
        if (!FreeLibrary(m_hLibrary.release())) LOG_WRITE(4, "FreeLibrary failed[%lu]", GetLastError());
    }
}

bool COfficePDF::CString2Long(const std::string& text, long& value) {
    // strtol would accept leading blanks: the text must be the number alone.
    if (text.empty()) return false;
    const char* begin = text.c_str();
    const char* digits = begin + ((text[0] == '+' || text[0] == '-') ? 1 : 0);
    if (*digits < '0' || *digits > '9') return false;
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(begin, &end, 10);
    if (errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX) return false;
    if (end != begin + text.size()) return false;
    value = static_cast<long>(parsed);
    return true;
}

int COfficePDF::CheckSupportedOfficeVersion(OfficeAppInfo& app, const OfficeAppInfo& requirement) {
    std::vector<long> installed, minimum;
    if (!SplitVersion(app.m_strVersion, installed)) {
        LOG_WRITE(4, "%s version not a number[%s]", app.m_strName.c_str(), app.m_strVersion.c_str());
        return 0;
    }
    if (!SplitVersion(requirement.m_strVersion, minimum)) return 0;

    // A piece the library did not write counts as 0 ("16" is 16.0).
    const auto piece = [](const std::vector<long>& numbers, size_t i) { return i < numbers.size() ? numbers[i] : 0L; };
    const long major = piece(installed, 0), minor = piece(installed, 1);
    if (major == 14 && minor == 0) app.m_strVersionType = " 2010";
    else if (major == 12 && minor == 0) app.m_strVersionType = " 2007";
    else if (major == 15 && minor == 0) app.m_strVersionType = " 2013";
    else if (major >= 15) app.m_strVersionType = " 2013以降";
    else if (major < 12) app.m_strVersionType = " 2007以前";

    for (size_t i = 0; i < minimum.size(); ++i) {
        const long have = piece(installed, i);
        if (have > minimum[i]) break;
        if (have < minimum[i]) {
            m_strDetail += kDetailBullet + app.m_strName + app.m_strVersionType +
                           LoadMessageById(IDS_VERSION_NOT_SUPPORTED) + "\r\n";
            LOG_WRITE(2, "%s %s not supported", app.m_strName.c_str(), app.m_strVersion.c_str());
            return 0;
        }
    }
    LOG_WRITE(1, "%s %s supported", app.m_strName.c_str(), app.m_strVersion.c_str());
    return 1;
}

int COfficePDF::checkInstallOffice(OfficeAppInfo& app, const OfficeAppInfo& requirement) {
    LOG_WRITE(1, "checkInstallOffice %s", app.m_strName.c_str());
    ConverterUse use(*this);
    if (loadConverter() != 1) {
        app.m_nFlag = 0;
        return 0;
    }

    char version[kQuillmorphVersionSize] = "0.0";
    int result = -10;
    const bool answered = LibraryCall("Check", [&] {
        if (app.m_strName == m_apps[kWord].m_strName) result = m_cPDF->CheckWord(version);
        else if (app.m_strName == m_apps[kExcel].m_strName) result = m_cPDF->CheckExcel(version);
        else if (app.m_strName == m_apps[kPowerPoint].m_strName) result = m_cPDF->CheckPowerPoint(version);
    });
    Sleep(kLibraryCallWait);
    version[sizeof version - 1] = '\0';

    if (!answered || result != 1) {
        if (answered)
            takeLibraryError();
        else
            m_strError = kUnknownErrorText;
        m_strDetail += kDetailBullet + app.m_strName + "はインストールされていません。\n" + "\r\n";
        LOG_WRITE(2, "%s not installed[%d]", app.m_strName.c_str(), result);
        app.m_nFlag = 0;
        return 0;
    }
    app.m_strVersion = version;
    app.m_nFlag = CheckSupportedOfficeVersion(app, requirement);
    return app.m_nFlag;
}

size_t COfficePDF::findApplication(const std::wstring& extension) const {
    for (size_t i = 0; i < kApplications; ++i)
        for (const std::wstring& known : m_requirements[i].m_extensions)
            if (known == extension) return i;
    return kApplications;
}

int COfficePDF::checkEnableConverPDF() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bChecked == 1) return m_nEnable;
    LOG_WRITE(1, "checkEnableConverPDF");
    m_strResult.clear();
    m_strDetail.clear();

    int r = checkPrerequisites();
    if (r == 1) {
        int installed = 0;
        for (size_t i = 0; i < kApplications; ++i)
            if (checkInstallOffice(m_apps[i], m_requirements[i]) != 0) ++installed;
        r = installed == 0 ? -1 : installed == static_cast<int>(kApplications) ? 1 : 0;
    }
    m_nEnable = r;
    m_bChecked = 1;

    if (r == 1) m_strResult = "PDFに変換してします。\n";
    else if (r == 0) m_strResult = "変換できないファイルは変換せずにアップロードします。\n結果";
    else m_strResult = "PDFに変換せずにアップロードします。\n";
    LOG_WRITE(2, "checkEnableConverPDF[%d] %s%s", r, m_strResult.c_str(), m_strDetail.c_str());
    return r;
}

int COfficePDF::checkThisExtConvert(const std::wstring& extension) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    const size_t app = findApplication(extension);
    if (m_bChecked == 1) return app < kApplications ? m_apps[app].m_nFlag : 0;

    m_strResult.clear();
    m_strDetail.clear();
    if (app == kApplications) return 0;
    if (m_apps[app].m_nFlag == 1) return 1;
    const int prerequisites = checkPrerequisites();
    if (prerequisites != 1) return prerequisites;
    const int flag = checkInstallOffice(m_apps[app], m_requirements[app]);
    LOG_WRITE(1, "checkThisExtConvert[%s] %d", fw::WideToAnsi(extension).c_str(), flag);
    return flag;
}

int COfficePDF::convertPDF(const std::wstring& source, std::wstring& pdf) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    LOG_WRITE(1, "convertPDF %s", fw::WideToAnsi(source).c_str());
    std::string narrow;
    DWORD pathError = 0;
    if (!ToLibraryPath(source, narrow, pathError)) {
        // The library would look for another file, or read past its buffer.
        m_strError = fw::SystemErrorLine(pathError);
        LOG_WRITE(4, "convertPDF: path not usable[%lu] %s", pathError, m_strError.c_str());
        return -3;
    }

    ConverterUse use(*this);
    const int loaded = loadConverter();
    if (loaded != 1) return loaded;

    char input[kQuillmorphPathSize] = {};
    std::memcpy(input, narrow.data(), narrow.size());
    char output[kQuillmorphPathSize] = {};
    int result = 0;
    if (!LibraryCall("Convert", [&] { result = m_cPDF->Convert(input, output); })) {
        m_strError = kUnknownErrorText;
        return -3;
    }
    Sleep(kLibraryCallWait);
    if (result != 1) {
        takeLibraryError();
        LOG_WRITE(4, "convertPDF failed[%d]", result);
        return -3;
    }
    output[sizeof output - 1] = '\0';
    pdf = fw::ToWide(output, CP_THREAD_ACP);
    LOG_WRITE(1, "convertPDF -> %s", output);
    return 1;
}
