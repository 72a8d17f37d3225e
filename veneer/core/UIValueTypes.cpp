#include "UIValueTypes.h"

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <new>

namespace Veneer {

// ------------------------------------------------------------------ CUIString

CUIString::CUIString() : m_text(m_inline) { m_inline[0] = L'\0'; }

CUIString::CUIString(const wchar_t* text, int length) : m_text(m_inline) {
    m_inline[0] = L'\0';
    Assign(text, length);
}

CUIString::CUIString(const CUIString& other) : m_text(m_inline) {
    m_inline[0] = L'\0';
    Assign(other.m_text, other.GetLength());
}

CUIString::CUIString(wchar_t ch) : m_text(m_inline) {
    m_inline[0] = ch;
    m_inline[1] = L'\0';
}

CUIString::~CUIString() {
    if (m_text != m_inline) free(m_text);
}

bool CUIString::OwnsPointer(const wchar_t* p) const {
    const uintptr_t q = reinterpret_cast<uintptr_t>(p);
    const uintptr_t in = reinterpret_cast<uintptr_t>(m_inline);
    if (q >= in && q < in + sizeof(m_inline)) return true;
    if (m_text == m_inline) return false;
    const uintptr_t heap = reinterpret_cast<uintptr_t>(m_text);
    return q >= heap && q <= heap + sizeof(wchar_t) * wcslen(m_text);
}

void CUIString::Assign(const wchar_t* text, int length) {
    if (!text) text = L"";
    if (length < 0) length = static_cast<int>(wcslen(text));
    if (OwnsPointer(text)) {
        // A text out of our own buffer: take a copy first, since the buffer
        // may be freed or moved below.
        CUIString copy(text, length);
        if (copy.IsInline() && length >= kInlineChars) return;   // no memory for the copy
        Assign(copy.m_text, length);
        return;
    }
    if (length < kInlineChars) {
        if (m_text != m_inline) {
            free(m_text);
            m_text = m_inline;
        }
    } else if (m_text == m_inline || static_cast<int>(wcslen(m_text)) < length) {
        void* block = m_text == m_inline
            ? malloc(sizeof(wchar_t) * (length + 1))
            : realloc(m_text, sizeof(wchar_t) * (length + 1));
        if (!block) return;   // the string stays as it was
        m_text = static_cast<wchar_t*>(block);
    }
    wcsncpy(m_text, text, length);
    m_text[length] = L'\0';
}

void CUIString::Empty() {
    if (m_text != m_inline) free(m_text);
    m_text = m_inline;
    m_inline[0] = L'\0';
}

void CUIString::Append(const wchar_t* text) {
    if (!text || !*text) return;
    if (OwnsPointer(text)) {
        CUIString copy(text);
        if (copy.IsInline() && wcslen(text) >= kInlineChars) return;
        Append(copy.m_text);
        return;
    }
    const int current = GetLength();
    const int added = static_cast<int>(wcslen(text));
    const int total = current + added;
    if (total >= kInlineChars) {
        if (m_text == m_inline) {
            wchar_t* block = static_cast<wchar_t*>(malloc(sizeof(wchar_t) * (total + 1)));
            if (!block) return;
            wcscpy(block, m_inline);
            m_text = block;
        } else {
            void* block = realloc(m_text, sizeof(wchar_t) * (total + 1));
            if (!block) return;
            m_text = static_cast<wchar_t*>(block);
        }
    }
    wcscpy(m_text + current, text);
}

void CUIString::AppendChar(wchar_t ch) {
    wchar_t text[2] = {ch, L'\0'};
    Append(text);
}

CUIString& CUIString::operator=(const wchar_t* text) {
    Assign(text, -1);
    return *this;
}

CUIString& CUIString::operator=(const CUIString& other) {
    if (this != &other) Assign(other.m_text, other.GetLength());
    return *this;
}

CUIString& CUIString::operator+=(const wchar_t* text) {
    Append(text);
    return *this;
}

CUIString& CUIString::operator+=(const CUIString& other) {
    Append(other.m_text);
    return *this;
}

CUIString& CUIString::operator+=(wchar_t ch) {
    AppendChar(ch);
    return *this;
}

CUIString CUIString::operator+(const CUIString& other) const {
    CUIString result(*this);
    result.Append(other.m_text);
    return result;
}

CUIString CUIString::operator+(const wchar_t* text) const {
    CUIString result(*this);
    result.Append(text);
    return result;
}

bool CUIString::operator==(const wchar_t* text) const {
    return wcscmp(m_text, text ? text : L"") == 0;
}

int CUIString::Compare(const wchar_t* text) const { return wcscmp(m_text, text ? text : L""); }

int CompareTextNoCase(const wchar_t* a, const wchar_t* b) {
    if (!a) a = L"";
    if (!b) b = L"";
    for (;; ++a, ++b) {
        wchar_t x = *a, y = *b;
        if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x + 32);
        if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y + 32);
        if (x != y) return x < y ? -1 : 1;
        if (!x) return 0;
    }
}

int CUIString::CompareNoCase(const wchar_t* text) const { return CompareTextNoCase(m_text, text); }

int CUIString::GetLength() const { return static_cast<int>(wcslen(m_text)); }

CUIString CUIString::Left(int count) const {
    const int length = GetLength();
    if (count < 0) count = 0;
    if (count > length) count = length;
    return CUIString(m_text, count);
}

CUIString CUIString::Mid(int position, int length) const {
    const int total = GetLength();
    if (position < 0) position = 0;
    if (position > total) position = total;
    if (length < 0 || position + length > total) length = total - position;
    if (length <= 0) return CUIString();
    return CUIString(m_text + position, length);
}

CUIString CUIString::Right(int count) const {
    const int length = GetLength();
    if (count < 0) count = 0;
    if (count > length) count = length;
    return CUIString(m_text + length - count, count);
}

int CUIString::FindChar(wchar_t ch, int start) const {
    const int length = GetLength();
    if (start < 0 || start > length) return -1;
    const wchar_t* p = wcschr(m_text + start, ch);
    return p && *p ? static_cast<int>(p - m_text) : -1;
}

int CUIString::Find(const wchar_t* text, int start) const {
    if (!text || start < 0 || start > GetLength()) return -1;
    const wchar_t* p = wcsstr(m_text + start, text);
    return p ? static_cast<int>(p - m_text) : -1;
}

int CUIString::Replace(const wchar_t* from, const wchar_t* to) {
    if (!from || !*from) return 0;
    if (!to) to = L"";
    const int fromLength = static_cast<int>(wcslen(from));
    const int toLength = static_cast<int>(wcslen(to));
    int count = 0;
    int position = Find(from, 0);
    while (position >= 0) {
        CUIString replaced = Left(position);
        replaced.Append(to);
        replaced.Append(Mid(position + fromLength).GetData());
        Assign(replaced.GetData(), replaced.GetLength());
        ++count;
        position = Find(from, position + toLength);
    }
    return count;
}

namespace {
// Microsoft's formatting rules ("%s" is a wide text in wide functions), which
// mingw's C99 printf does not keep: the C runtime's own functions.
typedef int(__cdecl* MeasureFn)(const wchar_t*, va_list);
typedef int(__cdecl* FormatFn)(wchar_t*, size_t, const wchar_t*, va_list);

struct MsvcrtFormat {
    MeasureFn measure = nullptr;
    FormatFn format = nullptr;
    MsvcrtFormat() {
        HMODULE crt = LoadLibraryW(L"msvcrt.dll");
        if (!crt) return;
        measure = reinterpret_cast<MeasureFn>(reinterpret_cast<void*>(GetProcAddress(crt, "_vscwprintf")));
        format = reinterpret_cast<FormatFn>(reinterpret_cast<void*>(GetProcAddress(crt, "_vsnwprintf")));
    }
};

const MsvcrtFormat& Crt() {
    static MsvcrtFormat crt;
    return crt;
}
}  // namespace

int CUIString::FormatV(const wchar_t* format, va_list args) {
    const MsvcrtFormat& crt = Crt();
    int measured = -1;
    if (format && crt.measure && crt.format) {
        va_list copy;
        va_copy(copy, args);
        measured = crt.measure(format, copy);
        va_end(copy);
    }
    if (measured < 0) {
        Empty();
        return -1;
    }
    wchar_t* work = static_cast<wchar_t*>(calloc(measured + 1, sizeof(wchar_t)));
    if (!work) return -1;
    crt.format(work, measured + 1, format, args);
    work[measured] = L'\0';
    Assign(work, measured);
    free(work);
    return measured;
}

int CUIString::Format(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const int result = FormatV(format, args);
    va_end(args);
    return result;
}

int CUIString::FormatShort(const wchar_t* format, ...) {
    // wvsprintfW writes up to 1,024 characters and a terminator whatever the
    // buffer: format into room for that, keep at most 63 characters.
    wchar_t work[1025];
    work[0] = L'\0';
    va_list args;
    va_start(args, format);
    const int result = wvsprintfW(work, format ? format : L"", args);
    va_end(args);
    work[1024] = L'\0';
    int length = static_cast<int>(wcslen(work));
    if (length > 63) length = 63;
    Assign(work, length);
    return result;
}

// ------------------------------------------------------------------ CPointerArray

CPointerArray::CPointerArray() : m_items(nullptr), m_count(0), m_capacity(0) {}

CPointerArray::CPointerArray(const CPointerArray& other) : m_items(nullptr), m_count(0), m_capacity(0) {
    for (int i = 0; i < other.m_count; ++i) Add(other.m_items[i]);
}

CPointerArray& CPointerArray::operator=(const CPointerArray& other) {
    if (this == &other) return *this;
    CPointerArray copy(other);
    if (copy.m_count != other.m_count) return *this;   // out of memory: unchanged
    void** items = m_items;
    m_items = copy.m_items;
    m_count = copy.m_count;
    m_capacity = copy.m_capacity;
    copy.m_items = items;
    return *this;
}

CPointerArray::~CPointerArray() { free(m_items); }

void CPointerArray::Empty() {
    free(m_items);
    m_items = nullptr;
    m_count = m_capacity = 0;
}

bool CPointerArray::Resize(int count) {
    if (count <= 0) {
        Empty();
        return true;
    }
    void** block = static_cast<void**>(calloc(count, sizeof(void*)));
    if (!block) return false;
    free(m_items);
    m_items = block;
    m_count = m_capacity = count;
    return true;
}

bool CPointerArray::Grow() {
    const int capacity = m_capacity == 0 ? 11 : m_capacity * 2;
    void* block = realloc(m_items, sizeof(void*) * capacity);
    if (!block) return false;
    m_items = static_cast<void**>(block);
    m_capacity = capacity;
    return true;
}

bool CPointerArray::Add(void* item) {
    if (m_count + 1 >= m_capacity && !Grow()) return false;
    m_items[m_count++] = item;
    return true;
}

bool CPointerArray::InsertAt(int index, void* item) {
    if (index == m_count) return Add(item);
    if (index < 0 || index > m_count) return false;
    if (m_count + 1 >= m_capacity && !Grow()) return false;
    memmove(&m_items[index + 1], &m_items[index], sizeof(void*) * (m_count - index));
    m_items[index] = item;
    ++m_count;
    return true;
}

bool CPointerArray::SetAt(int index, void* item) {
    if (index < 0 || index >= m_count) return false;
    m_items[index] = item;
    return true;
}

bool CPointerArray::RemoveAt(int index) {
    if (index < 0 || index >= m_count) return false;
    if (index < m_count - 1)
        memmove(&m_items[index], &m_items[index + 1], sizeof(void*) * (m_count - index - 1));
    --m_count;
    return true;
}

int CPointerArray::Find(void* item) const {
    for (int i = 0; i < m_count; ++i)
        if (m_items[i] == item) return i;
    return -1;
}

void* CPointerArray::GetAt(int index) const {
    if (index < 0 || index >= m_count) return nullptr;
    return m_items[index];
}

// ------------------------------------------------------------------ CStringKeyMap

unsigned int HashUIKey(const wchar_t* key) {
    unsigned int h = 0;
    if (!key) return 0;
    for (size_t i = wcslen(key); i > 0; --i)
        h = h * 33u + static_cast<unsigned short>(key[i - 1]);
    return h;
}

CStringKeyMap::CStringKeyMap(int buckets) : m_buckets(nullptr), m_bucketCount(0), m_count(0) {
    if (buckets > 0) {
        m_buckets = static_cast<Entry**>(calloc(buckets, sizeof(Entry*)));
        if (m_buckets) m_bucketCount = buckets;
    }
}

CStringKeyMap::~CStringKeyMap() {
    FreeEntries();
    free(m_buckets);
}

void CStringKeyMap::FreeEntries() {
    for (int b = 0; b < m_bucketCount; ++b) {
        Entry* e = m_buckets[b];
        while (e) {
            Entry* next = e->next;
            delete e;
            e = next;
        }
        m_buckets[b] = nullptr;
    }
    m_count = 0;
}

bool CStringKeyMap::Resize(int buckets) {
    Entry** block = nullptr;
    if (buckets > 0) {
        block = static_cast<Entry**>(calloc(buckets, sizeof(Entry*)));
        if (!block) return false;   // the map stays as it was
    }
    FreeEntries();
    free(m_buckets);
    m_buckets = block;
    m_bucketCount = buckets > 0 ? buckets : 0;
    return true;
}

CStringKeyMap::Entry* CStringKeyMap::Lookup(const wchar_t* key, bool moveToFront) const {
    if (!m_buckets || m_count == 0 || !key) return nullptr;
    const unsigned int slot = HashUIKey(key) % static_cast<unsigned int>(m_bucketCount);
    for (Entry* e = m_buckets[slot]; e; e = e->next) {
        if (!(e->key == key)) continue;
        if (moveToFront && e->prev) {
            e->prev->next = e->next;
            if (e->next) e->next->prev = e->prev;
            e->prev = nullptr;
            e->next = m_buckets[slot];
            m_buckets[slot]->prev = e;
            m_buckets[slot] = e;
        }
        return e;
    }
    return nullptr;
}

void* CStringKeyMap::Find(const wchar_t* key, bool moveToFront) const {
    Entry* e = Lookup(key, moveToFront);
    return e ? e->value : nullptr;
}

bool CStringKeyMap::Insert(const wchar_t* key, void* value) {
    if (!m_buckets || !key) return false;
    if (Lookup(key, true)) return false;
    Entry* e = new (std::nothrow) Entry;
    if (!e) return false;
    e->key.Assign(key);
    if (!(e->key == key)) {   // the key copy could not get its memory
        delete e;
        return false;
    }
    const unsigned int slot = HashUIKey(key) % static_cast<unsigned int>(m_bucketCount);
    e->value = value;
    e->prev = nullptr;
    e->next = m_buckets[slot];
    if (e->next) e->next->prev = e;
    m_buckets[slot] = e;
    ++m_count;
    return true;
}

void* CStringKeyMap::Set(const wchar_t* key, void* value) {
    if (!m_buckets || !key) return value;
    if (Entry* e = Lookup(key, false)) {
        void* old = e->value;
        e->value = value;
        return old;
    }
    return Insert(key, value) ? nullptr : value;
}

bool CStringKeyMap::Remove(const wchar_t* key) {
    Entry* e = Lookup(key, false);
    if (!e) return false;
    const unsigned int slot = HashUIKey(key) % static_cast<unsigned int>(m_bucketCount);
    if (e->prev) e->prev->next = e->next;
    else m_buckets[slot] = e->next;
    if (e->next) e->next->prev = e->prev;
    delete e;
    --m_count;
    return true;
}

const wchar_t* CStringKeyMap::GetKeyAt(int index) const {
    if (!m_buckets || index < 0 || index >= m_count) return nullptr;
    int position = 0;
    for (int b = m_bucketCount - 1; b >= 0; --b)
        for (Entry* e = m_buckets[b]; e; e = e->next, ++position)
            if (position == index) return e->key.GetData();
    return nullptr;
}

// ------------------------------------------------------------------ CUIRect

void CUIRect::Join(const RECT& other) {
    if (other.left < left) left = other.left;
    if (other.top < top) top = other.top;
    if (other.right > right) right = other.right;
    if (other.bottom > bottom) bottom = other.bottom;
}

}  // namespace Veneer
