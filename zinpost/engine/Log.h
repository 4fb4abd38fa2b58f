#pragma once
// The CSV log "log.csv": one statement form, LOG_WRITE, for all code of the
// program. Lines below LOG_THRESHOLD are never written.
//
// The line format and the trace texts are read by whoever supports users
// from their logs (they search for texts such as "CCommServer Constractor",
// "zinpost endend" or "Upload: Progres[", spelled as they have always been):
// change neither without telling them. docs/interfaces.md has the format.
#include <windows.h>
#include <string>

#ifndef LOG_THRESHOLD
#define LOG_THRESHOLD 99
#endif

// Where a log statement stands; one constant record per statement, made the
// first time the statement runs.
struct LogCallSite {
    std::string function;  // qualified name: "CTessalyWebAPI::AuthUserLogin"
    std::string file;      // relative source path: ".\zinpost\engine\Log.cpp"
    int line;
};
LogCallSite MakeLogCallSite(const char* prettyFunction, const char* file, int line);

// A text that must never reach the log file (a password, the device key):
// every written line has it masked, whatever the statement or the server
// put into it. Empty texts are ignored.
void AddLogSecret(const std::string& secret);

// Formats the message and the record text and hands the line to WriteLog.
void LogRecord(const LogCallSite& site, int level, const char* format, ...) __attribute__((format(gnu_printf, 3, 4)));

// Appends one line (date and time, level, message) to log.csv under the
// named mutex "mutexLog" when `level` reaches LOG_THRESHOLD.
void WriteLog(int level, std::string message);

// The date-and-time column: "YYYY/MM/DD,hh:mm:ss.mmm,".
std::string FormatLogTimestamp(const SYSTEMTIME& time);

// Whether lines of `level` reach the file in this build. Statements below
// the threshold cost a call and nothing more: no formatting, no mutex.
bool LogLevelWritten(int level);

// The call-site record is made on the first written line of the statement
// and never destroyed: the destructors of process-wide objects log at exit,
// after records made later than those objects would have gone.
#define LOG_WRITE_AS(function, level, ...)                                                 \
    do {                                                                                   \
        if (LogLevelWritten(level)) {                                                      \
            static const LogCallSite& logCallSite_ =                                       \
                *new LogCallSite(MakeLogCallSite((function), __FILE__, __LINE__));         \
            LogRecord(logCallSite_, (level), __VA_ARGS__);                                 \
        }                                                                                  \
    } while (0)
#define LOG_WRITE(level, ...) LOG_WRITE_AS(__PRETTY_FUNCTION__, level, __VA_ARGS__)
