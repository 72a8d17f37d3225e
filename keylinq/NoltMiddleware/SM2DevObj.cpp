// An SM2 private key on the key: decryption and signatures on the key,
// encryption and verification on the host.
#include "SM2DevObj.h"

#include "APDUCrypto.h"
#include "APDUKey.h"
#include "DeviceContext.h"
#include "DeviceResult.h"
#include "SoftCrypto.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"AsymKeyObject"

namespace {

constexpr uint32_t SM2_DIGEST_LEN = 32;  // SM3_DIGEST_LENGTH
constexpr uint32_t SM2_PUBKEY_LEN = 64;

}  // namespace

uint32_t CSM2DevObj::GetOutLen(uint8_t byOperation, uint32_t nInLen) {
    switch (byOperation) {
    case ASYM_OP_ENCRYPT:
        return nInLen + SM2_CIPHER_OVERHEAD;
    case ASYM_OP_DECRYPT:
        // A ciphertext of 97 bytes or fewer carries no plaintext.
        return nInLen > SM2_CIPHER_OVERHEAD ? nInLen - SM2_CIPHER_OVERHEAD : 0;
    case ASYM_OP_SIGN:
    case ASYM_OP_SIGN_SM2:
        return SM2_SIGNATURE_LEN;
    default:
        return 0;
    }
}

uint32_t CSM2DevObj::Decrypt(const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"CSM2DevObj::Decrypt");
    uint32_t hr = 0;
    CHECK_GOTO(!pbyIn || !pbyOut || !pnOutLen, L"CHECK pbyIn", 0x80070101u);
    CHECK_GOTO(!AuthCode(), L"CHECK m_pDevCtx", ASYM_E_NO_DEVICE);
    CHECK_GOTO(nInLen <= SM2_CIPHER_OVERHEAD, L"CHECK nInLen", ASYM_E_BAD_LENGTH);
    CHECK_GOTO(*pnOutLen < nInLen - SM2_CIPHER_OVERHEAD, L"CHECK *pnOutLen SIZE", ASYM_E_TOO_SMALL);
    hr = FoldResult(m_pDevCtx->GetAPDUCrypto()->SM2Decrypt(AuthCode(), m_nKeyFID, pbyIn, nInLen, pbyOut, pnOutLen));
    CHECK_GOTO(hr != 0, L"m_pDevCtx->GetAPDUCrypto()->SM2Decrypt", hr);
    TRACE_STEP(L"m_pDevCtx->GetAPDUCrypto()->SM2Decrypt");
exit:
    return hr;
}

uint32_t CSM2DevObj::SignDisp(uint8_t byHashAlgID, const uint8_t* pbyData, uint32_t nDataLen, uint8_t* pbyOut,
                              uint32_t* pnOutLen) {
    TRACE_NAME(L"CSM2DevObj::SignDisp");
    uint32_t hr = 0;
    CHECK_GOTO(byHashAlgID != VM_ALG_SM3, L"CHECK byHashAlgID", ASYM_E_BAD_ALGID);
    CHECK_GOTO(!pbyOut || !pnOutLen, L"CHECK pbyOut", 0x80070101u);
    CHECK_GOTO(!AuthCode(), L"CHECK m_pDevCtx", ASYM_E_NO_DEVICE);
    CHECK_GOTO(*pnOutLen < SM2_SIGNATURE_LEN, L"CHECK *pnOutLen SIZE", ASYM_E_TOO_SMALL);
    hr = FoldResult(
        m_pDevCtx->GetAPDUCrypto()->SM2SignDisp(AuthCode(), m_nKeyFID, pbyData, nDataLen, pbyOut, pnOutLen));
    CHECK_GOTO(hr != 0, L"m_pDevCtx->GetAPDUCrypto()->SM2SignDisp", hr);
    TRACE_STEP(L"m_pDevCtx->GetAPDUCrypto()->SM2SignDisp");
exit:
    return hr;
}

uint32_t CSM2DevObj::SignDigest(const uint8_t* pbyDigest, uint32_t nDigestLen, uint8_t* pbyOut,
                                uint32_t* pnOutLen) {
    TRACE_NAME(L"CSM2DevObj::SignDigest");
    uint32_t hr = 0;
    CHECK_GOTO(nDigestLen != SM2_DIGEST_LEN, L"CHECK nDigestLen", ASYM_E_BAD_LENGTH);
    CHECK_GOTO(!pbyDigest || !pbyOut || !pnOutLen, L"CHECK pbyDigest", 0x80070101u);
    CHECK_GOTO(!AuthCode(), L"CHECK m_pDevCtx", ASYM_E_NO_DEVICE);
    CHECK_GOTO(*pnOutLen < SM2_SIGNATURE_LEN, L"CHECK *pnOutLen SIZE", ASYM_E_TOO_SMALL);
    hr = FoldResult(m_pDevCtx->GetAPDUCrypto()->SM2SignDigest(AuthCode(), m_nKeyFID, pbyDigest, nDigestLen, pbyOut,
                                                              pnOutLen));
    CHECK_GOTO(hr != 0, L"m_pDevCtx->GetAPDUCrypto()->SM2SignDigest", hr);
    TRACE_STEP(L"m_pDevCtx->GetAPDUCrypto()->SM2SignDigest");
exit:
    return hr;
}

uint32_t CSM2DevObj::ReadPublicKey(uint8_t pubKey[SM2_PUBKEY_LEN]) {
    TRACE_NAME(L"CSM2DevObj::ReadPublicKey");
    uint32_t hr = 0;
    CHECK_GOTO(!m_pDevCtx || !m_pDevCtx->GetAPDUKey(), L"CHECK m_pDevCtx", ASYM_E_NO_DEVICE);
    hr = FoldResult(m_pDevCtx->GetAPDUKey()->ExportPublicKey(m_nKeyFID, VM_ALG_SM2, pubKey));
    CHECK_GOTO(hr != 0, L"m_pDevCtx->GetAPDUKey()->ExportPublicKey", hr);
    TRACE_STEP(L"m_pDevCtx->GetAPDUKey()->ExportPublicKey");
exit:
    return hr;
}

uint32_t CSM2DevObj::Encrypt(const uint8_t* pbyIn, uint32_t nInLen, uint8_t* pbyOut, uint32_t* pnOutLen) {
    TRACE_NAME(L"CSM2DevObj::Encrypt");
    uint32_t hr = 0;
    uint8_t pubKey[SM2_PUBKEY_LEN] = {};
    CHECK_GOTO(!pbyIn || !pbyOut || !pnOutLen, L"CHECK pbyIn", 0x80070101u);
    CHECK_GOTO(nInLen == 0 || nInLen > 0xFFFFFFFFu - SM2_CIPHER_OVERHEAD, L"CHECK nInLen", ASYM_E_BAD_LENGTH);
    CHECK_GOTO(*pnOutLen < nInLen + SM2_CIPHER_OVERHEAD, L"CHECK *pnOutLen SIZE", ASYM_E_TOO_SMALL);
    hr = ReadPublicKey(pubKey);
    CHECK_GOTO(hr != 0, L"ReadPublicKey", hr);
    CHECK_GOTO(SM2_Encrypt(pubKey, pbyIn, nInLen, pbyOut, pnOutLen) != SOFTCRYPTO_OK, L"SM2_Encrypt",
               ASYM_E_ENCRYPT);
    TRACE_STEP(L"SM2_Encrypt");
exit:
    return hr;
}

uint32_t CSM2DevObj::Verify(uint8_t, const uint8_t* pbyHash, uint32_t nHashLen, const uint8_t* pbySignature,
                            uint32_t nSignatureLen) {
    TRACE_NAME(L"CSM2DevObj::Verify");
    uint32_t hr = 0;
    uint8_t pubKey[SM2_PUBKEY_LEN] = {};
    CHECK_GOTO(nHashLen != SM2_DIGEST_LEN, L"CHECK nHashLen", ASYM_E_BAD_LENGTH);
    CHECK_GOTO(!pbyHash || !pbySignature, L"CHECK pbyHash", 0x80070101u);
    hr = ReadPublicKey(pubKey);
    CHECK_GOTO(hr != 0, L"ReadPublicKey", hr);
    CHECK_GOTO(SM2_Verify(pubKey, pbyHash, pbySignature, nSignatureLen) != SOFTCRYPTO_OK, L"SM2_Verify",
               ASYM_E_VERIFY);
    TRACE_STEP(L"SM2_Verify");
exit:
    return hr;
}
