#pragma once
// A skinned scroll bar: background, two arrow buttons, a thumb and its rail
// grip, each with normal, hot, pushed and disabled images; moves by lines
// and pages with auto-repeat while a button is held.
#include "Control.h"

namespace Veneer {

class CContainerUI;

class CScrollBarUI : public CControlUI {
public:
    enum StateBits { StateDisabled = 4, StateHot = 8, StatePushed = 0x10, StateCaptured = 0x40 };
    enum { kRepeatTimerId = 10, kRepeatPeriod = 50, kRepeatDelayTicks = 6 };

    CScrollBarUI();
    ~CScrollBarUI() override;

    static CControlUI* CreateScrollBarUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void SetPos(RECT rect, bool invalidate = true) override;
    void SetVisible(bool show = true) override;
    void SetEnabled(bool enabled = true) override;
    void TakeFocus() override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void Paint(HDC hdc, const RECT& paint) override;

    bool IsHorizontal() const { return m_horizontal; }
    void SetHorizontal(bool horizontal = true);
    int GetScrollRange() const { return m_range; }
    void SetScrollRange(int range);
    int GetScrollPos() const { return m_position; }
    void SetScrollPos(int position);
    int GetLineSize() const { return m_lineSize; }
    void SetLineSize(int size) { m_lineSize = size; }
    void SetShowButton1(bool show);
    void SetShowButton2(bool show);
    CControlUI* GetOwner() const { return m_owner; }
    void SetOwner(CControlUI* owner) { m_owner = owner; }

    const RECT& GetButton1Rect() const { return m_button1; }
    const RECT& GetButton2Rect() const { return m_button2; }
    const RECT& GetThumbRect() const { return m_thumb; }
    UINT GetButton1State() const { return m_button1State; }
    UINT GetButton2State() const { return m_button2State; }
    UINT GetThumbState() const { return m_thumbState; }

protected:
    void PaintBackground(HDC hdc);
    void PaintButton1(HDC hdc);
    void PaintButton2(HDC hdc);
    void PaintThumb(HDC hdc);
    void PaintRail(HDC hdc);

private:
    int Thickness() const;
    // The container that owns the bar, when it is one.
    CContainerUI* OwnerContainer() const;
    void Relayout();
    void LineUp();
    void LineDown();
    void PageUp();
    void PageDown();
    // A page step toward the point, as a click on the rail does.
    void StepTowards(POINT point);
    void Notify();
    void PassOn(ControlEvent& event);
    bool PaintPart(HDC hdc, const RECT& part, UINT state, const CUIString& normal, const CUIString& hot,
                   const CUIString& pushed, const CUIString& disabled);
    CUIString DestModifier(const RECT& part) const;

    bool m_horizontal = false;
    int m_range = 100;
    int m_position = 0;
    int m_lineSize = 8;
    CControlUI* m_owner = nullptr;
    POINT m_dragStart = {};
    int m_dragStartPos = 0;
    int m_dragOffset = 0;
    int m_repeat = 0;
    CUIString m_bkNormal, m_bkHot, m_bkPushed, m_bkDisabled;
    bool m_showButton1 = true;
    RECT m_button1 = {};
    UINT m_button1State = 0;
    CUIString m_button1Normal, m_button1Hot, m_button1Pushed, m_button1Disabled;
    bool m_showButton2 = true;
    RECT m_button2 = {};
    UINT m_button2State = 0;
    CUIString m_button2Normal, m_button2Hot, m_button2Pushed, m_button2Disabled;
    RECT m_thumb = {};
    UINT m_thumbState = 0;
    CUIString m_thumbNormal, m_thumbHot, m_thumbPushed, m_thumbDisabled;
    CUIString m_railNormal, m_railHot, m_railPushed, m_railDisabled;
    CUIString m_modifier;
};

}  // namespace Veneer
