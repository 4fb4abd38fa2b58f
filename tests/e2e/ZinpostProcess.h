#pragma once
// zinpost.exe started from a test as the Explorer extension starts it (the
// program named apart, quoted paths on the command line), with its windows
// found and driven through the window driver.
#include "framework/WinHandle.h"

#include <map>
#include <string>
#include <vector>

namespace testing_support {

// The built program, beside its result library ("Z:\...\bin\zinpost.exe").
std::wstring ZinpostPath();

class ZinpostProcess {
public:
    // `programFirst`: the command line begins with the program's own path,
    // as after a double-click start. `environment`: variables to add or
    // replace for the program.
    ZinpostProcess(const std::vector<std::wstring>& files, bool programFirst = false,
                   const std::map<std::wstring, std::wstring>& environment = {},
                   const std::wstring& program = ZinpostPath());
    // Ends a program that is still running (closing its windows first).
    ~ZinpostProcess();

    bool Started() const { return static_cast<bool>(m_process); }
    DWORD Pid() const { return m_pid; }
    // Waits for the program to end; its exit code, or ~0u on time-out.
    DWORD WaitForExit(DWORD timeoutMs);
    bool Running() const;

    // Windows of the program by caption.
    HWND WaitForWindow(const std::wstring& caption, DWORD timeoutMs) const;
    HWND MainWindow(DWORD timeoutMs = 30000) const;
    HWND ResultWindow(DWORD timeoutMs = 60000) const;
    // A message box of the program (caption "Tessaly センドレット", dialog class).
    HWND WaitForMessageBox(DWORD timeoutMs) const;
    // Presses `button` of `owner`, which opens the folder dialog, selects
    // the first folder two levels below a root and confirms; false when a
    // step could not be taken.
    bool ChooseNestedFolder(HWND owner, int button) const;

private:
    fw::UniqueKernelHandle m_process;
    DWORD m_pid = 0;
};

// The result dialog's controls.
constexpr int kResultDetail = 1021;
constexpr int kResultSummary = 1022;

}  // namespace testing_support
