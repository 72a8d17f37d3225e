// The symmetric key handle whose cipher runs on the key.
#include "GMSymKeyHandle.h"

#include <openssl/crypto.h>

#include <cstring>
#include <new>

#include "APDU.h"
#include "APDUCrypto.h"
#include "APDUKey.h"
#include "DeviceContext.h"
#include "DeviceResult.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"SymKeyHandle"

namespace {

constexpr uint8_t DIRECTION_ENCRYPT = 1;
constexpr uint8_t DIRECTION_DECRYPT = 0;
constexpr uint32_t KEY_REPLY_CAPACITY = 128;  // the most a cipher command answers

uint16_t AlgorithmWord(uint8_t alg, uint8_t mode) { return uint16_t(alg << 8 | mode); }

}  // namespace

CGMSymKeyHandle::CGMSymKeyHandle(CDeviceContext* pDeviceContext)
    : m_pDeviceContext(pDeviceContext), m_nFinalLen(0), m_abyFinal() {}

CGMSymKeyHandle::~CGMSymKeyHandle() { OPENSSL_cleanse(m_abyFinal, sizeof m_abyFinal); }

uint32_t CGMSymKeyHandle::Initialize(CDeviceContext* pDeviceContext, uint8_t /*AlgID*/, uint8_t byCryptType,
                                     uint8_t byMode, const uint8_t* pKey, const uint8_t* pIV,
                                     CSymKeyHandle** ppHandle) {
    TRACE_NAME(L"VM_GMSYMKEY_HANDLE::Initialize");
    uint32_t hr = 0;
    CGMSymKeyHandle* handle = nullptr;

    CHECK_GOTO(!pDeviceContext, L"CHECK pDeviceContext", SYMKEY_E_NULL_POINTER);
    CHECK_GOTO(!ppHandle || !pKey, L"CHECK ppHandle", SYMKEY_E_NULL_POINTER);
    handle = new (std::nothrow) CGMSymKeyHandle(pDeviceContext);
    CHECK_GOTO(!handle, L"new VM_GMSYMKEY_HANDLE", SYMKEY_E_NO_MEMORY);
    hr = handle->SetKey(AlgorithmWord(GM_ALG_SM1, byMode), pKey, GM_SYM_BLOCK_LEN);
    CHECK_GOTO(hr != 0, L"SetKey", hr);
    hr = handle->Init(GM_ALG_SM1, byCryptType, byMode, pIV, 1);
    CHECK_GOTO(hr != 0, L"Init", hr);
    *ppHandle = handle;
    handle = nullptr;
exit:
    delete handle;
    return hr;
}

uint32_t CGMSymKeyHandle::SetKey(uint16_t wAlg, const uint8_t* pKey, uint32_t nKeyLen) {
    TRACE_NAME(L"VM_GMSYMKEY_HANDLE::SetKey");
    uint32_t hr = 0;
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", SYMKEY_E_NOT_READY);
    hr = FoldResult(m_pDeviceContext->SetSessionKey(0));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->SetSessionKey", hr);
    TRACE_STEP(L"m_pDeviceContext->SetSessionKey");
    hr = FoldResult(m_pDeviceContext->GetAPDUKey()->ImportSymKey(wAlg, pKey, nKeyLen));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUKey()->ImportSymKey", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUKey()->ImportSymKey");
exit:
    return hr;
}

uint32_t CGMSymKeyHandle::Init(uint8_t AlgID, uint8_t byCryptType, uint8_t byMode, const uint8_t* pIV,
                               uint32_t nPadding) {
    TRACE_NAME(L"VM_GMSYMKEY_HANDLE::Init");
    uint32_t hr = 0;
    static const uint8_t zeroIV[GM_SYM_BLOCK_LEN] = {};
    uint8_t direction = DIRECTION_ENCRYPT;

    CHECK_GOTO(AlgID != GM_ALG_SM1 && AlgID != GM_ALG_SM4, L"CHECK AlgID", SYMKEY_E_ALGORITHM);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", SYMKEY_E_NOT_READY);
    CHECK_GOTO(byCryptType != SYMKEY_ENCRYPT && byCryptType != SYMKEY_DECRYPT, L"CHECK byCryptType",
               SYMKEY_E_CRYPT_TYPE);
    direction = byCryptType == SYMKEY_ENCRYPT ? DIRECTION_ENCRYPT : DIRECTION_DECRYPT;
    hr = FoldResult(
        m_pDeviceContext->GetAPDUCrypto()->SymEncryptInit(direction, AlgorithmWord(AlgID, byMode), pIV ? pIV : zeroIV));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUCrypto()->SymEncryptInit", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUCrypto()->SymEncryptInit");
    m_bEncrypt = byCryptType == SYMKEY_ENCRYPT ? 1 : 0;
    m_nBlockLen = GM_SYM_BLOCK_LEN;
    m_nPadding = nPadding ? 1 : 0;
    // A new cycle starts with nothing held.
    m_nFinalLen = 0;
exit:
    return hr;
}

uint32_t CGMSymKeyHandle::Update(const uint8_t* pIn, uint32_t inLen, uint8_t* pOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"VM_GMSYMKEY_HANDLE::Update");
    uint32_t hr = 0;
    const uint8_t direction = m_bEncrypt ? DIRECTION_ENCRYPT : DIRECTION_DECRYPT;
    uint32_t total = 0, tail = 0, expected = 0;
    uint32_t sent = 0, written = 0, used = 0;
    uint8_t answer[KEY_REPLY_CAPACITY];

    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", SYMKEY_E_NULL_POINTER);
    CHECK_GOTO(!pnOutLen || (!pIn && inLen), L"CHECK pnOutLen", SYMKEY_E_NULL_POINTER);
    CHECK_GOTO(inLen > 0xFFFFFFFFu - GM_SYM_HOLD_CAPACITY, L"CHECK inLen", SYMKEY_E_BLOCKS);
    total = inLen + m_nFinalLen;
    tail = total % GM_SYM_BLOCK_LEN;
    // A decryption keeps its last whole block for Final, which removes the padding.
    if (!m_bEncrypt && tail == 0 && total != 0) tail = GM_SYM_BLOCK_LEN;
    expected = total - tail;
    if (!pOut) {
        *pnOutLen = expected;
        goto exit;
    }
    if (*pnOutLen < expected) {
        *pnOutLen = expected;
        CHECK_GOTO(true, L"CHECK *pnOutLen", SYMKEY_E_TOO_SMALL);
    }

    while (sent < expected) {
        const uint32_t piece = expected - sent < GM_SYM_PIECE_LEN ? expected - sent : GM_SYM_PIECE_LEN;
        // The held bytes go first, in the first piece only.
        const uint32_t held = m_nFinalLen;
        if (piece > held) std::memcpy(m_abyFinal + held, pIn + used, piece - held);
        used += piece - held;
        uint32_t answered = sizeof answer;
        hr = FoldResult(
            m_pDeviceContext->GetAPDUCrypto()->SymEncryptUpdate(direction, m_abyFinal, piece, answer, &answered));
        m_nFinalLen = 0;
        if (hr == 0 && answered != piece) hr = APDU_E_BAD_REPLY;  // whole blocks in, as many out
        if (hr != 0) *pnOutLen = written;
        CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUCrypto()->SymEncryptUpdate", hr);
        std::memcpy(pOut + written, answer, answered);
        written += answered;
        sent += piece;
    }
    if (inLen > used) std::memcpy(m_abyFinal + m_nFinalLen, pIn + used, inLen - used);
    m_nFinalLen = tail;
    *pnOutLen = written;
exit:
    OPENSSL_cleanse(answer, sizeof answer);
    return hr;
}

uint32_t CGMSymKeyHandle::Final(uint8_t* pOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"VM_GMSYMKEY_HANDLE::Final");
    uint32_t hr = 0;
    uint8_t block[GM_SYM_BLOCK_LEN];
    uint32_t blockLen = 0;
    uint8_t answer[KEY_REPLY_CAPACITY];
    uint32_t answered = sizeof answer;
    uint32_t outLen = 0;

    CHECK_GOTO(!m_pDeviceContext || !pnOutLen, L"CHECK m_pDeviceContext", SYMKEY_E_NULL_POINTER);
    if (!pOut) {
        *pnOutLen = GM_SYM_BLOCK_LEN;
        goto exit;
    }
    if (m_bEncrypt) {
        CHECK_GOTO(m_nFinalLen && !m_nPadding, L"CHECK m_nFinalLen", SYMKEY_E_BLOCKS);
        if (m_nPadding) {
            // PKCS#7: a whole block of 0x10 when nothing is held.
            std::memcpy(block, m_abyFinal, m_nFinalLen);
            std::memset(block + m_nFinalLen, int(GM_SYM_BLOCK_LEN - m_nFinalLen), GM_SYM_BLOCK_LEN - m_nFinalLen);
            blockLen = GM_SYM_BLOCK_LEN;
        }
    } else {
        CHECK_GOTO(m_nFinalLen != 0 && m_nFinalLen != GM_SYM_BLOCK_LEN, L"CHECK m_nFinalLen", SYMKEY_E_BLOCKS);
        std::memcpy(block, m_abyFinal, m_nFinalLen);
        blockLen = m_nFinalLen;
    }
    // The caller's room must take the block the key gives back.
    if (*pnOutLen < blockLen) {
        *pnOutLen = GM_SYM_BLOCK_LEN;
        CHECK_GOTO(true, L"CHECK *pnOutLen", SYMKEY_E_TOO_SMALL);
    }
    hr = FoldResult(m_pDeviceContext->GetAPDUCrypto()->SymEncryptFinal(
        m_bEncrypt ? DIRECTION_ENCRYPT : DIRECTION_DECRYPT, block, blockLen, answer, &answered));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUCrypto()->SymEncryptFinal", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUCrypto()->SymEncryptFinal");
    CHECK_GOTO(answered != blockLen, L"CHECK answered", APDU_E_BAD_REPLY);
    outLen = answered;
    if (!m_bEncrypt && m_nPadding) {
        const uint8_t p = answered == GM_SYM_BLOCK_LEN ? answer[GM_SYM_BLOCK_LEN - 1] : 0;
        bool good = p >= 1 && p <= GM_SYM_BLOCK_LEN;
        for (uint32_t i = 0; good && i < p; ++i) good = answer[GM_SYM_BLOCK_LEN - 1 - i] == p;
        CHECK_GOTO(!good, L"CHECK padding", SYMKEY_E_BAD_PADDING);
        outLen = GM_SYM_BLOCK_LEN - p;
    }
    std::memcpy(pOut, answer, outLen);
    *pnOutLen = outLen;
    m_nFinalLen = 0;
exit:
    OPENSSL_cleanse(block, sizeof block);
    OPENSSL_cleanse(answer, sizeof answer);
    return hr;
}
