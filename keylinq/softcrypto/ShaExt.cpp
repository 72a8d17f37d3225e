// SHA-1 and SHA-256 on the x86 SHA extensions, chosen at run time by CPUID.
// The functions that use the extensions are compiled for them alone, so the
// rest of the library still runs on processors without them.
#include "ShaExt.h"

#include <cpuid.h>
#include <immintrin.h>

#include <atomic>

#include "Sha256Constants.h"

// 32-bit Windows keeps the stack 4-byte aligned only; the vector spills of
// these functions need 16.
#if defined(__i386__)
#define SHA_EXT_FN __attribute__((target("sha,sse4.1"), force_align_arg_pointer))
#else
#define SHA_EXT_FN __attribute__((target("sha,sse4.1")))
#endif

namespace softcrypto {

namespace {

constexpr unsigned kCpuidSse41 = 1u << 19;  // leaf 1, ECX
constexpr unsigned kCpuidSsse3 = 1u << 9;   // leaf 1, ECX
constexpr unsigned kCpuidSha = 1u << 29;    // leaf 7 subleaf 0, EBX

bool ProcessorHasShaExtensions() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    if ((c & kCpuidSse41) == 0 || (c & kCpuidSsse3) == 0) return false;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return (b & kCpuidSha) != 0;
}

std::atomic<int> g_hardware{-1};  // -1 not asked yet, 0 no, 1 yes
std::atomic<bool> g_forcePortable{false};

}  // namespace

bool UseShaExtensions() {
    int hw = g_hardware.load(std::memory_order_relaxed);
    if (hw < 0) {
        hw = ProcessorHasShaExtensions() ? 1 : 0;
        g_hardware.store(hw, std::memory_order_relaxed);
    }
    return hw == 1 && !g_forcePortable.load(std::memory_order_relaxed);
}

void ForcePortableSha(bool force) { g_forcePortable.store(force, std::memory_order_relaxed); }

// ---- SHA-1
//
// Four rounds per sha1rnds4; the message words of group g (rounds 4g to
// 4g+3) live in one of four registers, M[g mod 4]. While group g runs, the
// schedule finishes group g+1 (sha1msg2), adds group g to group g+2 (xor)
// and starts group g+3 (sha1msg1). E alternates between two registers.
#define SHA1_GROUP(g, eIn, eOut, mc, mn, mp2, mp)                                \
    do {                                                                         \
        if ((g) < 4) mc = _mm_shuffle_epi8(_mm_loadu_si128(in + (g)), byteSwap); \
        if ((g) == 0)                                                            \
            eIn = _mm_add_epi32(eIn, mc);                                        \
        else                                                                     \
            eIn = _mm_sha1nexte_epu32(eIn, mc);                                  \
        eOut = abcd;                                                             \
        if ((g) >= 3 && (g) <= 18) mn = _mm_sha1msg2_epu32(mn, mc);              \
        abcd = _mm_sha1rnds4_epu32(abcd, eIn, (g) / 5);                          \
        if ((g) >= 1 && (g) <= 16) mp = _mm_sha1msg1_epu32(mp, mc);              \
        if ((g) >= 2 && (g) <= 17) mp2 = _mm_xor_si128(mp2, mc);                 \
    } while (0)

SHA_EXT_FN void Sha1CompressShaExt(uint32_t h[5], const uint8_t* blocks, size_t count) {
    const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0x1b);
    __m128i e0 = _mm_set_epi32(static_cast<int>(h[4]), 0, 0, 0);
    __m128i e1, m0, m1, m2, m3;
    for (; count; --count, blocks += 64) {
        const __m128i* in = reinterpret_cast<const __m128i*>(blocks);
        const __m128i abcdSave = abcd, eSave = e0;
        SHA1_GROUP(0, e0, e1, m0, m1, m2, m3);
        SHA1_GROUP(1, e1, e0, m1, m2, m3, m0);
        SHA1_GROUP(2, e0, e1, m2, m3, m0, m1);
        SHA1_GROUP(3, e1, e0, m3, m0, m1, m2);
        SHA1_GROUP(4, e0, e1, m0, m1, m2, m3);
        SHA1_GROUP(5, e1, e0, m1, m2, m3, m0);
        SHA1_GROUP(6, e0, e1, m2, m3, m0, m1);
        SHA1_GROUP(7, e1, e0, m3, m0, m1, m2);
        SHA1_GROUP(8, e0, e1, m0, m1, m2, m3);
        SHA1_GROUP(9, e1, e0, m1, m2, m3, m0);
        SHA1_GROUP(10, e0, e1, m2, m3, m0, m1);
        SHA1_GROUP(11, e1, e0, m3, m0, m1, m2);
        SHA1_GROUP(12, e0, e1, m0, m1, m2, m3);
        SHA1_GROUP(13, e1, e0, m1, m2, m3, m0);
        SHA1_GROUP(14, e0, e1, m2, m3, m0, m1);
        SHA1_GROUP(15, e1, e0, m3, m0, m1, m2);
        SHA1_GROUP(16, e0, e1, m0, m1, m2, m3);
        SHA1_GROUP(17, e1, e0, m1, m2, m3, m0);
        SHA1_GROUP(18, e0, e1, m2, m3, m0, m1);
        SHA1_GROUP(19, e1, e0, m3, m0, m1, m2);
        // e0 holds the working words from before the last four rounds: the
        // next E is its A rotated (sha1nexte) plus the E saved at the start.
        e0 = _mm_sha1nexte_epu32(e0, eSave);
        abcd = _mm_add_epi32(abcd, abcdSave);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_shuffle_epi32(abcd, 0x1b));
    h[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

// ---- SHA-256
//
// The state lives as ABEF and CDGH; sha256rnds2 runs two rounds, so each
// group of four rounds takes two. The schedule works as for SHA-1: group g
// finishes group g+1 (sha256msg2 after adding words 4g-7 to 4g-4) and starts
// group g+3 (sha256msg1).
#define SHA256_GROUP(g, mc, mn, mp)                                                                              \
    do {                                                                                                         \
        if ((g) < 4) mc = _mm_shuffle_epi8(_mm_loadu_si128(in + (g)), byteSwap);                                 \
        __m128i wk = _mm_add_epi32(mc, _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256K) + (g)));        \
        cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);                                                            \
        if ((g) >= 3 && (g) <= 14) mn = _mm_sha256msg2_epu32(_mm_add_epi32(mn, _mm_alignr_epi8(mc, mp, 4)), mc); \
        wk = _mm_shuffle_epi32(wk, 0x0e);                                                                        \
        abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);                                                            \
        if ((g) >= 1 && (g) <= 12) mp = _mm_sha256msg1_epu32(mp, mc);                                            \
    } while (0)

SHA_EXT_FN void Sha256CompressShaExt(uint32_t h[8], const uint8_t* blocks, size_t count) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    const __m128i dcba = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0xb1);      // CDAB
    const __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 4)), 0x1b);  // EFGH
    __m128i abef = _mm_alignr_epi8(dcba, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, dcba, 0xf0);
    __m128i m0, m1, m2, m3;
    for (; count; --count, blocks += 64) {
        const __m128i* in = reinterpret_cast<const __m128i*>(blocks);
        const __m128i abefSave = abef, cdghSave = cdgh;
        SHA256_GROUP(0, m0, m1, m3);
        SHA256_GROUP(1, m1, m2, m0);
        SHA256_GROUP(2, m2, m3, m1);
        SHA256_GROUP(3, m3, m0, m2);
        SHA256_GROUP(4, m0, m1, m3);
        SHA256_GROUP(5, m1, m2, m0);
        SHA256_GROUP(6, m2, m3, m1);
        SHA256_GROUP(7, m3, m0, m2);
        SHA256_GROUP(8, m0, m1, m3);
        SHA256_GROUP(9, m1, m2, m0);
        SHA256_GROUP(10, m2, m3, m1);
        SHA256_GROUP(11, m3, m0, m2);
        SHA256_GROUP(12, m0, m1, m3);
        SHA256_GROUP(13, m1, m2, m0);
        SHA256_GROUP(14, m2, m3, m1);
        SHA256_GROUP(15, m3, m0, m2);
        abef = _mm_add_epi32(abef, abefSave);
        cdgh = _mm_add_epi32(cdgh, cdghSave);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1b);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xb1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_blend_epi16(feba, dchg, 0xf0));   // DCBA
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h + 4), _mm_alignr_epi8(dchg, feba, 8));  // HGFE
}

}  // namespace softcrypto
