#include "ZinExt/ZinExtModule.h"

#include "ZinExt/ComBoundary.h"
#include "ZinExt/ZinExtIds.h"
#include "ZinExt/ZinExplorerCommand.h"
#include "ZinExt/ZinShlExt.h"
#include "ZinExt/resource.h"

#include "framework/Text.h"

#include <olectl.h>
#include <shlwapi.h>

#include <new>
#include <string>

namespace {

CZinExtModule g_module;

// The registration runs in the system's default locale, whatever the
// caller's thread uses, and gives the thread its own back afterwards.
class SystemLocaleScope {
public:
    SystemLocaleScope() : m_previous(GetThreadLocale()) { SetThreadLocale(GetSystemDefaultLCID()); }
    ~SystemLocaleScope() { SetThreadLocale(m_previous); }
    SystemLocaleScope(const SystemLocaleScope&) = delete;
    SystemLocaleScope& operator=(const SystemLocaleScope&) = delete;

private:
    LCID m_previous;
};

// One object of `Class`, asked for `riid`.
template <typename Class>
HRESULT CreateObject(REFIID riid, void** ppv) {
    Class* object = new (std::nothrow) Class();
    if (!object) return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

HRESULT LastError() {
    const DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

}  // namespace

// ---- class factory ----

IFACEMETHODIMP CZinExtClassFactory::QueryInterface(REFIID riid, void** ppv) {
    static const QITAB interfaces[] = {
        QITABENT(CZinExtClassFactory, IClassFactory),
        {nullptr, 0},
    };
    return QISearch(this, interfaces, riid, ppv);
}

IFACEMETHODIMP_(ULONG) CZinExtClassFactory::AddRef() {
    CZinExtModule::Get().Lock();
    return InterlockedIncrement(&m_cRef);
}

IFACEMETHODIMP_(ULONG) CZinExtClassFactory::Release() {
    const LONG count = InterlockedDecrement(&m_cRef);
    CZinExtModule::Get().Unlock();
    return count;
}

IFACEMETHODIMP CZinExtClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return zinext::ComBoundary([&] { return m_create(riid, ppv); });
}

IFACEMETHODIMP CZinExtClassFactory::LockServer(BOOL lock) {
    if (lock)
        CZinExtModule::Get().Lock();
    else
        CZinExtModule::Get().Unlock();
    return S_OK;
}

// ---- module ----

CZinExtModule::CZinExtModule()
    : m_handlerFactory(CreateObject<CZinShlExt>), m_commandFactory(CreateObject<CZinExplorerCommand>) {}

CZinExtModule& CZinExtModule::Get() { return g_module; }

HRESULT CZinExtModule::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualCLSID(clsid, zinext::kClsidZinShlExt)) return m_handlerFactory.QueryInterface(riid, ppv);
    if (IsEqualCLSID(clsid, zinext::kClsidZinExplorerCommand)) return m_commandFactory.QueryInterface(riid, ppv);
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CZinExtModule::CanUnloadNow() {
    return InterlockedCompareExchange(&m_nLockCount, 0, 0) == 0 ? S_OK : S_FALSE;
}

HRESULT CZinExtModule::RegisterServer() { return UpdateRegistry(zinext::ScriptAction::Register); }

HRESULT CZinExtModule::UnregisterServer() { return UpdateRegistry(zinext::ScriptAction::Unregister); }

HRESULT CZinExtModule::Install(BOOL install, const wchar_t* commandLine) {
    if (commandLine && CompareStringOrdinal(commandLine, -1, L"user", -1, TRUE) == CSTR_EQUAL) m_bPerUser = true;
    if (!install) return UnregisterServer();
    const HRESULT hr = RegisterServer();
    // A half-done registration is taken back.
    if (FAILED(hr)) UnregisterServer();
    return hr;
}

HRESULT CZinExtModule::UpdateRegistry(zinext::ScriptAction action) {
    SystemLocaleScope locale;
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(m_hInstance, path, MAX_PATH);
    if (length == 0) return LastError();
    // A path that fills the whole buffer may have been cut.
    if (length >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    const zinext::ScriptReplacements replacements = {
        {L"APPID", zinext::kAppIdText},
        {L"MODULE", path},
        {L"MODULE_RAW", path},
    };
    // Unregistration goes in the reverse order of registration.
    const UINT order[] = {IDR_ZINEXT_APPID, IDR_ZINSHLEXT};
    for (size_t i = 0; i < std::size(order); ++i) {
        const UINT id = action == zinext::ScriptAction::Register ? order[i] : order[std::size(order) - 1 - i];
        const HRESULT hr = RunScript(id, replacements, action);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT CZinExtModule::RunScript(UINT id, const zinext::ScriptReplacements& replacements,
                                 zinext::ScriptAction action) const {
    HRSRC resource = FindResourceW(m_hInstance, MAKEINTRESOURCEW(id), L"REGISTRY");
    if (!resource) return LastError();
    const DWORD size = SizeofResource(m_hInstance, resource);
    HGLOBAL loaded = LoadResource(m_hInstance, resource);
    const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!bytes || size == 0) return LastError();
    std::string text(bytes, size);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);  // UTF-8 byte order mark
    const std::wstring script = fw::Utf8ToWide(text);
    if (script.empty()) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    return zinext::RunRegistryScript(script, replacements, action, m_bPerUser);
}

// ---- entry points ----

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    // Only the instance handle: no registry work and no library loading here.
    if (reason == DLL_PROCESS_ATTACH) g_module.Attach(instance);
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
    return zinext::ComBoundary([&] { return g_module.GetClassObject(clsid, riid, ppv); });
}

STDAPI DllCanUnloadNow() { return g_module.CanUnloadNow(); }

STDAPI DllRegisterServer() {
    return zinext::ComBoundary([] { return g_module.RegisterServer(); });
}

STDAPI DllUnregisterServer() {
    return zinext::ComBoundary([] { return g_module.UnregisterServer(); });
}

STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
    return zinext::ComBoundary([&] { return g_module.Install(install, commandLine); });
}
