// The child layout: its only child is the root of its own layout file.
#include "ChildLayout.h"

#include <new>

#include "LayoutBuilder.h"

namespace Veneer {

CControlUI* CChildLayoutUI::CreateChildLayoutUI() { return new (std::nothrow) CChildLayoutUI; }
const wchar_t* CChildLayoutUI::GetClassTag() const { return L"ChildLayout"; }

void* CChildLayoutUI::FindInterface(const wchar_t* tag) {
    if (tag && CompareTextNoCase(tag, L"ChildLayout") == 0) return this;
    return CControlUI::FindInterface(tag);
}

void CChildLayoutUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (CompareTextNoCase(name, L"xmlfile") == 0) {
        SetChildLayoutXml(value);
    } else {
        CContainerUI::SetAttribute(name, value);
    }
}

void CChildLayoutUI::Initialize() {
    if (m_xmlFile.IsEmpty()) return;
    CBuildNesting nesting;
    if (nesting.TooDeep()) {
        RemoveAllItems();
        return;
    }
    CLayoutBuilder builder;
    CControlUI* root = builder.Create(m_xmlFile, nullptr, nullptr, m_manager, nullptr);
    if (root) {
        AddItem(root);
    } else {
        RemoveAllItems();
    }
}

}  // namespace Veneer
