// Entry points of zinpostresult.dll: the module handle and the one export
// that the program calls at the end of an upload run.
#include "DisplayResult.h"

#include "common/DisplayResultApi.h"

#include <type_traits>

namespace {

// The library's own module: the dialog template comes from it, not from the
// program that loaded it.
HINSTANCE g_module = nullptr;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}

// Shows the result dialog and returns 1 once the user has closed it. The
// caller ignores the result and goes on with its run whatever happens here,
// so nothing may escape: a failure just means no dialog.
extern "C" int __stdcall ExDisplayResult(HWND owner, std::string target, UploadEntryList* results, int count) {
    try {
        CDisplayResult dialog(g_module);
        dialog.ShowResult(owner, std::move(target), results, count);
    } catch (...) {
    }
    return 1;
}

// The program calls through this type: the export must match it exactly.
static_assert(std::is_same_v<decltype(&ExDisplayResult), ExDisplayResultFunction>,
              "ExDisplayResult does not match ExDisplayResultFunction");
