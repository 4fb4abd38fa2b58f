#pragma once
// Where Windows calls into the extension (COM methods, exports) no C++
// exception may pass: it becomes the call's failure code.
#include <windows.h>

#include <new>

namespace zinext {

template <typename Body>
HRESULT ComBoundary(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace zinext
