// SHA-1 (FIPS 180-4).
#include <new>

#include "HashBytes.h"
#include "HashStream.h"
#include "SoftHash.h"

using namespace softcrypto;

namespace {

// Message schedule kept as a rolling window of 16 words.
#define W_AT(t) W[(t) & 15]
#define W_NEXT(t) (W_AT(t) = Rotl32(W_AT((t) + 13) ^ W_AT((t) + 8) ^ W_AT((t) + 2) ^ W_AT(t), 1))
#define SHA1_STEP(a, b, c, d, e, fn, k, w)        \
    e += Rotl32(a, 5) + fn(b, c, d) + (k) + (w); \
    b = Rotl32(b, 30)
#define CH(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define PAR(x, y, z) ((x) ^ (y) ^ (z))
#define MAJ(x, y, z) (((x) & (y)) | ((z) & ((x) | (y))))

void Compress(uint32_t* h, const uint8_t* p, size_t blocks) {
    for (; blocks; --blocks, p += 64) {
        uint32_t W[16];
        for (int i = 0; i < 16; ++i) W[i] = LoadBE32(p + 4 * i);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int t = 0; t < 15; t += 5) {
            SHA1_STEP(a, b, c, d, e, CH, 0x5a827999u, W_AT(t));
            SHA1_STEP(e, a, b, c, d, CH, 0x5a827999u, W_AT(t + 1));
            SHA1_STEP(d, e, a, b, c, CH, 0x5a827999u, W_AT(t + 2));
            SHA1_STEP(c, d, e, a, b, CH, 0x5a827999u, W_AT(t + 3));
            SHA1_STEP(b, c, d, e, a, CH, 0x5a827999u, W_AT(t + 4));
        }
        SHA1_STEP(a, b, c, d, e, CH, 0x5a827999u, W_AT(15));
        SHA1_STEP(e, a, b, c, d, CH, 0x5a827999u, W_NEXT(16));
        SHA1_STEP(d, e, a, b, c, CH, 0x5a827999u, W_NEXT(17));
        SHA1_STEP(c, d, e, a, b, CH, 0x5a827999u, W_NEXT(18));
        SHA1_STEP(b, c, d, e, a, CH, 0x5a827999u, W_NEXT(19));
        for (int t = 20; t < 40; t += 5) {
            SHA1_STEP(a, b, c, d, e, PAR, 0x6ed9eba1u, W_NEXT(t));
            SHA1_STEP(e, a, b, c, d, PAR, 0x6ed9eba1u, W_NEXT(t + 1));
            SHA1_STEP(d, e, a, b, c, PAR, 0x6ed9eba1u, W_NEXT(t + 2));
            SHA1_STEP(c, d, e, a, b, PAR, 0x6ed9eba1u, W_NEXT(t + 3));
            SHA1_STEP(b, c, d, e, a, PAR, 0x6ed9eba1u, W_NEXT(t + 4));
        }
        for (int t = 40; t < 60; t += 5) {
            SHA1_STEP(a, b, c, d, e, MAJ, 0x8f1bbcdcu, W_NEXT(t));
            SHA1_STEP(e, a, b, c, d, MAJ, 0x8f1bbcdcu, W_NEXT(t + 1));
            SHA1_STEP(d, e, a, b, c, MAJ, 0x8f1bbcdcu, W_NEXT(t + 2));
            SHA1_STEP(c, d, e, a, b, MAJ, 0x8f1bbcdcu, W_NEXT(t + 3));
            SHA1_STEP(b, c, d, e, a, MAJ, 0x8f1bbcdcu, W_NEXT(t + 4));
        }
        for (int t = 60; t < 80; t += 5) {
            SHA1_STEP(a, b, c, d, e, PAR, 0xca62c1d6u, W_NEXT(t));
            SHA1_STEP(e, a, b, c, d, PAR, 0xca62c1d6u, W_NEXT(t + 1));
            SHA1_STEP(d, e, a, b, c, PAR, 0xca62c1d6u, W_NEXT(t + 2));
            SHA1_STEP(c, d, e, a, b, PAR, 0xca62c1d6u, W_NEXT(t + 3));
            SHA1_STEP(b, c, d, e, a, PAR, 0xca62c1d6u, W_NEXT(t + 4));
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
}

}  // namespace

int SHA1Init(SHA1_STATE** ppState) {
    if (!ppState) return 0;
    SHA1_STATE* s = new (std::nothrow) SHA1_STATE();
    if (!s) return 0;
    s->h[0] = 0x67452301u;
    s->h[1] = 0xefcdab89u;
    s->h[2] = 0x98badcfeu;
    s->h[3] = 0x10325476u;
    s->h[4] = 0xc3d2e1f0u;
    *ppState = s;
    return ALG_OPENSSL_OK;
}

int SHA1Update(SHA1_STATE* s, const uint8_t* pData, uint32_t len) {
    if (len == 0) return ALG_OPENSSL_OK;
    const uint32_t low = s->Nl + (len << 3);
    if (low < s->Nl) ++s->Nh;
    s->Nh += len >> 29;
    s->Nl = low;
    FeedBlocks<64>(s->data, s->num, pData, len, [s](const uint8_t* p, size_t n) { Compress(s->h, p, n); });
    return ALG_OPENSSL_OK;
}

int SHA1Final(uint8_t digest[20], SHA1_STATE* s) {
    uint8_t bits[8];
    StoreBE32(bits, s->Nh);
    StoreBE32(bits + 4, s->Nl);
    PadAndFinish<64, 8>(s->data, s->num, bits, [s](const uint8_t* p, size_t n) { Compress(s->h, p, n); });
    s->num = 0;
    for (int i = 0; i < 5; ++i) StoreBE32(digest + 4 * i, s->h[i]);
    return ALG_OPENSSL_OK;
}
