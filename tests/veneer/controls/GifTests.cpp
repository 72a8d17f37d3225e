// Animated GIFs: the player's frames against the giflib-made files'
// manifests (and GDI+), its worker, the hover-played label and the GDI+
// control, in real windows.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ControlFactory.h"
#include "ControlsTestSupport.h"
#include "GifAnimation.h"
#include "GifAnimationEx.h"
#include "GifPlayer.h"
#include "SkinRenderer.h"
#include "SkinTestSupport.h"

using namespace Veneer;

namespace {

// ------------------------------------------------------------ manifests
struct ManifestFrame {
    int delay = 0;
    int disposal = 0;
    std::vector<DWORD> rgba;   // straight, 0xAABBGGRR (red in the low byte)
};
struct Manifest {
    int width = 0;
    int height = 0;
    std::vector<ManifestFrame> frames;
};

std::wstring GifPath(const char* name) {
    return skintest::SkinFolder() + L"gif\\" + std::wstring(name, name + strlen(name));
}

std::vector<BYTE> GifBytes(const char* name) { return skintest::ReadHostFile(GifPath(name)); }

Manifest LoadManifest(const char* name) {
    const std::vector<BYTE> text = skintest::ReadHostFile(GifPath(name) + L".txt");
    std::istringstream in(std::string(text.begin(), text.end()));
    Manifest m;
    std::string word;
    size_t count = 0;
    in >> word >> m.width >> m.height >> word >> count;
    for (size_t n = 0; n < count; ++n) {
        ManifestFrame f;
        size_t index = 0;
        in >> word >> index >> word >> f.delay >> word >> f.disposal;
        for (int i = 0; i < m.width * m.height; ++i) {
            std::string hex;
            in >> hex;
            const DWORD v = std::stoul(hex, nullptr, 16);   // RRGGBBAA
            f.rgba.push_back(((v >> 24) & 0xFF) | (((v >> 16) & 0xFF) << 8) | (((v >> 8) & 0xFF) << 16) |
                             ((v & 0xFF) << 24));
        }
        m.frames.push_back(f);
    }
    return m;
}

// A picture's pixels, un-premultiplied, as 0xAABBGGRR.
std::vector<DWORD> Unpremultiplied(const LoadedImage* picture) {
    DIBSECTION section = {};
    GetObjectW(picture->bitmap, sizeof(section), &section);
    const BYTE* bits = static_cast<const BYTE*>(section.dsBm.bmBits);
    std::vector<DWORD> out;
    for (int i = 0; i < picture->width * picture->height; ++i) {
        const BYTE* p = bits + i * 4;
        const int a = p[3];
        auto un = [a](int c) { return a ? (c * 255 + a / 2) / a : 0; };
        out.push_back(un(p[2]) | (un(p[1]) << 8) | (un(p[0]) << 16) | (static_cast<DWORD>(a) << 24));
    }
    return out;
}

// Within 1 per channel; colour only where the pixel is not transparent.
bool SamePixel(DWORD actual, DWORD expected) {
    const int aa = actual >> 24, ea = expected >> 24;
    if (abs(aa - ea) > 1) return false;
    if (ea == 0) return true;
    for (int shift = 0; shift < 24; shift += 8) {
        if (abs(static_cast<int>((actual >> shift) & 0xFF) - static_cast<int>((expected >> shift) & 0xFF)) > 1)
            return false;
    }
    return true;
}

// The first pixel that differs, or -1.
int FirstDifference(const std::vector<DWORD>& actual, const std::vector<DWORD>& expected) {
    if (actual.size() != expected.size()) return 0;
    for (size_t i = 0; i < actual.size(); ++i)
        if (!SamePixel(actual[i], expected[i])) return static_cast<int>(i);
    return -1;
}

// What a window shows of a manifest frame drawn over white.
DWORD OverWhite(DWORD rgba) {
    if ((rgba >> 24) == 0) return 0xFFFFFF;
    return ((rgba & 0xFF) << 16) | (rgba & 0xFF00) | ((rgba >> 16) & 0xFF);
}

const char* const kManifestFiles[] = {"full.gif",  "dispose.gif", "features.gif",  "plain87.gif",
                                      "version.gif", "background.gif", "folderonly.gif"};

// ------------------------------------------------------------ the player
class GifPlayerTest : public ::testing::Test {};

TEST_F(GifPlayerTest, FramesEqualTheManifests) {
    for (const char* name : kManifestFiles) {
        SCOPED_TRACE(name);
        const Manifest manifest = LoadManifest(name);
        ASSERT_FALSE(manifest.frames.empty());
        const std::vector<BYTE> bytes = GifBytes(name);
        GifPlayer player(nullptr);
        ASSERT_NE(nullptr, player.Decode(bytes.data(), static_cast<DWORD>(bytes.size())));
        ASSERT_EQ(static_cast<int>(manifest.frames.size()), player.GetFrameCount());
        for (int n = 0; n < player.GetFrameCount(); ++n) {
            const GifFrame& frame = player.GetFrame(n);
            EXPECT_EQ(manifest.frames[n].delay, frame.delay) << "frame " << n;
            EXPECT_EQ(manifest.frames[n].disposal, frame.disposal) << "frame " << n;
            ASSERT_EQ(manifest.width, frame.picture->width);
            ASSERT_EQ(manifest.height, frame.picture->height);
            const std::vector<DWORD> actual = Unpremultiplied(frame.picture);
            const int at = FirstDifference(actual, manifest.frames[n].rgba);
            EXPECT_EQ(-1, at) << "frame " << n << " pixel " << at << ": " << std::hex << actual[at < 0 ? 0 : at]
                              << " expected " << manifest.frames[n].rgba[at < 0 ? 0 : at];
        }
    }
}

// The manifests' full and kept frames agree with GDI+'s own decoding of the
// same files (an independent decoder on the Windows side).
TEST_F(GifPlayerTest, ManifestsAgreeWithGdiplus) {
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::Ok, Gdiplus::GdiplusStartup(&token, &input, nullptr));
    struct Row {
        const char* name;
        int frames;   // the leading frames whose predecessors all kept their picture
    } rows[] = {{"full.gif", 4}, {"dispose.gif", 4}, {"plain87.gif", 3}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Manifest manifest = LoadManifest(row.name);
        std::unique_ptr<Gdiplus::Bitmap> bitmap(Gdiplus::Bitmap::FromFile(GifPath(row.name).c_str()));
        ASSERT_EQ(Gdiplus::Ok, bitmap->GetLastStatus());
        GUID time = Gdiplus::FrameDimensionTime;
        ASSERT_EQ(manifest.frames.size(), bitmap->GetFrameCount(&time));
        for (int n = 0; n < row.frames; ++n) {
            ASSERT_EQ(Gdiplus::Ok, bitmap->SelectActiveFrame(&time, n));
            Gdiplus::BitmapData data = {};
            Gdiplus::Rect all(0, 0, manifest.width, manifest.height);
            ASSERT_EQ(Gdiplus::Ok,
                      bitmap->LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data));
            std::vector<DWORD> gdiplus;
            for (int y = 0; y < manifest.height; ++y) {
                const DWORD* line =
                    reinterpret_cast<const DWORD*>(static_cast<const BYTE*>(data.Scan0) + y * data.Stride);
                for (int x = 0; x < manifest.width; ++x) {
                    const DWORD argb = line[x];
                    gdiplus.push_back(((argb >> 16) & 0xFF) | (argb & 0xFF00) | ((argb & 0xFF) << 16) |
                                      (argb & 0xFF000000));
                }
            }
            bitmap->UnlockBits(&data);
            EXPECT_EQ(-1, FirstDifference(gdiplus, manifest.frames[n].rgba)) << "frame " << n;
        }
    }
    Gdiplus::GdiplusShutdown(token);
}

TEST_F(GifPlayerTest, WaitsFollowTheDelays) {
    const struct {
        int delay;
        DWORD wait;
    } rows[] = {{-1, 100}, {0, 100}, {4, 100}, {5, 50}, {20, 200}, {65535, 655350}};
    for (const auto& row : rows) EXPECT_EQ(row.wait, GifPlayer::FrameWait(row.delay)) << row.delay;
}

TEST_F(GifPlayerTest, BadDataIsRefused) {
    const std::vector<BYTE> valid = GifBytes("full.gif");
    GifPlayer player(nullptr);
    // Every truncation: refused until at least two whole frames are there,
    // never more frames than a longer piece gives.
    int smallestAccepted = -1, lastCount = 0;
    for (size_t size = 0; size < valid.size(); ++size) {
        std::vector<BYTE> piece(valid.begin(), valid.begin() + size);   // a block of its own size
        const bool accepted = player.Decode(piece.data(), static_cast<DWORD>(piece.size())) != nullptr;
        if (accepted && smallestAccepted < 0) smallestAccepted = static_cast<int>(size);
        if (smallestAccepted >= 0) {
            EXPECT_TRUE(accepted) << size;
            EXPECT_GE(player.GetFrameCount(), lastCount) << size;
            // Only the trailer may be missing for all four frames to be there.
            if (size + 1 < valid.size()) {
                EXPECT_LT(player.GetFrameCount(), 4) << size;
            }
            lastCount = player.GetFrameCount();
        }
    }
    EXPECT_GT(smallestAccepted, static_cast<int>(valid.size() / 3));

    // Hand-made: headers that lie.
    std::vector<BYTE> table = {'G', 'I', 'F', '8', '9', 'a', 12, 0, 10, 0, 0xF7, 0, 0};
    table.resize(13 + 300, 0x2C);   // a 768-byte global colour table cut short
    EXPECT_EQ(nullptr, player.Decode(table.data(), static_cast<DWORD>(table.size())));
    std::vector<BYTE> noSignature = valid;
    noSignature[0] = 'J';
    EXPECT_EQ(nullptr, player.Decode(noSignature.data(), static_cast<DWORD>(noSignature.size())));
    const std::vector<BYTE> one = GifBytes("one.gif");
    EXPECT_EQ(nullptr, player.Decode(one.data(), static_cast<DWORD>(one.size())));

    // Canvases past the cap are refused before anything is allocated for them.
    PROCESS_MEMORY_COUNTERS before = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof(before));
    const struct {
        WORD width, height;
    } canvases[] = {{65535, 65535}, {8193, 10}, {12, 8193}, {0, 10}};
    for (const auto& c : canvases) {
        std::vector<BYTE> big = valid;
        big[6] = c.width & 0xFF;
        big[7] = c.width >> 8;
        big[8] = c.height & 0xFF;
        big[9] = c.height >> 8;
        EXPECT_EQ(nullptr, player.Decode(big.data(), static_cast<DWORD>(big.size()))) << c.width << "x" << c.height;
    }
    PROCESS_MEMORY_COUNTERS after = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof(after));
    EXPECT_LT(after.PeakPagefileUsage - before.PeakPagefileUsage, 16u << 20);
    EXPECT_EQ(0, player.GetFrameCount());
}

// ------------------------------------------------------------ the worker
class CountingCallback : public IGifAnimationCallback {
public:
    void OnFrameChanged() override { ++calls; }
    std::atomic<int> calls{0};
};

int ThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    }
    CloseHandle(snapshot);
    return count;
}

DWORD HandleCount() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

template <typename Condition>
bool WaitUntil(Condition condition, DWORD ms) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > ms) return false;
        uitest::Pump();
        Sleep(5);
    }
    return true;
}

TEST_F(GifPlayerTest, WorkerAdvancesOnePerPaintAndStopsAtOnce) {
    const std::vector<BYTE> bytes = GifBytes("full.gif");   // delays 0, 5, 20, 4
    CountingCallback callback;
    GifPlayer player(&callback);
    ASSERT_NE(nullptr, player.Decode(bytes.data(), static_cast<DWORD>(bytes.size())));
    ASSERT_TRUE(player.Play());
    EXPECT_FALSE(player.Play());   // already playing
    ASSERT_TRUE(WaitUntil([&] { return callback.calls == 1; }, 2000));
    // Nobody paints: the worker waits.
    Sleep(400);
    EXPECT_EQ(1, callback.calls.load());
    EXPECT_EQ(0, player.GetCurrentIndex());
    // Each paint lets it go on by one frame.
    for (int n = 1; n <= 5; ++n) {
        player.GetCurrentFrame();
        ASSERT_TRUE(WaitUntil([&] { return callback.calls == n + 1; }, 2000)) << n;
        EXPECT_EQ(n % 4, player.GetCurrentIndex());
    }
    player.Stop();
    EXPECT_EQ(nullptr, player.GetWorkerHandle());
    EXPECT_EQ(0, player.GetCurrentIndex());
    EXPECT_TRUE(player.IsStopped());

    // Stopping during the largest delay (655.35 s) returns at once, with
    // the worker ended.
    const std::vector<BYTE> features = GifBytes("features.gif");   // frame 0: delay 65535
    ASSERT_NE(nullptr, player.Decode(features.data(), static_cast<DWORD>(features.size())));
    const int threads = ThreadCount();
    const int before = callback.calls;
    ASSERT_TRUE(player.Play());
    ASSERT_TRUE(WaitUntil([&] { return callback.calls == before + 1; }, 2000));
    HANDLE worker = nullptr;
    DuplicateHandle(GetCurrentProcess(), player.GetWorkerHandle(), GetCurrentProcess(), &worker, SYNCHRONIZE, FALSE,
                    0);
    player.GetCurrentFrame();
    Sleep(100);   // asleep in the long delay now
    const DWORD start = GetTickCount();
    player.Stop();
    EXPECT_LT(GetTickCount() - start, 500u);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker, 0));
    CloseHandle(worker);
    EXPECT_EQ(threads, ThreadCount());
}

TEST_F(GifPlayerTest, PlayStopDestroyCyclesLeaveNothingBehind) {
    const std::vector<BYTE> bytes = GifBytes("dispose.gif");
    CountingCallback callback;
    {   // first use of everything a cycle touches
        GifPlayer warm(&callback);
        warm.Decode(bytes.data(), static_cast<DWORD>(bytes.size()));
        warm.Play();
    }
    const int threads = ThreadCount();
    const DWORD handles = HandleCount();
    for (int i = 0; i < 1000; ++i) {
        GifPlayer* player = new GifPlayer(&callback);
        ASSERT_NE(nullptr, player->Decode(bytes.data(), static_cast<DWORD>(bytes.size())));
        ASSERT_TRUE(player->Play());
        if (i % 3 == 0) player->GetCurrentFrame();
        if (i % 2 == 0) player->Stop();
        if (i % 5 == 0) {
            player->Play();   // a restart after a stop, or refused while running
        }
        delete player;
    }
    EXPECT_EQ(threads, ThreadCount());
    EXPECT_EQ(handles, HandleCount());
}

// ------------------------------------------------------------ controls in a window
// Records the thread of every repaint request the label makes.
class RecordingGifLabel : public CGifAnimationExUI {
public:
    std::set<DWORD> threads;
    int frames = 0;
    // When set, each frame message records the player's index and leaves the
    // painting to the test: the worker then moves on only after the test's
    // own paint, however slowly the test runs.
    GifPlayer* recordFrom = nullptr;
    std::vector<int> order;

protected:
    void OnGifFrame() override {
        threads.insert(GetCurrentThreadId());
        ++frames;
        if (recordFrom) {
            order.push_back(recordFrom->GetCurrentIndex());
            return;
        }
        CGifAnimationExUI::OnGifFrame();
    }
};

class GifControlTest : public ::testing::Test, public ctltest::ControlsFixture {
protected:
    void SetUp() override {
        panel = new uitest::TestPanel;
        panel->SetAttribute(L"bkcolor", L"#FFFFFFFF");
        Host(200, 120, panel);
    }
    void TearDown() override {
        TearDownHost();
        skintest::UseFolder(skintest::SkinFolder());
    }
    // A child of the panel at (10,10), the canvas's size.
    template <typename T>
    T* Add(T* control, const wchar_t* name, const wchar_t* image) {
        control->SetName(name);
        control->SetAttribute(L"bkimage", image);
        panel->Add(control);
        control->SetPos(RECT{10, 10, 22, 20});
        return control;
    }
    // The capture's pixels under the control at (10,10).
    std::vector<DWORD> Shown(const char* artifact) {
        const uitest::Capture capture = Paint(artifact);
        std::vector<DWORD> out;
        for (int y = 10; y < 20; ++y)
            for (int x = 10; x < 22; ++x) out.push_back(capture.At(x, y));
        return out;
    }
    static std::vector<DWORD> Expected(const ManifestFrame& frame) {
        std::vector<DWORD> out;
        for (DWORD p : frame.rgba) out.push_back(OverWhite(p));
        return out;
    }
    bool TimerRunning(CControlUI* control) {
        const TimerEntry* timer = Manager().FindTimer(control, CGifAnimationUI::kTimerId);
        return timer && !timer->killed;
    }
    uitest::TestPanel* panel = nullptr;
};

TEST_F(GifControlTest, FactoryKnowsTheClasses) {
    const struct {
        const wchar_t* className;
        const wchar_t* tag;
        const wchar_t* alsoIs;
    } rows[] = {{L"CGifAnimationUI", L"GifAnimation", L"Control"},
                {L"cgifanimationexui", L"GifAnimationEx", L"Label"}};
    for (const auto& row : rows) {
        std::unique_ptr<CControlUI> control(CControlFactory::GetInstance()->CreateControlByClass(row.className));
        ASSERT_NE(nullptr, control) << row.className;
        EXPECT_STREQ(row.tag, control->GetClassTag());
        EXPECT_NE(nullptr, control->FindInterface(row.tag));
        EXPECT_NE(nullptr, control->FindInterface(row.alsoIs));
        EXPECT_EQ(nullptr, control->FindInterface(L"Button"));
    }
}

TEST_F(GifControlTest, HoveredLabelPlaysItsFramesInOrder) {
    const Manifest manifest = LoadManifest("dispose.gif");
    RecordingGifLabel* gif = Add(new RecordingGifLabel, L"gif/dispose.gif", L"gif/dispose.gif");
    EXPECT_EQ(Expected(manifest.frames[0]), Shown("ex-still"));
    GifPlayer* player = gif->FindPlayer(L"gif/dispose.gif");
    ASSERT_NE(nullptr, player);
    EXPECT_TRUE(player->IsStopped());

    gif->recordFrom = player;
    Raise(gif, EventMouseEnter, ctltest::Centre(gif->GetPos()));
    // Only the test paints from here on.
    ValidateRect(host->Window(), nullptr);
    size_t shown = 0;
    const DWORD start = GetTickCount();
    while (shown <= manifest.frames.size() && GetTickCount() - start < 20000) {
        uitest::Pump();
        Sleep(2);
        if (gif->order.size() == shown) continue;
        const int index = gif->order[shown++];
        char artifact[32];
        snprintf(artifact, sizeof(artifact), "ex-frame-%d", index);
        // The worker waits for this paint before it moves on.
        EXPECT_EQ(Expected(manifest.frames[index]), Shown(artifact)) << "frame " << index;
    }
    const std::vector<int> expected = {0, 1, 2, 3, 4, 5, 6, 0};
    EXPECT_EQ(expected, gif->order);
    EXPECT_GT(gif->frames, 0);
    ASSERT_EQ(1u, gif->threads.size());
    EXPECT_EQ(GetCurrentThreadId(), *gif->threads.begin());

    Raise(gif, EventMouseLeave, ctltest::Centre(gif->GetPos()));
    EXPECT_TRUE(player->IsStopped());
    EXPECT_EQ(Expected(manifest.frames[0]), Shown("ex-left"));
}

TEST_F(GifControlTest, LabelNamedOtherwiseStaysOnItsFirstFrame) {
    const Manifest manifest = LoadManifest("full.gif");
    RecordingGifLabel* gif = Add(new RecordingGifLabel, L"busy", L"file='gif/full.gif'");
    Shown("ex-other-before");
    Raise(gif, EventMouseEnter, ctltest::Centre(gif->GetPos()));
    for (int i = 0; i < 30; ++i) {
        uitest::Pump();
        Sleep(10);
    }
    EXPECT_EQ(0, gif->frames);
    EXPECT_TRUE(gif->FindPlayer(L"gif/full.gif")->IsStopped());
    EXPECT_EQ(Expected(manifest.frames[0]), Shown("ex-other"));
}

// Takes the frame messages of one serial that reach the window's filters
// after the labels' own.
class FrameWatcher : public IMessageFilterUI {
public:
    explicit FrameWatcher(UINT_PTR serial) : m_serial(serial) {}
    LRESULT FilterMessage(UINT message, WPARAM wParam, LPARAM, bool& handled) override {
        if (message != kGifFrameMessage || wParam != m_serial) return 0;
        ++seen;
        handled = true;
        return 0;
    }
    int seen = 0;

private:
    UINT_PTR m_serial;
};

TEST_F(GifControlTest, FramesPostedToAGoneLabelAreIgnored) {
    RecordingGifLabel* gif = Add(new RecordingGifLabel, L"gif/full.gif", L"gif/full.gif");
    Shown("ex-gone-before");
    Raise(gif, EventMouseEnter, ctltest::Centre(gif->GetPos()));
    const UINT_PTR serial = gif->GetGifSerial();
    FrameWatcher watcher(serial);
    Manager().AddMessageFilter(&watcher);
    // While the label lives, its frames are its own.
    PostMessageW(host->Window(), kGifFrameMessage, serial, 0);
    uitest::Pump();
    EXPECT_GE(gif->frames, 1);
    EXPECT_EQ(0, watcher.seen);
    // The label leaves the window while its frame messages may be queued; one
    // more arrives after it is gone: nothing of the label takes it, the window
    // lets it pass and paints on.
    EXPECT_TRUE(panel->Remove(gif));
    PostMessageW(host->Window(), kGifFrameMessage, serial, 0);
    uitest::Pump();
    EXPECT_GE(watcher.seen, 1);
    EXPECT_EQ(std::vector<DWORD>(120, 0xFFFFFF), Shown("ex-gone-after"));
    Manager().RemoveMessageFilter(&watcher);
}

TEST_F(GifControlTest, WhereTheLabelFindsItsGif) {
    const Manifest one = LoadManifest("one.gif");
    const struct {
        const wchar_t* image;
        const wchar_t* name;
        bool player;
        bool drawn;
    } rows[] = {
        {L"file='311' restype='GIF'", L"311", true, true},   // the module resource
        {L"file='311' restype=''", L"311", false, false},    // a digit name is only a resource
        {L"file='gif/one.gif'", L"gif/one.gif", false, true},  // one frame: a still picture
        {L"gif/plain87.gif", L"gif/plain87.gif", true, true},
    };
    int i = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << i);
        RecordingGifLabel* gif = Add(new RecordingGifLabel, L"where", row.image);
        gif->SetPos(RECT{10 + 20 * i, 10, 22 + 20 * i, 20});
        const uitest::Capture capture = Paint("ex-where");
        EXPECT_EQ(row.player, gif->FindPlayer(row.name) != nullptr);
        EXPECT_EQ(row.drawn, capture.At(10 + 20 * i + 1, 11) != 0xFFFFFF);
        ++i;
    }
    // The still picture is the one frame.
    const uitest::Capture capture = Paint("ex-still-one");
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 12; ++x)
            ASSERT_EQ(OverWhite(one.frames[0].rgba[y * 12 + x]), capture.At(50 + x, 10 + y)) << x << "," << y;

    // With an archive set, a GIF that only the folder has is not found.
    skintest::UseArchive(L"skin.zip", true, skintest::Password().c_str());
    RecordingGifLabel* archived = Add(new RecordingGifLabel, L"a", L"gif/full.gif");
    archived->SetPos(RECT{10, 40, 22, 50});
    RecordingGifLabel* folderOnly = Add(new RecordingGifLabel, L"b", L"gif/folderonly.gif");
    folderOnly->SetPos(RECT{30, 40, 42, 50});
    Paint("ex-archive");
    EXPECT_NE(nullptr, archived->FindPlayer(L"gif/full.gif"));
    EXPECT_EQ(nullptr, folderOnly->FindPlayer(L"gif/folderonly.gif"));
}

TEST_F(GifControlTest, ImageStringsLandWhereTheySay) {
    RecordingGifLabel* gif = Add(new RecordingGifLabel, L"strings", L"");
    CPaintManagerUI& manager = Manager();
    const RECT item = {20, 10, 80, 50};
    const struct {
        const wchar_t* image;
        std::vector<RECT> covered;   // where the picture lands (over white)
    } rows[] = {
        {L"gif/full.gif", {item}},
        {L"file='gif/full.gif' dest='5,5,17,15'", {{25, 15, 37, 25}}},
        {L"file='gif/full.gif' dest='50,30,70,60'", {{70, 40, 80, 50}}},   // limited to the item
        {L"file='gif/full.gif' dest='0,0,6,5' source='0,0,6,5'", {{20, 10, 26, 15}}},
        {L"file='gif/full.gif' dest='0,0,12,10' fade='0'", {}},
        {L"res='gif/full.gif' dest='0,0,12,10' file='gif/version.gif' dest='30,20,42,30'",
         {{20, 10, 32, 20}, {50, 30, 62, 40}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << std::string(row.image, row.image + wcslen(row.image)));
        uitest::Surface surface(100, 60);
        EXPECT_TRUE(gif->DrawGifImage(surface.DC(), RECT{0, 0, 100, 60}, &manager, item, row.image));
        for (int y = 0; y < 60; ++y) {
            for (int x = 0; x < 100; ++x) {
                bool inside = false;
                for (const RECT& r : row.covered) inside = inside || (x >= r.left && x < r.right && y >= r.top && y < r.bottom);
                // Every frame of these files is opaque and holds no white.
                ASSERT_EQ(inside, surface.At(x, y) != 0xFFFFFF) << x << "," << y;
            }
        }
    }
    uitest::Surface surface(10, 10);
    EXPECT_FALSE(gif->DrawGifImage(surface.DC(), RECT{0, 0, 10, 10}, nullptr, item, L"gif/full.gif"));
    EXPECT_FALSE(gif->DrawGifImage(nullptr, RECT{0, 0, 10, 10}, &manager, item, L"gif/full.gif"));
}

// ------------------------------------------------------------ the GDI+ control
TEST_F(GifControlTest, GdiplusControlStepsWithItsTimer) {
    const Manifest manifest = LoadManifest("full.gif");
    CGifAnimationUI* gif = Add(new CGifAnimationUI, L"timer", L"gif/full.gif");
    EXPECT_EQ(Expected(manifest.frames[0]), Shown("gdip-0"));
    ASSERT_EQ(4u, gif->GetFrameCount());
    EXPECT_TRUE(gif->IsPlaying());
    EXPECT_TRUE(TimerRunning(gif));
    // Delays 0, 5, 20 and 4 hundredths.
    const UINT periods[] = {100, 50, 200, 40};
    for (UINT i = 0; i < 4; ++i) EXPECT_EQ(periods[i], gif->GetFramePeriod(i)) << i;

    // After tick k the window shows frame k - 1: the frame for the next
    // paint is chosen after drawing.
    for (int k = 1; k <= 5; ++k) {
        Raise(gif, EventTimer, POINT{}, CGifAnimationUI::kTimerId);
        EXPECT_EQ(static_cast<UINT>(k % 4), gif->GetCurrentFrame());
        char artifact[32];
        snprintf(artifact, sizeof(artifact), "gdip-tick-%d", k);
        EXPECT_EQ(Expected(manifest.frames[(k - 1) % 4]), Shown(artifact)) << "tick " << k;
    }

    // Hidden and shown again: frame 0.
    gif->SetVisible(false);
    EXPECT_FALSE(gif->IsPlaying());
    EXPECT_FALSE(TimerRunning(gif));
    gif->SetVisible(true);
    EXPECT_TRUE(gif->IsPlaying());
    EXPECT_EQ(0u, gif->GetCurrentFrame());
    EXPECT_EQ(Expected(manifest.frames[0]), Shown("gdip-shown"));

    // A new image plays the new file.
    const Manifest next = LoadManifest("dispose.gif");
    gif->SetAttribute(L"bkimage", L"gif/dispose.gif");
    EXPECT_EQ(0u, gif->GetFrameCount());
    EXPECT_EQ(Expected(next.frames[0]), Shown("gdip-new"));
    EXPECT_EQ(7u, gif->GetFrameCount());
    EXPECT_TRUE(gif->IsPlaying());

    // The real timer steps it too.
    const UINT before = gif->GetCurrentFrame();
    ASSERT_TRUE(WaitUntil([&] { return gif->GetCurrentFrame() != before; }, 3000));
}

TEST_F(GifControlTest, GdiplusControlShowsOneFrameWithoutATimer) {
    const Manifest manifest = LoadManifest("one.gif");
    CGifAnimationUI* gif = Add(new CGifAnimationUI, L"one", L"gif/one.gif");
    EXPECT_EQ(Expected(manifest.frames[0]), Shown("gdip-one"));
    EXPECT_EQ(1u, gif->GetFrameCount());
    EXPECT_FALSE(gif->IsPlaying());
    EXPECT_FALSE(TimerRunning(gif));
}

}  // namespace
