// Combo boxes in real windows: the drop-down's size and place, the selection
// table, keys, clicks and the wheel in the open drop-down (SendInput), the
// arrow strip and the selected item on captures, and a combo or a drop-down
// window that goes away or never comes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Combo.h"
#include "ControlsTestSupport.h"
#include "DesktopInput.h"
#include "ListItems.h"
#include "ScrollBar.h"

using namespace Veneer;
using ctltest::Centre;
using ctltest::PumpUntil;
using ctltest::Settle;

namespace {

int DropDownWindows() { return ctltest::ThreadWindows(L"VeneerComboWnd"); }

// Refuses the creation of every drop-down window while installed.
LRESULT CALLBACK RefuseDropDowns(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        wchar_t name[64] = {};
        GetClassNameW(reinterpret_cast<HWND>(wParam), name, 64);
        if (wcscmp(name, L"VeneerComboWnd") == 0) return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

RECT WindowRect(HWND window) {
    RECT r = {};
    GetWindowRect(window, &r);
    return r;
}

class ComboTest : public ::testing::Test, public ctltest::ControlsFixture {
protected:
    void SetUp() override {
        Build(L"controls/combos.xml");
        combo = Named<CComboUI>(L"combo");
        box = Named<CComboBoxUI>(L"box");
        SetForegroundWindow(host->Window());
    }
    void TearDown() override { TearDownHost(); }

    static void Fill(CComboUI* target, int count) {
        for (int i = 0; i < count; ++i) {
            CListLabelElementUI* item = new CListLabelElementUI;
            item->SetFixedHeight(20);
            item->SetText((L"Item " + std::to_wstring(i)).c_str());
            target->AddItem(item);
        }
    }
    HWND DropDown() const { return combo->GetDropDown() ? combo->GetDropDown()->GetHWND() : nullptr; }
    bool Open() {
        combo->Activate();
        return PumpUntil([this] { return DropDown() && IsWindowVisible(DropDown()); });
    }
    bool Closed() {
        return PumpUntil([this] { return !combo->GetDropDown() && DropDownWindows() == 0; });
    }
    void Close() {
        if (HWND window = DropDown()) SendMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_TRUE(Closed());
    }
    RECT ScreenRect(CControlUI* control) {
        RECT r = control->GetPos();
        MapWindowPoints(host->Window(), nullptr, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    POINT ItemOnScreen(int index) {
        CControlUI* item = combo->GetItemAt(index);
        POINT p = Centre(item->GetPos());
        ClientToScreen(DropDown(), &p);
        return p;
    }
    std::vector<std::pair<WPARAM, LPARAM>> ItemSelects() const {
        std::vector<std::pair<WPARAM, LPARAM>> out;
        for (const ctltest::Notice& n : recorder.notices) {
            if (n.type == L"itemselect") out.emplace_back(n.wParam, n.lParam);
        }
        return out;
    }

    CComboUI* combo = nullptr;
    CComboBoxUI* box = nullptr;
};

TEST_F(ComboTest, DropDownSizeAndPlace) {
    struct Case {
        int items;
        int height;
        bool scrolls;
    };
    for (const Case& c : {Case{10, 150, true}, Case{4, 84, false}}) {
        SCOPED_TRACE(c.items);
        combo->RemoveAllItems();
        Fill(combo, c.items);
        recorder.Clear();
        ASSERT_TRUE(Open());
        const RECT below = ScreenRect(combo);
        const RECT r = WindowRect(DropDown());
        EXPECT_EQ(below.left, r.left);
        EXPECT_EQ(below.bottom, r.top);
        EXPECT_EQ(180, r.right - r.left);
        EXPECT_EQ(c.height, r.bottom - r.top);
        CScrollBarUI* bar = combo->GetDropDown()->GetList()->GetVerticalScrollBar();
        EXPECT_TRUE(PumpUntil([&] { return bar && bar->IsVisible() == c.scrolls; }, 3000));
        uitest::SavePng(uitest::GrabWindow(DropDown()), c.scrolls ? "dropdown_scrolls" : "dropdown_short");
        // Every activation says "predropdown"; only a new window "dropdown".
        EXPECT_TRUE(combo->Activate());
        EXPECT_EQ(2, recorder.Count(L"predropdown"));
        EXPECT_EQ(1, recorder.Count(L"dropdown"));
        Close();
    }
    // Near the work area's bottom it opens above the combo.
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(MonitorFromWindow(host->Window(), MONITOR_DEFAULTTOPRIMARY), &info);
    SetWindowPos(host->Window(), nullptr, 40, info.rcWork.bottom - combo->GetPos().bottom - 20, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_TRUE(Open());
    const RECT r = WindowRect(DropDown());
    EXPECT_EQ(ScreenRect(combo).top, r.bottom);
    EXPECT_EQ(84, r.bottom - r.top);
    Close();
}

TEST_F(ComboTest, SelectionTable) {
    Fill(combo, 6);
    auto key = [this](WORD vk) { Raise(combo, EventKeyDown, POINT{}, 0, vk); };
    auto wheel = [this](WPARAM direction) { Raise(combo, EventScrollWheel, POINT{}, direction); };
    typedef std::vector<std::pair<WPARAM, LPARAM>> Selects;
    struct Step {
        const char* what;
        std::function<void()> act;
        Selects selects;
        int selected;
    };
    const std::vector<Step> steps = {
        {"select 2", [&] { EXPECT_TRUE(combo->SelectIndex(2)); }, {{2, -1}}, 2},
        {"select 2 again", [&] { EXPECT_TRUE(combo->SelectIndex(2)); }, {}, 2},
        {"beyond the end", [&] { EXPECT_TRUE(combo->SelectIndex(99)); }, {{5, 2}}, 5},
        {"-1 deselects", [&] { EXPECT_FALSE(combo->SelectIndex(-1)); }, {}, -1},
        {"Home", [&] { key(VK_HOME); }, {{0, -1}}, 0},
        {"Down", [&] { key(VK_DOWN); }, {{1, 0}}, 1},
        {"Up", [&] { key(VK_UP); }, {{0, 1}}, 0},
        {"wheel down selects", [&] { wheel(1); }, {{1, 0}}, 1},
        {"wheel off does nothing", [&] { combo->SetAttribute(L"scrollselect", L"false"); wheel(1); }, {}, 1},
        {"End over a hidden last item", [&] { combo->GetItemAt(5)->SetVisible(false); key(VK_END); }, {}, -1},
        {"removing the selected selects the one now at its index",
         [&] { combo->SelectIndex(3); recorder.Clear(); combo->RemoveItemAt(3); }, {{3, -1}}, 3},
        {"removing one above the selected", [&] { EXPECT_TRUE(combo->RemoveItemAt(0)); }, {}, 2},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        recorder.Clear();
        step.act();
        EXPECT_EQ(step.selects, ItemSelects());
        EXPECT_EQ(step.selected, combo->GetSelectedIndex());
        for (int i = 0; i < combo->GetItemCount(); ++i) {
            IListItemUI* item = static_cast<IListItemUI*>(combo->GetItemAt(i)->FindInterface(L"ListItem"));
            EXPECT_EQ(i == step.selected, item->IsItemSelected()) << i;
            EXPECT_EQ(i, item->GetItemIndex());
        }
        EXPECT_EQ(step.selected >= 0 ? combo->GetItemAt(step.selected)->GetText() : CUIString(), combo->GetText());
    }
}

TEST_F(ComboTest, KeysClicksAndWheelInTheDropDown) {
    Fill(combo, 10);
    combo->SelectIndex(0);
    {
        SCOPED_TRACE("Escape restores the opening selection");
        ASSERT_TRUE(Open());
        recorder.Clear();
        desk::Key(VK_DOWN);
        desk::Key(VK_DOWN);
        EXPECT_TRUE(PumpUntil([this] { return combo->GetSelectedIndex() == 2; }));
        desk::Key(VK_ESCAPE);
        EXPECT_TRUE(Closed());
        EXPECT_EQ((std::vector<std::pair<WPARAM, LPARAM>>{{1, 0}, {2, 1}, {0, 2}}), ItemSelects());
        EXPECT_EQ(0, combo->GetSelectedIndex());
    }
    {
        SCOPED_TRACE("Return keeps it");
        ASSERT_TRUE(Open());
        desk::Key(VK_DOWN);
        desk::Key(VK_RETURN);
        EXPECT_TRUE(Closed());
        EXPECT_EQ(1, combo->GetSelectedIndex());
    }
    {
        SCOPED_TRACE("a click selects on the press and closes after the release");
        ASSERT_TRUE(Open());
        recorder.Clear();
        const POINT item = ItemOnScreen(3);
        desk::MoveTo(item);
        desk::Button(item, MOUSEEVENTF_LEFTDOWN);
        EXPECT_TRUE(PumpUntil([this] { return combo->GetSelectedIndex() == 3; }));
        Settle(200);
        EXPECT_NE(nullptr, DropDown());
        desk::Button(item, MOUSEEVENTF_LEFTUP);
        EXPECT_TRUE(Closed());
        EXPECT_EQ((std::vector<std::pair<WPARAM, LPARAM>>{{3, 1}}), ItemSelects());
    }
    {
        SCOPED_TRACE("pressed on the scroll bar, released over an item");
        ASSERT_TRUE(Open());
        CScrollBarUI* bar = combo->GetDropDown()->GetList()->GetVerticalScrollBar();
        ASSERT_TRUE(PumpUntil([bar] { return bar->IsVisible(); }));
        POINT press = Centre(bar->GetPos());
        ClientToScreen(DropDown(), &press);
        const POINT release = ItemOnScreen(1);
        desk::MoveTo(press);
        desk::Button(press, MOUSEEVENTF_LEFTDOWN);
        // The press is handled while the cursor is still on the bar.
        Settle(200);
        desk::MoveTo(release);
        desk::Button(release, MOUSEEVENTF_LEFTUP);
        Settle();
        EXPECT_NE(nullptr, DropDown());
        Close();
    }
    {
        SCOPED_TRACE("the wheel with scrollselect off");
        combo->SetAttribute(L"scrollselect", L"false");
        const int selected = combo->GetSelectedIndex();
        POINT over = Centre(combo->GetPos());
        ClientToScreen(host->Window(), &over);
        desk::MoveTo(over);
        desk::Wheel(over, -WHEEL_DELTA);
        Settle();
        EXPECT_EQ(selected, combo->GetSelectedIndex());
        ASSERT_TRUE(Open());
        CVerticalLayoutUI* list = combo->GetDropDown()->GetList();
        ASSERT_TRUE(PumpUntil([list] { return list->GetVerticalScrollBar()->IsVisible(); }));
        const POINT inside = ItemOnScreen(1);
        desk::MoveTo(inside);
        desk::Wheel(inside, -WHEEL_DELTA);
        EXPECT_TRUE(PumpUntil([list] { return list->GetScrollPos().cy > 0; }));
        EXPECT_EQ(selected, combo->GetSelectedIndex());
        EXPECT_NE(nullptr, DropDown());
    }
    {
        SCOPED_TRACE("moving or resizing the combo closes it");
        if (!DropDown()) ASSERT_TRUE(Open());
        RECT moved = combo->GetPos();
        OffsetRect(&moved, 0, 4);
        combo->SetPos(moved);
        EXPECT_TRUE(Closed());
        ASSERT_TRUE(Open());
        moved.right += 10;
        combo->SetPos(moved);
        EXPECT_TRUE(Closed());
    }
}

TEST_F(ComboTest, ArrowStripAndSelectedItemOnCapture) {
    Fill(box, 3);
    const DWORD frames[5] = {0xDC1414, 0x14B414, 0x1414DC, 0x808000, 0x808080};
    const int border = box->GetBorderSize();
    auto arrowCentre = [&](const uitest::Capture& capture) {
        const RECT r = box->GetPos();
        return capture.At(r.right - border - 6, (r.top + r.bottom) / 2);
    };
    struct State {
        const char* name;
        std::function<void()> enter, leave;
        int frame;
    };
    const std::vector<State> states = {
        {"normal", [] {}, [] {}, 0},
        {"hot", [&] { Raise(box, EventMouseEnter, Centre(box->GetPos())); },
         [&] { Raise(box, EventMouseLeave, POINT{}); }, 1},
        {"pushed", [&] { Raise(box, EventButtonDown, Centre(box->GetPos())); },
         [&] {
             if (box->GetDropDown()) SendMessageW(box->GetDropDown()->GetHWND(), WM_CLOSE, 0, 0);
             PumpUntil([&] { return !box->GetDropDown(); });
         },
         2},
        {"focused", [&] { box->TakeFocus(); }, [&] { Manager().SetFocusedControl(nullptr); }, 3},
        {"disabled", [&] { box->SetEnabled(false); }, [&] { box->SetEnabled(true); }, 4},
    };
    for (const State& s : states) {
        SCOPED_TRACE(s.name);
        s.enter();
        const uitest::Capture capture = Paint((std::string("arrow_") + s.name).c_str());
        EXPECT_EQ(frames[s.frame], arrowCentre(capture));
        s.leave();
    }
    // One frame wide, at the right inside the border (give or take the one
    // pixel that image positions in layout units round to at 144 DPI).
    uitest::Capture capture = Paint("arrow_edges");
    const RECT r = box->GetPos();
    const int y = (r.top + r.bottom) / 2;
    const int slack = scale == 100 ? 0 : 1;
    EXPECT_EQ(12, box->GetArrowWidth());
    EXPECT_EQ(frames[0], capture.At(r.right - border - 1 - slack, y));
    EXPECT_EQ(frames[0], capture.At(r.right - border - 12 + slack, y));
    EXPECT_EQ(0xFFFFFFu, capture.At(r.right - border - 13 - slack, y));
    EXPECT_EQ(0u, capture.At(r.right - 1, y));

    // The selected item draws its text left of the arrow, as DrawTextW does.
    box->SelectIndex(1);
    capture = Paint("selected_item");
    RECT text = r;
    text.left += S(4);
    text.right -= box->GetArrowWidth();
    uitest::Surface expected(capture.width, capture.height, 0xFFFFFF);
    HGDIOBJ old = SelectObject(expected.DC(), Manager().GetFontHandle(1));
    SetBkMode(expected.DC(), TRANSPARENT);
    SetTextColor(expected.DC(), RGB(0, 0, 0xC0));
    DrawTextW(expected.DC(), L"Item 1", -1, &text, DT_VCENTER | DT_NOPREFIX);
    SelectObject(expected.DC(), old);
    int differing = 0, inked = 0;
    for (int yy = text.top + border; yy < text.bottom - border; ++yy) {
        // The text's rectangle reaches over the arrow by the border's width.
        for (int x = text.left; x < text.right - border; ++x) {
            differing += capture.At(x, yy) != expected.At(x, yy);
            inked += expected.At(x, yy) != 0xFFFFFF;
        }
    }
    EXPECT_GT(inked, 20);
    EXPECT_EQ(0, differing);

    // Arrow strings without a well-formed strip draw no arrow.
    for (const wchar_t* image :
         {L"file='popup/strip.png'", L"file='popup/strip.png' source='0,0,60'", L"file='popup/strip.png' source='0,0,60,20",
          L"file='popup/strip.png' source=0,0,60,20", L"file='popup/strip.png' source='a,0,60,20'",
          L"file='popup/strip.png' source", L"file='popup/strip.png' source='0,0,4,20'"}) {
        SCOPED_TRACE(std::wstring(image));
        box->SetAttribute(L"arrowimage", image);
        capture = Paint("arrow_malformed");
        EXPECT_EQ(0, box->GetArrowWidth());
        EXPECT_EQ(0xFFFFFFu, arrowCentre(capture));
    }
}

TEST_F(ComboTest, DropDownGoingAwayOrNeverComing) {
    Fill(combo, 5);
    {
        SCOPED_TRACE("creation refused, then allowed");
        HHOOK hook = SetWindowsHookExW(WH_CBT, RefuseDropDowns, nullptr, GetCurrentThreadId());
        ASSERT_NE(nullptr, hook);
        recorder.Clear();
        EXPECT_FALSE(combo->Activate());
        EXPECT_EQ(nullptr, combo->GetDropDown());
        EXPECT_EQ(0, DropDownWindows());
        EXPECT_EQ(1, recorder.Count(L"predropdown"));
        EXPECT_EQ(0, recorder.Count(L"dropdown"));
        UnhookWindowsHookEx(hook);
        ASSERT_TRUE(Open());
        EXPECT_EQ(1, recorder.Count(L"dropdown"));
        Close();
    }
    {
        SCOPED_TRACE("the combo deleted with its drop-down open");
        ASSERT_TRUE(Open());
        const HWND window = DropDown();
        CContainerUI* root = Named<CContainerUI>(L"root");
        EXPECT_TRUE(root->RemoveItem(combo));
        combo = nullptr;
        EXPECT_TRUE(PumpUntil([window] { return !IsWindow(window) && DropDownWindows() == 0; }));
        Paint("combo_gone");
        // The box still opens.
        combo = box;
        Fill(box, 2);
        ASSERT_TRUE(Open());
        Close();
    }
}

}  // namespace
