// Registration of the SM object identifiers, name aliases and the ZUC cipher
// with OpenSSL.
// The ZUC record is a legacy cipher method (EVP_CIPHER_meth_*), deprecated in
// OpenSSL 3.0 but the only way to add a cipher without writing a provider.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "sm_registration.h"

#include "zuc.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include <mutex>

namespace smcrypto {
namespace {

// Objects that OpenSSL 3.0 lacks. A short name is left out where OpenSSL
// already uses it (in any case) for another object: OpenSSL's SM4-CBC
// (1.2.156.10197.1.104.2) has the long name "sm4-cbc", so that name finds
// OpenSSL's record and the system's identifier has "ChinaSM4-CBC" only.
struct AddedObject {
    int systemNid;
    const char* oid;
    const char* shortName;
    const char* longName;
};
const AddedObject kAddedObjects[] = {
    {SM_NID_SM2_TEST_CURVE, "1.2.156.10197.1.888", "ChinaSM2TEST256", "prime256v1SM2TEST"},
    {SM_NID_SM4_CBC, "1.2.156.10197.1.104", "ChinaSM4-CBC", "ChinaSM4-CBC"},
    {SM_NID_SM1_CBC, "1.2.156.10197.1.102", "sm1-cbc", "ChinaSM1-CBC"},
    {SM_NID_ZUC, "1.2.156.10197.1.105", "zuc", "ChinaZUC"},
    {SM_NID_SM2_SM3_PKCS7, "1.2.156.10197.1.301.1", "sm2-sm3-pkcs7", "ChinaSM2withSM3PKCS7"},
    {SM_NID_PKCS7_DATA, "1.2.156.10197.6.1.4.2.1", "sm-pkcs7-data", "SM-pkcs7-data"},
    {SM_NID_PKCS7_SIGNED, "1.2.156.10197.6.1.4.2.2", "sm-pkcs7-signedData", "SM-pkcs7-signed"},
};

// Names of the system that resolve to OpenSSL's own records.
const char* const kDigestAliases[] = {"ChinaSM3", "sm2-sm3", "ChinaSM2withSM3", "tls1-sm3"};
const char* const kCipherAliases[] = {"ChinaSM4-CBC"};

int g_addedNids[sizeof(kAddedObjects) / sizeof(kAddedObjects[0])];
EVP_CIPHER* g_zuc = nullptr;
int g_registered = 0;
std::once_flag g_once;

int NidOfOid(const char* oid) {
    ASN1_OBJECT* obj = OBJ_txt2obj(oid, 1);
    const int nid = obj ? OBJ_obj2nid(obj) : NID_undef;
    ASN1_OBJECT_free(obj);
    return nid;
}

// Looks the identifier up first; creates it only when OpenSSL lacks it.
int FindOrCreate(const AddedObject& o) {
    int nid = NidOfOid(o.oid);
    if (nid != NID_undef) return nid;
    nid = OBJ_create(o.oid, o.shortName, o.longName);
    if (nid == NID_undef) nid = NidOfOid(o.oid);  // created meanwhile by someone else
    return nid;
}

int ZucInit(EVP_CIPHER_CTX* ctx, const unsigned char* key, const unsigned char* iv, int /*enc*/) {
    if (!key || !iv) return 0;
    ZUC_CTX* zuc = static_cast<ZUC_CTX*>(EVP_CIPHER_CTX_get_cipher_data(ctx));
    if (!zuc) return 0;
    ZUC_Init(key, iv, zuc);
    return 1;
}

// XORs with keystream bytes, most significant first; the unused bytes of
// the last word are dropped, so every call starts on a fresh word.
int ZucCipher(EVP_CIPHER_CTX* ctx, unsigned char* out, const unsigned char* in, size_t length) {
    ZUC_CTX* zuc = static_cast<ZUC_CTX*>(EVP_CIPHER_CTX_get_cipher_data(ctx));
    if (!zuc) return 0;
    uint32_t word = 0;
    for (size_t i = 0; i < length; ++i) {
        if (i % 4 == 0) word = ZUC_GenerateWord(zuc);
        out[i] = in[i] ^ (unsigned char)(word >> (24 - 8 * (i % 4)));
    }
    return 1;
}

EVP_CIPHER* MakeZuc(int nid) {
    EVP_CIPHER* c = EVP_CIPHER_meth_new(nid, 1, 16);
    if (!c) return nullptr;
    if (!EVP_CIPHER_meth_set_iv_length(c, 16) ||
        !EVP_CIPHER_meth_set_flags(c, EVP_CIPH_STREAM_CIPHER | EVP_CIPH_VARIABLE_LENGTH) ||
        !EVP_CIPHER_meth_set_init(c, ZucInit) || !EVP_CIPHER_meth_set_do_cipher(c, ZucCipher) ||
        !EVP_CIPHER_meth_set_impl_ctx_size(c, sizeof(ZUC_CTX))) {
        EVP_CIPHER_meth_free(c);
        return nullptr;
    }
    return c;
}

int RegisterOnce() {
    for (size_t i = 0; i < sizeof(kAddedObjects) / sizeof(kAddedObjects[0]); ++i) {
        g_addedNids[i] = FindOrCreate(kAddedObjects[i]);
        if (g_addedNids[i] == NID_undef) return 0;
    }
    for (const char* alias : kDigestAliases)
        if (!EVP_get_digestbyname(alias) && !EVP_add_digest_alias(SN_sm3, alias)) return 0;
    for (const char* alias : kCipherAliases)
        if (!EVP_get_cipherbyname(alias) && !EVP_add_cipher_alias(SN_sm4_cbc, alias)) return 0;

    const int zucNid = SMObjectNid(SM_NID_ZUC);
    const EVP_CIPHER* existing = EVP_get_cipherbynid(zucNid);
    if (existing) return 1;  // someone registered ZUC already: reuse it
    g_zuc = MakeZuc(zucNid);
    if (!g_zuc) return 0;
    return EVP_add_cipher(g_zuc);
}

}  // namespace

int RegisterSMAlgorithms() {
    if (!OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS |
                                 OPENSSL_INIT_LOAD_CRYPTO_STRINGS,
                             nullptr))
        return 0;
    std::call_once(g_once, [] {
        ERR_set_mark();
        g_registered = RegisterOnce();
        if (g_registered) ERR_pop_to_mark();
        else ERR_clear_last_mark();
    });
    return g_registered;
}

int SMObjectNid(int systemNid) {
    switch (systemNid) {
    case SM_NID_SM2_CURVE: return NID_sm2;
    case SM_NID_SM3: return NID_sm3;
    case SM_NID_SM2_SM3: return NID_SM2_with_SM3;
    default: break;
    }
    for (size_t i = 0; i < sizeof(kAddedObjects) / sizeof(kAddedObjects[0]); ++i)
        if (kAddedObjects[i].systemNid == systemNid) return g_addedNids[i];
    return NID_undef;
}

const EVP_CIPHER* SMCipherZuc() {
    if (!RegisterSMAlgorithms()) return nullptr;
    return EVP_get_cipherbynid(SMObjectNid(SM_NID_ZUC));
}

}  // namespace smcrypto
