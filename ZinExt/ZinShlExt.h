#pragma once
// The context-menu handler: Explorer creates one object per context menu,
// hands it the selection (Initialize), lets it add its entry
// (QueryContextMenu) and, when the user picks the entry, has it start
// zinpost with the selected files (InvokeCommand). Apartment-threaded: all
// calls on one object come from the thread that created it, so the object
// takes no locks.
#include "framework/WinHandle.h"

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

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

    LONG m_cRef = 1;
    // The selection's paths, whole; not read when there are too many.
    std::vector<std::wstring> m_selection;
    UINT m_nSelCount = 0;   // the items selected, also when their paths were not read
    std::wstring m_exeFile; // the program as the last menu read it; empty: no entry
    fw::UniqueGdiObject m_hMenuBitmap;
};
