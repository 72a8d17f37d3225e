#pragma once
// The PIN commands of the key family in use: the verify and change
// exchanges carry the PIN type in the challenge instead of the response.
// These methods hide the base methods of the same name.
#include "APDUPin.h"

class CAPDUPinNolt : public CAPDUPin {
public:
    explicit CAPDUPinNolt(VM_DEVICE_HANDLE* pDeviceHandle, uint32_t nTimeOut = APDU_TIMEOUT_SECONDS)
        : CAPDUPin(pDeviceHandle, nTimeOut) {}
    ~CAPDUPinNolt() override {}

    uint32_t GetChallengeCode(uint8_t byINS, uint8_t byPinType, uint8_t* pbyChallenge, uint8_t* pbyPubKey,
                              uint32_t* pnReplyLen = nullptr);
    uint32_t VerifyPIN_Response(const uint8_t* pbyData, uint32_t nLen, uint8_t* pbyOut, uint32_t* pnOutLen);
    uint32_t ChangePIN_Response(const uint8_t* pbyData, uint32_t nLen);
};
