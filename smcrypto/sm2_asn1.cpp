// The SM2 ASN.1 items and the INTEGER-form EC private key decoder.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "sm2_asn1.h"

#include <openssl/bn.h>
#include <openssl/err.h>

extern "C" {

ASN1_SEQUENCE(SM2Cipher) = {
    ASN1_SIMPLE(SM2Cipher, XCoordinate, ASN1_INTEGER),
    ASN1_SIMPLE(SM2Cipher, YCoordinate, ASN1_INTEGER),
    ASN1_SIMPLE(SM2Cipher, HASH, ASN1_OCTET_STRING),
    ASN1_SIMPLE(SM2Cipher, cipherText, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(SM2Cipher)
IMPLEMENT_ASN1_FUNCTIONS(SM2Cipher)

ASN1_SEQUENCE(SM2_PRIVATEKEY) = {
    ASN1_SIMPLE(SM2_PRIVATEKEY, version, ASN1_INTEGER),
    ASN1_SIMPLE(SM2_PRIVATEKEY, privateKey, ASN1_INTEGER),
    ASN1_EXP_OPT(SM2_PRIVATEKEY, parameters, ECPKPARAMETERS, 0),
    ASN1_EXP_OPT(SM2_PRIVATEKEY, publicKey, ASN1_BIT_STRING, 1),
} ASN1_SEQUENCE_END(SM2_PRIVATEKEY)

ASN1_SEQUENCE(PFX_SM2_PRIVATE_DATA) = {
    ASN1_SIMPLE(PFX_SM2_PRIVATE_DATA, dataID, ASN1_OBJECT),
    ASN1_SIMPLE(PFX_SM2_PRIVATE_DATA, dataEncryptedAlg, ASN1_OBJECT),
    ASN1_SIMPLE(PFX_SM2_PRIVATE_DATA, encryptedSM2PrivateKey, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(PFX_SM2_PRIVATE_DATA)

ASN1_SEQUENCE(PFX_SM2_PUBLIC_DATA) = {
    ASN1_SIMPLE(PFX_SM2_PUBLIC_DATA, dataID, ASN1_OBJECT),
    ASN1_SIMPLE(PFX_SM2_PUBLIC_DATA, SM2Certificate, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(PFX_SM2_PUBLIC_DATA)

ASN1_SEQUENCE(PFX_SM2) = {
    ASN1_SIMPLE(PFX_SM2, version, ASN1_INTEGER),
    ASN1_SIMPLE(PFX_SM2, privateData, PFX_SM2_PRIVATE_DATA),
    ASN1_SIMPLE(PFX_SM2, publicData, PFX_SM2_PUBLIC_DATA),
} ASN1_SEQUENCE_END(PFX_SM2)

EC_KEY* d2i_SM2_PRIVATEKEY(EC_KEY** key, const unsigned char** in, long length) {
    const unsigned char* p = in ? *in : nullptr;
    SM2_PRIVATEKEY* decoded = p ? reinterpret_cast<SM2_PRIVATEKEY*>(ASN1_item_d2i(nullptr, &p, length,
                                                                             ASN1_ITEM_rptr(SM2_PRIVATEKEY)))
                                : nullptr;
    if (!decoded) return nullptr;
    EC_KEY* made = nullptr;
    EC_KEY* ret = key ? *key : nullptr;
    BIGNUM* scalar = nullptr;
    EC_POINT* point = nullptr;
    bool ok = false;
    if (!ret) ret = made = EC_KEY_new();
    if (!ret) goto done;
    if (decoded->parameters) {
        EC_GROUP* group = EC_GROUP_new_from_ecpkparameters(decoded->parameters);
        const bool set = group && EC_KEY_set_group(ret, group);
        EC_GROUP_free(group);
        if (!set) goto done;
    }
    if (!EC_KEY_get0_group(ret)) {
        ERR_raise(ERR_LIB_EC, EC_R_MISSING_PARAMETERS);
        goto done;
    }
    // The content octets as an unsigned number, whatever sign DER gives them.
    scalar = BN_bin2bn(decoded->privateKey->data, decoded->privateKey->length, nullptr);
    if (!scalar || !EC_KEY_set_private_key(ret, scalar)) goto done;
    if (decoded->publicKey) {
        const EC_GROUP* group = EC_KEY_get0_group(ret);
        const unsigned char* pub = decoded->publicKey->data;
        const int pubLength = decoded->publicKey->length;
        point = EC_POINT_new(group);
        if (!point || pubLength < 1 || !EC_POINT_oct2point(group, point, pub, size_t(pubLength), nullptr) ||
            !EC_KEY_set_public_key(ret, point))
            goto done;
        EC_KEY_set_conv_form(ret, point_conversion_form_t(pub[0] & ~0x01));
    }
    ok = true;
done:
    EC_POINT_free(point);
    BN_clear_free(scalar);
    SM2_PRIVATEKEY* toFree = decoded;
    ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(toFree), ASN1_ITEM_rptr(SM2_PRIVATEKEY));
    if (!ok) {
        EC_KEY_free(made);
        return nullptr;
    }
    if (key) *key = ret;
    *in = p;
    return ret;
}

}  // extern "C"
