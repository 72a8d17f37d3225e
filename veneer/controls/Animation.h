#pragma once
// Frame-counting animations on paint-manager control timers, and the
// controls that use them: the sliding tab layout and container and the
// cross-fading button.
#include "Button.h"
#include "Container.h"
#include "TabTileLayout.h"

namespace Veneer {

struct AnimationData {
    int id;
    int elapse;
    int totalFrames;
    int currentFrame;
    bool loop;
    bool firstTick;
};

class IAnimationUI {
public:
    virtual bool StartAnimation(int elapse, int totalFrames, int id, bool loop) = 0;
    virtual void StopAnimation(int id) = 0;
    virtual bool IsAnimationRunning(int id) = 0;
    virtual int GetCurrentFrame(int id) = 0;
    virtual bool SetCurrentFrame(int frame, int id) = 0;
    virtual void OnAnimationStep(int totalFrames, int currentFrame, int id) = 0;
    virtual void OnAnimationStart(int id, bool firstTick) = 0;
    virtual void OnAnimationStop(int id) = 0;
    virtual void OnAnimationElapse(int id) = 0;

protected:
    ~IAnimationUI() = default;
};

// The mix-in: the control it is part of is the owner of its timers.
class CAnimationUI : public IAnimationUI {
public:
    explicit CAnimationUI(CControlUI* owner) : m_owner(owner) {}
    virtual ~CAnimationUI();
    CAnimationUI(const CAnimationUI&) = delete;
    CAnimationUI& operator=(const CAnimationUI&) = delete;

    bool StartAnimation(int elapse, int totalFrames, int id, bool loop) override;
    void StopAnimation(int id) override;
    bool IsAnimationRunning(int id) override;
    int GetCurrentFrame(int id) override;
    bool SetCurrentFrame(int frame, int id) override;
    void OnAnimationStep(int, int, int) override {}
    void OnAnimationStart(int, bool) override {}
    void OnAnimationStop(int) override {}
    void OnAnimationElapse(int id) override;

protected:
    AnimationData* FindAnimation(int id) const;
    void FreeAnimation(AnimationData* data);

    CControlUI* m_owner;
    CPointerArray m_animations;
};

// A whole-page slide of a container into its place; shared by the two
// sliding controls.
struct SlideState {
    bool vertical = false;
    int direction = 1;
    int customDirection = 0;
    RECT current = {};
    RECT target = {};
    CControlUI* page = nullptr;
    bool pageShown = false;

    // Direction from the old to the new index, then the page to show.
    void Select(int index, int old, CControlUI* child);
    void Start(CControlUI* control, CAnimationUI* animation);
    void Step(CControlUI* control, int total, int current);
    void Stop(CControlUI* control);
    // A child leaving the container is no longer the page to show.
    void Forget(CControlUI* child) {
        if (child == page || !child) page = nullptr;
    }
    bool SetAttribute(const wchar_t* name, const wchar_t* value, const wchar_t* directionName);
};

class CAnimationTabLayoutUI : public CTabLayoutUI, public CAnimationUI {
public:
    CAnimationTabLayoutUI() : CAnimationUI(this) {}
    ~CAnimationTabLayoutUI() override;

    static CControlUI* CreateAnimationTabLayoutUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    bool SelectItem(int index) override;
    bool RemoveItem(CControlUI* control) override;
    void RemoveAllItems() override;

    void OnAnimationStep(int totalFrames, int currentFrame, int id) override;
    void OnAnimationStop(int id) override;

    void AnimationSwitch();
    const SlideState& Slide() const { return m_slide; }

private:
    SlideState m_slide;
};

class CAnimationContainerUI : public CContainerUI, public CAnimationUI {
public:
    CAnimationContainerUI() : CAnimationUI(this) {}
    ~CAnimationContainerUI() override;

    static CControlUI* CreateAnimationContainerUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    bool RemoveItem(CControlUI* control) override;
    void RemoveAllItems() override;
    virtual bool SelectItem(int index);

    void OnAnimationStep(int totalFrames, int currentFrame, int id) override;
    void OnAnimationStop(int id) override;

    void AnimationSwitch();
    int GetCurSel() const { return m_selected; }
    const SlideState& Slide() const { return m_slide; }

private:
    SlideState m_slide;
    int m_selected = -1;
};

class CFadeButtonUI : public CButtonUI, public CAnimationUI {
public:
    enum { kFadeInId = 8, kFadeOutId = 9 };

    CFadeButtonUI() : CAnimationUI(this) {}
    ~CFadeButtonUI() override;

    static CControlUI* CreateFadeButtonUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void SetVisible(bool show = true) override;
    void HandleEvent(ControlEvent& event) override;
    void PaintStateImage(HDC hdc) override;

    void OnAnimationStep(int totalFrames, int currentFrame, int id) override;

    // The image string drawn at the alpha: a fade already in the string is
    // replaced.
    static CUIString MakeFadeImage(const wchar_t* image, int alpha);
    BYTE GetFadeValue() const { return m_fade; }

private:
    BYTE m_fade = 0;
    bool m_entering = false;
    bool m_leaving = false;
    CUIString m_fadeOutImage;
    CUIString m_fadeInImage;
    CUIString m_restingImage;
};

}  // namespace Veneer
