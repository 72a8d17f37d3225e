// Pop-up menus in real windows, driven through SendInput: the chosen item's
// record, what chooses nothing, sub-menus opening and closing, the rows and
// separator on captures, where menus and sub-menus are placed, and objects
// and windows going away while menus are up.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ControlsTestSupport.h"
#include "DesktopInput.h"
#include "Menu.h"
#include "SkinTestSupport.h"

using namespace Veneer;
using ctltest::Centre;
using ctltest::PumpUntil;
using ctltest::Settle;

namespace {

const wchar_t kLayout[] = L"controls/menus.xml";

struct Choice {
    std::wstring name, userData, text;
    int checkState;
    LPARAM element;
    bool terminated;   // every field ends inside its width
};

// The opener's side: takes each chosen-item message, copies the record and
// frees it as the application does.
class ChoiceRecorder : public IMessageFilterUI {
public:
    LRESULT FilterMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override {
        if (message != WM_MENUITEM_CHOSEN) return 0;
        MenuClickInfo* info = reinterpret_cast<MenuClickInfo*>(wParam);
        const bool terminated = wcsnlen(info->name, 256) < 256 && wcsnlen(info->userData, 1024) < 1024 &&
                                wcsnlen(info->text, 1024) < 1024;
        choices.push_back(Choice{info->name, info->userData, info->text, info->checkState, lParam, terminated});
        delete info;
        handled = true;
        return 0;
    }
    std::vector<Choice> choices;
};

int MenuWindows() { return ctltest::ThreadWindows(L"VeneerMenuWnd"); }

RECT WindowRect(HWND window) {
    RECT r = {};
    GetWindowRect(window, &r);
    return r;
}

MONITORINFO Primary() {
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info);
    return info;
}

class MenuTest : public ::testing::Test, public ctltest::ControlsFixture {
protected:
    void SetUp() override { OpenHost(); }
    void TearDown() override {
        delete menu;
        menu = nullptr;
        EXPECT_TRUE(PumpUntil([] { return MenuWindows() == 0; }));
        if (host) host->Manager().RemoveMessageFilter(&opener);
        TearDownHost();
    }

    void OpenHost() {
        skintest::UseFolder(skintest::SkinFolder());
        Host(200, 100, new uitest::TestPanel);
        Manager().AddMessageFilter(&opener);
        SetForegroundWindow(host->Window());
        uitest::Pump();
    }

    // A root menu at a screen point, placed again as the application does.
    CMenuWnd* OpenMenu(POINT at, const wchar_t* layout = kLayout) {
        menu = new CMenuWnd;
        menu->Open(nullptr, layout, &Manager(), at.x, at.y);
        menu->PlaceInWorkArea();
        EXPECT_TRUE(PumpUntil([this] { return menu->GetHWND() && IsWindowVisible(menu->GetHWND()); }));
        Settle(100);
        return menu;
    }
    CMenuElementUI* Item(const wchar_t* name) {
        return static_cast<CMenuElementUI*>(menu->GetManager().FindControlByName(name));
    }
    static POINT OnScreen(CControlUI* control, POINT client) {
        ClientToScreen(control->GetManager()->GetPaintWindow(), &client);
        return client;
    }
    static POINT ScreenCentre(CControlUI* control) { return OnScreen(control, Centre(control->GetPos())); }
    static RECT ScreenRect(CControlUI* control) {
        RECT r = control->GetPos();
        MapWindowPoints(control->GetManager()->GetPaintWindow(), nullptr, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    static HWND SubWindow(CMenuElementUI* item) {
        return item->GetSubMenuWnd() ? item->GetSubMenuWnd()->GetHWND() : nullptr;
    }
    // Hovers an item that has sub-items until its sub-menu window is up.
    bool HoverOpen(CMenuElementUI* item) {
        desk::MoveTo(ScreenCentre(item));
        return PumpUntil([item] { return SubWindow(item) && IsWindowVisible(SubWindow(item)); });
    }
    void ClickAt(POINT screen) {
        desk::MoveTo(screen);
        uitest::Pump();
        desk::Button(screen, MOUSEEVENTF_LEFTDOWN);
        desk::Button(screen, MOUSEEVENTF_LEFTUP);
    }

    ChoiceRecorder opener;
    CMenuWnd* menu = nullptr;
};

TEST_F(MenuTest, LeafClickPostsOneRecordAndClosesEveryMenu) {
    const std::wstring longName(300, L'n'), longData(1500, L'u'), longText(1500, L't');
    struct Case {
        const char* what;
        std::vector<const wchar_t*> path;   // items whose sub-menus open first
        const wchar_t* leaf;
        bool oversized;
        std::wstring name, userData, text;
    };
    const std::vector<Case> cases = {
        {"a root leaf", {}, L"open", false, L"open", L"open-data", L"Open"},
        {"fields longer than the record's", {}, L"long", true, longName.substr(0, 255), longData.substr(0, 1023),
         longText.substr(0, 1023)},
        {"a sub-menu leaf", {L"more"}, L"sub1", false, L"sub1", L"sub1-data", L"Sub one"},
        {"two deep", {L"more", L"deeper"}, L"deep1", false, L"deep1", L"deep1-data", L"Deep one"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        opener.choices.clear();
        OpenMenu(POINT{100, 100});
        for (const wchar_t* step : c.path) ASSERT_TRUE(HoverOpen(Item(step))) << desk::InputState(menu->GetHWND());
        EXPECT_EQ(static_cast<int>(c.path.size()) + 1, MenuWindows());
        CMenuElementUI* leaf = Item(c.leaf);
        ASSERT_NE(nullptr, leaf);
        if (c.oversized) {
            leaf->SetName(longName.c_str());
            leaf->SetUserData(longData.c_str());
            leaf->SetText(longText.c_str());
        }
        ClickAt(ScreenCentre(leaf));
        EXPECT_TRUE(PumpUntil([this] { return !opener.choices.empty() && MenuWindows() == 0; }))
            << desk::InputState(menu->GetHWND());
        Settle();
        ASSERT_EQ(1u, opener.choices.size());
        const Choice& got = opener.choices[0];
        EXPECT_EQ(c.name, got.name);
        EXPECT_EQ(c.userData, got.userData);
        EXPECT_EQ(c.text, got.text);
        EXPECT_EQ(0, got.checkState);
        EXPECT_EQ(reinterpret_cast<LPARAM>(leaf), got.element);
        EXPECT_TRUE(got.terminated);
        EXPECT_EQ(0, MenuWindows());
        delete menu;
        menu = nullptr;
    }
}

TEST_F(MenuTest, WhatChoosesNothing) {
    OpenMenu(POINT{100, 100});
    ctltest::Recorder inside;
    menu->GetManager().AddNotifyListener(&inside);
    // A disabled item, the separator and right-button clicks on a leaf.
    ClickAt(ScreenCentre(Item(L"off")));
    ClickAt(ScreenCentre(Item(L"line")));
    const POINT open = ScreenCentre(Item(L"open"));
    desk::Button(open, MOUSEEVENTF_RIGHTDOWN);
    desk::Button(open, MOUSEEVENTF_RIGHTUP);
    Settle();
    EXPECT_TRUE(opener.choices.empty());
    EXPECT_EQ(1, MenuWindows());
    // Return on the highlighted item raises "itemactivate" in the menu only.
    desk::MoveTo(open);
    EXPECT_TRUE(PumpUntil([this] { return menu->GetManager().GetFocus() == Item(L"open"); }));
    desk::Key(VK_RETURN);
    EXPECT_TRUE(PumpUntil([&inside] { return inside.Count(L"itemactivate") == 1; }));
    Settle();
    EXPECT_TRUE(opener.choices.empty());
    EXPECT_EQ(0, recorder.Count(L"itemactivate"));
    EXPECT_EQ(1, MenuWindows());
    // The button inside an item: its click reaches the opener's listeners.
    ClickAt(ScreenCentre(Item(L"inner")));
    EXPECT_TRUE(PumpUntil([this] { return recorder.Count(L"click") == 1; }));
    ASSERT_EQ(1, recorder.Count(L"click"));
    EXPECT_EQ(L"click:inner", recorder.Seen().back());
    EXPECT_TRUE(opener.choices.empty());
    menu->GetManager().RemoveNotifyListener(&inside);
}

TEST_F(MenuTest, SubMenusOpenAndClose) {
    OpenMenu(POINT{100, 100});
    CMenuElementUI* more = Item(L"more");
    CMenuElementUI* sub1 = Item(L"sub1");
    CMenuElementUI* deeper = Item(L"deeper");
    auto windows = [](int n) { return PumpUntil([n] { return MenuWindows() == n; }); };

    ASSERT_TRUE(HoverOpen(more));
    EXPECT_TRUE(sub1->IsVisible());
    uitest::SavePng(uitest::GrabWindow(menu->GetHWND()), "root_with_sub");
    uitest::SavePng(uitest::GrabWindow(SubWindow(more)), "sub");
    // A leaf of the same menu closes the sub-menus below it.
    desk::MoveTo(ScreenCentre(Item(L"open")));
    EXPECT_TRUE(windows(1));
    EXPECT_EQ(nullptr, more->GetSubMenuWnd());
    EXPECT_FALSE(sub1->IsVisible());
    // A click opens one too, and so does Right on the focused item.
    ClickAt(ScreenCentre(more));
    EXPECT_TRUE(windows(2));
    ASSERT_TRUE(HoverOpen(deeper));
    EXPECT_TRUE(windows(3));
    // The keys from here on; the cursor away, where no menu reopens under it.
    desk::MoveTo(POINT{GetSystemMetrics(SM_CXSCREEN) - 2, GetSystemMetrics(SM_CYSCREEN) - 2});
    // Escape and Left close only the innermost; its owner gets the focus.
    desk::Key(VK_ESCAPE);
    EXPECT_TRUE(windows(2));
    EXPECT_EQ(nullptr, deeper->GetSubMenuWnd());
    EXPECT_FALSE(Item(L"deep1")->IsVisible());
    EXPECT_EQ(deeper, more->GetSubMenuWnd()->GetManager().GetFocus());
    desk::Key(VK_LEFT);
    EXPECT_TRUE(windows(1));
    EXPECT_EQ(more, menu->GetManager().GetFocus());
    desk::Key(VK_RIGHT);
    EXPECT_TRUE(windows(2));
    EXPECT_TRUE(opener.choices.empty());
    // The focus moving between menu windows keeps them; elsewhere closes all.
    SetFocus(menu->GetHWND());
    Settle();
    EXPECT_EQ(2, MenuWindows());
    SetForegroundWindow(host->Window());
    SetFocus(host->Window());
    EXPECT_TRUE(windows(0));
    EXPECT_TRUE(opener.choices.empty());
}

TEST_F(MenuTest, RowsAndSeparatorOnCapture) {
    OpenMenu(POINT{100, 100});
    const uitest::Capture capture = uitest::GrabWindow(menu->GetHWND());
    uitest::SavePng(capture, "menu");
    const std::vector<const wchar_t*> rows = {L"open", L"long", L"line", L"off", L"more", L"holder"};
    const int widest = ctltest::TextExtent(menu->GetManager().GetFontHandle(0), L"A row wider than all the others here").cx +
                       S(40);
    EXPECT_NEAR(widest, capture.width, 1);
    EXPECT_GE(capture.width, S(150));
    int height = 0;
    for (const wchar_t* name : rows) {
        SCOPED_TRACE(std::wstring(name));
        const RECT r = Item(name)->GetPos();
        EXPECT_EQ(0, r.left);
        EXPECT_EQ(capture.width, r.right);
        EXPECT_EQ(std::wstring(name) == L"line" ? S(6) : S(30), r.bottom - r.top);
        height += r.bottom - r.top;
    }
    EXPECT_EQ(height, capture.height);
    // The separator: one line at its middle, 29 in from the left, 7 from the right.
    const RECT line = Item(L"line")->GetPos();
    const int y = line.top + S(6) / 2;
    const DWORD kLine = 0xBCBFC4;
    EXPECT_EQ(kLine, capture.At(S(29), y));
    EXPECT_EQ(kLine, capture.At(capture.width - S(7) - 1, y));
    EXPECT_NE(kLine, capture.At(S(29) - 1, y));
    EXPECT_NE(kLine, capture.At(capture.width - S(7), y));
    EXPECT_NE(kLine, capture.At(S(60), y - 1));
    EXPECT_NE(kLine, capture.At(S(60), y + 1));
    // The expand arrow of "More", from the skin's class default.
    const RECT more = Item(L"more")->GetPos();
    EXPECT_EQ(0x141E78u, capture.At(capture.width - S(20) / 3 - 3, (more.top + more.bottom) / 2));
}

TEST_F(MenuTest, PlacementTable) {
    const MONITORINFO screen = Primary();
    const RECT mon = screen.rcMonitor, work = screen.rcWork;
    // Root menus against the monitor's edges.
    OpenMenu(POINT{mon.right - 20, 100});
    RECT r = WindowRect(menu->GetHWND());
    EXPECT_EQ(mon.right, r.right);
    EXPECT_EQ(100, r.top);
    const int width = r.right - r.left, height = r.bottom - r.top;
    delete menu;
    menu = nullptr;
    OpenMenu(POINT{100, mon.top - 40});
    r = WindowRect(menu->GetHWND());
    EXPECT_EQ(100, r.left);
    EXPECT_EQ(mon.top, r.top);
    delete menu;
    menu = nullptr;

    // A sub-menu that would pass the work area's bottom opens upwards.
    OpenMenu(POINT{100, work.bottom - height + S(15)});
    CMenuElementUI* more = Item(L"more");
    ASSERT_TRUE(HoverOpen(more));
    r = WindowRect(SubWindow(more));
    EXPECT_EQ(ScreenRect(more).top, r.bottom);
    EXPECT_EQ(2 * S(30), r.bottom - r.top);
    EXPECT_EQ(WindowRect(menu->GetHWND()).right, r.left);
    delete menu;
    menu = nullptr;

    // One that would pass the right edge opens on the left, and so do its own.
    OpenMenu(POINT{work.right - width - 5, 100});
    const RECT root = WindowRect(menu->GetHWND());
    more = Item(L"more");
    ASSERT_TRUE(HoverOpen(more));
    const RECT sub = WindowRect(SubWindow(more));
    EXPECT_EQ(root.left, sub.right);
    EXPECT_EQ(ScreenRect(more).top, sub.top);
    CMenuElementUI* deeper = Item(L"deeper");
    ASSERT_TRUE(HoverOpen(deeper));
    const RECT deep = WindowRect(SubWindow(deeper));
    EXPECT_EQ(sub.left, deep.right);
    EXPECT_EQ(ScreenRect(deeper).top, deep.top);
    uitest::SavePng(uitest::GrabWindow(SubWindow(deeper)), "deeper_left");
}

TEST_F(MenuTest, ObjectsAndWindowsGoingAway) {
    MenuObserver& observer = GetMenuSharedState()->observer;
    const int receivers = observer.GetCount();
    auto opensNormally = [&] {
        OpenMenu(POINT{100, 100});
        EXPECT_EQ(1, MenuWindows());
        EXPECT_EQ(receivers + 1, observer.GetCount());
        delete menu;
        menu = nullptr;
        EXPECT_EQ(0, MenuWindows());
        EXPECT_EQ(receivers, observer.GetCount());
    };

    {
        SCOPED_TRACE("the root object deleted with sub-menus up");
        OpenMenu(POINT{100, 100});
        ASSERT_TRUE(HoverOpen(Item(L"more")));
        ASSERT_TRUE(HoverOpen(Item(L"deeper")));
        EXPECT_EQ(3, MenuWindows());
        delete menu;
        menu = nullptr;
        EXPECT_EQ(0, MenuWindows());
        Settle();
        EXPECT_EQ(receivers, observer.GetCount());
        opensNormally();
    }
    {
        SCOPED_TRACE("an item deleted with its sub-menu open");
        OpenMenu(POINT{100, 100});
        CMenuElementUI* more = Item(L"more");
        ASSERT_TRUE(HoverOpen(more));
        ASSERT_TRUE(HoverOpen(Item(L"deeper")));
        const int managers = CPaintManagerUI::GetManagerCount();
        CMenuUI* list = static_cast<CMenuUI*>(menu->GetManager().GetRoot()->FindInterface(L"Menu"));
        EXPECT_TRUE(list->RemoveItem(more));
        EXPECT_TRUE(PumpUntil([] { return MenuWindows() == 1; }));
        Settle();
        EXPECT_EQ(receivers + 1, observer.GetCount());
        // Both sub-menu window objects went with their windows, paint managers included.
        EXPECT_EQ(managers - 2, CPaintManagerUI::GetManagerCount());
        delete menu;
        menu = nullptr;
        opensNormally();
    }
    {
        SCOPED_TRACE("the opener destroyed with menus up");
        OpenMenu(POINT{100, 100});
        ASSERT_TRUE(HoverOpen(Item(L"more")));
        host->Manager().RemoveMessageFilter(&opener);
        TearDownHost();
        EXPECT_EQ(0, MenuWindows());
        EXPECT_EQ(nullptr, GetMenuSharedState()->ownerManager);
        delete menu;
        menu = nullptr;
        EXPECT_EQ(receivers, observer.GetCount());
    }
    {
        SCOPED_TRACE("a root menu before any opener");
        CMenuWnd early;
        EXPECT_EQ(0, early.Open(nullptr, kLayout, nullptr, 100, 100));
        early.PlaceInWorkArea();
        EXPECT_EQ(nullptr, early.GetHWND());
        EXPECT_EQ(0, MenuWindows());
        EXPECT_EQ(receivers, observer.GetCount());
    }
    OpenHost();
    {
        SCOPED_TRACE("a layout whose root is not a menu");
        CMenuWnd plain;
        EXPECT_EQ(0, plain.Open(nullptr, L"controls/notmenu.xml", &Manager(), 100, 100));
        plain.PlaceInWorkArea();
        EXPECT_EQ(nullptr, plain.GetHWND());
        EXPECT_EQ(0, MenuWindows());
        EXPECT_EQ(receivers, observer.GetCount());
    }
    opensNormally();
}

}  // namespace
