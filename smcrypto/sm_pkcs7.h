#pragma once
// The GM/T 0010 content types sm-pkcs7-data (1.2.156.10197.6.1.4.2.1) and
// sm-pkcs7-signedData (1.2.156.10197.6.1.4.2.2) in OpenSSL's PKCS#7 code.
//
// OpenSSL picks the content of a PKCS#7 ContentInfo by the numeric identifier
// of its type, in static tables and macros that nothing outside libcrypto can
// extend; decoded with d2i_PKCS7, a GM/T type keeps its content as "other".
// d2i_SM_PKCS7 decodes it as data or signedData instead and gives the
// structure a type object that OpenSSL reads as pkcs7-data or
// pkcs7-signedData while its encoding stays the GM/T identifier. From then
// on OpenSSL's own functions treat it as the standard type (the detached
// control, PKCS7_get_octet_string, PKCS7_stream, PKCS7_dataInit,
// PKCS7_dataFinal, signature checks), i2d_PKCS7 writes the GM/T identifiers
// back, and PKCS7_free frees it. OBJ_obj2nid of such a type gives the
// standard identifier; the GM/T one is in its encoding (OBJ_obj2txt with
// no_name 1, OBJ_get0_data).
#include <openssl/pkcs7.h>

namespace smcrypto {

// d2i_PKCS7 with the GM/T types read as their standard counterparts: an
// outer sm-pkcs7-signedData as signedData, an outer sm-pkcs7-data as data,
// and the inner content of a signedData of either identifier, when it is
// sm-pkcs7-data, as data. Everything else is as d2i_PKCS7 leaves it. A GM/T
// type whose content does not decode as its standard type fails (null, *in
// unchanged, *a freed and cleared when given).
PKCS7* d2i_SM_PKCS7(PKCS7** a, const unsigned char** in, long length);

}  // namespace smcrypto
