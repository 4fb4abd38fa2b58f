#pragma once
// The folder selection dialog: the server's content groups as a tree, the
// stored folder preselected; OK writes the chosen folder's title and id into
// the live settings record (the opener saves).
//
// One object for the whole process. The listing it shows is the process's
// kept listing (CContentGroupCache): the first opening loads it
// synchronously; later openings show it at once and refresh it in the
// background, patching the open tree with the differences. The tree is only
// ever changed on the user-interface thread: a listing that arrives while
// the tree is shown is handed to that thread, which patches the tree and has
// the cache keep the listing in one step.
#include "zinpost/engine/ContentGroupCache.h"

#include "framework/Dialog.h"
#include "framework/WinHandle.h"

#include <atomic>
#include <string>

class CFolderSelectDialog : public fw::Dialog, public IGroupListingView {
public:
    // The process-wide dialog, created on first use and destroyed at exit.
    static CFolderSelectDialog* GetInstance();
    CFolderSelectDialog();

    // --- The kept listing (the cache's, reached through the dialog) ---
    // Not loaded: fetches the listing now (1 when it holds a top-level
    // group, else 0 with the reason in `error`). Loaded: starts the
    // background refresh and returns 1 at once.
    int GetGroupInfoTree(std::string& error);
    // The background refresh; 1 when refreshed.
    int BackGroundUpdateInfoTree();
    // True when the new lists equal the kept ones.
    bool CompUpdateContentGroups(const ContentGroupList& newParents, const ContentGroupList& newChildren) const;
    static void GetDefContentGroup(GroupChanges& out, const ContentGroupList& base, const ContentGroupList& comp);

    // --- The tree ---
    // Rebuilds the whole tree from the kept lists; 0 when there is no
    // top-level group. Selects the stored folder, else the first root item.
    int setGROUPtoTreeCtrl(HWND tree);
    // Patches the tree; 0 when that failed.
    int UpdateCtrlTree(HWND tree, const GroupChanges& changes);

    // The folder chosen on OK; the name is cleared when loading failed.
    std::string m_strSelectedName;
    int m_nSelectedId = 0;

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD id, WORD notifyCode, HWND control) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    // IGroupListingView: hands `fresh` to the dialog's thread.
    bool ShowListing(GroupListing& fresh) override;
    // On the user-interface thread: patches the shown tree to `fresh` and
    // has the cache keep it.
    void ApplyListing(GroupListing& fresh);
    void OnOK() override;
    void OnExpandCollapse();
    static void ExpandAll(HWND tree, bool expand);
    static void SelectAtTop(HWND tree, HTREEITEM item);
    // `after` is TVI_SORT for the tree's own alphabetical place, or TVI_LAST;
    // `expanded` shows the children it will get.
    HTREEITEM InsertGroup(HWND tree, HTREEITEM parent, const ContentGroup& group, HTREEITEM after, bool expanded) const;

    fw::UniqueImageList m_images;
    int m_bCollapsed = 0;
    HTREEITEM m_hChosenItem = nullptr;          // selected when the tree was collapsed
    HTREEITEM m_hCollapsedSelection = nullptr;  // where collapsing moved the selection
    HWND m_tree = nullptr;
    HWND m_btnExpand = nullptr;
    // The dialog while its tree shows the kept listing; read by the thread
    // that brings a fresh one.
    std::atomic<HWND> m_shown{nullptr};
};
