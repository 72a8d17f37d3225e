// The UI library's value types: string storage, text operations, formatting,
// the pointer array and the string-keyed map.
#include <gtest/gtest.h>

#include <string>

#include "UIValueTypes.h"

using namespace Veneer;

namespace {
std::wstring Repeat(wchar_t c, int n) { return std::wstring(static_cast<size_t>(n), c); }
}  // namespace

TEST(UIString, StaysInlineBelow260CharactersAndReturnsThere) {
    CUIString s;
    EXPECT_TRUE(s.IsInline());
    EXPECT_TRUE(s.IsEmpty());
    s = Repeat(L'a', 259).c_str();
    EXPECT_TRUE(s.IsInline());
    s = Repeat(L'b', 260).c_str();
    EXPECT_FALSE(s.IsInline());
    EXPECT_EQ(260, s.GetLength());
    s = L"0123456789";
    EXPECT_TRUE(s.IsInline());
    EXPECT_EQ(std::wstring(L"0123456789"), s.GetData());
}

TEST(UIString, AppendMovesToTheHeapWithTheContentIntact) {
    CUIString s(Repeat(L'x', 259).c_str());
    s.AppendChar(L'y');
    EXPECT_FALSE(s.IsInline());
    EXPECT_EQ(Repeat(L'x', 259) + L"y", s.GetData());
    s.Append(Repeat(L'z', 300).c_str());
    EXPECT_EQ(Repeat(L'x', 259) + L"y" + Repeat(L'z', 300), s.GetData());
}

TEST(UIString, AShorterTextReusesTheHeapBlock) {
    CUIString s(Repeat(L'a', 400).c_str());
    const wchar_t* block = s.GetData();
    s = Repeat(L'b', 300).c_str();
    EXPECT_EQ(block, s.GetData());
    EXPECT_EQ(Repeat(L'b', 300), s.GetData());
}

TEST(UIString, AssignAndAppendOfItsOwnTextGiveTheRightText) {
    CUIString inlineText(L"hello world");
    inlineText.Assign(inlineText.GetData() + 6);
    EXPECT_EQ(std::wstring(L"world"), inlineText.GetData());

    // Heap to inline: the block the text lies in is given up on the way.
    const std::wstring long1 = Repeat(L'p', 290) + L"0123456789";
    CUIString heap(long1.c_str());
    heap.Assign(heap.GetData() + 290);
    EXPECT_EQ(std::wstring(L"0123456789"), heap.GetData());

    const std::wstring long2 = Repeat(L'q', 270) + L"tail";
    CUIString grow(long2.c_str());
    grow.Assign(grow.GetData() + 1, 500);   // longer than the text: zero-filled, heap regrown
    EXPECT_EQ(long2.substr(1), grow.GetData());

    CUIString twice(Repeat(L'r', 200).c_str());
    twice.Append(twice.GetData());
    EXPECT_EQ(Repeat(L'r', 400), twice.GetData());
    CUIString heapTwice(Repeat(L's', 300).c_str());
    heapTwice.Append(heapTwice.GetData() + 100);
    EXPECT_EQ(Repeat(L's', 500), heapTwice.GetData());
}

TEST(UIString, LeftMidRightFindOnABC) {
    const CUIString abc(L"abc");
    struct Case {
        CUIString result;
        const wchar_t* expected;
    } cases[] = {
        {abc.Left(-3), L""},      {abc.Left(1000), L"abc"}, {abc.Left(2), L"ab"},
        {abc.Mid(1, -1), L"bc"},  {abc.Mid(2, 5), L"c"},    {abc.Mid(3, -1), L""},
        {abc.Mid(7, 1), L""},     {abc.Mid(-2, 2), L"ab"},  {abc.Right(1), L"c"},
        {abc.Right(9), L"abc"},   {CUIString().Right(1), L""},
    };
    for (const Case& c : cases) EXPECT_EQ(std::wstring(c.expected), c.result.GetData());
    EXPECT_EQ(-1, abc.Find(L"b", 4));
    EXPECT_EQ(-1, abc.Find(L"b", -1));
    EXPECT_EQ(-1, abc.Find(L"c", 3));
    EXPECT_EQ(2, abc.Find(L"c", 2));
    EXPECT_EQ(1, abc.Find(L"bc"));
    EXPECT_EQ(1, abc.FindChar(L'b'));
    EXPECT_EQ(-1, abc.FindChar(L'x'));
}

TEST(UIString, ReplaceNeverSearchesInsertedText) {
    struct Case {
        const wchar_t *text, *from, *to, *expected;
        int count;
    } cases[] = {
        {L"aaa", L"a", L"aa", L"aaaaaa", 3},
        {L"axbx", L"x", L"", L"ab", 2},
        {L"abc", L"q", L"z", L"abc", 0},
        {L"a.b.png", L".", L"@150.", L"a@150.b@150.png", 2},
    };
    for (const Case& c : cases) {
        CUIString s(c.text);
        EXPECT_EQ(c.count, s.Replace(c.from, c.to)) << c.text;
        EXPECT_EQ(std::wstring(c.expected), s.GetData()) << c.text;
    }
}

TEST(UIString, ComparisonsAndConcatenation) {
    const CUIString s(L"Abc");
    EXPECT_FALSE(s == L"abc");
    EXPECT_TRUE(s == L"Abc");
    EXPECT_EQ(0, s.CompareNoCase(L"aBC"));
    EXPECT_NE(0, s.CompareNoCase(L"abd"));
    EXPECT_NE(0, CUIString(L"\u00C4").CompareNoCase(L"\u00E4"));   // only A-Z fold
    EXPECT_EQ(std::wstring(L"Abcdef"), (s + CUIString(L"def")).GetData());
}

TEST(UIString, FormatKeepsTheWideRules) {
    CUIString s;
    EXPECT_EQ(9, s.Format(L"%s|%d|%.2f", L"ab", 7, 1.5));
    EXPECT_EQ(std::wstring(L"ab|7|1.50"), s.GetData());
    const std::wstring big = Repeat(L'w', 1000);
    EXPECT_EQ(1002, s.Format(L"<%s>", big.c_str()));
    EXPECT_EQ(L"<" + big + L">", s.GetData());
    EXPECT_EQ(-1, s.Format(nullptr));
    EXPECT_TRUE(s.IsEmpty());
}

TEST(UIString, FormatShortKeepsAtMost63Characters) {
    CUIString s;
    EXPECT_EQ(16, s.FormatShort(L"dest='%d,%d,%d,%d'", 1, 2, 30, 40));
    EXPECT_EQ(std::wstring(L"dest='1,2,30,40'"), std::wstring(s.GetData()).substr(0, 16));
    EXPECT_EQ(std::wstring(L"dest='1,2,30,40'"), s.GetData());
    // wvsprintfW writes up to 1,024 characters whatever the buffer.
    struct Guarded {
        CUIString text;
        wchar_t guard[64];
    } guarded;
    wmemset(guarded.guard, L'G', 64);
    const std::wstring big = Repeat(L'k', 2000);
    guarded.text.FormatShort(L"%s", big.c_str());
    EXPECT_EQ(Repeat(L'k', 63), guarded.text.GetData());
    EXPECT_EQ(Repeat(L'G', 64), std::wstring(guarded.guard, 64));
}

TEST(UIString, HashTakesTheLastCharacterFirst) {
    EXPECT_EQ(3331u, HashUIKey(L"ab"));
    EXPECT_EQ(0u, HashUIKey(L""));
}

TEST(PointerArray, GrowsByDoublingFrom11) {
    CPointerArray a;
    EXPECT_EQ(0, a.GetCapacity());
    int items[40];
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(a.Add(&items[i]));
    EXPECT_EQ(11, a.GetCapacity());
    a.Add(&items[10]);
    EXPECT_EQ(22, a.GetCapacity());
    EXPECT_EQ(11, a.GetSize());
    EXPECT_EQ(&items[3], a.GetAt(3));
    EXPECT_EQ(nullptr, a.GetAt(11));
    EXPECT_EQ(nullptr, a.GetAt(-1));
    EXPECT_EQ(4, a.Find(&items[4]));
    EXPECT_EQ(-1, a.Find(&items[30]));
}

TEST(PointerArray, IndexRules) {
    CPointerArray a;
    int x = 0, y = 0, z = 0;
    a.Add(&x);
    a.Add(&y);
    EXPECT_TRUE(a.InsertAt(2, &z));   // at count: appends
    EXPECT_EQ(&z, a.GetAt(2));
    EXPECT_FALSE(a.InsertAt(4, &z));  // beyond count
    EXPECT_FALSE(a.InsertAt(-1, &z));
    EXPECT_TRUE(a.InsertAt(0, &z));
    EXPECT_EQ(&z, a.GetAt(0));
    EXPECT_EQ(&x, a.GetAt(1));
    EXPECT_FALSE(a.RemoveAt(a.GetSize()));
    EXPECT_FALSE(a.RemoveAt(-1));
    EXPECT_TRUE(a.RemoveAt(0));
    EXPECT_EQ(&x, a.GetAt(0));
    EXPECT_FALSE(a.SetAt(3, &x));
    EXPECT_TRUE(a.SetAt(2, &x));
    EXPECT_EQ(3, a.GetSize());
    EXPECT_TRUE(a.Resize(5));
    EXPECT_EQ(5, a.GetSize());
    EXPECT_EQ(nullptr, a.GetAt(4));
    a.Empty();
    EXPECT_TRUE(a.IsEmpty());
    EXPECT_EQ(0, a.GetCapacity());
}

TEST(PointerArray, CopiesAreIndependent) {
    int x = 0, y = 0;
    CPointerArray a;
    a.Add(&x);
    CPointerArray copy(a);
    CPointerArray assigned;
    assigned.Add(&y);
    assigned = a;
    a.Add(&y);
    EXPECT_EQ(1, copy.GetSize());
    EXPECT_EQ(1, assigned.GetSize());
    EXPECT_EQ(&x, assigned.GetAt(0));
    assigned = assigned;
    EXPECT_EQ(&x, assigned.GetAt(0));
}

namespace {
// A key that falls into the same bucket of 83 as the given one.
std::wstring CollidingKey(const wchar_t* key) {
    for (int i = 0;; ++i) {
        std::wstring candidate = L"k" + std::to_wstring(i);
        if (candidate != key && HashUIKey(candidate.c_str()) % 83 == HashUIKey(key) % 83) return candidate;
    }
}
}  // namespace

TEST(StringKeyMap, InsertSetFindRemove) {
    CStringKeyMap map;
    int one = 1, two = 2;
    EXPECT_TRUE(map.Insert(L"name", &one));
    EXPECT_FALSE(map.Insert(L"name", &two));
    EXPECT_EQ(&one, map.Find(L"name"));
    EXPECT_EQ(nullptr, map.Find(L"Name"));   // keys are case-sensitive
    EXPECT_EQ(&one, map.Set(L"name", &two));
    EXPECT_EQ(&two, map.Find(L"name"));
    EXPECT_EQ(nullptr, map.Set(L"other", &one));
    EXPECT_EQ(2, map.GetSize());
    EXPECT_TRUE(map.Remove(L"name"));
    EXPECT_FALSE(map.Remove(L"name"));
    EXPECT_EQ(1, map.GetSize());
    map.Resize(83);
    EXPECT_EQ(0, map.GetSize());
    EXPECT_EQ(nullptr, map.Find(L"other"));
}

TEST(StringKeyMap, WithoutBucketsNothingIsStored) {
    CStringKeyMap map(0);
    int v = 0;
    EXPECT_EQ(&v, map.Set(L"a", &v));
    EXPECT_FALSE(map.Insert(L"a", &v));
    EXPECT_EQ(nullptr, map.Find(L"a"));
    EXPECT_FALSE(map.Remove(L"a"));
    EXPECT_EQ(nullptr, map.GetKeyAt(0));
    EXPECT_EQ(0, map.GetSize());
}

TEST(StringKeyMap, LookUpMovesTheEntryToTheFrontOfItsBucket) {
    CStringKeyMap map;
    int a = 0, b = 0;
    const std::wstring second = CollidingKey(L"first");
    map.Insert(L"first", &a);
    map.Insert(second.c_str(), &b);   // now the head of the bucket
    EXPECT_EQ(second, map.GetKeyAt(0));
    EXPECT_EQ(std::wstring(L"first"), map.GetKeyAt(1));
    EXPECT_EQ(&a, map.Find(L"first", false));   // no move
    EXPECT_EQ(second, map.GetKeyAt(0));
    EXPECT_EQ(&a, map.Find(L"first"));
    EXPECT_EQ(std::wstring(L"first"), map.GetKeyAt(0));
    EXPECT_EQ(second, map.GetKeyAt(1));
    EXPECT_EQ(nullptr, map.GetKeyAt(2));
    EXPECT_EQ(nullptr, map.GetKeyAt(-1));
}

TEST(UIRect, JoinAndSize) {
    CUIRect r(0, 0, 10, 10);
    r.Join(CUIRect(5, -5, 20, 8));
    EXPECT_TRUE(r == CUIRect(0, -5, 20, 10));
    EXPECT_EQ(20, r.GetWidth());
    EXPECT_EQ(15, r.GetHeight());
}
