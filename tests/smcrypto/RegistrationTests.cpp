// Start-up registration of the SM names with OpenSSL: the new identifiers
// and aliases resolve, OpenSSL's own SM records are left as they were and
// still give the published results, and the error queue stays empty.
#define OPENSSL_SUPPRESS_DEPRECATED  // EC_KEY: a key made the legacy way
#include "OpenSslSm2.h"
#include "sm_registration.h"

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include <utility>

using namespace smcrypto;

namespace {
int NidOfOid(const char* oid) {
    ASN1_OBJECT* o = OBJ_txt2obj(oid, 1);
    const int nid = OBJ_obj2nid(o);
    ASN1_OBJECT_free(o);
    return nid;
}
}  // namespace

// Runs first in this program: registration meets an identifier that exists
// already (made here as another component might) and reuses it.
TEST(Registration, StartUpReusesExistingIdentifierAndLeavesQueueEmpty) {
    ASSERT_EQ(1, OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr));
    const int existing = OBJ_create("1.2.156.10197.1.102", "sm1-cbc", "ChinaSM1-CBC");
    ASSERT_NE(NID_undef, existing);
    ERR_clear_error();

    EXPECT_EQ(1, RegisterSMAlgorithms());
    EXPECT_EQ(0u, ERR_peek_error());
    EXPECT_EQ(existing, SMObjectNid(SM_NID_SM1_CBC));

    EXPECT_EQ(1, RegisterSMAlgorithms());  // once only; again is harmless
    EXPECT_EQ(0u, ERR_peek_error());
}

TEST(Registration, NewIdentifiersResolve) {
    struct Row {
        int systemNid;
        const char* oid;
        const char* shortName;
        const char* longName;
    };
    const Row rows[] = {
        {SM_NID_SM2_TEST_CURVE, "1.2.156.10197.1.888", "ChinaSM2TEST256", "prime256v1SM2TEST"},
        {SM_NID_SM4_CBC, "1.2.156.10197.1.104", "ChinaSM4-CBC", "ChinaSM4-CBC"},
        {SM_NID_SM1_CBC, "1.2.156.10197.1.102", "sm1-cbc", "ChinaSM1-CBC"},
        {SM_NID_ZUC, "1.2.156.10197.1.105", "zuc", "ChinaZUC"},
        {SM_NID_SM2_SM3_PKCS7, "1.2.156.10197.1.301.1", "sm2-sm3-pkcs7", "ChinaSM2withSM3PKCS7"},
        {SM_NID_PKCS7_DATA, "1.2.156.10197.6.1.4.2.1", "sm-pkcs7-data", "SM-pkcs7-data"},
        {SM_NID_PKCS7_SIGNED, "1.2.156.10197.6.1.4.2.2", "sm-pkcs7-signedData", "SM-pkcs7-signed"},
    };
    for (const auto& r : rows) {
        const int nid = SMObjectNid(r.systemNid);
        EXPECT_NE(NID_undef, nid) << r.oid;
        EXPECT_EQ(nid, NidOfOid(r.oid)) << r.oid;
        EXPECT_EQ(nid, OBJ_sn2nid(r.shortName)) << r.shortName;
        EXPECT_EQ(nid, OBJ_ln2nid(r.longName)) << r.longName;
        EXPECT_TRUE(nid < 920 || nid > 930) << r.oid;
    }
    // The identifiers OpenSSL has are its own; the system's numbers map onto them.
    EXPECT_EQ(NID_sm2, SMObjectNid(SM_NID_SM2_CURVE));
    EXPECT_EQ(NID_sm3, SMObjectNid(SM_NID_SM3));
    EXPECT_EQ(NID_SM2_with_SM3, SMObjectNid(SM_NID_SM2_SM3));
    // Each of the ten identifiers by text gives its row; 929 has none.
    const std::pair<int, const char*> oids[] = {
        {920, "1.2.156.10197.1.301"},   {921, "1.2.156.10197.1.888"},     {922, "1.2.156.10197.1.401"},
        {923, "1.2.156.10197.1.104"},   {924, "1.2.156.10197.1.501"},     {925, "1.2.156.10197.1.102"},
        {926, "1.2.156.10197.1.105"},   {927, "1.2.156.10197.1.301.1"},   {928, "1.2.156.10197.6.1.4.2.1"},
        {930, "1.2.156.10197.6.1.4.2.2"},
    };
    for (const auto& o : oids) EXPECT_EQ(SMObjectNid(o.first), OBJ_txt2nid(o.second)) << o.second;
    EXPECT_EQ(NID_undef, SMObjectNid(929));
    // OpenSSL's names keep their objects; 920 is still its own object.
    EXPECT_EQ(NID_sm3, OBJ_txt2nid("sm3"));
    EXPECT_EQ(NID_sm4_cbc, OBJ_txt2nid("sm4-cbc"));
    EXPECT_STREQ("dhpublicnumber", OBJ_nid2sn(920));
    ERR_clear_error();
}

TEST(Registration, AliasesResolveToOpenSslRecords) {
    const EVP_MD* sm3 = EVP_get_digestbyname("SM3");
    ASSERT_NE(nullptr, sm3);
    for (const char* name : {"sm3", "ChinaSM3", "sm2-sm3", "ChinaSM2withSM3", "tls1-sm3"})
        EXPECT_EQ(sm3, EVP_get_digestbyname(name)) << name;

    const EVP_CIPHER* sm4 = EVP_get_cipherbyname("SM4-CBC");
    ASSERT_NE(nullptr, sm4);
    for (const char* name : {"sm4-cbc", "ChinaSM4-CBC"}) EXPECT_EQ(sm4, EVP_get_cipherbyname(name)) << name;
    // The identifier 1.2.156.10197.1.104 of the system also leads to SM4-CBC.
    ASN1_OBJECT* o = OBJ_txt2obj("1.2.156.10197.1.104", 1);
    EXPECT_EQ(sm4, EVP_get_cipherbyobj(o));
    ASN1_OBJECT_free(o);

    // The row's own identifier leads to the same record.
    EXPECT_EQ(sm4, EVP_get_cipherbynid(SMObjectNid(SM_NID_SM4_CBC)));

    for (const char* name : {"zuc", "ChinaZUC"}) EXPECT_EQ(SMCipherZuc(), EVP_get_cipherbyname(name)) << name;
    EXPECT_EQ(16, EVP_CIPHER_get_key_length(SMCipherZuc()));
    EXPECT_EQ(16, EVP_CIPHER_get_iv_length(SMCipherZuc()));
}

// The row sm2-sm3 = sm3 with an EC key is OpenSSL's own SM2-with-SM3 = SM3
// with an SM2 key (OpenSSL 3.0 types keys on the SM2 curve as SM2), found
// both ways; no row names id-ecPublicKey, which would make OpenSSL refuse
// the key of every SM2 certificate as of the wrong type.
TEST(Registration, SignatureCrossReferenceBothWays) {
    int md = 0, pk = 0, sig = 0;
    ASSERT_EQ(1, OBJ_find_sigid_algs(SMObjectNid(SM_NID_SM2_SM3), &md, &pk));
    EXPECT_EQ(SMObjectNid(SM_NID_SM3), md);
    EXPECT_EQ(NID_sm2, pk);
    ASSERT_EQ(1, OBJ_find_sigid_by_algs(&sig, SMObjectNid(SM_NID_SM3), NID_sm2));
    EXPECT_EQ(SMObjectNid(SM_NID_SM2_SM3), sig);
    EXPECT_EQ(0, OBJ_find_sigid_by_algs(&sig, NID_sm3, NID_X9_62_id_ecPublicKey));
    EXPECT_EQ(0, OBJ_find_sigid_algs(SMObjectNid(SM_NID_SM2_SM3_PKCS7), &md, &pk));  // no row for 927

    // An EC key on the SM2 curve, made the legacy way, is typed SM2.
    EC_KEY* ec = EC_KEY_new_by_curve_name(NID_sm2);
    ASSERT_TRUE(ec && EC_KEY_generate_key(ec));
    EVP_PKEY* key = EVP_PKEY_new();
    ASSERT_EQ(1, EVP_PKEY_assign_EC_KEY(key, ec));
    EXPECT_EQ(NID_sm2, EVP_PKEY_get_id(key));
    EVP_PKEY_free(key);
}

TEST(Registration, OpenSslOwnRecordsGivePublishedResults) {
    // SM3, GM/T 0004 "abc", by name.
    unsigned char d[32];
    unsigned int n = 0;
    ASSERT_EQ(1, EVP_Digest("abc", 3, d, &n, EVP_get_digestbyname("sm3"), nullptr));
    EXPECT_EQ("66C7F0F462EEEDD9D1F2D46BDC10E4E24167C4875CF2F7A2297DA02B8F4BA8E0", ToHex(d, 32));

    // SM4-CBC, GM/T 0002 example as one block with a zero IV, by name.
    const Bytes key = FromHex("0123456789ABCDEFFEDCBA9876543210"), iv(16, 0);
    EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
    unsigned char out[32];
    int len = 0;
    ASSERT_EQ(1, EVP_EncryptInit_ex(c, EVP_get_cipherbyname("sm4-cbc"), nullptr, key.data(), iv.data()));
    EVP_CIPHER_CTX_set_padding(c, 0);
    ASSERT_EQ(1, EVP_EncryptUpdate(c, out, &len, key.data(), 16));
    EVP_CIPHER_CTX_free(c);
    EXPECT_EQ("681EDF34D206965E86B3E94F536E4246", ToHex(out, 16));

    // SM2, GM/T 0003.5 examples on the recommended curve: the signature of
    // "message digest" with the default id verifies, and the ciphertext of
    // "encryption standard" decrypts.
    const Bytes priv = FromHex("3945208F7B2144B13F36E38AC6D39F95889393692860B51A42FB81EF4DF7C5B8");
    Pkey keypair = MakeSm2Key(priv, Sm2PublicOf(priv));
    ASSERT_TRUE(keypair);
    const Bytes sigDer = FromHex(
        "3046"
        "0221" "00F5A03B0648D2C4630EEAC513E1BB81A15944DA3827D5B74143AC7EACEEE720B3"
        "0221" "00B1B6AA29DF212FD8763182BC0D421CA1BB9038FD1F7F42D4840B69C485BBC1AA");
    EXPECT_TRUE(OpenSslSm2Verify(keypair.get(), ToBytes("message digest"), sigDer));
    const Bytes cipher = FromHex(
        "307C"
        "0220" "04EBFC718E8D1798620432268E77FEB6415E2EDE0E073C0F4F640ECD2E149A73"
        "0221" "00E858F9D81E5430A57B36DAAB8F950A3C64E6EE6A63094D99283AFF767E124DF0"
        "0420" "59983C18F809E262923C53AEC295D30383B54E39D609D160AFCB1908D0BD8766"
        "0413" "21886CA989CA9C7D58087307CA93092D651EFA");
    EXPECT_EQ(ToBytes("encryption standard"), OpenSslSm2Crypt(keypair.get(), cipher, false));

    EXPECT_EQ(0u, ERR_peek_error());
}
