// The renewal's key work on the key: request, imports and PKCS#7 signing.
#include "SKFCertRequest.h"

#include <oleauto.h>
#include <wincrypt.h>

#include <cstring>
#include <new>
#include <vector>

#include "ASN1EngineEx.h"
#include "Base64Utility.h"
#include "CertificateImport.h"
#include "CertificateRequest.h"
#include "DataSigning.h"
#include "Misc.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"SKFCertRequest"

namespace {

constexpr DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kSm2SignatureSize = 64;
constexpr DWORD kAcquireCreate = 0x8;
constexpr DWORD kAcquireDelete = 0x10;
const HRESULT kNoDevice = HRESULT(0x8010000C);
const HRESULT kNoSelector = HRESULT(0x80070032);
const HRESULT kBadSignatureLength = HRESULT(0x80090006);

bool IsEmpty(const wchar_t* text) { return text == NULL || text[0] == L'\0'; }

// A copy of the text in a new buffer of its length + 1 characters.
wchar_t* NewWideCopy(const std::wstring& text) {
    wchar_t* copy = new (std::nothrow) wchar_t[text.length() + 1];
    if (copy) std::memcpy(copy, text.c_str(), (text.length() + 1) * sizeof(wchar_t));
    return copy;
}

// A CSP key blob copied into a buffer of at least the blob layout's size, so
// that the in-place conversion neither writes into nor reads past the
// caller's bytes.
std::vector<BYTE> BlobCopy(const BYTE* blob, DWORD size) {
    std::vector<BYTE> copy(blob, blob + size);
    if (copy.size() < SM2_CSP_PUBLIC_KEY_BLOB_SIZE) copy.resize(SM2_CSP_PUBLIC_KEY_BLOB_SIZE, 0);
    return copy;
}

// The provider for an import: the caller's (which makes the container
// current) or a new one of the named provider for the device. *pbOwned
// tells the caller to release it.
HRESULT AcquireForImport(const wchar_t* lpwDeviceName, const wchar_t* lpwContainerName, HSKFCRYPTPROV hSKFCryptProv,
                         const wchar_t* lpwProvider, HSKFCRYPTPROV* phUsed, bool* pbOwned, const wchar_t** ppwStep) {
    HSKFCRYPTPROV hProv = hSKFCryptProv;
    *pbOwned = false;
    // The container always; provider and device only when a new context is made.
    const auto empty = [](const wchar_t* s) { return s == NULL || *s == 0; };
    *ppwStep = L"Check Container Name";
    if (empty(lpwContainerName)) return E_INVALIDARG;
    *ppwStep = L"Check Provider Name";
    if (hSKFCryptProv == 0 && empty(lpwProvider)) return E_INVALIDARG;
    *ppwStep = L"Check Device Name";
    if (hSKFCryptProv == 0 && empty(lpwDeviceName)) return E_INVALIDARG;
    *ppwStep = hSKFCryptProv ? L"SKFCryptAcquireContext(SetParam)" : L"SKFCryptAcquireContext(New)";
    const HRESULT hr = SKFCryptAcquireContext(lpwDeviceName, lpwContainerName, &hProv, lpwProvider, 0, nullptr);
    if (hr == S_OK) {
        *phUsed = hProv;
        *pbOwned = hSKFCryptProv == 0;
    }
    return hr;
}

}  // namespace

HRESULT SKFCreatePublicKey(const wchar_t* lpwDeviceName, DWORD dwKeySpec, DWORD dwCreate,
                           wchar_t** lppwKeyContainerName, HSKFCRYPTPROV* phSKFCryptProv, BYTE** lppPublicKey,
                           DWORD* pdwPublicKeySize) {
    TRACE_SCOPE(L"SKFCreatePublicKey");
    HRESULT hr = S_OK;
    std::wstring wstrDeviceName, wstrContainerName;
    std::vector<std::wstring> vtrDeviceName;
    BYTE* pbyPublicKey = nullptr;
    DWORD dwPublicKeySize = 0;
    wchar_t* lpwNameCopy = nullptr;
    bool bContainerCreated = false;
    DWORD dwAlgID = 0;

    CHECK_GOTO(phSKFCryptProv == NULL, L"Check Out Provider Handle", E_INVALIDARG);
    CHECK_GOTO(lppPublicKey == NULL || pdwPublicKeySize == NULL, L"Check Out Parameter", E_INVALIDARG);
    CHECK_GOTO(lppwKeyContainerName == NULL, L"Check Container Name", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    try {
        if (!IsEmpty(lpwDeviceName)) {
            wstrDeviceName = lpwDeviceName;
        } else {
            hr = SKFCryptAcquireContext(nullptr, nullptr, phSKFCryptProv, SKF_KEY_PROVIDER_NAME, 0, nullptr);
            CHECK_GOTO(hr != S_OK, L"SKFCryptAcquireContext", hr);
            hr = SKFCryptEnumDevices(*phSKFCryptProv, vtrDeviceName);
            CHECK_GOTO(hr != S_OK, L"SKFCryptEnumDevices", hr);
            CHECK_GOTO(vtrDeviceName.size() == 0, L"No Devices", kNoDevice);
            if (vtrDeviceName.size() == 1) {
                wstrDeviceName = vtrDeviceName[0];
            } else {
                CHECK_GOTO(g_ptrSKFUIDelegator == NULL, L"Not UI Selector", kNoSelector);
                hr = g_ptrSKFUIDelegator->SKFCryptSelectDevice(*phSKFCryptProv, vtrDeviceName, wstrDeviceName);
                if (hr != S_OK) hr = HResultFromError(hr);
                CHECK_GOTO(hr != S_OK, L"SKFCryptSelectDevice", hr);
            }
        }
        TraceValueString(L"Device", wstrDeviceName.c_str());

        if (dwCreate == 1) {
            if (!IsEmpty(*lppwKeyContainerName)) {
                wstrContainerName = *lppwKeyContainerName;
            } else {
                hr = CreateGUIDString(wstrContainerName);
                CHECK_GOTO(hr != S_OK, L"CreateGUIDString", hr);
            }
        } else {
            CHECK_GOTO(*lppwKeyContainerName == NULL, L"Invalid Container Name", E_INVALIDARG);
            wstrContainerName = *lppwKeyContainerName;
        }
    } catch (const std::bad_alloc&) {
        CHECK_GOTO(true, L"New buffer", E_OUTOFMEMORY);
    }

    hr = SKFCryptAcquireContext(wstrDeviceName.c_str(), wstrContainerName.c_str(), phSKFCryptProv,
                                SKF_KEY_PROVIDER_NAME, dwCreate == 1 ? kAcquireCreate : 0, nullptr);
    CHECK_GOTO(hr != S_OK, L"SKFCryptAcquireContext", hr);
    bContainerCreated = dwCreate == 1;
    TRACE_STEP(L"SKFCryptAcquireContext");

    dwAlgID = dwKeySpec == AT_KEYEXCHANGE ? SKF_CALG_SM2_KEYX : SKF_CALG_SM2_SIGN;
    hr = SKFCryptGenerateKey(*phSKFCryptProv, dwAlgID, &pbyPublicKey, &dwPublicKeySize);
    CHECK_GOTO(hr != S_OK, L"SKFCryptGenerateKey", hr);
    TRACE_STEP(L"SKFCryptGenerateKey");

    if (*lppwKeyContainerName == NULL) {
        lpwNameCopy = NewWideCopy(wstrContainerName);
        CHECK_GOTO(!lpwNameCopy, L"New buffer", E_OUTOFMEMORY);
        *lppwKeyContainerName = lpwNameCopy;
    }
    *lppPublicKey = pbyPublicKey;
    *pdwPublicKeySize = dwPublicKeySize;
    pbyPublicKey = nullptr;

exit:
    if (hr != S_OK && bContainerCreated) {
        // The new container goes again with the key pair that failed.
        const HRESULT hrDelete = SKFCryptAcquireContext(wstrDeviceName.c_str(), wstrContainerName.c_str(),
                                                        phSKFCryptProv, SKF_KEY_PROVIDER_NAME, kAcquireDelete, nullptr);
        TraceValue(L"SKFCryptAcquireContext(Delete)", DWORD(hrDelete));
    }
    delete[] pbyPublicKey;
    return hr;
}

HRESULT SKFPKCS10SignBinaryData(HSKFCRYPTPROV hSKFCryptProv, const BYTE* pbySourceData, DWORD dwSourceDataLength,
                                DWORD dwHashAlgID, BYTE** ppbySignedData, DWORD* pdwSignedDataSize) {
    TRACE_SCOPE(L"SKFPKCS10SignBinaryData");
    HRESULT hr = S_OK;
    BYTE* pbySignedData = nullptr;
    DWORD dwSignedDataSize = 0;

    CHECK_GOTO(hSKFCryptProv == NULL, L"Check SKF Provider", E_INVALIDARG);
    CHECK_GOTO(pbySourceData == NULL && dwSourceDataLength != 0, L"Check In Parameter", E_INVALIDARG);
    CHECK_GOTO(ppbySignedData == NULL || pdwSignedDataSize == NULL, L"Check Out Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    hr = SKFCryptSignBinaryData(hSKFCryptProv, pbySourceData, dwSourceDataLength, dwHashAlgID, &pbySignedData,
                                &dwSignedDataSize);
    CHECK_GOTO(hr != S_OK, L"SKFCryptSignBinaryData", hr);
    TRACE_STEP(L"SKFCryptSignBinaryData");

    if (dwHashAlgID == SKF_CALG_SM3) {
        CHECK_GOTO(dwSignedDataSize != 64, L"SM2 Signature Length Error!", kBadSignatureLength);
        SwapByteOrder(pbySignedData, 32);
        SwapByteOrder(pbySignedData + 32, 32);
    } else {
        SwapByteOrder(pbySignedData, dwSignedDataSize);
    }
    *ppbySignedData = pbySignedData;
    *pdwSignedDataSize = dwSignedDataSize;
    pbySignedData = nullptr;

exit:
    delete[] pbySignedData;
    return hr;
}

HRESULT SKFPKCS10RequestBase64(HSKFCRYPTPROV hSKFCryptProv, const wchar_t* lpwSubject, LPCSTR pszPublicKeyAlgorithm,
                               LPCSTR pszSignAlgorithm, DWORD dwHashAlgID, const BYTE* pbySignPublicKey,
                               DWORD dwSignPublicKeySize, const BYTE* pbyTempPublicKey, DWORD dwTempPublicKeySize,
                               DWORD dwAttributeForm, char** ppbyPKCS10Request, DWORD* pdwPKCS10RequestLength) {
    TRACE_SCOPE(L"SKFPKCS10RequestBase64");
    HRESULT hr = S_OK;
    std::vector<BYTE> vecSignKey, vecTempKey;
    DWORD dwSignKeySize = dwSignPublicKeySize, dwTempKeySize = dwTempPublicKeySize;
    BOOL bSM2 = FALSE;
    CertRequestInfoParams stParams = {};
    BYTE* pbyRequestInfo = nullptr;
    DWORD dwRequestInfoSize = 0;
    BYTE* pbySignAlgorithm = nullptr;
    DWORD dwSignAlgorithmSize = 0;
    BYTE* pbySignature = nullptr;
    DWORD dwSignatureSize = 0;
    BYTE* pbySignatureBits = nullptr;
    DWORD dwSignatureBitsSize = 0;
    BYTE* pbyTempTotal = nullptr;
    ULONGLONG ullTotal = 0;
    BYTE* pbyRequest = nullptr;
    DWORD dwRequestSize = 0;
    char* pszBase64 = nullptr;
    int nBase64Length = 0;
    char* pszLines = nullptr;
    DWORD dwLinesLength = 0;

    CHECK_GOTO(hSKFCryptProv == NULL, L"Check SKF Provider", E_INVALIDARG);
    CHECK_GOTO(ppbyPKCS10Request == NULL, L"Check Out Parameter", E_INVALIDARG);
    CHECK_GOTO(pdwPKCS10RequestLength == NULL || lpwSubject == NULL || pszPublicKeyAlgorithm == NULL ||
                   pszSignAlgorithm == NULL || pbySignPublicKey == NULL || dwSignPublicKeySize == 0,
               L"Check In Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    try {
        vecSignKey.assign(pbySignPublicKey, pbySignPublicKey + dwSignPublicKeySize);
        if (pbyTempPublicKey) vecTempKey.assign(pbyTempPublicKey, pbyTempPublicKey + dwTempPublicKeySize);
        if (strcmp(pszPublicKeyAlgorithm, RSA_PUBLIC_KEY_OID) != 0) {
            vecSignKey = BlobCopy(pbySignPublicKey, dwSignPublicKeySize);
            if (pbyTempPublicKey) vecTempKey = BlobCopy(pbyTempPublicKey, dwTempPublicKeySize);
            bSM2 = TRUE;
        }
        stParams.wstrSubject = lpwSubject;
        stParams.strPublicKeyAlgorithm = pszPublicKeyAlgorithm;
    } catch (const std::bad_alloc&) {
        CHECK_GOTO(true, L"New buffer", E_OUTOFMEMORY);
    }
    if (bSM2) {
        hr = ProcessSM2PublicKey(vecSignKey.data(), &dwSignKeySize, pbyTempPublicKey ? vecTempKey.data() : nullptr,
                                 pbyTempPublicKey ? &dwTempKeySize : nullptr);
        CHECK_GOTO(hr != S_OK, L"ProcessSM2PublicKey", hr);
        TRACE_STEP(L"ProcessSM2PublicKey");
    }

    stParams.pbyPublicKey = vecSignKey.data();
    stParams.dwPublicKeySize = dwSignKeySize;
    stParams.pbyTempPublicKey = pbyTempPublicKey ? vecTempKey.data() : nullptr;
    stParams.dwTempPublicKeySize = pbyTempPublicKey ? dwTempKeySize : 0;
    stParams.dwStandardAttributes = dwAttributeForm;
    hr = ComposeCertRequestInfo(stParams, &pbyRequestInfo, &dwRequestInfoSize);
    CHECK_GOTO(hr != S_OK, L"ComposeCertRequestInfo", hr);
    hr = ComposeSignAlgorithm(pszSignAlgorithm, &pbySignAlgorithm, &dwSignAlgorithmSize);
    CHECK_GOTO(hr != S_OK, L"ComposeSignAlgorithm", hr);
    hr = SKFPKCS10SignBinaryData(hSKFCryptProv, pbyRequestInfo, dwRequestInfoSize, dwHashAlgID, &pbySignature,
                                 &dwSignatureSize);
    CHECK_GOTO(hr != S_OK, L"SKFPKCS10SignBinaryData", hr);
    hr = ComposeSignature(pbySignature, dwSignatureSize, bSM2, &pbySignatureBits, &dwSignatureBitsSize);
    CHECK_GOTO(hr != S_OK, L"ComposeSignature", hr);
    TRACE_STEP(L"ComposeSignature");

    ullTotal = ULONGLONG(dwRequestInfoSize) + dwSignAlgorithmSize + dwSignatureBitsSize;
    CHECK_GOTO(ullTotal > 0x7FFFFFFF, L"Check Request Size", E_INVALIDARG);
    pbyTempTotal = new (std::nothrow) BYTE[size_t(ullTotal)];
    CHECK_GOTO(!pbyTempTotal, L"New buffer", E_OUTOFMEMORY);
    std::memcpy(pbyTempTotal, pbyRequestInfo, dwRequestInfoSize);
    std::memcpy(pbyTempTotal + dwRequestInfoSize, pbySignAlgorithm, dwSignAlgorithmSize);
    std::memcpy(pbyTempTotal + dwRequestInfoSize + dwSignAlgorithmSize, pbySignatureBits, dwSignatureBitsSize);
    hr = ASN1Encode(&pbyRequest, &dwRequestSize, 0x30, pbyTempTotal, DWORD(ullTotal));
    CHECK_GOTO(hr != S_OK, L"ASN1Encode", hr);

    hr = Base64EncodeEx(pbyRequest, int(dwRequestSize), &pszBase64, &nBase64Length, ATL_BASE64_FLAG_NONE);
    CHECK_GOTO(hr != S_OK, L"Base64EncodeEx", hr);
    hr = TransBase64ToHoldCRLFPer64Chars(pszBase64, DWORD(nBase64Length), &pszLines, &dwLinesLength);
    CHECK_GOTO(hr != S_OK, L"TransBase64ToHoldCRLFPer64Chars", hr);
    TRACE_STEP(L"TransBase64ToHoldCRLFPer64Chars");

    *ppbyPKCS10Request = pszLines;
    *pdwPKCS10RequestLength = dwLinesLength;
    pszLines = nullptr;

exit:
    delete[] pbyRequestInfo;
    delete[] pbySignAlgorithm;
    delete[] pbySignature;
    delete[] pbySignatureBits;
    delete[] pbyTempTotal;
    delete[] pbyRequest;
    delete[] pszBase64;
    delete[] pszLines;
    return hr;
}

HRESULT SKFPKCS10CertRequisition(const wchar_t* lpwDeviceName, HSKFCRYPTPROV* phSKFCryptProv,
                                 char** ppbyPKCS10Request, wchar_t** lppwContainerName) {
    TRACE_SCOPE(L"SKFPKCS10CertRequisition");
    HRESULT hr = S_OK;
    HSKFCRYPTPROV hSKFCryptProv = 0;
    wchar_t* lpwContainerName = nullptr;
    BYTE* pbySignPublicKey = nullptr;
    DWORD dwSignPublicKeySize = 0;
    BYTE* pbyTempPublicKey = nullptr;
    DWORD dwTempPublicKeySize = 0;
    char* pszRequest = nullptr;
    DWORD dwRequestLength = 0;

    CHECK_GOTO(phSKFCryptProv == NULL || ppbyPKCS10Request == NULL || lppwContainerName == NULL,
               L"Check Out Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");
    hSKFCryptProv = *phSKFCryptProv;

    hr = SKFCreatePublicKey(lpwDeviceName, AT_SIGNATURE, 1, &lpwContainerName, &hSKFCryptProv, &pbySignPublicKey,
                            &dwSignPublicKeySize);
    CHECK_GOTO(hr != S_OK, L"SKFCreatePublicKey", hr);
    *lppwContainerName = lpwContainerName;  // the container stays even when a later step fails
    TRACE_STEP(L"SKFCreatePublicKey");

    hr = SKFCreatePublicKey(lpwDeviceName, AT_KEYEXCHANGE, 0, &lpwContainerName, &hSKFCryptProv, &pbyTempPublicKey,
                            &dwTempPublicKeySize);
    CHECK_GOTO(hr != S_OK, L"SKFCreatePublicKey(SM2 Temp)", hr);
    TRACE_STEP(L"SKFCreatePublicKey(SM2 Temp)");

    hr = SKFPKCS10RequestBase64(hSKFCryptProv, SKF_REQUEST_SUBJECT, SKF_REQUEST_PUBLIC_KEY_OID,
                                SKF_REQUEST_SIGNATURE_OID, SKF_CALG_SM3, pbySignPublicKey, dwSignPublicKeySize,
                                pbyTempPublicKey, dwTempPublicKeySize, 0, &pszRequest, &dwRequestLength);
    CHECK_GOTO(hr != S_OK, L"SKFPKCS10RequestBase64(SM2)", hr);
    TRACE_STEP(L"SKFPKCS10RequestBase64(SM2)");

    *ppbyPKCS10Request = pszRequest;
    *phSKFCryptProv = hSKFCryptProv;

exit:
    if (hr != S_OK && phSKFCryptProv && *phSKFCryptProv == 0 && hSKFCryptProv) SKFCryptReleaseContext(hSKFCryptProv);
    delete[] pbySignPublicKey;
    delete[] pbyTempPublicKey;
    return hr;
}

HRESULT SKFImportSignatureCert(const wchar_t* lpwDeviceName, const wchar_t* lpwContainerName,
                               HSKFCRYPTPROV hSKFCryptProv, const wchar_t* lpwProvider,
                               const std::wstring& wstrBase64Cert) {
    TRACE_SCOPE(L"SKFImportSignatureCert");
    HRESULT hr = S_OK;
    HSKFCRYPTPROV hUsed = 0;
    bool bOwned = false;
    const wchar_t* lpwStep = nullptr;
    std::vector<BYTE> vecCert;
    std::wstring wstrTempPath;

    CHECK_GOTO(wstrBase64Cert.length() == 0, L"Check Base64 Cert", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    hr = AcquireForImport(lpwDeviceName, lpwContainerName, hSKFCryptProv, lpwProvider, &hUsed, &bOwned, &lpwStep);
    if (hr != S_OK) FAIL_GOTO(lpwStep, L"hResult != S_OK", hr);
    TRACE_STEP(lpwStep);

    hr = DecodeCommaSeparatedBase64(wstrBase64Cert, vecCert, &lpwStep);
    if (hr != S_OK) FAIL_GOTO(lpwStep, L"hResult != S_OK", hr);
    CHECK_GOTO(vecCert.empty(), L"Base64DecodeEx", HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    TRACE_STEP(L"Base64DecodeEx");

    if (DumpDataToTempFile(vecCert.data(), DWORD(vecCert.size()), wstrTempPath) == S_OK)
        TraceValueString(L"Certificate file", wstrTempPath.c_str());

    hr = SKFCryptImportCertificate(hUsed, AT_SIGNATURE, vecCert.data(), DWORD(vecCert.size()));
    CHECK_GOTO(hr != S_OK, L"SKFCryptImportCertificate(AT_SIGNATURE)", hr);
    TRACE_STEP(L"SKFCryptImportCertificate(AT_SIGNATURE)");

exit:
    if (bOwned) SKFCryptReleaseContext(hUsed);
    return hr;
}

HRESULT SKFImportKeyExchangeCert(const wchar_t* lpwDeviceName, const wchar_t* lpwContainerName,
                                 HSKFCRYPTPROV hSKFCryptProv, const wchar_t* lpwProvider, const wchar_t* lpwAlgName,
                                 const std::wstring& wstrEncPrivateKey, const std::wstring& wstrBase64Cert) {
    TRACE_SCOPE(L"SKFImportKeyExchangeCert");
    HRESULT hr = S_OK;
    HSKFCRYPTPROV hUsed = 0;
    bool bOwned = false;
    const wchar_t* lpwStep = nullptr;
    BYTE* pbyCert = nullptr;
    DWORD dwCertSize = 0;
    DWORD dwSessionAlg = 0;
    BYTE* pbySessionKey = nullptr;
    DWORD dwSessionKeySize = 0;
    BYTE* pbyPrivateKey = nullptr;
    DWORD dwPrivateKeySize = 0;
    DWORD dwAlgID = 0;

    CHECK_GOTO(wstrBase64Cert.length() == 0 || wstrEncPrivateKey.length() == 0, L"Check In Parameter", E_INVALIDARG);
    CHECK_GOTO(lpwAlgName == NULL, L"Check Algorithm Name", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    hr = AcquireForImport(lpwDeviceName, lpwContainerName, hSKFCryptProv, lpwProvider, &hUsed, &bOwned, &lpwStep);
    if (hr != S_OK) FAIL_GOTO(lpwStep, L"hResult != S_OK", hr);
    TRACE_STEP(lpwStep);

    hr = ParseEncryptCertPublicKeyCert(wstrBase64Cert.c_str(), &pbyCert, &dwCertSize);
    CHECK_GOTO(hr != S_OK, L"ParseEncryptCertPublicKeyCert", hr);
    hr = ParseEncryptCertPrivateKeyData(wstrEncPrivateKey.c_str(), &dwSessionAlg, &pbySessionKey, &dwSessionKeySize,
                                        &pbyPrivateKey, &dwPrivateKeySize);
    CHECK_GOTO(hr != S_OK, L"ParseEncryptCertPrivateKeyData", hr);
    TRACE_STEP(L"ParseEncryptCertPrivateKeyData");

    dwAlgID = _wcsicmp(lpwAlgName, L"RSA") == 0 ? SKF_CALG_RSA_KEYX : SKF_CALG_SM2_KEYX;
    TraceValue(L"Key algorithm", dwAlgID);
    hr = SKFCryptImportKeyPair(hUsed, dwAlgID, pbySessionKey, dwSessionKeySize, pbyPrivateKey, dwPrivateKeySize);
    CHECK_GOTO(hr != S_OK, L"SKFCryptImportKeyPair", hr);
    TRACE_STEP(L"SKFCryptImportKeyPair");

    hr = SKFCryptImportCertificate(hUsed, AT_KEYEXCHANGE, pbyCert, dwCertSize);
    CHECK_GOTO(hr != S_OK, L"SKFCryptImportCertificate(AT_KEYEXCHANGE)", hr);
    TRACE_STEP(L"SKFCryptImportCertificate(AT_KEYEXCHANGE)");

exit:
    if (bOwned) SKFCryptReleaseContext(hUsed);
    delete[] pbyCert;
    delete[] pbySessionKey;
    delete[] pbyPrivateKey;
    return hr;
}

HRESULT SKFSignBinaryDataPKCS7(const wchar_t* lpwDeviceName, const wchar_t* lpwContainerName,
                               HSKFCRYPTPROV* phSKFCryptProv, const BYTE* pbySourceData, DWORD dwSourceDataSize,
                               wchar_t** lppwPKCS7Base64SignedData) {
    TRACE_SCOPE(L"SKFSignBinaryDataPKCS7");
    HRESULT hr = S_OK;
    std::string strDigestOID, strSignatureOID;
    BYTE* pbyCertData = nullptr;
    DWORD dwCertDataSize = 0;
    PCCERT_CONTEXT pstCertContext = nullptr;
    BYTE* pbySignedData = nullptr;
    DWORD dwSignedDataSize = 0;
    BYTE* pbyEncodedSignature = nullptr;
    DWORD dwEncodedSignatureSize = 0;
    BSTR bstrPKCS7 = nullptr;
    DWORD dwPKCS7Length = 0;
    wchar_t* lpwText = nullptr;

    CHECK_GOTO(lpwDeviceName == NULL || wcslen(lpwDeviceName) == 0, L"Check Device Name", E_INVALIDARG);
    CHECK_GOTO(lpwContainerName == NULL || wcslen(lpwContainerName) == 0, L"Check Container Name", E_INVALIDARG);
    CHECK_GOTO(pbySourceData == NULL && dwSourceDataSize != 0, L"Check In Parameter", E_INVALIDARG);
    CHECK_GOTO(lppwPKCS7Base64SignedData == NULL, L"Check Out Parameter", E_INVALIDARG);
    CHECK_GOTO(phSKFCryptProv == NULL, L"Check Provider Handle", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    hr = GetAlgorithmIdentifiers(strDigestOID, strSignatureOID);
    CHECK_GOTO(hr != S_OK, L"GetAlgorithmIdentifiers", hr);
    hr = SKFCryptAcquireContext(lpwDeviceName, lpwContainerName, phSKFCryptProv, SKF_KEY_PROVIDER_NAME, 0, nullptr);
    CHECK_GOTO(hr != S_OK, L"SKFCryptAcquireContext", hr);
    TRACE_STEP(L"SKFCryptAcquireContext");

    hr = SKFCryptExportCertificate(*phSKFCryptProv, &pbyCertData, &dwCertDataSize);
    CHECK_GOTO(hr != S_OK, L"SKFCryptExportCertificate", hr);
    pstCertContext = CertCreateCertificateContext(kCertEncoding, pbyCertData, dwCertDataSize);
    CHECK_GOTO(NULL == pstCertContext, L"CertCreateCertificateContext", HResultFromLastError());
    TRACE_STEP(L"CertCreateCertificateContext");

    hr = SKFCryptSignBinaryData(*phSKFCryptProv, pbySourceData, dwSourceDataSize, SKF_CALG_SM3, &pbySignedData,
                                &dwSignedDataSize);
    CHECK_GOTO(hr != S_OK, L"SKFCryptSignBinaryData", hr);
    CHECK_GOTO(dwSignedDataSize != 64, L"SM2 Signature Length Error!", kBadSignatureLength);
    SwapByteOrder(pbySignedData, 32);
    SwapByteOrder(pbySignedData + 32, 32);
    TRACE_STEP(L"SKFCryptSignBinaryData");

    hr = SM2EncodeRawSignature(&dwEncodedSignatureSize, pbySignedData, kSm2SignatureSize, &pbyEncodedSignature,
                               SM2_ENCODE_OCTET_STRING);
    CHECK_GOTO(hr != S_OK, L"SM2EncodeRawSignature", hr);
    hr = EncapsulatePKCS7(pstCertContext, strDigestOID.c_str(), strSignatureOID.c_str(), pbySourceData,
                          dwSourceDataSize, pbyEncodedSignature, dwEncodedSignatureSize, &bstrPKCS7, &dwPKCS7Length,
                          0, 0, 0, nullptr);
    CHECK_GOTO(hr != S_OK, L"EncapsulatePKCS7", hr);
    TRACE_STEP(L"EncapsulatePKCS7");

    lpwText = new (std::nothrow) wchar_t[size_t(dwPKCS7Length) + 1];
    CHECK_GOTO(!lpwText, L"New buffer", E_OUTOFMEMORY);
    std::memcpy(lpwText, bstrPKCS7, size_t(dwPKCS7Length) * sizeof(wchar_t));
    lpwText[dwPKCS7Length] = L'\0';
    *lppwPKCS7Base64SignedData = lpwText;

exit:
    if (bstrPKCS7) SysFreeString(bstrPKCS7);
    delete[] pbyCertData;
    delete[] pbySignedData;
    delete[] pbyEncodedSignature;
    if (pstCertContext) CertFreeCertificateContext(pstCertContext);
    return hr;
}
