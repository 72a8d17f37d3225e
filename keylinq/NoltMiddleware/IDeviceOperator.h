#pragma once
// The token operations on one connected key. Every operation returns a
// 32-bit result code, 0 for success. The order of the declarations is the
// order of the operator's table.
#include <cstdint>

#include "ContainerRecord.h"

class CAsymKeyObject;
class CSymKeyHandle;

class IDeviceOperator {
public:
    virtual ~IDeviceOperator() {}

    // Containers.
    virtual uint32_t EnumContainer(char* pszNameList, uint32_t* pnSize, uint32_t nFlag) = 0;
    virtual uint32_t CreateContainer(const char* pszContainerName) = 0;
    virtual uint32_t DeleteContainer(const char* pszContainerName) = 0;
    virtual uint32_t ReadContainer(CONTAINER_RECORD* pContainer, uint32_t bFromMemoryOnly) = 0;
    // PINs.
    virtual uint32_t VerifyPIN(uint8_t byPinType, const char* pszPinBuf, uint8_t byPinLen) = 0;
    virtual uint32_t ChangePIN(uint8_t byPinType, const char* pszOldPin, uint8_t byOldPinLen, const char* pszNewPin,
                               uint8_t byNewPinLen) = 0;
    virtual uint32_t UnlockPIN(uint8_t byUnlockFlag, uint8_t* pbyUnlockBuf, uint32_t* pnUnlockLen) = 0;
    virtual uint32_t GetPINStatus(uint8_t byPinType, uint8_t* pbyStatus0, uint8_t* pbyStatus1, uint8_t* pbyStatus2,
                                  uint8_t* pbyStatus3) = 0;
    // Authentication and session.
    virtual uint32_t ComputeExternAuthKey(const uint8_t* pbyChipSN, uint32_t nChipSNLen,
                                          uint8_t* pbyExternAuthKey) = 0;
    virtual uint32_t ExternalAuth(const uint8_t* pbyExternAuthKey) = 0;
    virtual uint32_t SetSessionKey(uint32_t force) = 0;
    virtual uint32_t ClearAuthCode() = 0;
    virtual uint32_t InitTokenUser(uint8_t byResetFlag, uint8_t* pbyResetBuf, uint32_t* pnResetLen) = 0;
    // Keys, certificates, hashing on the key.
    virtual uint32_t GenerateRandom(uint8_t bySource, uint8_t byLen, uint8_t* pbyRandomData) = 0;
    virtual uint32_t GenerateKeyPair(const char* pszContainerName, uint8_t byKeyType, uint8_t byAlgID,
                                     CAsymKeyObject** ppKeyObject) = 0;
    virtual uint32_t ImportEncSessionKey(uint16_t nKeyFID, const uint8_t* pbyWrappedKey, uint32_t nWrappedLen) = 0;
    virtual uint32_t ImportKeyPair(const char* pszContainerName, uint8_t byKeyType, uint8_t byAlgID,
                                   const uint8_t* pKeyBuf, uint32_t nKeyLen, const uint8_t* pbyWrappedKey,
                                   uint32_t nWrappedLen, CAsymKeyObject** ppKeyObject) = 0;
    virtual uint32_t ExportPublicKey(const char* pszContainerName, uint8_t byKeyType, uint8_t* pbyAlgID,
                                     uint8_t* pbyKeyBuf, uint32_t* pnKeySize) = 0;
    virtual uint32_t ImportCert(const char* pszContainerName, uint8_t byKeyType, const uint8_t* pbyCertBuf,
                                uint32_t nCertLen) = 0;
    virtual uint32_t ExportCert(const char* pszContainerName, uint8_t byKeyType, uint8_t* pbyCertBuf,
                                uint32_t* pnCertLen) = 0;
    virtual uint32_t GetUserKey(const char* pszContainerName, uint8_t byKeyType, uint8_t* pbyAlgID,
                                CAsymKeyObject** ppKeyObject) = 0;
    virtual uint32_t GetZValue(const char* pszContainerName, uint8_t* pbyZValue) = 0;
    virtual uint32_t HashInit(uint8_t byHashAlgID, void** ppHashHandle) = 0;
    virtual uint32_t HashUpdate(const uint8_t* pbyDataBuf, uint32_t nDataLen) = 0;
    virtual uint32_t HashFinal(uint8_t* pbyDigestBuf, uint32_t* pnDigestLen) = 0;
    virtual uint32_t InitSymKey(uint8_t byAlgID, uint8_t byCryptType, uint8_t byMode, const uint8_t* pbyKey,
                                const uint8_t* pbyIV, CSymKeyHandle** ppSymKey) = 0;
    // Token information, flash, files on the key, administration.
    virtual uint32_t SignWithAdminKey(const uint8_t* pbyRawBuf, uint32_t nRawLen, uint8_t* pbySignBuf,
                                      uint32_t* pnSignLen) = 0;
    virtual uint32_t GetChipSN(uint8_t* pbyChipSN, uint32_t* pnSNLen) = 0;
    virtual uint32_t EraseMF() = 0;
    virtual uint32_t EraseCOS() = 0;
    virtual uint32_t InitTokenFile() = 0;
    virtual uint32_t InitTokenApp() = 0;
    virtual uint32_t GetTokenAppInfo(char* pszAppName, uint8_t* pAppInfo) = 0;
    virtual uint32_t GetDeviceInfo(uint8_t* pDevInfo) = 0;
    virtual uint32_t SetTokenLabel(const char* pszLabel, uint32_t nLabelLen) = 0;
    virtual uint32_t GetTokenLabel(char* pszLabel, uint32_t* pnLabelLen) = 0;
    virtual uint32_t SetTokenSN(const char* pszSN, uint32_t nSNLen) = 0;
    virtual uint32_t GetTokenSN(char* pszSN, uint32_t* pnSNLen) = 0;
    virtual uint32_t WriteFlash(uint16_t nPage, const uint8_t* pbyInBuf, uint32_t nInLen) = 0;
    virtual uint32_t ReadFlash(uint16_t nPage, uint8_t* pbyOutBuf, uint32_t nOutLen) = 0;
    virtual uint32_t EraseFlash() = 0;
    virtual uint32_t GetCosFileInfo(uint16_t nFileID, uint8_t byKind, uint32_t nBufSize, uint8_t* pbyDataBuf) = 0;
    virtual uint32_t CreateCosFile(uint16_t nFileID, uint16_t nSize) = 0;
    virtual uint32_t DeleteCosFile(uint16_t nFileID) = 0;
    virtual uint32_t WriteCosFile(uint16_t nOffset, uint16_t nFileID, const uint8_t* pbyInbuf, uint32_t nInLen) = 0;
    virtual uint32_t ReadCosFile(uint16_t nOffset, uint16_t nFileID, uint8_t* pbyOutbuf, uint32_t* pnOutLen) = 0;
};
