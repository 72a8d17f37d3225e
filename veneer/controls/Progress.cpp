// The progress bar: a sound range, the colour or image fill of the filled
// part and the percentage text.
#include "Progress.h"

#include <climits>
#include <cwchar>
#include <new>

#include "PaintManager.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {
bool Is(const wchar_t* name, const wchar_t* expected) { return CompareTextNoCase(name, expected) == 0; }
}  // namespace

CProgressUI::CProgressUI() {
    m_textStyle = DT_CENTER | DT_SINGLELINE;
    SetFixedHeight(12);
}
CProgressUI::~CProgressUI() = default;

CControlUI* CProgressUI::CreateProgressUI() { return new (std::nothrow) CProgressUI; }

const wchar_t* CProgressUI::GetClassTag() const { return L"Progress"; }

void* CProgressUI::FindInterface(const wchar_t* tag) {
    if (tag && Is(tag, L"Progress")) return this;
    return CLabelUI::FindInterface(tag);
}

void CProgressUI::SetHorizontal(bool on) {
    if (m_horizontal == on) return;
    m_horizontal = on;
    Invalidate();
}

void CProgressUI::SetStretchForeground(bool on) {
    if (m_stretchFore == on) return;
    m_stretchFore = on;
    Invalidate();
}

void CProgressUI::SetMinValue(int value) {
    m_min = value;
    Invalidate();
}

void CProgressUI::SetMaxValue(int value) {
    m_max = value;
    Invalidate();
}

void CProgressUI::SetValue(int value) {
    if (value == m_value || value < m_min || value > m_max) return;
    m_value = value;
    Invalidate();
    UpdateValueText();
}

void CProgressUI::UpdateValueText() {
    if (!m_showText) return;
    const long long range = static_cast<long long>(m_max) - m_min;
    const double percent =
        range > 0 ? static_cast<double>(static_cast<long long>(m_value) - m_min) * 100.0 / static_cast<double>(range)
                  : 0.0;
    CUIString text;
    text.Format(L"%.0f%%", percent);
    SetText(text);
}

void CProgressUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (Is(name, L"hor")) {
        SetHorizontal(CompareTextNoCase(value, L"true") == 0);
    } else if (Is(name, L"min")) {
        SetMinValue(static_cast<int>(wcstol(value, nullptr, 10)));
    } else if (Is(name, L"max")) {
        SetMaxValue(static_cast<int>(wcstol(value, nullptr, 10)));
    } else if (Is(name, L"value")) {
        SetValue(static_cast<int>(wcstol(value, nullptr, 10)));
    } else if (Is(name, L"isstretchfore")) {
        SetStretchForeground(CompareTextNoCase(value, L"true") == 0);
    } else {
        CLabelUI::SetAttribute(name, value);
    }
}

long long CProgressUI::MakeRangeSound() {
    // A maximum of INT_MAX + 1 cannot be stored: the range then counts as 1
    // with the maximum left equal to the minimum.
    if (m_max <= m_min) m_max = m_min == INT_MAX ? m_min : m_min + 1;
    if (m_value > m_max) m_value = m_max;
    if (m_value < m_min) m_value = m_min;
    const long long range = static_cast<long long>(m_max) - m_min;
    return range > 0 ? range : 1;
}

long long CProgressUI::FilledPart(long long extent, long long range) const {
    if (m_horizontal) return extent * (static_cast<long long>(m_value) - m_min) / range;
    return extent * (static_cast<long long>(m_max) - m_value) / range;
}

RECT CProgressUI::FilledRect() {
    const long long range = MakeRangeSound();
    const int width = m_item.right - m_item.left;
    const int height = m_item.bottom - m_item.top;
    if (m_horizontal) return RECT{0, 0, static_cast<int>(FilledPart(width, range)), height};
    return RECT{0, static_cast<int>(FilledPart(height, range)), width, height};
}

void CProgressUI::PaintForegroundColor(HDC hdc) {
    MakeRangeSound();
    if (m_foreColor == 0) return;
    RECT filled = FilledRect();
    OffsetRect(&filled, m_item.left, m_item.top);
    CSkinRenderer::FillColor(hdc, filled, m_colorHsl ? ApplyHslAdjust(m_foreColor) : m_foreColor);
}

void CProgressUI::PaintForegroundImage(HDC hdc) {
    MakeRangeSound();
    if (m_foreImage.IsEmpty()) return;
    const RECT placed = FilledRect();
    RECT filled = placed;
    if (m_manager) m_manager->GetDpiScaler()->UnscaleRect(filled);
    if (m_stretchFore) {
        m_foreModifier.Format(L"dest='%d,%d,%d,%d'", filled.left, filled.top, filled.right, filled.bottom);
    } else {
        // The source is read in the pixels of the picture drawn, which is
        // the scale's own variant: the placed (scaled) part of it.
        m_foreModifier.Format(L"dest='%d,%d,%d,%d' source='%d,%d,%d,%d'", filled.left, filled.top, filled.right,
                              filled.bottom, placed.left, placed.top, placed.right, placed.bottom);
    }
    DrawImage(hdc, m_foreImage, m_foreModifier);
}

}  // namespace Veneer
