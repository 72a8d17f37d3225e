// Images: decoding against the host's stb_image reference, masks, the look-up
// order, catalog ids, retries, adjustable images, and the caches of image
// specifications, class defaults and styles.
#include <gtest/gtest.h>

#include <objidl.h>
#include <gdiplus.h>

#include <string>
#include <vector>

#include "HostPaths.h"
#include "PaintManager.h"
#include "ResourceCatalog.h"
#include "SkinRenderer.h"
#include "SkinTestSupport.h"

using namespace Veneer;
using namespace skintest;

namespace {
struct Reference {
    int width = 0, height = 0;
    std::vector<BYTE> rgba;
};

Reference LoadReference(const wchar_t* file) {
    Reference ref;
    const std::vector<BYTE> data = ReadHostFile(SkinBuildDir() + L"reference\\" + file + L".rgba");
    if (data.size() < 8) return ref;
    ref.width = data[0] | data[1] << 8 | data[2] << 16 | data[3] << 24;
    ref.height = data[4] | data[5] << 8 | data[6] << 16 | data[7] << 24;
    ref.rgba.assign(data.begin() + 8, data.end());
    return ref;
}

// The DIB's pixels as 0xAARRGGBB values in memory order.
std::vector<DWORD> Pixels(const LoadedImage* image) {
    DIBSECTION section = {};
    if (!image || GetObjectW(image->bitmap, sizeof(section), &section) != sizeof(section)) return {};
    const DWORD* bits = static_cast<const DWORD*>(section.dsBm.bmBits);
    return std::vector<DWORD>(bits, bits + image->width * image->height);
}

std::vector<DWORD> Premultiplied(const Reference& ref, DWORD mask = 0) {
    std::vector<DWORD> out;
    for (size_t i = 0; i + 3 < ref.rgba.size(); i += 4) {
        DWORD r = ref.rgba[i], g = ref.rgba[i + 1], b = ref.rgba[i + 2], a = ref.rgba[i + 3];
        if (a != 255) {
            r = r * a / 255;
            g = g * a / 255;
            b = b * a / 255;
        }
        DWORD v = a << 24 | r << 16 | g << 8 | b;
        out.push_back(v == mask ? 0 : v);
    }
    return out;
}

class ImageCache : public ::testing::Test {
protected:
    void TearDown() override { ResetSkin(); }
};
}  // namespace

TEST_F(ImageCache, EveryImageEqualsTheHostDecoderPremultipliedTopDown) {
    const wchar_t* images[] = {L"images/button.png", L"images/button@150.png", L"images/rule.png",
                               L"images/rule@150.png", L"images/resource.png", L"images/tile.bmp",
                               L"order/which.png"};
    for (int source = 0; source < 2; ++source) {
        if (source == 0) UseFolder(SkinFolder());
        else UseArchive(L"skin.zip", true, Password().c_str());
        CPaintManagerUI manager;
        for (const wchar_t* name : images) {
            const std::wstring file = std::wstring(name).substr(std::wstring(name).find(L'/') + 1);
            const Reference ref = LoadReference(file.c_str());
            ASSERT_GT(ref.width, 0) << "no host reference for " << std::string(file.begin(), file.end());
            LoadedImage* image = manager.GetOrLoadImage(name);
            ASSERT_NE(nullptr, image);
            EXPECT_EQ(ref.width, image->width);
            EXPECT_EQ(ref.height, image->height);
            const std::vector<DWORD> expected = Premultiplied(ref);
            EXPECT_TRUE(Pixels(image) == expected) << std::string(file.begin(), file.end());
            // Top-down: memory order is what GDI draws from the top row.
            HDC dc = CreateCompatibleDC(nullptr);
            HGDIOBJ old = SelectObject(dc, image->bitmap);
            for (int y = 0; y < image->height; ++y)
                for (int x = 0; x < image->width; ++x) {
                    const DWORD v = expected[y * image->width + x];
                    EXPECT_EQ(RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF), GetPixel(dc, x, y));
                }
            SelectObject(dc, old);
            DeleteDC(dc);
            EXPECT_EQ(image, manager.GetOrLoadImage(name));   // cached
        }
    }
}

TEST_F(ImageCache, StatedPixelsOfTheRuleImageAndMasks) {
    UseFolder(SkinFolder());
    CPaintManagerUI manager;
    LoadedImage* plain = manager.GetOrLoadImage(L"images/rule.png");
    ASSERT_NE(nullptr, plain);
    const std::vector<DWORD> expected = {0xFFFF00FF, 0x80800080, 0xFFFF0000, 0x00000000,
                                         0x40020507, 0xFFFFFFFF, 0x01000100, 0xFEC76331};
    EXPECT_TRUE(Pixels(plain) == expected);
    EXPECT_TRUE(plain->hasAlpha);
    EXPECT_FALSE(manager.GetOrLoadImage(L"images/resource.png")->hasAlpha);

    // The mask hits opaque magenta only, not the half-transparent one.
    LoadedImage* masked = manager.AddImage(nullptr, L"images/rule.png", 0xFFFF00FF, false);
    ASSERT_NE(nullptr, masked);
    std::vector<DWORD> maskedExpected = expected;
    maskedExpected[0] = 0;
    EXPECT_TRUE(Pixels(masked) == maskedExpected);
    EXPECT_EQ(0xFFFF00FFu, masked->mask);
    EXPECT_EQ(masked, manager.GetOrLoadImage(L"images/rule.png"));   // replaced: the last one wins
    LoadedImage* opaqueMasked = manager.AddImage(nullptr, L"images/resource.png", 0xFF0000FF, false);
    EXPECT_TRUE(opaqueMasked->hasAlpha);
    EXPECT_EQ(0u, Pixels(opaqueMasked)[4]);

    for (const wchar_t* modifier : {L"mask='#FFFF00FF'", L"mask='FFFF00FF'"})
        EXPECT_EQ(0xFFFF00FFu, manager.GetImageDrawSpec(L"images/rule.png", modifier)->mask);
}

TEST_F(ImageCache, LookUpOrderResourceThenSkinThenPlainPath) {
    CPaintManagerUI::SetInstance(GetModuleHandleW(nullptr));
    const std::vector<BYTE> resourcePng = SkinSource(L"images/resource.png");
    const std::vector<BYTE> whichPng = SkinSource(L"order/which.png");
    const std::vector<BYTE> rulePng = SkinSource(L"images/rule.png");
    auto read = [](const wchar_t* name, const wchar_t* type) {
        BYTE* bytes = nullptr;
        DWORD size = 0;
        std::vector<BYTE> out;
        if (CSkinRenderer::ReadImageBytes(name, type, &bytes, &size)) out.assign(bytes, bytes + size);
        free(bytes);
        return out;
    };
    // A plain file of the same relative name in the working folder.
    CreateDirectoryW(L"order", nullptr);
    ASSERT_TRUE(WriteHostFile(L"order\\which.png", rulePng));

    UseArchive(L"skin.zip", true, Password().c_str());
    EXPECT_TRUE(read(L"ORDER", L"PNG") == resourcePng);
    EXPECT_TRUE(read(L"101", L"PNG") == resourcePng);
    EXPECT_TRUE(read(L"order/which.png", nullptr) == whichPng);         // the archive before the path
    EXPECT_TRUE(read(L"order/which.png", L"PNG") == rulePng);           // no such resource: the path
    UseFolder(SkinFolder());
    EXPECT_TRUE(read(L"order/which.png", nullptr) == whichPng);         // the folder before the path
    UseFolder(SkinFolder() + L"images\\");
    EXPECT_TRUE(read(L"order/which.png", nullptr) == rulePng);          // not in the folder: the path
    const std::wstring absolute = SkinFolder() + L"images\\button.png";
    EXPECT_TRUE(read(absolute.c_str(), nullptr) == SkinSource(L"images/button.png"));

    CPaintManagerUI manager;
    LoadedImage* fromResource = manager.AddImage(L"PNG", L"101", 0, false);
    ASSERT_NE(nullptr, fromResource);
    EXPECT_EQ(std::wstring(L"PNG"), fromResource->resourceType.GetData());
    EXPECT_EQ(nullptr, manager.AddImage(L"PNG", L"ORDER", 0, false));   // with a type: a number only
    EXPECT_EQ(nullptr, manager.AddImage(nullptr, L"", 0, false));
    DeleteFileW(L"order\\which.png");
    RemoveDirectoryW(L"order");
    CPaintManagerUI::SetInstance(nullptr);
}

TEST_F(ImageCache, CatalogIdsAndRetriesOfMissingImages) {
    UseArchive(L"skin.zip", true, Password().c_str());
    CResourceCatalog& catalog = GetResourceCatalog();
    ASSERT_EQ(1, catalog.LoadCatalog(L"resource.xml"));
    CPaintManagerUI manager;
    LoadedImage* byId = manager.GetOrLoadImage(L"IMG_BUTTON");
    ASSERT_NE(nullptr, byId);
    EXPECT_TRUE(Pixels(byId) == Premultiplied(LoadReference(L"button.png")));
    Gdiplus::Image* gdiplus = CSkinRenderer::LoadGdiplusImage(L"IMG_BUTTON");
    ASSERT_NE(nullptr, gdiplus);
    EXPECT_EQ(8u, gdiplus->GetWidth());
    CSkinRenderer::FreeGdiplusImage(gdiplus);
    EXPECT_EQ(nullptr, CSkinRenderer::LoadGdiplusImage(L"images/missing.png"));
    catalog.Release();

    // Missing images are not cached: a later request finds the file.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"veneer-retry\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    DeleteFileW((folder + L"late.png").c_str());
    UseFolder(folder);
    EXPECT_EQ(nullptr, manager.GetOrLoadImage(L"late.png"));
    ASSERT_TRUE(WriteHostFile(folder + L"late.png", SkinSource(L"order/which.png")));
    LoadedImage* late = manager.GetOrLoadImage(L"late.png");
    ASSERT_NE(nullptr, late);
    EXPECT_EQ(2, late->width);
    ASSERT_TRUE(WriteHostFile(folder + L"broken.png", {'n', 'o', 't', ' ', 'p', 'n', 'g'}));
    EXPECT_EQ(nullptr, manager.GetOrLoadImage(L"broken.png"));
    DeleteFileW((folder + L"late.png").c_str());
    DeleteFileW((folder + L"broken.png").c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST_F(ImageCache, AdjustableImagesKeepAndRestoreTheirPixels) {
    UseFolder(SkinFolder());
    CPaintManagerUI manager;
    LoadedImage* image = manager.AddImage(nullptr, L"images/button.png", 0, true);
    ASSERT_NE(nullptr, image);
    EXPECT_TRUE(image->adjustable);
    DIBSECTION section = {};
    GetObjectW(image->bitmap, sizeof(section), &section);
    ASSERT_EQ(section.dsBm.bmBits, image->pixels);
    ASSERT_NE(nullptr, image->savedPixels);
    const size_t bytes = static_cast<size_t>(image->width) * image->height * 4;
    EXPECT_EQ(0, memcmp(image->pixels, image->savedPixels, bytes));
    const std::vector<DWORD> before = Pixels(image);
    memset(image->pixels, 0x5A, bytes);
    CSkinRenderer::RestoreImagePixels(image);
    EXPECT_TRUE(Pixels(image) == before);
    LoadedImage* plain = manager.AddImage(nullptr, L"images/rule.png", 0, false);
    EXPECT_EQ(nullptr, plain->pixels);
    EXPECT_EQ(nullptr, plain->savedPixels);
    CSkinRenderer::RestoreImagePixels(plain);   // nothing to restore
}

TEST_F(ImageCache, SharedImagesAreFoundByEveryManager) {
    UseFolder(SkinFolder());
    CPaintManagerUI owner;
    LoadedImage* shared = owner.AddImage(nullptr, L"images/tile.bmp", 0, false, true);
    ASSERT_NE(nullptr, shared);
    CPaintManagerUI other;
    EXPECT_EQ(shared, other.GetOrLoadImage(L"images/tile.bmp"));
    CPaintManagerUI sharing;
    sharing.SetUseSharedResources(true);
    LoadedImage* routed = sharing.GetOrLoadImage(L"order/which.png");
    EXPECT_EQ(routed, other.GetOrLoadImage(L"order/which.png"));
}

TEST(ImageDrawSpecs, ParsingTable) {
    CPaintManagerUI manager;
    manager.GetDpiScaler()->SetScale(100);
    struct Case {
        const wchar_t *image, *modifier, *file;
        RECT dest, source, corner;
        BYTE fade;
        bool hole, xtiled, ytiled, hsl;
        const wchar_t* resourceType;
    } cases[] = {
        {L"btn.png", L"dest='1,2,3,4'", L"btn.png", {1, 2, 3, 4}, {}, {}, 255, false, false, false, false, L""},
        {L"file='a.png' source='0,0,60,24' corner='4,4,4,4'", nullptr, L"a.png", {}, {0, 0, 60, 24},
         {4, 4, 4, 4}, 255, false, false, false, false, L""},
        {L"file='a.png' fade='128'", L"file='b.png' hole='TRUE' xtiled='true' ytiled='no' hsl='true'", L"b.png", {},
         {}, {}, 128, true, true, false, true, L""},
        {L"file='a.png'source='1,1,1,1'", nullptr, L"a.png", {}, {}, {}, 255, false, false, false, false, L""},
        {L"file='a.png' corner='4,5'", nullptr, L"a.png", {}, {}, {4, 5, 0, 0}, 255, false, false, false, false, L""},
        {L"file='a.png' source='-1,+2,3'", nullptr, L"a.png", {}, {-1, 2, 3, 0}, {}, 255, false, false, false, false,
         L""},
        {L"file='' unknown='1' source='5,6,7,8'", nullptr, L"file='' unknown='1' source='5,6,7,8'", {},
         {5, 6, 7, 8}, {}, 255, false, false, false, false, L""},
        {L"res='101' restype='PNG'", nullptr, L"101", {}, {}, {}, 255, false, false, false, false, L"PNG"},
        {L"file = 'spaced.png' source='1,2,3,4", nullptr, L"spaced.png", {}, {}, {}, 255, false, false, false,
         false, L""},
    };
    for (const Case& c : cases) {
        ImageDrawSpec* spec = manager.GetImageDrawSpec(c.image, c.modifier);
        ASSERT_NE(nullptr, spec);
        const std::wstring label(c.image);
        const std::string where(label.begin(), label.end());
        EXPECT_EQ(std::wstring(c.file), spec->file.GetData()) << where;
        EXPECT_EQ(0, memcmp(&c.dest, &spec->dest, sizeof(RECT))) << where;
        EXPECT_EQ(0, memcmp(&c.source, &spec->source, sizeof(RECT))) << where;
        EXPECT_EQ(0, memcmp(&c.corner, &spec->corner, sizeof(RECT))) << where;
        EXPECT_EQ(c.fade, spec->fade) << where;
        EXPECT_EQ(c.hole, spec->hole) << where;
        EXPECT_EQ(c.xtiled, spec->xtiled) << where;
        EXPECT_EQ(c.ytiled, spec->ytiled) << where;
        EXPECT_EQ(c.hsl, spec->hsl) << where;
        EXPECT_EQ(std::wstring(c.resourceType), spec->resourceType.GetData()) << where;
        EXPECT_EQ(std::wstring(c.image), spec->imageString.GetData());
        EXPECT_EQ(spec, manager.GetImageDrawSpec(c.image, c.modifier));
    }
    EXPECT_EQ(nullptr, manager.GetImageDrawSpec(L"", nullptr));
    manager.RemoveAllDrawSpecs();
}

TEST(ClassDefaultsAndStyles, WhichDeclarationWins) {
    CPaintManagerUI manager;
    manager.AddClassDefaults(L"Button", L"height=\"20\"");
    manager.AddClassDefaults(L"Button", L"height=\"30\"");
    EXPECT_EQ(std::wstring(L"height=\"30\""), manager.GetClassDefaults(L"Button"));
    EXPECT_EQ(nullptr, manager.GetClassDefaults(L"button"));
    manager.AddStyle(L"big", L"font=\"1\"");
    manager.AddStyle(L"big", L"font=\"2\"");
    EXPECT_EQ(std::wstring(L"font=\"1\""), manager.GetStyle(L"big"));
    manager.AddStyle(L"shared-only", L"width=\"5\"", true);
    manager.AddClassDefaults(L"SharedClass", L"a=\"1\"", true);
    CPaintManagerUI other;
    EXPECT_EQ(std::wstring(L"width=\"5\""), other.GetStyle(L"shared-only"));
    EXPECT_EQ(std::wstring(L"a=\"1\""), other.GetClassDefaults(L"SharedClass"));
    EXPECT_EQ(nullptr, other.GetStyle(L"big"));
    other.AddStyle(L"shared-only", L"width=\"6\"");   // the window's own comes first
    EXPECT_EQ(std::wstring(L"width=\"6\""), other.GetStyle(L"shared-only"));
    manager.RemoveAllStyles();
    manager.RemoveAllClassDefaults();
    EXPECT_EQ(nullptr, manager.GetStyle(L"big"));
    EXPECT_EQ(nullptr, manager.GetClassDefaults(L"Button"));
    EXPECT_EQ(std::wstring(L"width=\"5\""), manager.GetStyle(L"shared-only"));
}
