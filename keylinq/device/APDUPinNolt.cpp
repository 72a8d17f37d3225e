#include "APDUPinNolt.h"

#define TRACE_MODULE L"APDUPinNolt"

uint32_t CAPDUPinNolt::GetChallengeCode(uint8_t byINS, uint8_t byPinType, uint8_t* pbyChallenge,
                                        uint8_t* pbyPubKey, uint32_t* pnReplyLen) {
    return SendChallenge(TRACE_MODULE, L"CAPDUPinNolt::GetChallengeCode", byINS, byPinType, pbyChallenge, pbyPubKey,
                         pnReplyLen);
}

uint32_t CAPDUPinNolt::VerifyPIN_Response(const uint8_t* pbyData, uint32_t nLen, uint8_t* pbyOut,
                                          uint32_t* pnOutLen) {
    uint8_t code[AUTH_CODE_LENGTH];
    const uint32_t hr = SendResponse(TRACE_MODULE, L"CAPDUPinNolt::VerifyPIN_Response", PIN_INS_VERIFY, 0x00,
                                     pbyData, nLen, pbyOut ? pbyOut : code, pnOutLen);
    SecureZeroMemory(code, sizeof code);  // an authentication code the caller did not want
    return hr;
}

uint32_t CAPDUPinNolt::ChangePIN_Response(const uint8_t* pbyData, uint32_t nLen) {
    return SendResponse(TRACE_MODULE, L"CAPDUPinNolt::ChangePIN_Response", PIN_INS_CHANGE, 0x00, pbyData, nLen,
                        nullptr, nullptr);
}
