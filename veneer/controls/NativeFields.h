#pragma once
// Fields for values that COMCTL32 has editors for: a date, an IPv4 address
// and a hot key. Each is a label showing its value as text; while it is
// edited, a native editor window lies over it and the value travels into the
// editor when it opens and back into the text when the user commits. The
// in-place address field edits its four numbers without a native window.
#include "Edit.h"
#include "Label.h"
#include "WindowWnd.h"

namespace Veneer {

class CDateTimeUI;
class CIPAddressUI;
class CHotKeyUI;

// The local host's IPv4 address (first number in the top byte); 0 when
// Winsock or the host look-up fails or the entry holds no IPv4 address.
DWORD GetLocalHostAddress();
// A key's name as the keyboard layout gives it; the navigation keys are
// named as extended keys.
CUIString GetKeyName(UINT virtualKey, bool extended);

// What the three editors share: the owner goes away first.
class CFieldEditorWnd : public CWindowWnd {
public:
    UINT GetWindowClassStyle() const override { return 0; }
    // The owner is going away: the editor window goes now, and its final
    // steps leave the owner alone.
    void DestroyForOwner();

protected:
    virtual void DetachOwner() = 0;

    CPaintManagerUI* m_manager = nullptr;
};

// The state image of a field: disabled, focused or hot image when set and
// drawn, else the normal image; the state bits follow focus and enabling.
void PaintFieldStateImage(CControlUI* field, HDC hdc, UINT& state, const CUIString& normal, const CUIString& hot,
                          const CUIString& focused, const CUIString& disabled);

class CDateTimeWnd : public CFieldEditorWnd {
public:
    void Init(CDateTimeUI* owner);
    RECT CalcPos() const;
    bool IsDroppedDown() const { return m_droppedDown; }

    const wchar_t* GetWindowClassName() const override;
    const wchar_t* GetBaseClassName() const override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND window) override;

protected:
    void DetachOwner() override { m_owner = nullptr; }

private:
    void TakeDate();

    CDateTimeUI* m_owner = nullptr;
    bool m_droppedDown = false;
    SYSTEMTIME m_oldDate = {};
    bool m_layered = false;
};

class CDateTimeUI : public CLabelUI {
    friend class CDateTimeWnd;

public:
    CDateTimeUI();
    ~CDateTimeUI() override;

    static CControlUI* CreateDateTimeUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void SetPos(RECT rect, bool invalidate = true) override;
    void HandleEvent(ControlEvent& event) override;

    const SYSTEMTIME& GetTime() const { return m_date; }
    void SetTime(const SYSTEMTIME& date);
    // The date's text when the editor's date has been taken (update mode 1).
    void UpdateText();
    CDateTimeWnd* GetEditor() const { return m_editor; }

private:
    void OpenEditor();

    SYSTEMTIME m_date = {};
    int m_updateMode = 0;
    CDateTimeWnd* m_editor = nullptr;
};

class CIPAddressWnd : public CFieldEditorWnd {
public:
    void Init(CIPAddressUI* owner);
    RECT CalcPos() const;

    const wchar_t* GetWindowClassName() const override;
    const wchar_t* GetBaseClassName() const override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND window) override;

protected:
    void DetachOwner() override { m_owner = nullptr; }

private:
    LRESULT OnKillFocus(UINT message, WPARAM wParam, LPARAM lParam);

    CIPAddressUI* m_owner = nullptr;
};

class CIPAddressUI : public CLabelUI {
    friend class CIPAddressWnd;

public:
    CIPAddressUI();
    ~CIPAddressUI() override;

    static CControlUI* CreateIPAddressUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void SetPos(RECT rect, bool invalidate = true) override;
    void HandleEvent(ControlEvent& event) override;

    DWORD GetIP() const { return m_ip; }
    void SetIP(DWORD address);
    void UpdateText();
    CIPAddressWnd* GetEditor() const { return m_editor; }

private:
    // Creates the editor object when there is none; false when none can be had.
    bool MakeEditor();
    // Fills and shows the editor; an editor without a window is dropped.
    void InitEditor();

    DWORD m_ip = 0;
    int m_updateMode = 0;
    CIPAddressWnd* m_editor = nullptr;
};

class CHotKeyWnd : public CFieldEditorWnd {
public:
    void Init(CHotKeyUI* owner);
    RECT CalcPos() const;
    CUIString GetHotKeyText() const;
    void OnHotKeyChanged();

    const wchar_t* GetWindowClassName() const override;
    const wchar_t* GetBaseClassName() const override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND window) override;

protected:
    void DetachOwner() override { m_owner = nullptr; }

private:
    void PaintEditor();

    CHotKeyUI* m_owner = nullptr;
    bool m_ready = false;
};

class CHotKeyUI : public CLabelUI {
    friend class CHotKeyWnd;

public:
    CHotKeyUI();
    ~CHotKeyUI() override;

    static CControlUI* CreateHotKeyUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    UINT GetBehaviorFlags() const override;
    void SetText(const wchar_t* text) override;
    void SetPos(RECT rect, bool invalidate = true) override;
    void SetVisible(bool show = true) override;
    void SetParentVisible(bool show) override;
    void SetEnabled(bool enabled = true) override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    SIZE MeasureSize(SIZE available) override;
    void PaintStateImage(HDC hdc) override;
    void PaintText(HDC hdc) override;

    WORD GetVirtualKey() const { return m_virtualKey; }
    WORD GetModifiers() const { return m_modifiers; }
    void SetHotKey(WORD virtualKey, WORD modifiers);
    DWORD GetNativeBkColor() const { return m_nativeBkColor; }
    CHotKeyWnd* GetEditor() const { return m_editor; }

private:
    void OpenEditor();

    CHotKeyWnd* m_editor = nullptr;
    UINT m_state = 0;
    CUIString m_normalImage;
    CUIString m_hotImage;
    CUIString m_focusedImage;
    CUIString m_disabledImage;
    DWORD m_nativeBkColor = 0xFFFFFFFF;
    WORD m_virtualKey = 0;
    WORD m_modifiers = 0;
};

class CIPAddressExUI : public CEditUI {
public:
    CIPAddressExUI();
    ~CIPAddressExUI() override;

    static CControlUI* CreateIPAddressExUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void HandleEvent(ControlEvent& event) override;
    void PaintText(HDC hdc) override;

    int GetNumber(int field) const { return field >= 1 && field <= 4 ? m_numbers[field - 1] : 0; }
    void SetNumbers(int a, int b, int c, int d);
    int GetCurrentField() const { return m_field; }
    const CUIString& GetTypedDigits() const { return m_typed; }

private:
    void UpdateText();
    void Commit();
    void TypeDigit(wchar_t digit);
    void Step(int delta);

    int m_numbers[4] = {};
    int m_field = 0;
    wchar_t m_lastDigit = 0;
    CUIString m_typed;
};

}  // namespace Veneer
