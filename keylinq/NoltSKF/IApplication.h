#pragma once
// The SKF interface of an application handle: the PIN family, the files of
// the application and its containers, in this order.
#include <cstdint>

#include "SKFApi.h"

class IApplication {
public:
    virtual ~IApplication() {}
    virtual uint32_t VerifyPIN(ULONG ulPINType, const char* szPIN, ULONG* pulRetryCount) = 0;
    virtual uint32_t ChangePIN(ULONG ulPINType, const char* szOldPin, const char* szNewPin, ULONG* pulRetryCount) = 0;
    virtual uint32_t UnlockPIN(const char* szAdminPIN, const char* szNewUserPIN, ULONG* pulRetryCount) = 0;
    virtual uint32_t GetPINStatus(ULONG ulPINType, ULONG* pulMaxRetryCount, ULONG* pulRemainRetryCount,
                                  BOOL* pbDefaultPin) = 0;
    virtual uint32_t ClearAuthCode() = 0;
    virtual uint32_t EnumCosFile(char* szFileList, ULONG* pulSize) = 0;
    virtual uint32_t GetCosFileInfo(const char* szFileName, FILEATTRIBUTE* pFileInfo) = 0;
    virtual uint32_t CreateCosFile(const char* szFileName, ULONG ulFileSize, ULONG ulReadRights,
                                   ULONG ulWriteRights) = 0;
    virtual uint32_t DeleteCosFile(const char* szFileName) = 0;
    virtual uint32_t WriteCosFile(const char* szFileName, ULONG ulOffset, const BYTE* pbData, ULONG ulSize) = 0;
    virtual uint32_t ReadCosFile(const char* szFileName, ULONG ulOffset, ULONG ulSize, BYTE* pbOutData,
                                 ULONG* pulOutLen) = 0;
    virtual uint32_t EnumContainer(char* szContainerNames, ULONG* pulSize) = 0;
    virtual uint32_t CreateContainer(const char* szContainerName, HCONTAINER* phContainer) = 0;
    virtual uint32_t DeleteContainer(const char* szContainerName) = 0;
    virtual uint32_t OpenContainer(const char* szContainerName, HCONTAINER* phContainer) = 0;
};
