#pragma once
// The common frame of the exports: entry and exit traces, argument and
// handle checks, the device mutex around exactly one object call, and the
// mapping of the object's result to a SAR_* code.
//
//   ULONG __stdcall SKF_GetDevInfo(DEVHANDLE hDev, DEVINFO* pDevInfo) {
//       CExportFrame frame(L"SKF_GetDevInfo");
//       SKF_REQUIRE(pDevInfo);
//       SKF_REQUIRE_HANDLE(hDev, Device, L"CHECK_DEV_PCTX");
//       return frame.Call(L"GetDeviceInfo", [&] { return ...; });
//   }
#include <windows.h>

#include <cstdint>
#include <optional>

#include "SKFApi.h"
#include "SKFHandles.h"
#include "SarFromResult.h"
#include "TraceHelper.h"

class CDeviceContext;

// How long an export waits for the device mutex: 60 s. Test builds read
// KEYLINQ_TEST_MUTEX_TIMEOUT_MS, so that a test of a held key need not
// wait a minute.
DWORD ExportMutexTimeout();

class CExportFrame {
public:
    // withScope false: no entry and exit traces (the device-event exports).
    explicit CExportFrame(const wchar_t* name, bool withScope = true);
    ~CExportFrame();
    CExportFrame(const CExportFrame&) = delete;
    CExportFrame& operator=(const CExportFrame&) = delete;

    const wchar_t* Name() const { return m_name; }
    CDeviceContext* Context() const { return m_context; }

    // An argument or handle failure: traced, mapped, returned.
    ULONG Refuse(uint32_t code, const wchar_t* step, const wchar_t* reason, int line);
    // The handle check: null, or not live with that kind, is refused with
    // SAR_INVALIDHANDLEERR. On success the handle's context is kept and the
    // call counts on the handle until the frame ends (a close meanwhile
    // destroys the object only then).
    bool CheckHandle(const void* handle, SKFHandleKind kind, const wchar_t* step, const wchar_t* nullReason,
                     int line);
    // Waits for the context's device mutex; false (result kept) on failure.
    bool WaitMutex();
    void ReleaseMutex();
    // Steps 7 to 9 for the code of the operation `step`.
    ULONG Finish(uint32_t code, const wchar_t* step, int line);
    ULONG Result() const { return m_result; }

    // Mutex, one call, release, mapping. Nothing may leave an export as an
    // exception: an allocation that fails inside the object (the standard
    // containers throw) ends the call as an out-of-memory result, and the
    // mutex is released either way.
    template <class Operation>
    ULONG Call(const wchar_t* step, Operation operation, int line = 0) {
        if (!WaitMutex()) return m_result;
        uint32_t code;
        try {
            code = operation();
        } catch (...) {
            code = 0x8007000Eu;  // E_OUTOFMEMORY
        }
        ReleaseMutex();
        return Finish(code, step, line);
    }

private:
    const wchar_t* m_name;
    std::optional<TraceHelper> m_scope;  // entry trace now, exit trace at the end
    CDeviceContext* m_context;
    ULONG m_result;
    uint64_t m_ticket;  // the running call counted on the checked handle, 0 for none
};

#define SKF_STR_(text) L"" #text
// A required pointer: null ends the export with SAR_INVALIDPARAMERR.
#define SKF_REQUIRE(ptr) \
    if (!(ptr)) return frame.Refuse(SAR_INVALIDPARAMERR, L"CHECK " SKF_STR_(ptr), L"!" SKF_STR_(ptr), __LINE__)
// Any other check before the handle: `cond` true ends the export with code.
#define SKF_REFUSE_IF(cond, step, code) \
    if (cond) return frame.Refuse(code, step, SKF_STR_(cond), __LINE__)
#define SKF_REQUIRE_HANDLE(handle, kind, step)                                                     \
    if (!frame.CheckHandle(handle, SKFHandleKind::kind, step, SKF_STR_(handle) L" == NULL", __LINE__)) \
    return frame.Result()
