// The host digest handle behind the SKF digest objects.
#include "HashObject.h"

#include <cstring>
#include <new>

#include "DeviceResult.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"HashObject"

namespace {

constexpr uint32_t SHA1_DIGEST_LEN = 20;
constexpr uint32_t MD5_DIGEST_LEN = 16;

}  // namespace

CHashObject::CHashObject(uint8_t byHashID, HASH_CTX* pFirst, HASH_CTX* pSecond)
    : m_pHashCtx(pFirst), m_pHashCtx2nd(pSecond), m_byHashID(byHashID), m_abyDigest(), m_nDigestLen(0) {}

CHashObject::~CHashObject() {
    uint8_t scratch[SOFT_MAX_DIGEST_BYTES];
    uint32_t len = 0;
    // Finishing a context frees it; one that cannot finish is released.
    if (m_pHashCtx2nd && Hash_Final(m_pHashCtx2nd, scratch, &len) != 0) Hash_Free(m_pHashCtx2nd);
    if (m_pHashCtx && Hash_Final(m_pHashCtx, scratch, &len) != 0) Hash_Free(m_pHashCtx);
}

uint32_t CHashObject::DigestLen(uint8_t byHashID) {
    switch (byHashID) {
        case SOFT_HASH_MD5: return 16;
        case SOFT_HASH_SHA1: return 20;
        case SOFT_HASH_SHA256: return 32;
        case SOFT_HASH_SHA512: return 64;
        case SOFT_HASH_SHA1_MD5: return 36;
        case VM_ALG_SM3: return 32;
        default: return 0;
    }
}

uint32_t CHashObject::Initialize(uint8_t byHashID, CHashObject** ppHashObject) {
    TRACE_NAME(L"VM_HASH_OBJECT::Initialize");
    uint32_t hr = 0;
    HASH_CTX* first = nullptr;
    HASH_CTX* second = nullptr;

    CHECK_GOTO(!ppHashObject, L"CHECK ppHashObject", HASHOBJ_E_NULL_POINTER);
    if (byHashID == SOFT_HASH_SHA1_MD5) {
        hr = FoldResult(Hash_Init(&first, SOFT_HASH_SHA1));
        CHECK_GOTO(hr != 0, L"Hash_Init", hr);
        hr = FoldResult(Hash_Init(&second, SOFT_HASH_MD5));
        CHECK_GOTO(hr != 0, L"Hash_Init", hr);
    } else {
        hr = FoldResult(Hash_Init(&first, byHashID));
        CHECK_GOTO(hr != 0, L"Hash_Init", hr);
    }
    TRACE_STEP(L"Hash_Init");
    *ppHashObject = new (std::nothrow) CHashObject(byHashID, first, second);
    CHECK_GOTO(!*ppHashObject, L"new VM_HASH_OBJECT", HASHOBJ_E_NO_MEMORY);
    first = second = nullptr;
exit:
    Hash_Free(first);
    Hash_Free(second);
    return hr;
}

uint32_t CHashObject::Update(const uint8_t* pbyData, uint32_t nDataLen) {
    TRACE_NAME(L"VM_HASH_OBJECT::Update");
    uint32_t hr = 0;
    CHECK_GOTO(!m_pHashCtx, L"CHECK m_pHashCtx", HASHOBJ_E_NO_CONTEXT);
    if (m_byHashID == SOFT_HASH_SHA1_MD5) {
        CHECK_GOTO(!m_pHashCtx2nd, L"CHECK m_pHashCtx2nd", HASHOBJ_E_NO_CONTEXT);
        hr = FoldResult(Hash_Update(m_pHashCtx2nd, pbyData, nDataLen));
        CHECK_GOTO(hr != 0, L"Hash_Update", hr);
    }
    hr = FoldResult(Hash_Update(m_pHashCtx, pbyData, nDataLen));
    CHECK_GOTO(hr != 0, L"Hash_Update", hr);
exit:
    return hr;
}

uint32_t CHashObject::Final(uint8_t* pbyDigest, uint32_t* pnDigestLen) {
    TRACE_NAME(L"VM_HASH_OBJECT::Final");
    uint32_t hr = 0;
    uint32_t len = 0;

    CHECK_GOTO(pbyDigest && !pnDigestLen, L"CHECK pnDigestLen", HASHOBJ_E_NULL_POINTER);
    if (pbyDigest && *pnDigestLen < GetDigestLen()) {
        // Nothing is finished: the caller may ask again with more room.
        *pnDigestLen = GetDigestLen();
        CHECK_GOTO(true, L"CHECK *pnDigestLen", HASHOBJ_E_TOO_SMALL);
    }
    if (m_pHashCtx) {
        if (m_byHashID == SOFT_HASH_SHA1_MD5 && m_pHashCtx2nd) {
            hr = FoldResult(Hash_Final(m_pHashCtx2nd, m_abyDigest + SHA1_DIGEST_LEN, &len));
            if (hr != 0 && pnDigestLen) *pnDigestLen = m_nDigestLen;
            CHECK_GOTO(hr != 0, L"Hash_Final", hr);
            m_pHashCtx2nd = nullptr;
        }
        hr = FoldResult(Hash_Final(m_pHashCtx, m_abyDigest, &len));
        if (hr != 0 && pnDigestLen) *pnDigestLen = m_nDigestLen;
        CHECK_GOTO(hr != 0, L"Hash_Final", hr);
        m_pHashCtx = nullptr;
        m_nDigestLen = m_byHashID == SOFT_HASH_SHA1_MD5 ? SHA1_DIGEST_LEN + MD5_DIGEST_LEN : len;
        TRACE_STEP(L"Hash_Final");
    }
    if (pbyDigest) std::memcpy(pbyDigest, m_abyDigest, m_nDigestLen);
    if (pnDigestLen) *pnDigestLen = m_nDigestLen;
exit:
    return hr;
}

uint32_t CHashObject::Digest(const uint8_t* pbyData, uint32_t nDataLen, uint8_t* pbyDigest, uint32_t* pnDigestLen) {
    TRACE_NAME(L"VM_HASH_OBJECT::Digest");
    uint32_t hr = 0;
    const uint32_t n = GetDigestLen();

    CHECK_GOTO(!pnDigestLen, L"CHECK pnDigestLen", HASHOBJ_E_NULL_POINTER);
    if (n == 0) {
        *pnDigestLen = 0;
        CHECK_GOTO(true, L"CHECK GetDigestLen", HASHOBJ_E_ALGORITHM);
    }
    if (!pbyDigest) {
        *pnDigestLen = n;
        goto exit;
    }
    if (*pnDigestLen < n) {
        *pnDigestLen = n;
        CHECK_GOTO(true, L"CHECK *pnDigestLen", HASHOBJ_E_TOO_SMALL);
    }
    hr = Update(pbyData, nDataLen);
    CHECK_GOTO(hr != 0, L"Update", hr);
    hr = Final(pbyDigest, pnDigestLen);
    CHECK_GOTO(hr != 0, L"Final", hr);
exit:
    return hr;
}
