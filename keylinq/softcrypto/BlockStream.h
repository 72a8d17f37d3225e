#pragma once
// The streaming and padding rules shared by the DES family and SM4
// (internal). An encryption outputs every whole block at once; a decryption
// always holds its last whole block back, so that the final step can check
// and strip the padding.
#include <cstdint>
#include <cstring>

namespace softcrypto {

// process(const uint8_t* in, uint8_t* out, uint32_t blocks) runs whole blocks
// in the context's mode and direction, chaining value included.
template <uint32_t B, typename Process>
inline void StreamUpdate(uint8_t* buffer, uint32_t& fill, bool decrypting, const uint8_t* in, uint32_t len,
                         uint8_t* out, uint32_t* pOutLen, Process process) {
    uint32_t produced = 0;
    if (fill > 0 && len >= B - fill && !(decrypting && len == B - fill)) {
        const uint32_t need = B - fill;
        std::memcpy(buffer + fill, in, need);
        process(buffer, out, 1);
        produced = B;
        fill = 0;
        in += need;
        len -= need;
    }
    if (len >= B) {
        uint32_t blocks = len / B;
        // A decryption keeps its last whole block when nothing follows it.
        if (decrypting && len % B == 0 && fill == 0) --blocks;
        if (blocks) {
            process(in, out + produced, blocks);
            produced += blocks * B;
            in += blocks * B;
            len -= blocks * B;
        }
    }
    std::memcpy(buffer + fill, in, len);
    fill += len;
    *pOutLen = produced;
}

// Final step. Returns false for a partial last block or bad padding, with
// nothing written.
template <uint32_t B, typename Process>
inline bool StreamFinal(uint8_t* buffer, uint32_t& fill, bool decrypting, uint8_t* out, uint32_t* pOutLen,
                        Process process) {
    if (!decrypting) {
        const uint8_t pad = static_cast<uint8_t>(B - fill);
        std::memset(buffer + fill, pad, pad);
        process(buffer, out, 1);
        fill = 0;
        *pOutLen = B;
        return true;
    }
    if (fill == 0) {
        *pOutLen = 0;
        return true;
    }
    if (fill != B) return false;
    uint8_t plain[B];
    process(buffer, plain, 1);
    const uint8_t p = plain[B - 1];
    bool bad = p == 0 || p > B;
    for (uint32_t i = 0; !bad && i < p; ++i) bad = plain[B - 1 - i] != p;
    if (bad) {
        std::memset(plain, 0, B);
        return false;
    }
    std::memcpy(out, plain, B - p);
    std::memset(plain, 0, B);
    fill = 0;
    *pOutLen = B - p;
    return true;
}

}  // namespace softcrypto
