// The rotate button: clicked like a button, it follows the mouse around its
// centre while dragged.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cmath>
#include <cwchar>
#include <new>

#include "Button.h"
#include "PaintManager.h"
#include "SmallControls.h"

namespace Veneer {

namespace {
bool Is(const wchar_t* name, const wchar_t* expected) { return CompareTextNoCase(name, expected) == 0; }

// The angle of a line through two points: ±90 for an upright line, 0 when
// the points are the same.
float UprightAngle(long dy) { return dy == 0 ? 0.0f : (dy > 0 ? 90.0f : -90.0f); }
}  // namespace

CRotateButtonUI::CRotateButtonUI() = default;
CRotateButtonUI::~CRotateButtonUI() = default;

CControlUI* CRotateButtonUI::CreateRotateButtonUI() { return new (std::nothrow) CRotateButtonUI; }

const wchar_t* CRotateButtonUI::GetClassTag() const { return L"RotateButton"; }

void* CRotateButtonUI::FindInterface(const wchar_t* tag) {
    if (tag && (Is(tag, L"RotateButton") || Is(tag, L"Control"))) return this;
    return nullptr;
}

UINT CRotateButtonUI::GetBehaviorFlags() const { return (IsKeyboardEnabled() ? 1u : 0u) | (IsEnabled() ? 2u : 0u); }

bool CRotateButtonUI::Activate() {
    if (!CControlUI::Activate()) return false;
    if (m_manager) m_manager->SendNotification(this, L"click");
    return true;
}

void CRotateButtonUI::SetCenterPoint(int x, int y) {
    m_centre.x = x;
    m_centre.y = y;
}

void CRotateButtonUI::RotateTo(POINT point) {
    const long dx = labs(m_centre.x - point.x);
    const long dy = labs(m_centre.y - point.y);
    const long long square = static_cast<long long>(dx) * dx + static_cast<long long>(dy) * dy;
    const long long radiusSquare = static_cast<long long>(m_radius) * m_radius;
    if (square < radiusSquare) {
        if (point.x == m_last.x) {
            m_angle = UprightAngle(point.y - m_last.y);
        } else {
            const long slope = (point.y - m_last.y) / (point.x - m_last.x);
            m_angle = static_cast<float>(atan(static_cast<double>(slope)) * 180 / 3.1415926);
        }
        m_last = point;
        return;
    }
    // Onto the circle; a point on the centre itself (radius 0 or less) has
    // no direction and stays where it is.
    POINT moved = point;
    const double d = sqrt(static_cast<double>(square));
    if (d > 0) {
        moved.x = m_centre.x + static_cast<long>(dx * m_radius / d);
        moved.y = m_centre.y + static_cast<long>(dy * m_radius / d);
    }
    if (moved.x == m_last.x) {
        m_angle = UprightAngle(moved.y - m_last.y);
    } else {
        const double slope = static_cast<double>(moved.y - m_last.y) / static_cast<double>(moved.x - m_last.x);
        m_angle = static_cast<float>(atan(slope) * 180 / 3.1415926);
    }
    m_last = moved;
}

void CRotateButtonUI::HandleEvent(ControlEvent& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.type)) {
        if (m_parent) m_parent->HandleEvent(event);
        return;
    }
    switch (event.type) {
    case EventKeyDown:
        if (IsKeyboardEnabled() && (event.key == VK_SPACE || event.key == VK_RETURN)) {
            Activate();
            return;
        }
        break;
    case EventButtonDown:
        if (PtInRect(&m_item, event.mouse) && IsEnabled()) m_state |= ButtonCaptured;
        return;
    case EventMouseMove:
        if (m_state & ButtonCaptured) {
            RotateTo(event.mouse);
            Invalidate();
        }
        return;
    case EventButtonUp:
        if (m_state & ButtonCaptured) {
            if (PtInRect(&m_item, event.mouse)) Activate();
            m_state &= ~ButtonCaptured;
            Invalidate();
        }
        return;
    case EventContextMenu:
        return;
    case EventSetFocus:
    case EventKillFocus:
        Invalidate();
        break;
    default:
        break;
    }
    CControlUI::HandleEvent(event);
}

void CRotateButtonUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (Is(name, L"radius")) {
        m_radius = static_cast<int>(wcstol(value, nullptr, 10));
    } else if (Is(name, L"centerpoint")) {
        long v[2] = {};
        ReadIntList(value, v, 2);
        SetCenterPoint(v[0], v[1]);
    } else if (Is(name, L"normalimage")) {
        SetNormalImage(value);
    } else if (Is(name, L"hotimage")) {
        SetHotImage(value);
    } else {
        CControlUI::SetAttribute(name, value);
    }
}

SIZE CRotateButtonUI::MeasureSize(SIZE available) {
    if (m_fixedSize.cy != 0) return CControlUI::MeasureSize(available);
    return SIZE{GetFixedWidth(), 8};
}

void CRotateButtonUI::PaintStateImage(HDC hdc) {
    if (m_centre.x == 0 || m_centre.y == 0 || m_normalImage.IsEmpty()) return;
    Gdiplus::Graphics graphics(hdc);
    graphics.RotateTransform(45.0f, Gdiplus::MatrixOrderPrepend);
    const CUIString path = CPaintManagerUI::GetResourceFolder() + m_normalImage;
    Gdiplus::Image image(path.GetData());
    if (image.GetLastStatus() != Gdiplus::Ok) return;
    graphics.DrawImage(&image, static_cast<INT>(m_item.left), static_cast<INT>(m_item.top),
                       static_cast<INT>(image.GetWidth()), static_cast<INT>(image.GetHeight()));
}

}  // namespace Veneer
