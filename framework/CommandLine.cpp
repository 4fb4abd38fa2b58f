#include "CommandLine.h"

#include "WinHandle.h"

namespace fw {

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(commandLine.c_str(), &argc);
    const UniqueHLocal owner(argv);
    return argv ? std::vector<std::wstring>(argv, argv + argc) : std::vector<std::wstring>();
}

}  // namespace fw
