#pragma once
// OpenSSL's own SM2 as the reference of the SM2 tests: keys from raw bytes,
// signatures with the distinguishing id set explicitly, encryption, and the
// conversion between its DER ciphertext and the raw 04 || x1 || y1 || C2 || C3.
#include "TestBytes.h"

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>

constexpr char kDefaultSm2Id[] = "1234567812345678";

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

// SM2 key for OpenSSL from d (may be empty for a public key only) and X || Y.
inline Pkey MakeSm2Key(const Bytes& d, const Bytes& xy) {
    Bytes pub(1 + xy.size(), 0x04);
    std::copy(xy.begin(), xy.end(), pub.begin() + 1);
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    BIGNUM* priv = d.empty() ? nullptr : BN_bin2bn(d.data(), int(d.size()), nullptr);
    OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0);
    OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, pub.data(), pub.size());
    if (priv) OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_PRIV_KEY, priv);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr);
    EVP_PKEY* key = nullptr;
    if (ctx && EVP_PKEY_fromdata_init(ctx) > 0)
        EVP_PKEY_fromdata(ctx, &key, priv ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_clear_free(priv);
    return Pkey(key);
}

// A new key of the legacy kind (an EC_KEY, served by the engine given or
// none, in an EVP_PKEY): the kind the SM2 hooks serve. Needs
// OPENSSL_SUPPRESS_DEPRECATED in the including test.
#ifdef OPENSSL_SUPPRESS_DEPRECATED
inline Pkey NewLegacyKey(int curve, ENGINE* engine = nullptr) {
    EC_KEY* generated = EC_KEY_new_by_curve_name(curve);
    EC_KEY_generate_key(generated);
    EC_KEY* ec = engine ? EC_KEY_new_method(engine) : EC_KEY_new();
    EC_KEY_set_group(ec, EC_KEY_get0_group(generated));
    EC_KEY_set_private_key(ec, EC_KEY_get0_private_key(generated));
    EC_KEY_set_public_key(ec, EC_KEY_get0_public_key(generated));
    EC_KEY_free(generated);
    Pkey key(EVP_PKEY_new());
    EVP_PKEY_assign_EC_KEY(key.get(), ec);
    return key;
}
#endif

// X || Y of [d]G on OpenSSL's SM2 curve.
inline Bytes Sm2PublicOf(const Bytes& d) {
    EC_GROUP* g = EC_GROUP_new_by_curve_name(NID_sm2);
    EC_POINT* p = EC_POINT_new(g);
    BIGNUM* bd = BN_bin2bn(d.data(), int(d.size()), nullptr);
    BIGNUM *x = BN_new(), *y = BN_new();
    Bytes xy(64);
    EC_POINT_mul(g, p, bd, nullptr, nullptr, nullptr);
    EC_POINT_get_affine_coordinates(g, p, x, y, nullptr);
    BN_bn2binpad(x, xy.data(), 32);
    BN_bn2binpad(y, xy.data() + 32, 32);
    BN_free(x);
    BN_free(y);
    BN_clear_free(bd);
    EC_POINT_free(p);
    EC_GROUP_free(g);
    return xy;
}

// Sign or verify with SM3 and the default distinguishing id.
inline EVP_MD_CTX* Sm2DigestCtx(EVP_PKEY* key, bool sign, EVP_PKEY_CTX** pctx) {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    *pctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_CTX_set1_id(*pctx, kDefaultSm2Id, 16);
    EVP_MD_CTX_set_pkey_ctx(md, *pctx);
    const int ok = sign ? EVP_DigestSignInit(md, nullptr, EVP_sm3(), nullptr, key)
                        : EVP_DigestVerifyInit(md, nullptr, EVP_sm3(), nullptr, key);
    if (ok != 1) {
        EVP_MD_CTX_free(md);
        EVP_PKEY_CTX_free(*pctx);
        *pctx = nullptr;
        return nullptr;
    }
    return md;
}

inline Bytes OpenSslSm2Sign(EVP_PKEY* key, const Bytes& msg) {
    EVP_PKEY_CTX* pctx = nullptr;
    EVP_MD_CTX* md = Sm2DigestCtx(key, true, &pctx);
    Bytes sig(80);
    size_t len = sig.size();
    if (!md || EVP_DigestSign(md, sig.data(), &len, msg.data(), msg.size()) != 1) len = 0;
    sig.resize(len);
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    return sig;
}

inline bool OpenSslSm2Verify(EVP_PKEY* key, const Bytes& msg, const Bytes& der) {
    EVP_PKEY_CTX* pctx = nullptr;
    EVP_MD_CTX* md = Sm2DigestCtx(key, false, &pctx);
    const bool ok = md && EVP_DigestVerify(md, der.data(), der.size(), msg.data(), msg.size()) == 1;
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    return ok;
}

inline Bytes OpenSslSm2Crypt(EVP_PKEY* key, const Bytes& in, bool encrypt) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    size_t len = 0;
    Bytes out;
    if ((encrypt ? EVP_PKEY_encrypt_init(ctx) : EVP_PKEY_decrypt_init(ctx)) == 1 &&
        (encrypt ? EVP_PKEY_encrypt(ctx, nullptr, &len, in.data(), in.size())
                 : EVP_PKEY_decrypt(ctx, nullptr, &len, in.data(), in.size())) == 1) {
        out.resize(len);
        if ((encrypt ? EVP_PKEY_encrypt(ctx, out.data(), &len, in.data(), in.size())
                     : EVP_PKEY_decrypt(ctx, out.data(), &len, in.data(), in.size())) == 1)
            out.resize(len);
        else
            out.clear();
    }
    EVP_PKEY_CTX_free(ctx);
    return out;
}

// DER SEQUENCE { INTEGER x, INTEGER y, OCTET STRING C3, OCTET STRING C2 }
// to 04 || x || y || C2 || C3; empty when it does not parse.
inline Bytes Sm2DerToRaw(const Bytes& der) {
    const unsigned char* p = der.data();
    long len = 0;
    int tag = 0, cls = 0;
    if (ASN1_get_object(&p, &len, &tag, &cls, long(der.size())) & 0x80 || tag != V_ASN1_SEQUENCE) return {};
    ASN1_INTEGER* x = d2i_ASN1_INTEGER(nullptr, &p, len);
    ASN1_INTEGER* y = x ? d2i_ASN1_INTEGER(nullptr, &p, len) : nullptr;
    ASN1_OCTET_STRING* c3 = y ? d2i_ASN1_OCTET_STRING(nullptr, &p, len) : nullptr;
    ASN1_OCTET_STRING* c2 = c3 ? d2i_ASN1_OCTET_STRING(nullptr, &p, len) : nullptr;
    Bytes raw;
    if (c2) {
        BIGNUM* bx = ASN1_INTEGER_to_BN(x, nullptr);
        BIGNUM* by = ASN1_INTEGER_to_BN(y, nullptr);
        raw.assign(65, 0x04);
        BN_bn2binpad(bx, raw.data() + 1, 32);
        BN_bn2binpad(by, raw.data() + 33, 32);
        raw.insert(raw.end(), c2->data, c2->data + c2->length);
        raw.insert(raw.end(), c3->data, c3->data + c3->length);
        BN_free(bx);
        BN_free(by);
    }
    ASN1_INTEGER_free(x);
    ASN1_INTEGER_free(y);
    ASN1_OCTET_STRING_free(c3);
    ASN1_OCTET_STRING_free(c2);
    return raw;
}

inline Bytes Sm2RawToDer(const Bytes& raw) {
    const size_t msgLen = raw.size() - 97;
    BIGNUM* bx = BN_bin2bn(raw.data() + 1, 32, nullptr);
    BIGNUM* by = BN_bin2bn(raw.data() + 33, 32, nullptr);
    ASN1_INTEGER* x = BN_to_ASN1_INTEGER(bx, nullptr);
    ASN1_INTEGER* y = BN_to_ASN1_INTEGER(by, nullptr);
    ASN1_OCTET_STRING* c3 = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING* c2 = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(c3, raw.data() + 65 + msgLen, 32);
    ASN1_OCTET_STRING_set(c2, raw.data() + 65, int(msgLen));
    Bytes body;
    auto append = [&body](int n, auto writer) {
        const size_t at = body.size();
        body.resize(at + size_t(n));
        unsigned char* p = body.data() + at;
        writer(&p);
    };
    append(i2d_ASN1_INTEGER(x, nullptr), [&](unsigned char** p) { i2d_ASN1_INTEGER(x, p); });
    append(i2d_ASN1_INTEGER(y, nullptr), [&](unsigned char** p) { i2d_ASN1_INTEGER(y, p); });
    append(i2d_ASN1_OCTET_STRING(c3, nullptr), [&](unsigned char** p) { i2d_ASN1_OCTET_STRING(c3, p); });
    append(i2d_ASN1_OCTET_STRING(c2, nullptr), [&](unsigned char** p) { i2d_ASN1_OCTET_STRING(c2, p); });
    Bytes der(size_t(ASN1_object_size(1, int(body.size()), V_ASN1_SEQUENCE)));
    unsigned char* p = der.data();
    ASN1_put_object(&p, 1, int(body.size()), V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL);
    std::copy(body.begin(), body.end(), p);
    BN_free(bx);
    BN_free(by);
    ASN1_INTEGER_free(x);
    ASN1_INTEGER_free(y);
    ASN1_OCTET_STRING_free(c3);
    ASN1_OCTET_STRING_free(c2);
    return der;
}
