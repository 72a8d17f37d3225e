#pragma once
// The library's two windows as the SKF objects see them: the PIN entry
// window (the remaining tries in, a PIN or a cancel out) and the
// confirmation window (shows a task's text while the task's worker repeats
// the key's command, and returns once both the window and the worker have
// ended). The windows themselves are installed through SetSKFWindows; until
// a window is installed nothing is shown and every request fails with
// 0x80070108, never with success.
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "OperationCallback.h"

// Dialog texts of the library's string table.
constexpr UINT IDS_PIN_PROMPT = 101;
constexpr UINT IDS_PIN_OK = 103;
constexpr UINT IDS_PIN_CANCEL = 104;
constexpr UINT IDS_CONFIRM_CANCEL_SECONDS = 105;
constexpr UINT IDS_ERROR = 106;
constexpr UINT IDS_DEVICE_LOCKED = 107;
constexpr UINT IDS_PIN_EMPTY = 108;
constexpr UINT IDS_PIN_TRIES_LEFT = 109;
constexpr UINT IDS_CONFIRM_VERIFY_PIN = 122;
constexpr UINT IDS_CONFIRM_CHANGE_PIN = 123;
constexpr UINT IDS_CONFIRM_SIGN = 124;

constexpr uint32_t SKF_WINDOW_NOT_SHOWN = 0x80070108u;  // no window installed
constexpr uint32_t CONFIRM_TASK_TEXT_CHARS = 260;
constexpr uint32_t CONFIRM_TASK_MODE_CONTEXTS = 3;  // the task function takes the two contexts
// The task's result while its worker runs and nobody has decided yet.
constexpr uint32_t CONFIRM_RESULT_PENDING = 0x8000000Au;  // E_PENDING

typedef uint32_t (*CONFIRM_TASK_FN)(SKF_CALLBACK_CONTEXT* pstCallbackContext, MIDDLEWARE_CONTEXT* pMiddlewareContext);

// What the confirmation window and its worker share. The result starts as
// a failure: a window that returns without its worker having run leaves it.
struct CONFIRM_TASK {
    HWND hDialog = nullptr;  // written by the window when it opens; the worker closes it through it
    uint32_t reserved = 1;
    const wchar_t* pszText = nullptr;
    uint32_t mode = CONFIRM_TASK_MODE_CONTEXTS;
    CONFIRM_TASK_FN pfnTask = nullptr;
    SKF_CALLBACK_CONTEXT* pCallbackContext = nullptr;
    MIDDLEWARE_CONTEXT* pMiddlewareContext = nullptr;
    std::atomic<uint32_t> result{MW_E_NOT_CARRIED_OUT};
};

// The PIN window: 0 and a PIN allocated with malloc (NUL-terminated; the
// caller wipes and frees it with FreeUserPIN), 0x8010006E when the user
// cancelled, or another failure.
typedef uint32_t (*SKF_PIN_WINDOW)(int32_t nLeftTimes, char** ppszPIN);
// The confirmation window: 0 once the window was shown and it and the
// task's worker (ConfirmWorkingThread) have both ended; a failure when the
// window could not be shown (then no worker ran).
typedef uint32_t (*SKF_CONFIRM_WINDOW)(CONFIRM_TASK* pTask);

struct SKF_WINDOWS {
    SKF_PIN_WINDOW pfnPinWindow = nullptr;
    SKF_CONFIRM_WINDOW pfnConfirmWindow = nullptr;
};

// Installs the windows (a null member: nothing shown); returns the previous.
SKF_WINDOWS SetSKFWindows(const SKF_WINDOWS& windows);

// The PIN dialog's entry point: no tries left is SAR_PIN_LOCKED without a
// window; otherwise the PIN window's answer.
uint32_t ShowUserPinDialog(int32_t nLeftTimes, char** ppszPIN);
void FreeUserPIN(char* pszPIN);
// Shows the confirmation window for the task.
uint32_t ShowConfirmWindow(CONFIRM_TASK* pTask);

// The confirmation worker: runs the task function with its two contexts,
// maps the key's refusals (0x8000F322 cancelled, 0x8000F323 timed out),
// writes the outcome into the task's result and the status word, and
// closes the window (WM_CLOSE, sent) when it has one.
uint32_t ConfirmWorkingThread(CONFIRM_TASK* pTask);
// The window's own outcome (the user cancelled, the countdown ended): into
// the task's result and the status word, which the worker polls, only while
// neither the worker's final result nor an earlier outcome is there (false
// then).
bool SetConfirmOutcome(CONFIRM_TASK* pTask, uint32_t outcome);

// A text of the library's string table ("" when missing).
void LoadSKFString(UINT id, wchar_t* buffer, int chars);
