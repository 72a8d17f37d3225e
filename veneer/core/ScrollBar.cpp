// The scroll bar: part geometry, line and page steps with auto-repeat,
// thumb dragging applied at the repeat timer's ticks, and painting.
#include "ScrollBar.h"

#include "Container.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "PaintManager.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {
const DWORD kOutlineColor = 0xFF85E4FF;
bool IsNullRect(const RECT& r) { return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0; }
}  // namespace

CScrollBarUI::CScrollBarUI() {
    m_fixedSize.cx = 16;
    m_fixedSize.cy = 0;
}

CScrollBarUI::~CScrollBarUI() = default;

CControlUI* CScrollBarUI::CreateScrollBarUI() { return new (std::nothrow) CScrollBarUI; }

const wchar_t* CScrollBarUI::GetClassTag() const { return L"ScrollBar"; }

void* CScrollBarUI::FindInterface(const wchar_t* tag) {
    if (tag && (CompareTextNoCase(tag, L"ScrollBar") == 0 || CompareTextNoCase(tag, L"Control") == 0)) return this;
    return nullptr;
}

int CScrollBarUI::Thickness() const { return m_horizontal ? GetFixedHeight() : GetFixedWidth(); }

void CScrollBarUI::SetHorizontal(bool horizontal) {
    if (m_horizontal == horizontal) return;
    m_horizontal = horizontal;
    if (horizontal && m_fixedSize.cy == 0) {
        m_fixedSize.cx = 0;
        m_fixedSize.cy = 16;
    } else if (!horizontal && m_fixedSize.cx == 0) {
        m_fixedSize.cx = 16;
        m_fixedSize.cy = 0;
    }
    if (m_owner) {
        m_owner->MarkForLayout();
    } else {
        MarkParentForLayout();
    }
}

void CScrollBarUI::Relayout() { SetPos(m_item, true); }

void CScrollBarUI::SetScrollRange(int range) {
    if (m_range == range) return;
    m_range = range < 0 ? 0 : range;
    if (m_position > m_range) m_position = m_range;
    Relayout();
}

void CScrollBarUI::SetScrollPos(int position) {
    if (m_position == position) return;
    m_position = std::max(0, std::min(position, m_range));
    Relayout();
}

void CScrollBarUI::SetShowButton1(bool show) {
    m_showButton1 = show;
    Relayout();
}

void CScrollBarUI::SetShowButton2(bool show) {
    m_showButton2 = show;
    Relayout();
}

void CScrollBarUI::SetVisible(bool show) {
    if (m_visible == show) return;
    m_visible = show;
    m_focused = false;
}

void CScrollBarUI::SetEnabled(bool enabled) {
    if (m_enabled == enabled) return;
    m_enabled = enabled;
    Invalidate();
    if (!m_enabled) m_button1State = m_button2State = m_thumbState = 0;
}

void CScrollBarUI::TakeFocus() {
    if (m_owner) {
        m_owner->TakeFocus();
    } else {
        CControlUI::TakeFocus();
    }
}

void CScrollBarUI::SetPos(RECT rect, bool invalidate) {
    CControlUI::SetPos(rect, invalidate);
    const RECT& r = m_item;
    const int T = Thickness();
    const int start = m_horizontal ? r.left : r.top;
    const int end = m_horizontal ? r.right : r.bottom;
    const int L = end - start;
    const int across = m_horizontal ? r.top : r.left;
    auto place = [&](int from, int to) {
        return m_horizontal ? RECT{from, across, to, across + T} : RECT{across, from, across + T, to};
    };
    int A = L;
    if (m_showButton1) A -= T;
    if (m_showButton2) A -= T;
    if (T < A) {
        m_button1 = m_showButton1 ? place(start, start + T) : place(start, start);
        m_button2 = m_showButton2 ? place(end - T, end) : place(end, end);
        const int first = m_horizontal ? m_button1.right : m_button1.bottom;
        const int second = m_horizontal ? m_button2.left : m_button2.top;
        if (m_range <= 0) {
            m_thumb = place(first, second);
        } else {
            const int length = std::max(L * A / (L + m_range), T);
            int from = first + (A - length) * m_position / m_range;
            if (from + length > second) from = second - length;
            m_thumb = place(from, from + length);
        }
    } else {
        const int size = std::min(L / 2, T);
        m_button1 = m_showButton1 ? place(start, start + size) : RECT{};
        m_button2 = m_showButton2 ? place(end - size, end) : RECT{};
        m_thumb = RECT{};
    }
}

CContainerUI* CScrollBarUI::OwnerContainer() const {
    return m_owner ? static_cast<CContainerUI*>(m_owner->FindInterface(L"Container")) : nullptr;
}

void CScrollBarUI::LineUp() {
    if (!m_owner) {
        SetScrollPos(m_position - m_lineSize);
    } else if (CContainerUI* owner = OwnerContainer()) {
        if (m_horizontal) owner->ScrollLineLeft(); else owner->ScrollLineUp();
    }
}

void CScrollBarUI::LineDown() {
    if (!m_owner) {
        SetScrollPos(m_position + m_lineSize);
    } else if (CContainerUI* owner = OwnerContainer()) {
        if (m_horizontal) owner->ScrollLineRight(); else owner->ScrollLineDown();
    }
}

void CScrollBarUI::PageUp() {
    if (!m_owner) {
        SetScrollPos(m_position - (m_horizontal ? GetWidth() : GetHeight()));
    } else if (CContainerUI* owner = OwnerContainer()) {
        if (m_horizontal) owner->ScrollPageLeft(); else owner->ScrollPageUp();
    }
}

void CScrollBarUI::PageDown() {
    if (!m_owner) {
        SetScrollPos(m_position + (m_horizontal ? GetWidth() : GetHeight()));
    } else if (CContainerUI* owner = OwnerContainer()) {
        if (m_horizontal) owner->ScrollPageRight(); else owner->ScrollPageDown();
    }
}

void CScrollBarUI::StepTowards(POINT point) {
    const int at = m_horizontal ? point.x : point.y;
    const int thumbStart = m_horizontal ? m_thumb.left : m_thumb.top;
    const int thumbEnd = m_horizontal ? m_thumb.right : m_thumb.bottom;
    if (at < thumbStart) {
        PageUp();
    } else if (at >= thumbEnd) {
        PageDown();
    }
}

void CScrollBarUI::Notify() {
    if (!m_owner && m_manager) m_manager->SendNotification(this, L"scroll");
}

void CScrollBarUI::PassOn(ControlEvent& event) {
    if (m_owner) {
        m_owner->HandleEvent(event);
    } else {
        CControlUI::HandleEvent(event);
    }
}

void CScrollBarUI::HandleEvent(ControlEvent& event) {
    if (!m_mouseEnabled && IsMouseEvent(event.type)) {
        PassOn(event);
        return;
    }
    switch (event.type) {
    case EventMouseMove:
        if (m_thumbState & StateCaptured) {
            // The thumb travels the free length less its own: that is the
            // distance that covers the whole range.
            const int free = (m_horizontal ? GetWidth() : GetHeight()) - (m_showButton1 ? Thickness() : 0) -
                             (m_showButton2 ? Thickness() : 0);
            const int thumb = m_horizontal ? m_thumb.right - m_thumb.left : m_thumb.bottom - m_thumb.top;
            const int travel = free - thumb;
            if (travel != 0) {
                const int moved = m_horizontal ? event.mouse.x - m_dragStart.x : event.mouse.y - m_dragStart.y;
                m_dragOffset = static_cast<int>(static_cast<long long>(moved) * m_range / std::abs(travel));
            }
        } else {
            const UINT old = m_thumbState;
            if (IsEnabled() && PtInRect(&m_thumb, event.mouse)) {
                m_thumbState |= StateHot;
            } else {
                m_thumbState &= ~StateHot;
            }
            if (old != m_thumbState) Invalidate();
        }
        return;
    case EventButtonDown:
    case EventDoubleClick:
        if (!IsEnabled()) return;
        m_dragOffset = 0;
        m_repeat = 0;
        if (m_manager) m_manager->SetControlTimer(this, kRepeatTimerId, kRepeatPeriod);
        if (PtInRect(&m_button1, event.mouse)) {
            m_button1State |= StatePushed;
            LineUp();
        } else if (PtInRect(&m_button2, event.mouse)) {
            m_button2State |= StatePushed;
            LineDown();
        } else if (PtInRect(&m_thumb, event.mouse)) {
            m_thumbState |= StatePushed | StateCaptured;
            m_dragStart = event.mouse;
            m_dragStartPos = m_position;
        } else {
            StepTowards(event.mouse);
        }
        Invalidate();
        Notify();
        return;
    case EventButtonUp:
        m_repeat = 0;
        m_dragOffset = 0;
        if (m_manager) m_manager->KillControlTimer(this, kRepeatTimerId);
        if (m_thumbState & StateCaptured) {
            m_thumbState &= ~(StateCaptured | StatePushed);
        } else if (m_button1State & StatePushed) {
            m_button1State &= ~StatePushed;
        } else if (m_button2State & StatePushed) {
            m_button2State &= ~StatePushed;
        }
        Invalidate();
        return;
    case EventContextMenu:
    case EventKillFocus:
    case EventSetFocus:
        return;
    case EventTimer:
        if (event.wParam != kRepeatTimerId) break;
        ++m_repeat;
        if (m_thumbState & StateCaptured) {
            if (CContainerUI* owner = OwnerContainer()) {
                SIZE to = owner->GetScrollPos();
                if (m_horizontal) to.cx = m_dragStartPos + m_dragOffset; else to.cy = m_dragStartPos + m_dragOffset;
                owner->SetScrollPos(to, true);
            } else {
                SetScrollPos(m_dragStartPos + m_dragOffset);
            }
            Invalidate();
            Notify();
            return;
        }
        if (m_repeat < kRepeatDelayTicks) return;
        if (m_button1State & StatePushed) {
            LineUp();
        } else if (m_button2State & StatePushed) {
            LineDown();
        } else {
            POINT point = {};
            GetCursorPos(&point);
            if (m_manager) ScreenToClient(m_manager->GetPaintWindow(), &point);
            StepTowards(point);
        }
        Notify();
        return;
    case EventMouseEnter:
        if (IsEnabled()) {
            m_button1State |= StateHot;
            m_button2State |= StateHot;
            if (PtInRect(&m_thumb, event.mouse)) m_thumbState |= StateHot;
            Invalidate();
        }
        return;
    case EventMouseLeave:
        if (IsEnabled()) {
            m_button1State &= ~StateHot;
            m_button2State &= ~StateHot;
            m_thumbState &= ~StateHot;
            Invalidate();
        }
        return;
    default:
        break;
    }
    PassOn(event);
}

void CScrollBarUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    struct ImageSlot {
        const wchar_t* name;
        CUIString CScrollBarUI::*field;
    };
    static const ImageSlot images[] = {
        {L"button1normalimage", &CScrollBarUI::m_button1Normal},
        {L"button1hotimage", &CScrollBarUI::m_button1Hot},
        {L"button1pushedimage", &CScrollBarUI::m_button1Pushed},
        {L"button1disabledimage", &CScrollBarUI::m_button1Disabled},
        {L"button2normalimage", &CScrollBarUI::m_button2Normal},
        {L"button2hotimage", &CScrollBarUI::m_button2Hot},
        {L"button2pushedimage", &CScrollBarUI::m_button2Pushed},
        {L"button2disabledimage", &CScrollBarUI::m_button2Disabled},
        {L"thumbnormalimage", &CScrollBarUI::m_thumbNormal},
        {L"thumbhotimage", &CScrollBarUI::m_thumbHot},
        {L"thumbpushedimage", &CScrollBarUI::m_thumbPushed},
        {L"thumbdisabledimage", &CScrollBarUI::m_thumbDisabled},
        {L"railnormalimage", &CScrollBarUI::m_railNormal},
        {L"railhotimage", &CScrollBarUI::m_railHot},
        {L"railpushedimage", &CScrollBarUI::m_railPushed},
        {L"raildisabledimage", &CScrollBarUI::m_railDisabled},
        {L"bknormalimage", &CScrollBarUI::m_bkNormal},
        {L"bkhotimage", &CScrollBarUI::m_bkHot},
        {L"bkpushedimage", &CScrollBarUI::m_bkPushed},
        {L"bkdisabledimage", &CScrollBarUI::m_bkDisabled},
    };
    for (const ImageSlot& slot : images) {
        if (CompareTextNoCase(name, slot.name) == 0) {
            this->*slot.field = value;
            Invalidate();
            return;
        }
    }
    auto is = [name](const wchar_t* n) { return CompareTextNoCase(name, n) == 0; };
    if (is(L"hor")) {
        SetHorizontal(ReadBool(value));
    } else if (is(L"linesize")) {
        m_lineSize = static_cast<int>(wcstol(value, nullptr, 10));
    } else if (is(L"range")) {
        SetScrollRange(static_cast<int>(wcstol(value, nullptr, 10)));
    } else if (is(L"value")) {
        SetScrollPos(static_cast<int>(wcstol(value, nullptr, 10)));
    } else if (is(L"showbutton1")) {
        SetShowButton1(ReadBool(value));
    } else if (is(L"showbutton2")) {
        SetShowButton2(ReadBool(value));
    } else {
        CControlUI::SetAttribute(name, value);
    }
}

// ------------------------------------------------------------------ painting

void CScrollBarUI::Paint(HDC hdc, const RECT& paint) {
    if (!IntersectRect(&m_paintRect, &paint, &m_item)) return;
    PaintBackground(hdc);
    PaintButton1(hdc);
    PaintButton2(hdc);
    PaintThumb(hdc);
    PaintRail(hdc);
}

CUIString CScrollBarUI::DestModifier(const RECT& part) const {
    RECT r = part;
    OffsetRect(&r, -m_item.left, -m_item.top);
    const int scale = m_manager ? m_manager->GetDpiScaler()->GetScale() : 100;
    if (scale != 100 && scale != 0) {
        r.left = MulDiv(r.left, 100, scale);
        r.top = MulDiv(r.top, 100, scale);
        r.right = MulDiv(r.right, 100, scale);
        r.bottom = MulDiv(r.bottom, 100, scale);
    }
    CUIString modifier;
    modifier.FormatShort(L"dest='%d,%d,%d,%d'", r.left, r.top, r.right, r.bottom);
    return modifier;
}

bool CScrollBarUI::PaintPart(HDC hdc, const RECT& part, UINT state, const CUIString& normal, const CUIString& hot,
                             const CUIString& pushed, const CUIString& disabled) {
    m_modifier = DestModifier(part);
    if ((state & StateDisabled) && !disabled.IsEmpty()) {
        if (DrawImage(hdc, disabled, m_modifier)) return true;
    } else if ((state & StatePushed) && !pushed.IsEmpty()) {
        if (DrawImage(hdc, pushed, m_modifier)) return true;
    } else if ((state & StateHot) && !hot.IsEmpty()) {
        if (DrawImage(hdc, hot, m_modifier)) return true;
    }
    if (!normal.IsEmpty() && DrawImage(hdc, normal, m_modifier)) return true;
    return false;
}

void CScrollBarUI::PaintBackground(HDC hdc) {
    if (IsEnabled()) {
        m_thumbState &= ~StateDisabled;
    } else {
        m_thumbState |= StateDisabled;
    }
    bool drawn = false;
    if ((m_thumbState & StateDisabled) && !m_bkDisabled.IsEmpty()) {
        drawn = DrawImage(hdc, m_bkDisabled);
    } else if ((m_thumbState & StatePushed) && !m_bkPushed.IsEmpty()) {
        drawn = DrawImage(hdc, m_bkPushed);
    } else if ((m_thumbState & StateHot) && !m_bkHot.IsEmpty()) {
        drawn = DrawImage(hdc, m_bkHot);
    }
    if (!drawn && !m_bkNormal.IsEmpty()) DrawImage(hdc, m_bkNormal);
}

void CScrollBarUI::PaintButton1(HDC hdc) {
    if (!m_showButton1) return;
    if (IsEnabled()) {
        m_button1State &= ~StateDisabled;
    } else {
        m_button1State |= StateDisabled;
    }
    if (!PaintPart(hdc, m_button1, m_button1State, m_button1Normal, m_button1Hot, m_button1Pushed,
                   m_button1Disabled)) {
        CSkinRenderer::DrawRect(hdc, m_button1, 2, kOutlineColor);
    }
}

void CScrollBarUI::PaintButton2(HDC hdc) {
    if (!m_showButton2) return;
    if (IsEnabled()) {
        m_button2State &= ~StateDisabled;
    } else {
        m_button2State |= StateDisabled;
    }
    if (!PaintPart(hdc, m_button2, m_button2State, m_button2Normal, m_button2Hot, m_button2Pushed,
                   m_button2Disabled)) {
        CSkinRenderer::DrawRect(hdc, m_button2, 2, kOutlineColor);
    }
}

void CScrollBarUI::PaintThumb(HDC hdc) {
    if (IsNullRect(m_thumb)) return;
    if (IsEnabled()) {
        m_thumbState &= ~StateDisabled;
    } else {
        m_thumbState |= StateDisabled;
    }
    if (!PaintPart(hdc, m_thumb, m_thumbState, m_thumbNormal, m_thumbHot, m_thumbPushed, m_thumbDisabled)) {
        CSkinRenderer::DrawRect(hdc, m_thumb, 2, kOutlineColor);
    }
}

void CScrollBarUI::PaintRail(HDC hdc) {
    if (IsNullRect(m_thumb)) return;
    const int length = m_horizontal ? m_fixedSize.cy : m_fixedSize.cx;
    RECT rail = m_thumb;
    if (m_horizontal) {
        const int middle = (m_thumb.left + m_thumb.right) / 2;
        rail.left = middle - length / 2;
        rail.right = rail.left + length;
    } else {
        const int middle = (m_thumb.top + m_thumb.bottom) / 2;
        rail.top = middle - length / 2;
        rail.bottom = rail.top + length;
    }
    PaintPart(hdc, rail, m_thumbState, m_railNormal, m_railHot, m_railPushed, m_railDisabled);
}

}  // namespace Veneer
