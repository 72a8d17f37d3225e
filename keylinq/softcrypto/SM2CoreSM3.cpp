// The SM2 core's hash, served by the key library's own SM3.
#include <cstddef>

#include "SoftHash.h"
#include "sm2_core.h"

void SM2CoreSM3(const unsigned char* const* pieces, const size_t* lengths, int count, unsigned char out[32]) {
    SM3_STATE state;
    SM3Init(&state);
    for (int i = 0; i < count; ++i) {
        const unsigned char* p = pieces[i];
        size_t left = lengths[i];
        while (left) {
            const uint32_t chunk = left > 0x40000000u ? 0x40000000u : static_cast<uint32_t>(left);
            SM3Update(&state, p, &chunk);
            p += chunk;
            left -= chunk;
        }
    }
    SM3Final(out, &state);
}
