#pragma once
// A label whose background image may be an animated GIF, played while the
// mouse is over the control.
#include "GifAnimationBase.h"
#include "Label.h"
#include "PaintManager.h"

namespace Veneer {

class CGifAnimationExUI : public CLabelUI, public CGifAnimationUIBase, public IMessageFilterUI {
public:
    CGifAnimationExUI();
    ~CGifAnimationExUI() override;

    static CControlUI* CreateGifAnimationExUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    UINT GetBehaviorFlags() const override;
    void HandleEvent(ControlEvent& event) override;
    void PaintBackgroundImage(HDC hdc) override;

    LRESULT FilterMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

protected:
    // UI thread: the playing GIF moved on.
    virtual void OnGifFrame();

private:
    CPaintManagerUI* m_filterManager = nullptr;
    bool m_hovering = false;
};

}  // namespace Veneer
