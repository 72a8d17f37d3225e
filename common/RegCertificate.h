#pragma once
// Certificates as CryptoAPI contexts: the shared set type, readers of single
// fields, checks of one field against a wanted value, copying a store into a
// set, and filtering a set by a CertFilter record; also the names of the
// installed CryptoAPI providers.
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

// Each entry holds a reference of its own (CertDuplicateCertificateContext);
// RemoveAllCertificates releases them. A copy of the vector takes none.
typedef std::vector<PCCERT_CONTEXT> CertContextSet;

// Selection criteria; a null or zero field sets none, so an all-zero
// record selects every certificate. The buffers are the caller's.
struct CertFilter {
    const wchar_t* lpwSubjectNames;  // "#"-separated parts, one must occur in the subject text
    const wchar_t* lpwIssuerNames;   // "#"-separated parts, one must occur in the issuer text
    const BYTE* lpbySubjectKeyID;    // cbSubjectKeyID bytes equal to the subject key identifier
    const BYTE* lpbySerialNumber;    // cbSerialNumber bytes, least significant first, equal to the serial
    DWORD dwKeyUsage;                // shares at least one key-usage bit
    DWORD dwNeedPrivateKey;          // exactly 1: the private key must be reachable
    const char* lpszSignAlgOID;      // prefix of the signature algorithm identifier
    DWORD cbSubjectKeyID;
    DWORD cbSerialNumber;
};

HRESULT GetSystemCSPName(std::vector<std::wstring>& vtrCSPNames);
void RemoveAllCertificates(CertContextSet& certSet);

// Readers: the out buffer (array new, the caller's to free) is null after a failure.
HRESULT GetCertSubject(wchar_t** lppwSubject, PCCERT_CONTEXT pstCertContext, DWORD* pdwSubjectLen,
                       DWORD dwStrType);
HRESULT GetCertSubjectCN(PCCERT_CONTEXT pstCertContext, std::wstring& wstrSubjectCN);
HRESULT GetCertIssuer(PCCERT_CONTEXT pstCertContext, wchar_t** lppwIssuer);
HRESULT GetCertKeyUsage(PCCERT_CONTEXT pstCertContext, DWORD* pdwKeyUsage);
HRESULT GetCertSerialNumber(PCCERT_CONTEXT pstCertContext, BYTE** lppbySerialNumber, DWORD* pdwSerialNumberLen);
HRESULT GetCertSerialNumber(PCCERT_CONTEXT pstCertContext, std::wstring& wstrSerialNumber);
HRESULT GetCertSubjectKeyID(PCCERT_CONTEXT pstCertContext, BYTE** lppbySubjectKeyID, DWORD* pdwSubjectKeyIDLen);

HRESULT CheckCertSubjectName(PCCERT_CONTEXT pstCertContext, DWORD dwStrType,
                             const std::vector<std::wstring>& vtrSubjectNames);
HRESULT CheckCertIssuer(PCCERT_CONTEXT pstCertContext, const std::vector<std::wstring>& vtrIssuerNames);
HRESULT CheckCertKeyUsage(PCCERT_CONTEXT pstCertContext, DWORD dwKeyUsage);
HRESULT CheckCertSubjectKeyID(PCCERT_CONTEXT pstCertContext, const BYTE* lpbySubjectKeyID, DWORD cbSubjectKeyID);
HRESULT CheckCertSerialNumber(PCCERT_CONTEXT pstCertContext, const BYTE* lpbySerialNumber, DWORD cbSerialNumber);
HRESULT CheckCertSignatureAlg(PCCERT_CONTEXT pstCertContext, const char* lpszSignAlgOID);

HRESULT ExtractCertificatesFromStore(HCERTSTORE hCertStore, CertContextSet& certSet);
HRESULT ExtractCertificatesFromLocalStore(const wchar_t* lpwCertStoreName, CertContextSet& certSet);
HRESULT FilterCertificates(const CertFilter* pstCertFilter, CertContextSet& outCertSet, CertContextSet inCertSet);
HRESULT FilterCertificatesFromLocalStore(const wchar_t* lpwCertStoreName, const CertFilter* pstCertFilter,
                                         CertContextSet& outCertSet);
