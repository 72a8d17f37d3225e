// The platform operator: PIN exchanges with the PIN type in the challenge
// and one session retry, and the symmetric handles of the key family.
#include "NoltOperator.h"

#include "APDUPinNolt.h"
#include "ContainerRecord.h"
#include "DeviceContext.h"
#include "DeviceResult.h"
#include "GMSymKeyHandle.h"
#include "PinExchange.h"
#include "SymKeyHandle.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DeviceOperator"

namespace {

constexpr uint8_t ALG_SM1 = 16;

}  // namespace

CNoltOperator::CNoltOperator(CDeviceContext* pDeviceContext) : CDeviceOperator(pDeviceContext) {
    m_nFlashReadLen = NOLT_FLASH_READ_BLOCK_LEN;
    CDeviceContext::TraceInfo(L"CNoltOperator: Constructor");
}

CNoltOperator::~CNoltOperator() { CDeviceContext::TraceInfo(L"CNoltOperator: Destructor"); }

uint32_t CNoltOperator::VerifyPIN(uint8_t byPinType, const char* pszPinBuf, uint8_t byPinLen) {
    TRACE_NAME(L"CNoltOperator::VerifyPIN");
    uint32_t hr = 0;
    VM_DEVICE_HANDLE* record = m_pDeviceContext ? m_pDeviceContext->GetDeviceHandle() : nullptr;
    CAPDUPinNolt* pin = m_pDeviceContext ? dynamic_cast<CAPDUPinNolt*>(m_pDeviceContext->GetAPDUPin()) : nullptr;

    CHECK_GOTO(!record, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!pszPinBuf, L"CHECK pszPinBuf", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!pin, L"CHECK m_pApduPin", DEVOP_E_NULL_POINTER);
    hr = ExchangeVerify(
        record,
        [&](PinChallenge* c) {
            return WithSessionRetry(this, true, [&] {
                return FoldResult(
                    pin->GetChallengeCode(PIN_INS_VERIFY, byPinType, c->challenge, c->pubKey, &c->replyLen));
            });
        },
        [&](const uint8_t* data, uint32_t len, uint8_t* code, uint32_t* codeLen) {
            return FoldResult(pin->VerifyPIN_Response(data, len, code, codeLen));
        },
        reinterpret_cast<const uint8_t*>(pszPinBuf), byPinLen);
    CHECK_GOTO(hr != 0, L"ExchangeVerify", hr);
    TRACE_STEP(L"ExchangeVerify");
exit:
    return hr;
}

uint32_t CNoltOperator::ChangePIN(uint8_t byPinType, const char* pszOldPin, uint8_t byOldPinLen,
                                  const char* pszNewPin, uint8_t byNewPinLen) {
    TRACE_NAME(L"CNoltOperator::ChangePIN");
    uint32_t hr = 0;
    VM_DEVICE_HANDLE* record = m_pDeviceContext ? m_pDeviceContext->GetDeviceHandle() : nullptr;
    CAPDUPinNolt* pin = m_pDeviceContext ? dynamic_cast<CAPDUPinNolt*>(m_pDeviceContext->GetAPDUPin()) : nullptr;

    if (!record) {
        TRACE_FAIL(L"CHECK m_pDeviceContext", L"NULL == m_pDeviceContext", DEVOP_E_NULL_POINTER);
        return DEVOP_E_NULL_POINTER;
    }
    CHECK_GOTO(!pszOldPin || !pszNewPin, L"CHECK pszOldPin", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!pin, L"CHECK m_pApduPin", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(byOldPinLen > PIN_MAX_LEN, L"CHECK byOldPinLen", DEVOP_E_TOO_LONG);
    hr = ExchangeChange(
        [&](PinChallenge* c) {
            return WithSessionRetry(this, true, [&] {
                return FoldResult(
                    pin->GetChallengeCode(PIN_INS_CHANGE, byPinType, c->challenge, c->pubKey, &c->replyLen));
            });
        },
        [&](const uint8_t* data, uint32_t len) { return FoldResult(pin->ChangePIN_Response(data, len)); },
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

uint32_t CNoltOperator::InitTokenUser(uint8_t byResetFlag, uint8_t* pbyResetBuf, uint32_t* pnResetLen) {
    TRACE_NAME(L"CNoltOperator::InitTokenUser");
    uint32_t hr = 0;
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = RunResetScheme(this, true, PIN_INS_INIT_USER, KEY_LOG_TAG_RESET_APP, byResetFlag, pbyResetBuf, pnResetLen);
    CHECK_GOTO(hr != 0, L"RunResetScheme", hr);
    TRACE_STEP(L"RunResetScheme");
exit:
    return hr;
}

uint32_t CNoltOperator::InitSymKey(uint8_t byAlgID, uint8_t byCryptType, uint8_t byMode, const uint8_t* pbyKey,
                                   const uint8_t* pbyIV, CSymKeyHandle** ppSymKey) {
    TRACE_NAME(L"CNoltOperator::InitSymKey");
    uint32_t hr = 0;
    if (byAlgID == ALG_SM1) {
        // SM1 runs only on the key.
        hr = FoldResult(
            CGMSymKeyHandle::Initialize(m_pDeviceContext, byAlgID, byCryptType, byMode, pbyKey, pbyIV, ppSymKey));
        CHECK_GOTO(hr != 0, L"CGMSymKeyHandle::Initialize", hr);
        TRACE_STEP(L"CGMSymKeyHandle::Initialize");
    } else {
        hr = FoldResult(CSymKeyHandle::Initialize(byAlgID, byCryptType, byMode, pbyKey, pbyIV, ppSymKey));
        CHECK_GOTO(hr != 0, L"CSymKeyHandle::Initialize", hr);
        TRACE_STEP(L"CSymKeyHandle::Initialize");
    }
exit:
    return hr;
}
