#pragma once
// Our one door to picojson: parsing, member access that never throws, and the
// single rule by which every value of the server's answers is read as text.
// A picojson value is never shared between threads.
#include <picojson.h>

#include <string>

namespace json {

// Parses `text` as one JSON value; false with picojson's error text.
bool Parse(const std::string& text, picojson::value& value, std::string& error);

// The member `name` of `value` when `value` is an object holding it; a null
// value otherwise (so an absent member reads as null).
const picojson::value& Member(const picojson::value& value, const std::string& name);

// A value as text, in UTF-8: a string as it is, a boolean as true or false, a
// number in printf "%f" form (12 reads as 12.000000), null as null, arrays and
// objects as the words array and object.
std::string RenderAsText(const picojson::value& value);

// How the program reads a member of an answer: rendered as text, then
// converted to the ANSI code page (at most 255 characters).
std::string MemberText(const picojson::value& value, const std::string& name);

}  // namespace json
