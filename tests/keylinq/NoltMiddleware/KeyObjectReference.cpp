// Independent references for the key-object tests, on OpenSSL 3.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/obj_mac.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include "KeyReference.h"

namespace {

Bytes Digest(const EVP_MD* md, const Bytes& in) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    EVP_Digest(in.data(), in.size(), out.data(), &n, md, nullptr);
    out.resize(n);
    return out;
}

Bytes Hex(const char* hex) {
    Bytes out;
    BIGNUM* bn = nullptr;
    BN_hex2bn(&bn, hex);
    out.resize(32);
    BN_bn2binpad(bn, out.data(), 32);
    BN_free(bn);
    return out;
}

Bytes BnBytes(const EVP_PKEY* key, const char* name, size_t len) {
    BIGNUM* bn = nullptr;
    EVP_PKEY_get_bn_param(key, name, &bn);
    Bytes out(len);
    BN_bn2binpad(bn, out.data(), int(len));
    BN_free(bn);
    return out;
}

EVP_PKEY* Sm2PublicKey(const Bytes& publicKey) {
    Bytes point = {0x04};
    point.insert(point.end(), publicKey.begin(), publicKey.begin() + 64);
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0);
    OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size());
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr);
    EVP_PKEY* key = nullptr;
    EVP_PKEY_fromdata_init(ctx);
    EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    return key;
}

EVP_PKEY* RsaPublicKey(const Bytes& n, const Bytes& e) {
    BIGNUM* bn = BN_bin2bn(n.data(), int(n.size()), nullptr);
    BIGNUM* be = BN_bin2bn(e.data(), int(e.size()), nullptr);
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, bn);
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, be);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    EVP_PKEY* key = nullptr;
    EVP_PKEY_fromdata_init(ctx);
    EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_free(bn);
    BN_free(be);
    return key;
}

}  // namespace

Bytes RefSm3(const Bytes& in) { return Digest(EVP_sm3(), in); }
Bytes RefSha1(const Bytes& in) { return Digest(EVP_sha1(), in); }

Bytes RefSm2Z(const Bytes& publicKey) {
    const char id[] = "1234567812345678";
    Bytes in = {0x00, 0x80};
    in.insert(in.end(), id, id + 16);
    for (const char* h : {"FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFC",
                          "28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93",
                          "32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7",
                          "BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0"}) {
        Bytes v = Hex(h);
        in.insert(in.end(), v.begin(), v.end());
    }
    in.insert(in.end(), publicKey.begin(), publicKey.begin() + 64);
    return RefSm3(in);
}

bool RefSm2VerifyMessage(const Bytes& publicKey, const Bytes& message, const Bytes& signature) {
    EVP_PKEY* key = Sm2PublicKey(publicKey);
    if (!key) return false;
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(signature.data(), 32, nullptr), BN_bin2bn(signature.data() + 32, 32, nullptr));
    unsigned char* der = nullptr;
    const int derLen = i2d_ECDSA_SIG(sig, &der);
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_CTX_set1_id(pctx, "1234567812345678", 16);
    EVP_MD_CTX_set_pkey_ctx(md, pctx);
    bool ok = EVP_DigestVerifyInit(md, nullptr, EVP_sm3(), nullptr, key) == 1 &&
              EVP_DigestVerify(md, der, size_t(derLen), message.data(), message.size()) == 1;
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    OPENSSL_free(der);
    ECDSA_SIG_free(sig);
    EVP_PKEY_free(key);
    return ok;
}

Bytes RefSm2Encrypt(const Bytes& publicKey, const Bytes& message) {
    EVP_PKEY* key = Sm2PublicKey(publicKey);
    EVP_PKEY_CTX* ctx = key ? EVP_PKEY_CTX_new(key, nullptr) : nullptr;
    size_t derLen = 0;
    Bytes der;
    if (ctx && EVP_PKEY_encrypt_init(ctx) == 1 &&
        EVP_PKEY_encrypt(ctx, nullptr, &derLen, message.data(), message.size()) == 1) {
        der.resize(derLen);
        if (EVP_PKEY_encrypt(ctx, der.data(), &derLen, message.data(), message.size()) != 1) derLen = 0;
        der.resize(derLen);
    }
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
    // DER SEQUENCE { INTEGER x, INTEGER y, OCTET STRING C3, OCTET STRING C2 }.
    size_t pos = 0;
    auto element = [&](uint8_t tag, Bytes& value) {
        if (pos + 2 > der.size() || der[pos] != tag) return false;
        size_t len = der[pos + 1];
        pos += 2;
        if (len & 0x80) {
            size_t n = len & 0x7F;
            len = 0;
            for (size_t i = 0; i < n && pos < der.size(); ++i) len = len << 8 | der[pos++];
        }
        if (pos + len > der.size()) return false;
        value.assign(der.begin() + long(pos), der.begin() + long(pos + len));
        pos += len;
        return true;
    };
    Bytes sequence, x, y, c3, c2;
    if (!element(0x30, sequence)) return {};
    der = sequence;
    pos = 0;
    if (!element(0x02, x) || !element(0x02, y) || !element(0x04, c3) || !element(0x04, c2)) return {};
    auto fixed = [](Bytes v) {
        while (v.size() > 32 && v[0] == 0) v.erase(v.begin());
        v.insert(v.begin(), 32 - v.size(), 0);
        return v;
    };
    Bytes out = {0x04};
    for (const Bytes& part : {fixed(x), fixed(y), c3, c2}) out.insert(out.end(), part.begin(), part.end());
    return out;
}

bool RefRsaVerifySha1(const Bytes& modulus, const Bytes& exponent, const Bytes& digest, const Bytes& signature) {
    EVP_PKEY* key = RsaPublicKey(modulus, exponent);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    bool ok = EVP_PKEY_verify_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
              EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha1()) == 1 &&
              EVP_PKEY_verify(ctx, signature.data(), signature.size(), digest.data(), digest.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
    return ok;
}

RefRsaKey RefRsaGenerate(int bits) {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t(bits));
    const size_t len = size_t(bits / 8), half = len / 2;
    RefRsaKey out;
    out.n = BnBytes(key, OSSL_PKEY_PARAM_RSA_N, len);
    out.e = BnBytes(key, OSSL_PKEY_PARAM_RSA_E, 4);
    out.d = BnBytes(key, OSSL_PKEY_PARAM_RSA_D, len);
    out.p = BnBytes(key, OSSL_PKEY_PARAM_RSA_FACTOR1, half);
    out.q = BnBytes(key, OSSL_PKEY_PARAM_RSA_FACTOR2, half);
    out.dp = BnBytes(key, OSSL_PKEY_PARAM_RSA_EXPONENT1, half);
    out.dq = BnBytes(key, OSSL_PKEY_PARAM_RSA_EXPONENT2, half);
    EVP_PKEY_free(key);
    return out;
}

Bytes RefRsaEncrypt(const Bytes& n, const Bytes& e, const Bytes& plain) {
    EVP_PKEY* key = RsaPublicKey(n, e);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    Bytes out(n.size());
    size_t outLen = out.size();
    EVP_PKEY_encrypt_init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
    if (EVP_PKEY_encrypt(ctx, out.data(), &outLen, plain.data(), plain.size()) != 1) outLen = 0;
    out.resize(outLen);
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
    return out;
}

Bytes RefSm4Ecb(const Bytes& key, const Bytes& in) {
    Bytes out(in.size() + 16);
    int n = 0, m = 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_sm4_ecb(), nullptr, key.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, out.data(), &n, in.data(), int(in.size()));
    EVP_EncryptFinal_ex(ctx, out.data() + n, &m);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(size_t(n + m));
    return out;
}

Bytes RefModExp(const Bytes& n, const Bytes& x, const Bytes& m) {
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM* bn = BN_bin2bn(n.data(), int(n.size()), nullptr);
    BIGNUM* bx = BN_bin2bn(x.data(), int(x.size()), nullptr);
    BIGNUM* bm = BN_bin2bn(m.data(), int(m.size()), nullptr);
    BIGNUM* r = BN_new();
    BN_mod_exp(r, bm, bx, bn, ctx);
    Bytes out(n.size());
    BN_bn2binpad(r, out.data(), int(out.size()));
    BN_free(r);
    BN_free(bm);
    BN_free(bx);
    BN_free(bn);
    BN_CTX_free(ctx);
    return out;
}

Bytes RefRsaVerifyRecoverRaw(const Bytes& n, const Bytes& e, const Bytes& signature) {
    EVP_PKEY* key = RsaPublicKey(n, e);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    Bytes out(n.size());
    size_t outLen = out.size();
    if (EVP_PKEY_verify_recover_init(ctx) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING) != 1 ||
        EVP_PKEY_verify_recover(ctx, out.data(), &outLen, signature.data(), signature.size()) != 1)
        outLen = 0;
    out.resize(outLen);
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
    return out;
}

bool RefRsaVerifySha256(const Bytes& modulus, const Bytes& exponent, const Bytes& digest, const Bytes& signature) {
    EVP_PKEY* key = RsaPublicKey(modulus, exponent);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    bool ok = EVP_PKEY_verify_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
              EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256()) == 1 &&
              EVP_PKEY_verify(ctx, signature.data(), signature.size(), digest.data(), digest.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
    return ok;
}

RefRsaKey RefRsaGenerateE(int bits, unsigned e) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    BIGNUM* be = BN_new();
    BN_set_word(be, e);
    EVP_PKEY* key = nullptr;
    EVP_PKEY_keygen_init(ctx);
    EVP_PKEY_CTX_set_rsa_keygen_bits(ctx, bits);
    EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx, be);
    EVP_PKEY_keygen(ctx, &key);
    const size_t len = size_t(bits / 8);
    RefRsaKey out;
    out.n = BnBytes(key, OSSL_PKEY_PARAM_RSA_N, len);
    out.e = BnBytes(key, OSSL_PKEY_PARAM_RSA_E, 4);
    out.d = BnBytes(key, OSSL_PKEY_PARAM_RSA_D, len);
    EVP_PKEY_free(key);
    BN_free(be);
    EVP_PKEY_CTX_free(ctx);
    return out;
}

namespace {
EVP_PKEY* Sm2KeyPair(const RefSm2Key& k) {
    Bytes point = {0x04};
    point.insert(point.end(), k.publicKey.begin(), k.publicKey.begin() + 64);
    BIGNUM* d = BN_bin2bn(k.d.data(), int(k.d.size()), nullptr);
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0);
    OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size());
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_PRIV_KEY, d);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr);
    EVP_PKEY* key = nullptr;
    EVP_PKEY_fromdata_init(ctx);
    EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_KEYPAIR, params);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_free(d);
    return key;
}

void DerLength(Bytes& out, size_t len) {
    if (len < 0x80) {
        out.push_back(uint8_t(len));
    } else if (len < 0x100) {
        out.push_back(0x81);
        out.push_back(uint8_t(len));
    } else {
        out.push_back(0x82);
        out.push_back(uint8_t(len >> 8));
        out.push_back(uint8_t(len));
    }
}

void DerElement(Bytes& out, uint8_t tag, const Bytes& value) {
    out.push_back(tag);
    DerLength(out, value.size());
    out.insert(out.end(), value.begin(), value.end());
}

Bytes DerInteger(const uint8_t* p, size_t len) {
    Bytes v(p, p + len);
    while (v.size() > 1 && v[0] == 0 && !(v[1] & 0x80)) v.erase(v.begin());
    if (v[0] & 0x80) v.insert(v.begin(), 0);
    return v;
}
}  // namespace

RefSm2Key RefSm2Generate() {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
    RefSm2Key out;
    Bytes x = BnBytes(key, OSSL_PKEY_PARAM_EC_PUB_X, 32);
    Bytes y = BnBytes(key, OSSL_PKEY_PARAM_EC_PUB_Y, 32);
    out.publicKey = x;
    out.publicKey.insert(out.publicKey.end(), y.begin(), y.end());
    out.d = BnBytes(key, OSSL_PKEY_PARAM_PRIV_KEY, 32);
    EVP_PKEY_free(key);
    return out;
}

Bytes RefSm2SignMessage(const RefSm2Key& k, const Bytes& message) {
    EVP_PKEY* key = Sm2KeyPair(k);
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_CTX_set1_id(pctx, "1234567812345678", 16);
    EVP_MD_CTX_set_pkey_ctx(md, pctx);
    Bytes der(128);
    size_t derLen = der.size();
    Bytes out;
    if (EVP_DigestSignInit(md, nullptr, EVP_sm3(), nullptr, key) == 1 &&
        EVP_DigestSign(md, der.data(), &derLen, message.data(), message.size()) == 1) {
        const unsigned char* p = der.data();
        ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, long(derLen));
        if (sig) {
            out.resize(64);
            BN_bn2binpad(ECDSA_SIG_get0_r(sig), out.data(), 32);
            BN_bn2binpad(ECDSA_SIG_get0_s(sig), out.data() + 32, 32);
            ECDSA_SIG_free(sig);
        }
    }
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    EVP_PKEY_free(key);
    return out;
}

Bytes RefSm2Decrypt(const RefSm2Key& k, const Bytes& cipher) {
    if (cipher.size() < 98 || cipher[0] != 0x04) return {};
    Bytes body;
    DerElement(body, 0x02, DerInteger(cipher.data() + 1, 32));
    DerElement(body, 0x02, DerInteger(cipher.data() + 33, 32));
    DerElement(body, 0x04, Bytes(cipher.begin() + 65, cipher.begin() + 97));
    DerElement(body, 0x04, Bytes(cipher.begin() + 97, cipher.end()));
    Bytes der;
    DerElement(der, 0x30, body);
    EVP_PKEY* key = Sm2KeyPair(k);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    Bytes out(cipher.size());
    size_t outLen = out.size();
    if (EVP_PKEY_decrypt_init(ctx) != 1 || EVP_PKEY_decrypt(ctx, out.data(), &outLen, der.data(), der.size()) != 1)
        outLen = 0;
    out.resize(outLen);
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
    return out;
}

Bytes RefCipher(const char* name, const Bytes& key, const Bytes& iv, const Bytes& in, bool pad, bool encrypt) {
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
    if (!cipher) return {};
    Bytes out(in.size() + 32);
    int n = 0, m = 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    bool ok = EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv.empty() ? nullptr : iv.data(), encrypt) == 1 &&
              EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0) == 1 &&
              EVP_CipherUpdate(ctx, out.data(), &n, in.data(), int(in.size())) == 1 &&
              EVP_CipherFinal_ex(ctx, out.data() + n, &m) == 1;
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    if (!ok) return {};
    out.resize(size_t(n + m));
    return out;
}

Bytes RefDigest(const char* name, const Bytes& in) {
    EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
    Bytes out = md ? Digest(md, in) : Bytes();
    EVP_MD_free(md);
    return out;
}

namespace {
// x̄ = 2^127 + (x mod 2^127) of a 32-byte coordinate.
BIGNUM* XBar(const uint8_t* x) {
    BIGNUM* b = BN_bin2bn(x, 32, nullptr);
    BN_mask_bits(b, 127);
    BN_set_bit(b, 127);
    return b;
}

EC_POINT* Point(const EC_GROUP* group, const Bytes& xy, BN_CTX* ctx) {
    Bytes oct = {0x04};
    oct.insert(oct.end(), xy.begin(), xy.begin() + 64);
    EC_POINT* p = EC_POINT_new(group);
    EC_POINT_oct2point(group, p, oct.data(), oct.size(), ctx);
    return p;
}
}  // namespace

Bytes RefSm2Exchange(const RefSm2Key& own, const RefSm2Key& ownTemp, const Bytes& peer, const Bytes& peerTemp,
                     const Bytes& zSponsor, const Bytes& zResponder, size_t klen) {
    BN_CTX* ctx = BN_CTX_new();
    EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_sm2);
    const BIGNUM* order = EC_GROUP_get0_order(group);
    BIGNUM* d = BN_bin2bn(own.d.data(), 32, nullptr);
    BIGNUM* r = BN_bin2bn(ownTemp.d.data(), 32, nullptr);
    BIGNUM* x1 = XBar(ownTemp.publicKey.data());
    BIGNUM* x2 = XBar(peerTemp.data());
    BIGNUM* t = BN_new();
    BN_mod_mul(t, x1, r, order, ctx);
    BN_mod_add(t, t, d, order, ctx);
    EC_POINT* pPeer = Point(group, peer, ctx);
    EC_POINT* pTemp = Point(group, peerTemp, ctx);
    EC_POINT* sum = EC_POINT_new(group);
    EC_POINT_mul(group, sum, nullptr, pTemp, x2, ctx);
    EC_POINT_add(group, sum, sum, pPeer, ctx);
    EC_POINT* shared = EC_POINT_new(group);
    EC_POINT_mul(group, shared, nullptr, sum, t, ctx);
    Bytes point(65);
    EC_POINT_point2oct(group, shared, POINT_CONVERSION_UNCOMPRESSED, point.data(), point.size(), ctx);
    Bytes z(point.begin() + 1, point.end());
    z = Concat(Concat(z, zSponsor), zResponder);
    Bytes key;
    for (uint32_t counter = 1; key.size() < klen; ++counter) {
        Bytes block = z;
        for (int shift = 24; shift >= 0; shift -= 8) block.push_back(uint8_t(counter >> shift));
        key = Concat(key, RefSm3(block));
    }
    key.resize(klen);
    EC_POINT_free(shared);
    EC_POINT_free(sum);
    EC_POINT_free(pTemp);
    EC_POINT_free(pPeer);
    BN_free(t);
    BN_free(x2);
    BN_free(x1);
    BN_free(r);
    BN_free(d);
    EC_GROUP_free(group);
    BN_CTX_free(ctx);
    return key;
}
