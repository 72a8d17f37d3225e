// The attribute vocabulary every control understands and the seven paint
// steps every control runs.
#include <cwchar>

#include "Control.h"
#include "PaintManager.h"
#include "SkinRenderer.h"

namespace Veneer {

// Up to count numbers separated by one character each; numbers the value
// does not hold are 0, and nothing is read past its end.
void ReadIntList(const wchar_t* value, long* out, int count) {
    const wchar_t* p = value;
    for (int i = 0; i < count; ++i) {
        out[i] = 0;
        if (!p || !*p) continue;
        wchar_t* end = nullptr;
        out[i] = wcstol(p, &end, 10);
        p = end;
        if (*p) ++p;
    }
}

void ReadDoubleList(const wchar_t* value, double* out, int count) {
    const wchar_t* p = value;
    for (int i = 0; i < count; ++i) {
        out[i] = 0.0;
        if (!p || !*p) continue;
        wchar_t* end = nullptr;
        out[i] = wcstod(p, &end);
        p = end;
        if (*p) ++p;
    }
}

bool ReadBool(const wchar_t* value) { return CompareTextNoCase(value, L"true") == 0; }

namespace {

const int kMaxStyleDepth = 16;


DWORD ReadColor(const wchar_t* value) {
    while (*value && *value <= L' ') ++value;
    if (*value == L'#') ++value;
    return static_cast<DWORD>(wcstoul(value, nullptr, 16));
}

struct CursorName {
    const wchar_t* name;
    WORD id;
};
const CursorName kCursors[] = {
    {L"arrow", 32512},  {L"ibeam", 32513},    {L"wait", 32514},     {L"cross", 32515},  {L"uparrow", 32516},
    {L"size", 32640},   {L"icon", 32641},     {L"sizenwse", 32642}, {L"sizenesw", 32643}, {L"sizewe", 32644},
    {L"sizens", 32645}, {L"sizeall", 32646},  {L"no", 32648},       {L"hand", 32649},
};

// Parses name="value" pairs and hands each to the sink; stops at the first
// malformed pair.
template <typename Sink>
void ParseAttributeList(const CUIString& list, Sink sink) {
    const wchar_t* p = list.GetData();
    while (*p) {
        const wchar_t* eq = p;
        while (*eq && *eq != L'=') ++eq;
        if (*eq != L'=' || eq[1] != L'"') return;
        CUIString name(p, static_cast<int>(eq - p));
        const wchar_t* start = eq + 2;
        const wchar_t* end = start;
        while (*end && *end != L'"') ++end;
        if (*end != L'"') return;
        CUIString value(start, static_cast<int>(end - start));
        sink(name, value);
        p = end + 1;
        while (*p == L' ' || *p == L',') ++p;
    }
}

}  // namespace

bool CControlUI::ApplyStyleNamed(const wchar_t* value) {
    if (!m_manager || !value || !*value) return false;
    // Styles may name styles; past a depth limit (a style that names itself,
    // for one) the value is taken literally.
    if (m_styleDepth >= kMaxStyleDepth) return false;
    const wchar_t* style = m_manager->GetStyle(value);
    if (!style) return false;
    const CUIString copy = style;
    ++m_styleDepth;
    ApplyAttributeString(copy);
    --m_styleDepth;
    return true;
}

void CControlUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (ApplyStyleNamed(value)) return;
    auto is = [name](const wchar_t* n) { return CompareTextNoCase(name, n) == 0; };
    if (is(L"pos")) {
        long v[4];
        ReadIntList(value, v, 4);
        SetFixedXY(v[0] < 0 ? v[2] : v[0], v[1] < 0 ? v[3] : v[1]);
        SetFixedWidth(v[2] - v[0]);
        SetFixedHeight(v[3] - v[1]);
    } else if (is(L"float")) {
        if (wcschr(value, L',')) {
            double v[4];
            ReadDoubleList(value, v, 4);
            SetFloatPercent(v[0], v[1], v[2], v[3]);
            SetFloat(true);
        } else {
            SetFloat(ReadBool(value));
        }
    } else if (is(L"floatalign")) {
        UINT bits = m_floatAlign;
        CUIString words = value;
        int start = 0;
        const int length = words.GetLength();
        while (start <= length) {
            int end = start;
            while (end < length && words[end] != L',' && words[end] != L' ') ++end;
            CUIString word = words.Mid(start, end - start);
            if (word == L"null") bits = 0;
            else if (word == L"left") bits = (bits & ~3u);
            else if (word == L"center") bits = (bits & ~3u) | 1;
            else if (word == L"right") bits = (bits & ~3u) | 2;
            else if (word == L"top") bits = (bits & ~12u);
            else if (word == L"vcenter") bits = (bits & ~12u) | 4;
            else if (word == L"bottom") bits = (bits & ~12u) | 8;
            start = end + 1;
        }
        SetFloatAlign(bits);
    } else if (is(L"padding")) {
        long v[4];
        ReadIntList(value, v, 4);
        SetPadding(v[0], v[1], v[2], v[3]);
    } else if (is(L"gradient")) {
        SetGradient(value);
    } else if (is(L"bkcolor") || is(L"bkcolor1")) {
        SetBkColor(ReadColor(value));
    } else if (is(L"bkcolor2") || is(L"bkcolor3") || is(L"forecolor") || is(L"bordercolor") ||
               is(L"focusbordercolor")) {
        DWORD& field = is(L"bkcolor2")      ? m_bkColor2
                       : is(L"bkcolor3")    ? m_bkColor3
                       : is(L"forecolor")   ? m_foreColor
                       : is(L"bordercolor") ? m_borderColor
                                            : m_focusBorderColor;
        const DWORD color = ReadColor(value);
        if (field != color) {
            field = color;
            Invalidate();
        }
    } else if (is(L"colorhsl")) {
        const bool on = ReadBool(value);
        if (m_colorHsl != on) {
            m_colorHsl = on;
            Invalidate();
        }
    } else if (is(L"bordersize")) {
        if (wcschr(value, L',')) {
            long v[4];
            ReadIntList(value, v, 4);
            SetBorderSides(v[0], v[1], v[2], v[3]);
        } else {
            const int size = static_cast<int>(wcstol(value, nullptr, 10));
            if (m_borderSize != size) {
                m_borderSize = size;
                Invalidate();
            }
            SetBorderSides(0, 0, 0, 0);
        }
    } else if (is(L"leftbordersize") || is(L"topbordersize") || is(L"rightbordersize") ||
               is(L"bottombordersize")) {
        LONG& side = is(L"leftbordersize")  ? m_borderSides.left
                     : is(L"topbordersize") ? m_borderSides.top
                     : is(L"rightbordersize") ? m_borderSides.right
                                              : m_borderSides.bottom;
        side = wcstol(value, nullptr, 10);
        Invalidate();
    } else if (is(L"borderstyle")) {
        m_borderStyle = static_cast<int>(wcstol(value, nullptr, 10));
        Invalidate();
    } else if (is(L"borderround")) {
        long v[2];
        ReadIntList(value, v, 2);
        m_borderRound = SIZE{v[0], v[1]};
        Invalidate();
    } else if (is(L"bkimage")) {
        SetBackgroundImage(value);
    } else if (is(L"foreimage")) {
        SetForegroundImage(value);
    } else if (is(L"width")) {
        SetFixedWidth(static_cast<int>(wcstol(value, nullptr, 10)));
    } else if (is(L"height")) {
        SetFixedHeight(static_cast<int>(wcstol(value, nullptr, 10)));
    } else if (is(L"minwidth")) {
        SetMinWidth(static_cast<int>(wcstol(value, nullptr, 10)));
    } else if (is(L"minheight")) {
        SetMinHeight(static_cast<int>(wcstol(value, nullptr, 10)));
    } else if (is(L"maxwidth")) {
        SetMaxWidth(static_cast<int>(wcstol(value, nullptr, 10)));
    } else if (is(L"maxheight")) {
        SetMaxHeight(static_cast<int>(wcstol(value, nullptr, 10)));
    } else if (is(L"name")) {
        SetName(value);
    } else if (is(L"drag")) {
        SetDragEnabled(ReadBool(value));
    } else if (is(L"drop")) {
        SetDropEnabled(ReadBool(value));
    } else if (is(L"resourcetext")) {
        SetResourceText(ReadBool(value));
    } else if (is(L"tooltiprestext")) {
        SetResourceToolTip(ReadBool(value));
    } else if (is(L"text")) {
        SetText(value);
    } else if (is(L"tooltip")) {
        SetToolTip(value);
    } else if (is(L"userdata")) {
        SetUserData(value);
    } else if (is(L"enabled")) {
        SetEnabled(ReadBool(value));
    } else if (is(L"mouse")) {
        SetMouseEnabled(ReadBool(value));
    } else if (is(L"keyboard")) {
        SetKeyboardEnabled(ReadBool(value));
    } else if (is(L"visible")) {
        SetVisible(ReadBool(value));
    } else if (is(L"shortcut")) {
        SetShortcut(value[0]);
    } else if (is(L"menu")) {
        SetMenuEnabled(ReadBool(value));
    } else if (is(L"cursor")) {
        for (const CursorName& cursor : kCursors) {
            if (CompareTextNoCase(value, cursor.name) == 0) {
                SetCursor(cursor.id);
                break;
            }
        }
    } else if (is(L"virtualwnd")) {
        SetVirtualWnd(value);
    } else if (is(L"innerstyle")) {
        CUIString list = value;
        list.Replace(L"&quot;", L"\"");
        ParseAttributeList(list, [this](const CUIString& n, const CUIString& v) { SetAttribute(n, v); });
    }
}

void CControlUI::ApplyAttributeString(const wchar_t* text) {
    if (!text) return;
    if (ApplyStyleNamed(text)) return;
    CUIString list = text;
    list.Replace(L"&quot;", L"\"");
    ParseAttributeList(list, [this](const CUIString& n, const CUIString& v) { SetAttribute(n, v); });
}

bool CControlUI::DrawImage(HDC hdc, const wchar_t* image, const wchar_t* modifier) {
    if (!m_manager || !hdc) return false;
    ImageDrawSpec* spec = m_manager->GetImageDrawSpec(image, modifier);
    return CSkinRenderer::DrawImageSpec(spec, m_item, hdc, m_manager, m_paintRect);
}

DWORD CControlUI::ApplyHslAdjust(DWORD color) const {
    return CSkinRenderer::ShiftColorHsl(color, 180, 100, 100);
}

void CControlUI::SetGradient(const wchar_t* text) {
    if (m_gradient == (text ? text : L"")) return;
    m_gradient = text ? text : L"";
    Invalidate();
}

void CControlUI::SetBkColor(DWORD color) {
    if (m_bkColor == color) return;
    m_bkColor = color;
    Invalidate();
}

void CControlUI::SetBackgroundImage(const wchar_t* image) {
    if (m_bkImage == (image ? image : L"")) return;
    m_bkImage = image ? image : L"";
    Invalidate();
}

void CControlUI::SetForegroundImage(const wchar_t* image) {
    if (m_foreImage == (image ? image : L"")) return;
    m_foreImage = image ? image : L"";
    Invalidate();
}

int CControlUI::GetBorderSize() const { return Scaled(m_borderSize); }
SIZE CControlUI::GetBorderRound() const { return SIZE{Scaled(m_borderRound.cx), Scaled(m_borderRound.cy)}; }

void CControlUI::SetBorderSides(int left, int top, int right, int bottom) {
    m_borderSides = RECT{left, top, right, bottom};
    Invalidate();
}

// ------------------------------------------------------------------ painting

void CControlUI::Paint(HDC hdc, const RECT& paint) {
    if (!IntersectRect(&m_paintRect, &paint, &m_item)) return;
    const SIZE round = GetBorderRound();
    CClipScope clip;
    if (round.cx > 0 || round.cy > 0) CClipScope::ClipToRoundRect(hdc, m_paintRect, m_item, round.cx, round.cy, clip);
    PaintBackgroundColor(hdc);
    PaintBackgroundImage(hdc);
    PaintStateImage(hdc);
    PaintForegroundColor(hdc);
    PaintForegroundImage(hdc);
    PaintText(hdc);
    PaintBorder(hdc);
}

void CControlUI::PaintBackgroundColor(HDC hdc) {
    if (m_bkColor == 0) return;
    const bool vertical = CompareTextNoCase(m_gradient, L"hor") != 0;
    auto color = [this](DWORD c) { return m_colorHsl ? ApplyHslAdjust(c) : c; };
    if (m_bkColor2 != 0 && m_bkColor3 != 0) {
        RECT upper = m_item, lower = m_item;
        upper.bottom = lower.top = (m_item.top + m_item.bottom) / 2;
        CSkinRenderer::DrawGradient(hdc, upper, color(m_bkColor), color(m_bkColor2), vertical, 8);
        CSkinRenderer::DrawGradient(hdc, lower, color(m_bkColor2), color(m_bkColor3), vertical, 8);
    } else if (m_bkColor2 != 0) {
        CSkinRenderer::DrawGradient(hdc, m_item, color(m_bkColor), color(m_bkColor2), vertical, 16);
    } else if ((m_bkColor >> 24) == 0xFF) {
        CSkinRenderer::FillColor(hdc, m_paintRect, color(m_bkColor));
    } else {
        CSkinRenderer::FillColor(hdc, m_item, color(m_bkColor));
    }
}

void CControlUI::PaintBackgroundImage(HDC hdc) {
    if (!m_bkImage.IsEmpty() && m_manager) DrawImage(hdc, m_bkImage);
}

void CControlUI::PaintStateImage(HDC) {}

void CControlUI::PaintForegroundColor(HDC hdc) {
    CSkinRenderer::FillColor(hdc, m_item, m_colorHsl ? ApplyHslAdjust(m_foreColor) : m_foreColor);
}

void CControlUI::PaintForegroundImage(HDC hdc) {
    if (!m_foreImage.IsEmpty() && m_manager) DrawImage(hdc, m_foreImage);
}

void CControlUI::PaintText(HDC) {}

void CControlUI::PaintBorder(HDC hdc) {
    const int size = GetBorderSize();
    const SIZE round = GetBorderRound();
    RECT sides = m_borderSides;
    if (m_manager) m_manager->GetDpiScaler()->ScaleRect(sides);
    if (m_borderColor == 0 && m_focusBorderColor == 0) return;
    auto color = [this](DWORD c) { return m_colorHsl ? ApplyHslAdjust(c) : c; };
    const bool focusColor = IsFocused() && m_focusBorderColor != 0;
    if (size >= 1 && (round.cx >= 1 || round.cy >= 1)) {
        CSkinRenderer::DrawRoundRect(hdc, m_item, size, round.cx, round.cy,
                                     color(focusColor ? m_focusBorderColor : m_borderColor), m_borderStyle);
        return;
    }
    if (focusColor && size > 0) {
        CSkinRenderer::DrawRect(hdc, m_item, size, color(m_focusBorderColor), m_borderStyle);
        return;
    }
    const DWORD c = color(m_borderColor);
    if (sides.left > 0) {
        const int x = m_item.left + sides.left / 2;
        CSkinRenderer::DrawLine(hdc, RECT{x, m_item.top, x, m_item.bottom}, sides.left, c, m_borderStyle);
    } else if (sides.top < 1 && sides.right < 1 && sides.bottom < 1) {
        if (size >= 1) CSkinRenderer::DrawRect(hdc, m_item, size, c, m_borderStyle);
        return;
    }
    if (sides.top > 0) {
        const int y = m_item.top + sides.top / 2;
        CSkinRenderer::DrawLine(hdc, RECT{m_item.left, y, m_item.right, y}, sides.top, c, m_borderStyle);
    }
    if (sides.right > 0) {
        const int x = m_item.right - (sides.right + 1) / 2;
        CSkinRenderer::DrawLine(hdc, RECT{x, m_item.top, x, m_item.bottom}, sides.right, c, m_borderStyle);
    }
    if (sides.bottom > 0) {
        const int y = m_item.bottom - (sides.bottom + 1) / 2;
        CSkinRenderer::DrawLine(hdc, RECT{m_item.left, y, m_item.right, y}, sides.bottom, c, m_borderStyle);
    }
}

}  // namespace Veneer
