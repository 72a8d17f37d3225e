// The control base, its attributes and paint steps, the label and the free
// scroll bar, in a real window.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Label.h"
#include "PaintManager.h"
#include "ScrollBar.h"
#include "SkinRenderer.h"
#include "SkinTestSupport.h"
#include "support/UITestHost.h"

using namespace Veneer;
using uitest::Capture;
using uitest::ChannelDistance;
using uitest::HostWindow;
using uitest::Surface;
using uitest::TestPanel;

namespace {

class Recorder : public INotifyUI {
public:
    void Notify(NotifyEvent& event) override {
        types.push_back(std::wstring(event.type.GetData()));
        senders.push_back(event.sender);
    }
    int Count(const wchar_t* type) const {
        int n = 0;
        for (const auto& t : types) n += t == type;
        return n;
    }
    std::vector<std::wstring> types;
    std::vector<CControlUI*> senders;
};

class ControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        skintest::UseFolder(skintest::SkinFolder());
        host.reset(new HostWindow(240, 180));
        root = new TestPanel;
        root->SetBkColor(0xFFFFFFFF);
        Manager().SetRootControl(root);
        Manager().AddNotifyListener(&recorder);
        scale = Manager().GetDpiScaler()->GetScale();
        host->Repaint();
        uitest::Pump();
    }
    void TearDown() override { host.reset(); }
    CPaintManagerUI& Manager() { return host->Manager(); }
    int S(int v) const { return MulDiv(v, scale, 100); }
    template <typename T>
    T* Add(T* control, RECT pos) {
        root->Add(control);
        control->SetPos(pos, false);
        return control;
    }
    // The window's pending update region's box (and the region is cleared).
    RECT UpdateBox() {
        RECT box = {};
        HRGN region = CreateRectRgn(0, 0, 0, 0);
        GetUpdateRgn(host->Window(), region, FALSE);
        GetRgnBox(region, &box);
        DeleteObject(region);
        ValidateRect(host->Window(), nullptr);
        return box;
    }
    Capture Paint(const char* name) {
        host->Repaint();
        Capture capture = host->Grab();
        uitest::SavePng(capture, name);
        return capture;
    }

    std::unique_ptr<HostWindow> host;
    TestPanel* root = nullptr;
    Recorder recorder;
    int scale = 100;
};

// Paint steps in the order they run.
class StepRecorder : public CControlUI {
public:
    void PaintBackgroundColor(HDC hdc) override { steps += "bc "; CControlUI::PaintBackgroundColor(hdc); }
    void PaintBackgroundImage(HDC hdc) override { steps += "bi "; CControlUI::PaintBackgroundImage(hdc); }
    void PaintStateImage(HDC) override { steps += "si "; }
    void PaintForegroundColor(HDC hdc) override { steps += "fc "; CControlUI::PaintForegroundColor(hdc); }
    void PaintForegroundImage(HDC hdc) override { steps += "fi "; CControlUI::PaintForegroundImage(hdc); }
    void PaintText(HDC) override { steps += "t "; }
    void PaintBorder(HDC hdc) override { steps += "b"; CControlUI::PaintBorder(hdc); }
    void HandleEvent(ControlEvent& event) override {
        handled.push_back(event.type);
        CControlUI::HandleEvent(event);
    }
    std::string steps;
    std::vector<int> handled;
};

bool AnswerFalse(void*) { return false; }
bool AnswerTrue(void*) { return true; }
int g_calls = 0;
bool CountTrue(void*) { ++g_calls; return true; }

TEST_F(ControlTest, SetPosEdgeCases) {
    CControlUI* control = Add(new CControlUI, RECT{0, 0, 0, 0});
    ValidateRect(host->Window(), nullptr);
    // Right before left: a zero-width rectangle at left; the first position
    // of an empty control repaints only the new rectangle.
    control->SetPos(RECT{40, 10, 30, 50});
    EXPECT_EQ(control->GetPos().left, 40);
    EXPECT_EQ(control->GetPos().right, 40);
    control->SetPos(RECT{40, 10, 60, 50});
    RECT box = UpdateBox();
    EXPECT_TRUE(EqualRect(&box, &control->GetPos()));
    // Moving repaints the union of old and new.
    control->SetPos(RECT{50, 20, 70, 60});
    box = UpdateBox();
    const RECT joined = {40, 10, 70, 60};
    EXPECT_TRUE(EqualRect(&box, &joined));
    // Inside a hidden container nothing repaints.
    TestPanel* hidden = Add(new TestPanel, RECT{0, 0, 100, 100});
    CControlUI* inner = new CControlUI;
    hidden->Add(inner);
    hidden->SetVisible(false);
    ValidateRect(host->Window(), nullptr);
    inner->SetPos(RECT{5, 5, 25, 25});
    box = UpdateBox();
    EXPECT_TRUE(IsRectEmpty(&box));
    // Invalidation is cut to the ancestors' rectangles.
    CControlUI* wide = new CControlUI;
    TestPanel* clipper = Add(new TestPanel, RECT{10, 10, 60, 60});
    clipper->Add(wide);
    wide->SetPos(RECT{0, 0, 150, 150}, false);
    ValidateRect(host->Window(), nullptr);
    wide->Invalidate();
    box = UpdateBox();
    EXPECT_TRUE(EqualRect(&box, &clipper->GetPos()));
}

TEST_F(ControlTest, SettersAndLayoutRequests) {
    CControlUI* control = Add(new CControlUI, RECT{0, 0, 10, 10});
    control->SetFixedWidth(30);
    control->SetFixedWidth(-1);
    EXPECT_EQ(control->GetFixedWidth(), S(30));
    Manager().SetLayoutPending(false);
    control->SetMinWidth(0);   // unchanged: no layout request
    EXPECT_FALSE(Manager().IsLayoutPending());
    control->SetMinWidth(5);
    EXPECT_TRUE(Manager().IsLayoutPending());
    control->SetPadding(1, 2, 3, 4);
    EXPECT_EQ(control->GetPadding().right, S(3));
    EXPECT_EQ(control->GetToolTipWidth(), S(300));

    // Hiding the focused control clears the manager's focus; the same value does nothing.
    control->SetVisible(true);
    CLabelUI* focusable = Add(new CLabelUI, RECT{0, 0, 10, 10});
    Manager().SetFocusedControl(focusable);
    ASSERT_EQ(Manager().GetFocus(), focusable);
    focusable->SetVisible(false);
    EXPECT_EQ(Manager().GetFocus(), nullptr);

    // Virtual window names come from the nearest ancestor that has one.
    TestPanel* page = Add(new TestPanel, RECT{0, 0, 50, 50});
    CControlUI* child = new CControlUI;
    page->Add(child);
    EXPECT_EQ(child->GetVirtualWnd(), L"");
    page->SetVirtualWnd(L"pagehome");
    EXPECT_EQ(child->GetVirtualWnd(), L"pagehome");
    EXPECT_TRUE(Manager().IsUsingVirtualWndNames());

    // A hit test never finds a control with the mouse off.
    POINT at = {5, 5};
    auto self = [](CControlUI* c, void*) -> CControlUI* { return c; };
    control->SetPos(RECT{0, 0, 10, 10}, false);
    EXPECT_EQ(control->FindControl(self, &at, FindHitTest), control);
    control->SetMouseEnabled(false);
    EXPECT_EQ(control->FindControl(self, &at, FindHitTest), nullptr);
}

TEST_F(ControlTest, DelegatesAndEvents) {
    CDelegateList list;
    g_calls = 0;
    list.Add(CDelegateFunction(CountTrue));
    list.Add(CDelegateFunction(CountTrue));
    EXPECT_EQ(list.GetSize(), 1);
    list.Add(CDelegateFunction(AnswerFalse));
    list.Add(CDelegateFunction(AnswerTrue));
    EXPECT_FALSE(list.Invoke(nullptr));
    EXPECT_EQ(g_calls, 1);

    StepRecorder* control = Add(new StepRecorder, RECT{0, 0, 10, 10});
    control->OnEvent += CDelegateFunction(AnswerFalse);
    ControlEvent event = uitest::MouseEvent(EventButtonDown, control, 1, 1);
    EXPECT_FALSE(control->RaiseEvent(event));
    EXPECT_TRUE(control->handled.empty());

    // A context menu bubbles to the first parent with the menu flag, which sends "menu".
    TestPanel* menuOwner = Add(new TestPanel, RECT{0, 0, 50, 50});
    menuOwner->SetMenuEnabled(true);
    CControlUI* child = new CControlUI;
    menuOwner->Add(child);
    ControlEvent menu = uitest::MouseEvent(EventContextMenu, child, 3, 3);
    child->RaiseEvent(menu);
    ASSERT_EQ(recorder.Count(L"menu"), 1);
    EXPECT_EQ(recorder.senders.back(), menuOwner);

    ControlEvent timer = {};
    timer.type = EventTimer;
    timer.wParam = 7;
    child->RaiseEvent(timer);
    EXPECT_EQ(recorder.Count(L"timer"), 1);
}

TEST_F(ControlTest, PaintStepsFillsAndBorders) {
    StepRecorder* control = Add(new StepRecorder, RECT{10, 10, 90, 70});
    control->SetBkColor(0xFF00FF00);
    control->SetAttribute(L"bordercolor", L"#FF0000FF");
    control->SetAttribute(L"bordersize", L"2");
    Capture capture = Paint("paint-steps");
    EXPECT_EQ(control->steps, "bc bi si fc fi t b");
    EXPECT_EQ(capture.At(50, 40), 0x00FF00u);
    EXPECT_EQ(capture.At(50, 10), 0x0000FFu);
    EXPECT_EQ(capture.At(10, 40), 0x0000FFu);
    EXPECT_EQ(capture.At(10 + S(2) - 1, 40), 0x0000FFu);
    EXPECT_EQ(capture.At(10 + S(2), 40), 0x00FF00u);
    EXPECT_EQ(capture.At(9, 9), 0xFFFFFFu);

    // An opaque colour fills only the paint rectangle; a translucent one the item.
    Surface opaque(100, 80), translucent(100, 80);
    control->Paint(opaque.DC(), RECT{0, 0, 50, 80});
    EXPECT_EQ(opaque.At(60, 40), 0xFFFFFFu);
    control->SetBkColor(0x80008000);
    control->Paint(translucent.DC(), RECT{0, 0, 50, 80});
    EXPECT_NE(translucent.At(60, 40), 0xFFFFFFu);

    // Three colours: two gradients meeting at the middle, whatever the gradient text.
    control->SetAttribute(L"bordersize", L"0");
    control->SetAttribute(L"bordercolor", L"0");
    control->SetBkColor(0xFFFF0000);
    control->SetAttribute(L"bkcolor2", L"#FF00FF00");
    control->SetAttribute(L"bkcolor3", L"#FF0000FF");
    control->SetGradient(L"hor");
    capture = Paint("three-colours");
    EXPECT_LE(ChannelDistance(capture.At(11, 20), 0xFF0000), 40);
    EXPECT_LE(ChannelDistance(capture.At(88, 20), 0x00FF00), 40);
    EXPECT_LE(ChannelDistance(capture.At(11, 60), 0x00FF00), 40);
    EXPECT_LE(ChannelDistance(capture.At(88, 60), 0x0000FF), 40);
    // The halves meet at the vertical middle.
    EXPECT_LE(ChannelDistance(capture.At(11, 39), 0xFF0000), 40);
    EXPECT_LE(ChannelDistance(capture.At(11, 40), 0x00FF00), 40);

    // Per-side borders: only top and bottom.
    control->SetBkColor(0);
    control->SetAttribute(L"bkcolor2", L"0");
    control->SetAttribute(L"bkcolor3", L"0");
    control->SetAttribute(L"bordercolor", L"#FFFF0000");
    control->SetAttribute(L"bordersize", L"0,1,0,1");
    capture = Paint("sides");
    EXPECT_EQ(capture.At(50, 10), 0xFF0000u);
    EXPECT_EQ(capture.At(50, 69), 0xFF0000u);
    EXPECT_EQ(capture.At(10, 40), 0xFFFFFFu);

    // A rounded border clips the background; a focused control takes the focus colour.
    CLabelUI* round = Add(new CLabelUI, RECT{100, 10, 180, 70});
    round->SetBkColor(0xFF000000);
    round->SetAttribute(L"borderround", L"20,20");
    round->SetAttribute(L"bordersize", L"1");
    round->SetAttribute(L"bordercolor", L"#FF00FF00");
    round->SetAttribute(L"focusbordercolor", L"#FFFF00FF");
    capture = Paint("round");
    EXPECT_EQ(capture.At(100, 10), 0xFFFFFFu);
    EXPECT_EQ(capture.At(140, 40), 0x000000u);
    EXPECT_EQ(capture.At(140, 10), 0x00FF00u);
    Manager().SetFocusedControl(round);
    round->SetAttribute(L"borderround", L"0,0");
    capture = Paint("focus-border");
    EXPECT_EQ(capture.At(140, 10), 0xFF00FFu);
}

TEST_F(ControlTest, AttributesAndStyles) {
    CControlUI* c = Add(new CControlUI, RECT{0, 0, 10, 10});
    c->SetAttribute(L"pos", L"10,20,110,50");
    EXPECT_EQ(c->GetFixedXY().cx, S(10));
    EXPECT_EQ(c->GetFixedXY().cy, S(20));
    EXPECT_EQ(c->GetFixedWidth(), S(100));
    EXPECT_EQ(c->GetFixedHeight(), S(30));
    c->SetAttribute(L"pos", L"-1,0,100,20");
    EXPECT_EQ(c->GetFixedXY().cx, S(100));
    EXPECT_EQ(c->GetFixedWidth(), S(101));
    // Missing numbers are 0; nothing past the value is read.
    c->SetAttribute(L"pos", L"5");
    EXPECT_EQ(c->GetFixedXY().cx, S(5));
    EXPECT_EQ(c->GetFixedXY().cy, 0);
    EXPECT_EQ(c->GetFixedWidth(), S(101));   // -5 is ignored
    c->SetAttribute(L"padding", L"1,2,");
    EXPECT_EQ(c->GetPadding().top, S(2));
    EXPECT_EQ(c->GetPadding().bottom, 0);

    c->SetAttribute(L"float", L"true");
    EXPECT_TRUE(c->IsFloat());
    double l, t, r, b;
    c->GetFloatPercent(&l, &t, &r, &b);
    EXPECT_EQ(l, 0.0);
    c->SetAttribute(L"float", L"0.5,0,1");
    c->GetFloatPercent(&l, &t, &r, &b);
    EXPECT_EQ(l, 0.5);
    EXPECT_EQ(r, 1.0);
    EXPECT_EQ(b, 0.0);
    struct Align {
        const wchar_t* value;
        UINT bits;
    } aligns[] = {{L"right,bottom", 10}, {L"center vcenter", 5}, {L"null", 0}};
    for (const Align& a : aligns) {
        c->SetAttribute(L"floatalign", a.value);
        EXPECT_EQ(c->GetFloatAlign(), a.bits) << a.value;
    }
    for (const wchar_t* green : {L"#FF00FF00", L" FF00FF00", L"0xFF00FF00"}) {
        c->SetBkColor(0);
        c->SetAttribute(L"BKCOLOR", green);
        EXPECT_EQ(c->GetBkColor(), 0xFF00FF00u) << green;
    }
    c->SetAttribute(L"bordersize", L"0,1,0,1");
    EXPECT_EQ(c->GetBorderSides().top, 1);
    c->SetAttribute(L"cursor", L"HAND");
    EXPECT_EQ(c->GetCursor(), 32649);
    c->SetAttribute(L"cursor", L"nonsense");
    EXPECT_EQ(c->GetCursor(), 32649);
    c->SetAttribute(L"shortcut", L"xyz");
    EXPECT_EQ(c->GetShortcut(), L'x');
    c->SetAttribute(L"visible", L"TRUE");
    EXPECT_TRUE(c->IsVisible());
    c->SetAttribute(L"enabled", L"yes");
    EXPECT_FALSE(c->IsEnabled());

    // A value that names a style applies the style; inner styles; malformed lists.
    Manager().AddStyle(L"greenbox", L"bkcolor=\"#FF00FF00\" width=\"42\"");
    c->SetAttribute(L"bkimage", L"greenbox");
    EXPECT_EQ(c->GetFixedWidth(), S(42));
    EXPECT_TRUE(c->GetBackgroundImage().IsEmpty());
    CControlUI loose;   // no manager: taken literally
    loose.SetAttribute(L"bkimage", L"greenbox");
    EXPECT_EQ(loose.GetBackgroundImage(), L"greenbox");
    c->SetAttribute(L"innerstyle", L"name=&quot;inner&quot; height=&quot;7&quot;");
    EXPECT_EQ(c->GetName(), L"inner");
    EXPECT_EQ(c->GetFixedHeight(), S(7));
    c->ApplyAttributeString(L"name=\"first\" height=12 width=\"1\"");
    EXPECT_EQ(c->GetName(), L"first");
    EXPECT_EQ(c->GetFixedHeight(), S(7));
    EXPECT_EQ(c->GetFixedWidth(), S(42));
    c->ApplyAttributeString(L"tooltip=\"open");
    EXPECT_EQ(c->GetToolTip(), L"");
    // A style naming itself, or two naming each other, ends.
    Manager().AddStyle(L"loop", L"bkimage=\"loop\" width=\"9\"");
    Manager().AddStyle(L"ping", L"bkimage=\"pong\"");
    Manager().AddStyle(L"pong", L"bkimage=\"ping\"");
    c->SetAttribute(L"bkimage", L"loop");
    EXPECT_EQ(c->GetFixedWidth(), S(9));
    c->ApplyAttributeString(L"ping");
    EXPECT_FALSE(c->GetBackgroundImage().IsEmpty());
}

// ------------------------------------------------------------------ label

TEST_F(ControlTest, LabelSizeAndPixels) {
    CLabelUI* label = Add(new CLabelUI, RECT{0, 0, 10, 10});
    label->SetAttribute(L"autocalcwidth", L"true");
    label->SetAttribute(L"textpadding", L"3,0,5,0");
    label->SetText(L"Label width");
    HDC dc = Manager().GetPaintDC();
    HGDIOBJ old = SelectObject(dc, Manager().GetFontHandle(-1));
    SIZE extent = {};
    GetTextExtentPoint32W(dc, L"Label width", 11, &extent);
    TEXTMETRICW tm = {};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    const SIZE size = label->MeasureSize(SIZE{200, 100});
    EXPECT_NEAR(size.cx, extent.cx + S(3) + S(5), 1);
    EXPECT_EQ(size.cy, tm.tmHeight + 4);

    struct Style {
        const wchar_t* name;
        const wchar_t* value;
        UINT set, clear;
    } styles[] = {
        {L"align", L"center", DT_CENTER, DT_RIGHT},
        {L"align", L"Center", DT_CENTER, DT_RIGHT},   // case-sensitive: unchanged
        {L"align", L"left right", DT_RIGHT, DT_CENTER},
        {L"wordbreak", L"true", DT_WORDBREAK, DT_SINGLELINE},
        {L"valign", L"top", DT_SINGLELINE, DT_WORDBREAK | DT_VCENTER},
    };
    for (const Style& s : styles) {
        label->SetAttribute(s.name, s.value);
        EXPECT_EQ(label->GetTextStyle() & (s.set | s.clear), s.set) << s.name << "=" << s.value;
    }

    // Pixels equal DrawTextW's.
    CLabelUI* plain = Add(new CLabelUI, RECT{0, 40, 150, 70});
    plain->SetText(L"Plain label");
    plain->SetAttribute(L"textcolor", L"#FF203040");
    Capture capture = Paint("label");
    Surface reference(240, 180);
    SetBkMode(reference.DC(), TRANSPARENT);
    SetTextColor(reference.DC(), RGB(0x20, 0x30, 0x40));
    old = SelectObject(reference.DC(), Manager().GetFontHandle(-1));
    RECT r = {0, 40, 150, 70};
    DrawTextW(reference.DC(), L"Plain label", -1, &r, DT_VCENTER | DT_SINGLELINE);
    SelectObject(reference.DC(), old);
    for (int y = 40; y < 70; ++y)
        for (int x = 0; x < 150; ++x) ASSERT_EQ(capture.At(x, y), reference.At(x, y)) << x << "," << y;
}

TEST_F(ControlTest, LabelColours) {
    CLabelUI* label = Add(new CLabelUI, RECT{0, 0, 150, 30});
    label->SetText(L"MMMM");
    EXPECT_EQ(label->GetTextColor(), 0u);
    Paint("label-default");
    EXPECT_EQ(label->GetTextColor(), Manager().GetDefaultFontColor());
    // Frozen at the first paint: a later default does not reach it.
    EXPECT_EQ(label->GetDisabledTextColor(), Manager().GetDefaultDisabledColor());
    label->SetEnabled(false);
    Capture capture = Paint("label-disabled");
    const DWORD disabled = Manager().GetDefaultDisabledColor() & 0xFFFFFF;
    bool found = false;
    for (int x = 0; x < 150 && !found; ++x)
        for (int y = 0; y < 30 && !found; ++y) found = capture.At(x, y) == disabled;
    EXPECT_TRUE(found);
    label->SetText(L"");
    label->SetBkColor(0xFF0000FF);
    capture = Paint("label-empty");
    EXPECT_EQ(capture.At(20, 15), 0x0000FFu);
}

// ------------------------------------------------------------------ scroll bar

class ScrollBarTest : public ControlTest {
protected:
    CScrollBarUI* Bar(RECT pos) {
        CScrollBarUI* bar = static_cast<CScrollBarUI*>(CScrollBarUI::CreateScrollBarUI());
        root->Add(bar);
        bar->SetPos(pos, false);
        return bar;
    }
    // A timer tick as the window delivers it (the queue unread).
    void Tick(CScrollBarUI* bar) {
        const TimerEntry* entry = Manager().FindTimer(bar, CScrollBarUI::kRepeatTimerId);
        ASSERT_NE(entry, nullptr);
        SendMessageW(host->Window(), WM_TIMER, entry->systemId, 0);
    }
};

TEST_F(ScrollBarTest, Geometry) {
    CScrollBarUI* bar = Bar(RECT{0, 0, S(16), S(100)});
    const int T = S(16), L = S(100);
    const int A = L - 2 * T;
    const int V = std::max(L * A / (L + 100), T);
    EXPECT_EQ(bar->GetButton1Rect().bottom, T);
    EXPECT_EQ(bar->GetButton2Rect().top, L - T);
    EXPECT_EQ(bar->GetThumbRect().top, T);
    EXPECT_EQ(bar->GetThumbRect().bottom, T + V);
    if (scale == 100) EXPECT_EQ(V, 34);
    bar->SetScrollPos(100);
    EXPECT_EQ(bar->GetThumbRect().top, T + (A - V));
    EXPECT_EQ(bar->GetThumbRect().bottom, L - T);
    bar->SetScrollRange(0);
    EXPECT_EQ(bar->GetThumbRect().top, T);
    EXPECT_EQ(bar->GetThumbRect().bottom, L - T);
    bar->SetScrollRange(-5);
    EXPECT_EQ(bar->GetScrollRange(), 0);
    EXPECT_EQ(bar->GetScrollPos(), 0);

    CScrollBarUI* shortBar = Bar(RECT{40, 0, 40 + S(16), S(20)});
    EXPECT_EQ(shortBar->GetButton1Rect().bottom - shortBar->GetButton1Rect().top, S(20) / 2);
    EXPECT_TRUE(IsRectEmpty(&shortBar->GetThumbRect()));

    CScrollBarUI* horizontal = Bar(RECT{0, 100, S(100), 100 + S(16)});
    horizontal->SetHorizontal(true);
    horizontal->SetPos(RECT{0, 100, S(100), 100 + S(16)}, false);
    EXPECT_EQ(horizontal->GetButton1Rect().right, T);
    EXPECT_EQ(horizontal->GetThumbRect().left, T);
    EXPECT_EQ(horizontal->GetThumbRect().top, 100);

    // Without images: 2-pixel outlines in FF85E4FF around buttons and thumb.
    Capture capture = Paint("scrollbar-outlines");
    EXPECT_EQ(capture.At(0, 0), 0x85E4FFu);
    EXPECT_EQ(capture.At(1, 1), 0x85E4FFu);
    EXPECT_EQ(capture.At(T / 2, T / 2), 0xFFFFFFu);
    EXPECT_EQ(capture.At(0, L - 1), 0x85E4FFu);
}

TEST_F(ScrollBarTest, HeldButtonRepeatsAfterDelay) {
    CScrollBarUI* bar = Bar(RECT{0, 0, S(16), S(100)});
    bar->SetScrollPos(50);
    const int line = bar->GetLineSize();
    ControlEvent down = uitest::MouseEvent(EventButtonDown, bar, S(8), S(100) - S(8));
    bar->RaiseEvent(down);
    EXPECT_EQ(bar->GetScrollPos(), 50 + line);
    EXPECT_EQ(recorder.Count(L"scroll"), 1);
    EXPECT_TRUE(bar->GetButton2State() & CScrollBarUI::StatePushed);
    for (int tick = 1; tick <= 5; ++tick) Tick(bar);
    EXPECT_EQ(bar->GetScrollPos(), 50 + line);
    Tick(bar);
    EXPECT_EQ(bar->GetScrollPos(), 50 + 2 * line);
    Tick(bar);
    EXPECT_EQ(bar->GetScrollPos(), 50 + 3 * line);
    EXPECT_EQ(recorder.Count(L"scroll"), 3);
    ControlEvent up = uitest::MouseEvent(EventButtonUp, bar, S(8), S(100) - S(8));
    bar->RaiseEvent(up);
    EXPECT_EQ(Manager().FindTimer(bar, CScrollBarUI::kRepeatTimerId)->killed, true);
    EXPECT_FALSE(bar->GetButton2State() & CScrollBarUI::StatePushed);

    // The rail pages by the bar's own length.
    bar->SetScrollRange(1000);
    bar->SetScrollPos(0);
    const RECT thumb = bar->GetThumbRect();
    ControlEvent rail = uitest::MouseEvent(EventButtonDown, bar, S(8), thumb.bottom + 2);
    bar->RaiseEvent(rail);
    EXPECT_EQ(bar->GetScrollPos(), bar->GetHeight());
    up = uitest::MouseEvent(EventButtonUp, bar, S(8), thumb.bottom + 2);
    bar->RaiseEvent(up);

    // Disabling clears the states.
    ControlEvent enter = uitest::MouseEvent(EventMouseEnter, bar, 1, 1);
    bar->RaiseEvent(enter);
    EXPECT_TRUE(bar->GetButton1State() & CScrollBarUI::StateHot);
    bar->SetEnabled(false);
    EXPECT_EQ(bar->GetButton1State(), 0u);
    EXPECT_EQ(bar->GetButton2State(), 0u);
    EXPECT_EQ(bar->GetThumbState(), 0u);
}

TEST_F(ScrollBarTest, ThumbMovesOnTickWithPointer) {
    for (bool hideButton : {false, true}) {
        CScrollBarUI* bar = Bar(RECT{hideButton ? 60 : 20, 0, (hideButton ? 60 : 20) + S(16), S(100)});
        bar->SetShowButton1(!hideButton);
        const RECT thumb = bar->GetThumbRect();
        const int travel = (S(100) - (hideButton ? 1 : 2) * S(16)) - (thumb.bottom - thumb.top);
        ControlEvent down = uitest::MouseEvent(EventButtonDown, bar, bar->GetX() + 2, thumb.top + 2);
        bar->RaiseEvent(down);
        EXPECT_EQ(bar->GetThumbState() & 0x50, 0x50u);
        const int moved = travel / 2;
        ControlEvent move = uitest::MouseEvent(EventMouseMove, bar, bar->GetX() + 2, thumb.top + 2 + moved);
        bar->RaiseEvent(move);
        EXPECT_EQ(bar->GetScrollPos(), 0);   // not before the tick
        Tick(bar);
        // The thumb follows the pointer.
        EXPECT_NEAR(bar->GetThumbRect().top - thumb.top, moved, 1) << "hidden button " << hideButton;
        ControlEvent up = uitest::MouseEvent(EventButtonUp, bar, bar->GetX() + 2, thumb.top + 2 + moved);
        bar->RaiseEvent(up);
        EXPECT_EQ(bar->GetThumbState() & 0x50, 0u);
    }
}

TEST_F(ScrollBarTest, RailRepeatsTowardTheCursor) {
    CScrollBarUI* bar = Bar(RECT{0, 0, S(16), S(100)});
    bar->SetScrollRange(1000);
    const RECT thumb = bar->GetThumbRect();
    POINT below = {S(8), S(100) - S(16) - 2};
    ControlEvent rail = uitest::MouseEvent(EventButtonDown, bar, below.x, below.y);
    bar->RaiseEvent(rail);
    const int page = bar->GetHeight();
    EXPECT_EQ(bar->GetScrollPos(), page);
    // The repeat follows the pointer: held below the thumb it pages on; once
    // the thumb has passed it, back.
    POINT screen = below;
    ClientToScreen(host->Window(), &screen);
    SetCursorPos(screen.x, screen.y);
    for (int tick = 1; tick <= 6; ++tick) Tick(bar);
    EXPECT_EQ(bar->GetScrollPos(), 2 * page);
    POINT above = {S(8), thumb.top};
    screen = above;
    ClientToScreen(host->Window(), &screen);
    SetCursorPos(screen.x, screen.y);
    Tick(bar);
    EXPECT_EQ(bar->GetScrollPos(), page);
    EXPECT_EQ(recorder.Count(L"scroll"), 3);
    ControlEvent up = uitest::MouseEvent(EventButtonUp, bar, below.x, below.y);
    bar->RaiseEvent(up);
}

TEST_F(ScrollBarTest, RealTimerRepeats) {
    CScrollBarUI* bar = Bar(RECT{0, 0, S(16), S(100)});
    ControlEvent down = uitest::MouseEvent(EventButtonDown, bar, S(8), S(100) - S(8));
    bar->RaiseEvent(down);
    const DWORD start = GetTickCount();
    while (bar->GetScrollPos() < 2 * bar->GetLineSize() && GetTickCount() - start < 2000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        uitest::Pump();
    }
    EXPECT_GE(bar->GetScrollPos(), 2 * bar->GetLineSize());
    ControlEvent up = uitest::MouseEvent(EventButtonUp, bar, S(8), S(100) - S(8));
    bar->RaiseEvent(up);
}

}  // namespace
