// SHA-1 (FIPS 180-4).
#include <new>

#include "HashBytes.h"
#include "HashStream.h"
#include "ShaExt.h"
#include "SoftHash.h"

using namespace softcrypto;

namespace {

// The message schedule lives in a rolling window of 16 words: word t is
// loaded (t < 16) or expanded in place over word t - 16. The rounds are
// spelled out with literal indices, so that every index is a constant and
// the five working words stay in registers.
#define SHA1_W(t)                                        \
    ((t) < 16 ? (W[(t)&15] = LoadBE32(p + 4 * ((t)&15))) \
              : (W[(t)&15] = Rotl32(W[((t) + 13) & 15] ^ W[((t) + 8) & 15] ^ W[((t) + 2) & 15] ^ W[(t)&15], 1)))
// The word and the constant go into e first: a, the value that the
// previous step has just made, is needed last.
#define SHA1_STEP(a, b, c, d, e, fn, k, t) \
    e += SHA1_W(t) + (k);                  \
    e += fn(b, c, d);                      \
    e += Rotl32(a, 5);                     \
    b = Rotl32(b, 30)
#define SHA1_5(fn, k, t)                      \
    SHA1_STEP(a, b, c, d, e, fn, k, (t));     \
    SHA1_STEP(e, a, b, c, d, fn, k, (t) + 1); \
    SHA1_STEP(d, e, a, b, c, fn, k, (t) + 2); \
    SHA1_STEP(c, d, e, a, b, fn, k, (t) + 3); \
    SHA1_STEP(b, c, d, e, a, fn, k, (t) + 4)
#define CH(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define PAR(x, y, z) ((x) ^ (y) ^ (z))
#define MAJ(x, y, z) (((x) & (y)) + ((z) & ((x) ^ (y))))

void CompressPortable(uint32_t* h, const uint8_t* p, size_t blocks) {
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (; blocks; --blocks, p += 64) {
        uint32_t W[16];
        SHA1_5(CH, 0x5a827999u, 0);
        SHA1_5(CH, 0x5a827999u, 5);
        SHA1_5(CH, 0x5a827999u, 10);
        SHA1_5(CH, 0x5a827999u, 15);
        SHA1_5(PAR, 0x6ed9eba1u, 20);
        SHA1_5(PAR, 0x6ed9eba1u, 25);
        SHA1_5(PAR, 0x6ed9eba1u, 30);
        SHA1_5(PAR, 0x6ed9eba1u, 35);
        SHA1_5(MAJ, 0x8f1bbcdcu, 40);
        SHA1_5(MAJ, 0x8f1bbcdcu, 45);
        SHA1_5(MAJ, 0x8f1bbcdcu, 50);
        SHA1_5(MAJ, 0x8f1bbcdcu, 55);
        SHA1_5(PAR, 0xca62c1d6u, 60);
        SHA1_5(PAR, 0xca62c1d6u, 65);
        SHA1_5(PAR, 0xca62c1d6u, 70);
        SHA1_5(PAR, 0xca62c1d6u, 75);
        a = h[0] += a;
        b = h[1] += b;
        c = h[2] += c;
        d = h[3] += d;
        e = h[4] += e;
    }
}

void Compress(uint32_t* h, const uint8_t* p, size_t blocks) {
    if (UseShaExtensions())
        Sha1CompressShaExt(h, p, blocks);
    else
        CompressPortable(h, p, blocks);
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
    AddBitCount(s->Nl, s->Nh, len);
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
