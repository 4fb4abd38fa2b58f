#include "zinpost/engine/PasswordCipher.h"

#include "framework/WinHandle.h"

namespace {

constexpr DWORD kKeyLength128 = 0x00800000;  // key length in the upper word of the flags

// The Enhanced AES provider; failing that, the type's default provider, with
// a machine key set, then with a new one.
fw::UniqueCryptProv AcquireAesContext() {
    fw::UniqueCryptProv provider;
    if (CryptAcquireContextA(provider.put(), nullptr, MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        return provider;
    if (CryptAcquireContextA(provider.put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_MACHINE_KEYSET))
        return provider;
    if (CryptAcquireContextA(provider.put(), nullptr, nullptr, PROV_RSA_AES,
                             CRYPT_VERIFYCONTEXT | CRYPT_MACHINE_KEYSET | CRYPT_NEWKEYSET))
        return provider;
    return fw::UniqueCryptProv();
}

// Members are destroyed in reverse order: key, hash, context.
struct DerivedKey {
    fw::UniqueCryptProv provider;
    fw::UniqueCryptHash hash;
    fw::UniqueCryptKey key;
};

bool DeriveKey(const std::string& passPhrase, DerivedKey& out) {
    out.provider = AcquireAesContext();
    if (!out.provider) return false;
    if (!CryptCreateHash(out.provider.get(), CALG_SHA1, 0, 0, out.hash.put())) return false;
    if (!CryptHashData(out.hash.get(), reinterpret_cast<const BYTE*>(passPhrase.data()),
                       static_cast<DWORD>(passPhrase.size()), 0))
        return false;
    return CryptDeriveKey(out.provider.get(), CALG_AES_128, out.hash.get(), kKeyLength128, out.key.put()) != FALSE;
}

// The handles are released before the caller can read the last error, and
// releasing may change it: keep the code of the failing call.
bool Failed(DWORD& error) {
    error = GetLastError();
    return false;
}

bool Encrypt(const std::string& password, const std::string& passPhrase, std::vector<BYTE>& cipher, DWORD& error) {
    DerivedKey derived;
    if (!DeriveKey(passPhrase, derived)) return Failed(error);
    const DWORD padding = PKCS5_PADDING;
    if (!CryptSetKeyParam(derived.key.get(), KP_PADDING, reinterpret_cast<const BYTE*>(&padding), 0))
        return Failed(error);

    const DWORD plainLength = static_cast<DWORD>(password.size() + 16);
    std::vector<BYTE> buffer(2 * plainLength, 0);  // room for the padding block
    memcpy(buffer.data(), password.data(), password.size());
    DWORD length = plainLength;
    if (!CryptEncrypt(derived.key.get(), 0, TRUE, 0, buffer.data(), &length, static_cast<DWORD>(buffer.size())))
        return Failed(error);
    buffer.resize(length);
    cipher = std::move(buffer);
    return true;
}

bool Decrypt(const std::vector<BYTE>& cipher, const std::string& passPhrase, std::string& password, DWORD& error) {
    DerivedKey derived;
    if (!DeriveKey(passPhrase, derived)) return Failed(error);
    std::vector<BYTE> buffer = cipher;
    DWORD length = static_cast<DWORD>(buffer.size());
    if (!CryptDecrypt(derived.key.get(), 0, TRUE, 0, buffer.data(), &length)) return Failed(error);
    const BYTE* begin = buffer.data();
    const BYTE* end = static_cast<const BYTE*>(memchr(begin, 0, length));
    password.assign(reinterpret_cast<const char*>(begin), end ? static_cast<size_t>(end - begin) : length);
    return true;
}

}  // namespace

bool EncryptPassword(const std::string& password, const std::string& passPhrase, std::vector<BYTE>& cipher) {
    DWORD error = 0;
    if (Encrypt(password, passPhrase, cipher, error)) return true;
    SetLastError(error);
    return false;
}

bool DecryptPassword(const std::vector<BYTE>& cipher, const std::string& passPhrase, std::string& password) {
    DWORD error = 0;
    if (Decrypt(cipher, passPhrase, password, error)) return true;
    SetLastError(error);
    return false;
}
