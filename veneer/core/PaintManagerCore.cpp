// The paint manager's control side: the list of live managers and the
// message loop, focus and Tab order, capture, look-ups, timers,
// notifications, deferred deletion and option groups.
#include <new>

#include "PaintManager.h"
#include "UILock.h"

namespace Veneer {

// ------------------------------------------------------------------ small helpers

WORD GetModifierKeyFlags() {
    WORD flags = 0;
    if (GetKeyState(VK_LBUTTON) < 0) flags |= MK_LBUTTON;
    if (GetKeyState(VK_RBUTTON) < 0) flags |= MK_RBUTTON;
    if (GetKeyState(VK_SHIFT) < 0) flags |= MK_SHIFT;
    if (GetKeyState(VK_CONTROL) < 0) flags |= MK_CONTROL;
    if (GetKeyState(VK_MENU) < 0) flags |= 0x20;
    return flags;
}

void ChildWindowClientRect(HWND child, RECT& out, HWND parent) {
    GetWindowRect(child, &out);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&out), 2);
}

DWORD DibColorCount(const BITMAPINFOHEADER* header) {
    if (!header) return 0;
    if (header->biSize == sizeof(BITMAPCOREHEADER)) {
        const WORD bits = reinterpret_cast<const BITMAPCOREHEADER*>(header)->bcBitCount;
        return bits <= 8 ? 1u << bits : 0;
    }
    // A palette of up to 8 bits per pixel holds at most 256 colours, which is
    // also all that the system reads of it. Above 8 bits the table is an
    // optional palette of the count given, which the bits follow.
    if (header->biClrUsed != 0) {
        if (header->biBitCount <= 8 && header->biClrUsed > 256) return 256;
        return header->biClrUsed;
    }
    switch (header->biBitCount) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

unsigned long long DibColorTableBytes(const BITMAPINFOHEADER* header) {
    if (!header) return 0;
    const unsigned long long count = DibColorCount(header);
    if (header->biSize == sizeof(BITMAPCOREHEADER)) return count * 3;
    if (header->biCompression == BI_BITFIELDS) return count * 4 + 12;
    return count * 4;
}

// ------------------------------------------------------------------ the manager list

namespace {

// The managers bound to windows, on every thread. Guarded by its own lock:
// a manager is used only on its window's thread, so the list is only read
// here to pick the calling thread's managers.
struct ManagerList {
    ManagerList() { InitializeCriticalSection(&lock); }
    CRITICAL_SECTION lock;
    CPointerArray managers;
};

ManagerList& Managers() {
    static ManagerList* list = new ManagerList;   // lives to the end of the process
    return *list;
}

class ManagerListLock {
public:
    ManagerListLock() { EnterCriticalSection(&Managers().lock); }
    ~ManagerListLock() { LeaveCriticalSection(&Managers().lock); }
};

}  // namespace

void CPaintManagerUI::AddManager(CPaintManagerUI* manager) {
    ManagerListLock lock;
    if (Managers().managers.Find(manager) < 0) Managers().managers.Add(manager);
}

void CPaintManagerUI::RemoveManager(CPaintManagerUI* manager) {
    ManagerListLock lock;
    const int index = Managers().managers.Find(manager);
    if (index >= 0) Managers().managers.RemoveAt(index);
}

bool CPaintManagerUI::IsManagerLive(CPaintManagerUI* manager) {
    ManagerListLock lock;
    return Managers().managers.Find(manager) >= 0;
}

int CPaintManagerUI::GetManagerCount() {
    ManagerListLock lock;
    return Managers().managers.GetSize();
}

// ------------------------------------------------------------------ message loop

void CPaintManagerUI::RunMessageLoop() {
    MSG msg = {};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!FilterQueuedMessage(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

namespace {
bool Translated(const CPointerArray& translators, MSG* message) {
    for (int i = 0; i < translators.GetSize(); ++i) {
        if (static_cast<ITranslateAccelerator*>(translators.GetAt(i))->TranslateAccelerator(message) == 0) return true;
    }
    return false;
}
}  // namespace

bool CPaintManagerUI::FilterQueuedMessage(MSG* message) {
    if (!message) return false;
    // Only managers whose window belongs to this thread are ever called
    // here; another thread's manager (the owner of a dialog run on a worker
    // thread, say) is left to its own thread's loop.
    const DWORD thread = GetCurrentThreadId();
    CPointerArray mine;
    {
        ManagerListLock lock;
        const CPointerArray& all = Managers().managers;
        for (int i = 0; i < all.GetSize(); ++i) {
            CPaintManagerUI* manager = static_cast<CPaintManagerUI*>(all.GetAt(i));
            if (GetWindowThreadProcessId(manager->m_paintWindow, nullptr) == thread) mine.Add(manager);
        }
    }
    const HWND target = message->hwnd;
    if (GetWindowLongW(target, GWL_STYLE) & WS_CHILD) {
        for (int i = 0; i < mine.GetSize(); ++i) {
            CPaintManagerUI* manager = static_cast<CPaintManagerUI*>(mine.GetAt(i));
            for (HWND ancestor = GetParent(target); ancestor; ancestor = GetParent(ancestor)) {
                // A manager that an earlier call ended is skipped.
                if (!IsManagerLive(manager)) break;
                if (manager->m_paintWindow != target && manager->m_paintWindow != ancestor) continue;
                if (Translated(manager->m_translators, message)) return true;
                manager->PreHandleMessage(message->message, message->wParam, message->lParam);
            }
        }
        return false;
    }
    for (int i = 0; i < mine.GetSize(); ++i) {
        CPaintManagerUI* manager = static_cast<CPaintManagerUI*>(mine.GetAt(i));
        if (manager->m_paintWindow != target || !IsManagerLive(manager)) continue;
        if (Translated(manager->m_translators, message)) return true;
        return manager->PreHandleMessage(message->message, message->wParam, message->lParam);
    }
    return false;
}

namespace {

struct ShortcutSearch {
    wchar_t key;
    bool matched;
};

wchar_t UpperAscii(wchar_t ch) { return ch >= L'a' && ch <= L'z' ? static_cast<wchar_t>(ch - 32) : ch; }

CControlUI* ShortcutCallback(CControlUI* control, void* data) {
    ShortcutSearch* search = static_cast<ShortcutSearch*>(data);
    if (!control->IsVisible()) return nullptr;
    if (UpperAscii(control->GetShortcut()) == search->key && control->GetShortcut() != 0) search->matched = true;
    if (search->matched && !wcsstr(control->GetClassTag(), L"Label")) return control;
    return nullptr;
}

}  // namespace

bool CPaintManagerUI::PreHandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    for (int i = 0; i < m_preFilters.GetSize(); ++i) {
        bool handled = false;
        static_cast<IMessageFilterUI*>(m_preFilters.GetAt(i))->FilterMessage(message, wParam, lParam, handled);
        if (handled) return true;
    }
    switch (message) {
    case WM_KEYDOWN:
        if (wParam != VK_TAB) return false;
        if (m_focus && m_focus->IsVisible() && m_focus->IsEnabled() && wcsstr(m_focus->GetClassTag(), L"RichEdit")) {
            const ITabKeyWantedUI* owner = dynamic_cast<ITabKeyWantedUI*>(m_focus);
            if (owner && owner->IsTabWanted()) return false;
        }
        FocusNextControl(GetKeyState(VK_SHIFT) >= 0);
        return true;
    case WM_SYSKEYDOWN: {
        if (!m_focus) return false;
        ControlEvent event = {};
        event.type = EventSysKey;
        event.sender = nullptr;
        event.timestamp = GetTickCount();
        event.mouse = m_mousePos;
        event.key = LOWORD(wParam);
        event.keyState = GetModifierKeyFlags();
        m_focus->RaiseEvent(event);
        return false;
    }
    case WM_SYSCHAR: {
        if (!m_root) return false;
        ShortcutSearch search = {UpperAscii(static_cast<wchar_t>(wParam)), false};
        CControlUI* found = m_root->FindControl(ShortcutCallback, &search,
                                                FindEnabled | FindLastChildFirst | FindContainerFirst);
        if (!found) return false;
        found->TakeFocus();
        found->Activate();
        return true;
    }
    default:
        return false;
    }
}

bool CPaintManagerUI::HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (!m_paintWindow) return false;
    for (int i = 0; i < m_messageFilters.GetSize(); ++i) {
        bool handled = false;
        const LRESULT answer =
            static_cast<IMessageFilterUI*>(m_messageFilters.GetAt(i))->FilterMessage(message, wParam, lParam, handled);
        if (handled) {
            result = answer;
            return true;
        }
    }
    switch (message) {
    case WM_TIMER:
        if (wParam == 6553) {   // the caret's blink
            RECT caret = m_caretRect;
            InvalidateArea(caret);
            m_caretDrawn = !m_caretDrawn;
            return false;
        }
        for (int i = 0; i < m_timers.GetSize(); ++i) {
            TimerEntry* entry = static_cast<TimerEntry*>(m_timers.GetAt(i));
            if (entry->window != m_paintWindow || entry->systemId != wParam || entry->killed) continue;
            ControlEvent event = {};
            event.type = EventTimer;
            event.sender = entry->control;
            event.timestamp = GetTickCount();
            event.mouse = m_mousePos;
            event.keyState = GetModifierKeyFlags();
            event.wParam = entry->controlId;
            event.lParam = lParam;
            entry->control->RaiseEvent(event);
            break;
        }
        return false;
    case kDeferredWorkMessage:
        RunDeferredWork();
        return false;
    case WM_DESTROY:
        // OLE holds the manager while the window is registered.
        RevokeDropTarget();
        return false;
    case WM_PAINT:
        return HandlePaint();
    case WM_ERASEBKGND:
        result = 1;
        return true;
    case WM_SIZE:
        if (m_focus) {
            ControlEvent event = BuildEvent(EventWindowSize, m_focus, 0, 0);
            m_focus->RaiseEvent(event);
        }
        if (m_root) m_root->MarkForLayout();
        return true;
    case WM_SETFOCUS:
        if (m_focus) {
            ControlEvent event = BuildEvent(EventSetFocus, m_focus, wParam, lParam);
            m_focus->RaiseEvent(event);
        }
        return false;
    case WM_SETCURSOR: {
        if (LOWORD(lParam) != HTCLIENT) return false;
        if (m_captured) return true;
        POINT point = {};
        GetCursorPos(&point);
        ScreenToClient(m_paintWindow, &point);
        CControlUI* control = FindControlAt(point);
        if (!control || !(control->GetBehaviorFlags() & 2)) return false;
        ControlEvent event = BuildEvent(EventSetCursor, control, wParam, lParam);
        event.mouse = point;
        event.keyState = GetModifierKeyFlags();
        control->RaiseEvent(event);
        return true;
    }
    case WM_CLOSE:
        LeaveHover();
        if (m_pressed) {
            ControlEvent event = BuildEvent(EventButtonUp, m_pressed, 0, 0);
            event.keyState = GetModifierKeyFlags();
            m_pressed->RaiseEvent(event);
        }
        SetFocusedControl(nullptr);
        if (GetActiveWindow() == m_paintWindow) {
            if (HWND owner = GetWindow(m_paintWindow, GW_OWNER)) ::SetFocus(owner);
        }
        if (m_toolTip) {
            DestroyWindow(m_toolTip);
            m_toolTip = nullptr;
        }
        return false;
    case WM_CONTEXTMENU: {
        POINT point = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        ScreenToClient(m_paintWindow, &point);
        m_mousePos = point;
        if (!m_pressed) return false;
        ReleaseMouse();
        CControlUI* pressed = m_pressed;
        ControlEvent event = BuildEvent(EventContextMenu, pressed, wParam, reinterpret_cast<LPARAM>(pressed));
        event.keyState = LOWORD(wParam);
        m_pressed = nullptr;
        pressed->RaiseEvent(event);
        return false;
    }
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
        HandleKey(message, wParam, lParam);
        return false;
    case WM_MOUSEMOVE:
        return HandleMouseMove(wParam, lParam);
    case WM_MOUSEHOVER:
        return HandleHover(lParam);
    case WM_NOTIFY:
        if (!lParam) return false;
        result = SendMessageW(reinterpret_cast<NMHDR*>(lParam)->hwndFrom, 0x2000 + message, wParam, lParam);
        return true;
    case WM_COMMAND:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
        if (!lParam) return false;
        result = SendMessageW(reinterpret_cast<HWND>(lParam), 0x2000 + message, wParam, lParam);
        return result != 0;
    case WM_GETMINMAXINFO: {
        MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
        if (!info) return false;
        if (m_minInfo.cx > 0) info->ptMinTrackSize.x = m_minInfo.cx;
        if (m_minInfo.cy > 0) info->ptMinTrackSize.y = m_minInfo.cy;
        if (m_maxInfo.cx > 0) info->ptMaxTrackSize.x = info->ptMaxSize.x = m_maxInfo.cx;
        if (m_maxInfo.cy > 0) info->ptMaxTrackSize.y = info->ptMaxSize.y = m_maxInfo.cy;
        return false;
    }
    case WM_PRINTCLIENT: {
        if (!m_root) return false;
        HDC dc = reinterpret_cast<HDC>(wParam);
        RECT client = {};
        GetClientRect(m_paintWindow, &client);
        const int saved = SaveDC(dc);
        m_root->Paint(dc, client);
        RestoreDC(dc, saved);
        if (lParam & PRF_CHILDREN) {
            for (HWND child = GetWindow(m_paintWindow, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
                RECT r = {};
                ChildWindowClientRect(child, r, m_paintWindow);
                POINT old = {};
                SetWindowOrgEx(dc, -r.left, -r.top, &old);
                SendMessageW(child, WM_PRINT, wParam, lParam | PRF_NONCLIENT);
                SetWindowOrgEx(dc, old.x, old.y, nullptr);
            }
        }
        return false;
    }
    case WM_MOUSELEAVE:
        HandleLeave();
        return false;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        HandleButtonDown(message, wParam, lParam);
        return false;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
        HandleButtonUp(message, wParam, lParam);
        return false;
    case WM_MOUSEWHEEL:
        HandleWheel(wParam, lParam);
        return false;
    default:
        return false;
    }
}

// ------------------------------------------------------------------ lists

namespace {
bool RemoveFirst(CPointerArray& list, void* item) {
    const int index = list.Find(item);
    if (index < 0) return false;
    return list.RemoveAt(index);
}
}  // namespace

bool CPaintManagerUI::AddNotifyListener(INotifyUI* listener) { return m_listeners.Add(listener); }
bool CPaintManagerUI::RemoveNotifyListener(INotifyUI* listener) { return RemoveFirst(m_listeners, listener); }
bool CPaintManagerUI::AddPreFilter(IMessageFilterUI* filter) { return m_preFilters.Add(filter); }
bool CPaintManagerUI::RemovePreFilter(IMessageFilterUI* filter) { return RemoveFirst(m_preFilters, filter); }
bool CPaintManagerUI::AddMessageFilter(IMessageFilterUI* filter) { return m_messageFilters.Add(filter); }
bool CPaintManagerUI::RemoveMessageFilter(IMessageFilterUI* filter) { return RemoveFirst(m_messageFilters, filter); }
bool CPaintManagerUI::AddKeyTranslator(ITranslateAccelerator* translator) { return m_translators.Add(translator); }
bool CPaintManagerUI::RemoveKeyTranslator(ITranslateAccelerator* translator) {
    return RemoveFirst(m_translators, translator);
}
bool CPaintManagerUI::AddOverlayControl(CControlUI* control) { return m_overlays.Add(control); }
bool CPaintManagerUI::RemoveOverlayControl(CControlUI* control) { return RemoveFirst(m_overlays, control); }

bool CPaintManagerUI::RegisterNativeWindow(HWND window) {
    RECT rect = {};
    ChildWindowClientRect(window, rect, m_paintWindow);
    InvalidateArea(rect);
    if (m_nativeWindows.Find(window) >= 0) return false;
    return m_nativeWindows.Add(window);
}

bool CPaintManagerUI::UnregisterNativeWindow(HWND window) { return RemoveFirst(m_nativeWindows, window); }

// ------------------------------------------------------------------ invalidation

void CPaintManagerUI::InvalidateAll() {
    RECT client = {};
    if (m_paintWindow) GetClientRect(m_paintWindow, &client);
    UnionRect(&m_layeredDirty, &m_layeredDirty, &client);
    if (m_paintWindow) InvalidateRect(m_paintWindow, nullptr, FALSE);
}

void CPaintManagerUI::InvalidateArea(RECT& rect) {
    if (rect.left < 0) rect.left = 0;
    if (rect.top < 0) rect.top = 0;
    if (rect.right < rect.left) rect.right = rect.left;
    if (rect.bottom < rect.top) rect.bottom = rect.top;
    UnionRect(&m_layeredDirty, &m_layeredDirty, &rect);
    if (m_paintWindow) InvalidateRect(m_paintWindow, &rect, FALSE);
}

// ------------------------------------------------------------------ root and names

namespace {
CControlUI* RegisterName(CControlUI* control, void* data) {
    CStringKeyMap* names = static_cast<CStringKeyMap*>(data);
    const CUIString name = control->GetName();
    if (!name.IsEmpty()) names->Set(name, control);
    return nullptr;
}
}  // namespace

bool CPaintManagerUI::SetRootControl(CControlUI* root) {
    m_shadow.Create(this);
    SetFocusedControl(nullptr);
    m_keyDown = m_hover = m_pressed = nullptr;
    if (m_root) {
        m_overlays.Empty();
        m_root->AttachManager(this, nullptr, false);
        m_deleteQueue.Add(m_root);
        PostMessageW(m_paintWindow, kDeferredWorkMessage, 0, 0);
    }
    m_root = root;
    m_firstPaintPending = m_layoutPending = m_focusPending = true;
    if (!root) return false;
    root->AttachManager(this, root->GetParent(), true);
    root->FindControl(RegisterName, &m_names, 0);
    return true;
}

void CPaintManagerUI::SetInitSize(int cx, int cy) {
    m_initSize = GetDpiScaler()->ScaledSize(cx, cy);
    // Only the first build sizes the window: later ones find a root.
    if (m_paintWindow && !m_root) {
        SetWindowPos(m_paintWindow, nullptr, 0, 0, m_initSize.cx, m_initSize.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CPaintManagerUI::RegisterControlNames(CControlUI* control) {
    if (control) control->FindControl(RegisterName, &m_names, 0);
}

CControlUI* CPaintManagerUI::FindControlByName(const wchar_t* name) const {
    if (!m_root || !name) return nullptr;
    return static_cast<CControlUI*>(m_names.Find(name));
}

namespace {
CControlUI* HitCallback(CControlUI* control, void* data) {
    return PtInRect(&control->GetPos(), *static_cast<POINT*>(data)) ? control : nullptr;
}
}  // namespace

CControlUI* CPaintManagerUI::FindControlAt(POINT point) const {
    if (!m_root) return nullptr;
    return m_root->FindControl(HitCallback, &point, FindVisible | FindHitTest | FindLastChildFirst);
}

// ------------------------------------------------------------------ focus

namespace {

ControlEvent MakeEvent(ControlEventType type, CControlUI* sender) {
    ControlEvent event = {};
    event.type = type;
    event.sender = sender;
    event.timestamp = GetTickCount();
    return event;
}

struct TabSearch {
    CControlUI* start;
    CControlUI* last;
    bool forward;
    bool nextIsIt;
};

CControlUI* TabCallback(CControlUI* control, void* data) {
    TabSearch* search = static_cast<TabSearch*>(data);
    if (control == search->start) {
        if (search->forward) {
            search->nextIsIt = true;
        } else {
            return search->last;
        }
    }
    if (!(control->GetBehaviorFlags() & 1)) return nullptr;
    if (control == search->start) return nullptr;
    search->last = control;
    if (search->nextIsIt || !search->start) return control;
    return nullptr;
}

}  // namespace

CControlUI* CPaintManagerUI::TabWalk(CControlUI* start, bool forward, CControlUI** lastSeen) {
    if (!m_root) return nullptr;
    TabSearch search = {start, nullptr, forward, false};
    CControlUI* found = m_root->FindControl(TabCallback, &search, FindVisible | FindEnabled | FindContainerFirst);
    if (lastSeen) *lastSeen = search.last;
    return found;
}

void CPaintManagerUI::SetFocusedControl(CControlUI* control) {
    if (m_paintWindow && ::GetFocus() != m_paintWindow && control != m_focus) ::SetFocus(m_paintWindow);
    if (control == m_focus) return;
    if (m_focus) {
        CControlUI* old = m_focus;
        ControlEvent event = MakeEvent(EventKillFocus, control);
        old->RaiseEvent(event);
        SendNotification(old, L"killfocus");
        m_focus = nullptr;
    }
    if (!control || control->GetManager() != this || !control->IsVisible() || !control->IsEnabled()) return;
    m_focus = control;
    ControlEvent event = MakeEvent(EventSetFocus, control);
    control->RaiseEvent(event);
    SendNotification(control, L"setfocus");
}

bool CPaintManagerUI::FocusNextControl(bool forward) {
    if (m_layoutPending && forward) {
        m_focusPending = true;
        if (m_paintWindow) InvalidateRect(m_paintWindow, nullptr, FALSE);
        return true;
    }
    CControlUI* last = nullptr;
    CControlUI* found = TabWalk(m_focus, forward, &last);
    if (!found) {
        if (forward) {
            found = TabWalk(nullptr, true, nullptr);
        } else {
            found = last;   // wraps to the last Tab stop
        }
    }
    if (!found) {
        m_focusPending = false;
        return true;
    }
    SetFocusedControl(found);
    m_focusPending = false;
    return true;
}

void CPaintManagerUI::DeferFocus(CControlUI* control) {
    if (m_paintWindow) ::SetFocus(m_paintWindow);
    if (!control) return;
    if (m_focus) {
        CControlUI* old = m_focus;
        ControlEvent event = MakeEvent(EventKillFocus, control);
        old->RaiseEvent(event);
        SendNotification(old, L"killfocus");
        m_focus = nullptr;
    }
    m_focus = TabWalk(control, false, nullptr);
    m_focusPending = true;
    if (m_root && m_root->IsVisible()) m_root->MarkForLayout();
}

void CPaintManagerUI::CaptureMouse() {
    if (m_paintWindow) SetCapture(m_paintWindow);
    m_captured = true;
}

void CPaintManagerUI::ReleaseMouse() {
    ReleaseCapture();
    m_captured = false;
    m_dragPending = false;
}

// ------------------------------------------------------------------ forgetting and deleting

void CPaintManagerUI::ForgetControl(CControlUI* control) {
    if (!control) return;
    if (m_keyDown == control) m_keyDown = nullptr;
    if (m_hover == control) m_hover = nullptr;
    if (m_pressed == control) m_pressed = nullptr;
    if (m_focus == control) m_focus = nullptr;
    if (m_caretOwner == control) m_caretOwner = nullptr;
    KillControlTimers(control);
    const CUIString name = control->GetName();
    if (!name.IsEmpty() && m_root && m_names.Find(name) == control) m_names.Remove(name);
    for (int i = 0; i < m_notifyQueue.GetSize(); ++i) {
        NotifyEvent* event = static_cast<NotifyEvent*>(m_notifyQueue.GetAt(i));
        if (event->sender == control) event->sender = nullptr;
    }
}

void CPaintManagerUI::QueueForDelete(CControlUI* control) {
    if (!control) return;
    control->AttachManager(this, nullptr, false);
    m_deleteQueue.Add(control);
    if (m_paintWindow) PostMessageW(m_paintWindow, kDeferredWorkMessage, 0, 0);
}

void CPaintManagerUI::RunDeferredWork() {
    // Take the queue over first: a destructor may queue further controls,
    // which then wait for the next message.
    CPointerArray doomed = m_deleteQueue;
    m_deleteQueue.Empty();
    for (int i = 0; i < doomed.GetSize(); ++i) delete static_cast<CControlUI*>(doomed.GetAt(i));
    while (!m_notifyQueue.IsEmpty()) {
        NotifyEvent* event = static_cast<NotifyEvent*>(m_notifyQueue.GetAt(0));
        m_notifyQueue.RemoveAt(0);
        Deliver(*event);
        delete event;
    }
}

// ------------------------------------------------------------------ timers

bool CPaintManagerUI::ControlTimerIdHeld(UINT id) const {
    for (int i = 0; i < m_timers.GetSize(); ++i) {
        const TimerEntry* entry = static_cast<const TimerEntry*>(m_timers.GetAt(i));
        if (entry->window == m_paintWindow && entry->systemId == id) return true;
    }
    return false;
}

const TimerEntry* CPaintManagerUI::FindTimer(CControlUI* control, UINT id) const {
    for (int i = 0; i < m_timers.GetSize(); ++i) {
        const TimerEntry* entry = static_cast<const TimerEntry*>(m_timers.GetAt(i));
        if (entry->control == control && entry->window == m_paintWindow && entry->controlId == id) return entry;
    }
    return nullptr;
}

bool CPaintManagerUI::SetControlTimer(CControlUI* control, UINT id, UINT period) {
    if (!control || !m_paintWindow) return false;
    if (TimerEntry* entry = const_cast<TimerEntry*>(FindTimer(control, id))) {
        if (!entry->killed) return false;
        if (!SetTimer(m_paintWindow, entry->systemId, period, nullptr)) return false;
        entry->killed = false;
        return true;
    }
    // The next id of the window's counter that no entry (live or killed)
    // still holds; none free among all 255 fails.
    UINT systemId = 0;
    bool found = false;
    for (int tries = 0; tries < 255; ++tries) {
        const UINT candidate = (m_lastTimerId + 1 + tries) % 255;
        if (!ControlTimerIdHeld(candidate)) {
            systemId = candidate;
            found = true;
            break;
        }
    }
    if (!found) return false;
    if (!SetTimer(m_paintWindow, systemId, period, nullptr)) return false;
    m_lastTimerId = systemId;
    TimerEntry* entry = new (std::nothrow) TimerEntry{control, id, m_paintWindow, systemId, false};
    if (!entry || !m_timers.Add(entry)) {
        KillTimer(m_paintWindow, systemId);
        delete entry;
        return false;
    }
    return true;
}

bool CPaintManagerUI::KillControlTimer(CControlUI* control, UINT id) {
    for (int i = 0; i < m_timers.GetSize(); ++i) {
        TimerEntry* entry = static_cast<TimerEntry*>(m_timers.GetAt(i));
        if (entry->control != control || entry->window != m_paintWindow || entry->controlId != id || entry->killed) {
            continue;
        }
        if (IsWindow(m_paintWindow)) KillTimer(entry->window, entry->systemId);
        entry->killed = true;
        return true;
    }
    return false;
}

void CPaintManagerUI::KillControlTimers(CControlUI* control) {
    for (int i = m_timers.GetSize() - 1; i >= 0; --i) {
        TimerEntry* entry = static_cast<TimerEntry*>(m_timers.GetAt(i));
        if (entry->control != control || entry->window != m_paintWindow) continue;
        if (!entry->killed && IsWindow(entry->window)) KillTimer(entry->window, entry->systemId);
        delete entry;
        m_timers.RemoveAt(i);
    }
}

void CPaintManagerUI::KillAllTimers() {
    for (int i = 0; i < m_timers.GetSize(); ++i) {
        TimerEntry* entry = static_cast<TimerEntry*>(m_timers.GetAt(i));
        if (!entry->killed && IsWindow(entry->window)) KillTimer(entry->window, entry->systemId);
        delete entry;
    }
    m_timers.Empty();
}

// ------------------------------------------------------------------ notifications

void CPaintManagerUI::SendNotification(CControlUI* sender, const wchar_t* type, WPARAM wParam, LPARAM lParam,
                                       bool async) {
    NotifyEvent event;
    event.type = type ? type : L"";
    event.sender = sender;
    event.wParam = wParam;
    event.lParam = lParam;
    DispatchNotification(event, async);
}

void CPaintManagerUI::Deliver(NotifyEvent& event) {
    if (event.sender && !event.sender->OnNotify.IsEmpty()) event.sender->OnNotify.Invoke(&event);
    for (int i = 0; i < m_listeners.GetSize(); ++i) {
        static_cast<INotifyUI*>(m_listeners.GetAt(i))->Notify(event);
    }
}

void CPaintManagerUI::DispatchNotification(NotifyEvent& event, bool async) {
    event.mouse = m_mousePos;
    event.timestamp = GetTickCount();
    if (m_virtualWndNames && event.sender) event.virtualWnd = event.sender->GetVirtualWnd();
    if (!async) {
        Deliver(event);
        return;
    }
    NotifyEvent* copy = new (std::nothrow) NotifyEvent(event);
    if (!copy) return;
    if (!m_notifyQueue.Add(copy)) {
        delete copy;
        return;
    }
    if (m_paintWindow) PostMessageW(m_paintWindow, kDeferredWorkMessage, 0, 0);
}

// ------------------------------------------------------------------ option groups

bool CPaintManagerUI::AddToOptionGroup(const wchar_t* name, CControlUI* control) {
    if (!name || !control) return false;
    CPointerArray* group = static_cast<CPointerArray*>(m_optionGroups.Find(name));
    if (group) {
        if (group->Find(control) >= 0) return false;
        return group->Add(control);
    }
    group = new (std::nothrow) CPointerArray;
    if (!group) return false;
    if (!group->Add(control) || !m_optionGroups.Insert(name, group)) {
        delete group;
        return false;
    }
    return true;
}

void CPaintManagerUI::RemoveFromOptionGroup(const wchar_t* name, CControlUI* control) {
    if (!name) return;
    CPointerArray* group = static_cast<CPointerArray*>(m_optionGroups.Find(name));
    if (!group) return;
    RemoveFirst(*group, control);
    if (group->IsEmpty()) {
        delete group;
        m_optionGroups.Remove(name);
    }
}

void CPaintManagerUI::RemoveAllOptionGroups() {
    for (int i = 0; i < m_optionGroups.GetSize(); ++i) {
        const wchar_t* key = m_optionGroups.GetKeyAt(i);
        if (key) delete static_cast<CPointerArray*>(m_optionGroups.Find(key, false));
    }
    m_optionGroups.Resize(m_optionGroups.GetBucketCount());
}

CPointerArray* CPaintManagerUI::GetOptionGroup(const wchar_t* name) const {
    return name ? static_cast<CPointerArray*>(m_optionGroups.Find(name)) : nullptr;
}

}  // namespace Veneer
