// SHA-256 (FIPS 180-4).
#include <new>

#include "HashBytes.h"
#include "HashStream.h"
#include "SoftHash.h"

using namespace softcrypto;

namespace {

constexpr uint32_t K[64] = {
    0x428a2f98u, 0x71374491u, 0xb5c0fbcfu, 0xe9b5dba5u, 0x3956c25bu, 0x59f111f1u, 0x923f82a4u, 0xab1c5ed5u,
    0xd807aa98u, 0x12835b01u, 0x243185beu, 0x550c7dc3u, 0x72be5d74u, 0x80deb1feu, 0x9bdc06a7u, 0xc19bf174u,
    0xe49b69c1u, 0xefbe4786u, 0x0fc19dc6u, 0x240ca1ccu, 0x2de92c6fu, 0x4a7484aau, 0x5cb0a9dcu, 0x76f988dau,
    0x983e5152u, 0xa831c66du, 0xb00327c8u, 0xbf597fc7u, 0xc6e00bf3u, 0xd5a79147u, 0x06ca6351u, 0x14292967u,
    0x27b70a85u, 0x2e1b2138u, 0x4d2c6dfcu, 0x53380d13u, 0x650a7354u, 0x766a0abbu, 0x81c2c92eu, 0x92722c85u,
    0xa2bfe8a1u, 0xa81a664bu, 0xc24b8b70u, 0xc76c51a3u, 0xd192e819u, 0xd6990624u, 0xf40e3585u, 0x106aa070u,
    0x19a4c116u, 0x1e376c08u, 0x2748774cu, 0x34b0bcb5u, 0x391c0cb3u, 0x4ed8aa4au, 0x5b9cca4fu, 0x682e6ff3u,
    0x748f82eeu, 0x78a5636fu, 0x84c87814u, 0x8cc70208u, 0x90befffau, 0xa4506cebu, 0xbef9a3f7u, 0xc67178f2u,
};

#define BSIG0(x) (Rotr32(x, 2) ^ Rotr32(x, 13) ^ Rotr32(x, 22))
#define BSIG1(x) (Rotr32(x, 6) ^ Rotr32(x, 11) ^ Rotr32(x, 25))
#define SSIG0(x) (Rotr32(x, 7) ^ Rotr32(x, 18) ^ ((x) >> 3))
#define SSIG1(x) (Rotr32(x, 17) ^ Rotr32(x, 19) ^ ((x) >> 10))
#define ROUND(a, b, c, d, e, f, g, h, i)                                        \
    do {                                                                        \
        uint32_t t1 = h + BSIG1(e) + ((g) ^ ((e) & ((f) ^ (g)))) + K[i] + W[i]; \
        uint32_t t2 = BSIG0(a) + (((a) & (b)) | ((c) & ((a) | (b))));           \
        d += t1;                                                                \
        h = t1 + t2;                                                            \
    } while (0)

void Compress(uint32_t* hs, const uint8_t* p, size_t blocks) {
    for (; blocks; --blocks, p += 64) {
        uint32_t W[64];
        for (int i = 0; i < 16; ++i) W[i] = LoadBE32(p + 4 * i);
#pragma GCC unroll 16
        for (int i = 16; i < 64; ++i) W[i] = SSIG1(W[i - 2]) + W[i - 7] + SSIG0(W[i - 15]) + W[i - 16];
        uint32_t a = hs[0], b = hs[1], c = hs[2], d = hs[3], e = hs[4], f = hs[5], g = hs[6], h = hs[7];
#pragma GCC unroll 16
        for (int i = 0; i < 64; i += 8) {
            ROUND(a, b, c, d, e, f, g, h, i);
            ROUND(h, a, b, c, d, e, f, g, i + 1);
            ROUND(g, h, a, b, c, d, e, f, i + 2);
            ROUND(f, g, h, a, b, c, d, e, i + 3);
            ROUND(e, f, g, h, a, b, c, d, i + 4);
            ROUND(d, e, f, g, h, a, b, c, i + 5);
            ROUND(c, d, e, f, g, h, a, b, i + 6);
            ROUND(b, c, d, e, f, g, h, a, i + 7);
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
    const uint32_t low = s->Nl + (len << 3);
    if (low < s->Nl) ++s->Nh;
    s->Nh += len >> 29;
    s->Nl = low;
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
