// Constructors and Clear of the key and certificate records. Copies and
// destruction are the members' own: every string and list is held by value.
#include "CustomSKFInterface.h"

#include "Base64Utility.h"
#include "Misc.h"
#include "RegCertificate.h"
#include "SKFCryptoAPI.h"
#include "TraceHelper.h"
#include "USBKeyInterface.h"
#include "UsualInterface.h"

SKFUserCertInfo::SKFUserCertInfo() { Clear(); }

void SKFUserCertInfo::Clear() {
    wstrSubject.clear();
    wstrSubjectCN.clear();
    wstrIssuer.clear();
    wstrSerialNumber.clear();
    wstrDisplayName.clear();
    wstrContainerName.clear();
    ftNotBefore = FILETIME{0, 0};
    ftNotAfter = FILETIME{0, 0};
    dwDaysLeft = 0;
    dwStatus = 0;
    dwKeyBits = 0;
    dwSMCert = 0;
    dwFilled = 0;
    dwSignCert = 0;
}

SKFUserKeyInfo::SKFUserKeyInfo() { Clear(); }

void SKFUserKeyInfo::Clear() {
    wstrSerialNumber.clear();
    wstrDeviceName.clear();
    dwReserved1 = 0;
    dwReserved2 = 0;
    dwPINNotDefault = 0;
    dwPINNotLocked = 0;
    dwCertFound = 0;
    dwReserved3 = 0;
    dwReserved4 = 0;
    vetCertInfo.clear();
}

SKFUserCSPInfo::SKFUserCSPInfo() { Clear(); }

void SKFUserCSPInfo::Clear() {
    dwReserved = 0;
    wstrReserved.clear();
    vetKeyInfo.clear();
}

SKFUserCSPInfoSet::SKFUserCSPInfoSet() = default;

void SKFUserCSPInfoSet::Clear() { vetCSPInfo.clear(); }

ContainerObjInfo::ContainerObjInfo() { Clear(); }

void ContainerObjInfo::Clear() {
    dwContainerType = SKF_CONTAINER_NO_SIGN_KEY;
    wstrContainerName.clear();
    strSignCert.clear();
    strEncCert.clear();
}

DeviceObjInfo::DeviceObjInfo() { Clear(); }

void DeviceObjInfo::Clear() {
    wstrProviderName.clear();
    wstrModulePath.clear();
    wstrDeviceName.clear();
    wstrLabel.clear();
    wstrSerialNumber.clear();
    dwMaxRetryCount = 0;
    dwRemainRetryCount = 0;
    dwPINState = 0;
    vetContainers.clear();
}

void ClearSKFUserKeyInfoSet(std::vector<SKFUserKeyInfo>& keyInfoSet) {
    for (SKFUserKeyInfo& key : keyInfoSet) key.vetCertInfo.clear();
    keyInfoSet.clear();
}

void ClearSKFUserCSPInfoSet(SKFUserCSPInfoSet& cspInfoSet) {
    for (SKFUserCSPInfo& csp : cspInfoSet.vetCSPInfo) ClearSKFUserKeyInfoSet(csp.vetKeyInfo);
    cspInfoSet.vetCSPInfo.clear();
}

// ---- key discovery


#define TRACE_MODULE L"CustomSKFInterface"

USBKEYLibraryEntry* g_pUSBKEYLibraryList = nullptr;

namespace {

constexpr HRESULT kNoDevices = static_cast<HRESULT>(0x8007000D);
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070490);
constexpr DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kDigitalSignature = 0x80;

// The certificate fields of one record; a getter that fails is traced and
// leaves its field as it is.
void FillCertInfo(SKFUserCertInfo& info, PCCERT_CONTEXT pCertContext, FILETIME ftCurrentTime) {
    TRACE_NAME(L"SKFGetProvDeviceList");
    HRESULT hr = S_OK;
    wchar_t* pwszText = nullptr;

    hr = GetCertSerialNumber(pCertContext, info.wstrSerialNumber);
    if (hr != S_OK) TRACE_FAIL(L"GetCertSerialNumber", L"hResult != S_OK", hr);
    hr = GetCertSubject(&pwszText, pCertContext, nullptr, CERT_X500_NAME_STR);
    if (hr == S_OK && pwszText) info.wstrSubject = pwszText;
    else TRACE_FAIL(L"GetCertSubject", L"hResult != S_OK", hr);
    delete[] pwszText;
    pwszText = nullptr;
    hr = GetCertSubjectCN(pCertContext, info.wstrSubjectCN);
    if (hr != S_OK) TRACE_FAIL(L"GetCertSubjectCN", L"hResult != S_OK", hr);
    hr = GetCertIssuer(pCertContext, &pwszText);
    if (hr == S_OK && pwszText) info.wstrIssuer = pwszText;
    else TRACE_FAIL(L"GetCertIssuer", L"hResult != S_OK", hr);
    delete[] pwszText;
    info.wstrDisplayName = info.wstrSubjectCN + L", SN=" + info.wstrSerialNumber;
    info.ftNotBefore = pCertContext->pCertInfo->NotBefore;
    info.ftNotAfter = pCertContext->pCertInfo->NotAfter;
    info.dwFilled = 1;
    info.dwSMCert = CheckCertSignatureAlg(pCertContext, "1.2.156.10197") == S_OK ? 1 : 0;
    if (info.dwSMCert) {
        info.dwKeyBits = 256;
    } else {
        const DWORD bits = CertGetPublicKeyLength(kCertEncoding, &pCertContext->pCertInfo->SubjectPublicKeyInfo);
        if (bits) info.dwKeyBits = bits;
        else TRACE_FAIL(L"CertGetPublicKeyLength", L"dwKeyBits == 0", HResultFromLastError());
    }
    hr = GetUserCertStatus(&info.dwStatus, &info.dwDaysLeft, ftCurrentTime, info.ftNotAfter);
    if (hr != S_OK) TRACE_FAIL(L"GetUserCertStatus", L"hResult != S_OK", hr);
}

}  // namespace

HRESULT Base64CertToCertContext(std::string strBase64Cert, PCCERT_CONTEXT* ppCertContext) {
    TRACE_SCOPE(L"Base64CertToCertContext");
    HRESULT hr = S_OK;
    BYTE* pbyCertData = nullptr;
    int nCertDataLen = 0;
    PCCERT_CONTEXT pstCertContext = nullptr;

    CHECK_GOTO(strBase64Cert.length() == 0, L"Check Cert Data", E_INVALIDARG);
    CHECK_GOTO(ppCertContext == NULL, L"Check Out Parameter", E_INVALIDARG);
    hr = Base64DecodeEx(strBase64Cert.c_str(), int(strBase64Cert.length()), &pbyCertData, &nCertDataLen);
    if (hr != S_OK) FAIL_GOTO(L"Base64DecodeEx", L"hResult != S_OK", HResultFromError(hr));
    pstCertContext = CertCreateCertificateContext(kCertEncoding, pbyCertData, DWORD(nCertDataLen));
    CHECK_GOTO(NULL == pstCertContext, L"CertCreateCertificateContext", HResultFromLastError());
    *ppCertContext = pstCertContext;
exit:
    delete[] pbyCertData;
    return hr;
}

HRESULT SKFUserCertInfoFromContainer(const ContainerObjInfo& container, FILETIME ftCurrentTime,
                                     SKFUserCertInfo& stCertInfo) {
    TRACE_SCOPE(L"SKFUserCertInfoFromContainer");
    HRESULT hr = S_OK;
    PCCERT_CONTEXT pCertContext = nullptr;

    stCertInfo.Clear();
    if (!container.strSignCert.empty()) {
        hr = Base64CertToCertContext(container.strSignCert, &pCertContext);
        if (hr != S_OK) FAIL_GOTO(L"Base64CertToCertContext", L"hResult != S_OK", HResultFromError(hr));
        stCertInfo.dwSignCert = 1;
    } else if (!container.strEncCert.empty()) {
        hr = Base64CertToCertContext(container.strEncCert, &pCertContext);
        if (hr != S_OK) FAIL_GOTO(L"Base64CertToCertContext", L"hResult != S_OK", HResultFromError(hr));
        // An encryption certificate is listed only when it can also sign.
        if (CheckCertKeyUsage(pCertContext, kDigitalSignature) != S_OK) {
            hr = S_FALSE;
            goto exit;
        }
    } else {
        hr = S_FALSE;
        goto exit;
    }
    stCertInfo.wstrContainerName = container.wstrContainerName;
    FillCertInfo(stCertInfo, pCertContext, ftCurrentTime);
exit:
    if (pCertContext) CertFreeCertificateContext(pCertContext);
    return hr;
}

HRESULT SKFGetProvDeviceList(const wchar_t* lpwSKFDllPath, SKFUserCSPInfo& stCSPInfo, FILETIME ftCurrentTime) {
    TRACE_SCOPE(L"SKFGetProvDeviceList");
    HRESULT hr = S_OK;
    HRESULT hrFirstDeviceFailure = S_OK;
    HSKFCRYPTPROV hSKFProv = nullptr;
    std::vector<std::wstring> vtrDeviceName;

    CHECK_GOTO(lpwSKFDllPath == NULL || wcslen(lpwSKFDllPath) == 0, L"Check Provider Name", E_INVALIDARG);
    hr = SKFCryptAcquireContext(nullptr, nullptr, &hSKFProv, nullptr, 0, lpwSKFDllPath);
    if (hr != S_OK) FAIL_GOTO(L"SKFCryptAcquireContext", L"hResult != S_OK", HResultFromError(hr));
    hr = SKFCryptEnumDevices(hSKFProv, vtrDeviceName);
    if (hr != S_OK) FAIL_GOTO(L"SKFCryptEnumDevices", L"hResult != S_OK", HResultFromError(hr));
    CHECK_GOTO(vtrDeviceName.size() == 0, L"No SKF Devices plugin", kNoDevices);

    for (const std::wstring& deviceName : vtrDeviceName) {
        DeviceObjInfo stDeviceObjInfo;
        SKFUserKeyInfo stKeyInfo;
        // A key whose information cannot be read is left out; the other keys
        // of the library are still listed.
        hr = SKFCryptGetDeviceInfo(deviceName.c_str(), hSKFProv, stDeviceObjInfo);
        if (hr != S_OK) {
            hr = HResultFromError(hr);
            TRACE_FAIL(L"SKFCryptGetDeviceInfo", L"hResult != S_OK", hr);
            if (hrFirstDeviceFailure == S_OK) hrFirstDeviceFailure = hr;
            continue;
        }
        stKeyInfo.wstrSerialNumber = stDeviceObjInfo.wstrSerialNumber;
        stKeyInfo.wstrDeviceName = stDeviceObjInfo.wstrDeviceName;
        stKeyInfo.dwPINNotDefault = stDeviceObjInfo.dwPINState != SKF_PIN_STATE_DEFAULT ? 1 : 0;
        stKeyInfo.dwPINNotLocked = stDeviceObjInfo.dwPINState != SKF_PIN_STATE_LOCKED ? 1 : 0;
        stKeyInfo.dwCertFound = 0;
        for (const ContainerObjInfo& container : stDeviceObjInfo.vetContainers) {
            SKFUserCertInfo stCertInfo;
            hr = SKFUserCertInfoFromContainer(container, ftCurrentTime, stCertInfo);
            if (hr != S_OK) continue;  // no usable certificate, or one that does not decode (traced)
            stKeyInfo.dwCertFound = 1;
            stKeyInfo.vetCertInfo.push_back(stCertInfo);
        }
        stCSPInfo.vetKeyInfo.push_back(stKeyInfo);
    }
    hr = S_OK;
    // The scan fails only when keys were listed and none could be read.
    if (stCSPInfo.vetKeyInfo.empty()) FAIL_GOTO(L"SKFCryptGetDeviceInfo", L"no device was readable", hrFirstDeviceFailure);
exit:
    SKFCryptReleaseContext(hSKFProv);
    return hr;
}

HRESULT SyncGetPluggedUSBKeyCSPInfoBySKF(const wchar_t* lpwSKFDllPathList, SKFUserCSPInfoSet& stCSPInfoSet,
                                         FILETIME ftCurrentTime) {
    TRACE_SCOPE(L"SyncGetPluggedUSBKeyCSPInfoBySKF");
    HRESULT hr = S_OK;
    HRESULT hrFirstFailure = S_OK;
    bool bAnyRecord = false;
    std::vector<std::wstring> vtrPaths;

    CHECK_GOTO(lpwSKFDllPathList == NULL || wcslen(lpwSKFDllPathList) == 0, L"Check Provider Name", E_INVALIDARG);
    SplitStrings(vtrPaths, lpwSKFDllPathList, L"||");
    for (const std::wstring& path : vtrPaths) {
        SKFUserCSPInfo stCSPInfo;
        const HRESULT hrLibrary = SKFGetProvDeviceList(path.c_str(), stCSPInfo, ftCurrentTime);
        if (hrLibrary == S_OK) {
            stCSPInfoSet.vetCSPInfo.push_back(stCSPInfo);
            bAnyRecord = true;
        } else if (hrLibrary != kNoDevices && hrFirstFailure == S_OK) {
            hrFirstFailure = hrLibrary;
        }
        ClearSKFUserKeyInfoSet(stCSPInfo.vetKeyInfo);
    }
    // No key at all is an empty success; a scan that found nothing because
    // something failed says so.
    if (!bAnyRecord && hrFirstFailure != S_OK)
        FAIL_GOTO(L"SKFGetProvDeviceList", L"no library was scanned", hrFirstFailure);
exit:
    return hr;
}

HRESULT GetSKFDLLPath(wchar_t** lppwSKFDllPath) {
    TRACE_SCOPE(L"GetSKFDLLPath");
    HRESULT hr = S_OK;
    BOOL bFindKeyLibrary = FALSE;
    wchar_t* pwszPath = nullptr;

    CHECK_GOTO(lppwSKFDllPath == NULL, L"Check Parameter", E_INVALIDARG);
    for (const USBKEYLibraryEntry* entry = g_pUSBKEYLibraryList; entry; entry = entry->pNext) {
        if (_wcsicmp(entry->wszProviderName, L"Quib CSP v6.0 (ZOPRA)") != 0) continue;
        bFindKeyLibrary = TRUE;
        hr = CombineFilePath(entry->wszLibraryName, L"%SYSTEM%", &pwszPath, FALSE);
        if (hr != S_OK) FAIL_GOTO(L"CombineFilePath", L"hResult != S_OK", HResultFromError(hr));
        *lppwSKFDllPath = pwszPath;
        break;
    }
    CHECK_GOTO(bFindKeyLibrary == FALSE, L"CSP Name not exist", kNotFound);
exit:
    return hr;
}
