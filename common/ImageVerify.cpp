// The program's own Authenticode verifier for PE files.
#include "ImageVerify.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "RawRsa.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"ImageVerify"

namespace {

const HRESULT HR_BAD_DATA = static_cast<HRESULT>(0x8007000D);  // ERROR_INVALID_DATA folded

DWORD DigestSize(Asn1DigestAlg alg) { return alg == DigestAlg_SHA1 ? 20 : alg == DigestAlg_SHA256 ? 32 : 0; }

WORD Read16(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
DWORD Read32(const BYTE* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24); }

// Reads exactly dwLength bytes at the offset.
BOOL ReadAt(HANDLE hFile, DWORD dwOffset, BYTE* pbBuffer, DWORD dwLength) {
    LARGE_INTEGER pos;
    pos.QuadPart = dwOffset;
    DWORD dwRead = 0;
    if (!SetFilePointerEx(hFile, pos, nullptr, FILE_BEGIN)) return FALSE;
    if (!ReadFile(hFile, pbBuffer, dwLength, &dwRead, nullptr)) return FALSE;
    if (dwRead != dwLength) {
        SetLastError(ERROR_HANDLE_EOF);
        return FALSE;
    }
    return TRUE;
}

// The value of a SET (or [0]) after an attribute's or content info's
// identifier: its first child, when it has the wanted tag.
Asn1TreeNode* FirstValue(Asn1TreeNode* pNode, BYTE tag) {
    if (!pNode || !pNode->Child || pNode->Child->Tag != 0x06) return nullptr;
    Asn1TreeNode* set = pNode->Child->Next;
    if (!set || (set->Tag != 0x31 && set->Tag != 0xA0)) return nullptr;
    return set->Child && set->Child->Tag == tag ? set->Child : nullptr;
}

// The TBSCertificate's child at the index it has in a version 3
// certificate ([0] version first); one less in a version 1 certificate.
Asn1TreeNode* TbsField(Asn1TreeNode* pCertificate, int v3Index, BYTE tag) {
    Asn1TreeNode* tbs = GetAsn1Node(pCertificate, "0:30");
    if (!tbs || !tbs->Child) return nullptr;
    int index = tbs->Child->Tag == 0xA0 ? v3Index : v3Index - 1;
    Asn1TreeNode* child = tbs->Child;
    for (; child && index > 0; --index) child = child->Next;
    return child && child->Tag == tag ? child : nullptr;
}

bool SameContent(const Asn1TreeNode* a, const Asn1TreeNode* b) {
    return a->Size == b->Size && memcmp(a->Data, b->Data, a->Size) == 0;
}
bool SameEncoding(const Asn1TreeNode* a, const Asn1TreeNode* b) {
    return a->TotalSize == b->TotalSize && memcmp(a->Header, b->Header, a->TotalSize) == 0;
}

// The bytes a SignerInfo's signature runs over: its authenticated
// attributes with the [0] tag replaced by SET OF (0x31). New buffer.
BYTE* SignedAttributesCopy(const Asn1TreeNode* pAttributes) {
    BYTE* copy = new (std::nothrow) BYTE[pAttributes->TotalSize];
    if (!copy) return nullptr;
    memcpy(copy, pAttributes->Header, pAttributes->TotalSize);
    copy[0] = 0x31;
    return copy;
}

// DigestInfo prefixes of EMSA-PKCS1-v1_5 (RFC 8017, 9.2), with the NULL
// parameters and, as some signers write it, without them.
const BYTE kSha1Prefix[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
const BYTE kSha1PrefixNoNull[] = {0x30, 0x1F, 0x30, 0x07, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x04, 0x14};
const BYTE kSha256Prefix[] = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65,
                              0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
const BYTE kSha256PrefixNoNull[] = {0x30, 0x2F, 0x30, 0x0B, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                    0x65, 0x03, 0x04, 0x02, 0x01, 0x04, 0x20};

// The block equals 00 01 FF..FF 00 prefix digest (at least 8 bytes of FF).
bool IsPkcs1Encoding(const BYTE* block, DWORD k, const BYTE* prefix, DWORD prefixLen, const BYTE* digest,
                     DWORD digestLen) {
    const DWORD t = prefixLen + digestLen;
    if (k < t + 11) return false;
    const DWORD ps = k - t - 3;
    if (block[0] != 0x00 || block[1] != 0x01 || block[2 + ps] != 0x00) return false;
    for (DWORD i = 0; i < ps; ++i)
        if (block[2 + i] != 0xFF) return false;
    return memcmp(block + 3 + ps, prefix, prefixLen) == 0 && memcmp(block + 3 + ps + prefixLen, digest, digestLen) == 0;
}

}  // namespace

// ---------------------------------------------------------------- SHA-1 (RFC 3174)

namespace {

UINT32 Sha1CircularShift(int bits, UINT32 word) { return (word << bits) | (word >> (32 - bits)); }

void Sha1ProcessBlock(Sha1Context* context) {
    const UINT32 K[] = {0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xCA62C1D6};
    UINT32 W[80];
    for (int t = 0; t < 16; ++t) {
        W[t] = static_cast<UINT32>(context->Message_Block[t * 4]) << 24;
        W[t] |= static_cast<UINT32>(context->Message_Block[t * 4 + 1]) << 16;
        W[t] |= static_cast<UINT32>(context->Message_Block[t * 4 + 2]) << 8;
        W[t] |= static_cast<UINT32>(context->Message_Block[t * 4 + 3]);
    }
    for (int t = 16; t < 80; ++t) W[t] = Sha1CircularShift(1, W[t - 3] ^ W[t - 8] ^ W[t - 14] ^ W[t - 16]);
    UINT32 A = context->Intermediate_Hash[0], B = context->Intermediate_Hash[1], C = context->Intermediate_Hash[2],
           D = context->Intermediate_Hash[3], E = context->Intermediate_Hash[4];
    for (int t = 0; t < 80; ++t) {
        UINT32 f, k;
        if (t < 20) {
            f = (B & C) | ((~B) & D);
            k = K[0];
        } else if (t < 40) {
            f = B ^ C ^ D;
            k = K[1];
        } else if (t < 60) {
            f = (B & C) | (B & D) | (C & D);
            k = K[2];
        } else {
            f = B ^ C ^ D;
            k = K[3];
        }
        const UINT32 temp = Sha1CircularShift(5, A) + f + E + W[t] + k;
        E = D;
        D = C;
        C = Sha1CircularShift(30, B);
        B = A;
        A = temp;
    }
    context->Intermediate_Hash[0] += A;
    context->Intermediate_Hash[1] += B;
    context->Intermediate_Hash[2] += C;
    context->Intermediate_Hash[3] += D;
    context->Intermediate_Hash[4] += E;
    context->Message_Block_Index = 0;
}

void Sha1Pad(Sha1Context* context) {
    // One block holds the 0x80 byte and the 8-byte length only from index 55 down.
    if (context->Message_Block_Index > 55) {
        context->Message_Block[context->Message_Block_Index++] = 0x80;
        while (context->Message_Block_Index < 64) context->Message_Block[context->Message_Block_Index++] = 0;
        Sha1ProcessBlock(context);
        while (context->Message_Block_Index < 56) context->Message_Block[context->Message_Block_Index++] = 0;
    } else {
        context->Message_Block[context->Message_Block_Index++] = 0x80;
        while (context->Message_Block_Index < 56) context->Message_Block[context->Message_Block_Index++] = 0;
    }
    for (int i = 0; i < 4; ++i) {
        context->Message_Block[56 + i] = static_cast<BYTE>(context->Length_High >> (24 - 8 * i));
        context->Message_Block[60 + i] = static_cast<BYTE>(context->Length_Low >> (24 - 8 * i));
    }
    Sha1ProcessBlock(context);
}

}  // namespace

int Sha1Reset(Sha1Context* context) {
    if (!context) return shaNull;
    context->Length_Low = 0;
    context->Length_High = 0;
    context->Message_Block_Index = 0;
    context->Intermediate_Hash[0] = 0x67452301;
    context->Intermediate_Hash[1] = 0xEFCDAB89;
    context->Intermediate_Hash[2] = 0x98BADCFE;
    context->Intermediate_Hash[3] = 0x10325476;
    context->Intermediate_Hash[4] = 0xC3D2E1F0;
    context->Computed = 0;
    context->Corrupted = 0;
    return shaSuccess;
}

int Sha1Input(Sha1Context* context, const BYTE* message, unsigned length) {
    if (!length) return shaSuccess;
    if (!context || !message) return shaNull;
    if (context->Computed) {
        context->Corrupted = shaStateError;
        return shaStateError;
    }
    if (context->Corrupted) return context->Corrupted;
    while (length-- && !context->Corrupted) {
        context->Message_Block[context->Message_Block_Index++] = *message & 0xFF;
        context->Length_Low += 8;
        if (context->Length_Low == 0) {
            context->Length_High++;
            if (context->Length_High == 0) context->Corrupted = 1;  // more than 2^64 - 1 bits
        }
        if (context->Message_Block_Index == 64) Sha1ProcessBlock(context);
        ++message;
    }
    return shaSuccess;
}

int Sha1Result(Sha1Context* context, BYTE digest[20]) {
    if (!context || !digest) return shaNull;
    if (context->Corrupted) return context->Corrupted;
    if (!context->Computed) {
        Sha1Pad(context);
        memset(context->Message_Block, 0, sizeof(context->Message_Block));
        context->Length_Low = 0;
        context->Length_High = 0;
        context->Computed = 1;
    }
    for (int i = 0; i < 20; ++i)
        digest[i] = static_cast<BYTE>(context->Intermediate_Hash[i >> 2] >> (8 * (3 - (i & 3))));
    return shaSuccess;
}

int Sha1Digest(const BYTE* message, unsigned length, BYTE digest[20]) {
    Sha1Context context;
    int rc = Sha1Reset(&context);
    if (rc == shaSuccess) rc = Sha1Input(&context, message, length);
    if (rc == shaSuccess) rc = Sha1Result(&context, digest);
    return rc;
}

// ---------------------------------------------------------------- digests

namespace {

// SHA-1 (own code) or SHA-256 (OpenSSL) over pieces fed one after another.
class ImageDigest {
public:
    explicit ImageDigest(Asn1DigestAlg alg) : m_alg(alg) {
        if (alg == DigestAlg_SHA1) {
            Sha1Reset(&m_sha1);
        } else if (alg == DigestAlg_SHA256) {
            m_ctx = EVP_MD_CTX_new();
            if (m_ctx && EVP_DigestInit_ex(m_ctx, EVP_sha256(), nullptr) != 1) {
                EVP_MD_CTX_free(m_ctx);
                m_ctx = nullptr;
            }
        }
    }
    ~ImageDigest() { EVP_MD_CTX_free(m_ctx); }
    bool Ok() const { return m_alg == DigestAlg_SHA1 || (m_alg == DigestAlg_SHA256 && m_ctx); }
    bool Update(const BYTE* data, DWORD length) {
        if (m_alg == DigestAlg_SHA1) return Sha1Input(&m_sha1, data, length) == shaSuccess;
        return EVP_DigestUpdate(m_ctx, data, length) == 1;
    }
    bool Final(BYTE* digest) {
        if (m_alg == DigestAlg_SHA1) return Sha1Result(&m_sha1, digest) == shaSuccess;
        unsigned int len = 0;
        return EVP_DigestFinal_ex(m_ctx, digest, &len) == 1;
    }

private:
    Asn1DigestAlg m_alg;
    Sha1Context m_sha1 = {};
    EVP_MD_CTX* m_ctx = nullptr;
};

}  // namespace

HRESULT CalculateFileHashCallback(Asn1DigestAlg alg, void* context, BYTE* digest) {
    TRACE_SCOPE(L"CalculateFileHashCallback");
    HRESULT hr = S_OK;
    const FileDigestContext* ctx = static_cast<const FileDigestContext*>(context);
    BYTE* lpBuffer = nullptr;
    DWORD position = 0, index = 1;

    if (DigestSize(alg) == 0) return S_OK;  // no digest for other algorithms
    CHECK_GOTO(ctx == NULL || ctx->Plan == NULL || digest == NULL || ctx->OffsetCount != 6, L"Check Parameter",
               E_INVALIDARG);
    lpBuffer = new (std::nothrow) BYTE[IMAGE_BUFFER_SIZE];
    CHECK_GOTO(!lpBuffer, L"!lpBuffer", E_OUTOFMEMORY);
    {
        ImageDigest hash(alg);
        CHECK_GOTO(!hash.Ok(), L"Digest init", E_FAIL);
        position = ctx->Plan->Offsets[0];
        while (index < ctx->OffsetCount) {
            const DWORD end = ctx->Plan->Offsets[index];
            if (position >= end) {
                index += 2;
                if (index < ctx->OffsetCount) position = ctx->Plan->Offsets[index - 1];
                continue;
            }
            const DWORD chunk = end - position < IMAGE_BUFFER_SIZE ? end - position : IMAGE_BUFFER_SIZE;
            CHECK_GOTO(!ReadAt(ctx->hFile, position, lpBuffer, chunk), L"ReadFile (section)", HResultFromLastError());
            CHECK_GOTO(!hash.Update(lpBuffer, chunk), L"Digest update", E_FAIL);
            position += chunk;
        }
        CHECK_GOTO(!hash.Final(digest), L"Digest final", E_FAIL);
    }
    TraceDumpBuffer(digest, DigestSize(alg));

exit:
    delete[] lpBuffer;
    return hr;
}

HRESULT CalculateHashCallback(Asn1DigestAlg alg, void* context, BYTE* digest) {
    TRACE_NAME(L"CalculateHashCallback");
    HRESULT hr = S_OK;
    const DataDigestContext* ctx = static_cast<const DataDigestContext*>(context);
    CHECK_GOTO(DigestSize(alg) == 0, L"Check digest algorithm", HR_BAD_DATA);
    CHECK_GOTO(ctx == NULL || (ctx->Data == NULL && ctx->Length != 0) || digest == NULL, L"Check Parameter",
               E_INVALIDARG);
    {
        ImageDigest hash(alg);
        CHECK_GOTO(!hash.Ok() || !hash.Update(ctx->Data, ctx->Length) || !hash.Final(digest), L"Digest", E_FAIL);
    }
exit:
    return hr;
}

void TraceDumpBuffer(const BYTE* pbData, DWORD dwLength) {
    if (!pbData || !TraceIsEnabled(GetTraceFlags().step)) return;
    wchar_t line[TRACE_LINE_CHARS];
    const DWORD pid = GetCurrentProcessId(), tid = GetCurrentThreadId();
    swprintf(line, TRACE_LINE_CHARS, L"[%lu:%lu:U] Buffer start: 0x%p (0x%lx)", pid, tid, pbData,
             static_cast<unsigned long>(dwLength));
    LogFailure(S_OK, line);
    for (DWORD row = 0; row < dwLength; row += 16) {
        wchar_t text[160];
        int n = swprintf(text, 160, L"0x%p ", pbData + row);
        for (DWORD i = 0; i < 16; ++i) {
            if (row + i < dwLength) n += swprintf(text + n, 160 - n, L"%02x ", pbData[row + i]);
            else n += swprintf(text + n, 160 - n, L"   ");
        }
        for (DWORD i = 0; i < 16 && row + i < dwLength; ++i) {
            const BYTE c = pbData[row + i];
            text[n++] = (c >= 32 && c <= 126) ? static_cast<wchar_t>(c) : L'.';
        }
        text[n] = 0;
        swprintf(line, TRACE_LINE_CHARS, L"[%lu:%lu:U] %ls", pid, tid, text);
        LogFailure(S_OK, line);
    }
}

// ---------------------------------------------------------------- file layout

HRESULT AnalyzeFileData(const BYTE* lpFileData, ULONG ulFileSize, ImageHashPlan* pPlan, ULONG* pulSignatureOffset) {
    TRACE_SCOPE(L"AnalyzeFileData");
    HRESULT hr = S_OK;
    LONG lfanew = 0;
    const BYTE* nt = nullptr;
    DWORD checksumOffset = 0, securityEntry = 0, tableOffset = 0;
    WORD magic = 0;

    CHECK_GOTO(lpFileData == NULL || pPlan == NULL || pulSignatureOffset == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(Read16(lpFileData) != IMAGE_DOS_SIGNATURE, L"Check DOS header",
               HR_BAD_DATA);  // lpDosHeader->e_magic != IMAGE_DOS_SIGNATURE
    // e_lfanew is a signed field: a negative offset is refused as well.
    lfanew = static_cast<LONG>(Read32(lpFileData + 0x3C));
    CHECK_GOTO(lfanew < 0 || lfanew >= 512, L"Check e_lfanew", HR_BAD_DATA);
    nt = lpFileData + lfanew;
    CHECK_GOTO(Read32(nt) != IMAGE_NT_SIGNATURE, L"Check NT signature", HR_BAD_DATA);
    CHECK_GOTO((Read16(nt + 4 + 18) & IMAGE_FILE_EXECUTABLE_IMAGE) == 0, L"Check file characteristics", HR_BAD_DATA);
    magic = Read16(nt + 24);
    CHECK_GOTO(magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC && magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC,
               L"Check optional header magic", HR_BAD_DATA);
    securityEntry = static_cast<DWORD>(lfanew) + (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC ? 152 : 168);
    checksumOffset = static_cast<DWORD>(lfanew) + 88;
    TRACE_STEP(L"Check headers");

    tableOffset = Read32(lpFileData + securityEntry);
    CHECK_GOTO(tableOffset == 0, L"lpSignaturePos == lpFileData", TRUST_E_NOSIGNATURE);
    CHECK_GOTO(tableOffset >= ulFileSize, L"(ULONG)(lpSignaturePos - lpFileData) >= ulFileSize", HR_BAD_DATA);
    // The ranges must ascend: checksum, security entry, certificate table.
    CHECK_GOTO(checksumOffset + 4 > securityEntry || securityEntry + 8 > tableOffset, L"Check hash ranges",
               HR_BAD_DATA);

    pPlan->Offsets[0] = 0;
    pPlan->Offsets[1] = checksumOffset;
    pPlan->Offsets[2] = checksumOffset + 4;
    pPlan->Offsets[3] = securityEntry;
    pPlan->Offsets[4] = securityEntry + 8;
    pPlan->Offsets[5] = tableOffset;
    *pulSignatureOffset = tableOffset;
    TraceValue(L"Certificate table", tableOffset);

exit:
    return hr;
}

// ---------------------------------------------------------------- signature structure

HRESULT VerifyPrePositionDataDigest(CalcDigestCallback pfnCallback, void* pContext, Asn1TreeNode* pNode,
                                    DWORD dwContentKey) {
    TRACE_SCOPE(L"VerifyPrePositionDataDigest");
    HRESULT hr = S_OK;
    Asn1TreeNode* DigestNode = nullptr;
    Asn1TreeNode* DigestValueNode = nullptr;
    Asn1DigestAlg uDigestAlg = DigestAlg_Unknown;
    DWORD ulDigestSize = 0;
    BYTE DigestValue[32] = {};

    if (dwContentKey == OID_SpcIndirectDataContent) DigestNode = GetAsn1Node(pNode, "1:30");
    else if (dwContentKey == OID_TSTInfo) DigestNode = GetAsn1Node(pNode, "2:30");
    CHECK_GOTO(DigestNode == NULL, L"Get digest node", HR_BAD_DATA);
    uDigestAlg = GetAsn1DigestAlg(GetAsn1Node(DigestNode, "0:30"));
    CHECK_GOTO(uDigestAlg == DigestAlg_Unknown, L"Get digest algorithm", HR_BAD_DATA);
    ulDigestSize = DigestSize(uDigestAlg);
    DigestValueNode = GetAsn1Node(DigestNode, "1:04");
    CHECK_GOTO(DigestValueNode == NULL, L"Get digest value", HR_BAD_DATA);
    CHECK_GOTO(DigestValueNode->Size != ulDigestSize, L"Check digest size", HR_BAD_DATA);

    hr = pfnCallback(uDigestAlg, pContext, DigestValue);
    CHECK_GOTO(FAILED(hr), L"Calculate digest", hr);
    CHECK_GOTO(memcmp(DigestValue, DigestValueNode->Data, ulDigestSize) != 0, L"Compare digest", HR_BAD_DATA);
    TRACE_STEP(L"Compare digest");

exit:
    return hr;
}

HRESULT VerifyMessageDigest(const BYTE* pbContent, DWORD dwContentLen, Asn1TreeNode* pSignerInfo,
                            Asn1TreeNode** ppAttributesNode) {
    TRACE_SCOPE(L"VerifyMessageDigest");
    HRESULT hr = S_OK;
    Asn1TreeNode* DigestAlgNode = nullptr;
    Asn1TreeNode* MessageDigestNode = nullptr;
    Asn1TreeNode* MessageDigestValueNode = nullptr;
    Asn1DigestAlg uDigestAlg = DigestAlg_Unknown;
    DWORD ulDigestSize = 0;
    BYTE DigestValue[32] = {};
    DataDigestContext content = {pbContent, dwContentLen};

    CHECK_GOTO(ppAttributesNode == NULL, L"Check Parameter", E_INVALIDARG);
    DigestAlgNode = GetAsn1Node(pSignerInfo, "2:30");
    CHECK_GOTO(DigestAlgNode == NULL, L"Get digest algorithm", HR_BAD_DATA);
    uDigestAlg = GetAsn1DigestAlg(DigestAlgNode);
    CHECK_GOTO(uDigestAlg == DigestAlg_Unknown, L"Check digest algorithm", HR_BAD_DATA);
    ulDigestSize = DigestSize(uDigestAlg);

    *ppAttributesNode = GetAsn1Node(pSignerInfo, "3:A0");
    CHECK_GOTO(*ppAttributesNode == NULL, L"Get authenticated attributes", HR_BAD_DATA);
    MessageDigestNode = SearchAsn1Object(*ppAttributesNode, OID_messageDigest);
    CHECK_GOTO(MessageDigestNode == NULL, L"Get message digest", HR_BAD_DATA);
    MessageDigestValueNode = FirstValue(MessageDigestNode, 0x04);
    CHECK_GOTO(MessageDigestValueNode == NULL, L"Get message digest value", HR_BAD_DATA);
    CHECK_GOTO(MessageDigestValueNode->Size != ulDigestSize, L"Check message digest size", HR_BAD_DATA);

    hr = CalculateHashCallback(uDigestAlg, &content, DigestValue);
    CHECK_GOTO(FAILED(hr), L"CalculateHashCallback", hr);
    CHECK_GOTO(memcmp(DigestValue, MessageDigestValueNode->Data, ulDigestSize) != 0, L"Compare message digest",
               HR_BAD_DATA);
    TRACE_STEP(L"Compare message digest");

exit:
    return hr;
}

Asn1TreeNode* SearchCertInCertSet(Asn1TreeNode* pCertificates, Asn1TreeNode* pIssuerNode, Asn1TreeNode* pSerialNode) {
    TRACE_SCOPE(L"SearchCertInCertSet");
    if (!pCertificates || !pIssuerNode || !pSerialNode) return nullptr;
    for (Asn1TreeNode* cert = pCertificates->Child; cert; cert = cert->Next) {
        if (cert->Tag != 0x30) continue;
        Asn1TreeNode* serial = TbsField(cert, 1, 0x02);
        Asn1TreeNode* issuer = TbsField(cert, 3, 0x30);
        if (serial && issuer && SameContent(serial, pSerialNode) && SameEncoding(issuer, pIssuerNode)) return cert;
    }
    return nullptr;
}

HRESULT VerifySignature(Asn1DigestAlg alg, const BYTE* pbSigned, DWORD dwSignedLen, Asn1TreeNode* pPublicKeyNode,
                        Asn1TreeNode* pSignatureNode) {
    TRACE_NAME(L"VerifySignature");
    HRESULT hr = S_OK;
    BYTE digest[32] = {};
    DataDigestContext content = {pbSigned, dwSignedLen};
    Asn1TreeNode* PublicKeyRootNode = nullptr;
    Asn1TreeNode* NNode = nullptr;
    Asn1TreeNode* ENode = nullptr;
    RsaPublicKey key = {};
    BYTE* SignedHash = nullptr;
    int nSignedHashSize = 0;
    int nRetValue = 0;
    const DWORD digestSize = DigestSize(alg);
    bool match = false;

    CHECK_GOTO(pPublicKeyNode == NULL || pSignatureNode == NULL, L"Check Parameter", HR_BAD_DATA);
    hr = CalculateHashCallback(alg, &content, digest);
    CHECK_GOTO(FAILED(hr), L"CalculateHashCallback", hr);

    PublicKeyRootNode = ParseAsn1Data(pPublicKeyNode->Data, pPublicKeyNode->Size);
    CHECK_GOTO(PublicKeyRootNode == NULL, L"Parse public key", HR_BAD_DATA);
    NNode = GetAsn1Node(PublicKeyRootNode, "0:02");
    CHECK_GOTO(NNode == NULL, L"Get modulus", HR_BAD_DATA);
    ENode = GetAsn1Node(PublicKeyRootNode, "1:02");
    CHECK_GOTO(ENode == NULL, L"Get exponent", HR_BAD_DATA);
    nRetValue = RSA_create(NNode->Data, static_cast<int>(NNode->Size), &key, ENode->Data, static_cast<int>(ENode->Size));
    CHECK_GOTO(nRetValue == 0, L"RSA_create", HR_BAD_DATA);

    nSignedHashSize = BN_num_bytes(key.n);
    CHECK_GOTO(nSignedHashSize <= 0 || static_cast<DWORD>(nSignedHashSize) != pSignatureNode->Size,
               L"Check signature size", HR_BAD_DATA);
    SignedHash = new (std::nothrow) BYTE[nSignedHashSize];
    CHECK_GOTO(!SignedHash, L"!SignedHash", E_OUTOFMEMORY);
    nRetValue = RSA_eay_public_decrypt(static_cast<int>(pSignatureNode->Size), pSignatureNode->Data, SignedHash, &key);
    CHECK_GOTO(nRetValue != static_cast<int>(pSignatureNode->Size), L"RSA_eay_public_decrypt", HR_BAD_DATA);

    // The whole block must be the PKCS#1 v1.5 encoding of the digest: a
    // block that merely ends in the digest can be forged for small exponents.
    if (alg == DigestAlg_SHA1) {
        match = IsPkcs1Encoding(SignedHash, nRetValue, kSha1Prefix, sizeof(kSha1Prefix), digest, digestSize) ||
                IsPkcs1Encoding(SignedHash, nRetValue, kSha1PrefixNoNull, sizeof(kSha1PrefixNoNull), digest, digestSize);
    } else {
        match = IsPkcs1Encoding(SignedHash, nRetValue, kSha256Prefix, sizeof(kSha256Prefix), digest, digestSize) ||
                IsPkcs1Encoding(SignedHash, nRetValue, kSha256PrefixNoNull, sizeof(kSha256PrefixNoNull), digest,
                                digestSize);
    }
    CHECK_GOTO(!match, L"Compare signature", HR_BAD_DATA);
    TRACE_STEP(L"Compare signature");

exit:
    DestroyRsaPublicKey(&key);
    delete[] SignedHash;
    FreeAsn1Tree(PublicKeyRootNode);
    return hr;
}

HRESULT VerifyPKCS7Signature(Asn1TreeNode* pSignerInfo, Asn1TreeNode* pCertificates, const BYTE* pbSigned,
                             DWORD dwSignedLen, Asn1TreeNode** ppSignatureNode) {
    TRACE_SCOPE(L"VerifyPKCS7Signature");
    HRESULT hr = S_OK;
    Asn1TreeNode* SignerCertSNNode = nullptr;
    Asn1TreeNode* SignerCertIssuerNode = nullptr;
    Asn1TreeNode* SignerCertNode = nullptr;
    Asn1TreeNode* SignerPublicKeyNode = nullptr;
    Asn1DigestAlg uDigestAlg = DigestAlg_Unknown;

    CHECK_GOTO(ppSignatureNode == NULL, L"Check Parameter", E_INVALIDARG);
    SignerCertSNNode = GetAsn1Node(pSignerInfo, "1.1:02");
    CHECK_GOTO(SignerCertSNNode == NULL, L"Get signer serial number", HR_BAD_DATA);
    SignerCertIssuerNode = GetAsn1Node(pSignerInfo, "1.0:30");
    CHECK_GOTO(SignerCertIssuerNode == NULL, L"Get signer issuer", HR_BAD_DATA);
    SignerCertNode = SearchCertInCertSet(pCertificates, SignerCertIssuerNode, SignerCertSNNode);
    CHECK_GOTO(SignerCertNode == NULL, L"SearchCertInCertSet", HR_BAD_DATA);
    SignerPublicKeyNode = TbsField(SignerCertNode, 6, 0x30);
    SignerPublicKeyNode = SignerPublicKeyNode ? GetAsn1Node(SignerPublicKeyNode, "1:03") : nullptr;
    CHECK_GOTO(SignerPublicKeyNode == NULL, L"Get signer public key", HR_BAD_DATA);

    uDigestAlg = GetAsn1DigestAlg(GetAsn1Node(pSignerInfo, "2:30"));
    CHECK_GOTO(uDigestAlg == DigestAlg_Unknown, L"Get digest algorithm", HR_BAD_DATA);
    *ppSignatureNode = GetAsn1Node(pSignerInfo, "5:04");
    CHECK_GOTO(*ppSignatureNode == NULL, L"Get signature value", HR_BAD_DATA);

    hr = VerifySignature(uDigestAlg, pbSigned, dwSignedLen, SignerPublicKeyNode, *ppSignatureNode);
    CHECK_GOTO(FAILED(hr), L"VerifySignature", hr);

exit:
    return hr;
}

namespace {

// The message digest and the signature of one SignerInfo over its content;
// hands back the signature value.
HRESULT VerifySignerInfo(const BYTE* pbContent, DWORD dwContentLen, Asn1TreeNode* pSignerInfo,
                         Asn1TreeNode* pCertificates, Asn1TreeNode** ppSignatureNode) {
    TRACE_NAME(L"VerifySignedDataStruct");
    HRESULT hr = S_OK;
    Asn1TreeNode* AttributesNode = nullptr;
    BYTE* lpSigned = nullptr;

    hr = VerifyMessageDigest(pbContent, dwContentLen, pSignerInfo, &AttributesNode);
    CHECK_GOTO(FAILED(hr), L"VerifyMessageDigest", hr);
    lpSigned = SignedAttributesCopy(AttributesNode);
    CHECK_GOTO(!lpSigned, L"New buffer", E_OUTOFMEMORY);
    hr = VerifyPKCS7Signature(pSignerInfo, pCertificates, lpSigned, AttributesNode->TotalSize, ppSignatureNode);
    CHECK_GOTO(FAILED(hr), L"VerifyPKCS7Signature", hr);

exit:
    delete[] lpSigned;
    return hr;
}

}  // namespace

HRESULT VerifySignedDataStruct(Asn1TreeNode* pContentInfo, CalcDigestCallback pfnCallback, void* pContext) {
    TRACE_SCOPE(L"VerifySignedDataStruct");
    HRESULT hr = S_OK;
    Asn1TreeNode* SignedDataNode = nullptr;
    Asn1TreeNode* CertificatesNode = nullptr;
    Asn1TreeNode* ContentInfoNode = nullptr;
    Asn1TreeNode* ContentNode = nullptr;
    Asn1TreeNode* TSTInfoRootNode = nullptr;
    Asn1TreeNode* SignerInfoNode = nullptr;
    Asn1TreeNode* SignatureNode = nullptr;
    Asn1TreeNode* UnauthNode = nullptr;
    const BYTE* pbContent = nullptr;
    DWORD dwContentLen = 0;

    CHECK_GOTO(pContentInfo == NULL || pfnCallback == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(Asn1OIDMatches(pContentInfo, OID_signedData) == FALSE, L"Check content type", HR_BAD_DATA);
    SignedDataNode = FirstValue(pContentInfo, 0x30);
    CHECK_GOTO(SignedDataNode == NULL, L"Get SignedData", HR_BAD_DATA);
    CertificatesNode = GetAsn1Node(SignedDataNode, "3:A0");
    CHECK_GOTO(CertificatesNode == NULL, L"Get certificates", HR_BAD_DATA);

    if ((ContentInfoNode = SearchAsn1Object(SignedDataNode, OID_SpcIndirectDataContent)) != nullptr) {
        ContentNode = FirstValue(ContentInfoNode, 0x30);
        CHECK_GOTO(ContentNode == NULL, L"Get SpcIndirectDataContent", HR_BAD_DATA);
        hr = VerifyPrePositionDataDigest(pfnCallback, pContext, ContentNode, OID_SpcIndirectDataContent);
        CHECK_GOTO(FAILED(hr), L"VerifyPrePositionDataDigest", hr);
    } else if ((ContentInfoNode = SearchAsn1Object(SignedDataNode, OID_TSTInfo)) != nullptr) {
        ContentNode = FirstValue(ContentInfoNode, 0x04);
        CHECK_GOTO(ContentNode == NULL, L"Get TSTInfo", HR_BAD_DATA);
        TSTInfoRootNode = ParseAsn1Data(ContentNode->Data, ContentNode->Size);
        CHECK_GOTO(TSTInfoRootNode == NULL, L"Parse TSTInfo", HR_BAD_DATA);
        hr = VerifyPrePositionDataDigest(pfnCallback, pContext, TSTInfoRootNode, OID_TSTInfo);
        CHECK_GOTO(FAILED(hr), L"VerifyPrePositionDataDigest", hr);
    } else {
        CHECK_GOTO(TRUE, L"Check content info", HR_BAD_DATA);
    }
    pbContent = ContentNode->Data;
    dwContentLen = ContentNode->Size;

    // Only the first SignerInfo is verified.
    SignerInfoNode = GetAsn1Node(SignedDataNode, "4.0:30");
    CHECK_GOTO(SignerInfoNode == NULL, L"Get SignerInfo", HR_BAD_DATA);
    hr = VerifySignerInfo(pbContent, dwContentLen, SignerInfoNode, CertificatesNode, &SignatureNode);
    CHECK_GOTO(FAILED(hr), L"Verify SignerInfo", hr);

    // Unauthenticated attributes: each nested signature must cover the same
    // file; each time-stamp and countersignature the signature value of this
    // SignerInfo.
    UnauthNode = GetAsn1Node(SignerInfoNode, "6:A1");
    for (Asn1TreeNode* attr = UnauthNode ? UnauthNode->Child : nullptr; attr && attr->Tag == 0x30; attr = attr->Next) {
        Asn1TreeNode* first = FirstValue(attr, 0x30);
        if (!first) continue;
        for (Asn1TreeNode* value = first; value; value = value->Next) {
            if (Asn1OIDMatches(attr, OID_nestedSignature)) {
                hr = VerifySignedDataStruct(value, pfnCallback, pContext);
                CHECK_GOTO(FAILED(hr), L"Verify nested signature", hr);
            } else if (Asn1OIDMatches(attr, OID_RFC3161TimeStamp)) {
                DataDigestContext stamped = {SignatureNode->Data, SignatureNode->Size};
                hr = VerifySignedDataStruct(value, CalculateHashCallback, &stamped);
                CHECK_GOTO(FAILED(hr), L"Verify time-stamp", hr);
            } else if (Asn1OIDMatches(attr, OID_countersignature)) {
                Asn1TreeNode* CounterSignatureNode = nullptr;
                hr = VerifySignerInfo(SignatureNode->Data, SignatureNode->Size, value, CertificatesNode,
                                      &CounterSignatureNode);
                CHECK_GOTO(FAILED(hr), L"Verify countersignature", hr);
            } else {
                CHECK_GOTO(TRUE, L"Check unauthenticated attributes", HR_BAD_DATA);
            }
        }
    }
    TRACE_STEP(L"Verify signature");

exit:
    FreeAsn1Tree(TSTInfoRootNode);
    return hr;
}

// ---------------------------------------------------------------- files

HRESULT VerifyFileSignature(const wchar_t* lpwFilePath) {
    TRACE_SCOPE(L"VerifyFileSignature");
    HRESULT hr = S_OK;
    BYTE* lpFileData = nullptr;
    HANDLE hFile = INVALID_HANDLE_VALUE;
    LARGE_INTEGER FileSize = {};
    ImageHashPlan plan = {};
    ULONG ulSignatureOffset = 0;
    DWORD dwLength = 0;
    WORD wCertificateType = 0;
    Asn1TreeNode* Asn1RootNode = nullptr;
    FileDigestContext fileContext = {};

    CHECK_GOTO(lpwFilePath == NULL, L"Check Parameter", E_INVALIDARG);
    lpFileData = new (std::nothrow) BYTE[IMAGE_BUFFER_SIZE]();
    CHECK_GOTO(!lpFileData, L"!lpFileData", E_OUTOFMEMORY);

    hFile = CreateFileW(lpwFilePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
    CHECK_GOTO(hFile == INVALID_HANDLE_VALUE, L"CreateFileW", HResultFromLastError());
    CHECK_GOTO(!GetFileSizeEx(hFile, &FileSize), L"GetFileSizeEx", HResultFromLastError());
    CHECK_GOTO(FileSize.HighPart != 0 || (FileSizeLimit > 0 && FileSize.LowPart > FileSizeLimit),
               L"Check file size", HResultFromError(ERROR_FILE_TOO_LARGE));
    TRACE_STEP(L"Check file size");

    CHECK_GOTO(!ReadAt(hFile, 0, lpFileData,
                       FileSize.LowPart < IMAGE_HEADER_WINDOW ? FileSize.LowPart : IMAGE_HEADER_WINDOW),
               L"ReadFile (header)", HResultFromLastError());
    hr = AnalyzeFileData(lpFileData, FileSize.LowPart, &plan, &ulSignatureOffset);
    CHECK_GOTO(FAILED(hr), L"AnalyzeFileData", hr);

    // WIN_CERTIFICATE: dwLength, wRevision, wCertificateType, then the data.
    CHECK_GOTO(FileSize.LowPart - ulSignatureOffset < 8, L"Check certificate table header", HR_BAD_DATA);
    CHECK_GOTO(!ReadAt(hFile, ulSignatureOffset, lpFileData, 8), L"ReadFile (certificate header)",
               HResultFromLastError());
    dwLength = Read32(lpFileData);
    wCertificateType = Read16(lpFileData + 6);
    CHECK_GOTO(wCertificateType != 2 /* WIN_CERT_TYPE_PKCS_SIGNED_DATA */, L"Check certificate type", HR_BAD_DATA);
    // The table must hold its header, fit the buffer and lie within the file.
    CHECK_GOTO(dwLength < 8 || dwLength > IMAGE_BUFFER_SIZE - 12 || dwLength > FileSize.LowPart - ulSignatureOffset,
               L"Check certificate table length", HR_BAD_DATA);
    CHECK_GOTO(!ReadAt(hFile, ulSignatureOffset, lpFileData, dwLength), L"ReadFile (certificate table)",
               HResultFromLastError());
    TRACE_STEP(L"Read certificate table");

    Asn1RootNode = ParseAsn1Data(lpFileData + 8, dwLength - 8);
    CHECK_GOTO(Asn1RootNode == NULL, L"Asn1RootNode == NULL", HR_BAD_DATA);

    fileContext.hFile = hFile;
    fileContext.Plan = &plan;
    fileContext.OffsetCount = 6;
    hr = VerifySignedDataStruct(Asn1RootNode, CalculateFileHashCallback, &fileContext);
    CHECK_GOTO(FAILED(hr), L"VerifySignedDataStruct", hr);

exit:
    FreeAsn1Tree(Asn1RootNode);
    if (hFile != INVALID_HANDLE_VALUE) CloseHandle(hFile);
    delete[] lpFileData;
    return hr;
}

HRESULT GetFileSignCertificates(const wchar_t* pwszFilePathName, CertContextSet& vtrSignerCerts) {
    TRACE_SCOPE(L"GetFileSignCertificates");
    HRESULT hr = S_OK;
    BOOL bRetCode = FALSE;
    HCERTSTORE hStore = nullptr;
    HCRYPTMSG hMsg = nullptr;
    DWORD dwSignerInfo = 0;
    BYTE* pbySignerInfo = nullptr;
    PCMSG_SIGNER_INFO pSignerInfo = nullptr;
    CERT_INFO certInfo = {};
    PCCERT_CONTEXT pstCertContext = nullptr;
    PCCERT_CONTEXT pEnum = nullptr;

    CHECK_GOTO(NULL == pwszFilePathName, L"Check Parameter", E_INVALIDARG);
    bRetCode = CryptQueryObject(CERT_QUERY_OBJECT_FILE, pwszFilePathName, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                                CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &hStore, &hMsg, nullptr);
    CHECK_GOTO(FALSE == bRetCode, L"CryptQueryObject", HResultFromLastError());
    bRetCode = CryptMsgGetParam(hMsg, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &dwSignerInfo);
    CHECK_GOTO(FALSE == bRetCode, L"CryptMsgGetParam(size)", HResultFromLastError());
    pbySignerInfo = new (std::nothrow) BYTE[dwSignerInfo]();
    CHECK_GOTO(!pbySignerInfo, L"!pbySignerInfo", E_OUTOFMEMORY);
    bRetCode = CryptMsgGetParam(hMsg, CMSG_SIGNER_INFO_PARAM, 0, pbySignerInfo, &dwSignerInfo);
    CHECK_GOTO(FALSE == bRetCode, L"CryptMsgGetParam", HResultFromLastError());
    pSignerInfo = reinterpret_cast<PCMSG_SIGNER_INFO>(pbySignerInfo);

    certInfo.Issuer = pSignerInfo->Issuer;
    certInfo.SerialNumber = pSignerInfo->SerialNumber;
    pstCertContext = CertFindCertificateInStore(hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                CERT_FIND_SUBJECT_CERT, &certInfo, nullptr);
    CHECK_GOTO(NULL == pstCertContext, L"CertFindCertificateInStore", HResultFromLastError());
    vtrSignerCerts.push_back(pstCertContext);
    TRACE_STEP(L"Signer certificate");

    while ((pEnum = CertEnumCertificatesInStore(hStore, pEnum)) != nullptr) {
        const CRYPT_INTEGER_BLOB& sn = pEnum->pCertInfo->SerialNumber;
        const CRYPT_INTEGER_BLOB& signerSn = pstCertContext->pCertInfo->SerialNumber;
        if (sn.cbData == signerSn.cbData && memcmp(sn.pbData, signerSn.pbData, sn.cbData) == 0) continue;
        vtrSignerCerts.push_back(CertDuplicateCertificateContext(pEnum));
    }
    TraceValue(L"Certificates", static_cast<DWORD>(vtrSignerCerts.size()));

exit:
    delete[] pbySignerInfo;
    if (hMsg) CryptMsgClose(hMsg);
    if (hStore) CertCloseStore(hStore, 0);
    return hr;
}
