#pragma once
// The skin renderer: image loading (skin files, module resources and plain
// paths decoded into premultiplied 32-bit DIB sections, or GDI+ images), and
// static drawing functions over a GDI device context: nine-grid images,
// translucent fills, gradients, colour arithmetic, plain and marked-up text,
// lines and outlines. Colours are 0xAARRGGBB throughout.
#include <windows.h>

#include "ResourceCache.h"

namespace Gdiplus { class Image; }

namespace Veneer {

class CControlUI;

// Narrows a device context's clip to a rectangle (or a rounded one) and puts
// the former clip back when it goes out of scope.
class CClipScope {
public:
    CClipScope() = default;
    ~CClipScope();
    CClipScope(const CClipScope&) = delete;
    CClipScope& operator=(const CClipScope&) = delete;

    static void ClipToRect(HDC hdc, const RECT& rect, CClipScope& scope);
    static void ClipToRoundRect(HDC hdc, const RECT& rect, const RECT& item, int width, int height,
                                CClipScope& scope);

private:
    RECT m_rect = {};
    HDC m_hdc = nullptr;
    HRGN m_region = nullptr;
    HRGN m_saved = nullptr;
};

// One pixel of a premultiplied 32-bit DIB (blue, green, red, alpha) from
// straight colour; an opaque pixel keeps its colour exactly.
inline void StorePremultiplied(BYTE* px, BYTE r, BYTE g, BYTE b, BYTE a) {
    px[3] = a;
    px[0] = a == 255 ? b : static_cast<BYTE>(b * a / 255);
    px[1] = a == 255 ? g : static_cast<BYTE>(g * a / 255);
    px[2] = a == 255 ? r : static_cast<BYTE>(r * a / 255);
}

class CSkinRenderer {
public:
    // ---- images and colours
    static bool DrawImage(const RECT& source, HDC hdc, HBITMAP bitmap, const RECT& dest, const RECT& paint,
                          const RECT& corners, bool hasAlpha, BYTE fade, bool hole, bool xtiled, bool ytiled,
                          int scale);
    static bool DrawImageRequest(HDC hdc, CPaintManagerUI* manager, const RECT& item, const RECT& paint,
                                 const wchar_t* resourceType, const RECT& dest, const RECT& source,
                                 const RECT& corners, BYTE fade, bool hole, bool xtiled, bool ytiled,
                                 const wchar_t* file, DWORD mask);
    static bool DrawImageSpec(const ImageDrawSpec* spec, const RECT& item, HDC hdc, CPaintManagerUI* manager,
                              const RECT& paint);
    static void FillColor(HDC hdc, const RECT& rect, DWORD color);
    static void DrawGradient(HDC hdc, const RECT& rect, DWORD color1, DWORD color2, bool vertical, int steps);
    static void RgbToHsl(DWORD color, float* hue, float* saturation, float* lightness);
    static void HslToRgb(DWORD* color, float hue, float saturation, float lightness);
    static DWORD ShiftColorHsl(DWORD color, short hue, short saturation, short lightness);
    static DWORD BlendPixel(float sourceWeight, float destWeight, DWORD dest, DWORD source);
    static BOOL WINAPI SoftAlphaBlend(HDC dest, int dx, int dy, int dw, int dh, HDC src, int sx, int sy, int sw,
                                      int sh, BLENDFUNCTION blend);
    static HBITMAP CreateArgbBitmap(HDC hdc, int width, int height, DWORD** pixels);
    static HBITMAP RenderControlBitmap(CPaintManagerUI* manager, CControlUI* control, const RECT& rect);

    // ---- text and primitives
    static void DrawLine(HDC hdc, const RECT& rect, int width, DWORD color, int style = PS_SOLID);
    static void DrawRect(HDC hdc, const RECT& rect, int width, DWORD color, int style = PS_SOLID);
    static void DrawRoundRect(HDC hdc, const RECT& rect, int width, int cornerWidth, int cornerHeight, DWORD color,
                              int style = PS_SOLID);
    static void DrawText(HDC hdc, CPaintManagerUI* manager, RECT& rect, const wchar_t* text, DWORD color, int font,
                         UINT style);
    static void DrawHtmlText(HDC hdc, CPaintManagerUI* manager, RECT& rect, const wchar_t* text, DWORD color,
                             RECT* links, CUIString* linkTexts, int& linkCount, int font, UINT style);

#ifdef VENEER_TEST_HOOKS
    // Tests: draw without msimg32 (the software blend and the banded gradient).
    static void SetSoftwareOnly(bool on);
#endif

    // ---- image loading
    static LoadedImage* LoadImage(const wchar_t* name, DWORD mask = 0);
    static LoadedImage* LoadImageFromSource(const wchar_t* name, const wchar_t* resourceType, DWORD mask = 0);
    // Bytes of an image (resource, skin file, plain path); free them with free().
    static bool ReadImageBytes(const wchar_t* name, const wchar_t* resourceType, BYTE** bytes, DWORD* size);
    static LoadedImage* DecodeImage(const BYTE* bytes, DWORD size, DWORD mask);
    static void FreeImage(LoadedImage* image);
    static void RestoreImagePixels(LoadedImage* image);
    static Gdiplus::Image* LoadGdiplusImage(const wchar_t* name);
    // The image reads its stream for as long as it lives: free it only with
    // FreeGdiplusImage, which disposes the image and then releases the stream.
    static Gdiplus::Image* GdiplusImageFromBytes(const BYTE* bytes, DWORD size);
    static void FreeGdiplusImage(Gdiplus::Image* image);
};

}  // namespace Veneer
