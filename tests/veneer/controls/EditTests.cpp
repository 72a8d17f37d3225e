// The text field: its idle painting against GDI, the native EDIT window it
// opens over its text area (a pop-up with its own caret line in a layered
// window), and typing into it through SendInput, also in a modal dialog on a
// thread of its own.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ControlFactory.h"
#include "ControlsTestSupport.h"
#include "DesktopInput.h"
#include "Edit.h"
#include "GifAnimationEx.h"
#include "GifPlayer.h"
#include "WindowWnd.h"

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

// Where the edit's text area lies on the screen: the item less the padding,
// centred on the font's height.
RECT ScreenTextArea(CPaintManagerUI& manager, CEditUI* edit, HWND window) {
    const RECT item = edit->GetPos();
    const int height = manager.GetFontEntry(edit->GetFont())->metrics.tmHeight;
    RECT area = {item.left + 4, item.top + 3, item.right - 4, item.bottom - 3};
    area.top += (area.bottom - area.top - height) / 2;
    area.bottom = area.top + height;
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&area), 2);
    return area;
}

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

    const RECT expected = ScreenTextArea(Manager(), edit, host->Window());
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

// The edit leaves its container while the manager lives on: destroying its
// window gives the focus back to the host, which must not open a new one for
// the dying edit.
TEST_F(EditTest, EditRemovedWhileEditingOpensNoNewWindow) {
    CEditUI* edit = Add(RECT{10, 10, 150, 40}, L"leaving");
    HWND native = Open(edit);
    ASSERT_NE(nullptr, native);
    ASSERT_TRUE(panel->Remove(edit));
    EXPECT_FALSE(IsWindow(native));
    uitest::Pump();
    EXPECT_EQ(nullptr, FindWindowExW(host->Window(), nullptr, nullptr, nullptr));
    EXPECT_EQ(nullptr, host->Manager().GetFocus());
}

// What the native window prints of itself, as a layered window's paint asks.
uitest::Capture Print(HWND native) {
    RECT client = {};
    GetClientRect(native, &client);
    uitest::Surface surface(client.right, client.bottom);
    SendMessageW(native, WM_PRINT, reinterpret_cast<WPARAM>(surface.DC()), 0x35);
    return surface.Grab();
}

// In a layered window the native window is a pop-up over the text area in
// screen coordinates, one pixel up, drawn into the window by the manager; it
// draws its own caret line, blinking on the caret timer.
TEST_F(EditTest, LayeredWindowGetsAPopupWithItsOwnCaretLine) {
    Manager().SetLayeredMode(true);
    ASSERT_TRUE(Manager().IsLayeredMode());
    CEditUI* edit = Add(RECT{20, 10, 180, 50}, L"layered");
    edit->SetText(L"ab");
    HWND native = Open(edit);
    ASSERT_NE(nullptr, native);

    const LONG style = GetWindowLongW(native, GWL_STYLE);
    EXPECT_EQ(WS_POPUP, style & (WS_POPUP | WS_CHILD));
    EXPECT_EQ(host->Window(), GetWindow(native, GW_OWNER));
    RECT expected = ScreenTextArea(Manager(), edit, host->Window());
    OffsetRect(&expected, 0, -1);
    RECT actual = {};
    GetWindowRect(native, &actual);
    EXPECT_TRUE(EqualRect(&expected, &actual)) << actual.left << "," << actual.top << "," << actual.right << ","
                                                << actual.bottom;
    const CPointerArray& natives = Manager().GetNativeWindows();
    ASSERT_EQ(1, natives.GetSize());
    EXPECT_EQ(native, static_cast<HWND>(natives.GetAt(0)));

    // The caret line: a 1-pixel black column at the caret, as high as the
    // client area, in one phase of the timer and not in the other.
    ASSERT_TRUE(WaitFor([&] { return GetFocus() == native; }));
    SendMessageW(native, EM_SETSEL, 2, 2);
    POINT caret = {};
    ASSERT_TRUE(GetCaretPos(&caret));
    RECT client = {};
    GetClientRect(native, &client);
    SendMessageW(native, WM_TIMER, 6553, 0);
    const uitest::Capture first = Print(native);
    SendMessageW(native, WM_TIMER, 6553, 0);
    const uitest::Capture second = Print(native);
    uitest::SavePng(first, "edit-layered-print-1");
    uitest::SavePng(second, "edit-layered-print-2");
    auto lineIn = [&](const uitest::Capture& c) {
        for (int y = caret.y; y < client.bottom - 1; ++y)
            if (c.At(caret.x, y) != 0) return false;
        return true;
    };
    EXPECT_NE(lineIn(first), lineIn(second));
    int elsewhere = 0;
    for (int y = 0; y < client.bottom; ++y)
        for (int x = 0; x < client.right; ++x) elsewhere += x != caret.x && first.At(x, y) != second.At(x, y);
    EXPECT_EQ(0, elsewhere);
    // Left alone, the timer itself flips the phase.
    const bool phase = lineIn(Print(native));
    EXPECT_TRUE(desk::WaitFor(
        [&] {
            uitest::Pump();
            return lineIn(Print(native)) != phase;
        },
        4000))
        << "blink time " << GetCaretBlinkTime();

    // Closing takes the pop-up out of the manager's native windows.
    SetFocus(host->Window());
    ASSERT_TRUE(WaitFor([&] { return edit->GetNativeHandle() == nullptr; }));
    EXPECT_FALSE(IsWindow(native));
    EXPECT_EQ(0, Manager().GetNativeWindows().GetSize());
}

// A PIN dialog as the renewal thread shows it: a modal skinned window on a
// thread of its own with a password edit; Return hands back what was typed.
struct PinShared {
    std::atomic<HWND> window{nullptr};
    std::atomic<HWND> native{nullptr};
    std::atomic<bool> done{false};
    UINT result = 0;
    std::wstring entered;
};

class PinDialog : public CWindowWnd, public INotifyUI {
public:
    explicit PinDialog(PinShared& shared) : shared(shared) {}
    static const UINT kFocusEdit = WM_APP + 7;
    const wchar_t* GetWindowClassName() const override { return L"VeneerTestPinDialog"; }
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_CREATE) {
            m_pm.AttachWindow(m_hWnd);
            m_pm.AddNotifyListener(this);
            uitest::TestPanel* panel = new uitest::TestPanel;
            panel->SetAttribute(L"bkcolor", L"#FFFFFFFF");
            edit = new CEditUI;
            edit->SetName(L"pin");
            edit->SetAttribute(L"password", L"true");
            panel->Add(edit);
            m_pm.SetRootControl(panel);
            edit->SetPos(RECT{20, 30, 200, 60});
            PostMessageW(m_hWnd, kFocusEdit, 0, 0);
            return 0;
        }
        if (message == kFocusEdit) {
            SetForegroundWindow(m_hWnd);
            SetFocus(m_hWnd);
            m_pm.SetFocusedControl(edit);
            shared.native = edit->GetNativeHandle();
            return 0;
        }
        LRESULT result = 0;
        if (m_pm.HandleWindowMessage(message, wParam, lParam, result)) return result;
        return CWindowWnd::HandleMessage(message, wParam, lParam);
    }
    void Notify(NotifyEvent& event) override {
        if (event.type == L"return") {
            shared.entered = edit->GetInputText().GetData();
            Close(IDOK);
        }
    }
    PinShared& shared;
    CPaintManagerUI m_pm;
    CEditUI* edit = nullptr;
};

TEST_F(EditTest, PinTypedInAModalDialogOnAnotherThreadWhileAGifPlays) {
    CGifAnimationExUI* gif = new CGifAnimationExUI;
    gif->SetName(L"gif/dispose.gif");
    gif->SetAttribute(L"bkimage", L"gif/dispose.gif");
    panel->Add(gif);
    gif->SetPos(RECT{10, 10, 22, 20});
    GifPlayer* player = nullptr;
    desk::WaitFor([&] {
        Paint("pin-gif-still");
        uitest::Pump();
        return (player = gif->FindPlayer(L"gif/dispose.gif")) != nullptr;
    }, 2000);
    ASSERT_NE(nullptr, player);
    Raise(gif, EventMouseEnter, ctltest::Centre(gif->GetPos()));
    ASSERT_FALSE(player->IsStopped());

    // The dialog lives and dies on its own thread.
    PinShared pin;
    const HWND owner = host->Window();
    std::thread thread([&pin, owner] {
        PinDialog dialog(pin);
        if (dialog.Create(owner, L"PIN", WS_POPUP, 0, 100, 100, 240, 100)) {
            pin.window = dialog.GetHWND();
            pin.result = dialog.ShowModal();
        }
        pin.done = true;
    });
    // Thread 1 keeps painting its GIF all along.
    std::set<LONG> shown;
    auto pumpAndWatch = [&] {
        host->Repaint();
        uitest::Pump();
        shown.insert(player->GetCurrentIndex());
    };
    const bool focused = desk::WaitFor([&] {
        pumpAndWatch();
        GUITHREADINFO info = {};
        info.cbSize = sizeof(info);
        const HWND native = pin.native;
        return pin.done || (native && GetGUIThreadInfo(GetWindowThreadProcessId(native, nullptr), &info) &&
                            info.hwndFocus == native && GetForegroundWindow() == pin.window);
    });
    if (focused && !pin.done) {
        // The GIF moves on with the modal dialog up.
        shown.clear();
        desk::WaitFor([&] {
            pumpAndWatch();
            return shown.size() >= 3;
        });
        desk::Type("2580");
        desk::Key(VK_RETURN);
    } else {
        ADD_FAILURE() << "the dialog's edit never took the focus: " << desk::InputState(pin.window);
        PostMessageW(pin.window, WM_CLOSE, 0, 0);
    }
    EXPECT_TRUE(desk::WaitFor([&] {
        pumpAndWatch();
        return pin.done.load();
    }));
    if (!pin.done && pin.window) {   // end the modal loop whatever state it is in
        PostMessageW(pin.window, WM_CLOSE, 0, 0);
        PostThreadMessageW(GetWindowThreadProcessId(pin.window, nullptr), WM_QUIT, 0, 0);
    }
    while (!pin.done) pumpAndWatch();   // the owner is enabled again through this queue
    thread.join();
    EXPECT_EQ(static_cast<UINT>(IDOK), pin.result);
    EXPECT_EQ(L"2580", pin.entered);
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_GE(shown.size(), 3u);
    EXPECT_FALSE(player->IsStopped());
    Raise(gif, EventMouseLeave, ctltest::Centre(gif->GetPos()));
}

TEST_F(EditTest, FactoryKnowsTheEdit) {
    std::unique_ptr<CControlUI> control(CControlFactory::GetInstance()->CreateControlByClass(L"CEditUI"));
    ASSERT_NE(nullptr, control);
    EXPECT_STREQ(L"Edit", control->GetClassTag());
    EXPECT_NE(nullptr, control->FindInterface(L"Label"));
    EXPECT_EQ(3u, control->GetBehaviorFlags());
}

}  // namespace
