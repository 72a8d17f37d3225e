#pragma once
// The progress bar (a value between a minimum and a maximum shown as a filled
// part of the area) and the slider (a progress bar with a draggable thumb).
#include "Button.h"
#include "Label.h"

namespace Veneer {

class CProgressUI : public CLabelUI {
public:
    CProgressUI();
    ~CProgressUI() override;

    static CControlUI* CreateProgressUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void PaintForegroundColor(HDC hdc) override;
    void PaintForegroundImage(HDC hdc) override;

    virtual void UpdateValueText();

    bool IsHorizontal() const { return m_horizontal; }
    void SetHorizontal(bool on);
    bool IsStretchForeground() const { return m_stretchFore; }
    void SetStretchForeground(bool on);
    int GetMinValue() const { return m_min; }
    void SetMinValue(int value);
    int GetMaxValue() const { return m_max; }
    void SetMaxValue(int value);
    int GetValue() const { return m_value; }
    virtual void SetValue(int value);
    void SetShowValueText(bool on) { m_showText = on; }

protected:
    // Makes the range sound and stores it: a maximum not above the minimum
    // becomes minimum + 1 (kept at the minimum when that would overflow), the
    // value is clamped. Returns maximum - minimum, at least 1.
    long long MakeRangeSound();
    // The filled part of the item: horizontally its width, vertically the
    // offset of its top from the item top.
    long long FilledPart(long long extent, long long range) const;
    // The filled part relative to the item's top-left.
    RECT FilledRect();

    bool m_showText = false;
    bool m_horizontal = true;
    bool m_stretchFore = true;
    int m_max = 100;
    int m_min = 0;
    int m_value = 0;
    CUIString m_foreModifier;
};

class CSliderUI : public CProgressUI {
public:
    CSliderUI();
    ~CSliderUI() override;

    static CControlUI* CreateSliderUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void SetEnabled(bool enabled = true) override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void PaintForegroundImage(HDC hdc) override;
    void SetValue(int value) override;

    RECT GetThumbRect();
    // The value that a point of the track stands for.
    int ValueAtPoint(POINT point);
    void SetThumbImage(const wchar_t* image);
    void SetThumbHotImage(const wchar_t* image);
    void SetThumbPushedImage(const wchar_t* image);
    SIZE GetThumbSize() const { return SIZE{m_thumbWidth, m_thumbHeight}; }
    int GetStep() const { return m_step; }
    UINT GetSliderState() const { return m_state; }
    bool IsSendMove() const { return m_sendMove; }

private:
    void StoreValueAt(POINT point);

    int m_thumbWidth = 10;
    int m_thumbHeight = 10;
    UINT m_state = 0;
    int m_step = 1;
    CUIString m_thumbImage;
    CUIString m_thumbHotImage;
    CUIString m_thumbPushedImage;
    CUIString m_thumbModifier;
    bool m_sendMove = false;
};

}  // namespace Veneer
