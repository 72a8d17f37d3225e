// The text side of the skin renderer: plain text through GDI or GDI+, the
// HTML-like markup of rich labels, lines and outlines, and the clip scope.
#include <algorithm>
#include <cwchar>
#include <vector>

#include <objidl.h>
#include <gdiplus.h>

#include "PaintManager.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {

COLORREF ColorRef(DWORD color) { return RGB((color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF); }

// The characters after "&#x" (at most four, less one trailing space or
// semicolon) as one UTF-16 character; false when there is no such reference.
bool ReadCharacterReference(const wchar_t* text, wchar_t* out) {
    const wchar_t* at = wcsstr(text, L"&#x");
    if (!at) return false;
    at += 3;
    wchar_t digits[5] = {};
    int count = 0;
    while (count < 4 && at[count] != L'\0') {
        digits[count] = at[count];
        ++count;
    }
    if (count > 0 && (digits[count - 1] == L' ' || digits[count - 1] == L';')) digits[--count] = L'\0';
    *out = static_cast<wchar_t>(wcstoul(digits, nullptr, 16));
    return true;
}

}  // namespace

// ------------------------------------------------------------------ clip scope

void CClipScope::ClipToRect(HDC hdc, const RECT& rect, CClipScope& scope) {
    RECT box = {};
    GetClipBox(hdc, &box);
    scope.m_saved = CreateRectRgnIndirect(&box);
    scope.m_region = CreateRectRgnIndirect(&rect);
    ExtSelectClipRgn(hdc, scope.m_region, RGN_AND);
    scope.m_hdc = hdc;
    scope.m_rect = rect;
}

void CClipScope::ClipToRoundRect(HDC hdc, const RECT& rect, const RECT& item, int width, int height,
                                 CClipScope& scope) {
    RECT box = {};
    GetClipBox(hdc, &box);
    scope.m_saved = CreateRectRgnIndirect(&box);
    scope.m_region = CreateRectRgnIndirect(&rect);
    HRGN round = CreateRoundRectRgn(item.left, item.top, item.right + 1, item.bottom + 1, width, height);
    CombineRgn(scope.m_region, scope.m_region, round, RGN_AND);
    DeleteObject(round);
    ExtSelectClipRgn(hdc, scope.m_region, RGN_AND);
    scope.m_hdc = hdc;
    scope.m_rect = rect;
}

CClipScope::~CClipScope() {
    if (m_hdc && m_saved) SelectClipRgn(m_hdc, m_saved);
    if (m_saved) DeleteObject(m_saved);
    if (m_region) DeleteObject(m_region);
}

// ------------------------------------------------------------------ primitives

namespace {
HPEN MakePen(int style, int width, DWORD color) {
    LOGPEN pen = {static_cast<UINT>(style), {width, 0}, ColorRef(color)};
    return CreatePenIndirect(&pen);
}
}  // namespace

void CSkinRenderer::DrawLine(HDC hdc, const RECT& rect, int width, DWORD color, int style) {
    HPEN pen = MakePen(style, width, color);
    HGDIOBJ old = SelectObject(hdc, pen);
    POINT previous;
    MoveToEx(hdc, rect.left, rect.top, &previous);
    LineTo(hdc, rect.right, rect.bottom);
    MoveToEx(hdc, previous.x, previous.y, nullptr);
    SelectObject(hdc, old);
    DeleteObject(pen);
}

void CSkinRenderer::DrawRect(HDC hdc, const RECT& rect, int width, DWORD color, int style) {
    HPEN pen = MakePen(style | PS_INSIDEFRAME, width, color);
    HGDIOBJ oldPen = SelectObject(hdc, pen);
    HGDIOBJ oldBrush = SelectObject(hdc, GetStockObject(NULL_BRUSH));
    Rectangle(hdc, rect.left, rect.top, rect.right, rect.bottom);
    SelectObject(hdc, oldBrush);
    SelectObject(hdc, oldPen);
    DeleteObject(pen);
}

void CSkinRenderer::DrawRoundRect(HDC hdc, const RECT& rect, int width, int cornerWidth, int cornerHeight,
                                  DWORD color, int style) {
    HPEN pen = MakePen(style | PS_INSIDEFRAME, width, color);
    HGDIOBJ oldPen = SelectObject(hdc, pen);
    HGDIOBJ oldBrush = SelectObject(hdc, GetStockObject(NULL_BRUSH));
    RoundRect(hdc, rect.left, rect.top, rect.right, rect.bottom, cornerWidth, cornerHeight);
    SelectObject(hdc, oldBrush);
    SelectObject(hdc, oldPen);
    DeleteObject(pen);
}

// ------------------------------------------------------------------ plain text

void CSkinRenderer::DrawText(HDC hdc, CPaintManagerUI* manager, RECT& rect, const wchar_t* text, DWORD color,
                             int font, UINT style) {
    if (!text || !manager || !hdc) return;
    HFONT handle = manager->GetFontHandle(font);
    if (!manager->IsLayeredMode() && !manager->IsUsingGdiplusText()) {
        SetBkMode(hdc, TRANSPARENT);
        SetTextColor(hdc, ColorRef(color));
        HGDIOBJ old = SelectObject(hdc, handle);
        wchar_t single = 0;
        if (ReadCharacterReference(text, &single)) {
            ::DrawTextW(hdc, &single, 1, &rect, style);
        } else {
            ::DrawTextW(hdc, text, -1, &rect, style);
        }
        SelectObject(hdc, old);
        return;
    }
    HGDIOBJ old = SelectObject(hdc, handle);
    {
        Gdiplus::Graphics graphics(hdc);
        Gdiplus::Font gdiFont(hdc, handle);
        const int hint = manager->GetGdiplusTextRenderingHint();
        graphics.SetTextRenderingHint(static_cast<Gdiplus::TextRenderingHint>(hint >= 1 && hint <= 5 ? hint : 0));
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);
        graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        Gdiplus::SolidBrush brush(
            Gdiplus::Color(254, (color >> 16) & 0xFF, (color >> 8) & 0xFF, color & 0xFF));
        Gdiplus::StringFormat* format = Gdiplus::StringFormat::GenericTypographic()->Clone();
        if (style & DT_END_ELLIPSIS) format->SetTrimming(Gdiplus::StringTrimmingEllipsisCharacter);
        INT flags = 0;
        if (style & DT_NOCLIP) flags |= Gdiplus::StringFormatFlagsNoClip;
        if (style & DT_SINGLELINE) flags |= Gdiplus::StringFormatFlagsNoWrap;
        format->SetFormatFlags(flags);
        format->SetAlignment((style & DT_CENTER)  ? Gdiplus::StringAlignmentCenter
                             : (style & DT_RIGHT) ? Gdiplus::StringAlignmentFar
                                                  : Gdiplus::StringAlignmentNear);
        format->SetLineAlignment((style & DT_VCENTER)  ? Gdiplus::StringAlignmentCenter
                                 : (style & DT_BOTTOM) ? Gdiplus::StringAlignmentFar
                                                       : Gdiplus::StringAlignmentNear);
        Gdiplus::RectF layout(static_cast<Gdiplus::REAL>(rect.left), static_cast<Gdiplus::REAL>(rect.top),
                              static_cast<Gdiplus::REAL>(rect.right - rect.left),
                              static_cast<Gdiplus::REAL>(rect.bottom - rect.top));
        if (style & DT_CALCRECT) {
            Gdiplus::RectF bounds;
            graphics.MeasureString(text, -1, &gdiFont, layout, format, &bounds);
            rect.right = rect.left + static_cast<LONG>(bounds.Width) + 1;
            rect.bottom = rect.top + static_cast<LONG>(bounds.Height) + 1;
        } else {
            graphics.DrawString(text, -1, &gdiFont, layout, format, &brush);
        }
        delete format;
    }
    SelectObject(hdc, old);
}

// ------------------------------------------------------------------ markup

namespace {

const int kMarkupRawEnd = 4;   // length of "</r>"

bool IsTagEnd(wchar_t ch) { return ch == L'>' || ch == L'}'; }

// What stands at p: a tag, an end tag, an escape, or plain text.
enum MarkupKind { kText, kTag, kEndTag, kEscape };

MarkupKind KindAt(const wchar_t* p) {
    if (*p != L'<' && *p != L'{') return kText;
    // Escapes: "<{>" "<}>" "{<}" "{>}".
    if (*p == L'<' && (p[1] == L'{' || p[1] == L'}') && p[2] == L'>') return kEscape;
    if (*p == L'{' && (p[1] == L'<' || p[1] == L'>') && p[2] == L'}') return kEscape;
    if (p[1] == L'/' && p[2] >= L'a' && p[2] <= L'z' && IsTagEnd(p[3])) return kEndTag;
    if (p[1] >= L'a' && p[1] <= L'z' && (p[2] == L' ' || IsTagEnd(p[2]))) {
        // The tag must end inside the text.
        for (const wchar_t* q = p + 2; *q; ++q) {
            if (IsTagEnd(*q)) return kTag;
        }
    }
    return kText;
}

bool IsRawEnd(const wchar_t* p) {
    return (p[0] == L'<' && p[1] == L'/' && p[2] == L'r' && p[3] == L'>') ||
           (p[0] == L'{' && p[1] == L'/' && p[2] == L'r' && p[3] == L'}');
}

struct MarkupState {
    const wchar_t* pos;
    std::vector<FontEntry*> fonts;
    std::vector<DWORD> colors;
    std::vector<int> spacings;
    bool inLink = false;
    bool selected = false;
    bool raw = false;
    int linkIndex = 0;     // next free link slot
    POINT linkStart = {};
};

class MarkupPainter {
public:
    MarkupPainter(HDC hdc, CPaintManagerUI* manager, RECT& rect, DWORD color, RECT* links, CUIString* linkTexts,
                  int capacity, int font, UINT style)
        : m_hdc(hdc), m_manager(manager), m_rect(rect), m_color(color), m_links(links), m_linkTexts(linkTexts),
          m_capacity(links && linkTexts ? capacity : 0), m_style(style) {
        m_base = manager->GetFontEntry(font);
        if (!m_base || !m_base->font) m_base = manager->GetDefaultFontEntry();
        m_draw = (style & DT_CALCRECT) == 0;
    }

    int Run(const wchar_t* text, const wchar_t* hoverLink);

private:
    FontEntry* Font(const MarkupState& s) const { return s.fonts.empty() ? m_base : s.fonts.back(); }
    int FontHeight(const MarkupState& s) const {
        const TEXTMETRICW& tm = Font(s)->metrics;
        return tm.tmHeight + tm.tmExternalLeading;
    }
    int Spacing(const MarkupState& s) const { return s.spacings.empty() ? 0 : s.spacings.back(); }
    void SelectFont(MarkupState& s) {
        SelectObject(m_hdc, Font(s)->font);
        m_lineHeight = std::max(m_lineHeight, FontHeight(s) + Spacing(s));
    }
    void PushVariant(MarkupState& s, const wchar_t* face, int size, bool bold, bool underline, bool italic,
                     bool ofCurrent = true);
    void PopFont(MarkupState& s);
    void Select(MarkupState& s) {
        SetTextColor(m_hdc, ColorRef(s.colors.empty() ? m_color : s.colors.back()));
        SetBkMode(m_hdc, s.selected ? OPAQUE : TRANSPARENT);
    }
    // Lays out one line from s; draws it when drawing is true.
    void Line(MarkupState& s, bool drawing, bool* forcedEnd);
    bool Tag(MarkupState& s, bool drawing, bool* lineEnd);
    void EndTag(MarkupState& s, wchar_t letter, bool drawing, bool* lineEnd);
    void TextRun(MarkupState& s, bool drawing, bool* lineEnd);
    void LineBreakIfNotEmpty(bool* lineEnd) {
        if (m_x > m_rect.left) *lineEnd = true;
    }
    void NoteLinkEnd(MarkupState& s) {
        if (m_drawingPass) return;   // the measuring pass placed the links
        if (s.linkIndex < m_capacity) {
            m_links[s.linkIndex] = RECT{s.linkStart.x, m_y, m_x, m_y + FontHeight(s)};
            ++s.linkIndex;
        }
    }
    bool Image(MarkupState& s, const wchar_t* args, int length, bool drawing);

    HDC m_hdc;
    CPaintManagerUI* m_manager;
    RECT& m_rect;
    DWORD m_color;
    RECT* m_links;
    CUIString* m_linkTexts;
    int m_capacity;
    UINT m_style;
    FontEntry* m_base;
    bool m_draw;
    CUIString m_hover;
    int m_x = 0, m_y = 0, m_lineHeight = 0, m_maxX = 0, m_imageBottom = 0;
    int m_lineFirstLink = 0;
    bool m_drawingPass = false;
};

void MarkupPainter::PushVariant(MarkupState& s, const wchar_t* face, int size, bool bold, bool underline,
                                bool italic, bool ofCurrent) {
    HFONT font = m_manager->FindFont(face, size, bold, underline, italic);
    if (!font) {
        // A style variant keeps the current font's own height; a named face
        // is sized like a declared font.
        font = ofCurrent ? m_manager->AddVariantFontOf(Font(s), bold, underline, italic)
                         : m_manager->AddVariantFont(face, size, bold, underline, italic);
    }
    FontEntry* entry = font ? m_manager->GetFontEntryByHandle(font) : nullptr;
    s.fonts.push_back(entry && entry->font ? entry : Font(s));
    SelectFont(s);
}

void MarkupPainter::PopFont(MarkupState& s) {
    // An end tag never pops past the base font.
    if (s.fonts.empty()) return;
    const bool wasItalic = Font(s)->italic;
    s.fonts.pop_back();
    SelectFont(s);
    if (wasItalic && !Font(s)->italic) {
        ABC abc = {};
        if (GetCharABCWidthsW(m_hdc, L' ', L' ', &abc)) m_x += static_cast<int>(abc.abcC) / 2;
    }
}

bool MarkupPainter::Image(MarkupState& s, const wchar_t* args, int length, bool drawing) {
    CUIString text(args, length);
    CUIString name;
    int count = 1, index = 0;
    const int quote = text.Find(L"file='") >= 0 ? text.Find(L"file='") : text.Find(L"res='");
    CUIString resourceType;
    if (quote >= 0) {
        const int start = text.FindChar(L'\'', quote) + 1;
        const int end = text.FindChar(L'\'', start);
        if (end < 0) return true;
        name = text.Mid(start, end - start);
        const int typeAt = text.Find(L"restype='");
        if (typeAt >= 0) {
            const int ts = typeAt + 9, te = text.FindChar(L'\'', ts);
            if (te > ts) resourceType = text.Mid(ts, te - ts);
        }
        const wchar_t* rest = text.GetData() + end + 1;
        while (*rest == L' ') ++rest;
        wchar_t* next = nullptr;
        if (*rest) {
            count = static_cast<int>(wcstol(rest, &next, 10));
            if (next && *next) index = static_cast<int>(wcstol(next, nullptr, 10));
        }
    } else {
        int space = text.FindChar(L' ');
        name = space < 0 ? text : text.Left(space);
        if (space >= 0) {
            wchar_t* next = nullptr;
            count = static_cast<int>(wcstol(text.GetData() + space, &next, 10));
            if (next && *next) index = static_cast<int>(wcstol(next, nullptr, 10));
        }
    }
    if (count < 1) count = 1;
    if (index < 0 || index >= count) index = 0;
    LoadedImage* image =
        m_manager->GetOrLoadImage(name, resourceType.IsEmpty() ? nullptr : resourceType.GetData(), 0, false);
    if (!image) return true;
    const int frame = image->width / count;
    if (m_x + frame > m_rect.right && m_x > m_rect.left && !(m_style & DT_SINGLELINE)) return false;
    const int height = image->height;
    if (drawing) {
        int top = m_y + m_lineHeight - height;
        if (height < m_lineHeight) top = m_y + (m_lineHeight - height) / 2;
        const RECT dest = {m_x, top, m_x + frame, top + height};
        const RECT source = {frame * index, 0, frame * (index + 1), height};
        const RECT none = {0, 0, 0, 0};
        CSkinRenderer::DrawImage(source, m_hdc, image->bitmap, dest, m_rect, none, image->hasAlpha, 255, false,
                                 false, false, 100);
    }
    m_lineHeight = std::max(m_lineHeight, height);
    m_imageBottom = std::max(m_imageBottom, m_y + height);
    m_x += frame;
    (void)s;
    return true;
}

bool MarkupPainter::Tag(MarkupState& s, bool drawing, bool* lineEnd) {
    const wchar_t* p = s.pos;
    const wchar_t letter = p[1];
    const wchar_t* args = p + 2;
    while (*args == L' ') ++args;
    const wchar_t* end = args;
    while (*end && !IsTagEnd(*end)) ++end;
    const int length = static_cast<int>(end - args);
    const wchar_t* after = *end ? end + 1 : end;
    const FontEntry* current = Font(s);
    switch (letter) {
    case L'a': {
        const DWORD color = m_hover == CUIString(args, length) && !m_hover.IsEmpty()
                                ? m_manager->GetDefaultLinkHoverFontColor()
                                : m_manager->GetDefaultLinkFontColor();
        s.colors.push_back(color);
        if (!current->underline) {
            PushVariant(s, current->faceName, current->size, current->bold, true, current->italic);
        } else {
            s.fonts.push_back(Font(s));
        }
        if (s.linkIndex < m_capacity && !m_drawingPass) m_linkTexts[s.linkIndex] = CUIString(args, length);
        s.inLink = true;
        s.linkStart = POINT{m_x, m_y};
        break;
    }
    case L'b':
        if (!current->bold) {
            PushVariant(s, current->faceName, current->size, true, current->underline, current->italic);
        }
        break;
    case L'u':
        if (!current->underline) {
            PushVariant(s, current->faceName, current->size, current->bold, true, current->italic);
        }
        break;
    case L'i':
        if (length == 0) {
            if (!current->italic) {
                PushVariant(s, current->faceName, current->size, current->bold, current->underline, true);
            }
        } else if (!Image(s, args, length, drawing)) {
            *lineEnd = true;
            return false;   // read again on the next line
        }
        break;
    case L'c': {
        const wchar_t* v = args;
        if (*v == L'#') ++v;
        s.colors.push_back(static_cast<DWORD>(wcstoul(v, nullptr, 16)));
        break;
    }
    case L'f': {
        if (length > 0 && args[0] >= L'0' && args[0] <= L'9') {
            FontEntry* entry = m_manager->GetFontEntry(static_cast<int>(wcstol(args, nullptr, 10)));
            s.fonts.push_back(entry && entry->font ? entry : Font(s));
            SelectFont(s);
        } else {
            CUIString spec(args, length);
            int space = spec.FindChar(L' ');
            CUIString face = space < 0 ? spec : spec.Left(space);
            int size = 10;
            if (space >= 0) {
                const int parsed = static_cast<int>(wcstol(spec.GetData() + space, nullptr, 10));
                if (parsed > 0) size = parsed;
            }
            PushVariant(s, face, size, spec.Find(L"bold") >= 0, spec.Find(L"underline") >= 0,
                        spec.Find(L"italic") >= 0, false);
        }
        break;
    }
    case L'n':
        if (!(m_style & DT_SINGLELINE)) *lineEnd = true;
        break;
    case L'p':
        LineBreakIfNotEmpty(lineEnd);
        s.spacings.push_back(length > 0 ? static_cast<int>(wcstol(args, nullptr, 10)) : 0);
        m_lineHeight = std::max(m_lineHeight, FontHeight(s) + Spacing(s));
        break;
    case L'r':
        s.raw = true;
        break;
    case L's':
        s.selected = !s.selected;
        break;
    case L'x':
        m_x += static_cast<int>(wcstol(args, nullptr, 10));
        break;
    case L'y':
        m_lineHeight = static_cast<int>(wcstol(args, nullptr, 10));
        break;
    default:
        break;
    }
    s.pos = after;
    if (drawing) Select(s);
    return true;
}

void MarkupPainter::EndTag(MarkupState& s, wchar_t letter, bool drawing, bool* lineEnd) {
    switch (letter) {
    case L'a':
        if (s.inLink) NoteLinkEnd(s);
        s.inLink = false;
        if (!s.colors.empty()) s.colors.pop_back();
        PopFont(s);
        break;
    case L'b':
    case L'u':
    case L'i':
    case L'f':
        PopFont(s);
        break;
    case L'c':
        if (!s.colors.empty()) s.colors.pop_back();
        break;
    case L'p':
        LineBreakIfNotEmpty(lineEnd);
        if (!s.spacings.empty()) s.spacings.pop_back();
        break;
    case L'r':
        s.raw = false;
        break;
    case L's':
        s.selected = !s.selected;
        break;
    default:
        break;
    }
    s.pos += 4;
    if (drawing) Select(s);
}

void MarkupPainter::TextRun(MarkupState& s, bool drawing, bool* lineEnd) {
    const wchar_t* start = s.pos;
    const wchar_t* p = start;
    wchar_t escaped = 0;
    int count = 0;
    if (!s.raw && KindAt(p) == kEscape) {
        escaped = p[1];
        count = 1;
        p += 3;
    } else if (*p == L' ') {
        count = 1;
        ++p;
    } else {
        // Up to the next space, markup or line feed; a "<" that opens
        // nothing is text.
        for (;;) {
            if (*p == L'\0' || *p == L'\n' || *p == L' ') break;
            if (s.raw) {
                if (IsRawEnd(p)) break;
            } else if (p != start && KindAt(p) != kText) {
                break;
            }
            ++p;
            ++count;
        }
    }
    const wchar_t* chars = escaped ? &escaped : start;
    const TEXTMETRICW& tm = Font(s)->metrics;
    SIZE size = {};
    int keep = count;
    if (m_x + (count + 1) * tm.tmMaxCharWidth >= m_rect.right) {
        GetTextExtentPoint32W(m_hdc, chars, count, &size);
        if (m_x + size.cx > m_rect.right) {
            // Cut the run to what fits.
            while (keep > 0) {
                GetTextExtentPoint32W(m_hdc, chars, keep, &size);
                if (m_x + size.cx <= m_rect.right) break;
                --keep;
            }
            if (keep == 0 && m_x == m_rect.left) keep = 1;   // at least one character per line
            if ((m_style & DT_WORDBREAK) && keep < count) {
                int breakAt = -1;
                for (int i = keep - 1; i >= 0; --i) {
                    const wchar_t c = chars[i];
                    if (!((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'))) {
                        breakAt = i + 1;
                        break;
                    }
                }
                if (breakAt > 0) {
                    keep = breakAt;
                } else if (m_x > m_rect.left) {
                    keep = 0;   // the whole word moves to the next line
                }
            }
            bool ellipsis = false;
            if (m_style & DT_END_ELLIPSIS) {
                keep = std::max(0, keep - 2);
                ellipsis = true;
            }
            GetTextExtentPoint32W(m_hdc, chars, keep, &size);
            if (drawing && keep > 0) {
                TextOutW(m_hdc, m_x, m_y + m_lineHeight - FontHeight(s), chars, keep);
            }
            m_x += keep > 0 ? size.cx : 0;
            if (ellipsis) {
                SIZE dots = {};
                GetTextExtentPoint32W(m_hdc, L"...", 3, &dots);
                if (drawing) TextOutW(m_hdc, m_x, m_y + m_lineHeight - FontHeight(s), L"...", 3);
                m_x += dots.cx;
            }
            m_maxX = std::max(m_maxX, m_x);
            s.pos = escaped ? (keep > 0 ? start + 3 : start) : start + keep;
            *lineEnd = true;
            return;
        }
    } else {
        GetTextExtentPoint32W(m_hdc, chars, count, &size);
    }
    if (drawing) {
        int x = m_x;
        if (!(m_style & DT_SINGLELINE)) {
            if (m_style & DT_RIGHT) {
                x += m_rect.right - size.cx - m_rect.left;
            } else if (m_style & DT_CENTER) {
                x += (m_rect.right - size.cx - m_rect.left) / 2;
            }
        }
        TextOutW(m_hdc, x, m_y + m_lineHeight - FontHeight(s), chars, count);
    }
    m_x += size.cx;
    m_maxX = std::max(m_maxX, m_x);
    s.pos = p;
}

void MarkupPainter::Line(MarkupState& s, bool drawing, bool* forcedEnd) {
    m_lineFirstLink = s.linkIndex;
    bool lineEnd = false;
    while (*s.pos && !lineEnd) {
        if (*s.pos == L'\n') {
            ++s.pos;
            lineEnd = true;
            break;
        }
        if (m_x >= m_rect.right) break;
        if (s.raw) {
            if (IsRawEnd(s.pos)) {
                s.raw = false;
                s.pos += kMarkupRawEnd;
                continue;
            }
            TextRun(s, drawing, &lineEnd);
            continue;
        }
        switch (KindAt(s.pos)) {
        case kTag:
            if (!Tag(s, drawing, &lineEnd)) lineEnd = true;
            break;
        case kEndTag:
            EndTag(s, s.pos[2], drawing, &lineEnd);
            break;
        default:
            TextRun(s, drawing, &lineEnd);
            break;
        }
    }
    *forcedEnd = lineEnd;
}

int MarkupPainter::Run(const wchar_t* text, const wchar_t* hoverLink) {
    m_hover = hoverLink ? hoverLink : L"";
    HGDIOBJ oldFont = SelectObject(m_hdc, m_base->font);
    SetBkMode(m_hdc, TRANSPARENT);
    SetTextColor(m_hdc, ColorRef(m_color));
    SetBkColor(m_hdc, ColorRef(m_manager->GetDefaultSelectedBkColor()));
    MarkupState state;
    state.pos = text;
    m_x = m_rect.left;
    m_y = m_rect.top;
    m_maxX = m_rect.left;
    m_lineHeight = FontHeight(state);
    m_imageBottom = 0;
    while (*state.pos && m_rect.left < m_rect.right) {
        bool forced = false;
        const wchar_t* lineStart = state.pos;
        if (m_draw) {
            // Measure the line (height and links), then draw it from the
            // state it started with.
            MarkupState saved = state;
            const int startX = m_x;
            Line(state, false, &forced);
            // A link still open gets its rectangle to here and goes on in the next slot.
            if (state.inLink && state.linkIndex < m_capacity) {
                const CUIString text = m_linkTexts[state.linkIndex];
                NoteLinkEnd(state);
                if (state.linkIndex < m_capacity) m_linkTexts[state.linkIndex] = text;
                state.linkStart = POINT{m_rect.left, m_y + m_lineHeight};
            }
            for (int i = m_lineFirstLink; i < state.linkIndex && i < m_capacity; ++i) {
                m_links[i].bottom = m_y + m_lineHeight;
            }
            const int linksAfter = state.linkIndex;
            const POINT linkStart = state.linkStart;
            const MarkupState measured = state;
            state = saved;
            m_x = startX;
            SelectObject(m_hdc, Font(state)->font);
            Select(state);
            m_drawingPass = true;
            Line(state, true, &forced);
            m_drawingPass = false;
            state.linkIndex = linksAfter;
            state.linkStart = linkStart;
            state.pos = measured.pos;
        } else {
            Line(state, false, &forced);
            if (state.inLink) {
                const CUIString text = state.linkIndex < m_capacity ? m_linkTexts[state.linkIndex] : CUIString();
                NoteLinkEnd(state);
                if (state.linkIndex < m_capacity) m_linkTexts[state.linkIndex] = text;
                state.linkStart = POINT{m_rect.left, m_y + m_lineHeight};
            }
        }
        if (m_style & DT_SINGLELINE) break;
        if (!*state.pos) break;
        // A line that took nothing (an ellipsis cut to no characters) would
        // take nothing again: the layout ends there.
        if (state.pos == lineStart) break;
        m_x = m_rect.left;
        m_y += m_lineHeight;
        m_lineHeight = FontHeight(state) + Spacing(state);
        if (m_draw && m_y >= m_rect.bottom) break;
    }
    const int links = std::min(state.linkIndex, m_capacity);
    if (!m_draw) {
        m_rect.bottom = std::max(m_y + m_lineHeight, m_imageBottom);
        m_rect.right = std::min<LONG>(m_rect.right, m_maxX);
    }
    SelectObject(m_hdc, oldFont);
    return links;
}

}  // namespace

void CSkinRenderer::DrawHtmlText(HDC hdc, CPaintManagerUI* manager, RECT& rect, const wchar_t* text, DWORD color,
                                 RECT* links, CUIString* linkTexts, int& linkCount, int font, UINT style) {
    const int capacity = linkCount;
    linkCount = 0;
    if (!text || !*text || !manager || !hdc || IsRectEmpty(&rect)) return;
    const bool drawing = (style & DT_CALCRECT) == 0;
    RECT box = {};
    GetClipBox(hdc, &box);
    HRGN saved = CreateRectRgnIndirect(&box);
    if (drawing) {
        HRGN clip = CreateRectRgnIndirect(&rect);
        ExtSelectClipRgn(hdc, clip, RGN_AND);
        DeleteObject(clip);
    }
    if (drawing && (style & (DT_CENTER | DT_RIGHT | DT_VCENTER | DT_BOTTOM)) && (style & DT_SINGLELINE)) {
        RECT measured = {0, 0, 9999, 100};
        int none = 0;
        DrawHtmlText(hdc, manager, measured, text, color, nullptr, nullptr, none, font, style | DT_CALCRECT);
        const int width = measured.right - measured.left, height = measured.bottom - measured.top;
        if (style & DT_CENTER) {
            rect.left = rect.left + (rect.right - rect.left - width) / 2;
            rect.right = rect.left + width;
        } else if (style & DT_RIGHT) {
            rect.left = rect.right - width;
        }
        if (style & DT_VCENTER) {
            rect.top = rect.top + (rect.bottom - rect.top - height) / 2;
            rect.bottom = rect.top + height;
        } else if (style & DT_BOTTOM) {
            rect.top = rect.bottom - height;
        }
    }
    // The link under the mouse, from the rectangles of the previous paint.
    CUIString hover;
    const POINT mouse = manager->GetMousePos();
    for (int i = 0; links && linkTexts && i < capacity; ++i) {
        if (PtInRect(&links[i], mouse)) {
            hover = linkTexts[i];
            break;
        }
    }
    MarkupPainter painter(hdc, manager, rect, color, links, linkTexts, capacity, font, style);
    linkCount = painter.Run(text, hover);
    if (drawing) SelectClipRgn(hdc, saved);
    DeleteObject(saved);
}

}  // namespace Veneer
