#pragma once
// The entry of Windows 11's first context menu: an Explorer command that a
// sparse package declares (Windows shows no classic handler there). It
// offers what the classic handler offers, with the same text, icon and
// rules, and runs in a surrogate process, never in Explorer and never with
// Explorer's current folder. Apartment-threaded like the classic handler:
// all calls on one object come from one thread.
#include "ZinExt/ZinExtSettings.h"

#include <windows.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <string>

class CZinExplorerCommand final : public IExplorerCommand, public IObjectWithSite {
public:
    CZinExplorerCommand();
    CZinExplorerCommand(const CZinExplorerCommand&) = delete;
    CZinExplorerCommand& operator=(const CZinExplorerCommand&) = delete;

    // IUnknown
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;

    // IExplorerCommand
    IFACEMETHODIMP GetTitle(IShellItemArray* items, LPWSTR* name) override;
    IFACEMETHODIMP GetIcon(IShellItemArray* items, LPWSTR* icon) override;
    IFACEMETHODIMP GetToolTip(IShellItemArray* items, LPWSTR* infoTip) override;
    IFACEMETHODIMP GetCanonicalName(GUID* name) override;
    IFACEMETHODIMP GetState(IShellItemArray* items, BOOL okToBeSlow, EXPCMDSTATE* state) override;
    IFACEMETHODIMP Invoke(IShellItemArray* items, IBindCtx* bindContext) override;
    IFACEMETHODIMP GetFlags(EXPCMDFLAGS* flags) override;
    IFACEMETHODIMP EnumSubCommands(IEnumExplorerCommand** commands) override;

    // IObjectWithSite
    IFACEMETHODIMP SetSite(IUnknown* site) override;
    IFACEMETHODIMP GetSite(REFIID riid, void** ppv) override;

private:
    ~CZinExplorerCommand();
    // Reads the settings the first time; whether the entry can be offered.
    bool EntryOffered();
    // The window of the menu that hosts the command (through its site), or null.
    HWND SiteWindow() const;

    LONG m_cRef = 1;
    Microsoft::WRL::ComPtr<IUnknown> m_site;
    bool m_settingsRead = false;
    bool m_offered = false;
    zinext::ExtensionSettings m_settings;
};
