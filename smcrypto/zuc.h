#pragma once
// ZUC stream cipher (GM/T 0001, the 128-bit ZUC of 3GPP's 128-EEA3/EIA3).
#include <cstdint>

namespace smcrypto {

struct ZUC_CTX {
    uint32_t lfsr[16];        // 31-bit cells s0..s15
    uint32_t r1, r2;          // registers of the nonlinear function F
    uint32_t x0, x1, x2, x3;  // bit-reorganisation words
};
static_assert(sizeof(ZUC_CTX) == 88, "ZUC context layout");

// Loads key and IV, runs the 32 initialisation rounds and one working step;
// returns that step's keystream value, which is not used.
uint32_t ZUC_Init(const unsigned char key[16], const unsigned char iv[16], ZUC_CTX* ctx);
uint32_t ZUC_GenerateWord(ZUC_CTX* ctx);

}  // namespace smcrypto
