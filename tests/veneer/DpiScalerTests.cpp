// DPI scaling: the scaling table, the system queries (run at 96 DPI and, as
// veneer_cache_tests_144dpi, in a prefix at 144 DPI) and image names.
#include <gtest/gtest.h>

#include <string>

#include "DpiScaler.h"
#include "PaintManager.h"
#include "SkinTestSupport.h"

using namespace Veneer;
using namespace skintest;

TEST(DpiScaler, ScalingTable) {
    struct Case {
        int scale;
        RECT in, out;
    } cases[] = {
        {100, {1, 1, 4, 4}, {1, 1, 4, 4}},
        {150, {1, 1, 4, 4}, {2, 2, 7, 7}},
        {125, {0, 0, 100, 20}, {0, 0, 125, 25}},
        {200, {-3, 5, 7, 6}, {-6, 10, 14, 12}},
        {150, {3, 3, 4, 4}, {5, 5, 7, 7}},
    };
    for (const Case& c : cases) {
        CDpiScaler scaler;
        scaler.SetAwareness(CDpiScaler::SystemAware);
        scaler.SetScale(c.scale);
        RECT r = c.in;
        scaler.ScaleRect(r);
        EXPECT_EQ(c.out.left, r.left) << c.scale;
        EXPECT_EQ(c.out.top, r.top) << c.scale;
        EXPECT_EQ(c.out.right, r.right) << c.scale;
        EXPECT_EQ(c.out.bottom, r.bottom) << c.scale;
        const RECT made = scaler.ScaledRect(c.in.left, c.in.top, c.in.right, c.in.bottom);
        EXPECT_EQ(r.right, made.right);
        EXPECT_EQ(r.bottom, made.bottom);
    }
    CDpiScaler scaler;
    scaler.SetAwareness(CDpiScaler::SystemAware);
    scaler.SetScale(150);
    EXPECT_EQ(150, scaler.ScaleValue(100));
    EXPECT_EQ(2, scaler.ScaleValue(1));   // MulDiv rounds 1.5 up
    SIZE size = {10, 21};
    scaler.ScaleSize(size);
    EXPECT_EQ(15, size.cx);
    EXPECT_EQ(32, size.cy);
    RECT back = {2, 2, 7, 7};
    scaler.UnscaleRect(back);
    EXPECT_EQ(1, back.left);
    EXPECT_EQ(4, back.right);   // origin 1, extent 5 * 100 / 150 = 3

    scaler.SetScales(200, 150);
    scaler.SetAwareness(CDpiScaler::PerMonitorAware);
    EXPECT_EQ(200, scaler.GetScale());
    scaler.SetAwareness(CDpiScaler::Unaware);
    EXPECT_EQ(100, scaler.GetScale());
    EXPECT_EQ(33, scaler.ScaleValue(33));
    EXPECT_EQ(7, scaler.ScaledSize(7, 9).cx);
}

TEST(DpiScaler, SystemQueriesFollowThePrefix) {
    const int dpi = ExpectedDpi();
    EXPECT_EQ(dpi, CDpiScaler::GetSystemDpi());
    CPaintManagerUI manager;
    CDpiScaler* scaler = manager.GetDpiScaler();
    EXPECT_EQ(CDpiScaler::SystemAware, scaler->GetAwareness());
    EXPECT_EQ(MulDiv(dpi, 100, 96), scaler->GetScale());
    EXPECT_EQ(scaler, manager.GetDpiScaler());

    HDC screen = GetDC(nullptr);
    const int logPixels = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    const POINT origin = {0, 0};
    EXPECT_EQ(logPixels, CDpiScaler::GetMonitorDpi(MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY)));
    EXPECT_EQ(dpi, logPixels);
}

TEST(DpiScaler, ImageNamesGainTheScale) {
    CPaintManagerUI manager;
    const int scale = manager.GetDpiScaler()->GetScale();
    ImageDrawSpec* spec = manager.GetImageDrawSpec(L"images/button.png", L"dest='1,1,4,4'");
    ASSERT_NE(nullptr, spec);
    if (scale == 100) {
        EXPECT_EQ(std::wstring(L"images/button.png"), spec->file.GetData());
        EXPECT_EQ(4, spec->dest.right);
    } else {
        EXPECT_EQ(L"images/button@" + std::to_wstring(scale) + L".png", spec->file.GetData());
    }
    if (ExpectedDpi() == 144) {
        EXPECT_EQ(std::wstring(L"images/button@150.png"), spec->file.GetData());
        EXPECT_EQ(2, spec->dest.left);
        EXPECT_EQ(7, spec->dest.right);
    }

    CPaintManagerUI at150;
    at150.GetDpiScaler()->SetScale(150);
    ImageDrawSpec* two = at150.GetImageDrawSpec(L"a.b.png");
    ASSERT_NE(nullptr, two);
    EXPECT_EQ(std::wstring(L"a@150.b@150.png"), two->file.GetData());
    CPaintManagerUI at100;
    at100.GetDpiScaler()->SetScale(100);
    EXPECT_EQ(std::wstring(L"a.b.png"), at100.GetImageDrawSpec(L"a.b.png")->file.GetData());
}
