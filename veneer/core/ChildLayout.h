#pragma once
// A container whose content comes from another layout file, built when the
// container is initialised.
#include "Container.h"

namespace Veneer {

class CChildLayoutUI : public CContainerUI {
public:
    static CControlUI* CreateChildLayoutUI();
    const wchar_t* GetClassTag() const override;
    // Only "ChildLayout" and "Control": layouts cannot add children to it.
    void* FindInterface(const wchar_t* tag) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void Initialize() override;

    const CUIString& GetChildLayoutXml() const { return m_xmlFile; }
    void SetChildLayoutXml(const wchar_t* name) { m_xmlFile = name ? name : L""; }

private:
    CUIString m_xmlFile;
};

}  // namespace Veneer
