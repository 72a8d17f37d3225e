#pragma once
// Certificates that a CryptoAPI provider keeps with the keys of its key
// containers (not registered in any certificate store), and the viewer that
// shows one certificate in the system's certificate dialog.
#include <windows.h>
#include <wincrypt.h>

#include <vector>

#include "RegCertificate.h"

// The key's own CryptoAPI provider; the list that the viewer searches.
#define UNREG_CERT_CSP_LIST L"Quib CSP v6.0 (ZOPRA)"

// One certificate found in a key container (one zeroed block).
struct UnregCertContext {
    wchar_t wszCSPName[260];
    wchar_t wszContainerName[260];
    DWORD dwKeySpec;               // AT_KEYEXCHANGE or AT_SIGNATURE
    PCCERT_CONTEXT pCertContext;   // a reference of its own
};

// Owns its records; RemoveAllUnregCertificates frees them.
typedef std::vector<UnregCertContext*> UnregCertContextSet;

HRESULT CertCreateUnregCertContext(UnregCertContext** ppUnregCertContext, PCCERT_CONTEXT pCertContext,
                                   const wchar_t* lpwCSPName, const wchar_t* lpwContainerName, DWORD dwKeySpec);
void CertFreeUnregCertContext(UnregCertContext* pUnregCertContext);
void RemoveAllUnregCertificates(UnregCertContextSet& vtrUnregCertSet);
// The certificate kept with one key of one container (KP_CERTIFICATE).
HRESULT GetUnregCertFromContainer(UnregCertContext** ppUnregCertContext, const wchar_t* lpwCSPName,
                                  const wchar_t* lpwContainerName, DWORD dwKeySpec);
// 0 when the certificate meets the filter (a null filter passes all), else E_FAIL.
HRESULT CheckUnregCertificate(PCCERT_CONTEXT pCertContext, const CertFilter* pstCertFilter);
// Appends the matching certificates of every container of the provider:
// per container the exchange key's first, then the signature key's.
HRESULT FilterUnregCertsFromCSPSpec(UnregCertContextSet& vtrUnregCertSet, const wchar_t* lpwCSPName,
                                    const CertFilter* pstCertFilter);
// The same for each provider of UNREG_CERT_CSP_LIST; always 0.
HRESULT FilterUnregCertsFromCSPList(UnregCertContextSet& vtrUnregCertSet, const CertFilter* pstCertFilter);
// Finds the certificate by serial number text and subject text (dwSM2Flag 1:
// in the key provider's containers, SM2-signed only; otherwise in "MY") and
// shows it modally to hwndParent.
HRESULT ViewSpecialCertificate(const wchar_t* lpwSerialNumber, const wchar_t* lpwSubject, DWORD dwSM2Flag,
                               HWND hwndParent);
