#include "zinpost/engine/Json.h"

#include "zinpost/engine/TextEncoding.h"

#include "framework/Text.h"

namespace json {

bool Parse(const std::string& text, picojson::value& value, std::string& error) {
    // picojson throws for what it cannot hold (a number such as 1e999 is
    // std::overflow_error): a text it cannot read whole is no JSON for us.
    try {
        error = picojson::parse(value, text);
    } catch (const std::exception& e) {
        value = picojson::value();
        error = std::string("unreadable value: ") + e.what();
    }
    return error.empty();
}

const picojson::value& Member(const picojson::value& value, const std::string& name) {
    static const picojson::value null;
    if (!value.is<picojson::object>()) return null;
    const picojson::object& object = value.get<picojson::object>();
    const auto found = object.find(name);
    return found != object.end() ? found->second : null;
}

std::string RenderAsText(const picojson::value& value) {
    if (value.is<std::string>()) return value.get<std::string>();
    if (value.is<bool>()) return value.get<bool>() ? "true" : "false";
    if (value.is<double>()) return fw::Format("%f", value.get<double>());
    if (value.is<picojson::array>()) return "array";
    if (value.is<picojson::object>()) return "object";
    return "null";
}

std::string MemberText(const picojson::value& value, const std::string& name) {
    return ConvertUTF2ShiftJIS(RenderAsText(Member(value, name)));
}

}  // namespace json
