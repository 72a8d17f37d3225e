// Trace lines and the scope object. Formatting is our own bounded copy so a
// line can never overrun its buffer, whatever the lengths of its pieces.
#include "TraceHelper.h"

#include <cwchar>

namespace {

// Appends to a fixed buffer, cutting what does not fit and always
// leaving it terminated.
class LineWriter {
public:
    explicit LineWriter(wchar_t (&buffer)[TRACE_LINE_CHARS]) : m_buf(buffer) {
        ZeroMemory(m_buf, sizeof(m_buf));
    }
    LineWriter& operator<<(const wchar_t* text) {
        if (!text) text = L"NULL";
        while (*text && m_len < TRACE_LINE_CHARS - 1) m_buf[m_len++] = *text++;
        return *this;
    }
    LineWriter& operator<<(int number) {
        wchar_t digits[16];
        swprintf(digits, 16, L"%d", number);
        return *this << static_cast<const wchar_t*>(digits);
    }

private:
    wchar_t (&m_buf)[TRACE_LINE_CHARS];
    int m_len = 0;
};

}  // namespace

void FormatStepLine(wchar_t (&buffer)[TRACE_LINE_CHARS], const wchar_t* function, const wchar_t* step) {
    LineWriter(buffer) << function << L" - " << step;
}

void FormatFailureLine(wchar_t (&buffer)[TRACE_LINE_CHARS], const wchar_t* module, int line,
                       const wchar_t* function, const wchar_t* step, const wchar_t* reason) {
    LineWriter(buffer) << L"[" << module << L"(" << line << L"):] " << function << L" - " << step
                       << L" [Reason:" << reason << L"]";
}

TraceHelper::TraceHelper(const wchar_t* functionName) : m_pwszFunctionName(functionName) {
    WriteTraceMessage(GetTraceFlags().entryExit, {TraceMessageKind::Entry, m_pwszFunctionName, nullptr, 0});
}

TraceHelper::~TraceHelper() {
    WriteTraceMessage(GetTraceFlags().entryExit, {TraceMessageKind::Exit, m_pwszFunctionName, nullptr, 0});
}

void TraceStepLine(const wchar_t* function, const wchar_t* step) {
    wchar_t line[TRACE_LINE_CHARS];
    FormatStepLine(line, function, step);
    WriteTraceMessage(GetTraceFlags().step, {TraceMessageKind::StepOrFailure, line, nullptr, 0});
}

void TraceFailureLine(const wchar_t* module, int lineNumber, const wchar_t* function,
                      const wchar_t* step, const wchar_t* reason, HRESULT code) {
    wchar_t line[TRACE_LINE_CHARS];
    FormatFailureLine(line, module, lineNumber, function, step, reason);
    LogFailure(code, line);
}

void TraceDiagnosticLine(const wchar_t* module, int lineNumber, const wchar_t* function, const wchar_t* step,
                         const wchar_t* reason) {
    if (!TraceIsEnabled(TRACE_FLAG_DIAGNOSTIC)) return;
    wchar_t line[TRACE_LINE_CHARS];
    FormatFailureLine(line, module, lineNumber, function, step, reason);
    WriteTraceMessage(TRACE_FLAG_DIAGNOSTIC, {TraceMessageKind::StepOrFailure, line, nullptr, 0});
}

void LogFailure(HRESULT code, const wchar_t* line) {
    // The sign of the code alone picks the flag.
    if (code < 0)
        WriteTraceMessage(GetTraceFlags().negativeFailure,
                          {TraceMessageKind::Failure, line, nullptr, static_cast<ULONG>(code)});
    else
        WriteTraceMessage(GetTraceFlags().step,
                          {TraceMessageKind::StepOrFailure, line, nullptr, static_cast<ULONG>(code)});
}

void TraceValue(const wchar_t* text, DWORD value) {
    WriteTraceMessage(GetTraceFlags().step, {TraceMessageKind::ValueNumber, text, nullptr, value});
}

void TraceValueString(const wchar_t* text, const wchar_t* value) {
    WriteTraceMessage(GetTraceFlags().step, {TraceMessageKind::ValueString, text, value, 0});
}

HRESULT HResultFromError(LONG value) {
    if (value <= 0) return value;
    const ULONG low = static_cast<ULONG>(value) & 0xFFFF;
#ifdef TRACE_FOR_KEYLINQ
    // Keylinq: a GM/T 0016 result code (0x0A00xxxx: bits 0x08000000 and
    // 0x02000000) passes as it is; every other positive value is 0x8007xxxx.
    if ((static_cast<ULONG>(value) & 0x0A000000) == 0x0A000000) return value;
#else
    if (static_cast<ULONG>(value) & 0x20000000) return static_cast<HRESULT>(low | 0xA0070000);
#endif
    return static_cast<HRESULT>(low | 0x80070000);
}

HRESULT HResultFromLastError() {
    const DWORD error = GetLastError();
    if (error == 0) return E_FAIL;
    return HResultFromError(static_cast<LONG>(error));
}
