#pragma once
// Byte-order helpers of the digest and cipher code (internal).
#include <cstdint>
#include <cstring>

namespace softcrypto {

inline uint32_t Rotl32(uint32_t x, int n) { return (x << n) | (x >> ((32 - n) & 31)); }
inline uint32_t Rotr32(uint32_t x, int n) { return (x >> n) | (x << ((32 - n) & 31)); }
inline uint64_t Rotr64(uint64_t x, int n) { return (x >> n) | (x << ((64 - n) & 63)); }

inline uint32_t LoadBE32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return __builtin_bswap32(v);
}
inline uint64_t LoadBE64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}
inline uint32_t LoadLE32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void StoreBE32(uint8_t* p, uint32_t v) {
    v = __builtin_bswap32(v);
    std::memcpy(p, &v, 4);
}
inline void StoreBE64(uint8_t* p, uint64_t v) {
    v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}
inline void StoreLE32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

}  // namespace softcrypto
