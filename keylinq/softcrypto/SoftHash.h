#pragma once
// The host digests: MD5 (RFC 1321), SHA-1, SHA-256, SHA-512 (FIPS 180-4)
// and SM3 (GM/T 0004). Every function returns ALG_OPENSSL_OK (1) on success
// and 0 on failure. The states are plain records; the init steps of MD5 and
// the SHA family allocate them, SM3 works on a state that the caller holds.
#include <cstdint>

#ifndef ALG_OPENSSL_OK
#define ALG_OPENSSL_OK 1
#endif

struct MD5_STATE {
    uint32_t state[4];   // chaining words A to D
    uint32_t count[2];   // bit count, low word then high word
    uint8_t buffer[64];
};

struct SHA1_STATE {
    uint32_t h[5];
    uint32_t Nl, Nh;     // bit count, low and high word
    uint8_t data[64];
    uint32_t num;        // bytes in data
};

struct SHA256_STATE {
    uint32_t h[8];
    uint32_t Nl, Nh;
    uint8_t data[64];
    uint32_t num;
    uint32_t md_len;     // 32
};

struct SHA512_STATE {
    uint64_t h[8];
    uint64_t Nl, Nh;     // 128-bit bit count
    uint8_t data[128];
    uint32_t num;
    uint32_t md_len;     // 64
};

struct SM3_STATE {
    uint8_t buffer[64];
    uint32_t fill;       // 0 to 64; a full buffer waits for the next update or the final step
    uint32_t V[8];
    uint64_t count;      // bytes already compressed (64 bits: no 4 GiB limit)
};

constexpr uint32_t MD5_DIGEST_BYTES = 16;
constexpr uint32_t SHA1_DIGEST_BYTES = 20;
constexpr uint32_t SHA256_DIGEST_BYTES = 32;
constexpr uint32_t SHA512_DIGEST_BYTES = 64;
constexpr uint32_t SM3_DIGEST_BYTES = 32;

// MD5: the final step writes the digest and frees the state; the state's
// holder must not free it again.
int MD5Init(MD5_STATE** ppState);
int MD5Update(MD5_STATE* pState, const uint8_t* pData, uint32_t len);
int MD5Final(MD5_STATE* pState, uint8_t digest[16]);
int MD5Digest(const uint8_t* pData, uint32_t len, uint8_t digest[16]);
// Sets the initial values and a zero count in a state that the caller holds.
void MD5InitState(MD5_STATE* pState);

// SHA family: the final step leaves the state allocated (free with delete).
int SHA1Init(SHA1_STATE** ppState);
int SHA1Update(SHA1_STATE* pState, const uint8_t* pData, uint32_t len);
int SHA1Final(uint8_t digest[20], SHA1_STATE* pState);
int SHA256Init(SHA256_STATE** ppState);
int SHA256Update(SHA256_STATE* pState, const uint8_t* pData, uint32_t len);
int SHA256Final(uint8_t digest[32], SHA256_STATE* pState);
int SHA512Init(SHA512_STATE** ppState);
int SHA512Update(SHA512_STATE* pState, const uint8_t* pData, uint32_t len);
int SHA512Final(uint8_t digest[64], SHA512_STATE* pState);

// SM3: a null data pointer is an update that does nothing.
int SM3Init(SM3_STATE* pState);
int SM3Update(SM3_STATE* pState, const uint8_t* pData, const uint32_t* pLen);
int SM3Final(uint8_t digest[32], SM3_STATE* pState);
