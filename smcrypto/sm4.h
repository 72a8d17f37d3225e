#pragma once
// SM4 block cipher (GM/T 0002): 128-bit block and key, 32 rounds; CBC on top.
#include <cstdint>

namespace smcrypto {

constexpr int SM4_BLOCK_BYTES = 16;
constexpr int SM4_ROUNDS = 32;

// Round keys from the four big-endian key words.
int SM4KeySchedule(const uint32_t key[4], uint32_t roundKeys[SM4_ROUNDS]);
// Reverses the round keys in place: the schedule for decryption.
int SM4ReverseRoundKeys(uint32_t roundKeys[SM4_ROUNDS]);
int SM4Block(const uint32_t in[4], const uint32_t roundKeys[SM4_ROUNDS], uint32_t out[4]);
// One CBC step; chain is the previous ciphertext block (the IV at first) and
// is updated. encrypt: 1 encrypt (encryption round keys), 0 decrypt
// (reversed round keys).
int SM4CbcBlock(const uint32_t in[4], const uint32_t roundKeys[SM4_ROUNDS], uint32_t chain[4], uint32_t out[4],
                int encrypt);
// The same on bytes (big-endian words).
int SM4CbcBytes(const unsigned char in[16], const uint32_t roundKeys[SM4_ROUNDS], unsigned char chain[16],
                unsigned char out[16], int encrypt);

}  // namespace smcrypto
