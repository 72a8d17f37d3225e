#pragma once
// The list: an optional column header over a scrolling body of items, with
// single or multiple selection, the expanded item and the item appearance
// settings every item of the list reads; and the interfaces that lists,
// combo boxes, menus and tree views share with their items.
#include "StackLayout.h"

namespace Veneer {

class CListHeaderUI;
class CListBodyUI;
class CScrollBarUI;

enum { kMaxListColumns = 32 };

// Item appearance settings of one owner, read by all of its items.
struct ListItemStyle {
    int columns = 0;
    RECT columnRects[kMaxListColumns] = {};
    int font = -1;
    UINT textStyle = DT_VCENTER | DT_SINGLELINE;
    RECT textPadding = {};
    DWORD textColor = 0xFF000000;
    DWORD bkColor = 0;
    CUIString bkImage;
    bool alternateBk = false;
    DWORD selectedTextColor = 0xFF000000;
    DWORD selectedBkColor = 0xFFC1E3FF;
    CUIString selectedImage;
    DWORD hotTextColor = 0xFF000000;
    DWORD hotBkColor = 0xFFE9F5FF;
    CUIString hotImage;
    DWORD disabledTextColor = 0xFFCCCCCC;
    DWORD disabledBkColor = 0xFFFFFFFF;
    CUIString disabledImage;
    DWORD lineColor = 0;
    bool showRowLine = false;
    bool showColumnLine = false;
    bool showHtml = false;
    bool multiExpanding = false;
    bool rightSelects = false;
};

// Anything that owns list items.
class IListOwnerUI {
public:
    virtual int GetOwnerKind() = 0;   // 0 list, 1 combo box, 2 tree view, 3 menu
    virtual ListItemStyle* GetItemStyle() = 0;
    virtual int GetSelectedIndex() = 0;
    virtual bool SelectIndex(int index, bool takeFocus = false) = 0;
    virtual bool AddToSelection(int index, bool takeFocus = false) = 0;
    virtual bool DeselectIndex(int index, bool allOthers) = 0;
    virtual void HandleItemEvent(ControlEvent& event) = 0;

protected:
    ~IListOwnerUI() = default;
};

// The texts of a multi-column list's cells, from the application.
class IListTextProvider {
public:
    // Null means an empty cell.
    virtual const wchar_t* GetCellText(CControlUI* item, int index, int column) = 0;

protected:
    ~IListTextProvider() = default;
};

class IListUI : public IListOwnerUI {
public:
    virtual CListHeaderUI* GetListHeader() = 0;
    virtual CListBodyUI* GetListBody() = 0;
    virtual IListTextProvider* GetTextProvider() = 0;
    virtual void SetTextProvider(IListTextProvider* provider) = 0;
    virtual bool SetItemExpanded(int index, bool expand) = 0;
    virtual int GetExpandedIndex() = 0;
    virtual void EnableMultiSelect(bool on) = 0;
    virtual bool IsMultiSelectEnabled() = 0;
    virtual void SelectAllIndices() = 0;
    virtual void ClearSelection() = 0;
    virtual int GetSelectionCount() = 0;
    virtual int GetNextSelectedIndex(int after) = 0;

protected:
    ~IListUI() = default;
};

// The item side.
class IListItemUI {
public:
    virtual int GetItemIndex() = 0;
    virtual void SetItemIndex(int index) = 0;
    virtual IListOwnerUI* GetItemOwner() = 0;
    virtual void SetItemOwner(CControlUI* owner) = 0;
    virtual bool IsItemSelected() = 0;
    virtual bool SetSelected(bool on) = 0;
    virtual bool SetMultiSelected(bool on) = 0;
    virtual bool IsItemExpanded() = 0;
    virtual bool SetExpanded(bool on) = 0;
    virtual void PaintItemText(HDC hdc, const RECT& rect) = 0;

protected:
    ~IListItemUI() = default;
};

class CListUI : public CVerticalLayoutUI, public IListUI {
public:
    CListUI();
    ~CListUI() override;

    static CControlUI* CreateListUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    UINT GetBehaviorFlags() const override;
    void SetPos(RECT rect, bool invalidate = true) override;
    void MoveBy(int dx, int dy, bool invalidate = true) override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;

    // Passed to the body.
    int GetChildPadding() const override;
    void SetChildPadding(int gap) override;
    bool IsDelayedDestroy() const override;
    void SetDelayedDestroy(bool on) override;
    SIZE GetScrollPos() const override;
    SIZE GetScrollRange() const override;
    void SetScrollPos(SIZE position, bool notify = true) override;
    void ScrollLineUp() override;
    void ScrollLineDown() override;
    void ScrollPageUp() override;
    void ScrollPageDown() override;
    void ScrollToTop() override;
    void ScrollToBottom() override;
    void ScrollLineLeft() override;
    void ScrollLineRight() override;
    void ScrollPageLeft() override;
    void ScrollPageRight() override;
    void ScrollToLeftEnd() override;
    void ScrollToRightEnd() override;
    void EnableScrollBar(bool vertical, bool horizontal) override;
    CScrollBarUI* GetVerticalScrollBar() const override;
    CScrollBarUI* GetHorizontalScrollBar() const override;

    // IContainerUI: items live in the body, the header and other controls
    // among the list's own children.
    CControlUI* GetItemAt(int index) const override;
    int IndexOfItem(CControlUI* control) const override;
    bool MoveItemTo(CControlUI* control, int index) override;
    int GetItemCount() const override;
    bool AddItem(CControlUI* control) override;
    bool InsertItemAt(CControlUI* control, int index) override;
    bool RemoveItem(CControlUI* control) override;
    bool RemoveItemAt(int index) override;
    void RemoveAllItems() override;

    // Hooks of the editable list.
    virtual bool IsColumnEditable(int column);
    virtual CControlUI* GetCellEditor();
    virtual bool IsColumnComboable(int column);
    virtual CControlUI* GetCellComboBox();

    // IListOwnerUI
    int GetOwnerKind() override;
    ListItemStyle* GetItemStyle() override;
    int GetSelectedIndex() override;
    bool SelectIndex(int index, bool takeFocus = false) override;
    bool AddToSelection(int index, bool takeFocus = false) override;
    bool DeselectIndex(int index, bool allOthers) override;
    void HandleItemEvent(ControlEvent& event) override;

    // IListUI
    CListHeaderUI* GetListHeader() override;
    CListBodyUI* GetListBody() override;
    IListTextProvider* GetTextProvider() override;
    void SetTextProvider(IListTextProvider* provider) override;
    bool SetItemExpanded(int index, bool expand) override;
    int GetExpandedIndex() override;
    void EnableMultiSelect(bool on) override;
    bool IsMultiSelectEnabled() override;
    void SelectAllIndices() override;
    void ClearSelection() override;
    int GetSelectionCount() override;
    int GetNextSelectedIndex(int after) override;

    int GetMinSelectedIndex() const;
    int GetMaxSelectedIndex() const;
    int GetCurrentIndex() const { return m_currentIndex; }
    void EnsureIndexVisible(int index);
    void ScrollBodyBy(int dy);
    bool IsFixedScrollBar() const { return m_fixedScrollBar; }
    bool IsScrollSelect() const { return m_scrollSelect; }
    // The list's own step size (the body scrolls by it).
    int GetOwnScrollStepSize() const { return CContainerUI::GetScrollStepSize(); }

private:
    static bool IsHeader(CControlUI* control);
    static bool IsHeaderItem(CControlUI* control);
    void UpdateColumnCount();
    void RenumberFrom(int index);
    void ForgetRemovedIndex(int index);
    bool AddHeader(CControlUI* control);
    int SelectionAt(int i) const { return static_cast<int>(reinterpret_cast<INT_PTR>(m_selection.GetAt(i))); }
    bool InSelection(int index) const;
    void AppendSelection(int index);
    void RemoveSelectionEntry(int index);

    bool m_fixedScrollBar = false;
    bool m_scrollSelect = false;
    int m_currentIndex = -1;
    bool m_multiSelect = false;
    CPointerArray m_selection;
    int m_expandedIndex = -1;
    IListTextProvider* m_textProvider = nullptr;
    CListBodyUI* m_body = nullptr;
    CListHeaderUI* m_header = nullptr;
    ListItemStyle m_style;
};

class CListBodyUI : public CVerticalLayoutUI {
public:
    explicit CListBodyUI(CListUI* owner) : m_owner(owner) {}

    void SetPos(RECT rect, bool invalidate = true) override;
    void HandleEvent(ControlEvent& event) override;
    void SetScrollPos(SIZE position, bool notify = true) override;
    int GetScrollStepSize() const override;

private:
    CListUI* m_owner;
};

}  // namespace Veneer
