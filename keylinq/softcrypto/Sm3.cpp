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

// One round; the caller rotates the register names, so that the shift of
// A..D and E..H costs nothing.
#define SM3_ROUND(A, B, C, D, E, F, G, H, j, FF, GG)      \
    do {                                                  \
        const uint32_t a12 = Rotl32(A, 12);               \
        const uint32_t ss1 = Rotl32(a12 + E + TJ.t[j], 7); \
        const uint32_t ss2 = ss1 ^ a12;                   \
        D += FF(A, B, C) + ss2 + (W[j] ^ W[(j) + 4]);     \
        H += GG(E, F, G) + ss1 + W[j];                    \
        B = Rotl32(B, 9);                                 \
        F = Rotl32(F, 19);                                \
        H = P0(H);                                        \
    } while (0)
#define FF0(x, y, z) ((x) ^ (y) ^ (z))
#define FF1(x, y, z) (((x) & (y)) | ((z) & ((x) | (y))))
#define GG0(x, y, z) ((x) ^ (y) ^ (z))
#define GG1(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))

void Compress(uint32_t* V, const uint8_t* p, size_t blocks) {
    for (; blocks; --blocks, p += 64) {
        uint32_t W[68];
        for (int i = 0; i < 16; ++i) W[i] = LoadBE32(p + 4 * i);
#pragma GCC unroll 16
        for (int j = 16; j < 68; ++j)
            W[j] = P1(W[j - 16] ^ W[j - 9] ^ Rotl32(W[j - 3], 15)) ^ Rotl32(W[j - 13], 7) ^ W[j - 6];
        uint32_t A = V[0], B = V[1], C = V[2], D = V[3], E = V[4], F = V[5], G = V[6], H = V[7];
#pragma GCC unroll 16
        for (int j = 0; j < 16; j += 4) {
            SM3_ROUND(A, B, C, D, E, F, G, H, j, FF0, GG0);
            SM3_ROUND(D, A, B, C, H, E, F, G, j + 1, FF0, GG0);
            SM3_ROUND(C, D, A, B, G, H, E, F, j + 2, FF0, GG0);
            SM3_ROUND(B, C, D, A, F, G, H, E, j + 3, FF0, GG0);
        }
#pragma GCC unroll 16
        for (int j = 16; j < 64; j += 4) {
            SM3_ROUND(A, B, C, D, E, F, G, H, j, FF1, GG1);
            SM3_ROUND(D, A, B, C, H, E, F, G, j + 1, FF1, GG1);
            SM3_ROUND(C, D, A, B, G, H, E, F, j + 2, FF1, GG1);
            SM3_ROUND(B, C, D, A, F, G, H, E, j + 3, FF1, GG1);
        }
        V[0] ^= A;
        V[1] ^= B;
        V[2] ^= C;
        V[3] ^= D;
        V[4] ^= E;
        V[5] ^= F;
        V[6] ^= G;
        V[7] ^= H;
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
