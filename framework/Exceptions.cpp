#include "Exceptions.h"

#include "Text.h"

namespace fw {

std::string InternetException::Text() const {
    // WinINet's texts live in wininet.dll's own message table.
    std::string text = SystemErrorText(m_error, GetModuleHandleA("wininet.dll"));
    if (text.size() > 511) text.resize(511);
    return text;
}

}  // namespace fw
