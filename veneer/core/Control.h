#pragma once
// The base of every element of a skinned window: its place in the tree, its
// position and size rules, flags, texts, event sources, attribute vocabulary
// and paint steps.
#include <windows.h>

#include "UIValueTypes.h"

namespace Veneer {

class CPaintManagerUI;
class CControlUI;

enum ControlEventType {
    EventKeyDown = 3,
    EventKeyUp = 4,
    EventChar = 5,
    EventSysKey = 6,
    EventMouseMove = 9,
    EventMouseLeave = 10,
    EventMouseEnter = 11,
    EventMouseHover = 12,
    EventButtonDown = 13,
    EventButtonUp = 14,
    EventRightButtonDown = 15,
    EventRightButtonUp = 16,
    EventMiddleButtonDown = 17,
    EventMiddleButtonUp = 18,
    EventDoubleClick = 19,
    EventContextMenu = 20,
    EventScrollWheel = 21,
    EventKillFocus = 23,
    EventSetFocus = 24,
    EventWindowSize = 25,
    EventSetCursor = 26,
    EventTimer = 27,
};

inline bool IsMouseEvent(int type) { return type > 8 && type < 22; }

struct ControlEvent {
    ControlEventType type;
    CControlUI* sender;
    DWORD timestamp;
    POINT mouse;
    WORD key;
    WORD keyState;
    WPARAM wParam;
    LPARAM lParam;
};

enum FindFlags {
    FindVisible = 0x1,
    FindEnabled = 0x2,
    FindHitTest = 0x4,
    FindStopAtAccepted = 0x8,
    FindLastChildFirst = 0x10,
    FindContainerFirst = 0x80000000,
};

// Attribute value helpers: up to count numbers separated by one character
// each (missing ones 0), and a boolean that is true only for "true".
void ReadIntList(const wchar_t* value, long* out, int count);
void ReadDoubleList(const wchar_t* value, double* out, int count);
bool ReadBool(const wchar_t* value);

typedef CControlUI* (*FindControlProc)(CControlUI* control, void* data);

class CDelegateBase {
public:
    CDelegateBase(void* object, void* function) : m_object(object), m_function(function) {}
    virtual ~CDelegateBase() = default;
    virtual CDelegateBase* Clone() const = 0;
    virtual bool Invoke(void* parameter) = 0;
    bool Equals(const CDelegateBase& other) const {
        return m_object == other.m_object && m_function == other.m_function;
    }
    void* GetObject() const { return m_object; }
    void* GetFunction() const { return m_function; }

protected:
    void* m_object;
    void* m_function;
};

// A plain function taking the parameter.
class CDelegateFunction : public CDelegateBase {
public:
    typedef bool (*Function)(void* parameter);
    explicit CDelegateFunction(Function fn) : CDelegateBase(nullptr, reinterpret_cast<void*>(fn)), m_fn(fn) {}
    CDelegateBase* Clone() const override { return new CDelegateFunction(*this); }
    bool Invoke(void* parameter) override { return m_fn(parameter); }

private:
    Function m_fn;
};

// A member function of a class; the parameter is passed as a P*.
template <class O, class T>
class CDelegate : public CDelegateBase {
public:
    typedef bool (T::*Function)(void* parameter);
    CDelegate(O* object, Function fn) : CDelegateBase(object, nullptr), m_fn(fn) {
        // The member pointer's first word identifies the function.
        m_function = *reinterpret_cast<void**>(&m_fn);
    }
    CDelegateBase* Clone() const override { return new CDelegate(*this); }
    bool Invoke(void* parameter) override {
        O* object = static_cast<O*>(m_object);
        return (object->*m_fn)(parameter);
    }

private:
    Function m_fn;
};

class CDelegateList {
public:
    CDelegateList() = default;
    ~CDelegateList();
    CDelegateList(const CDelegateList&) = delete;
    CDelegateList& operator=(const CDelegateList&) = delete;

    void Add(const CDelegateBase& delegate);
    void operator+=(const CDelegateBase& delegate) { Add(delegate); }
    bool Invoke(void* parameter);
    bool IsEmpty() const { return m_delegates.IsEmpty(); }
    int GetSize() const { return m_delegates.GetSize(); }

private:
    CPointerArray m_delegates;
};

class CControlUI {
public:
    CControlUI();
    virtual ~CControlUI();
    CControlUI(const CControlUI&) = delete;
    CControlUI& operator=(const CControlUI&) = delete;

    static CControlUI* CreateControlUI();

    virtual CUIString GetName() const;
    virtual void SetName(const wchar_t* name);
    virtual const wchar_t* GetClassTag() const;
    virtual void* FindInterface(const wchar_t* tag);
    virtual UINT GetBehaviorFlags() const;
    virtual bool Activate();
    virtual CPaintManagerUI* GetManager() const;
    virtual void AttachManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true);
    virtual CControlUI* GetParent() const;
    virtual CUIString GetText() const;
    virtual void SetText(const wchar_t* text);
    virtual bool IsResourceText() const;
    virtual void SetResourceText(bool on);
    virtual bool IsResourceToolTip() const;
    virtual void SetResourceToolTip(bool on);
    virtual bool IsDragEnabled() const;
    virtual void SetDragEnabled(bool on);
    virtual bool IsDropEnabled() const;
    virtual void SetDropEnabled(bool on);
    virtual RECT GetRelativePos() const;
    virtual RECT GetContentRect() const;
    virtual const RECT& GetPos() const;
    virtual void SetPos(RECT rect, bool invalidate = true);
    virtual void MoveBy(int dx, int dy, bool invalidate = true);
    virtual int GetWidth() const;
    virtual int GetHeight() const;
    virtual int GetX() const;
    virtual int GetY() const;
    virtual RECT GetPadding() const;
    virtual void SetPadding(int left, int top, int right, int bottom);
    virtual SIZE GetFixedXY() const;
    virtual void SetFixedXY(int x, int y);
    virtual int GetFixedWidth() const;
    virtual void SetFixedWidth(int width);
    virtual int GetFixedHeight() const;
    virtual void SetFixedHeight(int height);
    virtual int GetMinWidth() const;
    virtual void SetMinWidth(int width);
    virtual int GetMaxWidth() const;
    virtual void SetMaxWidth(int width);
    virtual int GetMinHeight() const;
    virtual void SetMinHeight(int height);
    virtual int GetMaxHeight() const;
    virtual void SetMaxHeight(int height);
    virtual void GetFloatPercent(double* left, double* top, double* right, double* bottom) const;
    virtual void SetFloatPercent(double left, double top, double right, double bottom);
    virtual void SetFloatAlign(UINT bits);
    virtual UINT GetFloatAlign() const;
    virtual CUIString GetToolTip() const;
    virtual void SetToolTip(const wchar_t* text);
    virtual void SetToolTipWidth(int width);
    virtual int GetToolTipWidth() const;
    virtual WORD GetCursor() const;
    virtual void SetCursor(WORD cursor);
    virtual wchar_t GetShortcut() const;
    virtual void SetShortcut(wchar_t ch);
    virtual bool IsMenuEnabled() const;
    virtual void SetMenuEnabled(bool on);
    virtual const CUIString& GetUserData() const;
    virtual void SetUserData(const wchar_t* text);
    virtual UINT_PTR GetTag() const;
    virtual void SetTag(UINT_PTR tag);
    virtual bool IsVisible() const;
    virtual void SetVisible(bool show = true);
    virtual void SetParentVisible(bool show);
    virtual bool IsEnabled() const;
    virtual void SetEnabled(bool enabled = true);
    virtual bool IsMouseEnabled() const;
    virtual void SetMouseEnabled(bool enabled = true);
    virtual bool IsKeyboardEnabled() const;
    virtual void SetKeyboardEnabled(bool enabled = true);
    virtual bool IsFocused() const;
    virtual void TakeFocus();
    virtual bool IsFloat() const;
    virtual void SetFloat(bool on = true);
    virtual CControlUI* FindControl(FindControlProc callback, void* data, UINT flags);
    virtual void Initialize();
    virtual void OnInitialize();
    virtual bool RaiseEvent(ControlEvent& event);
    virtual void HandleEvent(ControlEvent& event);
    virtual void SetAttribute(const wchar_t* name, const wchar_t* value);
    virtual SIZE MeasureSize(SIZE available);
    virtual void Paint(HDC hdc, const RECT& paint);
    virtual void PaintBackgroundColor(HDC hdc);
    virtual void PaintBackgroundImage(HDC hdc);
    virtual void PaintStateImage(HDC hdc);
    virtual void PaintForegroundColor(HDC hdc);
    virtual void PaintForegroundImage(HDC hdc);
    virtual void PaintText(HDC hdc);
    virtual void PaintBorder(HDC hdc);
    virtual void PaintOverlay(HDC hdc, const RECT& paint);

    void Invalidate();
    bool IsLayoutPending() const { return m_layoutPending; }
    void MarkForLayout();
    void MarkParentForLayout();
    void SetVirtualWnd(const wchar_t* name);
    CUIString GetVirtualWnd() const;
    void ApplyAttributeString(const wchar_t* list);
    bool DrawImage(HDC hdc, const wchar_t* image, const wchar_t* modifier = nullptr);
    DWORD ApplyHslAdjust(DWORD color) const;
    void SetGradient(const wchar_t* text);
    void SetBkColor(DWORD color);
    void SetBackgroundImage(const wchar_t* image);
    void SetForegroundImage(const wchar_t* image);
    int GetBorderSize() const;
    void SetBorderSides(int left, int top, int right, int bottom);

    // Plain accessors of the paint fields.
    DWORD GetBkColor() const { return m_bkColor; }
    DWORD GetBkColor2() const { return m_bkColor2; }
    DWORD GetBkColor3() const { return m_bkColor3; }
    DWORD GetForeColor() const { return m_foreColor; }
    DWORD GetBorderColor() const { return m_borderColor; }
    DWORD GetFocusBorderColor() const { return m_focusBorderColor; }
    int GetBorderStyle() const { return m_borderStyle; }
    SIZE GetBorderRound() const;
    RECT GetBorderSides() const { return m_borderSides; }
    const CUIString& GetBackgroundImage() const { return m_bkImage; }
    const CUIString& GetForegroundImage() const { return m_foreImage; }
    const CUIString& GetGradient() const { return m_gradient; }
    bool IsColorHsl() const { return m_colorHsl; }
    const RECT& GetPaintRect() const { return m_paintRect; }

    CDelegateList OnInit;
    CDelegateList OnDestroy;
    CDelegateList OnSize;
    CDelegateList OnEvent;
    CDelegateList OnNotify;

protected:
    int Scaled(int value) const;
    // Applies a style named by the value; false when none is named so.
    bool ApplyStyleNamed(const wchar_t* value);

    CPaintManagerUI* m_manager = nullptr;
    CControlUI* m_parent = nullptr;
    CUIString m_virtualWnd;
    CUIString m_name;
    bool m_layoutPending = true;
    bool m_menuEnabled = false;
    RECT m_item = {};
    RECT m_padding = {};
    SIZE m_fixedXY = {};
    SIZE m_fixedSize = {};
    SIZE m_minSize = {};
    SIZE m_maxSize = {9999, 9999};
    bool m_visible = true;
    bool m_parentVisible = true;
    bool m_enabled = true;
    bool m_mouseEnabled = true;
    bool m_keyboardEnabled = true;
    bool m_focused = false;
    bool m_float = false;
    double m_floatPercent[4] = {};
    UINT m_floatAlign = 0;
    bool m_sizeGuard = false;
    bool m_dragEnabled = false;
    bool m_dropEnabled = false;
    bool m_resourceText = false;
    bool m_resourceToolTip = false;
    CUIString m_text;
    CUIString m_toolTip;
    wchar_t m_shortcut = 0;
    CUIString m_userData;
    UINT_PTR m_tag = 0;
    CUIString m_gradient;
    DWORD m_bkColor = 0;
    DWORD m_bkColor2 = 0;
    DWORD m_bkColor3 = 0;
    DWORD m_foreColor = 0;
    CUIString m_bkImage;
    CUIString m_foreImage;
    DWORD m_borderColor = 0;
    DWORD m_focusBorderColor = 0;
    bool m_colorHsl = false;
    int m_borderSize = 0;
    int m_borderStyle = PS_SOLID;
    int m_toolTipWidth = 300;
    WORD m_cursor = 0;
    SIZE m_borderRound = {};
    RECT m_paintRect = {};
    RECT m_borderSides = {};

private:
    int m_styleDepth = 0;
};

}  // namespace Veneer
