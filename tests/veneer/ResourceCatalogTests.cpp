// The resource catalog: image, layout and text tables from the skin's
// catalog files, groups, which declaration wins, and the text provider.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "PaintManager.h"
#include "ResourceCatalog.h"
#include "SkinTestSupport.h"

using namespace Veneer;
using namespace skintest;

namespace {
class CountingProvider : public IQueryControlText {
public:
    const wchar_t* QueryControlText(const wchar_t* id, const wchar_t* control) override {
        ++asked[id];
        lastControl = control;
        auto it = answers.find(id);
        return it == answers.end() ? nullptr : it->second.c_str();
    }
    std::map<std::wstring, std::wstring> answers;
    std::map<std::wstring, int> asked;
    const wchar_t* lastControl = L"unset";
};

std::wstring Text(CResourceCatalog& catalog, const wchar_t* id) { return catalog.GetText(id).GetData(); }
}  // namespace

class ResourceCatalog : public ::testing::Test {
protected:
    void TearDown() override { ResetSkin(); }
};

TEST_F(ResourceCatalog, ResourceFileThenLanguageFile) {
    UseFolder(SkinFolder());
    CResourceCatalog catalog;
    ASSERT_EQ(1, catalog.LoadCatalog(L"resource.xml"));
    EXPECT_EQ(std::wstring(L"images/button.png"), catalog.GetImagePath(L"IMG_BUTTON").GetData());
    EXPECT_EQ(std::wstring(L"images/rule.png"), catalog.GetImagePath(L"IMG_RULE").GetData());   // last wins, in a group
    EXPECT_EQ(std::wstring(L"layouts/main.xml"), catalog.GetLayoutPath(L"XML_MAIN").GetData()); // first wins
    EXPECT_EQ(std::wstring(L"layouts/nested/child.xml"), catalog.GetLayoutPath(L"XML_CHILD").GetData());
    EXPECT_EQ(std::wstring(L"images/inner.png"), catalog.GetImagePath(L"IMG_INNER").GetData());
    EXPECT_TRUE(catalog.GetImagePath(L"IMG_GROUP").IsEmpty());     // has children: only a group
    EXPECT_TRUE(catalog.GetImagePath(L"IMG_NO_PATH").IsEmpty());   // no path: nothing added
    EXPECT_TRUE(catalog.GetImagePath(L"img_button").IsEmpty());    // ids are case-sensitive
    EXPECT_EQ(3, catalog.GetImageCount());   // IMG_BUTTON, IMG_RULE, IMG_INNER
    EXPECT_EQ(std::wstring(L"Certificate assistant"), Text(catalog, L"TXT_TITLE"));

    ASSERT_EQ(1, catalog.LoadCatalog(L"lan_cn.xml"));
    EXPECT_EQ(std::wstring(L"\u8BC1\u4E66\u52A9\u624B"), Text(catalog, L"TXT_TITLE"));
    EXPECT_EQ(std::wstring(L"\u7EED\u671F"), Text(catalog, L"TXT_RENEW"));
    EXPECT_EQ(std::wstring(L"\u8BC1\u4E66\u5DF2\u8FC7\u671F\uFF0C\u8BF7\u53CA\u65F6\u66F4\u65B0\u3002"),
              Text(catalog, L"TXT_EXPIRED"));
    EXPECT_EQ(std::wstring(L"TXT_NO_VALUE"), Text(catalog, L"TXT_NO_VALUE"));   // no provider: the id
    EXPECT_EQ(std::wstring(L"images/button.png"), catalog.GetImagePath(L"IMG_BUTTON").GetData());
    EXPECT_EQ(0, catalog.LoadCatalog(L"missing.xml"));
    EXPECT_EQ(std::wstring(L"\u7EED\u671F"), Text(catalog, L"TXT_RENEW"));
    catalog.Release();
    EXPECT_EQ(0, catalog.GetImageCount());
    EXPECT_EQ(0, catalog.GetTextCount());
}

TEST_F(ResourceCatalog, FromTheArchiveTextAndResource) {
    UseResourceArchive(Password().c_str());
    CResourceCatalog catalog;
    ASSERT_EQ(1, catalog.LoadCatalog(L"lan_cn.xml"));
    EXPECT_EQ(std::wstring(L"\u7EED\u671F"), Text(catalog, L"TXT_RENEW"));

    ASSERT_EQ(1, catalog.LoadCatalog(L"<R><Text id=\"TXT_RENEW\" value=\"again\"/><Xml ID=\"L\" PATH=\"p\"/></R>"));
    EXPECT_EQ(std::wstring(L"again"), Text(catalog, L"TXT_RENEW"));
    EXPECT_EQ(std::wstring(L"p"), catalog.GetLayoutPath(L"L").GetData());
    EXPECT_EQ(0, catalog.LoadCatalog(L"<R><Text id=\"x\" value=\"1\"></R>"));
    EXPECT_EQ(std::wstring(L"x"), Text(catalog, L"x"));

    CPaintManagerUI::SetInstance(GetModuleHandleW(nullptr));
    ASSERT_EQ(1, catalog.LoadCatalog(L"201"));   // the "xml" resource 201
    EXPECT_EQ(std::wstring(L"layouts/nested/child.xml"), catalog.GetLayoutPath(L"XML_CHILD").GetData());
    EXPECT_EQ(0, catalog.LoadCatalog(L"202"));
    CPaintManagerUI::SetInstance(nullptr);
}

TEST_F(ResourceCatalog, TheProviderIsAskedOncePerIdUntilReloaded) {
    CResourceCatalog catalog;
    CountingProvider provider;
    provider.answers[L"KNOWN"] = L"first";
    catalog.SetTextProvider(&provider);
    catalog.LoadCatalog(L"<R><Text id=\"FILE\" value=\"from file\"/></R>");

    EXPECT_EQ(std::wstring(L"first"), Text(catalog, L"KNOWN"));
    EXPECT_EQ(std::wstring(L"first"), Text(catalog, L"KNOWN"));
    EXPECT_EQ(1, provider.asked[L"KNOWN"]);
    EXPECT_EQ(nullptr, provider.lastControl);
    EXPECT_EQ(std::wstring(L""), Text(catalog, L"UNKNOWN"));
    EXPECT_EQ(std::wstring(L""), Text(catalog, L"UNKNOWN"));
    EXPECT_EQ(1, provider.asked[L"UNKNOWN"]);
    EXPECT_EQ(std::wstring(L"from file"), Text(catalog, L"FILE"));
    EXPECT_EQ(0, provider.asked[L"FILE"]);
    EXPECT_EQ(std::wstring(L""), Text(catalog, nullptr));

    provider.answers[L"KNOWN"] = L"second";
    catalog.ReloadTexts(L"known");   // cached ids match case-insensitively
    EXPECT_EQ(2, provider.asked[L"known"] + provider.asked[L"KNOWN"]);
    EXPECT_EQ(std::wstring(L"second"), Text(catalog, L"KNOWN"));
    provider.answers.erase(L"KNOWN");
    catalog.ReloadTexts(L"KNOWN");   // a null answer keeps the cached text
    EXPECT_EQ(std::wstring(L"second"), Text(catalog, L"KNOWN"));
    provider.answers[L"NEW"] = L"fresh";
    catalog.ReloadTexts(L"NEW");     // not cached yet: cached now
    EXPECT_EQ(std::wstring(L"fresh"), Text(catalog, L"NEW"));
    EXPECT_EQ(1, provider.asked[L"NEW"]);

    catalog.SetTextProvider(nullptr);
    catalog.ReloadTexts(L"KNOWN");
    EXPECT_EQ(std::wstring(L"second"), Text(catalog, L"KNOWN"));
}

TEST_F(ResourceCatalog, ElementsWithoutTheirValuesAddNothing) {
    CResourceCatalog catalog;
    ASSERT_EQ(1, catalog.LoadCatalog(L"<R><Image id=\"A\" path=\"a.png\"/><Image id=\"B\"/>"
                                     L"<Image path=\"c.png\"/><Text value=\"v\"/><Text id=\"T\"/></R>"));
    EXPECT_EQ(1, catalog.GetImageCount());
    EXPECT_TRUE(catalog.GetImagePath(L"B").IsEmpty());
    EXPECT_EQ(0, catalog.GetTextCount());
    EXPECT_EQ(&GetResourceCatalog(), &GetResourceCatalog());
}
