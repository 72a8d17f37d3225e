// The trusted loading of a key library.
#include "FunctionalitySet.h"

#include "CertificateChain.h"
#include "TraceHelper.h"
#include "TrustVerify.h"
#include "XMLCertChain.h"

#define TRACE_MODULE L"SKFCryptoKernel\\FunctionalitySet"

HRESULT LoadPrivateTrustCertChain(HCERTSTORE* phCertStore) {
    TRACE_SCOPE(L"LoadPrivateTrustCertChain");
    HRESULT hr = S_OK;
    BYTE* pbyP7bData = nullptr;
    DWORD dwP7bDataSize = 0;

    CHECK_GOTO(phCertStore == NULL, L"Check Parameter", E_INVALIDARG);
    hr = LoadP7bFromXMLCertChainRes(GetModuleHandleW(nullptr), &pbyP7bData, &dwP7bDataSize);
    if (hr != S_OK) FAIL_GOTO(L"LoadP7bFromXMLCertChainRes", L"hResult != S_OK", hr);
    hr = ImportP7bToMemoryStore(pbyP7bData, dwP7bDataSize, phCertStore);
    if (hr != S_OK) FAIL_GOTO(L"ImportP7bToMemoryStore", L"hResult != S_OK", hr);
exit:
    delete[] pbyP7bData;
    return hr;
}

HRESULT VerifyFileTrustPrivate(const wchar_t* lpwFilePath) {
    TRACE_SCOPE(L"VerifyFileTrustPrivate");
    HRESULT hr = S_OK;
    // The extra store lends issuers (the embedded chain with the user's ROOT
    // and CA certificates); only the embedded chain itself is a trust anchor
    // of the program's own.
    HCERTSTORE hExtraStore = nullptr;
    HCERTSTORE hEmbeddedRoots = nullptr;

    CHECK_GOTO(lpwFilePath == NULL || wcslen(lpwFilePath) == 0, L"Check Parameter", E_INVALIDARG);
    hr = LoadPrivateTrustCertChain(&hExtraStore);
    if (hr != S_OK) FAIL_GOTO(L"LoadPrivateTrustCertChain", L"hResult != S_OK", hr);
    hr = LoadPrivateTrustCertChain(&hEmbeddedRoots);
    if (hr != S_OK) FAIL_GOTO(L"LoadPrivateTrustCertChain", L"hResult != S_OK", hr);
    hr = AppendLocalTrustedCertStore(&hExtraStore);
    if (hr != S_OK) FAIL_GOTO(L"AppendLocalTrustedCertStore", L"hResult != S_OK", hr);
    hr = VerifySpecFileTrust(lpwFilePath, hExtraStore, hEmbeddedRoots);
    if (hr != S_OK) FAIL_GOTO(L"VerifySpecFileTrust", L"hResult != S_OK", hr);
exit:
    if (hExtraStore) CertCloseStore(hExtraStore, 0);
    if (hEmbeddedRoots) CertCloseStore(hEmbeddedRoots, 0);
    return hr;
}
