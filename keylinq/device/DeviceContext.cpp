// The device context: listing keys, opening one (its device name, mutex and
// transport), the command objects of each key family, and closing.
#include "DeviceContext.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>

#include "APDUChip.h"
#include "APDUChipNolt.h"
#include "APDUContainer.h"
#include "APDUCrypto.h"
#include "APDUFile.h"
#include "APDUKey.h"
#include "APDUPin.h"
#include "APDUPinNolt.h"
#include "DeviceResult.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DeviceContext"

namespace {

// The device name inside a device path: the text after the first `from`
// that follows `marker`, up to the next `to`. Null when a marker is missing.
const char* CutName(const char* path, const char* marker, const char* from, const char* to, uint32_t* length) {
    const char* p = std::strstr(path, marker);
    if (!p) return nullptr;
    p = std::strstr(p + std::strlen(marker), from);
    if (!p) return nullptr;
    p += std::strlen(from);
    const char* end = std::strstr(p, to);
    if (!end) return nullptr;
    *length = uint32_t(end - p);
    return p;
}

}  // namespace

CDeviceContext::CDeviceContext()
    : m_hMutexHandle(nullptr),
      m_pDevieHandle(nullptr),
      m_pApduChip(nullptr),
      m_pApduContainer(nullptr),
      m_pApduCrypto(nullptr),
      m_pApduFile(nullptr),
      m_pApduKey(nullptr),
      m_pApduPin(nullptr),
      m_nOperators(0) {
    std::memset(m_szDeviceName, 0, sizeof m_szDeviceName);
    TraceInfo(L"CDeviceContext: Constructor");
}

CDeviceContext::~CDeviceContext() {
    TraceInfo(L"CDeviceContext: Destructor");
    delete m_pApduChip;
    delete m_pApduContainer;
    delete m_pApduCrypto;
    delete m_pApduFile;
    delete m_pApduKey;
    delete m_pApduPin;
    if (m_pDevieHandle) {
        if (m_pDevieHandle->m_pTransport) VEmuCloseDevice(m_pDevieHandle->m_pTransport);
        m_pDevieHandle->m_pTransport = nullptr;
        delete m_pDevieHandle;
    }
    // A context whose Open or Initialize failed, or that was never closed,
    // still holds its mutex handle.
    CloseMutexHandle();
}

void CDeviceContext::CloseMutexHandle() {
    if (m_hMutexHandle) CloseHandle(m_hMutexHandle);
    m_hMutexHandle = nullptr;
}

void CDeviceContext::Adopt(VM_DEVICE_HANDLE* pRecord, CAPDUChip* pChip, CAPDUContainer* pContainer,
                           CAPDUCrypto* pCrypto, CAPDUFile* pFile, CAPDUKey* pKey, CAPDUPin* pPin) {
    m_pDevieHandle = pRecord;
    m_pApduChip = pChip;
    m_pApduContainer = pContainer;
    m_pApduCrypto = pCrypto;
    m_pApduFile = pFile;
    m_pApduKey = pKey;
    m_pApduPin = pPin;
}

uint32_t CDeviceContext::Initialize() {
    TRACE_NAME(L"CDeviceContext::Initialize");
    uint32_t hr = 0;
    m_pDevieHandle = new (std::nothrow) VM_DEVICE_HANDLE();
    CHECK_GOTO(!m_pDevieHandle, L"New VM_DEVICE_HANDLE", DEVCTX_E_NO_MEMORY);
    m_pApduChip = new (std::nothrow) CAPDUChip(m_pDevieHandle, APDU_TIMEOUT_SECONDS);
    CHECK_GOTO(!m_pApduChip, L"New CAPDUChip", DEVCTX_E_NO_MEMORY);
    m_pApduContainer = new (std::nothrow) CAPDUContainer(m_pDevieHandle, APDU_TIMEOUT_SECONDS);
    CHECK_GOTO(!m_pApduContainer, L"New CAPDUContainer", DEVCTX_E_NO_MEMORY);
    m_pApduCrypto = new (std::nothrow) CAPDUCrypto(m_pDevieHandle, APDU_TIMEOUT_SECONDS);
    CHECK_GOTO(!m_pApduCrypto, L"New CAPDUCrypto", DEVCTX_E_NO_MEMORY);
    m_pApduFile = new (std::nothrow) CAPDUFile(m_pDevieHandle, APDU_TIMEOUT_SECONDS);
    CHECK_GOTO(!m_pApduFile, L"New CAPDUFile", DEVCTX_E_NO_MEMORY);
    m_pApduKey = new (std::nothrow) CAPDUKey(m_pDevieHandle, APDU_TIMEOUT_SECONDS);
    CHECK_GOTO(!m_pApduKey, L"New CAPDUKey", DEVCTX_E_NO_MEMORY);
    m_pApduPin = new (std::nothrow) CAPDUPin(m_pDevieHandle, APDU_TIMEOUT_SECONDS);
    CHECK_GOTO(!m_pApduPin, L"New CAPDUPin", DEVCTX_E_NO_MEMORY);
    TRACE_STEP(L"New APDU objects");
exit:
    return hr;
}

uint32_t CDeviceContext::Enum(DWORD driverType, WORD productId, char* pszDevList, DWORD* pnDevListSize) {
    TRACE_NAME(L"CDeviceContext::Enum");
    uint32_t hr = 0;
    char list[DEVICE_ENUM_LIST_BYTES] = {};
    DWORD size = sizeof list;

    CHECK_GOTO(!pnDevListSize, L"CHECK pnDevListSize", DEVCTX_E_NULL_POINTER);
    hr = FoldResult(VEmuEnumDevice(driverType, KEYLINQ_USB_VENDOR_ID, productId, list, &size));
    CHECK_GOTO(hr != 0, L"VEmuEnumDevice", hr);
    TRACE_STEP(L"VEmuEnumDevice");
    if (!pszDevList) {
        *pnDevListSize = size;
        goto exit;
    }
    if (*pnDevListSize < size) {
        *pnDevListSize = size;
        CHECK_GOTO(true, L"CHECK *pnDevListSize", DEVCTX_E_LIST_TOO_SMALL);
    }
    std::memcpy(pszDevList, list, size);
    *pnDevListSize = size;
exit:
    return hr;
}

uint32_t CDeviceContext::Open(DWORD driverType, const char* pszDevicePath) {
    TRACE_NAME(L"CDeviceContext::Open");
    uint32_t hr = 0;
    const char* name = nullptr;
    uint32_t nameLen = 0;
    VEMU_HANDLE transport = nullptr;

    CHECK_GOTO(!pszDevicePath, L"CHECK pszDevicePath", DEVCTX_E_DEVICE_NAME);
    hr = FoldResult(Initialize());
    CHECK_GOTO(hr != 0, L"Initialize", hr);
    TRACE_STEP(L"Initialize");

    switch (driverType) {
    case VEMU_DRIVER_MASS_STORAGE: name = CutName(pszDevicePath, "rev_", "#", "#", &nameLen); break;
    case VEMU_DRIVER_HID: name = CutName(pszDevicePath, "pid_", "#", "&0000", &nameLen); break;
    case VEMU_DRIVER_CCID:
        name = pszDevicePath;
        nameLen = uint32_t(std::strlen(pszDevicePath));
        break;
    case VEMU_DRIVER_WINUSB: name = CutName(pszDevicePath, "pid_", "#", "#", &nameLen); break;
    default: CHECK_GOTO(true, L"CHECK enumDrvType", DEVCTX_E_DRIVER_TYPE);
    }
    CHECK_GOTO(!name, L"Cut device name", DEVCTX_E_DEVICE_NAME);
    hr = SetDeviceName(name, nameLen);
    CHECK_GOTO(hr != 0, L"SetDeviceName", hr);
    TRACE_STEP(L"SetDeviceName");

    hr = CreateDevMutex();
    CHECK_GOTO(hr != 0, L"CreateDevMutex", hr);
    TRACE_STEP(L"CreateDevMutex");

    hr = FoldResult(VEmuOpenDevice(driverType, pszDevicePath, &transport));
    CHECK_GOTO(hr != 0, L"VEmuOpenDevice", hr);
    TRACE_STEP(L"VEmuOpenDevice");

    if (!m_pDevieHandle) {
        VEmuCloseDevice(transport);
        CHECK_GOTO(true, L"CHECK m_pDevieHandle", DEVCTX_E_NO_TRANSPORT);
    }
    m_pDevieHandle->m_pTransport = transport;
exit:
    return hr;
}

uint32_t CDeviceContext::SetDeviceName(const char* pszName, uint32_t nNameLen) {
    TRACE_NAME(L"CDeviceContext::SetDeviceName");
    uint32_t hr = 0;
    CHECK_GOTO(!pszName, L"CHECK pszName", DEVCTX_E_DEVICE_NAME);
    // Empty, or longer than the name field: no usable name.
    CHECK_GOTO(nNameLen == 0 || nNameLen >= DEVICE_NAME_CHARS, L"CHECK nNameLen", DEVCTX_E_DEVICE_NAME);
    std::memcpy(m_szDeviceName, pszName, nNameLen);
    m_szDeviceName[nNameLen] = '\0';
exit:
    return hr;
}

uint32_t CDeviceContext::CreateDevMutex() {
    TRACE_NAME(L"CDeviceContext::CreateDevMutex");
    uint32_t hr = 0;
    char mutexName[DEVICE_MUTEX_NAME_CHARS + 1];
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes = {};
    HANDLE handle = nullptr;
    int written = 0;

    for (char* p = m_szDeviceName; *p; ++p) {
        if (*p >= 'A' && *p <= 'Z') *p = char(*p - 'A' + 'a');
    }
    written = std::snprintf(mutexName, sizeof mutexName, "Global\\%s", m_szDeviceName);
    CHECK_GOTO(m_szDeviceName[0] == '\0' || written < 0 || written > int(DEVICE_MUTEX_NAME_CHARS),
               L"CHECK mutex name", DEVCTX_E_DEVICE_NAME);

    CHECK_GOTO(!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION),
               L"InitializeSecurityDescriptor", FoldedLastError());
    // A null DACL: every process of every user may use the mutex.
    CHECK_GOTO(!SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE), L"SetSecurityDescriptorDacl",
               FoldedLastError());
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = &descriptor;
    attributes.bInheritHandle = FALSE;

    handle = CreateMutexA(&attributes, FALSE, mutexName);
    if (!handle && GetLastError() == ERROR_ACCESS_DENIED) {
        TRACE_STEP(L"CreateMutexA access denied");
        // Made by someone who did not give us full access: waiting and
        // releasing need SYNCHRONIZE only.
        handle = OpenMutexA(SYNCHRONIZE, FALSE, mutexName);
        CHECK_GOTO(!handle, L"OpenMutexA", FoldedLastError());
    }
    CHECK_GOTO(!handle, L"CreateMutexA", FoldedLastError());
    TRACE_STEP(L"CreateMutexA");
    CloseMutexHandle();
    m_hMutexHandle = handle;
exit:
    return hr;
}

uint32_t CDeviceContext::WaitDevMutex() { return WaitDevMutexFor(DEVICE_MUTEX_TIMEOUT_MS); }

uint32_t CDeviceContext::WaitDevMutexFor(DWORD dwMilliseconds) {
    TRACE_NAME(L"CDeviceContext::WaitDevMutex");
    uint32_t hr = 0;
    DWORD wait = 0;
    CHECK_GOTO(!m_hMutexHandle, L"CHECK m_hMutexHandle", DEVCTX_E_NO_MUTEX);
    wait = WaitForSingleObject(m_hMutexHandle, dwMilliseconds);
    // Abandoned by a thread or process that ended while holding it: ours now.
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) goto exit;
    CHECK_GOTO(wait == WAIT_TIMEOUT, L"WaitForSingleObject", DEVCTX_E_MUTEX_TIMEOUT);
    CHECK_GOTO(true, L"WaitForSingleObject", FoldedLastError());
exit:
    return hr;
}

uint32_t CDeviceContext::ReleaseDevMutex() {
    TRACE_NAME(L"CDeviceContext::ReleaseDevMutex");
    uint32_t hr = 0;
    CHECK_GOTO(!m_hMutexHandle, L"CHECK m_hMutexHandle", DEVCTX_E_NO_MUTEX);
    CHECK_GOTO(!ReleaseMutex(m_hMutexHandle), L"ReleaseMutex", FoldedLastError());
exit:
    return hr;
}

uint32_t CDeviceContext::Close() {
    TRACE_NAME(L"CDeviceContext::Close");
    uint32_t hr = WaitDevMutex();
    if (hr != 0) {
        TRACE_FAIL(L"WaitDevMutex", L"VM_ERR_OK != hMutex", hr);
        return hr;
    }
    VEMU_HANDLE transport = m_pDevieHandle ? m_pDevieHandle->m_pTransport : nullptr;
    CHECK_GOTO(!transport, L"CHECK m_pDevieHandle->m_pTransport", DEVCTX_E_NO_TRANSPORT);
    hr = FoldResult(VEmuCloseDevice(transport));
    CHECK_GOTO(hr != 0, L"VEmuCloseDevice", hr);
    TRACE_STEP(L"VEmuCloseDevice");
    m_pDevieHandle->m_pTransport = nullptr;
    hr = ReleaseDevMutex();
    if (hr != 0) return hr;
    CloseMutexHandle();
    TRACE_STEP(L"CloseHandle");
    return 0;
exit:
    ReleaseDevMutex();
    return hr;
}

void CDeviceContext::TraceInfo(const wchar_t* format, ...) {
    wchar_t line[TRACE_LINE_CHARS];
    va_list args;
    va_start(args, format);
    int n = std::vswprintf(line, TRACE_LINE_CHARS, format, args);
    va_end(args);
    if (n < 0) line[TRACE_LINE_CHARS - 1] = L'\0';
    LogFailure(0, line);
}

// ---- the key families

namespace {

// Creates the record and the six objects of one family; stores nothing
// unless all exist.
template <class Chip, class Container, class Pin>
uint32_t CreateFamily(VM_DEVICE_HANDLE** ppRecord, CAPDUChip** ppChip, CAPDUContainer** ppContainer,
                      CAPDUCrypto** ppCrypto, CAPDUFile** ppFile, CAPDUKey** ppKey, CAPDUPin** ppPin) {
    VM_DEVICE_HANDLE* record = new (std::nothrow) VM_DEVICE_HANDLE();
    CAPDUChip* chip = record ? new (std::nothrow) Chip(record, APDU_TIMEOUT_SECONDS) : nullptr;
    CAPDUContainer* container = record ? new (std::nothrow) Container(record, APDU_TIMEOUT_SECONDS) : nullptr;
    CAPDUCrypto* crypto = record ? new (std::nothrow) CAPDUCrypto(record, APDU_TIMEOUT_SECONDS) : nullptr;
    CAPDUFile* file = record ? new (std::nothrow) CAPDUFile(record, APDU_TIMEOUT_SECONDS) : nullptr;
    CAPDUKey* key = record ? new (std::nothrow) CAPDUKey(record, APDU_TIMEOUT_SECONDS) : nullptr;
    CAPDUPin* pin = record ? new (std::nothrow) Pin(record, APDU_TIMEOUT_SECONDS) : nullptr;
    if (!record || !chip || !container || !crypto || !file || !key || !pin) {
        delete chip;
        delete container;
        delete crypto;
        delete file;
        delete key;
        delete pin;
        delete record;
        return DEVCTX_E_NO_MEMORY;
    }
    *ppRecord = record;
    *ppChip = chip;
    *ppContainer = container;
    *ppCrypto = crypto;
    *ppFile = file;
    *ppKey = key;
    *ppPin = pin;
    return 0;
}

}  // namespace

CQuibContext::CQuibContext() {
    std::memset(m_szDeviceName, 0, sizeof m_szDeviceName);
    TraceInfo(L"CQuibContext: Constructor");
}

CQuibContext::~CQuibContext() { TraceInfo(L"CQuibContext: Destructor"); }

uint32_t CQuibContext::Initialize() {
    TRACE_NAME(L"CQuibContext::Initialize");
    uint32_t hr = 0;
    VM_DEVICE_HANDLE* record = nullptr;
    CAPDUChip* chip = nullptr;
    CAPDUContainer* container = nullptr;
    CAPDUCrypto* crypto = nullptr;
    CAPDUFile* file = nullptr;
    CAPDUKey* key = nullptr;
    CAPDUPin* pin = nullptr;
    hr = CreateFamily<CAPDUChipNolt, CAPDUContainerQuib, CAPDUPinNolt>(&record, &chip, &container, &crypto, &file,
                                                                       &key, &pin);
    CHECK_GOTO(hr != 0, L"New APDU objects", hr);
    Adopt(record, chip, container, crypto, file, key, pin);
    TRACE_STEP(L"New APDU objects");
exit:
    return hr;
}

CNoltContext::CNoltContext() { TraceInfo(L"CNoltContext: Constructor"); }

CNoltContext::~CNoltContext() { TraceInfo(L"CNoltContext: Destructor"); }

uint32_t CNoltContext::Initialize() {
    TRACE_NAME(L"CNoltContext::Initialize");
    uint32_t hr = 0;
    VM_DEVICE_HANDLE* record = nullptr;
    CAPDUChip* chip = nullptr;
    CAPDUContainer* container = nullptr;
    CAPDUCrypto* crypto = nullptr;
    CAPDUFile* file = nullptr;
    CAPDUKey* key = nullptr;
    CAPDUPin* pin = nullptr;
    hr = CreateFamily<CAPDUChipNolt, CAPDUContainer, CAPDUPinNolt>(&record, &chip, &container, &crypto, &file, &key,
                                                                   &pin);
    CHECK_GOTO(hr != 0, L"New APDU objects", hr);
    Adopt(record, chip, container, crypto, file, key, pin);
    TRACE_STEP(L"New APDU objects");
exit:
    return hr;
}
