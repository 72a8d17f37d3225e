// Round trips through the builders and the virtual key, checked with the
// host's own cryptography and with OpenSSL as the independent reference.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <algorithm>

#include "KeyCommandTestSupport.h"
#include "SoftCrypto.h"
#include "SymKeyHandle.h"

namespace {

const ByteVec USER_ID = {'1', '2', '3', '4', '5', '6', '7', '8', '1', '2', '3', '4', '5', '6', '7', '8'};

// An SM2 public key (X || Y) as an OpenSSL key.
EVP_PKEY* Sm2Public(const uint8_t* xy) {
    uint8_t point[65] = {0x04};
    std::copy(xy, xy + 64, point + 1);
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>("SM2"), 0),
                           OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point),
                           OSSL_PARAM_construct_end()};
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr);
    EVP_PKEY* key = nullptr;
    if (!ctx || EVP_PKEY_fromdata_init(ctx) != 1 || EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params) != 1)
        key = nullptr;
    EVP_PKEY_CTX_free(ctx);
    return key;
}

// OpenSSL's SM2 verification of M with the id set explicitly.
bool OpenSslVerify(const uint8_t* xy, const ByteVec& message, const uint8_t* rs) {
    EVP_PKEY* key = Sm2Public(xy);
    if (!key) return false;
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(rs, 32, nullptr), BN_bin2bn(rs + 32, 32, nullptr));
    unsigned char* der = nullptr;
    const int derLen = i2d_ECDSA_SIG(sig, &der);
    ECDSA_SIG_free(sig);
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    EVP_PKEY_CTX_set1_id(pctx, USER_ID.data(), USER_ID.size());
    EVP_MD_CTX_set_pkey_ctx(md, pctx);
    const bool ok = derLen > 0 && EVP_DigestVerifyInit(md, nullptr, EVP_sm3(), nullptr, key) == 1 &&
                    EVP_DigestVerify(md, der, size_t(derLen), message.data(), message.size()) == 1;
    OPENSSL_free(der);
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    EVP_PKEY_free(key);
    return ok;
}

// The SM2 ciphertext of the host (04 || x1 || y1 || C2 || C3) in the key's
// order 04 || x1 || y1 || C3 || C2.
ByteVec KeyOrder(const uint8_t* c123, uint32_t len) {
    ByteVec out(c123, c123 + 65);
    out.insert(out.end(), c123 + len - 32, c123 + len);
    out.insert(out.end(), c123 + 65, c123 + len - 32);
    return out;
}

class KeyRoundTrips : public KeyCommandTest {
protected:
    void SetUp() override {
        KeyCommandTest::SetUp();
        base = ContainerWithSm2SignKey("ROUND");
        ASSERT_EQ(0u, keyCmd.ExportPublicKey(uint16_t(base | 2), 17, signPub));
    }
    // SM4 on the key over `data` with the session key it holds; compared by the caller.
    ByteVec OnKeySm4(uint16_t algWord, uint8_t direction, const ByteVec& data) {
        uint8_t iv[16] = {};
        ByteVec out(data.size());
        uint32_t first = 0, last = 0;
        EXPECT_EQ(0u, crypto.SymEncryptInit(direction, algWord, iv));
        EXPECT_EQ(0u, crypto.SymEncryptUpdate(direction, data.data(), 32, out.data(), &first));
        EXPECT_EQ(0u, crypto.SymEncryptFinal(direction, data.data() + 32, uint32_t(data.size() - 32),
                                             out.data() + first, &last));
        out.resize(first + last);
        return out;
    }
    uint16_t base = 0;
    uint8_t signPub[64] = {};
};

TEST_F(KeyRoundTrips, Sm2KeyFromTheKeySignsADigestThatOpenSslVerifies) {
    const ByteVec message = {'m', 'e', 's', 's', 'a', 'g', 'e', ' ', 'd', 'i', 'g', 'e', 's', 't'};
    // e = SM3(Z || M) on the host.
    uint8_t z[32];
    ASSERT_EQ(0u, SM2_GetZVal(signPub, z));
    ByteVec zm = Cat(Bytes(z, 32), message);
    uint8_t e[64];
    uint32_t eLen = 0;
    HASH_CTX* hash = nullptr;
    ASSERT_EQ(0u, Hash_Init(&hash, VM_ALG_SM3));
    ASSERT_EQ(0u, Hash_Update(hash, zm.data(), uint32_t(zm.size())));
    ASSERT_EQ(0u, Hash_Final(hash, e, &eLen));
    ASSERT_EQ(32u, eLen);
    uint8_t rs[64];
    uint32_t len = 0;
    ASSERT_EQ(0u, crypto.SM2SignDigest(auth, uint16_t(base | 2), e, 32, rs, &len));
    EXPECT_EQ(64u, len);
    EXPECT_TRUE(OpenSslVerify(signPub, message, rs));
    ByteVec other = message;
    other[0] ^= 1;
    EXPECT_FALSE(OpenSslVerify(signPub, other, rs));
}

TEST_F(KeyRoundTrips, MultiStepSignatureSurvivesTwoButtonWaits) {
    ASSERT_EQ(0u, control.RequireButton(keyId, 0x74, 2));
    ByteVec message(600);
    for (size_t i = 0; i < message.size(); ++i) message[i] = uint8_t(i * 5);
    uint8_t rs[64];
    uint32_t len = 0;
    ASSERT_EQ(0u, crypto.SM2SignDisp(auth, uint16_t(base | 2), message.data(), uint32_t(message.size()), rs, &len));
    EXPECT_EQ(64u, len);
    EXPECT_TRUE(OpenSslVerify(signPub, message, rs));
    bool waiting = true;
    uint32_t tries = 0, minGap = 0;
    ASSERT_EQ(0u, control.ButtonState(keyId, &waiting, &tries, &minGap));
    EXPECT_FALSE(waiting);
    EXPECT_EQ(3u, tries) << "two F321 answers, then the signature";
    EXPECT_GE(minGap, 100u);
    std::vector<vk::RecordEntry> frames = Taken();
    EXPECT_EQ(3, std::count_if(frames.begin(), frames.end(), [](const vk::RecordEntry& f) { return f.p1 == 3; }));
}

TEST_F(KeyRoundTrips, WrappedSessionKeyImportsAndCiphersAsSm4) {
    // A session key wrapped for the container: its exchange file is empty, so
    // the key opens it with the container's signature key.
    uint8_t sessionKey[16];
    ASSERT_EQ(0u, GenRand(16, sessionKey, 1));
    uint8_t c123[16 + 97];
    uint32_t cLen = 0;
    ASSERT_EQ(0u, SM2_Encrypt(signPub, sessionKey, 16, c123, &cLen));
    ByteVec wrapped = KeyOrder(c123, cLen);
    ASSERT_EQ(0u, keyCmd.ImportEncSymKey(auth, uint16_t(base | 1), wrapped.data(), uint32_t(wrapped.size())));

    ByteVec data(48);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i + 1);
    const ByteVec cipher = OnKeySm4(0x1302, 1, data);
    // The same under the host's SM4-CBC (its one-shot pads: drop the last block).
    uint8_t host[64];
    uint32_t hostLen = 0;
    ASSERT_EQ(0u, CSymKeyHandle::Encrypt(SOFT_ALG_SM4, SOFT_MODE_CBC, sessionKey, nullptr, data.data(), 48, host, &hostLen));
    EXPECT_EQ(Bytes(host, 48), cipher);
    EXPECT_EQ(data, OnKeySm4(0x1302, 0, cipher));

    // A ciphertext under another key does not open.
    c123[70] ^= 1;
    wrapped = KeyOrder(c123, cLen);
    EXPECT_EQ(0x80006A80u, keyCmd.ImportEncSymKey(auth, uint16_t(base | 1), wrapped.data(), uint32_t(wrapped.size())));
}

TEST_F(KeyRoundTrips, OnKeySm1IsPlayedBySm4AndRoundTrips) {
    uint8_t sessionKey[16];
    ASSERT_EQ(0u, GenRand(16, sessionKey, 1));
    ASSERT_EQ(0u, keyCmd.ImportSymKey(0x1001, sessionKey, 16));
    ByteVec data(64, 0x5C);
    data[3] = 9;
    const ByteVec cipher = OnKeySm4(0x1001, 1, data);
    ASSERT_EQ(64u, cipher.size());
    EXPECT_NE(data, cipher);
    EXPECT_EQ(data, OnKeySm4(0x1001, 0, cipher));
    // ECB: equal blocks give equal ciphertext blocks, as SM4-ECB on the host.
    uint8_t host[80];
    uint32_t hostLen = 0;
    ASSERT_EQ(0u, CSymKeyHandle::Encrypt(SOFT_ALG_SM4, SOFT_MODE_CBC, sessionKey, nullptr, data.data() + 16, 16, host,
                                         &hostLen));
    EXPECT_EQ(Bytes(host, 16), ByteVec(cipher.begin() + 16, cipher.begin() + 32)) << "a zero IV: one CBC block is ECB";
}

// n || p || q || dp || dq (|| d for 1024 bits) of an OpenSSL key pair.
ByteVec RsaBlob(EVP_PKEY* pkey, size_t modLen) {
    ByteVec blob;
    const char* names[] = {OSSL_PKEY_PARAM_RSA_N, OSSL_PKEY_PARAM_RSA_FACTOR1, OSSL_PKEY_PARAM_RSA_FACTOR2,
                           OSSL_PKEY_PARAM_RSA_EXPONENT1, OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_D};
    for (size_t i = 0; i < 6; ++i) {
        if (i == 5 && modLen != 128) break;
        BIGNUM* bn = nullptr;
        EXPECT_EQ(1, EVP_PKEY_get_bn_param(pkey, names[i], &bn));
        ByteVec part(i == 0 || i == 5 ? modLen : modLen / 2);
        BN_bn2binpad(bn, part.data(), int(part.size()));
        BN_free(bn);
        blob.insert(blob.end(), part.begin(), part.end());
    }
    return blob;
}

TEST_F(KeyRoundTrips, RsaKeyPairsImportAndSign) {
    for (int bits : {2048, 1024}) {
        const uint8_t alg = bits == 1024 ? 1 : 7;
        const size_t modLen = size_t(bits / 8);
        EVP_PKEY* pair = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t(bits));
        ASSERT_NE(nullptr, pair);
        ByteVec blob = RsaBlob(pair, modLen);
        uint8_t flag = 0;
        if (bits == 2048) {
            // The wrapped road: the blob under a session key imported just before.
            uint8_t sessionKey[16], c123[16 + 97];
            uint32_t cLen = 0;
            ASSERT_EQ(0u, GenRand(16, sessionKey, 1));
            ASSERT_EQ(0u, SM2_Encrypt(signPub, sessionKey, 16, c123, &cLen));
            ByteVec wrapped = KeyOrder(c123, cLen);
            ASSERT_EQ(0u, keyCmd.ImportEncSymKey(auth, uint16_t(base | 1), wrapped.data(), uint32_t(wrapped.size())));
            EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
            ByteVec encrypted(blob.size() + 16);
            int n = 0;
            ASSERT_EQ(1, EVP_EncryptInit_ex(ctx, EVP_sm4_ecb(), nullptr, sessionKey, nullptr));
            EVP_CIPHER_CTX_set_padding(ctx, 0);
            ASSERT_EQ(1, EVP_EncryptUpdate(ctx, encrypted.data(), &n, blob.data(), int(blob.size())));
            EVP_CIPHER_CTX_free(ctx);
            encrypted.resize(size_t(n));
            blob = encrypted;
            flag = 1;
        }
        ASSERT_EQ(0u, keyCmd.ImportRsaKeyPair(alg, auth, uint16_t(base | 1), blob.data(), flag)) << bits;

        // The key's raw private operation, undone by OpenSSL's public one.
        ByteVec block(modLen, 0x33);
        block[0] = 0;
        ByteVec signature(modLen);
        uint32_t len = 0;
        ASSERT_EQ(0u, crypto.RSAPriKeyRaw(auth, uint16_t(base | 1), alg, block.data(), uint32_t(modLen),
                                          signature.data(), &len));
        EXPECT_EQ(modLen, len);
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, pair, nullptr);
        ByteVec back(modLen);
        size_t backLen = back.size();
        ASSERT_EQ(1, EVP_PKEY_encrypt_init(ctx));
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING);
        ASSERT_EQ(1, EVP_PKEY_encrypt(ctx, back.data(), &backLen, signature.data(), signature.size()));
        EXPECT_EQ(block, back) << bits;
        EVP_PKEY_CTX_free(ctx);
        EVP_PKEY_free(pair);
    }
}

}  // namespace
