// Session-key set-up of a device context: a new random session key,
// encrypted under the external-authentication key and wrapped under the
// key's authentication public key, which must carry the built-in root
// key's signature.
#include <cstring>

#include "APDUChip.h"
#include "APDUPin.h"
#include "DeviceContext.h"
#include "DeviceResult.h"
#include "SoftCrypto.h"
#include "SymKeyHandle.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DeviceContext"

namespace {

constexpr char AUTH_KEY_TAG[] = "VEMU-Product";  // signed in front of the key, no terminator
constexpr uint32_t AUTH_KEY_TAG_LEN = 12;
constexpr uint32_t RSA_AUTH_KEY_LEN = 132;       // modulus (128) and exponent (4)
constexpr uint32_t RSA_AUTH_SIG_LEN = 128;
constexpr uint32_t SM2_AUTH_KEY_LEN = 64;
constexpr uint32_t SM2_AUTH_SIG_LEN = 64;
constexpr uint8_t EXPORT_ALG_RSA = 3;

uint32_t Digest(uint8_t hashId, const uint8_t* key, uint32_t keyLen, uint8_t* digest) {
    uint8_t data[AUTH_KEY_TAG_LEN + RSA_AUTH_KEY_LEN];
    std::memcpy(data, AUTH_KEY_TAG, AUTH_KEY_TAG_LEN);
    std::memcpy(data + AUTH_KEY_TAG_LEN, key, keyLen);
    HASH_CTX* ctx = nullptr;
    uint32_t digestLen = 0;
    uint32_t hr = Hash_Init(&ctx, hashId);
    if (hr != 0) return hr;
    hr = Hash_Update(ctx, data, AUTH_KEY_TAG_LEN + keyLen);
    if (hr == 0) hr = Hash_Final(ctx, digest, &digestLen);
    if (hr != 0) Hash_Free(ctx);  // a finished context is already freed
    return hr;
}

}  // namespace

uint32_t CDeviceContext::SetSessionKey(uint32_t force) {
    TRACE_NAME(L"CDeviceContext::SetSessionKey");
    uint32_t hr = 0;
    uint8_t sessionKey[SESSION_KEY_LENGTH] = {};
    uint8_t encrypted[SESSION_KEY_LENGTH + 16] = {};
    uint32_t encryptedLen = 0;
    uint8_t authKey[RSA_AUTH_KEY_LEN] = {};
    uint8_t signature[RSA_AUTH_SIG_LEN] = {};
    uint8_t digest[SOFT_MAX_DIGEST_BYTES] = {};
    uint8_t wrapped[SOFT_RSA_MAX_BYTES] = {};
    uint32_t wrappedLen = sizeof wrapped;
    VM_DEVICE_HANDLE* record = m_pDevieHandle;

    CHECK_GOTO(!record || !m_pApduChip || !m_pApduPin, L"CHECK m_pDevieHandle", DEVCTX_E_NO_TRANSPORT);
    if (!force) {
        if (m_pApduPin->CheckSessionKey() == 0) {
            TRACE_STEP(L"CheckSessionKey");
            goto exit;
        }
    }
    CHECK_GOTO(!record->m_pRootPubKey, L"CHECK m_pRootPubKey", DEVCTX_E_NULL_POINTER);

    hr = FoldResult(GenRand(SESSION_KEY_LENGTH, sessionKey, 1));
    CHECK_GOTO(hr != 0, L"GenRand", hr);
    hr = FoldResult(CSymKeyHandle::Encrypt(record->m_byAlgID, SOFT_MODE_CBC, record->m_abyExtAuthKey, nullptr,
                                           sessionKey, SESSION_KEY_LENGTH, encrypted, &encryptedLen));
    CHECK_GOTO(hr != 0, L"CSymKeyHandle::Encrypt", hr);
    TRACE_STEP(L"CSymKeyHandle::Encrypt");

    if (record->m_byAlgID != SOFT_ALG_SM4) {
        hr = FoldResult(m_pApduChip->ExportAuthKey(EXPORT_ALG_RSA, authKey, signature));
        CHECK_GOTO(hr != 0, L"ExportAuthKey", hr);
        hr = FoldResult(Digest(SOFT_HASH_SHA1, authKey, RSA_AUTH_KEY_LEN, digest));
        CHECK_GOTO(hr != 0, L"Hash", hr);
        hr = FoldResult(RSA_Verify(static_cast<const SOFT_RSA_PUBKEY*>(record->m_pRootPubKey), SOFT_HASH_SHA1, digest,
                                   signature, RSA_AUTH_SIG_LEN));
        CHECK_GOTO(hr != 0, L"RSA_Verify", hr);
        TRACE_STEP(L"RSA_Verify");
        SOFT_RSA_PUBKEY exported = {};
        std::memcpy(exported.modulus, authKey, 128);
        exported.nLen = 128;
        std::memcpy(exported.exponent, authKey + 128, 4);
        exported.eLen = 4;
        hr = FoldResult(RSA_Encrypt(&exported, encrypted, encryptedLen, wrapped, &wrappedLen, 1));
        CHECK_GOTO(hr != 0, L"RSA_Encrypt", hr);
        TRACE_STEP(L"RSA_Encrypt");
    } else {
        hr = FoldResult(m_pApduChip->ExportAuthKey(SOFT_ALG_SM4, authKey, signature));
        CHECK_GOTO(hr != 0, L"ExportAuthKey", hr);
        hr = FoldResult(Digest(VM_ALG_SM3, authKey, SM2_AUTH_KEY_LEN, digest));
        CHECK_GOTO(hr != 0, L"Hash", hr);
        hr = FoldResult(SM2_Verify(static_cast<const uint8_t*>(record->m_pRootPubKey), digest, signature,
                                   SM2_AUTH_SIG_LEN));
        CHECK_GOTO(hr != 0, L"SM2_Verify", hr);
        TRACE_STEP(L"SM2_Verify");
        hr = FoldResult(SM2_Encrypt(authKey, encrypted, encryptedLen, wrapped, &wrappedLen));
        CHECK_GOTO(hr != 0, L"SM2_Encrypt", hr);
        TRACE_STEP(L"SM2_Encrypt");
    }

    hr = FoldResult(m_pApduPin->SetSessionKey(wrapped, wrappedLen));
    CHECK_GOTO(hr != 0, L"SetSessionKey", hr);
    TRACE_STEP(L"SetSessionKey");

    std::memcpy(record->m_abySessionKey, sessionKey, SESSION_KEY_LENGTH);
    record->m_nSessionKeyLen = SESSION_KEY_LENGTH;
    record->m_bySecMode = APDU_SEC_ENC;
    record->m_abyCounter[0] = sessionKey[0];
    record->m_abyCounter[1] = sessionKey[1];
exit:
    // Not a plain memset: the compiler drops stores to buffers that die here.
    SecureZeroMemory(sessionKey, sizeof sessionKey);
    SecureZeroMemory(encrypted, sizeof encrypted);
    return hr;
}
