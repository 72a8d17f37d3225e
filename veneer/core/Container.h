#pragma once
// Controls that hold child controls: the child list interface and the base
// container, which owns its children, passes visibility down, stacks them
// over its content area, scrolls them with its own scroll bars and paints
// them clipped to the content.
#include "Control.h"
#include "UIValueTypes.h"

namespace Veneer {

class CScrollBarUI;

class IContainerUI {
public:
    virtual CControlUI* GetItemAt(int index) const = 0;
    virtual int IndexOfItem(CControlUI* control) const = 0;
    virtual bool MoveItemTo(CControlUI* control, int index) = 0;
    virtual int GetItemCount() const = 0;
    virtual bool AddItem(CControlUI* control) = 0;
    virtual bool InsertItemAt(CControlUI* control, int index) = 0;
    virtual bool RemoveItem(CControlUI* control) = 0;
    virtual bool RemoveItemAt(int index) = 0;
    virtual void RemoveAllItems() = 0;

protected:
    ~IContainerUI() = default;
};

class CContainerUI : public CControlUI, public IContainerUI {
public:
    CContainerUI();
    ~CContainerUI() override;

    static CControlUI* CreateContainerUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void AttachManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true) override;
    RECT GetContentRect() const override;
    void SetPos(RECT rect, bool invalidate = true) override;
    void MoveBy(int dx, int dy, bool invalidate = true) override;
    void SetVisible(bool show = true) override;
    void SetParentVisible(bool show) override;
    void SetMouseEnabled(bool enabled = true) override;
    CControlUI* FindControl(FindControlProc callback, void* data, UINT flags) override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void Paint(HDC hdc, const RECT& paint) override;

    // IContainerUI
    CControlUI* GetItemAt(int index) const override;
    int IndexOfItem(CControlUI* control) const override;
    bool MoveItemTo(CControlUI* control, int index) override;
    int GetItemCount() const override;
    bool AddItem(CControlUI* control) override;
    bool InsertItemAt(CControlUI* control, int index) override;
    bool RemoveItem(CControlUI* control) override;
    bool RemoveItemAt(int index) override;
    void RemoveAllItems() override;

    virtual RECT GetInset() const;
    virtual void SetInset(int left, int top, int right, int bottom);
    virtual int GetChildPadding() const;
    virtual void SetChildPadding(int gap);
    virtual UINT GetChildAlign() const;
    virtual void SetChildAlign(UINT value);
    virtual UINT GetChildVAlign() const;
    virtual void SetChildVAlign(UINT value);
    virtual bool IsAutoDestroy() const;
    virtual void SetAutoDestroy(bool on);
    virtual bool IsDelayedDestroy() const;
    virtual void SetDelayedDestroy(bool on);
    virtual bool IsMouseChildEnabled() const;
    virtual void SetMouseChildEnabled(bool on);
    virtual int FindSelectable(int index, bool forward) const;
    virtual SIZE GetScrollPos() const;
    virtual SIZE GetScrollRange() const;
    virtual void SetScrollPos(SIZE position, bool notify = true);
    virtual void SetScrollStepSize(int step);
    virtual int GetScrollStepSize() const;
    virtual void ScrollLineUp();
    virtual void ScrollLineDown();
    virtual void ScrollPageUp();
    virtual void ScrollPageDown();
    virtual void ScrollToTop();
    virtual void ScrollToBottom();
    virtual void ScrollLineLeft();
    virtual void ScrollLineRight();
    virtual void ScrollPageLeft();
    virtual void ScrollPageRight();
    virtual void ScrollToLeftEnd();
    virtual void ScrollToRightEnd();
    virtual void EnableScrollBar(bool vertical, bool horizontal);
    virtual CScrollBarUI* GetVerticalScrollBar() const;
    virtual CScrollBarUI* GetHorizontalScrollBar() const;
    virtual void PlaceFloatingChild(int index);
    virtual void UpdateScrollBars(const RECT& rect, int neededWidth, int neededHeight);

protected:
    // The item rectangle less the stored inset, extended to the scrolled extent.
    RECT ScrolledArea() const;
    // The item rectangle less the stored inset and the visible bars.
    RECT ContentClip() const;
    // The item rectangle less the DPI-scaled inset and the visible bars.
    RECT ScaledContent() const;
    // The paint steps after the control's own: the children clipped to the
    // content (floating ones to the item), then the visible scroll bars.
    void PaintChildren(HDC hdc, const RECT& paint);
    void PaintScrollBars(HDC hdc, const RECT& paint);
    bool VerticalBarShown() const;
    bool HorizontalBarShown() const;
    // Attaches a new child and registers its names; false for null.
    void AdoptChild(CControlUI* control);
    void DisposeChild(CControlUI* control);
    void ApplyBarStyle(CScrollBarUI* bar, const wchar_t* value);

    // The container's own children. Its own loops (layout, paint, search,
    // visibility) walk them directly: a container that keeps its items
    // elsewhere overrides the IContainerUI operations, not these walks.
    CPointerArray m_items;
    RECT m_inset = {};
    int m_childPadding = 0;
    int m_scrollStep = 0;
    UINT m_childAlign = 0;
    UINT m_childVAlign = 0;
    bool m_autoDestroy = true;
    bool m_delayedDestroy = true;
    bool m_mouseChild = true;
    CScrollBarUI* m_vScroll = nullptr;
    CScrollBarUI* m_hScroll = nullptr;
};

}  // namespace Veneer
