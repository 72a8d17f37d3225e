#pragma once
// The host block and stream ciphers: DES, triple DES with two or three keys
// (FIPS 46-3, encrypt-decrypt-encrypt), SM4 (GM/T 0002) in ECB or CBC with
// padding, and RC4 from the cryptographic library. Every function returns
// ALG_OPENSSL_OK (1) on success and 0 on failure.
#include <cstdint>

#ifndef ALG_OPENSSL_OK
#define ALG_OPENSSL_OK 1
#endif

constexpr uint32_t SYM_MODE_ECB = 1;  // any other mode is CBC
constexpr uint32_t DES_ENCRYPT = 0;   // DES direction
constexpr uint32_t DES_DECRYPT = 1;

// One DES key schedule: 16 rounds of two 32-bit words holding the eight
// 6-bit round-key groups in the layout the round function reads.
struct DES_SCHEDULE {
    uint32_t k[16][2];
};

struct DES_STATE {
    DES_SCHEDULE schedule[3];  // one per DES pass; single DES uses the first
    uint8_t chain[8];          // CBC chaining value, the IV at the start
    uint32_t mode;             // 1 ECB, anything else CBC
    uint32_t direction;        // 0 encrypt, 1 decrypt
    uint8_t buffer[8];
    uint32_t fill;             // 0 to 8
    uint32_t passes;           // 1 for single DES, 3 for triple DES
};

struct SM4_STATE {
    uint32_t rk[32];    // round keys, in decryption order for a decryption context
    uint8_t chain[16];  // CBC chaining value
    uint32_t mode;      // 1 ECB, anything else CBC
    uint32_t encrypt;   // 1 encrypt, 0 decrypt
    uint8_t buffer[16];
    uint32_t fill;      // 0 to 16
};

// ---- DES family
int deskey(DES_STATE* pState, uint32_t direction, const uint8_t key[8], uint32_t mode, const uint8_t* pIV);
int des2key(DES_STATE* pState, uint32_t direction, const uint8_t key[16], uint32_t mode, const uint8_t* pIV);
int des3key(DES_STATE* pState, uint32_t direction, const uint8_t key[24], uint32_t mode, const uint8_t* pIV);
int desupdate(DES_STATE* pState, const uint8_t* pIn, uint32_t len, uint8_t* pOut, uint32_t* pOutLen);
int des3update(DES_STATE* pState, const uint8_t* pIn, uint32_t len, uint8_t* pOut, uint32_t* pOutLen);
int desfinal(DES_STATE* pState, uint8_t* pOut, uint32_t* pOutLen);
int des3final(DES_STATE* pState, uint8_t* pOut, uint32_t* pOutLen);

// ---- SM4 (the caller sets mode, encrypt flag, chaining value and fill,
// and reverses the round keys for decryption)
int sm4key(const uint8_t key[16], SM4_STATE* pState);
int sm4update(SM4_STATE* pState, const uint8_t* pIn, uint32_t len, uint8_t* pOut, uint32_t* pOutLen);
int sm4final(SM4_STATE* pState, uint8_t* pOut, uint32_t* pOutLen);
void SM4Block(const uint8_t in[16], const uint32_t rk[32], uint8_t out[16]);
void SM4CbcBlock(const uint8_t in[16], const uint32_t rk[32], uint8_t chain[16], uint8_t out[16], uint32_t encrypt);

// ---- RC4 (state: the cryptographic library's RC4_KEY)
struct rc4_key_st;
int rc4key(rc4_key_st* pKey, const uint8_t key[16]);
int rc4update(rc4_key_st* pKey, const uint8_t* pIn, uint32_t len, uint8_t* pOut, uint32_t* pOutLen);
int rc4final(rc4_key_st* pKey, uint8_t* pOut, uint32_t* pOutLen);
