// One-shot CBC encryption and decryption of the host symmetric key handle.
#define TRACE_MODULE L"SymKeyHandle"
#include "SymKeyHandle.h"

#include <openssl/crypto.h>

#include <cstring>
#include <new>

#include "SoftCrypto.h"
#include "SoftCryptoTrace.h"

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
