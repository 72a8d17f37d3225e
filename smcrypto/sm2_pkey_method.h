#pragma once
// SM2 behind OpenSSL's generic public-key interface (EVP_PKEY_sign, _verify,
// _encrypt, _decrypt and the digest control) for EC keys.
//
// RegisterSM2KeyMethod() adds, once per process, an application key method
// for EVP_PKEY_EC and one for EVP_PKEY_SM2 (OpenSSL 3.0 types an EC key on
// the SM2 curve as SM2). They serve legacy keys (an EC_KEY assigned to an
// EVP_PKEY); keys made by OpenSSL's providers keep OpenSSL's own SM2.
// Everything else is the library's EC method; on top of it:
//  - sign: a key on the SM2 curve whose EC_KEY names no engine, or an
//    engine whose id begins with "openssl ecdsa" or "cavium", signs with
//    SM2 (e = the 32-byte digest given, DER signature); other keys sign
//    with ECDSA. verify: the same rule, "pkcs11" also selects SM2. SM2
//    signs and verifies exactly a 32-byte digest.
//  - encrypt and decrypt: SM2 with the SM2Cipher DER form (C1C3C2), for
//    keys on the SM2 curve only; a null output answers the size, a short
//    output buffer is refused. An engine whose SM2 decryption is set
//    (ENGINE_set_sm2_decrypt) decrypts for keys it serves.
//  - digest control: SM3 is accepted besides OpenSSL's list (SHA-1,
//    ecdsa-with-SHA1, SHA-224/256/384/512); MD5 and others are refused.
// Results follow the library: 1 good, 0 or -1 failure with a reason on the
// error queue.
#include <openssl/engine.h>
#include <openssl/evp.h>

namespace smcrypto {

// Idempotent, thread-safe; 1 or 0. Call beside RegisterSMAlgorithms.
int RegisterSM2KeyMethod();

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
