// Host digests: the standards' examples, OpenSSL as the reference at the
// block boundaries and with random split points, and the SM3 buffering.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "AllocTracker.h"
#include "SoftCrypto.h"
#include "SoftHash.h"
#include "TestBytes.h"

namespace {

// Digest through the HASH_CTX interface, fed in the given piece sizes (the
// rest in one piece).
Bytes OurDigest(uint8_t id, const Bytes& data, const std::vector<size_t>& pieces = {}) {
    HASH_CTX* ctx = nullptr;
    EXPECT_EQ(0u, Hash_Init(&ctx, id));
    // A null data pointer is refused even for length 0: empty input gets a real one.
    static const uint8_t empty = 0;
    const uint8_t* base = data.empty() ? &empty : data.data();
    size_t at = 0;
    for (size_t n : pieces) {
        n = std::min(n, data.size() - at);
        EXPECT_EQ(0u, Hash_Update(ctx, base + at, static_cast<uint32_t>(n)));
        at += n;
    }
    EXPECT_EQ(0u, Hash_Update(ctx, base + at, static_cast<uint32_t>(data.size() - at)));
    Bytes out(SOFT_MAX_DIGEST_BYTES);
    uint32_t len = 0;
    EXPECT_EQ(0u, Hash_Final(ctx, out.data(), &len));
    out.resize(len);
    return out;
}

Bytes EvpDigest(const char* name, const Bytes& data) {
    EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int len = 0;
    EXPECT_EQ(1, EVP_Digest(data.data(), data.size(), out.data(), &len, md, nullptr));
    EVP_MD_free(md);
    out.resize(len);
    return out;
}

// The reference of an id: one OpenSSL digest, or SHA-1 then MD5 for id 14.
Bytes Reference(uint8_t id, const Bytes& data) {
    switch (id) {
    case SOFT_HASH_MD5: return EvpDigest("MD5", data);
    case SOFT_HASH_SHA1: return EvpDigest("SHA1", data);
    case SOFT_HASH_SHA256: return EvpDigest("SHA256", data);
    case SOFT_HASH_SHA512: return EvpDigest("SHA512", data);
    case VM_ALG_SM3: return EvpDigest("SM3", data);
    default: {
        Bytes pair = EvpDigest("SHA1", data), md5 = EvpDigest("MD5", data);
        pair.insert(pair.end(), md5.begin(), md5.end());
        return pair;
    }
    }
}

const uint8_t ALL_IDS[] = {SOFT_HASH_MD5, SOFT_HASH_SHA1, SOFT_HASH_SHA256, SOFT_HASH_SHA512, SOFT_HASH_SHA1_MD5,
                           VM_ALG_SM3};

struct KnownAnswer {
    uint8_t id;
    std::string message;
    const char* digest;
};

TEST(SoftHash, StandardExamplesWholeAndBytewise) {
    const std::string m448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    const std::string m896 =
        "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";
    const KnownAnswer cases[] = {
        // RFC 1321, appendix A.5
        {SOFT_HASH_MD5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {SOFT_HASH_MD5, "a", "0cc175b9c0f1b6a831c399e269772661"},
        {SOFT_HASH_MD5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {SOFT_HASH_MD5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {SOFT_HASH_MD5, "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {SOFT_HASH_MD5, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {SOFT_HASH_MD5, "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        // FIPS 180-4 examples
        {SOFT_HASH_SHA1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {SOFT_HASH_SHA1, m448, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {SOFT_HASH_SHA256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {SOFT_HASH_SHA256, m448, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {SOFT_HASH_SHA512, "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
         "454d4423643ce80e2a9ac94fa54ca49f"},
        {SOFT_HASH_SHA512, m896,
         "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433a"
         "c7d329eeb6dd26545e96e55b874be909"},
        // GM/T 0004 examples A.1 and A.2
        {VM_ALG_SM3, "abc", "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0"},
        {VM_ALG_SM3, "abcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcd",
         "debe9ff92275b8a138604889c18e5a4d6fdb70e5387e5765293dcba39c0c5732"},
    };
    for (const auto& c : cases) {
        const Bytes data = FromText(c.message);
        EXPECT_EQ(c.digest, ToHex(OurDigest(c.id, data))) << int(c.id) << " \"" << c.message << "\"";
        EXPECT_EQ(c.digest, ToHex(OurDigest(c.id, data, std::vector<size_t>(data.size(), 1))))
            << int(c.id) << " bytewise \"" << c.message << "\"";
    }
}

TEST(SoftHash, BoundaryLengthsAndRandomSplitsMatchOpenSSL) {
    std::mt19937 rng(20240611);
    const size_t lengths[] = {0, 1, 55, 56, 63, 64, 65, 111, 112, 119, 120, 127, 128, 129, 191, 192, 1000, 4099};
    for (uint8_t id : ALL_IDS) {
        for (size_t len : lengths) {
            const Bytes data = RandomBytes(rng, len);
            const Bytes expected = Reference(id, data);
            EXPECT_EQ(ToHex(expected), ToHex(OurDigest(id, data))) << "id " << int(id) << " len " << len;
            std::vector<size_t> pieces;
            for (size_t left = len; left > 0;) {
                const size_t n = std::min<size_t>(left, rng() % 150);
                pieces.push_back(n);
                left -= n;
            }
            EXPECT_EQ(ToHex(expected), ToHex(OurDigest(id, data, pieces))) << "id " << int(id) << " len " << len
                                                                           << " in " << pieces.size() << " pieces";
        }
    }
}

TEST(SoftHash, Sha1Md5PairIsSha1ThenMd5) {
    const Bytes data = FromText("abc");
    const Bytes pair = OurDigest(SOFT_HASH_SHA1_MD5, data);
    ASSERT_EQ(36u, pair.size());
    EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d900150983cd24fb0d6963f7d28e17f72", ToHex(pair));
}

TEST(SoftHash, Sm3KeepsAFullBufferForTheFinalStep) {
    SM3_STATE st;
    SM3Init(&st);
    const Bytes block(64, 0x61);
    uint32_t len = 64;
    ASSERT_EQ(1, SM3Update(&st, block.data(), &len));
    EXPECT_EQ(64u, st.fill);  // nothing compressed yet
    EXPECT_EQ(0u, st.count);
    uint8_t digest[32];
    ASSERT_EQ(1, SM3Final(digest, &st));
    EXPECT_EQ(ToHex(EvpDigest("SM3", block)), ToHex(digest, 32));

    // A null data pointer changes nothing.
    SM3_STATE a, b;
    SM3Init(&a);
    SM3Init(&b);
    len = 3;
    SM3Update(&a, reinterpret_cast<const uint8_t*>("abc"), &len);
    SM3Update(&b, reinterpret_cast<const uint8_t*>("abc"), &len);
    uint32_t big = 1000;
    EXPECT_EQ(1, SM3Update(&a, nullptr, &big));
    uint8_t da[32], db[32];
    SM3Final(da, &a);
    SM3Final(db, &b);
    EXPECT_EQ(ToHex(db, 32), ToHex(da, 32));
}

// The bit length must be computed in 64 bits: from 512 MiB on it no longer fits in 32.
TEST(SoftHash, Sm3OfHalfAGibibyteAndMore) {
    std::mt19937 rng(7);
    const Bytes chunk = RandomBytes(rng, 1 << 20);
    SM3_STATE st;
    SM3Init(&st);
    EVP_MD_CTX* ref = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ref, EVP_sm3(), nullptr);
    const uint32_t len = static_cast<uint32_t>(chunk.size());
    for (int i = 0; i < 512; ++i) {
        SM3Update(&st, chunk.data(), &len);
        EVP_DigestUpdate(ref, chunk.data(), chunk.size());
    }
    const uint32_t tail = 5;
    SM3Update(&st, chunk.data(), &tail);
    EVP_DigestUpdate(ref, chunk.data(), tail);
    uint8_t ours[32], theirs[32];
    SM3Final(ours, &st);
    EVP_DigestFinal_ex(ref, theirs, nullptr);
    EVP_MD_CTX_free(ref);
    EXPECT_EQ(ToHex(theirs, 32), ToHex(ours, 32));
}

TEST(SoftHash, Sm3DoesNotAllocate) {
    const Bytes data(64 * 1024 + 17, 0x5a);
    SM3_STATE st;
    uint8_t digest[32];
    StartAllocTracking();
    SM3Init(&st);
    const uint32_t len = static_cast<uint32_t>(data.size());
    SM3Update(&st, data.data(), &len);
    SM3Final(digest, &st);
    const AllocStats stats = StopAllocTracking();
    EXPECT_EQ(0u, stats.allocations);
}

// Every digest state is freed exactly once, MD5's by MD5Final alone.
TEST(SoftHash, EachStateIsFreedOnce) {
    for (uint8_t id : ALL_IDS) {
        StartAllocTracking();
        HASH_CTX* ctx = nullptr;
        ASSERT_EQ(0u, Hash_Init(&ctx, id));
        Hash_Update(ctx, reinterpret_cast<const uint8_t*>("abc"), 3);
        uint8_t out[64];
        uint32_t len = 0;
        ASSERT_EQ(0u, Hash_Final(ctx, out, &len));
        // A context that is released unfinished frees its states too.
        HASH_CTX* unfinished = nullptr;
        ASSERT_EQ(0u, Hash_Init(&unfinished, id));
        Hash_Free(unfinished);
        const AllocStats stats = StopAllocTracking();
        EXPECT_EQ(0u, stats.badFrees) << "id " << int(id);
        EXPECT_EQ(stats.allocations, stats.frees) << "id " << int(id);
    }
}

TEST(SoftHash, Md5OneShotEqualsStreaming) {
    const Bytes data = FromText("message digest");
    uint8_t oneShot[16];
    ASSERT_EQ(1, MD5Digest(data.data(), static_cast<uint32_t>(data.size()), oneShot));
    MD5_STATE* st = nullptr;
    ASSERT_EQ(1, MD5Init(&st));
    MD5Update(st, data.data(), 7);
    MD5Update(st, data.data() + 7, static_cast<uint32_t>(data.size() - 7));
    uint8_t streamed[16];
    ASSERT_EQ(1, MD5Final(st, streamed));  // frees st
    EXPECT_EQ(ToHex(oneShot, 16), ToHex(streamed, 16));
    EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", ToHex(streamed, 16));
}

}  // namespace
