#pragma once
// Host symmetric key handle: a key copy and a host cipher context, used in
// cycles (Init, Update calls and Final, or one Encrypt). The one-shot
// static functions serve secure messaging, the session-key set-up and the
// external authentication: CBC under an all-zero IV with padding, whatever
// mode and IV the caller names.
#include <cstdint>

struct SYMKEY_CTX;

// Results of the handles.
#define SYMKEY_E_NULL_POINTER  0x80070101u  // no device context (card handle)
#define SYMKEY_E_NO_MEMORY     0x80070102u  // the handle could not be allocated
#define SYMKEY_E_TOO_SMALL     0x80070103u  // output room below the needed length (returned)
#define SYMKEY_E_BLOCKS        0x80070104u  // input not whole blocks; held bytes that do not fit the final step
#define SYMKEY_E_KEY_COPY      0x8007000Eu  // the key copy could not be allocated
#define SYMKEY_E_NOT_READY     0x80070113u  // no device context, or a handle that was never keyed
#define SYMKEY_E_ALGORITHM     0x80070114u  // algorithm not supported
#define SYMKEY_E_CRYPT_TYPE    0x80070116u  // crypt type other than 1 (encrypt) and 2 (decrypt)
#define SYMKEY_E_NO_KEY        0x80070210u  // Init without the key copy
#define SYMKEY_E_KEY_LENGTH    0x80070057u  // fewer key bytes than the algorithm needs
#define SYMKEY_E_BAD_PADDING   0x8000F525u  // bad padding after a decryption on the key

constexpr uint8_t SYMKEY_ENCRYPT = 1;
constexpr uint8_t SYMKEY_DECRYPT = 2;

class CSymKeyHandle {
public:
    CSymKeyHandle();
    virtual ~CSymKeyHandle();
    CSymKeyHandle(const CSymKeyHandle&) = delete;
    CSymKeyHandle& operator=(const CSymKeyHandle&) = delete;

    // A new handle keyed with the algorithm's key length from pKey and
    // started in that direction with padding; nothing is handed out on failure.
    static uint32_t Initialize(uint8_t AlgID, uint8_t byCryptType, uint8_t byMode, const uint8_t* pKey,
                               const uint8_t* pIV, CSymKeyHandle** ppHandle);

    // The whole cycle in one call, in the direction of the current cycle.
    // *pnOutLen: in the room at pOut, out the length written (or needed).
    virtual uint32_t Encrypt(const uint8_t* pIn, uint32_t inLen, uint8_t* pOut, uint32_t* pnOutLen);
    // Copies the algorithm's key length (8, 16 or 24 bytes); nKeyLen must cover it.
    virtual uint32_t SetKey(uint16_t wAlg, const uint8_t* pKey, uint32_t nKeyLen);
    // Starts a cycle: crypt type 1 encrypts, 2 decrypts; IV 16 bytes or null.
    // Any non-zero padding flag counts as 1.
    virtual uint32_t Init(uint8_t AlgID, uint8_t byCryptType, uint8_t byMode, const uint8_t* pIV, uint32_t nPadding);
    // Output room: inLen plus one block. *pnOutLen receives the length written.
    virtual uint32_t Update(const uint8_t* pIn, uint32_t inLen, uint8_t* pOut, uint32_t* pnOutLen);
    // Output room: one block. Ends the cycle.
    virtual uint32_t Final(uint8_t* pOut, uint32_t* pnOutLen);

    // Output room: inLen + 16. *pOutLen is the length written, 0 after a failure.
    static uint32_t Encrypt(uint8_t AlgID, uint32_t mode, const uint8_t* pKey, const uint8_t* pIV,
                            const uint8_t* pIn, uint32_t inLen, uint8_t* pOut, uint32_t* pOutLen);
    // Output room: inLen. The padding is checked and removed.
    static uint32_t Decrypt(uint8_t AlgID, uint32_t mode, const uint8_t* pKey, const uint8_t* pIV,
                            const uint8_t* pIn, uint32_t inLen, uint8_t* pOut, uint32_t* pOutLen);

    uint32_t GetBlockLen() const { return m_nBlockLen; }

protected:
    // Whether the final step of an encryption writes a block whatever the
    // padding flag (the host block ciphers do).
    bool FinalAlwaysPads() const;

    SYMKEY_CTX* m_pSymCtx;   // owned; null outside a cycle
    uint8_t m_bEncrypt;      // 1 while the cycle encrypts
    uint32_t m_nBlockLen;    // 0 until keyed
    uint32_t m_nPadding;     // 0 or 1
    uint8_t* m_pbSymmKey;    // owned copy of the key
    uint32_t m_nKeyLen;      // its length
};
