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

// ------------------------------------------------------------- column look

bool HeaderItemLook::SetAttribute(CControlUI& owner, const wchar_t* name, const wchar_t* value) {
    if (Is(name, L"dragable")) {
        draggable = ReadBool(value);
        if (!draggable) state &= ~Dragging;
    } else if (Is(name, L"sepwidth")) {
        sepWidth = _wtoi(value);
    } else if (Is(name, L"align")) {
        if (wcsstr(value, L"left")) textStyle &= ~(DT_CENTER | DT_RIGHT);
        if (wcsstr(value, L"center")) textStyle = (textStyle & ~DT_RIGHT) | DT_CENTER;
        if (wcsstr(value, L"right")) textStyle = (textStyle & ~DT_CENTER) | DT_RIGHT;
    } else if (Is(name, L"endellipsis")) {
        if (ReadBool(value)) textStyle |= DT_END_ELLIPSIS;
        else textStyle &= ~DT_END_ELLIPSIS;
    } else if (Is(name, L"font")) {
        font = _wtoi(value);
    } else if (Is(name, L"textcolor")) {
        textColor = static_cast<DWORD>(wcstoul(value + (*value == L'#'), nullptr, 16));
    } else if (Is(name, L"textpadding")) {
        long v[4];
        ReadIntList(value, v, 4);
        textPadding = RECT{v[0], v[1], v[2], v[3]};
        owner.Invalidate();
    } else if (Is(name, L"showhtml")) {
        const bool on = ReadBool(value);
        if (on != showHtml) {
            showHtml = on;
            owner.Invalidate();
        }
    } else if (Is(name, L"normalimage") || Is(name, L"hotimage") || Is(name, L"pushedimage") ||
               Is(name, L"focusedimage") || Is(name, L"sepimage")) {
        CUIString& image = Is(name, L"normalimage")    ? normalImage
                           : Is(name, L"hotimage")     ? hotImage
                           : Is(name, L"pushedimage")  ? pushedImage
                           : Is(name, L"focusedimage") ? focusedImage
                                                       : sepImage;
        image = value;
        owner.Invalidate();
    } else {
        return false;
    }
    return true;
}

RECT HeaderItemLook::SeparatorRect(const CControlUI& owner) const {
    CPaintManagerUI* manager = owner.GetManager();
    const int w = manager ? manager->GetDpiScaler()->ScaleValue(sepWidth) : sepWidth;
    const RECT& item = owner.GetPos();
    if (w >= 0) return RECT{item.right - w, item.top, item.right, item.bottom};
    return RECT{item.left, item.top, item.left - w, item.bottom};
}

RECT HeaderItemLook::GripRect(const CControlUI& owner) const {
    RECT grip = SeparatorRect(owner);
    if (sepWidth >= 0) {
        grip.left -= 4;
    } else {
        grip.right += 4;
    }
    return grip;
}

bool HeaderItemLook::HandleEvent(CControlUI& owner, ControlEvent& event, const wchar_t* clickName, bool growsRight,
                                 SIZE& fixedSize) {
    CPaintManagerUI* manager = owner.GetManager();
    // The header's parent (the list) lays out again and takes the columns.
    auto relayoutList = [&owner] {
        if (CControlUI* parent = owner.GetParent()) parent->MarkParentForLayout();
    };
    const RECT grip = GripRect(owner);
    switch (event.type) {
    case EventButtonDown:
    case EventDoubleClick:
        if (!owner.IsEnabled()) return true;
        if (PtInRect(&grip, event.mouse)) {
            if (draggable) {
                state |= Dragging;
                lastDrag = event.mouse;
                dragWidth = owner.GetWidth();
            }
        } else {
            state |= Pushed;
            if (manager) manager->SendNotification(&owner, clickName);
            owner.Invalidate();
        }
        return true;
    case EventButtonUp:
        if (state & Dragging) {
            state &= ~Dragging;
            relayoutList();
        } else if (state & Pushed) {
            state &= ~Pushed;
            owner.Invalidate();
        }
        return true;
    case EventMouseMove: {
        if (!(state & Dragging)) return true;
        // The edge moves from where the drag left it (the column's rectangle
        // changes only at the next layout, which may come after more moves).
        const int dx = event.mouse.x - lastDrag.x;
        const int width = growsRight ? dragWidth + dx : dragWidth - dx;
        if (width <= owner.GetMinWidth()) return true;
        dragWidth = width;
        // Stored so that the next layout gives these pixels: the measure
        // reads "width" as written without a "height", scaled with one.
        const int scale = manager ? manager->GetDpiScaler()->GetScale() : 100;
        fixedSize.cx = fixedSize.cy == 0 || scale <= 0 ? width : MulDiv(width, 100, scale);
        lastDrag = event.mouse;
        relayoutList();
        return true;
    }
    case EventSetCursor:
        if (owner.IsEnabled() && draggable && PtInRect(&grip, event.mouse)) {
            ::SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32644)));   // IDC_SIZEWE
            return true;
        }
        return false;
    default:
        return false;
    }
}

void HeaderItemLook::PaintStateImage(CControlUI& owner, HDC hdc) {
    if (owner.IsFocused()) state |= Focused; else state &= ~Focused;
    const CUIString* chosen = &normalImage;
    if (state & Pushed) chosen = &pushedImage;
    else if (state & Hot) chosen = &hotImage;
    else if (state & Focused) chosen = &focusedImage;
    if (chosen->IsEmpty()) chosen = &normalImage;
    if (!chosen->IsEmpty()) owner.DrawImage(hdc, *chosen);
    if (sepImage.IsEmpty()) return;
    RECT sep = SeparatorRect(owner);
    OffsetRect(&sep, -owner.GetPos().left, -owner.GetPos().top);
    // The modifier is read as written in a layout (and scaled again).
    if (CPaintManagerUI* manager = owner.GetManager()) manager->GetDpiScaler()->UnscaleRect(sep);
    sepModifier.Format(L"dest='%ld,%ld,%ld,%ld'", sep.left, sep.top, sep.right, sep.bottom);
    owner.DrawImage(hdc, sepImage, sepModifier);
}

void HeaderItemLook::PaintText(CControlUI& owner, HDC hdc, int leftInset, UINT extraStyle) {
    CPaintManagerUI* manager = owner.GetManager();
    if (!manager) return;
    if (textColor == 0) textColor = manager->GetDefaultFontColor();
    const CUIString text = owner.GetText();
    if (text.IsEmpty()) return;
    RECT rect = owner.GetPos();
    RECT padding = textPadding;
    manager->GetDpiScaler()->ScaleRect(padding);
    rect.left += padding.left + leftInset;
    rect.top += padding.top;
    rect.right -= padding.right;
    rect.bottom -= padding.bottom;
    if (showHtml) {
        int links = 0;
        CSkinRenderer::DrawHtmlText(hdc, manager, rect, text, textColor, nullptr, nullptr, links, font,
                                    textStyle | extraStyle);
    } else {
        CSkinRenderer::DrawText(hdc, manager, rect, text, textColor, font, textStyle | extraStyle);
    }
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

UINT CListHeaderItemUI::GetBehaviorFlags() const { return IsEnabled() && m_look.sepWidth != 0 ? 2 : 0; }

void CListHeaderItemUI::SetEnabled(bool enabled) {
    if (m_enabled == enabled) return;
    m_enabled = enabled;
    if (!enabled) m_look.state = 0;
    Invalidate();
}

RECT CListHeaderItemUI::GetSeparatorRect() const { return m_look.SeparatorRect(*this); }

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
    if (m_look.HandleEvent(*this, event, L"headerclick", m_look.sepWidth >= 0, m_fixedSize)) return;
    switch (event.type) {
    case EventMouseEnter:
        if (IsEnabled()) {
            m_look.state |= StateHot;
            Invalidate();
        }
        return;
    case EventMouseLeave:
        if (IsEnabled()) {
            m_look.state &= ~StateHot;
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
    if (m_look.SetAttribute(*this, name, value)) return;
    if (Is(name, L"scale")) {
        m_scale = _wtoi(value);
    } else {
        CContainerUI::SetAttribute(name, value);
    }
}

SIZE CListHeaderItemUI::MeasureSize(SIZE available) {
    if (m_fixedSize.cy != 0) return CControlUI::MeasureSize(available);
    return SIZE{m_fixedSize.cx, DefaultFontHeight(m_manager) + 14};
}

void CListHeaderItemUI::PaintStateImage(HDC hdc) { m_look.PaintStateImage(*this, hdc); }

void CListHeaderItemUI::PaintText(HDC hdc) { m_look.PaintText(*this, hdc, 0, 0); }

}  // namespace Veneer
