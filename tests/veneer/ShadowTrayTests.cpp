// The shadow window (setters, the computed shadow's fade, the shadow on the
// screen over a black window, maximising, a second root, a stray subclass)
// and the tray icon (the record handed to the shell, Wine's own tray).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "DesktopInput.h"
#include "NotifyAreaIcon.h"
#include "PaintManager.h"
#include "Shadow.h"
#include "SkinTestSupport.h"
#include "StackLayout.h"
#include "WindowUI.h"
#include "support/UITestHost.h"

using namespace Veneer;

namespace {

TEST(ShadowTest, SettersRefuseOutOfRangeValuesAndKeepTheOld) {
    CShadowUI shadow;
    EXPECT_FALSE(shadow.SetSize(21));
    EXPECT_EQ(10, shadow.GetSize());
    EXPECT_TRUE(shadow.SetSize(-20));   // inside the window's outline
    EXPECT_EQ(-20, shadow.GetSize());
    EXPECT_FALSE(shadow.SetSize(-21));
    EXPECT_FALSE(shadow.SetSharpness(21));
    EXPECT_FALSE(shadow.SetSharpness(-1));
    EXPECT_TRUE(shadow.SetSharpness(20));
    EXPECT_EQ(20, shadow.GetSharpness());
    EXPECT_FALSE(shadow.SetDarkness(256));
    EXPECT_TRUE(shadow.SetDarkness(0));
    EXPECT_FALSE(shadow.SetPosition(21, 0));
    EXPECT_FALSE(shadow.SetPosition(0, -21));
    EXPECT_TRUE(shadow.SetPosition(-20, 20));
    EXPECT_FALSE(shadow.SetShadowCorner(-1, 0, 0, 0));
    EXPECT_TRUE(shadow.SetShadowCorner(1, 2, 3, 4));
}

// A window whose paint is black all over.
class PlainWindow : public CWindowWnd {
public:
    const wchar_t* GetWindowClassName() const override { return L"VeneerTestBlack"; }
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == callback) {
            callbacks.push_back(lParam);
            return 0;
        }
        if (message == WM_PAINT) {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(m_hWnd, &ps);
            FillRect(dc, &ps.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
            EndPaint(m_hWnd, &ps);
            return 0;
        }
        return CWindowWnd::HandleMessage(message, wParam, lParam);
    }
    UINT callback = 0;
    std::vector<LPARAM> callbacks;
};

// The fade at mid-edge, e pixels out: g^2 * sqrt(g) * 85 with g = 1 - e/11.
const struct {
    int out;
    int grey;
} kFade[] = {{1, 66}, {5, 18}, {9, 1}, {10, 0}};

TEST(ShadowTest, ComputedShadowFadesOverItsSizeAndSparesTheWindow) {
    CPaintManagerUI::SetInstance(GetModuleHandleW(nullptr));
    PlainWindow window;
    ASSERT_NE(nullptr, window.Create(nullptr, L"shape", WS_POPUP, 0, 0, 0, 100, 60));
    CShadowUI shadow;
    shadow.SetColor(0xFFFFFF);
    const RECT rect = {0, 0, 100, 60};
    const int bw = 120, bh = 80;
    std::vector<DWORD> pixels(size_t(bw) * bh, 0);
    shadow.MakeShadow(pixels.data(), window, rect);
    auto at = [&](int x, int y) { return pixels[size_t(bh - 1 - y) * bw + x]; };   // bottom-up rows
    for (const auto& f : kFade) {
        const DWORD grey = DWORD(f.grey);
        const DWORD expected = (grey << 24) | (grey << 16) | (grey << 8) | grey;
        EXPECT_EQ(expected, at(10 - f.out, 40)) << "left " << f.out;
        EXPECT_EQ(expected, at(109 + f.out, 40)) << "right " << f.out;
        EXPECT_EQ(expected, at(60, 10 - f.out)) << "top " << f.out;
        EXPECT_EQ(expected, at(60, 69 + f.out)) << "bottom " << f.out;
    }
    EXPECT_EQ(0u, at(60, 40));   // under the window
    EXPECT_EQ(0u, at(10, 10));   // its corner pixel
    DestroyWindow(window);
}

TEST(ShadowTest, StraySubclassFallsBackToTheDefaultProcedure) {
    PlainWindow window;
    ASSERT_NE(nullptr, window.Create(nullptr, L"stray", WS_POPUP, 0, 0, 0, 10, 10));
    HWND handle = window;
    const LONG_PTR own = SetWindowLongPtrW(handle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CShadowUI::ParentProc));
    EXPECT_TRUE(SendMessageW(handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"kept")));
    EXPECT_EQ(L"kept", desk::Text(handle));
    SetWindowLongPtrW(handle, GWLP_WNDPROC, own);
    DestroyWindow(handle);
}

// The skinned window with its shadow, over a black window.
class ShadowWindow : public CWindowUI {
public:
    const wchar_t* GetWindowClassName() const override { return L"VeneerTestShadowed"; }
    CUIString GetSkinFolder() override { return CUIString(); }
    CUIString GetSkinFile() override { return CUIString(L"windows/shadow.xml"); }
    SkinResourceType GetResourceType() const override { return ResourceFiles; }
    void InitResource() override { skintest::UseFolder(skintest::SkinFolder()); }
};


TEST(ShadowTest, ShadowOnTheScreenFollowsTheWindow) {
    CPaintManagerUI::SetInstance(GetModuleHandleW(nullptr));
    PlainWindow black;
    ASSERT_NE(nullptr, black.Create(nullptr, L"black", WS_POPUP | WS_VISIBLE, 0, 300, 250, 400, 300));
    UpdateWindow(black);
    ShadowWindow frame;
    HWND window = frame.Create(nullptr, L"shadowed", WS_POPUP, 0, 380, 320, 10, 10);
    ASSERT_NE(nullptr, window);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    uitest::Pump();
    CShadowUI* shadow = frame.m_pm.GetShadow();
    ASSERT_NE(nullptr, shadow->GetShadowWindow());
    EXPECT_TRUE(IsWindowVisible(shadow->GetShadowWindow()));
    RECT r = {};
    GetWindowRect(window, &r);
    RECT s = {};
    GetWindowRect(shadow->GetShadowWindow(), &s);
    EXPECT_EQ(r.left - 10, s.left);
    EXPECT_EQ(r.bottom + 10, s.bottom);
    RECT area = {};
    GetWindowRect(black, &area);
    const uitest::Capture screen = uitest::GrabScreen(area);
    uitest::SavePng(screen, "shadow-over-black");
    auto grey = [&](int x, int y) { return int((screen.At(x - area.left, y - area.top) >> 8) & 0xFF); };
    const int midY = (r.top + r.bottom) / 2, midX = (r.left + r.right) / 2;
    for (const auto& f : kFade) {
        EXPECT_NEAR(f.grey, grey(r.left - f.out, midY), 1) << "left " << f.out;
        EXPECT_NEAR(f.grey, grey(r.right - 1 + f.out, midY), 1) << "right " << f.out;
        EXPECT_NEAR(f.grey, grey(midX, r.bottom - 1 + f.out), 1) << "bottom " << f.out;
    }

    // A second root: the shadow is only redrawn (a second subclass would
    // make the procedure call itself).
    CVerticalLayoutUI* root = new CVerticalLayoutUI;
    root->SetBkColor(0xFF00FF00);
    frame.m_pm.SetRootControl(root);
    EXPECT_EQ(0, SendMessageW(window, WM_NULL, 0, 0));
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);

    // Maximised: no shadow; restored: back, following the window.
    ShowWindow(window, SW_MAXIMIZE);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    uitest::Pump();
    EXPECT_FALSE(IsWindowVisible(shadow->GetShadowWindow()));
    ShowWindow(window, SW_RESTORE);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    uitest::Pump();
    EXPECT_TRUE(IsWindowVisible(shadow->GetShadowWindow()));
    SetWindowPos(window, nullptr, 400, 330, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    GetWindowRect(shadow->GetShadowWindow(), &s);
    EXPECT_EQ(390, s.left);
    EXPECT_EQ(320, s.top);

    HWND shadowWindow = shadow->GetShadowWindow();
    DestroyWindow(window);
    EXPECT_FALSE(IsWindow(shadowWindow));
    DestroyWindow(black);
}

// ------------------------------------------------------------------ tray

struct Recorded {
    DWORD message;
    NOTIFYICONDATAW data;
};
std::vector<Recorded> g_recorded;
BOOL WINAPI RecordNotifyIcon(DWORD message, NOTIFYICONDATAW* data) {
    Recorded r = {message, {}};
    memcpy(&r.data, data, CNotifyAreaIcon::kRecordSize);
    g_recorded.push_back(r);
    return TRUE;
}

TEST(TrayIconTest, RecordHandedToTheShell) {
    CPaintManagerUI::SetInstance(GetModuleHandleW(nullptr));
    CNotifyAreaIcon::SetShellNotifyIcon(&RecordNotifyIcon);
    g_recorded.clear();
    HWND owner = reinterpret_cast<HWND>(0x1234);
    const std::wstring longTip(300, L'x');
    CNotifyAreaIcon icon;
    EXPECT_FALSE(icon.SetTip(L"not yet"));
    icon.Add(nullptr, L"nothing");
    EXPECT_TRUE(g_recorded.empty());
    icon.SetCallbackMessage(1025);
    icon.Add(owner, longTip.c_str());
    ASSERT_EQ(1u, g_recorded.size());
    const NOTIFYICONDATAW& added = g_recorded[0].data;
    EXPECT_EQ(DWORD(NIM_ADD), g_recorded[0].message);
    EXPECT_EQ(952u, added.cbSize);
    EXPECT_EQ(owner, added.hWnd);
    EXPECT_EQ(128u, added.uID);
    EXPECT_EQ(7u, added.uFlags);
    EXPECT_EQ(1025u, added.uCallbackMessage);
    EXPECT_EQ(127u, wcslen(added.szTip));
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(added.hIcon, &info));
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
    const int size = skintest::ExpectedDpi() > 96 ? 32 : 16;
    EXPECT_EQ(size, bitmap.bmWidth);
    EXPECT_EQ(size, bitmap.bmHeight);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);

    EXPECT_TRUE(icon.SetTip(longTip.c_str()));
    ASSERT_EQ(2u, g_recorded.size());
    EXPECT_EQ(DWORD(NIM_MODIFY), g_recorded[1].message);
    EXPECT_EQ(127u, wcslen(g_recorded[1].data.szTip));
    icon.Remove();
    EXPECT_EQ(DWORD(NIM_DELETE), g_recorded[2].message);
    EXPECT_FALSE(icon.IsAdded());
    EXPECT_EQ(0x401u, icon.GetCallbackMessage());
    CNotifyAreaIcon::SetShellNotifyIcon(nullptr);
}

// The icons that the object loads are its own: removing it (as the re-add
// after "TaskbarCreated" does), adding over an added icon and the end of the
// object each destroy the icon that the shell no longer shows.
TEST(TrayIconTest, LoadedIconsAreDestroyedWhenRemovedOrReplaced) {
    CPaintManagerUI::SetInstance(GetModuleHandleW(nullptr));
    CNotifyAreaIcon::SetShellNotifyIcon(&RecordNotifyIcon);
    g_recorded.clear();
    HWND owner = reinterpret_cast<HWND>(0x1234);
    auto alive = [](HICON handle) {
        ICONINFO info = {};
        if (!handle || !GetIconInfo(handle, &info)) return false;
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        return true;
    };
    HICON last = nullptr;
    {
        CNotifyAreaIcon icon;
        icon.Add(owner, L"tray");
        const HICON first = icon.GetIcon();
        ASSERT_TRUE(alive(first));
        icon.Remove();
        EXPECT_FALSE(alive(first));
        EXPECT_EQ(nullptr, icon.GetIcon());
        icon.Add(owner, L"tray");
        const HICON second = icon.GetIcon();
        icon.Add(owner, L"tray");
        last = icon.GetIcon();
        EXPECT_FALSE(alive(second));
        EXPECT_TRUE(alive(last));
        EXPECT_EQ(last, g_recorded.back().data.hIcon);
    }
    EXPECT_FALSE(alive(last));
    CNotifyAreaIcon::SetShellNotifyIcon(nullptr);
}

HWND FindTrayIcon() {
    HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
    return tray ? FindWindowExW(tray, nullptr, L"__winex11_tray_icon", nullptr) : nullptr;
}

// Wine's own tray: the icon appears, a click reaches the window as its
// callback message, and removing takes it away.
TEST(TrayIconTest, WinesTrayShowsAndClicksTheIcon) {
    CPaintManagerUI::SetInstance(GetModuleHandleW(nullptr));
    PlainWindow owner;
    owner.callback = 1025;
    ASSERT_NE(nullptr, owner.Create(nullptr, L"tray owner", WS_POPUP, 0, 400, 400, 20, 20));
    CNotifyAreaIcon icon;
    icon.SetCallbackMessage(1025);
    icon.Add(owner, L"Veneer tray test");
    HWND shown = nullptr;
    ASSERT_TRUE(desk::WaitFor([&] { return (shown = FindTrayIcon()) != nullptr && IsWindowVisible(shown); }, 5000));
    EXPECT_TRUE(desk::Click(shown)) << desk::InputState(shown);
    EXPECT_TRUE(desk::WaitFor([&] {
        uitest::Pump();
        for (LPARAM l : owner.callbacks)
            if (l == WM_LBUTTONUP) return true;
        return false;
    }, 3000));
    icon.Remove();
    EXPECT_TRUE(desk::WaitFor([&] { return FindTrayIcon() == nullptr || !IsWindowVisible(FindTrayIcon()); }, 5000));
    DestroyWindow(owner);
}

}  // namespace
