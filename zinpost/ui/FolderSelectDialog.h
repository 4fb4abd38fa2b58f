#pragma once
// The folder selection dialog: the server's content groups as a tree, the
// stored folder preselected; OK writes the chosen folder's title and id into
// the live settings record (the opener saves).
//
// One object for the whole process keeps the last listing between openings.
// The first opening loads it synchronously; later openings show the kept
// listing at once and refresh it in the background, patching the open tree
// with the differences. The start-up listing thread and the default settings
// dialog's confirmation fill the same kept listing.
//
// One lock guards the kept lists and the loaded flag; every writer and reader
// takes it, and nobody holds it across a request. The tree is only ever
// changed on the user-interface thread: a listing that arrives while a tree
// is shown is handed to that thread, which patches the tree and keeps the
// listing in one step, so the tree always shows the kept lists.
#include "zinpost/engine/ControlJSON.h"
#include "zinpost/engine/ThreadAgent.h"

#include "framework/Dialog.h"
#include "framework/WinHandle.h"

#include <mutex>
#include <string>

class CFolderSelectDialog : public fw::Dialog, public IFolderTree {
public:
    // The process-wide dialog, created on first use and destroyed at exit.
    static CFolderSelectDialog* GetInstance();
    CFolderSelectDialog();

    // --- The kept listing ---
    void SetLoaded(int loaded) override;
    int Loaded() const;
    // Not loaded: fetches the listing into the kept lists now (1 when it
    // holds a top-level group, else 0 with the reason in `error`). Loaded:
    // starts the background refresh and returns 1 at once.
    int GetGroupInfoTree(std::string& error) override;
    // The background refresh (folder-refresh thread): fetches a fresh
    // listing and keeps it, patching an open tree; on failure the next
    // opening loads again. 1 when refreshed.
    int BackGroundUpdateInfoTree() override;
    // Fetches the listing into the kept lists (the default settings dialog's
    // account confirmation); as the listing request.
    int FetchContentGroups(std::string& error);
    // Copies of the kept lists.
    void KeptGroups(ContentGroupList& parents, ContentGroupList& children) const;

    // --- The tree ---
    // Rebuilds the whole tree from the kept lists; 0 when there is no
    // top-level group. Selects the stored folder, else the first root item.
    int setGROUPtoTreeCtrl(HWND tree);
    // True when the new lists equal the kept ones.
    bool CompUpdateContentGroups(const ContentGroupList& newParents, const ContentGroupList& newChildren) const;
    // What differs between two record lists: records of `base` not in
    // `comp` (added), records of `comp` not in `base` (deleted), records of
    // `base` whose id is in `comp` with other fields (rewritten).
    struct GroupChanges {
        ContentGroupList added;
        ContentGroupList deleted;
        ContentGroupList rewritten;
    };
    static void GetDefContentGroup(GroupChanges& out, const ContentGroupList& base, const ContentGroupList& comp);
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
    struct Listing {
        ContentGroupList parents;
        ContentGroupList children;
    };
    // Keeps a fetched listing: at once when no tree is shown, else through
    // the user-interface thread, which patches the tree with it.
    void StoreListing(Listing listing);
    // On the user-interface thread: patches the shown tree to `listing` and
    // keeps it.
    void ApplyListing(Listing& listing);
    void OnOK();
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

    mutable std::mutex m_mutex;  // the kept lists, the loaded flag, m_shownTree
    int m_loaded = 0;
    ContentGroupList m_vstParentGroup;
    ContentGroupList m_vstChildGroup;
    HWND m_shownTree = nullptr;  // the dialog while its tree shows the kept lists
};
