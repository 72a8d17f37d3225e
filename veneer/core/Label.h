#pragma once
// A control that shows one text, plain or marked up, and can size its width
// to the text.
#include "Control.h"

namespace Veneer {

class CLabelUI : public CControlUI {
public:
    CLabelUI();
    ~CLabelUI() override;

    static CControlUI* CreateLabelUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    UINT GetBehaviorFlags() const override;
    void SetText(const wchar_t* text) override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    SIZE MeasureSize(SIZE available) override;
    void PaintText(HDC hdc) override;

    virtual bool IsAutoCalcWidth() const;
    virtual void SetAutoCalcWidth(bool on);

    void SetTextPadding(int left, int top, int right, int bottom);
    RECT GetTextPadding() const;
    UINT GetTextStyle() const { return m_textStyle; }
    DWORD GetTextColor() const { return m_textColor; }
    DWORD GetDisabledTextColor() const { return m_disabledTextColor; }
    int GetFont() const { return m_font; }
    bool IsShowHtml() const { return m_showHtml; }

protected:
    DWORD m_textColor = 0;
    DWORD m_disabledTextColor = 0;
    int m_font = -1;
    UINT m_textStyle = DT_VCENTER | DT_SINGLELINE;
    RECT m_textPadding = {};
    bool m_showHtml = false;
    bool m_autoCalcWidth = false;
};

}  // namespace Veneer
