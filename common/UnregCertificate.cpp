// Certificates kept with key-container keys, and the certificate viewer.
#include "UnregCertificate.h"

#include <cryptuiapi.h>

#include <new>

#include "Encoding.h"
#include "Misc.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"UnregCertificate"

namespace {

constexpr DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kNameChars = 260;

void CopyName(wchar_t (&target)[kNameChars], const wchar_t* source) {
    wcsncpy(target, source, kNameChars - 1);
    target[kNameChars - 1] = L'\0';
}

// CryptUIDlgViewCertificateW, looked up at run time (the 32-bit import
// library of CRYPTUI is not available everywhere).
typedef BOOL(WINAPI* PfnCryptUIDlgViewCertificateW)(PCCRYPTUI_VIEWCERTIFICATE_STRUCTW, BOOL*);

}  // namespace

HRESULT CertCreateUnregCertContext(UnregCertContext** ppUnregCertContext, PCCERT_CONTEXT pCertContext,
                                   const wchar_t* lpwCSPName, const wchar_t* lpwContainerName, DWORD dwKeySpec) {
    TRACE_SCOPE(L"CertCreateUnregCertContext");
    HRESULT hr = S_OK;
    UnregCertContext* pUnRegCertContext = nullptr;
    PCCERT_CONTEXT pDuplicateCertContext = nullptr;

    CHECK_GOTO(pCertContext == NULL || lpwCSPName == NULL || wcslen(lpwCSPName) == 0 || lpwContainerName == NULL ||
                   wcslen(lpwContainerName) == 0 || ppUnregCertContext == NULL,
               L"Check Parameter", E_INVALIDARG);
    pUnRegCertContext = new (std::nothrow) UnregCertContext();
    CHECK_GOTO(!pUnRegCertContext, L"New buffer", E_OUTOFMEMORY);
    CopyName(pUnRegCertContext->wszCSPName, lpwCSPName);
    CopyName(pUnRegCertContext->wszContainerName, lpwContainerName);
    pUnRegCertContext->dwKeySpec = dwKeySpec;
    pDuplicateCertContext = CertDuplicateCertificateContext(pCertContext);
    CHECK_GOTO(pDuplicateCertContext == NULL, L"CertDuplicateCertificateContext", HResultFromLastError());
    pUnRegCertContext->pCertContext = pDuplicateCertContext;
    *ppUnregCertContext = pUnRegCertContext;
    pUnRegCertContext = nullptr;
exit:
    delete pUnRegCertContext;
    return hr;
}

void CertFreeUnregCertContext(UnregCertContext* pUnregCertContext) {
    TRACE_SCOPE(L"CertFreeUnregCertContext");
    if (!pUnregCertContext) return;
    if (pUnregCertContext->pCertContext) CertFreeCertificateContext(pUnregCertContext->pCertContext);
    delete pUnregCertContext;
}

void RemoveAllUnregCertificates(UnregCertContextSet& vtrUnregCertSet) {
    TRACE_SCOPE(L"RemoveAllUnregCertificates");
    for (UnregCertContext* p : vtrUnregCertSet) CertFreeUnregCertContext(p);
    vtrUnregCertSet.clear();
}

HRESULT GetUnregCertFromContainer(UnregCertContext** ppUnregCertContext, const wchar_t* lpwCSPName,
                                  const wchar_t* lpwContainerName, DWORD dwKeySpec) {
    TRACE_SCOPE(L"GetUnregCertFromContainer");
    HRESULT hr = S_OK;
    BOOL bRetCode = FALSE;
    HCRYPTPROV hProv = 0;
    HCRYPTKEY hUserKey = 0;
    DWORD dwCertDataSize = 0;
    BYTE* pbCertData = nullptr;
    PCCERT_CONTEXT pCertContext = nullptr;

    CHECK_GOTO(NULL == lpwCSPName || 0 == wcslen(lpwCSPName) || NULL == lpwContainerName ||
                   0 == wcslen(lpwContainerName),
               L"Check Parameter", E_INVALIDARG);
    bRetCode = CryptAcquireContextW(&hProv, lpwContainerName, lpwCSPName, PROV_RSA_FULL, 0);
    if (FALSE == bRetCode) {
        hProv = 0;
        FAIL_GOTO(L"CryptAcquireContext", L"FALSE == bRetCode", HResultFromLastError());
    }
    bRetCode = CryptGetUserKey(hProv, dwKeySpec, &hUserKey);
    CHECK_GOTO(FALSE == bRetCode || 0 == hUserKey, L"CryptGetUserKey", HResultFromLastError());
    bRetCode = CryptGetKeyParam(hUserKey, KP_CERTIFICATE, nullptr, &dwCertDataSize, 0);
    if (FALSE == bRetCode || 0 == dwCertDataSize)
        FAIL_GOTO(L"CryptGetKeyParam(Size)", L"FALSE == bRetCode || 0 == dwCertDataSize", HResultFromLastError());
    pbCertData = new (std::nothrow) BYTE[dwCertDataSize + 1]();
    CHECK_GOTO(!pbCertData, L"New buffer", E_OUTOFMEMORY);
    bRetCode = CryptGetKeyParam(hUserKey, KP_CERTIFICATE, pbCertData, &dwCertDataSize, 0);
    if (FALSE == bRetCode || 0 == dwCertDataSize)
        FAIL_GOTO(L"CryptGetKeyParam(Cert)", L"FALSE == bRetCode || 0 == dwCertDataSize", HResultFromLastError());
    pCertContext = CertCreateCertificateContext(kCertEncoding, pbCertData, dwCertDataSize);
    CHECK_GOTO(NULL == pCertContext, L"CertCreateCertificateContext", HResultFromLastError());
    hr = CertCreateUnregCertContext(ppUnregCertContext, pCertContext, lpwCSPName, lpwContainerName, dwKeySpec);
    if (S_OK != hr) FAIL_GOTO(L"CertCreateUnregCertContext", L"S_OK != hResult", hr);
exit:
    delete[] pbCertData;
    if (pCertContext) CertFreeCertificateContext(pCertContext);
    if (hUserKey) CryptDestroyKey(hUserKey);
    if (hProv) CryptReleaseContext(hProv, 0);
    return hr;
}

HRESULT CheckUnregCertificate(PCCERT_CONTEXT pCertContext, const CertFilter* pstCertFilter) {
    TRACE_SCOPE(L"CheckUnregCertificate");
    if (pstCertFilter == NULL) return S_OK;
    std::vector<std::wstring> subjects, issuers;
    if (pstCertFilter->lpwSubjectNames) SplitStrings(subjects, pstCertFilter->lpwSubjectNames, L"#");
    if (pstCertFilter->lpwIssuerNames) SplitStrings(issuers, pstCertFilter->lpwIssuerNames, L"#");
    if (CheckCertSubjectName(pCertContext, CERT_X500_NAME_STR, subjects) != S_OK) return E_FAIL;
    if (CheckCertIssuer(pCertContext, issuers) != S_OK) return E_FAIL;
    if (CheckCertKeyUsage(pCertContext, pstCertFilter->dwKeyUsage) != S_OK) return E_FAIL;
    if (CheckCertSubjectKeyID(pCertContext, pstCertFilter->lpbySubjectKeyID, pstCertFilter->cbSubjectKeyID) != S_OK)
        return E_FAIL;
    if (CheckCertSerialNumber(pCertContext, pstCertFilter->lpbySerialNumber, pstCertFilter->cbSerialNumber) != S_OK)
        return E_FAIL;
    if (CheckCertSignatureAlg(pCertContext, pstCertFilter->lpszSignAlgOID) != S_OK) return E_FAIL;
    return S_OK;
}

HRESULT FilterUnregCertsFromCSPSpec(UnregCertContextSet& vtrUnregCertSet, const wchar_t* lpwCSPName,
                                    const CertFilter* pstCertFilter) {
    TRACE_SCOPE(L"FilterUnregCertsFromCSPSpec");
    HRESULT hr = S_OK;
    BOOL bRetCode = FALSE;
    HCRYPTPROV hProv = 0;
    DWORD dwNameSize = 0;
    BYTE* pbyContainerName = nullptr;

    CHECK_GOTO(NULL == lpwCSPName || 0 == wcslen(lpwCSPName), L"Check Parameter", E_INVALIDARG);
    bRetCode = CryptAcquireContextW(&hProv, nullptr, lpwCSPName, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
    if (FALSE == bRetCode) {
        hProv = 0;
        FAIL_GOTO(L"CryptAcquireContext", L"FALSE == bRetCode", HResultFromLastError());
    }
    bRetCode = CryptGetProvParam(hProv, PP_ENUMCONTAINERS, nullptr, &dwNameSize, CRYPT_FIRST);
    CHECK_GOTO(FALSE == bRetCode, L"CryptGetProvParam", HResultFromLastError());
    pbyContainerName = new (std::nothrow) BYTE[dwNameSize + 1]();
    CHECK_GOTO(!pbyContainerName, L"New buffer", E_OUTOFMEMORY);
    for (DWORD dwFlags = CRYPT_FIRST;; dwFlags = CRYPT_NEXT) {
        // The size of the longest name each time; the extra zero byte ends
        // every name.
        DWORD dwSize = dwNameSize;
        if (!CryptGetProvParam(hProv, PP_ENUMCONTAINERS, pbyContainerName, &dwSize, dwFlags)) break;
        pbyContainerName[dwNameSize] = 0;
        wchar_t* pwszName = nullptr;
        hr = UTF8ToUTF16(reinterpret_cast<const char*>(pbyContainerName), &pwszName, nullptr);
        if (hr != S_OK) FAIL_GOTO(L"UTF8ToUTF16", L"hResult != S_OK", hr);
        for (DWORD dwKeySpec : {DWORD(AT_KEYEXCHANGE), DWORD(AT_SIGNATURE)}) {
            UnregCertContext* pRecord = nullptr;
            if (GetUnregCertFromContainer(&pRecord, lpwCSPName, pwszName, dwKeySpec) != S_OK) continue;
            if (CheckUnregCertificate(pRecord->pCertContext, pstCertFilter) == S_OK) {
                vtrUnregCertSet.push_back(pRecord);
            } else {
                CertFreeUnregCertContext(pRecord);
            }
        }
        delete[] pwszName;
    }
exit:
    delete[] pbyContainerName;
    if (hProv) CryptReleaseContext(hProv, 0);
    return hr;
}

HRESULT FilterUnregCertsFromCSPList(UnregCertContextSet& vtrUnregCertSet, const CertFilter* pstCertFilter) {
    TRACE_SCOPE(L"FilterUnregCertsFromCSPList");
    std::vector<std::wstring> names;
    SplitStrings(names, UNREG_CERT_CSP_LIST, L"||");
    for (const std::wstring& name : names) {
        if (name.find(L"Microsoft") != std::wstring::npos) continue;
        const HRESULT hr = FilterUnregCertsFromCSPSpec(vtrUnregCertSet, name.c_str(), pstCertFilter);
        if (hr != S_OK) TRACE_FAIL(L"FilterUnregCertsFromCSPSpec", L"hResult != S_OK", hr);
    }
    return S_OK;
}

HRESULT ViewSpecialCertificate(const wchar_t* lpwSerialNumber, const wchar_t* lpwSubject, DWORD dwSM2Flag,
                               HWND hwndParent) {
    TRACE_SCOPE(L"ViewSpecialCertificate");
    HRESULT hr = S_OK;
    CertFilter stCertFilter = {};
    BYTE* pbySerialNumber = nullptr;
    DWORD dwSerialNumberLen = 0;
    UnregCertContextSet vtrUnregCertSet;
    CertContextSet vtrRegCertSet;
    PCCERT_CONTEXT pCertContext = nullptr;
    HMODULE hCryptUI = nullptr;
    PfnCryptUIDlgViewCertificateW pfnView = nullptr;
    CRYPTUI_VIEWCERTIFICATE_STRUCTW stView = {};

    stCertFilter.lpwSubjectNames = lpwSubject;
    if (lpwSerialNumber && *lpwSerialNumber) {
        hr = ConvertStringToBinaryData(lpwSerialNumber, &pbySerialNumber, &dwSerialNumberLen);
        if (hr != S_OK) FAIL_GOTO(L"ConvertStringToBinaryData", L"hResult != S_OK", hr);
        stCertFilter.lpbySerialNumber = pbySerialNumber;
        stCertFilter.cbSerialNumber = dwSerialNumberLen;
    }
    if (dwSM2Flag == 1) {
        stCertFilter.lpszSignAlgOID = "1.2.156.10197";
        hr = FilterUnregCertsFromCSPList(vtrUnregCertSet, &stCertFilter);
        if (hr != S_OK) FAIL_GOTO(L"FilterUnregCertsFromCSPList", L"hResult != S_OK", hr);
        CHECK_GOTO(vtrUnregCertSet.size() == 0, L"Not find unreg cert", RESULT_NO_CERT_TO_SHOW);
        pCertContext = vtrUnregCertSet[0]->pCertContext;
    } else {
        hr = FilterCertificatesFromLocalStore(L"MY", &stCertFilter, vtrRegCertSet);
        if (hr != S_OK) FAIL_GOTO(L"FilterCertificatesFromLocalStore", L"hResult != S_OK", hr);
        CHECK_GOTO(vtrRegCertSet.size() == 0, L"Not find reg cert", RESULT_NO_CERT_TO_SHOW);
        pCertContext = vtrRegCertSet[0];
    }
    hCryptUI = LoadLibraryW(L"cryptui.dll");
    if (hCryptUI)
        pfnView = reinterpret_cast<PfnCryptUIDlgViewCertificateW>(
            reinterpret_cast<void*>(GetProcAddress(hCryptUI, "CryptUIDlgViewCertificateW")));
    CHECK_GOTO(pfnView == NULL, L"CryptUIDlgViewCertificateW", HResultFromLastError());
    stView.dwSize = sizeof stView;
    stView.hwndParent = hwndParent;
    stView.dwFlags = CRYPTUI_DISABLE_ADDTOSTORE;
    stView.pCertContext = pCertContext;
    {
        BOOL bPropertiesChanged = FALSE;
        if (!pfnView(&stView, &bPropertiesChanged))
            FAIL_GOTO(L"CryptUIDlgViewCertificateW", L"bRetCode == FALSE", HResultFromLastError());
    }
exit:
    delete[] pbySerialNumber;
    RemoveAllUnregCertificates(vtrUnregCertSet);
    RemoveAllCertificates(vtrRegCertSet);
    if (hCryptUI) FreeLibrary(hCryptUI);
    return hr;
}
