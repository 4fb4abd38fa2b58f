// The folder selection dialog against the stand-in server: the tree it
// builds from a listing, the stored folder preselected, OK, the button that
// expands and collapses, and the background refresh that patches an open
// tree or finds the dialog gone.
#include "zinpost/engine/ThreadAgent.h"
#include "zinpost/ui/FolderSelectDialog.h"
#include "zinpost/resource.h"

#include "tests/dialogs/ModalRun.h"
#include "tests/support/StandinFixture.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tools/driver/WindowDriver.h"

#include "framework/Text.h"

#include <commctrl.h>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

std::string Group(int id, const char* parent, const char* title, const char* type = "1") {
    return fw::Format(R"({"content_group_id": "%d", "parent_content_group_id": %s, "title_ja": "%s", "type": "%s"})",
                      id, parent, title, type);
}
std::string Groups(std::initializer_list<std::string> groups) {
    std::string json = "[";
    for (const std::string& g : groups) json += (json.size() > 1 ? ", " : "") + g;
    return json + "]";
}

std::wstring ItemText(HWND tree, HTREEITEM item) {
    wchar_t text[256] = {};
    TVITEMW tv{};
    tv.mask = TVIF_TEXT | TVIF_HANDLE;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = 256;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    return text;
}

// The whole tree, one line per item in display order: depth by two blanks,
// then the title (UTF-8), "#" and the item's data.
std::string TreeLines(HWND tree) {
    std::string lines;
    std::function<void(HTREEITEM, int)> walk = [&](HTREEITEM item, int depth) {
        for (; item; item = TreeView_GetNextSibling(tree, item)) {
            TVITEMW tv{};
            tv.mask = TVIF_PARAM | TVIF_HANDLE;
            tv.hItem = item;
            SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
            lines += std::string(static_cast<size_t>(depth) * 2, ' ') + fw::WideToUtf8(ItemText(tree, item)) + "#" +
                     std::to_string(tv.lParam) + "\n";
            walk(TreeView_GetChild(tree, item), depth + 1);
        }
    };
    walk(TreeView_GetRoot(tree), 0);
    return lines;
}

HTREEITEM FindByText(HWND tree, const std::wstring& text) {
    for (HTREEITEM item = TreeView_GetRoot(tree); item; item = TreeView_GetNextVisible(tree, item))
        if (ItemText(tree, item) == text) return item;
    return nullptr;
}

class FolderSelectDialogTest : public StandinTest {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        TakeMessageBoxes();
        CContentGroupCache::GetInstance().SetLoaded(0);  // every test starts with a first opening
    }
    void TearDown() override {
        server().Release("*");  // a refresh held by a test that failed goes on
        WaitForRefresh();
    }

    // The last background refresh has ended.
    static void WaitForRefresh() {
        CThreadAgent* agent = CThreadAgent::GetInstance();
        if (agent->m_pUpdateFolderTreeThread) {
            EXPECT_EQ(WaitForSingleObject(agent->m_pUpdateFolderTreeThread->handle.get(), 60000), WAIT_OBJECT_0);
        }
    }
    HWND Tree(const ModalRun& run) const { return GetDlgItem(run.Hwnd(), IDC_FOLDER_TREE); }

    CFolderSelectDialog* dialog = CFolderSelectDialog::GetInstance();
};

struct TreeCase {
    const char* name;
    std::string groups;
    int storedFolder;
    const char* lines;     // the tree, as TreeLines gives it
    const char* selected;
};

class FolderTreeShapes : public FolderSelectDialogTest, public ::testing::WithParamInterface<TreeCase> {};

TEST_P(FolderTreeShapes, TreeFromTheListing) {
    const TreeCase& c = GetParam();
    SetGroups(c.groups);
    settings.Folder = c.storedFolder;
    ModalRun run(*dialog);
    ASSERT_FALSE(run.Ended());
    EXPECT_EQ(TreeLines(Tree(run)), c.lines);
    HTREEITEM selected = TreeView_GetSelection(Tree(run));
    EXPECT_EQ(fw::WideToUtf8(ItemText(Tree(run), selected)), c.selected);
    EXPECT_EQ(run.Text(IDC_EXPAND_COLLAPSE), L"折りたたむ");
    run.Click(IDOK);
    EXPECT_EQ(run.Wait(), IDOK);
    EXPECT_EQ(settings.FolderName, fw::WideToAnsi(fw::Utf8ToWide(c.selected)));
    EXPECT_EQ(settings.Folder, dialog->m_nSelectedId);
}

INSTANTIATE_TEST_SUITE_P(
    Listings, FolderTreeShapes,
    ::testing::Values(
        // Siblings in alphabetical order whatever the server's order; the
        // stored folder not listed selects the first root item.
        TreeCase{"sorted",
                 Groups({Group(1, "null", "charlie"), Group(2, "null", "alpha"), Group(3, "null", "bravo"),
                         Group(4, "\"1\"", "zulu"), Group(5, "\"1\"", "echo")}),
                 99, "alpha#2\nbravo#3\ncharlie#1\n  echo#5\n  zulu#4\n", "alpha"},
        // A child listed before its parent is placed on a later pass; an
        // orphan is left out; the stored folder deep down is selected.
        TreeCase{"nested",
                 Groups({Group(4, "\"3\"", u8"設計資料", "0"), Group(1, "null", u8"全社共有"),
                         Group(9, "\"77\"", "orphan"), Group(3, "\"1\"", u8"開発部"), Group(5, "\"4\"", "v2", "7")}),
                 5, u8"全社共有#1\n  開発部#3\n    設計資料#4\n      v2#5\n", "v2"},
        // Numeric ids read as 12.000000 still give the item its number.
        TreeCase{"numbers", R"([{"content_group_id": 12, "parent_content_group_id": null, "title_ja": "n"}])", 12,
                 "n#12\n", "n"},
        // A chain listed child first: every group waits for the one after it.
        TreeCase{"chain",
                 Groups({Group(5, "\"4\"", "e"), Group(4, "\"3\"", "d"), Group(3, "\"2\"", "c"),
                         Group(2, "\"1\"", "b"), Group(1, "null", "a")}),
                 5, "a#1\n  b#2\n    c#3\n      d#4\n        e#5\n", "e"},
        // Groups sharing an id (a broken server): a child goes below the first
        // of them, the stored folder is the last one placed.
        TreeCase{"sharedIds",
                 Groups({Group(1, "null", "first"), Group(1, "null", "second"), Group(5, "\"1\"", "child")}),
                 1, "first#1\n  child#5\nsecond#1\n", "second"}),
    [](const ::testing::TestParamInfo<TreeCase>& info) { return info.param.name; });

TEST_F(FolderSelectDialogTest, ALoadThatFailsEndsTheOpening) {
    // No top-level group: 119 in a box, the dialog ends, nothing chosen.
    SetGroups(Groups({Group(2, "\"1\"", "child")}));
    settings.FolderName = "kept";
    ModalRun run(*dialog);
    EXPECT_EQ(run.Wait(), 0);
    const auto boxes = TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(fw::WideToUtf8(boxes[0].text), u8"フォルダー情報がありません。");
    EXPECT_EQ(dialog->m_strSelectedName, "");
    EXPECT_EQ(settings.FolderName, "kept");
}

TEST_F(FolderSelectDialogTest, KeptListsWithoutTopLevelShowAnEmptyTree) {
    SetGroups(Groups({Group(1, "null", "top")}));
    {
        ModalRun first(*dialog);
        first.Click(IDCANCEL);
        ASSERT_EQ(first.Wait(), IDCANCEL);
    }
    // The account's confirmation finds no top level; the next opening shows
    // the kept lists while its refresh fails.
    SetGroups(Groups({Group(2, "\"1\"", "child")}));
    std::string error;
    EXPECT_EQ(CContentGroupCache::GetInstance().FetchContentGroups(error), 0);
    settings.Folder = 2;
    ModalRun run(*dialog);
    ASSERT_FALSE(run.Ended());
    EXPECT_EQ(TreeView_GetCount(Tree(run)), 0u);
    run.Click(IDOK);
    EXPECT_EQ(run.Wait(), IDOK);
    EXPECT_EQ(settings.FolderName, "");
    EXPECT_EQ(settings.Folder, 0);
}

TEST_F(FolderSelectDialogTest, ExpandCollapseAlternatesAndKeepsTheSelection) {
    SetGroups(Groups({Group(1, "null", "a"), Group(2, "\"1\"", "b"), Group(3, "\"2\"", "c")}));
    settings.Folder = 2;
    ModalRun run(*dialog);
    HWND tree = Tree(run);
    HTREEITEM b = TreeView_GetSelection(tree);
    ASSERT_EQ(ItemText(tree, b), L"b");
    run.Click(IDC_EXPAND_COLLAPSE);
    ASSERT_TRUE(WaitFor([&] { return run.Text(IDC_EXPAND_COLLAPSE) == L"全て展開"; }, 5000));
    EXPECT_FALSE(TreeView_GetItemState(tree, TreeView_GetRoot(tree), TVIS_EXPANDED) & TVIS_EXPANDED);
    run.Click(IDC_EXPAND_COLLAPSE);
    ASSERT_TRUE(WaitFor([&] { return run.Text(IDC_EXPAND_COLLAPSE) == L"折りたたむ"; }, 5000));
    EXPECT_TRUE(TreeView_GetItemState(tree, b, TVIS_EXPANDED) & TVIS_EXPANDED);
    EXPECT_EQ(TreeView_GetSelection(tree), b);
}

TEST_F(FolderSelectDialogTest, AStoredFolderFarDownIsScrolledToTheTop) {
    std::string groups = "[";
    for (int i = 1; i <= 40; ++i) groups += Group(i, "null", fw::Format("root%02d", i).c_str()) + ", ";
    groups += Group(41, "\"5\"", "child") + ", " + Group(42, "\"41\"", "deep") + "]";
    SetGroups(groups);
    settings.Folder = 42;
    ModalRun run(*dialog);
    HWND tree = Tree(run);
    HTREEITEM selected = TreeView_GetSelection(tree);
    ASSERT_EQ(ItemText(tree, selected), L"deep");
    EXPECT_EQ(TreeView_GetFirstVisible(tree), selected);
    EXPECT_EQ(dialog->m_strSelectedName, "deep");
}

TEST_F(FolderSelectDialogTest, ReopeningShowsTheKeptTreeThenPatchesIt) {
    SetGroups(Groups({Group(1, "null", "top"), Group(2, "\"1\"", "old title"), Group(3, "\"1\"", "gone")}));
    {
        ModalRun first(*dialog);
        first.Click(IDCANCEL);
        ASSERT_EQ(first.Wait(), IDCANCEL);
    }
    // On the server meanwhile: a title changed, a group went, two came (one
    // below the other, listed child first).
    SetGroups(Groups({Group(1, "null", "top"), Group(2, "\"1\"", "new title"), Group(5, "\"4\"", "grandchild"),
                      Group(4, "\"1\"", "added")}));
    server().Script("manageContentGroups.json", R"([{"hold": "refresh"}])");
    ModalRun run(*dialog);
    HWND tree = Tree(run);
    // The kept tree at once, while the refresh waits for the server...
    ASSERT_TRUE(server().WaitAtGate("refresh"));
    EXPECT_EQ(TreeLines(tree), "top#1\n  gone#3\n  old title#2\n");
    HTREEITEM item = FindByText(tree, L"old title");
    ASSERT_TRUE(item);
    server().Release("refresh");
    // ...then the changes in place: the same item with its new text.
    ASSERT_TRUE(WaitFor([&] { return ItemText(tree, item) == L"new title"; }, 30000));
    ASSERT_TRUE(WaitFor([&] { return TreeLines(tree) == "top#1\n  added#4\n    grandchild#5\n  new title#2\n"; }, 10000))
        << TreeLines(tree);
    WaitForRefresh();
    EXPECT_EQ(CContentGroupCache::GetInstance().Kept().children.size(), 3u);
    run.Click(IDCANCEL);
    EXPECT_EQ(run.Wait(), IDCANCEL);
}

TEST_F(FolderSelectDialogTest, ARefreshFindingTheDialogGoneKeepsTheListingOnly) {
    SetGroups(Groups({Group(1, "null", "top")}));
    {
        ModalRun first(*dialog);
        first.Click(IDCANCEL);
        ASSERT_EQ(first.Wait(), IDCANCEL);
    }
    SetGroups(Groups({Group(1, "null", "top"), Group(2, "\"1\"", "later")}));
    for (int round = 0; round < 3; ++round) {
        // Closed while its refresh waits for the server's answer.
        const std::string gate = "refresh" + std::to_string(round);  // an opened gate stays open
        server().Script("manageContentGroups.json", R"([{"hold": ")" + gate + R"("}])");
        {
            ModalRun run(*dialog);
            ASSERT_TRUE(server().WaitAtGate(gate));
            run.Click(IDCANCEL);
            ASSERT_EQ(run.Wait(), IDCANCEL);
        }
        server().Release(gate);
        WaitForRefresh();
    }
    const ContentGroupList children = CContentGroupCache::GetInstance().Kept().children;
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(children[0].Name, "later");
    // The next opening shows it.
    ModalRun run(*dialog);
    EXPECT_EQ(TreeLines(Tree(run)), "top#1\n  later#2\n");
}

TEST_F(FolderSelectDialogTest, UpdateCtrlTreeEndsWhenAnAddedGroupFindsNoParent) {
    SetGroups(Groups({Group(1, "null", "top")}));
    ModalRun run(*dialog);
    GroupChanges changes;
    changes.added = {ContentGroup{"77", "8", "lost", "1"}, ContentGroup{"1", "9", "found", "1"}};
    // One group's parent never appears: the step ends all the same.
    EXPECT_EQ(dialog->UpdateCtrlTree(Tree(run), changes), 1);
    EXPECT_EQ(TreeLines(Tree(run)), "top#1\n  found#9\n");
}

TEST(FolderSelect, DifferencesOfTwoListings) {
    const ContentGroupList kept = {{"null", "1", "a", "1"}, {"null", "2", "b", "1"}, {"null", "3", "c", "1"}};
    const ContentGroupList fresh = {{"null", "1", "a", "1"}, {"null", "3", "c!", "1"}, {"null", "4", "d", "0"}};
    GroupChanges changes;
    CFolderSelectDialog::GetDefContentGroup(changes, fresh, kept);
    EXPECT_EQ(changes.added, (ContentGroupList{{"null", "4", "d", "0"}}));
    EXPECT_EQ(changes.deleted, (ContentGroupList{{"null", "2", "b", "1"}}));
    EXPECT_EQ(changes.rewritten, (ContentGroupList{{"null", "3", "c!", "1"}}));
}

}  // namespace
