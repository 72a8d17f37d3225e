#pragma once
// The PIN field: a subclassed edit control that never lets the typed
// characters reach the edit. While it has the focus it reads the keys
// through a low-level keyboard hook, keeps each character masked with a
// random byte and shows only asterisks.
#include <windows.h>

#include <cstdint>

constexpr uint32_t PASSWORD_MAX_CHARS = 16;

class CPasswordEdit {
public:
    CPasswordEdit();
    ~CPasswordEdit();
    CPasswordEdit(const CPasswordEdit&) = delete;
    CPasswordEdit& operator=(const CPasswordEdit&) = delete;

    // Allocates the buffers and draws the mask bytes (1 to 254).
    uint32_t Initialize();
    // Subclasses the edit window: 16 characters, '*', the 1 ms timer.
    bool Attach(HWND hEdit);
    HWND Window() const { return m_hWnd; }

    // 0 and a NUL-terminated copy of the PIN (malloc; the caller wipes and
    // frees it), or a failure.
    uint32_t GetDecryptPassword(char** ppszPassword);
    // The number of characters stored.
    uint32_t Length() const { return m_stPasswordDataBlob.cbData; }

#ifdef KEYLINQ_TEST_BINDING
    void SetMaskByteForTest(uint32_t index, uint8_t value) {
        if (m_lpbyRandomNumber && index < PASSWORD_MAX_CHARS) m_lpbyRandomNumber[index] = value;
    }
#endif

    static LRESULT CALLBACK LowLevelKeyboardProc(int nCode, WPARAM wParam, LPARAM lParam);
    // The character of a key as the keyboard state gives it (0: none).
    static uint8_t GetCharFromKey(UINT vk);

private:
    static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnSetFocusEditCtl(UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnKillFocusEditCtl(UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnLButtonDownEditCtl();
    LRESULT OnLButtonUpEditCtl();
    LRESULT OnLButtonDblClkEditCtl() { return 0; }
    LRESULT OnContextMenuEditCtl() { return 0; }
    bool InstallHook();
    static void RemoveHook();
    // Handles one key event of the hook; true when it is swallowed.
    bool OnKey(WPARAM message, const KBDLLHOOKSTRUCT* key);
    void Refresh();

    uint32_t m_focus = 0;
    uint8_t* m_lpbyRandomNumber = nullptr;  // 17 bytes
    struct {
        uint32_t cbData = 0;
        uint8_t* pBlobData = nullptr;  // 17 bytes
    } m_stPasswordDataBlob;
    HWND m_hWnd = nullptr;
    WNDPROC m_oldProc = nullptr;
    bool m_refreshing = false;
};
