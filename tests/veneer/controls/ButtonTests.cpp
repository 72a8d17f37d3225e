// Buttons, options, check boxes, text links and group boxes, built from a
// skin layout into a real window and driven as a user would.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Button.h"
#include "ControlFactory.h"
#include "ControlsTestSupport.h"
#include "GroupBox.h"
#include "Label.h"
#include "TabTileLayout.h"
#include "Text.h"

using namespace Veneer;
using ctltest::Centre;
using Seen = std::vector<std::wstring>;

namespace {

class ButtonTest : public ::testing::Test, public ctltest::ControlsFixture {
protected:
    void SetUp() override { Build(L"controls/buttons.xml"); }
    void TearDown() override { TearDownHost(); }
    // Moves the mouse where no button lies.
    void MoveAway() { Message(WM_MOUSEMOVE, POINT{S(5), S(315)}); }
};

TEST_F(ButtonTest, FactoryKnowsTheLibrarysClasses) {
    struct Row {
        const wchar_t* className;
        const wchar_t* tag;
    } rows[] = {{L"CButtonUI", L"Button"},
                {L"CGroupBoxUI", L"GroupBox"},
                {L"CListUI", L"List"},
                {L"CListHeaderUI", L"ListHeader"},
                {L"CListHeaderItemUI", L"ListHeaderItem"},
                {L"CListLabelElementUI", L"ListLabelElement"},
                {L"CListTextElementUI", L"ListTextElement"},
                {L"CListContainerElementUI", L"ListContainerElement"},
                {L"coptionui", L"Option"},
                {L"CCHECKBOXUI", L"CheckBox"},
                {L"CTextUI", L"Text"}};
    for (const Row& row : rows) {
        std::unique_ptr<CControlUI> control(CControlFactory::GetInstance()->CreateControlByClass(row.className));
        ASSERT_NE(nullptr, control) << row.className;
        EXPECT_STREQ(row.tag, control->GetClassTag());
        EXPECT_NE(nullptr, control->FindInterface(row.tag)) << row.tag;
    }
    // The layout built each element into its class.
    EXPECT_STREQ(L"Button", Named<CControlUI>(L"strip")->GetClassTag());
    EXPECT_STREQ(L"Option", Named<CControlUI>(L"g1")->GetClassTag());
    EXPECT_STREQ(L"CheckBox", Named<CControlUI>(L"auto")->GetClassTag());
    EXPECT_STREQ(L"Text", Named<CControlUI>(L"links")->GetClassTag());
    EXPECT_STREQ(L"GroupBox", Named<CControlUI>(L"box")->GetClassTag());
    EXPECT_NE(nullptr, Named<CControlUI>(L"auto")->FindInterface(L"Option"));
}

TEST_F(ButtonTest, StripFramesFollowTheState) {
    CButtonUI* strip = Named<CButtonUI>(L"strip");
    const POINT centre = Centre(strip->GetPos());
    auto colour = [&](const char* name) { return Paint(name).At(centre.x, centre.y); };
    EXPECT_EQ(0xC81E1Eu, colour("strip-normal"));
    Message(WM_MOUSEMOVE, centre);
    EXPECT_EQ(0x1EA01Eu, colour("strip-hot"));
    Message(WM_LBUTTONDOWN, centre, MK_LBUTTON);
    EXPECT_EQ(0x1E1EC8u, colour("strip-pushed"));
    Message(WM_LBUTTONUP, centre);
    MoveAway();
    strip->SetEnabled(false);
    EXPECT_EQ(0x808000u, colour("strip-disabled"));
    EXPECT_EQ(0u, strip->GetButtonState() & (ButtonHot | ButtonPushed | ButtonCaptured));

    // Two frames of 100 in the 200-pixel picture.
    CButtonUI* half = Named<CButtonUI>(L"half");
    EXPECT_NE(-1, half->GetNormalImage().Find(L"source='0,0,100,40'")) << half->GetNormalImage().GetData();
    EXPECT_NE(-1, half->GetHotImage().Find(L"source='100,0,200,40'"));
    EXPECT_NE(-1, half->GetPushedImage().Find(L"source='100,0,200,40'"));
    EXPECT_TRUE(half->GetDisabledImage().IsEmpty());
    // A new state image empties the normal image; the next paint cuts again.
    half->SetAttribute(L"statecount", L"4");
    half->SetStateImage(L"render/states.png");
    EXPECT_TRUE(half->GetNormalImage().IsEmpty());
    Paint("strip-four");
    EXPECT_NE(-1, half->GetDisabledImage().Find(L"source='150,0,200,40'"));
}

TEST_F(ButtonTest, ClickNeedsTheReleaseInsideAndDoubleClickSendsBoth) {
    CButtonUI* plain = Named<CButtonUI>(L"plain");
    const RECT r = plain->GetPos();
    const POINT in = Centre(r);
    const POINT out = {r.right + S(10), in.y + S(40)};
    Message(WM_LBUTTONDOWN, in, MK_LBUTTON);
    EXPECT_TRUE(plain->GetButtonState() & ButtonPushed);
    Message(WM_MOUSEMOVE, out, MK_LBUTTON);
    EXPECT_FALSE(plain->GetButtonState() & ButtonPushed);
    Message(WM_LBUTTONUP, out);
    EXPECT_EQ(Seen{}, recorder.Seen());

    Message(WM_LBUTTONDOWN, in, MK_LBUTTON);
    Message(WM_MOUSEMOVE, out, MK_LBUTTON);
    Message(WM_MOUSEMOVE, in, MK_LBUTTON);
    EXPECT_TRUE(plain->GetButtonState() & ButtonPushed);
    Message(WM_LBUTTONUP, in);
    EXPECT_EQ(Seen{L"click:plain"}, recorder.Seen());
    EXPECT_EQ(0u, plain->GetButtonState() & (ButtonPushed | ButtonCaptured));

    recorder.Clear();
    Message(WM_LBUTTONDBLCLK, in, MK_LBUTTON);
    EXPECT_EQ(Seen{L"dbclick:plain"}, recorder.Seen());
    EXPECT_EQ(static_cast<UINT>(ButtonPushed | ButtonCaptured), plain->GetButtonState() & (ButtonPushed | ButtonCaptured));
    Message(WM_LBUTTONUP, in);
    EXPECT_EQ((Seen{L"dbclick:plain", L"click:plain"}), recorder.Seen());

    // Space on the button: "click" without the pushed look.
    recorder.Clear();
    Raise(plain, EventKeyDown, in, 0, VK_SPACE);
    EXPECT_EQ(Seen{L"click:plain"}, recorder.Seen());
    EXPECT_FALSE(plain->GetButtonState() & ButtonPushed);

    // The context menu is reported only with "menu" on.
    recorder.Clear();
    Raise(plain, EventContextMenu, in, 3);
    plain->SetAttribute(L"menu", L"true");
    Raise(plain, EventContextMenu, in, 3);
    EXPECT_EQ(Seen{L"menu:plain"}, recorder.Seen());
    EXPECT_EQ(std::vector<WPARAM>{3}, recorder.WParams(L"menu"));

    // Without mouse input the press goes to the parent.
    recorder.Clear();
    plain->SetMouseEnabled(false);
    Raise(plain, EventButtonDown, in);
    Raise(plain, EventButtonUp, in);
    EXPECT_FALSE(plain->GetButtonState() & ButtonPushed);
    EXPECT_EQ(Seen{}, recorder.Seen());
}

TEST_F(ButtonTest, BoundTabSwitchesOnlyATabLayout) {
    CTabLayoutUI* pages = Named<CTabLayoutUI>(L"pages");
    ASSERT_EQ(0, pages->GetCurSel());
    Click(Centre(Named<CControlUI>(L"tabber")->GetPos()));
    EXPECT_EQ(1, pages->GetCurSel());
    EXPECT_TRUE(Named<CControlUI>(L"page1")->IsVisible());
    EXPECT_EQ((Seen{L"click:tabber", L"tabselect:pages"}), recorder.Seen());

    // A label of that name is left alone.
    recorder.Clear();
    CLabelUI* label = Named<CLabelUI>(L"notatab");
    Click(Centre(Named<CControlUI>(L"labeller")->GetPos()));
    EXPECT_EQ(Seen{L"click:labeller"}, recorder.Seen());
    EXPECT_TRUE(label->IsVisible());
    EXPECT_STREQ(L"label", label->GetText().GetData());
}

TEST_F(ButtonTest, OptionGroupsTogglesAndAutoCheck) {
    COptionUI* g1 = Named<COptionUI>(L"g1");
    COptionUI* g2 = Named<COptionUI>(L"g2");
    COptionUI* g3 = Named<COptionUI>(L"g3");
    ASSERT_TRUE(g1->IsSelected());
    Click(Centre(g2->GetPos()));
    EXPECT_EQ((Seen{L"click:g2", L"selectchanged:g2"}), recorder.Seen());
    EXPECT_FALSE(g1->IsSelected());
    EXPECT_TRUE(g2->IsSelected());
    EXPECT_FALSE(g3->IsSelected());
    EXPECT_EQ(3, Manager().GetOptionGroup(L"trio")->GetSize());

    recorder.Clear();
    Click(Centre(g2->GetPos()));
    EXPECT_EQ(Seen{L"click:g2"}, recorder.Seen());
    EXPECT_TRUE(g2->IsSelected());

    // Ungrouped: every click toggles.
    COptionUI* solo = Named<COptionUI>(L"solo");
    for (bool expected : {true, false}) {
        recorder.Clear();
        Click(Centre(solo->GetPos()));
        EXPECT_EQ((Seen{L"click:solo", L"selectchanged:solo"}), recorder.Seen());
        EXPECT_EQ(expected, solo->IsSelected());
    }

    // Auto-check: the press toggles, "checkclick" follows, no "click", no pushed look.
    CCheckBoxUI* box = Named<CCheckBoxUI>(L"auto");
    for (WPARAM state : {1u, 0u}) {
        recorder.Clear();
        const POINT centre = Centre(box->GetPos());
        Message(WM_LBUTTONDOWN, centre, MK_LBUTTON);
        EXPECT_FALSE(box->GetButtonState() & ButtonPushed);
        Message(WM_LBUTTONUP, centre);
        EXPECT_EQ((Seen{L"selectchanged:auto", L"checkclick:auto"}), recorder.Seen());
        EXPECT_EQ(std::vector<WPARAM>{state}, recorder.WParams(L"selectchanged"));
    }
    // Without auto-check a check box is an option that reports its state.
    recorder.Clear();
    Click(Centre(Named<CControlUI>(L"manual")->GetPos()));
    EXPECT_EQ((Seen{L"click:manual", L"selectchanged:manual"}), recorder.Seen());
    EXPECT_EQ(std::vector<WPARAM>{1}, recorder.WParams(L"selectchanged"));

    // A group left: the option is out of the registry.
    g3->SetGroup(nullptr);
    EXPECT_EQ(2, Manager().GetOptionGroup(L"trio")->GetSize());
}

TEST_F(ButtonTest, SelectedOptionWithoutSelectedColourPaintsNoBackground) {
    COptionUI* painted = Named<COptionUI>(L"painted");
    const POINT centre = Centre(painted->GetPos());
    ASSERT_TRUE(painted->IsSelected());
    EXPECT_EQ(0xFFFFFFu, Paint("option-selected").At(centre.x, centre.y));
    painted->SetSelected(false);
    EXPECT_EQ(0xFF0000u, Paint("option-unselected").At(centre.x, centre.y));
    painted->SetAttribute(L"selectedbkcolor", L"#FF00FF00");
    painted->SetSelected(true);
    EXPECT_EQ(0x00FF00u, Paint("option-selected-colour").At(centre.x, centre.y));
}

TEST_F(ButtonTest, StateColoursAndSelectedFrames) {
    CButtonUI* plain = Named<CButtonUI>(L"plain");
    const POINT corner = {plain->GetPos().left + 2, plain->GetPos().top + 2};
    EXPECT_EQ(0xFFFFFFu, Paint("plain-normal").At(corner.x, corner.y));
    Message(WM_MOUSEMOVE, corner);
    EXPECT_EQ(0x00FFFFu, Paint("plain-hot").At(corner.x, corner.y));
    Message(WM_LBUTTONDOWN, corner, MK_LBUTTON);
    EXPECT_EQ(0x808080u, Paint("plain-pushed").At(corner.x, corner.y));
    Message(WM_LBUTTONUP, corner);
    MoveAway();

    // A selected option shows the frames of its selected strip: selected,
    // hot, pushed; once unselected it paints as a button without pictures.
    COptionUI* option = Named<COptionUI>(L"stripped");
    const POINT centre = Centre(option->GetPos());
    EXPECT_EQ(0xC81E1Eu, Paint("selected-normal").At(centre.x, centre.y));
    EXPECT_NE(-1, option->GetSelectedImage().Find(L"source='0,0,50,40'"));
    Message(WM_MOUSEMOVE, centre);
    EXPECT_EQ(0x1EA01Eu, Paint("selected-hot").At(centre.x, centre.y));
    Message(WM_LBUTTONDOWN, centre, MK_LBUTTON);
    EXPECT_EQ(0x1E1EC8u, Paint("selected-pushed").At(centre.x, centre.y));
    Message(WM_LBUTTONUP, centre);
    EXPECT_FALSE(option->IsSelected());
    MoveAway();
    EXPECT_EQ(0xFFFFFFu, Paint("unselected").At(centre.x, centre.y));
}

TEST_F(ButtonTest, TextLinksAreHitWhereTheyAreDrawn) {
    CTextUI* text = Named<CTextUI>(L"links");
    Paint("text-links");
    ASSERT_EQ(2, text->GetLinkCount());
    HFONT font = Manager().GetFontHandle(-1);
    const RECT first = text->GetLinkRect(0);
    const RECT second = text->GetLinkRect(1);
    EXPECT_EQ(ctltest::TextExtent(font, L"alpha").cx, first.right - first.left);
    EXPECT_EQ(ctltest::TextExtent(font, L"beta").cx, second.right - second.left);
    EXPECT_EQ(text->GetPos().left + 2, first.left);
    EXPECT_NEAR(first.left + ctltest::TextExtent(font, L"alpha and ").cx, second.left, 1);
    EXPECT_STREQ(L"one", text->GetLinkText(0).GetData());

    Click(Centre(second));
    Click(Centre(first));
    Click(POINT{(first.right + second.left) / 2, Centre(first).y});
    EXPECT_EQ((Seen{L"link:links", L"link:links"}), recorder.Seen());
    EXPECT_EQ((std::vector<WPARAM>{1, 0}), recorder.WParams(L"link"));

    Raise(text, EventSetCursor, Centre(first));
    EXPECT_EQ(LoadCursorW(nullptr, IDC_HAND), GetCursor());
    Raise(text, EventSetCursor, POINT{(first.right + second.left) / 2, Centre(first).y});
    EXPECT_NE(LoadCursorW(nullptr, IDC_HAND), GetCursor());

    // Plain text has no links any more.
    recorder.Clear();
    text->SetAttribute(L"showhtml", L"false");
    Paint("text-plain");
    EXPECT_EQ(8, text->GetLinkCount());
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(IsRectEmpty(&text->GetLinkRect(i))) << i;
    Click(Centre(first));
    EXPECT_EQ(0, recorder.Count(L"link"));
}

TEST_F(ButtonTest, TextMeasuresItsWidth) {
    CTextUI* text = Named<CTextUI>(L"links");
    text->SetAttribute(L"showhtml", L"false");
    text->SetText(L"measured");
    text->SetAttribute(L"autocalcwidth", L"true");
    const SIZE size = text->MeasureSize(SIZE{400, 100});
    const int width = ctltest::TextExtent(Manager().GetFontHandle(-1), L"measured").cx + S(2) + S(2);
    EXPECT_NEAR(MulDiv(width, 100, scale), text->GetFixedWidth() * 100 / scale, 1);
    EXPECT_NEAR(width, size.cx, 2);
}

TEST_F(ButtonTest, GroupBoxFrameAndCaption) {
    const uitest::Capture capture = Paint("group-box");
    CGroupBoxUI* box = Named<CGroupBoxUI>(L"box");
    const RECT r = box->GetPos();
    const int mid = (r.top + r.bottom) / 2;
    EXPECT_EQ(0x0000FFu, capture.At(r.left + 5, mid));
    EXPECT_EQ(0xFFFF00u, capture.At(r.left + 4, mid));   // the box's own background
    EXPECT_EQ(0x0000FFu, capture.At(r.right - 6, mid));
    EXPECT_EQ(0x0000FFu, capture.At(r.left + 10, r.bottom - 6));
    const SIZE caption = box->MeasureCaption();
    ASSERT_GT(caption.cx, 0);
    const RECT captionBox = {r.left + 20, r.top, r.left + 20 + caption.cx, r.top + caption.cy};
    // The frame's top line stops at the caption box and goes on after it.
    EXPECT_EQ(0x0000FFu, capture.At(captionBox.left - 2, r.top + 5));
    EXPECT_EQ(0x0000FFu, capture.At(captionBox.right + 1, r.top + 5));
    EXPECT_NE(0x0000FFu, capture.At(captionBox.left + 1, r.top + 5));
    int ink = 0, frame = 0;
    for (int y = captionBox.top; y < captionBox.bottom; ++y) {
        for (int x = captionBox.left; x < captionBox.right; ++x) {
            const DWORD p = capture.At(x, y);
            if (p == 0x0000FFu) ++frame;
            if (p != 0xFFFF00u && (p & 0xFF) < 0x80) ++ink;
        }
    }
    EXPECT_GT(ink, 10);
    EXPECT_EQ(0, frame);
    EXPECT_EQ(0xFFFF00u, capture.At(captionBox.left, captionBox.bottom - 1));

    // Without text: the frame alone, unbroken.
    const RECT bare = Named<CControlUI>(L"bare")->GetPos();
    for (int x = bare.left + 5; x < bare.right - 5; ++x) ASSERT_EQ(0x0000FFu, capture.At(x, bare.top + 5)) << x;
    EXPECT_EQ(0xFFFFFFu, capture.At(bare.left + 25, bare.top + 2));
}

TEST_F(ButtonTest, RealClicksReachEachClass) {
    EXPECT_TRUE(DesktopClick(Centre(Named<CControlUI>(L"plain")->GetPos()), L"click"));
    EXPECT_TRUE(DesktopClick(Centre(Named<CControlUI>(L"solo")->GetPos()), L"selectchanged"));
    EXPECT_TRUE(DesktopClick(Centre(Named<CControlUI>(L"auto")->GetPos()), L"checkclick"));
    Paint("real-clicks");
    EXPECT_TRUE(DesktopClick(Centre(Named<CTextUI>(L"links")->GetLinkRect(1)), L"link"));
    EXPECT_EQ(std::vector<WPARAM>{1}, recorder.WParams(L"link"));
}

}  // namespace
