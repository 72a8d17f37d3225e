// Marked-up text whose links report clicks.
#include "Text.h"

#include <new>

#include "PaintManager.h"
#include "SkinRenderer.h"

namespace Veneer {

CTextUI::CTextUI() {
    m_textStyle = DT_WORDBREAK;
    m_textPadding = RECT{2, 0, 2, 0};
}
CTextUI::~CTextUI() = default;

CControlUI* CTextUI::CreateTextUI() { return new (std::nothrow) CTextUI; }

const wchar_t* CTextUI::GetClassTag() const { return L"Text"; }

void* CTextUI::FindInterface(const wchar_t* tag) {
    if (tag && (CompareTextNoCase(tag, L"Text") == 0 || CompareTextNoCase(tag, L"Label") == 0 ||
                CompareTextNoCase(tag, L"Control") == 0)) {
        return this;
    }
    return nullptr;
}

UINT CTextUI::GetBehaviorFlags() const { return IsEnabled() && m_linkCount > 0 ? 2 : 0; }

int CTextUI::LinkAt(POINT point) const {
    for (int i = 0; i < m_linkCount && i < kMaxLinks; ++i) {
        if (PtInRect(&m_links[i], point)) return i;
    }
    return -1;
}

void CTextUI::HandleEvent(ControlEvent& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.type)) {
        if (m_parent) {
            m_parent->HandleEvent(event);
        } else {
            CLabelUI::HandleEvent(event);
        }
        return;
    }
    const int link = LinkAt(event.mouse);
    switch (event.type) {
    case EventSetCursor:
        if (link >= 0) {
            ::SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32649)));   // IDC_HAND
            return;
        }
        break;
    case EventButtonDown:
    case EventDoubleClick:
        if (link >= 0 && (event.type == EventButtonDown || IsEnabled())) {
            Invalidate();
            return;
        }
        break;
    case EventButtonUp:
        if (IsEnabled() && link >= 0) {
            if (m_manager) m_manager->SendNotification(this, L"link", static_cast<WPARAM>(link));
            return;
        }
        break;
    case EventContextMenu:
        return;
    case EventMouseMove:
        if (IsEnabled() && m_linkCount > 0) {
            if (link != m_hoverLink) {
                m_hoverLink = link;
                Invalidate();
            }
            return;
        }
        break;
    case EventMouseLeave:
        if (IsEnabled() && m_linkCount > 0 && m_hoverLink != -1) {
            m_hoverLink = -1;
            Invalidate();
            return;
        }
        break;
    case EventSetFocus:
        m_focused = true;
        return;
    case EventKillFocus:
        m_focused = false;
        return;
    default:
        break;
    }
    CControlUI::HandleEvent(event);
}

SIZE CTextUI::MeasureSize(SIZE available) {
    if (!m_manager) return CControlUI::MeasureSize(available);
    const RECT padding = GetTextPadding();
    const int width = m_autoCalcWidth ? 9999 : GetFixedWidth();
    RECT rect = {padding.left, 0, width - padding.right, 9999};
    const CUIString text = GetText();
    HDC hdc = m_manager->GetPaintDC();
    if (m_showHtml) {
        int links = 0;
        CSkinRenderer::DrawHtmlText(hdc, m_manager, rect, text, 0, nullptr, nullptr, links, m_font,
                                    m_textStyle | DT_CALCRECT);
    } else {
        CSkinRenderer::DrawText(hdc, m_manager, rect, text, 0, m_font, m_textStyle | DT_CALCRECT);
    }
    if (m_autoCalcWidth) {
        RECT size = {0, 0, padding.left + (rect.right - rect.left) + padding.right, 0};
        m_manager->GetDpiScaler()->UnscaleRect(size);
        m_fixedSize.cx = size.right;
    }
    return CControlUI::MeasureSize(available);
}

void CTextUI::PaintText(HDC hdc) {
    const CUIString text = GetText();
    if (text.IsEmpty()) {
        m_linkCount = 0;
        return;
    }
    if (!m_manager) return;
    if (m_textColor == 0) m_textColor = m_manager->GetDefaultFontColor();
    if (m_disabledTextColor == 0) m_disabledTextColor = m_manager->GetDefaultDisabledColor();
    RECT rect = m_item;
    rect.left += m_textPadding.left;
    rect.top += m_textPadding.top;
    rect.right -= m_textPadding.right;
    rect.bottom -= m_textPadding.bottom;
    const DWORD color = IsEnabled() ? m_textColor : m_disabledTextColor;
    m_linkCount = kMaxLinks;
    if (m_showHtml) {
        CSkinRenderer::DrawHtmlText(hdc, m_manager, rect, text, color, m_links, m_linkTexts, m_linkCount, m_font,
                                    m_textStyle);
    } else {
        CSkinRenderer::DrawText(hdc, m_manager, rect, text, color, m_font, m_textStyle);
        // Plain text has no links: rectangles of an earlier marked-up paint
        // must not answer clicks any more.
        for (int i = 0; i < kMaxLinks; ++i) {
            m_links[i] = RECT{};
            m_linkTexts[i].Empty();
        }
        m_hoverLink = -1;
    }
}

}  // namespace Veneer
