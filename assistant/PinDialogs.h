#pragma once
// The two small modal windows through which the key layer asks the user for
// a PIN: CDlgInputPIN (enter the PIN) and CDlgSetInitPIN (a new PIN, typed
// twice). Each runs on the thread that asks, owns itself once created and
// deletes itself at its final message.
#include <windows.h>

#include <string>

#include "Button.h"
#include "Edit.h"
#include "Label.h"
#include "WindowUI.h"

// Characters of the caller's PIN buffer (the terminating zero included).
constexpr int PIN_BUFFER_CHARS = 64;

// Results the dialogs close with (WM_CLOSE's wParam).
constexpr UINT PIN_DIALOG_CONFIRMED = 1;
constexpr UINT PIN_DIALOG_CANCELLED = 2;

// The colours of the tips label.
constexpr DWORD PIN_TIP_COLOR_FIRST = 0xFF888888;
constexpr DWORD PIN_TIP_COLOR_ALERT = 0xFFE82D2D;

// The skin archive's password, the same for every window of the program.
const wchar_t* GetSkinArchivePassword();

// 6 to 8 characters, each an ASCII letter or digit.
bool IsValidInitPINFormat(const wchar_t* text);

// The EnumWindows search for the dialogs' owner: the first visible window of
// this process without an owner of its own.
struct TopWindowSearch {
    DWORD processId;
    HWND found;
};
BOOL CALLBACK FindProcessTopWindowProc(HWND hwnd, LPARAM lParam);
// The owner found that way, or null.
HWND FindProcessTopWindow();

// The parts both dialogs share: the skin, the self-deletion and the wipe of
// the PIN when the dialog ends.
class CPinDialogBase : public Veneer::CWindowUI {
public:
    // The caller's buffer of PIN_BUFFER_CHARS characters that a confirmed
    // PIN is copied into.
    void SetPasswordPtr(wchar_t* buffer);
    // Set to true when the object is deleted (the creator learns whether a
    // failed Create has already deleted it).
    void SetDeletedFlag(bool* deleted) { m_deleted = deleted; }

    // "kind=<kind> tip=<text> color=0x%08X edit=0|1 confirm=0|1" for the journal.
    std::wstring DescribeState(const wchar_t* kind) const;

    void OnFinalMessage(HWND hwnd) override;
    ~CPinDialogBase() override;
    Veneer::CUIString GetSkinFolder() override { return Veneer::CUIString(); }
    Veneer::SkinResourceType GetResourceType() const override { return Veneer::ResourceZip; }
    Veneer::CUIString GetZIPFileName() const override { return Veneer::CUIString(L"SkinMedia.zip"); }
    Veneer::CUIString GetZIPPassword() const override { return Veneer::CUIString(GetSkinArchivePassword()); }

protected:
    // Finds the tips label, the password edit (limited to maxChars) and the
    // confirm button (disabled); the edit starts empty.
    void InitControls(UINT maxChars);
    // A control of the layout by name, null when absent or of another kind.
    template <class T>
    T* FindControl(const wchar_t* name, const wchar_t* kind) {
        Veneer::CControlUI* control = m_pm.FindControlByName(name);
        return control ? static_cast<T*>(control->FindInterface(kind)) : nullptr;
    }
    // Empties a password edit, its native window included, leaving no copy.
    static void EmptyEdit(Veneer::CEditUI* edit);
    // The edit's input text into the caller's buffer (at most capacity - 1
    // characters); the working copy is wiped.
    static void CopyPIN(Veneer::CEditUI* edit, wchar_t* buffer, int capacity);
    static int InputLength(Veneer::CEditUI* edit);
    void ShowTip(const wchar_t* text, DWORD color);
    static bool IsSender(const Veneer::NotifyEvent& event, const wchar_t* name);

    Veneer::CLabelUI* m_pTipsLabel = nullptr;
    Veneer::CEditUI* m_pPasswordEdit = nullptr;
    Veneer::CButtonUI* m_pConfirmButton = nullptr;
    wchar_t* m_pPassword = nullptr;
    int m_nPasswordChars = 0;
    bool* m_deleted = nullptr;
};

class CDlgInputPIN : public CPinDialogBase {
public:
    const wchar_t* GetWindowClassName() const override { return L"VeneerInputPINWnd"; }
    Veneer::CUIString GetSkinFile() override { return Veneer::CUIString(L"XML_PINDLG"); }
    void InitWindow() override;
    void OnClick(Veneer::NotifyEvent& event) override;
    virtual void OnTextChanged(Veneer::NotifyEvent& event);

    // The tip for the first try (retry 0) or a retry, with the tries left;
    // none left: the locked tip, and only cancel stays possible.
    void SetInitialStatus(BOOL retry, DWORD remaining);

    VENEER_DECLARE_NOTIFY_MAP()
};

class CDlgSetInitPIN : public CPinDialogBase {
public:
    const wchar_t* GetWindowClassName() const override { return L"VeneerInputPINWnd"; }
    Veneer::CUIString GetSkinFile() override { return Veneer::CUIString(L"XML_INITPINDLG"); }
    void InitWindow() override;
    void OnClick(Veneer::NotifyEvent& event) override;
    virtual void OnTextChanged(Veneer::NotifyEvent& event);

private:
    // Confirm is enabled exactly when both edits hold 6 to 8 characters.
    void UpdateConfirmButton();

    Veneer::CEditUI* m_pConfirmEdit = nullptr;

    VENEER_DECLARE_NOTIFY_MAP()
};
