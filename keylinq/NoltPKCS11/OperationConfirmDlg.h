#pragma once
// The confirmation dialog (dialog 8102): shows the task's text while its
// worker repeats the key's command, and counts down 30 seconds through the
// timer of a hidden window.
#include <windows.h>

#include <cstdint>

#include "ImageStatic.h"
#include "SKFWindows.h"

class COperationConfirmDlg;

// A never-shown window whose timer advances the owner's countdown.
class CWinHidden {
public:
    CWinHidden() = default;
    ~CWinHidden();
    CWinHidden(const CWinHidden&) = delete;
    CWinHidden& operator=(const CWinHidden&) = delete;

    bool Create(COperationConfirmDlg* owner, UINT periodMs);
    void Destroy();
    HWND Window() const { return m_hWnd; }

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    HWND m_hWnd = nullptr;
    UINT_PTR m_timerId = 0;
    COperationConfirmDlg* m_owner = nullptr;
};

class COperationConfirmDlg {
public:
    COperationConfirmDlg();
    ~COperationConfirmDlg();
    COperationConfirmDlg(const COperationConfirmDlg&) = delete;
    COperationConfirmDlg& operator=(const COperationConfirmDlg&) = delete;

    // Shows the dialog modal with the task; returns once it has ended.
    INT_PTR DoModal(CONFIRM_TASK* pTask);
    // One step of the countdown: the label shows the seconds left; at 0 the
    // task times out and the dialog closes.
    void SetBtnText();

    static DWORD WINAPI ConfirmWorkingThread(LPVOID pTask);

private:
    static INT_PTR CALLBACK DialogProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);
    void OnInitDialog(HWND hDlg, CONFIRM_TASK* pTask);
    HBRUSH OnCtlColorStatic(HDC dc, HWND control);
    void Finish(uint32_t outcome);

    HANDLE m_hThread = nullptr;
    HFONT m_hBoldFont = nullptr;
    HFONT m_hBoldUnderlineFont = nullptr;
    CImageStatic m_picture;
    Gdiplus::Image* m_pImage = nullptr;
    CWinHidden m_hidden;
    CONFIRM_TASK* m_pTask = nullptr;
    CGdiplusSession m_gdiplus;
    HWND m_hDlg = nullptr;
    int m_countdown = 30;  // each dialog counts its own seconds
};

// The confirmation window of the library.
uint32_t OperationConfirmWindow(CONFIRM_TASK* pTask);

// The countdown's period and the worker's pause: 1000 ms and 300 ms; test
// builds take them from KEYLINQ_TEST_CONFIRM_TICK_MS and
// KEYLINQ_TEST_BUTTON_PAUSE_MS.
UINT ConfirmTickPeriod();
