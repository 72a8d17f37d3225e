// The GDI+ GIF control.
#include "GifAnimation.h"

#include <objidl.h>
#include <gdiplus.h>

#include <cstring>
#include <new>

#include "PaintManager.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {
const GUID kTimeDimension = {0x6aedbd6d, 0x3fb5, 0x418a, {0x83, 0xa6, 0x7f, 0x45, 0x22, 0x9d, 0xc8, 0x72}};
const PROPID kFrameDelay = 0x5100;
}  // namespace

CGifAnimationUI::CGifAnimationUI() = default;

CGifAnimationUI::~CGifAnimationUI() {
    DeleteGif();
    if (m_manager) m_manager->KillControlTimer(this, kTimerId);
}

CControlUI* CGifAnimationUI::CreateGifAnimationUI() { return new (std::nothrow) CGifAnimationUI; }

const wchar_t* CGifAnimationUI::GetClassTag() const { return L"GifAnimation"; }

void* CGifAnimationUI::FindInterface(const wchar_t* tag) {
    if (tag && CompareTextNoCase(tag, L"GifAnimation") == 0) return this;
    if (tag && CompareTextNoCase(tag, L"Control") == 0) return this;
    return nullptr;
}

void CGifAnimationUI::OnInitialize() { InitGifImage(); }

void CGifAnimationUI::InitGifImage() {
    m_image = CSkinRenderer::LoadGdiplusImage(m_bkImageName);
    if (!m_image) return;
    const UINT dimensions = m_image->GetFrameDimensionsCount();
    if (dimensions > 0) {
        GUID* ids = new (std::nothrow) GUID[dimensions];
        if (ids && m_image->GetFrameDimensionsList(ids, dimensions) == Gdiplus::Ok) {
            m_frameCount = m_image->GetFrameCount(&ids[0]);
        }
        delete[] ids;
    }
    if (m_frameCount >= 2) {
        // One delay per frame: frames the property does not cover (or a
        // missing, short or unreadable property) get 0, that is 100 ms.
        m_delays = new (std::nothrow) UINT[m_frameCount]();
        if (!m_delays) return;
        const UINT size = m_image->GetPropertyItemSize(kFrameDelay);
        if (size >= sizeof(Gdiplus::PropertyItem)) {
            Gdiplus::PropertyItem* item = static_cast<Gdiplus::PropertyItem*>(calloc(1, size));
            if (item && m_image->GetPropertyItem(kFrameDelay, size, item) == Gdiplus::Ok && item->value) {
                UINT count = item->length / sizeof(UINT);
                const UINT room = static_cast<UINT>(
                    (reinterpret_cast<BYTE*>(item) + size - static_cast<BYTE*>(item->value)) / sizeof(UINT));
                if (count > room) count = room;
                if (count > m_frameCount) count = m_frameCount;
                memcpy(m_delays, item->value, count * sizeof(UINT));
            }
            free(item);
        }
    }
    if (m_autoSize) {
        SetFixedWidth(static_cast<int>(m_image->GetWidth()));
        SetFixedHeight(static_cast<int>(m_image->GetHeight()));
    }
    if (m_autoPlay) PlayGif();
}

UINT CGifAnimationUI::GetFramePeriod(UINT index) const {
    const UINT delay = m_delays && index < m_frameCount ? m_delays[index] : 0;
    return delay ? delay * 10 : 100;
}

void CGifAnimationUI::PlayGif() {
    if (m_playing || !m_image || m_frameCount < 2) return;
    if (m_manager) m_manager->SetControlTimer(this, kTimerId, GetFramePeriod(m_current));
    m_playing = true;
}

void CGifAnimationUI::OnTimer() {
    if (!m_manager || m_frameCount == 0) return;
    m_manager->KillControlTimer(this, kTimerId);
    Invalidate();
    m_current = (m_current + 1) % m_frameCount;
    m_manager->SetControlTimer(this, kTimerId, GetFramePeriod(m_current));
}

void CGifAnimationUI::HandleEvent(ControlEvent& event) {
    if (event.type == EventTimer && event.wParam == kTimerId) OnTimer();
}

void CGifAnimationUI::Paint(HDC hdc, const RECT& paint) {
    if (!IntersectRect(&m_paintRect, &paint, &m_item)) return;
    if (!m_image) InitGifImage();
    DrawFrame(hdc);
}

void CGifAnimationUI::DrawFrame(HDC hdc) {
    if (!hdc || !m_image) return;
    Gdiplus::Graphics graphics(hdc);
    graphics.DrawImage(m_image, static_cast<INT>(m_item.left), static_cast<INT>(m_item.top),
                       static_cast<INT>(m_item.right - m_item.left), static_cast<INT>(m_item.bottom - m_item.top));
    if (m_frameCount > 1) m_image->SelectActiveFrame(&kTimeDimension, m_current);
}

void CGifAnimationUI::StopPlaying() {
    if (!m_playing) return;
    if (m_manager) m_manager->KillControlTimer(this, kTimerId);
    m_current = 0;
    Invalidate();
    m_playing = false;
}

void CGifAnimationUI::SetVisible(bool show) {
    CControlUI::SetVisible(show);
    if (show) {
        PlayGif();
    } else {
        StopPlaying();
        // The first frame is the one the next paint shows.
        if (m_image && m_frameCount > 1) m_image->SelectActiveFrame(&kTimeDimension, 0);
    }
}

void CGifAnimationUI::SetBkImage(const wchar_t* name) {
    if (!name || m_bkImageName == name) return;
    m_bkImageName = name;
    StopPlaying();
    DeleteGif();
    Invalidate();
}

void CGifAnimationUI::DeleteGif() {
    CSkinRenderer::FreeGdiplusImage(m_image);
    m_image = nullptr;
    delete[] m_delays;
    m_delays = nullptr;
    m_frameCount = 0;
    m_current = 0;
}

void CGifAnimationUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (CompareTextNoCase(name, L"bkimage") == 0) {
        SetBkImage(value);
    } else if (CompareTextNoCase(name, L"autoplay") == 0) {
        m_autoPlay = CompareTextNoCase(value, L"true") == 0;
    } else if (CompareTextNoCase(name, L"autosize") == 0) {
        m_autoSize = CompareTextNoCase(value, L"true") == 0;
    } else {
        CControlUI::SetAttribute(name, value);
    }
}

}  // namespace Veneer
