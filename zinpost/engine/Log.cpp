#include "zinpost/engine/Log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <share.h>
#include <vector>

namespace {

constexpr size_t kRecordBuffer = 1024;  // at most 1023 characters per formatted text
constexpr DWORD kMutexWait = 100;       // a log statement never blocks longer
const char kMutexName[] = "mutexLog";

// Log directory prefix: empty, so the file is log.csv in the current directory.
char g_logDirectory[MAX_PATH] = "";

// "int CTessalyWebAPI::AuthUserLogin(...)" -> "CTessalyWebAPI::AuthUserLogin"
std::string QualifiedName(const char* pretty) {
    std::string name = pretty;
    const size_t paren = name.find('(');
    if (paren != std::string::npos) name.resize(paren);
    int depth = 0;
    for (size_t i = name.size(); i-- > 0;) {
        const char c = name[i];
        if (c == '>') ++depth;
        else if (c == '<') --depth;
        else if (c == ' ' && depth == 0) return name.substr(i + 1);
    }
    return name;
}

// The build passes paths relative to the project root ("zinpost/engine/Log.cpp").
std::string RelativeSource(const char* file) {
    std::string path = file;
    for (char& c : path)
        if (c == '/') c = '\\';
    return ".\\" + path;
}

HANDLE LogMutex() {
    // Created once and kept until the process ends; an existing mutex of
    // another process is opened.
    static const HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutexName);
    return mutex;
}

const char kMask[] = "******";

std::mutex g_secretsMutex;
std::vector<std::string> g_secrets;  // longest first, so a longer one is masked whole

// `message` with every registered secret masked; only for lines that are written.
void MaskSecrets(char* message, size_t size) {
    std::lock_guard<std::mutex> lock(g_secretsMutex);
    if (g_secrets.empty()) return;
    std::string text = message;
    bool masked = false;
    for (const std::string& secret : g_secrets) {
        for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + sizeof kMask - 1)) {
            text.replace(at, secret.size(), kMask);
            masked = true;
        }
    }
    if (masked) snprintf(message, size, "%s", text.c_str());
}

}  // namespace

void AddLogSecret(const std::string& secret) {
    if (secret.empty()) return;
    std::lock_guard<std::mutex> lock(g_secretsMutex);
    if (std::find(g_secrets.begin(), g_secrets.end(), secret) != g_secrets.end()) return;
    g_secrets.push_back(secret);
    std::stable_sort(g_secrets.begin(), g_secrets.end(),
                     [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
}

LogCallSite MakeLogCallSite(const char* prettyFunction, const char* file, int line) {
    return LogCallSite{QualifiedName(prettyFunction), RelativeSource(file), line};
}

std::string FormatLogTimestamp(const SYSTEMTIME& t) {
    char text[64];
    snprintf(text, sizeof text, "%04d/%02d/%02d,%02d:%02d:%02d.%03d,", t.wYear, t.wMonth, t.wDay, t.wHour,
             t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

bool LogLevelWritten(int level) { return level >= LOG_THRESHOLD; }

void LogRecord(const LogCallSite& site, int level, const char* format, ...) {
    if (!LogLevelWritten(level)) return;
    char message[kRecordBuffer] = {};
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    MaskSecrets(message, sizeof message);

    char record[kRecordBuffer] = {};
    snprintf(record, sizeof record, "TID(%d), [%s:%d],%s, - (%s)", static_cast<int>(GetCurrentThreadId()),
             site.file.c_str(), site.line, message, site.function.c_str());
    WriteLog(level, record);
}

void WriteLog(int level, std::string message) {
    const HANDLE mutex = LogMutex();
    // Past 100 ms the line is written without the mutex rather than block.
    const DWORD wait = mutex ? WaitForSingleObject(mutex, kMutexWait) : WAIT_FAILED;
    const bool owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;

    if (level >= LOG_THRESHOLD) {
        char path[MAX_PATH] = {};
        snprintf(path, sizeof path, "%slog.csv", g_logDirectory);
        // Text mode and no sharing restriction: other processes append too.
        if (FILE* file = _fsopen(path, "a", _SH_DENYNO)) {
            SYSTEMTIME now;
            GetLocalTime(&now);
            fprintf(file, "%s<LOG_LEVEL:%d>, %s\n", FormatLogTimestamp(now).c_str(), level, message.c_str());
            fflush(file);
            fclose(file);
        }
    }
    if (owned) ReleaseMutex(mutex);
}
