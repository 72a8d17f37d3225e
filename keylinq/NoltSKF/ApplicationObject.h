#pragma once
// The object behind an HAPPLICATION: the key's one application "ZELK", a
// platform operator of its own on the key's device context, with the PIN
// family, the application's emulated files and its containers.
#include <cstdint>
#include <vector>

#include "DialogObject.h"
#include "IApplication.h"

// The key's one application.
#define SKF_APPLICATION_NAME "ZELK"
constexpr uint32_t SKF_APP_NAME_FIELD = 64;

constexpr uint32_t MIN_PIN_SIZE = 6;
constexpr uint32_t MAX_PIN_SIZE = 16;
// The longest old PIN that a change hands to the key's exchange.
constexpr uint32_t MAX_OLD_PIN_SIZE = 32;

// ---- the emulated files
constexpr uint32_t MAX_DATA_RECORD_NUMBER = 4;
constexpr uint32_t MAX_FILE_CONTENT_LEN = 24576;        // the largest data file
constexpr uint16_t OBJECT_RECORD_FILE_ID = 0xD000;
constexpr uint16_t DATA_OBJECT_FILE_ID_BASE = 0xD020;
constexpr uint16_t DATA_OBJECT_FILE_ID_STEP = 0x20;      // ids per record
constexpr uint32_t OBJECT_NAME_FIELD = 64;
// A content spans at most the 32 data files of its record: header and
// content together at most 32 x 24576 bytes.
constexpr uint32_t MAX_DATA_OBJECT_LEN = DATA_OBJECT_FILE_ID_STEP * MAX_FILE_CONTENT_LEN - 8;  // 786,424
// Data files that a delete always asks the key to remove; it goes on with
// the next ones of the record while the key has them.
constexpr uint32_t DATA_OBJECT_FILES_CLEARED = 4;
#define CONTAINER_CONFIG_FILE "Container.ini"

#pragma pack(push, 1)
// One named file in the record file 0xD000 (little-endian numbers).
struct OBJECT_RECORD {
    uint8_t bUsedFlag;        // 1 used; 0 or 0xFF free
    uint8_t bReadProtected;   // 1 when the read rights at creation were not 0xFF
    uint8_t byReserved2;      // 1
    uint8_t byReserved3;
    uint16_t nFirstFileID;    // 0xD020 + 0x20 x record index
    uint16_t wReserved6;
    uint32_t dwReserved8;
    uint32_t nAppNameLen;
    char szAppName[OBJECT_NAME_FIELD];
    uint32_t nFileNameLen;
    char szFileName[OBJECT_NAME_FIELD];
};

// At offset 0 of the first data file of a content longer than one file.
struct DATA_OBJECT_HEADER {
    char magic[4];       // "PELQ"
    uint32_t nLength;    // the content's length L
};
#pragma pack(pop)
static_assert(sizeof(OBJECT_RECORD) == 148, "object record is 148 bytes");
static_assert(sizeof(DATA_OBJECT_HEADER) == 8, "data object header is 8 bytes");
constexpr uint32_t OBJECT_RECORD_FILE_LEN = MAX_DATA_RECORD_NUMBER * sizeof(OBJECT_RECORD);  // 592

class CApplicationObject : public CDialogObject, public IApplication {
public:
    explicit CApplicationObject(CDeviceContext* pDeviceContext);
    ~CApplicationObject() override;

    void SetName(const char* pszName);
    const char* GetName() const { return m_szAppName; }

    // Both tables: the operator's and the application's.
    uint32_t ClearAuthCode() override;
    uint32_t DeleteContainer(const char* szContainerName) override;

    // IApplication: PINs
    uint32_t VerifyPIN(ULONG ulPINType, const char* szPIN, ULONG* pulRetryCount) override;
    uint32_t ChangePIN(ULONG ulPINType, const char* szOldPin, const char* szNewPin, ULONG* pulRetryCount) override;
    uint32_t UnlockPIN(const char* szAdminPIN, const char* szNewUserPIN, ULONG* pulRetryCount) override;
    uint32_t GetPINStatus(ULONG ulPINType, ULONG* pulMaxRetryCount, ULONG* pulRemainRetryCount,
                          BOOL* pbDefaultPin) override;
    // IApplication: files
    uint32_t EnumCosFile(char* szFileList, ULONG* pulSize) override;
    uint32_t GetCosFileInfo(const char* szFileName, FILEATTRIBUTE* pFileInfo) override;
    uint32_t CreateCosFile(const char* szFileName, ULONG ulFileSize, ULONG ulReadRights, ULONG ulWriteRights) override;
    uint32_t DeleteCosFile(const char* szFileName) override;
    uint32_t WriteCosFile(const char* szFileName, ULONG ulOffset, const BYTE* pbData, ULONG ulSize) override;
    uint32_t ReadCosFile(const char* szFileName, ULONG ulOffset, ULONG ulSize, BYTE* pbOutData,
                         ULONG* pulOutLen) override;
    // IApplication: containers
    uint32_t EnumContainer(char* szContainerNames, ULONG* pulSize) override;
    uint32_t CreateContainer(const char* szContainerName, HCONTAINER* phContainer) override;
    uint32_t OpenContainer(const char* szContainerName, HCONTAINER* phContainer) override;

    // The files' internals.
    int IsRecordExist(const char* pszAppName, const char* pszFileName) const;
    uint32_t GetObjectContentByIndex(uint32_t nIndex, std::vector<uint8_t>& content);
    uint32_t WriteObject(uint32_t nIndex, const uint8_t* pbData, uint32_t nLen);
    uint32_t CreateDataObjectFiles(uint32_t nIndex, uint32_t nSize);
    uint32_t ClearDataObjectFiles(uint32_t nIndex);
    uint32_t SaveDataObjRecord();

protected:
    // The container object that OpenContainer makes.
    virtual class CContainerObject* NewContainerObject();

private:
    // Reloads m_objRec from the key; a key without a record file has no
    // files.
    uint32_t LoadObjectRecords();
    // A record whose stored lengths fit their fields.
    static bool RecordUsable(const OBJECT_RECORD& record);
    int FindFreeRecord() const;
    // Reloads the records and finds the file's: SAR_FILE_NOT_EXIST when no
    // record has the name, SAR_NOTEXPORTERR when its record is not in use.
    uint32_t FindFileRecord(const char* szFileName, int* pIndex);
    uint32_t DataFileSize(uint16_t nFileID, uint32_t* pnSize);
    uint32_t DeleteDataFileTolerant(uint16_t nFileID);

    char m_szAppName[SKF_APP_NAME_FIELD];
    OBJECT_RECORD m_objRec[MAX_DATA_RECORD_NUMBER];
};

// The class of every application handle of this edition: the virtual file
// "Container.ini" and its own containers.
class CApplicationZOPRA : public CApplicationObject {
public:
    explicit CApplicationZOPRA(CDeviceContext* pDeviceContext);
    ~CApplicationZOPRA() override;

    uint32_t GetCosFileInfo(const char* szFileName, FILEATTRIBUTE* pFileInfo) override;
    uint32_t CreateCosFile(const char* szFileName, ULONG ulFileSize, ULONG ulReadRights, ULONG ulWriteRights) override;
    uint32_t DeleteCosFile(const char* szFileName) override;
    uint32_t WriteCosFile(const char* szFileName, ULONG ulOffset, const BYTE* pbData, ULONG ulSize) override;
    uint32_t ReadCosFile(const char* szFileName, ULONG ulOffset, ULONG ulSize, BYTE* pbOutData,
                         ULONG* pulOutLen) override;
    uint32_t OpenContainer(const char* szContainerName, HCONTAINER* phContainer) override;

    // The virtual file's content: the key's list of available containers.
    uint32_t EnumAvailableContainer(BYTE* pbData, ULONG* pulSize);

protected:
    class CContainerObject* NewContainerObject() override;
};

// Handles and objects: a handle is the address of the object's operator part.
inline CApplicationObject* ApplicationFromHandle(HAPPLICATION hApplication) {
    return static_cast<CApplicationObject*>(static_cast<CDeviceOperator*>(hApplication));
}
inline HAPPLICATION HandleOfApplication(CApplicationObject* pApplication) {
    return static_cast<CDeviceOperator*>(pApplication);
}
// Destroys the object of a closed application handle (the handle set's destroy).
inline void DestroyApplicationObject(const void* handle) {
    delete ApplicationFromHandle(const_cast<void*>(handle));
}
