#pragma once
// The cryptographic commands of the key: SM2 and RSA private-key operations
// on a container's key file (decryption, signature of a digest, the
// multi-step signature of a message that the key hashes itself, the raw RSA
// operation), the administrator-key signature, the symmetric cipher on the
// session key held by the key, and a hash computed by the key.
#include <cstdint>

#include "APDU.h"

constexpr uint32_t SM2_SIGNATURE_LEN = 64;
constexpr uint32_t SM2_CIPHER_OVERHEAD = 97;     // 04 || x1 || y1 || C3 around the plaintext
constexpr uint32_t SIGN_MESSAGE_PIECE = 256;     // message bytes per step-1 command
constexpr uint32_t SIGN_POLL_INTERVAL_MS = 100;  // pause before each try of the last step
constexpr uint32_t SIGN_POLL_LIMIT_MS = 30000;   // how long the last step waits for the button
#define APDU_E_BUTTON_TIMEOUT 0x8000F323u        // the button was not pressed in time

// Where the multi-step signatures take the time and wait between two tries
// of their last step (the system's tick count and Sleep by default).
struct APDUPollClock {
    uint32_t (*now)();            // milliseconds, any origin
    void (*pause)(uint32_t ms);
};

class CAPDUCrypto : public CAPDU {
public:
    using CAPDU::CAPDU;
    ~CAPDUCrypto() override = default;

    // Replaces the clock of the multi-step signatures (null restores the
    // system's) and returns the previous one. For tests.
    static const APDUPollClock* SetPollClock(const APDUPollClock* clock);

    // Ciphertext 04 || x1 || y1 || C3 || C2 of 97 to 300 bytes; the
    // plaintext (length − 97 bytes) to pbyOut, its length to *pnOutLen.
    uint32_t SM2Decrypt(const uint8_t* pbyAuthCode, uint16_t nKeyFID, const uint8_t* pbyIn, uint32_t nInLen,
                        uint8_t* pbyOut, uint32_t* pnOutLen);
    // The key hashes the default user id and the message and signs: r || s.
    uint32_t SM2SignDisp(const uint8_t* pbyAuthCode, uint16_t nKeyFID, const uint8_t* pbyMsg, uint32_t nMsgLen,
                         uint8_t* pbyOut, uint32_t* pnOutLen);
    // Signature r || s of a digest (at most 44 bytes).
    uint32_t SM2SignDigest(const uint8_t* pbyAuthCode, uint16_t nKeyFID, const uint8_t* pbyDigest,
                           uint32_t nDigestLen, uint8_t* pbyOut, uint32_t* pnOutLen);
    // The raw private-key operation (byAlgID 1: 128 bytes out, 7: 256).
    uint32_t RSAPriKeyRaw(const uint8_t* pbyAuthCode, uint16_t nKeyFID, uint8_t byAlgID, const uint8_t* pbyIn,
                          uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen);
    uint32_t RSASignDisp(const uint8_t* pbyAuthCode, uint16_t nKeyFID, uint8_t byAlgID, uint8_t byHashAlgID,
                         const uint8_t* pbyMsg, uint32_t nMsgLen, uint8_t* pbyOut, uint32_t* pnOutLen);
    // byAlg 1 (RSA, 128 bytes out) or 17 (SM2, 64 bytes out).
    uint32_t SignWithAdminKey(const uint8_t* pbyAuthCode, uint8_t byAlg, const uint8_t* pbyData, uint32_t nDataLen,
                              uint8_t* pbyOut, uint32_t* pnOutLen);

    // Cipher on the key: byDirection 1 encrypts, any other value decrypts;
    // wAlg is the algorithm in the high byte and the mode in the low byte.
    uint32_t SymEncryptInit(uint8_t byDirection, uint16_t wAlg, const uint8_t* pbyIV);
    // At most 316 bytes per piece; at most 128 bytes come back.
    uint32_t SymEncryptUpdate(uint8_t byDirection, const uint8_t* pbyData, uint32_t nDataLen, uint8_t* pbyOut,
                              uint32_t* pnOutLen);
    uint32_t SymEncryptFinal(uint8_t byDirection, const uint8_t* pbyData, uint32_t nDataLen, uint8_t* pbyOut,
                             uint32_t* pnOutLen);

    // Hash on the key. An update carries at most what one frame holds.
    uint32_t HashInit(uint8_t byHashAlgID);
    uint32_t HashUpdate(const uint8_t* pbyData, uint32_t nDataLen);
    uint32_t HashFinal(uint8_t* pbyOut, uint32_t* pnOutLen);

private:
    // The four steps of SM2SignDisp (INS 0x74) and RSASignDisp (0x58).
    // Step 0 carries pbyStep0 behind the prefix; the last step asks for
    // nLastLe bytes (0: an unknown algorithm, refused before that step).
    uint32_t SignDisp(const wchar_t* method, uint8_t ins, const uint8_t* pbyAuthCode, uint16_t nKeyFID,
                      const uint8_t* pbyStep0, uint32_t nStep0Len, uint16_t nLastLe, const uint8_t* pbyMsg,
                      uint32_t nMsgLen, uint8_t* pbyOut, uint32_t* pnOutLen);
};
