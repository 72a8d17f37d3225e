#pragma once
// SM3 hash (GM/T 0004): 256-bit digest over 64-byte blocks.
#include <cstddef>
#include <cstdint>

namespace smcrypto {

constexpr int SM3_DIGEST_BYTES = 32;
constexpr int SM3_BLOCK_BYTES = 64;

struct SM3_CTX {
    uint32_t digest[8];     // chaining words
    uint32_t blocksLow;     // processed 64-byte blocks, low half
    uint32_t blocksHigh;    // processed 64-byte blocks, high half
    unsigned char block[SM3_BLOCK_BYTES];
    unsigned int num;       // bytes waiting in block
};

int SM3_Init(SM3_CTX* ctx);
int SM3_Update(SM3_CTX* ctx, const void* data, size_t length);
int SM3_Final(unsigned char digest[SM3_DIGEST_BYTES], SM3_CTX* ctx);
// One compression of a full block into the chaining words (the block
// counter is the caller's business).
void SM3_Compress(SM3_CTX* ctx, const unsigned char block[SM3_BLOCK_BYTES]);

}  // namespace smcrypto
