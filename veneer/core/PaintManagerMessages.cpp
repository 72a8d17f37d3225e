// The paint manager's window messages: layout and off-screen paint, and the
// mouse and keyboard turned into control events.
#include <windowsx.h>

#include <cstring>
#include <cwchar>

#include "PaintManager.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {
// The layout-collection walk: a control that asked for layout is taken. A
// container taken is the walk's answer, so the walk does not enter it (its
// layout places its children); any other control taken lets the walk go on,
// so that every control that asked is laid out in the same paint.
CControlUI* CollectLayout(CControlUI* control, void* data) {
    if (!control->IsLayoutPending()) return nullptr;
    static_cast<CPointerArray*>(data)->Add(control);
    return control->FindInterface(L"IContainer") ? control : nullptr;
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
                // Positions are client coordinates, floating controls' too:
                // each keeps the place its parent gave it.
                for (int i = 0; i < collected.GetSize(); ++i) {
                    CControlUI* control = static_cast<CControlUI*>(collected.GetAt(i));
                    control->SetPos(control->GetPos(), true);
                }
            }
            if (m_firstPaintPending) {
                m_firstPaintPending = false;
                SendNotification(m_root, L"windowinit");
                m_shadow.Show(m_paintWindow);
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
    if (m_layered) {
        const LONG_PTR style = GetWindowLongPtrW(m_paintWindow, GWL_EXSTYLE);
        if (!(style & WS_EX_LAYERED)) SetWindowLongPtrW(m_paintWindow, GWL_EXSTYLE, style | WS_EX_LAYERED);
        UnionRect(&paint, &paint, &m_layeredDirty);
        m_layeredDirty = RECT{};
    }
    IntersectRect(&paint, &paint, &client);
    PAINTSTRUCT ps;
    BeginPaint(m_paintWindow, &ps);
    if (m_offscreenDC && m_offscreenBitmap && !IsRectEmpty(&paint)) {
        HGDIOBJ old = SelectObject(m_offscreenDC, m_offscreenBitmap);
        const int saved = SaveDC(m_offscreenDC);
        if (m_layered) {
            GdiFlush();
            for (int y = paint.top; y < paint.bottom; ++y) {
                DWORD* row = m_offscreenBits + static_cast<size_t>(client.bottom - 1 - y) * client.right;
                for (int x = paint.left; x < paint.right; ++x) row[x] = 0;
            }
        }
        m_root->Paint(m_offscreenDC, paint);
        DrawCaret(m_offscreenDC, paint);
        for (int i = 0; i < m_overlays.GetSize(); ++i) {
            static_cast<CControlUI*>(m_overlays.GetAt(i))->PaintOverlay(m_offscreenDC, paint);
        }
        if (m_layered) PaintLayered(paint, client.right, client.bottom);
        RestoreDC(m_offscreenDC, saved);
        if (m_layered) {
            RECT window = {};
            GetWindowRect(m_paintWindow, &window);
            POINT to = {window.left, window.top};
            SIZE size = {client.right, client.bottom};
            POINT from = {0, 0};
            BLENDFUNCTION blend = {AC_SRC_OVER, 0, m_opacity, AC_SRC_ALPHA};
            UpdateLayeredWindow(m_paintWindow, m_paintDC, &to, &size, m_offscreenDC, &from, 0, &blend, ULW_ALPHA);
        } else {
            BitBlt(m_paintDC, paint.left, paint.top, paint.right - paint.left, paint.bottom - paint.top,
                   m_offscreenDC, paint.left, paint.top, SRCCOPY);
        }
        SelectObject(m_offscreenDC, old);
        if (m_showDirty) CSkinRenderer::DrawRect(m_paintDC, paint, 1, 0xFFFF0000);
    }
    EndPaint(m_paintWindow, &ps);
    if (m_layoutPending) InvalidateAll();
    if (windowSized) SendNotification(m_root, L"windowsize", 0, 0, true);
    return true;
}

void CPaintManagerUI::PaintLayered(const RECT& paint, int width, int height) {
    // GDI leaves alpha 0 under what it draws: such coloured pixels become opaque.
    GdiFlush();
    for (int y = paint.top; y < paint.bottom; ++y) {
        DWORD* row = m_offscreenBits + static_cast<size_t>(height - 1 - y) * width;
        for (int x = paint.left; x < paint.right; ++x) {
            if ((row[x] & 0xFF000000) == 0 && (row[x] & 0x00FFFFFF) != 0) row[x] |= 0xFF000000;
        }
    }
    // Native windows do not paint into the surface: they are printed into it.
    for (int i = m_nativeWindows.GetSize() - 1; i >= 0; --i) {
        HWND native = static_cast<HWND>(m_nativeWindows.GetAt(i));
        if (!IsWindow(native)) {
            m_nativeWindows.RemoveAt(i);
            continue;
        }
        RECT r = {}, cut = {};
        ChildWindowClientRect(native, r, m_paintWindow);
        if (!IsWindowVisible(native) || !IntersectRect(&cut, &r, &paint)) continue;
        const int w = r.right - r.left, h = r.bottom - r.top;
        HDC dc = CreateCompatibleDC(m_offscreenDC);
        DWORD* bits = nullptr;
        HBITMAP bitmap = CSkinRenderer::CreateArgbBitmap(m_offscreenDC, w, h, &bits);
        if (dc && bitmap) {
            HGDIOBJ old = SelectObject(dc, bitmap);
            memset(bits, 0, static_cast<size_t>(w) * h * 4);
            SendMessageW(native, WM_PRINT, reinterpret_cast<WPARAM>(dc), 0x35);
            GdiFlush();
            for (int p = 0; p < w * h; ++p) {
                if (bits[p] != 0) bits[p] |= 0xFF000000;
            }
            BitBlt(m_offscreenDC, r.left, r.top, w, h, dc, 0, 0, SRCCOPY);
            SelectObject(dc, old);
        }
        if (bitmap) DeleteObject(bitmap);
        if (dc) DeleteDC(dc);
    }
}

bool CPaintManagerUI::HandleHover(LPARAM lParam) {
    m_mouseTracking = false;
    POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    if (!m_root) return false;
    struct Hit {
        static CControlUI* At(CControlUI* control, void* data) {
            return PtInRect(&control->GetPos(), *static_cast<POINT*>(data)) ? control : nullptr;
        }
    };
    CControlUI* found = m_root->FindControl(Hit::At, &point, FindVisible | FindHitTest | FindLastChildFirst);
    if (!found) return false;
    if (m_hover) {
        ControlEvent event = BuildEvent(EventMouseHover, m_hover, 0, lParam);
        event.mouse = point;
        event.keyState = GetModifierKeyFlags();
        m_hover->RaiseEvent(event);
    }
    const CUIString tip = found->GetToolTip();
    if (tip.IsEmpty()) return true;
    static wchar_t text[1024];
    wcsncpy(text, tip.GetData(), 1023);
    text[1023] = 0;
    m_toolInfo = TOOLINFOW{};
    m_toolInfo.cbSize = 48;   // the form without the reserved pointer: every comctl32 takes it
    m_toolInfo.uFlags = TTF_IDISHWND;
    m_toolInfo.hwnd = m_paintWindow;
    m_toolInfo.uId = reinterpret_cast<UINT_PTR>(m_paintWindow);
    m_toolInfo.rect = found->GetPos();
    m_toolInfo.hinst = GetInstance();
    m_toolInfo.lpszText = text;
    if (!m_toolTip) {
        m_toolTip = CreateWindowExW(0, L"tooltips_class32", nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_paintWindow,
                                    nullptr, GetInstance(), nullptr);
        if (!m_toolTip) return true;
        SendMessageW(m_toolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&m_toolInfo));
        SendMessageW(m_toolTip, TTM_SETMAXTIPWIDTH, 0, found->GetToolTipWidth());
    }
    if (!IsWindowVisible(m_toolTip)) {
        SendMessageW(m_toolTip, TTM_SETMAXTIPWIDTH, 0, found->GetToolTipWidth());
        SendMessageW(m_toolTip, TTM_SETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&m_toolInfo));
        SendMessageW(m_toolTip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&m_toolInfo));
    }
    return true;
}

// ------------------------------------------------------------------ opacity, layered mode, caret

void CPaintManagerUI::SetOpacity(BYTE alpha) {
    m_opacity = alpha;
    if (!m_paintWindow) return;
    typedef BOOL(WINAPI * SetAttributes)(HWND, COLORREF, BYTE, DWORD);
    SetAttributes set = reinterpret_cast<SetAttributes>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"User32.dll"), "SetLayeredWindowAttributes")));
    if (!set) return;
    const LONG_PTR style = GetWindowLongPtrW(m_paintWindow, GWL_EXSTYLE);
    if (!(style & WS_EX_LAYERED)) SetWindowLongPtrW(m_paintWindow, GWL_EXSTYLE, style | WS_EX_LAYERED);
    set(m_paintWindow, 0, alpha, LWA_ALPHA);
}

void CPaintManagerUI::SetLayeredOpacity(BYTE alpha) {
    m_opacity = alpha;
    m_layeredOpacity = true;
    InvalidateAll();
}

void CPaintManagerUI::SetLayeredMode(bool on) {
    if (!m_paintWindow || on == m_layered) return;
    if (GetWindowLongPtrW(m_paintWindow, GWL_STYLE) & WS_CHILD) return;
    static void* update =
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"User32.dll"), "UpdateLayeredWindow"));
    if (!update) return;
    m_layered = on;
    if (m_root) m_root->MarkForLayout();
    InvalidateAll();
}

bool CPaintManagerUI::SetCaretVisible(bool visible) {
    if (visible == m_caretEnabled) return true;
    m_caretEnabled = visible;
    RECT caret = m_caretRect;
    if (visible) {
        if (m_paintWindow) SetTimer(m_paintWindow, 6553, GetCaretBlinkTime(), nullptr);
        if (!m_caretDrawn) {
            InvalidateArea(caret);
            m_caretDrawn = true;
        }
    } else {
        if (m_paintWindow) KillTimer(m_paintWindow, 6553);
        if (m_caretDrawn) InvalidateArea(caret);
        m_caretDrawn = false;
    }
    return true;
}

bool CPaintManagerUI::MoveCaret(int x, int y, CControlUI* owner) {
    if (!SetCaretPos(x, y)) return false;
    m_caretOwner = owner;
    RECT old = m_caretRect;
    InvalidateArea(old);
    OffsetRect(&m_caretRect, x - m_caretRect.left, y - m_caretRect.top);
    RECT now = m_caretRect;
    InvalidateArea(now);
    return true;
}

void CPaintManagerUI::DrawCaret(HDC hdc, const RECT& paint) {
    if (m_caretOwner && (!m_caretOwner->IsFocused() || ::GetFocus() != m_paintWindow)) {
        if (m_paintWindow) KillTimer(m_paintWindow, 6553);
        if (m_caretDrawn) {
            RECT caret = m_caretRect;
            InvalidateArea(caret);
        }
        m_caretDrawn = false;
        return;
    }
    if (!m_caretDrawn || !m_caretEnabled || !m_caretOwner) return;
    RECT cut;
    if (!IntersectRect(&cut, &m_caretRect, &paint)) return;
    const DWORD color = GetDefaultFontColor();
    CSkinRenderer::FillColor(hdc, cut, color ? color : 0xFF000000);
}

bool CPaintManagerUI::HandleMouseMove(WPARAM wParam, LPARAM lParam) {
    if (!m_mouseTracking) {
        DWORD hover = m_hoverTime;
        if (m_toolTip) hover = static_cast<DWORD>(SendMessageW(m_toolTip, TTM_GETDELAYTIME, TTDT_INITIAL, 0));
        TRACKMOUSEEVENT track = {sizeof(track), TME_HOVER | TME_LEAVE, m_paintWindow, hover};
        TrackMouseEvent(&track);
        m_mouseTracking = true;
    }
    const POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    const bool moved = point.x != m_mousePos.x || point.y != m_mousePos.y;
    m_mousePos = point;
    CControlUI* candidate = FindControlAt(point);
    if (candidate && candidate->GetManager() != this) return false;
    if (moved && m_dragPending && wParam == MK_LBUTTON) {
        StartDrag();
        return false;
    }
    if (candidate != m_hover && m_hover) {
        CControlUI* old = m_hover;
        ControlEvent event = BuildEvent(EventMouseLeave, old, wParam, lParam);
        old->RaiseEvent(event);
        SendNotification(old, L"mouseleave", 0, reinterpret_cast<LPARAM>(candidate));
        m_hover = nullptr;
        if (m_toolTip) SendMessageW(m_toolTip, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&m_toolInfo));
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
    if (m_toolTip) SendMessageW(m_toolTip, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&m_toolInfo));
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
        if (message == WM_LBUTTONDOWN && control->IsDragEnabled()) {
            m_dragPending = true;
            if (m_dragImage) DeleteObject(m_dragImage);
            m_dragImage = CSkinRenderer::RenderControlBitmap(this, control, control->GetPos());
        }
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
