#pragma once
// Certificate stores of the trust check and chain validation with an extra
// store of certificates.
#include <windows.h>
#include <wincrypt.h>

#include <string>

// A memory store over PKCS#7 certificate bytes (the embedded trust chain);
// certificates added later stay in memory.
HRESULT ImportP7bToMemoryStore(const BYTE* pbyP7bData, DWORD dwP7bDataSize, HCERTSTORE* phStore);
// Adds the current user's ROOT and CA certificates to the store; a null
// handle is replaced by a new memory store first.
HRESULT AppendLocalTrustedCertStore(HCERTSTORE* phStore);
// Validates the certificate's chain (see CertValidateCertChain).
HRESULT ValidateCertificate(PCCERT_CONTEXT pstCertContext, HCERTSTORE hExtraStore, HCERTSTORE hEmbeddedRoots);
// Builds the chain with the extra store (which may be null) and judges it:
// 0xA0001A16 when a signature in it does not verify, 0xA0001A15 when it is
// not complete, 0x800B0109 when its top is not self-signed or is neither one
// of the embedded roots (same encoding, self-signed) nor trusted by the
// system; 0 otherwise. Validity periods and revocation are not checked.
HRESULT CertValidateCertChain(PCCERT_CONTEXT pstCertContext, HCERTSTORE hExtraStore, HCERTSTORE hEmbeddedRoots);
// A chain engine that looks for issuers in the extra store.
HRESULT CreateCertChainEngine(HCERTSTORE hExtraStore, HCERTCHAINENGINE* phChainEngine);
// Issuer name equal to subject name, byte for byte.
BOOL IsRootCertificate(PCCERT_CONTEXT pstCertContext);
// The subject as X.500 text (for traces).
std::wstring GetCertSubjectDN(PCCERT_CONTEXT pstCertContext);
