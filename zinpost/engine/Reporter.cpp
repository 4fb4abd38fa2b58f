#include "zinpost/engine/Reporter.h"

#include "zinpost/engine/Log.h"

#include <atomic>

namespace {
std::atomic<IReporter*> g_reporter{nullptr};
}

void SetReporter(IReporter* reporter) { g_reporter.store(reporter); }

void ReportSystemError(DWORD error) {
    LOG_WRITE(4, "reported error[%lu]", error);
    if (IReporter* reporter = g_reporter.load()) reporter->SystemError(error);
}

bool AskProxyCredentials(fw::HttpRequest& request) {
    IReporter* reporter = g_reporter.load();
    return reporter && reporter->ProxyCredentials(request);
}
