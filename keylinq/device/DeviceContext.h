#pragma once
// One connected key: its transport and device handle record, the six
// command objects that talk to it, and the machine-wide device mutex that
// serialises all work on the key across threads and processes.
#include <windows.h>

#include <cstdint>

#include "DeviceInfo.h"

class CAPDUChip;
class CAPDUContainer;
class CAPDUCrypto;
class CAPDUFile;
class CAPDUKey;
class CAPDUPin;

constexpr uint32_t DEVICE_NAME_CHARS = 260;         // name field, terminator included
constexpr uint32_t DEVICE_MUTEX_NAME_CHARS = 127;   // "Global\" and the name
constexpr DWORD DEVICE_MUTEX_TIMEOUT_MS = 60000;
constexpr DWORD DEVICE_ENUM_LIST_BYTES = 4160;

#define DEVCTX_E_NO_MEMORY      0x80070102u  // a record or command object could not be allocated
#define DEVCTX_E_LIST_TOO_SMALL 0x80070103u  // Enum: the caller's list is smaller than the key list
#define DEVCTX_E_DRIVER_TYPE    0x80070111u  // Open: unknown driver type
#define DEVCTX_E_DEVICE_NAME    0x80070112u  // Open: no name in the path, or one that cannot name a mutex
#define DEVCTX_E_NO_TRANSPORT   0x80070113u  // no device handle record, or no transport in it
#define DEVCTX_E_NULL_POINTER   0x80070101u  // a required pointer is null
#define DEVCTX_E_MUTEX_TIMEOUT  0x800705B4u  // the device mutex stayed taken for the whole wait
#define DEVCTX_E_NO_MUTEX       0x80070006u  // no device mutex (the context was never opened)

class CDeviceContext {
public:
    CDeviceContext();
    virtual ~CDeviceContext();
    // Creates the device handle record and the six command objects.
    virtual uint32_t Initialize();

    CDeviceContext(const CDeviceContext&) = delete;
    CDeviceContext& operator=(const CDeviceContext&) = delete;

    // Device paths of the keys present: each with its NUL, then one more
    // NUL. A null list asks for the size (in bytes).
    static uint32_t Enum(DWORD driverType, WORD productId, char* pszDevList, DWORD* pnDevListSize);
    // Makes the context usable for the key at the path (called once).
    uint32_t Open(DWORD driverType, const char* pszDevicePath);
    uint32_t SetDeviceName(const char* pszName, uint32_t nNameLen);
    uint32_t CreateDevMutex();
    // Takes the device mutex (recursive for its owner), waiting at most 60 s.
    uint32_t WaitDevMutex();
    // The same with a wait of the caller's choice.
    uint32_t WaitDevMutexFor(DWORD dwMilliseconds);
    uint32_t ReleaseDevMutex();
    // Sets up the session key of the secure messaging; with force 0 only
    // when the current one no longer works.
    uint32_t SetSessionKey(uint32_t force);
    // Closes the transport and the mutex.
    uint32_t Close();

    // An information line of at most 512 characters under the step flag.
    static void TraceInfo(const wchar_t* format, ...);

    CAPDUChip* GetAPDUChip() const { return m_pApduChip; }
    CAPDUContainer* GetAPDUContainer() const { return m_pApduContainer; }
    CAPDUCrypto* GetAPDUCrypto() const { return m_pApduCrypto; }
    CAPDUFile* GetAPDUFile() const { return m_pApduFile; }
    CAPDUKey* GetAPDUKey() const { return m_pApduKey; }
    CAPDUPin* GetAPDUPin() const { return m_pApduPin; }
    VM_DEVICE_HANDLE* GetDeviceHandle() const { return m_pDevieHandle; }
    const char* GetDeviceName() const { return m_szDeviceName; }
    HANDLE GetMutexHandle() const { return m_hMutexHandle; }

    // Operators that work on this context. The device operator's Finalize
    // refuses to close the key while any other is still attached.
    void AttachOperator() { InterlockedIncrement(&m_nOperators); }
    void DetachOperator() { InterlockedDecrement(&m_nOperators); }
    LONG GetOperatorCount() const { return m_nOperators; }

protected:
    // Stores the record and the six objects that a subclass created.
    void Adopt(VM_DEVICE_HANDLE* pRecord, CAPDUChip* pChip, CAPDUContainer* pContainer, CAPDUCrypto* pCrypto,
               CAPDUFile* pFile, CAPDUKey* pKey, CAPDUPin* pPin);
    void CloseMutexHandle();

    HANDLE m_hMutexHandle;
    char m_szDeviceName[DEVICE_NAME_CHARS];
    VM_DEVICE_HANDLE* m_pDevieHandle;
    CAPDUChip* m_pApduChip;
    CAPDUContainer* m_pApduContainer;
    CAPDUCrypto* m_pApduCrypto;
    CAPDUFile* m_pApduFile;
    CAPDUKey* m_pApduKey;
    CAPDUPin* m_pApduPin;
    volatile LONG m_nOperators;
};

// The edition in use: the family's flash and PIN commands and the
// edition's container list.
class CQuibContext : public CDeviceContext {
public:
    CQuibContext();
    ~CQuibContext() override;
    uint32_t Initialize() override;
};

// The second key family: its flash and PIN commands, the base containers.
class CNoltContext : public CDeviceContext {
public:
    CNoltContext();
    ~CNoltContext() override;
    uint32_t Initialize() override;
};
