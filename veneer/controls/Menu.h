#pragma once
// Skinned pop-up menus: the menu list, its items (which hold their sub-items
// as children) and the pop-up window of one menu level. Every open menu
// window listens on one process-wide broadcast channel, through which a
// choice or a loss of focus closes them all, and a new sub-menu closes the
// others below the same menu. A chosen leaf item is posted to the window
// that opened the root menu as WM_MENUITEM_CHOSEN with a MenuClickInfo.
#include "LayoutBuilder.h"
#include "List.h"
#include "ListItems.h"
#include "Observer.h"
#include "PaintManager.h"
#include "WindowWnd.h"

namespace Veneer {

class CMenuWnd;
class CMenuElementUI;

// wParam: a MenuClickInfo* that the receiver frees with scalar delete;
// lParam: the chosen CMenuElementUI*.
const UINT WM_MENUITEM_CHOSEN = WM_USER + 121;

enum ContextMenuKind {
    CloseAllMenus = 1,     // every open menu closes
    CloseMenusBelow = 2,   // menus whose window has the given window among its ancestors close
};

struct ContextMenuParam {
    int type;
    HWND window;
};

typedef IObserver<int, ContextMenuParam> MenuObserverBase;
typedef CObserver<int, ContextMenuParam> MenuObserver;
typedef CReceiver<int, ContextMenuParam> MenuReceiver;

struct MenuCheckEntry {
    wchar_t name[256];
    bool checked;
};

struct MenuClickInfo {
    wchar_t name[256];
    wchar_t userData[1024];
    wchar_t text[1024];
    int checkState;
};

struct MenuSharedState {
    // The manager of the window that opened the last root menu; cleared when
    // that manager is destroyed.
    CPaintManagerUI* ownerManager = nullptr;
    // Item name -> MenuCheckEntry*; nothing installs one by default.
    CStringKeyMap* checkStates = nullptr;
    MenuObserver observer;
};

MenuSharedState* GetMenuSharedState();
void ReleaseMenuCheckStates();
// Copies text into a field of `capacity` characters, cut and terminated inside it.
void CopyBounded(wchar_t* field, size_t capacity, const wchar_t* text);

class CMenuUI : public CListUI {
public:
    CMenuUI();
    ~CMenuUI() override;

    static CControlUI* CreateMenuUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    SIZE MeasureSize(SIZE available) override;

    int IndexOfItem(CControlUI* control) const override;
    bool MoveItemTo(CControlUI* control, int index) override;
    bool AddItem(CControlUI* control) override;
    bool InsertItemAt(CControlUI* control, int index) override;
    bool RemoveItem(CControlUI* control) override;

    int GetOwnerKind() override;
    void HandleItemEvent(ControlEvent& event) override;

    CMenuWnd* GetMenuWnd() const { return m_menuWnd; }
    void SetMenuWnd(CMenuWnd* window) { m_menuWnd = window; }

private:
    CMenuWnd* m_menuWnd = nullptr;
};

class CMenuElementUI : public CListContainerElementUI {
public:
    CMenuElementUI();
    ~CMenuElementUI() override;

    static CControlUI* CreateMenuElementUI();

    const wchar_t* GetClassTag() const override;
    void* FindInterface(const wchar_t* tag) override;
    void HandleEvent(ControlEvent& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    SIZE MeasureSize(SIZE available) override;
    void SetPos(RECT rect, bool invalidate = true) override;
    CControlUI* FindControl(FindControlProc callback, void* data, UINT flags) override;
    void Paint(HDC hdc, const RECT& paint) override;
    void PaintItemText(HDC hdc, const RECT& rect) override;

    void OpenSubMenu();
    void PaintIcon(HDC hdc);
    void PaintExpandArrow(HDC hdc);
    bool IsChecked() const;
    void SetCheckState(bool checked);

    CMenuWnd* GetSubMenuWnd() const { return m_subMenu; }
    // The sub-menu window ends: it no longer refers to this item.
    void ForgetSubMenu() { m_subMenu = nullptr; }
    bool IsLine() const { return m_line; }
    bool HasSubItems() const;
    static bool IsSubItem(CControlUI* control);
    // The menu's measuring makes every row as wide as the widest (unscaled).
    void StoreFixedWidth(int width) { m_fixedSize.cx = width; }
    // The menu window this item is shown in (null when none).
    CMenuWnd* GetOwnMenuWnd() const;
    // Shows every sub-item (visible and parent-visible).
    void RevealSubItems();
    // Pushed bit of the item's button state.
    void ClearPushed() { m_itemState.state &= ~0x10u; }

private:
    void Hover(bool withBase, ControlEvent& event);
    void Choose();
    template <typename Step>
    void WithoutSubItems(Step step);

    CMenuWnd* m_subMenu = nullptr;
    bool m_line = false;
    DWORD m_lineColor = 0xFFBCBFC4;
    RECT m_linePadding = {29, 0, 7, 0};
    SIZE m_iconSize = {16, 16};
    CUIString m_icon;
    bool m_checkItem = false;
    bool m_showExpand = false;
};

class CMenuWnd : public CWindowWnd, public MenuReceiver, public INotifyUI, public IDialogBuilderCallback {
public:
    enum { AlignLeft = 2, AlignTop = 4, AlignRight = 8, AlignBottom = 0x10 };

    CMenuWnd();
    ~CMenuWnd() override;

    const wchar_t* GetWindowClassName() const override;
    const wchar_t* GetBaseClassName() const override;
    UINT GetWindowClassStyle() const override;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND window) override;

    int Receive(ContextMenuParam parameter) override;
    void Notify(NotifyEvent& event) override;
    CControlUI* CreateCustomControl(const wchar_t* className) override;

    // Root menu: owner null and a manager; sub-menu: its owner item and no
    // manager. 0 when nothing opened.
    LRESULT Open(CMenuElementUI* owner, const wchar_t* layout, CPaintManagerUI* ownerManager, int x, int y);
    void PlaceInWorkArea();
    void PlaceSubMenu();
    void CloseMenu();

    bool IsClosing() const { return m_closing; }
    CPaintManagerUI& GetManager() { return m_pm; }
    CMenuElementUI* GetOwnerItem() const { return m_owner; }
    // The owner item is going away: the window's last steps leave it alone.
    // The owner item is being deleted: the window ends without giving the
    // items back, and the object still deletes itself with its window.
    void DetachOwner() {
        m_owner = nullptr;
        m_ownerGone = true;
    }

private:
    LRESULT OnCreate();
    void TakeOverScale(CPaintManagerUI* from);
    void GiveBackOwnerItems();

    bool m_closing = false;
    POINT m_base = {};
    CUIString m_layout;
    CPaintManagerUI m_pm;
    CMenuElementUI* m_owner = nullptr;
    CMenuUI* m_subLayout = nullptr;
    UINT m_alignment = AlignLeft | AlignTop;
    bool m_creating = false;
    bool m_ownerGone = false;
    bool m_shadowShown = false;
};

}  // namespace Veneer
