#include "APDUCrypto.h"

#include <windows.h>

#include <cstring>

#include "APDUBuilderData.h"

#define TRACE_MODULE L"APDUCrypto"

namespace {

constexpr uint32_t PRIVATE_DATA_CAPACITY = 320;
constexpr uint32_t SM2_DIGEST_DATA_CAPACITY = 64;
constexpr uint32_t SYM_IV_LEN = 16;
constexpr uint32_t SYM_REPLY_CAPACITY = 128;
constexpr uint32_t HASH_REPLY_CAPACITY = 64;
constexpr uint8_t ALG_RSA1024 = 1;
constexpr uint8_t ALG_RSA2048 = 7;
constexpr uint8_t ALG_SM2 = 17;
constexpr uint32_t STATUS_WAIT_BUTTON = 0x8000F321u;
const uint8_t DEFAULT_SM2_USER_ID[16] = {'1', '2', '3', '4', '5', '6', '7', '8',
                                         '1', '2', '3', '4', '5', '6', '7', '8'};

uint32_t SystemNow() { return GetTickCount(); }
void SystemPause(uint32_t ms) { Sleep(ms); }
const APDUPollClock SYSTEM_CLOCK = {SystemNow, SystemPause};
const APDUPollClock* g_pollClock = &SYSTEM_CLOCK;

// Reply length of the RSA private-key commands, 0 for an unknown algorithm.
uint16_t RsaOutLen(uint8_t byAlgID) {
    return byAlgID == ALG_RSA1024 ? 128 : byAlgID == ALG_RSA2048 ? 256 : 0;
}

}  // namespace

const APDUPollClock* CAPDUCrypto::SetPollClock(const APDUPollClock* clock) {
    const APDUPollClock* previous = g_pollClock;
    g_pollClock = clock ? clock : &SYSTEM_CLOCK;
    return previous;
}

uint32_t CAPDUCrypto::SM2Decrypt(const uint8_t* pbyAuthCode, uint16_t nKeyFID, const uint8_t* pbyIn,
                                 uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"CAPDUCrypto::SM2Decrypt");
    // Shorter than its own C1 and C3 it holds no plaintext: refused.
    APDU_CHECK(nInLen < SM2_CIPHER_OVERHEAD, L"CHECK nInLen", L"nInLen < 97", APDU_E_TOO_LONG);
    CommandData<PRIVATE_DATA_CAPACITY> data;
    PutKeyPrefix(data, pbyAuthCode, nKeyFID).bytes(pbyIn, nInLen);
    APDU_CHECK_FITS(data);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_SECURE, 0x75, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    Le = uint16_t(nInLen - SM2_CIPHER_OVERHEAD);
    uint8_t plain[PRIVATE_DATA_CAPACITY];
    uint32_t received = Le;
    const uint32_t hr = SendAPDUCmd(plain, &received);
    if (hr != 0) {
        TRACE_FAIL(L"SendAPDUCmd", L"VM_ERR_OK != hResult", hr);
    } else {
        TRACE_STEP(L"SendAPDUCmd");
        if (pbyOut) std::memcpy(pbyOut, plain, received);
        if (pnOutLen) *pnOutLen = received;
    }
    SecureZeroMemory(plain, sizeof plain);  // the decrypted plaintext
    return hr;
}

uint32_t CAPDUCrypto::SignDisp(const wchar_t* method, uint8_t ins, const uint8_t* pbyAuthCode, uint16_t nKeyFID,
                               const uint8_t* pbyStep0, uint32_t nStep0Len, uint16_t nLastLe, const uint8_t* pbyMsg,
                               uint32_t nMsgLen, uint8_t* pbyOut, uint32_t* pnOutLen) {
    const wchar_t* const traceFunc_ = method;
    APDU_CHECK(nMsgLen && !pbyMsg, L"CHECK pbyMsg", L"NULL == pbyMsg", APDU_E_TOO_LONG);
    CommandData<KEY_PREFIX_LEN> prefix;
    PutKeyPrefix(prefix, pbyAuthCode, nKeyFID);
    APDU_CHECK_FITS(prefix);

    // Step 0: the prefix and what the signature starts from.
    CommandData<KEY_PREFIX_LEN + 16> start;
    start.bytes(prefix.data(), prefix.size()).bytes(pbyStep0, nStep0Len);
    APDU_CHECK_FITS(start);
    APDU_STEP(L"SetAPDUHeader(P1=0x00)", SetAPDUHeader(APDU_CLA_SECURE, ins, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData(P1=0x00)", SetAPDUData(start.data(), start.size()));
    APDU_STEP(L"SendAPDUCmd(P1=0x00)", SendAPDUCmd(nullptr, nullptr));

    // Step 1: the message in pieces of 256 bytes (none for an empty one).
    APDU_STEP(L"SetAPDUHeader(P1=0x01)", SetAPDUHeader(APDU_CLA_SECURE, ins, 0x01, 0x00));
    for (uint32_t sent = 0; sent < nMsgLen;) {
        const uint32_t piece = nMsgLen - sent < SIGN_MESSAGE_PIECE ? nMsgLen - sent : SIGN_MESSAGE_PIECE;
        CommandData<KEY_PREFIX_LEN + SIGN_MESSAGE_PIECE> data;
        data.bytes(prefix.data(), prefix.size()).bytes(pbyMsg + sent, piece);
        APDU_STEP(L"SetAPDUData(P1=0x01)", SetAPDUData(data.data(), data.size()));
        APDU_STEP(L"SendAPDUCmd(P1=0x01)", SendAPDUCmd(nullptr, nullptr));
        sent += piece;
    }

    // Step 2: the end of the message.
    APDU_STEP(L"SetAPDUHeader(P1=0x02)", SetAPDUHeader(APDU_CLA_SECURE, ins, 0x02, 0x00));
    APDU_STEP(L"SetAPDUData(P1=0x02)", SetAPDUData(prefix.data(), prefix.size()));
    APDU_STEP(L"SendAPDUCmd(P1=0x02)", SendAPDUCmd(nullptr, nullptr));

    // Step 3: the signature, once the key's button allows it. Each try is
    // preceded by a pause; a key that keeps waiting past the limit ends the
    // method, so no caller is held for ever.
    APDU_STEP(L"SetAPDUHeader(P1=0x03)", SetAPDUHeader(APDU_CLA_SECURE, ins, 0x03, 0x00));
    APDU_STEP(L"SetAPDUData(P1=0x03)", SetAPDUData(prefix.data(), prefix.size()));
    APDU_CHECK(nLastLe == 0, L"CHECK byAlgID", L"TRUE", APDU_E_BAD_ALGID);
    Le = nLastLe;
    uint8_t signature[256];
    uint32_t received = 0;
    uint32_t hr = 0;
    const APDUPollClock* clock = g_pollClock;
    const uint32_t startTime = clock->now();
    for (;;) {
        clock->pause(SIGN_POLL_INTERVAL_MS);
        received = nLastLe;
        hr = SendAPDUCmd(signature, &received);
        if (hr != STATUS_WAIT_BUTTON) break;
        if (clock->now() - startTime >= SIGN_POLL_LIMIT_MS) {
            hr = APDU_E_BUTTON_TIMEOUT;
            TRACE_FAIL(L"SendAPDUCmd(P1=0x03)", L"button wait > 30 s", hr);
            return hr;
        }
    }
    if (hr != 0) {
        TRACE_FAIL(L"SendAPDUCmd(P1=0x03)", L"hResult != VM_ERR_OK", hr);
        return hr;
    }
    TRACE_STEP(L"SendAPDUCmd(P1=0x03)");
    if (pbyOut) std::memcpy(pbyOut, signature, received);
    if (pnOutLen) *pnOutLen = received;
    return 0;
}

uint32_t CAPDUCrypto::SM2SignDisp(const uint8_t* pbyAuthCode, uint16_t nKeyFID, const uint8_t* pbyMsg,
                                  uint32_t nMsgLen, uint8_t* pbyOut, uint32_t* pnOutLen) {
    return SignDisp(L"CAPDUCrypto::SM2SignDisp", 0x74, pbyAuthCode, nKeyFID, DEFAULT_SM2_USER_ID,
                    sizeof DEFAULT_SM2_USER_ID, SM2_SIGNATURE_LEN, pbyMsg, nMsgLen, pbyOut, pnOutLen);
}

uint32_t CAPDUCrypto::RSASignDisp(const uint8_t* pbyAuthCode, uint16_t nKeyFID, uint8_t byAlgID,
                                  uint8_t byHashAlgID, const uint8_t* pbyMsg, uint32_t nMsgLen, uint8_t* pbyOut,
                                  uint32_t* pnOutLen) {
    return SignDisp(L"CAPDUCrypto::RSASignDisp", 0x58, pbyAuthCode, nKeyFID, &byHashAlgID, 1, RsaOutLen(byAlgID),
                    pbyMsg, nMsgLen, pbyOut, pnOutLen);
}

uint32_t CAPDUCrypto::SM2SignDigest(const uint8_t* pbyAuthCode, uint16_t nKeyFID, const uint8_t* pbyDigest,
                                    uint32_t nDigestLen, uint8_t* pbyOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"CAPDUCrypto::SM2SignDigest");
    CommandData<SM2_DIGEST_DATA_CAPACITY> data;
    PutKeyPrefix(data, pbyAuthCode, nKeyFID).bytes(pbyDigest, nDigestLen);
    APDU_CHECK_FITS(data);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_SECURE, 0x73, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    Le = SM2_SIGNATURE_LEN;
    uint32_t received = SM2_SIGNATURE_LEN;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(pbyOut, &received));
    if (pnOutLen) *pnOutLen = received;
    return 0;
}

uint32_t CAPDUCrypto::RSAPriKeyRaw(const uint8_t* pbyAuthCode, uint16_t nKeyFID, uint8_t byAlgID,
                                   const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"CAPDUCrypto::RSAPriKeyRaw");
    CommandData<PRIVATE_DATA_CAPACITY> data;
    PutKeyPrefix(data, pbyAuthCode, nKeyFID).bytes(pbyIn, nInLen);
    APDU_CHECK_FITS(data);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_SECURE, 0x57, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    APDU_CHECK(RsaOutLen(byAlgID) == 0, L"CHECK byAlgID", L"TRUE", APDU_E_BAD_ALGID);
    Le = RsaOutLen(byAlgID);
    uint32_t received = Le;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(pbyOut, &received));
    if (pnOutLen) *pnOutLen = received;
    return 0;
}

uint32_t CAPDUCrypto::SignWithAdminKey(const uint8_t* pbyAuthCode, uint8_t byAlg, const uint8_t* pbyData,
                                       uint32_t nDataLen, uint8_t* pbyOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"CAPDUCrypto::SignWithAdminKey");
    CommandData<PRIVATE_DATA_CAPACITY> data;
    data.bytes(pbyAuthCode, AUTH_CODE_LENGTH).bytes(pbyData, nDataLen);
    APDU_CHECK_FITS(data);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_SECURE, 0x67, 0x00, byAlg));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    APDU_CHECK(byAlg != ALG_RSA1024 && byAlg != ALG_SM2, L"CHECK byAlgID", L"TRUE", APDU_E_BAD_ALGID);
    Le = byAlg == ALG_RSA1024 ? 128 : SM2_SIGNATURE_LEN;
    uint32_t received = Le;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(pbyOut, &received));
    if (pnOutLen) *pnOutLen = received;
    return 0;
}

uint32_t CAPDUCrypto::SymEncryptInit(uint8_t byDirection, uint16_t wAlg, const uint8_t* pbyIV) {
    TRACE_NAME(L"CAPDUCrypto::SymEncryptInit");
    static const uint8_t zeroIV[SYM_IV_LEN] = {};
    static const uint8_t tail[8] = {};
    CommandData<32> data;
    data.u16(0).u16(0).u16(wAlg).u16(SYM_IV_LEN).bytes(pbyIV ? pbyIV : zeroIV, SYM_IV_LEN).bytes(tail, sizeof tail);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, byDirection == 1 ? 0xA4 : 0xAC, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUCrypto::SymEncryptUpdate(uint8_t byDirection, const uint8_t* pbyData, uint32_t nDataLen,
                                       uint8_t* pbyOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"CAPDUCrypto::SymEncryptUpdate");
    CommandData<PRIVATE_DATA_CAPACITY> data;
    data.u16(0).u16(0).bytes(pbyData, nDataLen);
    APDU_CHECK_FITS(data);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, byDirection == 1 ? 0xA8 : 0xB0, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    Le = SYM_REPLY_CAPACITY;
    uint32_t received = SYM_REPLY_CAPACITY;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(pbyOut, &received));
    if (pnOutLen) *pnOutLen = received;
    return 0;
}

uint32_t CAPDUCrypto::SymEncryptFinal(uint8_t byDirection, const uint8_t* pbyData, uint32_t nDataLen,
                                      uint8_t* pbyOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"CAPDUCrypto::SymEncryptFinal");
    CommandData<PRIVATE_DATA_CAPACITY> data;
    data.u16(0).u16(0);
    if (pbyData && nDataLen) data.bytes(pbyData, nDataLen);
    APDU_CHECK_FITS(data);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, byDirection == 1 ? 0xAA : 0xB2, 0x00, 0x00));
    APDU_STEP(L"SetAPDUData", SetAPDUData(data.data(), data.size()));
    Le = SYM_REPLY_CAPACITY;
    uint32_t received = SYM_REPLY_CAPACITY;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(pbyOut, &received));
    if (pnOutLen) *pnOutLen = received;
    return 0;
}

uint32_t CAPDUCrypto::HashInit(uint8_t byHashAlgID) {
    TRACE_NAME(L"CAPDUCrypto::HashInit");
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0xB6, 0x00, byHashAlgID));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUCrypto::HashUpdate(const uint8_t* pbyData, uint32_t nDataLen) {
    TRACE_NAME(L"CAPDUCrypto::HashUpdate");
    // More than one plain frame carries would be cut to 16 bits or refused
    // by the framing: refused here, before anything is sent.
    APDU_CHECK(nDataLen > APDU_BUFFER_LEN - APDU_SEND_HEADER_LEN, L"CHECK nDataLen", L"nDataLen > 4088",
               APDU_E_TOO_LONG);
    APDU_CHECK(nDataLen && !pbyData, L"CHECK pbyData", L"NULL == pbyData", APDU_E_TOO_LONG);
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0xB6, 0x00, 0x00));
    if (nDataLen) APDU_STEP(L"SetAPDUData", SetAPDUData(pbyData, uint16_t(nDataLen)));
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(nullptr, nullptr));
    return 0;
}

uint32_t CAPDUCrypto::HashFinal(uint8_t* pbyOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"CAPDUCrypto::HashFinal");
    APDU_STEP(L"SetAPDUHeader", SetAPDUHeader(APDU_CLA_PLAIN, 0xB6, 0x00, 0x00));
    Le = HASH_REPLY_CAPACITY;
    uint8_t digest[HASH_REPLY_CAPACITY];
    uint32_t received = HASH_REPLY_CAPACITY;
    APDU_STEP(L"SendAPDUCmd", SendAPDUCmd(digest, &received));
    if (pbyOut) std::memcpy(pbyOut, digest, received);
    if (pnOutLen) *pnOutLen = received;
    return 0;
}
