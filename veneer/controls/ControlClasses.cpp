// The controls library's rows of the control factory's class table.
#include "ControlClasses.h"

#include "ActiveX.h"
#include "Button.h"
#include "Combo.h"
#include "ControlFactory.h"
#include "Edit.h"
#include "Flash.h"
#include "GifAnimation.h"
#include "GifAnimationEx.h"
#include "GroupBox.h"
#include "List.h"
#include "ListHeader.h"
#include "ListItems.h"
#include "Menu.h"
#include "NativeFields.h"
#include "RichEdit.h"
#include "Text.h"
#include "WebBrowser.h"
#include "Animation.h"
#include "Progress.h"
#include "SmallControls.h"
#include "TreeView.h"
#include "ListEx.h"

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
    // ActiveX hosting
    factory->RegisterControlClass(L"CActiveXUI", &CActiveXUI::CreateActiveXUI);
    factory->RegisterControlClass(L"CFlashUI", &CFlashUI::CreateFlashUI);
    factory->RegisterControlClass(L"CWebBrowserUI", &CWebBrowserUI::CreateWebBrowserUI);
    // Menus and combo boxes.
    factory->RegisterControlClass(L"CMenuUI", &CMenuUI::CreateMenuUI);
    factory->RegisterControlClass(L"CMenuElementUI", &CMenuElementUI::CreateMenuElementUI);
    factory->RegisterControlClass(L"CComboUI", &CComboUI::CreateComboUI);
    factory->RegisterControlClass(L"CComboBoxUI", &CComboBoxUI::CreateComboBoxUI);
    // Value controls, animations, the tree view and the small controls.
    factory->RegisterControlClass(L"CProgressUI", &CProgressUI::CreateProgressUI);
    factory->RegisterControlClass(L"CSliderUI", &CSliderUI::CreateSliderUI);
    factory->RegisterControlClass(L"CAnimationTabLayoutUI", &CAnimationTabLayoutUI::CreateAnimationTabLayoutUI);
    factory->RegisterControlClass(L"CAnimationContainerUI", &CAnimationContainerUI::CreateAnimationContainerUI);
    factory->RegisterControlClass(L"CFadeButtonUI", &CFadeButtonUI::CreateFadeButtonUI);
    factory->RegisterControlClass(L"CTreeNodeUI", &CTreeNodeUI::CreateTreeNodeUI);
    factory->RegisterControlClass(L"CTreeViewUI", &CTreeViewUI::CreateTreeViewUI);
    factory->RegisterControlClass(L"CListExUI", &CListExUI::CreateListExUI);
    factory->RegisterControlClass(L"CListContainerHeaderItemUI",
                                  &CListContainerHeaderItemUI::CreateListContainerHeaderItemUI);
    factory->RegisterControlClass(L"CListTextExElementUI", &CListTextExElementUI::CreateListTextExElementUI);
    factory->RegisterControlClass(L"CRotateButtonUI", &CRotateButtonUI::CreateRotateButtonUI);
    factory->RegisterControlClass(L"CRingUI", &CRingUI::CreateRingUI);
    factory->RegisterControlClass(L"CRollTextUI", &CRollTextUI::CreateRollTextUI);
    factory->RegisterControlClass(L"CColorPaletteUI", &CColorPaletteUI::CreateColorPaletteUI);
    // Rich text and native-window fields.
    factory->RegisterControlClass(L"CRichEditUI", &CRichEditUI::CreateRichEditUI);
    factory->RegisterControlClass(L"CDateTimeUI", &CDateTimeUI::CreateDateTimeUI);
    factory->RegisterControlClass(L"CIPAddressUI", &CIPAddressUI::CreateIPAddressUI);
    factory->RegisterControlClass(L"CHotKeyUI", &CHotKeyUI::CreateHotKeyUI);
    factory->RegisterControlClass(L"CIPAddressExUI", &CIPAddressExUI::CreateIPAddressExUI);
}

}  // namespace Veneer
