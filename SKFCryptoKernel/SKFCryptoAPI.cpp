// The SKFCrypt facade: argument checks, traces and one provider operation
// per call.
#include "SKFCryptoAPI.h"

#include "TraceHelper.h"

#define TRACE_MODULE L"SKFCryptoKernel\\SKFCryptoAPI"

namespace {

constexpr HRESULT kUnsupportedFlags = static_cast<HRESULT>(0x80090029);

bool IsEmpty(const wchar_t* text) { return text == NULL || *text == L'\0'; }

// The device a call names, else the provider's current device.
std::wstring DeviceOrCurrent(const wchar_t* pwszDevice, HSKFCRYPTPROV hSKFProv) {
    return IsEmpty(pwszDevice) ? hSKFProv->GetCurrentDevice() : std::wstring(pwszDevice);
}

// A named device activates the provider first; no name leaves the current
// device to the provider operation.
HRESULT ResolveDevice(const wchar_t* traceFunc_, const wchar_t* pwszDevice, HSKFCRYPTPROV hSKFProv,
                      std::wstring& wstrDeviceName) {
    HRESULT hr = S_OK;
    if (!IsEmpty(pwszDevice)) {
        hr = hSKFProv->ActivateProvider();
        if (hr != S_OK) FAIL_GOTO(L"ActivateProvider", L"hResult != S_OK", HResultFromError(hr));
        wstrDeviceName = pwszDevice;
    } else {
        wstrDeviceName = hSKFProv->GetCurrentDevice();
    }
exit:
    return hr;
}

}  // namespace

HRESULT SKFCryptAcquireContext(const wchar_t* pwszDevice, const wchar_t* pwszContainer, HSKFCRYPTPROV* phSKFCryptProv,
                               const wchar_t* pwszProvider, DWORD dwFlags, const wchar_t* pwszModulePath) {
    TRACE_SCOPE(L"SKFCryptAcquireContext");
    HRESULT hr = S_OK;
    HSKFCRYPTPROV pSKFCryptProv = nullptr;
    bool bReused = false;
    std::wstring wstrDeviceName;
    const std::wstring wstrContainer = IsEmpty(pwszContainer) ? std::wstring() : std::wstring(pwszContainer);

    TraceValue(L"Acquire Flags", dwFlags);
    if (phSKFCryptProv != NULL && *phSKFCryptProv != NULL) {
        pSKFCryptProv = *phSKFCryptProv;
        bReused = true;
    } else if (!IsEmpty(pwszModulePath)) {
        pSKFCryptProv = CSKFCryptProvider::FromModulePath(pwszModulePath);
    } else {
        pSKFCryptProv = CSKFCryptProvider::FromProviderName(pwszProvider);
    }
    CHECK_GOTO(pSKFCryptProv == NULL, L"Create Provider", E_OUTOFMEMORY);

    if (!IsEmpty(pwszDevice)) {
        hr = pSKFCryptProv->ActivateProvider();
        if (hr != S_OK) FAIL_GOTO(L"ActivateProvider", L"hResult != S_OK", HResultFromError(hr));
    }

    if (dwFlags & SKF_CRYPT_NEWKEYSET) {
        CHECK_GOTO(pwszContainer == NULL || wcslen(pwszContainer) == 0, L"Check Parameter", E_INVALIDARG);
        wstrDeviceName = DeviceOrCurrent(pwszDevice, pSKFCryptProv);
        CHECK_GOTO(wstrDeviceName.length() == 0, L"No Device Acquired.", E_INVALIDARG);
        hr = pSKFCryptProv->CreateContainer(wstrDeviceName, wstrContainer);
        if (hr != S_OK) FAIL_GOTO(L"CreateContainer", L"hResult != S_OK", HResultFromError(hr));
    } else if (dwFlags & SKF_CRYPT_DELETEKEYSET) {
        wstrDeviceName = DeviceOrCurrent(pwszDevice, pSKFCryptProv);
        CHECK_GOTO(wstrDeviceName.length() == 0, L"No Device Acquired.", E_INVALIDARG);
        if (!wstrContainer.empty()) {
            hr = pSKFCryptProv->DeleteContainer(wstrDeviceName, wstrContainer);
            if (hr != S_OK) FAIL_GOTO(L"DeleteContainer", L"hResult != S_OK", HResultFromError(hr));
        } else {
            hr = pSKFCryptProv->CleanEmptyContainers(wstrDeviceName);
            if (hr != S_OK) FAIL_GOTO(L"CleanEmptyContainers", L"hResult != S_OK", HResultFromError(hr));
        }
    } else if (dwFlags != 0 && (dwFlags & SKF_CRYPT_FLAG_HIGH_BITS) == 0) {
        FAIL_GOTO(L"Not Supported Acquire Context Flags.", L"dwFlags is not supported", kUnsupportedFlags);
    } else if (!IsEmpty(pwszDevice) && !wstrContainer.empty()) {
        hr = pSKFCryptProv->OpenContainer(pwszDevice, wstrContainer);
        if (hr != S_OK) FAIL_GOTO(L"OpenContainer", L"hResult != S_OK", HResultFromError(hr));
    } else if (!IsEmpty(pwszDevice)) {
        hr = pSKFCryptProv->OpenDevice(pwszDevice);
        if (hr != S_OK) FAIL_GOTO(L"OpenDevice", L"hResult != S_OK", HResultFromError(hr));
    } else if (!wstrContainer.empty()) {
        hr = pSKFCryptProv->OpenContainer(pSKFCryptProv->GetCurrentDevice(), wstrContainer);
        if (hr != S_OK) FAIL_GOTO(L"OpenContainer(Current Device)", L"hResult != S_OK", HResultFromError(hr));
    }

    if (phSKFCryptProv != NULL && !bReused) {
        *phSKFCryptProv = pSKFCryptProv;
        pSKFCryptProv = nullptr;
    }
exit:
    if (!bReused) delete pSKFCryptProv;  // a failure, or no handle asked for
    return hr;
}

HRESULT SKFCryptEnumDevices(HSKFCRYPTPROV hSKFProv, std::vector<std::wstring>& vecDeviceNames) {
    TRACE_SCOPE(L"SKFCryptEnumDevices");
    HRESULT hr = S_OK;
    CHECK_GOTO(hSKFProv == NULL, L"Check Parameter", E_INVALIDARG);
    hr = hSKFProv->EnumerateAllDevices(vecDeviceNames);
    if (hr != S_OK) FAIL_GOTO(L"EnumerateAllDevices", L"hResult != S_OK", HResultFromError(hr));
exit:
    return hr;
}

HRESULT SKFCryptGetDeviceInfo(const wchar_t* pwszDevice, HSKFCRYPTPROV hSKFProv, DeviceObjInfo& stDeviceObjInfo) {
    TRACE_SCOPE(L"SKFCryptGetDeviceInfo");
    HRESULT hr = S_OK;
    std::wstring wstrDeviceName;
    CHECK_GOTO(hSKFProv == NULL, L"Check Parameter", E_INVALIDARG);
    hr = ResolveDevice(traceFunc_, pwszDevice, hSKFProv, wstrDeviceName);
    if (hr != S_OK) goto exit;
    hr = hSKFProv->GetDeviceObjInfo(wstrDeviceName, stDeviceObjInfo);
    if (hr != S_OK) FAIL_GOTO(L"GetDeviceObjInfo", L"hResult != S_OK", HResultFromError(hr));
exit:
    return hr;
}

HRESULT SKFCryptGetDeviceSeals(const wchar_t* pwszDevice, HSKFCRYPTPROV hSKFProv, std::vector<SealData>& vecSealData) {
    TRACE_SCOPE(L"SKFCryptGetDeviceSeals");
    HRESULT hr = S_OK;
    std::wstring wstrDeviceName;
    CHECK_GOTO(hSKFProv == NULL, L"Check Parameter", E_INVALIDARG);
    hr = ResolveDevice(traceFunc_, pwszDevice, hSKFProv, wstrDeviceName);
    if (hr != S_OK) goto exit;
    hr = hSKFProv->GetDeviceSealData(wstrDeviceName, vecSealData);
    if (hr != S_OK) FAIL_GOTO(L"GetDeviceSealData", L"hResult != S_OK", HResultFromError(hr));
exit:
    return hr;
}

HRESULT WriteSeadDataToUkey(const wchar_t* pwszDevice, HSKFCRYPTPROV hSKFProv, const SealData& stSealData) {
    TRACE_SCOPE(L"WriteSeadDataToUkey");
    HRESULT hr = S_OK;
    std::wstring wstrDeviceName;
    CHECK_GOTO(hSKFProv == NULL, L"Check Parameter", E_INVALIDARG);
    hr = ResolveDevice(traceFunc_, pwszDevice, hSKFProv, wstrDeviceName);
    if (hr != S_OK) goto exit;
    hr = hSKFProv->WriteDeviceSealData(wstrDeviceName, stSealData);
    if (hr != S_OK) FAIL_GOTO(L"WriteDeviceSealData", L"hResult != S_OK", HResultFromError(hr));
exit:
    return hr;
}

HRESULT SKFCryptGenerateKey(HSKFCRYPTPROV hSKFProv, DWORD dwAlgID, BYTE** ppbyPublicKey, DWORD* pdwPublicKeySize) {
    TRACE_SCOPE(L"SKFCryptGenerateKey");
    HRESULT hr = S_OK;
    BYTE* pbyPublicKey = nullptr;
    DWORD dwPublicKeySize = 0;
    CHECK_GOTO(hSKFProv == NULL, L"Check Parameter", E_INVALIDARG);
    hr = hSKFProv->GenerateKeyPair(dwAlgID, &pbyPublicKey, &dwPublicKeySize);
    if (hr != S_OK) FAIL_GOTO(L"GenerateKeyPair", L"hResult != S_OK", HResultFromError(hr));
    if (ppbyPublicKey) {
        *ppbyPublicKey = pbyPublicKey;
        pbyPublicKey = nullptr;
    }
    if (pdwPublicKeySize) *pdwPublicKeySize = dwPublicKeySize;
exit:
    delete[] pbyPublicKey;
    return hr;
}

HRESULT SKFCryptSignBinaryData(HSKFCRYPTPROV hSKFProv, const BYTE* pbySourceData, DWORD dwSourceDataSize,
                               DWORD dwHashAlgID, BYTE** ppbySignedData, DWORD* pdwSignedDataSize) {
    TRACE_SCOPE(L"SKFCryptSignBinaryData");
    HRESULT hr = S_OK;
    CHECK_GOTO(hSKFProv == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(pbySourceData == NULL && dwSourceDataSize != 0, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(ppbySignedData == NULL || pdwSignedDataSize == NULL, L"Check Parameter", E_INVALIDARG);
    hr = hSKFProv->SignBinaryData(pbySourceData, dwSourceDataSize, dwHashAlgID, ppbySignedData, pdwSignedDataSize);
    if (hr != S_OK) FAIL_GOTO(L"SignBinaryData", L"hResult != S_OK", HResultFromError(hr));
exit:
    return hr;
}

HRESULT SKFCryptExportCertificate(HSKFCRYPTPROV hSKFProv, BYTE** ppbyCertData, DWORD* pdwCertDataSize) {
    TRACE_SCOPE(L"SKFCryptExportCertificate");
    HRESULT hr = S_OK;
    CHECK_GOTO(hSKFProv == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(ppbyCertData == NULL || pdwCertDataSize == NULL, L"Check Parameter", E_INVALIDARG);
    hr = hSKFProv->ExportCertificate(ppbyCertData, pdwCertDataSize);
    if (hr != S_OK) FAIL_GOTO(L"ExportCertificate", L"hResult != S_OK", HResultFromError(hr));
exit:
    return hr;
}

HRESULT SKFCryptImportCertificate(HSKFCRYPTPROV hSKFProv, DWORD dwKeySpec, const BYTE* pbyCertData,
                                  DWORD dwCertDataSize) {
    TRACE_SCOPE(L"SKFCryptImportCertificate");
    HRESULT hr = S_OK;
    CHECK_GOTO(hSKFProv == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(pbyCertData == NULL || dwCertDataSize == 0, L"Check Parameter", E_INVALIDARG);
    hr = hSKFProv->ImportCertificate(dwKeySpec, pbyCertData, dwCertDataSize);
    if (hr != S_OK) FAIL_GOTO(L"ImportCertificate", L"hResult != S_OK", HResultFromError(hr));
exit:
    return hr;
}

HRESULT SKFCryptImportKeyPair(HSKFCRYPTPROV hSKFProv, DWORD dwAlgID, const BYTE* pbyKeyData, DWORD dwKeyDataSize,
                              const BYTE* pbyEncPrivateKey, DWORD dwEncPrivateKeySize) {
    TRACE_SCOPE(L"SKFCryptImportKeyPair");
    HRESULT hr = S_OK;
    CHECK_GOTO(hSKFProv == NULL, L"Check Parameter", E_INVALIDARG);
    CHECK_GOTO(pbyEncPrivateKey == NULL || dwEncPrivateKeySize == 0, L"Check Parameter", E_INVALIDARG);
    hr = hSKFProv->ImportKeyPair(dwAlgID, pbyKeyData, dwKeyDataSize, pbyEncPrivateKey, dwEncPrivateKeySize);
    if (hr != S_OK) FAIL_GOTO(L"ImportKeyPair", L"hResult != S_OK", HResultFromError(hr));
exit:
    return hr;
}

HRESULT SKFCryptReleaseContext(HSKFCRYPTPROV hSKFProv) {
    TRACE_SCOPE(L"SKFCryptReleaseContext");
    delete hSKFProv;
    return S_OK;
}
