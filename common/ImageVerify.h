#pragma once
// The program's own verifier of a PE file's embedded Authenticode signature
// (used where WinTrust is not relied on, before Windows Vista). It checks
// the cryptographic content only: the image digest, the signers' message
// digests and RSA signatures, nested signatures, RFC 3161 time-stamps and
// PKCS#9 countersignatures; never validity, usage or trust of certificates.
#include <windows.h>

#include "RegCertificate.h"
#include "ImageVerifyAsn1.h"

// Largest file verified (32 MiB); its size's high part must be 0.
constexpr DWORD FileSizeLimit = 0x2000000;
// Bytes of the file header examined, and the certificate table's buffer.
constexpr DWORD IMAGE_HEADER_WINDOW = 4096;
constexpr DWORD IMAGE_BUFFER_SIZE = 0x100000;

// The image digest covers [0]..[1], [2]..[3] and [4]..[5]: the file up to
// the checksum, up to the security directory entry, up to the certificate table.
struct ImageHashPlan {
    DWORD Offsets[6];
};

// Computes a digest (20 or 32 bytes) for the callback's context.
typedef HRESULT (*CalcDigestCallback)(Asn1DigestAlg alg, void* context, BYTE* digest);

struct FileDigestContext {
    HANDLE hFile;
    const ImageHashPlan* Plan;
    DWORD OffsetCount;  // 6
};

struct DataDigestContext {
    const BYTE* Data;
    DWORD Length;
};

// 0 when the file's embedded signature is cryptographically sound;
// 0x800B0100 without a certificate table; 0x800700DF for a file above
// FileSizeLimit; 0x8007000D for malformed data or a mismatch.
HRESULT VerifyFileSignature(const wchar_t* lpwFilePath);
// The first signer's certificate, then the signature's other certificates
// (read with CryptoAPI), appended to the list as references of their own.
HRESULT GetFileSignCertificates(const wchar_t* pwszFilePathName, CertContextSet& vtrSignerCerts);

// Checks the header window of a file of ulFileSize bytes and computes the plan.
HRESULT AnalyzeFileData(const BYTE* lpFileData, ULONG ulFileSize, ImageHashPlan* pPlan, ULONG* pulSignatureOffset);
// Digest callbacks: the image ranges of an open file, or bytes in memory.
HRESULT CalculateFileHashCallback(Asn1DigestAlg alg, void* context, BYTE* digest);
HRESULT CalculateHashCallback(Asn1DigestAlg alg, void* context, BYTE* digest);

HRESULT VerifySignedDataStruct(Asn1TreeNode* pContentInfo, CalcDigestCallback pfnCallback, void* pContext);
HRESULT VerifyPrePositionDataDigest(CalcDigestCallback pfnCallback, void* pContext, Asn1TreeNode* pNode,
                                    DWORD dwContentKey);
HRESULT VerifyMessageDigest(const BYTE* pbContent, DWORD dwContentLen, Asn1TreeNode* pSignerInfo,
                            Asn1TreeNode** ppAttributesNode);
HRESULT VerifyPKCS7Signature(Asn1TreeNode* pSignerInfo, Asn1TreeNode* pCertificates, const BYTE* pbSigned,
                             DWORD dwSignedLen, Asn1TreeNode** ppSignatureNode);
// RSA PKCS#1 v1.5: the whole recovered block must equal the encoding of the digest.
HRESULT VerifySignature(Asn1DigestAlg alg, const BYTE* pbSigned, DWORD dwSignedLen, Asn1TreeNode* pPublicKeyNode,
                        Asn1TreeNode* pSignatureNode);
// The certificate whose issuer and serial number equal the given ones.
Asn1TreeNode* SearchCertInCertSet(Asn1TreeNode* pCertificates, Asn1TreeNode* pIssuerNode, Asn1TreeNode* pSerialNode);
// A hex dump of the bytes to the trace (when tracing is on).
void TraceDumpBuffer(const BYTE* pbData, DWORD dwLength);

// SHA-1 (FIPS 180-1) in the incremental form of RFC 3174's reference code.
struct Sha1Context {
    UINT32 Intermediate_Hash[5];
    UINT32 Length_Low;
    UINT32 Length_High;
    int Message_Block_Index;
    BYTE Message_Block[64];
    int Computed;
    int Corrupted;
};
enum { shaSuccess = 0, shaNull, shaInputTooLong, shaStateError };
int Sha1Reset(Sha1Context* context);
int Sha1Input(Sha1Context* context, const BYTE* message, unsigned length);
int Sha1Result(Sha1Context* context, BYTE digest[20]);
int Sha1Digest(const BYTE* message, unsigned length, BYTE digest[20]);
