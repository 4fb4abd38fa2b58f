#pragma once
// The stored form of the login password: AES-128-CBC (zero IV, PKCS#5
// padding) with a key that CryptoAPI derives from the SHA-1 of a pass phrase.
// The plain block is the password followed by 16 zero bytes.
#include <windows.h>
#include <string>
#include <vector>

// False on any CryptoAPI failure, with the thread's last error set by it.
bool EncryptPassword(const std::string& password, const std::string& passPhrase, std::vector<BYTE>& cipher);
bool DecryptPassword(const std::vector<BYTE>& cipher, const std::string& passPhrase, std::string& password);
