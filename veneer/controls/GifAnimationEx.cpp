// The hover-played GIF label.
#include "GifAnimationEx.h"

#include <new>

namespace Veneer {

CGifAnimationExUI::CGifAnimationExUI() = default;

CGifAnimationExUI::~CGifAnimationExUI() {
    // The workers end before anything of this control goes.
    RemoveAllPlayers();
    if (m_filterManager) m_filterManager->RemoveMessageFilter(this);
}

CControlUI* CGifAnimationExUI::CreateGifAnimationExUI() { return new (std::nothrow) CGifAnimationExUI; }

const wchar_t* CGifAnimationExUI::GetClassTag() const { return L"GifAnimationEx"; }

void* CGifAnimationExUI::FindInterface(const wchar_t* tag) {
    if (tag && CompareTextNoCase(tag, L"GifAnimationEx") == 0) return this;
    return CLabelUI::FindInterface(tag);
}

UINT CGifAnimationExUI::GetBehaviorFlags() const { return CLabelUI::GetBehaviorFlags(); }

void CGifAnimationExUI::HandleEvent(ControlEvent& event) {
    switch (event.type) {
    case EventMouseEnter:
        if (GifPlayer* player = FindPlayer(GetName())) {
            if (m_manager && m_filterManager != m_manager) {
                if (m_filterManager) m_filterManager->RemoveMessageFilter(this);
                m_manager->AddMessageFilter(this);
                m_filterManager = m_manager;
            }
            SetFrameWindow(m_manager ? m_manager->GetPaintWindow() : nullptr);
            player->Play();
        }
        m_hovering = true;
        return;
    case EventMouseLeave:
        StopGif(GetName());
        Invalidate();
        m_hovering = false;
        return;
    case EventSetFocus:
        m_focused = true;
        return;
    case EventKillFocus:
        m_focused = false;
        return;
    default:
        CControlUI::HandleEvent(event);
    }
}

void CGifAnimationExUI::PaintBackgroundImage(HDC hdc) {
    if (m_bkImage.IsEmpty()) return;
    if (!DrawGifImage(hdc, m_paintRect, m_manager, m_item, m_bkImage) && !m_hovering) m_bkImage.Empty();
}

LRESULT CGifAnimationExUI::FilterMessage(UINT message, WPARAM wParam, LPARAM, bool& handled) {
    if (message != kGifFrameMessage || wParam != GetGifSerial()) return 0;
    handled = true;
    OnGifFrame();
    return 0;
}

void CGifAnimationExUI::OnGifFrame() { Invalidate(); }

}  // namespace Veneer
