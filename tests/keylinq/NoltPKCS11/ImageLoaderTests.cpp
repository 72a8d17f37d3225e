// The image loader when GDI+ cannot allocate: GDI+'s allocation (GdipAlloc)
// is replaced in this program's import table by one that fails from a
// chosen call on, as GDI+ does when memory runs out.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

#include "HostPaths.h"
#include "ImageStatic.h"

namespace {

using GdipAllocFn = void*(WINAPI*)(size_t);
GdipAllocFn g_realAlloc = nullptr;
int g_calls = 0;
int g_failFrom = 0;  // 0: never

void* WINAPI CountingAlloc(size_t size) {
    ++g_calls;
    if (g_failFrom != 0 && g_calls >= g_failFrom) return nullptr;
    return g_realAlloc(size);
}

// The import slot of `name` from `dll` in this program's import table.
void** ImportSlot(const char* dll, const char* name) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
        if (_stricmp(reinterpret_cast<const char*>(base + imp->Name), dll) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(
            base + (imp->OriginalFirstThunk ? imp->OriginalFirstThunk : imp->FirstThunk));
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(byName->Name), name) == 0)
                return reinterpret_cast<void**>(&slots->u1.Function);
        }
    }
    return nullptr;
}

void SetSlot(void** slot, void* value) {
    DWORD old = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, old, &old);
}

TEST(DialogImages, AFailedGdiplusAllocationFailsTheLoadCleanly) {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    ASSERT_EQ(Gdiplus::Ok, Gdiplus::GdiplusStartup(&token, &input, nullptr));
    HMODULE keylinq = LoadLibraryExA(HostEnvPath("KEYLINQ_DLL").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, keylinq);
    HRSRC found = FindResourceW(keylinq, MAKEINTRESOURCEW(9012), L"PNG");
    ASSERT_NE(nullptr, found);
    const void* png = LockResource(LoadResource(keylinq, found));
    const uint32_t size = SizeofResource(keylinq, found);
    ASSERT_NE(nullptr, png);

    void** slot = ImportSlot("gdiplus.dll", "GdipAlloc");
    ASSERT_NE(nullptr, slot);
    g_realAlloc = reinterpret_cast<GdipAllocFn>(*slot);
    SetSlot(slot, reinterpret_cast<void*>(&CountingAlloc));

    // A clean load: the decoded picture (1) and its own copy (2).
    Gdiplus::Image* image = nullptr;
    g_calls = 0;
    ASSERT_EQ(0u, LoadImageFromData(png, size, &image));
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(350u, image->GetWidth());
    EXPECT_EQ(2, g_calls);
    delete image;

    // Either allocation failing: E_OUTOFMEMORY and no image.
    for (int failFrom : {1, 2}) {
        g_calls = 0;
        g_failFrom = failFrom;
        image = reinterpret_cast<Gdiplus::Image*>(1);
        EXPECT_EQ(0x8007000Eu, LoadImageFromData(png, size, &image)) << "allocation " << failFrom;
        EXPECT_EQ(nullptr, image) << "allocation " << failFrom;
    }
    g_failFrom = 0;
    SetSlot(slot, reinterpret_cast<void*>(g_realAlloc));

    ASSERT_EQ(0u, LoadImageFromData(png, size, &image));
    delete image;
    FreeLibrary(keylinq);
    Gdiplus::GdiplusShutdown(token);
}

}  // namespace
