#include "PinDialogs.h"

#include <cwchar>

#include "ResourceCatalog.h"
#include "SkinText.h"

using Veneer::CButtonUI;
using Veneer::CEditUI;
using Veneer::CLabelUI;
using Veneer::CUIString;
using Veneer::NotifyEvent;

namespace {

constexpr UINT PIN_MAX_CHARS = 16;
constexpr int PIN_MIN_CHARS = 6;
constexpr UINT INIT_PIN_MAX_CHARS = 8;
constexpr size_t TIP_MAX_CHARS = 255;

void WipeString(CUIString& text) {
    SecureZeroMemory(const_cast<wchar_t*>(text.GetData()), sizeof(wchar_t) * size_t(text.GetLength()));
    text.Empty();
}

}  // namespace

const wchar_t* GetSkinArchivePassword() { return L"" CERTAIDE_SKIN_PASSWORD; }

bool IsValidInitPINFormat(const wchar_t* text) {
    if (!text) return false;
    const size_t length = wcslen(text);
    if (length < 6 || length > 8) return false;
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = text[i];
        const bool ok = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
        if (!ok) return false;
    }
    return true;
}

BOOL CALLBACK FindProcessTopWindowProc(HWND hwnd, LPARAM lParam) {
    TopWindowSearch* search = reinterpret_cast<TopWindowSearch*>(lParam);
    DWORD processId = 0;
    GetWindowThreadProcessId(hwnd, &processId);
    if (processId == search->processId && GetWindow(hwnd, GW_OWNER) == nullptr && IsWindowVisible(hwnd)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND FindProcessTopWindow() {
    TopWindowSearch search = {GetCurrentProcessId(), nullptr};
    EnumWindows(&FindProcessTopWindowProc, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// ---- the shared part ----------------------------------------------------------

CPinDialogBase::~CPinDialogBase() {
    if (m_deleted) *m_deleted = true;
}

void CPinDialogBase::OnFinalMessage(HWND hwnd) {
    CWindowUI::OnFinalMessage(hwnd);
    delete this;
}

std::wstring CPinDialogBase::DescribeState(const wchar_t* kind) const {
    wchar_t colour[16];
    swprintf(colour, 16, L"0x%08X", unsigned(m_pTipsLabel ? m_pTipsLabel->GetTextColor() : 0));
    std::wstring text = L"kind=";
    text += kind;
    text += L" tip=";
    if (m_pTipsLabel) text += m_pTipsLabel->GetText().GetData();
    text += L" color=";
    text += colour;
    text += L" edit=";
    text += m_pPasswordEdit && m_pPasswordEdit->IsEnabled() ? L"1" : L"0";
    text += L" confirm=";
    text += m_pConfirmButton && m_pConfirmButton->IsEnabled() ? L"1" : L"0";
    return text;
}

void CPinDialogBase::InitControls(UINT maxChars) {
    m_pTipsLabel = FindControl<CLabelUI>(L"inputdlg_tips_label", L"Label");
    m_pPasswordEdit = FindControl<CEditUI>(L"inputdlg_password_edit", L"Edit");
    m_pConfirmButton = FindControl<CButtonUI>(L"inputdlg_confirm_btn", L"Button");
    if (m_pConfirmButton) m_pConfirmButton->SetEnabled(false);
    if (m_pPasswordEdit) {
        EmptyEdit(m_pPasswordEdit);
        m_pPasswordEdit->SetMaxChar(maxChars);  // also limits its native window when open
    }
}

void CPinDialogBase::SetPasswordPtr(wchar_t* buffer) {
    m_pPassword = buffer;
    m_nPasswordChars = PIN_BUFFER_CHARS;
}

void CPinDialogBase::EmptyEdit(CEditUI* edit) {
    if (edit) edit->SetText(L"");
}

void CPinDialogBase::CopyPIN(CEditUI* edit, wchar_t* buffer, int capacity) {
    if (!edit) return;
    CUIString text = edit->GetInputText();
    if (buffer && capacity > 0) {
        const int n = text.GetLength() < capacity - 1 ? text.GetLength() : capacity - 1;
        wmemcpy(buffer, text.GetData(), size_t(n));
        buffer[n] = L'\0';
    }
    WipeString(text);
}

int CPinDialogBase::InputLength(CEditUI* edit) {
    if (!edit) return 0;
    CUIString text = edit->GetInputText();
    const int length = text.GetLength();
    WipeString(text);
    return length;
}

void CPinDialogBase::ShowTip(const wchar_t* text, DWORD color) {
    if (!m_pTipsLabel) return;
    m_pTipsLabel->SetText(text);
    if (color) {
        wchar_t value[16];
        swprintf(value, 16, L"#%08X", unsigned(color));
        m_pTipsLabel->SetAttribute(L"textcolor", value);
    }
    m_pTipsLabel->Invalidate();
}

bool CPinDialogBase::IsSender(const NotifyEvent& event, const wchar_t* name) {
    return event.sender && event.sender->GetName().CompareNoCase(name) == 0;
}

// ---- entering the PIN ------------------------------------------------------------

VENEER_BEGIN_NOTIFY_MAP(CDlgInputPIN, Veneer::CWindowUI)
VENEER_ON_NOTIFY(L"click", &CDlgInputPIN::OnClick)
VENEER_ON_NOTIFY(L"textchanged", &CDlgInputPIN::OnTextChanged)
VENEER_END_NOTIFY_MAP()

void CDlgInputPIN::InitWindow() { InitControls(PIN_MAX_CHARS); }

void CDlgInputPIN::SetInitialStatus(BOOL retry, DWORD remaining) {
    Veneer::CResourceCatalog& catalog = Veneer::GetResourceCatalog();
    if (remaining != 0) {
        const CUIString format = catalog.GetText(retry == 1 ? L"ukeytip_retrypwd_text" : L"ukeytip_firstpwd_text");
        const std::wstring tip = FormatSkinText(format.GetData(), int(remaining), nullptr, TIP_MAX_CHARS);
        ShowTip(tip.c_str(), retry == 1 ? PIN_TIP_COLOR_ALERT : PIN_TIP_COLOR_FIRST);
        return;
    }
    const CUIString locked = catalog.GetText(L"ukeytip_pinlocked_text");
    ShowTip(locked.GetData(), PIN_TIP_COLOR_ALERT);
    if (m_pPasswordEdit) m_pPasswordEdit->SetEnabled(false);
    if (m_pConfirmButton) m_pConfirmButton->SetEnabled(false);
}

void CDlgInputPIN::OnTextChanged(NotifyEvent& event) {
    if (!IsSender(event, L"inputdlg_password_edit") || !m_pConfirmButton) return;
    const int length = InputLength(m_pPasswordEdit);
    m_pConfirmButton->SetEnabled(length >= PIN_MIN_CHARS && length <= int(PIN_MAX_CHARS));
}

void CDlgInputPIN::OnClick(NotifyEvent& event) {
    if (IsSender(event, L"inputdlg_confirm_btn")) {
        CopyPIN(m_pPasswordEdit, m_pPassword, m_nPasswordChars);
        EmptyEdit(m_pPasswordEdit);
        if (m_hWnd && IsWindow(m_hWnd)) PostMessageW(m_hWnd, WM_CLOSE, PIN_DIALOG_CONFIRMED, 0);
    } else if (IsSender(event, L"inputdlg_cancel_btn")) {
        EmptyEdit(m_pPasswordEdit);
        if (m_hWnd && IsWindow(m_hWnd)) PostMessageW(m_hWnd, WM_CLOSE, PIN_DIALOG_CANCELLED, 0);
    }
}

// ---- setting the initial PIN ---------------------------------------------------

VENEER_BEGIN_NOTIFY_MAP(CDlgSetInitPIN, Veneer::CWindowUI)
VENEER_ON_NOTIFY(L"click", &CDlgSetInitPIN::OnClick)
VENEER_ON_NOTIFY(L"textchanged", &CDlgSetInitPIN::OnTextChanged)
VENEER_END_NOTIFY_MAP()

void CDlgSetInitPIN::InitWindow() {
    InitControls(INIT_PIN_MAX_CHARS);
    m_pConfirmEdit = FindControl<CEditUI>(L"inputdlg_pconfirmpwd_edit", L"Edit");
    ShowTip(L"", 0);
}

void CDlgSetInitPIN::OnTextChanged(NotifyEvent& event) {
    if (!IsSender(event, L"inputdlg_password_edit") && !IsSender(event, L"inputdlg_pconfirmpwd_edit")) return;
    UpdateConfirmButton();
}

void CDlgSetInitPIN::UpdateConfirmButton() {
    if (!m_pConfirmButton) return;
    const int first = InputLength(m_pPasswordEdit), second = InputLength(m_pConfirmEdit);
    m_pConfirmButton->SetEnabled(first >= PIN_MIN_CHARS && first <= int(INIT_PIN_MAX_CHARS) &&
                                 second >= PIN_MIN_CHARS && second <= int(INIT_PIN_MAX_CHARS));
}

void CDlgSetInitPIN::OnClick(NotifyEvent& event) {
    if (IsSender(event, L"inputdlg_confirm_btn")) {
        CUIString first = m_pPasswordEdit ? m_pPasswordEdit->GetInputText() : CUIString();
        CUIString second = m_pConfirmEdit ? m_pConfirmEdit->GetInputText() : CUIString();
        if (first == second && IsValidInitPINFormat(first.GetData())) {
            if (m_pPassword) {
                ShowTip(L"", 0);
                CopyPIN(m_pPasswordEdit, m_pPassword, m_nPasswordChars);
                EmptyEdit(m_pPasswordEdit);
                EmptyEdit(m_pConfirmEdit);
                Close(PIN_DIALOG_CONFIRMED);
            }
        } else {
            ShowTip(Veneer::GetResourceCatalog().GetText(L"ukeyerror_formaterror_text").GetData(), 0);
            EmptyEdit(m_pPasswordEdit);
            EmptyEdit(m_pConfirmEdit);
            UpdateConfirmButton();  // emptied edits send no change of their own
        }
        WipeString(first);
        WipeString(second);
    } else if (IsSender(event, L"inputdlg_cancel_btn")) {
        EmptyEdit(m_pPasswordEdit);
        EmptyEdit(m_pConfirmEdit);
        if (m_hWnd && IsWindow(m_hWnd)) PostMessageW(m_hWnd, WM_CLOSE, PIN_DIALOG_CANCELLED, 0);
    }
}
