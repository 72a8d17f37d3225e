// The rich text field over the platform's windowless text services: typing
// by posted messages, the keys it keeps or gives up, its context menu, the
// host's answers to the engine, what it draws, and its scroll bar.
#include <windows.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ControlsTestSupport.h"
#include "RichEdit.h"
#include "ScrollBar.h"

using namespace Veneer;

namespace {

class RichEditTest : public ::testing::Test, public ctltest::ControlsFixture {
protected:
    void SetUp() override {
        panel = new uitest::TestPanel;
        panel->SetAttribute(L"bkcolor", L"#FFFFFFFF");
        Host(480, 300, panel);   // room for the fields at 144 DPI
    }
    void TearDown() override {
        CTxtWinHost::SetEngineLibrary(L"Msftedit.dll");
        TearDownHost();
    }
    // A field at the rectangle (unscaled), its attributes applied before
    // it joins the window (and so before its host is made).
    CRichEditUI* Add(const RECT& pos, const wchar_t* name,
                     std::vector<std::pair<const wchar_t*, const wchar_t*>> attributes = {}) {
        CRichEditUI* edit = new CRichEditUI;
        edit->SetName(name);
        edit->SetAttribute(L"bkcolor", L"#FFFFFFFF");
        for (const auto& a : attributes) edit->SetAttribute(a.first, a.second);
        panel->Add(edit);
        edit->SetPos(RECT{S(pos.left), S(pos.top), S(pos.right), S(pos.bottom)});
        return edit;
    }
    void Focus(CControlUI* control) {
        Manager().SetFocusedControl(control);
        uitest::Pump();
    }
    void Type(const std::wstring& text) {
        for (wchar_t ch : text) PostMessageW(host->Window(), WM_CHAR, ch, 1);
        uitest::Pump();
    }
    void Key(WORD vk) {
        PostMessageW(host->Window(), WM_KEYDOWN, vk, 1);
        PostMessageW(host->Window(), WM_KEYUP, vk, 0xC0000001);
        uitest::Pump();
    }
    static LRESULT Send(CRichEditUI* edit, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        LRESULT result = 0;
        edit->SendTextMessage(message, wParam, lParam, &result);
        return result;
    }
    static void Select(CRichEditUI* edit, LONG from, LONG to) {
        CHARRANGE range = {from, to};
        Send(edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    }
    static COLORREF DefaultColor(CRichEditUI* edit) {
        CHARFORMAT2W format = {};
        format.cbSize = sizeof(format);
        Send(edit, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
        return format.crTextColor;
    }
    uitest::TestPanel* panel = nullptr;
};

// Rows holding a pixel that is not white, within the rectangle.
std::vector<int> InkRows(const uitest::Capture& capture, const RECT& area) {
    std::vector<int> rows;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            if (capture.At(x, y) != 0xFFFFFF) {
                rows.push_back(y);
                break;
            }
        }
    }
    return rows;
}

int CountColor(const uitest::Capture& capture, const RECT& area, DWORD rgb) {
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) count += capture.At(x, y) == rgb;
    return count;
}

TEST_F(RichEditTest, TypedTextChangesAndLimits) {
    // Before it joins a window the field has no engine: no text.
    CRichEditUI* edit = new CRichEditUI;
    edit->SetText(L"start ");
    EXPECT_EQ(L"", std::wstring(edit->GetText()));
    EXPECT_EQ(S_FALSE, edit->SendTextMessage(WM_CHAR, L'x', 0, nullptr));
    panel->Add(edit);
    edit->SetPos(RECT{S(10), S(10), S(300), S(60)});
    ASSERT_NE(nullptr, edit->GetHost());
    EXPECT_EQ(L"start ", std::wstring(edit->GetText()));

    Focus(edit);
    Send(edit, EM_SETSEL, -1, -1);
    recorder.Clear();
    const std::wstring typed = L"Hi \x4E2D\x6587";
    Type(typed);
    EXPECT_EQ(L"start " + typed, std::wstring(edit->GetText()));
    EXPECT_EQ(static_cast<int>(typed.size()), recorder.Count(L"textchanged"));

    EXPECT_TRUE(edit->CanUndo());
    EXPECT_TRUE(edit->Undo());
    EXPECT_NE(L"start " + typed, std::wstring(edit->GetText()));
    EXPECT_TRUE(edit->CanRedo());
    EXPECT_TRUE(edit->Redo());
    EXPECT_EQ(L"start " + typed, std::wstring(edit->GetText()));

    CRichEditUI* limited = Add(RECT{10, 70, 300, 110}, L"limited", {{L"maxchar", L"5"}});
    Focus(limited);
    Type(L"abcdefgh");
    EXPECT_EQ(L"abcde", std::wstring(limited->GetText()));
}

TEST_F(RichEditTest, ReturnAndTabKeys) {
    struct Row {
        const wchar_t* attribute;
        bool ctrl;
        bool raised;     // "return" expected
        bool newLine;    // the engine saw the key
    } rows[] = {
        {L"wantreturn", false, true, false},
        {L"wantreturn", true, true, false},
        {L"wantctrlreturn", false, false, true},
        {L"wantctrlreturn", true, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.attribute << (row.ctrl ? " with Ctrl" : ""));
        CRichEditUI* edit = Add(RECT{10, 10, 300, 80}, L"keys", {{row.attribute, L"false"}});
        edit->SetText(L"line");
        Focus(edit);
        Send(edit, EM_SETSEL, -1, -1);
        const LRESULT lines = Send(edit, EM_GETLINECOUNT);
        recorder.Clear();
        uitest::SetKeyHeld(VK_CONTROL, row.ctrl);
        Key(VK_RETURN);
        uitest::SetKeyHeld(VK_CONTROL, false);
        EXPECT_EQ(row.raised ? 1 : 0, recorder.Count(L"return"));
        EXPECT_EQ(lines + (row.newLine ? 1 : 0), Send(edit, EM_GETLINECOUNT));
        edit->SetVisible(false);
    }

    // Tab stays in a field that wants it; otherwise the focus moves on.
    for (bool want : {true, false}) {
        SCOPED_TRACE(want ? "wanttab" : "no wanttab");
        CRichEditUI* first = Add(RECT{10, 100, 150, 140}, L"first", {{L"wanttab", want ? L"true" : L"false"}});
        CRichEditUI* second = Add(RECT{160, 100, 300, 140}, L"second");
        Focus(first);
        uitest::RunPosted(host->Window(), WM_KEYDOWN, VK_TAB, 1);
        EXPECT_EQ(want ? static_cast<CControlUI*>(first) : second, Manager().GetFocus());
        first->SetVisible(false);
        second->SetVisible(false);
    }
}

// The host's menu filter: reads the item states and ends the menu.
class MenuReader : public IMessageFilterUI {
public:
    LRESULT FilterMessage(UINT message, WPARAM wParam, LPARAM, bool&) override {
        if (message != WM_INITMENUPOPUP) return 0;
        HMENU menu = reinterpret_cast<HMENU>(wParam);
        greyed.clear();
        for (UINT id = 101; id <= 107; ++id) {
            if (GetMenuState(menu, id, MF_BYCOMMAND) & MF_GRAYED) greyed.push_back(id);
        }
        ++shown;
        EndMenu();
        return 0;
    }
    std::vector<UINT> greyed;
    int shown = 0;
};

TEST_F(RichEditTest, ContextMenuStatesAndCommands) {
    MenuReader reader;
    Manager().AddMessageFilter(&reader);
    struct Row {
        const wchar_t* name;
        bool readOnly;
        LONG from, to;
        std::vector<UINT> greyed;
    } rows[] = {
        {L"read-only, selection", true, 0, 3, {101, 102, 104, 105, 107}},
        {L"empty selection", false, 2, 2, {101, 102, 103, 105, 107}},
        {L"selection", false, 0, 3, {101, 107}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.name);
        std::vector<std::pair<const wchar_t*, const wchar_t*>> attributes = {{L"menu", L"true"}};
        if (row.readOnly) attributes.push_back({L"readonly", L"true"});
        CRichEditUI* edit = Add(RECT{10, 10, 300, 80}, L"menu", attributes);
        edit->SetText(L"abcdef");
        Focus(edit);
        Select(edit, row.from, row.to);
        POINT screen = ctltest::Centre(edit->GetPos());
        ClientToScreen(host->Window(), &screen);
        reader.shown = 0;
        SendMessageW(host->Window(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(host->Window()),
                     MAKELPARAM(screen.x, screen.y));
        uitest::Pump();
        EXPECT_EQ(1, reader.shown);
        EXPECT_EQ(row.greyed, reader.greyed);
        edit->SetVisible(false);
    }

    // Clear removes the selection only; ClearAll empties the field.
    CRichEditUI* edit = Add(RECT{10, 100, 300, 150}, L"clear");
    edit->SetText(L"abcdef");
    Focus(edit);
    Select(edit, 2, 4);
    SendMessageW(host->Window(), WM_COMMAND, 105, 0);
    EXPECT_EQ(L"abef", std::wstring(edit->GetText()));
    edit->ClearAll();
    EXPECT_EQ(L"", std::wstring(edit->GetText()));
    Manager().RemoveMessageFilter(&reader);
}

TEST_F(RichEditTest, HostAnswers) {
    CRichEditUI* edit = Add(RECT{10, 10, 200, 60}, L"plain");
    CTxtWinHost* host = edit->GetHost();
    ASSERT_NE(nullptr, host);
    void* out = nullptr;
    EXPECT_EQ(S_OK, host->QueryInterface(IID_VeneerTextHost, &out));
    EXPECT_EQ(static_cast<ITextHost*>(host), out);
    host->Release();
    EXPECT_EQ(S_OK, host->QueryInterface(IID_IUnknown, &out));
    host->Release();
    out = &out;
    EXPECT_EQ(E_NOINTERFACE, host->QueryInterface(IID_VeneerTextServices, &out));
    EXPECT_EQ(nullptr, out);

    struct Row {
        std::vector<std::pair<const wchar_t*, const wchar_t*>> attributes;
        DWORD bits;
        DWORD bars;
        WCHAR password;
    } rows[] = {
        {{}, 0x423, 0, 0},
        {{{L"readonly", L"true"}}, 0x427, 0, 0},
        {{{L"password", L"true"}}, 0x433, 0, L'*'},
        {{{L"multiline", L"false"}, {L"rich", L"false"}}, 0x420, 0, 0},
        {{{L"vscrollbar", L"true"}, {L"autohscroll", L"true"}}, 0x023, WS_VSCROLL | ES_DISABLENOSCROLL | ES_AUTOHSCROLL, 0},
        {{{L"hscrollbar", L"true"}, {L"autovscroll", L"true"}}, 0x023, WS_HSCROLL | ES_DISABLENOSCROLL | ES_AUTOVSCROLL, 0},
    };
    for (size_t i = 0; i < sizeof(rows) / sizeof(rows[0]); ++i) {
        SCOPED_TRACE(testing::Message() << "row " << i);
        CRichEditUI* field = Add(RECT{10, 70, 200, 120}, L"styled", rows[i].attributes);
        ASSERT_NE(nullptr, field->GetHost());
        DWORD bits = 0, bars = 0;
        field->GetHost()->TxGetPropertyBits(0xFFFFFFFF, &bits);
        EXPECT_EQ(rows[i].bits, bits);
        field->GetHost()->TxGetPropertyBits(0x4, &bits);
        EXPECT_EQ(rows[i].bits & 0x4, bits);
        field->GetHost()->TxGetScrollBars(&bars);
        EXPECT_EQ(rows[i].bars, bars);
        WCHAR ch = 1;
        field->GetHost()->TxGetPasswordChar(&ch);
        EXPECT_EQ(rows[i].password, ch);
        field->SetVisible(false);
    }

    for (int index : {COLOR_WINDOWTEXT, COLOR_WINDOW, COLOR_HIGHLIGHT, COLOR_GRAYTEXT}) {
        const COLORREF system = GetSysColor(index);
        EXPECT_EQ(system == 0 ? 1u : system, host->TxGetSysColor(index)) << index;
    }

    // A resize request moves the text rectangle, never the control.
    const RECT before = edit->GetPos();
    const RECT client = host->GetClientRect();
    REQRESIZE request = {};
    request.rc = RECT{0, 0, 50, 20};
    EXPECT_EQ(S_OK, host->TxNotify(EN_REQUESTRESIZE, &request));
    const RECT after = host->GetClientRect();
    EXPECT_EQ(client.left, after.left);
    EXPECT_EQ(client.top, after.top);
    EXPECT_EQ(client.left + 50, after.right);
    EXPECT_EQ(client.top + 20, after.bottom);
    EXPECT_TRUE(EqualRect(&before, &edit->GetPos()));
}

TEST_F(RichEditTest, DrawsInsideItsTextRectangle) {
    const RECT item = {10, 10, 300, 70};
    CRichEditUI* edit = Add(item, L"ink", {{L"textpadding", L"10,8,10,8"}});
    std::wstring lots;
    for (int i = 0; i < 12; ++i) lots += L"HHHH HHHH HHHH HHHH ";
    edit->SetText(lots.c_str());
    const uitest::Capture full = Paint("richedit-ink");
    const RECT scaled = edit->GetPos();
    const RECT text = {scaled.left + S(10), scaled.top + S(8), scaled.right - S(10), scaled.bottom - S(8)};
    int outside = 0, inside = 0;
    for (int y = 0; y < full.height; ++y) {
        for (int x = 0; x < full.width; ++x) {
            const POINT p = {x, y};
            const bool ink = full.At(x, y) != 0xFFFFFF;
            if (PtInRect(&text, p)) {
                inside += ink;
            } else {
                outside += ink;
            }
        }
    }
    EXPECT_GT(inside, 0);
    EXPECT_EQ(0, outside);

    // One 'H': the engine's ink is as tall as GDI's in the same font.
    edit->SetText(L"H");
    const std::vector<int> rows = InkRows(Paint("richedit-h"), text);
    ASSERT_FALSE(rows.empty());
    uitest::Surface surface(200, 100);
    HGDIOBJ old = SelectObject(surface.DC(), Manager().GetFontHandle(-1));
    SetBkMode(surface.DC(), TRANSPARENT);
    RECT r = {0, 0, 200, 100};
    DrawTextW(surface.DC(), L"H", 1, &r, DT_SINGLELINE);
    SelectObject(surface.DC(), old);
    const std::vector<int> gdi = InkRows(surface.Grab(), RECT{0, 0, 200, 100});
    ASSERT_FALSE(gdi.empty());
    EXPECT_NEAR(gdi.back() - gdi.front(), rows.back() - rows.front(), 1);
}

TEST_F(RichEditTest, TipAlignColourPasswordAndReadOnly) {
    CRichEditUI* tip = Add(RECT{10, 10, 150, 40}, L"tip", {{L"tipvalue", L"Type here"}});
    CRichEditUI* other = Add(RECT{160, 10, 300, 40}, L"other");
    const RECT area = tip->GetPos();
    EXPECT_GT(CountColor(Paint("richedit-tip"), area, 0xBAC0C5), 0);
    Focus(tip);
    EXPECT_EQ(0, CountColor(Paint("richedit-tip-focused"), area, 0xBAC0C5));
    Focus(other);

    CRichEditUI* centred = Add(RECT{10, 50, 150, 80}, L"centred", {{L"align", L"center"}});
    PARAFORMAT2 para = {};
    para.cbSize = sizeof(para);
    Send(centred, EM_GETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&para));
    EXPECT_EQ(PFA_CENTER, para.wAlignment);

    // Black stays black in a normal window; a layered one gets RGB(0, 0, 1),
    // and a later colour change nudges black in both.
    EXPECT_EQ(RGB(0, 0, 0), DefaultColor(centred));
    Manager().SetLayeredModeFlag(true);
    CRichEditUI* layered = Add(RECT{160, 50, 300, 80}, L"layered");
    Manager().SetLayeredModeFlag(false);
    EXPECT_EQ(RGB(0, 0, 1), DefaultColor(layered));
    for (CRichEditUI* edit : {centred, layered}) {
        edit->SetAttribute(L"textcolor", L" #FF000000");
        EXPECT_EQ(RGB(0, 0, 1), DefaultColor(edit));
    }

    // A password field draws what a plain field showing "***" draws.
    CRichEditUI* secret = Add(RECT{10, 90, 150, 120}, L"secret", {{L"password", L"true"}});
    CRichEditUI* stars = Add(RECT{160, 90, 300, 120}, L"stars");
    secret->SetText(L"abc");
    stars->SetText(L"***");
    const uitest::Capture both = Paint("richedit-password");
    const RECT a = secret->GetPos(), b = stars->GetPos();
    int differ = 0;
    for (int y = 0; y < a.bottom - a.top; ++y)
        for (int x = 0; x < a.right - a.left; ++x) differ += both.At(a.left + x, a.top + y) != both.At(b.left + x, b.top + y);
    EXPECT_EQ(0, differ);
    EXPECT_EQ(L"abc", std::wstring(secret->GetText()));

    CRichEditUI* fixed = Add(RECT{10, 130, 150, 160}, L"fixed", {{L"readonly", L"true"}});
    fixed->SetText(L"kept");
    Focus(fixed);
    Type(L"xyz");
    EXPECT_EQ(L"kept", std::wstring(fixed->GetText()));
}

TEST_F(RichEditTest, VerticalBarFollowsTheText) {
    CRichEditUI* edit = Add(RECT{10, 10, 200, 110}, L"long", {{L"vscrollbar", L"true"}});
    std::wstring text;
    for (int i = 1; i <= 40; ++i) text += L"line " + std::to_wstring(i) + L"\r";
    edit->SetText(text.c_str());
    Paint("richedit-long");
    CScrollBarUI* bar = edit->GetVerticalScrollBar();
    ASSERT_NE(nullptr, bar);
    ASSERT_TRUE(bar->IsVisible());
    EXPECT_LT(bar->GetPos().left, edit->GetPos().right);

    // The plain wheel scrolls by lines.
    POINT at = ctltest::Centre(edit->GetPos());
    POINT screen = at;
    ClientToScreen(host->Window(), &screen);
    EXPECT_EQ(0, Send(edit, EM_GETFIRSTVISIBLELINE));
    SendMessageW(host->Window(), WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), MAKELPARAM(screen.x, screen.y));
    const LRESULT wheeled = Send(edit, EM_GETFIRSTVISIBLELINE);
    EXPECT_GT(wheeled, 0);

    // Dragging the thumb down moves the text further.
    Paint("richedit-wheeled");
    const POINT thumb = ctltest::Centre(bar->GetThumbRect());
    Message(WM_MOUSEMOVE, thumb);
    Message(WM_LBUTTONDOWN, thumb, MK_LBUTTON);
    Message(WM_MOUSEMOVE, POINT{thumb.x, thumb.y + S(30)}, MK_LBUTTON);
    const TimerEntry* timer = Manager().FindTimer(bar, CScrollBarUI::kRepeatTimerId);
    ASSERT_NE(nullptr, timer);
    SendMessageW(host->Window(), WM_TIMER, timer->systemId, 0);
    Message(WM_LBUTTONUP, POINT{thumb.x, thumb.y + S(30)});
    EXPECT_GT(Send(edit, EM_GETFIRSTVISIBLELINE), wheeled);

    // Emptied, the bar is gone after the next paint.
    edit->SetText(L"");
    Paint("richedit-emptied");
    EXPECT_FALSE(bar->IsVisible());
}

TEST_F(RichEditTest, WithoutTheEngineOnlyTheSkinPaints) {
    CTxtWinHost::SetEngineLibrary(L"no-such-richedit.dll");
    CRichEditUI* edit = Add(RECT{10, 10, 200, 50}, L"bare", {{L"tipvalue", L"tip"}, {L"bkcolor", L"#FF336699"}});
    EXPECT_EQ(nullptr, edit->GetHost());
    edit->SetText(L"stored");
    EXPECT_EQ(L"", std::wstring(edit->GetText()));
    LRESULT result = 7;
    EXPECT_EQ(S_FALSE, edit->SendTextMessage(WM_CHAR, L'x', 0, &result));
    EXPECT_EQ(7, result);
    const uitest::Capture capture = Paint("richedit-bare");
    const RECT pos = edit->GetPos();
    EXPECT_EQ(0x336699u, capture.At(pos.left + 2, pos.bottom - 2));
    EXPECT_GT(CountColor(capture, pos, 0xBAC0C5), 0);
}

}  // namespace
