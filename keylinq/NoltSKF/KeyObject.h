#pragma once
// The objects behind the key HANDLEs: digests, session keys, MACs and key
// agreements. A key handle is the address of its CKeyObject. Each object
// counts on its device context (a device with open key handles is not
// disconnected) and does no cryptography itself: a digest drives a host
// hash handle, a session key or MAC a cipher handle on the host or on the
// key. Every operation that a class does not implement answers "not
// supported yet", so a handle of the wrong kind is refused by that code.
#include <atomic>
#include <cstdint>

#include "SKFApi.h"

class CDeviceContext;
class CHashObject;
class CSymKeyHandle;

class CKeyObject {
public:
    explicit CKeyObject(CDeviceContext* pDeviceContext);
    virtual ~CKeyObject();
    CKeyObject(const CKeyObject&) = delete;
    CKeyObject& operator=(const CKeyObject&) = delete;

    virtual uint32_t DigestUpdate(const BYTE* pbData, ULONG ulDataLen);
    virtual uint32_t DigestFinal(BYTE* pbHash, ULONG* pulHashLen);
    virtual uint32_t Digest(const BYTE* pbData, ULONG ulDataLen, BYTE* pbHash, ULONG* pulHashLen);
    virtual uint32_t EncInit(ULONG ulDirection, const BLOCKCIPHERPARAM* pParam);
    virtual uint32_t EncUpdate(const BYTE* pbIn, ULONG ulInLen, BYTE* pbOut, ULONG* pulOutLen);
    virtual uint32_t EncFinal(BYTE* pbOut, ULONG* pulOutLen);
    virtual uint32_t Encrypt(const BYTE* pbIn, ULONG ulInLen, BYTE* pbOut, ULONG* pulOutLen);
    virtual uint32_t MacInit(BLOCKCIPHERPARAM* pParam, HANDLE* phMac);
    virtual uint32_t MacUpdate(const BYTE* pbData, ULONG ulDataLen);
    virtual uint32_t MacFinal(BYTE* pbMac, ULONG* pulMacLen);
    virtual uint32_t Mac(const BYTE* pbData, ULONG ulDataLen, BYTE* pbMac, ULONG* pulMacLen);
    virtual uint32_t GenerateKeyWithECC(ECCPUBLICKEYBLOB* pPubKey, ECCPUBLICKEYBLOB* pTempPubKey, BYTE* pbID,
                                        ULONG ulIDLen, HANDLE* phKey);

    CDeviceContext* GetDeviceContext() const { return m_pDeviceContext; }

protected:
    CDeviceContext* m_pDeviceContext;  // not owned
};

class CDigestObject : public CKeyObject {
public:
    explicit CDigestObject(CDeviceContext* pDeviceContext);
    ~CDigestObject() override;

    // A new hash handle for the hash id (18 SM3, 11 SHA-1, 12 SHA-256).
    uint32_t DigestInit(uint8_t byHashID);
    uint32_t DigestUpdate(const BYTE* pbData, ULONG ulDataLen) override;
    uint32_t DigestFinal(BYTE* pbHash, ULONG* pulHashLen) override;
    uint32_t Digest(const BYTE* pbData, ULONG ulDataLen, BYTE* pbHash, ULONG* pulHashLen) override;

private:
    CHashObject* m_pHashHandle;  // owned
};

// A cipher handle shared by a session key and the MACs made from it: the
// last owner to go destroys it.
struct SharedCipher {
    CSymKeyHandle* handle;
    std::atomic<uint32_t> owners;
};

class CSymKeyObject : public CKeyObject {
public:
    explicit CSymKeyObject(CDeviceContext* pDeviceContext);
    ~CSymKeyObject() override;

    // Sets the object up for a GM/T 0006 algorithm id: the cipher handle of
    // the algorithm, keyed with pbKey unless it is null (a key already in
    // the key). An unknown id: SAR_NOTSUPPORTYETERR and no cipher.
    uint32_t SetSymmKey(ULONG ulAlgID, const BYTE* pbKey);

    uint32_t EncInit(ULONG ulDirection, const BLOCKCIPHERPARAM* pParam) override;
    uint32_t EncUpdate(const BYTE* pbIn, ULONG ulInLen, BYTE* pbOut, ULONG* pulOutLen) override;
    uint32_t EncFinal(BYTE* pbOut, ULONG* pulOutLen) override;
    uint32_t Encrypt(const BYTE* pbIn, ULONG ulInLen, BYTE* pbOut, ULONG* pulOutLen) override;
    uint32_t MacInit(BLOCKCIPHERPARAM* pParam, HANDLE* phMac) override;

protected:
    void ReleaseCipher();
    CSymKeyHandle* Cipher() const { return m_pCipher ? m_pCipher->handle : nullptr; }

    uint32_t m_ulAlg;        // 16 SM1, 19 SM4, 4 triple DES
    SharedCipher* m_pCipher;  // null until set up
    uint32_t m_ulMode;       // 1 ECB, 2 CBC
    uint32_t m_nBlockLen;    // 16, or 8 for triple DES
};

class CMacKeyObject : public CSymKeyObject {
public:
    explicit CMacKeyObject(CDeviceContext* pDeviceContext);
    ~CMacKeyObject() override;

    // Shares the session key's cipher (counted: the session key may be
    // closed first).
    void ShareCipher(SharedCipher* pCipher, uint32_t ulAlg, uint32_t nBlockLen);
    uint32_t MacUpdate(const BYTE* pbData, ULONG ulDataLen) override;
    uint32_t MacFinal(BYTE* pbMac, ULONG* pulMacLen) override;
    uint32_t Mac(const BYTE* pbData, ULONG ulDataLen, BYTE* pbMac, ULONG* pulMacLen) override;

private:
    uint32_t m_nBuffered;  // 0 or m_nBlockLen
    BYTE m_abyLast[32];    // the last block received
};

// The sponsor's side of an SM2 key agreement between its two steps.
class CAgreementObject : public CKeyObject {
public:
    CAgreementObject(CDeviceContext* pDeviceContext, ULONG ulAlgId, uint16_t nKeyFID, uint32_t nAgreementID)
        : CKeyObject(pDeviceContext), m_ulAlgId(ulAlgId), m_nKeyFID(nKeyFID), m_nAgreementID(nAgreementID) {}

    // The key derives the session key from the responder's keys and keeps
    // it; the new session-key object drives the key's cipher with it.
    uint32_t GenerateKeyWithECC(ECCPUBLICKEYBLOB* pPubKey, ECCPUBLICKEYBLOB* pTempPubKey, BYTE* pbID, ULONG ulIDLen,
                                HANDLE* phKey) override;

private:
    ULONG m_ulAlgId;
    uint16_t m_nKeyFID;
    uint32_t m_nAgreementID;
};

// The key's form of a public key: BitLen (big-endian), X, Y of BitLen / 8
// bytes each, into pOut (room 4 + 128). SAR_INDATALENERR above 512 bits.
uint32_t SKFEncodeAgreementKey(const ECCPUBLICKEYBLOB* pBlob, uint8_t* pOut, uint32_t* pnLen);
// The key's agreement reply (BitLen, X, Y, agreement id) into a whole
// ECCPUBLICKEYBLOB; SAR_INDATALENERR for a reply that does not fit it or
// is shorter than its fields.
uint32_t SKFDecodeAgreementReply(const uint8_t* pReply, uint32_t nReplyLen, ECCPUBLICKEYBLOB* pBlob,
                                 uint32_t* pnAgreementID);
// The algorithm word of the key's agreement commands; 0 for an id it does not agree.
uint16_t SKFAgreementWord(ULONG ulAlgId);

// Answers a handle that is live with the kind Key as its object.
inline CKeyObject* KeyObjectFromHandle(HANDLE hKey) { return static_cast<CKeyObject*>(hKey); }
// Destroys the object of a closed key handle (the handle set's destroy).
inline void DestroyKeyObject(const void* handle) { delete static_cast<const CKeyObject*>(handle); }
