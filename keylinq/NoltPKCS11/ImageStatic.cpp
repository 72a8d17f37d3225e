// The picture control and the image loaders of the library's dialogs.
#include "ImageStatic.h"

#include <cstring>
#include <new>

#include "ResultCodes.h"
#include "TraceHelper.h"

#define TRACE_MODULE L"ImageStatic"

namespace {

// A GDI+ bitmap in memory of GDI+'s own allocation. That allocation answers
// null when it fails, and `new Gdiplus::Bitmap` (Bitmap::FromStream too)
// would run the constructor on that null: here a failed allocation is null.
template <typename... Args>
Gdiplus::Bitmap* NewBitmap(Args... args) {
    void* memory = Gdiplus::DllExports::GdipAlloc(sizeof(Gdiplus::Bitmap));
    return memory ? ::new (memory) Gdiplus::Bitmap(args...) : nullptr;
}

}  // namespace

CImageStatic::~CImageStatic() {
    if (m_hWnd && IsWindow(m_hWnd) && m_oldProc) {
        SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, LONG_PTR(m_oldProc));
        SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
    }
}

bool CImageStatic::Attach(HWND hStatic) {
    if (!hStatic || m_hWnd) return false;
    m_hWnd = hStatic;
    SetWindowLongPtrW(hStatic, GWLP_USERDATA, LONG_PTR(this));
    m_oldProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(hStatic, GWLP_WNDPROC, LONG_PTR(&SubclassProc)));
    InvalidateRect(hStatic, nullptr, TRUE);
    return true;
}

LRESULT CALLBACK CImageStatic::SubclassProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CImageStatic* self = reinterpret_cast<CImageStatic*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hWnd, msg, wParam, lParam);
    if (msg == WM_ERASEBKGND) return 1;
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hWnd, &ps);
        if (self->m_pImage) {
            Gdiplus::Graphics graphics(dc);
            const INT w = INT(self->m_pImage->GetWidth());
            const INT h = INT(self->m_pImage->GetHeight());
            graphics.DrawImage(self->m_pImage, Gdiplus::Rect(0, 0, w, h), 0, 0, w, h, Gdiplus::UnitPixel);
        }
        EndPaint(hWnd, &ps);
        return 0;
    }
    return CallWindowProcW(self->m_oldProc, hWnd, msg, wParam, lParam);
}

uint32_t LoadImageFromResource(HMODULE hModule, UINT id, const wchar_t* type, Gdiplus::Image** ppImage) {
    TRACE_NAME(L"LoadImageFromResource");
    if (!ppImage) return 0x80070057u;
    *ppImage = nullptr;
    HRSRC found = FindResourceW(hModule, MAKEINTRESOURCEW(id), type);
    if (!found) {
        const HRESULT hr = HResultFromLastError();
        TRACE_FAIL(L"FindResourceW", L"NULL == hResource", hr);
        return uint32_t(hr);
    }
    const DWORD size = SizeofResource(hModule, found);
    if (size == 0) {
        const HRESULT hr = HResultFromLastError();
        TRACE_FAIL(L"SizeofResource", L"0 == dwSize", hr);
        return uint32_t(hr);
    }
    HGLOBAL loaded = LoadResource(hModule, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) {
        const HRESULT hr = HResultFromLastError();
        TRACE_FAIL(L"LoadResource", L"NULL == hGlobal", hr);
        return uint32_t(hr);
    }
    const uint32_t hr = LoadImageFromData(bytes, size, ppImage);
    FreeResource(loaded);
    return hr;
}

uint32_t LoadImageFromData(const void* data, uint32_t size, Gdiplus::Image** ppImage) {
    TRACE_NAME(L"LoadImageFromData");
    if (!ppImage) return 0x80070057u;
    *ppImage = nullptr;
    if (!data || size == 0) return 0x80070057u;
    uint32_t hr = 0;
    IStream* stream = nullptr;
    Gdiplus::Bitmap* decoded = nullptr;
    Gdiplus::Bitmap* owned = nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    void* locked = block ? GlobalLock(block) : nullptr;
    if (!locked) {
        hr = uint32_t(HResultFromLastError());
        TRACE_FAIL(L"GlobalAlloc", L"NULL == hGlobal", HRESULT(hr));
        if (block) GlobalFree(block);
        return hr;
    }
    memcpy(locked, data, size);
    GlobalUnlock(block);
    hr = uint32_t(CreateStreamOnHGlobal(block, FALSE, &stream));
    if (hr != 0) {
        TRACE_FAIL(L"CreateStreamOnHGlobal", L"S_OK != hResult", HRESULT(hr));
        GlobalFree(block);
        return hr;
    }
    decoded = NewBitmap(stream, FALSE);
    if (!decoded) {
        hr = 0x8007000Eu;  // E_OUTOFMEMORY
        TRACE_FAIL(L"Gdiplus::Bitmap::FromStream", L"NULL == pBitmap", HRESULT(hr));
    } else if (decoded->GetLastStatus() == Gdiplus::Ok) {
        // A copy that owns its pixels: the stream and the block go now, and
        // a decoder that reads lazily finds nothing missing later.
        const INT w = INT(decoded->GetWidth());
        const INT h = INT(decoded->GetHeight());
        owned = NewBitmap(w, h, PixelFormat32bppARGB);
        if (!owned) {
            hr = 0x8007000Eu;
            TRACE_FAIL(L"new Gdiplus::Bitmap", L"NULL == pBitmap", HRESULT(hr));
        } else if (owned->GetLastStatus() == Gdiplus::Ok) {
            Gdiplus::Rect rect(0, 0, w, h);
            Gdiplus::BitmapData source = {};
            Gdiplus::BitmapData dest = {};
            bool copied = false;
            if (decoded->LockBits(&rect, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &source) == Gdiplus::Ok) {
                if (owned->LockBits(&rect, Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB, &dest) == Gdiplus::Ok) {
                    for (INT y = 0; y < h; ++y)
                        memcpy(static_cast<uint8_t*>(dest.Scan0) + y * dest.Stride,
                               static_cast<const uint8_t*>(source.Scan0) + y * source.Stride, size_t(w) * 4);
                    owned->UnlockBits(&dest);
                    copied = true;
                }
                decoded->UnlockBits(&source);
            }
            if (!copied) {
                delete owned;
                owned = nullptr;
            }
        } else {
            delete owned;
            owned = nullptr;
        }
    }
    delete decoded;
    stream->Release();
    GlobalFree(block);
    if (hr != 0) return hr;
    if (!owned) {
        TRACE_FAIL(L"Gdiplus::Bitmap::FromStream", L"NULL == pImage", HRESULT(0x80004003u));
        return 0x80004003u;
    }
    *ppImage = owned;
    return 0;
}
