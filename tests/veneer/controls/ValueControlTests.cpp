// The progress bar, the slider, the rotate button and the colour palette in
// a real window: fills and thumbs as painted, values from mouse input, and
// the palette's pixels against Python's colorsys.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ControlFactory.h"
#include "ControlsTestSupport.h"
#include "Progress.h"
#include "SkinTestSupport.h"
#include "SmallControls.h"

using namespace Veneer;

namespace {

class ValueTest : public ::testing::Test, public ctltest::ControlsFixture {
protected:
    void SetUp() override {
        panel = new uitest::TestPanel;
        panel->SetAttribute(L"bkcolor", L"#FFFFFFFF");
        Host(S(450), S(450), panel);
    }
    void TearDown() override { TearDownHost(); }
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
    uitest::TestPanel* panel = nullptr;
};

bool Near(DWORD a, DWORD b, int tolerance = 2) { return uitest::ChannelDistance(a, b) <= tolerance; }

TEST_F(ValueTest, FactoryMakesEachClassWithItsTag) {
    const struct {
        const wchar_t* className;
        const wchar_t* tag;
    } rows[] = {{L"CProgressUI", L"Progress"},       {L"CSliderUI", L"Slider"},
                {L"CRotateButtonUI", L"RotateButton"}, {L"CRingUI", L"Ring"},
                {L"CRollTextUI", L"RollText"},       {L"CColorPaletteUI", L"ColorPalette"},
                {L"CAnimationTabLayoutUI", L"AnimationTabLayout"},
                {L"CAnimationContainerUI", L"AnimationContainer"},
                {L"CFadeButtonUI", L"FadeButton"}};
    for (const auto& row : rows) {
        std::unique_ptr<CControlUI> control(CControlFactory::GetInstance()->CreateControlByClass(row.className));
        ASSERT_NE(nullptr, control) << row.className;
        EXPECT_STREQ(row.tag, control->GetClassTag());
        EXPECT_NE(nullptr, control->FindInterface(row.tag)) << row.className;
    }
    std::unique_ptr<CControlUI> slider(new CSliderUI);
    EXPECT_NE(nullptr, slider->FindInterface(L"Progress"));
    EXPECT_NE(nullptr, slider->FindInterface(L"Label"));
}

// ------------------------------------------------------------ progress bar

TEST_F(ValueTest, ColourFillCoversTheValuesShare) {
    auto* hor = Add<CProgressUI>(L"hor", R(10, 10, 200, 12), L"forecolor=\"#FF0000FF\" value=\"25\"");
    auto* ver = Add<CProgressUI>(L"ver", R(250, 10, 20, 100), L"forecolor=\"#FF0000FF\" hor=\"false\" value=\"30\"");
    auto* full = Add<CProgressUI>(L"full", R(10, 150, 200, 12),
                                  L"forecolor=\"#FF0000FF\" min=\"-2147483648\" max=\"2147483647\"");
    full->SetValue(0);
    const uitest::Capture c = Paint("progress_fill");
    const RECT h = hor->GetPos(), v = ver->GetPos(), f = full->GetPos();
    const int filled = S(200) / 4;   // 25 of 0..100
    EXPECT_EQ(0x0000FFu, c.At(h.left, h.top + 5));
    EXPECT_EQ(0x0000FFu, c.At(h.left + filled - 1, h.top + 5));
    EXPECT_EQ(0xFFFFFFu, c.At(h.left + filled, h.top + 5));
    const int top = v.top + (v.bottom - v.top) * 70 / 100;   // 30 of 100 from the bottom
    EXPECT_EQ(0xFFFFFFu, c.At(v.left + 5, top - 1));
    EXPECT_EQ(0x0000FFu, c.At(v.left + 5, top));
    EXPECT_EQ(0x0000FFu, c.At(v.left + 5, v.bottom - 1));
    // The whole 32-bit range: half the width, not an overflowed product.
    int edge = f.left;
    while (edge < f.right && c.At(edge, f.top + 5) == 0x0000FFu) ++edge;
    EXPECT_NEAR(S(100), edge - f.left, 1);
}

TEST_F(ValueTest, RangeIsMadeSoundAtPaint) {
    auto* equal = Add<CProgressUI>(L"equal", R(10, 10, 100, 12), L"min=\"10\" max=\"10\"");
    auto* top = Add<CProgressUI>(L"top", R(10, 30, 100, 12), L"forecolor=\"#FF0000FF\"");
    top->SetMinValue(INT_MAX);
    top->SetMaxValue(INT_MAX);
    EXPECT_EQ(10, equal->GetMaxValue());
    Paint("progress_range");
    EXPECT_EQ(11, equal->GetMaxValue());
    EXPECT_EQ(10, equal->GetValue());
    // INT_MAX + 1 cannot be stored: the range counts as 1 and the maximum stays.
    EXPECT_EQ(INT_MAX, top->GetMaxValue());
    EXPECT_EQ(INT_MAX, top->GetValue());

    auto* p = Add<CProgressUI>(L"p", R(10, 50, 100, 12), L"value=\"40\"");
    p->SetShowValueText(true);
    for (int outside : {-1, 101}) {
        p->SetValue(outside);
        EXPECT_EQ(40, p->GetValue()) << outside;
    }
    p->SetValue(75);
    EXPECT_EQ(L"75%", std::wstring(p->GetText().GetData()));
}

TEST_F(ValueTest, ForegroundImageIsCutOrStretched) {
    // Image column i has red 2i.
    auto* cut = Add<CProgressUI>(L"cut", R(10, 10, 200, 12),
                                 L"foreimage=\"values/columns.png\" isstretchfore=\"false\" value=\"25\"");
    auto* stretched = Add<CProgressUI>(L"stretched", R(10, 40, 200, 12),
                                       L"foreimage=\"values/columns.png\" value=\"25\"");
    const uitest::Capture c = Paint("progress_foreimage");
    const RECT a = cut->GetPos(), b = stretched->GetPos();
    const int filled = S(50);
    auto column = [&](int x, int y) { return static_cast<int>((c.At(x, y) >> 16) & 0xFF) / 2; };
    EXPECT_EQ(0xFFFFFFu, c.At(a.left + filled, a.top + 5));
    EXPECT_EQ(0xFFFFFFu, c.At(b.left + filled, b.top + 5));
    EXPECT_NEAR(0, column(a.left, a.top + 5), 1);
    // Unstretched, image columns 0-49 show in the filled part (at 1:1 in
    // unscaled units); stretched, the whole image does.
    EXPECT_NEAR(49, column(a.left + filled - 1, a.top + 5), 1);
    EXPECT_NEAR(99, column(b.left + filled - 1, b.top + 5), 2);
}

// ------------------------------------------------------------------ slider

TEST_F(ValueTest, ThumbRectAndValueAtPointTables) {
    if (scale != 100) GTEST_SKIP() << "hand-worked at 96 DPI";
    auto* hor = Add<CSliderUI>(L"hor", RECT{10, 10, 210, 30}, L"thumbsize=\"10,10\"");
    auto* ver = Add<CSliderUI>(L"ver", RECT{300, 10, 320, 110}, L"hor=\"false\" thumbsize=\"10,20\"");
    const struct {
        CSliderUI* slider;
        int value;
        RECT thumb;
    } rects[] = {
        {hor, 0, {10, 15, 20, 25}},    {hor, 50, {105, 15, 115, 25}},   {hor, 100, {200, 15, 210, 25}},
        {ver, 0, {305, 90, 315, 110}}, {ver, 50, {305, 50, 315, 70}},   {ver, 100, {305, 10, 315, 30}},
    };
    for (const auto& row : rects) {
        row.slider->SetValue(row.value);
        const RECT r = row.slider->GetThumbRect();
        EXPECT_TRUE(EqualRect(&r, &row.thumb)) << row.value << ": " << r.left << "," << r.top << "," << r.right
                                               << "," << r.bottom;
    }
    const struct {
        CSliderUI* slider;
        POINT point;
        int value;
    } points[] = {
        {hor, {14, 20}, 0},    {hor, {15, 20}, 0},    {hor, {16, 20}, 0},   {hor, {25, 20}, 5},
        {hor, {110, 20}, 50},  {hor, {204, 20}, 99},  {hor, {205, 20}, 100}, {hor, {300, 20}, 100},
        {ver, {310, 100}, 0},  {ver, {310, 60}, 50},  {ver, {310, 20}, 100}, {ver, {310, 0}, 100},
        {ver, {310, 80}, 25},
    };
    for (const auto& row : points) {
        EXPECT_EQ(row.value, row.slider->ValueAtPoint(row.point)) << row.point.x << "," << row.point.y;
    }
}

TEST_F(ValueTest, SliderInputSetsAndNotifies) {
    auto* s = Add<CSliderUI>(L"s", R(10, 10, 200, 20));
    const RECT item = s->GetPos();
    auto at = [&](int value) {
        const int w = S(10);
        const int track = item.right - item.left - w;
        return POINT{item.left + w / 2 + (track * value + 99) / 100, (item.top + item.bottom) / 2};
    };
    // A press moves the thumb silently; the release sends one notification.
    Raise(s, EventButtonDown, at(40));
    EXPECT_EQ(40, s->GetValue());
    EXPECT_EQ(0, recorder.Count(L"valuechanged"));
    s->SetValue(10);   // ignored while the user drags
    EXPECT_EQ(40, s->GetValue());
    Raise(s, EventMouseMove, at(60));
    EXPECT_EQ(60, s->GetValue());
    EXPECT_EQ(0, recorder.Count(L"movevaluechanged"));
    Raise(s, EventButtonUp, at(70));
    EXPECT_EQ(70, s->GetValue());
    EXPECT_EQ(1, recorder.Count(L"valuechanged"));

    s->SetAttribute(L"sendmove", L"true");
    Raise(s, EventButtonDown, at(20));
    Raise(s, EventMouseMove, at(30));
    Raise(s, EventMouseMove, at(35));
    EXPECT_EQ(2, recorder.Count(L"movevaluechanged"));
    Raise(s, EventButtonUp, at(35));

    // The right button's release sets too.
    Raise(s, EventRightButtonUp, at(90));
    EXPECT_EQ(90, s->GetValue());
    EXPECT_EQ(3, recorder.Count(L"valuechanged"));

    // Wheel steps at the maximum: notified, unchanged.
    s->SetValue(100);
    Raise(s, EventScrollWheel, at(50), 0);
    EXPECT_EQ(100, s->GetValue());
    EXPECT_EQ(4, recorder.Count(L"valuechanged"));
    Raise(s, EventScrollWheel, at(50), 1);
    EXPECT_EQ(99, s->GetValue());
    EXPECT_EQ(5, recorder.Count(L"valuechanged"));

    s->SetEnabled(false);
    Raise(s, EventButtonDown, at(10));
    EXPECT_EQ(99, s->GetValue());
}

TEST_F(ValueTest, ThumbImageFollowsTheState) {
    auto* s = Add<CSliderUI>(L"s", R(10, 10, 200, 20),
                             L"thumbimage=\"values/thumb.png\" thumbhotimage=\"values/thumbhot.png\" "
                             L"thumbpushedimage=\"values/thumbpushed.png\" value=\"50\"");
    const POINT centre = ctltest::Centre(s->GetThumbRect());
    EXPECT_TRUE(Near(0xC02020, Paint("thumb_normal").At(centre.x, centre.y)));
    Raise(s, EventMouseMove, centre);
    EXPECT_TRUE(Near(0x20C020, Paint("thumb_hot").At(centre.x, centre.y)));
    Raise(s, EventButtonDown, centre);
    EXPECT_TRUE(Near(0x2020C0, Paint("thumb_pushed").At(centre.x, centre.y)));
    Raise(s, EventButtonUp, centre);
}

TEST_F(ValueTest, PressOnTheThumbCentreKeepsTheValue) {
    // At 144 DPI the thumb is placed 15 wide: the value under its centre
    // must be read with that width (read with 10, 60 and 80 would drop by 1).
    auto* s = Add<CSliderUI>(L"s", RECT{10, 10, 310, 40});
    for (int value : {20, 60, 80}) {
        s->SetValue(value);
        const POINT centre = ctltest::Centre(s->GetThumbRect());
        Raise(s, EventButtonDown, centre);
        Raise(s, EventButtonUp, centre);
        EXPECT_EQ(value, s->GetValue()) << value;
    }
}

// ------------------------------------------------------------ rotate button

TEST_F(ValueTest, RotateFollowsTheMove) {
    auto* knob = Add<CRotateButtonUI>(L"knob", RECT{100, 100, 200, 200}, L"radius=\"50\" centerpoint=\"150,150\"");
    const struct {
        POINT last;
        POINT to;
        float angle;
    } rows[] = {
        {{150, 150}, {160, 160}, 45.0f},    // inside: integer slope 1
        {{150, 150}, {160, 155}, 0.0f},     // inside: integer slope 0 (0.5 truncated)
        {{150, 150}, {150, 170}, 90.0f},    // inside, straight down
        {{150, 150}, {150, 130}, -90.0f},   // inside, straight up
        {{150, 150}, {150, 150}, 0.0f},     // no move
        {{150, 150}, {250, 150}, 0.0f},     // outside: onto the circle at (200, 150)
        {{150, 100}, {150, 300}, 90.0f},    // outside, onto (150, 200): no x difference
    };
    for (const auto& row : rows) {
        knob->SetLastPoint(row.last);
        knob->RotateTo(row.to);
        EXPECT_NEAR(row.angle, knob->GetAngle(), 0.01) << row.to.x << "," << row.to.y;
    }
    // A radius of 0 puts every point outside; the centre itself has no
    // direction and is not projected.
    knob->SetAttribute(L"radius", L"0");
    knob->SetLastPoint(POINT{140, 150});
    knob->RotateTo(POINT{150, 150});
    EXPECT_NEAR(0.0f, knob->GetAngle(), 0.01);
    EXPECT_EQ(150, knob->GetLastPoint().x);

    // Pressed inside, released inside: one click.
    Raise(knob, EventButtonDown, POINT{150, 150});
    Raise(knob, EventMouseMove, POINT{170, 170});
    Raise(knob, EventButtonUp, POINT{170, 170});
    Raise(knob, EventButtonDown, POINT{150, 150});
    Raise(knob, EventButtonUp, POINT{300, 300});
    EXPECT_EQ(1, recorder.Count(L"click"));
}

// ---------------------------------------------------------- colour palette

struct PaletteReference {
    std::vector<std::vector<int>> field, bar, colours;
};

PaletteReference ReadReference() {
    const std::vector<BYTE> text = skintest::ReadHostFile(skintest::SkinBuildDir() + L"palette-reference.txt");
    std::istringstream in(std::string(text.begin(), text.end()));
    PaletteReference ref;
    std::string kind;
    while (in >> kind) {
        std::vector<int> row(kind == "colour" ? 6 : (kind == "field" ? 5 : 4));
        for (int& v : row) in >> v;
        (kind == "field" ? ref.field : kind == "bar" ? ref.bar : ref.colours).push_back(row);
    }
    return ref;
}

DWORD Rgb(const std::vector<int>& row, size_t at) {
    return (static_cast<DWORD>(row[at]) << 16) | (static_cast<DWORD>(row[at + 1]) << 8) | row[at + 2];
}

TEST_F(ValueTest, PalettePixelsMatchColorsys) {
    const PaletteReference ref = ReadReference();
    ASSERT_FALSE(ref.field.empty());
    ASSERT_FALSE(ref.bar.empty());
    // Field at 1:1: 360 wide, 200 high; the bar below it, 200 wide.
    auto* field = Add<CColorPaletteUI>(L"field", RECT{10, 10, 370, 220}, L"barheight=\"10\"");
    Add<CColorPaletteUI>(L"bar", RECT{10, 230, 210, 440}, L"barheight=\"10\"");
    const uitest::Capture c = Paint("palette");
    int checked = 0;
    for (const auto& row : ref.field) {   // x y r g b, saturation 200
        const DWORD got = c.At(10 + row[0], 10 + row[1]);
        EXPECT_TRUE(Near(got, Rgb(row, 2))) << "field " << row[0] << "," << row[1] << " " << std::hex << got;
        ++checked;
    }
    for (const auto& row : ref.bar) {   // j r g b, hue 180, lightness 100
        const DWORD got = c.At(10 + row[0], 440 - 5);
        EXPECT_TRUE(Near(got, Rgb(row, 1))) << "bar " << row[0] << " " << std::hex << got;
    }
    EXPECT_GT(checked, 100);
}

TEST_F(ValueTest, PaletteInputReportsTheColour) {
    const PaletteReference ref = ReadReference();
    auto* p = Add<CColorPaletteUI>(L"p", RECT{10, 10, 370, 230}, L"barheight=\"200\"");
    EXPECT_EQ(150, p->GetBarHeight());
    // Release without a drag: the colour as it stands.
    Raise(p, EventButtonUp, POINT{5, 5});
    // A press in the field at hue 90, lightness 150, then the bar at saturation 100.
    Raise(p, EventButtonDown, POINT{10 + 90, 10 + 50});
    Raise(p, EventButtonUp, POINT{10 + 90, 10 + 50});
    Raise(p, EventButtonDown, POINT{10 + 180, 229});
    Raise(p, EventButtonUp, POINT{10 + 180, 229});
    const std::vector<WPARAM> seen = recorder.WParams(L"colorchanged");
    ASSERT_EQ(3u, seen.size());
    ASSERT_GE(ref.colours.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {   // h s l r g b
        EXPECT_EQ(0xFF000000u, seen[i] & 0xFF000000u);
        EXPECT_TRUE(Near(static_cast<DWORD>(seen[i]) & 0xFFFFFF, Rgb(ref.colours[i], 3), 1))
            << i << " " << std::hex << seen[i];
    }
    // A drag past the field's right edge keeps the hue at 360.
    Raise(p, EventButtonDown, POINT{300, 50});
    Raise(p, EventMouseMove, POINT{375, 50});
    EXPECT_EQ(360, p->GetHue());
    Raise(p, EventButtonUp, POINT{375, 50});
    // Without a width nothing is picked (and nothing divides by it).
    p->SetPos(RECT{10, 10, 10, 230});
    const int hue = p->GetHue();
    Raise(p, EventButtonDown, POINT{10, 20});
    Raise(p, EventMouseMove, POINT{12, 20});
    EXPECT_EQ(hue, p->GetHue());
}

}  // namespace
