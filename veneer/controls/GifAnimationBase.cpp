// Drawing image strings whose images may be animated GIFs, and the players
// behind them.
#include "GifAnimationBase.h"

#include <cstdlib>
#include <cwchar>
#include <new>

#include "PaintManager.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {
LONG g_nextSerial = 0;

void ReadNumbers(const CUIString& value, LONG* out, int count) {
    const wchar_t* p = value.GetData();
    for (int i = 0; i < count; ++i) {
        wchar_t* end = nullptr;
        out[i] = wcstol(p, &end, 10);
        p = end;
        while (*p == L',' || *p == L' ') ++p;
    }
}

bool IsTrue(const CUIString& value) { return value.CompareNoCase(L"true") == 0; }

bool Meets(const RECT& a, const RECT& b) {
    RECT meet;
    return IntersectRect(&meet, &a, &b) != FALSE;
}
}  // namespace

struct CGifAnimationUIBase::DrawRequest {
    CUIString name;
    CUIString resourceType;
    RECT dest = {};
    RECT source = {};
    RECT corner = {};
    DWORD mask = 0;
    BYTE fade = 255;
    bool hole = false;
    bool xtiled = false;
    bool ytiled = false;
};

CGifAnimationUIBase::CGifAnimationUIBase()
    : m_players(83), m_serial(static_cast<UINT_PTR>(InterlockedIncrement(&g_nextSerial))) {}

CGifAnimationUIBase::~CGifAnimationUIBase() { RemoveAllPlayers(); }

void CGifAnimationUIBase::OnFrameChanged() {
    // Never the control or its manager from here: the UI thread repaints
    // when the message arrives, and ignores it once the control is gone.
    if (m_frameWindow) PostMessageW(m_frameWindow, kGifFrameMessage, m_serial, 0);
}

GifPlayer* CGifAnimationUIBase::FindPlayer(const wchar_t* name) const {
    if (!name || !*name) return nullptr;
    return static_cast<GifPlayer*>(m_players.Find(name, false));
}

void CGifAnimationUIBase::RemoveAllPlayers() {
    while (m_players.GetSize() > 0) {
        const CUIString key = m_players.GetKeyAt(0);
        GifPlayer* player = static_cast<GifPlayer*>(m_players.Find(key, false));
        m_players.Remove(key);
        delete player;   // clears it, waiting for its worker
    }
}

GifPlayer* CGifAnimationUIBase::CreatePlayer(const wchar_t* name, const wchar_t* resourceType) {
    if (!name || !*name) return nullptr;
    GifPlayer* player = new (std::nothrow) GifPlayer(this);
    if (!player) return nullptr;
    if (!player->Load(name, resourceType ? resourceType : L"")) {
        delete player;
        return nullptr;
    }
    m_players.Insert(name, player);
    return player;
}

void CGifAnimationUIBase::StopGif(const wchar_t* name) {
    if (GifPlayer* player = FindPlayer(name)) player->Stop();
}

bool CGifAnimationUIBase::DrawGifImage(HDC hdc, const RECT& paint, CPaintManagerUI* manager, const RECT& item,
                                       const wchar_t* image) {
    if (!hdc || !manager) return false;
    if (!image || !*image) return true;
    DrawRequest request;
    request.dest = item;
    if (!wcschr(image, L'=')) {
        request.name = image;
        DrawGifFrame(hdc, paint, manager, item, request);
        return true;
    }
    const wchar_t* p = image;
    for (;;) {
        while (*p == L' ' || *p == L'\t' || *p == L'\r' || *p == L'\n') ++p;
        if (!*p) break;
        CUIString key;
        while (*p && *p != L'=' && *p != L' ') key += *p++;
        while (*p == L' ') ++p;
        if (*p != L'=') break;
        ++p;
        while (*p == L' ') ++p;
        if (*p != L'\'') break;
        ++p;
        CUIString value;
        while (*p && *p != L'\'') value += *p++;
        if (*p != L'\'') break;
        ++p;
        if (key == L"file" || key == L"res" || key == L"restype") {
            if (!request.name.IsEmpty()) DrawGifFrame(hdc, paint, manager, item, request);
            (key == L"restype" ? request.resourceType : request.name) = value;
        } else if (key == L"dest") {
            LONG v[4] = {};
            ReadNumbers(value, v, 4);
            request.dest = RECT{item.left + v[0], item.top + v[1], item.left + v[2], item.top + v[3]};
            if (request.dest.right > item.right) request.dest.right = item.right;
            if (request.dest.bottom > item.bottom) request.dest.bottom = item.bottom;
        } else if (key == L"source" || key == L"corner") {
            LONG v[4] = {};
            ReadNumbers(value, v, 4);
            (key == L"source" ? request.source : request.corner) = RECT{v[0], v[1], v[2], v[3]};
        } else if (key == L"mask") {
            const wchar_t* digits = value.GetData();
            if (*digits == L'#') ++digits;
            request.mask = wcstoul(digits, nullptr, 16);
        } else if (key == L"fade") {
            request.fade = static_cast<BYTE>(wcstol(value, nullptr, 10));
        } else if (key == L"hole") {
            request.hole = IsTrue(value);
        } else if (key == L"xtiled") {
            request.xtiled = IsTrue(value);
        } else if (key == L"ytiled") {
            request.ytiled = IsTrue(value);
        }
    }
    if (!request.name.IsEmpty()) DrawGifFrame(hdc, paint, manager, item, request);
    return true;
}

void CGifAnimationUIBase::DrawGifFrame(HDC hdc, const RECT& paint, CPaintManagerUI* manager, const RECT& item,
                                       const DrawRequest& request) {
    LoadedImage* picture = nullptr;
    if (GifPlayer* player = FindPlayer(request.name)) {
        picture = player->GetCurrentFrame();
    } else if (LoadedImage* cached = manager->FindImage(request.name)) {
        picture = cached;
    } else if (GifPlayer* created = CreatePlayer(request.name, request.resourceType)) {
        picture = created->GetCurrentFrame();
    } else {
        picture = manager->GetOrLoadImage(request.name,
                                          request.resourceType.IsEmpty() ? nullptr : request.resourceType.GetData(),
                                          request.mask);
    }
    if (!picture || !picture->bitmap) return;
    RECT source = request.source;
    if (source.left == 0 && source.top == 0 && source.right == 0 && source.bottom == 0) {
        source.right = picture->width;
        source.bottom = picture->height;
    }
    if (source.right > picture->width) source.right = picture->width;
    if (source.bottom > picture->height) source.bottom = picture->height;
    if (!Meets(request.dest, item) || !Meets(request.dest, paint)) return;
    CSkinRenderer::DrawImage(source, hdc, picture->bitmap, request.dest, paint, request.corner, picture->hasAlpha,
                             request.fade, request.hole, request.xtiled, request.ytiled, 100);
}

}  // namespace Veneer
