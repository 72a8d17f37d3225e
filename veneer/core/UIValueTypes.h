#pragma once
// The UI library's small value types: a UTF-16 string with a large inline
// buffer, a growable pointer array, a chained string-keyed hash map and a
// rectangle. None of them owns what its pointers point to.
#include <windows.h>

namespace Veneer {

class CUIString {
public:
    enum { kInlineChars = 260 };

    CUIString();
    CUIString(const wchar_t* text, int length = -1);
    CUIString(const CUIString& other);
    CUIString(wchar_t ch);
    ~CUIString();

    void Assign(const wchar_t* text, int length = -1);
    void Empty();
    void Append(const wchar_t* text);
    void AppendChar(wchar_t ch);

    CUIString& operator=(const wchar_t* text);
    CUIString& operator=(const CUIString& other);
    CUIString& operator+=(const wchar_t* text);
    CUIString& operator+=(const CUIString& other);
    CUIString& operator+=(wchar_t ch);
    CUIString operator+(const CUIString& other) const;
    CUIString operator+(const wchar_t* text) const;

    bool operator==(const wchar_t* text) const;
    bool operator!=(const wchar_t* text) const { return !(*this == text); }
    bool operator==(const CUIString& other) const { return *this == other.GetData(); }
    bool operator!=(const CUIString& other) const { return !(*this == other.GetData()); }
    int Compare(const wchar_t* text) const;
    int CompareNoCase(const wchar_t* text) const;

    int GetLength() const;
    bool IsEmpty() const { return m_text[0] == L'\0'; }
    const wchar_t* GetData() const { return m_text; }
    operator const wchar_t*() const { return m_text; }
    wchar_t GetAt(int index) const { return m_text[index]; }
    wchar_t operator[](int index) const { return m_text[index]; }

    CUIString Left(int count) const;
    CUIString Mid(int position, int length = -1) const;
    CUIString Right(int count) const;
    int FindChar(wchar_t ch, int start = 0) const;
    int Find(const wchar_t* text, int start = 0) const;
    int Replace(const wchar_t* from, const wchar_t* to);

    int Format(const wchar_t* format, ...);
    int FormatV(const wchar_t* format, va_list args);
    int FormatShort(const wchar_t* format, ...);

    // True while the text lives in the inline buffer (tests look at it).
    bool IsInline() const { return m_text == m_inline; }

private:
    bool OwnsPointer(const wchar_t* p) const;

    wchar_t* m_text;
    wchar_t m_inline[kInlineChars];
};

// Case-insensitive comparison of the letters A-Z with a-z; every other
// character compares by value. Zero when equal.
int CompareTextNoCase(const wchar_t* a, const wchar_t* b);

class CPointerArray {
public:
    CPointerArray();
    CPointerArray(const CPointerArray& other);
    CPointerArray& operator=(const CPointerArray& other);
    ~CPointerArray();

    void Empty();
    bool Resize(int count);
    bool Add(void* item);
    bool InsertAt(int index, void* item);
    bool SetAt(int index, void* item);
    bool RemoveAt(int index);
    int Find(void* item) const;
    void* GetAt(int index) const;
    void* operator[](int index) const { return GetAt(index); }
    int GetSize() const { return m_count; }
    int GetCapacity() const { return m_capacity; }
    bool IsEmpty() const { return m_count == 0; }
    void** GetData() const { return m_items; }

private:
    bool Grow();

    void** m_items;
    int m_count;
    int m_capacity;
};

unsigned int HashUIKey(const wchar_t* key);

class CStringKeyMap {
public:
    enum { kDefaultBuckets = 83 };

    explicit CStringKeyMap(int buckets = kDefaultBuckets);
    ~CStringKeyMap();
    CStringKeyMap(const CStringKeyMap&) = delete;
    CStringKeyMap& operator=(const CStringKeyMap&) = delete;

    bool Resize(int buckets);
    void* Find(const wchar_t* key, bool moveToFront = true) const;
    bool Insert(const wchar_t* key, void* value);
    void* Set(const wchar_t* key, void* value);
    bool Remove(const wchar_t* key);
    const wchar_t* GetKeyAt(int index) const;
    int GetSize() const { return m_count; }
    int GetBucketCount() const { return m_bucketCount; }

private:
    struct Entry {
        CUIString key;
        void* value;
        Entry* prev;
        Entry* next;
    };
    void FreeEntries();
    Entry* Lookup(const wchar_t* key, bool moveToFront) const;

    Entry** m_buckets;
    int m_bucketCount;
    int m_count;
};

class CUIRect : public RECT {
public:
    CUIRect() { left = top = right = bottom = 0; }
    CUIRect(const RECT& r) { left = r.left; top = r.top; right = r.right; bottom = r.bottom; }
    CUIRect(LONG l, LONG t, LONG r, LONG b) { left = l; top = t; right = r; bottom = b; }
    LONG GetWidth() const { return right - left; }
    LONG GetHeight() const { return bottom - top; }
    void Empty() { left = top = right = bottom = 0; }
    bool IsNull() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
    void Join(const RECT& other);
    bool operator==(const RECT& r) const {
        return left == r.left && top == r.top && right == r.right && bottom == r.bottom;
    }
};

}  // namespace Veneer
