#pragma once
// A dialog from a resource template bound to a C++ object: the object pointer
// travels through the creation parameter, lives in DWLP_USER from
// WM_INITDIALOG on, and is cleared when the window goes away, so no message
// reaches a half-destroyed object.
#include <windows.h>
#include <functional>
#include <string>

namespace fw {

class Dialog {
public:
    // `module` holds the template; null means the program file.
    explicit Dialog(UINT templateId, HINSTANCE module = nullptr);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Runs the dialog modally with a message loop of our own (so that
    // PreTranslateMessage sees every message first); returns the value given
    // to EndDialog, or -1 when the window could not be created.
    INT_PTR DoModal(HWND parent);
    // Creates the dialog modeless (for popups); null on failure.
    HWND Create(HWND parent);

    HWND Hwnd() const { return m_hwnd; }
    HINSTANCE Module() const { return m_module; }
    void EndDialog(INT_PTR result);
    // The result of a message whose dialog procedure answer is the handled
    // flag (for example WM_SETCURSOR's TRUE).
    void SetMessageResult(LRESULT result) const { SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, result); }

    // Once the dialog is first on screen it posts itself `message`, and
    // OnShown runs when that message arrives: work done with the window
    // shown (0: nothing is posted).
    void PostWhenShown(UINT message) { m_showMessage = message; }

    // Hands `work` to the dialog's thread without waiting for it (at once on
    // that thread): for a worker's updates of the window, which need not
    // wait while the window thread paints. Work is done in the order it was
    // posted; work still queued when the window goes is dropped.
    void PostToWindowThread(std::function<void()> work) const;

    HWND Item(int id) const { return GetDlgItem(m_hwnd, id); }
    void SetItemText(int id, const std::wstring& text) const;
    void SetItemTextAnsi(int id, const std::string& text) const;
    std::wstring ItemText(int id) const;
    std::string ItemTextAnsi(int id) const;
    void ShowItem(int id, bool show) const;
    void EnableItem(int id, bool enable) const;

protected:
    // Extended styles of the template the window is created without (for
    // example WS_EX_TOPMOST): set before the window is made, cheaper than a
    // change once it exists.
    void RemoveExStyleAtCreation(DWORD exStyle) { m_exStyleRemoved = exStyle; }

    // Return TRUE to let the system set the default focus.
    virtual BOOL OnInitDialog() { return TRUE; }
    // The message of PostWhenShown arrived.
    virtual void OnShown() {}
    // WM_COMMAND; return true when handled. By default OK and Cancel go to
    // OnOK and OnCancel.
    virtual bool OnCommand(WORD id, WORD notifyCode, HWND control);
    // OK (Enter) and Cancel (Escape, the close box): by default the dialog
    // ends with their id.
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // Any other message. Set `handled` and return the dialog procedure's
    // result (set through DWLP_MSGRESULT where the message needs it).
    virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    // Sees every message of the modal loop before the dialog manager; return
    // true to swallow it.
    virtual bool PreTranslateMessage(MSG&) { return false; }
    // A C++ exception reached the dialog procedure; it must not go on into
    // Windows. By default the dialog ends with -1.
    virtual void OnUnexpectedException();

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // Makes the window from the template, less the removed extended styles.
    HWND CreateFromTemplate(HWND parent);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    HINSTANCE m_module;
    HWND m_hwnd = nullptr;
    bool m_modal = false;
    bool m_ended = false;
    UINT m_showMessage = 0;
    DWORD m_exStyleRemoved = 0;
    bool m_shown = false;
    INT_PTR m_result = -1;
};

}  // namespace fw
