// The window base: native windows bound to objects (own class and
// superclass), modal display, notify maps and virtual windows, and skinned
// windows: the four skin sources, hit-testing of caption and borders, the
// standard buttons, default keys, round corners, a broken skin and a modal
// window on a second thread.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DesktopInput.h"
#include "NotifyPump.h"
#include "SkinTestSupport.h"
#include "WindowUI.h"
#include "WindowWnd.h"
#include "support/UITestHost.h"

using namespace Veneer;

namespace {

// ------------------------------------------------------------------ notify maps

struct Called {
    std::wstring handler;
    WPARAM wParam;
    LPARAM lParam;
};

class BasePump : public CNotifyPump {
public:
    void OnAny(NotifyEvent&) { calls.push_back({L"base any", 0, 0}); }
    void OnOk(NotifyEvent&) { calls.push_back({L"base ok", 0, 0}); }
    void OnTimer(WPARAM wParam, LPARAM lParam) { calls.push_back({L"base timer", wParam, lParam}); }
    std::vector<Called> calls;
    VENEER_DECLARE_NOTIFY_MAP()
};

VENEER_BEGIN_NOTIFY_MAP(BasePump, CNotifyPump)
VENEER_ON_NOTIFY(L"click", &BasePump::OnAny)
VENEER_ON_NOTIFY_NAMED(L"click", L"ok", &BasePump::OnOk)
VENEER_ON_NOTIFY_PARAMS(L"timer", L"", &BasePump::OnTimer)
VENEER_ON_NOTIFY_NAMED(L"select", L"ok", &BasePump::OnOk)
VENEER_END_NOTIFY_MAP()

// A derived map whose any-control "click" hides both of the base's.
class DerivedPump : public BasePump {
public:
    void OnDerivedAny(NotifyEvent&) { calls.push_back({L"derived any", 0, 0}); }
    VENEER_DECLARE_NOTIFY_MAP()
};

VENEER_BEGIN_NOTIFY_MAP(DerivedPump, BasePump)
VENEER_ON_NOTIFY(L"click", &DerivedPump::OnDerivedAny)
VENEER_END_NOTIFY_MAP()

// A second base class in front of the pump: the handler's object adjustment
// travels with the entry.
struct Padding {
    virtual ~Padding() = default;
    int filler[5] = {};
};
class PagePump : public Padding, public CNotifyPump {
public:
    void OnClick(NotifyEvent& event) { names.push_back(event.sender ? event.sender->GetName().GetData() : L"-"); }
    std::vector<std::wstring> names;
    VENEER_DECLARE_NOTIFY_MAP()
};

VENEER_BEGIN_NOTIFY_MAP(PagePump, CNotifyPump)
VENEER_ON_NOTIFY(L"click", &PagePump::OnClick)
VENEER_END_NOTIFY_MAP()

NotifyEvent Event(const wchar_t* type, CControlUI* sender, const wchar_t* virtualWnd = L"") {
    NotifyEvent event;
    event.type = type;
    event.sender = sender;
    event.virtualWnd = virtualWnd;
    event.wParam = 11;
    event.lParam = 22;
    return event;
}

TEST(NotifyPumpTest, EntriesMatchByTypeAndNameNamedFirst) {
    CControlUI ok, other;
    ok.SetName(L"ok");
    other.SetName(L"other");
    BasePump pump;
    struct Row {
        const wchar_t* type;
        CControlUI* sender;
        bool handled;
        const wchar_t* handler;
    } rows[] = {
        {L"click", &ok, true, L"base ok"},      // the named entry stands after the empty one
        {L"click", &other, true, L"base any"},  // no named entry: the empty one
        {L"click", nullptr, true, L"base any"},  // no sender: only empty names
        {L"select", &other, false, nullptr},    // only a named entry for another control
        {L"Click", &ok, false, nullptr},        // types compare exactly
    };
    for (const Row& row : rows) {
        pump.calls.clear();
        NotifyEvent event = Event(row.type, row.sender);
        EXPECT_EQ(row.handled, pump.DispatchByMap(event)) << row.type;
        ASSERT_EQ(row.handled ? 1u : 0u, pump.calls.size()) << row.type;
        if (row.handled) EXPECT_EQ(row.handler, pump.calls[0].handler);
    }
    // The parameter signature receives the event's wParam and lParam.
    pump.calls.clear();
    NotifyEvent timer = Event(L"timer", &ok);
    EXPECT_TRUE(pump.DispatchByMap(timer));
    ASSERT_EQ(1u, pump.calls.size());
    EXPECT_EQ(L"base timer", pump.calls[0].handler);
    EXPECT_EQ(11u, pump.calls[0].wParam);
    EXPECT_EQ(22, pump.calls[0].lParam);
}

TEST(NotifyPumpTest, DerivedMapDecidesBeforeItsBase) {
    CControlUI ok;
    ok.SetName(L"ok");
    DerivedPump pump;
    NotifyEvent click = Event(L"click", &ok);
    EXPECT_TRUE(pump.DispatchByMap(click));
    NotifyEvent select = Event(L"select", &ok);   // not in the derived map: the base's
    EXPECT_TRUE(pump.DispatchByMap(select));
    ASSERT_EQ(2u, pump.calls.size());
    EXPECT_EQ(L"derived any", pump.calls[0].handler);
    EXPECT_EQ(L"base ok", pump.calls[1].handler);
}

TEST(NotifyPumpTest, VirtualWindowsByNameInAnyCaseWithFallback) {
    CControlUI ok;
    ok.SetName(L"ok");
    BasePump window;
    PagePump page;
    EXPECT_TRUE(window.AddVirtualWnd(L"PageHome", &page));
    EXPECT_FALSE(window.AddVirtualWnd(L"PageHome", &page));
    NotifyEvent click = Event(L"click", &ok, L"pagehome");
    window.RouteNotification(click);
    ASSERT_EQ(1u, page.names.size());
    EXPECT_EQ(L"ok", page.names[0]);
    EXPECT_TRUE(window.calls.empty());
    // The page has no "select": the window's own map takes it.
    NotifyEvent select = Event(L"select", &ok, L"PAGEHOME");
    window.RouteNotification(select);
    ASSERT_EQ(1u, window.calls.size());
    EXPECT_EQ(L"base ok", window.calls[0].handler);
    // An unknown virtual window, and one removed: the window's map.
    NotifyEvent elsewhere = Event(L"click", &ok, L"pageother");
    window.RouteNotification(elsewhere);
    EXPECT_TRUE(window.RemoveVirtualWnd(L"pagehome") || window.RemoveVirtualWnd(L"PageHome"));
    EXPECT_FALSE(window.RemoveVirtualWnd(L"PageHome"));
    NotifyEvent after = Event(L"click", &ok, L"PageHome");
    window.RouteNotification(after);
    EXPECT_EQ(3u, window.calls.size());
    EXPECT_EQ(1u, page.names.size());
}

// ------------------------------------------------------------------ native windows

class PlainWindow : public CWindowWnd {
public:
    explicit PlainWindow(const wchar_t* base = nullptr) : m_base(base) {}
    const wchar_t* GetWindowClassName() const override { return m_base ? L"VeneerTestStatic" : L"VeneerTestPlain"; }
    const wchar_t* GetBaseClassName() const override { return m_base; }
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        messages.push_back(message);
        if (message == WM_USER + 1) return 42;
        if (message == WM_TIMER && wParam == 77) {
            KillTimer(m_hWnd, 77);
            if (onTimer) onTimer(this);
            return 0;
        }
        return CWindowWnd::HandleMessage(message, wParam, lParam);
    }
    void OnFinalMessage(HWND window) override {
        finalHandle = window;
        handleAtFinal = m_hWnd;
    }
    const wchar_t* m_base;
    std::vector<UINT> messages;
    HWND finalHandle = nullptr;
    HWND handleAtFinal = reinterpret_cast<HWND>(1);
    void (*onTimer)(PlainWindow*) = nullptr;
    // Filled while the modal loop runs.
    bool visibleInLoop = false;
    bool ownerEnabledInLoop = true;
};

TEST(WindowWndTest, OwnClassAndSuperclassBindTheObject) {
    PlainWindow plain;
    HWND window = plain.Create(nullptr, L"plain", WS_POPUP, 0, 0, 0, 50, 50);
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(window, plain.GetHWND());
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(&plain), GetWindowLongPtrW(window, GWLP_USERDATA));
    EXPECT_EQ(WM_NCCREATE, plain.messages.at(0));
    EXPECT_EQ(42, SendMessageW(window, WM_USER + 1, 0, 0));
    DestroyWindow(window);
    EXPECT_EQ(window, plain.finalHandle);
    EXPECT_EQ(nullptr, plain.handleAtFinal);
    EXPECT_EQ(nullptr, plain.GetHWND());

    // A superclass of a system class: the object in the "WndX" property and
    // the class's own procedure behind it (it keeps the window text).
    PlainWindow text(L"STATIC");
    HWND field = text.Create(nullptr, L"first", WS_POPUP, 0, 0, 0, 50, 20);
    ASSERT_NE(nullptr, field);
    EXPECT_EQ(&text, GetPropW(field, L"WndX"));
    EXPECT_EQ(42, SendMessageW(field, WM_USER + 1, 0, 0));
    SetWindowTextW(field, L"second");
    EXPECT_EQ(L"second", desk::Text(field));
    DestroyWindow(field);
    EXPECT_EQ(field, text.finalHandle);

    // An unknown base class: no window.
    PlainWindow nothing(L"NoSuchSystemClass");
    EXPECT_EQ(nullptr, nothing.Create(nullptr, L"none", WS_POPUP, 0, 0, 0, 10, 10));
}

// ShowModal in its three owner situations; each modal window closes itself
// from a timer inside the loop.
TEST(WindowWndTest, ShowModalShowsAndRestoresOnlyWhatItDisabled) {
    PlainWindow owner;
    ASSERT_NE(nullptr, owner.Create(nullptr, L"owner", WS_POPUP, 0, 300, 300, 60, 60));

    // An enabled owner is disabled during the loop and enabled after it; the
    // result is the WM_CLOSE's wParam.
    {
        PlainWindow modal;
        ASSERT_NE(nullptr, modal.Create(owner, L"modal", WS_POPUP, 0, 320, 320, 40, 40));
        SetTimer(modal, 77, 50, nullptr);
        modal.onTimer = [](PlainWindow* self) {
            self->visibleInLoop = IsWindowVisible(*self) != FALSE;
            self->ownerEnabledInLoop = IsWindowEnabled(GetWindow(*self, GW_OWNER)) != FALSE;
            self->Close(7);
        };
        EXPECT_EQ(7u, modal.ShowModal());
        EXPECT_TRUE(modal.visibleInLoop);
        EXPECT_FALSE(modal.ownerEnabledInLoop);
        EXPECT_TRUE(IsWindowEnabled(owner));
        EXPECT_FALSE(IsWindow(modal.finalHandle));
    }
    // An owner found disabled stays disabled; a window destroyed without
    // WM_CLOSE ends the loop with 0.
    {
        EnableWindow(owner, FALSE);
        PlainWindow modal;
        ASSERT_NE(nullptr, modal.Create(owner, L"modal", WS_POPUP, 0, 320, 320, 40, 40));
        SetTimer(modal, 77, 50, nullptr);
        modal.onTimer = [](PlainWindow* self) {
            self->visibleInLoop = IsWindowVisible(*self) != FALSE;
            DestroyWindow(*self);
        };
        EXPECT_EQ(0u, modal.ShowModal());
        EXPECT_TRUE(modal.visibleInLoop);
        EXPECT_FALSE(IsWindowEnabled(owner));
        EnableWindow(owner, TRUE);
    }
    // Without owner the window is still shown; a WM_QUIT inside ends the
    // loop and is posted again for the outer one.
    {
        PlainWindow modal;
        ASSERT_NE(nullptr, modal.Create(nullptr, L"modal", WS_POPUP, 0, 320, 320, 40, 40));
        SetTimer(modal, 77, 50, nullptr);
        modal.onTimer = [](PlainWindow* self) {
            self->visibleInLoop = IsWindowVisible(*self) != FALSE;
            PostQuitMessage(3);
        };
        EXPECT_EQ(0u, modal.ShowModal());
        EXPECT_TRUE(modal.visibleInLoop);
        MSG msg = {};
        EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
        EXPECT_EQ(3u, msg.wParam);
        DestroyWindow(modal);
    }
    DestroyWindow(owner);
}

// ------------------------------------------------------------------ skinned windows

int g_buttonsMade = 0;
int g_buttonsGone = 0;

// A control of the tests: a colour, "click" on a release inside it, and the
// keys it receives.
class TestButton : public CControlUI {
public:
    TestButton() { ++g_buttonsMade; }
    ~TestButton() override { ++g_buttonsGone; }
    const wchar_t* GetClassTag() const override { return L"TestButton"; }
    UINT GetBehaviorFlags() const override { return 1; }
    void HandleEvent(ControlEvent& event) override {
        if (event.type == EventKeyDown) keys.push_back(event.key);
        if (event.type == EventButtonUp && PtInRect(&GetPos(), event.mouse))
            GetManager()->SendNotification(this, L"click");
        CControlUI::HandleEvent(event);
    }
    std::vector<WORD> keys;
};

std::vector<std::wstring> g_reported;
void RecordReport(const wchar_t* text, const wchar_t* caption) {
    g_reported.push_back(std::wstring(text) + L"|" + caption);
}

// The skin build folder relative to the program's folder.
std::wstring RelativeSkinBuildDir() {
    const std::wstring module = CPaintManagerUI::GetModuleFolder().GetData();
    const std::wstring dir = skintest::SkinBuildDir();
    if (dir.size() < module.size() || _wcsnicmp(dir.c_str(), module.c_str(), module.size()) != 0) return L"?";
    return dir.substr(module.size());
}

class FrameWindow : public CWindowUI {
public:
    explicit FrameWindow(SkinResourceType type = ResourceFiles, const wchar_t* file = L"windows/frame.xml")
        : m_type(type), m_file(file) {}
    const wchar_t* GetWindowClassName() const override { return L"VeneerTestFrame"; }
    CUIString GetSkinFolder() override {
        const std::wstring dir = RelativeSkinBuildDir();
        return CUIString(m_type == ResourceFiles ? (dir + L"skin\\").c_str() : dir.c_str());
    }
    CUIString GetSkinFile() override { return CUIString(m_type == ResourceModule ? L"301" : m_file); }
    SkinResourceType GetResourceType() const override { return m_type; }
    CUIString GetZIPFileName() const override { return CUIString(L"skin.zip"); }
    CUIString GetZIPPassword() const override { return CUIString(skintest::Password().c_str()); }
    const wchar_t* GetResourceID() const override { return MAKEINTRESOURCEW(1); }
    CControlUI* CreateCustomControl(const wchar_t* className) override {
        return _wcsicmp(className, L"TestButton") == 0 ? new TestButton : nullptr;
    }
    LRESULT OnDefaultKey(WPARAM key) override {
        defaultKeys.push_back(WORD(key));
        return CWindowUI::OnDefaultKey(key);
    }
    void OnClick(NotifyEvent& event) override {
        clicks.push_back(event.sender->GetName().GetData());
        CWindowUI::OnClick(event);
    }
    void Notify(NotifyEvent& event) override {
        if (event.type == L"windowinit") ++inits;
        CWindowUI::Notify(event);
    }
    RECT Rect(const wchar_t* name) {
        CControlUI* control = m_pm.FindControlByName(name);
        return control ? control->GetPos() : RECT{-1, -1, -1, -1};
    }
    POINT ScreenCentre(const wchar_t* name) {
        const RECT r = Rect(name);
        POINT p = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        ClientToScreen(m_hWnd, &p);
        return p;
    }
    LRESULT HitTest(int x, int y) {
        POINT p = {x, y};
        ClientToScreen(m_hWnd, &p);
        return SendMessageW(m_hWnd, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y));
    }

    SkinResourceType m_type;
    const wchar_t* m_file;
    std::vector<WORD> defaultKeys;
    std::vector<std::wstring> clicks;
    int inits = 0;
};

// Lays the window out and paints it now.
void PaintNow(HWND window) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    uitest::Pump();
}

class SkinnedWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CPaintManagerUI::SetInstance(GetModuleHandleW(nullptr));
        OleInitialize(nullptr);
    }
    void SetUp() override {
        skintest::ResetSkin();
        g_buttonsMade = g_buttonsGone = 0;
        g_reported.clear();
        SetSkinFailureReporter(&RecordReport);
        scale = MulDiv(skintest::ExpectedDpi(), 100, 96);
    }
    int S(int v) const { return MulDiv(v, scale, 100); }
    int scale = 100;
};

TEST_F(SkinnedWindowTest, FourSkinSourcesGiveTheSameWindow) {
    const SkinResourceType types[] = {ResourceFiles, ResourceZip, ResourceModule, ResourceZipInModule};
    const wchar_t* names[] = {L"root", L"captionbar", L"title", L"test", L"closebtn", L"body"};
    std::vector<std::vector<RECT>> seen;
    for (SkinResourceType type : types) {
        skintest::ResetSkin();
        FrameWindow frame(type);
        HWND window = frame.Create(nullptr, L"frame", WS_POPUP, 0, 200, 150, 10, 10);
        ASSERT_NE(nullptr, window) << type;
        // Hidden windows get no paint: the tree is laid out here.
        RECT client = {};
        GetClientRect(window, &client);
        frame.m_pm.GetRoot()->SetPos(client);
        // The layout's "size" sized the window, DPI-scaled.
        RECT r = {};
        GetWindowRect(window, &r);
        EXPECT_EQ(S(300), r.right - r.left) << type;
        EXPECT_EQ(S(200), r.bottom - r.top) << type;
        EXPECT_FALSE(GetWindowLongW(window, GWL_STYLE) & WS_CAPTION);
        std::vector<RECT> rects;
        for (const wchar_t* name : names) rects.push_back(frame.Rect(name));
        seen.push_back(rects);
        DestroyWindow(window);
    }
    // Each window's tree went with its object.
    EXPECT_EQ(20, g_buttonsMade);
    EXPECT_EQ(g_buttonsMade, g_buttonsGone);
    const RECT caption = seen[0][1];
    EXPECT_EQ(0, caption.top);
    EXPECT_EQ(S(30), caption.bottom);
    for (size_t t = 1; t < seen.size(); ++t)
        for (size_t i = 0; i < seen[t].size(); ++i) EXPECT_TRUE(EqualRect(&seen[0][i], &seen[t][i])) << t << " " << i;
    EXPECT_TRUE(g_reported.empty());
}

TEST_F(SkinnedWindowTest, BrokenSkinGivesNoWindowAndTheProcessGoesOn) {
    FrameWindow broken(ResourceFiles, L"windows/broken.xml");
    EXPECT_EQ(nullptr, broken.Create(nullptr, L"broken", WS_POPUP, 0, 200, 150, 100, 100));
    ASSERT_EQ(1u, g_reported.size());
    EXPECT_EQ(L"Load resource file failed!|Veneer", g_reported[0]);
    FrameWindow missing(ResourceFiles, L"windows/no-such-file.xml");
    EXPECT_EQ(nullptr, missing.Create(nullptr, L"missing", WS_POPUP, 0, 200, 150, 100, 100));
    EXPECT_EQ(2u, g_reported.size());
    EXPECT_EQ(nullptr, missing.GetHWND());
}

// One shown window for the frame's behaviour; the user's input goes
// through SendInput.
TEST_F(SkinnedWindowTest, CaptionBordersButtonsAndKeys) {
    FrameWindow frame;
    HWND window = frame.Create(nullptr, L"frame", WS_POPUP | WS_VISIBLE, 0, 240, 160, 10, 10);
    ASSERT_NE(nullptr, window);
    SetForegroundWindow(window);
    PaintNow(window);
    EXPECT_EQ(1, frame.inits);
    RECT client = {};
    GetClientRect(window, &client);
    const int w = client.right, h = client.bottom;
    const RECT title = frame.Rect(L"title"), test = frame.Rect(L"test");

    // WM_NCHITTEST: borders of 4 pixels (never scaled), the caption's label
    // drags, its button does not, the body is client.
    struct Hit {
        int x, y;
        LRESULT expected;
    } hits[] = {
        {1, 1, HTTOPLEFT},       {w / 2, 1, HTTOP},        {w - 2, 1, HTTOPRIGHT},
        {1, h / 2, HTLEFT},      {w - 1, h / 2, HTRIGHT},  {1, h - 1, HTBOTTOMLEFT},
        {w / 2, h - 2, HTBOTTOM}, {w - 4, h - 4, HTBOTTOMRIGHT}, {w - 5, h - 5, HTCLIENT},
        {(title.left + title.right) / 2, S(15), HTCAPTION},
        {(test.left + test.right) / 2, S(15), HTCLIENT},
        {w / 2, S(30) + 5, HTCLIENT},
    };
    for (const Hit& hit : hits) EXPECT_EQ(hit.expected, frame.HitTest(hit.x, hit.y)) << hit.x << "," << hit.y;
    // A caption bottom of -1 reaches the client bottom.
    const RECT caption = frame.m_pm.GetCaptionRect();
    frame.m_pm.SetCaptionRect(RECT{0, 0, 0, -1});
    EXPECT_EQ(HTCAPTION, frame.HitTest(w / 2, S(30) + 5));
    frame.m_pm.SetCaptionRect(caption);

    // A press on the test button clicks it; Enter and Escape go through
    // OnDefaultKey and on to the focused control.
    desk::Button(frame.ScreenCentre(L"test"), MOUSEEVENTF_LEFTDOWN);
    desk::Button(frame.ScreenCentre(L"test"), MOUSEEVENTF_LEFTUP);
    ASSERT_TRUE(desk::WaitFor([&] {
        uitest::Pump();
        return !frame.clicks.empty();
    }, 3000)) << desk::InputState(window);
    EXPECT_EQ(L"test", frame.clicks[0]);
    TestButton* button = static_cast<TestButton*>(frame.m_pm.FindControlByName(L"test"));
    ASSERT_EQ(button, frame.m_pm.GetFocus());
    PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
    PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
    uitest::RunPosted(window, WM_NULL, 0, 0);
    EXPECT_EQ((std::vector<WORD>{VK_RETURN, VK_ESCAPE}), frame.defaultKeys);
    EXPECT_EQ((std::vector<WORD>{VK_RETURN, VK_ESCAPE}), button->keys);

    // Dragging the caption's label moves the window.
    RECT before = {}, after = {};
    GetWindowRect(window, &before);
    const POINT from = frame.ScreenCentre(L"title");
    desk::Drag(from, POINT{from.x + 40, from.y + 30}, 8);
    desk::WaitFor([&] {
        uitest::Pump();
        GetWindowRect(window, &after);
        return after.left == before.left + 40;
    }, 3000);
    EXPECT_EQ(before.left + 40, after.left) << desk::InputState(window);
    EXPECT_EQ(before.top + 30, after.top);

    // Maximising swaps "maxbtn" and "restorebtn"; maximised, there are no
    // sizing borders. Restoring swaps them back.
    SendMessageW(window, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    PaintNow(window);
    EXPECT_TRUE(IsZoomed(window));
    EXPECT_FALSE(frame.m_pm.FindControlByName(L"maxbtn")->IsVisible());
    EXPECT_TRUE(frame.m_pm.FindControlByName(L"restorebtn")->IsVisible());
    EXPECT_EQ(HTCAPTION, frame.HitTest(1, 1));
    SendMessageW(window, WM_SYSCOMMAND, SC_RESTORE, 0);
    PaintNow(window);
    EXPECT_FALSE(IsZoomed(window));
    EXPECT_TRUE(frame.m_pm.FindControlByName(L"maxbtn")->IsVisible());
    EXPECT_FALSE(frame.m_pm.FindControlByName(L"restorebtn")->IsVisible());

    // Round corners: the region is rebuilt at each size, and the corner's
    // pixel belongs to what lies behind.
    frame.m_pm.SetRoundCorner(20, 20);
    SetWindowPos(window, nullptr, 0, 0, S(310), S(210), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(ERROR, GetWindowRgn(window, region));
    EXPECT_FALSE(PtInRegion(region, 1, 1));
    EXPECT_TRUE(PtInRegion(region, S(310) / 2, 1));
    EXPECT_TRUE(PtInRegion(region, 10, 10));
    DeleteObject(region);
    GetWindowRect(window, &after);
    EXPECT_NE(window, WindowFromPoint(POINT{after.left + 1, after.top + 1}));
    EXPECT_EQ(window, WindowFromPoint(POINT{after.left + 15, after.top + 15}));

    // "closebtn" posts WM_CLOSE with 1: the modal loop returns it.
    PostMessageW(window, WM_NULL, 0, 0);
    std::thread clicker([&] {
        Sleep(200);
        desk::Button(frame.ScreenCentre(L"closebtn"), MOUSEEVENTF_LEFTDOWN);
        desk::Button(frame.ScreenCentre(L"closebtn"), MOUSEEVENTF_LEFTUP);
    });
    const UINT result = frame.ShowModal();
    clicker.join();
    EXPECT_EQ(1u, result);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(g_buttonsMade, g_buttonsGone + 5);   // the tree lives until the object goes
}

TEST_F(SkinnedWindowTest, SystemCloseEndsTheModalLoopWithZero) {
    FrameWindow frame;
    HWND window = frame.Create(nullptr, L"frame", WS_POPUP, 0, 240, 160, 10, 10);
    ASSERT_NE(nullptr, window);
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(0u, frame.ShowModal());
    EXPECT_FALSE(IsWindow(window));
}

// A PIN dialog runs modally on another thread while the first thread's
// window goes on painting.
TEST_F(SkinnedWindowTest, ModalWindowOnASecondThread) {
    FrameWindow main;
    HWND mainWindow = main.Create(nullptr, L"main", WS_POPUP | WS_VISIBLE, 0, 200, 150, 10, 10);
    ASSERT_NE(nullptr, mainWindow);
    PaintNow(mainWindow);
    HWND dialogWindow = nullptr;
    UINT result = 99;
    std::thread worker([&] {
        FrameWindow dialog;
        dialogWindow = dialog.Create(nullptr, L"dialog", WS_POPUP, 0, 260, 200, 10, 10);
        if (dialogWindow) result = dialog.ShowModal();
    });
    ASSERT_TRUE(desk::WaitFor([&] {
        uitest::Pump();
        return dialogWindow != nullptr && IsWindowVisible(dialogWindow);
    }));
    // The main window paints while the dialog's loop runs.
    CControlUI* body = main.m_pm.FindControlByName(L"body");
    body->SetBkColor(0xFF112233);
    PaintNow(mainWindow);
    HDC dc = GetDC(mainWindow);
    const COLORREF pixel = GetPixel(dc, (body->GetPos().left + body->GetPos().right) / 2,
                                    (body->GetPos().top + body->GetPos().bottom) / 2);
    ReleaseDC(mainWindow, dc);
    EXPECT_EQ(RGB(0x11, 0x22, 0x33), pixel);
    PostMessageW(dialogWindow, WM_CLOSE, 5, 0);
    worker.join();
    EXPECT_EQ(5u, result);
    DestroyWindow(mainWindow);
}

}  // namespace
