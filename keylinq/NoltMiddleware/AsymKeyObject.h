#pragma once
// A private key kept in a key file on the key: signing and decrypting on the
// key with the authorisation code that the last PIN verification left in the
// device handle, encrypting and verifying on the host with the public key
// read from the key. Made by CDeviceOperator::NewAsymKey; the caller owns it
// and destroys it before the device context goes.
#include <cstdint>

class CDeviceContext;

// Result codes of the key objects.
#define ASYM_E_NO_DEVICE     0x80070113u  // no device context in the object
#define ASYM_E_TOO_SMALL     0x80070103u  // output capacity below what the operation writes
#define ASYM_E_BAD_LENGTH    0x80070104u  // input or hash length not accepted
#define ASYM_E_BAD_ALGID     0x80070114u  // unsupported hash id
#define ASYM_E_ENCRYPT       0x80070211u  // host encryption failed
#define ASYM_E_VERIFY        0x80070212u  // host verification failed
#define ASYM_NOT_SUPPORTED   0x108u       // a slot of the base class

// Operation codes of GetOutLen.
constexpr uint8_t ASYM_OP_ENCRYPT = 1;
constexpr uint8_t ASYM_OP_DECRYPT = 2;
constexpr uint8_t ASYM_OP_SIGN = 4;
constexpr uint8_t ASYM_OP_SIGN_SM2 = 8;

class CAsymKeyObject {
public:
    CAsymKeyObject() = default;
    virtual ~CAsymKeyObject() = default;
    CAsymKeyObject(const CAsymKeyObject&) = delete;
    CAsymKeyObject& operator=(const CAsymKeyObject&) = delete;

    virtual void SetDevCtx(CDeviceContext* pDevCtx) { m_pDevCtx = pDevCtx; }
    virtual CDeviceContext* GetDevCtx() { return m_pDevCtx; }
    virtual void SetKeyFID(uint16_t nKeyFID) { m_nKeyFID = nKeyFID; }
    virtual uint16_t GetKeyFID() { return m_nKeyFID; }
    virtual uint8_t GetAlgID() { return m_byAlgID; }
    virtual void SetAlgID(uint8_t byAlgID) { m_byAlgID = byAlgID; }
    // The output length of an operation for an input length; 0 when the
    // input admits no output.
    virtual uint32_t GetOutLen(uint8_t byOperation, uint32_t nInLen);
    // An in/out length holds the output's capacity on entry and the length
    // written on return.
    virtual uint32_t Decrypt(const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen);
    virtual uint32_t SignDisp(uint8_t byHashAlgID, const uint8_t* pbyData, uint32_t nDataLen, uint8_t* pbyOut,
                              uint32_t* pnOutLen);
    virtual uint32_t SignDigest(const uint8_t* pbyDigest, uint32_t nDigestLen, uint8_t* pbyOut, uint32_t* pnOutLen);
    virtual uint32_t Encrypt(const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen);
    virtual uint32_t Verify(uint8_t byHashAlgID, const uint8_t* pbyHash, uint32_t nHashLen,
                            const uint8_t* pbySignature, uint32_t nSignatureLen);

    // Size check, session key, then SignDigest / Decrypt on the key. There is
    // no size query: the output must be present.
    uint32_t PrikeySign(uint8_t byHashAlgID, const uint8_t* pbyData, uint32_t nDataLen, uint8_t* pbyOut,
                        uint32_t* pnOutLen);
    uint32_t PrikeyDec(const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen);

protected:
    // The authorisation code of the device handle (16 bytes), or null.
    const uint8_t* AuthCode() const;

    CDeviceContext* m_pDevCtx = nullptr;  // not owned
    uint16_t m_nKeyFID = 0;
    uint8_t m_byAlgID = 0;

private:
    uint32_t Prikey(uint8_t byOperation, const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen);
};
