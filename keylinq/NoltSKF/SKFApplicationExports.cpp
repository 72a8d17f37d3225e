// The PIN family (ordinals 14 to 18), application management (19 to 23)
// and the file family (24 to 29).
#include <cstring>

#include "ApplicationObject.h"
#include "DeviceObject.h"
#include "ExportFrame.h"

namespace {
constexpr size_t kMinPinSize = MIN_PIN_SIZE;
constexpr size_t kMaxPinSize = MAX_PIN_SIZE;
constexpr size_t kMaxFileNameLen = 32;
}  // namespace

ULONG __stdcall SKF_ChangePIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szOldPin, LPSTR szNewPin,
                              ULONG* pulRetryCount) {
    CExportFrame frame(L"SKF_ChangePIN");
    SKF_REFUSE_IF(NULL == szOldPin, L"CHECK szOldPin", SAR_PIN_INVALID);
    SKF_REFUSE_IF(NULL == szNewPin, L"CHECK szNewPin", SAR_PIN_INVALID);
    SKF_REFUSE_IF(strlen(szNewPin) < kMinPinSize, L"CHECK szNewPin min length", SAR_PIN_LEN_RANGE);
    SKF_REFUSE_IF(strlen(szNewPin) > kMaxPinSize, L"CHECK szNewPin max length", SAR_PIN_LEN_RANGE);
    SKF_REQUIRE(pulRetryCount);
    SKF_REQUIRE_HANDLE(hApplication, Application, L"CHECK_APP_PCTX");
    IApplication* pApplication = ApplicationFromHandle(hApplication);
    return frame.Call(L"ChangePIN",
                      [&] { return pApplication->ChangePIN(ulPINType, szOldPin, szNewPin, pulRetryCount); });
}

ULONG __stdcall SKF_GetPINInfo(HAPPLICATION hApplication, ULONG ulPINType, ULONG* pulMaxRetryCount, ULONG* pulRemainRetryCount,
                               BOOL* pbDefaultPin) {
    CExportFrame frame(L"SKF_GetPINInfo");
    SKF_REQUIRE(pulMaxRetryCount);
    SKF_REQUIRE(pulRemainRetryCount);
    SKF_REQUIRE(pbDefaultPin);
    SKF_REQUIRE_HANDLE(hApplication, Application, L"CHECK_APP_PCTX");
    IApplication* pApplication = ApplicationFromHandle(hApplication);
    return frame.Call(L"GetPINStatus", [&] {
        return pApplication->GetPINStatus(ulPINType, pulMaxRetryCount, pulRemainRetryCount, pbDefaultPin);
    });
}

ULONG __stdcall SKF_VerifyPIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szPIN, ULONG* pulRetryCount) {
    CExportFrame frame(L"SKF_VerifyPIN");
    SKF_REQUIRE(szPIN);
    SKF_REQUIRE(pulRetryCount);
    SKF_REQUIRE_HANDLE(hApplication, Application, L"CHECK_APP_PCTX");
    IApplication* pApplication = ApplicationFromHandle(hApplication);
    return frame.Call(L"VerifyPIN", [&] { return pApplication->VerifyPIN(ulPINType, szPIN, pulRetryCount); });
}

ULONG __stdcall SKF_UnblockPIN(HAPPLICATION hApplication, LPSTR szAdminPIN, LPSTR szNewUserPIN, ULONG* pulRetryCount) {
    CExportFrame frame(L"SKF_UnblockPIN");
    SKF_REFUSE_IF(NULL == szAdminPIN, L"CHECK szAdminPIN", SAR_PIN_INVALID);
    SKF_REFUSE_IF(NULL == szNewUserPIN, L"CHECK szNewUserPIN", SAR_PIN_INVALID);
    SKF_REQUIRE(pulRetryCount);
    SKF_REQUIRE_HANDLE(hApplication, Application, L"CHECK_APP_PCTX");
    IApplication* pApplication = ApplicationFromHandle(hApplication);
    return frame.Call(L"UnlockPIN",
                      [&] { return pApplication->UnlockPIN(szAdminPIN, szNewUserPIN, pulRetryCount); });
}

ULONG __stdcall SKF_ClearSecureState(HAPPLICATION hApplication) {
    CExportFrame frame(L"SKF_ClearSecureState");
    SKF_REQUIRE_HANDLE(hApplication, Application, L"CHECK_APP_PCTX");
    // The operator table's ClearAuthCode (the application's own override).
    CDeviceOperator* pOperator = ApplicationFromHandle(hApplication);
    return frame.Call(L"ClearAuthCode", [&] { return pOperator->ClearAuthCode(); });
}

ULONG __stdcall SKF_CreateApplication(DEVHANDLE hDev, LPSTR szAppName, LPSTR szAdminPin, DWORD dwAdminPinRetryCount,
                                      LPSTR szUserPin, DWORD dwUserPinRetryCount, DWORD dwCreateFileRights,
                                      HAPPLICATION* phApplication) {
    CExportFrame frame(L"SKF_CreateApplication");
    SKF_REQUIRE(szAppName);
    SKF_REQUIRE(szAdminPin);
    SKF_REQUIRE(szUserPin);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    ISKFDevice* pDevice = DeviceObjectFromHandle(hDev);
    return frame.Call(L"CreateApplication", [&] {
        return pDevice->CreateApplication(szAppName, szAdminPin, dwAdminPinRetryCount, szUserPin,
                                          dwUserPinRetryCount, dwCreateFileRights, phApplication);
    });
}

ULONG __stdcall SKF_EnumApplication(DEVHANDLE hDev, LPSTR szAppName, ULONG* pulSize) {
    CExportFrame frame(L"SKF_EnumApplication");
    SKF_REQUIRE(pulSize);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    ISKFDevice* pDevice = DeviceObjectFromHandle(hDev);
    return frame.Call(L"EnumApplication", [&] { return pDevice->EnumApplication(szAppName, pulSize); });
}

ULONG __stdcall SKF_DeleteApplication(DEVHANDLE hDev, LPSTR szAppName) {
    CExportFrame frame(L"SKF_DeleteApplication");
    SKF_REQUIRE(szAppName);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    ISKFDevice* pDevice = DeviceObjectFromHandle(hDev);
    return frame.Call(L"DeleteApplication", [&] { return pDevice->DeleteApplication(szAppName); });
}

ULONG __stdcall SKF_OpenApplication(DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION* phApplication) {
    CExportFrame frame(L"SKF_OpenApplication");
    SKF_REQUIRE(szAppName);
    SKF_REQUIRE(phApplication);
    SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
    ISKFDevice* pDevice = DeviceObjectFromHandle(hDev);
    HAPPLICATION hOpened = nullptr;
    const ULONG rc =
        frame.Call(L"OpenApplication", [&] { return pDevice->OpenApplication(szAppName, &hOpened); });
    if (rc == SAR_OK) {
        SKFHandles::Add(hOpened, SKFHandleKind::Application, frame.Context(), &DestroyApplicationObject);
        *phApplication = hOpened;
    }
    return rc;
}

ULONG __stdcall SKF_CloseApplication(HAPPLICATION hApplication) {
    CExportFrame frame(L"SKF_CloseApplication");
    SKF_REQUIRE_HANDLE(hApplication, Application, L"CHECK_APP_PCTX");
    // Out of the live set at once: no later call reaches the object, which
    // goes when no call runs on it any more.
    if (!SKFHandles::Close(hApplication, SKFHandleKind::Application))
        return frame.Refuse(SAR_INVALIDHANDLEERR, L"CHECK_APP_PCTX", L"!SKFHandles::Remove(hApplication)", __LINE__);
    return frame.Finish(SAR_OK, L"CloseApplication", __LINE__);
}

ULONG __stdcall SKF_CreateFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulFileSize, ULONG ulReadRights,
                               ULONG ulWriteRights) {
    CExportFrame frame(L"SKF_CreateFile");
    SKF_REQUIRE(szFileName);
    SKF_REFUSE_IF(strlen(szFileName) > kMaxFileNameLen, L"CHECK szFileName length", SAR_NAMELENERR);
    SKF_REQUIRE_HANDLE(hApplication, Application, L"CHECK_APP_PCTX");
    IApplication* pApplication = ApplicationFromHandle(hApplication);
    return frame.Call(L"CreateCosFile", [&] {
        return pApplication->CreateCosFile(szFileName, ulFileSize, ulReadRights, ulWriteRights);
    });
}

ULONG __stdcall SKF_DeleteFile(HAPPLICATION hApplication, LPSTR szFileName) {
    CExportFrame frame(L"SKF_DeleteFile");
    SKF_REQUIRE(szFileName);
    SKF_REFUSE_IF(strlen(szFileName) > kMaxFileNameLen, L"CHECK szFileName length", SAR_NAMELENERR);
    SKF_REQUIRE_HANDLE(hApplication, Application, L"CHECK_APP_PCTX");
    IApplication* pApplication = ApplicationFromHandle(hApplication);
    return frame.Call(L"DeleteCosFile", [&] { return pApplication->DeleteCosFile(szFileName); });
}

ULONG __stdcall SKF_EnumFiles(HAPPLICATION hApplication, LPSTR szFileList, ULONG* pulSize) {
    CExportFrame frame(L"SKF_EnumFiles");
    SKF_REQUIRE(pulSize);
    SKF_REQUIRE_HANDLE(hApplication, Application, L"CHECK_APP_PCTX");
    IApplication* pApplication = ApplicationFromHandle(hApplication);
    return frame.Call(L"EnumCosFile", [&] { return pApplication->EnumCosFile(szFileList, pulSize); });
}

ULONG __stdcall SKF_GetFileInfo(HAPPLICATION hApplication, LPSTR szFileName, FILEATTRIBUTE* pFileInfo) {
    CExportFrame frame(L"SKF_GetFileInfo");
    SKF_REQUIRE(szFileName);
    SKF_REFUSE_IF(strlen(szFileName) > kMaxFileNameLen, L"CHECK szFileName length", SAR_NAMELENERR);
    SKF_REQUIRE(pFileInfo);
    SKF_REQUIRE_HANDLE(hApplication, Application, L"CHECK_APP_PCTX");
    IApplication* pApplication = ApplicationFromHandle(hApplication);
    return frame.Call(L"GetCosFileInfo", [&] { return pApplication->GetCosFileInfo(szFileName, pFileInfo); });
}

ULONG __stdcall SKF_ReadFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, ULONG ulSize, BYTE* pbOutData,
                             ULONG* pulOutLen) {
    CExportFrame frame(L"SKF_ReadFile");
    SKF_REQUIRE(szFileName);
    SKF_REFUSE_IF(strlen(szFileName) > kMaxFileNameLen, L"CHECK szFileName length", SAR_NAMELENERR);
    SKF_REQUIRE(pulOutLen);
    SKF_REQUIRE_HANDLE(hApplication, Application, L"CHECK_APP_PCTX");
    IApplication* pApplication = ApplicationFromHandle(hApplication);
    return frame.Call(L"ReadCosFile",
                      [&] { return pApplication->ReadCosFile(szFileName, ulOffset, ulSize, pbOutData, pulOutLen); });
}

ULONG __stdcall SKF_WriteFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset, BYTE* pbInData, ULONG ulSize) {
    CExportFrame frame(L"SKF_WriteFile");
    SKF_REQUIRE(szFileName);
    SKF_REFUSE_IF(strlen(szFileName) > kMaxFileNameLen, L"CHECK szFileName length", SAR_NAMELENERR);
    SKF_REQUIRE(pbInData);
    SKF_REQUIRE_HANDLE(hApplication, Application, L"CHECK_APP_PCTX");
    IApplication* pApplication = ApplicationFromHandle(hApplication);
    return frame.Call(L"WriteCosFile",
                      [&] { return pApplication->WriteCosFile(szFileName, ulOffset, pbInData, ulSize); });
}
