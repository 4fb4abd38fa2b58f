#include "tests/e2e/ZinpostProcess.h"

#include "tests/support/StandinServer.h"
#include "tools/driver/WindowDriver.h"

#include <stdexcept>

namespace testing_support {
namespace {

const wchar_t kMainCaption[] = L"Tessaly センドレット";
const wchar_t kResultCaption[] = L"Tessaly センドレット：処理結果";

// The test's environment with `changes` applied, as a CreateProcessW block.
std::wstring EnvironmentBlock(const std::map<std::wstring, std::wstring>& changes) {
    std::map<std::wstring, std::wstring> variables;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
        const std::wstring text = entry;
        const size_t equals = text.find(L'=', 1);  // "=C:" style entries start with '='
        if (equals != std::wstring::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    FreeEnvironmentStringsW(block);
    for (const auto& change : changes) variables[change.first] = change.second;
    std::wstring result;
    for (const auto& variable : variables) result += variable.first + L"=" + variable.second + L'\0';
    result += L'\0';
    return result;
}

bool IsDialogClass(HWND hwnd) {
    wchar_t className[16] = {};
    GetClassNameW(hwnd, className, 16);
    return std::wstring(className) == L"#32770";
}

}  // namespace

std::wstring ZinpostPath() {
    const std::string bin = EnvironmentVariable("ZINPOST_BIN_DIR");
    if (bin.empty()) throw std::runtime_error("ZINPOST_BIN_DIR is not set");
    return UnixPathForWindows(bin + "/zinpost.exe");
}

ZinpostProcess::ZinpostProcess(const std::vector<std::wstring>& files, bool programFirst,
                               const std::map<std::wstring, std::wstring>& environment,
                               const std::wstring& program) {
    std::wstring commandLine = programFirst ? L"\"" + program + L"\" " : L"";
    for (const std::wstring& file : files) commandLine += L"\"" + file + L"\" ";
    std::wstring block = EnvironmentBlock(environment);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        block.data(), nullptr, &startup, &info))
        return;
    CloseHandle(info.hThread);
    m_process.reset(info.hProcess);
    m_pid = info.dwProcessId;
}

ZinpostProcess::~ZinpostProcess() {
    if (!m_process || !Running()) return;
    // Message boxes first, then the windows: the program ends its own way.
    for (int round = 0; round < 3 && Running(); ++round) {
        for (HWND box : FindWindowsByCaption(kMainCaption, m_pid))
            if (IsDialogClass(box) && box != MainWindow(0)) PressButton(box, IDOK);
        for (HWND result : FindWindowsByCaption(kResultCaption, m_pid)) PressButton(result, IDOK);
        if (HWND main = MainWindow(0)) PostMessageW(main, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(m_process.get(), 5000) == WAIT_OBJECT_0) return;
    }
    TerminateProcess(m_process.get(), 99);
    WaitForSingleObject(m_process.get(), 5000);
}

DWORD ZinpostProcess::WaitForExit(DWORD timeoutMs) {
    if (WaitForSingleObject(m_process.get(), timeoutMs) != WAIT_OBJECT_0) return ~0u;
    DWORD code = ~0u;
    GetExitCodeProcess(m_process.get(), &code);
    return code;
}

bool ZinpostProcess::Running() const { return WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT; }

HWND ZinpostProcess::WaitForWindow(const std::wstring& caption, DWORD timeoutMs) const {
    return testing_support::WaitForWindow(caption, m_pid, timeoutMs);
}

HWND ZinpostProcess::MainWindow(DWORD timeoutMs) const {
    // The main window is the one with the drop picture.
    HWND found = nullptr;
    WaitFor(
        [&] {
            for (HWND hwnd : FindWindowsByCaption(kMainCaption, m_pid))
                if (GetDlgItem(hwnd, 1015)) found = hwnd;
            return found != nullptr;
        },
        timeoutMs);
    return found;
}

HWND ZinpostProcess::ResultWindow(DWORD timeoutMs) const { return WaitForWindow(kResultCaption, timeoutMs); }

HWND ZinpostProcess::WaitForMessageBox(DWORD timeoutMs) const {
    HWND found = nullptr;
    WaitFor(
        [&] {
            for (HWND hwnd : FindWindowsByCaption(kMainCaption, m_pid))
                if (IsDialogClass(hwnd) && !GetDlgItem(hwnd, 1015)) found = hwnd;
            return found != nullptr;
        },
        timeoutMs);
    return found;
}

bool ZinpostProcess::ChooseNestedFolder(HWND owner, int button) const {
    PressButton(owner, button);
    HWND folders = WaitForWindow(L"Tessaly センドレット：フォルダー選択画面", 30000);
    if (!folders) return false;
    HWND tree = GetDlgItem(folders, 1035);
    HTREEITEM nested = FirstGrandchild(tree);
    if (!nested) return false;
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(nested), SMTO_NORMAL, 5000,
                        &ignored);
    return PressButton(folders, IDOK);
}

}  // namespace testing_support
