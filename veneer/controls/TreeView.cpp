// The tree view and its nodes: each node is a list row of four controls
// (spacer, folder button, check box, item button); the view keeps the rows
// in pre-order and expands, collapses and checks through delegates on the
// rows' buttons.
#include "TreeView.h"

#include <cwchar>
#include <new>

#include "ListHeader.h"

namespace Veneer {

namespace {
bool Is(const wchar_t* name, const wchar_t* expected) { return CompareTextNoCase(name, expected) == 0; }

DWORD ReadColor(const wchar_t* value) {
    if (*value == L'#') ++value;
    return static_cast<DWORD>(wcstoul(value, nullptr, 16));
}

CTreeNodeUI* AsNode(CControlUI* control) {
    return control ? static_cast<CTreeNodeUI*>(control->FindInterface(L"TreeNode")) : nullptr;
}
}  // namespace

// ------------------------------------------------------------------ node

CTreeNodeUI::CTreeNodeUI() {
    m_row = new CHorizontalLayoutUI;
    m_spacer = new CLabelUI;
    m_folder = new CCheckBoxUI;
    m_checkBox = new CCheckBoxUI;
    m_itemButton = new COptionUI;
    SetFixedHeight(24);
    m_folder->SetFixedWidth(24);
    m_checkBox->SetFixedWidth(24);
    m_spacer->SetFixedWidth(2);
    m_spacer->SetVisible(false);
    m_checkBox->SetVisible(false);
    m_itemButton->SetAttribute(L"align", L"left");
    m_itemButton->SetMouseEnabled(false);
    m_row->AddItem(m_spacer);
    m_row->AddItem(m_folder);
    m_row->AddItem(m_checkBox);
    m_row->AddItem(m_itemButton);
    CContainerUI::AddItem(m_row);
}

CTreeNodeUI::~CTreeNodeUI() {
    // Neither the parent nor the children keep a pointer to a deleted node.
    if (m_parentNode) m_parentNode->ForgetChild(this);
    for (int i = 0; i < m_children.GetSize(); ++i) GetChildNode(i)->m_parentNode = nullptr;
}

CControlUI* CTreeNodeUI::CreateTreeNodeUI() { return new (std::nothrow) CTreeNodeUI; }

const wchar_t* CTreeNodeUI::GetClassTag() const { return L"TreeNode"; }

void* CTreeNodeUI::FindInterface(const wchar_t* tag) {
    if (tag && Is(tag, L"TreeNode")) return this;
    return CListContainerElementUI::FindInterface(tag);
}

void CTreeNodeUI::ForgetChild(CTreeNodeUI* child) {
    const int index = m_children.Find(child);
    if (index >= 0) m_children.RemoveAt(index);
    if (child->m_parentNode == this) child->m_parentNode = nullptr;
}

void CTreeNodeUI::SetButtonTextColor(DWORD color) {
    wchar_t text[16];
    swprintf(text, 16, L"#%08X", static_cast<unsigned>(color));
    m_itemButton->SetAttribute(L"textcolor", text);
    m_itemButton->Invalidate();
}

void CTreeNodeUI::SetItemTextColor(DWORD color) {
    m_itemTextColor = color;
    SetButtonTextColor(color);
}

void CTreeNodeUI::HandleEvent(ControlEvent& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.type)) {
        if (m_itemState.owner) {
            m_itemState.owner->HandleItemEvent(event);
        } else {
            CContainerUI::HandleEvent(event);
        }
        return;
    }
    if (event.type == EventButtonDown && !m_selectable) return;
    CListContainerElementUI::HandleEvent(event);
    if (event.type == EventDoubleClick && IsEnabled()) {
        if (m_manager) m_manager->SendNotification(this, L"treeitemdbclick");
        Invalidate();
    } else if (event.type == EventMouseEnter || event.type == EventMouseLeave) {
        if (!IsEnabled()) {
            SetButtonTextColor(m_itemButton->GetDisabledTextColor());
        } else if (event.type == EventMouseEnter) {
            const bool selected = IsItemSelected();
            SetButtonTextColor(selected && m_selectedHotTextColor != 0 ? m_selectedHotTextColor : m_hotTextColor);
        } else if (!IsItemSelected()) {
            SetButtonTextColor(m_itemTextColor);
        } else if (m_selectedTextColor != 0) {
            SetButtonTextColor(m_selectedTextColor);
        }
    }
}

void CTreeNodeUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (Is(name, L"text")) {
        m_itemButton->SetText(value);
    } else if (Is(name, L"horizattr")) {
        m_row->ApplyAttributeString(value);
    } else if (Is(name, L"dotlineattr")) {
        m_spacer->ApplyAttributeString(value);
    } else if (Is(name, L"folderattr")) {
        m_folder->ApplyAttributeString(value);
    } else if (Is(name, L"checkboxattr")) {
        m_checkBox->ApplyAttributeString(value);
    } else if (Is(name, L"itemattr")) {
        m_itemButton->ApplyAttributeString(value);
    } else if (Is(name, L"itemtextcolor")) {
        SetItemTextColor(ReadColor(value));
    } else if (Is(name, L"itemhottextcolor")) {
        SetItemHotTextColor(ReadColor(value));
    } else if (Is(name, L"selitemtextcolor")) {
        SetSelItemTextColor(ReadColor(value));
    } else if (Is(name, L"selitemhottextcolor")) {
        SetSelItemHotTextColor(ReadColor(value));
    } else if (Is(name, L"itemselectable")) {
        m_selectable = CompareTextNoCase(value, L"true") == 0;
    } else {
        CListContainerElementUI::SetAttribute(name, value);
    }
}

bool CTreeNodeUI::SetSelected(bool on) {
    const bool result = CListContainerElementUI::SetSelected(on);
    SetButtonTextColor(IsItemSelected() ? m_selectedTextColor : m_itemTextColor);
    return result;
}

bool CTreeNodeUI::SetMultiSelected(bool on) {
    const bool result = CListContainerElementUI::SetMultiSelected(on);
    SetButtonTextColor(IsItemSelected() ? m_selectedTextColor : m_itemTextColor);
    return result;
}

int CTreeNodeUI::GetViewIndex() const {
    if (!m_view) return -1;
    return m_view->IndexOfItem(const_cast<CTreeNodeUI*>(this));
}

CTreeNodeUI* CTreeNodeUI::GetLastDescendant() {
    CTreeNodeUI* node = this;
    while (node->m_children.GetSize() > 0) node = node->GetChildNode(node->m_children.GetSize() - 1);
    return node;
}

void CTreeNodeUI::AttachToParentNode(CTreeNodeUI* child) {
    if (!child) return;
    // The spacer's width as written; a spacer without a paint manager has
    // its width unscaled already.
    CPaintManagerUI* manager = m_spacer->GetManager();
    int scale = manager ? manager->GetDpiScaler()->GetScale() : 100;
    if (scale <= 0) scale = 100;
    child->m_spacer->SetVisible(true);
    child->m_spacer->SetFixedWidth(MulDiv(m_spacer->GetFixedWidth(), 100, scale) + 20);
    child->m_parentNode = this;
    child->m_itemButton->SetGroup(m_itemButton->GetGroup());
    child->m_view = m_view;
    // A subtree built before it had a parent (as the layout builder builds
    // children first) is indented anew below it.
    for (int i = 0; i < child->m_children.GetSize(); ++i) child->AttachToParentNode(child->GetChildNode(i));
}

bool CTreeNodeUI::AppendChildNode(CTreeNodeUI* child) {
    if (!child || !child->FindInterface(L"TreeNode")) return false;
    AttachToParentNode(child);
    if (m_view) {
        const int index = GetLastDescendant()->GetViewIndex() + 1;
        if (m_view->InsertNodeAt(child, index) < 0) {
            child->m_parentNode = nullptr;
            return false;
        }
    }
    m_children.Add(child);
    return true;
}

bool CTreeNodeUI::AddItem(CControlUI* control) {
    if (CTreeNodeUI* node = AsNode(control)) return AppendChildNode(node);
    // Any other control joins the row, after the item button.
    return control ? m_row->AddItem(control) : false;
}

bool CTreeNodeUI::InsertItemAt(CControlUI* control, int index) {
    CTreeNodeUI* child = AsNode(control);
    if (!child) return false;
    CTreeNodeUI* anchor = nullptr;
    if (index >= 0 && index < m_children.GetSize() && m_children.GetAt(index)) {
        anchor = GetChildNode(index);
        m_children.InsertAt(index, child);
    } else {
        // Appended: it follows the last of this node's descendants.
        if (m_view) {
            const int after = GetLastDescendant()->GetViewIndex() + 1;
            if (after > 0 && after < m_view->GetItemCount()) anchor = AsNode(m_view->GetItemAt(after));
        }
        m_children.Add(child);
    }
    AttachToParentNode(child);
    if (!m_view) return true;
    const bool listed = anchor ? m_view->InsertNodeBefore(child, anchor) : m_view->AddNode(child);
    if (!listed) ForgetChild(child);
    return listed;
}

bool CTreeNodeUI::RemoveChildNode(CTreeNodeUI* child) {
    if (!child || m_children.Find(child) < 0) return false;
    while (child->m_children.GetSize() > 0) child->RemoveChildNode(child->GetChildNode(0));
    ForgetChild(child);
    if (m_view) m_view->RemoveNode(child);
    return true;
}

bool CTreeNodeUI::RemoveItem(CControlUI* control) {
    if (CTreeNodeUI* node = AsNode(control)) return RemoveChildNode(node);
    return CContainerUI::RemoveItem(control);
}

// ------------------------------------------------------------------ view

CTreeViewUI::CTreeViewUI() {
    if (CListHeaderUI* header = GetListHeader()) header->SetVisible(false);
}

CTreeViewUI::~CTreeViewUI() = default;

CControlUI* CTreeViewUI::CreateTreeViewUI() { return new (std::nothrow) CTreeViewUI; }

const wchar_t* CTreeViewUI::GetClassTag() const { return L"TreeView"; }

void* CTreeViewUI::FindInterface(const wchar_t* tag) {
    if (tag && Is(tag, L"TreeView")) return this;
    return CListUI::FindInterface(tag);
}

int CTreeViewUI::GetOwnerKind() { return 2; }

void CTreeViewUI::Notify(NotifyEvent&) {}

void CTreeViewUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (Is(name, L"visiblefolderbtn")) {
        SetFolderButtonsVisible(CompareTextNoCase(value, L"true") == 0);
    } else if (Is(name, L"visiblecheckbtn")) {
        SetCheckBoxesVisible(CompareTextNoCase(value, L"true") == 0);
    } else if (Is(name, L"itemminwidth")) {
        SetItemMinWidth(static_cast<UINT>(wcstoul(value, nullptr, 10)));
    } else if (Is(name, L"itemtextcolor")) {
        SetItemTextColor(ReadColor(value));
    } else if (Is(name, L"itemhottextcolor")) {
        SetItemHotTextColor(ReadColor(value));
    } else if (Is(name, L"selitemtextcolor")) {
        SetSelItemTextColor(ReadColor(value));
    } else if (Is(name, L"selitemhottextcolor")) {
        SetSelItemHotTextColor(ReadColor(value));
    } else {
        CListUI::SetAttribute(name, value);
    }
}

CTreeNodeUI* CTreeViewUI::NodeAt(int index) const { return AsNode(GetItemAt(index)); }

void CTreeViewUI::Prepare(CTreeNodeUI* node) {
    node->OnNotify += CDelegate<CTreeViewUI, CTreeViewUI>(this, &CTreeViewUI::HandleNodeNotify);
    node->GetFolderButton()->OnNotify += CDelegate<CTreeViewUI, CTreeViewUI>(this, &CTreeViewUI::HandleFolderNotify);
    node->GetCheckBox()->OnNotify += CDelegate<CTreeViewUI, CTreeViewUI>(this, &CTreeViewUI::HandleCheckBoxNotify);
    node->GetFolderButton()->SetVisible(m_showFolders);
    node->GetCheckBox()->SetVisible(m_showCheckBoxes);
    if (m_itemMinWidth != 0) node->SetMinWidth(static_cast<int>(m_itemMinWidth));
}

bool CTreeViewUI::AddItem(CControlUI* control) {
    if (CTreeNodeUI* node = AsNode(control)) return AddNode(node);
    return CListUI::AddItem(control);
}

bool CTreeViewUI::AddNode(CTreeNodeUI* node) {
    if (!node || !node->FindInterface(L"TreeNode")) return false;
    Prepare(node);
    if (!CListUI::AddItem(node)) return false;
    for (int i = 0; i < node->GetChildCount(); ++i) {
        if (CTreeNodeUI* child = node->GetChildNode(i)) AddNode(child);
    }
    node->SetTreeView(this);
    return true;
}

int CTreeViewUI::InsertNodeAt(CTreeNodeUI* node, int index) {
    if (!node || !node->FindInterface(L"TreeNode")) return -1;
    Prepare(node);
    if (!CListUI::InsertItemAt(node, index)) return -1;
    node->SetTreeView(this);
    // The whole subtree follows its root.
    int next = index + 1;
    for (int i = 0; i < node->GetChildCount() && next >= 0; ++i) {
        if (CTreeNodeUI* child = node->GetChildNode(i)) next = InsertNodeAt(child, next);
    }
    return next;
}

bool CTreeViewUI::InsertNodeBefore(CTreeNodeUI* node, CTreeNodeUI* anchor) {
    if (!node || !anchor || GetItemCount() == 0) return false;
    const int index = IndexOfItem(anchor);
    if (index < 0) return false;
    return InsertNodeAt(node, index) >= 0;
}

bool CTreeViewUI::RemoveNode(CTreeNodeUI* node) {
    if (!node || IndexOfItem(node) < 0) return false;
    for (int i = node->GetChildCount() - 1; i >= 0; --i) node->RemoveChildNode(node->GetChildNode(i));
    // It leaves its parent's child nodes as it leaves the list. A parent
    // listed here takes it out of the list itself, which may delete it at
    // once: the node is not touched after that.
    if (CTreeNodeUI* parent = node->GetParentNode()) {
        const bool listedByParent = parent->GetTreeView() == this;
        parent->RemoveChildNode(node);
        if (listedByParent) return true;
    }
    CListUI::RemoveItem(node);
    return true;
}

bool CTreeViewUI::RemoveItemAt(int index) {
    CTreeNodeUI* node = NodeAt(index);
    if (!node) return CListUI::RemoveItemAt(index);
    return RemoveNode(node);
}

void CTreeViewUI::RemoveAllItems() { CListUI::RemoveAllItems(); }

CTreeNodeUI* CTreeViewUI::NodeOfRowChild(CControlUI* sender) {
    CControlUI* row = sender ? sender->GetParent() : nullptr;
    return row ? AsNode(row->GetParent()) : nullptr;
}

bool CTreeViewUI::HandleCheckBoxNotify(void* param) {
    NotifyEvent* event = static_cast<NotifyEvent*>(param);
    if (event->type == L"selectchanged") {
        CCheckBoxUI* box = static_cast<CCheckBoxUI*>(event->sender);
        if (CTreeNodeUI* node = NodeOfRowChild(box)) SetChildrenChecked(box->IsSelected(), node);
    }
    return true;
}

bool CTreeViewUI::HandleFolderNotify(void* param) {
    NotifyEvent* event = static_cast<NotifyEvent*>(param);
    if (event->type == L"selectchanged") {
        CCheckBoxUI* folder = static_cast<CCheckBoxUI*>(event->sender);
        if (CTreeNodeUI* node = NodeOfRowChild(folder)) SetChildrenExpanded(!folder->IsSelected(), node);
    }
    return true;
}

bool CTreeViewUI::HandleNodeNotify(void* param) {
    NotifyEvent* event = static_cast<NotifyEvent*>(param);
    if (event->type != L"treeitemdbclick") return false;
    CTreeNodeUI* node = AsNode(event->sender);
    if (node) {
        CCheckBoxUI* folder = node->GetFolderButton();
        folder->SetSelected(!folder->IsSelected());
        SetChildrenExpanded(!folder->IsSelected(), node);
    }
    return true;
}

bool CTreeViewUI::SetChildrenChecked(bool checked, CTreeNodeUI* node) {
    if (!node) {
        for (int i = 0; i < GetItemCount(); ++i) {
            if (CTreeNodeUI* row = NodeAt(i)) {
                row->GetCheckBox()->SetSelected(checked);
                SetChildrenChecked(checked, row);
            }
        }
        return true;
    }
    for (int i = 0; i < node->GetChildCount(); ++i) {
        CTreeNodeUI* child = node->GetChildNode(i);
        child->GetCheckBox()->SetSelected(checked);
        SetChildrenChecked(checked, child);
    }
    return true;
}

void CTreeViewUI::SetChildrenExpanded(bool expanded, CTreeNodeUI* node) {
    auto apply = [&](CTreeNodeUI* child) {
        child->SetVisible(expanded);
        if (child->GetChildCount() > 0 && !child->GetFolderButton()->IsSelected()) SetChildrenExpanded(expanded, child);
    };
    if (!node) {
        for (int i = 0; i < GetItemCount(); ++i) {
            if (CTreeNodeUI* row = NodeAt(i)) apply(row);
        }
        return;
    }
    for (int i = 0; i < node->GetChildCount(); ++i) apply(node->GetChildNode(i));
}

void CTreeViewUI::SetFolderButtonsVisible(bool show) {
    m_showFolders = show;
    for (int i = 0; i < GetItemCount(); ++i) {
        if (CTreeNodeUI* node = NodeAt(i)) node->GetFolderButton()->SetVisible(show);
    }
}

bool CTreeViewUI::AreFolderButtonsVisible() { return m_showFolders; }

void CTreeViewUI::SetCheckBoxesVisible(bool show) {
    m_showCheckBoxes = show;
    for (int i = 0; i < GetItemCount(); ++i) {
        if (CTreeNodeUI* node = NodeAt(i)) node->GetCheckBox()->SetVisible(show);
    }
}

bool CTreeViewUI::AreCheckBoxesVisible() { return m_showCheckBoxes; }

void CTreeViewUI::SetItemMinWidth(UINT width) {
    m_itemMinWidth = width;
    for (int i = 0; i < GetItemCount(); ++i) {
        if (CTreeNodeUI* node = NodeAt(i)) node->SetMinWidth(static_cast<int>(width));
    }
    Invalidate();
}

UINT CTreeViewUI::GetItemMinWidth() { return m_itemMinWidth; }

void CTreeViewUI::SetItemTextColor(DWORD color) {
    for (int i = 0; i < GetItemCount(); ++i) {
        if (CTreeNodeUI* node = NodeAt(i)) node->SetItemTextColor(color);
    }
}

void CTreeViewUI::SetItemHotTextColor(DWORD color) {
    for (int i = 0; i < GetItemCount(); ++i) {
        if (CTreeNodeUI* node = NodeAt(i)) node->SetItemHotTextColor(color);
    }
}

void CTreeViewUI::SetSelItemTextColor(DWORD color) {
    for (int i = 0; i < GetItemCount(); ++i) {
        if (CTreeNodeUI* node = NodeAt(i)) node->SetSelItemTextColor(color);
    }
}

void CTreeViewUI::SetSelItemHotTextColor(DWORD color) {
    for (int i = 0; i < GetItemCount(); ++i) {
        if (CTreeNodeUI* node = NodeAt(i)) node->SetSelItemHotTextColor(color);
    }
}

}  // namespace Veneer
