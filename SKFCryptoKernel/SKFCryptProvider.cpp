// The key library binding: loading by path, the table of 72 entry points,
// and the wrappers the device and container handlers call.
#include "SKFCryptProvider.h"

#include <cstdint>

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
