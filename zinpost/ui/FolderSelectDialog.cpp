#include "zinpost/ui/FolderSelectDialog.h"

#include "zinpost/engine/AppSettings.h"
#include "zinpost/engine/CommServer.h"
#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/ui/resource.h"

#include "framework/Font.h"
#include "framework/MessageBox.h"
#include "framework/Text.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <iterator>

namespace {

// Sent by a thread with a fresh listing to the dialog showing the tree.
constexpr UINT WM_APPLY_LISTING = WM_APP + 1;
constexpr int kImageSize = 20;
const char kNullParent[] = "null";

int ImageForType(const std::string& type) {
    switch (std::atoi(type.c_str())) {
    case 0:
        return 0;
    case 1:
        return 1;
    default:
        return 2;
    }
}

int IdOf(const std::string& text) { return std::atoi(text.c_str()); }

LPARAM ItemData(HWND tree, HTREEITEM item) {
    TVITEMW tv{};
    tv.mask = TVIF_PARAM | TVIF_HANDLE;
    tv.hItem = item;
    return SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv)) ? tv.lParam : 0;
}

std::string TreeItemText(HWND tree, HTREEITEM item) {
    wchar_t text[512] = {};
    TVITEMW tv{};
    tv.mask = TVIF_TEXT | TVIF_HANDLE;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = static_cast<int>(std::size(text));
    return SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv)) ? fw::WideToAnsi(text) : std::string();
}

// The item after `item` in display order over the whole tree, collapsed
// branches included.
HTREEITEM NextItem(HWND tree, HTREEITEM item) {
    if (HTREEITEM child = TreeView_GetChild(tree, item)) return child;
    for (; item; item = TreeView_GetParent(tree, item))
        if (HTREEITEM next = TreeView_GetNextSibling(tree, item)) return next;
    return nullptr;
}

// The first item in display order whose data is `data`.
HTREEITEM FindItem(HWND tree, int data) {
    for (HTREEITEM item = TreeView_GetRoot(tree); item; item = NextItem(tree, item))
        if (ItemData(tree, item) == data) return item;
    return nullptr;
}

// Places records whose parent may come later: one that cannot be placed yet
// is tried again after the others, and a pass that places none ends the
// work (its parent is not in the tree).
template <typename TryPlace>
void PlaceInPasses(std::deque<ContentGroup> pending, TryPlace tryPlace) {
    while (!pending.empty()) {
        bool placedAny = false;
        for (size_t passLeft = pending.size(); passLeft > 0; --passLeft) {
            ContentGroup group = std::move(pending.front());
            pending.pop_front();
            if (tryPlace(group))
                placedAny = true;
            else
                pending.push_back(std::move(group));
        }
        if (!placedAny) return;
    }
}

void LogChanges(const char* kind, const ContentGroupList& groups) {
    for (const ContentGroup& g : groups) LOG_WRITE(2, "<%s> myID:%s, Name:%s", kind, g.Id.c_str(), g.Name.c_str());
}

}  // namespace

CFolderSelectDialog* CFolderSelectDialog::GetInstance() {
    static CFolderSelectDialog instance;
    return &instance;
}

CFolderSelectDialog::CFolderSelectDialog() : fw::Dialog(IDD_FOLDER_SELECT) {}

// --- The kept listing ---

void CFolderSelectDialog::SetLoaded(int loaded) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_loaded = loaded;
}

int CFolderSelectDialog::Loaded() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_loaded;
}

void CFolderSelectDialog::KeptGroups(ContentGroupList& parents, ContentGroupList& children) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    parents = m_vstParentGroup;
    children = m_vstChildGroup;
}

int CFolderSelectDialog::GetGroupInfoTree(std::string& error) {
    if (Loaded() == 1) {
        if (CThreadAgent* agent = CThreadAgent::GetInstance()) agent->StartUpdateFolderTreeThread();
        return 1;
    }
    LOG_WRITE(1, "GetGroupInfoTree Start");
    return FetchContentGroups(error);
}

int CFolderSelectDialog::FetchContentGroups(std::string& error) {
    Listing fresh;
    const int result = CCommServer().GetManageContentGroups(&error, &fresh.parents, &fresh.children);
    if (result == 1) {
        StoreListing(std::move(fresh));
    } else {
        // The kept lists hold what the failed listing gave (nothing, or the
        // groups below a missing top level), unless a tree still shows them.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_shownTree) {
            m_vstParentGroup = std::move(fresh.parents);
            m_vstChildGroup = std::move(fresh.children);
        }
    }
    return result;
}

int CFolderSelectDialog::BackGroundUpdateInfoTree() {
    std::string error = LoadMessageById(IDS_SERVER_MESSAGE_UNREADABLE);
    Listing fresh;
    if (!CCommServer().GetManageContentGroups(&error, &fresh.parents, &fresh.children)) {
        LOG_WRITE(1, "BackGroundUpdateInfoTree failed[%s]", error.c_str());
        SetLoaded(0);  // the next opening loads again
        return 0;
    }
    StoreListing(std::move(fresh));
    return 1;
}

void CFolderSelectDialog::StoreListing(Listing listing) {
    for (HWND failed = nullptr;;) {
        HWND shown = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            shown = m_shownTree;
            if (!shown || shown == failed) {
                m_vstParentGroup = std::move(listing.parents);
                m_vstChildGroup = std::move(listing.children);
                return;
            }
        }
        if (GetWindowThreadProcessId(shown, nullptr) == GetCurrentThreadId()) {
            ApplyListing(listing);
            return;
        }
        // The tree is changed on its own thread only. A window gone meanwhile
        // answers nothing: the listing is kept without it.
        if (SendMessageW(shown, WM_APPLY_LISTING, 0, reinterpret_cast<LPARAM>(&listing))) return;
        failed = shown;
    }
}

void CFolderSelectDialog::ApplyListing(Listing& listing) {
    GroupChanges changes;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (CompUpdateContentGroups(listing.parents, listing.children)) return;
        LOG_WRITE(2, "CompUpdateContentGroups: FALSE");
        GetDefContentGroup(changes, listing.parents, m_vstParentGroup);
        GetDefContentGroup(changes, listing.children, m_vstChildGroup);
    }
    LogChanges("AddContent", changes.added);
    LogChanges("DeleteContent", changes.deleted);
    LogChanges("RewriteContent", changes.rewritten);
    if (UpdateCtrlTree(m_tree, changes) != 1) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_vstParentGroup = std::move(listing.parents);
    m_vstChildGroup = std::move(listing.children);
}

bool CFolderSelectDialog::CompUpdateContentGroups(const ContentGroupList& newParents,
                                                  const ContentGroupList& newChildren) const {
    if (newParents.size() != m_vstParentGroup.size() || newChildren.size() != m_vstChildGroup.size()) return false;
    const auto allKept = [](const ContentGroupList& fresh, const ContentGroupList& kept) {
        for (const ContentGroup& g : fresh)
            if (std::find(kept.begin(), kept.end(), g) == kept.end()) return false;
        return true;
    };
    return allKept(newChildren, m_vstChildGroup) && allKept(newParents, m_vstParentGroup);
}

void CFolderSelectDialog::GetDefContentGroup(GroupChanges& out, const ContentGroupList& base,
                                             const ContentGroupList& comp) {
    LOG_WRITE(2, "GetDef:base[%d], comp[%d]", static_cast<int>(base.size()), static_cast<int>(comp.size()));
    std::vector<bool> matched(base.size(), false);
    for (const ContentGroup& c : comp) {
        bool found = false;
        for (size_t i = 0; i < base.size(); ++i) {
            if (base[i].Id != c.Id) continue;
            if (base[i] != c) out.rewritten.push_back(base[i]);
            matched[i] = true;
            found = true;
            break;
        }
        if (!found) out.deleted.push_back(c);
    }
    for (size_t i = 0; i < base.size(); ++i)
        if (!matched[i]) out.added.push_back(base[i]);
}

// --- The tree ---

HTREEITEM CFolderSelectDialog::InsertGroup(HWND tree, HTREEITEM parent, const ContentGroup& group) const {
    const std::wstring name = fw::AnsiToWide(group.Name);
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_SORT;  // the tree's own alphabetical order
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
    insert.item.pszText = const_cast<wchar_t*>(name.c_str());
    insert.item.iImage = insert.item.iSelectedImage = ImageForType(group.Type);
    insert.item.lParam = IdOf(group.Id);
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

int CFolderSelectDialog::setGROUPtoTreeCtrl(HWND tree) {
    ContentGroupList parents, children;
    KeptGroups(parents, children);
    TreeView_DeleteAllItems(tree);
    m_hChosenItem = m_hCollapsedSelection = nullptr;
    if (parents.empty()) {
        LOG_WRITE(2, "setGROUPtoTreeCtrl m_vstParentGroup.size ZERO");
        return 0;
    }
    // Index-aligned: the item of every placed record.
    std::vector<HTREEITEM> placedItems;
    ContentGroupList placed;
    for (const ContentGroup& p : parents) {
        LOG_WRITE(2, "setParent:pID[%s] ID[%s],Name:%s", p.ParentId.c_str(), p.Id.c_str(), p.Name.c_str());
        placedItems.push_back(InsertGroup(tree, TVI_ROOT, p));
        placed.push_back(p);
    }
    PlaceInPasses(std::deque<ContentGroup>(children.begin(), children.end()), [&](const ContentGroup& child) {
        size_t i = 0;
        while (i < placed.size() && placed[i].Id != child.ParentId) ++i;
        if (i == placed.size()) {
            LOG_WRITE(2, "後ろに回す[%s-ID:%s-pID:%s]", child.Name.c_str(), child.Id.c_str(), child.ParentId.c_str());
            return false;
        }
        LOG_WRITE(2, "一致 C %s(%d):P %s(%d)", child.Name.c_str(), IdOf(child.Id), placed[i].Name.c_str(),
                  IdOf(placed[i].Id));
        LOG_WRITE(2, "setChild:pID[%s] ID[%s],Name:%s", child.ParentId.c_str(), child.Id.c_str(), child.Name.c_str());
        // Placed before its parent, so later searches meet the newest first.
        placedItems.insert(placedItems.begin() + static_cast<std::ptrdiff_t>(i), InsertGroup(tree, placedItems[i], child));
        placed.insert(placed.begin() + static_cast<std::ptrdiff_t>(i), child);
        return true;
    });

    ExpandAll(tree, true);
    m_bCollapsed = 0;

    const CAppSettings* settings = GetAppSettings();
    const int folder = settings ? settings->Folder : 0;
    HTREEITEM selected = nullptr;
    for (size_t i = 0; i < placed.size(); ++i)
        if (IdOf(placed[i].Id) == folder) selected = placedItems[i];  // the last one counts
    if (!selected) selected = TreeView_GetRoot(tree);
    SelectAtTop(tree, selected);
    m_strSelectedName = TreeItemText(tree, selected);
    return 1;
}

void CFolderSelectDialog::SelectAtTop(HWND tree, HTREEITEM item) {
    if (!item) return;
    TreeView_Select(tree, item, TVGN_FIRSTVISIBLE);
    TreeView_SelectItem(tree, item);
}

void CFolderSelectDialog::ExpandAll(HWND tree, bool expand) {
    // Expanding makes the children visible, so the walk reaches every item.
    HTREEITEM last = nullptr;
    for (HTREEITEM item = TreeView_GetRoot(tree); item; item = TreeView_GetNextVisible(tree, item)) {
        TreeView_Expand(tree, item, TVE_EXPAND);
        last = item;
    }
    if (expand) return;
    for (HTREEITEM item = last; item; item = TreeView_GetPrevVisible(tree, item))
        TreeView_Expand(tree, item, TVE_COLLAPSE);
}

int CFolderSelectDialog::UpdateCtrlTree(HWND tree, const GroupChanges& changes) {
    try {
        for (const ContentGroup& g : changes.deleted) {
            if (HTREEITEM item = FindItem(tree, IdOf(g.Id))) {
                LOG_WRITE(2, "削除 [%s]", g.Name.c_str());
                TreeView_DeleteItem(tree, item);
                // The remembered choice may have gone with it.
                m_hChosenItem = m_hCollapsedSelection = nullptr;
            }
        }
        PlaceInPasses(std::deque<ContentGroup>(changes.added.begin(), changes.added.end()), [&](const ContentGroup& g) {
            HTREEITEM parent = g.ParentId == kNullParent ? TVI_ROOT : FindItem(tree, IdOf(g.ParentId));
            if (!parent) return false;
            LOG_WRITE(2, "追加 [%s]", g.Name.c_str());
            InsertGroup(tree, parent, g);
            return true;
        });
        for (const ContentGroup& g : changes.rewritten) {
            HTREEITEM item = FindItem(tree, IdOf(g.Id));
            if (!item) continue;
            LOG_WRITE(2, "追加 [%s]", g.Name.c_str());
            const std::wstring name = fw::AnsiToWide(g.Name);
            TVITEMW tv{};
            tv.mask = TVIF_HANDLE | TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
            tv.hItem = item;
            tv.pszText = const_cast<wchar_t*>(name.c_str());
            tv.iImage = tv.iSelectedImage = ImageForType(g.Type);
            tv.lParam = IdOf(g.Id);
            SendMessageW(tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
        }
    } catch (...) {
        LOG_WRITE(4, "UpdateCtrlTree Exception");
        return 0;
    }
    return 1;
}

// --- The dialog ---

BOOL CFolderSelectDialog::OnInitDialog() {
    LOG_WRITE(1, "CFolderSelectDialog::OnInitDialog");
    fw::WaitCursor wait;
    m_tree = Item(IDC_FOLDER_TREE);
    m_btnExpand = Item(IDC_EXPAND_COLLAPSE);
    // The image list's mask colour is the bitmap's corner.
    m_images.reset(ImageList_LoadImageW(Module(), MAKEINTRESOURCEW(IDB_FOLDER_IMAGES), kImageSize, 1, CLR_DEFAULT,
                                        IMAGE_BITMAP, LR_CREATEDIBSECTION));
    TreeView_SetImageList(m_tree, m_images.get(), TVSIL_NORMAL);

    if (!CThreadAgent::GetInstance()) {
        ShowMessageById(IDS_DIALOG_CREATE_FAILED);
        m_strSelectedName.clear();
        EndDialog(0);
        return TRUE;
    }
    std::string error;
    if (!GetGroupInfoTree(error)) {
        fw::ShowMessageBoxAnsi(nullptr, error.empty() ? kUnknownErrorText : error, MB_OK | MB_ICONSTOP);
        m_strSelectedName.clear();
        EndDialog(0);
        return TRUE;
    }
    SetLoaded(1);
    {
        // Marked as shown before the tree reads the kept lists: a listing
        // stored from now on waits for this thread and patches the tree.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shownTree = Hwnd();
    }
    setGROUPtoTreeCtrl(m_tree);
    SetWindowTextW(m_btnExpand, m_bCollapsed ? L"全て展開" : L"折りたたむ");
    return TRUE;
}

bool CFolderSelectDialog::OnCommand(WORD id, WORD notifyCode, HWND control) {
    switch (id) {
    case IDOK:
        OnOK();
        return true;
    case IDC_EXPAND_COLLAPSE:
        OnExpandCollapse();
        return true;
    default:
        return fw::Dialog::OnCommand(id, notifyCode, control);
    }
}

INT_PTR CFolderSelectDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    switch (message) {
    case WM_APPLY_LISTING:
        ApplyListing(*reinterpret_cast<Listing*>(lParam));
        SetMessageResult(TRUE);
        handled = true;
        return TRUE;
    case WM_DESTROY: {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shownTree = nullptr;
        break;
    }
    default:
        break;
    }
    return fw::Dialog::OnMessage(message, wParam, lParam, handled);
}

void CFolderSelectDialog::OnExpandCollapse() {
    if (m_bCollapsed == 1) {
        ExpandAll(m_tree, true);
        m_bCollapsed = 0;
        SetWindowTextW(m_btnExpand, L"折りたたむ");
        // Collapsing moved the selection to a top-level item; unless the
        // user chose another one meanwhile, the choice comes back.
        if (m_hCollapsedSelection && TreeView_GetSelection(m_tree) == m_hCollapsedSelection && m_hChosenItem)
            TreeView_SelectItem(m_tree, m_hChosenItem);
    } else {
        m_hChosenItem = TreeView_GetSelection(m_tree);
        ExpandAll(m_tree, false);
        m_bCollapsed = 1;
        SetWindowTextW(m_btnExpand, L"全て展開");
        m_hCollapsedSelection = TreeView_GetSelection(m_tree);
    }
    SelectAtTop(m_tree, TreeView_GetSelection(m_tree));
}

void CFolderSelectDialog::OnOK() {
    fw::WaitCursor wait;
    HTREEITEM item = TreeView_GetSelection(m_tree);
    m_strSelectedName = item ? TreeItemText(m_tree, item) : std::string();
    m_nSelectedId = item ? static_cast<int>(ItemData(m_tree, item)) : 0;
    if (CAppSettings* settings = GetAppSettings()) {
        settings->FolderName = m_strSelectedName;
        settings->Folder = m_nSelectedId;
    }
    LOG_WRITE(1, "CFolderSelectDialog::OnOK[%d:%s]", m_nSelectedId, m_strSelectedName.c_str());
    EndDialog(IDOK);
}
