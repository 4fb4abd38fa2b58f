#pragma once
// The notice after the Office check: when conversion is fully available it
// closes by itself with OK; otherwise it names what PDF conversion needs and,
// in the detail box, why this machine falls short, one reason per line, until
// the user closes it ("閉じる" = OK, Esc or the close box = cancel).
#include "zinpost/engine/ThreadAgent.h"

#include "framework/Dialog.h"

#include <string>

class CFinishedProcessingDialog : public fw::Dialog {
public:
    CFinishedProcessingDialog();

    // The full check's result, once shown: 1, 0 or -1.
    int m_nResult = 0;

    // The gate's reasons as lines of a multi-line edit: every line break (the
    // gate ends some reasons with "\n\r\n") becomes one CR LF.
    static std::string EditLines(const std::string& text);

protected:
    BOOL OnInitDialog() override;
    void OnShown() override { OnFinishedShowDialog(); }

private:
    void OnFinishedShowDialog();
    void SetIcon(LPCSTR icon) const;

    HWND m_btnOK = nullptr;
    HWND m_stcIcon = nullptr;
};
