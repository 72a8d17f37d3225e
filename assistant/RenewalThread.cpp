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
