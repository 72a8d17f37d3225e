// OLE drag and drop: the data object, enumerator and drop source's COM
// answers, the manager as drop target fed directly (DIBs, bitmap files,
// metafiles, foreign formats, effects), OLE's clipboard reading a data
// object, registration on a thread without COM, and a drag by SendInput
// from a drag-enabled control onto another window.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DesktopInput.h"
#include "DragDrop.h"
#include "PaintManager.h"
#include "SkinRenderer.h"
#include "SkinTestSupport.h"
#include "StackLayout.h"
#include "WindowWnd.h"
#include "support/UITestHost.h"

using namespace Veneer;

namespace {

const FORMATETC kBitmapFormat = {CF_BITMAP, nullptr, DVASPECT_CONTENT, -1, TYMED_GDI};
const FORMATETC kDibFormat = {CF_DIB, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
const FORMATETC kDropFormat = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
const FORMATETC kMetafileFormat = {CF_ENHMETAFILE, nullptr, DVASPECT_CONTENT, -1, TYMED_ENHMF};
const FORMATETC kTextFormat = {CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};

// A data object with one format, its medium handed over.
CIDataObject* DataWith(FORMATETC format, STGMEDIUM medium) {
    CIDataObject* data = new CIDataObject(nullptr);
    data->AddRef();
    data->SetData(&format, &medium, TRUE);
    return data;
}

STGMEDIUM GlobalMedium(const void* bytes, size_t size) {
    STGMEDIUM medium = {};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = GlobalAlloc(GMEM_MOVEABLE, size);
    memcpy(GlobalLock(medium.hGlobal), bytes, size);
    GlobalUnlock(medium.hGlobal);
    return medium;
}

// The header of a packed 2 x 2 DIB at the start of the block.
BITMAPINFOHEADER* TwoByTwoHeader(std::vector<BYTE>& dib, WORD bits) {
    BITMAPINFOHEADER* header = reinterpret_cast<BITMAPINFOHEADER*>(dib.data());
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = 2;
    header->biHeight = 2;
    header->biPlanes = 1;
    header->biBitCount = bits;
    header->biCompression = BI_RGB;
    return header;
}

// A packed 2 x 2 24-bit DIB of one colour (0x00RRGGBB).
std::vector<BYTE> PackedDib(DWORD rgb) {
    std::vector<BYTE> dib(sizeof(BITMAPINFOHEADER) + 2 * 8, 0);
    TwoByTwoHeader(dib, 24);
    for (int row = 0; row < 2; ++row)
        for (int x = 0; x < 2; ++x) {
            BYTE* p = dib.data() + sizeof(BITMAPINFOHEADER) + row * 8 + x * 3;
            p[0] = BYTE(rgb);
            p[1] = BYTE(rgb >> 8);
            p[2] = BYTE(rgb >> 16);
        }
    return dib;
}

DWORD BitmapPixel(HBITMAP bitmap, int x, int y) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    const COLORREF c = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteDC(dc);
    return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

// ------------------------------------------------------------------ COM answers

TEST(DataObjectTest, AnswersWithTheComCodes) {
    CIDataObject* data = new CIDataObject(nullptr);
    data->AddRef();
    FORMATETC bitmap = kBitmapFormat;
    FORMATETC asked = kBitmapFormat;
    EXPECT_EQ(DV_E_TYMED, data->QueryGetData(&asked));   // nothing stored
    STGMEDIUM medium = {};
    medium.tymed = TYMED_GDI;
    medium.hBitmap = CreateBitmap(2, 2, 1, 32, nullptr);
    EXPECT_EQ(E_INVALIDARG, data->SetData(nullptr, &medium, TRUE));
    EXPECT_EQ(E_INVALIDARG, data->SetData(&bitmap, nullptr, TRUE));
    EXPECT_EQ(S_OK, data->SetData(&bitmap, &medium, TRUE));

    struct Query {
        CLIPFORMAT format;
        DWORD aspect;
        DWORD tymed;
        HRESULT expected;
    } queries[] = {
        {CF_BITMAP, DVASPECT_CONTENT, TYMED_GDI, S_OK},
        {CF_BITMAP, DVASPECT_CONTENT, TYMED_GDI | TYMED_HGLOBAL, S_OK},
        {CF_DIB, DVASPECT_CONTENT, TYMED_GDI, DV_E_CLIPFORMAT},
        {CF_BITMAP, DVASPECT_CONTENT, TYMED_HGLOBAL, DV_E_TYMED},
        {CF_BITMAP, DVASPECT_ICON, TYMED_GDI, DV_E_DVASPECT},
    };
    for (const Query& q : queries) {
        FORMATETC f = {q.format, nullptr, q.aspect, -1, q.tymed};
        EXPECT_EQ(q.expected, data->QueryGetData(&f)) << q.format << " " << q.tymed;
    }
    EXPECT_EQ(E_INVALIDARG, data->QueryGetData(nullptr));

    // GetData gives a copy of the stored medium.
    STGMEDIUM copy = {};
    ASSERT_EQ(S_OK, data->GetData(&asked, &copy));
    EXPECT_EQ(DWORD(TYMED_GDI), copy.tymed);
    EXPECT_NE(nullptr, copy.hBitmap);
    EXPECT_NE(medium.hBitmap, copy.hBitmap);
    ReleaseStgMedium(&copy);
    FORMATETC dib = kDibFormat;
    EXPECT_EQ(DV_E_FORMATETC, data->GetData(&dib, &copy));
    EXPECT_EQ(E_INVALIDARG, data->GetData(nullptr, &copy));

    FORMATETC out = {};
    EXPECT_EQ(E_INVALIDARG, data->GetCanonicalFormatEtc(&asked, nullptr));
    EXPECT_EQ(DATA_S_SAMEFORMATETC, data->GetCanonicalFormatEtc(&asked, &out));
    EXPECT_EQ(E_NOTIMPL, data->GetDataHere(&asked, &copy));
    EXPECT_EQ(OLE_E_ADVISENOTSUPPORTED, data->DAdvise(&asked, 0, nullptr, nullptr));
    EXPECT_EQ(E_NOTIMPL, data->DUnadvise(0));
    EXPECT_EQ(OLE_E_ADVISENOTSUPPORTED, data->EnumDAdvise(nullptr));
    IEnumFORMATETC* formats = nullptr;
    EXPECT_EQ(E_POINTER, data->EnumFormatEtc(DATADIR_GET, nullptr));
    EXPECT_EQ(E_NOTIMPL, data->EnumFormatEtc(DATADIR_SET, &formats));
    void* unknown = nullptr;
    EXPECT_EQ(S_OK, data->QueryInterface(IID_IDataObject, &unknown));
    EXPECT_EQ(E_NOINTERFACE, data->QueryInterface(IID_IDropTarget, &unknown));
    EXPECT_EQ(nullptr, unknown);
    data->Release();
    EXPECT_EQ(0u, data->Release());
}

TEST(EnumFormatEtcTest, NextSkipResetClone) {
    std::vector<FORMATETC> formats = {kBitmapFormat, kDibFormat, kMetafileFormat};
    CEnumFormatEtc* e = new CEnumFormatEtc(formats);
    e->AddRef();
    FORMATETC out[4] = {};
    ULONG fetched = 99;
    // OLE's clipboard asks for one format without a count.
    EXPECT_EQ(S_OK, e->Next(1, out, nullptr));
    EXPECT_EQ(CF_BITMAP, out[0].cfFormat);
    EXPECT_EQ(S_FALSE, e->Next(2, out, nullptr));       // more than one needs the count
    EXPECT_EQ(S_FALSE, e->Next(0, out, &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(S_FALSE, e->Skip(2));                      // exactly the rest: not moved
    EXPECT_EQ(S_OK, e->Next(4, out, &fetched) == S_FALSE ? S_OK : E_FAIL);
    EXPECT_EQ(2u, fetched);
    EXPECT_EQ(CF_DIB, out[0].cfFormat);
    EXPECT_EQ(CF_ENHMETAFILE, out[1].cfFormat);
    EXPECT_EQ(S_FALSE, e->Next(1, out, &fetched));      // at the end
    EXPECT_EQ(0u, fetched);
    e->Reset();
    EXPECT_EQ(S_OK, e->Skip(1));
    IEnumFORMATETC* clone = nullptr;
    EXPECT_EQ(E_POINTER, e->Clone(nullptr));
    ASSERT_EQ(S_OK, e->Clone(&clone));
    EXPECT_EQ(S_OK, clone->Next(2, out, &fetched));
    EXPECT_EQ(2u, fetched);
    EXPECT_EQ(CF_DIB, out[0].cfFormat);
    clone->Release();
    EXPECT_EQ(0u, e->Release());
}

TEST(DropSourceTest, ContinuesDropsOrCancels) {
    CIDropSource* source = new CIDropSource;
    source->AddRef();
    EXPECT_EQ(DRAGDROP_S_CANCEL, source->QueryContinueDrag(TRUE, MK_LBUTTON));
    EXPECT_EQ(S_OK, source->QueryContinueDrag(FALSE, MK_LBUTTON));
    EXPECT_EQ(S_OK, source->QueryContinueDrag(FALSE, MK_RBUTTON | MK_SHIFT));
    EXPECT_FALSE(source->IsDropped());
    EXPECT_EQ(DRAGDROP_S_DROP, source->QueryContinueDrag(FALSE, MK_SHIFT));
    EXPECT_TRUE(source->IsDropped());
    EXPECT_EQ(DRAGDROP_S_USEDEFAULTCURSORS, source->GiveFeedback(DROPEFFECT_COPY));
    EXPECT_EQ(0u, source->Release());
}

// ------------------------------------------------------------------ drop windows

// A window whose manager gets its messages and that keeps the bitmaps sent
// to it with STM_SETIMAGE (as a picture control would).
class DropWindow : public CWindowWnd {
public:
    const wchar_t* GetWindowClassName() const override { return L"VeneerTestDropWindow"; }
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == STM_SETIMAGE && wParam == IMAGE_BITMAP) {
            HBITMAP previous = image;
            image = reinterpret_cast<HBITMAP>(lParam);
            ++images;
            return reinterpret_cast<LRESULT>(previous);
        }
        if (message == WM_CREATE) registered = manager.AttachWindow(m_hWnd);
        LRESULT result = 0;
        if (manager.HandleWindowMessage(message, wParam, lParam, result)) return result;
        return CWindowWnd::HandleMessage(message, wParam, lParam);
    }
    ~DropWindow() override {
        if (image) DeleteObject(image);
    }
    CPaintManagerUI manager;
    HBITMAP image = nullptr;
    int images = 0;
    bool registered = false;
};

class DropTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CPaintManagerUI::SetInstance(GetModuleHandleW(nullptr));
        OleInitialize(nullptr);
    }
    void SetUp() override {
        window.reset(new DropWindow);
        ASSERT_NE(nullptr, window->Create(nullptr, L"drop", WS_POPUP, 0, 500, 200, 100, 80));
        ASSERT_TRUE(window->registered);
    }
    void TearDown() override {
        if (window->GetHWND()) DestroyWindow(*window);
        window.reset();
    }
    // DragEnter then Drop with the data; the effects each reported.
    void DropData(IDataObject* data, DWORD keys, DWORD allowed, DWORD* enterEffect, DWORD* dropEffect) {
        IDropTarget* target = &window->manager;
        POINTL point = {550, 240};
        *enterEffect = allowed;
        EXPECT_EQ(S_OK, target->DragEnter(data, keys, point, enterEffect));
        *dropEffect = allowed;
        EXPECT_EQ(S_OK, target->Drop(data, keys, point, dropEffect));
    }
    std::unique_ptr<DropWindow> window;
};

TEST_F(DropTest, DroppedFormatsBecomeTheWindowsBitmap) {
    DWORD enter = 0, drop = 0;
    // A DIB whose block holds header and bits.
    {
        const std::vector<BYTE> dib = PackedDib(0x336699);
        CIDataObject* data = DataWith(kDibFormat, GlobalMedium(dib.data(), dib.size()));
        DropData(data, 0, DROPEFFECT_COPY | DROPEFFECT_MOVE, &enter, &drop);
        data->Release();
        EXPECT_EQ(DWORD(DROPEFFECT_COPY), enter);
        EXPECT_EQ(DWORD(DROPEFFECT_NONE), drop);
        ASSERT_EQ(1, window->images);
        EXPECT_EQ(0x336699u, BitmapPixel(window->image, 1, 1));
    }
    // A block too short for what its header says: nothing is sent.
    {
        const std::vector<BYTE> dib = PackedDib(0x112233);
        CIDataObject* data = DataWith(kDibFormat, GlobalMedium(dib.data(), sizeof(BITMAPINFOHEADER) + 4));
        DropData(data, 0, DROPEFFECT_COPY, &enter, &drop);
        data->Release();
        EXPECT_EQ(1, window->images);
    }
    // A bitmap file from the shell (CF_HDROP of a .bmp the test wrote).
    {
        wchar_t folder[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, folder);
        const std::wstring file = std::wstring(folder) + L"veneer-drop.bmp";
        const std::vector<BYTE> dib = PackedDib(0xC08040);
        BITMAPFILEHEADER head = {};
        head.bfType = 0x4D42;
        head.bfOffBits = sizeof(head) + sizeof(BITMAPINFOHEADER);
        head.bfSize = DWORD(sizeof(head) + dib.size());
        std::vector<BYTE> bytes(reinterpret_cast<BYTE*>(&head), reinterpret_cast<BYTE*>(&head) + sizeof(head));
        bytes.insert(bytes.end(), dib.begin(), dib.end());
        HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
        CloseHandle(h);
        std::vector<BYTE> drop(sizeof(DROPFILES) + (file.size() + 2) * sizeof(wchar_t), 0);
        DROPFILES* files = reinterpret_cast<DROPFILES*>(drop.data());
        files->pFiles = sizeof(DROPFILES);
        files->fWide = TRUE;
        memcpy(drop.data() + sizeof(DROPFILES), file.c_str(), file.size() * sizeof(wchar_t));
        CIDataObject* data = DataWith(kDropFormat, GlobalMedium(drop.data(), drop.size()));
        DWORD dropEffect = 0;
        DropData(data, 0, DROPEFFECT_COPY, &enter, &dropEffect);
        data->Release();
        DeleteFileW(file.c_str());
        ASSERT_EQ(2, window->images);
        EXPECT_EQ(0xC08040u, BitmapPixel(window->image, 0, 0));
    }
    // An enhanced metafile: played into a bitmap of its bounds.
    {
        HDC recorder = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
        HBRUSH brush = CreateSolidBrush(RGB(0x20, 0xA0, 0x60));
        RECT fill = {0, 0, 10, 10};
        FillRect(recorder, &fill, brush);
        DeleteObject(brush);
        STGMEDIUM medium = {};
        medium.tymed = TYMED_ENHMF;
        medium.hEnhMetaFile = CloseEnhMetaFile(recorder);
        CIDataObject* data = DataWith(kMetafileFormat, medium);
        DropData(data, 0, DROPEFFECT_COPY, &enter, &drop);
        data->Release();
        ASSERT_EQ(3, window->images);
        BITMAP info = {};
        GetObjectW(window->image, sizeof(info), &info);
        EXPECT_GE(info.bmWidth, 9);
        EXPECT_EQ(0x20A060u, BitmapPixel(window->image, 4, 4));
    }
    // A format the window does not accept: no effect, nothing sent.
    {
        const char text[] = "text";
        CIDataObject* data = DataWith(kTextFormat, GlobalMedium(text, sizeof(text)));
        DropData(data, 0, DROPEFFECT_COPY, &enter, &drop);
        data->Release();
        EXPECT_EQ(DWORD(DROPEFFECT_NONE), enter);
        EXPECT_EQ(3, window->images);
    }
    IDropTarget* target = &window->manager;
    DWORD effect = DROPEFFECT_COPY;
    EXPECT_EQ(E_INVALIDARG, target->DragEnter(nullptr, 0, POINTL{0, 0}, &effect));
    EXPECT_EQ(E_INVALIDARG, target->Drop(nullptr, 0, POINTL{0, 0}, &effect));
}

// Colour counts from another process's drop data: a table longer than the
// block is refused however the count wraps in 32 bits; an 8-bit DIB's count
// is bounded by its format and its bits follow the bounded table.
TEST_F(DropTest, DroppedColourCountsAreBoundedAndNeverWrap) {
    DWORD enter = 0, drop = 0;
    {
        // 24-bit, 0x40000001 colours (x4 wraps to 4): the block holds header, 4 bytes and the bits.
        std::vector<BYTE> dib = PackedDib(0x445566);
        reinterpret_cast<BITMAPINFOHEADER*>(dib.data())->biClrUsed = 0x40000001;
        dib.insert(dib.begin() + sizeof(BITMAPINFOHEADER), 4, 0);
        CIDataObject* data = DataWith(kDibFormat, GlobalMedium(dib.data(), dib.size()));
        DropData(data, 0, DROPEFFECT_COPY, &enter, &drop);
        data->Release();
        EXPECT_EQ(0, window->images);
    }
    {
        // 8-bit 2 x 2, every pixel colour 7 of a full 256-entry table, and a count far above 256.
        std::vector<BYTE> dib(sizeof(BITMAPINFOHEADER) + 256 * 4 + 2 * 4, 0);
        TwoByTwoHeader(dib, 8)->biClrUsed = 0x40000001;
        RGBQUAD* table = reinterpret_cast<RGBQUAD*>(dib.data() + sizeof(BITMAPINFOHEADER));
        table[7] = RGBQUAD{0x30, 0x20, 0x10, 0};
        BYTE* bits = dib.data() + sizeof(BITMAPINFOHEADER) + 256 * 4;
        for (int row = 0; row < 2; ++row) bits[row * 4] = bits[row * 4 + 1] = 7;
        CIDataObject* data = DataWith(kDibFormat, GlobalMedium(dib.data(), dib.size()));
        DropData(data, 0, DROPEFFECT_COPY, &enter, &drop);
        data->Release();
        ASSERT_EQ(1, window->images);
        EXPECT_EQ(0x102030u, BitmapPixel(window->image, 0, 0));
        EXPECT_EQ(0x102030u, BitmapPixel(window->image, 1, 1));
    }
}

TEST_F(DropTest, EffectFollowsModifiersAndWhatTheSourceAllows) {
    const std::vector<BYTE> dib = PackedDib(0x010203);
    CIDataObject* data = DataWith(kDibFormat, GlobalMedium(dib.data(), dib.size()));
    const DWORD all = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    struct Row {
        DWORD keys;
        DWORD allowed;
        DWORD expected;
    } rows[] = {
        {0, all, DROPEFFECT_COPY},
        {0, DROPEFFECT_MOVE | DROPEFFECT_LINK, DROPEFFECT_MOVE},
        {0, DROPEFFECT_LINK, DROPEFFECT_LINK},
        {MK_CONTROL, all, DROPEFFECT_COPY},
        {MK_SHIFT, all, DROPEFFECT_MOVE},
        {MK_CONTROL | MK_SHIFT, all, DROPEFFECT_LINK},
        {MK_CONTROL, DROPEFFECT_MOVE, DROPEFFECT_NONE},
        {MK_SHIFT, DROPEFFECT_COPY, DROPEFFECT_NONE},
        {0, DROPEFFECT_NONE, DROPEFFECT_NONE},
    };
    IDropTarget* target = &window->manager;
    for (const Row& row : rows) {
        DWORD effect = row.allowed;
        EXPECT_EQ(S_OK, target->DragEnter(data, row.keys, POINTL{550, 240}, &effect));
        EXPECT_EQ(row.expected, effect) << row.keys << " " << row.allowed;
        effect = row.allowed;
        EXPECT_EQ(S_OK, target->DragOver(row.keys, POINTL{551, 241}, &effect));
        EXPECT_EQ(row.expected, effect) << row.keys << " " << row.allowed;
        EXPECT_EQ(S_OK, target->DragLeave());
        effect = row.allowed;
        target->DragOver(row.keys, POINTL{551, 241}, &effect);
        EXPECT_EQ(DWORD(DROPEFFECT_NONE), effect);   // nothing allowed after leaving
    }
    data->Release();
    EXPECT_EQ(0, window->images);
}

TEST_F(DropTest, RegistrationHoldsTheManagerWithoutEverDeletingIt) {
    // OLE holds a reference while the window is registered; the destroy
    // revokes it, and the manager is still there for its window object.
    EXPECT_GT(window->manager.GetRefCount(), 0);
    EXPECT_TRUE(window->manager.IsDropTargetRegistered());
    DestroyWindow(*window);
    EXPECT_FALSE(window->manager.IsDropTargetRegistered());
    EXPECT_EQ(0, window->manager.GetRefCount());
    window->manager.AddRef();
    EXPECT_EQ(0u, window->manager.Release());
    EXPECT_EQ(0u, window->manager.GetAcceptedFormatCount());
}

// On a thread without COM the registration fails, the window still paints,
// and the failed registration's release leaves the manager alive.
TEST(DropRegistrationTest, NoComMeansNoDropsButAPaintedWindow) {
    CPaintManagerUI::SetInstance(GetModuleHandleW(nullptr));
    bool registered = true;
    DWORD centre = 0;
    LONG refs = -1;
    std::thread worker([&] {
        DropWindow window;
        window.Create(nullptr, L"nocom", WS_POPUP, 0, 300, 420, 60, 40);
        registered = window.registered;
        refs = window.manager.GetRefCount();
        CVerticalLayoutUI* root = new CVerticalLayoutUI;
        root->SetBkColor(0xFF445566);
        window.manager.SetRootControl(root);
        ShowWindow(window, SW_SHOWNOACTIVATE);
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        HDC dc = GetDC(window);
        const COLORREF c = GetPixel(dc, 30, 20);
        ReleaseDC(window, dc);
        centre = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
        DestroyWindow(window);
    });
    worker.join();
    EXPECT_FALSE(registered);
    EXPECT_EQ(0, refs);
    EXPECT_EQ(0x445566u, centre);
}

// OLE's clipboard takes a data object with a control's picture and renders
// it: the flush enumerates the formats as OLE does (one at a time, no count).
TEST(ClipboardTest, OleRendersTheControlsPicture) {
    CPaintManagerUI::SetInstance(GetModuleHandleW(nullptr));
    OleInitialize(nullptr);
    uitest::HostWindow host(120, 60, false);
    CVerticalLayoutUI* root = new CVerticalLayoutUI;
    CControlUI* control = new CControlUI;
    control->SetBkColor(0xFF2080C0);
    root->AddItem(control);
    host.Manager().SetRootControl(root);
    root->SetPos(RECT{0, 0, 120, 60});
    HBITMAP picture = CSkinRenderer::RenderControlBitmap(&host.Manager(), control, control->GetPos());
    ASSERT_NE(nullptr, picture);
    STGMEDIUM medium = {};
    medium.tymed = TYMED_GDI;
    medium.hBitmap = picture;
    CIDataObject* data = DataWith(kBitmapFormat, medium);
    ASSERT_EQ(S_OK, OleSetClipboard(data));
    ASSERT_EQ(S_OK, OleFlushClipboard());
    data->Release();
    ASSERT_TRUE(OpenClipboard(nullptr));
    HBITMAP copy = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP));
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(0x2080C0u, BitmapPixel(copy, 60, 30));
    EmptyClipboard();
    CloseClipboard();
}

// ------------------------------------------------------------------ a user's drag

class DragControl : public CControlUI {
public:
    explicit DragControl(DWORD color) {
        SetBkColor(color);
        SetDragEnabled(true);
    }
    UINT GetBehaviorFlags() const override { return 1; }
};

// The source window, a drag-enabled control of its own colour inside; the
// target, a registered drop window. `modifiers` are held through the drag.
struct DragScene {
    DropWindow source, target;
    bool Make() {
        if (!source.Create(nullptr, L"source", WS_POPUP | WS_VISIBLE, 0, 200, 200, 160, 100)) return false;
        if (!target.Create(nullptr, L"target", WS_POPUP | WS_VISIBLE, 0, 500, 200, 160, 100)) return false;
        CVerticalLayoutUI* root = new CVerticalLayoutUI;
        root->SetBkColor(0xFFFFFFFF);
        root->SetPadding(0, 0, 0, 0);
        root->AddItem(new DragControl(0xFFD04010));
        source.manager.SetRootControl(root);
        RedrawWindow(source, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        RedrawWindow(target, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        return true;
    }
    // Drags from the source's centre to the target's while this thread
    // serves both windows (and OLE's loop runs on it).
    void DragAcross(std::vector<WORD> modifiers) {
        RECT s = {}, t = {};
        GetWindowRect(source, &s);
        GetWindowRect(target, &t);
        const POINT from = {(s.left + s.right) / 2, (s.top + s.bottom) / 2};
        const POINT to = {(t.left + t.right) / 2, (t.top + t.bottom) / 2};
        bool done = false;
        std::thread user([&] {
            desk::Drag(from, to, 10, modifiers);
            done = true;
        });
        desk::WaitFor([&] {
            uitest::Pump();
            return done;
        }, 15000);
        user.join();
        desk::WaitFor([&] {
            uitest::Pump();
            return target.images > 0;
        }, 1000);
    }
    // A press on the control and a move with `keys` as the source window
    // reads them, the cursor resting over the target: a drag that starts
    // drops there at once, the button being up. (Modifiers injected around a
    // real drag do not hold under Wine: its X11 driver resets them from the
    // pointer's own events.)
    void PressAndMove(WPARAM keys) {
        RECT t = {};
        GetWindowRect(target, &t);
        desk::MoveTo({(t.left + t.right) / 2, (t.top + t.bottom) / 2});
        uitest::Pump();
        SendMessageW(source, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(80, 50));
        SendMessageW(source, WM_MOUSEMOVE, MK_LBUTTON | keys, MAKELPARAM(90, 50));
        SendMessageW(source, WM_LBUTTONUP, 0, MAKELPARAM(90, 50));
        const int before = target.images;
        desk::WaitFor([&] {
            uitest::Pump();
            return target.images > before;
        }, 1000);
    }
};

TEST_F(DropTest, DragOfAControlOntoAnotherWindowSendsItsPicture) {
    window.reset();   // this case has windows of its own
    window.reset(new DropWindow);
    DragScene scene;
    ASSERT_TRUE(scene.Make());
    scene.DragAcross({});
    ASSERT_EQ(1, scene.target.images) << desk::InputState(scene.target);
    EXPECT_EQ(0xD04010u, BitmapPixel(scene.target.image, 10, 10));
    EXPECT_EQ(DWORD(DROPEFFECT_NONE), scene.source.manager.GetLastDragEffect());

    // With Shift or Ctrl held no drag starts; without, the same press and
    // move do start one.
    scene.PressAndMove(MK_SHIFT);
    scene.PressAndMove(MK_CONTROL);
    EXPECT_EQ(1, scene.target.images);
    scene.PressAndMove(0);
    EXPECT_EQ(2, scene.target.images);
    DestroyWindow(scene.source);
    DestroyWindow(scene.target);
}

}  // namespace
