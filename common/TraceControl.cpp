// The trace provider: registration, the control callback and the writer
// that hands messages to TraceMessage. The deliverable's flag bits come
// from the build (TRACE_FOR_KEYLINQ selects Keylinq's, one bit higher).
#include <cwchar>

#include "TraceHelper.h"

const GUID TRACE_CONTROL_GUID = {0x5C8F2A58, 0x369A, 0x44F0, {0x92, 0x35, 0xC0, 0x5E, 0xCB, 0x1D, 0xD7, 0x3E}};

namespace {

// Identifies our messages in the provider's catalogue (message numbers are
// the TraceMessageKind values).
const GUID kMessageGuid = {0x3B0E6C21, 0x7A4D, 0x4F18, {0x9C, 0x55, 0x1E, 0x2D, 0x84, 0x6A, 0x0F, 0x93}};
constexpr ULONG kMessageFlags = 0x2B;  // sequence, GUID, time stamp, system information

#ifdef TRACE_FOR_KEYLINQ
constexpr TraceFlags kFlags = {0x02, 0x04, 0x08, 0x10};
#else
constexpr TraceFlags kFlags = {0x00, 0x02, 0x04, 0x08};
#endif

// Control state: written by the control callback, read without a lock.
volatile LONG g_registered = 0;
volatile ULONG64 g_logger = 0;
volatile ULONG g_enableFlags = 0;
volatile UCHAR g_enableLevel = 0;
TRACEHANDLE g_registration = 0;

using TraceMessageFn = ULONG(__cdecl*)(TRACEHANDLE, ULONG, LPCGUID, USHORT, ...);

void PlatformWriter(ULONG64 logger, const TraceMessageArgs& m) {
    static TraceMessageFn traceMessage = reinterpret_cast<TraceMessageFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "TraceMessage")));
    if (!traceMessage) return;
    const USHORT number = static_cast<USHORT>(m.kind);
    auto bytes = [](const wchar_t* s) { return static_cast<SIZE_T>((wcslen(s) + 1) * sizeof(wchar_t)); };
    switch (m.kind) {
    case TraceMessageKind::Entry:
    case TraceMessageKind::Exit:
        traceMessage(logger, kMessageFlags, &kMessageGuid, number, m.text, bytes(m.text), nullptr);
        break;
    case TraceMessageKind::ValueString:
        traceMessage(logger, kMessageFlags, &kMessageGuid, number, m.text, bytes(m.text), m.text2,
                     bytes(m.text2), nullptr);
        break;
    default:
        traceMessage(logger, kMessageFlags, &kMessageGuid, number, m.text, bytes(m.text), &m.code,
                     static_cast<SIZE_T>(sizeof(ULONG)), nullptr);
        break;
    }
}

TraceWriterFn g_writer = PlatformWriter;

const TraceControlApi kPlatformControlApi = {GetTraceLoggerHandle, GetTraceEnableFlags, GetTraceEnableLevel};
const TraceControlApi* g_controlApi = &kPlatformControlApi;

// A null wide string is written "NULL", an empty one "<NULL>".
const wchar_t* Printable(const wchar_t* s) {
    if (!s) return L"NULL";
    if (!*s) return L"<NULL>";
    return s;
}

}  // namespace

const TraceFlags& GetTraceFlags() { return kFlags; }

bool TraceIsEnabled(ULONG flag) { return g_registered && (g_enableFlags & flag) != 0; }

void WriteTraceMessage(ULONG flag, const TraceMessageArgs& message) {
    const DWORD lastError = GetLastError();
    if (TraceIsEnabled(flag)) {
        TraceMessageArgs m = message;
        m.text = Printable(m.text);
        if (m.kind == TraceMessageKind::ValueString) m.text2 = Printable(m.text2);
        g_writer(g_logger, m);
    }
    SetLastError(lastError);
}

ULONG WINAPI TraceControlCallback(WMIDPREQUESTCODE requestCode, PVOID, ULONG*, PVOID buffer) {
    switch (requestCode) {
    case WMI_ENABLE_EVENTS: {
        const TRACEHANDLE logger = g_controlApi->getLoggerHandle(buffer);
        g_enableLevel = g_controlApi->getEnableLevel(logger);
        g_enableFlags = g_controlApi->getEnableFlags(logger);
        g_logger = logger;
        return ERROR_SUCCESS;
    }
    case WMI_DISABLE_EVENTS:
        g_logger = 0;
        g_enableLevel = 0;
        g_enableFlags = 0;
        return ERROR_SUCCESS;
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

bool TraceRegister() {
    const DWORD lastError = GetLastError();
    if (g_registered) return true;
    TRACE_GUID_REGISTRATION guidReg = {&kMessageGuid, nullptr};
    TRACEHANDLE handle = 0;
    const ULONG status = RegisterTraceGuidsW(TraceControlCallback, nullptr, &TRACE_CONTROL_GUID, 1, &guidReg,
                                             nullptr, nullptr, &handle);
    if (status == ERROR_SUCCESS) {
        g_registration = handle;
        g_registered = 1;
    }
    SetLastError(lastError);
    return status == ERROR_SUCCESS;
}

void TraceUnregister() {
    const DWORD lastError = GetLastError();
    if (g_registered) {
        g_registered = 0;
        if (g_registration) UnregisterTraceGuids(g_registration);
        g_registration = 0;
        g_logger = 0;
        g_enableFlags = 0;
        g_enableLevel = 0;
    }
    SetLastError(lastError);
}

TraceWriterFn SetTraceWriter(TraceWriterFn writer) {
    TraceWriterFn old = g_writer;
    g_writer = writer ? writer : PlatformWriter;
    return old;
}

void SetTraceControlApi(const TraceControlApi* api) { g_controlApi = api ? api : &kPlatformControlApi; }

void SetTraceControlState(bool registered, ULONG64 logger, ULONG flags) {
    g_registered = registered ? 1 : 0;
    g_logger = logger;
    g_enableFlags = flags;
}

ULONG64 GetTraceLoggerHandleState() { return g_logger; }
