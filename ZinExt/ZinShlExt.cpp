#include "ZinExt/ZinShlExt.h"

#include "ZinExt/ComBoundary.h"
#include "ZinExt/MenuIcon.h"
#include "ZinExt/ZinExtMenu.h"
#include "ZinExt/ZinExtModule.h"
#include "ZinExt/ZinExtSettings.h"
#include "ZinExt/resource.h"

#include "framework/Text.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <new>

namespace {

// Gives the storage medium back when the selection has been read.
class MediumOwner {
public:
    explicit MediumOwner(STGMEDIUM& medium) : m_medium(medium) {}
    ~MediumOwner() { ReleaseStgMedium(&m_medium); }
    MediumOwner(const MediumOwner&) = delete;
    MediumOwner& operator=(const MediumOwner&) = delete;

private:
    STGMEDIUM& m_medium;
};

class GlobalLockScope {
public:
    explicit GlobalLockScope(HGLOBAL memory) : m_memory(memory), m_pointer(GlobalLock(memory)) {}
    ~GlobalLockScope() {
        if (m_pointer) GlobalUnlock(m_memory);
    }
    GlobalLockScope(const GlobalLockScope&) = delete;
    GlobalLockScope& operator=(const GlobalLockScope&) = delete;
    void* Get() const { return m_pointer; }

private:
    HGLOBAL m_memory;
    void* m_pointer;
};

const HRESULT kOneCommandUsed = MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1);

}  // namespace

CZinShlExt::CZinShlExt() {
    CZinExtModule::Get().Lock();
    m_hMenuBitmap.reset(zinext::CreateMenuIconBitmap(CZinExtModule::Get().Instance(), IDI_ZINEXT_MENU));
}

CZinShlExt::~CZinShlExt() { CZinExtModule::Get().Unlock(); }

IFACEMETHODIMP CZinShlExt::QueryInterface(REFIID riid, void** ppv) {
    static const QITAB interfaces[] = {
        QITABENT(CZinShlExt, IShellExtInit),
        QITABENT(CZinShlExt, IContextMenu),
        {nullptr, 0},
    };
    return QISearch(this, interfaces, riid, ppv);
}

IFACEMETHODIMP_(ULONG) CZinShlExt::AddRef() { return InterlockedIncrement(&m_cRef); }

IFACEMETHODIMP_(ULONG) CZinShlExt::Release() {
    const LONG count = InterlockedDecrement(&m_cRef);
    if (count == 0) delete this;
    return count;
}

IFACEMETHODIMP CZinShlExt::Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY) {
    return zinext::ComBoundary([&] { return CollectSelection(data); });
}

HRESULT CZinShlExt::CollectSelection(IDataObject* data) {
    // A selection that cannot be read must not leave the previous one to be
    // started.
    m_nSelCount = 0;
    if (!data) return E_INVALIDARG;
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    if (FAILED(data->GetData(&format, &medium))) return E_INVALIDARG;
    MediumOwner owner(medium);
    if (medium.tymed != TYMED_HGLOBAL || !medium.hGlobal) return E_INVALIDARG;
    GlobalLockScope lock(medium.hGlobal);
    HDROP drop = static_cast<HDROP>(lock.Get());
    if (!drop) return E_INVALIDARG;

    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    if (count == 0) return E_INVALIDARG;
    m_selection.clear();
    m_nSelCount = count;
    // Too many to start: the count says so, and no path is read. Each read
    // by index walks the list from its start, so reading them all costs the
    // square of the count, on Explorer's window thread.
    if (zinext::TooManyFiles(count)) return S_OK;
    m_selection.reserve(count);
    for (UINT i = 0; i < count; ++i) {
        // Each path whole: a path cut short may name another file.
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        if (length == 0) continue;
        std::wstring path(static_cast<size_t>(length) + 1, L'\0');
        path.resize(DragQueryFileW(drop, i, path.data(), length + 1));
        if (!path.empty()) m_selection.push_back(std::move(path));
    }
    m_nSelCount = static_cast<UINT>(m_selection.size());
    return S_OK;
}

IFACEMETHODIMP CZinShlExt::QueryContextMenu(HMENU menu, UINT index, UINT idCmdFirst, UINT idCmdLast, UINT flags) {
    if (flags & CMF_DEFAULTONLY) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    // Whatever happens, Explorer is told that one id is ours.
    zinext::ComBoundary([&] {
        m_exeFile.clear();
        zinext::ExtensionSettings settings;
        if (!zinext::ReadExtensionSettings(settings) || idCmdFirst > idCmdLast) return S_OK;
        if (zinext::InsertMenuEntry(menu, index, idCmdFirst, zinext::MenuText(settings.folderName),
                                    static_cast<HBITMAP>(m_hMenuBitmap.get())))
            m_exeFile = std::move(settings.exeFile);
        return S_OK;
    });
    return kOneCommandUsed;
}

IFACEMETHODIMP CZinShlExt::GetCommandString(UINT_PTR idCmd, UINT type, UINT*, CHAR* name, UINT cchMax) {
    return zinext::ComBoundary([&] {
        if (idCmd != 0) return E_INVALIDARG;
        switch (type) {
        case GCS_HELPTEXTW:
            return zinext::CopyCutW(zinext::kHelpText, reinterpret_cast<wchar_t*>(name), cchMax) ? S_OK
                                                                                                : E_INVALIDARG;
        case GCS_HELPTEXTA: {
            const UINT codePage = zinext::ThreadAnsiCodePage();
            return zinext::CopyCutA(fw::FromWide(zinext::kHelpText, codePage), codePage, name, cchMax) ? S_OK
                                                                                                      : E_INVALIDARG;
        }
        default:
            return E_INVALIDARG;  // no verbs: the entry is reached by its id only
        }
    });
}

IFACEMETHODIMP CZinShlExt::InvokeCommand(CMINVOKECOMMANDINFO* info) {
    return zinext::ComBoundary([&] {
        if (!info || !IS_INTRESOURCE(info->lpVerb) || LOWORD(reinterpret_cast<ULONG_PTR>(info->lpVerb)) != 0)
            return E_INVALIDARG;
        if (m_nSelCount == 0) return S_OK;
        zinext::StartPlan plan = zinext::PlanStart(m_nSelCount, m_selection);
        if (plan.refusal)
            MessageBoxW(info->hwnd, plan.refusal, zinext::kMessageCaption, MB_OK | MB_ICONERROR);
        else
            zinext::StartProgram(m_exeFile, plan.commandLine);
        return S_OK;
    });
}
