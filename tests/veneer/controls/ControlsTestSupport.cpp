#include "ControlsTestSupport.h"

#include "LayoutBuilder.h"
#include "SkinTestSupport.h"

using namespace Veneer;

namespace ctltest {

void Recorder::Notify(NotifyEvent& event) {
    notices.push_back(Notice{event.type.GetData(), event.sender ? event.sender->GetName().GetData() : L"",
                             event.sender, event.wParam, event.lParam});
}

std::vector<std::wstring> Recorder::Seen() const {
    std::vector<std::wstring> out;
    for (const Notice& n : notices) {
        if (n.type == L"windowinit" || n.type == L"windowsize" || n.type == L"mouseenter" || n.type == L"mouseleave" ||
            n.type == L"setfocus" || n.type == L"killfocus" || n.type == L"timer") {
            continue;
        }
        out.push_back(n.type + L":" + n.sender);
    }
    return out;
}

int Recorder::Count(const wchar_t* type) const {
    int count = 0;
    for (const Notice& n : notices) count += n.type == type;
    return count;
}

std::vector<WPARAM> Recorder::WParams(const wchar_t* type) const {
    std::vector<WPARAM> out;
    for (const Notice& n : notices) {
        if (n.type == type) out.push_back(n.wParam);
    }
    return out;
}

// The desktop's cursor stays wherever an earlier program left it; a window
// opened under it would start with a hot control.
static void ParkCursor() {
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);
}

void ControlsFixture::Build(const wchar_t* layout) {
    skintest::UseFolder(skintest::SkinFolder());
    scale = MulDiv(skintest::ExpectedDpi(), 100, 96);
    ParkCursor();
    host.reset(new uitest::HostWindow(100, 100));
    Manager().AddNotifyListener(&recorder);
    CLayoutBuilder builder;
    CControlUI* root = builder.Create(layout, nullptr, nullptr, &Manager());
    if (root) Manager().SetRootControl(root);
    host->Repaint();
    uitest::Pump();
    recorder.Clear();
}

void ControlsFixture::Host(int width, int height, CControlUI* root) {
    skintest::UseFolder(skintest::SkinFolder());
    scale = MulDiv(skintest::ExpectedDpi(), 100, 96);
    ParkCursor();
    host.reset(new uitest::HostWindow(width, height));
    Manager().AddNotifyListener(&recorder);
    Manager().SetRootControl(root);
    host->Repaint();
    uitest::Pump();
    recorder.Clear();
}

void ControlsFixture::TearDownHost() {
    uitest::SetKeyHeld(VK_CONTROL, false);
    host.reset();
}

uitest::Capture ControlsFixture::Paint(const char* name) {
    host->Repaint();
    uitest::Capture capture = host->Grab();
    uitest::SavePng(capture, name);
    return capture;
}

void ControlsFixture::Message(UINT message, POINT point, WPARAM keys) {
    SendMessageW(host->Window(), message, keys, MAKELPARAM(point.x, point.y));
}

void ControlsFixture::Click(POINT point) {
    Message(WM_MOUSEMOVE, point);
    Message(WM_LBUTTONDOWN, point, MK_LBUTTON);
    Message(WM_LBUTTONUP, point);
}

bool ControlsFixture::DesktopClick(POINT point, const wchar_t* type) {
    const int before = recorder.Count(type);
    SetForegroundWindow(host->Window());
    POINT screen = point;
    ClientToScreen(host->Window(), &screen);
    SetCursorPos(screen.x, screen.y);
    for (int i = 0; i < 200 && WindowFromPoint(screen) != host->Window(); ++i) {
        uitest::Pump();
        Sleep(10);
    }
    // Each event carries the point, so the press lands there whatever moved
    // the cursor in between.
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    INPUT in[2] = {};
    const DWORD buttons[2] = {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
    for (int i = 0; i < 2; ++i) {
        in[i].type = INPUT_MOUSE;
        in[i].mi.dx = LONG((screen.x * 65536LL + cx - 1) / cx);
        in[i].mi.dy = LONG((screen.y * 65536LL + cy - 1) / cy);
        in[i].mi.dwFlags = buttons[i] | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    }
    SendInput(2, in, sizeof(INPUT));
    for (int i = 0; i < 500 && recorder.Count(type) == before; ++i) {
        uitest::Pump();
        Sleep(10);
    }
    // Move away so that no later case starts over a hot control.
    ParkCursor();
    uitest::Pump();
    return recorder.Count(type) > before;
}

void ControlsFixture::Raise(CControlUI* control, ControlEventType type, POINT point, WPARAM wParam, WORD key) {
    ControlEvent event = uitest::MouseEvent(type, control, point.x, point.y);
    if (wParam) event.wParam = wParam;
    event.key = key;
    control->RaiseEvent(event);
}

POINT Centre(const RECT& r) { return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

int TextHeight(HFONT font) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW tm = {};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    DeleteDC(dc);
    return tm.tmHeight;
}

SIZE TextExtent(HFONT font, const wchar_t* text) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size = {};
    GetTextExtentPoint32W(dc, text, lstrlenW(text), &size);
    SelectObject(dc, old);
    DeleteDC(dc);
    return size;
}

HCURSOR CurrentCursor() { return GetCursor(); }

bool PumpUntil(const std::function<bool()>& condition, int ms) {
    for (int waited = 0; waited < ms; waited += 10) {
        uitest::Pump();
        if (condition()) return true;
        Sleep(10);
    }
    uitest::Pump();
    return condition();
}

void Settle(int ms) { PumpUntil([] { return false; }, ms); }

namespace {
struct ClassCount {
    const wchar_t* name;
    int count;
};
BOOL CALLBACK CountOfClass(HWND window, LPARAM data) {
    ClassCount* wanted = reinterpret_cast<ClassCount*>(data);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (wcscmp(name, wanted->name) == 0 && IsWindow(window)) ++wanted->count;
    return TRUE;
}
}  // namespace

int ThreadWindows(const wchar_t* className) {
    ClassCount wanted = {className, 0};
    EnumThreadWindows(GetCurrentThreadId(), CountOfClass, reinterpret_cast<LPARAM>(&wanted));
    return wanted.count;
}

}  // namespace ctltest
