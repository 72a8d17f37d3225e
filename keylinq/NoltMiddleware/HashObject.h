#pragma once
// The host digest handle: one digest context, or for hash id 14 two (SHA-1
// and MD5 of the same data, the digest being SHA-1 || MD5). After Final the
// digest stays in the object: a second Final repeats it and Update fails.
#include <cstdint>

#include "SoftCrypto.h"

#define HASHOBJ_E_NULL_POINTER 0x80070101u  // an output without its length
#define HASHOBJ_E_NO_MEMORY    0x80070102u  // the object could not be allocated
#define HASHOBJ_E_TOO_SMALL    0x80070103u  // output room below the digest length (returned)
#define HASHOBJ_E_NO_CONTEXT   0x80070113u  // Update after Final
#define HASHOBJ_E_ALGORITHM    0x80070114u  // a hash id without a digest length

class CHashObject {
public:
    ~CHashObject();
    CHashObject(const CHashObject&) = delete;
    CHashObject& operator=(const CHashObject&) = delete;

    // Ids 10 MD5, 11 SHA-1, 12 SHA-256, 13 SHA-512, 14 SHA-1 || MD5, 18 SM3.
    static uint32_t Initialize(uint8_t byHashID, CHashObject** ppHashObject);
    // The digest length of an id (0 for an unknown one).
    static uint32_t DigestLen(uint8_t byHashID);

    uint32_t Update(const uint8_t* pbyData, uint32_t nDataLen);
    // *pnDigestLen: in the room at pbyDigest (when it is not null), out the
    // digest length. A null output asks for the length.
    uint32_t Final(uint8_t* pbyDigest, uint32_t* pnDigestLen);
    // Update and Final in one; *pnDigestLen as for Final.
    uint32_t Digest(const uint8_t* pbyData, uint32_t nDataLen, uint8_t* pbyDigest, uint32_t* pnDigestLen);
    uint32_t GetDigestLen() const { return DigestLen(m_byHashID); }

private:
    CHashObject(uint8_t byHashID, HASH_CTX* pFirst, HASH_CTX* pSecond);

    HASH_CTX* m_pHashCtx;     // owned; null after Final
    HASH_CTX* m_pHashCtx2nd;  // owned; MD5 of id 14
    uint8_t m_byHashID;
    uint8_t m_abyDigest[SOFT_MAX_DIGEST_BYTES];
    uint32_t m_nDigestLen;
};
