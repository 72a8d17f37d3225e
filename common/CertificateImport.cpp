// Certificate import into the key's container or the personal store, and
// the renewal server's key envelope:
//   device type (16) | encrypt type (16) | session type (16) |
//   L1 (16) | session-key part (L1) | L2 (16) | private-key part (L2)
// Each part is Base64 text ending in ","; its DER holds two elements, the
// second one's content being the value.
#include "CertificateImport.h"

#include <cstring>
#include <new>

#include "ASN1EngineEx.h"
#include "Base64Utility.h"
#include "Encoding.h"
#include "Misc.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"CertificateImport"

namespace {

constexpr DWORD kEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kCurrentUserNoRelease = CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_NO_CRYPT_RELEASE_FLAG;
constexpr size_t kEnvelopeMinimum = 3 * ENVELOPE_FIELD_CHARS;  // the three type fields
// 0x8007057B: a missing DER input or output.
const HRESULT kMissingKeyBuffer = HRESULT(0x8007057B);

}  // namespace

long long ReadEnvelopeNumber(const std::wstring& text, size_t position) {
    const size_t end = position + ENVELOPE_FIELD_CHARS < text.size() ? position + ENVELOPE_FIELD_CHARS : text.size();
    size_t i = position;
    while (i < end && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
    bool negative = false;
    if (i < end && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    long long value = 0;  // at most 16 digits: below 10^16, no overflow
    for (; i < end && text[i] >= L'0' && text[i] <= L'9'; ++i) value = value * 10 + (text[i] - L'0');
    return negative ? -value : value;
}

HRESULT DecodeCommaSeparatedBase64(const std::wstring& text, std::vector<BYTE>& out, const wchar_t** ppwFailedStep) {
    HRESULT hr = S_OK;
    std::wstring plain;
    char* pszUTF8 = nullptr;
    DWORD dwUTF8Length = 0;
    BYTE* pbyDecoded = nullptr;
    int nDecoded = 0;
    const wchar_t* step = L"New buffer";
    try {
        plain = text;
        ReplaceStrRStrIW(plain, L",", L"");
        step = L"UTF16ToUTF8";
        hr = UTF16ToUTF8(plain.c_str(), &pszUTF8, &dwUTF8Length);
        if (hr == S_OK) {
            step = L"Base64DecodeEx";
            hr = Base64DecodeEx(pszUTF8, int(dwUTF8Length), &pbyDecoded, &nDecoded);
        }
        if (hr == S_OK) {
            step = L"New buffer";
            out.assign(pbyDecoded, pbyDecoded + nDecoded);
        }
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    if (hr != S_OK && ppwFailedStep) *ppwFailedStep = step;
    delete[] pszUTF8;
    delete[] pbyDecoded;
    return hr;
}

HRESULT AddCertToSystemStore(const wchar_t* lpwCSPName, const BYTE* pbCertEncoded, DWORD cbCertEncoded,
                             HCRYPTPROV hCryptProv, DWORD dwKeySpec, const wchar_t* lpwContainerName) {
    TRACE_SCOPE(L"AddCertToSystemStore");
    HRESULT hr = S_OK;
    const wchar_t* lpwStoreName = L"MY";
    HCERTSTORE hCertStore = nullptr;
    PCCERT_CONTEXT pCertContext = nullptr;
    CRYPT_KEY_PROV_INFO stKeyProvInfo = {};

    CHECK_GOTO(pbCertEncoded == NULL || cbCertEncoded == 0 || lpwContainerName == NULL ||
                   wcslen(lpwContainerName) == 0 || lpwCSPName == NULL || wcslen(lpwCSPName) == 0 ||
                   lpwStoreName == NULL || wcslen(lpwStoreName) == 0,
               L"Check Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    hCertStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, hCryptProv, kCurrentUserNoRelease, lpwStoreName);
    CHECK_GOTO(hCertStore == NULL, L"CertOpenStore", HResultFromLastError());
    TRACE_STEP(L"CertOpenStore");

    if (!CertAddEncodedCertificateToStore(hCertStore, kEncodingType, pbCertEncoded, cbCertEncoded,
                                          CERT_STORE_ADD_REPLACE_EXISTING, &pCertContext))
        FAIL_GOTO(L"CertAddEncodedCertificateToStore", L"bRetCode == FALSE", HResultFromLastError());
    TRACE_STEP(L"CertAddEncodedCertificateToStore");

    stKeyProvInfo.pwszContainerName = const_cast<wchar_t*>(lpwContainerName);
    stKeyProvInfo.pwszProvName = const_cast<wchar_t*>(lpwCSPName);
    stKeyProvInfo.dwProvType = PROV_RSA_FULL;
    stKeyProvInfo.dwFlags = 0;
    stKeyProvInfo.cProvParam = 0;
    stKeyProvInfo.rgProvParam = nullptr;
    stKeyProvInfo.dwKeySpec = dwKeySpec;
    if (!CertSetCertificateContextProperty(pCertContext, CERT_KEY_PROV_INFO_PROP_ID, 0, &stKeyProvInfo))
        FAIL_GOTO(L"CertSetCertificateContextProperty", L"bRetCode == FALSE", HResultFromLastError());
    TRACE_STEP(L"CertSetCertificateContextProperty");

exit:
    if (pCertContext) CertFreeCertificateContext(pCertContext);
    if (hCertStore) CertCloseStore(hCertStore, 0);
    return hr;
}

HRESULT ImportSignCert(DWORD dwKeySpec, const wchar_t* lpwBase64Cert, const wchar_t* lpwCSPName,
                       const wchar_t* lpwContainerName, const wchar_t* lpwAlgName) {
    TRACE_SCOPE(L"ImportSignCert");
    HRESULT hr = S_OK;
    std::vector<BYTE> vecCert;
    std::wstring wstrTempPath;
    const wchar_t* lpwFailedStep = nullptr;
    HCRYPTPROV hCryptProv = 0;
    HCRYPTKEY hUserKey = 0;
    bool bRSA = false;

    CHECK_GOTO(lpwBase64Cert == NULL || lpwCSPName == NULL || lpwContainerName == NULL || lpwAlgName == NULL,
               L"Check Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    hr = DecodeCommaSeparatedBase64(lpwBase64Cert, vecCert, &lpwFailedStep);
    if (hr != S_OK) FAIL_GOTO(lpwFailedStep, L"hResult != S_OK", hr);
    CHECK_GOTO(vecCert.empty(), L"Base64DecodeEx", HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    TRACE_STEP(L"Base64DecodeEx");

    // A copy for the record; a failure here does not stop the import.
    if (DumpDataToTempFile(vecCert.data(), DWORD(vecCert.size()), wstrTempPath) == S_OK)
        TraceValueString(L"Certificate file", wstrTempPath.c_str());

    bRSA = _wcsicmp(lpwAlgName, L"RSA") == 0;
    if (!CryptAcquireContextW(&hCryptProv, bRSA ? lpwContainerName : nullptr, lpwCSPName, PROV_RSA_FULL,
                              bRSA ? 0 : CRYPT_VERIFYCONTEXT))
        FAIL_GOTO(L"CryptAcquireContext", L"bRetCode == FALSE", HResultFromLastError());
    TRACE_STEP(L"CryptAcquireContext");

    if (!CryptGetUserKey(hCryptProv, dwKeySpec, &hUserKey))
        FAIL_GOTO(L"CryptGetUserKey", L"bRetCode == FALSE", HResultFromLastError());
    TRACE_STEP(L"CryptGetUserKey");

    if (wcsstr(lpwCSPName, L"Microsoft") == nullptr) {
        if (!CryptSetKeyParam(hUserKey, KP_CERTIFICATE, vecCert.data(), 0))
            FAIL_GOTO(L"CryptSetKeyParam(KP_CERTIFICATE)", L"bRetCode == FALSE", HResultFromLastError());
        TRACE_STEP(L"CryptSetKeyParam(KP_CERTIFICATE)");
    } else {
        hr = AddCertToSystemStore(lpwCSPName, vecCert.data(), DWORD(vecCert.size()), hCryptProv, dwKeySpec,
                                  lpwContainerName);
        CHECK_GOTO(hr != S_OK, L"AddCertToSystemStore", hr);
        TRACE_STEP(L"AddCertToSystemStore");
    }

exit:
    if (hUserKey) CryptDestroyKey(hUserKey);
    if (hCryptProv) CryptReleaseContext(hCryptProv, 0);
    return hr;
}

HRESULT ParseEncryptCertPublicKeyCert(const wchar_t* lpwBase64Cert, BYTE** ppbyPublicKey, DWORD* pdwPublicKeySize) {
    TRACE_SCOPE(L"ParseEncryptCertPublicKeyCert");
    HRESULT hr = S_OK;
    std::vector<BYTE> vecCert;
    const wchar_t* lpwFailedStep = nullptr;

    CHECK_GOTO(ppbyPublicKey == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(pdwPublicKeySize == NULL || lpwBase64Cert == NULL, L"Check Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    hr = DecodeCommaSeparatedBase64(lpwBase64Cert, vecCert, &lpwFailedStep);
    if (hr != S_OK) FAIL_GOTO(lpwFailedStep, L"hResult != S_OK", hr);
    TRACE_STEP(L"Base64DecodeEx");

    hr = CopyToNewBuffer(vecCert, ppbyPublicKey, pdwPublicKeySize);
    CHECK_GOTO(hr != S_OK, L"New buffer", hr);

exit:
    return hr;
}

HRESULT GetBase64KeyFromEncryptedData(const std::wstring& wstrEncryptedData, size_t* pnPosition,
                                      std::wstring& wstrBase64Key) {
    TRACE_SCOPE(L"GetBase64KeyFromEncryptedData");
    HRESULT hr = S_OK;
    long long nRemainLen = 0;
    long long nKeyLength = 0;
    std::wstring wstrBase64EncodedData;

    CHECK_GOTO(pnPosition == NULL, L"Check Parameter", E_INVALIDARG);
    nRemainLen = *pnPosition > wstrEncryptedData.size() ? 0 : (long long)(wstrEncryptedData.size() - *pnPosition);
    CHECK_GOTO(nRemainLen < 16, L"Check Remain Length", E_INVALIDARG);
    TRACE_STEP(L"Check Remain Length");

    nKeyLength = ReadEnvelopeNumber(wstrEncryptedData, *pnPosition);
    nRemainLen -= 16;
    CHECK_GOTO(nKeyLength < 0 || nKeyLength > nRemainLen, L"Check Key Length", HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    TraceValue(L"Key part length", DWORD(nKeyLength));

    try {
        if (nKeyLength > 0) {
            wstrBase64EncodedData = wstrEncryptedData.substr(*pnPosition + 16, size_t(nKeyLength));
            CHECK_GOTO(wstrBase64EncodedData[nKeyLength - 1] != L',', L"Check Part End",
                       HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
            ReplaceStrRStrIW(wstrBase64EncodedData, L",", L"");
        }
        wstrBase64Key = wstrBase64EncodedData;
    } catch (const std::bad_alloc&) {
        CHECK_GOTO(true, L"New buffer", E_OUTOFMEMORY);
    }
    *pnPosition += 16 + size_t(nKeyLength);

exit:
    return hr;
}

HRESULT GetSessionKeyOrPriKeyFromASN1Object(const BYTE* pbyKeyASN1, DWORD dwKeyASN1Size, BYTE** ppbyKeyData,
                                            DWORD* pdwKeyDataSize) {
    TRACE_SCOPE(L"GetSessionKeyOrPriKeyFromASN1Object");
    HRESULT hr = S_OK;
    ASN1Node* pASNNode = nullptr;
    const ASN1Node* pValue = nullptr;

    CHECK_GOTO(pbyKeyASN1 == NULL || ppbyKeyData == NULL, L"Check Parameter", kMissingKeyBuffer);
    CHECK_GOTO(pdwKeyDataSize == NULL, L"Check Parameter", kMissingKeyBuffer);
    TRACE_STEP(L"Check Parameter");

    if (DecodeASN1MemoryEx(&pASNNode, pbyKeyASN1, dwKeyASN1Size) != 0 || pASNNode == NULL)
        FAIL_GOTO(L"DecodeASN1MemoryEx", L"nRetCode != 0", HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    TRACE_STEP(L"DecodeASN1MemoryEx");

    CHECK_GOTO(pASNNode->vetNodes.size() != 2, L"Check Children", HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    pValue = pASNNode->vetNodes[1];
    try {
        const BYTE* content = pValue->pbySource + pValue->ullContentOffset;
        hr = CopyToNewBuffer(std::vector<BYTE>(content, content + pValue->dwContentLength), ppbyKeyData,
                             pdwKeyDataSize);
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    CHECK_GOTO(hr != S_OK, L"New buffer", hr);
    TRACE_STEP(L"New buffer");

exit:
    delete pASNNode;
    return hr;
}

HRESULT GetSessionKeyAndPriKeyASN1Object(const std::wstring& wstrEncryptedPriKeyData, DWORD* pdwSessionAlg,
                                         BYTE** ppbySessionKeyASN1, DWORD* pdwSessionKeyASN1Size,
                                         BYTE** ppbyPrivateKeyASN1, DWORD* pdwPrivateKeyASN1Size) {
    TRACE_SCOPE(L"GetSessionKeyAndPriKeyASN1Object");
    HRESULT hr = S_OK;
    long long nPartDataType = 0;
    DWORD dwSessionAlg = 0;
    size_t nPosition = kEnvelopeMinimum;
    std::wstring wstrSessionKey, wstrPrivateKey;
    std::vector<BYTE> vecSessionKey, vecPrivateKey;
    const wchar_t* lpwFailedStep = nullptr;
    BYTE* pbySessionKey = nullptr;
    DWORD dwSessionKeySize = 0;

    CHECK_GOTO(wstrEncryptedPriKeyData.length() < 48, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(ppbySessionKeyASN1 == NULL || ppbyPrivateKeyASN1 == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(pdwSessionKeyASN1Size == NULL || pdwPrivateKeyASN1Size == NULL || pdwSessionAlg == NULL,
               L"Check Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    nPartDataType = ReadEnvelopeNumber(wstrEncryptedPriKeyData, 0);
    CHECK_GOTO(nPartDataType != 0 && nPartDataType != 1 && nPartDataType != 2, L"Check Device Type",
               HRESULT_FROM_WIN32(ERROR_INVALID_DATATYPE));
    nPartDataType = ReadEnvelopeNumber(wstrEncryptedPriKeyData, 16);
    CHECK_GOTO(nPartDataType != 1 && nPartDataType != 2, L"Check Encrypt Type",
               HRESULT_FROM_WIN32(ERROR_INVALID_DATATYPE));
    nPartDataType = ReadEnvelopeNumber(wstrEncryptedPriKeyData, 32);
    CHECK_GOTO(nPartDataType != 306 && nPartDataType != 0, L"Check Session Type",
               HRESULT_FROM_WIN32(ERROR_INVALID_DATATYPE));
    dwSessionAlg = nPartDataType == 306 ? ENVELOPE_SESSION_ALG_3DES : 0;
    *pdwSessionAlg = dwSessionAlg;
    TraceValue(L"Session algorithm", dwSessionAlg);

    hr = GetBase64KeyFromEncryptedData(wstrEncryptedPriKeyData, &nPosition, wstrSessionKey);
    CHECK_GOTO(hr != S_OK, L"GetBase64KeyFromEncryptedData(Session Key)", hr);
    hr = GetBase64KeyFromEncryptedData(wstrEncryptedPriKeyData, &nPosition, wstrPrivateKey);
    CHECK_GOTO(hr != S_OK, L"GetBase64KeyFromEncryptedData(Private Key)", hr);
    TRACE_STEP(L"GetBase64KeyFromEncryptedData");

    if (dwSessionAlg == ENVELOPE_SESSION_ALG_3DES) {
        hr = DecodeCommaSeparatedBase64(wstrSessionKey, vecSessionKey, &lpwFailedStep);
        if (hr != S_OK) FAIL_GOTO(lpwFailedStep, L"hResult != S_OK", hr);
        CHECK_GOTO(vecSessionKey.empty(), L"Base64DecodeEx", HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
        hr = CopyToNewBuffer(vecSessionKey, &pbySessionKey, &dwSessionKeySize);
        CHECK_GOTO(hr != S_OK, L"New buffer", hr);
    }
    hr = DecodeCommaSeparatedBase64(wstrPrivateKey, vecPrivateKey, &lpwFailedStep);
    if (hr != S_OK) FAIL_GOTO(lpwFailedStep, L"hResult != S_OK", hr);
    CHECK_GOTO(vecPrivateKey.empty(), L"Base64DecodeEx", HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    hr = CopyToNewBuffer(vecPrivateKey, ppbyPrivateKeyASN1, pdwPrivateKeyASN1Size);
    CHECK_GOTO(hr != S_OK, L"New buffer", hr);
    TRACE_STEP(L"Base64DecodeEx");

    *ppbySessionKeyASN1 = pbySessionKey;
    *pdwSessionKeyASN1Size = dwSessionKeySize;
    pbySessionKey = nullptr;

exit:
    delete[] pbySessionKey;
    return hr;
}

HRESULT ParseEncryptCertPrivateKeyData(const wchar_t* lpwEncryptedData, DWORD* pdwSessionAlg,
                                       BYTE** ppbyEncryptedSessionKey, DWORD* pdwEncryptedSessionKeySize,
                                       BYTE** ppbyEncryptedPrivateKey, DWORD* pdwEncryptedPrivateKeySize) {
    TRACE_SCOPE(L"ParseEncryptCertPrivateKeyData");
    HRESULT hr = S_OK;
    std::wstring wstrEncryptedData;
    DWORD dwSessionAlg = 0;
    BYTE* pbySessionKeyASN1 = nullptr;
    DWORD dwSessionKeyASN1Size = 0;
    BYTE* pbyPrivateKeyASN1 = nullptr;
    DWORD dwPrivateKeyASN1Size = 0;
    BYTE* pbySessionKey = nullptr;
    DWORD dwSessionKeySize = 0;
    BYTE* pbyPrivateKey = nullptr;
    DWORD dwPrivateKeySize = 0;

    CHECK_GOTO(ppbyEncryptedSessionKey == NULL || ppbyEncryptedPrivateKey == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(pdwEncryptedSessionKeySize == NULL || pdwEncryptedPrivateKeySize == NULL || pdwSessionAlg == NULL ||
                   lpwEncryptedData == NULL,
               L"Check Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");

    try {
        wstrEncryptedData = lpwEncryptedData;
    } catch (const std::bad_alloc&) {
        CHECK_GOTO(true, L"New buffer", E_OUTOFMEMORY);
    }
    // The session algorithm goes to the caller as soon as the types are read.
    hr = GetSessionKeyAndPriKeyASN1Object(wstrEncryptedData, pdwSessionAlg, &pbySessionKeyASN1,
                                          &dwSessionKeyASN1Size, &pbyPrivateKeyASN1, &dwPrivateKeyASN1Size);
    if (hr == S_OK) dwSessionAlg = *pdwSessionAlg;
    CHECK_GOTO(hr != S_OK, L"GetSessionKeyAndPriKeyASN1Object", hr);
    TRACE_STEP(L"GetSessionKeyAndPriKeyASN1Object");

    if (dwSessionAlg == ENVELOPE_SESSION_ALG_3DES) {
        hr = GetSessionKeyOrPriKeyFromASN1Object(pbySessionKeyASN1, dwSessionKeyASN1Size, &pbySessionKey,
                                                 &dwSessionKeySize);
        CHECK_GOTO(hr != S_OK, L"GetSessionKeyOrPriKeyFromASN1Object(Session Key)", hr);
    }
    hr = GetSessionKeyOrPriKeyFromASN1Object(pbyPrivateKeyASN1, dwPrivateKeyASN1Size, &pbyPrivateKey,
                                             &dwPrivateKeySize);
    CHECK_GOTO(hr != S_OK, L"GetSessionKeyOrPriKeyFromASN1Object(Private Key)", hr);
    TRACE_STEP(L"GetSessionKeyOrPriKeyFromASN1Object");

    *ppbyEncryptedSessionKey = pbySessionKey;
    *pdwEncryptedSessionKeySize = dwSessionKeySize;
    *ppbyEncryptedPrivateKey = pbyPrivateKey;
    *pdwEncryptedPrivateKeySize = dwPrivateKeySize;
    pbySessionKey = nullptr;
    pbyPrivateKey = nullptr;

exit:
    delete[] pbySessionKeyASN1;
    delete[] pbyPrivateKeyASN1;
    delete[] pbySessionKey;
    delete[] pbyPrivateKey;
    return hr;
}
