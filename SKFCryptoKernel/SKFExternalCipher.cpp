// Host SM2 and SM4 operations of the key access layer. SM2 runs on the SM2
// core's byte entry points on curve 920; SM4 uses smcrypto's key schedule
// and block function, with the ECB streaming and padding rules here.
#include "SKFExternalCipher.h"

#include <climits>
#include <cstring>
#include <new>

#include "TraceHelper.h"
#include "sm2_core.h"
#include "sm4.h"

#define TRACE_MODULE L"SKFCryptoKernel\\SKFExternalCipher"

namespace {

constexpr HRESULT kBadData = static_cast<HRESULT>(0x80090020);  // NTE_FAIL
constexpr int kKeyPairRounds = 3;
constexpr int kSM2PlainSize = 16;  // the symmetric key the key library's envelope carries
constexpr int kSM4KeySize = 16;

#ifdef SKFCRYPTOKERNEL_TEST_SEAM
SM2KeyPairGenerator g_generateKeyPair = _SM2_generate_keypair;
#define GENERATE_KEY_PAIR g_generateKeyPair
#else
#define GENERATE_KEY_PAIR _SM2_generate_keypair
#endif

void FreeKeyHandle(SM2KeyHandle* handle) {
    if (!handle) return;
    if (handle->pbPrivateKey) SecureZeroMemory(handle->pbPrivateKey, handle->dwPrivateKeySize);
    delete[] handle->pbPrivateKey;
    delete[] handle->pbPublicKey;
    delete handle;
}

void BytesToWords(const BYTE* in, uint32_t out[4]) {
    for (int i = 0; i < 4; ++i)
        out[i] = (uint32_t(in[4 * i]) << 24) | (uint32_t(in[4 * i + 1]) << 16) | (uint32_t(in[4 * i + 2]) << 8) |
                 in[4 * i + 3];
}

void WordsToBytes(const uint32_t in[4], BYTE* out) {
    for (int i = 0; i < 4; ++i) {
        out[4 * i] = BYTE(in[i] >> 24);
        out[4 * i + 1] = BYTE(in[i] >> 16);
        out[4 * i + 2] = BYTE(in[i] >> 8);
        out[4 * i + 3] = BYTE(in[i]);
    }
}

void SM4ECBCryptBlock(const SM4ECBContext* context, const BYTE* in, BYTE* out) {
    uint32_t x[4], y[4];
    BytesToWords(in, x);
    smcrypto::SM4Block(x, context->rk, y);
    WordsToBytes(y, out);
    SecureZeroMemory(x, sizeof(x));
    SecureZeroMemory(y, sizeof(y));
}

}  // namespace

#ifdef SKFCRYPTOKERNEL_TEST_SEAM
void SetSM2KeyPairGeneratorForTest(SM2KeyPairGenerator generator) {
    g_generateKeyPair = generator ? generator : _SM2_generate_keypair;
}
#endif

// ---- SM4 ECB

int SM4ECBInit(const BYTE* pbyKey, SM4ECBContext* pContext, int nPadding) {
    if (!pbyKey || !pContext) return 0;
    uint32_t key[4];
    BytesToWords(pbyKey, key);
    pContext->dwBlockSize = smcrypto::SM4_BLOCK_BYTES;
    pContext->dwPadding = nPadding ? 1 : 0;
    pContext->dwPendingSize = 0;
    memset(pContext->byPending, 0, sizeof(pContext->byPending));
    smcrypto::SM4KeySchedule(key, pContext->rk);
    SecureZeroMemory(key, sizeof(key));
    return 1;
}

int SM4ECBUpdate(SM4ECBContext* pContext, const BYTE* pbyIn, int nInLen, BYTE* pbyOut, int* pnOutLen) {
    if (!pContext || !pbyIn || !pbyOut || !pnOutLen || nInLen < 0 || pContext->dwPendingSize >= 16) return 0;
    const int block = smcrypto::SM4_BLOCK_BYTES;
    int written = 0;
    if (pContext->dwPendingSize) {
        const int fill = block - int(pContext->dwPendingSize);
        if (nInLen < fill) {
            memcpy(pContext->byPending + pContext->dwPendingSize, pbyIn, size_t(nInLen));
            pContext->dwPendingSize += DWORD(nInLen);
            *pnOutLen = 0;
            return 1;
        }
        memcpy(pContext->byPending + pContext->dwPendingSize, pbyIn, size_t(fill));
        SM4ECBCryptBlock(pContext, pContext->byPending, pbyOut);
        written += block;
        pbyIn += fill;
        nInLen -= fill;
        pContext->dwPendingSize = 0;
    }
    while (nInLen >= block) {
        SM4ECBCryptBlock(pContext, pbyIn, pbyOut + written);
        written += block;
        pbyIn += block;
        nInLen -= block;
    }
    if (nInLen) memcpy(pContext->byPending, pbyIn, size_t(nInLen));
    pContext->dwPendingSize = DWORD(nInLen);
    *pnOutLen = written;
    return 1;
}

int SM4ECBFinal(SM4ECBContext* pContext, BYTE* pbyOut, int* pnOutLen) {
    if (!pContext || !pbyOut || !pnOutLen || pContext->dwPendingSize >= 16) return 0;
    if (!pContext->dwPadding) {
        if (pContext->dwPendingSize) return 0;
        *pnOutLen = 0;
        return 1;
    }
    const BYTE pad = BYTE(smcrypto::SM4_BLOCK_BYTES - pContext->dwPendingSize);
    memset(pContext->byPending + pContext->dwPendingSize, pad, pad);
    SM4ECBCryptBlock(pContext, pContext->byPending, pbyOut);
    pContext->dwPendingSize = 0;
    *pnOutLen = smcrypto::SM4_BLOCK_BYTES;
    return 1;
}

// ---- SKFExtCipher

HRESULT SKFExtCipher::CreateKeyHandle(SM2KeyHandle** ppKeyHandle) {
    TRACE_SCOPE(L"SKFExtCipher::CreateKeyHandle");
    HRESULT hr = S_OK;
    SM2KeyHandle* pKeyHandle = nullptr;
    int nCount = 0;

    CHECK_GOTO(ppKeyHandle == NULL, L"Check Out Parameter", E_INVALIDARG);
    pKeyHandle = new (std::nothrow) SM2KeyHandle{nullptr, 0, nullptr, 0};
    CHECK_GOTO(!pKeyHandle, L"New pointer", E_OUTOFMEMORY);
    pKeyHandle->pbPrivateKey = new (std::nothrow) BYTE[SM2_KEY_SIZE];
    CHECK_GOTO(!pKeyHandle->pbPrivateKey, L"New buffer", E_OUTOFMEMORY);
    pKeyHandle->dwPrivateKeySize = SM2_KEY_SIZE;
    pKeyHandle->pbPublicKey = new (std::nothrow) BYTE[SM2_PUBLIC_KEY_SIZE];
    CHECK_GOTO(!pKeyHandle->pbPublicKey, L"New buffer", E_OUTOFMEMORY);
    pKeyHandle->dwPublicKeySize = SM2_PUBLIC_KEY_SIZE;
    TRACE_STEP(L"New buffer");

    // A coordinate with a leading zero byte would be shortened by the
    // encodings the key pair travels in: only full-width pairs are kept.
    for (nCount = 0; nCount < kKeyPairRounds; ++nCount) {
        SecureZeroMemory(pKeyHandle->pbPrivateKey, SM2_KEY_SIZE);
        memset(pKeyHandle->pbPublicKey, 0, SM2_PUBLIC_KEY_SIZE);
        const int nResult = GENERATE_KEY_PAIR(pKeyHandle->pbPrivateKey, pKeyHandle->pbPublicKey,
                                              pKeyHandle->pbPublicKey + SM2_COORD_BYTES);
        CHECK_GOTO(1 != nResult, L"_SM2_generate_keypair", E_FAIL);
        if (pKeyHandle->pbPublicKey[0] != 0 && pKeyHandle->pbPublicKey[SM2_COORD_BYTES] != 0) break;
    }
    static_assert(kKeyPairRounds == 3, "the failure line names three rounds");
    CHECK_GOTO(3 == nCount, L"_SM2_generate_keypair() couldn't generate qualified key!", E_FAIL);
    TRACE_STEP(L"_SM2_generate_keypair");

    *ppKeyHandle = pKeyHandle;
    pKeyHandle = nullptr;

exit:
    FreeKeyHandle(pKeyHandle);
    return hr;
}

HRESULT SKFExtCipher::SM2Encrypt(const BYTE* pbyPlainData, const BYTE* pbyPubKeyX, const BYTE* pbyPubKeyY,
                                 BYTE** ppbyEncryptedData, DWORD* pdwEncryptedDataSize) {
    TRACE_SCOPE(L"SKFExtCipher::SM2Encrypt");
    HRESULT hr = S_OK;
    BIGNUM* pbnPubKeyX = nullptr;
    BIGNUM* pbnPubKeyY = nullptr;
    BYTE* pbyEncryptedDataWith04 = nullptr;
    BYTE* pbyEncryptedData = nullptr;
    int nResult = 0;
    const DWORD rawSize = SM2_CIPHER_OVERHEAD + kSM2PlainSize;
    const DWORD outSize = SM2_CIPHER_FIXED_SIZE + kSM2PlainSize;

    CHECK_GOTO(!pbyPlainData, L"Check pbyPlainData", E_INVALIDARG);
    CHECK_GOTO(!pbyPubKeyX, L"Check pbyPubKeyX", E_INVALIDARG);
    CHECK_GOTO(!pbyPubKeyY, L"Check pbyPubKeyY", E_INVALIDARG);
    CHECK_GOTO(!ppbyEncryptedData, L"Check ppbyEncryptedData", E_INVALIDARG);
    CHECK_GOTO(!pdwEncryptedDataSize, L"Check pdwEncryptedDataSize", E_INVALIDARG);

    pbnPubKeyX = BN_new();
    CHECK_GOTO(NULL == pbnPubKeyX, L"BN_new(PubKeyX)", kBadData);
    nResult = _SM2_Bytes2BN(pbyPubKeyX, SM2_COORD_BYTES, pbnPubKeyX);
    CHECK_GOTO(1 != nResult, L"_SM2_Bytes2BN(PubKeyX)", kBadData);
    pbnPubKeyY = BN_new();
    CHECK_GOTO(NULL == pbnPubKeyY, L"BN_new(PubKeyY)", kBadData);
    nResult = _SM2_Bytes2BN(pbyPubKeyY, SM2_COORD_BYTES, pbnPubKeyY);
    CHECK_GOTO(1 != nResult, L"_SM2_Bytes2BN(PubKeyY)", kBadData);

    pbyEncryptedDataWith04 = new (std::nothrow) BYTE[rawSize]();
    CHECK_GOTO(!pbyEncryptedDataWith04, L"New buffer", E_OUTOFMEMORY);
    nResult = _SM2_encrypt(SM2_CURVE_NID, pbyPlainData, kSM2PlainSize, pbnPubKeyX, pbnPubKeyY, pbyEncryptedDataWith04);
    CHECK_GOTO(1 != nResult, L"_SM2_encrypt", kBadData);
    TRACE_STEP(L"_SM2_encrypt");

    pbyEncryptedData = new (std::nothrow) BYTE[outSize];
    CHECK_GOTO(!pbyEncryptedData, L"New buffer", E_OUTOFMEMORY);
    // 04 || x1 || y1 || C2 || C3  ->  x1 || y1 || C3 || C2
    memcpy(pbyEncryptedData, pbyEncryptedDataWith04 + 1, 2 * SM2_COORD_BYTES);
    memcpy(pbyEncryptedData + 2 * SM2_COORD_BYTES, pbyEncryptedDataWith04 + 1 + 2 * SM2_COORD_BYTES + kSM2PlainSize,
           SM2_COORD_BYTES);
    memcpy(pbyEncryptedData + 3 * SM2_COORD_BYTES, pbyEncryptedDataWith04 + 1 + 2 * SM2_COORD_BYTES, kSM2PlainSize);
    *ppbyEncryptedData = pbyEncryptedData;
    *pdwEncryptedDataSize = outSize;

exit:
    BN_free(pbnPubKeyX);
    BN_free(pbnPubKeyY);
    delete[] pbyEncryptedDataWith04;
    return hr;
}

HRESULT SKFExtCipher::SM2Decrypt(const BYTE* pbyEncryptedData, DWORD dwEncryptedDataSize, const BYTE* pbyPrivateKey,
                                 DWORD dwPrivateKeySize, BYTE** ppbyPlainData, DWORD* pdwPlainDataSize) {
    TRACE_SCOPE(L"SKFExtCipher::SM2Decrypt");
    HRESULT hr = S_OK;
    BYTE* pbyEncryptedDataWith04 = nullptr;
    BYTE* pbyPlainData = nullptr;
    BIGNUM* pbnPrivateKey = nullptr;
    int nResult = 0;
    DWORD plainSize = 0;
    const DWORD n = dwEncryptedDataSize;

    CHECK_GOTO(!pbyEncryptedData, L"Check pbyEncryptedData", E_INVALIDARG);
    CHECK_GOTO(!pbyPrivateKey, L"Check pbyPrivateKey", E_INVALIDARG);
    CHECK_GOTO(!ppbyPlainData, L"Check ppbyPlainData", E_INVALIDARG);
    CHECK_GOTO(!pdwPlainDataSize, L"Check pdwPlainDataSize", E_INVALIDARG);
    CHECK_GOTO(SM2_KEY_SIZE != dwPrivateKeySize, L"Check dwPrivateKeySize", E_INVALIDARG);
    // Shorter than C1 and C3 alone: nothing to rearrange (and n - 96 would wrap).
    // The core's raw form must also stay countable in an int.
    CHECK_GOTO(SM2_CIPHER_FIXED_SIZE > dwEncryptedDataSize, L"Check dwEncryptedDataSize", E_INVALIDARG);
    CHECK_GOTO(dwEncryptedDataSize >= DWORD(INT_MAX), L"Check dwEncryptedDataSize", E_INVALIDARG);
    plainSize = n - SM2_CIPHER_FIXED_SIZE;

    pbyEncryptedDataWith04 = new (std::nothrow) BYTE[n + 1]();
    CHECK_GOTO(!pbyEncryptedDataWith04, L"New buffer", E_OUTOFMEMORY);
    // x1 || y1 || C3 || C2  ->  04 || x1 || y1 || C2 || C3
    pbyEncryptedDataWith04[0] = 0x04;
    memcpy(pbyEncryptedDataWith04 + 1, pbyEncryptedData, 2 * SM2_COORD_BYTES);
    memcpy(pbyEncryptedDataWith04 + 1 + 2 * SM2_COORD_BYTES, pbyEncryptedData + SM2_CIPHER_FIXED_SIZE, plainSize);
    memcpy(pbyEncryptedDataWith04 + 1 + 2 * SM2_COORD_BYTES + plainSize, pbyEncryptedData + 2 * SM2_COORD_BYTES,
           SM2_COORD_BYTES);

    pbnPrivateKey = BN_secure_new();
    CHECK_GOTO(NULL == pbnPrivateKey, L"BN_new(PrivateKey)", kBadData);
    nResult = _SM2_Bytes2BN(pbyPrivateKey, SM2_KEY_SIZE, pbnPrivateKey);
    CHECK_GOTO(1 != nResult, L"_SM2_Bytes2BN(PrivateKey)", kBadData);
    pbyPlainData = new (std::nothrow) BYTE[plainSize ? plainSize : 1]();
    CHECK_GOTO(!pbyPlainData, L"New buffer", E_OUTOFMEMORY);

    nResult = _SM2_decrypt(SM2_CURVE_NID, pbyEncryptedDataWith04, int(n + 1), pbnPrivateKey, pbyPlainData);
    if (1 != nResult) {
        // Not C1C3C2: try the input as it stands, C1C2C3.
        memset(pbyEncryptedDataWith04, 0, n + 1);
        pbyEncryptedDataWith04[0] = 0x04;
        memcpy(pbyEncryptedDataWith04 + 1, pbyEncryptedData, n);
        nResult = _SM2_decrypt(SM2_CURVE_NID, pbyEncryptedDataWith04, int(n + 1), pbnPrivateKey, pbyPlainData);
    }
    CHECK_GOTO(1 != nResult, L"_SM2_decrypt", kBadData);
    TRACE_STEP(L"_SM2_decrypt");

    *ppbyPlainData = pbyPlainData;
    *pdwPlainDataSize = plainSize;
    pbyPlainData = nullptr;

exit:
    if (pbyPlainData) SecureZeroMemory(pbyPlainData, plainSize ? plainSize : 1);
    delete[] pbyPlainData;
    delete[] pbyEncryptedDataWith04;
    BN_clear_free(pbnPrivateKey);
    return hr;
}

HRESULT SKFExtCipher::SM4EncryptDataECB(const BYTE* pbySourceData, int nSourceDataSize, const BYTE* pbyKey,
                                        int nKeyLen, BYTE** ppbyEncryptedData, int* pnEncryptedDataSize) {
    TRACE_NAME(L"SKFExtCipher::SM4EncryptDataECB");
    HRESULT hr = S_OK;
    BYTE* pbyOutData = nullptr;
    SM4ECBContext context;
    int nResult = 0;
    int nUpdateLength = 0;
    int nFinalLength = 0;
    int nOutLength = 0;
    const int block = smcrypto::SM4_BLOCK_BYTES;
    SecureZeroMemory(&context, sizeof(context));

    CHECK_GOTO(pbySourceData == NULL || nSourceDataSize <= 0 || pbyKey == NULL || nKeyLen <= 0 ||
                   pnEncryptedDataSize == NULL,
               L"Invalid Parameter", E_INVALIDARG);
    CHECK_GOTO(ppbyEncryptedData == NULL, L"Invalid Parameter", E_INVALIDARG);
    // SM4 reads exactly 16 key bytes; the output has room for a final block.
    CHECK_GOTO(nKeyLen != kSM4KeySize, L"Invalid Parameter", E_INVALIDARG);
    CHECK_GOTO(nSourceDataSize > INT_MAX - block, L"Invalid Parameter", E_INVALIDARG);

    pbyOutData = new (std::nothrow) BYTE[size_t(nSourceDataSize) + block]();
    CHECK_GOTO(!pbyOutData, L"New buffer", E_OUTOFMEMORY);

    nResult = SM4ECBInit(pbyKey, &context, 0);
    CHECK_GOTO(nResult != 1, L"SM4ECBInit", E_FAIL);
    nResult = SM4ECBUpdate(&context, pbySourceData, nSourceDataSize, pbyOutData, &nUpdateLength);
    CHECK_GOTO(nResult != 1, L"SM4ECBUpdate", E_FAIL);
    nResult = SM4ECBFinal(&context, pbyOutData + nUpdateLength, &nFinalLength);
    CHECK_GOTO(nResult != 1, L"SM4ECBFinal", E_FAIL);
    nOutLength = nUpdateLength + nFinalLength;
    CHECK_GOTO(nSourceDataSize != nOutLength, L"SM4 ECB Without Padding Out Length", E_FAIL);
    TRACE_STEP(L"SM4ECBFinal");

    *ppbyEncryptedData = pbyOutData;
    *pnEncryptedDataSize = nOutLength;
    pbyOutData = nullptr;

exit:
    SecureZeroMemory(&context, sizeof(context));
    delete[] pbyOutData;
    return hr;
}
