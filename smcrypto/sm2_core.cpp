// SM2 (GM/T 0003) on OpenSSL's big numbers and prime-curve groups.
#include "sm2_core.h"

#include <openssl/crypto.h>
#include <openssl/ecdsa.h>
#include <openssl/err.h>
#include <openssl/obj_mac.h>

#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#ifdef SM2CORE_TEST_SEAM
#include "sm2_core_test_seam.h"
#endif

namespace {

struct BnFree {
    void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
struct CtxFree {
    void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
struct GroupFree {
    void operator()(EC_GROUP* g) const { EC_GROUP_free(g); }
};
struct PointFree {
    void operator()(EC_POINT* p) const { EC_POINT_clear_free(p); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
using Ctx = std::unique_ptr<BN_CTX, CtxFree>;
using Group = std::unique_ptr<EC_GROUP, GroupFree>;
using Point = std::unique_ptr<EC_POINT, PointFree>;

// Secret intermediate bytes are wiped when they go.
struct SecretBytes {
    std::vector<unsigned char> v;
    explicit SecretBytes(size_t n) : v(n) {}
    ~SecretBytes() {
        if (!v.empty()) OPENSSL_cleanse(v.data(), v.size());
    }
    unsigned char* data() { return v.data(); }
};

constexpr int kCoord = SM2_COORD_BYTES;

// Curve 920's parameters for the default Z value.
const char kSm2A[] = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFC";
const char kSm2B[] = "28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93";
const char kSm2Gx[] = "32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7";
const char kSm2Gy[] = "BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0";
const unsigned char kDefaultId[] = "1234567812345678";
constexpr int kDefaultIdLen = 16;

// The example curve of GM/T 0003 over a 256-bit prime field (cofactor 1).
const char kTestP[] = "8542D69E4C044F18E8B92435BF6FF7DE457283915C45517D722EDB8B08F1DFC3";
const char kTestA[] = "787968B4FA32C3FD2417842E73BBFEFF2F3C848B6831D7E0EC65228B3937E498";
const char kTestB[] = "63E4C6D3B23B0C849CF84241484BFE48F61D59A5B16BA06E6E12D1DA27C5249A";
const char kTestGx[] = "421DEBD61B62EAB6746434EBC3CC315E32220B3BADD50BDC4C4E6C147FEDD43D";
const char kTestGy[] = "0680512BCBB42C07D47349D2153B70C4E5D7FDFCBFA36EA1A85841B9E46E09A2";
const char kTestN[] = "8542D69E4C044F18E8B92435BF6FF7DD297720630485628D5AE74EE7C32E79B7";

#ifdef SM2CORE_TEST_SEAM
BIGNUM* g_fixedK = nullptr;
#endif

Bn BnOfHex(const char* hex) {
    BIGNUM* b = nullptr;
    return Bn(BN_hex2bn(&b, hex) ? b : nullptr);
}

Group NewTestCurveGroup() {
    Bn p = BnOfHex(kTestP), a = BnOfHex(kTestA), b = BnOfHex(kTestB), gx = BnOfHex(kTestGx), gy = BnOfHex(kTestGy),
       n = BnOfHex(kTestN);
    Ctx ctx(BN_CTX_new());
    if (!p || !a || !b || !gx || !gy || !n || !ctx) return nullptr;
    Group group(EC_GROUP_new_curve_GFp(p.get(), a.get(), b.get(), ctx.get()));
    if (!group) return nullptr;
    Point g(EC_POINT_new(group.get()));
    if (!g || !EC_POINT_set_affine_coordinates(group.get(), g.get(), gx.get(), gy.get(), ctx.get()) ||
        !EC_GROUP_set_generator(group.get(), g.get(), n.get(), BN_value_one()))
        return nullptr;
    return group;
}

bool IsCoreCurve(int curveNid) { return curveNid == SM2_CURVE_NID || curveNid == SM2_TEST_CURVE_NID; }

// The group of one of the system's curve numbers (the number itself is
// never handed to OpenSSL); null for any other number.
Group NewGroup(int curveNid) {
    if (curveNid == SM2_CURVE_NID) return Group(EC_GROUP_new_by_curve_name(NID_sm2));
    if (curveNid == SM2_TEST_CURVE_NID) return NewTestCurveGroup();
    return nullptr;
}

bool KIsFixed() {
#ifdef SM2CORE_TEST_SEAM
    return g_fixedK != nullptr;
#else
    return false;
#endif
}

// k uniformly in [1, n - 1] (a draw of 0 is repeated).
bool DrawK(BIGNUM* k, const BIGNUM* n) {
#ifdef SM2CORE_TEST_SEAM
    if (g_fixedK) return BN_copy(k, g_fixedK) != nullptr;
#endif
    do {
        if (!BN_priv_rand_range(k, n)) return false;
    } while (BN_is_zero(k));
    return true;
}

bool PointXYBytes(const EC_GROUP* group, const EC_POINT* p, unsigned char* x, unsigned char* y, BN_CTX* ctx) {
    Bn bx(BN_new()), by(BN_new());
    return bx && by && EC_POINT_get_affine_coordinates(group, p, bx.get(), by.get(), ctx) &&
           _SM2_BN2Bytes(bx.get(), x) && _SM2_BN2Bytes(by.get(), y);
}

bool InOpenRange(const BIGNUM* v, const BIGNUM* n) {  // 1 <= v <= n - 1
    return !BN_is_zero(v) && !BN_is_negative(v) && BN_cmp(v, n) < 0;
}

void Sm3Of3(const unsigned char* a, size_t aLen, const unsigned char* b, size_t bLen, const unsigned char* c,
            size_t cLen, unsigned char out[32]) {
    const unsigned char* pieces[3] = {a, b, c};
    const size_t lengths[3] = {aLen, bLen, cLen};
    SM2CoreSM3(pieces, lengths, 3, out);
}

}  // namespace

#ifdef SM2CORE_TEST_SEAM
void SM2CoreTestFixK(const BIGNUM* k) {
    BN_clear_free(g_fixedK);
    g_fixedK = k ? BN_dup(k) : nullptr;
}
#endif

int _SM2_IsAllZero(const unsigned char* bytes, int length) {
    if (length <= 0) return 1;
    if (!bytes) return 0;
    unsigned char acc = 0;
    for (int i = 0; i < length; ++i) acc |= bytes[i];
    return acc == 0;
}

int _SM2_Bytes2BN(const unsigned char* bytes, int length, BIGNUM* bn) {
    if (!bytes || !bn || length < 0) {
        ERR_raise(ERR_LIB_EC, ERR_R_PASSED_NULL_PARAMETER);
        return 0;
    }
    return BN_bin2bn(bytes, length < kCoord ? length : kCoord, bn) != nullptr;
}

int _SM2_BN2Bytes(const BIGNUM* bn, unsigned char out[32]) {
    if (!bn || !out) {
        ERR_raise(ERR_LIB_EC, ERR_R_PASSED_NULL_PARAMETER);
        return 0;
    }
    std::memset(out, 0, kCoord);
    if (BN_is_negative(bn) || BN_num_bytes(bn) > kCoord) {
        ERR_raise(ERR_LIB_EC, ERR_R_BN_LIB);
        return 0;
    }
    return BN_bn2binpad(bn, out, kCoord) == kCoord;
}

int _SM2_KDF(const unsigned char* z, int zLen, int klenBits, unsigned char* out) {
    if ((!z && zLen > 0) || zLen < 0 || !out || klenBits <= 0) {
        ERR_raise(ERR_LIB_EC, ERR_R_PASSED_NULL_PARAMETER);
        return 0;
    }
    const size_t blocks = (size_t(klenBits) + 255) / 256;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[blocks * 32]);
    if (!buffer) {
        ERR_raise(ERR_LIB_EC, ERR_R_MALLOC_FAILURE);
        return 0;
    }
    for (size_t i = 0; i < blocks; ++i) {
        const uint32_t ct = uint32_t(i + 1);
        const unsigned char counter[4] = {(unsigned char)(ct >> 24), (unsigned char)(ct >> 16),
                                          (unsigned char)(ct >> 8), (unsigned char)ct};
        const unsigned char* pieces[2] = {z, counter};
        const size_t lengths[2] = {size_t(zLen), 4};
        SM2CoreSM3(pieces, lengths, 2, buffer.get() + 32 * i);
    }
    std::memcpy(out, buffer.get(), size_t(klenBits) / 8);
    OPENSSL_cleanse(buffer.get(), blocks * 32);
    return 1;
}

int _SM2_CalculateZValue(const unsigned char* id, int idLen, const BIGNUM* a, const BIGNUM* b, const BIGNUM* xG,
                         const BIGNUM* yG, const BIGNUM* xA, const BIGNUM* yA, unsigned char Z[32]) {
    // ENTL is the identity's length in bits as two bytes.
    if ((!id && idLen > 0) || idLen < 0 || idLen > 0xFFFF / 8 || !a || !b || !xG || !yG || !xA || !yA || !Z) {
        ERR_raise(ERR_LIB_EC, ERR_R_PASSED_NULL_PARAMETER);
        return 0;
    }
    const int bits = idLen * 8;
    const unsigned char entl[2] = {(unsigned char)(bits >> 8), (unsigned char)bits};
    unsigned char values[6][kCoord];
    const BIGNUM* numbers[6] = {a, b, xG, yG, xA, yA};
    for (int i = 0; i < 6; ++i)
        if (!_SM2_BN2Bytes(numbers[i], values[i])) return 0;
    const unsigned char* pieces[8] = {entl, id, values[0], values[1], values[2], values[3], values[4], values[5]};
    const size_t lengths[8] = {2, size_t(idLen), kCoord, kCoord, kCoord, kCoord, kCoord, kCoord};
    SM2CoreSM3(pieces, lengths, 8, Z);
    return 1;
}

int _SM2_CalculateDefaultZValue(const unsigned char X[32], const unsigned char Y[32], unsigned char Z[32]) {
    if (!X || !Y || !Z) {
        ERR_raise(ERR_LIB_EC, ERR_R_PASSED_NULL_PARAMETER);
        return 0;
    }
    BIGNUM *a = nullptr, *b = nullptr, *gx = nullptr, *gy = nullptr;
    Bn xA(BN_new()), yA(BN_new());
    const bool made = BN_hex2bn(&a, kSm2A) && BN_hex2bn(&b, kSm2B) && BN_hex2bn(&gx, kSm2Gx) &&
                      BN_hex2bn(&gy, kSm2Gy) && xA && yA && _SM2_Bytes2BN(X, kCoord, xA.get()) &&
                      _SM2_Bytes2BN(Y, kCoord, yA.get());
    Bn holdA(a), holdB(b), holdGx(gx), holdGy(gy);
    if (!made) {
        ERR_raise(ERR_LIB_EC, ERR_R_BN_LIB);
        return 0;
    }
    return _SM2_CalculateZValue(kDefaultId, kDefaultIdLen, a, b, gx, gy, xA.get(), yA.get(), Z);
}

EC_GROUP* SM2NewCurveGroup(int curveNid) { return NewGroup(curveNid).release(); }

int _SM2_generate_key_on_curve(BIGNUM* d, BIGNUM* X, BIGNUM* Y, int curveNid) {
    if (!d || !X || !Y) {
        ERR_raise(ERR_LIB_EC, ERR_R_PASSED_NULL_PARAMETER);
        return 0;
    }
    Group group = NewGroup(curveNid);
    if (!group) {
        ERR_raise(ERR_LIB_EC, EC_R_INVALID_CURVE);
        return 0;
    }
    Ctx ctx(BN_CTX_new());
    Point p(EC_POINT_new(group.get()));
    const BIGNUM* n = EC_GROUP_get0_order(group.get());
    if (!ctx || !p) {
        ERR_raise(ERR_LIB_EC, ERR_R_MALLOC_FAILURE);
        return 0;
    }
    do {
        if (!BN_priv_rand_range(d, n)) {
            ERR_raise(ERR_LIB_EC, EC_R_RANDOM_NUMBER_GENERATION_FAILED);
            return 0;
        }
    } while (BN_is_zero(d));
    if (!EC_POINT_mul(group.get(), p.get(), d, nullptr, nullptr, ctx.get()) ||
        !EC_POINT_get_affine_coordinates(group.get(), p.get(), X, Y, ctx.get())) {
        BN_clear(d);
        ERR_raise(ERR_LIB_EC, ERR_R_EC_LIB);
        return 0;
    }
    return 1;
}

int _SM2_generate_keypair(unsigned char d[32], unsigned char X[32], unsigned char Y[32]) {
    if (!d || !X || !Y) {
        ERR_raise(ERR_LIB_EC, ERR_R_PASSED_NULL_PARAMETER);
        return 0;
    }
    Bn bd(BN_secure_new()), bx(BN_new()), by(BN_new());
    if (!bd || !bx || !by) {
        ERR_raise(ERR_LIB_EC, ERR_R_MALLOC_FAILURE);
        return 0;
    }
    return _SM2_generate_key_on_curve(bd.get(), bx.get(), by.get(), SM2_CURVE_NID) && _SM2_BN2Bytes(bd.get(), d) &&
           _SM2_BN2Bytes(bx.get(), X) && _SM2_BN2Bytes(by.get(), Y);
}

ECDSA_SIG* _SM2_sign(const BIGNUM* e, const BIGNUM* d, int curveNid) {
    if (!e || !d || !IsCoreCurve(curveNid)) {
        ERR_raise(ERR_LIB_ECDSA, ERR_R_PASSED_NULL_PARAMETER);
        return nullptr;
    }
    Group group = NewGroup(curveNid);
    if (!group) {
        ERR_raise(ERR_LIB_ECDSA, EC_R_INVALID_CURVE);
        return nullptr;
    }
    const BIGNUM* n = EC_GROUP_get0_order(group.get());
    Ctx ctx(BN_CTX_new());
    Point kG(EC_POINT_new(group.get()));
    Bn k(BN_secure_new()), r(BN_new()), s(BN_new()), x1(BN_new()), tmp(BN_secure_new()), inv(BN_secure_new());
    if (!ctx || !kG || !k || !r || !s || !x1 || !tmp || !inv) {
        ERR_raise(ERR_LIB_ECDSA, ERR_R_MALLOC_FAILURE);
        return nullptr;
    }
    // (1 + d)^-1 mod n
    if (!BN_add(tmp.get(), d, BN_value_one()) || !BN_mod_inverse(inv.get(), tmp.get(), n, ctx.get())) {
        ERR_raise(ERR_LIB_ECDSA, ERR_R_BN_LIB);
        return nullptr;
    }
    for (;;) {
        if (!DrawK(k.get(), n)) {
            ERR_raise(ERR_LIB_ECDSA, EC_R_RANDOM_NUMBER_GENERATION_FAILED);
            return nullptr;
        }
        if (!EC_POINT_mul(group.get(), kG.get(), k.get(), nullptr, nullptr, ctx.get()) ||
            !EC_POINT_get_affine_coordinates(group.get(), kG.get(), x1.get(), nullptr, ctx.get())) {
            ERR_raise(ERR_LIB_ECDSA, ERR_R_EC_LIB);
            return nullptr;
        }
        if (!BN_mod_add(r.get(), e, x1.get(), n, ctx.get()) || !BN_add(tmp.get(), r.get(), k.get())) {
            ERR_raise(ERR_LIB_ECDSA, ERR_R_BN_LIB);
            return nullptr;
        }
        const bool redraw = BN_is_zero(r.get()) || BN_cmp(tmp.get(), n) == 0;
        if (!redraw) {
            // s = (1 + d)^-1 * (k - r * d) mod n
            if (!BN_mod_mul(tmp.get(), r.get(), d, n, ctx.get()) ||
                !BN_mod_sub(tmp.get(), k.get(), tmp.get(), n, ctx.get()) ||
                !BN_mod_mul(s.get(), inv.get(), tmp.get(), n, ctx.get())) {
                ERR_raise(ERR_LIB_ECDSA, ERR_R_BN_LIB);
                return nullptr;
            }
            if (!BN_is_zero(s.get())) break;
        }
        if (KIsFixed()) {
            ERR_raise(ERR_LIB_ECDSA, EC_R_RANDOM_NUMBER_GENERATION_FAILED);
            return nullptr;
        }
    }
    ECDSA_SIG* sig = ECDSA_SIG_new();
    if (!sig || !ECDSA_SIG_set0(sig, r.get(), s.get())) {
        ECDSA_SIG_free(sig);
        ERR_raise(ERR_LIB_ECDSA, ERR_R_MALLOC_FAILURE);
        return nullptr;
    }
    r.release();
    s.release();
    return sig;
}

int _SM2_verify(const ECDSA_SIG* sig, const BIGNUM* Xa, const BIGNUM* Ya, const BIGNUM* e, int curveNid) {
    if (!sig || !Xa || !Ya || !e || !IsCoreCurve(curveNid)) {
        ERR_raise(ERR_LIB_ECDSA, ERR_R_PASSED_NULL_PARAMETER);
        return 0;
    }
    const BIGNUM *r = nullptr, *s = nullptr;
    ECDSA_SIG_get0(sig, &r, &s);
    Group group = NewGroup(curveNid);
    if (!group) {
        ERR_raise(ERR_LIB_ECDSA, EC_R_INVALID_CURVE);
        return 0;
    }
    const BIGNUM* n = EC_GROUP_get0_order(group.get());
    // r and s outside [1, n - 1] are refused before any point is computed.
    if (!r || !s || !InOpenRange(r, n) || !InOpenRange(s, n)) {
        ERR_raise(ERR_LIB_ECDSA, EC_R_BAD_SIGNATURE);
        return 0;
    }
    Ctx ctx(BN_CTX_new());
    Point pa(EC_POINT_new(group.get())), p(EC_POINT_new(group.get()));
    Bn t(BN_new()), x1(BN_new()), check(BN_new());
    if (!ctx || !pa || !p || !t || !x1 || !check) {
        ERR_raise(ERR_LIB_ECDSA, ERR_R_MALLOC_FAILURE);
        return 0;
    }
    // OpenSSL refuses a point that is not on the curve here.
    if (!EC_POINT_set_affine_coordinates(group.get(), pa.get(), Xa, Ya, ctx.get())) {
        ERR_raise(ERR_LIB_ECDSA, ERR_R_EC_LIB);
        return 0;
    }
    if (!BN_mod_add(t.get(), r, s, n, ctx.get())) {
        ERR_raise(ERR_LIB_ECDSA, ERR_R_BN_LIB);
        return 0;
    }
    if (BN_is_zero(t.get())) {
        ERR_raise(ERR_LIB_ECDSA, EC_R_BAD_SIGNATURE);
        return 0;
    }
    // (x1', y1') = [s]G + [t]PA
    if (!EC_POINT_mul(group.get(), p.get(), s, pa.get(), t.get(), ctx.get()) ||
        EC_POINT_is_at_infinity(group.get(), p.get()) ||
        !EC_POINT_get_affine_coordinates(group.get(), p.get(), x1.get(), nullptr, ctx.get())) {
        ERR_raise(ERR_LIB_ECDSA, ERR_R_EC_LIB);
        return 0;
    }
    if (!BN_mod_add(check.get(), e, x1.get(), n, ctx.get())) {
        ERR_raise(ERR_LIB_ECDSA, ERR_R_BN_LIB);
        return 0;
    }
    if (BN_cmp(check.get(), r) != 0) {
        ERR_raise(ERR_LIB_ECDSA, EC_R_BAD_SIGNATURE);
        return 0;
    }
    return 1;
}

int _SM2_verify_ex(const unsigned char r[32], const unsigned char s[32], const unsigned char X[32],
                   const unsigned char Y[32], const unsigned char e[32]) {
    if (!r || !s || !X || !Y || !e) {
        ERR_raise(ERR_LIB_ECDSA, ERR_R_PASSED_NULL_PARAMETER);
        return 0;
    }
    Bn br(BN_new()), bs(BN_new()), bx(BN_new()), by(BN_new()), be(BN_new());
    std::unique_ptr<ECDSA_SIG, void (*)(ECDSA_SIG*)> sig(ECDSA_SIG_new(), ECDSA_SIG_free);
    if (!br || !bs || !bx || !by || !be || !sig || !_SM2_Bytes2BN(r, kCoord, br.get()) ||
        !_SM2_Bytes2BN(s, kCoord, bs.get()) || !_SM2_Bytes2BN(X, kCoord, bx.get()) ||
        !_SM2_Bytes2BN(Y, kCoord, by.get()) || !_SM2_Bytes2BN(e, kCoord, be.get())) {
        ERR_raise(ERR_LIB_ECDSA, ERR_R_MALLOC_FAILURE);
        return 0;
    }
    ECDSA_SIG_set0(sig.get(), br.release(), bs.release());
    return _SM2_verify(sig.get(), bx.get(), by.get(), be.get(), SM2_CURVE_NID);
}

int _SM2_encrypt(int curveNid, const unsigned char* msg, int msgLen, const BIGNUM* Xb, const BIGNUM* Yb,
                 unsigned char* out) {
    if (!msg || msgLen < 1 || msgLen > (INT_MAX - SM2_CIPHER_OVERHEAD) / 8 || !Xb || !Yb || !out) {
        ERR_raise(ERR_LIB_EC, ERR_R_PASSED_NULL_PARAMETER);
        return 0;
    }
    Group group = NewGroup(curveNid);
    if (!group) {
        ERR_raise(ERR_LIB_EC, EC_R_INVALID_CURVE);
        return 0;
    }
    const BIGNUM* n = EC_GROUP_get0_order(group.get());
    const BIGNUM* h = EC_GROUP_get0_cofactor(group.get());
    Ctx ctx(BN_CTX_new());
    Point pb(EC_POINT_new(group.get())), pt(EC_POINT_new(group.get()));
    Bn k(BN_secure_new());
    if (!ctx || !pb || !pt || !k || !h) {
        ERR_raise(ERR_LIB_EC, ERR_R_MALLOC_FAILURE);
        return 0;
    }
    // The public point; OpenSSL refuses one that is not on the curve.
    if (!EC_POINT_set_affine_coordinates(group.get(), pb.get(), Xb, Yb, ctx.get())) {
        ERR_raise(ERR_LIB_EC, ERR_R_EC_LIB);
        return 0;
    }
    // S = [h]PB must not be the point at infinity.
    if (!EC_POINT_mul(group.get(), pt.get(), nullptr, pb.get(), h, ctx.get()) ||
        EC_POINT_is_at_infinity(group.get(), pt.get())) {
        ERR_raise(ERR_LIB_EC, EC_R_POINT_AT_INFINITY);
        return 0;
    }
    const size_t len = size_t(msgLen);
    SecretBytes result(SM2_CIPHER_OVERHEAD + len);  // 04 || x1 || y1 || C2 || C3
    SecretBytes x2y2(2 * kCoord), t(len);
    unsigned char* c1 = result.data();
    unsigned char* c2 = c1 + 1 + 2 * kCoord;
    unsigned char* c3 = c2 + len;
    for (;;) {
        if (!DrawK(k.get(), n)) {
            ERR_raise(ERR_LIB_EC, EC_R_RANDOM_NUMBER_GENERATION_FAILED);
            return 0;
        }
        // C1 = [k]G, (x2, y2) = [k]PB
        if (!EC_POINT_mul(group.get(), pt.get(), k.get(), nullptr, nullptr, ctx.get()) ||
            !PointXYBytes(group.get(), pt.get(), c1 + 1, c1 + 1 + kCoord, ctx.get()) ||
            !EC_POINT_mul(group.get(), pt.get(), nullptr, pb.get(), k.get(), ctx.get()) ||
            !PointXYBytes(group.get(), pt.get(), x2y2.data(), x2y2.data() + kCoord, ctx.get())) {
            ERR_raise(ERR_LIB_EC, ERR_R_EC_LIB);
            return 0;
        }
        if (!_SM2_KDF(x2y2.data(), 2 * kCoord, msgLen * 8, t.data())) return 0;
        if (!_SM2_IsAllZero(t.data(), msgLen)) break;
        if (KIsFixed()) {
            ERR_raise(ERR_LIB_EC, EC_R_RANDOM_NUMBER_GENERATION_FAILED);
            return 0;
        }
    }
    c1[0] = 0x04;
    for (size_t i = 0; i < len; ++i) c2[i] = msg[i] ^ t.data()[i];
    Sm3Of3(x2y2.data(), kCoord, msg, len, x2y2.data() + kCoord, kCoord, c3);
    std::memcpy(out, result.data(), result.v.size());
    return 1;
}

int _SM2_decrypt(int curveNid, const unsigned char* cipher, int cipherLen, const BIGNUM* d, unsigned char* out) {
    if (!cipher || !d || !out) {
        ERR_raise(ERR_LIB_EC, ERR_R_PASSED_NULL_PARAMETER);
        return 0;
    }
    // At least one message byte; nothing is read before the length is known good.
    if (cipherLen <= SM2_CIPHER_OVERHEAD || cipherLen - SM2_CIPHER_OVERHEAD > INT_MAX / 8 || cipher[0] != 0x04) {
        ERR_raise(ERR_LIB_EC, EC_R_INVALID_ENCODING);
        return 0;
    }
    const int msgLen = cipherLen - SM2_CIPHER_OVERHEAD;
    const size_t len = size_t(msgLen);
    const unsigned char* c2 = cipher + 1 + 2 * kCoord;
    const unsigned char* c3 = c2 + len;

    Group group = NewGroup(curveNid);
    if (!group) {
        ERR_raise(ERR_LIB_EC, EC_R_INVALID_CURVE);
        return 0;
    }
    const BIGNUM* h = EC_GROUP_get0_cofactor(group.get());
    Ctx ctx(BN_CTX_new());
    Point c1(EC_POINT_new(group.get())), pt(EC_POINT_new(group.get()));
    Bn x1(BN_new()), y1(BN_new()), p(BN_new());
    if (!ctx || !c1 || !pt || !x1 || !y1 || !p || !h) {
        ERR_raise(ERR_LIB_EC, ERR_R_MALLOC_FAILURE);
        return 0;
    }
    // C1 must be a point of the curve with coordinates below p.
    if (!BN_bin2bn(cipher + 1, kCoord, x1.get()) || !BN_bin2bn(cipher + 1 + kCoord, kCoord, y1.get()) ||
        !EC_GROUP_get_curve(group.get(), p.get(), nullptr, nullptr, ctx.get()) || BN_cmp(x1.get(), p.get()) >= 0 ||
        BN_cmp(y1.get(), p.get()) >= 0 ||
        !EC_POINT_set_affine_coordinates(group.get(), c1.get(), x1.get(), y1.get(), ctx.get())) {
        ERR_raise(ERR_LIB_EC, EC_R_POINT_IS_NOT_ON_CURVE);
        return 0;
    }
    if (!EC_POINT_mul(group.get(), pt.get(), nullptr, c1.get(), h, ctx.get()) ||
        EC_POINT_is_at_infinity(group.get(), pt.get())) {
        ERR_raise(ERR_LIB_EC, EC_R_POINT_AT_INFINITY);
        return 0;
    }
    SecretBytes x2y2(2 * kCoord), t(len), plain(len);
    if (!EC_POINT_mul(group.get(), pt.get(), nullptr, c1.get(), d, ctx.get()) ||
        !PointXYBytes(group.get(), pt.get(), x2y2.data(), x2y2.data() + kCoord, ctx.get())) {
        ERR_raise(ERR_LIB_EC, ERR_R_EC_LIB);
        return 0;
    }
    if (!_SM2_KDF(x2y2.data(), 2 * kCoord, msgLen * 8, t.data())) return 0;
    if (_SM2_IsAllZero(t.data(), msgLen)) {
        ERR_raise(ERR_LIB_EC, EC_R_INVALID_ENCODING);
        return 0;
    }
    // The message stays in our own buffer until C3 has matched.
    for (size_t i = 0; i < len; ++i) plain.data()[i] = c2[i] ^ t.data()[i];
    unsigned char u[32];
    Sm3Of3(x2y2.data(), kCoord, plain.data(), len, x2y2.data() + kCoord, kCoord, u);
    if (CRYPTO_memcmp(u, c3, 32) != 0) {
        ERR_raise(ERR_LIB_EC, EC_R_INVALID_ENCODING);
        return 0;
    }
    std::memcpy(out, plain.data(), len);
    return 1;
}
