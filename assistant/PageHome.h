#pragma once
// The main window's content, the virtual window "pagehome": the plugged keys
// and their certificates, the selected certificate's details and state, the
// actions (reload, view, renew, three registration pages) and the result
// line. It owns the renewal thread.
#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "AppContext.h"
#include "AppMessages.h"
#include "NotifyPump.h"
#include "RenewalThread.h"

namespace Veneer {
class CComboUI;
class CControlUI;
class CPaintManagerUI;
}  // namespace Veneer

class CPageHome : public Veneer::CNotifyPump {
public:
    CPageHome(AppContext* context, Veneer::CPaintManagerUI* manager);
    ~CPageHome() override;

    virtual void OnClick(Veneer::NotifyEvent& event);
    virtual void OnItemSelect(Veneer::NotifyEvent& event);

    // Finds the page's controls (after the layout is attached) and sets the
    // start state: only reload enabled, the busy animation hidden.
    void InitVirtualWnd();
    // A scan finished: copies its result and fills the key combo again.
    void ShowVirtualWnd();
    // Sets the status, the result line's colour and text, the buttons and the
    // busy animation. UI thread only.
    void ReportErrorInfo(int status, HRESULT code);
    // The renewal thread's queued reports, applied in order (UI thread).
    void ApplyRenewalReports();
    std::wstring GetErrorMessage();
    const wchar_t* QueryControlText(const wchar_t* textId, const wchar_t* controlName);
    void UpdateCertInfo();
    static std::wstring GetCertificateDate(const FILETIME& time);

    // The renewal thread: one renewal per renew request until quit.
    static DWORD WINAPI OperationThread(LPVOID lpParam);

    int GetStatus() const { return m_status; }

private:
    enum ButtonSet { BUTTONS_UNCHANGED, BUTTONS_ALL, BUTTONS_RELOAD_ONLY };
    enum { BUTTON_COUNT = 6 };
    void EnableButtons(ButtonSet set);
    void SetButton(Veneer::CControlUI* button, bool enable);
    // Reload, view, renew and the three links, in that order.
    std::array<Veneer::CControlUI*, BUTTON_COUNT> Buttons() const {
        return {m_reloadBtn, m_viewBtn, m_renewBtn, m_resetPwdBtn, m_reapplyBtn, m_resetIdBtn};
    }
    // View, renew and the three links (reload stays as it is).
    void DisableFiveButtons();
    void EnableCombos(bool enable);
    void FillCertCombo();
    void AddComboRows(Veneer::CComboUI* combo, const std::vector<std::wstring>& texts, const std::wstring* selected);
    void JournalCombo(Veneer::CComboUI* combo, const wchar_t* name);
    void JournalStatus();
    void JournalLabels();
    void OpenRegistrationPage(const wchar_t* type);

    std::wstring m_textBuffer;
    AppContext* m_context;
    Veneer::CPaintManagerUI* m_manager;
    Veneer::CComboUI* m_keyCombo = nullptr;
    Veneer::CComboUI* m_certCombo = nullptr;
    Veneer::CControlUI* m_reloadBtn = nullptr;
    Veneer::CControlUI* m_viewBtn = nullptr;
    Veneer::CControlUI* m_renewBtn = nullptr;
    Veneer::CControlUI* m_resetPwdBtn = nullptr;
    Veneer::CControlUI* m_reapplyBtn = nullptr;
    Veneer::CControlUI* m_resetIdBtn = nullptr;
    Veneer::CControlUI* m_issuerLabel = nullptr;
    Veneer::CControlUI* m_serialLabel = nullptr;
    Veneer::CControlUI* m_validityLabel = nullptr;
    Veneer::CControlUI* m_typeLabel = nullptr;
    Veneer::CControlUI* m_stateLabel = nullptr;
    Veneer::CControlUI* m_resultLabel = nullptr;
    Veneer::CControlUI* m_statusGif = nullptr;
    SKFUserKeyInfo m_selectedKey;
    SKFUserCertInfo m_selectedCert;
    std::vector<SKFUserCSPInfo> m_scanCopy;
    int m_status = HOME_STATUS_NONE;
    HRESULT m_resultCode = S_OK;
    std::wstring m_serverMessage;
    HANDLE m_renewalThread = nullptr;
    int m_refilling = 0;  // combos being filled (their journal waits)
    // Written by a renew click before the renew event is set; read by the
    // renewal thread while the event stays set.
    RenewalRequest m_renewalRequest;
    CRenewalReportQueue m_reportQueue;
    // Set by a renew click, cleared by the renewal's final status.
    bool m_renewalRunning = false;
    bool m_renewalReporting = false;    // a renewal report is being applied
    bool m_scanDuringRenewal = false;   // a scan was applied while it ran
    bool m_heldEnabled[BUTTON_COUNT] = {};

    VENEER_DECLARE_NOTIFY_MAP()
};
