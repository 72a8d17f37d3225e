#pragma once
// Cryptography the key access layer does on the host rather than on the
// key, to carry a server-made SM2 encryption key pair into the key: a
// temporary SM2 key pair, SM2 encryption and decryption in the key's
// ciphertext orders, and SM4 in ECB mode.
#include <windows.h>

#include <cstdint>

constexpr DWORD SM2_KEY_SIZE = 32;         // private key d
constexpr DWORD SM2_PUBLIC_KEY_SIZE = 64;  // X || Y
// Ciphertexts of the key's forms: x1 || y1 and the 32-byte check value C3
// around the masked message C2, without the raw form's 0x04 byte.
constexpr DWORD SM2_CIPHER_FIXED_SIZE = 96;

// An SM2 key pair held on the host. The record and its two buffers are
// allocated with new; the owner frees the buffers and the record.
struct SM2KeyHandle {
    BYTE* pbPublicKey;        // X then Y, 32 bytes each, big-endian
    DWORD dwPublicKeySize;    // 64
    BYTE* pbPrivateKey;       // d, big-endian
    DWORD dwPrivateKeySize;   // 32
};

// State of one SM4 ECB encryption.
struct SM4ECBContext {
    DWORD dwBlockSize;     // always 16
    DWORD dwPadding;       // 0 none, otherwise the last block is padded
    uint32_t rk[32];       // round keys
    BYTE byPending[16];    // input not yet encrypted
    DWORD dwPendingSize;   // 0 to 15
};

// 1, or 0 for a NULL argument.
int SM4ECBInit(const BYTE* pbyKey, SM4ECBContext* pContext, int nPadding);
// Encrypts the whole blocks that pending and new input make; the rest is
// kept. *pnOutLen receives the bytes written. 1, or 0 for a NULL argument.
int SM4ECBUpdate(SM4ECBContext* pContext, const BYTE* pbyIn, int nInLen, BYTE* pbyOut, int* pnOutLen);
// Without padding: nothing pending gives 0 bytes, pending input fails (0).
// With padding: one last block padded with (16 - pending) bytes of that value.
int SM4ECBFinal(SM4ECBContext* pContext, BYTE* pbyOut, int* pnOutLen);

class SKFExtCipher {
public:
    // A new SM2 key pair whose X and Y both fill 32 bytes (no leading zero byte).
    static HRESULT CreateKeyHandle(SM2KeyHandle** ppKeyHandle);
    // 16 bytes of plaintext to (X, Y): 112 bytes of x1 || y1 || C3 || C2.
    static HRESULT SM2Encrypt(const BYTE* pbyPlainData, const BYTE* pbyPubKeyX, const BYTE* pbyPubKeyY,
                              BYTE** ppbyEncryptedData, DWORD* pdwEncryptedDataSize);
    // Ciphertext as x1 || y1 || C3 || C2 or x1 || y1 || C2 || C3; the
    // plaintext has the size - 96 bytes.
    static HRESULT SM2Decrypt(const BYTE* pbyEncryptedData, DWORD dwEncryptedDataSize, const BYTE* pbyPrivateKey,
                              DWORD dwPrivateKeySize, BYTE** ppbyPlainData, DWORD* pdwPlainDataSize);
    // Whole blocks only, no padding: the output is as long as the input.
    static HRESULT SM4EncryptDataECB(const BYTE* pbySourceData, int nSourceDataSize, const BYTE* pbyKey, int nKeyLen,
                                     BYTE** ppbyEncryptedData, int* pnEncryptedDataSize);
};

#ifdef SKFCRYPTOKERNEL_TEST_SEAM
// Tests only: replaces the SM2 key-pair generator (null restores the core's).
using SM2KeyPairGenerator = int (*)(unsigned char d[32], unsigned char X[32], unsigned char Y[32]);
void SetSM2KeyPairGeneratorForTest(SM2KeyPairGenerator generator);
#endif
