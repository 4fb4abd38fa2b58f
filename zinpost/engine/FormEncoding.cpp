#include "zinpost/engine/FormEncoding.h"

#include "framework/Text.h"

std::string UrlEncode(const std::string& text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        // ASCII classes only: each byte of a Shift_JIS character stands alone.
        const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_';
        if (plain) {
            out += c;
        } else if (byte == ' ') {
            out += '+';
        } else {
            out += fw::Format("%%%02X", byte);
        }
    }
    return out;
}

std::string JoinForm(const std::vector<FormField>& fields) {
    std::string out;
    for (const FormField& field : fields) {
        if (!out.empty()) out += '&';
        out += field.first;
        out += '=';
        out += field.second;
    }
    return out;
}
