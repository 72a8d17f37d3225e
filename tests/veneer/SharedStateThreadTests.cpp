// Two threads at once on the process-wide state: archive reads through the
// cached reader, look-ups in the shared resource set and catalog texts
// (one thread reloading them).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "PaintManager.h"
#include "ResourceCatalog.h"
#include "SkinArchive.h"
#include "SkinTestSupport.h"

using namespace Veneer;
using namespace skintest;

namespace {
class FixedProvider : public IQueryControlText {
public:
    const wchar_t* QueryControlText(const wchar_t*, const wchar_t*) override { return L"renewal finished"; }
};
}  // namespace

TEST(SharedState, TwoThreadsGetExactResults) {
    UseArchive(L"skin.zip", true, Password().c_str());
    const std::vector<BYTE> layout = SkinSource(L"layouts/main.xml");
    const std::vector<BYTE> seq = SkinSource(L"stored/dialog.xml");
    ASSERT_FALSE(layout.empty());

    FixedProvider provider;
    CResourceCatalog& catalog = GetResourceCatalog();
    catalog.SetTextProvider(&provider);
    catalog.LoadCatalog(L"<R><Text id=\"THREAD_TITLE\" value=\"title\"/></R>");

    {
        CPaintManagerUI setup;
        setup.AddStyle(L"thread-style", L"width=\"10\"", true);
    }

    const int rounds = 10000;
    std::atomic<int> failures{0};
    auto work = [&](int which) {
        CPaintManagerUI manager;
        for (int i = 0; i < rounds; ++i) {
            SkinFileBytes bytes;
            const bool first = (i + which) % 2 == 0;
            const std::vector<BYTE>& expected = first ? layout : seq;
            if (!ReadSkinFile(first ? L"layouts/main.xml" : L"stored/dialog.xml", nullptr, SkinFileLayout, bytes) ||
                bytes.size != expected.size() || memcmp(bytes.data, expected.data(), bytes.size) != 0)
                ++failures;
            const wchar_t* style = manager.GetStyle(L"thread-style");
            if (!style || std::wstring(style) != L"width=\"10\"") ++failures;
            if (which == 1) catalog.ReloadTexts(L"THREAD_STATUS");
            const CUIString status = catalog.GetText(L"THREAD_STATUS");
            if (!(status == L"renewal finished")) ++failures;
            if (!(catalog.GetText(L"THREAD_TITLE") == L"title")) ++failures;
        }
    };
    std::thread a(work, 0), b(work, 1);
    a.join();
    b.join();
    EXPECT_EQ(0, failures.load());
    catalog.SetTextProvider(nullptr);
    catalog.Release();
    ResetSkin();
}
