// The editable list, its header items with check boxes and resizable
// edges, and its multi-column rows with a check box.
#include "ListEx.h"

#include <cwchar>
#include <new>

#include "Combo.h"
#include "Edit.h"
#include "ListHeader.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {
bool Is(const wchar_t* name, const wchar_t* expected) { return CompareTextNoCase(name, expected) == 0; }

int ScaledBy(const CControlUI& control, int value) {
    CPaintManagerUI* manager = control.GetManager();
    return manager ? manager->GetDpiScaler()->ScaleValue(value) : value;
}

const UINT kPushedCaptured = ButtonPushed | ButtonCaptured;
}  // namespace

// ------------------------------------------------------------- check box

RECT CellCheckBox::Rect(const CControlUI& owner) const {
    const RECT& item = owner.GetPos();
    const int w = ScaledBy(owner, width), h = ScaledBy(owner, height);
    RECT r;
    r.left = item.left + ScaledBy(owner, 6);
    r.top = item.top + (item.bottom - item.top - h) / 2;
    r.right = r.left + w;
    r.bottom = r.top + h;
    return r;
}

bool CellCheckBox::SetAttribute(const wchar_t* name, const wchar_t* value) {
    static const wchar_t* const names[ImageCount] = {
        L"checkboxnormalimage",   L"checkboxhotimage",      L"checkboxpushedimage", L"checkboxfocusedimage",
        L"checkboxdisabledimage", L"checkboxselectedimage", L"checkboxforeimage"};
    for (int i = 0; i < ImageCount; ++i) {
        if (Is(name, names[i])) {
            images[i] = value;
            return true;
        }
    }
    if (Is(name, L"checkboxwidth") || Is(name, L"checkboxheight")) {
        const int v = static_cast<int>(wcstol(value, nullptr, 10));
        if (v >= 0) (Is(name, L"checkboxwidth") ? width : height) = v;
        return true;
    }
    return false;
}

void CellCheckBox::SetChecked(CControlUI& owner, bool on) {
    if (checked == on) return;
    checked = on;
    if (on) state |= ButtonSelected; else state &= ~ButtonSelected;
    owner.Invalidate();
}

bool CellCheckBox::HandleEvent(CControlUI& owner, ControlEvent& event) {
    const RECT box = Rect(owner);
    const bool inside = PtInRect(&box, event.mouse) != FALSE;
    switch (event.type) {
    case EventButtonDown:
    case EventDoubleClick:
        if (inside) {
            state |= kPushedCaptured;
            owner.Invalidate();
        }
        return false;
    case EventMouseMove:
        if (state & ButtonCaptured) {
            if (inside) state |= ButtonPushed; else state &= ~ButtonPushed;
            owner.Invalidate();
        }
        return false;
    case EventMouseEnter:
        if (inside) {
            state |= ButtonHot;
            owner.Invalidate();
        }
        return false;
    case EventMouseLeave:
        state &= ~ButtonHot;
        owner.Invalidate();
        return false;
    case EventButtonUp: {
        if (!(state & ButtonCaptured)) return false;
        bool toggled = false;
        if (inside) {
            checked = !checked;
            if (checked) state |= ButtonSelected; else state &= ~ButtonSelected;
            toggled = true;
        }
        state &= ~kPushedCaptured;
        owner.Invalidate();
        return toggled;
    }
    default:
        return false;
    }
}

void CellCheckBox::Paint(CControlUI& owner, HDC hdc) {
    CPaintManagerUI* manager = owner.GetManager();
    if (!manager) return;
    state &= ~ButtonPushed;
    const RECT box = Rect(owner);
    auto draw = [&](const CUIString& image) {
        if (image.IsEmpty()) return false;
        return CSkinRenderer::DrawImageSpec(manager->GetImageDrawSpec(image), box, hdc, manager, owner.GetPaintRect());
    };
    if (checked) {
        draw(images[Selected]);
        draw(images[Fore]);
        return;
    }
    if (owner.IsFocused()) state |= ButtonFocused; else state &= ~ButtonFocused;
    if (!owner.IsEnabled()) state |= ButtonDisabled; else state &= ~ButtonDisabled;
    const CUIString* chosen = nullptr;
    if (state & ButtonDisabled) chosen = &images[Disabled];
    else if (state & ButtonPushed) chosen = &images[Pushed];
    else if (state & ButtonHot) chosen = &images[Hot];
    else if (state & ButtonFocused) chosen = &images[Focused];
    if (chosen && draw(*chosen)) return;
    if (draw(images[Normal])) return;
    draw(images[Fore]);
}

// ------------------------------------------------------------ header item

CListContainerHeaderItemUI::CListContainerHeaderItemUI() { SetMinWidth(16); }
CListContainerHeaderItemUI::~CListContainerHeaderItemUI() = default;

CControlUI* CListContainerHeaderItemUI::CreateListContainerHeaderItemUI() {
    return new (std::nothrow) CListContainerHeaderItemUI;
}

const wchar_t* CListContainerHeaderItemUI::GetClassTag() const { return L"ListContainerHeaderItem"; }

void* CListContainerHeaderItemUI::FindInterface(const wchar_t* tag) {
    if (tag && Is(tag, L"ListContainerHeaderItem")) return this;
    return CContainerUI::FindInterface(tag);
}

UINT CListContainerHeaderItemUI::GetBehaviorFlags() const { return IsEnabled() && m_look.sepWidth != 0 ? 2 : 0; }

void CListContainerHeaderItemUI::SetEnabled(bool enabled) {
    if (m_enabled != enabled) {
        m_enabled = enabled;
        Invalidate();
    }
    if (!enabled) m_look.state = 0;
}

RECT CListContainerHeaderItemUI::GetSeparatorRect() const { return m_look.SeparatorRect(*this); }

void CListContainerHeaderItemUI::HandleEvent(ControlEvent& event) {
    if (m_checkable && m_box.HandleEvent(*this, event) && m_parent && m_manager) {
        IContainerUI* header = static_cast<IContainerUI*>(m_parent->FindInterface(L"IContainer"));
        const int index = header ? header->IndexOfItem(this) : -1;
        m_manager->SendNotification(this, L"listheaditemchecked", static_cast<WPARAM>(index), m_box.checked ? 1 : 0);
    }
    if (m_checkable && event.type == EventMouseMove && !(m_box.state & ButtonCaptured)) {
        const RECT box = m_box.Rect(*this);
        if (PtInRect(&box, event.mouse)) m_box.state |= ButtonHot; else m_box.state &= ~ButtonHot;
    }
    if (!IsMouseEnabled() && IsMouseEvent(event.type)) {
        if (m_parent) {
            m_parent->HandleEvent(event);
        } else {
            CContainerUI::HandleEvent(event);
        }
        return;
    }
    if (event.type == EventSetFocus || event.type == EventKillFocus) {
        Invalidate();
        return;
    }
    // A separator of width 0 is dragged from the left like a negative one.
    if (m_look.HandleEvent(*this, event, L"listheaderclick", m_look.sepWidth > 0, m_fixedSize)) return;
    if ((event.type == EventMouseEnter || event.type == EventMouseLeave) && IsEnabled()) {
        if (event.type == EventMouseEnter) m_look.state |= ButtonHot; else m_look.state &= ~ButtonHot;
        Invalidate();
        return;
    }
    CContainerUI::HandleEvent(event);
}

void CListContainerHeaderItemUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (m_look.SetAttribute(*this, name, value)) return;
    if (Is(name, L"editable")) {
        m_editable = ReadBool(value);
    } else if (Is(name, L"comboable")) {
        m_comboable = ReadBool(value);
    } else if (Is(name, L"checkable")) {
        m_checkable = ReadBool(value);
    } else if (!m_box.SetAttribute(name, value)) {
        CHorizontalLayoutUI::SetAttribute(name, value);
    }
}

SIZE CListContainerHeaderItemUI::MeasureSize(SIZE available) {
    if (m_fixedSize.cy != 0) return CControlUI::MeasureSize(available);
    const FontEntry* font = m_manager ? m_manager->GetDefaultFontEntry() : nullptr;
    return SIZE{m_fixedSize.cx, (font ? font->metrics.tmHeight : 0) + 14};
}

void CListContainerHeaderItemUI::PaintStateImage(HDC hdc) {
    m_look.PaintStateImage(*this, hdc);
    if (m_checkable) m_box.Paint(*this, hdc);
}

void CListContainerHeaderItemUI::PaintText(HDC hdc) {
    m_look.PaintText(*this, hdc, m_checkable ? ScaledBy(*this, m_box.width) : 0, DT_SINGLELINE);
}

// -------------------------------------------------------------------- row

CListTextExElementUI::CListTextExElementUI() = default;
CListTextExElementUI::~CListTextExElementUI() = default;

CControlUI* CListTextExElementUI::CreateListTextExElementUI() { return new (std::nothrow) CListTextExElementUI; }

const wchar_t* CListTextExElementUI::GetClassTag() const { return L"ListTextExElement"; }

void* CListTextExElementUI::FindInterface(const wchar_t* tag) {
    if (tag && (Is(tag, L"ListTextExElement") || Is(tag, L"ListLabelElement"))) return static_cast<CControlUI*>(this);
    return CListElementUI::FindInterface(tag);
}

void CListTextExElementUI::SetItemOwner(CControlUI* owner) {
    CListTextElementUI::SetItemOwner(owner);
    if (owner) m_listEx = static_cast<CListExUI*>(owner->FindInterface(L"ListEx"));
}

void CListTextExElementUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (!m_box.SetAttribute(name, value)) CListTextElementUI::SetAttribute(name, value);
}

bool CListTextExElementUI::HasCheckBox() {
    if (!m_listEx) return false;
    const int columns = m_listEx->GetItemStyle()->columns;
    for (int i = 0; i < columns; ++i) {
        if (m_listEx->IsColumnCheckable(i)) return true;
    }
    return false;
}

int CListTextExElementUI::ColumnTextInset(int column) {
    return m_listEx && m_listEx->IsColumnCheckable(column) ? ScaledBy(*this, m_box.width) : 0;
}

int CListTextExElementUI::HitTestColumn(POINT point) {
    if (!m_list || !m_manager) return -1;
    const ListItemStyle& style = *m_list->GetItemStyle();
    RECT padding = style.textPadding;
    m_manager->GetDpiScaler()->ScaleRect(padding);
    for (int i = 0; i < style.columns; ++i) {
        const RECT& column = style.columnRects[i];
        const RECT cell = {column.left + padding.left, m_item.top + padding.top, column.right - padding.right,
                           m_item.bottom - padding.bottom};
        if (PtInRect(&cell, point)) return i;
    }
    return -1;
}

void CListTextExElementUI::HandleEvent(ControlEvent& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.type)) {
        if (m_listEx) {
            m_listEx->HandleEvent(event);
        } else {
            CListLabelElementUI::HandleEvent(event);
        }
        return;
    }
    const int link = LinkAt(event.mouse);
    if ((event.type == EventSetCursor || (event.type == EventButtonUp && IsEnabled())) && link >= 0) {
        CListTextElementUI::HandleEvent(event);
        return;
    }
    // A press into a cell of the focused list opens that cell's editor.
    if (event.type == EventButtonDown && m_listEx && m_listEx->IsFocused()) {
        const int column = HitTestColumn(event.mouse);
        RECT cell = {};
        const wchar_t* text = nullptr;
        if (column >= 0) {
            const RECT& rect = m_listEx->GetItemStyle()->columnRects[column];
            cell = RECT{rect.left, m_item.top, rect.right, m_item.bottom};
            InflateRect(&cell, -2, -2);
            text = GetColumnText(column);
        }
        m_listEx->OpenCellEditor(cell, m_itemState.index, column, text);
    }
    if (HasCheckBox() && m_box.HandleEvent(*this, event) && m_manager) {
        m_manager->SendNotification(this, L"listitemchecked", MAKEWPARAM(m_itemState.index, 0),
                                    m_box.checked ? 1 : 0);
    }
    CListTextElementUI::HandleEvent(event);
}

void CListTextExElementUI::Paint(HDC hdc, const RECT& paint) {
    if (!IntersectRect(&m_paintRect, &paint, &m_item)) return;
    PaintItemBackground(hdc);
    PaintStateImage(hdc);
    PaintItemText(hdc, m_item);
}

void CListTextExElementUI::PaintStateImage(HDC hdc) {
    if (HasCheckBox()) m_box.Paint(*this, hdc);
}

// ---------------------------------------------------------------- the list

CListExUI::CListExUI() = default;

CListExUI::~CListExUI() {
    if (m_listening) m_listening->RemoveNotifyListener(this);
}

CControlUI* CListExUI::CreateListExUI() { return new (std::nothrow) CListExUI; }

const wchar_t* CListExUI::GetClassTag() const { return L"ListEx"; }

void* CListExUI::FindInterface(const wchar_t* tag) {
    if (tag && Is(tag, L"ListEx")) return this;
    return CListUI::FindInterface(tag);
}

void CListExUI::OnInitialize() {
    CListUI::OnInitialize();
    // The list listens to its own window's notifications from the start.
    if (m_manager && m_listening != m_manager) {
        if (m_listening) m_listening->RemoveNotifyListener(this);
        m_manager->AddNotifyListener(this);
        m_listening = m_manager;
    }
}

void CListExUI::HandleEvent(ControlEvent& event) {
    if (event.type == EventButtonDown) HideCellEditors();
    CListUI::HandleEvent(event);
}

int CListExUI::GetOwnerKind() { return 0; }

void CListExUI::HandleItemEvent(ControlEvent& event) { CListExUI::HandleEvent(event); }

CListContainerHeaderItemUI* CListExUI::HeaderItemAt(int column) {
    CListHeaderUI* header = GetListHeader();
    if (!header || column < 0 || column >= header->GetItemCount()) return nullptr;
    CControlUI* item = header->GetItemAt(column);
    return item ? static_cast<CListContainerHeaderItemUI*>(item->FindInterface(L"ListContainerHeaderItem")) : nullptr;
}

bool CListExUI::IsColumnEditable(int column) {
    CListContainerHeaderItemUI* item = HeaderItemAt(column);
    return item && item->IsEditable();
}

bool CListExUI::IsColumnComboable(int column) {
    CListContainerHeaderItemUI* item = HeaderItemAt(column);
    return item && item->IsComboable();
}

bool CListExUI::IsColumnCheckable(int column) {
    CListContainerHeaderItemUI* item = HeaderItemAt(column);
    return item && item->IsCheckable();
}

IListComboItemsProvider* CListExUI::GetComboItemsProvider() { return m_provider; }
void CListExUI::SetComboItemsProvider(IListComboItemsProvider* provider) { m_provider = provider; }

void CListExUI::Hide(CControlUI* control) {
    if (control) control->SetPos(RECT{0, 0, 0, 0}, true);
}

CControlUI* CListExUI::GetCellEditor() {
    if (!m_editor) {
        m_editor = new (std::nothrow) CEditUI;
        if (!m_editor) return nullptr;
        m_editor->SetName(L"ListEx_Edit");
        // Placed by hand over a cell: the list's layout leaves it alone.
        m_editor->SetFloat(true);
        if (const wchar_t* defaults = m_manager ? m_manager->GetClassDefaults(L"Edit") : nullptr)
            m_editor->ApplyAttributeString(defaults);
        if (!CListUI::AddItem(m_editor)) {
            delete m_editor;
            m_editor = nullptr;
            return nullptr;
        }
    }
    Hide(m_combo);
    m_comboOnCell = false;
    return m_editor;
}

CControlUI* CListExUI::GetCellComboBox() {
    if (!m_combo) {
        m_combo = new (std::nothrow) CComboBoxUI;
        if (!m_combo) return nullptr;
        m_combo->SetName(L"ListEx_Combo");
        m_combo->SetFloat(true);
        if (const wchar_t* defaults = m_manager ? m_manager->GetClassDefaults(L"Combo") : nullptr)
            m_combo->ApplyAttributeString(defaults);
        if (!CListUI::AddItem(m_combo)) {
            delete m_combo;
            m_combo = nullptr;
            return nullptr;
        }
    }
    Hide(m_editor);
    return m_combo;
}

void CListExUI::OpenCellEditor(const RECT& cell, int row, int column, const wchar_t* text) {
    if (column < 0) {
        HideCellEditors();
        return;
    }
    if (IsColumnEditable(column) && GetCellEditor()) {
        m_editRow = row;
        m_editColumn = column;
        m_editor->SetText(text ? text : L"");
        m_editor->SetVisible(true);
        m_editor->SetPos(cell, true);
        return;
    }
    if (IsColumnComboable(column) && GetCellComboBox()) {
        m_comboOnCell = false;   // a choice made while the provider fills it is no commit
        m_combo->RemoveAllItems();
        m_editRow = row;
        m_editColumn = column;
        m_combo->SetText(text ? text : L"");
        if (m_provider) m_provider->FillComboItems(m_combo, row, column);
        m_combo->SetPos(cell, true);
        m_combo->SetVisible(true);
        m_comboOnCell = true;
        return;
    }
    HideCellEditors();
}

void CListExUI::HideCellEditors() {
    Hide(m_editor);
    Hide(m_combo);
    m_comboOnCell = false;
}

void CListExUI::SyncHeaderCheckBox(int column, bool checked) {
    CListContainerHeaderItemUI* item = HeaderItemAt(column);
    if (!item) return;
    if (!checked) {
        item->SetChecked(false);
        return;
    }
    for (int i = 0; i < GetItemCount(); ++i) {
        CControlUI* row = GetItemAt(i);
        auto* ex = row ? static_cast<CListTextExElementUI*>(row->FindInterface(L"ListTextExElement")) : nullptr;
        if (ex && !ex->IsChecked()) {
            item->SetChecked(false);
            return;
        }
    }
    item->SetChecked(true);
}

void CListExUI::Notify(NotifyEvent& event) {
    CControlUI* sender = event.sender;
    if (!sender) return;
    CListHeaderUI* header = GetListHeader();
    if (event.type == L"listheaditemchecked" && header && sender->GetParent() == header) {
        for (int i = 0; i < GetItemCount(); ++i) {
            CControlUI* row = GetItemAt(i);
            auto* ex = row ? static_cast<CListTextExElementUI*>(row->FindInterface(L"ListTextExElement")) : nullptr;
            if (ex) ex->SetChecked(event.lParam != 0);
        }
    } else if (event.type == L"listitemchecked" && IndexOfItem(sender) >= 0) {
        SyncHeaderCheckBox(HIWORD(event.wParam), event.lParam != 0);
    }

    const bool editing = m_editRow >= 0 && m_editColumn >= 0;
    if (m_editor && sender == m_editor && editing) {
        if (event.type == L"killfocus") {
            CControlUI* row = GetItemAt(m_editRow);
            auto* ex = row ? static_cast<CListTextExElementUI*>(row->FindInterface(L"ListTextExElement")) : nullptr;
            if (ex) ex->SetColumnText(m_editColumn, m_editor->GetInputText());
            m_editRow = m_editColumn = -1;
            Hide(m_editor);
        }
    } else if (m_combo && sender == m_combo && editing) {
        // The chosen item's text goes into the cell, once the box is on it.
        if (event.type == L"itemselect" && m_comboOnCell) {
            CControlUI* row = GetItemAt(m_editRow);
            auto* ex = row ? static_cast<CListTextExElementUI*>(row->FindInterface(L"ListTextExElement")) : nullptr;
            if (ex) ex->SetColumnText(m_editColumn, m_combo->GetText());
            m_editRow = m_editColumn = -1;
            HideCellEditors();
        }
    } else if (event.type == L"scroll" && (m_editor || m_combo) && editing) {
        HideCellEditors();
    }
}

}  // namespace Veneer
