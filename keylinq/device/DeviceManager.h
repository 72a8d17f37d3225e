#pragma once
// The device managers: list the keys present, connect to one (a device
// context with the edition's device object on it, initialised on the key)
// and disconnect again. The edition's manager, CQuibManager, is also the
// device-event monitor. The library holds one of each as static objects.
#include <windows.h>

#include <cstdint>
#include <memory>

class CDeviceContext;
class CDeviceOperator;
class CMonitorThreadDlg;

#define DEVMGR_E_NOT_OVERRIDDEN 0x80070108u  // the base class has no connection of its own
#define DEVMGR_E_NULL_OBJECT    0x80070101u  // CloseDevice of a null device object
#define DEVMGR_E_NO_MEMORY      0x80070102u  // CNoltManager: context or operator not allocated
#define DEVMGR_E_NO_WAIT        0x80070022u  // CancelWaitForDevEvent with no wait to end
#define DEVMGR_E_NAME_TOO_SHORT 0x0A000010u  // the caller's name buffer is shorter than the name
#define DEVMGR_E_OBJECT_MEMORY  0x0A00000Eu  // CQuibManager: context or device object not allocated

// The edition's device object on a new context (a CDeviceZOPRA); provided
// by the SKF layer, which owns that class. Null when it cannot be made.
CDeviceOperator* NewEditionDeviceObject(CDeviceContext* pContext);

class CDeviceManager {
public:
    CDeviceManager();
    virtual ~CDeviceManager();
    CDeviceManager(const CDeviceManager&) = delete;
    CDeviceManager& operator=(const CDeviceManager&) = delete;

    // Device paths of the keys present (each with its NUL, then one more).
    virtual uint32_t EnumDevice(DWORD driverType, WORD productId, char* pszDevList, DWORD* pnSize);
    virtual uint32_t OpenDevice(DWORD driverType, const char* pszDevicePath, uint32_t nFlags,
                                CDeviceOperator** ppDevice);
    // Finalises the key's context and destroys the object; the pointer is
    // cleared. On failure the object and its context stay usable.
    uint32_t CloseDevice(CDeviceOperator** ppDevice);
};

class CDeviceMonitor {
public:
    virtual ~CDeviceMonitor() {}
    // Blocks until a key of ours arrives (event 1) or leaves (2); event 0
    // when the wait was cancelled. The name is ANSI, lower-cased.
    virtual uint32_t WaitForDevEvent(DWORD driverType, WORD productId, char* pszDevName, ULONG* pnNameLen,
                                     ULONG* pnEvent) = 0;
    virtual uint32_t CancelWaitForDevEvent() = 0;
};

class CQuibManager : public CDeviceManager, public CDeviceMonitor {
public:
    CQuibManager();
    ~CQuibManager() override;
    uint32_t OpenDevice(DWORD driverType, const char* pszDevicePath, uint32_t nFlags,
                        CDeviceOperator** ppDevice) override;
    uint32_t WaitForDevEvent(DWORD driverType, WORD productId, char* pszDevName, ULONG* pnNameLen,
                             ULONG* pnEvent) override;
    uint32_t CancelWaitForDevEvent() override;

private:
    // The waiting and the cancelling thread share the dialog: the lock
    // guards the pointer, and each side holds its own reference, so the
    // dialog object outlives every wait that still runs it.
    CRITICAL_SECTION m_lock;
    std::shared_ptr<CMonitorThreadDlg> m_pMonitorWnd;
};

class CNoltManager : public CDeviceManager {
public:
    CNoltManager();
    ~CNoltManager() override;
    uint32_t OpenDevice(DWORD driverType, const char* pszDevicePath, uint32_t nFlags,
                        CDeviceOperator** ppDevice) override;
};

// The library's two managers, built at load (the edition's first) and
// destroyed at unload in the opposite order.
CQuibManager& GetQuibManager();
CNoltManager& GetNoltManager();
