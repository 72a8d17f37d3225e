// The slider: the thumb's place, the value at a point and the mouse input
// that drags it, and the thumb's pictures by state.
#include <cwchar>
#include <new>

#include "PaintManager.h"
#include "Progress.h"

namespace Veneer {

namespace {
bool Is(const wchar_t* name, const wchar_t* expected) { return CompareTextNoCase(name, expected) == 0; }
}  // namespace

CSliderUI::CSliderUI() { m_textStyle = DT_CENTER | DT_SINGLELINE; }
CSliderUI::~CSliderUI() = default;

CControlUI* CSliderUI::CreateSliderUI() { return new (std::nothrow) CSliderUI; }

const wchar_t* CSliderUI::GetClassTag() const { return L"Slider"; }

void* CSliderUI::FindInterface(const wchar_t* tag) {
    if (tag && Is(tag, L"Slider")) return this;
    return CProgressUI::FindInterface(tag);
}

void CSliderUI::SetEnabled(bool enabled) {
    CControlUI::SetEnabled(enabled);
    if (!enabled) m_state = 0;
}

void CSliderUI::SetValue(int value) {
    if (m_state & ButtonCaptured) return;
    CProgressUI::SetValue(value);
}

void CSliderUI::SetThumbImage(const wchar_t* image) {
    m_thumbImage = image ? image : L"";
    Invalidate();
}
void CSliderUI::SetThumbHotImage(const wchar_t* image) {
    m_thumbHotImage = image ? image : L"";
    Invalidate();
}
void CSliderUI::SetThumbPushedImage(const wchar_t* image) {
    m_thumbPushedImage = image ? image : L"";
    Invalidate();
}

RECT CSliderUI::GetThumbRect() {
    const long long range = MakeRangeSound();
    const int w = Scaled(m_thumbWidth), h = Scaled(m_thumbHeight);
    const long long done = static_cast<long long>(m_value) - m_min;
    RECT r;
    if (m_horizontal) {
        r.left = m_item.left + static_cast<int>((m_item.right - m_item.left - w) * done / range);
        r.top = (m_item.top + m_item.bottom - h) / 2;
    } else {
        r.left = (m_item.left + m_item.right - w) / 2;
        r.top = m_item.bottom - static_cast<int>((m_item.bottom - m_item.top - h) * done / range) - h;
    }
    r.right = r.left + w;
    r.bottom = r.top + h;
    return r;
}

int CSliderUI::ValueAtPoint(POINT point) {
    const long long range = MakeRangeSound();
    // The thumb as placed: at a scale other than 100 the unscaled size would
    // put the centre of the thumb on another value.
    const int w = Scaled(m_thumbWidth), h = Scaled(m_thumbHeight);
    if (m_horizontal) {
        if (point.x >= m_item.right - w / 2) return m_max;
        if (point.x <= m_item.left + w / 2) return m_min;
        const int track = m_item.right - m_item.left - w;
        if (track <= 0) return m_min;
        return static_cast<int>(m_min + (static_cast<long long>(point.x) - m_item.left - w / 2) * range / track);
    }
    if (point.y >= m_item.bottom - h / 2) return m_min;
    if (point.y <= m_item.top + h / 2) return m_max;
    const int track = m_item.bottom - m_item.top - h;
    if (track <= 0) return m_min;
    return static_cast<int>(m_min + range * (static_cast<long long>(m_item.bottom) - h / 2 - point.y) / track);
}

void CSliderUI::StoreValueAt(POINT point) {
    const int value = ValueAtPoint(point);
    if (value != m_value && value >= m_min && value <= m_max) m_value = value;
}

void CSliderUI::HandleEvent(ControlEvent& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.type)) {
        if (m_parent) {
            m_parent->HandleEvent(event);
        } else {
            CLabelUI::HandleEvent(event);
        }
        return;
    }
    switch (event.type) {
    case EventButtonDown:
    case EventDoubleClick:
        if (!IsEnabled()) return;
        m_state |= ButtonCaptured;
        StoreValueAt(event.mouse);
        Invalidate();
        UpdateValueText();
        return;
    case EventButtonUp:
    case EventRightButtonUp:
        if (!IsEnabled()) break;
        m_state &= ~ButtonCaptured;
        {
            const int value = ValueAtPoint(event.mouse);
            if (value >= m_min && value <= m_max) {
                m_value = value;
                if (m_manager) m_manager->SendNotification(this, L"valuechanged");
                Invalidate();
            }
        }
        UpdateValueText();
        return;
    case EventContextMenu:
        return;
    case EventScrollWheel:
        if (!IsEnabled()) break;
        if (LOWORD(event.wParam) == 0) {
            SetValue(m_value + m_step);
        } else if (LOWORD(event.wParam) == 1) {
            SetValue(m_value - m_step);
        } else {
            break;
        }
        if (m_manager) m_manager->SendNotification(this, L"valuechanged");
        return;
    case EventMouseMove:
        if (m_state & ButtonCaptured) {
            StoreValueAt(event.mouse);
            if (m_sendMove) {
                UpdateValueText();
                if (m_manager) m_manager->SendNotification(this, L"movevaluechanged");
            }
            Invalidate();
        }
        {
            const RECT thumb = GetThumbRect();
            if (IsEnabled() && PtInRect(&thumb, event.mouse)) {
                m_state |= ButtonHot;
            } else {
                m_state &= ~ButtonHot;
            }
        }
        Invalidate();
        return;
    case EventSetCursor:
        if (!IsEnabled()) break;
        ::SetCursor(LoadCursorW(nullptr, IDC_HAND));
        return;
    default:
        break;
    }
    if (event.type == EventMouseLeave) {
        if (IsEnabled()) {
            m_state &= ~ButtonHot;
            Invalidate();
        }
        return;
    }
    CControlUI::HandleEvent(event);
}

void CSliderUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (Is(name, L"thumbimage")) {
        SetThumbImage(value);
    } else if (Is(name, L"thumbhotimage")) {
        SetThumbHotImage(value);
    } else if (Is(name, L"thumbpushedimage")) {
        SetThumbPushedImage(value);
    } else if (Is(name, L"thumbsize")) {
        long v[2] = {};
        ReadIntList(value, v, 2);
        m_thumbWidth = v[0];
        m_thumbHeight = v[1];
    } else if (Is(name, L"step")) {
        m_step = static_cast<int>(wcstol(value, nullptr, 10));
    } else if (Is(name, L"sendmove")) {
        m_sendMove = CompareTextNoCase(value, L"true") == 0;
    } else {
        CProgressUI::SetAttribute(name, value);
    }
}

void CSliderUI::PaintForegroundImage(HDC hdc) {
    CProgressUI::PaintForegroundImage(hdc);
    RECT thumb = GetThumbRect();
    OffsetRect(&thumb, -m_item.left, -m_item.top);
    if (m_manager) m_manager->GetDpiScaler()->UnscaleRect(thumb);
    m_thumbModifier.Format(L"dest='%d,%d,%d,%d'", thumb.left, thumb.top, thumb.right, thumb.bottom);
    bool drawn = false;
    if (m_state & ButtonCaptured) {
        if (!m_thumbPushedImage.IsEmpty()) drawn = DrawImage(hdc, m_thumbPushedImage, m_thumbModifier);
    } else if (m_state & ButtonHot) {
        if (!m_thumbHotImage.IsEmpty()) drawn = DrawImage(hdc, m_thumbHotImage, m_thumbModifier);
    }
    if (!drawn && !m_thumbImage.IsEmpty()) DrawImage(hdc, m_thumbImage, m_thumbModifier);
}

}  // namespace Veneer
