// Writes the GIF test files with giflib (an encoder this project did not
// write) and, for each, a manifest of what its frames look like once
// composed onto the canvas: the reference the UI library's GIF player is
// compared with.
//   usage: make_gif_fixtures OUT_DIR
//
// Composition rules the manifests follow: the canvas starts in the
// background colour with alpha 0; a frame's opaque pixels replace the
// canvas, its transparent and undrawn pixels show the canvas; afterwards
// disposal 0 (also a frame without a graphic control extension) and 1 keep
// the composed frame as the canvas, 2 refills the whole canvas with the
// background colour (alpha 0), 3 and above leave the canvas as it was.
// A file whose background index is not 0 shows what the frame decoder
// (stb_image 2.27) does there: every pixel that a frame does not draw comes
// back opaque in the background colour with its red and blue swapped (it
// copies its own blue-first palette entry), so the canvas never shows
// through.
#include <gif_lib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Rgb { unsigned char r, g, b; };

// 8 colours; index 7 doubles as the transparent index where one is used.
const Rgb kGlobal[8] = {{0, 0, 0},     {255, 0, 0},   {0, 255, 0},   {0, 0, 255},
                        {255, 255, 0}, {0, 255, 255}, {255, 0, 255}, {128, 128, 128}};
const Rgb kLocal[4] = {{10, 20, 30}, {200, 100, 50}, {60, 180, 90}, {250, 250, 250}};

struct FrameSpec {
    int left, top, width, height;
    bool gce;              // write a graphic control extension
    int delay;             // hundredths of a second
    int disposal;          // 0..3
    int transparent;       // -1: none
    bool local;            // local colour table (kLocal)
    bool interlace;
    int seed;              // pattern of colour indices
};

struct FileSpec {
    const char* name;
    int width, height;
    int background;        // background index
    const char* version;   // null: as giflib writes it
    std::vector<FrameSpec> frames;
    bool gif89 = true;
};

int PixelIndex(const FrameSpec& f, int x, int y, int colours) {
    int v = (x * 3 + y * 5 + f.seed * 7) % colours;
    // Frames with a transparent index leave a diagonal band transparent.
    if (f.transparent >= 0 && (x + y + f.seed) % 3 == 0) v = f.transparent;
    return v;
}

ColorMapObject* MakeMap(const Rgb* colours, int count) {
    GifColorType c[8];
    for (int i = 0; i < count; ++i) c[i] = {colours[i].r, colours[i].g, colours[i].b};
    return GifMakeMapObject(count, c);
}

bool WriteGif(const std::string& path, const FileSpec& spec) {
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (!gif) return false;
    EGifSetGifVersion(gif, spec.gif89);
    ColorMapObject* global = MakeMap(kGlobal, 8);
    bool ok = EGifPutScreenDesc(gif, spec.width, spec.height, 8, spec.background, global) == GIF_OK;
    for (const FrameSpec& f : spec.frames) {
        if (!ok) break;
        if (f.gce) {
            GraphicsControlBlock gcb = {};
            gcb.DisposalMode = f.disposal;
            gcb.UserInputFlag = false;
            gcb.DelayTime = f.delay;
            gcb.TransparentColor = f.transparent >= 0 ? f.transparent : NO_TRANSPARENT_COLOR;
            GifByteType ext[4];
            EGifGCBToExtension(&gcb, ext);
            ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext) == GIF_OK;
        }
        ColorMapObject* local = f.local ? MakeMap(kLocal, 4) : nullptr;
        ok = ok && EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlace, local) == GIF_OK;
        const int colours = f.local ? 4 : 8;
        std::vector<int> order;
        if (f.interlace) {
            const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; ++pass)
                for (int y = starts[pass]; y < f.height; y += steps[pass]) order.push_back(y);
        } else {
            for (int y = 0; y < f.height; ++y) order.push_back(y);
        }
        for (int y : order) {
            std::vector<GifPixelType> line(f.width);
            for (int x = 0; x < f.width; ++x) line[x] = static_cast<GifPixelType>(PixelIndex(f, x, y, colours));
            if (ok) ok = EGifPutLine(gif, line.data(), f.width) == GIF_OK;
        }
        if (local) GifFreeMapObject(local);
    }
    GifFreeMapObject(global);
    if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
    if (ok && spec.version) {
        FILE* file = fopen(path.c_str(), "r+b");
        if (!file) return false;
        fseek(file, 3, SEEK_SET);
        fwrite(spec.version, 1, 3, file);
        fclose(file);
    }
    return ok;
}

// Straight RGBA, red first.
typedef std::vector<unsigned char> Pixels;

bool WriteManifest(const std::string& path, const FileSpec& spec) {
    FILE* out = fopen(path.c_str(), "w");
    if (!out) return false;
    const int w = spec.width, h = spec.height;
    const Rgb bg = kGlobal[spec.background];
    Pixels canvas(static_cast<size_t>(w) * h * 4);
    auto fillBackground = [&](Pixels& p) {
        for (size_t i = 0; i < p.size(); i += 4) {
            p[i] = bg.r; p[i + 1] = bg.g; p[i + 2] = bg.b; p[i + 3] = 0;
        }
    };
    fillBackground(canvas);
    fprintf(out, "canvas %d %d\nframes %zu\n", w, h, spec.frames.size());
    for (size_t n = 0; n < spec.frames.size(); ++n) {
        const FrameSpec& f = spec.frames[n];
        Pixels composed = canvas;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                unsigned char* px = &composed[(static_cast<size_t>(y) * w + x) * 4];
                const bool inside = x >= f.left && x < f.left + f.width && y >= f.top && y < f.top + f.height;
                if (!inside) {
                    if (spec.background != 0) {
                        px[0] = bg.b; px[1] = bg.g; px[2] = bg.r; px[3] = 255;
                    }
                    continue;
                }
                const int index = PixelIndex(f, x - f.left, y - f.top, f.local ? 4 : 8);
                if (index == f.transparent) continue;
                const Rgb c = f.local ? kLocal[index] : kGlobal[index];
                px[0] = c.r; px[1] = c.g; px[2] = c.b; px[3] = 255;
            }
        }
        const int delay = f.gce ? f.delay : -1;
        const int disposal = f.gce ? f.disposal : 0;
        fprintf(out, "frame %zu delay %d disposal %d\n", n, delay, disposal);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const unsigned char* px = &composed[(static_cast<size_t>(y) * w + x) * 4];
                fprintf(out, "%s%02X%02X%02X%02X", x ? " " : "", px[0], px[1], px[2], px[3]);
            }
            fprintf(out, "\n");
        }
        if (disposal == 0 || disposal == 1) canvas = composed;
        else if (disposal == 2) fillBackground(canvas);
    }
    return fclose(out) == 0;
}

FrameSpec Full(int w, int h, int delay, int disposal, int seed) {
    return {0, 0, w, h, true, delay, disposal, -1, false, false, seed};
}
FrameSpec Part(int l, int t, int w, int h, int delay, int disposal, int seed) {
    return {l, t, w, h, true, delay, disposal, -1, false, false, seed};
}

std::vector<FileSpec> Files() {
    std::vector<FileSpec> files;
    // Full frames; delays 0, 5, 20 and 4 (hundredths).
    files.push_back({"full.gif", 12, 10, 0, nullptr,
                     {Full(12, 10, 0, 1, 0), Full(12, 10, 5, 1, 1), Full(12, 10, 20, 1, 2), Full(12, 10, 4, 1, 3)}});
    // Partial frames under each disposal method, over a full first frame.
    files.push_back({"dispose.gif", 12, 10, 0, nullptr,
                     {Full(12, 10, 10, 1, 0), Part(2, 2, 4, 3, 10, 0, 1), Part(6, 1, 3, 4, 10, 1, 2),
                      Part(1, 5, 5, 3, 10, 2, 3), Part(3, 3, 4, 4, 10, 3, 4), Part(7, 6, 4, 3, 10, 1, 5),
                      Part(0, 0, 3, 2, 10, 0, 6)}});
    // Transparency, a local colour table, interlacing, a frame without a
    // graphic control extension and the largest delay.
    {
        FileSpec s{"features.gif", 12, 10, 0, nullptr, {}};
        FrameSpec a = Full(12, 10, 65535, 1, 0);
        FrameSpec b = Part(1, 1, 9, 8, 7, 1, 1);
        b.transparent = 7;
        FrameSpec c = Part(2, 0, 8, 10, 3, 1, 2);
        c.local = true;
        FrameSpec d = Part(0, 0, 12, 10, 9, 1, 3);
        d.interlace = true;
        d.transparent = 7;
        FrameSpec e = Part(4, 2, 5, 5, 0, 0, 4);
        e.gce = false;
        FrameSpec f = Part(0, 3, 12, 9 - 3, 15, 1, 5);
        f.local = true;
        f.interlace = true;
        s.frames = {a, b, c, d, e, f};
        files.push_back(s);
    }
    // No graphic control extension at all, written as a version-87a file.
    {
        FileSpec s{"plain87.gif", 12, 10, 0, nullptr, {}};
        FrameSpec a = Full(12, 10, 0, 0, 0), b = Part(3, 2, 6, 6, 0, 0, 1), c = Full(12, 10, 0, 0, 2);
        a.gce = b.gce = c.gce = false;
        s.frames = {a, b, c};
        s.gif89 = false;
        files.push_back(s);
    }
    // A version the player does not know ("GIF90z").
    files.push_back({"version.gif", 12, 10, 0, "90z", {Full(12, 10, 10, 1, 3), Full(12, 10, 10, 1, 4)}});
    // One frame only.
    files.push_back({"one.gif", 12, 10, 0, nullptr, {Full(12, 10, 10, 1, 2)}});
    // A background index other than 0.
    files.push_back({"background.gif", 12, 10, 3, nullptr,
                     {Part(1, 1, 6, 5, 10, 1, 0), Part(5, 4, 6, 5, 10, 1, 1), Full(12, 10, 10, 1, 2)}});
    // Present in the skin folder only, never in its archive.
    files.push_back({"folderonly.gif", 12, 10, 0, nullptr, {Full(12, 10, 10, 1, 5), Full(12, 10, 10, 1, 6)}});
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    for (const FileSpec& spec : Files()) {
        const std::string gif = dir + "/" + spec.name;
        if (!WriteGif(gif, spec) || !WriteManifest(gif + ".txt", spec)) {
            fprintf(stderr, "cannot write %s\n", gif.c_str());
            return 1;
        }
    }
    return 0;
}
