// The image and colour side of the skin renderer: nine-grid images with
// tiling, holes and DPI-scaled borders, translucent fills, gradients, HSL
// arithmetic and the 32-bit bitmaps of layered windows and drag images.
#include <algorithm>
#include <cmath>

#include "Control.h"
#include "PaintManager.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {

typedef BOOL(WINAPI* AlphaBlendFn)(HDC, int, int, int, int, HDC, int, int, int, int, BLENDFUNCTION);
typedef BOOL(WINAPI* GradientFillFn)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG);

bool g_softwareOnly = false;

AlphaBlendFn AlphaBlender() {
    static AlphaBlendFn blend = [] {
        HMODULE module = GetModuleHandleW(L"msimg32.dll");
        AlphaBlendFn fn = module ? reinterpret_cast<AlphaBlendFn>(
                                       reinterpret_cast<void*>(GetProcAddress(module, "AlphaBlend")))
                                 : nullptr;
        return fn;
    }();
    if (g_softwareOnly || !blend) return &CSkinRenderer::SoftAlphaBlend;
    return blend;
}

GradientFillFn GradientFiller() {
    static GradientFillFn fill = [] {
        HMODULE module = GetModuleHandleW(L"msimg32.dll");
        return module ? reinterpret_cast<GradientFillFn>(
                            reinterpret_cast<void*>(GetProcAddress(module, "GradientFill")))
                      : nullptr;
    }();
    return g_softwareOnly ? nullptr : fill;
}

BLENDFUNCTION BlendOf(BYTE fade) {
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, fade, AC_SRC_ALPHA};
    return blend;
}

bool Intersects(const RECT& a, const RECT& b) {
    RECT out;
    return IntersectRect(&out, &a, &b) != FALSE;
}

// One cell: blended or opaque, stretched when the sizes differ.
void Blit(HDC hdc, HDC memory, const RECT& d, const RECT& s, bool blended, BYTE fade) {
    const int dw = d.right - d.left, dh = d.bottom - d.top;
    const int sw = s.right - s.left, sh = s.bottom - s.top;
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
    if (blended) {
        AlphaBlender()(hdc, d.left, d.top, dw, dh, memory, s.left, s.top, sw, sh, BlendOf(fade));
    } else if (dw == sw && dh == sh) {
        BitBlt(hdc, d.left, d.top, dw, dh, memory, s.left, s.top, SRCCOPY);
    } else {
        StretchBlt(hdc, d.left, d.top, dw, dh, memory, s.left, s.top, sw, sh, SRCCOPY);
    }
}

}  // namespace

#ifdef VENEER_TEST_HOOKS
void CSkinRenderer::SetSoftwareOnly(bool on) { g_softwareOnly = on; }
#endif

bool CSkinRenderer::DrawImage(const RECT& S, HDC hdc, HBITMAP bitmap, const RECT& D, const RECT& P,
                              const RECT& corners, bool hasAlpha, BYTE fade, bool hole, bool xtiled, bool ytiled,
                              int scale) {
    if (!hdc || !bitmap) return false;
    HDC memory = CreateCompatibleDC(hdc);
    if (!memory) return false;
    HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
    SetStretchBltMode(hdc, HALFTONE);

    const int cl = corners.left, ct = corners.top, cr = corners.right, cb = corners.bottom;
    const int dl = MulDiv(cl, scale, 100), dt = MulDiv(ct, scale, 100);
    const int dr = MulDiv(cr, scale, 100), db = MulDiv(cb, scale, 100);
    const bool blended = hasAlpha || fade < 255;
    RECT cut;

    if (!blended && D.right - D.left == S.right - S.left && D.bottom - D.top == S.bottom - S.top && cl == 0 &&
        ct == 0 && cr == 0 && cb == 0) {
        // Same size, no borders: copy only the visible part, one to one.
        if (IntersectRect(&cut, &D, &P)) {
            BitBlt(hdc, cut.left, cut.top, cut.right - cut.left, cut.bottom - cut.top, memory,
                   S.left + cut.left - D.left, S.top + cut.top - D.top, SRCCOPY);
        }
        SelectObject(memory, oldBitmap);
        DeleteDC(memory);
        return true;
    }

    if (!hole) {
        const RECT cellD = {D.left + dl, D.top + dt, D.right - dr, D.bottom - db};
        const RECT cellS = {S.left + cl, S.top + ct, S.right - cr, S.bottom - cb};
        if (IntersectRect(&cut, &cellD, &P)) {
            const int tw = cellS.right - cellS.left, th = cellS.bottom - cellS.top;
            const int cw = cellD.right - cellD.left, ch = cellD.bottom - cellD.top;
            if (xtiled && ytiled) {
                if (tw > 0 && th > 0) {
                    for (int y = 0; y < ch; y += th) {
                        const int h = std::min(th, ch - y);
                        for (int x = 0; x < cw; x += tw) {
                            const int w = std::min(tw, cw - x);
                            const RECT d = {cellD.left + x, cellD.top + y, cellD.left + x + w, cellD.top + y + h};
                            if (!Intersects(d, P)) continue;
                            const RECT s = {cellS.left, cellS.top, cellS.left + w, cellS.top + h};
                            Blit(hdc, memory, d, s, blended, fade);
                        }
                    }
                }
            } else if (xtiled) {
                if (tw > 0) {
                    for (int x = 0; x < cw; x += tw) {
                        const int w = std::min(tw, cw - x);
                        const RECT d = {cellD.left + x, cellD.top, cellD.left + x + w, cellD.bottom};
                        if (!Intersects(d, P)) continue;
                        const RECT s = {cellS.left, cellS.top, cellS.left + w, cellS.bottom};
                        Blit(hdc, memory, d, s, blended, fade);
                    }
                }
            } else if (ytiled) {
                if (th > 0) {
                    for (int y = 0; y < ch; y += th) {
                        const int h = std::min(th, ch - y);
                        const RECT d = {cellD.left, cellD.top + y, cellD.right, cellD.top + y + h};
                        if (!Intersects(d, P)) continue;
                        const RECT s = {cellS.left, cellS.top, cellS.right, cellS.top + h};
                        Blit(hdc, memory, d, s, blended, fade);
                    }
                }
            } else {
                Blit(hdc, memory, cellD, cellS, blended, fade);
            }
        }
    }

    struct Cell {
        bool on;
        RECT d, s;
    };
    const Cell cells[] = {
        {cl >= 1 && ct >= 1, {D.left, D.top, D.left + dl, D.top + dt}, {S.left, S.top, S.left + cl, S.top + ct}},
        {ct >= 1, {D.left + dl, D.top, D.right - dr, D.top + dt}, {S.left + cl, S.top, S.right - cr, S.top + ct}},
        {cr >= 1 && ct >= 1, {D.right - dr, D.top, D.right, D.top + dt}, {S.right - cr, S.top, S.right, S.top + ct}},
        {cl >= 1, {D.left, D.top + dt, D.left + dl, D.bottom - db}, {S.left, S.top + ct, S.left + cl, S.bottom - cb}},
        {cr >= 1, {D.right - dr, D.top + dt, D.right, D.bottom - db},
         {S.right - cr, S.top + ct, S.right, S.bottom - cb}},
        {cl >= 1 && cb >= 1, {D.left, D.bottom - db, D.left + dl, D.bottom},
         {S.left, S.bottom - cb, S.left + cl, S.bottom}},
        {cb >= 1, {D.left + dl, D.bottom - db, D.right - dr, D.bottom},
         {S.left + cl, S.bottom - cb, S.right - cr, S.bottom}},
        {cr >= 1 && cb >= 1, {D.right - dr, D.bottom - db, D.right, D.bottom},
         {S.right - cr, S.bottom - cb, S.right, S.bottom}},
    };
    for (const Cell& cell : cells) {
        if (cell.on && Intersects(cell.d, P)) Blit(hdc, memory, cell.d, cell.s, blended, fade);
    }
    SelectObject(memory, oldBitmap);
    DeleteDC(memory);
    return true;
}

bool CSkinRenderer::DrawImageRequest(HDC hdc, CPaintManagerUI* manager, const RECT& item, const RECT& paint,
                                     const wchar_t* resourceType, const RECT& dest, const RECT& sourceIn,
                                     const RECT& corners, BYTE fade, bool hole, bool xtiled, bool ytiled,
                                     const wchar_t* file, DWORD mask) {
    if (!manager || !file || !*file) return false;
    LoadedImage* image =
        manager->GetOrLoadImage(file, resourceType && *resourceType ? resourceType : nullptr, mask, false);
    if (!image) return false;
    RECT source = sourceIn;
    if (source.left == 0 && source.top == 0 && source.right == 0 && source.bottom == 0) {
        source.right = image->width;
        source.bottom = image->height;
    }
    if (source.right > image->width) source.right = image->width;
    if (source.bottom > image->height) source.bottom = image->height;
    RECT cut;
    if (IntersectRect(&cut, &dest, &item) && IntersectRect(&cut, &dest, &paint)) {
        DrawImage(source, hdc, image->bitmap, dest, paint, corners, image->hasAlpha, fade, hole, xtiled, ytiled,
                  manager->GetDpiScaler()->GetScale());
    }
    return true;
}

bool CSkinRenderer::DrawImageSpec(const ImageDrawSpec* spec, const RECT& item, HDC hdc, CPaintManagerUI* manager,
                                  const RECT& paint) {
    if (!manager || !hdc || !spec) return false;
    RECT dest = item;
    const RECT& d = spec->dest;
    if (d.left != 0 || d.top != 0 || d.right != 0 || d.bottom != 0) {
        dest.left = item.left + d.left;
        dest.top = item.top + d.top;
        dest.right = std::min<LONG>(item.right, item.left + d.right);
        dest.bottom = std::min<LONG>(item.bottom, item.top + d.bottom);
    }
    return DrawImageRequest(hdc, manager, item, paint, spec->resourceType, dest, spec->source, spec->corner,
                            spec->fade, spec->hole, spec->xtiled, spec->ytiled, spec->file, spec->mask);
}

void CSkinRenderer::FillColor(HDC hdc, const RECT& rect, DWORD color) {
    const DWORD alpha = color >> 24;
    if (alpha == 0) return;
    if (alpha == 255) {
        SetBkColor(hdc, RGB((color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF));
        ExtTextOutW(hdc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
        return;
    }
    // The blend takes premultiplied pixels: a channel above the alpha would
    // wrap into its neighbour, so each is limited to the alpha first.
    DWORD pixel = color & 0xFF000000;
    for (int shift = 0; shift < 24; shift += 8) {
        const DWORD channel = std::min<DWORD>((color >> shift) & 0xFF, alpha);
        pixel |= channel << shift;
    }
    DWORD* bits = nullptr;
    HBITMAP bitmap = CreateArgbBitmap(hdc, 1, 1, &bits);
    if (!bitmap) return;
    *bits = pixel;
    const RECT source = {0, 0, 1, 1};
    const RECT none = {0, 0, 0, 0};
    DrawImage(source, hdc, bitmap, rect, rect, none, true, 255, false, false, false, 100);
    DeleteObject(bitmap);
}

void CSkinRenderer::DrawGradient(HDC hdc, const RECT& rect, DWORD color1, DWORD color2, bool vertical, int steps) {
    const int alpha = (static_cast<int>(color1 >> 24) + static_cast<int>(color2 >> 24)) / 2;
    if (alpha == 0) return;
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return;
    HDC target = hdc;
    HDC memory = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ oldBitmap = nullptr;
    RECT area = rect;
    if (alpha < 255) {
        memory = CreateCompatibleDC(hdc);
        DWORD* bits = nullptr;
        bitmap = CreateArgbBitmap(hdc, width, height, &bits);
        if (!memory || !bitmap) {
            if (memory) DeleteDC(memory);
            if (bitmap) DeleteObject(bitmap);
            return;
        }
        // Opaque source pixels; the constant alpha does the blending.
        for (int i = 0; i < width * height; ++i) bits[i] = 0xFF000000;
        oldBitmap = SelectObject(memory, bitmap);
        target = memory;
        area = RECT{0, 0, width, height};
    }
    auto channel = [](DWORD c, int shift) { return static_cast<int>((c >> shift) & 0xFF); };
    if (GradientFillFn fill = GradientFiller()) {
        TRIVERTEX vertices[2] = {};
        vertices[0].x = area.left;
        vertices[0].y = area.top;
        vertices[0].Red = static_cast<COLOR16>(channel(color1, 16) << 8);
        vertices[0].Green = static_cast<COLOR16>(channel(color1, 8) << 8);
        vertices[0].Blue = static_cast<COLOR16>(channel(color1, 0) << 8);
        vertices[0].Alpha = 0xFF00;
        vertices[1].x = area.right;
        vertices[1].y = area.bottom;
        vertices[1].Red = static_cast<COLOR16>(channel(color2, 16) << 8);
        vertices[1].Green = static_cast<COLOR16>(channel(color2, 8) << 8);
        vertices[1].Blue = static_cast<COLOR16>(channel(color2, 0) << 8);
        vertices[1].Alpha = 0xFF00;
        GRADIENT_RECT index = {0, 1};
        fill(target, vertices, 2, &index, 1, vertical ? GRADIENT_FILL_RECT_V : GRADIENT_FILL_RECT_H);
    } else {
        const int n = steps < 16 ? 8 : 16;
        const int size = vertical ? area.bottom - area.top : area.right - area.left;
        for (int i = 0; i < n; ++i) {
            auto mix = [&](int shift) { return (channel(color2, shift) * (n - i) + channel(color1, shift) * i) / n; };
            HBRUSH brush = CreateSolidBrush(RGB(mix(16), mix(8), mix(0)));
            RECT band = area;
            if (vertical) {
                band.bottom = area.bottom - i * size / n;
                band.top = area.bottom - (i + 1) * size / n;
            } else {
                band.right = area.right - i * size / n;
                band.left = area.right - (i + 1) * size / n;
            }
            FillRect(target, &band, brush);
            DeleteObject(brush);
        }
    }
    if (memory) {
        // FillRect and GradientFill leave the alpha byte 0: make it opaque.
        BITMAP info = {};
        GetObjectW(bitmap, sizeof(info), &info);
        GdiFlush();
        DWORD* bits = static_cast<DWORD*>(info.bmBits);
        for (int i = 0; bits && i < width * height; ++i) bits[i] |= 0xFF000000;
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, static_cast<BYTE>(alpha), AC_SRC_ALPHA};
        AlphaBlender()(hdc, rect.left, rect.top, width, height, memory, 0, 0, width, height, blend);
        SelectObject(memory, oldBitmap);
        DeleteObject(bitmap);
        DeleteDC(memory);
    }
}

void CSkinRenderer::RgbToHsl(DWORD color, float* hue, float* saturation, float* lightness) {
    const float r = static_cast<float>(color & 0xFF) / 255.0f;
    const float g = static_cast<float>((color >> 8) & 0xFF) / 255.0f;
    const float b = static_cast<float>((color >> 16) & 0xFF) / 255.0f;
    const float mx = std::max(r, std::max(g, b)), mn = std::min(r, std::min(g, b));
    const float l = (mx + mn) / 2.0f;
    float h = 0.0f, s = 0.0f;
    if (mx != mn) {
        const float d = mx - mn;
        s = l <= 0.5f ? d / (mx + mn) : d / (2.0f - mx - mn);
        if (mx == r) {
            h = (g - b) / d;
        } else if (mx == g) {
            h = 2.0f + (b - r) / d;
        } else {
            h = 4.0f + (r - g) / d;
        }
        h *= 60.0f;
        if (h < 0.0f) h += 360.0f;
        if (h >= 360.0f) h -= 360.0f;
    }
    *hue = h;
    *saturation = s;
    *lightness = l;
}

void CSkinRenderer::HslToRgb(DWORD* color, float hue, float saturation, float lightness) {
    const float q = lightness < 0.5f ? lightness * (1.0f + saturation) : lightness + saturation - lightness * saturation;
    const float p = 2.0f * lightness - q;
    auto component = [&](float t) {
        if (t < 0.0f) t += 1.0f;
        if (t > 1.0f) t -= 1.0f;
        float v;
        if (t < 1.0f / 6.0f) {
            v = p + (q - p) * 6.0f * t;
        } else if (t < 0.5f) {
            v = q;
        } else if (t < 2.0f / 3.0f) {
            v = p + (q - p) * (2.0f / 3.0f - t) * 6.0f;
        } else {
            v = p;
        }
        float scaled = v * 255.0f;
        if (scaled < 0.0f) scaled = 0.0f;
        if (scaled > 255.0f) scaled = 255.0f;
        return static_cast<DWORD>(scaled);
    };
    const float h = hue / 360.0f;
    const DWORD r = component(h + 1.0f / 3.0f), g = component(h), b = component(h - 1.0f / 3.0f);
    *color = (*color & 0xFF000000) | r | (g << 8) | (b << 16);
}

DWORD CSkinRenderer::ShiftColorHsl(DWORD color, short hue, short saturation, short lightness) {
    if (hue == 180 && saturation == 100 && lightness == 100) return color;
    float h, s, l;
    RgbToHsl(color, &h, &s, &l);
    h += static_cast<float>(hue - 180);
    if (h <= 0.0f) h += 360.0f;
    if (h >= 360.0f) h -= 360.0f;
    s = std::min(1.0f, s * saturation / 100.0f);
    l = std::min(1.0f, l * lightness / 100.0f);
    HslToRgb(&color, h, s, l);
    return color;
}

DWORD CSkinRenderer::BlendPixel(float x, float y, DWORD dest, DWORD source) {
    DWORD out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        float v = x * static_cast<float>((source >> shift) & 0xFF) + y * static_cast<float>((dest >> shift) & 0xFF);
        if (v > 255.0f) v = 255.0f;
        if (v < 0.0f) v = 0.0f;
        out |= static_cast<DWORD>(v) << shift;
    }
    return out;
}

BOOL WINAPI CSkinRenderer::SoftAlphaBlend(HDC dest, int dx, int dy, int dw, int dh, HDC src, int sx, int sy, int sw,
                                          int sh, BLENDFUNCTION blend) {
    if (dw <= 0 || dh <= 0) return TRUE;
    HDC memory = CreateCompatibleDC(dest);
    if (!memory) return FALSE;
    DWORD* sourceBits = nullptr;
    DWORD* destBits = nullptr;
    HBITMAP sourceBitmap = CreateArgbBitmap(dest, dw, dh, &sourceBits);
    HBITMAP destBitmap = CreateArgbBitmap(dest, dw, dh, &destBits);
    if (!sourceBitmap || !destBitmap) {
        if (sourceBitmap) DeleteObject(sourceBitmap);
        if (destBitmap) DeleteObject(destBitmap);
        DeleteDC(memory);
        return FALSE;
    }
    HGDIOBJ old = SelectObject(memory, sourceBitmap);
    StretchBlt(memory, 0, 0, dw, dh, src, sx, sy, sw, sh, SRCCOPY);
    SelectObject(memory, destBitmap);
    BitBlt(memory, 0, 0, dw, dh, dest, dx, dy, SRCCOPY);
    GdiFlush();
    for (int i = 0; i < dw * dh; ++i) {
        // The source is premultiplied: its colour scales by the constant alpha
        // only, the destination by what the pixel's alpha leaves over.
        const float constant = blend.SourceConstantAlpha / 255.0f;
        float x = static_cast<float>(sourceBits[i] >> 24) * constant / 255.0f;
        if (x < 0.0f) x = 0.0f;
        DWORD s = sourceBits[i];
        DWORD scaled = 0;
        for (int shift = 0; shift < 24; shift += 8) {
            scaled |= static_cast<DWORD>(static_cast<float>((s >> shift) & 0xFF) * constant + 0.5f) << shift;
        }
        destBits[i] = BlendPixel(1.0f, 1.0f - x, destBits[i], scaled);
    }
    BitBlt(dest, dx, dy, dw, dh, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteObject(sourceBitmap);
    DeleteObject(destBitmap);
    DeleteDC(memory);
    return TRUE;
}

HBITMAP CSkinRenderer::CreateArgbBitmap(HDC hdc, int width, int height, DWORD** pixels) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = static_cast<DWORD>(width) * height * 4;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(hdc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (pixels) *pixels = static_cast<DWORD*>(bits);
    return bitmap;
}

HBITMAP CSkinRenderer::RenderControlBitmap(CPaintManagerUI* manager, CControlUI* control, const RECT& rect) {
    if (!manager || !control) return nullptr;
    HDC window = manager->GetPaintDC();
    HDC memory = CreateCompatibleDC(window);
    HBITMAP canvas = CreateCompatibleBitmap(window, rect.right, rect.bottom);
    if (!memory || !canvas) {
        if (memory) DeleteDC(memory);
        if (canvas) DeleteObject(canvas);
        return nullptr;
    }
    HGDIOBJ oldCanvas = SelectObject(memory, canvas);
    control->Paint(memory, rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC copy = CreateCompatibleDC(window);
    HBITMAP result = CreateArgbBitmap(window, width, height, nullptr);
    if (copy && result) {
        HGDIOBJ old = SelectObject(copy, result);
        BitBlt(copy, 0, 0, width, height, memory, rect.left, rect.top, SRCCOPY);
        GdiFlush();
        SelectObject(copy, old);
    }
    if (copy) DeleteDC(copy);
    SelectObject(memory, oldCanvas);
    DeleteObject(canvas);
    DeleteDC(memory);
    return result;
}

}  // namespace Veneer
