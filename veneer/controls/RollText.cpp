// The roll text: a label whose text enters at one side of its area and
// slides out at the other, one step per paint (leftwards unless a derived
// control picks another direction).
#include <new>

#include "Button.h"
#include "PaintManager.h"
#include "SkinRenderer.h"
#include "SmallControls.h"

namespace Veneer {

CRollTextUI::CRollTextUI() = default;
CRollTextUI::~CRollTextUI() = default;

CControlUI* CRollTextUI::CreateRollTextUI() { return new (std::nothrow) CRollTextUI; }

const wchar_t* CRollTextUI::GetClassTag() const { return L"RollText"; }

void* CRollTextUI::FindInterface(const wchar_t* tag) {
    if (tag && CompareTextNoCase(tag, L"RollText") == 0) return this;
    return CLabelUI::FindInterface(tag);
}

void CRollTextUI::SetText(const wchar_t* text) {
    CControlUI::SetText(text);
    if (m_autoCalcWidth) MarkParentForLayout();
    m_extent = 0;
}

void CRollTextUI::SetRect(RECT rect) {
    SetPos(rect, true);
    m_extent = 0;
}

void CRollTextUI::HandleEvent(ControlEvent& event) {
    switch (event.type) {
    case EventButtonDown:
        if (IsEnabled() && PtInRect(&m_item, event.mouse)) m_state |= ButtonCaptured;
        return;
    case EventButtonUp:
        if (m_state & ButtonCaptured) {
            m_state &= ~ButtonCaptured;
            if (PtInRect(&m_item, event.mouse) && m_manager) m_manager->SendNotification(this, L"click");
        }
        return;
    case EventSetFocus:
    case EventKillFocus:
        m_focused = event.type == EventSetFocus;
        return;
    case EventTimer:
        // Timed rolls: each tick repaints; the end timer stops itself.
        if (event.wParam == kRollTimerId) {
            Invalidate();
            if (m_extent != 0 && m_offset == 0 && m_manager) m_manager->SendNotification(this, L"textrollend");
            return;
        }
        if (event.wParam == kRollEndTimerId) {
            if (m_manager) {
                m_manager->KillControlTimer(this, kRollEndTimerId);
                m_manager->SendNotification(this, L"textrollend");
            }
            return;
        }
        break;
    default:
        break;
    }
    CControlUI::HandleEvent(event);
}

void CRollTextUI::PaintText(HDC hdc) {
    if (!m_manager) return;
    if (m_textColor == 0) m_textColor = m_manager->GetDefaultFontColor();
    if (m_disabledTextColor == 0) m_disabledTextColor = m_manager->GetDefaultDisabledColor();
    const DWORD color = IsEnabled() ? m_textColor : m_disabledTextColor;
    const CUIString text = GetText();
    if (text.IsEmpty()) return;
    RECT rect = {m_item.left + m_textPadding.left, m_item.top + m_textPadding.top, m_item.right - m_textPadding.right,
                 m_item.bottom - m_textPadding.bottom};
    if (m_extent == 0) {
        RECT measure = rect;
        measure.right += 10000;
        if (m_showHtml) {
            int links = 0;
            CSkinRenderer::DrawHtmlText(hdc, m_manager, measure, text, color, nullptr, nullptr, links, m_font,
                                        m_textStyle | DT_CALCRECT);
        } else {
            CSkinRenderer::DrawText(hdc, m_manager, measure, text, color, m_font, m_textStyle | DT_CALCRECT);
        }
        m_extent = measure.right - measure.left;
        m_textHeight = measure.bottom - measure.top;
        return;
    }
    // The text's box starts just outside the side it enters from and moves
    // by the offset; the roll is over once the box has crossed the area.
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const bool vertical = m_direction == RollUp || m_direction == RollDown;
    const int total = vertical ? m_textHeight + height : m_extent + width;
    switch (m_direction) {
    case RollRight:
        rect.right = rect.left + m_offset;
        rect.left = rect.right - m_extent;
        break;
    case RollUp:
        rect.top += height - m_offset;
        rect.bottom = rect.top + m_textHeight;
        break;
    case RollDown:
        rect.bottom = rect.top + m_offset;
        rect.top = rect.bottom - m_textHeight;
        break;
    default:
        OffsetRect(&rect, width - m_offset, 0);
        rect.right = rect.left + m_extent;
        break;
    }
    if (m_offset > total) {
        m_offset = 0;
    } else {
        m_offset += m_step;
        if (m_offset > total) m_offset = total + 1;
    }
    // The text slides in from outside the area: only the area shows it.
    CClipScope clip;
    CClipScope::ClipToRect(hdc, m_paintRect, clip);
    if (m_showHtml) {
        int links = 0;
        CSkinRenderer::DrawHtmlText(hdc, m_manager, rect, text, color, nullptr, nullptr, links, m_font, m_textStyle);
    } else {
        CSkinRenderer::DrawText(hdc, m_manager, rect, text, color, m_font, m_textStyle);
    }
}

}  // namespace Veneer
