// The paint manager's window messages: layout and off-screen paint, and the
// mouse and keyboard turned into control events.
#include <windowsx.h>

#include "PaintManager.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {
// The layout-collection walk: a control that asked for layout is taken.
CControlUI* CollectLayout(CControlUI* control, void* data) {
    if (!control->IsLayoutPending()) return nullptr;
    static_cast<CPointerArray*>(data)->Add(control);
    return control;
}
}  // namespace

ControlEvent CPaintManagerUI::BuildEvent(ControlEventType type, CControlUI* sender, WPARAM wParam,
                                        LPARAM lParam) const {
    ControlEvent event = {};
    event.type = type;
    event.sender = sender;
    event.timestamp = GetTickCount();
    event.mouse = m_mousePos;
    event.wParam = wParam;
    event.lParam = lParam;
    return event;
}

CControlUI* CPaintManagerUI::OwnControlAt(POINT point) const {
    CControlUI* control = FindControlAt(point);
    return control && control->GetManager() == this ? control : nullptr;
}

void CPaintManagerUI::ReleaseOffscreen() {
    if (m_offscreenDC) DeleteDC(m_offscreenDC);
    if (m_offscreenBitmap) DeleteObject(m_offscreenBitmap);
    m_offscreenDC = nullptr;
    m_offscreenBitmap = nullptr;
    m_offscreenBits = nullptr;
    m_offscreenSize = SIZE{};
}

bool CPaintManagerUI::HandlePaint() {
    RECT paint = {};
    if (!GetUpdateRect(m_paintWindow, &paint, FALSE) || IsRectEmpty(&paint)) return true;
    if (!m_root) {
        PAINTSTRUCT ps;
        BeginPaint(m_paintWindow, &ps);
        EndPaint(m_paintWindow, &ps);
        return true;
    }
    RECT client = {};
    GetClientRect(m_paintWindow, &client);
    bool windowSized = false;
    if (m_layoutPending) {
        m_layoutPending = false;
        if (!IsRectEmpty(&client) && !IsIconic(m_paintWindow)) {
            if (m_root->IsLayoutPending()) {
                ReleaseOffscreen();
                m_root->SetPos(client, true);
                windowSized = true;
            } else {
                CPointerArray collected;
                m_root->FindControl(CollectLayout, &collected, FindVisible | FindStopAtAccepted | FindContainerFirst);
                for (int i = 0; i < collected.GetSize(); ++i) {
                    CControlUI* control = static_cast<CControlUI*>(collected.GetAt(i));
                    control->SetPos(control->IsFloat() ? control->GetRelativePos() : control->GetPos(), true);
                }
            }
            if (m_firstPaintPending) {
                m_firstPaintPending = false;
                SendNotification(m_root, L"windowinit");
            }
        }
    }
    if (m_focusPending) {
        if (m_layoutPending) {
            InvalidateRect(m_paintWindow, nullptr, FALSE);
        } else {
            FocusNextControl(true);
        }
    }
    // The surface follows the client's size; the paint stays inside it.
    if (m_offscreenBitmap && (m_offscreenSize.cx != client.right || m_offscreenSize.cy != client.bottom)) {
        ReleaseOffscreen();
    }
    if (!m_offscreenBitmap && client.right > 0 && client.bottom > 0) {
        m_offscreenDC = CreateCompatibleDC(m_paintDC);
        m_offscreenBitmap = CSkinRenderer::CreateArgbBitmap(m_paintDC, client.right, client.bottom, &m_offscreenBits);
        m_offscreenSize = SIZE{client.right, client.bottom};
    }
    IntersectRect(&paint, &paint, &client);
    PAINTSTRUCT ps;
    BeginPaint(m_paintWindow, &ps);
    if (m_offscreenDC && m_offscreenBitmap && !IsRectEmpty(&paint)) {
        HGDIOBJ old = SelectObject(m_offscreenDC, m_offscreenBitmap);
        const int saved = SaveDC(m_offscreenDC);
        m_root->Paint(m_offscreenDC, paint);
        for (int i = 0; i < m_overlays.GetSize(); ++i) {
            static_cast<CControlUI*>(m_overlays.GetAt(i))->PaintOverlay(m_offscreenDC, paint);
        }
        RestoreDC(m_offscreenDC, saved);
        BitBlt(m_paintDC, paint.left, paint.top, paint.right - paint.left, paint.bottom - paint.top, m_offscreenDC,
               paint.left, paint.top, SRCCOPY);
        SelectObject(m_offscreenDC, old);
        if (m_showDirty) CSkinRenderer::DrawRect(m_paintDC, paint, 1, 0xFFFF0000);
    }
    EndPaint(m_paintWindow, &ps);
    if (m_layoutPending) InvalidateAll();
    if (windowSized) SendNotification(m_root, L"windowsize", 0, 0, true);
    return true;
}

bool CPaintManagerUI::HandleMouseMove(WPARAM wParam, LPARAM lParam) {
    if (!m_mouseTracking) {
        TRACKMOUSEEVENT track = {sizeof(track), TME_HOVER | TME_LEAVE, m_paintWindow, m_hoverTime};
        TrackMouseEvent(&track);
        m_mouseTracking = true;
    }
    const POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    const bool moved = point.x != m_mousePos.x || point.y != m_mousePos.y;
    m_mousePos = point;
    CControlUI* candidate = FindControlAt(point);
    if (candidate && candidate->GetManager() != this) return false;
    if (moved && m_dragPending && wParam == MK_LBUTTON) return false;   // drag start: not built yet
    if (candidate != m_hover && m_hover) {
        CControlUI* old = m_hover;
        ControlEvent event = BuildEvent(EventMouseLeave, old, wParam, lParam);
        old->RaiseEvent(event);
        SendNotification(old, L"mouseleave", 0, reinterpret_cast<LPARAM>(candidate));
        m_hover = nullptr;
    }
    if (candidate != m_hover && candidate) {
        ControlEvent event = BuildEvent(EventMouseEnter, candidate, wParam, lParam);
        candidate->RaiseEvent(event);
        SendNotification(candidate, L"mouseenter", 0, reinterpret_cast<LPARAM>(m_hover));
        m_hover = candidate;
    }
    CControlUI* target = m_pressed ? m_pressed : candidate;
    if (target) {
        ControlEvent event = BuildEvent(EventMouseMove, target, wParam, lParam);
        target->RaiseEvent(event);
    }
    return false;
}

void CPaintManagerUI::LeaveHover() {
    if (!m_hover) return;
    CControlUI* hover = m_hover;
    ControlEvent event = BuildEvent(EventMouseLeave, hover, 0, 0);
    event.keyState = GetModifierKeyFlags();
    hover->RaiseEvent(event);
    SendNotification(hover, L"mouseleave");
    m_hover = nullptr;
}

void CPaintManagerUI::HandleLeave() {
    if (m_mouseTracking) {
        SendMessageW(m_paintWindow, WM_MOUSEMOVE, 0, static_cast<LPARAM>(-1));
    } else {
        LeaveHover();
    }
    m_mouseTracking = false;
}

void CPaintManagerUI::HandleButtonDown(UINT message, WPARAM wParam, LPARAM lParam) {
    ::SetFocus(m_paintWindow);
    m_mousePos = POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    CControlUI* control = OwnControlAt(m_mousePos);
    if (!control) return;
    ControlEventType type = EventButtonDown;
    if (message == WM_LBUTTONDBLCLK) {
        type = EventDoubleClick;
    } else {
        if (message == WM_RBUTTONDOWN) type = EventRightButtonDown;
        if (message == WM_MBUTTONDOWN) type = EventMiddleButtonDown;
        if (message == WM_LBUTTONDOWN && control->IsDragEnabled()) m_dragPending = true;
        CaptureMouse();
    }
    m_pressed = control;
    if (message != WM_LBUTTONDBLCLK) control->TakeFocus();
    ControlEvent event = BuildEvent(type, control, wParam, lParam);
    event.keyState = LOWORD(wParam);
    control->RaiseEvent(event);
}

void CPaintManagerUI::HandleButtonUp(UINT message, WPARAM wParam, LPARAM lParam) {
    ReleaseMouse();
    m_mousePos = POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    m_dragPending = false;
    CControlUI* control;
    ControlEventType type = EventButtonUp;
    if (message == WM_LBUTTONUP) {
        control = m_pressed;
        m_pressed = nullptr;
    } else {
        type = message == WM_RBUTTONUP ? EventRightButtonUp : EventMiddleButtonUp;
        control = FindControlAt(m_mousePos);
        m_pressed = control;
    }
    if (!control) return;
    ControlEvent event = BuildEvent(type, control, wParam, lParam);
    event.keyState = LOWORD(wParam);
    control->RaiseEvent(event);
}

void CPaintManagerUI::HandleWheel(WPARAM wParam, LPARAM lParam) {
    POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ScreenToClient(m_paintWindow, &point);
    m_mousePos = point;
    CControlUI* control = OwnControlAt(point);
    if (!control) return;
    const WPARAM direction = static_cast<short>(HIWORD(wParam)) < 0 ? 1 : 0;
    ControlEvent event = BuildEvent(EventScrollWheel, control, direction, lParam);
    event.keyState = GetModifierKeyFlags();
    control->RaiseEvent(event);
    SendMessageW(m_paintWindow, WM_MOUSEMOVE, 0, MAKELPARAM(m_mousePos.x, m_mousePos.y));
}

void CPaintManagerUI::HandleKey(UINT message, WPARAM wParam, LPARAM lParam) {
    CControlUI* control = message == WM_KEYUP ? m_keyDown : m_focus;
    if (!control) return;
    const ControlEventType type = message == WM_KEYDOWN ? EventKeyDown : message == WM_KEYUP ? EventKeyUp : EventChar;
    ControlEvent event = BuildEvent(type, control, wParam, lParam);
    event.key = LOWORD(wParam);
    event.keyState = GetModifierKeyFlags();
    if (message == WM_KEYDOWN) m_keyDown = control;
    if (message == WM_KEYUP) m_keyDown = nullptr;
    control->RaiseEvent(event);
}

}  // namespace Veneer
