// Listing, connecting, disconnecting and watching keys (ordinals 1 to 6).
// None of these holds a device mutex; they call the edition's manager.
#include <cstring>
#include <memory>
#include <new>

#include "DeviceManager.h"
#include "DeviceObject.h"
#include "ExportFrame.h"
#include "VemuComm.h"

ULONG __stdcall SKF_WaitForDevEvent(LPSTR szDevName, ULONG* pulDevNameLen, ULONG* pulEvent) {
    CExportFrame frame(L"SKF_WaitForDevEvent", false);
    SKF_REQUIRE(pulDevNameLen);
    SKF_REQUIRE(pulEvent);
    const uint32_t code = GetQuibManager().WaitForDevEvent(VEMU_DRIVER_HID, KEYLINQ_USB_PRODUCT_ID, szDevName,
                                                           pulDevNameLen, pulEvent);
    return frame.Finish(code, L"WaitForDevEvent", __LINE__);
}

ULONG __stdcall SKF_CancelWaitForDevEvent() {
    CExportFrame frame(L"SKF_CancelWaitForDevEvent", false);
    return frame.Finish(GetQuibManager().CancelWaitForDevEvent(), L"CancelWaitForDevEvent", __LINE__);
}

ULONG __stdcall SKF_EnumDev(BOOL, LPSTR szNameList, ULONG* pulSize) {
    CExportFrame frame(L"SKF_EnumDev");
    SKF_REQUIRE(pulSize);
    const uint32_t code = GetQuibManager().EnumDevice(VEMU_DRIVER_HID, KEYLINQ_USB_PRODUCT_ID, szNameList, pulSize);
    return frame.Finish(code, L"EnumDevice", __LINE__);
}

ULONG __stdcall SKF_ConnectDev(LPSTR szName, DEVHANDLE* phDev) {
    CExportFrame frame(L"SKF_ConnectDev");
    SKF_REQUIRE(szName);
    SKF_REQUIRE(phDev);
    CDeviceOperator* pDevice = nullptr;
    const uint32_t code = GetQuibManager().OpenDevice(VEMU_DRIVER_HID, szName, 0, &pDevice);
    if (code == 0) {
        SKFHandles::Add(pDevice, SKFHandleKind::Device, pDevice->GetDeviceContext());
        *phDev = pDevice;
    }
    return frame.Finish(code, L"OpenDevice", __LINE__);
}

ULONG __stdcall SKF_DisConnectDev(DEVHANDLE hDev) {
    CExportFrame frame(L"SKF_DisConnectDev");
    SKF_REFUSE_IF(NULL == hDev, L"CHECK hDev", SAR_INVALIDHANDLEERR);
    CDeviceContext* pContext = nullptr;
    SKF_REFUSE_IF(!SKFHandles::Find(hDev, SKFHandleKind::Device, &pContext), L"CHECK hDev", SAR_INVALIDHANDLEERR);
    // Out of the set before the object goes, so that no other thread can
    // disconnect it twice; back in when the key could not be closed. A
    // device whose handle another thread's call is using stays (0x800700AA,
    // in use).
    bool busy = false;
    if (!SKFHandles::Remove(hDev, SKFHandleKind::Device, &busy)) {
        if (busy) return frame.Finish(0x800700AAu, L"CHECK hDev in use", __LINE__);
        return frame.Refuse(SAR_INVALIDHANDLEERR, L"CHECK hDev", L"!SKFHandles::Remove(hDev)", __LINE__);
    }
    CDeviceOperator* pDevice = static_cast<CDeviceOperator*>(hDev);
    const uint32_t code = GetQuibManager().CloseDevice(&pDevice);
    if (code != 0) SKFHandles::Add(hDev, SKFHandleKind::Device, pContext);
    return frame.Finish(code, L"CloseDevice", __LINE__);
}

ULONG __stdcall SKF_GetDevState(LPSTR szDevName, ULONG* pulDevState) {
    CExportFrame frame(L"SKF_GetDevState");
    SKF_REQUIRE(szDevName);
    SKF_REQUIRE(pulDevState);
    *pulDevState = 0;
    CQuibManager& manager = GetQuibManager();
    DWORD size = 0;
    uint32_t code = manager.EnumDevice(VEMU_DRIVER_HID, KEYLINQ_USB_PRODUCT_ID, nullptr, &size);
    if (code != 0 || size <= 2) return frame.Finish(code, L"EnumDevice", __LINE__);

    std::unique_ptr<char[]> list(new (std::nothrow) char[size]);
    if (!list) return frame.Finish(E_OUTOFMEMORY, L"new pszDevList", __LINE__);
    memset(list.get(), 0, size);
    code = manager.EnumDevice(VEMU_DRIVER_HID, KEYLINQ_USB_PRODUCT_ID, list.get(), &size);
    if (code != 0) return frame.Finish(code, L"EnumDevice", __LINE__);

    // A listed path matches when it is the given name, whole: a prefix (or
    // an empty name) names no key.
    const size_t nameLen = strlen(szDevName);
    for (size_t i = 0; i < size && list[i];) {
        const size_t entryLen = strnlen(list.get() + i, size - i);
        if (entryLen == nameLen && memcmp(list.get() + i, szDevName, nameLen) == 0) {
            *pulDevState = 1;
            break;
        }
        i += entryLen + 1;
    }
    return frame.Finish(0, L"EnumDevice", __LINE__);
}
