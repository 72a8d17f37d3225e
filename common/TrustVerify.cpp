// File trust: the code signature through WinTrust or the own verifier,
// then the signer's chain.
#include "TrustVerify.h"

#include <softpub.h>
#include <wintrust.h>

#include <cwchar>
#include <new>

#include "CertificateChain.h"
#include "Encoding.h"
#include "ImageVerify.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"TrustVerify"

namespace {

const GUID kGenericVerifyV2 = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
const GUID kDriverActionVerify = {0xF750E6C3, 0x38EE, 0x11D1, {0x85, 0xE5, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

// Sizes of the records as the platform's first versions define them.
constexpr DWORD WINTRUST_DATA_SIZE = 48;
constexpr DWORD WINTRUST_FILE_INFO_SIZE = 16;
constexpr DWORD WINTRUST_CATALOG_INFO_SIZE = 36;
constexpr DWORD CATALOG_INFO_SIZE = 524;

DWORD WindowsMajorVersion() {
    OSVERSIONINFOEXW ex = {};
    ex.dwOSVersionInfoSize = 284;
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&ex))) return ex.dwMajorVersion;
    OSVERSIONINFOW basic = {};
    basic.dwOSVersionInfoSize = 276;
    return GetVersionExW(&basic) ? basic.dwMajorVersion : 0;
}

// Runs WinVerifyTrust with the record (its subject already chosen): no UI,
// no revocation check; collects the signers, closes the state.
HRESULT RunWinVerifyTrust(const GUID& action, WINTRUST_DATA* data, CertContextSet& vtrSignerCerts) {
    data->cbStruct = WINTRUST_DATA_SIZE;
    data->dwUIChoice = WTD_UI_NONE;
    data->fdwRevocationChecks = WTD_REVOKE_NONE;
    data->dwStateAction = WTD_STATEACTION_VERIFY;
    data->dwProvFlags = WTD_REVOCATION_CHECK_NONE;
    GUID actionId = action;
    LONG lResult = WinVerifyTrust(nullptr, &actionId, data);
    HRESULT hr = static_cast<HRESULT>(lResult);
    TraceValue(L"WinVerifyTrust", static_cast<DWORD>(lResult));
    if (data->hWVTStateData) {
        const HRESULT hrSigners = GetWinTrustSignerCerts(data->hWVTStateData, vtrSignerCerts);
        TraceValue(L"GetWinTrustSignerCerts", static_cast<DWORD>(hrSigners));
    }
    // A chain WinTrust cannot complete, or an expired signer, is left to
    // the chain validation with the extra store.
    if (hr == CERT_E_CHAINING || hr == CERT_E_EXPIRED) hr = S_OK;
    hr = HResultFromError(hr);
    data->dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(nullptr, &actionId, data);
    return hr;
}

}  // namespace

HRESULT GetWinTrustSignerCerts(HANDLE hWVTStateData, CertContextSet& vtrSignerCerts) {
    TRACE_SCOPE(L"GetWinTrustSignerCerts");
    HRESULT hr = S_OK;
    CRYPT_PROVIDER_DATA* pCryptProvData = nullptr;

    CHECK_GOTO(hWVTStateData == NULL, L"Check Parameter", E_INVALIDARG);
    pCryptProvData = WTHelperProvDataFromStateData(hWVTStateData);
    CHECK_GOTO(pCryptProvData == NULL, L"WTHelperProvDataFromStateData", HResultFromLastError());
    CHECK_GOTO(pCryptProvData->csSigners == 0, L"dwSignerCount == 0", HResultFromError(ERROR_NOT_FOUND));
    for (DWORD i = 0; i < pCryptProvData->csSigners; ++i) {
        CRYPT_PROVIDER_SGNR* pCryptProvSgnr = WTHelperGetProvSignerFromChain(pCryptProvData, i, FALSE, 0);
        CHECK_GOTO(pCryptProvSgnr == NULL, L"WTHelperGetProvSignerFromChain", HResultFromLastError());
        CHECK_GOTO(pCryptProvSgnr->csCertChain == 0, L"dwCertCount == 0", HResultFromError(ERROR_NOT_FOUND));
        for (DWORD j = 0; j < pCryptProvSgnr->csCertChain; ++j) {
            CRYPT_PROVIDER_CERT* pCryptProvCert = WTHelperGetProvCertFromChain(pCryptProvSgnr, j);
            CHECK_GOTO(pCryptProvCert == NULL || pCryptProvCert->pCert == NULL, L"WTHelperGetProvCertFromChain",
                       HResultFromLastError());
            vtrSignerCerts.push_back(CertDuplicateCertificateContext(pCryptProvCert->pCert));
        }
    }
    TraceValue(L"Signer certificates", static_cast<DWORD>(vtrSignerCerts.size()));

exit:
    if (FAILED(hr)) RemoveAllCertificates(vtrSignerCerts);
    return hr;
}

HRESULT WinVerifyFileFromItself(const wchar_t* lpwFileName, CertContextSet& vtrSignerCerts) {
    TRACE_SCOPE(L"WinVerifyFileFromItself");
    HRESULT hr = S_OK;
    WINTRUST_FILE_INFO fileInfo = {};
    WINTRUST_DATA data = {};

    CHECK_GOTO(lpwFileName == NULL || wcslen(lpwFileName) == 0, L"Check Parameter", E_INVALIDARG);
    fileInfo.cbStruct = WINTRUST_FILE_INFO_SIZE;
    fileInfo.pcwszFilePath = lpwFileName;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    hr = RunWinVerifyTrust(kGenericVerifyV2, &data, vtrSignerCerts);
    if (FAILED(hr)) TRACE_FAIL(L"WinVerifyTrust", L"FAILED(hResult)", hr);

exit:
    return hr;
}

HRESULT WinVerifyFileHashWithCatalog(const CATALOG_INFO* pCatalogInfo, CertContextSet& vtrSignerCerts,
                                     const wchar_t* lpwFileName, const wchar_t* lpwFileHexHash) {
    TRACE_SCOPE(L"WinVerifyFileHashWithCatalog");
    HRESULT hr = S_OK;
    DRIVER_VER_INFO driverInfo = {};
    WINTRUST_CATALOG_INFO catalogInfo = {};
    WINTRUST_DATA data = {};

    CHECK_GOTO(lpwFileName == NULL || wcslen(lpwFileName) == 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(lpwFileHexHash == NULL || wcslen(lpwFileHexHash) == 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(pCatalogInfo == NULL, L"Check Parameter", E_INVALIDARG);
    driverInfo.cbStruct = sizeof(DRIVER_VER_INFO);
    catalogInfo.cbStruct = WINTRUST_CATALOG_INFO_SIZE;
    catalogInfo.dwCatalogVersion = 0;
    catalogInfo.pcwszCatalogFilePath = pCatalogInfo->wszCatalogFile;
    catalogInfo.pcwszMemberTag = lpwFileHexHash;
    catalogInfo.pcwszMemberFilePath = lpwFileName;
    data.pPolicyCallbackData = &driverInfo;
    data.dwUnionChoice = WTD_CHOICE_CATALOG;
    data.pCatalog = &catalogInfo;
    hr = RunWinVerifyTrust(kDriverActionVerify, &data, vtrSignerCerts);
    if (driverInfo.pcSignerCertContext) CertFreeCertificateContext(driverInfo.pcSignerCertContext);
    if (FAILED(hr)) TRACE_FAIL(L"WinVerifyTrust", L"FAILED(hResult)", hr);

exit:
    return hr;
}

namespace {

// The file hash with the chosen function: the 2 form when given, else the
// SHA-1 form the program imports.
BOOL CalcFileHash(PfnCryptCATAdminCalcHashFromFileHandle2 pfnCalcHash2, HCATADMIN hCatAdmin, HANDLE hFile,
                  DWORD* pdwSize, BYTE* pbHash) {
    return pfnCalcHash2 ? pfnCalcHash2(hCatAdmin, hFile, pdwSize, pbHash, 0)
                        : CryptCATAdminCalcHashFromFileHandle(hFile, pdwSize, pbHash, 0);
}

// The shared body of the two catalog look-ups.
HRESULT CatalogInfoWithAdmin(HCATADMIN hCatAdmin, const wchar_t* lpwFileName,
                             PfnCryptCATAdminCalcHashFromFileHandle2 pfnCalcHash2, CATALOG_INFO* pCatalogInfo,
                             wchar_t** lppwFileHexHash) {
    TRACE_NAME(L"GetWinVerifyFileCatalogInfo");
    HRESULT hr = S_OK;
    HANDLE hFileHandle = INVALID_HANDLE_VALUE;
    DWORD dwHashValueSize = 0;
    BYTE* pbyHashValue = nullptr;
    wchar_t* lpwHex = nullptr;
    HCATINFO hCatInfo = nullptr;

    hFileHandle = CreateFileW(lpwFileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK_GOTO(hFileHandle == INVALID_HANDLE_VALUE, L"CreateFileW", HResultFromLastError());
    CalcFileHash(pfnCalcHash2, hCatAdmin, hFileHandle, &dwHashValueSize, nullptr);
    CHECK_GOTO(dwHashValueSize == 0, L"dwHashValueSize == 0", HResultFromError(ERROR_INVALID_DATA));
    pbyHashValue = new (std::nothrow) BYTE[dwHashValueSize]();
    CHECK_GOTO(!pbyHashValue, L"!pbyHashValue", E_OUTOFMEMORY);
    CHECK_GOTO(!CalcFileHash(pfnCalcHash2, hCatAdmin, hFileHandle, &dwHashValueSize, pbyHashValue),
               L"CryptCATAdminCalcHashFromFileHandle", HResultFromLastError());
    hr = HResultFromError(FormatStringFromData(pbyHashValue, dwHashValueSize, &lpwHex));
    CHECK_GOTO(FAILED(hr), L"FormatStringFromData", hr);
    TraceValueString(L"File hash", lpwHex);

    hCatInfo = CryptCATAdminEnumCatalogFromHash(hCatAdmin, pbyHashValue, dwHashValueSize, 0, nullptr);
    CHECK_GOTO(hCatInfo == NULL, L"hCatInfo == NULL", HResultFromLastError());
    pCatalogInfo->cbStruct = CATALOG_INFO_SIZE;
    CHECK_GOTO(!CryptCATCatalogInfoFromContext(hCatInfo, pCatalogInfo, 0), L"CryptCATCatalogInfoFromContext",
               HResultFromLastError());
    *lppwFileHexHash = lpwHex;
    lpwHex = nullptr;

exit:
    if (hCatInfo) CryptCATAdminReleaseCatalogContext(hCatAdmin, hCatInfo, 0);
    delete[] lpwHex;
    delete[] pbyHashValue;
    if (hFileHandle != INVALID_HANDLE_VALUE) CloseHandle(hFileHandle);
    return hr;
}

}  // namespace

HRESULT GetWinVerifyFileCatalogInfo(const wchar_t* lpwFileName, CATALOG_INFO* pCatalogInfo, wchar_t** lppwFileHexHash) {
    TRACE_SCOPE(L"GetWinVerifyFileCatalogInfo");
    HRESULT hr = S_OK;
    HCATADMIN hCatAdmin = nullptr;
    GUID subsystem = kDriverActionVerify;

    CHECK_GOTO(lpwFileName == NULL || wcslen(lpwFileName) == 0 || pCatalogInfo == NULL || lppwFileHexHash == NULL,
               L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(!CryptCATAdminAcquireContext(&hCatAdmin, &subsystem, 0), L"CryptCATAdminAcquireContext",
               HResultFromLastError());
    hr = CatalogInfoWithAdmin(hCatAdmin, lpwFileName, nullptr, pCatalogInfo,
                              lppwFileHexHash);
    CHECK_GOTO(FAILED(hr), L"Catalog look-up", hr);

exit:
    if (hCatAdmin) CryptCATAdminReleaseContext(hCatAdmin, 0);
    return hr;
}

HRESULT GetWinVerifyFileCatalogInfo2(const wchar_t* lpwFileName, const wchar_t* lpwHashAlgorithm,
                                     PfnCryptCATAdminAcquireContext2 pfnAcquireContext2,
                                     PfnCryptCATAdminCalcHashFromFileHandle2 pfnCalcHash2, CATALOG_INFO* pCatalogInfo,
                                     wchar_t** lppwFileHexHash) {
    TRACE_SCOPE(L"GetWinVerifyFileCatalogInfo2");
    HRESULT hr = S_OK;
    HCATADMIN hCatAdmin = nullptr;
    GUID subsystem = kDriverActionVerify;

    CHECK_GOTO(lpwFileName == NULL || wcslen(lpwFileName) == 0 || pCatalogInfo == NULL || lppwFileHexHash == NULL ||
                   pfnAcquireContext2 == NULL || pfnCalcHash2 == NULL,
               L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(!pfnAcquireContext2(&hCatAdmin, &subsystem, lpwHashAlgorithm, nullptr, 0),
               L"CryptCATAdminAcquireContext2", HResultFromLastError());
    hr = CatalogInfoWithAdmin(hCatAdmin, lpwFileName, pfnCalcHash2, pCatalogInfo, lppwFileHexHash);
    CHECK_GOTO(FAILED(hr), L"Catalog look-up", hr);

exit:
    if (hCatAdmin) CryptCATAdminReleaseContext(hCatAdmin, 0);
    return hr;
}

HRESULT WinVerifyFileFromCatalog(const wchar_t* lpwFileName, CertContextSet& vtrSignerCerts) {
    TRACE_SCOPE(L"WinVerifyFileFromCatalog");
    return WinVerifyFileFromCatalog2(lpwFileName, nullptr, nullptr, nullptr, vtrSignerCerts);
}

HRESULT WinVerifyFileFromCatalog2(const wchar_t* lpwFileName, const wchar_t* lpwHashAlgorithm,
                                  PfnCryptCATAdminAcquireContext2 pfnAcquireContext2,
                                  PfnCryptCATAdminCalcHashFromFileHandle2 pfnCalcHash2,
                                  CertContextSet& vtrSignerCerts) {
    TRACE_SCOPE(L"WinVerifyFileFromCatalog2");
    HRESULT hr = S_OK;
    CATALOG_INFO catalogInfo = {};
    wchar_t* lpwHexHash = nullptr;

    // Without the 2 forms: the SHA-1 catalog functions the program imports.
    if (pfnAcquireContext2 && pfnCalcHash2) {
        hr = GetWinVerifyFileCatalogInfo2(lpwFileName, lpwHashAlgorithm, pfnAcquireContext2, pfnCalcHash2,
                                          &catalogInfo, &lpwHexHash);
    } else {
        hr = GetWinVerifyFileCatalogInfo(lpwFileName, &catalogInfo, &lpwHexHash);
    }
    CHECK_GOTO(FAILED(hr), L"GetWinVerifyFileCatalogInfo", hr);
    hr = WinVerifyFileHashWithCatalog(&catalogInfo, vtrSignerCerts, lpwFileName, lpwHexHash);
    CHECK_GOTO(FAILED(hr), L"WinVerifyFileHashWithCatalog", hr);

exit:
    delete[] lpwHexHash;
    return hr;
}

HRESULT WinVerifyFileFromCatalogEx(const wchar_t* lpwFileName, CertContextSet& vtrSignerCerts) {
    TRACE_SCOPE(L"WinVerifyFileFromCatalogEx");
    HRESULT hr = S_OK;
    HMODULE hWinTrust = nullptr;
    PfnCryptCATAdminAcquireContext2 pfnAcquire2 = nullptr;
    PfnCryptCATAdminCalcHashFromFileHandle2 pfnCalcHash2 = nullptr;

    CHECK_GOTO(lpwFileName == NULL || wcslen(lpwFileName) == 0, L"Check Parameter", E_INVALIDARG);
    hWinTrust = LoadLibraryW(L"Wintrust.dll");
    CHECK_GOTO(hWinTrust == NULL, L"hWinTrust == NULL", HResultFromLastError());
    pfnAcquire2 = reinterpret_cast<PfnCryptCATAdminAcquireContext2>(
        reinterpret_cast<void*>(GetProcAddress(hWinTrust, "CryptCATAdminAcquireContext2")));
    pfnCalcHash2 = reinterpret_cast<PfnCryptCATAdminCalcHashFromFileHandle2>(
        reinterpret_cast<void*>(GetProcAddress(hWinTrust, "CryptCATAdminCalcHashFromFileHandle2")));

    if (pfnAcquire2 && pfnCalcHash2) {
        hr = WinVerifyFileFromCatalog2(lpwFileName, L"SHA256", pfnAcquire2, pfnCalcHash2, vtrSignerCerts);
        if (FAILED(hr)) {
            RemoveAllCertificates(vtrSignerCerts);
            hr = WinVerifyFileFromCatalog2(lpwFileName, nullptr, pfnAcquire2, pfnCalcHash2, vtrSignerCerts);
        }
    } else {
        hr = WinVerifyFileFromCatalog(lpwFileName, vtrSignerCerts);
    }
    hr = HResultFromError(hr);
    CHECK_GOTO(FAILED(hr), L"Catalog verification", hr);

exit:
    if (hWinTrust) FreeLibrary(hWinTrust);
    return hr;
}

HRESULT WinVerifySpecFileTrust(const wchar_t* lpwFileName, CertContextSet& vtrSignerCerts) {
    TRACE_SCOPE(L"WinVerifySpecFileTrust");
    HRESULT hr = S_OK;

    CHECK_GOTO(lpwFileName == NULL || wcslen(lpwFileName) == 0, L"Check Parameter", E_INVALIDARG);
    hr = WinVerifyFileFromItself(lpwFileName, vtrSignerCerts);
    if (hr == S_OK) goto exit;
    CHECK_GOTO(hr != S_OK && hr != TRUST_E_NOSIGNATURE, L"WinVerifyFileFromItself", HResultFromError(hr));
    hr = HResultFromError(WinVerifyFileFromCatalogEx(lpwFileName, vtrSignerCerts));
    CHECK_GOTO(FAILED(hr), L"WinVerifyFileFromCatalogEx", hr);

exit:
    return hr;
}

HRESULT VerifySpecFileTrust(const wchar_t* lpwFileName, HCERTSTORE hExtraStore, HCERTSTORE hEmbeddedRoots) {
    TRACE_SCOPE(L"VerifySpecFileTrust");
    HRESULT hr = S_OK;
    CertContextSet vtrSignerCerts;
    DWORD dwMajorVersion = 0;
    HCERTSTORE hSignatureStore = nullptr;
    PCCERT_CONTEXT pSigner = nullptr;

    CHECK_GOTO(lpwFileName == NULL || wcslen(lpwFileName) == 0, L"Check Parameter", E_INVALIDARG);
    dwMajorVersion = WindowsMajorVersion();
    TraceValue(L"Windows major version", dwMajorVersion);

    if (dwMajorVersion > 5) {
        hr = HResultFromError(WinVerifySpecFileTrust(lpwFileName, vtrSignerCerts));
        CHECK_GOTO(FAILED(hr), L"WinVerifySpecFileTrust", hr);
    } else {
        hr = HResultFromError(VerifyFileSignature(lpwFileName));
        CHECK_GOTO(FAILED(hr), L"VerifyFileSignature", hr);
        const HRESULT hrCerts = GetFileSignCertificates(lpwFileName, vtrSignerCerts);
        TraceValue(L"GetFileSignCertificates", static_cast<DWORD>(hrCerts));
    }
    // Without a signer certificate no chain can be validated: refuse on
    // either road.
    CHECK_GOTO(vtrSignerCerts.size() == 0, L"No signer", RESULT_NO_SIGNER);

    if (hExtraStore) {
        for (PCCERT_CONTEXT pCert : vtrSignerCerts) {
            if (IsRootCertificate(pCert)) continue;  // self-signed certificates are never added
            const BOOL bRetCode = CertAddCertificateContextToStore(hExtraStore, pCert, CERT_STORE_ADD_NEW, nullptr);
            CHECK_GOTO(bRetCode == FALSE && GetLastError() != static_cast<DWORD>(CRYPT_E_EXISTS),
                       L"CertAddCertificateContextToStore", HResultFromLastError());
        }
        TRACE_STEP(L"Add signer certificates");
    }
    // The signature's own certificates (its root too) lend issuers to the
    // chain through the signer's store, without entering the extra store.
    hSignatureStore = CertOpenStore(CERT_STORE_PROV_MEMORY, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, nullptr);
    CHECK_GOTO(hSignatureStore == NULL, L"CertOpenStore", HResultFromLastError());
    for (size_t i = 0; i < vtrSignerCerts.size(); ++i) {
        CHECK_GOTO(!CertAddCertificateContextToStore(hSignatureStore, vtrSignerCerts[i], CERT_STORE_ADD_ALWAYS,
                                                     i == 0 ? &pSigner : nullptr),
                   L"CertAddCertificateContextToStore(signature)", HResultFromLastError());
    }
    hr = HResultFromError(ValidateCertificate(pSigner, hExtraStore, hEmbeddedRoots));
    CHECK_GOTO(FAILED(hr), L"ValidateCertificate", hr);

exit:
    if (pSigner) CertFreeCertificateContext(pSigner);
    if (hSignatureStore) CertCloseStore(hSignatureStore, 0);
    RemoveAllCertificates(vtrSignerCerts);
    return hr;
}
