// The stored password against the documented key derivation, computed here
// with the CNG primitives (a different implementation from the CryptoAPI
// provider the program uses), and against the registry value the record writes.
#include "zinpost/engine/AppSettings.h"
#include "common/SettingsNames.h"
#include "zinpost/engine/PasswordCipher.h"

#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/RegistrySandbox.h"

#include "framework/WinHandle.h"

#include <bcrypt.h>
#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

Bytes Sha1(const Bytes& data) {
    BCRYPT_ALG_HANDLE alg = nullptr;
    EXPECT_EQ(BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA1_ALGORITHM, nullptr, 0), 0);
    Bytes digest(20);
    BCRYPT_HASH_HANDLE hash = nullptr;
    EXPECT_EQ(BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0), 0);
    EXPECT_EQ(BCryptHashData(hash, const_cast<BYTE*>(data.data()), static_cast<ULONG>(data.size()), 0), 0);
    EXPECT_EQ(BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0), 0);
    BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(alg, 0);
    return digest;
}

// The derivation CryptDeriveKey documents for SHA-1 and a 128-bit AES key.
Bytes DocumentedKey(const std::string& passPhrase) {
    const Bytes h = Sha1(Bytes(passPhrase.begin(), passPhrase.end()));
    Bytes buffer(64, 0x36);
    for (size_t i = 0; i < h.size(); ++i) buffer[i] ^= h[i];
    Bytes key = Sha1(buffer);
    key.resize(16);
    return key;
}

// AES-128-CBC, zero IV, PKCS#5 padding.
Bytes AesCbcEncrypt(const Bytes& key, const Bytes& plain) {
    BCRYPT_ALG_HANDLE alg = nullptr;
    EXPECT_EQ(BCryptOpenAlgorithmProvider(&alg, BCRYPT_AES_ALGORITHM, nullptr, 0), 0);
    EXPECT_EQ(BCryptSetProperty(alg, BCRYPT_CHAINING_MODE, (PUCHAR)BCRYPT_CHAIN_MODE_CBC,
                                sizeof(BCRYPT_CHAIN_MODE_CBC), 0),
              0);
    BCRYPT_KEY_HANDLE handle = nullptr;
    EXPECT_EQ(BCryptGenerateSymmetricKey(alg, &handle, nullptr, 0, const_cast<BYTE*>(key.data()),
                                         static_cast<ULONG>(key.size()), 0),
              0);
    Bytes iv(16, 0);
    Bytes out(plain.size() + 16);
    ULONG written = 0;
    EXPECT_EQ(BCryptEncrypt(handle, const_cast<BYTE*>(plain.data()), static_cast<ULONG>(plain.size()), nullptr,
                            iv.data(), static_cast<ULONG>(iv.size()), out.data(), static_cast<ULONG>(out.size()),
                            &written, BCRYPT_BLOCK_PADDING),
              0);
    out.resize(written);
    BCryptDestroyKey(handle);
    BCryptCloseAlgorithmProvider(alg, 0);
    return out;
}

Bytes Expected(const std::string& password) {
    Bytes plain(password.begin(), password.end());
    plain.resize(plain.size() + 16, 0);  // the password and 16 zero bytes
    return AesCbcEncrypt(DocumentedKey("r8k2mq4x9v3b"), plain);
}

Bytes StoredPassword(const std::string& password) {
    testing_support::RegistrySandbox sandbox;
    fw::Profile profile(settings_names::kApplication);
    profile.SetRegistryKey(settings_names::kRegistryKey);
    CAppSettings settings(&profile);
    settings.Password = password;
    settings.Save();
    Bytes stored;
    EXPECT_TRUE(profile.GetBinary(settings_names::kSection, settings_names::kPassword, stored));
    return stored;
}

TEST(PasswordCipher, StoredValueFollowsTheDocumentedDerivation) {
    for (const std::string password : {"abc", "0123456789abcdef", "p@ss w&rd=1", "パスワード"}) {
        SCOPED_TRACE(password);
        const Bytes stored = StoredPassword(password);
        EXPECT_EQ(stored, Expected(password));
        EXPECT_EQ(stored.size(), 16 * ((password.size() + 16) / 16 + 1));
    }
}

TEST(PasswordCipher, LengthsFollowThePlainBlock) {
    EXPECT_EQ(StoredPassword("abc").size(), 32u);               // 3 + 16 = 19 bytes
    EXPECT_EQ(StoredPassword("abcde").size(), 32u);             // 5 + 16 = 21 bytes
    EXPECT_EQ(StoredPassword("0123456789abcdef").size(), 48u);  // 16 + 16 = 32 bytes
}

TEST(PasswordCipher, ValueWrittenElsewhereReadsBack) {
    // A value made by the documented derivation alone, as any installation
    // stores it, decrypts to the password.
    for (const std::string& password : {std::string("x"), std::string("パスワード"), std::string(40, 'z')}) {
        std::string plain;
        ASSERT_TRUE(DecryptPassword(Expected(password), "r8k2mq4x9v3b", plain));
        EXPECT_EQ(plain, password);
    }
}

TEST(PasswordCipher, JapanesePasswordIsStoredAsShiftJisBytes) {
    const std::string password = "パスワード";  // 10 bytes in code page 932
    ASSERT_EQ(password.size(), 10u);
    Bytes cipher;
    ASSERT_TRUE(EncryptPassword(password, "r8k2mq4x9v3b", cipher));
    EXPECT_EQ(cipher.size(), 32u);
    std::string plain;
    ASSERT_TRUE(DecryptPassword(cipher, "r8k2mq4x9v3b", plain));
    EXPECT_EQ(plain, password);
}

TEST(PasswordCipher, WrongPassPhraseOrDamagedTextFails) {
    Bytes cipher;
    ASSERT_TRUE(EncryptPassword("secret", "r8k2mq4x9v3b", cipher));
    std::string plain = "unchanged";
    Bytes damaged = cipher;
    damaged.pop_back();
    SetLastError(0);
    EXPECT_FALSE(DecryptPassword(damaged, "r8k2mq4x9v3b", plain));
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_EQ(plain, "unchanged");
}

}  // namespace
