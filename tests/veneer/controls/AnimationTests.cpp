// Frame-counting animations and the controls that move on timers: the
// hooks' order, the sliding tab layout, the fading button, the turning ring
// and the rolling text, ticked by WM_TIMER messages sent to the window.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "Animation.h"
#include "ControlsTestSupport.h"
#include "SmallControls.h"

using namespace Veneer;

namespace {

// A control that records its animation hooks.
class Counted : public CControlUI, public CAnimationUI {
public:
    Counted() : CAnimationUI(this) {}
    void HandleEvent(ControlEvent& event) override {
        if (event.type == EventTimer) OnAnimationElapse(static_cast<int>(event.wParam));
        CControlUI::HandleEvent(event);
    }
    void OnAnimationStep(int, int current, int) override { steps.push_back(current); }
    void OnAnimationStart(int, bool first) override { starts += first ? 1 : 100; }
    void OnAnimationStop(int) override { ++stops; }
    std::vector<int> steps;
    int starts = 0;
    int stops = 0;
};

class AnimationTest : public ::testing::Test, public ctltest::ControlsFixture {
protected:
    void SetUp() override {
        panel = new uitest::TestPanel;
        panel->SetAttribute(L"bkcolor", L"#FFFFFFFF");
        Host(S(400), S(200), panel);
    }
    void TearDown() override {
        if (other) DestroyWindow(other);
        TearDownHost();
    }
    template <typename T>
    T* Add(const wchar_t* name, RECT pos, const wchar_t* attributes = L"") {
        T* control = new T;
        control->SetName(name);
        panel->Add(control);
        control->ApplyAttributeString(attributes);
        control->SetPos(pos);
        return control;
    }
    RECT R(int left, int top, int width, int height) const {
        return RECT{S(left), S(top), S(left) + S(width), S(top) + S(height)};
    }
    bool Running(CControlUI* control, UINT id) {
        const TimerEntry* timer = Manager().FindTimer(control, id);
        return timer && !timer->killed;
    }
    // One tick of the control's timer, as the window receives it.
    void Tick(CControlUI* control, UINT id, int count = 1) {
        for (int i = 0; i < count; ++i) {
            const TimerEntry* timer = Manager().FindTimer(control, id);
            if (!timer || timer->killed) return;
            SendMessageW(host->Window(), WM_TIMER, timer->systemId, 0);
        }
    }
    uitest::TestPanel* panel = nullptr;
    HWND other = nullptr;
};

// ---------------------------------------------------------------- the mix-in

TEST_F(AnimationTest, HooksRunInFrameOrder) {
    auto* once = Add<Counted>(L"once", R(0, 0, 10, 10));
    ASSERT_TRUE(once->StartAnimation(10, 15, 5, false));
    Tick(once, 5, 40);
    EXPECT_EQ(16u, once->steps.size());
    EXPECT_EQ(15, once->steps.back());
    EXPECT_EQ(1, once->stops);
    EXPECT_EQ(1, once->starts);
    EXPECT_FALSE(once->IsAnimationRunning(5));
    EXPECT_FALSE(Running(once, 5));

    auto* looping = Add<Counted>(L"looping", R(0, 20, 10, 10));
    ASSERT_TRUE(looping->StartAnimation(10, 3, 7, true));
    Tick(looping, 7, 7);
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 1, 2, 3}), looping->steps);
    EXPECT_EQ(1, looping->starts);
    EXPECT_EQ(2, looping->stops);
    EXPECT_TRUE(Running(looping, 7));
    looping->StopAnimation(0);
    EXPECT_FALSE(Running(looping, 7));
    EXPECT_EQ(-1, looping->GetCurrentFrame(7));
}

TEST_F(AnimationTest, RefusalsChangeNothing) {
    auto* c = Add<Counted>(L"c", R(0, 0, 10, 10));
    ASSERT_TRUE(c->StartAnimation(10, 4, 3, false));
    Counted detached;   // no paint manager
    CAnimationUI ownerless(nullptr);
    const struct {
        IAnimationUI* animation;
        int elapse, frames, id;
    } refused[] = {{c, 10, 4, 3}, {c, 0, 4, 4}, {c, 10, 0, 4}, {c, -5, 4, 4}, {&detached, 10, 4, 1},
                   {&ownerless, 10, 4, 1}};
    for (const auto& row : refused) {
        EXPECT_FALSE(row.animation->StartAnimation(row.elapse, row.frames, row.id, false))
            << row.elapse << " " << row.frames << " " << row.id;
    }
    EXPECT_FALSE(c->IsAnimationRunning(4));
    EXPECT_TRUE(c->SetCurrentFrame(4, 3));
    EXPECT_TRUE(c->SetCurrentFrame(0, 3));
    EXPECT_FALSE(c->SetCurrentFrame(5, 3));
    EXPECT_FALSE(c->SetCurrentFrame(-1, 3));
    EXPECT_FALSE(c->SetCurrentFrame(1, 9));
    EXPECT_EQ(0, c->GetCurrentFrame(3));
}

// ----------------------------------------------------------- the tab slide

class SlideTest : public AnimationTest {
protected:
    void SetUp() override {
        AnimationTest::SetUp();
        tabs = new CAnimationTabLayoutUI;
        tabs->SetName(L"tabs");
        for (int i = 0; i < 3; ++i) {
            CControlUI* page = new CControlUI;
            page->SetName((L"page" + std::to_wstring(i)).c_str());
            page->SetAttribute(L"bkcolor", i == 0 ? L"#FFFF0000" : i == 1 ? L"#FF00FF00" : L"#FF0000FF");
            tabs->AddItem(page);
        }
        panel->Add(tabs);
        tabs->SetPos(R(50, 10, 300, 100));
        recorder.Clear();
    }
    int PageLeft(int index) { return tabs->GetItemAt(index)->GetPos().left - S(50); }
    CAnimationTabLayoutUI* tabs = nullptr;
};

TEST_F(SlideTest, NewPageSlidesInFromTheRight) {
    ASSERT_TRUE(tabs->SelectItem(2));
    ASSERT_EQ(1, recorder.Count(L"tabselect"));
    for (const ctltest::Notice& n : recorder.notices) {
        if (n.type != L"tabselect") continue;
        EXPECT_EQ(2u, n.wParam);
        EXPECT_EQ(0, n.lParam);
    }
    EXPECT_FALSE(tabs->GetItemAt(2)->IsVisible());   // until the first step
    for (int n = 1; n <= 15; ++n) {
        Tick(tabs, 1);
        EXPECT_TRUE(tabs->GetItemAt(2)->IsVisible());
        EXPECT_EQ(S(300) - S(20) * n, PageLeft(2)) << "tick " << n;
        EXPECT_EQ(0, recorder.Count(L"tabanimstop"));
    }
    Paint("slide_tick15");
    Tick(tabs, 1);
    EXPECT_EQ(1, recorder.Count(L"tabanimstop"));
    EXPECT_EQ(0, PageLeft(2));
    EXPECT_FALSE(Running(tabs, 1));

    // Back to page 0: from the left.
    ASSERT_TRUE(tabs->SelectItem(0));
    Tick(tabs, 1);
    EXPECT_EQ(-S(300) + S(20), PageLeft(0));
    Tick(tabs, 1, 15);
    EXPECT_EQ(2, recorder.Count(L"tabanimstop"));

    // The same page again: nothing.
    recorder.Clear();
    EXPECT_TRUE(tabs->SelectItem(0));
    EXPECT_EQ(0, recorder.Count(L"tabselect"));
    EXPECT_FALSE(Running(tabs, 1));
    EXPECT_FALSE(tabs->SelectItem(3));
}

TEST_F(SlideTest, CustomDirectionComesFromTheLeftAlways) {
    tabs->SetAttribute(L"custom_postive_direction", L"1");
    for (int index : {2, 1}) {
        ASSERT_TRUE(tabs->SelectItem(index));
        Tick(tabs, 1);
        EXPECT_EQ(-S(300) + S(20), PageLeft(index)) << index;
        Tick(tabs, 1, 15);
    }
    EXPECT_EQ(2, recorder.Count(L"tabanimstop"));
}

TEST_F(SlideTest, PageRemovedMidSlideIsDropped) {
    ASSERT_TRUE(tabs->SelectItem(2));
    CControlUI* page = tabs->GetItemAt(2);
    ASSERT_TRUE(tabs->RemoveItem(page));
    uitest::Pump();   // the page is deleted now
    Tick(tabs, 1, 16);
    EXPECT_EQ(1, recorder.Count(L"tabanimstop"));
    EXPECT_FALSE(Running(tabs, 1));
    Paint("slide_removed");
}

TEST_F(SlideTest, ContainerSlidesItsSelectedChild) {
    auto* box = new CAnimationContainerUI;
    for (int i = 0; i < 2; ++i) box->AddItem(new CControlUI);
    panel->Add(box);
    box->SetAttribute(L"selectedid", L"0");
    box->SetPos(R(0, 120, 100, 50));
    EXPECT_TRUE(box->GetItemAt(0)->IsVisible());
    EXPECT_FALSE(box->GetItemAt(1)->IsVisible());
    ASSERT_TRUE(box->SelectItem(1));
    Tick(box, 1);
    EXPECT_EQ(S(100) - S(100) / 15, box->GetPos().left);
    Tick(box, 1, 15);
    EXPECT_EQ(0, box->GetPos().left);
    EXPECT_EQ(1, box->GetCurSel());
}

// ------------------------------------------------------------ fade button

DWORD Over(DWORD dst, DWORD src, int alpha) {
    DWORD out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const double s = (src >> shift) & 0xFF, d = (dst >> shift) & 0xFF;
        out |= static_cast<DWORD>(std::lround(s * alpha / 255 + d * (255 - alpha) / 255)) << shift;
    }
    return out;
}

class FadeTest : public AnimationTest {
protected:
    void SetUp() override {
        AnimationTest::SetUp();
        button = Add<CFadeButtonUI>(L"fade", R(10, 10, 20, 20),
                                    L"normalimage=\"values/fadenormal.png\" hotimage=\"values/fadehot.png\"");
        centre = ctltest::Centre(button->GetPos());
        SetForegroundWindow(host->Window());
        SetActiveWindow(host->Window());
        uitest::Pump();
    }
    DWORD CentrePixel(const char* name) { return Paint(name).At(centre.x, centre.y); }
    CFadeButtonUI* button = nullptr;
    POINT centre = {};
};

TEST_F(FadeTest, EnterFadesToTheHotImage) {
    EXPECT_EQ(0x0000FFu, CentrePixel("fade_rest"));
    Raise(button, EventMouseEnter, centre);
    EXPECT_EQ(0x0000FFu, CentrePixel("fade_enter"));
    Tick(button, CFadeButtonUI::kFadeInId, 11);
    EXPECT_EQ(127, button->GetFadeValue());
    const DWORD expected = Over(Over(0xFFFFFF, 0x0000FF, 128), 0xFF0000, 127);
    const DWORD mid = CentrePixel("fade_tick11");
    EXPECT_LE(uitest::ChannelDistance(expected, mid), 2) << std::hex << mid << " " << expected;
    Tick(button, CFadeButtonUI::kFadeInId, 10);
    EXPECT_FALSE(button->IsAnimationRunning(CFadeButtonUI::kFadeInId));
    EXPECT_EQ(0xFF0000u, CentrePixel("fade_hot"));

    // Leaving while the window is active fades back.
    ASSERT_EQ(host->Window(), GetActiveWindow());
    Raise(button, EventMouseLeave, centre);
    EXPECT_TRUE(button->IsAnimationRunning(CFadeButtonUI::kFadeOutId));
    EXPECT_EQ(0xFF0000u, CentrePixel("fade_leave"));
    Tick(button, CFadeButtonUI::kFadeOutId, 21);
    EXPECT_EQ(0x0000FFu, CentrePixel("fade_back"));
}

TEST_F(FadeTest, LeaveWithAnotherWindowActiveDropsBackAtOnce) {
    Raise(button, EventMouseEnter, centre);
    CentrePixel("inactive_enter");
    Tick(button, CFadeButtonUI::kFadeInId, 21);
    EXPECT_EQ(0xFF0000u, CentrePixel("inactive_hot"));
    other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr, nullptr,
                            nullptr);
    SetForegroundWindow(other);
    SetActiveWindow(other);
    uitest::Pump();
    ASSERT_NE(host->Window(), GetActiveWindow());
    Raise(button, EventMouseLeave, centre);
    EXPECT_FALSE(button->IsAnimationRunning(CFadeButtonUI::kFadeOutId));
    EXPECT_EQ(0x0000FFu, CentrePixel("inactive_leave"));
}

TEST_F(FadeTest, EmptyNormalImageNeverFades) {
    auto* bare = Add<CFadeButtonUI>(L"bare", R(50, 10, 20, 20), L"hotimage=\"values/fadehot.png\"");
    const POINT c = ctltest::Centre(bare->GetPos());
    Raise(bare, EventMouseEnter, c);
    for (int n = 0; n < 21; ++n) {
        Tick(bare, CFadeButtonUI::kFadeInId);
        EXPECT_EQ(0xFFFFFFu, Paint("fade_bare").At(c.x, c.y)) << n;
    }
}

TEST_F(FadeTest, MakeFadeImageReplacesAFade) {
    EXPECT_EQ(L"file='a.png'  fade='10' ", std::wstring(CFadeButtonUI::MakeFadeImage(L"a.png", 10).GetData()));
    EXPECT_EQ(L"file='a.png'  dest='0,0,5,5' fade='7' ",
              std::wstring(CFadeButtonUI::MakeFadeImage(L"file='a.png' fade='200' dest='0,0,5,5'", 7).GetData()));
}

// ------------------------------------------------------------------ ring

// The centre of the dark pixels inside a rectangle.
POINT DarkCentre(const uitest::Capture& c, const RECT& r) {
    long sx = 0, sy = 0, n = 0;
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) {
            if ((c.At(x, y) & 0xFF) < 0x60) {
                sx += x;
                sy += y;
                ++n;
            }
        }
    }
    return n ? POINT{sx / n, sy / n} : POINT{-1, -1};
}

TEST_F(AnimationTest, RingTurnsItsPicture) {
    // The picture's marker sits above the centre, 15 of 40 away.
    auto* cw = Add<CRingUI>(L"cw", R(10, 10, 40, 40), L"bkimage=\"values/ring.png\"");
    auto* ccw = Add<CRingUI>(L"ccw", R(100, 10, 40, 40), L"bkimage=\"values/ring.png\" rotationangle=\"-18\"");
    const RECT a = cw->GetPos(), b = ccw->GetPos();
    const POINT ca = ctltest::Centre(a), cb = ctltest::Centre(b);
    const int away = S(40) * 15 / 40;
    const double tolerance = scale == 100 ? 1 : 3;   // 1 px; at 144 the stretched marker blurs
    POINT m = DarkCentre(Paint("ring_start"), a);
    EXPECT_NEAR(ca.x, m.x, tolerance);
    EXPECT_NEAR(ca.y - away, m.y, tolerance);
    ASSERT_TRUE(Running(cw, CRingUI::kTimerId));
    Tick(cw, CRingUI::kTimerId, 5);
    Tick(ccw, CRingUI::kTimerId, 5);
    const uitest::Capture turned = Paint("ring_90");
    m = DarkCentre(turned, a);
    EXPECT_NEAR(ca.x + away, m.x, tolerance);
    EXPECT_NEAR(ca.y, m.y, tolerance);
    m = DarkCentre(turned, b);
    EXPECT_NEAR(cb.x - away, m.x, tolerance);
    EXPECT_NEAR(cb.y, m.y, tolerance);

    // 21 ticks turn it as far as 1.
    auto* again = Add<CRingUI>(L"again", R(200, 10, 40, 40), L"bkimage=\"values/ring.png\"");
    Paint("ring_again");
    Tick(again, CRingUI::kTimerId, 21);
    const float after21 = again->GetAngle();
    EXPECT_FLOAT_EQ(18.0f, after21);
    const uitest::Capture c21 = Paint("ring_21");
    Tick(ccw, CRingUI::kTimerId, 16);   // 21 the other way
    EXPECT_FLOAT_EQ(-18.0f, ccw->GetAngle());
    const RECT r21 = again->GetPos();
    const POINT tick1 = DarkCentre(c21, r21);
    const POINT c = ctltest::Centre(r21);
    EXPECT_NEAR(c.x + away * sin(18 * 3.14159265 / 180), tick1.x, tolerance);
    EXPECT_NEAR(c.y - away * cos(18 * 3.14159265 / 180), tick1.y, tolerance);
}

// -------------------------------------------------------------- roll text

int InkLeft(const uitest::Capture& c, const RECT& r) {
    for (int x = r.left; x < r.right; ++x)
        for (int y = r.top; y < r.bottom; ++y)
            if (c.At(x, y) != 0xFFFFFF) return x;
    return -1;
}

TEST_F(AnimationTest, RollTextEntersFromTheRight) {
    auto* roll = Add<CRollTextUI>(L"roll", R(10, 10, 200, 30), L"text=\"Rolling\" textcolor=\"#FF000000\"");
    const RECT r = roll->GetPos();
    EXPECT_EQ(-1, InkLeft(Paint("roll_1"), r));
    EXPECT_EQ(-1, InkLeft(Paint("roll_2"), r));
    int last = InkLeft(Paint("roll_3"), r);
    ASSERT_GT(last, r.right - 10);
    for (int n = 4; n <= 8; ++n) {
        const int left = InkLeft(Paint(("roll_" + std::to_string(n)).c_str()), r);
        EXPECT_NEAR(last - 5, left, 1) << "paint " << n;
        last = left;
    }
    // A click counts only when pressed and released inside.
    const POINT inside = ctltest::Centre(r);
    Raise(roll, EventButtonDown, inside);
    Raise(roll, EventButtonUp, POINT{r.right + 5, inside.y});
    EXPECT_EQ(0, recorder.Count(L"click"));
    Raise(roll, EventButtonDown, inside);
    Raise(roll, EventButtonUp, inside);
    EXPECT_EQ(1, recorder.Count(L"click"));
}


// The roll directions other than leftwards are only picked by derived
// controls.
class DirectedRoll : public CRollTextUI {
public:
    void SetDirection(int direction) { m_direction = direction; }
};

// Where the ink in r reaches, or an empty rectangle when there is none.
RECT InkBox(const uitest::Capture& c, const RECT& r) {
    RECT ink = {r.right, r.bottom, r.left, r.top};
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            if (c.At(x, y) != 0xFFFFFF) {
                ink.left = std::min(ink.left, static_cast<LONG>(x));
                ink.top = std::min(ink.top, static_cast<LONG>(y));
                ink.right = std::max(ink.right, static_cast<LONG>(x + 1));
                ink.bottom = std::max(ink.bottom, static_cast<LONG>(y + 1));
            }
    return ink;
}

TEST_F(AnimationTest, RollTextEntersFromEachSideAndMovesByTheStep) {
    // How far the text's leading edge has come in from the side it enters.
    struct Case {
        int direction;
        const char* name;
        LONG (*in)(const RECT& area, const RECT& ink);
    };
    const Case cases[] = {
        {CRollTextUI::RollLeft, "left", [](const RECT& a, const RECT& i) { return a.right - i.left; }},
        {CRollTextUI::RollRight, "right", [](const RECT& a, const RECT& i) { return i.right - a.left; }},
        {CRollTextUI::RollUp, "up", [](const RECT& a, const RECT& i) { return a.bottom - i.top; }},
        {CRollTextUI::RollDown, "down", [](const RECT& a, const RECT& i) { return i.bottom - a.top; }},
    };
    std::vector<RECT> areas;
    for (size_t k = 0; k < std::size(cases); ++k) {
        const int left = 5 + static_cast<int>(k % 2) * 130, top = 10 + static_cast<int>(k / 2) * 50;
        auto* roll = Add<DirectedRoll>(L"roll", R(left, top, 120, 30), L"text=\"Rolling\" textcolor=\"#FF000000\"");
        roll->SetDirection(cases[k].direction);
        areas.push_back(roll->GetPos());
    }
    // The first paint measures, the second places the text just outside;
    // from then on each paint brings it one step (5 pixels) further in.
    std::vector<std::vector<LONG>> in(std::size(cases));
    for (int n = 1; n <= 8; ++n) {
        const uitest::Capture capture = Paint(("roll_dir_" + std::to_string(n)).c_str());
        for (size_t k = 0; k < std::size(cases); ++k) {
            const RECT ink = InkBox(capture, areas[k]);
            if (ink.left < ink.right) in[k].push_back(cases[k].in(areas[k], ink));
            else EXPECT_TRUE(in[k].empty()) << cases[k].name << ": ink gone at paint " << n;
        }
    }
    for (size_t k = 0; k < std::size(cases); ++k) {
        SCOPED_TRACE(cases[k].name);
        ASSERT_GE(in[k].size(), 3u);
        EXPECT_LE(in[k].size(), 6u);  // nothing before the third paint
        EXPECT_GE(in[k][0], 1);
        EXPECT_LE(in[k][0], 6);
        for (size_t j = 1; j < in[k].size(); ++j) EXPECT_NEAR(in[k][j - 1] + 5, in[k][j], 1) << "step " << j;
    }
}

}  // namespace
