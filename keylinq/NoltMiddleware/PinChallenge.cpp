// The device operator's PIN operations: verify, change, unlock and reset
// through the key's challenge-response, and the PIN status. The key never
// sees a PIN or its digest in the clear: each exchange binds MD5 of the PIN
// to a fresh challenge and encrypts it under the key pair sent with it.
#include <openssl/crypto.h>

#include "APDUPin.h"
#include "ContainerRecord.h"
#include "DeviceContext.h"
#include "DeviceOperator.h"
#include "DeviceResult.h"
#include "PinExchange.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DeviceOperator"

uint32_t CDeviceOperator::VerifyPIN(uint8_t byPinType, const char* pszPinBuf, uint8_t byPinLen) {
    TRACE_NAME(L"CDeviceOperator::VerifyPIN");
    uint32_t hr = 0;
    VM_DEVICE_HANDLE* record = m_pDeviceContext ? m_pDeviceContext->GetDeviceHandle() : nullptr;
    CAPDUPin* pin = m_pDeviceContext ? m_pDeviceContext->GetAPDUPin() : nullptr;

    CHECK_GOTO(!pszPinBuf, L"CHECK pszPinBuf", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!record || !pin, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(SetSessionKey(0));
    CHECK_GOTO(hr != 0, L"SetSessionKey", hr);
    TRACE_STEP(L"SetSessionKey");
    hr = ExchangeVerify(
        record,
        [&](PinChallenge* c) {
            return FoldResult(pin->GetChallengeCode(PIN_INS_VERIFY, c->challenge, c->pubKey, &c->replyLen));
        },
        [&](const uint8_t* data, uint32_t len, uint8_t* code, uint32_t* codeLen) {
            return FoldResult(pin->VerifyPIN_Response(byPinType, data, len, code, codeLen));
        },
        reinterpret_cast<const uint8_t*>(pszPinBuf), byPinLen);
    CHECK_GOTO(hr != 0, L"ExchangeVerify", hr);
    TRACE_STEP(L"ExchangeVerify");
exit:
    return hr;
}

uint32_t CDeviceOperator::ChangePIN(uint8_t byPinType, const char* pszOldPin, uint8_t byOldPinLen,
                                    const char* pszNewPin, uint8_t byNewPinLen) {
    TRACE_NAME(L"CDeviceOperator::ChangePIN");
    uint32_t hr = 0;
    VM_DEVICE_HANDLE* record = m_pDeviceContext ? m_pDeviceContext->GetDeviceHandle() : nullptr;
    CAPDUPin* pin = m_pDeviceContext ? m_pDeviceContext->GetAPDUPin() : nullptr;

    CHECK_GOTO(!pszOldPin || !pszNewPin, L"CHECK pszOldPin", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!record || !pin, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(byOldPinLen > PIN_MAX_LEN, L"CHECK byOldPinLen", DEVOP_E_TOO_LONG);
    hr = FoldResult(SetSessionKey(0));
    CHECK_GOTO(hr != 0, L"SetSessionKey", hr);
    TRACE_STEP(L"SetSessionKey");
    hr = ExchangeChange(
        [&](PinChallenge* c) {
            return FoldResult(pin->GetChallengeCode(PIN_INS_CHANGE, c->challenge, c->pubKey, &c->replyLen));
        },
        [&](const uint8_t* data, uint32_t len) { return FoldResult(pin->ChangePIN_Response(byPinType, data, len)); },
        reinterpret_cast<const uint8_t*>(pszOldPin), byOldPinLen, reinterpret_cast<const uint8_t*>(pszNewPin),
        byNewPinLen);
    CHECK_GOTO(hr != 0, L"ExchangeChange", hr);
    TRACE_STEP(L"ExchangeChange");
    CDeviceContext::TraceInfo(L"RecordVemuLog [HRESULT:0x%x]", RecordVemuLog(KEY_LOG_TAG_CHANGE_PIN));
exit:
    // A change ends the verification, whatever its outcome.
    EmptyAuthCode(record);
    return hr;
}

uint32_t CDeviceOperator::UnlockPIN(uint8_t byUnlockFlag, uint8_t* pbyUnlockBuf, uint32_t* pnUnlockLen) {
    TRACE_NAME(L"CDeviceOperator::UnlockPIN");
    uint32_t hr = RunResetScheme(this, false, PIN_INS_UNLOCK, KEY_LOG_TAG_UNLOCK_PIN, byUnlockFlag, pbyUnlockBuf,
                                 pnUnlockLen);
    if (hr != 0) TRACE_FAIL(L"RunResetScheme", L"VM_ERR_OK != hResult", hr);
    return hr;
}

uint32_t CDeviceOperator::InitTokenUser(uint8_t byResetFlag, uint8_t* pbyResetBuf, uint32_t* pnResetLen) {
    TRACE_NAME(L"CDeviceOperator::InitTokenUser");
    uint32_t hr = RunResetScheme(this, false, PIN_INS_INIT_USER, KEY_LOG_TAG_RESET_APP, byResetFlag, pbyResetBuf,
                                 pnResetLen);
    if (hr != 0) TRACE_FAIL(L"RunResetScheme", L"VM_ERR_OK != hResult", hr);
    return hr;
}

uint32_t CDeviceOperator::GetPINStatus(uint8_t byPinType, uint8_t* pbyRetryLeft, uint8_t* pbyState,
                                       uint8_t* pbyDefaultFlag, uint8_t* pbyMaxRetry) {
    TRACE_NAME(L"CDeviceOperator::GetPINStatus");
    uint32_t hr = 0;
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(SetSessionKey(0));
    CHECK_GOTO(hr != 0, L"SetSessionKey", hr);
    TRACE_STEP(L"SetSessionKey");
    // Reply bytes: maximum, remaining, default flag, state.
    hr = FoldResult(
        m_pDeviceContext->GetAPDUPin()->GetPINStatus(byPinType, pbyMaxRetry, pbyRetryLeft, pbyDefaultFlag, pbyState));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUPin()->GetPINStatus", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUPin()->GetPINStatus");
exit:
    return hr;
}
