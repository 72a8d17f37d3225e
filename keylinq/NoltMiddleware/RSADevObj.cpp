// An RSA private key on the key: the raw private-key operation on the key
// for decryption and signatures (padding added on the host), encryption and
// verification on the host.
#include "RSADevObj.h"

#include <cstring>

#include "APDUCrypto.h"
#include "APDUKey.h"
#include "DeviceContext.h"
#include "DeviceResult.h"
#include "SoftCrypto.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"AsymKeyObject"

namespace {

constexpr uint32_t PKCS1_MIN_PADDING = 11;  // 00, type, at least 8 padding bytes, 00
constexpr uint32_t RSA1024_BYTES = 128;
constexpr uint32_t RSA2048_BYTES = 256;

// True for an input of the full block length that starts 00 <type>: a block
// the caller padded already. Inputs shorter than two bytes are never read
// past their end.
bool IsPaddedBlock(const uint8_t* pbyIn, uint32_t nInLen, uint32_t nBlockLen, uint8_t byType) {
    return nInLen == nBlockLen && nInLen >= 2 && pbyIn[0] == 0x00 && pbyIn[1] == byType;
}

uint32_t DigestLength(uint8_t byHashAlgID) {
    switch (byHashAlgID) {
    case SOFT_HASH_MD5: return 16;
    case SOFT_HASH_SHA1: return 20;
    case SOFT_HASH_SHA256: return 32;
    case SOFT_HASH_SHA512: return 64;
    case SOFT_HASH_SHA1_MD5: return 36;
    default: return 0;
    }
}

}  // namespace

void CRSADevObj::SetAlgID(uint8_t byAlgID) {
    if (byAlgID == VM_ALG_RSA2048) {
        m_nSignlen = RSA2048_BYTES;
    } else if (byAlgID == VM_ALG_RSA1024) {
        m_nSignlen = RSA1024_BYTES;
    }
    m_byAlgID = byAlgID;
}

uint32_t CRSADevObj::GetOutLen(uint8_t, uint32_t) { return m_nSignlen; }

uint32_t CRSADevObj::Decrypt(const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"CRSADevObj::Decrypt");
    uint32_t hr = 0;
    CHECK_GOTO(nInLen != m_nSignlen, L"CHECK nInLen", ASYM_E_BAD_LENGTH);
    CHECK_GOTO(!pbyIn || !pbyOut || !pnOutLen, L"CHECK pbyIn", 0x80070101u);
    CHECK_GOTO(!AuthCode(), L"CHECK m_pDevCtx", ASYM_E_NO_DEVICE);
    CHECK_GOTO(*pnOutLen < m_nSignlen, L"CHECK *pnOutLen SIZE", ASYM_E_TOO_SMALL);
    hr = FoldResult(m_pDevCtx->GetAPDUCrypto()->RSAPriKeyRaw(AuthCode(), m_nKeyFID, m_byAlgID, pbyIn, nInLen,
                                                             pbyOut, pnOutLen));
    CHECK_GOTO(hr != 0, L"m_pDevCtx->GetAPDUCrypto()->RSAPriKeyRaw", hr);
    TRACE_STEP(L"m_pDevCtx->GetAPDUCrypto()->RSAPriKeyRaw");
exit:
    return hr;
}

uint32_t CRSADevObj::SignDisp(uint8_t byHashAlgID, const uint8_t* pbyData, uint32_t nDataLen, uint8_t* pbyOut,
                              uint32_t* pnOutLen) {
    TRACE_NAME(L"CRSADevObj::SignDisp");
    uint32_t hr = 0;
    CHECK_GOTO(!pbyOut || !pnOutLen, L"CHECK pbyOut", 0x80070101u);
    CHECK_GOTO(!AuthCode(), L"CHECK m_pDevCtx", ASYM_E_NO_DEVICE);
    // The key writes a whole modulus-length signature.
    CHECK_GOTO(*pnOutLen < m_nSignlen, L"CHECK *pnOutLen SIZE", ASYM_E_TOO_SMALL);
    hr = FoldResult(m_pDevCtx->GetAPDUCrypto()->RSASignDisp(AuthCode(), m_nKeyFID, m_byAlgID, byHashAlgID, pbyData,
                                                            nDataLen, pbyOut, pnOutLen));
    CHECK_GOTO(hr != 0, L"m_pDevCtx->GetAPDUCrypto()->RSASignDisp", hr);
    TRACE_STEP(L"m_pDevCtx->GetAPDUCrypto()->RSASignDisp");
exit:
    return hr;
}

uint32_t CRSADevObj::SignDigest(const uint8_t* pbyDigest, uint32_t nDigestLen, uint8_t* pbyOut,
                                uint32_t* pnOutLen) {
    TRACE_NAME(L"CRSADevObj::SignDigest");
    uint32_t hr = 0;
    uint8_t block[RSA2048_BYTES] = {};
    CHECK_GOTO(!pbyDigest || !pbyOut || !pnOutLen, L"CHECK pbyDigest", 0x80070101u);
    CHECK_GOTO(!AuthCode(), L"CHECK m_pDevCtx", ASYM_E_NO_DEVICE);
    CHECK_GOTO(m_nSignlen > sizeof block, L"CHECK m_nSignlen", ASYM_E_BAD_LENGTH);
    CHECK_GOTO(*pnOutLen < m_nSignlen, L"CHECK *pnOutLen SIZE", ASYM_E_TOO_SMALL);
    if (IsPaddedBlock(pbyDigest, nDigestLen, m_nSignlen, 0x01)) {
        std::memcpy(block, pbyDigest, m_nSignlen);
    } else {
        // PKCS#1 v1.5 type 1: 00 01, FF..FF, 00, data (signed as given).
        CHECK_GOTO(nDigestLen > m_nSignlen - PKCS1_MIN_PADDING, L"CHECK nDigestLen",
                   ASYM_E_BAD_LENGTH);
        block[0] = 0x00;
        block[1] = 0x01;
        std::memset(block + 2, 0xFF, m_nSignlen - nDigestLen - 3);
        block[m_nSignlen - nDigestLen - 1] = 0x00;
        std::memcpy(block + m_nSignlen - nDigestLen, pbyDigest, nDigestLen);
    }
    hr = FoldResult(m_pDevCtx->GetAPDUCrypto()->RSAPriKeyRaw(AuthCode(), m_nKeyFID, m_byAlgID, block, m_nSignlen,
                                                             pbyOut, pnOutLen));
    CHECK_GOTO(hr != 0, L"m_pDevCtx->GetAPDUCrypto()->RSAPriKeyRaw", hr);
    TRACE_STEP(L"m_pDevCtx->GetAPDUCrypto()->RSAPriKeyRaw");
exit:
    return hr;
}

uint32_t CRSADevObj::ReadPublicKey(SOFT_RSA_PUBKEY* pKey) {
    TRACE_NAME(L"CRSADevObj::ReadPublicKey");
    uint32_t hr = 0;
    CHECK_GOTO(!m_pDevCtx || !m_pDevCtx->GetAPDUKey(), L"CHECK m_pDevCtx", ASYM_E_NO_DEVICE);
    hr = FoldResult(m_pDevCtx->GetAPDUKey()->ExportPublicKey(m_nKeyFID, m_byAlgID, pKey));
    CHECK_GOTO(hr != 0, L"m_pDevCtx->GetAPDUKey()->ExportPublicKey", hr);
    TRACE_STEP(L"m_pDevCtx->GetAPDUKey()->ExportPublicKey");
exit:
    return hr;
}

uint32_t CRSADevObj::Encrypt(const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"CRSADevObj::Encrypt");
    uint32_t hr = 0;
    SOFT_RSA_PUBKEY key = {};
    bool padded = false;
    CHECK_GOTO(!pbyIn || !pbyOut || !pnOutLen, L"CHECK pbyIn", 0x80070101u);
    hr = ReadPublicKey(&key);
    CHECK_GOTO(hr != 0, L"ReadPublicKey", hr);
    CHECK_GOTO(key.nLen < PKCS1_MIN_PADDING || key.nLen > SOFT_RSA_MAX_BYTES, L"CHECK key.nLen", ASYM_E_ENCRYPT);
    CHECK_GOTO(*pnOutLen < key.nLen, L"CHECK *pnOutLen SIZE", ASYM_E_TOO_SMALL);
    padded = IsPaddedBlock(pbyIn, nInLen, key.nLen, 0x02);
    CHECK_GOTO(!padded && nInLen > key.nLen - PKCS1_MIN_PADDING, L"CHECK nInLen", ASYM_E_BAD_LENGTH);
    CHECK_GOTO(RSA_Encrypt(&key, pbyIn, nInLen, pbyOut, pnOutLen, padded ? 0 : 1) != SOFTCRYPTO_OK,
               L"RSA_Encrypt", ASYM_E_ENCRYPT);
    TRACE_STEP(L"RSA_Encrypt");
exit:
    return hr;
}

uint32_t CRSADevObj::Verify(uint8_t byHashAlgID, const uint8_t* pbyHash, uint32_t nHashLen,
                            const uint8_t* pbySignature, uint32_t nSignatureLen) {
    TRACE_NAME(L"CRSADevObj::Verify");
    uint32_t hr = 0;
    SOFT_RSA_PUBKEY key = {};
    const uint32_t digestLen = DigestLength(byHashAlgID);
    CHECK_GOTO(digestLen == 0, L"CHECK byHashAlgID", ASYM_E_BAD_ALGID);
    CHECK_GOTO(nHashLen != digestLen, L"CHECK nHashLen", ASYM_E_BAD_LENGTH);
    CHECK_GOTO(!pbyHash || !pbySignature, L"CHECK pbyHash", 0x80070101u);
    hr = ReadPublicKey(&key);
    CHECK_GOTO(hr != 0, L"ReadPublicKey", hr);
    CHECK_GOTO(RSA_Verify(&key, byHashAlgID, pbyHash, pbySignature, nSignatureLen) != SOFTCRYPTO_OK, L"RSA_Verify",
               ASYM_E_VERIFY);
    TRACE_STEP(L"RSA_Verify");
exit:
    return hr;
}
