#pragma once
// Buttons and their kin: the push button, the option (a button with a
// selected state and named groups), the check box and the state bits they
// share.
#include "Label.h"

namespace Veneer {

// The state bits of a button, option or check box.
enum ButtonStateFlags : UINT {
    ButtonFocused = 0x01,
    ButtonSelected = 0x02,
    ButtonDisabled = 0x04,
    ButtonHot = 0x08,
    ButtonPushed = 0x10,
    ButtonCaptured = 0x40,
};

class CButtonUI : public CLabelUI {
public:
    CButtonUI();
    ~CButtonUI() override;

    static CControlUI* CreateButtonUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    UINT GetBehaviorFlags() const override;
    bool Activate() override;
    void SetEnabled(bool enabled = true) override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void PaintBackgroundColor(HDC hdc) override;
    void PaintStateImage(HDC hdc) override;
    void PaintForegroundImage(HDC hdc) override;
    void PaintText(HDC hdc) override;

    virtual const CUIString& GetStateImage() const;
    virtual void SetStateImage(const wchar_t* image);

    void SetNormalImage(const wchar_t* image);
    void SetHotImage(const wchar_t* image);
    void SetPushedImage(const wchar_t* image);
    void SetFocusedImage(const wchar_t* image);
    void SetDisabledImage(const wchar_t* image);
    void SetHotForeImage(const wchar_t* image);
    const CUIString& GetNormalImage() const { return m_normalImage; }
    const CUIString& GetHotImage() const { return m_hotImage; }
    const CUIString& GetPushedImage() const { return m_pushedImage; }
    const CUIString& GetFocusedImage() const { return m_focusedImage; }
    const CUIString& GetDisabledImage() const { return m_disabledImage; }
    const CUIString& GetHotForeImage() const { return m_hotForeImage; }
    int GetStateCount() const { return m_stateCount; }
    UINT GetButtonState() const { return m_state; }
    int GetBindTabIndex() const { return m_bindTabIndex; }
    const CUIString& GetBindTabLayoutName() const { return m_bindTabLayoutName; }

    // Shows the bound page of the bound tab layout.
    void SwitchBoundTab();

protected:
    // Focused and Disabled follow the control; in a disabled window only
    // Disabled is kept.
    void RefreshFocusAndDisabled(bool windowCheck);
    // The image strings of the first min(count, 4) frames of a strip picture
    // of count frames side by side; false when the picture cannot be had.
    bool CutStateStrip(const CUIString& strip, int count, CUIString frames[4]);
    // The plain text colours fall back to the window's defaults.
    void TakeDefaultTextColors();
    void DrawCaption(HDC hdc, DWORD color, int font);

    UINT m_state = 0;
    int m_hotFont = -1;
    int m_pushedFont = -1;
    int m_focusedFont = -1;
    DWORD m_hotBkColor = 0;
    DWORD m_pushedBkColor = 0;
    DWORD m_hotTextColor = 0;
    DWORD m_pushedTextColor = 0;
    DWORD m_focusedTextColor = 0;
    CUIString m_normalImage;
    CUIString m_hotImage;
    CUIString m_hotForeImage;
    CUIString m_pushedImage;
    CUIString m_focusedImage;
    CUIString m_disabledImage;
    int m_stateCount = 0;
    CUIString m_stateImage;
    int m_bindTabIndex = -1;
    CUIString m_bindTabLayoutName;
};

class COptionUI : public CButtonUI {
public:
    COptionUI();
    ~COptionUI() override;

    static CControlUI* CreateOptionUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    bool Activate() override;
    void AttachManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true) override;
    void SetEnabled(bool enabled = true) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void PaintBackgroundColor(HDC hdc) override;
    void PaintStateImage(HDC hdc) override;
    void PaintForegroundImage(HDC hdc) override;
    void PaintText(HDC hdc) override;

    virtual const CUIString& GetSelectedStateImage() const;
    virtual void SetSelectedStateImage(const wchar_t* image);
    virtual void SetSelected(bool selected);

    bool IsSelected() const { return m_selected; }
    const CUIString& GetGroup() const { return m_group; }
    void SetGroup(const wchar_t* name);
    void SetSelectedImage(const wchar_t* image);
    void SetSelectedHotImage(const wchar_t* image);
    void SetSelectedPushedImage(const wchar_t* image);
    void SetSelectedForeImage(const wchar_t* image);
    const CUIString& GetSelectedImage() const { return m_selectedImage; }
    const CUIString& GetSelectedHotImage() const { return m_selectedHotImage; }
    const CUIString& GetSelectedPushedImage() const { return m_selectedPushedImage; }

protected:
    // The selection change itself; the check box sends its new state.
    void ChangeSelection(bool selected, WPARAM notifyWParam);

    bool m_selected = false;
    CUIString m_group;
    int m_selectedFont = -1;
    DWORD m_selectedBkColor = 0;
    DWORD m_selectedTextColor = 0;
    CUIString m_selectedImage;
    CUIString m_selectedHotImage;
    CUIString m_selectedPushedImage;
    CUIString m_selectedForeImage;
    int m_selectedStateCount = 0;
    CUIString m_selectedStateImage;
};

class CCheckBoxUI : public COptionUI {
public:
    static CControlUI* CreateCheckBoxUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void SetSelected(bool selected) override;

    bool IsAutoCheck() const { return m_autoCheck; }
    void SetAutoCheck(bool on) { m_autoCheck = on; }

protected:
    bool m_autoCheck = false;
};

}  // namespace Veneer
