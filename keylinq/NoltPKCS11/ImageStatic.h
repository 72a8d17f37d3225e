#pragma once
// A static control that paints a GDI+ image at its natural size, and the
// loaders that make such images from a resource or from memory.
#include <windows.h>
// GDI+ needs the min/max macros and its header whole.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include <cstdint>

class CImageStatic {
public:
    CImageStatic() = default;
    ~CImageStatic();
    CImageStatic(const CImageStatic&) = delete;
    CImageStatic& operator=(const CImageStatic&) = delete;

    // The image to paint (not owned).
    void SetImage(Gdiplus::Image* image) { m_pImage = image; }
    bool Attach(HWND hStatic);

private:
    static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    Gdiplus::Image* m_pImage = nullptr;
    HWND m_hWnd = nullptr;
    WNDPROC m_oldProc = nullptr;
};

// A GDI+ image of a resource's bytes: 0, or the last error as an HRESULT
// when the resource is missing.
uint32_t LoadImageFromResource(HMODULE hModule, UINT id, const wchar_t* type, Gdiplus::Image** ppImage);
// A GDI+ bitmap that owns its pixels, decoded from the bytes (which may be
// released at once): 0x80070057 for null or empty data, 0x80004003 when
// they decode to no image, 0x8007000E when GDI+ cannot allocate the copy.
uint32_t LoadImageFromData(const void* data, uint32_t size, Gdiplus::Image** ppImage);

// GDI+ started for one object's lifetime.
class CGdiplusSession {
public:
    CGdiplusSession() { Gdiplus::GdiplusStartup(&m_token, &m_input, nullptr); }
    ~CGdiplusSession() {
        if (m_token) Gdiplus::GdiplusShutdown(m_token);
    }
    CGdiplusSession(const CGdiplusSession&) = delete;
    CGdiplusSession& operator=(const CGdiplusSession&) = delete;

private:
    Gdiplus::GdiplusStartupInput m_input;
    ULONG_PTR m_token = 0;
};
