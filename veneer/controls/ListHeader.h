#pragma once
// The column header of a list: a row of columns, laid out by their widths or
// as percentages of the list's width, each with a caption, state pictures,
// "headerclick" and a separator the user drags to resize the column.
#include "StackLayout.h"

namespace Veneer {

class CListHeaderUI : public CHorizontalLayoutUI {
public:
    static CControlUI* CreateListHeaderUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void SetPos(RECT rect, bool invalidate = true) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    SIZE MeasureSize(SIZE available) override;

    bool IsScaleHeader() const { return m_scaleHeader; }
    void SetScaleHeader(bool on) { m_scaleHeader = on; }

private:
    // A column's width before clamping: its share of total in scale mode,
    // else its measure.
    int ColumnWidth(CControlUI* column, SIZE available, int total) const;

    bool m_scaleHeader = false;
};

class CListHeaderItemUI : public CContainerUI {
public:
    enum { StateFocused = 0x01, StateHot = 0x08, StatePushed = 0x10, StateDragging = 0x40 };

    CListHeaderItemUI();
    ~CListHeaderItemUI() override;

    static CControlUI* CreateListHeaderItemUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    UINT GetBehaviorFlags() const override;
    void SetEnabled(bool enabled = true) override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    SIZE MeasureSize(SIZE available) override;
    void PaintStateImage(HDC hdc) override;
    void PaintText(HDC hdc) override;

    RECT GetSeparatorRect() const;
    int GetScale() const { return m_scale; }
    int GetSeparatorWidth() const { return m_sepWidth; }
    bool IsDraggable() const { return m_draggable; }
    UINT GetButtonState() const { return m_state; }

private:
    RECT GripRect() const;
    void RelayoutList();

    POINT m_lastDrag = {};
    int m_dragWidth = 0;   // the width the drag has reached, in pixels
    bool m_draggable = true;
    UINT m_state = 0;
    int m_sepWidth = 4;
    DWORD m_textColor = 0;
    int m_font = -1;
    UINT m_textStyle = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
    bool m_showHtml = false;
    RECT m_textPadding = {2, 0, 2, 0};
    CUIString m_normalImage;
    CUIString m_hotImage;
    CUIString m_pushedImage;
    CUIString m_focusedImage;
    CUIString m_sepImage;
    CUIString m_sepModifier;
    int m_scale = 0;
};

}  // namespace Veneer
