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
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

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

// The context's key as an EC_KEY: the method serves legacy keys only (an
// EC_KEY in an EVP_PKEY, which carries the method's engine).
const EC_KEY* KeyOf(EVP_PKEY_CTX* ctx) {
    EVP_PKEY* pkey = EVP_PKEY_CTX_get0_pkey(ctx);
    return pkey && EVP_PKEY_get_base_id(pkey) == EVP_PKEY_EC ? EVP_PKEY_get0_EC_KEY(pkey) : nullptr;
}

smcrypto::SM2KeyMethodRules g_rules;

int CurveOf(const EC_KEY* ec) {
    const EC_GROUP* group = ec ? EC_KEY_get0_group(ec) : nullptr;
    return group ? EC_GROUP_get_curve_name(group) : NID_undef;
}

// Curve 920 is OpenSSL's SM2 curve; curve 921, which OpenSSL does not
// name, is recognised by its parameters (the core builds its group).
bool OnSm2Curve(const EC_KEY* ec) {
    const int curve = CurveOf(ec);
    if (curve == NID_sm2) return true;
    if (curve != NID_undef || !ec) return false;
    static const EC_GROUP* testCurve = SM2NewCurveGroup(SM2_TEST_CURVE_NID);
    const EC_GROUP* group = EC_KEY_get0_group(ec);
    return testCurve && group && EC_GROUP_cmp(group, testCurve, nullptr) == 0;
}

bool EngineIdStartsWith(const char* id, const char* prefix) {
    return id && std::strncmp(id, prefix, std::strlen(prefix)) == 0;
}

// SM2 for keys on curve 920 or 921 whose engine is none or a known software
// one; verification also for "pkcs11" engines.
bool RoutesToSm2(const EC_KEY* ec, bool verifying) {
    if (!OnSm2Curve(ec)) return false;
    if (!g_rules.engineRules) return true;
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
    if (!e || g_engineIndex < 0) return 0;
    return ENGINE_set_ex_data(e, g_engineIndex, reinterpret_cast<void*>(fn));
}

}  // extern "C"

namespace {

int PkeySign(EVP_PKEY_CTX* ctx, unsigned char* sig, size_t* siglen, const unsigned char* tbs, size_t tbslen) {
    const EC_KEY* ec = KeyOf(ctx);
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
    const EC_KEY* ec = KeyOf(ctx);
    if (!ec) {
        ERR_raise(ERR_LIB_EC, EC_R_INVALID_KEY);
        return -1;
    }
    if (!RoutesToSm2(ec, true)) return g_library.verify(ctx, sig, siglen, tbs, tbslen);
    return Sm2Verify(ec, sig, siglen, tbs, tbslen);
}

int PkeyEncrypt(EVP_PKEY_CTX* ctx, unsigned char* out, size_t* outlen, const unsigned char* in, size_t inlen) {
    const EC_KEY* ec = KeyOf(ctx);
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

// C1's coordinate right-aligned in 32 bytes; a negative or longer value
// fails, and so does a shorter one where the rules want exactly 32 bytes.
bool Coordinate(const ASN1_INTEGER* value, unsigned char out[32]) {
    if (g_rules.exactCoordinates && value->length != 32) return false;
    BIGNUM* bn = ASN1_INTEGER_to_BN(value, nullptr);
    const bool ok = bn && !BN_is_negative(bn) && BN_num_bytes(bn) <= 32 && BN_bn2binpad(bn, out, 32) == 32;
    BN_free(bn);
    return ok;
}

int PkeyDecrypt(EVP_PKEY_CTX* ctx, unsigned char* out, size_t* outlen, const unsigned char* in, size_t inlen) {
    const EC_KEY* ec = KeyOf(ctx);
    if (ec && g_rules.engineRules) {
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

// Z of the key with the default identity, fed into a verification's digest
// before the signed data: SM3 with a key on curve 920 only.
int PkeyDigestCustom(EVP_PKEY_CTX* ctx, EVP_MD_CTX* mctx) {
    const int operation = EVP_PKEY_CTX_get_operation(ctx);
    const EVP_MD* md = EVP_MD_CTX_get0_md(mctx);
    if ((operation != EVP_PKEY_OP_VERIFY && operation != EVP_PKEY_OP_VERIFYCTX) || !md ||
        EVP_MD_get_type(md) != NID_sm3)
        return 1;
    const EC_KEY* ec = KeyOf(ctx);
    if (!ec || !EC_KEY_get0_group(ec)) {
        ERR_raise(ERR_LIB_EC, EC_R_MISSING_PARAMETERS);
        return 0;
    }
    if (CurveOf(ec) != NID_sm2) return 1;
    unsigned char X[32], Y[32], Z[32];
    return PublicCoordinates(ec, X, Y) && _SM2_CalculateDefaultZValue(X, Y, Z) == 1 &&
           EVP_DigestUpdate(mctx, Z, sizeof Z) == 1;
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
    if (g_rules.zInVerification) EVP_PKEY_meth_set_digest_custom(method, PkeyDigestCustom);
    return method;
}

// The EC ASN.1 method's control as the library has it (its default digest
// and the TLS point), which no public call reaches, and the PKCS#7 signer
// control on top: SM3 signs as sm2-sm3-pkcs7 with absent parameters, other
// digests take the signature algorithm of (digest, EC) from the
// cross-reference.
int LibraryAsn1Ctrl(EVP_PKEY* pkey, int op, long arg1, void* arg2) {
    EC_KEY* ec = const_cast<EC_KEY*>(EVP_PKEY_get0_EC_KEY(pkey));
    switch (op) {
    case ASN1_PKEY_CTRL_DEFAULT_MD_NID:
        if (EVP_PKEY_get_id(pkey) == EVP_PKEY_SM2) {
            *static_cast<int*>(arg2) = NID_sm3;
            return 2;
        }
        *static_cast<int*>(arg2) = NID_sha256;
        return 1;
    case ASN1_PKEY_CTRL_SET1_TLS_ENCPT:
        return ec ? EC_KEY_oct2key(ec, static_cast<const unsigned char*>(arg2), size_t(arg1), nullptr) : 0;
    case ASN1_PKEY_CTRL_GET1_TLS_ENCPT:
        return ec ? int(EC_KEY_key2buf(ec, POINT_CONVERSION_UNCOMPRESSED, static_cast<unsigned char**>(arg2), nullptr))
                  : 0;
    default:
        return -2;
    }
}

int Asn1Ctrl(EVP_PKEY* pkey, int op, long arg1, void* arg2) {
    if (op == ASN1_PKEY_CTRL_PKCS7_SIGN && arg1 == 0 && g_rules.pkcs7SignerControl) {
        X509_ALGOR* digestAlg = nullptr;
        X509_ALGOR* signatureAlg = nullptr;
        PKCS7_SIGNER_INFO_get0_algs(static_cast<PKCS7_SIGNER_INFO*>(arg2), nullptr, &digestAlg, &signatureAlg);
        const int digest = digestAlg && digestAlg->algorithm ? OBJ_obj2nid(digestAlg->algorithm) : NID_undef;
        if (digest == NID_undef || !signatureAlg) return -1;
        ASN1_OBJECT* algorithm = nullptr;
        int signature = NID_undef;
        if (digest == NID_sm3)
            algorithm = OBJ_txt2obj("1.2.156.10197.1.301.1", 1);
        else if (OBJ_find_sigid_by_algs(&signature, digest, EVP_PKEY_EC))
            algorithm = OBJ_nid2obj(signature);
        if (!algorithm) return -1;
        return X509_ALGOR_set0(signatureAlg, algorithm, V_ASN1_UNDEF, nullptr) ? 1 : -1;
    }
    return LibraryAsn1Ctrl(pkey, op, arg1, arg2);
}

// The engine that carries the methods. It is registered for the EC ASN.1
// method only: OpenSSL then gives it to every legacy EC or SM2 key when the
// key is typed (EVP_PKEY_assign and the legacy decoders), and a context of
// such a key takes its key method from it. Provider keys never meet it: it
// is no default key-method engine, and its ASN.1 method's name matches no
// key type.
EVP_PKEY_METHOD* g_methods[2] = {nullptr, nullptr};  // EC, SM2
EVP_PKEY_ASN1_METHOD* g_asn1Method = nullptr;
const int kMethodNids[] = {EVP_PKEY_EC, EVP_PKEY_SM2};
const int kAsn1Nids[] = {EVP_PKEY_EC};

int EnginePkeyMethods(ENGINE*, EVP_PKEY_METHOD** method, const int** nids, int nid) {
    if (!method) {
        *nids = kMethodNids;
        return 2;
    }
    *method = nid == EVP_PKEY_EC ? g_methods[0] : nid == EVP_PKEY_SM2 ? g_methods[1] : nullptr;
    return *method != nullptr;
}

int EngineAsn1Methods(ENGINE*, EVP_PKEY_ASN1_METHOD** method, const int** nids, int nid) {
    if (!method) {
        *nids = kAsn1Nids;
        return 1;
    }
    *method = nid == EVP_PKEY_EC ? g_asn1Method : nullptr;
    return *method != nullptr;
}

ENGINE* g_engine = nullptr;

bool MakeMethods() {
    const EVP_PKEY_METHOD* library = EVP_PKEY_meth_find(EVP_PKEY_EC);
    const EVP_PKEY_ASN1_METHOD* libraryAsn1 = EVP_PKEY_asn1_find(nullptr, EVP_PKEY_EC);
    if (!library || !libraryAsn1) return false;
    EVP_PKEY_meth_get_copy(library, &g_library.copy);
    EVP_PKEY_meth_get_cleanup(library, &g_library.cleanup);
    EVP_PKEY_meth_get_sign(library, &g_library.signInit, &g_library.sign);
    EVP_PKEY_meth_get_verify(library, &g_library.verifyInit, &g_library.verify);
    EVP_PKEY_meth_get_ctrl(library, &g_library.ctrl, &g_library.ctrlStr);
    if (!g_library.sign || !g_library.verify || !g_library.ctrl) return false;
    g_methods[0] = NewMethod(EVP_PKEY_EC, library);
    g_methods[1] = NewMethod(EVP_PKEY_SM2, library);
    // A name no key type has, so that a lookup by name never finds it.
    g_asn1Method = EVP_PKEY_asn1_new(EVP_PKEY_EC, 0, "SM2-HOOKS-EC", "EC with SM2 hooks");
    if (!g_methods[0] || !g_methods[1] || !g_asn1Method) return false;
    EVP_PKEY_asn1_copy(g_asn1Method, libraryAsn1);
    EVP_PKEY_asn1_set_ctrl(g_asn1Method, Asn1Ctrl);
    return true;
}

}  // namespace

namespace smcrypto {

int RegisterSM2KeyMethod(const SM2KeyMethodRules& rules) {
    static std::once_flag once;
    static int registered = 0;
    std::call_once(once, [&rules] {
        g_rules = rules;
        if (!MakeMethods()) return;
        g_engineIndex = ENGINE_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
        ENGINE* engine = ENGINE_new();
        if (g_engineIndex < 0 || !engine || !ENGINE_set_id(engine, "sm2 hooks") ||
            !ENGINE_set_name(engine, "SM2 in the EC key method") ||
            !ENGINE_set_pkey_meths(engine, EnginePkeyMethods) ||
            !ENGINE_set_pkey_asn1_meths(engine, EngineAsn1Methods) || !ENGINE_register_pkey_asn1_meths(engine)) {
            ENGINE_free(engine);
            return;
        }
        g_engine = engine;  // kept for the life of the process
        registered = 1;
    });
    return registered;
}

}  // namespace smcrypto
