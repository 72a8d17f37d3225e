// The certificates of container keys: written into and read from the
// certificate file of the key's file id, in pieces of at most 256 bytes. A
// certificate is a DER SEQUENCE with a two-byte content length (30 82 hi lo),
// at most FILE_SIZE_CERT bytes long with its header.
#include <cstring>

#include "APDUKey.h"
#include "DeviceContext.h"
#include "DeviceOperator.h"
#include "DeviceResult.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DeviceOperator"

namespace {

constexpr uint32_t DEVOP_E_CERT = 0x8007020Bu;
constexpr uint32_t CERT_HEADER_LEN = 4;
constexpr uint32_t CERT_HEADER_READ_LEN = 16;
constexpr uint32_t CERT_PIECE_LEN = 256;
constexpr uint8_t CERT_P1_MORE = 0xA0;
constexpr uint8_t CERT_P1_LAST = 0xB0;
constexpr uint8_t CERT_P1_FIRST = 0x01;

}  // namespace

uint32_t CDeviceOperator::ImportCert(const char* pszContainerName, uint8_t byKeyType, const uint8_t* pbyCertBuf,
                                     uint32_t nCertLen) {
    TRACE_NAME(L"CDeviceOperator::ImportCert");
    uint32_t hr = 0;
    uint16_t certFID = 0;
    CHECK_GOTO(!pszContainerName || !pbyCertBuf, L"CHECK pszContainerName", DEVOP_E_NULL_POINTER);
    hr = FoldResult(GetContainerInfo(pszContainerName, byKeyType, nullptr, nullptr, &certFID, 0));
    CHECK_GOTO(hr != 0, L"GetContainerInfo", hr);
    TRACE_STEP(L"GetContainerInfo");
    hr = FoldResult(SetSessionKey(0));
    CHECK_GOTO(hr != 0, L"SetSessionKey", hr);
    TRACE_STEP(L"SetSessionKey");
    hr = FoldResult(WriteCertFile(certFID, pbyCertBuf, nCertLen));
    CHECK_GOTO(hr != 0, L"WriteCertFile", hr);
    TRACE_STEP(L"WriteCertFile");
    UpdateContainerCertFlag(pszContainerName, byKeyType);
    {
        const uint32_t logResult = RecordVemuLog("WriCert");
        CDeviceContext::TraceInfo(L"%ls - RecordVemuLog [HRESULT:0x%x]", traceFunc_, logResult);
    }
exit:
    return hr;
}

uint32_t CDeviceOperator::WriteCertFile(uint16_t nCertFID, const uint8_t* pbyCertBuf, uint32_t nCertLen) {
    TRACE_NAME(L"CDeviceOperator::WriteCertFile");
    uint32_t hr = 0;
    uint32_t contentLen = 0;
    const uint8_t* authCode = nullptr;
    CHECK_GOTO(!pbyCertBuf, L"CHECK pbyCertBuf", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    // The header is read only when it is there.
    CHECK_GOTO(nCertLen < CERT_HEADER_LEN, L"CHECK nCertLen", DEVOP_E_CERT);
    contentLen = uint32_t(pbyCertBuf[2]) << 8 | pbyCertBuf[3];
    // Only a certificate that ReadCertFile can give back is written.
    CHECK_GOTO(contentLen + CERT_HEADER_LEN > FILE_SIZE_CERT, L"CHECK Cert Length", DEVOP_E_CERT);
    CHECK_GOTO(contentLen != nCertLen - CERT_HEADER_LEN, L"CHECK nCertLen", DEVOP_E_CERT);

    authCode = m_pDeviceContext->GetDeviceHandle()->m_abyAuthCode;
    for (uint32_t offset = 0; offset < nCertLen;) {
        const uint32_t left = nCertLen - offset;
        const uint32_t piece = left < CERT_PIECE_LEN ? left : CERT_PIECE_LEN;
        uint8_t p1 = left > CERT_PIECE_LEN ? CERT_P1_MORE : CERT_P1_LAST;
        if (offset == 0) p1 |= CERT_P1_FIRST;
        hr = FoldResult(m_pDeviceContext->GetAPDUKey()->WriteCert(p1, authCode, nCertFID, uint16_t(offset),
                                                                  pbyCertBuf + offset, piece));
        CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUKey()->WriteCert", hr);
        offset += piece;
    }
    TRACE_STEP(L"m_pDeviceContext->GetAPDUKey()->WriteCert");
exit:
    return hr;
}

uint32_t CDeviceOperator::ExportCert(const char* pszContainerName, uint8_t byKeyType, uint8_t* pbyCertBuf,
                                     uint32_t* pnCertLen) {
    TRACE_NAME(L"CDeviceOperator::ExportCert");
    uint32_t hr = 0;
    uint16_t certFID = 0;
    CHECK_GOTO(!pszContainerName || !pnCertLen, L"CHECK pszContainerName", DEVOP_E_NULL_POINTER);
    // The container object loaded its record when it was opened.
    hr = FoldResult(GetContainerInfo(pszContainerName, byKeyType, nullptr, nullptr, &certFID, 1));
    CHECK_GOTO(hr != 0, L"GetContainerInfo", hr);
    TRACE_STEP(L"GetContainerInfo");
    hr = FoldResult(ReadCertFile(certFID, pbyCertBuf, pnCertLen));
    CHECK_GOTO(hr != 0, L"ReadCertFile", hr);
    TRACE_STEP(L"ReadCertFile");
exit:
    return hr;
}

uint32_t CDeviceOperator::ReadCertFile(uint16_t nCertFID, uint8_t* pbyCertBuf, uint32_t* pnCertLen) {
    TRACE_NAME(L"CDeviceOperator::ReadCertFile");
    uint32_t hr = 0;
    uint8_t header[CERT_HEADER_READ_LEN] = {};
    uint32_t received = sizeof header;
    uint32_t certLen = 0;
    CHECK_GOTO(!pnCertLen, L"CHECK pnCertLen", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(m_pDeviceContext->GetAPDUKey()->ReadCert(nCertFID, 0, header, &received));
    if (hr == 0 && received < CERT_HEADER_LEN) hr = DEVOP_E_SHORT_REPLY;
    if (hr != 0) {
        *pnCertLen = 0;
        CHECK_GOTO(true, L"m_pDeviceContext->GetAPDUKey()->ReadCert", hr);
    }
    certLen = (uint32_t(header[2]) << 8 | header[3]) + CERT_HEADER_LEN;
    CHECK_GOTO(0x30 != header[0], L"CHECK Cert Head", DEVOP_E_CERT);
    CHECK_GOTO(certLen > FILE_SIZE_CERT, L"CHECK Cert Length", DEVOP_E_CERT);
    if (!pbyCertBuf) goto exit;
    CHECK_GOTO(*pnCertLen < certLen, L"CHECK *pnCertLen SIZE", DEVOP_E_TOO_SMALL);

    for (uint32_t offset = 0; offset < certLen;) {
        const uint32_t left = certLen - offset;
        uint32_t piece = left < CERT_PIECE_LEN ? left : CERT_PIECE_LEN;
        hr = FoldResult(m_pDeviceContext->GetAPDUKey()->ReadCert(nCertFID, uint16_t(offset), pbyCertBuf + offset,
                                                                 &piece));
        CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUKey()->ReadCert", hr);
        // A key that answers a piece with no bytes would keep the loop going.
        CHECK_GOTO(piece == 0, L"m_pDeviceContext->GetAPDUKey()->ReadCert", DEVOP_E_SHORT_REPLY);
        offset += piece;
    }
    TRACE_STEP(L"m_pDeviceContext->GetAPDUKey()->ReadCert");
exit:
    if (pnCertLen && certLen != 0) *pnCertLen = certLen;
    return hr;
}
