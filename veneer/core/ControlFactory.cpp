// The process's control factory: class names to create functions.
#include "ControlFactory.h"

#include <cwctype>
#include <new>

#include "ChildLayout.h"
#include "Container.h"
#include "Label.h"
#include "ScrollBar.h"
#include "StackLayout.h"
#include "TabTileLayout.h"

namespace Veneer {

namespace {
CUIString Lower(const wchar_t* text) {
    CUIString out;
    for (const wchar_t* p = text; p && *p; ++p) {
        const wchar_t ch[2] = {static_cast<wchar_t>(towlower(*p)), 0};
        out += ch;
    }
    return out;
}
}  // namespace

CControlFactory::CControlFactory() {
    // In the order of the library's class table; classes of the controls
    // library register themselves there as they are built.
    RegisterControlClass(L"CControlUI", &CControlUI::CreateControlUI);
    RegisterControlClass(L"CContainerUI", &CContainerUI::CreateContainerUI);
    RegisterControlClass(L"CLabelUI", &CLabelUI::CreateLabelUI);
    RegisterControlClass(L"CScrollBarUI", &CScrollBarUI::CreateScrollBarUI);
    RegisterControlClass(L"CChildLayoutUI", &CChildLayoutUI::CreateChildLayoutUI);
    RegisterControlClass(L"CHorizontalLayoutUI", &CHorizontalLayoutUI::CreateHorizontalLayoutUI);
    RegisterControlClass(L"CTabLayoutUI", &CTabLayoutUI::CreateTabLayoutUI);
    RegisterControlClass(L"CTileLayoutUI", &CTileLayoutUI::CreateTileLayoutUI);
    RegisterControlClass(L"CVerticalLayoutUI", &CVerticalLayoutUI::CreateVerticalLayoutUI);
}

CControlFactory::~CControlFactory() = default;

CControlFactory* CControlFactory::GetInstance() {
    static CControlFactory* instance = new CControlFactory;
    return instance;
}

void CControlFactory::RegisterControlClass(const wchar_t* className, CreateControlProc create) {
    if (!className || !create) return;
    const CUIString key = Lower(className);
    if (m_classes.Find(key)) return;
    m_classes.Insert(key, reinterpret_cast<void*>(create));
}

CControlUI* CControlFactory::CreateControlByClass(const wchar_t* className) {
    if (!className) return nullptr;
    CreateControlProc create = reinterpret_cast<CreateControlProc>(m_classes.Find(Lower(className)));
    return create ? create() : nullptr;
}

}  // namespace Veneer
