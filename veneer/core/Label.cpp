// The label: text colour, font, alignment, padding, markup and auto width.
#include "Label.h"

#include <cwchar>
#include <new>

#include "PaintManager.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {

DWORD ReadLabelColor(const wchar_t* value) {
    if (*value == L'#') ++value;
    return static_cast<DWORD>(wcstoul(value, nullptr, 16));
}
}  // namespace

CLabelUI::CLabelUI() = default;
CLabelUI::~CLabelUI() = default;

CControlUI* CLabelUI::CreateLabelUI() { return new (std::nothrow) CLabelUI; }

const wchar_t* CLabelUI::GetClassTag() const { return L"Label"; }

void* CLabelUI::FindInterface(const wchar_t* tag) {
    if (tag && (CompareTextNoCase(tag, L"Label") == 0 || CompareTextNoCase(tag, L"Control") == 0)) return this;
    return nullptr;
}

UINT CLabelUI::GetBehaviorFlags() const { return IsEnabled() ? 2 : 0; }

void CLabelUI::SetText(const wchar_t* text) {
    CControlUI::SetText(text);
    if (m_autoCalcWidth) MarkParentForLayout();
}

void CLabelUI::HandleEvent(ControlEvent& event) {
    if (event.type == EventSetFocus) {
        m_focused = true;
        return;
    }
    if (event.type == EventKillFocus) {
        m_focused = false;
        return;
    }
    CControlUI::HandleEvent(event);
}

bool CLabelUI::IsAutoCalcWidth() const { return m_autoCalcWidth; }
void CLabelUI::SetAutoCalcWidth(bool on) { m_autoCalcWidth = on; }

void CLabelUI::SetTextPadding(int left, int top, int right, int bottom) {
    m_textPadding = RECT{left, top, right, bottom};
    Invalidate();
}

RECT CLabelUI::GetTextPadding() const {
    RECT r = m_textPadding;
    if (m_manager) m_manager->GetDpiScaler()->ScaleRect(r);
    return r;
}

void CLabelUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    auto is = [name](const wchar_t* n) { return CompareTextNoCase(name, n) == 0; };
    if (is(L"align")) {
        if (wcsstr(value, L"left")) m_textStyle &= ~(DT_CENTER | DT_RIGHT);
        if (wcsstr(value, L"center")) m_textStyle = (m_textStyle & ~DT_RIGHT) | DT_CENTER;
        if (wcsstr(value, L"right")) m_textStyle = (m_textStyle & ~DT_CENTER) | DT_RIGHT;
    } else if (is(L"valign")) {
        if (wcsstr(value, L"top")) m_textStyle = (m_textStyle & ~(DT_VCENTER | DT_BOTTOM | DT_WORDBREAK)) | DT_SINGLELINE;
        if (wcsstr(value, L"vcenter")) m_textStyle = (m_textStyle & ~(DT_BOTTOM | DT_WORDBREAK)) | DT_VCENTER | DT_SINGLELINE;
        if (wcsstr(value, L"bottom")) m_textStyle = (m_textStyle & ~(DT_VCENTER | DT_WORDBREAK)) | DT_BOTTOM | DT_SINGLELINE;
    } else if (is(L"endellipsis")) {
        if (ReadBool(value)) m_textStyle |= DT_END_ELLIPSIS;
        else m_textStyle &= ~DT_END_ELLIPSIS;
    } else if (is(L"wordbreak")) {
        if (ReadBool(value)) m_textStyle = (m_textStyle & ~DT_SINGLELINE) | DT_WORDBREAK | DT_EDITCONTROL;
        else m_textStyle = (m_textStyle & ~(DT_WORDBREAK | DT_EDITCONTROL)) | DT_SINGLELINE;
    } else if (is(L"noprefix")) {
        if (ReadBool(value)) m_textStyle |= DT_NOPREFIX;
        else m_textStyle &= ~DT_NOPREFIX;
    } else if (is(L"font")) {
        m_font = static_cast<int>(wcstol(value, nullptr, 10));
        Invalidate();
    } else if (is(L"textcolor")) {
        m_textColor = ReadLabelColor(value);
        Invalidate();
    } else if (is(L"disabledtextcolor")) {
        m_disabledTextColor = ReadLabelColor(value);
        Invalidate();
    } else if (is(L"textpadding")) {
        long v[4] = {};
        const wchar_t* p = value;
        for (int i = 0; i < 4; ++i) {
            if (!*p) break;   // numbers the value lacks are 0
            wchar_t* end = nullptr;
            v[i] = wcstol(p, &end, 10);
            p = end;
            if (*p) ++p;
        }
        SetTextPadding(v[0], v[1], v[2], v[3]);
    } else if (is(L"showhtml")) {
        const bool on = ReadBool(value);
        if (on != m_showHtml) {
            m_showHtml = on;
            Invalidate();
        }
    } else if (is(L"autocalcwidth")) {
        SetAutoCalcWidth(ReadBool(value));
    } else {
        CControlUI::SetAttribute(name, value);
    }
}

SIZE CLabelUI::MeasureSize(SIZE available) {
    if (m_autoCalcWidth && m_manager) {
        RECT rect = {0, 0, available.cx, available.cy};
        const CUIString text = GetText();
        HDC hdc = m_manager->GetPaintDC();
        if (m_showHtml) {
            int links = 0;
            CSkinRenderer::DrawHtmlText(hdc, m_manager, rect, text, 0, nullptr, nullptr, links, m_font,
                                        m_textStyle | DT_CALCRECT);
        } else {
            CSkinRenderer::DrawText(hdc, m_manager, rect, text, 0, m_font, m_textStyle | DT_CALCRECT);
        }
        const RECT padding = GetTextPadding();
        const int width = rect.right - rect.left + padding.left + padding.right;
        const int scale = m_manager->GetDpiScaler()->GetScale();
        m_fixedSize.cx = scale == 100 || scale == 0 ? width : MulDiv(width, 100, scale);
    }
    if (m_fixedSize.cy != 0) return CControlUI::MeasureSize(available);
    FontEntry* font = m_manager ? m_manager->GetFontEntry(m_font) : nullptr;
    return SIZE{GetFixedWidth(), (font ? font->metrics.tmHeight : 0) + 4};
}

void CLabelUI::PaintText(HDC hdc) {
    if (!m_manager) return;
    if (m_textColor == 0) m_textColor = m_manager->GetDefaultFontColor();
    if (m_disabledTextColor == 0) m_disabledTextColor = m_manager->GetDefaultDisabledColor();
    RECT rect = m_item;
    const RECT padding = GetTextPadding();
    rect.left += padding.left;
    rect.top += padding.top;
    rect.right -= padding.right;
    rect.bottom -= padding.bottom;
    const CUIString text = GetText();
    if (text.IsEmpty()) return;
    const DWORD color = IsEnabled() ? m_textColor : m_disabledTextColor;
    if (m_showHtml) {
        int links = 0;
        CSkinRenderer::DrawHtmlText(hdc, m_manager, rect, text, color, nullptr, nullptr, links, m_font, m_textStyle);
    } else {
        CSkinRenderer::DrawText(hdc, m_manager, rect, text, color, m_font, m_textStyle);
    }
}

}  // namespace Veneer
