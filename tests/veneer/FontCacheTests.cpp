// Fonts: what GDI is asked for, measured metrics, the window's and the shared
// maps, and private fonts registered from the skin.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PaintManager.h"
#include "SkinTestSupport.h"

using namespace Veneer;
using namespace skintest;

namespace {
LOGFONTW LogFontOf(HFONT font) {
    LOGFONTW lf = {};
    GetObjectW(font, sizeof(lf), &lf);
    return lf;
}

LOGFONTW DefaultGuiFont() { return LogFontOf(static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT))); }

std::wstring FaceDrawnWith(const wchar_t* face) {
    LOGFONTW lf = DefaultGuiFont();
    wcsncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
    // A height not asked for before: Wine keeps recently resolved fonts and
    // would give the face it found before a font was registered.
    static int height = 13;
    lf.lfHeight = -(++height);
    HFONT font = CreateFontIndirectW(&lf);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    wchar_t used[LF_FACESIZE] = {0};
    GetTextFaceW(dc, LF_FACESIZE, used);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(font);
    return used;
}

// Records the private font handles released through this program's import
// of RemoveFontMemResourceEx (Wine's own is a stub that removes nothing).
std::vector<HANDLE> g_released;
BOOL WINAPI RecordingRemoveFontMemResourceEx(HANDLE font) {
    g_released.push_back(font);
    return TRUE;
}

bool HookImport(const char* function, void* replacement) {
    void* original = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"gdi32.dll"), function));
    BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    bool hooked = false;
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
        for (auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk); thunk->u1.Function; ++thunk) {
            if (reinterpret_cast<void*>(thunk->u1.Function) != original) continue;
            DWORD protect = 0;
            VirtualProtect(&thunk->u1.Function, sizeof(void*), PAGE_READWRITE, &protect);
            thunk->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&thunk->u1.Function, sizeof(void*), protect, &protect);
            hooked = true;
        }
    }
    return hooked;
}

bool RunningUnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

class FontCache : public ::testing::Test {
protected:
    void SetUp() override {
        window = CreateTestWindow();
        ASSERT_NE(nullptr, window);
    }
    void TearDown() override {
        DestroyWindow(window);
        ResetSkin();
    }
    HWND window = nullptr;
};
}  // namespace

TEST_F(FontCache, FontsAreCreatedAsAsked) {
    CPaintManagerUI manager;
    manager.AttachWindow(window);
    EXPECT_NE(nullptr, manager.GetPaintDC());
    const int scale = manager.GetDpiScaler()->GetScale();
    const LOGFONTW base = DefaultGuiFont();
    struct Case {
        const wchar_t* face;
        int size;
        bool bold, underline, italic;
        const wchar_t* expectedFace;
    } cases[] = {
        {L"Liberation Mono", 12, true, false, true, L"Liberation Mono"},
        {L"DejaVu Sans", 9, false, true, false, L"DejaVu Sans"},
        {L"", 16, false, false, false, base.lfFaceName},
        {L"A face name that is far longer than thirty-one characters", 10, false, false, false,
         L"A face name that is far longer "},
    };
    int id = 10;
    for (const Case& c : cases) {
        HFONT font = manager.AddFont(c.face, id, c.size, c.bold, c.underline, c.italic);
        ASSERT_NE(nullptr, font);
        const LOGFONTW lf = LogFontOf(font);
        EXPECT_EQ(-MulDiv(c.size, scale, 100), lf.lfHeight);
        EXPECT_EQ(c.bold ? 700 : base.lfWeight, lf.lfWeight);
        EXPECT_EQ(1, lf.lfCharSet);
        EXPECT_EQ(c.underline ? 1 : 0, lf.lfUnderline);
        EXPECT_EQ(c.italic ? 1 : 0, lf.lfItalic);
        EXPECT_EQ(std::wstring(c.expectedFace), lf.lfFaceName);
        EXPECT_EQ(base.lfWidth, lf.lfWidth);
        EXPECT_EQ(base.lfEscapement, lf.lfEscapement);
        EXPECT_EQ(base.lfOrientation, lf.lfOrientation);
        EXPECT_EQ(base.lfStrikeOut, lf.lfStrikeOut);
        EXPECT_EQ(base.lfOutPrecision, lf.lfOutPrecision);
        EXPECT_EQ(base.lfClipPrecision, lf.lfClipPrecision);
        EXPECT_EQ(base.lfQuality, lf.lfQuality);
        EXPECT_EQ(base.lfPitchAndFamily, lf.lfPitchAndFamily);

        // Metrics measured in the manager's DC equal another DC's.
        FontEntry* entry = manager.GetFontEntry(id);
        ASSERT_NE(nullptr, entry);
        EXPECT_EQ(font, entry->font);
        EXPECT_EQ(c.size, entry->size);
        HDC other = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(other, font);
        TEXTMETRICW metrics = {};
        GetTextMetricsW(other, &metrics);
        SelectObject(other, old);
        DeleteDC(other);
        EXPECT_EQ(0, memcmp(&metrics, &entry->metrics, sizeof(metrics)));
        ++id;
    }
}

TEST_F(FontCache, WindowAndSharedMapsAndDefaults) {
    CPaintManagerUI manager;
    manager.AttachWindow(window);
    FontEntry* shared = manager.GetDefaultFontEntry();
    const LOGFONTW base = DefaultGuiFont();
    EXPECT_EQ(std::wstring(base.lfFaceName), shared->faceName.GetData());
    EXPECT_EQ(-base.lfHeight, shared->size);
    EXPECT_EQ(1, LogFontOf(shared->font).lfCharSet);
    EXPECT_NE(0, shared->metrics.tmHeight);
    EXPECT_EQ(0xFF000000u, manager.GetDefaultFontColor());
    EXPECT_EQ(0xFFA7A6AAu, manager.GetDefaultDisabledColor());
    EXPECT_EQ(0xFFBAE4FFu, manager.GetDefaultSelectedBkColor());

    HFONT first = manager.AddFont(L"DejaVu Sans", 1, 10, false, false, false);
    HFONT last = manager.AddFont(L"DejaVu Sans", 1, 11, true, false, false);
    EXPECT_EQ(last, manager.GetFontHandle(1));           // the last declaration wins
    EXPECT_EQ(GetObjectType(first), 0u);                 // the first handle is deleted
    EXPECT_EQ(shared->font, manager.GetFontHandle(99));  // unknown id: the default font
    EXPECT_EQ(shared->font, manager.GetFontHandle(-1));
    HFONT foreign = CreateFontW(10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, L"DejaVu Sans");
    EXPECT_EQ(shared, manager.GetFontEntryByHandle(foreign));
    DeleteObject(foreign);
    EXPECT_EQ(last, manager.GetFontEntryByHandle(last)->font);
    EXPECT_EQ(last, manager.FindFont(L"DejaVu Sans", 11, true, false, false));
    EXPECT_EQ(nullptr, manager.FindFont(L"DejaVu Sans", 11, false, false, false));

    HFONT sharedFont = manager.AddFont(L"DejaVu Sans", 7, 13, false, false, false, true);
    CPaintManagerUI other;
    EXPECT_EQ(sharedFont, other.GetFontHandle(7));   // found in the shared map

    manager.SetDefaultFont(L"DejaVu Sans", 15, false, true, false);
    FontEntry* own = manager.GetDefaultFontEntry();
    EXPECT_NE(shared, own);
    EXPECT_EQ(std::wstring(L"DejaVu Sans"), own->faceName.GetData());
    EXPECT_EQ(15, own->size);
    EXPECT_EQ(shared, other.GetDefaultFontEntry());
    manager.RemoveAllFonts();
    EXPECT_EQ(own->font, manager.GetFontHandle(1));
}

TEST_F(FontCache, PrivateFontFromTheSkinLivesWithTheManager) {
    UseArchive(L"skin.zip", true, Password().c_str());
    ASSERT_NE(std::wstring(L"Liberation Mono"), FaceDrawnWith(L"Liberation Mono"));
    {
        CPaintManagerUI manager;
        manager.AttachWindow(window);
        EXPECT_FALSE(manager.AddFontFile(L"fonts/missing.ttf"));
        ASSERT_TRUE(manager.AddFontFile(L"fonts/LiberationMono-Regular.ttf"));
        EXPECT_EQ(std::wstring(L"Liberation Mono"), FaceDrawnWith(L"Liberation Mono"));
    }
    if (!RunningUnderWine()) {
        EXPECT_NE(std::wstring(L"Liberation Mono"), FaceDrawnWith(L"Liberation Mono"));
    }
}

TEST_F(FontCache, TheManagerReleasesEveryPrivateFont) {
    UseArchive(L"skin.zip", true, Password().c_str());
    ASSERT_TRUE(HookImport("RemoveFontMemResourceEx", reinterpret_cast<void*>(&RecordingRemoveFontMemResourceEx)));
    g_released.clear();
    {
        CPaintManagerUI manager;
        ASSERT_TRUE(manager.AddFontFile(L"fonts/LiberationMono-Regular.ttf"));
        UseFolder(SkinFolder());
        ASSERT_TRUE(manager.AddFontFile(L"fonts\\LiberationMono-Regular.ttf"));
        EXPECT_TRUE(g_released.empty());
    }
    EXPECT_EQ(2u, g_released.size());
    if (g_released.size() == 2) {
        EXPECT_NE(g_released[0], g_released[1]);
    }
}
