// Keylinq's copy of SM2 in the EC key method, registered with Keylinq's
// rules in a program linked like Keylinq.dll (its host cryptography's SM3
// behind the SM2 core): keys on the SM curves sign and verify with SM2
// whatever their engine, and decryption wants C1's coordinates in exactly
// 32 bytes.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <openssl/ec.h>
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include "OpenSslSm2.h"
#include "Sm2ShortCoordinate.h"
#include "sm2_core.h"
#include "sm2_pkey_method.h"

namespace {

struct CtxFree {
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
using Ctx = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;


const EC_KEY* EcOf(EVP_PKEY* key) { return EVP_PKEY_get0_EC_KEY(key); }

bool PublicXY(EVP_PKEY* key, BIGNUM* x, BIGNUM* y) {
    const EC_KEY* ec = EcOf(key);
    return EC_POINT_get_affine_coordinates(EC_KEY_get0_group(ec), EC_KEY_get0_public_key(ec), x, y, nullptr) == 1;
}

class Sm2KeyMethodKeylinq : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(1, smcrypto::RegisterSM2KeyMethod(smcrypto::kKeylinqSM2Rules)); }
};

TEST_F(Sm2KeyMethodKeylinq, SmCurveKeysSignAndVerifySm2WhateverTheEngine) {
    for (const char* engineId : {static_cast<const char*>(nullptr), "pkcs11-token", "other", "cavium"}) {
        ENGINE* engine = nullptr;
        if (engineId) {
            engine = ENGINE_new();
            ENGINE_set_id(engine, engineId);
            ENGINE_set_name(engine, engineId);
            ENGINE_set_EC(engine, EC_KEY_OpenSSL());
        }
        {
            Pkey key = NewLegacyKey(NID_sm2, engine);
            const Bytes digest = RandomBytes(32);
            Ctx ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
            Bytes sig(80);
            size_t len = sig.size();
            ASSERT_EQ(1, EVP_PKEY_sign_init(ctx.get()));
            ASSERT_EQ(1, EVP_PKEY_sign(ctx.get(), sig.data(), &len, digest.data(), 32)) << engineId;
            sig.resize(len);
            const unsigned char* p = sig.data();
            ECDSA_SIG* parsed = d2i_ECDSA_SIG(nullptr, &p, long(len));
            BIGNUM* x = BN_new();
            BIGNUM* y = BN_new();
            BIGNUM* e = BN_bin2bn(digest.data(), 32, nullptr);
            ASSERT_TRUE(parsed && PublicXY(key.get(), x, y));
            EXPECT_EQ(1, _SM2_verify(parsed, x, y, e, SM2_CURVE_NID)) << engineId << ": an SM2 signature";
            ECDSA_SIG_free(parsed);
            BN_free(x);
            BN_free(y);
            BN_free(e);
            ASSERT_EQ(1, EVP_PKEY_verify_init(ctx.get()));
            EXPECT_EQ(1, EVP_PKEY_verify(ctx.get(), sig.data(), sig.size(), digest.data(), 32)) << engineId;
            Bytes other = digest;
            other[0] ^= 1;
            EXPECT_NE(1, EVP_PKEY_verify(ctx.get(), sig.data(), sig.size(), other.data(), 32)) << engineId;
        }
        ENGINE_free(engine);
    }
}

TEST_F(Sm2KeyMethodKeylinq, DecryptionWantsThirtyTwoByteCoordinates) {
    Pkey key = NewLegacyKey(NID_sm2, nullptr);
    const Bytes message = RandomBytes(20);
    const Bytes shortX = Sm2CipherWithShortX(key.get(), message);
    ASSERT_FALSE(shortX.empty());
    EXPECT_TRUE(OpenSslSm2Crypt(key.get(), shortX, false).empty()) << "a 31-byte XCoordinate fails";

    // Through the key method's own encryption, every ciphertext whose
    // coordinates keep 32 bytes decrypts (33 content octets when the top
    // bit is set are 32 bytes of value).
    for (int round = 0; round < 8; ++round) {
        const Bytes cipher = OpenSslSm2Crypt(key.get(), message, true);
        ASSERT_FALSE(cipher.empty());
        const Bytes back = Sm2DerToRaw(cipher);
        if (back[1] == 0 || back[33] == 0) continue;
        EXPECT_EQ(message, OpenSslSm2Crypt(key.get(), cipher, false));
    }
}

}  // namespace
