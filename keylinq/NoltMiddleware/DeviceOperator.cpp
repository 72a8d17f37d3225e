// The device operator's core: its lifetime, the initialisation on a freshly
// opened key (device information, algorithm, root key, external
// authentication), the session key and the authentication code.
#include "DeviceOperator.h"

#include <cstring>

#include "APDUChip.h"
#include "APDUPin.h"
#include "BuiltInKeys.h"
#include "DeviceContext.h"
#include "DeviceResult.h"
#include "SoftCrypto.h"
#include "SymKeyHandle.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DeviceOperator"

namespace {

// Offsets in the device information record (host order after GetDeviceInfo).
constexpr uint32_t DEVINFO_AUTH_ALG_OFFSET = 212;
constexpr uint32_t DEVINFO_WORD_OFFSET = 228;

// The ciphers that secure messaging, the external authentication and the
// session-key set-up can run with 16-byte keys in CBC.
bool IsSessionAlgorithm(uint8_t algId) {
    return algId == SOFT_ALG_SM4 || algId == SOFT_ALG_DES2 || algId == SOFT_ALG_DES;
}

}  // namespace

CDeviceOperator::CDeviceOperator(CDeviceContext* pDeviceContext)
    : m_pDeviceContext(pDeviceContext), m_nFlashWriteLen(FLASH_WRITE_PAGE_LEN), m_nFlashReadLen(FLASH_READ_BLOCK_LEN) {
    if (m_pDeviceContext) m_pDeviceContext->AttachOperator();
    CDeviceContext::TraceInfo(L"CDeviceOperator: Constructor");
}

CDeviceOperator::~CDeviceOperator() {
    m_vecContainerRecord.clear();
    CDeviceContext::TraceInfo(L"CDeviceOperator: Destructor");
    if (m_pDeviceContext) m_pDeviceContext->DetachOperator();
}

uint32_t CDeviceOperator::Initialize(uint32_t nFlags) {
    TRACE_NAME(L"CDeviceOperator::Initialize");
    uint32_t hr = 0;
    uint8_t devInfo[DEVICE_INFO_RECORD_LEN] = {};
    uint32_t authAlg = 0;
    uint8_t algId = 0;
    VM_DEVICE_HANDLE* record = nullptr;

    if (!m_pDeviceContext) {
        TRACE_FAIL(L"CHECK m_pDeviceContext", L"NULL == m_pDeviceContext", DEVOP_E_NULL_POINTER);
        return DEVOP_E_NULL_POINTER;
    }
    hr = m_pDeviceContext->WaitDevMutex();
    if (hr != 0) {
        TRACE_FAIL(L"WaitDevMutex", L"VM_ERR_OK != hMutex", hr);
        return hr;
    }
    record = m_pDeviceContext->GetDeviceHandle();
    CHECK_GOTO(!record, L"CHECK m_pDevieHandle", DEVOP_E_NULL_POINTER);

    hr = FoldResult(GetDeviceInfo(devInfo));
    CHECK_GOTO(hr != 0, L"GetDeviceInfo", hr);
    TRACE_STEP(L"GetDeviceInfo");

    std::memcpy(&authAlg, devInfo + DEVINFO_AUTH_ALG_OFFSET, sizeof authAlg);
    algId = uint8_t(authAlg >> 8);
    // Only ciphers with 16-byte keys and a CBC mode can carry the session.
    CHECK_GOTO(!IsSessionAlgorithm(algId), L"CHECK byAlgID", DEVOP_E_ALGORITHM);
    record->m_pRootPubKey = algId == SOFT_ALG_SM4 ? static_cast<const void*>(GetRootSM2PublicKey())
                                                  : static_cast<const void*>(GetRootRSAPublicKey());
    record->m_byAlgID = algId;
    std::memcpy(&record->m_wDevInfo, devInfo + DEVINFO_WORD_OFFSET, sizeof record->m_wDevInfo);

    if (nFlags & DEVOP_INIT_NO_EXTERNAL_AUTH) goto exit;
    hr = FoldResult(ExternalAuth(nullptr));
    CHECK_GOTO(hr != 0, L"ExternalAuth", hr);
    TRACE_STEP(L"ExternalAuth");
exit:
    m_pDeviceContext->ReleaseDevMutex();
    CDeviceContext::TraceInfo(L"%ls - %ls", traceFunc_, L"ReleaseDevMutex");
    return hr;
}

uint32_t CDeviceOperator::Finalize() {
    TRACE_NAME(L"CDeviceOperator::Finalize");
    uint32_t hr = 0;
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    // Application and container objects on this context must be closed
    // first: closing the key under them would leave them a dead context.
    CHECK_GOTO(m_pDeviceContext->GetOperatorCount() > 1, L"CHECK GetOperatorCount", DEVOP_E_IN_USE);
    hr = m_pDeviceContext->Close();
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->Close", hr);
    TRACE_STEP(L"m_pDeviceContext->Close");
    delete m_pDeviceContext;
    m_pDeviceContext = nullptr;
exit:
    return hr;
}

uint32_t CDeviceOperator::ComputeExternAuthKey(const uint8_t* pbyChipSN, uint32_t nChipSNLen,
                                               uint8_t* pbyExternAuthKey) {
    TRACE_NAME(L"CDeviceOperator::ComputeExternAuthKey");
    uint32_t hr = 0;
    uint8_t digest[16] = {};
    uint32_t digestLen = 0;
    uint8_t cryptogram[sizeof digest + 16] = {};
    uint32_t cryptogramLen = 0;

    CHECK_GOTO(!pbyChipSN || !pbyExternAuthKey, L"CHECK pbyChipSN", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!m_pDeviceContext || !m_pDeviceContext->GetDeviceHandle(), L"CHECK m_pDeviceContext",
               DEVOP_E_NULL_POINTER);
    hr = FoldResult(Hash_Digest(SOFT_HASH_MD5, pbyChipSN, nChipSNLen, digest, &digestLen));
    CHECK_GOTO(hr != 0, L"Hash_Digest", hr);
    TRACE_STEP(L"Hash_Digest");
    hr = FoldResult(CSymKeyHandle::Encrypt(m_pDeviceContext->GetDeviceHandle()->m_byAlgID, SOFT_MODE_CBC,
                                           g_abyExternAuthMasterKey, nullptr, digest, digestLen, cryptogram,
                                           &cryptogramLen));
    CHECK_GOTO(hr != 0, L"CSymKeyHandle::Encrypt", hr);
    TRACE_STEP(L"CSymKeyHandle::Encrypt");
    std::memcpy(pbyExternAuthKey, cryptogram, AUTH_KEY_LENGTH);
exit:
    // The derived key is a secret: leave no copy of it on the stack.
    SecureZeroMemory(cryptogram, sizeof cryptogram);
    SecureZeroMemory(digest, sizeof digest);
    return hr;
}

uint32_t CDeviceOperator::ExternalAuth(const uint8_t* pbyExternAuthKey) {
    TRACE_NAME(L"CDeviceOperator::ExternalAuth");
    uint32_t hr = 0;
    uint8_t authKey[AUTH_KEY_LENGTH] = {};
    uint8_t chipSN[CHIP_SN_LEN] = {};
    uint32_t chipSNLen = sizeof chipSN;
    uint8_t challenge[EXT_AUTH_CHALLENGE_LEN] = {};
    uint32_t challengeLen = sizeof challenge;
    uint8_t cryptogram[EXT_AUTH_CHALLENGE_LEN + 16] = {};
    uint32_t cryptogramLen = 0;
    VM_DEVICE_HANDLE* record = m_pDeviceContext ? m_pDeviceContext->GetDeviceHandle() : nullptr;

    CHECK_GOTO(!record, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    if (pbyExternAuthKey) {
        std::memcpy(authKey, pbyExternAuthKey, AUTH_KEY_LENGTH);
    } else {
        hr = FoldResult(m_pDeviceContext->GetAPDUChip()->GetChipSN(chipSN, &chipSNLen));
        CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUChip()->GetChipSN", hr);
        TRACE_STEP(L"m_pDeviceContext->GetAPDUChip()->GetChipSN");
        hr = FoldResult(ComputeExternAuthKey(chipSN, chipSNLen, authKey));
        CHECK_GOTO(hr != 0, L"ComputeExternAuthKey", hr);
        TRACE_STEP(L"ComputeExternAuthKey");
    }

    hr = FoldResult(m_pDeviceContext->GetAPDUPin()->ExternalAuth_Request(challenge, &challengeLen));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUPin()->ExternalAuth_Request", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUPin()->ExternalAuth_Request");
    hr = FoldResult(CSymKeyHandle::Encrypt(record->m_byAlgID, SOFT_MODE_CBC, authKey, nullptr, challenge,
                                           challengeLen, cryptogram, &cryptogramLen));
    CHECK_GOTO(hr != 0, L"CSymKeyHandle::Encrypt", hr);
    TRACE_STEP(L"CSymKeyHandle::Encrypt");
    hr = FoldResult(m_pDeviceContext->GetAPDUPin()->ExternalAuth_Response(cryptogram, cryptogramLen));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUPin()->ExternalAuth_Response", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUPin()->ExternalAuth_Response");

    // Only a key that accepted the cryptogram replaces the one in the record.
    std::memcpy(record->m_abyExtAuthKey, authKey, AUTH_KEY_LENGTH);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUPin()->SetAuthKey");
exit:
    std::memset(authKey, 0, sizeof authKey);
    return hr;
}

uint32_t CDeviceOperator::SetSessionKey(uint32_t force) {
    TRACE_NAME(L"CDeviceOperator::SetSessionKey");
    uint32_t hr = 0;
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(m_pDeviceContext->SetSessionKey(force));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->SetSessionKey", hr);
    TRACE_STEP(L"m_pDeviceContext->SetSessionKey");
exit:
    return hr;
}

uint32_t CDeviceOperator::ClearAuthCode() {
    TRACE_NAME(L"CDeviceOperator::ClearAuthCode");
    uint32_t hr = 0;
    VM_DEVICE_HANDLE* record = m_pDeviceContext ? m_pDeviceContext->GetDeviceHandle() : nullptr;
    CHECK_GOTO(!record, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(m_pDeviceContext->GetAPDUPin()->ClearAuthCode());
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUPin()->ClearAuthCode", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUPin()->ClearAuthCode");
    if (record->m_nAuthCodeLen != 0) {
        std::memset(record->m_abyAuthCode, 0, sizeof record->m_abyAuthCode);
        record->m_nAuthCodeLen = 0;
    }
exit:
    return hr;
}
