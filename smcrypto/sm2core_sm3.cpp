// The SM2 core's hash on this library's own SM3.
#include "sm2_core.h"
#include "sm3.h"

void SM2CoreSM3(const unsigned char* const* pieces, const size_t* lengths, int count, unsigned char out[32]) {
    smcrypto::SM3_CTX ctx;
    smcrypto::SM3_Init(&ctx);
    for (int i = 0; i < count; ++i)
        if (lengths[i]) smcrypto::SM3_Update(&ctx, pieces[i], lengths[i]);
    smcrypto::SM3_Final(out, &ctx);
}
