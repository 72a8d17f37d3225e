#pragma once
// Software tracing of both deliverables: one provider, five message kinds
// (entry, exit, failure with a negative code, step or other failure, value).
// Tracing never changes the outcome of the traced code: it writes nothing
// when no session listens, never fails, and keeps the thread's last error.
#include <windows.h>
#include <evntrace.h>

#include "ResultCodes.h"

// Scope object: entry line when a function starts, exit line when it ends.
class TraceHelper {
public:
    explicit TraceHelper(const wchar_t* functionName);
    virtual ~TraceHelper();
    TraceHelper(const TraceHelper&) = delete;
    TraceHelper& operator=(const TraceHelper&) = delete;

private:
    const wchar_t* m_pwszFunctionName;  // not owned; a literal in practice
};

// Step and failure lines are formatted into a buffer of this many wide
// characters (terminator included); a longer line is cut, never overrun.
constexpr int TRACE_LINE_CHARS = 512;

// "function - step", written under the step flag with code 0.
void TraceStepLine(const wchar_t* function, const wchar_t* step);
// "[module(line):] function - step [Reason:reason]", handed to LogFailure.
void TraceFailureLine(const wchar_t* module, int line, const wchar_t* function,
                      const wchar_t* step, const wchar_t* reason, HRESULT code);
// Writes a formatted line: negative codes under the failure flag, any
// other code under the step flag.
void LogFailure(HRESULT code, const wchar_t* line);
// Certaide's internal diagnostics (the DER decoder's failures, the request
// composer's notices) under their own flag, formatted as a failure line.
constexpr ULONG TRACE_FLAG_DIAGNOSTIC = 0x01;
void TraceDiagnosticLine(const wchar_t* module, int line, const wchar_t* function, const wchar_t* step,
                         const wchar_t* reason);
// Value traces (lengths, flags, paths) under the step flag.
void TraceValue(const wchar_t* text, DWORD value);
void TraceValueString(const wchar_t* text, const wchar_t* value);

// Formats the two line kinds into a TRACE_LINE_CHARS buffer; exposed for tests.
void FormatStepLine(wchar_t (&buffer)[TRACE_LINE_CHARS], const wchar_t* function, const wchar_t* step);
void FormatFailureLine(wchar_t (&buffer)[TRACE_LINE_CHARS], const wchar_t* module, int line,
                       const wchar_t* function, const wchar_t* step, const wchar_t* reason);

// ---- provider registration and control

// The one control GUID of the system {5C8F2A58-369A-44F0-9235-C05ECB1DD73E}.
extern const GUID TRACE_CONTROL_GUID;

// Flag bits of this build's deliverable.
struct TraceFlags {
    ULONG resultMapping;     // Keylinq's export-layer result mapping (0 in Certaide)
    ULONG negativeFailure;   // failure lines with a negative code
    ULONG step;              // step lines, other failures, value traces
    ULONG entryExit;         // TraceHelper entry and exit
};
const TraceFlags& GetTraceFlags();

bool TraceRegister();    // RegisterTraceGuidsW under the control GUID
void TraceUnregister();  // UnregisterTraceGuids; tracing becomes a no-op
bool TraceIsEnabled(ULONG flag);

// The control callback that the platform calls when a session enables or
// disables the provider; anything else is answered with 87.
ULONG WINAPI TraceControlCallback(WMIDPREQUESTCODE requestCode, PVOID context, ULONG* reserved, PVOID buffer);

// ---- seam: where messages go, and how the control state is read

enum class TraceMessageKind : USHORT {
    Entry = 10,
    Exit = 11,
    Failure = 12,       // negative code: line, code
    StepOrFailure = 13, // line, code (0 for a step)
    ValueNumber = 14,   // text, number
    ValueString = 15,   // text, string
};

// A message as handed to the writer; text2 is the value string of
// ValueString, code the code or number where the kind has one.
struct TraceMessageArgs {
    TraceMessageKind kind;
    const wchar_t* text;
    const wchar_t* text2;
    ULONG code;
};
using TraceWriterFn = void (*)(ULONG64 logger, const TraceMessageArgs& message);

// The platform calls behind the control callback; replaceable because some
// platforms (Wine) implement them as stubs.
struct TraceControlApi {
    TRACEHANDLE (WINAPI* getLoggerHandle)(PVOID buffer);
    ULONG (WINAPI* getEnableFlags)(TRACEHANDLE logger);
    UCHAR (WINAPI* getEnableLevel)(TRACEHANDLE logger);
};

// Installs a writer in place of TraceMessage (null restores it) and returns the old one.
TraceWriterFn SetTraceWriter(TraceWriterFn writer);
// Installs the platform calls used by the control callback (null restores them).
void SetTraceControlApi(const TraceControlApi* api);
// Sets the control state directly, as a session enabling the provider would.
void SetTraceControlState(bool registered, ULONG64 logger, ULONG flags);
ULONG64 GetTraceLoggerHandleState();

// Writes one message if the flag is enabled, keeping the thread's last error.
void WriteTraceMessage(ULONG flag, const TraceMessageArgs& message);

// ---- calling pattern helpers
// In a source unit:  #define TRACE_MODULE L"Misc"
// In a function:     TRACE_SCOPE(L"UTF16ToUTF8");   (or TRACE_NAME for no scope)
//                    TRACE_STEP(L"New buffer");
//                    TRACE_FAIL(L"step", L"reason", hr);
#define TRACE_NAME(name) static const wchar_t* const traceFunc_ = name
#define TRACE_SCOPE(name) \
    TRACE_NAME(name);     \
    TraceHelper traceScope_(traceFunc_)
#define TRACE_STEP(step) TraceStepLine(traceFunc_, step)
#define TRACE_FAIL(step, reason, code) TraceFailureLine(TRACE_MODULE, __LINE__, traceFunc_, step, reason, code)
// Sets hr, writes the failure line with the condition's own text as the
// reason, and jumps to the function's cleanup label "exit".
#define CHECK_GOTO(cond, step, code)                                        \
    do {                                                                    \
        if (cond) {                                                         \
            hr = (code);                                                    \
            TraceFailureLine(TRACE_MODULE, __LINE__, traceFunc_, step, L"" #cond, hr); \
            goto exit;                                                      \
        }                                                                   \
    } while (0)
// The same with an explicit reason text, for checks whose reason is not
// their own code.
#define FAIL_GOTO(step, reason, code)                                       \
    do {                                                                    \
        hr = (code);                                                        \
        TraceFailureLine(TRACE_MODULE, __LINE__, traceFunc_, step, reason, hr); \
        goto exit;                                                          \
    } while (0)
