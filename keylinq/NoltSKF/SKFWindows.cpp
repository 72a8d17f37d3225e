// The windows' seam: the installed PIN and confirmation windows, the PIN
// dialog's lock-out rule and the confirmation worker.
#include "SKFWindows.h"

#include <cstdlib>
#include <cstring>

#include "SKFApi.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"DialogObject"

// The module whose resources hold the texts: the library once its entry
// point ran; a program that links the SKF objects itself uses its own.
HMODULE g_hModule = nullptr;

namespace {

std::atomic<SKF_PIN_WINDOW> g_pinWindow{nullptr};
std::atomic<SKF_CONFIRM_WINDOW> g_confirmWindow{nullptr};

constexpr uint32_t KEY_E_BUTTON_CANCELLED = 0x8000F322u;
constexpr uint32_t KEY_E_BUTTON_TIMEOUT = 0x8000F323u;

}  // namespace

SKF_WINDOWS SetSKFWindows(const SKF_WINDOWS& windows) {
    SKF_WINDOWS previous;
    previous.pfnPinWindow = g_pinWindow.exchange(windows.pfnPinWindow);
    previous.pfnConfirmWindow = g_confirmWindow.exchange(windows.pfnConfirmWindow);
    return previous;
}

uint32_t ShowUserPinDialog(int32_t nLeftTimes, char** ppszPIN) {
    TRACE_NAME(L"ShowUserPinDialog");
    if (!ppszPIN) return 0x80070057u;
    *ppszPIN = nullptr;
    if (nLeftTimes <= 0) {
        TRACE_FAIL(L"PIN Locked", L"nLeftTimes <= 0", HRESULT(SAR_PIN_LOCKED));
        return SAR_PIN_LOCKED;
    }
    const SKF_PIN_WINDOW window = g_pinWindow.load();
    if (!window) {
        TRACE_FAIL(L"CInputPINDlg::DoModal", L"no PIN window", HRESULT(SKF_WINDOW_NOT_SHOWN));
        return SKF_WINDOW_NOT_SHOWN;
    }
    char* pin = nullptr;
    uint32_t hr = window(nLeftTimes, &pin);
    if (hr == 0 && (!pin || !pin[0])) hr = 0x80004005u;  // OK without a PIN
    if (hr != 0) {
        FreeUserPIN(pin);
        TRACE_FAIL(L"CInputPINDlg::GetPIN", L"S_OK != hResult", HRESULT(hr));
        return hr;
    }
    *ppszPIN = pin;
    return 0;
}

void FreeUserPIN(char* pszPIN) {
    if (!pszPIN) return;
    SecureZeroMemory(pszPIN, strlen(pszPIN));
    free(pszPIN);
}

uint32_t ShowConfirmWindow(CONFIRM_TASK* pTask) {
    TRACE_NAME(L"ShowConfirmWindow");
    const SKF_CONFIRM_WINDOW window = g_confirmWindow.load();
    if (!window) {
        TRACE_FAIL(L"COperationConfirmDlg::DoModal", L"no confirmation window", HRESULT(SKF_WINDOW_NOT_SHOWN));
        return SKF_WINDOW_NOT_SHOWN;
    }
    return window(pTask);
}

bool SetConfirmOutcome(CONFIRM_TASK* pTask, uint32_t outcome) {
    // Only while nobody has decided: the worker's final result (the key's
    // answer) and an earlier outcome of the window stay.
    uint32_t expected = CONFIRM_RESULT_PENDING;
    if (!pTask->result.compare_exchange_strong(expected, outcome)) {
        if (expected != MW_E_NOT_CARRIED_OUT || !pTask->result.compare_exchange_strong(expected, outcome))
            return false;
    }
    if (pTask->pCallbackContext) {
        uint32_t running = 0;
        pTask->pCallbackContext->status.compare_exchange_strong(running, outcome);
    }
    return true;
}

uint32_t ConfirmWorkingThread(CONFIRM_TASK* pTask) {
    TRACE_NAME(L"COperationConfirmDlg::ConfirmWorkingThread");
    if (!pTask || !pTask->pfnTask) return MW_E_NULL_POINTER;
    // Running: the window may still decide (an outcome it wrote before the
    // worker started stays until the worker's own).
    uint32_t notStarted = MW_E_NOT_CARRIED_OUT;
    pTask->result.compare_exchange_strong(notStarted, CONFIRM_RESULT_PENDING);
    uint32_t hr = pTask->pfnTask(pTask->pCallbackContext, pTask->pMiddlewareContext);
    if (hr == KEY_E_BUTTON_CANCELLED) hr = CB_STATUS_CANCELLED;
    if (hr == KEY_E_BUTTON_TIMEOUT) hr = CB_STATUS_TIMEOUT;
    // The key's answer is final, whatever the window wrote meanwhile.
    pTask->result.store(hr);
    if (pTask->pCallbackContext) SetCallbackStatus(pTask->pCallbackContext, hr);
    if (hr != 0) TRACE_FAIL(L"pfnTask", L"VM_ERR_OK != hResult", HRESULT(hr));
    if (pTask->hDialog) SendMessageW(pTask->hDialog, WM_CLOSE, 0, 0);
    return hr;
}

void LoadSKFString(UINT id, wchar_t* buffer, int chars) {
    if (!buffer || chars <= 0) return;
    buffer[0] = L'\0';
    HMODULE module = g_hModule ? g_hModule : GetModuleHandleW(nullptr);
    if (LoadStringW(module, id, buffer, chars) <= 0) buffer[0] = L'\0';
}
