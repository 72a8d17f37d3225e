// SM4 block cipher of GM/T 0002 and its CBC mode.
#include "sm4.h"

namespace smcrypto {
namespace {

const unsigned char kSbox[256] = {
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
    0x18, 0xf0, 0x7d, 0xec, 0x3a, 0xdc, 0x4d, 0x20, 0x79, 0xee, 0x5f, 0x3e, 0xd7, 0xcb, 0x39, 0x48};

const uint32_t kFK[4] = {0xA3B1BAC6, 0x56AA3350, 0x677D9197, 0xB27022DC};

inline uint32_t Rotl(uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t Tau(uint32_t a) {
    return (uint32_t(kSbox[a >> 24]) << 24) | (uint32_t(kSbox[(a >> 16) & 0xFF]) << 16) |
           (uint32_t(kSbox[(a >> 8) & 0xFF]) << 8) | uint32_t(kSbox[a & 0xFF]);
}
// Round transform T = L(tau(.)) and the key-schedule transform T' = L'(tau(.)).
inline uint32_t T(uint32_t a) {
    const uint32_t b = Tau(a);
    return b ^ Rotl(b, 2) ^ Rotl(b, 10) ^ Rotl(b, 18) ^ Rotl(b, 24);
}
inline uint32_t TKey(uint32_t a) {
    const uint32_t b = Tau(a);
    return b ^ Rotl(b, 13) ^ Rotl(b, 23);
}
// CK_i: byte j is (4i + j) * 7 mod 256.
inline uint32_t CK(int i) {
    uint32_t ck = 0;
    for (int j = 0; j < 4; ++j) ck = (ck << 8) | uint32_t(((4 * i + j) * 7) & 0xFF);
    return ck;
}

inline uint32_t LoadBE(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void StoreBE(uint32_t v, unsigned char* p) {
    p[0] = (unsigned char)(v >> 24);
    p[1] = (unsigned char)(v >> 16);
    p[2] = (unsigned char)(v >> 8);
    p[3] = (unsigned char)v;
}

}  // namespace

int SM4KeySchedule(const uint32_t key[4], uint32_t roundKeys[SM4_ROUNDS]) {
    uint32_t k[4] = {key[0] ^ kFK[0], key[1] ^ kFK[1], key[2] ^ kFK[2], key[3] ^ kFK[3]};
    for (int i = 0; i < SM4_ROUNDS; ++i) {
        const uint32_t next = k[0] ^ TKey(k[1] ^ k[2] ^ k[3] ^ CK(i));
        roundKeys[i] = next;
        k[0] = k[1];
        k[1] = k[2];
        k[2] = k[3];
        k[3] = next;
    }
    return 1;
}

int SM4ReverseRoundKeys(uint32_t roundKeys[SM4_ROUNDS]) {
    for (int i = 0; i < SM4_ROUNDS / 2; ++i) {
        const uint32_t t = roundKeys[i];
        roundKeys[i] = roundKeys[SM4_ROUNDS - 1 - i];
        roundKeys[SM4_ROUNDS - 1 - i] = t;
    }
    return 1;
}

int SM4Block(const uint32_t in[4], const uint32_t roundKeys[SM4_ROUNDS], uint32_t out[4]) {
    uint32_t x[4] = {in[0], in[1], in[2], in[3]};
    for (int i = 0; i < SM4_ROUNDS; ++i) {
        const uint32_t next = x[0] ^ T(x[1] ^ x[2] ^ x[3] ^ roundKeys[i]);
        x[0] = x[1];
        x[1] = x[2];
        x[2] = x[3];
        x[3] = next;
    }
    out[0] = x[3];
    out[1] = x[2];
    out[2] = x[1];
    out[3] = x[0];
    return 1;
}

int SM4CbcBlock(const uint32_t in[4], const uint32_t roundKeys[SM4_ROUNDS], uint32_t chain[4], uint32_t out[4],
                int encrypt) {
    if (encrypt) {
        const uint32_t mixed[4] = {in[0] ^ chain[0], in[1] ^ chain[1], in[2] ^ chain[2], in[3] ^ chain[3]};
        SM4Block(mixed, roundKeys, out);
        for (int i = 0; i < 4; ++i) chain[i] = out[i];
    } else {
        const uint32_t cipher[4] = {in[0], in[1], in[2], in[3]};  // in and out may be the same words
        uint32_t plain[4];
        SM4Block(cipher, roundKeys, plain);
        for (int i = 0; i < 4; ++i) {
            out[i] = plain[i] ^ chain[i];
            chain[i] = cipher[i];
        }
    }
    return 1;
}

int SM4CbcBytes(const unsigned char in[16], const uint32_t roundKeys[SM4_ROUNDS], unsigned char chain[16],
                unsigned char out[16], int encrypt) {
    uint32_t inWords[4], chainWords[4], outWords[4];
    for (int i = 0; i < 4; ++i) {
        inWords[i] = LoadBE(in + 4 * i);
        chainWords[i] = LoadBE(chain + 4 * i);
    }
    SM4CbcBlock(inWords, roundKeys, chainWords, outWords, encrypt);
    for (int i = 0; i < 4; ++i) {
        StoreBE(outWords[i], out + 4 * i);
        StoreBE(chainWords[i], chain + 4 * i);
    }
    return 1;
}

}  // namespace smcrypto
