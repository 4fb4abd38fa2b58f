#pragma once
// A test executable can start copies of itself that run one named child
// function instead of the tests: "<exe> --child=<name> <args...>".
#include "framework/WinHandle.h"

#include <string>
#include <vector>

namespace testing_support {

using ChildFunction = int (*)(const std::vector<std::wstring>& args);

struct ChildRegistration {
    ChildRegistration(const char* name, ChildFunction function);
};

// Registers `function` under `name`, at static initialisation.
#define TEST_CHILD(name, function) \
    static ::testing_support::ChildRegistration childRegistration_##name(#name, function)

// Starts this executable in child mode; the process handle, empty on failure.
// `program`, when given, is a copy of this executable to start instead.
fw::UniqueKernelHandle StartChild(const std::string& name, const std::vector<std::wstring>& args,
                                  const std::wstring& program = std::wstring());
// Waits for a child and returns its exit code (or ~0u on time-out).
DWORD WaitChild(const fw::UniqueKernelHandle& process, DWORD timeoutMs = 60000);

// Runs the child named on the command line, if any; true when it ran.
bool RunChildIfRequested(int& exitCode);

}  // namespace testing_support
