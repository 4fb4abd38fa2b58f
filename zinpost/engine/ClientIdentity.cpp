#include "zinpost/engine/ClientIdentity.h"

#include "zinpost/engine/Log.h"

#include "framework/Text.h"

#include <windows.h>
#include <iphlpapi.h>

#include <algorithm>
#include <vector>

const char kDeviceName[] = "KVORTAMLEXWINDOC";

std::string GetAppVersionText() {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16) /* RT_VERSION */);
    const HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = info ? SizeofResource(module, info) : 0;
    if (!data || size == 0) {
        LOG_WRITE(4, "version resource not found[%d]", static_cast<int>(GetLastError()));
        return std::string();
    }
    // The query may write into the block: it gets a copy of the resource.
    std::vector<BYTE> block(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) || !fixed ||
        fixedSize < sizeof(VS_FIXEDFILEINFO)) {
        LOG_WRITE(4, "version resource without file version");
        return std::string();
    }
    return fw::Format("%d.%d.%d.%d", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                      HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
}

std::string MakeDeviceKey() {
    ULONG size = 0;
    if (GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0) return std::string();
    std::vector<BYTE> buffer(size);
    auto* adapters = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
    if (GetAdaptersInfo(adapters, &size) != NO_ERROR) return std::string();
    const UINT length = std::min<UINT>(adapters->AddressLength, MAX_ADAPTER_ADDRESS_LENGTH);
    std::string key;
    for (UINT i = 0; i < length; ++i) key += fw::Format("%02X", adapters->Address[i]);
    return key;
}
