#pragma once
// The server's base URL as the program keeps it (`Server`): an http or https
// URL that names a path below its host and ends in "/", the request paths
// being that path followed directly by the endpoint names. One rule for
// every writer: the server dialog and the installer's SERVERURL.
#include <string>

// `typed` with a "/" appended when it lacks one; empty when the result is no
// such URL ("https://host/api/" passes, "https://host/" and "host/api/" do not).
std::string NormaliseServerUrl(std::string typed);
