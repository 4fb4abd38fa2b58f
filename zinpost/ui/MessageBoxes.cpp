#include "zinpost/ui/MessageBoxes.h"

#include "zinpost/engine/Messages.h"
#include "zinpost/engine/Reporter.h"

#include "framework/MessageBox.h"
#include "framework/Text.h"

int ShowMessageById(UINT id) { return fw::ShowMessageBoxAnsi(nullptr, LoadMessageById(id), MB_OK | MB_ICONSTOP); }

void ShowLastErrorBox(HWND owner) {
    const DWORD error = GetLastError();
    std::wstring text = fw::SystemErrorTextW(error);
    // Some codes (CryptoAPI's among them on some systems) have no text: an
    // empty box would tell the user nothing.
    if (text.empty()) text = fw::AnsiToWide(kUnknownErrorText);
    fw::ShowMessageBox(owner, text, MB_OK | MB_ICONSTOP);
}

namespace {
class MessageBoxReporter final : public IReporter {
public:
    void SystemError(DWORD error) override {
        SetLastError(error);
        ShowLastErrorBox();
    }
    // The platform's own proxy dialog.
    bool ProxyCredentials(fw::HttpRequest& request) override {
        return request.ErrorDialog(GetDesktopWindow(), ERROR_INTERNET_INCORRECT_PASSWORD,
                                   FLAGS_ERROR_UI_FLAGS_GENERATE_DATA | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS) ==
               ERROR_INTERNET_FORCE_RETRY;
    }
};
}  // namespace

void InstallMessageBoxReporter() {
    static MessageBoxReporter reporter;
    SetReporter(&reporter);
}
