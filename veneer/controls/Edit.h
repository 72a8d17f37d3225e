#pragma once
// The single-line text field: painted like a label (text, tip text, state
// images, password characters); while it has the focus a native EDIT window
// over its text area does the editing.
#include "Label.h"
#include "WindowWnd.h"

namespace Veneer {

class CEditUI;

class CEditWnd : public CWindowWnd {
public:
    CEditWnd();
    ~CEditWnd() override;

    void Init(CEditUI* owner);
    // The native window's rectangle (client coordinates of the host, or
    // screen coordinates for the pop-up of a layered window).
    RECT CalcEditPos() const;
    RECT CalcWindowPos() const;
    // The owner is going away: the final steps leave it alone.
    void DetachOwner() { m_owner = nullptr; }

    const wchar_t* GetWindowClassName() const override;
    const wchar_t* GetBaseClassName() const override;
    UINT GetWindowClassStyle() const override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND window) override;

private:
    LRESULT OnKillFocus(WPARAM wParam, LPARAM lParam);
    void OnEditChanged();
    LRESULT OnControlColor(WPARAM wParam);

    CEditUI* m_owner = nullptr;
    CPaintManagerUI* m_manager = nullptr;
    HBRUSH m_brush = nullptr;
    bool m_caretOn = false;
    bool m_ready = false;
    bool m_layered = false;
};

class CEditUI : public CLabelUI {
    friend class CEditWnd;

public:
    CEditUI();
    ~CEditUI() override;

    static CControlUI* CreateEditUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    UINT GetBehaviorFlags() const override;
    void SetText(const wchar_t* text) override;
    void SetPos(RECT rect, bool invalidate = true) override;
    void MoveBy(int dx, int dy, bool invalidate = true) override;
    void SetVisible(bool show = true) override;
    void SetParentVisible(bool show) override;
    void SetEnabled(bool enabled = true) override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    SIZE MeasureSize(SIZE available) override;
    void PaintStateImage(HDC hdc) override;
    void PaintText(HDC hdc) override;

    CUIString GetInputText() const;
    CUIString GetTipValue() const;
    void SetTipValue(const wchar_t* text) { m_tipValue = text; }
    void SetTipValueColor(DWORD color) { m_tipColor = color; }
    DWORD GetTipValueColor() const { return m_tipColor; }
    void SetNativeTextColor(DWORD color) { m_nativeTextColor = color; }
    void SetNativeBkColor(DWORD color) { m_nativeBkColor = color; }
    DWORD GetNativeBkColor() const { return m_nativeBkColor; }
    void SetPassword(bool on);
    bool IsPassword() const { return m_password; }
    void SetPasswordChar(wchar_t ch);
    wchar_t GetPasswordChar() const { return m_passwordChar; }
    void SetMaxChar(UINT count);
    UINT GetMaxChar() const { return m_maxChar; }
    void ApplyMaxChar();
    void SetReadOnly(bool on);
    bool IsReadOnly() const { return m_readOnly; }
    void SetNormalImage(const wchar_t* image);
    void SetHotImage(const wchar_t* image);
    void SetFocusedImage(const wchar_t* image);
    void SetDisabledImage(const wchar_t* image);
    DWORD GetExtraNativeStyles() const { return m_extraStyles; }
    // The open native window, or null while idle.
    CEditWnd* GetNativeWindow() const { return m_window; }
    HWND GetNativeHandle() const;
    UINT GetEditState() const { return m_state; }

private:
    void OpenNativeWindow();
    void SelectAllNative();
    void MoveNativeWindow(UINT flags);

    CEditWnd* m_window = nullptr;
    UINT m_maxChar = 255;
    bool m_readOnly = false;
    bool m_password = false;
    bool m_cueResText = false;
    wchar_t m_passwordChar = L'*';
    UINT m_state = 0;
    CUIString m_normalImage;
    CUIString m_hotImage;
    CUIString m_focusedImage;
    CUIString m_disabledImage;
    CUIString m_tipValue;
    DWORD m_tipColor = 0xFFBAC0C5;
    DWORD m_nativeBkColor = 0xFFFFFFFF;
    DWORD m_nativeTextColor = 0;
    DWORD m_extraStyles = 0;
};

}  // namespace Veneer
