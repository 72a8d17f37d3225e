#pragma once
// The object behind a DEVHANDLE: the token operator of one connected key
// with the SKF device interface beside it. The handle is the address of
// the whole object, that is of its operator part.
#include "NoltOperator.h"
#include "SKFDevice.h"

// Fixed buffer sizes that the device information reports.
constexpr ULONG SKF_MAX_ECC_BUFFER_SIZE = 128;
constexpr ULONG SKF_MAX_BUFFER_SIZE = 256;
// Time-out of a raw command sent with SKF_Transmit, in seconds.
constexpr DWORD SKF_TRANSMIT_TIMEOUT_S = 180;

class CDeviceObject : public CNoltOperator, public ISKFDevice {
public:
    explicit CDeviceObject(CDeviceContext* pDeviceContext);
    ~CDeviceObject() override;

    // The operator's label write, traced under this class.
    uint32_t SetTokenLabel(const char* pszLabel, uint32_t nLabelLen) override;

    // ISKFDevice
    uint32_t DevAuth(const BYTE* pbAuthData, ULONG ulLen) override;
    uint32_t ChangeDevAuth(const BYTE* pbKeyValue, ULONG ulKeyLen) override;
    uint32_t CreateApplication(LPSTR szAppName, LPSTR szAdminPin, DWORD dwAdminPinRetryCount, LPSTR szUserPin,
                               DWORD dwUserPinRetryCount, DWORD dwCreateFileRights,
                               HAPPLICATION* phApplication) override;
    uint32_t EnumApplication(LPSTR szAppName, ULONG* pulSize) override;
    uint32_t DeleteApplication(LPSTR szAppName) override;
    uint32_t OpenApplication(LPSTR szAppName, HAPPLICATION* phApplication) override;
    uint32_t GenerateRandom(ULONG ulRandomLen, BYTE* pbRandom) override;
    uint32_t GenExtRSAKey(ULONG ulBitsLen, RSAPRIVATEKEYBLOB* pBlob) override;
    uint32_t SetSymmKey(BYTE* pbKey, ULONG ulAlgID, HANDLE* phKey) override;
    uint32_t ExtRSAPubKeyOperation(RSAPUBLICKEYBLOB* pBlob, BYTE* pbInput, ULONG ulInputLen, BYTE* pbOutput,
                                   ULONG* pulOutputLen) override;
    uint32_t ExtRSAPriKeyOperation(RSAPRIVATEKEYBLOB* pBlob, BYTE* pbInput, ULONG ulInputLen, BYTE* pbOutput,
                                   ULONG* pulOutputLen) override;
    uint32_t RSAVerify(RSAPUBLICKEYBLOB* pBlob, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature,
                       ULONG ulSignLen) override;
    uint32_t ECCVerify(ECCPUBLICKEYBLOB* pBlob, BYTE* pbData, ULONG ulDataLen, BYTE* pbR, BYTE* pbS) override;
    uint32_t ExtECCEncrypt(ECCPUBLICKEYBLOB* pBlob, BYTE* pbPlainText, ULONG ulPlainTextLen,
                           ECCCIPHERBLOB* pCipherText) override;
    uint32_t ExtECCDecrypt(ECCPRIVATEKEYBLOB* pBlob, ECCCIPHERBLOB* pCipherText, BYTE* pbPlainText,
                           ULONG* pulPlainTextLen) override;
    uint32_t ExtECCSign(ECCPRIVATEKEYBLOB* pBlob, BYTE* pbData, ULONG ulDataLen, BYTE* pbR, BYTE* pbS) override;
    uint32_t DigestInit(ULONG ulAlgID, ECCPUBLICKEYBLOB* pPubKey, unsigned char* pucID, ULONG ulIDLen,
                        HANDLE* phHash) override;
    uint32_t GetDeviceInfo(DEVINFO* pDevInfo) override;
    uint32_t Transmit(BYTE* pbCommand, ULONG ulCommandLen, BYTE* pbData, ULONG* pulDataLen) override;

    using CDeviceOperator::GetDeviceInfo;  // the 288-byte record

protected:
    // Opens "ZELK" as an application object of that class.
    template <class Application>
    uint32_t OpenApplicationAs(LPSTR szAppName, HAPPLICATION* phApplication);
};

// The class of every device handle of this edition.
class CDeviceZOPRA : public CDeviceObject {
public:
    explicit CDeviceZOPRA(CDeviceContext* pDeviceContext);
    ~CDeviceZOPRA() override;
    uint32_t OpenApplication(LPSTR szAppName, HAPPLICATION* phApplication) override;
};

// The object behind a device handle (the handle is its operator's address).
inline CDeviceObject* DeviceObjectFromHandle(DEVHANDLE hDev) {
    return static_cast<CDeviceObject*>(static_cast<CDeviceOperator*>(hDev));
}
