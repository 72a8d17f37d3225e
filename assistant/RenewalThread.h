#pragma once
// One certificate renewal of a plugged key, run on the renewal thread: the
// seal check, the exchange with the renewal server, the import of the new
// certificates and the write of the new seal. It touches no window: each
// stage goes to a status sink, and the caller decides how the reports reach
// the home page (the application queues them and posts WM_RENEWAL_STATUS).
#include <windows.h>

#include <string>
#include <vector>

#include "AppMessages.h"
#include "CustomSKFInterface.h"

// What a renew click took from the page: the selected key with its
// certificates, copied, so the page may change its records meanwhile.
struct RenewalRequest {
    SKFUserKeyInfo key;
};

struct RenewalReport {
    int status;                 // a HomePageStatus
    HRESULT code;               // the result code that goes with it
    std::wstring serverMessage; // the server's "code - message" of a failed exchange, else empty
};

class IRenewalStatusSink {
public:
    virtual ~IRenewalStatusSink() = default;
    // Called on the renewal thread for each stage, in order: 42, 44 while
    // they run, then exactly one final status.
    virtual void Report(const RenewalReport& report) = 0;
};

// Runs one renewal. Returns the final report's result code (S_OK for 40;
// E_FAIL for a failure whose report carries no code, such as 101 or 102);
// *pbRescan (when given) says whether the key list should be scanned again
// afterwards (every end after the server was asked, except a failed seal
// write). The calling thread must have COM initialised (apartment).
HRESULT RunRenewal(const RenewalRequest& request, IRenewalStatusSink& sink, bool* pbRescan);

// The application's sink: reports are queued under a lock and the target
// window gets one posted message per report; the UI thread takes them in
// order with TakeAll.
class CRenewalReportQueue : public IRenewalStatusSink {
public:
    CRenewalReportQueue();
    ~CRenewalReportQueue() override;
    CRenewalReportQueue(const CRenewalReportQueue&) = delete;
    CRenewalReportQueue& operator=(const CRenewalReportQueue&) = delete;

    void SetTarget(HWND hwnd, UINT message);
    void Report(const RenewalReport& report) override;
    std::vector<RenewalReport> TakeAll();

private:
    CRITICAL_SECTION m_lock;
    HWND m_hwnd;
    UINT m_message;
    std::vector<RenewalReport> m_reports;
};
