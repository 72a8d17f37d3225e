// The key-handle objects: digests on host hash handles, session keys on
// cipher handles (on the key for SM1 and SM4, on the host for triple DES),
// CBC-MACs sharing their session key's cipher.
#include "KeyObject.h"

#include <cstring>
#include <memory>
#include <new>

#include "APDUKey.h"
#include "ContainerKeyBlobs.h"
#include "DeviceContext.h"
#include "SarFromResult.h"
#include "GMSymKeyHandle.h"
#include "HashObject.h"
#include "SKFDevice.h"
#include "SymKeyHandle.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"KeyObject"

namespace {

struct SymmAlgorithm {
    ULONG id;        // GM/T 0006
    uint32_t alg;    // 16 SM1, 19 SM4, 4 triple DES
    uint32_t mode;   // 1 ECB, 2 CBC
    bool onKey;      // the key ciphers (card handle), else the host
    uint32_t blockLen;
    uint16_t word;   // the algorithm word given to SetKey
};

const SymmAlgorithm kSymmAlgorithms[] = {
    {0x00000101, 16, 1, true, 16, 0x1001},  {0x00000102, 16, 2, true, 16, 0x1002},
    {0x00000110, 16, 2, true, 16, 0x1002},  {0x00000401, 19, 1, true, 16, 0x1301},
    {0x00000402, 19, 2, true, 16, 0x1302},  {0x00000410, 19, 2, true, 16, 0x1302},
    {0x01000000, 4, 1, false, 8, 4},
};

constexpr uint32_t kCardKeyLen = 16;
constexpr uint32_t kTripleDesKeyLen = 24;

// The room of a buffer as the handles count it (ULONG and uint32_t are both
// 32-bit, but distinct types).
uint32_t Room(const ULONG* p) { return p ? uint32_t(*p) : 0; }

uint32_t BufferResult(uint32_t code) {
    if (code == SYMKEY_E_TOO_SMALL || code == HASHOBJ_E_TOO_SMALL) return SAR_BUFFER_TOO_SMALL;
    return code;
}

bool OnKey(CSymKeyHandle* handle) { return dynamic_cast<CGMSymKeyHandle*>(handle) != nullptr; }

}  // namespace

// ---- CKeyObject: every slot answers "not supported yet"

CKeyObject::CKeyObject(CDeviceContext* pDeviceContext) : m_pDeviceContext(pDeviceContext) {
    if (m_pDeviceContext) m_pDeviceContext->AttachOperator();
}
CKeyObject::~CKeyObject() {
    if (m_pDeviceContext) m_pDeviceContext->DetachOperator();
}
uint32_t CKeyObject::DigestUpdate(const BYTE*, ULONG) { return SKFNotSupported(); }
uint32_t CKeyObject::DigestFinal(BYTE*, ULONG*) { return SKFNotSupported(); }
uint32_t CKeyObject::Digest(const BYTE*, ULONG, BYTE*, ULONG*) { return SKFNotSupported(); }
uint32_t CKeyObject::EncInit(ULONG, const BLOCKCIPHERPARAM*) { return SKFNotSupported(); }
uint32_t CKeyObject::EncUpdate(const BYTE*, ULONG, BYTE*, ULONG*) { return SKFNotSupported(); }
uint32_t CKeyObject::EncFinal(BYTE*, ULONG*) { return SKFNotSupported(); }
uint32_t CKeyObject::Encrypt(const BYTE*, ULONG, BYTE*, ULONG*) { return SKFNotSupported(); }
uint32_t CKeyObject::MacInit(BLOCKCIPHERPARAM*, HANDLE*) { return SKFNotSupported(); }
uint32_t CKeyObject::MacUpdate(const BYTE*, ULONG) { return SKFNotSupported(); }
uint32_t CKeyObject::MacFinal(BYTE*, ULONG*) { return SKFNotSupported(); }
uint32_t CKeyObject::Mac(const BYTE*, ULONG, BYTE*, ULONG*) { return SKFNotSupported(); }
uint32_t CKeyObject::GenerateKeyWithECC(ECCPUBLICKEYBLOB*, ECCPUBLICKEYBLOB*, BYTE*, ULONG, HANDLE*) {
    return SKFNotSupported();
}

// ---- CDigestObject

CDigestObject::CDigestObject(CDeviceContext* pDeviceContext) : CKeyObject(pDeviceContext), m_pHashHandle(nullptr) {}

CDigestObject::~CDigestObject() {
    delete m_pHashHandle;
    CDeviceContext::TraceInfo(L"CDigestObject: Destructor");
}

uint32_t CDigestObject::DigestInit(uint8_t byHashID) {
    TRACE_NAME(L"CDigestObject::DigestInit");
    uint32_t hr = 0;
    delete m_pHashHandle;
    m_pHashHandle = nullptr;
    hr = CHashObject::Initialize(byHashID, &m_pHashHandle);
    CHECK_GOTO(hr != 0, L"VM_HASH_OBJECT::Initialize", hr);
    CHECK_GOTO(!m_pHashHandle, L"NULL == pHashObject", SAR_MEMORYERR);
exit:
    return hr;
}

uint32_t CDigestObject::DigestUpdate(const BYTE* pbData, ULONG ulDataLen) {
    if (!m_pHashHandle) return SAR_INVALIDHANDLEERR;
    return m_pHashHandle->Update(pbData, ulDataLen);
}

uint32_t CDigestObject::DigestFinal(BYTE* pbHash, ULONG* pulHashLen) {
    if (!m_pHashHandle) return SAR_INVALIDHANDLEERR;
    uint32_t len = Room(pulHashLen);
    const uint32_t hr = m_pHashHandle->Final(pbHash, &len);
    *pulHashLen = len;
    return BufferResult(hr);
}

uint32_t CDigestObject::Digest(const BYTE* pbData, ULONG ulDataLen, BYTE* pbHash, ULONG* pulHashLen) {
    if (!m_pHashHandle) return SAR_INVALIDHANDLEERR;
    uint32_t len = Room(pulHashLen);
    const uint32_t hr = m_pHashHandle->Digest(pbData, ulDataLen, pbHash, &len);
    *pulHashLen = len;
    return BufferResult(hr);
}

// ---- CSymKeyObject

CSymKeyObject::CSymKeyObject(CDeviceContext* pDeviceContext)
    : CKeyObject(pDeviceContext), m_ulAlg(0), m_pCipher(nullptr), m_ulMode(0), m_nBlockLen(0) {
    CDeviceContext::TraceInfo(L"CSymKeyObject: Constructor");
}

CSymKeyObject::~CSymKeyObject() {
    ReleaseCipher();
    CDeviceContext::TraceInfo(L"CSymKeyObject: Destructor");
}

void CSymKeyObject::ReleaseCipher() {
    if (m_pCipher && --m_pCipher->owners == 0) {
        delete m_pCipher->handle;
        delete m_pCipher;
    }
    m_pCipher = nullptr;
}

uint32_t CSymKeyObject::SetSymmKey(ULONG ulAlgID, const BYTE* pbKey) {
    TRACE_NAME(L"CSymKeyObject::SetSymmKey");
    uint32_t hr = 0;
    const SymmAlgorithm* entry = nullptr;
    CSymKeyHandle* handle = nullptr;
    ReleaseCipher();
    for (const SymmAlgorithm& row : kSymmAlgorithms)
        if (row.id == ulAlgID) entry = &row;
    CHECK_GOTO(!entry, L"CHECK ulAlgID", SAR_NOTSUPPORTYETERR);
    m_nBlockLen = entry->blockLen;
    if (entry->onKey)
        handle = new (std::nothrow) CGMSymKeyHandle(m_pDeviceContext);
    else
        handle = new (std::nothrow) CSymKeyHandle();
    CHECK_GOTO(!handle, entry->onKey ? L"new CGMSymKeyHandle" : L"new CSymKeyHandle", SAR_MEMORYERR);
    m_pCipher = new (std::nothrow) SharedCipher{handle, {1}};
    if (!m_pCipher) delete handle;
    CHECK_GOTO(!m_pCipher, L"new SharedCipher", SAR_MEMORYERR);
    m_ulAlg = entry->alg;
    m_ulMode = entry->mode;
    if (!pbKey) goto exit;
    // The card handle imports 16 key bytes into the key; the host's triple
    // DES reads the 24 bytes of its three keys.
    hr = handle->SetKey(entry->word, pbKey, entry->onKey ? kCardKeyLen : kTripleDesKeyLen);
    CHECK_GOTO(hr != 0, L"SetKey", hr);
exit:
    return hr;
}

uint32_t CSymKeyObject::EncInit(ULONG ulDirection, const BLOCKCIPHERPARAM* pParam) {
    TRACE_NAME(L"CSymKeyObject::EncInit");
    uint32_t hr = 0;
    CHECK_GOTO(!(pParam->IVLen == 0 || pParam->IVLen == 16), L"!(0 == pEncryptParam->IVLen || 16 == pEncryptParam->IVLen)",
               SAR_INVALIDPARAMERR);
    CHECK_GOTO(!Cipher(), L"NULL == m_pSymKeyHandle", SAR_INVALIDHANDLEERR);
    hr = Cipher()->Init(uint8_t(m_ulAlg), ulDirection == 1 ? SYMKEY_ENCRYPT : SYMKEY_DECRYPT, uint8_t(m_ulMode),
                        pParam->IVLen ? pParam->IV : nullptr, pParam->PaddingType);
    CHECK_GOTO(hr != 0, L"m_pSymKeyHandle->Init", hr);
exit:
    return hr;
}

uint32_t CSymKeyObject::EncUpdate(const BYTE* pbIn, ULONG ulInLen, BYTE* pbOut, ULONG* pulOutLen) {
    TRACE_NAME(L"CSymKeyObject::EncUpdate");
    uint32_t hr = 0;
    uint32_t len = Room(pulOutLen);
    CHECK_GOTO(!Cipher(), L"NULL == m_pSymKeyHandle", SAR_INVALIDHANDLEERR);
    if (OnKey(Cipher())) {
        // The card handle checks the room and answers the needed length.
        hr = BufferResult(Cipher()->Update(pbIn, ulInLen, pbOut, &len));
        *pulOutLen = len;
        CHECK_GOTO(hr != 0, L"m_pSymKeyHandle->Update", hr);
    } else {
        // The host cipher writes up to the input and one block: it works in
        // a scratch area, and the caller's room is checked before any copy.
        CHECK_GOTO(ulInLen > 0x7FFFFFF0u, L"CHECK ulDataLen", SAR_INDATALENERR);
        if (!pbOut) {
            *pulOutLen = ulInLen + m_nBlockLen;
            goto exit;
        }
        std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[ulInLen + m_nBlockLen]);
        CHECK_GOTO(!scratch, L"new scratch", 0x8007000Eu);
        uint32_t written = ulInLen + m_nBlockLen;
        hr = Cipher()->Update(pbIn, ulInLen, scratch.get(), &written);
        CHECK_GOTO(hr != 0, L"m_pSymKeyHandle->Update", hr);
        if (len < written) {
            *pulOutLen = written;
            CHECK_GOTO(true, L"CHECK *pulOutLen", SAR_BUFFER_TOO_SMALL);
        }
        memcpy(pbOut, scratch.get(), written);
        *pulOutLen = written;
    }
exit:
    return hr;
}

uint32_t CSymKeyObject::EncFinal(BYTE* pbOut, ULONG* pulOutLen) {
    TRACE_NAME(L"CSymKeyObject::EncFinal");
    uint32_t hr = 0;
    uint32_t len = Room(pulOutLen);
    CHECK_GOTO(!Cipher(), L"NULL == m_pSymKeyHandle", SAR_INVALIDHANDLEERR);
    if (OnKey(Cipher())) {
        // The caller's room goes to the handle, which refuses a short one
        // with the needed length and writes nothing.
        hr = BufferResult(Cipher()->Final(pbOut, &len));
        *pulOutLen = len;
        CHECK_GOTO(hr != 0, L"m_pSymKeyHandle->Final", hr);
    } else {
        // The host's final step writes at most one block, which the caller
        // must have room for before the cycle ends.
        if (!pbOut || len < m_nBlockLen) {
            *pulOutLen = m_nBlockLen;
            CHECK_GOTO(pbOut != nullptr, L"CHECK *pulOutLen", SAR_BUFFER_TOO_SMALL);
            goto exit;
        }
        uint8_t block[32] = {};
        uint32_t written = sizeof block;
        hr = Cipher()->Final(block, &written);
        CHECK_GOTO(hr != 0, L"m_pSymKeyHandle->Final", hr);
        CHECK_GOTO(written > len, L"CHECK written", SAR_FAIL);
        memcpy(pbOut, block, written);
        *pulOutLen = written;
    }
exit:
    return hr;
}

uint32_t CSymKeyObject::Encrypt(const BYTE* pbIn, ULONG ulInLen, BYTE* pbOut, ULONG* pulOutLen) {
    TRACE_NAME(L"CSymKeyObject::Encrypt");
    uint32_t hr = 0;
    uint32_t len = Room(pulOutLen);
    CHECK_GOTO(!Cipher(), L"NULL == m_pSymKeyHandle", SAR_INVALIDHANDLEERR);
    hr = BufferResult(Cipher()->Encrypt(pbIn, ulInLen, pbOut, &len));
    *pulOutLen = len;
    CHECK_GOTO(hr != 0, L"m_pSymKeyHandle->Encrypt", hr);
exit:
    return hr;
}

uint32_t CSymKeyObject::MacInit(BLOCKCIPHERPARAM* pParam, HANDLE* phMac) {
    TRACE_NAME(L"CSymKeyObject::MacInit");
    uint32_t hr = 0;
    CMacKeyObject* mac = nullptr;
    pParam->PaddingType = 0;
    CHECK_GOTO(!m_pDeviceContext, L"NULL == pDeviceContext", SAR_INVALIDHANDLEERR);
    CHECK_GOTO(!Cipher(), L"NULL == m_pSymKeyHandle", SAR_INVALIDHANDLEERR);
    mac = new (std::nothrow) CMacKeyObject(m_pDeviceContext);
    CHECK_GOTO(!mac, L"NULL == pMacKey", SAR_MEMORYERR);
    mac->ShareCipher(m_pCipher, m_ulAlg, m_nBlockLen);
    hr = mac->EncInit(1, pParam);
    if (hr != 0) delete mac;
    CHECK_GOTO(hr != 0, L"pMacKey->EncInit", hr);
    *phMac = static_cast<CKeyObject*>(mac);
exit:
    return hr;
}

// ---- CMacKeyObject

CMacKeyObject::CMacKeyObject(CDeviceContext* pDeviceContext)
    : CSymKeyObject(pDeviceContext), m_nBuffered(0), m_abyLast{} {
    m_ulMode = 2;
}

CMacKeyObject::~CMacKeyObject() { memset(m_abyLast, 0, sizeof m_abyLast); }

void CMacKeyObject::ShareCipher(SharedCipher* pCipher, uint32_t ulAlg, uint32_t nBlockLen) {
    ReleaseCipher();
    ++pCipher->owners;
    m_pCipher = pCipher;
    m_ulAlg = ulAlg;
    m_nBlockLen = nBlockLen;
}

uint32_t CMacKeyObject::MacUpdate(const BYTE* pbData, ULONG ulDataLen) {
    TRACE_NAME(L"CMacKeyObject::MacUpdate");
    uint32_t hr = 0;
    std::unique_ptr<uint8_t[]> scratch;
    ULONG room = 0;
    if (ulDataLen == 0) goto exit;  // nothing to chain
    CHECK_GOTO(ulDataLen % m_nBlockLen != 0, L"0 != ulDataLen % m_nBlockLen", SAR_INDATALENERR);
    CHECK_GOTO(ulDataLen > 0x7FFFFFF0u, L"CHECK ulDataLen", SAR_INDATALENERR);
    scratch.reset(new (std::nothrow) uint8_t[ulDataLen + m_nBlockLen]);
    CHECK_GOTO(!scratch, L"new scratch", 0x8007000Eu);
    if (m_nBuffered) {
        room = ulDataLen + m_nBlockLen;
        hr = EncUpdate(m_abyLast, m_nBlockLen, scratch.get(), &room);
        CHECK_GOTO(hr != 0, L"EncUpdate", hr);
        m_nBuffered = 0;
    }
    if (ulDataLen > m_nBlockLen) {
        room = ulDataLen + m_nBlockLen;
        hr = EncUpdate(pbData, ulDataLen - m_nBlockLen, scratch.get(), &room);
        CHECK_GOTO(hr != 0, L"EncUpdate", hr);
    }
    memcpy(m_abyLast, pbData + ulDataLen - m_nBlockLen, m_nBlockLen);
    m_nBuffered = m_nBlockLen;
exit:
    return hr;
}

uint32_t CMacKeyObject::MacFinal(BYTE* pbMac, ULONG* pulMacLen) {
    TRACE_NAME(L"CMacKeyObject::MacFinal");
    uint32_t hr = 0;
    uint8_t out[3 * 32] = {};
    ULONG updateLen = 2 * 32;
    ULONG finalLen = 32;
    if (!pbMac) {
        *pulMacLen = m_nBlockLen;
        TRACE_STEP(L"CHECK pbMacData");
        goto exit;
    }
    if (*pulMacLen < m_nBlockLen) {
        *pulMacLen = m_nBlockLen;
        CHECK_GOTO(true, L"*pulMacDataLen < m_nBlockLen", SAR_BUFFER_TOO_SMALL);
    }
    // Without a MacUpdate the buffer holds the all-zero block.
    hr = EncUpdate(m_abyLast, m_nBlockLen, out, &updateLen);
    CHECK_GOTO(hr != 0, L"EncUpdate", hr);
    hr = EncFinal(out + updateLen, &finalLen);
    CHECK_GOTO(hr != 0, L"EncFinal", hr);
    // The MAC is the ciphertext of the last data block. The host's ciphers
    // end an encryption with a padding block whatever the padding flag, so
    // the final step's output counts only when the update held the block back.
    if (updateLen >= m_nBlockLen) {
        memcpy(pbMac, out + updateLen - m_nBlockLen, m_nBlockLen);
    } else {
        CHECK_GOTO(updateLen + finalLen < m_nBlockLen, L"CHECK cipher output", SAR_FAIL);
        memcpy(pbMac, out + updateLen + finalLen - m_nBlockLen, m_nBlockLen);
    }
    *pulMacLen = m_nBlockLen;
    m_nBuffered = 0;
    memset(m_abyLast, 0, sizeof m_abyLast);
exit:
    return hr;
}

uint32_t CMacKeyObject::Mac(const BYTE* pbData, ULONG ulDataLen, BYTE* pbMac, ULONG* pulMacLen) {
    TRACE_NAME(L"CMacKeyObject::Mac");
    uint32_t hr = 0;
    if (!pbMac) {
        *pulMacLen = m_nBlockLen;
        goto exit;
    }
    if (*pulMacLen < m_nBlockLen) {
        *pulMacLen = m_nBlockLen;
        CHECK_GOTO(true, L"*pulMacLen < m_nBlockLen", SAR_BUFFER_TOO_SMALL);
    }
    hr = MacUpdate(pbData, ulDataLen);
    CHECK_GOTO(hr != 0, L"MacUpdate", hr);
    hr = MacFinal(pbMac, pulMacLen);
    CHECK_GOTO(hr != 0, L"MacFinal", hr);
exit:
    return hr;
}

// ---- key agreement

namespace {
constexpr uint32_t kMaxCoordinate = 64;
constexpr uint32_t kCommandData = 256;  // the data field of the agreement commands
}  // namespace

uint16_t SKFAgreementWord(ULONG ulAlgId) {
    switch (ulAlgId) {
        case 0x00000101:
        case 0x00000102:
            return uint16_t(0x1000 | (ulAlgId & 0xFF));
        case 0x00000401:
        case 0x00000402:
            return uint16_t(0x1300 | (ulAlgId & 0xFF));
        default:
            return 0;
    }
}

uint32_t SKFEncodeAgreementKey(const ECCPUBLICKEYBLOB* pBlob, uint8_t* pOut, uint32_t* pnLen) {
    const uint32_t n = pBlob->BitLen / 8;
    if (n > kMaxCoordinate) return SAR_INDATALENERR;
    StoreBE32(pOut, pBlob->BitLen);
    memcpy(pOut + 4, pBlob->XCoordinate + kMaxCoordinate - n, n);
    memcpy(pOut + 4 + n, pBlob->YCoordinate + kMaxCoordinate - n, n);
    *pnLen = 4 + 2 * n;
    return 0;
}

uint32_t SKFDecodeAgreementReply(const uint8_t* pReply, uint32_t nReplyLen, ECCPUBLICKEYBLOB* pBlob,
                                 uint32_t* pnAgreementID) {
    if (nReplyLen < 4) return SAR_INDATALENERR;
    const uint32_t bits = uint32_t(pReply[0]) << 24 | uint32_t(pReply[1]) << 16 | uint32_t(pReply[2]) << 8 | pReply[3];
    const uint32_t n = bits / 8;
    if (n > kMaxCoordinate || nReplyLen < 8 + 2 * n) return SAR_INDATALENERR;
    memset(pBlob, 0, sizeof *pBlob);
    pBlob->BitLen = bits;
    memcpy(pBlob->XCoordinate + kMaxCoordinate - n, pReply + 4, n);
    memcpy(pBlob->YCoordinate + kMaxCoordinate - n, pReply + 4 + n, n);
    const uint8_t* id = pReply + 4 + 2 * n;
    if (pnAgreementID) *pnAgreementID = uint32_t(id[0]) << 24 | uint32_t(id[1]) << 16 | uint32_t(id[2]) << 8 | id[3];
    return 0;
}

uint32_t CAgreementObject::GenerateKeyWithECC(ECCPUBLICKEYBLOB* pPubKey, ECCPUBLICKEYBLOB* pTempPubKey, BYTE* pbID,
                                              ULONG ulIDLen, HANDLE* phKey) {
    TRACE_NAME(L"CAgreementObject::GenerateKeyWithECC");
    uint32_t hr = 0;
    uint8_t key[4 + 2 * kMaxCoordinate];
    uint8_t tempKey[4 + 2 * kMaxCoordinate];
    uint32_t keyLen = 0;
    uint32_t tempKeyLen = 0;
    uint32_t answer = 0;
    CSymKeyObject* pSymKey = nullptr;
    CHECK_GOTO(!m_pDeviceContext, L"NULL == pDeviceContext", SAR_INVALIDHANDLEERR);
    CHECK_GOTO(!m_pDeviceContext->GetDeviceHandle(), L"NULL == pDeviceHandle", SAR_INVALIDHANDLEERR);
    CHECK_GOTO(!m_pDeviceContext->GetAPDUKey(), L"NULL == pApduKey", 0x80070101u);
    hr = SKFEncodeAgreementKey(pPubKey, key, &keyLen);
    CHECK_GOTO(hr != 0, L"CHECK pECCPubKeyBlob->BitLen", hr);
    hr = SKFEncodeAgreementKey(pTempPubKey, tempKey, &tempKeyLen);
    CHECK_GOTO(hr != 0, L"CHECK pTempECCPubKeyBlob->BitLen", hr);
    // The command's data: 0, file id, agreement id, the two keys, the ID
    // with its length; an ID that overflows it is refused here.
    CHECK_GOTO(ulIDLen > kCommandData || 12 + keyLen + tempKeyLen + ulIDLen > kCommandData, L"CHECK ulIDLen",
               SAR_INDATALENERR);
    pSymKey = new (std::nothrow) CSymKeyObject(m_pDeviceContext);
    CHECK_GOTO(!pSymKey, L"NULL == pSymKeyObject", SAR_MEMORYERR);
    TRACE_STEP(L"new SKF_AGREEMENT_OBJECT");
    hr = FoldObjectResult(m_pDeviceContext->GetAPDUKey()->GenerateKeyWithECC(m_nKeyFID, m_nAgreementID, key, keyLen,
                                                                            tempKey, tempKeyLen, pbID, ulIDLen,
                                                                            &answer));
    CHECK_GOTO(hr != 0, L"pApduKey->GenerateKeyWithECC", hr);
    hr = pSymKey->SetSymmKey(m_ulAlgId, nullptr);
    CHECK_GOTO(hr != 0, L"pSymKeyObject->SetSymmKey", hr);
    *phKey = static_cast<CKeyObject*>(pSymKey);
    pSymKey = nullptr;
exit:
    delete pSymKey;
    return hr;
}
