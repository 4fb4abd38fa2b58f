#include "framework/Sha256.h"

#include <wincrypt.h>

namespace fw {

bool Sha256(const void* data, size_t size, BYTE (&digest)[32]) {
    // Any bytes, not only a certificate's; no provider to acquire.
    DWORD length = sizeof digest;
    return CryptHashCertificate(0, CALG_SHA_256, 0, static_cast<const BYTE*>(data), static_cast<DWORD>(size), digest,
                                &length) &&
           length == sizeof digest;
}

}  // namespace fw
