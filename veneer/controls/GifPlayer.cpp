// The GIF player: block walking, per-frame decoding through stb_image and
// composition onto the canvas, and the worker that steps the frames.
#include "GifPlayer.h"

#include <cstdlib>
#include <cstring>
#include <new>

#define STBI_NO_STDIO
#include <stb_image.h>

#include "SkinArchive.h"
#include "SkinRenderer.h"

namespace Veneer {

namespace {
enum BlockKind { BlockApplication, BlockComment, BlockControl, BlockPlainText, BlockImage, BlockTrailer,
                 BlockUnknown };

WORD Word(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }

DWORD TableBytes(BYTE packed) { return (packed & 0x80) ? 3u * (2u << (packed & 7)) : 0; }

void FreeFrame(GifFrame& frame) {
    if (frame.picture) {
        if (frame.picture->bitmap) DeleteObject(frame.picture->bitmap);
        delete frame.picture;
        frame.picture = nullptr;
    }
}
}  // namespace

struct GifPlayer::Block {
    BlockKind kind = BlockUnknown;
    DWORD start = 0;
    DWORD end = 0;   // one past the block's last byte
};

GifPlayer::GifPlayer(IGifAnimationCallback* callback) : m_callback(callback) {
    m_frameEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

GifPlayer::~GifPlayer() {
    Clear();
    if (m_frameEvent) CloseHandle(m_frameEvent);
    if (m_stopEvent) CloseHandle(m_stopEvent);
}

bool GifPlayer::Load(const wchar_t* name, const wchar_t* resourceType) {
    Clear();
    if (!name || !*name) return false;
    SkinFileBytes bytes;
    if (!ReadSkinFile(name, resourceType, SkinFileGif, bytes) || bytes.size <= 5) return false;
    return Decode(bytes.data, bytes.size) != nullptr;
}

// The block at `at`, with its extent; false when it is unknown, the trailer
// or reaches past the data.
bool GifPlayer::NextBlock(DWORD at, Block& block) const {
    block = Block();
    block.start = at;
    if (at >= m_size) return false;
    DWORD fixed = 0;      // bytes before the sub-blocks
    bool subBlocks = true;
    const BYTE tag = m_data[at];
    if (tag == 0x21) {
        if (m_size - at < 2) return false;
        switch (m_data[at + 1]) {
        case 0x01: block.kind = BlockPlainText; fixed = 15; break;
        case 0xF9: block.kind = BlockControl; fixed = 8; subBlocks = false; break;
        case 0xFE: block.kind = BlockComment; fixed = 2; break;
        case 0xFF: block.kind = BlockApplication; fixed = 14; break;
        default: return false;
        }
    } else if (tag == 0x2C) {
        block.kind = BlockImage;
        if (m_size - at < 11) return false;
        fixed = 11 + TableBytes(m_data[at + 9]);
    } else {
        block.kind = tag == 0x3B ? BlockTrailer : BlockUnknown;
        return false;
    }
    if (m_size - at < fixed) return false;
    DWORD p = at + fixed;
    if (subBlocks) {
        for (;;) {
            if (p >= m_size) return false;
            const DWORD length = m_data[p++];
            if (length == 0) break;
            if (m_size - p < length) return false;
            p += length;
        }
    }
    block.end = p;
    return true;
}

// Moves the cursor over one frame; gives where its own bytes start (its
// first graphic control extension, else its image) and where the image or
// plain-text block is.
bool GifPlayer::SkipFrame(DWORD& cursor, DWORD* frameStart, DWORD* imageAt) const {
    DWORD at = cursor;
    Block block;
    bool control = false;
    DWORD start = 0;
    for (;;) {
        if (!NextBlock(at, block)) return false;
        if (block.kind == BlockControl) {
            if (!control) start = block.start;
            control = true;
        } else if (block.kind == BlockImage || block.kind == BlockPlainText) {
            if (!control) start = block.start;
            if (frameStart) *frameStart = start;
            if (imageAt) *imageAt = block.start;
            cursor = block.end;
            return true;
        }
        at = block.end;   // application and comment blocks
    }
}

LoadedImage* GifPlayer::Decode(const BYTE* data, DWORD size) {
    Clear();
    if (!data || size < 13 || memcmp(data, "GIF", 3) != 0) return nullptr;
    m_data = data;
    m_size = size;
    struct Forget {
        GifPlayer* player;
        ~Forget() { player->m_data = nullptr; player->m_size = 0; }
    } forget{this};

    const unsigned width = Word(data + 6), height = Word(data + 8);
    // The canvas is allocated below: refuse a size past the cap first.
    if (width == 0 || height == 0 || width > kMaxCanvasSide || height > kMaxCanvasSide) return nullptr;
    m_colorTableSize = TableBytes(data[10]);
    if (size - 13 < m_colorTableSize) return nullptr;
    m_background = 0xFFFFFF;
    if (m_colorTableSize) {
        const DWORD index = data[11];
        if (index * 3 + 3 <= m_colorTableSize) {
            const BYTE* entry = data + 13 + index * 3;
            m_background = entry[0] | (entry[1] << 8) | (entry[2] << 16);
        } else {
            m_background = 0;
        }
    }
    m_canvasWidth = static_cast<int>(width);
    m_canvasHeight = static_cast<int>(height);

    DWORD cursor = 13 + m_colorTableSize;
    int count = 0;
    while (SkipFrame(cursor, nullptr, nullptr)) ++count;
    if (count < 2) return nullptr;

    const size_t pixels = static_cast<size_t>(width) * height;
    DWORD* canvas = new (std::nothrow) DWORD[pixels];
    if (!canvas) return nullptr;
    for (size_t i = 0; i < pixels; ++i) canvas[i] = m_background;
    cursor = 13 + m_colorTableSize;
    for (int n = 0; n < count; ++n) {
        if (!ExtractFrame(cursor, canvas)) break;
    }
    delete[] canvas;
    return m_frames.empty() ? nullptr : m_frames[0].picture;
}

bool GifPlayer::ExtractFrame(DWORD& cursor, DWORD* canvas) {
    DWORD start = 0, image = 0;
    if (!SkipFrame(cursor, &start, &image)) return false;
    GifFrame frame;
    // The frame's last graphic control extension gives delay and disposal.
    for (DWORD at = start; at < image;) {
        Block block;
        if (!NextBlock(at, block)) break;
        if (block.kind == BlockControl) {
            frame.delay = Word(m_data + at + 4);
            frame.disposal = (m_data[at + 3] >> 2) & 7;
        }
        at = block.end;
    }
    if (m_data[image] == 0x2C) {
        frame.left = Word(m_data + image + 1);
        frame.top = Word(m_data + image + 3);
        frame.width = Word(m_data + image + 5);
        frame.height = Word(m_data + image + 7);
    }

    // A GIF of this one frame: screen descriptor, global colour table, the
    // frame's own blocks and the trailer.
    const DWORD head = 13 + m_colorTableSize, own = cursor - start;
    const DWORD total = head + own + 1;
    BYTE* one = static_cast<BYTE*>(malloc(total));
    if (!one) return true;
    memcpy(one, m_data, head);
    // The version is not checked: the frame decoder reads it as 89a.
    memcpy(one + 3, "89a", 3);
    memcpy(one + head, m_data + start, own);
    one[total - 1] = 0x3B;
    int w = 0, h = 0, channels = 0;
    stbi_uc* rgba = stbi_load_from_memory(one, static_cast<int>(total), &w, &h, &channels, 4);
    free(one);
    if (!rgba) return true;
    if (w != m_canvasWidth || h != m_canvasHeight) {
        stbi_image_free(rgba);
        return true;
    }

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    LoadedImage* picture = bitmap && bits ? new (std::nothrow) LoadedImage : nullptr;
    if (!picture) {
        if (bitmap) DeleteObject(bitmap);
        stbi_image_free(rgba);
        return true;
    }
    const size_t pixels = static_cast<size_t>(w) * h;
    BYTE* out = static_cast<BYTE*>(bits);
    bool hasAlpha = false;
    // Disposal 0 (and a frame without a control extension) keeps the frame
    // like 1: clearing the canvas would make the surroundings of every
    // following partial frame transparent.
    const bool keep = frame.disposal == 0 || frame.disposal == 1;
    for (size_t i = 0; i < pixels; ++i) {
        const BYTE* d = rgba + i * 4;
        const DWORD pixel = d[3] ? (d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<DWORD>(d[3]) << 24)) : canvas[i];
        const BYTE r = pixel & 0xFF, g = (pixel >> 8) & 0xFF, b = (pixel >> 16) & 0xFF, a = pixel >> 24;
        StorePremultiplied(out + i * 4, r, g, b, a);
        if (a < 255 || pixel == 0) hasAlpha = true;
        if (keep) canvas[i] = pixel;
    }
    if (frame.disposal == 2) {
        for (size_t i = 0; i < pixels; ++i) canvas[i] = m_background;
    }
    stbi_image_free(rgba);
    picture->bitmap = bitmap;
    picture->width = w;
    picture->height = h;
    picture->hasAlpha = hasAlpha;
    frame.picture = picture;
    m_frames.push_back(frame);
    return true;
}

bool GifPlayer::Play() {
    if (!m_stopped.load() || m_frames.empty() || !m_frameEvent || !m_stopEvent) return false;
    WaitForWorker();   // one that stopped by itself
    ResetEvent(m_stopEvent);
    m_stopped = false;
    m_worker = CreateThread(nullptr, 0, &GifPlayer::WorkerMain, this, CREATE_SUSPENDED, nullptr);
    if (!m_worker) {
        m_stopped = true;
        return false;
    }
    ResumeThread(m_worker);
    return true;
}

void GifPlayer::WaitForWorker() {
    if (!m_worker) return;
    WaitForSingleObject(m_worker, INFINITE);
    CloseHandle(m_worker);
    m_worker = nullptr;
}

void GifPlayer::Stop() {
    m_stopped = true;
    if (m_stopEvent) SetEvent(m_stopEvent);
    if (m_frameEvent) SetEvent(m_frameEvent);
    WaitForWorker();
    if (m_frameEvent) ResetEvent(m_frameEvent);
    InterlockedExchange(&m_current, 0);
}

DWORD WINAPI GifPlayer::WorkerMain(void* parameter) {
    static_cast<GifPlayer*>(parameter)->RunWorker();
    return 0;
}

void GifPlayer::RunWorker() {
    const LONG count = static_cast<LONG>(m_frames.size());
    while (!m_stopped.load()) {
        if (m_callback) m_callback->OnFrameChanged();
        if (WaitForSingleObject(m_frameEvent, 60000) != WAIT_OBJECT_0) {
            m_stopped = true;   // no paint for a minute
            break;
        }
        if (m_stopped.load()) break;
        const int delay = m_frames[m_current].delay;
        if (WaitForSingleObject(m_stopEvent, FrameWait(delay)) != WAIT_TIMEOUT) break;
        if (InterlockedIncrement(&m_current) >= count) InterlockedExchange(&m_current, 0);
    }
}

LoadedImage* GifPlayer::GetCurrentFrame() {
    if (m_frames.empty()) return nullptr;
    LONG index = m_current;
    if (index < 0 || index >= static_cast<LONG>(m_frames.size())) index = 0;
    LoadedImage* picture = m_frames[index].picture;
    if (m_frameEvent) SetEvent(m_frameEvent);
    return picture;
}

void GifPlayer::Clear() {
    Stop();
    for (GifFrame& frame : m_frames) FreeFrame(frame);
    m_frames.clear();
    m_canvasWidth = 0;
    m_canvasHeight = 0;
    m_background = 0xFFFFFF;
    InterlockedExchange(&m_current, 0);
}

}  // namespace Veneer
