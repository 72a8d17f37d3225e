// SHA-256 (FIPS 180-4).
#include <new>

#include "HashBytes.h"
#include "HashStream.h"
#include "Sha256Constants.h"
#include "ShaExt.h"
#include "SoftHash.h"

using namespace softcrypto;

namespace {

#define BSIG0(x) (Rotr32(x, 2) ^ Rotr32(x, 13) ^ Rotr32(x, 22))
#define BSIG1(x) (Rotr32(x, 6) ^ Rotr32(x, 11) ^ Rotr32(x, 25))
#define SSIG0(x) (Rotr32(x, 7) ^ Rotr32(x, 18) ^ ((x) >> 3))
#define SSIG1(x) (Rotr32(x, 17) ^ Rotr32(x, 19) ^ ((x) >> 10))
// The schedule lives in a rolling window of 16 words, X[k] holding word
// i + k of the 16-round group that starts at round i. The first group loads
// the words; each later group expands word i + k in place over word
// i + k - 16 just before its round. A group's 16 rounds are spelled out with
// literal k, so every window index is a constant and the eight working
// words stay in registers; the later groups share one loop body.
#define LOAD_W(k) (X[k] = LoadBE32(p + 4 * (k)))
#define EXPAND_W(k) (X[k] += SSIG1(X[((k) + 14) & 15]) + X[((k) + 9) & 15] + SSIG0(X[((k) + 1) & 15]))
// Maj(a, b, c) = b ^ ((a ^ b) & (b ^ c)), and this round's b ^ c is the
// previous round's a ^ b: "bc" carries it from round to round.
#define ROUND(a, b, c, d, e, f, g, h, k, w)                                           \
    do {                                                                              \
        const uint32_t t1 = h + BSIG1(e) + ((g) ^ ((e) & ((f) ^ (g)))) + Kg[k] + (w); \
        const uint32_t ab = (a) ^ (b);                                                \
        d += t1;                                                                      \
        h = t1 + BSIG0(a) + ((b) ^ (ab & bc));                                        \
        bc = ab;                                                                      \
    } while (0)
#define ROUND16(WORD)                            \
    ROUND(a, b, c, d, e, f, g, h, 0, WORD(0));   \
    ROUND(h, a, b, c, d, e, f, g, 1, WORD(1));   \
    ROUND(g, h, a, b, c, d, e, f, 2, WORD(2));   \
    ROUND(f, g, h, a, b, c, d, e, 3, WORD(3));   \
    ROUND(e, f, g, h, a, b, c, d, 4, WORD(4));   \
    ROUND(d, e, f, g, h, a, b, c, 5, WORD(5));   \
    ROUND(c, d, e, f, g, h, a, b, 6, WORD(6));   \
    ROUND(b, c, d, e, f, g, h, a, 7, WORD(7));   \
    ROUND(a, b, c, d, e, f, g, h, 8, WORD(8));   \
    ROUND(h, a, b, c, d, e, f, g, 9, WORD(9));   \
    ROUND(g, h, a, b, c, d, e, f, 10, WORD(10)); \
    ROUND(f, g, h, a, b, c, d, e, 11, WORD(11)); \
    ROUND(e, f, g, h, a, b, c, d, 12, WORD(12)); \
    ROUND(d, e, f, g, h, a, b, c, 13, WORD(13)); \
    ROUND(c, d, e, f, g, h, a, b, 14, WORD(14)); \
    ROUND(b, c, d, e, f, g, h, a, 15, WORD(15))

void CompressPortable(uint32_t* hs, const uint8_t* p, size_t blocks) {
    for (; blocks; --blocks, p += 64) {
        uint32_t X[16];
        uint32_t a = hs[0], b = hs[1], c = hs[2], d = hs[3], e = hs[4], f = hs[5], g = hs[6], h = hs[7];
        uint32_t bc = b ^ c;
        const uint32_t* Kg = kSha256K;
        ROUND16(LOAD_W);
        for (Kg += 16; Kg != kSha256K + 64; Kg += 16) {
            ROUND16(EXPAND_W);
        }
        hs[0] += a;
        hs[1] += b;
        hs[2] += c;
        hs[3] += d;
        hs[4] += e;
        hs[5] += f;
        hs[6] += g;
        hs[7] += h;
    }
}

void Compress(uint32_t* hs, const uint8_t* p, size_t blocks) {
    if (UseShaExtensions())
        Sha256CompressShaExt(hs, p, blocks);
    else
        CompressPortable(hs, p, blocks);
}

}  // namespace

int SHA256Init(SHA256_STATE** ppState) {
    static constexpr uint32_t H0[8] = {0x6a09e667u, 0xbb67ae85u, 0x3c6ef372u, 0xa54ff53au,
                                       0x510e527fu, 0x9b05688cu, 0x1f83d9abu, 0x5be0cd19u};
    if (!ppState) return 0;
    SHA256_STATE* s = new (std::nothrow) SHA256_STATE();
    if (!s) return 0;
    for (int i = 0; i < 8; ++i) s->h[i] = H0[i];
    s->md_len = SHA256_DIGEST_BYTES;
    *ppState = s;
    return ALG_OPENSSL_OK;
}

int SHA256Update(SHA256_STATE* s, const uint8_t* pData, uint32_t len) {
    if (len == 0) return ALG_OPENSSL_OK;
    AddBitCount(s->Nl, s->Nh, len);
    FeedBlocks<64>(s->data, s->num, pData, len, [s](const uint8_t* p, size_t n) { Compress(s->h, p, n); });
    return ALG_OPENSSL_OK;
}

int SHA256Final(uint8_t digest[32], SHA256_STATE* s) {
    uint8_t bits[8];
    StoreBE32(bits, s->Nh);
    StoreBE32(bits + 4, s->Nl);
    PadAndFinish<64, 8>(s->data, s->num, bits, [s](const uint8_t* p, size_t n) { Compress(s->h, p, n); });
    s->num = 0;
    for (int i = 0; i < 8; ++i) StoreBE32(digest + 4 * i, s->h[i]);
    return ALG_OPENSSL_OK;
}
