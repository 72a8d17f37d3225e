// The ring: its background picture turns about the centre, one step per
// tick of its timer.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cwchar>
#include <new>

#include "PaintManager.h"
#include "SkinRenderer.h"
#include "SmallControls.h"

namespace Veneer {

CRingUI::CRingUI() = default;

CRingUI::~CRingUI() {
    if (m_manager) m_manager->KillControlTimer(this, kTimerId);
    ReleaseImage();
}

CControlUI* CRingUI::CreateRingUI() { return new (std::nothrow) CRingUI; }

const wchar_t* CRingUI::GetClassTag() const { return L"Ring"; }

void* CRingUI::FindInterface(const wchar_t* tag) {
    if (tag && CompareTextNoCase(tag, L"Ring") == 0) return this;
    return CLabelUI::FindInterface(tag);
}

void CRingUI::ReleaseImage() {
    CSkinRenderer::FreeGdiplusImage(m_image);
    m_image = nullptr;
}

void CRingUI::SetBkImage(const wchar_t* image) {
    const wchar_t* value = image ? image : L"";
    if (m_bkImage.Compare(value) == 0) return;
    SetBackgroundImage(value);
    ReleaseImage();
    Invalidate();
}

void CRingUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (CompareTextNoCase(name, L"bkimage") == 0) {
        SetBkImage(value);
    } else if (CompareTextNoCase(name, L"rotationangle") == 0) {
        const int step = static_cast<int>(wcstol(value, nullptr, 10));
        if (step != 0) m_step = step;
        Invalidate();
    } else {
        CLabelUI::SetAttribute(name, value);
    }
}

void CRingUI::InitImage() {
    m_image = CSkinRenderer::LoadGdiplusImage(m_bkImage);
    if (!m_manager) return;
    if (m_image) {
        m_angle = 0;
        m_manager->SetControlTimer(this, kTimerId, 50);
    } else {
        m_manager->KillControlTimer(this, kTimerId);
    }
}

void CRingUI::PaintBackgroundImage(HDC hdc) {
    if (!m_image) InitImage();
    if (!m_image) return;
    Gdiplus::Graphics graphics(hdc);
    const float cx = static_cast<float>(m_item.left + (m_item.right - m_item.left) / 2);
    const float cy = static_cast<float>(m_item.top + (m_item.bottom - m_item.top) / 2);
    graphics.TranslateTransform(cx, cy);
    graphics.RotateTransform(m_angle);
    graphics.TranslateTransform(-cx, -cy);
    graphics.DrawImage(m_image, static_cast<INT>(m_item.left), static_cast<INT>(m_item.top),
                       static_cast<INT>(m_item.right - m_item.left), static_cast<INT>(m_item.bottom - m_item.top));
}

void CRingUI::HandleEvent(ControlEvent& event) {
    if (event.type == EventTimer && event.wParam == kTimerId) {
        m_angle += static_cast<float>(m_step);
        if (m_step > 0) {
            if (m_angle > 360) m_angle -= 360;
        } else if (m_angle < -360) {
            m_angle += 360;
        }
        Invalidate();
        return;
    }
    if (event.type == EventSetFocus || event.type == EventKillFocus) {
        m_focused = event.type == EventSetFocus;
        return;
    }
    CControlUI::HandleEvent(event);
}

}  // namespace Veneer
