// Host ciphers: the standards' known answers, OpenSSL's EVP ciphers as the
// reference on random data, keys and split points, and the streaming and
// padding rules of the contexts.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "SoftCrypto.h"
#include "SymCipher.h"
#include "TestBytes.h"

namespace {

struct CipherRun {
    uint32_t code;   // first failing result, 0 when all succeeded
    Bytes out;       // update output, then final output
    uint32_t finalLen;
};

uint32_t BlockOf(uint8_t alg) { return alg == SOFT_ALG_SM4 ? 16 : alg == SOFT_ALG_RC4 ? 1 : 8; }

// Runs a whole context: init, updates in the given pieces (the rest in one
// piece), final. A failed final leaves the context with us: release it.
CipherRun RunCipher(uint8_t alg, uint32_t mode, bool decrypt, const Bytes& key, const uint8_t* iv, const Bytes& data,
              const std::vector<size_t>& pieces = {}) {
    CipherRun r{0, {}, 0};
    SYMKEY_CTX* ctx = nullptr;
    r.code = decrypt ? SymDecryptInit(&ctx, alg, mode, key.data(), iv) : SymEncryptInit(&ctx, alg, mode, key.data(), iv);
    if (r.code) return r;
    const uint8_t dummy = 0;
    size_t at = 0;
    auto feed = [&](size_t n) {
        Bytes out(n + 16);
        uint32_t outLen = 0xdead;
        const uint8_t* in = n ? data.data() + at : &dummy;
        const uint32_t code = SymKeyUpdate(ctx, in, static_cast<uint32_t>(n), out.data(), &outLen);
        if (code == 0) r.out.insert(r.out.end(), out.begin(), out.begin() + outLen);
        at += n;
        return code;
    };
    for (size_t n : pieces) {
        if ((r.code = feed(std::min(n, data.size() - at)))) break;
    }
    if (!r.code) r.code = feed(data.size() - at);
    if (r.code) {
        SymKeyFree(ctx);
        return r;
    }
    uint8_t last[16];
    r.code = SymKeyFinal(ctx, last, &r.finalLen);
    if (r.code) {
        SymKeyFree(ctx);
        return r;
    }
    r.out.insert(r.out.end(), last, last + r.finalLen);
    return r;
}

std::vector<size_t> RandomPieces(std::mt19937& rng, size_t len) {
    std::vector<size_t> pieces;
    for (size_t left = len; left > 0;) {
        const size_t n = std::min<size_t>(left, rng() % 40);
        pieces.push_back(n);
        left -= n;
    }
    return pieces;
}

// OpenSSL's EVP with its default PKCS padding; single DES as triple DES
// with three equal keys (the static library carries no legacy provider).
Bytes Evp(uint8_t alg, uint32_t mode, bool decrypt, const Bytes& key, const Bytes& iv, const Bytes& data) {
    const bool ecb = mode == SOFT_MODE_ECB;
    const EVP_CIPHER* cipher = nullptr;
    Bytes k = key;
    switch (alg) {
    case SOFT_ALG_DES:
        k = Bytes();
        for (int i = 0; i < 3; ++i) k.insert(k.end(), key.begin(), key.begin() + 8);
        cipher = ecb ? EVP_des_ede3_ecb() : EVP_des_ede3_cbc();
        break;
    case SOFT_ALG_DES2: cipher = ecb ? EVP_des_ede_ecb() : EVP_des_ede_cbc(); break;
    case SOFT_ALG_DES3: cipher = ecb ? EVP_des_ede3_ecb() : EVP_des_ede3_cbc(); break;
    default: cipher = ecb ? EVP_sm4_ecb() : EVP_sm4_cbc(); break;
    }
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EXPECT_EQ(1, EVP_CipherInit_ex(ctx, cipher, nullptr, k.data(), ecb ? nullptr : iv.data(), decrypt ? 0 : 1));
    Bytes out(data.size() + 32);
    int n1 = 0, n2 = 0;
    EXPECT_EQ(1, EVP_CipherUpdate(ctx, out.data(), &n1, data.data(), static_cast<int>(data.size())));
    EXPECT_EQ(1, EVP_CipherFinal_ex(ctx, out.data() + n1, &n2));
    EVP_CIPHER_CTX_free(ctx);
    out.resize(n1 + n2);
    return out;
}

// RC4 as its description has it: the independent reference for the stream cipher.
Bytes ReferenceRc4(const Bytes& key, const Bytes& data) {
    uint8_t s[256];
    for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % 16]) & 255;
        std::swap(s[i], s[j]);
    }
    Bytes out(data.size());
    for (size_t n = 0, i = 0, j = 0; n < data.size(); ++n) {
        i = (i + 1) & 255;
        j = (j + s[i]) & 255;
        std::swap(s[i], s[j]);
        out[n] = data[n] ^ s[(s[i] + s[j]) & 255];
    }
    return out;
}

size_t KeyBytes(uint8_t alg) {
    switch (alg) {
    case SOFT_ALG_DES: return 8;
    case SOFT_ALG_DES3: return 24;
    default: return 16;
    }
}

// ---- known answers

struct BlockAnswer {
    const char* name;
    uint8_t alg;
    uint32_t mode;
    const char* key;
    const char* iv;
    const char* plain;
    const char* cipher;
};

TEST(SymCipher, KnownAnswers) {
    const BlockAnswer cases[] = {
        // NIST SP 800-20: variable plaintext, inverse permutation, substitution table
        {"des vpt 1", SOFT_ALG_DES, 1, "0101010101010101", "", "8000000000000000", "95f8a5e5dd31d900"},
        {"des vpt 2", SOFT_ALG_DES, 1, "0101010101010101", "", "4000000000000000", "dd7f121ca5015619"},
        {"des vkt", SOFT_ALG_DES, 1, "8001010101010101", "", "0000000000000000", "95a8d72813daa94d"},
        {"des sbox", SOFT_ALG_DES, 1, "7ca110454a1a6e57", "", "01a1d6d039776742", "690f5b0d9a26939b"},
        {"des classic", SOFT_ALG_DES, 1, "133457799bbcdff1", "", "0123456789abcdef", "85e813540f0ab405"},
        // FIPS 81 CBC example, "Now is the time for all "
        {"des cbc", SOFT_ALG_DES, 2, "0123456789abcdef", "1234567890abcdef",
         "4e6f77206973207468652074696d6520666f7220616c6c20", "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6"},
        // NIST SP 800-67 example, "The qufck brown fox jump"
        {"tdes", SOFT_ALG_DES3, 1, "0123456789abcdef23456789abcdef01456789abcdef0123", "",
         "54686520717566636b2062726f776e20666f78206a756d70", "a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900"},
        // GM/T 0002, appendix A example 1
        {"sm4", SOFT_ALG_SM4, 1, "0123456789abcdeffedcba9876543210", "", "0123456789abcdeffedcba9876543210",
         "681edf34d206965e86b3e94f536e4246"},
    };
    for (const auto& c : cases) {
        const Bytes key = FromHex(c.key), iv = FromHex(c.iv), plain = FromHex(c.plain), cipher = FromHex(c.cipher);
        const uint8_t* ivp = iv.empty() ? nullptr : iv.data();
        const CipherRun enc = RunCipher(c.alg, c.mode, false, key, ivp, plain);
        ASSERT_EQ(0u, enc.code) << c.name;
        // Whole blocks of input: the ciphertext, then one block of padding.
        EXPECT_EQ(c.cipher, ToHex(Bytes(enc.out.begin(), enc.out.begin() + cipher.size()))) << c.name;
        EXPECT_EQ(BlockOf(c.alg), enc.finalLen) << c.name;
        const CipherRun dec = RunCipher(c.alg, c.mode, true, key, ivp, enc.out);
        ASSERT_EQ(0u, dec.code) << c.name;
        EXPECT_EQ(c.plain, ToHex(dec.out)) << c.name;
    }
}

TEST(SymCipher, Sm4MillionEncryptions) {
    // GM/T 0002, appendix A example 2.
    SM4_STATE st{};
    sm4key(FromHex("0123456789abcdeffedcba9876543210").data(), &st);
    Bytes block = FromHex("0123456789abcdeffedcba9876543210");
    for (int i = 0; i < 1000000; ++i) SM4Block(block.data(), st.rk, block.data());
    EXPECT_EQ("595298c7c6fd271f0402f804c33d3f66", ToHex(block));
}

TEST(SymCipher, TwoKeyTripleDesWithEqualHalvesIsDes) {
    const Bytes k1 = FromHex("133457799bbcdff1");
    Bytes k11 = k1;
    k11.insert(k11.end(), k1.begin(), k1.end());
    const Bytes data = FromText("twenty-four bytes here!!");
    for (uint32_t mode : {SOFT_MODE_ECB, SOFT_MODE_CBC}) {
        EXPECT_EQ(ToHex(RunCipher(SOFT_ALG_DES, mode, false, k1, nullptr, data).out),
                  ToHex(RunCipher(SOFT_ALG_DES2, mode, false, k11, nullptr, data).out));
    }
}

TEST(SymCipher, Sm4CbcWithZeroIvIsEcbForOneBlock) {
    const Bytes key = FromHex("0123456789abcdeffedcba9876543210");
    const Bytes block = FromHex("00112233445566778899aabbccddeeff");
    const Bytes zero(16, 0);
    EXPECT_EQ(ToHex(RunCipher(SOFT_ALG_SM4, SOFT_MODE_ECB, false, key, nullptr, block).out).substr(0, 32),
              ToHex(RunCipher(SOFT_ALG_SM4, SOFT_MODE_CBC, false, key, zero.data(), block).out).substr(0, 32));
}

// ---- the reference on random data

TEST(SymCipher, MatchesOpenSSLOnRandomDataKeysAndSplits) {
    std::mt19937 rng(0x5eed);
    const uint8_t algs[] = {SOFT_ALG_DES, SOFT_ALG_DES2, SOFT_ALG_DES3, SOFT_ALG_SM4};
    for (uint8_t alg : algs) {
        for (uint32_t mode : {SOFT_MODE_ECB, SOFT_MODE_CBC}) {
            for (int round = 0; round < 40; ++round) {
                const Bytes key = RandomBytes(rng, KeyBytes(alg));
                const Bytes iv = RandomBytes(rng, 16);
                const Bytes plain = RandomBytes(rng, rng() % 200);
                const Bytes expected = Evp(alg, mode, false, key, iv, plain);
                const CipherRun enc = RunCipher(alg, mode, false, key, iv.data(), plain, RandomPieces(rng, plain.size()));
                ASSERT_EQ(0u, enc.code);
                ASSERT_EQ(ToHex(expected), ToHex(enc.out)) << "alg " << int(alg) << " mode " << mode << " len "
                                                          << plain.size();
                ASSERT_EQ(ToHex(plain), ToHex(Evp(alg, mode, true, key, iv, enc.out)));
                const CipherRun dec = RunCipher(alg, mode, true, key, iv.data(), expected, RandomPieces(rng, expected.size()));
                ASSERT_EQ(0u, dec.code);
                ASSERT_EQ(ToHex(plain), ToHex(dec.out)) << "alg " << int(alg) << " mode " << mode << " len "
                                                       << plain.size();
            }
        }
    }
}

TEST(SymCipher, Rc4StreamsWithoutPadding) {
    std::mt19937 rng(44);
    for (int round = 0; round < 20; ++round) {
        const Bytes key = RandomBytes(rng, 16);
        const Bytes data = RandomBytes(rng, rng() % 300);
        const CipherRun enc = RunCipher(SOFT_ALG_RC4, 2, false, key, nullptr, data, RandomPieces(rng, data.size()));
        ASSERT_EQ(0u, enc.code);
        EXPECT_EQ(0u, enc.finalLen);
        EXPECT_EQ(ToHex(ReferenceRc4(key, data)), ToHex(enc.out));
        const CipherRun dec = RunCipher(SOFT_ALG_RC4, 1, true, key, nullptr, enc.out);
        EXPECT_EQ(ToHex(data), ToHex(dec.out));
    }
}

// ---- streaming and padding

TEST(SymCipher, DecryptionHoldsItsLastBlockBack) {
    const Bytes key(16, 0x42);
    const Bytes plain(32, 0x07);
    const CipherRun enc = RunCipher(SOFT_ALG_SM4, SOFT_MODE_CBC, false, key, nullptr, plain);
    ASSERT_EQ(0u, enc.code);
    ASSERT_EQ(48u, enc.out.size());  // 32 from the update, 16 of padding from the final step
    EXPECT_EQ(16u, enc.finalLen);

    SYMKEY_CTX* ctx = nullptr;
    ASSERT_EQ(0u, SymDecryptInit(&ctx, SOFT_ALG_SM4, SOFT_MODE_CBC, key.data(), nullptr));
    uint8_t out[64];
    uint32_t outLen = 0;
    ASSERT_EQ(0u, SymKeyUpdate(ctx, enc.out.data(), 16, out, &outLen));
    EXPECT_EQ(0u, outLen);  // one block: held back
    ASSERT_EQ(0u, SymKeyUpdate(ctx, enc.out.data() + 16, 32, out, &outLen));
    EXPECT_EQ(32u, outLen);  // the held block and the next; the last is held again
    uint32_t finalLen = 99;
    ASSERT_EQ(0u, SymKeyFinal(ctx, out + 32, &finalLen));
    EXPECT_EQ(0u, finalLen);  // all padding
    EXPECT_EQ(ToHex(plain), ToHex(out, 32));

    // Fed five bytes at a time: the same 32 bytes in total.
    const CipherRun pieces = RunCipher(SOFT_ALG_SM4, SOFT_MODE_CBC, true, key, nullptr, enc.out,
                                 std::vector<size_t>(10, 5));
    ASSERT_EQ(0u, pieces.code);
    EXPECT_EQ(ToHex(plain), ToHex(pieces.out));
}

// Ciphertext whose decryption ends in the given last block: the update
// output of an encryption of exactly that plaintext.
Bytes EncryptWholeBlocks(uint8_t alg, const Bytes& key, const Bytes& plain) {
    SYMKEY_CTX* ctx = nullptr;
    EXPECT_EQ(0u, SymEncryptInit(&ctx, alg, SOFT_MODE_ECB, key.data(), nullptr));
    Bytes out(plain.size() + 16);
    uint32_t n = 0;
    EXPECT_EQ(0u, SymKeyUpdate(ctx, plain.data(), static_cast<uint32_t>(plain.size()), out.data(), &n));
    SymKeyFree(ctx);
    out.resize(n);
    return out;
}

TEST(SymCipher, EmptyInput) {
    const Bytes key(24, 0x33);
    for (uint8_t alg : {SOFT_ALG_DES, SOFT_ALG_DES3, SOFT_ALG_SM4}) {
        const CipherRun enc = RunCipher(alg, SOFT_MODE_CBC, false, key, nullptr, Bytes());
        ASSERT_EQ(0u, enc.code);
        EXPECT_EQ(BlockOf(alg), enc.out.size());  // one whole block of padding
        const CipherRun dec = RunCipher(alg, SOFT_MODE_CBC, true, key, nullptr, Bytes());
        EXPECT_EQ(0u, dec.code);
        EXPECT_TRUE(dec.out.empty());
    }
    // The padding block of an empty input is sixteen bytes 0x10 before encryption.
    EXPECT_EQ(ToHex(EncryptWholeBlocks(SOFT_ALG_SM4, key, Bytes(16, 0x10))),
              ToHex(RunCipher(SOFT_ALG_SM4, SOFT_MODE_ECB, false, key, nullptr, Bytes()).out));
}

TEST(SymCipher, FinalStepRefusesBadPadding) {
    const Bytes key(24, 0x5c);
    struct Case {
        const char* name;
        uint8_t alg;
        Bytes lastBlock;
    };
    const Case bad[] = {
        {"sm4 last byte 0", SOFT_ALG_SM4, Bytes(16, 0x00)},
        {"sm4 last byte 0x11", SOFT_ALG_SM4, Bytes(16, 0x11)},
        {"sm4 inconsistent", SOFT_ALG_SM4, FromHex("00000000000000000000000003030203")},
        {"des last byte 0", SOFT_ALG_DES, Bytes(8, 0x00)},
        {"des last byte 9", SOFT_ALG_DES3, Bytes(8, 0x09)},
        {"des inconsistent", SOFT_ALG_DES2, FromHex("0000000004040504")},
    };
    for (const auto& c : bad) {
        const CipherRun dec = RunCipher(c.alg, SOFT_MODE_ECB, true, key, nullptr, EncryptWholeBlocks(c.alg, key, c.lastBlock));
        EXPECT_EQ(SOFTCRYPTO_E_FINAL, dec.code) << c.name;
    }
    // Good padding of every length decrypts to the bytes before it.
    for (uint8_t p = 1; p <= 16; ++p) {
        Bytes block(16, 0xab);
        std::fill(block.end() - p, block.end(), p);
        const CipherRun dec = RunCipher(SOFT_ALG_SM4, SOFT_MODE_ECB, true, key, nullptr,
                                  EncryptWholeBlocks(SOFT_ALG_SM4, key, block));
        ASSERT_EQ(0u, dec.code) << int(p);
        EXPECT_EQ(16u - p, dec.out.size());
    }
}

TEST(SymCipher, FinalStepRefusesAPartialBlock) {
    const Bytes key(24, 0x11);
    for (auto [alg, len] : {std::pair<uint8_t, size_t>{SOFT_ALG_SM4, 20}, {SOFT_ALG_SM4, 33}, {SOFT_ALG_DES, 7},
                            {SOFT_ALG_DES3, 12}}) {
        SYMKEY_CTX* ctx = nullptr;
        ASSERT_EQ(0u, SymDecryptInit(&ctx, alg, SOFT_MODE_CBC, key.data(), nullptr));
        const Bytes data(len, 0x01);
        uint8_t out[64];
        uint32_t outLen = 0;
        ASSERT_EQ(0u, SymKeyUpdate(ctx, data.data(), static_cast<uint32_t>(len), out, &outLen));
        uint32_t finalLen = 77;
        EXPECT_EQ(SOFTCRYPTO_E_FINAL, SymKeyFinal(ctx, out, &finalLen)) << int(alg) << " " << len;
        EXPECT_EQ(0u, finalLen);
        SymKeyFree(ctx);  // a failed final leaves the context with its holder
    }
}

}  // namespace
