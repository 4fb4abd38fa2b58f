#include "ZinExt/ZinExplorerCommand.h"

#include "ZinExt/ComBoundary.h"
#include "ZinExt/ZinExtIds.h"
#include "ZinExt/ZinExtMenu.h"
#include "ZinExt/ZinExtModule.h"
#include "ZinExt/resource.h"

#include "framework/Profile.h"

#include <shlwapi.h>

#include <vector>

namespace {

// The paths of the selection, each whole. False when an item has none (it
// is not a file of the file system) or cannot be read.
bool SelectionPaths(IShellItemArray* items, DWORD count, std::vector<std::wstring>& paths) {
    paths.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        Microsoft::WRL::ComPtr<IShellItem> item;
        if (FAILED(items->GetItemAt(i, &item))) return false;
        LPWSTR path = nullptr;
        if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) || !path) return false;
        paths.emplace_back(path);
        CoTaskMemFree(path);
    }
    return true;
}

}  // namespace

CZinExplorerCommand::CZinExplorerCommand() { CZinExtModule::Get().Lock(); }

CZinExplorerCommand::~CZinExplorerCommand() { CZinExtModule::Get().Unlock(); }

IFACEMETHODIMP CZinExplorerCommand::QueryInterface(REFIID riid, void** ppv) {
    static const QITAB interfaces[] = {
        QITABENT(CZinExplorerCommand, IExplorerCommand),
        QITABENT(CZinExplorerCommand, IObjectWithSite),
        {nullptr, 0},
    };
    return QISearch(this, interfaces, riid, ppv);
}

IFACEMETHODIMP_(ULONG) CZinExplorerCommand::AddRef() { return InterlockedIncrement(&m_cRef); }

IFACEMETHODIMP_(ULONG) CZinExplorerCommand::Release() {
    const LONG count = InterlockedDecrement(&m_cRef);
    if (count == 0) delete this;
    return count;
}

bool CZinExplorerCommand::EntryOffered() {
    if (!m_settingsRead) {
        m_offered = zinext::ReadExtensionSettings(m_settings);
        m_settingsRead = true;
    }
    return m_offered;
}

HWND CZinExplorerCommand::SiteWindow() const {
    HWND window = nullptr;
    if (m_site && SUCCEEDED(IUnknown_GetWindow(m_site.Get(), &window))) return window;
    return nullptr;
}

IFACEMETHODIMP CZinExplorerCommand::GetTitle(IShellItemArray*, LPWSTR* name) {
    return zinext::ComBoundary([&] {
        if (!name) return E_POINTER;
        *name = nullptr;
        if (!EntryOffered()) return E_FAIL;
        return SHStrDupW(zinext::MenuText(m_settings.folderName).c_str(), name);
    });
}

IFACEMETHODIMP CZinExplorerCommand::GetIcon(IShellItemArray*, LPWSTR* icon) {
    return zinext::ComBoundary([&] {
        if (!icon) return E_POINTER;
        *icon = nullptr;
        // The classic entry's picture: "<this library>,-<icon id>".
        const std::wstring path = fw::ModulePath(CZinExtModule::Get().Instance());
        if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
        return SHStrDupW((path + L",-" + std::to_wstring(IDI_ZINEXT_MENU)).c_str(), icon);
    });
}

IFACEMETHODIMP CZinExplorerCommand::GetToolTip(IShellItemArray*, LPWSTR* infoTip) {
    if (infoTip) *infoTip = nullptr;
    return E_NOTIMPL;
}

IFACEMETHODIMP CZinExplorerCommand::GetCanonicalName(GUID* name) {
    if (!name) return E_POINTER;
    *name = zinext::kClsidZinExplorerCommand;
    return S_OK;
}

IFACEMETHODIMP CZinExplorerCommand::GetState(IShellItemArray*, BOOL okToBeSlow, EXPCMDSTATE* state) {
    return zinext::ComBoundary([&] {
        if (!state) return E_POINTER;
        *state = ECS_HIDDEN;
        // Reading the registry may wait: not on a call that must be quick.
        if (!m_settingsRead && !okToBeSlow) return E_PENDING;
        if (!EntryOffered()) return S_OK;
        if (HWND window = SiteWindow()) {
            wchar_t className[64] = {};
            GetClassNameW(window, className, 64);
            if (zinext::IsClassicMenuWindowClass(className)) return S_OK;
        }
        *state = ECS_ENABLED;
        return S_OK;
    });
}

IFACEMETHODIMP CZinExplorerCommand::Invoke(IShellItemArray* items, IBindCtx*) {
    return zinext::ComBoundary([&] {
        if (!items) return E_INVALIDARG;
        DWORD count = 0;
        if (FAILED(items->GetCount(&count)) || count == 0) return S_OK;
        if (!EntryOffered()) return S_OK;
        // Too many: refused by the count alone, no path is read.
        std::vector<std::wstring> paths;
        if (!zinext::TooManyFiles(count) && !SelectionPaths(items, count, paths)) return S_OK;
        zinext::StartPlan plan = zinext::PlanStart(count, paths);
        if (plan.refusal)
            MessageBoxW(SiteWindow(), plan.refusal, zinext::kMessageCaption, MB_OK | MB_ICONERROR);
        else
            zinext::StartProgram(m_settings.exeFile, plan.commandLine);
        return S_OK;
    });
}

IFACEMETHODIMP CZinExplorerCommand::GetFlags(EXPCMDFLAGS* flags) {
    if (!flags) return E_POINTER;
    *flags = ECF_DEFAULT;
    return S_OK;
}

IFACEMETHODIMP CZinExplorerCommand::EnumSubCommands(IEnumExplorerCommand** commands) {
    if (commands) *commands = nullptr;
    return E_NOTIMPL;
}

IFACEMETHODIMP CZinExplorerCommand::SetSite(IUnknown* site) {
    m_site = site;
    return S_OK;
}

IFACEMETHODIMP CZinExplorerCommand::GetSite(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return m_site ? m_site.CopyTo(riid, ppv) : E_FAIL;
}
