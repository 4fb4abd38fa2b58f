#pragma once
// What the extension's tests share: the built ZinExt.dll loaded by its path
// (Wine's shell never calls context-menu handlers), a hand-made data object
// with a file selection, the recorder program that stands in for zinpost,
// and a helper thread that answers the extension's message box.
#include "tests/support/TempDir.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <string>
#include <thread>
#include <vector>

namespace zinext_test {

using Microsoft::WRL::ComPtr;

class ZinExtLibrary {
public:
    ZinExtLibrary() : ZinExtLibrary(BuiltPath()) {}
    // Another copy, such as an installed one.
    explicit ZinExtLibrary(const std::wstring& path);
    ~ZinExtLibrary();
    ZinExtLibrary(const ZinExtLibrary&) = delete;
    ZinExtLibrary& operator=(const ZinExtLibrary&) = delete;

    static std::wstring BuiltPath();
    bool Loaded() const { return m_module != nullptr; }
    // The path the module was loaded from, as Windows reports it.
    std::wstring LoadedPath() const;

    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const { return m_getClassObject(clsid, riid, ppv); }
    HRESULT CanUnloadNow() const { return m_canUnloadNow(); }
    HRESULT RegisterServer() const { return m_registerServer(); }
    HRESULT UnregisterServer() const { return m_unregisterServer(); }
    HRESULT Install(BOOL install, const wchar_t* command) const { return m_install(install, command); }

    // A new handler object, through the class factory.
    ComPtr<IContextMenu> CreateHandler() const;
    // A new Explorer command object (Windows 11's first menu), the same way.
    ComPtr<IExplorerCommand> CreateCommand() const;

private:
    HMODULE m_module = nullptr;
    HRESULT(STDAPICALLTYPE* m_getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* m_canUnloadNow)() = nullptr;
    HRESULT(STDAPICALLTYPE* m_registerServer)() = nullptr;
    HRESULT(STDAPICALLTYPE* m_unregisterServer)() = nullptr;
    HRESULT(STDAPICALLTYPE* m_install)(BOOL, const wchar_t*) = nullptr;
};

// A data object that offers the paths as CF_HDROP (a wide DROPFILES block in
// movable global memory), as Explorer does; with `offerDrop` false it offers
// nothing.
ComPtr<IDataObject> MakeSelection(const std::vector<std::wstring>& paths, bool offerDrop = true);

// The selection as the Windows 11 menu hands it over: a shell item array of
// the files (which must exist), or null when one cannot be parsed.
ComPtr<IShellItemArray> MakeItemArray(const std::vector<std::wstring>& paths);

// A menu site as Explorer sets one: it answers IOleWindow with `window`.
ComPtr<IUnknown> MakeSite(HWND window);

// What Explorer does when the user picks the Windows 11 entry for `paths`:
// a new command, its state asked (it must be shown) and its Invoke. S_OK
// when the command ran; a failure when a step failed or it was hidden.
HRESULT ChooseCommand(const ZinExtLibrary& library, const std::vector<std::wstring>& paths);

// The recorder program as the program to start: every start is recorded in
// a file of a scratch folder.
class StartRecorder {
public:
    StartRecorder();
    ~StartRecorder();
    StartRecorder(const StartRecorder&) = delete;
    StartRecorder& operator=(const StartRecorder&) = delete;

    static std::wstring ProgramPath();
    // Waits until every recorder this process started has ended, then
    // returns the command line of each start, in order.
    std::vector<std::wstring> Starts() const;

private:
    testing_support::TempDir m_dir;
    std::wstring m_file;
};

// Watches on its own thread for a dialog box of this process and presses
// its OK button, noting what it showed.
class MessageBoxAnswerer {
public:
    MessageBoxAnswerer();
    ~MessageBoxAnswerer();
    MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
    MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;

    struct Seen {
        bool found = false;
        HWND owner = nullptr;
        std::wstring caption;
        std::wstring text;
        bool errorIcon = false;
    };
    // Waits for the helper to finish (a box answered, or none within the time).
    Seen Result();

private:
    void Watch();

    HANDLE m_stop;
    Seen m_seen;
    std::thread m_thread;
};

// What Explorer does when the user picks the extension's entry for `paths`:
// a new handler is initialised with them, builds its menu (the entry's text
// goes to *menuText) and runs its command. S_OK when the command ran; a
// failure when any step failed or the menu did not get exactly one entry.
HRESULT ChooseEntry(const ZinExtLibrary& library, const std::vector<std::wstring>& paths,
                    std::wstring* menuText = nullptr);

// The text or state of a menu item by position.
std::wstring MenuItemText(HMENU menu, UINT position);
bool IsSeparator(HMENU menu, UINT position);

}  // namespace zinext_test
