// The button confirmation: a key that holds a PIN verification, a PIN change
// or a signature until its owner presses its button answers 0x8000F321. The
// wrappers then hand the operation to the callback, whose confirmation
// dialog runs WaitPressButton on a worker thread: the operation is repeated
// every 300 ms until the key answers otherwise or the user cancels or the
// countdown ends, in which case CancelPressButton ends the key's wait.
#include <windows.h>

#include <atomic>
#include <cstring>

#include "APDUPin.h"
#include "AsymKeyObject.h"
#include "DeviceContext.h"
#include "DeviceResult.h"
#include "NoltOperator.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DeviceOperator"

namespace {

void SystemPause(uint32_t milliseconds) { Sleep(milliseconds); }

std::atomic<BUTTON_PAUSE_FN> g_buttonPause{SystemPause};

// The arguments of the repeated operation, copied out of the middleware
// context's Data into buffers of fixed size.
struct ButtonTask {
    uint8_t byType = 0;
    uint8_t abyPin[BUTTON_PIN_COPY_LEN] = {};
    uint8_t nPinLen = 0;
    uint8_t abyNewPin[BUTTON_PIN_COPY_LEN] = {};
    uint8_t nNewPinLen = 0;
    uint8_t abyData[BUTTON_DATA_COPY_LEN] = {};
    uint32_t nDataLen = 0;
};

// Reads Data for the code; false when a length does not fit the copies.
bool ReadTask(const MIDDLEWARE_CONTEXT& ctx, ButtonTask& task) {
    const uint8_t* d = ctx.Data;
    switch (ctx.Code) {
    case CB_VERIFY_PIN:
        task.byType = d[0];
        task.nPinLen = d[1];
        if (task.nPinLen > BUTTON_PIN_COPY_LEN) return false;
        std::memcpy(task.abyPin, d + 2, task.nPinLen);
        return true;
    case CB_CHANGE_PIN:
        task.byType = d[0];
        task.nPinLen = d[1];
        if (task.nPinLen > BUTTON_PIN_COPY_LEN) return false;
        std::memcpy(task.abyPin, d + 2, task.nPinLen);
        task.nNewPinLen = d[2 + task.nPinLen];
        if (task.nNewPinLen > BUTTON_PIN_COPY_LEN) return false;
        std::memcpy(task.abyNewPin, d + 3 + task.nPinLen, task.nNewPinLen);
        return true;
    case CB_SIGN_HASH:
        task.nDataLen = uint32_t(d[0]) | uint32_t(d[1]) << 8;
        if (task.nDataLen > BUTTON_DATA_COPY_LEN) return false;
        std::memcpy(task.abyData, d + 2, task.nDataLen);
        return true;
    default:  // CB_INIT_TOKEN_USER
        task.byType = d[0];
        task.nDataLen = uint32_t(d[1]) | uint32_t(d[2]) << 8 | uint32_t(d[3]) << 16 | uint32_t(d[4]) << 24;
        if (task.nDataLen > BUTTON_DATA_COPY_LEN) return false;
        std::memcpy(task.abyData, d + 5, task.nDataLen);
        return true;
    }
}

// The callback's answer for a confirmation: its failure, or the result that
// the worker stored (a callback that never ran the worker leaves the
// context's initial failure there).
uint32_t ConfirmationResult(uint32_t callbackResult, const MIDDLEWARE_CONTEXT& ctx) {
    if (callbackResult != 0) return callbackResult;
    return ctx.Result.load();
}

}  // namespace

BUTTON_PAUSE_FN SetButtonPause(BUTTON_PAUSE_FN pause) { return g_buttonPause.exchange(pause ? pause : SystemPause); }

uint32_t CNoltOperator::VerifyPIN(uint8_t byPinType, const char* pszPinBuf, uint8_t byPinLen,
                                  SKF_OPERATION_CALLBACK pfnCallback, SKF_CALLBACK_CONTEXT* pstCallbackContext) {
    TRACE_NAME(L"CNoltOperator::VerifyPIN(Callback)");
    uint32_t hr = FoldResult(CNoltOperator::VerifyPIN(byPinType, pszPinBuf, byPinLen));
    if (hr != KEY_E_WAIT_BUTTON || !pfnCallback) return hr;
    MIDDLEWARE_CONTEXT ctx;
    if (byPinLen > BUTTON_PIN_COPY_LEN) {
        CancelPressButton(m_pDeviceContext);
        hr = MW_E_BAD_LENGTH;
        TRACE_FAIL(L"CHECK byPinLen", L"byPinLen > 32", hr);
        return hr;
    }
    ctx.Handle = static_cast<CDeviceOperator*>(this);
    ctx.Code = uint8_t(CB_VERIFY_PIN);
    ctx.Data[0] = byPinType;
    ctx.Data[1] = byPinLen;
    std::memcpy(ctx.Data + 2, pszPinBuf, byPinLen);
    ctx.Callback = pfnCallback;
    hr = ConfirmationResult(FoldResult(pfnCallback(CB_VERIFY_PIN, pstCallbackContext, &ctx)), ctx);
    std::memset(ctx.Data, 0, sizeof ctx.Data);
    if (hr != 0) TRACE_FAIL(L"Callback(CB_VERIFY_PIN)", L"VM_ERR_OK != hResult", hr);
    return hr;
}

uint32_t CNoltOperator::ChangePIN(uint8_t byPinType, const char* pszOldPin, uint8_t byOldPinLen,
                                  const char* pszNewPin, uint8_t byNewPinLen, SKF_OPERATION_CALLBACK pfnCallback,
                                  SKF_CALLBACK_CONTEXT* pstCallbackContext) {
    TRACE_NAME(L"CNoltOperator::ChangePIN(Callback)");
    uint32_t hr = FoldResult(CNoltOperator::ChangePIN(byPinType, pszOldPin, byOldPinLen, pszNewPin, byNewPinLen));
    if (hr != KEY_E_WAIT_BUTTON || !pfnCallback) return hr;
    MIDDLEWARE_CONTEXT ctx;
    // The worker copies each PIN into 32 bytes: longer ones are refused
    // before anything is copied.
    if (byOldPinLen > BUTTON_PIN_COPY_LEN || byNewPinLen > BUTTON_PIN_COPY_LEN) {
        CancelPressButton(m_pDeviceContext);
        hr = MW_E_BAD_LENGTH;
        TRACE_FAIL(L"CHECK byOldPinLen", L"byOldPinLen > 32 || byNewPinLen > 32", hr);
        return hr;
    }
    ctx.Handle = static_cast<CDeviceOperator*>(this);
    ctx.Code = uint8_t(CB_CHANGE_PIN);
    ctx.Data[0] = byPinType;
    ctx.Data[1] = byOldPinLen;
    std::memcpy(ctx.Data + 2, pszOldPin, byOldPinLen);
    ctx.Data[2 + byOldPinLen] = byNewPinLen;
    std::memcpy(ctx.Data + 3 + byOldPinLen, pszNewPin, byNewPinLen);
    ctx.Callback = pfnCallback;
    hr = ConfirmationResult(FoldResult(pfnCallback(CB_CHANGE_PIN, pstCallbackContext, &ctx)), ctx);
    std::memset(ctx.Data, 0, sizeof ctx.Data);
    if (hr != 0) TRACE_FAIL(L"Callback(CB_CHANGE_PIN)", L"VM_ERR_OK != hResult", hr);
    return hr;
}

uint32_t CNoltOperator::WaitPressButton(SKF_CALLBACK_CONTEXT* pstCallbackContext,
                                        MIDDLEWARE_CONTEXT* pMiddlewareContext) {
    TRACE_NAME(L"CNoltOperator::WaitPressButton");
    uint32_t hr = 0;
    ButtonTask task;
    CDeviceOperator* op = nullptr;
    CAsymKeyObject* key = nullptr;
    uint8_t signature[BUTTON_DATA_COPY_LEN] = {};
    uint32_t signatureLen = 0;
    CHECK_GOTO(!pMiddlewareContext || !pMiddlewareContext->Handle, L"CHECK pMiddlewareContext", MW_E_NULL_POINTER);
    CHECK_GOTO(pMiddlewareContext->Code < CB_VERIFY_PIN || pMiddlewareContext->Code > CB_INIT_TOKEN_USER,
               L"CHECK Code", MW_E_BAD_CODE);
    CHECK_GOTO(!ReadTask(*pMiddlewareContext, task), L"CHECK Data", MW_E_BAD_LENGTH);
    if (pMiddlewareContext->Code == CB_SIGN_HASH) {
        key = static_cast<CAsymKeyObject*>(pMiddlewareContext->Handle);
    } else {
        op = static_cast<CDeviceOperator*>(pMiddlewareContext->Handle);
    }

    for (;;) {
        switch (pMiddlewareContext->Code) {
        case CB_VERIFY_PIN:
            hr = op->VerifyPIN(task.byType, reinterpret_cast<const char*>(task.abyPin), task.nPinLen);
            break;
        case CB_CHANGE_PIN:
            hr = op->ChangePIN(task.byType, reinterpret_cast<const char*>(task.abyPin), task.nPinLen,
                               reinterpret_cast<const char*>(task.abyNewPin), task.nNewPinLen);
            break;
        case CB_SIGN_HASH:
            signatureLen = sizeof signature;
            hr = key->SignDigest(task.abyData, task.nDataLen, signature, &signatureLen);
            break;
        default: {
            uint32_t len = task.nDataLen;
            hr = op->InitTokenUser(task.byType, task.abyData, &len);
            break;
        }
        }
        hr = FoldResult(hr);
        if (hr != KEY_E_WAIT_BUTTON || !pMiddlewareContext->Callback) break;
        const uint32_t answer = pMiddlewareContext->Callback(CB_QUERY_CANCEL, pstCallbackContext, nullptr);
        if (answer == CB_STATUS_CANCELLED || answer == CB_STATUS_TIMEOUT) {
            CancelPressButton(key ? key->GetDevCtx() : op->GetDeviceContext());
            hr = answer;
            break;
        }
        g_buttonPause.load()(BUTTON_RETRY_PAUSE_MS);
    }
    if (hr == 0 && key) {
        CHECK_GOTO(signatureLen > sizeof signature, L"CHECK signatureLen", MW_E_BAD_LENGTH);
        pMiddlewareContext->Data[0] = uint8_t(signatureLen);
        pMiddlewareContext->Data[1] = uint8_t(signatureLen >> 8);
        std::memcpy(pMiddlewareContext->Data + 2, signature, signatureLen);
    }
    if (hr != 0) TRACE_FAIL(L"Repeat operation", L"VM_ERR_OK != hResult", hr);
exit:
    if (pMiddlewareContext) pMiddlewareContext->Result.store(hr);
    SecureZeroMemory(&task, sizeof task);
    return hr;
}

uint32_t CNoltOperator::CancelPressButton(CDeviceContext* pDeviceContext) {
    TRACE_NAME(L"CNoltOperator::CancelPressButton");
    uint32_t hr = 0;
    CHECK_GOTO(!pDeviceContext || !pDeviceContext->GetAPDUPin(), L"CHECK pDeviceContext", MW_E_NULL_POINTER);
    // Any command ends the key's wait; the PIN status asks for nothing.
    hr = FoldResult(pDeviceContext->GetAPDUPin()->GetPINStatus(1, nullptr, nullptr, nullptr, nullptr));
    CHECK_GOTO(hr != 0, L"pDeviceContext->GetAPDUPin()->GetPINStatus", hr);
    TRACE_STEP(L"pDeviceContext->GetAPDUPin()->GetPINStatus");
exit:
    return hr;
}
