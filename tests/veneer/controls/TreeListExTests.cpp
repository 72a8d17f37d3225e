// The tree view (rows in pre-order, folders, check propagation, node
// operations) and the editable list (cell editors, check boxes kept in step,
// header resizing, links), in real windows driven by window messages.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Combo.h"
#include "ControlsTestSupport.h"
#include "Edit.h"
#include "ListEx.h"
#include "ListHeader.h"
#include "TreeView.h"

using namespace Veneer;

namespace {

std::wstring Names(CListUI* list) {
    std::wstring out;
    for (int i = 0; i < list->GetItemCount(); ++i) {
        if (!out.empty()) out += L",";
        out += list->GetItemAt(i)->GetName().GetData();
    }
    return out;
}

std::wstring Children(CTreeNodeUI* node) {
    std::wstring out;
    for (int i = 0; i < node->GetChildCount(); ++i) {
        if (!out.empty()) out += L",";
        out += node->GetChildNode(i)->GetName().GetData();
    }
    return out;
}

class TreeTest : public ::testing::Test, public ctltest::ControlsFixture {
protected:
    void SetUp() override {
        Build(L"controls/tree.xml");
        SetWindowPos(host->Window(), nullptr, 0, 0, S(300), S(300), SWP_NOMOVE | SWP_NOZORDER);
        tree = Named<CTreeViewUI>(L"tree");
        ASSERT_NE(nullptr, tree);
        for (const wchar_t* name : {L"A", L"B", L"E", L"D"}) node[name[0]] = Named<CTreeNodeUI>(name);
        Paint("tree");
        recorder.Clear();
    }
    void TearDown() override { TearDownHost(); }
    void ClickOn(CControlUI* control) {
        Click(ctltest::Centre(control->GetPos()));
        Paint("tree_click");
    }
    std::wstring Visible() {
        std::wstring out;
        for (int i = 0; i < tree->GetItemCount(); ++i) {
            if (tree->GetItemAt(i)->IsVisible()) out += tree->GetItemAt(i)->GetName().GetData();
        }
        return out;
    }
    CTreeViewUI* tree = nullptr;
    CTreeNodeUI* node[128] = {};
};

TEST_F(TreeTest, LayoutListsThePreOrderWithIndents) {
    EXPECT_EQ(L"A,B,E,D", Names(tree));
    EXPECT_EQ(L"B,D", Children(node['A']));
    EXPECT_EQ(L"E", Children(node['B']));
    EXPECT_EQ(node['B'], node['E']->GetParentNode());
    EXPECT_FALSE(node['A']->GetSpacer()->IsVisible());
    const struct {
        char name;
        int width;
    } spacers[] = {{'B', 22}, {'D', 22}, {'E', 42}};
    for (const auto& row : spacers) {
        EXPECT_TRUE(node[row.name]->GetSpacer()->IsVisible()) << row.name;
        EXPECT_EQ(S(row.width), node[row.name]->GetSpacer()->GetFixedWidth()) << row.name;
    }
    EXPECT_EQ(node['D'], node['A']->GetLastDescendant());
    EXPECT_EQ(node['E'], node['B']->GetLastDescendant());
    EXPECT_EQ(2, node['E']->GetViewIndex());
    // The view's colour reached every item button, not the list's style.
    for (char name : {'A', 'B', 'E', 'D'}) {
        EXPECT_EQ(0xFF112233u, node[name]->GetItemButton()->GetTextColor()) << name;
        EXPECT_TRUE(node[name]->GetCheckBox()->IsVisible()) << name;
    }
    EXPECT_EQ(0xFF000000u, tree->GetItemStyle()->textColor);
}

TEST_F(TreeTest, FolderButtonsCollapseAndExpand) {
    const struct {
        char folder;
        const wchar_t* visible;
    } clicks[] = {{'A', L"A"}, {'A', L"ABED"}, {'B', L"ABD"}, {'A', L"A"}, {'A', L"ABD"}, {'B', L"ABED"}};
    for (const auto& row : clicks) {
        ClickOn(node[row.folder]->GetFolderButton());
        EXPECT_EQ(row.visible, Visible()) << "after " << row.folder;
    }
    // A double click toggles the folder too, and says so.
    Message(WM_LBUTTONDBLCLK, ctltest::Centre(node['B']->GetItemButton()->GetPos()), MK_LBUTTON);
    Message(WM_LBUTTONUP, ctltest::Centre(node['B']->GetItemButton()->GetPos()));
    EXPECT_EQ(1, recorder.Count(L"treeitemdbclick"));
    EXPECT_TRUE(node['B']->GetFolderButton()->IsSelected());
    EXPECT_EQ(L"ABD", Visible());
}

TEST_F(TreeTest, OnlySelectableNodesSelect) {
    ClickOn(node['D']->GetItemButton());
    EXPECT_FALSE(node['D']->IsItemSelected());
    node['D']->SetAttribute(L"itemselectable", L"true");
    ClickOn(node['D']->GetItemButton());
    EXPECT_TRUE(node['D']->IsItemSelected());
    EXPECT_EQ(0xFFAA0000u, node['D']->GetItemButton()->GetTextColor());
}

TEST_F(TreeTest, CheckBoxesPropagateDownOnly) {
    ClickOn(node['A']->GetCheckBox());
    for (char name : {'A', 'B', 'E', 'D'}) EXPECT_TRUE(node[name]->GetCheckBox()->IsSelected()) << name;
    ClickOn(node['E']->GetCheckBox());
    EXPECT_FALSE(node['E']->GetCheckBox()->IsSelected());
    EXPECT_TRUE(node['A']->GetCheckBox()->IsSelected());
    EXPECT_TRUE(node['B']->GetCheckBox()->IsSelected());
}

TEST_F(TreeTest, RemovalsKeepListAndChildrenInStep) {
    // A leaf row goes too; a bad index is refused.
    EXPECT_TRUE(tree->RemoveItemAt(3));
    EXPECT_EQ(L"A,B,E", Names(tree));
    EXPECT_EQ(L"B", Children(node['A']));
    EXPECT_FALSE(tree->RemoveItemAt(7));
    EXPECT_FALSE(tree->RemoveItemAt(-1));
    // A node with children leaves with them and leaves its parent.
    EXPECT_TRUE(tree->RemoveNode(node['B']));
    EXPECT_EQ(L"A", Names(tree));
    EXPECT_EQ(L"", Children(node['A']));
}

// Nodes that count their deletions.
std::set<void*>* g_live = nullptr;
int g_deletedTwice = 0;
class CountedNode : public CTreeNodeUI {
public:
    explicit CountedNode(const wchar_t* name) {
        SetName(name);
        SetAttribute(L"text", name);
        g_live->insert(this);
    }
    ~CountedNode() override {
        if (!g_live->erase(this)) ++g_deletedTwice;
    }
    // A freed node is overwritten, so that a call through it faults at once.
    static void operator delete(void* block, size_t size) {
        memset(block, 0xDD, size);
        ::operator delete(block);
    }
};

class TreeBuildTest : public ::testing::Test, public ctltest::ControlsFixture {
protected:
    void SetUp() override {
        g_live = &live;
        tree = new CTreeViewUI;
        tree->SetName(L"tree");
        Host(S(300), S(300), tree);
    }
    void TearDown() override {
        TearDownHost();
        EXPECT_TRUE(live.empty()) << live.size() << " nodes never deleted";
        EXPECT_EQ(0, g_deletedTwice);
        g_deletedTwice = 0;
        g_live = nullptr;
    }
    CountedNode* Node(const wchar_t* name) { return new CountedNode(name); }
    // A{B{E},D} at the end of the view; A is returned.
    CTreeNodeUI* AddABED() {
        CTreeNodeUI* a = Node(L"A");
        EXPECT_TRUE(tree->AddNode(a));
        CTreeNodeUI* b = Node(L"B");
        EXPECT_TRUE(a->AddItem(b));
        EXPECT_TRUE(b->AddItem(Node(L"E")));
        EXPECT_TRUE(a->AddItem(Node(L"D")));
        return a;
    }
    std::set<void*> live;
    CTreeViewUI* tree = nullptr;
};

TEST_F(TreeBuildTest, InsertionsListWholeSubtreesInPlace) {
    // P{Q{S},R} made before it is listed: the whole subtree follows P.
    CTreeNodeUI* p = Node(L"P");
    CTreeNodeUI* q = Node(L"Q");
    ASSERT_TRUE(p->AddItem(q));
    ASSERT_TRUE(q->AddItem(Node(L"S")));
    ASSERT_TRUE(p->AddItem(Node(L"R")));
    EXPECT_EQ(4, tree->InsertNodeAt(p, 0));
    EXPECT_EQ(L"P,Q,S,R", Names(tree));

    // A{B{E},D}; X appended under A comes after A's last descendant.
    CTreeNodeUI* a = AddABED();
    CTreeNodeUI* b = a->GetChildNode(0);
    EXPECT_EQ(L"P,Q,S,R,A,B,E,D", Names(tree));
    ASSERT_TRUE(a->InsertItemAt(Node(L"X"), 99));
    EXPECT_EQ(L"P,Q,S,R,A,B,E,D,X", Names(tree));
    EXPECT_EQ(L"B,D,X", Children(a));
    // Inserted before a child: before that child's row.
    ASSERT_TRUE(a->InsertItemAt(Node(L"W"), 1));
    EXPECT_EQ(L"P,Q,S,R,A,B,E,W,D,X", Names(tree));
    EXPECT_EQ(L"B,W,D,X", Children(a));
    // Not a node: refused.
    std::unique_ptr<CControlUI> plain(new CControlUI);
    EXPECT_FALSE(a->InsertItemAt(plain.get(), 0));
    EXPECT_FALSE(tree->AddNode(nullptr));
    EXPECT_EQ(-1, tree->InsertNodeAt(nullptr, 0));

    // Removing B takes E and leaves A's children without B.
    ASSERT_TRUE(a->RemoveItem(b));
    EXPECT_EQ(L"P,Q,S,R,A,W,D,X", Names(tree));
    EXPECT_EQ(L"W,D,X", Children(a));
    uitest::Pump();   // the removed rows are deleted now
    EXPECT_EQ(8u, live.size());
    // Everything else goes with the window (counted in TearDown).
}

TEST_F(TreeBuildTest, RowsUnderAParentDeletedAtOnceAreNotTouchedAgain) {
    tree->SetDelayedDestroy(false);
    CTreeNodeUI* a = AddABED();
    ASSERT_EQ(L"A,B,E,D", Names(tree));
    // A leaf under A, then B with its child: each row is gone at once, and once.
    EXPECT_TRUE(tree->RemoveItemAt(3));
    EXPECT_EQ(L"A,B,E", Names(tree));
    EXPECT_EQ(L"B", Children(a));
    EXPECT_EQ(3u, live.size());
    EXPECT_TRUE(tree->RemoveItemAt(1));
    EXPECT_EQ(L"A", Names(tree));
    EXPECT_EQ(L"", Children(a));
    EXPECT_EQ(1u, live.size());
    EXPECT_EQ(0, g_deletedTwice);
}

TEST_F(TreeBuildTest, ChildOfAnUnattachedParentIsIndentedUnscaled) {
    CTreeNodeUI* p = Node(L"P");
    CTreeNodeUI* c = Node(L"C");
    p->AttachToParentNode(c);
    EXPECT_EQ(22, c->GetSpacer()->GetFixedWidth());
    ASSERT_TRUE(p->AddItem(c));
    ASSERT_TRUE(tree->AddNode(p));
    EXPECT_EQ(S(22), c->GetSpacer()->GetFixedWidth());
}

// ---------------------------------------------------------- editable list

// Fills the cell combo with three items, choosing the first while it fills.
class CountingProvider : public IListComboItemsProvider {
public:
    void FillComboItems(CComboBoxUI* combo, int row, int column) override {
        ++calls;
        itemsBefore = combo->GetItemCount();
        textBefore = combo->CControlUI::GetText().GetData();
        lastRow = row;
        lastColumn = column;
        for (const wchar_t* text : {L"alpha", L"beta", L"gamma"}) {
            CListLabelElementUI* item = new CListLabelElementUI;
            item->SetText(text);
            combo->AddItem(item);
        }
        combo->SelectIndex(0);
    }
    int calls = 0;
    int itemsBefore = -1;
    std::wstring textBefore;
    int lastRow = -1, lastColumn = -1;
};

class ListExTest : public ::testing::Test, public ctltest::ControlsFixture {
protected:
    void SetUp() override {
        Build(L"controls/listex.xml");
        SetWindowPos(host->Window(), nullptr, 0, 0, S(400), S(300), SWP_NOMOVE | SWP_NOZORDER);
        list = Named<CListExUI>(L"list");
        ASSERT_NE(nullptr, list);
        for (int i = 0; i < 3; ++i) {
            row[i] = Named<CListTextExElementUI>((L"r" + std::to_wstring(i)).c_str());
            ASSERT_NE(nullptr, row[i]);
            row[i]->SetColumnText(0, (L"c" + std::to_wstring(i)).c_str());
            row[i]->SetColumnText(1, (L"text" + std::to_wstring(i)).c_str());
            row[i]->SetColumnText(2, L"b");
        }
        header = Named<CListContainerHeaderItemUI>(L"check");
        Paint("listex");
        recorder.Clear();
    }
    void TearDown() override { TearDownHost(); }
    // The centre of a cell of a row.
    POINT Cell(int r, int column) {
        const RECT& c = list->GetItemStyle()->columnRects[column];
        const RECT& item = row[r]->GetPos();
        return POINT{(c.left + c.right) / 2, (item.top + item.bottom) / 2};
    }
    void Press(CControlUI* control, POINT p) {
        Raise(control, EventButtonDown, p);
        Raise(control, EventButtonUp, p);
    }
    POINT BoxCentre(CControlUI* control) {
        const RECT& r = control->GetPos();
        return POINT{r.left + S(6) + S(16) / 2, (r.top + r.bottom) / 2};
    }
    CListExUI* list = nullptr;
    CListTextExElementUI* row[3] = {};
    CListContainerHeaderItemUI* header = nullptr;
};

TEST_F(ListExTest, EditorOpensOnTheFocusedListsCellAndWritesBack) {
    Manager().SetFocusedControl(nullptr);
    Raise(row[1], EventButtonDown, Cell(1, 1));
    EXPECT_EQ(nullptr, list->GetEditor());   // the list had no focus
    Manager().SetFocusedControl(list);
    Raise(row[1], EventButtonDown, Cell(1, 1));
    CEditUI* editor = list->GetEditor();
    ASSERT_NE(nullptr, editor);
    const RECT& column = list->GetItemStyle()->columnRects[1];
    const RECT expected = {column.left + 2, row[1]->GetPos().top + 2, column.right - 2, row[1]->GetPos().bottom - 2};
    EXPECT_TRUE(EqualRect(&expected, &editor->GetPos()));
    EXPECT_EQ(L"text1", std::wstring(editor->GetText().GetData()));
    EXPECT_EQ(1, list->GetEditRow());
    EXPECT_EQ(1, list->GetEditColumn());

    editor->SetText(L"typed");
    Manager().SetFocusedControl(editor);
    Manager().SetFocusedControl(list);   // "killfocus" from the editor
    EXPECT_EQ(L"typed", std::wstring(row[1]->GetColumnText(1)));
    EXPECT_EQ(-1, list->GetEditRow());
    EXPECT_TRUE(IsRectEmpty(&editor->GetPos()));
    editor->SetText(L"again");
    Manager().SetFocusedControl(editor);
    Manager().SetFocusedControl(list);
    EXPECT_EQ(L"typed", std::wstring(row[1]->GetColumnText(1)));

    // A press on the list itself, or outside every column, hides the editor.
    Raise(row[2], EventButtonDown, Cell(2, 1));
    EXPECT_FALSE(IsRectEmpty(&editor->GetPos()));
    Raise(row[2], EventButtonDown, POINT{S(395), Cell(2, 1).y});
    EXPECT_TRUE(IsRectEmpty(&editor->GetPos()));
    Paint("listex_edited");
}

TEST_F(ListExTest, ComboCellIsFilledThenCommitsTheChoice) {
    CountingProvider provider;
    list->SetComboItemsProvider(&provider);
    Manager().SetFocusedControl(list);
    Raise(row[0], EventButtonDown, Cell(0, 2));
    CComboBoxUI* combo = list->GetCombo();
    ASSERT_NE(nullptr, combo);
    EXPECT_EQ(1, provider.calls);
    EXPECT_EQ(0, provider.itemsBefore);
    EXPECT_EQ(L"b", provider.textBefore);
    EXPECT_EQ(0, provider.lastRow);
    EXPECT_EQ(2, provider.lastColumn);
    EXPECT_EQ(3, combo->GetItemCount());
    EXPECT_FALSE(IsRectEmpty(&combo->GetPos()));
    EXPECT_EQ(L"b", std::wstring(row[0]->GetColumnText(2)));   // filling chose nothing for the cell

    // Opened again: emptied and filled anew.
    Raise(row[1], EventButtonDown, Cell(1, 2));
    EXPECT_EQ(2, provider.calls);
    EXPECT_EQ(0, provider.itemsBefore);
    ASSERT_TRUE(combo->SelectIndex(2));
    EXPECT_EQ(L"gamma", std::wstring(row[1]->GetColumnText(2)));
    EXPECT_EQ(-1, list->GetEditRow());
    EXPECT_TRUE(IsRectEmpty(&combo->GetPos()));
}

TEST_F(ListExTest, HeaderAndRowCheckBoxesStayInStep) {
    Press(header, BoxCentre(header));
    EXPECT_TRUE(header->IsChecked());
    EXPECT_EQ(1, recorder.Count(L"listheaditemchecked"));
    for (auto* r : row) EXPECT_TRUE(r->IsChecked());
    EXPECT_EQ(0, recorder.Count(L"listitemchecked"));

    Press(row[1], BoxCentre(row[1]));
    EXPECT_FALSE(row[1]->IsChecked());
    EXPECT_FALSE(header->IsChecked());
    ASSERT_EQ(1, recorder.Count(L"listitemchecked"));
    for (const ctltest::Notice& n : recorder.notices) {
        if (n.type != L"listitemchecked") continue;
        EXPECT_EQ(1u, LOWORD(n.wParam));
        EXPECT_EQ(0u, HIWORD(n.wParam));
        EXPECT_EQ(0, n.lParam);
    }
    Press(row[1], BoxCentre(row[1]));
    EXPECT_TRUE(header->IsChecked());
    // A press beside the box does not toggle it.
    Press(row[0], POINT{BoxCentre(row[0]).x + S(30), BoxCentre(row[0]).y});
    EXPECT_TRUE(row[0]->IsChecked());
    Paint("listex_checked");
}

TEST_F(ListExTest, HeaderEdgesResizeTheColumns) {
    auto* edit = Named<CListContainerHeaderItemUI>(L"edit");
    auto* combo = Named<CListContainerHeaderItemUI>(L"combo");
    const int editWidth = edit->GetWidth();
    // The right edge: +30 px shows +30 px.
    POINT p = {edit->GetPos().right - 1, (edit->GetPos().top + edit->GetPos().bottom) / 2};
    Raise(edit, EventButtonDown, p);
    Raise(edit, EventMouseMove, POINT{p.x + 30, p.y});
    Raise(edit, EventButtonUp, POINT{p.x + 30, p.y});
    Paint("listex_resized");
    EXPECT_EQ(editWidth + 30, edit->GetWidth());

    // A negative separator: the left edge, dragged left, widens the column.
    const int comboWidth = combo->GetWidth();
    p = POINT{combo->GetPos().left + 1, (combo->GetPos().top + combo->GetPos().bottom) / 2};
    Raise(combo, EventButtonDown, p);
    Raise(combo, EventMouseMove, POINT{p.x - 10, p.y});
    Raise(combo, EventButtonUp, POINT{p.x - 10, p.y});
    Paint("listex_left_edge");
    EXPECT_EQ(comboWidth + 10, combo->GetWidth());
    EXPECT_EQ(0, recorder.Count(L"listheaderclick"));

    // Down to the minimum width or below: nothing changes.
    p = POINT{combo->GetPos().left + 1, p.y};
    const int before = combo->GetWidth();
    Raise(combo, EventButtonDown, p);
    Raise(combo, EventMouseMove, POINT{p.x + before - combo->GetMinWidth(), p.y});
    Raise(combo, EventButtonUp, POINT{p.x + before - combo->GetMinWidth(), p.y});
    Paint("listex_minimum");
    EXPECT_EQ(before, combo->GetWidth());

    // A press away from the edge is a header click.
    Press(combo, ctltest::Centre(combo->GetPos()));
    EXPECT_EQ(1, recorder.Count(L"listheaderclick"));
}

TEST_F(ListExTest, LinksReportTheirIndex) {
    row[2]->SetColumnText(1, L"{a one}one{/a} {a two}two{/a}");
    Paint("listex_links");
    ASSERT_EQ(2, row[2]->GetLinkCount());
    const POINT second = ctltest::Centre(row[2]->GetLinkRect(1));
    Raise(row[2], EventButtonUp, second);
    EXPECT_EQ((std::vector<WPARAM>{1}), recorder.WParams(L"link"));
}

}  // namespace
