// The legacy EC private key with an INTEGER privateKey (SM2_PRIVATEKEY) as
// a decoder of a built-in provider of ours (see sm2_key_decoder.h).
#define OPENSSL_SUPPRESS_DEPRECATED
#include "sm2_key_decoder.h"

#include <openssl/asn1.h>
#include <openssl/core_dispatch.h>
#include <openssl/core_names.h>
#include <openssl/core_object.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/param_build.h>
#include <openssl/params.h>
#include <openssl/provider.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "sm2_asn1.h"

namespace {

constexpr char kProviderName[] = "sm2-private-key";

OSSL_FUNC_BIO_read_ex_fn* g_readInput = nullptr;

// The provider and its decoders keep no state: any non-null context does.
int g_context = 0;

void* NewDecoderContext(void*) { return &g_context; }
void FreeDecoderContext(void*) {}

int DoesSelection(void*, int selection) {
    return selection == 0 || (selection & OSSL_KEYMGMT_SELECT_PRIVATE_KEY) != 0;
}

std::vector<unsigned char> ReadAll(OSSL_CORE_BIO* in) {
    std::vector<unsigned char> bytes;
    unsigned char chunk[2048];
    size_t got = 0;
    while (g_readInput(in, chunk, sizeof chunk, &got) && got > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    return bytes;
}

// An EC private key that neither form reads: a SEQUENCE of at most four
// elements, version 1, and no privateKey or an INTEGER one. Anything else
// may be another key type's and is left alone.
bool IsUnreadableEcPrivateKey(const std::vector<unsigned char>& der) {
    const unsigned char* p = der.data();
    STACK_OF(ASN1_TYPE)* elements = d2i_ASN1_SEQUENCE_ANY(nullptr, &p, long(der.size()));
    const int count = sk_ASN1_TYPE_num(elements);
    const ASN1_TYPE* version = count > 0 ? sk_ASN1_TYPE_value(elements, 0) : nullptr;
    const ASN1_TYPE* privateKey = count > 1 ? sk_ASN1_TYPE_value(elements, 1) : nullptr;
    const bool unreadable = count <= 4 && version && version->type == V_ASN1_INTEGER &&
                            ASN1_INTEGER_get(version->value.integer) == 1 &&
                            (!privateKey || privateKey->type == V_ASN1_INTEGER);
    sk_ASN1_TYPE_pop_free(elements, ASN1_TYPE_free);
    return unreadable;
}

// Decodes the INTEGER form into an EC key and hands it on by reference. An
// EC private key that neither form reads fails with the EC library's
// decode-error reason; any other input is left to the library's decoders
// (result 1, nothing decoded, nothing left on the error queue). The
// library's key management takes a key on the SM2 curve as SM2 only, and
// any other as EC only.
int Decode(void*, OSSL_CORE_BIO* in, int, OSSL_CALLBACK* onObject, void* onObjectArg, OSSL_PASSPHRASE_CALLBACK*,
           void*) {
    const std::vector<unsigned char> der = ReadAll(in);
    ERR_set_mark();
    const unsigned char* p = der.data();
    EC_KEY* key = der.empty() ? nullptr : d2i_SM2_PRIVATEKEY(nullptr, &p, long(der.size()));
    const bool unreadable = !key && !der.empty() && IsUnreadableEcPrivateKey(der);
    ERR_pop_to_mark();
    if (unreadable) {
        ERR_raise(ERR_LIB_EC, EC_R_DECODE_ERROR);
        return 0;
    }
    if (!key) return 1;
    int objectType = OSSL_OBJECT_PKEY;
    char* keyType = const_cast<char*>(EC_GROUP_get_curve_name(EC_KEY_get0_group(key)) == NID_sm2 ? "SM2" : "EC");
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_int(OSSL_OBJECT_PARAM_TYPE, &objectType),
        OSSL_PARAM_construct_utf8_string(OSSL_OBJECT_PARAM_DATA_TYPE, keyType, 0),
        OSSL_PARAM_construct_octet_string(OSSL_OBJECT_PARAM_REFERENCE, &key, sizeof key),
        OSSL_PARAM_construct_end(),
    };
    const int result = onObject(params, onObjectArg);
    EC_KEY_free(key);
    return result;
}

// The group as parameters of the library's EC key management: its name,
// or for a curve the library does not name, the explicit prime field.
bool PushGroup(OSSL_PARAM_BLD* builder, const EC_GROUP* group, std::vector<unsigned char>& generator) {
    const int curve = EC_GROUP_get_curve_name(group);
    if (curve != NID_undef)
        return OSSL_PARAM_BLD_push_utf8_string(builder, OSSL_PKEY_PARAM_GROUP_NAME, OBJ_nid2sn(curve), 0);
    BIGNUM* p = BN_new();
    BIGNUM* a = BN_new();
    BIGNUM* b = BN_new();
    const EC_POINT* g = EC_GROUP_get0_generator(group);
    const size_t gLength = g ? EC_POINT_point2oct(group, g, POINT_CONVERSION_UNCOMPRESSED, nullptr, 0, nullptr) : 0;
    generator.resize(gLength);
    const bool ok = p && a && b && gLength > 0 && EC_GROUP_get_curve(group, p, a, b, nullptr) &&
                    EC_POINT_point2oct(group, g, POINT_CONVERSION_UNCOMPRESSED, generator.data(), gLength, nullptr) ==
                        gLength &&
                    OSSL_PARAM_BLD_push_utf8_string(builder, OSSL_PKEY_PARAM_EC_FIELD_TYPE, SN_X9_62_prime_field, 0) &&
                    OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_EC_P, p) &&
                    OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_EC_A, a) &&
                    OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_EC_B, b) &&
                    OSSL_PARAM_BLD_push_octet_string(builder, OSSL_PKEY_PARAM_EC_GENERATOR, generator.data(), gLength) &&
                    OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_EC_ORDER, EC_GROUP_get0_order(group)) &&
                    OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_EC_COFACTOR, EC_GROUP_get0_cofactor(group));
    BN_free(p);
    BN_free(a);
    BN_free(b);
    return ok;
}

// The key as the parameters of the library's EC key management: its group,
// private scalar and public point ([d]G when the encoding carried none).
int ExportObject(void*, const void* reference, size_t referenceSize, OSSL_CALLBACK* onParams, void* onParamsArg) {
    if (referenceSize != sizeof(EC_KEY*)) return 0;
    const EC_KEY* key = nullptr;
    std::memcpy(&key, reference, sizeof key);
    const EC_GROUP* group = EC_KEY_get0_group(key);
    const BIGNUM* d = EC_KEY_get0_private_key(key);
    EC_POINT* point = EC_POINT_new(group);
    OSSL_PARAM_BLD* builder = OSSL_PARAM_BLD_new();
    OSSL_PARAM* params = nullptr;
    std::vector<unsigned char> generator;
    unsigned char* pub = nullptr;
    size_t pubLength = 0;
    int result = 0;
    if (point && builder &&
        (EC_KEY_get0_public_key(key) ? EC_POINT_copy(point, EC_KEY_get0_public_key(key))
                                     : EC_POINT_mul(group, point, d, nullptr, nullptr, nullptr)) &&
        (pubLength = EC_POINT_point2buf(group, point, POINT_CONVERSION_UNCOMPRESSED, &pub, nullptr)) > 0 &&
        PushGroup(builder, group, generator) && OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_PRIV_KEY, d) &&
        OSSL_PARAM_BLD_push_octet_string(builder, OSSL_PKEY_PARAM_PUB_KEY, pub, pubLength) &&
        (params = OSSL_PARAM_BLD_to_param(builder)) != nullptr)
        result = onParams(params, onParamsArg);
    OSSL_PARAM_free(params);
    OPENSSL_free(pub);
    OSSL_PARAM_BLD_free(builder);
    EC_POINT_free(point);
    return result;
}

const OSSL_DISPATCH kDecoderFunctions[] = {
    {OSSL_FUNC_DECODER_NEWCTX, reinterpret_cast<void (*)()>(NewDecoderContext)},
    {OSSL_FUNC_DECODER_FREECTX, reinterpret_cast<void (*)()>(FreeDecoderContext)},
    {OSSL_FUNC_DECODER_DOES_SELECTION, reinterpret_cast<void (*)()>(DoesSelection)},
    {OSSL_FUNC_DECODER_DECODE, reinterpret_cast<void (*)()>(Decode)},
    {OSSL_FUNC_DECODER_EXPORT_OBJECT, reinterpret_cast<void (*)()>(ExportObject)},
    {0, nullptr},
};

constexpr char kDecoderProperties[] = "provider=sm2-private-key,input=der,structure=type-specific";

const OSSL_ALGORITHM kDecoders[] = {
    {"EC", kDecoderProperties, kDecoderFunctions, "EC private key with an INTEGER privateKey"},
    {"SM2", kDecoderProperties, kDecoderFunctions, "SM2 private key with an INTEGER privateKey"},
    {nullptr, nullptr, nullptr, nullptr},
};

const OSSL_ALGORITHM* QueryOperation(void*, int operation, int* noCache) {
    *noCache = 0;
    return operation == OSSL_OP_DECODER ? kDecoders : nullptr;
}

const OSSL_DISPATCH kProviderFunctions[] = {
    {OSSL_FUNC_PROVIDER_QUERY_OPERATION, reinterpret_cast<void (*)()>(QueryOperation)},
    {0, nullptr},
};

int InitProvider(const OSSL_CORE_HANDLE*, const OSSL_DISPATCH* in, const OSSL_DISPATCH** out, void** context) {
    for (; in->function_id != 0; ++in)
        if (in->function_id == OSSL_FUNC_BIO_READ_EX) g_readInput = OSSL_FUNC_BIO_read_ex(in);
    if (!g_readInput) return 0;
    *out = kProviderFunctions;
    *context = &g_context;
    return 1;
}

}  // namespace

namespace smcrypto {

int RegisterSM2KeyDecoder() {
    static std::once_flag once;
    static int registered = 0;
    std::call_once(once, [] {
        // Loading a provider explicitly would stop OpenSSL from loading its
        // default one by itself: keep that fallback.
        registered = OSSL_PROVIDER_add_builtin(nullptr, kProviderName, InitProvider) == 1 &&
                     OSSL_PROVIDER_try_load(nullptr, kProviderName, 1) != nullptr;
    });
    return registered;
}

}  // namespace smcrypto
