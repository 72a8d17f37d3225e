// Lists, their header and their items in real windows: the selection table
// (calls, keys, wheel, clicks, removal, insertion, moves), scrolling into
// view, the header's layout and separator drag, item measures, links, cells,
// grid lines and colours.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ControlsTestSupport.h"
#include "List.h"
#include "ListHeader.h"
#include "ListItems.h"
#include "ScrollBar.h"

using namespace Veneer;
using ctltest::Centre;
using Seen = std::vector<std::wstring>;

namespace {

const DWORD kSelected = 0xC1E3FF, kHot = 0xE9F5FF, kWhite = 0xFFFFFF;

class ListTest : public ::testing::Test, public ctltest::ControlsFixture {
protected:
    void SetUp() override { SetCursorPos(0, 0); }
    void TearDown() override { TearDownHost(); }

    static CListLabelElementUI* Row(int height = 20) {
        CListLabelElementUI* row = new CListLabelElementUI;
        row->SetFixedHeight(height);
        return row;
    }
    // A list of rows 20 pixels high (at every DPI) as the window's root,
    // without a header, with its vertical scroll bar.
    CListUI* MakeList(int rows, int width, int height) {
        list = new CListUI;
        list->SetAttribute(L"header", L"hidden");
        list->SetAttribute(L"vscrollbar", L"true");
        for (int i = 0; i < rows; ++i) list->AddItem(Row());
        Host(width, height, list);
        return list;
    }
    CControlUI* Item(int i) { return list->GetItemAt(i); }
    IListItemUI* AsItem(int i) { return static_cast<IListItemUI*>(Item(i)->FindInterface(L"ListItem")); }
    void Key(WORD key) { Raise(list, EventKeyDown, POINT{}, 0, key); }
    void Wheel(WPARAM direction) { Raise(Item(0), EventScrollWheel, POINT{}, direction); }
    void ClickItem(int i, bool ctrl = false) {
        uitest::SetKeyHeld(VK_CONTROL, ctrl);
        const POINT centre = Centre(Item(i)->GetPos());
        Raise(Item(i), EventButtonDown, centre);
        Raise(Item(i), EventButtonUp, centre);
        uitest::SetKeyHeld(VK_CONTROL, false);
    }
    std::vector<int> Selection() {
        std::vector<int> out;
        for (int i = list->GetNextSelectedIndex(-1); i >= 0 && out.size() < 50; i = list->GetNextSelectedIndex(i)) {
            out.push_back(i);
        }
        return out;
    }

    CListUI* list = nullptr;
};

TEST_F(ListTest, SelectionTable) {
    MakeList(8, 200, 100);
    CListUI* l = list;
    auto ctrlClicks = [this](std::vector<int> rows) {
        for (int r : rows) ClickItem(r, true);
    };
    struct Step {
        const char* what;
        std::function<void()> act;
        std::vector<WPARAM> itemselects;
        int selected;
        std::vector<int> selection;
    };
    const std::vector<Step> steps = {
        {"select 2", [&] { EXPECT_TRUE(l->SelectIndex(2)); }, {2}, 2, {2}},
        {"select 2 again", [&] { EXPECT_TRUE(l->SelectIndex(2)); }, {2}, 2, {2}},
        {"select -1", [&] { EXPECT_FALSE(l->SelectIndex(-1)); }, {}, -1, {}},
        {"Down with nothing selected", [&] { Key(VK_DOWN); }, {}, -1, {}},
        {"Up with nothing selected", [&] { Key(VK_UP); }, {}, -1, {}},
        {"select 0", [&] { l->SelectIndex(0); }, {0}, 0, {0}},
        {"Up at 0", [&] { Key(VK_UP); }, {0}, 0, {0}},
        {"Down", [&] { Key(VK_DOWN); }, {1}, 1, {1}},
        {"End", [&] { Key(VK_END); }, {7}, 7, {7}},
        {"Down at the last", [&] { Key(VK_DOWN); }, {7}, 7, {7}},
        {"Home", [&] { Key(VK_HOME); }, {0}, 0, {0}},
        {"Page down scrolls", [&] { Key(VK_NEXT); EXPECT_GT(l->GetScrollPos().cy, 0); }, {}, 0, {0}},
        {"Page up scrolls", [&] { Key(VK_PRIOR); EXPECT_EQ(0, l->GetScrollPos().cy); }, {}, 0, {0}},
        {"wheel down scrolls", [&] { Wheel(1); EXPECT_GT(l->GetScrollPos().cy, 0); }, {}, 0, {0}},
        {"wheel down selects with scrollselect", [&] { l->SetAttribute(L"scrollselect", L"true"); Wheel(1); }, {1}, 1, {1}},
        {"wheel up selects", [&] { Wheel(0); }, {0}, 0, {0}},
        {"click 3", [&] { ClickItem(3); }, {3}, 3, {3}},
        {"Ctrl click on the selected 3", [&] { ClickItem(3, true); }, {}, -1, {}},
        {"Ctrl click 4", [&] { ClickItem(4, true); }, {4}, 4, {4}},
        {"multiple selection on keeps the selection", [&] { l->EnableMultiSelect(true); }, {}, 4, {4}},
        {"click 5", [&] { ClickItem(5); }, {5}, 5, {5}},
        {"Ctrl click 2", [&] { ClickItem(2, true); }, {2}, 5, {5, 2}},
        {"Ctrl click 7", [&] { ClickItem(7, true); }, {7}, 5, {5, 2, 7}},
        {"Ctrl click 2 again", [&] { ClickItem(2, true); }, {}, 5, {5, 7}},
        {"click the selected 5", [&] { ClickItem(5); }, {}, 5, {5}},
        {"Ctrl click 1 and 3", [&] { ctrlClicks({1, 3}); }, {1, 3}, 5, {5, 1, 3}},
        {"add 3 again", [&] { EXPECT_FALSE(l->AddToSelection(3)); }, {}, 5, {5, 1, 3}},
        {"wheel scrolls in multiple selection", [&] { Wheel(1); }, {}, 5, {5, 1, 3}},
        {"Up from the smallest", [&] { Key(VK_UP); }, {0}, 0, {0}},
        {"Ctrl click 5, 1, 3", [&] { ctrlClicks({5, 1, 3}); }, {5, 1, 3}, 0, {0, 5, 1, 3}},
        {"remove 2 (below 0 and 1, above 3 and 5)", [&] { EXPECT_TRUE(l->RemoveItemAt(2)); }, {}, 0, {0, 4, 1, 2}},
        {"remove the current 2", [&] { EXPECT_TRUE(l->RemoveItem(Item(2))); }, {2}, 2, {2}},
        {"remove the last, below", [&] { l->RemoveItemAt(l->GetItemCount() - 1); }, {}, 2, {2}},
        {"insert at 0", [&] { EXPECT_TRUE(l->InsertItemAt(Row(), 0)); }, {}, 3, {3}},
        {"move 3 to 0", [&] { EXPECT_TRUE(l->MoveItemTo(Item(3), 0)); }, {}, 0, {0}},
        {"Return activates, selects nothing", [&] { Key(VK_RETURN); EXPECT_EQ(1, recorder.Count(L"itemactivate")); },
         {}, 0, {0}},
        {"Ctrl click 4, move 4 to 1", [&] { ClickItem(4, true); l->MoveItemTo(Item(4), 1); }, {4}, 0, {0, 1}},
        {"remove all", [&] { l->RemoveAllItems(); }, {}, -1, {}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        recorder.Clear();
        step.act();
        EXPECT_EQ(step.itemselects, recorder.WParams(L"itemselect"));
        EXPECT_EQ(step.selected, l->GetSelectedIndex());
        EXPECT_EQ(static_cast<int>(step.selection.size()), l->GetSelectionCount());
        EXPECT_EQ(step.selection, Selection());
        const uitest::Capture capture = Paint("selection");
        for (int i = 0; i < l->GetItemCount(); ++i) {
            const bool chosen = std::find(step.selection.begin(), step.selection.end(), i) != step.selection.end();
            EXPECT_EQ(chosen, AsItem(i)->IsItemSelected()) << i;
            const RECT r = Item(i)->GetPos();
            if (r.top < 0 || r.bottom > capture.height) continue;
            EXPECT_EQ(chosen ? kSelected : kWhite, capture.At(r.left + 3, r.top + 3)) << i;
        }
    }
}

TEST_F(ListTest, ReturnActivatesAndHiddenItemsLeaveTheSelection) {
    MakeList(4, 200, 100);
    list->SelectIndex(1);
    recorder.Clear();
    Key(VK_RETURN);
    EXPECT_EQ(Seen{L"itemactivate:"}, recorder.Seen());
    // Hiding the selected item clears the selection without "itemselect".
    recorder.Clear();
    Item(1)->SetVisible(false);
    EXPECT_EQ(-1, list->GetSelectedIndex());
    EXPECT_FALSE(AsItem(1)->IsItemSelected());
    // End over a hidden last item clears silently.
    list->SelectIndex(0);
    recorder.Clear();
    Item(3)->SetVisible(false);
    Key(VK_END);
    EXPECT_EQ(-1, list->GetSelectedIndex());
    EXPECT_EQ(0, list->GetSelectionCount());
    EXPECT_EQ(Seen{}, recorder.Seen());
    // The item side: "selected" selects for "true" only; disabled items refuse.
    static_cast<CListLabelElementUI*>(Item(2))->SetAttribute(L"selected", L"false");
    EXPECT_EQ(-1, list->GetSelectedIndex());
    static_cast<CListLabelElementUI*>(Item(2))->SetAttribute(L"selected", L"true");
    EXPECT_EQ(2, list->GetSelectedIndex());
    Item(0)->SetEnabled(false);
    EXPECT_FALSE(list->SelectIndex(0));
    EXPECT_FALSE(list->SetItemExpanded(2, true));
    EXPECT_EQ(-1, list->GetExpandedIndex());
}

TEST_F(ListTest, SelectAllAddsEverySelectableItemOnce) {
    MakeList(5, 200, 100);
    list->EnableMultiSelect(true);
    list->SelectIndex(1);
    Item(3)->SetEnabled(false);
    recorder.Clear();
    list->SelectAllIndices();
    EXPECT_EQ((std::vector<WPARAM>{0, 2, 4}), recorder.WParams(L"itemselect"));
    EXPECT_EQ((std::vector<int>{1, 0, 2, 4}), Selection());
    EXPECT_EQ(0, list->GetMinSelectedIndex());
    EXPECT_EQ(4, list->GetMaxSelectedIndex());
    // Switching multiple selection off clears it silently.
    recorder.Clear();
    list->EnableMultiSelect(false);
    EXPECT_EQ(0, list->GetSelectionCount());
    EXPECT_EQ(-1, list->GetSelectedIndex());
    EXPECT_FALSE(AsItem(2)->IsItemSelected());
    EXPECT_EQ(Seen{}, recorder.Seen());
}

TEST_F(ListTest, SelectionScrollsTheItemIntoTheBand) {
    // Rows of 20: the fifth ends on a 100-pixel band's bottom.
    MakeList(8, 200, 100);
    list->SelectIndex(4);
    EXPECT_EQ(0, list->GetScrollPos().cy);
    TearDownHost();
    MakeList(8, 200, 99);
    list->SelectIndex(4);
    EXPECT_EQ(1, list->GetScrollPos().cy);
    EXPECT_EQ(99, Item(4)->GetPos().bottom);
    // Back above the band: the item's top meets the band's top.
    list->SelectIndex(0);
    EXPECT_EQ(0, list->GetScrollPos().cy);
}

// ------------------------------------------------------------------ header

class HeaderTest : public ListTest {
protected:
    CListHeaderItemUI* Column(const wchar_t* attributes) {
        CListHeaderItemUI* column = new CListHeaderItemUI;
        column->ApplyAttributeString(attributes);
        list->AddItem(column);
        return column;
    }
    void Start(int width, int height) {
        Host(width, height, list);
        Paint("header");
    }
    // Drags the column's separator by dx pixels (one move) and lays out.
    void Drag(CListHeaderItemUI* column, POINT from, int dx) {
        Raise(column, EventButtonDown, from);
        Raise(column, EventMouseMove, POINT{from.x + dx, from.y});
        Raise(column, EventButtonUp, POINT{from.x + dx, from.y});
        Paint("header-drag");
    }
};

TEST_F(HeaderTest, ScaleColumnsShareTheListLessItsBar) {
    list = new CListUI;
    list->SetAttribute(L"vscrollbar", L"true");
    list->GetVerticalScrollBar()->SetFixedWidth(17);
    list->GetListHeader()->SetAttribute(L"scaleheader", L"true");
    CListHeaderItemUI* a = Column(L"scale=\"50\"");
    CListHeaderItemUI* b = Column(L"scale=\"50\"");
    CListHeaderItemUI* c = Column(L"scale=\"0\"");
    Start(400, 200);
    const int bar = list->GetVerticalScrollBar()->GetFixedWidth();
    const int half = static_cast<int>(50 * (400.0 - bar) / 100);
    if (scale == 100) {
        EXPECT_EQ(191, half);
    }
    EXPECT_EQ(half, a->GetWidth());
    EXPECT_EQ(half, b->GetWidth());
    EXPECT_EQ(400 - 2 * half, c->GetWidth());
    EXPECT_EQ(3, list->GetItemStyle()->columns);
    EXPECT_TRUE(EqualRect(&list->GetItemStyle()->columnRects[1], &b->GetPos()));
}

TEST_F(HeaderTest, AtMost32ColumnsAreInUse) {
    list = new CListUI;
    std::vector<CListHeaderItemUI*> columns;
    for (int i = 0; i < 40; ++i) columns.push_back(Column(L"width=\"10\""));
    Start(400, 100);
    const ListItemStyle* style = list->GetItemStyle();
    EXPECT_EQ(32, style->columns);
    EXPECT_TRUE(EqualRect(&style->columnRects[31], &columns[31]->GetPos()));
    EXPECT_EQ(40, list->GetListHeader()->GetItemCount());
    // A header item is found in the header, a list item in the body.
    EXPECT_EQ(39, list->IndexOfItem(columns[39]));
}

TEST_F(HeaderTest, SeparatorDragStopsAtTheMinimumAndKeepsPixels) {
    list = new CListUI;
    CListHeaderItemUI* plain = Column(L"width=\"100\"");
    CListHeaderItemUI* tall = Column(L"width=\"100\" height=\"30\"");
    CListHeaderItemUI* left = Column(L"width=\"100\" sepwidth=\"-4\"");
    CListHeaderItemUI* fixed = Column(L"width=\"100\" dragable=\"false\"");
    Start(600, 200);
    const int minimum = plain->GetMinWidth();
    EXPECT_EQ(S(16), minimum);

    // A 30-pixel drag widens by 30 pixels at any DPI, with or without "height".
    for (CListHeaderItemUI* column : {plain, tall}) {
        const int before = column->GetWidth();
        const RECT r = column->GetPos();
        Drag(column, POINT{r.right - 2, Centre(r).y}, 30);
        EXPECT_NEAR(before + 30, column->GetWidth(), 1);
    }
    // Dragging left stops before the minimum width.
    {
        const RECT r = plain->GetPos();
        const POINT grip = {r.right - 2, Centre(r).y};
        Raise(plain, EventButtonDown, grip);
        Raise(plain, EventMouseMove, POINT{grip.x - (plain->GetWidth() - minimum), grip.y});
        Raise(plain, EventMouseMove, POINT{grip.x - (plain->GetWidth() - minimum - 1), grip.y});
        Raise(plain, EventMouseMove, POINT{grip.x - plain->GetWidth(), grip.y});
        Raise(plain, EventButtonUp, grip);
        Paint("header-minimum");
        EXPECT_EQ(minimum + 1, plain->GetWidth());
    }
    // The grip of a negative separator width is on the left edge.
    {
        const int before = left->GetWidth();
        const RECT r = left->GetPos();
        Drag(left, POINT{r.left + 2, Centre(r).y}, 10);
        EXPECT_NEAR(before - 10, left->GetWidth(), 1);
    }
    // Not draggable: no drag and no "headerclick" in the grip.
    {
        recorder.Clear();
        const int before = fixed->GetWidth();
        const RECT r = fixed->GetPos();
        Drag(fixed, POINT{r.right - 2, Centre(r).y}, 20);
        EXPECT_EQ(before, fixed->GetWidth());
        EXPECT_EQ(Seen{}, recorder.Seen());
    }
    // Elsewhere a press is a "headerclick"; the grip shows the sizing cursor.
    recorder.Clear();
    Raise(tall, EventButtonDown, Centre(tall->GetPos()));
    Raise(tall, EventButtonUp, Centre(tall->GetPos()));
    EXPECT_EQ(Seen{L"headerclick:"}, recorder.Seen());
    const RECT r = tall->GetPos();
    Raise(tall, EventSetCursor, POINT{r.right - 2 - 4, Centre(r).y});
    EXPECT_EQ(LoadCursorW(nullptr, IDC_SIZEWE), GetCursor());
}

TEST_F(HeaderTest, HorizontalScrollMovesTheColumnsAndTheListsStepGovernsTheBody) {
    list = new CListUI;
    list->SetAttribute(L"hscrollbar", L"true");
    list->SetAttribute(L"vscrollbar", L"true");
    list->SetAttribute(L"scrollstepsize", L"7");
    CListHeaderItemUI* a = Column(L"width=\"300\" height=\"20\"");
    Column(L"width=\"300\" height=\"20\"");
    for (int i = 0; i < 20; ++i) list->AddItem(Row());
    Start(200, 150);
    CScrollBarUI* bar = list->GetHorizontalScrollBar();
    ASSERT_TRUE(bar->IsVisible());
    const int content = list->GetListBody()->GetWidth() - list->GetVerticalScrollBar()->GetFixedWidth();
    EXPECT_EQ(S(600) - content, bar->GetScrollRange());
    const RECT before = a->GetPos();
    list->SetScrollPos(SIZE{50, 0});
    EXPECT_EQ(50, list->GetScrollPos().cx);
    EXPECT_EQ(before.left - 50, a->GetPos().left);
    EXPECT_TRUE(EqualRect(&list->GetItemStyle()->columnRects[0], &a->GetPos()));
    // Items are as wide as the header's columns together.
    EXPECT_EQ(S(600), list->GetItemAt(0)->GetWidth());
    // A line is the list's step size.
    list->ScrollLineDown();
    EXPECT_EQ(S(7), list->GetScrollPos().cy);
    // Scrolling a list body sends no "scroll".
    EXPECT_EQ(0, recorder.Count(L"scroll"));
}

// ------------------------------------------------------------------ items from the layout

class ItemLayoutTest : public ::testing::Test, public ctltest::ControlsFixture {
protected:
    void SetUp() override {
        SetCursorPos(0, 0);
        Build(L"controls/lists.xml");
        list = Named<CListUI>(L"list");
    }
    void TearDown() override { TearDownHost(); }
    CListUI* list = nullptr;
};

TEST_F(ItemLayoutTest, LayoutBuildsEveryClassInItsPlace) {
    ASSERT_NE(nullptr, list);
    CListHeaderUI* header = list->GetListHeader();
    ASSERT_NE(nullptr, header);
    EXPECT_EQ(header, Named<CControlUI>(L"header"));
    EXPECT_EQ(2, header->GetItemCount());
    // Columns without "height" are the default font's height + 14 tall, and so is the header.
    const int font = ctltest::TextHeight(Manager().GetFontHandle(-1));
    EXPECT_EQ(font + 14, Named<CControlUI>(L"first")->GetHeight());
    EXPECT_EQ(font + 14, header->GetHeight());
    EXPECT_EQ(4, list->GetItemCount());
    EXPECT_STREQ(L"ListLabelElement", list->GetItemAt(0)->GetClassTag());
    EXPECT_STREQ(L"ListTextElement", list->GetItemAt(1)->GetClassTag());
    EXPECT_STREQ(L"ListContainerElement", list->GetItemAt(2)->GetClassTag());
    EXPECT_EQ(3, list->GetSelectedIndex());   // "selected" from the layout
    for (int i = 0; i < 4; ++i) {
        IListItemUI* item = static_cast<IListItemUI*>(list->GetItemAt(i)->FindInterface(L"ListItem"));
        ASSERT_NE(nullptr, item);
        EXPECT_EQ(i, item->GetItemIndex());
        EXPECT_EQ(static_cast<IListOwnerUI*>(list), item->GetItemOwner());
    }
}

TEST_F(ItemLayoutTest, LabelElementMeasuresItsText) {
    CControlUI* label = Named<CControlUI>(L"label");
    HFONT font = Manager().GetFontHandle(1);
    const SIZE size = label->MeasureSize(SIZE{400, 100});
    EXPECT_EQ(ctltest::TextHeight(font) + 8, size.cy);
    EXPECT_EQ(ctltest::TextExtent(font, L"Label row").cx, size.cx);
    EXPECT_EQ(size.cy, label->GetHeight());
}

TEST_F(ItemLayoutTest, ContainerChildrenFollowTheColumns) {
    const RECT first = Named<CControlUI>(L"first")->GetPos();
    const RECT second = Named<CControlUI>(L"second")->GetPos();
    const RECT cell0 = Named<CControlUI>(L"cell0")->GetPos();
    const RECT cell1 = Named<CControlUI>(L"cell1")->GetPos();
    EXPECT_EQ(first.left, cell0.left);
    EXPECT_EQ(first.right, cell0.right);
    EXPECT_EQ(second.left, cell1.left);
    EXPECT_EQ(second.right, cell1.right);
    // A column without "height" takes its "width" as written, at any DPI.
    EXPECT_EQ(120, first.right - first.left);
}

TEST_F(ItemLayoutTest, GridLinesAndTheSelectedPicture) {
    const uitest::Capture capture = Paint("list-lines");
    const RECT first = Named<CControlUI>(L"first")->GetPos();
    const RECT label = Named<CControlUI>(L"label")->GetPos();
    const RECT chosen = Named<CControlUI>(L"chosen")->GetPos();
    EXPECT_EQ(0xFF00FFu, capture.At(label.left + 2, label.bottom - 1));
    EXPECT_NE(0xFF00FFu, capture.At(label.left + 2, label.bottom - 2));
    EXPECT_EQ(0xFF00FFu, capture.At(first.right - 1, (label.top + label.bottom) / 2));
    // Under the selected picture: no lines.
    EXPECT_EQ(0xFF8000u, capture.At(chosen.left + 2, chosen.bottom - 1));
    EXPECT_EQ(0xFF8000u, capture.At(first.right - 1, (chosen.top + chosen.bottom) / 2));
    // The separator picture on the first column's right edge.
    const RECT sep = Named<CListHeaderItemUI>(L"first")->GetSeparatorRect();
    EXPECT_EQ(0x800080u, capture.At(sep.left + 1, (sep.top + sep.bottom) / 2));
}

TEST_F(ItemLayoutTest, ItemNotifications) {
    CControlUI* label = Named<CControlUI>(L"label");
    CControlUI* box = Named<CControlUI>(L"box");
    Raise(label, EventDoubleClick, Centre(label->GetPos()));
    Raise(label, EventKeyDown, Centre(label->GetPos()), 0, VK_RETURN);
    Raise(box, EventDoubleClick, Centre(box->GetPos()));
    EXPECT_EQ((Seen{L"itemactivate:label", L"itemactivate:label", L"itemactivate:box"}), recorder.Seen());
    // The container element reports its timers and, with "menu" on, its context menu.
    recorder.Clear();
    Raise(box, EventTimer, POINT{}, 5);
    EXPECT_EQ(std::vector<WPARAM>{5}, recorder.WParams(L"timer"));
    Raise(box, EventContextMenu, Centre(box->GetPos()));
    EXPECT_EQ(0, recorder.Count(L"menu"));
    box->SetAttribute(L"menu", L"true");
    Raise(box, EventContextMenu, Centre(box->GetPos()), 7);
    EXPECT_EQ(std::vector<WPARAM>{7}, recorder.WParams(L"menu"));
    // A disabled item is not activated.
    recorder.Clear();
    label->SetEnabled(false);
    Raise(label, EventDoubleClick, Centre(label->GetPos()));
    EXPECT_EQ(Seen{}, recorder.Seen());
}

TEST_F(ItemLayoutTest, HiddenHeaderStillGivesColumnRectangles) {
    list->SetAttribute(L"header", L"hidden");
    Paint("hidden-header");
    const ListItemStyle* style = list->GetItemStyle();
    CControlUI* first = Named<CControlUI>(L"first");
    EXPECT_FALSE(first->IsVisible());
    EXPECT_EQ(2, style->columns);
    EXPECT_EQ(list->GetPos().left, style->columnRects[0].left);
    EXPECT_EQ(120, style->columnRects[0].right - style->columnRects[0].left);
    EXPECT_EQ(0, style->columnRects[0].top);
    EXPECT_EQ(style->columnRects[0].right, style->columnRects[1].left);
}

TEST_F(ItemLayoutTest, RealClicksReachEachClass) {
    EXPECT_TRUE(DesktopClick(Centre(Named<CControlUI>(L"label")->GetPos()), L"itemclick"));
    EXPECT_EQ(0, list->GetSelectedIndex());
    EXPECT_TRUE(DesktopClick(Centre(Named<CControlUI>(L"second")->GetPos()), L"headerclick"));
    EXPECT_TRUE(DesktopClick(Centre(Named<CControlUI>(L"cell1")->GetPos()), L"itemclick"));
    EXPECT_EQ(2, list->GetSelectedIndex());
    list->SetAttribute(L"itemshowhtml", L"true");
    CListTextElementUI* texts = Named<CListTextElementUI>(L"texts");
    texts->SetColumnText(1, L"{a go}linked{/a}");
    Paint("real-clicks");
    ASSERT_EQ(1, texts->GetLinkCount());
    EXPECT_TRUE(DesktopClick(Centre(texts->GetLinkRect(0)), L"link"));
}

// ------------------------------------------------------------------ items in code

class Provider : public IListTextProvider {
public:
    const wchar_t* GetCellText(CControlUI* item, int index, int column) override {
        asked.push_back(std::make_pair(index, column));
        last = item;
        return column == 0 ? L"left" : nullptr;
    }
    std::vector<std::pair<int, int>> asked;
    CControlUI* last = nullptr;
};

class ItemTest : public ListTest {
protected:
    // A list with two 150-pixel columns.
    void MakeColumns(const wchar_t* attributes) {
        list = new CListUI;
        list->ApplyAttributeString(attributes);
        for (int i = 0; i < 2; ++i) {
            CListHeaderItemUI* column = new CListHeaderItemUI;
            column->SetAttribute(L"width", L"150");
            list->AddItem(column);
        }
    }
};

TEST_F(ItemTest, LinksAcrossColumnsShareEightSlots) {
    MakeColumns(L"itemshowhtml=\"true\"");
    CListTextElementUI* row = new CListTextElementUI;
    CListTextElementUI* crowded = new CListTextElementUI;
    list->AddItem(row);
    list->AddItem(crowded);
    Host(400, 200, list);
    row->SetColumnText(0, L"{a a}one{/a} {a b}two{/a}");
    row->SetColumnText(1, L"{a c}three{/a}");
    crowded->SetColumnText(0, L"{a}a{/a} {a}b{/a} {a}c{/a} {a}d{/a} {a}e{/a}");
    crowded->SetColumnText(1, L"{a}f{/a} {a}g{/a} {a}h{/a} {a}i{/a}");
    Paint("links");
    ASSERT_EQ(3, row->GetLinkCount());
    EXPECT_GE(row->GetLinkRect(2).left, list->GetItemStyle()->columnRects[1].left);
    for (int i : {0, 1, 2}) {
        Raise(row, EventButtonUp, Centre(row->GetLinkRect(i)));
    }
    EXPECT_EQ((std::vector<WPARAM>{0, 1, 2}), recorder.WParams(L"link"));
    Raise(row, EventSetCursor, Centre(row->GetLinkRect(0)));
    EXPECT_EQ(LoadCursorW(nullptr, IDC_HAND), GetCursor());

    // The ninth link of a row gets no rectangle: a click there is a plain click.
    ASSERT_EQ(8, crowded->GetLinkCount());
    recorder.Clear();
    const RECT eighth = crowded->GetLinkRect(7);
    const int space = ctltest::TextExtent(Manager().GetFontHandle(-1), L" ").cx;
    Raise(crowded, EventButtonUp, POINT{eighth.right + space + 2, Centre(eighth).y});
    EXPECT_EQ(Seen{L"itemclick:"}, recorder.Seen());
}

TEST_F(ItemTest, CellsComeFromTheProviderOrTheColumnTexts) {
    MakeColumns(L"");
    CListTextElementUI* row = new CListTextElementUI;
    list->AddItem(new CListTextElementUI);
    list->AddItem(row);
    row->SetItemOwner(nullptr);   // changes nothing
    EXPECT_EQ(static_cast<IListOwnerUI*>(list), row->GetItemOwner());
    Host(400, 200, list);
    row->SetColumnText(1, L"right");
    row->SetColumnText(2, L"outside");
    row->SetColumnText(-1, L"outside");
    EXPECT_EQ(nullptr, row->GetColumnText(0));
    EXPECT_STREQ(L"right", row->GetColumnText(1));
    EXPECT_EQ(nullptr, row->GetColumnText(2));
    row->SetColumnText(1, nullptr);
    EXPECT_EQ(nullptr, row->GetColumnText(1));

    Provider provider;
    list->SetTextProvider(&provider);
    Paint("cells");
    const std::vector<std::pair<int, int>> expected = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
    EXPECT_EQ(expected, provider.asked);
    EXPECT_EQ(row, provider.last);
    list->SetTextProvider(nullptr);
}

TEST_F(ItemTest, DefaultColoursAlternateRowsAndDisabledText) {
    list = new CListUI;
    list->SetAttribute(L"header", L"hidden");
    list->SetAttribute(L"itembkcolor", L"#FFF0F0F0");
    list->SetAttribute(L"itemaltbk", L"true");
    for (int i = 0; i < 5; ++i) list->AddItem(Row());
    CListLabelElementUI* disabled = static_cast<CListLabelElementUI*>(list->GetItemAt(4));
    disabled->SetText(L"WWWW");
    disabled->SetEnabled(false);
    Host(200, 120, list);
    list->SelectIndex(2);
    Raise(Item(3), EventMouseEnter, Centre(Item(3)->GetPos()));
    const uitest::Capture capture = Paint("item-colours");
    auto at = [&](int i) { return capture.At(Item(i)->GetPos().left + 3, Item(i)->GetPos().top + 3); };
    EXPECT_EQ(0xF0F0F0u, at(0));
    EXPECT_EQ(kWhite, at(1));
    EXPECT_EQ(kSelected, at(2));
    EXPECT_EQ(kHot, at(3));
    EXPECT_EQ(kWhite, at(4));
    int grey = 0, black = 0;
    const RECT r = Item(4)->GetPos();
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) {
            grey += capture.At(x, y) == 0xCCCCCCu;
            black += capture.At(x, y) == 0u;
        }
    }
    EXPECT_GT(grey, 10);
    EXPECT_EQ(0, black);
    // The same pixels as GDI draws the text in the same face.
    uitest::Surface reference(r.right - r.left, r.bottom - r.top, kWhite);
    HGDIOBJ old = SelectObject(reference.DC(), Manager().GetFontHandle(-1));
    SetTextColor(reference.DC(), RGB(0xCC, 0xCC, 0xCC));
    SetBkMode(reference.DC(), TRANSPARENT);
    RECT box = {0, 0, r.right - r.left, r.bottom - r.top};
    DrawTextW(reference.DC(), L"WWWW", -1, &box, DT_VCENTER | DT_SINGLELINE);
    SelectObject(reference.DC(), old);
    int differing = 0;
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) differing += capture.At(x, y) != reference.At(x - r.left, y - r.top);
    }
    EXPECT_EQ(0, differing);
    // Leaving clears the hot look.
    Raise(Item(3), EventMouseLeave, POINT{});
    EXPECT_FALSE(static_cast<CListLabelElementUI*>(Item(3))->IsHot());
}

TEST_F(ItemTest, FixedScrollBarKeepsItemWidths) {
    MakeList(2, 200, 100);
    const int body = list->GetListBody()->GetWidth();
    EXPECT_EQ(body, Item(0)->GetWidth());
    list->SetAttribute(L"fixedscrollbar", L"true");
    list->MarkForLayout();
    Paint("fixed-bar");
    EXPECT_FALSE(list->GetVerticalScrollBar()->IsVisible());
    EXPECT_EQ(body - list->GetVerticalScrollBar()->GetFixedWidth(), Item(0)->GetWidth());
}

TEST_F(ItemTest, NonItemsGoBelowTheBody) {
    MakeList(2, 200, 100);
    CControlUI* other = new CControlUI;
    other->SetFixedHeight(10);
    list->AddItem(other);
    EXPECT_EQ(2, list->GetItemCount());
    EXPECT_EQ(-1, list->IndexOfItem(other));
    EXPECT_EQ(2, list->CContainerUI::IndexOfItem(other));
    Paint("below-body");
    EXPECT_EQ(list->GetListBody()->GetPos().bottom, other->GetPos().top);
}

}  // namespace
