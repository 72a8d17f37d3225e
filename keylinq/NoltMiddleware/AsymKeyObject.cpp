// The key object's base: the slots that only the subclasses carry out, and
// the private-key operations with their size check and session set-up.
#include "AsymKeyObject.h"

#include "DeviceContext.h"
#include "DeviceResult.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"AsymKeyObject"

uint32_t CAsymKeyObject::GetOutLen(uint8_t, uint32_t) { return ASYM_NOT_SUPPORTED; }

uint32_t CAsymKeyObject::Decrypt(const uint8_t*, uint32_t, uint8_t*, uint32_t*) { return ASYM_NOT_SUPPORTED; }

uint32_t CAsymKeyObject::SignDisp(uint8_t, const uint8_t*, uint32_t, uint8_t*, uint32_t*) {
    return ASYM_NOT_SUPPORTED;
}

uint32_t CAsymKeyObject::SignDigest(const uint8_t*, uint32_t, uint8_t*, uint32_t*) { return ASYM_NOT_SUPPORTED; }

uint32_t CAsymKeyObject::Encrypt(const uint8_t*, uint32_t, uint8_t*, uint32_t*) { return ASYM_NOT_SUPPORTED; }

uint32_t CAsymKeyObject::Verify(uint8_t, const uint8_t*, uint32_t, const uint8_t*, uint32_t) {
    return ASYM_NOT_SUPPORTED;
}

const uint8_t* CAsymKeyObject::AuthCode() const {
    const VM_DEVICE_HANDLE* record = m_pDevCtx ? m_pDevCtx->GetDeviceHandle() : nullptr;
    return record ? record->m_abyAuthCode : nullptr;
}

uint32_t CAsymKeyObject::PrikeySign(uint8_t, const uint8_t* pbyData, uint32_t nDataLen, uint8_t* pbyOut,
                                    uint32_t* pnOutLen) {
    return Prikey(ASYM_OP_SIGN, pbyData, nDataLen, pbyOut, pnOutLen);
}

uint32_t CAsymKeyObject::PrikeyDec(const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen) {
    return Prikey(ASYM_OP_DECRYPT, pbyIn, nInLen, pbyOut, pnOutLen);
}

uint32_t CAsymKeyObject::Prikey(uint8_t byOperation, const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut,
                                uint32_t* pnOutLen) {
    const wchar_t* const traceFunc_ =
        byOperation == ASYM_OP_SIGN ? L"CAsymKeyObject::PrikeySign" : L"CAsymKeyObject::PrikeyDec";
    uint32_t hr = 0;
    uint32_t needed = 0;
    CHECK_GOTO(!pbyIn || !pbyOut || !pnOutLen, L"CHECK pbyIn", 0x80070101u);
    if (!m_pDevCtx || !m_pDevCtx->GetDeviceHandle()) {
        *pnOutLen = 0;
        CHECK_GOTO(true, L"CHECK m_pDevCtx", ASYM_E_NO_DEVICE);
    }
    needed = GetOutLen(byOperation, nInLen);
    // An input that admits no output (an SM2 ciphertext without plaintext)
    // is refused here rather than sized.
    if (needed == 0 || needed == ASYM_NOT_SUPPORTED) {
        *pnOutLen = 0;
        CHECK_GOTO(true, L"GetOutLen", needed == 0 ? ASYM_E_BAD_LENGTH : FoldResult(needed));
    }
    if (*pnOutLen < needed) {
        *pnOutLen = needed;
        CHECK_GOTO(true, L"CHECK *pnOutLen SIZE", ASYM_E_TOO_SMALL);
    }
    *pnOutLen = needed;
    hr = FoldResult(m_pDevCtx->SetSessionKey(0));
    CHECK_GOTO(hr != 0, L"m_pDevCtx->SetSessionKey", hr);
    TRACE_STEP(L"m_pDevCtx->SetSessionKey");
    hr = FoldResult(byOperation == ASYM_OP_SIGN ? SignDigest(pbyIn, nInLen, pbyOut, pnOutLen)
                                                : Decrypt(pbyIn, nInLen, pbyOut, pnOutLen));
    CHECK_GOTO(hr != 0, byOperation == ASYM_OP_SIGN ? L"SignDigest" : L"Decrypt", hr);
    TRACE_STEP(byOperation == ASYM_OP_SIGN ? L"SignDigest" : L"Decrypt");
exit:
    return hr;
}
