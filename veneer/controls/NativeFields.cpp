// The date, IP-address and hot-key fields with their COMCTL32 editors, and
// the in-place address field.
#include <winsock2.h>

#include "NativeFields.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>

#include "Button.h"
#include "PaintManager.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {
const UINT kReflectedNotify = 0x2000 + WM_NOTIFY;
const UINT kReflectedCommand = 0x2000 + WM_COMMAND;

bool Is(const wchar_t* name, const wchar_t* expected) { return CompareTextNoCase(name, expected) == 0; }
COLORREF ToColorRef(DWORD argb) { return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF); }

bool InitCommonClasses(DWORD classes) {
    INITCOMMONCONTROLSEX init = {sizeof(INITCOMMONCONTROLSEX), classes};
    return InitCommonControlsEx(&init) != FALSE;
}

HFONT FieldFont(CPaintManagerUI* manager, CLabelUI* field) {
    FontEntry* entry = manager->GetFontEntry(field->GetFont());
    return entry ? entry->font : nullptr;
}

void CreateEditorWindow(CWindowWnd* editor, CPaintManagerUI* manager, DWORD style, const RECT& pos) {
    editor->Create(manager->GetPaintWindow(), nullptr, style, 0, pos.left, pos.top, pos.right - pos.left,
                   pos.bottom - pos.top);
}

void MoveEditorWindow(HWND window, const RECT& pos) {
    if (!window) return;
    SetWindowPos(window, nullptr, pos.left, pos.top, pos.right - pos.left, pos.bottom - pos.top,
                 SWP_NOACTIVATE | SWP_NOZORDER);
}

// Steps of the editor life cycle that the three fields share; true when the
// event is done with.
bool SharedFieldEvent(CLabelUI* field, CPaintManagerUI* manager, bool editorOpen, ControlEvent& event) {
    if (!field->IsMouseEnabled() && IsMouseEvent(event.type)) {
        if (CControlUI* parent = field->GetParent()) {
            parent->HandleEvent(event);
        } else {
            field->CLabelUI::HandleEvent(event);
        }
        return true;
    }
    switch (event.type) {
    case EventSetCursor:
        if (!field->IsEnabled()) return false;
        ::SetCursor(LoadCursorW(nullptr, IDC_IBEAM));
        return true;
    case EventWindowSize:
        // The focus goes back to the host window (which closes the editor)
        // and returns to the field after the next paint.
        if (editorOpen && manager) manager->DeferFocus(field);
        return false;
    case EventScrollWheel:
        return editorOpen;
    case EventKillFocus:
        if (field->IsEnabled()) field->Invalidate();
        return false;
    case EventMouseMove:
    case EventButtonUp:
    case EventContextMenu:
        return true;
    default:
        return false;
    }
}

// A field going away closes its editor first. The manager forgets the field
// before that: the focus returning to the host window would otherwise hand
// the dying field a focus event, and with it a new editor.
void CloseEditorOf(CControlUI* field, CPaintManagerUI* manager, CFieldEditorWnd* editor) {
    if (!editor) return;
    if (manager) manager->ForgetControl(field);
    editor->DestroyForOwner();
}

bool IsPress(ControlEventType type) {
    return type == EventButtonDown || type == EventRightButtonDown || type == EventDoubleClick;
}

RECT LessPadding(RECT rect, const RECT& padding) {
    rect.left += padding.left;
    rect.top += padding.top;
    rect.right -= padding.right;
    rect.bottom -= padding.bottom;
    return rect;
}
}  // namespace

// ------------------------------------------------------------------ shared

DWORD GetLocalHostAddress() {
    WSADATA data = {};
    if (WSAStartup(0x0202, &data) != 0) return 0;
    DWORD address = 0;
    char name[255] = {};
    if (gethostname(name, sizeof(name)) == 0) {
        const hostent* host = gethostbyname(name);
        // Only an IPv4 entry holding an address gives one.
        if (host && host->h_addrtype == AF_INET && host->h_length == 4 && host->h_addr_list &&
            host->h_addr_list[0]) {
            u_long network = 0;
            memcpy(&network, host->h_addr_list[0], sizeof(network));
            address = ntohl(network);
        }
    }
    WSACleanup();
    return address;
}

CUIString GetKeyName(UINT virtualKey, bool extended) {
    const UINT scan = MapVirtualKeyExW(virtualKey, MAPVK_VK_TO_VSC, GetKeyboardLayout(0));
    LONG parameter = static_cast<LONG>(scan << 16);
    const bool navigation = (virtualKey >= VK_PRIOR && virtualKey <= VK_DOWN) || virtualKey == VK_INSERT ||
                            virtualKey == VK_DELETE;
    if (navigation || extended) parameter |= 1 << 24;
    wchar_t name[260] = {};
    GetKeyNameTextW(parameter, name, 260);
    return CUIString(name);
}

void PaintFieldStateImage(CControlUI* field, HDC hdc, UINT& state, const CUIString& normal, const CUIString& hot,
                          const CUIString& focused, const CUIString& disabled) {
    state = field->IsFocused() ? (state | ButtonFocused) : (state & ~static_cast<UINT>(ButtonFocused));
    state = field->IsEnabled() ? (state & ~static_cast<UINT>(ButtonDisabled)) : (state | ButtonDisabled);
    const CUIString* chosen = nullptr;
    if (state & ButtonDisabled) {
        chosen = &disabled;
    } else if (state & ButtonFocused) {
        chosen = &focused;
    } else if (state & ButtonHot) {
        chosen = &hot;
    }
    if (chosen && !chosen->IsEmpty() && field->DrawImage(hdc, *chosen)) return;
    if (!normal.IsEmpty()) field->DrawImage(hdc, normal);
}

void CFieldEditorWnd::DestroyForOwner() {
    DetachOwner();
    if (m_hWnd && IsWindow(m_hWnd)) {
        DestroyWindow(m_hWnd);   // the final message deletes the object
    } else {
        delete this;
    }
}

// ------------------------------------------------------------------ date

const wchar_t* CDateTimeWnd::GetWindowClassName() const { return L"VeneerDateTimeWnd"; }
const wchar_t* CDateTimeWnd::GetBaseClassName() const { return DATETIMEPICK_CLASSW; }

RECT CDateTimeWnd::CalcPos() const {
    RECT empty = {};
    if (!m_owner) return empty;
    RECT pos = m_owner->GetPos();
    for (CControlUI* parent = m_owner->GetParent(); parent; parent = parent->GetParent()) {
        if (!parent->IsVisible()) return empty;
        const RECT content = parent->GetContentRect();
        if (!IntersectRect(&pos, &pos, &content)) return empty;
    }
    return pos;
}

void CDateTimeWnd::Init(CDateTimeUI* owner) {
    m_owner = owner;
    m_manager = owner->GetManager();
    owner->m_updateMode = 0;
    if (!m_manager) return;
    m_layered = m_manager->IsLayeredMode();
    if (!m_hWnd) {
        // The date class needs its own registration before the picker is made.
        InitCommonClasses(ICC_DATE_CLASSES);
        CreateEditorWindow(this, m_manager, WS_CHILD, CalcPos());
        if (!m_hWnd) return;
    }
    SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(FieldFont(m_manager, owner)), TRUE);
    if (owner->GetText().IsEmpty()) GetLocalTime(&owner->m_date);
    m_oldDate = owner->m_date;
    SendMessageW(m_hWnd, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&owner->m_date));
    ShowWindow(m_hWnd, SW_SHOWNOACTIVATE);
    SetFocus(m_hWnd);
}

void CDateTimeWnd::TakeDate() {
    if (!m_owner) return;
    SYSTEMTIME date = {};
    if (SendMessageW(m_hWnd, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&date)) == GDT_VALID) {
        m_owner->m_date = date;
    }
    m_owner->m_updateMode = 1;
    m_owner->UpdateText();
}

LRESULT CDateTimeWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
            if (m_owner) {
                m_owner->m_date = m_oldDate;
                m_owner->m_updateMode = 1;
                m_owner->UpdateText();
            }
            PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
            return 0;
        }
        break;
    case kReflectedNotify: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (!header || header->hwndFrom != m_hWnd) break;
        if (header->code == static_cast<UINT>(DTN_DATETIMECHANGE)) {
            TakeDate();
        } else if (header->code == static_cast<UINT>(DTN_DROPDOWN)) {
            m_droppedDown = true;
        } else if (header->code == static_cast<UINT>(DTN_CLOSEUP)) {
            TakeDate();
            PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
            m_droppedDown = false;
        }
        break;
    }
    case WM_KILLFOCUS: {
        // The focus moving into the drop-down calendar keeps the editor
        // (Wine shows the calendar before it reports the drop-down).
        const HWND to = reinterpret_cast<HWND>(wParam);
        const HWND calendar = reinterpret_cast<HWND>(SendMessageW(m_hWnd, DTM_GETMONTHCAL, 0, 0));
        const bool intoCalendar = to && calendar && (to == calendar || IsChild(calendar, to));
        if (!m_droppedDown && !intoCalendar) PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
        break;
    }
    case WM_PAINT:
        if (m_layered && m_manager) m_manager->RegisterNativeWindow(m_hWnd);
        break;
    default:
        break;
    }
    return CWindowWnd::HandleMessage(message, wParam, lParam);
}

void CDateTimeWnd::OnFinalMessage(HWND window) {
    if (m_layered && m_manager) m_manager->UnregisterNativeWindow(window);
    if (m_owner) {
        m_owner->m_editor = nullptr;
        m_owner->Invalidate();
    }
    delete this;
}

CDateTimeUI::CDateTimeUI() {
    GetLocalTime(&m_date);
    m_updateMode = 1;
    UpdateText();
    m_updateMode = 0;
}

CDateTimeUI::~CDateTimeUI() {
    CloseEditorOf(this, m_manager, m_editor);
    m_editor = nullptr;
}

CControlUI* CDateTimeUI::CreateDateTimeUI() { return new (std::nothrow) CDateTimeUI; }
const wchar_t* CDateTimeUI::GetClassTag() const { return L"DateTime"; }

void* CDateTimeUI::FindInterface(const wchar_t* tag) {
    if (tag && (Is(tag, L"DateTime") || Is(tag, L"Label") || Is(tag, L"Control"))) return this;
    return nullptr;
}

void CDateTimeUI::SetTime(const SYSTEMTIME& date) {
    m_date = date;
    m_updateMode = 1;
    UpdateText();
}

void CDateTimeUI::UpdateText() {
    if (m_updateMode != 1) return;
    wchar_t text[32] = {};
    swprintf(text, 32, L"%4d-%02d-%02d", m_date.wYear, m_date.wMonth, m_date.wDay);
    CLabelUI::SetText(text);
}

void CDateTimeUI::SetPos(RECT rect, bool invalidate) {
    CLabelUI::SetPos(rect, invalidate);
    if (m_editor) MoveEditorWindow(m_editor->GetHWND(), m_editor->CalcPos());
}

void CDateTimeUI::OpenEditor() {
    if (!m_editor) {
        m_editor = new (std::nothrow) CDateTimeWnd;
        if (!m_editor) return;
    }
    CDateTimeWnd* editor = m_editor;
    editor->Init(this);
    // A picker that could not be made leaves no editor behind.
    if (m_editor == editor && !editor->GetHWND()) {
        m_editor = nullptr;
        delete editor;
    }
}

void CDateTimeUI::HandleEvent(ControlEvent& event) {
    if (SharedFieldEvent(this, m_manager, m_editor != nullptr, event)) return;
    if (event.type == EventSetFocus && IsEnabled()) {
        if (m_editor) return;
        OpenEditor();
        if (m_editor) m_editor->Show();
    } else if (IsPress(event.type)) {
        if (!IsEnabled()) return;
        if (m_manager) m_manager->ReleaseMouse();
        if (IsFocused() || m_editor) OpenEditor();
        if (m_editor && m_editor->GetHWND()) ShowWindow(m_editor->GetHWND(), SW_SHOWNORMAL);
        return;
    } else if (event.type == EventMouseEnter || event.type == EventMouseLeave) {
        return;
    }
    CLabelUI::HandleEvent(event);
}

// ------------------------------------------------------------------ IP address

const wchar_t* CIPAddressWnd::GetWindowClassName() const { return L"VeneerIPAddressWnd"; }
const wchar_t* CIPAddressWnd::GetBaseClassName() const { return WC_IPADDRESSW; }

RECT CIPAddressWnd::CalcPos() const { return m_owner ? m_owner->GetPos() : RECT{}; }

void CIPAddressWnd::Init(CIPAddressUI* owner) {
    m_owner = owner;
    m_manager = owner->GetManager();
    owner->m_updateMode = 0;
    if (!m_manager) return;
    if (!m_hWnd && InitCommonClasses(ICC_INTERNET_CLASSES)) {
        CreateEditorWindow(this, m_manager, WS_CHILD | WS_GROUP | WS_TABSTOP, CalcPos());
    }
    if (!m_hWnd) return;
    SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(FieldFont(m_manager, owner)), TRUE);
    if (owner->GetText().IsEmpty()) owner->m_ip = GetLocalHostAddress();
    SendMessageW(m_hWnd, IPM_SETADDRESS, 0, static_cast<LPARAM>(owner->m_ip));
    ShowWindow(m_hWnd, SW_SHOW);
    SetFocus(m_hWnd);
}

LRESULT CIPAddressWnd::OnKillFocus(UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND focus = ::GetFocus();
    if (focus && (focus == m_hWnd || IsChild(m_hWnd, focus))) return 0;
    const LRESULT result = DefWindowProcW(m_hWnd, message, wParam, lParam);
    if (m_owner && m_owner->m_updateMode == 0) {
        DWORD address = 0;
        SendMessageW(m_hWnd, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
        m_owner->m_ip = address;
        m_owner->m_updateMode = 1;
        m_owner->UpdateText();
    }
    // Hidden, not closed: a later click shows it again.
    ShowWindow(m_hWnd, SW_HIDE);
    return result;
}

LRESULT CIPAddressWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_KILLFOCUS:
        return OnKillFocus(message, wParam, lParam);
    case kReflectedCommand:
        if (HIWORD(wParam) == EN_KILLFOCUS) return OnKillFocus(message, wParam, lParam);
        return 0;
    case WM_KEYUP:
        if (wParam == VK_DELETE || wParam == VK_BACK || wParam == VK_ESCAPE) {
            const LRESULT result = DefWindowProcW(m_hWnd, message, wParam, lParam);
            if (m_owner) {
                // Delete empties the text and keeps the address; Escape changes nothing.
                m_owner->m_updateMode = wParam == VK_ESCAPE ? 3 : 2;
                m_owner->UpdateText();
            }
            PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
            return result;
        }
        break;
    default:
        break;
    }
    return CWindowWnd::HandleMessage(message, wParam, lParam);
}

void CIPAddressWnd::OnFinalMessage(HWND) {
    if (m_owner) {
        m_owner->m_editor = nullptr;
        m_owner->Invalidate();
    }
    delete this;
}

CIPAddressUI::CIPAddressUI() {
    m_ip = GetLocalHostAddress();
    m_updateMode = 1;
    UpdateText();
    m_updateMode = 0;
}

CIPAddressUI::~CIPAddressUI() {
    CloseEditorOf(this, m_manager, m_editor);
    m_editor = nullptr;
}

CControlUI* CIPAddressUI::CreateIPAddressUI() { return new (std::nothrow) CIPAddressUI; }
const wchar_t* CIPAddressUI::GetClassTag() const { return L"IPAddress"; }

void* CIPAddressUI::FindInterface(const wchar_t* tag) {
    if (tag && (Is(tag, L"IPAddress") || Is(tag, L"Label") || Is(tag, L"Control"))) return this;
    return nullptr;
}

void CIPAddressUI::SetIP(DWORD address) {
    m_ip = address;
    m_updateMode = 1;
    UpdateText();
}

void CIPAddressUI::UpdateText() {
    if (m_updateMode == 2) {
        CLabelUI::SetText(L"");
    } else if (m_updateMode == 1) {
        wchar_t text[32] = {};
        swprintf(text, 32, L"%d.%d.%d.%d", int((m_ip >> 24) & 0xFF), int((m_ip >> 16) & 0xFF),
                 int((m_ip >> 8) & 0xFF), int(m_ip & 0xFF));
        CLabelUI::SetText(text);
    }
}

void CIPAddressUI::SetPos(RECT rect, bool invalidate) {
    CLabelUI::SetPos(rect, invalidate);
    if (m_editor) MoveEditorWindow(m_editor->GetHWND(), m_editor->CalcPos());
}

bool CIPAddressUI::MakeEditor() {
    if (!m_editor) m_editor = new (std::nothrow) CIPAddressWnd;
    return m_editor != nullptr;
}

void CIPAddressUI::InitEditor() {
    CIPAddressWnd* editor = m_editor;
    editor->Init(this);
    if (m_editor == editor && !editor->GetHWND()) {
        m_editor = nullptr;
        delete editor;
    }
}

void CIPAddressUI::HandleEvent(ControlEvent& event) {
    if (SharedFieldEvent(this, m_manager, m_editor != nullptr, event)) return;
    if (event.type == EventSetFocus && IsEnabled()) {
        // A hidden editor comes back only by a click.
        if (m_editor) return;
        if (MakeEditor()) InitEditor();
        if (m_editor) m_editor->Show();
    } else if (IsPress(event.type)) {
        if (!IsEnabled()) return;
        if (m_manager) m_manager->ReleaseMouse();
        if (IsFocused()) MakeEditor();
        if (m_editor) InitEditor();
        if (m_editor && m_editor->GetHWND()) ShowWindow(m_editor->GetHWND(), SW_SHOWNORMAL);
        return;
    } else if (event.type == EventMouseEnter || event.type == EventMouseLeave) {
        return;
    }
    CLabelUI::HandleEvent(event);
}

// ------------------------------------------------------------------ hot key

const wchar_t* CHotKeyWnd::GetWindowClassName() const { return L"VeneerHotKeyWnd"; }
const wchar_t* CHotKeyWnd::GetBaseClassName() const { return HOTKEY_CLASSW; }

RECT CHotKeyWnd::CalcPos() const {
    if (!m_owner) return RECT{};
    RECT pos = LessPadding(m_owner->GetPos(), m_owner->GetTextPadding());
    CPaintManagerUI* manager = m_owner->GetManager();
    FontEntry* font = manager ? manager->GetFontEntry(m_owner->GetFont()) : nullptr;
    const LONG height = font ? font->metrics.tmHeight : 0;
    if (height > 0 && height < pos.bottom - pos.top) {
        pos.top += (pos.bottom - pos.top - height) / 2;
        pos.bottom = pos.top + height;
    }
    return pos;
}

void CHotKeyWnd::Init(CHotKeyUI* owner) {
    m_owner = owner;
    m_manager = owner->GetManager();
    if (!m_manager) return;
    // The hot-key class needs its own registration before the editor is made.
    InitCommonClasses(ICC_HOTKEY_CLASS);
    CreateEditorWindow(this, m_manager, WS_CHILD | 0x80, CalcPos());
    if (!m_hWnd) return;
    SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(FieldFont(m_manager, owner)), TRUE);
    SendMessageW(m_hWnd, HKM_SETHOTKEY, MAKEWORD(owner->m_virtualKey, owner->m_modifiers), 0);
    owner->m_text = GetHotKeyText();
    EnableWindow(m_hWnd, owner->IsEnabled());
    ShowWindow(m_hWnd, SW_SHOWNOACTIVATE);
    SetFocus(m_hWnd);
    m_ready = true;
}

CUIString CHotKeyWnd::GetHotKeyText() const {
    const WORD hotKey = LOWORD(SendMessageW(m_hWnd, HKM_GETHOTKEY, 0, 0));
    const BYTE key = LOBYTE(hotKey);
    const BYTE modifiers = HIBYTE(hotKey);
    CUIString text;
    if (key == 0 && modifiers == 0) return text;
    if (modifiers & HOTKEYF_CONTROL) {
        text += GetKeyName(VK_CONTROL, false);
        text += L" + ";
    }
    if (modifiers & HOTKEYF_SHIFT) {
        text += GetKeyName(VK_SHIFT, false);
        text += L" + ";
    }
    if (modifiers & HOTKEYF_ALT) {
        text += GetKeyName(VK_MENU, false);
        text += L" + ";
    }
    text += GetKeyName(key, (modifiers & HOTKEYF_EXT) != 0);
    return text;
}

void CHotKeyWnd::OnHotKeyChanged() {
    if (!m_owner) return;
    const WORD hotKey = LOWORD(SendMessageW(m_hWnd, HKM_GETHOTKEY, 0, 0));
    m_owner->m_virtualKey = LOBYTE(hotKey);
    m_owner->m_modifiers = HIBYTE(hotKey);
    if (m_owner->m_virtualKey != 0) {
        m_owner->m_text = GetHotKeyText();
    } else {
        m_owner->m_text = L"None";
        m_owner->m_modifiers = 0;
    }
    if (m_manager) m_manager->SendNotification(m_owner, L"textchanged");
}

void CHotKeyWnd::PaintEditor() {
    PAINTSTRUCT paint = {};
    HDC dc = BeginPaint(m_hWnd, &paint);
    RECT client = {};
    ::GetClientRect(m_hWnd, &client);
    HBRUSH brush = CreateSolidBrush(ToColorRef(m_owner ? m_owner->GetNativeBkColor() : 0xFFFFFFFF));
    FillRect(dc, &client, brush);
    DeleteObject(brush);
    SetBkMode(dc, TRANSPARENT);
    if (m_owner) ::SetTextColor(dc, ToColorRef(m_owner->GetTextColor()));
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    const CUIString text = GetHotKeyText();
    DrawTextW(dc, text, -1, &client, DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    SIZE extent = {};
    GetTextExtentPoint32W(dc, text, text.GetLength(), &extent);
    SetCaretPos(extent.cx, 0);
    if (old) SelectObject(dc, old);
    EndPaint(m_hWnd, &paint);
}

LRESULT CHotKeyWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_KILLFOCUS: {
        const LRESULT result = DefWindowProcW(m_hWnd, message, wParam, lParam);
        // Posted, not sent: the host window's WM_SETFOCUS comes next and
        // hands the focus event to the field again, which must still find
        // its editor (a field without one would open a new one).
        PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
        return result;
    }
    case WM_PAINT:
        PaintEditor();
        return 0;
    case WM_NCCALCSIZE:
    case WM_NCACTIVATE:
        return 0;
    case WM_KEYDOWN:
        if (LOWORD(wParam) == VK_RETURN) {
            if (m_owner && m_manager) m_manager->SendNotification(m_owner, L"return");
            return 0;
        }
        break;
    case kReflectedCommand:
        if (HIWORD(wParam) == EN_CHANGE) {
            if (m_ready) OnHotKeyChanged();
        } else if (HIWORD(wParam) == EN_UPDATE) {
            InvalidateRect(m_hWnd, nullptr, FALSE);
        }
        return 0;
    default:
        break;
    }
    return CWindowWnd::HandleMessage(message, wParam, lParam);
}

void CHotKeyWnd::OnFinalMessage(HWND) {
    if (m_owner) {
        m_owner->m_editor = nullptr;
        m_owner->Invalidate();
    }
    delete this;
}

CHotKeyUI::CHotKeyUI() {
    SetTextPadding(4, 3, 4, 3);
    SetBkColor(0xFFFFFFFF);
}

CHotKeyUI::~CHotKeyUI() {
    CloseEditorOf(this, m_manager, m_editor);
    m_editor = nullptr;
}

CControlUI* CHotKeyUI::CreateHotKeyUI() { return new (std::nothrow) CHotKeyUI; }
const wchar_t* CHotKeyUI::GetClassTag() const { return L"HotKey"; }

void* CHotKeyUI::FindInterface(const wchar_t* tag) {
    if (tag && (Is(tag, L"HotKey") || Is(tag, L"Label") || Is(tag, L"Control"))) return this;
    return nullptr;
}

UINT CHotKeyUI::GetBehaviorFlags() const { return IsEnabled() ? 3u : 0u; }

void CHotKeyUI::SetText(const wchar_t* text) {
    m_text = text;
    Invalidate();
}

void CHotKeyUI::SetHotKey(WORD virtualKey, WORD modifiers) {
    m_virtualKey = virtualKey;
    m_modifiers = modifiers;
    if (m_editor && m_editor->GetHWND()) {
        SendMessageW(m_editor->GetHWND(), HKM_SETHOTKEY, MAKEWORD(virtualKey, modifiers), 0);
        m_text = m_editor->GetHotKeyText();
    }
    Invalidate();
}

void CHotKeyUI::SetPos(RECT rect, bool invalidate) {
    CLabelUI::SetPos(rect, invalidate);
    if (m_editor) MoveEditorWindow(m_editor->GetHWND(), m_editor->CalcPos());
}

void CHotKeyUI::SetVisible(bool show) {
    CLabelUI::SetVisible(show);
    if (!IsVisible() && m_editor && m_manager) m_manager->SetFocusedControl(nullptr);
}

void CHotKeyUI::SetParentVisible(bool show) {
    CLabelUI::SetParentVisible(show);
    if (!IsVisible() && m_editor && m_manager) m_manager->SetFocusedControl(nullptr);
}

void CHotKeyUI::SetEnabled(bool enabled) {
    if (m_enabled == enabled) return;
    m_enabled = enabled;
    Invalidate();
    if (!enabled) m_state = 0;
}

SIZE CHotKeyUI::MeasureSize(SIZE available) {
    if (GetFixedHeight() != 0 || !m_manager) return CControlUI::MeasureSize(available);
    const LONG height = m_manager->GetFontEntry(m_font)->metrics.tmHeight;
    return SIZE{GetFixedWidth(), height + 6};
}

void CHotKeyUI::OpenEditor() {
    CHotKeyWnd* editor = new (std::nothrow) CHotKeyWnd;
    if (!editor) return;
    m_editor = editor;
    editor->Init(this);
    if (m_editor == editor && !editor->GetHWND()) {
        m_editor = nullptr;
        delete editor;
    }
}

void CHotKeyUI::HandleEvent(ControlEvent& event) {
    if (SharedFieldEvent(this, m_manager, m_editor != nullptr, event)) return;
    if (event.type == EventSetFocus && IsEnabled()) {
        if (m_editor) return;
        OpenEditor();
        Invalidate();
    } else if (IsPress(event.type)) {
        if (!IsEnabled()) return;
        if (m_manager) m_manager->ReleaseMouse();
        if (IsFocused() && !m_editor) OpenEditor();
        return;
    } else if (event.type == EventMouseEnter || event.type == EventMouseLeave) {
        if (IsEnabled()) {
            m_state = event.type == EventMouseEnter ? (m_state | ButtonHot) : (m_state & ~static_cast<UINT>(ButtonHot));
            Invalidate();
        }
        return;
    }
    CLabelUI::HandleEvent(event);
}

void CHotKeyUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (Is(name, L"normalimage")) {
        m_normalImage = value ? value : L"";
        Invalidate();
    } else if (Is(name, L"hotimage")) {
        m_hotImage = value ? value : L"";
        Invalidate();
    } else if (Is(name, L"focusedimage")) {
        m_focusedImage = value ? value : L"";
        Invalidate();
    } else if (Is(name, L"disabledimage")) {
        m_disabledImage = value ? value : L"";
        Invalidate();
    } else if (Is(name, L"nativebkcolor")) {
        if (*value == L'#') ++value;
        m_nativeBkColor = static_cast<DWORD>(wcstoul(value, nullptr, 16));
    } else {
        CLabelUI::SetAttribute(name, value);
    }
}

void CHotKeyUI::PaintStateImage(HDC hdc) {
    PaintFieldStateImage(this, hdc, m_state, m_normalImage, m_hotImage, m_focusedImage, m_disabledImage);
}

void CHotKeyUI::PaintText(HDC hdc) {
    if (!m_manager) return;
    if (m_textColor == 0) m_textColor = m_manager->GetDefaultFontColor();
    if (m_disabledTextColor == 0) m_disabledTextColor = m_manager->GetDefaultDisabledColor();
    if (m_text.IsEmpty()) return;
    RECT rect = LessPadding(m_item, GetTextPadding());
    CSkinRenderer::DrawText(hdc, m_manager, rect, m_text, IsEnabled() ? m_textColor : m_disabledTextColor, m_font,
                            m_textStyle | DT_SINGLELINE);
}

// ------------------------------------------------------------------ in-place address

CIPAddressExUI::CIPAddressExUI() {
    SetReadOnly(true);
    UpdateText();
}

CIPAddressExUI::~CIPAddressExUI() = default;

CControlUI* CIPAddressExUI::CreateIPAddressExUI() { return new (std::nothrow) CIPAddressExUI; }
const wchar_t* CIPAddressExUI::GetClassTag() const { return L"IPAddressEx"; }

void* CIPAddressExUI::FindInterface(const wchar_t* tag) {
    if (tag && Is(tag, L"IPAddressEx")) return this;
    return CEditUI::FindInterface(tag);
}

void CIPAddressExUI::SetNumbers(int a, int b, int c, int d) {
    const int values[4] = {a, b, c, d};
    for (int i = 0; i < 4; ++i) m_numbers[i] = values[i] < 0 ? 0 : values[i] > 255 ? 255 : values[i];
    UpdateText();
}

void CIPAddressExUI::UpdateText() {
    wchar_t text[32] = {};
    swprintf(text, 32, L"%d.%d.%d.%d", m_numbers[0], m_numbers[1], m_numbers[2], m_numbers[3]);
    CEditUI::SetText(text);
}

void CIPAddressExUI::Commit() {
    // Saturating: a long run of digits stays at the top of the range.
    int value = 0;
    const wchar_t* digits = m_typed;
    for (int i = 0; i < 259 && digits[i] >= L'0' && digits[i] <= L'9'; ++i) {
        value = value * 10 + (digits[i] - L'0');
        if (value > 255) {
            value = 255;
            break;
        }
    }
    if (m_field >= 1 && m_field <= 4) m_numbers[m_field - 1] = value;
    UpdateText();
}

void CIPAddressExUI::TypeDigit(wchar_t digit) {
    m_lastDigit = digit;
    m_typed += digit;
    Commit();
    if (m_typed.GetLength() == 3 && m_field < 4) {
        ++m_field;
        m_typed.Empty();
    }
}

void CIPAddressExUI::Step(int delta) {
    if (m_field >= 1 && m_field <= 4) {
        int& number = m_numbers[m_field - 1];
        if (delta > 0 && number < 255) ++number;
        if (delta < 0 && number > 0) --number;
    }
    UpdateText();
}

void CIPAddressExUI::HandleEvent(ControlEvent& event) {
    const bool enabled = IsEnabled();
    switch (event.type) {
    case EventKillFocus:
        if (enabled) {
            m_field = 0;
            Invalidate();
        }
        break;
    case EventButtonDown:
    case EventRightButtonDown:
    case EventDoubleClick:
        if (enabled) {
            m_typed.Empty();
            const int q = (m_item.right - m_item.left) / 4;
            const int d = event.mouse.x - m_item.left;
            m_field = d <= q ? 1 : d <= 2 * q ? 2 : d <= 3 * q ? 3 : 4;
            UpdateText();
        }
        return;
    case EventScrollWheel:
        if (enabled) Step(event.wParam ? -1 : 1);
        return;
    case EventKeyDown: {
        if (!enabled) return;
        const WORD key = event.key;
        if (key == VK_DELETE || key == VK_BACK) {
            if (m_field >= 1 && m_field <= 4) m_numbers[m_field - 1] = 0;
            m_typed.Empty();
            UpdateText();
        }
        if (m_field != 0) {
            if (key >= 0x30 && key <= 0x39) {
                TypeDigit(static_cast<wchar_t>(key));
            } else if (key >= VK_NUMPAD0 && key <= VK_NUMPAD9) {
                TypeDigit(static_cast<wchar_t>(L'0' + (key - VK_NUMPAD0)));
            }
        }
        if (key == VK_UP) {
            Step(1);
        } else if (key == VK_DOWN) {
            Step(-1);
        } else if (key == VK_LEFT) {
            if (m_field > 1) {
                if (!m_typed.IsEmpty()) {
                    Commit();
                    m_typed.Empty();
                }
                --m_field;
                Invalidate();
            }
        } else if (key == VK_RIGHT || key == VK_OEM_PERIOD || key == VK_DECIMAL) {
            if (m_field < 4) {
                if (!m_typed.IsEmpty()) {
                    Commit();
                    m_typed.Empty();
                }
                ++m_field;
                Invalidate();
            }
        }
        return;
    }
    default:
        break;
    }
    if (event.type == EventSetFocus) {
        m_focused = true;
    } else if (event.type == EventKillFocus) {
        m_focused = false;
    } else {
        CControlUI::HandleEvent(event);
    }
}

void CIPAddressExUI::PaintText(HDC hdc) {
    if (!m_manager) return;
    if (m_textColor == 0) m_textColor = m_manager->GetDefaultFontColor();
    if (m_disabledTextColor == 0) m_disabledTextColor = m_manager->GetDefaultDisabledColor();
    if (m_text.IsEmpty()) return;
    const RECT rect = LessPadding(m_item, GetTextPadding());
    const COLORREF color = ToColorRef(IsEnabled() ? m_textColor : m_disabledTextColor);
    HGDIOBJ old = SelectObject(hdc, m_manager->GetFontHandle(m_font));
    SetBkMode(hdc, TRANSPARENT);
    ::SetTextColor(hdc, color);
    const UINT style = m_textStyle | DT_SINGLELINE | DT_NOPREFIX;
    const int q = (rect.right - rect.left) / 4;
    for (int k = 1; k <= 3; ++k) {
        RECT dot = {rect.left + k * q, rect.top, rect.right, rect.bottom};
        DrawTextA(hdc, ".", 1, &dot, style);
    }
    const bool allZero = m_numbers[0] == 0 && m_numbers[1] == 0 && m_numbers[2] == 0 && m_numbers[3] == 0;
    if (!allZero || m_field != 0) {
        const int h = q / 2;
        for (int k = 1; k <= 4; ++k) {
            char number[8] = {};
            snprintf(number, sizeof(number), "%d", m_numbers[k - 1]);
            RECT cell = {rect.left + (k - 1) * q + h, rect.top, rect.right, rect.bottom};
            if (k == m_field && IsEnabled()) {
                ::SetTextColor(hdc, RGB(0xFF, 0xFF, 0xFF));
                SetBkMode(hdc, OPAQUE);
                ::SetBkColor(hdc, RGB(0x33, 0x99, 0xFF));
            }
            DrawTextA(hdc, number, -1, &cell, style);
            SetBkMode(hdc, TRANSPARENT);
            ::SetTextColor(hdc, color);
        }
    }
    SelectObject(hdc, old);
}

}  // namespace Veneer
