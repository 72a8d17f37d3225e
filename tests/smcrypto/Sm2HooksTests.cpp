// SM2 inside OpenSSL in a process registered as Certaide registers it at
// start-up, against the host's openssl (files made by
// sm2-hooks-reference.sh; what is written here is checked by it after the
// run) and OpenSSL's own SM2 and ECDSA (provider keys, which the hooks
// never serve).
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <openssl/ec.h>
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "HostPaths.h"
#include "OpenSslSm2.h"
#include "Sm2ShortCoordinate.h"
#include "sm2_asn1.h"
#include "sm2_core.h"
#include "sm2_hooks.h"
#include "sm2_pkey_method.h"
#include "sm_registration.h"

namespace {

Bytes ReadRef(const std::string& name) {
    std::ifstream f(HostEnvPath("SM2_HOOKS_REFERENCE_DIR") + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteRef(const std::string& name, const Bytes& bytes) {
    std::ofstream f(HostEnvPath("SM2_HOOKS_REFERENCE_DIR") + "/" + name, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
struct CtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
using Ctx = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;

X509Ptr ReadCert(const std::string& name) {
    const Bytes der = ReadRef(name);
    const unsigned char* p = der.data();
    return X509Ptr(d2i_X509(nullptr, &p, long(der.size())));
}

Pkey ReadPemKey(const std::string& name) {
    const Bytes pem = ReadRef(name);
    BIO* bio = BIO_new_mem_buf(pem.data(), int(pem.size()));
    Pkey key(PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr));
    BIO_free(bio);
    return key;
}

// A legacy key (EC_KEY in an EVP_PKEY, the kind the hooks serve) with the
// same values as an OpenSSL key; the private scalar when it has one.
Pkey LegacyOf(EVP_PKEY* key, ENGINE* engine = nullptr) {
    char group[32] = {};
    unsigned char pub[133];
    size_t pubLength = 0;
    BIGNUM* d = nullptr;
    EVP_PKEY_get_utf8_string_param(key, "group", group, sizeof group, nullptr);
    EVP_PKEY_get_octet_string_param(key, "pub", pub, sizeof pub, &pubLength);
    EC_KEY* ec = engine ? EC_KEY_new_method(engine) : EC_KEY_new();
    EC_GROUP* g = EC_GROUP_new_by_curve_name(OBJ_sn2nid(group));
    EC_KEY_set_group(ec, g);
    EC_GROUP_free(g);
    EC_KEY_oct2key(ec, pub, pubLength, nullptr);
    if (EVP_PKEY_get_bn_param(key, "priv", &d)) EC_KEY_set_private_key(ec, d);
    ERR_clear_error();  // a public key has no private value
    BN_clear_free(d);
    Pkey legacy(EVP_PKEY_new());
    EVP_PKEY_assign_EC_KEY(legacy.get(), ec);
    return legacy;
}


const EC_KEY* EcOf(EVP_PKEY* key) { return EVP_PKEY_get0_EC_KEY(key); }

Bytes Sign(EVP_PKEY* key, const Bytes& digest) {
    Ctx ctx(EVP_PKEY_CTX_new(key, nullptr));
    Bytes sig(80);
    size_t len = sig.size();
    if (EVP_PKEY_sign_init(ctx.get()) != 1 ||
        EVP_PKEY_sign(ctx.get(), sig.data(), &len, digest.data(), digest.size()) != 1)
        return {};
    sig.resize(len);
    return sig;
}

int Verify(EVP_PKEY* key, const Bytes& digest, const Bytes& sig) {
    Ctx ctx(EVP_PKEY_CTX_new(key, nullptr));
    if (EVP_PKEY_verify_init(ctx.get()) != 1) return 0;
    return EVP_PKEY_verify(ctx.get(), sig.data(), sig.size(), digest.data(), digest.size());
}

// Whether a DER signature is SM2 (over e = digest) for the key's point on
// curve 920.
bool IsSm2Signature(EVP_PKEY* key, const Bytes& digest, const Bytes& sig) {
    const unsigned char* p = sig.data();
    ECDSA_SIG* s = d2i_ECDSA_SIG(nullptr, &p, long(sig.size()));
    if (!s) return false;
    BIGNUM* x = BN_new();
    BIGNUM* y = BN_new();
    BIGNUM* e = BN_bin2bn(digest.data(), int(digest.size()), nullptr);
    const EC_KEY* ec = EcOf(key);
    EC_POINT_get_affine_coordinates(EC_KEY_get0_group(ec), EC_KEY_get0_public_key(ec), x, y, nullptr);
    const bool ok = _SM2_verify(s, x, y, e, SM2_CURVE_NID) == 1;
    ERR_clear_error();
    BN_free(x);
    BN_free(y);
    BN_free(e);
    ECDSA_SIG_free(s);
    return ok;
}

Bytes Sm2SignatureOf(EVP_PKEY* key, const Bytes& digest) {
    BIGNUM* e = BN_bin2bn(digest.data(), int(digest.size()), nullptr);
    ECDSA_SIG* s = _SM2_sign(e, EC_KEY_get0_private_key(EcOf(key)), SM2_CURVE_NID);
    unsigned char* der = nullptr;
    const int n = i2d_ECDSA_SIG(s, &der);
    Bytes out(der, der + n);
    OPENSSL_free(der);
    ECDSA_SIG_free(s);
    BN_free(e);
    return out;
}

Bytes EcdsaSignatureOf(EVP_PKEY* key, const Bytes& digest) {
    ECDSA_SIG* s = ECDSA_do_sign(digest.data(), int(digest.size()), const_cast<EC_KEY*>(EcOf(key)));
    unsigned char* der = nullptr;
    const int n = i2d_ECDSA_SIG(s, &der);
    Bytes out(der, der + n);
    OPENSSL_free(der);
    ECDSA_SIG_free(s);
    return out;
}

Bytes Sm3(const Bytes& data) {
    Bytes out(32);
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &n, EVP_sm3(), nullptr);
    return out;
}

class Sm2Hooks : public ::testing::Test {
protected:
    // As Certaide's start-up does it.
    static void SetUpTestSuite() {
        OpenSSL_add_all_ciphers();
        OpenSSL_add_all_digests();
        ASSERT_EQ(1, smcrypto::RegisterSMAlgorithms());
        ASSERT_EQ(1, smcrypto::RegisterSM2Hooks());
        ERR_clear_error();
    }
    void SetUp() override { ERR_clear_error(); }
};

TEST_F(Sm2Hooks, NamesObjectsAndCrossReferenceAfterStartUp) {
    const EVP_MD* sm3 = EVP_get_digestbyname("sm3");
    ASSERT_NE(nullptr, sm3);
    for (const char* name : {"ChinaSM3", "sm2-sm3", "tls1-sm3"}) EXPECT_EQ(sm3, EVP_get_digestbyname(name)) << name;
    EXPECT_EQ(EVP_get_cipherbyname("sm4-cbc"), EVP_get_cipherbyname("ChinaSM4-CBC"));
    EXPECT_NE(nullptr, EVP_get_cipherbyname("sm4-cbc"));
    EXPECT_EQ(EVP_get_cipherbyname("zuc"), EVP_get_cipherbyname("ChinaZUC"));
    EXPECT_NE(nullptr, EVP_get_cipherbyname("zuc"));
    const std::pair<int, const char*> rows[] = {
        {920, "1.2.156.10197.1.301"},   {921, "1.2.156.10197.1.888"},     {922, "1.2.156.10197.1.401"},
        {923, "1.2.156.10197.1.104"},   {924, "1.2.156.10197.1.501"},     {925, "1.2.156.10197.1.102"},
        {926, "1.2.156.10197.1.105"},   {927, "1.2.156.10197.1.301.1"},   {928, "1.2.156.10197.6.1.4.2.1"},
        {930, "1.2.156.10197.6.1.4.2.2"},
    };
    for (const auto& row : rows) {
        EXPECT_NE(NID_undef, smcrypto::SMObjectNid(row.first)) << row.first;
        EXPECT_EQ(smcrypto::SMObjectNid(row.first), OBJ_txt2nid(row.second)) << row.first;
    }
    EXPECT_EQ(NID_undef, smcrypto::SMObjectNid(929));
    int digest = 0, keyType = 0, signature = 0;
    ASSERT_EQ(1, OBJ_find_sigid_algs(smcrypto::SMObjectNid(924), &digest, &keyType));
    EXPECT_EQ(smcrypto::SMObjectNid(922), digest);
    ASSERT_EQ(1, OBJ_find_sigid_by_algs(&signature, digest, keyType));
    EXPECT_EQ(smcrypto::SMObjectNid(924), signature);
}

// A public EC key of a named group through EVP_PKEY_fromdata.
Pkey EcFromData(const char* group, EVP_PKEY* valuesOf) {
    unsigned char pub[133];
    size_t pubLength = 0;
    EVP_PKEY_get_octet_string_param(valuesOf, "pub", pub, sizeof pub, &pubLength);
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string("group", const_cast<char*>(group), 0),
        OSSL_PARAM_construct_octet_string("pub", pub, pubLength),
        OSSL_PARAM_construct_end(),
    };
    Ctx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* key = nullptr;
    if (ctx && EVP_PKEY_fromdata_init(ctx.get()) == 1) EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params);
    return Pkey(key);
}

// OpenSSL's own keys stay provider keys with OpenSSL's own SM2 and ECDSA.
TEST_F(Sm2Hooks, DecodersFromdataAndOpenSslKeysAreUntouched) {
    Pkey sm2 = ReadPemKey("sm2.key");
    Pkey p256 = ReadPemKey("p256.key");
    X509Ptr cert = ReadCert("sm2-default-id.der");
    ASSERT_TRUE(sm2 && p256 && cert);
    BIGNUM* scalar = nullptr;
    ASSERT_EQ(1, EVP_PKEY_get_bn_param(sm2.get(), "priv", &scalar));
    Bytes d(32);
    BN_bn2binpad(scalar, d.data(), 32);
    BN_clear_free(scalar);
    Pkey made = MakeSm2Key(d, Sm2PublicOf(d));
    X509Ptr p256Cert = ReadCert("p256.der");
    Pkey madeEc = EcFromData("prime256v1", p256.get());
    const struct {
        const char* what;
        EVP_PKEY* key;
        const char* type;
    } keys[] = {
        {"PEM SM2", sm2.get(), "SM2"},
        {"PEM P-256", p256.get(), "EC"},
        {"SM2 certificate", X509_get0_pubkey(cert.get()), "SM2"},
        {"P-256 certificate", p256Cert ? X509_get0_pubkey(p256Cert.get()) : nullptr, "EC"},
        {"fromdata SM2", made.get(), "SM2"},
        {"fromdata P-256", madeEc.get(), "EC"},
    };
    for (const auto& k : keys) {
        ASSERT_NE(nullptr, k.key) << k.what;
        EXPECT_NE(nullptr, EVP_PKEY_get0_provider(k.key)) << k.what;
        EXPECT_TRUE(EVP_PKEY_is_a(k.key, k.type)) << k.what;
    }
    const Bytes message = ReadRef("message.bin");
    EXPECT_TRUE(OpenSslSm2Verify(sm2.get(), message, OpenSslSm2Sign(made.get(), message)));
    EXPECT_EQ(message, OpenSslSm2Crypt(sm2.get(), OpenSslSm2Crypt(made.get(), message, true), false));
    const Bytes digest = Sm3(message);
    const Bytes ecdsa = Sign(p256.get(), digest);
    EXPECT_EQ(1, Verify(p256.get(), digest, ecdsa)) << "OpenSSL's ECDSA";
    EXPECT_EQ(1, Verify(madeEc.get(), digest, ecdsa));
    EXPECT_EQ(0u, ERR_peek_error());
}

// X509_verify through the certificate's own key is OpenSSL's (its SM2 uses
// an empty identity unless one is set); through a legacy key of the same
// point it is the hooks' (Z with the default identity).
TEST_F(Sm2Hooks, CertificateVerification) {
    X509Ptr defaultId = ReadCert("sm2-default-id.der");
    X509Ptr emptyId = ReadCert("sm2-empty-id.der");
    X509Ptr p256 = ReadCert("p256.der");
    Pkey priv = ReadPemKey("sm2.key");
    ASSERT_TRUE(defaultId && emptyId && p256 && priv);
    Pkey legacy = LegacyOf(X509_get0_pubkey(defaultId.get()));
    Pkey legacyP256 = LegacyOf(X509_get0_pubkey(p256.get()));

    // The default-identity certificate with one signature byte changed, and
    // signed again without Z (e = SM3 of the to-be-signed certificate alone).
    X509Ptr tampered(X509_dup(defaultId.get()));
    const ASN1_BIT_STRING* signature = nullptr;
    X509_get0_signature(&signature, nullptr, tampered.get());
    const_cast<ASN1_BIT_STRING*>(signature)->data[12] ^= 0x01;
    X509Ptr withoutZ(X509_dup(defaultId.get()));
    unsigned char* tbs = nullptr;
    const int tbsLength = i2d_re_X509_tbs(withoutZ.get(), &tbs);
    ASSERT_GT(tbsLength, 0);
    const Bytes noZ = Sign(LegacyOf(priv.get()).get(), Sm3(Bytes(tbs, tbs + tbsLength)));
    OPENSSL_free(tbs);
    ASSERT_FALSE(noZ.empty());
    X509_get0_signature(&signature, nullptr, withoutZ.get());
    ASN1_BIT_STRING_set(const_cast<ASN1_BIT_STRING*>(signature), const_cast<unsigned char*>(noZ.data()),
                        int(noZ.size()));

    const struct {
        const char* what;
        X509* cert;
        EVP_PKEY* key;
        bool good;
    } cases[] = {
        {"default identity, legacy key", defaultId.get(), legacy.get(), true},
        {"signature byte changed", tampered.get(), legacy.get(), false},
        {"signed without Z", withoutZ.get(), legacy.get(), false},
        {"openssl's empty identity, legacy key", emptyId.get(), legacy.get(), false},
        {"openssl's empty identity, its own key", emptyId.get(), X509_get0_pubkey(emptyId.get()), true},
        {"P-256 ECDSA, its own key", p256.get(), X509_get0_pubkey(p256.get()), true},
        {"P-256 ECDSA, legacy key", p256.get(), legacyP256.get(), true},
    };
    for (const auto& c : cases) EXPECT_EQ(c.good, X509_verify(c.cert, c.key) == 1) << c.what;
}

// Both ways with OpenSSL's own SM2 here; the host's openssl verifies the
// signature written here over the same digest (check step).
TEST_F(Sm2Hooks, SignaturesInteroperate) {
    Pkey own = ReadPemKey("sm2.key");
    ASSERT_TRUE(own);
    Pkey legacy = LegacyOf(own.get());
    for (int round = 0; round < 4; ++round) {
        const Bytes digest = Sm3(Bytes{static_cast<unsigned char>(round), 'x'});
        const Bytes ours = Sign(legacy.get(), digest);
        ASSERT_FALSE(ours.empty());
        EXPECT_TRUE(IsSm2Signature(legacy.get(), digest, ours));
        EXPECT_EQ(1, Verify(own.get(), digest, ours)) << "OpenSSL verifies ours";
        const Bytes theirs = Sign(own.get(), digest);
        EXPECT_EQ(1, Verify(legacy.get(), digest, theirs)) << "ours verifies OpenSSL's";
        Bytes other = digest;
        other[5] ^= 1;
        EXPECT_NE(1, Verify(legacy.get(), other, theirs));
        if (round == 0) {
            WriteRef("ours-digest.bin", digest);
            WriteRef("ours-sig.der", ours);
        }
    }
    // Size query and a short buffer.
    Ctx ctx(EVP_PKEY_CTX_new(legacy.get(), nullptr));
    ASSERT_EQ(1, EVP_PKEY_sign_init(ctx.get()));
    const Bytes digest(32, 0x5A);
    size_t len = 0;
    ASSERT_EQ(1, EVP_PKEY_sign(ctx.get(), nullptr, &len, digest.data(), 32));
    EXPECT_EQ(size_t(ECDSA_size(EcOf(legacy.get()))), len);
    Bytes small(len - 1);
    size_t smallLen = small.size();
    EXPECT_NE(1, EVP_PKEY_sign(ctx.get(), small.data(), &smallLen, digest.data(), 32));
    EXPECT_EQ(EC_R_BUFFER_TOO_SMALL, ERR_GET_REASON(ERR_peek_last_error()));
}

// The content length of an SM2Cipher's XCoordinate INTEGER as encoded.
long XCoordinateLength(const Bytes& der) {
    const unsigned char* p = der.data();
    long length = 0;
    int tag = 0, cls = 0;
    if (ASN1_get_object(&p, &length, &tag, &cls, long(der.size())) & 0x80 || tag != V_ASN1_SEQUENCE) return -1;
    if (ASN1_get_object(&p, &length, &tag, &cls, length) & 0x80 || tag != V_ASN1_INTEGER) return -1;
    return length;
}

// The host's ciphertext has a 33-byte XCoordinate (x1 >= 0x80); the host
// decrypts the one written here (check step); a coordinate written with its
// leading zero byte dropped (31 bytes) decrypts too.
TEST_F(Sm2Hooks, CiphertextsInteroperate) {
    Pkey own = ReadPemKey("sm2.key");
    ASSERT_TRUE(own);
    Pkey legacy = LegacyOf(own.get());
    const Bytes message = ReadRef("message.bin");
    const Bytes host = ReadRef("host-cipher.der");
    ASSERT_EQ(33, XCoordinateLength(host)) << "the fixture's x1 is 0x80 or above";
    EXPECT_EQ(message, OpenSslSm2Crypt(legacy.get(), host, false));

    const Bytes ours = OpenSslSm2Crypt(legacy.get(), message, true);
    ASSERT_FALSE(ours.empty());
    EXPECT_EQ(message, OpenSslSm2Crypt(own.get(), ours, false)) << "OpenSSL decrypts ours";
    WriteRef("ours-cipher.der", ours);

    const Bytes shortX = Sm2CipherWithShortX(legacy.get(), message);
    ASSERT_EQ(31, XCoordinateLength(shortX));
    EXPECT_EQ(message, OpenSslSm2Crypt(legacy.get(), shortX, false));
}

TEST_F(Sm2Hooks, DigestControl) {
    Pkey key = NewLegacyKey(NID_sm2);
    const struct {
        const EVP_MD* md;
        bool accepted;
    } cases[] = {
        {EVP_sm3(), true},    {EVP_sha1(), true},   {EVP_sha224(), true}, {EVP_sha256(), true},
        {EVP_sha384(), true}, {EVP_sha512(), true}, {EVP_md5(), false},
    };
    for (const auto& c : cases) {
        Ctx ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
        ASSERT_EQ(1, EVP_PKEY_sign_init(ctx.get()));
        ERR_clear_error();
        const int result = EVP_PKEY_CTX_set_signature_md(ctx.get(), c.md);
        EXPECT_EQ(c.accepted, result == 1) << EVP_MD_get0_name(c.md);
        if (!c.accepted) {
            EXPECT_EQ(EC_R_INVALID_DIGEST_TYPE, ERR_GET_REASON(ERR_peek_last_error()));
            continue;
        }
        const EVP_MD* got = nullptr;
        Ctx copy(EVP_PKEY_CTX_dup(ctx.get()));
        ASSERT_TRUE(copy);
        EXPECT_EQ(1, EVP_PKEY_CTX_get_signature_md(copy.get(), &got));
        EXPECT_EQ(EVP_MD_get_type(c.md), got ? EVP_MD_get_type(got) : NID_undef);
    }
}

// An engine's own SM2 decryption takes over for the keys it serves.
int EngineDecrypt(EVP_PKEY_CTX*, unsigned char* out, size_t* outlen, const unsigned char*, size_t) {
    if (out) std::memcpy(out, "engine", 6);
    *outlen = 6;
    return 1;
}

TEST_F(Sm2Hooks, EngineRules) {
    const struct {
        const char* engineId;  // null: the key names no engine
        bool signsSm2, verifiesSm2;
    } cases[] = {
        {nullptr, true, true},           {"openssl ecdsa method", true, true}, {"cavium-x", true, true},
        {"pkcs11-token", false, true},   {"other", false, false},
    };
    for (const auto& c : cases) {
        ENGINE* engine = nullptr;
        if (c.engineId) {
            engine = ENGINE_new();
            ENGINE_set_id(engine, c.engineId);
            ENGINE_set_name(engine, c.engineId);
            ENGINE_set_EC(engine, EC_KEY_OpenSSL());
        }
        {
            Pkey key = NewLegacyKey(NID_sm2, engine);
            const Bytes digest = Sm3(Bytes{'r', 'u', 'l', 'e'});
            const Bytes sig = Sign(key.get(), digest);
            ASSERT_FALSE(sig.empty()) << c.engineId;
            EXPECT_EQ(c.signsSm2, IsSm2Signature(key.get(), digest, sig)) << c.engineId;
            if (!c.signsSm2) {
                EXPECT_EQ(1, ECDSA_verify(0, digest.data(), 32, sig.data(), int(sig.size()),
                                          const_cast<EC_KEY*>(EcOf(key.get()))))
                    << c.engineId;
            }
            EXPECT_EQ(c.verifiesSm2, Verify(key.get(), digest, Sm2SignatureOf(key.get(), digest)) == 1) << c.engineId;
            EXPECT_EQ(!c.verifiesSm2, Verify(key.get(), digest, EcdsaSignatureOf(key.get(), digest)) == 1)
                << c.engineId;
            if (engine) {
                EXPECT_EQ(nullptr, ENGINE_get_sm2_decrypt(engine));
                ASSERT_EQ(1, ENGINE_set_sm2_decrypt(engine, EngineDecrypt));
                EXPECT_EQ(Bytes({'e', 'n', 'g', 'i', 'n', 'e'}), OpenSslSm2Crypt(key.get(), Bytes{1, 2, 3}, false));
            }
        }
        ENGINE_free(engine);
    }
    // Off the SM curves a key keeps ECDSA whatever its engine.
    Pkey p256 = NewLegacyKey(NID_X9_62_prime256v1);
    const Bytes digest(32, 0x33);
    const Bytes sig = Sign(p256.get(), digest);
    EXPECT_EQ(1, ECDSA_verify(0, digest.data(), 32, sig.data(), int(sig.size()), const_cast<EC_KEY*>(EcOf(p256.get()))));
    EXPECT_EQ(1, Verify(p256.get(), digest, sig));
}

// A key on curve 921 signs with SM2 as well, with its scalar in curve 920's
// group: the signature verifies for [d]G of curve 920.
TEST_F(Sm2Hooks, Curve921KeysSignWithSm2InCurve920sGroup) {
    BIGNUM* d = BN_new();
    BIGNUM* x = BN_new();
    BIGNUM* y = BN_new();
    ASSERT_EQ(1, _SM2_generate_key_on_curve(d, x, y, SM2_TEST_CURVE_NID));
    EC_GROUP* group = SM2NewCurveGroup(SM2_TEST_CURVE_NID);
    EC_KEY* ec = EC_KEY_new();
    EC_KEY_set_group(ec, group);
    EC_KEY_set_private_key(ec, d);
    EC_KEY_set_public_key_affine_coordinates(ec, x, y);
    Pkey key(EVP_PKEY_new());
    EVP_PKEY_assign_EC_KEY(key.get(), ec);
    const Bytes digest = Sm3(Bytes{'9', '2', '1'});
    const Bytes sig = Sign(key.get(), digest);
    ASSERT_FALSE(sig.empty());
    Bytes scalar(32);
    BN_bn2binpad(d, scalar.data(), 32);
    Pkey on920 = LegacyOf(MakeSm2Key(scalar, Sm2PublicOf(scalar)).get());
    EXPECT_TRUE(IsSm2Signature(on920.get(), digest, sig));
    EC_GROUP_free(group);
    BN_free(d);
    BN_free(x);
    BN_free(y);
}

// SM2_PRIVATEKEY DER of a key: privateKey an INTEGER, with parameters.
Bytes IntegerFormOf(const EC_KEY* ec, bool withPublicKey) {
    SM2_PRIVATEKEY* pk = reinterpret_cast<SM2_PRIVATEKEY*>(ASN1_item_new(ASN1_ITEM_rptr(SM2_PRIVATEKEY)));
    ASN1_INTEGER_set(pk->version, 1);
    BN_to_ASN1_INTEGER(EC_KEY_get0_private_key(ec), pk->privateKey);
    pk->parameters = EC_GROUP_get_ecpkparameters(EC_KEY_get0_group(ec), nullptr);
    if (withPublicKey) {
        unsigned char* pub = nullptr;
        const size_t pubLength = EC_KEY_key2buf(ec, POINT_CONVERSION_UNCOMPRESSED, &pub, nullptr);
        pk->publicKey = ASN1_BIT_STRING_new();
        ASN1_BIT_STRING_set(pk->publicKey, pub, int(pubLength));
        pk->publicKey->flags = (pk->publicKey->flags & ~0x07L) | ASN1_STRING_FLAG_BITS_LEFT;
        OPENSSL_free(pub);
    }
    unsigned char* der = nullptr;
    const int n = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(pk), &der, ASN1_ITEM_rptr(SM2_PRIVATEKEY));
    ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(pk), ASN1_ITEM_rptr(SM2_PRIVATEKEY));
    Bytes out(der, der + n);
    OPENSSL_free(der);
    return out;
}

Bytes OctetFormOf(const EC_KEY* ec) {
    unsigned char* der = nullptr;
    const int n = i2d_ECPrivateKey(const_cast<EC_KEY*>(ec), &der);
    Bytes out(der, der + n);
    OPENSSL_free(der);
    return out;
}

TEST_F(Sm2Hooks, LegacyPrivateKeyDecoding) {
    Pkey sm2 = NewLegacyKey(NID_sm2);
    Pkey p256 = NewLegacyKey(NID_X9_62_prime256v1);
    const struct {
        const char* what;
        Bytes der;
        const EC_KEY* key;
        const char* type;
    } cases[] = {
        {"INTEGER, SM2 curve, public key", IntegerFormOf(EcOf(sm2.get()), true), EcOf(sm2.get()), "SM2"},
        {"INTEGER, P-256, no public key", IntegerFormOf(EcOf(p256.get()), false), EcOf(p256.get()), "EC"},
        {"OCTET STRING, SM2 curve", OctetFormOf(EcOf(sm2.get())), EcOf(sm2.get()), "SM2"},
        {"OCTET STRING, P-256", OctetFormOf(EcOf(p256.get())), EcOf(p256.get()), "EC"},
    };
    for (const auto& c : cases) {
        for (bool automatic : {false, true}) {
            ERR_clear_error();
            const unsigned char* p = c.der.data();
            Pkey decoded(automatic ? d2i_AutoPrivateKey(nullptr, &p, long(c.der.size()))
                                   : d2i_PrivateKey(EVP_PKEY_EC, nullptr, &p, long(c.der.size())));
            ASSERT_TRUE(decoded) << c.what << (automatic ? " (auto)" : "");
            EXPECT_EQ(c.der.data() + c.der.size(), p) << c.what;
            EXPECT_EQ(0u, ERR_peek_error()) << c.what << ": nothing left on the queue";
            EXPECT_TRUE(EVP_PKEY_is_a(decoded.get(), c.type)) << c.what;
            BIGNUM* d = nullptr;
            ASSERT_EQ(1, EVP_PKEY_get_bn_param(decoded.get(), "priv", &d)) << c.what;
            EXPECT_EQ(0, BN_cmp(d, EC_KEY_get0_private_key(c.key))) << c.what;
            BN_clear_free(d);
            unsigned char pub[65];
            size_t pubLength = 0;
            EVP_PKEY_get_octet_string_param(decoded.get(), "pub", pub, sizeof pub, &pubLength);
            EXPECT_EQ(Bytes(pub, pub + pubLength), [&] {
                unsigned char* expected = nullptr;
                const size_t n = EC_KEY_key2buf(c.key, POINT_CONVERSION_UNCOMPRESSED, &expected, nullptr);
                Bytes out(expected, expected + n);
                OPENSSL_free(expected);
                return out;
            }()) << c.what;
        }
    }
    const unsigned char garbage[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    const unsigned char* p = garbage;
    ERR_clear_error();
    EXPECT_EQ(nullptr, d2i_PrivateKey(EVP_PKEY_EC, nullptr, &p, sizeof garbage));
    const unsigned long first = ERR_peek_error();
    EXPECT_EQ(ERR_LIB_EC, ERR_GET_LIB(first));
    EXPECT_EQ(EC_R_DECODE_ERROR, ERR_GET_REASON(first));
}

TEST_F(Sm2Hooks, Pkcs7SignerControl) {
    Pkey own = ReadPemKey("sm2.key");
    X509Ptr cert = ReadCert("sm2-default-id.der");
    ASSERT_TRUE(own && cert);
    Pkey key = LegacyOf(own.get());
    const struct {
        const EVP_MD* md;
        const char* algorithm;  // digestEncryptionAlgorithm, or null: refused
    } cases[] = {
        {EVP_sm3(), "1.2.156.10197.1.301.1"},
        {EVP_sha256(), "1.2.840.10045.4.3.2"},  // ecdsa-with-SHA256, as for any EC key
        {EVP_MD_meth_new(NID_undef, NID_undef), nullptr},
    };
    for (const auto& c : cases) {
        PKCS7* p7 = PKCS7_new();
        PKCS7_set_type(p7, NID_pkcs7_signed);
        PKCS7_content_new(p7, NID_pkcs7_data);
        PKCS7_SIGNER_INFO* signer = PKCS7_add_signature(p7, cert.get(), key.get(), c.md);
        EXPECT_EQ(c.algorithm != nullptr, signer != nullptr) << (c.algorithm ? c.algorithm : "no digest");
        if (signer) {
            X509_ALGOR* algorithm = nullptr;
            PKCS7_SIGNER_INFO_get0_algs(signer, nullptr, nullptr, &algorithm);
            char oid[64] = {};
            OBJ_obj2txt(oid, sizeof oid, algorithm->algorithm, 1);
            EXPECT_STREQ(c.algorithm, oid);
            EXPECT_EQ(nullptr, algorithm->parameter) << "parameters absent";
        }
        PKCS7_free(p7);
    }
    EVP_MD_meth_free(const_cast<EVP_MD*>(cases[2].md));

    // A whole SignedData with SM3 signs through the key method.
    BIO* content = BIO_new_mem_buf("renewal", 7);
    PKCS7* p7 = PKCS7_sign(nullptr, nullptr, nullptr, content, PKCS7_BINARY | PKCS7_PARTIAL);
    ASSERT_NE(nullptr, p7);
    ASSERT_NE(nullptr, PKCS7_sign_add_signer(p7, cert.get(), key.get(), EVP_sm3(), PKCS7_NOATTR));
    EXPECT_EQ(1, PKCS7_final(p7, content, PKCS7_BINARY));
    PKCS7_free(p7);
    BIO_free(content);
}

}  // namespace
