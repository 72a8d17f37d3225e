// The text field: its idle painting against GDI, the native EDIT window it
// opens over its text area, and typing into it through SendInput.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ControlFactory.h"
#include "ControlsTestSupport.h"
#include "DesktopInput.h"
#include "Edit.h"

using namespace Veneer;

namespace {

class EditTest : public ::testing::Test, public ctltest::ControlsFixture {
protected:
    void SetUp() override {
        panel = new uitest::TestPanel;
        panel->SetAttribute(L"bkcolor", L"#FFFFFFFF");
        Host(300, 120, panel);
    }
    void TearDown() override { TearDownHost(); }
    CEditUI* Add(const RECT& pos, const wchar_t* name) {
        CEditUI* edit = new CEditUI;
        edit->SetName(name);
        panel->Add(edit);
        edit->SetPos(pos);
        return edit;
    }
    // Focuses the host window and opens the edit's native window.
    HWND Open(CEditUI* edit) {
        SetForegroundWindow(host->Window());
        Manager().SetFocusedControl(edit);
        uitest::Pump();
        return edit->GetNativeHandle();
    }
    bool WaitFor(const std::function<bool()>& condition) {
        return desk::WaitFor([&] {
            uitest::Pump();
            return condition();
        });
    }
    std::wstring NativeText(HWND window) {
        wchar_t buffer[256] = {};
        GetWindowTextW(window, buffer, 256);
        return buffer;
    }
    uitest::TestPanel* panel = nullptr;
};

// What GDI draws of a text in the edit's font, colour and text rectangle.
uitest::Capture GdiText(HFONT font, const RECT& rect, const wchar_t* text, COLORREF color, UINT style) {
    uitest::Surface surface(300, 120);
    HGDIOBJ old = SelectObject(surface.DC(), font);
    SetBkMode(surface.DC(), TRANSPARENT);
    SetTextColor(surface.DC(), color);
    RECT r = rect;
    DrawTextW(surface.DC(), text, -1, &r, style);
    SelectObject(surface.DC(), old);
    return surface.Grab();
}

int Differences(const uitest::Capture& a, const uitest::Capture& b, const RECT& area) {
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) count += a.At(x, y) != b.At(x, y);
    return count;
}

TEST_F(EditTest, IdlePaintingEqualsGdiText) {
    const RECT item = {10, 10, 150, 40};
    CEditUI* edit = Add(item, L"pin");
    edit->SetAttribute(L"password", L"true");
    edit->SetText(L"1234");
    edit->SetAttribute(L"tipvalue", L"enter PIN");
    RECT text = item;
    const RECT padding = edit->GetTextPadding();
    text.left += padding.left;
    text.top += padding.top;
    text.right -= padding.right;
    text.bottom -= padding.bottom;
    HFONT font = Manager().GetFontHandle(edit->GetFont());
    const UINT style = edit->GetTextStyle() | DT_SINGLELINE;
    const COLORREF tip = RGB(0xBA, 0xC0, 0xC5);
    const DWORD textColor = Manager().GetDefaultFontColor();
    const COLORREF textRef = RGB((textColor >> 16) & 0xFF, (textColor >> 8) & 0xFF, textColor & 0xFF);
    EXPECT_EQ(0, Differences(Paint("edit-password"), GdiText(font, text, L"****", textRef, style), item));
    EXPECT_EQ(L"1234", std::wstring(edit->GetInputText()));
    // Empty, or holding exactly the tip: the tip in its colour.
    edit->SetText(L"");
    EXPECT_EQ(0, Differences(Paint("edit-tip-empty"), GdiText(font, text, L"enter PIN", tip, style), item));
    edit->SetAttribute(L"password", L"false");
    edit->SetText(L"enter PIN");
    EXPECT_EQ(0, Differences(Paint("edit-tip-typed"), GdiText(font, text, L"enter PIN", tip, style), item));
}

TEST_F(EditTest, NativeWindowCoversTheTextArea) {
    const RECT item = {20, 10, 180, 50};
    CEditUI* edit = Add(item, L"field");
    edit->SetAttribute(L"password", L"true");
    edit->SetAttribute(L"numberonly", L"true");
    edit->SetAttribute(L"maxchar", L"5");
    CEditUI* other = Add(RECT{20, 60, 180, 90}, L"other");
    edit->SetAttribute(L"numberonly", L"false");
    edit->SetAttribute(L"numberonly", L"true");
    HWND native = Open(edit);
    ASSERT_NE(nullptr, native);
    wchar_t className[64] = {};
    GetClassNameW(native, className, 64);
    EXPECT_STREQ(L"VeneerEditWnd", className);

    const int height = Manager().GetFontEntry(edit->GetFont())->metrics.tmHeight;
    RECT expected = {item.left + 4, item.top + 3, item.right - 4, item.bottom - 3};
    expected.top += (expected.bottom - expected.top - height) / 2;
    expected.bottom = expected.top + height;
    MapWindowPoints(host->Window(), nullptr, reinterpret_cast<POINT*>(&expected), 2);
    RECT actual = {};
    GetWindowRect(native, &actual);
    EXPECT_TRUE(EqualRect(&expected, &actual)) << actual.left << "," << actual.top << "," << actual.right << ","
                                                << actual.bottom;
    EXPECT_EQ(L'*', static_cast<wchar_t>(SendMessageW(native, EM_GETPASSWORDCHAR, 0, 0)));
    EXPECT_NE(0, GetWindowLongW(native, GWL_STYLE) & ES_NUMBER);

    // Typing: five characters at most, each change one "textchanged".
    ASSERT_TRUE(WaitFor([&] { return GetFocus() == native; }));
    recorder.Clear();
    desk::Type("1234567");
    ASSERT_TRUE(WaitFor([&] { return NativeText(native) == L"12345"; }));
    Sleep(100);
    uitest::Pump();
    EXPECT_EQ(L"12345", std::wstring(edit->GetInputText()));
    EXPECT_EQ(5, recorder.Count(L"textchanged"));

    // Return: "return" and nothing typed.
    desk::Key(VK_RETURN);
    ASSERT_TRUE(WaitFor([&] { return recorder.Count(L"return") == 1; }));
    EXPECT_EQ(L"12345", NativeText(native));
    EXPECT_EQ(5, recorder.Count(L"textchanged"));

    // Password off while editing: the native text shows as it is.
    edit->SetPassword(false);
    EXPECT_EQ(0, SendMessageW(native, EM_GETPASSWORDCHAR, 0, 0));
    edit->SetPassword(true);
    EXPECT_EQ(L'*', static_cast<wchar_t>(SendMessageW(native, EM_GETPASSWORDCHAR, 0, 0)));

    // A click on another control closes the native window; the text stays.
    Click(ctltest::Centre(other->GetPos()));
    ASSERT_TRUE(WaitFor([&] { return edit->GetNativeHandle() == nullptr; }));
    EXPECT_FALSE(IsWindow(native));
    EXPECT_EQ(L"12345", std::wstring(edit->GetInputText()));
    EXPECT_EQ(5, recorder.Count(L"textchanged"));
}

TEST_F(EditTest, OpeningSendsNoChangeAndClosingFollowsTheContainer) {
    uitest::TestPanel* box = new uitest::TestPanel;
    panel->Add(box);
    box->SetPos(RECT{0, 0, 300, 120});
    CEditUI* edit = new CEditUI;
    box->Add(edit);
    edit->SetPos(RECT{10, 10, 150, 40});
    edit->SetText(L"abc");
    edit->SetAttribute(L"nativebkcolor", L"#FF00FF00");
    recorder.Clear();
    HWND native = Open(edit);
    ASSERT_NE(nullptr, native);
    EXPECT_EQ(0, recorder.Count(L"textchanged"));
    EXPECT_EQ(L"abc", NativeText(native));
    // The native background colour paints the native window.
    UpdateWindow(native);
    RECT client = {};
    GetClientRect(native, &client);
    HDC dc = GetDC(native);   // right of the selected text
    EXPECT_EQ(RGB(0, 255, 0), GetPixel(dc, client.right - 3, client.bottom / 2) & 0xFFFFFF);
    ReleaseDC(native, dc);

    box->SetVisible(false);
    ASSERT_TRUE(WaitFor([&] { return edit->GetNativeHandle() == nullptr; }));
    EXPECT_FALSE(IsWindow(native));
}

TEST_F(EditTest, DeletingTheEditWhileEditingDestroysItsWindowFirst) {
    CEditUI* edit = Add(RECT{10, 10, 150, 40}, L"doomed");
    edit->SetText(L"abc");
    HWND native = Open(edit);
    ASSERT_NE(nullptr, native);
    // The tree goes before the host window, the edit with it.
    host->DestroyManager();
    EXPECT_FALSE(IsWindow(native));
    uitest::Pump();
}

TEST_F(EditTest, FactoryKnowsTheEdit) {
    std::unique_ptr<CControlUI> control(CControlFactory::GetInstance()->CreateControlByClass(L"CEditUI"));
    ASSERT_NE(nullptr, control);
    EXPECT_STREQ(L"Edit", control->GetClassTag());
    EXPECT_NE(nullptr, control->FindInterface(L"Label"));
    EXPECT_EQ(3u, control->GetBehaviorFlags());
}

}  // namespace
