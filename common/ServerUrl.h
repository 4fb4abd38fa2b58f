#pragma once
// The server's base URL as the program keeps it (`Server`): an http or https
// URL that names a path below its host and ends in "/", the request paths
// being that path followed directly by the endpoint names. One rule for
// every writer: the server dialog, the installer's SERVERURL and the
// machine's default.
#include <string>

// `typed` with a "/" appended when it lacks one; empty when the result is no
// such URL ("https://host/api/" passes, "https://host/" and "host/api/" do not).
std::string NormaliseServerUrl(std::string typed);

// A URL handed in from outside the dialog (the installer's SERVERURL, the
// machine's default): blanks around it dropped, then the rule above. Empty
// also when it holds control characters, which no single-line box could,
// or characters the ANSI code page, in which the program keeps it, cannot hold.
std::wstring NormaliseGivenServerUrl(const std::wstring& given);

// The machine's default server (`Server` under kMachineDefaultsKey, 64-bit
// view, REG_SZ), normalised; empty when there is none or it is no server URL.
std::wstring MachineDefaultServer();
