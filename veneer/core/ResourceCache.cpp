#include "ResourceCache.h"

#include <cstdlib>
#include <cwchar>
#include <new>

#include "PaintManager.h"
#include "SkinRenderer.h"
#include "UILock.h"

namespace Veneer {

// ------------------------------------------------------------------ resource sets

SkinResourceSet::SkinResourceSet() : fonts(83), images(83), classDefaults(83), styles(83), drawSpecs(83) {}

namespace {
template <typename T, typename Free>
void FreeMapValues(CStringKeyMap& map, Free freeValue) {
    for (int i = 0; i < map.GetSize(); ++i) {
        const wchar_t* key = map.GetKeyAt(i);
        if (key) freeValue(static_cast<T*>(map.Find(key)));
    }
    map.Resize(map.GetBucketCount());
}

void FreeFont(FontEntry* entry) {
    if (!entry) return;
    if (entry->font) DeleteObject(entry->font);
    CPaintManagerUI::DeleteFontEntry(entry);
}
void FreeString(CUIString* text) { delete text; }
void FreeSpec(ImageDrawSpec* spec) { delete spec; }

SkinResourceSet g_shared;
}  // namespace

SkinResourceSet::~SkinResourceSet() {
    if (defaultFont.font) DeleteObject(defaultFont.font);
    FreeMapValues<FontEntry>(fonts, FreeFont);
    FreeMapValues<LoadedImage>(images, CSkinRenderer::FreeImage);
    FreeMapValues<CUIString>(classDefaults, FreeString);
    FreeMapValues<CUIString>(styles, FreeString);
    FreeMapValues<ImageDrawSpec>(drawSpecs, FreeSpec);
}

SkinResourceSet& GetSharedResources() { return g_shared; }

void CPaintManagerUI::FreeFontMap(CStringKeyMap& map) { FreeMapValues<FontEntry>(map, FreeFont); }
void CPaintManagerUI::FreeImageMap(CStringKeyMap& map) { FreeMapValues<LoadedImage>(map, CSkinRenderer::FreeImage); }
void CPaintManagerUI::FreeStringMap(CStringKeyMap& map) { FreeMapValues<CUIString>(map, FreeString); }
void CPaintManagerUI::FreeDrawSpecMap(CStringKeyMap& map) { FreeMapValues<ImageDrawSpec>(map, FreeSpec); }

void CPaintManagerUI::DeleteFontEntry(FontEntry* entry) { delete entry; }

// ------------------------------------------------------------------ fonts

HFONT CPaintManagerUI::CreateScaledFont(const wchar_t* face, int size, bool bold, bool underline, bool italic) {
    LOGFONTW font = {};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
    // A font declared without a face keeps the default GUI font's.
    if (face && *face) {
        wcsncpy(font.lfFaceName, face, LF_FACESIZE - 1);
        font.lfFaceName[LF_FACESIZE - 1] = L'\0';
    }
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfHeight = -GetDpiScaler()->ScaleValue(size);
    if (bold) font.lfWeight = FW_BOLD;
    if (underline) font.lfUnderline = TRUE;
    if (italic) font.lfItalic = TRUE;
    return CreateFontIndirectW(&font);
}

namespace {
CUIString FaceOf(HFONT font) {
    LOGFONTW logFont = {};
    GetObjectW(font, sizeof(logFont), &logFont);
    return CUIString(logFont.lfFaceName);
}
}  // namespace

void CPaintManagerUI::MeasureFont(FontEntry* entry) {
    if (!entry || !m_paintDC || !entry->font) return;
    HGDIOBJ old = SelectObject(m_paintDC, entry->font);
    GetTextMetricsW(m_paintDC, &entry->metrics);
    SelectObject(m_paintDC, old);
}

FontEntry* CPaintManagerUI::GetDefaultFontEntry() {
    FontEntry* entry = &m_resources.defaultFont;
    CUISharedLock lock;
    if (entry->faceName.IsEmpty()) entry = &GetSharedResources().defaultFont;
    if (entry->metrics.tmHeight == 0) MeasureFont(entry);
    return entry;
}

void CPaintManagerUI::SetDefaultFont(const wchar_t* face, int size, bool bold, bool underline, bool italic,
                                     bool shared) {
    HFONT font = CreateScaledFont(face, size, bold, underline, italic);
    if (!font) return;
    CUISharedLock lock;
    FontEntry& entry = shared ? GetSharedResources().defaultFont : m_resources.defaultFont;
    if (entry.font) DeleteObject(entry.font);
    entry.font = font;
    entry.faceName = FaceOf(font);
    entry.size = size;
    entry.bold = bold;
    entry.underline = underline;
    entry.italic = italic;
    entry.metrics = TEXTMETRICW();
    MeasureFont(&entry);
}

HFONT CPaintManagerUI::AddFont(const wchar_t* face, int id, int size, bool bold, bool underline, bool italic,
                               bool shared) {
    HFONT font = CreateScaledFont(face, size, bold, underline, italic);
    if (!font) return nullptr;
    FontEntry* entry = new (std::nothrow) FontEntry;
    if (!entry) {
        DeleteObject(font);
        return nullptr;
    }
    entry->font = font;
    entry->faceName = FaceOf(font);
    entry->size = size;
    entry->bold = bold;
    entry->underline = underline;
    entry->italic = italic;
    MeasureFont(entry);
    wchar_t key[16];
    wsprintfW(key, L"%d", id);
    CUISharedLock lock;
    CStringKeyMap& map = shared || m_useSharedResources ? GetSharedResources().fonts : m_resources.fonts;
    FontEntry* old = static_cast<FontEntry*>(map.Set(key, entry));
    if (old == entry) {   // the map could not take it
        FreeFont(entry);
        return nullptr;
    }
    FreeFont(old);   // the last declaration wins
    return font;
}

bool CPaintManagerUI::AddFontFile(const wchar_t* fileName) {
    SkinFileBytes bytes;
    if (!ReadSkinFile(fileName, nullptr, SkinFileFont, bytes)) return false;
    DWORD installed = 0;
    HANDLE font = AddFontMemResourceEx(bytes.data, bytes.size, nullptr, &installed);
    if (!font) return false;
    if (!m_privateFonts.Add(font)) {
        RemoveFontMemResourceEx(font);
        return false;
    }
    return true;
}

FontEntry* CPaintManagerUI::GetFontEntry(int id) {
    if (id < 0) return GetDefaultFontEntry();
    wchar_t key[16];
    wsprintfW(key, L"%d", id);
    CUISharedLock lock;   // shared entries are measured in place
    FontEntry* entry = static_cast<FontEntry*>(m_resources.fonts.Find(key));
    if (!entry) entry = static_cast<FontEntry*>(GetSharedResources().fonts.Find(key));
    if (!entry) return GetDefaultFontEntry();
    if (entry->metrics.tmHeight == 0) MeasureFont(entry);
    return entry;
}

HFONT CPaintManagerUI::GetFontHandle(int id) { return GetFontEntry(id)->font; }

namespace {
template <typename Match>
FontEntry* FindFontEntry(CStringKeyMap& map, Match match) {
    for (int i = 0; i < map.GetSize(); ++i) {
        const wchar_t* key = map.GetKeyAt(i);
        FontEntry* entry = key ? static_cast<FontEntry*>(map.Find(key)) : nullptr;
        if (entry && match(*entry)) return entry;
    }
    return nullptr;
}
}  // namespace

FontEntry* CPaintManagerUI::GetFontEntryByHandle(HFONT font) {
    auto match = [font](const FontEntry& entry) { return entry.font == font; };
    FontEntry* entry = nullptr;
    CUISharedLock lock;
    if (font) {
        entry = FindFontEntry(m_resources.fonts, match);
        if (!entry) entry = FindFontEntry(GetSharedResources().fonts, match);
    }
    if (!entry) return GetDefaultFontEntry();
    if (entry->metrics.tmHeight == 0) MeasureFont(entry);
    return entry;
}

HFONT CPaintManagerUI::FindFont(const wchar_t* face, int size, bool bold, bool underline, bool italic) {
    auto match = [&](const FontEntry& entry) {
        return entry.faceName == face && entry.size == size && entry.bold == bold &&
               entry.underline == underline && entry.italic == italic;
    };
    FontEntry* entry = FindFontEntry(m_resources.fonts, match);
    if (!entry) {
        CUISharedLock lock;
        entry = FindFontEntry(GetSharedResources().fonts, match);
    }
    return entry ? entry->font : nullptr;
}

HFONT CPaintManagerUI::AddVariantFont(const wchar_t* face, int size, bool bold, bool underline, bool italic) {
    // Each variant keeps its id for the manager's life, so a font still
    // selected by text being drawn is never deleted under it.
    return AddFont(face, m_nextVariantFont++, size, bold, underline, italic, false);
}

HFONT CPaintManagerUI::AddVariantFontOf(const FontEntry* base, bool bold, bool underline, bool italic) {
    if (!base || !base->font) return nullptr;
    LOGFONTW logFont = {};
    GetObjectW(base->font, sizeof(logFont), &logFont);
    logFont.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    logFont.lfUnderline = underline ? TRUE : FALSE;
    logFont.lfItalic = italic ? TRUE : FALSE;
    HFONT font = CreateFontIndirectW(&logFont);
    if (!font) return nullptr;
    FontEntry* entry = new (std::nothrow) FontEntry;
    if (!entry) {
        DeleteObject(font);
        return nullptr;
    }
    entry->font = font;
    entry->faceName = base->faceName;
    entry->size = base->size;
    entry->bold = bold;
    entry->underline = underline;
    entry->italic = italic;
    MeasureFont(entry);
    wchar_t key[16];
    wsprintfW(key, L"%d", m_nextVariantFont++);
    if (m_resources.fonts.Set(key, entry) == entry) {
        FreeFont(entry);
        return nullptr;
    }
    return font;
}

void CPaintManagerUI::RemoveAllFonts() { FreeFontMap(m_resources.fonts); }

// ------------------------------------------------------------------ images

LoadedImage* CPaintManagerUI::FindImage(const wchar_t* name) {
    if (!name || !*name) return nullptr;
    if (LoadedImage* image = static_cast<LoadedImage*>(m_resources.images.Find(name))) return image;
    CUISharedLock lock;
    return static_cast<LoadedImage*>(GetSharedResources().images.Find(name));
}

LoadedImage* CPaintManagerUI::GetOrLoadImage(const wchar_t* name, const wchar_t* resourceType, DWORD mask,
                                             bool adjustable) {
    if (!name || !*name) return nullptr;
    if (LoadedImage* image = FindImage(name)) return image;
    return AddImage(resourceType, name, mask, adjustable, false);
}

LoadedImage* CPaintManagerUI::AddImage(const wchar_t* resourceType, const wchar_t* name, DWORD mask,
                                       bool adjustable, bool shared) {
    if (!name || !*name) return nullptr;
    LoadedImage* image = nullptr;
    if (resourceType && *resourceType) {
        if (name[0] < L'0' || name[0] > L'9') return nullptr;
        image = CSkinRenderer::LoadImageFromSource(name, resourceType, mask);
    } else {
        image = CSkinRenderer::LoadImage(name, mask);
    }
    if (!image) return nullptr;   // nothing cached: a later request tries again
    image->adjustable = adjustable;
    image->resourceType = resourceType;
    image->mask = mask;
    if (adjustable) {
        // The pixel memory of an adjustable image is its DIB section's own
        // bits; the saved copy is an owned block.
        DIBSECTION section = {};
        if (GetObjectW(image->bitmap, sizeof(section), &section) == sizeof(section) && section.dsBm.bmBits) {
            image->pixels = static_cast<BYTE*>(section.dsBm.bmBits);
            const size_t bytes = static_cast<size_t>(image->width) * image->height * 4;
            image->savedPixels = static_cast<BYTE*>(malloc(bytes));
            if (image->savedPixels) memcpy(image->savedPixels, image->pixels, bytes);
        }
    }
    CUISharedLock lock;
    CStringKeyMap& map = shared || m_useSharedResources ? GetSharedResources().images : m_resources.images;
    LoadedImage* old = static_cast<LoadedImage*>(map.Set(name, image));
    if (old == image) {
        CSkinRenderer::FreeImage(image);
        return nullptr;
    }
    CSkinRenderer::FreeImage(old);   // the last declaration wins
    return image;
}

void CPaintManagerUI::RemoveAllImages() { FreeImageMap(m_resources.images); }

// ------------------------------------------------------------------ image specifications

ImageDrawSpec* CPaintManagerUI::GetImageDrawSpec(const wchar_t* image, const wchar_t* modifier) {
    CUIString key(image);
    key.Append(modifier);
    if (key.IsEmpty()) return nullptr;
    if (ImageDrawSpec* spec = static_cast<ImageDrawSpec*>(m_resources.drawSpecs.Find(key))) return spec;
    ImageDrawSpec* spec = new (std::nothrow) ImageDrawSpec;
    if (!spec) return nullptr;
    spec->Parse(this, image, modifier);
    if (!m_resources.drawSpecs.Insert(key, spec)) {
        delete spec;
        return nullptr;
    }
    return spec;
}

void CPaintManagerUI::RemoveAllDrawSpecs() { FreeDrawSpecMap(m_resources.drawSpecs); }

ImageDrawSpec::ImageDrawSpec() { Clear(); }

ImageDrawSpec::~ImageDrawSpec() = default;

void ImageDrawSpec::Clear() {
    imageString.Empty();
    modifierString.Empty();
    file.Empty();
    dest = RECT();
    source = RECT();
    corner = RECT();
    mask = 0;
    fade = 255;
    hole = xtiled = ytiled = hsl = false;
}

void ImageDrawSpec::Parse(CPaintManagerUI* manager, const wchar_t* image, const wchar_t* modifier) {
    imageString = image;
    modifierString = modifier;
    file = image;
    ParseString(manager, image);
    ParseString(manager, modifier);
    const int scale = manager ? manager->GetDpiScaler()->GetScale() : 100;
    if (scale != 100) {
        // One file per scale: "a.png" at 150 is "a@150.png".
        CUIString mark;
        mark.Format(L"@%d.", scale);
        file.Replace(L".", mark);
    }
}

void ImageDrawSpec::ParseString(CPaintManagerUI* manager, const wchar_t* text) {
    if (!text) return;
    const wchar_t* p = text;
    for (;;) {
        while (*p >= 1 && *p <= 32) ++p;
        const wchar_t* start = p;
        while (*p && *p != L'=' && *p >= 33) ++p;
        CUIString key(start, static_cast<int>(p - start));
        while (*p >= 1 && *p <= 32) ++p;
        if (*p != L'=') return;
        ++p;
        while (*p >= 1 && *p <= 32) ++p;
        if (*p != L'\'') return;
        start = ++p;
        while (*p && *p != L'\'') ++p;
        if (*p != L'\'') return;
        CUIString value(start, static_cast<int>(p - start));
        ++p;
        if (!value.IsEmpty()) Apply(manager, key, value);
        if (*p != L' ') return;
        ++p;
    }
}

namespace {
// Up to four integers, each followed by one separator; missing ones are 0.
RECT ReadFour(const wchar_t* value) {
    LONG numbers[4] = {0, 0, 0, 0};
    const wchar_t* p = value;
    for (int i = 0; i < 4 && *p; ++i) {
        wchar_t* end = nullptr;
        numbers[i] = wcstol(p, &end, 10);
        p = end;
        if (!*p) break;
        ++p;
    }
    RECT rect = {numbers[0], numbers[1], numbers[2], numbers[3]};
    return rect;
}

bool IsTrue(const CUIString& value) { return value.CompareNoCase(L"true") == 0; }
}  // namespace

void ImageDrawSpec::Apply(CPaintManagerUI* manager, const CUIString& key, const CUIString& value) {
    if (key == L"file" || key == L"res") {
        file = value;
    } else if (key == L"restype") {
        resourceType = value;
    } else if (key == L"dest") {
        dest = ReadFour(value);
        if (manager) manager->GetDpiScaler()->ScaleRect(dest);
    } else if (key == L"source") {
        source = ReadFour(value);
    } else if (key == L"corner") {
        corner = ReadFour(value);
    } else if (key == L"mask") {
        const wchar_t* digits = value.GetData();
        if (*digits == L'#') ++digits;
        mask = static_cast<DWORD>(wcstoul(digits, nullptr, 16));
    } else if (key == L"fade") {
        fade = static_cast<BYTE>(_wtoi(value));
    } else if (key == L"hole") {
        hole = IsTrue(value);
    } else if (key == L"xtiled") {
        xtiled = IsTrue(value);
    } else if (key == L"ytiled") {
        ytiled = IsTrue(value);
    } else if (key == L"hsl") {
        hsl = IsTrue(value);
    }
}

// ------------------------------------------------------------------ class defaults and styles

namespace {
void StoreAttributes(CStringKeyMap& map, const wchar_t* name, const wchar_t* attributes, bool replace) {
    if (!name) return;
    if (!replace && map.Find(name)) return;   // the first declaration wins
    CUIString* stored = new (std::nothrow) CUIString(attributes);
    if (!stored) return;
    CUIString* old = static_cast<CUIString*>(map.Set(name, stored));
    if (old == stored) delete stored;
    else delete old;
}

const wchar_t* FindAttributes(CStringKeyMap& own, CStringKeyMap& shared, const wchar_t* name) {
    if (!name) return nullptr;
    if (const CUIString* found = static_cast<const CUIString*>(own.Find(name))) return found->GetData();
    CUISharedLock lock;
    const CUIString* found = static_cast<const CUIString*>(shared.Find(name));
    return found ? found->GetData() : nullptr;
}
}  // namespace

void CPaintManagerUI::AddClassDefaults(const wchar_t* className, const wchar_t* attributes, bool shared) {
    CUISharedLock lock;
    StoreAttributes(shared || m_useSharedResources ? GetSharedResources().classDefaults : m_resources.classDefaults,
                    className, attributes, true);
}

const wchar_t* CPaintManagerUI::GetClassDefaults(const wchar_t* className) {
    return FindAttributes(m_resources.classDefaults, GetSharedResources().classDefaults, className);
}

void CPaintManagerUI::RemoveAllClassDefaults() { FreeStringMap(m_resources.classDefaults); }

void CPaintManagerUI::AddStyle(const wchar_t* name, const wchar_t* attributes, bool shared) {
    CUISharedLock lock;
    StoreAttributes(shared || m_useSharedResources ? GetSharedResources().styles : m_resources.styles, name,
                    attributes, false);
}

const wchar_t* CPaintManagerUI::GetStyle(const wchar_t* name) {
    return FindAttributes(m_resources.styles, GetSharedResources().styles, name);
}

void CPaintManagerUI::RemoveAllStyles() { FreeStringMap(m_resources.styles); }

}  // namespace Veneer
