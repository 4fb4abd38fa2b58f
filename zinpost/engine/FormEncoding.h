#pragma once
// The login form's encoding: values percent-encoded byte by byte, fields
// joined as key=value pairs.
#include <string>
#include <utility>
#include <vector>

// Percent-encodes a form value byte by byte: ASCII letters, digits, "-", "."
// and "_" stay, a blank becomes "+", every other byte "%XX".
std::string UrlEncode(const std::string& text);

// "key=value&key=value": keys and values go in as given, so values that need
// it are encoded by the caller first.
using FormField = std::pair<std::string, std::string>;
std::string JoinForm(const std::vector<FormField>& fields);
