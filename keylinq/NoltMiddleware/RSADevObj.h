#pragma once
// An RSA private key on the key, 1024 (algorithm 1) or 2048 bits (7).
#include "AsymKeyObject.h"

struct SOFT_RSA_PUBKEY;

class CRSADevObj : public CAsymKeyObject {
public:
    // 7 sets the modulus length to 256 bytes, 1 to 128; the id is stored always.
    void SetAlgID(uint8_t byAlgID) override;
    // The modulus length, whatever the operation.
    uint32_t GetOutLen(uint8_t byOperation, uint32_t nInLen) override;
    // The raw private-key operation on a modulus-length input; no padding is removed.
    uint32_t Decrypt(const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen) override;
    uint32_t SignDisp(uint8_t byHashAlgID, const uint8_t* pbyData, uint32_t nDataLen, uint8_t* pbyOut,
                      uint32_t* pnOutLen) override;
    // PKCS#1 v1.5 type 1 padding of data of at most modulus − 11 bytes (no
    // DigestInfo is added); a full-length block that starts 00 01 is taken
    // as already padded. Then the raw private-key operation.
    uint32_t SignDigest(const uint8_t* pbyDigest, uint32_t nDigestLen, uint8_t* pbyOut, uint32_t* pnOutLen) override;
    // On the host with the exported public key: PKCS#1 v1.5 type 2 padding,
    // or a full-length block that starts 00 02 as it is.
    uint32_t Encrypt(const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen) override;
    // Hash ids 10 MD5, 11 SHA-1, 12 SHA-256, 13 SHA-512, 14 SHA-1 and MD5.
    uint32_t Verify(uint8_t byHashAlgID, const uint8_t* pbyHash, uint32_t nHashLen, const uint8_t* pbySignature,
                    uint32_t nSignatureLen) override;

protected:
    uint32_t m_nSignlen = 128;  // modulus length in bytes

private:
    uint32_t ReadPublicKey(SOFT_RSA_PUBKEY* pKey);
};
