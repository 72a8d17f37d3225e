#pragma once
// A tree drawn as a list: every node is one row of the view's list body in
// pre-order, the hierarchy kept beside it in each node's child nodes.
#include "Button.h"
#include "List.h"
#include "ListItems.h"
#include "PaintManager.h"
#include "StackLayout.h"

namespace Veneer {

class CTreeViewUI;

class CTreeNodeUI : public CListContainerElementUI {
public:
    CTreeNodeUI();
    ~CTreeNodeUI() override;

    static CControlUI* CreateTreeNodeUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    bool AddItem(CControlUI* control) override;
    bool InsertItemAt(CControlUI* control, int index) override;
    bool RemoveItem(CControlUI* control) override;
    bool SetSelected(bool on) override;
    bool SetMultiSelected(bool on) override;

    bool AppendChildNode(CTreeNodeUI* child);
    bool RemoveChildNode(CTreeNodeUI* child);
    CPointerArray CopyChildNodes() const { return m_children; }
    int GetChildCount() const { return m_children.GetSize(); }
    CTreeNodeUI* GetChildNode(int index) const { return static_cast<CTreeNodeUI*>(m_children.GetAt(index)); }
    int GetViewIndex() const;
    CTreeNodeUI* GetLastDescendant();
    void AttachToParentNode(CTreeNodeUI* child);
    void SetItemTextColor(DWORD color);
    void SetItemHotTextColor(DWORD color) { m_hotTextColor = color; Invalidate(); }
    void SetSelItemTextColor(DWORD color) { m_selectedTextColor = color; Invalidate(); }
    void SetSelItemHotTextColor(DWORD color) { m_selectedHotTextColor = color; Invalidate(); }
    DWORD GetItemTextColor() const { return m_itemTextColor; }

    CTreeNodeUI* GetParentNode() const { return m_parentNode; }
    CTreeViewUI* GetTreeView() const { return m_view; }
    void SetTreeView(CTreeViewUI* view) { m_view = view; }
    CHorizontalLayoutUI* GetRow() const { return m_row; }
    CCheckBoxUI* GetFolderButton() const { return m_folder; }
    CLabelUI* GetSpacer() const { return m_spacer; }
    CCheckBoxUI* GetCheckBox() const { return m_checkBox; }
    COptionUI* GetItemButton() const { return m_itemButton; }
    bool IsItemSelectable() const { return m_selectable; }

private:
    void SetButtonTextColor(DWORD color);
    // Takes a child out of the child-node array; it has no parent after.
    void ForgetChild(CTreeNodeUI* child);

    bool m_selectable = false;
    DWORD m_itemTextColor = 0;
    DWORD m_hotTextColor = 0;
    DWORD m_selectedTextColor = 0;
    DWORD m_selectedHotTextColor = 0;
    CTreeViewUI* m_view = nullptr;
    CHorizontalLayoutUI* m_row = nullptr;
    CCheckBoxUI* m_folder = nullptr;
    CLabelUI* m_spacer = nullptr;
    CCheckBoxUI* m_checkBox = nullptr;
    COptionUI* m_itemButton = nullptr;
    CTreeNodeUI* m_parentNode = nullptr;
    CPointerArray m_children;
};

class CTreeViewUI : public CListUI, public INotifyUI {
public:
    CTreeViewUI();
    ~CTreeViewUI() override;

    static CControlUI* CreateTreeViewUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    // A node added as a plain item is added with its subtree.
    bool AddItem(CControlUI* control) override;
    bool RemoveItemAt(int index) override;
    void RemoveAllItems() override;
    int GetOwnerKind() override;
    void Notify(NotifyEvent& event) override;

    virtual bool AddNode(CTreeNodeUI* node);
    virtual bool InsertNodeBefore(CTreeNodeUI* node, CTreeNodeUI* anchor);
    virtual int InsertNodeAt(CTreeNodeUI* node, int index);
    virtual bool RemoveNode(CTreeNodeUI* node);
    virtual bool HandleCheckBoxNotify(void* event);
    virtual bool HandleFolderNotify(void* event);
    virtual bool HandleNodeNotify(void* event);
    virtual bool SetChildrenChecked(bool checked, CTreeNodeUI* node);
    virtual void SetChildrenExpanded(bool expanded, CTreeNodeUI* node);
    virtual void SetFolderButtonsVisible(bool show);
    virtual bool AreFolderButtonsVisible();
    virtual void SetCheckBoxesVisible(bool show);
    virtual bool AreCheckBoxesVisible();
    virtual void SetItemMinWidth(UINT width);
    virtual UINT GetItemMinWidth();
    virtual void SetItemTextColor(DWORD color);
    virtual void SetItemHotTextColor(DWORD color);
    virtual void SetSelItemTextColor(DWORD color);
    virtual void SetSelItemHotTextColor(DWORD color);

private:
    // The delegates, the buttons' visibility and the minimum width of a node
    // about to be listed.
    void Prepare(CTreeNodeUI* node);
    CTreeNodeUI* NodeAt(int index) const;
    static CTreeNodeUI* NodeOfRowChild(CControlUI* sender);

    UINT m_itemMinWidth = 0;
    bool m_showFolders = true;
    bool m_showCheckBoxes = false;
};

}  // namespace Veneer
