#pragma once
// The key library's host cryptography: random bytes, RSA and SM2 public-key
// operations, the symmetric cipher contexts and the digest contexts. Every
// function returns 0 for success or one of the SOFTCRYPTO_E_* codes; no
// function learns the size of an output buffer, the caller provides the
// room that each function states.
#include <cstdint>

#ifndef ALG_OPENSSL_OK
#define ALG_OPENSSL_OK 1
#endif

// ---- symmetric algorithm ids (the device handle record uses the same numbers)
constexpr uint8_t SOFT_ALG_DES = 2;    // 8 key bytes, 8-byte blocks
constexpr uint8_t SOFT_ALG_DES2 = 3;   // triple DES K1, K2, K1: 16 key bytes
constexpr uint8_t SOFT_ALG_DES3 = 4;   // triple DES K1, K2, K3: 24 key bytes
constexpr uint8_t SOFT_ALG_RC4 = 8;    // 16 key bytes, stream
constexpr uint8_t SOFT_ALG_SM4 = 19;   // 16 key bytes, 16-byte blocks

// Modes: 1 is ECB, every other value CBC (callers pass 2). RC4 ignores both.
constexpr uint32_t SOFT_MODE_ECB = 1;
constexpr uint32_t SOFT_MODE_CBC = 2;

// ---- hash ids
constexpr uint8_t SOFT_HASH_MD5 = 10;       // 16 bytes
constexpr uint8_t SOFT_HASH_SHA1 = 11;      // 20 bytes
constexpr uint8_t SOFT_HASH_SHA256 = 12;    // 32 bytes
constexpr uint8_t SOFT_HASH_SHA512 = 13;    // 64 bytes
constexpr uint8_t SOFT_HASH_SHA1_MD5 = 14;  // SHA-1 then MD5 of the same data, 36 bytes
constexpr uint8_t VM_ALG_SM3 = 18;          // 32 bytes
constexpr uint32_t SOFT_MAX_DIGEST_BYTES = 64;

// ---- result codes
constexpr uint32_t SOFTCRYPTO_OK = 0;
constexpr uint32_t SOFTCRYPTO_E_INVALIDARG = 0x80070057;     // null pointer, bad length
constexpr uint32_t SOFTCRYPTO_E_OUTOFMEMORY = 0x8007000E;    // context or work buffer
constexpr uint32_t SOFTCRYPTO_E_NOT_ENOUGH_MEMORY = 0x80070008;  // cipher context or state
constexpr uint32_t SOFTCRYPTO_E_RANDOM = 0x80070064;         // the random generator failed
constexpr uint32_t SOFTCRYPTO_E_SETUP = 0x80070210;          // key set-up or digest start
constexpr uint32_t SOFTCRYPTO_E_UPDATE = 0x80070211;         // cipher update
constexpr uint32_t SOFTCRYPTO_E_FINAL = 0x800700EA;          // cipher or digest final step
constexpr uint32_t SOFTCRYPTO_E_ENCRYPT = 0x80071770;        // public-key encryption; digest update
constexpr uint32_t SOFTCRYPTO_E_RSA_RAW = 0x80071771;        // the raw RSA operation
constexpr uint32_t SOFTCRYPTO_E_RSA_KEY = 0x80090003;        // the RSA key's numbers
constexpr uint32_t SOFTCRYPTO_E_BAD_LEN = 0x80090004;        // too long (or a key too small) for the padding
constexpr uint32_t SOFTCRYPTO_E_BAD_SIGNATURE = 0x80090006;
constexpr uint32_t SOFTCRYPTO_E_BN_ALLOC = 0x8009000E;
constexpr uint32_t SOFTCRYPTO_E_BAD_POINT = 0x80090015;
constexpr uint32_t SOFTCRYPTO_E_ZVALUE = 0x80090020;
constexpr uint32_t SOFTCRYPTO_E_BAD_ALGID = 0x80090029;

// ---- contexts
// A context that was not finished successfully is released by its holder
// with SymKeyFree / Hash_Free.
struct SYMKEY_CTX {
    void* pAlgCtx;    // owned: DES_STATE (2, 3, 4), RC4_KEY (8) or SM4_STATE (19)
    uint8_t algtype;  // the symmetric algorithm id
};

struct HASH_CTX {
    void* pFirst;      // owned digest state (the SHA-1 state for id 14)
    void* pSecond;     // owned MD5 state for id 14, null otherwise
    uint8_t hashtype;  // the hash id
};

// The host form of an RSA public key, big-endian numbers in the first
// nLen / eLen bytes of their fields.
constexpr uint32_t SOFT_RSA_MAX_BYTES = 256;
struct SOFT_RSA_PUBKEY {
    uint8_t modulus[SOFT_RSA_MAX_BYTES];
    uint32_t nLen;  // 128 for RSA-1024, 256 for RSA-2048
    uint8_t exponent[SOFT_RSA_MAX_BYTES];
    uint32_t eLen;
};

// SM2: a public key is X || Y (64 bytes), a signature r || s (64 bytes), a
// digest 32 bytes, a ciphertext 0x04 || x1 || y1 || C2 || C3 (97 + message).
constexpr uint32_t SM2_CIPHER_EXTRA_BYTES = 97;

// ---- random bytes
// With allowZero 0 every zero byte of the result becomes 0x01.
uint32_t GenRand(uint32_t len, uint8_t* pRand, uint8_t allowZero);

// ---- RSA
// in^e mod n, big-endian, into nLen bytes of pOut.
uint32_t RSA_PublicEncrypt(const uint8_t* pIn, uint32_t inLen, uint8_t* pOut, uint32_t* pOutLen,
                           const SOFT_RSA_PUBKEY* pRSAPubKey);
// PKCS#1 v1.5 verification of a digest the caller computed; 0 when valid.
uint32_t RSA_Verify(const SOFT_RSA_PUBKEY* pRSAPubKey, uint32_t nHashAlgID, const uint8_t* pRawHashData,
                    const uint8_t* pSignature, uint32_t sigLen);
// nPadingType 1: PKCS#1 v1.5 block type 2; otherwise the input unchanged.
uint32_t RSA_Encrypt(const SOFT_RSA_PUBKEY* pRSAPubKey, const uint8_t* pPlainData, uint32_t nPlainDataSize,
                     uint8_t* pEncryptedData, uint32_t* pEncryptedDataSize, uint32_t nPadingType);

// ---- SM2
uint32_t SM2_GetZVal(const uint8_t* pSM2PubKey, uint8_t* pZ);
uint32_t SM2_Verify(const uint8_t* pSM2PubKey, const uint8_t* pHashData, const uint8_t* pRawSignatureRS,
                    uint32_t nRawSignatureRSSize);
uint32_t SM2_Encrypt(const uint8_t* pSM2PubKey, const uint8_t* pPlainData, uint32_t inLen, uint8_t* pCipherData,
                     uint32_t* pCipherLen);

// ---- symmetric contexts
uint32_t SymEncryptInit(SYMKEY_CTX** ppCipherCtx, uint8_t AlgID, uint32_t mode, const uint8_t* pKey,
                        const uint8_t* pIV);
uint32_t SymDecryptInit(SYMKEY_CTX** ppCipherCtx, uint8_t AlgID, uint32_t mode, const uint8_t* pKey,
                        const uint8_t* pIV);
// Output room: dwSourceDataLen plus one block.
uint32_t SymKeyUpdate(SYMKEY_CTX* pCipherCtx, const uint8_t* pSourceData, uint32_t dwSourceDataLen,
                      uint8_t* pOutData, uint32_t* pOutDataLen);
// Output room: one block. Success frees the context.
uint32_t SymKeyFinal(SYMKEY_CTX* pCipherCtx, uint8_t* pOutData, uint32_t* pOutDataLen);
// Releases a context that was not finished (null is ignored).
void SymKeyFree(SYMKEY_CTX* pCipherCtx);

// ---- digest contexts
uint32_t Hash_Init(HASH_CTX** ppHashCtx, uint8_t nHashAlgid);
uint32_t Hash_Update(HASH_CTX* pHashCtx, const uint8_t* pData, uint32_t nLen);
// Output room: the id's digest length (64 bytes covers all). Success frees the context.
uint32_t Hash_Final(HASH_CTX* pHashCtx, uint8_t* pDigest, uint32_t* pLen);
// Releases a context that was not finished (null is ignored).
void Hash_Free(HASH_CTX* pHashCtx);
// One-shot MD5 (nAlg must be SOFT_HASH_MD5); output room 16 bytes.
uint32_t Hash_Digest(uint32_t nAlg, const uint8_t* pIndata, uint32_t nInlen, uint8_t* pOutdata, uint32_t* pOutlen);
