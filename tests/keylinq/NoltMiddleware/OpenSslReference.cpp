// Independent references for the operator tests, on OpenSSL.
#include <cstring>

#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "OperatorTestSupport.h"

namespace {

Bytes Cipher(const EVP_CIPHER* cipher, const uint8_t* key, const uint8_t* in, int len) {
    Bytes out(len + 32);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    uint8_t iv[16] = {};
    int n = 0, m = 0;
    EVP_EncryptInit_ex(ctx, cipher, nullptr, key, iv);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, out.data(), &n, in, len);
    EVP_EncryptFinal_ex(ctx, out.data() + n, &m);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(size_t(n + m));
    return out;
}

Bytes Digest(const EVP_MD* md, const Bytes& in) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    EVP_Digest(in.data(), in.size(), out.data(), &n, md, nullptr);
    out.resize(n);
    return out;
}

Bytes SignedData(const Bytes& publicKey) {
    static const char tag[] = "VEMU-Product";
    Bytes data(12 + publicKey.size());
    std::memcpy(data.data(), tag, 12);
    std::memcpy(data.data() + 12, publicKey.data(), publicKey.size());
    return data;
}

}  // namespace

Bytes ReferenceCbc16(uint8_t alg, const uint8_t key[16], const uint8_t in[16]) {
    return Cipher(alg == 19 ? EVP_sm4_cbc() : EVP_des_ede_cbc(), key, in, 16);
}

Bytes ReferenceSm4Ecb(const uint8_t key[16], const uint8_t in[16]) { return Cipher(EVP_sm4_ecb(), key, in, 16); }

Bytes ReferenceMd5(const Bytes& in) { return Digest(EVP_md5(), in); }

ForeignRoot::ForeignRoot(uint8_t algId) : alg(algId) {
    pkey = alg == 19 ? EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2") : EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t(1024));
}

ForeignRoot::~ForeignRoot() { EVP_PKEY_free(static_cast<EVP_PKEY*>(pkey)); }

Bytes ForeignRoot::Sign(const Bytes& publicKey) const {
    Bytes digest = Digest(alg == 19 ? EVP_sm3() : EVP_sha1(), SignedData(publicKey));
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(static_cast<EVP_PKEY*>(pkey), nullptr);
    Bytes der(512);
    size_t derLen = der.size();
    EVP_PKEY_sign_init(ctx);
    if (alg != 19) {
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
        EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha1());
    }
    // SM2 signs the given 32 bytes as the digest e.
    int ok = EVP_PKEY_sign(ctx, der.data(), &derLen, digest.data(), digest.size());
    EVP_PKEY_CTX_free(ctx);
    if (ok != 1) return {};
    der.resize(derLen);
    if (alg != 19) return der;
    const uint8_t* p = der.data();
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, long(der.size()));
    Bytes rs(64);
    BN_bn2binpad(ECDSA_SIG_get0_r(sig), rs.data(), 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(sig), rs.data() + 32, 32);
    ECDSA_SIG_free(sig);
    return rs;
}

bool ForeignRoot::Verify(const Bytes& publicKey, const Bytes& signature) const {
    Bytes digest = Digest(alg == 19 ? EVP_sm3() : EVP_sha1(), SignedData(publicKey));
    Bytes der = signature;
    if (alg == 19) {
        ECDSA_SIG* sig = ECDSA_SIG_new();
        ECDSA_SIG_set0(sig, BN_bin2bn(signature.data(), 32, nullptr), BN_bin2bn(signature.data() + 32, 32, nullptr));
        der.assign(128, 0);
        uint8_t* p = der.data();
        der.resize(size_t(i2d_ECDSA_SIG(sig, &p)));
        ECDSA_SIG_free(sig);
    }
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(static_cast<EVP_PKEY*>(pkey), nullptr);
    EVP_PKEY_verify_init(ctx);
    if (alg != 19) {
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
        EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha1());
    }
    int ok = EVP_PKEY_verify(ctx, der.data(), der.size(), digest.data(), digest.size());
    EVP_PKEY_CTX_free(ctx);
    return ok == 1;
}
