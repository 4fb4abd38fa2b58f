#pragma once
// The module of the in-process server: its instance handle, the lock count
// that tells COM whether the library may be unloaded, the class factory and
// the registration of the class and the context-menu handler.
#include "ZinExt/Registrar.h"

#include <windows.h>
#include <objbase.h>

#include <atomic>

// Creates the objects of one of the library's classes (the classic
// handler, the Explorer command). It lives as long as the module;
// references held by callers count in the module's lock count like objects
// do, so the library stays loaded while anybody holds the factory.
class CZinExtClassFactory final : public IClassFactory {
public:
    using Create = HRESULT (*)(REFIID riid, void** ppv);
    explicit CZinExtClassFactory(Create create) : m_create(create) {}

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;
    IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    IFACEMETHODIMP LockServer(BOOL lock) override;

private:
    Create m_create;
    LONG m_cRef = 0;
};

class CZinExtModule {
public:
    CZinExtModule();
    static CZinExtModule& Get();

    void Attach(HINSTANCE instance) { m_hInstance = instance; }
    HINSTANCE Instance() const { return m_hInstance; }

    void Lock() { InterlockedIncrement(&m_nLockCount); }
    void Unlock() { InterlockedDecrement(&m_nLockCount); }

    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
    HRESULT CanUnloadNow();
    HRESULT RegisterServer();
    HRESULT UnregisterServer();
    // "user" (in any case) switches this and every later registration of
    // the process to the current user's classes.
    HRESULT Install(BOOL install, const wchar_t* commandLine);

private:
    HRESULT UpdateRegistry(zinext::ScriptAction action);
    HRESULT RunScript(UINT id, const zinext::ScriptReplacements& replacements, zinext::ScriptAction action) const;

    HINSTANCE m_hInstance = nullptr;
    LONG m_nLockCount = 0;
    std::atomic<bool> m_bPerUser{false};
    CZinExtClassFactory m_handlerFactory;
    CZinExtClassFactory m_commandFactory;
};
