#pragma once
// Whether a file on disk carries a valid code signature whose signer's
// chain validates: WinTrust from Windows Vista on, the program's own
// verifier before.
#include <windows.h>
#include <wincrypt.h>
#include <mscat.h>

#include "RegCertificate.h"

// 0 when the file's signature verifies and its signer's chain is complete,
// correctly signed and ends in one of the embedded roots or a root the
// system trusts. hExtraStore (may be null) lends issuers and receives the
// signature's intermediate certificates; hEmbeddedRoots holds the program's
// own trust anchors (its embedded chain, not the user's stores: a
// self-signed certificate there is trusted as a root).
HRESULT VerifySpecFileTrust(const wchar_t* lpwFileName, HCERTSTORE hExtraStore, HCERTSTORE hEmbeddedRoots);

// The WinTrust road: the file's own signature, else its catalog entry.
HRESULT WinVerifySpecFileTrust(const wchar_t* lpwFileName, CertContextSet& vtrSignerCerts);
HRESULT WinVerifyFileFromItself(const wchar_t* lpwFileName, CertContextSet& vtrSignerCerts);
HRESULT WinVerifyFileFromCatalogEx(const wchar_t* lpwFileName, CertContextSet& vtrSignerCerts);
HRESULT WinVerifyFileFromCatalog(const wchar_t* lpwFileName, CertContextSet& vtrSignerCerts);

// The catalog functions whose hash algorithm can be chosen (Windows 8 on),
// looked up at run time.
typedef BOOL(WINAPI* PfnCryptCATAdminAcquireContext2)(HCATADMIN*, const GUID*, PCWSTR, PCCERT_STRONG_SIGN_PARA,
                                                      DWORD);
typedef BOOL(WINAPI* PfnCryptCATAdminCalcHashFromFileHandle2)(HCATADMIN, HANDLE, DWORD*, BYTE*, DWORD);

// With null entry points the SHA-1 catalog functions the program imports are used.
HRESULT WinVerifyFileFromCatalog2(const wchar_t* lpwFileName, const wchar_t* lpwHashAlgorithm,
                                  PfnCryptCATAdminAcquireContext2 pfnAcquireContext2,
                                  PfnCryptCATAdminCalcHashFromFileHandle2 pfnCalcHash2,
                                  CertContextSet& vtrSignerCerts);
HRESULT GetWinVerifyFileCatalogInfo(const wchar_t* lpwFileName, CATALOG_INFO* pCatalogInfo, wchar_t** lppwFileHexHash);
HRESULT GetWinVerifyFileCatalogInfo2(const wchar_t* lpwFileName, const wchar_t* lpwHashAlgorithm,
                                     PfnCryptCATAdminAcquireContext2 pfnAcquireContext2,
                                     PfnCryptCATAdminCalcHashFromFileHandle2 pfnCalcHash2, CATALOG_INFO* pCatalogInfo,
                                     wchar_t** lppwFileHexHash);
HRESULT WinVerifyFileHashWithCatalog(const CATALOG_INFO* pCatalogInfo, CertContextSet& vtrSignerCerts,
                                     const wchar_t* lpwFileName, const wchar_t* lpwFileHexHash);
// Every signer's chain from WinTrust's state, signer 0 first.
HRESULT GetWinTrustSignerCerts(HANDLE hWVTStateData, CertContextSet& vtrSignerCerts);
