#pragma once
// An animated GIF decoded by GDI+ and stepped by a control timer.
#include "Control.h"

namespace Gdiplus { class Image; }

namespace Veneer {

class CGifAnimationUI : public CControlUI {
public:
    static const UINT kTimerId = 100;

    CGifAnimationUI();
    ~CGifAnimationUI() override;

    static CControlUI* CreateGifAnimationUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void SetVisible(bool show = true) override;
    void OnInitialize() override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void Paint(HDC hdc, const RECT& paint) override;

    void InitGifImage();
    void PlayGif();
    void SetBkImage(const wchar_t* name);
    const CUIString& GetBkImage() const { return m_bkImageName; }
    void SetAutoPlay(bool on) { m_autoPlay = on; }
    void SetAutoSize(bool on) { m_autoSize = on; }
    bool IsPlaying() const { return m_playing; }
    UINT GetFrameCount() const { return m_frameCount; }
    UINT GetCurrentFrame() const { return m_current; }
    // The timer period after the frame at `index`, in milliseconds.
    UINT GetFramePeriod(UINT index) const;

private:
    void OnTimer();
    void DrawFrame(HDC hdc);
    void StopPlaying();
    void DeleteGif();

    Gdiplus::Image* m_image = nullptr;
    UINT m_frameCount = 0;
    UINT m_current = 0;
    // Hundredths of a second per frame, one for each frame (0 where the file
    // gives none).
    UINT* m_delays = nullptr;
    CUIString m_bkImageName;
    bool m_autoPlay = true;
    bool m_autoSize = false;
    bool m_playing = false;
};

}  // namespace Veneer
