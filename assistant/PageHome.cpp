#include "PageHome.h"

#include <cwchar>
#include <new>

#include "AppHelpers.h"
#include "Combo.h"
#include "Control.h"
#include "Journal.h"
#include "ListItems.h"
#include "PaintManager.h"
#include "ResourceCatalog.h"
#include "SkinText.h"
#include "TraceHelper.h"
#include "UnregCertificate.h"
#include "UsualInterface.h"

#define TRACE_MODULE L"PageHome"

#ifndef CERTAIDE_REGISTRATION_HOST
#define CERTAIDE_REGISTRATION_HOST L"reg.sorvel.cn"
#endif

using Veneer::CComboUI;
using Veneer::CControlUI;
using Veneer::CListLabelElementUI;
using Veneer::GetResourceCatalog;
using Veneer::NotifyEvent;

namespace {

constexpr DWORD COLOUR_GREY = 0xFF444444;
constexpr DWORD COLOUR_GREEN = 0xFF22BA34;
constexpr DWORD COLOUR_ORANGE = 0xFFFDA418;
constexpr DWORD COLOUR_RED = 0xFFFE3B00;
constexpr size_t RESULT_TEXT_CHARS = 511;

bool SameText(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }
bool SameText(const wchar_t* a, const wchar_t* b) { return a && b && _wcsicmp(a, b) == 0; }

void SetTextColour(CControlUI* control, DWORD colour) {
    if (!control) return;
    wchar_t value[16];
    swprintf(value, 16, L"#%08X", unsigned(colour));
    control->SetAttribute(L"textcolor", value);
    control->Invalidate();
}

void Enable(CControlUI* control, bool enable) {
    if (control) control->SetEnabled(enable);
}

std::wstring CatalogText(const wchar_t* id) {
    Veneer::CUIString text = GetResourceCatalog().GetText(id);
    return text.GetData() ? std::wstring(text.GetData()) : std::wstring();
}

std::wstring ControlText(CControlUI* control) {
    if (!control) return std::wstring();
    Veneer::CUIString text = control->GetText();
    return text.GetData() ? std::wstring(text.GetData()) : std::wstring();
}

}  // namespace

VENEER_BEGIN_NOTIFY_MAP(CPageHome, Veneer::CNotifyPump)
VENEER_ON_NOTIFY(L"click", &CPageHome::OnClick)
VENEER_ON_NOTIFY(L"itemselect", &CPageHome::OnItemSelect)
VENEER_END_NOTIFY_MAP()

CPageHome::CPageHome(AppContext* context, Veneer::CPaintManagerUI* manager)
    : m_context(context), m_manager(manager) {
    TRACE_SCOPE(L"CPageHome::CPageHome");
    m_renewalThread = CreateThread(nullptr, 0, &CPageHome::OperationThread, this, 0, nullptr);
    if (!m_renewalThread) TRACE_FAIL(L"CreateThread", L"m_hOperationThread == NULL", HRESULT_FROM_WIN32(GetLastError()));
}

CPageHome::~CPageHome() {
    TRACE_SCOPE(L"CPageHome::~CPageHome");
    if (m_renewalThread) {
        WaitForSingleObject(m_renewalThread, INFINITE);
        CloseHandle(m_renewalThread);
        m_renewalThread = nullptr;
    }
    m_selectedKey.Clear();
    m_selectedCert.Clear();
    m_scanCopy.clear();
}

void CPageHome::InitVirtualWnd() {
    TRACE_SCOPE(L"CPageHome::InitVirtualWnd");
    if (!m_manager) return;
    auto find = [this](const wchar_t* name) { return m_manager->FindControlByName(name); };
    m_keyCombo = static_cast<CComboUI*>(find(L"cert_ukeysn_combo"));
    m_certCombo = static_cast<CComboUI*>(find(L"cert_certdnsn_combo"));
    m_reloadBtn = find(L"cert_reloadukey_btn");
    m_viewBtn = find(L"cert_viewcert_btn");
    m_renewBtn = find(L"home_renewcert_btn");
    m_resetPwdBtn = find(L"home_resetpwd_btn");
    m_reapplyBtn = find(L"home_reapply_btn");
    m_resetIdBtn = find(L"home_resetid_btn");
    m_issuerLabel = find(L"cert_issuer_label");
    m_serialLabel = find(L"cert_serialnum_label");
    m_validityLabel = find(L"cert_validity_label");
    m_typeLabel = find(L"cert_certtype_label");
    m_stateLabel = find(L"cert_certstate_label");
    m_resultLabel = find(L"ukey_result_label");
    m_statusGif = find(L"cert_status_gif");
    // Only controls that really are combos are used as combos.
    if (m_keyCombo && !m_keyCombo->FindInterface(L"Combo")) m_keyCombo = nullptr;
    if (m_certCombo && !m_certCombo->FindInterface(L"Combo")) m_certCombo = nullptr;
    DisableFiveButtons();
    if (m_statusGif) m_statusGif->SetVisible(false);
    m_reportQueue.SetTarget(m_manager->GetPaintWindow(), WM_RENEWAL_STATUS);
}

void CPageHome::DisableFiveButtons() {
    SetButton(m_viewBtn, false);
    SetButton(m_renewBtn, false);
    SetButton(m_resetPwdBtn, false);
    SetButton(m_reapplyBtn, false);
    SetButton(m_resetIdBtn, false);
}

void CPageHome::EnableButtons(ButtonSet set) {
    if (set == BUTTONS_UNCHANGED) return;
    const bool all = set == BUTTONS_ALL;
    SetButton(m_reloadBtn, true);
    SetButton(m_viewBtn, all);
    SetButton(m_renewBtn, all);
    SetButton(m_resetPwdBtn, all);
    SetButton(m_reapplyBtn, all);
    SetButton(m_resetIdBtn, all);
}

// While a renewal runs the six buttons belong to it: what the page would set
// is kept aside and laid over the renewal's final state.
void CPageHome::SetButton(CControlUI* button, bool enable) {
    if (!button) return;
    if (!m_renewalRunning) {
        button->SetEnabled(enable);
        return;
    }
    const auto buttons = Buttons();
    for (int i = 0; i < BUTTON_COUNT; ++i)
        if (buttons[i] == button) m_heldEnabled[i] = enable;
}

void CPageHome::EnableCombos(bool enable) {
    if (m_renewalRunning) return;  // locked until the renewal's final status
    Enable(m_keyCombo, enable);
    Enable(m_certCombo, enable);
}

void CPageHome::ShowVirtualWnd() {
    TRACE_SCOPE(L"CPageHome::ShowVirtualWnd");
    m_scanCopy.clear();
    HRESULT scanResult = S_OK;
    if (m_context && m_context->pCache) m_context->pCache->CopyOut(m_scanCopy, &scanResult);
    // A scan that failed (not one that found no key) shows no keys.
    if (scanResult != S_OK) m_scanCopy.clear();
    size_t keyCount = 0;
    for (const SKFUserCSPInfo& csp : m_scanCopy) keyCount += csp.vetKeyInfo.size();
    JournalWrite(L"scan-applied", L"keys=" + std::to_wstring(keyCount));
    if (m_renewalRunning) m_scanDuringRenewal = true;

    SetButton(m_reloadBtn, true);
    ++m_refilling;
    if (m_keyCombo) m_keyCombo->RemoveAllItems();
    if (m_certCombo) m_certCombo->RemoveAllItems();
    if (m_keyCombo) {
        // The page's copy may not change while items select: the key list is
        // walked over a copy of the serial numbers.
        std::vector<std::wstring> serials;
        for (const SKFUserCSPInfo& csp : m_scanCopy)
            for (const SKFUserKeyInfo& key : csp.vetKeyInfo) serials.push_back(key.wstrSerialNumber);
        const std::wstring selectedSerial = m_selectedKey.wstrSerialNumber;
        AddComboRows(m_keyCombo, serials, selectedSerial.empty() ? nullptr : &selectedSerial);
    }
    if (!m_keyCombo || m_keyCombo->GetItemCount() == 0) {
        m_selectedKey.Clear();
        m_selectedCert.Clear();
        DisableFiveButtons();
        UpdateCertInfo();
        if (scanResult != S_OK)
            ReportErrorInfo(HOME_STATUS_LIBRARY_MISSING, scanResult);
        else
            ReportErrorInfo(HOME_STATUS_NONE, S_OK);
    }
    --m_refilling;
    JournalCombo(m_keyCombo, L"cert_ukeysn_combo");
    JournalCombo(m_certCombo, L"cert_certdnsn_combo");
}

// One 24-pixel row per text. The first row equal to the selected text (when
// there is one) is selected, else the first row; each selection sends
// "itemselect", which may change the page's records, so the texts are the
// caller's own copy.
void CPageHome::AddComboRows(CComboUI* combo, const std::vector<std::wstring>& texts, const std::wstring* selected) {
    for (const std::wstring& text : texts) {
        CListLabelElementUI* item = static_cast<CListLabelElementUI*>(CListLabelElementUI::CreateListLabelElementUI());
        if (!item) continue;
        item->SetText(text.c_str());
        item->SetFixedHeight(24);
        if (!combo->AddItem(item)) {
            delete item;
            continue;
        }
        if (selected && SameText(text, *selected) && combo->GetSelectedIndex() < 0)
            combo->SelectIndex(combo->GetItemCount() - 1, false);
    }
    if (combo->GetItemCount() > 0 && combo->GetSelectedIndex() < 0) combo->SelectIndex(0, false);
}

void CPageHome::FillCertCombo() {
    if (!m_certCombo) return;
    ++m_refilling;
    m_certCombo->RemoveAllItems();
    // The records are read from a copy: a selection below replaces the
    // selected certificate.
    std::vector<std::wstring> texts;
    for (const SKFUserCertInfo& cert : m_selectedKey.vetCertInfo) texts.push_back(cert.wstrDisplayName);
    const std::wstring selectedDisplay = m_selectedCert.wstrDisplayName;
    AddComboRows(m_certCombo, texts, &selectedDisplay);
    --m_refilling;
}

void CPageHome::OnItemSelect(NotifyEvent& event) {
    TRACE_SCOPE(L"CPageHome::OnItemSelect");
    if (!event.sender) return;
    const Veneer::CUIString name = event.sender->GetName();
    if (name.CompareNoCase(L"cert_ukeysn_combo") == 0 && m_keyCombo) {
        const std::wstring previousSerial = m_selectedKey.wstrSerialNumber;
        m_selectedKey.Clear();
        const std::wstring text = ControlText(m_keyCombo);
        bool found = false;
        for (const SKFUserCSPInfo& csp : m_scanCopy) {
            for (const SKFUserKeyInfo& key : csp.vetKeyInfo) {
                if (SameText(key.wstrSerialNumber, text)) {
                    m_selectedKey = key;
                    found = true;
                    break;
                }
            }
            if (found) break;
        }
        if (!(found && m_selectedKey.dwPINNotLocked != 0 && SameText(m_selectedKey.wstrSerialNumber, previousSerial) &&
              m_status != HOME_STATUS_PIN_LOCKED))
            DisableFiveButtons();
        FillCertCombo();
        if (!m_certCombo || m_certCombo->GetItemCount() == 0) {
            m_selectedCert.Clear();
            DisableFiveButtons();
            UpdateCertInfo();
            ReportErrorInfo(HOME_STATUS_NONE, S_OK);
        }
        JournalCombo(m_keyCombo, L"cert_ukeysn_combo");
        JournalCombo(m_certCombo, L"cert_certdnsn_combo");
    } else if (name.CompareNoCase(L"cert_certdnsn_combo") == 0 && m_certCombo) {
        const DWORD previousState = m_selectedCert.dwStatus;
        const std::wstring previousDisplay = m_selectedCert.wstrDisplayName;
        m_selectedCert.Clear();
        const std::wstring text = ControlText(m_certCombo);
        for (const SKFUserCertInfo& cert : m_selectedKey.vetCertInfo) {
            if (SameText(cert.wstrDisplayName, text)) {
                m_selectedCert = cert;
                break;
            }
        }
        SetButton(m_viewBtn, true);
        SetButton(m_resetPwdBtn, true);
        SetButton(m_reapplyBtn, true);
        SetButton(m_resetIdBtn, true);
        UpdateCertInfo();
        if (m_selectedKey.dwPINNotLocked != 0) {
            if (!SameText(m_selectedCert.wstrDisplayName, previousDisplay) || m_selectedCert.dwStatus != previousState ||
                m_status == HOME_STATUS_PIN_LOCKED) {
                SetButton(m_renewBtn, m_selectedCert.dwStatus == 2 || m_selectedCert.dwStatus == 3);
                ReportErrorInfo(HOME_STATUS_NONE, S_OK);
            }
        } else {
            ReportErrorInfo(HOME_STATUS_PIN_LOCKED, S_OK);
        }
        JournalCombo(m_certCombo, L"cert_certdnsn_combo");
    }
}

void CPageHome::OnClick(NotifyEvent& event) {
    TRACE_SCOPE(L"CPageHome::OnClick");
    if (!event.sender || !m_context || !m_context->pEvents) return;
    AppEventSet& events = *m_context->pEvents;
    const Veneer::CUIString name = event.sender->GetName();
    if (name.CompareNoCase(L"home_renewcert_btn") == 0) {
        if (WaitForSingleObject(events.hRenew, 0) == WAIT_OBJECT_0) return;
        ReportErrorInfo(HOME_STATUS_NONE, S_OK);
        m_renewalRequest.key = m_selectedKey;
        SetEvent(events.hRenew);
        JournalWrite(L"renew-requested", L"");
        // From here until the final status the buttons, combos, busy
        // animation and result line follow the renewal only; the page's own
        // changes meanwhile start from the buttons as they were.
        const auto buttons = Buttons();
        for (int i = 0; i < BUTTON_COUNT; ++i) m_heldEnabled[i] = buttons[i] && buttons[i]->IsEnabled();
        DisableFiveButtons();
        SetButton(m_reloadBtn, false);
        EnableCombos(false);
        m_renewalRunning = true;
        m_scanDuringRenewal = false;
    } else if (name.CompareNoCase(L"cert_reloadukey_btn") == 0) {
        if (WaitForSingleObject(events.hRescan, 0) == WAIT_OBJECT_0) return;
        SetEvent(events.hRescan);
        SetButton(m_reloadBtn, false);
    } else if (name.CompareNoCase(L"cert_viewcert_btn") == 0) {
        HRESULT hr = ViewSpecialCertificate(m_selectedCert.wstrSerialNumber.c_str(), m_selectedCert.wstrSubject.c_str(),
                                            m_selectedCert.dwSMCert, m_manager ? m_manager->GetPaintWindow() : nullptr);
        if (hr != S_OK) TRACE_FAIL(L"ViewSpecialCertificate", L"hResult != S_OK", hr);
        wchar_t result[32];
        swprintf(result, 32, L"result=0x%08x", unsigned(hr));
        JournalWrite(L"view", result);
    } else if (name.CompareNoCase(L"home_resetpwd_btn") == 0) {
        OpenRegistrationPage(L"1");
    } else if (name.CompareNoCase(L"home_reapply_btn") == 0) {
        OpenRegistrationPage(L"0");
    } else if (name.CompareNoCase(L"home_resetid_btn") == 0) {
        OpenRegistrationPage(L"2");
    }
}

void CPageHome::OpenRegistrationPage(const wchar_t* type) {
    std::wstring url = std::wstring(L"https://") + CERTAIDE_REGISTRATION_HOST +
                       L"/view/regist/registFrom.html?serialNo=" + m_selectedCert.wstrSerialNumber + L"&type=" + type;
    if (url.size() > 511) url.resize(511);
    OpenSpecialQuickLink(url.c_str());
}

void CPageHome::ReportErrorInfo(int status, HRESULT code) {
    TRACE_SCOPE(L"CPageHome::ReportErrorInfo");
    DWORD colour = COLOUR_RED;
    ButtonSet buttons = BUTTONS_ALL;
    bool busy = false;
    switch (status) {
    case HOME_STATUS_RENEWED:
        colour = COLOUR_GREEN;
        break;
    case HOME_STATUS_RENEWING:
    case HOME_STATUS_IMPORTING:
        colour = COLOUR_GREY;
        buttons = BUTTONS_UNCHANGED;
        busy = true;
        break;
    case HOME_STATUS_PIN_LOCKED:
    case HOME_STATUS_LIBRARY_MISSING:
        buttons = BUTTONS_RELOAD_ONLY;
        break;
    case HOME_STATUS_SUBMIT_FAILED:
    case HOME_STATUS_IMPORT_FAILED:
    case HOME_STATUS_CERT_TYPE:
    case HOME_STATUS_SEAL_NOT_UNIQUE:
    case HOME_STATUS_SEAL_READ_FAILED:
    case HOME_STATUS_SEAL_WRITE_FAILED:
        break;
    default:  // 0 and any status outside the table
        colour = COLOUR_GREY;
        buttons = BUTTONS_UNCHANGED;
        break;
    }
    if (m_renewalRunning && !m_renewalReporting) {
        // A scan's report while a renewal runs: its buttons are kept for the
        // renewal's end; the status and result line stay the renewal's.
        EnableButtons(buttons);
        return;
    }
    const bool renewalEnds = m_renewalRunning && !busy;
    if (renewalEnds) m_renewalRunning = false;
    m_status = status;
    m_resultCode = code;
    SetTextColour(m_resultLabel, colour);
    EnableButtons(buttons);
    if (renewalEnds && m_scanDuringRenewal) {
        // The keys were listed again meanwhile: what that listing disabled
        // stays disabled.
        const auto all = Buttons();
        for (int i = 0; i < BUTTON_COUNT; ++i)
            if (!m_heldEnabled[i]) Enable(all[i], false);
        m_scanDuringRenewal = false;
    }
    // The combos stay locked only while a renewal step runs.
    if (!busy) EnableCombos(true);
    if (m_statusGif) m_statusGif->SetVisible(busy);
    GetResourceCatalog().ReloadTexts(L"cert_result_external_text");
    if (m_resultLabel) m_resultLabel->Invalidate();
    JournalStatus();
}

void CPageHome::ApplyRenewalReports() {
    for (const RenewalReport& report : m_reportQueue.TakeAll()) {
        m_serverMessage = report.serverMessage;
        m_renewalReporting = true;
        ReportErrorInfo(report.status, report.code);
        m_renewalReporting = false;
    }
}

std::wstring CPageHome::GetErrorMessage() {
    std::wstring description;
    GetLastErrorDesc(description, m_resultCode);
    const wchar_t* id = nullptr;
    switch (m_status) {
    case HOME_STATUS_RENEWED: return CatalogText(L"certerror_renewcertsuccess_text");
    case HOME_STATUS_RENEWING: return CatalogText(L"certerror_renewingcert_text");
    case HOME_STATUS_IMPORTING: return CatalogText(L"certerror_importingcert_text");
    case HOME_STATUS_PIN_LOCKED: return CatalogText(L"certerror_ukeylocked_text");
    case HOME_STATUS_LIBRARY_MISSING: return CatalogText(L"certerror_skfdllnotexist_text");
    case HOME_STATUS_CERT_TYPE: return CatalogText(L"certerror_certtypeerror_text");
    case HOME_STATUS_SEAL_NOT_UNIQUE: return CatalogText(L"certerror_sealnotonly_text");
    case HOME_STATUS_IMPORT_FAILED:
        return FormatSkinText(CatalogText(L"certerror_renewimportfailed_text").c_str(), int(m_resultCode),
                              description.c_str(), RESULT_TEXT_CHARS);
    case HOME_STATUS_SUBMIT_FAILED: id = L"certerror_renewsubmitfailed_text"; break;
    case HOME_STATUS_SEAL_READ_FAILED: id = L"certerror_readsealerror_text"; break;
    case HOME_STATUS_SEAL_WRITE_FAILED: id = L"certerror_writesealerror_text"; break;
    default: return std::wstring();
    }
    if (m_serverMessage.empty()) m_serverMessage = description;
    return FormatSkinText(CatalogText(id).c_str(), int(m_resultCode), m_serverMessage.c_str(), RESULT_TEXT_CHARS);
}

const wchar_t* CPageHome::QueryControlText(const wchar_t* textId, const wchar_t* controlName) {
    (void)controlName;
    if (SameText(textId, L"cert_status_external_text")) {
        switch (m_selectedCert.dwStatus) {
        case 1: m_textBuffer = CatalogText(L"item_status_normal"); break;
        case 2: m_textBuffer = CatalogText(L"item_status_willexpire"); break;
        case 3: m_textBuffer = CatalogText(L"item_status_hasexpired"); break;
        default: m_textBuffer.clear(); break;
        }
    } else if (SameText(textId, L"cert_result_external_text")) {
        m_textBuffer = GetErrorMessage();
    } else {
        return nullptr;
    }
    return m_textBuffer.c_str();
}

void CPageHome::UpdateCertInfo() {
    TRACE_SCOPE(L"CPageHome::UpdateCertInfo");
    const SKFUserCertInfo& cert = m_selectedCert;
    if (m_issuerLabel) m_issuerLabel->SetText(cert.wstrIssuer.c_str());
    if (m_serialLabel) m_serialLabel->SetText(cert.wstrSerialNumber.c_str());
    std::wstring validity, type;
    if (!cert.wstrDisplayName.empty()) {
        validity = GetCertificateDate(cert.ftNotBefore) + L" ~ " + GetCertificateDate(cert.ftNotAfter);
        switch (cert.dwKeyBits) {
        case 256: type = L"SM2"; break;
        case 2048: type = L"RSA-2048"; break;
        case 1024: type = L"RSA-1024"; break;
        default: type = L"Unknown"; break;
        }
    }
    if (m_validityLabel) m_validityLabel->SetText(validity.c_str());
    if (m_typeLabel) m_typeLabel->SetText(type.c_str());
    switch (cert.dwStatus) {
    case 1: SetTextColour(m_stateLabel, COLOUR_GREEN); break;
    case 2: SetTextColour(m_stateLabel, COLOUR_ORANGE); break;
    case 3: SetTextColour(m_stateLabel, COLOUR_RED); break;
    default: break;
    }
    GetResourceCatalog().ReloadTexts(L"cert_status_external_text");
    if (m_stateLabel) m_stateLabel->Invalidate();
    JournalLabels();
}

std::wstring CPageHome::GetCertificateDate(const FILETIME& time) {
    wchar_t* date = nullptr;
    wchar_t* clock = nullptr;
    std::wstring text;
    if (FileTimeToStringTime(&time, &date, &clock) == S_OK && date && clock) text = std::wstring(date) + L" " + clock;
    delete[] date;
    delete[] clock;
    return text;
}

// ---- the test journal -------------------------------------------------------

void CPageHome::JournalCombo(CComboUI* combo, const wchar_t* name) {
#ifdef CERTAIDE_TEST_BINDING
    // A combo being filled is written once, when the fill is complete.
    if (m_refilling > 0) return;
    std::wstring items;
    int selected = -1;
    if (combo) {
        for (int i = 0; i < combo->GetItemCount(); ++i) {
            if (i) items += L"|";
            items += ControlText(combo->GetItemAt(i));
        }
        selected = combo->GetSelectedIndex();
    }
    JournalWrite(L"combo", std::wstring(L"name=") + name + L" items=" + items + L" selected=" + std::to_wstring(selected));
#else
    (void)combo;
    (void)name;
#endif
}

#ifdef CERTAIDE_TEST_BINDING
namespace {
struct NamedControl {
    CControlUI* control;
    const wchar_t* name;
};
}  // namespace
#endif

void CPageHome::JournalStatus() {
#ifdef CERTAIDE_TEST_BINDING
    const NamedControl buttons[] = {{m_reloadBtn, L"cert_reloadukey_btn"}, {m_viewBtn, L"cert_viewcert_btn"},
                   {m_renewBtn, L"home_renewcert_btn"},   {m_resetPwdBtn, L"home_resetpwd_btn"},
                   {m_reapplyBtn, L"home_reapply_btn"},   {m_resetIdBtn, L"home_resetid_btn"}};
    std::wstring enabled;
    for (const auto& b : buttons) {
        if (!b.control || !b.control->IsEnabled()) continue;
        if (!enabled.empty()) enabled += L",";
        enabled += b.name;
    }
    wchar_t head[64];
    swprintf(head, 64, L"status=%d code=0x%08x enabled=", m_status, unsigned(m_resultCode));
    JournalWrite(L"status", head + enabled + L" text=" + ControlText(m_resultLabel));
#endif
}

void CPageHome::JournalLabels() {
#ifdef CERTAIDE_TEST_BINDING
    const NamedControl labels[] = {{m_issuerLabel, L"cert_issuer_label"},
                  {m_serialLabel, L"cert_serialnum_label"},
                  {m_validityLabel, L"cert_validity_label"},
                  {m_typeLabel, L"cert_certtype_label"},
                  {m_stateLabel, L"cert_certstate_label"}};
    for (const auto& l : labels)
        JournalWrite(L"label", std::wstring(L"name=") + l.name + L" text=" + ControlText(l.control));
#endif
}
