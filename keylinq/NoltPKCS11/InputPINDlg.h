#pragma once
// The PIN entry dialog (dialog 8103): the masked PIN field, the remaining
// tries and OK / Cancel.
#include <windows.h>

#include <cstdint>

#include "ImageStatic.h"
#include "PasswordEdit.h"

class CInputPINDlg {
public:
    CInputPINDlg();
    ~CInputPINDlg();
    CInputPINDlg(const CInputPINDlg&) = delete;
    CInputPINDlg& operator=(const CInputPINDlg&) = delete;

    uint32_t Initialize(uint32_t reserved, int32_t nLeftTimes);
    // Shows the dialog modal (owner: the thread's active window).
    INT_PTR DoModal();
    // 0 and the PIN typed (malloc, for the caller), 0x8010006E when the
    // user cancelled, 0x80004005 when not initialised or empty. Wipes the
    // dialog's own copy.
    uint32_t GetPIN(char** ppszPIN);

private:
    static INT_PTR CALLBACK DialogProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);
    void OnInitDialog(HWND hDlg);
    void OnOK();
    void OnCancel();
    void UpdateOK();

    CPasswordEdit m_edit;
    HFONT m_hBoldFont = nullptr;
    HFONT m_hNormalFont = nullptr;
    CGdiplusSession m_gdiplus;
    CImageStatic m_picture;
    Gdiplus::Image* m_pImage = nullptr;
    uint32_t m_bClickOK = 0;
    uint32_t m_bInitialzie = 0;
    char m_szPIN[128] = {};
    int32_t m_nLeftTimes = 0;
    HWND m_hDlg = nullptr;
};

// The PIN window of the library: the dialog for the remaining tries.
uint32_t InputPINWindow(int32_t nLeftTimes, char** ppszPIN);
