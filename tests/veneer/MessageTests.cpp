// The paint manager's window messages in a window that hands it every
// message: the first layout paint, the off-screen surface, mouse enter and
// leave, right click and context menu, the wheel and the keys.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Container.h"
#include "PaintManager.h"
#include "SkinTestSupport.h"
#include "StackLayout.h"
#include "support/UITestHost.h"

using namespace Veneer;

namespace {

struct Seen {
    ControlEventType type;
    LPARAM lParam;
    WPARAM wParam;
};

class Probe : public CControlUI {
public:
    explicit Probe(DWORD color) { SetBkColor(color); }
    UINT GetBehaviorFlags() const override { return 1; }
    void HandleEvent(ControlEvent& event) override {
        if (event.type != EventSetCursor && event.type != EventTimer) events.push_back({event.type, event.lParam, event.wParam});
        CControlUI::HandleEvent(event);
    }
    std::vector<Seen> events;
};

class Listener : public INotifyUI {
public:
    void Notify(NotifyEvent& event) override {
        if (event.type == L"windowinit") rootWidthAtInit = event.sender->GetWidth();
        if (event.type == L"windowinit" || event.type == L"windowsize" || event.type == L"mouseenter" ||
            event.type == L"mouseleave") {
            types.push_back(event.type.GetData());
            lParams.push_back(event.lParam);
        }
    }
    std::vector<std::wstring> types;
    std::vector<LPARAM> lParams;
    int rootWidthAtInit = -1;
};

LRESULT CALLBACK ManagedProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* manager = reinterpret_cast<CPaintManagerUI*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    LRESULT result = 0;
    if (manager && manager->HandleWindowMessage(message, wParam, lParam, result)) return result;
    return DefWindowProcW(window, message, wParam, lParam);
}

class MessageTest : public ::testing::Test {
protected:
    void SetUp() override {
        skintest::UseFolder(skintest::SkinFolder());
        WNDCLASSW wc = {};
        wc.lpfnWndProc = ManagedProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"veneer message test";
        wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
        RegisterClassW(&wc);
        window = CreateWindowExW(0, wc.lpszClassName, L"messages", WS_POPUP, 60, 60, 240, 200, nullptr, nullptr,
                                 wc.hInstance, nullptr);
        manager.reset(new CPaintManagerUI);
        manager->AttachWindow(window);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(manager.get()));
        manager->AddNotifyListener(&listener);
        root = new CHorizontalLayoutUI;
        root->SetBkColor(0xFFFFFFFF);
        a = new Probe(0xFFFF0000);
        b = new Probe(0xFF0000FF);
        a->SetName(L"a");
        b->SetName(L"b");
        root->AddItem(a);
        root->AddItem(b);
        manager->SetRootControl(root);
    }
    void TearDown() override {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        manager.reset();
        DestroyWindow(window);
        uitest::Pump();
    }
    void Show() {
        ShowWindow(window, SW_SHOWNOACTIVATE);
        UpdateWindow(window);
    }
    uitest::Capture Grab(const char* name) {
        RECT client = {};
        GetClientRect(window, &client);
        uitest::Surface surface(client.right, client.bottom, 0);
        HDC dc = GetDC(window);
        BitBlt(surface.DC(), 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
        ReleaseDC(window, dc);
        uitest::Capture capture = surface.Grab();
        uitest::SavePng(capture, name);
        return capture;
    }
    void Move(int x, int y) { SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(x, y)); }

    HWND window = nullptr;
    std::unique_ptr<CPaintManagerUI> manager;
    Listener listener;
    CHorizontalLayoutUI* root = nullptr;
    Probe* a = nullptr;
    Probe* b = nullptr;
};

TEST_F(MessageTest, FirstPaintLaysOutThenInitQueuesSizeAndPaintsOffScreen) {
    Show();
    ASSERT_EQ(1u, listener.types.size());
    EXPECT_EQ(L"windowinit", listener.types[0]);
    EXPECT_EQ(240, listener.rootWidthAtInit);   // laid out before it is told
    uitest::Pump();
    ASSERT_EQ(2u, listener.types.size());
    EXPECT_EQ(L"windowsize", listener.types[1]);
    const uitest::Capture cap = Grab("message_first_paint");
    EXPECT_EQ(0xFF0000u, cap.At(60, 100));
    EXPECT_EQ(0x0000FFu, cap.At(180, 100));
    EXPECT_EQ(0xFF0000u, cap.At(119, 100));
    EXPECT_EQ(0x0000FFu, cap.At(120, 100));

    // A larger client gets a new surface: the whole window is painted.
    SetWindowPos(window, nullptr, 0, 0, 320, 240, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    UpdateWindow(window);
    const uitest::Capture wider = Grab("message_resized");
    EXPECT_EQ(0x0000FFu, wider.At(300, 230));
    EXPECT_EQ(0xFF0000u, wider.At(10, 230));
}

TEST_F(MessageTest, ControlsThatAskForLayoutAloneKeepTheirPlaceAndAreAllLaidOut) {
    // A floating control inside a panel that does not start at the client origin.
    CContainerUI* panel = new CContainerUI;
    panel->SetBkColor(0xFF00FF00);
    Probe* floating = new Probe(0xFF000000);
    floating->SetFloat(true);
    floating->SetFixedXY(10, 20);
    floating->SetFixedWidth(30);
    floating->SetFixedHeight(40);
    panel->AddItem(floating);
    root->AddItem(panel);
    Show();
    const RECT placed = floating->GetPos();
    ASSERT_GT(panel->GetPos().left, 0);
    ASSERT_GT(placed.left, panel->GetPos().left);

    // Re-laid on its own (as a control refilled in place asks), it stays where its parent put it.
    floating->MarkForLayout();
    UpdateWindow(window);
    EXPECT_FALSE(floating->IsLayoutPending());
    EXPECT_TRUE(EqualRect(&placed, &floating->GetPos()))
        << floating->GetPos().left << "," << floating->GetPos().top << " instead of " << placed.left << ","
        << placed.top;
    const uitest::Capture cap = Grab("message_float_relaid");
    EXPECT_EQ(0x000000u, cap.At((placed.left + placed.right) / 2, (placed.top + placed.bottom) / 2));
    EXPECT_EQ(0x00FF00u, cap.At(panel->GetPos().left + 2, panel->GetPos().bottom - 2));

    // Every control that asked is laid out in the same paint, not only the first one found.
    a->MarkForLayout();
    b->MarkForLayout();
    floating->MarkForLayout();
    UpdateWindow(window);
    EXPECT_FALSE(a->IsLayoutPending());
    EXPECT_FALSE(b->IsLayoutPending());
    EXPECT_FALSE(floating->IsLayoutPending());
    EXPECT_TRUE(EqualRect(&placed, &floating->GetPos()));
}

TEST_F(MessageTest, ControlToControlLeavesEntersAndMoves) {
    Show();
    Move(20, 20);
    a->events.clear();
    listener.types.clear();
    listener.lParams.clear();
    Move(200, 20);
    ASSERT_EQ(1u, a->events.size());
    EXPECT_EQ(EventMouseLeave, a->events[0].type);
    ASSERT_EQ(2u, b->events.size() >= 2 ? 2u : b->events.size());
    EXPECT_EQ(EventMouseEnter, b->events[b->events.size() - 2].type);
    EXPECT_EQ(EventMouseMove, b->events.back().type);
    ASSERT_EQ(2u, listener.types.size());
    EXPECT_EQ(L"mouseleave", listener.types[0]);
    EXPECT_EQ(reinterpret_cast<LPARAM>(b), listener.lParams[0]);
    EXPECT_EQ(L"mouseenter", listener.types[1]);
    EXPECT_EQ(0, listener.lParams[1]);
}

TEST_F(MessageTest, RightClickGivesDownUpAndContextMenu) {
    Show();
    SendMessageW(window, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(30, 30));
    SendMessageW(window, WM_RBUTTONUP, 0, MAKELPARAM(30, 30));
    POINT screen = {30, 30};
    ClientToScreen(window, &screen);
    SendMessageW(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window), MAKELPARAM(screen.x, screen.y));
    std::vector<ControlEventType> types;
    for (const Seen& s : a->events) {
        if (s.type != EventSetFocus && s.type != EventKillFocus) types.push_back(s.type);
    }
    ASSERT_EQ(3u, types.size());
    EXPECT_EQ(EventRightButtonDown, types[0]);
    EXPECT_EQ(EventRightButtonUp, types[1]);
    EXPECT_EQ(EventContextMenu, types[2]);
    EXPECT_EQ(reinterpret_cast<LPARAM>(a), a->events.back().lParam);
    // Without a pressed control the menu message does nothing.
    const size_t before = a->events.size();
    SendMessageW(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window), MAKELPARAM(screen.x, screen.y));
    EXPECT_EQ(before, a->events.size());
}

TEST_F(MessageTest, WheelDownScrollsALineAndKeyUpGoesToTheKeyDownControl) {
    Show();
    POINT screen = {30, 30};
    ClientToScreen(window, &screen);
    SendMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)), MAKELPARAM(screen.x, screen.y));
    bool wheel = false;
    for (const Seen& s : a->events) {
        if (s.type == EventScrollWheel) {
            wheel = true;
            EXPECT_EQ(1u, s.wParam);
        }
    }
    EXPECT_TRUE(wheel);

    manager->SetFocusedControl(a);
    SendMessageW(window, WM_KEYDOWN, 'K', 0);
    manager->SetFocusedControl(b);
    SendMessageW(window, WM_KEYUP, 'K', 0);
    EXPECT_EQ(EventKeyUp, a->events.back().type);
    for (const Seen& s : b->events) EXPECT_NE(EventKeyUp, s.type);
}

}  // namespace

namespace {

// Draws with plain GDI: a green square (alpha 0 in a layered surface) and a
// black one.
class GdiPainter : public CControlUI {
public:
    void Paint(HDC hdc, const RECT& paint) override {
        CControlUI::Paint(hdc, paint);
        RECT green = {m_item.left, m_item.top, m_item.left + 10, m_item.top + 10};
        RECT black = {m_item.left + 10, m_item.top, m_item.left + 20, m_item.top + 10};
        HBRUSH g = CreateSolidBrush(RGB(0, 255, 0));
        FillRect(hdc, &green, g);
        DeleteObject(g);
        FillRect(hdc, &black, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    }
};

DWORD SurfacePixel(const CPaintManagerUI& manager, int x, int y) {
    const SIZE size = manager.GetOffscreenSize();
    return manager.GetOffscreenPixels()[static_cast<size_t>(size.cy - 1 - y) * size.cx + x];
}

}  // namespace

TEST_F(MessageTest, HoverShowsTheControlsTipWithItsRectangleAndLeaveHidesIt) {
    a->SetToolTip(L"tip of a");
    Show();
    Move(20, 20);
    SendMessageW(window, WM_MOUSEHOVER, 0, MAKELPARAM(20, 20));
    HWND tip = manager->GetToolTipWindow();
    ASSERT_NE(nullptr, tip);
    wchar_t text[64] = {};
    TOOLINFOW info = {};
    info.cbSize = 48;
    info.hwnd = window;
    info.uId = reinterpret_cast<UINT_PTR>(window);
    info.lpszText = text;
    ASSERT_TRUE(SendMessageW(tip, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&info)));
    EXPECT_STREQ(L"tip of a", text);
    EXPECT_EQ(a->GetPos().right, info.rect.right);
    EXPECT_EQ(a->GetPos().bottom, info.rect.bottom);
    const bool shown = IsWindowVisible(tip) != FALSE;
    Move(200, 20);   // onto b: the tip goes
    EXPECT_FALSE(IsWindowVisible(tip));
    RecordProperty("tip_shown_under_wine", shown ? "yes" : "no");
}

TEST_F(MessageTest, LayeredSurfaceKeepsAlphaFixesGdiAndLeavesBlackClear) {
    root->SetBkColor(0);
    a->SetBkColor(0xFFFF0000);
    b->SetBkColor(0x80000080);   // half-transparent blue, premultiplied by the fill
    GdiPainter* gdi = new GdiPainter;
    gdi->SetFloat(true);
    gdi->SetFixedXY(50, 100);
    gdi->SetFixedWidth(30);
    gdi->SetFixedHeight(20);
    root->AddItem(gdi);
    manager->SetLayeredMode(true);
    EXPECT_TRUE(manager->IsLayeredMode());
    Show();
    ASSERT_NE(nullptr, manager->GetOffscreenPixels());
    EXPECT_EQ(0xFFFF0000u, SurfacePixel(*manager, 20, 20));
    EXPECT_EQ(0x80u, SurfacePixel(*manager, 200, 20) >> 24);
    const RECT& g = gdi->GetPos();
    EXPECT_EQ(0xFF00FF00u, SurfacePixel(*manager, g.left + 5, g.top + 5));   // GDI colour made opaque
    EXPECT_EQ(0u, SurfacePixel(*manager, g.left + 15, g.top + 5));           // GDI black stays clear
    EXPECT_TRUE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_LAYERED);
}

TEST_F(MessageTest, CaretBlinksOnTheCaretTimer) {
    Show();
    ::SetFocus(window);
    a->TakeFocus();
    ASSERT_TRUE(CreateCaret(window, nullptr, 2, 20));
    manager->SetCaretSize(2, 20);
    ASSERT_TRUE(manager->MoveCaret(30, 30, a));
    manager->SetCaretVisible(true);
    EXPECT_TRUE(manager->IsCaretDrawn());
    UpdateWindow(window);
    const DWORD drawn = Grab("caret_on").At(30, 40);
    SendMessageW(window, WM_TIMER, 6553, 0);
    EXPECT_FALSE(manager->IsCaretDrawn());
    UpdateWindow(window);
    const DWORD hidden = Grab("caret_off").At(30, 40);
    if (::GetFocus() == window) {
        EXPECT_EQ(0x000000u, drawn);
        EXPECT_EQ(0xFF0000u, hidden);
    }
    manager->SetCaretVisible(false);
    DestroyCaret();
}
