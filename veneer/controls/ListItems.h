#pragma once
// The ready-made list items: the abstract element, one line of text, one
// text per header column with links, and a row of arbitrary controls.
#include "List.h"

namespace Veneer {

// What every item keeps for its owner, and the behaviour all item classes
// share (selection from the item side, the row repaint, the background).
struct ListItemState {
    int index = -1;
    bool selected = false;
    UINT state = 0;   // 0x08: the mouse is over the item
    IListOwnerUI* owner = nullptr;

    enum { Hot = 0x08 };

    bool Select(CControlUI& self, bool on);
    bool MultiSelect(CControlUI& self, bool on);
    // A Ctrl click: toggles the item in its owner's selection.
    void ToggleByCtrl(CControlUI& self, IListItemUI& item);
    void SetOwner(CControlUI* ownerControl);
    // Hiding a selected item clears its owner's selection.
    void AfterVisibilityChange(CControlUI& self);
    static void RepaintRow(CControlUI& self);
    void PaintBackground(CControlUI& self, HDC hdc) const;
    // Item events common to the label and container elements; true when
    // the event is finished.
    bool HandleCommon(CControlUI& self, IListItemUI& item, ControlEvent& event);
};

class CListElementUI : public CControlUI, public IListItemUI {
public:
    void* FindInterface(const wchar_t* tag) override;
    UINT GetBehaviorFlags() const override;
    bool Activate() override;
    void SetVisible(bool show = true) override;
    void SetEnabled(bool enabled = true) override;

    int GetItemIndex() override;
    void SetItemIndex(int index) override;
    IListOwnerUI* GetItemOwner() override;
    void SetItemOwner(CControlUI* owner) override;
    bool IsItemSelected() override;
    bool SetSelected(bool on) override;
    bool SetMultiSelected(bool on) override;
    bool IsItemExpanded() override;
    bool SetExpanded(bool on) override;

    void PaintItemBackground(HDC hdc);
    bool IsHot() const { return (m_itemState.state & ListItemState::Hot) != 0; }

protected:
    CListElementUI() = default;
    ListItemState m_itemState;
};

class CListLabelElementUI : public CListElementUI {
public:
    static CControlUI* CreateListLabelElementUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    SIZE MeasureSize(SIZE available) override;
    void Paint(HDC hdc, const RECT& paint) override;
    void PaintItemText(HDC hdc, const RECT& rect) override;
};

class CListTextElementUI : public CListLabelElementUI {
public:
    enum { kMaxLinks = 8 };

    CListTextElementUI();
    ~CListTextElementUI() override;

    static CControlUI* CreateListTextElementUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    UINT GetBehaviorFlags() const override;
    void HandleEvent(ControlEvent& event) override;
    SIZE MeasureSize(SIZE available) override;
    void SetItemOwner(CControlUI* owner) override;
    void PaintItemText(HDC hdc, const RECT& rect) override;

    // The column's own text; null for none.
    const wchar_t* GetColumnText(int column);
    void SetColumnText(int column, const wchar_t* text);
    int GetLinkCount() const { return m_linkCount; }
    const RECT& GetLinkRect(int index) const { return m_links[index]; }

protected:
    int LinkAt(POINT point) const;
    // Pixels kept free at the left of a column's text (a check box's room).
    virtual int ColumnTextInset(int) { return 0; }

    int m_linkCount = 0;
    RECT m_links[kMaxLinks] = {};
    CUIString m_linkTexts[kMaxLinks];
    int m_hoverLink = -1;
    IListUI* m_list = nullptr;
    CPointerArray m_columnTexts;
    CUIString m_catalogText;
};

class CListContainerElementUI : public CHorizontalLayoutUI, public IListItemUI {
public:
    static CControlUI* CreateListContainerElementUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    UINT GetBehaviorFlags() const override;
    bool Activate() override;
    void SetPos(RECT rect, bool invalidate = true) override;
    void SetVisible(bool show = true) override;
    void SetEnabled(bool enabled = true) override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    SIZE MeasureSize(SIZE available) override;
    // The item background follows the element's own paint steps, before
    // its children.
    void PaintBorder(HDC hdc) override;

    int GetItemIndex() override;
    void SetItemIndex(int index) override;
    IListOwnerUI* GetItemOwner() override;
    void SetItemOwner(CControlUI* owner) override;
    bool IsItemSelected() override;
    bool SetSelected(bool on) override;
    bool SetMultiSelected(bool on) override;
    bool IsItemExpanded() override;
    bool SetExpanded(bool on) override;
    void PaintItemText(HDC hdc, const RECT& rect) override;

    bool IsHot() const { return (m_itemState.state & ListItemState::Hot) != 0; }

protected:
    ListItemState m_itemState;
};

}  // namespace Veneer
