#include "zinpost/ui/FolderSelectDialog.h"

#include "zinpost/engine/AppSettings.h"
#include "zinpost/engine/Log.h"
#include "zinpost/engine/Messages.h"
#include "zinpost/engine/ThreadAgent.h"
#include "zinpost/resource.h"
#include "zinpost/ui/MessageBoxes.h"

#include "framework/Font.h"
#include "framework/MessageBox.h"
#include "framework/Text.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <queue>
#include <unordered_map>

namespace {

// Sent by a thread with a fresh listing to the dialog showing the tree.
constexpr UINT WM_APPLY_LISTING = WM_APP + 1;
constexpr int kImageSize = 20;
// From this many changed groups on, the tree is patched out of sight.
constexpr size_t kQuietPatchSize = 32;
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

// Where each item of the tree is, by its data: one walk of the tree in
// display order, then kept up to date by the patch that uses it, so that a
// patch of many groups never walks the tree once per group.
class TreeIndex {
public:
    explicit TreeIndex(HWND tree) : m_tree(tree) {
        for (HTREEITEM item = TreeView_GetRoot(tree); item; item = NextItem(tree, item))
            m_items[ItemData(tree, item)].push_back(item);
    }
    // The first item in display order whose data is `data`; null when none.
    HTREEITEM Find(LPARAM data) const {
        const auto found = m_items.find(data);
        return found == m_items.end() || found->second.empty() ? nullptr : found->second.front();
    }
    void Add(LPARAM data, HTREEITEM item) { m_items[data].push_back(item); }
    // Before `item` is deleted: it and every item below it.
    void Remove(HTREEITEM item) {
        std::vector<HTREEITEM> stack{item};
        while (!stack.empty()) {
            HTREEITEM next = stack.back();
            stack.pop_back();
            auto& items = m_items[ItemData(m_tree, next)];
            items.erase(std::remove(items.begin(), items.end(), next), items.end());
            for (HTREEITEM child = TreeView_GetChild(m_tree, next); child; child = TreeView_GetNextSibling(m_tree, child))
                stack.push_back(child);
        }
    }

private:
    HWND m_tree;
    std::unordered_map<LPARAM, std::vector<HTREEITEM>> m_items;
};

// The order in which passes over `pending` place its records. Each pass goes
// over the records still pending in their order; a record is placed when a
// record of its parent's key was placed before it was looked at, and a pass
// that places none ends the work. The order is worked out from when each key
// becomes available rather than pass by pass, which for a chain listed child
// first would take one pass per record. `parentKey` and `ownKey` give a
// record's keys; `availableAtStart` tells the keys placed before the first
// pass. Returns the indexes of the placed records in placement order; the
// others never find their parent.
template <typename Key, typename ParentKey, typename OwnKey, typename Available>
std::vector<size_t> PlacementOrder(const ContentGroupList& pending, ParentKey parentKey, OwnKey ownKey,
                                   Available availableAtStart) {
    // (pass, position + 1): position 0 stands before a pass's first record.
    using Time = std::pair<size_t, size_t>;
    std::unordered_map<Key, std::vector<size_t>> waiting;
    for (size_t i = 0; i < pending.size(); ++i) waiting[parentKey(pending[i])].push_back(i);
    std::priority_queue<std::pair<Time, size_t>, std::vector<std::pair<Time, size_t>>, std::greater<>> queue;
    // A key's waiting records go into the queue when the key first appears.
    const auto release = [&](const Key& key, Time at) {
        const auto found = waiting.find(key);
        if (found == waiting.end()) return;
        for (size_t i : found->second) {
            const size_t position = i + 1;
            queue.push({{position > at.second ? at.first : at.first + 1, position}, i});
        }
        waiting.erase(found);
    };
    std::vector<Key> atStart;
    for (const auto& entry : waiting)
        if (availableAtStart(entry.first)) atStart.push_back(entry.first);
    for (const Key& key : atStart) release(key, Time{1, 0});
    std::vector<size_t> order;
    while (!queue.empty()) {
        const auto [time, i] = queue.top();
        queue.pop();
        order.push_back(i);
        release(ownKey(pending[i]), time);
    }
    return order;
}


}  // namespace

CFolderSelectDialog* CFolderSelectDialog::GetInstance() {
    static CFolderSelectDialog instance;
    return &instance;
}

CFolderSelectDialog::CFolderSelectDialog() : fw::Dialog(IDD_FOLDER_SELECT) {}

// --- The kept listing ---

int CFolderSelectDialog::GetGroupInfoTree(std::string& error) {
    return CContentGroupCache::GetInstance().GetGroupInfoTree(error);
}

int CFolderSelectDialog::BackGroundUpdateInfoTree() { return CContentGroupCache::GetInstance().BackGroundUpdateInfoTree(); }

bool CFolderSelectDialog::CompUpdateContentGroups(const ContentGroupList& newParents,
                                                  const ContentGroupList& newChildren) const {
    return CContentGroupCache::GetInstance().CompUpdateContentGroups(newParents, newChildren);
}

void CFolderSelectDialog::GetDefContentGroup(GroupChanges& out, const ContentGroupList& base,
                                             const ContentGroupList& comp) {
    CContentGroupCache::GetDefContentGroup(out, base, comp);
}

bool CFolderSelectDialog::ShowListing(GroupListing& fresh) {
    HWND shown = m_shown.load();
    if (!shown) return false;
    if (GetWindowThreadProcessId(shown, nullptr) == GetCurrentThreadId()) {
        ApplyListing(fresh);
        return true;
    }
    // The tree is changed on its own thread only; a window gone meanwhile
    // answers nothing.
    return SendMessageW(shown, WM_APPLY_LISTING, 0, reinterpret_cast<LPARAM>(&fresh)) != 0;
}

void CFolderSelectDialog::ApplyListing(GroupListing& fresh) {
    CContentGroupCache& cache = CContentGroupCache::GetInstance();
    GroupChanges changes;
    if (!cache.Differences(fresh, changes)) return;
    if (UpdateCtrlTree(m_tree, changes) != 1) return;
    cache.Keep(std::move(fresh));
}

// --- The tree ---

HTREEITEM CFolderSelectDialog::InsertGroup(HWND tree, HTREEITEM parent, const ContentGroup& group, HTREEITEM after,
                                           bool expanded) const {
    const std::wstring name = fw::AnsiToWide(group.Name);
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = after;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM | TVIF_STATE;
    insert.item.state = expanded ? TVIS_EXPANDED : 0;
    insert.item.stateMask = TVIS_EXPANDED;
    insert.item.pszText = const_cast<wchar_t*>(name.c_str());
    insert.item.iImage = insert.item.iSelectedImage = ImageForType(group.Type);
    insert.item.lParam = IdOf(group.Id);
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

namespace {

// The records of the tree being built and where each stands: below its
// parent, after the siblings placed before it. The placed records form the
// list in which a child's parent is looked for: every child placed just
// before its parent, so each record's own children (in placement order) come
// before it and the top-level records keep their order.
class PlacedGroups {
public:
    struct Node {
        const ContentGroup* group;
        int parent;         // -1 at the top level
        size_t ordinal;     // among its parent's children, or among the top level
        size_t depth;
        std::vector<int> children;
    };

    void AddRoot(const ContentGroup& group) { Add(group, -1, m_roots++, 0); }
    void AddChild(const ContentGroup& group, int parent) {
        Node& p = m_nodes[static_cast<size_t>(parent)];
        const int index = Add(group, parent, p.children.size(), p.depth + 1);
        m_nodes[static_cast<size_t>(parent)].children.push_back(index);
    }
    // The first placed record with `id` in the list's order, or -1.
    int FirstWithId(const std::string& id) const {
        const auto found = m_firstById.find(id);
        return found == m_firstById.end() ? -1 : found->second;
    }
    // Whether `a` comes before `b` in the list.
    bool Before(int a, int b) const {
        // A record's children come before it.
        int x = a, y = b;
        while (Depth(x) > Depth(y)) {
            x = Parent(x);
            if (x == b) return true;
        }
        while (Depth(y) > Depth(x)) {
            y = Parent(y);
            if (y == a) return false;
        }
        while (Parent(x) != Parent(y)) {
            x = Parent(x);
            y = Parent(y);
        }
        return Ordinal(x) < Ordinal(y);
    }
    const std::vector<Node>& Nodes() const { return m_nodes; }

private:
    int Add(const ContentGroup& group, int parent, size_t ordinal, size_t depth) {
        const int index = static_cast<int>(m_nodes.size());
        m_nodes.push_back(Node{&group, parent, ordinal, depth, {}});
        const auto [entry, added] = m_firstById.emplace(group.Id, index);
        if (!added && Before(index, entry->second)) entry->second = index;
        return index;
    }
    size_t Depth(int i) const { return m_nodes[static_cast<size_t>(i)].depth; }
    int Parent(int i) const { return m_nodes[static_cast<size_t>(i)].parent; }
    size_t Ordinal(int i) const { return m_nodes[static_cast<size_t>(i)].ordinal; }

    std::vector<Node> m_nodes;
    size_t m_roots = 0;
    std::unordered_map<std::string, int> m_firstById;
};

}  // namespace

int CFolderSelectDialog::setGROUPtoTreeCtrl(HWND tree) {
    const GroupListing kept = CContentGroupCache::GetInstance().Kept();
    const ContentGroupList& parents = kept.parents;
    const ContentGroupList& children = kept.children;
    TreeView_DeleteAllItems(tree);
    m_hChosenItem = m_hCollapsedSelection = nullptr;
    if (parents.empty()) {
        LOG_WRITE(2, "setGROUPtoTreeCtrl m_vstParentGroup.size ZERO");
        return 0;
    }
    // Where every record goes, worked out before the tree is touched.
    PlacedGroups placed;
    for (const ContentGroup& p : parents) {
        LOG_WRITE(2, "setParent:pID[%s] ID[%s],Name:%s", p.ParentId.c_str(), p.Id.c_str(), p.Name.c_str());
        placed.AddRoot(p);
    }
    LOG_WRITE(2, "pre C %d:P %d", static_cast<int>(children.size()), static_cast<int>(parents.size()));
    const std::vector<size_t> order = PlacementOrder<std::string>(
        children, [](const ContentGroup& g) { return g.ParentId; }, [](const ContentGroup& g) { return g.Id; },
        [&](const std::string& id) { return placed.FirstWithId(id) >= 0; });
    std::vector<bool> done(children.size(), false);
    for (size_t i : order) {
        const ContentGroup& child = children[i];
        const int parent = placed.FirstWithId(child.ParentId);
        const ContentGroup& p = *placed.Nodes()[static_cast<size_t>(parent)].group;
        LOG_WRITE(2, "一致 C %s(%d):P %s(%d)", child.Name.c_str(), IdOf(child.Id), p.Name.c_str(), IdOf(p.Id));
        LOG_WRITE(2, "setChild:pID[%s] ID[%s],Name:%s", child.ParentId.c_str(), child.Id.c_str(), child.Name.c_str());
        placed.AddChild(child, parent);
        done[i] = true;
    }
    for (size_t i = 0; i < children.size(); ++i)
        if (!done[i])
            LOG_WRITE(2, "後ろに回す[%s-ID:%s-pID:%s]", children[i].Name.c_str(), children[i].Id.c_str(),
                      children[i].ParentId.c_str());

    // Into the tree in display order, each record after the ones before it:
    // siblings by their titles, as the tree's own sorted insertion orders
    // them (equal titles in the order placed), every branch expanded. Each
    // insertion then only appends, however many groups there are.
    const auto& nodes = placed.Nodes();
    std::vector<std::wstring> names(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i) names[i] = fw::AnsiToWide(nodes[i].group->Name);
    const auto sorted = [&](std::vector<int> list) {
        std::stable_sort(list.begin(), list.end(), [&](int a, int b) {
            return lstrcmpiW(names[static_cast<size_t>(a)].c_str(), names[static_cast<size_t>(b)].c_str()) < 0;
        });
        return list;
    };
    std::vector<int> roots;
    for (size_t i = 0; i < nodes.size(); ++i)
        if (nodes[i].parent < 0) roots.push_back(static_cast<int>(i));
    std::vector<HTREEITEM> items(nodes.size(), nullptr);
    SendMessageW(tree, WM_SETREDRAW, FALSE, 0);
    // Depth first without recursion: a chain may be as deep as the listing is long.
    std::vector<int> stack;
    const auto push = [&](const std::vector<int>& list) {
        const std::vector<int> inOrder = sorted(list);
        stack.insert(stack.end(), inOrder.rbegin(), inOrder.rend());
    };
    push(roots);
    while (!stack.empty()) {
        const int i = stack.back();
        stack.pop_back();
        const auto& node = nodes[static_cast<size_t>(i)];
        items[static_cast<size_t>(i)] =
            InsertGroup(tree, node.parent < 0 ? TVI_ROOT : items[static_cast<size_t>(node.parent)], *node.group,
                        TVI_LAST, !node.children.empty());
        push(node.children);
    }
    SendMessageW(tree, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(tree, nullptr, TRUE);
    m_bCollapsed = 0;

    const CAppSettings* settings = GetAppSettings();
    const int folder = settings ? settings->Folder : 0;
    int selected = -1;
    for (size_t i = 0; i < nodes.size(); ++i) {
        // The last one in the placed list counts.
        const int candidate = static_cast<int>(i);
        if (IdOf(nodes[i].group->Id) == folder && (selected < 0 || placed.Before(selected, candidate)))
            selected = candidate;
    }
    HTREEITEM item = selected >= 0 ? items[static_cast<size_t>(selected)] : TreeView_GetRoot(tree);
    SelectAtTop(tree, item);
    m_strSelectedName = TreeItemText(tree, item);
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
    // Drawn once when every change is in place, not after each. A patch of
    // many groups is made with the tree out of sight: a visible tree has each
    // changed title measured on screen (some 5 ms apiece under Wine), which
    // for thousands of groups would hold the dialog for minutes.
    const size_t count = changes.added.size() + changes.deleted.size() + changes.rewritten.size();
    const bool hide = count >= kQuietPatchSize && IsWindowVisible(tree);
    const bool focused = GetFocus() == tree;
    SendMessageW(tree, WM_SETREDRAW, FALSE, 0);
    if (hide) ShowWindow(tree, SW_HIDE);
    struct Redraw {
        HWND tree;
        bool shown, focused;
        ~Redraw() {
            SendMessageW(tree, WM_SETREDRAW, TRUE, 0);
            if (shown) ShowWindow(tree, SW_SHOW);
            if (focused) SetFocus(tree);
            InvalidateRect(tree, nullptr, TRUE);
        }
    } redraw{tree, hide, hide && focused};
    try {
        TreeIndex index(tree);
        for (const ContentGroup& g : changes.deleted) {
            if (HTREEITEM item = index.Find(IdOf(g.Id))) {
                LOG_WRITE(2, "削除 [%s]", g.Name.c_str());
                index.Remove(item);
                TreeView_DeleteItem(tree, item);
                // The remembered choice may have gone with it.
                m_hChosenItem = m_hCollapsedSelection = nullptr;
            }
        }
        // Top-level records wait for nothing; the others for an item of
        // their parent's id, which may come with the added records.
        constexpr long long kTopLevel = LLONG_MIN;
        const auto parentKey = [&](const ContentGroup& g) -> long long {
            return g.ParentId == kNullParent ? kTopLevel : IdOf(g.ParentId);
        };
        const std::vector<size_t> order = PlacementOrder<long long>(
            changes.added, parentKey, [](const ContentGroup& g) -> long long { return IdOf(g.Id); },
            [&](long long key) { return key == kTopLevel || index.Find(static_cast<LPARAM>(key)); });
        for (size_t i : order) {
            const ContentGroup& g = changes.added[i];
            const long long key = parentKey(g);
            HTREEITEM parent = key == kTopLevel ? TVI_ROOT : index.Find(static_cast<LPARAM>(key));
            LOG_WRITE(2, "追加 [%s]", g.Name.c_str());
            index.Add(IdOf(g.Id), InsertGroup(tree, parent, g, TVI_SORT, false));
        }
        for (const ContentGroup& g : changes.rewritten) {
            HTREEITEM item = index.Find(IdOf(g.Id));
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
    CContentGroupCache& cache = CContentGroupCache::GetInstance();
    cache.SetLoaded(1);
    // The view before the tree reads the kept lists: a listing kept from now
    // on waits for this thread and patches the tree.
    m_shown = Hwnd();
    cache.SetView(this);
    setGROUPtoTreeCtrl(m_tree);
    SetWindowTextW(m_btnExpand, m_bCollapsed ? L"全て展開" : L"折りたたむ");
    return TRUE;
}

bool CFolderSelectDialog::OnCommand(WORD id, WORD notifyCode, HWND control) {
    if (id == IDC_EXPAND_COLLAPSE) {
        OnExpandCollapse();
        return true;
    }
    return fw::Dialog::OnCommand(id, notifyCode, control);
}

INT_PTR CFolderSelectDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    switch (message) {
    case WM_APPLY_LISTING:
        ApplyListing(*reinterpret_cast<GroupListing*>(lParam));
        SetMessageResult(TRUE);
        handled = true;
        return TRUE;
    case WM_DESTROY:
        CContentGroupCache::GetInstance().SetView(nullptr);
        m_shown = nullptr;
        break;
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
