// The GM/T 0010 content types decoded as OpenSSL's data and signedData.
#include "sm_pkcs7.h"

#include "sm_registration.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/objects.h>

namespace smcrypto {
namespace {

// The standard type a GM/T type stands for, or NID_undef.
int StandardTypeOf(const ASN1_OBJECT* type) {
    const int nid = OBJ_obj2nid(type);
    if (nid == NID_undef) return NID_undef;
    if (nid == SMObjectNid(SM_NID_PKCS7_DATA)) return NID_pkcs7_data;
    if (nid == SMObjectNid(SM_NID_PKCS7_SIGNED)) return NID_pkcs7_signed;
    return NID_undef;
}

// Replaces the type object by one that OpenSSL reads as the standard type
// (OBJ_obj2nid answers its nid field) and that encodes the same identifier.
bool KeepIdentifierAs(PKCS7* p7, int standardNid) {
    const int nid = OBJ_obj2nid(p7->type);
    ASN1_OBJECT* alias = ASN1_OBJECT_create(standardNid, const_cast<unsigned char*>(OBJ_get0_data(p7->type)),
                                            int(OBJ_length(p7->type)), OBJ_nid2sn(nid), OBJ_nid2ln(nid));
    if (!alias) return false;
    ASN1_OBJECT_free(p7->type);
    p7->type = alias;
    return true;
}

// Content left as "other" under a GM/T data type: its OCTET STRING becomes
// the data (none for absent content).
bool ReadAsData(PKCS7* p7) {
    ASN1_TYPE* other = p7->d.other;
    ASN1_OCTET_STRING* data = nullptr;
    if (other) {
        if (other->type != V_ASN1_OCTET_STRING) return false;
        data = ASN1_STRING_dup(other->value.octet_string);
        if (!data) return false;
    }
    if (!KeepIdentifierAs(p7, NID_pkcs7_data)) {
        ASN1_OCTET_STRING_free(data);
        return false;
    }
    ASN1_TYPE_free(other);
    p7->d.data = data;
    return true;
}

// Content left as "other" under a GM/T signedData type: the SEQUENCE is
// decoded as SignedData (absent content stays absent, as d2i_PKCS7 leaves
// it for pkcs7-signedData).
bool ReadAsSignedData(PKCS7* p7) {
    ASN1_TYPE* other = p7->d.other;
    if (!other) return KeepIdentifierAs(p7, NID_pkcs7_signed);
    if (other->type != V_ASN1_SEQUENCE) return false;
    const ASN1_STRING* der = other->value.sequence;
    const unsigned char* p = der->data;
    PKCS7_SIGNED* sd = d2i_PKCS7_SIGNED(nullptr, &p, der->length);
    if (!sd) return false;
    if (p != der->data + der->length || !KeepIdentifierAs(p7, NID_pkcs7_signed)) {
        PKCS7_SIGNED_free(sd);
        return false;
    }
    ASN1_TYPE_free(other);
    p7->d.sign = sd;
    return true;
}

bool ReadGmtTypes(PKCS7* p7) {
    switch (StandardTypeOf(p7->type)) {
    case NID_pkcs7_data: return ReadAsData(p7);
    case NID_pkcs7_signed:
        if (!ReadAsSignedData(p7)) return false;
        break;
    default: break;
    }
    if (!PKCS7_type_is_signed(p7) || !p7->d.sign || !p7->d.sign->contents) return true;
    PKCS7* inner = p7->d.sign->contents;
    return StandardTypeOf(inner->type) != NID_pkcs7_data || ReadAsData(inner);
}

}  // namespace

PKCS7* d2i_SM_PKCS7(PKCS7** a, const unsigned char** in, long length) {
    // The GM/T identifiers are known only once registered.
    if (!RegisterSMAlgorithms()) {
        ERR_raise(ERR_LIB_PKCS7, ERR_R_INIT_FAIL);
        return nullptr;
    }
    const unsigned char* start = in ? *in : nullptr;
    PKCS7* p7 = d2i_PKCS7(a, in, length);
    if (!p7 || ReadGmtTypes(p7)) return p7;
    ERR_raise(ERR_LIB_ASN1, ASN1_R_DECODE_ERROR);
    PKCS7_free(p7);
    if (a) *a = nullptr;
    if (in) *in = start;
    return nullptr;
}

}  // namespace smcrypto
