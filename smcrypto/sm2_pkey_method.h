#pragma once
// SM2 behind OpenSSL's generic public-key interface (EVP_PKEY_sign, _verify,
// _encrypt, _decrypt, the digest control, digest verification and the
// PKCS#7 signer control) for legacy EC keys: an EC_KEY in an EVP_PKEY, as
// EVP_PKEY_assign_EC_KEY / EVP_PKEY_set1_EC_KEY and the legacy decoders
// make them (OpenSSL 3.0 types one on the SM2 curve as SM2).
//
// RegisterSM2KeyMethod() attaches, once per process, a key method for
// EVP_PKEY_EC and EVP_PKEY_SM2 and an EC ASN.1 method through an engine
// that OpenSSL hands to legacy keys when it types them. Keys made by
// OpenSSL's providers (decoders, EVP_PKEY_fromdata, key generation by name)
// never reach it and keep OpenSSL's own EC and SM2.
// Everything else is the library's EC method; on top of it:
//  - sign: a key on curve 920 or 921 whose EC_KEY names no engine, or an
//    engine whose id begins with "openssl ecdsa" or "cavium", signs with
//    SM2 (e = the 32-byte digest given, DER signature); other keys sign
//    with ECDSA. verify: the same rule, "pkcs11" also selects SM2. Without
//    the engine rules every key on those curves signs and verifies with SM2.
//    SM2 signs and verifies exactly a 32-byte digest, always in curve
//    920's group.
//  - encrypt and decrypt: SM2 with the SM2Cipher DER form (C1C3C2), for
//    keys on curve 920 or 921; a null output answers the size, a short
//    output buffer is refused. With the engine rules, an engine whose SM2
//    decryption is set (ENGINE_set_sm2_decrypt) decrypts for keys it serves.
//  - digest control: SM3 is accepted besides OpenSSL's list (SHA-1,
//    ecdsa-with-SHA1, SHA-224/256/384/512); MD5 and others are refused.
//  - digest verification (EVP_DigestVerify*, hence ASN1_item_verify and
//    X509_verify) with SM3 and a key on curve 920 hashes Z (default
//    identity) before the data, when the rules ask for it.
//  - PKCS#7 signer control (PKCS7_sign, PKCS7_add_signature) of keys typed
//    SM2: SM3 gives sm2-sm3-pkcs7 (1.2.156.10197.1.301.1) with absent
//    parameters, other digests the (digest, EC) signature algorithm of the
//    cross-reference; a signer without a known digest fails.
// Results follow the library: 1 good, 0 or -1 failure with a reason on the
// error queue.
#include <openssl/engine.h>
#include <openssl/evp.h>

namespace smcrypto {

struct SM2KeyMethodRules {
    bool engineRules;         // the engine-id routing and the engine's SM2 decryption
    bool exactCoordinates;    // decryption wants C1's coordinates of exactly 32 bytes
    bool zInVerification;     // Z in digest verification with SM3
    bool pkcs7SignerControl;  // the PKCS#7 signer control above
};

// Certaide's rules: all of the above.
constexpr SM2KeyMethodRules kCertaideSM2Rules{true, false, true, true};
// Keylinq's: no engine rules, exact coordinates, the library's own digest
// verification and PKCS#7 signer control.
constexpr SM2KeyMethodRules kKeylinqSM2Rules{false, true, false, false};

// Once per process, thread-safe; 1 or 0. The rules of the first call hold;
// later calls return its result.
int RegisterSM2KeyMethod(const SM2KeyMethodRules& rules);

}  // namespace smcrypto

extern "C" {

// An engine's SM2 decryption, with the key method's decrypt arguments.
typedef int (*SM2_DECRYPT_FN)(EVP_PKEY_CTX* ctx, unsigned char* out, size_t* outlen, const unsigned char* in,
                              size_t inlen);
// The SM2 decryption attached to the engine, or null.
SM2_DECRYPT_FN ENGINE_get_sm2_decrypt(const ENGINE* e);
// Attaches (or, with null, removes) it; 1 or 0.
int ENGINE_set_sm2_decrypt(ENGINE* e, SM2_DECRYPT_FN fn);

}  // extern "C"
