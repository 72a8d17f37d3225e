// The tab layout (one selected child) and the tile layout (a grid of equal
// cells).
#include "TabTileLayout.h"

#include <algorithm>
#include <new>

#include "PaintManager.h"
#include "ScrollBar.h"

namespace Veneer {

namespace {
RECT LessInset(const RECT& item, const RECT& inset) {
    return RECT{item.left + inset.left, item.top + inset.top, item.right - inset.right, item.bottom - inset.bottom};
}
int Clamp(int value, int low, int high) { return std::min(std::max(value, low), high); }
}  // namespace

// ------------------------------------------------------------------ tab layout

CControlUI* CTabLayoutUI::CreateTabLayoutUI() { return new (std::nothrow) CTabLayoutUI; }
const wchar_t* CTabLayoutUI::GetClassTag() const { return L"TabLayout"; }
void* CTabLayoutUI::FindInterface(const wchar_t* tag) {
    if (tag && CompareTextNoCase(tag, L"TabLayout") == 0) return this;
    return CContainerUI::FindInterface(tag);
}

void CTabLayoutUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (CompareTextNoCase(name, L"selectedid") == 0) SelectItem(_wtoi(value));
    CContainerUI::SetAttribute(name, value);
}

bool CTabLayoutUI::AddItem(CControlUI* control) {
    if (!CContainerUI::AddItem(control)) return false;
    if (m_selected == -1 && control->IsVisible()) {
        m_selected = IndexOfItem(control);
    } else {
        control->SetVisible(false);
    }
    return true;
}

bool CTabLayoutUI::InsertItemAt(CControlUI* control, int index) {
    if (!CContainerUI::InsertItemAt(control, index)) return false;
    if (m_selected == -1 && control->IsVisible()) {
        m_selected = IndexOfItem(control);
    } else if (m_selected != -1 && m_selected >= index) {
        ++m_selected;
    } else {
        control->SetVisible(false);
    }
    return true;
}

bool CTabLayoutUI::RemoveItem(CControlUI* control) {
    const int index = IndexOfItem(control);
    if (!CContainerUI::RemoveItem(control)) return false;
    if (index == m_selected) {
        if (GetItemCount() > 0) {
            m_selected = 0;
            GetItemAt(0)->SetVisible(true);
        } else {
            m_selected = -1;
        }
        MarkParentForLayout();
    } else if (index < m_selected) {
        --m_selected;
    }
    return true;
}

void CTabLayoutUI::RemoveAllItems() {
    m_selected = -1;
    CContainerUI::RemoveAllItems();
    MarkParentForLayout();
}

bool CTabLayoutUI::SelectItemControl(CControlUI* control) {
    const int index = IndexOfItem(control);
    return index >= 0 && SelectItem(index);
}

bool CTabLayoutUI::SelectItem(int index) {
    if (index < 0 || index >= GetItemCount()) return false;
    if (index == m_selected) return true;
    const int old = m_selected;
    m_selected = index;
    for (int i = 0; i < GetItemCount(); ++i) {
        CControlUI* child = GetItemAt(i);
        if (i == index) {
            child->SetVisible(true);
            child->TakeFocus();
            SetPos(m_item, true);
        } else {
            child->SetVisible(false);
        }
    }
    MarkParentForLayout();
    if (m_manager) {
        if (m_manager->IsLayoutPending()) {
            m_manager->SetFocusPending(true);
            InvalidateRect(m_manager->GetPaintWindow(), nullptr, FALSE);
        } else {
            m_manager->FocusNextControl(true);
        }
        m_manager->SendNotification(this, L"tabselect", static_cast<WPARAM>(m_selected), static_cast<LPARAM>(old));
    }
    return true;
}

void CTabLayoutUI::SetPos(RECT rect, bool invalidate) {
    CControlUI::SetPos(rect, invalidate);
    const RECT area = LessInset(m_item, m_inset);
    for (int i = 0; i < GetItemCount(); ++i) {
        CControlUI* child = GetItemAt(i);
        if (!child->IsVisible()) continue;
        if (child->IsFloat()) {
            PlaceFloatingChild(i);
            continue;
        }
        if (i != m_selected) continue;
        const RECT pad = child->GetPadding();
        RECT r = LessInset(area, pad);
        const SIZE measured = child->MeasureSize(SIZE{r.right - r.left, r.bottom - r.top});
        int width = measured.cx == 0 ? std::max(0L, r.right - r.left) : measured.cx;
        int height = measured.cy == 0 ? std::max(0L, r.bottom - r.top) : measured.cy;
        width = Clamp(width, child->GetMinWidth(), child->GetMaxWidth());
        height = Clamp(height, child->GetMinHeight(), child->GetMaxHeight());
        child->SetPos(RECT{r.left, r.top, r.left + width, r.top + height}, true);
    }
}

// ------------------------------------------------------------------ tile layout

CControlUI* CTileLayoutUI::CreateTileLayoutUI() { return new (std::nothrow) CTileLayoutUI; }
const wchar_t* CTileLayoutUI::GetClassTag() const { return L"TileLayout"; }
void* CTileLayoutUI::FindInterface(const wchar_t* tag) {
    if (tag && CompareTextNoCase(tag, L"TileLayout") == 0) return this;
    return CContainerUI::FindInterface(tag);
}

void CTileLayoutUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (CompareTextNoCase(name, L"itemsize") == 0) {
        long v[2];
        ReadIntList(value, v, 2);
        SetItemSize(v[0], v[1]);
    } else if (CompareTextNoCase(name, L"columns") == 0) {
        SetColumns(_wtoi(value));
    } else {
        CContainerUI::SetAttribute(name, value);
    }
}

void CTileLayoutUI::SetItemSize(int width, int height) {
    if (m_itemSize.cx == width && m_itemSize.cy == height) return;
    m_itemSize = SIZE{width, height};
    MarkForLayout();
}

void CTileLayoutUI::SetColumns(int columns) {
    if (columns <= 0) return;
    m_columns = columns;
    MarkForLayout();
}

void CTileLayoutUI::SetPos(RECT rect, bool invalidate) {
    CControlUI::SetPos(rect, invalidate);
    RECT rc = LessInset(m_item, m_inset);
    if (m_items.IsEmpty()) {
        UpdateScrollBars(rc, 0, 0);
        return;
    }
    const bool vShown = VerticalBarShown();
    const bool hShown = HorizontalBarShown();
    if (vShown) rc.right -= m_vScroll->GetFixedWidth();
    if (hShown) rc.bottom -= m_hScroll->GetFixedHeight();
    const int contentWidth = rc.right - rc.left;
    if (m_itemSize.cx > 0) m_columns = contentWidth / Scaled(m_itemSize.cx);
    if (m_columns == 0) m_columns = 1;
    const int columns = m_columns;
    const int cellWidth = (contentWidth + (hShown ? m_hScroll->GetScrollRange() : 0)) / columns;
    const int gap = m_childPadding;
    const int vPos = vShown ? m_vScroll->GetScrollPos() : 0;
    const int rowStart = rc.left - (hShown ? m_hScroll->GetScrollPos() : 0);
    int x = rowStart, y = rc.top - vPos, rowHeight = 0, tile = 0, needed = 0;
    const int count = GetItemCount();
    for (int i = 0; i < count; ++i) {
        CControlUI* child = GetItemAt(i);
        if (!child->IsVisible()) continue;
        if (child->IsFloat()) {
            PlaceFloatingChild(i);
            continue;
        }
        const int column = tile % columns;
        if (column == 0) {
            // The row is as high as its tallest cell.
            rowHeight = 0;
            const CControlUI* first = child;
            int cell = 0;
            for (int j = i; j < count && cell < columns; ++j) {
                CControlUI* c = GetItemAt(j);
                if (!c->IsVisible() || c->IsFloat()) continue;
                const RECT pad = c->GetPadding();
                int width = cellWidth - pad.left - pad.right;
                width -= (cell != 0 && cell != columns - 1) ? gap : gap / 2;
                width = Clamp(width, first->GetMinWidth(), first->GetMaxWidth());
                SIZE measured = c->MeasureSize(SIZE{width, 9999});
                measured.cx = Clamp(measured.cx, first->GetMinWidth(), first->GetMaxWidth());
                measured.cy = Clamp(measured.cy, first->GetMinHeight(), first->GetMaxHeight());
                rowHeight = std::max(rowHeight, static_cast<int>(measured.cy + pad.top + pad.bottom));
                ++cell;
            }
        }
        const RECT pad = child->GetPadding();
        RECT cellRect;
        cellRect.left = x + pad.left + (column != 0 ? gap / 2 : 0);
        cellRect.right = x + cellWidth - pad.right - (column != columns - 1 ? gap / 2 : 0);
        cellRect.top = y + pad.top;
        cellRect.bottom = y + rowHeight;
        SIZE measured = child->MeasureSize(SIZE{cellWidth, rowHeight - pad.top});
        if (measured.cx == 0) measured.cx = cellWidth;
        if (measured.cy == 0) measured.cy = rowHeight - pad.top;
        measured.cx = Clamp(measured.cx, child->GetMinWidth(), child->GetMaxWidth());
        measured.cy = Clamp(measured.cy, child->GetMinHeight(), child->GetMaxHeight());
        const int left = (cellRect.left + cellRect.right - measured.cx) / 2;
        const int top = (cellRect.top + cellRect.bottom - measured.cy) / 2;
        child->SetPos(RECT{left, top, left + measured.cx, top + measured.cy}, true);
        ++tile;
        if (tile % columns == 0) {
            x = rowStart;
            y += rowHeight + gap;
            rowHeight = 0;
        } else {
            x += cellWidth;
        }
        needed = cellRect.bottom - rc.top + vPos;
    }
    UpdateScrollBars(rc, 0, needed);
}

}  // namespace Veneer
