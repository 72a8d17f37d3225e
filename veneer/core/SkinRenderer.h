#pragma once
// Image loading of the skin renderer: skin files, module resources and plain
// paths decoded into premultiplied 32-bit DIB sections, or into GDI+ images.
#include <windows.h>

#include "ResourceCache.h"

namespace Gdiplus { class Image; }

namespace Veneer {

class CSkinRenderer {
public:
    static LoadedImage* LoadImage(const wchar_t* name, DWORD mask = 0);
    static LoadedImage* LoadImageFromSource(const wchar_t* name, const wchar_t* resourceType, DWORD mask = 0);
    // Bytes of an image (resource, skin file, plain path); free them with free().
    static bool ReadImageBytes(const wchar_t* name, const wchar_t* resourceType, BYTE** bytes, DWORD* size);
    static LoadedImage* DecodeImage(const BYTE* bytes, DWORD size, DWORD mask);
    static void FreeImage(LoadedImage* image);
    static void RestoreImagePixels(LoadedImage* image);
    static Gdiplus::Image* LoadGdiplusImage(const wchar_t* name);
    static Gdiplus::Image* GdiplusImageFromBytes(const BYTE* bytes, DWORD size);
};

}  // namespace Veneer
