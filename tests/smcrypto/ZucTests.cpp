// ZUC keystream against the published test data, and the "zuc" cipher record.
//
// Vectors: "Specification of the 3GPP Confidentiality and Integrity
// Algorithms 128-EEA3 & 128-EIA3, Document 3: Implementor's Test Data"
// (ETSI/SAGE), section "ZUC", test sets 1 to 4; the same algorithm is
// GM/T 0001-2012.
#include "TestBytes.h"
#include "sm_registration.h"
#include "zuc.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

using namespace smcrypto;

namespace {

struct ZucVector {
    const char* key;
    const char* iv;
    uint32_t z1, z2;
    uint32_t z2000;  // 0: not published for this set
};
const ZucVector kVectors[] = {
    {"00000000000000000000000000000000", "00000000000000000000000000000000", 0x27bede74, 0x018082da, 0},
    {"ffffffffffffffffffffffffffffffff", "ffffffffffffffffffffffffffffffff", 0x0657cfa0, 0x7096398b, 0},
    {"3d4c4be96a82fdaeb58f641db17b455b", "84319aa8de6915ca1f6bda6bfbd8c766", 0x14f1c272, 0x3279c419, 0},
    {"4d320bfad4c285bfd6b8bd00f39d8b41", "52959daba0bf176ece2dc315049eb574", 0xed4400e7, 0x0633e5c5, 0x7a574cdb},
};

Bytes EvpZuc(const Bytes& key, const Bytes& iv, const Bytes& in, std::initializer_list<size_t> calls) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(in.size());
    EXPECT_EQ(1, EVP_EncryptInit_ex(ctx, SMCipherZuc(), nullptr, key.data(), iv.data()));
    size_t pos = 0;
    for (size_t n : calls) {
        int written = 0;
        EXPECT_EQ(1, EVP_EncryptUpdate(ctx, out.data() + pos, &written, in.data() + pos, int(n)));
        EXPECT_EQ(int(n), written);
        pos += n;
    }
    EVP_CIPHER_CTX_free(ctx);
    return out;
}

}  // namespace

TEST(Zuc, PublishedKeystreams) {
    for (const auto& v : kVectors) {
        ZUC_CTX ctx;
        ZUC_Init(FromHex(v.key).data(), FromHex(v.iv).data(), &ctx);
        EXPECT_EQ(v.z1, ZUC_GenerateWord(&ctx)) << v.key;
        EXPECT_EQ(v.z2, ZUC_GenerateWord(&ctx)) << v.key;
        if (v.z2000) {
            uint32_t z = 0;
            for (int i = 3; i <= 2000; ++i) z = ZUC_GenerateWord(&ctx);
            EXPECT_EQ(v.z2000, z) << v.key;
        }
    }
}

TEST(Zuc, CipherRecordXorsKeystreamFreshWordPerCall) {
    ASSERT_NE(nullptr, SMCipherZuc());
    const Bytes key = FromHex(kVectors[3].key), iv = FromHex(kVectors[3].iv);
    const Bytes zero(8, 0);
    // Encrypting zeros shows the keystream: z1 then z2, most significant byte first.
    EXPECT_EQ("ED4400E70633E5C5", ToHex(EvpZuc(key, iv, zero, {8})));

    const Bytes plain = RandomBytes(8);
    const Bytes once = EvpZuc(key, iv, plain, {8});
    EXPECT_EQ(ToHex(once), ToHex(EvpZuc(key, iv, plain, {4, 4})));
    EXPECT_NE(ToHex(once), ToHex(EvpZuc(key, iv, plain, {3, 5})));
    // 3 + 5: the second call starts on z2, the last byte of z1 is dropped.
    EXPECT_EQ("ED4400" "0633E5C5", ToHex(EvpZuc(key, iv, zero, {3, 5})).substr(0, 14));

    // Decryption is the same XOR.
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes back(8);
    int n = 0;
    ASSERT_EQ(1, EVP_DecryptInit_ex(ctx, SMCipherZuc(), nullptr, key.data(), iv.data()));
    ASSERT_EQ(1, EVP_DecryptUpdate(ctx, back.data(), &n, once.data(), 8));
    EVP_CIPHER_CTX_free(ctx);
    EXPECT_EQ(ToHex(plain), ToHex(back));
}

TEST(Zuc, CipherNeedsKeyAndIv) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const Bytes key(16, 1);
    EXPECT_EQ(1, EVP_EncryptInit_ex(ctx, SMCipherZuc(), nullptr, nullptr, nullptr));  // cipher chosen only
    EXPECT_NE(1, EVP_EncryptInit_ex(ctx, nullptr, nullptr, key.data(), nullptr));
    EVP_CIPHER_CTX_free(ctx);
}
