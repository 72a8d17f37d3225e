// The PIN field. The characters live only masked in this object; the edit
// shows one '*' per character and its text changes only through Refresh.
#include "PasswordEdit.h"

#include <cstdlib>
#include <cstring>

#include "ResultCodes.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"PasswordEdit"

namespace {

constexpr UINT_PTR HOOK_TIMER_ID = 0;
constexpr UINT HOOK_TIMER_MS = 1;
constexpr uint32_t BUFFER_BYTES = PASSWORD_MAX_CHARS + 1;

// One hook and one active field per process.
HHOOK g_hHook = nullptr;
CPasswordEdit* g_pActiveEdit = nullptr;
// Ctrl as the hook itself saw it: the key state may not have caught up yet
// when the next key's event reaches the hook.
bool g_ctrlSeenDown = false;

bool IsDown(int vk) { return (GetAsyncKeyState(vk) & 0x8000) != 0 || (GetKeyState(vk) & 0x8000) != 0; }

bool IsPassThrough(DWORD vk) {
    switch (vk) {
    case VK_SHIFT: case VK_LSHIFT: case VK_RSHIFT: case VK_CAPITAL: case VK_RETURN: case VK_TAB:
    case VK_LMENU: case VK_RMENU: case VK_LCONTROL: case VK_RCONTROL: case VK_LWIN: case VK_RWIN:
    // Injected modifiers may come without their side (Wine gives VK_CONTROL).
    case VK_CONTROL: case VK_MENU:
        return true;
    default:
        return false;
    }
}

bool IsCharacterKey(DWORD vk) {
    return (vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z') || (vk >= 0xBA && vk <= 0xC0) ||
           (vk >= 0xDB && vk <= 0xDF) || (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9);
}

}  // namespace

CPasswordEdit::CPasswordEdit() = default;

CPasswordEdit::~CPasswordEdit() {
    if (m_hWnd && IsWindow(m_hWnd)) {
        KillTimer(m_hWnd, HOOK_TIMER_ID);
        if (m_oldProc) SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, LONG_PTR(m_oldProc));
        SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
    }
    if (g_pActiveEdit == this) {
        RemoveHook();
        g_pActiveEdit = nullptr;
    }
    if (m_lpbyRandomNumber) SecureZeroMemory(m_lpbyRandomNumber, BUFFER_BYTES);
    if (m_stPasswordDataBlob.pBlobData) SecureZeroMemory(m_stPasswordDataBlob.pBlobData, BUFFER_BYTES);
    free(m_lpbyRandomNumber);
    free(m_stPasswordDataBlob.pBlobData);
}

uint32_t CPasswordEdit::Initialize() {
    TRACE_NAME(L"CPasswordEdit::Initialize");
    m_stPasswordDataBlob.cbData = 0;
    if (!m_lpbyRandomNumber) m_lpbyRandomNumber = static_cast<uint8_t*>(calloc(BUFFER_BYTES, 1));
    if (!m_stPasswordDataBlob.pBlobData) m_stPasswordDataBlob.pBlobData = static_cast<uint8_t*>(calloc(BUFFER_BYTES, 1));
    if (!m_lpbyRandomNumber || !m_stPasswordDataBlob.pBlobData) return 0x8007000Eu;
    memset(m_lpbyRandomNumber, 0, BUFFER_BYTES);
    memset(m_stPasswordDataBlob.pBlobData, 0, BUFFER_BYTES);
    srand(GetTickCount());
    for (uint32_t k = 0; k < PASSWORD_MAX_CHARS; ++k) m_lpbyRandomNumber[k] = uint8_t(rand() % 254 + 1);
    return 0;
}

bool CPasswordEdit::Attach(HWND hEdit) {
    if (!hEdit || m_hWnd) return false;
    m_hWnd = hEdit;
    SetWindowLongPtrW(hEdit, GWLP_USERDATA, LONG_PTR(this));
    m_oldProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(hEdit, GWLP_WNDPROC, LONG_PTR(&SubclassProc)));
    CallWindowProcW(m_oldProc, hEdit, EM_LIMITTEXT, PASSWORD_MAX_CHARS, 0);
    CallWindowProcW(m_oldProc, hEdit, EM_SETPASSWORDCHAR, '*', 0);
    SetTimer(hEdit, HOOK_TIMER_ID, HOOK_TIMER_MS, nullptr);
    return true;
}

uint32_t CPasswordEdit::GetDecryptPassword(char** ppszPassword) {
    if (!ppszPassword) return 0x80070057u;
    *ppszPassword = nullptr;
    if (!m_lpbyRandomNumber || !m_stPasswordDataBlob.pBlobData) return 0x80004005u;
    const uint32_t n = m_stPasswordDataBlob.cbData;
    char* plain = static_cast<char*>(calloc(n + 1, 1));
    if (!plain) return 0x8007000Eu;
    // Exactly the stored length: a character equal to its mask is stored as
    // 0, which is no end of the PIN.
    for (uint32_t k = 0; k < n; ++k) plain[k] = char(m_stPasswordDataBlob.pBlobData[k] ^ m_lpbyRandomNumber[k]);
    *ppszPassword = plain;
    return 0;
}

bool CPasswordEdit::InstallHook() {
    // The new hook goes in before the old one goes out: no key slips
    // through between the two.
    HHOOK previous = g_hHook;
    g_hHook = SetWindowsHookExW(WH_KEYBOARD_LL, &LowLevelKeyboardProc, GetModuleHandleW(nullptr), 0);
    if (previous) UnhookWindowsHookEx(previous);
    if (!g_hHook) {
        TraceFailureLine(TRACE_MODULE, __LINE__, L"CPasswordEdit::InstallHook", L"SetWindowsHookExW",
                         L"NULL == g_hHook", HResultFromLastError());
        EnableWindow(m_hWnd, FALSE);
        return false;
    }
    return true;
}

void CPasswordEdit::RemoveHook() {
    if (g_hHook) UnhookWindowsHookEx(g_hHook);
    g_hHook = nullptr;
}

LRESULT CALLBACK CPasswordEdit::SubclassProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CPasswordEdit* self = reinterpret_cast<CPasswordEdit*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hWnd, msg, wParam, lParam);
    switch (msg) {
    case WM_SETFOCUS:
        return self->OnSetFocusEditCtl(msg, wParam, lParam);
    case WM_KILLFOCUS:
        return self->OnKillFocusEditCtl(msg, wParam, lParam);
    case WM_TIMER:
        if (wParam == HOOK_TIMER_ID) {
            if (self->m_focus == 1) self->InstallHook();
            return 0;
        }
        break;
    case WM_LBUTTONDOWN:
        return self->OnLButtonDownEditCtl();
    case WM_LBUTTONUP:
        return self->OnLButtonUpEditCtl();
    case WM_LBUTTONDBLCLK:
        return self->OnLButtonDblClkEditCtl();
    case WM_CONTEXTMENU:
        return self->OnContextMenuEditCtl();
    case WM_ERASEBKGND:
        return 1;
    // A key that reached the window while the hook was being replaced is
    // handled as the hook would have; the edit itself never sees it.
    case WM_KEYDOWN: case WM_SYSKEYDOWN: case WM_KEYUP: case WM_SYSKEYUP: {
        if (IsPassThrough(DWORD(wParam))) break;
        KBDLLHOOKSTRUCT key = {};
        key.vkCode = DWORD(wParam);
        key.scanCode = (DWORD(lParam) >> 16) & 0xFF;
        self->OnKey(msg, &key);
        return 0;
    }
    // The text changes only through Refresh: typed characters that did
    // not come through the hook, the clipboard and foreign text are dropped.
    case WM_CHAR: case WM_IME_CHAR: case WM_PASTE: case WM_CUT: case WM_CLEAR: case WM_UNDO:
    case EM_REPLACESEL: case EM_UNDO:
        return 0;
    case WM_SETTEXT:
        if (!self->m_refreshing) return FALSE;
        break;
    default:
        break;
    }
    return CallWindowProcW(self->m_oldProc, hWnd, msg, wParam, lParam);
}

LRESULT CPasswordEdit::OnSetFocusEditCtl(UINT msg, WPARAM wParam, LPARAM lParam) {
    m_focus = 1;
    g_pActiveEdit = this;
    InstallHook();
    return CallWindowProcW(m_oldProc, m_hWnd, msg, wParam, lParam);
}

LRESULT CPasswordEdit::OnKillFocusEditCtl(UINT msg, WPARAM wParam, LPARAM lParam) {
    m_focus = 0;
    RemoveHook();
    return CallWindowProcW(m_oldProc, m_hWnd, msg, wParam, lParam);
}

LRESULT CPasswordEdit::OnLButtonDownEditCtl() {
    SetFocus(m_hWnd);
    return 0;
}

LRESULT CPasswordEdit::OnLButtonUpEditCtl() {
    SetFocus(m_hWnd);
    return 0;
}

LRESULT CALLBACK CPasswordEdit::LowLevelKeyboardProc(int nCode, WPARAM wParam, LPARAM lParam) {
    CPasswordEdit* edit = g_pActiveEdit;
    if (nCode != HC_ACTION || !edit || !edit->m_hWnd || GetFocus() != edit->m_hWnd)
        return CallNextHookEx(g_hHook, nCode, wParam, lParam);
    if (edit->OnKey(wParam, reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam))) return 1;
    return CallNextHookEx(g_hHook, nCode, wParam, lParam);
}

bool CPasswordEdit::OnKey(WPARAM message, const KBDLLHOOKSTRUCT* key) {
    const bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
    const bool up = message == WM_KEYUP || message == WM_SYSKEYUP;
    if (!down && !up) return false;
    const DWORD vk = key->vkCode;
    if (vk == VK_CONTROL || vk == VK_LCONTROL || vk == VK_RCONTROL) g_ctrlSeenDown = down;
    if (IsPassThrough(vk)) return false;
    if (!down) return true;
    uint8_t* blob = m_stPasswordDataBlob.pBlobData;
    uint32_t& length = m_stPasswordDataBlob.cbData;
    if (!blob || !m_lpbyRandomNumber) return true;
    if (vk == VK_BACK) {
        if (length > 0) {
            --length;
            blob[length] = 0;
        }
        Refresh();
        return true;
    }
    if (IsCharacterKey(vk)) {
        if (g_ctrlSeenDown || IsDown(VK_CONTROL)) return true;
        const uint8_t c = GetCharFromKey(vk);
        if (c != 0 && length < PASSWORD_MAX_CHARS) {
            blob[length] = uint8_t(c ^ m_lpbyRandomNumber[length]);
            blob[length + 1] = 0;
            ++length;
        }
        Refresh();
        return true;
    }
    return true;
}

void CPasswordEdit::Refresh() {
    char stars[PASSWORD_MAX_CHARS + 1] = {};
    const uint32_t n = m_stPasswordDataBlob.cbData;
    memset(stars, '*', n);
    m_refreshing = true;
    SendMessageA(m_hWnd, WM_SETTEXT, 0, LPARAM(stars));
    m_refreshing = false;
    SendMessageW(m_hWnd, EM_SETSEL, n, -1);
    // The dialog follows the stored length, whether or not the edit itself
    // reported the change.
    HWND parent = GetParent(m_hWnd);
    if (parent) SendMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(m_hWnd), EN_CHANGE), LPARAM(m_hWnd));
}

uint8_t CPasswordEdit::GetCharFromKey(UINT vk) {
    // The numeric keypad's digits are themselves, whatever the layout maps.
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9) return uint8_t('0' + (vk - VK_NUMPAD0));
    uint8_t c = uint8_t(MapVirtualKeyW(vk, MAPVK_VK_TO_CHAR) & 0xFF);
    if (c == 0) return 0;
    const bool shift = IsDown(VK_SHIFT) || IsDown(VK_LSHIFT) || IsDown(VK_RSHIFT);
    const bool caps = (GetKeyState(VK_CAPITAL) & 1) != 0;
    if (shift) {
        static const uint8_t kShifted[][2] = {
            {39, 34}, {44, 60}, {45, 95}, {46, 62}, {47, 63}, {48, 41}, {49, 33}, {50, 64}, {51, 35},
            {52, 36}, {53, 37}, {54, 94}, {55, 38}, {56, 42}, {57, 40}, {59, 58}, {61, 43}, {91, 123},
            {92, 124}, {93, 125}, {96, 126}};
        for (const auto& pair : kShifted)
            if (pair[0] == c) return pair[1];
        return caps ? uint8_t(c | 0x20) : c;
    }
    if (c >= 'A' && c <= 'Z' && !caps) return uint8_t(c | 0x20);
    return c;
}
