// Desktop input, window look-ups and captures for the dialog tests.
#include "DesktopInput.h"

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

void Click(HWND hWnd) {
    RECT r;
    GetWindowRect(hWnd, &r);
    const POINT centre = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    SetCursorPos(centre.x, centre.y);
    // A click is only a user's click once the control is what lies under
    // the cursor (a window just opened may not be shown or on top yet).
    for (int i = 0; i < 200 && WindowFromPoint(centre) != hWnd; ++i) Sleep(10);
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_MOUSE;
    in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, in, sizeof(INPUT));
}

bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 1000; ++i) {
        if (condition()) return true;
        Sleep(10);
    }
    return condition();
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
