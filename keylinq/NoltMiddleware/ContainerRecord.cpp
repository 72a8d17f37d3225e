// The operator's container records: the cache of the key's records, the
// four container operations of its table and the helpers that the key and
// certificate operations use to find a container's files.
#include "ContainerRecord.h"

#include <cstring>

#include "APDUContainer.h"
#include "DeviceContext.h"
#include "DeviceOperator.h"
#include "DeviceResult.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DeviceOperator"

namespace {

constexpr uint8_t KEY_SPEC_SIGNATURE = 2;
constexpr uint8_t ALG_SM2 = 17;
constexpr uint8_t CONTAINER_TYPE_RSA = 1;
constexpr uint8_t CONTAINER_TYPE_SM2 = 2;
constexpr uint32_t MAX_LIST_RECORDS = CONTAINER_LIST_CAPACITY / CONTAINER_RECORD_LEN;  // 5

// A name that fits the record's field with its terminator.
bool FitsNameField(const char* pszName) { return std::strlen(pszName) < CONTAINER_NAME_FIELD_LEN; }

// The name length a record claims, never beyond its field.
uint32_t RecordNameLen(const CONTAINER_RECORD& record) {
    return record.header.byNameLen < CONTAINER_NAME_FIELD_LEN ? record.header.byNameLen : CONTAINER_NAME_FIELD_LEN;
}

// The size of the name list: each name with its NUL, and a closing NUL.
uint32_t NameListSize(const std::vector<CONTAINER_RECORD>& records) {
    uint32_t size = 0;
    for (const CONTAINER_RECORD& r : records) size += RecordNameLen(r) + 1;
    return size ? size + 1 : 0;
}

}  // namespace

CONTAINER_RECORD* CDeviceOperator::FindCachedContainer(const char* pszContainerName) {
    if (!pszContainerName || !FitsNameField(pszContainerName)) return nullptr;
    for (CONTAINER_RECORD& record : m_vecContainerRecord) {
        // Up to and including the terminator, within the field.
        if (std::strncmp(record.szName, pszContainerName, CONTAINER_NAME_FIELD_LEN) == 0) return &record;
    }
    return nullptr;
}

uint32_t CDeviceOperator::RemoveCachedContainer(const char* pszContainerName) {
    CONTAINER_RECORD* record = FindCachedContainer(pszContainerName);
    if (!record) return DEVOP_E_NOT_CACHED;
    m_vecContainerRecord.erase(m_vecContainerRecord.begin() + (record - m_vecContainerRecord.data()));
    return 0;
}

uint32_t CDeviceOperator::EnumContainer(char* pszNameList, uint32_t* pnSize, uint32_t /*nFlag*/) {
    TRACE_NAME(L"CDeviceOperator::EnumContainer");
    uint32_t hr = 0;
    uint8_t reply[CONTAINER_LIST_CAPACITY] = {};
    uint32_t received = sizeof reply;
    uint32_t size = 0;
    uint32_t offset = 0;

    CHECK_GOTO(!pnSize, L"CHECK pnSize", DEVOP_E_NULL_POINTER);
    if (pszNameList) {
        // The names of the cache; the caller's size is the room of its list.
        size = NameListSize(m_vecContainerRecord);
        if (*pnSize < size) {
            *pnSize = size;
            CHECK_GOTO(true, L"CHECK *pnSize", DEVOP_E_TOO_SMALL);
        }
        for (const CONTAINER_RECORD& record : m_vecContainerRecord) {
            std::memcpy(pszNameList + offset, record.szName, RecordNameLen(record));
            offset += RecordNameLen(record) + 1;
        }
        *pnSize = size;
        goto exit;
    }

    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(m_pDeviceContext->GetAPDUContainer()->EnumContainer(reply, &received));
    if (hr != 0) *pnSize = 0;
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUContainer()->EnumContainer", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUContainer()->EnumContainer");

    m_vecContainerRecord.clear();
    for (uint32_t i = 0; i < MAX_LIST_RECORDS && (i + 1) * CONTAINER_RECORD_LEN <= received; ++i) {
        CONTAINER_RECORD record;
        std::memcpy(&record, reply + i * CONTAINER_RECORD_LEN, sizeof record);
        record.header.byNameLen = uint8_t(RecordNameLen(record));
        m_vecContainerRecord.push_back(record);
    }
    *pnSize = NameListSize(m_vecContainerRecord);
exit:
    return hr;
}

uint32_t CDeviceOperator::CreateContainer(const char* pszContainerName) {
    TRACE_NAME(L"CDeviceOperator::CreateContainer");
    uint32_t hr = 0;
    VM_DEVICE_HANDLE* record = m_pDeviceContext ? m_pDeviceContext->GetDeviceHandle() : nullptr;

    CHECK_GOTO(!pszContainerName, L"CHECK pszContainerName", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!record, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!FitsNameField(pszContainerName), L"Invalid container name", DEVOP_E_CONTAINER_NAME);
    hr = FoldResult(SetSessionKey(0));
    CHECK_GOTO(hr != 0, L"SetSessionKey", hr);
    TRACE_STEP(L"SetSessionKey");
    hr = FoldResult(m_pDeviceContext->GetAPDUContainer()->CreateContainer(record->m_abyAuthCode, pszContainerName));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUContainer()->CreateContainer", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUContainer()->CreateContainer");
    CDeviceContext::TraceInfo(L"RecordVemuLog [HRESULT:0x%x]", RecordVemuLog(KEY_LOG_TAG_CREATE_CONTAINER));
exit:
    return hr;
}

uint32_t CDeviceOperator::DeleteContainer(const char* pszContainerName) {
    TRACE_NAME(L"CDeviceOperator::DeleteContainer");
    uint32_t hr = 0;
    VM_DEVICE_HANDLE* record = m_pDeviceContext ? m_pDeviceContext->GetDeviceHandle() : nullptr;

    CHECK_GOTO(!pszContainerName, L"CHECK pszContainerName", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!record, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!FitsNameField(pszContainerName), L"Invalid container name", DEVOP_E_CONTAINER_NAME);
    hr = FoldResult(SetSessionKey(0));
    CHECK_GOTO(hr != 0, L"SetSessionKey", hr);
    TRACE_STEP(L"SetSessionKey");
    hr = FoldResult(
        m_pDeviceContext->GetAPDUContainer()->DeleteContainerByName(record->m_abyAuthCode, pszContainerName));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUContainer()->DeleteContainerByName", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUContainer()->DeleteContainerByName");
    RemoveCachedContainer(pszContainerName);
    CDeviceContext::TraceInfo(L"RecordVemuLog [HRESULT:0x%x]", RecordVemuLog(KEY_LOG_TAG_DELETE_CONTAINER));
exit:
    return hr;
}

uint32_t CDeviceOperator::ReadContainer(CONTAINER_RECORD* pContainer, uint32_t bFromMemoryOnly) {
    TRACE_NAME(L"CDeviceOperator::ReadContainer");
    uint32_t hr = 0;
    const CONTAINER_RECORD* cached = nullptr;
    uint32_t received = CONTAINER_OPEN_REPLY_LEN;
    uint8_t header[CONTAINER_OPEN_REPLY_LEN] = {};

    CHECK_GOTO(!pContainer, L"CHECK pContainer", DEVOP_E_NULL_POINTER);
    // The name must end within its field.
    CHECK_GOTO(std::memchr(pContainer->szName, 0, CONTAINER_NAME_FIELD_LEN) == nullptr, L"Invalid container name",
               DEVOP_E_CONTAINER_NAME);
    cached = FindCachedContainer(pContainer->szName);
    if (cached) {
        std::memcpy(&pContainer->header, &cached->header, sizeof pContainer->header);
        goto exit;
    }
    CHECK_GOTO(bFromMemoryOnly, L"Invalid container name", DEVOP_E_CONTAINER_NAME);
    CHECK_GOTO(!m_pDeviceContext, L"CHECK m_pDeviceContext", DEVOP_E_NULL_POINTER);
    hr = FoldResult(m_pDeviceContext->GetAPDUContainer()->OpenContainer(pContainer->szName, header, &received));
    CHECK_GOTO(hr != 0, L"m_pDeviceContext->GetAPDUContainer()->OpenContainer", hr);
    TRACE_STEP(L"m_pDeviceContext->GetAPDUContainer()->OpenContainer");
    std::memcpy(pContainer, header, received < sizeof header ? received : sizeof header);
    pContainer->header.byNameLen = uint8_t(std::strlen(pContainer->szName));
    m_vecContainerRecord.push_back(*pContainer);
exit:
    return hr;
}

uint32_t CDeviceOperator::GetContainerInfo(const char* pszContainerName, uint8_t byKeySpec, uint8_t* pbyAlgID,
                                           uint16_t* pnKeyFID, uint16_t* pnCertFID, uint32_t bFromMemoryOnly) {
    TRACE_NAME(L"CDeviceOperator::GetContainerInfo");
    uint32_t hr = 0;
    CONTAINER_RECORD record = {};
    uint16_t fileId = 0;

    CHECK_GOTO(!pszContainerName, L"CHECK pszContainerName", DEVOP_E_NULL_POINTER);
    CHECK_GOTO(!FitsNameField(pszContainerName), L"Invalid container name", DEVOP_E_CONTAINER_NAME);
    std::memcpy(record.szName, pszContainerName, std::strlen(pszContainerName));
    hr = FoldResult(ReadContainer(&record, bFromMemoryOnly));
    CHECK_GOTO(hr != 0, L"ReadContainer", hr);
    TRACE_STEP(L"ReadContainer");
    if (pbyAlgID) *pbyAlgID = byKeySpec == KEY_SPEC_SIGNATURE ? record.header.SignKeyType : record.header.ExKeyType;
    fileId = uint16_t(record.header.abyFileIDBase[0] << 8 | (record.header.abyFileIDBase[1] | byKeySpec));
    if (pnKeyFID) *pnKeyFID = fileId;
    if (pnCertFID) *pnCertFID = fileId;
exit:
    return hr;
}

uint32_t CDeviceOperator::UpdateContainerKeyType(const char* pszContainerName, uint8_t byKeySpec, uint8_t byAlgID) {
    TRACE_NAME(L"CDeviceOperator::UpdateContainerKeyType");
    uint32_t hr = 0;
    CONTAINER_RECORD* record = nullptr;

    CHECK_GOTO(!pszContainerName, L"CHECK pszContainerName", DEVOP_E_NULL_POINTER);
    record = FindCachedContainer(pszContainerName);
    if (!record) {
        CDeviceContext::TraceInfo(L"No found container named %s from memory.", pszContainerName);
        goto exit;
    }
    record->header.byType = byAlgID == ALG_SM2 ? CONTAINER_TYPE_SM2 : CONTAINER_TYPE_RSA;
    if (byKeySpec == KEY_SPEC_SIGNATURE)
        record->header.SignKeyType = byAlgID;
    else
        record->header.ExKeyType = byAlgID;
    CDeviceContext::TraceInfo(L"Update %s key of container named %s success.",
                              byKeySpec == KEY_SPEC_SIGNATURE ? "SIGNATURE" : "EXCHANGE", pszContainerName);
exit:
    return hr;
}

uint32_t CDeviceOperator::UpdateContainerCertFlag(const char* pszContainerName, uint8_t byKeySpec) {
    TRACE_NAME(L"CDeviceOperator::UpdateContainerCertFlag");
    uint32_t hr = 0;
    CONTAINER_RECORD* record = nullptr;

    CHECK_GOTO(!pszContainerName, L"CHECK pszContainerName", DEVOP_E_NULL_POINTER);
    record = FindCachedContainer(pszContainerName);
    if (!record) {
        CDeviceContext::TraceInfo(L"No found container named %s from memory.", pszContainerName);
        goto exit;
    }
    if (byKeySpec == KEY_SPEC_SIGNATURE)
        record->header.bySignCertFlag = 1;
    else
        record->header.byExCertFlag = 1;
    CDeviceContext::TraceInfo(L"Update %s cert of container named %s success.",
                              byKeySpec == KEY_SPEC_SIGNATURE ? "SIGNATURE" : "EXCHANGE", pszContainerName);
exit:
    return hr;
}
