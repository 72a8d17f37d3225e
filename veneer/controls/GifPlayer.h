#pragma once
// One decoded animated GIF: every frame composed onto the canvas once, as a
// premultiplied 32-bit DIB section, and a worker thread that steps the
// current frame while the GIF plays.
#include <windows.h>

#include <atomic>
#include <vector>

#include "ResourceCache.h"

namespace Veneer {

class IGifAnimationCallback {
public:
    // Called on the worker thread whenever the current frame changed.
    virtual void OnFrameChanged() = 0;
    virtual ~IGifAnimationCallback() = default;
};

struct GifFrame {
    LoadedImage* picture = nullptr;   // owned
    int width = 0;
    int height = 0;
    int left = 0;
    int top = 0;
    int delay = -1;      // hundredths of a second; -1 without a graphic control extension
    int disposal = 0;
};

class GifPlayer {
public:
    // The largest canvas a file may declare (width and height each).
    static const unsigned kMaxCanvasSide = 8192;

    explicit GifPlayer(IGifAnimationCallback* callback);
    ~GifPlayer();
    GifPlayer(const GifPlayer&) = delete;
    GifPlayer& operator=(const GifPlayer&) = delete;

    // Reads the GIF (module resource, skin archive entry or skin file) and
    // decodes it; false leaves the player without frames.
    bool Load(const wchar_t* name, const wchar_t* resourceType);
    // The first frame's picture, or null when the data is not an animated GIF
    // whose frames could be made.
    LoadedImage* Decode(const BYTE* data, DWORD size);

    bool Play();
    // Stops the worker and waits until it has ended; the index returns to 0.
    void Stop();
    // The picture of the current frame; lets the worker go on to the next.
    LoadedImage* GetCurrentFrame();
    void Clear();

    bool IsStopped() const { return m_stopped.load(); }
    int GetFrameCount() const { return static_cast<int>(m_frames.size()); }
    const GifFrame& GetFrame(int index) const { return m_frames[index]; }
    LONG GetCurrentIndex() const { return m_current; }
    // The worker's wait after a frame, in milliseconds.
    static DWORD FrameWait(int delay) { return delay > 4 ? static_cast<DWORD>(delay) * 10 : 100; }

#ifdef VENEER_TEST_HOOKS
    HANDLE GetWorkerHandle() const { return m_worker; }
#endif

private:
    struct Block;
    bool NextBlock(DWORD at, Block& block) const;
    bool SkipFrame(DWORD& cursor, DWORD* frameStart, DWORD* imageAt) const;
    bool ExtractFrame(DWORD& cursor, DWORD* canvas);
    static DWORD WINAPI WorkerMain(void* parameter);
    void RunWorker();
    void WaitForWorker();

    // Decoding state (valid only inside Decode).
    const BYTE* m_data = nullptr;
    DWORD m_size = 0;
    DWORD m_colorTableSize = 0;
    int m_canvasWidth = 0;
    int m_canvasHeight = 0;
    DWORD m_background = 0xFFFFFF;

    volatile LONG m_current = 0;
    std::vector<GifFrame> m_frames;
    HANDLE m_worker = nullptr;
    HANDLE m_frameEvent = nullptr;   // auto-reset: a paint took the frame
    HANDLE m_stopEvent = nullptr;    // manual-reset: stopping
    std::atomic<bool> m_stopped{true};
    IGifAnimationCallback* m_callback;
};

}  // namespace Veneer
