// The option (selected state, named groups with one selected member) and
// the check box (toggles itself when auto-check is on).
#include <cwchar>
#include <new>

#include "Button.h"
#include "PaintManager.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {
DWORD ReadColorValue(const wchar_t* value) {
    if (*value == L'#') ++value;
    return static_cast<DWORD>(wcstoul(value, nullptr, 16));
}
bool Is(const wchar_t* name, const wchar_t* expected) { return CompareTextNoCase(name, expected) == 0; }
}  // namespace

COptionUI::COptionUI() = default;

COptionUI::~COptionUI() {
    if (!m_group.IsEmpty() && m_manager) m_manager->RemoveFromOptionGroup(m_group, this);
}

CControlUI* COptionUI::CreateOptionUI() { return new (std::nothrow) COptionUI; }

const wchar_t* COptionUI::GetClassTag() const { return L"Option"; }

void* COptionUI::FindInterface(const wchar_t* tag) {
    if (tag && Is(tag, L"Option")) return this;
    return CButtonUI::FindInterface(tag);
}

void COptionUI::AttachManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
    CControlUI::AttachManager(manager, parent, init);
    if (init && m_manager && !m_group.IsEmpty()) m_manager->AddToOptionGroup(m_group, this);
}

void COptionUI::SetGroup(const wchar_t* name) {
    if (name ? m_group == name : m_group.IsEmpty()) return;
    if (!m_group.IsEmpty() && m_manager) m_manager->RemoveFromOptionGroup(m_group, this);
    m_group = name ? name : L"";
    if (!m_group.IsEmpty() && m_manager) m_manager->AddToOptionGroup(m_group, this);
}

bool COptionUI::Activate() {
    if (!CButtonUI::Activate()) return false;
    if (!m_group.IsEmpty()) {
        SetSelected(true);
    } else {
        SetSelected(!m_selected);
    }
    return true;
}

void COptionUI::SetSelected(bool selected) { ChangeSelection(selected, 0); }

void COptionUI::ChangeSelection(bool selected, WPARAM notifyWParam) {
    if (m_selected == selected) return;
    m_selected = selected;
    if (selected) m_state |= ButtonSelected; else m_state &= ~ButtonSelected;
    if (m_manager) {
        if (m_group.IsEmpty()) {
            m_manager->SendNotification(this, L"selectchanged", notifyWParam);
        } else if (selected) {
            CPointerArray* group = m_manager->GetOptionGroup(m_group);
            // A copy: a member's change may touch the registry.
            CPointerArray members = group ? *group : CPointerArray();
            for (int i = 0; i < members.GetSize(); ++i) {
                CControlUI* member = static_cast<CControlUI*>(members.GetAt(i));
                if (member == this) continue;
                COptionUI* option = static_cast<COptionUI*>(member->FindInterface(L"Option"));
                if (option) option->SetSelected(false);
            }
            m_manager->SendNotification(this, L"selectchanged", notifyWParam);
        }
    }
    Invalidate();
}

void COptionUI::SetEnabled(bool enabled) {
    if (m_enabled != enabled) {
        m_enabled = enabled;
        Invalidate();
    }
    if (!enabled) m_state = m_selected ? static_cast<UINT>(ButtonSelected) : 0u;
}

void COptionUI::SetSelectedImage(const wchar_t* image) { m_selectedImage = image ? image : L""; Invalidate(); }
void COptionUI::SetSelectedHotImage(const wchar_t* image) { m_selectedHotImage = image ? image : L""; Invalidate(); }
void COptionUI::SetSelectedPushedImage(const wchar_t* image) {
    m_selectedPushedImage = image ? image : L"";
    Invalidate();
}
void COptionUI::SetSelectedForeImage(const wchar_t* image) { m_selectedForeImage = image ? image : L""; Invalidate(); }

const CUIString& COptionUI::GetSelectedStateImage() const { return m_selectedStateImage; }

void COptionUI::SetSelectedStateImage(const wchar_t* image) {
    m_selectedStateImage = image ? image : L"";
    Invalidate();
}

void COptionUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (Is(name, L"group")) SetGroup(value);
    else if (Is(name, L"selected")) SetSelected(ReadBool(value));
    else if (Is(name, L"selectedimage")) SetSelectedImage(value);
    else if (Is(name, L"selectedhotimage")) SetSelectedHotImage(value);
    else if (Is(name, L"selectedpushedimage")) SetSelectedPushedImage(value);
    else if (Is(name, L"selectedforeimage")) SetSelectedForeImage(value);
    else if (Is(name, L"selectedstateimage")) SetSelectedStateImage(value);
    else if (Is(name, L"selectedstatecount")) {
        m_selectedStateCount = _wtoi(value);
        Invalidate();
    } else if (Is(name, L"selectedbkcolor")) m_selectedBkColor = ReadColorValue(value);
    else if (Is(name, L"selectedtextcolor")) m_selectedTextColor = ReadColorValue(value);
    else if (Is(name, L"selectedfont")) {
        m_selectedFont = _wtoi(value);
        Invalidate();
    } else {
        CButtonUI::SetAttribute(name, value);
    }
}

void COptionUI::PaintBackgroundColor(HDC hdc) {
    if (!m_selected) {
        CButtonUI::PaintBackgroundColor(hdc);
        return;
    }
    if (m_selectedBkColor != 0) {
        CSkinRenderer::FillColor(hdc, m_paintRect, m_colorHsl ? ApplyHslAdjust(m_selectedBkColor) : m_selectedBkColor);
    }
}

void COptionUI::PaintStateImage(HDC hdc) {
    if (!m_selected) {
        CButtonUI::PaintStateImage(hdc);
        return;
    }
    if (m_selectedStateCount > 0 && !m_selectedStateImage.IsEmpty() && m_selectedImage.IsEmpty()) {
        CUIString frames[4];
        if (CutStateStrip(m_selectedStateImage, m_selectedStateCount, frames)) {
            m_selectedImage = frames[0];
            if (m_selectedStateCount >= 2) m_selectedHotImage = m_selectedPushedImage = frames[1];
            if (m_selectedStateCount >= 3) m_selectedPushedImage = frames[2];
        }
    }
    const CUIString* chosen = nullptr;
    if ((m_state & ButtonPushed) && !m_selectedPushedImage.IsEmpty()) chosen = &m_selectedPushedImage;
    else if ((m_state & ButtonHot) && !m_selectedHotImage.IsEmpty()) chosen = &m_selectedHotImage;
    if (chosen && DrawImage(hdc, *chosen)) return;
    if (!m_selectedImage.IsEmpty()) DrawImage(hdc, m_selectedImage);
}

void COptionUI::PaintForegroundImage(HDC hdc) {
    if (m_selected && !m_selectedForeImage.IsEmpty() && DrawImage(hdc, m_selectedForeImage)) return;
    CButtonUI::PaintForegroundImage(hdc);
}

void COptionUI::PaintText(HDC hdc) {
    if (!m_selected) {
        CButtonUI::PaintText(hdc);
        return;
    }
    TakeDefaultTextColors();
    const DWORD text = m_selectedTextColor != 0 ? m_selectedTextColor : m_textColor;
    DrawCaption(hdc, IsEnabled() ? text : m_disabledTextColor, m_selectedFont != -1 ? m_selectedFont : m_font);
}

// ------------------------------------------------------------------ check box

CControlUI* CCheckBoxUI::CreateCheckBoxUI() { return new (std::nothrow) CCheckBoxUI; }

const wchar_t* CCheckBoxUI::GetClassTag() const { return L"CheckBox"; }

void* CCheckBoxUI::FindInterface(const wchar_t* tag) {
    if (tag && (Is(tag, L"CheckBox") || Is(tag, L"Option"))) return this;
    return CButtonUI::FindInterface(tag);
}

void CCheckBoxUI::SetSelected(bool selected) { ChangeSelection(selected, selected ? 1 : 0); }

void CCheckBoxUI::HandleEvent(ControlEvent& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.type)) {
        if (m_parent) {
            m_parent->HandleEvent(event);
        } else {
            CButtonUI::HandleEvent(event);
        }
        return;
    }
    if (m_autoCheck && (event.type == EventButtonDown || event.type == EventDoubleClick)) {
        if (PtInRect(&m_item, event.mouse) && IsEnabled()) {
            SetSelected(!m_selected);
            if (m_manager) m_manager->SendNotification(this, L"checkclick");
            Invalidate();
        }
        return;
    }
    CButtonUI::HandleEvent(event);
}

void CCheckBoxUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (Is(name, L"EnableAutoCheck")) {
        m_autoCheck = ReadBool(value);
    } else {
        COptionUI::SetAttribute(name, value);
    }
}

}  // namespace Veneer
