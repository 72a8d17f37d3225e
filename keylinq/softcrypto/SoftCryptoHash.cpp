// Digest contexts over MD5, SHA-1, SHA-256, SHA-512 and SM3, and the
// one-shot MD5.
#define TRACE_MODULE L"SoftCrypto"
#include <new>

#include "SoftCrypto.h"
#include "SoftCryptoTrace.h"
#include "SoftHash.h"

namespace {

uint32_t DigestLength(uint8_t id) {
    switch (id) {
    case SOFT_HASH_MD5: return MD5_DIGEST_BYTES;
    case SOFT_HASH_SHA1: return SHA1_DIGEST_BYTES;
    case SOFT_HASH_SHA256: return SHA256_DIGEST_BYTES;
    case SOFT_HASH_SHA512: return SHA512_DIGEST_BYTES;
    case SOFT_HASH_SHA1_MD5: return SHA1_DIGEST_BYTES + MD5_DIGEST_BYTES;
    case VM_ALG_SM3: return SM3_DIGEST_BYTES;
    default: return 0;
    }
}

// Frees the states that the context still owns. An MD5 state that went
// through MD5Final is gone already and its slot is null.
void FreeStates(HASH_CTX* ctx) {
    switch (ctx->hashtype) {
    case SOFT_HASH_MD5: delete static_cast<MD5_STATE*>(ctx->pFirst); break;
    case SOFT_HASH_SHA1: delete static_cast<SHA1_STATE*>(ctx->pFirst); break;
    case SOFT_HASH_SHA256: delete static_cast<SHA256_STATE*>(ctx->pFirst); break;
    case SOFT_HASH_SHA512: delete static_cast<SHA512_STATE*>(ctx->pFirst); break;
    case SOFT_HASH_SHA1_MD5: delete static_cast<SHA1_STATE*>(ctx->pFirst); break;
    case VM_ALG_SM3: delete static_cast<SM3_STATE*>(ctx->pFirst); break;
    default: break;
    }
    delete static_cast<MD5_STATE*>(ctx->pSecond);
    ctx->pFirst = ctx->pSecond = nullptr;
}

}  // namespace

uint32_t Hash_Init(HASH_CTX** ppHashCtx, uint8_t nHashAlgid) {
    TRACE_NAME(L"Hash_Init");
    uint32_t hr = SOFTCRYPTO_OK;
    int hResult = 0;
    HASH_CTX* pCtx = nullptr;

    SOFT_CHECK(NULL == ppHashCtx, L"Check ppHashCtx", SOFTCRYPTO_E_INVALIDARG);
    pCtx = new (std::nothrow) HASH_CTX{nullptr, nullptr, 0};
    SOFT_CHECK(!pCtx, L"New pointer", SOFTCRYPTO_E_OUTOFMEMORY);
    pCtx->hashtype = nHashAlgid;
    switch (nHashAlgid) {
    case SOFT_HASH_MD5:
        hResult = MD5Init(reinterpret_cast<MD5_STATE**>(&pCtx->pFirst));
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"MD5Init", SOFTCRYPTO_E_SETUP);
        break;
    case SOFT_HASH_SHA1:
    case SOFT_HASH_SHA1_MD5:
        hResult = SHA1Init(reinterpret_cast<SHA1_STATE**>(&pCtx->pFirst));
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"SHA1Init", SOFTCRYPTO_E_SETUP);
        if (nHashAlgid == SOFT_HASH_SHA1_MD5) {
            hResult = MD5Init(reinterpret_cast<MD5_STATE**>(&pCtx->pSecond));
            SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"MD5Init", SOFTCRYPTO_E_SETUP);
        }
        break;
    case SOFT_HASH_SHA256:
        hResult = SHA256Init(reinterpret_cast<SHA256_STATE**>(&pCtx->pFirst));
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"SHA256Init", SOFTCRYPTO_E_SETUP);
        break;
    case SOFT_HASH_SHA512:
        hResult = SHA512Init(reinterpret_cast<SHA512_STATE**>(&pCtx->pFirst));
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"SHA512Init", SOFTCRYPTO_E_SETUP);
        break;
    case VM_ALG_SM3: {
        SM3_STATE* sm3 = new (std::nothrow) SM3_STATE;
        pCtx->pFirst = sm3;
        hResult = sm3 ? SM3Init(sm3) : 0;
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"SM3Init", SOFTCRYPTO_E_SETUP);
        break;
    }
    default:
        SOFT_STEP(true, L"CHECK nHashAlgid", L"TRUE", SOFTCRYPTO_E_BAD_ALGID);
    }
    *ppHashCtx = pCtx;
    pCtx = nullptr;
exit:
    Hash_Free(pCtx);
    return hr;
}

uint32_t Hash_Update(HASH_CTX* pHashCtx, const uint8_t* pData, uint32_t nLen) {
    TRACE_NAME(L"Hash_Update");
    uint32_t hr = SOFTCRYPTO_OK;
    int hResult = 0;

    SOFT_CHECK(NULL == pHashCtx, L"CHECK pHashCtx", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(NULL == pData, L"CHECK pData", SOFTCRYPTO_E_INVALIDARG);
    SOFT_TRACE_STEP(L"CHECK nLen");
    switch (pHashCtx->hashtype) {
    case SOFT_HASH_MD5:
        hResult = MD5Update(static_cast<MD5_STATE*>(pHashCtx->pFirst), pData, nLen);
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"MD5Update", SOFTCRYPTO_E_ENCRYPT);
        break;
    case SOFT_HASH_SHA1:
    case SOFT_HASH_SHA1_MD5:
        hResult = SHA1Update(static_cast<SHA1_STATE*>(pHashCtx->pFirst), pData, nLen);
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"SHA1Update", SOFTCRYPTO_E_ENCRYPT);
        if (pHashCtx->hashtype == SOFT_HASH_SHA1_MD5) {
            hResult = MD5Update(static_cast<MD5_STATE*>(pHashCtx->pSecond), pData, nLen);
            SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"MD5Update", SOFTCRYPTO_E_ENCRYPT);
        }
        break;
    case SOFT_HASH_SHA256:
        hResult = SHA256Update(static_cast<SHA256_STATE*>(pHashCtx->pFirst), pData, nLen);
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"SHA256Update", SOFTCRYPTO_E_ENCRYPT);
        break;
    case SOFT_HASH_SHA512:
        hResult = SHA512Update(static_cast<SHA512_STATE*>(pHashCtx->pFirst), pData, nLen);
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"SHA512Update", SOFTCRYPTO_E_ENCRYPT);
        break;
    case VM_ALG_SM3:
        hResult = SM3Update(static_cast<SM3_STATE*>(pHashCtx->pFirst), pData, &nLen);
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"SM3Update", SOFTCRYPTO_E_ENCRYPT);
        break;
    default:
        SOFT_STEP(true, L"CHECK pHashCtx->hashtype", L"TRUE", SOFTCRYPTO_E_BAD_ALGID);
    }
exit:
    return hr;
}

uint32_t Hash_Final(HASH_CTX* pHashCtx, uint8_t* pDigest, uint32_t* pLen) {
    TRACE_NAME(L"Hash_Final");
    uint32_t hr = SOFTCRYPTO_OK;
    int hResult = 0;

    SOFT_CHECK(NULL == pHashCtx, L"CHECK pHashCtx", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(NULL == pDigest, L"CHECK pDigest", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(NULL == pLen, L"CHECK pLen", SOFTCRYPTO_E_INVALIDARG);
    *pLen = DigestLength(pHashCtx->hashtype);
    switch (pHashCtx->hashtype) {
    case SOFT_HASH_MD5:
        // MD5Final frees its state: this context no longer owns it.
        hResult = MD5Final(static_cast<MD5_STATE*>(pHashCtx->pFirst), pDigest);
        pHashCtx->pFirst = nullptr;
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"MD5Final", SOFTCRYPTO_E_FINAL);
        break;
    case SOFT_HASH_SHA1:
    case SOFT_HASH_SHA1_MD5:
        hResult = SHA1Final(pDigest, static_cast<SHA1_STATE*>(pHashCtx->pFirst));
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"SHA1Final", SOFTCRYPTO_E_FINAL);
        if (pHashCtx->hashtype == SOFT_HASH_SHA1_MD5) {
            hResult = MD5Final(static_cast<MD5_STATE*>(pHashCtx->pSecond), pDigest + SHA1_DIGEST_BYTES);
            pHashCtx->pSecond = nullptr;
            SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"MD5Final", SOFTCRYPTO_E_FINAL);
        }
        break;
    case SOFT_HASH_SHA256:
        hResult = SHA256Final(pDigest, static_cast<SHA256_STATE*>(pHashCtx->pFirst));
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"SHA256Final", SOFTCRYPTO_E_FINAL);
        break;
    case SOFT_HASH_SHA512:
        hResult = SHA512Final(pDigest, static_cast<SHA512_STATE*>(pHashCtx->pFirst));
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"SHA512Final", SOFTCRYPTO_E_FINAL);
        break;
    case VM_ALG_SM3:
        hResult = SM3Final(pDigest, static_cast<SM3_STATE*>(pHashCtx->pFirst));
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"SM3Final", SOFTCRYPTO_E_FINAL);
        break;
    default:
        SOFT_STEP(true, L"CHECK pHashCtx->hashtype", L"TRUE", SOFTCRYPTO_E_BAD_ALGID);
    }
    Hash_Free(pHashCtx);
exit:
    return hr;
}

void Hash_Free(HASH_CTX* pHashCtx) {
    if (!pHashCtx) return;
    FreeStates(pHashCtx);
    delete pHashCtx;
}

uint32_t Hash_Digest(uint32_t nAlg, const uint8_t* pIndata, uint32_t nInlen, uint8_t* pOutdata, uint32_t* pOutlen) {
    TRACE_NAME(L"Hash_Digest");
    uint32_t hr = SOFTCRYPTO_OK;

    SOFT_CHECK(NULL == pIndata, L"CHECK pIndata", SOFTCRYPTO_E_INVALIDARG);
    SOFT_TRACE_STEP(L"CHECK nInlen");
    SOFT_CHECK(NULL == pOutdata, L"CHECK pOutdata", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(NULL == pOutlen, L"CHECK pOutlen", SOFTCRYPTO_E_INVALIDARG);
    // The one-shot computes MD5 only; another id is refused, never answered with MD5.
    SOFT_CHECK(SOFT_HASH_MD5 != nAlg, L"CHECK nAlg", SOFTCRYPTO_E_BAD_ALGID);
    SOFT_CHECK(ALG_OPENSSL_OK != MD5Digest(pIndata, nInlen, pOutdata), L"MD5Digest", SOFTCRYPTO_E_OUTOFMEMORY);
    *pOutlen = MD5_DIGEST_BYTES;
exit:
    return hr;
}
