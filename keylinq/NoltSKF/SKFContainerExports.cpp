// The container family: container management (ordinals 30 to 37), key
// pairs and signatures (40 to 42, 47 to 49, 59), session keys and key
// agreement (44, 51, 56 to 58, 60) and the two decryption extensions (79,
// 80).
#include <cstring>

#include "ApplicationObject.h"
#include "ContainerObject.h"
#include "DeviceObject.h"
#include "ExportFrame.h"
#include "KeyObject.h"

namespace {
constexpr size_t kContainerNameField = 40;  // VM_CTNR_NAME_LENGTH, NUL included
constexpr ULONG kMaxIDLen = 32;
constexpr ULONG SGD_SM2 = 0x00020100;
constexpr ULONG SGD_SM2_1 = 0x00020200;
}  // namespace

ULONG __stdcall SKF_CreateContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer) {
    CExportFrame frame(L"SKF_CreateContainer");
    SKF_REQUIRE(szContainerName);
    SKF_REFUSE_IF(strlen(szContainerName) >= kContainerNameField, L"CHECK szContainerName length", SAR_NAMELENERR);
    SKF_REQUIRE(phContainer);
    SKF_REQUIRE_HANDLE(hApplication, Application, L"CHECK_APP_PCTX");
    IApplication* pApplication = ApplicationFromHandle(hApplication);
    HCONTAINER hCreated = nullptr;
    const ULONG rc =
        frame.Call(L"CreateContainer", [&] { return pApplication->CreateContainer(szContainerName, &hCreated); });
    if (rc == SAR_OK) {
        SKFHandles::Add(hCreated, SKFHandleKind::Container, frame.Context(), &DestroyContainerObject);
        *phContainer = hCreated;
    }
    return rc;
}

ULONG __stdcall SKF_DeleteContainer(HAPPLICATION hApplication, LPSTR szContainerName) {
    CExportFrame frame(L"SKF_DeleteContainer");
    SKF_REQUIRE(szContainerName);
    SKF_REFUSE_IF(strlen(szContainerName) >= kContainerNameField, L"CHECK szContainerName length", SAR_NAMELENERR);
    SKF_REQUIRE_HANDLE(hApplication, Application, L"CHECK_APP_PCTX");
    // The operator table's DeleteContainer (the application's own override).
    CDeviceOperator* pOperator = ApplicationFromHandle(hApplication);
    return frame.Call(L"DeleteContainer", [&] { return pOperator->DeleteContainer(szContainerName); });
}

ULONG __stdcall SKF_OpenContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer) {
    CExportFrame frame(L"SKF_OpenContainer");
    SKF_REQUIRE(szContainerName);
    SKF_REFUSE_IF(strlen(szContainerName) >= kContainerNameField, L"CHECK szContainerName length", SAR_NAMELENERR);
    SKF_REQUIRE(phContainer);
    SKF_REQUIRE_HANDLE(hApplication, Application, L"CHECK_APP_PCTX");
    IApplication* pApplication = ApplicationFromHandle(hApplication);
    HCONTAINER hOpened = nullptr;
    const ULONG rc =
        frame.Call(L"OpenContainer", [&] { return pApplication->OpenContainer(szContainerName, &hOpened); });
    if (rc == SAR_OK) {
        SKFHandles::Add(hOpened, SKFHandleKind::Container, frame.Context(), &DestroyContainerObject);
        *phContainer = hOpened;
    }
    return rc;
}

ULONG __stdcall SKF_CloseContainer(HCONTAINER hContainer) {
    CExportFrame frame(L"SKF_CloseContainer");
    SKF_REQUIRE_HANDLE(hContainer, Container, L"CHECK_CNTR_PCTX");
    // No device mutex and no device work: out of the live set at once, the
    // object destroyed when no call runs on it any more.
    if (!SKFHandles::Close(hContainer, SKFHandleKind::Container))
        return frame.Refuse(SAR_INVALIDHANDLEERR, L"CHECK_CNTR_PCTX", L"!SKFHandles::Remove(hContainer)", __LINE__);
    return frame.Finish(SAR_OK, L"CloseContainer", __LINE__);
}

ULONG __stdcall SKF_EnumContainer(HAPPLICATION hApplication, LPSTR szContainerName, ULONG* pulSize) {
    CExportFrame frame(L"SKF_EnumContainer");
    SKF_REQUIRE(pulSize);
    SKF_REQUIRE_HANDLE(hApplication, Application, L"CHECK_APP_PCTX");
    IApplication* pApplication = ApplicationFromHandle(hApplication);
    return frame.Call(L"EnumContainer", [&] { return pApplication->EnumContainer(szContainerName, pulSize); });
}

ULONG __stdcall SKF_GetContainerType(HCONTAINER hContainer, ULONG* pulContainerType) {
    CExportFrame frame(L"SKF_GetContainerType");
    SKF_REQUIRE(pulContainerType);
    SKF_REQUIRE_HANDLE(hContainer, Container, L"CHECK_CNTR_PCTX");
    IContainer* pContainer = ContainerFromHandle(hContainer);
    return frame.Call(L"GetContainerType", [&] { return pContainer->GetContainerType(pulContainerType); });
}

ULONG __stdcall SKF_ImportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG ulCertLen) {
    CExportFrame frame(L"SKF_ImportCertificate");
    SKF_REQUIRE(pbCert);
    SKF_REQUIRE_HANDLE(hContainer, Container, L"CHECK_CNTR_PCTX");
    IContainer* pContainer = ContainerFromHandle(hContainer);
    return frame.Call(L"ImportCertificate",
                      [&] { return pContainer->ImportCertificate(bSignFlag, pbCert, ulCertLen); });
}

ULONG __stdcall SKF_ExportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen) {
    CExportFrame frame(L"SKF_ExportCertificate");
    SKF_REQUIRE(pulCertLen);
    SKF_REQUIRE_HANDLE(hContainer, Container, L"CHECK_CNTR_PCTX");
    IContainer* pContainer = ContainerFromHandle(hContainer);
    return frame.Call(L"ExportCertificate",
                      [&] { return pContainer->ExportCertificate(bSignFlag, pbCert, pulCertLen); });
}

ULONG __stdcall SKF_GenRSAKeyPair(HCONTAINER hContainer, ULONG ulBitsLen, RSAPUBLICKEYBLOB* pBlob) {
    CExportFrame frame(L"SKF_GenRSAKeyPair");
    SKF_REQUIRE(pBlob);
    SKF_REQUIRE_HANDLE(hContainer, Container, L"CHECK_CNTR_PCTX");
    IContainer* pContainer = ContainerFromHandle(hContainer);
    return frame.Call(L"GenerateKeyPair", [&] { return pContainer->GenerateKeyPair(ulBitsLen, pBlob); });
}

ULONG __stdcall SKF_ImportRSAKeyPair(HCONTAINER hContainer, ULONG ulSymAlgId, BYTE* pbWrappedKey,
                                     ULONG ulWrappedKeyLen, BYTE* pbEncryptedData, ULONG ulEncryptedDataLen) {
    CExportFrame frame(L"SKF_ImportRSAKeyPair");
    SKF_REQUIRE(pbWrappedKey);
    SKF_REQUIRE(pbEncryptedData);
    SKF_REQUIRE_HANDLE(hContainer, Container, L"CHECK_CNTR_PCTX");
    IContainer* pContainer = ContainerFromHandle(hContainer);
    // The key size follows the wrapped key's length; a length whose bit
    // count would wrap selects no size.
    const ULONG keyBits = ulWrappedKeyLen <= 0x1000 ? ulWrappedKeyLen * 8 : 0;
    return frame.Call(L"ImportKeyPair", [&] {
        return pContainer->ImportKeyPair(ulSymAlgId, pbWrappedKey, ulWrappedKeyLen, keyBits, pbEncryptedData,
                                         ulEncryptedDataLen);
    });
}

ULONG __stdcall SKF_RSASignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature,
                                ULONG* pulSignLen) {
    CExportFrame frame(L"SKF_RSASignData");
    SKF_REQUIRE(pbData);
    SKF_REQUIRE(pulSignLen);
    SKF_REQUIRE_HANDLE(hContainer, Container, L"CHECK_CNTR_PCTX");
    IContainer* pContainer = ContainerFromHandle(hContainer);
    return frame.Call(L"RSASignData",
                      [&] { return pContainer->RSASignData(pbData, ulDataLen, pbSignature, pulSignLen); });
}

ULONG __stdcall SKF_RSAExportSessionKey(HCONTAINER hContainer, ULONG, RSAPUBLICKEYBLOB* pPubKey, BYTE*,
                                        ULONG* pulDataLen, HANDLE*) {
    CExportFrame frame(L"SKF_RSAExportSessionKey");
    SKF_REQUIRE(pPubKey);
    SKF_REQUIRE(pulDataLen);
    SKF_REQUIRE_HANDLE(hContainer, Container, L"CHECK_CNTR_PCTX");
    return frame.Call(L"RSAExportSessionKey", SKFNotSupported);
}

ULONG __stdcall SKF_GenECCKeyPair(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pBlob) {
    CExportFrame frame(L"SKF_GenECCKeyPair");
    SKF_REFUSE_IF(ulAlgId != SGD_SM2 && ulAlgId != SGD_SM2_1, L"CHECK ulAlgId", SAR_INVALIDPARAMERR);
    SKF_REQUIRE(pBlob);
    SKF_REQUIRE_HANDLE(hContainer, Container, L"CHECK_CNTR_PCTX");
    IContainer* pContainer = ContainerFromHandle(hContainer);
    return frame.Call(L"GenerateKeyPair", [&] { return pContainer->GenerateKeyPair(ulAlgId, pBlob); });
}

ULONG __stdcall SKF_ImportECCKeyPair(HCONTAINER hContainer, ENVELOPEDKEYBLOB* pEnvelopedKeyBlob) {
    CExportFrame frame(L"SKF_ImportECCKeyPair");
    SKF_REQUIRE(pEnvelopedKeyBlob);
    SKF_REQUIRE_HANDLE(hContainer, Container, L"CHECK_CNTR_PCTX");
    IContainer* pContainer = ContainerFromHandle(hContainer);
    return frame.Call(L"ImportKeyPair", [&] {
        return pContainer->ImportKeyPair(pEnvelopedKeyBlob->ulSymmAlgID, nullptr, 0, 256,
                                         reinterpret_cast<BYTE*>(pEnvelopedKeyBlob), sizeof(ENVELOPEDKEYBLOB));
    });
}

ULONG __stdcall SKF_ECCSignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen, ECCSIGNATUREBLOB* pSignature) {
    CExportFrame frame(L"SKF_ECCSignData");
    SKF_REQUIRE(pbData);
    SKF_REQUIRE(pSignature);
    SKF_REQUIRE_HANDLE(hContainer, Container, L"CHECK_CNTR_PCTX");
    IContainer* pContainer = ContainerFromHandle(hContainer);
    return frame.Call(L"ECCSignData",
                      [&] { return pContainer->ECCSignData(pbData, ulDataLen, pSignature->r, pSignature->s); });
}

ULONG __stdcall SKF_ECCExportSessionKey(HCONTAINER hContainer, ULONG, ECCPUBLICKEYBLOB* pPubKey, ECCCIPHERBLOB* pData,
                                        HANDLE* phSessionKey) {
    CExportFrame frame(L"SKF_ECCExportSessionKey");
    SKF_REQUIRE(pPubKey);
    SKF_REQUIRE(pData);
    SKF_REQUIRE(phSessionKey);
    SKF_REQUIRE_HANDLE(hContainer, Container, L"CHECK_CNTR_PCTX");
    return frame.Call(L"ECCExportSessionKey", SKFNotSupported);
}

ULONG __stdcall SKF_GenerateAgreementDataWithECC(HCONTAINER hContainer, ULONG ulAlgId,
                                                 ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                                 HANDLE* phAgreementHandle) {
    CExportFrame frame(L"SKF_GenerateAgreementDataWithECC");
    SKF_REQUIRE(pTempECCPubKeyBlob);
    SKF_REQUIRE(pbID);
    SKF_REFUSE_IF(ulIDLen > kMaxIDLen, L"CHECK ulIDLen", SAR_INDATALENERR);
    SKF_REQUIRE(phAgreementHandle);
    SKF_REQUIRE_HANDLE(hContainer, Container, L"CHECK_CNTR_PCTX");
    IContainer* pContainer = ContainerFromHandle(hContainer);
    HANDLE hAgreement = nullptr;
    const ULONG rc = frame.Call(L"GenerateAgreementDataWithECC", [&] {
        return pContainer->GenerateAgreementDataWithECC(ulAlgId, pTempECCPubKeyBlob, pbID, ulIDLen, &hAgreement);
    });
    if (rc == SAR_OK) {
        SKFHandles::Add(hAgreement, SKFHandleKind::Key, frame.Context(), &DestroyKeyObject);
        *phAgreementHandle = hAgreement;
    }
    return rc;
}

ULONG __stdcall SKF_GenerateAgreementDataAndKeyWithECC(HANDLE hContainer, ULONG ulAlgId,
                                                       ECCPUBLICKEYBLOB* pSponsorECCPubKeyBlob,
                                                       ECCPUBLICKEYBLOB* pSponsorTempECCPubKeyBlob,
                                                       ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                                       BYTE* pbSponsorID, ULONG ulSponsorIDLen, HANDLE* phKeyHandle) {
    CExportFrame frame(L"SKF_GenerateAgreementDataAndKeyWithECC");
    SKF_REQUIRE(pSponsorECCPubKeyBlob);
    SKF_REQUIRE(pSponsorTempECCPubKeyBlob);
    SKF_REQUIRE(pTempECCPubKeyBlob);
    SKF_REQUIRE(pbID);
    SKF_REQUIRE(pbSponsorID);
    SKF_REQUIRE(phKeyHandle);
    SKF_REQUIRE_HANDLE(hContainer, Container, L"CHECK_CNTR_PCTX");
    IContainer* pContainer = ContainerFromHandle(hContainer);
    HANDLE hKey = nullptr;
    const ULONG rc = frame.Call(L"GenerateAgreementDataAndKeyWithECC", [&] {
        return pContainer->GenerateAgreementDataAndKeyWithECC(ulAlgId, pSponsorECCPubKeyBlob,
                                                              pSponsorTempECCPubKeyBlob, pTempECCPubKeyBlob, pbID,
                                                              ulIDLen, pbSponsorID, ulSponsorIDLen, &hKey);
    });
    if (rc == SAR_OK) {
        SKFHandles::Add(hKey, SKFHandleKind::Key, frame.Context(), &DestroyKeyObject);
        *phKeyHandle = hKey;
    }
    return rc;
}

ULONG __stdcall SKF_GenerateKeyWithECC(HANDLE hAgreementHandle, ECCPUBLICKEYBLOB* pECCPubKeyBlob,
                                       ECCPUBLICKEYBLOB* pTempECCPubKeyBlob, BYTE* pbID, ULONG ulIDLen,
                                       HANDLE* phKeyHandle) {
    CExportFrame frame(L"SKF_GenerateKeyWithECC");
    SKF_REQUIRE(pECCPubKeyBlob);
    SKF_REQUIRE(pTempECCPubKeyBlob);
    SKF_REQUIRE(pbID);
    SKF_REQUIRE(phKeyHandle);
    SKF_REQUIRE_HANDLE(hAgreementHandle, Key, L"CHECK_KEY_PCTX");
    CKeyObject* pAgreement = KeyObjectFromHandle(hAgreementHandle);
    HANDLE hKey = nullptr;
    const ULONG rc = frame.Call(L"GenerateKeyWithECC", [&] {
        return pAgreement->GenerateKeyWithECC(pECCPubKeyBlob, pTempECCPubKeyBlob, pbID, ulIDLen, &hKey);
    });
    if (rc == SAR_OK) {
        SKFHandles::Add(hKey, SKFHandleKind::Key, frame.Context(), &DestroyKeyObject);
        *phKeyHandle = hKey;
    }
    return rc;
}

ULONG __stdcall SKF_ExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen) {
    CExportFrame frame(L"SKF_ExportPublicKey");
    SKF_REQUIRE(pulBlobLen);
    SKF_REQUIRE_HANDLE(hContainer, Container, L"CHECK_CNTR_PCTX");
    IContainer* pContainer = ContainerFromHandle(hContainer);
    return frame.Call(L"ExportPublicKey",
                      [&] { return pContainer->ExportPublicKey(bSignFlag, pbBlob, pulBlobLen); });
}

ULONG __stdcall SKF_ImportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, BYTE* pbWrapedData, ULONG ulWrapedLen,
                                     HANDLE* phKey) {
    CExportFrame frame(L"SKF_ImportSessionKey");
    SKF_REQUIRE(pbWrapedData);
    SKF_REQUIRE(phKey);
    SKF_REQUIRE_HANDLE(hContainer, Container, L"CHECK_CNTR_PCTX");
    IContainer* pContainer = ContainerFromHandle(hContainer);
    HANDLE hKey = nullptr;
    const ULONG rc = frame.Call(
        L"ImportSessionKey", [&] { return pContainer->ImportSessionKey(ulAlgId, pbWrapedData, ulWrapedLen, &hKey); });
    if (rc == SAR_OK) {
        SKFHandles::Add(hKey, SKFHandleKind::Key, frame.Context(), &DestroyKeyObject);
        *phKey = hKey;
    }
    return rc;
}

ULONG __stdcall SKFEX_RSADecrypt(HCONTAINER hContainer, BYTE* pbIn, ULONG ulInLen, BYTE* pbOut, ULONG* pulOutLen,
                                 ULONG ulKeySpec) {
    CExportFrame frame(L"SKFEX_RSADecrypt");
    SKF_REQUIRE(pbIn);
    SKF_REQUIRE(pulOutLen);
    SKF_REQUIRE_HANDLE(hContainer, Container, L"CHECK_CNTR_PCTX");
    CContainerZOPRA* pContainer = dynamic_cast<CContainerZOPRA*>(ContainerFromHandle(hContainer));
    SKF_REFUSE_IF(!pContainer, L"CHECK CContainerZOPRA", SAR_NOTSUPPORTYETERR);
    return frame.Call(L"RSADecrypt",
                      [&] { return pContainer->RSADecrypt(pbIn, ulInLen, pbOut, pulOutLen, ulKeySpec); });
}

ULONG __stdcall SKFEX_ECCDecrypt(HCONTAINER hContainer, ULONG ulKeySpec, ECCCIPHERBLOB* pCipherText, BYTE* pbData,
                                 ULONG* pdwDataLen) {
    CExportFrame frame(L"SKFEX_ECCDecrypt");
    SKF_REQUIRE(pCipherText);
    SKF_REQUIRE(pdwDataLen);
    SKF_REQUIRE_HANDLE(hContainer, Container, L"CHECK_CNTR_PCTX");
    CContainerZOPRA* pContainer = dynamic_cast<CContainerZOPRA*>(ContainerFromHandle(hContainer));
    SKF_REFUSE_IF(!pContainer, L"CHECK CContainerZOPRA", SAR_NOTSUPPORTYETERR);
    return frame.Call(L"ECCDecrypt",
                      [&] { return pContainer->ECCDecrypt(ulKeySpec, pCipherText, pbData, pdwDataLen); });
}
