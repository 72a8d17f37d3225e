#pragma once
// Saves a window's picture as PNG under the tree's test-artifacts folder
// (TEST_ARTIFACTS_DIR), for a person to look at after the run.
#include <windows.h>
#include <gdiplus.h>

#include <string>

#include "HostPaths.h"

// The PNG file written, or empty when nothing could be saved.
inline std::wstring SaveWindowCapture(HWND hwnd, const wchar_t* name) {
    const std::wstring dir = Widen(HostEnvPath("TEST_ARTIFACTS_DIR"));
    if (dir.empty() || !IsWindow(hwnd)) return std::wstring();
    CreateDirectoryW(dir.c_str(), nullptr);
    const std::wstring path = dir + L"\\" + name + L".png";

    RECT rc = {};
    GetWindowRect(hwnd, &rc);
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0) return std::wstring();
    // Painted first (the window may belong to another process), then read
    // from the window's own DC.
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    HDC screen = GetWindowDC(hwnd);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY);
    SelectObject(mem, old);

    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    bool saved = false;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
        const CLSID pngEncoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
        {
            Gdiplus::Bitmap picture(bmp, nullptr);
            saved = picture.Save(path.c_str(), &pngEncoder, nullptr) == Gdiplus::Ok;
        }
        Gdiplus::GdiplusShutdown(token);
    }
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(hwnd, screen);
    return saved ? path : std::wstring();
}
