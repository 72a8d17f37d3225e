// The key library binding: loading by path, the table of 72 entry points,
// and the wrappers the device and container handlers call.
#include "SKFCryptProvider.h"

#include <shlwapi.h>

#include <cstdint>
#include <cstring>
#include <new>

#include "CustomSKFInterface.h"
#include "Encoding.h"
#include "FileKeeper.h"
#include "FunctionalitySet.h"
#include "Registry.h"
#include "SKFContainerHandler.h"
#include "SKFDeviceHandler.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"SKFCryptoKernel\\SKFCryptProvider"

namespace {

const char* const kEntryNames[SKF_ENTRY_COUNT] = {
#define SKF_ENTRY_NAME(name) #name,
    SKF_BOUND_NAME_LIST(SKF_ENTRY_NAME)
#undef SKF_ENTRY_NAME
};

const wchar_t* const kEntryTraceNames[SKF_ENTRY_COUNT] = {
#define SKF_ENTRY_TRACE_NAME(name) L"" #name,
    SKF_BOUND_NAME_LIST(SKF_ENTRY_TRACE_NAME)
#undef SKF_ENTRY_TRACE_NAME
};

// An entry as the standard's function type (through void* so that the
// conversion between function pointer types is explicit).
template <class Fn>
Fn EntryAs(FARPROC entry) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(entry));
}

}  // namespace

// The body of every wrapper: a trace scope under the wrapper's name, 487
// for an entry the library does not export, else the library's own code.
#define SKF_WRAPPER_CALL(name, args)                                           \
    TRACE_SCOPE(L"ISKFModuleCaller::" #name);                                  \
    const PFN_##name pfn = EntryAs<PFN_##name>(m_pfnEntries[SKFEntry_##name]); \
    if (!pfn) return SKF_ENTRY_MISSING;                                        \
    return pfn args

ISKFModuleCaller::ISKFModuleCaller() : m_hModule(nullptr) {
    for (FARPROC& entry : m_pfnEntries) entry = nullptr;
}

ISKFModuleCaller::~ISKFModuleCaller() { ISKFModuleCaller::ReleaseSKFModule(); }

BOOL ISKFModuleCaller::IsOrvaneSKFForRMQT() { return FALSE; }

void ISKFModuleCaller::LoadSKFModule(const wchar_t* pwszPath) {
    TRACE_SCOPE(L"ISKFModuleCaller::LoadSKFModule");
    ReleaseSKFModule();
    HMODULE module = nullptr;
    if (pwszPath && *pwszPath) module = LoadLibraryW(pwszPath);
    const DWORD lastError = GetLastError();
    TraceValueString(L"SKF module path", pwszPath ? pwszPath : L"");
    TraceValue(L"SKF module handle", DWORD(reinterpret_cast<uintptr_t>(module)));
    TraceValue(L"LoadLibraryW last error", lastError);
    if (!module) return;
    m_hModule = module;
    m_wstrModulePath = pwszPath;
    LoadSKFFunctionList();
}

void ISKFModuleCaller::ReleaseSKFModule() {
    m_wstrModulePath.clear();
    for (FARPROC& entry : m_pfnEntries) entry = nullptr;
    if (m_hModule) {
        FreeLibrary(m_hModule);
        m_hModule = nullptr;
    }
}

void ISKFModuleCaller::LoadSKFFunctionList() {
    TRACE_SCOPE(L"ISKFModuleCaller::LoadSKFFunctionList");
    for (int i = 0; i < SKF_ENTRY_COUNT; ++i) {
        m_pfnEntries[i] = m_hModule ? GetProcAddress(m_hModule, kEntryNames[i]) : nullptr;
        TraceValue(kEntryTraceNames[i], DWORD(reinterpret_cast<uintptr_t>(m_pfnEntries[i])));
    }
}

std::wstring ISKFModuleCaller::GetModulePath() const { return m_wstrModulePath; }

const char* ISKFModuleCaller::EntryName(int index) {
    return index >= 0 && index < SKF_ENTRY_COUNT ? kEntryNames[index] : nullptr;
}

// ---- wrappers

ULONG ISKFModuleCaller::SKF_EnumDev(LPSTR szNameList, ULONG* pulSize) {
    SKF_WRAPPER_CALL(SKF_EnumDev, (TRUE, szNameList, pulSize));
}

ULONG ISKFModuleCaller::SKF_ConnectDev(LPSTR szName, DEVHANDLE* phDev) {
    SKF_WRAPPER_CALL(SKF_ConnectDev, (szName, phDev));
}

ULONG ISKFModuleCaller::SKF_DisConnectDev(DEVHANDLE hDev) { SKF_WRAPPER_CALL(SKF_DisConnectDev, (hDev)); }

ULONG ISKFModuleCaller::SKF_GetDevInfo(DEVHANDLE hDev, DEVINFO* pDevInfo) {
    SKF_WRAPPER_CALL(SKF_GetDevInfo, (hDev, pDevInfo));
}

ULONG ISKFModuleCaller::SKF_LockDev(DEVHANDLE hDev) { SKF_WRAPPER_CALL(SKF_LockDev, (hDev, SKF_LOCK_TIMEOUT)); }

ULONG ISKFModuleCaller::SKF_UnlockDev(DEVHANDLE hDev) { SKF_WRAPPER_CALL(SKF_UnlockDev, (hDev)); }

ULONG ISKFModuleCaller::SKF_GetPINInfo(HAPPLICATION hApplication, ULONG* pulMaxRetryCount,
                                       ULONG* pulRemainRetryCount, BOOL* pbDefaultPin) {
    SKF_WRAPPER_CALL(SKF_GetPINInfo,
                     (hApplication, SKF_USER_PIN_TYPE, pulMaxRetryCount, pulRemainRetryCount, pbDefaultPin));
}

ULONG ISKFModuleCaller::SKF_VerifyPIN(HAPPLICATION hApplication, LPSTR szPIN, ULONG* pulRetryCount) {
    SKF_WRAPPER_CALL(SKF_VerifyPIN, (hApplication, SKF_USER_PIN_TYPE, szPIN, pulRetryCount));
}

ULONG ISKFModuleCaller::SKF_ClearSecureState(HAPPLICATION hApplication) {
    SKF_WRAPPER_CALL(SKF_ClearSecureState, (hApplication));
}

ULONG ISKFModuleCaller::SKF_EnumApplication(DEVHANDLE hDev, LPSTR szAppName, ULONG* pulSize) {
    SKF_WRAPPER_CALL(SKF_EnumApplication, (hDev, szAppName, pulSize));
}

ULONG ISKFModuleCaller::SKF_OpenApplication(DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION* phApplication) {
    SKF_WRAPPER_CALL(SKF_OpenApplication, (hDev, szAppName, phApplication));
}

ULONG ISKFModuleCaller::SKF_CloseApplication(HAPPLICATION hApplication) {
    SKF_WRAPPER_CALL(SKF_CloseApplication, (hApplication));
}

ULONG ISKFModuleCaller::SKF_CreateFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulFileSize) {
    SKF_WRAPPER_CALL(SKF_CreateFile,
                     (hApplication, szFileName, ulFileSize, SKF_FILE_RIGHTS_ANYONE, SKF_FILE_RIGHTS_ANYONE));
}

ULONG ISKFModuleCaller::SKF_DeleteFile(HAPPLICATION hApplication, LPSTR szFileName) {
    SKF_WRAPPER_CALL(SKF_DeleteFile, (hApplication, szFileName));
}

ULONG ISKFModuleCaller::SKF_EnumFiles(HAPPLICATION hApplication, LPSTR szFileList, ULONG* pulSize) {
    SKF_WRAPPER_CALL(SKF_EnumFiles, (hApplication, szFileList, pulSize));
}

ULONG ISKFModuleCaller::SKF_GetFileInfo(HAPPLICATION hApplication, LPSTR szFileName, FILEATTRIBUTE* pFileInfo) {
    SKF_WRAPPER_CALL(SKF_GetFileInfo, (hApplication, szFileName, pFileInfo));
}

ULONG ISKFModuleCaller::SKF_ReadFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulSize, BYTE* pbOutData,
                                     ULONG* pulOutLen) {
    SKF_WRAPPER_CALL(SKF_ReadFile, (hApplication, szFileName, SKF_FILE_OFFSET, ulSize, pbOutData, pulOutLen));
}

ULONG ISKFModuleCaller::SKF_WriteFile(HAPPLICATION hApplication, LPSTR szFileName, BYTE* pbData, ULONG ulSize) {
    SKF_WRAPPER_CALL(SKF_WriteFile, (hApplication, szFileName, SKF_FILE_OFFSET, pbData, ulSize));
}

ULONG ISKFModuleCaller::SKF_CreateContainer(HAPPLICATION hApplication, LPSTR szContainerName,
                                            HCONTAINER* phContainer) {
    SKF_WRAPPER_CALL(SKF_CreateContainer, (hApplication, szContainerName, phContainer));
}

ULONG ISKFModuleCaller::SKF_DeleteContainer(HAPPLICATION hApplication, LPSTR szContainerName) {
    SKF_WRAPPER_CALL(SKF_DeleteContainer, (hApplication, szContainerName));
}

ULONG ISKFModuleCaller::SKF_EnumContainer(HAPPLICATION hApplication, LPSTR szContainerName, ULONG* pulSize) {
    SKF_WRAPPER_CALL(SKF_EnumContainer, (hApplication, szContainerName, pulSize));
}

ULONG ISKFModuleCaller::SKF_OpenContainer(HAPPLICATION hApplication, LPSTR szContainerName,
                                          HCONTAINER* phContainer) {
    SKF_WRAPPER_CALL(SKF_OpenContainer, (hApplication, szContainerName, phContainer));
}

ULONG ISKFModuleCaller::SKF_CloseContainer(HCONTAINER hContainer) {
    SKF_WRAPPER_CALL(SKF_CloseContainer, (hContainer));
}

ULONG ISKFModuleCaller::SKF_ImportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert,
                                              ULONG ulCertLen) {
    SKF_WRAPPER_CALL(SKF_ImportCertificate, (hContainer, bSignFlag, pbCert, ulCertLen));
}

ULONG ISKFModuleCaller::SKF_ExportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert,
                                              ULONG* pulCertLen) {
    SKF_WRAPPER_CALL(SKF_ExportCertificate, (hContainer, bSignFlag, pbCert, pulCertLen));
}

ULONG ISKFModuleCaller::SKF_GenRSAKeyPair(HCONTAINER hContainer, ULONG ulBitsLen, RSAPUBLICKEYBLOB* pBlob) {
    SKF_WRAPPER_CALL(SKF_GenRSAKeyPair, (hContainer, ulBitsLen, pBlob));
}

ULONG ISKFModuleCaller::SKF_ImportRSAKeyPair(HCONTAINER hContainer, BYTE* pbWrappedKey, ULONG ulWrappedKeyLen,
                                             BYTE* pbEncryptedData, ULONG ulEncryptedDataLen) {
    SKF_WRAPPER_CALL(SKF_ImportRSAKeyPair, (hContainer, SKF_RSA_IMPORT_SYM_ALG, pbWrappedKey, ulWrappedKeyLen,
                                            pbEncryptedData, ulEncryptedDataLen));
}

ULONG ISKFModuleCaller::SKF_RSASignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen, BYTE* pbSignature,
                                        ULONG* pulSignLen) {
    SKF_WRAPPER_CALL(SKF_RSASignData, (hContainer, pbData, ulDataLen, pbSignature, pulSignLen));
}

ULONG ISKFModuleCaller::SKF_GenECCKeyPair(HCONTAINER hContainer, ECCPUBLICKEYBLOB* pBlob) {
    SKF_WRAPPER_CALL(SKF_GenECCKeyPair, (hContainer, SKF_ALG_SM2_SIGN, pBlob));
}

ULONG ISKFModuleCaller::SKF_ImportECCKeyPair(HCONTAINER hContainer, ENVELOPEDKEYBLOB* pEnvelopedKeyBlob) {
    SKF_WRAPPER_CALL(SKF_ImportECCKeyPair, (hContainer, pEnvelopedKeyBlob));
}

ULONG ISKFModuleCaller::SKF_ECCSignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen,
                                        ECCSIGNATUREBLOB* pSignature) {
    SKF_WRAPPER_CALL(SKF_ECCSignData, (hContainer, pbData, ulDataLen, pSignature));
}

ULONG ISKFModuleCaller::SKF_ExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbBlob,
                                            ULONG* pulBlobLen) {
    SKF_WRAPPER_CALL(SKF_ExportPublicKey, (hContainer, bSignFlag, pbBlob, pulBlobLen));
}

ULONG ISKFModuleCaller::SKF_DigestInit(DEVHANDLE hDev, ULONG ulAlgID, ECCPUBLICKEYBLOB* pPubKey,
                                       unsigned char* pucID, ULONG ulIDLen, HANDLE* phHash) {
    SKF_WRAPPER_CALL(SKF_DigestInit, (hDev, ulAlgID, pPubKey, pucID, ulIDLen, phHash));
}

ULONG ISKFModuleCaller::SKF_DigestUpdate(HANDLE hHash, BYTE* pbData, ULONG ulDataLen) {
    SKF_WRAPPER_CALL(SKF_DigestUpdate, (hHash, pbData, ulDataLen));
}

ULONG ISKFModuleCaller::SKF_DigestFinal(HANDLE hHash, BYTE* pHashData, ULONG* pulHashLen) {
    SKF_WRAPPER_CALL(SKF_DigestFinal, (hHash, pHashData, pulHashLen));
}

ULONG ISKFModuleCaller::SKF_CloseHandle(HANDLE hHandle) { SKF_WRAPPER_CALL(SKF_CloseHandle, (hHandle)); }

// ---- the provider

namespace {

constexpr HRESULT kNoDeviceHandler = static_cast<HRESULT>(0x80070023);
constexpr HRESULT kNoContainerHandler = static_cast<HRESULT>(0x8007006E);
constexpr HRESULT kBadHashAlgorithm = static_cast<HRESULT>(0x80090008);

const wchar_t kOrvaneProviderName[] = L"Orvane Tessmark1000 CSP V1.0";
const wchar_t kProviderKeyFormat[] = L"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\%ls";

// DigestInfo prefixes of PKCS #1 for the RSA signature of a hash.
const BYTE kSHA1DigestInfo[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x05, 0x00, 0x04,
                                0x14};
const BYTE kSHA256DigestInfo[] = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                  0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};

// A file that exists and passes the trust check becomes a provider.
CSKFCryptProvider* NewTrustedProvider(const wchar_t* traceFunc_, const wchar_t* lpwPath,
                                      const wchar_t* lpwProvName) {
    HRESULT hr = S_OK;
    CSKFCryptProvider* pCryptProvider = nullptr;

    if (!PathFileExistsW(lpwPath)) FAIL_GOTO(L"PathFileExistsW", L"bRetCode == FALSE", HResultFromLastError());
    hr = VerifyFileTrustPrivate(lpwPath);
    if (hr != S_OK) FAIL_GOTO(L"VerifyFileTrustPrivate", L"hResult != S_OK", HResultFromError(hr));
    pCryptProvider = new (std::nothrow) CSKFCryptProvider(lpwPath, lpwProvName);
    CHECK_GOTO(pCryptProvider == NULL, L"New CSKFCryptProvider", E_OUTOFMEMORY);
exit:
    return pCryptProvider;
}

}  // namespace

CSKFCryptProvider::CSKFCryptProvider(const wchar_t* lpwModulePath, const wchar_t* lpwProvName)
    : m_wstrProviderName(lpwProvName ? lpwProvName : L""), m_bActivated(FALSE) {
    TRACE_SCOPE(L"CSKFCryptProvider::CSKFCryptProvider");
    TraceValueString(L"Module Path", lpwModulePath ? lpwModulePath : L"");
    TraceValueString(L"Provider Name", m_wstrProviderName.c_str());
    LoadSKFModule(lpwModulePath);
}

CSKFCryptProvider::~CSKFCryptProvider() {
    TRACE_SCOPE(L"CSKFCryptProvider::~CSKFCryptProvider");
    m_bActivated = FALSE;
    m_wstrProviderName.clear();
    m_wstrCurDeviceName.clear();
    m_wstrCurContainerName.clear();
    ClearDeviceHandlers();  // the library is freed by the base afterwards
}

BOOL CSKFCryptProvider::IsOrvaneSKFForRMQT() {
    return _wcsicmp(m_wstrProviderName.c_str(), kOrvaneProviderName) == 0 ? TRUE : FALSE;
}

CSKFCryptProvider* CSKFCryptProvider::FromModulePath(const wchar_t* lpwModulePath) {
    TRACE_SCOPE(L"CSKFCryptProvider::FromModulePath");
    HRESULT hr = S_OK;
    CSKFCryptProvider* pCryptProvider = nullptr;

    CHECK_GOTO(lpwModulePath == NULL || wcslen(lpwModulePath) == 0, L"Check Parameter", E_INVALIDARG);
    pCryptProvider = NewTrustedProvider(traceFunc_, lpwModulePath, nullptr);
exit:
    (void)hr;
    return pCryptProvider;
}

CSKFCryptProvider* CSKFCryptProvider::FromProviderName(const wchar_t* lpwProvName) {
    TRACE_SCOPE(L"CSKFCryptProvider::FromProviderName");
    HRESULT hr = S_OK;
    CSKFCryptProvider* pCryptProvider = nullptr;
    wchar_t wszRegKey[SKF_PROVIDER_NAME_MAX + 64] = {};
    BYTE* pbyValue = nullptr;
    wchar_t* pwszLongPath = nullptr;

    CHECK_GOTO(lpwProvName == NULL || wcslen(lpwProvName) == 0, L"Check Parameter", E_INVALIDARG);
    // The key text has room for a name of at most 520 characters; a longer
    // one is refused before anything is formatted or read.
    CHECK_GOTO(wcslen(lpwProvName) > SKF_PROVIDER_NAME_MAX, L"Check Parameter", E_INVALIDARG);
    _snwprintf(wszRegKey, ARRAYSIZE(wszRegKey) - 1, kProviderKeyFormat, lpwProvName);
    hr = ReadRegistryData(HKEY_LOCAL_MACHINE, wszRegKey, L"SKFBin Path", &pbyValue, FALSE, RegistryData_Buffer);
    if (hr != S_OK) FAIL_GOTO(L"ReadRegistryData", L"hResult != S_OK", hr);
    hr = GetFileLongPathName(reinterpret_cast<const wchar_t*>(pbyValue), &pwszLongPath);
    if (hr != S_OK) FAIL_GOTO(L"GetFileLongPathName", L"hResult != S_OK", hr);
    TraceValueString(L"SKFBin Path", pwszLongPath);
    pCryptProvider = NewTrustedProvider(traceFunc_, pwszLongPath, lpwProvName);
exit:
    delete[] pbyValue;
    delete[] pwszLongPath;
    return pCryptProvider;
}

// ---- device handlers

CSKFDeviceHandler* CSKFCryptProvider::GetDeviceHandler(std::wstring wstrDeviceName) {
    TRACE_SCOPE(L"CSKFCryptProvider::GetDeviceHandler");
    if (wstrDeviceName.empty()) return nullptr;
    auto it = m_mapDeviceHandlers.find(wstrDeviceName);
    if (it != m_mapDeviceHandlers.end()) return it->second;
    CSKFDeviceHandler* pDevHandler = CSKFDeviceHandler::FromDeviceName(wstrDeviceName.c_str(), this);
    if (pDevHandler == NULL) return nullptr;
    AddDeviceHandler(wstrDeviceName, pDevHandler);
    return pDevHandler;
}

void CSKFCryptProvider::AddDeviceHandler(std::wstring wstrDeviceName, CSKFDeviceHandler* pDevHandler) {
    m_mapDeviceHandlers.insert(std::make_pair(wstrDeviceName, pDevHandler));
}

void CSKFCryptProvider::ClearDeviceHandlers() {
    TRACE_SCOPE(L"CSKFCryptProvider::ClearDeviceHandlers");
    for (auto& entry : m_mapDeviceHandlers) delete entry.second;
    m_mapDeviceHandlers.clear();
}

// ---- activation and the device list

HRESULT CSKFCryptProvider::ActivateProvider() {
    TRACE_SCOPE(L"CSKFCryptProvider::ActivateProvider");
    HRESULT hr = S_OK;
    ULONG rc = 0;
    ULONG ulSize = 0;

    if (m_bActivated) goto exit;
    rc = SKF_EnumDev(nullptr, &ulSize);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_EnumDev(Size)", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
    m_bActivated = TRUE;
exit:
    return hr;
}

HRESULT CSKFCryptProvider::EnumerateAllDevices(std::vector<std::wstring>& vecDeviceNames) {
    TRACE_SCOPE(L"CSKFCryptProvider::EnumerateAllDevices");
    HRESULT hr = S_OK;
    ULONG rc = 0;
    ULONG ulSize = 0;
    char* pszDevNameList = nullptr;

    rc = SKF_EnumDev(nullptr, &ulSize);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_EnumDev(Size)", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
    pszDevNameList = new (std::nothrow) char[size_t(ulSize) + 1]();
    CHECK_GOTO(!pszDevNameList, L"New buffer", E_OUTOFMEMORY);
    rc = SKF_EnumDev(pszDevNameList, &ulSize);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_EnumDev(Data)", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
    // The list ends at the first empty name (the extra zero byte ends a
    // list that the library did not terminate).
    for (const char* p = pszDevNameList; *p; p += strlen(p) + 1) {
        wchar_t* pwszName = nullptr;
        hr = UTF8ToUTF16(p, &pwszName, nullptr);
        if (hr != S_OK) FAIL_GOTO(L"UTF8ToUTF16", L"hResult != S_OK", hr);
        vecDeviceNames.push_back(pwszName);
        delete[] pwszName;
    }
    m_bActivated = TRUE;
exit:
    delete[] pszDevNameList;
    return hr;
}

HRESULT CSKFCryptProvider::GetDeviceObjInfo(std::wstring wstrDeviceName, DeviceObjInfo& stDeviceObjInfo) {
    TRACE_SCOPE(L"CSKFCryptProvider::GetDeviceObjInfo");
    HRESULT hr = S_OK;
    CSKFDeviceHandler* pDevHandler = nullptr;
    DWORD dwMaxRetryCount = 0, dwRemainRetryCount = 0;
    BOOL bDefaultPIN = FALSE;
    std::vector<std::wstring> vecContainerNames;

    CHECK_GOTO(wstrDeviceName.length() == 0, L"Check Parameter", E_INVALIDARG);
    pDevHandler = GetDeviceHandler(wstrDeviceName);
    CHECK_GOTO(pDevHandler == NULL, L"GetDeviceHandler", kNoDeviceHandler);
    hr = pDevHandler->GetDevicePINInfo(&dwMaxRetryCount, &dwRemainRetryCount, &bDefaultPIN);
    if (hr != S_OK) FAIL_GOTO(L"DevHandler->GetDevicePINInfo", L"hResult != S_OK", HResultFromError(hr));
    stDeviceObjInfo.wstrProviderName = GetProviderName();
    stDeviceObjInfo.wstrModulePath = GetModulePath();
    stDeviceObjInfo.wstrDeviceName = pDevHandler->GetDeviceName();
    stDeviceObjInfo.wstrLabel = pDevHandler->GetDeviceLabel();
    stDeviceObjInfo.wstrSerialNumber = pDevHandler->GetSerialNumber();
    stDeviceObjInfo.dwMaxRetryCount = dwMaxRetryCount;
    stDeviceObjInfo.dwRemainRetryCount = dwRemainRetryCount;
    stDeviceObjInfo.dwPINState = dwRemainRetryCount == 0 ? SKF_PIN_STATE_LOCKED
                                 : bDefaultPIN           ? SKF_PIN_STATE_DEFAULT
                                                         : SKF_PIN_STATE_NORMAL;
    hr = pDevHandler->EnumerateAllContainers(vecContainerNames);
    if (hr != S_OK) FAIL_GOTO(L"EnumerateAllContainers", L"hResult != S_OK", HResultFromError(hr));
    for (const std::wstring& name : vecContainerNames) {
        ContainerObjInfo stContainerObjInfo;
        hr = pDevHandler->GetContainerObjInfo(name, stContainerObjInfo);
        if (hr != S_OK) FAIL_GOTO(L"GetContainerObjInfo", L"hResult != S_OK", HResultFromError(hr));
        if (!stContainerObjInfo.strSignCert.empty() || !stContainerObjInfo.strEncCert.empty())
            stDeviceObjInfo.vetContainers.push_back(stContainerObjInfo);
    }
exit:
    if (hr != S_OK) stDeviceObjInfo.Clear();
    return hr;
}

HRESULT CSKFCryptProvider::GetDeviceSealData(std::wstring wstrDeviceName, std::vector<SealData>& vecSealData) {
    TRACE_SCOPE(L"CSKFCryptProvider::GetDeviceSealData");
    HRESULT hr = S_OK;
    CSKFDeviceHandler* pDevHandler = nullptr;

    CHECK_GOTO(wstrDeviceName.length() == 0, L"Check Parameter", E_INVALIDARG);
    pDevHandler = GetDeviceHandler(wstrDeviceName);
    CHECK_GOTO(pDevHandler == NULL, L"GetDeviceHandler", kNoDeviceHandler);
    hr = pDevHandler->GetDeviceSealData(vecSealData);
    if (hr != S_OK) FAIL_GOTO(L"DevHandler->GetDeviceSealData", L"hResult != S_OK", HResultFromError(hr));
exit:
    return hr;
}

HRESULT CSKFCryptProvider::WriteDeviceSealData(std::wstring wstrDeviceName, const SealData& stSealData) {
    TRACE_SCOPE(L"CSKFCryptProvider::WriteDeviceSealData");
    HRESULT hr = S_OK;
    CSKFDeviceHandler* pDevHandler = nullptr;

    CHECK_GOTO(wstrDeviceName.length() == 0, L"Check Parameter", E_INVALIDARG);
    pDevHandler = GetDeviceHandler(wstrDeviceName);
    CHECK_GOTO(pDevHandler == NULL, L"GetDeviceHandler", kNoDeviceHandler);
    hr = pDevHandler->WriteDeviceSealData(stSealData);
    if (hr != S_OK) FAIL_GOTO(L"DevHandler->WriteDeviceSealData", L"hResult != S_OK", HResultFromError(hr));
exit:
    return hr;
}

// ---- choosing the current device and container

HRESULT CSKFCryptProvider::OpenDevice(std::wstring wstrDeviceName) {
    TRACE_SCOPE(L"CSKFCryptProvider::OpenDevice");
    HRESULT hr = S_OK;

    CHECK_GOTO(wstrDeviceName.length() == 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(GetDeviceHandler(wstrDeviceName) == NULL, L"GetDeviceHandler", kNoDeviceHandler);
    m_wstrCurDeviceName = wstrDeviceName;
    m_wstrCurContainerName.clear();
exit:
    return hr;
}

HRESULT CSKFCryptProvider::CreateContainer(std::wstring wstrDeviceName, std::wstring wstrContainerName) {
    TRACE_SCOPE(L"CSKFCryptProvider::CreateContainer");
    HRESULT hr = S_OK;
    CSKFDeviceHandler* pDevHandler = nullptr;

    CHECK_GOTO(wstrDeviceName.length() == 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(wstrContainerName.length() == 0, L"Check Parameter", E_INVALIDARG);
    pDevHandler = GetDeviceHandler(wstrDeviceName);
    CHECK_GOTO(pDevHandler == NULL, L"GetDeviceHandler", kNoDeviceHandler);
    hr = pDevHandler->CreateContainer(wstrContainerName);
    if (hr != S_OK) FAIL_GOTO(L"DevHandler->CreateContainer", L"hResult != S_OK", HResultFromError(hr));
    m_wstrCurDeviceName = wstrDeviceName;
    m_wstrCurContainerName = wstrContainerName;
exit:
    return hr;
}

HRESULT CSKFCryptProvider::DeleteContainer(std::wstring wstrDeviceName, std::wstring wstrContainerName) {
    TRACE_SCOPE(L"CSKFCryptProvider::DeleteContainer");
    HRESULT hr = S_OK;
    CSKFDeviceHandler* pDevHandler = nullptr;

    CHECK_GOTO(wstrDeviceName.length() == 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(wstrContainerName.length() == 0, L"Check Parameter", E_INVALIDARG);
    pDevHandler = GetDeviceHandler(wstrDeviceName);
    CHECK_GOTO(pDevHandler == NULL, L"GetDeviceHandler", kNoDeviceHandler);
    hr = pDevHandler->DeleteContainer(wstrContainerName);
    if (hr != S_OK) FAIL_GOTO(L"DevHandler->DeleteContainer", L"hResult != S_OK", HResultFromError(hr));
    m_wstrCurDeviceName = wstrDeviceName;
    m_wstrCurContainerName.clear();
exit:
    return hr;
}

HRESULT CSKFCryptProvider::OpenContainer(std::wstring wstrDeviceName, std::wstring wstrContainerName) {
    TRACE_SCOPE(L"CSKFCryptProvider::OpenContainer");
    HRESULT hr = S_OK;
    CSKFDeviceHandler* pDevHandler = nullptr;

    CHECK_GOTO(wstrDeviceName.length() == 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(wstrContainerName.length() == 0, L"Check Parameter", E_INVALIDARG);
    pDevHandler = GetDeviceHandler(wstrDeviceName);
    CHECK_GOTO(pDevHandler == NULL, L"GetDeviceHandler", kNoDeviceHandler);
    CHECK_GOTO(pDevHandler->GetContainerHandler(wstrContainerName) == NULL, L"GetContainerHandler",
               kNoContainerHandler);
    m_wstrCurDeviceName = wstrDeviceName;
    m_wstrCurContainerName = wstrContainerName;
exit:
    return hr;
}

HRESULT CSKFCryptProvider::CleanEmptyContainers(std::wstring wstrDeviceName) {
    TRACE_SCOPE(L"CSKFCryptProvider::CleanEmptyContainers");
    HRESULT hr = S_OK;
    CSKFDeviceHandler* pDevHandler = nullptr;

    CHECK_GOTO(wstrDeviceName.length() == 0, L"Check Parameter", E_INVALIDARG);
    pDevHandler = GetDeviceHandler(wstrDeviceName);
    CHECK_GOTO(pDevHandler == NULL, L"GetDeviceHandler", kNoDeviceHandler);
    hr = pDevHandler->CleanEmptyContainers();
    if (hr != S_OK) FAIL_GOTO(L"DevHandler->CleanEmptyContainers", L"hResult != S_OK", HResultFromError(hr));
    m_wstrCurDeviceName = wstrDeviceName;
    m_wstrCurContainerName.clear();
exit:
    return hr;
}

// ---- key operations on the current container
//
// The user PIN is proved before the device lock is taken: a PIN dialog
// shown under the lock would keep every other process away from the key for
// as long as the user reads it. Under the lock the handler's own check then
// verifies the cached PIN without asking. Refusals that the handler makes
// before it asks for the PIN are left to it, so that they come without a
// dialog.

namespace {

// Proves the user PIN when the operation is one that the handler would
// carry out (its container opens); otherwise the handler refuses it itself.
HRESULT ProveIdentityBeforeLock(CSKFDeviceHandler* pDevHandler, const std::wstring& wstrContainerName) {
    TRACE_SCOPE(L"CSKFCryptProvider::ProveIdentityBeforeLock");
    if (pDevHandler->GetContainerHandler(wstrContainerName) == NULL) return S_OK;
    return pDevHandler->VerifyDeviceIdentity();
}

}  // namespace

// The common frame of the five key operations: the current names checked,
// the handler got, the PIN proved when bProveIdentity, the device locked
// around the work, and unlocked on every path once the handler was got.
template <class Work>
static HRESULT RunKeyOperation(const wchar_t* traceFunc_, CSKFCryptProvider* pProv, const std::wstring& wstrDevice,
                               const std::wstring& wstrContainer, BOOL bArgsMissing, const wchar_t* lpwArgsReason,
                               BOOL bProveIdentity, const wchar_t* lpwWorkStep, Work work) {
    HRESULT hr = S_OK;
    CSKFDeviceHandler* pDevHandler = nullptr;

    if (wstrDevice.length() == 0)
        FAIL_GOTO(L"Check Parameter", L"m_wstrCurDeviceName.length() == 0", E_INVALIDARG);
    if (wstrContainer.length() == 0)
        FAIL_GOTO(L"Check Parameter", L"m_wstrCurContainerName.length() == 0", E_INVALIDARG);
    if (bArgsMissing) FAIL_GOTO(L"Check Parameter", lpwArgsReason, E_INVALIDARG);
    pDevHandler = pProv->GetDeviceHandler(wstrDevice);
    if (pDevHandler == NULL) FAIL_GOTO(L"GetDeviceHandler", L"pDevHandler == NULL", kNoDeviceHandler);
    if (bProveIdentity) {
        hr = ProveIdentityBeforeLock(pDevHandler, wstrContainer);
        if (hr != S_OK) FAIL_GOTO(L"DevHandler->VerifyDeviceIdentity", L"hResult != S_OK", HResultFromError(hr));
    }
    hr = pDevHandler->LockDevice();
    if (hr != S_OK) FAIL_GOTO(L"DevHandler->LockDevice", L"hResult != S_OK", HResultFromError(hr));
    hr = work(pDevHandler);
    if (hr != S_OK && lpwWorkStep) FAIL_GOTO(lpwWorkStep, L"hResult != S_OK", HResultFromError(hr));
exit:
    if (pDevHandler) pDevHandler->UnlockDevice();
    return hr;
}

HRESULT CSKFCryptProvider::GenerateKeyPair(DWORD dwAlgID, BYTE** ppbyPublicKey, DWORD* pdwPublicKeySize) {
    TRACE_SCOPE(L"CSKFCryptProvider::GenerateKeyPair");
    const std::wstring container = m_wstrCurContainerName;
    return RunKeyOperation(traceFunc_, this, m_wstrCurDeviceName, container,
                           ppbyPublicKey == NULL || pdwPublicKeySize == NULL,
                           L"ppbyPublicKey == NULL || pdwPublicKeySize == NULL", TRUE, L"DevHandler->GenerateKeyPair",
                           [&](CSKFDeviceHandler* pDevHandler) {
                               return pDevHandler->GenerateKeyPair(container, dwAlgID, 256, ppbyPublicKey,
                                                                   pdwPublicKeySize);
                           });
}

HRESULT CSKFCryptProvider::ImportKeyPair(DWORD dwAlgID, const BYTE* pbyEncSessionKey, DWORD dwEncSessionKeySize,
                                         const BYTE* pbyEncPrivateKey, DWORD dwEncPrivateKeySize) {
    TRACE_SCOPE(L"CSKFCryptProvider::ImportKeyPair");
    const std::wstring container = m_wstrCurContainerName;
    // The handler refuses an unknown algorithm, and an RSA import without its
    // wrapped key, before it asks for the PIN.
    const bool rsa = dwAlgID == SKF_ALG_AT_KEYEXCHANGE || dwAlgID == SKF_ALG_CALG_RSA_KEYX;
    const bool known = rsa || dwAlgID == SKF_ALG_CALG_SM2_KEYX;
    const BOOL bProve = known && !(rsa && (pbyEncSessionKey == NULL || dwEncSessionKeySize == 0));
    return RunKeyOperation(traceFunc_, this, m_wstrCurDeviceName, container,
                           pbyEncPrivateKey == NULL || dwEncPrivateKeySize == 0,
                           L"pbyEncPrivateKey == NULL || dwEncPrivateKeySize == 0", bProve, L"DevHandler->ImportKeyPair",
                           [&](CSKFDeviceHandler* pDevHandler) {
                               return pDevHandler->ImportKeyPair(container, dwAlgID, pbyEncSessionKey,
                                                                 dwEncSessionKeySize, pbyEncPrivateKey,
                                                                 dwEncPrivateKeySize);
                           });
}

HRESULT CSKFCryptProvider::ExportCertificate(BYTE** ppbyCertData, DWORD* pdwCertDataSize) {
    TRACE_SCOPE(L"CSKFCryptProvider::ExportCertificate");
    const std::wstring container = m_wstrCurContainerName;
    return RunKeyOperation(traceFunc_, this, m_wstrCurDeviceName, container,
                           ppbyCertData == NULL || pdwCertDataSize == NULL,
                           L"ppbyCertData == NULL || pdwCertDataSize == NULL", FALSE, L"DevHandler->ExportCertificate",
                           [&](CSKFDeviceHandler* pDevHandler) {
                               return pDevHandler->ExportCertificate(container, SKF_ALG_AT_SIGNATURE, ppbyCertData,
                                                                     pdwCertDataSize);
                           });
}

HRESULT CSKFCryptProvider::ImportCertificate(DWORD dwAlgID, const BYTE* pbyCertData, DWORD dwCertDataSize) {
    TRACE_SCOPE(L"CSKFCryptProvider::ImportCertificate");
    const std::wstring container = m_wstrCurContainerName;
    BOOL bSignFlag = FALSE;
    const BOOL bProve = SKFSignFlagOfAlgorithm(dwAlgID, &bSignFlag) ? TRUE : FALSE;
    return RunKeyOperation(traceFunc_, this, m_wstrCurDeviceName, container,
                           pbyCertData == NULL || dwCertDataSize == 0, L"pbyCertData == NULL || dwCertDataSize == 0",
                           bProve, L"DevHandler->ImportCertificate", [&](CSKFDeviceHandler* pDevHandler) {
                               return pDevHandler->ImportCertificate(container, dwAlgID, pbyCertData, dwCertDataSize);
                           });
}

HRESULT CSKFCryptProvider::SignBinaryData(const BYTE* pbySrcData, DWORD dwSrcDataSize, DWORD dwHashAlgID,
                                          BYTE** ppbySignedData, DWORD* pdwSignedDataSize) {
    TRACE_SCOPE(L"CSKFCryptProvider::SignBinaryData");
    const std::wstring container = m_wstrCurContainerName;
    const bool knownHash = dwHashAlgID == SKF_CALG_SHA1 || dwHashAlgID == SKF_CALG_SHA_256 || dwHashAlgID == SKF_CALG_SM3;
    const BOOL argsMissing = (pbySrcData == NULL && dwSrcDataSize != 0) || ppbySignedData == NULL ||
                             pdwSignedDataSize == NULL;
    const wchar_t* reason = (pbySrcData == NULL && dwSrcDataSize != 0)
                                ? L"pbySrcData == NULL && dwSrcDataSize != 0"
                                : L"ppbySignedData == NULL || pdwSignedDataSize == NULL";
    // An unknown hash is refused by the hashing before anything reaches the
    // key, so it asks for no PIN either.
    return RunKeyOperation(
        traceFunc_, this, m_wstrCurDeviceName, container, argsMissing, reason, knownHash ? TRUE : FALSE, nullptr,
        [&](CSKFDeviceHandler* pDevHandler) {
            HRESULT hr = S_OK;
            BYTE* pbyHashData = nullptr;
            DWORD dwHashDataSize = 0;
            BYTE* pbySignHashData = nullptr;
            DWORD dwSignHashSize = 0;
            const BYTE* prefix = nullptr;
            DWORD prefixSize = 0;

            hr = pDevHandler->CalculateHashData(pbySrcData, dwSrcDataSize, dwHashAlgID, &pbyHashData,
                                                &dwHashDataSize, container);
            if (hr != S_OK) FAIL_GOTO(L"DevHandler->CalculateHashData", L"hResult != S_OK", HResultFromError(hr));
            switch (dwHashAlgID) {
                case SKF_CALG_SHA1:
                    prefix = kSHA1DigestInfo;
                    prefixSize = sizeof kSHA1DigestInfo;
                    break;
                case SKF_CALG_SHA_256:
                    prefix = kSHA256DigestInfo;
                    prefixSize = sizeof kSHA256DigestInfo;
                    break;
                case SKF_CALG_SM3:
                    break;
                default:
                    FAIL_GOTO(L"Invalid Hash Algorithm.", L"dwHashAlgID is unknown", kBadHashAlgorithm);
            }
            dwSignHashSize = prefixSize + dwHashDataSize;
            pbySignHashData = new (std::nothrow) BYTE[dwSignHashSize ? dwSignHashSize : 1];
            CHECK_GOTO(!pbySignHashData, L"New buffer", E_OUTOFMEMORY);
            if (prefixSize) memcpy(pbySignHashData, prefix, prefixSize);
            if (dwHashDataSize) memcpy(pbySignHashData + prefixSize, pbyHashData, dwHashDataSize);
            hr = pDevHandler->SignHashData(container, pbySignHashData, dwSignHashSize, ppbySignedData,
                                           pdwSignedDataSize);
            if (hr != S_OK) FAIL_GOTO(L"DevHandler->SignHashData", L"hResult != S_OK", HResultFromError(hr));
        exit:
            delete[] pbyHashData;
            delete[] pbySignHashData;
            return hr;
        });
}
