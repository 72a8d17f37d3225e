// SM3 hash of GM/T 0004.
#include "sm3.h"

#include <cstring>

namespace smcrypto {
namespace {

const uint32_t kIV[8] = {0x7380166F, 0x4914B2B9, 0x172442D7, 0xDA8A0600,
                         0xA96F30BC, 0x163138AA, 0xE38DEE4D, 0xB0FB0E4E};

inline uint32_t Rotl(uint32_t x, unsigned n) {
    n &= 31;
    return n ? (x << n) | (x >> (32 - n)) : x;
}
inline uint32_t P0(uint32_t x) { return x ^ Rotl(x, 9) ^ Rotl(x, 17); }
inline uint32_t P1(uint32_t x) { return x ^ Rotl(x, 15) ^ Rotl(x, 23); }
inline uint32_t LoadBE(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void StoreBE(uint32_t v, unsigned char* p) {
    p[0] = (unsigned char)(v >> 24);
    p[1] = (unsigned char)(v >> 16);
    p[2] = (unsigned char)(v >> 8);
    p[3] = (unsigned char)v;
}

void CountBlock(SM3_CTX* ctx) {
    if (++ctx->blocksLow == 0) ++ctx->blocksHigh;
}

}  // namespace

int SM3_Init(SM3_CTX* ctx) {
    if (!ctx) return 0;
    std::memcpy(ctx->digest, kIV, sizeof(kIV));
    ctx->blocksLow = ctx->blocksHigh = 0;
    std::memset(ctx->block, 0, sizeof(ctx->block));
    ctx->num = 0;
    return 1;
}

void SM3_Compress(SM3_CTX* ctx, const unsigned char block[SM3_BLOCK_BYTES]) {
    uint32_t w[68], w1[64];
    for (int j = 0; j < 16; ++j) w[j] = LoadBE(block + 4 * j);
    for (int j = 16; j < 68; ++j)
        w[j] = P1(w[j - 16] ^ w[j - 9] ^ Rotl(w[j - 3], 15)) ^ Rotl(w[j - 13], 7) ^ w[j - 6];
    for (int j = 0; j < 64; ++j) w1[j] = w[j] ^ w[j + 4];

    uint32_t a = ctx->digest[0], b = ctx->digest[1], c = ctx->digest[2], d = ctx->digest[3];
    uint32_t e = ctx->digest[4], f = ctx->digest[5], g = ctx->digest[6], h = ctx->digest[7];
    for (int j = 0; j < 64; ++j) {
        const uint32_t t = j < 16 ? 0x79CC4519u : 0x7A879D8Au;
        const uint32_t ss1 = Rotl(Rotl(a, 12) + e + Rotl(t, unsigned(j)), 7);
        const uint32_t ss2 = ss1 ^ Rotl(a, 12);
        const uint32_t ff = j < 16 ? (a ^ b ^ c) : ((a & b) | (a & c) | (b & c));
        const uint32_t gg = j < 16 ? (e ^ f ^ g) : ((e & f) | (~e & g));
        const uint32_t tt1 = ff + d + ss2 + w1[j];
        const uint32_t tt2 = gg + h + ss1 + w[j];
        d = c;
        c = Rotl(b, 9);
        b = a;
        a = tt1;
        h = g;
        g = Rotl(f, 19);
        f = e;
        e = P0(tt2);
    }
    ctx->digest[0] ^= a; ctx->digest[1] ^= b; ctx->digest[2] ^= c; ctx->digest[3] ^= d;
    ctx->digest[4] ^= e; ctx->digest[5] ^= f; ctx->digest[6] ^= g; ctx->digest[7] ^= h;
}

int SM3_Update(SM3_CTX* ctx, const void* data, size_t length) {
    if (!ctx) return 0;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    if (ctx->num) {
        const size_t take = length < SM3_BLOCK_BYTES - ctx->num ? length : SM3_BLOCK_BYTES - ctx->num;
        std::memcpy(ctx->block + ctx->num, p, take);
        ctx->num += unsigned(take);
        p += take;
        length -= take;
        if (ctx->num < SM3_BLOCK_BYTES) return 1;
        SM3_Compress(ctx, ctx->block);
        CountBlock(ctx);
        ctx->num = 0;
    }
    for (; length >= SM3_BLOCK_BYTES; p += SM3_BLOCK_BYTES, length -= SM3_BLOCK_BYTES) {
        SM3_Compress(ctx, p);
        CountBlock(ctx);
    }
    if (length) {
        std::memcpy(ctx->block, p, length);
        ctx->num = unsigned(length);
    }
    return 1;
}

int SM3_Final(unsigned char digest[SM3_DIGEST_BYTES], SM3_CTX* ctx) {
    if (!ctx) return 0;
    // The bit length is counted in 64 bits: blocks * 512 + buffered bytes * 8.
    const uint64_t blocks = (uint64_t(ctx->blocksHigh) << 32) | ctx->blocksLow;
    const uint64_t bits = (blocks << 9) + uint64_t(ctx->num) * 8;

    ctx->block[ctx->num++] = 0x80;
    if (ctx->num > SM3_BLOCK_BYTES - 8) {
        std::memset(ctx->block + ctx->num, 0, SM3_BLOCK_BYTES - ctx->num);
        SM3_Compress(ctx, ctx->block);
        ctx->num = 0;
    }
    std::memset(ctx->block + ctx->num, 0, SM3_BLOCK_BYTES - 8 - ctx->num);
    StoreBE(uint32_t(bits >> 32), ctx->block + 56);
    StoreBE(uint32_t(bits), ctx->block + 60);
    SM3_Compress(ctx, ctx->block);
    for (int i = 0; i < 8; ++i) StoreBE(ctx->digest[i], digest + 4 * i);
    std::memset(ctx->block, 0, sizeof(ctx->block));
    ctx->num = 0;
    return 1;
}

}  // namespace smcrypto
