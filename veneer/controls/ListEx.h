#pragma once
// The editable list: cells edited in place through one shared text field
// and one shared combo box, a check box per row and per column header kept
// in step, and resizable header items.
#include "Button.h"
#include "List.h"
#include "ListHeader.h"
#include "ListItems.h"
#include "PaintManager.h"
#include "StackLayout.h"

namespace Veneer {

class CEditUI;
class CComboBoxUI;

class IListComboItemsProvider {
public:
    virtual void FillComboItems(CComboBoxUI* combo, int row, int column) = 0;

protected:
    ~IListComboItemsProvider() = default;
};

// The check box at the left end of a row or of a header item.
struct CellCheckBox {
    enum Image { Normal, Hot, Pushed, Focused, Disabled, Selected, Fore, ImageCount };

    UINT state = 0;
    bool checked = false;
    CUIString images[ImageCount];
    int width = 0;
    int height = 0;

    RECT Rect(const CControlUI& owner) const;
    bool SetAttribute(const wchar_t* name, const wchar_t* value);
    // The box's own steps of an event; true when a release inside toggled it.
    bool HandleEvent(CControlUI& owner, ControlEvent& event);
    void SetChecked(CControlUI& owner, bool on);
    void Paint(CControlUI& owner, HDC hdc);
};

class CListContainerHeaderItemUI : public CHorizontalLayoutUI {
public:
    CListContainerHeaderItemUI();
    ~CListContainerHeaderItemUI() override;

    static CControlUI* CreateListContainerHeaderItemUI();

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
    bool IsEditable() const { return m_editable; }
    bool IsComboable() const { return m_comboable; }
    bool IsCheckable() const { return m_checkable; }
    bool IsChecked() const { return m_box.checked; }
    void SetChecked(bool on) { m_box.SetChecked(*this, on); }
    int GetSeparatorWidth() const { return m_look.sepWidth; }
    UINT GetButtonState() const { return m_look.state; }

private:
    HeaderItemLook m_look;
    bool m_editable = false;
    bool m_comboable = false;
    bool m_checkable = false;
    CellCheckBox m_box;
};

class CListTextExElementUI : public CListTextElementUI {
public:
    CListTextExElementUI();
    ~CListTextExElementUI() override;

    static CControlUI* CreateListTextExElementUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void Paint(HDC hdc, const RECT& paint) override;
    void PaintStateImage(HDC hdc) override;
    void SetItemOwner(CControlUI* owner) override;

    int HitTestColumn(POINT point);
    bool IsChecked() const { return m_box.checked; }
    void SetChecked(bool on) { m_box.SetChecked(*this, on); }

protected:
    int ColumnTextInset(int column) override;

private:
    bool HasCheckBox();

    CellCheckBox m_box;
    class CListExUI* m_listEx = nullptr;
};

class CListExUI : public CListUI, public INotifyUI {
public:
    CListExUI();
    ~CListExUI() override;

    static CControlUI* CreateListExUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void OnInitialize() override;
    void HandleEvent(ControlEvent& event) override;
    bool IsColumnEditable(int column) override;
    CControlUI* GetCellEditor() override;
    bool IsColumnComboable(int column) override;
    CControlUI* GetCellComboBox() override;
    int GetOwnerKind() override;
    void HandleItemEvent(ControlEvent& event) override;
    void Notify(NotifyEvent& event) override;

    virtual bool IsColumnCheckable(int column);
    virtual IListComboItemsProvider* GetComboItemsProvider();
    virtual void SetComboItemsProvider(IListComboItemsProvider* provider);

    void OpenCellEditor(const RECT& cell, int row, int column, const wchar_t* text);
    void HideCellEditors();
    void SyncHeaderCheckBox(int column, bool checked);

    int GetEditRow() const { return m_editRow; }
    int GetEditColumn() const { return m_editColumn; }
    CEditUI* GetEditor() const { return m_editor; }
    CComboBoxUI* GetCombo() const { return m_combo; }

private:
    CListContainerHeaderItemUI* HeaderItemAt(int column);
    static void Hide(CControlUI* control);

    int m_editRow = -1;
    int m_editColumn = -1;
    CEditUI* m_editor = nullptr;
    CComboBoxUI* m_combo = nullptr;
    IListComboItemsProvider* m_provider = nullptr;
    bool m_comboOnCell = false;
    CPaintManagerUI* m_listening = nullptr;
};

}  // namespace Veneer
