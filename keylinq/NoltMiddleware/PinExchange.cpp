// The host's side of the PIN challenge-response.
#include "PinExchange.h"

#include <openssl/crypto.h>

#include <cstring>

#include "APDUChip.h"
#include "DeviceContext.h"
#include "DeviceOperator.h"
#include "DeviceResult.h"
#include "SoftCrypto.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DeviceOperator"

namespace {

constexpr uint32_t PIN_RSA_MODULUS_LEN = 128;
constexpr uint32_t PIN_RSA_EXPONENT_LEN = 4;
constexpr uint32_t PADDING_PKCS1 = 1;

}  // namespace

uint32_t PinBlock(const uint8_t* pbyPin, uint32_t nPinLen, const uint8_t* pbyChallenge, uint8_t* pbyBlock) {
    TRACE_NAME(L"PinBlock");
    uint32_t hr = 0;
    uint8_t inner[PIN_DIGEST_LEN] = {};
    uint8_t outer[SOFT_MAX_DIGEST_BYTES] = {};
    uint32_t len = 0;
    HASH_CTX* ctx = nullptr;
    // The empty PIN is hashed as the empty input.
    static const uint8_t empty = 0;

    hr = FoldResult(Hash_Digest(SOFT_HASH_MD5, nPinLen ? pbyPin : &empty, nPinLen, inner, &len));
    CHECK_GOTO(hr != 0, L"Hash_Digest", hr);
    hr = FoldResult(Hash_Init(&ctx, SOFT_HASH_MD5));
    CHECK_GOTO(hr != 0, L"Hash_Init", hr);
    hr = FoldResult(Hash_Update(ctx, inner, PIN_DIGEST_LEN));
    CHECK_GOTO(hr != 0, L"Hash_Update", hr);
    hr = FoldResult(Hash_Update(ctx, pbyChallenge, PIN_CHALLENGE_LEN));
    CHECK_GOTO(hr != 0, L"Hash_Update", hr);
    hr = FoldResult(Hash_Final(ctx, outer, &len));
    CHECK_GOTO(hr != 0, L"Hash_Final", hr);
    ctx = nullptr;  // the final step freed it
    std::memcpy(pbyBlock, outer, PIN_DIGEST_LEN);
exit:
    Hash_Free(ctx);
    OPENSSL_cleanse(inner, sizeof inner);
    OPENSSL_cleanse(outer, sizeof outer);
    return hr;
}

uint32_t ChangePinBlock(const uint8_t* pbyOldPin, uint32_t nOldLen, const uint8_t* pbyNewPin, uint32_t nNewLen,
                        const uint8_t* pbyChallenge, uint8_t* pbyBlock) {
    TRACE_NAME(L"ChangePinBlock");
    uint32_t hr = 0;
    uint32_t len = 0;
    static const uint8_t empty = 0;

    hr = PinBlock(pbyOldPin, nOldLen, pbyChallenge, pbyBlock);
    CHECK_GOTO(hr != 0, L"PinBlock", hr);
    hr = FoldResult(Hash_Digest(SOFT_HASH_MD5, nNewLen ? pbyNewPin : &empty, nNewLen, pbyBlock + PIN_DIGEST_LEN, &len));
    CHECK_GOTO(hr != 0, L"Hash_Digest", hr);
exit:
    if (hr != 0) OPENSSL_cleanse(pbyBlock, 2 * PIN_DIGEST_LEN);
    return hr;
}

uint32_t PinCryptogram(const PinChallenge& challenge, const uint8_t* pbyBlock, uint32_t nBlockLen,
                       uint8_t* pbyCryptogram, uint32_t* pnCryptogramLen) {
    TRACE_NAME(L"PinCryptogram");
    uint32_t hr = 0;
    SOFT_RSA_PUBKEY key = {};

    // A challenge reply cut short would leave part of the key as zero bytes.
    CHECK_GOTO(challenge.replyLen < PIN_CHALLENGE_REPLY_LEN, L"CHECK challenge length", DEVOP_E_SHORT_REPLY);
    std::memcpy(key.modulus, challenge.pubKey, PIN_RSA_MODULUS_LEN);
    key.nLen = PIN_RSA_MODULUS_LEN;
    std::memcpy(key.exponent, challenge.pubKey + PIN_RSA_MODULUS_LEN, PIN_RSA_EXPONENT_LEN);
    key.eLen = PIN_RSA_EXPONENT_LEN;
    *pnCryptogramLen = PIN_CRYPTOGRAM_LEN;
    hr = FoldResult(RSA_Encrypt(&key, pbyBlock, nBlockLen, pbyCryptogram, pnCryptogramLen, PADDING_PKCS1));
    CHECK_GOTO(hr != 0, L"RSA_Encrypt", hr);
    TRACE_STEP(L"RSA_Encrypt");
exit:
    return hr;
}

bool IsSessionRetryResult(uint32_t result) {
    return (result & 0x2000FFFFu) == 0x0107u || result == 0x8000F525u || result == 0x8000F526u ||
           result == 0x80006700u;
}

void EmptyAuthCode(VM_DEVICE_HANDLE* pRecord) {
    if (!pRecord) return;
    OPENSSL_cleanse(pRecord->m_abyAuthCode, sizeof pRecord->m_abyAuthCode);
    pRecord->m_nAuthCodeLen = 0;
}

uint32_t WithSessionRetry(CDeviceOperator* pOperator, bool bRetry, const std::function<uint32_t()>& step) {
    TRACE_NAME(L"CNoltOperator::SessionRetry");
    uint32_t hr = step();
    if (!bRetry || !IsSessionRetryResult(hr)) return hr;
    CDeviceContext::TraceInfo(L"Session lost [HRESULT:0x%x], setting a new session key", hr);
    hr = FoldResult(pOperator->SetSessionKey(1));
    CHECK_GOTO(hr != 0, L"SetSessionKey", hr);
    TRACE_STEP(L"SetSessionKey");
    hr = step();
exit:
    return hr;
}

uint32_t ExchangeVerify(VM_DEVICE_HANDLE* pRecord, const PinChallengeStep& challenge, const PinVerifyStep& respond,
                        const uint8_t* pbyPin, uint32_t nPinLen) {
    TRACE_NAME(L"VerifyPIN");
    uint32_t hr = 0;
    PinChallenge reply = {};
    uint8_t block[PIN_DIGEST_LEN] = {};
    uint8_t cryptogram[PIN_CRYPTOGRAM_LEN] = {};
    uint32_t cryptogramLen = 0;
    uint8_t code[AUTH_CODE_LENGTH] = {};
    uint32_t codeLen = 0;

    hr = challenge(&reply);
    CHECK_GOTO(hr != 0, L"GetChallengeCode", hr);
    TRACE_STEP(L"GetChallengeCode");
    hr = PinBlock(pbyPin, nPinLen, reply.challenge, block);
    CHECK_GOTO(hr != 0, L"PinBlock", hr);
    hr = PinCryptogram(reply, block, sizeof block, cryptogram, &cryptogramLen);
    CHECK_GOTO(hr != 0, L"PinCryptogram", hr);

    hr = respond(cryptogram, cryptogramLen, code, &codeLen);
    // Only a whole code replaces the one kept; anything else empties it.
    if (hr == 0 && codeLen != AUTH_CODE_LENGTH) hr = DEVOP_E_SHORT_REPLY;
    if (hr != 0) EmptyAuthCode(pRecord);
    CHECK_GOTO(hr != 0, L"VerifyPIN_Response", hr);
    TRACE_STEP(L"VerifyPIN_Response");
    std::memcpy(pRecord->m_abyAuthCode, code, AUTH_CODE_LENGTH);
    pRecord->m_nAuthCodeLen = codeLen;
exit:
    OPENSSL_cleanse(block, sizeof block);
    OPENSSL_cleanse(code, sizeof code);
    return hr;
}

uint32_t ExchangeChange(const PinChallengeStep& challenge, const PinResponseStep& respond, const uint8_t* pbyOldPin,
                        uint32_t nOldLen, const uint8_t* pbyNewPin, uint32_t nNewLen) {
    TRACE_NAME(L"ChangePIN");
    uint32_t hr = 0;
    PinChallenge reply = {};
    uint8_t block[2 * PIN_DIGEST_LEN] = {};
    uint8_t cryptogram[PIN_CRYPTOGRAM_LEN] = {};
    uint32_t cryptogramLen = 0;

    hr = challenge(&reply);
    CHECK_GOTO(hr != 0, L"GetChallengeCode", hr);
    TRACE_STEP(L"GetChallengeCode");
    hr = ChangePinBlock(pbyOldPin, nOldLen, pbyNewPin, nNewLen, reply.challenge, block);
    CHECK_GOTO(hr != 0, L"ChangePinBlock", hr);
    hr = PinCryptogram(reply, block, sizeof block, cryptogram, &cryptogramLen);
    CHECK_GOTO(hr != 0, L"PinCryptogram", hr);
    hr = respond(cryptogram, cryptogramLen);
    CHECK_GOTO(hr != 0, L"ChangePIN_Response", hr);
    TRACE_STEP(L"ChangePIN_Response");
exit:
    OPENSSL_cleanse(block, sizeof block);
    return hr;
}

uint32_t RunResetScheme(CDeviceOperator* pOperator, bool bPlatform, uint8_t byINS, const char* pszLogTag,
                        uint8_t byFlag, uint8_t* pbyBuf, uint32_t* pnLen) {
    TRACE_NAME(L"ResetScheme");
    uint32_t hr = 0;
    CDeviceContext* context = pOperator->GetDeviceContext();
    CAPDUPin* pin = context ? context->GetAPDUPin() : nullptr;
    PinChallenge reply = {};
    uint8_t block[PIN_DIGEST_LEN] = {};
    uint8_t cryptogram[PIN_CRYPTOGRAM_LEN] = {};
    uint32_t cryptogramLen = 0;
    uint32_t snLen = 0;
    const auto sendChallenge = [&] {
        return FoldResult(pin->GetChallengeCode(byINS, reply.challenge, reply.pubKey, &reply.replyLen));
    };

    CHECK_GOTO(!pin, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!pbyBuf || !pnLen, L"CHECK pbyBuf", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(byFlag < 1 || byFlag > 3, L"CHECK byFlag", DEVOP_E_BAD_STEP);
    if (!bPlatform) {
        hr = FoldResult(pOperator->SetSessionKey(0));
        CHECK_GOTO(hr != 0, L"SetSessionKey", hr);
        TRACE_STEP(L"SetSessionKey");
    }

    if (byFlag == 1) {
        hr = WithSessionRetry(pOperator, bPlatform, sendChallenge);
        CHECK_GOTO(hr != 0, L"GetChallengeCode", hr);
        TRACE_STEP(L"GetChallengeCode");
        hr = PinBlock(pbyBuf, *pnLen, reply.challenge, block);
        CHECK_GOTO(hr != 0, L"PinBlock", hr);
        hr = PinCryptogram(reply, block, sizeof block, cryptogram, &cryptogramLen);
        CHECK_GOTO(hr != 0, L"PinCryptogram", hr);
        hr = FoldResult(pin->ResetResponse(byINS, 0, cryptogram, cryptogramLen));
        CHECK_GOTO(hr != 0, L"ResetResponse", hr);
        TRACE_STEP(L"ResetResponse");
    } else if (byFlag == 2) {
        hr = WithSessionRetry(pOperator, bPlatform, sendChallenge);
        CHECK_GOTO(hr != 0, L"GetChallengeCode", hr);
        TRACE_STEP(L"GetChallengeCode");
        snLen = TOKEN_SN_LEN;
        hr = FoldResult(context->GetAPDUChip()->GetTokenSN(pbyBuf, &snLen));
        CHECK_GOTO(hr != 0, L"GetTokenSN", hr);
        TRACE_STEP(L"GetTokenSN");
        std::memcpy(pbyBuf + snLen, reply.challenge, PIN_CHALLENGE_LEN);
        *pnLen = snLen + PIN_CHALLENGE_LEN;
        goto exit;  // a request changes nothing on the key: no log entry
    } else {
        hr = WithSessionRetry(pOperator, bPlatform,
                              [&] { return FoldResult(pin->ResetResponse(byINS, 1, pbyBuf, *pnLen)); });
        CHECK_GOTO(hr != 0, L"ResetResponse", hr);
        TRACE_STEP(L"ResetResponse");
    }
    CDeviceContext::TraceInfo(L"RecordVemuLog [HRESULT:0x%x]", pOperator->RecordVemuLog(pszLogTag));
exit:
    OPENSSL_cleanse(block, sizeof block);
    return hr;
}
