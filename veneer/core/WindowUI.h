#pragma once
// The base of every skinned application window: the native window, the
// notification pump, the paint manager and the builder's callbacks in one
// object. The skin is loaded at WM_CREATE; the window has no system frame
// (the skin draws it) and hit-tests the skin for caption and borders.
#include <windows.h>

#include "LayoutBuilder.h"
#include "NotifyPump.h"
#include "PaintManager.h"
#include "ResourceCatalog.h"
#include "WindowWnd.h"

namespace Veneer {

enum SkinResourceType {
    ResourceFiles = 1,        // files under the resource folder
    ResourceZip = 2,          // a zip file in the resource folder
    ResourceModule = 3,       // layout as a module resource of type "xml"
    ResourceZipInModule = 4,  // a zip held as a module resource of type "ZIPRES"
};

// Tells the user that a window's skin could not be loaded. The default shows
// a message box; tests put a recorder in its place.
typedef void (*SkinFailureReporter)(const wchar_t* text, const wchar_t* caption);
SkinFailureReporter SetSkinFailureReporter(SkinFailureReporter reporter);

class CWindowUI : public CWindowWnd,
                  public CNotifyPump,
                  public INotifyUI,
                  public IMessageFilterUI,
                  public IDialogBuilderCallback,
                  public IQueryControlText {
public:
    CWindowUI() = default;

    const wchar_t* GetWindowClassName() const override = 0;
    UINT GetWindowClassStyle() const override { return CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS; }
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND window) override;
    ~CWindowUI() override;

    virtual void InitResource();
    // Called after the control tree is attached.
    virtual void InitWindow() {}
    virtual void OnClick(NotifyEvent& event);
    // Skin folder relative to the module folder.
    virtual CUIString GetSkinFolder() = 0;
    // Layout file name; for ResourceModule the resource id as decimal text.
    virtual CUIString GetSkinFile() = 0;
    virtual LRESULT OnDefaultKey(WPARAM key) { return key == VK_ESCAPE ? 1 : 0; }
    virtual SkinResourceType GetResourceType() const { return ResourceZip; }
    virtual CUIString GetZIPFileName() const { return CUIString(); }
    virtual CUIString GetZIPPassword() const { return CUIString(); }
    virtual const wchar_t* GetResourceID() const { return L""; }
    virtual LRESULT OnClose(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnDestroy(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnNcActivate(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnNcCalcSize(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnNcPaint(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnNcHitTest(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnGetMinMaxInfo(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnMouseWheel(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnMouseHover(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnSize(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnChar(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnSysCommand(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnCreate(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnKeyDown(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnKillFocus(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnSetFocus(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnLButtonDown(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnLButtonUp(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnMouseMove(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    // Every message without a handler slot (and those whose slot cleared handled).
    virtual LRESULT HandleCustomMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    // The window's style without WS_CAPTION.
    virtual LONG GetStyle();

    // The interface parts.
    void Notify(NotifyEvent& event) override;
    LRESULT FilterMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    CControlUI* CreateCustomControl(const wchar_t* className) override {
        (void)className;
        return nullptr;
    }
    const wchar_t* QueryControlText(const wchar_t* textId, const wchar_t* controlName) override {
        (void)textId;
        (void)controlName;
        return nullptr;
    }

    // True when the control and each of its parents is a plain element
    // (label, text, layout) that lets a press in the caption drag the window.
    static bool IsCaptionPassThrough(CControlUI* control);

    CPaintManagerUI m_pm;

    VENEER_DECLARE_NOTIFY_MAP()
};

}  // namespace Veneer
