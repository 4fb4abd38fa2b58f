#pragma once
// How the engine reaches the user when no caller can do it for it: a failure
// no caller hands on (the stored password that does not decrypt, or cannot be
// encrypted), and the proxy's question for credentials. Both go through the
// reporter the application installs; the engine itself never shows a window.
#include "framework/Internet.h"

#include <windows.h>

class IReporter {
public:
    virtual ~IReporter() = default;
    // The system's text for `error`, shown as a stop message.
    virtual void SystemError(DWORD error) = 0;
    // The proxy asked for credentials (407) on `request`: true when the user
    // gave them (the platform keeps them) and the request is to be sent again.
    virtual bool ProxyCredentials(fw::HttpRequest& request) = 0;
};

// Installs the process's reporter (null: failures are only logged, and a
// proxy's question is not asked, so its 407 stands).
void SetReporter(IReporter* reporter);
void ReportSystemError(DWORD error);
bool AskProxyCredentials(fw::HttpRequest& request);
