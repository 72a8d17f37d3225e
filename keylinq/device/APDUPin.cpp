#include "APDUPin.h"

#include <cstring>

#include "APDUBuilderData.h"

#define TRACE_MODULE L"APDUPin"

// Steps of the bodies shared with the subclass, traced under the caller's
// module and method names.
#define PIN_STEP(step, expr)                                                                      \
    do {                                                                                          \
        uint32_t stepResult_ = (expr);                                                            \
        if (stepResult_ != 0) {                                                                   \
            TraceFailureLine(module, __LINE__, method, step, L"VM_ERR_OK != hResult", stepResult_); \
            return stepResult_;                                                                   \
        }                                                                                         \
        TraceStepLine(method, step);                                                              \
    } while (0)
#define PIN_CHECK(cond, step, reason, code)                          \
    do {                                                             \
        if (cond) {                                                  \
            TraceFailureLine(module, __LINE__, method, step, reason, code); \
            return code;                                             \
        }                                                            \
    } while (0)

namespace {

const uint8_t ZERO_FIELD[2] = {0, 0};

}  // namespace

uint32_t CAPDUPin::CheckSessionKey() {
    TRACE_NAME(L"CAPDUPin::CheckSessionKey");
    APDU_STEP(L"GetPINStatus", GetPINStatus(0x00, nullptr, nullptr, nullptr, nullptr));
    return 0;
}

uint32_t CAPDUPin::SetSessionKey(const uint8_t* pbyData, uint32_t nLen) {
    TRACE_NAME(L"CAPDUPin::SetSessionKey");
    APDU_CHECK(nLen > 0xFFFF, L"CHECK nLen", L"nLen > 0xFFFF", APDU_E_TOO_LONG);
    APDU_CHECK(!pbyData && nLen, L"CHECK pbyData", L"NULL == pbyData", VEMU_E_INVALID_ARG);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x0A, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(pbyData, uint16_t(nLen)));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUPin::ExternalAuth_Request(uint8_t* pbyOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"CAPDUPin::ExternalAuth_Request");
    uint32_t received = EXT_AUTH_CHALLENGE_LEN;
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x10, 0x00, 0x00));
    Le = EXT_AUTH_CHALLENGE_LEN;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(pbyOut, &received));
    if (pnOutLen) *pnOutLen = pbyOut ? received : 0;
    return 0;
}

uint32_t CAPDUPin::ExternalAuth_Response(const uint8_t* pbyData, uint32_t nLen) {
    TRACE_NAME(L"CAPDUPin::ExternalAuth_Response");
    APDU_CHECK(nLen > 0xFFFF, L"CHECK nLen", L"nLen > 0xFFFF", APDU_E_TOO_LONG);
    APDU_CHECK(!pbyData && nLen, L"CHECK pbyData", L"NULL == pbyData", VEMU_E_INVALID_ARG);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x10, 0x01, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(pbyData, uint16_t(nLen)));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUPin::GetPINStatus(uint8_t byP2, uint8_t* pbyOut0, uint8_t* pbyOut1, uint8_t* pbyOut2,
                                uint8_t* pbyOut3) {
    TRACE_NAME(L"CAPDUPin::GetPINStatus");
    uint8_t status[4] = {};
    uint32_t received = sizeof status;
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_SECURE, 0x14, 0x00, byP2));
    APDU_STEP(L"SetAPDUData", SetAPDUData(ZERO_FIELD, 2));
    Le = sizeof status;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(status, &received));
    if (pbyOut0) *pbyOut0 = status[0];
    if (pbyOut1) *pbyOut1 = status[1];
    if (pbyOut2) *pbyOut2 = status[2];
    if (pbyOut3) *pbyOut3 = status[3];
    return 0;
}

uint32_t CAPDUPin::SendChallenge(const wchar_t* module, const wchar_t* method, uint8_t byINS, uint8_t byP2,
                                 uint8_t* pbyChallenge, uint8_t* pbyPubKey, uint32_t* pnReplyLen) {
    uint8_t reply[PIN_CHALLENGE_REPLY_LEN] = {};
    uint32_t received = sizeof reply;
    PIN_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_SECURE, byINS, 0x00, byP2));
    PIN_STEP(L"SetAPDUData", SetAPDUData(ZERO_FIELD, 2));
    Le = PIN_CHALLENGE_REPLY_LEN;
    PIN_STEP(L"SendAPDUCmd", SendAPDUCmd(reply, &received));
    if (pnReplyLen) *pnReplyLen = received;
    // Fixed lengths whatever came: bytes not received stay zero.
    if (pbyChallenge) std::memcpy(pbyChallenge, reply, PIN_CHALLENGE_LEN);
    if (pbyPubKey) std::memcpy(pbyPubKey, reply + PIN_CHALLENGE_LEN, PIN_KEY_LEN);
    return 0;
}

uint32_t CAPDUPin::SendResponse(const wchar_t* module, const wchar_t* method, uint8_t byINS, uint8_t byP2,
                                const uint8_t* pbyData, uint32_t nLen, uint8_t* pbyOut, uint32_t* pnOutLen) {
    CommandData<PIN_RESPONSE_CAPACITY> data;
    data.u16(0).bytes(pbyData, nLen);
    PIN_CHECK(!data.fits(), L"CHECK nLen", L"nLen > capacity", APDU_E_TOO_LONG);
    PIN_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_SECURE, byINS, 0x01, byP2));
    PIN_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    if (!pbyOut) {
        PIN_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
        return 0;
    }
    uint32_t received = AUTH_CODE_LENGTH;
    Le = AUTH_CODE_LENGTH;
    PIN_STEP(L"SendAPDUCmd", SendAPDUCmd(pbyOut, &received));
    if (pnOutLen) *pnOutLen = received;
    return 0;
}

uint32_t CAPDUPin::GetChallengeCode(uint8_t byINS, uint8_t* pbyChallenge, uint8_t* pbyPubKey,
                                    uint32_t* pnReplyLen) {
    return SendChallenge(TRACE_MODULE, L"CAPDUPin::GetChallengeCode", byINS, 0x00, pbyChallenge, pbyPubKey,
                         pnReplyLen);
}

uint32_t CAPDUPin::ResetResponse(uint8_t byINS, uint8_t byP2, const uint8_t* pbyData, uint32_t nLen) {
    return SendResponse(TRACE_MODULE, L"CAPDUPin::ResetResponse", byINS, byP2, pbyData, nLen, nullptr, nullptr);
}

uint32_t CAPDUPin::VerifyPIN_Response(uint8_t byPinType, const uint8_t* pbyData, uint32_t nLen, uint8_t* pbyOut,
                                      uint32_t* pnOutLen) {
    uint8_t code[AUTH_CODE_LENGTH];
    const uint32_t hr = SendResponse(TRACE_MODULE, L"CAPDUPin::VerifyPIN_Response", PIN_INS_VERIFY, byPinType,
                                     pbyData, nLen, pbyOut ? pbyOut : code, pnOutLen);
    SecureZeroMemory(code, sizeof code);  // an authentication code the caller did not want
    return hr;
}

uint32_t CAPDUPin::ChangePIN_Response(uint8_t byPinType, const uint8_t* pbyData, uint32_t nLen) {
    return SendResponse(TRACE_MODULE, L"CAPDUPin::ChangePIN_Response", PIN_INS_CHANGE, byPinType, pbyData, nLen,
                        nullptr, nullptr);
}

uint32_t CAPDUPin::ClearAuthCode() {
    TRACE_NAME(L"CAPDUPin::ClearAuthCode");
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0x1C, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(ZERO_FIELD, 2));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}
