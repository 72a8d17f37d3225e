// The text field and its native EDIT window.
#include "Edit.h"

#include <cwchar>
#include <new>
#include <vector>

#include "Button.h"
#include "PaintManager.h"
#include "ResourceCatalog.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {
const UINT kCaretTimer = 6553;
const UINT kReflectedCommand = 0x2000 + WM_COMMAND;
const UINT kReflectedEditColor = 0x2000 + WM_CTLCOLOREDIT;
const UINT kReflectedStaticColor = 0x2000 + WM_CTLCOLORSTATIC;

bool Is(const wchar_t* name, const wchar_t* expected) { return CompareTextNoCase(name, expected) == 0; }
bool IsTrue(const wchar_t* value) { return CompareTextNoCase(value, L"true") == 0; }
DWORD ReadColorValue(const wchar_t* value) {
    if (*value == L'#') ++value;
    return static_cast<DWORD>(wcstoul(value, nullptr, 16));
}
COLORREF ToColorRef(DWORD argb) { return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF); }

// Overwrites a text in place before it is replaced or freed: an edit may
// hold a password, and no copy of it should stay behind in freed memory.
void WipeText(CUIString& text) {
    wchar_t* chars = const_cast<wchar_t*>(text.GetData());
    SecureZeroMemory(chars, sizeof(wchar_t) * static_cast<size_t>(text.GetLength()));
}

CUIString WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    GetWindowTextW(window, buffer.data(), length + 1);
    CUIString text(buffer.data());
    SecureZeroMemory(buffer.data(), sizeof(wchar_t) * buffer.size());
    return text;
}

void SelectAll(HWND window) {
    const int length = GetWindowTextLengthW(window);
    SendMessageW(window, EM_SETSEL, 0, length ? length : 1);
}
}  // namespace

// ------------------------------------------------------------ native window
CEditWnd::CEditWnd() = default;
CEditWnd::~CEditWnd() = default;

const wchar_t* CEditWnd::GetWindowClassName() const { return L"VeneerEditWnd"; }
const wchar_t* CEditWnd::GetBaseClassName() const { return L"Edit"; }
UINT CEditWnd::GetWindowClassStyle() const { return 0; }

RECT CEditWnd::CalcEditPos() const {
    RECT empty = {};
    if (!m_owner) return empty;
    RECT pos = m_owner->GetPos();
    const RECT padding = m_owner->m_textPadding;
    pos.left += padding.left;
    pos.top += padding.top;
    pos.right -= padding.right;
    pos.bottom -= padding.bottom;
    if (CPaintManagerUI* manager = m_owner->GetManager()) {
        const LONG height = manager->GetFontEntry(m_owner->GetFont())->metrics.tmHeight;
        if (height > 0 && height < pos.bottom - pos.top) {
            pos.top += (pos.bottom - pos.top - height) / 2;
            pos.bottom = pos.top + height;
        }
    }
    for (CControlUI* parent = m_owner->GetParent(); parent; parent = parent->GetParent()) {
        if (!parent->IsVisible()) return empty;
        const RECT content = parent->GetContentRect();
        RECT cut;
        if (!IntersectRect(&cut, &pos, &content)) return empty;
        pos = cut;
    }
    return pos;
}

RECT CEditWnd::CalcWindowPos() const {
    RECT pos = CalcEditPos();
    if (m_layered && m_manager) {
        POINT origin = {0, 0};
        ClientToScreen(m_manager->GetPaintWindow(), &origin);
        OffsetRect(&pos, origin.x, origin.y - 1);
    }
    return pos;
}

void CEditWnd::Init(CEditUI* owner) {
    m_owner = owner;
    m_manager = owner->GetManager();
    if (!m_manager) return;
    m_layered = m_manager->IsLayeredMode();
    const RECT pos = CalcWindowPos();
    DWORD style = m_layered ? (WS_POPUP | WS_VISIBLE | ES_AUTOHSCROLL) : (WS_CHILD | ES_AUTOHSCROLL);
    const UINT textStyle = owner->GetTextStyle();
    if (textStyle & DT_CENTER) {
        style |= ES_CENTER;
    } else if (textStyle & DT_RIGHT) {
        style |= ES_RIGHT;
    }
    if (owner->IsPassword()) style |= ES_PASSWORD;
    Create(m_manager->GetPaintWindow(), nullptr, style, 0, pos.left, pos.top, pos.right - pos.left,
           pos.bottom - pos.top);
    if (!m_hWnd) return;

    HFONT font = m_manager->GetFontHandle(owner->GetFont());
    SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    SendMessageW(m_hWnd, EM_LIMITTEXT, owner->GetMaxChar(), 0);
    if (owner->IsPassword()) SendMessageW(m_hWnd, EM_SETPASSWORDCHAR, owner->GetPasswordChar(), 0);
    SetWindowTextW(m_hWnd, owner->GetInputText());
    SendMessageW(m_hWnd, EM_SETMODIFY, FALSE, 0);
    SendMessageW(m_hWnd, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
    EnableWindow(m_hWnd, owner->IsEnabled());
    SendMessageW(m_hWnd, EM_SETREADONLY, owner->IsReadOnly(), 0);
    const LONG_PTR current = GetWindowLongPtrW(m_hWnd, GWL_STYLE);
    SetWindowLongPtrW(m_hWnd, GWL_STYLE, current | owner->GetExtraNativeStyles());
    ShowWindow(m_hWnd, SW_SHOWNOACTIVATE);
    SetFocus(m_hWnd);
    SelectAll(m_hWnd);
    m_ready = true;
}

LRESULT CEditWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        if (m_layered && m_manager) {
            m_manager->RegisterNativeWindow(m_hWnd);
            SetTimer(m_hWnd, kCaretTimer, GetCaretBlinkTime(), nullptr);
        }
        break;
    case WM_KILLFOCUS:
        return OnKillFocus(wParam, lParam);
    case WM_KEYDOWN:
        if (wParam == VK_RETURN) {
            if (m_owner && m_manager) m_manager->SendNotification(m_owner, L"return");
            return 0;
        }
        break;
    case WM_TIMER:
        if (wParam == kCaretTimer) {
            m_caretOn = !m_caretOn;
            InvalidateRect(m_hWnd, nullptr, FALSE);
            return 0;
        }
        break;
    case WM_PRINT:
        if (m_layered) {
            const LRESULT result = CWindowWnd::HandleMessage(message, wParam, lParam);
            if (m_owner && m_owner->IsEnabled() && m_caretOn) {
                POINT caret = {};
                GetCaretPos(&caret);
                RECT client = {};
                GetClientRect(m_hWnd, &client);
                const RECT line = {caret.x, caret.y, caret.x, caret.y + client.bottom - client.top};
                CSkinRenderer::DrawLine(reinterpret_cast<HDC>(wParam), line, 1, 0xFF000000);
            }
            return result;
        }
        break;
    case kReflectedCommand:
        if (HIWORD(wParam) == EN_CHANGE) {
            if (m_ready) OnEditChanged();
        } else if (HIWORD(wParam) == EN_UPDATE) {
            InvalidateRect(m_hWnd, nullptr, FALSE);
        }
        return 0;
    case kReflectedEditColor:
    case kReflectedStaticColor:
        return OnControlColor(wParam);
    default:
        break;
    }
    return CWindowWnd::HandleMessage(message, wParam, lParam);
}

LRESULT CEditWnd::OnKillFocus(WPARAM wParam, LPARAM lParam) {
    const LRESULT result = CWindowWnd::HandleMessage(WM_KILLFOCUS, wParam, lParam);
    const HWND to = reinterpret_cast<HWND>(wParam);
    if (m_owner && m_manager && to != m_manager->GetPaintWindow()) {
        ControlEvent event = {};
        event.type = EventKillFocus;
        event.sender = m_owner;
        event.timestamp = GetTickCount();
        event.wParam = wParam;
        event.lParam = lParam;
        m_owner->RaiseEvent(event);
    }
    PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
    return result;
}

void CEditWnd::OnEditChanged() {
    if (!m_owner || !m_manager) return;
    CUIString text = WindowText(m_hWnd);
    // Only a real change of the text is one (setting the same text again
    // makes the native window report a change too).
    if (text == m_owner->m_text) {
        WipeText(text);
        return;
    }
    WipeText(m_owner->m_text);
    m_owner->m_text = text;
    WipeText(text);
    m_manager->SendNotification(m_owner, L"textchanged");
}

LRESULT CEditWnd::OnControlColor(WPARAM wParam) {
    if (!m_owner || m_owner->GetNativeBkColor() == 0xFFFFFFFF) return 0;
    HDC dc = reinterpret_cast<HDC>(wParam);
    SetBkMode(dc, TRANSPARENT);
    const DWORD text = m_owner->m_nativeTextColor ? m_owner->m_nativeTextColor : m_owner->GetTextColor();
    SetTextColor(dc, ToColorRef(text));
    if (!m_brush) m_brush = CreateSolidBrush(ToColorRef(m_owner->GetNativeBkColor()));
    return reinterpret_cast<LRESULT>(m_brush);
}

void CEditWnd::OnFinalMessage(HWND window) {
    if (m_owner) m_owner->Invalidate();
    if (m_brush) DeleteObject(m_brush);
    m_brush = nullptr;
    if (m_layered && m_manager) m_manager->UnregisterNativeWindow(window);
    if (m_owner) m_owner->m_window = nullptr;
    delete this;
}

// ------------------------------------------------------------ the control
CEditUI::CEditUI() {
    SetTextPadding(4, 3, 4, 3);
    SetBkColor(0xFFFFFFFF);
}

CEditUI::~CEditUI() {
    // The native window goes first: its final steps would write to this
    // control.
    if (CEditWnd* window = m_window) {
        m_window = nullptr;
        window->DetachOwner();
        // Destroying the window moves the focus back to the host, whose
        // manager must no longer hand it to this control.
        if (m_manager) m_manager->ForgetControl(this);
        if (window->GetHWND()) {
            DestroyWindow(window->GetHWND());
        } else {
            delete window;
        }
    }
    WipeText(m_text);
}

CControlUI* CEditUI::CreateEditUI() { return new (std::nothrow) CEditUI; }

const wchar_t* CEditUI::GetClassTag() const { return L"Edit"; }

void* CEditUI::FindInterface(const wchar_t* tag) {
    if (tag && Is(tag, L"Edit")) return this;
    return CLabelUI::FindInterface(tag);
}

UINT CEditUI::GetBehaviorFlags() const { return IsEnabled() ? 3u : 0u; }

HWND CEditUI::GetNativeHandle() const { return m_window ? m_window->GetHWND() : nullptr; }

CUIString CEditUI::GetInputText() const { return m_password ? m_text : GetText(); }

CUIString CEditUI::GetTipValue() const {
    if (!m_cueResText) return m_tipValue;
    return GetResourceCatalog().GetText(m_tipValue);
}

void CEditUI::SetText(const wchar_t* text) {
    const wchar_t* own = m_text.GetData();
    if (!text || text < own || text > own + m_text.GetLength()) {
        // The old text goes for good (unless the new one is taken from it).
        WipeText(m_text);
    }
    m_text = text;
    if (HWND native = GetNativeHandle()) SetWindowTextW(native, m_text);
    Invalidate();
}

void CEditUI::OpenNativeWindow() {
    if (m_window || !m_manager) return;
    CEditWnd* window = new (std::nothrow) CEditWnd;
    if (!window) return;
    m_window = window;
    window->Init(this);
    if (m_window && !m_window->GetHWND()) {   // creation failed
        m_window = nullptr;
        delete window;
    }
    Invalidate();
}

void CEditUI::SelectAllNative() {
    if (HWND native = GetNativeHandle()) SelectAll(native);
}

void CEditUI::MoveNativeWindow(UINT flags) {
    HWND native = GetNativeHandle();
    if (!native) return;
    const RECT pos = m_window->CalcWindowPos();
    SetWindowPos(native, nullptr, pos.left, pos.top, pos.right - pos.left, pos.bottom - pos.top,
                 SWP_NOACTIVATE | SWP_NOZORDER | flags);
}

void CEditUI::SetPos(RECT rect, bool invalidate) {
    CLabelUI::SetPos(rect, invalidate);
    MoveNativeWindow(0);
}

void CEditUI::MoveBy(int dx, int dy, bool invalidate) {
    CLabelUI::MoveBy(dx, dy, invalidate);
    MoveNativeWindow(SWP_NOSIZE);
}

void CEditUI::SetVisible(bool show) {
    CLabelUI::SetVisible(show);
    if (!IsVisible() && m_window && m_manager) m_manager->SetFocusedControl(nullptr);
}

void CEditUI::SetParentVisible(bool show) {
    CLabelUI::SetParentVisible(show);
    if (!IsVisible() && m_window && m_manager) m_manager->SetFocusedControl(nullptr);
}

void CEditUI::SetEnabled(bool enabled) {
    if (m_enabled != enabled) {
        m_enabled = enabled;
        Invalidate();
    }
    if (!enabled) m_state = 0;
    if (HWND native = GetNativeHandle()) EnableWindow(native, enabled);
}

void CEditUI::HandleEvent(ControlEvent& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.type)) {
        if (m_parent) {
            m_parent->HandleEvent(event);
        } else {
            CLabelUI::HandleEvent(event);
        }
        return;
    }
    switch (event.type) {
    case EventSetCursor:
        if (IsEnabled()) {
            ::SetCursor(LoadCursorW(nullptr, IDC_IBEAM));
            return;
        }
        break;
    case EventWindowSize:
        if (m_window && m_manager) m_manager->DeferFocus(this);
        break;
    case EventScrollWheel:
        if (m_window) return;
        break;
    case EventSetFocus:
        if (IsEnabled()) {
            if (m_window) return;
            OpenNativeWindow();
        }
        break;
    case EventKillFocus:
        if (IsEnabled()) Invalidate();
        break;
    case EventButtonDown:
    case EventRightButtonDown:
    case EventDoubleClick:
        if (IsEnabled()) {
            if (m_manager) m_manager->ReleaseMouse();
            if (IsFocused() && !m_window) {
                OpenNativeWindow();
                if (PtInRect(&m_item, event.mouse)) SelectAllNative();
            } else if (m_window) {
                SelectAllNative();
            }
        }
        return;
    case EventMouseMove:
    case EventButtonUp:
    case EventContextMenu:
        return;
    case EventMouseEnter:
        if (IsEnabled()) {
            m_state |= ButtonHot;
            Invalidate();
        }
        return;
    case EventMouseLeave:
        if (IsEnabled()) {
            m_state &= ~static_cast<UINT>(ButtonHot);
            Invalidate();
        }
        return;
    default:
        break;
    }
    CLabelUI::HandleEvent(event);
}

void CEditUI::SetPassword(bool on) {
    if (m_password == on) return;
    m_password = on;
    Invalidate();
    if (HWND native = GetNativeHandle()) {
        LONG_PTR style = GetWindowLongPtrW(native, GWL_STYLE);
        style = on ? (style | ES_PASSWORD) : (style & ~static_cast<LONG_PTR>(ES_PASSWORD));
        SetWindowLongPtrW(native, GWL_STYLE, style);
        // The style bit alone does not mask or unmask the text.
        SendMessageW(native, EM_SETPASSWORDCHAR, on ? m_passwordChar : 0, 0);
        InvalidateRect(native, nullptr, TRUE);
    }
}

void CEditUI::SetPasswordChar(wchar_t ch) {
    if (m_passwordChar == ch) return;
    m_passwordChar = ch;
    if (HWND native = GetNativeHandle()) {
        SendMessageW(native, EM_SETPASSWORDCHAR, ch, 0);
        InvalidateRect(native, nullptr, TRUE);
    }
    Invalidate();
}

void CEditUI::SetMaxChar(UINT count) {
    m_maxChar = count;
    ApplyMaxChar();
}

void CEditUI::ApplyMaxChar() {
    if (HWND native = GetNativeHandle()) SendMessageW(native, EM_LIMITTEXT, m_maxChar, 0);
}

void CEditUI::SetReadOnly(bool on) {
    if (m_readOnly == on) return;
    m_readOnly = on;
    if (HWND native = GetNativeHandle()) SendMessageW(native, EM_SETREADONLY, on, 0);
    Invalidate();
}

void CEditUI::SetNormalImage(const wchar_t* image) {
    m_normalImage = image ? image : L"";
    Invalidate();
}
void CEditUI::SetHotImage(const wchar_t* image) {
    m_hotImage = image ? image : L"";
    Invalidate();
}
void CEditUI::SetFocusedImage(const wchar_t* image) {
    m_focusedImage = image ? image : L"";
    Invalidate();
}
void CEditUI::SetDisabledImage(const wchar_t* image) {
    m_disabledImage = image ? image : L"";
    Invalidate();
}

void CEditUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (Is(name, L"readonly")) {
        SetReadOnly(IsTrue(value));
    } else if (Is(name, L"numberonly")) {
        if (IsTrue(value)) {
            m_extraStyles |= ES_NUMBER;
        } else {
            m_extraStyles &= ~static_cast<DWORD>(ES_NUMBER);
        }
    } else if (Is(name, L"password")) {
        SetPassword(IsTrue(value));
    } else if (Is(name, L"cuerestext")) {
        const bool on = IsTrue(value);
        if (on != m_cueResText) {
            m_cueResText = on;
            Invalidate();
        }
    } else if (Is(name, L"passwordchar")) {
        SetPasswordChar(*value);
    } else if (Is(name, L"maxchar")) {
        SetMaxChar(static_cast<UINT>(wcstoul(value, nullptr, 10)));
    } else if (Is(name, L"normalimage")) {
        SetNormalImage(value);
    } else if (Is(name, L"hotimage")) {
        SetHotImage(value);
    } else if (Is(name, L"focusedimage")) {
        SetFocusedImage(value);
    } else if (Is(name, L"disabledimage")) {
        SetDisabledImage(value);
    } else if (Is(name, L"tipvalue")) {
        SetTipValue(value);
    } else if (Is(name, L"tipvaluecolor")) {
        SetTipValueColor(ReadColorValue(value));
    } else if (Is(name, L"nativetextcolor")) {
        SetNativeTextColor(ReadColorValue(value));
    } else if (Is(name, L"nativebkcolor")) {
        SetNativeBkColor(ReadColorValue(value));
    } else {
        CLabelUI::SetAttribute(name, value);
    }
}

SIZE CEditUI::MeasureSize(SIZE available) {
    if (GetFixedHeight() != 0 || !m_manager) return CControlUI::MeasureSize(available);
    const LONG height = m_manager->GetFontEntry(m_font)->metrics.tmHeight;
    return SIZE{GetFixedWidth(), height + 6};
}

void CEditUI::PaintStateImage(HDC hdc) {
    if (IsFocused()) {
        m_state |= ButtonFocused;
    } else {
        m_state &= ~static_cast<UINT>(ButtonFocused);
    }
    if (!IsEnabled()) {
        m_state |= ButtonDisabled;
    } else {
        m_state &= ~static_cast<UINT>(ButtonDisabled);
    }
    const CUIString* chosen = nullptr;
    if (m_state & ButtonDisabled) {
        chosen = &m_disabledImage;
    } else if (m_state & ButtonFocused) {
        chosen = &m_focusedImage;
    } else if (m_state & ButtonHot) {
        chosen = &m_hotImage;
    }
    if (chosen && !chosen->IsEmpty() && DrawImage(hdc, *chosen)) return;
    if (!m_normalImage.IsEmpty()) DrawImage(hdc, m_normalImage);
}

void CEditUI::PaintText(HDC hdc) {
    if (!m_manager) return;
    if (m_textColor == 0) m_textColor = m_manager->GetDefaultFontColor();
    if (m_disabledTextColor == 0) m_disabledTextColor = m_manager->GetDefaultDisabledColor();
    const CUIString input = GetInputText();
    const CUIString tip = GetTipValue();
    CUIString shown;
    DWORD color = m_textColor;
    if (input.IsEmpty() || input == tip) {
        shown = tip;
        color = m_tipColor;
    } else if (m_password) {
        for (int i = 0; i < input.GetLength(); ++i) shown += m_passwordChar;
    } else {
        shown = input;
    }
    if (shown.IsEmpty()) return;
    if (!IsEnabled()) color = m_disabledTextColor;
    RECT rect = m_item;
    const RECT padding = GetTextPadding();
    rect.left += padding.left;
    rect.top += padding.top;
    rect.right -= padding.right;
    rect.bottom -= padding.bottom;
    CSkinRenderer::DrawText(hdc, m_manager, rect, shown, color, m_font, m_textStyle | DT_SINGLELINE);
}

}  // namespace Veneer
