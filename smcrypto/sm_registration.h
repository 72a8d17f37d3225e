#pragma once
// The SM algorithms in OpenSSL's name tables.
//
// This system numbers the SM objects 920-930. OpenSSL 3.0 already uses those
// numbers for other objects and knows SM2, SM3, SM4-CBC and SM2-with-SM3 by
// its own identifiers, so the system's numbers stay constants of ours and
// are mapped onto OpenSSL's identifiers here; they are never handed to
// OpenSSL as such.
#include <openssl/evp.h>

namespace smcrypto {

constexpr int SM_NID_SM2_CURVE = 920;     // 1.2.156.10197.1.301 (OpenSSL's SM2)
constexpr int SM_NID_SM2_TEST_CURVE = 921; // 1.2.156.10197.1.888, GM/T 0003's example curve
constexpr int SM_NID_SM3 = 922;           // 1.2.156.10197.1.401 (OpenSSL's SM3)
constexpr int SM_NID_SM4_CBC = 923;       // 1.2.156.10197.1.104, added; an alias of OpenSSL's SM4-CBC
constexpr int SM_NID_SM2_SM3 = 924;       // 1.2.156.10197.1.501 (OpenSSL's SM2-with-SM3)
constexpr int SM_NID_SM1_CBC = 925;       // 1.2.156.10197.1.102, a name only
constexpr int SM_NID_ZUC = 926;           // 1.2.156.10197.1.105
constexpr int SM_NID_SM2_SM3_PKCS7 = 927; // 1.2.156.10197.1.301.1
constexpr int SM_NID_PKCS7_DATA = 928;    // 1.2.156.10197.6.1.4.2.1
constexpr int SM_NID_PKCS7_SIGNED = 930;  // 1.2.156.10197.6.1.4.2.2
// 929 is an empty row: no object.
//
// The signature cross-reference row "sm2-sm3 = sm3 with an EC key" is
// OpenSSL's own row SM2-with-SM3 = SM3 with an SM2 key: OpenSSL 3.0 types
// every key on the SM2 curve as SM2 (EVP_PKEY_assign retypes an EC_KEY on
// it too), and ASN1_item_verify requires the key to be of the row's key
// type, so a row naming id-ecPublicKey would refuse every SM2 certificate.

// Initialises OpenSSL's algorithm tables, then adds (once per process) the
// object identifiers OpenSSL lacks, the name aliases of the system and the
// ZUC cipher. Identifiers and names that already exist are reused. Leaves
// the error queue as it found it on success. 1 or 0.
int RegisterSMAlgorithms();

// OpenSSL's identifier of the object of one of the system's numbers above:
// the one its OID resolves to (after registration for the added ones), or
// NID_undef.
int SMObjectNid(int systemNid);

// The ZUC cipher record (registered as "zuc" and "ChinaZUC"); null when the
// registration failed. Each cipher call starts on a fresh keystream word.
const EVP_CIPHER* SMCipherZuc();

}  // namespace smcrypto
