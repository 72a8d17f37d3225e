// The list header's layout and measure, and its columns: captions, state
// pictures, "headerclick" and the separator drag.
#include "ListHeader.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "PaintManager.h"
#include "ScrollBar.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {
bool Is(const wchar_t* name, const wchar_t* expected) { return CompareTextNoCase(name, expected) == 0; }
int ClampWidth(const CControlUI* c, int w) { return std::min(std::max(w, c->GetMinWidth()), c->GetMaxWidth()); }
int ClampHeight(const CControlUI* c, int h) { return std::min(std::max(h, c->GetMinHeight()), c->GetMaxHeight()); }
int DefaultFontHeight(CPaintManagerUI* manager) {
    FontEntry* font = manager ? manager->GetDefaultFontEntry() : nullptr;
    return font ? font->metrics.tmHeight : 0;
}
}  // namespace

// ------------------------------------------------------------------ header

CControlUI* CListHeaderUI::CreateListHeaderUI() { return new (std::nothrow) CListHeaderUI; }

const wchar_t* CListHeaderUI::GetClassTag() const { return L"ListHeader"; }

void* CListHeaderUI::FindInterface(const wchar_t* tag) {
    if (tag && (Is(tag, L"ListHeader") || Is(tag, L"HorizontalLayout"))) return this;
    return CContainerUI::FindInterface(tag);
}

void CListHeaderUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (Is(name, L"scaleheader")) {
        m_scaleHeader = ReadBool(value);
    } else {
        CHorizontalLayoutUI::SetAttribute(name, value);
    }
}

int CListHeaderUI::ColumnWidth(CControlUI* column, SIZE available, int total) const {
    if (m_scaleHeader) {
        const CListHeaderItemUI* item = static_cast<CListHeaderItemUI*>(column->FindInterface(L"ListHeaderItem"));
        if (item) return static_cast<int>(item->GetScale() * static_cast<double>(total) / 100.0);
    }
    return column->MeasureSize(available).cx;
}

void CListHeaderUI::SetPos(RECT rect, bool invalidate) {
    CControlUI::SetPos(rect, invalidate);
    const RECT inset = GetInset();
    const RECT rc = {rect.left + inset.left, rect.top + inset.top, rect.right - inset.right, rect.bottom - inset.bottom};
    if (m_items.IsEmpty()) return;
    const int width = rc.right - rc.left;
    const int height = rc.bottom - rc.top;
    const int gap = GetChildPadding();

    // The width the percentages share: the header's less the list's
    // vertical scroll bar, reserved whether the bar shows or not.
    int total = GetWidth();
    if (m_parent) {
        CContainerUI* parent = static_cast<CContainerUI*>(m_parent->FindInterface(L"Container"));
        CScrollBarUI* bar = parent ? parent->GetVerticalScrollBar() : nullptr;
        if (bar) total -= bar->GetFixedWidth();
    }

    int stretchy = 0, fixedWidth = 0, n = 0;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* column = GetItemAt(i);
        if (!column->IsVisible() || column->IsFloat()) continue;
        int w = ColumnWidth(column, SIZE{width, height}, total);
        if (w == 0) {
            ++stretchy;
        } else {
            w = ClampWidth(column, w);
        }
        const RECT pad = column->GetPadding();
        fixedWidth += pad.left + w + pad.right;
        ++n;
    }
    if (n > 0) fixedWidth += gap * (n - 1);
    const int stretch = stretchy > 0 ? std::max(0, (width - fixedWidth) / stretchy) : 0;

    int x = rc.left;
    int remaining = width;
    int remainingFixed = fixedWidth;
    int stretchSeen = 0;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* column = GetItemAt(i);
        if (!column->IsVisible()) continue;
        if (column->IsFloat()) {
            PlaceFloatingChild(i);
            continue;
        }
        const RECT pad = column->GetPadding();
        remaining -= pad.left;
        int w = ColumnWidth(column, SIZE{remaining, height}, total);
        if (w == 0) {
            ++stretchSeen;
            w = stretchSeen == stretchy ? std::max(0, static_cast<int>(remaining - pad.right - remainingFixed)) : stretch;
            w = ClampWidth(column, w);
        } else {
            w = ClampWidth(column, w);
            remainingFixed -= w;
        }
        int h = column->GetFixedHeight();
        if (h == 0) h = rc.bottom - pad.bottom - pad.top - rc.top;
        if (h < 0) h = 0;
        h = ClampHeight(column, h);
        column->SetPos(RECT{x + pad.left, rc.top + pad.top, x + pad.left + w + pad.right, rc.top + pad.top + h}, true);
        x += pad.left + w + pad.right + gap;
        remaining -= w + pad.right + gap;
    }
}

SIZE CListHeaderUI::MeasureSize(SIZE available) {
    SIZE size = {0, m_fixedSize.cy};
    int tallest = 0;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        const SIZE column = GetItemAt(i)->MeasureSize(available);
        size.cx += column.cx;
        tallest = std::max<int>(tallest, column.cy);
    }
    if (size.cy == 0 && m_manager) size.cy = std::max(tallest, DefaultFontHeight(m_manager) + 6);
    return size;
}

// ------------------------------------------------------------------ column

CListHeaderItemUI::CListHeaderItemUI() {
    SetMinWidth(16);
    Invalidate();
}
CListHeaderItemUI::~CListHeaderItemUI() = default;

CControlUI* CListHeaderItemUI::CreateListHeaderItemUI() { return new (std::nothrow) CListHeaderItemUI; }

const wchar_t* CListHeaderItemUI::GetClassTag() const { return L"ListHeaderItem"; }

void* CListHeaderItemUI::FindInterface(const wchar_t* tag) {
    if (tag && Is(tag, L"ListHeaderItem")) return this;
    return CContainerUI::FindInterface(tag);
}

UINT CListHeaderItemUI::GetBehaviorFlags() const { return IsEnabled() && m_sepWidth != 0 ? 2 : 0; }

void CListHeaderItemUI::SetEnabled(bool enabled) {
    if (m_enabled == enabled) return;
    m_enabled = enabled;
    if (!enabled) m_state = 0;
    Invalidate();
}

RECT CListHeaderItemUI::GetSeparatorRect() const {
    const int w = Scaled(m_sepWidth);
    if (w >= 0) return RECT{m_item.right - w, m_item.top, m_item.right, m_item.bottom};
    return RECT{m_item.left, m_item.top, m_item.left - w, m_item.bottom};
}

RECT CListHeaderItemUI::GripRect() const {
    RECT grip = GetSeparatorRect();
    if (m_sepWidth >= 0) {
        grip.left -= 4;
    } else {
        grip.right += 4;
    }
    return grip;
}

void CListHeaderItemUI::RelayoutList() {
    // The header's parent (the list) lays out again and takes the columns.
    if (m_parent) m_parent->MarkParentForLayout();
}

void CListHeaderItemUI::HandleEvent(ControlEvent& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.type)) {
        if (m_parent) {
            m_parent->HandleEvent(event);
        } else {
            CContainerUI::HandleEvent(event);
        }
        return;
    }
    if (event.type == EventSetFocus || event.type == EventKillFocus) {
        Invalidate();
        CContainerUI::HandleEvent(event);
        return;
    }
    const RECT grip = GripRect();
    switch (event.type) {
    case EventButtonDown:
    case EventDoubleClick:
        if (!IsEnabled()) return;
        if (PtInRect(&grip, event.mouse)) {
            if (m_draggable) {
                m_state |= StateDragging;
                m_lastDrag = event.mouse;
                m_dragWidth = GetWidth();
            }
        } else {
            m_state |= StatePushed;
            if (m_manager) m_manager->SendNotification(this, L"headerclick");
            Invalidate();
        }
        return;
    case EventButtonUp:
        if (m_state & StateDragging) {
            m_state &= ~StateDragging;
            RelayoutList();
        } else if (m_state & StatePushed) {
            m_state &= ~StatePushed;
            Invalidate();
        }
        return;
    case EventMouseMove: {
        if (!(m_state & StateDragging)) return;
        // The edge moves from where the drag left it (the column's rectangle
        // changes only at the next layout, which may come after more moves).
        const int dx = event.mouse.x - m_lastDrag.x;
        const int width = m_sepWidth >= 0 ? m_dragWidth + dx : m_dragWidth - dx;
        if (width <= GetMinWidth()) return;
        m_dragWidth = width;
        // Stored so that the next layout gives these pixels: the measure
        // reads "width" as written without a "height", scaled with one.
        const int scale = m_manager ? m_manager->GetDpiScaler()->GetScale() : 100;
        m_fixedSize.cx = m_fixedSize.cy == 0 || scale <= 0 ? width : MulDiv(width, 100, scale);
        m_lastDrag = event.mouse;
        RelayoutList();
        return;
    }
    case EventSetCursor:
        if (IsEnabled() && m_draggable && PtInRect(&grip, event.mouse)) {
            ::SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32644)));   // IDC_SIZEWE
            return;
        }
        break;
    case EventMouseEnter:
        if (IsEnabled()) {
            m_state |= StateHot;
            Invalidate();
        }
        return;
    case EventMouseLeave:
        if (IsEnabled()) {
            m_state &= ~StateHot;
            Invalidate();
        }
        return;
    default:
        break;
    }
    CContainerUI::HandleEvent(event);
}

void CListHeaderItemUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (Is(name, L"dragable")) {
        m_draggable = ReadBool(value);
        if (!m_draggable) m_state &= ~StateDragging;
    } else if (Is(name, L"sepwidth")) {
        m_sepWidth = _wtoi(value);
    } else if (Is(name, L"align")) {
        if (wcsstr(value, L"left")) m_textStyle &= ~(DT_CENTER | DT_RIGHT);
        if (wcsstr(value, L"center")) m_textStyle = (m_textStyle & ~DT_RIGHT) | DT_CENTER;
        if (wcsstr(value, L"right")) m_textStyle = (m_textStyle & ~DT_CENTER) | DT_RIGHT;
    } else if (Is(name, L"endellipsis")) {
        if (ReadBool(value)) m_textStyle |= DT_END_ELLIPSIS;
        else m_textStyle &= ~DT_END_ELLIPSIS;
    } else if (Is(name, L"font")) {
        m_font = _wtoi(value);
    } else if (Is(name, L"textcolor")) {
        m_textColor = static_cast<DWORD>(wcstoul(value + (*value == L'#'), nullptr, 16));
    } else if (Is(name, L"textpadding")) {
        long v[4];
        ReadIntList(value, v, 4);
        m_textPadding = RECT{v[0], v[1], v[2], v[3]};
        Invalidate();
    } else if (Is(name, L"showhtml")) {
        const bool on = ReadBool(value);
        if (on != m_showHtml) {
            m_showHtml = on;
            Invalidate();
        }
    } else if (Is(name, L"normalimage") || Is(name, L"hotimage") || Is(name, L"pushedimage") ||
               Is(name, L"focusedimage") || Is(name, L"sepimage")) {
        CUIString& image = Is(name, L"normalimage")    ? m_normalImage
                           : Is(name, L"hotimage")     ? m_hotImage
                           : Is(name, L"pushedimage")  ? m_pushedImage
                           : Is(name, L"focusedimage") ? m_focusedImage
                                                       : m_sepImage;
        image = value;
        Invalidate();
    } else if (Is(name, L"scale")) {
        m_scale = _wtoi(value);
    } else {
        CContainerUI::SetAttribute(name, value);
    }
}

SIZE CListHeaderItemUI::MeasureSize(SIZE available) {
    if (m_fixedSize.cy != 0) return CControlUI::MeasureSize(available);
    return SIZE{m_fixedSize.cx, DefaultFontHeight(m_manager) + 14};
}

void CListHeaderItemUI::PaintStateImage(HDC hdc) {
    if (IsFocused()) m_state |= StateFocused; else m_state &= ~StateFocused;
    const CUIString* chosen = &m_normalImage;
    if (m_state & StatePushed) chosen = &m_pushedImage;
    else if (m_state & StateHot) chosen = &m_hotImage;
    else if (m_state & StateFocused) chosen = &m_focusedImage;
    if (chosen->IsEmpty()) chosen = &m_normalImage;
    if (!chosen->IsEmpty()) DrawImage(hdc, *chosen);
    if (m_sepImage.IsEmpty()) return;
    RECT sep = GetSeparatorRect();
    OffsetRect(&sep, -m_item.left, -m_item.top);
    // The modifier is read as written in a layout (and scaled again).
    if (m_manager) m_manager->GetDpiScaler()->UnscaleRect(sep);
    m_sepModifier.Format(L"dest='%ld,%ld,%ld,%ld'", sep.left, sep.top, sep.right, sep.bottom);
    DrawImage(hdc, m_sepImage, m_sepModifier);
}

void CListHeaderItemUI::PaintText(HDC hdc) {
    if (!m_manager) return;
    if (m_textColor == 0) m_textColor = m_manager->GetDefaultFontColor();
    const CUIString text = GetText();
    if (text.IsEmpty()) return;
    RECT rect = m_item;
    RECT padding = m_textPadding;
    m_manager->GetDpiScaler()->ScaleRect(padding);
    rect.left += padding.left;
    rect.top += padding.top;
    rect.right -= padding.right;
    rect.bottom -= padding.bottom;
    if (m_showHtml) {
        int links = 0;
        CSkinRenderer::DrawHtmlText(hdc, m_manager, rect, text, m_textColor, nullptr, nullptr, links, m_font,
                                    m_textStyle);
    } else {
        CSkinRenderer::DrawText(hdc, m_manager, rect, text, m_textColor, m_font, m_textStyle);
    }
}

}  // namespace Veneer
