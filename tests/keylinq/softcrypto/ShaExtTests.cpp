// SHA-1 and SHA-256 on the x86 SHA extensions against the portable code and
// OpenSSL: random data, random lengths and random split points, through the
// HASH_CTX interface. Each path is forced in turn.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>

#include "ShaExt.h"
#include "SoftCrypto.h"
#include "TestBytes.h"

namespace {

// Restores the choice by CPUID when the test ends, whatever it forced.
struct PathGuard {
    ~PathGuard() { softcrypto::ForcePortableSha(false); }
};

Bytes Digest(uint8_t id, const Bytes& data, const std::vector<size_t>& pieces) {
    HASH_CTX* ctx = nullptr;
    EXPECT_EQ(0u, Hash_Init(&ctx, id));
    static const uint8_t empty = 0;
    const uint8_t* base = data.empty() ? &empty : data.data();
    size_t at = 0;
    for (size_t n : pieces) {
        EXPECT_EQ(0u, Hash_Update(ctx, base + at, static_cast<uint32_t>(n)));
        at += n;
    }
    Bytes out(SOFT_MAX_DIGEST_BYTES);
    uint32_t len = 0;
    EXPECT_EQ(0u, Hash_Final(ctx, out.data(), &len));
    out.resize(len);
    return out;
}

Bytes Reference(uint8_t id, const Bytes& data) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int len = 0;
    const EVP_MD* md = id == SOFT_HASH_SHA1 ? EVP_sha1() : EVP_sha256();
    EXPECT_EQ(1, EVP_Digest(data.data(), data.size(), out.data(), &len, md, nullptr));
    out.resize(len);
    return out;
}

// Pieces of random sizes (0 included) that add up to len; sometimes whole
// blocks at once, so that multi-block runs start at odd offsets too.
std::vector<size_t> RandomPieces(std::mt19937& rng, size_t len) {
    std::vector<size_t> pieces;
    for (size_t left = len; left > 0;) {
        size_t n = rng() % 4 == 0 ? 64 * (rng() % 9) + rng() % 3 : rng() % 130;
        n = std::min(n, left);
        pieces.push_back(n);
        left -= n;
    }
    return pieces;
}

TEST(ShaExtensions, ForcingThePortablePathTurnsThemOff) {
    PathGuard guard;
    softcrypto::ForcePortableSha(true);
    EXPECT_FALSE(softcrypto::UseShaExtensions());
}

TEST(ShaExtensions, BothPathsMatchOpenSSLOnRandomDataAndSplits) {
    PathGuard guard;
    softcrypto::ForcePortableSha(false);
    const bool haveExtensions = softcrypto::UseShaExtensions();
    if (!haveExtensions) std::printf("note: no SHA extensions on this processor; the portable path only\n");
    std::mt19937 rng(20240917);
    std::vector<size_t> lengths = {0, 1, 55, 56, 63, 64, 65, 119, 120, 127, 128, 129, 191, 192, 193, 1000, 4096, 4099};
    for (int i = 0; i < 40; ++i) lengths.push_back(rng() % 3000);
    for (uint8_t id : {SOFT_HASH_SHA1, SOFT_HASH_SHA256}) {
        for (size_t len : lengths) {
            const Bytes data = RandomBytes(rng, len);
            const std::string expected = ToHex(Reference(id, data));
            const std::vector<size_t> whole = {len}, pieces = RandomPieces(rng, len);
            for (bool portable : {true, false}) {
                if (!portable && !haveExtensions) continue;
                softcrypto::ForcePortableSha(portable);
                const char* path = portable ? "portable" : "SHA extensions";
                EXPECT_EQ(expected, ToHex(Digest(id, data, whole))) << path << " id " << int(id) << " len " << len;
                EXPECT_EQ(expected, ToHex(Digest(id, data, pieces)))
                    << path << " id " << int(id) << " len " << len << " in " << pieces.size() << " pieces";
            }
        }
    }
}

}  // namespace
