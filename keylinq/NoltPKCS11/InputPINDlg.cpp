// The PIN entry dialog.
#include "InputPINDlg.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "DialogCommon.h"
#include "DialogResource.h"
#include "SKFWindows.h"
#include "ResultCodes.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DialogObject"

namespace {
constexpr uint32_t PIN_MIN_CHARS = 6;
}

CInputPINDlg::CInputPINDlg() {
    m_edit.Initialize();
    if (LoadImageFromResource(DialogModule(), IDB_PIN_PICTURE, L"PNG", &m_pImage) != 0) m_pImage = nullptr;
}

CInputPINDlg::~CInputPINDlg() {
    DeleteDialogFont(m_hBoldFont);
    DeleteDialogFont(m_hNormalFont);
    delete m_pImage;
    m_pImage = nullptr;
    SecureZeroMemory(m_szPIN, sizeof m_szPIN);
}

uint32_t CInputPINDlg::Initialize(uint32_t, int32_t nLeftTimes) {
    m_bClickOK = 0;
    SecureZeroMemory(m_szPIN, sizeof m_szPIN);
    m_bInitialzie = 1;
    m_nLeftTimes = nLeftTimes;
    return 0;
}

INT_PTR CInputPINDlg::DoModal() {
    return DialogBoxParamW(DialogModule(), MAKEINTRESOURCEW(IDD_INPUT_PIN_DIALOG), GetActiveWindow(), &DialogProc,
                           LPARAM(this));
}

uint32_t CInputPINDlg::GetPIN(char** ppszPIN) {
    TRACE_NAME(L"CInputPINDlg::GetPIN");
    if (!ppszPIN) return 0x80070057u;
    *ppszPIN = nullptr;
    uint32_t hr = 0;
    const size_t n = strnlen(m_szPIN, sizeof m_szPIN - 1);
    if (!m_bInitialzie) {
        hr = 0x80004005u;
    } else if (!m_bClickOK) {
        hr = CB_STATUS_CANCELLED;
    } else if (n == 0) {
        hr = 0x80004005u;
    } else {
        char* pin = static_cast<char*>(calloc(n + 1, 1));
        if (!pin) {
            hr = 0x8007000Eu;
        } else {
            memcpy(pin, m_szPIN, n);
            *ppszPIN = pin;
        }
    }
    SecureZeroMemory(m_szPIN, sizeof m_szPIN);
    if (hr != 0) TRACE_FAIL(L"CInputPINDlg::GetPIN", L"S_OK != hResult", HRESULT(hr));
    return hr;
}

INT_PTR CALLBACK CInputPINDlg::DialogProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    CInputPINDlg* self = reinterpret_cast<CInputPINDlg*>(GetWindowLongPtrW(hDlg, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG:
        self = reinterpret_cast<CInputPINDlg*>(lParam);
        SetWindowLongPtrW(hDlg, DWLP_USER, LONG_PTR(self));
        self->OnInitDialog(hDlg);
        return TRUE;
    case WM_COMMAND:
        if (!self) break;
        switch (LOWORD(wParam)) {
        case IDC_PIN_EDIT:
            if (HIWORD(wParam) == EN_CHANGE) self->UpdateOK();
            return TRUE;
        case IDC_PIN_OK:
        case IDOK:
            if (IsWindowEnabled(GetDlgItem(hDlg, IDC_PIN_OK))) self->OnOK();
            return TRUE;
        case IDC_PIN_CANCEL:
        case IDCANCEL:
            self->OnCancel();
            return TRUE;
        default:
            break;
        }
        break;
    case WM_CLOSE:
        // Closed without OK: m_bClickOK keeps its value (0 before a good OK).
        EndDialog(hDlg, IDCANCEL);
        return TRUE;
    default:
        break;
    }
    return FALSE;
}

void CInputPINDlg::OnInitDialog(HWND hDlg) {
    m_hDlg = hDlg;
    m_hBoldFont = CreateDialogFont(-14, -7, FW_BOLD, false);
    m_hNormalFont = CreateDialogFont(-12, -7, FW_NORMAL, false);
    HICON icon = LoadIconW(DialogModule(), MAKEINTRESOURCEW(IDI_KEYLINQ));
    if (icon) SendMessageW(hDlg, WM_SETICON, ICON_BIG, LPARAM(icon));
    SendDlgItemMessageW(hDlg, IDC_PIN_OK, WM_SETFONT, WPARAM(m_hBoldFont), TRUE);
    SendDlgItemMessageW(hDlg, IDC_PIN_CANCEL, WM_SETFONT, WPARAM(m_hBoldFont), TRUE);
    SendDlgItemMessageW(hDlg, IDC_PIN_PROMPT, WM_SETFONT, WPARAM(m_hNormalFont), TRUE);
    SendDlgItemMessageW(hDlg, IDC_PIN_TRIES, WM_SETFONT, WPARAM(m_hNormalFont), TRUE);
    wchar_t text[128] = {};
    wchar_t line[160] = {};
    LoadSKFString(IDS_PIN_TRIES_LEFT, text, 128);
    _snwprintf(line, 159, L"%ls %d", text, int(m_nLeftTimes));
    SetDlgItemTextW(hDlg, IDC_PIN_TRIES, line);
    LoadSKFString(IDS_PIN_PROMPT, text, 128);
    SetDlgItemTextW(hDlg, IDC_PIN_PROMPT, text);
    LoadSKFString(IDS_PIN_OK, text, 128);
    SetDlgItemTextW(hDlg, IDC_PIN_OK, text);
    LoadSKFString(IDS_PIN_CANCEL, text, 128);
    SetDlgItemTextW(hDlg, IDC_PIN_CANCEL, text);
    EnableWindow(GetDlgItem(hDlg, IDC_PIN_OK), FALSE);
    m_edit.Attach(GetDlgItem(hDlg, IDC_PIN_EDIT));
    m_picture.SetImage(m_pImage);
    m_picture.Attach(GetDlgItem(hDlg, IDC_PICTURE));
    BringDialogForward(hDlg);
}

void CInputPINDlg::UpdateOK() {
    // The stored characters decide, never the edit's own text.
    const uint32_t n = m_edit.Length();
    EnableWindow(GetDlgItem(m_hDlg, IDC_PIN_OK), n >= PIN_MIN_CHARS && n <= PASSWORD_MAX_CHARS);
}

void CInputPINDlg::OnOK() {
    char* plain = nullptr;
    if (m_edit.GetDecryptPassword(&plain) != 0 || !plain) {
        m_bClickOK = 0;
        SecureZeroMemory(m_szPIN, sizeof m_szPIN);
        EndDialog(m_hDlg, IDCANCEL);
        return;
    }
    const size_t n = strlen(plain);
    if (n == 0 || m_edit.Length() == 0) {
        free(plain);
        wchar_t text[128] = {};
        LoadSKFString(IDS_PIN_EMPTY, text, 128);
        SetDlgItemTextW(m_hDlg, IDC_PIN_PROMPT, text);
        return;
    }
    SecureZeroMemory(m_szPIN, sizeof m_szPIN);
    memcpy(m_szPIN, plain, n < sizeof m_szPIN - 1 ? n : sizeof m_szPIN - 1);
    m_bClickOK = 1;
    SecureZeroMemory(plain, n);
    free(plain);
    EndDialog(m_hDlg, IDOK);
}

void CInputPINDlg::OnCancel() {
    m_bClickOK = 0;
    SecureZeroMemory(m_szPIN, sizeof m_szPIN);
    EndDialog(m_hDlg, IDCANCEL);
}

uint32_t InputPINWindow(int32_t nLeftTimes, char** ppszPIN) {
    TRACE_SCOPE(L"ShowUserPinDialog");
    CInputPINDlg dialog;
    dialog.Initialize(0, nLeftTimes);
    if (dialog.DoModal() == -1) {
        const HRESULT hr = HResultFromLastError();
        TRACE_FAIL(L"CInputPINDlg::DoModal", L"-1 == nResult", hr);
        return hr ? uint32_t(hr) : 0x80004005u;
    }
    return dialog.GetPIN(ppszPIN);
}
