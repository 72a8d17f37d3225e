// SM4 against the GM/T 0002 example and OpenSSL's own SM4-CBC.
#include "TestBytes.h"
#include "sm4.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

using namespace smcrypto;

namespace {

// GM/T 0002-2012, Appendix A: key and plaintext are the same 16 bytes.
const char kKeyHex[] = "0123456789ABCDEFFEDCBA9876543210";
const char kCipherOnce[] = "681EDF34D206965E86B3E94F536E4246";
const char kCipherMillion[] = "595298C7C6FD271F0402F804C33D3F66";

void Words(const Bytes& b, uint32_t w[4]) {
    for (int i = 0; i < 4; ++i)
        w[i] = (uint32_t(b[4 * i]) << 24) | (uint32_t(b[4 * i + 1]) << 16) | (uint32_t(b[4 * i + 2]) << 8) |
               b[4 * i + 3];
}
std::string WordsHex(const uint32_t w[4]) {
    Bytes b;
    for (int i = 0; i < 4; ++i)
        for (int j = 3; j >= 0; --j) b.push_back((unsigned char)(w[i] >> (8 * j)));
    return ToHex(b);
}

Bytes OurCbc(const Bytes& key, const Bytes& iv, const Bytes& in, int encrypt) {
    uint32_t k[4], rk[32];
    Words(key, k);
    SM4KeySchedule(k, rk);
    if (!encrypt) SM4ReverseRoundKeys(rk);
    Bytes chain = iv, out(in.size());
    for (size_t i = 0; i + 16 <= in.size(); i += 16) SM4CbcBytes(&in[i], rk, chain.data(), &out[i], encrypt);
    return out;
}

Bytes OpenSslCbc(const Bytes& key, const Bytes& iv, const Bytes& in, int encrypt) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(in.size() + 16);
    int n1 = 0, n2 = 0;
    EXPECT_EQ(1, EVP_CipherInit_ex(ctx, EVP_sm4_cbc(), nullptr, key.data(), iv.data(), encrypt));
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EXPECT_EQ(1, EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), int(in.size())));
    EXPECT_EQ(1, EVP_CipherFinal_ex(ctx, out.data() + n1, &n2));
    EVP_CIPHER_CTX_free(ctx);
    out.resize(size_t(n1 + n2));
    return out;
}

}  // namespace

TEST(Sm4, StandardExampleOnceAndMillionTimes) {
    uint32_t key[4], rk[32], block[4];
    Words(FromHex(kKeyHex), key);
    Words(FromHex(kKeyHex), block);
    SM4KeySchedule(key, rk);

    uint32_t out[4];
    SM4Block(block, rk, out);
    EXPECT_EQ(kCipherOnce, WordsHex(out));

    uint32_t dec[4], rkDec[32];
    std::copy(rk, rk + 32, rkDec);
    SM4ReverseRoundKeys(rkDec);
    SM4Block(out, rkDec, dec);
    EXPECT_EQ(kKeyHex, WordsHex(dec));

    for (int i = 0; i < 1000000; ++i) {
        SM4Block(block, rk, out);
        std::copy(out, out + 4, block);
    }
    EXPECT_EQ(kCipherMillion, WordsHex(block));
}

TEST(Sm4, CbcOnRandomDataEqualsOpenSsl) {
    for (size_t blocks : {1, 2, 3, 17, 256}) {
        const Bytes key = RandomBytes(16), iv = RandomBytes(16), plain = RandomBytes(16 * blocks);
        const Bytes cipher = OurCbc(key, iv, plain, 1);
        EXPECT_EQ(ToHex(OpenSslCbc(key, iv, plain, 1)), ToHex(cipher)) << blocks << " blocks";
        EXPECT_EQ(ToHex(plain), ToHex(OurCbc(key, iv, cipher, 0))) << blocks << " blocks";
        EXPECT_EQ(ToHex(plain), ToHex(OpenSslCbc(key, iv, cipher, 0))) << blocks << " blocks";
    }
}

// In-place CBC on words (output over input) keeps the chaining right.
TEST(Sm4, CbcBlockInPlace) {
    const Bytes key = RandomBytes(16), iv = RandomBytes(16), plain = RandomBytes(32);
    uint32_t k[4], rk[32], chain[4], w[2][4];
    Words(key, k);
    SM4KeySchedule(k, rk);
    SM4ReverseRoundKeys(rk);
    const Bytes cipher = OurCbc(key, iv, plain, 1);
    Words(iv, chain);
    Words(Bytes(cipher.begin(), cipher.begin() + 16), w[0]);
    Words(Bytes(cipher.begin() + 16, cipher.end()), w[1]);
    SM4CbcBlock(w[0], rk, chain, w[0], 0);
    SM4CbcBlock(w[1], rk, chain, w[1], 0);
    EXPECT_EQ(ToHex(plain), WordsHex(w[0]) + WordsHex(w[1]));
}
