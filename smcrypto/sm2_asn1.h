#pragma once
// ASN.1 types of SM2 data for OpenSSL's item machinery.
//
//   SM2Cipher ::= SEQUENCE { XCoordinate INTEGER, YCoordinate INTEGER,
//                            HASH OCTET STRING, cipherText OCTET STRING }
//     C1's coordinates as unsigned integers, C3 (32 bytes) and C2.
//   SM2_PRIVATEKEY ::= SEQUENCE { version INTEGER, privateKey INTEGER,
//                                 parameters [0] EXPLICIT ECPKParameters OPTIONAL,
//                                 publicKey [1] EXPLICIT BIT STRING OPTIONAL }
//     an EC private key whose privateKey is an INTEGER, not an OCTET STRING.
//   PFX_SM2 ::= SEQUENCE { version INTEGER, privateData PFX_SM2_PRIVATE_DATA,
//                          publicData PFX_SM2_PUBLIC_DATA }
//   PFX_SM2_PRIVATE_DATA ::= SEQUENCE { dataID OBJECT IDENTIFIER,
//       dataEncryptedAlg OBJECT IDENTIFIER, encryptedSM2PrivateKey OCTET STRING }
//   PFX_SM2_PUBLIC_DATA ::= SEQUENCE { dataID OBJECT IDENTIFIER, SM2Certificate OCTET STRING }
//     item descriptions only.
#include <openssl/asn1.h>
#include <openssl/asn1t.h>
#include <openssl/ec.h>

extern "C" {

typedef struct SM2Cipher_st {
    ASN1_INTEGER* XCoordinate;
    ASN1_INTEGER* YCoordinate;
    ASN1_OCTET_STRING* HASH;
    ASN1_OCTET_STRING* cipherText;
} SM2Cipher;
DECLARE_ASN1_FUNCTIONS(SM2Cipher)

typedef struct SM2_PRIVATEKEY_st {
    ASN1_INTEGER* version;
    ASN1_INTEGER* privateKey;
    ECPKPARAMETERS* parameters;
    ASN1_BIT_STRING* publicKey;
} SM2_PRIVATEKEY;
DECLARE_ASN1_ITEM(SM2_PRIVATEKEY)

// An SM2_PRIVATEKEY as an EC key: a new one (a null or *key null) or the
// given one. The group comes from the parameters, else the given key must
// have one; the private scalar is privateKey read unsigned big-endian; a
// public key, when present, is decoded with its point form. Null on any
// failure (a key made for the call is freed); *in advances on success.
EC_KEY* d2i_SM2_PRIVATEKEY(EC_KEY** key, const unsigned char** in, long length);

typedef struct PFX_SM2_PRIVATE_DATA_st {
    ASN1_OBJECT* dataID;
    ASN1_OBJECT* dataEncryptedAlg;
    ASN1_OCTET_STRING* encryptedSM2PrivateKey;
} PFX_SM2_PRIVATE_DATA;
DECLARE_ASN1_ITEM(PFX_SM2_PRIVATE_DATA)

typedef struct PFX_SM2_PUBLIC_DATA_st {
    ASN1_OBJECT* dataID;
    ASN1_OCTET_STRING* SM2Certificate;
} PFX_SM2_PUBLIC_DATA;
DECLARE_ASN1_ITEM(PFX_SM2_PUBLIC_DATA)

typedef struct PFX_SM2_st {
    ASN1_INTEGER* version;
    PFX_SM2_PRIVATE_DATA* privateData;
    PFX_SM2_PUBLIC_DATA* publicData;
} PFX_SM2;
DECLARE_ASN1_ITEM(PFX_SM2)

}  // extern "C"
