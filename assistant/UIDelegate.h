#pragma once
// Certaide's answers to the key layer's requests for user input: the PIN
// through CDlgInputPIN, a new PIN through CDlgSetInitPIN, and a message box
// in place of a device choice. Called on the thread that uses the key; the
// dialogs run modally there. The key layer owns the registered object and
// deletes it when it is unregistered.
#include <windows.h>

#include <string>
#include <vector>

#include "SKFDeviceHandler.h"

// The user closed the dialog without a PIN (ERROR_CANCELLED as an HRESULT).
constexpr HRESULT PIN_REQUEST_CANCELLED = HRESULT(0x800704C7);

class CCustomizedUIDelegate : public ISKFUIDelegator {
public:
    BOOL IsPINCacheEnabled() override;
    // No choice is offered: a message box, then ERROR_NOT_SUPPORTED (50).
    HRESULT SKFCryptSelectDevice(HSKFCRYPTPROV hProv, std::vector<std::wstring> vecDeviceNames,
                                 std::wstring& wstrDeviceName) override;
    HRESULT SKFCryptUIInputPIN(std::wstring wstrSerialNumber, BOOL bRetry, DWORD dwRemainRetryCount,
                               std::wstring& wstrPIN) override;
    HRESULT SKFCryptUISetInitPIN(std::wstring wstrText, std::wstring& wstrNewPIN) override;
};
