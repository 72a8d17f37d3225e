// The edition's application: the read-only virtual file "Container.ini",
// whose content is the key's list of available containers, and the
// edition's container class.
#include <cstring>
#include <new>

#include "APDUContainer.h"
#include "ApplicationObject.h"
#include "ContainerObject.h"
#include "DeviceContext.h"
#include "SarFromResult.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"ApplicationZOPRA"

namespace {

constexpr uint32_t CONTAINER_LIST_REPLY_LEN = 256;

bool IsContainerConfigFile(const char* szFileName) {
    return szFileName && strcmp(szFileName, CONTAINER_CONFIG_FILE) == 0;
}

uint32_t RefuseConfigFileChange() {
    TRACE_NAME(L"CApplicationZOPRA::CosFile");
    TRACE_FAIL(L"COMPARE CONTAINER_CONFIG_FILE", L"0 == strcmp(szFileName, CONTAINER_CONFIG_FILE)",
               HRESULT(SAR_NOTSUPPORTYETERR));
    return SAR_NOTSUPPORTYETERR;
}

}  // namespace

CApplicationZOPRA::CApplicationZOPRA(CDeviceContext* pDeviceContext) : CApplicationObject(pDeviceContext) {
    CDeviceContext::TraceInfo(L"CApplicationZOPRA: Constructor");
}

CApplicationZOPRA::~CApplicationZOPRA() { CDeviceContext::TraceInfo(L"CApplicationZOPRA: Destructor"); }

CContainerObject* CApplicationZOPRA::NewContainerObject() {
    return new (std::nothrow) CContainerZOPRA(m_pDeviceContext);
}

uint32_t CApplicationZOPRA::OpenContainer(const char* szContainerName, HCONTAINER* phContainer) {
    return CApplicationObject::OpenContainer(szContainerName, phContainer);
}

uint32_t CApplicationZOPRA::EnumAvailableContainer(BYTE* pbData, ULONG* pulSize) {
    TRACE_NAME(L"CApplicationZOPRA::EnumAvailableContainer");
    uint32_t hr = 0;
    uint8_t reply[CONTAINER_LIST_REPLY_LEN] = {};
    uint32_t len = sizeof reply;
    CAPDUContainerQuib* quib = nullptr;
    CHECK_GOTO(!pulSize, L"CHECK pulSize", SAR_INVALIDPARAMERR);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", SAR_INVALIDHANDLEERR);
    quib = dynamic_cast<CAPDUContainerQuib*>(m_pDeviceContext->GetAPDUContainer());
    CHECK_GOTO(!quib, L"CHECK CAPDUContainerQuib", MW_E_NULL_POINTER);
    hr = FoldObjectResult(quib->EnumAvailableContainer(reply, &len));
    CHECK_GOTO(hr != 0, L"CAPDUContainerQuib::EnumAvailableContainer", hr);
    if (len > sizeof reply) len = sizeof reply;
    if (!pbData) {
        *pulSize = len;
        goto exit;
    }
    if (*pulSize < len) {
        *pulSize = len;
        CHECK_GOTO(true, L"CHECK *pulSize", SAR_BUFFER_TOO_SMALL);
    }
    memcpy(pbData, reply, len);
    *pulSize = len;
exit:
    return hr;
}

uint32_t CApplicationZOPRA::GetCosFileInfo(const char* szFileName, FILEATTRIBUTE* pFileInfo) {
    TRACE_NAME(L"CApplicationZOPRA::GetCosFileInfo");
    if (!IsContainerConfigFile(szFileName)) return CApplicationObject::GetCosFileInfo(szFileName, pFileInfo);
    ULONG size = 0;
    const uint32_t hr = EnumAvailableContainer(nullptr, &size);
    if (hr != 0) {
        TRACE_FAIL(L"EnumAvailableContainer", L"SAR_OK != hResult", hr);
        return hr;
    }
    if (pFileInfo) {
        memset(pFileInfo->FileName, 0, sizeof pFileInfo->FileName);
        memcpy(pFileInfo->FileName, CONTAINER_CONFIG_FILE, strlen(CONTAINER_CONFIG_FILE));
        pFileInfo->FileSize = size;
        pFileInfo->ReadRights = 0;
        pFileInfo->WriteRights = 0;
    }
    return 0;
}

uint32_t CApplicationZOPRA::ReadCosFile(const char* szFileName, ULONG ulOffset, ULONG ulSize, BYTE* pbOutData,
                                        ULONG* pulOutLen) {
    if (!IsContainerConfigFile(szFileName))
        return CApplicationObject::ReadCosFile(szFileName, ulOffset, ulSize, pbOutData, pulOutLen);
    return EnumAvailableContainer(pbOutData, pulOutLen);
}

uint32_t CApplicationZOPRA::CreateCosFile(const char* szFileName, ULONG ulFileSize, ULONG ulReadRights,
                                          ULONG ulWriteRights) {
    if (IsContainerConfigFile(szFileName)) return RefuseConfigFileChange();
    return CApplicationObject::CreateCosFile(szFileName, ulFileSize, ulReadRights, ulWriteRights);
}

uint32_t CApplicationZOPRA::DeleteCosFile(const char* szFileName) {
    if (IsContainerConfigFile(szFileName)) return RefuseConfigFileChange();
    return CApplicationObject::DeleteCosFile(szFileName);
}

uint32_t CApplicationZOPRA::WriteCosFile(const char* szFileName, ULONG ulOffset, const BYTE* pbData, ULONG ulSize) {
    if (IsContainerConfigFile(szFileName)) return RefuseConfigFileChange();
    return CApplicationObject::WriteCosFile(szFileName, ulOffset, pbData, ulSize);
}
