// The edition's container class.
#include "ContainerObject.h"

#include "DeviceContext.h"

CContainerZOPRA::CContainerZOPRA(CDeviceContext* pDeviceContext) : CContainerObject(pDeviceContext) {
    CDeviceContext::TraceInfo(L"CContainerZOPRA: Constructor");
}

CContainerZOPRA::~CContainerZOPRA() { CDeviceContext::TraceInfo(L"CContainerZOPRA: Destructor"); }
