#include "common/ServerUrl.h"

#include "framework/Internet.h"

std::string NormaliseServerUrl(std::string typed) {
    if (typed.empty() || typed.back() != '/') typed += '/';
    fw::UrlParts parts;
    if (!fw::ParseHttpUrl(typed, parts)) return std::string();
    // The path alone, without a query or fragment, must name more than the root.
    const std::string path = parts.object.substr(0, parts.object.find_first_of("?#"));
    return path.empty() || path == "/" ? std::string() : typed;
}
