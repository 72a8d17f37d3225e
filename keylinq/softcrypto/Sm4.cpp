// SM4 (GM/T 0002) in ECB and CBC, streaming with padding.
#include <cstring>

#include "BlockStream.h"
#include "HashBytes.h"
#include "SymCipher.h"

using namespace softcrypto;

namespace {

constexpr uint8_t SBOX[256] = {
    0xd6, 0x90, 0xe9, 0xfe, 0xcc, 0xe1, 0x3d, 0xb7, 0x16, 0xb6, 0x14, 0xc2, 0x28, 0xfb, 0x2c, 0x05,
    0x2b, 0x67, 0x9a, 0x76, 0x2a, 0xbe, 0x04, 0xc3, 0xaa, 0x44, 0x13, 0x26, 0x49, 0x86, 0x06, 0x99,
    0x9c, 0x42, 0x50, 0xf4, 0x91, 0xef, 0x98, 0x7a, 0x33, 0x54, 0x0b, 0x43, 0xed, 0xcf, 0xac, 0x62,
    0xe4, 0xb3, 0x1c, 0xa9, 0xc9, 0x08, 0xe8, 0x95, 0x80, 0xdf, 0x94, 0xfa, 0x75, 0x8f, 0x3f, 0xa6,
    0x47, 0x07, 0xa7, 0xfc, 0xf3, 0x73, 0x17, 0xba, 0x83, 0x59, 0x3c, 0x19, 0xe6, 0x85, 0x4f, 0xa8,
    0x68, 0x6b, 0x81, 0xb2, 0x71, 0x64, 0xda, 0x8b, 0xf8, 0xeb, 0x0f, 0x4b, 0x70, 0x56, 0x9d, 0x35,
    0x1e, 0x24, 0x0e, 0x5e, 0x63, 0x58, 0xd1, 0xa2, 0x25, 0x22, 0x7c, 0x3b, 0x01, 0x21, 0x78, 0x87,
    0xd4, 0x00, 0x46, 0x57, 0x9f, 0xd3, 0x27, 0x52, 0x4c, 0x36, 0x02, 0xe7, 0xa0, 0xc4, 0xc8, 0x9e,
    0xea, 0xbf, 0x8a, 0xd2, 0x40, 0xc7, 0x38, 0xb5, 0xa3, 0xf7, 0xf2, 0xce, 0xf9, 0x61, 0x15, 0xa1,
    0xe0, 0xae, 0x5d, 0xa4, 0x9b, 0x34, 0x1a, 0x55, 0xad, 0x93, 0x32, 0x30, 0xf5, 0x8c, 0xb1, 0xe3,
    0x1d, 0xf6, 0xe2, 0x2e, 0x82, 0x66, 0xca, 0x60, 0xc0, 0x29, 0x23, 0xab, 0x0d, 0x53, 0x4e, 0x6f,
    0xd5, 0xdb, 0x37, 0x45, 0xde, 0xfd, 0x8e, 0x2f, 0x03, 0xff, 0x6a, 0x72, 0x6d, 0x6c, 0x5b, 0x51,
    0x8d, 0x1b, 0xaf, 0x92, 0xbb, 0xdd, 0xbc, 0x7f, 0x11, 0xd9, 0x5c, 0x41, 0x1f, 0x10, 0x5a, 0xd8,
    0x0a, 0xc1, 0x31, 0x88, 0xa5, 0xcd, 0x7b, 0xbd, 0x2d, 0x74, 0xd0, 0x12, 0xb8, 0xe5, 0xb4, 0xb0,
    0x89, 0x69, 0x97, 0x4a, 0x0c, 0x96, 0x77, 0x7e, 0x65, 0xb9, 0xf1, 0x09, 0xc5, 0x6e, 0xc6, 0x84,
    0x18, 0xf0, 0x7d, 0xec, 0x3a, 0xdc, 0x4d, 0x20, 0x79, 0xee, 0x5f, 0x3e, 0xd7, 0xcb, 0x39, 0x48,
};

constexpr uint32_t FK[4] = {0xa3b1bac6u, 0x56aa3350u, 0x677d9197u, 0xb27022dcu};

constexpr uint32_t RotlC(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// The round transformation T = L(tau(x)) as four byte-indexed tables.
struct TTables {
    uint32_t t[4][256];
    constexpr TTables() : t() {
        for (int v = 0; v < 256; ++v) {
            const uint32_t b = static_cast<uint32_t>(SBOX[v]) << 24;
            const uint32_t l = b ^ RotlC(b, 2) ^ RotlC(b, 10) ^ RotlC(b, 18) ^ RotlC(b, 24);
            t[0][v] = l;
            t[1][v] = RotlC(l, 24);  // byte 1: input shifted right by 8
            t[2][v] = RotlC(l, 16);
            t[3][v] = RotlC(l, 8);
        }
    }
};
constexpr TTables TT;

inline uint32_t T(uint32_t x) {
    return TT.t[0][x >> 24] ^ TT.t[1][(x >> 16) & 0xff] ^ TT.t[2][(x >> 8) & 0xff] ^ TT.t[3][x & 0xff];
}

// The key schedule's transformation T' (L' = B ^ B<<<13 ^ B<<<23).
inline uint32_t TKey(uint32_t x) {
    const uint32_t b = (static_cast<uint32_t>(SBOX[x >> 24]) << 24) | (static_cast<uint32_t>(SBOX[(x >> 16) & 0xff]) << 16) |
                       (static_cast<uint32_t>(SBOX[(x >> 8) & 0xff]) << 8) | SBOX[x & 0xff];
    return b ^ Rotl32(b, 13) ^ Rotl32(b, 23);
}

inline void Rounds(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3, const uint32_t* rk) {
    for (int i = 0; i < 32; i += 4) {
        x0 ^= T(x1 ^ x2 ^ x3 ^ rk[i]);
        x1 ^= T(x2 ^ x3 ^ x0 ^ rk[i + 1]);
        x2 ^= T(x3 ^ x0 ^ x1 ^ rk[i + 2]);
        x3 ^= T(x0 ^ x1 ^ x2 ^ rk[i + 3]);
    }
}

void ProcessBlocks(SM4_STATE* st, const uint8_t* in, uint8_t* out, uint32_t blocks) {
    if (st->mode == SYM_MODE_ECB) {
        for (; blocks; --blocks, in += 16, out += 16) SM4Block(in, st->rk, out);
        return;
    }
    for (; blocks; --blocks, in += 16, out += 16) SM4CbcBlock(in, st->rk, st->chain, out, st->encrypt);
}

}  // namespace

void SM4Block(const uint8_t in[16], const uint32_t rk[32], uint8_t out[16]) {
    uint32_t x0 = LoadBE32(in), x1 = LoadBE32(in + 4), x2 = LoadBE32(in + 8), x3 = LoadBE32(in + 12);
    Rounds(x0, x1, x2, x3, rk);
    StoreBE32(out, x3);  // the reverse transformation R
    StoreBE32(out + 4, x2);
    StoreBE32(out + 8, x1);
    StoreBE32(out + 12, x0);
}

void SM4CbcBlock(const uint8_t in[16], const uint32_t rk[32], uint8_t chain[16], uint8_t out[16], uint32_t encrypt) {
    uint8_t block[16];
    if (encrypt) {
        for (int i = 0; i < 16; ++i) block[i] = in[i] ^ chain[i];
        SM4Block(block, rk, out);
        std::memcpy(chain, out, 16);
    } else {
        uint8_t saved[16];
        std::memcpy(saved, in, 16);  // in and out may coincide
        SM4Block(saved, rk, block);
        for (int i = 0; i < 16; ++i) out[i] = block[i] ^ chain[i];
        std::memcpy(chain, saved, 16);
    }
}

int sm4key(const uint8_t key[16], SM4_STATE* st) {
    if (!key || !st) return 0;
    uint32_t k[4];
    for (int i = 0; i < 4; ++i) k[i] = LoadBE32(key + 4 * i) ^ FK[i];
    for (int i = 0; i < 32; ++i) {
        uint32_t ck = 0;
        for (int j = 0; j < 4; ++j) ck = (ck << 8) | static_cast<uint32_t>(((4 * i + j) * 7) & 0xff);
        const uint32_t next = k[0] ^ TKey(k[1] ^ k[2] ^ k[3] ^ ck);
        st->rk[i] = next;
        k[0] = k[1];
        k[1] = k[2];
        k[2] = k[3];
        k[3] = next;
    }
    return ALG_OPENSSL_OK;
}

int sm4update(SM4_STATE* st, const uint8_t* in, uint32_t len, uint8_t* out, uint32_t* pOutLen) {
    if (!st || !in || !pOutLen) return 0;
    StreamUpdate<16>(st->buffer, st->fill, st->encrypt == 0, in, len, out, pOutLen,
                     [st](const uint8_t* i, uint8_t* o, uint32_t n) { ProcessBlocks(st, i, o, n); });
    return ALG_OPENSSL_OK;
}

int sm4final(SM4_STATE* st, uint8_t* out, uint32_t* pOutLen) {
    if (!st || !out || !pOutLen) return 0;
    const bool ok = StreamFinal<16>(st->buffer, st->fill, st->encrypt == 0, out, pOutLen,
                                    [st](const uint8_t* i, uint8_t* o, uint32_t n) { ProcessBlocks(st, i, o, n); });
    if (!ok) *pOutLen = 0;
    return ok ? ALG_OPENSSL_OK : 0;
}
