// The device managers and the device-event monitor of the edition.
#include "DeviceManager.h"

#include <cstring>
#include <new>

#include "APDUFile.h"
#include "DeviceContext.h"
#include "DeviceOperator.h"
#include "DeviceResult.h"
#include "MonitorThreadDlg.h"
#include "NoltOperator.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DeviceManager"

namespace {

// The device-interface class of HID devices (GUID_DEVINTERFACE_HID).
const GUID kHidInterfaceClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// The big-endian word of the open-application reply that marks an
// administration key of the second family.
constexpr uint16_t kAdminKeyMarker = 0xF00B;
constexpr uint32_t kAppInfoLen = 72;

struct Locked {
    explicit Locked(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
    ~Locked() { LeaveCriticalSection(&m_cs); }
    CRITICAL_SECTION& m_cs;
};

// The library's managers, the edition's first: destroyed in the opposite order.
CQuibManager g_QuibManager;
CNoltManager g_NoltManager;

}  // namespace

CQuibManager& GetQuibManager() { return g_QuibManager; }
CNoltManager& GetNoltManager() { return g_NoltManager; }

// ---- CDeviceManager

CDeviceManager::CDeviceManager() { CDeviceContext::TraceInfo(L"CDeviceManager: Constructor"); }
CDeviceManager::~CDeviceManager() { CDeviceContext::TraceInfo(L"CDeviceManager: Destructor"); }

uint32_t CDeviceManager::EnumDevice(DWORD driverType, WORD productId, char* pszDevList, DWORD* pnSize) {
    return FoldResult(CDeviceContext::Enum(driverType, productId, pszDevList, pnSize));
}

uint32_t CDeviceManager::OpenDevice(DWORD, const char*, uint32_t, CDeviceOperator**) {
    TRACE_NAME(L"CDeviceManager::OpenDevice");
    TRACE_FAIL(L"OpenDevice", L"Virtual function must be overridden", HRESULT(DEVMGR_E_NOT_OVERRIDDEN));
    return DEVMGR_E_NOT_OVERRIDDEN;
}

uint32_t CDeviceManager::CloseDevice(CDeviceOperator** ppDevice) {
    TRACE_NAME(L"CDeviceManager::CloseDevice");
    uint32_t hr = 0;
    CHECK_GOTO(!ppDevice || !*ppDevice, L"CHECK pDevice", DEVMGR_E_NULL_OBJECT);
    hr = FoldResult((*ppDevice)->Finalize());
    CHECK_GOTO(hr != 0, L"Finalize", hr);
    TRACE_STEP(L"Finalize");
    delete *ppDevice;
    *ppDevice = nullptr;
exit:
    return hr;
}

// ---- CQuibManager

CQuibManager::CQuibManager() {
    InitializeCriticalSection(&m_lock);
    CDeviceContext::TraceInfo(L"CQuibManager: Constructor");
}

CQuibManager::~CQuibManager() {
    CDeviceContext::TraceInfo(L"CQuibManager: Destructor");
    DeleteCriticalSection(&m_lock);
}

uint32_t CQuibManager::OpenDevice(DWORD driverType, const char* pszDevicePath, uint32_t nFlags,
                                  CDeviceOperator** ppDevice) {
    TRACE_NAME(L"CQuibManager::OpenDevice");
    uint32_t hr = 0;
    CDeviceOperator* pDevice = nullptr;
    CQuibContext* pContext = new (std::nothrow) CQuibContext();

    CHECK_GOTO(!pContext, L"new CQuibContext", DEVMGR_E_OBJECT_MEMORY);
    hr = FoldResult(pContext->Open(driverType, pszDevicePath));
    CHECK_GOTO(hr != 0, L"Open", hr);
    TRACE_STEP(L"Open");
    pDevice = NewEditionDeviceObject(pContext);
    CHECK_GOTO(!pDevice, L"new CDeviceZOPRA", DEVMGR_E_OBJECT_MEMORY);
    hr = FoldResult(pDevice->Initialize(nFlags));
    CHECK_GOTO(hr != 0, L"Initialize", hr);
    TRACE_STEP(L"Initialize");
    *ppDevice = pDevice;
    return 0;
exit:
    delete pDevice;  // before its context: the operator detaches from it
    delete pContext;
    return hr;
}

uint32_t CQuibManager::WaitForDevEvent(DWORD, WORD, char* pszDevName, ULONG* pnNameLen, ULONG* pnEvent) {
    TRACE_NAME(L"CQuibManager::WaitForDevEvent");
    std::shared_ptr<CMonitorThreadDlg> previous, dialog;
    {
        Locked guard(m_lock);
        previous = std::move(m_pMonitorWnd);
        try {
            dialog = std::make_shared<CMonitorThreadDlg>(kHidInterfaceClass);
        } catch (const std::bad_alloc&) {
            TRACE_FAIL(L"new CMonitorThreadDlg", L"NULL == m_pMonitorWnd", HRESULT(DEVMGR_E_OBJECT_MEMORY));
            return DEVMGR_E_OBJECT_MEMORY;
        }
        m_pMonitorWnd = dialog;
    }
    // A dialog of an earlier wait ends; another thread that still runs it
    // keeps its own reference until it has left the dialog.
    if (previous) previous->CloseDialog();
    previous.reset();

    char name[MONITOR_NAME_CHARS] = {};
    ULONG nameLen = 0, event = 0;
    const uint32_t hr = dialog->GetDevEvent(name, &nameLen, &event);
    if (hr != 0) {
        TRACE_FAIL(L"GetDevEvent", L"SAR_OK != hResult", HRESULT(hr));
        *pnEvent = 0;
        return hr;
    }
    TRACE_STEP(L"GetDevEvent");
    if (event == 0) {
        *pnEvent = 0;
        return 0;
    }
    *pnEvent = event;
    if (!pszDevName) {
        *pnNameLen = nameLen;
        return 0;
    }
    if (*pnNameLen < nameLen) {
        *pnNameLen = nameLen;
        TRACE_FAIL(L"CHECK pulDevNameLen", L"*pulDevNameLen < nNameLen", HRESULT(DEVMGR_E_NAME_TOO_SHORT));
        return DEVMGR_E_NAME_TOO_SHORT;
    }
    memcpy(pszDevName, name, nameLen);
    *pnNameLen = nameLen;
    return 0;
}

uint32_t CQuibManager::CancelWaitForDevEvent() {
    TRACE_NAME(L"CQuibManager::CancelWaitForDevEvent");
    std::shared_ptr<CMonitorThreadDlg> dialog;
    {
        Locked guard(m_lock);
        dialog = std::move(m_pMonitorWnd);
    }
    if (!dialog) {
        TRACE_FAIL(L"CHECK m_pMonitorWnd", L"NULL == m_pMonitorWnd", HRESULT(DEVMGR_E_NO_WAIT));
        return DEVMGR_E_NO_WAIT;
    }
    dialog->CloseDialog();
    TRACE_STEP(L"CloseDialog");
    return 0;
}

// ---- CNoltManager

CNoltManager::CNoltManager() { CDeviceContext::TraceInfo(L"CNoltManager: Constructor"); }
CNoltManager::~CNoltManager() { CDeviceContext::TraceInfo(L"CNoltManager: Destructor"); }

uint32_t CNoltManager::OpenDevice(DWORD driverType, const char* pszDevicePath, uint32_t nFlags,
                                  CDeviceOperator** ppDevice) {
    TRACE_NAME(L"CNoltManager::OpenDevice");
    uint32_t hr = 0;
    CDeviceOperator* pOperator = nullptr;
    uint8_t appInfo[kAppInfoLen] = {};
    uint32_t appInfoLen = sizeof appInfo;
    CNoltContext* pContext = new (std::nothrow) CNoltContext();

    CHECK_GOTO(!pContext, L"new CNoltContext", DEVMGR_E_NO_MEMORY);
    hr = FoldResult(pContext->Open(driverType, pszDevicePath));
    CHECK_GOTO(hr != 0, L"Open", hr);
    hr = FoldResult(pContext->GetAPDUFile()->OpenApplication(appInfo, &appInfoLen));
    CHECK_GOTO(hr != 0, L"OpenApplication", hr);
    // A key carrying the administrator-key marker gets a plain operator;
    // every other key the platform operator (2048-byte flash blocks).
    if ((uint16_t(appInfo[32]) << 8 | appInfo[33]) == kAdminKeyMarker) {
        TRACE_STEP(L"new CAdminOperator");
        pOperator = new (std::nothrow) CDeviceOperator(pContext);
    } else {
        pOperator = new (std::nothrow) CNoltOperator(pContext);
    }
    CHECK_GOTO(!pOperator, L"new CDeviceOperator", DEVMGR_E_NO_MEMORY);
    hr = FoldResult(pOperator->Initialize(nFlags));
    CHECK_GOTO(hr != 0, L"Initialize", hr);
    *ppDevice = pOperator;
    return 0;
exit:
    delete pOperator;
    delete pContext;
    return hr;
}
