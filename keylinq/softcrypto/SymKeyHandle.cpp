// The host symmetric key handle: its cycles over a host cipher context, and
// the one-shot CBC encryption and decryption.
#define TRACE_MODULE L"SymKeyHandle"
#include "SymKeyHandle.h"

#include <openssl/crypto.h>

#include <cstring>
#include <new>

#include "TraceHelper.h"

#include "SoftCrypto.h"
#include "SoftCryptoTrace.h"
#include "SymCipher.h"

#define VM_ERR_OK 0u

namespace {

constexpr uint32_t MAX_BLOCK = 16;

struct OneShotSteps {
    const wchar_t* function;
    const wchar_t* init;
    const wchar_t* update;
    const wchar_t* final;
};

uint32_t OneShot(const OneShotSteps& steps, bool decrypt, uint8_t AlgID, const uint8_t* pKey, const uint8_t* pIn,
                 uint32_t inLen, uint8_t* pOut, uint32_t* pOutLen) {
    const wchar_t* const traceFunc_ = steps.function;
    uint32_t hr = VM_ERR_OK;
    SYMKEY_CTX* pCtx = nullptr;
    uint32_t updateLen = 0, finalLen = 0;
    // Encryption adds up to one block of padding; decryption only removes.
    const uint32_t bufLen = decrypt ? inLen : inLen + MAX_BLOCK;
    uint8_t* pDataBuf = bufLen >= inLen ? new (std::nothrow) uint8_t[bufLen ? bufLen : 1]() : nullptr;

    if (pOutLen) *pOutLen = 0;
    if (!pDataBuf) {
        hr = SOFTCRYPTO_E_OUTOFMEMORY;
        TRACE_FAIL(L"New buffer", L"!pDataBuf", static_cast<HRESULT>(hr));
        goto exit;
    }
    SOFT_TRACE_STEP(L"New buffer");

    // CBC with an all-zero IV, whatever the caller asked for.
    hr = decrypt ? SymDecryptInit(&pCtx, AlgID, SOFT_MODE_CBC, pKey, nullptr)
                 : SymEncryptInit(&pCtx, AlgID, SOFT_MODE_CBC, pKey, nullptr);
    if (VM_ERR_OK != hr) {
        TRACE_FAIL(steps.init, L"VM_ERR_OK != hResult", static_cast<HRESULT>(hr));
        goto exit;
    }
    SOFT_TRACE_STEP(steps.init);

    hr = SymKeyUpdate(pCtx, pIn, inLen, pDataBuf, &updateLen);
    if (VM_ERR_OK != hr) {
        TRACE_FAIL(steps.update, L"VM_ERR_OK != hResult", static_cast<HRESULT>(hr));
        goto exit;
    }
    SOFT_TRACE_STEP(steps.update);

    hr = SymKeyFinal(pCtx, pDataBuf + updateLen, &finalLen);
    if (VM_ERR_OK != hr) {
        TRACE_FAIL(steps.final, L"VM_ERR_OK != hResult", static_cast<HRESULT>(hr));
        goto exit;
    }
    SOFT_TRACE_STEP(steps.final);
    pCtx = nullptr;  // the final step freed it

    std::memcpy(pOut, pDataBuf, updateLen + finalLen);
    if (pOutLen) *pOutLen = updateLen + finalLen;
exit:
    SymKeyFree(pCtx);
    if (pDataBuf) {
        OPENSSL_cleanse(pDataBuf, bufLen);
        delete[] pDataBuf;
    }
    return hr;
}

}  // namespace

uint32_t CSymKeyHandle::Encrypt(uint8_t AlgID, uint32_t /*mode*/, const uint8_t* pKey, const uint8_t* /*pIV*/,
                                const uint8_t* pIn, uint32_t inLen, uint8_t* pOut, uint32_t* pOutLen) {
    static const OneShotSteps steps = {L"CSymKeyHandle::Encrypt", L"SymEncryptInit", L"SymEncryptUpdate",
                                       L"SymEncryptFinal"};
    return OneShot(steps, false, AlgID, pKey, pIn, inLen, pOut, pOutLen);
}

uint32_t CSymKeyHandle::Decrypt(uint8_t AlgID, uint32_t /*mode*/, const uint8_t* pKey, const uint8_t* /*pIV*/,
                                const uint8_t* pIn, uint32_t inLen, uint8_t* pOut, uint32_t* pOutLen) {
    static const OneShotSteps steps = {L"CSymKeyHandle::Decrypt", L"SymDecryptInit", L"SymDecryptUpdate",
                                       L"SymDecryptFinal"};
    return OneShot(steps, true, AlgID, pKey, pIn, inLen, pOut, pOutLen);
}

// ---- the handle

namespace {

struct HostAlgorithm {
    uint8_t alg;
    uint32_t keyLen;
    uint32_t blockLen;
};

constexpr HostAlgorithm HOST_ALGORITHMS[] = {
    {SOFT_ALG_DES, 8, 8}, {SOFT_ALG_DES2, 16, 8}, {SOFT_ALG_DES3, 24, 8}, {SOFT_ALG_RC4, 16, 16}, {SOFT_ALG_SM4, 16, 16},
};

const HostAlgorithm* FindHostAlgorithm(uint16_t alg) {
    for (const HostAlgorithm& a : HOST_ALGORITHMS)
        if (a.alg == alg) return &a;
    return nullptr;
}

// The input bytes that earlier Update calls of the cycle left in the
// context (a partial block, or the block a decryption holds back): the
// Update and Final of an Encrypt write those as well.
uint32_t HeldBytes(const SYMKEY_CTX* ctx) {
    if (!ctx || !ctx->pAlgCtx) return 0;
    switch (ctx->algtype) {
    case SOFT_ALG_DES:
    case SOFT_ALG_DES2:
    case SOFT_ALG_DES3:
        return static_cast<const DES_STATE*>(ctx->pAlgCtx)->fill;
    case SOFT_ALG_SM4:
        return static_cast<const SM4_STATE*>(ctx->pAlgCtx)->fill;
    default:
        return 0;  // RC4 holds nothing back
    }
}

}  // namespace

CSymKeyHandle::CSymKeyHandle()
    : m_pSymCtx(nullptr), m_bEncrypt(0), m_nBlockLen(0), m_nPadding(0), m_pbSymmKey(nullptr), m_nKeyLen(0) {}

CSymKeyHandle::~CSymKeyHandle() {
    SymKeyFree(m_pSymCtx);
    if (m_pbSymmKey) {
        OPENSSL_cleanse(m_pbSymmKey, m_nKeyLen);
        delete[] m_pbSymmKey;
    }
}

uint32_t CSymKeyHandle::Initialize(uint8_t AlgID, uint8_t byCryptType, uint8_t byMode, const uint8_t* pKey,
                                   const uint8_t* pIV, CSymKeyHandle** ppHandle) {
    TRACE_NAME(L"CSymKeyHandle::Initialize");
    uint32_t hr = VM_ERR_OK;
    const HostAlgorithm* algorithm = FindHostAlgorithm(AlgID);
    CSymKeyHandle* handle = nullptr;

    CHECK_GOTO(!ppHandle, L"CHECK ppHandle", SOFTCRYPTO_E_INVALIDARG);
    handle = new (std::nothrow) CSymKeyHandle();
    CHECK_GOTO(!handle, L"new VM_SYMKEY_HANDLE", SYMKEY_E_NO_MEMORY);
    // The caller gives the algorithm's key length.
    hr = handle->SetKey(AlgID, pKey, algorithm ? algorithm->keyLen : 0);
    CHECK_GOTO(hr != VM_ERR_OK, L"SetKey", hr);
    hr = handle->Init(AlgID, byCryptType, byMode, pIV, 1);
    CHECK_GOTO(hr != VM_ERR_OK, L"Init", hr);
    *ppHandle = handle;
    handle = nullptr;
exit:
    delete handle;
    return hr;
}

uint32_t CSymKeyHandle::SetKey(uint16_t wAlg, const uint8_t* pKey, uint32_t nKeyLen) {
    TRACE_NAME(L"VM_SYMKEY_HANDLE::SetKey");
    uint32_t hr = VM_ERR_OK;
    const HostAlgorithm* algorithm = FindHostAlgorithm(wAlg);

    CHECK_GOTO(!algorithm, L"CHECK AlgID", SYMKEY_E_ALGORITHM);
    CHECK_GOTO(!pKey || nKeyLen < algorithm->keyLen, L"CHECK nKeyLen", SYMKEY_E_KEY_LENGTH);
    if (m_pbSymmKey) {
        OPENSSL_cleanse(m_pbSymmKey, m_nKeyLen);
        delete[] m_pbSymmKey;
        m_nKeyLen = 0;
    }
    m_nBlockLen = algorithm->blockLen;
    m_pbSymmKey = new (std::nothrow) uint8_t[algorithm->keyLen];
    CHECK_GOTO(!m_pbSymmKey, L"new m_pbSymmKey", SYMKEY_E_KEY_COPY);
    std::memcpy(m_pbSymmKey, pKey, algorithm->keyLen);
    m_nKeyLen = algorithm->keyLen;
exit:
    return hr;
}

uint32_t CSymKeyHandle::Init(uint8_t AlgID, uint8_t byCryptType, uint8_t byMode, const uint8_t* pIV,
                             uint32_t nPadding) {
    TRACE_NAME(L"VM_SYMKEY_HANDLE::Init");
    uint32_t hr = VM_ERR_OK;

    CHECK_GOTO(!m_pbSymmKey && m_nBlockLen != 0, L"CHECK m_pbSymmKey", SYMKEY_E_NO_KEY);
    SymKeyFree(m_pSymCtx);
    m_pSymCtx = nullptr;
    if (byCryptType == SYMKEY_ENCRYPT) {
        hr = SymEncryptInit(&m_pSymCtx, AlgID, byMode, m_pbSymmKey, pIV);
        CHECK_GOTO(hr != VM_ERR_OK, L"SymEncryptInit", hr);
        m_bEncrypt = 1;
    } else if (byCryptType == SYMKEY_DECRYPT) {
        hr = SymDecryptInit(&m_pSymCtx, AlgID, byMode, m_pbSymmKey, pIV);
        CHECK_GOTO(hr != VM_ERR_OK, L"SymDecryptInit", hr);
        m_bEncrypt = 0;
    } else {
        CHECK_GOTO(true, L"CHECK byCryptType", SYMKEY_E_CRYPT_TYPE);
    }
    m_nPadding = nPadding ? 1 : 0;
exit:
    return hr;
}

uint32_t CSymKeyHandle::Update(const uint8_t* pIn, uint32_t inLen, uint8_t* pOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"VM_SYMKEY_HANDLE::Update");
    uint32_t hr = SymKeyUpdate(m_pSymCtx, pIn, inLen, pOut, pnOutLen);
    if (hr != VM_ERR_OK) TRACE_FAIL(L"SymKeyUpdate", L"VM_ERR_OK != hResult", hr);
    return hr;
}

uint32_t CSymKeyHandle::Final(uint8_t* pOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"VM_SYMKEY_HANDLE::Final");
    uint32_t hr = SymKeyFinal(m_pSymCtx, pOut, pnOutLen);
    if (hr != VM_ERR_OK) {
        TRACE_FAIL(L"SymKeyFinal", L"VM_ERR_OK != hResult", hr);
        return hr;
    }
    m_pSymCtx = nullptr;  // the final step freed it
    return hr;
}

bool CSymKeyHandle::FinalAlwaysPads() const {
    return m_bEncrypt && m_pSymCtx && m_pSymCtx->algtype != SOFT_ALG_RC4;
}

uint32_t CSymKeyHandle::Encrypt(const uint8_t* pIn, uint32_t inLen, uint8_t* pOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"VM_SYMKEY_HANDLE::Encrypt");
    uint32_t hr = VM_ERR_OK;
    uint32_t expected = inLen;
    uint64_t total = inLen;
    uint64_t needed = inLen;
    uint32_t updateLen = 0;
    uint32_t finalLen = 0;
    bool padded = false;

    CHECK_GOTO(!pnOutLen, L"CHECK pnOutLen", SOFTCRYPTO_E_INVALIDARG);
    CHECK_GOTO(m_nBlockLen == 0, L"CHECK m_nBlockLen", SYMKEY_E_NOT_READY);
    // The host block ciphers end every encryption with a padding block, so
    // that block is counted whatever the flag says.
    padded = m_bEncrypt && (m_nPadding == 1 || FinalAlwaysPads());
    // Bytes that Update calls of this cycle left in the context come out
    // with this input: the lengths count them too.
    total = uint64_t(HeldBytes(m_pSymCtx)) + inLen;
    if (!padded || m_nPadding != 1) {
        if (total % m_nBlockLen != 0) {
            *pnOutLen = inLen;
            CHECK_GOTO(true, L"CHECK inLen", SYMKEY_E_BLOCKS);
        }
    }
    needed = padded ? (total / m_nBlockLen + 1) * m_nBlockLen : total;
    CHECK_GOTO(needed > 0xFFFFFFFFu, L"CHECK inLen", SYMKEY_E_BLOCKS);
    expected = static_cast<uint32_t>(needed);
    if (!pOut) {
        *pnOutLen = expected;
        goto exit;
    }
    if (*pnOutLen < expected) {
        *pnOutLen = expected;
        CHECK_GOTO(true, L"CHECK *pnOutLen", SYMKEY_E_TOO_SMALL);
    }
    // The room goes along to handles that check it.
    updateLen = *pnOutLen;
    hr = Update(pIn, inLen, pOut, &updateLen);
    CHECK_GOTO(hr != VM_ERR_OK, L"Update", hr);
    finalLen = *pnOutLen - updateLen;
    hr = Final(pOut + updateLen, &finalLen);
    CHECK_GOTO(hr != VM_ERR_OK, L"Final", hr);
    *pnOutLen = updateLen + finalLen;
exit:
    return hr;
}
