// The list items: selection from the item side, the row repaint, the item
// background and grid lines, and the label, text and container elements.
#include "ListItems.h"

#include <new>

#include "ListHeader.h"
#include "PaintManager.h"
#include "ResourceCatalog.h"
#include "ScrollBar.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {
bool Is(const wchar_t* name, const wchar_t* expected) { return CompareTextNoCase(name, expected) == 0; }

RECT ScaledPadding(CPaintManagerUI* manager, const ListItemStyle& style) {
    RECT padding = style.textPadding;
    if (manager) manager->GetDpiScaler()->ScaleRect(padding);
    return padding;
}

RECT LessPadding(RECT rect, const RECT& padding) {
    rect.left += padding.left;
    rect.top += padding.top;
    rect.right -= padding.right;
    rect.bottom -= padding.bottom;
    return rect;
}

// The item's text colour: hot, then selected, then disabled replace it.
DWORD ItemTextColor(const ListItemStyle& style, bool hot, bool selected, bool enabled) {
    DWORD color = style.textColor;
    if (hot) color = style.hotTextColor;
    if (selected) color = style.selectedTextColor;
    if (!enabled) color = style.disabledTextColor;
    return color;
}

int ItemFontHeight(CPaintManagerUI* manager, const ListItemStyle& style) {
    FontEntry* font = manager ? manager->GetFontEntry(style.font) : nullptr;
    return font ? font->metrics.tmHeight : 0;
}

bool IsCtrlHeld() { return GetKeyState(VK_CONTROL) < 0; }
}  // namespace

// ------------------------------------------------------------------ shared item state

bool ListItemState::Select(CControlUI& self, bool on) {
    if (!self.IsEnabled()) return false;
    if (selected && owner) owner->DeselectIndex(index, true);
    if (selected == on) return true;
    selected = on;
    if (on && owner) owner->SelectIndex(index, false);
    RepaintRow(self);
    return true;
}

bool ListItemState::MultiSelect(CControlUI& self, bool on) {
    if (!self.IsEnabled()) return false;
    if (selected == on) return true;
    selected = on;
    if (on && owner) owner->AddToSelection(index, false);
    RepaintRow(self);
    return true;
}

void ListItemState::ToggleByCtrl(CControlUI& self, IListItemUI& item) {
    if (!selected) {
        item.SetMultiSelected(true);
        return;
    }
    // The owner's selection loses the item too; an owner that keeps one
    // selected item (single selection, a combo box) is cleared instead.
    if (owner && !owner->DeselectIndex(index, false)) owner->SelectIndex(-1, false);
    if (selected) {
        selected = false;
        RepaintRow(self);
    }
}

void ListItemState::SetOwner(CControlUI* ownerControl) {
    if (!ownerControl) return;
    owner = static_cast<IListOwnerUI*>(ownerControl->FindInterface(L"IListOwner"));
}

void ListItemState::AfterVisibilityChange(CControlUI& self) {
    if (self.IsVisible() || !selected) return;
    selected = false;
    if (owner) owner->SelectIndex(-1, false);
}

void ListItemState::RepaintRow(CControlUI& self) {
    if (!self.IsVisible()) return;
    CControlUI* parent = self.GetParent();
    CContainerUI* container = parent ? static_cast<CContainerUI*>(parent->FindInterface(L"Container")) : nullptr;
    CPaintManagerUI* manager = self.GetManager();
    if (!container || !manager) {
        self.Invalidate();
        return;
    }
    const RECT inset = container->GetInset();
    RECT area = LessPadding(parent->GetPos(), inset);
    CScrollBarUI* vertical = container->GetVerticalScrollBar();
    CScrollBarUI* horizontal = container->GetHorizontalScrollBar();
    if (vertical && vertical->IsVisible()) area.right -= vertical->GetFixedWidth();
    if (horizontal && horizontal->IsVisible()) area.bottom -= horizontal->GetFixedHeight();
    RECT cut;
    if (!IntersectRect(&cut, &self.GetPos(), &area)) return;
    for (CControlUI* p = parent->GetParent(); p; p = p->GetParent()) {
        if (!IntersectRect(&cut, &cut, &p->GetPos())) return;
    }
    manager->InvalidateArea(cut);
}

void ListItemState::PaintBackground(CControlUI& self, HDC hdc) const {
    if (!owner) return;
    const ListItemStyle* style = owner->GetItemStyle();
    if (!style) return;
    const bool odd = (index % 2) != 0;
    const bool hot = (state & Hot) != 0;
    const bool enabled = self.IsEnabled();
    auto adjust = [&self](DWORD c) { return self.IsColorHsl() ? self.ApplyHslAdjust(c) : c; };
    DWORD color = style->alternateBk && odd ? 0 : style->bkColor;
    if (hot && style->hotBkColor != 0) color = style->hotBkColor;
    if (selected && style->selectedBkColor != 0) color = style->selectedBkColor;
    if (!enabled && style->disabledBkColor != 0) color = style->disabledBkColor;
    const RECT item = self.GetPos();
    if (color != 0) CSkinRenderer::FillColor(hdc, item, adjust(color));

    if (!enabled && !style->disabledImage.IsEmpty() && self.DrawImage(hdc, style->disabledImage)) return;
    if (selected && !style->selectedImage.IsEmpty() && self.DrawImage(hdc, style->selectedImage)) return;
    if (hot && !style->hotImage.IsEmpty() && self.DrawImage(hdc, style->hotImage)) return;

    const CUIString& own = self.GetBackgroundImage();
    if (!own.IsEmpty()) {
        if (!style->alternateBk || !odd) self.DrawImage(hdc, own);
    } else if (!style->bkImage.IsEmpty() && self.DrawImage(hdc, style->bkImage)) {
        return;
    }

    if (style->lineColor == 0) return;
    const DWORD line = adjust(style->lineColor);
    if (style->showRowLine) {
        CSkinRenderer::DrawLine(hdc, RECT{item.left, item.bottom - 1, item.right, item.bottom - 1}, 1, line);
    }
    if (style->showColumnLine) {
        for (int i = 0; i < style->columns; ++i) {
            const int x = style->columnRects[i].right - 1;
            CSkinRenderer::DrawLine(hdc, RECT{x, item.top, x, item.bottom}, 1, line);
        }
    }
}

bool ListItemState::HandleCommon(CControlUI& self, IListItemUI& item, ControlEvent& event) {
    ControlEventType type = event.type;
    const ListItemStyle* style = owner ? owner->GetItemStyle() : nullptr;
    if (type == EventRightButtonDown && style && style->rightSelects) type = EventButtonDown;
    const bool enabled = self.IsEnabled();
    switch (type) {
    case EventMouseMove:
        return true;
    case EventMouseLeave:
        if (state & Hot) {
            state &= ~Hot;
            RepaintRow(self);
        }
        return true;
    case EventMouseEnter:
        if (enabled) {
            state |= Hot;
            RepaintRow(self);
        }
        return true;
    case EventButtonDown:
        if (!enabled) return false;
        if (IsCtrlHeld()) {
            ToggleByCtrl(self, item);
        } else {
            item.SetSelected(true);
        }
        return true;
    case EventButtonUp:
        if (!enabled) return false;
        if (self.GetManager()) self.GetManager()->SendNotification(&self, L"itemclick");
        return true;
    case EventDoubleClick:
        if (enabled) {
            self.Activate();
            RepaintRow(self);
        }
        return true;
    case EventKeyDown:
        if (event.key == VK_RETURN && enabled) {
            self.Activate();
            RepaintRow(self);
            return true;
        }
        return false;
    default:
        return false;
    }
}

// ------------------------------------------------------------------ element

void* CListElementUI::FindInterface(const wchar_t* tag) {
    if (!tag) return nullptr;
    if (Is(tag, L"ListItem")) return static_cast<IListItemUI*>(this);
    if (Is(tag, L"ListElement") || Is(tag, L"Control")) return static_cast<CControlUI*>(this);
    return nullptr;
}

UINT CListElementUI::GetBehaviorFlags() const { return 4; }

bool CListElementUI::Activate() {
    if (!CControlUI::Activate()) return false;
    if (m_manager) m_manager->SendNotification(this, L"itemactivate");
    return true;
}

void CListElementUI::SetVisible(bool show) {
    CControlUI::SetVisible(show);
    m_itemState.AfterVisibilityChange(*this);
}

void CListElementUI::SetEnabled(bool enabled) {
    if (m_enabled != enabled) {
        m_enabled = enabled;
        Invalidate();
    }
    if (!enabled) m_itemState.state = 0;
}

int CListElementUI::GetItemIndex() { return m_itemState.index; }
void CListElementUI::SetItemIndex(int index) { m_itemState.index = index; }
IListOwnerUI* CListElementUI::GetItemOwner() { return m_itemState.owner; }
void CListElementUI::SetItemOwner(CControlUI* owner) { m_itemState.SetOwner(owner); }
bool CListElementUI::IsItemSelected() { return m_itemState.selected; }
bool CListElementUI::SetSelected(bool on) { return m_itemState.Select(*this, on); }
bool CListElementUI::SetMultiSelected(bool on) { return m_itemState.MultiSelect(*this, on); }
bool CListElementUI::IsItemExpanded() { return false; }
bool CListElementUI::SetExpanded(bool) { return false; }
void CListElementUI::PaintItemBackground(HDC hdc) { m_itemState.PaintBackground(*this, hdc); }

// ------------------------------------------------------------------ label element

CControlUI* CListLabelElementUI::CreateListLabelElementUI() { return new (std::nothrow) CListLabelElementUI; }

const wchar_t* CListLabelElementUI::GetClassTag() const { return L"ListLabelElement"; }

void* CListLabelElementUI::FindInterface(const wchar_t* tag) {
    if (tag && Is(tag, L"ListLabelElement")) return static_cast<CControlUI*>(this);
    return CListElementUI::FindInterface(tag);
}

void CListLabelElementUI::HandleEvent(ControlEvent& event) {
    IListOwnerUI* owner = m_itemState.owner;
    if (!(!IsMouseEnabled() && IsMouseEvent(event.type)) && m_itemState.HandleCommon(*this, *this, event)) return;
    if (owner) {
        owner->HandleItemEvent(event);
    } else {
        CControlUI::HandleEvent(event);
    }
}

void CListLabelElementUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (Is(name, L"selected")) {
        if (ReadBool(value)) SetSelected(true);
    } else {
        CControlUI::SetAttribute(name, value);
    }
}

SIZE CListLabelElementUI::MeasureSize(SIZE) {
    IListOwnerUI* owner = m_itemState.owner;
    if (!owner) return SIZE{0, 0};
    const ListItemStyle& style = *owner->GetItemStyle();
    SIZE size = m_fixedSize;
    const RECT padding = ScaledPadding(m_manager, style);
    if (size.cy == 0 && m_manager) size.cy = ItemFontHeight(m_manager, style) + padding.top + padding.bottom + 8;
    if (size.cx == 0 && m_manager) {
        RECT rect = {0, 0, 9999, size.cy};
        const UINT textStyle = (style.textStyle & ~(DT_CENTER | DT_RIGHT)) | DT_CALCRECT | DT_SINGLELINE;
        const CUIString text = GetText();
        HDC hdc = m_manager->GetPaintDC();
        if (style.showHtml) {
            int links = 0;
            CSkinRenderer::DrawHtmlText(hdc, m_manager, rect, text, 0, nullptr, nullptr, links, style.font, textStyle);
        } else {
            CSkinRenderer::DrawText(hdc, m_manager, rect, text, 0, style.font, textStyle);
        }
        size.cx = rect.right - rect.left + padding.left + padding.right;
    }
    return size;
}

void CListLabelElementUI::Paint(HDC hdc, const RECT& paint) {
    if (!IntersectRect(&m_paintRect, &paint, &m_item)) return;
    PaintItemBackground(hdc);
    PaintItemText(hdc, m_item);
}

void CListLabelElementUI::PaintItemText(HDC hdc, const RECT& rect) {
    IListOwnerUI* owner = m_itemState.owner;
    const CUIString text = GetText();
    if (text.IsEmpty() || !owner || !m_manager) return;
    const ListItemStyle& style = *owner->GetItemStyle();
    const DWORD color = ItemTextColor(style, IsHot(), m_itemState.selected, IsEnabled());
    RECT box = LessPadding(rect, ScaledPadding(m_manager, style));
    if (style.showHtml) {
        int links = 0;
        CSkinRenderer::DrawHtmlText(hdc, m_manager, box, text, color, nullptr, nullptr, links, style.font,
                                    style.textStyle);
    } else {
        CSkinRenderer::DrawText(hdc, m_manager, box, text, color, style.font, style.textStyle);
    }
}

// ------------------------------------------------------------------ text element

CListTextElementUI::CListTextElementUI() = default;

CListTextElementUI::~CListTextElementUI() {
    for (int i = 0; i < m_columnTexts.GetSize(); ++i) delete static_cast<CUIString*>(m_columnTexts.GetAt(i));
}

CControlUI* CListTextElementUI::CreateListTextElementUI() { return new (std::nothrow) CListTextElementUI; }

const wchar_t* CListTextElementUI::GetClassTag() const { return L"ListTextElement"; }

void* CListTextElementUI::FindInterface(const wchar_t* tag) {
    if (tag && (Is(tag, L"ListTextElement") || Is(tag, L"ListLabelElement"))) return static_cast<CControlUI*>(this);
    return CListElementUI::FindInterface(tag);
}

UINT CListTextElementUI::GetBehaviorFlags() const { return IsEnabled() && m_linkCount > 0 ? 6 : 4; }

void CListTextElementUI::SetItemOwner(CControlUI* owner) {
    if (!owner) return;
    CListElementUI::SetItemOwner(owner);
    m_list = static_cast<IListUI*>(owner->FindInterface(L"IList"));
}

const wchar_t* CListTextElementUI::GetColumnText(int column) {
    if (column < 0 || column >= m_columnTexts.GetSize()) return nullptr;
    const CUIString* entry = static_cast<const CUIString*>(m_columnTexts.GetAt(column));
    if (!entry) return nullptr;
    if (IsResourceText()) {
        m_catalogText = GetResourceCatalog().GetText(*entry);
        return m_catalogText;
    }
    return *entry;
}

void CListTextElementUI::SetColumnText(int column, const wchar_t* text) {
    if (!m_list) return;
    const int columns = m_list->GetItemStyle()->columns;
    if (column < 0 || column >= columns) return;
    while (m_columnTexts.GetSize() < columns) {
        if (!m_columnTexts.Add(nullptr)) return;
    }
    CUIString* entry = static_cast<CUIString*>(m_columnTexts.GetAt(column));
    if (entry ? (text && *entry == text) : !text) return;
    CUIString* replacement = text ? new (std::nothrow) CUIString(text) : nullptr;
    if (text && !replacement) return;
    delete entry;
    m_columnTexts.SetAt(column, replacement);
    ListItemState::RepaintRow(*this);
}

int CListTextElementUI::LinkAt(POINT point) const {
    for (int i = 0; i < m_linkCount && i < kMaxLinks; ++i) {
        if (PtInRect(&m_links[i], point)) return i;
    }
    return -1;
}

void CListTextElementUI::HandleEvent(ControlEvent& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.type)) {
        if (m_list) {
            m_list->HandleItemEvent(event);
        } else {
            CListLabelElementUI::HandleEvent(event);
        }
        return;
    }
    const int link = LinkAt(event.mouse);
    if (event.type == EventSetCursor && link >= 0) {
        ::SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32649)));   // IDC_HAND
        return;
    }
    if (event.type == EventButtonUp && IsEnabled() && link >= 0) {
        if (m_manager) m_manager->SendNotification(this, L"link", static_cast<WPARAM>(link));
        return;
    }
    if (m_linkCount > 0) {
        if (event.type == EventMouseMove && link != m_hoverLink) {
            ListItemState::RepaintRow(*this);
            m_hoverLink = link;
        } else if (event.type == EventMouseLeave && m_hoverLink != -1) {
            ListItemState::RepaintRow(*this);
            m_hoverLink = -1;
        }
    }
    CListLabelElementUI::HandleEvent(event);
}

SIZE CListTextElementUI::MeasureSize(SIZE) {
    SIZE size = m_fixedSize;
    if (size.cy == 0 && m_manager && m_list) {
        const ListItemStyle& style = *m_list->GetItemStyle();
        const RECT padding = ScaledPadding(m_manager, style);
        size.cy = ItemFontHeight(m_manager, style) + padding.top + padding.bottom + 8;
    }
    return size;
}

void CListTextElementUI::PaintItemText(HDC hdc, const RECT& rect) {
    if (!m_list || !m_manager) return;
    const ListItemStyle& style = *m_list->GetItemStyle();
    const DWORD color = ItemTextColor(style, IsHot(), m_itemState.selected, IsEnabled());
    const RECT padding = ScaledPadding(m_manager, style);
    IListTextProvider* provider = m_list->GetTextProvider();
    m_linkCount = 0;
    for (int i = 0; i < style.columns; ++i) {
        const RECT& column = style.columnRects[i];
        RECT cell = {column.left + padding.left + ColumnTextInset(i), rect.top + padding.top,
                     column.right - padding.right, rect.bottom - padding.bottom};
        const wchar_t* text = provider ? provider->GetCellText(this, m_itemState.index, i) : GetColumnText(i);
        if (!text) text = L"";
        if (style.showHtml) {
            // The links of all columns share the item's eight slots.
            int room = kMaxLinks - m_linkCount;
            CSkinRenderer::DrawHtmlText(hdc, m_manager, cell, text, color, room > 0 ? &m_links[m_linkCount] : nullptr,
                                        room > 0 ? &m_linkTexts[m_linkCount] : nullptr, room, style.font,
                                        style.textStyle);
            m_linkCount += room;
        } else {
            CSkinRenderer::DrawText(hdc, m_manager, cell, text, color, style.font, style.textStyle);
        }
    }
    for (int i = m_linkCount; i < kMaxLinks; ++i) {
        m_links[i] = RECT{};
        m_linkTexts[i].Empty();
    }
}

// ------------------------------------------------------------------ container element

CControlUI* CListContainerElementUI::CreateListContainerElementUI() {
    return new (std::nothrow) CListContainerElementUI;
}

const wchar_t* CListContainerElementUI::GetClassTag() const { return L"ListContainerElement"; }

void* CListContainerElementUI::FindInterface(const wchar_t* tag) {
    if (!tag) return nullptr;
    if (Is(tag, L"ListItem")) return static_cast<IListItemUI*>(this);
    if (Is(tag, L"ListContainerElement")) return static_cast<CControlUI*>(this);
    return CContainerUI::FindInterface(tag);
}

UINT CListContainerElementUI::GetBehaviorFlags() const { return 4; }

bool CListContainerElementUI::Activate() {
    if (!CControlUI::Activate()) return false;
    if (m_manager) m_manager->SendNotification(this, L"itemactivate");
    return true;
}

void CListContainerElementUI::SetPos(RECT rect, bool invalidate) {
    CHorizontalLayoutUI::SetPos(rect, invalidate);
    IListOwnerUI* owner = m_itemState.owner;
    if (!owner || owner->GetOwnerKind() != 0) return;
    IListUI* list = dynamic_cast<IListUI*>(owner);
    CListHeaderUI* header = list ? list->GetListHeader() : nullptr;
    if (!header || !header->IsVisible()) return;
    // The children follow the header's columns.
    for (int i = 0; i < m_items.GetSize() && i < header->GetItemCount(); ++i) {
        const RECT column = header->GetItemAt(i)->GetPos();
        if (column.left == 0 && column.right == 0) continue;
        CControlUI* child = GetItemAt(i);
        const RECT place = child->GetPos();
        child->SetPos(RECT{column.left, place.top, column.right, place.bottom}, true);
    }
}

void CListContainerElementUI::SetVisible(bool show) {
    CContainerUI::SetVisible(show);
    m_itemState.AfterVisibilityChange(*this);
}

void CListContainerElementUI::SetEnabled(bool enabled) {
    if (m_enabled != enabled) {
        m_enabled = enabled;
        Invalidate();
    }
    if (!enabled) m_itemState.state = 0;
}

void CListContainerElementUI::HandleEvent(ControlEvent& event) {
    IListOwnerUI* owner = m_itemState.owner;
    if (!IsMouseEnabled() && IsMouseEvent(event.type)) {
        if (owner) {
            owner->HandleItemEvent(event);
        } else {
            CContainerUI::HandleEvent(event);
        }
        return;
    }
    if (event.type == EventContextMenu && IsMenuEnabled()) {
        if (m_manager) m_manager->SendNotification(this, L"menu", event.wParam, event.lParam);
        return;
    }
    if (event.type == EventTimer) {
        if (m_manager) m_manager->SendNotification(this, L"timer", event.wParam, event.lParam);
        return;
    }
    if (m_itemState.HandleCommon(*this, *this, event)) return;
    if (owner) {
        owner->HandleItemEvent(event);
    } else {
        CControlUI::HandleEvent(event);
    }
}

void CListContainerElementUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (Is(name, L"selected")) {
        if (ReadBool(value)) SetSelected(true);
    } else {
        CContainerUI::SetAttribute(name, value);
    }
}

SIZE CListContainerElementUI::MeasureSize(SIZE available) { return CControlUI::MeasureSize(available); }

void CListContainerElementUI::PaintBorder(HDC hdc) {
    CControlUI::PaintBorder(hdc);
    m_itemState.PaintBackground(*this, hdc);
}

int CListContainerElementUI::GetItemIndex() { return m_itemState.index; }
void CListContainerElementUI::SetItemIndex(int index) { m_itemState.index = index; }
IListOwnerUI* CListContainerElementUI::GetItemOwner() { return m_itemState.owner; }
void CListContainerElementUI::SetItemOwner(CControlUI* owner) { m_itemState.SetOwner(owner); }
bool CListContainerElementUI::IsItemSelected() { return m_itemState.selected; }
bool CListContainerElementUI::SetSelected(bool on) { return m_itemState.Select(*this, on); }
bool CListContainerElementUI::SetMultiSelected(bool on) { return m_itemState.MultiSelect(*this, on); }
bool CListContainerElementUI::IsItemExpanded() { return false; }
bool CListContainerElementUI::SetExpanded(bool) { return false; }
void CListContainerElementUI::PaintItemText(HDC, const RECT&) {}

}  // namespace Veneer
