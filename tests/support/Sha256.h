#pragma once
// SHA-256 through CryptoAPI, as lower-case hex, of bytes or of a whole file
// read in pieces: to compare what a server stored with what was sent.
#include "framework/WinHandle.h"

#include <string>

namespace testing_support {

class Sha256 {
public:
    Sha256();
    void Add(const void* data, DWORD size);
    std::string Hex() const;

    static std::string OfBytes(const std::string& bytes);
    static std::string OfFile(const std::wstring& path);

private:
    fw::UniqueCryptProv m_provider;
    fw::UniqueCryptHash m_hash;
};

}  // namespace testing_support
