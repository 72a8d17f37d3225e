#pragma once
// The SKF interface of a device handle: the operations that the device
// exports call on the object behind a DEVHANDLE.
#include <cstdint>

#include "SKFApi.h"

class ISKFDevice {
public:
    virtual ~ISKFDevice() {}
    virtual uint32_t DevAuth(const BYTE* pbAuthData, ULONG ulLen) = 0;
    virtual uint32_t ChangeDevAuth(const BYTE* pbKeyValue, ULONG ulKeyLen) = 0;
    virtual uint32_t CreateApplication(LPSTR szAppName, LPSTR szAdminPin, DWORD dwAdminPinRetryCount,
                                       LPSTR szUserPin, DWORD dwUserPinRetryCount, DWORD dwCreateFileRights,
                                       HAPPLICATION* phApplication) = 0;
    virtual uint32_t EnumApplication(LPSTR szAppName, ULONG* pulSize) = 0;
    virtual uint32_t DeleteApplication(LPSTR szAppName) = 0;
    virtual uint32_t OpenApplication(LPSTR szAppName, HAPPLICATION* phApplication) = 0;
    virtual uint32_t GenerateRandom(ULONG ulRandomLen, BYTE* pbRandom) = 0;
    virtual uint32_t GenExtRSAKey(ULONG ulBitsLen, RSAPRIVATEKEYBLOB* pBlob) = 0;
    virtual uint32_t SetSymmKey(BYTE* pbKey, ULONG ulAlgID, HANDLE* phKey) = 0;
    virtual uint32_t ExtRSAPubKeyOperation(RSAPUBLICKEYBLOB* pBlob, BYTE* pbInput, ULONG ulInputLen,
                                           BYTE* pbOutput, ULONG* pulOutputLen) = 0;
    virtual uint32_t ExtRSAPriKeyOperation(RSAPRIVATEKEYBLOB* pBlob, BYTE* pbInput, ULONG ulInputLen,
                                           BYTE* pbOutput, ULONG* pulOutputLen) = 0;
    virtual uint32_t RSAVerify(RSAPUBLICKEYBLOB* pBlob, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature,
                               ULONG ulSignLen) = 0;
    virtual uint32_t ECCVerify(ECCPUBLICKEYBLOB* pBlob, BYTE* pbData, ULONG ulDataLen, BYTE* pbR, BYTE* pbS) = 0;
    virtual uint32_t ExtECCEncrypt(ECCPUBLICKEYBLOB* pBlob, BYTE* pbPlainText, ULONG ulPlainTextLen,
                                   ECCCIPHERBLOB* pCipherText) = 0;
    virtual uint32_t ExtECCDecrypt(ECCPRIVATEKEYBLOB* pBlob, ECCCIPHERBLOB* pCipherText, BYTE* pbPlainText,
                                   ULONG* pulPlainTextLen) = 0;
    virtual uint32_t ExtECCSign(ECCPRIVATEKEYBLOB* pBlob, BYTE* pbData, ULONG ulDataLen, BYTE* pbR, BYTE* pbS) = 0;
    virtual uint32_t DigestInit(ULONG ulAlgID, ECCPUBLICKEYBLOB* pPubKey, unsigned char* pucID, ULONG ulIDLen,
                                HANDLE* phHash) = 0;
    virtual uint32_t GetDeviceInfo(DEVINFO* pDevInfo) = 0;
    virtual uint32_t SetTokenLabel(const char* pszLabel, uint32_t nLabelLen) = 0;
    virtual uint32_t Transmit(BYTE* pbCommand, ULONG ulCommandLen, BYTE* pbData, ULONG* pulDataLen) = 0;
};

// The one operation behind every slot that the library does not offer.
uint32_t SKFNotSupported();
