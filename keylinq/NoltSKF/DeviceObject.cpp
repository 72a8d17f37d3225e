// The device object: device information, label, raw commands; the slots
// that later families fill answer "not supported yet" for now.
#include "DeviceObject.h"

#include <cstring>
#include <new>

#include "ApplicationObject.h"
#include "DeviceContext.h"
#include "DeviceInfo.h"
#include "DeviceManager.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DeviceObject"

namespace {

// Offsets in the key's 288-byte device information record.
constexpr size_t kRecVersion = 0;
constexpr size_t kRecManufacturer = 4;
constexpr size_t kRecIssuer = 68;
constexpr size_t kRecLabel = 132;
constexpr size_t kRecSerialNumber = 164;
constexpr size_t kRecHWVersion = 196;
constexpr size_t kRecFirmwareVersion = 198;
constexpr size_t kRecAlgSymCap = 200;
constexpr size_t kRecAlgAsymCap = 204;
constexpr size_t kRecAlgHashCap = 208;
constexpr size_t kRecDevAuthAlgId = 212;
constexpr size_t kRecTotalSpace = 216;
constexpr size_t kRecFreeSpace = 220;
constexpr size_t kRecLifeStatus = 234;
constexpr uint16_t kLifeStatusOperational = 0x7F00;

ULONG HostWord(const uint8_t* record, size_t offset) {
    uint32_t value;
    memcpy(&value, record + offset, sizeof value);
    return value;
}

}  // namespace

uint32_t SKFNotSupported() { return SAR_NOTSUPPORTYETERR; }

CDeviceObject::CDeviceObject(CDeviceContext* pDeviceContext) : CNoltOperator(pDeviceContext) {
    CDeviceContext::TraceInfo(L"CDeviceObject: Constructor");
}

CDeviceObject::~CDeviceObject() { CDeviceContext::TraceInfo(L"CDeviceObject: Destructor"); }

uint32_t CDeviceObject::SetTokenLabel(const char* pszLabel, uint32_t nLabelLen) {
    TRACE_NAME(L"CDeviceObject::SetTokenLabel");
    const uint32_t hr = CDeviceOperator::SetTokenLabel(pszLabel, nLabelLen);
    if (hr != 0)
        TRACE_FAIL(L"CDeviceOperator::SetTokenLabel", L"SAR_OK != hResult", HRESULT(hr));
    else
        TRACE_STEP(L"CDeviceOperator::SetTokenLabel");
    return hr;
}

uint32_t CDeviceObject::DevAuth(const BYTE*, ULONG) { return SKFNotSupported(); }
uint32_t CDeviceObject::ChangeDevAuth(const BYTE*, ULONG) { return SKFNotSupported(); }
uint32_t CDeviceObject::CreateApplication(LPSTR, LPSTR, DWORD, LPSTR, DWORD, DWORD, HAPPLICATION*) {
    return SKFNotSupported();
}
uint32_t CDeviceObject::DeleteApplication(LPSTR) { return SKFNotSupported(); }
uint32_t CDeviceObject::GenExtRSAKey(ULONG, RSAPRIVATEKEYBLOB*) { return SKFNotSupported(); }
uint32_t CDeviceObject::ExtRSAPriKeyOperation(RSAPRIVATEKEYBLOB*, BYTE*, ULONG, BYTE*, ULONG*) {
    return SKFNotSupported();
}
uint32_t CDeviceObject::ExtECCDecrypt(ECCPRIVATEKEYBLOB*, ECCCIPHERBLOB*, BYTE*, ULONG*) { return SKFNotSupported(); }
uint32_t CDeviceObject::ExtECCSign(ECCPRIVATEKEYBLOB*, BYTE*, ULONG, BYTE*, BYTE*) { return SKFNotSupported(); }

// Device-level cryptography and key handles come with their own families;
// until then they are not offered.
uint32_t CDeviceObject::GenerateRandom(ULONG, BYTE*) { return SKFNotSupported(); }
uint32_t CDeviceObject::SetSymmKey(BYTE*, ULONG, HANDLE*) { return SKFNotSupported(); }
uint32_t CDeviceObject::ExtRSAPubKeyOperation(RSAPUBLICKEYBLOB*, BYTE*, ULONG, BYTE*, ULONG*) {
    return SKFNotSupported();
}
uint32_t CDeviceObject::RSAVerify(RSAPUBLICKEYBLOB*, BYTE*, ULONG, BYTE*, ULONG) { return SKFNotSupported(); }
uint32_t CDeviceObject::ECCVerify(ECCPUBLICKEYBLOB*, BYTE*, ULONG, BYTE*, BYTE*) { return SKFNotSupported(); }
uint32_t CDeviceObject::ExtECCEncrypt(ECCPUBLICKEYBLOB*, BYTE*, ULONG, ECCCIPHERBLOB*) { return SKFNotSupported(); }
uint32_t CDeviceObject::DigestInit(ULONG, ECCPUBLICKEYBLOB*, unsigned char*, ULONG, HANDLE*) {
    return SKFNotSupported();
}

uint32_t CDeviceObject::EnumApplication(LPSTR szAppName, ULONG* pulSize) {
    TRACE_NAME(L"CDeviceObject::EnumApplication");
    uint32_t hr = 0;
    uint8_t record[DEVICE_INFO_RECORD_LEN] = {};
    // The one application: its name, its NUL and the list's closing NUL.
    static const char kList[] = SKF_APPLICATION_NAME "\0";
    const ULONG nameSize = sizeof kList;
    CHECK_GOTO(NULL == pulSize, L"CHECK pulSize", SAR_INVALIDPARAMERR);
    hr = CDeviceOperator::GetDeviceInfo(record);
    if (hr != 0) *pulSize = 0;
    CHECK_GOTO(hr != 0, L"CDeviceOperator::GetDeviceInfo", hr);
    uint16_t lifeStatus;
    memcpy(&lifeStatus, record + kRecLifeStatus, sizeof lifeStatus);  // the operator gives host order
    if (lifeStatus != kLifeStatusOperational) {
        *pulSize = 0;
        CHECK_GOTO(true, L"CHECK LifeStatus", SAR_APPLICATION_NOT_EXISTS);
    }
    if (NULL == szAppName) {
        *pulSize = nameSize;
        TRACE_STEP(L"CHECK pszAppNames");
        goto exit;
    }
    if (*pulSize < nameSize) {
        *pulSize = nameSize;
        CHECK_GOTO(true, L"*pulSize < nameSize", SAR_BUFFER_TOO_SMALL);
    }
    memcpy(szAppName, kList, nameSize);
    *pulSize = nameSize;
exit:
    return hr;
}

template <class Application>
uint32_t CDeviceObject::OpenApplicationAs(LPSTR szAppName, HAPPLICATION* phApplication) {
    TRACE_NAME(L"CDeviceObject::OpenApplication");
    uint32_t hr = 0;
    uint8_t record[DEVICE_INFO_RECORD_LEN] = {};
    ULONG size = 0;
    Application* application = nullptr;
    CHECK_GOTO(NULL == m_pDeviceContext, L"CHECK m_pDeviceContext", SAR_INVALIDHANDLEERR);
    CHECK_GOTO(NULL == szAppName || NULL == phApplication, L"CHECK szAppName", SAR_INVALIDPARAMERR);
    CHECK_GOTO(strcmp(szAppName, SKF_APPLICATION_NAME) != 0, L"strcmp(szAppName, APPLICATION_NAME)",
               SAR_APPLICATION_NOT_EXISTS);
    application = new (std::nothrow) Application(m_pDeviceContext);
    CHECK_GOTO(NULL == application, L"new SKF_APPLICATION_OBJECT", SAR_MEMORYERR);
    hr = application->CDeviceOperator::GetDeviceInfo(record);
    if (hr == 0) hr = application->EnumContainer(nullptr, &size);
    if (hr == 0) hr = application->EnumCosFile(nullptr, &size);
    if (hr != 0) {
        delete application;
        CHECK_GOTO(true, L"Load application", hr);
    }
    application->SetName(szAppName);
    *phApplication = HandleOfApplication(application);
    TRACE_STEP(L"OpenApplication");
exit:
    return hr;
}

uint32_t CDeviceObject::OpenApplication(LPSTR szAppName, HAPPLICATION* phApplication) {
    return OpenApplicationAs<CApplicationObject>(szAppName, phApplication);
}

uint32_t CDeviceObject::GetDeviceInfo(DEVINFO* pDevInfo) {
    TRACE_NAME(L"CDeviceObject::GetDeviceInfo");
    uint32_t hr = 0;
    uint8_t record[DEVICE_INFO_RECORD_LEN] = {};
    DEVINFO info;

    CHECK_GOTO(NULL == pDevInfo, L"CHECK pDevInfo", SAR_INVALIDPARAMERR);
    hr = CDeviceOperator::GetDeviceInfo(record);
    CHECK_GOTO(hr != 0, L"CDeviceOperator::GetDeviceInfo", hr);
    TRACE_STEP(L"CDeviceOperator::GetDeviceInfo");

    memset(&info, 0, sizeof info);
    info.Version.major = record[kRecVersion];
    info.Version.minor = record[kRecVersion + 1];
    memcpy(info.Manufacturer, record + kRecManufacturer, sizeof info.Manufacturer);
    memcpy(info.Issuer, record + kRecIssuer, sizeof info.Issuer);
    memcpy(info.Label, record + kRecLabel, sizeof info.Label);
    memcpy(info.SerialNumber, record + kRecSerialNumber, sizeof info.SerialNumber);
    info.HWVersion.major = record[kRecHWVersion];
    info.HWVersion.minor = record[kRecHWVersion + 1];
    info.FirmwareVersion.major = record[kRecFirmwareVersion];
    info.FirmwareVersion.minor = record[kRecFirmwareVersion + 1];
    info.AlgSymCap = HostWord(record, kRecAlgSymCap);
    info.AlgAsymCap = HostWord(record, kRecAlgAsymCap);
    info.AlgHashCap = HostWord(record, kRecAlgHashCap);
    info.DevAuthAlgId = HostWord(record, kRecDevAuthAlgId);
    info.TotalSpace = HostWord(record, kRecTotalSpace);
    info.FreeSpace = HostWord(record, kRecFreeSpace);
    info.MaxECCBufferSize = SKF_MAX_ECC_BUFFER_SIZE;
    info.MaxBufferSize = SKF_MAX_BUFFER_SIZE;

    if (TraceIsEnabled(GetTraceFlags().entryExit)) {
        TraceValue(L"Version", DWORD(info.Version.major) << 8 | info.Version.minor);
        TraceValue(L"FirmwareVersion", DWORD(info.FirmwareVersion.major) << 8 | info.FirmwareVersion.minor);
        TraceValue(L"AlgSymCap", info.AlgSymCap);
        TraceValue(L"AlgAsymCap", info.AlgAsymCap);
        TraceValue(L"AlgHashCap", info.AlgHashCap);
    }
    *pDevInfo = info;
exit:
    return hr;
}

uint32_t CDeviceObject::Transmit(BYTE* pbCommand, ULONG ulCommandLen, BYTE* pbData, ULONG* pulDataLen) {
    TRACE_NAME(L"CDeviceObject::Transmit");
    uint32_t hr = 0;
    CDeviceContext* pDeviceContext = m_pDeviceContext;
    VM_DEVICE_HANDLE* pDeviceHandle = pDeviceContext ? pDeviceContext->GetDeviceHandle() : nullptr;
    DWORD replyLen = 0;

    CHECK_GOTO(NULL == pDeviceContext, L"CHECK pDeviceContext", SAR_INVALIDHANDLEERR);
    CHECK_GOTO(NULL == pDeviceHandle, L"CHECK pDeviceHandle", SAR_INVALIDHANDLEERR);
    replyLen = *pulDataLen;
    hr = VEmuSendCommand(pDeviceHandle->m_pTransport, pbCommand, ulCommandLen, pbData, &replyLen,
                         SKF_TRANSMIT_TIMEOUT_S);
    *pulDataLen = replyLen;
    CHECK_GOTO(hr != 0, L"VEmuSendCommand", hr);
    TRACE_STEP(L"VEmuSendCommand");
exit:
    return hr;
}

CDeviceZOPRA::CDeviceZOPRA(CDeviceContext* pDeviceContext) : CDeviceObject(pDeviceContext) {
    CDeviceContext::TraceInfo(L"CDeviceZOPRA: Constructor");
}

CDeviceZOPRA::~CDeviceZOPRA() { CDeviceContext::TraceInfo(L"CDeviceZOPRA: Destructor"); }

uint32_t CDeviceZOPRA::OpenApplication(LPSTR szAppName, HAPPLICATION* phApplication) {
    return OpenApplicationAs<CApplicationZOPRA>(szAppName, phApplication);
}

// The device manager's hook for the edition's device object.
CDeviceOperator* NewEditionDeviceObject(CDeviceContext* pContext) {
    return new (std::nothrow) CDeviceZOPRA(pContext);
}
