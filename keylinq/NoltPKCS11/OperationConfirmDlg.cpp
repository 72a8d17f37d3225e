// The confirmation dialog, its countdown window and its worker.
#include "OperationConfirmDlg.h"

#include <cstdio>
#include <cwchar>

#include "DialogCommon.h"
#include "DialogResource.h"
#include "ResultCodes.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DialogObject"

namespace {

constexpr UINT_PTR COUNTDOWN_TIMER_ID = 1;
constexpr UINT COUNTDOWN_PERIOD_MS = 1000;
constexpr int COUNTDOWN_SECONDS = 30;
const wchar_t kHiddenClass[] = L"KeylinqConfirmCountdown";

// The white behind the dialogs' texts, made once for the process.
HBRUSH WhiteBrush() {
    static HBRUSH brush = CreateSolidBrush(RGB(255, 255, 255));
    return brush;
}

#ifdef KEYLINQ_TEST_BINDING
DWORD EnvironmentNumber(const wchar_t* name, DWORD fallback) {
    wchar_t text[16];
    const DWORD n = GetEnvironmentVariableW(name, text, 16);
    if (n > 0 && n < 16) return DWORD(wcstoul(text, nullptr, 10));
    return fallback;
}
std::atomic<DWORD> g_testPauseMs{BUTTON_RETRY_PAUSE_MS};
void TestPause(uint32_t) { Sleep(g_testPauseMs.load()); }
#endif

}  // namespace

UINT ConfirmTickPeriod() {
#ifdef KEYLINQ_TEST_BINDING
    return UINT(EnvironmentNumber(L"KEYLINQ_TEST_CONFIRM_TICK_MS", COUNTDOWN_PERIOD_MS));
#else
    return COUNTDOWN_PERIOD_MS;
#endif
}

// ---- CWinHidden

CWinHidden::~CWinHidden() { Destroy(); }

bool CWinHidden::Create(COperationConfirmDlg* owner, UINT periodMs) {
    HMODULE module = DialogModule();
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = module;
    wc.lpszClassName = kHiddenClass;
    RegisterClassW(&wc);  // already registered on a later dialog
    m_owner = owner;
    m_hWnd = CreateWindowExW(0, kHiddenClass, L"", 0, 0, 0, 0, 0, nullptr, nullptr, module, this);
    if (!m_hWnd) return false;
    m_timerId = SetTimer(m_hWnd, COUNTDOWN_TIMER_ID, periodMs, nullptr);
    return true;
}

void CWinHidden::Destroy() {
    if (!m_hWnd) return;
    if (m_timerId) KillTimer(m_hWnd, m_timerId);
    m_timerId = 0;
    SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
    DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
}

LRESULT CALLBACK CWinHidden::WindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, LONG_PTR(cs->lpCreateParams));
    }
    CWinHidden* self = reinterpret_cast<CWinHidden*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (msg == WM_TIMER && self && wParam == COUNTDOWN_TIMER_ID) {
        if (self->m_owner) self->m_owner->SetBtnText();
        return 0;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

// ---- COperationConfirmDlg

COperationConfirmDlg::COperationConfirmDlg() {
    if (LoadImageFromResource(DialogModule(), IDB_CONFIRM_PICTURE, L"PNG", &m_pImage) != 0) m_pImage = nullptr;
    m_countdown = COUNTDOWN_SECONDS;
    m_hidden.Create(this, ConfirmTickPeriod());
}

COperationConfirmDlg::~COperationConfirmDlg() {
    if (m_hThread) {
        // The worker may be sending its WM_CLOSE to this thread: keep
        // delivering sent messages until it has ended.
        for (;;) {
            const DWORD wait = MsgWaitForMultipleObjects(1, &m_hThread, FALSE, INFINITE, QS_SENDMESSAGE);
            if (wait != WAIT_OBJECT_0 + 1) break;
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
    DeleteDialogFont(m_hBoldFont);
    DeleteDialogFont(m_hBoldUnderlineFont);
    m_hidden.Destroy();
    delete m_pImage;
    m_pImage = nullptr;
}

INT_PTR COperationConfirmDlg::DoModal(CONFIRM_TASK* pTask) {
    m_pTask = pTask;
    return DialogBoxParamW(DialogModule(), MAKEINTRESOURCEW(IDD_CONFIRM_DIALOG), nullptr, &DialogProc,
                           LPARAM(this));
}

void COperationConfirmDlg::SetBtnText() {
    if (!m_hDlg) return;
    if (m_countdown != 0) {
        wchar_t format[128] = {};
        wchar_t text[128] = {};
        LoadSKFString(IDS_CONFIRM_CANCEL_SECONDS, format, 128);
        const wchar_t* mark = wcsstr(format, L"%d");
        if (mark && !wcschr(mark + 2, L'%') && wcschr(format, L'%') == mark)
            _snwprintf(text, 127, format, m_countdown);
        SetDlgItemTextW(m_hDlg, IDC_CONFIRM_CANCEL, text);
        --m_countdown;
        return;
    }
    Finish(CB_STATUS_TIMEOUT);
}

void COperationConfirmDlg::Finish(uint32_t outcome) {
    if (m_pTask) SetConfirmOutcome(m_pTask, outcome);
    if (m_hDlg) EndDialog(m_hDlg, IDCANCEL);
}

INT_PTR CALLBACK COperationConfirmDlg::DialogProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    COperationConfirmDlg* self = reinterpret_cast<COperationConfirmDlg*>(GetWindowLongPtrW(hDlg, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG:
        self = reinterpret_cast<COperationConfirmDlg*>(lParam);
        SetWindowLongPtrW(hDlg, DWLP_USER, LONG_PTR(self));
        self->OnInitDialog(hDlg, self->m_pTask);
        return TRUE;
    case WM_CTLCOLORSTATIC:
        if (self) {
            HBRUSH brush = self->OnCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
            if (brush) return INT_PTR(brush);
        }
        break;
    case WM_COMMAND:
        if (self && LOWORD(wParam) == IDC_CONFIRM_CANCEL && HIWORD(wParam) == STN_CLICKED) {
            self->Finish(CB_STATUS_CANCELLED);
            return TRUE;
        }
        if (self && LOWORD(wParam) == IDCANCEL) {
            self->Finish(CB_STATUS_CANCELLED);
            return TRUE;
        }
        break;
    case WM_CLOSE:
        // A close that carries no outcome of its own (the system's close,
        // a WM_CLOSE from elsewhere) cancels; after the worker's or the
        // countdown's outcome this writes nothing.
        if (self) self->Finish(CB_STATUS_CANCELLED);
        else EndDialog(hDlg, IDCANCEL);
        return TRUE;
    case WM_DESTROY:
        if (self) self->m_hDlg = nullptr;
        break;
    default:
        break;
    }
    return FALSE;
}

void COperationConfirmDlg::OnInitDialog(HWND hDlg, CONFIRM_TASK* pTask) {
    TRACE_NAME(L"COperationConfirmDlg::OnInitDialog");
    m_hDlg = hDlg;
    HICON icon = LoadIconW(DialogModule(), MAKEINTRESOURCEW(IDI_KEYLINQ));
    if (icon) {
        SendMessageW(hDlg, WM_SETICON, ICON_BIG, LPARAM(icon));
        SendMessageW(hDlg, WM_SETICON, ICON_SMALL, LPARAM(icon));
    }
    if (pTask) pTask->hDialog = hDlg;
    m_hBoldFont = CreateDialogFont(-14, -7, FW_BOLD, false);
    m_hBoldUnderlineFont = CreateDialogFont(-14, -7, FW_BOLD, true);
    SendDlgItemMessageW(hDlg, IDC_CONFIRM_MESSAGE, WM_SETFONT, WPARAM(m_hBoldFont), TRUE);
    SendDlgItemMessageW(hDlg, IDC_CONFIRM_CANCEL, WM_SETFONT, WPARAM(m_hBoldUnderlineFont), TRUE);
    SetBtnText();
    SetDlgItemTextW(hDlg, IDC_CONFIRM_MESSAGE, pTask && pTask->pszText ? pTask->pszText : L"");
    m_picture.SetImage(m_pImage);
    m_picture.Attach(GetDlgItem(hDlg, IDC_PICTURE));
    BringDialogForward(hDlg);
    if (!pTask) return;
    m_hThread = CreateThread(nullptr, 0, &COperationConfirmDlg::ConfirmWorkingThread, pTask, 0, nullptr);
    if (!m_hThread) {
        TRACE_FAIL(L"CreateThread", L"NULL == m_hThread", HResultFromLastError());
        Finish(CB_STATUS_CANCELLED);
    }
}

HBRUSH COperationConfirmDlg::OnCtlColorStatic(HDC dc, HWND control) {
    const int id = GetDlgCtrlID(control);
    if (id == IDC_CONFIRM_MESSAGE) {
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 0, 0));
        return WhiteBrush();
    }
    if (id == IDC_CONFIRM_CANCEL) {
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(241, 194, 50));
        return WhiteBrush();
    }
    return nullptr;
}

DWORD WINAPI COperationConfirmDlg::ConfirmWorkingThread(LPVOID pTask) {
    return DWORD(::ConfirmWorkingThread(static_cast<CONFIRM_TASK*>(pTask)));
}

uint32_t OperationConfirmWindow(CONFIRM_TASK* pTask) {
    TRACE_SCOPE(L"COperationConfirmDlg::DoModal");
    if (!pTask) return 0x80070057u;
#ifdef KEYLINQ_TEST_BINDING
    g_testPauseMs.store(EnvironmentNumber(L"KEYLINQ_TEST_BUTTON_PAUSE_MS", BUTTON_RETRY_PAUSE_MS));
    if (GetEnvironmentVariableW(L"KEYLINQ_TEST_BUTTON_PAUSE_MS", nullptr, 0) > 0) SetButtonPause(&TestPause);
#endif
    COperationConfirmDlg dialog;
    if (dialog.DoModal(pTask) == -1) {
        const HRESULT hr = HResultFromLastError();
        TRACE_FAIL(L"DialogBoxParamW", L"-1 == nResult", hr);
        return hr ? uint32_t(hr) : 0x80004005u;
    }
    return 0;
}
