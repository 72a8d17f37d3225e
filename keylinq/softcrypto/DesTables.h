#pragma once
// DES tables of FIPS 46-3 and the lookup tables derived from them at
// compile time (internal). The round function works on the two halves
// rotated left by one bit, so that every S-box input is six adjacent bits.
#include <cstdint>

namespace softcrypto {
namespace des {

constexpr uint8_t IP[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                            62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                            57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                            61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr uint8_t P[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                           2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr uint8_t PC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                             10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                             63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                             14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr uint8_t PC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                             26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                             51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr uint8_t SHIFTS[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr uint8_t S[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5,  3,  8,  4,  1,  14, 8,  13, 6, 2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2,  4,  9,  1,  7,  5,  11, 3,  14, 10, 0, 6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7,  2,  13, 12, 0,  5,  10, 3,  13, 4,  7,  15, 2,
     8,  14, 12, 0,  1,  10, 6,  9,  11, 5,  0,  14, 7,  11, 10, 4,  13, 1,  5,  8,  12, 6,
     9,  3,  2,  15, 13, 8,  10, 1,  3,  15, 4,  2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6,  3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,  13, 7,  0,  9,  3,  4,
     6,  10, 2,  8,  5,  14, 12, 11, 15, 1,  13, 6,  4,  9,  8,  15, 3,  0,  11, 1,  2,  12,
     5,  10, 14, 7,  1,  10, 13, 0,  6,  9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3,  0,  6,  9,  10, 1,  2,  8,  5,  11, 12, 4,  15, 13, 8,  11, 5,  6,  15,
     0,  3,  4,  7,  2,  12, 1,  10, 14, 9,  10, 6,  9,  0,  12, 11, 7,  13, 15, 1,  3,  14,
     5,  2,  8,  4,  3,  15, 0,  6,  10, 1,  13, 8,  9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5,  0,  15, 10, 3,  9,  8,  6,  4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0,  14, 11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11, 10, 15, 4,  2,  7,  12,
     9,  5,  6,  1,  13, 14, 0,  11, 3,  8,  9,  14, 15, 5,  2,  8,  12, 3,  7,  0,  4,  10,
     1,  13, 11, 6,  4,  3,  2,  12, 9,  5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0,  8,  13, 3,  12, 9,  7,  5,  10, 6,  1,  13, 0,  11, 7,  4,  9,
     1,  10, 14, 3,  5,  12, 2,  15, 8,  6,  1,  4,  11, 13, 12, 3,  7,  14, 10, 15, 6,  8,
     0,  5,  9,  2,  6,  11, 13, 8,  1,  4,  10, 7,  9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2,  8,  4,  6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,  1,  15, 13, 8,  10, 3,
     7,  4,  12, 5,  6,  11, 0,  14, 9,  2,  7,  11, 4,  1,  9,  12, 14, 2,  0,  6,  10, 13,
     15, 3,  5,  8,  2,  1,  14, 7,  4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11},
};

constexpr uint32_t Rotl1(uint32_t x) { return (x << 1) | (x >> 31); }
constexpr uint32_t Rotr1(uint32_t x) { return (x >> 1) | (x << 31); }

// Bit n (1 = most significant, FIPS numbering) of a 64-bit block.
constexpr int Bit64(uint64_t v, int n) { return static_cast<int>((v >> (64 - n)) & 1); }

// S-box i combined with P: the rotated 32-bit output for each 6-bit input
// b1..b6 (b1 most significant).
struct SpTables {
    uint32_t sp[8][64];
    constexpr SpTables() : sp() {
        for (int box = 0; box < 8; ++box) {
            for (int x = 0; x < 64; ++x) {
                const int row = ((x >> 4) & 2) | (x & 1);
                const int col = (x >> 1) & 15;
                const uint32_t s = static_cast<uint32_t>(S[box][row * 16 + col]) << (28 - 4 * box);
                uint32_t p = 0;
                for (int i = 0; i < 32; ++i)
                    if ((s >> (32 - P[i])) & 1) p |= 1u << (31 - i);
                sp[box][x] = Rotl1(p);
            }
        }
    }
};

// Whole-block permutations as eight byte-indexed tables; the initial
// permutation also rotates both halves, the final one undoes that and
// takes the halves swapped (R16 first), as the last round leaves them.
struct PermTables {
    uint64_t ip[8][256];
    uint64_t fp[8][256];
    constexpr PermTables() : ip(), fp() {
        for (int byte = 0; byte < 8; ++byte) {
            for (int v = 0; v < 256; ++v) {
                const uint64_t in = static_cast<uint64_t>(v) << (56 - 8 * byte);
                // Initial permutation, then each half rotated left by one.
                uint64_t lr = 0;
                for (int i = 0; i < 64; ++i)
                    if (Bit64(in, IP[i])) lr |= 1ull << (63 - i);
                const uint32_t l = Rotl1(static_cast<uint32_t>(lr >> 32));
                const uint32_t r = Rotl1(static_cast<uint32_t>(lr));
                ip[byte][v] = (static_cast<uint64_t>(l) << 32) | r;
                // Final permutation: undo the rotation, then the inverse of IP.
                const uint64_t pre = (static_cast<uint64_t>(Rotr1(static_cast<uint32_t>(in >> 32))) << 32) |
                                     Rotr1(static_cast<uint32_t>(in));
                uint64_t out = 0;
                for (int i = 0; i < 64; ++i)
                    if (Bit64(pre, i + 1)) out |= 1ull << (64 - IP[i]);
                fp[byte][v] = out;
            }
        }
    }
};

}  // namespace des
}  // namespace softcrypto
