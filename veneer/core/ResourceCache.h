#pragma once
// The resources a skinned window keeps: fonts by number, decoded images by
// name, default attributes per control class, named styles and parsed image
// specifications. Each manager owns one set; one more is shared by all.
#include <windows.h>

#include "UIValueTypes.h"

namespace Veneer {

class CPaintManagerUI;

struct FontEntry {
    HFONT font = nullptr;
    CUIString faceName;
    int size = 0;          // as declared, before DPI scaling
    bool bold = false;
    bool underline = false;
    bool italic = false;
    TEXTMETRICW metrics = {};
};

struct LoadedImage {
    HBITMAP bitmap = nullptr;   // 32-bit top-down DIB, premultiplied alpha
    BYTE* pixels = nullptr;     // the DIB section's own bits (adjustable images); freed with the bitmap
    BYTE* savedPixels = nullptr;  // owned copy of the pixels (adjustable images)
    int width = 0;
    int height = 0;
    bool hasAlpha = false;
    bool adjustable = false;
    CUIString resourceType;
    DWORD mask = 0;
};

struct ImageDrawSpec {
    ImageDrawSpec();
    ~ImageDrawSpec();
    void Clear();
    void Parse(CPaintManagerUI* manager, const wchar_t* image, const wchar_t* modifier);

    CUIString imageString;
    CUIString modifierString;
    CUIString file;
    CUIString resourceType;
    RECT dest;
    RECT source;
    RECT corner;
    DWORD mask;
    BYTE fade;
    bool hole;
    bool xtiled;
    bool ytiled;
    bool hsl;

private:
    void ParseString(CPaintManagerUI* manager, const wchar_t* text);
    void Apply(CPaintManagerUI* manager, const CUIString& key, const CUIString& value);
};

struct SkinResourceSet {
    SkinResourceSet();
    ~SkinResourceSet();

    DWORD disabledTextColor = 0;
    DWORD defaultTextColor = 0;
    DWORD linkTextColor = 0;
    DWORD linkHoverTextColor = 0;
    DWORD selectedBackColor = 0;
    FontEntry defaultFont;
    CStringKeyMap fonts;
    CStringKeyMap images;
    CStringKeyMap classDefaults;
    CStringKeyMap styles;
    CStringKeyMap drawSpecs;
};

}  // namespace Veneer

namespace Veneer {
// The resource set shared by every window of the process; reach it only
// while holding the UI shared lock.
SkinResourceSet& GetSharedResources();
}  // namespace Veneer
