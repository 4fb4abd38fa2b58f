#pragma once
// How the engine tells the user of a failure that no caller can hand on
// (the stored password that does not decrypt, or cannot be encrypted):
// through the reporter the application installs. The engine itself never
// shows a window.
#include <windows.h>

class IReporter {
public:
    virtual ~IReporter() = default;
    // The system's text for `error`, shown as a stop message.
    virtual void SystemError(DWORD error) = 0;
};

// Installs the process's reporter (null: failures are only logged).
void SetReporter(IReporter* reporter);
void ReportSystemError(DWORD error);
