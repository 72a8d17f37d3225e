#pragma once
// The RSA public-key primitive without padding (RSAEP / RSAVP1 of PKCS#1):
// m^e mod n, big-endian, left-filled with zeros to the modulus length.
// OpenSSL's big numbers and Montgomery exponentiation do the arithmetic.
#include <openssl/bn.h>

struct RsaPublicKey {
    BIGNUM* n;  // modulus, owned
    BIGNUM* e;  // public exponent, owned
};

// Fills the key from big-endian bytes (leading zeros allowed); 1 or 0.
int RSA_create(const unsigned char* modulus, int modulusLen, RsaPublicKey* key, const unsigned char* exponent,
               int exponentLen);
// Frees both numbers (the exponent first) and sets them to null.
void DestroyRsaPublicKey(RsaPublicKey* key);
// Returns the modulus length in bytes written to out, or -1. out must hold
// that many bytes.
int RSA_eay_public_decrypt(int inLen, const unsigned char* in, unsigned char* out, const RsaPublicKey* key);
// The same with the key given as its two numbers; the padding argument is
// not consulted (no padding is added or removed).
int RSA_eay_public_decrypt(int inLen, const unsigned char* in, unsigned char* out, const BIGNUM* n, const BIGNUM* e,
                           int padding);
