#include <objidl.h>
#include <gdiplus.h>

#include <cstdlib>
#include <cstring>
#include <new>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#include <stb_image.h>

#include "ResourceCatalog.h"
#include "SkinArchive.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {
// A GDI+ image made from a stream that it owns: GDI+ may read the stream at
// any time while the image lives (frames are decoded as they are selected).
class StreamImage : public Gdiplus::Image {
public:
    explicit StreamImage(IStream* stream) : Gdiplus::Image(stream, FALSE), m_stream(stream) {}
    IStream* Stream() const { return m_stream; }

private:
    IStream* m_stream;
};

CUIString ResolveImageName(const wchar_t* name) {
    CUIString path = GetResourceCatalog().GetImagePath(name);
    return path.IsEmpty() ? CUIString(name) : path;
}
}  // namespace

LoadedImage* CSkinRenderer::LoadImage(const wchar_t* name, DWORD mask) {
    if (!name || !*name) return nullptr;
    return LoadImageFromSource(ResolveImageName(name), nullptr, mask);
}

LoadedImage* CSkinRenderer::LoadImageFromSource(const wchar_t* name, const wchar_t* resourceType, DWORD mask) {
    BYTE* bytes = nullptr;
    DWORD size = 0;
    if (!ReadImageBytes(name, resourceType, &bytes, &size)) return nullptr;
    LoadedImage* image = DecodeImage(bytes, size, mask);
    free(bytes);
    return image;
}

bool CSkinRenderer::ReadImageBytes(const wchar_t* name, const wchar_t* resourceType, BYTE** bytes, DWORD* size) {
    if (!bytes || !size) return false;
    *bytes = nullptr;
    *size = 0;
    SkinFileBytes file;
    if (!ReadSkinFile(name, resourceType, SkinFileImage, file)) return false;
    *size = file.size;
    *bytes = file.Detach();
    return true;
}

LoadedImage* CSkinRenderer::DecodeImage(const BYTE* bytes, DWORD size, DWORD mask) {
    if (!bytes || size == 0 || size > 0x7FFFFFFF) return nullptr;
    int width = 0, height = 0, channels = 0;
    stbi_uc* rgba = stbi_load_from_memory(bytes, static_cast<int>(size), &width, &height, &channels, 4);
    if (!rgba) return nullptr;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;   // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) {
        if (bitmap) DeleteObject(bitmap);
        stbi_image_free(rgba);
        return nullptr;
    }
    LoadedImage* image = new (std::nothrow) LoadedImage;
    if (!image) {
        DeleteObject(bitmap);
        stbi_image_free(rgba);
        return nullptr;
    }
    BYTE* out = static_cast<BYTE*>(bits);
    bool hasAlpha = false;
    const size_t pixels = static_cast<size_t>(width) * height;
    for (size_t i = 0; i < pixels; ++i) {
        const BYTE r = rgba[i * 4], g = rgba[i * 4 + 1], b = rgba[i * 4 + 2], a = rgba[i * 4 + 3];
        BYTE* px = out + i * 4;
        StorePremultiplied(px, r, g, b, a);
        if (a != 255) hasAlpha = true;
        const DWORD value = (static_cast<DWORD>(px[3]) << 24) | (static_cast<DWORD>(px[2]) << 16) |
                            (static_cast<DWORD>(px[1]) << 8) | px[0];
        if (value == mask) {
            px[0] = px[1] = px[2] = px[3] = 0;
            hasAlpha = true;
        }
    }
    stbi_image_free(rgba);
    image->bitmap = bitmap;
    image->width = width;
    image->height = height;
    image->hasAlpha = hasAlpha;
    return image;
}

void CSkinRenderer::FreeImage(LoadedImage* image) {
    if (!image) return;
    // The pixel memory belongs to the DIB section and goes with it.
    if (image->bitmap) DeleteObject(image->bitmap);
    free(image->savedPixels);
    delete image;
}

void CSkinRenderer::RestoreImagePixels(LoadedImage* image) {
    if (!image || !image->adjustable || !image->bitmap || !image->pixels || !image->savedPixels) return;
    memcpy(image->pixels, image->savedPixels, static_cast<size_t>(image->width) * image->height * 4);
}

Gdiplus::Image* CSkinRenderer::LoadGdiplusImage(const wchar_t* name) {
    if (!name || !*name) return nullptr;
    BYTE* bytes = nullptr;
    DWORD size = 0;
    if (!ReadImageBytes(ResolveImageName(name), nullptr, &bytes, &size)) return nullptr;
    Gdiplus::Image* image = GdiplusImageFromBytes(bytes, size);
    free(bytes);
    return image;
}

Gdiplus::Image* CSkinRenderer::GdiplusImageFromBytes(const BYTE* bytes, DWORD size) {
    if (!bytes || size == 0) return nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block) return nullptr;
    void* data = GlobalLock(block);
    if (!data) {
        GlobalFree(block);
        return nullptr;
    }
    memcpy(data, bytes, size);
    GlobalUnlock(block);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream))) {
        GlobalFree(block);
        return nullptr;
    }
    StreamImage* image = new StreamImage(stream);   // GDI+ allocates: null on failure
    if (!image || image->GetLastStatus() != Gdiplus::Ok) {
        FreeGdiplusImage(image);
        if (!image) stream->Release();
        return nullptr;
    }
    return image;
}

void CSkinRenderer::FreeGdiplusImage(Gdiplus::Image* image) {
    if (!image) return;
    IStream* stream = static_cast<StreamImage*>(image)->Stream();
    delete image;
    if (stream) stream->Release();
}

}  // namespace Veneer
