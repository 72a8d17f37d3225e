#pragma once
// The GM/T 0016 key blobs as the container and device objects read and
// fill them: fixed byte offsets, 32-bit little-endian integers, big-endian
// coordinates and moduli (a 256-bit value sits in the last 32 bytes of its
// 64-byte field).
#include <cstdint>

constexpr uint32_t RSA_PUBLIC_BLOB_LEN = 268;
constexpr uint32_t ECC_PUBLIC_BLOB_LEN = 132;
constexpr uint32_t ENVELOPED_BLOB_LEN = 373;
constexpr uint32_t SGD_RSA_ALG = 0x00010000;
constexpr uint32_t ENVELOPED_VERSION_BARE = 0xB1D7;
// The SM2 key-pair import record is built in this many bytes.
constexpr uint32_t SM2_IMPORT_RECORD_MAX = 256;
// An SM2 ciphertext for the key: 0x04, x1, y1, then HASH and the cipher.
constexpr uint32_t SM2_CIPHER_OVERHEAD = 97;

inline void StoreLE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
inline uint32_t LoadLE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void StoreBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// Fills a whole RSAPUBLICKEYBLOB (RSA ids, BitLen nRsaBits) or
// ECCPUBLICKEYBLOB (SM2) from the operator's public-key record; bytes the
// key does not reach are zero. SAR_KEYINFOTYPEERR for another algorithm.
uint32_t SKFFillPublicKeyBlob(uint8_t byAlgID, const uint8_t* pRecord, uint32_t nRsaBits, uint8_t* pBlob);
// The record of the key's SM2 key-pair import from an ENVELOPEDKEYBLOB (the
// bare ciphertext C1 C2 C3 for version 0xB1D7, the enveloped record
// otherwise) into pRecord (SM2_IMPORT_RECORD_MAX bytes). A blob whose
// sizes exceed their fields or the record: SAR_INDATALENERR, nothing read
// past the fields that its lengths allow.
uint32_t SKFBuildSM2ImportRecord(const uint8_t* pBlob, uint32_t ulSymAlgId, uint8_t* pRecord, uint32_t* pnLen);
// The C1 C3 C2 ciphertext of an ECCCIPHERBLOB (CipherLen + 97 bytes).
void SKFBuildSM2Cipher(const uint8_t* pCipherBlob, uint32_t nCipherLen, uint8_t* pOut);
