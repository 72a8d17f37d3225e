// The published examples of GM/T 0003 (also in draft-shen-sm2-ecdsa-02),
// reproduced with the core's test build, which can fix k: on the example
// curve (the core's curve 921) and on the recommended curve (920).
#include "TestBytes.h"
#include "sm2_core.h"
#include "sm2_core_test_seam.h"

#include <gtest/gtest.h>
#include <openssl/ecdsa.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <cstring>

namespace {

struct BnDel {
    void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnDel>;
Bn BnHex(const char* hex) {
    BIGNUM* b = nullptr;
    BN_hex2bn(&b, hex);
    return Bn(b);
}
std::string Hex32(const BIGNUM* b) {
    unsigned char out[32];
    BN_bn2binpad(b, out, 32);
    return ToHex(out, 32);
}

// The 256-bit prime-field example curve of GM/T 0003 (part 5 and the draft),
// built here from the published parameters, apart from the core's own.
struct ExampleCurve {
    Bn p = BnHex("8542D69E4C044F18E8B92435BF6FF7DE457283915C45517D722EDB8B08F1DFC3");
    Bn a = BnHex("787968B4FA32C3FD2417842E73BBFEFF2F3C848B6831D7E0EC65228B3937E498");
    Bn b = BnHex("63E4C6D3B23B0C849CF84241484BFE48F61D59A5B16BA06E6E12D1DA27C5249A");
    Bn gx = BnHex("421DEBD61B62EAB6746434EBC3CC315E32220B3BADD50BDC4C4E6C147FEDD43D");
    Bn gy = BnHex("0680512BCBB42C07D47349D2153B70C4E5D7FDFCBFA36EA1A85841B9E46E09A2");
    Bn n = BnHex("8542D69E4C044F18E8B92435BF6FF7DD297720630485628D5AE74EE7C32E79B7");
    EC_GROUP* group = nullptr;
    ExampleCurve() {
        group = EC_GROUP_new_curve_GFp(p.get(), a.get(), b.get(), nullptr);
        EC_POINT* g = EC_POINT_new(group);
        EC_POINT_set_affine_coordinates(group, g, gx.get(), gy.get(), nullptr);
        EC_GROUP_set_generator(group, g, n.get(), BN_value_one());
        EC_POINT_free(g);
    }
    ~ExampleCurve() { EC_GROUP_free(group); }
    // Public key of d on this curve.
    void Public(const BIGNUM* d, BIGNUM* x, BIGNUM* y) const {
        EC_POINT* q = EC_POINT_new(group);
        EC_POINT_mul(group, q, d, nullptr, nullptr, nullptr);
        EC_POINT_get_affine_coordinates(group, q, x, y, nullptr);
        EC_POINT_free(q);
    }
};

Bytes Sm3Of(const Bytes& a, const Bytes& b) {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    Bytes out(32);
    EVP_DigestInit_ex(md, EVP_sm3(), nullptr);
    EVP_DigestUpdate(md, a.data(), a.size());
    EVP_DigestUpdate(md, b.data(), b.size());
    EVP_DigestFinal_ex(md, out.data(), nullptr);
    EVP_MD_CTX_free(md);
    return out;
}

// Clears a fixed k after each test.
class Sm2Example : public ::testing::Test {
protected:
    void TearDown() override { SM2CoreTestFixK(nullptr); }
};

}  // namespace

TEST_F(Sm2Example, SignatureOnTheExampleCurve) {
    ExampleCurve curve;
    Bn d = BnHex("128B2FA8BD433C6C068C8D803DFF79792A519A55171B1B650C23661D15897263");
    Bn xa(BN_new()), ya(BN_new());
    curve.Public(d.get(), xa.get(), ya.get());
    EXPECT_EQ("0AE4C7798AA0F119471BEE11825BE46202BB79E2A5844495E97C04FF4DF2548A", Hex32(xa.get()));
    EXPECT_EQ("7C0240F88F1CD4E16352A73C17B7F16F07353E53A176D684A9FE0C6BB798E857", Hex32(ya.get()));

    const char id[] = "ALICE123@YAHOO.COM";
    unsigned char z[32];
    ASSERT_EQ(1, _SM2_CalculateZValue(reinterpret_cast<const unsigned char*>(id), int(std::strlen(id)), curve.a.get(),
                                      curve.b.get(), curve.gx.get(), curve.gy.get(), xa.get(), ya.get(), z));
    EXPECT_EQ("F4A38489E32B45B6F876E3AC2168CA392362DC8F23459C1D1146FC3DBFB7BC9A", ToHex(z, 32));
    const Bytes e = Sm3Of(Bytes(z, z + 32), ToBytes("message digest"));
    EXPECT_EQ("B524F552CD82B8B028476E005C377FB19A87E6FC682D48BB5D42E3D9B9EFFE76", ToHex(e));

    Bn k = BnHex("6CB28D99385C175C94F94E934817663FC176D925DD72B727260DBAAE1FB2F96F");
    SM2CoreTestFixK(k.get());
    Bn be(BN_bin2bn(e.data(), 32, nullptr));
    ECDSA_SIG* sig = _SM2_sign(be.get(), d.get(), SM2_TEST_CURVE_NID);
    ASSERT_NE(nullptr, sig);
    EXPECT_EQ("40F1EC59F793D9F49E09DCEF49130D4194F79FB1EED2CAA55BACDB49C4E755D1", Hex32(ECDSA_SIG_get0_r(sig)));
    EXPECT_EQ("6FC6DAC32C5D5CF10C77DFB20F7C2EB667A457872FB09EC56327A67EC7DEEBE7", Hex32(ECDSA_SIG_get0_s(sig)));
    EXPECT_EQ(1, _SM2_verify(sig, xa.get(), ya.get(), be.get(), SM2_TEST_CURVE_NID));
    // The key is no point of curve 920: the same signature is refused there.
    EXPECT_EQ(0, _SM2_verify(sig, xa.get(), ya.get(), be.get(), SM2_CURVE_NID));
    ERR_clear_error();
    ECDSA_SIG_free(sig);
}

TEST_F(Sm2Example, EncryptionOnTheExampleCurve) {
    ExampleCurve curve;
    Bn d = BnHex("1649AB77A00637BD5E2EFE283FBF353534AA7F7CB89463F208DDBC2920BB0DA0");
    Bn xb(BN_new()), yb(BN_new());
    curve.Public(d.get(), xb.get(), yb.get());
    EXPECT_EQ("435B39CCA8F3B508C1488AFC67BE491A0F7BA07E581A0E4849A5CF70628A7E0A", Hex32(xb.get()));
    EXPECT_EQ("75DDBA78F15FEECB4C7895E2C1CDF5FE01DEBB2CDBADF45399CCF77BBA076A42", Hex32(yb.get()));

    Bn k = BnHex("4C62EEFD6ECFC2B95B92FD6C3D9575148AFA17425546D49018E5388D49DD7B4F");
    SM2CoreTestFixK(k.get());
    const Bytes msg = ToBytes("encryption standard");
    Bytes out(97 + msg.size());
    ASSERT_EQ(1, _SM2_encrypt(SM2_TEST_CURVE_NID, msg.data(), int(msg.size()), xb.get(), yb.get(), out.data()));
    EXPECT_EQ("04"
              "245C26FB68B1DDDDB12C4B6BF9F2B6D5FE60A383B0D18D1C4144ABF17F6252E7"
              "76CB9264C2A7E88E52B19903FDC47378F605E36811F5C07423A24B84400F01B8"
              "650053A89B41C418B0C3AAD00D886C00286467"
              "9C3D7360C30156FAB7C80A0276712DA9D8094A634B766D3A285E07480653426D",
              ToHex(out));
    Bytes back(msg.size());
    EXPECT_EQ(1, _SM2_decrypt(SM2_TEST_CURVE_NID, out.data(), int(out.size()), d.get(), back.data()));
    EXPECT_EQ(msg, back);
    // C1 is no point of curve 920.
    EXPECT_EQ(0, _SM2_decrypt(SM2_CURVE_NID, out.data(), int(out.size()), d.get(), back.data()));
    ERR_clear_error();
}

// A key generated on curve 921 (random k from here on) is d times the
// example curve's generator, and signs, verifies, encrypts and decrypts
// there; a changed digest or ciphertext fails.
TEST_F(Sm2Example, GeneratedKeyOnTheExampleCurve) {
    ExampleCurve curve;
    for (int round = 0; round < 3; ++round) {
        Bn d(BN_new()), x(BN_new()), y(BN_new()), px(BN_new()), py(BN_new());
        ASSERT_EQ(1, _SM2_generate_key_on_curve(d.get(), x.get(), y.get(), SM2_TEST_CURVE_NID));
        ASSERT_LT(BN_cmp(d.get(), curve.n.get()), 0);
        curve.Public(d.get(), px.get(), py.get());
        EXPECT_EQ(Hex32(px.get()), Hex32(x.get()));
        EXPECT_EQ(Hex32(py.get()), Hex32(y.get()));

        const Bytes digest = RandomBytes(32);
        Bn e(BN_bin2bn(digest.data(), 32, nullptr));
        ECDSA_SIG* sig = _SM2_sign(e.get(), d.get(), SM2_TEST_CURVE_NID);
        ASSERT_NE(nullptr, sig);
        EXPECT_EQ(1, _SM2_verify(sig, x.get(), y.get(), e.get(), SM2_TEST_CURVE_NID));
        BN_add_word(e.get(), 1);
        EXPECT_EQ(0, _SM2_verify(sig, x.get(), y.get(), e.get(), SM2_TEST_CURVE_NID));
        ECDSA_SIG_free(sig);

        const Bytes msg = RandomBytes(1 + 40 * round);
        Bytes cipher(97 + msg.size()), back(msg.size());
        ASSERT_EQ(1, _SM2_encrypt(SM2_TEST_CURVE_NID, msg.data(), int(msg.size()), x.get(), y.get(), cipher.data()));
        ASSERT_EQ(1, _SM2_decrypt(SM2_TEST_CURVE_NID, cipher.data(), int(cipher.size()), d.get(), back.data()));
        EXPECT_EQ(ToHex(msg), ToHex(back));
        cipher.back() ^= 1;  // C3
        EXPECT_EQ(0, _SM2_decrypt(SM2_TEST_CURVE_NID, cipher.data(), int(cipher.size()), d.get(), back.data()));
        ERR_clear_error();
    }
}

// GM/T 0003.5 on the recommended curve itself (only k is fixed).
TEST_F(Sm2Example, SignatureAndEncryptionOnTheSm2Curve) {
    Bn d = BnHex("3945208F7B2144B13F36E38AC6D39F95889393692860B51A42FB81EF4DF7C5B8");
    Bn k = BnHex("59276E27D506861A16680F3AD9C02DCCEF3CC1FA3CDBE4CE6D54B80DEAC1BC21");
    EC_GROUP* g = EC_GROUP_new_by_curve_name(NID_sm2);
    EC_POINT* q = EC_POINT_new(g);
    Bn x(BN_new()), y(BN_new());
    EC_POINT_mul(g, q, d.get(), nullptr, nullptr, nullptr);
    EC_POINT_get_affine_coordinates(g, q, x.get(), y.get(), nullptr);
    EC_POINT_free(q);
    EC_GROUP_free(g);
    SM2CoreTestFixK(k.get());

    unsigned char X[32], Y[32], z[32];
    _SM2_BN2Bytes(x.get(), X);
    _SM2_BN2Bytes(y.get(), Y);
    ASSERT_EQ(1, _SM2_CalculateDefaultZValue(X, Y, z));
    const Bytes e = Sm3Of(Bytes(z, z + 32), ToBytes("message digest"));
    Bn be(BN_bin2bn(e.data(), 32, nullptr));
    ECDSA_SIG* sig = _SM2_sign(be.get(), d.get(), SM2_CURVE_NID);
    ASSERT_NE(nullptr, sig);
    EXPECT_EQ("F5A03B0648D2C4630EEAC513E1BB81A15944DA3827D5B74143AC7EACEEE720B3", Hex32(ECDSA_SIG_get0_r(sig)));
    EXPECT_EQ("B1B6AA29DF212FD8763182BC0D421CA1BB9038FD1F7F42D4840B69C485BBC1AA", Hex32(ECDSA_SIG_get0_s(sig)));
    ECDSA_SIG_free(sig);

    const Bytes msg = ToBytes("encryption standard");
    Bytes out(97 + msg.size());
    ASSERT_EQ(1, _SM2_encrypt(SM2_CURVE_NID, msg.data(), int(msg.size()), x.get(), y.get(), out.data()));
    EXPECT_EQ("04"
              "04EBFC718E8D1798620432268E77FEB6415E2EDE0E073C0F4F640ECD2E149A73"
              "E858F9D81E5430A57B36DAAB8F950A3C64E6EE6A63094D99283AFF767E124DF0"
              "21886CA989CA9C7D58087307CA93092D651EFA"
              "59983C18F809E262923C53AEC295D30383B54E39D609D160AFCB1908D0BD8766",
              ToHex(out));
}
