// The markup parser: trees, entities, whitespace, attribute limits, every
// failure message with its location, and loading from text, folder and archive.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PaintManager.h"
#include "SkinTestSupport.h"
#include "SkinXml.h"

using namespace Veneer;
using namespace skintest;

namespace {
std::wstring Str(const wchar_t* s) { return s ? std::wstring(s) : std::wstring(L"<null>"); }

// The tree as text: name(attr=value,...)[text]{children}.
std::wstring Dump(CSkinXmlNode node) {
    std::wstring out;
    for (; node.IsValid(); node = node.GetSibling()) {
        out += node.GetName();
        out += L"(";
        for (int i = 0; i < node.GetAttributeCount(); ++i) {
            if (i) out += L",";
            out += Str(node.GetAttributeName(i)) + L"=" + Str(node.GetAttributeValue(i));
        }
        out += L")";
        std::wstring text = node.GetValue();
        if (!text.empty()) out += L"[" + text + L"]";
        if (node.HasChildren()) out += L"{" + Dump(node.GetChild()) + L"}";
    }
    return out;
}
}  // namespace

TEST(SkinXml, DocumentsGiveTheirTrees) {
    struct Case {
        const wchar_t *text, *tree;
    } cases[] = {
        {L"<a/>", L"a()"},
        {L"<?xml version=\"1.0\"?>\r\n<!-- c -->\r\n<Window size=\"1,2\" a = \"x y\">\r\n"
         L"  <Label name=\"l\" text=\"&amp;&lt;&gt;&quot;&apos;\"/>\r\n  <B>text</B>\r\n</Window>",
         L"Window(size=1,2,a=x y)[\r\n  ]{Label(name=l,text=&<>\"')B()[text]}"},
        {L"<a x=\"it's <b> ok\"/>", L"a(x=it's <b> ok)"},
        {L"<a x=\"&#65;&#x42;&#1;&nbsp;&unknown\"/>", L"a(x=AB&nbsp;&unknown)"},
        {L"<a x=\"&#;&#x;|&#12a;\"/>", L"a(x=|&#12a;)"},
        {L"<a>before<b/></a>", L"a()[before]{b()}"},
        {L"<Window><Child/>", L"Window(){Child()}"},
        {L"<a/></b> anything <c", L"a()"},
        {L"<a>open text", L"a()[open text]"},
        {L"<a:b c_d=\"1\"/>", L"a:b(c_d=1)"},
        {L"<a x=\"line\r\nbreak\">t</a>", L"a(x=line\r\nbreak)[t]"},
        {L"<a x=\"1\">\"q\"<b y = \"2\" z=\"&amp;\"/></a>", L"a(x=1)[\"q\"]{b(y=2,z=&)}"},
    };
    for (const Case& c : cases) {
        CSkinXml xml;
        ASSERT_TRUE(xml.LoadFromText(c.text)) << Str(c.text) << " " << Str(xml.GetLastErrorMessage());
        EXPECT_EQ(std::wstring(c.tree), Dump(xml.GetRoot())) << Str(c.text);
    }
}

TEST(SkinXml, TextsWithoutElementsLoadWithoutRoot) {
    for (const wchar_t* text : {L"", L"  \r\n\t", L"<!-- only a comment -->", L"<?xml version=\"1.0\"?>"}) {
        CSkinXml xml;
        EXPECT_TRUE(xml.LoadFromText(text));
        EXPECT_FALSE(xml.GetRoot().IsValid());
        EXPECT_EQ(nullptr, xml.GetRoot().GetName());
        EXPECT_EQ(0, xml.GetRoot().GetAttributeCount());
    }
}

TEST(SkinXml, NumericReferencesAboveFFFFBecomeSurrogatePairs) {
    CSkinXml xml;
    ASSERT_TRUE(xml.LoadFromText(L"<a x=\"[&#x1F600;][&#128512;][&#x110000;][&#99999999999999999999999;]\"/>"));
    EXPECT_EQ(std::wstring(L"[\xD83D\xDE00][\xD83D\xDE00][][]"), xml.GetRoot().GetAttributeValue(0));
}

TEST(SkinXml, WhitespaceIsKeptOrFolded) {
    CSkinXml keep(true), fold(false);
    const wchar_t* text = L"<a x=\"a  b\t\tc\">p  q</a>";
    ASSERT_TRUE(keep.LoadFromText(text));
    ASSERT_TRUE(fold.LoadFromText(text));
    EXPECT_EQ(std::wstring(L"a  b\t\tc"), keep.GetRoot().GetAttributeValue(0));
    EXPECT_EQ(std::wstring(L"p  q"), keep.GetRoot().GetValue());
    EXPECT_EQ(std::wstring(L"a b\t\tc"), fold.GetRoot().GetAttributeValue(0));
    EXPECT_EQ(std::wstring(L"p q"), fold.GetRoot().GetValue());
}

TEST(SkinXml, EveryFailureGivesItsMessageAndLocation) {
    struct Case {
        const wchar_t *text, *message, *location;
    } cases[] = {
        {L"text", L"Expected start tag", L"text"},
        {L"\xFEFF<a/>", L"Expected start tag", L"\xFEFF<a/>"},
        {L"<Window><A><B/>", L"Expected start tag", L""},
        {L"<a><b/>text</a>", L"Expected start tag", L"text</a>"},
        {L"<a", L"Error parsing element name", L"a"},
        {L"<a x=\"1\"", L"Expected start-tag closing", L""},
        {L"<a x=\"1\" / >", L"Expected start-tag closing", L"/ >"},
        {L"<a><b><c>text", L"Expected end-tag start", L""},
        {L"<a></ab>", L"Unmatched closing tag", L">"},
        {L"<ab></a>", L"Unmatched closing tag", L"a>"},
        {L"<a></A>", L"Unmatched closing tag", L"A>"},
        {L"<a></a x>", L"Unmatched closing tag", L">"},
        {L"<my-element/>", L"Error while parsing attributes", L"/>"},
        {L"<a x/>", L"Error while parsing attributes", L"/>"},
        {L"<a x='1'/>", L"Expected attribute value", L"1'/>"},
        {L"<a x=1/>", L"Expected attribute value", L"/>"},
        {L"<a x=\"1", L"Error while parsing attribute string", L""},
    };
    for (const Case& c : cases) {
        CSkinXml xml;
        EXPECT_FALSE(xml.LoadFromText(c.text)) << Str(c.text);
        EXPECT_EQ(std::wstring(c.message), xml.GetLastErrorMessage()) << Str(c.text);
        EXPECT_EQ(std::wstring(c.location), xml.GetLastErrorLocation()) << Str(c.text);
        EXPECT_FALSE(xml.GetRoot().IsValid());
    }
    CSkinXml longLocation;
    EXPECT_FALSE(longLocation.LoadFromText((L"<a>" + std::wstring(80, L'z')).c_str() + 3));
    EXPECT_EQ(std::wstring(49, L'z'), longLocation.GetLastErrorLocation());
}

TEST(SkinXml, NestingIsRefusedPastTheFixedDepth) {
    auto nested = [](int depth, bool closed) {
        std::wstring text;
        for (int i = 0; i < depth; ++i) text += L"<a>";
        if (closed)
            for (int i = 0; i < depth; ++i) text += L"</a>";
        return text;
    };
    CSkinXml deepest;
    ASSERT_TRUE(deepest.LoadFromText(nested(CSkinXml::kMaxDepth, true).c_str())) << deepest.GetLastErrorMessage();
    EXPECT_EQ(unsigned(CSkinXml::kMaxDepth) + 1, deepest.GetElementCount());
    // One level more, closed or not, and far more (90 kB, well inside what a layout may be):
    // refused at the first element past the limit, before the stack is at risk.
    for (int depth : {CSkinXml::kMaxDepth + 1, 30000}) {
        for (bool closed : {true, false}) {
            CSkinXml xml;
            EXPECT_FALSE(xml.LoadFromText(nested(depth, closed).c_str())) << depth;
            EXPECT_EQ(std::wstring(L"Elements nested too deeply"), xml.GetLastErrorMessage()) << depth;
            EXPECT_EQ(nested(depth, closed).substr(3 * CSkinXml::kMaxDepth + 1, 49), xml.GetLastErrorLocation());
            EXPECT_FALSE(xml.GetRoot().IsValid());
        }
    }
}

TEST(SkinXml, AttributeLimits) {
    std::wstring text = L"<a";
    for (int i = 0; i < 65; ++i) text += L" n" + std::to_wstring(i) + L"=\"" + std::to_wstring(i) + L"\"";
    text += L" long=\"" + std::wstring(600, L'v') + L"\"/>";
    CSkinXml xml;
    ASSERT_TRUE(xml.LoadFromText(text.c_str()));
    CSkinXmlNode root = xml.GetRoot();
    EXPECT_EQ(64, root.GetAttributeCount());
    EXPECT_EQ(std::wstring(L"n63"), root.GetAttributeName(63));
    EXPECT_EQ(std::wstring(L""), root.GetAttributeName(64));
    EXPECT_EQ(std::wstring(L""), root.GetAttributeValue(-1));
    wchar_t buffer[500];
    EXPECT_TRUE(root.CopyAttributeValue(L"N7", buffer));
    EXPECT_EQ(std::wstring(L"7"), buffer);
    EXPECT_FALSE(root.CopyAttributeValue(L"n64", buffer));
    EXPECT_FALSE(root.CopyAttributeValue(L"long", buffer));

    CSkinXml longValue;
    ASSERT_TRUE(longValue.LoadFromText((L"<a long=\"" + std::wstring(600, L'v') + L"\"/>").c_str()));
    wmemset(buffer, L'#', 500);   // not cleared: the copy terminates itself
    CSkinXmlNode node = longValue.GetRoot();
    EXPECT_TRUE(node.CopyAttributeValue(L"LONG", buffer));
    EXPECT_EQ(std::wstring(499, L'v'), buffer);
    EXPECT_FALSE(CSkinXmlNode().CopyAttributeValue(L"long", buffer));
    EXPECT_EQ(nullptr, CSkinXmlNode().GetAttributeName(0));
}

TEST(SkinXml, BytesSkipTheByteOrderMark) {
    const char utf8[] = "\xEF\xBB\xBF<a t=\"\xE8\xAF\x81\xE4\xB9\xA6\"/>";
    CSkinXml xml;
    ASSERT_TRUE(xml.LoadFromBytes(reinterpret_cast<const BYTE*>(utf8), sizeof(utf8) - 1));
    EXPECT_EQ(std::wstring(L"\u8BC1\u4E66"), xml.GetRoot().GetAttributeValue(0));
}

class SkinXmlFiles : public ::testing::Test {
protected:
    void TearDown() override { ResetSkin(); }

    static void ExpectLoad(const wchar_t* name, const wchar_t* failure) {
        CSkinXml xml;
        const bool loaded = xml.LoadFromFile(name);
        if (!failure) {
            EXPECT_TRUE(loaded) << Str(name) << " " << Str(xml.GetLastErrorMessage());
            EXPECT_TRUE(xml.GetRoot().IsValid()) << Str(name);
        } else {
            EXPECT_FALSE(loaded) << Str(name);
            EXPECT_EQ(std::wstring(failure), xml.GetLastErrorMessage()) << Str(name);
            EXPECT_EQ(std::wstring(), xml.GetLastErrorLocation());
        }
    }
};

namespace {
// Each name's outcome read from the folder and from the archive (null: loads).
const struct {
    const wchar_t *name, *fromFolder, *fromArchive;
} kLoads[] = {
    {L"layouts/main.xml", nullptr, nullptr},
    {L"layouts\\nested\\child.xml", nullptr, nullptr},
    {L"big/4mib.xml", nullptr, nullptr},
    {L"big/4mib1.xml", L"File too large", L"File is empty or too large"},
    {L"big/empty.xml", L"File is empty", L"File is empty or too large"},
    {L"missing.xml", L"Error opening file", L"Could not find ziped file"},
};
}  // namespace

TEST_F(SkinXmlFiles, FromTheFolder) {
    UseFolder(SkinFolder());
    for (const auto& load : kLoads) ExpectLoad(load.name, load.fromFolder);
    // Never the name as a plain path.
    ExpectLoad((SkinFolder() + L"layouts\\main.xml").c_str(), L"Error opening file");

    CSkinXml xml;
    ASSERT_TRUE(xml.LoadFromFile(L"layouts/main.xml"));
    CSkinXmlNode root = xml.GetRoot();
    EXPECT_EQ(std::wstring(L"Window"), root.GetName());
    CSkinXmlNode title = root.GetChild().GetSibling().GetSibling().GetSibling().GetChild();
    EXPECT_EQ(std::wstring(L"Certaide & key <1>"), title.GetAttributeValue(L"text"));
    EXPECT_EQ(std::wstring(L"\u7EED\u671F"), title.GetSibling().GetChild().GetAttributeValue(L"text"));
}

TEST_F(SkinXmlFiles, AShortReadGivesCouldNotReadFile) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"veneer-lock-test\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(WriteHostFile(folder + L"locked.xml", SkinSource(L"layouts/main.xml")));
    HANDLE file = CreateFileW((folder + L"locked.xml").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    ASSERT_TRUE(LockFile(file, 100, 0, 50, 0));
    // Wine enforces no byte-range lock against reads through another handle.
    HANDLE reader = CreateFileW((folder + L"locked.xml").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    BYTE probe[200];
    DWORD got = 0;
    const bool enforced = !ReadFile(reader, probe, sizeof(probe), &got, nullptr);
    CloseHandle(reader);
    if (!enforced) {
        UnlockFile(file, 100, 0, 50, 0);
        CloseHandle(file);
        DeleteFileW((folder + L"locked.xml").c_str());
        RemoveDirectoryW(folder.c_str());
        // A short read all the same: a Linux sysfs file reports 4,096 bytes
        // and holds a few.
        const wchar_t* sysfs = L"Z:\\sys\\devices\\system\\cpu\\";
        if (GetFileAttributesW((std::wstring(sysfs) + L"online").c_str()) == INVALID_FILE_ATTRIBUTES)
            GTEST_SKIP() << "byte-range locks do not stop reads here, and there is no sysfs";
        UseFolder(sysfs);
        ExpectLoad(L"online", L"Could not read file");
        return;
    }
    UseFolder(folder);
    ExpectLoad(L"locked.xml", L"Could not read file");
    UnlockFile(file, 100, 0, 50, 0);
    ExpectLoad(L"locked.xml", nullptr);
    CloseHandle(file);
    DeleteFileW((folder + L"locked.xml").c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST_F(SkinXmlFiles, FromTheArchive) {
    for (bool cached : {true, false}) {
        UseArchive(L"skin.zip", cached, Password().c_str());
        for (const auto& load : kLoads) ExpectLoad(load.name, load.fromArchive);
        ExpectLoad(L"LAYOUTS\\NESTED\\CHILD.XML", nullptr);
        ExpectLoad(L"stored/dialog.xml", nullptr);
        UseArchive(L"skin.zip", cached, L"wrong password");
        ExpectLoad(L"layouts/main.xml", L"Could not unzip file");
        UseArchive(L"no-such-archive.zip", cached, Password().c_str());
        ExpectLoad(L"layouts/main.xml", L"Error opening zip file");
    }
    UseResourceArchive(Password().c_str());
    ExpectLoad(L"layouts/main.xml", nullptr);
    ExpectLoad(L"missing.xml", L"Could not find ziped file");
}
