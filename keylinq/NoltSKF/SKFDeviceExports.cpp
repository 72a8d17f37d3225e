// The exports on an open device handle (ordinals 7 to 13): label, device
// information, lock, raw commands, device authentication.
#include <cstring>

#include "DeviceContext.h"
#include "DeviceObject.h"
#include "ExportFrame.h"

namespace {
constexpr ULONG kMaxLabelLen = 32;
}

ULONG __stdcall SKF_SetLabel(DEVHANDLE hDev, LPSTR szLabel) {
    CExportFrame frame(L"SKF_SetLabel");
    SKF_REQUIRE(szLabel);
    const uint32_t nLabelLen = uint32_t(strlen(szLabel));
    SKF_REFUSE_IF(nLabelLen > kMaxLabelLen, L"CHECK szLabel length", SAR_INDATALENERR);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    CDeviceObject* pDevice = DeviceObjectFromHandle(hDev);
    return frame.Call(L"SetTokenLabel", [&] { return pDevice->SetTokenLabel(szLabel, nLabelLen); });
}

ULONG __stdcall SKF_GetDevInfo(DEVHANDLE hDev, DEVINFO* pDevInfo) {
    CExportFrame frame(L"SKF_GetDevInfo");
    SKF_REQUIRE(pDevInfo);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    ISKFDevice* pDevice = DeviceObjectFromHandle(hDev);
    return frame.Call(L"GetDeviceInfo", [&] { return pDevice->GetDeviceInfo(pDevInfo); });
}

ULONG __stdcall SKF_LockDev(DEVHANDLE hDev, ULONG) {
    CExportFrame frame(L"SKF_LockDev");
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    // The mutex stays with the calling thread until SKF_UnlockDev.
    if (!frame.WaitMutex()) return frame.Result();
    return frame.Finish(0, L"WaitDevMutex", __LINE__);
}

ULONG __stdcall SKF_UnlockDev(DEVHANDLE hDev) {
    CExportFrame frame(L"SKF_UnlockDev");
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK hDev");
    frame.ReleaseMutex();  // also when this thread did not own it
    return frame.Finish(0, L"ReleaseDevMutex", __LINE__);
}

ULONG __stdcall SKF_Transmit(DEVHANDLE hDev, BYTE* pbCommand, ULONG ulCommandLen, BYTE* pbData, ULONG* pulDataLen) {
    CExportFrame frame(L"SKF_Transmit");
    SKF_REQUIRE(pbCommand);
    SKF_REQUIRE(pbData);
    SKF_REQUIRE(pulDataLen);
    SKF_REFUSE_IF(NULL == hDev, L"CHECK hDev", SAR_INVALIDHANDLEERR);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    ISKFDevice* pDevice = DeviceObjectFromHandle(hDev);
    return frame.Call(L"Transmit", [&] { return pDevice->Transmit(pbCommand, ulCommandLen, pbData, pulDataLen); });
}

ULONG __stdcall SKF_ChangeDevAuthKey(DEVHANDLE hDev, BYTE* pbKeyValue, ULONG ulKeyLen) {
    CExportFrame frame(L"SKF_ChangeDevAuthKey");
    SKF_REQUIRE(pbKeyValue);
    SKF_REFUSE_IF(AUTH_KEY_LENGTH != ulKeyLen, L"CHECK ulKeyLen", SAR_INVALIDPARAMERR);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    ISKFDevice* pDevice = DeviceObjectFromHandle(hDev);
    return frame.Call(L"ChangeDevAuth", [&] { return pDevice->ChangeDevAuth(pbKeyValue, AUTH_KEY_LENGTH); });
}

ULONG __stdcall SKF_DevAuth(DEVHANDLE hDev, BYTE* pbAuthData, ULONG ulLen) {
    CExportFrame frame(L"SKF_DevAuth");
    SKF_REQUIRE(pbAuthData);
    SKF_REFUSE_IF(AUTH_KEY_LENGTH != ulLen, L"CHECK ulLen", SAR_INVALIDPARAMERR);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    ISKFDevice* pDevice = DeviceObjectFromHandle(hDev);
    return frame.Call(L"DevAuth", [&] { return pDevice->DevAuth(pbAuthData, AUTH_KEY_LENGTH); });
}
