// The rich text field and its host of the platform's text services.
#include "RichEdit.h"

#include <cwchar>
#include <new>
#include <vector>

#include <windowsx.h>

#include "Button.h"
#include "NativeFields.h"
#include "ScrollBar.h"
#include "SkinRenderer.h"

namespace Veneer {

const IID IID_VeneerTextHost = {0xC5BDD8D0, 0xD26E, 0x11CE, {0xA8, 0x9E, 0x00, 0xAA, 0x00, 0x6C, 0xAD, 0xC5}};
const IID IID_VeneerTextServices = {0x8D33F740, 0xCF58, 0x11CE, {0xA8, 0x9D, 0x00, 0xAA, 0x00, 0x6C, 0xAD, 0xC5}};

namespace {
const DWORD kEditStyleBars = 0x003020C0;   // WS_VSCROLL, WS_HSCROLL, ES_AUTO*SCROLL, ES_DISABLENOSCROLL

CUIString& EngineLibraryName() {
    static CUIString name(L"Msftedit.dll");
    return name;
}

bool Is(const wchar_t* name, const wchar_t* expected) { return CompareTextNoCase(name, expected) == 0; }
bool IsTrue(const wchar_t* value) { return CompareTextNoCase(value, L"true") == 0; }
COLORREF ToColorRef(DWORD argb) { return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF); }

int DeviceDpi(HDC dc, int index) {
    const int dpi = dc ? GetDeviceCaps(dc, index) : 0;
    return dpi > 0 ? dpi : 96;
}

// The size, effects, charset, pitch and face of a font in a character format.
void ApplyLogFont(CHARFORMAT2W& format, const LOGFONTW& font, HDC dc) {
    format.yHeight = font.lfHeight * -1440 / DeviceDpi(dc, LOGPIXELSY);
    format.dwEffects &= ~static_cast<DWORD>(CFE_BOLD | CFE_ITALIC | CFE_UNDERLINE);
    if (font.lfWeight >= FW_BOLD) format.dwEffects |= CFE_BOLD;
    if (font.lfItalic) format.dwEffects |= CFE_ITALIC;
    if (font.lfUnderline) format.dwEffects |= CFE_UNDERLINE;
    format.bCharSet = font.lfCharSet;
    format.bPitchAndFamily = font.lfPitchAndFamily;
    lstrcpynW(format.szFaceName, font.lfFaceName, LF_FACESIZE);
}
}  // namespace

// ------------------------------------------------------------------ host

CTxtWinHost::CTxtWinHost() = default;

CTxtWinHost::~CTxtWinHost() {
    if (m_services) {
        m_services->OnTxInPlaceDeactivate();
        m_services->Release();
        m_services = nullptr;
    }
}

void CTxtWinHost::SetEngineLibrary(const wchar_t* name) { EngineLibraryName() = name ? name : L""; }
const wchar_t* CTxtWinHost::GetEngineLibrary() { return EngineLibraryName(); }

bool CTxtWinHost::CreateTextHost(CRichEditUI* control, const CREATESTRUCTW* create, CTxtWinHost** out) {
    CTxtWinHost* host = new (std::nothrow) CTxtWinHost;
    if (!host) return false;
    if (!host->Init(control, create)) {
        delete host;
        return false;
    }
    *out = host;
    return true;
}

CPaintManagerUI* CTxtWinHost::Manager() const { return m_owner ? m_owner->GetManager() : nullptr; }
HWND CTxtWinHost::Window() const {
    CPaintManagerUI* manager = Manager();
    return manager ? manager->GetPaintWindow() : nullptr;
}

bool CTxtWinHost::Init(CRichEditUI* control, const CREATESTRUCTW* create) {
    m_owner = control;
    m_refs = 1;
    InitDefaultCharFormat(m_charFormat, control);
    m_paraFormat = PARAFORMAT2{};
    m_paraFormat.cbSize = sizeof(m_paraFormat);
    m_paraFormat.dwMask = PFM_ALL;
    m_paraFormat.wAlignment = PFA_LEFT;
    m_paraFormat.cTabCount = 1;
    m_paraFormat.rgxTabs[0] = 720;
    m_style = ES_MULTILINE;
    SetFlag(FlagRichText, control->IsRichText());
    m_maxLength = static_cast<DWORD>(control->GetMaxChar());
    if (create) {
        m_style = create->style;
        SetFlag(FlagWordWrap, (m_style & (ES_AUTOHSCROLL | WS_HSCROLL)) == 0);
    }
    if (m_style & ES_CENTER) {
        m_paraFormat.wAlignment = PFA_CENTER;
    } else if (m_style & ES_RIGHT) {
        m_paraFormat.wAlignment = PFA_RIGHT;
    }
    SetFlag(FlagInPlaceActive, true);

    // The library stays loaded: the text services live in it.
    HMODULE library = LoadLibraryW(EngineLibraryName());
    if (!library) return false;
    CreateTextServicesProc create_services =
        reinterpret_cast<CreateTextServicesProc>(reinterpret_cast<void*>(GetProcAddress(library, "CreateTextServices")));
    if (!create_services) return false;
    IUnknown* unknown = nullptr;
    if (FAILED(create_services(nullptr, this, &unknown)) || !unknown) return false;
    void* services = nullptr;
    const HRESULT hr = unknown->QueryInterface(IID_VeneerTextServices, &services);
    unknown->Release();
    if (FAILED(hr) || !services) return false;
    m_services = static_cast<ITextServices*>(services);
    if (create && create->lpszName && *create->lpszName && FAILED(m_services->TxSetText(create->lpszName))) {
        return false;
    }
    return true;
}

void CTxtWinHost::InitDefaultCharFormat(CHARFORMAT2W& format, CRichEditUI* control) {
    format = CHARFORMAT2W{};
    format.cbSize = sizeof(format);
    CPaintManagerUI* manager = control->GetManager();
    LOGFONTW font = {};
    if (manager) GetObjectW(manager->GetFontHandle(control->GetFont()), sizeof(font), &font);
    format.dwMask = CFM_SIZE | CFM_COLOR | CFM_FACE | CFM_OFFSET | CFM_CHARSET | CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE;
    ApplyLogFont(format, font, manager ? manager->GetPaintDC() : nullptr);
    format.yOffset = 0;
    DWORD color = control->GetTextColor();
    if (manager && manager->IsLayeredMode() && (color & 0xFFFFFF) == 0) color += 1;
    format.crTextColor = ToColorRef(color);
}

void CTxtWinHost::ChangeCharFormat() {
    if (!m_services) return;
    m_services->OnTxPropertyBitsChange(kTxtBitCharFormatChange, kTxtBitCharFormatChange);
    // Wine's engine reads the host's character format only when it is made:
    // the new default goes to it as a message too (the same default again
    // for an engine that read it).
    LRESULT result = 0;
    m_services->TxSendMessage(EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&m_charFormat), &result);
}

void CTxtWinHost::SetFont(HFONT font) {
    if (!font) return;
    LOGFONTW logFont = {};
    GetObjectW(font, sizeof(logFont), &logFont);
    CPaintManagerUI* manager = Manager();
    ApplyLogFont(m_charFormat, logFont, manager ? manager->GetPaintDC() : nullptr);
    ChangeCharFormat();
}

void CTxtWinHost::SetTextColor(DWORD argb) {
    // A layered window shows pure black as transparent.
    if ((argb & 0xFFFFFF) == 0) argb += 1;
    m_charFormat.crTextColor = ToColorRef(argb);
    ChangeCharFormat();
}

void CTxtWinHost::SetClientRect(const RECT& rect) {
    m_client = rect;
    CPaintManagerUI* manager = Manager();
    HDC dc = manager ? manager->GetPaintDC() : nullptr;
    m_extent.cx = MulDiv(rect.right - rect.left, 2540, DeviceDpi(dc, LOGPIXELSX));
    m_extent.cy = MulDiv(rect.bottom - rect.top, 2540, DeviceDpi(dc, LOGPIXELSY));
    if (m_services) m_services->OnTxPropertyBitsChange(kTxtBitViewInsetChange, kTxtBitViewInsetChange);
}

bool CTxtWinHost::OnSetCursor(POINT point) {
    if (!m_services || !PtInRect(&m_client, point)) return false;
    CPaintManagerUI* manager = Manager();
    m_services->OnTxSetCursor(DVASPECT_CONTENT, -1, nullptr, nullptr, manager ? manager->GetPaintDC() : nullptr,
                              nullptr, IsInPlaceActive() ? nullptr : &m_client, point.x, point.y);
    return true;
}

void CTxtWinHost::ActivateInPlace() {
    SetInPlaceActive(true);
    if (m_services && FAILED(m_services->OnTxInPlaceActivate(nullptr))) SetInPlaceActive(false);
}

HRESULT STDMETHODCALLTYPE CTxtWinHost::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_VeneerTextHost)) {
        AddRef();
        *out = static_cast<ITextHost*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CTxtWinHost::AddRef() { return ++m_refs; }

ULONG STDMETHODCALLTYPE CTxtWinHost::Release() {
    const ULONG count = --m_refs;
    if (count == 0) delete this;
    return count;
}

HDC CTxtWinHost::TxGetDC() {
    CPaintManagerUI* manager = Manager();
    return manager ? manager->GetPaintDC() : nullptr;
}

INT CTxtWinHost::TxReleaseDC(HDC) { return 1; }

BOOL CTxtWinHost::TxShowScrollBar(INT bar, BOOL show) {
    CScrollBarUI* vertical = m_owner->GetVerticalScrollBar();
    CScrollBarUI* horizontal = m_owner->GetHorizontalScrollBar();
    if ((bar == SB_VERT || bar == SB_BOTH) && vertical) m_owner->ShowBar(vertical, show == 1);
    if ((bar == SB_HORZ || bar == SB_BOTH) && horizontal) m_owner->ShowBar(horizontal, show == 1);
    return TRUE;
}

BOOL CTxtWinHost::TxEnableScrollBar(INT bars, INT arrows) {
    const bool vertical = bars == SB_VERT || bars == SB_BOTH;
    const bool horizontal = bars == SB_HORZ || bars == SB_BOTH;
    if (bars == SB_VERT) {
        m_owner->EnableScrollBar(true, m_owner->GetHorizontalScrollBar() != nullptr);
    } else if (bars == SB_HORZ) {
        m_owner->EnableScrollBar(m_owner->GetVerticalScrollBar() != nullptr, true);
    } else if (bars == SB_BOTH) {
        m_owner->EnableScrollBar(true, true);
    }
    const bool show = arrows != ESB_DISABLE_BOTH;
    if (vertical && m_owner->GetVerticalScrollBar()) m_owner->ShowBar(m_owner->GetVerticalScrollBar(), show);
    if (horizontal && m_owner->GetHorizontalScrollBar()) m_owner->ShowBar(m_owner->GetHorizontalScrollBar(), show);
    return TRUE;
}

BOOL CTxtWinHost::TxSetScrollRange(INT bar, LONG minPos, INT maxPos, BOOL) {
    CScrollBarUI* target = bar == SB_VERT ? m_owner->GetVerticalScrollBar()
                           : bar == SB_HORZ ? m_owner->GetHorizontalScrollBar() : nullptr;
    if (!target) return TRUE;
    const LONG page = bar == SB_VERT ? m_client.bottom - m_client.top : m_client.right - m_client.left;
    const LONG range = maxPos - minPos - page;
    if (range > 0) {
        m_owner->ShowBar(target, true);
        target->SetScrollRange(static_cast<int>(range));
    } else {
        m_owner->ShowBar(target, false);
    }
    return TRUE;
}

BOOL CTxtWinHost::TxSetScrollPos(INT bar, INT pos, BOOL) {
    CScrollBarUI* target = bar == SB_VERT ? m_owner->GetVerticalScrollBar()
                           : bar == SB_HORZ ? m_owner->GetHorizontalScrollBar() : nullptr;
    if (target) target->SetScrollPos(pos);
    return TRUE;
}

void CTxtWinHost::TxInvalidateRect(LPCRECT rect, BOOL) {
    CPaintManagerUI* manager = Manager();
    if (!manager) return;
    RECT area = rect ? *rect : m_client;
    manager->InvalidateArea(area);
}

void CTxtWinHost::TxViewChange(BOOL) {
    if (m_owner->OnTextViewChanged()) m_owner->Invalidate();
}

BOOL CTxtWinHost::TxCreateCaret(HBITMAP bitmap, INT width, INT height) {
    const BOOL created = CreateCaret(Window(), bitmap, width, height);
    CPaintManagerUI* manager = Manager();
    if (manager && manager->IsLayeredMode()) {
        manager->SetCaretSize(width, height);
        return TRUE;
    }
    return created;
}

BOOL CTxtWinHost::TxShowCaret(BOOL show) {
    CPaintManagerUI* manager = Manager();
    if (!manager || !manager->IsLayeredMode()) return show ? ShowCaret(Window()) : HideCaret(Window());
    if (manager->GetCaretOwner() == m_owner && (m_owner->IsReadOnly() || !m_owner->Activate())) {
        manager->SetCaretVisible(false);
        return TRUE;
    }
    return manager->SetCaretVisible(show == 1);
}

BOOL CTxtWinHost::TxSetCaretPos(INT x, INT y) {
    CPaintManagerUI* manager = Manager();
    if (!manager || !manager->IsLayeredMode()) return SetCaretPos(x, y);
    manager->MoveCaret(x, y, m_owner);
    return TRUE;
}

BOOL CTxtWinHost::TxSetTimer(UINT id, UINT timeout) {
    CPaintManagerUI* manager = Manager();
    return manager && manager->SetControlTimer(m_owner, id, timeout);
}

void CTxtWinHost::TxKillTimer(UINT id) {
    if (CPaintManagerUI* manager = Manager()) manager->KillControlTimer(m_owner, id);
}

void CTxtWinHost::TxScrollWindowEx(INT, INT, LPCRECT, LPCRECT, HRGN, LPRECT, UINT) {}

void CTxtWinHost::TxSetCapture(BOOL capture) {
    CPaintManagerUI* manager = Manager();
    if (capture) {
        if (manager) {
            manager->CaptureMouse();
        } else {
            SetCapture(Window());
        }
    } else if (manager) {
        manager->ReleaseMouse();
    } else {
        ReleaseCapture();
    }
    SetFlag(FlagCaptured, capture != FALSE);
}

void CTxtWinHost::TxSetFocus() { m_owner->TakeFocus(); }
void CTxtWinHost::TxSetCursor(HCURSOR cursor, BOOL) { ::SetCursor(cursor); }
BOOL CTxtWinHost::TxScreenToClient(LPPOINT point) { return ScreenToClient(Window(), point); }
BOOL CTxtWinHost::TxClientToScreen(LPPOINT point) { return ClientToScreen(Window(), point); }
HRESULT CTxtWinHost::TxActivate(LONG*) { return S_OK; }
HRESULT CTxtWinHost::TxDeactivate(LONG) { return S_OK; }

HRESULT CTxtWinHost::TxGetClientRect(LPRECT rect) {
    *rect = m_client;
    return S_OK;
}

HRESULT CTxtWinHost::TxGetViewInset(LPRECT rect) {
    *rect = RECT{};
    return S_OK;
}

HRESULT CTxtWinHost::TxGetCharFormat(const CHARFORMATW** format) {
    *format = reinterpret_cast<const CHARFORMATW*>(&m_charFormat);
    return S_OK;
}

HRESULT CTxtWinHost::TxGetParaFormat(const PARAFORMAT** format) {
    *format = reinterpret_cast<const PARAFORMAT*>(&m_paraFormat);
    return S_OK;
}

COLORREF CTxtWinHost::TxGetSysColor(int index) {
    const COLORREF color = GetSysColor(index);
    return color == 0 ? 1 : color;
}

HRESULT CTxtWinHost::TxGetBackStyle(TextBackStyle* style) {
    *style = (m_flags & FlagTransparent) ? TextBackTransparent : TextBackOpaque;
    return S_OK;
}

HRESULT CTxtWinHost::TxGetMaxLength(DWORD* length) {
    *length = m_maxLength;
    return S_OK;
}

HRESULT CTxtWinHost::TxGetScrollBars(DWORD* bars) {
    *bars = m_style & kEditStyleBars;
    return S_OK;
}

HRESULT CTxtWinHost::TxGetPasswordChar(WCHAR* ch) {
    // The engine masks only with a character: a password field answers '*',
    // as the platform's own windowed control does.
    *ch = (m_style & ES_PASSWORD) ? L'*' : m_passwordChar;
    return S_OK;
}

HRESULT CTxtWinHost::TxGetAcceleratorPos(LONG* cp) {
    *cp = m_acceleratorPos;
    return S_OK;
}

HRESULT CTxtWinHost::TxGetExtent(LPSIZEL extent) {
    *extent = m_extent;
    return S_OK;
}

HRESULT CTxtWinHost::OnTxCharFormatChange(const CHARFORMATW*) { return S_OK; }
HRESULT CTxtWinHost::OnTxParaFormatChange(const PARAFORMAT*) { return S_OK; }

HRESULT CTxtWinHost::TxGetPropertyBits(DWORD mask, DWORD* bits) {
    DWORD value = 0;
    if (m_flags & FlagRichText) value |= kTxtBitRichText;
    if (m_style & ES_MULTILINE) value |= kTxtBitMultiLine;
    if (m_style & ES_READONLY) value |= kTxtBitReadOnly;
    if (m_style & ES_PASSWORD) value |= kTxtBitUsePassword;
    if (!(m_style & ES_NOHIDESEL)) value |= kTxtBitHideSelection;
    if (m_flags & FlagWordWrap) value |= kTxtBitWordWrap;
    *bits = value & mask;
    return S_OK;
}

HRESULT CTxtWinHost::TxNotify(DWORD code, void* data) {
    if (code == EN_REQUESTRESIZE && data) {
        const REQRESIZE* request = static_cast<const REQRESIZE*>(data);
        SetClientRect(RECT{m_client.left, m_client.top, m_client.left + request->rc.right,
                           m_client.top + request->rc.bottom});
    }
    m_owner->OnTextNotify(code, data);
    return S_OK;
}

HIMC CTxtWinHost::TxImmGetContext() { return nullptr; }
void CTxtWinHost::TxImmReleaseContext(HIMC) {}

HRESULT CTxtWinHost::TxGetSelectionBarWidth(LONG* width) {
    *width = m_selBarWidth;
    return S_OK;
}

// ------------------------------------------------------------------ control

CRichEditUI::CRichEditUI() = default;

CRichEditUI::~CRichEditUI() {
    if (m_host) {
        CTxtWinHost* host = m_host;
        m_host = nullptr;
        host->Release();
    }
    if (m_manager) m_manager->RemoveMessageFilter(this);
}

CControlUI* CRichEditUI::CreateRichEditUI() { return new (std::nothrow) CRichEditUI; }

const wchar_t* CRichEditUI::GetClassTag() const { return L"RichEdit"; }

void* CRichEditUI::FindInterface(const wchar_t* tag) {
    if (tag && Is(tag, L"RichEdit")) return this;
    return CContainerUI::FindInterface(tag);
}

UINT CRichEditUI::GetBehaviorFlags() const { return IsEnabled() ? 3u : 0u; }

HRESULT CRichEditUI::SendTextMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (!m_host || !m_host->GetTextServices()) return S_FALSE;
    if (message == WM_KEYDOWN && LOWORD(wParam) == VK_RETURN &&
        (!m_wantReturn || (GetKeyState(VK_CONTROL) < 0 && !m_wantCtrlReturn))) {
        if (m_manager) m_manager->SendNotification(this, L"return");
        return S_OK;
    }
    LRESULT local = 0;
    return m_host->GetTextServices()->TxSendMessage(message, wParam, lParam, result ? result : &local);
}

bool CRichEditUI::OnTextViewChanged() { return true; }

void CRichEditUI::OnTextNotify(DWORD code, void* data) {
    if (code == EN_CHANGE) {
        if (m_manager) m_manager->SendNotification(this, L"textchanged");
        return;
    }
    const bool forwarded = code == EN_MSGFILTER || code == EN_SELCHANGE || code == EN_DROPFILES ||
                           code == EN_PROTECTED || code == EN_STOPNOUNDO || (code >= 0x708 && code <= 0x70C);
    if (!forwarded || !data || !m_manager) return;
    HWND window = m_manager->GetPaintWindow();
    NMHDR* header = static_cast<NMHDR*>(data);
    const LONG id = GetWindowLongW(window, GWL_ID);
    header->hwndFrom = window;
    header->idFrom = static_cast<UINT_PTR>(id);
    header->code = code;
    SendMessageW(window, WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(data));
}

CUIString CRichEditUI::GetText() const {
    if (!m_host) return CUIString();
    CRichEditUI* self = const_cast<CRichEditUI*>(this);
    GETTEXTLENGTHEX lengthQuery = {GTL_DEFAULT, 1200};
    LRESULT length = 0;
    self->SendTextMessage(EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&lengthQuery), 0, &length);
    if (length <= 0) return CUIString();
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    GETTEXTEX textQuery = {};
    textQuery.cb = static_cast<DWORD>((length + 1) * sizeof(wchar_t));
    textQuery.flags = GT_DEFAULT;
    textQuery.codepage = 1200;
    LRESULT copied = 0;
    self->SendTextMessage(EM_GETTEXTEX, reinterpret_cast<WPARAM>(&textQuery), reinterpret_cast<LPARAM>(buffer.data()),
                          &copied);
    buffer[static_cast<size_t>(length)] = L'\0';
    return CUIString(buffer.data());
}

void CRichEditUI::SetText(const wchar_t* text) {
    m_text = text ? text : L"";
    if (!m_host) return;
    CHARRANGE all = {0, -1};
    LRESULT result = 0;
    SendTextMessage(EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&all), &result);
    SendTextMessage(EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(static_cast<const wchar_t*>(m_text)), &result);
}

void CRichEditUI::SetRichText(bool on) {
    m_richText = on;
    if (!m_host) return;
    m_host->SetRichTextFlag(on);
    if (m_host->GetTextServices()) m_host->GetTextServices()->OnTxPropertyBitsChange(kTxtBitRichText, on ? 1 : 0);
}

void CRichEditUI::SetTextColor(DWORD argb) {
    m_textColor = argb;
    if (m_host) m_host->SetTextColor(argb);
}

void CRichEditUI::SetFont(int id) {
    m_fontId = id;
    if (m_host && m_manager) m_host->SetFont(m_manager->GetFontHandle(id));
}

void CRichEditUI::SetMaxChar(LONG count) {
    m_maxChar = count;
    if (!m_host) return;
    const DWORD length = count > 0 ? static_cast<DWORD>(count) : 32767u;
    m_host->SetMaxLength(length);
    ITextServices* services = m_host->GetTextServices();
    if (!services) return;
    services->OnTxPropertyBitsChange(kTxtBitMaxLengthChange, kTxtBitMaxLengthChange);
    // Wine's engine ignores that change and asks the host only once: the
    // limit goes to it as a message too.
    LRESULT result = 0;
    services->TxSendMessage(EM_EXLIMITTEXT, 0, static_cast<LPARAM>(length), &result);
}

RECT CRichEditUI::GetTextPadding() const {
    RECT r = m_textPadding;
    if (m_manager) m_manager->GetDpiScaler()->ScaleRect(r);
    return r;
}

void CRichEditUI::SetTextPadding(const RECT& padding) {
    m_textPadding = padding;
    Invalidate();
}

LRESULT CRichEditUI::SelectAll() {
    CHARRANGE all = {0, -1};
    LRESULT result = 0;
    SendTextMessage(EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&all), &result);
    return result;
}

bool CRichEditUI::CanUndo() {
    LRESULT result = 0;
    return m_host && SendTextMessage(EM_CANUNDO, 0, 0, &result) == S_OK && result == 1;
}

bool CRichEditUI::CanRedo() {
    LRESULT result = 0;
    return m_host && SendTextMessage(EM_CANREDO, 0, 0, &result) == S_OK && result == 1;
}

bool CRichEditUI::Undo() {
    LRESULT result = 0;
    return m_host && SendTextMessage(EM_UNDO, 0, 0, &result) == S_OK && result != 0;
}

bool CRichEditUI::Redo() {
    LRESULT result = 0;
    return m_host && SendTextMessage(EM_REDO, 0, 0, &result) == S_OK && result != 0;
}

void CRichEditUI::ClearAll() {
    SelectAll();
    LRESULT result = 0;
    SendTextMessage(WM_CLEAR, 0, 0, &result);
}

void CRichEditUI::ShowBar(CScrollBarUI* bar, bool show) {
    if (bar->IsVisible() == show) return;
    bar->SetVisible(show);
    // Outside a layout the bar needs one to get its place and give the text room.
    if (!m_placing) MarkForLayout();
}

void CRichEditUI::SetEnabled(bool enabled) {
    if (m_enabled == enabled) return;
    if (m_host && m_manager) m_host->SetTextColor(enabled ? m_textColor : m_manager->GetDefaultDisabledColor());
    m_enabled = enabled;
    Invalidate();
}

void CRichEditUI::OnInitialize() {
    if (m_initialised) return;
    m_initialised = true;
    CREATESTRUCTW create = {};
    create.style = static_cast<LONG>(m_editStyle);
    create.lpszName = m_text;
    CTxtWinHost::CreateTextHost(this, &create, &m_host);
    if (!m_host) return;
    ITextServices* services = m_host->GetTextServices();
    m_host->SetTransparent(true);
    services->OnTxPropertyBitsChange(kTxtBitBackStyleChange, 0);
    LRESULT result = 0;
    SendTextMessage(EM_SETLANGOPTIONS, 0, 0, &result);
    SendTextMessage(EM_SETEVENTMASK, 0, ENM_CHANGE | ENM_DROPFILES | ENM_LINK, &result);
    m_host->ActivateInPlace();
    // Wine's engine does not ask the host for its maximum length.
    if (m_maxChar != 32767) SetMaxChar(m_maxChar);
    if (m_manager) {
        m_manager->AddMessageFilter(this);
        if (!IsEnabled()) m_host->SetTextColor(m_manager->GetDefaultDisabledColor());
    }
}

bool CRichEditUI::NaturalHeight(const RECT& text, LONG& height) {
    if (!m_host || !m_manager) return false;
    LONG width = (m_vScroll ? m_vScroll->GetFixedWidth() : 0) + (text.right - text.left);
    height = 0;
    const SIZEL extent = {-1, -1};
    return SUCCEEDED(m_host->GetTextServices()->TxGetNaturalSize(DVASPECT_CONTENT, m_manager->GetPaintDC(), nullptr,
                                                                  nullptr, kNaturalSizeFitToContent, &extent,
                                                                  &width, &height));
}

RECT CRichEditUI::TextRect(const RECT& content) const {
    RECT text = content;
    const RECT padding = GetTextPadding();
    text.left += padding.left;
    text.top += padding.top;
    text.right -= padding.right;
    text.bottom -= padding.bottom;
    return text;
}

void CRichEditUI::SetPos(RECT rect, bool invalidate) {
    CControlUI::SetPos(rect, invalidate);
    m_placing = true;
    const bool barWasShown = VerticalBarShown();
    RECT content = ScaledContent();
    if (m_host) {
        RECT text = TextRect(content);
        m_host->SetClientRect(text);
        if ((barWasShown && !VerticalBarShown()) || (VerticalBarShown() && m_vBarForOverflow)) {
            LONG height = 0;
            if (NaturalHeight(text, height) && height > text.bottom - text.top) {
                m_vScroll->SetVisible(true);
                m_vScroll->SetScrollPos(0);
                m_vBarForOverflow = true;
            } else if (m_vBarForOverflow) {
                m_vScroll->SetVisible(false);
                m_vBarForOverflow = false;
            }
        }
        // The engine's answers may have shown or hidden a bar: the text
        // gets the room that is left.
        if (VerticalBarShown() != barWasShown) {
            content = ScaledContent();
            text = TextRect(content);
            m_host->SetClientRect(text);
        }
    }
    if (VerticalBarShown()) {
        m_vScroll->SetPos(RECT{content.right, content.top, content.right + m_vScroll->GetFixedWidth(), content.bottom});
    }
    if (HorizontalBarShown()) {
        m_hScroll->SetPos(
            RECT{content.left, content.bottom, content.right, content.bottom + m_hScroll->GetFixedHeight()});
    }
    LayoutChildren(content);
    m_placing = false;
}

void CRichEditUI::LayoutChildren(const RECT& content) {
    if (m_items.IsEmpty()) return;
    SIZE available = {content.right - content.left, content.bottom - content.top};
    if (HorizontalBarShown()) available.cx += m_hScroll->GetScrollRange();
    const int padding = GetChildPadding();
    int counted = 0, stretching = 0, fixedTotal = 0;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* child = static_cast<CControlUI*>(m_items.GetAt(i));
        if (!child->IsVisible() || child->IsFloat()) continue;
        SIZE desired = child->MeasureSize(available);
        const RECT childPadding = child->GetPadding();
        if (desired.cx == 0) {
            ++stretching;
        } else {
            if (desired.cx < child->GetMinWidth()) desired.cx = child->GetMinWidth();
            if (desired.cx > child->GetMaxWidth()) desired.cx = child->GetMaxWidth();
        }
        fixedTotal += childPadding.left + desired.cx + childPadding.right;
        ++counted;
    }
    if (counted > 1) fixedTotal += padding * (counted - 1);
    int stretch = 0;
    if (stretching > 0) {
        stretch = (available.cx - fixedTotal) / stretching;
        if (stretch < 0) stretch = 0;
    }
    int x = content.left - (HorizontalBarShown() ? m_hScroll->GetScrollPos() : 0);
    int remaining = available.cx;
    int needed = 0;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* child = static_cast<CControlUI*>(m_items.GetAt(i));
        if (!child->IsVisible()) continue;
        if (child->IsFloat()) {
            PlaceFloatingChild(i);
            continue;
        }
        const RECT childPadding = child->GetPadding();
        remaining -= childPadding.left;
        int width = child->MeasureSize(SIZE{remaining, available.cy}).cx;
        if (width == 0) width = stretch;
        if (width < child->GetMinWidth()) width = child->GetMinWidth();
        if (width > child->GetMaxWidth()) width = child->GetMaxWidth();
        int height = child->GetFixedHeight();
        if (height == 0) height = content.bottom - childPadding.bottom - childPadding.top - content.top;
        if (height < 0) height = 0;
        if (height < child->GetMinHeight()) height = child->GetMinHeight();
        if (height > child->GetMaxHeight()) height = child->GetMaxHeight();
        const int left = x + childPadding.left;
        const int top = content.top + childPadding.top;
        child->SetPos(RECT{left, top, left + width, top + height}, false);
        x += childPadding.left + width + childPadding.right + padding;
        needed += childPadding.left + width + childPadding.right;
        remaining -= width + padding + childPadding.right;
    }
    if (counted > 1) needed += padding * (counted - 1);
    if (m_hScroll && needed > content.right - content.left) {
        const int range = needed - (content.right - content.left);
        if (m_hScroll->IsVisible()) {
            m_hScroll->SetScrollRange(range);
        } else {
            m_hScroll->SetVisible(true);
            m_hScroll->SetScrollRange(range);
            m_hScroll->SetScrollPos(0);
            m_hScroll->SetPos(m_hScroll->GetPos());
        }
    }
}

void CRichEditUI::MoveBy(int dx, int dy, bool invalidate) {
    CContainerUI::MoveBy(dx, dy, invalidate);
    // The text keeps its padding, as the last layout gave it.
    if (m_host) m_host->SetClientRect(TextRect(ScaledContent()));
}

void CRichEditUI::HandleEvent(ControlEvent& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.type)) {
        if (m_parent) {
            m_parent->HandleEvent(event);
        } else {
            CControlUI::HandleEvent(event);
        }
        return;
    }
    LRESULT result = 0;
    switch (event.type) {
    case EventSetCursor:
        if (IsEnabled() && m_host && m_host->OnSetCursor(event.mouse)) return;
        break;
    case EventSetFocus:
    case EventKillFocus: {
        const bool focus = event.type == EventSetFocus;
        if (m_host) {
            m_host->ActivateInPlace();
            m_host->GetTextServices()->TxSendMessage(focus ? WM_SETFOCUS : WM_KILLFOCUS, 0, 0, &result);
        }
        m_focused = focus;
        Invalidate();
        return;
    }
    case EventTimer:
        if (m_host) m_host->GetTextServices()->TxSendMessage(WM_TIMER, event.wParam, event.lParam, &result);
        break;
    case EventScrollWheel:
        if (event.keyState & MK_CONTROL) return;
        break;
    case EventKeyDown:
    case EventKeyUp:
    case EventChar:
    case EventSysKey:
    case EventMouseMove:
    case EventButtonDown:
    case EventButtonUp:
    case EventDoubleClick:
        return;
    case EventMouseEnter:
    case EventMouseLeave:
        if (IsEnabled()) {
            m_state = event.type == EventMouseEnter ? (m_state | ButtonHot) : (m_state & ~static_cast<UINT>(ButtonHot));
            Invalidate();
        }
        return;
    default:
        break;
    }
    CContainerUI::HandleEvent(event);
}

void CRichEditUI::SetStateImage(CUIString& image, const wchar_t* value) {
    image = value ? value : L"";
    Invalidate();
}

void CRichEditUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (Is(name, L"vscrollbar")) {
        if (IsTrue(value)) {
            m_editStyle |= WS_VSCROLL | ES_DISABLENOSCROLL;
            // The engine drives a bar of the container's own.
            EnableScrollBar(true, m_hScroll != nullptr);
        }
    } else if (Is(name, L"autovscroll")) {
        if (IsTrue(value)) m_editStyle |= ES_AUTOVSCROLL;
    } else if (Is(name, L"hscrollbar")) {
        if (IsTrue(value)) {
            m_editStyle |= WS_HSCROLL | ES_DISABLENOSCROLL;
            EnableScrollBar(m_vScroll != nullptr, true);
        }
    } else if (Is(name, L"autohscroll")) {
        if (IsTrue(value)) m_editStyle |= ES_AUTOHSCROLL;
    } else if (Is(name, L"wanttab")) {
        m_wantTab = IsTrue(value);
    } else if (Is(name, L"wantreturn")) {
        m_wantReturn = IsTrue(value);
    } else if (Is(name, L"wantctrlreturn")) {
        m_wantCtrlReturn = IsTrue(value);
    } else if (Is(name, L"rich")) {
        SetRichText(IsTrue(value));
    } else if (Is(name, L"multiline")) {
        if (CompareTextNoCase(value, L"false") == 0) m_editStyle &= ~static_cast<DWORD>(ES_MULTILINE);
    } else if (Is(name, L"readonly")) {
        if (IsTrue(value)) {
            m_editStyle |= ES_READONLY;
            m_readOnly = true;
        }
    } else if (Is(name, L"password")) {
        if (IsTrue(value)) m_editStyle |= ES_PASSWORD;
    } else if (Is(name, L"align")) {
        if (wcsstr(value, L"left")) m_editStyle &= ~static_cast<DWORD>(ES_CENTER | ES_RIGHT);
        if (wcsstr(value, L"center")) m_editStyle = (m_editStyle & ~static_cast<DWORD>(ES_RIGHT)) | ES_CENTER;
        if (wcsstr(value, L"right")) m_editStyle = (m_editStyle & ~static_cast<DWORD>(ES_CENTER)) | ES_RIGHT;
    } else if (Is(name, L"font")) {
        SetFont(_wtoi(value));
    } else if (Is(name, L"textcolor")) {
        while (*value > 0 && *value <= 32) ++value;
        if (*value == L'#') ++value;
        SetTextColor(static_cast<DWORD>(wcstoul(value, nullptr, 16)));
    } else if (Is(name, L"maxchar")) {
        SetMaxChar(_wtoi(value));
    } else if (Is(name, L"normalimage")) {
        SetStateImage(m_normalImage, value);
    } else if (Is(name, L"hotimage")) {
        SetStateImage(m_hotImage, value);
    } else if (Is(name, L"focusedimage")) {
        SetStateImage(m_focusedImage, value);
    } else if (Is(name, L"disabledimage")) {
        SetStateImage(m_disabledImage, value);
    } else if (Is(name, L"textpadding")) {
        long v[4];
        ReadIntList(value, v, 4);
        SetTextPadding(RECT{v[0], v[1], v[2], v[3]});
    } else if (Is(name, L"tipvalue")) {
        m_tipValue = value;
    } else if (Is(name, L"tipvaluecolor")) {
        if (*value == L'#') ++value;
        m_tipColor = static_cast<DWORD>(wcstoul(value, nullptr, 16));
    } else if (Is(name, L"tipvaluealign")) {
        if (wcsstr(value, L"left")) m_tipFormat = DT_SINGLELINE | DT_LEFT;
        if (wcsstr(value, L"center")) m_tipFormat = DT_SINGLELINE | DT_CENTER;
        if (wcsstr(value, L"right")) m_tipFormat = DT_SINGLELINE | DT_RIGHT;
    } else {
        CContainerUI::SetAttribute(name, value);
    }
}

SIZE CRichEditUI::MeasureSize(SIZE available) { return CControlUI::MeasureSize(available); }

void CRichEditUI::PaintStateImage(HDC hdc) {
    PaintFieldStateImage(this, hdc, m_state, m_normalImage, m_hotImage, m_focusedImage, m_disabledImage);
}

void CRichEditUI::Paint(HDC hdc, const RECT& paint) {
    RECT outer;
    if (!IntersectRect(&outer, &paint, &m_item)) return;
    CClipScope clip;
    CClipScope::ClipToRect(hdc, outer, clip);
    CControlUI::Paint(hdc, paint);
    if (m_host) {
        RECT client = m_host->GetClientRect();
        RECT update = paint;
        // The engine draws a partly visible last line whole: the text
        // rectangle bounds its ink.
        RECT textClip;
        IntersectRect(&textClip, &outer, &client);
        CClipScope clipText;
        CClipScope::ClipToRect(hdc, textClip, clipText);
        m_host->GetTextServices()->TxDraw(DVASPECT_CONTENT, 0, nullptr, nullptr, hdc, nullptr,
                                          reinterpret_cast<LPCRECTL>(&client), nullptr, &update, nullptr, 0, 0);
        if (m_vBarForOverflow) {
            LONG height = 0;
            if (NaturalHeight(client, height) && height <= client.bottom - client.top) MarkForLayout();
        }
    }
    PaintChildren(hdc, paint);
    PaintScrollBars(hdc, paint);
    if (!IsFocused() && !m_tipValue.IsEmpty() && GetText().IsEmpty() && m_manager) {
        RECT rect = TextRect(m_item);
        const UINT format = m_tipFormat | ((m_editStyle & ES_MULTILINE) ? 0u : static_cast<UINT>(DT_VCENTER));
        CSkinRenderer::DrawText(hdc, m_manager, rect, m_tipValue, m_tipColor, m_fontId, format);
    }
}

void CRichEditUI::SetScrollPos(SIZE position, bool) {
    int dx = 0, dy = 0;
    if (VerticalBarShown()) {
        const int old = m_vScroll->GetScrollPos();
        m_vScroll->SetScrollPos(position.cy);
        dy = m_vScroll->GetScrollPos() - old;
    }
    if (HorizontalBarShown()) {
        const int old = m_hScroll->GetScrollPos();
        m_hScroll->SetScrollPos(position.cx);
        dx = m_hScroll->GetScrollPos() - old;
    }
    LRESULT result = 0;
    if (dy != 0) {
        SendTextMessage(WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, m_vScroll->GetScrollPos()), 0, &result);
        if (!m_richText && VerticalBarShown() && dy > 0 && m_vScroll->GetScrollPos() <= position.cy) {
            m_vScroll->SetScrollPos(position.cy);
        }
    }
    if (dx != 0) SendTextMessage(WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, m_hScroll->GetScrollPos()), 0, &result);
}

void CRichEditUI::SendScroll(UINT message, WPARAM code) {
    LRESULT result = 0;
    SendTextMessage(message, code, 0, &result);
}

void CRichEditUI::ScrollLineUp() { SendScroll(WM_VSCROLL, SB_LINEUP); }
void CRichEditUI::ScrollLineDown() {
    const bool plainWithBar = !m_richText && VerticalBarShown();
    const int before = plainWithBar ? m_vScroll->GetScrollPos() : 0;
    SendScroll(WM_VSCROLL, SB_LINEDOWN);
    // Plain text at its last line leaves the bar short of its end.
    if (plainWithBar && m_vScroll->GetScrollPos() <= before) m_vScroll->SetScrollPos(m_vScroll->GetScrollRange());
}
void CRichEditUI::ScrollPageUp() { SendScroll(WM_VSCROLL, SB_PAGEUP); }
void CRichEditUI::ScrollPageDown() { SendScroll(WM_VSCROLL, SB_PAGEDOWN); }
void CRichEditUI::ScrollToTop() { SendScroll(WM_VSCROLL, SB_TOP); }
void CRichEditUI::ScrollToBottom() { SendScroll(WM_VSCROLL, SB_BOTTOM); }
void CRichEditUI::ScrollLineLeft() { SendScroll(WM_HSCROLL, SB_LINELEFT); }
void CRichEditUI::ScrollLineRight() { SendScroll(WM_HSCROLL, SB_LINERIGHT); }
void CRichEditUI::ScrollPageLeft() { SendScroll(WM_HSCROLL, SB_PAGELEFT); }
void CRichEditUI::ScrollPageRight() { SendScroll(WM_HSCROLL, SB_PAGERIGHT); }
void CRichEditUI::ScrollToLeftEnd() { SendScroll(WM_HSCROLL, SB_LEFT); }
void CRichEditUI::ScrollToRightEnd() { SendScroll(WM_HSCROLL, SB_RIGHT); }

// ------------------------------------------------------------------ window messages

void CRichEditUI::ShowContextMenu(LPARAM lParam) {
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    LRESULT result = 0;
    CHARRANGE selection = {};
    SendTextMessage(EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection), &result);
    const bool empty = selection.cpMin == selection.cpMax;
    const UINT grey = MF_GRAYED;
    AppendMenuW(menu, CanUndo() ? 0 : grey, 101, L"Undo(&U)");
    AppendMenuW(menu, CanRedo() ? 0 : grey, 107, L"Redo(&R)");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, (m_readOnly || empty) ? grey : 0, 102, L"Cut(&X)");
    AppendMenuW(menu, empty ? grey : 0, 103, L"Copy(&C)");
    AppendMenuW(menu, m_readOnly ? grey : 0, 104, L"Paste(&V)");
    AppendMenuW(menu, (m_readOnly || empty) ? grey : 0, 105, L"Clear(&L)");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, 0, 106, L"Select All(&A)");
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), 0,
                   m_manager->GetPaintWindow(), nullptr);
    DestroyMenu(menu);
}

LRESULT CRichEditUI::FilterMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    if (!IsVisible() || !IsEnabled() || !m_manager) return 0;
    const bool mouse = message >= WM_MOUSEFIRST && message <= 0x20D;
    if (mouse && !IsMouseEnabled()) return 0;
    if (message == WM_MOUSEWHEEL && !(LOWORD(wParam) & MK_CONTROL)) return 0;
    HWND window = m_manager->GetPaintWindow();
    if (message == WM_IME_COMPOSITION) {
        if (HIMC context = ImmGetContext(window)) {
            COMPOSITIONFORM form = {};
            form.dwStyle = CFS_POINT;
            GetCaretPos(&form.ptCurrentPos);
            ImmSetCompositionWindow(context, &form);
            ImmReleaseContext(window, context);
        }
        return 0;
    }
    bool report = true;
    const bool captured = m_host && m_host->IsCaptured();
    if (mouse || message == WM_SETCURSOR) {
        if (!captured) {
            POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            if (message == WM_MOUSEWHEEL) {
                ScreenToClient(window, &point);
            } else if (message == WM_SETCURSOR) {
                GetCursorPos(&point);
                ScreenToClient(window, &point);
            }
            if (message >= WM_LBUTTONDOWN && message <= WM_RBUTTONUP && m_manager->FindControlAt(point) != this) {
                return 0;
            }
            const RECT client = m_host ? m_host->GetClientRect() : RECT{};
            if (!PtInRect(&client, point) || m_manager->IsCaptured()) return 0;
            if (message == WM_SETCURSOR) {
                report = false;
            } else if (message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK || message == WM_RBUTTONDOWN) {
                TakeFocus();
            }
        }
    } else if (message >= WM_KEYFIRST && message <= WM_KEYLAST) {
        if (!IsFocused()) return 0;
    } else if (message == WM_CONTEXTMENU) {
        POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ScreenToClient(window, &point);
        if (m_manager->FindControlAt(point) != this || !IsMenuEnabled()) return 0;
        ShowContextMenu(lParam);
    } else if (message == WM_COMMAND) {
        handled = false;
        report = false;
        if (!IsFocused()) return 0;
        LRESULT ignored = 0;
        switch (wParam) {
        case 101: Undo(); break;
        case 102: SendTextMessage(WM_CUT, 0, 0, &ignored); break;
        case 103: SendTextMessage(WM_COPY, 0, 0, &ignored); break;
        case 104: SendTextMessage(WM_PASTE, 0, 0, &ignored); break;
        // Clear removes the selection only, as the menu item says.
        case 105: SendTextMessage(WM_CLEAR, 0, 0, &ignored); break;
        case 106: SelectAll(); break;
        case 107: Redo(); break;
        default: break;
        }
    } else if (message == WM_HELP) {
        report = false;
    } else {
        return 0;
    }
    LRESULT result = 0;
    const HRESULT hr = SendTextMessage(message, wParam, lParam, &result);
    const bool keyboard = (message >= WM_KEYFIRST && message <= WM_KEYLAST) || message == WM_IME_CHAR;
    if (hr == S_OK || keyboard || (mouse && captured)) handled = report;
    return result;
}

}  // namespace Veneer
