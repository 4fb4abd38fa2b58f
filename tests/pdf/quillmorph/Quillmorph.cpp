// Test build of the converter library "Quillmorph.dll": test equipment only,
// never installed with the program. It answers as its settings file says
// (see README.md beside this file); the file is read again at every
// createQuillmorphInstance, so a test can change the answers between two
// loads of the library.
#include "zinpost/engine/IQuillmorph.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

const wchar_t kSettingsVariable[] = L"QUILLMORPH_TEST_SETTINGS";

using Settings = std::map<std::string, std::string>;

// "key=value" lines, ANSI; blank lines and lines starting with ';' or '#'
// are ignored. Missing variable or file: no settings.
Settings ReadSettings() {
    Settings settings;
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(kSettingsVariable, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return settings;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return settings;
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(file);

    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        settings[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return settings;
}

void CopyText(char* buffer, size_t size, const std::string& text) {
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

// A small, valid one-page PDF whose title names the source document.
std::string MakePdf(const std::string& title) {
    std::string escaped;
    for (char c : title) {
        if (c == '(' || c == ')' || c == '\\') escaped += '\\';
        escaped += c;
    }
    const std::string objects[] = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] >>",
        "<< /Title (" + escaped + ") /Producer (Quillmorph test converter) >>",
    };
    std::string pdf = "%PDF-1.4\n";
    std::string xref = "xref\n0 5\n0000000000 65535 f \n";
    for (int i = 0; i < 4; ++i) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", pdf.size());
        xref += entry;
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xrefOffset = pdf.size();
    pdf += xref + "trailer\n<< /Size 5 /Root 1 0 R /Info 4 0 R >>\nstartxref\n" + std::to_string(xrefOffset) +
           "\n%%EOF\n";
    return pdf;
}

class TestConverter final : public IQuillmorph {
public:
    explicit TestConverter(Settings settings) : m_settings(std::move(settings)) { Record("create"); }

    int Convert(const char* source, char* output) override {
        Record(std::string("Convert ") + source);
        if (m_settings.empty()) return Fail("no test settings", -1);
        // A slow conversion, for tests that close the program meanwhile.
        if (const long delay = Number("ConvertDelayMs", 0); delay > 0) Sleep(static_cast<DWORD>(delay));
        // A converter that fails in a way the program does not expect.
        if (Text("ConvertThrows", "") == "1") throw std::runtime_error("converter broke down");
        const int result = static_cast<int>(Number("ConvertResult", 1));
        if (result != 1) {
            Fail("conversion failed", result);
            return result;
        }

        const DWORD attributes = GetFileAttributesA(source);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return Fail("source file not found", ERROR_FILE_NOT_FOUND);
        // A broken converter that hands back the document itself as "the PDF".
        if (Text("ReturnSource", "") == "1") {
            CopyText(output, kQuillmorphPathSize, source);
            Record(std::string("Converted ") + source);
            return 1;
        }

        std::string name = source;
        const size_t slash = name.find_last_of("\\/");
        if (slash != std::string::npos) name.erase(0, slash + 1);
        const size_t dot = name.find_last_of('.');
        const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);

        std::string folder = Text("PdfFolder", "");
        if (folder.empty()) {
            char temp[MAX_PATH] = {};
            GetTempPathA(MAX_PATH, temp);
            folder = temp;
        }
        if (!folder.empty() && folder.back() != '\\') folder += '\\';
        const std::string pdfPath = folder + stem + ".pdf";
        if (pdfPath.size() >= kQuillmorphPathSize) return Fail("PDF path too long", ERROR_FILENAME_EXCED_RANGE);

        const std::string pdf = MakePdf(name);
        HANDLE file = CreateFileA(pdfPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        if (file == INVALID_HANDLE_VALUE) return Fail("PDF not written", static_cast<long>(GetLastError()));
        DWORD written = 0;
        const BOOL ok = WriteFile(file, pdf.data(), static_cast<DWORD>(pdf.size()), &written, nullptr);
        CloseHandle(file);
        if (!ok || written != pdf.size()) return Fail("PDF not written", static_cast<long>(GetLastError()));
        CopyText(output, kQuillmorphPathSize, pdfPath);
        Record("Converted " + pdfPath);
        return 1;
    }

    int GetLastErrorInfo(char* message, long* code) override {
        Record("GetLastErrorInfo");
        CopyText(message, kQuillmorphErrorSize, Text("ErrorText", m_errorText));
        *code = Number("ErrorCode", m_errorCode);
        return 1;
    }

    int Release() override {
        Record("Release");
        delete this;
        return 0;
    }

    int CheckWord(char* version) override { return Check("Word", version); }
    int CheckExcel(char* version) override { return Check("Excel", version); }
    int CheckPowerPoint(char* version) override { return Check("PowerPoint", version); }

private:
    ~TestConverter() = default;

    std::string Text(const std::string& key, const std::string& fallback) const {
        const auto found = m_settings.find(key);
        return found == m_settings.end() ? fallback : found->second;
    }
    long Number(const std::string& key, long fallback) const {
        const auto found = m_settings.find(key);
        return found == m_settings.end() ? fallback : std::strtol(found->second.c_str(), nullptr, 10);
    }

    int Check(const std::string& application, char* version) {
        Record("Check" + application);
        // A check held until the test lets it answer (at most a minute).
        if (const std::string hold = Text("CheckHoldEvent", ""); !hold.empty()) {
            if (HANDLE event = CreateEventA(nullptr, TRUE, FALSE, hold.c_str())) {
                WaitForSingleObject(event, 60000);
                CloseHandle(event);
            }
        }
        const std::string installed = Text(application, "");
        if (installed.empty()) return Fail("Microsoft " + application + " is not installed", 1);
        CopyText(version, kQuillmorphVersionSize, installed);
        return 1;
    }

    // Keeps the reason for GetLastErrorInfo; the failed call's result is 0.
    int Fail(const std::string& text, long code) {
        m_errorText = text;
        m_errorCode = code;
        return 0;
    }

    // One line per call into the file named by the setting "Record".
    void Record(const std::string& line) const {
        const std::string path = Text("Record", "");
        if (path.empty()) return;
        HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return;
        const std::string text = line + "\r\n";
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }

    Settings m_settings;
    std::string m_errorText = "no error";
    long m_errorCode = 0;
};

}  // namespace

// The build without the entry point offers its factory under another name,
// as a library of another version would: the program's lookup fails.
#ifdef QUILLMORPH_NO_EXPORT
#define QUILLMORPH_FACTORY createQuillmorphObject
#else
#define QUILLMORPH_FACTORY createQuillmorphInstance
#endif

extern "C" __declspec(dllexport) IQuillmorph* QUILLMORPH_FACTORY() {
    try {
        Settings settings = ReadSettings();
        if (settings["NoObject"] == "1") return nullptr;
        return new TestConverter(std::move(settings));
    } catch (...) {
        return nullptr;
    }
}
