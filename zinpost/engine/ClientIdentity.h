#pragma once
// What the client tells the server about itself at every login: its
// version, the device key and the device name.
#include <string>

// The program's file version from its own version resource: "4.0.2.0".
// Empty when the resource cannot be read.
std::string GetAppVersionText();

// The first network adapter's hardware address in upper-case hex without
// separators ("00155D01A2B3"); empty when there is no adapter list.
std::string MakeDeviceKey();

// The device name the login sends: a constant of the program, which the
// server knows this client by.
extern const char kDeviceName[];
