// MD5 (RFC 1321).
#include <new>

#include "HashBytes.h"
#include "HashStream.h"
#include "SoftHash.h"

using namespace softcrypto;

namespace {

constexpr uint32_t T[64] = {
    0xd76aa478u, 0xe8c7b756u, 0x242070dbu, 0xc1bdceeeu, 0xf57c0fafu, 0x4787c62au, 0xa8304613u, 0xfd469501u,
    0x698098d8u, 0x8b44f7afu, 0xffff5bb1u, 0x895cd7beu, 0x6b901122u, 0xfd987193u, 0xa679438eu, 0x49b40821u,
    0xf61e2562u, 0xc040b340u, 0x265e5a51u, 0xe9b6c7aau, 0xd62f105du, 0x02441453u, 0xd8a1e681u, 0xe7d3fbc8u,
    0x21e1cde6u, 0xc33707d6u, 0xf4d50d87u, 0x455a14edu, 0xa9e3e905u, 0xfcefa3f8u, 0x676f02d9u, 0x8d2a4c8au,
    0xfffa3942u, 0x8771f681u, 0x6d9d6122u, 0xfde5380cu, 0xa4beea44u, 0x4bdecfa9u, 0xf6bb4b60u, 0xbebfbc70u,
    0x289b7ec6u, 0xeaa127fau, 0xd4ef3085u, 0x04881d05u, 0xd9d4d039u, 0xe6db99e5u, 0x1fa27cf8u, 0xc4ac5665u,
    0xf4292244u, 0x432aff97u, 0xab9423a7u, 0xfc93a039u, 0x655b59c3u, 0x8f0ccc92u, 0xffeff47du, 0x85845dd1u,
    0x6fa87e4fu, 0xfe2ce6e0u, 0xa3014314u, 0x4e0811a1u, 0xf7537e82u, 0xbd3af235u, 0x2ad7d2bbu, 0xeb86d391u,
};

#define MD5_STEP(f, a, b, c, d, k, s, i) \
    a += f(b, c, d) + X[k] + T[i];       \
    a = b + Rotl32(a, s)
#define F1(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define F2(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define F3(x, y, z) ((x) ^ (y) ^ (z))
#define F4(x, y, z) ((y) ^ ((x) | ~(z)))

void Compress(uint32_t* st, const uint8_t* p, size_t blocks) {
    uint32_t a = st[0], b = st[1], c = st[2], d = st[3];
    for (; blocks; --blocks, p += 64) {
        uint32_t X[16];
        for (int i = 0; i < 16; ++i) X[i] = LoadLE32(p + 4 * i);
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;
        for (int i = 0; i < 16; i += 4) {
            MD5_STEP(F1, a, b, c, d, i, 7, i);
            MD5_STEP(F1, d, a, b, c, i + 1, 12, i + 1);
            MD5_STEP(F1, c, d, a, b, i + 2, 17, i + 2);
            MD5_STEP(F1, b, c, d, a, i + 3, 22, i + 3);
        }
        for (int i = 16; i < 32; i += 4) {
            MD5_STEP(F2, a, b, c, d, (5 * i + 1) & 15, 5, i);
            MD5_STEP(F2, d, a, b, c, (5 * i + 6) & 15, 9, i + 1);
            MD5_STEP(F2, c, d, a, b, (5 * i + 11) & 15, 14, i + 2);
            MD5_STEP(F2, b, c, d, a, (5 * i + 16) & 15, 20, i + 3);
        }
        for (int i = 32; i < 48; i += 4) {
            MD5_STEP(F3, a, b, c, d, (3 * i + 5) & 15, 4, i);
            MD5_STEP(F3, d, a, b, c, (3 * i + 8) & 15, 11, i + 1);
            MD5_STEP(F3, c, d, a, b, (3 * i + 11) & 15, 16, i + 2);
            MD5_STEP(F3, b, c, d, a, (3 * i + 14) & 15, 23, i + 3);
        }
        for (int i = 48; i < 64; i += 4) {
            MD5_STEP(F4, a, b, c, d, (7 * i) & 15, 6, i);
            MD5_STEP(F4, d, a, b, c, (7 * i + 7) & 15, 10, i + 1);
            MD5_STEP(F4, c, d, a, b, (7 * i + 14) & 15, 15, i + 2);
            MD5_STEP(F4, b, c, d, a, (7 * i + 21) & 15, 21, i + 3);
        }
        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    st[0] = a;
    st[1] = b;
    st[2] = c;
    st[3] = d;
}

}  // namespace

void MD5InitState(MD5_STATE* pState) {
    pState->state[0] = 0x67452301u;
    pState->state[1] = 0xefcdab89u;
    pState->state[2] = 0x98badcfeu;
    pState->state[3] = 0x10325476u;
    pState->count[0] = pState->count[1] = 0;
}

int MD5Init(MD5_STATE** ppState) {
    if (!ppState) return 0;
    MD5_STATE* state = new (std::nothrow) MD5_STATE();
    if (!state) return 0;
    MD5InitState(state);
    *ppState = state;
    return ALG_OPENSSL_OK;
}

int MD5Update(MD5_STATE* pState, const uint8_t* pData, uint32_t len) {
    if (len == 0) return ALG_OPENSSL_OK;
    uint32_t num = (pState->count[0] >> 3) & 63;
    const uint32_t low = pState->count[0] + (len << 3);
    if (low < pState->count[0]) ++pState->count[1];
    pState->count[1] += len >> 29;
    pState->count[0] = low;
    FeedBlocks<64>(pState->buffer, num, pData, len,
                   [pState](const uint8_t* p, size_t n) { Compress(pState->state, p, n); });
    return ALG_OPENSSL_OK;
}

int MD5Final(MD5_STATE* pState, uint8_t digest[16]) {
    uint8_t bits[8];
    StoreLE32(bits, pState->count[0]);
    StoreLE32(bits + 4, pState->count[1]);
    PadAndFinish<64, 8>(pState->buffer, (pState->count[0] >> 3) & 63, bits,
                        [pState](const uint8_t* p, size_t n) { Compress(pState->state, p, n); });
    for (int i = 0; i < 4; ++i) StoreLE32(digest + 4 * i, pState->state[i]);
    // The final step owns the state from here: wipe and free it.
    volatile uint8_t* wipe = reinterpret_cast<volatile uint8_t*>(pState);
    for (size_t i = 0; i < sizeof(MD5_STATE); ++i) wipe[i] = 0;
    delete pState;
    return ALG_OPENSSL_OK;
}

int MD5Digest(const uint8_t* pData, uint32_t len, uint8_t digest[16]) {
    MD5_STATE* state = nullptr;
    if (MD5Init(&state) != ALG_OPENSSL_OK) return 0;
    MD5Update(state, pData, len);
    return MD5Final(state, digest);
}
