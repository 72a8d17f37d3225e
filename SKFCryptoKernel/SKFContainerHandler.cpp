// The container handler: opening and closing a container, its type, its
// certificates and public keys in the callers' forms, key generation, the
// RSA and the enveloped SM2 key-pair imports, and signing.
#include "SKFContainerHandler.h"

#include <wincrypt.h>

#include <openssl/rand.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "ASN1EngineEx.h"
#include "Base64Utility.h"
#include "CertificateRequest.h"
#include "Encoding.h"
#include "RegCertificate.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"SKFCryptoKernel\\SKFContainerHandler"

namespace {

constexpr HRESULT kBadAlgorithm = static_cast<HRESULT>(0x80090008);   // NTE_BAD_ALGID
constexpr HRESULT kBadKey = static_cast<HRESULT>(0x80090015);         // NTE_BAD_PUBLIC_KEY
constexpr HRESULT kBadHashLength = static_cast<HRESULT>(0x80090002);  // NTE_BAD_LEN
constexpr HRESULT kBadData = static_cast<HRESULT>(0x80090003);        // NTE_BAD_KEY
constexpr HRESULT kNoRandom = static_cast<HRESULT>(0x80090005);       // NTE_BAD_DATA

constexpr DWORD kRSABlobSize = sizeof(RSAPUBLICKEYBLOB);   // 268
constexpr DWORD kECCBlobSize = sizeof(ECCPUBLICKEYBLOB);   // 132
constexpr DWORD kSM3HashSize = 32;
constexpr DWORD kCoordinateField = 64;
constexpr DWORD kCoordinate = 32;
constexpr DWORD kCSPBlobX = 12;   // X field of the CSP SM2 blob
constexpr DWORD kCSPBlobY = 76;   // Y field
constexpr DWORD kSM4KeySize = 16;
constexpr BYTE kPublicKeyBlobType = 6;  // PUBLICKEYBLOB
constexpr DWORD kKeyPairPlainSize = 96;  // X || Y || D
constexpr DWORD kSM2CipherOfKeySize = 112;  // x1 || y1 || C3 || C2 of a 16-byte key
const char kSMSignatureOIDPrefix[] = "1.2.156.10197";

HRESULT Fold(ULONG rc) { return HResultFromError(LONG(rc)); }

}  // namespace

bool SKFSignFlagOfAlgorithm(DWORD dwAlgID, BOOL* pbSignFlag) {
    switch (dwAlgID) {
        case SKF_ALG_AT_KEYEXCHANGE:
        case SKF_ALG_CALG_RSA_KEYX:
        case SKF_ALG_CALG_SM2_KEYX:
            *pbSignFlag = FALSE;
            return true;
        case SKF_ALG_AT_SIGNATURE:
        case SKF_ALG_CALG_RSA_SIGN:
        case SKF_ALG_CALG_SM2_SIGN:
            *pbSignFlag = TRUE;
            return true;
        default:
            return false;
    }
}

namespace {

bool IsRSABitLength(ULONG bits) { return bits == 1024 || bits == 2048; }

void WipeAndDelete(BYTE* p, size_t n) {
    if (!p) return;
    SecureZeroMemory(p, n);
    delete[] p;
}

// Asks the library for a buffer's size (NULL buffer), allocates it zeroed
// and asks again for the data. The buffer is array new.
template <typename Call>
HRESULT SizeThenData(Call call, BYTE** ppbyData, ULONG* pulSize, ULONG* pulSizeRc) {
    ULONG size = 0;
    ULONG rc = call(nullptr, &size);
    if (pulSizeRc) *pulSizeRc = rc;
    if (rc != SAR_OK) return Fold(rc);
    BYTE* data = new (std::nothrow) BYTE[size ? size : 1]();
    if (!data) return E_OUTOFMEMORY;
    rc = call(data, &size);
    if (rc != SAR_OK) {
        delete[] data;
        return Fold(rc);
    }
    *ppbyData = data;
    *pulSize = size;
    return S_OK;
}

}  // namespace

void FreeSM2KeyHandle(SM2KeyHandle* pKeyHandle) {
    if (!pKeyHandle) return;
    if (pKeyHandle->pbPrivateKey) SecureZeroMemory(pKeyHandle->pbPrivateKey, pKeyHandle->dwPrivateKeySize);
    delete[] pKeyHandle->pbPrivateKey;
    delete[] pKeyHandle->pbPublicKey;
    pKeyHandle->pbPrivateKey = nullptr;
    pKeyHandle->pbPublicKey = nullptr;
    pKeyHandle->dwPrivateKeySize = 0;
    pKeyHandle->dwPublicKeySize = 0;
    delete pKeyHandle;
}

CSKFContainerHandler::CSKFContainerHandler(ISKFModuleCaller* pSKFModuleCaller)
    : m_pSKFModuleCaller(pSKFModuleCaller), m_hApplication(nullptr), m_hContainer(nullptr), m_pstSM2KeyHandle(nullptr) {}

CSKFContainerHandler::~CSKFContainerHandler() {
    TRACE_SCOPE(L"CSKFContainerHandler::~CSKFContainerHandler");
    const HRESULT hr = CloseContainer();
    TraceValue(L"CloseContainer", DWORD(hr));
    m_hApplication = nullptr;
    FreeSM2KeyHandle(m_pstSM2KeyHandle);
    m_pstSM2KeyHandle = nullptr;
}

CSKFContainerHandler* CSKFContainerHandler::FromContainerName(const wchar_t* lpwContainerName,
                                                              HAPPLICATION hApplication,
                                                              ISKFModuleCaller* pSKFModuleCaller) {
    TRACE_SCOPE(L"CSKFContainerHandler::FromContainerName");
    HRESULT hr = S_OK;
    CSKFContainerHandler* pHandler = nullptr;

    CHECK_GOTO(pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(hApplication == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(lpwContainerName == NULL || wcslen(lpwContainerName) == 0, L"Check Parameter", E_INVALIDARG);
    pHandler = new (std::nothrow) CSKFContainerHandler(pSKFModuleCaller);
    CHECK_GOTO(pHandler == NULL, L"New CSKFContainerHandler", E_OUTOFMEMORY);
    hr = pHandler->OpenContainer(hApplication, lpwContainerName);
    if (hr != S_OK) {
        delete pHandler;
        pHandler = nullptr;
        FAIL_GOTO(L"OpenContainer", L"hResult != S_OK", hr);
    }
exit:
    return pHandler;
}

HRESULT CSKFContainerHandler::OpenContainer(HAPPLICATION hApplication, const wchar_t* lpwContainerName) {
    TRACE_SCOPE(L"CSKFContainerHandler::OpenContainer");
    HRESULT hr = S_OK;
    ULONG rc = 0;
    char* pszName = nullptr;
    HCONTAINER hContainer = nullptr;

    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(hApplication == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(lpwContainerName == NULL || wcslen(lpwContainerName) == 0, L"Check Parameter", E_INVALIDARG);
    hr = UTF16ToUTF8(lpwContainerName, &pszName, nullptr);
    if (hr != S_OK) FAIL_GOTO(L"UTF16ToUTF8", L"hResult != S_OK", hr);
    rc = m_pSKFModuleCaller->SKF_OpenContainer(hApplication, pszName, &hContainer);
    if (rc != SAR_OK) {
        if (hContainer) m_pSKFModuleCaller->SKF_CloseContainer(hContainer);
        FAIL_GOTO(L"SKF_OpenContainer", L"hResult != SAR_OK", Fold(rc));
    }
    m_strContainerName = lpwContainerName;
    m_hApplication = hApplication;
    m_hContainer = hContainer;
exit:
    delete[] pszName;
    return hr;
}

HRESULT CSKFContainerHandler::CloseContainer() {
    TRACE_SCOPE(L"CSKFContainerHandler::CloseContainer");
    HRESULT hr = S_OK;
    ULONG rc = 0;

    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    if (m_hContainer == NULL) goto exit;
    rc = m_pSKFModuleCaller->SKF_CloseContainer(m_hContainer);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_CloseContainer", L"hResult != SAR_OK", Fold(rc));
    m_hContainer = nullptr;
exit:
    return hr;
}

HRESULT CSKFContainerHandler::GetContainerType(DWORD* pdwContainerType) {
    TRACE_SCOPE(L"CSKFContainerHandler::GetContainerType");
    HRESULT hr = S_OK;
    ULONG rc = 0;
    ULONG ulSize = 0;

    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_hContainer == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(pdwContainerType == NULL, L"Check Parameter", E_INVALIDARG);
    // Only the size tells: a container without a signature key (or a failed
    // query) reports none.
    rc = m_pSKFModuleCaller->SKF_ExportPublicKey(m_hContainer, TRUE, nullptr, &ulSize);
    TraceValue(L"SKF_ExportPublicKey", rc);
    if (ulSize == kRSABlobSize) *pdwContainerType = 1;
    else if (ulSize == kECCBlobSize) *pdwContainerType = 2;
    else if (ulSize == 0) *pdwContainerType = 0;
    else FAIL_GOTO(L"Public Key Length Invalid.", L"ulKeyDataSize is not RSA or ECC", kBadKey);
exit:
    return hr;
}

HRESULT CSKFContainerHandler::ExportCertificate(BOOL bSignFlag, BYTE** ppbyCertData, DWORD* pdwCertDataSize) {
    TRACE_SCOPE(L"CSKFContainerHandler::ExportCertificate");
    HRESULT hr = S_OK;
    BYTE* pbyCertData = nullptr;
    ULONG ulSize = 0;
    ULONG rcSize = SAR_OK;

    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_hContainer == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(ppbyCertData == NULL || pdwCertDataSize == NULL, L"Check Parameter", E_INVALIDARG);
    hr = SizeThenData(
        [&](BYTE* p, ULONG* n) { return m_pSKFModuleCaller->SKF_ExportCertificate(m_hContainer, bSignFlag, p, n); },
        &pbyCertData, &ulSize, &rcSize);
    if (hr != S_OK)
        FAIL_GOTO(rcSize != SAR_OK ? L"SKF_ExportCertificate(Size)" : L"SKF_ExportCertificate(Data)",
                  L"hResult != SAR_OK", hr);
    *ppbyCertData = pbyCertData;
    *pdwCertDataSize = ulSize;
exit:
    return hr;
}

HRESULT CSKFContainerHandler::ExportCertificate(BOOL bSignFlag, std::string& strCertData) {
    TRACE_SCOPE(L"CSKFContainerHandler::ExportCertificate");
    HRESULT hr = S_OK;
    BYTE* pbyCertData = nullptr;
    DWORD dwCertDataSize = 0;
    char* pszText = nullptr;
    int nTextLength = 0;

    hr = ExportCertificate(bSignFlag, &pbyCertData, &dwCertDataSize);
    if (hr != S_OK) FAIL_GOTO(L"ExportCertificate", L"hResult != S_OK", hr);
    hr = Base64EncodeEx(pbyCertData, int(dwCertDataSize), &pszText, &nTextLength, ATL_BASE64_FLAG_NONE);
    if (hr != S_OK) FAIL_GOTO(L"Base64EncodeEx", L"hResult != S_OK", hr);
    strCertData.assign(pszText, size_t(nTextLength));
exit:
    delete[] pbyCertData;
    delete[] pszText;
    return hr;
}

HRESULT CSKFContainerHandler::CheckSM2CertPublicKeyMatched(const BYTE* pbyCertPubKey, DWORD dwCertPubKeySize,
                                                           BYTE* pbyExportPubKey, DWORD dwExportPubKeySize) {
    TRACE_SCOPE(L"CSKFContainerHandler::CheckSM2CertPublicKeyMatched");
    HRESULT hr = S_OK;

    CHECK_GOTO(pbyCertPubKey == NULL || pbyExportPubKey == NULL, L"Check Parameter", E_INVALIDARG);
    if (dwExportPubKeySize != SKF_CSP_SM2_PUBLIC_KEY_SIZE || pbyExportPubKey[0] != kPublicKeyBlobType)
        FAIL_GOTO(L"Check Parameter", L"dwExportPubKeySize != sizeof(BLOBHEADER) + sizeof(ECCPUBLICKEYBLOB)",
                  E_INVALIDARG);
    // 04 || X || Y.
    if (dwCertPubKeySize != 1 + 2 * kCoordinate)
        FAIL_GOTO(L"SM2 public key size is not 64 bytes!", L"dwPubKeyDataSize != 64", kBadKey);
    std::reverse(pbyExportPubKey + kCSPBlobX, pbyExportPubKey + kCSPBlobX + kCoordinate);
    CHECK_GOTO(memcmp(pbyExportPubKey + kCSPBlobX, pbyCertPubKey + 1, kCoordinate) != 0,
               L"SM2 Public Key X not Matched!", kBadKey);
    std::reverse(pbyExportPubKey + kCSPBlobY, pbyExportPubKey + kCSPBlobY + kCoordinate);
    CHECK_GOTO(memcmp(pbyExportPubKey + kCSPBlobY, pbyCertPubKey + 1 + kCoordinate, kCoordinate) != 0,
               L"SM2 Public Key Y not Matched!", kBadKey);
exit:
    return hr;
}

HRESULT CSKFContainerHandler::ImportCertificate(BOOL bSignFlag, const BYTE* pbyCertData, DWORD dwCertDataSize) {
    TRACE_SCOPE(L"CSKFContainerHandler::ImportCertificate");
    HRESULT hr = S_OK;
    ULONG rc = 0;
    BYTE* pbyPubKeyData = nullptr;
    DWORD dwPubKeySize = 0;
    PCCERT_CONTEXT pstCertContext = nullptr;
    const CRYPT_BIT_BLOB* certKey = nullptr;

    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_hContainer == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(pbyCertData == NULL || dwCertDataSize == 0, L"Check Parameter", E_INVALIDARG);

    hr = ExportPublicKey(bSignFlag ? SKF_ALG_AT_SIGNATURE : SKF_ALG_AT_KEYEXCHANGE, &pbyPubKeyData, &dwPubKeySize);
    if (hr != S_OK) FAIL_GOTO(L"ExportPublicKey", L"hResult != S_OK", hr);

    pstCertContext = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, pbyCertData, dwCertDataSize);
    if (pstCertContext == NULL) FAIL_GOTO(L"CertCreateCertificateContext", L"NULL == pstCertContext", HResultFromLastError());
    certKey = &pstCertContext->pCertInfo->SubjectPublicKeyInfo.PublicKey;

    if (CheckCertSignatureAlg(pstCertContext, kSMSignatureOIDPrefix) == S_OK) {
        hr = CheckSM2CertPublicKeyMatched(certKey->pbData, certKey->cbData, pbyPubKeyData, dwPubKeySize);
        if (hr != S_OK) FAIL_GOTO(L"SM2 Public Key Data Not Matched!", L"hResult != S_OK", kBadKey);
    } else {
        // The whole key must be the container's RSA key: same length, same
        // bytes (an SM2 container's key is a CSP blob, never a match).
        CHECK_GOTO(pbyPubKeyData[0] == kPublicKeyBlobType || certKey->cbData != dwPubKeySize ||
                       memcmp(certKey->pbData, pbyPubKeyData, dwPubKeySize) != 0,
                   L"RSA Public Key Data Not Matched!", kBadKey);
    }

    rc = m_pSKFModuleCaller->SKF_ImportCertificate(m_hContainer, bSignFlag, const_cast<BYTE*>(pbyCertData),
                                                   dwCertDataSize);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_ImportCertificate", L"hResult != SAR_OK", Fold(rc));
exit:
    delete[] pbyPubKeyData;
    if (pstCertContext) CertFreeCertificateContext(pstCertContext);
    return hr;
}

HRESULT CSKFContainerHandler::CorrectSpecialProviderBlob(RSAPUBLICKEYBLOB& blob) {
    TRACE_SCOPE(L"CSKFContainerHandler::CorrectSpecialProviderBlob");
    HRESULT hr = S_OK;
    CHECK_GOTO(!IsRSABitLength(blob.BitLen), L"Invalid RSA Bit Length", kBadKey);
    // That provider writes the exponent least significant byte first and a
    // 1024-bit modulus at the start of its field.
    std::reverse(blob.PublicExponent, blob.PublicExponent + sizeof blob.PublicExponent);
    std::reverse(blob.Modulus, blob.Modulus + blob.BitLen / 8);
    std::reverse(blob.Modulus, blob.Modulus + sizeof blob.Modulus);
exit:
    return hr;
}

HRESULT CSKFContainerHandler::ConstructPKCS1RSAPublicKey(RSAPUBLICKEYBLOB stRSAPublicKeyBlob, BYTE** ppbyPublicKey,
                                                         DWORD* pdwPublicKeySize) {
    TRACE_SCOPE(L"CSKFContainerHandler::ConstructPKCS1RSAPublicKey");
    HRESULT hr = S_OK;
    BYTE* pbyModulus = nullptr;
    DWORD dwModulusSize = 0;
    BYTE* pbyExponent = nullptr;
    DWORD dwExponentSize = 0;
    std::vector<BYTE> body;
    const BYTE* modulus = nullptr;
    DWORD bytes = 0;
    BYTE value[sizeof stRSAPublicKeyBlob.Modulus];
    BYTE exponent[sizeof stRSAPublicKeyBlob.PublicExponent];

    CHECK_GOTO(ppbyPublicKey == NULL || pdwPublicKeySize == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(!IsRSABitLength(stRSAPublicKeyBlob.BitLen), L"Invalid RSA Bit Length", kBadKey);
    bytes = stRSAPublicKeyBlob.BitLen / 8;
    // A shorter modulus sits at the end of its field, or (as the key library
    // returns it) at the start: a zero first byte tells them apart, as a
    // modulus of the full bit length starts with a non-zero byte.
    modulus = stRSAPublicKeyBlob.Modulus;
    if (bytes < sizeof stRSAPublicKeyBlob.Modulus && modulus[0] == 0)
        modulus += sizeof stRSAPublicKeyBlob.Modulus - bytes;
    // Both integers least significant byte first, as the encoder takes them.
    std::reverse_copy(modulus, modulus + bytes, value);
    std::reverse_copy(stRSAPublicKeyBlob.PublicExponent,
                      stRSAPublicKeyBlob.PublicExponent + sizeof stRSAPublicKeyBlob.PublicExponent, exponent);
    hr = ComposeMultiByteUnsignedInt(&pbyExponent, &dwExponentSize, exponent, sizeof exponent);
    if (hr != S_OK) FAIL_GOTO(L"ComposeMultiByteUnsignedInt(Exponent)", L"hResult != S_OK", hr);
    hr = ComposeMultiByteUnsignedInt(&pbyModulus, &dwModulusSize, value, bytes);
    if (hr != S_OK) FAIL_GOTO(L"ComposeMultiByteUnsignedInt(Modulus)", L"hResult != S_OK", hr);
    body.assign(pbyModulus, pbyModulus + dwModulusSize);
    body.insert(body.end(), pbyExponent, pbyExponent + dwExponentSize);
    hr = ASN1Encode(ppbyPublicKey, pdwPublicKeySize, 0x30, body.data(), DWORD(body.size()));
    if (hr != S_OK) FAIL_GOTO(L"ASN1Encode", L"hResult != S_OK", hr);
exit:
    delete[] pbyModulus;
    delete[] pbyExponent;
    return hr;
}

HRESULT CSKFContainerHandler::ConstructCSPSM2PublicKey(ECCPUBLICKEYBLOB stECCPublicKeyBlob, DWORD dwAlgID,
                                                       BYTE** ppbyPublicKey, DWORD* pdwPublicKeySize) {
    TRACE_SCOPE(L"CSKFContainerHandler::ConstructCSPSM2PublicKey");
    HRESULT hr = S_OK;
    BYTE* pbyKey = nullptr;

    CHECK_GOTO(ppbyPublicKey == NULL || pdwPublicKeySize == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(stECCPublicKeyBlob.BitLen != 256, L"Invalid ECC Bit Length", kBadKey);
    pbyKey = new (std::nothrow) BYTE[SKF_CSP_SM2_PUBLIC_KEY_SIZE]();
    CHECK_GOTO(!pbyKey, L"New buffer", E_OUTOFMEMORY);
    pbyKey[0] = kPublicKeyBlobType;
    pbyKey[1] = 2;
    memcpy(pbyKey + 4, &dwAlgID, 4);
    memcpy(pbyKey + 8, &stECCPublicKeyBlob.BitLen, 4);
    std::reverse_copy(stECCPublicKeyBlob.XCoordinate, stECCPublicKeyBlob.XCoordinate + kCoordinateField,
                      pbyKey + kCSPBlobX);
    std::reverse_copy(stECCPublicKeyBlob.YCoordinate, stECCPublicKeyBlob.YCoordinate + kCoordinateField,
                      pbyKey + kCSPBlobY);
    *ppbyPublicKey = pbyKey;
    *pdwPublicKeySize = SKF_CSP_SM2_PUBLIC_KEY_SIZE;
exit:
    return hr;
}

HRESULT CSKFContainerHandler::GenerateKeyPair(DWORD dwAlgID, DWORD dwKeyLength, BYTE** ppbyPublicKey,
                                              DWORD* pdwPublicKeySize) {
    TRACE_SCOPE(L"CSKFContainerHandler::GenerateKeyPair");
    HRESULT hr = S_OK;
    ULONG rc = 0;
    RSAPUBLICKEYBLOB rsa;
    ECCPUBLICKEYBLOB ecc;
    memset(&rsa, 0, sizeof rsa);
    memset(&ecc, 0, sizeof ecc);

    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_hContainer == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(ppbyPublicKey == NULL || pdwPublicKeySize == NULL, L"Check Parameter", E_INVALIDARG);

    switch (dwAlgID) {
        case SKF_ALG_AT_KEYEXCHANGE:
        case SKF_ALG_CALG_RSA_KEYX:
            // The encryption key pair comes from the renewal server.
            FAIL_GOTO(L"Not need operation!", L"dwAlgID is an exchange key", kBadAlgorithm);
        case SKF_ALG_AT_SIGNATURE:
        case SKF_ALG_CALG_RSA_SIGN:
            if (dwKeyLength != 1024 && dwKeyLength != 2048)
                FAIL_GOTO(L"Invalid Key Length", L"dwKeyLength != 1024 && dwKeyLength != 2048", E_INVALIDARG);
            rc = m_pSKFModuleCaller->SKF_GenRSAKeyPair(m_hContainer, dwKeyLength, &rsa);
            if (rc != SAR_OK) FAIL_GOTO(L"SKF_GenRSAKeyPair", L"hResult != SAR_OK", Fold(rc));
            if (m_pSKFModuleCaller->IsOrvaneSKFForRMQT()) {
                hr = CorrectSpecialProviderBlob(rsa);
                if (hr != S_OK) FAIL_GOTO(L"CorrectSpecialProviderBlob", L"hResult != S_OK", hr);
            }
            hr = ConstructPKCS1RSAPublicKey(rsa, ppbyPublicKey, pdwPublicKeySize);
            if (hr != S_OK) FAIL_GOTO(L"ConstructPKCS1RSAPublicKey", L"hResult != S_OK", hr);
            break;
        case SKF_ALG_CALG_SM2_SIGN:
            rc = m_pSKFModuleCaller->SKF_GenECCKeyPair(m_hContainer, &ecc);
            if (rc != SAR_OK) FAIL_GOTO(L"SKF_GenECCKeyPair", L"hResult != SAR_OK", Fold(rc));
            hr = ConstructCSPSM2PublicKey(ecc, dwAlgID, ppbyPublicKey, pdwPublicKeySize);
            if (hr != S_OK) FAIL_GOTO(L"ConstructCSPSM2PublicKey", L"hResult != S_OK", hr);
            break;
        case SKF_ALG_CALG_SM2_KEYX:
            // A new temporary key pair on the host; nothing goes to the key.
            FreeSM2KeyHandle(m_pstSM2KeyHandle);
            m_pstSM2KeyHandle = nullptr;
            hr = SKFExtCipher::CreateKeyHandle(&m_pstSM2KeyHandle);
            if (hr != S_OK) FAIL_GOTO(L"SKFExtCipher::CreateKeyHandle", L"hResult != S_OK", hr);
            ecc.BitLen = 256;
            memcpy(ecc.XCoordinate + kCoordinate, m_pstSM2KeyHandle->pbPublicKey, kCoordinate);
            memcpy(ecc.YCoordinate + kCoordinate, m_pstSM2KeyHandle->pbPublicKey + kCoordinate, kCoordinate);
            hr = ConstructCSPSM2PublicKey(ecc, dwAlgID, ppbyPublicKey, pdwPublicKeySize);
            if (hr != S_OK) FAIL_GOTO(L"ConstructCSPSM2PublicKey", L"hResult != S_OK", hr);
            break;
        default:
            FAIL_GOTO(L"ALG ID Not Support!", L"dwAlgID is unknown", kBadAlgorithm);
    }
exit:
    return hr;
}

HRESULT CSKFContainerHandler::ExportPublicKey(DWORD dwAlgID, BYTE** ppbyPublicKey, DWORD* pdwPublicKeySize) {
    TRACE_SCOPE(L"CSKFContainerHandler::ExportPublicKey");
    HRESULT hr = S_OK;
    BOOL bSignFlag = FALSE;
    BYTE* pbyKeyData = nullptr;
    ULONG ulKeyDataSize = 0;
    ULONG rcSize = SAR_OK;

    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_hContainer == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(ppbyPublicKey == NULL || pdwPublicKeySize == NULL, L"Check Parameter", E_INVALIDARG);
    if (!SKFSignFlagOfAlgorithm(dwAlgID, &bSignFlag)) FAIL_GOTO(L"ALG ID Not Support!", L"dwAlgID is unknown", kBadAlgorithm);

    hr = SizeThenData(
        [&](BYTE* p, ULONG* n) { return m_pSKFModuleCaller->SKF_ExportPublicKey(m_hContainer, bSignFlag, p, n); },
        &pbyKeyData, &ulKeyDataSize, &rcSize);
    if (hr != S_OK)
        FAIL_GOTO(rcSize != SAR_OK ? L"SKF_ExportPublicKey(Size)" : L"SKF_ExportPublicKey(Data)",
                  L"hResult != SAR_OK", hr);

    if (ulKeyDataSize == kRSABlobSize) {
        RSAPUBLICKEYBLOB rsa;
        memcpy(&rsa, pbyKeyData, sizeof rsa);
        if (m_pSKFModuleCaller->IsOrvaneSKFForRMQT()) {
            hr = CorrectSpecialProviderBlob(rsa);
            if (hr != S_OK) FAIL_GOTO(L"CorrectSpecialProviderBlob", L"hResult != S_OK", hr);
        }
        hr = ConstructPKCS1RSAPublicKey(rsa, ppbyPublicKey, pdwPublicKeySize);
        if (hr != S_OK) FAIL_GOTO(L"ConstructPKCS1RSAPublicKey", L"hResult != S_OK", hr);
    } else if (ulKeyDataSize == kECCBlobSize) {
        ECCPUBLICKEYBLOB ecc;
        memcpy(&ecc, pbyKeyData, sizeof ecc);
        hr = ConstructCSPSM2PublicKey(ecc, dwAlgID, ppbyPublicKey, pdwPublicKeySize);
        if (hr != S_OK) FAIL_GOTO(L"ConstructCSPSM2PublicKey", L"hResult != S_OK", hr);
    } else {
        FAIL_GOTO(L"Invalid Public Key Length.", L"ulKeyDataSize is not RSA or ECC", kBadKey);
    }
exit:
    delete[] pbyKeyData;
    return hr;
}

HRESULT CSKFContainerHandler::ExportECCSignPublicKey(ECCPUBLICKEYBLOB** ppECCPubKeyBlob) {
    TRACE_SCOPE(L"CSKFContainerHandler::ExportECCSignPublicKey");
    HRESULT hr = S_OK;
    BYTE* pbyKeyData = nullptr;
    ULONG ulKeyDataSize = 0;
    ULONG rcSize = SAR_OK;
    ECCPUBLICKEYBLOB* pstECCPublicKeyBlob = nullptr;

    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_hContainer == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(ppECCPubKeyBlob == NULL, L"Check Parameter", E_INVALIDARG);
    hr = SizeThenData(
        [&](BYTE* p, ULONG* n) { return m_pSKFModuleCaller->SKF_ExportPublicKey(m_hContainer, TRUE, p, n); },
        &pbyKeyData, &ulKeyDataSize, &rcSize);
    if (hr != S_OK)
        FAIL_GOTO(rcSize != SAR_OK ? L"SKF_ExportPublicKey(Size)" : L"SKF_ExportPublicKey(Data)",
                  L"hResult != SAR_OK", hr);
    if (ulKeyDataSize != kECCBlobSize)
        FAIL_GOTO(L"Not ECC Public Key.", L"ulKeyDataSize != sizeof(ECCPUBLICKEYBLOB)", kBadKey);
    pstECCPublicKeyBlob = new (std::nothrow) ECCPUBLICKEYBLOB;
    CHECK_GOTO(!pstECCPublicKeyBlob, L"New buffer", E_OUTOFMEMORY);
    memcpy(pstECCPublicKeyBlob, pbyKeyData, sizeof *pstECCPublicKeyBlob);
    if (pstECCPublicKeyBlob->BitLen != 256) {
        delete pstECCPublicKeyBlob;
        FAIL_GOTO(L"Not ECC Public Key.", L"BitLen != 256", kBadKey);
    }
    *ppECCPubKeyBlob = pstECCPublicKeyBlob;
exit:
    delete[] pbyKeyData;
    return hr;
}

HRESULT CSKFContainerHandler::SignHashData(const BYTE* pbyHashData, DWORD dwHashDataSize, BYTE** ppbySignedData,
                                           DWORD* pdwSignedDataSize) {
    TRACE_SCOPE(L"CSKFContainerHandler::SignHashData");
    HRESULT hr = S_OK;
    DWORD dwType = 0;
    BYTE* pbySignature = nullptr;
    ULONG ulSignatureSize = 0;
    ULONG rcSize = SAR_OK;
    ULONG rc = 0;
    ECCSIGNATUREBLOB ecc;
    memset(&ecc, 0, sizeof ecc);

    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_hContainer == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(pbyHashData == NULL || dwHashDataSize == 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(ppbySignedData == NULL || pdwSignedDataSize == NULL, L"Check Parameter", E_INVALIDARG);
    hr = GetContainerType(&dwType);
    if (hr != S_OK) FAIL_GOTO(L"GetContainerType", L"hResult != S_OK", hr);

    if (dwType == 1) {
        hr = SizeThenData(
            [&](BYTE* p, ULONG* n) {
                return m_pSKFModuleCaller->SKF_RSASignData(m_hContainer, const_cast<BYTE*>(pbyHashData),
                                                           dwHashDataSize, p, n);
            },
            &pbySignature, &ulSignatureSize, &rcSize);
        if (hr != S_OK)
            FAIL_GOTO(rcSize != SAR_OK ? L"SKF_RSASignData(Size)" : L"SKF_RSASignData(Data)", L"hResult != SAR_OK",
                      hr);
        std::reverse(pbySignature, pbySignature + ulSignatureSize);
        *ppbySignedData = pbySignature;
        *pdwSignedDataSize = ulSignatureSize;
        pbySignature = nullptr;
    } else if (dwType == 2) {
        CHECK_GOTO(dwHashDataSize != kSM3HashSize, L"SM3 Hash Length Error!", kBadHashLength);
        rc = m_pSKFModuleCaller->SKF_ECCSignData(m_hContainer, const_cast<BYTE*>(pbyHashData), dwHashDataSize, &ecc);
        if (rc != SAR_OK) FAIL_GOTO(L"SKF_ECCSignData", L"hResult != SAR_OK", Fold(rc));
        std::reverse(ecc.r, ecc.r + sizeof ecc.r);
        std::reverse(ecc.s, ecc.s + sizeof ecc.s);
        pbySignature = new (std::nothrow) BYTE[2 * kCoordinate]();
        CHECK_GOTO(!pbySignature, L"New buffer", E_OUTOFMEMORY);
        memcpy(pbySignature, ecc.r, kCoordinate);
        memcpy(pbySignature + kCoordinate, ecc.s, kCoordinate);
        *ppbySignedData = pbySignature;
        *pdwSignedDataSize = 2 * kCoordinate;
        pbySignature = nullptr;
    } else {
        FAIL_GOTO(L"Container Unassigned Yet!", L"dwContainerType is not RSA or SM2", kBadData);
    }
exit:
    delete[] pbySignature;
    return hr;
}

HRESULT CSKFContainerHandler::ImportRSAKeyPair(const BYTE* pbyEncSessionKey, DWORD dwEncSessionKeySize,
                                               const BYTE* pbyEncPrivateKey, DWORD dwEncPrivateKeySize) {
    TRACE_SCOPE(L"CSKFContainerHandler::ImportRSAKeyPair");
    HRESULT hr = S_OK;
    ULONG rc = 0;

    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_hContainer == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(pbyEncSessionKey == NULL || dwEncSessionKeySize == 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(pbyEncPrivateKey == NULL || dwEncPrivateKeySize == 0, L"Check Parameter", E_INVALIDARG);
    rc = m_pSKFModuleCaller->SKF_ImportRSAKeyPair(m_hContainer, const_cast<BYTE*>(pbyEncSessionKey),
                                                  dwEncSessionKeySize, const_cast<BYTE*>(pbyEncPrivateKey),
                                                  dwEncPrivateKeySize);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_ImportRSAKeyPair", L"hResult != SAR_OK", Fold(rc));
exit:
    return hr;
}

HRESULT CSKFContainerHandler::ImportECCKeyPair(const BYTE* pbyEncPrivateKey, DWORD dwEncPrivateKeySize) {
    TRACE_SCOPE(L"CSKFContainerHandler::ImportECCKeyPair");
    HRESULT hr = S_OK;
    ULONG rc = 0;
    BYTE* pbyPubKeyData = nullptr;
    DWORD dwPubKeySize = 0;
    BYTE key[kSM4KeySize];
    BYTE* pbyCipherOfKey = nullptr;
    DWORD dwCipherOfKeySize = 0;
    BYTE* pbyKeyPairData = nullptr;
    DWORD dwKeyPairDataSize = 0;
    BYTE block[2 * kCoordinate];  // 0^32 || D
    BYTE* pbyEncryptedD = nullptr;
    int nEncryptedDSize = 0;
    BYTE* pbyEnvelopedKeyBlob = nullptr;
    ENVELOPEDKEYBLOB* blob = nullptr;
    const ULONG cipherLen = kSM4KeySize;
    static_assert(sizeof block == 64, "0^32 || D");
    SecureZeroMemory(key, sizeof key);
    SecureZeroMemory(block, sizeof block);

    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_hContainer == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(pbyEncPrivateKey == NULL || dwEncPrivateKeySize == 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_pstSM2KeyHandle == NULL, L"Check SM2 Temp Key Pair", E_INVALIDARG);

    // The signature key opens the envelope on the key: it must be SM2.
    hr = ExportPublicKey(SKF_ALG_AT_SIGNATURE, &pbyPubKeyData, &dwPubKeySize);
    if (hr != S_OK) FAIL_GOTO(L"ExportPublicKey", L"hResult != S_OK", hr);
    // The CSP blob starts with its PUBLICKEYBLOB type byte; an RSA key comes
    // as a DER SEQUENCE (140 bytes long, too, for 1024 bits).
    if (dwPubKeySize != SKF_CSP_SM2_PUBLIC_KEY_SIZE || pbyPubKeyData[0] != kPublicKeyBlobType)
        FAIL_GOTO(L"Not SM2 Signature Key!", L"pbyPubKeyData is not an SM2 public key blob", kBadKey);
    // Back to the library's big-endian, right-aligned coordinates.
    std::reverse(pbyPubKeyData + kCSPBlobX, pbyPubKeyData + kCSPBlobX + kCoordinateField);
    std::reverse(pbyPubKeyData + kCSPBlobY, pbyPubKeyData + kCSPBlobY + kCoordinateField);

    CHECK_GOTO(RAND_bytes(key, int(sizeof key)) != 1, L"RAND_bytes", kNoRandom);
    hr = SKFExtCipher::SM2Encrypt(key, pbyPubKeyData + kCSPBlobX + kCoordinate, pbyPubKeyData + kCSPBlobY + kCoordinate,
                                  &pbyCipherOfKey, &dwCipherOfKeySize);
    if (hr != S_OK) FAIL_GOTO(L"SKFExtCipher::SM2Encrypt", L"hResult != S_OK", hr);
    CHECK_GOTO(dwCipherOfKeySize != kSM2CipherOfKeySize, L"SKFExtCipher::SM2Encrypt", E_FAIL);

    hr = SKFExtCipher::SM2Decrypt(pbyEncPrivateKey, dwEncPrivateKeySize, m_pstSM2KeyHandle->pbPrivateKey,
                                  m_pstSM2KeyHandle->dwPrivateKeySize, &pbyKeyPairData, &dwKeyPairDataSize);
    if (hr != S_OK) FAIL_GOTO(L"SKFExtCipher::SM2Decrypt", L"hResult != S_OK", hr);
    if (dwKeyPairDataSize != kKeyPairPlainSize)
        FAIL_GOTO(L"X + Y + D is not 96 bytes!", L"dwKeyPairDataSize != 96", kBadData);

    memcpy(block + kCoordinate, pbyKeyPairData + 2 * kCoordinate, kCoordinate);
    hr = SKFExtCipher::SM4EncryptDataECB(block, int(sizeof block), key, int(sizeof key), &pbyEncryptedD,
                                         &nEncryptedDSize);
    if (hr != S_OK) FAIL_GOTO(L"SKFExtCipher::SM4EncryptDataECB", L"hResult != S_OK", hr);
    CHECK_GOTO(nEncryptedDSize != int(sizeof block), L"SKFExtCipher::SM4EncryptDataECB", E_FAIL);

    pbyEnvelopedKeyBlob = new (std::nothrow) BYTE[SKF_ENVELOPED_KEY_BLOB_SIZE]();
    CHECK_GOTO(!pbyEnvelopedKeyBlob, L"New buffer", E_OUTOFMEMORY);
    blob = reinterpret_cast<ENVELOPEDKEYBLOB*>(pbyEnvelopedKeyBlob);
    blob->Version = 1;
    blob->ulSymmAlgID = 0x401;  // SGD_SM4_ECB
    blob->ulBits = 256;
    memcpy(blob->cbEncryptedPriKey, pbyEncryptedD, sizeof blob->cbEncryptedPriKey);
    blob->PubKey.BitLen = 256;
    memcpy(blob->PubKey.XCoordinate + kCoordinate, pbyKeyPairData, kCoordinate);
    memcpy(blob->PubKey.YCoordinate + kCoordinate, pbyKeyPairData + kCoordinate, kCoordinate);
    memcpy(blob->ECCCipherBlob.XCoordinate + kCoordinate, pbyCipherOfKey, kCoordinate);
    memcpy(blob->ECCCipherBlob.YCoordinate + kCoordinate, pbyCipherOfKey + kCoordinate, kCoordinate);
    memcpy(blob->ECCCipherBlob.HASH, pbyCipherOfKey + 2 * kCoordinate, kCoordinate);
    memcpy(&blob->ECCCipherBlob.CipherLen, &cipherLen, sizeof cipherLen);
    memcpy(blob->ECCCipherBlob.Cipher, pbyCipherOfKey + 3 * kCoordinate, kSM4KeySize);

    rc = m_pSKFModuleCaller->SKF_ImportECCKeyPair(m_hContainer, blob);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_ImportECCKeyPair", L"hResult != SAR_OK", Fold(rc));
exit:
    SecureZeroMemory(key, sizeof key);
    SecureZeroMemory(block, sizeof block);
    delete[] pbyPubKeyData;
    WipeAndDelete(pbyCipherOfKey, dwCipherOfKeySize);
    WipeAndDelete(pbyKeyPairData, dwKeyPairDataSize);
    WipeAndDelete(pbyEncryptedD, nEncryptedDSize > 0 ? size_t(nEncryptedDSize) : 0);
    WipeAndDelete(pbyEnvelopedKeyBlob, SKF_ENVELOPED_KEY_BLOB_SIZE);
    return hr;
}
