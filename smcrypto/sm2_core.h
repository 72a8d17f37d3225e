#pragma once
// SM2 (GM/T 0003) on OpenSSL's big numbers and prime-curve groups: key
// generation, signature, verification, encryption, decryption, Z value and
// KDF, and the fixed-width byte forms of the system.
//
// Results follow OpenSSL's conventions: 1 for success, 0 for failure, with
// a reason on OpenSSL's error queue. Byte forms are big-endian, fixed width:
// private key d 32 bytes, public key X || Y 64 bytes, raw signature r || s
// 64 bytes, raw ciphertext 0x04 || x1 || y1 || C2 || C3 (97 + message bytes).
//
// Curve numbers are this system's own (OpenSSL uses 920-930 for other
// objects) and never handed to OpenSSL as such: SM2_CURVE_NID is OpenSSL's
// NID_sm2; SM2_TEST_CURVE_NID, which OpenSSL does not know, is built by the
// core from its published parameters. Any other number is refused.
#include <openssl/bn.h>
#include <openssl/ec.h>

#include <cstddef>

constexpr int SM2_CURVE_NID = 920;       // the recommended curve of GM/T 0003.5
constexpr int SM2_TEST_CURVE_NID = 921;  // the 256-bit prime-field example curve of GM/T 0003
constexpr int SM2_COORD_BYTES = 32;
constexpr int SM2_CIPHER_OVERHEAD = 97;  // 0x04, x1, y1, C3

// ---- byte-array entry points
int _SM2_generate_keypair(unsigned char d[32], unsigned char X[32], unsigned char Y[32]);
// Reads min(length, 32) bytes from the start as a big-endian unsigned value.
int _SM2_Bytes2BN(const unsigned char* bytes, int length, BIGNUM* bn);
// Writes the value right-aligned into 32 bytes; fails when it needs more.
int _SM2_BN2Bytes(const BIGNUM* bn, unsigned char out[32]);
// out receives 97 + msgLen bytes; msgLen must be at least 1.
int _SM2_encrypt(int curveNid, const unsigned char* msg, int msgLen, const BIGNUM* Xb, const BIGNUM* Yb,
                 unsigned char* out);
// out receives cipherLen - 97 bytes, written only once C3 has matched.
int _SM2_decrypt(int curveNid, const unsigned char* cipher, int cipherLen, const BIGNUM* d, unsigned char* out);
int _SM2_verify_ex(const unsigned char r[32], const unsigned char s[32], const unsigned char X[32],
                   const unsigned char Y[32], const unsigned char e[32]);
// Z with the default identity "1234567812345678" on the SM2 curve.
int _SM2_CalculateDefaultZValue(const unsigned char X[32], const unsigned char Y[32], unsigned char Z[32]);

// ---- big-number entry points
// A new group of curve 920 or 921; null for any other number.
EC_GROUP* SM2NewCurveGroup(int curveNid);
int _SM2_generate_key_on_curve(BIGNUM* d, BIGNUM* X, BIGNUM* Y, int curveNid);
// e is the digest of Z || M as an integer; returns a new signature or null.
ECDSA_SIG* _SM2_sign(const BIGNUM* e, const BIGNUM* d, int curveNid);
int _SM2_verify(const ECDSA_SIG* sig, const BIGNUM* Xa, const BIGNUM* Ya, const BIGNUM* e, int curveNid);
int _SM2_CalculateZValue(const unsigned char* id, int idLen, const BIGNUM* a, const BIGNUM* b, const BIGNUM* xG,
                         const BIGNUM* yG, const BIGNUM* xA, const BIGNUM* yA, unsigned char Z[32]);
int _SM2_KDF(const unsigned char* z, int zLen, int klenBits, unsigned char* out);
int _SM2_IsAllZero(const unsigned char* bytes, int length);

// ---- hash seam
// SM3 over the concatenation of count pieces. Each deliverable links its own
// SM3 behind this one function: Certaide smcrypto's, Keylinq its host
// cryptography's, so that one SM2 core serves both.
void SM2CoreSM3(const unsigned char* const* pieces, const size_t* lengths, int count, unsigned char out[32]);
