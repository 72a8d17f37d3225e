// Symmetric cipher contexts over the DES family, SM4 and RC4.
#define TRACE_MODULE L"SoftCrypto"
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/crypto.h>
#include <openssl/rc4.h>

#include <algorithm>
#include <new>

#include "SoftCrypto.h"
#include "SoftCryptoTrace.h"
#include "SymCipher.h"

namespace {

template <typename T>
void WipeAndDelete(void* p) {
    if (!p) return;
    OPENSSL_cleanse(p, sizeof(T));
    delete static_cast<T*>(p);
}

void FreeAlgState(SYMKEY_CTX* ctx) {
    switch (ctx->algtype) {
    case SOFT_ALG_DES:
    case SOFT_ALG_DES2:
    case SOFT_ALG_DES3:
        WipeAndDelete<DES_STATE>(ctx->pAlgCtx);
        break;
    case SOFT_ALG_RC4:
        WipeAndDelete<RC4_KEY>(ctx->pAlgCtx);
        break;
    case SOFT_ALG_SM4:
        WipeAndDelete<SM4_STATE>(ctx->pAlgCtx);
        break;
    default:
        break;
    }
    ctx->pAlgCtx = nullptr;
}

uint32_t SymInit(const wchar_t* traceFunc_, bool decrypt, SYMKEY_CTX** ppCipherCtx, uint8_t AlgID, uint32_t mode,
                 const uint8_t* pKey, const uint8_t* pIV) {
    uint32_t hr = SOFTCRYPTO_OK;
    SYMKEY_CTX* pCtx = nullptr;
    void* keyCtx = nullptr;
    int hResult = 0;
    const uint32_t direction = decrypt ? DES_DECRYPT : DES_ENCRYPT;

    SOFT_CHECK(!ppCipherCtx, L"Check ppCipherCtx", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(!pKey, L"Check pKey", SOFTCRYPTO_E_INVALIDARG);
    pCtx = new (std::nothrow) SYMKEY_CTX{nullptr, 0};
    SOFT_CHECK(!pCtx, L"new SYMKEY_CTX", SOFTCRYPTO_E_NOT_ENOUGH_MEMORY);
    switch (AlgID) {
    case SOFT_ALG_DES:
    case SOFT_ALG_DES2:
    case SOFT_ALG_DES3:
        keyCtx = new (std::nothrow) DES_STATE();
        break;
    case SOFT_ALG_RC4:
        keyCtx = new (std::nothrow) RC4_KEY();
        break;
    case SOFT_ALG_SM4:
        keyCtx = new (std::nothrow) SM4_STATE();
        break;
    default:
        SOFT_STEP(true, L"CHECK AlgID", L"TRUE", SOFTCRYPTO_E_BAD_ALGID);
    }
    SOFT_CHECK(!keyCtx, L"NewSymKey", SOFTCRYPTO_E_NOT_ENOUGH_MEMORY);
    pCtx->algtype = AlgID;
    pCtx->pAlgCtx = keyCtx;

    switch (AlgID) {
    case SOFT_ALG_DES:
        hResult = deskey(static_cast<DES_STATE*>(keyCtx), direction, pKey, mode, pIV);
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"deskey", SOFTCRYPTO_E_SETUP);
        break;
    case SOFT_ALG_DES2:
        hResult = des2key(static_cast<DES_STATE*>(keyCtx), direction, pKey, mode, pIV);
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"des2key", SOFTCRYPTO_E_SETUP);
        break;
    case SOFT_ALG_DES3:
        hResult = des3key(static_cast<DES_STATE*>(keyCtx), direction, pKey, mode, pIV);
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"des3key", SOFTCRYPTO_E_SETUP);
        break;
    case SOFT_ALG_RC4:
        hResult = rc4key(static_cast<RC4_KEY*>(keyCtx), pKey);
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"rc4key", SOFTCRYPTO_E_SETUP);
        break;
    default: {  // SM4
        SM4_STATE* st = static_cast<SM4_STATE*>(keyCtx);
        st->encrypt = decrypt ? 0 : 1;
        st->mode = mode;
        std::fill(st->chain, st->chain + 16, uint8_t(0));
        if (pIV) std::copy(pIV, pIV + 16, st->chain);
        st->fill = 0;
        hResult = sm4key(pKey, st);
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"sm4key", SOFTCRYPTO_E_SETUP);
        if (decrypt) std::reverse(st->rk, st->rk + 32);
        break;
    }
    }
    *ppCipherCtx = pCtx;
    pCtx = nullptr;

exit:
    if (pCtx) SymKeyFree(pCtx);  // any failure after the context was made
    return hr;
}

}  // namespace

uint32_t SymEncryptInit(SYMKEY_CTX** ppCipherCtx, uint8_t AlgID, uint32_t mode, const uint8_t* pKey,
                        const uint8_t* pIV) {
    return SymInit(L"SymEncryptInit", false, ppCipherCtx, AlgID, mode, pKey, pIV);
}

uint32_t SymDecryptInit(SYMKEY_CTX** ppCipherCtx, uint8_t AlgID, uint32_t mode, const uint8_t* pKey,
                        const uint8_t* pIV) {
    return SymInit(L"SymDecryptInit", true, ppCipherCtx, AlgID, mode, pKey, pIV);
}

uint32_t SymKeyUpdate(SYMKEY_CTX* pCipherCtx, const uint8_t* pSourceData, uint32_t dwSourceDataLen,
                      uint8_t* pOutData, uint32_t* pOutDataLen) {
    TRACE_NAME(L"SymKeyUpdate");
    uint32_t hr = SOFTCRYPTO_OK;
    int hResult = 0;
    void* st = nullptr;

    SOFT_CHECK(!pCipherCtx, L"Check pCipherCtx", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(!pSourceData, L"Check pSourceData", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(!pOutData, L"Check pOutData", SOFTCRYPTO_E_INVALIDARG);
    SOFT_TRACE_STEP(L"Check dwSourceDataLen");
    st = pCipherCtx->pAlgCtx;
    switch (pCipherCtx->algtype) {
    case SOFT_ALG_DES:
        hResult = st ? desupdate(static_cast<DES_STATE*>(st), pSourceData, dwSourceDataLen, pOutData, pOutDataLen) : 0;
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"desupdate", SOFTCRYPTO_E_UPDATE);
        break;
    case SOFT_ALG_DES2:
    case SOFT_ALG_DES3:
        hResult = st ? des3update(static_cast<DES_STATE*>(st), pSourceData, dwSourceDataLen, pOutData, pOutDataLen) : 0;
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"des3update", SOFTCRYPTO_E_UPDATE);
        break;
    case SOFT_ALG_RC4:
        hResult = st ? rc4update(static_cast<RC4_KEY*>(st), pSourceData, dwSourceDataLen, pOutData, pOutDataLen) : 0;
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"rc4update", SOFTCRYPTO_E_UPDATE);
        break;
    case SOFT_ALG_SM4:
        hResult = st ? sm4update(static_cast<SM4_STATE*>(st), pSourceData, dwSourceDataLen, pOutData, pOutDataLen) : 0;
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"sm4update", SOFTCRYPTO_E_UPDATE);
        break;
    default:
        SOFT_STEP(true, L"CHECK pCipherCtx->algtype", L"TRUE", SOFTCRYPTO_E_BAD_ALGID);
    }
exit:
    return hr;
}

uint32_t SymKeyFinal(SYMKEY_CTX* pCipherCtx, uint8_t* pOutData, uint32_t* pOutDataLen) {
    TRACE_NAME(L"SymKeyFinal");
    uint32_t hr = SOFTCRYPTO_OK;
    int hResult = 0;
    void* st = nullptr;

    SOFT_CHECK(!pCipherCtx, L"Check pCipherCtx", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(!pOutData, L"Check pOutData", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(!pOutDataLen, L"Check pOutDataLen", SOFTCRYPTO_E_INVALIDARG);
    st = pCipherCtx->pAlgCtx;
    switch (pCipherCtx->algtype) {
    case SOFT_ALG_DES:
        hResult = st ? desfinal(static_cast<DES_STATE*>(st), pOutData, pOutDataLen) : 0;
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"desfinal", SOFTCRYPTO_E_FINAL);
        break;
    case SOFT_ALG_DES2:
    case SOFT_ALG_DES3:
        hResult = st ? des3final(static_cast<DES_STATE*>(st), pOutData, pOutDataLen) : 0;
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"des3final", SOFTCRYPTO_E_FINAL);
        break;
    case SOFT_ALG_RC4:
        hResult = st ? rc4final(static_cast<RC4_KEY*>(st), pOutData, pOutDataLen) : 0;
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"rc4final", SOFTCRYPTO_E_FINAL);
        break;
    case SOFT_ALG_SM4:
        hResult = st ? sm4final(static_cast<SM4_STATE*>(st), pOutData, pOutDataLen) : 0;
        SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"sm4final", SOFTCRYPTO_E_FINAL);
        break;
    default:
        SOFT_STEP(true, L"CHECK pCipherCtx->algtype", L"TRUE", SOFTCRYPTO_E_BAD_ALGID);
    }
    SymKeyFree(pCipherCtx);
exit:
    return hr;
}

void SymKeyFree(SYMKEY_CTX* pCipherCtx) {
    if (!pCipherCtx) return;
    FreeAlgState(pCipherCtx);
    delete pCipherCtx;
}
