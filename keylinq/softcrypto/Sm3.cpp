// SM3 (GM/T 0004). The compression works on the stack: no allocation per
// block, whatever the length of the message.
#include <cstring>

#include "HashBytes.h"
#include "SoftHash.h"

using namespace softcrypto;

namespace {

constexpr uint32_t IV[8] = {0x7380166fu, 0x4914b2b9u, 0x172442d7u, 0xda8a0600u,
                            0xa96f30bcu, 0x163138aau, 0xe38dee4du, 0xb0fb0e4eu};

// T_j rotated left by j mod 32, one constant per round.
struct RoundConstants {
    uint32_t t[64];
    constexpr RoundConstants() : t() {
        for (int j = 0; j < 64; ++j) {
            const uint32_t base = j < 16 ? 0x79cc4519u : 0x7a879d8au;
            const int n = j % 32;
            t[j] = n ? (base << n) | (base >> (32 - n)) : base;
        }
    }
};
constexpr RoundConstants TJ;

inline uint32_t P0(uint32_t x) { return x ^ Rotl32(x, 9) ^ Rotl32(x, 17); }
inline uint32_t P1(uint32_t x) { return x ^ Rotl32(x, 15) ^ Rotl32(x, 23); }

// Word j of the expansion, in a rolling window of 16: W[j] sits in slot
// j mod 16. Round j needs W[j] and W[j + 4]; after it, slot j mod 16 takes
// W[j + 16]. The rounds are spelled out with literal indices, so every
// index and constant is fixed and no separate expansion pass runs.
#define SM3_LOAD(j) W[j] = LoadBE32(p + 4 * (j))
#define SM3_EXPAND(j)                                                                                               \
    W[(j)&15] = P1(W[(j)&15] ^ W[((j) + 7) & 15] ^ Rotl32(W[((j) + 13) & 15], 15)) ^ Rotl32(W[((j) + 3) & 15], 7) ^ \
                W[((j) + 10) & 15]
// One round; the caller rotates the register names, so that the shift of
// A..D and E..H costs nothing.
#define SM3_ROUND(A, B, C, D, E, F, G, H, j, FF, GG)                      \
    do {                                                                  \
        const uint32_t a12 = Rotl32(A, 12);                               \
        const uint32_t ss1 = Rotl32(a12 + E + TJ.t[j], 7);                \
        D += FF(A, B, C) + (ss1 ^ a12) + (W[(j)&15] ^ W[((j) + 4) & 15]); \
        H += GG(E, F, G) + ss1 + W[(j)&15];                               \
        B = Rotl32(B, 9);                                                 \
        F = Rotl32(F, 19);                                                \
        H = P0(H);                                                        \
        if ((j) < 52) SM3_EXPAND(j);                                      \
    } while (0)
#define SM3_ROUND4(j, FF, GG)                           \
    SM3_ROUND(A, B, C, D, E, F, G, H, (j), FF, GG);     \
    SM3_ROUND(D, A, B, C, H, E, F, G, (j) + 1, FF, GG); \
    SM3_ROUND(C, D, A, B, G, H, E, F, (j) + 2, FF, GG); \
    SM3_ROUND(B, C, D, A, F, G, H, E, (j) + 3, FF, GG)
#define FF0(x, y, z) ((x) ^ (y) ^ (z))
#define FF1(x, y, z) (((x) & (y)) | ((z) & ((x) | (y))))
#define GG0(x, y, z) ((x) ^ (y) ^ (z))
#define GG1(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))

void Compress(uint32_t* V, const uint8_t* p, size_t blocks) {
    uint32_t A = V[0], B = V[1], C = V[2], D = V[3], E = V[4], F = V[5], G = V[6], H = V[7];
    for (; blocks; --blocks, p += 64) {
        uint32_t W[16];
        SM3_LOAD(0), SM3_LOAD(1), SM3_LOAD(2), SM3_LOAD(3), SM3_LOAD(4), SM3_LOAD(5), SM3_LOAD(6), SM3_LOAD(7);
        SM3_LOAD(8), SM3_LOAD(9), SM3_LOAD(10), SM3_LOAD(11), SM3_LOAD(12), SM3_LOAD(13), SM3_LOAD(14), SM3_LOAD(15);
        SM3_ROUND4(0, FF0, GG0);
        SM3_ROUND4(4, FF0, GG0);
        SM3_ROUND4(8, FF0, GG0);
        SM3_ROUND4(12, FF0, GG0);
        SM3_ROUND4(16, FF1, GG1);
        SM3_ROUND4(20, FF1, GG1);
        SM3_ROUND4(24, FF1, GG1);
        SM3_ROUND4(28, FF1, GG1);
        SM3_ROUND4(32, FF1, GG1);
        SM3_ROUND4(36, FF1, GG1);
        SM3_ROUND4(40, FF1, GG1);
        SM3_ROUND4(44, FF1, GG1);
        SM3_ROUND4(48, FF1, GG1);
        SM3_ROUND4(52, FF1, GG1);
        SM3_ROUND4(56, FF1, GG1);
        SM3_ROUND4(60, FF1, GG1);
        A = V[0] ^= A;
        B = V[1] ^= B;
        C = V[2] ^= C;
        D = V[3] ^= D;
        E = V[4] ^= E;
        F = V[5] ^= F;
        G = V[6] ^= G;
        H = V[7] ^= H;
    }
}

}  // namespace

int SM3Init(SM3_STATE* pState) {
    if (!pState) return 0;
    std::memset(pState->buffer, 0, sizeof(pState->buffer));
    pState->fill = 0;
    pState->count = 0;
    std::memcpy(pState->V, IV, sizeof(IV));
    return ALG_OPENSSL_OK;
}

int SM3Update(SM3_STATE* pState, const uint8_t* pData, const uint32_t* pLen) {
    if (!pData) return ALG_OPENSSL_OK;
    uint32_t len = *pLen;
    if (pState->fill + static_cast<uint64_t>(len) <= 64) {
        // A buffer that becomes exactly full waits for more data or the final step.
        std::memcpy(pState->buffer + pState->fill, pData, len);
        pState->fill += len;
        return ALG_OPENSSL_OK;
    }
    const uint32_t need = 64 - pState->fill;
    std::memcpy(pState->buffer + pState->fill, pData, need);
    Compress(pState->V, pState->buffer, 1);
    pState->count += 64;
    pData += need;
    len -= need;
    const uint32_t whole = len / 64;
    if (whole) {
        Compress(pState->V, pData, whole);
        pState->count += 64ull * whole;
        pData += 64ull * whole;
        len -= 64 * whole;
    }
    std::memcpy(pState->buffer, pData, len);
    pState->fill = len;
    return ALG_OPENSSL_OK;
}

int SM3Final(uint8_t digest[32], SM3_STATE* pState) {
    // The final area: the buffered bytes, 0x80, zeros and the 64-bit bit
    // length; two blocks when fewer than 9 bytes are left behind the data.
    uint8_t area[128] = {};
    const uint32_t fill = pState->fill;
    const size_t areaLen = fill < 56 ? 64 : 128;
    std::memcpy(area, pState->buffer, fill);
    area[fill] = 0x80;
    const uint64_t bits = (pState->count + fill) * 8;
    StoreBE64(area + areaLen - 8, bits);
    Compress(pState->V, area, areaLen / 64);
    for (int i = 0; i < 8; ++i) StoreBE32(digest + 4 * i, pState->V[i]);
    return ALG_OPENSSL_OK;
}
