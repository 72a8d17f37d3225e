// The skin renderer against the system's own GDI: nine-grid images, fills,
// gradients, colour arithmetic, plain and marked-up text and primitives.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "PaintManager.h"
#include "SkinRenderer.h"
#include "SkinTestSupport.h"
#include "support/UITestHost.h"

using namespace Veneer;
using uitest::Capture;
using uitest::ChannelDistance;
using uitest::Surface;

namespace {

// The renderer's software blend and banded gradient (test builds only).
bool SoftwareOnly(bool on) {
#ifdef VENEER_TEST_HOOKS
    CSkinRenderer::SetSoftwareOnly(on);
    return true;
#else
    return !on;
#endif
}

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        skintest::UseFolder(skintest::SkinFolder());
        host.reset(new uitest::HostWindow(200, 100, false));
        scale = Manager().GetDpiScaler()->GetScale();
    }
    void TearDown() override {
        SoftwareOnly(false);
        host.reset();
    }
    CPaintManagerUI& Manager() { return host->Manager(); }
    // Draws an image attribute string into the item rectangle of a surface.
    void DrawSpec(Surface& surface, const wchar_t* image, const RECT& item) {
        ImageDrawSpec* spec = Manager().GetImageDrawSpec(image);
        ASSERT_NE(spec, nullptr);
        RECT paint = {0, 0, surface.Width(), surface.Height()};
        ASSERT_TRUE(CSkinRenderer::DrawImageSpec(spec, item, surface.DC(), &Manager(), paint));
    }

    std::unique_ptr<uitest::HostWindow> host;
    int scale = 100;
};

TEST_F(RenderTest, NineGridKeepsCornersAndFillsCells) {
    Surface surface(100, 60);
    DrawSpec(surface, L"file='render/grid.png' corner='4,4,4,4'", RECT{0, 0, 100, 60});
    uitest::SavePng(surface.Grab(), "nine-grid");
    const int d = MulDiv(4, scale, 100);
    // Cell interiors, away from the cell edges.
    struct Probe {
        int x, y;
        DWORD rgb;
    } probes[] = {
        {0, 0, 0xFF0000},         {d - 1, d - 1, 0xFF0000}, {50, 0, 0x00FF00},      {99, 0, 0x0000FF},
        {0, 30, 0xFFFF00},        {50, 30, 0xFF00FF},       {99, 30, 0x00FFFF},     {0, 59, 0x800000},
        {50, 59, 0x008000},       {99, 59, 0x000080},       {d + 1, d + 1, 0xFF00FF}, {99 - d, 59 - d, 0xFF00FF},
    };
    for (const Probe& p : probes) {
        EXPECT_EQ(surface.At(p.x, p.y), p.rgb) << p.x << "," << p.y;
    }
    // The borders are d pixels wide (one pixel of blending at a cell edge).
    EXPECT_EQ(surface.At(d - 2 < 0 ? 0 : d - 2, 30), 0xFFFF00u);
    EXPECT_LE(ChannelDistance(surface.At(d + 1, 30), 0xFF00FF), 0x80);
    if (scale == 100) {
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) EXPECT_EQ(surface.At(x, y), 0xFF0000u);
    }
}

TEST_F(RenderTest, OpaqueImageOfItsOwnSizeIsCopied) {
    LoadedImage* image = Manager().GetOrLoadImage(L"render/opaque.png");
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->width, 30);
    Surface surface(40, 40);
    const RECT source = {0, 0, 30, 30}, dest = {5, 5, 35, 35}, paint = {0, 0, 40, 40}, none = {};
    ASSERT_TRUE(CSkinRenderer::DrawImage(source, surface.DC(), image->bitmap, dest, paint, none, false, 255, false,
                                         false, false, scale));
    DIBSECTION dib = {};
    GetObjectW(image->bitmap, sizeof(dib), &dib);
    const DWORD* bits = static_cast<const DWORD*>(dib.dsBm.bmBits);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) ASSERT_EQ(surface.At(x + 5, y + 5), bits[y * 30 + x] & 0xFFFFFF) << x << "," << y;
    uitest::SavePng(surface.Grab(), "opaque-copy");
}

TEST_F(RenderTest, HoleAndTiling) {
    Surface holed(100, 60);
    DrawSpec(holed, L"file='render/grid.png' corner='4,4,4,4' hole='true'", RECT{0, 0, 100, 60});
    EXPECT_EQ(holed.At(50, 30), 0xFFFFFFu);
    EXPECT_EQ(holed.At(0, 0), 0xFF0000u);
    uitest::SavePng(holed.Grab(), "hole");

    // Column c of the tile has the colour (20c, 100, 200 - 10c).
    auto column = [](int c) { return static_cast<DWORD>((20 * c) << 16 | 100 << 8 | (200 - 10 * c)); };
    LoadedImage* tile = Manager().GetOrLoadImage(L"render/tile.png");
    ASSERT_NE(tile, nullptr);
    const RECT source = {0, 0, 10, 4}, none = {};
    struct Case {
        bool xtiled, ytiled;
        RECT dest;
        const char* name;
    } cases[] = {
        {true, false, {0, 0, 25, 4}, "xtiled"},
        {false, true, {0, 0, 10, 10}, "ytiled"},
        {true, true, {0, 0, 25, 10}, "both"},
    };
    for (const Case& c : cases) {
        Surface surface(30, 12);
        const RECT paint = {0, 0, 30, 12};
        CSkinRenderer::DrawImage(source, surface.DC(), tile->bitmap, c.dest, paint, none, false, 255, false, c.xtiled,
                                 c.ytiled, 100);
        uitest::SavePng(surface.Grab(), std::string("tile-") + c.name);
        for (int y = c.dest.top; y < c.dest.bottom; ++y)
            for (int x = c.dest.left; x < c.dest.right; ++x)
                ASSERT_EQ(surface.At(x, y), column(x % 10)) << c.name << " " << x << "," << y;
        EXPECT_EQ(surface.At(c.dest.right, 0), 0xFFFFFFu) << c.name;
    }
}

TEST_F(RenderTest, FadeAndAlphaBlendPremultiplied) {
    LoadedImage* image = Manager().GetOrLoadImage(L"render/alpha.png");
    ASSERT_NE(image, nullptr);
    ASSERT_TRUE(image->hasAlpha);
    const int a = 128;
    const int S[3] = {200 * a / 255, 100 * a / 255, 50 * a / 255};
    for (bool software : {false, true}) {
        if (!SoftwareOnly(software)) continue;
        for (int fade : {255, 128}) {
            for (DWORD background : {0xFFFFFFu, 0x000000u, 0x4080C0u}) {
                Surface surface(8, 8, background);
                const RECT source = {0, 0, 4, 4}, dest = {2, 2, 6, 6}, paint = {0, 0, 8, 8}, none = {};
                CSkinRenderer::DrawImage(source, surface.DC(), image->bitmap, dest, paint, none, true,
                                         static_cast<BYTE>(fade), false, false, false, 100);
                const DWORD got = surface.At(3, 3);
                for (int ch = 0; ch < 3; ++ch) {
                    const int D = (background >> (16 - 8 * ch)) & 0xFF;
                    const int expected = S[ch] * fade / 255 + D * (255 - a * fade / 255) / 255;
                    const int value = (got >> (16 - 8 * ch)) & 0xFF;
                    // Wine's AlphaBlend rounds its two products on its own: 2 there.
                    EXPECT_NEAR(value, expected, software ? 1 : 2) << "software " << software << " fade " << fade << " channel " << ch;
                }
                EXPECT_EQ(surface.At(0, 0), background);
            }
        }
    }
}

TEST_F(RenderTest, FillColor) {
    struct Case {
        DWORD color, background, expected;
    } cases[] = {
        {0x00FF0000, 0xFFFFFF, 0xFFFFFF},   // alpha 0 draws nothing
        {0xFF123456, 0xFFFFFF, 0x123456},
        {0x80800000, 0xFFFFFF, 0xFF7F7F},
        {0x80FFFFFF, 0x000000, 0x808080},
        {0x80FFFFFF, 0xFFFFFF, 0xFFFFFF},   // channels above the alpha never wrap
        {0x40FF8000, 0x000000, 0x404000},
    };
    for (bool software : {false, true}) {
        if (!SoftwareOnly(software)) continue;
        for (const Case& c : cases) {
            Surface surface(10, 10, c.background);
            CSkinRenderer::FillColor(surface.DC(), RECT{2, 2, 8, 8}, c.color);
            EXPECT_LE(ChannelDistance(surface.At(4, 4), c.expected), 1)
                << std::hex << c.color << " over " << c.background << " gave " << surface.At(4, 4) << " software "
                << software;
            EXPECT_EQ(surface.At(1, 1), c.background);
            EXPECT_EQ(surface.At(8, 8), c.background);
        }
    }
}

TEST_F(RenderTest, GradientsAndBands) {
    Surface linear(256, 20);
    CSkinRenderer::DrawGradient(linear.DC(), RECT{0, 0, 256, 10}, 0xFF000000, 0xFFFFFFFF, false, 16);
    CSkinRenderer::DrawGradient(linear.DC(), RECT{0, 10, 256, 20}, 0xFF0000FF, 0x000000FF, false, 16);
    uitest::SavePng(linear.Grab(), "gradients");
    for (int x = 0; x < 256; x += 15) {
        EXPECT_LE(ChannelDistance(linear.At(x, 5), x * 0x010101), 2) << x;
        // Equal colours at constant alpha 127 over white.
        EXPECT_LE(ChannelDistance(linear.At(x, 15), 0x8080FF), 2) << x << " " << std::hex << linear.At(x, 15);
    }

    if (!SoftwareOnly(true)) return;
    Surface banded(80, 50);
    CSkinRenderer::DrawGradient(banded.DC(), RECT{0, 0, 80, 10}, 0xFF000000, 0xFFFFFFFF, false, 8);
    CSkinRenderer::DrawGradient(banded.DC(), RECT{0, 10, 80, 42}, 0xFF000000, 0xFF0000FF, true, 16);
    uitest::SavePng(banded.Grab(), "bands");
    for (int i = 0; i < 8; ++i) {
        const int value = 255 * (8 - i) / 8;   // band i counted from the right edge
        for (int x = 80 - (i + 1) * 10; x < 80 - i * 10; ++x) ASSERT_EQ(banded.At(x, 5), value * 0x010101u) << x;
    }
    for (int i = 0; i < 16; ++i) {
        const int y = 10 + 32 - i * 32 / 16 - 1;
        EXPECT_EQ(banded.At(0, y), static_cast<DWORD>(255 * (16 - i) / 16)) << i;
    }
}

TEST_F(RenderTest, HslArithmetic) {
    for (DWORD c = 0; c < 0x1000000; ++c) {
        if (CSkinRenderer::ShiftColorHsl(c | 0x80000000, 180, 100, 100) != (c | 0x80000000)) {
            FAIL() << std::hex << c;
        }
    }
    for (int r = 0; r < 256; r += 7)
        for (int g = 0; g < 256; g += 11)
            for (int b = 0; b < 256; b += 13) {
                const DWORD color = 0xFF000000 | r | g << 8 | b << 16;
                float h, s, l;
                CSkinRenderer::RgbToHsl(color, &h, &s, &l);
                ASSERT_GE(h, 0.0f);
                ASSERT_LT(h, 360.0f);
                DWORD back = 0xFF000000;
                CSkinRenderer::HslToRgb(&back, h, s, l);
                ASSERT_LE(ChannelDistance(back, color), 1) << r << "," << g << "," << b;
                ASSERT_EQ(back >> 24, 0xFFu);
            }
    // A hue shift of 120 degrees turns red into green (byte 0 is red here).
    EXPECT_LE(ChannelDistance(CSkinRenderer::ShiftColorHsl(0xFF0000FF, 300, 100, 100), 0xFF00FF00), 1);
}

// ------------------------------------------------------------------ text

class TextTest : public RenderTest {
protected:
    HFONT BaseFont() { return Manager().GetFontHandle(-1); }
    // What GDI draws with TextOutW in a font at a point.
    void Reference(Surface& surface, HFONT font, int x, int y, const wchar_t* text, DWORD rgb = 0) {
        SetBkMode(surface.DC(), TRANSPARENT);
        SetTextColor(surface.DC(), RGB(rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF));
        HGDIOBJ old = SelectObject(surface.DC(), font);
        TextOutW(surface.DC(), x, y, text, lstrlenW(text));
        SelectObject(surface.DC(), old);
    }
    void ExpectSame(const Surface& a, const Surface& b, const char* name) {
        const Capture ca = a.Grab(), cb = b.Grab();
        uitest::SavePng(ca, std::string(name) + "-ours");
        uitest::SavePng(cb, std::string(name) + "-gdi");
        int inked = 0;
        for (size_t i = 0; i < ca.pixels.size(); ++i) {
            ASSERT_EQ(ca.pixels[i], cb.pixels[i]) << name << " at " << i % ca.width << "," << i / ca.width;
            if (ca.pixels[i] != 0xFFFFFF) ++inked;
        }
        EXPECT_GT(inked, 0) << name;
    }
    void Html(Surface& surface, const wchar_t* text, RECT rect, UINT style = 0, DWORD color = 0xFF000000) {
        int none = 0;
        CSkinRenderer::DrawHtmlText(surface.DC(), &Manager(), rect, text, color, nullptr, nullptr, none, -1, style);
    }
    TEXTMETRICW Metrics(HFONT font) {
        HDC dc = Manager().GetPaintDC();
        HGDIOBJ old = SelectObject(dc, font);
        TEXTMETRICW tm = {};
        GetTextMetricsW(dc, &tm);
        SelectObject(dc, old);
        return tm;
    }
};

TEST_F(TextTest, PlainTextEqualsDrawTextW) {
    Surface ours(200, 40), gdi(200, 40);
    RECT rect = {5, 5, 195, 35};
    CSkinRenderer::DrawText(ours.DC(), &Manager(), rect, L"Hello, plain world", 0xFF102030, -1,
                            DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    SetBkMode(gdi.DC(), TRANSPARENT);
    SetTextColor(gdi.DC(), RGB(0x10, 0x20, 0x30));
    HGDIOBJ old = SelectObject(gdi.DC(), BaseFont());
    RECT r2 = {5, 5, 195, 35};
    DrawTextW(gdi.DC(), L"Hello, plain world", -1, &r2, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    SelectObject(gdi.DC(), old);
    ExpectSame(ours, gdi, "plain");

    Surface reference(200, 40), single(200, 40);
    RECT a = {5, 5, 195, 35}, b = a;
    CSkinRenderer::DrawText(single.DC(), &Manager(), a, L"x&#x4E2D;y", 0xFF000000, -1, DT_SINGLELINE);
    old = SelectObject(reference.DC(), BaseFont());
    SetBkMode(reference.DC(), TRANSPARENT);
    DrawTextW(reference.DC(), L"\x4E2D", 1, &b, DT_SINGLELINE);
    SelectObject(reference.DC(), old);
    ExpectSame(single, reference, "char-reference");
    // A reference cut short at the end of the text reads nothing past it.
    Surface cut(50, 20);
    RECT c = {0, 0, 50, 20};
    CSkinRenderer::DrawText(cut.DC(), &Manager(), c, L"&#x", 0xFF000000, -1, DT_SINGLELINE);
}

TEST_F(TextTest, MarkupTagsMatchGdi) {
    // A bold word equals TextOutW in a bold font of the same face and height.
    LOGFONTW lf = {};
    GetObjectW(BaseFont(), sizeof(lf), &lf);
    lf.lfWeight = FW_BOLD;
    HFONT bold = CreateFontIndirectW(&lf);
    const TEXTMETRICW base = Metrics(BaseFont()), boldTm = Metrics(bold);
    const int line = std::max(base.tmHeight + base.tmExternalLeading, boldTm.tmHeight + boldTm.tmExternalLeading);
    Surface ours(200, 40), gdi(200, 40);
    Html(ours, L"<b>Bold</b>", RECT{0, 0, 200, 40});
    Reference(gdi, bold, 0, line - boldTm.tmHeight - boldTm.tmExternalLeading, L"Bold");
    ExpectSame(ours, gdi, "bold");
    DeleteObject(bold);

    Surface braces(200, 40), angles(200, 40);
    Html(braces, L"{c #FF00FF00}green{/c}", RECT{0, 0, 200, 40});
    Html(angles, L"<c FF00FF00>green</c>", RECT{0, 0, 200, 40});
    ExpectSame(braces, angles, "colour-tag");
    EXPECT_NE(braces.Grab().pixels, Surface(200, 40).Grab().pixels);

    Surface literal(200, 40), plain(200, 40);
    Html(literal, L"a<B", RECT{0, 0, 200, 40});
    Reference(plain, BaseFont(), 0, 0, L"a<B");
    ExpectSame(literal, plain, "literal-lt");

    // Open tags that never close, and end tags with nothing open.
    Surface odd(200, 40);
    Html(odd, L"</b></c></a>x<c FF0000", RECT{0, 0, 200, 40});
}

TEST_F(TextTest, InlineImageFrame) {
    Surface surface(100, 30);
    Html(surface, L"<i render/strip.png 4 2>", RECT{0, 0, 100, 30});
    uitest::SavePng(surface.Grab(), "inline-frame");
    // The 10-pixel strip is centred in its line.
    for (int x = 0; x < 20; ++x) EXPECT_EQ(surface.At(x, 5), 0x0000FFu) << x;
    EXPECT_EQ(surface.At(20, 5), 0xFFFFFFu);
}

TEST_F(TextTest, WrappedLinkAndEllipsis) {
    HDC dc = Manager().GetPaintDC();
    HGDIOBJ old = SelectObject(dc, BaseFont());
    SIZE word = {};
    GetTextExtentPoint32W(dc, L"alpha ", 6, &word);
    SelectObject(dc, old);
    Surface surface(200, 80);
    RECT links[4] = {};
    CUIString texts[4];
    int count = 4;
    RECT rect = {0, 0, word.cx + 4, 80};
    CSkinRenderer::DrawHtmlText(surface.DC(), &Manager(), rect, L"<a go>alpha beta</a>", 0xFF000000, links, texts,
                                count, -1, DT_WORDBREAK);
    uitest::SavePng(surface.Grab(), "wrapped-link");
    ASSERT_EQ(count, 2);
    EXPECT_EQ(texts[0], L"go");
    EXPECT_EQ(texts[1], L"go");
    EXPECT_EQ(links[0].left, 0);
    EXPECT_EQ(links[1].left, 0);
    EXPECT_GE(links[1].top, links[0].bottom);
    EXPECT_GT(links[0].right, 0);

    // A single line too long ends in "..." inside the rectangle.
    RECT measure = {0, 0, 60, 20};
    int none = 0;
    CSkinRenderer::DrawHtmlText(surface.DC(), &Manager(), measure, L"a rather long line of text", 0xFF000000,
                                nullptr, nullptr, none, -1, DT_SINGLELINE | DT_END_ELLIPSIS | DT_CALCRECT);
    EXPECT_LE(measure.right, 60);
    // So narrow that the ellipsis would cut below nothing.
    Surface narrow(20, 20);
    Html(narrow, L"Wide", RECT{0, 0, 3, 20}, DT_SINGLELINE | DT_END_ELLIPSIS);
    RECT tiny = {0, 0, 3, 20};
    CSkinRenderer::DrawHtmlText(narrow.DC(), &Manager(), tiny, L"Wide words", 0xFF000000, nullptr, nullptr, none, -1,
                                DT_WORDBREAK | DT_END_ELLIPSIS | DT_CALCRECT);
    EXPECT_LE(tiny.right, 3);
}

TEST_F(TextTest, GdiplusInkStaysInRectangle) {
    Manager().SetUseGdiplusText(true);
    Surface surface(200, 60);
    RECT rect = {20, 20, 120, 40};
    CSkinRenderer::DrawText(surface.DC(), &Manager(), rect, L"GDI+ text that is long", 0xFF000000, -1,
                            DT_SINGLELINE | DT_END_ELLIPSIS);
    const Capture capture = surface.Grab();
    uitest::SavePng(capture, "gdiplus");
    int inside = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 200; ++x) {
            if (capture.At(x, y) == 0xFFFFFF) continue;
            ASSERT_TRUE(x >= 20 && x < 120 && y >= 20 && y < 40) << x << "," << y;
            ++inside;
        }
    EXPECT_GT(inside, 0);
}

TEST_F(TextTest, PrimitivesAndClipScope) {
    Surface surface(60, 60);
    CSkinRenderer::DrawRect(surface.DC(), RECT{10, 10, 50, 40}, 2, 0xFFFF0000);
    CSkinRenderer::DrawLine(surface.DC(), RECT{0, 55, 60, 55}, 1, 0xFF00FF00);
    EXPECT_EQ(surface.At(10, 10), 0xFF0000u);
    EXPECT_EQ(surface.At(11, 11), 0xFF0000u);
    EXPECT_EQ(surface.At(12, 12), 0xFFFFFFu);
    EXPECT_EQ(surface.At(49, 39), 0xFF0000u);
    EXPECT_EQ(surface.At(50, 40), 0xFFFFFFu);
    EXPECT_EQ(surface.At(30, 55), 0x00FF00u);
    CSkinRenderer::DrawRoundRect(surface.DC(), RECT{0, 0, 9, 9}, 1, 4, 4, 0xFF0000FF);
    EXPECT_EQ(surface.At(4, 0), 0x0000FFu);
    uitest::SavePng(surface.Grab(), "primitives");

    RECT before = {};
    GetClipBox(surface.DC(), &before);
    {
        CClipScope scope;
        CClipScope::ClipToRoundRect(surface.DC(), RECT{5, 5, 30, 30}, RECT{5, 5, 30, 30}, 10, 10, scope);
        RECT inside = {};
        GetClipBox(surface.DC(), &inside);
        EXPECT_EQ(inside.left, 5);
        EXPECT_EQ(inside.right, 30);
        CSkinRenderer::FillColor(surface.DC(), RECT{0, 0, 60, 60}, 0xFF000000);
    }
    RECT after = {};
    GetClipBox(surface.DC(), &after);
    EXPECT_TRUE(EqualRect(&before, &after));
    EXPECT_EQ(surface.At(5, 5), 0xFFFFFFu);   // the rounded corner stayed out
    EXPECT_EQ(surface.At(15, 15), 0x000000u);
    EXPECT_EQ(surface.At(40, 50), 0xFFFFFFu);
}

TEST_F(TextTest, RepaintsReuseVariantFonts) {
    const wchar_t* text = L"<b>b</b><i>i</i><u>u</u><b><i><u>all</u></i></b><f Arial 12 bold>f</f>";
    Surface surface(300, 40);
    Html(surface, text, RECT{0, 0, 300, 40});
    const int fonts = Manager().GetWindowFontCount();
    EXPECT_GE(fonts, 4);
    const Capture first = surface.Grab();
    for (int i = 0; i < 100; ++i) {
        Surface again(300, 40);
        Html(again, text, RECT{0, 0, 300, 40});
        if (i == 99) {
            EXPECT_EQ(again.Grab().pixels, first.pixels);
        }
    }
    EXPECT_EQ(Manager().GetWindowFontCount(), fonts);
    uitest::SavePng(first, "variants");
}

}  // namespace
