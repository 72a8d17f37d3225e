// The controls library's rows of the control factory's class table.
#include "ControlClasses.h"

#include "Button.h"
#include "ControlFactory.h"
#include "Edit.h"
#include "GifAnimation.h"
#include "GifAnimationEx.h"
#include "GroupBox.h"
#include "List.h"
#include "ListHeader.h"
#include "ListItems.h"
#include "NativeFields.h"
#include "RichEdit.h"
#include "Text.h"

namespace Veneer {

void RegisterControlClasses() {
    CControlFactory* factory = CControlFactory::GetInstance();
    factory->RegisterControlClass(L"CButtonUI", &CButtonUI::CreateButtonUI);
    factory->RegisterControlClass(L"CEditUI", &CEditUI::CreateEditUI);
    factory->RegisterControlClass(L"CGifAnimationUI", &CGifAnimationUI::CreateGifAnimationUI);
    factory->RegisterControlClass(L"CGifAnimationExUI", &CGifAnimationExUI::CreateGifAnimationExUI);
    factory->RegisterControlClass(L"CGroupBoxUI", &CGroupBoxUI::CreateGroupBoxUI);
    factory->RegisterControlClass(L"CListUI", &CListUI::CreateListUI);
    factory->RegisterControlClass(L"CListHeaderUI", &CListHeaderUI::CreateListHeaderUI);
    factory->RegisterControlClass(L"CListHeaderItemUI", &CListHeaderItemUI::CreateListHeaderItemUI);
    factory->RegisterControlClass(L"CListLabelElementUI", &CListLabelElementUI::CreateListLabelElementUI);
    factory->RegisterControlClass(L"CListTextElementUI", &CListTextElementUI::CreateListTextElementUI);
    factory->RegisterControlClass(L"CListContainerElementUI", &CListContainerElementUI::CreateListContainerElementUI);
    factory->RegisterControlClass(L"COptionUI", &COptionUI::CreateOptionUI);
    factory->RegisterControlClass(L"CCheckBoxUI", &CCheckBoxUI::CreateCheckBoxUI);
    factory->RegisterControlClass(L"CTextUI", &CTextUI::CreateTextUI);
    // Rich text and native-window fields.
    factory->RegisterControlClass(L"CRichEditUI", &CRichEditUI::CreateRichEditUI);
    factory->RegisterControlClass(L"CDateTimeUI", &CDateTimeUI::CreateDateTimeUI);
    factory->RegisterControlClass(L"CIPAddressUI", &CIPAddressUI::CreateIPAddressUI);
    factory->RegisterControlClass(L"CHotKeyUI", &CHotKeyUI::CreateHotKeyUI);
    factory->RegisterControlClass(L"CIPAddressExUI", &CIPAddressExUI::CreateIPAddressExUI);
}

}  // namespace Veneer
