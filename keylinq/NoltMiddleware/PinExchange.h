#pragma once
// The host's side of the PIN challenge-response: the blocks that bind the
// MD5 digest of a PIN to the key's challenge, and their RSA PKCS#1 v1.5
// cryptogram under the key pair that came with the challenge. Every
// intermediate digest is wiped before these return.
#include <cstdint>
#include <functional>

#include "APDUPin.h"

constexpr uint32_t PIN_DIGEST_LEN = 16;
constexpr uint32_t PIN_CRYPTOGRAM_LEN = 128;
// A PIN the confirmation path can carry; longer old PINs are refused unsent.
constexpr uint32_t PIN_MAX_LEN = 32;

#define DEVOP_E_BAD_STEP     0x80070115u  // unlock or reset with an unknown step flag

// The key's reply to a challenge command.
struct PinChallenge {
    uint8_t challenge[PIN_CHALLENGE_LEN];
    uint8_t pubKey[PIN_KEY_LEN];  // modulus (128), exponent (4)
    uint32_t replyLen;            // what the key sent: PIN_CHALLENGE_REPLY_LEN when whole
};

// MD5(MD5(pin) || challenge) to block (16 bytes).
uint32_t PinBlock(const uint8_t* pbyPin, uint32_t nPinLen, const uint8_t* pbyChallenge, uint8_t* pbyBlock);
// MD5(MD5(old) || challenge) || MD5(new) to block (32 bytes).
uint32_t ChangePinBlock(const uint8_t* pbyOldPin, uint32_t nOldLen, const uint8_t* pbyNewPin, uint32_t nNewLen,
                        const uint8_t* pbyChallenge, uint8_t* pbyBlock);
// The block encrypted under the challenge's key (output room: 128 bytes).
uint32_t PinCryptogram(const PinChallenge& challenge, const uint8_t* pbyBlock, uint32_t nBlockLen,
                       uint8_t* pbyCryptogram, uint32_t* pnCryptogramLen);
// The results after which the platform operator sets up a new session key
// and sends the command once more.
bool IsSessionRetryResult(uint32_t result);
// Zeroes the authorisation code kept in the device handle.
void EmptyAuthCode(VM_DEVICE_HANDLE* pRecord);

class CDeviceOperator;

// The command steps of one exchange, bound to the operator's PIN command
// object; each returns the folded result.
using PinChallengeStep = std::function<uint32_t(PinChallenge* pChallenge)>;
using PinResponseStep = std::function<uint32_t(const uint8_t* pbyData, uint32_t nLen)>;
// The verify response, which answers the authorisation code.
using PinVerifyStep = std::function<uint32_t(const uint8_t* pbyData, uint32_t nLen, uint8_t* pbyCode,
                                             uint32_t* pnCodeLen)>;

// Sends the step; with bRetry, a result that says the session is gone sets
// up a new session key (force) and sends it once more.
uint32_t WithSessionRetry(CDeviceOperator* pOperator, bool bRetry, const std::function<uint32_t()>& step);

// Challenge, verify block, response. The code replaces the device handle's
// authorisation code; a failed or short response empties it.
uint32_t ExchangeVerify(VM_DEVICE_HANDLE* pRecord, const PinChallengeStep& challenge, const PinVerifyStep& respond,
                        const uint8_t* pbyPin, uint32_t nPinLen);
// Challenge, change block, response.
uint32_t ExchangeChange(const PinChallengeStep& challenge, const PinResponseStep& respond, const uint8_t* pbyOldPin,
                        uint32_t nOldLen, const uint8_t* pbyNewPin, uint32_t nNewLen);

// The three steps shared by UnlockPIN (INS 0x1A) and InitTokenUser (0x2B):
// 1 answers a challenge with a PIN, 2 returns the token serial number and
// a challenge, 3 sends an answer computed elsewhere. bPlatform applies the
// session retry to the challenges and to step 3's response; otherwise a
// session key is set up (force 0) first.
uint32_t RunResetScheme(CDeviceOperator* pOperator, bool bPlatform, uint8_t byINS, const char* pszLogTag,
                        uint8_t byFlag, uint8_t* pbyBuf, uint32_t* pnLen);
