#pragma once
// The exception family of our framework layer. They are raised by the
// wrappers around platform calls and caught where they arise: no exception
// ever crosses into Windows.
#include <windows.h>
#include <string>

namespace fw {

class Exception {
public:
    virtual ~Exception() = default;
    // The number shown when an unexpected exception ends a run.
    virtual long Code() const = 0;
};

// A failing WinINet call; carries the WinINet (or system) error code.
class InternetException : public Exception {
public:
    explicit InternetException(DWORD error) : m_error(error) {}
    DWORD Error() const { return m_error; }
    long Code() const override { return static_cast<long>(m_error); }
    // The platform's text for the code, at most 511 characters; WinINet codes
    // are looked up in wininet.dll's message table.
    std::string Text() const;

private:
    DWORD m_error;
};

// An argument out of its valid range (for example a calendar date).
class InvalidArgException : public Exception {
public:
    long Code() const override { return static_cast<long>(ERROR_INVALID_PARAMETER); }
};

// A file operation failed; carries the system error code.
class FileException : public Exception {
public:
    explicit FileException(DWORD error) : m_error(error) {}
    long Code() const override { return static_cast<long>(m_error); }

private:
    DWORD m_error;
};

}  // namespace fw
