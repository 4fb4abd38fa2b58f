#pragma once
// The result dialog of an upload run: the registration target, one line per
// file with its outcome, and the counts of successes and failures beside an
// icon that tells at a glance whether anything failed.
#include "common/UploadEntry.h"
#include "framework/Dialog.h"
#include "framework/WinHandle.h"

#include <string>

class CDisplayResult : public fw::Dialog {
public:
    // `module` is the library's own module: the template lives there.
    explicit CDisplayResult(HINSTANCE module);

    // Keeps the arguments and runs the dialog modally, owned by `owner`.
    // `target` is the folder title in the ANSI code page; `results` is read in
    // place (null counts as empty) and at most its first `count` entries are
    // shown. Returns what the modal run returns (-1 when it could not start).
    virtual INT_PTR ShowResult(HWND owner, std::string target, const UploadEntryList* results, int count);

protected:
    BOOL OnInitDialog() override;

private:
    // Fills the detail and summary texts; returns the number of failures.
    int BuildTexts();
    void SetSummaryFont();

    fw::UniqueGdiObject m_fontSummary;  // the summary's enlarged font, made once per object
    const UploadEntryList* m_pResults = nullptr;
    int m_nCount = 0;
    std::wstring m_strDetail;
    std::wstring m_strSummary;
    std::string m_strTarget;
};
