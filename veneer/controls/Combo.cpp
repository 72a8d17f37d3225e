// Combo boxes: selection, keys and wheel, the item container, the closed
// box's layout and painting, the drop-down window, and the arrow-strip box.
#include "Combo.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "ScrollBar.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {
bool Is(const wchar_t* name, const wchar_t* expected) { return CompareTextNoCase(name, expected) == 0; }
DWORD ReadColorValue(const wchar_t* value) {
    if (*value == L'#') ++value;
    return static_cast<DWORD>(wcstoul(value, nullptr, 16));
}
IListItemUI* AsItem(CControlUI* control) {
    return control ? static_cast<IListItemUI*>(control->FindInterface(L"ListItem")) : nullptr;
}
CControlUI* AcceptAny(CControlUI* control, void*) { return control; }
}  // namespace

// ------------------------------------------------------------------ combo

CComboUI::CComboUI() { m_style.textStyle = DT_VCENTER; }

CComboUI::~CComboUI() { CloseDropDownNow(); }

// A combo going away takes its items back at once and ends the drop-down's
// window; nothing of that window refers to the combo any more.
void CComboUI::CloseDropDownNow() {
    CComboWnd* window = m_window;
    if (!window) return;
    m_window = nullptr;
    window->DetachOwner();
    CContainerUI::AttachManager(m_manager, m_parent, false);
    if (HWND handle = window->GetHWND()) {
        DestroyWindow(handle);
    } else {
        delete window;
    }
}

CControlUI* CComboUI::CreateComboUI() { return new (std::nothrow) CComboUI; }

const wchar_t* CComboUI::GetClassTag() const { return L"Combo"; }

void* CComboUI::FindInterface(const wchar_t* tag) {
    if (!tag) return nullptr;
    if (Is(tag, L"Combo")) return this;
    if (Is(tag, L"IListOwner")) return static_cast<IListOwnerUI*>(this);
    return CContainerUI::FindInterface(tag);
}

UINT CComboUI::GetBehaviorFlags() const { return 3; }

bool CComboUI::Activate() {
    if (!CControlUI::Activate()) return false;
    if (m_manager) m_manager->SendNotification(this, L"predropdown");
    if (m_window) return true;
    CComboWnd* window = new (std::nothrow) CComboWnd;
    if (!window) return false;
    m_window = window;
    if (!window->Open(this)) {
        // Nothing was made: the next activation tries again.
        if (m_window == window) m_window = nullptr;
        delete window;
        return false;
    }
    if (m_manager) m_manager->SendNotification(this, L"dropdown");
    Invalidate();
    return true;
}

CUIString CComboUI::GetText() const {
    if (m_currentIndex < 0) return CUIString();
    CControlUI* item = CContainerUI::GetItemAt(m_currentIndex);
    return item ? item->GetText() : CUIString();
}

void CComboUI::SetPos(RECT rect, bool invalidate) {
    if (EqualRect(&rect, &m_item)) return;
    if (m_window && m_window->GetHWND()) PostMessageW(m_window->GetHWND(), WM_CLOSE, 1, 0);
    // The items have no area inside the closed combo.
    for (int i = 0; i < m_items.GetSize(); ++i) {
        static_cast<CControlUI*>(m_items.GetAt(i))->SetPos(RECT{0, 0, 0, 0}, true);
    }
    CControlUI::SetPos(rect, invalidate);
}

void CComboUI::MoveBy(int dx, int dy, bool invalidate) { CControlUI::MoveBy(dx, dy, invalidate); }

void CComboUI::SetEnabled(bool enabled) {
    CContainerUI::SetEnabled(enabled);
    if (!IsEnabled()) m_buttonState = 0;
}

void CComboUI::HandleEvent(ControlEvent& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.type)) {
        if (m_parent) {
            m_parent->HandleEvent(event);
        } else {
            CContainerUI::HandleEvent(event);
        }
        return;
    }
    switch (event.type) {
    case EventSetFocus:
    case EventKillFocus:
        Invalidate();
        CControlUI::HandleEvent(event);
        return;
    case EventButtonDown:
        if (!IsEnabled()) return;
        Activate();
        m_buttonState |= StateHeld;
        // Pushed lasts as long as the drop-down's window.
        if (m_window) m_buttonState |= StatePushed;
        return;
    case EventButtonUp:
        if (m_buttonState & StateHeld) {
            m_buttonState &= ~StateHeld;
            Invalidate();
        }
        return;
    case EventMouseMove:
    case EventContextMenu:
        return;
    case EventKeyDown:
        switch (event.key) {
        case VK_UP:
        case VK_PRIOR:
            SelectIndex(FindSelectable(m_currentIndex - 1, false), false);
            return;
        case VK_DOWN:
        case VK_NEXT:
            SelectIndex(FindSelectable(m_currentIndex + 1, true), false);
            return;
        case VK_HOME:
            SelectIndex(FindSelectable(0, false), false);
            return;
        case VK_END:
            SelectIndex(FindSelectable(GetItemCount() - 1, true), false);
            return;
        case VK_F4:
            Activate();
            return;
        default:
            break;
        }
        break;
    case EventScrollWheel:
        if (!m_scrollSelect) return;
        if (LOWORD(event.wParam) == 1) {
            SelectIndex(FindSelectable(m_currentIndex + 1, true), false);
        } else {
            SelectIndex(FindSelectable(m_currentIndex - 1, false), false);
        }
        return;
    case EventMouseEnter:
        if (PtInRect(&m_item, event.mouse)) {
            m_buttonState |= StateHot;
            Invalidate();
        }
        return;
    case EventMouseLeave:
        if (m_buttonState & StateHot) {
            m_buttonState &= ~StateHot;
            Invalidate();
        }
        return;
    default:
        break;
    }
    CControlUI::HandleEvent(event);
}

// ------------------------------------------------------------------ selection

int CComboUI::GetOwnerKind() { return 1; }
ListItemStyle* CComboUI::GetItemStyle() { return &m_style; }
int CComboUI::GetSelectedIndex() { return m_currentIndex; }
bool CComboUI::AddToSelection(int index, bool takeFocus) { return SelectIndex(index, takeFocus); }
bool CComboUI::DeselectIndex(int, bool) { return false; }
void CComboUI::HandleItemEvent(ControlEvent& event) { HandleEvent(event); }

bool CComboUI::SelectIndex(int index, bool takeFocus) {
    if (index == m_currentIndex) return true;
    const int previous = m_currentIndex;
    if (m_currentIndex >= 0) {
        CControlUI* current = CContainerUI::GetItemAt(m_currentIndex);
        if (!current) return false;
        if (IListItemUI* item = AsItem(current)) item->SetSelected(false);
        m_currentIndex = -1;
    }
    if (index < 0) return false;
    const int count = GetItemCount();
    if (count == 0) return false;
    if (index >= count) index = count - 1;
    CControlUI* control = CContainerUI::GetItemAt(index);
    IListItemUI* item = AsItem(control);
    if (!control || !control->IsEnabled() || !item) return false;
    m_currentIndex = index;
    if (m_window || takeFocus) control->TakeFocus();
    item->SetSelected(true);
    if (m_manager) m_manager->SendNotification(this, L"itemselect", static_cast<WPARAM>(index), previous);
    Invalidate();
    return true;
}

// ------------------------------------------------------------------ item container

void CComboUI::RenumberFrom(int index) {
    for (int i = std::max(index, 0); i < m_items.GetSize(); ++i) {
        if (IListItemUI* item = AsItem(CContainerUI::GetItemAt(i))) item->SetItemIndex(i);
    }
}

bool CComboUI::AddItem(CControlUI* control) {
    if (IListItemUI* item = AsItem(control)) {
        item->SetItemOwner(this);
        item->SetItemIndex(m_items.GetSize());
    }
    return CContainerUI::AddItem(control);
}

bool CComboUI::InsertItemAt(CControlUI* control, int index) {
    if (!CContainerUI::InsertItemAt(control, index)) return false;
    if (IListItemUI* item = AsItem(control)) {
        item->SetItemOwner(this);
        item->SetItemIndex(index);
    }
    RenumberFrom(index + 1);
    if (m_currentIndex >= index) ++m_currentIndex;
    return true;
}

bool CComboUI::MoveItemTo(CControlUI* control, int index) {
    const int old = CContainerUI::IndexOfItem(control);
    if (old < 0) return false;
    if (old == index) return true;
    CControlUI* current = m_currentIndex >= 0 ? CContainerUI::GetItemAt(m_currentIndex) : nullptr;
    if (!CContainerUI::MoveItemTo(control, index)) return false;
    const int moved = CContainerUI::IndexOfItem(control);
    for (int i = std::min(old, moved); i <= std::max(old, moved); ++i) {
        if (IListItemUI* item = AsItem(CContainerUI::GetItemAt(i))) item->SetItemIndex(i);
    }
    if (current) m_currentIndex = CContainerUI::IndexOfItem(current);
    return true;
}

bool CComboUI::RemoveItem(CControlUI* control) {
    const int index = CContainerUI::IndexOfItem(control);
    if (index < 0) return false;
    return RemoveItemAt(index);
}

bool CComboUI::RemoveItemAt(int index) {
    if (m_window && m_window->GetHWND()) SendMessageW(m_window->GetHWND(), WM_CLOSE, 0, 0);
    CControlUI* control = CContainerUI::GetItemAt(index);
    if (!control) return false;
    if (!CContainerUI::RemoveItem(control)) return false;
    RenumberFrom(index);
    if (index == m_currentIndex) {
        m_currentIndex = -1;
        SelectIndex(FindSelectable(index, false), false);
    } else if (index < m_currentIndex) {
        --m_currentIndex;
    }
    return true;
}

void CComboUI::RemoveAllItems() {
    if (m_window && m_window->GetHWND()) SendMessageW(m_window->GetHWND(), WM_CLOSE, 0, 0);
    m_currentIndex = -1;
    CContainerUI::RemoveAllItems();
}

// ------------------------------------------------------------------ attributes

void CComboUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    auto invalidated = [this](auto& field, auto newValue) {
        field = newValue;
        Invalidate();
    };
    auto flagChanged = [this, value](bool& field) {
        const bool on = ReadBool(value);
        if (on == field) return;
        field = on;
        Invalidate();
    };
    auto readRect = [value]() {
        long v[4];
        ReadIntList(value, v, 4);
        return RECT{v[0], v[1], v[2], v[3]};
    };
    UINT& s = m_textStyle;
    UINT& item = m_style.textStyle;
    if (Is(name, L"align")) {
        if (wcsstr(value, L"left")) s &= ~(DT_CENTER | DT_RIGHT | DT_SINGLELINE);
        if (wcsstr(value, L"center")) s = (s & ~DT_RIGHT) | DT_CENTER;
        if (wcsstr(value, L"right")) s = (s & ~(DT_CENTER | DT_SINGLELINE)) | DT_RIGHT;
    } else if (Is(name, L"valign")) {
        if (wcsstr(value, L"top")) s = (s & ~(DT_VCENTER | DT_BOTTOM)) | DT_SINGLELINE;
        if (wcsstr(value, L"vcenter")) s = (s & ~DT_BOTTOM) | DT_VCENTER | DT_SINGLELINE;
        if (wcsstr(value, L"bottom")) s = (s & ~DT_VCENTER) | DT_BOTTOM | DT_SINGLELINE;
    } else if (Is(name, L"endellipsis")) {
        if (ReadBool(value)) s |= DT_END_ELLIPSIS;
        else s &= ~DT_END_ELLIPSIS;
    } else if (Is(name, L"wordbreak")) {
        if (ReadBool(value)) s = (s & ~DT_SINGLELINE) | DT_WORDBREAK | DT_EDITCONTROL;
        else s = (s & ~(DT_WORDBREAK | DT_EDITCONTROL)) | DT_SINGLELINE;
    } else if (Is(name, L"font")) {
        invalidated(m_font, _wtoi(value));
    } else if (Is(name, L"textcolor")) {
        invalidated(m_textColor, ReadColorValue(value));
    } else if (Is(name, L"disabledtextcolor")) {
        invalidated(m_disabledTextColor, ReadColorValue(value));
    } else if (Is(name, L"textpadding")) {
        invalidated(m_textPadding, readRect());
    } else if (Is(name, L"showhtml")) {
        flagChanged(m_showHtml);
    } else if (Is(name, L"showshadow")) {
        flagChanged(m_showShadow);
    } else if (Is(name, L"normalimage")) {
        invalidated(m_normalImage, CUIString(value));
    } else if (Is(name, L"hotimage")) {
        invalidated(m_hotImage, CUIString(value));
    } else if (Is(name, L"pushedimage")) {
        invalidated(m_pushedImage, CUIString(value));
    } else if (Is(name, L"focusedimage")) {
        invalidated(m_focusedImage, CUIString(value));
    } else if (Is(name, L"disabledimage")) {
        invalidated(m_disabledImage, CUIString(value));
    } else if (Is(name, L"scrollselect")) {
        m_scrollSelect = ReadBool(value);
    } else if (Is(name, L"dropbox")) {
        m_dropBox = value;
    } else if (Is(name, L"dropboxsize")) {
        long v[2];
        ReadIntList(value, v, 2);
        m_dropBoxSize = SIZE{v[0], v[1]};
    } else if (Is(name, L"itemfont")) {
        invalidated(m_style.font, _wtoi(value));
    } else if (Is(name, L"itemalign")) {
        if (wcsstr(value, L"left")) item &= ~(DT_CENTER | DT_RIGHT);
        if (wcsstr(value, L"center")) item = (item & ~DT_RIGHT) | DT_CENTER;
        if (wcsstr(value, L"right")) item = (item & ~DT_CENTER) | DT_RIGHT;
    } else if (Is(name, L"itemvalign")) {
        if (wcsstr(value, L"top")) item &= ~(DT_VCENTER | DT_BOTTOM);
        if (wcsstr(value, L"vcenter")) item = (item & ~(DT_BOTTOM | DT_WORDBREAK)) | DT_VCENTER | DT_SINGLELINE;
        if (wcsstr(value, L"bottom")) item = (item & ~DT_VCENTER) | DT_BOTTOM;
    } else if (Is(name, L"itemendellipsis")) {
        if (ReadBool(value)) item |= DT_END_ELLIPSIS;
        else item &= ~DT_END_ELLIPSIS;
    } else if (Is(name, L"itemtextpadding")) {
        invalidated(m_style.textPadding, readRect());
    } else if (Is(name, L"itemtextcolor")) {
        invalidated(m_style.textColor, ReadColorValue(value));
    } else if (Is(name, L"itembkcolor")) m_style.bkColor = ReadColorValue(value);
    else if (Is(name, L"itemselectedtextcolor")) m_style.selectedTextColor = ReadColorValue(value);
    else if (Is(name, L"itemselectedbkcolor")) m_style.selectedBkColor = ReadColorValue(value);
    else if (Is(name, L"itemhottextcolor")) m_style.hotTextColor = ReadColorValue(value);
    else if (Is(name, L"itemhotbkcolor")) m_style.hotBkColor = ReadColorValue(value);
    else if (Is(name, L"itemdisabledtextcolor")) m_style.disabledTextColor = ReadColorValue(value);
    else if (Is(name, L"itemdisabledbkcolor")) m_style.disabledBkColor = ReadColorValue(value);
    else if (Is(name, L"itemlinecolor")) m_style.lineColor = ReadColorValue(value);
    else if (Is(name, L"itembkimage")) m_style.bkImage = value;
    else if (Is(name, L"itemselectedimage")) m_style.selectedImage = value;
    else if (Is(name, L"itemhotimage")) m_style.hotImage = value;
    else if (Is(name, L"itemdisabledimage")) m_style.disabledImage = value;
    else if (Is(name, L"itemaltbk")) m_style.alternateBk = ReadBool(value);
    else if (Is(name, L"itemshowhtml")) flagChanged(m_style.showHtml);
    else CContainerUI::SetAttribute(name, value);
}

// ------------------------------------------------------------------ layout and painting

SIZE CComboUI::MeasureSize(SIZE available) {
    if (m_fixedSize.cy != 0) return CControlUI::MeasureSize(available);
    int height = 12;
    if (m_manager) {
        if (FontEntry* font = m_manager->GetDefaultFontEntry()) height += font->metrics.tmHeight;
    }
    return SIZE{m_fixedSize.cx, height};
}

void CComboUI::Paint(HDC hdc, const RECT& paint) { CControlUI::Paint(hdc, paint); }

void CComboUI::UpdateStateFlags() {
    if (IsFocused()) m_buttonState |= StateFocused;
    else m_buttonState &= ~StateFocused;
    if (!IsEnabled()) m_buttonState |= StateDisabled;
    else m_buttonState &= ~StateDisabled;
}

void CComboUI::PaintStateImages(HDC hdc) {
    UpdateStateFlags();
    auto draw = [this, hdc](const CUIString& image) { return !image.IsEmpty() && DrawImage(hdc, image); };
    if (m_buttonState & StateDisabled) {
        draw(m_disabledImage);
        return;
    }
    if (m_buttonState & StatePushed) {
        draw(m_pushedImage);
        return;
    }
    if (m_buttonState & StateHot) {
        draw(m_hotImage);
        return;
    }
    if ((m_buttonState & StateFocused) && draw(m_focusedImage)) return;
    draw(m_normalImage);
}

void CComboUI::PaintStateImage(HDC hdc) { PaintStateImages(hdc); }

RECT CComboUI::TextRect() const {
    RECT padding = m_textPadding;
    if (m_manager) m_manager->GetDpiScaler()->ScaleRect(padding);
    return RECT{m_item.left + padding.left, m_item.top + padding.top, m_item.right - padding.right,
                m_item.bottom - padding.bottom};
}

void CComboUI::PaintText(HDC hdc) {
    if (!m_manager) return;
    if (m_textColor == 0) m_textColor = m_manager->GetDefaultFontColor();
    if (m_disabledTextColor == 0) m_disabledTextColor = m_manager->GetDefaultDisabledColor();
    const CUIString text = GetText();
    if (text.IsEmpty()) return;
    RECT box = TextRect();
    const DWORD color = IsEnabled() ? m_textColor : m_disabledTextColor;
    if (m_showHtml) {
        int links = 0;
        CSkinRenderer::DrawHtmlText(hdc, m_manager, box, text, color, nullptr, nullptr, links, m_font, m_textStyle);
    } else {
        CSkinRenderer::DrawText(hdc, m_manager, box, text, color, m_font, m_textStyle);
    }
}

// ------------------------------------------------------------------ drop-down

CComboWnd::CComboWnd() = default;
CComboWnd::~CComboWnd() = default;

const wchar_t* CComboWnd::GetWindowClassName() const { return L"VeneerComboWnd"; }
const wchar_t* CComboWnd::GetBaseClassName() const { return nullptr; }
UINT CComboWnd::GetWindowClassStyle() const { return m_owner && m_owner->IsShowShadow() ? 0 : CS_DROPSHADOW; }

bool CComboWnd::Open(CComboUI* owner) {
    m_owner = owner;
    m_layout = nullptr;
    m_pressedOnItem = false;
    m_initialIndex = owner->GetSelectedIndex();
    CPaintManagerUI* manager = owner->GetManager();
    HWND parent = manager ? manager->GetPaintWindow() : nullptr;
    const RECT combo = owner->GetPos();
    const SIZE box = owner->GetDropBoxSize();
    RECT rect = {combo.left, combo.bottom, combo.right, combo.bottom + box.cy};
    if (box.cx > 0) rect.right = rect.left + box.cx;
    int content = 4;
    for (int i = 0; i < owner->GetItemCount(); ++i) {
        CControlUI* item = owner->GetItemAt(i);
        if (item->IsVisible()) content += item->MeasureSize(SIZE{rect.right - rect.left, box.cy}).cy;
    }
    const int height = std::min<int>(content, box.cy);
    rect.bottom = rect.top + height;
    MapWindowPoints(parent, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    // The work area of the monitor that shows the combo.
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(MonitorFromWindow(parent, MONITOR_DEFAULTTOPRIMARY), &info);
    if (rect.bottom > info.rcWork.bottom) {
        rect = RECT{combo.left, combo.top - height, box.cx > 0 ? combo.left + box.cx : combo.right, combo.top};
        MapWindowPoints(parent, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    }
    m_creating = true;
    HWND window = Create(parent, nullptr, WS_POPUP, WS_EX_TOOLWINDOW, rect.left, rect.top, rect.right - rect.left,
                         rect.bottom - rect.top);
    m_creating = false;
    if (!window) {
        m_hWnd = nullptr;
        return false;
    }
    HWND top = window;
    while (HWND up = GetParent(top)) top = up;
    ShowWindow(window, SW_SHOW);
    SendMessageW(top, WM_NCACTIVATE, TRUE, 0);
    return true;
}

LRESULT CComboWnd::OnCreate() {
    m_pm.SetUseSharedResources(true);
    m_pm.AttachWindow(m_hWnd);
    m_layout = new (std::nothrow) CVerticalLayoutUI;
    if (!m_layout) return -1;
    m_layout->AttachManager(&m_pm, nullptr, true);
    CPaintManagerUI* comboManager = m_owner->GetManager();
    const wchar_t* defaults = comboManager ? comboManager->GetClassDefaults(L"VerticalLayout")
                                           : m_pm.GetClassDefaults(L"VerticalLayout");
    if (defaults) m_layout->ApplyAttributeString(defaults);
    m_layout->SetInset(1, 1, 1, 1);
    m_layout->SetBkColor(0xFFFFFFFF);
    m_layout->SetAttribute(L"bordercolor", L"#FFC6C7D2");
    m_layout->SetAttribute(L"bordersize", L"1");
    m_layout->SetAutoDestroy(false);
    m_layout->EnableScrollBar(true, false);
    m_layout->ApplyAttributeString(m_owner->GetDropBoxAttributes());
    for (int i = 0; i < m_owner->GetItemCount(); ++i) m_layout->AddItem(m_owner->GetItemAt(i));
    if (comboManager) m_pm.GetShadow()->CopySettings(*comboManager->GetShadow());
    m_pm.GetShadow()->SetShowShadow(m_owner->IsShowShadow());
    m_pm.SetRootControl(m_layout);
    m_pm.AddNotifyListener(this);
    return 0;
}

void CComboWnd::GiveItemsBack() {
    m_owner->AttachManager(m_owner->GetManager(), m_owner->GetParent(), false);
}

bool CComboWnd::IsOverListItem(int x, int y) {
    CControlUI* root = m_pm.GetRoot();
    if (!root) return false;
    POINT point = {x, y};
    CControlUI* control = root->FindControl(&AcceptAny, &point, FindVisible | FindHitTest | FindLastChildFirst);
    if (!control || control->FindInterface(L"ScrollBar")) return false;
    for (; control; control = control->GetParent()) {
        if (control->FindInterface(L"ListItem")) return true;
    }
    return false;
}

void CComboWnd::EnsureSelectionVisible(int index) {
    if (!m_owner || !m_layout || m_owner->GetSelectedIndex() < 0) return;
    CControlUI* item = m_layout->GetItemAt(index);
    if (!item) return;
    const RECT rect = item->GetPos();
    RECT band = m_layout->GetPos();
    CScrollBarUI* bar = m_layout->GetHorizontalScrollBar();
    if (bar && bar->IsVisible()) band.bottom -= bar->GetFixedHeight();
    if (rect.top >= band.top && rect.bottom < band.bottom) return;
    ScrollListBy(rect.bottom > band.bottom ? rect.bottom - band.bottom : rect.top - band.top);
}

void CComboWnd::ScrollListBy(int dy) {
    if (dy == 0 || !m_layout) return;
    const SIZE position = m_layout->GetScrollPos();
    m_layout->SetScrollPos(SIZE{position.cx, position.cy + dy});
}

void CComboWnd::Notify(NotifyEvent& event) {
    if (event.type == L"windowinit") EnsureSelectionVisible(m_initialIndex);
}

LRESULT CComboWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate();
    case WM_CLOSE:
        if (!m_ownerGone && m_owner) {
            GiveItemsBack();
            for (int i = 0; i < m_owner->GetItemCount(); ++i) m_owner->GetItemAt(i)->SetPos(RECT{0, 0, 0, 0}, true);
            m_owner->TakeFocus();
        }
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP: {
        POINT point = {};
        GetCursorPos(&point);
        ScreenToClient(m_hWnd, &point);
        if (message == WM_LBUTTONDOWN) {
            m_pressedOnItem = IsOverListItem(point.x, point.y);
        } else {
            if (m_pressedOnItem && IsOverListItem(point.x, point.y)) PostMessageW(m_hWnd, WM_KILLFOCUS, 0, 0);
            m_pressedOnItem = false;
        }
        break;
    }
    case WM_KEYDOWN:
        if (m_ownerGone || !m_owner) break;
        switch (wParam) {
        case VK_ESCAPE:
            m_owner->SelectIndex(m_initialIndex, true);
            EnsureSelectionVisible(m_initialIndex);
            PostMessageW(m_hWnd, WM_KILLFOCUS, 0, 0);
            break;
        case VK_RETURN:
            PostMessageW(m_hWnd, WM_KILLFOCUS, 0, 0);
            break;
        default: {
            ControlEvent event = {};
            event.type = EventKeyDown;
            event.sender = m_owner;
            event.timestamp = GetTickCount();
            event.key = static_cast<WORD>(wParam);
            event.wParam = wParam;
            event.lParam = lParam;
            m_owner->HandleEvent(event);
            EnsureSelectionVisible(m_owner->GetSelectedIndex());
            return 0;
        }
        }
        break;
    case WM_MOUSEWHEEL: {
        if (m_ownerGone || !m_owner) return 0;
        ControlEvent event = {};
        event.type = EventScrollWheel;
        event.timestamp = GetTickCount();
        event.wParam = static_cast<short>(HIWORD(wParam)) < 0 ? 1 : 0;
        event.lParam = lParam;
        if (m_owner->IsScrollSelect()) {
            event.sender = m_owner;
            m_owner->HandleEvent(event);
            EnsureSelectionVisible(m_owner->GetSelectedIndex());
        } else if (m_layout) {
            event.sender = m_layout;
            m_layout->HandleEvent(event);
        }
        return 0;
    }
    case WM_KILLFOCUS:
        if (reinterpret_cast<HWND>(wParam) != m_hWnd) PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
        break;
    default:
        break;
    }
    LRESULT result = 0;
    if (m_pm.HandleWindowMessage(message, wParam, lParam, result)) return result;
    return CWindowWnd::HandleMessage(message, wParam, lParam);
}

void CComboWnd::OnFinalMessage(HWND) {
    // A window that failed while being made is cleaned up by Open's caller.
    if (m_creating) return;
    if (!m_ownerGone && m_owner) {
        // Normally WM_CLOSE gave the items back; a window destroyed with its
        // owner window never saw it.
        GiveItemsBack();
        if (m_owner->m_window == this) m_owner->m_window = nullptr;
        m_owner->m_buttonState &= ~CComboUI::StatePushed;
        m_owner->Invalidate();
    }
    delete this;
}

// ------------------------------------------------------------------ arrow-strip combo box

bool FindImageSource(const wchar_t* image, RECT& source, int& begin, int& end) {
    if (!image) return false;
    const wchar_t* word = wcsstr(image, L"source");
    if (!word) return false;
    const wchar_t* p = word + 6;
    if (*p++ != L'=') return false;
    if (*p++ != L'\'') return false;
    long values[4] = {};
    for (int i = 0; i < 4; ++i) {
        bool negative = false;
        if (*p == L'-') {
            negative = true;
            ++p;
        }
        if (*p < L'0' || *p > L'9') return false;
        long v = 0;
        while (*p >= L'0' && *p <= L'9') {
            if (v < 100000000) v = v * 10 + (*p - L'0');
            ++p;
        }
        values[i] = negative ? -v : v;
        if (i < 3 && *p++ != L',') return false;
    }
    if (*p++ != L'\'') return false;
    source = RECT{values[0], values[1], values[2], values[3]};
    begin = static_cast<int>(word - image);
    end = static_cast<int>(p - image);
    return true;
}

CComboBoxUI::CComboBoxUI() = default;
CComboBoxUI::~CComboBoxUI() = default;

CControlUI* CComboBoxUI::CreateComboBoxUI() { return new (std::nothrow) CComboBoxUI; }

const wchar_t* CComboBoxUI::GetClassTag() const { return L"ComboBox"; }

void* CComboBoxUI::FindInterface(const wchar_t* tag) {
    if (tag && Is(tag, L"ComboBox")) return this;
    return CComboUI::FindInterface(tag);
}

void CComboBoxUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (Is(name, L"arrowimage")) {
        m_arrowImage = value;
    } else if (Is(name, L"textvisible")) {
        if (Is(value, L"true")) m_textVisible = true;
        else if (Is(value, L"false")) m_textVisible = false;
    } else {
        CComboUI::SetAttribute(name, value);
    }
}

void CComboBoxUI::PaintStateImage(HDC hdc) {
    if (m_arrowImage.IsEmpty()) {
        CComboUI::PaintStateImage(hdc);
        return;
    }
    UpdateStateFlags();
    const UINT state = GetButtonState();
    int frame = 0;
    if (state & StateDisabled) frame = 4;
    else if (state & StatePushed) frame = 2;
    else if (state & StateHot) frame = 1;
    else if (state & StateFocused) frame = 3;
    RECT source = {};
    int begin = 0, end = 0;
    m_arrowWidth = 0;
    // Without a well-formed strip there is no arrow.
    if (!FindImageSource(m_arrowImage, source, begin, end)) return;
    const int frameWidth = (source.right - source.left) / 5;
    if (frameWidth <= 0) return;
    m_arrowWidth = frameWidth;
    const int border = GetBorderSize();
    RECT dest = {border, border, GetWidth() - border, GetHeight() - border};
    dest.left = dest.right - frameWidth;
    // Image modifiers are written in layout units.
    if (m_manager) m_manager->GetDpiScaler()->UnscaleRect(dest);
    CUIString part;
    part.Format(L"source='%d,%d,%d,%d' dest='%d,%d,%d,%d'", static_cast<int>(source.left + frameWidth * frame),
                static_cast<int>(source.top), static_cast<int>(source.left + frameWidth * (frame + 1)),
                static_cast<int>(source.bottom), static_cast<int>(dest.left), static_cast<int>(dest.top),
                static_cast<int>(dest.right), static_cast<int>(dest.bottom));
    CUIString image = m_arrowImage.Left(begin);
    image += part;
    image += m_arrowImage.Mid(end);
    DrawImage(hdc, image);
}

void CComboBoxUI::PaintText(HDC hdc) {
    if (!m_textVisible) return;
    const int index = GetSelectedIndex();
    if (index < 0) return;
    CControlUI* selected = GetItemAt(index);
    if (!selected) return;
    RECT rect = TextRect();
    rect.right -= m_arrowWidth;
    if (IListItemUI* item = static_cast<IListItemUI*>(selected->FindInterface(L"ListItem"))) {
        item->PaintItemText(hdc, rect);
        return;
    }
    const RECT former = selected->GetPos();
    selected->SetPos(rect, false);
    selected->Paint(hdc, rect);
    selected->SetPos(former, false);
}

}  // namespace Veneer
