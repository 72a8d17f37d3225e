// The SoftCrypto interface: its result codes in the order it checks them,
// RSA and SM2 against keys, signatures and decryptions made by OpenSSL, the
// random bytes and the one-shot key-handle ciphers.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <functional>

#include "SoftCrypto.h"
#include "SymKeyHandle.h"
#include "TestBytes.h"

namespace {

// ---- result codes in check order

struct CodeCase {
    const char* name;
    std::function<uint32_t()> call;
    uint32_t expected;
};

TEST(SoftCrypto, ResultCodesInCheckOrder) {
    uint8_t buf[512] = {};
    uint32_t len = 0;
    SYMKEY_CTX* sym = nullptr;
    HASH_CTX* hash = nullptr;
    SOFT_RSA_PUBKEY key{};
    key.nLen = 128;
    key.eLen = 3;
    key.modulus[0] = 0xc1;
    key.modulus[127] = 0x01;
    key.exponent[2] = 3;
    SOFT_RSA_PUBKEY longKey = key;
    longKey.nLen = 257;  // more than its field holds
    SOFT_RSA_PUBKEY longExp = key;
    longExp.eLen = 4096;
    SOFT_RSA_PUBKEY tinyKey = key;
    tinyKey.nLen = 40;  // too short for a padded SHA-512 digest
    tinyKey.modulus[39] = 0x01;  // odd, as a modulus is
    SOFT_RSA_PUBKEY sevenKey = key;
    sevenKey.nLen = 7;
    SYMKEY_CTX unknownSym{buf, 7};
    SYMKEY_CTX stateless{nullptr, SOFT_ALG_SM4};
    HASH_CTX unknownHash{nullptr, nullptr, 15};

    const CodeCase cases[] = {
        {"GenRand null", [&] { return GenRand(4, nullptr, 1); }, SOFTCRYPTO_E_INVALIDARG},
        {"RSA_Verify null key", [&] { return RSA_Verify(nullptr, 99, nullptr, nullptr, 0); }, SOFTCRYPTO_E_INVALIDARG},
        {"RSA_Verify null digest", [&] { return RSA_Verify(&key, 99, nullptr, buf, 128); }, SOFTCRYPTO_E_INVALIDARG},
        {"RSA_Verify null signature", [&] { return RSA_Verify(&key, 99, buf, nullptr, 128); },
         SOFTCRYPTO_E_INVALIDARG},
        // the signature is opened before the id is looked at
        {"RSA_Verify key too long", [&] { return RSA_Verify(&longKey, 99, buf, buf, 128); }, SOFTCRYPTO_E_RSA_KEY},
        {"RSA_Verify exponent too long", [&] { return RSA_Verify(&longExp, 12, buf, buf, 128); },
         SOFTCRYPTO_E_RSA_KEY},
        {"RSA_Verify signature too long", [&] { return RSA_Verify(&key, 99, buf, buf, 129); },
         SOFTCRYPTO_E_RSA_RAW},
        {"RSA_Verify unknown id", [&] { return RSA_Verify(&key, 15, buf, buf, 128); }, SOFTCRYPTO_E_BAD_ALGID},
        {"RSA_Verify key too small", [&] { return RSA_Verify(&tinyKey, 13, buf, buf, 40); }, SOFTCRYPTO_E_BAD_LEN},
        {"RSA_Verify bad signature", [&] { return RSA_Verify(&key, 12, buf, buf, 128); },
         SOFTCRYPTO_E_BAD_SIGNATURE},
        {"RSA_Encrypt null key", [&] { return RSA_Encrypt(nullptr, nullptr, 0, nullptr, nullptr, 1); },
         SOFTCRYPTO_E_INVALIDARG},
        {"RSA_Encrypt null plain", [&] { return RSA_Encrypt(&key, nullptr, 0, buf, &len, 1); },
         SOFTCRYPTO_E_INVALIDARG},
        {"RSA_Encrypt null out", [&] { return RSA_Encrypt(&key, buf, 1, nullptr, &len, 1); },
         SOFTCRYPTO_E_INVALIDARG},
        {"RSA_Encrypt null size", [&] { return RSA_Encrypt(&key, buf, 1, buf, nullptr, 1); },
         SOFTCRYPTO_E_INVALIDARG},
        {"RSA_Encrypt key too long", [&] { return RSA_Encrypt(&longKey, buf, 1, buf, &len, 1); },
         SOFTCRYPTO_E_ENCRYPT},
        {"RSA_Encrypt key too long, raw", [&] { return RSA_Encrypt(&longKey, buf, 1, buf, &len, 2); },
         SOFTCRYPTO_E_ENCRYPT},
        {"RSA_Encrypt key below the padding", [&] { return RSA_Encrypt(&sevenKey, buf, 0, buf, &len, 1); },
         SOFTCRYPTO_E_BAD_LEN},
        {"SM2_GetZVal null", [&] { return SM2_GetZVal(nullptr, buf); }, SOFTCRYPTO_E_INVALIDARG},
        {"SM2_Verify null key", [&] { return SM2_Verify(nullptr, buf, buf, 64); }, SOFTCRYPTO_E_INVALIDARG},
        {"SM2_Verify null digest", [&] { return SM2_Verify(buf, nullptr, buf, 64); }, SOFTCRYPTO_E_INVALIDARG},
        {"SM2_Verify null signature", [&] { return SM2_Verify(buf, buf, nullptr, 64); }, SOFTCRYPTO_E_INVALIDARG},
        {"SM2_Verify 63 bytes", [&] { return SM2_Verify(buf, buf, buf, 63); }, SOFTCRYPTO_E_INVALIDARG},
        {"SM2_Verify 65 bytes", [&] { return SM2_Verify(buf, buf, buf, 65); }, SOFTCRYPTO_E_INVALIDARG},
        {"SM2_Encrypt null key", [&] { return SM2_Encrypt(nullptr, buf, 1, buf, &len); }, SOFTCRYPTO_E_INVALIDARG},
        {"SM2_Encrypt null plain", [&] { return SM2_Encrypt(buf, nullptr, 1, buf, &len); }, SOFTCRYPTO_E_INVALIDARG},
        {"SM2_Encrypt null out", [&] { return SM2_Encrypt(buf, buf, 1, nullptr, &len); }, SOFTCRYPTO_E_INVALIDARG},
        {"SM2_Encrypt null length", [&] { return SM2_Encrypt(buf, buf, 1, buf, nullptr); }, SOFTCRYPTO_E_INVALIDARG},
        {"SM2_Encrypt empty message", [&] { return SM2_Encrypt(buf, buf, 0, buf, &len); }, SOFTCRYPTO_E_INVALIDARG},
        {"SymEncryptInit null slot", [&] { return SymEncryptInit(nullptr, 99, 1, nullptr, nullptr); },
         SOFTCRYPTO_E_INVALIDARG},
        {"SymDecryptInit null key", [&] { return SymDecryptInit(&sym, 99, 1, nullptr, nullptr); },
         SOFTCRYPTO_E_INVALIDARG},
        {"SymEncryptInit id 5", [&] { return SymEncryptInit(&sym, 5, 1, buf, nullptr); }, SOFTCRYPTO_E_BAD_ALGID},
        {"SymKeyUpdate null context", [&] { return SymKeyUpdate(nullptr, nullptr, 0, nullptr, &len); },
         SOFTCRYPTO_E_INVALIDARG},
        {"SymKeyUpdate null input", [&] { return SymKeyUpdate(&unknownSym, nullptr, 0, nullptr, &len); },
         SOFTCRYPTO_E_INVALIDARG},
        {"SymKeyUpdate null output", [&] { return SymKeyUpdate(&unknownSym, buf, 0, nullptr, &len); },
         SOFTCRYPTO_E_INVALIDARG},
        {"SymKeyUpdate unknown id", [&] { return SymKeyUpdate(&unknownSym, buf, 1, buf, &len); },
         SOFTCRYPTO_E_BAD_ALGID},
        {"SymKeyUpdate no state", [&] { return SymKeyUpdate(&stateless, buf, 1, buf, &len); }, SOFTCRYPTO_E_UPDATE},
        {"SymKeyFinal null context", [&] { return SymKeyFinal(nullptr, nullptr, nullptr); }, SOFTCRYPTO_E_INVALIDARG},
        {"SymKeyFinal null output", [&] { return SymKeyFinal(&unknownSym, nullptr, nullptr); },
         SOFTCRYPTO_E_INVALIDARG},
        {"SymKeyFinal null length", [&] { return SymKeyFinal(&unknownSym, buf, nullptr); }, SOFTCRYPTO_E_INVALIDARG},
        {"SymKeyFinal unknown id", [&] { return SymKeyFinal(&unknownSym, buf, &len); }, SOFTCRYPTO_E_BAD_ALGID},
        {"SymKeyFinal no state", [&] { return SymKeyFinal(&stateless, buf, &len); }, SOFTCRYPTO_E_FINAL},
        {"Hash_Init null slot", [&] { return Hash_Init(nullptr, 99); }, SOFTCRYPTO_E_INVALIDARG},
        {"Hash_Init id 15", [&] { return Hash_Init(&hash, 15); }, SOFTCRYPTO_E_BAD_ALGID},
        {"Hash_Init id 9", [&] { return Hash_Init(&hash, 9); }, SOFTCRYPTO_E_BAD_ALGID},
        {"Hash_Update null context", [&] { return Hash_Update(nullptr, nullptr, 0); }, SOFTCRYPTO_E_INVALIDARG},
        {"Hash_Update null data, length 0", [&] { return Hash_Update(&unknownHash, nullptr, 0); },
         SOFTCRYPTO_E_INVALIDARG},
        {"Hash_Update unknown id", [&] { return Hash_Update(&unknownHash, buf, 1); }, SOFTCRYPTO_E_BAD_ALGID},
        {"Hash_Final null context", [&] { return Hash_Final(nullptr, nullptr, nullptr); }, SOFTCRYPTO_E_INVALIDARG},
        {"Hash_Final null digest", [&] { return Hash_Final(&unknownHash, nullptr, nullptr); },
         SOFTCRYPTO_E_INVALIDARG},
        {"Hash_Final null length", [&] { return Hash_Final(&unknownHash, buf, nullptr); }, SOFTCRYPTO_E_INVALIDARG},
        {"Hash_Final unknown id", [&] { return Hash_Final(&unknownHash, buf, &len); }, SOFTCRYPTO_E_BAD_ALGID},
        {"Hash_Digest null input", [&] { return Hash_Digest(99, nullptr, 0, nullptr, nullptr); },
         SOFTCRYPTO_E_INVALIDARG},
        {"Hash_Digest null output", [&] { return Hash_Digest(99, buf, 0, nullptr, nullptr); },
         SOFTCRYPTO_E_INVALIDARG},
        {"Hash_Digest null length", [&] { return Hash_Digest(99, buf, 0, buf, nullptr); }, SOFTCRYPTO_E_INVALIDARG},
        // Only MD5 is computed: any other id is refused, never answered with MD5.
        {"Hash_Digest id 12", [&] { return Hash_Digest(SOFT_HASH_SHA256, buf, 3, buf, &len); },
         SOFTCRYPTO_E_BAD_ALGID},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, c.call()) << c.name;
    EXPECT_EQ(nullptr, sym);
    EXPECT_EQ(nullptr, hash);
}

TEST(SoftCrypto, HashDigestIsMd5) {
    uint8_t out[16];
    uint32_t len = 0;
    ASSERT_EQ(0u, Hash_Digest(SOFT_HASH_MD5, reinterpret_cast<const uint8_t*>("abc"), 3, out, &len));
    EXPECT_EQ(16u, len);
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", ToHex(out, 16));
}

TEST(SoftCrypto, GenRand) {
    Bytes noZero(1 << 20);
    ASSERT_EQ(0u, GenRand(static_cast<uint32_t>(noZero.size()), noZero.data(), 0));
    size_t counts[256] = {};
    for (uint8_t b : noZero) ++counts[b];
    EXPECT_EQ(0u, counts[0]);
    // 0x01 also stands for every drawn 0x00: about twice as often as the others.
    const double others = static_cast<double>(noZero.size() - counts[1]) / 254;
    EXPECT_GT(counts[1], 1.7 * others);
    EXPECT_LT(counts[1], 2.3 * others);

    Bytes raw(1 << 16);
    ASSERT_EQ(0u, GenRand(static_cast<uint32_t>(raw.size()), raw.data(), 1));
    EXPECT_NE(raw.end(), std::find(raw.begin(), raw.end(), 0));
    uint8_t untouched = 0xee;
    EXPECT_EQ(0u, GenRand(0, &untouched, 0));
    EXPECT_EQ(0xee, untouched);
}

// ---- one-shot ciphers of the key handle

TEST(SoftCrypto, OneShotLengths) {
    const Bytes key = FromHex("0123456789abcdeffedcba9876543210");
    uint8_t out[64];
    uint32_t outLen = 99;
    const uint8_t nothing = 0;
    ASSERT_EQ(0u, CSymKeyHandle::Encrypt(SOFT_ALG_SM4, 2, key.data(), nullptr, &nothing, 0, out, &outLen));
    ASSERT_EQ(16u, outLen);  // 0 bytes: one block of padding
    // CBC under a zero IV of one block is ECB: sixteen 0x10 bytes encrypted.
    SYMKEY_CTX* ctx = nullptr;
    SymEncryptInit(&ctx, SOFT_ALG_SM4, SOFT_MODE_ECB, key.data(), nullptr);
    uint8_t ecb[32];
    uint32_t ecbLen = 0;
    const Bytes pad(16, 0x10);
    SymKeyUpdate(ctx, pad.data(), 16, ecb, &ecbLen);
    SymKeyFree(ctx);
    EXPECT_EQ(ToHex(ecb, 16), ToHex(out, 16));

    uint8_t back[64];
    uint32_t backLen = 99;
    ASSERT_EQ(0u, CSymKeyHandle::Decrypt(SOFT_ALG_SM4, 2, key.data(), nullptr, out, 16, back, &backLen));
    EXPECT_EQ(0u, backLen);

    const Bytes block(16, 0xa5);
    ASSERT_EQ(0u, CSymKeyHandle::Encrypt(SOFT_ALG_SM4, 1, key.data(), key.data(), block.data(), 16, out, &outLen));
    ASSERT_EQ(32u, outLen);  // one block: two, whatever mode and IV were named
    ASSERT_EQ(0u, CSymKeyHandle::Decrypt(SOFT_ALG_SM4, 2, key.data(), nullptr, out, 32, back, &backLen));
    EXPECT_EQ(ToHex(block), ToHex(back, backLen));

    const Bytes desKey = FromHex("0123456789abcdef");
    ASSERT_EQ(0u, CSymKeyHandle::Encrypt(SOFT_ALG_DES, 2, desKey.data(), nullptr, block.data(), 16, out, &outLen));
    EXPECT_EQ(24u, outLen);
}

TEST(SoftCrypto, OneShotFailuresReportNoOutput) {
    const Bytes key(16, 1);
    uint8_t out[64];
    uint32_t outLen = 99;
    const Bytes partial(20, 0);
    EXPECT_EQ(SOFTCRYPTO_E_FINAL, CSymKeyHandle::Decrypt(SOFT_ALG_SM4, 2, key.data(), nullptr, partial.data(), 20,
                                                         out, &outLen));
    EXPECT_EQ(0u, outLen);
    outLen = 99;
    EXPECT_EQ(SOFTCRYPTO_E_BAD_ALGID,
              CSymKeyHandle::Encrypt(5, 2, key.data(), nullptr, partial.data(), 20, out, &outLen));
    EXPECT_EQ(0u, outLen);
}

// ---- RSA against OpenSSL

struct RsaKey {
    EVP_PKEY* pkey = nullptr;
    SOFT_RSA_PUBKEY pub{};
    explicit RsaKey(int bits) {
        pkey = EVP_RSA_gen(bits);
        BIGNUM *n = nullptr, *e = nullptr;
        EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_RSA_N, &n);
        EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_RSA_E, &e);
        pub.nLen = static_cast<uint32_t>(BN_num_bytes(n));
        pub.eLen = 4;
        BN_bn2binpad(n, pub.modulus, static_cast<int>(pub.nLen));
        BN_bn2binpad(e, pub.exponent, 4);  // the key's own form: a 4-byte exponent
        BN_free(n);
        BN_free(e);
    }
    ~RsaKey() { EVP_PKEY_free(pkey); }

    // PKCS#1 v1.5 signature of a digest; md null signs the bytes bare.
    Bytes Sign(const EVP_MD* md, const Bytes& digest) const {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(pkey, nullptr);
        EVP_PKEY_sign_init(ctx);
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
        if (md) EVP_PKEY_CTX_set_signature_md(ctx, md);
        size_t len = 512;
        Bytes sig(len);
        EXPECT_EQ(1, EVP_PKEY_sign(ctx, sig.data(), &len, digest.data(), digest.size()));
        EVP_PKEY_CTX_free(ctx);
        sig.resize(len);
        return sig;
    }

    Bytes Decrypt(const Bytes& cipher, int padding) const {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(pkey, nullptr);
        EVP_PKEY_decrypt_init(ctx);
        EVP_PKEY_CTX_set_rsa_padding(ctx, padding);
        size_t len = 512;
        Bytes plain(len);
        const int ok = EVP_PKEY_decrypt(ctx, plain.data(), &len, cipher.data(), cipher.size());
        EVP_PKEY_CTX_free(ctx);
        plain.resize(ok == 1 ? len : 0);
        return plain;
    }
};

Bytes Digest(const EVP_MD* md, const Bytes& data) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int len = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &len, md, nullptr);
    out.resize(len);
    return out;
}

TEST(SoftCrypto, RsaVerifyOpenSSLSignatures) {
    const Bytes message = FromText("renewal session text");
    for (int bits : {1024, 2048}) {
        RsaKey key(bits);
        struct {
            uint32_t id;
            const EVP_MD* md;
        } const kinds[] = {{SOFT_HASH_MD5, EVP_md5()}, {SOFT_HASH_SHA1, EVP_sha1()}, {SOFT_HASH_SHA256, EVP_sha256()},
                           {SOFT_HASH_SHA512, EVP_sha512()}, {SOFT_HASH_SHA1_MD5, nullptr}};
        for (const auto& k : kinds) {
            Bytes digest;
            if (k.md) {
                digest = Digest(k.md, message);
            } else {  // the bare SHA-1 and MD5 pair
                digest = Digest(EVP_sha1(), message);
                const Bytes md5 = Digest(EVP_md5(), message);
                digest.insert(digest.end(), md5.begin(), md5.end());
            }
            Bytes sig = key.Sign(k.md, digest);
            EXPECT_EQ(0u, RSA_Verify(&key.pub, k.id, digest.data(), sig.data(), static_cast<uint32_t>(sig.size())))
                << bits << " id " << k.id;
            Bytes wrong = digest;
            wrong[0] ^= 1;
            EXPECT_EQ(SOFTCRYPTO_E_BAD_SIGNATURE,
                      RSA_Verify(&key.pub, k.id, wrong.data(), sig.data(), static_cast<uint32_t>(sig.size())));
            // The right digest under another id's DigestInfo does not verify.
            if (k.id == SOFT_HASH_SHA256) {
                EXPECT_EQ(SOFTCRYPTO_E_BAD_SIGNATURE, RSA_Verify(&key.pub, SOFT_HASH_SHA1, digest.data(), sig.data(),
                                                                 static_cast<uint32_t>(sig.size())));
            }
        }
    }
}

TEST(SoftCrypto, RsaEncryptDecryptsWithOpenSSL) {
    RsaKey key(1024);
    std::mt19937 rng(3);
    Bytes out(256);
    uint32_t outLen = 0;
    for (uint32_t len : {1u, 16u, 117u}) {  // 117 = 128 - 11, the longest that fits
        const Bytes plain = RandomBytes(rng, len);
        ASSERT_EQ(0u, RSA_Encrypt(&key.pub, plain.data(), len, out.data(), &outLen, 1)) << len;
        ASSERT_EQ(128u, outLen);
        EXPECT_EQ(ToHex(plain), ToHex(key.Decrypt(Bytes(out.begin(), out.begin() + outLen), RSA_PKCS1_PADDING)));
    }
    const Bytes tooLong(118, 1);
    outLen = 99;
    EXPECT_EQ(SOFTCRYPTO_E_BAD_LEN, RSA_Encrypt(&key.pub, tooLong.data(), 118, out.data(), &outLen, 1));
    EXPECT_EQ(0u, outLen);

    // Any other padding type: the block as given.
    Bytes block = RandomBytes(rng, 128);
    block[0] = 0;
    ASSERT_EQ(0u, RSA_Encrypt(&key.pub, block.data(), 128, out.data(), &outLen, 2));
    EXPECT_EQ(ToHex(block), ToHex(key.Decrypt(Bytes(out.begin(), out.begin() + outLen), RSA_NO_PADDING)));
}

// ---- SM2 against OpenSSL

struct Sm2Key {
    EVP_PKEY* pkey = nullptr;
    uint8_t pub[64];
    Sm2Key() {
        pkey = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
        uint8_t point[65];
        size_t len = 0;
        EVP_PKEY_get_octet_string_param(pkey, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof(point), &len);
        EXPECT_EQ(65u, len);
        std::copy(point + 1, point + 65, pub);
    }
    ~Sm2Key() { EVP_PKEY_free(pkey); }
};

const char DEFAULT_ID[] = "1234567812345678";

// OpenSSL's SM2 signature (DER) of the message with the default user ID, as r || s.
Bytes OpenSSLSm2Sign(const Sm2Key& key, const Bytes& message) {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new(key.pkey, nullptr);
    EVP_PKEY_CTX_set1_id(pctx, DEFAULT_ID, 16);
    EVP_MD_CTX_set_pkey_ctx(md, pctx);
    EXPECT_EQ(1, EVP_DigestSignInit(md, nullptr, EVP_sm3(), nullptr, key.pkey));
    size_t len = 128;
    Bytes der(len);
    EXPECT_EQ(1, EVP_DigestSign(md, der.data(), &len, message.data(), message.size()));
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    const uint8_t* p = der.data();
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(len));
    Bytes rs(64);
    BN_bn2binpad(ECDSA_SIG_get0_r(sig), rs.data(), 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(sig), rs.data() + 32, 32);
    ECDSA_SIG_free(sig);
    return rs;
}

TEST(SoftCrypto, Sm2VerifiesAnOpenSSLSignature) {
    Sm2Key key;
    const Bytes message = FromText("message digest");
    const Bytes rs = OpenSSLSm2Sign(key, message);
    // e = SM3(Z || M), Z from our Z value of the key.
    uint8_t z[32];
    ASSERT_EQ(0u, SM2_GetZVal(key.pub, z));
    HASH_CTX* h = nullptr;
    ASSERT_EQ(0u, Hash_Init(&h, VM_ALG_SM3));
    Hash_Update(h, z, 32);
    Hash_Update(h, message.data(), static_cast<uint32_t>(message.size()));
    uint8_t e[64];
    uint32_t eLen = 0;
    ASSERT_EQ(0u, Hash_Final(h, e, &eLen));
    ASSERT_EQ(32u, eLen);
    EXPECT_EQ(0u, SM2_Verify(key.pub, e, rs.data(), 64));
    Bytes bad = rs;
    bad[40] ^= 0x80;
    EXPECT_EQ(SOFTCRYPTO_E_BAD_SIGNATURE, SM2_Verify(key.pub, e, bad.data(), 64));
    e[0] ^= 1;
    EXPECT_EQ(SOFTCRYPTO_E_BAD_SIGNATURE, SM2_Verify(key.pub, e, rs.data(), 64));
}

// DER writer for OpenSSL's SM2 ciphertext {INTEGER x, INTEGER y, OCTET C3, OCTET C2}.
void DerLength(Bytes& out, size_t len) {
    if (len < 0x80) {
        out.push_back(static_cast<uint8_t>(len));
    } else if (len < 0x100) {
        out.push_back(0x81);
        out.push_back(static_cast<uint8_t>(len));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<uint8_t>(len >> 8));
        out.push_back(static_cast<uint8_t>(len));
    }
}
void DerItem(Bytes& out, uint8_t tag, Bytes body) {
    if (tag == 0x02) {  // minimal unsigned INTEGER
        while (body.size() > 1 && body[0] == 0 && body[1] < 0x80) body.erase(body.begin());
        if (body[0] >= 0x80) body.insert(body.begin(), 0);
    }
    out.push_back(tag);
    DerLength(out, body.size());
    out.insert(out.end(), body.begin(), body.end());
}

TEST(SoftCrypto, Sm2EncryptDecryptsWithOpenSSL) {
    Sm2Key key;
    std::mt19937 rng(9);
    for (uint32_t len : {1u, 16u, 200u}) {
        const Bytes plain = RandomBytes(rng, len);
        Bytes raw(len + 97);
        uint32_t rawLen = 0;
        ASSERT_EQ(0u, SM2_Encrypt(key.pub, plain.data(), len, raw.data(), &rawLen));
        ASSERT_EQ(len + 97, rawLen);
        ASSERT_EQ(0x04, raw[0]);
        // 0x04 || x1 || y1 || C2 || C3 into OpenSSL's DER form.
        Bytes body;
        DerItem(body, 0x02, Bytes(raw.begin() + 1, raw.begin() + 33));
        DerItem(body, 0x02, Bytes(raw.begin() + 33, raw.begin() + 65));
        DerItem(body, 0x04, Bytes(raw.end() - 32, raw.end()));
        DerItem(body, 0x04, Bytes(raw.begin() + 65, raw.end() - 32));
        Bytes der;
        DerItem(der, 0x30, body);
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key.pkey, nullptr);
        EVP_PKEY_decrypt_init(ctx);
        size_t outLen = 512;
        Bytes out(outLen);
        ASSERT_EQ(1, EVP_PKEY_decrypt(ctx, out.data(), &outLen, der.data(), der.size())) << len;
        EVP_PKEY_CTX_free(ctx);
        out.resize(outLen);
        EXPECT_EQ(ToHex(plain), ToHex(out));
    }
}

}  // namespace
