#pragma once
// The SKF interface of a container handle. The key-pair, signature,
// session-key and agreement slots come with their own families; until then
// they answer "not supported yet".
#include <cstdint>

#include "SKFApi.h"

class IContainer {
public:
    virtual ~IContainer() {}
    virtual uint32_t GetContainerValid(uint32_t* pAlgID, uint16_t* pnExchKeyFID, uint16_t* pnExchCertFID,
                                       uint16_t* pnSignKeyFID, uint16_t* pnSignCertFID) = 0;
    virtual uint32_t GetContainerType(ULONG* pulContainerType) = 0;
    virtual uint32_t ImportCertificate(BOOL bSignFlag, const BYTE* pbCert, ULONG ulCertLen) = 0;
    virtual uint32_t ExportCertificate(BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen) = 0;
    virtual uint32_t GenerateKeyPair(ULONG ulKeySizeOrAlgId, void* pBlob) = 0;
    virtual uint32_t ImportKeyPair(ULONG ulSymAlgId, BYTE* pbWrappedKey, ULONG ulWrappedKeyLen, ULONG ulBits,
                                   BYTE* pbEncryptedKey, ULONG ulEncryptedKeyLen) = 0;
    virtual uint32_t RSASignData(BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature, ULONG* pulSignLen) = 0;
    virtual uint32_t RSAExportSessionKey(ULONG ulAlgId, RSAPUBLICKEYBLOB* pPubKey, BYTE* pbData, ULONG* pulDataLen,
                                         HANDLE* phSessionKey) = 0;
    virtual uint32_t ECCSignData(BYTE* pbData, ULONG ulDataLen, BYTE* pbR, BYTE* pbS) = 0;
    virtual uint32_t ECCExportSessionKey(ULONG ulAlgId, ECCPUBLICKEYBLOB* pPubKey, ECCCIPHERBLOB* pData,
                                         HANDLE* phSessionKey) = 0;
    virtual uint32_t GenerateAgreementDataWithECC(ULONG ulAlgId, ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID,
                                                  ULONG ulIDLen, HANDLE* phAgreementHandle) = 0;
    virtual uint32_t GenerateAgreementDataAndKeyWithECC(ULONG ulAlgId, ECCPUBLICKEYBLOB* pSponsorECCPubKeyBlob,
                                                        ECCPUBLICKEYBLOB* pSponsorTempECCPubKeyBlob,
                                                        ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID,
                                                        ULONG ulIDLen, BYTE* pbSponsorID, ULONG ulSponsorIDLen,
                                                        HANDLE* phKeyHandle) = 0;
    virtual uint32_t ExportPublicKey(BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen) = 0;
    virtual uint32_t ImportSessionKey(ULONG ulAlgId, BYTE* pbWrapedData, ULONG ulWrapedLen, HANDLE* phKey) = 0;
};
