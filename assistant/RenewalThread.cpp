#include "RenewalThread.h"

#include <list>

#include "AppConfig.h"
#include "AppHelpers.h"
#include "RenewalMessages.h"
#include "SKFCryptoAPI.h"

// ---- the renewal ------------------------------------------------------------

namespace {

// The key layer's answer for an application that holds no file at all: no
// seal, as a list of none would say.
constexpr HRESULT KEY_HAS_NO_FILES = HRESULT(0x8007002F);

// What one renewal holds until it ends, released on every path.
struct RenewalResources {
    wchar_t* keyLibraryPath = nullptr;
    HSKFCRYPTPROV context = 0;
    std::vector<SealData> seals;
    std::list<CertImportEntry> importList;
    BYTE* newSeal = nullptr;
    DWORD newSealSize = 0;

    ~RenewalResources() {
        delete[] keyLibraryPath;
        delete[] newSeal;
        importList.clear();
        ClearSealDataList(seals);
        if (context) SKFCryptReleaseContext(context);
    }
};

}  // namespace

HRESULT RunRenewal(const RenewalRequest& request, IRenewalStatusSink& sink, bool* pbRescan) {
    if (pbRescan) *pbRescan = false;
    const SKFUserKeyInfo& key = request.key;
    std::wstring serverMessage;

    // Reports the final status. A failure whose status carries no code of
    // its own still returns one, so a caller never reads it as success.
    auto finish = [&](int status, HRESULT code, bool rescan) -> HRESULT {
        sink.Report(RenewalReport{status, code, serverMessage});
        if (pbRescan) *pbRescan = rescan;
        if (status == HOME_STATUS_RENEWED) return S_OK;
        return code != S_OK ? code : E_FAIL;
    };

    // Only SM2 certificates are renewed; the session is signed with the
    // key's last signature certificate.
    SKFUserCertInfo signCert;
    for (const SKFUserCertInfo& cert : key.vetCertInfo) {
        if (cert.dwSMCert == 0) return finish(HOME_STATUS_CERT_TYPE, S_OK, false);
        if (cert.dwSignCert != 0) signCert = cert;
    }

    RenewalResources res;
    HRESULT hr = GetKeyLibraryPath(&res.keyLibraryPath);
    if (FAILED(hr) || !res.keyLibraryPath) return finish(HOME_STATUS_SEAL_READ_FAILED, FAILED(hr) ? hr : E_FAIL, false);

    hr = SKFCryptAcquireContext(key.wstrDeviceName.c_str(), nullptr, &res.context, nullptr, 0, res.keyLibraryPath);
    if (hr != S_OK) return finish(HOME_STATUS_LIBRARY_MISSING, hr, false);

    hr = SKFCryptGetDeviceSeals(key.wstrDeviceName.c_str(), res.context, res.seals);
    if (hr == KEY_HAS_NO_FILES) {
        ClearSealDataList(res.seals);
        hr = S_OK;
    }
    if (hr != S_OK) return finish(HOME_STATUS_SEAL_READ_FAILED, hr, false);
    if (res.seals.size() != 1) return finish(HOME_STATUS_SEAL_NOT_UNIQUE, S_OK, false);

    sink.Report(RenewalReport{HOME_STATUS_RENEWING, S_OK, std::wstring()});

    // The request is already the page's snapshot: no further copy is needed.
    hr = SubmitUserCertRenewRequest(key, res.importList, serverMessage, signCert, res.seals[0].pbySealData,
                                    res.seals[0].dwSealDataSize, &res.newSeal, &res.newSealSize, res.context);
    if (hr != S_OK) return finish(HOME_STATUS_SUBMIT_FAILED, hr, true);
    if (res.importList.empty()) return finish(HOME_STATUS_SUBMIT_FAILED, S_OK, true);

    serverMessage.clear();
    sink.Report(RenewalReport{HOME_STATUS_IMPORTING, S_OK, std::wstring()});

    hr = ImportAllCertificates(key.wstrDeviceName.c_str(), res.context, res.importList);
    if (hr != S_OK) return finish(HOME_STATUS_IMPORT_FAILED, hr, true);

    // The certificates are in; a seal that cannot be written leaves the
    // key list as it is until the next scan.
    const SealData newSeal{res.newSeal, res.newSealSize};
    hr = WriteSeadDataToUkey(key.wstrDeviceName.c_str(), res.context, newSeal);
    if (hr != S_OK) return finish(HOME_STATUS_SEAL_WRITE_FAILED, hr, false);
    return finish(HOME_STATUS_RENEWED, S_OK, true);
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
