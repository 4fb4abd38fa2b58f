// The main of every test executable: child modes first, then the tests, with
// message boxes recorded instead of shown.
#include "tests/support/ChildProcess.h"
#include "tests/support/MessageBoxRecorder.h"

#include "framework/Profile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <shellapi.h>

namespace testing_support {
namespace {

std::map<std::string, ChildFunction>& Children() {
    static std::map<std::string, ChildFunction> children;
    return children;
}

std::wstring Quote(const std::wstring& arg) {
    // Arguments of ours never hold quotes or trailing backslashes.
    return L"\"" + arg + L"\"";
}

}  // namespace

ChildRegistration::ChildRegistration(const char* name, ChildFunction function) { Children()[name] = function; }

fw::UniqueKernelHandle StartChild(const std::string& name, const std::vector<std::wstring>& args,
                                  const std::wstring& program) {
    const std::wstring exe = program.empty() ? fw::ProgramPath() : program;
    std::wstring commandLine = Quote(exe) + L" --child=" + std::wstring(name.begin(), name.end());
    for (const std::wstring& arg : args) commandLine += L" " + Quote(arg);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
        return fw::UniqueKernelHandle();
    CloseHandle(info.hThread);
    return fw::UniqueKernelHandle(info.hProcess);
}

DWORD WaitChild(const fw::UniqueKernelHandle& process, DWORD timeoutMs) {
    if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) return ~0u;
    DWORD code = ~0u;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

bool RunChildIfRequested(int& exitCode) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return false;
    bool ran = false;
    const std::wstring prefix = L"--child=";
    if (argc >= 2 && std::wstring(argv[1]).rfind(prefix, 0) == 0) {
        const std::wstring wide = std::wstring(argv[1]).substr(prefix.size());
        const auto found = Children().find(std::string(wide.begin(), wide.end()));
        if (found != Children().end()) {
            std::vector<std::wstring> args(argv + 2, argv + argc);
            exitCode = found->second(args);
        } else {
            exitCode = 99;
        }
        ran = true;
    }
    LocalFree(argv);
    return ran;
}

// A crash must fail the test: the debugger that Wine starts for an unhandled
// exception can leave the process with exit code 0.
LONG WINAPI ExitOnCrash(EXCEPTION_POINTERS* info) {
    std::fprintf(stderr, "unhandled exception 0x%08lx at %p\n", info->ExceptionRecord->ExceptionCode,
                 info->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace testing_support

int main(int argc, char** argv) {
    SetUnhandledExceptionFilter(testing_support::ExitOnCrash);
    testing_support::InstallMessageBoxRecorder();
    int childExit = 0;
    if (testing_support::RunChildIfRequested(childExit)) return childExit;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
