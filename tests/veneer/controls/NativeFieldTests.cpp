// The date, IP-address and hot-key fields with the COMCTL32 editors they
// open over themselves, and the in-place address field: values travelling
// into the editors and back, the editors' places, and fields deleted while
// an editor is open.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Container.h"
#include "ControlsTestSupport.h"
#include "DesktopInput.h"
#include "NativeFields.h"

using namespace Veneer;

namespace {

class FieldTest : public ::testing::Test, public ctltest::ControlsFixture {
protected:
    void SetUp() override {
        panel = new uitest::TestPanel;
        panel->SetAttribute(L"bkcolor", L"#FFFFFFFF");
        Host(480, 300, panel);   // room for the fields at 144 DPI
    }
    void TearDown() override { TearDownHost(); }
    template <typename T>
    T* Add(const RECT& pos, const wchar_t* name) {
        T* field = new T;
        field->SetName(name);
        panel->Add(field);
        field->SetPos(RECT{S(pos.left), S(pos.top), S(pos.right), S(pos.bottom)});
        return field;
    }
    // The window becomes the active one first: its activation, arriving
    // late, would otherwise take the keyboard focus from an open editor.
    void Focus(CControlUI* control) {
        SetForegroundWindow(host->Window());
        desk::WaitFor(
            [&] {
                uitest::Pump();
                return GetForegroundWindow() == host->Window() && GetFocus() == host->Window();
            },
            3000);
        Manager().SetFocusedControl(control);
        uitest::Pump();
    }
    // The client rectangle of the host in screen coordinates.
    RECT ToScreen(RECT r) {
        MapWindowPoints(host->Window(), nullptr, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    static std::wstring ClassOf(HWND window) {
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        return name;
    }
    uitest::TestPanel* panel = nullptr;
};

std::wstring DateText(const SYSTEMTIME& t) {
    wchar_t text[32];
    swprintf(text, 32, L"%4d-%02d-%02d", t.wYear, t.wMonth, t.wDay);
    return text;
}

// The test's own reading of the local address and of key names.
DWORD ExpectedLocalAddress() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;
    DWORD address = 0;
    char name[256] = {};
    if (gethostname(name, sizeof(name)) == 0) {
        if (hostent* entry = gethostbyname(name)) {
            if (entry->h_length == 4 && entry->h_addr_list[0]) {
                const unsigned char* b = reinterpret_cast<const unsigned char*>(entry->h_addr_list[0]);
                address = (DWORD(b[0]) << 24) | (DWORD(b[1]) << 16) | (DWORD(b[2]) << 8) | b[3];
            }
        }
    }
    WSACleanup();
    return address;
}

std::wstring KeyText(UINT vk, bool extended) {
    LONG parameter = LONG(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16;
    if (extended) parameter |= 1 << 24;
    wchar_t name[128] = {};
    GetKeyNameTextW(parameter, name, 128);
    return name;
}

TEST_F(FieldTest, DateEditorOpensOverTheFieldAndEscapeRestores) {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    // Clipped by an ancestor: the field reaches past its container.
    CContainerUI* box = new CContainerUI;
    panel->Add(box);
    box->SetPos(RECT{S(10), S(10), S(150), S(40)});
    CDateTimeUI* date = new CDateTimeUI;
    box->AddItem(date);
    date->SetPos(RECT{S(20), S(15), S(200), S(45)});
    EXPECT_EQ(DateText(now), std::wstring(date->GetText()));

    Focus(date);
    ASSERT_NE(nullptr, date->GetEditor());
    HWND editor = date->GetEditor()->GetHWND();
    EXPECT_EQ(L"VeneerDateTimeWnd", ClassOf(editor));
    RECT actual = {};
    GetWindowRect(editor, &actual);
    const RECT expected = ToScreen(RECT{S(20), S(15), S(150), S(40)});
    EXPECT_TRUE(EqualRect(&expected, &actual)) << actual.left << "," << actual.top << "," << actual.right << ","
                                               << actual.bottom;
    SYSTEMTIME shown = {};
    EXPECT_EQ(GDT_VALID, SendMessageW(editor, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&shown)));
    EXPECT_EQ(DateText(date->GetTime()), DateText(shown));

    // The picker reports a new date; Escape brings the old one back.
    SYSTEMTIME changed = shown;
    changed.wYear = 2031;
    changed.wMonth = 2;
    changed.wDay = 3;
    SendMessageW(editor, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&changed));
    NMDATETIMECHANGE change = {};
    change.nmhdr.hwndFrom = editor;
    change.nmhdr.code = DTN_DATETIMECHANGE;
    change.dwFlags = GDT_VALID;
    change.st = changed;
    SendMessageW(host->Window(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&change));
    EXPECT_EQ(L"2031-02-03", std::wstring(date->GetText()));
    PostMessageW(editor, WM_KEYDOWN, VK_ESCAPE, 1);
    uitest::Pump();
    EXPECT_EQ(DateText(now), std::wstring(date->GetText()));
    EXPECT_FALSE(IsWindow(editor));
    EXPECT_EQ(nullptr, date->GetEditor());
}

// The drop-down calendar keeps the editor; a day chosen in it closes the
// editor and becomes the field's date.
TEST_F(FieldTest, DateDropDownKeepsTheEditorUntilADayIsChosen) {
    CDateTimeUI* date = Add<CDateTimeUI>(RECT{10, 10, 200, 40}, L"date");
    CDateTimeUI* other = Add<CDateTimeUI>(RECT{10, 100, 200, 130}, L"other");
    (void)other;
    Focus(date);
    ASSERT_NE(nullptr, date->GetEditor());
    HWND editor = date->GetEditor()->GetHWND();
    ASSERT_EQ(editor, GetFocus());
    RECT picker = {};
    GetWindowRect(editor, &picker);
    const POINT button = {picker.right - S(6), (picker.top + picker.bottom) / 2};
    desk::Button(button, MOUSEEVENTF_LEFTDOWN);
    desk::Button(button, MOUSEEVENTF_LEFTUP);
    HWND calendar = nullptr;
    ASSERT_TRUE(desk::WaitFor([&] {
        uitest::Pump();
        calendar = reinterpret_cast<HWND>(SendMessageW(editor, DTM_GETMONTHCAL, 0, 0));
        return calendar && IsWindowVisible(calendar);
    })) << desk::InputState(host->Window());
    EXPECT_TRUE(date->GetEditor() && date->GetEditor()->IsDroppedDown());
    EXPECT_TRUE(IsWindow(editor));

    // A day of the shown month other than the field's.
    RECT cal = {};
    GetClientRect(calendar, &cal);
    POINT dayPoint = {};
    SYSTEMTIME day = {};
    for (int y = cal.top + 2; y < cal.bottom && !dayPoint.x; y += 3) {
        for (int x = cal.left + 2; x < cal.right; x += 3) {
            MCHITTESTINFO hit = {};
            hit.cbSize = MCHITTESTINFO_V1_SIZE;
            hit.pt = POINT{x, y};
            if (SendMessageW(calendar, MCM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)) == MCHT_CALENDARDATE &&
                hit.st.wMonth == date->GetTime().wMonth && hit.st.wDay != date->GetTime().wDay && hit.st.wDay > 1 &&
                hit.st.wDay < 28) {
                dayPoint = POINT{x, y};
                day = hit.st;
                break;
            }
        }
    }
    ASSERT_NE(0, dayPoint.x);
    ClientToScreen(calendar, &dayPoint);
    desk::Button(dayPoint, MOUSEEVENTF_LEFTDOWN);
    desk::Button(dayPoint, MOUSEEVENTF_LEFTUP);
    EXPECT_TRUE(desk::WaitFor([&] {
        uitest::Pump();
        return !IsWindow(editor);
    })) << desk::InputState(host->Window());
    EXPECT_EQ(day.wDay, date->GetTime().wDay);
    EXPECT_EQ(DateText(date->GetTime()), std::wstring(date->GetText()));
}

TEST_F(FieldTest, IpEditorShowsLocalAddressHidesAndComesBack) {
    CIPAddressUI* ip = Add<CIPAddressUI>(RECT{10, 10, 200, 40}, L"ip");
    ip->SetText(L"");
    Focus(ip);
    ASSERT_NE(nullptr, ip->GetEditor());
    HWND editor = ip->GetEditor()->GetHWND();
    EXPECT_EQ(L"VeneerIPAddressWnd", ClassOf(editor));
    DWORD address = 1;
    SendMessageW(editor, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    EXPECT_EQ(ExpectedLocalAddress(), address);
    // Each look-up ends its own Winsock start-up: none is left over.
    EXPECT_EQ(ExpectedLocalAddress(), GetLocalHostAddress());
    EXPECT_EQ(SOCKET_ERROR, WSACleanup());
    EXPECT_EQ(WSANOTINITIALISED, WSAGetLastError());

    // Set in the editor, shown as text once the focus leaves; the editor
    // hides and a click shows it again.
    SendMessageW(editor, IPM_SETADDRESS, 0, MAKEIPADDRESS(10, 1, 2, 3));
    Manager().SetFocusedControl(nullptr);
    uitest::Pump();
    EXPECT_EQ(L"10.1.2.3", std::wstring(ip->GetText()));
    EXPECT_TRUE(IsWindow(editor));
    EXPECT_FALSE(IsWindowVisible(editor));
    Focus(ip);
    EXPECT_FALSE(IsWindowVisible(editor));
    Click(ctltest::Centre(ip->GetPos()));
    uitest::Pump();
    EXPECT_TRUE(IsWindowVisible(editor));

    // Escape changes nothing; Delete empties the text and keeps the address.
    PostMessageW(editor, WM_KEYUP, VK_ESCAPE, 0xC0000001);
    uitest::Pump();
    EXPECT_FALSE(IsWindow(editor));
    EXPECT_EQ(L"10.1.2.3", std::wstring(ip->GetText()));
    Click(ctltest::Centre(ip->GetPos()));
    ASSERT_NE(nullptr, ip->GetEditor());
    editor = ip->GetEditor()->GetHWND();
    PostMessageW(editor, WM_KEYUP, VK_DELETE, 0xC0000001);
    uitest::Pump();
    EXPECT_FALSE(IsWindow(editor));
    EXPECT_EQ(L"", std::wstring(ip->GetText()));
    EXPECT_EQ(DWORD(MAKEIPADDRESS(10, 1, 2, 3)), ip->GetIP());
}

TEST_F(FieldTest, HotKeyEditorNamesTheKeys) {
    CHotKeyUI* hot = Add<CHotKeyUI>(RECT{10, 10, 250, 50}, L"hot");
    hot->SetAttribute(L"nativebkcolor", L"#FF20A040");
    Focus(hot);
    ASSERT_NE(nullptr, hot->GetEditor());
    HWND editor = hot->GetEditor()->GetHWND();
    EXPECT_EQ(L"VeneerHotKeyWnd", ClassOf(editor));

    // Centred on the font's height inside the padded item.
    RECT actual = {};
    GetWindowRect(editor, &actual);
    const int fontHeight = Manager().GetFontEntry(hot->GetFont())->metrics.tmHeight;
    const RECT item = hot->GetPos();
    const RECT padding = hot->GetTextPadding();
    const int inner = item.bottom - item.top - padding.top - padding.bottom;
    const RECT expected =
        ToScreen(RECT{item.left + padding.left, item.top + padding.top + (inner - fontHeight) / 2,
                      item.right - padding.right, item.top + padding.top + (inner - fontHeight) / 2 + fontHeight});
    EXPECT_TRUE(EqualRect(&expected, &actual));
    RedrawWindow(editor, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    const uitest::Capture editorPixels = uitest::GrabWindow(editor);
    ASSERT_GT(editorPixels.width, 2);
    EXPECT_EQ(0x20A040u, editorPixels.At(editorPixels.width - 2, editorPixels.height / 2));

    // The keys as the editor's window receives them (a posted and
    // translated Alt+A also brings a WM_SYSCHAR, which the control takes as
    // another key).
    recorder.Clear();
    SendMessageW(editor, WM_KEYDOWN, VK_CONTROL, 1);
    SendMessageW(editor, WM_KEYDOWN, VK_SHIFT, 1);
    SendMessageW(editor, WM_SYSKEYDOWN, VK_MENU, 0x20000001);
    SendMessageW(editor, WM_SYSKEYDOWN, 'A', 0x20000001);
    const std::wstring expectedText = KeyText(VK_CONTROL, false) + L" + " + KeyText(VK_SHIFT, false) + L" + " +
                                      KeyText(VK_MENU, false) + L" + " + KeyText('A', false);
    EXPECT_EQ(expectedText, std::wstring(hot->GetText()));
    EXPECT_EQ('A', hot->GetVirtualKey());
    EXPECT_EQ(HOTKEYF_CONTROL | HOTKEYF_SHIFT | HOTKEYF_ALT, hot->GetModifiers());
    EXPECT_EQ(4, recorder.Count(L"textchanged"));

    // Return is the field's, not the editor's.
    recorder.Clear();
    PostMessageW(editor, WM_KEYDOWN, VK_RETURN, 1 | (MapVirtualKeyW(VK_RETURN, MAPVK_VK_TO_VSC) << 16));
    uitest::Pump();
    EXPECT_EQ(1, recorder.Count(L"return"));
    EXPECT_EQ('A', hot->GetVirtualKey());

    // Cleared in the editor: "None".
    recorder.Clear();
    SendMessageW(editor, HKM_SETHOTKEY, 0, 0);
    SendMessageW(host->Window(), WM_COMMAND, MAKEWPARAM(0, EN_CHANGE), reinterpret_cast<LPARAM>(editor));
    EXPECT_EQ(L"None", std::wstring(hot->GetText()));
    EXPECT_EQ(0, hot->GetModifiers());
    EXPECT_EQ(1, recorder.Count(L"textchanged"));

    // Navigation keys are named as extended keys.
    EXPECT_EQ(KeyText(VK_HOME, true), std::wstring(GetKeyName(VK_HOME, false)));
    EXPECT_NE(KeyText(VK_HOME, false), KeyText(VK_HOME, true));

    // Losing the focus closes the editor.
    Manager().SetFocusedControl(nullptr);
    uitest::Pump();
    EXPECT_FALSE(IsWindow(editor));
    EXPECT_EQ(nullptr, hot->GetEditor());
}

TEST_F(FieldTest, FieldsDeletedWithTheirEditorOpen) {
    CContainerUI* box = new CContainerUI;
    box->SetDelayedDestroy(false);
    panel->Add(box);
    box->SetPos(RECT{0, 0, S(300), S(60)});
    CControlUI* fields[] = {new CDateTimeUI, new CIPAddressUI, new CHotKeyUI};
    for (CControlUI* field : fields) {
        box->AddItem(field);
        field->SetPos(RECT{S(10), S(10), S(200), S(40)});
        Focus(field);
        HWND editor = nullptr;
        if (CDateTimeUI* d = static_cast<CDateTimeUI*>(field->FindInterface(L"DateTime"))) editor = d->GetEditor()->GetHWND();
        if (CIPAddressUI* i = static_cast<CIPAddressUI*>(field->FindInterface(L"IPAddress"))) editor = i->GetEditor()->GetHWND();
        if (CHotKeyUI* h = static_cast<CHotKeyUI*>(field->FindInterface(L"HotKey"))) editor = h->GetEditor()->GetHWND();
        ASSERT_TRUE(IsWindow(editor)) << field->GetClassTag();
        box->RemoveItem(field);
        uitest::Pump();
        EXPECT_FALSE(IsWindow(editor)) << field->GetClassTag();
    }

    // In a layered window the open date editor is a registered native window.
    Manager().SetLayeredModeFlag(true);
    CDateTimeUI* date = Add<CDateTimeUI>(RECT{10, 80, 200, 110}, L"layered");
    Focus(date);
    ASSERT_NE(nullptr, date->GetEditor());
    HWND editor = date->GetEditor()->GetHWND();
    RedrawWindow(editor, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_GE(Manager().GetNativeWindows().Find(editor), 0);
    Manager().SetFocusedControl(nullptr);
    uitest::Pump();
    EXPECT_FALSE(IsWindow(editor));
    EXPECT_LT(Manager().GetNativeWindows().Find(editor), 0);
    Manager().SetLayeredModeFlag(false);
}

class AddressExTest : public FieldTest {
protected:
    void SetUp() override {
        FieldTest::SetUp();
        field = Add<CIPAddressExUI>(RECT{10, 10, 250, 40}, L"ipex");
        field->SetAttribute(L"bkcolor", L"#FFFFFFFF");
    }
    void Press(WORD key) { Raise(field, EventKeyDown, POINT{}, 0, key); }
    void ClickField(int k) {
        const RECT item = field->GetPos();
        const int q = (item.right - item.left) / 4;
        Raise(field, EventButtonDown, POINT{item.left + (k - 1) * q + q / 2, (item.top + item.bottom) / 2});
    }
    CIPAddressExUI* field = nullptr;
};

TEST_F(AddressExTest, KeysMouseAndWheel) {
    struct Row {
        const char* name;
        int start;                // field clicked first
        std::vector<WORD> keys;
        int field;                // current field after
        std::vector<int> numbers; // the four numbers after
    } rows[] = {
        {"1,9,2 moves on", 1, {'1', '9', '2'}, 2, {192, 0, 0, 0}},
        {"3,0,0 saturates", 1, {'3', '0', '0'}, 2, {255, 0, 0, 0}},
        {"numeric pad", 2, {VK_NUMPAD1, VK_NUMPAD0}, 2, {0, 10, 0, 0}},
        {"12 digits in field 4", 4, {'9', '9', '9', '9', '9', '9', '9', '9', '9', '9', '9', '9'}, 4, {0, 0, 0, 255}},
        {"Left from 1", 1, {VK_LEFT}, 1, {0, 0, 0, 0}},
        {"Right from 4", 4, {VK_RIGHT}, 4, {0, 0, 0, 0}},
        {"Right commits and moves", 1, {'7', VK_RIGHT, '8'}, 2, {7, 8, 0, 0}},
        {"period moves on", 2, {'5', VK_OEM_PERIOD}, 3, {0, 5, 0, 0}},
        {"up and down", 3, {VK_UP, VK_UP, VK_DOWN}, 3, {0, 0, 1, 0}},
        {"Delete zeroes", 1, {'4', '2', VK_DELETE}, 1, {0, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        field->SetNumbers(0, 0, 0, 0);
        ClickField(row.start);
        EXPECT_EQ(row.start, field->GetCurrentField());
        for (WORD key : row.keys) Press(key);
        EXPECT_EQ(row.field, field->GetCurrentField());
        for (int k = 1; k <= 4; ++k) EXPECT_EQ(row.numbers[k - 1], field->GetNumber(k)) << "number " << k;
        char text[32];
        snprintf(text, sizeof(text), "%d.%d.%d.%d", row.numbers[0], row.numbers[1], row.numbers[2], row.numbers[3]);
        const std::wstring wide(text, text + strlen(text));
        EXPECT_EQ(wide, std::wstring(field->GetText()));
    }

    // The wheel: away from the user up, towards the user down; without a
    // current field it only rewrites the text.
    field->SetNumbers(10, 20, 30, 40);
    ClickField(2);
    Raise(field, EventScrollWheel, POINT{}, 0);
    EXPECT_EQ(21, field->GetNumber(2));
    Raise(field, EventScrollWheel, POINT{}, 1);
    Raise(field, EventScrollWheel, POINT{}, 1);
    EXPECT_EQ(19, field->GetNumber(2));
    Raise(field, EventKillFocus, POINT{});
    EXPECT_EQ(0, field->GetCurrentField());
    Raise(field, EventScrollWheel, POINT{}, 1);
    EXPECT_EQ(L"10.19.30.40", std::wstring(field->GetText()));
}

TEST_F(AddressExTest, PaintsDotsAndTheCurrentField) {
    const RECT item = field->GetPos();
    const RECT padding = field->GetTextPadding();
    const RECT text = {item.left + padding.left, item.top + padding.top, item.right - padding.right,
                       item.bottom - padding.bottom};
    const int q = (text.right - text.left) / 4;
    // Columns with ink, as runs: their first x.
    auto runs = [&](const uitest::Capture& c) {
        std::vector<int> starts;
        bool inRun = false;
        for (int x = text.left; x < text.right; ++x) {
            bool ink = false;
            for (int y = text.top; y < text.bottom && !ink; ++y) ink = c.At(x, y) != 0xFFFFFF;
            if (ink && !inRun) starts.push_back(x);
            inRun = ink;
        }
        return starts;
    };
    const std::vector<int> dots = runs(Paint("ipex-zero"));
    ASSERT_EQ(3u, dots.size());
    for (int k = 1; k <= 3; ++k) EXPECT_NEAR(text.left + k * q, dots[k - 1], 2) << "dot " << k;

    field->SetNumbers(1, 2, 3, 4);
    ClickField(3);
    const uitest::Capture current = Paint("ipex-current");
    int blue = 0;
    for (int y = text.top; y < text.bottom; ++y) {
        for (int x = text.left + 2 * q; x < text.left + 3 * q; ++x) {
            blue += current.At(x, y) == 0x3399FF;
        }
    }
    EXPECT_GT(blue, 0);
    int blueElsewhere = 0;
    for (int y = text.top; y < text.bottom; ++y)
        for (int x = text.left; x < text.left + 2 * q; ++x) blueElsewhere += current.At(x, y) == 0x3399FF;
    EXPECT_EQ(0, blueElsewhere);
}

}  // namespace
