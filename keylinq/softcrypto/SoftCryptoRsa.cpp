// Random bytes and the RSA public-key operations with PKCS#1 v1.5 padding.
#define TRACE_MODULE L"SoftCrypto"
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <cstring>

#include "RawRsa.h"
#include "SoftCrypto.h"
#include "SoftCryptoTrace.h"

namespace {

// DER DigestInfo prefixes of PKCS#1 v1.5 (RFC 8017, 9.2, note 1).
constexpr uint8_t MD5_PREFIX[] = {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                  0x86, 0xf7, 0x0d, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};
constexpr uint8_t SHA1_PREFIX[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                   0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
constexpr uint8_t SHA256_PREFIX[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                     0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
constexpr uint8_t SHA512_PREFIX[] = {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                     0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40};

// PKCS#1 v1.5 needs 00, the block type and the 00 separator around the data.
constexpr uint32_t PKCS1_OVERHEAD = 3;
constexpr uint32_t PKCS1_ENCRYPT_OVERHEAD = 11;  // with at least 8 padding bytes

}  // namespace

uint32_t GenRand(uint32_t len, uint8_t* pRand, uint8_t allowZero) {
    TRACE_NAME(L"GenRand");
    uint32_t hr = SOFTCRYPTO_OK;
    int hResult = ALG_OPENSSL_OK;

    SOFT_CHECK(!pRand, L"CHECK pRand", SOFTCRYPTO_E_INVALIDARG);
    for (uint32_t done = 0; done < len && hResult == ALG_OPENSSL_OK;) {
        const uint32_t chunk = len - done > 0x40000000u ? 0x40000000u : len - done;
        hResult = RAND_bytes(pRand + done, static_cast<int>(chunk));
        done += chunk;
    }
    SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"RAND_bytes", SOFTCRYPTO_E_RANDOM);
    if (!allowZero)
        for (uint32_t i = 0; i < len; ++i)
            if (pRand[i] == 0) pRand[i] = 1;
    SetLastError(0);
exit:
    return hr;
}

uint32_t RSA_PublicEncrypt(const uint8_t* pIn, uint32_t inLen, uint8_t* pOut, uint32_t* pOutLen,
                           const SOFT_RSA_PUBKEY* pRSAPubKey) {
    TRACE_NAME(L"RSA_PublicEncrypt");
    uint32_t hr = SOFTCRYPTO_OK;
    int hResult = 0;
    int nEncSize = -1;
    RsaPublicKey key = {nullptr, nullptr};

    // Lengths above their fields are refused before anything is read.
    hResult = pRSAPubKey->nLen <= SOFT_RSA_MAX_BYTES && pRSAPubKey->eLen <= SOFT_RSA_MAX_BYTES
                  ? RSA_create(pRSAPubKey->modulus, static_cast<int>(pRSAPubKey->nLen), &key,
                               pRSAPubKey->exponent, static_cast<int>(pRSAPubKey->eLen))
                  : 0;
    SOFT_CHECK(ALG_OPENSSL_OK != hResult, L"RSA_create", SOFTCRYPTO_E_RSA_KEY);
    nEncSize = inLen <= 0x7fffffffu
                   ? RSA_eay_public_decrypt(static_cast<int>(inLen), pIn, pOut, key.n, key.e, RSA_NO_PADDING)
                   : -1;
    SOFT_CHECK(nEncSize < 0, L"RSA_eay_public_decrypt", SOFTCRYPTO_E_RSA_RAW);
    *pOutLen = static_cast<uint32_t>(nEncSize);
exit:
    DestroyRsaPublicKey(&key);
    return hr;
}

uint32_t RSA_Verify(const SOFT_RSA_PUBKEY* pRSAPubKey, uint32_t nHashAlgID, const uint8_t* pRawHashData,
                    const uint8_t* pSignature, uint32_t sigLen) {
    TRACE_NAME(L"RSA_Verify");
    uint32_t hr = SOFTCRYPTO_OK;
    uint8_t opened[SOFT_RSA_MAX_BYTES];
    uint8_t expected[SOFT_RSA_MAX_BYTES];
    uint32_t openedLen = 0;
    const uint8_t* prefix = nullptr;
    uint32_t prefixLen = 0, digestLen = 0, nLen = 0;
    int hResult = 0;

    SOFT_CHECK(NULL == pRSAPubKey, L"CHECK pRSAPubKey", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(NULL == pRawHashData, L"CHECK pRawHashData", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(NULL == pSignature, L"CHECK pSignature", SOFTCRYPTO_E_INVALIDARG);
    hr = RSA_PublicEncrypt(pSignature, sigLen, opened, &openedLen, pRSAPubKey);
    SOFT_STEP(S_OK != hr, L"RSA_PublicEncrypt", L"S_OK != hResult", hr);

    switch (nHashAlgID) {
    case SOFT_HASH_MD5: prefix = MD5_PREFIX; prefixLen = sizeof(MD5_PREFIX); digestLen = 16; break;
    case SOFT_HASH_SHA1: prefix = SHA1_PREFIX; prefixLen = sizeof(SHA1_PREFIX); digestLen = 20; break;
    case SOFT_HASH_SHA256: prefix = SHA256_PREFIX; prefixLen = sizeof(SHA256_PREFIX); digestLen = 32; break;
    case SOFT_HASH_SHA512: prefix = SHA512_PREFIX; prefixLen = sizeof(SHA512_PREFIX); digestLen = 64; break;
    case SOFT_HASH_SHA1_MD5: digestLen = 36; break;  // the bare pair, no DigestInfo
    default: SOFT_STEP(true, L"CHECK nHashAlgID", L"TRUE", SOFTCRYPTO_E_BAD_ALGID);
    }
    // A modulus too short to hold the padded digest cannot carry this signature.
    nLen = pRSAPubKey->nLen;
    SOFT_CHECK(nLen < prefixLen + digestLen + PKCS1_OVERHEAD, L"CHECK pRSAPubKey->nLen", SOFTCRYPTO_E_BAD_LEN);

    expected[0] = 0x00;
    expected[1] = 0x01;
    std::memset(expected + 2, 0xff, nLen - (prefixLen + digestLen) - PKCS1_OVERHEAD);
    expected[nLen - (prefixLen + digestLen) - 1] = 0x00;
    if (prefixLen) std::memcpy(expected + nLen - (prefixLen + digestLen), prefix, prefixLen);
    std::memcpy(expected + nLen - digestLen, pRawHashData, digestLen);
    hResult = openedLen == nLen ? std::memcmp(expected, opened, openedLen) : 1;
    SOFT_CHECK(0 != hResult, L"COMPARE pRawHashData", SOFTCRYPTO_E_BAD_SIGNATURE);
exit:
    return hr;
}

uint32_t RSA_Encrypt(const SOFT_RSA_PUBKEY* pRSAPubKey, const uint8_t* pPlainData, uint32_t nPlainDataSize,
                     uint8_t* pEncryptedData, uint32_t* pEncryptedDataSize, uint32_t nPadingType) {
    TRACE_NAME(L"RSA_Encrypt");
    uint32_t hr = SOFTCRYPTO_OK;
    uint8_t block[SOFT_RSA_MAX_BYTES];
    const uint8_t* input = pPlainData;
    uint32_t inputLen = nPlainDataSize;
    uint32_t outLen = 0;

    SOFT_CHECK(NULL == pRSAPubKey, L"CHECK pRSAPubKey", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(NULL == pPlainData, L"CHECK pPlainData", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(NULL == pEncryptedData, L"CHECK pEncryptedData", SOFTCRYPTO_E_INVALIDARG);
    SOFT_CHECK(NULL == pEncryptedDataSize, L"CHECK pEncryptedDataSize", SOFTCRYPTO_E_INVALIDARG);
    SOFT_TRACE_STEP(L"CHECK nPadingType");
    if (nPadingType == 1) {
        const uint32_t nLen = pRSAPubKey->nLen;
        // A modulus length above its field is refused as the raw operation would refuse it.
        SOFT_CHECK(nLen > SOFT_RSA_MAX_BYTES, L"CHECK pRSAPubKey->nLen", SOFTCRYPTO_E_ENCRYPT);
        if (nLen < PKCS1_ENCRYPT_OVERHEAD || nPlainDataSize > nLen - PKCS1_ENCRYPT_OVERHEAD) {
            *pEncryptedDataSize = 0;
            hr = SOFTCRYPTO_E_BAD_LEN;
            TRACE_FAIL(L"CHECK nPlainDataSize", L"nPlainDataSize > pRSAPubKey->nLen - 11", static_cast<HRESULT>(hr));
            goto exit;
        }
        SOFT_TRACE_STEP(L"CHECK nPlainDataSize");
        block[0] = 0x00;
        block[1] = 0x02;
        hr = GenRand(nLen - nPlainDataSize - PKCS1_OVERHEAD, block + 2, 0);
        if (hr != SOFTCRYPTO_OK) goto exit;
        block[nLen - nPlainDataSize - 1] = 0x00;
        std::memcpy(block + nLen - nPlainDataSize, pPlainData, nPlainDataSize);
        input = block;
        inputLen = nLen;
    }
    hr = RSA_PublicEncrypt(input, inputLen, pEncryptedData, &outLen, pRSAPubKey);
    SOFT_STEP(S_OK != hr, L"RSA_PublicEncrypt", L"S_OK != hResult", SOFTCRYPTO_E_ENCRYPT);
    *pEncryptedDataSize = outLen;
exit:
    OPENSSL_cleanse(block, sizeof(block));
    return hr;
}
