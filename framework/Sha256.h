#pragma once
// SHA-256 through the system's cryptography.
#include <windows.h>

#include <cstddef>

namespace fw {

// The SHA-256 of `size` bytes at `data`; false when the system cannot
// compute it.
bool Sha256(const void* data, size_t size, BYTE (&digest)[32]);

}  // namespace fw
