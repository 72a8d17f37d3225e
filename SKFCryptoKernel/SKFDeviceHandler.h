#pragma once
// The key access layer's connection to one plugged key: the key connected
// and its first application opened through the key library binding, the
// key's label and serial number, the device lock, and the user PIN asked
// through the application's UI delegator, verified on the key and kept
// protected by the Windows data protection API for later verifications on
// the same connection.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "CustomSKFInterface.h"
#include "SKFCryptProvider.h"

class CSKFContainerHandler;

// What the application supplies for user interaction. The layer owns the
// registered object and deletes it when it is unregistered.
class ISKFUIDelegator {
public:
    // TRUE lets a device handler verify a cached PIN without asking and
    // cache a newly entered one.
    virtual BOOL IsPINCacheEnabled() = 0;
    // 0 when a device was chosen (its name to wstrDeviceName).
    virtual HRESULT SKFCryptSelectDevice(HSKFCRYPTPROV hProv, std::vector<std::wstring> vecDeviceNames,
                                         std::wstring& wstrDeviceName) = 0;
    // 0 when the user entered a PIN; anything else (a cancel) is passed on.
    // bRetry is 0 on the first request of a verification, 1 after a wrong PIN.
    virtual HRESULT SKFCryptUIInputPIN(std::wstring wstrSerialNumber, BOOL bRetry, DWORD dwRemainRetryCount,
                                       std::wstring& wstrPIN) = 0;
    // 0 when the user set a PIN.
    virtual HRESULT SKFCryptUISetInitPIN(std::wstring wstrText, std::wstring& wstrNewPIN) = 0;
    virtual ~ISKFUIDelegator() {}
};

// The registered delegator, NULL when none. Set before the worker threads
// start and cleared after they end, so it is read without a lock.
extern ISKFUIDelegator* g_ptrSKFUIDelegator;

void SKFRegisterUIDelegator(ISKFUIDelegator* pDelegator);
// Deletes the registered delegator and clears the pointer.
void SKFUnregisterUIDelegator();

// One file of the key's application as read or to be written.
struct SealData {
    BYTE* pbySealData;       // the content and one zero byte beyond it (array new)
    DWORD dwSealDataSize;    // the content's length, without the extra byte
};

class CSKFDeviceHandler {
public:
    explicit CSKFDeviceHandler(ISKFModuleCaller* pSKFModuleCaller);
    ~CSKFDeviceHandler();
    CSKFDeviceHandler(const CSKFDeviceHandler&) = delete;
    CSKFDeviceHandler& operator=(const CSKFDeviceHandler&) = delete;

    // A new handler connected to the key with its application open, or NULL.
    static CSKFDeviceHandler* FromDeviceName(const wchar_t* lpwDeviceName, ISKFModuleCaller* pSKFModuleCaller);

    HRESULT OpenDeviceHandle(const wchar_t* lpwDeviceDesc);
    HRESULT CloseDeviceHandle();
    HRESULT LockDevice();
    HRESULT UnlockDevice();

    std::wstring GetDeviceName() const { return m_strDeviceName; }
    std::wstring GetDeviceLabel() const { return m_strLabel; }
    std::wstring GetSerialNumber() const { return m_strSerialNumber; }

    HRESULT GetDevicePINInfo(DWORD* pdwMaxRetryCount, DWORD* pdwRemainRetryCount, BOOL* pbDefaultPIN);
    HRESULT VerifyDevicePIN(const wchar_t* lpwUserPIN);
    // 0 once the key's user PIN is verified on this connection: the cached
    // PIN when caching is on and it still verifies, else the PIN dialog
    // until a correct PIN or a cancel.
    HRESULT VerifyDeviceIdentity();

    HRESULT CacheUserPIN(const wchar_t* lpwUserPIN);
    HRESULT VerifyCachedPIN();
    BOOL IsCachedPINEmpty() const;
    void ClearCachedPIN();

    // Protect and unprotect for the current Windows user. The output is a new
    // array (length + 1 bytes, the extra one zero) freed with array delete.
    static HRESULT CreateProtectData(const BYTE* pbDataIn, DWORD dwDataInSize, BYTE** ppbDataOut,
                                     DWORD* pdwDataOutSize);
    static HRESULT AcquireProtectData(const BYTE* pbDataIn, DWORD dwDataInSize, BYTE** ppbDataOut,
                                      DWORD* pdwDataOutSize);

    // Every file of the application, in the key library's list order,
    // appended to vecSealData (the caller frees each pbySealData).
    HRESULT GetDeviceSealData(std::vector<SealData>& vecSealData);
    // Replaces the application's files with one file, named like the first
    // one, holding stSealData. When a step after the first deletion fails,
    // the old files are written back and the first failure is returned.
    HRESULT WriteDeviceSealData(const SealData& stSealData);
    // The application's container names appended to vecContainerNames.
    HRESULT EnumerateAllContainers(std::vector<std::wstring>& vecContainerNames);

    // The container handlers, one per container name (case-sensitive), kept
    // until the container is deleted through this handler or the handler
    // goes. GetContainerHandler opens and enters one on first use (NULL
    // when the container cannot be opened).
    CSKFContainerHandler* GetContainerHandler(std::wstring wstrContainerName);
    void AddContainerHandler(std::wstring wstrContainerName, CSKFContainerHandler* pContainerHandler);
    void RemoveContainerHandler(std::wstring wstrContainerName);
    void ClearContainerHandlers();

    // Type, name and both certificates as Base64 (a missing certificate
    // leaves its text empty).
    HRESULT GetContainerObjInfo(std::wstring wstrContainerName, ContainerObjInfo& stContainerObjInfo);
    // Creating asks for the user's identity; deleting does not.
    HRESULT CreateContainer(std::wstring wstrContainerName);
    HRESULT DeleteContainer(std::wstring wstrContainerName);
    // Deletes every container whose two certificates the key reports absent;
    // a container whose state cannot be read is kept.
    HRESULT CleanEmptyContainers();

    // Per-container operations: the container handler's, after the user's
    // identity is proved (except the certificate export). Outputs are
    // array new.
    HRESULT GenerateKeyPair(std::wstring wstrContainerName, DWORD dwAlgID, DWORD dwKeyLength, BYTE** ppbyPublicKey,
                            DWORD* pdwPublicKeySize);
    HRESULT ImportKeyPair(std::wstring wstrContainerName, DWORD dwAlgID, const BYTE* pbyEncSessionKey,
                          DWORD dwEncSessionKeySize, const BYTE* pbyEncPrivateKey, DWORD dwEncPrivateKeySize);
    HRESULT ExportCertificate(std::wstring wstrContainerName, DWORD dwAlgID, BYTE** ppbyCertData,
                              DWORD* pdwCertDataSize);
    HRESULT ImportCertificate(std::wstring wstrContainerName, DWORD dwAlgID, const BYTE* pbyCertData,
                              DWORD dwCertDataSize);
    HRESULT SignHashData(std::wstring wstrContainerName, const BYTE* pbyHashData, DWORD dwHashDataSize,
                         BYTE** ppbySignedData, DWORD* pdwSignedDataSize);
    // SHA-1 (0x8004), SHA-256 (0x800C) or SM3 (0x800F, over the container's
    // signature key and the default signer ID) computed by the key.
    HRESULT CalculateHashData(const BYTE* pbySrcData, DWORD dwSrcDataSize, DWORD dwHashAlgID, BYTE** ppbyHashData,
                              DWORD* pdwHashDataSize, std::wstring wstrContainerName);

    DEVHANDLE GetDeviceHandle() const { return m_hDevice; }
    HAPPLICATION GetApplicationHandle() const { return m_hApplication; }

protected:
    // The application's file names in list order.
    HRESULT EnumerateFileNames(std::vector<std::string>& vecNames);

    ISKFModuleCaller* m_pSKFModuleCaller;  // not owned
    DEVHANDLE m_hDevice;
    HAPPLICATION m_hApplication;
    std::wstring m_strDeviceName;
    std::wstring m_strLabel;
    std::wstring m_strSerialNumber;
    DWORD m_dwCachedPINSize;  // the protected blob's length, without the extra zero byte
    BYTE* m_pbyCachedPIN;     // the protected blob (array new), NULL when empty
    std::map<std::wstring, CSKFContainerHandler*> m_mapContainerHandlers;  // owned
};
