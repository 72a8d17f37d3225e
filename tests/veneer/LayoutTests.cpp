// Containers and layouts in real windows: stacking shares, alignment,
// floating children, tiles, tabs, scrolling, the separator drag, the child
// list's ownership rules and clipped painting.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Container.h"
#include "PaintManager.h"
#include "ScrollBar.h"
#include "SkinTestSupport.h"
#include "StackLayout.h"
#include "TabTileLayout.h"
#include "support/UITestHost.h"

using namespace Veneer;
using uitest::Capture;
using uitest::HostWindow;

namespace {

int g_deleted = 0;

// A control that counts its destruction.
class Counted : public CControlUI {
public:
    ~Counted() override { ++g_deleted; }
};

class Recorder : public INotifyUI {
public:
    void Notify(NotifyEvent& event) override {
        types.push_back(event.type.GetData());
        wParams.push_back(event.wParam);
        lParams.push_back(event.lParam);
    }
    void Clear() {
        types.clear();
        wParams.clear();
        lParams.clear();
    }
    std::vector<std::wstring> types;
    std::vector<WPARAM> wParams;
    std::vector<LPARAM> lParams;
};

CControlUI* Block(const wchar_t* name, DWORD color, int width = 0, int height = 0) {
    CControlUI* control = new Counted;
    control->SetName(name);
    control->SetBkColor(color);
    if (width) control->SetFixedWidth(width);
    if (height) control->SetFixedHeight(height);
    return control;
}

class LayoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        skintest::UseFolder(skintest::SkinFolder());
        scale = MulDiv(skintest::ExpectedDpi(), 100, 96);
        host.reset(new HostWindow(S(320), S(300)));
        Manager().AddNotifyListener(&recorder);
        g_deleted = 0;
    }
    void TearDown() override { host.reset(); }
    CPaintManagerUI& Manager() { return host->Manager(); }
    int S(int v) const { return MulDiv(v, scale, 100); }
    // Makes the container the window's root and lays it out over the client.
    template <typename T>
    T* Root(T* container) {
        Manager().SetRootControl(container);
        host->Repaint();
        uitest::Pump();
        return container;
    }
    Capture Paint(const char* name) {
        host->Repaint();
        Capture capture = host->Grab();
        uitest::SavePng(capture, name);
        return capture;
    }
    int Height(const wchar_t* name) {
        CControlUI* c = Manager().FindControlByName(name);
        return c ? c->GetHeight() : -1;
    }

    std::unique_ptr<HostWindow> host;
    Recorder recorder;
    int scale = 100;
};

// ------------------------------------------------------------------ stacking

TEST_F(LayoutTest, VerticalSharesTheRestAmongChildrenWithoutSize) {
    struct Case {
        const char* what;
        int childPadding;
        int extra;       // pixels beyond the scaled 300
        int maxHeight;   // of the first child without a size (0: none)
        int share96[2];
        int share144[2];
    };
    const Case cases[] = {
        {"fixed 50, 100 and two free", 0, 0, 0, {75, 75}, {112, 113}},
        {"child padding 10", 10, 0, 0, {60, 60}, {97, 98}},
        {"one pixel more goes to the last", 0, 1, 0, {75, 76}, {113, 113}},
        {"maximum 40 on the first free", 0, 0, 40, {40, 110}, {60, 165}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CVerticalLayoutUI* layout = Root(new CVerticalLayoutUI);
        layout->SetChildPadding(c.childPadding);
        layout->AddItem(Block(L"a", 0xFFFF0000, 0, 50));
        layout->AddItem(Block(L"b", 0xFF00FF00, 0, 100));
        CControlUI* free1 = Block(L"c", 0xFF0000FF);
        if (c.maxHeight) free1->SetMaxHeight(c.maxHeight);
        layout->AddItem(free1);
        layout->AddItem(Block(L"d", 0xFFFFFF00));
        layout->SetPos(RECT{0, 0, S(320), S(300) + c.extra}, false);
        const int* share = scale == 150 ? c.share144 : c.share96;
        EXPECT_EQ(S(50), Height(L"a"));
        EXPECT_EQ(S(100), Height(L"b"));
        EXPECT_EQ(share[0], Height(L"c"));
        EXPECT_EQ(share[1], Height(L"d"));
        // Stacked without overlap, the gaps being the child padding.
        int y = 0;
        for (const wchar_t* name : {L"a", L"b", L"c", L"d"}) {
            const RECT& r = Manager().FindControlByName(name)->GetPos();
            EXPECT_EQ(y, r.top);
            EXPECT_EQ(S(320), r.right - r.left);
            y = r.bottom + c.childPadding;
        }
    }
    if (scale == 150) {
        // The hand-worked edges at 144 DPI: 0-75-225-337-450.
        CVerticalLayoutUI* layout = static_cast<CVerticalLayoutUI*>(Manager().GetRoot());
        layout->SetChildPadding(0);
        layout->GetItemAt(2)->SetMaxHeight(9999);
        layout->SetPos(RECT{0, 0, S(320), S(300)}, false);
        EXPECT_EQ(337, Manager().FindControlByName(L"c")->GetPos().bottom);
        EXPECT_EQ(450, Manager().FindControlByName(L"d")->GetPos().bottom);
    }
}

TEST_F(LayoutTest, HorizontalCentresAcrossAndPaintsEachChildInItsPlace) {
    CHorizontalLayoutUI* layout = Root(new CHorizontalLayoutUI);
    layout->SetAttribute(L"childvalign", L"vcenter");
    layout->SetAttribute(L"inset", L"10,10,10,10");
    layout->SetBkColor(0xFF202020);
    layout->AddItem(Block(L"left", 0xFFFF0000, 100, 40));
    layout->AddItem(Block(L"middle", 0xFF00FF00));
    layout->AddItem(Block(L"right", 0xFF0000FF, 60, 280));   // taller than the content: clipped
    const Capture cap = Paint("horizontal_vcenter");
    const RECT& left = Manager().FindControlByName(L"left")->GetPos();
    const RECT& middle = Manager().FindControlByName(L"middle")->GetPos();
    const RECT& right = Manager().FindControlByName(L"right")->GetPos();
    EXPECT_EQ(S(10), left.left);
    EXPECT_EQ(S(10) + (S(280) - S(40)) / 2, left.top);
    EXPECT_EQ(left.right, middle.left);
    EXPECT_EQ(S(320) - S(10), right.right);
    EXPECT_EQ(S(320) - S(20) - S(100) - S(60), middle.right - middle.left);
    // Centres carry each child's colour; one pixel past an edge is the neighbour.
    EXPECT_EQ(0xFF0000u, cap.At((left.left + left.right) / 2, (left.top + left.bottom) / 2));
    EXPECT_EQ(0x00FF00u, cap.At((middle.left + middle.right) / 2, S(150)));
    EXPECT_EQ(0x0000FFu, cap.At((right.left + right.right) / 2, S(150)));
    EXPECT_EQ(0x00FF00u, cap.At(left.right, S(150)));
    EXPECT_EQ(0x202020u, cap.At(left.left + 1, left.top - 1));
    EXPECT_EQ(0x0000FFu, cap.At(right.left, S(150)));
    // The oversized child stops at the content's edge (the inset shows).
    EXPECT_EQ(0x202020u, cap.At((right.left + right.right) / 2, S(5)));
    EXPECT_EQ(0x202020u, cap.At((right.left + right.right) / 2, S(300) - S(5)));
}

TEST_F(LayoutTest, FloatingChildrenByFixedPositionPercentAndAlignment) {
    CContainerUI* container = Root(new CContainerUI);
    CControlUI* fixed = Block(L"fixed", 0xFFFF0000, 30, 40);
    fixed->SetFloat(true);
    fixed->SetFixedXY(10, 20);
    CControlUI* percent = Block(L"percent", 0xFF00FF00, 30, 40);
    percent->SetFloat(true);
    percent->SetFloatPercent(0.5, 0.25, 0.5, 0.25);
    percent->SetFixedXY(2, 0);
    CControlUI* aligned = Block(L"aligned", 0xFF0000FF, 30, 40);
    aligned->SetFloat(true);
    aligned->SetFloatAlign(1 | 8);   // centre, bottom
    container->AddItem(fixed);
    container->AddItem(percent);
    container->AddItem(aligned);
    const Capture cap = Paint("float");
    const RECT want[] = {
        {S(10), S(20), S(40), S(60)},
        {S(320) / 2 + S(2), S(300) / 4, S(320) / 2 + S(2) + S(30), S(300) / 4 + S(40)},
        {(S(320) - S(30)) / 2, S(300) - S(40), (S(320) - S(30)) / 2 + S(30), S(300)},
    };
    const DWORD colours[] = {0xFF0000, 0x00FF00, 0x0000FF};
    CControlUI* controls[] = {fixed, percent, aligned};
    for (int i = 0; i < 3; ++i) {
        const RECT& r = controls[i]->GetPos();
        EXPECT_EQ(want[i].left, r.left) << i;
        EXPECT_EQ(want[i].top, r.top) << i;
        EXPECT_EQ(want[i].right, r.right) << i;
        EXPECT_EQ(want[i].bottom, r.bottom) << i;
        EXPECT_EQ(colours[i], cap.At((r.left + r.right) / 2, (r.top + r.bottom) / 2)) << i;
    }
}

TEST_F(LayoutTest, TilesShareTheWidthInEqualCells) {
    CTileLayoutUI* tile = Root(new CTileLayoutUI);
    tile->SetAttribute(L"columns", L"5");
    tile->SetAttribute(L"itemsize", L"100,80");
    for (int i = 0; i < 4; ++i) tile->AddItem(Block((L"t" + std::to_wstring(i)).c_str(), 0xFF000000 + i * 0x40, 0, 30));
    tile->SetPos(RECT{0, 0, S(350), S(300)}, false);
    const int cell = S(350) / (S(350) / S(100));
    EXPECT_EQ(3, tile->GetColumns());   // the item width beats "columns"
    for (int i = 0; i < 4; ++i) {
        const RECT& r = tile->GetItemAt(i)->GetPos();
        EXPECT_EQ((i % 3) * cell, r.left) << i;
        EXPECT_EQ(cell, r.right - r.left) << i;
        EXPECT_EQ((i / 3) * S(30), r.top) << i;
    }
}

// ------------------------------------------------------------------ scrolling

TEST_F(LayoutTest, VerticalBarFollowsTheContentAndScrollsTheChildren) {
    CVerticalLayoutUI* layout = Root(new CVerticalLayoutUI);
    layout->SetAttribute(L"vscrollbar", L"true");
    layout->SetAttribute(L"scrollstepsize", L"16");
    CControlUI* first = Block(L"first", 0xFFFF0000, 0, 150);
    CControlUI* second = Block(L"second", 0xFF00FF00, 0, 150);
    CControlUI* floating = Block(L"floating", 0xFF0000FF, 20, 20);
    floating->SetFloat(true);
    layout->AddItem(first);
    layout->AddItem(second);
    layout->AddItem(floating);
    layout->SetPos(RECT{0, 0, S(200), S(200)}, false);
    CScrollBarUI* bar = layout->GetVerticalScrollBar();
    ASSERT_NE(nullptr, bar);
    EXPECT_TRUE(bar->IsVisible());
    EXPECT_EQ(S(100), layout->GetScrollRange().cy);
    EXPECT_EQ(0, layout->GetScrollPos().cy);
    EXPECT_EQ(S(200) - bar->GetFixedWidth(), first->GetWidth());

    const RECT floatBefore = floating->GetPos();
    recorder.Clear();
    ControlEvent wheel = uitest::MouseEvent(EventScrollWheel, layout, 10, 10);
    wheel.wParam = 1;   // turned toward the user: a line down
    layout->HandleEvent(wheel);
    EXPECT_EQ(S(16), layout->GetScrollPos().cy);
    EXPECT_EQ(-S(16), first->GetPos().top);
    EXPECT_EQ(floatBefore.top, floating->GetPos().top);
    ASSERT_EQ(1u, recorder.types.size());
    EXPECT_EQ(L"scroll", recorder.types[0]);
    EXPECT_EQ(static_cast<WPARAM>((8 + S(16)) / 8), recorder.wParams[0]);

    // A line size of 0 numbers the lines by pixel.
    bar->SetLineSize(0);
    recorder.Clear();
    layout->ScrollLineDown();
    ASSERT_EQ(1u, recorder.types.size());
    EXPECT_EQ(S(32), layout->GetScrollPos().cy);
    EXPECT_EQ(static_cast<WPARAM>(S(32) + 1), recorder.wParams[0]);

    // Content that fits hides the bar and returns to the top.
    second->SetFixedHeight(0);
    second->SetMaxHeight(0);
    first->SetFixedHeight(150);
    layout->SetPos(RECT{0, 0, S(200), S(200)}, false);
    layout->SetPos(RECT{0, 0, S(200), S(200)}, false);
    EXPECT_FALSE(bar->IsVisible());
    EXPECT_EQ(0, bar->GetScrollPos());
    EXPECT_EQ(0, first->GetPos().top);
    Paint("scrolled");
}

TEST_F(LayoutTest, OwnedBarScrollsItsContainer) {
    CVerticalLayoutUI* layout = Root(new CVerticalLayoutUI);
    layout->SetAttribute(L"vscrollbar", L"true");
    layout->SetAttribute(L"scrollstepsize", L"10");
    layout->AddItem(Block(L"tall", 0xFFFF0000, 0, 400));
    layout->SetPos(RECT{0, 0, S(200), S(200)}, false);
    CScrollBarUI* bar = layout->GetVerticalScrollBar();
    ASSERT_TRUE(bar->IsVisible());
    const RECT& down = bar->GetButton2Rect();
    ControlEvent press = uitest::MouseEvent(EventButtonDown, bar, (down.left + down.right) / 2, (down.top + down.bottom) / 2);
    bar->HandleEvent(press);
    ControlEvent release = uitest::MouseEvent(EventButtonUp, bar, press.mouse.x, press.mouse.y);
    bar->HandleEvent(release);
    EXPECT_EQ(S(10), layout->GetScrollPos().cy);
    EXPECT_EQ(-S(10), layout->GetItemAt(0)->GetPos().top);
}

// ------------------------------------------------------------------ separator

TEST_F(LayoutTest, SeparatorDragResizesAndStopsAtTheMinimum) {
    for (bool immediate : {false, true}) {
        SCOPED_TRACE(immediate ? "immediate" : "preview");
        CVerticalLayoutUI* outer = Root(new CVerticalLayoutUI);
        outer->SetBkColor(0xFFFFFFFF);
        CVerticalLayoutUI* pane = new CVerticalLayoutUI;
        pane->SetName(L"pane");
        pane->SetBkColor(0xFF00FF00);
        pane->SetAttribute(L"sepheight", L"4");
        pane->SetAttribute(L"sepimm", immediate ? L"true" : L"false");
        pane->SetFixedHeight(100);
        pane->SetMinHeight(50);
        outer->AddItem(pane);
        outer->AddItem(Block(L"rest", 0xFFFFFFFF));
        host->Repaint();
        uitest::Pump();
        ASSERT_EQ(S(100), pane->GetHeight());
        const int bottom = pane->GetPos().bottom;
        ControlEvent press = uitest::MouseEvent(EventButtonDown, pane, 20, bottom - 2);
        pane->HandleEvent(press);
        ASSERT_TRUE(pane->IsSeparatorDragging());
        ControlEvent move = uitest::MouseEvent(EventMouseMove, pane, 20, bottom - 2 + S(30));
        pane->HandleEvent(move);
        if (!immediate) {
            // The preview band: translucent black over white.
            const Capture cap = Paint("separator_preview");
            const RECT band = pane->GetSeparatorRect(true);
            EXPECT_EQ(S(130), band.bottom);
            EXPECT_LE(uitest::ChannelDistance(0x555555, cap.At(20, band.bottom - 1)), 1);
            EXPECT_EQ(S(100), pane->GetHeight());   // not resized until release
        } else {
            EXPECT_EQ(S(130), pane->GetHeight());
        }
        ControlEvent up = uitest::MouseEvent(EventMouseMove, pane, 20, bottom - 2 + S(30) - S(100));
        pane->HandleEvent(up);
        ControlEvent release = uitest::MouseEvent(EventButtonUp, pane, up.mouse.x, up.mouse.y);
        pane->HandleEvent(release);
        EXPECT_FALSE(pane->IsSeparatorDragging());
        host->Repaint();
        uitest::Pump();
        // Kept by later layouts at the same size: stored as written, scaled when read.
        EXPECT_EQ(S(50), pane->GetHeight());
        EXPECT_EQ(S(50), pane->GetFixedHeight());
        EXPECT_TRUE(Manager().GetOverlayControls().IsEmpty());
    }
}

TEST_F(LayoutTest, SeparatorGrowsByTheDragAtAnyScale) {
    CVerticalLayoutUI* outer = Root(new CVerticalLayoutUI);
    CVerticalLayoutUI* pane = new CVerticalLayoutUI;
    pane->SetAttribute(L"sepheight", L"4");
    pane->SetAttribute(L"sepimm", L"true");
    pane->SetFixedHeight(100);
    outer->AddItem(pane);
    host->Repaint();
    uitest::Pump();
    const int bottom = pane->GetPos().bottom;
    ControlEvent press = uitest::MouseEvent(EventButtonDown, pane, 20, bottom - 1);
    pane->HandleEvent(press);
    ControlEvent move = uitest::MouseEvent(EventMouseMove, pane, 20, bottom - 1 + 30);
    pane->HandleEvent(move);
    ControlEvent release = uitest::MouseEvent(EventButtonUp, pane, move.mouse.x, move.mouse.y);
    pane->HandleEvent(release);
    host->Repaint();
    uitest::Pump();
    EXPECT_EQ(S(100) + 30, pane->GetHeight());
}

// ------------------------------------------------------------------ child list

TEST_F(LayoutTest, ChildListOwnershipAndOrder) {
    CVerticalLayoutUI* layout = Root(new CVerticalLayoutUI);
    CControlUI* a = Block(L"a", 0xFFFF0000);
    CControlUI* b = Block(L"b", 0xFF00FF00);
    layout->AddItem(a);
    layout->AddItem(b);
    EXPECT_EQ(a, Manager().FindControlByName(L"a"));
    EXPECT_EQ(layout, a->GetParent());
    IContainerUI* list = static_cast<IContainerUI*>(layout->FindInterface(L"icontainer"));
    ASSERT_NE(nullptr, list);
    EXPECT_FALSE(list->MoveItemTo(a, 2));
    EXPECT_FALSE(list->MoveItemTo(a, -1));
    EXPECT_EQ(2, list->GetItemCount());
    EXPECT_TRUE(list->MoveItemTo(a, 1));
    EXPECT_EQ(b, list->GetItemAt(0));
    EXPECT_EQ(nullptr, list->GetItemAt(2));

    // Removal deletes at the window's deferred-work message.
    EXPECT_TRUE(list->RemoveItem(a));
    EXPECT_EQ(0, g_deleted);
    uitest::Pump();
    EXPECT_EQ(1, g_deleted);
    EXPECT_FALSE(list->RemoveItem(a));

    // Without auto destroy the child comes back undeleted.
    layout->SetAutoDestroy(false);
    EXPECT_TRUE(list->RemoveItem(b));
    uitest::Pump();
    EXPECT_EQ(1, g_deleted);
    delete b;

    // A hidden container's new child is not visible until the container is.
    layout->SetAutoDestroy(true);
    layout->SetVisible(false);
    CControlUI* c = Block(L"c", 0xFF0000FF);
    layout->AddItem(c);
    EXPECT_FALSE(c->IsVisible());
    layout->SetVisible(true);
    EXPECT_TRUE(c->IsVisible());
}

TEST_F(LayoutTest, HitTestPrefersTheTopmostWithTheFlag) {
    CContainerUI* container = Root(new CContainerUI);
    CControlUI* under = Block(L"under", 0xFFFF0000);
    CControlUI* over = Block(L"over", 0xFF00FF00);
    container->AddItem(under);
    container->AddItem(over);
    host->Repaint();
    uitest::Pump();
    POINT p = {S(20), S(20)};
    auto hit = [](CControlUI* control, void* data) -> CControlUI* {
        return PtInRect(&control->GetPos(), *static_cast<POINT*>(data)) ? control : nullptr;
    };
    EXPECT_EQ(under, container->FindControl(hit, &p, FindVisible | FindHitTest));
    EXPECT_EQ(over, container->FindControl(hit, &p, FindVisible | FindHitTest | FindLastChildFirst));
    container->SetMouseChildEnabled(false);
    EXPECT_EQ(container, container->FindControl(hit, &p, FindVisible | FindHitTest));
}

TEST_F(LayoutTest, TabShowsOneChildAndReportsSelection) {
    CTabLayoutUI* tabs = Root(new CTabLayoutUI);
    CControlUI* pages[3];
    for (int i = 0; i < 3; ++i) {
        pages[i] = Block((L"page" + std::to_wstring(i)).c_str(), 0xFF000000 | (0xFF << (8 * i)));
        tabs->AddItem(pages[i]);
    }
    EXPECT_EQ(0, tabs->GetCurSel());
    EXPECT_TRUE(pages[0]->IsVisible());
    EXPECT_FALSE(pages[1]->IsVisible());
    host->Repaint();
    uitest::Pump();
    recorder.Clear();
    auto selections = [this] {
        std::vector<std::pair<WPARAM, LPARAM>> seen;
        for (size_t i = 0; i < recorder.types.size(); ++i) {
            if (recorder.types[i] == L"tabselect") seen.emplace_back(recorder.wParams[i], recorder.lParams[i]);
        }
        return seen;
    };
    EXPECT_TRUE(tabs->SelectItem(0));
    EXPECT_TRUE(selections().empty());
    EXPECT_FALSE(tabs->SelectItem(-1));
    EXPECT_TRUE(tabs->SelectItem(2));
    ASSERT_EQ(1u, selections().size());
    EXPECT_EQ(2u, selections()[0].first);
    EXPECT_EQ(0, selections()[0].second);
    EXPECT_FALSE(pages[0]->IsVisible());
    const Capture cap = Paint("tab");
    EXPECT_EQ(0xFF0000u, cap.At(S(160), S(150)));   // page 2's 0xFF0000 (red byte)
    // Removing the selected page selects the first.
    EXPECT_TRUE(tabs->RemoveItem(pages[2]));
    EXPECT_EQ(0, tabs->GetCurSel());
    EXPECT_TRUE(pages[0]->IsVisible());
}

}  // namespace
