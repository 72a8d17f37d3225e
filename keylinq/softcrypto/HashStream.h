#pragma once
// Block buffering shared by the Merkle-Damgard digests (internal): whole
// blocks are compressed straight from the caller's data, a partial block
// waits in the state's buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace softcrypto {

// compress(const uint8_t* blocks, size_t count) compresses count whole blocks.
template <uint32_t B, typename Compress>
inline void FeedBlocks(uint8_t* block, uint32_t& num, const uint8_t* data, size_t len, Compress compress) {
    if (num) {
        const uint32_t need = B - num;
        if (len < need) {
            std::memcpy(block + num, data, len);
            num += static_cast<uint32_t>(len);
            return;
        }
        std::memcpy(block + num, data, need);
        compress(block, 1);
        data += need;
        len -= need;
        num = 0;
    }
    const size_t whole = len / B;
    if (whole) {
        compress(data, whole);
        data += whole * B;
        len -= whole * B;
    }
    if (len) {
        std::memcpy(block, data, len);
        num = static_cast<uint32_t>(len);
    }
}

// Adds len bytes to a message length kept in bits as two 32-bit halves.
inline void AddBitCount(uint32_t& Nl, uint32_t& Nh, uint32_t len) {
    const uint32_t low = Nl + (len << 3);
    if (low < Nl) ++Nh;
    Nh += len >> 29;
    Nl = low;
}

// Appends 0x80 and zeros, then the L-byte length field at the block's end,
// compressing an extra block when the length does not fit behind the data.
template <uint32_t B, uint32_t L, typename Compress>
inline void PadAndFinish(uint8_t* block, uint32_t num, const uint8_t* lengthField, Compress compress) {
    block[num++] = 0x80;
    if (num > B - L) {
        std::memset(block + num, 0, B - num);
        compress(block, 1);
        num = 0;
    }
    std::memset(block + num, 0, B - L - num);
    std::memcpy(block + B - L, lengthField, L);
    compress(block, 1);
}

}  // namespace softcrypto
