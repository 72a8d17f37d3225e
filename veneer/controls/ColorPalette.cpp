// The colour palette: a hue/lightness field and a saturation bar drawn from
// a memory bitmap, and the mouse input that picks a colour.
#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <new>

#include "Button.h"
#include "PaintManager.h"
#include "SmallControls.h"

namespace Veneer {

namespace {
bool Is(const wchar_t* name, const wchar_t* expected) { return CompareTextNoCase(name, expected) == 0; }

float HueToRgb(float p, float q, float t) {
    if (t < 0) t += 1;
    if (t > 1) t -= 1;
    if (6 * t < 1) return p + (q - p) * 6 * t;
    if (2 * t < 1) return q;
    if (3 * t < 2) return p + (q - p) * (0.6666667f - t) * 6;
    return p;
}

int Clamp(int value, int low, int high) { return std::min(std::max(value, low), high); }
}  // namespace

DWORD HslToRgb(float h, float s, float l) {
    int r, g, b;
    if (s == 0) {
        r = g = b = static_cast<int>(l * 255);
    } else {
        const float q = l < 0.5f ? l * (1 + s) : l + s - l * s;
        const float p = 2 * l - q;
        r = static_cast<int>(HueToRgb(p, q, h + 0.33333334f) * 255);
        g = static_cast<int>(HueToRgb(p, q, h) * 255);
        b = static_cast<int>(HueToRgb(p, q, h - 0.33333334f) * 255);
    }
    return (static_cast<DWORD>(r & 0xFF) << 16) | (static_cast<DWORD>(g & 0xFF) << 8) | static_cast<DWORD>(b & 0xFF);
}

CColorPaletteUI::CColorPaletteUI() = default;

CColorPaletteUI::~CColorPaletteUI() {
    if (m_memoryDC) {
        if (m_oldBitmap) SelectObject(m_memoryDC, m_oldBitmap);
        DeleteDC(m_memoryDC);
    }
    if (m_bitmap) DeleteObject(m_bitmap);
    free(m_pixels);
}

CControlUI* CColorPaletteUI::CreateColorPaletteUI() { return new (std::nothrow) CColorPaletteUI; }

const wchar_t* CColorPaletteUI::GetClassTag() const { return L"ColorPalette"; }

void* CColorPaletteUI::FindInterface(const wchar_t* tag) {
    if (tag && (Is(tag, L"ColorPalette") || Is(tag, L"Control"))) return this;
    return nullptr;
}

void CColorPaletteUI::OnInitialize() {
    CControlUI::OnInitialize();
    if (!m_manager || m_memoryDC) return;
    HDC paintDC = m_manager->GetPaintDC();
    m_memoryDC = CreateCompatibleDC(paintDC);
    m_bitmap = CreateCompatibleBitmap(paintDC, kBitmapWidth, kBitmapHeight);
    if (!m_memoryDC || !m_bitmap) return;
    m_oldBitmap = SelectObject(m_memoryDC, m_bitmap);
    GetObjectW(m_bitmap, sizeof(m_bitmapInfo), &m_bitmapInfo);
    m_pixels = static_cast<BYTE*>(calloc(static_cast<size_t>(m_bitmapInfo.bmWidthBytes) * m_bitmapInfo.bmHeight, 1));
}

void CColorPaletteUI::SetPos(RECT rect, bool invalidate) {
    CControlUI::SetPos(rect, invalidate);
    m_cursor.x = m_item.left + (m_item.right - m_item.left) * m_hue / 360;
    m_cursor.y = m_item.top + (200 - m_lightness) * m_fieldHeight / 200;
    UpdatePalletMap();
    UpdateBarMap();
}

void CColorPaletteUI::PutPixel(int column, int row, DWORD rgb) {
    if (rgb == 0) rgb = 0x010000;   // pure black is written as red 1
    BYTE* p = m_pixels + column * m_bitmapInfo.bmBitsPixel / 8 + row * m_bitmapInfo.bmWidthBytes;
    p[0] = static_cast<BYTE>(rgb);
    p[1] = static_cast<BYTE>(rgb >> 8);
    p[2] = static_cast<BYTE>(rgb >> 16);
}

void CColorPaletteUI::FlushBitmap() {
    SetBitmapBits(m_bitmap, static_cast<DWORD>(m_bitmapInfo.bmWidthBytes) * m_bitmapInfo.bmHeight, m_pixels);
}

void CColorPaletteUI::UpdatePalletMap() {
    if (!m_pixels || m_bitmapInfo.bmBitsPixel < 24) return;
    const float s = static_cast<float>(m_saturation) / 200;
    for (int k = 0; k < 200; ++k) {
        const float l = static_cast<float>(k) / 200;
        for (int i = 0; i < 360; ++i) PutPixel(i, 200 - k, HslToRgb(static_cast<float>(i) / 360, s, l));
    }
    FlushBitmap();
}

void CColorPaletteUI::UpdateBarMap() {
    if (!m_pixels || m_bitmapInfo.bmBitsPixel < 24) return;
    const float h = static_cast<float>(m_hue) / 360;
    const float l = static_cast<float>(m_lightness) / 200;
    for (int row = kBarTop; row < kBarTop + m_barHeight; ++row) {
        for (int j = 0; j < 200; ++j) PutPixel(j, row, HslToRgb(h, static_cast<float>(j) / 200, l));
    }
    FlushBitmap();
}

DWORD CColorPaletteUI::GetColor() const {
    return 0xFF000000 | HslToRgb(static_cast<float>(m_hue) / 360, static_cast<float>(m_saturation) / 200,
                                 static_cast<float>(m_lightness) / 200);
}

void CColorPaletteUI::SetThumbImage(const wchar_t* image) {
    const wchar_t* value = image ? image : L"";
    if (m_thumbImage.Compare(value) == 0) return;
    m_thumbImage = value;
    if (IsVisible()) MarkForLayout();
}

void CColorPaletteUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (Is(name, L"palletheight")) {
        m_fieldHeight = static_cast<int>(wcstol(value, nullptr, 10));
    } else if (Is(name, L"barheight")) {
        m_barHeight = std::min(static_cast<int>(wcstol(value, nullptr, 10)), static_cast<int>(kMaxBarHeight));
    } else if (Is(name, L"thumbimage")) {
        SetThumbImage(value);
    } else {
        CControlUI::SetAttribute(name, value);
    }
}

void CColorPaletteUI::PaintBackgroundColor(HDC hdc) { PaintPallet(hdc); }

void CColorPaletteUI::PaintPallet(HDC hdc) {
    if (!m_memoryDC || !m_bitmap) return;
    const int saved = SaveDC(hdc);
    SetStretchBltMode(hdc, HALFTONE);
    const int width = m_item.right - m_item.left;
    StretchBlt(hdc, m_item.left, m_item.top, width, m_fieldHeight, m_memoryDC, 0, 1, 360, 200, SRCCOPY);
    StretchBlt(hdc, m_item.left, m_item.bottom - m_barHeight, width, m_barHeight, m_memoryDC, 0, kBarTop, 200,
               m_barHeight, SRCCOPY);
    if (!m_thumbImage.IsEmpty() && m_manager) {
        const POINT marks[2] = {m_cursor,
                                POINT{m_item.left + width * m_saturation / 200, m_item.bottom - m_barHeight / 2}};
        for (const POINT& mark : marks) {
            RECT dest = {mark.x - 4 - m_item.left, mark.y - 4 - m_item.top, mark.x + 4 - m_item.left,
                         mark.y + 4 - m_item.top};
            m_manager->GetDpiScaler()->UnscaleRect(dest);
            CUIString modifier;
            modifier.Format(L"dest='%d,%d,%d,%d'", dest.left, dest.top, dest.right, dest.bottom);
            DrawImage(hdc, m_thumbImage, modifier);
        }
    }
    RestoreDC(hdc, saved);
}

void CColorPaletteUI::PickInField(POINT point) {
    const int width = m_item.right - m_item.left;
    m_hue = Clamp((point.x - m_item.left) * 360 / width, 0, 360);
    m_lightness = Clamp(200 - (point.y - m_item.top) * 200 / m_fieldHeight, 0, 200);
    m_cursor.x = Clamp(point.x, m_item.left, m_item.right);
    m_cursor.y = Clamp(point.y, m_item.top, m_item.top + m_fieldHeight);
    UpdateBarMap();
}

void CColorPaletteUI::HandleEvent(ControlEvent& event) {
    CControlUI::HandleEvent(event);
    if (event.type != EventButtonDown && event.type != EventButtonUp && event.type != EventMouseMove) return;
    const int width = m_item.right - m_item.left;
    // Without a width or a field there is nothing to pick from (and every
    // step below would divide by 0).
    if (width <= 0 || m_fieldHeight <= 0) return;
    const POINT p = event.mouse;
    if (event.type == EventButtonDown) {
        if (p.x >= m_item.left && p.x < m_item.right && p.y >= m_item.top && p.y < m_item.top + m_fieldHeight) {
            PickInField(p);
            m_dragFlags |= ButtonPushed;
            m_draggingField = true;
        } else if (p.x >= m_item.left && p.x < m_item.right && p.y >= m_item.bottom - m_barHeight &&
                   p.y < m_item.bottom) {
            m_saturation = Clamp((p.x - m_item.left) * 200 / width, 0, 200);
            m_dragFlags |= ButtonPushed;
            m_draggingBar = true;
            UpdatePalletMap();
        }
    } else if (event.type == EventButtonUp) {
        if (IsEnabled() && m_manager) m_manager->SendNotification(this, L"colorchanged", GetColor());
        m_dragFlags &= ~ButtonPushed;
        m_draggingField = m_draggingBar = false;
    } else {
        if (!(m_dragFlags & ButtonPushed)) m_draggingField = m_draggingBar = false;
        if (m_draggingField) {
            if (p.x - m_item.left >= 0 && p.y - m_item.top >= 0 && p.x - m_item.left <= m_item.right &&
                p.y - m_item.top <= m_item.top + m_fieldHeight) {
                PickInField(p);
            }
        } else if (m_draggingBar) {
            m_saturation = Clamp((p.x - m_item.left) * 200 / width, 0, 200);
            UpdatePalletMap();
        }
    }
    Invalidate();
}

}  // namespace Veneer
