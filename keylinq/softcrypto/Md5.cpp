// MD5 (RFC 1321).
#include <cstring>
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

// One step; the message word is read straight from the block (little-endian
// loads, no copy). The word, the constant and the part of f that does not
// need b are added first: b is the value that the previous step has just
// made. The 64 steps are spelled out, so every index, shift and constant is
// fixed.
#define MD5_STEP(f, a, b, c, d, k, s, i) \
    a += LoadLE32(p + 4 * (k)) + T[i];   \
    a += f(b, c, d);                     \
    a = b + Rotl32(a, s)
#define F1(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
// G as a sum: its two terms never share a bit, and y & ~z does not wait for x.
#define F2(x, y, z) (((y) & ~(z)) + ((x) & (z)))
#define F3(x, y, z) ((x) ^ ((y) ^ (z)))
#define F4(x, y, z) ((y) ^ ((x) | ~(z)))

void Compress(uint32_t* st, const uint8_t* p, size_t blocks) {
    uint32_t a = st[0], b = st[1], c = st[2], d = st[3];
    for (; blocks; --blocks, p += 64) {
        MD5_STEP(F1, a, b, c, d, 0, 7, 0);
        MD5_STEP(F1, d, a, b, c, 1, 12, 1);
        MD5_STEP(F1, c, d, a, b, 2, 17, 2);
        MD5_STEP(F1, b, c, d, a, 3, 22, 3);
        MD5_STEP(F1, a, b, c, d, 4, 7, 4);
        MD5_STEP(F1, d, a, b, c, 5, 12, 5);
        MD5_STEP(F1, c, d, a, b, 6, 17, 6);
        MD5_STEP(F1, b, c, d, a, 7, 22, 7);
        MD5_STEP(F1, a, b, c, d, 8, 7, 8);
        MD5_STEP(F1, d, a, b, c, 9, 12, 9);
        MD5_STEP(F1, c, d, a, b, 10, 17, 10);
        MD5_STEP(F1, b, c, d, a, 11, 22, 11);
        MD5_STEP(F1, a, b, c, d, 12, 7, 12);
        MD5_STEP(F1, d, a, b, c, 13, 12, 13);
        MD5_STEP(F1, c, d, a, b, 14, 17, 14);
        MD5_STEP(F1, b, c, d, a, 15, 22, 15);

        MD5_STEP(F2, a, b, c, d, 1, 5, 16);
        MD5_STEP(F2, d, a, b, c, 6, 9, 17);
        MD5_STEP(F2, c, d, a, b, 11, 14, 18);
        MD5_STEP(F2, b, c, d, a, 0, 20, 19);
        MD5_STEP(F2, a, b, c, d, 5, 5, 20);
        MD5_STEP(F2, d, a, b, c, 10, 9, 21);
        MD5_STEP(F2, c, d, a, b, 15, 14, 22);
        MD5_STEP(F2, b, c, d, a, 4, 20, 23);
        MD5_STEP(F2, a, b, c, d, 9, 5, 24);
        MD5_STEP(F2, d, a, b, c, 14, 9, 25);
        MD5_STEP(F2, c, d, a, b, 3, 14, 26);
        MD5_STEP(F2, b, c, d, a, 8, 20, 27);
        MD5_STEP(F2, a, b, c, d, 13, 5, 28);
        MD5_STEP(F2, d, a, b, c, 2, 9, 29);
        MD5_STEP(F2, c, d, a, b, 7, 14, 30);
        MD5_STEP(F2, b, c, d, a, 12, 20, 31);

        MD5_STEP(F3, a, b, c, d, 5, 4, 32);
        MD5_STEP(F3, d, a, b, c, 8, 11, 33);
        MD5_STEP(F3, c, d, a, b, 11, 16, 34);
        MD5_STEP(F3, b, c, d, a, 14, 23, 35);
        MD5_STEP(F3, a, b, c, d, 1, 4, 36);
        MD5_STEP(F3, d, a, b, c, 4, 11, 37);
        MD5_STEP(F3, c, d, a, b, 7, 16, 38);
        MD5_STEP(F3, b, c, d, a, 10, 23, 39);
        MD5_STEP(F3, a, b, c, d, 13, 4, 40);
        MD5_STEP(F3, d, a, b, c, 0, 11, 41);
        MD5_STEP(F3, c, d, a, b, 3, 16, 42);
        MD5_STEP(F3, b, c, d, a, 6, 23, 43);
        MD5_STEP(F3, a, b, c, d, 9, 4, 44);
        MD5_STEP(F3, d, a, b, c, 12, 11, 45);
        MD5_STEP(F3, c, d, a, b, 15, 16, 46);
        MD5_STEP(F3, b, c, d, a, 2, 23, 47);

        MD5_STEP(F4, a, b, c, d, 0, 6, 48);
        MD5_STEP(F4, d, a, b, c, 7, 10, 49);
        MD5_STEP(F4, c, d, a, b, 14, 15, 50);
        MD5_STEP(F4, b, c, d, a, 5, 21, 51);
        MD5_STEP(F4, a, b, c, d, 12, 6, 52);
        MD5_STEP(F4, d, a, b, c, 3, 10, 53);
        MD5_STEP(F4, c, d, a, b, 10, 15, 54);
        MD5_STEP(F4, b, c, d, a, 1, 21, 55);
        MD5_STEP(F4, a, b, c, d, 8, 6, 56);
        MD5_STEP(F4, d, a, b, c, 15, 10, 57);
        MD5_STEP(F4, c, d, a, b, 6, 15, 58);
        MD5_STEP(F4, b, c, d, a, 13, 21, 59);
        MD5_STEP(F4, a, b, c, d, 4, 6, 60);
        MD5_STEP(F4, d, a, b, c, 11, 10, 61);
        MD5_STEP(F4, c, d, a, b, 2, 15, 62);
        MD5_STEP(F4, b, c, d, a, 9, 21, 63);
        a = st[0] += a;
        b = st[1] += b;
        c = st[2] += c;
        d = st[3] += d;
    }
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
    // The final step owns the state from here: wipe and free it. The empty
    // asm that takes the pointer keeps the compiler from dropping the wipe
    // of memory that is freed next.
    std::memset(pState, 0, sizeof(MD5_STATE));
    __asm__ __volatile__("" : : "r"(pState) : "memory");
    delete pState;
    return ALG_OPENSSL_OK;
}

int MD5Digest(const uint8_t* pData, uint32_t len, uint8_t digest[16]) {
    MD5_STATE* state = nullptr;
    if (MD5Init(&state) != ALG_OPENSSL_OK) return 0;
    MD5Update(state, pData, len);
    return MD5Final(state, digest);
}
