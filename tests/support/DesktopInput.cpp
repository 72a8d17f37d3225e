// Desktop input, window look-ups and captures for the dialog tests.
#include "DesktopInput.h"

#include <cstdio>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "HostPaths.h"

namespace desk {

void Key(WORD vk, std::vector<WORD> modifiers) {
    std::vector<INPUT> inputs;
    auto add = [&inputs](WORD key, bool up) {
        INPUT in = {};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = key;
        in.ki.wScan = WORD(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
        in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(in);
    };
    for (WORD m : modifiers) add(m, false);
    add(vk, false);
    add(vk, true);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) add(*it, true);
    SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
    Sleep(20);
}

void Type(const char* text) {
    for (const char* p = text; *p; ++p) {
        const char c = *p;
        if (c >= 'a' && c <= 'z') Key(WORD(c - 'a' + 'A'));
        else Key(WORD(c));
    }
}

std::wstring Describe(HWND hWnd) {
    if (!hWnd) return L"(none)";
    wchar_t cls[64] = {};
    GetClassNameW(hWnd, cls, 64);
    RECT r = {};
    GetWindowRect(hWnd, &r);
    wchar_t line[256];
    _snwprintf(line, 255, L"%p %ls id %d at (%ld,%ld)-(%ld,%ld)%ls", static_cast<void*>(hWnd), cls,
               GetDlgCtrlID(hWnd), r.left, r.top, r.right, r.bottom, IsWindowVisible(hWnd) ? L"" : L" hidden");
    line[255] = 0;
    return line;
}

std::string InputState(HWND hWnd) {
    POINT cursor = {};
    GetCursorPos(&cursor);
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(hWnd, nullptr), &info);
    wchar_t head[64];
    _snwprintf(head, 63, L"cursor (%ld,%ld)", cursor.x, cursor.y);
    head[63] = 0;
    const std::wstring text = std::wstring(head) + L"; under it " + Describe(WindowFromPoint(cursor)) +
                              L"; foreground " + Describe(GetForegroundWindow()) + L"; the window's thread: active " +
                              Describe(info.hwndActive) + L", focus " + Describe(info.hwndFocus) + L", capture " +
                              Describe(info.hwndCapture);
    std::string out(text.size() * 3 + 1, '\0');
    out.resize(size_t(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &out[0], int(out.size()),
                                          nullptr, nullptr)));
    return out;
}

namespace {

INPUT MouseInput(POINT screen, DWORD flags, int data = 0) {
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dx = LONG((screen.x * 65536LL + cx - 1) / cx);  // the screen's 0..65535 scale
    in.mi.dy = LONG((screen.y * 65536LL + cy - 1) / cy);
    in.mi.mouseData = DWORD(data);
    in.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    return in;
}

}  // namespace

void MoveTo(POINT screen) {
    INPUT in = MouseInput(screen, 0);
    SendInput(1, &in, sizeof(INPUT));
    Sleep(20);
}

void Button(POINT screen, DWORD flag) {
    INPUT in = MouseInput(screen, flag);
    SendInput(1, &in, sizeof(INPUT));
    Sleep(20);
}

void Wheel(POINT screen, int delta) {
    INPUT in = MouseInput(screen, MOUSEEVENTF_WHEEL, delta);
    SendInput(1, &in, sizeof(INPUT));
    Sleep(20);
}

void KeyState(WORD vk, bool down) {
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = WORD(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &in, sizeof(INPUT));
    Sleep(10);
}

void Drag(POINT from, POINT to, int steps, std::vector<WORD> modifiers) {
    if (steps < 1) steps = 1;
    for (WORD m : modifiers) KeyState(m, true);
    MoveTo(from);
    for (WORD m : modifiers) KeyState(m, true);
    Button(from, MOUSEEVENTF_LEFTDOWN);
    for (int i = 1; i <= steps; ++i) {
        const POINT p = {from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps};
        for (WORD m : modifiers) KeyState(m, true);
        MoveTo(p);
    }
    Button(to, MOUSEEVENTF_LEFTUP);
    for (WORD m : modifiers) KeyState(m, false);
}

bool Click(HWND hWnd) {
    RECT r;
    GetWindowRect(hWnd, &r);
    const POINT centre = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    // A click is only a user's click once the control is what lies under
    // the point (a window just opened may not be shown or on top yet).
    HWND under = nullptr;
    for (int i = 0; i < 200 && (under = WindowFromPoint(centre)) != hWnd; ++i) Sleep(10);
    // Each event carries the point itself, as a mouse's events do: the
    // press lands there whatever moved the cursor in between.
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    INPUT in[3] = {};
    const DWORD flags[3] = {MOUSEEVENTF_MOVE, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
    for (int i = 0; i < 3; ++i) {
        in[i].type = INPUT_MOUSE;
        in[i].mi.dx = LONG((centre.x * 65536LL + cx - 1) / cx);  // the screen's 0..65535 scale
        in[i].mi.dy = LONG((centre.y * 65536LL + cy - 1) / cy);
        in[i].mi.dwFlags = flags[i] | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    }
    SendInput(3, in, sizeof(INPUT));
    if (under == hWnd) return true;
    fwprintf(stderr, L"click at (%ld,%ld) meant for %ls found %ls on top (foreground %ls)\n", centre.x, centre.y,
             Describe(hWnd).c_str(), Describe(under).c_str(), Describe(GetForegroundWindow()).c_str());
    return false;
}


bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 1000; ++i) {
        if (condition()) return true;
        Sleep(10);
    }
    return condition();
}

bool WaitFor(const std::function<bool()>& condition, int ms) {
    for (int waited = 0; waited < ms; waited += 10) {
        if (condition()) return true;
        Sleep(10);
    }
    return condition();
}

bool ClickToClose(HWND control, HWND dialog) {
    auto closed = [dialog] { return !IsWindow(dialog); };
    Click(control);
    if (WaitFor(closed, 3000)) return true;
    // As a user would, click once more when the first click changed
    // nothing; say so, with what the desktop looked like.
    fprintf(stderr, "a click left its dialog open, clicking again: %s\n", InputState(dialog).c_str());
    if (!IsWindow(control)) return WaitFor(closed);
    Click(control);
    return WaitFor(closed);
}

namespace {
struct Search {
    int controlId;
    const wchar_t* className;
    HWND found;
};
BOOL CALLBACK FindOne(HWND hWnd, LPARAM lParam) {
    Search* s = reinterpret_cast<Search*>(lParam);
    wchar_t cls[64] = {};
    GetClassNameW(hWnd, cls, 64);
    if (s->className) {
        if (wcscmp(cls, s->className) == 0) {
            s->found = hWnd;
            return FALSE;
        }
        return TRUE;
    }
    if (wcscmp(cls, L"#32770") == 0 && GetDlgItem(hWnd, s->controlId) && IsWindowVisible(hWnd)) {
        s->found = hWnd;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND FindThreadDialog(DWORD threadId, int controlId) {
    Search s{controlId, nullptr, nullptr};
    EnumThreadWindows(threadId, &FindOne, LPARAM(&s));
    return s.found;
}

HWND FindThreadWindow(DWORD threadId, const wchar_t* className) {
    Search s{0, className, nullptr};
    EnumThreadWindows(threadId, &FindOne, LPARAM(&s));
    return s.found;
}

std::wstring Text(HWND hWnd) {
    wchar_t text[256] = {};
    SendMessageW(hWnd, WM_GETTEXT, 256, LPARAM(text));
    return text;
}

bool Capture(HWND hWnd, const char* name) {
    // Painted before it is read: the window's thread handles the paint now.
    RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    SendMessageW(hWnd, WM_NULL, 0, 0);
    RECT r;
    if (!GetWindowRect(hWnd, &r)) return false;
    const int w = r.right - r.left, h = r.bottom - r.top;
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    bool saved = false;
    {
        HDC screen = GetDC(nullptr);
        HDC mem = CreateCompatibleDC(screen);
        HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
        HGDIOBJ old = SelectObject(mem, bmp);
        BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
        SelectObject(mem, old);
        Gdiplus::Bitmap picture(bmp, nullptr);
        UINT count = 0, size = 0;
        Gdiplus::GetImageEncodersSize(&count, &size);
        std::vector<BYTE> buffer(size);
        auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
        Gdiplus::GetImageEncoders(count, size, codecs);
        const std::string dir = HostEnvPath("KEYLINQ_TEST_ARTIFACTS");
        CreateDirectoryA(dir.c_str(), nullptr);
        const std::wstring path = Widen(dir + "\\" + name + ".png");
        for (UINT i = 0; i < count; ++i)
            if (wcscmp(codecs[i].MimeType, L"image/png") == 0)
                saved = picture.Save(path.c_str(), &codecs[i].Clsid, nullptr) == Gdiplus::Ok;
        DeleteObject(bmp);
        DeleteDC(mem);
        ReleaseDC(nullptr, screen);
    }
    Gdiplus::GdiplusShutdown(token);
    return saved;
}

}  // namespace desk
