// SM2 behind OpenSSL's generic key operations, checked against OpenSSL's
// own SM2 (a provider key holding the same scalar) and its ECDSA.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <openssl/ec.h>
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>

#include "OpenSslSm2.h"
#include "sm2_core.h"
#include "sm2_asn1.h"
#include "sm2_pkey_method.h"

namespace {

// A legacy key (EC_KEY in an EVP_PKEY): the kind the key method serves.
struct LegacyKey {
    EC_KEY* ec = nullptr;
    Pkey pkey;
    Bytes d, xy;
};

LegacyKey NewLegacyKey(int curve, ENGINE* engine = nullptr) {
    LegacyKey key;
    EC_KEY* generated = EC_KEY_new_by_curve_name(curve);
    EC_KEY_generate_key(generated);
    key.ec = engine ? EC_KEY_new_method(engine) : EC_KEY_new();
    EC_KEY_set_group(key.ec, EC_KEY_get0_group(generated));
    EC_KEY_set_private_key(key.ec, EC_KEY_get0_private_key(generated));
    EC_KEY_set_public_key(key.ec, EC_KEY_get0_public_key(generated));
    key.d.resize(32);
    BN_bn2binpad(EC_KEY_get0_private_key(generated), key.d.data(), 32);
    EC_KEY_free(generated);
    if (curve == NID_sm2) key.xy = Sm2PublicOf(key.d);
    key.pkey.reset(EVP_PKEY_new());
    EVP_PKEY_set1_EC_KEY(key.pkey.get(), key.ec);
    return key;
}

// OpenSSL's own SM2 keys (provider keys, which the added key method never
// serves), made before the key method is registered: afterwards contexts
// made by name or id for EC and SM2 take the legacy road, so
// EVP_PKEY_fromdata and the decoders no longer make provider keys.
struct ProvidedKey {
    Bytes d;
    EVP_PKEY* pkey;
};
std::vector<ProvidedKey> g_providedKeys;
size_t g_nextProvided = 0;

void MakeProvidedKeys(int count) {
    for (int i = 0; i < count; ++i) {
        Bytes d(32);
        do {
            RAND_bytes(d.data(), 32);
        } while (d[0] == 0 || d[0] == 0xFF);
        g_providedKeys.push_back({d, MakeSm2Key(d, Sm2PublicOf(d)).release()});
    }
}

// A legacy key and OpenSSL's provider key with the same scalar.
LegacyKey NewKeyWithReference(Pkey& reference) {
    const ProvidedKey& provided = g_providedKeys.at(g_nextProvided++ % g_providedKeys.size());
    EVP_PKEY_up_ref(provided.pkey);
    reference.reset(provided.pkey);
    LegacyKey key;
    key.ec = EC_KEY_new_by_curve_name(NID_sm2);
    BIGNUM* d = BN_bin2bn(provided.d.data(), 32, nullptr);
    EC_POINT* point = EC_POINT_new(EC_KEY_get0_group(key.ec));
    EC_POINT_mul(EC_KEY_get0_group(key.ec), point, d, nullptr, nullptr, nullptr);
    EC_KEY_set_private_key(key.ec, d);
    EC_KEY_set_public_key(key.ec, point);
    EC_POINT_free(point);
    BN_clear_free(d);
    key.d = provided.d;
    key.xy = Sm2PublicOf(key.d);
    key.pkey.reset(EVP_PKEY_new());
    EVP_PKEY_set1_EC_KEY(key.pkey.get(), key.ec);
    return key;
}

// Runs f with the added key methods taken out, so that OpenSSL's own SM2
// and ECDSA serve: the independent reference.
template <typename F>
auto AsOpenSsl(F f) -> decltype(f()) {
    const EVP_PKEY_METHOD* ec = EVP_PKEY_meth_find(EVP_PKEY_EC);
    const EVP_PKEY_METHOD* sm2 = EVP_PKEY_meth_find(EVP_PKEY_SM2);
    EXPECT_EQ(1, EVP_PKEY_meth_remove(ec));
    EXPECT_EQ(1, EVP_PKEY_meth_remove(sm2));
    auto result = f();
    EVP_PKEY_meth_add0(ec);
    EVP_PKEY_meth_add0(sm2);
    return result;
}

struct CtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
using Ctx = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;

Ctx NewCtx(EVP_PKEY* key) { return Ctx(EVP_PKEY_CTX_new(key, nullptr)); }

Bytes Sign(EVP_PKEY* key, const Bytes& digest, int* result = nullptr) {
    Ctx ctx = NewCtx(key);
    Bytes sig(80);
    size_t len = sig.size();
    const int r = EVP_PKEY_sign_init(ctx.get()) == 1 ? EVP_PKEY_sign(ctx.get(), sig.data(), &len, digest.data(), digest.size()) : 0;
    if (result) *result = r;
    sig.resize(r == 1 ? len : 0);
    return sig;
}

int Verify(EVP_PKEY* key, const Bytes& digest, const Bytes& sig) {
    Ctx ctx = NewCtx(key);
    if (EVP_PKEY_verify_init(ctx.get()) != 1) return 0;
    return EVP_PKEY_verify(ctx.get(), sig.data(), sig.size(), digest.data(), digest.size());
}

// Encrypts or decrypts through EVP_PKEY with a size query first.
Bytes Crypt(EVP_PKEY* key, const Bytes& in, bool encrypt) { return OpenSslSm2Crypt(key, in, encrypt); }

Bytes RandomBytes(size_t n) {
    Bytes b(n);
    RAND_bytes(b.data(), int(n));
    return b;
}

// The content length of the ciphertext's XCoordinate INTEGER as encoded
// (33 with the 00 in front of an x1 of 0x80 or above).
int XCoordinateLength(const Bytes& der) {
    const unsigned char* p = der.data();
    long length = 0;
    int tag = 0, cls = 0;
    if (ASN1_get_object(&p, &length, &tag, &cls, long(der.size())) & 0x80 || tag != V_ASN1_SEQUENCE) return -1;
    if (ASN1_get_object(&p, &length, &tag, &cls, length) & 0x80 || tag != V_ASN1_INTEGER) return -1;
    return int(length);
}

class Sm2Hooks : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        MakeProvidedKeys(8);
        ASSERT_EQ(1, smcrypto::RegisterSM2KeyMethod());
    }
};

TEST_F(Sm2Hooks, RegistrationIsIdempotent) {
    EXPECT_EQ(1, smcrypto::RegisterSM2KeyMethod());
    EXPECT_EQ(1, smcrypto::RegisterSM2KeyMethod());
}

TEST_F(Sm2Hooks, SignaturesInteroperateWithOpenSslSm2) {
    for (int round = 0; round < 4; ++round) {
        Pkey reference;
        LegacyKey key = NewKeyWithReference(reference);
        ASSERT_TRUE(reference);
        ASSERT_TRUE(reference);
        const Bytes digest = RandomBytes(32);

        const Bytes ours = Sign(key.pkey.get(), digest);
        ASSERT_FALSE(ours.empty());
        EXPECT_EQ(1, AsOpenSsl([&] { return Verify(reference.get(), digest, ours); }))
            << "OpenSSL verifies the key method's signature";
        unsigned char r[32], s[32];
        const unsigned char* p = ours.data();
        ECDSA_SIG* parsed = d2i_ECDSA_SIG(nullptr, &p, long(ours.size()));
        ASSERT_NE(nullptr, parsed);
        BN_bn2binpad(ECDSA_SIG_get0_r(parsed), r, 32);
        BN_bn2binpad(ECDSA_SIG_get0_s(parsed), s, 32);
        ECDSA_SIG_free(parsed);
        EXPECT_EQ(1, _SM2_verify_ex(r, s, key.xy.data(), key.xy.data() + 32, digest.data()));

        const Bytes theirs = AsOpenSsl([&] { return Sign(reference.get(), digest); });
        ASSERT_FALSE(theirs.empty());
        EXPECT_EQ(1, Verify(key.pkey.get(), digest, theirs)) << "the key method verifies OpenSSL's signature";

        // OpenSSL's provider key, now served by the key method too.
        const Bytes viaProvider = Sign(reference.get(), digest);
        ASSERT_FALSE(viaProvider.empty());
        EXPECT_EQ(1, AsOpenSsl([&] { return Verify(reference.get(), digest, viaProvider); }));

        Bytes other = digest;
        other[0] ^= 1;
        EXPECT_NE(1, Verify(key.pkey.get(), other, theirs));
    }
}

TEST_F(Sm2Hooks, SignAndVerifyTakeExactlyAThirtyTwoByteDigest) {
    LegacyKey key = NewLegacyKey(NID_sm2);
    const Bytes digest = RandomBytes(32);
    const Bytes sig = Sign(key.pkey.get(), digest);
    for (size_t n : {0u, 20u, 31u, 33u, 64u}) {
        int result = 0;
        EXPECT_TRUE(Sign(key.pkey.get(), RandomBytes(n), &result).empty()) << n;
        EXPECT_NE(1, result) << n;
        Bytes longer = digest;
        longer.resize(n, 0);
        EXPECT_NE(1, Verify(key.pkey.get(), longer, sig)) << n;
    }
    // Size query and a short signature buffer.
    Ctx ctx = NewCtx(key.pkey.get());
    ASSERT_EQ(1, EVP_PKEY_sign_init(ctx.get()));
    size_t len = 0;
    ASSERT_EQ(1, EVP_PKEY_sign(ctx.get(), nullptr, &len, digest.data(), 32));
    EXPECT_EQ(size_t(ECDSA_size(key.ec)), len);
    Bytes small(len - 1);
    size_t smallLen = small.size();
    EXPECT_NE(1, EVP_PKEY_sign(ctx.get(), small.data(), &smallLen, digest.data(), 32));
}

TEST_F(Sm2Hooks, CiphertextsInteroperateIncludingA33ByteX) {
    Pkey reference;
    LegacyKey key = NewKeyWithReference(reference);
    ASSERT_TRUE(reference);
    bool sawLongX = false, sawOurLongX = false;
    for (int round = 0; round < 48 && !(sawLongX && sawOurLongX); ++round) {
        const Bytes message = RandomBytes(1 + round * 7);
        const Bytes theirs = AsOpenSsl([&] { return Crypt(reference.get(), message, true); });
        ASSERT_FALSE(theirs.empty());
        sawLongX |= XCoordinateLength(theirs) == 33;
        EXPECT_EQ(message, Crypt(key.pkey.get(), theirs, false)) << "the key method decrypts OpenSSL's ciphertext";

        const Bytes ours = Crypt(key.pkey.get(), message, true);
        ASSERT_FALSE(ours.empty());
        sawOurLongX |= XCoordinateLength(ours) == 33;
        EXPECT_EQ(message, AsOpenSsl([&] { return Crypt(reference.get(), ours, false); }))
            << "OpenSSL decrypts the key method's ciphertext";
    }
    EXPECT_TRUE(sawLongX && sawOurLongX) << "no x1 >= 0x80 in 48 tries";
}

TEST_F(Sm2Hooks, EncryptAndDecryptAnswerTheSizeAndRefuseShortBuffers) {
    LegacyKey key = NewLegacyKey(NID_sm2);
    const Bytes message = RandomBytes(40);
    Ctx ctx = NewCtx(key.pkey.get());
    ASSERT_EQ(1, EVP_PKEY_encrypt_init(ctx.get()));
    size_t bound = 0;
    ASSERT_EQ(1, EVP_PKEY_encrypt(ctx.get(), nullptr, &bound, message.data(), message.size()));
    Bytes cipher(bound);
    size_t cipherLen = bound;
    ASSERT_EQ(1, EVP_PKEY_encrypt(ctx.get(), cipher.data(), &cipherLen, message.data(), message.size()));
    EXPECT_LE(cipherLen, bound);
    cipher.resize(cipherLen);
    // One byte below the announced size is refused every time, whatever
    // length this encryption's C1 would take.
    Bytes small(bound - 1);
    size_t smallLen = small.size();
    EXPECT_NE(1, EVP_PKEY_encrypt(ctx.get(), small.data(), &smallLen, message.data(), message.size()));

    Ctx dctx = NewCtx(key.pkey.get());
    ASSERT_EQ(1, EVP_PKEY_decrypt_init(dctx.get()));
    size_t plainLen = 0;
    ASSERT_EQ(1, EVP_PKEY_decrypt(dctx.get(), nullptr, &plainLen, cipher.data(), cipher.size()));
    EXPECT_EQ(message.size(), plainLen);
    Bytes shortPlain(plainLen - 1, 0xEE);
    size_t shortLen = shortPlain.size();
    EXPECT_NE(1, EVP_PKEY_decrypt(dctx.get(), shortPlain.data(), &shortLen, cipher.data(), cipher.size()));
    EXPECT_EQ(Bytes(plainLen - 1, 0xEE), shortPlain) << "nothing written to a short buffer";

    // A changed C3 fails, writing nothing.
    Bytes tampered = cipher;
    tampered[tampered.size() - message.size() - 3] ^= 1;
    Bytes out(plainLen, 0xEE);
    size_t outLen = out.size();
    EXPECT_NE(1, EVP_PKEY_decrypt(dctx.get(), out.data(), &outLen, tampered.data(), tampered.size()));
}

TEST_F(Sm2Hooks, DigestControlTakesSm3AndRefusesMd5) {
    LegacyKey key = NewLegacyKey(NID_sm2);
    Ctx ctx = NewCtx(key.pkey.get());
    ASSERT_EQ(1, EVP_PKEY_sign_init(ctx.get()));
    EXPECT_EQ(1, EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sm3()));
    const EVP_MD* md = nullptr;
    EXPECT_EQ(1, EVP_PKEY_CTX_get_signature_md(ctx.get(), &md));
    ASSERT_NE(nullptr, md);
    EXPECT_EQ(NID_sm3, EVP_MD_get_type(md));
    Ctx copy(EVP_PKEY_CTX_dup(ctx.get()));
    ASSERT_TRUE(copy);
    md = nullptr;
    EXPECT_EQ(1, EVP_PKEY_CTX_get_signature_md(copy.get(), &md));
    EXPECT_EQ(md, EVP_sm3());
    ERR_clear_error();
    EXPECT_LE(EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_md5()), 0);
    EXPECT_EQ(EC_R_INVALID_DIGEST_TYPE, ERR_GET_REASON(ERR_peek_last_error()));
    EXPECT_EQ(1, EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()));
    md = nullptr;
    EXPECT_EQ(1, EVP_PKEY_CTX_get_signature_md(ctx.get(), &md));
    EXPECT_EQ(NID_sha256, EVP_MD_get_type(md));
}

TEST_F(Sm2Hooks, KeysOffTheSm2CurveKeepEcdsaAndCannotEncrypt) {
    LegacyKey key = NewLegacyKey(NID_X9_62_prime256v1);
    const Bytes digest = RandomBytes(32);
    const Bytes sig = Sign(key.pkey.get(), digest);
    ASSERT_FALSE(sig.empty());
    EXPECT_EQ(1, ECDSA_verify(0, digest.data(), 32, sig.data(), int(sig.size()), key.ec)) << "an ECDSA signature";
    EXPECT_EQ(1, Verify(key.pkey.get(), digest, sig));
    Ctx ctx = NewCtx(key.pkey.get());
    ASSERT_EQ(1, EVP_PKEY_encrypt_init(ctx.get()));
    size_t len = 0;
    EXPECT_NE(1, EVP_PKEY_encrypt(ctx.get(), nullptr, &len, digest.data(), digest.size()));
    ASSERT_EQ(1, EVP_PKEY_decrypt_init(ctx.get()));
    EXPECT_NE(1, EVP_PKEY_decrypt(ctx.get(), nullptr, &len, sig.data(), sig.size()));
}

// An engine whose id begins with "pkcs11": signing takes the ECDSA road,
// verification SM2's; an engine's own SM2 decryption takes over decrypt.
int EngineDecrypt(EVP_PKEY_CTX*, unsigned char* out, size_t* outlen, const unsigned char*, size_t) {
    if (out) std::memcpy(out, "engine", 6);
    *outlen = 6;
    return 1;
}

TEST_F(Sm2Hooks, EngineRulesAndTheEngineDecryption) {
    ENGINE* engine = ENGINE_new();
    ASSERT_NE(nullptr, engine);
    ENGINE_set_id(engine, "pkcs11-test");
    ENGINE_set_name(engine, "test engine");
    ENGINE_set_EC(engine, EC_KEY_OpenSSL());
    EXPECT_EQ(nullptr, ENGINE_get_sm2_decrypt(engine));
    {
        LegacyKey key = NewLegacyKey(NID_sm2, engine);
        const Bytes digest = RandomBytes(32);
        const Bytes ecdsa = Sign(key.pkey.get(), digest);
        ASSERT_FALSE(ecdsa.empty());
        EXPECT_EQ(1, ECDSA_verify(0, digest.data(), 32, ecdsa.data(), int(ecdsa.size()), key.ec));
        EXPECT_NE(1, Verify(key.pkey.get(), digest, ecdsa)) << "verified by SM2";
        BIGNUM* e = BN_bin2bn(digest.data(), 32, nullptr);
        ECDSA_SIG* sm2 = _SM2_sign(e, EC_KEY_get0_private_key(key.ec), SM2_CURVE_NID);
        unsigned char* der = nullptr;
        const int derLen = i2d_ECDSA_SIG(sm2, &der);
        EXPECT_EQ(1, Verify(key.pkey.get(), digest, Bytes(der, der + derLen))) << "an SM2 signature verifies";
        OPENSSL_free(der);
        ECDSA_SIG_free(sm2);
        BN_free(e);

        ASSERT_EQ(1, ENGINE_set_sm2_decrypt(engine, EngineDecrypt));
        EXPECT_EQ(EngineDecrypt, ENGINE_get_sm2_decrypt(engine));
        const Bytes plain = Crypt(key.pkey.get(), Bytes{1, 2, 3}, false);
        EXPECT_EQ(Bytes({'e', 'n', 'g', 'i', 'n', 'e'}), plain);
    }
    ENGINE_free(engine);
}

TEST_F(Sm2Hooks, IntegerFormPrivateKeyDecodesToTheScalar) {
    for (int round = 0; round < 6; ++round) {
        LegacyKey key = NewLegacyKey(NID_sm2);
        SM2_PRIVATEKEY* pk = reinterpret_cast<SM2_PRIVATEKEY*>(ASN1_item_new(ASN1_ITEM_rptr(SM2_PRIVATEKEY)));
        ASN1_INTEGER_set(pk->version, 1);
        BN_to_ASN1_INTEGER(EC_KEY_get0_private_key(key.ec), pk->privateKey);
        const bool withParameters = round % 2 == 0;
        if (withParameters) {
            pk->parameters = EC_GROUP_get_ecpkparameters(EC_KEY_get0_group(key.ec), nullptr);
            unsigned char* pub = nullptr;
            const size_t pubLen = EC_KEY_key2buf(key.ec, POINT_CONVERSION_UNCOMPRESSED, &pub, nullptr);
            pk->publicKey = ASN1_BIT_STRING_new();
            ASN1_BIT_STRING_set(pk->publicKey, pub, int(pubLen));
            // Every octet of the point, with 0 unused bits: left to itself the
            // encoder drops trailing zero octets (a point ending in 0x00).
            pk->publicKey->flags = (pk->publicKey->flags & ~0x07L) | ASN1_STRING_FLAG_BITS_LEFT;
            OPENSSL_free(pub);
        }
        unsigned char* der = nullptr;
        const int derLen = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(pk), &der, ASN1_ITEM_rptr(SM2_PRIVATEKEY));
        ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(pk), ASN1_ITEM_rptr(SM2_PRIVATEKEY));
        ASSERT_GT(derLen, 0);

        const unsigned char* p = der;
        EC_KEY* given = withParameters ? nullptr : EC_KEY_new_by_curve_name(NID_sm2);
        EC_KEY* decoded = d2i_SM2_PRIVATEKEY(withParameters ? nullptr : &given, &p, derLen);
        ASSERT_NE(nullptr, decoded);
        EXPECT_EQ(der + derLen, p);
        EXPECT_EQ(0, BN_cmp(EC_KEY_get0_private_key(key.ec), EC_KEY_get0_private_key(decoded)));
        EXPECT_EQ(NID_sm2, EC_GROUP_get_curve_name(EC_KEY_get0_group(decoded)));
        if (withParameters) {
            EXPECT_EQ(0, EC_POINT_cmp(EC_KEY_get0_group(decoded), EC_KEY_get0_public_key(key.ec),
                                      EC_KEY_get0_public_key(decoded), nullptr));
            EXPECT_EQ(POINT_CONVERSION_UNCOMPRESSED, EC_KEY_get_conv_form(decoded));
        } else {
            EXPECT_EQ(given, decoded);
        }
        EC_KEY_free(decoded);

        // Without parameters and without a key that has a group: refused.
        if (!withParameters) {
            p = der;
            EXPECT_EQ(nullptr, d2i_SM2_PRIVATEKEY(nullptr, &p, derLen));
        }
        OPENSSL_free(der);

        // The standard form (privateKey an OCTET STRING) is not this type.
        unsigned char* standard = nullptr;
        const int standardLen = i2d_ECPrivateKey(key.ec, &standard);
        p = standard;
        EXPECT_EQ(nullptr, d2i_SM2_PRIVATEKEY(nullptr, &p, standardLen));
        OPENSSL_free(standard);
    }
    const unsigned char garbage[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    const unsigned char* p = garbage;
    EXPECT_EQ(nullptr, d2i_SM2_PRIVATEKEY(nullptr, &p, sizeof garbage));
}

TEST_F(Sm2Hooks, PfxItemsRoundTrip) {
    PFX_SM2* pfx = reinterpret_cast<PFX_SM2*>(ASN1_item_new(ASN1_ITEM_rptr(PFX_SM2)));
    ASSERT_NE(nullptr, pfx);
    ASN1_INTEGER_set(pfx->version, 1);
    pfx->privateData->dataID = OBJ_txt2obj("1.2.156.10197.6.1.4.2.1", 1);
    pfx->privateData->dataEncryptedAlg = OBJ_txt2obj("1.2.156.10197.1.104", 1);
    ASN1_OCTET_STRING_set(pfx->privateData->encryptedSM2PrivateKey, reinterpret_cast<const unsigned char*>("key"), 3);
    pfx->publicData->dataID = OBJ_txt2obj("1.2.156.10197.6.1.4.2.1", 1);
    ASN1_OCTET_STRING_set(pfx->publicData->SM2Certificate, reinterpret_cast<const unsigned char*>("cert"), 4);
    unsigned char* der = nullptr;
    const int n = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(pfx), &der, ASN1_ITEM_rptr(PFX_SM2));
    ASSERT_GT(n, 0);
    const unsigned char* p = der;
    PFX_SM2* back = reinterpret_cast<PFX_SM2*>(ASN1_item_d2i(nullptr, &p, n, ASN1_ITEM_rptr(PFX_SM2)));
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(4, back->publicData->SM2Certificate->length);
    EXPECT_EQ(0, OBJ_cmp(pfx->privateData->dataEncryptedAlg, back->privateData->dataEncryptedAlg));
    ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(back), ASN1_ITEM_rptr(PFX_SM2));
    ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(pfx), ASN1_ITEM_rptr(PFX_SM2));
    OPENSSL_free(der);
}

}  // namespace
