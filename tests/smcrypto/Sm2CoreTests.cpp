// The SM2 core against OpenSSL's own SM2 (distinguishing id set explicitly),
// and its refusals of malformed input.
#include "OpenSslSm2.h"
#include "sm2_core.h"

#include <gtest/gtest.h>
#include <openssl/ecdsa.h>
#include <openssl/err.h>
#include <windows.h>

#include <cstring>

namespace {

struct BnDel {
    void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnDel>;
Bn BnOf(const Bytes& b) { return Bn(BN_bin2bn(b.data(), int(b.size()), nullptr)); }
Bn BnHex(const char* hex) {
    BIGNUM* b = nullptr;
    BN_hex2bn(&b, hex);
    return Bn(b);
}
Bytes Bytes32(const BIGNUM* b) {
    Bytes out(32);
    BN_bn2binpad(b, out.data(), 32);
    return out;
}

const char kOrderHex[] = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123";

struct KeyPair {
    Bytes d, xy;
    Bytes X() const { return Bytes(xy.begin(), xy.begin() + 32); }
    Bytes Y() const { return Bytes(xy.begin() + 32, xy.end()); }
};

KeyPair OurKeyPair() {
    KeyPair k{Bytes(32), Bytes(64)};
    EXPECT_EQ(1, _SM2_generate_keypair(k.d.data(), k.xy.data(), k.xy.data() + 32));
    return k;
}

KeyPair OpenSslKeyPair() {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
    BIGNUM* d = nullptr;
    unsigned char pub[65];
    size_t pubLen = 0;
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &d);
    EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, pub, sizeof(pub), &pubLen);
    KeyPair k{Bytes32(d), Bytes(pub + 1, pub + 65)};
    BN_clear_free(d);
    EVP_PKEY_free(key);
    return k;
}

// e = SM3(Z || M) with OpenSSL's SM3 and the core's default Z.
Bytes DigestE(const KeyPair& k, const Bytes& msg) {
    unsigned char z[32];
    EXPECT_EQ(1, _SM2_CalculateDefaultZValue(k.xy.data(), k.xy.data() + 32, z));
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    Bytes e(32);
    EVP_DigestInit_ex(md, EVP_sm3(), nullptr);
    EVP_DigestUpdate(md, z, 32);
    EVP_DigestUpdate(md, msg.data(), msg.size());
    EVP_DigestFinal_ex(md, e.data(), nullptr);
    EVP_MD_CTX_free(md);
    return e;
}

Bytes OurEncrypt(const KeyPair& k, const Bytes& msg) {
    Bn x = BnOf(k.X()), y = BnOf(k.Y());
    Bytes out(97 + msg.size());
    if (_SM2_encrypt(SM2_CURVE_NID, msg.data(), int(msg.size()), x.get(), y.get(), out.data()) != 1) return {};
    return out;
}

// Decrypts into a buffer filled with 0xA5 first, so that a failed call can
// be seen not to have written anything.
int OurDecrypt(const KeyPair& k, const unsigned char* cipher, int len, Bytes* out) {
    Bn d = BnOf(k.d);
    out->assign(len > 97 ? size_t(len - 97) : 1, 0xA5);
    return _SM2_decrypt(SM2_CURVE_NID, cipher, len, d.get(), out->data());
}

// Bytes placed directly before an inaccessible page: reading past them faults.
class GuardedBytes {
public:
    explicit GuardedBytes(const Bytes& content) {
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        page_ = si.dwPageSize;
        base_ = static_cast<unsigned char*>(VirtualAlloc(nullptr, 2 * page_, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD old = 0;
        VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old);
        data_ = base_ + page_ - content.size();
        if (!content.empty()) std::memcpy(data_, content.data(), content.size());
    }
    ~GuardedBytes() { VirtualFree(base_, 0, MEM_RELEASE); }
    const unsigned char* data() const { return data_; }

private:
    size_t page_ = 0;
    unsigned char* base_ = nullptr;
    unsigned char* data_ = nullptr;
};

}  // namespace

TEST(Sm2KeyPair, GeneratedPublicKeyIsDTimesG) {
    for (int i = 0; i < 4; ++i) {
        const KeyPair k = OurKeyPair();
        EXPECT_EQ(ToHex(Sm2PublicOf(k.d)), ToHex(k.xy));
        EXPECT_FALSE(_SM2_IsAllZero(k.d.data(), 32));
    }
}

TEST(Sm2Signature, OursVerifiesWithOpenSslAndOurs) {
    for (int i = 0; i < 5; ++i) {
        const KeyPair k = OurKeyPair();
        const Bytes msg = RandomBytes(size_t(1 + 37 * i));
        const Bytes e = DigestE(k, msg);
        Bn be = BnOf(e), bd = BnOf(k.d), bx = BnOf(k.X()), by = BnOf(k.Y());
        ECDSA_SIG* sig = _SM2_sign(be.get(), bd.get(), SM2_CURVE_NID);
        ASSERT_NE(nullptr, sig);
        unsigned char* der = nullptr;
        const int derLen = i2d_ECDSA_SIG(sig, &der);
        Pkey pub = MakeSm2Key({}, k.xy);
        EXPECT_TRUE(OpenSslSm2Verify(pub.get(), msg, Bytes(der, der + derLen)));
        EXPECT_EQ(1, _SM2_verify(sig, bx.get(), by.get(), be.get(), SM2_CURVE_NID));
        OPENSSL_free(der);
        ECDSA_SIG_free(sig);
    }
}

TEST(Sm2Signature, OpenSslsVerifiesWithOursAndChangedBytesFail) {
    const KeyPair k = OpenSslKeyPair();
    Pkey key = MakeSm2Key(k.d, k.xy);
    const Bytes msg = ToBytes("renewal session text");
    const Bytes der = OpenSslSm2Sign(key.get(), msg);
    ASSERT_FALSE(der.empty());
    const unsigned char* p = der.data();
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, long(der.size()));
    ASSERT_NE(nullptr, sig);
    Bytes r = Bytes32(ECDSA_SIG_get0_r(sig)), s = Bytes32(ECDSA_SIG_get0_s(sig)), e = DigestE(k, msg);
    Bn bx = BnOf(k.X()), by = BnOf(k.Y()), be = BnOf(e);
    EXPECT_EQ(1, _SM2_verify(sig, bx.get(), by.get(), be.get(), SM2_CURVE_NID));
    ECDSA_SIG_free(sig);
    EXPECT_EQ(1, _SM2_verify_ex(r.data(), s.data(), k.X().data(), k.Y().data(), e.data()));

    for (Bytes* field : {&e, &r, &s}) {
        for (size_t at : {size_t(0), size_t(17), size_t(31)}) {
            (*field)[at] ^= 0x01;
            EXPECT_EQ(0, _SM2_verify_ex(r.data(), s.data(), k.X().data(), k.Y().data(), e.data()));
            (*field)[at] ^= 0x01;
        }
    }
    ERR_clear_error();
}

TEST(Sm2Signature, RefusesROrSOutsideOneToNMinusOne) {
    const KeyPair k = OurKeyPair();
    const Bytes e = RandomBytes(32), good = RandomBytes(31);
    Bn n = BnHex(kOrderHex), nPlus1(BN_dup(n.get()));
    BN_add_word(nPlus1.get(), 1);
    const Bytes bad[] = {Bytes(32, 0), Bytes32(n.get()), Bytes32(nPlus1.get()), Bytes(32, 0xFF)};
    Bytes fine(32, 0);
    std::copy(good.begin(), good.end(), fine.begin() + 1);
    for (const Bytes& v : bad) {
        EXPECT_EQ(0, _SM2_verify_ex(v.data(), fine.data(), k.X().data(), k.Y().data(), e.data())) << ToHex(v);
        EXPECT_EQ(0, _SM2_verify_ex(fine.data(), v.data(), k.X().data(), k.Y().data(), e.data())) << ToHex(v);
    }
    // A public key off the curve is refused.
    Bytes y = k.Y();
    y[31] ^= 1;
    Bytes sigR = fine, sigS = fine;
    EXPECT_EQ(0, _SM2_verify_ex(sigR.data(), sigS.data(), k.X().data(), y.data(), e.data()));
    ERR_clear_error();
}

TEST(Sm2Encryption, OursDecryptsWithOpenSslAndOurs) {
    const KeyPair k = OurKeyPair();
    Pkey key = MakeSm2Key(k.d, k.xy);
    for (size_t len : {1, 16, 31, 32, 33, 64, 100, 1000}) {
        const Bytes msg = RandomBytes(len);
        const Bytes raw = OurEncrypt(k, msg);
        ASSERT_EQ(97 + len, raw.size());
        EXPECT_EQ(0x04, raw[0]);
        EXPECT_EQ(ToHex(msg), ToHex(OpenSslSm2Crypt(key.get(), Sm2RawToDer(raw), false))) << len;
        Bytes out;
        EXPECT_EQ(1, OurDecrypt(k, raw.data(), int(raw.size()), &out));
        EXPECT_EQ(ToHex(msg), ToHex(out)) << len;
    }
}

TEST(Sm2Encryption, OpenSslsDecryptsWithOurs) {
    const KeyPair k = OpenSslKeyPair();
    Pkey key = MakeSm2Key(k.d, k.xy);
    for (size_t len : {1, 19, 32, 257}) {
        const Bytes msg = RandomBytes(len);
        const Bytes raw = Sm2DerToRaw(OpenSslSm2Crypt(key.get(), msg, true));
        ASSERT_EQ(97 + len, raw.size());
        Bytes out;
        EXPECT_EQ(1, OurDecrypt(k, raw.data(), int(raw.size()), &out));
        EXPECT_EQ(ToHex(msg), ToHex(out)) << len;
    }
}

TEST(Sm2Decryption, ChangedC2OrC3FailsWithoutWritingTheMessage) {
    const KeyPair k = OurKeyPair();
    const Bytes raw = OurEncrypt(k, Bytes{0x5A});
    ASSERT_EQ(98u, raw.size());
    Bytes out;
    ASSERT_EQ(1, OurDecrypt(k, raw.data(), 98, &out));
    ASSERT_EQ(0x5A, out[0]);
    for (size_t byte = 65; byte < 98; ++byte) {  // C2 is byte 65, C3 bytes 66 to 97
        for (int bit = 0; bit < 8; bit += 3) {
            Bytes bad = raw;
            bad[byte] ^= (unsigned char)(1 << bit);
            EXPECT_EQ(0, OurDecrypt(k, bad.data(), 98, &out)) << byte << "/" << bit;
            EXPECT_EQ(0xA5, out[0]) << "plaintext written before the check, byte " << byte;
        }
    }
    // Another key: C3 does not match either.
    EXPECT_EQ(0, OurDecrypt(OurKeyPair(), raw.data(), 98, &out));
    EXPECT_EQ(0xA5, out[0]);
    ERR_clear_error();
}

TEST(Sm2Decryption, RefusesMalformedCiphertextWithoutReadingPastIt) {
    const KeyPair k = OurKeyPair();
    const Bytes raw = OurEncrypt(k, Bytes{1, 2, 3});
    Bytes out;
    // Every length up to 97 (no message byte) is refused; the bytes end at a
    // guard page.
    for (int len = 0; len <= 97; ++len) {
        GuardedBytes g(Bytes(raw.begin(), raw.begin() + len));
        EXPECT_EQ(0, OurDecrypt(k, g.data(), len, &out)) << len;
    }
    {
        GuardedBytes g(raw);
        EXPECT_EQ(1, OurDecrypt(k, g.data(), int(raw.size()), &out));
    }
    Bytes notUncompressed = raw;
    notUncompressed[0] = 0x02;
    EXPECT_EQ(0, OurDecrypt(k, notUncompressed.data(), int(raw.size()), &out));
    Bytes offCurve = raw;
    offCurve[64] ^= 0x01;  // last byte of y1
    EXPECT_EQ(0, OurDecrypt(k, offCurve.data(), int(raw.size()), &out));
    Bytes beyondP = raw;  // x1 = 2^256 - 1 is not a field element
    std::fill(beyondP.begin() + 1, beyondP.begin() + 33, 0xFF);
    EXPECT_EQ(0, OurDecrypt(k, beyondP.data(), int(raw.size()), &out));
    EXPECT_EQ(0xA5, out[0]);
    ERR_clear_error();
}

// Only the system's curves 920 and 921 exist; OpenSSL's own numbers are not
// curves of the core either. Signature and verification refuse another
// number as a bad argument, the other operations as an invalid curve.
TEST(Sm2Core, RefusesCurvesOtherThan920And921) {
    const KeyPair k = OurKeyPair();
    Bn be = BnOf(RandomBytes(32)), bd = BnOf(k.d), bx = BnOf(k.X()), by = BnOf(k.Y());
    const unsigned char msg[1] = {1};
    const Bytes raw = OurEncrypt(k, Bytes(msg, msg + 1));
    ASSERT_EQ(98u, raw.size());
    std::unique_ptr<ECDSA_SIG, void (*)(ECDSA_SIG*)> sig(_SM2_sign(be.get(), bd.get(), SM2_CURVE_NID), ECDSA_SIG_free);
    ASSERT_TRUE(sig);
    auto lastReason = [] {
        const int reason = ERR_GET_REASON(ERR_peek_last_error());
        ERR_clear_error();
        return reason;
    };
    unsigned char out[98];
    for (int curve : {919, 922, NID_sm2, NID_X9_62_prime256v1}) {
        SCOPED_TRACE(curve);
        EXPECT_EQ(nullptr, _SM2_sign(be.get(), bd.get(), curve));
        EXPECT_EQ(ERR_R_PASSED_NULL_PARAMETER, lastReason());
        EXPECT_EQ(0, _SM2_verify(sig.get(), bx.get(), by.get(), be.get(), curve));
        EXPECT_EQ(ERR_R_PASSED_NULL_PARAMETER, lastReason());
        EXPECT_EQ(0, _SM2_encrypt(curve, msg, 1, bx.get(), by.get(), out));
        EXPECT_EQ(EC_R_INVALID_CURVE, lastReason());
        EXPECT_EQ(0, _SM2_decrypt(curve, raw.data(), int(raw.size()), bd.get(), out));
        EXPECT_EQ(EC_R_INVALID_CURVE, lastReason());
        Bn d(BN_new()), x(BN_new()), y(BN_new());
        EXPECT_EQ(0, _SM2_generate_key_on_curve(d.get(), x.get(), y.get(), curve));
        EXPECT_EQ(EC_R_INVALID_CURVE, lastReason());
    }
    EXPECT_EQ(0, _SM2_encrypt(SM2_CURVE_NID, msg, 0, bx.get(), by.get(), out));  // empty message
    EXPECT_NE(0u, ERR_peek_error());
    ERR_clear_error();
}

TEST(Sm2Bytes, FixedWidthConversions) {
    unsigned char out[32];
    Bn v31 = BnOf(Bytes(31, 0x7F));
    ASSERT_EQ(1, _SM2_BN2Bytes(v31.get(), out));
    EXPECT_EQ(0x00, out[0]);
    EXPECT_EQ(0x7F, out[1]);
    Bn v33 = BnOf(Bytes(33, 0x01));
    EXPECT_EQ(0, _SM2_BN2Bytes(v33.get(), out));

    Bytes b64 = RandomBytes(64);
    Bn bn(BN_new());
    ASSERT_EQ(1, _SM2_Bytes2BN(b64.data(), 64, bn.get()));
    EXPECT_EQ(0, BN_cmp(bn.get(), BnOf(Bytes(b64.begin(), b64.begin() + 32)).get()));
    ASSERT_EQ(1, _SM2_Bytes2BN(b64.data(), 5, bn.get()));
    EXPECT_EQ(0, BN_cmp(bn.get(), BnOf(Bytes(b64.begin(), b64.begin() + 5)).get()));

    const unsigned char zeros[3] = {0, 0, 0}, one[3] = {0, 0, 1};
    EXPECT_EQ(1, _SM2_IsAllZero(zeros, 3));
    EXPECT_EQ(1, _SM2_IsAllZero(one, 0));
    EXPECT_EQ(0, _SM2_IsAllZero(one, 3));
    ERR_clear_error();
}

TEST(Sm2Z, DefaultIdentityAndOthers) {
    const KeyPair k = OurKeyPair();
    unsigned char zDefault[32], z[32];
    ASSERT_EQ(1, _SM2_CalculateDefaultZValue(k.xy.data(), k.xy.data() + 32, zDefault));

    EC_GROUP* g = EC_GROUP_new_by_curve_name(NID_sm2);
    Bn a(BN_new()), b(BN_new()), gx(BN_new()), gy(BN_new()), xa = BnOf(k.X()), ya = BnOf(k.Y());
    EC_GROUP_get_curve(g, nullptr, a.get(), b.get(), nullptr);
    EC_POINT_get_affine_coordinates(g, EC_GROUP_get0_generator(g), gx.get(), gy.get(), nullptr);
    EC_GROUP_free(g);

    struct IdCase {
        const char* id;
        bool sameAsDefault;
    };
    for (const IdCase& c : {IdCase{"1234567812345678", true}, IdCase{"1234567812345679", false},
                            IdCase{"ALICE123@YAHOO.COM", false}, IdCase{"", false}}) {
        ASSERT_EQ(1, _SM2_CalculateZValue(reinterpret_cast<const unsigned char*>(c.id), int(std::strlen(c.id)), a.get(),
                                          b.get(), gx.get(), gy.get(), xa.get(), ya.get(), z));
        EXPECT_EQ(c.sameAsDefault, std::memcmp(z, zDefault, 32) == 0) << c.id;
    }
}

TEST(Sm2Kdf, LengthsInBits) {
    const Bytes z = RandomBytes(64);
    Bytes full(64), part(2);
    ASSERT_EQ(1, _SM2_KDF(z.data(), 64, 512, full.data()));
    ASSERT_EQ(1, _SM2_KDF(z.data(), 64, 15, part.data()));  // floor(15 / 8) = 1 byte
    EXPECT_EQ(full[0], part[0]);
    EXPECT_EQ(0, _SM2_KDF(z.data(), 64, 0, part.data()));
    ERR_clear_error();
}
