#pragma once
// Creates controls by class name for the layout builder.
#include "Control.h"
#include "UIValueTypes.h"

namespace Veneer {

typedef CControlUI* (*CreateControlProc)();

class CControlFactory {
public:
    virtual ~CControlFactory();
    static CControlFactory* GetInstance();
    // The name is entered lower-cased; a name already present keeps its function.
    void RegisterControlClass(const wchar_t* className, CreateControlProc create);
    CControlUI* CreateControlByClass(const wchar_t* className);

private:
    CControlFactory();
    CStringKeyMap m_classes;
};

}  // namespace Veneer
