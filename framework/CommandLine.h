#pragma once
// A command line split into its arguments by the system's rule for wide
// command lines (CommandLineToArgvW): blanks separate arguments, double
// quotes group a path with blanks. The first argument is read by the rule
// for a program's name: everything up to the next quote, backslashes as
// they are.
#include <string>
#include <vector>

namespace fw {

// Empty when the line cannot be split.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

}  // namespace fw
