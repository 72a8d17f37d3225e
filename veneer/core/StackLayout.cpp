// The vertical and horizontal layouts: one algorithm along either axis, and
// the separator band that resizes the layout.
#include "StackLayout.h"

#include <algorithm>
#include <new>

#include "PaintManager.h"
#include "ScrollBar.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {

// A rectangle seen along the stacking axis ("main") and across it ("cross").
struct AxisView {
    bool vertical;
    LONG MainLo(const RECT& r) const { return vertical ? r.top : r.left; }
    LONG MainHi(const RECT& r) const { return vertical ? r.bottom : r.right; }
    LONG CrossLo(const RECT& r) const { return vertical ? r.left : r.top; }
    LONG CrossHi(const RECT& r) const { return vertical ? r.right : r.bottom; }
    LONG& MainLo(RECT& r) const { return vertical ? r.top : r.left; }
    LONG& MainHi(RECT& r) const { return vertical ? r.bottom : r.right; }
    int MainOf(SIZE s) const { return vertical ? s.cy : s.cx; }
    int CrossOf(SIZE s) const { return vertical ? s.cx : s.cy; }
    int MainOf(POINT p) const { return vertical ? p.y : p.x; }
    RECT Make(int mainLo, int mainHi, int crossLo, int crossHi) const {
        return vertical ? RECT{crossLo, mainLo, crossHi, mainHi} : RECT{mainLo, crossLo, mainHi, crossHi};
    }
    SIZE MakeSize(int main, int cross) const { return vertical ? SIZE{cross, main} : SIZE{main, cross}; }
};

// A child's limits along both axes, DPI-scaled.
struct ChildLimits {
    int fixedMain, fixedCross, minMain, maxMain, minCross, maxCross;
    int padMainLo, padMainHi, padCrossLo, padCrossHi;
    ChildLimits(const AxisView& axis, const CControlUI* child) {
        const bool v = axis.vertical;
        fixedMain = v ? child->GetFixedHeight() : child->GetFixedWidth();
        fixedCross = v ? child->GetFixedWidth() : child->GetFixedHeight();
        minMain = v ? child->GetMinHeight() : child->GetMinWidth();
        maxMain = v ? child->GetMaxHeight() : child->GetMaxWidth();
        minCross = v ? child->GetMinWidth() : child->GetMinHeight();
        maxCross = v ? child->GetMaxWidth() : child->GetMaxHeight();
        const RECT pad = child->GetPadding();
        padMainLo = axis.MainLo(pad);
        padMainHi = axis.MainHi(pad);
        padCrossLo = axis.CrossLo(pad);
        padCrossHi = axis.CrossHi(pad);
    }
    int ClampMain(int value) const { return std::min(std::max(value, minMain), maxMain); }
    int ClampCross(int value) const { return std::min(std::max(value, minCross), maxCross); }
    int LimitCross(int available) const {
        return std::min(available - padCrossLo - padCrossHi, fixedCross >= 1 ? fixedCross : maxCross);
    }
    int LimitMain(int available) const { return std::min(available, fixedMain >= 1 ? fixedMain : maxMain); }
};

}  // namespace

UINT CStackLayoutUI::GetBehaviorFlags() const { return IsEnabled() && m_separator != 0 ? 2 : 0; }

void CStackLayoutUI::SetPos(RECT rect, bool invalidate) {
    CControlUI::SetPos(rect, invalidate);
    const AxisView axis{m_vertical};
    const RECT rc = ScaledContent();
    if (m_items.IsEmpty()) {
        UpdateScrollBars(rc, 0, 0);
        return;
    }
    CScrollBarUI* mainBar = m_vertical ? m_vScroll : m_hScroll;
    CScrollBarUI* crossBar = m_vertical ? m_hScroll : m_vScroll;
    const bool mainShown = mainBar && mainBar->IsVisible();
    const bool crossShown = crossBar && crossBar->IsVisible();
    const int crossRange = crossShown ? crossBar->GetScrollRange() : 0;
    const int crossPos = crossShown ? crossBar->GetScrollPos() : 0;
    const int availMain = axis.MainHi(rc) - axis.MainLo(rc) + (mainShown ? mainBar->GetScrollRange() : 0);
    const int availCross = axis.CrossHi(rc) - axis.CrossLo(rc) + crossRange;
    const int gap = m_childPadding;

    // First pass: what the sized children take and how many share the rest.
    int estimated = 0, adjustable = 0, fixedTotal = 0, neededCross = 0;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* child = CContainerUI::GetItemAt(i);
        if (!child->IsVisible() || child->IsFloat()) continue;
        ++estimated;
        const ChildLimits lim(axis, child);
        const SIZE measured =
            child->MeasureSize(axis.MakeSize(lim.LimitMain(availMain), lim.LimitCross(availCross)));
        int main = axis.MainOf(measured);
        if (main == 0) {
            ++adjustable;
        } else {
            main = lim.ClampMain(main);
        }
        fixedTotal += main + lim.padMainLo + lim.padMainHi;
        const int cross = lim.ClampCross(std::max(0, axis.CrossOf(measured)));
        neededCross = std::max(neededCross, cross + lim.padCrossLo + lim.padCrossHi);
    }
    if (estimated > 0) fixedTotal += gap * (estimated - 1);
    const int share = adjustable > 0 ? std::max(0, (availMain - fixedTotal) / adjustable) : 0;

    // Second pass: place them; the last child without a size takes what the
    // integer share left over.
    int at = axis.MainLo(rc) - (mainShown ? mainBar->GetScrollPos() : 0);
    int remaining = availMain;
    int remainingFixed = fixedTotal;
    int seen = 0, adjustableSeen = 0, neededMain = 0;
    const UINT align = m_vertical ? GetChildAlign() : GetChildVAlign();
    const UINT centre = m_vertical ? 1 : 4;
    const UINT end = m_vertical ? 2 : 8;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* child = CContainerUI::GetItemAt(i);
        if (!child->IsVisible()) continue;
        if (child->IsFloat()) {
            PlaceFloatingChild(i);
            continue;
        }
        const ChildLimits lim(axis, child);
        remaining -= lim.padMainLo;
        remainingFixed -= lim.padMainLo + lim.padMainHi;
        if (seen > 0) remainingFixed -= gap;
        ++seen;
        const int limitCross = lim.LimitCross(availCross);
        const SIZE measured = child->MeasureSize(axis.MakeSize(lim.LimitMain(remaining), limitCross));
        int main = axis.MainOf(measured);
        if (main != 0) {
            main = lim.ClampMain(main);
            remainingFixed -= main;
        } else {
            ++adjustableSeen;
            main = adjustableSeen == adjustable ? std::max(0, remaining - lim.padMainHi - remainingFixed) : share;
            main = lim.ClampMain(main);
        }
        int cross = lim.maxCross != 0 ? lim.maxCross : availCross - lim.padCrossLo - lim.padCrossHi;
        cross = std::max(cross, 0);
        cross = std::min(cross, limitCross);
        cross = std::max(cross, lim.minCross);
        int crossLo;
        if (align == centre) {
            crossLo = axis.CrossLo(rc) + (axis.CrossHi(rc) - axis.CrossLo(rc) - cross) / 2 + crossRange / 2 - crossPos;
        } else if (align == end) {
            crossLo = axis.CrossHi(rc) + crossRange - crossPos - lim.padCrossHi - cross;
        } else {
            crossLo = axis.CrossLo(rc) - crossPos + lim.padCrossLo;
        }
        const int mainLo = at + lim.padMainLo;
        child->SetPos(axis.Make(mainLo, mainLo + main, crossLo, crossLo + cross), false);
        neededMain += main + lim.padMainLo + lim.padMainHi;
        remaining -= main + lim.padMainHi + gap;
        at += main + lim.padMainLo + lim.padMainHi + gap;
    }
    if (estimated > 0) neededMain += gap * (estimated - 1);
    if (m_vertical) {
        UpdateScrollBars(rc, neededCross, neededMain);
    } else {
        UpdateScrollBars(rc, neededMain, neededCross);
    }
}

// ------------------------------------------------------------------ separator

void CStackLayoutUI::SetSeparatorImmediate(bool on) {
    if (on != m_immediate && IsSeparatorDragging() && !m_immediate && m_manager) {
        m_manager->RemoveOverlayControl(this);
    }
    m_immediate = on;
}

RECT CStackLayoutUI::GetSeparatorRect(bool useDragRect) const {
    RECT r = useDragRect && IsSeparatorDragging() ? m_dragRect : m_item;
    const int s = Scaled(m_separator);
    if (m_vertical) {
        if (s >= 0) {
            r.top = std::max(r.bottom - s, r.top);
        } else {
            r.bottom = std::min(r.top - s, r.bottom);
        }
    } else {
        if (s >= 0) {
            r.left = r.right - s;
        } else {
            r.right = r.left - s;
        }
    }
    return r;
}

void CStackLayoutUI::HandleEvent(ControlEvent& event) {
    if (m_separator == 0) {
        CContainerUI::HandleEvent(event);
        return;
    }
    const AxisView axis{m_vertical};
    switch (event.type) {
    case EventButtonDown: {
        if (!IsEnabled()) break;
        const RECT band = GetSeparatorRect(false);
        if (!PtInRect(&band, event.mouse)) break;
        m_separatorState |= StateDragging;
        m_lastMouse = event.mouse;
        m_dragRect = m_item;
        if (!m_immediate && m_manager) m_manager->AddOverlayControl(this);
        return;
    }
    case EventMouseMove: {
        if (!IsSeparatorDragging()) break;
        const int d = axis.MainOf(event.mouse) - axis.MainOf(m_lastMouse);
        m_lastMouse = event.mouse;
        const int s = Scaled(m_separator);
        const int pointer = axis.MainOf(event.mouse);
        const int lo = axis.MainLo(m_dragRect);
        const int hi = axis.MainHi(m_dragRect);
        // A move toward the band while the pointer has not reached it yet
        // (it went past an end while the size was held at a limit) is ignored.
        if (s >= 0) {
            if ((d > 0 && pointer < hi - s) || (d < 0 && pointer > hi)) return;
        } else {
            if ((d > 0 && pointer < lo) || (d < 0 && pointer > lo - s)) return;
        }
        const int minSize = m_vertical ? GetMinHeight() : GetMinWidth();
        const int maxSize = m_vertical ? GetMaxHeight() : GetMaxWidth();
        const int oldSize = hi - lo;
        RECT next = m_dragRect;
        LONG& edge = s >= 0 ? axis.MainHi(next) : axis.MainLo(next);
        edge += d;
        int size = axis.MainHi(next) - axis.MainLo(next);
        if (size <= minSize) {
            if (oldSize <= minSize) return;
            size = minSize;
        } else if (size >= maxSize) {
            if (oldSize >= maxSize) return;
            size = maxSize;
        }
        if (s >= 0) {
            axis.MainHi(next) = axis.MainLo(next) + size;
        } else {
            axis.MainLo(next) = axis.MainHi(next) - size;
        }
        const RECT oldBand = GetSeparatorRect(true);
        m_dragRect = next;
        // Stored as written in a layout: every later layout scales it again.
        RECT unscaled = {0, 0, size, size};
        if (m_manager) m_manager->GetDpiScaler()->UnscaleRect(unscaled);
        if (m_vertical) {
            m_fixedSize.cy = unscaled.bottom;
        } else {
            m_fixedSize.cx = unscaled.right;
        }
        if (m_immediate) {
            m_item = m_dragRect;
            MarkParentForLayout();
        } else if (m_manager) {
            RECT area = oldBand;
            const RECT newBand = GetSeparatorRect(true);
            const RECT itemBand = GetSeparatorRect(false);
            UnionRect(&area, &area, &newBand);
            UnionRect(&area, &area, &itemBand);
            m_manager->InvalidateArea(area);
        }
        return;
    }
    case EventButtonUp:
        if (!IsSeparatorDragging()) break;
        m_separatorState &= ~StateDragging;
        m_item = m_dragRect;
        if (!m_immediate && m_manager) m_manager->RemoveOverlayControl(this);
        MarkParentForLayout();
        return;
    case EventSetCursor: {
        if (!IsEnabled()) break;
        const RECT band = GetSeparatorRect(false);
        if (!PtInRect(&band, event.mouse)) break;
        ::SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(m_vertical ? 32645 : 32644)));
        return;
    }
    default:
        break;
    }
    CContainerUI::HandleEvent(event);
}

void CStackLayoutUI::PaintOverlay(HDC hdc, const RECT&) {
    if (!IsSeparatorDragging() || m_immediate) return;
    CSkinRenderer::FillColor(hdc, GetSeparatorRect(true), 0xAA000000);
}

// ------------------------------------------------------------------ the two classes

CControlUI* CVerticalLayoutUI::CreateVerticalLayoutUI() { return new (std::nothrow) CVerticalLayoutUI; }
const wchar_t* CVerticalLayoutUI::GetClassTag() const { return L"VerticalLayout"; }
void* CVerticalLayoutUI::FindInterface(const wchar_t* tag) {
    if (tag && CompareTextNoCase(tag, L"VerticalLayout") == 0) return this;
    return CContainerUI::FindInterface(tag);
}
void CVerticalLayoutUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (CompareTextNoCase(name, L"sepheight") == 0) {
        m_separator = _wtoi(value);
    } else if (CompareTextNoCase(name, L"sepimm") == 0) {
        SetSeparatorImmediate(ReadBool(value));
    } else {
        CContainerUI::SetAttribute(name, value);
    }
}

CControlUI* CHorizontalLayoutUI::CreateHorizontalLayoutUI() { return new (std::nothrow) CHorizontalLayoutUI; }
const wchar_t* CHorizontalLayoutUI::GetClassTag() const { return L"HorizontalLayout"; }
void* CHorizontalLayoutUI::FindInterface(const wchar_t* tag) {
    if (tag && CompareTextNoCase(tag, L"HorizontalLayout") == 0) return this;
    return CContainerUI::FindInterface(tag);
}
void CHorizontalLayoutUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (CompareTextNoCase(name, L"sepwidth") == 0) {
        m_separator = _wtoi(value);
    } else if (CompareTextNoCase(name, L"sepimm") == 0) {
        SetSeparatorImmediate(ReadBool(value));
    } else {
        CContainerUI::SetAttribute(name, value);
    }
}

}  // namespace Veneer
