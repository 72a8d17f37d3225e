// The library's dialogs behind the SKF objects' windows.
#include "KeylinqDialogs.h"

#include "InputPINDlg.h"
#include "OperationConfirmDlg.h"
#include "SKFWindows.h"

void InstallKeylinqDialogs() {
    SKF_WINDOWS windows;
    windows.pfnPinWindow = &InputPINWindow;
    windows.pfnConfirmWindow = &OperationConfirmWindow;
    SetSKFWindows(windows);
}
