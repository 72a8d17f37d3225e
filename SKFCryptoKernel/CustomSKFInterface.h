#pragma once
// Records in which the key access layer describes what is plugged in: the
// certificates and keys found through each key library, and what a provider
// reports about one device and its containers. All are plain values: a copy
// is deep, and Clear returns a record to the state its constructor gives
// (strings empty, integers 0, lists empty).
#include <windows.h>

#include <string>
#include <vector>

// One certificate found on a key.
struct SKFUserCertInfo {
    std::wstring wstrSubject;        // subject as X.500 text
    std::wstring wstrSubjectCN;      // first element of the subject text
    std::wstring wstrIssuer;
    std::wstring wstrSerialNumber;   // upper-case hexadecimal, most significant byte first
    std::wstring wstrDisplayName;    // common name ", SN=" serial number
    std::wstring wstrContainerName;  // the container holding the certificate
    FILETIME ftNotBefore;
    FILETIME ftNotAfter;
    DWORD dwDaysLeft;                // 0 when expired
    DWORD dwStatus;                  // 1 normal, 2 expires within 90 days, 3 expired
    DWORD dwKeyBits;                 // 256 for an SM certificate, else the public key's bits
    DWORD dwSMCert;                  // 1 for an SM2-signed certificate
    DWORD dwFilled;                  // 1 in every record built from a certificate
    DWORD dwSignCert;                // 1 signature certificate, 0 encryption certificate

    SKFUserCertInfo();
    void Clear();
};

// One plugged key (one SKF device).
struct SKFUserKeyInfo {
    std::wstring wstrSerialNumber;
    std::wstring wstrDeviceName;
    DWORD dwReserved1;
    DWORD dwReserved2;
    DWORD dwPINNotDefault;  // 0 while the user PIN is the factory default
    DWORD dwPINNotLocked;   // 0 when the user PIN is locked
    DWORD dwCertFound;      // 1 when vetCertInfo holds at least one record
    DWORD dwReserved3;
    DWORD dwReserved4;
    std::vector<SKFUserCertInfo> vetCertInfo;  // container order, at most one per container

    SKFUserKeyInfo();
    void Clear();
};

// The keys found through one key library.
struct SKFUserCSPInfo {
    DWORD dwReserved;
    std::wstring wstrReserved;
    std::vector<SKFUserKeyInfo> vetKeyInfo;  // one per device, in the library's order

    SKFUserCSPInfo();
    void Clear();
};

// One SKFUserCSPInfo per key library scanned successfully.
struct SKFUserCSPInfoSet {
    std::vector<SKFUserCSPInfo> vetCSPInfo;

    SKFUserCSPInfoSet();
    void Clear();
};

// Container types as the container handler reports them.
constexpr DWORD SKF_CONTAINER_NO_SIGN_KEY = 0;
constexpr DWORD SKF_CONTAINER_RSA = 1;
constexpr DWORD SKF_CONTAINER_SM2 = 2;

// One container of a device.
struct ContainerObjInfo {
    DWORD dwContainerType;
    std::wstring wstrContainerName;
    std::string strSignCert;  // Base64 of the DER signature certificate, empty when absent
    std::string strEncCert;   // Base64 of the DER encryption certificate, empty when absent

    ContainerObjInfo();
    void Clear();
};

// User PIN states of DeviceObjInfo.
constexpr DWORD SKF_PIN_STATE_NORMAL = 1;
constexpr DWORD SKF_PIN_STATE_DEFAULT = 2;
constexpr DWORD SKF_PIN_STATE_LOCKED = 3;

// What a provider reports about one device.
struct DeviceObjInfo {
    std::wstring wstrProviderName;
    std::wstring wstrModulePath;
    std::wstring wstrDeviceName;
    std::wstring wstrLabel;
    std::wstring wstrSerialNumber;
    DWORD dwMaxRetryCount;
    DWORD dwRemainRetryCount;
    DWORD dwPINState;
    std::vector<ContainerObjInfo> vetContainers;  // only containers holding a certificate

    DeviceObjInfo();
    void Clear();
};

// Empties every key record's certificate list, then the list itself.
void ClearSKFUserKeyInfoSet(std::vector<SKFUserKeyInfo>& keyInfoSet);
// Does that for every library's record, then empties the set.
void ClearSKFUserCSPInfoSet(SKFUserCSPInfoSet& cspInfoSet);

// ---- key discovery

#include <wincrypt.h>

// One entry of the application's key-library list (its profile owns the
// list; nothing in the product fills it).
struct USBKEYLibraryEntry {
    wchar_t wszProviderName[260];
    wchar_t wszLibraryName[260];
    void* pReserved;  // a further list that only the profile's destruction walks
    USBKEYLibraryEntry* pNext;
};
// The head of that list, NULL when it is empty.
extern USBKEYLibraryEntry* g_pUSBKEYLibraryList;

// Scans every library of the "||"-separated path list; each library that
// lists keys adds one record. 0 with an empty set when no key is plugged;
// the first failure when nothing was found for another reason (a library
// refused or not loaded, every device unreadable). Certificate status is
// computed at ftCurrentTime.
HRESULT SyncGetPluggedUSBKeyCSPInfoBySKF(const wchar_t* lpwSKFDllPathList, SKFUserCSPInfoSet& stCSPInfoSet,
                                         FILETIME ftCurrentTime);
// Scans one library: a key record per readable device, a certificate record
// per container with a usable certificate. 0x8007000D when no key is plugged.
HRESULT SKFGetProvDeviceList(const wchar_t* lpwSKFDllPath, SKFUserCSPInfo& stCSPInfo, FILETIME ftCurrentTime);
// The certificate record of one container: S_OK with the record; S_FALSE
// when the container gives none (no certificate text, or only an encryption
// certificate without digitalSignature); the decoding failure otherwise.
HRESULT SKFUserCertInfoFromContainer(const ContainerObjInfo& container, FILETIME ftCurrentTime,
                                     SKFUserCertInfo& stCertInfo);
HRESULT Base64CertToCertContext(std::string strBase64Cert, PCCERT_CONTEXT* ppCertContext);
// The library of the provider "Quib CSP v6.0 (ZOPRA)" in the system folder
// (a new buffer, array new), 0x80070490 when the list has no such entry.
HRESULT GetSKFDLLPath(wchar_t** lppwSKFDllPath);
