#pragma once
// One move-only owner for every kind of Windows handle. Each traits type names
// the empty value and how the handle is closed.
#include <windows.h>
#include <wincrypt.h>
#include <wininet.h>
#include <commctrl.h>
#include <shellapi.h>
#include <utility>

namespace fw {

template <typename Traits>
class UniqueHandle {
public:
    using pointer = typename Traits::pointer;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(pointer h) noexcept : m_h(h) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(UniqueHandle&& other) noexcept : m_h(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    pointer get() const noexcept { return m_h; }
    explicit operator bool() const noexcept { return m_h != Traits::invalid(); }

    pointer release() noexcept { return std::exchange(m_h, Traits::invalid()); }
    void reset(pointer h = Traits::invalid()) noexcept {
        pointer old = std::exchange(m_h, h);
        if (old != Traits::invalid()) Traits::close(old);
    }
    // For APIs that return the handle through an out parameter: frees the
    // current one first.
    pointer* put() noexcept { reset(); return &m_h; }

private:
    pointer m_h = Traits::invalid();
};

namespace traits {
template <typename T, T Invalid, auto Close>
struct Simple {
    using pointer = T;
    static constexpr pointer invalid() noexcept { return Invalid; }
    static void close(pointer h) noexcept { Close(h); }
};
inline void CloseKernel(HANDLE h) { ::CloseHandle(h); }
inline void CloseKey(HKEY h) { ::RegCloseKey(h); }
inline void CloseInternet(HINTERNET h) { ::InternetCloseHandle(h); }
inline void CloseModuleHandle(HMODULE h) { ::FreeLibrary(h); }
inline void ReleaseProv(HCRYPTPROV h) { ::CryptReleaseContext(h, 0); }
inline void DestroyHash(HCRYPTHASH h) { ::CryptDestroyHash(h); }
inline void DestroyKey(HCRYPTKEY h) { ::CryptDestroyKey(h); }
inline void FreeLocal(HLOCAL h) { ::LocalFree(h); }
inline void DeleteGdi(HGDIOBJ h) { ::DeleteObject(h); }
inline void DestroyIconHandle(HICON h) { ::DestroyIcon(h); }
inline void DeleteDc(HDC h) { ::DeleteDC(h); }
inline void DestroyImageList(HIMAGELIST h) { ::ImageList_Destroy(h); }
inline void DestroyMenuHandle(HMENU h) { ::DestroyMenu(h); }
inline void FinishDrop(HDROP h) { ::DragFinish(h); }
inline void FreeChain(PCCERT_CHAIN_CONTEXT h) { ::CertFreeCertificateChain(h); }
inline void CloseStore(HCERTSTORE h) { ::CertCloseStore(h, 0); }

struct File {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { ::CloseHandle(h); }
};
}  // namespace traits

using UniqueKernelHandle = UniqueHandle<traits::Simple<HANDLE, nullptr, traits::CloseKernel>>;
using UniqueFile = UniqueHandle<traits::File>;  // CreateFile: INVALID_HANDLE_VALUE is empty
using UniqueHKey = UniqueHandle<traits::Simple<HKEY, nullptr, traits::CloseKey>>;
using UniqueHInternet = UniqueHandle<traits::Simple<HINTERNET, nullptr, traits::CloseInternet>>;
using UniqueHModule = UniqueHandle<traits::Simple<HMODULE, nullptr, traits::CloseModuleHandle>>;
using UniqueCryptProv = UniqueHandle<traits::Simple<HCRYPTPROV, HCRYPTPROV(0), traits::ReleaseProv>>;
using UniqueCryptHash = UniqueHandle<traits::Simple<HCRYPTHASH, HCRYPTHASH(0), traits::DestroyHash>>;
using UniqueCryptKey = UniqueHandle<traits::Simple<HCRYPTKEY, HCRYPTKEY(0), traits::DestroyKey>>;
using UniqueHLocal = UniqueHandle<traits::Simple<HLOCAL, nullptr, traits::FreeLocal>>;
using UniqueGdiObject = UniqueHandle<traits::Simple<HGDIOBJ, nullptr, traits::DeleteGdi>>;
using UniqueHIcon = UniqueHandle<traits::Simple<HICON, nullptr, traits::DestroyIconHandle>>;
using UniqueHdc = UniqueHandle<traits::Simple<HDC, nullptr, traits::DeleteDc>>;
using UniqueImageList = UniqueHandle<traits::Simple<HIMAGELIST, nullptr, traits::DestroyImageList>>;
using UniqueHMenu = UniqueHandle<traits::Simple<HMENU, nullptr, traits::DestroyMenuHandle>>;
using UniqueHDrop = UniqueHandle<traits::Simple<HDROP, nullptr, traits::FinishDrop>>;
using UniqueCertChain = UniqueHandle<traits::Simple<PCCERT_CHAIN_CONTEXT, nullptr, traits::FreeChain>>;
using UniqueCertStore = UniqueHandle<traits::Simple<HCERTSTORE, nullptr, traits::CloseStore>>;

// The device context of a window (null: the screen) for the lifetime of the
// object; empty when the system gives none.
class WindowDc {
public:
    explicit WindowDc(HWND window) : m_window(window), m_dc(GetDC(window)) {}
    ~WindowDc() {
        if (m_dc) ReleaseDC(m_window, m_dc);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return m_dc; }
    explicit operator bool() const { return m_dc != nullptr; }

private:
    HWND m_window;
    HDC m_dc;
};

}  // namespace fw
