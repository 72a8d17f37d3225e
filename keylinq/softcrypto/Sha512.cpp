// SHA-512 (FIPS 180-4).
#include <new>

#include "HashBytes.h"
#include "HashStream.h"
#include "SoftHash.h"

using namespace softcrypto;

namespace {

constexpr uint64_t K[80] = {
    0x428a2f98d728ae22ULL, 0x7137449123ef65cdULL, 0xb5c0fbcfec4d3b2fULL, 0xe9b5dba58189dbbcULL, 0x3956c25bf348b538ULL,
    0x59f111f1b605d019ULL, 0x923f82a4af194f9bULL, 0xab1c5ed5da6d8118ULL, 0xd807aa98a3030242ULL, 0x12835b0145706fbeULL,
    0x243185be4ee4b28cULL, 0x550c7dc3d5ffb4e2ULL, 0x72be5d74f27b896fULL, 0x80deb1fe3b1696b1ULL, 0x9bdc06a725c71235ULL,
    0xc19bf174cf692694ULL, 0xe49b69c19ef14ad2ULL, 0xefbe4786384f25e3ULL, 0x0fc19dc68b8cd5b5ULL, 0x240ca1cc77ac9c65ULL,
    0x2de92c6f592b0275ULL, 0x4a7484aa6ea6e483ULL, 0x5cb0a9dcbd41fbd4ULL, 0x76f988da831153b5ULL, 0x983e5152ee66dfabULL,
    0xa831c66d2db43210ULL, 0xb00327c898fb213fULL, 0xbf597fc7beef0ee4ULL, 0xc6e00bf33da88fc2ULL, 0xd5a79147930aa725ULL,
    0x06ca6351e003826fULL, 0x142929670a0e6e70ULL, 0x27b70a8546d22ffcULL, 0x2e1b21385c26c926ULL, 0x4d2c6dfc5ac42aedULL,
    0x53380d139d95b3dfULL, 0x650a73548baf63deULL, 0x766a0abb3c77b2a8ULL, 0x81c2c92e47edaee6ULL, 0x92722c851482353bULL,
    0xa2bfe8a14cf10364ULL, 0xa81a664bbc423001ULL, 0xc24b8b70d0f89791ULL, 0xc76c51a30654be30ULL, 0xd192e819d6ef5218ULL,
    0xd69906245565a910ULL, 0xf40e35855771202aULL, 0x106aa07032bbd1b8ULL, 0x19a4c116b8d2d0c8ULL, 0x1e376c085141ab53ULL,
    0x2748774cdf8eeb99ULL, 0x34b0bcb5e19b48a8ULL, 0x391c0cb3c5c95a63ULL, 0x4ed8aa4ae3418acbULL, 0x5b9cca4f7763e373ULL,
    0x682e6ff3d6b2b8a3ULL, 0x748f82ee5defb2fcULL, 0x78a5636f43172f60ULL, 0x84c87814a1f0ab72ULL, 0x8cc702081a6439ecULL,
    0x90befffa23631e28ULL, 0xa4506cebde82bde9ULL, 0xbef9a3f7b2c67915ULL, 0xc67178f2e372532bULL, 0xca273eceea26619cULL,
    0xd186b8c721c0c207ULL, 0xeada7dd6cde0eb1eULL, 0xf57d4f7fee6ed178ULL, 0x06f067aa72176fbaULL, 0x0a637dc5a2c898a6ULL,
    0x113f9804bef90daeULL, 0x1b710b35131c471bULL, 0x28db77f523047d84ULL, 0x32caab7b40c72493ULL, 0x3c9ebe0a15c9bebcULL,
    0x431d67c49c100d4cULL, 0x4cc5d4becb3e42b6ULL, 0x597f299cfc657e2aULL, 0x5fcb6fab3ad6faecULL, 0x6c44198c4a475817ULL,
};

#define BSIG0(x) (Rotr64(x, 28) ^ Rotr64(x, 34) ^ Rotr64(x, 39))
#define BSIG1(x) (Rotr64(x, 14) ^ Rotr64(x, 18) ^ Rotr64(x, 41))
#define SSIG0(x) (Rotr64(x, 1) ^ Rotr64(x, 8) ^ ((x) >> 7))
#define SSIG1(x) (Rotr64(x, 19) ^ Rotr64(x, 61) ^ ((x) >> 6))
// The schedule lives in a rolling window of 16 words, X[k] holding word
// i + k of the 16-round group that starts at round i. The first group loads
// the words; each later group expands word i + k in place over word
// i + k - 16 just before its round. A group's 16 rounds are spelled out with
// literal k, so every window index is a constant and the eight working
// words stay in registers; the later groups share one loop body.
#define LOAD_W(k) (X[k] = LoadBE64(p + 8 * (k)))
#define EXPAND_W(k) (X[k] += SSIG1(X[((k) + 14) & 15]) + X[((k) + 9) & 15] + SSIG0(X[((k) + 1) & 15]))
// Maj(a, b, c) = b ^ ((a ^ b) & (b ^ c)), and this round's b ^ c is the
// previous round's a ^ b: "bc" carries it from round to round.
#define ROUND(a, b, c, d, e, f, g, h, k, w)                                           \
    do {                                                                              \
        const uint64_t t1 = h + BSIG1(e) + ((g) ^ ((e) & ((f) ^ (g)))) + Kg[k] + (w); \
        const uint64_t ab = (a) ^ (b);                                                \
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

void Compress(uint64_t* hs, const uint8_t* p, size_t blocks) {
    for (; blocks; --blocks, p += 128) {
        uint64_t X[16];
        uint64_t a = hs[0], b = hs[1], c = hs[2], d = hs[3], e = hs[4], f = hs[5], g = hs[6], h = hs[7];
        uint64_t bc = b ^ c;
        const uint64_t* Kg = K;
        ROUND16(LOAD_W);
        for (Kg += 16; Kg != K + 80; Kg += 16) {
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

}  // namespace

int SHA512Init(SHA512_STATE** ppState) {
    static constexpr uint64_t H0[8] = {0x6a09e667f3bcc908ULL, 0xbb67ae8584caa73bULL, 0x3c6ef372fe94f82bULL,
                                       0xa54ff53a5f1d36f1ULL, 0x510e527fade682d1ULL, 0x9b05688c2b3e6c1fULL,
                                       0x1f83d9abfb41bd6bULL, 0x5be0cd19137e2179ULL};
    if (!ppState) return 0;
    SHA512_STATE* s = new (std::nothrow) SHA512_STATE();
    if (!s) return 0;
    for (int i = 0; i < 8; ++i) s->h[i] = H0[i];
    s->md_len = SHA512_DIGEST_BYTES;
    *ppState = s;
    return ALG_OPENSSL_OK;
}

int SHA512Update(SHA512_STATE* s, const uint8_t* pData, uint32_t len) {
    if (len == 0) return ALG_OPENSSL_OK;
    const uint64_t low = s->Nl + (static_cast<uint64_t>(len) << 3);
    if (low < s->Nl) ++s->Nh;
    s->Nl = low;
    FeedBlocks<128>(s->data, s->num, pData, len, [s](const uint8_t* p, size_t n) { Compress(s->h, p, n); });
    return ALG_OPENSSL_OK;
}

int SHA512Final(uint8_t digest[64], SHA512_STATE* s) {
    if (!digest) return 0;
    uint8_t bits[16];
    StoreBE64(bits, s->Nh);
    StoreBE64(bits + 8, s->Nl);
    PadAndFinish<128, 16>(s->data, s->num, bits, [s](const uint8_t* p, size_t n) { Compress(s->h, p, n); });
    s->num = 0;
    for (int i = 0; i < 8; ++i) StoreBE64(digest + 8 * i, s->h[i]);
    return ALG_OPENSSL_OK;
}
