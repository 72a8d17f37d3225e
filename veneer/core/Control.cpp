// The control base: tree place, position rules, flags, texts, event sources,
// invalidation and default event handling.
#include "Control.h"

#include <new>

#include "PaintManager.h"
#include "ResourceCatalog.h"

namespace Veneer {

// ------------------------------------------------------------------ delegates

CDelegateList::~CDelegateList() {
    for (int i = 0; i < m_delegates.GetSize(); ++i) delete static_cast<CDelegateBase*>(m_delegates.GetAt(i));
    m_delegates.Empty();
}

void CDelegateList::Add(const CDelegateBase& delegate) {
    for (int i = 0; i < m_delegates.GetSize(); ++i) {
        if (static_cast<CDelegateBase*>(m_delegates.GetAt(i))->Equals(delegate)) return;
    }
    CDelegateBase* copy = delegate.Clone();
    if (copy && !m_delegates.Add(copy)) delete copy;
}

bool CDelegateList::Invoke(void* parameter) {
    for (int i = 0; i < m_delegates.GetSize(); ++i) {
        if (!static_cast<CDelegateBase*>(m_delegates.GetAt(i))->Invoke(parameter)) return false;
    }
    return true;
}

// ------------------------------------------------------------------ control

CControlUI::CControlUI() = default;

CControlUI::~CControlUI() {
    if (!OnDestroy.IsEmpty()) OnDestroy.Invoke(this);
    if (m_manager) m_manager->ForgetControl(this);
}

CControlUI* CControlUI::CreateControlUI() { return new (std::nothrow) CControlUI; }

int CControlUI::Scaled(int value) const {
    return m_manager ? m_manager->GetDpiScaler()->ScaleValue(value) : value;
}

CUIString CControlUI::GetName() const { return m_name; }
void CControlUI::SetName(const wchar_t* name) { m_name = name ? name : L""; }
const wchar_t* CControlUI::GetClassTag() const { return L"Control"; }

void* CControlUI::FindInterface(const wchar_t* tag) {
    return tag && CompareTextNoCase(tag, L"Control") == 0 ? this : nullptr;
}

UINT CControlUI::GetBehaviorFlags() const { return 0; }
bool CControlUI::Activate() { return IsVisible() && IsEnabled(); }
CPaintManagerUI* CControlUI::GetManager() const { return m_manager; }

void CControlUI::AttachManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
    m_manager = manager;
    m_parent = parent;
    if (init && parent) Initialize();
}

CControlUI* CControlUI::GetParent() const { return m_parent; }

CUIString CControlUI::GetText() const {
    if (m_resourceText) return GetResourceCatalog().GetText(m_text);
    return m_text;
}

void CControlUI::SetText(const wchar_t* text) {
    if (m_text == (text ? text : L"")) return;
    m_text = text ? text : L"";
    Invalidate();
}

bool CControlUI::IsResourceText() const { return m_resourceText; }
void CControlUI::SetResourceText(bool on) {
    if (m_resourceText == on) return;
    m_resourceText = on;
    Invalidate();
}
bool CControlUI::IsResourceToolTip() const { return m_resourceToolTip; }
void CControlUI::SetResourceToolTip(bool on) { m_resourceToolTip = on; }
bool CControlUI::IsDragEnabled() const { return m_dragEnabled; }
void CControlUI::SetDragEnabled(bool on) { m_dragEnabled = on; }
bool CControlUI::IsDropEnabled() const { return m_dropEnabled; }
void CControlUI::SetDropEnabled(bool on) { m_dropEnabled = on; }

RECT CControlUI::GetRelativePos() const {
    RECT r = {};
    if (!m_parent) return r;
    const RECT& p = m_parent->GetPos();
    r = m_item;
    OffsetRect(&r, -p.left, -p.top);
    return r;
}

RECT CControlUI::GetContentRect() const { return m_item; }
const RECT& CControlUI::GetPos() const { return m_item; }

void CControlUI::SetPos(RECT rect, bool invalidate) {
    if (rect.right < rect.left) rect.right = rect.left;
    if (rect.bottom < rect.top) rect.bottom = rect.top;
    CUIRect old = m_item;
    if (IsRectEmpty(&old)) old = rect;
    m_item = rect;
    if (!m_manager) return;
    if (!m_sizeGuard) {
        m_sizeGuard = true;
        if (!OnSize.IsEmpty()) OnSize.Invoke(this);
        m_sizeGuard = false;
    }
    m_layoutPending = false;
    if (!invalidate || !IsVisible()) return;
    CUIRect area = old;
    area.Join(m_item);
    for (CControlUI* p = m_parent; p; p = p->GetParent()) {
        RECT cut;
        if (!p->IsVisible() || !IntersectRect(&cut, &area, &p->GetPos())) return;
        area = cut;
    }
    m_manager->InvalidateArea(area);
}

void CControlUI::MoveBy(int dx, int dy, bool) {
    m_fixedXY.cx += dx;
    m_fixedXY.cy += dy;
    MarkParentForLayout();
}

int CControlUI::GetWidth() const { return m_item.right - m_item.left; }
int CControlUI::GetHeight() const { return m_item.bottom - m_item.top; }
int CControlUI::GetX() const { return m_item.left; }
int CControlUI::GetY() const { return m_item.top; }

RECT CControlUI::GetPadding() const {
    RECT r = m_padding;
    if (m_manager) m_manager->GetDpiScaler()->ScaleRect(r);
    return r;
}

void CControlUI::SetPadding(int left, int top, int right, int bottom) {
    m_padding = RECT{left, top, right, bottom};
    MarkParentForLayout();
}

SIZE CControlUI::GetFixedXY() const { return SIZE{Scaled(m_fixedXY.cx), Scaled(m_fixedXY.cy)}; }
void CControlUI::SetFixedXY(int x, int y) {
    m_fixedXY = SIZE{x, y};
    MarkParentForLayout();
}
int CControlUI::GetFixedWidth() const { return Scaled(m_fixedSize.cx); }
void CControlUI::SetFixedWidth(int width) {
    if (width < 0) return;
    m_fixedSize.cx = width;
    MarkParentForLayout();
}
int CControlUI::GetFixedHeight() const { return Scaled(m_fixedSize.cy); }
void CControlUI::SetFixedHeight(int height) {
    if (height < 0) return;
    m_fixedSize.cy = height;
    MarkParentForLayout();
}

namespace {
// Min and max setters: a negative or unchanged value requests nothing.
bool StoreLimit(LONG& field, int value) {
    if (value < 0 || field == value) return false;
    field = value;
    return true;
}
}  // namespace

int CControlUI::GetMinWidth() const { return Scaled(m_minSize.cx); }
void CControlUI::SetMinWidth(int width) {
    if (StoreLimit(m_minSize.cx, width)) MarkParentForLayout();
}
int CControlUI::GetMaxWidth() const { return Scaled(m_maxSize.cx); }
void CControlUI::SetMaxWidth(int width) {
    if (StoreLimit(m_maxSize.cx, width)) MarkParentForLayout();
}
int CControlUI::GetMinHeight() const { return Scaled(m_minSize.cy); }
void CControlUI::SetMinHeight(int height) {
    if (StoreLimit(m_minSize.cy, height)) MarkParentForLayout();
}
int CControlUI::GetMaxHeight() const { return Scaled(m_maxSize.cy); }
void CControlUI::SetMaxHeight(int height) {
    if (StoreLimit(m_maxSize.cy, height)) MarkParentForLayout();
}

void CControlUI::GetFloatPercent(double* left, double* top, double* right, double* bottom) const {
    if (left) *left = m_floatPercent[0];
    if (top) *top = m_floatPercent[1];
    if (right) *right = m_floatPercent[2];
    if (bottom) *bottom = m_floatPercent[3];
}

void CControlUI::SetFloatPercent(double left, double top, double right, double bottom) {
    m_floatPercent[0] = left;
    m_floatPercent[1] = top;
    m_floatPercent[2] = right;
    m_floatPercent[3] = bottom;
    MarkParentForLayout();
}

void CControlUI::SetFloatAlign(UINT bits) {
    m_floatAlign = bits;
    MarkParentForLayout();
}
UINT CControlUI::GetFloatAlign() const { return m_floatAlign; }

CUIString CControlUI::GetToolTip() const {
    if (m_resourceToolTip) return GetResourceCatalog().GetText(m_toolTip);
    return m_toolTip;
}
void CControlUI::SetToolTip(const wchar_t* text) { m_toolTip = text ? text : L""; }
void CControlUI::SetToolTipWidth(int width) { m_toolTipWidth = width; }
int CControlUI::GetToolTipWidth() const { return Scaled(m_toolTipWidth); }
WORD CControlUI::GetCursor() const { return m_cursor; }
void CControlUI::SetCursor(WORD cursor) {
    m_cursor = cursor;
    Invalidate();
}
wchar_t CControlUI::GetShortcut() const { return m_shortcut; }
void CControlUI::SetShortcut(wchar_t ch) { m_shortcut = ch; }
bool CControlUI::IsMenuEnabled() const { return m_menuEnabled; }
void CControlUI::SetMenuEnabled(bool on) { m_menuEnabled = on; }
const CUIString& CControlUI::GetUserData() const { return m_userData; }
void CControlUI::SetUserData(const wchar_t* text) { m_userData = text ? text : L""; }
UINT_PTR CControlUI::GetTag() const { return m_tag; }
void CControlUI::SetTag(UINT_PTR tag) { m_tag = tag; }

bool CControlUI::IsVisible() const { return m_visible && m_parentVisible; }

void CControlUI::SetVisible(bool show) {
    if (m_visible == show) return;
    const bool wasVisible = IsVisible();
    m_visible = show;
    m_focused = false;
    if (!show && m_manager && m_manager->GetFocus() == this) m_manager->SetFocusedControl(nullptr);
    if (IsVisible() != wasVisible) MarkParentForLayout();
}

void CControlUI::SetParentVisible(bool show) {
    m_parentVisible = show;
    if (!show && m_manager && m_manager->GetFocus() == this) m_manager->SetFocusedControl(nullptr);
}

bool CControlUI::IsEnabled() const { return m_enabled; }
void CControlUI::SetEnabled(bool enabled) {
    if (m_enabled == enabled) return;
    m_enabled = enabled;
    Invalidate();
}
bool CControlUI::IsMouseEnabled() const { return m_mouseEnabled; }
void CControlUI::SetMouseEnabled(bool enabled) { m_mouseEnabled = enabled; }
bool CControlUI::IsKeyboardEnabled() const { return m_keyboardEnabled; }
void CControlUI::SetKeyboardEnabled(bool enabled) { m_keyboardEnabled = enabled; }
bool CControlUI::IsFocused() const { return m_focused; }
void CControlUI::TakeFocus() {
    if (m_manager) m_manager->SetFocusedControl(this);
}
bool CControlUI::IsFloat() const { return m_float; }
void CControlUI::SetFloat(bool on) {
    if (m_float == on) return;
    m_float = on;
    MarkParentForLayout();
}

CControlUI* CControlUI::FindControl(FindControlProc callback, void* data, UINT flags) {
    if ((flags & FindVisible) && !IsVisible()) return nullptr;
    if ((flags & FindEnabled) && !IsEnabled()) return nullptr;
    if (flags & FindHitTest) {
        if (!m_mouseEnabled || !data || !PtInRect(&m_item, *static_cast<POINT*>(data))) return nullptr;
    }
    return callback(this, data);
}

void CControlUI::Initialize() {
    OnInitialize();
    if (!OnInit.IsEmpty()) OnInit.Invoke(this);
}

void CControlUI::OnInitialize() {}

bool CControlUI::RaiseEvent(ControlEvent& event) {
    const bool answer = OnEvent.Invoke(&event);
    if (answer) HandleEvent(event);
    return answer;
}

void CControlUI::HandleEvent(ControlEvent& event) {
    switch (event.type) {
    case EventContextMenu:
        if (m_menuEnabled) {
            if (m_manager) m_manager->SendNotification(this, L"menu", event.wParam, event.lParam);
            return;
        }
        break;
    case EventKillFocus:
        m_focused = false;
        Invalidate();
        return;
    case EventSetFocus:
        m_focused = true;
        Invalidate();
        return;
    case EventSetCursor:
        ::SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(m_cursor ? m_cursor : 32512)));
        return;
    case EventTimer:
        if (m_manager) m_manager->SendNotification(this, L"timer", event.wParam, event.lParam);
        return;
    default:
        break;
    }
    if (m_parent) m_parent->HandleEvent(event);
}

SIZE CControlUI::MeasureSize(SIZE) { return SIZE{GetFixedWidth(), GetFixedHeight()}; }

void CControlUI::PaintOverlay(HDC, const RECT&) {}

void CControlUI::Invalidate() {
    if (!IsVisible() || !m_manager) return;
    RECT area = m_item;
    for (CControlUI* p = m_parent; p; p = p->GetParent()) {
        RECT cut;
        if (!IntersectRect(&cut, &area, &p->GetPos())) return;
        area = cut;
    }
    if (IsRectEmpty(&area)) return;
    m_manager->InvalidateArea(area);
}

void CControlUI::MarkForLayout() {
    if (!IsVisible()) return;
    m_layoutPending = true;
    Invalidate();
    if (m_manager) m_manager->SetLayoutPending();
}

void CControlUI::MarkParentForLayout() {
    if (m_parent) {
        if (m_parent->IsVisible()) {
            m_parent->m_layoutPending = true;
        }
        m_parent->Invalidate();
    } else {
        m_layoutPending = true;
        Invalidate();
    }
    if (m_manager) m_manager->SetLayoutPending();
}

void CControlUI::SetVirtualWnd(const wchar_t* name) {
    m_virtualWnd = name ? name : L"";
    if (m_manager) m_manager->UseVirtualWndNames();
}

CUIString CControlUI::GetVirtualWnd() const {
    if (!m_virtualWnd.IsEmpty()) return m_virtualWnd;
    if (m_parent) return m_parent->GetVirtualWnd();
    return CUIString();
}

}  // namespace Veneer
