#pragma once
// An SM2 private key on the key.
#include "AsymKeyObject.h"

class CSM2DevObj : public CAsymKeyObject {
public:
    // Encrypt: input + 97; decrypt: input − 97 (0 below 98 bytes); sign: 64.
    uint32_t GetOutLen(uint8_t byOperation, uint32_t nInLen) override;
    // The ciphertext in the key's form; the plaintext is input − 97 bytes.
    uint32_t Decrypt(const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen) override;
    // The key hashes (hash id 18, SM3, with the default user id) and signs.
    uint32_t SignDisp(uint8_t byHashAlgID, const uint8_t* pbyData, uint32_t nDataLen, uint8_t* pbyOut,
                      uint32_t* pnOutLen) override;
    // r || s of a 32-byte digest.
    uint32_t SignDigest(const uint8_t* pbyDigest, uint32_t nDigestLen, uint8_t* pbyOut, uint32_t* pnOutLen) override;
    // On the host: 04 || x1 || y1 || C2 || C3 under the key's public key.
    uint32_t Encrypt(const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen) override;
    // On the host: a 64-byte r || s over a 32-byte digest; the hash id is not used.
    uint32_t Verify(uint8_t byHashAlgID, const uint8_t* pbyHash, uint32_t nHashLen, const uint8_t* pbySignature,
                    uint32_t nSignatureLen) override;

private:
    uint32_t ReadPublicKey(uint8_t pubKey[64]);
};
