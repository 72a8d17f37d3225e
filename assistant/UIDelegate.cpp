#include "UIDelegate.h"

#include <new>

#include "Journal.h"
#include "PinDialogs.h"

namespace {

constexpr DWORD PIN_DIALOG_STYLE = WS_POPUP | WS_VISIBLE;                 // 0x90000000
constexpr DWORD PIN_DIALOG_EX_STYLE = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;  // 0x88

void WipeString(std::wstring& text) {
    if (!text.empty()) SecureZeroMemory(&text[0], text.size() * sizeof(wchar_t));
    text.clear();
}

// Why a window could not be made, never read as the user's refusal.
HRESULT CreateFailure(DWORD lastError) {
    const HRESULT hr = HRESULT_FROM_WIN32(lastError);
    if (lastError == 0 || hr == PIN_REQUEST_CANCELLED) return E_FAIL;
    return hr;
}

// Creates the dialog on this thread, shows it modally and hands back the
// PIN typed into it. The dialog deletes itself when its window goes, also
// when its creation fails half-way.
template <class Dialog, class Prepare>
HRESULT RunPinDialog(Dialog* dialog, const wchar_t* title, const wchar_t* kind, std::wstring& pinOut,
                     Prepare prepare) {
    if (!dialog) return E_OUTOFMEMORY;
    wchar_t pin[PIN_BUFFER_CHARS] = {0};
    bool deleted = false;
    dialog->SetDeletedFlag(&deleted);

    const HWND owner = FindProcessTopWindow();
    const HWND window = dialog->Create(owner, title, PIN_DIALOG_STYLE, PIN_DIALOG_EX_STYLE, 0, 0, 0, 0);
    if (!window) {
        const HRESULT hr = CreateFailure(GetLastError());
        if (!deleted) delete dialog;
        return hr;
    }
    dialog->CenterOnOwner();
    dialog->SetPasswordPtr(pin);
    prepare(dialog);
    JournalWrite(L"pindlg", L"shown " + dialog->DescribeState(kind));

    const UINT result = dialog->ShowModal();
    // A quit message ends the loop with the window still there.
    if (!deleted && IsWindow(window)) DestroyWindow(window);
    JournalWrite(L"pindlg", L"closed result=" + std::to_wstring(result));

    HRESULT hr = PIN_REQUEST_CANCELLED;
    if (result == PIN_DIALOG_CONFIRMED) {
        WipeString(pinOut);
        pinOut.assign(pin);
        hr = S_OK;
    }
    SecureZeroMemory(pin, sizeof(pin));
    return hr;
}

}  // namespace

BOOL CCustomizedUIDelegate::IsPINCacheEnabled() { return TRUE; }

HRESULT CCustomizedUIDelegate::SKFCryptSelectDevice(HSKFCRYPTPROV, std::vector<std::wstring>, std::wstring&) {
    const HWND owner = FindProcessTopWindow();
    // Without a visible window of ours the box must not hide behind others.
    const UINT flags = MB_ICONINFORMATION | (owner ? 0 : MB_TOPMOST | MB_SETFOREGROUND);
    MessageBoxW(owner, L"Not support select device.", L"SKF Tips", flags);
    return ERROR_NOT_SUPPORTED;
}

HRESULT CCustomizedUIDelegate::SKFCryptUIInputPIN(std::wstring, BOOL bRetry, DWORD dwRemainRetryCount,
                                                  std::wstring& wstrPIN) {
    return RunPinDialog(new (std::nothrow) CDlgInputPIN, L"Please Input PIN", L"input", wstrPIN,
                        [&](CDlgInputPIN* dialog) { dialog->SetInitialStatus(bRetry, dwRemainRetryCount); });
}

HRESULT CCustomizedUIDelegate::SKFCryptUISetInitPIN(std::wstring, std::wstring& wstrNewPIN) {
    return RunPinDialog(new (std::nothrow) CDlgSetInitPIN, L"Set Init PIN", L"init", wstrNewPIN,
                        [](CDlgSetInitPIN*) {});
}
