#pragma once
// The context-menu handler: Explorer creates one object per context menu,
// hands it the selection (Initialize), lets it add its entry
// (QueryContextMenu) and, when the user picks the entry, has it start
// zinpost with the selected files (InvokeCommand). Apartment-threaded: all
// calls on one object come from the thread that created it, so the object
// takes no locks.
#include "ZinExt/ZinExtMenu.h"

#include <windows.h>
#include <shlobj.h>

class CZinShlExt final : public IShellExtInit, public IContextMenu {
public:
    CZinShlExt();
    CZinShlExt(const CZinShlExt&) = delete;
    CZinShlExt& operator=(const CZinShlExt&) = delete;

    // IUnknown
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;

    // IShellExtInit
    IFACEMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY progId) override;

    // IContextMenu
    IFACEMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT idCmdFirst, UINT idCmdLast, UINT flags) override;
    IFACEMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
    IFACEMETHODIMP GetCommandString(UINT_PTR idCmd, UINT type, UINT* reserved, CHAR* name, UINT cchMax) override;

private:
    ~CZinShlExt();
    HRESULT CollectSelection(IDataObject* data);
    void StartProgram() const;

    LONG m_cRef = 1;
    zinext::PathSlot* m_pSelFiles = nullptr;  // m_nSelCapacity slots and one spare
    UINT m_nSelCapacity = 0;
    UINT m_nSelCount = 0;
    wchar_t m_szExeFile[MAX_PATH + 1] = {};
    HBITMAP m_hMenuBitmap = nullptr;
};
