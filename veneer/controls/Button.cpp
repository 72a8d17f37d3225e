// The push button: input to state bits, "click", "dbclick" and "menu", the
// state pictures, colours and fonts, and the bound tab page.
#include "Button.h"

#include <cwchar>
#include <new>

#include "PaintManager.h"
#include "SkinRenderer.h"
#include "TabTileLayout.h"

namespace Veneer {

namespace {
DWORD ReadColorValue(const wchar_t* value) {
    if (*value == L'#') ++value;
    return static_cast<DWORD>(wcstoul(value, nullptr, 16));
}
bool Is(const wchar_t* name, const wchar_t* expected) { return CompareTextNoCase(name, expected) == 0; }
}  // namespace

CButtonUI::CButtonUI() { m_textStyle = DT_CENTER | DT_VCENTER | DT_SINGLELINE; }
CButtonUI::~CButtonUI() = default;

CControlUI* CButtonUI::CreateButtonUI() { return new (std::nothrow) CButtonUI; }

const wchar_t* CButtonUI::GetClassTag() const { return L"Button"; }

void* CButtonUI::FindInterface(const wchar_t* tag) {
    if (tag && Is(tag, L"Button")) return this;
    return CLabelUI::FindInterface(tag);
}

UINT CButtonUI::GetBehaviorFlags() const { return (IsKeyboardEnabled() ? 1u : 0u) | (IsEnabled() ? 2u : 0u); }

bool CButtonUI::Activate() {
    if (!CControlUI::Activate()) return false;
    if (m_manager) {
        m_manager->SendNotification(this, L"click");
        SwitchBoundTab();
    }
    return true;
}

void CButtonUI::SwitchBoundTab() {
    if (m_bindTabIndex < 0 || !m_manager || !m_manager->GetRoot()) return;
    CControlUI* found = m_manager->FindControlByName(m_bindTabLayoutName);
    if (!found) return;
    // Only a tab layout is switched; another control of that name is left alone.
    CTabLayoutUI* tab = static_cast<CTabLayoutUI*>(found->FindInterface(L"TabLayout"));
    if (tab) tab->SelectItem(m_bindTabIndex);
}

void CButtonUI::SetEnabled(bool enabled) {
    if (m_enabled != enabled) {
        m_enabled = enabled;
        Invalidate();
    }
    if (!enabled) m_state = 0;
}

void CButtonUI::HandleEvent(ControlEvent& event) {
    if (!IsMouseEnabled() && IsMouseEvent(event.type)) {
        if (m_parent) {
            m_parent->HandleEvent(event);
        } else {
            CLabelUI::HandleEvent(event);
        }
        return;
    }
    switch (event.type) {
    case EventSetFocus:
    case EventKillFocus:
        Invalidate();
        break;
    case EventKeyDown:
        if (IsKeyboardEnabled() && (event.key == VK_SPACE || event.key == VK_RETURN)) {
            Activate();
            return;
        }
        break;
    case EventButtonDown:
    case EventDoubleClick:
        if (PtInRect(&m_item, event.mouse) && IsEnabled()) {
            m_state |= ButtonPushed | ButtonCaptured;
            Invalidate();
            if (event.type == EventDoubleClick && m_manager) {
                m_manager->SendNotification(this, L"dbclick", event.wParam, event.lParam);
            }
        }
        return;
    case EventMouseMove:
        if (m_state & ButtonCaptured) {
            if (PtInRect(&m_item, event.mouse)) {
                m_state |= ButtonPushed;
            } else {
                m_state &= ~ButtonPushed;
            }
            Invalidate();
        }
        return;
    case EventButtonUp:
        if (m_state & ButtonCaptured) {
            m_state &= ~(ButtonPushed | ButtonCaptured);
            Invalidate();
            if (PtInRect(&m_item, event.mouse)) Activate();
        }
        return;
    case EventContextMenu:
        if (IsMenuEnabled() && m_manager) m_manager->SendNotification(this, L"menu", event.wParam, event.lParam);
        return;
    case EventMouseEnter:
        if (IsEnabled()) {
            m_state |= ButtonHot;
            Invalidate();
        }
        break;
    case EventMouseLeave:
        if (IsEnabled()) {
            m_state &= ~ButtonHot;
            Invalidate();
        }
        break;
    default:
        break;
    }
    CLabelUI::HandleEvent(event);
}

// ------------------------------------------------------------------ attributes

void CButtonUI::SetNormalImage(const wchar_t* image) { m_normalImage = image ? image : L""; Invalidate(); }
void CButtonUI::SetHotImage(const wchar_t* image) { m_hotImage = image ? image : L""; Invalidate(); }
void CButtonUI::SetPushedImage(const wchar_t* image) { m_pushedImage = image ? image : L""; Invalidate(); }
void CButtonUI::SetFocusedImage(const wchar_t* image) { m_focusedImage = image ? image : L""; Invalidate(); }
void CButtonUI::SetDisabledImage(const wchar_t* image) { m_disabledImage = image ? image : L""; Invalidate(); }
void CButtonUI::SetHotForeImage(const wchar_t* image) { m_hotForeImage = image ? image : L""; Invalidate(); }

const CUIString& CButtonUI::GetStateImage() const { return m_stateImage; }

void CButtonUI::SetStateImage(const wchar_t* image) {
    // The frames are cut anew at the next paint.
    m_normalImage.Empty();
    m_stateImage = image ? image : L"";
    Invalidate();
}

void CButtonUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (Is(name, L"normalimage")) SetNormalImage(value);
    else if (Is(name, L"hotimage")) SetHotImage(value);
    else if (Is(name, L"pushedimage")) SetPushedImage(value);
    else if (Is(name, L"focusedimage")) SetFocusedImage(value);
    else if (Is(name, L"disabledimage")) SetDisabledImage(value);
    else if (Is(name, L"hotforeimage")) SetHotForeImage(value);
    else if (Is(name, L"stateimage")) SetStateImage(value);
    else if (Is(name, L"statecount")) {
        m_stateCount = _wtoi(value);
        Invalidate();
    } else if (Is(name, L"bindtabindex")) {
        const int index = _wtoi(value);
        if (index >= 0) m_bindTabIndex = index;
    } else if (Is(name, L"bindtablayoutname")) {
        m_bindTabLayoutName = value;
    } else if (Is(name, L"hotbkcolor")) m_hotBkColor = ReadColorValue(value);
    else if (Is(name, L"pushedbkcolor")) m_pushedBkColor = ReadColorValue(value);
    else if (Is(name, L"hottextcolor")) m_hotTextColor = ReadColorValue(value);
    else if (Is(name, L"pushedtextcolor")) m_pushedTextColor = ReadColorValue(value);
    else if (Is(name, L"focusedtextcolor")) m_focusedTextColor = ReadColorValue(value);
    else if (Is(name, L"hotfont") || Is(name, L"pushedfont") || Is(name, L"focuedfont")) {
        int& font = Is(name, L"hotfont") ? m_hotFont : Is(name, L"pushedfont") ? m_pushedFont : m_focusedFont;
        font = _wtoi(value);
        Invalidate();
    } else {
        CLabelUI::SetAttribute(name, value);
    }
}

// ------------------------------------------------------------------ painting

void CButtonUI::RefreshFocusAndDisabled(bool windowCheck) {
    if (IsFocused()) m_state |= ButtonFocused; else m_state &= ~ButtonFocused;
    if (!IsEnabled()) m_state |= ButtonDisabled; else m_state &= ~ButtonDisabled;
    if (windowCheck && m_manager && m_manager->GetPaintWindow() && !IsWindowEnabled(m_manager->GetPaintWindow())) {
        m_state &= ButtonDisabled;
    }
}

bool CButtonUI::CutStateStrip(const CUIString& strip, int count, CUIString frames[4]) {
    if (!m_manager || count <= 0) return false;
    // The picture as this window loads it (its DPI variant) ...
    ImageDrawSpec* loaded = m_manager->GetImageDrawSpec(strip);
    if (!loaded || loaded->file.IsEmpty()) return false;
    LoadedImage* picture = m_manager->GetOrLoadImage(loaded->file, loaded->resourceType, loaded->mask);
    if (!picture) return false;
    const int w = picture->width / count;
    const int h = picture->height;
    if (w <= 0 || h <= 0) return false;
    // ... and the strings as written in a layout, since every draw reads
    // (scales, picks the DPI variant of) them again.
    ImageDrawSpec written;
    written.Parse(nullptr, strip, nullptr);
    const RECT& dest = written.dest;
    for (int i = 0; i < count && i < 4; ++i) {
        frames[i].Format(L"res='%ls' restype='%ls' dest='%ld,%ld,%ld,%ld' source='%d,%d,%d,%d'",
                         written.file.GetData(), written.resourceType.GetData(), dest.left, dest.top, dest.right,
                         dest.bottom, i * w, 0, (i + 1) * w, h);
    }
    return true;
}

void CButtonUI::PaintBackgroundColor(HDC hdc) {
    DWORD color = 0;
    if (m_state & ButtonPushed) color = m_pushedBkColor;
    else if (m_state & ButtonHot) color = m_hotBkColor;
    if (color != 0) {
        CSkinRenderer::FillColor(hdc, m_paintRect, m_colorHsl ? ApplyHslAdjust(color) : color);
        return;
    }
    CLabelUI::PaintBackgroundColor(hdc);
}

void CButtonUI::PaintStateImage(HDC hdc) {
    if (m_stateCount > 0 && !m_stateImage.IsEmpty() && m_normalImage.IsEmpty()) {
        CUIString frames[4];
        if (CutStateStrip(m_stateImage, m_stateCount, frames)) {
            m_normalImage = frames[0];
            if (m_stateCount >= 2) m_hotImage = m_pushedImage = frames[1];
            if (m_stateCount >= 3) m_pushedImage = frames[2];
            if (m_stateCount >= 4) m_disabledImage = frames[3];
        }
    }
    RefreshFocusAndDisabled(true);
    const CUIString* chosen = nullptr;
    if (m_state & ButtonDisabled) chosen = &m_disabledImage;
    else if (m_state & ButtonPushed) chosen = &m_pushedImage;
    else if (m_state & ButtonHot) chosen = &m_hotImage;
    else if (m_state & ButtonFocused) chosen = &m_focusedImage;
    if (chosen && !chosen->IsEmpty() && DrawImage(hdc, *chosen)) return;
    if (!m_normalImage.IsEmpty()) DrawImage(hdc, m_normalImage);
}

void CButtonUI::PaintForegroundImage(HDC hdc) {
    if ((m_state & ButtonHot) && !(m_state & ButtonPushed) && !m_hotForeImage.IsEmpty() &&
        DrawImage(hdc, m_hotForeImage)) {
        return;
    }
    CLabelUI::PaintForegroundImage(hdc);
}

void CButtonUI::TakeDefaultTextColors() {
    if (!m_manager) return;
    if (m_textColor == 0) m_textColor = m_manager->GetDefaultFontColor();
    if (m_disabledTextColor == 0) m_disabledTextColor = m_manager->GetDefaultDisabledColor();
}

void CButtonUI::DrawCaption(HDC hdc, DWORD color, int font) {
    const CUIString text = GetText();
    if (text.IsEmpty() || !m_manager) return;
    RECT rect = m_item;
    const RECT padding = GetTextPadding();
    rect.left += padding.left;
    rect.top += padding.top;
    rect.right -= padding.right;
    rect.bottom -= padding.bottom;
    if (m_showHtml) {
        int links = 0;
        CSkinRenderer::DrawHtmlText(hdc, m_manager, rect, text, color, nullptr, nullptr, links, font, m_textStyle);
    } else {
        CSkinRenderer::DrawText(hdc, m_manager, rect, text, color, font, m_textStyle);
    }
}

void CButtonUI::PaintText(HDC hdc) {
    RefreshFocusAndDisabled(false);
    TakeDefaultTextColors();
    DWORD color;
    int font = m_font;
    if ((m_state & ButtonPushed) && m_pushedTextColor != 0) {
        color = m_pushedTextColor;
    } else if ((m_state & ButtonHot) && m_hotTextColor != 0) {
        color = m_hotTextColor;
    } else if ((m_state & ButtonFocused) && m_focusedTextColor != 0) {
        color = m_focusedTextColor;
    } else {
        color = IsEnabled() ? m_textColor : m_disabledTextColor;
    }
    if ((m_state & ButtonPushed) && m_pushedFont != -1) font = m_pushedFont;
    else if ((m_state & ButtonHot) && m_hotFont != -1) font = m_hotFont;
    else if ((m_state & ButtonFocused) && m_focusedFont != -1) font = m_focusedFont;
    DrawCaption(hdc, color, font);
}

}  // namespace Veneer
