#include "ZinExt/MenuIcon.h"

#include "framework/WinHandle.h"

#include <wincodec.h>
#include <wrl/client.h>

namespace zinext {
namespace {

bool IsVersion6OrLater() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExW(&version) && version.dwMajorVersion >= 6;
}

// A section of w x h pixels, 32 bits, top-down, on the screen's device context.
fw::UniqueGdiObject CreateSection(UINT width, UINT height, void** bits) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    const fw::WindowDc screen(nullptr);
    if (!screen) return fw::UniqueGdiObject();
    return fw::UniqueGdiObject(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, bits, nullptr, 0));
}

}  // namespace

HBITMAP CreateMenuIconBitmap(HINSTANCE module, int iconId) noexcept {
    using Microsoft::WRL::ComPtr;
    if (!IsVersion6OrLater()) return nullptr;
    fw::UniqueHIcon icon(static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(iconId), IMAGE_ICON, 16, 16, 0)));
    if (!icon) return nullptr;
    ComPtr<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))))
        return nullptr;
    ComPtr<IWICBitmap> bitmap;
    if (FAILED(factory->CreateBitmapFromHICON(icon.get(), &bitmap))) return nullptr;
    UINT width = 0, height = 0;
    WICPixelFormatGUID format{};
    // An icon is at most 256 pixels wide and high; the pixels must be the
    // 4-byte BGRA that the section holds.
    if (FAILED(bitmap->GetSize(&width, &height)) || width == 0 || height == 0 || width > 256 || height > 256 ||
        FAILED(bitmap->GetPixelFormat(&format)) || format != GUID_WICPixelFormat32bppBGRA)
        return nullptr;
    void* bits = nullptr;
    fw::UniqueGdiObject section = CreateSection(width, height, &bits);
    if (!section || !bits) return nullptr;
    const UINT stride = width * 4;
    if (FAILED(bitmap->CopyPixels(nullptr, stride, stride * height, static_cast<BYTE*>(bits)))) return nullptr;
    return static_cast<HBITMAP>(section.release());
}

}  // namespace zinext
