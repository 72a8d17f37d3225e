#pragma once
// The column header of a list: a row of columns, laid out by their widths or
// as percentages of the list's width, each with a caption, state pictures,
// "headerclick" and a separator the user drags to resize the column.
#include "StackLayout.h"

namespace Veneer {

// What a list header's column and an editable list's header item share: the
// caption's look, the state pictures, the separator and the drag on it that
// resizes the column. The state bits are the button's.
struct HeaderItemLook {
    enum { Focused = 0x01, Hot = 0x08, Pushed = 0x10, Dragging = 0x40 };

    UINT state = 0;
    bool draggable = true;
    int sepWidth = 4;
    DWORD textColor = 0;
    int font = -1;
    UINT textStyle = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
    bool showHtml = false;
    RECT textPadding = {2, 0, 2, 0};
    CUIString normalImage;
    CUIString hotImage;
    CUIString pushedImage;
    CUIString focusedImage;
    CUIString sepImage;
    CUIString sepModifier;
    POINT lastDrag = {};
    int dragWidth = 0;   // the width the drag has reached, in pixels

    // True when the name is one of the look's.
    bool SetAttribute(CControlUI& owner, const wchar_t* name, const wchar_t* value);
    RECT SeparatorRect(const CControlUI& owner) const;
    RECT GripRect(const CControlUI& owner) const;
    // A press (outside the grip, sent as clickName), release, move and
    // set-cursor; true when the event is done with. A drag moves the right
    // edge when growsRight, else the left, and leaves the width in fixedSize.
    bool HandleEvent(CControlUI& owner, ControlEvent& event, const wchar_t* clickName, bool growsRight,
                     SIZE& fixedSize);
    void PaintStateImage(CControlUI& owner, HDC hdc);
    void PaintText(CControlUI& owner, HDC hdc, int leftInset, UINT extraStyle);
};

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
    int GetSeparatorWidth() const { return m_look.sepWidth; }
    bool IsDraggable() const { return m_look.draggable; }
    UINT GetButtonState() const { return m_look.state; }

private:
    HeaderItemLook m_look;
    int m_scale = 0;
};

}  // namespace Veneer
