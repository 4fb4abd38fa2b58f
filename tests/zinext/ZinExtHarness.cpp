#include "tests/zinext/ZinExtHarness.h"

#include "ZinExt/ZinExtIds.h"

#include "framework/Profile.h"
#include "framework/WinHandle.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <cstring>
#include <stdexcept>

namespace zinext_test {
namespace {

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

template <typename F>
void Resolve(HMODULE module, const char* name, F& function) {
    function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!function) throw std::runtime_error(std::string("ZinExt.dll does not export ") + name);
}

// The IUnknown of a test object that offers one interface; it starts with
// one reference, its creator's.
template <typename Interface, const IID* Iid>
class TestObject : public Interface {
public:
    virtual ~TestObject() = default;
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, *Iid)) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_cRef); }
    IFACEMETHODIMP_(ULONG) Release() override {
        const LONG count = InterlockedDecrement(&m_cRef);
        if (count == 0) delete this;
        return count;
    }

private:
    LONG m_cRef = 1;
};

class DropDataObject final : public TestObject<IDataObject, &IID_IDataObject> {
public:
    DropDataObject(std::vector<BYTE> block, bool offerDrop) : m_block(std::move(block)), m_offerDrop(offerDrop) {}

    IFACEMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
        const HRESULT hr = QueryGetData(format);
        if (FAILED(hr)) return hr;
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, m_block.size());
        if (!memory) return E_OUTOFMEMORY;
        memcpy(GlobalLock(memory), m_block.data(), m_block.size());
        GlobalUnlock(memory);
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = memory;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    IFACEMETHODIMP QueryGetData(FORMATETC* format) override {
        if (!m_offerDrop || !format || format->cfFormat != CF_HDROP || !(format->tymed & TYMED_HGLOBAL))
            return DV_E_FORMATETC;
        return S_OK;
    }
    IFACEMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    IFACEMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        if (out) out->ptd = nullptr;
        return E_NOTIMPL;
    }
    IFACEMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    IFACEMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    IFACEMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    IFACEMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    IFACEMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    ~DropDataObject() = default;
    std::vector<BYTE> m_block;
    bool m_offerDrop;
};

// The recorder processes this process started (their parent is this one).
std::vector<fw::UniqueKernelHandle> RecorderChildren() {
    std::vector<fw::UniqueKernelHandle> children;
    const std::wstring program = StartRecorder::ProgramPath();
    const std::wstring name = program.substr(program.find_last_of(L'\\') + 1);
    fw::UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) {
        snapshot.release();
        throw std::runtime_error("no process snapshot");
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID != GetCurrentProcessId() || _wcsicmp(entry.szExeFile, name.c_str()) != 0)
            continue;
        fw::UniqueKernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (process) children.push_back(std::move(process));
    }
    return children;
}

BOOL CALLBACK FindBox(HWND window, LPARAM parameter) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t className[16] = {};
    if (process == GetCurrentProcessId() && IsWindowVisible(window) &&
        GetClassNameW(window, className, 16) && wcscmp(className, L"#32770") == 0) {
        *reinterpret_cast<HWND*>(parameter) = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK ReadBoxChild(HWND child, LPARAM parameter) {
    auto& seen = *reinterpret_cast<MessageBoxAnswerer::Seen*>(parameter);
    wchar_t className[16] = {};
    if (!GetClassNameW(child, className, 16) || _wcsicmp(className, L"Static") != 0) return TRUE;
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        const HICON shown = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        // The system's shared error icon (IDI_ERROR, 32513): the same handle in the whole process.
        seen.errorIcon = shown && shown == LoadIconW(nullptr, MAKEINTRESOURCEW(32513));
    } else {
        wchar_t text[512] = {};
        GetWindowTextW(child, text, 512);
        if (text[0]) seen.text = text;
    }
    return TRUE;
}

}  // namespace

// ---- ZinExtLibrary ----

std::wstring ZinExtLibrary::BuiltPath() {
    // The build tree is a Unix path, seen by Windows programs on drive Z:.
    std::wstring path = L"Z:" + std::wstring(ZINEXT_DLL_UNIX_PATH);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

ZinExtLibrary::ZinExtLibrary(const std::wstring& path) {
    m_module = LoadLibraryW(path.c_str());
    if (!m_module) throw std::runtime_error("ZinExt.dll not loaded");
    Resolve(m_module, "DllGetClassObject", m_getClassObject);
    Resolve(m_module, "DllCanUnloadNow", m_canUnloadNow);
    Resolve(m_module, "DllRegisterServer", m_registerServer);
    Resolve(m_module, "DllUnregisterServer", m_unregisterServer);
    Resolve(m_module, "DllInstall", m_install);
}

ZinExtLibrary::~ZinExtLibrary() {
    if (m_module) FreeLibrary(m_module);
}

std::wstring ZinExtLibrary::LoadedPath() const {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(m_module, path, MAX_PATH);
    return path;
}

ComPtr<IContextMenu> ZinExtLibrary::CreateHandler() const {
    ComPtr<IClassFactory> factory;
    ComPtr<IContextMenu> handler;
    if (SUCCEEDED(GetClassObject(zinext::kClsidZinShlExt, IID_PPV_ARGS(&factory))))
        factory->CreateInstance(nullptr, IID_PPV_ARGS(&handler));
    return handler;
}

ComPtr<IExplorerCommand> ZinExtLibrary::CreateCommand() const {
    ComPtr<IClassFactory> factory;
    ComPtr<IExplorerCommand> command;
    if (SUCCEEDED(GetClassObject(zinext::kClsidZinExplorerCommand, IID_PPV_ARGS(&factory))))
        factory->CreateInstance(nullptr, IID_PPV_ARGS(&command));
    return command;
}

// ---- selection ----

ComPtr<IShellItemArray> MakeItemArray(const std::vector<std::wstring>& paths) {
    std::vector<PIDLIST_ABSOLUTE> lists;
    bool parsed = true;
    for (const std::wstring& path : paths) {
        PIDLIST_ABSOLUTE list = nullptr;
        if (FAILED(SHParseDisplayName(path.c_str(), nullptr, &list, 0, nullptr))) {
            parsed = false;
            break;
        }
        lists.push_back(list);
    }
    ComPtr<IShellItemArray> items;
    if (parsed)
        SHCreateShellItemArrayFromIDLists(static_cast<UINT>(lists.size()),
                                          const_cast<PCIDLIST_ABSOLUTE_ARRAY>(lists.data()), &items);
    for (PIDLIST_ABSOLUTE list : lists) CoTaskMemFree(list);
    return items;
}

namespace {
class WindowSite final : public TestObject<IOleWindow, &IID_IOleWindow> {
public:
    explicit WindowSite(HWND window) : m_window(window) {}
    IFACEMETHODIMP GetWindow(HWND* window) override {
        *window = m_window;
        return S_OK;
    }
    IFACEMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

private:
    HWND m_window;
};
}  // namespace

ComPtr<IUnknown> MakeSite(HWND window) {
    ComPtr<IUnknown> site;
    site.Attach(static_cast<IOleWindow*>(new WindowSite(window)));
    return site;
}

ComPtr<IDataObject> MakeSelection(const std::vector<std::wstring>& paths, bool offerDrop) {
    std::wstring list;
    for (const std::wstring& path : paths) list += path + L'\0';
    list += L'\0';
    std::vector<BYTE> block(sizeof(DROPFILES) + list.size() * sizeof(wchar_t));
    DROPFILES header{};
    header.pFiles = sizeof header;
    header.fWide = TRUE;
    memcpy(block.data(), &header, sizeof header);
    memcpy(block.data() + sizeof header, list.data(), list.size() * sizeof(wchar_t));
    ComPtr<IDataObject> data;
    data.Attach(new DropDataObject(std::move(block), offerDrop));
    return data;
}

// ---- StartRecorder ----

StartRecorder::StartRecorder() : m_file(m_dir.File(L"starts.txt")) {
    // The extension starts the program with the caller's environment.
    SetEnvironmentVariableW(L"ZINEXT_RECORD_FILE", m_file.c_str());
}

StartRecorder::~StartRecorder() {
    for (const auto& child : RecorderChildren()) WaitForSingleObject(child.get(), 30000);
    SetEnvironmentVariableW(L"ZINEXT_RECORD_FILE", nullptr);
}

// Named as the program: the extension starts nothing else.
std::wstring StartRecorder::ProgramPath() { return FolderOf(fw::ProgramPath()) + L"\\recorder\\zinpost.exe"; }

std::vector<std::wstring> StartRecorder::Starts() const {
    for (const auto& child : RecorderChildren()) {
        if (WaitForSingleObject(child.get(), 30000) != WAIT_OBJECT_0)
            throw std::runtime_error("recorder did not end");
    }
    const std::string bytes = testing_support::ReadFileBytes(m_file);
    std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
    memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
    std::vector<std::wstring> starts;
    size_t begin = 0;
    for (size_t end; (end = text.find(L'\n', begin)) != std::wstring::npos; begin = end + 1)
        starts.push_back(text.substr(begin, end - begin));
    return starts;
}

// ---- MessageBoxAnswerer ----

MessageBoxAnswerer::MessageBoxAnswerer()
    : m_stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_thread(&MessageBoxAnswerer::Watch, this) {}

MessageBoxAnswerer::~MessageBoxAnswerer() {
    Result();
    CloseHandle(m_stop);
}

MessageBoxAnswerer::Seen MessageBoxAnswerer::Result() {
    SetEvent(m_stop);
    if (m_thread.joinable()) m_thread.join();
    return m_seen;
}

void MessageBoxAnswerer::Watch() {
    // A box shows while the call under test runs on the test's thread; the
    // test stops the watch once that call has returned.
    for (int round = 0; round < 3000; ++round) {
        HWND box = nullptr;
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&box));
        if (box) {
            m_seen.found = true;
            m_seen.owner = GetWindow(box, GW_OWNER);
            wchar_t caption[256] = {};
            GetWindowTextW(box, caption, 256);
            m_seen.caption = caption;
            EnumChildWindows(box, ReadBoxChild, reinterpret_cast<LPARAM>(&m_seen));
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
            return;
        }
        if (WaitForSingleObject(m_stop, 20) == WAIT_OBJECT_0) return;
    }
}

// ---- menus ----

HRESULT ChooseEntry(const ZinExtLibrary& library, const std::vector<std::wstring>& paths, std::wstring* menuText) {
    ComPtr<IContextMenu> handler = library.CreateHandler();
    if (!handler) return E_NOINTERFACE;
    ComPtr<IShellExtInit> init;
    HRESULT hr = handler.As(&init);
    if (FAILED(hr)) return hr;
    hr = init->Initialize(nullptr, MakeSelection(paths).Get(), nullptr);
    if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
    HMENU menu = CreatePopupMenu();
    hr = handler->QueryContextMenu(menu, 0, 100, 110, CMF_NORMAL);
    if (menuText) *menuText = MenuItemText(menu, 1);
    DestroyMenu(menu);
    if (hr != MAKE_HRESULT(SEVERITY_SUCCESS, 0, 1)) return FAILED(hr) ? hr : E_FAIL;  // one entry
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof info;
    info.lpVerb = MAKEINTRESOURCEA(0);
    info.nShow = SW_SHOWNORMAL;
    return handler->InvokeCommand(&info);
}

HRESULT ChooseCommand(const ZinExtLibrary& library, const std::vector<std::wstring>& paths) {
    ComPtr<IExplorerCommand> command = library.CreateCommand();
    if (!command) return E_NOINTERFACE;
    ComPtr<IShellItemArray> items = MakeItemArray(paths);
    if (!items) return E_INVALIDARG;
    EXPCMDSTATE state = ECS_HIDDEN;
    HRESULT hr = command->GetState(items.Get(), TRUE, &state);
    if (FAILED(hr)) return hr;
    if (state != ECS_ENABLED) return E_FAIL;
    return command->Invoke(items.Get(), nullptr);
}

std::wstring MenuItemText(HMENU menu, UINT position) {
    wchar_t text[512] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = text;
    info.cch = 512;
    if (!GetMenuItemInfoW(menu, position, TRUE, &info)) return L"<no item>";
    return text;
}

bool IsSeparator(HMENU menu, UINT position) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE;
    return GetMenuItemInfoW(menu, position, TRUE, &info) && (info.fType & MFT_SEPARATOR);
}

}  // namespace zinext_test
