#pragma once
// Step tracing of the host cryptography (internal): a completed step is
// traced as a step line, a failed one as a failure line with its reason,
// setting hr and leaving through the function's "exit" label. A step line
// is formatted only when a session listens: digests and ciphers are fed
// in small pieces, and formatting costs more than hashing 64 bytes.
#include "TraceHelper.h"

#define SOFT_TRACE_STEP(stepText)                                       \
    do {                                                                \
        if (TraceIsEnabled(GetTraceFlags().step)) TRACE_STEP(stepText); \
    } while (0)

#define SOFT_STEP(failed, step, reason, code)                                                 \
    do {                                                                                      \
        if (failed) {                                                                         \
            hr = (code);                                                                      \
            TraceFailureLine(TRACE_MODULE, __LINE__, traceFunc_, step, reason, static_cast<HRESULT>(hr)); \
            goto exit;                                                                        \
        }                                                                                     \
        SOFT_TRACE_STEP(step);                                                                \
    } while (0)
// A check whose reason is its own condition text.
#define SOFT_CHECK(cond, step, code) SOFT_STEP(cond, step, L"" #cond, code)
