#pragma once
// Combo boxes: a closed box showing its selected item and, when opened, a
// pop-up window that lists the same item controls in a scrolling vertical
// layout; and the combo box drawn with a five-state arrow strip.
#include "List.h"
#include "PaintManager.h"
#include "StackLayout.h"
#include "WindowWnd.h"

namespace Veneer {

class CComboWnd;

class CComboUI : public CContainerUI, public IListOwnerUI {
    friend class CComboWnd;

public:
    enum StateBits { StateFocused = 0x01, StateDisabled = 0x04, StateHot = 0x08, StatePushed = 0x10, StateHeld = 0x40 };

    CComboUI();
    ~CComboUI() override;

    static CControlUI* CreateComboUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    UINT GetBehaviorFlags() const override;
    bool Activate() override;
    CUIString GetText() const override;
    void SetPos(RECT rect, bool invalidate = true) override;
    void MoveBy(int dx, int dy, bool invalidate = true) override;
    void SetEnabled(bool enabled = true) override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    SIZE MeasureSize(SIZE available) override;
    void Paint(HDC hdc, const RECT& paint) override;
    void PaintStateImage(HDC hdc) override;
    void PaintText(HDC hdc) override;

    bool MoveItemTo(CControlUI* control, int index) override;
    bool AddItem(CControlUI* control) override;
    bool InsertItemAt(CControlUI* control, int index) override;
    bool RemoveItem(CControlUI* control) override;
    bool RemoveItemAt(int index) override;
    void RemoveAllItems() override;

    int GetOwnerKind() override;
    ListItemStyle* GetItemStyle() override;
    int GetSelectedIndex() override;
    bool SelectIndex(int index, bool takeFocus = false) override;
    bool AddToSelection(int index, bool takeFocus = false) override;
    bool DeselectIndex(int index, bool allOthers) override;
    void HandleItemEvent(ControlEvent& event) override;

    CComboWnd* GetDropDown() const { return m_window; }
    UINT GetButtonState() const { return m_buttonState; }
    bool IsScrollSelect() const { return m_scrollSelect; }
    bool IsShowShadow() const { return m_showShadow; }
    SIZE GetDropBoxSize() const { return m_dropBoxSize; }
    const CUIString& GetDropBoxAttributes() const { return m_dropBox; }

protected:
    // Picks the state image; a focused image that draws ends it.
    void PaintStateImages(HDC hdc);
    void UpdateStateFlags();
    RECT TextRect() const;

private:
    void CloseDropDownNow();
    void RenumberFrom(int index);

    CComboWnd* m_window = nullptr;
    int m_currentIndex = -1;
    DWORD m_textColor = 0;
    DWORD m_disabledTextColor = 0;
    int m_font = -1;
    UINT m_textStyle = DT_VCENTER | DT_SINGLELINE;
    RECT m_textPadding = {};
    bool m_showHtml = false;
    bool m_showShadow = false;
    CUIString m_dropBox;
    SIZE m_dropBoxSize = {0, 150};
    UINT m_buttonState = 0;
    CUIString m_normalImage;
    CUIString m_hotImage;
    CUIString m_pushedImage;
    CUIString m_focusedImage;
    CUIString m_disabledImage;
    bool m_scrollSelect = true;
    ListItemStyle m_style;
};

// The drop-down: one at a time per combo; it deletes itself when its window
// is destroyed.
class CComboWnd : public CWindowWnd, public INotifyUI {
public:
    CComboWnd();
    ~CComboWnd() override;

    const wchar_t* GetWindowClassName() const override;
    const wchar_t* GetBaseClassName() const override;
    UINT GetWindowClassStyle() const override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND window) override;
    void Notify(NotifyEvent& event) override;

    // False when the window could not be made; the object is then the
    // caller's to delete.
    bool Open(CComboUI* owner);
    void EnsureSelectionVisible(int index);
    void ScrollListBy(int dy);
    bool IsOverListItem(int x, int y);

    CVerticalLayoutUI* GetList() const { return m_layout; }
    CPaintManagerUI& GetManager() { return m_pm; }
    // The combo is being deleted: the window's last steps leave it alone.
    void DetachOwner() { m_ownerGone = true; }

private:
    LRESULT OnCreate();
    void GiveItemsBack();

    CPaintManagerUI m_pm;
    CComboUI* m_owner = nullptr;
    CVerticalLayoutUI* m_layout = nullptr;
    int m_initialIndex = -1;
    bool m_pressedOnItem = false;
    bool m_creating = false;
    bool m_ownerGone = false;
};

class CComboBoxUI : public CComboUI {
public:
    CComboBoxUI();
    ~CComboBoxUI() override;

    static CControlUI* CreateComboBoxUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void PaintStateImage(HDC hdc) override;
    void PaintText(HDC hdc) override;

    int GetArrowWidth() const { return m_arrowWidth; }

private:
    bool m_textVisible = true;
    int m_arrowWidth = 0;
    CUIString m_arrowImage;
};

// Finds "source='l,t,r,b'" in an image string: the four numbers and where
// that part starts and ends (one past its closing quote). False unless the
// whole part is well formed.
bool FindImageSource(const wchar_t* image, RECT& source, int& begin, int& end);

}  // namespace Veneer
