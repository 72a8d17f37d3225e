// The device operator's token operations: device information, label and
// serial numbers, application information, flash paging, the data files of
// the key's application, the administrator-key signature, and the
// operations this library does not offer.
#include <algorithm>
#include <cstring>
#include <new>

#include "APDUChip.h"
#include "APDUChipNolt.h"
#include "APDUCrypto.h"
#include "APDUFile.h"
#include "DeviceContext.h"
#include "DeviceOperator.h"
#include "DeviceResult.h"
#include "SoftCrypto.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DeviceOperator"

namespace {

constexpr uint32_t APP_NAME_LEN = 32;
constexpr uint32_t APP_INFO_LEN = APPLICATION_INFO_LEN - APP_NAME_LEN;  // 40
constexpr uint32_t APP_WORK_LEN = 128;
constexpr uint32_t TOKEN_VALUE_WORK_LEN = 32;
constexpr uint32_t FILE_INFO_WORK_LEN = 32;
constexpr uint8_t FILE_INFO_SIZE = 0;  // kind 0: the file's size
constexpr uint8_t ADMIN_ALG_SM2 = 17;
constexpr uint8_t ADMIN_ALG_RSA = 1;

// Numbers of the device information record that the key sends big-endian
// and readers use in host order.
constexpr uint32_t DEVINFO_U32_OFFSETS[] = {200, 204, 208, 212, 216, 220};
constexpr uint32_t DEVINFO_U16_OFFSETS[] = {224, 226, 228, 232, 234};

uint32_t Unsupported(const wchar_t* traceFunc_) {
    TRACE_FAIL(L"Unsupported function", L"TRUE", DEVOP_E_UNSUPPORTED);
    return DEVOP_E_UNSUPPORTED;
}

}  // namespace

uint32_t CDeviceOperator::SignWithAdminKey(const uint8_t* pbyRawBuf, uint32_t nRawLen, uint8_t* pbySignBuf,
                                           uint32_t* pnSignLen) {
    TRACE_NAME(L"CDeviceOperator::SignWithAdminKey");
    uint32_t hr = 0;
    VM_DEVICE_HANDLE* record = nullptr;
    CHECK_GOTO(!pbyRawBuf || !pbySignBuf || !pnSignLen, L"CHECK pbyRawBuf", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!m_pDeviceContext || !(record = m_pDeviceContext->GetDeviceHandle()), L"CHECK m_pDeviceContext",
               DEVOP_E_NULL_POINTER);
    hr = FoldResult(SetSessionKey(0));
    CHECK_GOTO(hr != 0, L"SetSessionKey", hr);
    TRACE_STEP(L"SetSessionKey");
    hr = FoldResult(m_pDeviceContext->GetAPDUCrypto()->SignWithAdminKey(
        record->m_abyAuthCode, record->m_byAlgID == SOFT_ALG_SM4 ? ADMIN_ALG_SM2 : ADMIN_ALG_RSA, pbyRawBuf, nRawLen,
        pbySignBuf, pnSignLen));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUCrypto()->SignWithAdminKey", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUCrypto()->SignWithAdminKey");
exit:
    return hr;
}

uint32_t CDeviceOperator::GetChipSN(uint8_t* pbyChipSN, uint32_t* pnSNLen) {
    TRACE_NAME(L"CDeviceOperator::GetChipSN");
    uint32_t hr = 0;
    CHECK_GOTO(!pbyChipSN || !pnSNLen, L"CHECK pbyChipSN", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(m_pDeviceContext->GetAPDUChip()->GetChipSN(pbyChipSN, pnSNLen));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUChip()->GetChipSN", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUChip()->GetChipSN");
exit:
    return hr;
}

uint32_t CDeviceOperator::EraseMF() {
    TRACE_NAME(L"CDeviceOperator::EraseMF");
    return Unsupported(traceFunc_);
}

uint32_t CDeviceOperator::EraseCOS() {
    TRACE_NAME(L"CDeviceOperator::EraseCOS");
    return Unsupported(traceFunc_);
}

uint32_t CDeviceOperator::InitTokenFile() {
    TRACE_NAME(L"CDeviceOperator::InitTokenFile");
    return Unsupported(traceFunc_);
}

uint32_t CDeviceOperator::InitTokenApp() {
    TRACE_NAME(L"CDeviceOperator::InitTokenApp");
    return Unsupported(traceFunc_);
}

uint32_t CDeviceOperator::GetTokenAppInfo(char* pszAppName, uint8_t* pAppInfo) {
    TRACE_NAME(L"CDeviceOperator::GetTokenAppInfo");
    uint32_t hr = 0;
    uint8_t reply[APP_WORK_LEN] = {};
    uint32_t replyLen = sizeof reply;
    CHECK_GOTO(!pszAppName, L"CHECK pszAppName", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!pAppInfo, L"CHECK pAppInfo", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(m_pDeviceContext->GetAPDUFile()->OpenApplication(reply, &replyLen));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUFile()->OpenApplication", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUFile()->OpenApplication");
    // A reply without the whole name carries no information part.
    CHECK_GOTO(replyLen < APP_NAME_LEN, L"CHECK replyLen", DEVOP_E_SHORT_REPLY);
    std::memcpy(pszAppName, reply, APP_NAME_LEN);
    std::memcpy(pAppInfo, reply + APP_NAME_LEN, std::min(replyLen - APP_NAME_LEN, APP_INFO_LEN));
exit:
    return hr;
}

uint32_t CDeviceOperator::GetDeviceInfo(uint8_t* pDevInfo) {
    TRACE_NAME(L"CDeviceOperator::GetDeviceInfo");
    uint32_t hr = 0;
    uint32_t infoLen = DEVICE_INFO_RECORD_LEN;
    CHECK_GOTO(!pDevInfo, L"CHECK pDevInfo", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    std::memset(pDevInfo, 0, DEVICE_INFO_RECORD_LEN);
    hr = FoldResult(m_pDeviceContext->GetAPDUChip()->GetDevInfo(pDevInfo, &infoLen));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUChip()->GetDevInfo", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUChip()->GetDevInfo");
    if (infoLen < DEVICE_INFO_RECORD_LEN) {
        // Part of the record would be missing: nothing in it is trusted.
        std::memset(pDevInfo, 0, DEVICE_INFO_RECORD_LEN);
        CHECK_GOTO(true, L"CHECK infoLen", DEVOP_E_SHORT_REPLY);
    }
    for (uint32_t offset : DEVINFO_U32_OFFSETS) std::reverse(pDevInfo + offset, pDevInfo + offset + 4);
    for (uint32_t offset : DEVINFO_U16_OFFSETS) std::reverse(pDevInfo + offset, pDevInfo + offset + 2);
exit:
    return hr;
}

uint32_t CDeviceOperator::SetTokenLabel(const char* pszLabel, uint32_t nLabelLen) {
    TRACE_NAME(L"CDeviceOperator::SetTokenLabel");
    uint32_t hr = 0;
    uint8_t label[TOKEN_LABEL_LEN] = {};
    CHECK_GOTO(!pszLabel, L"CHECK pszLabel", DEVOP_E_NULL_POINTER);
    if (nLabelLen > TOKEN_LABEL_LEN) {
        TRACE_FAIL(L"CHECK nLabelLen", L"nLabelLen > 0x20", DEVOP_E_TOO_LONG);
        return DEVOP_E_TOO_LONG;
    }
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    std::memcpy(label, pszLabel, nLabelLen);
    hr = FoldResult(m_pDeviceContext->GetAPDUChip()->SetTokenLabel(label));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUChip()->SetTokenLabel", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUChip()->SetTokenLabel");
exit:
    return hr;
}

namespace {

// The size-then-data read of the label and the token serial number.
template <class Read>
uint32_t ReadTokenValue(const wchar_t* traceFunc_, const wchar_t* sizeStep, const wchar_t* sizeReason, Read read,
                        char* pszOut, uint32_t* pnLen) {
    uint32_t hr = 0;
    uint8_t value[TOKEN_VALUE_WORK_LEN] = {};
    uint32_t count = sizeof value;
    CHECK_GOTO(!pnLen, L"CHECK pnLen", DEVOP_E_NULL_POINTER);
    hr = FoldResult(read(value, &count));
    if (hr != 0) {
        *pnLen = 0;
        CHECK_GOTO(true, L"Read value", hr);
    }
    if (!pszOut) {
        *pnLen = count;
        goto exit;
    }
    if (*pnLen < count) {
        *pnLen = count;
        TRACE_FAIL(sizeStep, sizeReason, DEVOP_E_TOO_SMALL);
        return DEVOP_E_TOO_SMALL;
    }
    std::memcpy(pszOut, value, count);
    *pnLen = count;
exit:
    return hr;
}

}  // namespace

uint32_t CDeviceOperator::GetTokenLabel(char* pszLabel, uint32_t* pnLabelLen) {
    TRACE_NAME(L"CDeviceOperator::GetTokenLabel");
    if (!m_pDeviceContext) return DEVOP_E_NULL_POINTER;
    CAPDUChip* chip = m_pDeviceContext->GetAPDUChip();
    return ReadTokenValue(
        traceFunc_, L"Check *pnLabelLen SIZE", L"*pnLabelLen < datalen",
        [chip](uint8_t* out, uint32_t* len) { return chip->GetTokenLabel(out, len); }, pszLabel, pnLabelLen);
}

uint32_t CDeviceOperator::SetTokenSN(const char* pszSN, uint32_t nSNLen) {
    TRACE_NAME(L"CDeviceOperator::SetTokenSN");
    uint32_t hr = 0;
    CHECK_GOTO(!pszSN, L"CHECK pszSN", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(
        m_pDeviceContext->GetAPDUChip()->SetTokenSN(reinterpret_cast<const uint8_t*>(pszSN), nSNLen));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUChip()->SetTokenSN", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUChip()->SetTokenSN");
exit:
    return hr;
}

uint32_t CDeviceOperator::GetTokenSN(char* pszSN, uint32_t* pnSNLen) {
    TRACE_NAME(L"CDeviceOperator::GetTokenSN");
    if (!m_pDeviceContext) return DEVOP_E_NULL_POINTER;
    CAPDUChip* chip = m_pDeviceContext->GetAPDUChip();
    return ReadTokenValue(
        traceFunc_, L"Check *pnSNLen SIZE", L"*pnSNLen < datalen",
        [chip](uint8_t* out, uint32_t* len) { return chip->GetTokenSN(out, len); }, pszSN, pnSNLen);
}

uint32_t CDeviceOperator::WriteFlash(uint16_t nPage, const uint8_t* pbyInBuf, uint32_t nInLen) {
    TRACE_NAME(L"CDeviceOperator::WriteFlash");
    uint32_t hr = 0;
    // The chip command always writes a whole page of its own length.
    const uint32_t pageRoom = std::max(m_nFlashWriteLen, FLASH_PAGE_LEN);
    uint8_t* page = nullptr;
    uint32_t address = uint32_t(nPage) * m_nFlashWriteLen;
    uint32_t remaining = nInLen;

    CHECK_GOTO(!pbyInBuf, L"CHECK pbyInBuf", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    page = new (std::nothrow) uint8_t[pageRoom]();
    CHECK_GOTO(!page, L"New buffer", DEVOP_E_OUT_OF_MEMORY);
    while (remaining > 0) {
        const uint32_t piece = std::min(remaining, m_nFlashWriteLen);
        std::memcpy(page, pbyInBuf + (nInLen - remaining), piece);
        if (piece < m_nFlashWriteLen) std::memset(page + piece, 0xFF, m_nFlashWriteLen - piece);
        hr = FoldResult(m_pDeviceContext->GetAPDUChip()->WriteFlash(address, page));
        CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUChip()->WriteFlash", hr);
        address += piece;
        remaining -= piece;
    }
    TRACE_STEP(L"m_pDeviceContext->GetAPDUChip()->WriteFlash");
exit:
    delete[] page;
    return hr;
}

uint32_t CDeviceOperator::ReadFlash(uint16_t nPage, uint8_t* pbyOutBuf, uint32_t nOutLen) {
    TRACE_NAME(L"CDeviceOperator::ReadFlash");
    uint32_t hr = 0;
    // The chip command fills a block of its family's length, which may be
    // longer than this operator's (2048 bytes for the family in use).
    const uint32_t blockRoom = std::max(m_nFlashReadLen, FLASH_NOLT_READ_LEN);
    uint8_t* block = nullptr;
    uint32_t address = uint32_t(nPage) * (m_nFlashReadLen / 2);
    uint32_t position = 0;

    CHECK_GOTO(!pbyOutBuf, L"CHECK pbyOutBuf", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    block = new (std::nothrow) uint8_t[blockRoom]();
    CHECK_GOTO(!block, L"New buffer", DEVOP_E_OUT_OF_MEMORY);
    while (position < nOutLen) {
        const uint32_t piece = std::min(nOutLen - position, m_nFlashReadLen);
        hr = FoldResult(m_pDeviceContext->GetAPDUChip()->ReadFlash(address, block));
        CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUChip()->ReadFlash", hr);
        std::memcpy(pbyOutBuf + position, block, piece);
        address += piece;
        position += piece;
    }
    TRACE_STEP(L"m_pDeviceContext->GetAPDUChip()->ReadFlash");
exit:
    delete[] block;
    return hr;
}

uint32_t CDeviceOperator::EraseFlash() {
    TRACE_NAME(L"CDeviceOperator::EraseFlash");
    uint32_t hr = 0;
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(m_pDeviceContext->GetAPDUChip()->EraseFlash());
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUChip()->EraseFlash", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUChip()->EraseFlash");
exit:
    return hr;
}

uint32_t CDeviceOperator::GetCosFileInfo(uint16_t nFileID, uint8_t byKind, uint32_t nBufSize, uint8_t* pbyDataBuf) {
    TRACE_NAME(L"CDeviceOperator::GetCosFileInfo");
    uint32_t hr = 0;
    uint8_t info[FILE_INFO_WORK_LEN] = {};
    uint32_t infoLen = sizeof info;
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(m_pDeviceContext->GetAPDUFile()->GetFileInfo(nFileID, byKind, info, &infoLen));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUFile()->GetFileInfo", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUFile()->GetFileInfo");
    if (!pbyDataBuf) goto exit;  // only whether the file exists
    CHECK_GOTO(nBufSize < infoLen, L"CHECK nBufSize SIZE", DEVOP_E_TOO_SMALL);
    if (byKind == FILE_INFO_SIZE) std::reverse(info, info + infoLen);
    std::memcpy(pbyDataBuf, info, infoLen);
exit:
    return hr;
}

uint32_t CDeviceOperator::CreateCosFile(uint16_t nFileID, uint16_t nSize) {
    TRACE_NAME(L"CDeviceOperator::CreateCosFile");
    uint32_t hr = 0;
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(m_pDeviceContext->GetAPDUFile()->CreateDataFile(nFileID, nSize));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUFile()->CreateDataFile", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUFile()->CreateDataFile");
exit:
    return hr;
}

uint32_t CDeviceOperator::DeleteCosFile(uint16_t nFileID) {
    TRACE_NAME(L"CDeviceOperator::DeleteCosFile");
    uint32_t hr = 0;
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(m_pDeviceContext->GetAPDUFile()->DeleteDataFile(nFileID));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUFile()->DeleteDataFile", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUFile()->DeleteDataFile");
exit:
    return hr;
}

uint32_t CDeviceOperator::WriteCosFile(uint16_t nOffset, uint16_t nFileID, const uint8_t* pbyInbuf, uint32_t nInLen) {
    TRACE_NAME(L"CDeviceOperator::WriteCosFile");
    uint32_t hr = 0;
    CHECK_GOTO(!pbyInbuf, L"CHECK pbyInbuf", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(m_pDeviceContext->GetAPDUFile()->WriteFile(nFileID, nOffset, pbyInbuf, nInLen));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUFile()->WriteFile", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUFile()->WriteFile");
exit:
    return hr;
}

uint32_t CDeviceOperator::ReadCosFile(uint16_t nOffset, uint16_t nFileID, uint8_t* pbyOutbuf, uint32_t* pnOutLen) {
    TRACE_NAME(L"CDeviceOperator::ReadCosFile");
    uint32_t hr = 0;
    CHECK_GOTO(!pbyOutbuf || !pnOutLen, L"CHECK pbyOutbuf", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(m_pDeviceContext->GetAPDUFile()->ReadFile(nFileID, nOffset, pbyOutbuf, pnOutLen));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUFile()->ReadFile", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUFile()->ReadFile");
exit:
    return hr;
}
