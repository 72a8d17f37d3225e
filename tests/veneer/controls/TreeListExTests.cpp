// The tree view (rows in pre-order, folders, check propagation, node
// operations) and the editable list (cell editors, check boxes kept in step,
// header resizing, links), in real windows driven by window messages.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ControlsTestSupport.h"
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
    CTreeNodeUI* a = Node(L"A");
    ASSERT_TRUE(tree->AddNode(a));
    CTreeNodeUI* b = Node(L"B");
    ASSERT_TRUE(a->AddItem(b));
    ASSERT_TRUE(b->AddItem(Node(L"E")));
    ASSERT_TRUE(a->AddItem(Node(L"D")));
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

TEST_F(TreeBuildTest, ChildOfAnUnattachedParentIsIndentedUnscaled) {
    CTreeNodeUI* p = Node(L"P");
    CTreeNodeUI* c = Node(L"C");
    p->AttachToParentNode(c);
    EXPECT_EQ(22, c->GetSpacer()->GetFixedWidth());
    ASSERT_TRUE(p->AddItem(c));
    ASSERT_TRUE(tree->AddNode(p));
    EXPECT_EQ(S(22), c->GetSpacer()->GetFixedWidth());
}

}  // namespace
