// The base container: child list, visibility, scrolling, mouse search and
// clipped painting of the children.
#include "Container.h"

#include <new>

#include "PaintManager.h"
#include "ScrollBar.h"
#include "SkinRenderer.h"

namespace Veneer {

CContainerUI::CContainerUI() = default;

CContainerUI::~CContainerUI() {
    // Children go at once: the window may be on its way out.
    m_delayedDestroy = false;
    RemoveAllItems();
    delete m_vScroll;
    delete m_hScroll;
    m_vScroll = m_hScroll = nullptr;
}

CControlUI* CContainerUI::CreateContainerUI() { return new (std::nothrow) CContainerUI; }

const wchar_t* CContainerUI::GetClassTag() const { return L"Container"; }

void* CContainerUI::FindInterface(const wchar_t* tag) {
    if (!tag) return nullptr;
    if (CompareTextNoCase(tag, L"IContainer") == 0) return static_cast<IContainerUI*>(this);
    if (CompareTextNoCase(tag, L"Container") == 0) return this;
    return CControlUI::FindInterface(tag);
}

void CContainerUI::AttachManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
    for (int i = 0; i < m_items.GetSize(); ++i) {
        static_cast<CControlUI*>(m_items.GetAt(i))->AttachManager(manager, this, init);
    }
    if (m_vScroll) m_vScroll->AttachManager(manager, this, init);
    if (m_hScroll) m_hScroll->AttachManager(manager, this, init);
    CControlUI::AttachManager(manager, parent, init);
}

bool CContainerUI::VerticalBarShown() const { return m_vScroll && m_vScroll->IsVisible(); }
bool CContainerUI::HorizontalBarShown() const { return m_hScroll && m_hScroll->IsVisible(); }

RECT CContainerUI::ScrolledArea() const {
    RECT r = m_item;
    r.left += m_inset.left;
    r.top += m_inset.top;
    r.right -= m_inset.right;
    r.bottom -= m_inset.bottom;
    if (VerticalBarShown()) {
        r.top -= m_vScroll->GetScrollPos();
        r.bottom += m_vScroll->GetScrollRange() - m_vScroll->GetScrollPos();
        r.right -= m_vScroll->GetFixedWidth();
    }
    if (HorizontalBarShown()) {
        r.left -= m_hScroll->GetScrollPos();
        r.right += m_hScroll->GetScrollRange() - m_hScroll->GetScrollPos();
        r.bottom -= m_hScroll->GetFixedHeight();
    }
    return r;
}

RECT CContainerUI::ContentClip() const {
    RECT r = m_item;
    r.left += m_inset.left;
    r.top += m_inset.top;
    r.right -= m_inset.right;
    r.bottom -= m_inset.bottom;
    if (VerticalBarShown()) r.right -= m_vScroll->GetFixedWidth();
    if (HorizontalBarShown()) r.bottom -= m_hScroll->GetFixedHeight();
    return r;
}

RECT CContainerUI::ScaledContent() const {
    RECT r = m_item;
    const RECT inset = GetInset();
    r.left += inset.left;
    r.top += inset.top;
    r.right -= inset.right;
    r.bottom -= inset.bottom;
    if (VerticalBarShown()) r.right -= m_vScroll->GetFixedWidth();
    if (HorizontalBarShown()) r.bottom -= m_hScroll->GetFixedHeight();
    return r;
}

RECT CContainerUI::GetContentRect() const { return ScrolledArea(); }

// ------------------------------------------------------------------ child list

CControlUI* CContainerUI::GetItemAt(int index) const {
    if (index < 0 || index >= m_items.GetSize()) return nullptr;
    return static_cast<CControlUI*>(m_items.GetAt(index));
}

int CContainerUI::IndexOfItem(CControlUI* control) const { return control ? m_items.Find(control) : -1; }
int CContainerUI::GetItemCount() const { return m_items.GetSize(); }

void CContainerUI::AdoptChild(CControlUI* control) {
    if (m_manager) {
        control->AttachManager(m_manager, this, true);
        m_manager->RegisterControlNames(control);
    }
    if (!IsVisible()) {
        control->SetParentVisible(false);
    } else {
        MarkForLayout();
    }
}

bool CContainerUI::AddItem(CControlUI* control) {
    if (!control) return false;
    AdoptChild(control);
    return m_items.Add(control);
}

bool CContainerUI::InsertItemAt(CControlUI* control, int index) {
    if (!control) return false;
    AdoptChild(control);
    return m_items.InsertAt(index, control);
}

void CContainerUI::DisposeChild(CControlUI* control) {
    if (!m_autoDestroy) return;
    if (m_delayedDestroy && m_manager) {
        m_manager->QueueForDelete(control);
    } else {
        delete control;
    }
}

bool CContainerUI::RemoveItem(CControlUI* control) {
    const int index = CContainerUI::IndexOfItem(control);
    if (index < 0) return false;
    if (IsVisible()) MarkForLayout();
    m_items.RemoveAt(index);
    DisposeChild(control);
    return true;
}

bool CContainerUI::RemoveItemAt(int index) {
    CControlUI* control = CContainerUI::GetItemAt(index);
    return control ? RemoveItem(control) : false;
}

void CContainerUI::RemoveAllItems() {
    CPointerArray children = m_items;
    m_items.Empty();
    for (int i = 0; i < children.GetSize(); ++i) DisposeChild(static_cast<CControlUI*>(children.GetAt(i)));
    if (IsVisible()) MarkForLayout();
}

bool CContainerUI::MoveItemTo(CControlUI* control, int index) {
    const int from = CContainerUI::IndexOfItem(control);
    // A target outside the list would drop the child from it (and leak it).
    if (from < 0 || index < 0 || index >= m_items.GetSize()) return false;
    if (IsVisible()) MarkForLayout();
    m_items.RemoveAt(from);
    return m_items.InsertAt(index, control);
}

// ------------------------------------------------------------------ settings

RECT CContainerUI::GetInset() const {
    RECT r = m_inset;
    if (m_manager) m_manager->GetDpiScaler()->ScaleRect(r);
    return r;
}

void CContainerUI::SetInset(int left, int top, int right, int bottom) {
    m_inset = RECT{left, top, right, bottom};
    MarkForLayout();
}

int CContainerUI::GetChildPadding() const { return Scaled(m_childPadding); }
void CContainerUI::SetChildPadding(int gap) {
    m_childPadding = gap;
    MarkForLayout();
}
UINT CContainerUI::GetChildAlign() const { return m_childAlign; }
void CContainerUI::SetChildAlign(UINT value) {
    m_childAlign = value;
    MarkForLayout();
}
UINT CContainerUI::GetChildVAlign() const { return m_childVAlign; }
void CContainerUI::SetChildVAlign(UINT value) {
    m_childVAlign = value;
    MarkForLayout();
}
bool CContainerUI::IsAutoDestroy() const { return m_autoDestroy; }
void CContainerUI::SetAutoDestroy(bool on) { m_autoDestroy = on; }
bool CContainerUI::IsDelayedDestroy() const { return m_delayedDestroy; }
void CContainerUI::SetDelayedDestroy(bool on) { m_delayedDestroy = on; }
bool CContainerUI::IsMouseChildEnabled() const { return m_mouseChild; }
void CContainerUI::SetMouseChildEnabled(bool on) { m_mouseChild = on; }

int CContainerUI::FindSelectable(int index, bool forward) const {
    const int count = m_items.GetSize();
    if (count == 0) return -1;
    if (index < 0) index = 0;
    if (index >= count) index = count - 1;
    auto selectable = [this](int i) {
        CControlUI* child = CContainerUI::GetItemAt(i);
        return child->FindInterface(L"ListItem") && child->IsVisible() && child->IsEnabled();
    };
    if (forward) {
        for (int i = index; i < count; ++i) {
            if (selectable(i)) return i;
        }
        return -1;
    }
    for (int i = index; i >= 0; --i) {
        if (selectable(i)) return i;
    }
    return FindSelectable(0, true);
}

void CContainerUI::SetVisible(bool show) {
    if (m_visible == show) return;
    CControlUI::SetVisible(show);
    for (int i = 0; i < m_items.GetSize(); ++i) CContainerUI::GetItemAt(i)->SetParentVisible(IsVisible());
}

void CContainerUI::SetParentVisible(bool show) {
    CControlUI::SetParentVisible(show);
    for (int i = 0; i < m_items.GetSize(); ++i) CContainerUI::GetItemAt(i)->SetParentVisible(IsVisible());
}

void CContainerUI::SetMouseEnabled(bool enabled) {
    if (m_vScroll) m_vScroll->SetMouseEnabled(enabled);
    if (m_hScroll) m_hScroll->SetMouseEnabled(enabled);
    CControlUI::SetMouseEnabled(enabled);
}

void CContainerUI::MoveBy(int dx, int dy, bool invalidate) {
    CControlUI::MoveBy(dx, dy, invalidate);
    if (VerticalBarShown()) m_vScroll->MoveBy(dx, dy, false);
    if (HorizontalBarShown()) m_hScroll->MoveBy(dx, dy, false);
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* child = CContainerUI::GetItemAt(i);
        if (child->IsVisible()) child->MoveBy(dx, dy, false);
    }
}

void CContainerUI::ApplyBarStyle(CScrollBarUI* bar, const wchar_t* value) {
    const wchar_t* style = m_manager ? m_manager->GetStyle(value) : nullptr;
    bar->ApplyAttributeString(style ? style : value);
}

void CContainerUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (CompareTextNoCase(name, L"inset") == 0) {
        long v[4];
        ReadIntList(value, v, 4);
        SetInset(v[0], v[1], v[2], v[3]);
    } else if (CompareTextNoCase(name, L"mousechild") == 0) {
        SetMouseChildEnabled(ReadBool(value));
    } else if (CompareTextNoCase(name, L"vscrollbar") == 0) {
        EnableScrollBar(ReadBool(value), m_hScroll != nullptr);
    } else if (CompareTextNoCase(name, L"vscrollbarstyle") == 0) {
        EnableScrollBar(true, m_hScroll != nullptr);
        if (m_vScroll) ApplyBarStyle(m_vScroll, value);
    } else if (CompareTextNoCase(name, L"hscrollbar") == 0) {
        EnableScrollBar(m_vScroll != nullptr, ReadBool(value));
    } else if (CompareTextNoCase(name, L"hscrollbarstyle") == 0) {
        EnableScrollBar(m_vScroll != nullptr, true);
        if (m_hScroll) ApplyBarStyle(m_hScroll, value);
    } else if (CompareTextNoCase(name, L"childpadding") == 0) {
        SetChildPadding(_wtoi(value));
    } else if (CompareTextNoCase(name, L"childalign") == 0) {
        if (CompareTextNoCase(value, L"left") == 0) m_childAlign = 0;
        else if (CompareTextNoCase(value, L"center") == 0) m_childAlign = 1;
        else if (CompareTextNoCase(value, L"right") == 0) m_childAlign = 2;
    } else if (CompareTextNoCase(name, L"childvalign") == 0) {
        if (CompareTextNoCase(value, L"top") == 0) m_childVAlign = 0;
        else if (CompareTextNoCase(value, L"vcenter") == 0) m_childVAlign = 4;
        else if (CompareTextNoCase(value, L"bottom") == 0) m_childVAlign = 8;
    } else if (CompareTextNoCase(name, L"scrollstepsize") == 0) {
        SetScrollStepSize(_wtoi(value));
    } else {
        CControlUI::SetAttribute(name, value);
    }
}

// ------------------------------------------------------------------ scrolling

SIZE CContainerUI::GetScrollPos() const {
    return SIZE{HorizontalBarShown() ? m_hScroll->GetScrollPos() : 0,
                VerticalBarShown() ? m_vScroll->GetScrollPos() : 0};
}

SIZE CContainerUI::GetScrollRange() const {
    return SIZE{HorizontalBarShown() ? m_hScroll->GetScrollRange() : 0,
                VerticalBarShown() ? m_vScroll->GetScrollRange() : 0};
}

void CContainerUI::SetScrollPos(SIZE position, bool notify) {
    int dx = 0, dy = 0;
    if (VerticalBarShown()) {
        const int old = m_vScroll->GetScrollPos();
        m_vScroll->SetScrollPos(position.cy);
        dy = m_vScroll->GetScrollPos() - old;
    }
    if (HorizontalBarShown()) {
        const int old = m_hScroll->GetScrollPos();
        m_hScroll->SetScrollPos(position.cx);
        dx = m_hScroll->GetScrollPos() - old;
    }
    if (dx == 0 && dy == 0) return;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* child = CContainerUI::GetItemAt(i);
        if (!child->IsVisible() || child->IsFloat()) continue;
        RECT r = child->GetPos();
        OffsetRect(&r, -dx, -dy);
        child->SetPos(r, true);
    }
    Invalidate();
    if (m_vScroll && m_manager && notify) {
        // The line number of the position; a line size of 0 counts pixels.
        const int line = m_vScroll->GetLineSize();
        const int pos = m_vScroll->GetScrollPos();
        const WPARAM wParam = line != 0 ? static_cast<WPARAM>((line + pos) / line) : static_cast<WPARAM>(pos + 1);
        m_manager->SendNotification(this, L"scroll", wParam, 0);
    }
}

void CContainerUI::SetScrollStepSize(int step) {
    if (step > 0) m_scrollStep = step;
}
int CContainerUI::GetScrollStepSize() const { return Scaled(m_scrollStep); }

namespace {
int LineStep(const CContainerUI& container, CPaintManagerUI* manager, bool vertical) {
    const int step = container.GetScrollStepSize();
    if (step != 0) return step;
    if (!vertical || !manager) return 8;
    FontEntry* font = manager->GetDefaultFontEntry();
    return (font ? font->metrics.tmHeight : 0) + 8;
}
}  // namespace

void CContainerUI::ScrollLineUp() {
    SIZE p = GetScrollPos();
    p.cy -= LineStep(*this, m_manager, true);
    SetScrollPos(p, true);
}
void CContainerUI::ScrollLineDown() {
    SIZE p = GetScrollPos();
    p.cy += LineStep(*this, m_manager, true);
    SetScrollPos(p, true);
}
void CContainerUI::ScrollLineLeft() {
    SIZE p = GetScrollPos();
    p.cx -= LineStep(*this, m_manager, false);
    SetScrollPos(p, true);
}
void CContainerUI::ScrollLineRight() {
    SIZE p = GetScrollPos();
    p.cx += LineStep(*this, m_manager, false);
    SetScrollPos(p, true);
}

namespace {
int VerticalPage(const RECT& item, const RECT& inset, const CScrollBarUI* hBar) {
    int page = item.bottom - item.top - inset.top - inset.bottom;
    if (hBar && hBar->IsVisible()) page -= hBar->GetFixedHeight();
    return page;
}
int HorizontalPage(const RECT& item, const RECT& inset, const CScrollBarUI* vBar) {
    int page = item.right - item.left - inset.left - inset.right;
    if (vBar && vBar->IsVisible()) page -= vBar->GetFixedWidth();
    return page;
}
}  // namespace

void CContainerUI::ScrollPageUp() {
    SIZE p = GetScrollPos();
    p.cy -= VerticalPage(m_item, m_inset, m_hScroll);
    SetScrollPos(p, true);
}
void CContainerUI::ScrollPageDown() {
    SIZE p = GetScrollPos();
    p.cy += VerticalPage(m_item, m_inset, m_hScroll);
    SetScrollPos(p, true);
}
void CContainerUI::ScrollPageLeft() {
    SIZE p = GetScrollPos();
    p.cx -= HorizontalPage(m_item, m_inset, m_vScroll);
    SetScrollPos(p, true);
}
void CContainerUI::ScrollPageRight() {
    SIZE p = GetScrollPos();
    p.cx += HorizontalPage(m_item, m_inset, m_vScroll);
    SetScrollPos(p, true);
}
void CContainerUI::ScrollToTop() {
    SIZE p = GetScrollPos();
    p.cy = 0;
    SetScrollPos(p, true);
}
void CContainerUI::ScrollToBottom() {
    SIZE p = GetScrollPos();
    p.cy = GetScrollRange().cy;
    SetScrollPos(p, true);
}
void CContainerUI::ScrollToLeftEnd() {
    SIZE p = GetScrollPos();
    p.cx = 0;
    SetScrollPos(p, true);
}
void CContainerUI::ScrollToRightEnd() {
    SIZE p = GetScrollPos();
    p.cx = GetScrollRange().cx;
    SetScrollPos(p, true);
}

void CContainerUI::EnableScrollBar(bool vertical, bool horizontal) {
    auto make = [this](bool horizontalBar) -> CScrollBarUI* {
        CScrollBarUI* bar = new (std::nothrow) CScrollBarUI;
        if (!bar) return nullptr;
        if (horizontalBar) bar->SetHorizontal(true);
        bar->SetOwner(this);
        bar->AttachManager(m_manager, nullptr, false);
        if (m_manager) {
            const wchar_t* defaults = m_manager->GetClassDefaults(horizontalBar ? L"HScrollBar" : L"VScrollBar");
            if (defaults) bar->ApplyAttributeString(defaults);
        }
        return bar;
    };
    if (!vertical) {
        delete m_vScroll;
        m_vScroll = nullptr;
    } else if (!m_vScroll) {
        m_vScroll = make(false);
    }
    if (!horizontal) {
        delete m_hScroll;
        m_hScroll = nullptr;
    } else if (!m_hScroll) {
        m_hScroll = make(true);
    }
    MarkForLayout();
}

CScrollBarUI* CContainerUI::GetVerticalScrollBar() const { return m_vScroll; }
CScrollBarUI* CContainerUI::GetHorizontalScrollBar() const { return m_hScroll; }

// ------------------------------------------------------------------ layout

void CContainerUI::SetPos(RECT rect, bool invalidate) {
    CControlUI::SetPos(rect, invalidate);
    if (m_items.IsEmpty()) return;
    const RECT area = ScrolledArea();
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* child = CContainerUI::GetItemAt(i);
        if (!child->IsVisible()) continue;
        if (child->IsFloat()) {
            PlaceFloatingChild(i);
            continue;
        }
        int width = area.right - area.left;
        int height = area.bottom - area.top;
        if (width < child->GetMinWidth()) width = child->GetMinWidth();
        if (width > child->GetMaxWidth()) width = child->GetMaxWidth();
        if (height < child->GetMinHeight()) height = child->GetMinHeight();
        if (height > child->GetMaxHeight()) height = child->GetMaxHeight();
        child->SetPos(RECT{area.left, area.top, area.left + width, area.top + height}, false);
    }
}

void CContainerUI::PlaceFloatingChild(int index) {
    CControlUI* child = CContainerUI::GetItemAt(index);
    if (!child || !child->IsVisible() || !child->IsFloat()) return;
    const int W = m_item.right - m_item.left;
    const int H = m_item.bottom - m_item.top;
    const SIZE xy = child->GetFixedXY();
    const int width = child->GetFixedWidth();
    const int height = child->GetFixedHeight();
    const UINT align = child->GetFloatAlign();
    RECT r;
    if (align != 0) {
        const int dx = (align & 1) ? (W - width) / 2 : (align & 2) ? W - width : xy.cx;
        const int dy = (align & 4) ? (H - height) / 2 : (align & 8) ? H - height : xy.cy;
        r.left = m_item.left + dx;
        r.top = m_item.top + dy;
        r.right = r.left + width;
        r.bottom = r.top + height;
    } else {
        double pl, pt, pr, pb;
        child->GetFloatPercent(&pl, &pt, &pr, &pb);
        r.left = m_item.left + static_cast<int>(W * pl) + xy.cx;
        r.top = m_item.top + static_cast<int>(H * pt) + xy.cy;
        r.right = m_item.left + static_cast<int>(W * pr) + xy.cx + width;
        r.bottom = m_item.top + static_cast<int>(H * pb) + xy.cy + height;
    }
    child->SetPos(r, false);
}

void CContainerUI::UpdateScrollBars(const RECT& rect, int neededWidth, int neededHeight) {
    auto update = [this](CScrollBarUI* bar, int overflow, const RECT& place) {
        if (!bar) return;
        if (!bar->IsVisible()) {
            if (overflow <= 0) return;
            bar->SetScrollRange(overflow);
            bar->SetScrollPos(0);
            bar->SetVisible(true);
            SetPos(m_item, true);
            return;
        }
        if (overflow > 0) {
            bar->SetPos(place, true);
            if (bar->GetScrollRange() != overflow) {
                const int before = bar->GetScrollPos();
                bar->SetScrollRange(overflow);
                if (bar->GetScrollPos() != before) SetPos(m_item, true);
            }
            return;
        }
        bar->SetVisible(false);
        bar->SetScrollPos(0);
        bar->SetScrollRange(0);
        SetPos(m_item, true);
    };
    if (m_hScroll) {
        update(m_hScroll, neededWidth - (rect.right - rect.left),
               RECT{rect.left, rect.bottom, rect.right, rect.bottom + m_hScroll->GetFixedHeight()});
    }
    if (m_vScroll) {
        update(m_vScroll, neededHeight - (rect.bottom - rect.top),
               RECT{rect.right, rect.top, rect.right + m_vScroll->GetFixedWidth(), rect.bottom});
    }
}

// ------------------------------------------------------------------ events and search

void CContainerUI::HandleEvent(ControlEvent& event) {
    if (!m_mouseEnabled && IsMouseEvent(event.type)) {
        if (m_parent) {
            m_parent->HandleEvent(event);
        } else {
            CControlUI::HandleEvent(event);
        }
        return;
    }
    if (event.type == EventSetFocus || event.type == EventKillFocus) {
        m_focused = event.type == EventSetFocus;
        return;
    }
    const WORD wheel = LOWORD(event.wParam);
    if (m_vScroll && m_vScroll->IsVisible() && m_vScroll->IsEnabled()) {
        if (event.type == EventKeyDown) {
            switch (event.key) {
            case VK_PRIOR: ScrollPageUp(); return;
            case VK_NEXT: ScrollPageDown(); return;
            case VK_END: ScrollToBottom(); return;
            case VK_HOME: ScrollToTop(); return;
            case VK_UP: ScrollLineUp(); return;
            case VK_DOWN: ScrollLineDown(); return;
            default: break;
            }
        } else if (event.type == EventScrollWheel && (wheel == 0 || wheel == 1)) {
            if (wheel == 0) ScrollLineUp(); else ScrollLineDown();
            return;
        }
    }
    if (m_hScroll && m_hScroll->IsVisible() && m_hScroll->IsEnabled()) {
        if (event.type == EventKeyDown) {
            switch (event.key) {
            case VK_PRIOR: ScrollPageLeft(); return;
            case VK_NEXT: ScrollPageRight(); return;
            case VK_END: ScrollToRightEnd(); return;
            case VK_HOME: ScrollToLeftEnd(); return;
            case VK_UP: ScrollLineLeft(); return;
            case VK_DOWN: ScrollLineRight(); return;
            default: break;
            }
        } else if (event.type == EventScrollWheel && (wheel == 0 || wheel == 1)) {
            if (wheel == 0) ScrollLineLeft(); else ScrollLineRight();
            return;
        }
    }
    CControlUI::HandleEvent(event);
}

CControlUI* CContainerUI::FindControl(FindControlProc callback, void* data, UINT flags) {
    if ((flags & FindVisible) && !IsVisible()) return nullptr;
    if ((flags & FindEnabled) && !IsEnabled()) return nullptr;
    const bool hit = (flags & FindHitTest) != 0;
    POINT point = {};
    if (hit) {
        if (!data) return nullptr;
        point = *static_cast<POINT*>(data);
        if (!PtInRect(&m_item, point)) return nullptr;
    }
    if ((flags & FindStopAtAccepted) && callback(this, data)) return nullptr;
    const bool mine = !hit || m_mouseEnabled;
    if ((flags & FindContainerFirst) && mine) {
        if (CControlUI* found = callback(this, data)) return found;
    }
    if (mine) {
        if (m_vScroll) {
            if (CControlUI* found = m_vScroll->FindControl(callback, data, flags)) return found;
        }
        if (m_hScroll) {
            if (CControlUI* found = m_hScroll->FindControl(callback, data, flags)) return found;
        }
    }
    if (!hit || m_mouseChild) {
        const RECT clip = ContentClip();
        const int count = m_items.GetSize();
        const bool backwards = (flags & FindLastChildFirst) != 0;
        for (int n = 0; n < count; ++n) {
            CControlUI* child = CContainerUI::GetItemAt(backwards ? count - 1 - n : n);
            CControlUI* found = child->FindControl(callback, data, flags);
            if (!found) continue;
            if (!hit || found->IsFloat() || PtInRect(&clip, point)) return found;
        }
    }
    if (!(flags & FindContainerFirst) && mine) return callback(this, data);
    return nullptr;
}

// ------------------------------------------------------------------ paint

void CContainerUI::Paint(HDC hdc, const RECT& paint) {
    RECT outer;
    if (!IntersectRect(&outer, &paint, &m_item)) return;
    CClipScope outerClip;
    CClipScope::ClipToRect(hdc, outer, outerClip);
    CControlUI::Paint(hdc, paint);
    PaintChildren(hdc, paint);
    PaintScrollBars(hdc, paint);
}

void CContainerUI::PaintChildren(HDC hdc, const RECT& paint) {
    if (m_items.IsEmpty()) return;
    // The clip that holds now (the item's) is where floating children may reach.
    HRGN wide = CreateRectRgn(0, 0, 0, 0);
    if (GetClipRgn(hdc, wide) != 1) {
        DeleteObject(wide);
        wide = nullptr;
    }
    const RECT content = ScaledContent();
    RECT inner, cut;
    if (IntersectRect(&inner, &paint, &content)) {
        CClipScope innerClip;
        CClipScope::ClipToRect(hdc, inner, innerClip);
        HRGN narrow = CreateRectRgn(0, 0, 0, 0);
        if (GetClipRgn(hdc, narrow) != 1) {
            DeleteObject(narrow);
            narrow = nullptr;
        }
        for (int i = 0; i < m_items.GetSize(); ++i) {
            CControlUI* child = CContainerUI::GetItemAt(i);
            if (!child->IsVisible() || !IntersectRect(&cut, &paint, &child->GetPos())) continue;
            if (child->IsFloat()) {
                if (!IntersectRect(&cut, &m_item, &child->GetPos())) continue;
                // A floating child may reach past the content, up to the item's edge.
                SelectClipRgn(hdc, wide);
                child->Paint(hdc, paint);
                SelectClipRgn(hdc, narrow);
            } else if (IntersectRect(&cut, &content, &child->GetPos())) {
                child->Paint(hdc, paint);
            }
        }
        if (narrow) DeleteObject(narrow);
    } else {
        for (int i = 0; i < m_items.GetSize(); ++i) {
            CControlUI* child = CContainerUI::GetItemAt(i);
            if (!child->IsVisible() || !child->IsFloat()) continue;
            if (!IntersectRect(&cut, &paint, &child->GetPos()) || !IntersectRect(&cut, &m_item, &child->GetPos())) {
                continue;
            }
            child->Paint(hdc, paint);
        }
    }
    if (wide) DeleteObject(wide);
}

void CContainerUI::PaintScrollBars(HDC hdc, const RECT& paint) {
    RECT cut;
    if (VerticalBarShown() && IntersectRect(&cut, &paint, &m_vScroll->GetPos())) m_vScroll->Paint(hdc, paint);
    if (HorizontalBarShown() && IntersectRect(&cut, &paint, &m_hScroll->GetPos())) m_hScroll->Paint(hdc, paint);
}

}  // namespace Veneer
