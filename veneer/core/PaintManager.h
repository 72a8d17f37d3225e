#pragma once
// The per-window paint manager: here its resource side (the window's and the
// shared resource sets, fonts, images, styles, image specifications, DPI
// scaling) and the process-wide skin settings.
#include <windows.h>
#include <commctrl.h>

#include "Control.h"
#include "DragDrop.h"
#include "DpiScaler.h"
#include "ResourceCache.h"
#include "Shadow.h"
#include "SkinArchive.h"
#include "UIValueTypes.h"

namespace Veneer {

// Message that deletes queued controls and delivers queued notifications.
const UINT kDeferredWorkMessage = 0x8001;

struct NotifyEvent {
    CUIString type;
    CUIString virtualWnd;
    CControlUI* sender = nullptr;
    DWORD timestamp = 0;
    POINT mouse = {};
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

class INotifyUI {
public:
    virtual void Notify(NotifyEvent& event) = 0;

protected:
    ~INotifyUI() = default;
};

class IMessageFilterUI {
public:
    virtual LRESULT FilterMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) = 0;

protected:
    ~IMessageFilterUI() = default;
};

class ITranslateAccelerator {
public:
    // 0: the message was translated and is consumed.
    virtual LRESULT TranslateAccelerator(MSG* message) = 0;

protected:
    ~ITranslateAccelerator() = default;
};

// A control that keeps the Tab key while it has the focus (the rich edit
// asks its "wanttab" setting); the manager then leaves Tab to it.
class ITabKeyWantedUI {
public:
    virtual bool IsTabWanted() const = 0;

protected:
    ~ITabKeyWantedUI() = default;
};

struct TimerEntry {
    CControlUI* control;
    UINT controlId;
    HWND window;
    UINT systemId;
    bool killed;
};

// MK_* flags of the keys and mouse buttons held now (Alt as 0x20).
WORD GetModifierKeyFlags();
// A child window's rectangle in its parent's client coordinates.
void ChildWindowClientRect(HWND child, RECT& out, HWND parent);
// Colour-table size of a packed DIB, whose header may come from another
// process: up to 8 bits per pixel at most 256 colours; the bytes never wrap.
DWORD DibColorCount(const BITMAPINFOHEADER* header);
unsigned long long DibColorTableBytes(const BITMAPINFOHEADER* header);

class CPaintManagerUI : public CIDropTarget {
public:
    CPaintManagerUI();
    virtual ~CPaintManagerUI();
    CPaintManagerUI(const CPaintManagerUI&) = delete;
    CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

    bool AttachWindow(HWND window);
    // Registers the window for OLE drops (bitmaps, DIBs, metafiles and
    // bitmap files); false when OLE refuses (no COM on the thread).
    bool RegisterDropTarget();
    bool IsDropTargetRegistered() const { return m_dropRegistered; }
    void RevokeDropTarget();
    // A dropped bitmap goes to the drop window with STM_SETIMAGE; true asks
    // the caller to release the medium.
    bool OnDataDropped(FORMATETC* format, STGMEDIUM& medium, DWORD* effect) override;
    // The manager lives in its window: OLE's last reference never deletes it.
    ULONG STDMETHODCALLTYPE Release() override;
    // The picture of the control that a drag from it carries, and the
    // effect that the last drag ended with.
    HBITMAP GetDragImage() const { return m_dragImage; }
    DWORD GetLastDragEffect() const { return m_lastDragEffect; }
    HWND GetPaintWindow() const { return m_paintWindow; }
    CShadowUI* GetShadow() { return &m_shadow; }
    HDC GetPaintDC() const { return m_paintDC; }
    CControlUI* GetRoot() const { return m_root; }
    CDpiScaler* GetDpiScaler();
    bool SetRootControl(CControlUI* root);

    // Message loop and pre-translation across the managers of the thread.
    static void RunMessageLoop();
    static bool FilterQueuedMessage(MSG* message);
    bool PreHandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Number of managers bound to windows (all threads).
    static int GetManagerCount();
    // Functions told of every manager that is being destroyed, before it
    // frees anything (UI thread; at most eight); false when full.
    typedef void (*ManagerGoneHook)(CPaintManagerUI* manager);
    static bool AddManagerGoneHook(ManagerGoneHook hook);

    bool AddNotifyListener(INotifyUI* listener);
    bool RemoveNotifyListener(INotifyUI* listener);
    bool AddPreFilter(IMessageFilterUI* filter);
    bool RemovePreFilter(IMessageFilterUI* filter);
    bool AddMessageFilter(IMessageFilterUI* filter);
    bool RemoveMessageFilter(IMessageFilterUI* filter);
    bool AddKeyTranslator(ITranslateAccelerator* translator);
    bool RemoveKeyTranslator(ITranslateAccelerator* translator);
    bool AddOverlayControl(CControlUI* control);
    bool RemoveOverlayControl(CControlUI* control);
    bool RegisterNativeWindow(HWND window);
    bool UnregisterNativeWindow(HWND window);
    const CPointerArray& GetOverlayControls() const { return m_overlays; }
    const CPointerArray& GetNativeWindows() const { return m_nativeWindows; }
    const CPointerArray& GetMessageFilters() const { return m_messageFilters; }
    const CPointerArray& GetKeyTranslators() const { return m_translators; }

    void InvalidateAll();
    void InvalidateArea(RECT& rect);
    const RECT& GetLayeredDirtyRect() const { return m_layeredDirty; }

    CControlUI* GetFocus() const { return m_focus; }
    void SetFocusedControl(CControlUI* control);
    void DeferFocus(CControlUI* control);
    bool FocusNextControl(bool forward);
    void CaptureMouse();
    void ReleaseMouse();
    bool IsCaptured() const { return m_captured; }
    CControlUI* FindControlAt(POINT point) const;
    CControlUI* FindControlByName(const wchar_t* name) const;
    // Enters every named control of a subtree in the name map.
    void RegisterControlNames(CControlUI* control);
    void ForgetControl(CControlUI* control);
    void QueueForDelete(CControlUI* control);

    bool SetControlTimer(CControlUI* control, UINT id, UINT period);
    bool KillControlTimer(CControlUI* control, UINT id);
    void KillControlTimers(CControlUI* control);
    void KillAllTimers();
    // The live timer of a control and id; null when there is none.
    const TimerEntry* FindTimer(CControlUI* control, UINT id) const;

    void SendNotification(CControlUI* sender, const wchar_t* type, WPARAM wParam = 0, LPARAM lParam = 0,
                          bool async = false);
    void DispatchNotification(NotifyEvent& event, bool async = false);

    bool AddToOptionGroup(const wchar_t* name, CControlUI* control);
    void RemoveFromOptionGroup(const wchar_t* name, CControlUI* control);
    void RemoveAllOptionGroups();
    CPointerArray* GetOptionGroup(const wchar_t* name) const;

    // Layout and focus requests that the next paint carries out.
    void SetLayoutPending(bool pending = true) { m_layoutPending = pending; }
    bool IsLayoutPending() const { return m_layoutPending; }
    void SetFocusPending(bool pending) { m_focusPending = pending; }
    bool IsFocusPending() const { return m_focusPending; }
    bool IsFirstPaintPending() const { return m_firstPaintPending; }
    void SetFirstPaintPending(bool pending) { m_firstPaintPending = pending; }

    // The last mouse position in client coordinates.
    POINT GetMousePos() const { return m_mousePos; }
    void SetMousePos(POINT point) { m_mousePos = point; }
    CControlUI* GetHoverControl() const { return m_hover; }
    void SetHoverControl(CControlUI* control) { m_hover = control; }
    CControlUI* GetPressedControl() const { return m_pressed; }
    void SetPressedControl(CControlUI* control) { m_pressed = control; }

    void UseVirtualWndNames() { m_virtualWndNames = true; }
    bool IsUsingVirtualWndNames() const { return m_virtualWndNames; }

    // Text through GDI+ ("gdiplustext") and its rendering hint ("textrenderinghint").
    void SetUseGdiplusText(bool on) { m_gdiplusText = on; }
    bool IsUsingGdiplusText() const { return m_gdiplusText; }
    void SetGdiplusTextRenderingHint(int hint) { m_textRenderingHint = hint; }
    int GetGdiplusTextRenderingHint() const { return m_textRenderingHint; }
    bool IsLayeredMode() const { return m_layered; }
    void SetLayeredModeFlag(bool on) { m_layered = on; }
    // Whole-window opacity through SetLayeredWindowAttributes.
    void SetOpacity(BYTE alpha);
    BYTE GetOpacity() const { return m_opacity; }
    // Opacity used by layered painting only ("layeredopacity").
    void SetLayeredOpacity(BYTE alpha);
    // Per-pixel alpha painting through UpdateLayeredWindow.
    void SetLayeredMode(bool on);

    // The caret the manager draws itself (layered windows show no system caret).
    bool IsCaretEnabled() const { return m_caretEnabled; }
    bool IsCaretDrawn() const { return m_caretDrawn; }
    const RECT& GetCaretRect() const { return m_caretRect; }
    CControlUI* GetCaretOwner() const { return m_caretOwner; }
    void SetCaretSize(int width, int height) {
        m_caretRect.right = m_caretRect.left + width;
        m_caretRect.bottom = m_caretRect.top + height;
    }
    bool SetCaretVisible(bool visible);
    bool MoveCaret(int x, int y, CControlUI* owner);
    void DrawCaret(HDC hdc, const RECT& paint);

    // Window settings from the layout's "Window" element.
    void SetSizeBox(const RECT& box) { m_sizeBox = box; }
    RECT GetSizeBox() const { return m_sizeBox; }
    void SetCaptionRect(const RECT& rect) { m_caption = rect; }
    RECT GetCaptionRect() const { return m_caption; }
    void SetRoundCorner(int cx, int cy) { m_roundCorner = SIZE{cx, cy}; }
    SIZE GetRoundCorner() const { return m_roundCorner; }
    void SetMinInfo(int cx, int cy) { m_minInfo = SIZE{cx, cy}; }
    SIZE GetMinInfo() const { return m_minInfo; }
    void SetMaxInfo(int cx, int cy) { m_maxInfo = SIZE{cx, cy}; }
    SIZE GetMaxInfo() const { return m_maxInfo; }
    void SetHoverTime(DWORD ms) { m_hoverTime = ms; }
    DWORD GetHoverTime() const { return m_hoverTime; }
    HWND GetToolTipWindow() const { return m_toolTip; }
    // The kept off-screen surface: 32-bit bottom-up rows, null before the first paint.
    const DWORD* GetOffscreenPixels() const { return m_offscreenBits; }
    SIZE GetOffscreenSize() const { return m_offscreenSize; }
    bool IsShowDirty() const { return m_showDirty; }
    void SetShowDirty(bool on) { m_showDirty = on; }

    // Resources declared through this manager go to the shared set.
    void SetUseSharedResources(bool shared) { m_useSharedResources = shared; }
    bool IsUsingSharedResources() const { return m_useSharedResources; }

    // Process-wide skin settings.
    static void SetInstance(HINSTANCE instance);
    static HINSTANCE GetInstance();
    static HINSTANCE GetResourceModule();
    static CUIString GetModuleFolder();
    static void SetResourceFolder(const wchar_t* path);
    static CUIString GetResourceFolder();
    static void SetSkinArchive(const wchar_t* name, bool cached, const wchar_t* password);
    static void SetSkinArchiveFromMemory(DWORD size, const wchar_t* password);
    // The heap copy of a "ZIPRES" archive (made by the window base; it lives
    // as long as the process).
    static void SetSkinArchiveMemory(const void* block);
    static const void* GetSkinArchiveMemory();
    static CUIString GetSkinArchiveName();
    static bool IsSkinArchiveCached();
    // The cached reader; use it only while holding the UI shared lock.
    static SkinZipReader* GetSkinArchiveReader();
    static CUIString GetSkinArchivePassword();

    // The window's size from its layout ("size"), DPI-scaled.
    SIZE GetInitSize() const { return m_initSize; }
    void SetInitSize(int cx, int cy);

    // Colours of the window's set.
    void SetDefaultDisabledColor(DWORD color) { m_resources.disabledTextColor = color; }
    void SetDefaultFontColor(DWORD color) { m_resources.defaultTextColor = color; }
    void SetDefaultLinkFontColor(DWORD color) { m_resources.linkTextColor = color; }
    void SetDefaultLinkHoverFontColor(DWORD color) { m_resources.linkHoverTextColor = color; }
    void SetDefaultSelectedBkColor(DWORD color) { m_resources.selectedBackColor = color; }
    DWORD GetDefaultDisabledColor() const { return m_resources.disabledTextColor; }
    DWORD GetDefaultFontColor() const { return m_resources.defaultTextColor; }
    DWORD GetDefaultLinkFontColor() const { return m_resources.linkTextColor; }
    DWORD GetDefaultLinkHoverFontColor() const { return m_resources.linkHoverTextColor; }
    DWORD GetDefaultSelectedBkColor() const { return m_resources.selectedBackColor; }

    // Fonts.
    FontEntry* GetDefaultFontEntry();
    void SetDefaultFont(const wchar_t* face, int size, bool bold, bool underline, bool italic, bool shared = false);
    HFONT AddFont(const wchar_t* face, int id, int size, bool bold, bool underline, bool italic, bool shared = false);
    bool AddFontFile(const wchar_t* fileName);
    HFONT GetFontHandle(int id);
    FontEntry* GetFontEntry(int id);
    FontEntry* GetFontEntryByHandle(HFONT font);
    HFONT FindFont(const wchar_t* face, int size, bool bold, bool underline, bool italic);
    // A variant of a font for marked-up text, under an id of its own (from
    // 30000 up) that no later variant replaces.
    HFONT AddVariantFont(const wchar_t* face, int size, bool bold, bool underline, bool italic);
    // The same for a style variant of a font in use, at that font's height.
    HFONT AddVariantFontOf(const FontEntry* base, bool bold, bool underline, bool italic);
    void RemoveAllFonts();
    int GetWindowFontCount() const { return m_resources.fonts.GetSize(); }
    static void DeleteFontEntry(FontEntry* entry);

    // Images.
    // The image of that name in the window's or the shared map; none is loaded.
    LoadedImage* FindImage(const wchar_t* name);
    LoadedImage* GetOrLoadImage(const wchar_t* name, const wchar_t* resourceType = nullptr,
                                DWORD mask = 0, bool adjustable = false);
    LoadedImage* AddImage(const wchar_t* resourceType, const wchar_t* name, DWORD mask,
                          bool adjustable, bool shared = false);
    void RemoveAllImages();

    // Image specifications.
    ImageDrawSpec* GetImageDrawSpec(const wchar_t* image, const wchar_t* modifier = nullptr);
    void RemoveAllDrawSpecs();

    // Class defaults and styles.
    void AddClassDefaults(const wchar_t* className, const wchar_t* attributes, bool shared = false);
    const wchar_t* GetClassDefaults(const wchar_t* className);
    void RemoveAllClassDefaults();
    void AddStyle(const wchar_t* name, const wchar_t* attributes, bool shared = false);
    const wchar_t* GetStyle(const wchar_t* name);
    void RemoveAllStyles();

private:
    HFONT CreateScaledFont(const wchar_t* face, int size, bool bold, bool underline, bool italic);
    void MeasureFont(FontEntry* entry);
    static void FreeFontMap(CStringKeyMap& map);
    static void FreeImageMap(CStringKeyMap& map);
    static void FreeStringMap(CStringKeyMap& map);
    static void FreeDrawSpecMap(CStringKeyMap& map);

    void RunDeferredWork();
    void StartDrag();
    // The window-message cases (mouse, keys, paint).
    bool HandlePaint();
    void ReleaseOffscreen();
    bool HandleMouseMove(WPARAM wParam, LPARAM lParam);
    void HandleButtonDown(UINT message, WPARAM wParam, LPARAM lParam);
    void HandleButtonUp(UINT message, WPARAM wParam, LPARAM lParam);
    void HandleWheel(WPARAM wParam, LPARAM lParam);
    void HandleKey(UINT message, WPARAM wParam, LPARAM lParam);
    void HandleLeave();
    bool HandleHover(LPARAM lParam);
    void PaintLayered(const RECT& paint, int width, int height);
    // The hover control is told the mouse left (no new control).
    void LeaveHover();
    CControlUI* OwnControlAt(POINT point) const;
    ControlEvent BuildEvent(ControlEventType type, CControlUI* sender, WPARAM wParam, LPARAM lParam) const;
    void Deliver(NotifyEvent& event);
    CControlUI* TabWalk(CControlUI* start, bool forward, CControlUI** lastSeen);
    bool ControlTimerIdHeld(UINT id) const;
    static void AddManager(CPaintManagerUI* manager);
    static void RemoveManager(CPaintManagerUI* manager);
    static bool IsManagerLive(CPaintManagerUI* manager);

    HWND m_paintWindow = nullptr;
    HDC m_offscreenDC = nullptr;
    HBITMAP m_offscreenBitmap = nullptr;
    DWORD* m_offscreenBits = nullptr;
    SIZE m_offscreenSize = {};
    bool m_mouseTracking = false;
    DWORD m_hoverTime = 400;
    HWND m_toolTip = nullptr;
    TOOLINFOW m_toolInfo = {};
    BYTE m_opacity = 255;
    bool m_layeredOpacity = false;
    RECT m_caretRect = {};
    bool m_caretDrawn = false;
    bool m_caretEnabled = false;
    CControlUI* m_caretOwner = nullptr;
    RECT m_sizeBox = {};
    RECT m_caption = {};
    SIZE m_roundCorner = {};
    SIZE m_minInfo = {};
    SIZE m_maxInfo = {};
    SIZE m_initSize = {};
    HDC m_paintDC = nullptr;
    CDpiScaler* m_dpiScaler = nullptr;
    bool m_showDirty = false;
    bool m_gdiplusText = false;
    int m_textRenderingHint = 0;
    bool m_layered = false;
    CControlUI* m_root = nullptr;
    CControlUI* m_focus = nullptr;
    CControlUI* m_hover = nullptr;
    CControlUI* m_pressed = nullptr;
    CControlUI* m_keyDown = nullptr;
    POINT m_mousePos = {-1, -1};
    UINT m_lastTimerId = 4096;
    bool m_firstPaintPending = false;
    bool m_layoutPending = false;
    bool m_focusPending = false;
    RECT m_layeredDirty = {};
    bool m_captured = false;
    bool m_dragPending = false;
    HBITMAP m_dragImage = nullptr;
    DWORD m_lastDragEffect = 0;
    bool m_dropRegistered = false;
    bool m_virtualWndNames = false;
    int m_nextVariantFont = 30000;
    CPointerArray m_listeners;
    CPointerArray m_timers;
    CPointerArray m_translators;
    CPointerArray m_preFilters;
    CPointerArray m_messageFilters;
    CPointerArray m_overlays;
    CPointerArray m_nativeWindows;
    CPointerArray m_deleteQueue;
    CPointerArray m_notifyQueue;
    CStringKeyMap m_names;
    CStringKeyMap m_optionGroups;
    ULONG_PTR m_gdiplusToken = 0;
    void* m_gdiplusInput = nullptr;
    bool m_useSharedResources = false;
    CPointerArray m_privateFonts;
    SkinResourceSet m_resources;
    CShadowUI m_shadow;
};

}  // namespace Veneer
