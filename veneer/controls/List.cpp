// The list: item container over its body, selection, expansion, keys and
// wheel, layout with the header's column rectangles, and the body's layout
// and scrolling.
#include "List.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "ListHeader.h"
#include "PaintManager.h"
#include "ScrollBar.h"

namespace Veneer {

namespace {
bool Is(const wchar_t* name, const wchar_t* expected) { return CompareTextNoCase(name, expected) == 0; }
DWORD ReadColorValue(const wchar_t* value) {
    if (*value == L'#') ++value;
    return static_cast<DWORD>(wcstoul(value, nullptr, 16));
}
IListItemUI* AsItem(CControlUI* control) {
    return control ? static_cast<IListItemUI*>(control->FindInterface(L"ListItem")) : nullptr;
}
}  // namespace

CListUI::CListUI() {
    m_body = new CListBodyUI(this);
    m_header = new CListHeaderUI;
    AddItem(m_header);
    CContainerUI::AddItem(m_body);
}

CListUI::~CListUI() {
    m_style.bkImage.Empty();
    m_selection.Empty();
}

CControlUI* CListUI::CreateListUI() { return new (std::nothrow) CListUI; }

const wchar_t* CListUI::GetClassTag() const { return L"List"; }

void* CListUI::FindInterface(const wchar_t* tag) {
    if (!tag) return nullptr;
    if (Is(tag, L"List")) return this;
    if (Is(tag, L"IList")) return static_cast<IListUI*>(this);
    if (Is(tag, L"IListOwner")) return static_cast<IListOwnerUI*>(this);
    return CVerticalLayoutUI::FindInterface(tag);
}

UINT CListUI::GetBehaviorFlags() const { return 1; }

// ------------------------------------------------------------------ passed to the body

int CListUI::GetChildPadding() const { return m_body->GetChildPadding(); }
void CListUI::SetChildPadding(int gap) { m_body->SetChildPadding(gap); }
bool CListUI::IsDelayedDestroy() const { return m_body->IsDelayedDestroy(); }
void CListUI::SetDelayedDestroy(bool on) { m_body->SetDelayedDestroy(on); }
SIZE CListUI::GetScrollPos() const { return m_body->GetScrollPos(); }
SIZE CListUI::GetScrollRange() const { return m_body->GetScrollRange(); }
void CListUI::SetScrollPos(SIZE position, bool notify) { m_body->SetScrollPos(position, notify); }
void CListUI::ScrollLineUp() { m_body->ScrollLineUp(); }
void CListUI::ScrollLineDown() { m_body->ScrollLineDown(); }
void CListUI::ScrollPageUp() { m_body->ScrollPageUp(); }
void CListUI::ScrollPageDown() { m_body->ScrollPageDown(); }
void CListUI::ScrollToTop() { m_body->ScrollToTop(); }
void CListUI::ScrollToBottom() { m_body->ScrollToBottom(); }
void CListUI::ScrollLineLeft() { m_body->ScrollLineLeft(); }
void CListUI::ScrollLineRight() { m_body->ScrollLineRight(); }
void CListUI::ScrollPageLeft() { m_body->ScrollPageLeft(); }
void CListUI::ScrollPageRight() { m_body->ScrollPageRight(); }
void CListUI::ScrollToLeftEnd() { m_body->ScrollToLeftEnd(); }
void CListUI::ScrollToRightEnd() { m_body->ScrollToRightEnd(); }
void CListUI::EnableScrollBar(bool vertical, bool horizontal) { m_body->EnableScrollBar(vertical, horizontal); }
CScrollBarUI* CListUI::GetVerticalScrollBar() const { return m_body->GetVerticalScrollBar(); }
CScrollBarUI* CListUI::GetHorizontalScrollBar() const { return m_body->GetHorizontalScrollBar(); }

bool CListUI::IsColumnEditable(int) { return false; }
CControlUI* CListUI::GetCellEditor() { return nullptr; }
bool CListUI::IsColumnComboable(int) { return false; }
CControlUI* CListUI::GetCellComboBox() { return nullptr; }

// ------------------------------------------------------------------ item container

bool CListUI::IsHeader(CControlUI* control) { return control && control->FindInterface(L"ListHeader"); }
bool CListUI::IsHeaderItem(CControlUI* control) {
    return control && wcsstr(control->GetClassTag(), L"ListHeaderItem") != nullptr;
}

void CListUI::UpdateColumnCount() {
    m_style.columns = m_header ? std::min(m_header->GetItemCount(), static_cast<int>(kMaxListColumns)) : 0;
}

CControlUI* CListUI::GetItemAt(int index) const { return m_body->GetItemAt(index); }
int CListUI::GetItemCount() const { return m_body->GetItemCount(); }

int CListUI::IndexOfItem(CControlUI* control) const {
    if (IsHeader(control)) return CContainerUI::IndexOfItem(control);
    if (IsHeaderItem(control)) return m_header ? m_header->IndexOfItem(control) : -1;
    return m_body->IndexOfItem(control);
}

bool CListUI::AddHeader(CControlUI* control) {
    CListHeaderUI* header = static_cast<CListHeaderUI*>(control->FindInterface(L"ListHeader"));
    if (header != m_header && m_header && m_header->GetItemCount() == 0) {
        CControlUI* old = m_header;
        m_header = header;
        CContainerUI::RemoveItem(old);
    } else if (!m_header) {
        m_header = header;
    }
    const bool added = CContainerUI::InsertItemAt(control, 0);
    UpdateColumnCount();
    return added;
}

bool CListUI::AddItem(CControlUI* control) {
    if (!control) return false;
    if (IsHeader(control)) return AddHeader(control);
    if (IsHeaderItem(control)) {
        if (!m_header) return false;
        const bool added = m_header->AddItem(control);
        UpdateColumnCount();
        return added;
    }
    if (IListItemUI* item = AsItem(control)) {
        item->SetItemOwner(this);
        item->SetItemIndex(GetItemCount());
        return m_body->AddItem(control);
    }
    return CContainerUI::AddItem(control);
}

void CListUI::RenumberFrom(int index) {
    for (int i = std::max(index, 0); i < GetItemCount(); ++i) {
        if (IListItemUI* item = AsItem(GetItemAt(i))) item->SetItemIndex(i);
    }
}

bool CListUI::InsertItemAt(CControlUI* control, int index) {
    if (!control) return false;
    if (IsHeader(control)) return AddHeader(control);
    if (IsHeaderItem(control)) {
        if (!m_header) return false;
        const bool added = m_header->InsertItemAt(control, index);
        UpdateColumnCount();
        return added;
    }
    if (!m_body->InsertItemAt(control, index)) return false;
    if (IListItemUI* item = AsItem(control)) {
        item->SetItemOwner(this);
        item->SetItemIndex(index);
    }
    RenumberFrom(index + 1);
    if (m_currentIndex >= index) ++m_currentIndex;
    // The selection follows its items.
    for (int i = 0; i < m_selection.GetSize(); ++i) {
        const int entry = SelectionAt(i);
        if (entry >= index) m_selection.SetAt(i, reinterpret_cast<void*>(static_cast<INT_PTR>(entry + 1)));
    }
    return true;
}

bool CListUI::MoveItemTo(CControlUI* control, int index) {
    if (IsHeader(control)) return CContainerUI::MoveItemTo(control, index);
    if (IsHeaderItem(control)) return m_header ? m_header->MoveItemTo(control, index) : false;
    const int old = m_body->IndexOfItem(control);
    if (old < 0) return false;
    if (old == index) return true;
    CControlUI* current = m_currentIndex >= 0 ? GetItemAt(m_currentIndex) : nullptr;
    if (!m_body->MoveItemTo(control, index)) return false;
    for (int i = std::min(old, index); i <= std::max(old, index); ++i) {
        if (IListItemUI* item = AsItem(GetItemAt(i))) item->SetItemIndex(i);
    }
    if (m_currentIndex >= 0) m_currentIndex = m_body->IndexOfItem(current);
    for (int i = 0; i < m_selection.GetSize(); ++i) {
        int entry = SelectionAt(i);
        if (entry == old) entry = index;
        else if (old < index && entry > old && entry <= index) --entry;
        else if (index < old && entry >= index && entry < old) ++entry;
        m_selection.SetAt(i, reinterpret_cast<void*>(static_cast<INT_PTR>(entry)));
    }
    return true;
}

void CListUI::ForgetRemovedIndex(int index) {
    RenumberFrom(index);
    for (int i = m_selection.GetSize() - 1; i >= 0; --i) {
        const int entry = SelectionAt(i);
        if (entry == index) m_selection.RemoveAt(i);
        else if (entry > index) m_selection.SetAt(i, reinterpret_cast<void*>(static_cast<INT_PTR>(entry - 1)));
    }
    if (index == m_currentIndex) {
        m_currentIndex = -1;
        SelectIndex(m_body->FindSelectable(index, false), false);
    } else if (index < m_currentIndex) {
        --m_currentIndex;
    }
}

bool CListUI::RemoveItem(CControlUI* control) {
    if (IsHeader(control)) {
        if (!CContainerUI::RemoveItem(control)) return false;
        if (control == m_header) m_header = nullptr;
        UpdateColumnCount();
        return true;
    }
    if (IsHeaderItem(control)) {
        if (!m_header || !m_header->RemoveItem(control)) return false;
        UpdateColumnCount();
        return true;
    }
    const int index = m_body->IndexOfItem(control);
    if (index < 0) return CContainerUI::RemoveItem(control);
    if (!m_body->RemoveItem(control)) return false;
    ForgetRemovedIndex(index);
    return true;
}

bool CListUI::RemoveItemAt(int index) {
    if (!m_body->RemoveItemAt(index)) return false;
    ForgetRemovedIndex(index);
    return true;
}

void CListUI::RemoveAllItems() {
    m_currentIndex = -1;
    m_expandedIndex = -1;
    m_selection.Empty();
    m_body->RemoveAllItems();
}

// ------------------------------------------------------------------ selection

int CListUI::GetOwnerKind() { return 0; }
ListItemStyle* CListUI::GetItemStyle() { return &m_style; }
int CListUI::GetSelectedIndex() { return m_selection.IsEmpty() ? -1 : SelectionAt(0); }
void CListUI::HandleItemEvent(ControlEvent& event) { CListUI::HandleEvent(event); }

bool CListUI::InSelection(int index) const {
    for (int i = 0; i < m_selection.GetSize(); ++i) {
        if (SelectionAt(i) == index) return true;
    }
    return false;
}

void CListUI::AppendSelection(int index) {
    if (!InSelection(index)) m_selection.Add(reinterpret_cast<void*>(static_cast<INT_PTR>(index)));
}

void CListUI::RemoveSelectionEntry(int index) {
    for (int i = 0; i < m_selection.GetSize(); ++i) {
        if (SelectionAt(i) == index) {
            m_selection.RemoveAt(i);
            return;
        }
    }
}

bool CListUI::SelectIndex(int index, bool takeFocus) {
    ClearSelection();
    if (index < 0) return false;
    CControlUI* control = GetItemAt(index);
    IListItemUI* item = AsItem(control);
    if (!item) return false;
    if (!item->SetSelected(true)) return false;
    const int previous = m_currentIndex;
    m_currentIndex = index;
    AppendSelection(index);
    EnsureIndexVisible(index);
    if (takeFocus) control->TakeFocus();
    if (m_manager && previous != index) m_manager->SendNotification(this, L"itemselect", static_cast<WPARAM>(index));
    return true;
}

bool CListUI::AddToSelection(int index, bool takeFocus) {
    if (!m_multiSelect) return SelectIndex(index, takeFocus);
    if (index < 0) return false;
    CControlUI* control = GetItemAt(index);
    IListItemUI* item = AsItem(control);
    if (!item || InSelection(index)) return false;
    if (!item->SetMultiSelected(true)) return false;
    const int previous = m_currentIndex;
    m_currentIndex = index;
    AppendSelection(index);
    EnsureIndexVisible(index);
    if (takeFocus) control->TakeFocus();
    if (m_manager && previous != index) m_manager->SendNotification(this, L"itemselect", static_cast<WPARAM>(index));
    return true;
}

bool CListUI::DeselectIndex(int index, bool allOthers) {
    if (!m_multiSelect) return false;
    if (allOthers) {
        for (int i = m_selection.GetSize() - 1; i >= 0; --i) {
            const int entry = SelectionAt(i);
            if (entry == index) continue;
            CControlUI* control = GetItemAt(entry);
            IListItemUI* item = AsItem(control);
            if (!item || !control->IsEnabled() || !item->SetMultiSelected(false)) continue;
            m_selection.RemoveAt(i);
        }
        return true;
    }
    if (index < 0) return false;
    CControlUI* control = GetItemAt(index);
    IListItemUI* item = AsItem(control);
    if (!item || !control->IsEnabled() || !InSelection(index) || !item->SetMultiSelected(false)) return false;
    if (index == m_currentIndex) m_currentIndex = -1;
    RemoveSelectionEntry(index);
    return true;
}

void CListUI::SelectAllIndices() {
    for (int i = 0; i < GetItemCount(); ++i) {
        CControlUI* control = GetItemAt(i);
        IListItemUI* item = AsItem(control);
        if (!item || !control->IsVisible() || !control->IsEnabled() || !item->SetMultiSelected(true)) continue;
        AppendSelection(i);
        m_currentIndex = i;
    }
}

void CListUI::ClearSelection() {
    for (int i = 0; i < m_selection.GetSize(); ++i) {
        CControlUI* control = GetItemAt(SelectionAt(i));
        IListItemUI* item = AsItem(control);
        if (item && control->IsEnabled()) item->SetMultiSelected(false);
    }
    m_selection.Empty();
    m_currentIndex = -1;
}

int CListUI::GetSelectionCount() { return m_selection.GetSize(); }

int CListUI::GetNextSelectedIndex(int after) {
    if (m_selection.IsEmpty()) return -1;
    if (after < 0) return SelectionAt(0);
    for (int i = 0; i < m_selection.GetSize(); ++i) {
        if (SelectionAt(i) == after) return i + 1 < m_selection.GetSize() ? SelectionAt(i + 1) : -1;
    }
    return -1;
}

int CListUI::GetMinSelectedIndex() const {
    if (m_selection.IsEmpty()) return -1;
    int result = SelectionAt(0);
    for (int i = 1; i < m_selection.GetSize(); ++i) result = std::min(result, SelectionAt(i));
    return result;
}

int CListUI::GetMaxSelectedIndex() const {
    if (m_selection.IsEmpty()) return -1;
    int result = SelectionAt(0);
    for (int i = 1; i < m_selection.GetSize(); ++i) result = std::max(result, SelectionAt(i));
    return result;
}

CListHeaderUI* CListUI::GetListHeader() { return m_header; }
CListBodyUI* CListUI::GetListBody() { return m_body; }
IListTextProvider* CListUI::GetTextProvider() { return m_textProvider; }
void CListUI::SetTextProvider(IListTextProvider* provider) { m_textProvider = provider; }
int CListUI::GetExpandedIndex() { return m_expandedIndex; }
bool CListUI::IsMultiSelectEnabled() { return m_multiSelect; }

void CListUI::EnableMultiSelect(bool on) {
    m_multiSelect = on;
    if (!on) ClearSelection();
}

bool CListUI::SetItemExpanded(int index, bool expand) {
    if (m_expandedIndex >= 0 && !m_style.multiExpanding) {
        if (IListItemUI* item = AsItem(GetItemAt(m_expandedIndex))) item->SetExpanded(false);
        m_expandedIndex = -1;
    }
    if (expand) {
        CControlUI* control = GetItemAt(index);
        IListItemUI* item = AsItem(control);
        if (!item || !control->IsVisible()) return false;
        m_expandedIndex = index;
        if (!item->SetExpanded(true)) {
            m_expandedIndex = -1;
            return false;
        }
    }
    MarkForLayout();
    return true;
}

void CListUI::EnsureIndexVisible(int index) {
    if (m_currentIndex < 0) return;
    CControlUI* control = GetItemAt(index);
    if (!control) return;
    const RECT item = control->GetPos();
    const RECT inset = m_body->GetInset();
    RECT band = m_body->GetPos();
    band.top += inset.top;
    band.bottom -= inset.bottom;
    CScrollBarUI* bar = m_body->GetHorizontalScrollBar();
    if (bar && bar->IsVisible()) band.bottom -= bar->GetFixedHeight();
    if (item.top >= band.top && item.bottom < band.bottom) return;
    int dy = 0;
    if (item.top < band.top) dy = item.top - band.top;
    if (item.bottom > band.bottom) dy = item.bottom - band.bottom;
    ScrollBodyBy(dy);
}

void CListUI::ScrollBodyBy(int dy) {
    if (dy == 0) return;
    SIZE position = m_body->GetScrollPos();
    position.cy += dy;
    m_body->SetScrollPos(position);
}

// ------------------------------------------------------------------ keys and wheel

void CListUI::HandleEvent(ControlEvent& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.type)) {
        if (m_parent) {
            m_parent->HandleEvent(event);
        } else {
            CVerticalLayoutUI::HandleEvent(event);
        }
        return;
    }
    switch (event.type) {
    case EventSetFocus:
        m_focused = true;
        return;
    case EventKillFocus:
        m_focused = false;
        return;
    case EventKeyDown:
        switch (event.key) {
        case VK_RETURN:
            if (m_currentIndex != -1) {
                if (CControlUI* item = GetItemAt(m_currentIndex)) item->Activate();
            }
            return;
        case VK_PRIOR:
            ScrollPageUp();
            return;
        case VK_NEXT:
            ScrollPageDown();
            return;
        case VK_HOME:
            SelectIndex(m_body->FindSelectable(0, false), true);
            return;
        case VK_END:
            SelectIndex(m_body->FindSelectable(GetItemCount() - 1, true), true);
            return;
        case VK_UP: {
            if (m_selection.IsEmpty()) return;
            const int m = GetMinSelectedIndex();
            ClearSelection();
            SelectIndex(m - 1 > 0 ? m - 1 : 0, true);
            return;
        }
        case VK_DOWN: {
            if (m_selection.IsEmpty()) return;
            const int m = GetMaxSelectedIndex();
            ClearSelection();
            if (m + 2 <= GetItemCount()) {
                SelectIndex(m + 1, true);
            } else {
                SelectIndex(GetItemCount() - 1, true);
            }
            return;
        }
        default:
            break;
        }
        break;
    case EventScrollWheel: {
        const WORD direction = LOWORD(event.wParam);
        if (direction == 0) {
            if (!m_scrollSelect || m_multiSelect) {
                ScrollLineUp();
            } else {
                SelectIndex(m_body->FindSelectable(m_currentIndex - 1, false), true);
            }
            return;
        }
        if (direction == 1) {
            if (!m_scrollSelect || m_multiSelect) {
                ScrollLineDown();
            } else {
                SelectIndex(m_body->FindSelectable(m_currentIndex + 1, true), true);
            }
            return;
        }
        break;
    }
    default:
        break;
    }
    CVerticalLayoutUI::HandleEvent(event);
}

// ------------------------------------------------------------------ attributes

void CListUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    auto flag = [this, value](bool& field) {
        field = ReadBool(value);
        Invalidate();
    };
    auto color = [this, value](DWORD& field) {
        field = ReadColorValue(value);
        Invalidate();
    };
    auto image = [this, value](CUIString& field) {
        field = value;
        Invalidate();
    };
    if (Is(name, L"header")) {
        if (m_header) m_header->SetVisible(CompareTextNoCase(value, L"hidden") != 0);
    } else if (Is(name, L"headerbkimage")) {
        if (m_header) m_header->SetBackgroundImage(value);
    } else if (Is(name, L"scrollselect")) {
        m_scrollSelect = ReadBool(value);
    } else if (Is(name, L"fixedscrollbar")) {
        m_fixedScrollBar = ReadBool(value);
        Invalidate();
    } else if (Is(name, L"multiexpanding")) {
        m_style.multiExpanding = ReadBool(value);
    } else if (Is(name, L"itemfont")) {
        m_style.font = _wtoi(value);
    } else if (Is(name, L"itemalign")) {
        UINT& s = m_style.textStyle;
        if (wcsstr(value, L"left")) s &= ~(DT_CENTER | DT_RIGHT);
        if (wcsstr(value, L"center")) s = (s & ~DT_RIGHT) | DT_CENTER;
        if (wcsstr(value, L"right")) s = (s & ~DT_CENTER) | DT_RIGHT;
    } else if (Is(name, L"itemvalign")) {
        UINT& s = m_style.textStyle;
        if (wcsstr(value, L"top")) s &= ~(DT_VCENTER | DT_BOTTOM);
        if (wcsstr(value, L"vcenter")) s = (s & ~(DT_BOTTOM | DT_WORDBREAK)) | DT_VCENTER | DT_SINGLELINE;
        if (wcsstr(value, L"bottom")) s = (s & ~DT_VCENTER) | DT_BOTTOM;
    } else if (Is(name, L"itemendellipsis")) {
        if (ReadBool(value)) m_style.textStyle |= DT_END_ELLIPSIS;
        else m_style.textStyle &= ~DT_END_ELLIPSIS;
    } else if (Is(name, L"itemtextpadding")) {
        long v[4];
        ReadIntList(value, v, 4);
        m_style.textPadding = RECT{v[0], v[1], v[2], v[3]};
        MarkForLayout();
    } else if (Is(name, L"itemtextcolor")) color(m_style.textColor);
    else if (Is(name, L"itembkcolor")) color(m_style.bkColor);
    else if (Is(name, L"itemselectedtextcolor")) color(m_style.selectedTextColor);
    else if (Is(name, L"itemselectedbkcolor")) color(m_style.selectedBkColor);
    else if (Is(name, L"itemhottextcolor")) color(m_style.hotTextColor);
    else if (Is(name, L"itemhotbkcolor")) color(m_style.hotBkColor);
    else if (Is(name, L"itemdisabledtextcolor")) color(m_style.disabledTextColor);
    else if (Is(name, L"itemdisabledbkcolor")) color(m_style.disabledBkColor);
    else if (Is(name, L"itemlinecolor")) color(m_style.lineColor);
    else if (Is(name, L"itembkimage")) image(m_style.bkImage);
    else if (Is(name, L"itemselectedimage")) image(m_style.selectedImage);
    else if (Is(name, L"itemhotimage")) image(m_style.hotImage);
    else if (Is(name, L"itemdisabledimage")) image(m_style.disabledImage);
    else if (Is(name, L"itemaltbk")) flag(m_style.alternateBk);
    else if (Is(name, L"itemshowrowline")) flag(m_style.showRowLine);
    else if (Is(name, L"itemshowcolumnline")) flag(m_style.showColumnLine);
    else if (Is(name, L"itemshowhtml") || Is(name, L"itemrselected")) {
        bool& field = Is(name, L"itemshowhtml") ? m_style.showHtml : m_style.rightSelects;
        const bool on = ReadBool(value);
        if (on != field) {
            field = on;
            MarkForLayout();
        }
    } else if (Is(name, L"multiselect")) {
        EnableMultiSelect(ReadBool(value));
    } else if (Is(name, L"vscrollbar") || Is(name, L"hscrollbar") || Is(name, L"vscrollbarstyle") ||
               Is(name, L"hscrollbarstyle") || Is(name, L"childpadding")) {
        // The list's scroll bars and child padding are its body's.
        m_body->SetAttribute(name, value);
    } else {
        CVerticalLayoutUI::SetAttribute(name, value);
    }
}

// ------------------------------------------------------------------ layout

void CListUI::SetPos(RECT rect, bool invalidate) {
    CVerticalLayoutUI::SetPos(rect, invalidate);
    if (!m_header) return;
    UpdateColumnCount();
    const bool hidden = !m_header->IsVisible();
    // A hidden header is still laid out for its columns' rectangles.
    if (hidden) {
        for (int i = 0; i < m_header->GetItemCount(); ++i) m_header->GetItemAt(i)->SetParentVisible(true);
        m_header->SetPos(RECT{rect.left, 0, rect.right, 0}, false);
    }
    for (int i = 0; i < m_style.columns; ++i) {
        CControlUI* column = m_header->GetItemAt(i);
        if (column->IsVisible() && !column->IsFloat()) m_style.columnRects[i] = column->GetPos();
    }
    if (hidden) {
        for (int i = 0; i < m_header->GetItemCount(); ++i) m_header->GetItemAt(i)->SetParentVisible(false);
    }
    m_body->SetPos(m_body->GetPos(), invalidate);
}

void CListUI::MoveBy(int dx, int dy, bool invalidate) {
    CContainerUI::MoveBy(dx, dy, invalidate);
    if (m_header && !m_header->IsVisible()) m_header->MoveBy(dx, dy, false);
}

// ------------------------------------------------------------------ body

namespace {
int ClampHeight(const CControlUI* c, int h) { return std::min(std::max(h, c->GetMinHeight()), c->GetMaxHeight()); }
int ClampWidth(const CControlUI* c, int w) { return std::min(std::max(w, c->GetMinWidth()), c->GetMaxWidth()); }
}  // namespace

void CListBodyUI::SetPos(RECT rect, bool invalidate) {
    CControlUI::SetPos(rect, invalidate);
    const RECT inset = GetInset();
    RECT rc = {rect.left + inset.left, rect.top + inset.top, rect.right - inset.right, rect.bottom - inset.bottom};
    if (m_vScroll && (m_vScroll->IsVisible() || (m_owner && m_owner->IsFixedScrollBar()))) {
        rc.right -= m_vScroll->GetFixedWidth();
    }
    if (m_hScroll && m_hScroll->IsVisible()) rc.bottom -= m_hScroll->GetFixedHeight();
    const int width = rc.right - rc.left;
    const int height = rc.bottom - rc.top;
    const int measureWidth = width + (m_hScroll && m_hScroll->IsVisible() ? m_hScroll->GetScrollRange() : 0);
    const int gap = GetChildPadding();

    int n = 0, stretchy = 0, fixedHeight = 0, neededWidth = 0;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* item = GetItemAt(i);
        if (!item->IsVisible() || item->IsFloat()) continue;
        const SIZE size = item->MeasureSize(SIZE{measureWidth, height});
        int h = size.cy;
        if (h == 0) {
            ++stretchy;
        } else {
            h = ClampHeight(item, h);
        }
        const RECT pad = item->GetPadding();
        fixedHeight += pad.top + pad.bottom + h;
        neededWidth = std::max(neededWidth, ClampWidth(item, std::max<int>(size.cx, 0)));
        ++n;
    }
    if (n > 0) fixedHeight += gap * (n - 1);

    CListHeaderUI* header = m_owner ? m_owner->GetListHeader() : nullptr;
    if (header && header->GetItemCount() > 0) {
        neededWidth = std::max<int>(header->MeasureSize(SIZE{width, height}).cx, 0);
        if (m_hScroll && m_hScroll->IsVisible()) {
            RECT place = header->GetPos();
            place.left = rc.left - m_hScroll->GetScrollPos();
            header->SetPos(place, false);
        }
    }
    const int stretch = stretchy > 0 ? std::max(0, (height - fixedHeight) / stretchy) : 0;

    int y = rc.top - (m_vScroll && m_vScroll->IsVisible() ? m_vScroll->GetScrollPos() : 0);
    const int x = rc.left - (m_hScroll && m_hScroll->IsVisible() ? m_hScroll->GetScrollPos() : 0);
    int remaining = height;
    int remainingFixed = fixedHeight;
    int stretchSeen = 0, neededHeight = 0;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* item = GetItemAt(i);
        if (!item->IsVisible()) continue;
        if (item->IsFloat()) {
            PlaceFloatingChild(i);
            continue;
        }
        const RECT pad = item->GetPadding();
        remaining -= pad.top;
        const SIZE size = item->MeasureSize(SIZE{measureWidth, remaining});
        int h = size.cy;
        if (h == 0) {
            ++stretchSeen;
            h = stretchSeen == stretchy ? std::max(0, static_cast<int>(remaining - pad.bottom - remainingFixed)) : stretch;
            h = ClampHeight(item, h);
        } else {
            h = ClampHeight(item, h);
            remainingFixed -= h;
        }
        const int w = ClampWidth(item, std::max<int>(neededWidth, measureWidth - pad.left - pad.right));
        item->SetPos(RECT{x + pad.left, y + pad.top, x + pad.left + w, y + pad.top + h + pad.bottom}, true);
        y += pad.top + h + pad.bottom + gap;
        neededHeight += pad.top + h + pad.bottom;
        remaining -= h + pad.bottom + gap;
    }
    if (n > 0) neededHeight += gap * (n - 1);

    if (m_hScroll) {
        if (neededWidth > width) {
            if (!m_hScroll->IsVisible()) {
                m_hScroll->SetVisible(true);
                m_hScroll->SetScrollRange(neededWidth - width);
                m_hScroll->SetScrollPos(0);
                rc.bottom -= m_hScroll->GetFixedHeight();
            } else {
                m_hScroll->SetScrollRange(neededWidth - width);
            }
        } else if (m_hScroll->IsVisible()) {
            m_hScroll->SetVisible(false);
            m_hScroll->SetScrollRange(0);
            m_hScroll->SetScrollPos(0);
            rc.bottom += m_hScroll->GetFixedHeight();
        }
    }
    UpdateScrollBars(rc, neededWidth, neededHeight);
}

void CListBodyUI::HandleEvent(ControlEvent& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.type) && m_owner) {
        m_owner->HandleEvent(event);
        return;
    }
    CVerticalLayoutUI::HandleEvent(event);
}

void CListBodyUI::SetScrollPos(SIZE position, bool) {
    int dx = 0, dy = 0;
    if (m_vScroll && m_vScroll->IsVisible()) {
        const int old = m_vScroll->GetScrollPos();
        m_vScroll->SetScrollPos(position.cy);
        dy = m_vScroll->GetScrollPos() - old;
    }
    if (m_hScroll && m_hScroll->IsVisible()) {
        const int old = m_hScroll->GetScrollPos();
        m_hScroll->SetScrollPos(position.cx);
        dx = m_hScroll->GetScrollPos() - old;
    }
    if (dx == 0 && dy == 0) return;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* item = GetItemAt(i);
        if (!item->IsVisible() || item->IsFloat()) continue;
        RECT r = item->GetPos();
        OffsetRect(&r, -dx, -dy);
        item->SetPos(r, true);
    }
    Invalidate();
    CListHeaderUI* header = m_owner ? m_owner->GetListHeader() : nullptr;
    if (!header) return;
    ListItemStyle* style = m_owner->GetItemStyle();
    style->columns = std::min(header->GetItemCount(), static_cast<int>(kMaxListColumns));
    const bool hidden = !header->IsVisible();
    if (hidden) {
        for (int i = 0; i < header->GetItemCount(); ++i) header->GetItemAt(i)->SetParentVisible(true);
    }
    for (int i = 0; i < style->columns; ++i) {
        CControlUI* column = header->GetItemAt(i);
        if (!column->IsVisible() || column->IsFloat()) continue;
        RECT r = column->GetPos();
        OffsetRect(&r, -dx, 0);
        column->SetPos(r, true);
        style->columnRects[i] = r;
    }
    if (hidden) {
        for (int i = 0; i < header->GetItemCount(); ++i) header->GetItemAt(i)->SetParentVisible(false);
    }
}

int CListBodyUI::GetScrollStepSize() const {
    return m_owner ? m_owner->GetOwnScrollStepSize() : CVerticalLayoutUI::GetScrollStepSize();
}

}  // namespace Veneer
