#pragma once
// The trusted loading of a key library: a library file is loaded only when
// its code signature is valid and its signer chains to the certificates
// embedded in the program (or to the user's trusted root and intermediate
// certificates).
#include <windows.h>
#include <wincrypt.h>

// 0 when the file's signature is valid and its signer's chain validates.
HRESULT VerifyFileTrustPrivate(const wchar_t* lpwFilePath);
// A new in-memory store holding the program's embedded trust chain (its
// CERTCHAIN resource); the caller closes it with CertCloseStore.
HRESULT LoadPrivateTrustCertChain(HCERTSTORE* phCertStore);
