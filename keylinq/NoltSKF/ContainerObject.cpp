// The container object: its record, type and certificates. Key pairs,
// public keys and signatures are in ContainerKeys.cpp; wrapped session keys
// and the SM2 key agreement, both roles, in ContainerSessionKeys.cpp. Only
// exporting a session key answers SAR_NOTSUPPORTYETERR: the library never
// hands a session key out wrapped.
#include "ContainerObject.h"

#include <cstring>

#include "DeviceContext.h"
#include "SKFDevice.h"
#include "SarFromResult.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"ContainerObject"

namespace {

uint16_t FileIDBase(const CONTAINER_RECORD& record) {
    return uint16_t(record.header.abyFileIDBase[0] << 8 | record.header.abyFileIDBase[1]);
}

}  // namespace

CContainerObject::CContainerObject(CDeviceContext* pDeviceContext)
    : CDialogObject(pDeviceContext), m_szContainerName{}, m_bSingleCert(0), m_bDeleted(0) {
    CDeviceContext::TraceInfo(L"CContainerObject: Constructor");
}

CContainerObject::~CContainerObject() { CDeviceContext::TraceInfo(L"CContainerObject: Destructor"); }

void CContainerObject::SetContainerName(const char* pszName) {
    memset(m_szContainerName, 0, sizeof m_szContainerName);
    if (!pszName) return;
    const size_t len = strnlen(pszName, VM_CTNR_NAME_LENGTH - 1);
    memcpy(m_szContainerName, pszName, len);
}

uint32_t CContainerObject::GetContainerValid(uint32_t* pAlgID, uint16_t* pnExchKeyFID, uint16_t* pnExchCertFID,
                                             uint16_t* pnSignKeyFID, uint16_t* pnSignCertFID) {
    TRACE_NAME(L"CContainerObject::GetContainerValid");
    uint32_t hr = 0;
    CONTAINER_RECORD record;
    uint16_t base = 0;
    memset(&record, 0, sizeof record);
    CHECK_GOTO(IsDeleted(), L"CHECK m_bDeleted", SAR_CONTAINER_NOT_EXISTS);
    memcpy(record.szName, m_szContainerName, sizeof record.szName);
    hr = FoldObjectResult(ReadContainer(&record, 1));
    CHECK_GOTO(hr != 0, L"ReadContainer", hr);
    CHECK_GOTO(record.header.SignKeyType == 0 && record.header.ExKeyType == 0, L"CHECK SignKeyType and ExKeyType",
               SAR_KEYNOTFOUNTERR);
    base = FileIDBase(record);
    if (pAlgID) *pAlgID = record.header.SignKeyType ? record.header.SignKeyType : record.header.ExKeyType;
    if (pnExchKeyFID) *pnExchKeyFID = record.header.ExKeyType ? uint16_t(base | VM_KEY_EXCHANGE) : 0;
    if (pnExchCertFID) *pnExchCertFID = record.header.byExCertFlag ? uint16_t(base | VM_KEY_EXCHANGE) : 0;
    if (pnSignKeyFID) *pnSignKeyFID = record.header.SignKeyType ? uint16_t(base | VM_KEY_SIGNATURE) : 0;
    if (pnSignCertFID) *pnSignCertFID = record.header.bySignCertFlag ? uint16_t(base | VM_KEY_SIGNATURE) : 0;
exit:
    return hr;
}

uint32_t CContainerObject::GetContainerType(ULONG* pulContainerType) {
    TRACE_NAME(L"CContainerObject::GetContainerType");
    uint32_t hr = 0;
    CONTAINER_RECORD record;
    memset(&record, 0, sizeof record);
    CHECK_GOTO(!pulContainerType, L"CHECK pulContainerType", SAR_INVALIDPARAMERR);
    *pulContainerType = 0;
    CHECK_GOTO(IsDeleted(), L"CHECK m_bDeleted", SAR_CONTAINER_NOT_EXISTS);
    memcpy(record.szName, m_szContainerName, sizeof record.szName);
    hr = FoldObjectResult(ReadContainer(&record, 1));
    CHECK_GOTO(hr != 0, L"ReadContainer", hr);
    CHECK_GOTO(record.header.byType != 1 && record.header.byType != 2, L"CHECK byAlgID", SAR_KEYINFOTYPEERR);
    *pulContainerType = record.header.byType;
exit:
    return hr;
}

uint32_t CContainerObject::KeySpecOf(BOOL bSignFlag, uint8_t* pKeySpec) {
    TRACE_NAME(L"CContainerObject::KeySpecOf");
    uint32_t hr = 0;
    uint16_t exchKeyFID = 0;
    uint16_t signKeyFID = 0;
    *pKeySpec = VM_KEY_EXCHANGE;
    hr = GetContainerValid(nullptr, &exchKeyFID, nullptr, &signKeyFID, nullptr);
    CHECK_GOTO(hr != 0, L"GetContainerValid", hr);
    if (!bSignFlag) {
        CHECK_GOTO(exchKeyFID == 0, L"CHECK nExchKeyFID", SAR_KEYNOTFOUNTERR);
    } else if (signKeyFID != 0) {
        *pKeySpec = VM_KEY_SIGNATURE;
    }
exit:
    return hr;
}

uint32_t CContainerObject::ImportCertificate(BOOL bSignFlag, const BYTE* pbCert, ULONG ulCertLen) {
    TRACE_NAME(L"CContainerObject::ImportCertificate");
    uint32_t hr = 0;
    uint8_t keySpec = VM_KEY_EXCHANGE;
    SKF_CALLBACK_CONTEXT context;
    context.SKFObject = this;
    hr = KeySpecOf(bSignFlag, &keySpec);
    CHECK_GOTO(hr != 0, L"KeySpecOf", hr);
    hr = FoldObjectResult(CNoltOperator::ImportCert(m_szContainerName, keySpec, pbCert, ulCertLen,
                                                    &CDialogObject::SKFOperationCallback, &context));
    CHECK_GOTO(hr != 0, L"CNoltOperator::ImportCert", hr);
    TRACE_STEP(L"CNoltOperator::ImportCert");
exit:
    return hr;
}

uint32_t CContainerObject::ExportCertificate(BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen) {
    TRACE_NAME(L"CContainerObject::ExportCertificate");
    uint32_t hr = 0;
    uint16_t exchCertFID = 0;
    uint16_t signCertFID = 0;
    uint8_t keySpec = VM_KEY_EXCHANGE;
    uint32_t certLen = 0;
    CHECK_GOTO(!pulCertLen, L"CHECK pulCertLen", SAR_INVALIDPARAMERR);
    hr = GetContainerValid(nullptr, nullptr, &exchCertFID, nullptr, &signCertFID);
    // A container without keys holds no certificate either.
    if (hr == SAR_KEYNOTFOUNTERR) hr = SAR_CERTNOTFOUNTERR;
    CHECK_GOTO(hr != 0, L"GetContainerValid", hr);
    if (!bSignFlag) {
        CHECK_GOTO(exchCertFID == 0, L"CHECK nExchCertFID", SAR_CERTNOTFOUNTERR);
    } else if (signCertFID != 0) {
        keySpec = VM_KEY_SIGNATURE;
    } else {
        // The signature certificate falls back to the exchange one, never
        // to an empty certificate file.
        CHECK_GOTO(exchCertFID == 0, L"CHECK nSignCertFID", SAR_CERTNOTFOUNTERR);
    }
    certLen = *pulCertLen;
    hr = FoldObjectResult(CDeviceOperator::ExportCert(m_szContainerName, keySpec, pbCert, &certLen));
    *pulCertLen = certLen;
    CHECK_GOTO(hr != 0, L"CDeviceOperator::ExportCert", hr);
    TRACE_STEP(L"CDeviceOperator::ExportCert");
exit:
    return hr;
}

// The session keys that the library does not hand out wrapped.
uint32_t CContainerObject::RSAExportSessionKey(ULONG, RSAPUBLICKEYBLOB*, BYTE*, ULONG*, HANDLE*) {
    return SKFNotSupported();
}
uint32_t CContainerObject::ECCExportSessionKey(ULONG, ECCPUBLICKEYBLOB*, ECCCIPHERBLOB*, HANDLE*) {
    return SKFNotSupported();
}
