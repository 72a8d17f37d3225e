// The RSA public-key primitive without padding on OpenSSL's big numbers.
#include "RawRsa.h"

#include <openssl/crypto.h>

#include <cstring>
#include <new>

namespace {

constexpr int kMaxModulusBits = 16384;
constexpr int kSmallModulusBits = 3072;  // above this, the exponent is limited
constexpr int kMaxLargeExponentBits = 64;

// m^e mod n into out (num bytes, right-aligned); num or -1. out is written
// only on success.
int RawPublicOperation(int inLen, const unsigned char* in, unsigned char* out, const BIGNUM* n, const BIGNUM* e) {
    if (!n || !e || !out || inLen < 0 || (inLen > 0 && !in)) return -1;
    const int bits = BN_num_bits(n);
    if (bits > kMaxModulusBits) return -1;
    if (BN_ucmp(n, e) <= 0) return -1;
    if (bits > kSmallModulusBits && BN_num_bits(e) > kMaxLargeExponentBits) return -1;

    BN_CTX* ctx = BN_CTX_new();
    if (!ctx) return -1;
    BN_CTX_start(ctx);
    BIGNUM* f = BN_CTX_get(ctx);
    BIGNUM* r = BN_CTX_get(ctx);
    const int num = (bits + 7) / 8;
    unsigned char* buffer = new (std::nothrow) unsigned char[num > 0 ? num : 1];
    BN_MONT_CTX* mont = nullptr;
    int result = -1;

    if (f && r && buffer && inLen <= num && BN_bin2bn(in, inLen, f) && BN_ucmp(f, n) < 0) {
        mont = BN_MONT_CTX_new();
        if (mont && BN_MONT_CTX_set(mont, n, ctx) && BN_mod_exp_mont(r, f, e, n, ctx, mont)) {
            const int i = BN_bn2bin(r, buffer);
            if (i >= 0 && i <= num) {
                std::memset(out, 0, size_t(num - i));
                std::memcpy(out + (num - i), buffer, size_t(i));
                result = num;
            }
        }
    }

    BN_CTX_end(ctx);
    BN_CTX_free(ctx);
    if (buffer) {
        OPENSSL_cleanse(buffer, size_t(num > 0 ? num : 1));
        delete[] buffer;
    }
    BN_MONT_CTX_free(mont);
    return result;
}

}  // namespace

int RSA_create(const unsigned char* modulus, int modulusLen, RsaPublicKey* key, const unsigned char* exponent,
               int exponentLen) {
    if (!key || !modulus || !exponent || modulusLen < 0 || exponentLen < 0) return 0;
    key->n = BN_bin2bn(modulus, modulusLen, nullptr);
    key->e = BN_bin2bn(exponent, exponentLen, nullptr);
    if (key->n && key->e) return 1;
    DestroyRsaPublicKey(key);
    return 0;
}

void DestroyRsaPublicKey(RsaPublicKey* key) {
    if (!key) return;
    BN_free(key->e);
    key->e = nullptr;
    BN_free(key->n);
    key->n = nullptr;
}

int RSA_eay_public_decrypt(int inLen, const unsigned char* in, unsigned char* out, const RsaPublicKey* key) {
    if (!key) return -1;
    return RawPublicOperation(inLen, in, out, key->n, key->e);
}

int RSA_eay_public_decrypt(int inLen, const unsigned char* in, unsigned char* out, const BIGNUM* n, const BIGNUM* e,
                           int /*padding: none is ever added or removed*/) {
    return RawPublicOperation(inLen, in, out, n, e);
}
