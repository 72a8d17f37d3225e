// The export frame. Traces go under the source name "SKFInterface".
#include "ExportFrame.h"

#include "DeviceContext.h"

#define TRACE_MODULE L"SKFInterface"

DWORD ExportMutexTimeout() {
#ifdef KEYLINQ_TEST_BINDING
    wchar_t text[16];
    const DWORD n = GetEnvironmentVariableW(L"KEYLINQ_TEST_MUTEX_TIMEOUT_MS", text, 16);
    if (n > 0 && n < 16) return wcstoul(text, nullptr, 10);
#endif
    return DEVICE_MUTEX_TIMEOUT_MS;
}

CExportFrame::CExportFrame(const wchar_t* name, bool withScope)
    : m_name(name), m_context(nullptr), m_result(SAR_OK), m_ticket(0) {
    if (withScope) m_scope.emplace(name);
}

CExportFrame::~CExportFrame() {
    if (m_ticket) SKFHandles::End(m_ticket);
}

ULONG CExportFrame::Refuse(uint32_t code, const wchar_t* step, const wchar_t* reason, int line) {
    TraceFailureLine(TRACE_MODULE, line, m_name, step, reason, HRESULT(code));
    m_result = SarFromResult(code);
    return m_result;
}

bool CExportFrame::CheckHandle(const void* handle, SKFHandleKind kind, const wchar_t* step,
                               const wchar_t* nullReason, int line) {
    if (!handle) {
        Refuse(SAR_INVALIDHANDLEERR, step, nullReason, line);
        return false;
    }
    CDeviceContext* context = nullptr;
    uint64_t ticket = 0;
    if (!SKFHandles::Begin(handle, kind, &context, &ticket)) {
        Refuse(SAR_INVALIDHANDLEERR, step, L"!SKFHandles::Find(handle)", line);
        return false;
    }
    if (m_ticket) SKFHandles::End(m_ticket);
    m_ticket = ticket;
    if (!context) {
        Refuse(SAR_INVALIDHANDLEERR, step, L"!SKFHandles::Find(handle)", line);
        return false;
    }
    m_context = context;
    return true;
}

bool CExportFrame::WaitMutex() {
    const uint32_t code = m_context->WaitDevMutexFor(ExportMutexTimeout());
    if (code == 0) return true;
    TraceFailureLine(TRACE_MODULE, __LINE__, m_name, L"WaitDevMutex", L"SAR_OK != hResult", HRESULT(code));
    m_result = SarFromResult(FoldObjectResult(code));
    return false;
}

void CExportFrame::ReleaseMutex() { m_context->ReleaseDevMutex(); }

ULONG CExportFrame::Finish(uint32_t code, const wchar_t* step, int line) {
    code = FoldObjectResult(code);
    if (code == 0)
        TraceStepLine(m_name, step);
    else
        TraceFailureLine(TRACE_MODULE, line ? line : __LINE__, m_name, step, L"SAR_OK != hResult", HRESULT(code));
    m_result = SarFromResult(code);
    return m_result;
}
