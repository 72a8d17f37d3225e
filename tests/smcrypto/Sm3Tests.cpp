// SM3 against the GM/T 0004 examples and OpenSSL's own SM3.
#include "TestBytes.h"
#include "sm3.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>

using namespace smcrypto;

namespace {

Bytes OurSm3(const Bytes& m) {
    SM3_CTX ctx;
    Bytes d(32);
    SM3_Init(&ctx);
    SM3_Update(&ctx, m.data(), m.size());
    SM3_Final(d.data(), &ctx);
    return d;
}

Bytes OpenSslSm3(const Bytes& m) {
    Bytes d(32);
    unsigned int len = 0;
    EXPECT_EQ(1, EVP_Digest(m.data(), m.size(), d.data(), &len, EVP_sm3(), nullptr));
    return d;
}

struct Sm3Example {
    const char* message;
    const char* digest;
};
// GM/T 0004-2012, Appendix A: "abc" and "abcd" repeated 16 times.
const Sm3Example kExamples[] = {
    {"abc", "66C7F0F462EEEDD9D1F2D46BDC10E4E24167C4875CF2F7A2297DA02B8F4BA8E0"},
    {"abcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcd",
     "DEBE9FF92275B8A138604889C18E5A4D6FDB70E5387E5765293DCBA39C0C5732"},
};

}  // namespace

TEST(Sm3, StandardExamplesWholeAndByteByByte) {
    for (const auto& ex : kExamples) {
        const Bytes m = ToBytes(ex.message);
        EXPECT_EQ(ex.digest, ToHex(OurSm3(m))) << ex.message;

        SM3_CTX ctx;
        Bytes d(32);
        SM3_Init(&ctx);
        for (unsigned char c : m) SM3_Update(&ctx, &c, 1);
        SM3_Final(d.data(), &ctx);
        EXPECT_EQ(ex.digest, ToHex(d)) << ex.message << " byte by byte";
    }
}

TEST(Sm3, RandomInputsWithRandomSplitsEqualOpenSsl) {
    std::mt19937 rng(20240517);
    // Lengths around the padding boundaries (55, 56, 63, 64) and longer ones.
    const size_t lengths[] = {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 1000, 4099};
    for (size_t len : lengths) {
        for (int round = 0; round < 4; ++round) {
            const Bytes m = RandomBytes(len);
            SM3_CTX ctx;
            Bytes d(32);
            SM3_Init(&ctx);
            size_t pos = 0;
            while (pos < len) {
                const size_t step = std::uniform_int_distribution<size_t>(0, len - pos)(rng);
                SM3_Update(&ctx, m.data() + pos, step);
                pos += step;
            }
            SM3_Final(d.data(), &ctx);
            EXPECT_EQ(ToHex(OpenSslSm3(m)), ToHex(d)) << "length " << len;
        }
    }
}

// The bit length of the padding is 64 bits wide: a message of 2^32 bits
// (512 MiB) and more must still hash like OpenSSL's.
TEST(Sm3, MessageLengthBeyond32BitsOfBitCount) {
    const size_t chunk = 1 << 20;
    const Bytes block = RandomBytes(chunk);
    SM3_CTX ours;
    SM3_Init(&ours);
    EVP_MD_CTX* ref = EVP_MD_CTX_new();
    ASSERT_EQ(1, EVP_DigestInit_ex(ref, EVP_sm3(), nullptr));
    for (int i = 0; i < 512; ++i) {
        SM3_Update(&ours, block.data(), chunk);
        EVP_DigestUpdate(ref, block.data(), chunk);
    }
    SM3_Update(&ours, block.data(), 5);
    EVP_DigestUpdate(ref, block.data(), 5);
    Bytes a(32), b(32);
    SM3_Final(a.data(), &ours);
    EVP_DigestFinal_ex(ref, b.data(), nullptr);
    EVP_MD_CTX_free(ref);
    EXPECT_EQ(ToHex(b), ToHex(a));
}

TEST(Sm3, NullContextFails) {
    unsigned char d[32];
    EXPECT_EQ(0, SM3_Init(nullptr));
    EXPECT_EQ(0, SM3_Update(nullptr, d, 1));
    EXPECT_EQ(0, SM3_Final(d, nullptr));
}
