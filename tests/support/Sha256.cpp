#include "tests/support/Sha256.h"

#include "framework/Text.h"

#include <stdexcept>
#include <vector>

namespace testing_support {

Sha256::Sha256() {
    if (!CryptAcquireContextA(m_provider.put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) ||
        !CryptCreateHash(m_provider.get(), CALG_SHA_256, 0, 0, m_hash.put()))
        throw std::runtime_error("no SHA-256");
}

void Sha256::Add(const void* data, DWORD size) {
    if (!CryptHashData(m_hash.get(), static_cast<const BYTE*>(data), size, 0))
        throw std::runtime_error("hashing failed");
}

std::string Sha256::Hex() const {
    BYTE digest[32];
    DWORD size = sizeof digest;
    if (!CryptGetHashParam(m_hash.get(), HP_HASHVAL, digest, &size, 0)) throw std::runtime_error("no digest");
    std::string text;
    for (DWORD i = 0; i < size; ++i) text += fw::Format("%02x", digest[i]);
    return text;
}

std::string Sha256::OfBytes(const std::string& bytes) {
    Sha256 sha;
    sha.Add(bytes.data(), static_cast<DWORD>(bytes.size()));
    return sha.Hex();
}

std::string Sha256::OfFile(const std::wstring& path) {
    fw::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) throw std::runtime_error("cannot read the file to hash");
    Sha256 sha;
    std::vector<char> buffer(4 << 20);
    for (DWORD read; ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) && read > 0;)
        sha.Add(buffer.data(), read);
    return sha.Hex();
}

}  // namespace testing_support
