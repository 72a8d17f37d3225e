#pragma once
// The key library binding: a GM/T 0016 key library loaded by path at run
// time (never linked), 72 SKF_* names looked up in it, and one wrapper per
// function the key access layer calls. A wrapper passes its caller's
// arguments through, supplies the arguments this system always fixes, and
// returns the library's code unchanged (folding into HRESULTs is the
// caller's job); an entry the library does not export answers 487
// (ERROR_INVALID_ADDRESS) without calling anything.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "SKFApi.h"

// The bound names in table order (entries 0 to 71). SKF_InitDev is looked
// up like the others, although no wrapper calls it.
#define SKF_BOUND_NAME_LIST(X)                                                                            \
    X(SKF_WaitForDevEvent) X(SKF_CancelWaitForDevEvent) X(SKF_EnumDev) X(SKF_ConnectDev)                  \
    X(SKF_DisConnectDev) X(SKF_GetDevState) X(SKF_SetLabel) X(SKF_GetDevInfo) X(SKF_LockDev)               \
    X(SKF_UnlockDev) X(SKF_InitDev) X(SKF_Transmit) X(SKF_ChangeDevAuthKey) X(SKF_DevAuth)                 \
    X(SKF_ChangePIN) X(SKF_GetPINInfo) X(SKF_VerifyPIN) X(SKF_UnblockPIN) X(SKF_ClearSecureState)          \
    X(SKF_CreateApplication) X(SKF_EnumApplication) X(SKF_DeleteApplication) X(SKF_OpenApplication)        \
    X(SKF_CloseApplication) X(SKF_CreateFile) X(SKF_DeleteFile) X(SKF_EnumFiles) X(SKF_GetFileInfo)        \
    X(SKF_ReadFile) X(SKF_WriteFile) X(SKF_CreateContainer) X(SKF_DeleteContainer) X(SKF_EnumContainer)    \
    X(SKF_OpenContainer) X(SKF_CloseContainer) X(SKF_GetContainerType) X(SKF_ImportCertificate)            \
    X(SKF_ExportCertificate) X(SKF_GenRandom) X(SKF_GenRSAKeyPair) X(SKF_ImportRSAKeyPair)                 \
    X(SKF_RSASignData) X(SKF_RSAVerify) X(SKF_RSAExportSessionKey) X(SKF_GenECCKeyPair)                    \
    X(SKF_ImportECCKeyPair) X(SKF_ECCSignData) X(SKF_ECCVerify) X(SKF_ECCExportSessionKey)                 \
    X(SKF_ExtECCEncrypt) X(SKF_GenerateAgreementDataWithECC) X(SKF_GenerateAgreementDataAndKeyWithECC)     \
    X(SKF_GenerateKeyWithECC) X(SKF_ExportPublicKey) X(SKF_ImportSessionKey) X(SKF_EncryptInit)            \
    X(SKF_Encrypt) X(SKF_EncryptUpdate) X(SKF_EncryptFinal) X(SKF_DecryptInit) X(SKF_Decrypt)              \
    X(SKF_DecryptUpdate) X(SKF_DecryptFinal) X(SKF_DigestInit) X(SKF_Digest) X(SKF_DigestUpdate)           \
    X(SKF_DigestFinal) X(SKF_MacInit) X(SKF_Mac) X(SKF_MacUpdate) X(SKF_MacFinal) X(SKF_CloseHandle)

// Index of each name in the entry table.
enum SKFEntryIndex : int {
#define SKF_ENTRY_INDEX(name) SKFEntry_##name,
    SKF_BOUND_NAME_LIST(SKF_ENTRY_INDEX)
#undef SKF_ENTRY_INDEX
    SKF_ENTRY_COUNT
};
static_assert(SKF_ENTRY_COUNT == 72, "the binding looks up 72 names");

// What a wrapper returns when the library does not export its function.
constexpr ULONG SKF_ENTRY_MISSING = ERROR_INVALID_ADDRESS;  // 487

// The fixed arguments of the wrappers.
constexpr ULONG SKF_USER_PIN_TYPE = 1;
constexpr ULONG SKF_LOCK_TIMEOUT = 0xFFFFFFFF;
constexpr ULONG SKF_FILE_RIGHTS_ANYONE = 0xFF;
constexpr ULONG SKF_FILE_OFFSET = 0;
constexpr ULONG SKF_ALG_SM2_SIGN = 0x00020100;
constexpr ULONG SKF_RSA_IMPORT_SYM_ALG = 1;

class ISKFModuleCaller {
public:
    ISKFModuleCaller();
    virtual ~ISKFModuleCaller();
    ISKFModuleCaller(const ISKFModuleCaller&) = delete;
    ISKFModuleCaller& operator=(const ISKFModuleCaller&) = delete;

    // FALSE for the plain binding.
    virtual BOOL IsOrvaneSKFForRMQT();
    // Frees any module held, then loads the library at pwszPath and binds its
    // names. Reports nothing: a library that cannot be loaded leaves the
    // object unloaded, and every wrapper then answers 487.
    virtual void LoadSKFModule(const wchar_t* pwszPath);
    // Empties the path and the table and frees the module.
    virtual void ReleaseSKFModule();

    // Looks every name up in the loaded module; a missing name leaves its
    // entry NULL.
    void LoadSKFFunctionList();
    // The path of the loaded module, empty when none is loaded.
    std::wstring GetModulePath() const;

    // ---- wrappers, in the standard's argument order without the fixed ones
    ULONG SKF_EnumDev(LPSTR szNameList, ULONG* pulSize);  // bPresent TRUE
    ULONG SKF_ConnectDev(LPSTR szName, DEVHANDLE* phDev);
    ULONG SKF_DisConnectDev(DEVHANDLE hDev);
    ULONG SKF_GetDevInfo(DEVHANDLE hDev, DEVINFO* pDevInfo);
    ULONG SKF_LockDev(DEVHANDLE hDev);  // time-out 0xFFFFFFFF
    ULONG SKF_UnlockDev(DEVHANDLE hDev);
    // The user PIN (type 1).
    ULONG SKF_GetPINInfo(HAPPLICATION hApplication, ULONG* pulMaxRetryCount, ULONG* pulRemainRetryCount,
                         BOOL* pbDefaultPin);
    ULONG SKF_VerifyPIN(HAPPLICATION hApplication, LPSTR szPIN, ULONG* pulRetryCount);
    ULONG SKF_ClearSecureState(HAPPLICATION hApplication);
    ULONG SKF_EnumApplication(DEVHANDLE hDev, LPSTR szAppName, ULONG* pulSize);
    ULONG SKF_OpenApplication(DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION* phApplication);
    ULONG SKF_CloseApplication(HAPPLICATION hApplication);
    // Read and write rights 0xFF (anyone).
    ULONG SKF_CreateFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulFileSize);
    ULONG SKF_DeleteFile(HAPPLICATION hApplication, LPSTR szFileName);
    ULONG SKF_EnumFiles(HAPPLICATION hApplication, LPSTR szFileList, ULONG* pulSize);
    ULONG SKF_GetFileInfo(HAPPLICATION hApplication, LPSTR szFileName, FILEATTRIBUTE* pFileInfo);
    // Both at offset 0.
    ULONG SKF_ReadFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulSize, BYTE* pbOutData,
                       ULONG* pulOutLen);
    ULONG SKF_WriteFile(HAPPLICATION hApplication, LPSTR szFileName, BYTE* pbData, ULONG ulSize);
    ULONG SKF_CreateContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer);
    ULONG SKF_DeleteContainer(HAPPLICATION hApplication, LPSTR szContainerName);
    ULONG SKF_EnumContainer(HAPPLICATION hApplication, LPSTR szContainerName, ULONG* pulSize);
    ULONG SKF_OpenContainer(HAPPLICATION hApplication, LPSTR szContainerName, HCONTAINER* phContainer);
    ULONG SKF_CloseContainer(HCONTAINER hContainer);
    ULONG SKF_ImportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG ulCertLen);
    ULONG SKF_ExportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert, ULONG* pulCertLen);
    ULONG SKF_GenRSAKeyPair(HCONTAINER hContainer, ULONG ulBitsLen, RSAPUBLICKEYBLOB* pBlob);
    // Symmetric algorithm 1.
    ULONG SKF_ImportRSAKeyPair(HCONTAINER hContainer, BYTE* pbWrappedKey, ULONG ulWrappedKeyLen,
                               BYTE* pbEncryptedData, ULONG ulEncryptedDataLen);
    ULONG SKF_RSASignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature,
                          ULONG* pulSignLen);
    // Algorithm 0x00020100 (SM2).
    ULONG SKF_GenECCKeyPair(HCONTAINER hContainer, ECCPUBLICKEYBLOB* pBlob);
    ULONG SKF_ImportECCKeyPair(HCONTAINER hContainer, ENVELOPEDKEYBLOB* pEnvelopedKeyBlob);
    ULONG SKF_ECCSignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen, ECCSIGNATUREBLOB* pSignature);
    ULONG SKF_ExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbBlob, ULONG* pulBlobLen);
    ULONG SKF_DigestInit(DEVHANDLE hDev, ULONG ulAlgID, ECCPUBLICKEYBLOB* pPubKey, unsigned char* pucID,
                         ULONG ulIDLen, HANDLE* phHash);
    ULONG SKF_DigestUpdate(HANDLE hHash, BYTE* pbData, ULONG ulDataLen);
    ULONG SKF_DigestFinal(HANDLE hHash, BYTE* pHashData, ULONG* pulHashLen);
    ULONG SKF_CloseHandle(HANDLE hHandle);

private:
    std::wstring m_wstrModulePath;  // empty while no module is loaded
    HMODULE m_hModule;              // NULL while no module is loaded

protected:
    // The bound name of an entry ("SKF_EnumDev"), NULL outside the table.
    static const char* EntryName(int index);

    // The entry table, open to subclasses: which names are bound, and room
    // to put something in front of an entry.
    FARPROC m_pfnEntries[SKF_ENTRY_COUNT];
};

// ---- the provider: one loaded key library and what was opened through it

class CSKFDeviceHandler;
struct DeviceObjInfo;
struct SealData;

// The longest CryptoAPI provider name whose registry key text can be formed.
constexpr size_t SKF_PROVIDER_NAME_MAX = 520;

// Hash algorithms of SignBinaryData.
constexpr DWORD SKF_CALG_SHA1 = 0x8004;
constexpr DWORD SKF_CALG_SHA_256 = 0x800C;
constexpr DWORD SKF_CALG_SM3 = 0x800F;

class CSKFCryptProvider : public ISKFModuleCaller {
public:
    // Loads the library at lpwModulePath (no trust check here: the factories
    // make it). lpwProvName may be NULL.
    CSKFCryptProvider(const wchar_t* lpwModulePath, const wchar_t* lpwProvName);
    // Closes every device handler while the library is still loaded.
    ~CSKFCryptProvider() override;

    // TRUE for the provider named "Orvane Tessmark1000 CSP V1.0" (any case).
    BOOL IsOrvaneSKFForRMQT() override;

    // A provider for a library file that exists and is trusted, else NULL
    // (the reason goes to the failure log).
    static CSKFCryptProvider* FromModulePath(const wchar_t* lpwModulePath);
    // The same for the library that the CryptoAPI provider's registry entry
    // names in "SKFBin Path".
    static CSKFCryptProvider* FromProviderName(const wchar_t* lpwProvName);

    std::wstring GetProviderName() const { return m_wstrProviderName; }
    std::wstring GetCurrentDevice() const { return m_wstrCurDeviceName; }
    std::wstring GetCurrentContainer() const { return m_wstrCurContainerName; }

    HRESULT ActivateProvider();
    HRESULT EnumerateAllDevices(std::vector<std::wstring>& vecDeviceNames);
    HRESULT GetDeviceObjInfo(std::wstring wstrDeviceName, DeviceObjInfo& stDeviceObjInfo);
    HRESULT GetDeviceSealData(std::wstring wstrDeviceName, std::vector<SealData>& vecSealData);
    HRESULT WriteDeviceSealData(std::wstring wstrDeviceName, const SealData& stSealData);

    HRESULT OpenDevice(std::wstring wstrDeviceName);
    HRESULT CreateContainer(std::wstring wstrDeviceName, std::wstring wstrContainerName);
    HRESULT DeleteContainer(std::wstring wstrDeviceName, std::wstring wstrContainerName);
    HRESULT OpenContainer(std::wstring wstrDeviceName, std::wstring wstrContainerName);
    HRESULT CleanEmptyContainers(std::wstring wstrDeviceName);

    // Key operations on the current device and container, under the key
    // library's device lock. Outputs are array new.
    HRESULT GenerateKeyPair(DWORD dwAlgID, BYTE** ppbyPublicKey, DWORD* pdwPublicKeySize);
    HRESULT ImportKeyPair(DWORD dwAlgID, const BYTE* pbyEncSessionKey, DWORD dwEncSessionKeySize,
                          const BYTE* pbyEncPrivateKey, DWORD dwEncPrivateKeySize);
    HRESULT ExportCertificate(BYTE** ppbyCertData, DWORD* pdwCertDataSize);
    HRESULT ImportCertificate(DWORD dwAlgID, const BYTE* pbyCertData, DWORD dwCertDataSize);
    HRESULT SignBinaryData(const BYTE* pbySrcData, DWORD dwSrcDataSize, DWORD dwHashAlgID, BYTE** ppbySignedData,
                           DWORD* pdwSignedDataSize);

    // The handler of a device name, connected on first use; NULL when the
    // key cannot be connected.
    CSKFDeviceHandler* GetDeviceHandler(std::wstring wstrDeviceName);
    void AddDeviceHandler(std::wstring wstrDeviceName, CSKFDeviceHandler* pDevHandler);
    void ClearDeviceHandlers();

private:
    std::wstring m_wstrProviderName;
    std::wstring m_wstrCurDeviceName;
    std::wstring m_wstrCurContainerName;
    BOOL m_bActivated;
    std::map<std::wstring, CSKFDeviceHandler*> m_mapDeviceHandlers;  // owned
};

// The facade's handle: the address of a provider, 0 for none.
typedef CSKFCryptProvider* HSKFCRYPTPROV;
