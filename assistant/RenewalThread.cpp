#include "RenewalThread.h"

// ---- the renewal ------------------------------------------------------------

HRESULT RunRenewal(const RenewalRequest& request, IRenewalStatusSink& sink, bool* pbRescan) {
    (void)request;
    (void)sink;
    if (pbRescan) *pbRescan = false;
    return E_NOTIMPL;
}

// ---- the application's report queue ----------------------------------------

CRenewalReportQueue::CRenewalReportQueue() : m_hwnd(nullptr), m_message(0) {
    InitializeCriticalSection(&m_lock);
}

CRenewalReportQueue::~CRenewalReportQueue() {
    DeleteCriticalSection(&m_lock);
}

void CRenewalReportQueue::SetTarget(HWND hwnd, UINT message) {
    EnterCriticalSection(&m_lock);
    m_hwnd = hwnd;
    m_message = message;
    LeaveCriticalSection(&m_lock);
}

void CRenewalReportQueue::Report(const RenewalReport& report) {
    EnterCriticalSection(&m_lock);
    m_reports.push_back(report);
    HWND hwnd = m_hwnd;
    UINT message = m_message;
    LeaveCriticalSection(&m_lock);
    if (hwnd) PostMessageW(hwnd, message, 0, 0);
}

std::vector<RenewalReport> CRenewalReportQueue::TakeAll() {
    EnterCriticalSection(&m_lock);
    std::vector<RenewalReport> reports;
    reports.swap(m_reports);
    LeaveCriticalSection(&m_lock);
    return reports;
}

// ---- the renewal thread -----------------------------------------------------

#include <objbase.h>

#include "Journal.h"
#include "PageHome.h"

namespace {

// Passes each report on to the page's queue and keeps the last status.
class CFinalStatusSink : public IRenewalStatusSink {
public:
    explicit CFinalStatusSink(IRenewalStatusSink& target) : m_target(target) {}
    void Report(const RenewalReport& report) override {
        m_lastStatus = report.status;
        m_target.Report(report);
    }
    int LastStatus() const { return m_lastStatus; }

private:
    IRenewalStatusSink& m_target;
    int m_lastStatus = HOME_STATUS_NONE;
};

}  // namespace

DWORD WINAPI CPageHome::OperationThread(LPVOID lpParam) {
    CPageHome* page = static_cast<CPageHome*>(lpParam);
    if (!page || !page->m_context || !page->m_context->pEvents) return 0;
    AppEventSet& events = *page->m_context->pEvents;
    // The key layer's PIN dialogs and MSXML run on this thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    while (WaitForSingleObject(events.hQuit, 0) == WAIT_TIMEOUT) {
        HANDLE waits[2] = {events.hQuit, events.hRenew};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) continue;
        JournalWrite(L"renewal-start", L"");
        CFinalStatusSink sink(page->m_reportQueue);
        bool rescan = false;
        RunRenewal(page->m_renewalRequest, sink, &rescan);
        JournalWrite(L"renewal-end",
                     L"status=" + std::to_wstring(sink.LastStatus()) + L" rescan=" + (rescan ? L"1" : L"0"));
        if (rescan) SetEvent(events.hRescan);
        ResetEvent(events.hRenew);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}
