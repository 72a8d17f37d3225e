// SM2 in OpenSSL's EC key method (see sm2_pkey_method.h). The key method,
// EC_KEY and ENGINE interfaces are deprecated in OpenSSL 3.0 but are the
// only public way to change what its generic operations do for EC keys
// without writing a provider.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "sm2_pkey_method.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "sm2_asn1.h"
#include "sm2_core.h"

namespace {

constexpr size_t kDigestBytes = 32;

// The library's own EC key method, whose behaviour the added one keeps
// wherever SM2 does not apply.
struct LibraryEcMethod {
    int (*init)(EVP_PKEY_CTX*) = nullptr;
    int (*copy)(EVP_PKEY_CTX*, const EVP_PKEY_CTX*) = nullptr;
    void (*cleanup)(EVP_PKEY_CTX*) = nullptr;
    int (*signInit)(EVP_PKEY_CTX*) = nullptr;
    int (*sign)(EVP_PKEY_CTX*, unsigned char*, size_t*, const unsigned char*, size_t) = nullptr;
    int (*verifyInit)(EVP_PKEY_CTX*) = nullptr;
    int (*verify)(EVP_PKEY_CTX*, const unsigned char*, size_t, const unsigned char*, size_t) = nullptr;
    int (*ctrl)(EVP_PKEY_CTX*, int, int, void*) = nullptr;
    int (*ctrlStr)(EVP_PKEY_CTX*, const char*, const char*) = nullptr;
};
LibraryEcMethod g_library;

// SM3 chosen through the digest control, per context: the library's own
// context data has no room for a digest it does not know.
std::mutex g_sm3Mutex;
std::map<const EVP_PKEY_CTX*, const EVP_MD*> g_sm3Digests;

int g_engineIndex = -1;

// The context's key as an EC_KEY. Once the method is registered OpenSSL
// hands it provider keys too: an EC one has a legacy copy; an SM2 one does
// not, so a copy of its group and key values is made (and freed here).
class KeyOf {
public:
    explicit KeyOf(EVP_PKEY_CTX* ctx) {
        EVP_PKEY* pkey = EVP_PKEY_CTX_get0_pkey(ctx);
        if (!pkey) return;
        if (EVP_PKEY_get_base_id(pkey) == EVP_PKEY_EC) {
            m_ec = EVP_PKEY_get0_EC_KEY(pkey);
        } else if (EVP_PKEY_get0_provider(pkey) && EVP_PKEY_is_a(pkey, "SM2")) {
            m_owned = ProviderSm2Key(pkey);
            m_ec = m_owned;
        }
    }
    ~KeyOf() { EC_KEY_free(m_owned); }
    KeyOf(const KeyOf&) = delete;
    KeyOf& operator=(const KeyOf&) = delete;
    operator const EC_KEY*() const { return m_ec; }

private:
    static EC_KEY* ProviderSm2Key(EVP_PKEY* pkey) {
        EC_KEY* ec = EC_KEY_new_by_curve_name(NID_sm2);
        unsigned char pub[133];
        size_t pubLength = 0;
        BIGNUM* priv = nullptr;
        EC_POINT* point = ec ? EC_POINT_new(EC_KEY_get0_group(ec)) : nullptr;
        bool ok = point && EVP_PKEY_get_octet_string_param(pkey, "pub", pub, sizeof pub, &pubLength) &&
                  EC_POINT_oct2point(EC_KEY_get0_group(ec), point, pub, pubLength, nullptr) &&
                  EC_KEY_set_public_key(ec, point);
        if (ok && EVP_PKEY_get_bn_param(pkey, "priv", &priv)) ok = EC_KEY_set_private_key(ec, priv);
        ERR_clear_error();  // a public key has no private value
        BN_clear_free(priv);
        EC_POINT_free(point);
        if (!ok) {
            EC_KEY_free(ec);
            return nullptr;
        }
        return ec;
    }
    const EC_KEY* m_ec = nullptr;
    EC_KEY* m_owned = nullptr;
};

bool OnSm2Curve(const EC_KEY* ec) {
    const EC_GROUP* group = ec ? EC_KEY_get0_group(ec) : nullptr;
    return group && EC_GROUP_get_curve_name(group) == NID_sm2;
}

bool EngineIdStartsWith(const char* id, const char* prefix) {
    return id && std::strncmp(id, prefix, std::strlen(prefix)) == 0;
}

// SM2 for keys on the SM2 curve whose engine is none or a known software
// one; verification also for "pkcs11" engines.
bool RoutesToSm2(const EC_KEY* ec, bool verifying) {
    if (!OnSm2Curve(ec)) return false;
    ENGINE* engine = EC_KEY_get0_engine(ec);
    if (!engine) return true;
    const char* id = ENGINE_get_id(engine);
    return EngineIdStartsWith(id, "openssl ecdsa") || EngineIdStartsWith(id, "cavium") ||
           (verifying && EngineIdStartsWith(id, "pkcs11"));
}

// The public key's affine coordinates, 32 bytes each.
bool PublicCoordinates(const EC_KEY* ec, unsigned char X[32], unsigned char Y[32]) {
    const EC_POINT* point = EC_KEY_get0_public_key(ec);
    BIGNUM* x = BN_new();
    BIGNUM* y = BN_new();
    const bool ok = point && x && y &&
                    EC_POINT_get_affine_coordinates(EC_KEY_get0_group(ec), point, x, y, nullptr) &&
                    BN_bn2binpad(x, X, 32) == 32 && BN_bn2binpad(y, Y, 32) == 32;
    BN_free(x);
    BN_free(y);
    return ok;
}

int Sm2Sign(const EC_KEY* ec, unsigned char* sig, size_t* siglen, const unsigned char* tbs, size_t tbslen) {
    const BIGNUM* d = EC_KEY_get0_private_key(ec);
    if (tbslen != kDigestBytes) {
        ERR_raise(ERR_LIB_EC, EC_R_INVALID_LENGTH);
        return -1;
    }
    if (!d) {
        ERR_raise(ERR_LIB_EC, EC_R_MISSING_PRIVATE_KEY);
        return -1;
    }
    BIGNUM* e = BN_bin2bn(tbs, int(tbslen), nullptr);
    ECDSA_SIG* signature = e ? _SM2_sign(e, d, SM2_CURVE_NID) : nullptr;
    BN_free(e);
    if (!signature) return -1;
    const int length = i2d_ECDSA_SIG(signature, nullptr);
    int result = -1;
    if (length > 0 && size_t(length) <= *siglen) {
        unsigned char* p = sig;
        i2d_ECDSA_SIG(signature, &p);
        *siglen = size_t(length);
        result = 1;
    } else {
        ERR_raise(ERR_LIB_EC, EC_R_BUFFER_TOO_SMALL);
    }
    ECDSA_SIG_free(signature);
    return result;
}

int Sm2Verify(const EC_KEY* ec, const unsigned char* sig, size_t siglen, const unsigned char* tbs, size_t tbslen) {
    if (tbslen != kDigestBytes) {
        ERR_raise(ERR_LIB_EC, EC_R_INVALID_LENGTH);
        return -1;
    }
    const unsigned char* p = sig;
    ECDSA_SIG* signature = d2i_ECDSA_SIG(nullptr, &p, long(siglen));
    int result = -1;
    if (signature && p == sig + siglen) {
        const BIGNUM* r = ECDSA_SIG_get0_r(signature);
        const BIGNUM* s = ECDSA_SIG_get0_s(signature);
        unsigned char R[32], S[32], X[32], Y[32];
        const int rBytes = BN_num_bytes(r);
        const int sBytes = BN_num_bytes(s);
        if (rBytes >= 1 && rBytes <= 32 && sBytes >= 1 && sBytes <= 32 && !BN_is_negative(r) && !BN_is_negative(s) &&
            BN_bn2binpad(r, R, 32) == 32 && BN_bn2binpad(s, S, 32) == 32 && PublicCoordinates(ec, X, Y) &&
            _SM2_verify_ex(R, S, X, Y, tbs) == 1)
            result = 1;
    }
    ECDSA_SIG_free(signature);
    return result;
}

size_t DerLengthOctets(size_t n) {
    size_t octets = 1;
    if (n >= 0x80)
        for (size_t v = n; v; v >>= 8) ++octets;
    return octets;
}

// The largest SM2Cipher DER of a message of n bytes.
size_t MaxCipherDer(size_t n) {
    const size_t content = 2 * (2 + 33) + (2 + 32) + 1 + DerLengthOctets(n) + n;
    return 1 + DerLengthOctets(content) + content;
}

ASN1_INTEGER* UnsignedInteger(const unsigned char* bytes, int length) {
    BIGNUM* bn = BN_bin2bn(bytes, length, nullptr);
    ASN1_INTEGER* value = bn ? BN_to_ASN1_INTEGER(bn, nullptr) : nullptr;
    BN_free(bn);
    return value;
}

}  // namespace

extern "C" {

SM2_DECRYPT_FN ENGINE_get_sm2_decrypt(const ENGINE* e) {
    if (!e || g_engineIndex < 0) return nullptr;
    return reinterpret_cast<SM2_DECRYPT_FN>(ENGINE_get_ex_data(e, g_engineIndex));
}

int ENGINE_set_sm2_decrypt(ENGINE* e, SM2_DECRYPT_FN fn) {
    if (!e || smcrypto::RegisterSM2KeyMethod() != 1) return 0;
    return ENGINE_set_ex_data(e, g_engineIndex, reinterpret_cast<void*>(fn));
}

}  // extern "C"

namespace {

int PkeySign(EVP_PKEY_CTX* ctx, unsigned char* sig, size_t* siglen, const unsigned char* tbs, size_t tbslen) {
    const KeyOf ec(ctx);
    if (!ec) {
        ERR_raise(ERR_LIB_EC, EC_R_INVALID_KEY);
        return -1;
    }
    if (!RoutesToSm2(ec, false)) return g_library.sign(ctx, sig, siglen, tbs, tbslen);
    const int size = ECDSA_size(ec);
    if (size <= 0) return 0;
    if (!sig) {
        *siglen = size_t(size);
        return 1;
    }
    if (*siglen < size_t(size)) {
        ERR_raise(ERR_LIB_EC, EC_R_BUFFER_TOO_SMALL);
        return 0;
    }
    return Sm2Sign(ec, sig, siglen, tbs, tbslen);
}

int PkeyVerify(EVP_PKEY_CTX* ctx, const unsigned char* sig, size_t siglen, const unsigned char* tbs, size_t tbslen) {
    const KeyOf ec(ctx);
    if (!ec) {
        ERR_raise(ERR_LIB_EC, EC_R_INVALID_KEY);
        return -1;
    }
    if (!RoutesToSm2(ec, true)) return g_library.verify(ctx, sig, siglen, tbs, tbslen);
    return Sm2Verify(ec, sig, siglen, tbs, tbslen);
}

int PkeyEncrypt(EVP_PKEY_CTX* ctx, unsigned char* out, size_t* outlen, const unsigned char* in, size_t inlen) {
    const KeyOf ec(ctx);
    if (!OnSm2Curve(ec)) {
        ERR_raise(ERR_LIB_EC, EC_R_INVALID_CURVE);
        return -1;
    }
    if (inlen == 0 || inlen > 0x7FFFFFFF - SM2_CIPHER_OVERHEAD) {
        ERR_raise(ERR_LIB_EC, EC_R_INVALID_LENGTH);
        return -1;
    }
    if (!out) {
        *outlen = MaxCipherDer(inlen);
        return 1;
    }
    // The encoding's length depends on the random C1, so the room is checked
    // against the largest one: a buffer sized by an earlier ciphertext of the
    // same message is refused every time, not only when C1 comes out long.
    if (*outlen < MaxCipherDer(inlen)) {
        ERR_raise(ERR_LIB_EC, EC_R_BUFFER_TOO_SMALL);
        return -1;
    }
    unsigned char X[32], Y[32];
    if (!PublicCoordinates(ec, X, Y)) return -1;
    std::vector<unsigned char> raw(SM2_CIPHER_OVERHEAD + inlen);
    BIGNUM* x = BN_bin2bn(X, 32, nullptr);
    BIGNUM* y = BN_bin2bn(Y, 32, nullptr);
    const bool encrypted = x && y && _SM2_encrypt(SM2_CURVE_NID, in, int(inlen), x, y, raw.data()) == 1;
    BN_free(x);
    BN_free(y);
    int result = -1;
    SM2Cipher* cipher = encrypted ? SM2Cipher_new() : nullptr;
    if (cipher) {
        // raw: 04 || x1 || y1 || C2 || C3
        ASN1_INTEGER_free(cipher->XCoordinate);
        ASN1_INTEGER_free(cipher->YCoordinate);
        cipher->XCoordinate = UnsignedInteger(raw.data() + 1, 32);
        cipher->YCoordinate = UnsignedInteger(raw.data() + 33, 32);
        const int length = cipher->XCoordinate && cipher->YCoordinate &&
                                   ASN1_OCTET_STRING_set(cipher->HASH, raw.data() + 65 + inlen, 32) &&
                                   ASN1_OCTET_STRING_set(cipher->cipherText, raw.data() + 65, int(inlen))
                               ? i2d_SM2Cipher(cipher, nullptr)
                               : -1;
        if (length > 0 && size_t(length) <= *outlen) {
            unsigned char* p = out;
            i2d_SM2Cipher(cipher, &p);
            *outlen = size_t(length);
            result = 1;
        }
    }
    SM2Cipher_free(cipher);
    OPENSSL_cleanse(raw.data(), raw.size());
    return result;
}

// C1's coordinate right-aligned in 32 bytes; a negative or longer value fails.
bool Coordinate(const ASN1_INTEGER* value, unsigned char out[32]) {
    BIGNUM* bn = ASN1_INTEGER_to_BN(value, nullptr);
    const bool ok = bn && !BN_is_negative(bn) && BN_num_bytes(bn) <= 32 && BN_bn2binpad(bn, out, 32) == 32;
    BN_free(bn);
    return ok;
}

int PkeyDecrypt(EVP_PKEY_CTX* ctx, unsigned char* out, size_t* outlen, const unsigned char* in, size_t inlen) {
    const KeyOf ec(ctx);
    if (ec) {
        if (SM2_DECRYPT_FN engineDecrypt = ENGINE_get_sm2_decrypt(EC_KEY_get0_engine(ec)))
            return engineDecrypt(ctx, out, outlen, in, inlen);
    }
    if (!OnSm2Curve(ec)) {
        ERR_raise(ERR_LIB_EC, EC_R_INVALID_CURVE);
        return -1;
    }
    const unsigned char* p = in;
    SM2Cipher* cipher = d2i_SM2Cipher(nullptr, &p, long(inlen));
    int result = -1;
    std::vector<unsigned char> raw;
    const BIGNUM* d = EC_KEY_get0_private_key(ec);
    if (!cipher || p != in + inlen || cipher->HASH->length != 32 || cipher->cipherText->length < 1) {
        ERR_raise(ERR_LIB_EC, EC_R_DECODE_ERROR);
        goto done;
    }
    {
        const size_t c2 = size_t(cipher->cipherText->length);
        if (!out) {
            *outlen = c2;
            result = 1;
            goto done;
        }
        if (*outlen < c2) {
            ERR_raise(ERR_LIB_EC, EC_R_BUFFER_TOO_SMALL);
            goto done;
        }
        if (!d) {
            ERR_raise(ERR_LIB_EC, EC_R_MISSING_PRIVATE_KEY);
            goto done;
        }
        // 04 || x1 || y1 || C2 || C3
        raw.assign(SM2_CIPHER_OVERHEAD + c2, 0);
        raw[0] = 0x04;
        if (!Coordinate(cipher->XCoordinate, raw.data() + 1) || !Coordinate(cipher->YCoordinate, raw.data() + 33)) {
            ERR_raise(ERR_LIB_EC, EC_R_DECODE_ERROR);
            goto done;
        }
        std::memcpy(raw.data() + 65, cipher->cipherText->data, c2);
        std::memcpy(raw.data() + 65 + c2, cipher->HASH->data, 32);
        if (_SM2_decrypt(SM2_CURVE_NID, raw.data(), int(raw.size()), d, out) == 1) {
            *outlen = c2;
            result = 1;
        }
    }
done:
    SM2Cipher_free(cipher);
    return result;
}

int PkeyCtrl(EVP_PKEY_CTX* ctx, int type, int p1, void* p2) {
    if (type == EVP_PKEY_CTRL_MD) {
        const EVP_MD* md = static_cast<const EVP_MD*>(p2);
        std::lock_guard<std::mutex> lock(g_sm3Mutex);
        if (md && EVP_MD_get_type(md) == NID_sm3) {
            g_sm3Digests[ctx] = md;
            return 1;
        }
        g_sm3Digests.erase(ctx);
    } else if (type == EVP_PKEY_CTRL_GET_MD) {
        std::lock_guard<std::mutex> lock(g_sm3Mutex);
        auto found = g_sm3Digests.find(ctx);
        if (found != g_sm3Digests.end()) {
            *static_cast<const EVP_MD**>(p2) = found->second;
            return 1;
        }
    }
    return g_library.ctrl(ctx, type, p1, p2);
}

int PkeyCopy(EVP_PKEY_CTX* dst, const EVP_PKEY_CTX* src) {
    const int copied = g_library.copy ? g_library.copy(dst, src) : 1;
    if (copied > 0) {
        std::lock_guard<std::mutex> lock(g_sm3Mutex);
        auto found = g_sm3Digests.find(src);
        if (found != g_sm3Digests.end()) g_sm3Digests[dst] = found->second;
    }
    return copied;
}

void PkeyCleanup(EVP_PKEY_CTX* ctx) {
    {
        std::lock_guard<std::mutex> lock(g_sm3Mutex);
        g_sm3Digests.erase(ctx);
    }
    if (g_library.cleanup) g_library.cleanup(ctx);
}

EVP_PKEY_METHOD* NewMethod(int id, const EVP_PKEY_METHOD* library) {
    EVP_PKEY_METHOD* method = EVP_PKEY_meth_new(id, 0);
    if (!method) return nullptr;
    EVP_PKEY_meth_copy(method, library);
    EVP_PKEY_meth_set_copy(method, PkeyCopy);
    EVP_PKEY_meth_set_cleanup(method, PkeyCleanup);
    EVP_PKEY_meth_set_sign(method, g_library.signInit, PkeySign);
    EVP_PKEY_meth_set_verify(method, g_library.verifyInit, PkeyVerify);
    EVP_PKEY_meth_set_encrypt(method, nullptr, PkeyEncrypt);
    EVP_PKEY_meth_set_decrypt(method, nullptr, PkeyDecrypt);
    EVP_PKEY_meth_set_ctrl(method, PkeyCtrl, g_library.ctrlStr);
    return method;
}

}  // namespace

namespace smcrypto {

int RegisterSM2KeyMethod() {
    static std::once_flag once;
    static int registered = 0;
    std::call_once(once, [] {
        const EVP_PKEY_METHOD* library = EVP_PKEY_meth_find(EVP_PKEY_EC);
        if (!library) return;
        EVP_PKEY_meth_get_init(library, &g_library.init);
        EVP_PKEY_meth_get_copy(library, &g_library.copy);
        EVP_PKEY_meth_get_cleanup(library, &g_library.cleanup);
        EVP_PKEY_meth_get_sign(library, &g_library.signInit, &g_library.sign);
        EVP_PKEY_meth_get_verify(library, &g_library.verifyInit, &g_library.verify);
        EVP_PKEY_meth_get_ctrl(library, &g_library.ctrl, &g_library.ctrlStr);
        if (!g_library.sign || !g_library.verify || !g_library.ctrl) return;
        g_engineIndex = ENGINE_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
        if (g_engineIndex < 0) return;
        for (int id : {EVP_PKEY_EC, EVP_PKEY_SM2}) {
            EVP_PKEY_METHOD* method = NewMethod(id, library);
            if (!method || !EVP_PKEY_meth_add0(method)) {
                EVP_PKEY_meth_free(method);
                return;
            }
        }
        registered = 1;
    });
    return registered;
}

}  // namespace smcrypto
