// The group box: frame 5 pixels inside the item, caption over its top edge.
#include "GroupBox.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "PaintManager.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {
DWORD ReadColorValue(const wchar_t* value) {
    if (*value == L'#') ++value;
    return static_cast<DWORD>(wcstoul(value, nullptr, 16));
}
}  // namespace

CGroupBoxUI::CGroupBoxUI() { m_inset = RECT{20, 25, 20, 20}; }
CGroupBoxUI::~CGroupBoxUI() = default;

CControlUI* CGroupBoxUI::CreateGroupBoxUI() { return new (std::nothrow) CGroupBoxUI; }

const wchar_t* CGroupBoxUI::GetClassTag() const { return L"GroupBox"; }

void* CGroupBoxUI::FindInterface(const wchar_t* tag) {
    if (tag && (CompareTextNoCase(tag, L"GroupBox") == 0 || CompareTextNoCase(tag, L"VerticalLayout") == 0)) {
        return this;
    }
    return CContainerUI::FindInterface(tag);
}

void CGroupBoxUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (CompareTextNoCase(name, L"textcolor") == 0) {
        m_textColor = ReadColorValue(value);
        Invalidate();
    } else if (CompareTextNoCase(name, L"disabledtextcolor") == 0) {
        m_disabledTextColor = ReadColorValue(value);
        Invalidate();
    } else if (CompareTextNoCase(name, L"font") == 0) {
        m_font = _wtoi(value);
        Invalidate();
    } else {
        CVerticalLayoutUI::SetAttribute(name, value);
    }
}

RECT CGroupBoxUI::FrameRect() const {
    RECT frame = m_item;
    InflateRect(&frame, -5, -5);
    return frame;
}

SIZE CGroupBoxUI::MeasureCaption() {
    if (!m_manager) return SIZE{};
    const RECT frame = FrameRect();
    RECT rect = {0, 0, std::max<LONG>(frame.right - frame.left, GetFixedXY().cx), 20};
    CSkinRenderer::DrawText(m_manager->GetPaintDC(), m_manager, rect, GetText(), 0, m_font, m_textStyle | DT_CALCRECT);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

void CGroupBoxUI::PaintText(HDC hdc) {
    const CUIString text = GetText();
    if (text.IsEmpty() || !m_manager) return;
    if (m_textColor == 0) m_textColor = m_manager->GetDefaultFontColor();
    if (m_disabledTextColor == 0) m_disabledTextColor = m_manager->GetDefaultDisabledColor();
    const RECT frame = FrameRect();
    const SIZE size = MeasureCaption();
    RECT caption = {frame.left + 15, m_item.top, frame.left + 15 + size.cx, m_item.top + size.cy};
    CSkinRenderer::FillColor(hdc, caption, m_colorHsl ? ApplyHslAdjust(m_bkColor) : m_bkColor);
    CSkinRenderer::DrawText(hdc, m_manager, caption, text, IsEnabled() ? m_textColor : m_disabledTextColor, m_font,
                            m_textStyle);
}

void CGroupBoxUI::PaintBorder(HDC hdc) {
    const int size = GetBorderSize();
    const SIZE round = GetBorderRound();
    if (size > 0) {
        const DWORD chosen = IsFocused() && m_focusBorderColor != 0 ? m_focusBorderColor : m_borderColor;
        const DWORD color = m_colorHsl ? ApplyHslAdjust(chosen) : chosen;
        const RECT frame = FrameRect();
        if (round.cx > 0 || round.cy > 0) {
            CSkinRenderer::DrawRoundRect(hdc, frame, size, round.cx, round.cy, color, m_borderStyle);
        } else {
            CSkinRenderer::DrawRect(hdc, frame, size, color, m_borderStyle);
        }
    }
    // The caption lies over the frame line.
    PaintText(hdc);
}

}  // namespace Veneer
