// The button that cross-fades between its normal and hot pictures when the
// mouse comes and goes.
#include <new>

#include "Animation.h"
#include "PaintManager.h"

namespace Veneer {

CFadeButtonUI::~CFadeButtonUI() { StopAnimation(0); }

CControlUI* CFadeButtonUI::CreateFadeButtonUI() { return new (std::nothrow) CFadeButtonUI; }

const wchar_t* CFadeButtonUI::GetClassTag() const { return L"FadeButton"; }

void* CFadeButtonUI::FindInterface(const wchar_t* tag) {
    if (tag && CompareTextNoCase(tag, L"FadeButton") == 0) return static_cast<CButtonUI*>(this);
    return CButtonUI::FindInterface(tag);
}

void CFadeButtonUI::SetVisible(bool show) {
    if (IsVisible() != show) {
        m_entering = m_leaving = false;
        m_restingImage = m_normalImage;
    }
    CButtonUI::SetVisible(show);
}

void CFadeButtonUI::HandleEvent(ControlEvent& event) {
    if (event.type == EventMouseEnter && !IsAnimationRunning(kFadeInId)) {
        m_fade = 0;
        m_entering = true;
        StopAnimation(kFadeOutId);
        StartAnimation(10, 20, kFadeInId, false);
        Invalidate();
        return;
    }
    if (event.type == EventMouseLeave && !IsAnimationRunning(kFadeOutId)) {
        m_fade = 0;
        StopAnimation(kFadeInId);
        if (!m_manager || GetActiveWindow() != m_manager->GetPaintWindow()) {
            m_leaving = false;
            m_restingImage = m_normalImage;
            m_state &= ~ButtonHot;
            Invalidate();
        } else {
            m_leaving = true;
            StartAnimation(10, 20, kFadeOutId, false);
            Invalidate();
        }
        return;
    }
    if (event.type == EventTimer) OnAnimationElapse(static_cast<int>(event.wParam));
    CButtonUI::HandleEvent(event);
}

void CFadeButtonUI::OnAnimationStep(int totalFrames, int currentFrame, int) {
    m_fade = static_cast<BYTE>(currentFrame * 255 / totalFrames);
    if (m_fade == 0) m_fade = 10;
    Invalidate();
}

CUIString CFadeButtonUI::MakeFadeImage(const wchar_t* image, int alpha) {
    CUIString out = image ? image : L"";
    if (out.Find(L"file='") < 0) out = CUIString(L"file='") + out + L"' ";
    // An earlier fade would be read last and win over nothing: take it out.
    const int at = out.Find(L"fade='");
    if (at >= 0) {
        const int close = out.FindChar(L'\'', at + 6);
        out = out.Left(at) + (close >= 0 ? out.Mid(close + 1) : CUIString());
    }
    CUIString fade;
    fade.Format(L" fade='%d' ", alpha);
    out += fade;
    return out;
}

void CFadeButtonUI::PaintStateImage(HDC hdc) {
    RefreshFocusAndDisabled(false);
    const CUIString* chosen = nullptr;
    if (m_state & ButtonDisabled) chosen = &m_disabledImage;
    else if (m_state & ButtonPushed) chosen = &m_pushedImage;
    else if (m_state & ButtonFocused) chosen = &m_focusedImage;
    if (chosen && !chosen->IsEmpty() && DrawImage(hdc, *chosen)) return;
    if (m_normalImage.IsEmpty()) return;

    if (m_entering) {
        m_entering = false;
        m_restingImage = m_hotImage;
        DrawImage(hdc, m_normalImage);
        return;
    }
    if (m_leaving) {
        m_leaving = false;
        m_restingImage = m_normalImage;
        DrawImage(hdc, m_hotImage);
        return;
    }
    const bool fadingIn = IsAnimationRunning(kFadeInId);
    const bool fadingOut = IsAnimationRunning(kFadeOutId);
    if (fadingIn || fadingOut) {
        m_fadeOutImage = fadingOut ? m_hotImage : m_normalImage;
        m_fadeInImage = fadingOut ? m_normalImage : m_hotImage;
        const CUIString out = MakeFadeImage(m_fadeOutImage, 255 - m_fade);
        const CUIString in = MakeFadeImage(m_fadeInImage, m_fade);
        DrawImage(hdc, out);
        DrawImage(hdc, in);
        return;
    }
    if (m_restingImage.IsEmpty()) m_restingImage = m_normalImage;
    DrawImage(hdc, m_restingImage);
}

}  // namespace Veneer
