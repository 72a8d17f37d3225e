// Certificate stores of the trust check and chain validation.
#include "CertificateChain.h"

#include <cstring>

#include "RegCertificate.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"CertificateChain"

namespace {

// Adds every certificate of a system store of the current user.
HRESULT AppendSystemStore(HCERTSTORE hStore, const wchar_t* lpwName) {
    TRACE_NAME(L"AppendLocalTrustedCertStore");
    HRESULT hr = S_OK;
    HCERTSTORE hSystem = CertOpenSystemStoreW(0, lpwName);
    PCCERT_CONTEXT pCert = nullptr;
    DWORD index = 0;

    CHECK_GOTO(hSystem == NULL, L"CertOpenSystemStoreW", HResultFromLastError());
    while ((pCert = CertEnumCertificatesInStore(hSystem, pCert)) != nullptr) {
        const BOOL bRetCode = CertAddCertificateContextToStore(hStore, pCert, CERT_STORE_ADD_NEW, nullptr);
        if (bRetCode == FALSE && GetLastError() != static_cast<DWORD>(CRYPT_E_EXISTS)) {
            hr = HResultFromLastError();
            TRACE_FAIL(L"CertAddCertificateContextToStore",
                       L"bRetCode == FALSE && ::GetLastError() != CRYPT_E_EXISTS", hr);
            CertFreeCertificateContext(pCert);
            goto exit;
        }
        if (TraceIsEnabled(GetTraceFlags().step)) {
            TraceValue(L"Certificate index", index);
            TraceValueString(L"Certificate subject", GetCertSubjectDN(pCert).c_str());
        }
        ++index;
    }

exit:
    if (hSystem) CertCloseStore(hSystem, 0);
    return hr;
}

bool SameEncoding(PCCERT_CONTEXT a, PCCERT_CONTEXT b) {
    return a->cbCertEncoded == b->cbCertEncoded && memcmp(a->pbCertEncoded, b->pbCertEncoded, a->cbCertEncoded) == 0;
}

// The store holds a self-signed certificate with exactly this encoding.
bool IsEmbeddedRoot(HCERTSTORE hEmbeddedRoots, PCCERT_CONTEXT pTop) {
    if (!hEmbeddedRoots) return false;
    for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(hEmbeddedRoots, c)) != nullptr;) {
        if (IsRootCertificate(c) && SameEncoding(c, pTop)) {
            CertFreeCertificateContext(c);
            return true;
        }
    }
    return false;
}

}  // namespace

HRESULT ImportP7bToMemoryStore(const BYTE* pbyP7bData, DWORD dwP7bDataSize, HCERTSTORE* phStore) {
    TRACE_SCOPE(L"ImportP7bToMemoryStore");
    HRESULT hr = S_OK;
    CRYPT_DATA_BLOB blob = {dwP7bDataSize, const_cast<BYTE*>(pbyP7bData)};
    HCERTSTORE hCertStore = nullptr;

    CHECK_GOTO(pbyP7bData == NULL || dwP7bDataSize == 0 || phStore == NULL, L"Check Parameter", E_INVALIDARG);
    // Writable in memory (nothing is ever written back): the trust check
    // adds the user's and the signature's certificates to this store.
    hCertStore = CertOpenStore(CERT_STORE_PROV_PKCS7, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, &blob);
    CHECK_GOTO(hCertStore == NULL, L"CertOpenStore", HResultFromLastError());
    *phStore = hCertStore;
    TRACE_STEP(L"CertOpenStore");

exit:
    return hr;
}

HRESULT AppendLocalTrustedCertStore(HCERTSTORE* phStore) {
    TRACE_SCOPE(L"AppendLocalTrustedCertStore");
    HRESULT hr = S_OK;
    HCERTSTORE hMemoryStore = nullptr;

    CHECK_GOTO(phStore == NULL, L"Check Parameter", E_INVALIDARG);
    if (*phStore == NULL) {
        hMemoryStore = CertOpenStore(CERT_STORE_PROV_MEMORY, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, nullptr);
        CHECK_GOTO(hMemoryStore == NULL, L"CertOpenStore", HResultFromLastError());
        *phStore = hMemoryStore;
    }
    hr = AppendSystemStore(*phStore, L"ROOT");
    CHECK_GOTO(FAILED(hr), L"Append ROOT", hr);
    hr = AppendSystemStore(*phStore, L"CA");
    CHECK_GOTO(FAILED(hr), L"Append CA", hr);
    TRACE_STEP(L"Append local stores");

exit:
    return hr;
}

HRESULT ValidateCertificate(PCCERT_CONTEXT pstCertContext, HCERTSTORE hExtraStore, HCERTSTORE hEmbeddedRoots) {
    TRACE_SCOPE(L"ValidateCertificate");
    HRESULT hr = S_OK;
    CHECK_GOTO(pstCertContext == NULL, L"Check Parameter", E_INVALIDARG);
    hr = HResultFromError(CertValidateCertChain(pstCertContext, hExtraStore, hEmbeddedRoots));
    CHECK_GOTO(FAILED(hr), L"CertValidateCertChain", hr);
exit:
    return hr;
}

HRESULT CreateCertChainEngine(HCERTSTORE hExtraStore, HCERTCHAINENGINE* phChainEngine) {
    TRACE_SCOPE(L"CreateCertChainEngine");
    HRESULT hr = S_OK;
    CERT_CHAIN_ENGINE_CONFIG config = {};

    CHECK_GOTO(phChainEngine == NULL, L"Check Parameter", E_INVALIDARG);
    // The ten-field form of the record: its size is set explicitly, as
    // newer headers declare a longer record.
    config.cbSize = 40;
    config.hRestrictedRoot = nullptr;
    config.hRestrictedTrust = hExtraStore;
    config.hRestrictedOther = hExtraStore;
    config.cAdditionalStore = 0;
    config.rghAdditionalStore = nullptr;
    config.dwFlags = CERT_CHAIN_CACHE_END_CERT;
    CHECK_GOTO(!CertCreateCertificateChainEngine(&config, phChainEngine), L"CertCreateCertificateChainEngine",
               HResultFromLastError());
    TRACE_STEP(L"CertCreateCertificateChainEngine");

exit:
    return hr;
}

HRESULT CertValidateCertChain(PCCERT_CONTEXT pstCertContext, HCERTSTORE hExtraStore, HCERTSTORE hEmbeddedRoots) {
    TRACE_SCOPE(L"CertValidateCertChain");
    HRESULT hr = S_OK;
    HCERTCHAINENGINE hEngine = nullptr;
    HCERTSTORE hAdditional = nullptr;
    PCCERT_CHAIN_CONTEXT pChain = nullptr;
    CERT_CHAIN_PARA para = {};
    DWORD dwErrorStatus = 0;
    PCCERT_CONTEXT pTop = nullptr;
    const CERT_SIMPLE_CHAIN* simple = nullptr;

    CHECK_GOTO(pstCertContext == NULL, L"Check Parameter", E_INVALIDARG);
    if (hExtraStore) {
        hr = CreateCertChainEngine(hExtraStore, &hEngine);
        CHECK_GOTO(FAILED(hr), L"CreateCertChainEngine", hr);
    }
    // Issuers are looked for in the extra store and in the certificate's own
    // store (a signature's certificates): some engines search neither by
    // themselves, so both go to the call as its additional store.
    hAdditional = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
    CHECK_GOTO(hAdditional == NULL, L"CertOpenStore(collection)", HResultFromLastError());
    if (hExtraStore) CertAddStoreToCollection(hAdditional, hExtraStore, 0, 0);
    if (pstCertContext->hCertStore) CertAddStoreToCollection(hAdditional, pstCertContext->hCertStore, 0, 0);
    para.cbSize = 16;  // the usage part only, empty: AND of no identifiers
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    CHECK_GOTO(!CertGetCertificateChain(hEngine, pstCertContext, nullptr, hAdditional, &para,
                                        CERT_CHAIN_CACHE_END_CERT | CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE |
                                            CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY,
                                        nullptr, &pChain),
               L"CertGetCertificateChain", HResultFromLastError());
    dwErrorStatus = pChain->TrustStatus.dwErrorStatus;
    TraceValue(L"dwErrorStatus", dwErrorStatus);

    CHECK_GOTO((dwErrorStatus & CERT_TRUST_IS_NOT_SIGNATURE_VALID), L"Cert Chain Signature Invalid",
               RESULT_CHAIN_BAD_SIGNATURE);
    CHECK_GOTO((dwErrorStatus & CERT_TRUST_IS_PARTIAL_CHAIN), L"Cert Chain Integrity Invalid", RESULT_CHAIN_PARTIAL);

    // The chain must end in a root that is ours (embedded) or the system's.
    CHECK_GOTO(pChain->cChain == 0 || pChain->rgpChain[0]->cElement == 0, L"Cert Chain Integrity Invalid",
               RESULT_CHAIN_PARTIAL);
    simple = pChain->rgpChain[0];
    pTop = simple->rgpElement[simple->cElement - 1]->pCertContext;
    TraceValueString(L"Chain root", GetCertSubjectDN(pTop).c_str());
    CHECK_GOTO(!IsRootCertificate(pTop), L"Cert Chain Root Not Self-Signed", RESULT_CHAIN_PARTIAL);
    CHECK_GOTO(!IsEmbeddedRoot(hEmbeddedRoots, pTop) && (dwErrorStatus & CERT_TRUST_IS_UNTRUSTED_ROOT),
               L"Cert Chain Root Untrusted", CERT_E_UNTRUSTEDROOT);
    TRACE_STEP(L"Validate chain");

exit:
    if (pChain) CertFreeCertificateChain(pChain);
    if (hEngine) CertFreeCertificateChainEngine(hEngine);
    if (hAdditional) CertCloseStore(hAdditional, 0);
    return hr;
}

BOOL IsRootCertificate(PCCERT_CONTEXT pstCertContext) {
    if (!pstCertContext || !pstCertContext->pCertInfo) return FALSE;
    const CERT_NAME_BLOB& issuer = pstCertContext->pCertInfo->Issuer;
    const CERT_NAME_BLOB& subject = pstCertContext->pCertInfo->Subject;
    return issuer.cbData == subject.cbData && memcmp(issuer.pbData, subject.pbData, issuer.cbData) == 0;
}

std::wstring GetCertSubjectDN(PCCERT_CONTEXT pstCertContext) {
    wchar_t* lpwSubject = nullptr;
    std::wstring subject;
    if (GetCertSubject(&lpwSubject, pstCertContext, nullptr, CERT_X500_NAME_STR) == S_OK && lpwSubject)
        subject = lpwSubject;
    delete[] lpwSubject;
    return subject;
}
