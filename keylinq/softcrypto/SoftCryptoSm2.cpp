// SM2 on the host: Z value, signature check and encryption to a public key.
#define TRACE_MODULE L"SoftCrypto"
#include <openssl/bn.h>

#include "SoftCrypto.h"
#include "SoftCryptoTrace.h"
#include "sm2_core.h"

namespace {
constexpr uint32_t SM2_SIGNATURE_BYTES = 64;
// Keeps inLen + 97 within the core's int lengths.
constexpr uint32_t SM2_MAX_PLAIN_BYTES = 0x7fffffffu - SM2_CIPHER_EXTRA_BYTES;
}  // namespace

uint32_t SM2_GetZVal(const uint8_t* pSM2PubKey, uint8_t* pZ) {
    TRACE_NAME(L"SM2_GetZVal");
    uint32_t hr = SOFTCRYPTO_OK;
    int hResult = 0;

    SOFT_CHECK(NULL == pSM2PubKey, L"CHECK pSM2PubKey", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(NULL == pZ, L"CHECK pZ", SOFTCRYPTO_E_INVALIDARG);
    hResult = _SM2_CalculateDefaultZValue(pSM2PubKey, pSM2PubKey + SM2_COORD_BYTES, pZ);
    SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"_SM2_CalculateDefaultZValue", SOFTCRYPTO_E_ZVALUE);
exit:
    return hr;
}

uint32_t SM2_Verify(const uint8_t* pSM2PubKey, const uint8_t* pHashData, const uint8_t* pRawSignatureRS,
                    uint32_t nRawSignatureRSSize) {
    TRACE_NAME(L"SM2_Verify");
    uint32_t hr = SOFTCRYPTO_OK;
    int hResult = 0;

    SOFT_CHECK(NULL == pSM2PubKey, L"CHECK pSM2PubKey", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(NULL == pHashData, L"CHECK pHashData", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(NULL == pRawSignatureRS, L"CHECK pRawSignatureRS", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(64 != nRawSignatureRSSize, L"CHECK nRawSignatureRSSize", SOFTCRYPTO_E_INVALIDARG);
    hResult = _SM2_verify_ex(pRawSignatureRS, pRawSignatureRS + SM2_SIGNATURE_BYTES / 2, pSM2PubKey,
                             pSM2PubKey + SM2_COORD_BYTES, pHashData);
    SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"_SM2_verify_ex", SOFTCRYPTO_E_BAD_SIGNATURE);
exit:
    return hr;
}

uint32_t SM2_Encrypt(const uint8_t* pSM2PubKey, const uint8_t* pPlainData, uint32_t inLen, uint8_t* pCipherData,
                     uint32_t* pCipherLen) {
    TRACE_NAME(L"SM2_Encrypt");
    uint32_t hr = SOFTCRYPTO_OK;
    int hResult = 0;
    BIGNUM* pbnPubKeyX = nullptr;
    BIGNUM* pbnPubKeyY = nullptr;

    SOFT_CHECK(NULL == pSM2PubKey, L"CHECK pSM2PubKey", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(NULL == pPlainData, L"CHECK pPlainData", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(NULL == pCipherData, L"CHECK pCipherData", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(NULL == pCipherLen, L"CHECK pCipherLen", SOFTCRYPTO_E_INVALIDARG);
    // The encryption needs at least one message byte.
    SOFT_CHECK(0 == inLen || inLen > SM2_MAX_PLAIN_BYTES, L"CHECK inLen", SOFTCRYPTO_E_INVALIDARG);
    pbnPubKeyX = BN_new();
    SOFT_CHECK(NULL == pbnPubKeyX, L"BN_new(X)", SOFTCRYPTO_E_BN_ALLOC);
    pbnPubKeyY = BN_new();
    SOFT_CHECK(NULL == pbnPubKeyY, L"BN_new(Y)", SOFTCRYPTO_E_BN_ALLOC);
    hResult = _SM2_Bytes2BN(pSM2PubKey, SM2_COORD_BYTES, pbnPubKeyX);
    SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"_SM2_Bytes2BN(X)", SOFTCRYPTO_E_BAD_POINT);
    hResult = _SM2_Bytes2BN(pSM2PubKey + SM2_COORD_BYTES, SM2_COORD_BYTES, pbnPubKeyY);
    SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"_SM2_Bytes2BN(Y)", SOFTCRYPTO_E_BAD_POINT);
    hResult = _SM2_encrypt(SM2_CURVE_NID, pPlainData, static_cast<int>(inLen), pbnPubKeyX, pbnPubKeyY, pCipherData);
    SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"_SM2_encrypt", SOFTCRYPTO_E_ENCRYPT);
    *pCipherLen = inLen + SM2_CIPHER_EXTRA_BYTES;
exit:
    BN_free(pbnPubKeyY);
    BN_free(pbnPubKeyX);
    return hr;
}
