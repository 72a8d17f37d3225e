// The application's emulated files: up to four named files, each a range of
// the key's data files, listed in the record file 0xD000. Every operation
// reloads the record file from the key first (the export holds the device
// mutex), so no handle works from a copy that another handle or process
// has changed meanwhile.
#include <cstring>
#include <vector>

#include "ApplicationObject.h"
#include "DeviceContext.h"
#include "SKFApi.h"
#include "SarFromResult.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"ApplicationObject"

namespace {

constexpr uint32_t KEY_E_FILE_NOT_FOUND = 0x8000F102u;  // VM_ERR_FILE_NO_EXISTS
constexpr char DATA_OBJECT_MAGIC[4] = {'P', 'E', 'L', 'Q'};
constexpr ULONG SECURE_NEVER_ACCOUNT = 0x00;
constexpr ULONG SECURE_USER_ACCOUNT = 0x10;
constexpr ULONG SECURE_ANYONE_ACCOUNT = 0xFF;
// A header counts only where the content needs a second data file.
constexpr uint32_t MIN_HEADER_CONTENT_LEN = MAX_FILE_CONTENT_LEN - sizeof(DATA_OBJECT_HEADER) + 1;  // 24569

uint16_t FirstDataFile(uint32_t nIndex) {
    return uint16_t(DATA_OBJECT_FILE_ID_BASE + DATA_OBJECT_FILE_ID_STEP * nIndex);
}

// The number of data files and the length of piece k of a stored object of
// total length `stored` (header included when there is one).
uint32_t PieceCount(uint32_t stored) { return (stored + MAX_FILE_CONTENT_LEN - 1) / MAX_FILE_CONTENT_LEN; }
uint32_t PieceLength(uint32_t stored, uint32_t k) {
    const uint32_t rest = stored - k * MAX_FILE_CONTENT_LEN;
    return rest > MAX_FILE_CONTENT_LEN ? MAX_FILE_CONTENT_LEN : rest;
}

bool NameEquals(const char* stored, uint32_t storedLen, const char* name) {
    return storedLen == strlen(name) && memcmp(stored, name, storedLen) == 0;
}

}  // namespace

bool CApplicationObject::RecordUsable(const OBJECT_RECORD& record) {
    return record.bUsedFlag == 1 && record.nAppNameLen <= OBJECT_NAME_FIELD &&
           record.nFileNameLen <= OBJECT_NAME_FIELD;
}

uint32_t CApplicationObject::DataFileSize(uint16_t nFileID, uint32_t* pnSize) {
    uint8_t info[4] = {};
    const uint32_t hr = FoldObjectResult(CDeviceOperator::GetCosFileInfo(nFileID, 0, sizeof info, info));
    *pnSize = hr == 0 ? uint32_t(info[0]) | uint32_t(info[1]) << 8 : 0;
    return hr;
}

uint32_t CApplicationObject::DeleteDataFileTolerant(uint16_t nFileID) {
    const uint32_t hr = FoldObjectResult(CDeviceOperator::DeleteCosFile(nFileID));
    return hr == KEY_E_FILE_NOT_FOUND ? 0 : hr;
}

uint32_t CApplicationObject::LoadObjectRecords() {
    TRACE_NAME(L"CApplicationObject::LoadObjectRecords");
    uint32_t hr = 0;
    uint32_t size = 0;
    uint32_t len = 0;
    OBJECT_RECORD records[MAX_DATA_RECORD_NUMBER] = {};
    hr = DataFileSize(OBJECT_RECORD_FILE_ID, &size);
    if (hr == KEY_E_FILE_NOT_FOUND) {
        // A key that never had a file: every record is free.
        memset(m_objRec, 0, sizeof m_objRec);
        hr = 0;
        goto exit;
    }
    CHECK_GOTO(hr != 0, L"GetCosFileInfo: Object record file", hr);
    len = size < OBJECT_RECORD_FILE_LEN ? size : OBJECT_RECORD_FILE_LEN;
    if (len != 0) {
        hr = FoldObjectResult(
            CDeviceOperator::ReadCosFile(0, OBJECT_RECORD_FILE_ID, reinterpret_cast<uint8_t*>(records), &len));
        CHECK_GOTO(hr != 0, L"Read Object record file", hr);
    }
    memcpy(m_objRec, records, sizeof m_objRec);
    TRACE_STEP(L"Read Object record file");
exit:
    return hr;
}

int CApplicationObject::IsRecordExist(const char* pszAppName, const char* pszFileName) const {
    for (uint32_t i = 0; i < MAX_DATA_RECORD_NUMBER; ++i) {
        const OBJECT_RECORD& record = m_objRec[i];
        // A record whose stored lengths pass its fields is never compared.
        if (record.nAppNameLen > OBJECT_NAME_FIELD || record.nFileNameLen > OBJECT_NAME_FIELD) continue;
        if (NameEquals(record.szAppName, record.nAppNameLen, pszAppName) &&
            NameEquals(record.szFileName, record.nFileNameLen, pszFileName))
            return int(i);
    }
    return -1;
}

uint32_t CApplicationObject::FindFileRecord(const char* szFileName, int* pIndex) {
    uint32_t hr = LoadObjectRecords();
    if (hr != 0) return hr;
    *pIndex = IsRecordExist(m_szAppName, szFileName);
    if (*pIndex < 0) return SAR_FILE_NOT_EXIST;
    if (m_objRec[*pIndex].bUsedFlag == 0) return SAR_NOTEXPORTERR;
    return 0;
}

int CApplicationObject::FindFreeRecord() const {
    for (uint32_t i = 0; i < MAX_DATA_RECORD_NUMBER; ++i)
        if (m_objRec[i].bUsedFlag == 0 || m_objRec[i].bUsedFlag == 0xFF) return int(i);
    return -1;
}

// The content's layout as its data files give it: the whole first file
// (raw), or a header whose length is plausible for a content of several
// files. Only the sizes and the header are read.
static uint32_t ReadLayout(CApplicationObject* app, uint16_t first, uint32_t firstSize, bool* pHeader,
                           uint32_t* pLength) {
    uint8_t header[sizeof(DATA_OBJECT_HEADER)] = {};
    uint32_t len = sizeof header;
    *pHeader = false;
    *pLength = firstSize;
    if (firstSize != MAX_FILE_CONTENT_LEN) return 0;
    const uint32_t hr = FoldObjectResult(app->CDeviceOperator::ReadCosFile(0, first, header, &len));
    if (hr != 0) return hr;
    DATA_OBJECT_HEADER h;
    memcpy(&h, header, sizeof h);
    if (memcmp(h.magic, DATA_OBJECT_MAGIC, 4) == 0 && h.nLength >= MIN_HEADER_CONTENT_LEN &&
        h.nLength <= MAX_DATA_OBJECT_LEN) {
        *pHeader = true;
        *pLength = h.nLength;
    }
    return 0;
}

uint32_t CApplicationObject::GetObjectContentByIndex(uint32_t nIndex, std::vector<uint8_t>& content) {
    TRACE_NAME(L"CApplicationObject::GetObjectContentByIndex");
    uint32_t hr = 0;
    uint16_t first = 0;
    uint32_t firstSize = 0;
    uint32_t len = 0;
    bool header = false;
    uint32_t length = 0;
    std::vector<uint8_t> piece;
    content.clear();
    CHECK_GOTO(nIndex >= MAX_DATA_RECORD_NUMBER, L"CHECK nIndex", SAR_OBJERR);
    CHECK_GOTO(m_objRec[nIndex].bUsedFlag != 1, L"CHECK bUsedFlag", SAR_INVALIDPARAMERR);
    first = FirstDataFile(nIndex);
    hr = DataFileSize(first, &firstSize);
    CHECK_GOTO(hr != 0, L"GetCosFileInfo: Data Object file", hr);
    CHECK_GOTO(firstSize < 1 || firstSize > MAX_FILE_CONTENT_LEN, L"cbTmpLen < 1 || cbTmpLen > MAX_FILE_CONTENT_LEN",
               SAR_INDATALENERR);
    hr = ReadLayout(this, first, firstSize, &header, &length);
    CHECK_GOTO(hr != 0, L"ReadCOSFile: Data Object header", hr);
    piece.assign(firstSize, 0);
    len = firstSize;
    hr = FoldObjectResult(CDeviceOperator::ReadCosFile(0, first, piece.data(), &len));
    CHECK_GOTO(hr != 0, L"ReadCOSFile: Data Object file", hr);
    if (!header) {
        content.swap(piece);
        goto exit;
    }
    content.assign(length, 0);
    {
        uint32_t filled = MAX_FILE_CONTENT_LEN - sizeof(DATA_OBJECT_HEADER);
        memcpy(content.data(), piece.data() + sizeof(DATA_OBJECT_HEADER), filled);
        const uint32_t files = PieceCount(length + sizeof(DATA_OBJECT_HEADER));
        for (uint32_t k = 1; k < files && filled < length; ++k) {
            uint32_t size = 0;
            hr = DataFileSize(uint16_t(first + k), &size);
            CHECK_GOTO(hr != 0, L"GetCosFileInfo: Data Object file", hr);
            CHECK_GOTO(size > MAX_FILE_CONTENT_LEN, L"cbTmpLen > MAX_FILE_CONTENT_LEN", SAR_INDATALENERR);
            piece.assign(size, 0);
            len = size;
            if (size != 0) {
                hr = FoldObjectResult(CDeviceOperator::ReadCosFile(0, uint16_t(first + k), piece.data(), &len));
                CHECK_GOTO(hr != 0, L"ReadCOSFile: Data Object file", hr);
            }
            const uint32_t take = len < length - filled ? len : length - filled;
            memcpy(content.data() + filled, piece.data(), take);
            filled += take;
        }
    }
exit:
    if (!piece.empty()) SecureZeroMemory(piece.data(), piece.size());
    if (hr != 0) content.clear();
    return hr;
}

// The content's length without reading it: the checks of a full read on the
// sizes and the header only.
static uint32_t ContentLength(CApplicationObject* app, const OBJECT_RECORD* records, uint32_t nIndex,
                              uint32_t* pLength) {
    TRACE_NAME(L"CApplicationObject::ContentLength");
    uint32_t hr = 0;
    uint32_t firstSize = 0;
    bool header = false;
    uint8_t info[4] = {};
    const uint16_t first = FirstDataFile(nIndex);
    *pLength = 0;
    CHECK_GOTO(nIndex >= MAX_DATA_RECORD_NUMBER, L"CHECK nIndex", SAR_OBJERR);
    CHECK_GOTO(records[nIndex].bUsedFlag != 1, L"CHECK bUsedFlag", SAR_INVALIDPARAMERR);
    hr = FoldObjectResult(app->CDeviceOperator::GetCosFileInfo(first, 0, sizeof info, info));
    CHECK_GOTO(hr != 0, L"GetCosFileInfo: Data Object file", hr);
    firstSize = uint32_t(info[0]) | uint32_t(info[1]) << 8;
    CHECK_GOTO(firstSize < 1 || firstSize > MAX_FILE_CONTENT_LEN, L"cbTmpLen < 1 || cbTmpLen > MAX_FILE_CONTENT_LEN",
               SAR_INDATALENERR);
    hr = ReadLayout(app, first, firstSize, &header, pLength);
    CHECK_GOTO(hr != 0, L"ReadCOSFile: Data Object header", hr);
    if (header) {
        const uint32_t files = PieceCount(*pLength + sizeof(DATA_OBJECT_HEADER));
        for (uint32_t k = 1; k < files; ++k) {
            memset(info, 0, sizeof info);
            hr = FoldObjectResult(app->CDeviceOperator::GetCosFileInfo(uint16_t(first + k), 0, sizeof info, info));
            CHECK_GOTO(hr != 0, L"GetCosFileInfo: Data Object file", hr);
            const uint32_t size = uint32_t(info[0]) | uint32_t(info[1]) << 8;
            CHECK_GOTO(size > MAX_FILE_CONTENT_LEN, L"cbTmpLen > MAX_FILE_CONTENT_LEN", SAR_INDATALENERR);
        }
    }
exit:
    if (hr != 0) *pLength = 0;
    return hr;
}

uint32_t CApplicationObject::WriteObject(uint32_t nIndex, const uint8_t* pbData, uint32_t nLen) {
    TRACE_NAME(L"CApplicationObject::WriteObject");
    uint32_t hr = 0;
    const uint16_t first = FirstDataFile(nIndex);
    std::vector<uint8_t> stored;
    const uint8_t* source = pbData;
    uint32_t total = nLen;
    uint32_t files = 0;
    CHECK_GOTO(nIndex >= MAX_DATA_RECORD_NUMBER, L"CHECK nIndex", SAR_OBJERR);
    CHECK_GOTO(nLen == 0 || nLen > MAX_DATA_OBJECT_LEN, L"CHECK ulSize", SAR_INDATALENERR);
    if (nLen > MAX_FILE_CONTENT_LEN) total = nLen + sizeof(DATA_OBJECT_HEADER);
    files = PieceCount(total);
    // Every piece must fit its data file before the first byte is written:
    // a write that the key would refuse half way would leave a torn content.
    for (uint32_t k = 0; k < files; ++k) {
        uint32_t size = 0;
        hr = DataFileSize(uint16_t(first + k), &size);
        if (hr == KEY_E_FILE_NOT_FOUND) hr = 0;  // a file the object does not have: no room at all
        CHECK_GOTO(hr != 0, L"GetCosFileInfo: Data Object file", hr);
        CHECK_GOTO(size < PieceLength(total, k), L"CHECK data file size", SAR_INDATALENERR);
    }
    if (nLen > MAX_FILE_CONTENT_LEN) {
        stored.resize(total);
        DATA_OBJECT_HEADER header;
        memcpy(header.magic, DATA_OBJECT_MAGIC, 4);
        header.nLength = nLen;
        memcpy(stored.data(), &header, sizeof header);
        memcpy(stored.data() + sizeof header, pbData, nLen);
        source = stored.data();
    }
    for (uint32_t k = 0; k < files; ++k) {
        hr = FoldObjectResult(CDeviceOperator::WriteCosFile(0, uint16_t(first + k), source + k * MAX_FILE_CONTENT_LEN,
                                                            PieceLength(total, k)));
        CHECK_GOTO(hr != 0, L"Write Data Object file", hr);
    }
    TRACE_STEP(L"Write Data Object file");
exit:
    if (!stored.empty()) SecureZeroMemory(stored.data(), stored.size());
    return hr;
}

uint32_t CApplicationObject::CreateDataObjectFiles(uint32_t nIndex, uint32_t nSize) {
    TRACE_NAME(L"CApplicationObject::CreateDataObjectFiles");
    uint32_t hr = 0;
    const uint16_t first = FirstDataFile(nIndex);
    uint32_t total = nSize;
    uint32_t files = 0;
    CHECK_GOTO(nIndex >= MAX_DATA_RECORD_NUMBER, L"CHECK nIndex", SAR_OBJERR);
    CHECK_GOTO(nSize > MAX_DATA_OBJECT_LEN, L"CHECK ulFileSize", SAR_INDATALENERR);
    if (nSize > MAX_FILE_CONTENT_LEN) total = nSize + sizeof(DATA_OBJECT_HEADER);
    files = nSize == 0 ? 1 : PieceCount(total);
    for (uint32_t k = 0; k < files; ++k) {
        const uint16_t id = uint16_t(first + k);
        hr = DeleteDataFileTolerant(id);
        CHECK_GOTO(hr != 0, L"DeleteCosFile: Data Object file", hr);
        hr = FoldObjectResult(CDeviceOperator::CreateCosFile(id, uint16_t(nSize == 0 ? 0 : PieceLength(total, k))));
        CHECK_GOTO(hr != 0, L"CreateCosFile: Data Object file", hr);
        if (k == 0 && nSize > MAX_FILE_CONTENT_LEN) {
            DATA_OBJECT_HEADER header;
            memcpy(header.magic, DATA_OBJECT_MAGIC, 4);
            header.nLength = nSize;
            hr = FoldObjectResult(
                CDeviceOperator::WriteCosFile(0, id, reinterpret_cast<const uint8_t*>(&header), sizeof header));
            CHECK_GOTO(hr != 0, L"Write Data Object header", hr);
        }
    }
    TRACE_STEP(L"CreateDataObjectFiles");
exit:
    return hr;
}

// Removes every data file of record i. The files of a content are made
// from the record's first id on without a gap: the first four are always
// asked for (a content of up to four files costs four commands), and from
// the fourth on the first id that the key does not have ends the range.
uint32_t CApplicationObject::ClearDataObjectFiles(uint32_t nIndex) {
    TRACE_NAME(L"CApplicationObject::ClearDataObjectFiles");
    uint32_t hr = 0;
    const uint16_t first = FirstDataFile(nIndex);
    CHECK_GOTO(nIndex >= MAX_DATA_RECORD_NUMBER, L"CHECK nIndex", SAR_OBJERR);
    for (uint32_t k = 0; k < DATA_OBJECT_FILE_ID_STEP; ++k) {
        hr = FoldObjectResult(CDeviceOperator::DeleteCosFile(uint16_t(first + k)));
        if (hr == KEY_E_FILE_NOT_FOUND) {
            hr = 0;
            if (k + 1 >= DATA_OBJECT_FILES_CLEARED) break;
            continue;
        }
        CHECK_GOTO(hr != 0, L"DeleteCosFile: Data Object file", hr);
    }
exit:
    return hr;
}

uint32_t CApplicationObject::SaveDataObjRecord() {
    TRACE_NAME(L"CApplicationObject::SaveDataObjRecord");
    uint32_t hr = 0;
    uint32_t size = 0;
    hr = DataFileSize(OBJECT_RECORD_FILE_ID, &size);
    if (hr == KEY_E_FILE_NOT_FOUND) {
        hr = FoldObjectResult(CDeviceOperator::CreateCosFile(OBJECT_RECORD_FILE_ID, OBJECT_RECORD_FILE_LEN));
        CHECK_GOTO(hr != 0, L"Create Object record file", hr);
    } else {
        CHECK_GOTO(hr != 0, L"GetCosFileInfo: Object record file", hr);
        if (size < OBJECT_RECORD_FILE_LEN) {
            hr = FoldObjectResult(CDeviceOperator::DeleteCosFile(OBJECT_RECORD_FILE_ID));
            CHECK_GOTO(hr != 0, L"Delete Object record file", hr);
            hr = FoldObjectResult(CDeviceOperator::CreateCosFile(OBJECT_RECORD_FILE_ID, OBJECT_RECORD_FILE_LEN));
            CHECK_GOTO(hr != 0, L"Create Object record file", hr);
        }
    }
    hr = FoldObjectResult(CDeviceOperator::WriteCosFile(0, OBJECT_RECORD_FILE_ID,
                                                        reinterpret_cast<const uint8_t*>(m_objRec),
                                                        OBJECT_RECORD_FILE_LEN));
    CHECK_GOTO(hr != 0, L"Write Object record file", hr);
    TRACE_STEP(L"Write Object record file");
exit:
    return hr;
}

uint32_t CApplicationObject::EnumCosFile(char* szFileList, ULONG* pulSize) {
    TRACE_NAME(L"CApplicationObject::EnumCosFile");
    uint32_t hr = 0;
    std::vector<char> list;
    CHECK_GOTO(!pulSize, L"CHECK pulSize", SAR_INVALIDPARAMERR);
    hr = LoadObjectRecords();
    if (hr != 0) *pulSize = 0;
    CHECK_GOTO(hr != 0, L"Read Object record file", hr);
    for (uint32_t i = 0; i < MAX_DATA_RECORD_NUMBER; ++i) {
        const OBJECT_RECORD& record = m_objRec[i];
        if (record.bUsedFlag == 0) continue;
        uint32_t length = 0;
        // An unusable record, or one whose content is found broken (a data
        // file missing, sizes that cannot be its), stays on the key, unlisted,
        // until its file is deleted. Any other failure is the key's answer to
        // a command, not the record's state: the listing fails rather than
        // leave out a file that is there.
        if (!RecordUsable(record)) continue;
        hr = ContentLength(this, m_objRec, i, &length);
        if (hr == KEY_E_FILE_NOT_FOUND || hr == SAR_INDATALENERR) {
            hr = 0;
            continue;
        }
        if (hr != 0) *pulSize = 0;
        CHECK_GOTO(hr != 0, L"Read Data Object file", hr);
        list.insert(list.end(), record.szFileName, record.szFileName + record.nFileNameLen);
        list.push_back('\0');
    }
    if (!list.empty()) list.push_back('\0');
    if (!szFileList) {
        *pulSize = ULONG(list.size());
        goto exit;
    }
    if (*pulSize < list.size()) {
        *pulSize = ULONG(list.size());
        CHECK_GOTO(true, L"CHECK *pulSize", SAR_BUFFER_TOO_SMALL);
    }
    if (!list.empty()) memcpy(szFileList, list.data(), list.size());
    *pulSize = ULONG(list.size());
exit:
    return hr;
}

uint32_t CApplicationObject::GetCosFileInfo(const char* szFileName, FILEATTRIBUTE* pFileInfo) {
    TRACE_NAME(L"CApplicationObject::GetCosFileInfo");
    uint32_t hr = 0;
    int index = -1;
    uint32_t length = 0;
    CHECK_GOTO(!szFileName, L"CHECK szFileName", SAR_INVALIDPARAMERR);
    hr = FindFileRecord(szFileName, &index);
    CHECK_GOTO(hr != 0, L"FindFileRecord", hr);
    hr = ContentLength(this, m_objRec, uint32_t(index), &length);
    CHECK_GOTO(hr != 0, L"GetObjectContentByIndex", hr);
    if (pFileInfo) {
        memset(pFileInfo->FileName, 0, sizeof pFileInfo->FileName);
        memcpy(pFileInfo->FileName, szFileName, strnlen(szFileName, sizeof pFileInfo->FileName));
        pFileInfo->FileSize = length;
        const ULONG rights = m_objRec[index].bReadProtected == 1 ? SECURE_USER_ACCOUNT : SECURE_ANYONE_ACCOUNT;
        pFileInfo->ReadRights = rights;
        pFileInfo->WriteRights = rights;
    }
exit:
    return hr;
}

uint32_t CApplicationObject::CreateCosFile(const char* szFileName, ULONG ulFileSize, ULONG ulReadRights, ULONG) {
    TRACE_NAME(L"CApplicationObject::CreateCosFile");
    uint32_t hr = 0;
    int index = -1;
    size_t nameLen = 0;
    size_t appLen = strlen(m_szAppName);
    CHECK_GOTO(!szFileName, L"CHECK szFileName", SAR_INVALIDPARAMERR);
    nameLen = strnlen(szFileName, OBJECT_NAME_FIELD + 1);
    CHECK_GOTO(nameLen > OBJECT_NAME_FIELD, L"CHECK szFileName length", SAR_NAMELENERR);
    CHECK_GOTO(ulFileSize > MAX_DATA_OBJECT_LEN, L"CHECK ulFileSize", SAR_INDATALENERR);
    hr = LoadObjectRecords();
    CHECK_GOTO(hr != 0, L"Read Object record file", hr);
    CHECK_GOTO(IsRecordExist(m_szAppName, szFileName) >= 0, L"IsRecordExist", SAR_FILE_ALREADY_EXIST);
    index = FindFreeRecord();
    CHECK_GOTO(index < 0, L"FindAvailabeRecordIndex", SAR_NO_ROOM);
    hr = CreateDataObjectFiles(uint32_t(index), ulFileSize);
    CHECK_GOTO(hr != 0, L"CreateDataObjectFiles", hr);
    {
        OBJECT_RECORD& record = m_objRec[index];
        memset(&record, 0, sizeof record);
        record.bUsedFlag = 1;
        record.bReadProtected = ulReadRights != SECURE_ANYONE_ACCOUNT ? 1 : 0;
        record.byReserved2 = 1;
        record.nFirstFileID = FirstDataFile(uint32_t(index));
        record.nAppNameLen = uint32_t(appLen);
        memcpy(record.szAppName, m_szAppName, appLen);
        record.nFileNameLen = uint32_t(nameLen);
        memcpy(record.szFileName, szFileName, nameLen);
    }
    hr = SaveDataObjRecord();
    CHECK_GOTO(hr != 0, L"Update Data Object Record file", hr);
    TRACE_STEP(L"Update Data Object Record file");
exit:
    return hr;
}

uint32_t CApplicationObject::DeleteCosFile(const char* szFileName) {
    TRACE_NAME(L"CApplicationObject::DeleteCosFile");
    uint32_t hr = 0;
    int index = -1;
    CHECK_GOTO(!szFileName, L"CHECK szFileName", SAR_INVALIDPARAMERR);
    hr = FindFileRecord(szFileName, &index);
    CHECK_GOTO(hr != 0, L"FindFileRecord", hr);
    memset(&m_objRec[index], 0, sizeof m_objRec[index]);
    hr = FoldObjectResult(CDeviceOperator::WriteCosFile(0, OBJECT_RECORD_FILE_ID,
                                                        reinterpret_cast<const uint8_t*>(m_objRec),
                                                        OBJECT_RECORD_FILE_LEN));
    CHECK_GOTO(hr != 0, L"Write Object record file", hr);
    hr = ClearDataObjectFiles(uint32_t(index));
    CHECK_GOTO(hr != 0, L"ClearDataObjectFiles", hr);
exit:
    return hr;
}

uint32_t CApplicationObject::WriteCosFile(const char* szFileName, ULONG ulOffset, const BYTE* pbData, ULONG ulSize) {
    TRACE_NAME(L"CApplicationObject::WriteCosFile");
    uint32_t hr = 0;
    int index = -1;
    CHECK_GOTO(!szFileName, L"CHECK szFileName", SAR_INVALIDPARAMERR);
    CHECK_GOTO(ulOffset != 0, L"CHECK ulOffset", SAR_INVALIDPARAMERR);
    CHECK_GOTO(!pbData, L"CHECK pbData", SAR_INVALIDPARAMERR);
    CHECK_GOTO(ulSize > MAX_DATA_OBJECT_LEN, L"CHECK ulSize", SAR_INDATALENERR);
    hr = FindFileRecord(szFileName, &index);
    CHECK_GOTO(hr != 0, L"FindFileRecord", hr);
    hr = WriteObject(uint32_t(index), pbData, ulSize);
    CHECK_GOTO(hr != 0, L"WriteObject", hr);
exit:
    return hr;
}

uint32_t CApplicationObject::ReadCosFile(const char* szFileName, ULONG, ULONG, BYTE* pbOutData, ULONG* pulOutLen) {
    TRACE_NAME(L"CApplicationObject::ReadCosFile");
    uint32_t hr = 0;
    int index = -1;
    uint32_t length = 0;
    std::vector<uint8_t> content;
    CHECK_GOTO(!szFileName || !pulOutLen, L"CHECK szFileName", SAR_INVALIDPARAMERR);
    hr = FindFileRecord(szFileName, &index);
    if (hr == 0) hr = ContentLength(this, m_objRec, uint32_t(index), &length);
    if (hr != 0) *pulOutLen = 0;
    CHECK_GOTO(hr != 0, L"GetObjectContentByIndex", hr);
    if (!pbOutData) {
        *pulOutLen = length;
        goto exit;
    }
    if (*pulOutLen < length) {
        *pulOutLen = length;
        CHECK_GOTO(true, L"CHECK *pulOutLen", SAR_BUFFER_TOO_SMALL);
    }
    hr = GetObjectContentByIndex(uint32_t(index), content);
    if (hr != 0) *pulOutLen = 0;
    CHECK_GOTO(hr != 0, L"GetObjectContentByIndex", hr);
    if (*pulOutLen < content.size()) {
        *pulOutLen = ULONG(content.size());
        CHECK_GOTO(true, L"CHECK *pulOutLen", SAR_BUFFER_TOO_SMALL);
    }
    memcpy(pbOutData, content.data(), content.size());
    *pulOutLen = ULONG(content.size());
exit:
    if (!content.empty()) SecureZeroMemory(content.data(), content.size());
    return hr;
}
