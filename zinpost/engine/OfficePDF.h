#pragma once
// The gate in front of the external converter "Quillmorph.dll": can this
// machine convert Office documents to PDF at all (operating system, .NET
// Framework 3.5, installed Word, Excel and PowerPoint in supported versions),
// is a file of a given extension to be converted, and what is the PDF of a
// document. It also composes the Japanese texts that tell the user why
// conversion is not available.
//
// The library is loaded by name for every check and every conversion and
// freed afterwards; each library call is followed by a wait of 500 ms.
// Failures are results and texts, never message boxes. The full check runs
// on the Office check thread and the per-file calls on the upload thread: one
// lock keeps them from using the gate (and the library) at the same time.
#include "zinpost/engine/IQuillmorph.h"

#include "framework/WinHandle.h"

#include <mutex>
#include <string>
#include <vector>

// One Office application: what was found installed (application table) or
// what is required (requirement table).
struct OfficeAppInfo {
    std::string m_strName;         // "Microsoft Word"
    std::string m_strVersion;      // dotted decimal: installed, or the minimum
    int m_nFlag = 0;               // 1 = installed in a supported version
    std::string m_strVersionType;  // " 2010", " 2007", " 2013", " 2013以降", " 2007以前" or empty
    std::vector<std::wstring> m_extensions;  // with their leading dot: L".docx"
};

class COfficePDF {
public:
    // The process-wide gate, created on first use and destroyed at exit.
    static COfficePDF& GetInstance();

    // A gate of its own, unchecked (the process uses GetInstance).
    COfficePDF();
    ~COfficePDF();
    COfficePDF(const COfficePDF&) = delete;
    COfficePDF& operator=(const COfficePDF&) = delete;

    // The full check, run once: 1 = every application converts, 0 = some do,
    // -1 = none, or a prerequisite is missing. Later calls return the result
    // of the first.
    int checkEnableConverPDF();
    // 1 when a file with this extension (leading dot, exact case) is to be
    // converted, 0 when not, -1 when the machine lacks a prerequisite.
    int checkThisExtConvert(const std::wstring& extension);
    // Converts `source`; 1 with the PDF's path in `pdf`, -1 when the library
    // cannot be loaded, -2 when its entry point is missing, -3 when the
    // conversion failed (GetErrorText tells why).
    int convertPDF(const std::wstring& source, std::wstring& pdf);

    // The one-line decision of the full check.
    std::string GetResultText() const { return Locked(m_strResult); }
    // The reasons, one line each, each beginning with " ・".
    std::string GetDetailText() const { return Locked(m_strDetail); }
    // The technical text of the last library failure.
    std::string GetErrorText() const { return Locked(m_strError); }
    // What was found of Word (0), Excel (1) and PowerPoint (2).
    OfficeAppInfo GetApplication(size_t index) const {
        return index < kApplications ? Locked(m_apps[index]) : OfficeAppInfo();
    }

    // Supported systems: 5.1, 6.0 to 6.2, and 7 or later.
    static bool IsSupportedOsVersion(DWORD major, DWORD minor);
    // A signed decimal number in the 32-bit range with nothing after it.
    static bool CString2Long(const std::string& text, long& value);

private:
    static constexpr size_t kApplications = 3;

    template <typename T>
    T Locked(const T& member) const {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return member;
    }

    void initialize();
    // 1 when the system and .NET 3.5 are in place; else -1 with the reason
    // appended to the detail text.
    int checkPrerequisites();
    static bool checkOsVersion();
    static bool checkDotNetFramework();
    // The application's flag after asking the library (0 or 1).
    int checkInstallOffice(OfficeAppInfo& app, const OfficeAppInfo& requirement);
    int CheckSupportedOfficeVersion(OfficeAppInfo& app, const OfficeAppInfo& requirement);
    // The application whose extension list holds `extension`, or kApplications.
    size_t findApplication(const std::wstring& extension) const;

    // Loads the library and creates the converter: 1, or -1 (no library) /
    // -2 (no entry point) with the system's text in m_strError.
    int loadConverter();
    // After a failed library call: the library's own reason into m_strError.
    void takeLibraryError();
    // Releases the converter and frees the library, when held.
    void releaseConverter();
    class ConverterUse;

    mutable std::mutex m_mutex;  // held by every public operation
    IQuillmorph* m_cPDF = nullptr;
    fw::UniqueHModule m_hLibrary;
    int m_bChecked = 0;
    int m_nEnable = 0;
    std::string m_strResult;
    std::string m_strDetail;
    std::string m_strError;
    char m_szErrorText[kQuillmorphErrorSize] = {};
    long m_lErrorCode = 0;
    OfficeAppInfo m_apps[kApplications];
    OfficeAppInfo m_requirements[kApplications];
    std::string m_strDotNetName;
    int m_nDotNetFlag = 0;
};
