#pragma once
// Watches from a thread of its own for a dialog that another thread runs
// modally: waits until a top-level dialog with the given title is shown,
// records what a person would see (texts, styles, layout, fonts, icons) and
// closes it. A dialog that never shows is reported, never waited for forever:
// whatever the owner owns is then closed, so the blocked caller returns.
#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace result_test {

struct ControlSnapshot {
    int id = 0;
    std::wstring className;
    std::wstring text;
    LONG style = 0;
    RECT rect{};             // in the dialog's client coordinates
    HFONT fontHandle = nullptr;
    LOGFONTW font{};         // the font the control draws with
    HICON icon = nullptr;    // what a static icon control shows
};

struct DialogSnapshot {
    HWND hwnd = nullptr;
    HWND owner = nullptr;
    bool ownerEnabled = true;
    bool unicode = false;
    RECT client{};
    SIZE baseUnits{};        // pixels of 4 horizontal and of 8 vertical dialog units
    LOGFONTW font{};         // the dialog's font
    int defaultId = 0;       // 0 when the dialog has no default button
    std::vector<ControlSnapshot> controls;

    const ControlSnapshot* Control(int id) const;
    const ControlSnapshot* ControlWithText(const std::wstring& text) const;
    // A size in dialog units in this dialog's pixels.
    SIZE Pixels(int cx, int cy) const;
};

struct ProbeOptions {
    std::wstring title;
    HWND owner = nullptr;
    // The button pressed once the snapshot is taken; 0 closes the dialog
    // through its caption's close box instead (WM_CLOSE).
    int pressId = IDOK;
    DWORD timeoutMs = 10000;
    // Runs on the probe's thread while the dialog is open, after the snapshot.
    std::function<void(HWND)> whileOpen;
};

class DialogProbe {
public:
    explicit DialogProbe(ProbeOptions options);
    ~DialogProbe();
    DialogProbe(const DialogProbe&) = delete;
    DialogProbe& operator=(const DialogProbe&) = delete;

    // Waits for the probe to finish; the results below are valid afterwards.
    void Join();
    bool Seen() const { return m_seen; }
    // The dialog went away after the press, with no forced close.
    bool Closed() const { return m_closed; }
    const DialogSnapshot& Snapshot() const { return m_snapshot; }

private:
    void Run();

    ProbeOptions m_options;
    bool m_seen = false;
    bool m_closed = false;
    DialogSnapshot m_snapshot;
    std::thread m_thread;
};

// Keeps the calling thread's messages flowing until `event` is set; false
// when `timeoutMs` passed first.
bool PumpMessagesUntil(HANDLE event, DWORD timeoutMs);

}  // namespace result_test
