#pragma once
// PIN, authentication and session commands of the key: the session key and
// its probe, the external authentication of the host, the PIN status, the
// challenge-response exchanges that verify, change, unlock and reset PINs,
// and the clearing of the authorisation code.
#include <cstdint>

#include "APDU.h"

constexpr uint32_t PIN_CHALLENGE_LEN = 16;
constexpr uint32_t PIN_KEY_LEN = 132;  // RSA-1024 modulus (128), then the public exponent (4)
constexpr uint32_t PIN_CHALLENGE_REPLY_LEN = PIN_CHALLENGE_LEN + PIN_KEY_LEN;
constexpr uint32_t PIN_RESPONSE_CAPACITY = 256;  // 0x0000, then at most 254 bytes of response
constexpr uint32_t EXT_AUTH_CHALLENGE_LEN = 16;

// Instructions of the challenge-response exchanges.
constexpr uint8_t PIN_INS_CHANGE = 0x16;
constexpr uint8_t PIN_INS_VERIFY = 0x18;
constexpr uint8_t PIN_INS_UNLOCK = 0x1A;
constexpr uint8_t PIN_INS_INIT_USER = 0x2B;

class CAPDUPin : public CAPDU {
public:
    explicit CAPDUPin(VM_DEVICE_HANDLE* pDeviceHandle, uint32_t nTimeOut = APDU_TIMEOUT_SECONDS)
        : CAPDU(pDeviceHandle, nTimeOut) {}
    ~CAPDUPin() override {}

    // Success means the key still accepts the current session key.
    uint32_t CheckSessionKey();
    // The session key wrapped under the key's authentication public key.
    uint32_t SetSessionKey(const uint8_t* pbyData, uint32_t nLen);
    // The key's 16-byte challenge (output room: 16 bytes).
    uint32_t ExternalAuth_Request(uint8_t* pbyOut, uint32_t* pnOutLen);
    uint32_t ExternalAuth_Response(const uint8_t* pbyData, uint32_t nLen);
    // Reply byte k goes to output k when that is not null.
    uint32_t GetPINStatus(uint8_t byP2, uint8_t* pbyOut0, uint8_t* pbyOut1, uint8_t* pbyOut2, uint8_t* pbyOut3);
    // Challenge (16 bytes) and the RSA-1024 key to encrypt the response under (132 bytes);
    // the length of the key's reply to *pnReplyLen when that is given.
    uint32_t GetChallengeCode(uint8_t byINS, uint8_t* pbyChallenge, uint8_t* pbyPubKey,
                              uint32_t* pnReplyLen = nullptr);
    uint32_t ResetResponse(uint8_t byINS, uint8_t byP2, const uint8_t* pbyData, uint32_t nLen);
    // The authorisation code (output room: 16 bytes) and its length.
    uint32_t VerifyPIN_Response(uint8_t byPinType, const uint8_t* pbyData, uint32_t nLen, uint8_t* pbyOut,
                                uint32_t* pnOutLen);
    uint32_t ChangePIN_Response(uint8_t byPinType, const uint8_t* pbyData, uint32_t nLen);
    uint32_t ClearAuthCode();

protected:
    // The shared bodies; module and method name the trace lines.
    uint32_t SendChallenge(const wchar_t* module, const wchar_t* method, uint8_t byINS, uint8_t byP2,
                           uint8_t* pbyChallenge, uint8_t* pbyPubKey, uint32_t* pnReplyLen);
    // A response under secure messaging: 0x0000 and the data (at most 254
    // bytes, longer is refused before anything is sent); with an output, a
    // 16-byte reply is asked for.
    uint32_t SendResponse(const wchar_t* module, const wchar_t* method, uint8_t byINS, uint8_t byP2,
                          const uint8_t* pbyData, uint32_t nLen, uint8_t* pbyOut, uint32_t* pnOutLen);
};
