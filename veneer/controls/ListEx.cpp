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

DWORD ReadColor(const wchar_t* value) {
    if (*value == L'#') ++value;
    return static_cast<DWORD>(wcstoul(value, nullptr, 16));
}

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

UINT CListContainerHeaderItemUI::GetBehaviorFlags() const { return IsEnabled() && m_sepWidth != 0 ? 2 : 0; }

void CListContainerHeaderItemUI::SetEnabled(bool enabled) {
    if (m_enabled != enabled) {
        m_enabled = enabled;
        Invalidate();
    }
    if (!enabled) m_state = 0;
}

RECT CListContainerHeaderItemUI::GetSeparatorRect() const {
    const int w = Scaled(m_sepWidth);
    if (w >= 0) return RECT{m_item.right - w, m_item.top, m_item.right, m_item.bottom};
    return RECT{m_item.left, m_item.top, m_item.left - w, m_item.bottom};
}

RECT CListContainerHeaderItemUI::GripRect() const {
    RECT grip = GetSeparatorRect();
    if (m_sepWidth >= 0) {
        grip.left -= 4;
    } else {
        grip.right += 4;
    }
    return grip;
}

void CListContainerHeaderItemUI::RelayoutList() {
    if (m_parent) m_parent->MarkParentForLayout();
}

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
    const RECT grip = GripRect();
    switch (event.type) {
    case EventButtonDown:
    case EventDoubleClick:
        if (!IsEnabled()) return;
        if (!PtInRect(&grip, event.mouse)) {
            m_state |= ButtonPushed;
            if (m_manager) m_manager->SendNotification(this, L"listheaderclick");
            Invalidate();
        } else if (m_draggable) {
            m_state |= ButtonCaptured;
            m_lastDrag = event.mouse;
            m_dragWidth = m_item.right - m_item.left;
        }
        return;
    case EventMouseMove: {
        if (!(m_state & ButtonCaptured)) return;
        const int dx = event.mouse.x - m_lastDrag.x;
        const int width = m_sepWidth > 0 ? m_dragWidth + dx : m_dragWidth - dx;
        if (width <= GetMinWidth()) return;
        m_dragWidth = width;
        // Stored as the measure reads it back: a width without a height is
        // taken as pixels, with one it is scaled, so it is stored unscaled.
        const int scale = m_manager ? m_manager->GetDpiScaler()->GetScale() : 100;
        m_fixedSize.cx = m_fixedSize.cy == 0 || scale <= 0 ? width : MulDiv(width, 100, scale);
        m_lastDrag = event.mouse;
        RelayoutList();
        return;
    }
    case EventButtonUp:
        if (m_state & ButtonCaptured) {
            m_state &= ~ButtonCaptured;
            RelayoutList();
        } else if (m_state & ButtonPushed) {
            m_state &= ~ButtonPushed;
            Invalidate();
        }
        return;
    case EventSetCursor:
        if (IsEnabled() && m_draggable && PtInRect(&grip, event.mouse)) {
            ::SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32644)));   // IDC_SIZEWE
            return;
        }
        break;
    case EventMouseEnter:
    case EventMouseLeave:
        if (IsEnabled()) {
            if (event.type == EventMouseEnter) m_state |= ButtonHot; else m_state &= ~ButtonHot;
            Invalidate();
            return;
        }
        break;
    default:
        break;
    }
    CContainerUI::HandleEvent(event);
}

void CListContainerHeaderItemUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (Is(name, L"dragable")) {
        m_draggable = CompareTextNoCase(value, L"true") == 0;
        if (!m_draggable) m_state &= ~ButtonCaptured;
    } else if (Is(name, L"sepwidth")) {
        m_sepWidth = static_cast<int>(wcstol(value, nullptr, 10));
    } else if (Is(name, L"align")) {
        if (wcsstr(value, L"left")) m_textStyle &= ~(DT_CENTER | DT_RIGHT);
        if (wcsstr(value, L"center")) m_textStyle = (m_textStyle & ~DT_RIGHT) | DT_CENTER;
        if (wcsstr(value, L"right")) m_textStyle = (m_textStyle & ~DT_CENTER) | DT_RIGHT;
    } else if (Is(name, L"endellipsis")) {
        if (CompareTextNoCase(value, L"true") == 0) m_textStyle |= DT_END_ELLIPSIS;
        else m_textStyle &= ~DT_END_ELLIPSIS;
    } else if (Is(name, L"font")) {
        m_font = static_cast<int>(wcstol(value, nullptr, 10));
    } else if (Is(name, L"textcolor")) {
        m_textColor = ReadColor(value);
    } else if (Is(name, L"textpadding")) {
        long v[4] = {};
        ReadIntList(value, v, 4);
        m_textPadding = RECT{v[0], v[1], v[2], v[3]};
        Invalidate();
    } else if (Is(name, L"showhtml")) {
        const bool on = CompareTextNoCase(value, L"true") == 0;
        if (on != m_showHtml) {
            m_showHtml = on;
            Invalidate();
        }
    } else if (Is(name, L"normalimage") || Is(name, L"hotimage") || Is(name, L"pushedimage") ||
               Is(name, L"focusedimage") || Is(name, L"sepimage")) {
        CUIString* target = Is(name, L"normalimage")    ? &m_normalImage
                            : Is(name, L"hotimage")     ? &m_hotImage
                            : Is(name, L"pushedimage")  ? &m_pushedImage
                            : Is(name, L"focusedimage") ? &m_focusedImage
                                                        : &m_sepImage;
        *target = value;
        Invalidate();
    } else if (Is(name, L"editable")) {
        m_editable = CompareTextNoCase(value, L"true") == 0;
    } else if (Is(name, L"comboable")) {
        m_comboable = CompareTextNoCase(value, L"true") == 0;
    } else if (Is(name, L"checkable")) {
        m_checkable = CompareTextNoCase(value, L"true") == 0;
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
    if (IsFocused()) m_state |= ButtonFocused; else m_state &= ~ButtonFocused;
    const CUIString* chosen = &m_normalImage;
    if (m_state & ButtonPushed) chosen = &m_pushedImage;
    else if (m_state & ButtonHot) chosen = &m_hotImage;
    else if (m_state & ButtonFocused) chosen = &m_focusedImage;
    if (chosen != &m_normalImage && chosen->IsEmpty() && !m_normalImage.IsEmpty()) chosen = &m_normalImage;
    if (!chosen->IsEmpty()) DrawImage(hdc, *chosen);
    if (!m_sepImage.IsEmpty()) {
        RECT sep = GetSeparatorRect();
        OffsetRect(&sep, -m_item.left, -m_item.top);
        if (m_manager) m_manager->GetDpiScaler()->UnscaleRect(sep);
        m_sepModifier.Format(L"dest='%ld,%ld,%ld,%ld'", sep.left, sep.top, sep.right, sep.bottom);
        DrawImage(hdc, m_sepImage, m_sepModifier);
    }
    if (m_checkable) m_box.Paint(*this, hdc);
}

void CListContainerHeaderItemUI::PaintText(HDC hdc) {
    if (!m_manager) return;
    if (m_textColor == 0) m_textColor = m_manager->GetDefaultFontColor();
    const CUIString text = GetText();
    if (text.IsEmpty()) return;
    RECT padding = m_textPadding;
    m_manager->GetDpiScaler()->ScaleRect(padding);
    RECT rect = {m_item.left + padding.left, m_item.top + padding.top, m_item.right - padding.right,
                 m_item.bottom - padding.bottom};
    if (m_checkable) rect.left += ScaledBy(*this, m_box.width);
    if (m_showHtml) {
        int links = 0;
        CSkinRenderer::DrawHtmlText(hdc, m_manager, rect, text, m_textColor, nullptr, nullptr, links, m_font,
                                    m_textStyle | DT_SINGLELINE);
    } else {
        CSkinRenderer::DrawText(hdc, m_manager, rect, text, m_textColor, m_font, m_textStyle | DT_SINGLELINE);
    }
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
