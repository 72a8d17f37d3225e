// Menus: the shared menu state, the menu list, its items and the pop-up
// window of one menu level with its placement.
#include "Menu.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "ListHeader.h"
#include "ScrollBar.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {
bool Is(const wchar_t* name, const wchar_t* expected) { return CompareTextNoCase(name, expected) == 0; }
bool IsTrue(const wchar_t* value) { return value && CompareTextNoCase(value, L"true") == 0; }

CMenuElementUI* AsMenuElement(CControlUI* control) {
    return control ? static_cast<CMenuElementUI*>(control->FindInterface(L"MenuElement")) : nullptr;
}

RECT ScaledRect(CPaintManagerUI* manager, RECT rect) {
    if (manager) manager->GetDpiScaler()->ScaleRect(rect);
    return rect;
}

int Unscaled(CPaintManagerUI* manager, int value) {
    const int scale = manager ? manager->GetDpiScaler()->GetScale() : 100;
    return scale > 0 && manager && manager->GetDpiScaler()->GetAwareness() != CDpiScaler::Unaware
               ? MulDiv(value, 100, scale)
               : value;
}

RECT UnscaledRect(CPaintManagerUI* manager, RECT rect) {
    if (manager) manager->GetDpiScaler()->UnscaleRect(rect);
    return rect;
}

CMenuWnd* AsMenuWnd(MenuObserver::Receiver* receiver) { return dynamic_cast<CMenuWnd*>(receiver); }

void BroadcastToMenus(int type, HWND window) {
    ContextMenuParam parameter = {type, window};
    GetMenuSharedState()->observer.BroadcastReverse(parameter);
}

// A destroyed manager must not stay the menus' message target.
void ForgetOwnerManager(CPaintManagerUI* manager) {
    MenuSharedState* state = GetMenuSharedState();
    if (state->ownerManager == manager) state->ownerManager = nullptr;
}
}  // namespace

// ------------------------------------------------------------------ shared state

MenuSharedState* GetMenuSharedState() {
    static MenuSharedState state;
    static const bool hooked = CPaintManagerUI::AddManagerGoneHook(&ForgetOwnerManager);
    (void)hooked;
    return &state;
}

void ReleaseMenuCheckStates() {
    CStringKeyMap* map = GetMenuSharedState()->checkStates;
    if (!map) return;
    for (int i = 0; i < map->GetSize(); ++i) {
        const wchar_t* key = map->GetKeyAt(i);
        if (key) delete static_cast<MenuCheckEntry*>(map->Find(key, false));
    }
    map->Resize(0);
}

void CopyBounded(wchar_t* field, size_t capacity, const wchar_t* text) {
    if (!field || capacity == 0) return;
    size_t n = 0;
    if (text) {
        for (; n + 1 < capacity && text[n]; ++n) field[n] = text[n];
    }
    field[n] = L'\0';
}

// ------------------------------------------------------------------ menu list

CMenuUI::CMenuUI() {
    if (CListHeaderUI* header = GetListHeader()) header->SetVisible(false);
}

CMenuUI::~CMenuUI() = default;

CControlUI* CMenuUI::CreateMenuUI() { return new (std::nothrow) CMenuUI; }

const wchar_t* CMenuUI::GetClassTag() const { return L"Menu"; }

void* CMenuUI::FindInterface(const wchar_t* tag) {
    if (tag && Is(tag, L"Menu")) return this;
    return CListUI::FindInterface(tag);
}

void CMenuUI::HandleEvent(ControlEvent& event) { CListUI::HandleEvent(event); }
void CMenuUI::SetAttribute(const wchar_t* name, const wchar_t* value) { CListUI::SetAttribute(name, value); }

SIZE CMenuUI::MeasureSize(SIZE available) {
    int width = 0, height = 0;
    for (int i = 0; i < GetItemCount(); ++i) {
        CControlUI* item = GetItemAt(i);
        if (!item->IsVisible()) continue;
        const SIZE size = item->MeasureSize(available);
        height += size.cy;
        width = std::max<int>(width, size.cx);
    }
    // Every row as wide as the widest.
    for (int i = 0; i < GetItemCount(); ++i) {
        CControlUI* item = GetItemAt(i);
        if (!item->IsVisible()) continue;
        if (CMenuElementUI* element = AsMenuElement(item)) element->StoreFixedWidth(Unscaled(m_manager, width));
    }
    return SIZE{width, height};
}

int CMenuUI::IndexOfItem(CControlUI* control) const {
    if (!AsMenuElement(control)) return -1;
    return CListUI::IndexOfItem(control);
}

bool CMenuUI::MoveItemTo(CControlUI* control, int index) {
    if (!AsMenuElement(control)) return false;
    return CListUI::MoveItemTo(control, index);
}

namespace {
// Sub-items stay hidden until their sub-menu opens.
void HideSubItems(CControlUI* control) {
    IContainerUI* container = static_cast<IContainerUI*>(control->FindInterface(L"IContainer"));
    if (!container) return;
    for (int i = 0; i < container->GetItemCount(); ++i) {
        CControlUI* child = container->GetItemAt(i);
        if (AsMenuElement(child)) child->SetParentVisible(false);
    }
}
}  // namespace

bool CMenuUI::AddItem(CControlUI* control) {
    if (!AsMenuElement(control)) return false;
    HideSubItems(control);
    return CListUI::AddItem(control);
}

bool CMenuUI::InsertItemAt(CControlUI* control, int index) {
    if (!AsMenuElement(control)) return false;
    HideSubItems(control);
    return CListUI::InsertItemAt(control, index);
}

bool CMenuUI::RemoveItem(CControlUI* control) {
    if (!AsMenuElement(control)) return false;
    return CListUI::RemoveItem(control);
}

int CMenuUI::GetOwnerKind() { return 3; }
void CMenuUI::HandleItemEvent(ControlEvent& event) { HandleEvent(event); }

// ------------------------------------------------------------------ menu item

CMenuElementUI::CMenuElementUI() {
    m_fixedSize.cx = 150;
    m_fixedSize.cy = 30;
}

CMenuElementUI::~CMenuElementUI() {
    if (!m_subMenu) return;
    // The open sub-menu lists this item's children: they come back to this
    // item first, then the window goes, no longer knowing its owner.
    CMenuWnd* subMenu = m_subMenu;
    m_subMenu = nullptr;
    CContainerUI::AttachManager(m_manager, m_parent, false);
    subMenu->DetachOwner();
    if (HWND window = subMenu->GetHWND()) DestroyWindow(window);
}

CControlUI* CMenuElementUI::CreateMenuElementUI() { return new (std::nothrow) CMenuElementUI; }

const wchar_t* CMenuElementUI::GetClassTag() const { return L"MenuElement"; }

void* CMenuElementUI::FindInterface(const wchar_t* tag) {
    if (tag && Is(tag, L"MenuElement")) return this;
    return CListContainerElementUI::FindInterface(tag);
}

bool CMenuElementUI::IsSubItem(CControlUI* control) { return AsMenuElement(control) != nullptr; }

bool CMenuElementUI::HasSubItems() const {
    for (int i = 0; i < m_items.GetSize(); ++i) {
        if (IsSubItem(static_cast<CControlUI*>(m_items.GetAt(i)))) return true;
    }
    return false;
}

void CMenuElementUI::RevealSubItems() {
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* child = static_cast<CControlUI*>(m_items.GetAt(i));
        if (!IsSubItem(child)) continue;
        child->SetVisible(true);
        child->SetParentVisible(true);
    }
}

// The sub-items are children of this item only for keeping: while shown they
// are laid out, hit-tested and painted by their sub-menu's window, so this
// item's own layout and searches pass over them.
template <typename Step>
void CMenuElementUI::WithoutSubItems(Step step) {
    if (!HasSubItems()) {
        step();
        return;
    }
    const CPointerArray all = m_items;
    CPointerArray own;
    for (int i = 0; i < all.GetSize(); ++i) {
        if (!IsSubItem(static_cast<CControlUI*>(all.GetAt(i)))) own.Add(all.GetAt(i));
    }
    m_items = own;
    step();
    m_items = all;
}

void CMenuElementUI::SetPos(RECT rect, bool invalidate) {
    WithoutSubItems([&] { CListContainerElementUI::SetPos(rect, invalidate); });
}

// Searches for what is shown here (hit tests, visible controls) pass over the
// sub-items; plain walks, such as the one that registers names, see them.
CControlUI* CMenuElementUI::FindControl(FindControlProc callback, void* data, UINT flags) {
    if (!(flags & (FindHitTest | FindVisible))) return CListContainerElementUI::FindControl(callback, data, flags);
    CControlUI* found = nullptr;
    WithoutSubItems([&] { found = CListContainerElementUI::FindControl(callback, data, flags); });
    return found;
}

CMenuWnd* CMenuElementUI::GetOwnMenuWnd() const {
    CControlUI* root = m_manager ? m_manager->GetRoot() : nullptr;
    CMenuUI* menu = root ? static_cast<CMenuUI*>(root->FindInterface(L"Menu")) : nullptr;
    return menu ? menu->GetMenuWnd() : nullptr;
}

void CMenuElementUI::Hover(bool withBase, ControlEvent& event) {
    if (withBase) CListContainerElementUI::HandleEvent(event);
    if (m_subMenu) return;
    RevealSubItems();
    IListOwnerUI* owner = m_itemState.owner;
    if (HasSubItems()) {
        if (owner) owner->SelectIndex(m_itemState.index, true);
        OpenSubMenu();
    } else {
        BroadcastToMenus(CloseMenusBelow, m_manager ? m_manager->GetPaintWindow() : nullptr);
        if (owner) owner->SelectIndex(m_itemState.index, true);
    }
}

void CMenuElementUI::Choose() {
    HWND own = m_manager ? m_manager->GetPaintWindow() : nullptr;
    CMenuWnd* root = GetOwnMenuWnd();
    while (root && root->GetOwnerItem()) root = root->GetOwnerItem()->GetOwnMenuWnd();
    MenuSharedState* state = GetMenuSharedState();
    if (own && IsWindow(own) && !(root && root->IsClosing()) && state->ownerManager) {
        MenuClickInfo* info = new (std::nothrow) MenuClickInfo();
        if (info) {
            CopyBounded(info->name, 256, GetName());
            CopyBounded(info->userData, 1024, GetUserData());
            CopyBounded(info->text, 1024, GetText());
            info->checkState = IsChecked() ? 1 : 0;
            if (!PostMessageW(state->ownerManager->GetPaintWindow(), WM_MENUITEM_CHOSEN,
                              reinterpret_cast<WPARAM>(info), reinterpret_cast<LPARAM>(this))) {
                delete info;
            }
        }
    }
    BroadcastToMenus(CloseAllMenus, own);
}

void CMenuElementUI::HandleEvent(ControlEvent& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.type)) {
        CListContainerElementUI::HandleEvent(event);
        return;
    }
    switch (event.type) {
    case EventMouseEnter:
        Hover(true, event);
        return;
    case EventMouseLeave:
        if (!HasSubItems()) {
            if (IListOwnerUI* owner = m_itemState.owner) owner->SelectIndex(-1, true);
        }
        CListContainerElementUI::HandleEvent(event);
        return;
    case EventButtonUp:
        if (!IsEnabled()) return;
        CListContainerElementUI::HandleEvent(event);
        if (m_subMenu) return;
        RevealSubItems();
        if (HasSubItems()) {
            OpenSubMenu();
            return;
        }
        SetCheckState(!IsChecked());
        Choose();
        return;
    case EventKeyDown:
        if (event.key == VK_RIGHT) {
            if (!m_subMenu) Hover(false, event);
            return;
        }
        break;
    default:
        break;
    }
    CListContainerElementUI::HandleEvent(event);
}

void CMenuElementUI::OpenSubMenu() {
    if (m_subMenu) return;
    CMenuWnd* window = new (std::nothrow) CMenuWnd;
    if (!window) return;
    m_subMenu = window;
    BroadcastToMenus(CloseMenusBelow, m_manager ? m_manager->GetPaintWindow() : nullptr);
    window->Open(this, L"", nullptr, 0, 0);
    // A window that could not be made leaves its object to us.
    if (m_subMenu == window && !window->GetHWND()) {
        m_subMenu = nullptr;
        delete window;
    }
}

void CMenuElementUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name) return;
    if (Is(name, L"icon")) {
        m_icon = value ? value : L"";
        return;
    }
    if (!value) return;
    if (Is(name, L"iconsize")) {
        long v[2];
        ReadIntList(value, v, 2);
        m_iconSize = SIZE{v[0], v[1]};
    } else if (Is(name, L"checkitem")) {
        m_checkItem = IsTrue(value);
    } else if (Is(name, L"ischeck")) {
        CStringKeyMap* map = GetMenuSharedState()->checkStates;
        if (!map) return;
        for (int i = 0; i < map->GetSize(); ++i) {
            const wchar_t* key = map->GetKeyAt(i);
            if (key && CompareTextNoCase(key, GetName()) == 0) return;
        }
        SetCheckState(IsTrue(value));
    } else if (Is(name, L"linetype")) {
        if (!IsTrue(value)) return;
        m_line = true;
        if (m_fixedSize.cy == 0 || m_fixedSize.cy == 30) SetFixedHeight(6);
        SetMouseChildEnabled(false);
        SetMouseEnabled(false);
        SetEnabled(false);
    } else if (Is(name, L"expland")) {
        m_showExpand = IsTrue(value);
    } else if (Is(name, L"linecolor")) {
        if (*value == L'#') ++value;
        m_lineColor = static_cast<DWORD>(wcstoul(value, nullptr, 16));
    } else if (Is(name, L"linepadding")) {
        long v[4];
        ReadIntList(value, v, 4);
        m_linePadding = RECT{v[0], v[1], v[2], v[3]};
    } else if (Is(name, L"height")) {
        SetFixedHeight(_wtoi(value));
    } else {
        CListContainerElementUI::SetAttribute(name, value);
    }
}

SIZE CMenuElementUI::MeasureSize(SIZE available) {
    const int fixedWidth = Scaled(m_fixedSize.cx);
    const int fixedHeight = Scaled(m_fixedSize.cy);
    int width = 0, height = 0;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* child = static_cast<CControlUI*>(m_items.GetAt(i));
        if (!child->IsVisible() || IsSubItem(child)) continue;
        const SIZE size = child->MeasureSize(available);
        height += size.cy;
        width = std::max<int>(width, size.cx);
    }
    IListOwnerUI* owner = m_itemState.owner;
    if (height == 0 && owner && m_manager) {
        const ListItemStyle& style = *owner->GetItemStyle();
        const RECT padding = ScaledRect(m_manager, style.textPadding);
        RECT box = {0, 0, std::max<int>(available.cx, fixedWidth), 9999};
        box.left += padding.left;
        box.right -= padding.right;
        const CUIString text = GetText();
        HDC hdc = m_manager->GetPaintDC();
        if (style.showHtml) {
            int links = 0;
            CSkinRenderer::DrawHtmlText(hdc, m_manager, box, text, 0, nullptr, nullptr, links, style.font,
                                        style.textStyle | DT_CALCRECT);
        } else {
            CSkinRenderer::DrawText(hdc, m_manager, box, text, 0, style.font, style.textStyle | DT_CALCRECT);
        }
        width = box.right - box.left + padding.left + padding.right;
        height = box.bottom - box.top + padding.top + padding.bottom;
    }
    if (fixedHeight != 0) height = fixedHeight;
    width = std::max(width, fixedWidth);
    m_fixedSize.cx = Unscaled(m_manager, width);
    m_fixedSize.cy = Unscaled(m_manager, height);
    return SIZE{width, height};
}

void CMenuElementUI::Paint(HDC hdc, const RECT& paint) {
    if (!IntersectRect(&m_paintRect, &paint, &m_item)) return;
    if (m_line) {
        const int y = m_item.top + Scaled(m_fixedSize.cy) / 2;
        const RECT line = {m_item.left + Scaled(m_linePadding.left), y, m_item.right - Scaled(m_linePadding.right), y};
        CSkinRenderer::DrawLine(hdc, line, 1, m_lineColor);
        return;
    }
    if (m_itemState.owner) m_itemState.PaintBackground(*this, hdc);
    PaintItemText(hdc, m_item);
    PaintIcon(hdc);
    if (m_showExpand) PaintExpandArrow(hdc);
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* child = static_cast<CControlUI*>(m_items.GetAt(i));
        if (IsSubItem(child) || !child->IsVisible()) continue;
        RECT cut;
        if (IntersectRect(&cut, &paint, &child->GetPos())) child->Paint(hdc, paint);
    }
}

void CMenuElementUI::PaintItemText(HDC hdc, const RECT& rect) {
    IListOwnerUI* owner = m_itemState.owner;
    const CUIString text = GetText();
    if (text.IsEmpty() || !owner || !m_manager) return;
    const ListItemStyle& style = *owner->GetItemStyle();
    DWORD color = style.textColor;
    if (!IsEnabled()) color = style.disabledTextColor;
    else if (m_itemState.selected) color = style.selectedTextColor;
    else if (IsHot()) color = style.hotTextColor;
    const RECT padding = ScaledRect(m_manager, style.textPadding);
    RECT box = {rect.left + padding.left, rect.top + padding.top, rect.right - padding.right,
                rect.bottom - padding.bottom};
    const UINT flags = style.textStyle | DT_SINGLELINE;
    if (style.showHtml) {
        int links = 0;
        CSkinRenderer::DrawHtmlText(hdc, m_manager, box, text, color, nullptr, nullptr, links, style.font, flags);
    } else {
        CSkinRenderer::DrawText(hdc, m_manager, box, text, color, style.font, flags);
    }
}

void CMenuElementUI::PaintIcon(HDC hdc) {
    if (m_icon.IsEmpty() || (m_checkItem && !IsChecked())) return;
    IListOwnerUI* owner = m_itemState.owner;
    const RECT padding = owner ? ScaledRect(m_manager, owner->GetItemStyle()->textPadding) : RECT{};
    const int height = Scaled(m_fixedSize.cy);
    const int w = Scaled(m_iconSize.cx), h = Scaled(m_iconSize.cy);
    const int box = std::min<int>(padding.left, std::max<int>(padding.right, 26));
    RECT dest = {(box - w) / 2, (height - h) / 2, 0, 0};
    dest.right = dest.left + w;
    dest.bottom = dest.top + h;
    dest = UnscaledRect(m_manager, dest);
    CUIString modifier;
    modifier.Format(L"dest='%d,%d,%d,%d'", dest.left, dest.top, dest.right, dest.bottom);
    DrawImage(hdc, m_icon, modifier);
}

void CMenuElementUI::PaintExpandArrow(HDC hdc) {
    if (!m_manager) return;
    const wchar_t* image = m_manager->GetClassDefaults(L"ExplandIcon");
    if (!image || !*image) return;
    ImageDrawSpec* spec = m_manager->GetImageDrawSpec(image);
    if (!spec || spec->file.IsEmpty()) return;
    LoadedImage* picture = m_manager->GetOrLoadImage(spec->file, spec->resourceType.IsEmpty() ? nullptr : spec->resourceType.GetData(), spec->mask);
    if (!picture) return;
    const int width = Scaled(m_fixedSize.cx), height = Scaled(m_fixedSize.cy);
    const int d = Scaled(20) / 3;
    RECT dest = {width - picture->width - d, (height - picture->height) / 2, width - d, 0};
    dest.bottom = dest.top + picture->height;
    dest = UnscaledRect(m_manager, dest);
    CUIString modifier;
    modifier.Format(L"dest='%d,%d,%d,%d'", dest.left, dest.top, dest.right, dest.bottom);
    DrawImage(hdc, image, modifier);
}

bool CMenuElementUI::IsChecked() const {
    CStringKeyMap* map = GetMenuSharedState()->checkStates;
    if (m_name.IsEmpty() || !map) return false;
    const MenuCheckEntry* entry = static_cast<const MenuCheckEntry*>(map->Find(m_name));
    return entry && entry->checked;
}

void CMenuElementUI::SetCheckState(bool checked) {
    CStringKeyMap* map = GetMenuSharedState()->checkStates;
    if (m_name.IsEmpty() || !map) return;
    if (MenuCheckEntry* entry = static_cast<MenuCheckEntry*>(map->Find(m_name))) {
        entry->checked = checked;
        return;
    }
    MenuCheckEntry* entry = new (std::nothrow) MenuCheckEntry();
    if (!entry) return;
    CopyBounded(entry->name, 256, m_name);
    entry->checked = checked;
    if (!map->Insert(m_name, entry)) delete entry;
}

// ------------------------------------------------------------------ menu window

CMenuWnd::CMenuWnd() = default;

CMenuWnd::~CMenuWnd() {
    // A window outliving its object would run on freed memory: it goes
    // first, and with it the sub-menus it owns.
    if (m_hWnd && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
    LeaveAllObservers();
}

const wchar_t* CMenuWnd::GetWindowClassName() const { return L"VeneerMenuWnd"; }
const wchar_t* CMenuWnd::GetBaseClassName() const { return nullptr; }
UINT CMenuWnd::GetWindowClassStyle() const { return 0; }

CControlUI* CMenuWnd::CreateCustomControl(const wchar_t* className) {
    if (!className) return nullptr;
    if (Is(className, L"Menu")) return new (std::nothrow) CMenuUI;
    if (Is(className, L"MenuElement")) return new (std::nothrow) CMenuElementUI;
    return nullptr;
}

LRESULT CMenuWnd::Open(CMenuElementUI* owner, const wchar_t* layout, CPaintManagerUI* ownerManager, int x, int y) {
    m_base = POINT{x, y};
    m_owner = owner;
    m_layout = layout ? layout : L"";
    m_subLayout = nullptr;
    m_alignment = AlignLeft | AlignTop;
    MenuSharedState* state = GetMenuSharedState();
    HWND parent = nullptr;
    if (owner) {
        if (owner->GetManager()) parent = owner->GetManager()->GetPaintWindow();
    } else {
        if (ownerManager) state->ownerManager = ownerManager;
        // A root menu takes its scale and its message target from the owner.
        if (!state->ownerManager) return 0;
        parent = state->ownerManager->GetPaintWindow();
    }
    state->observer.AddReceiver(this);
    m_creating = true;
    HWND window = Create(parent, L"", WS_POPUP, WS_EX_TOOLWINDOW | WS_EX_TOPMOST, 0, 0, 0, 0);
    m_creating = false;
    if (!window) {
        state->observer.RemoveReceiver(this);
        m_hWnd = nullptr;
        return 0;
    }
    HWND top = window;
    while (HWND up = GetParent(top)) top = up;
    ShowWindow(window, SW_SHOW);
    return SendMessageW(top, WM_NCACTIVATE, TRUE, 0);
}

void CMenuWnd::TakeOverScale(CPaintManagerUI* from) {
    const int ownerScale = from ? from->GetDpiScaler()->GetScale() : 100;
    const int dpi = MulDiv(ownerScale, 96, 100);
    const int scale = MulDiv(dpi, 100, 96);
    m_pm.GetDpiScaler()->SetScales(scale, scale);
}

LRESULT CMenuWnd::OnCreate() {
    CMenuUI* menu = nullptr;
    CShadowUI* shadow = m_pm.GetShadow();
    if (!m_owner) {
        m_pm.AttachWindow(m_hWnd);
        TakeOverScale(GetMenuSharedState()->ownerManager);
        CLayoutBuilder builder;
        CControlUI* root = builder.Create(m_layout, nullptr, this, &m_pm);
        menu = root ? static_cast<CMenuUI*>(root->FindInterface(L"Menu")) : nullptr;
        if (!menu) {
            // Only a menu can be shown: the window is refused.
            delete root;
            return -1;
        }
        m_shadowShown = shadow->IsShowShadow();
        shadow->SetShowShadow(false);
        m_pm.SetRootControl(root);
        m_pm.AddNotifyListener(this);
        PlaceInWorkArea();
    } else {
        CPaintManagerUI* ownerManager = m_owner->GetManager();
        if (!ownerManager) return -1;
        LONG style = GetWindowLongW(m_hWnd, GWL_STYLE);
        style &= ~WS_CAPTION;
        style |= WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
        SetWindowLongW(m_hWnd, GWL_STYLE, style);
        RECT client = {};
        GetClientRect(m_hWnd, &client);
        SetWindowPos(m_hWnd, nullptr, client.left, client.top, client.right - client.left, client.bottom - client.top,
                     SWP_FRAMECHANGED);
        m_pm.AttachWindow(m_hWnd);
        TakeOverScale(ownerManager);
        menu = new (std::nothrow) CMenuUI;
        if (!menu) return -1;
        m_subLayout = menu;
        m_pm.SetUseSharedResources(true);
        menu->AttachManager(&m_pm, nullptr, true);
        if (const wchar_t* defaults = m_pm.GetClassDefaults(L"Menu")) menu->ApplyAttributeString(defaults);
        menu->GetListBody()->SetAutoDestroy(false);
        for (int i = 0; i < m_owner->GetItemCount(); ++i) {
            CControlUI* child = m_owner->GetItemAt(i);
            CMenuElementUI* item = AsMenuElement(child);
            if (!item) continue;
            item->SetItemOwner(menu);
            menu->AddItem(child);
        }
        shadow->CopySettings(*ownerManager->GetShadow());
        m_shadowShown = shadow->IsShowShadow();
        shadow->SetShowShadow(false);
        m_pm.SetLayeredMode(ownerManager->IsLayeredMode());
        m_pm.SetRootControl(menu);
        m_pm.AddNotifyListener(this);
        PlaceSubMenu();
    }
    menu->SetMenuWnd(this);
    shadow->SetShowShadow(m_shadowShown);
    shadow->Create(&m_pm);
    return 0;
}

void CMenuWnd::PlaceInWorkArea() {
    if (!m_hWnd || !IsWindow(m_hWnd)) return;
    CControlUI* root = m_pm.GetRoot();
    CMenuUI* menu = root ? static_cast<CMenuUI*>(root->FindInterface(L"Menu")) : nullptr;
    if (!menu) return;
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &info);
    const RECT& work = info.rcWork;
    const SIZE size = menu->MeasureSize(SIZE{work.right - work.left, work.bottom - work.top});
    m_pm.SetInitSize(Unscaled(&m_pm, size.cx), Unscaled(&m_pm, size.cy));
    RECT rect = {m_base.x, m_base.y, m_base.x + size.cx, m_base.y + size.cy};
    const RECT& monitor = info.rcMonitor;
    if (rect.right > monitor.right) OffsetRect(&rect, monitor.right - rect.right, 0);
    if (rect.top < monitor.top) OffsetRect(&rect, 0, monitor.top - rect.top);
    if (m_alignment & AlignRight) {
        rect.right = m_base.x;
        rect.left = m_base.x - size.cx;
    }
    if (m_alignment & AlignBottom) {
        rect.bottom = m_base.y;
        rect.top = m_base.y - size.cy;
    }
    const RECT inset = menu->GetInset();
    SetForegroundWindow(m_hWnd);
    MoveWindow(m_hWnd, rect.left, rect.top, size.cx, size.cy, FALSE);
    SetWindowPos(m_hWnd, HWND_TOPMOST, rect.left, rect.top, size.cx, size.cy + inset.top + inset.bottom,
                 SWP_SHOWWINDOW);
}

void CMenuWnd::PlaceSubMenu() {
    if (!m_owner || !m_subLayout) return;
    CPaintManagerUI* ownerManager = m_owner->GetManager();
    HWND ownerWindow = ownerManager ? ownerManager->GetPaintWindow() : nullptr;
    const RECT item = m_owner->GetPos();
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &info);
    const RECT& work = info.rcWork;
    int total = 0, width = 0;
    for (int i = 0; i < m_owner->GetItemCount(); ++i) {
        CControlUI* child = m_owner->GetItemAt(i);
        if (!AsMenuElement(child)) continue;
        const SIZE size = child->MeasureSize(SIZE{work.right - work.left, work.bottom - work.top});
        total += size.cy;
        width = std::max<int>(width, size.cx);
    }
    RECT ownerRect = {};
    GetWindowRect(ownerWindow, &ownerRect);
    POINT itemTop = {item.left, item.top};
    ClientToScreen(ownerWindow, &itemTop);
    RECT rect = {ownerRect.right, itemTop.y, ownerRect.right + width + 2, itemTop.y + total};

    // Where the open menus lie tells which way this chain already turned.
    bool reachRight = false, reachBottom = false;
    CMenuWnd* ownMenu = m_owner->GetOwnMenuWnd();
    MenuObserver::Iterator walk(GetMenuSharedState()->observer);
    while (MenuObserver::Receiver* receiver = walk.Next()) {
        CMenuWnd* menu = AsMenuWnd(receiver);
        if (!menu || menu == this) continue;
        if (menu == ownMenu) break;
        RECT other = {};
        if (!menu->GetHWND() || !GetWindowRect(menu->GetHWND(), &other)) continue;
        reachRight = other.left >= ownerRect.right;
        reachBottom = other.top >= ownerRect.bottom;
        if (reachRight || reachBottom) break;
    }
    if (reachBottom) {
        rect.bottom = ownerRect.top;
        rect.top = rect.bottom - total;
    }
    if (reachRight) {
        rect.right = ownerRect.left;
        rect.left = rect.right - width;
    }
    if (rect.bottom > work.bottom) {
        rect.bottom = rect.top;
        rect.top = rect.top - total;
    }
    if (rect.right > work.right) {
        rect.right = ownerRect.left;
        rect.left = rect.right - width;
    }
    if (rect.top < work.top) {
        rect.top = itemTop.y;
        rect.bottom = rect.top + total;
    }
    if (rect.left < work.left) {
        rect.left = ownerRect.right;
        rect.right = rect.left + width;
    }
    const RECT inset = m_subLayout->GetInset();
    MoveWindow(m_hWnd, rect.left, rect.top, rect.right - rect.left,
               rect.bottom - rect.top + inset.top + inset.bottom, FALSE);
}

void CMenuWnd::CloseMenu() {
    if (!m_hWnd || !IsWindow(m_hWnd)) return;
    PostMessageW(m_hWnd, WM_CLOSE, 1, 0);
    m_closing = true;
}

int CMenuWnd::Receive(ContextMenuParam parameter) {
    switch (parameter.type) {
    case CloseAllMenus:
        CloseMenu();
        break;
    case CloseMenusBelow:
        for (HWND up = m_hWnd ? GetParent(m_hWnd) : nullptr; up; up = GetParent(up)) {
            if (up == parameter.window) {
                CloseMenu();
                break;
            }
        }
        break;
    default:
        break;
    }
    return 1;
}

void CMenuWnd::Notify(NotifyEvent& event) {
    CPaintManagerUI* owner = GetMenuSharedState()->ownerManager;
    if (!owner) return;
    if (event.type == L"click" || event.type == L"valuechanged") owner->DispatchNotification(event);
}

void CMenuWnd::GiveBackOwnerItems() {
    if (!m_owner) return;
    m_owner->AttachManager(m_owner->GetManager(), m_owner->GetParent(), false);
}

LRESULT CMenuWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate();
    case WM_DESTROY:
        m_closing = false;
        break;
    case WM_SIZE:
        if (!IsIconic(m_hWnd)) {
            RECT client = {};
            GetClientRect(m_hWnd, &client);
            const SIZE corner = m_pm.GetRoundCorner();
            HRGN region = CreateRoundRectRgn(0, 0, client.right + 1, client.bottom + 1, corner.cx, corner.cy);
            SetWindowRgn(m_hWnd, region, TRUE);
        }
        break;
    case WM_KILLFOCUS: {
        HWND gaining = reinterpret_cast<HWND>(wParam);
        bool toMenu = false;
        MenuObserver::Iterator walk(GetMenuSharedState()->observer);
        while (MenuObserver::Receiver* receiver = walk.Next()) {
            CMenuWnd* menu = AsMenuWnd(receiver);
            if (menu && gaining && menu->GetHWND() == gaining) toMenu = true;
        }
        if (!toMenu) BroadcastToMenus(CloseAllMenus, m_hWnd);
        break;
    }
    case WM_CLOSE:
        if (m_owner) {
            GiveBackOwnerItems();
            m_owner->SetPos(m_owner->GetPos(), true);
            m_owner->TakeFocus();
        }
        break;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE || wParam == VK_LEFT) CloseMenu();
        break;
    case WM_CONTEXTMENU:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
        return 0;
    default:
        break;
    }
    LRESULT result = 0;
    if (m_pm.HandleWindowMessage(message, wParam, lParam, result)) return result;
    return CWindowWnd::HandleMessage(message, wParam, lParam);
}

void CMenuWnd::OnFinalMessage(HWND) {
    LeaveAllObservers();
    // A window that failed while being made is cleaned up by Open's caller,
    // a root menu by its opener.
    if (m_creating) return;
    if (!m_owner) {
        if (m_ownerGone) delete this;
        return;
    }
    CMenuElementUI* owner = m_owner;
    // Normally WM_CLOSE gave the items back already; a window destroyed
    // with its owner window never saw it.
    GiveBackOwnerItems();
    CControlUI* ownerParent = owner->GetParent();
    for (int i = 0; i < owner->GetItemCount(); ++i) {
        CControlUI* child = owner->GetItemAt(i);
        IListItemUI* item = AsMenuElement(child);
        if (!item) continue;
        item->SetItemOwner(ownerParent);
        child->SetVisible(false);
        child->SetParentVisible(false);
    }
    owner->ForgetSubMenu();
    owner->ClearPushed();
    owner->Invalidate();
    delete this;
}

}  // namespace Veneer
