#pragma once
// The extension's identifiers. GCC ignores __declspec(uuid) on classes, so
// the class id is spelled out here; the registration scripts carry the same
// values as text.
#include <windows.h>

namespace zinext {

// {5C1E9B47-2A6D-4F83-9E10-7B4D3A6C2F58}
constexpr CLSID kClsidZinShlExt = {0x5C1E9B47, 0x2A6D, 0x4F83, {0x9E, 0x10, 0x7B, 0x4D, 0x3A, 0x6C, 0x2F, 0x58}};
constexpr wchar_t kClsidZinShlExtText[] = L"{5C1E9B47-2A6D-4F83-9E10-7B4D3A6C2F58}";
// {EA041F6B-2F8E-4425-897B-6F7A3ED05619}: the Explorer command of Windows
// 11's first menu, named by the sparse package's manifest.
constexpr CLSID kClsidZinExplorerCommand = {0xEA041F6B, 0x2F8E, 0x4425, {0x89, 0x7B, 0x6F, 0x7A, 0x3E, 0xD0, 0x56, 0x19}};
constexpr wchar_t kClsidZinExplorerCommandText[] = L"{EA041F6B-2F8E-4425-897B-6F7A3ED05619}";
// The application id, put in for %APPID% in the registration scripts.
constexpr wchar_t kAppIdText[] = L"{A83F2D61-7C94-4B2E-8D05-19E6C4B7F3A2}";

}  // namespace zinext
