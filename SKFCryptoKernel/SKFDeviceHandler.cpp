// The device handler: connection, lock, PIN information and verification,
// the PIN dialog road and the protected PIN cache.
#include "SKFDeviceHandler.h"

#include <wincrypt.h>

#include <cstring>
#include <new>

#include "Encoding.h"
#include "SKFContainerHandler.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"SKFCryptoKernel\\SKFDeviceHandler"

ISKFUIDelegator* g_ptrSKFUIDelegator = nullptr;

void SKFRegisterUIDelegator(ISKFUIDelegator* pDelegator) { g_ptrSKFUIDelegator = pDelegator; }

void SKFUnregisterUIDelegator() {
    delete g_ptrSKFUIDelegator;
    g_ptrSKFUIDelegator = nullptr;
}

namespace {

constexpr HRESULT kInvalidData = static_cast<HRESULT>(0x8007000D);
constexpr HRESULT kNoApplication = static_cast<HRESULT>(0x8007002E);
constexpr HRESULT kPINLocked = static_cast<HRESULT>(0x80070025);
constexpr HRESULT kNoDelegator = static_cast<HRESULT>(0x80070032);

// Overwrites a string's characters before it goes.
void WipeString(std::wstring& s) {
    if (!s.empty()) SecureZeroMemory(&s[0], s.size() * sizeof(wchar_t));
    s.clear();
}

// A fixed DEVINFO text field (UTF-8, zero-terminated unless it fills the
// field) as a wide string; a full field reads as all its bytes.
HRESULT FieldToWide(const CHAR* field, size_t fieldSize, std::wstring& out) {
    char text[64] = {};
    memcpy(text, field, fieldSize < sizeof(text) - 1 ? fieldSize : sizeof(text) - 1);
    wchar_t* wide = nullptr;
    HRESULT hr = UTF8ToUTF16(text, &wide, nullptr);
    if (SUCCEEDED(hr)) out = wide;
    delete[] wide;
    return hr;
}

}  // namespace

CSKFDeviceHandler::CSKFDeviceHandler(ISKFModuleCaller* pSKFModuleCaller)
    : m_pSKFModuleCaller(pSKFModuleCaller),
      m_hDevice(nullptr),
      m_hApplication(nullptr),
      m_dwCachedPINSize(0),
      m_pbyCachedPIN(nullptr) {}

CSKFDeviceHandler::~CSKFDeviceHandler() {
    ClearCachedPIN();
    // The containers close before the application and the connection.
    ClearContainerHandlers();
    CloseDeviceHandle();
    m_pSKFModuleCaller = nullptr;
}

CSKFDeviceHandler* CSKFDeviceHandler::FromDeviceName(const wchar_t* lpwDeviceName, ISKFModuleCaller* pSKFModuleCaller) {
    TRACE_SCOPE(L"CSKFDeviceHandler::FromDeviceName");
    HRESULT hr = S_OK;
    CSKFDeviceHandler* pDevHandler = nullptr;

    CHECK_GOTO(pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(lpwDeviceName == NULL || wcslen(lpwDeviceName) == 0, L"Check Parameter", E_INVALIDARG);
    pDevHandler = new (std::nothrow) CSKFDeviceHandler(pSKFModuleCaller);
    CHECK_GOTO(pDevHandler == NULL, L"New CSKFDeviceHandler", E_OUTOFMEMORY);
    hr = pDevHandler->OpenDeviceHandle(lpwDeviceName);
    if (hr != S_OK) {
        delete pDevHandler;
        pDevHandler = nullptr;
        FAIL_GOTO(L"OpenDeviceHandle", L"hResult != S_OK", hr);
    }
    TRACE_STEP(L"OpenDeviceHandle");
exit:
    return pDevHandler;
}

HRESULT CSKFDeviceHandler::OpenDeviceHandle(const wchar_t* lpwDeviceDesc) {
    TRACE_SCOPE(L"CSKFDeviceHandler::OpenDeviceHandle");
    HRESULT hr = S_OK;
    ULONG rc = 0;
    char* pszDeviceName = nullptr;
    char* pszApplicationName = nullptr;
    ULONG ulSize = 0;
    DEVHANDLE hDevice = nullptr;
    HAPPLICATION hApplication = nullptr;
    DEVINFO devInfo;
    std::wstring label, serial;

    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(lpwDeviceDesc == NULL || wcslen(lpwDeviceDesc) == 0, L"Check Parameter", E_INVALIDARG);

    hr = UTF16ToUTF8(lpwDeviceDesc, &pszDeviceName, nullptr);
    if (hr != S_OK) FAIL_GOTO(L"UTF16ToUTF8", L"hResult != S_OK", hr);

    rc = m_pSKFModuleCaller->SKF_ConnectDev(pszDeviceName, &hDevice);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_ConnectDev", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
    TRACE_STEP(L"SKF_ConnectDev");

    memset(&devInfo, 0, sizeof devInfo);
    rc = m_pSKFModuleCaller->SKF_GetDevInfo(hDevice, &devInfo);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_GetDevInfo", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
    hr = FieldToWide(devInfo.Label, sizeof devInfo.Label, label);
    if (hr != S_OK) FAIL_GOTO(L"Convert Label", L"hResult != S_OK", hr);
    hr = FieldToWide(devInfo.SerialNumber, sizeof devInfo.SerialNumber, serial);
    if (hr != S_OK) FAIL_GOTO(L"Convert SerialNumber", L"hResult != S_OK", hr);
    TRACE_STEP(L"SKF_GetDevInfo");

    rc = m_pSKFModuleCaller->SKF_EnumApplication(hDevice, nullptr, &ulSize);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_EnumApplication(Size)", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
    pszApplicationName = new (std::nothrow) char[ulSize + 1]();
    CHECK_GOTO(!pszApplicationName, L"New application list", E_OUTOFMEMORY);
    rc = m_pSKFModuleCaller->SKF_EnumApplication(hDevice, pszApplicationName, &ulSize);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_EnumApplication", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
    CHECK_GOTO(*pszApplicationName == '\0', L"Device no application name", kNoApplication);

    rc = m_pSKFModuleCaller->SKF_OpenApplication(hDevice, pszApplicationName, &hApplication);
    if (rc != SAR_OK) {
        hApplication = nullptr;
        FAIL_GOTO(L"SKF_OpenApplication", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
    }
    TRACE_STEP(L"SKF_OpenApplication");

    m_hDevice = hDevice;
    m_hApplication = hApplication;
    m_strDeviceName = lpwDeviceDesc;
    m_strLabel = label;
    m_strSerialNumber = serial;
    hDevice = nullptr;
    hApplication = nullptr;

exit:
    if (hApplication) m_pSKFModuleCaller->SKF_CloseApplication(hApplication);
    if (hDevice) m_pSKFModuleCaller->SKF_DisConnectDev(hDevice);
    delete[] pszDeviceName;
    delete[] pszApplicationName;
    return hr;
}

HRESULT CSKFDeviceHandler::CloseDeviceHandle() {
    TRACE_SCOPE(L"CSKFDeviceHandler::CloseDeviceHandle");
    HRESULT hr = S_OK;
    ULONG rc = 0;

    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    if (m_hApplication) {
        rc = m_pSKFModuleCaller->SKF_ClearSecureState(m_hApplication);
        TraceValue(L"SKF_ClearSecureState", rc);
        rc = m_pSKFModuleCaller->SKF_CloseApplication(m_hApplication);
        TraceValue(L"SKF_CloseApplication", rc);
        m_hApplication = nullptr;
    }
    if (m_hDevice) {
        rc = m_pSKFModuleCaller->SKF_DisConnectDev(m_hDevice);
        if (rc != SAR_OK) FAIL_GOTO(L"SKF_DisConnectDev", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
        m_hDevice = nullptr;
    }
exit:
    return hr;
}

namespace {

// The device lock's two calls share their checks and folding.
HRESULT CallOnDevice(const wchar_t* traceFunc_, ISKFModuleCaller* m_pSKFModuleCaller, DEVHANDLE m_hDevice,
                     ULONG (ISKFModuleCaller::*call)(DEVHANDLE), const wchar_t* step) {
    HRESULT hr = S_OK;
    ULONG rc = 0;
    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_hDevice == NULL, L"Check Parameter", E_INVALIDARG);
    rc = (m_pSKFModuleCaller->*call)(m_hDevice);
    if (rc != SAR_OK) FAIL_GOTO(step, L"hResult != SAR_OK", HResultFromError(LONG(rc)));
exit:
    return hr;
}

}  // namespace

HRESULT CSKFDeviceHandler::LockDevice() {
    TRACE_SCOPE(L"CSKFDeviceHandler::LockDevice");
    return CallOnDevice(traceFunc_, m_pSKFModuleCaller, m_hDevice, &ISKFModuleCaller::SKF_LockDev, L"SKF_LockDev");
}

HRESULT CSKFDeviceHandler::UnlockDevice() {
    TRACE_SCOPE(L"CSKFDeviceHandler::UnlockDevice");
    return CallOnDevice(traceFunc_, m_pSKFModuleCaller, m_hDevice, &ISKFModuleCaller::SKF_UnlockDev,
                        L"SKF_UnlockDev");
}

HRESULT CSKFDeviceHandler::GetDevicePINInfo(DWORD* pdwMaxRetryCount, DWORD* pdwRemainRetryCount, BOOL* pbDefaultPIN) {
    TRACE_SCOPE(L"CSKFDeviceHandler::GetDevicePINInfo");
    HRESULT hr = S_OK;
    ULONG rc = 0;
    ULONG ulMax = 0, ulRemain = 0;
    BYTE defaultPIN[32] = {};

    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_hApplication == NULL, L"Check Parameter", E_INVALIDARG);
    rc = m_pSKFModuleCaller->SKF_GetPINInfo(m_hApplication, &ulMax, &ulRemain, reinterpret_cast<BOOL*>(defaultPIN));
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_GetPINInfo", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
    if (pdwMaxRetryCount) *pdwMaxRetryCount = ulMax;
    if (pdwRemainRetryCount) *pdwRemainRetryCount = ulRemain;
    if (pbDefaultPIN)
        *pbDefaultPIN = strnlen(reinterpret_cast<const char*>(defaultPIN), sizeof defaultPIN) <= 1
                            ? BOOL(static_cast<signed char>(defaultPIN[0]))
                            : FALSE;
    if (ulRemain == 0) ClearCachedPIN();
exit:
    return hr;
}

HRESULT CSKFDeviceHandler::VerifyDevicePIN(const wchar_t* lpwUserPIN) {
    TRACE_SCOPE(L"CSKFDeviceHandler::VerifyDevicePIN");
    HRESULT hr = S_OK;
    ULONG rc = 0;
    ULONG ulRetry = 0;
    char* pszPIN = nullptr;
    DWORD dwLength = 0;

    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_hApplication == NULL, L"Check Parameter", E_INVALIDARG);
    hr = UTF16ToUTF8(lpwUserPIN, &pszPIN, &dwLength);
    if (hr != S_OK) FAIL_GOTO(L"UTF16ToUTF8", L"hResult != S_OK", hr);
    rc = m_pSKFModuleCaller->SKF_VerifyPIN(m_hApplication, pszPIN, &ulRetry);
    TraceValue(L"RetryCount", ulRetry);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_VerifyPIN", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
exit:
    if (pszPIN) {
        SecureZeroMemory(pszPIN, dwLength);
        delete[] pszPIN;
    }
    return hr;
}

HRESULT CSKFDeviceHandler::VerifyDeviceIdentity() {
    TRACE_SCOPE(L"CSKFDeviceHandler::VerifyDeviceIdentity");
    HRESULT hr = S_OK;
    BOOL bRetry = FALSE;
    DWORD dwMaxRetryCount = 0, dwRemainRetryCount = 0;
    BOOL bDefaultPIN = FALSE;
    std::wstring wstrPIN;

    if (g_ptrSKFUIDelegator == NULL) FAIL_GOTO(L"Not PIN Input Callback", L"g_ptrSKFUIDelegator == NULL", kNoDelegator);

    if (g_ptrSKFUIDelegator->IsPINCacheEnabled() && !IsCachedPINEmpty()) {
        if (VerifyCachedPIN() == S_OK) {
            TRACE_STEP(L"VerifyCachedPIN");
            goto exit;
        }
    }

    hr = GetDevicePINInfo(&dwMaxRetryCount, &dwRemainRetryCount, &bDefaultPIN);
    if (hr != S_OK) FAIL_GOTO(L"GetDevicePINInfo", L"hResult != S_OK", hr);

    for (;;) {
        WipeString(wstrPIN);
        hr = g_ptrSKFUIDelegator->SKFCryptUIInputPIN(m_strSerialNumber, bRetry, dwRemainRetryCount, wstrPIN);
        if (hr != S_OK) {
            if (hr > 0) hr = HResultFromError(hr);
            FAIL_GOTO(L"SKFCryptUIInputPIN", L"hResult != S_OK", hr);
        }
        if (dwRemainRetryCount == 0) FAIL_GOTO(L"Device PIN Locked.", L"dwRemainRetryCount == 0", kPINLocked);

        if (VerifyDevicePIN(wstrPIN.c_str()) == S_OK) {
            if (g_ptrSKFUIDelegator->IsPINCacheEnabled()) {
                HRESULT hrCache = CacheUserPIN(wstrPIN.c_str());
                TraceValue(L"CacheUserPIN", DWORD(hrCache));
            }
            hr = S_OK;
            goto exit;
        }
        bRetry = TRUE;
        hr = GetDevicePINInfo(&dwMaxRetryCount, &dwRemainRetryCount, &bDefaultPIN);
        if (hr != S_OK) FAIL_GOTO(L"GetDevicePINInfo", L"hResult != S_OK", hr);
    }
exit:
    WipeString(wstrPIN);
    return hr;
}

HRESULT CSKFDeviceHandler::CacheUserPIN(const wchar_t* lpwUserPIN) {
    TRACE_SCOPE(L"CSKFDeviceHandler::CacheUserPIN");
    HRESULT hr = S_OK;
    BYTE* pbyBlob = nullptr;
    DWORD dwBlobSize = 0;

    CHECK_GOTO(lpwUserPIN == NULL || wcslen(lpwUserPIN) == 0, L"Check Parameter", E_INVALIDARG);
    ClearCachedPIN();
    hr = CreateProtectData(reinterpret_cast<const BYTE*>(lpwUserPIN),
                           DWORD((wcslen(lpwUserPIN) + 1) * sizeof(wchar_t)), &pbyBlob, &dwBlobSize);
    if (hr != S_OK) FAIL_GOTO(L"CreateProtectData", L"hResult != S_OK", hr);
    m_pbyCachedPIN = pbyBlob;
    m_dwCachedPINSize = dwBlobSize;
exit:
    return hr;
}

HRESULT CSKFDeviceHandler::VerifyCachedPIN() {
    TRACE_SCOPE(L"CSKFDeviceHandler::VerifyCachedPIN");
    HRESULT hr = S_OK;
    BYTE* pbyClear = nullptr;
    DWORD dwClearSize = 0;

    if (IsCachedPINEmpty()) FAIL_GOTO(L"Check Cache", L"bRetCode == TRUE", kInvalidData);
    hr = AcquireProtectData(m_pbyCachedPIN, m_dwCachedPINSize, &pbyClear, &dwClearSize);
    if (hr != S_OK) FAIL_GOTO(L"AcquireProtectData", L"hResult != S_OK", hr);
    // The clear copy holds the UTF-16 PIN and its zero; the extra byte keeps
    // even a damaged blob terminated.
    {
        std::wstring pin(reinterpret_cast<const wchar_t*>(pbyClear), wcsnlen(reinterpret_cast<const wchar_t*>(pbyClear), dwClearSize / sizeof(wchar_t)));
        hr = VerifyDevicePIN(pin.c_str());
        WipeString(pin);
    }
    if (hr != S_OK) FAIL_GOTO(L"VerifyDevicePIN", L"hResult != S_OK", hr);
exit:
    if (pbyClear) {
        SecureZeroMemory(pbyClear, dwClearSize);
        delete[] pbyClear;
    }
    return hr;
}

BOOL CSKFDeviceHandler::IsCachedPINEmpty() const { return m_dwCachedPINSize == 0 || m_pbyCachedPIN == nullptr; }

void CSKFDeviceHandler::ClearCachedPIN() {
    if (m_pbyCachedPIN) {
        SecureZeroMemory(m_pbyCachedPIN, m_dwCachedPINSize);
        delete[] m_pbyCachedPIN;
    }
    m_pbyCachedPIN = nullptr;
    m_dwCachedPINSize = 0;
}

namespace {

// The system's output copied into a new array with one extra zero byte;
// the system's buffer is wiped (it may hold a clear secret) and released.
HRESULT CopySystemBlob(DATA_BLOB& out, BYTE** ppbDataOut, DWORD* pdwDataOutSize) {
    BYTE* copy = new (std::nothrow) BYTE[out.cbData + 1]();
    if (copy) memcpy(copy, out.pbData, out.cbData);
    SecureZeroMemory(out.pbData, out.cbData);
    LocalFree(out.pbData);
    if (!copy) return E_OUTOFMEMORY;
    *ppbDataOut = copy;
    if (pdwDataOutSize) *pdwDataOutSize = out.cbData;
    return S_OK;
}

}  // namespace

HRESULT CSKFDeviceHandler::CreateProtectData(const BYTE* pbDataIn, DWORD dwDataInSize, BYTE** ppbDataOut,
                                             DWORD* pdwDataOutSize) {
    TRACE_SCOPE(L"CSKFDeviceHandler::CreateProtectData");
    HRESULT hr = S_OK;
    DATA_BLOB in = {dwDataInSize, const_cast<BYTE*>(pbDataIn)};
    DATA_BLOB out = {0, nullptr};

    CHECK_GOTO(pbDataIn == NULL || dwDataInSize == 0 || ppbDataOut == NULL, L"Check Parameter", E_INVALIDARG);
    if (!CryptProtectData(&in, L"SKFProvSecureData", nullptr, nullptr, nullptr, 0, &out))
        FAIL_GOTO(L"CryptProtectData", L"bRetCode == FALSE", HResultFromLastError());
    hr = CopySystemBlob(out, ppbDataOut, pdwDataOutSize);
    if (hr != S_OK) FAIL_GOTO(L"New buffer", L"!*ppbDataOut", hr);
exit:
    return hr;
}

HRESULT CSKFDeviceHandler::AcquireProtectData(const BYTE* pbDataIn, DWORD dwDataInSize, BYTE** ppbDataOut,
                                              DWORD* pdwDataOutSize) {
    TRACE_SCOPE(L"CSKFDeviceHandler::AcquireProtectData");
    HRESULT hr = S_OK;
    DATA_BLOB in = {dwDataInSize, const_cast<BYTE*>(pbDataIn)};
    DATA_BLOB out = {0, nullptr};

    CHECK_GOTO(pbDataIn == NULL || dwDataInSize == 0 || ppbDataOut == NULL, L"Check Parameter", E_INVALIDARG);
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, 0, &out))
        FAIL_GOTO(L"CryptUnprotectData", L"bRetCode == FALSE", HResultFromLastError());
    hr = CopySystemBlob(out, ppbDataOut, pdwDataOutSize);
    if (hr != S_OK) FAIL_GOTO(L"New buffer", L"!*ppbDataOut", hr);
exit:
    return hr;
}

namespace {

constexpr HRESULT kNoFileList = static_cast<HRESULT>(0x8007002F);

// Splits a double-zero-terminated name list, ending at the first empty name.
std::vector<std::string> SplitNames(const char* list, ULONG size) {
    std::vector<std::string> names;
    for (ULONG i = 0; i < size && list[i];) {
        names.emplace_back(list + i);
        i += ULONG(names.back().size() + 1);
    }
    return names;
}

// One file as the seal operations keep it: its name and content.
struct SealFile {
    std::string name;
    std::vector<BYTE> content;
};

// Reads a whole file at offset 0: its reported size, then the content.
HRESULT ReadWholeFile(ISKFModuleCaller* caller, HAPPLICATION app, std::string name, BYTE** ppbyData, DWORD* pdwSize,
                      FILEATTRIBUTE* pAttr) {
    FILEATTRIBUTE attr;
    memset(&attr, 0, sizeof attr);
    ULONG rc = caller->SKF_GetFileInfo(app, &name[0], &attr);
    if (rc != SAR_OK) return HResultFromError(LONG(rc));
    if (pAttr) *pAttr = attr;
    ULONG len = 0;
    rc = caller->SKF_ReadFile(app, &name[0], attr.FileSize, nullptr, &len);
    if (rc != SAR_OK) return HResultFromError(LONG(rc));
    BYTE* data = new (std::nothrow) BYTE[len + 1]();
    if (!data) return E_OUTOFMEMORY;
    rc = caller->SKF_ReadFile(app, &name[0], len, data, &len);
    if (rc != SAR_OK) {
        delete[] data;
        return HResultFromError(LONG(rc));
    }
    *ppbyData = data;
    *pdwSize = len;
    return S_OK;
}

// Creates a file of that size and writes the content at offset 0.
HRESULT CreateAndWrite(ISKFModuleCaller* caller, HAPPLICATION app, std::string name, const BYTE* data, DWORD size) {
    ULONG rc = caller->SKF_CreateFile(app, &name[0], size);
    if (rc != SAR_OK) return HResultFromError(LONG(rc));
    rc = caller->SKF_WriteFile(app, &name[0], const_cast<BYTE*>(data), size);
    if (rc != SAR_OK) return HResultFromError(LONG(rc));
    return S_OK;
}

}  // namespace

HRESULT CSKFDeviceHandler::EnumerateFileNames(std::vector<std::string>& vecNames) {
    TRACE_SCOPE(L"CSKFDeviceHandler::EnumerateFileNames");
    HRESULT hr = S_OK;
    ULONG rc = 0;
    ULONG ulSize = 0;
    char* pszFileList = nullptr;

    rc = m_pSKFModuleCaller->SKF_EnumFiles(m_hApplication, nullptr, &ulSize);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_EnumFiles(Size)", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
    pszFileList = new (std::nothrow) char[ulSize + 1]();
    CHECK_GOTO(!pszFileList, L"New file list", E_OUTOFMEMORY);
    rc = m_pSKFModuleCaller->SKF_EnumFiles(m_hApplication, pszFileList, &ulSize);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_EnumFiles", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
    vecNames = SplitNames(pszFileList, ulSize);
exit:
    delete[] pszFileList;
    return hr;
}

HRESULT CSKFDeviceHandler::GetDeviceSealData(std::vector<SealData>& vecSealData) {
    TRACE_SCOPE(L"CSKFDeviceHandler::GetDeviceSealData");
    HRESULT hr = S_OK;
    std::vector<std::string> names;

    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_hApplication == NULL, L"Check Parameter", E_INVALIDARG);
    hr = EnumerateFileNames(names);
    if (hr != S_OK) FAIL_GOTO(L"EnumerateFileNames", L"hResult != S_OK", hr);
    if (names.empty()) FAIL_GOTO(L"Device no Filelist", L"*pszFileList == '\\0'", kNoFileList);
    for (const std::string& name : names) {
        SealData stSealData = {nullptr, 0};
        hr = ReadWholeFile(m_pSKFModuleCaller, m_hApplication, name, &stSealData.pbySealData,
                           &stSealData.dwSealDataSize, nullptr);
        if (hr != S_OK) FAIL_GOTO(L"Read file", L"hResult != S_OK", hr);
        vecSealData.push_back(stSealData);
    }
exit:
    return hr;
}

HRESULT CSKFDeviceHandler::WriteDeviceSealData(const SealData& stSealData) {
    TRACE_SCOPE(L"CSKFDeviceHandler::WriteDeviceSealData");
    HRESULT hr = S_OK;
    ULONG rc = 0;
    std::vector<std::string> names;
    std::vector<SealFile> oldFiles;  // read before anything is deleted
    bool attempted = false;  // a command that changes the key was sent
    bool created = false;
    char szRenewFileName[33] = {};

    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_hApplication == NULL, L"Check Parameter", E_INVALIDARG);
    hr = EnumerateFileNames(names);
    if (hr != S_OK) FAIL_GOTO(L"EnumerateFileNames", L"hResult != S_OK", hr);

    // Keep every old file so that a failure later on can put it back.
    for (const std::string& name : names) {
        BYTE* data = nullptr;
        DWORD size = 0;
        FILEATTRIBUTE attr;
        hr = ReadWholeFile(m_pSKFModuleCaller, m_hApplication, name, &data, &size, &attr);
        if (hr != S_OK) FAIL_GOTO(L"Read old file", L"hResult != S_OK", hr);
        oldFiles.push_back({name, std::vector<BYTE>(data, data + size)});
        delete[] data;
        if (oldFiles.size() == 1) memcpy(szRenewFileName, attr.FileName, 32);
    }
    if (strlen(szRenewFileName) == 0) FAIL_GOTO(L"Have no write file name!", L"strlen(szRenewFileName) == 0", kInvalidData);

    for (SealFile& file : oldFiles) {
        attempted = true;
        rc = m_pSKFModuleCaller->SKF_DeleteFile(m_hApplication, &file.name[0]);
        if (rc != SAR_OK) FAIL_GOTO(L"SKF_DeleteFile", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
    }
    // Every old file is gone now: whatever a failed creation left under the
    // new name is the new file's.
    created = true;
    rc = m_pSKFModuleCaller->SKF_CreateFile(m_hApplication, szRenewFileName, stSealData.dwSealDataSize);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_CreateFile", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
    rc = m_pSKFModuleCaller->SKF_WriteFile(m_hApplication, szRenewFileName, stSealData.pbySealData,
                                           stSealData.dwSealDataSize);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_WriteFile", L"hResult != SAR_OK", HResultFromError(LONG(rc)));

exit:
    if (hr != S_OK && attempted) {
        // Put the old seal back: the new file goes, and each old file the
        // application no longer lists is written again. A failed delete may
        // have changed the key half way, so the listing decides, not the
        // steps that reported success. The first failure stays the result.
        if (created) m_pSKFModuleCaller->SKF_DeleteFile(m_hApplication, szRenewFileName);
        std::vector<std::string> present;
        const HRESULT hrList = EnumerateFileNames(present);
        TraceValue(L"Restore: list files", DWORD(hrList));
        for (const SealFile& file : oldFiles) {
            bool listed = false;
            for (const std::string& name : present) listed = listed || name == file.name;
            if (hrList == S_OK && listed) continue;
            HRESULT hrRestore = CreateAndWrite(m_pSKFModuleCaller, m_hApplication, file.name, file.content.data(),
                                               DWORD(file.content.size()));
            TraceValue(L"Restore seal file", DWORD(hrRestore));
        }
    }
    return hr;
}

HRESULT CSKFDeviceHandler::EnumerateAllContainers(std::vector<std::wstring>& vecContainerNames) {
    TRACE_SCOPE(L"CSKFDeviceHandler::EnumerateAllContainers");
    HRESULT hr = S_OK;
    ULONG rc = 0;
    ULONG ulSize = 0;
    char* pszContainerNameList = nullptr;

    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_hApplication == NULL, L"Check Parameter", E_INVALIDARG);
    rc = m_pSKFModuleCaller->SKF_EnumContainer(m_hApplication, nullptr, &ulSize);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_EnumContainer(Size)", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
    pszContainerNameList = new (std::nothrow) char[ulSize + 1]();
    CHECK_GOTO(!pszContainerNameList, L"New container list", E_OUTOFMEMORY);
    rc = m_pSKFModuleCaller->SKF_EnumContainer(m_hApplication, pszContainerNameList, &ulSize);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_EnumContainer", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
    for (const std::string& name : SplitNames(pszContainerNameList, ulSize)) {
        wchar_t* wide = nullptr;
        hr = UTF8ToUTF16(name.c_str(), &wide, nullptr);
        if (hr != S_OK) FAIL_GOTO(L"UTF8ToUTF16", L"hResult != S_OK", hr);
        vecContainerNames.push_back(wide);
        delete[] wide;
    }
exit:
    delete[] pszContainerNameList;
    return hr;
}

// ---- containers

namespace {

constexpr HRESULT kNoContainer = static_cast<HRESULT>(0x8007006E);
constexpr HRESULT kBadAlgorithm = static_cast<HRESULT>(0x80090008);
// The key library's hash algorithm identifiers.
constexpr ULONG SGD_SM3 = 0x00000001;
constexpr ULONG SGD_SHA1 = 0x00000002;
constexpr ULONG SGD_SHA256 = 0x00000004;

// The key library's code for a certificate the key reports absent: no
// certificate, or no key pair for it at all.
bool IsCertificateAbsent(HRESULT hr) {
    return hr == HResultFromError(LONG(SAR_CERTNOTFOUNTERR)) || hr == HResultFromError(LONG(SAR_KEYNOTFOUNTERR));
}

}  // namespace

CSKFContainerHandler* CSKFDeviceHandler::GetContainerHandler(std::wstring wstrContainerName) {
    TRACE_SCOPE(L"CSKFDeviceHandler::GetContainerHandler");
    HRESULT hr = S_OK;
    CSKFContainerHandler* pContainerHandler = nullptr;
    std::map<std::wstring, CSKFContainerHandler*>::iterator it;

    CHECK_GOTO(wstrContainerName.length() == 0, L"Check Parameter", E_INVALIDARG);
    it = m_mapContainerHandlers.find(wstrContainerName);
    if (it != m_mapContainerHandlers.end()) {
        pContainerHandler = it->second;
        goto exit;
    }
    pContainerHandler =
        CSKFContainerHandler::FromContainerName(wstrContainerName.c_str(), m_hApplication, m_pSKFModuleCaller);
    CHECK_GOTO(pContainerHandler == NULL, L"CSKFContainerHandler::FromContainerName", kNoContainer);
    AddContainerHandler(wstrContainerName, pContainerHandler);
exit:
    return pContainerHandler;
}

void CSKFDeviceHandler::AddContainerHandler(std::wstring wstrContainerName, CSKFContainerHandler* pContainerHandler) {
    m_mapContainerHandlers.insert(std::make_pair(wstrContainerName, pContainerHandler));
}

void CSKFDeviceHandler::RemoveContainerHandler(std::wstring wstrContainerName) {
    std::map<std::wstring, CSKFContainerHandler*>::iterator it = m_mapContainerHandlers.find(wstrContainerName);
    if (it == m_mapContainerHandlers.end()) return;
    delete it->second;
    m_mapContainerHandlers.erase(it);
}

void CSKFDeviceHandler::ClearContainerHandlers() {
    for (auto& entry : m_mapContainerHandlers) delete entry.second;
    m_mapContainerHandlers.clear();
}

HRESULT CSKFDeviceHandler::GetContainerObjInfo(std::wstring wstrContainerName, ContainerObjInfo& stContainerObjInfo) {
    TRACE_SCOPE(L"CSKFDeviceHandler::GetContainerObjInfo");
    HRESULT hr = S_OK;
    CSKFContainerHandler* pContainerHandler = nullptr;

    CHECK_GOTO(wstrContainerName.length() == 0, L"Check Parameter", E_INVALIDARG);
    pContainerHandler = GetContainerHandler(wstrContainerName);
    CHECK_GOTO(pContainerHandler == NULL, L"GetContainerHandler", kNoContainer);
    stContainerObjInfo.wstrContainerName = pContainerHandler->GetContainerName();
    hr = pContainerHandler->GetContainerType(&stContainerObjInfo.dwContainerType);
    if (hr != S_OK) FAIL_GOTO(L"GetContainerType", L"hResult != S_OK", hr);
    // A missing certificate leaves its text empty.
    TraceValue(L"ExportCertificate(Enc)",
               DWORD(pContainerHandler->ExportCertificate(FALSE, stContainerObjInfo.strEncCert)));
    TraceValue(L"ExportCertificate(Sign)",
               DWORD(pContainerHandler->ExportCertificate(TRUE, stContainerObjInfo.strSignCert)));
exit:
    return hr;
}

HRESULT CSKFDeviceHandler::CreateContainer(std::wstring wstrContainerName) {
    TRACE_SCOPE(L"CSKFDeviceHandler::CreateContainer");
    HRESULT hr = S_OK;
    ULONG rc = 0;
    char* pszName = nullptr;
    HCONTAINER hContainer = nullptr;

    CHECK_GOTO(wstrContainerName.length() == 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_hApplication == NULL, L"Check Parameter", E_INVALIDARG);
    hr = UTF16ToUTF8(wstrContainerName.c_str(), &pszName, nullptr);
    if (hr != S_OK) FAIL_GOTO(L"UTF16ToUTF8", L"hResult != S_OK", hr);
    hr = VerifyDeviceIdentity();
    if (hr != S_OK) FAIL_GOTO(L"VerifyDeviceIdentity", L"hResult != S_OK", hr);
    rc = m_pSKFModuleCaller->SKF_CreateContainer(m_hApplication, pszName, &hContainer);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_CreateContainer", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
exit:
    if (hContainer) m_pSKFModuleCaller->SKF_CloseContainer(hContainer);
    delete[] pszName;
    return hr;
}

HRESULT CSKFDeviceHandler::DeleteContainer(std::wstring wstrContainerName) {
    TRACE_SCOPE(L"CSKFDeviceHandler::DeleteContainer");
    HRESULT hr = S_OK;
    ULONG rc = 0;
    char* pszName = nullptr;

    CHECK_GOTO(wstrContainerName.length() == 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_hApplication == NULL, L"Check Parameter", E_INVALIDARG);
    RemoveContainerHandler(wstrContainerName);
    hr = UTF16ToUTF8(wstrContainerName.c_str(), &pszName, nullptr);
    if (hr != S_OK) FAIL_GOTO(L"UTF16ToUTF8", L"hResult != S_OK", hr);
    // The key deletes only for a verified user, and a verification may have
    // ended since (another connection's close clears the key's state): the
    // PIN is proven again, silently from the cache when it holds one.
    hr = VerifyDeviceIdentity();
    if (hr != S_OK) FAIL_GOTO(L"VerifyDeviceIdentity", L"hResult != S_OK", hr);
    rc = m_pSKFModuleCaller->SKF_DeleteContainer(m_hApplication, pszName);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_DeleteContainer", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
exit:
    delete[] pszName;
    return hr;
}

HRESULT CSKFDeviceHandler::CleanEmptyContainers() {
    TRACE_SCOPE(L"CSKFDeviceHandler::CleanEmptyContainers");
    HRESULT hr = S_OK;
    std::vector<std::wstring> names;

    hr = EnumerateAllContainers(names);
    if (hr != S_OK) FAIL_GOTO(L"EnumerateAllContainers", L"hResult != S_OK", hr);
    for (const std::wstring& name : names) {
        ContainerObjInfo info;
        if (GetContainerObjInfo(name, info) != S_OK) continue;  // cannot be read: left alone
        if (!info.strSignCert.empty() || !info.strEncCert.empty()) continue;
        // Empty texts also come from a read that failed: only a key that
        // says both certificates are absent loses the container.
        CSKFContainerHandler* pContainerHandler = GetContainerHandler(name);
        if (pContainerHandler == NULL) continue;
        bool absent = true;
        for (BOOL bSignFlag : {FALSE, TRUE}) {
            BYTE* pbyCertData = nullptr;
            DWORD dwCertDataSize = 0;
            const HRESULT hrExport = pContainerHandler->ExportCertificate(bSignFlag, &pbyCertData, &dwCertDataSize);
            delete[] pbyCertData;
            if (!IsCertificateAbsent(hrExport)) absent = false;
        }
        if (!absent) {
            TRACE_STEP(L"Container kept: its certificates could not be read");
            continue;
        }
        hr = DeleteContainer(name);
        if (hr != S_OK) FAIL_GOTO(L"DeleteContainer", L"hResult != S_OK", hr);
    }
exit:
    return hr;
}

HRESULT CSKFDeviceHandler::GenerateKeyPair(std::wstring wstrContainerName, DWORD dwAlgID, DWORD dwKeyLength,
                                           BYTE** ppbyPublicKey, DWORD* pdwPublicKeySize) {
    TRACE_SCOPE(L"CSKFDeviceHandler::GenerateKeyPair");
    HRESULT hr = S_OK;
    CSKFContainerHandler* pContainerHandler = nullptr;

    CHECK_GOTO(wstrContainerName.length() == 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(ppbyPublicKey == NULL || pdwPublicKeySize == NULL, L"Check Parameter", E_INVALIDARG);
    pContainerHandler = GetContainerHandler(wstrContainerName);
    CHECK_GOTO(pContainerHandler == NULL, L"GetContainerHandler", kNoContainer);
    hr = VerifyDeviceIdentity();
    if (hr != S_OK) FAIL_GOTO(L"VerifyDeviceIdentity", L"hResult != S_OK", hr);
    hr = pContainerHandler->GenerateKeyPair(dwAlgID, dwKeyLength, ppbyPublicKey, pdwPublicKeySize);
    if (hr != S_OK) FAIL_GOTO(L"GenerateKeyPair", L"hResult != S_OK", hr);
exit:
    return hr;
}

HRESULT CSKFDeviceHandler::ImportKeyPair(std::wstring wstrContainerName, DWORD dwAlgID, const BYTE* pbyEncSessionKey,
                                         DWORD dwEncSessionKeySize, const BYTE* pbyEncPrivateKey,
                                         DWORD dwEncPrivateKeySize) {
    TRACE_SCOPE(L"CSKFDeviceHandler::ImportKeyPair");
    HRESULT hr = S_OK;
    CSKFContainerHandler* pContainerHandler = nullptr;

    CHECK_GOTO(wstrContainerName.length() == 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(pbyEncPrivateKey == NULL || dwEncPrivateKeySize == 0, L"Check Parameter", E_INVALIDARG);
    pContainerHandler = GetContainerHandler(wstrContainerName);
    CHECK_GOTO(pContainerHandler == NULL, L"GetContainerHandler", kNoContainer);
    switch (dwAlgID) {
        case SKF_ALG_AT_KEYEXCHANGE:
        case SKF_ALG_CALG_RSA_KEYX:
            CHECK_GOTO(pbyEncSessionKey == NULL || dwEncSessionKeySize == 0, L"Check Parameter", E_INVALIDARG);
            hr = VerifyDeviceIdentity();
            if (hr != S_OK) FAIL_GOTO(L"VerifyDeviceIdentity", L"hResult != S_OK", hr);
            hr = pContainerHandler->ImportRSAKeyPair(pbyEncSessionKey, dwEncSessionKeySize, pbyEncPrivateKey,
                                                     dwEncPrivateKeySize);
            if (hr != S_OK) FAIL_GOTO(L"ImportRSAKeyPair", L"hResult != S_OK", hr);
            break;
        case SKF_ALG_CALG_SM2_KEYX:
            hr = VerifyDeviceIdentity();
            if (hr != S_OK) FAIL_GOTO(L"VerifyDeviceIdentity", L"hResult != S_OK", hr);
            hr = pContainerHandler->ImportECCKeyPair(pbyEncPrivateKey, dwEncPrivateKeySize);
            if (hr != S_OK) FAIL_GOTO(L"ImportECCKeyPair", L"hResult != S_OK", hr);
            break;
        default:
            FAIL_GOTO(L"Key ALG ID Invalid.", L"dwAlgID is not an exchange key", kBadAlgorithm);
    }
exit:
    return hr;
}

HRESULT CSKFDeviceHandler::ExportCertificate(std::wstring wstrContainerName, DWORD dwAlgID, BYTE** ppbyCertData,
                                             DWORD* pdwCertDataSize) {
    TRACE_SCOPE(L"CSKFDeviceHandler::ExportCertificate");
    HRESULT hr = S_OK;
    CSKFContainerHandler* pContainerHandler = nullptr;
    BOOL bSignFlag = FALSE;

    CHECK_GOTO(wstrContainerName.length() == 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(ppbyCertData == NULL || pdwCertDataSize == NULL, L"Check Parameter", E_INVALIDARG);
    if (!SKFSignFlagOfAlgorithm(dwAlgID, &bSignFlag))
        FAIL_GOTO(L"Key ALG ID Invalid.", L"dwAlgID is unknown", kBadAlgorithm);
    pContainerHandler = GetContainerHandler(wstrContainerName);
    CHECK_GOTO(pContainerHandler == NULL, L"GetContainerHandler", kNoContainer);
    hr = pContainerHandler->ExportCertificate(bSignFlag, ppbyCertData, pdwCertDataSize);
    if (hr != S_OK) FAIL_GOTO(L"ExportCertificate", L"hResult != S_OK", hr);
exit:
    return hr;
}

HRESULT CSKFDeviceHandler::ImportCertificate(std::wstring wstrContainerName, DWORD dwAlgID, const BYTE* pbyCertData,
                                             DWORD dwCertDataSize) {
    TRACE_SCOPE(L"CSKFDeviceHandler::ImportCertificate");
    HRESULT hr = S_OK;
    CSKFContainerHandler* pContainerHandler = nullptr;
    BOOL bSignFlag = FALSE;

    CHECK_GOTO(wstrContainerName.length() == 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(pbyCertData == NULL || dwCertDataSize == 0, L"Check Parameter", E_INVALIDARG);
    if (!SKFSignFlagOfAlgorithm(dwAlgID, &bSignFlag))
        FAIL_GOTO(L"Key ALG ID Invalid.", L"dwAlgID is unknown", kBadAlgorithm);
    pContainerHandler = GetContainerHandler(wstrContainerName);
    CHECK_GOTO(pContainerHandler == NULL, L"GetContainerHandler", kNoContainer);
    hr = VerifyDeviceIdentity();
    if (hr != S_OK) FAIL_GOTO(L"VerifyDeviceIdentity", L"hResult != S_OK", hr);
    hr = pContainerHandler->ImportCertificate(bSignFlag, pbyCertData, dwCertDataSize);
    if (hr != S_OK) FAIL_GOTO(L"ImportCertificate", L"hResult != S_OK", hr);
exit:
    return hr;
}

HRESULT CSKFDeviceHandler::SignHashData(std::wstring wstrContainerName, const BYTE* pbyHashData, DWORD dwHashDataSize,
                                        BYTE** ppbySignedData, DWORD* pdwSignedDataSize) {
    TRACE_SCOPE(L"CSKFDeviceHandler::SignHashData");
    HRESULT hr = S_OK;
    CSKFContainerHandler* pContainerHandler = nullptr;

    CHECK_GOTO(wstrContainerName.length() == 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(pbyHashData == NULL || dwHashDataSize == 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(ppbySignedData == NULL || pdwSignedDataSize == NULL, L"Check Parameter", E_INVALIDARG);
    pContainerHandler = GetContainerHandler(wstrContainerName);
    CHECK_GOTO(pContainerHandler == NULL, L"GetContainerHandler", kNoContainer);
    hr = VerifyDeviceIdentity();
    if (hr != S_OK) FAIL_GOTO(L"VerifyDeviceIdentity", L"hResult != S_OK", hr);
    hr = pContainerHandler->SignHashData(pbyHashData, dwHashDataSize, ppbySignedData, pdwSignedDataSize);
    if (hr != S_OK) FAIL_GOTO(L"SignHashData", L"hResult != S_OK", hr);
exit:
    return hr;
}

HRESULT CSKFDeviceHandler::CalculateHashData(const BYTE* pbySrcData, DWORD dwSrcDataSize, DWORD dwHashAlgID,
                                             BYTE** ppbyHashData, DWORD* pdwHashDataSize,
                                             std::wstring wstrContainerName) {
    TRACE_SCOPE(L"CSKFDeviceHandler::CalculateHashData");
    static const DWORD kPiece = 4096;
    HRESULT hr = S_OK;
    ULONG rc = 0;
    ULONG ulAlgID = 0;
    ECCPUBLICKEYBLOB* pstECCPublicKeyBlob = nullptr;
    unsigned char id[] = "1234567812345678";
    unsigned char* pucID = nullptr;
    ULONG ulIDLen = 0;
    HANDLE hHash = nullptr;
    BYTE* pbyHashData = nullptr;
    ULONG ulHashSize = 0;
    CSKFContainerHandler* pContainerHandler = nullptr;

    CHECK_GOTO(m_pSKFModuleCaller == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(m_hDevice == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(pbySrcData == NULL && dwSrcDataSize != 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(ppbyHashData == NULL || pdwHashDataSize == NULL, L"Check Parameter", E_INVALIDARG);

    switch (dwHashAlgID) {
        case 0x8004:  // CALG_SHA1
            ulAlgID = SGD_SHA1;
            break;
        case 0x800C:  // CALG_SHA_256
            ulAlgID = SGD_SHA256;
            break;
        case 0x800F:  // CALG_SM3: over the signer's Z value
            ulAlgID = SGD_SM3;
            CHECK_GOTO(wstrContainerName.length() == 0, L"SM3 Hash Not Specify Public Key.", E_INVALIDARG);
            pContainerHandler = GetContainerHandler(wstrContainerName);
            CHECK_GOTO(pContainerHandler == NULL, L"GetContainerHandler", kNoContainer);
            hr = pContainerHandler->ExportECCSignPublicKey(&pstECCPublicKeyBlob);
            if (hr != S_OK) FAIL_GOTO(L"ExportECCSignPublicKey", L"hResult != S_OK", hr);
            pucID = id;
            ulIDLen = 16;
            break;
        default:
            FAIL_GOTO(L"Invalid Hash Algorithm.", L"dwHashAlgID is unknown", kBadAlgorithm);
    }

    rc = m_pSKFModuleCaller->SKF_DigestInit(m_hDevice, ulAlgID, pstECCPublicKeyBlob, pucID, ulIDLen, &hHash);
    if (rc != SAR_OK) {
        hHash = nullptr;
        FAIL_GOTO(L"SKF_DigestInit", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
    }
    for (DWORD done = 0; done < dwSrcDataSize;) {
        const DWORD piece = dwSrcDataSize - done < kPiece ? dwSrcDataSize - done : kPiece;
        rc = m_pSKFModuleCaller->SKF_DigestUpdate(hHash, const_cast<BYTE*>(pbySrcData) + done, piece);
        if (rc != SAR_OK) FAIL_GOTO(L"SKF_DigestUpdate", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
        done += piece;
    }
    rc = m_pSKFModuleCaller->SKF_DigestFinal(hHash, nullptr, &ulHashSize);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_DigestFinal", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
    pbyHashData = new (std::nothrow) BYTE[ulHashSize ? ulHashSize : 1]();
    CHECK_GOTO(!pbyHashData, L"New buffer", E_OUTOFMEMORY);
    rc = m_pSKFModuleCaller->SKF_DigestFinal(hHash, pbyHashData, &ulHashSize);
    if (rc != SAR_OK) FAIL_GOTO(L"SKF_DigestFinal", L"hResult != SAR_OK", HResultFromError(LONG(rc)));
    *ppbyHashData = pbyHashData;
    *pdwHashDataSize = ulHashSize;
    pbyHashData = nullptr;
exit:
    delete pstECCPublicKeyBlob;
    if (hHash) m_pSKFModuleCaller->SKF_CloseHandle(hHash);
    delete[] pbyHashData;
    return hr;
}
