#pragma once
// The object behind an HCONTAINER: a platform operator of its own on the
// key's device context with its own copy of its container's record, and
// the SKF container interface beside it.
#include <cstdint>

#include "ContainerRecord.h"
#include "DialogObject.h"
#include "IContainer.h"

class CAsymKeyObject;

constexpr uint32_t VM_CTNR_NAME_LENGTH = 40;  // a container name with its NUL
constexpr uint8_t VM_KEY_EXCHANGE = 1;
constexpr uint8_t VM_KEY_SIGNATURE = 2;

class CContainerObject : public CDialogObject, public IContainer {
public:
    explicit CContainerObject(CDeviceContext* pDeviceContext);
    ~CContainerObject() override;

    void SetContainerName(const char* pszName);
    const char* GetContainerName() const { return m_szContainerName; }
    void SetSingleCert(uint32_t bSingleCert) { m_bSingleCert = bSingleCert; }
    uint32_t IsSingleCert() const { return m_bSingleCert; }
    // The container was deleted through the library: every later operation
    // fails, so that a new container in its place on the key is never
    // reached through this handle.
    void MarkDeleted() { m_bDeleted = 1; }
    bool IsDeleted() const { return m_bDeleted != 0; }

    uint32_t GetContainerValid(uint32_t* pAlgID, uint16_t* pnExchKeyFID, uint16_t* pnExchCertFID,
                               uint16_t* pnSignKeyFID, uint16_t* pnSignCertFID) override;
    uint32_t GetContainerType(ULONG* pulContainerType) override;
    uint32_t ImportCertificate(BOOL bSignFlag, const BYTE* pbCert, ULONG ulCertLen) override;
    uint32_t ExportCertificate(BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen) override;
    uint32_t GenerateKeyPair(ULONG ulKeySizeOrAlgId, void* pBlob) override;
    uint32_t ImportKeyPair(ULONG ulSymAlgId, BYTE* pbWrappedKey, ULONG ulWrappedKeyLen, ULONG ulBits,
                           BYTE* pbEncryptedKey, ULONG ulEncryptedKeyLen) override;
    uint32_t RSASignData(BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature, ULONG* pulSignLen) override;
    uint32_t RSAExportSessionKey(ULONG ulAlgId, RSAPUBLICKEYBLOB* pPubKey, BYTE* pbData, ULONG* pulDataLen,
                                 HANDLE* phSessionKey) override;
    uint32_t ECCSignData(BYTE* pbData, ULONG ulDataLen, BYTE* pbR, BYTE* pbS) override;
    uint32_t ECCExportSessionKey(ULONG ulAlgId, ECCPUBLICKEYBLOB* pPubKey, ECCCIPHERBLOB* pData,
                                 HANDLE* phSessionKey) override;
    uint32_t GenerateAgreementDataWithECC(ULONG ulAlgId, ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID,
                                          ULONG ulIDLen, HANDLE* phAgreementHandle) override;
    uint32_t GenerateAgreementDataAndKeyWithECC(ULONG ulAlgId, ECCPUBLICKEYBLOB* pSponsorECCPubKeyBlob,
                                                ECCPUBLICKEYBLOB* pSponsorTempECCPubKeyBlob,
                                                ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                                BYTE* pbSponsorID, ULONG ulSponsorIDLen,
                                                HANDLE* phKeyHandle) override;
    uint32_t ExportPublicKey(BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen) override;
    uint32_t ImportSessionKey(ULONG ulAlgId, BYTE* pbWrapedData, ULONG ulWrapedLen, HANDLE* phKey) override;

protected:
    // The key file of the container's SM2 key pair that agrees session keys
    // (the exchange key, else the signature key), with the checks of the
    // device context that the agreement commands need.
    uint32_t AgreementKeyFID(uint16_t* pnKeyFID);
    // The key of an operation named by bSignFlag: the exchange key (which
    // must exist) for false; the signature key for true, or the exchange
    // key when there is none.
    uint32_t KeySpecOf(BOOL bSignFlag, uint8_t* pKeySpec);
    // The container's algorithm and the key object of its signing key (the
    // signature key, else the exchange key); SAR_KEYINFOTYPEERR, and no key
    // object, when the container's keys are not RSA (bRsa) or SM2.
    uint32_t NewSigningKey(bool bRsa, uint32_t* pAlgID, CAsymKeyObject** ppKey);

private:
    char m_szContainerName[VM_CTNR_NAME_LENGTH];
    uint32_t m_bSingleCert;
    uint32_t m_bDeleted;
};

// The class of every container handle of this edition.
class CContainerZOPRA : public CContainerObject {
public:
    explicit CContainerZOPRA(CDeviceContext* pDeviceContext);
    ~CContainerZOPRA() override;

    // The key's raw private-key operation on one RSA block, and the SM2
    // decryption of an ECCCIPHERBLOB of at most 128 bytes of plaintext.
    // ulKeySpec 2 selects the signature key, any other value the exchange key.
    uint32_t RSADecrypt(BYTE* pbIn, ULONG ulInLen, BYTE* pbOut, ULONG* pulOutLen, ULONG ulKeySpec);
    uint32_t ECCDecrypt(ULONG ulKeySpec, ECCCIPHERBLOB* pCipherText, BYTE* pbData, ULONG* pdwDataLen);

private:
    uint32_t DecryptKey(uint32_t alg, ULONG ulKeySpec, const uint8_t* pbIn, uint32_t nInLen, uint8_t* pbOut,
                        uint32_t* pnOutLen);
};

inline CContainerObject* ContainerFromHandle(HCONTAINER hContainer) {
    return static_cast<CContainerObject*>(static_cast<CDeviceOperator*>(hContainer));
}
inline HCONTAINER HandleOfContainer(CContainerObject* pContainer) { return static_cast<CDeviceOperator*>(pContainer); }
// Destroys the object of a closed container handle (the handle set's destroy).
inline void DestroyContainerObject(const void* handle) {
    delete ContainerFromHandle(const_cast<void*>(handle));
}
