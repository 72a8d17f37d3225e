#pragma once
// The group box: a vertical layout framed by a line with its caption set
// into the top edge.
#include "StackLayout.h"

namespace Veneer {

class CGroupBoxUI : public CVerticalLayoutUI {
public:
    CGroupBoxUI();
    ~CGroupBoxUI() override;

    static CControlUI* CreateGroupBoxUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void PaintText(HDC hdc) override;
    void PaintBorder(HDC hdc) override;

    // The caption's size in the caption font.
    SIZE MeasureCaption();

private:
    RECT FrameRect() const;

    DWORD m_textColor = 0;
    DWORD m_disabledTextColor = 0;
    int m_font = -1;
    UINT m_textStyle = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
};

}  // namespace Veneer
