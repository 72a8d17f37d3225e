// The platform's private-key operations with the PIN retry and, for
// signatures, the button confirmation.
#include "AsymKeyObjectNolt.h"

#include <cstring>

#include "AsymKeyObject.h"
#include "DeviceResult.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"AsymKeyObject"

uint32_t CAsymKeyObjectNolt::PrikeySign(CAsymKeyObject* pKey, uint8_t byHashAlgID, const uint8_t* pbyData,
                                        uint32_t nDataLen, uint8_t* pbyOut, uint32_t* pnOutLen,
                                        SKF_OPERATION_CALLBACK pfnCallback,
                                        SKF_CALLBACK_CONTEXT* pstCallbackContext) {
    TRACE_NAME(L"CAsymKeyObjectNolt::PrikeySign");
    uint32_t hr = 0;
    uint32_t room = 0;
    uint32_t n = 0;
    uint32_t retries = 1;
    CHECK_GOTO(!pKey || !pnOutLen, L"CHECK pKey", MW_E_NULL_POINTER);
    room = *pnOutLen;
    n = room;
    for (;;) {
        hr = FoldResult(pKey->PrikeySign(byHashAlgID, pbyData, nDataLen, pbyOut, &n));
        if (hr == KEY_E_PIN_NOT_VERIFIED && pfnCallback && retries > 0) {
            --retries;
            hr = FoldResult(pfnCallback(CB_INPUT_PIN, pstCallbackContext, nullptr));
            CHECK_GOTO(hr != 0, L"Callback(CB_INPUT_PIN)", hr);
            continue;
        }
        break;
    }
    if (hr == KEY_E_WAIT_BUTTON && pfnCallback) {
        MIDDLEWARE_CONTEXT ctx;
        uint32_t signatureLen = 0;
        // The worker copies the data into 256 bytes.
        CHECK_GOTO(nDataLen > BUTTON_DATA_COPY_LEN || !pbyData, L"CHECK nDataLen", MW_E_BAD_LENGTH);
        ctx.Handle = pKey;
        ctx.Code = uint8_t(CB_SIGN_HASH);
        ctx.Data[0] = uint8_t(nDataLen);
        ctx.Data[1] = uint8_t(nDataLen >> 8);
        std::memcpy(ctx.Data + 2, pbyData, nDataLen);
        ctx.Callback = pfnCallback;
        hr = FoldResult(pfnCallback(CB_SIGN_HASH, pstCallbackContext, &ctx));
        CHECK_GOTO(hr != 0, L"Callback(CB_SIGN_HASH)", hr);
        // Only a signature that the worker received from the key is handed
        // out, and only into room that holds it.
        hr = ctx.Result.load();
        CHECK_GOTO(hr != 0, L"CHECK Result", hr);
        signatureLen = uint32_t(ctx.Data[0]) | uint32_t(ctx.Data[1]) << 8;
        CHECK_GOTO(signatureLen > room || signatureLen > pKey->GetOutLen(ASYM_OP_SIGN, nDataLen) ||
                       signatureLen > BUTTON_DATA_COPY_LEN,
                   L"CHECK signatureLen", ASYM_E_TOO_SMALL);
        std::memcpy(pbyOut, ctx.Data + 2, signatureLen);
        n = signatureLen;
    } else if (hr != 0) {
        TRACE_FAIL(L"pAsymKey->PrikeySign", L"VM_ERR_OK != hResult", hr);
    }
exit:
    if (pnOutLen) *pnOutLen = n;
    return hr;
}

uint32_t CAsymKeyObjectNolt::PrikeyDec(CAsymKeyObject* pKey, const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut,
                                       uint32_t* pnOutLen, SKF_OPERATION_CALLBACK pfnCallback,
                                       SKF_CALLBACK_CONTEXT* pstCallbackContext) {
    TRACE_NAME(L"CAsymKeyObjectNolt::PrikeyDec");
    uint32_t hr = 0;
    uint32_t n = 0;
    uint32_t retries = 1;
    CHECK_GOTO(!pKey || !pnOutLen, L"CHECK pKey", MW_E_NULL_POINTER);
    n = *pnOutLen;
    for (;;) {
        hr = FoldResult(pKey->PrikeyDec(pbyIn, nInLen, pbyOut, &n));
        if (hr != KEY_E_PIN_NOT_VERIFIED) break;
        // The PIN cannot be verified again: the key's refusal stands.
        CHECK_GOTO(!pfnCallback || retries == 0, L"CHECK pfnCallback", KEY_E_PIN_NOT_VERIFIED);
        --retries;
        CHECK_GOTO(FoldResult(pfnCallback(CB_INPUT_PIN, pstCallbackContext, nullptr)) != 0, L"Callback(CB_INPUT_PIN)",
                   KEY_E_PIN_NOT_VERIFIED);
    }
    if (hr != 0) TRACE_FAIL(L"pAsymKey->PrikeyDec", L"VM_ERR_OK != hResult", hr);
exit:
    if (pnOutLen) *pnOutLen = n;
    return hr;
}
